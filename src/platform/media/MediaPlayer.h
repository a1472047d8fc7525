#pragma once

#include "platform/foundation/Error.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/media/MpvCore.h"

#include <QList>
#include <QObject>
#include <QSizeF>
#include <QUrl>

#include <functional>
#include <optional>

namespace platform::media {

// The platform player and its current item in one main-thread object, on one engine core.
// Everything it answers comes from the core's cache, so no call waits on the engine.
class MediaPlayer : public QObject {
    Q_OBJECT
public:
    enum ItemStatus { StatusUnknown = 0, StatusReadyToPlay = 1, StatusFailed = 2 };
    enum TimeControlStatus { TimeControlPaused = 0, TimeControlWaitingToPlay = 1, TimeControlPlaying = 2 };

    struct AccessLogEvent {
        double observedBitrate = 0;
        double indicatedBitrate = 0;
        double transferDuration = -1;
        qint64 numberOfStalls = 0;
    };

    explicit MediaPlayer(QObject* parent = nullptr);
    ~MediaPlayer() override;

    // Replaces the item (an empty URL leaves the player without one). Pending seeks finish
    // unfinished; the rate carries over, so a playing player goes on playing the new item.
    void replaceCurrentItem(const QUrl& url);
    QUrl currentItemURL() const { return m_url; }
    bool hasItem() const { return !m_url.isEmpty(); }

    void play();
    void pause();
    // 0 while paused, while waiting for the cache and at the end; otherwise the rate asked for.
    double rate() const;
    // A positive rate plays at that rate, 0 pauses.
    void setRate(double rate);

    // Tolerances of this size or more on both sides take any position: the seek may land on a
    // key frame. Smaller ones are kept: the seek lands exactly.
    static constexpr double kAnyPositionTolerance = 1e6;
    void seek(double seconds, double toleranceBefore, double toleranceAfter);
    // The same, then `done(finished)` once, on the main thread, unless `owner` has gone by
    // then. A pending seek finishes (unfinished) as late as the player's own destruction, which
    // may come well after whoever asked for it.
    void seek(double seconds, double toleranceBefore, double toleranceAfter, QObject* owner, std::function<void(bool)> done);
    double currentTime() const;
    double duration() const;

    ItemStatus status() const;
    std::optional<platform::Error> error() const { return m_error; }
    QList<TimeRange> loadedTimeRanges() const;
    bool isPlaybackLikelyToKeepUp() const;
    bool isPlaybackBufferEmpty() const;
    TimeControlStatus timeControlStatus() const;
    // The picture's size; 0×0 for sound alone or before the item is known.
    QSizeF presentationSize() const;

    bool isMuted() const { return m_muted; }
    void setMuted(bool muted);
    double volume() const { return m_volume; }
    // 0…1, scaled by the system volume of the audio session.
    void setVolume(double volume);
    bool automaticallyWaitsToMinimizeStalling() const { return m_automaticWaiting; }
    void setAutomaticallyWaitsToMinimizeStalling(bool wait);
    double preferredForwardBufferDuration() const { return m_forwardBuffer; }
    void setPreferredForwardBufferDuration(double seconds);

    // Decoded pictures since the last item change or seek.
    int framesSinceLoadOrSeek() const { return m_core->framesSinceLoadOrSeek(); }
    std::optional<AccessLogEvent> lastAccessLogEvent() const { return m_accessLog; }
    MpvCore* core() const { return m_core; }

Q_SIGNALS:
    void statusChanged();
    void stateChanged();
    void didPlayToEnd();
    void failedToPlayToEnd(const platform::Error& error);
    void playbackStalled();
    void newAccessLogEntry();
    void frameRendered();

private:
    void onEndOfFile();
    void onLoadFailed(const platform::Error& error);
    void applyRate();
    void applyVolume();

    MpvCore* m_core;
    QUrl m_url;
    bool m_wantsPlay = false;
    bool m_ended = false;
    double m_rate = 1;
    bool m_muted = false;
    double m_volume = 1;
    bool m_automaticWaiting = true;
    double m_forwardBuffer = 0;
    qint64 m_stalls = 0;
    std::optional<platform::Error> m_error;
    std::optional<AccessLogEvent> m_accessLog;
    platform::ObserverToken m_systemVolume;
};

} // namespace platform::media
