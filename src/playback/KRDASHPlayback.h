#pragma once

#include "platform/foundation/RepeatingTimer.h"
#include "platform/media/MediaPlayer.h"
#include "platform/media/PlayerSurface.h"

#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <functional>

class KRPlaybackTransport;


// A DASH picture and sound played as one video. The transport plays the sound with its own
// picture suppressed (it stays the one movie player the screen observes); a muted player of
// this class draws the picture on the transport's picture host and is kept in step with it.
//
// The two start together only once both are ready and within 0.25 s of each other (the start
// gate); a seek or a buffering pause closes the gate again. While running, a tick every 0.2 s
// follows the transport's pause, play and rate, and seeks the picture back to the sound when
// they drift apart by more than 0.75 s while playing (0.25 s while paused), never twice within
// 0.55 s. The transport is not owned and may go first.
class KRDASHPlayback : public QObject {
    Q_OBJECT
public:
    static constexpr double kStartAlignment = 0.25;
    static constexpr double kPlayingDriftLimit = 0.75;
    static constexpr double kPausedDriftLimit = 0.25;
    static constexpr double kRealignSpacing = 0.55;
    static constexpr int kSyncIntervalMs = 200;

    KRDASHPlayback(KRPlaybackTransport* soundTransport, const QUrl& pictureURL, QObject* parent = nullptr);
    ~KRDASHPlayback() override;

    // Positions both at `time` and plays them together once the gate opens.
    void start(double time);
    // Opens the gate when both halves are ready and aligned; true when the pair started now.
    bool attemptStart();
    // Seeks both halves to `time` under a new seek generation (answered); a completion of an
    // older seek does nothing. With `resume` they play once aligned again, else they stay paused.
    quint64 beginDASHSeekToTime(double time, bool resume);
    // The user's pause and play: both halves at once. Play goes through the gate, unless the
    // pair runs: then it only starts a sound stopped from outside again.
    void pause();
    void play();
    // Pauses both while a half refills its buffer; they go on together once both can play.
    void pauseForBuffering(const QString& reason);
    // The pending seek will not resume the pair: its completion becomes stale, and nothing
    // plays until asked again.
    void invalidatePendingSeekResume(const QString& reason);
    // Stops both, removes the picture and gives the transport its own picture back. Harmless
    // when repeated; the destructor stops too.
    void stopDASHPlayback();
    // One keeping-in-step tick (the timer runs it every 0.2 s).
    void syncDASHPlayback();
    // Fits the picture to the transport's picture host.
    void layoutSurface();
    // Background listening: the sound goes on alone. The keeping-in-step stops, the picture
    // pauses and its surface lets go of it, so nothing restarts the picture meanwhile. Resuming
    // attaches the surface again and realigns the picture with the sound.
    void suspendSync();
    void resumeSync();
    bool isSyncSuspended() const { return m_syncSuspended; }

    bool isActive() const { return !m_stopped; }
    // Both halves are meant to be playing (the gate opened and nothing closed it since).
    bool isRunning() const { return m_running; }
    bool isWaitingToStart() const { return m_waitingToStart; }
    bool isRebuffering() const { return m_rebuffering; }
    // The sound is playable; the picture has a decoded frame at its position.
    bool isSoundReady() const { return soundReady(); }
    bool isPictureReady() const { return pictureReady(); }
    // A seek was asked and the pair has not come together since (the gate is closed for it).
    bool isSeekInFlight() const { return m_pictureSeeking || (m_waitingToStart && !m_rebuffering); }
    bool hasPictureFailed() const { return m_pictureFailed; }
    bool resumesWhenAligned() const { return m_resumeWhenAligned; }
    // Whether the pending seek plays both once they are aligned again.
    void setResumeWhenAligned(bool resume);
    // Where the seek that has not landed goes; -1 when none is pending.
    double pendingSeekTime() const { return isSeekInFlight() ? m_seekTarget : -1; }
    quint64 seekGeneration() const { return m_seekGeneration; }
    QUrl pictureURL() const { return m_pictureURL; }
    double pictureTime() const;
    // Sound time minus picture time.
    double drift() const;
    int realignCount() const { return m_realignCount; }
    platform::media::MediaPlayer* picturePlayer() const { return m_picture; }
    // The last frame the picture player drew, as the transport's own (null before any).
    QImage lastPictureFrame() const;
    platform::media::PlayerSurface* surface() const { return m_surface; }

Q_SIGNALS:
    // The gate opened: both halves play from here.
    void started();
    void bufferingPaused(const QString& reason);
    // The picture stream cannot be read or broke off; told once.
    void pictureFailed();

private:
    double now() const;
    double soundTime() const;
    bool soundReady() const;
    bool pictureReady() const;
    bool soundSettled() const;
    bool pictureStarved() const;
    void realignPicture(double time, const char* reason);
    void followTransport();
    void playBoth();
    void reportPictureFailure();

    QPointer<KRPlaybackTransport> m_transport;
    QUrl m_pictureURL;
    platform::media::MediaPlayer* m_picture = nullptr;
    QPointer<platform::media::PlayerSurface> m_surface;
    platform::RepeatingTimer m_syncTimer;
    quint64 m_seekGeneration = 0;
    double m_seekTarget = 0;
    double m_seekStartedAt = -1;
    double m_lastRealignAt = -1;
    int m_realignCount = 0;
    int m_starvedTicks = 0;
    bool m_pictureSeeking = false;
    bool m_waitingToStart = false;
    bool m_resumeWhenAligned = false;
    bool m_running = false;
    bool m_rebuffering = false;
    bool m_stopped = false;
    bool m_pictureFailed = false;
    bool m_syncSuspended = false;
};
