#pragma once

#include "platform/foundation/DelayedCall.h"

#include <QString>
#include <QVariant>

// The one owner of the application's audio session. Players ask it to make the session
// ready before they start sound and tell it when sound stopped; deactivation waits 0.3 s so
// that a pause followed quickly by a new start never lets the session drop. On the oldest
// systems it would bridge the session's older callbacks into today's notification names;
// our session answers neither of those interfaces, so nothing is installed, while the
// callbacks and posting operations remain for whoever calls them.
class KRPlaybackAudioSession {
public:
    static KRPlaybackAudioSession* sharedSession();

    // Success of both the category and the activation.
    bool activateForPlaybackWithReason(const QString& reason);
    void markPlaybackInactive();
    void reactivateIfNeededWithReason(const QString& reason);
    bool isPlaybackActive() const { return m_playbackActive; }
    bool isDeactivationPending() const { return m_delayed.isScheduled(QStringLiteral("deactivate")); }

    // The older session's delegate callbacks; each posts on the main thread.
    void beginInterruption();
    void endInterruption();
    void endInterruptionWithFlags(unsigned flags);
    // Post the bridged notifications (object: the platform's audio session). A missing
    // option or reason is posted as 0.
    void postLegacyInterruptionBegan();
    void postLegacyInterruptionEndedWithOptions(const QVariant& options);
    void postLegacyRouteChangeWithReason(const QVariant& reason);

    void resetForTesting();

private:
    KRPlaybackAudioSession() = default;
    void installLegacyInterruptionDelegateIfNeeded();
    void deactivateIfStillInactive();

    bool m_playbackActive = false;
    bool m_playbackCategoryConfigured = false;
    bool m_legacyInterruptionDelegateInstalled = false;
    bool m_legacyRouteChangeListenerInstalled = false;
    platform::DelayedCalls m_delayed;
};

// The route-change property listener of the older session: `clientData` is the session
// object, `data` a QVariantMap holding "OutputDeviceDidChange_Reason". May be called on any
// thread; it only hops to the main thread.
inline constexpr quint32 KRAudioSessionRouteChangePropertyID = 0x726f6368; // 'roch'
void KRLegacyAudioRouteChangeListener(void* clientData, quint32 propertyID, quint32 dataSize, const void* data);
