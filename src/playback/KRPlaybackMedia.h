#pragma once

#include <QObject>
#include <QSizeF>
#include <QString>
#include <QUrl>

#include <functional>

class KRDASHPlayback;
class KRPlaybackTransport;
class QWidget;

// What a playback session needs of a player: a progressive stream in the transport, or a DASH
// picture and sound pair. The session's policy reads only this, so it runs the same against
// the real players and against a scripted double on the manual clock.
class KRPlaybackMedia : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // A KRPlaybackState and KRLoadState bits, as the transport reports them.
    virtual int playbackState() const = 0;
    virtual unsigned loadState() const = 0;
    virtual double currentTime() const = 0;
    virtual double duration() const = 0;
    virtual QSizeF naturalSize() const { return {}; }
    // A DASH pair whose gate is closed (not yet started, or refilling) is not to be pushed.
    virtual bool isHeldByPairGate() const { return false; }
    // A pair holding both halves while one refills.
    virtual bool isRefilling() const { return false; }

    virtual void start(double time) = 0;
    virtual void play() = 0;
    virtual void pause() = 0;
    // After a buffering stall: a pair pauses both halves and goes on once both can play.
    virtual void pauseForBuffering(const QString&) {}
    // The sound became playable: a pair waiting at its gate tries to open it.
    virtual void soundBecamePlayable() {}
    // A pair waiting at its gate tries to open it now.
    virtual void attemptDASHPlaybackStart() {}
    // A pair's pending seek will not resume it (the life cycle paused it meanwhile).
    virtual void invalidatePendingDASHSeekResume(const QString&) {}
    virtual void seek(double time, bool resume) = 0;
    virtual void setRate(float rate) = 0;
    // Stops for good; the media is let go after this.
    virtual void stop() = 0;

    // ---- a quality switch ----
    // The address playing now (the sound's, for a pair), and a pair's picture address.
    virtual QUrl contentURL() const { return {}; }
    virtual QUrl pictureURL() const { return {}; }
    // A second, silent player of `url` made ready beside this one at `time`; `done` runs at
    // most once: (true, {}) ready, or (false, why). Cancelling drops it without a call.
    using StageCompletion = std::function<void(bool ready, const QString& error)>;
    virtual void stageContent(const QUrl&, double, float, StageCompletion done) { done(false, QStringLiteral("staging-unsupported")); }
    // The staged player becomes the one that plays; false when none is ready.
    virtual bool commitStagedContent(double) { return false; }
    virtual void cancelStagedContent() {}
    // A pair made ready off screen: positioned at `time`, both halves paused at the gate.
    virtual void prewarm(double time) { start(time); pause(); }
    // A pair's halves: the sound playable, a picture frame decoded, a seek not yet landed,
    // and both running.
    virtual bool isSoundReady() const { return loadState() & 1u; }
    virtual bool isPictureReady() const { return true; }
    virtual bool isSeekInFlight() const { return false; }
    virtual bool isPairRunning() const { return playbackState() == 1; }
    // Where a pair's seek that has not landed goes; -1 when none is pending.
    virtual double pendingSeekTime() const { return -1; }
    // Whether a pair's pending seek plays once it lands.
    virtual void setPendingSeekResume(bool) {}

    // ---- the application's life cycle ----
    // In the background the picture stops and the sound may go on: a progressive stream
    // suppresses its picture, a pair suspends its picture (its sound stays suppressed).
    virtual void setPictureSuspended(bool) {}
    // While suppressed, the sound's clock is made sure to run.
    virtual void reassertSound() {}

    // The real players behind it, when there are any (null for a double).
    virtual KRPlaybackTransport* transport() const { return nullptr; }
    virtual KRDASHPlayback* dash() const { return nullptr; }

Q_SIGNALS:
    void loadStateChanged();
    void playbackStateChanged();
    // The end: 0 natural, 1 a failure (of either half of a pair), as the transport's finish reason.
    void finished(int reason);
    // A pair's gate opened.
    void pairStarted();
    // A pair held both halves for a starved picture.
    void pictureStarved();
};
