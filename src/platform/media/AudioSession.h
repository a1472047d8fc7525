#pragma once

#include "platform/foundation/Error.h"

#include <QHash>
#include <QString>

#include <optional>

namespace platform::media {

// The application's audio session. On the desktop every call succeeds: the category is
// stored and activation is a flag; the system volume is ours to keep. The route change of a
// lost output device is posted when the players find it gone. Tests make a call fail, or post
// the interruption and route-change notifications the phone would.
class AudioSession {
public:
    static AudioSession& sharedInstance();

    static inline const QString CategoryAmbient = QStringLiteral("AVAudioSessionCategoryAmbient");
    static inline const QString CategoryPlayback = QStringLiteral("AVAudioSessionCategoryPlayback");

    QString category() const { return m_category; }
    bool setCategory(const QString& category, std::optional<platform::Error>* error = nullptr);
    // `notifyOthers` is the option to let other audio resume after a deactivation.
    bool setActive(bool active, bool notifyOthers = false, std::optional<platform::Error>* error = nullptr);
    bool isActive() const { return m_active; }

    // The older interfaces of the phone's session: neither exists here. A listener that
    // cannot be added reports the platform's "unsupported property" status.
    bool respondsToSetDelegate() const { return false; }
    qint32 addRouteChangeListener();
    static constexpr qint32 UnsupportedPropertyStatus = 0x7074793F; // 'pty?'

    // The output device the players wrote to went away (their engine found it gone and plays
    // on without it): posts the route change the phone posts when headphones are pulled.
    void outputDeviceBecameUnavailable();
    static constexpr unsigned RouteChangeReasonOldDeviceUnavailable = 2;

    // The system volume 0…1, which players follow.
    double outputVolume() const { return m_volume; }
    void setOutputVolume(double volume);

    // Makes the next call of that name ("setCategory", "setActive") fail with `error`.
    void failNextCallForTesting(const QString& call, const platform::Error& error);
    // Posts what the phone posts; object is this session.
    void postInterruptionForTesting(bool began, unsigned options = 0);
    // An end without an options entry, as some systems post it.
    void postInterruptionEndedWithoutOptionsForTesting();
    void postRouteChangeForTesting(unsigned reason);
    void resetForTesting();

private:
    AudioSession() = default;
    bool takeFailure(const QString& call, std::optional<platform::Error>* error);
    void postRouteChange(unsigned reason);

    QString m_category = CategoryAmbient;
    bool m_active = false;
    double m_volume = 1.0;
    QHash<QString, platform::Error> m_failures;
};

} // namespace platform::media
