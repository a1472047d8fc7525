#include "playback/KRDASHPlayback.h"

#include "playback/KRPlaybackTransport.h"
#include "platform/foundation/MainClock.h"
#include "platform/media/MediaPlayer.h"
#include "platform/media/MpvCore.h"
#include "platform/media/PlayerSurface.h"
#include "platform/uikit/View.h"
#include "store/KRDiagnostics.h"

#include <algorithm>
#include <cmath>

using platform::media::MediaPlayer;
using platform::media::PlayerSurface;

namespace {

double finiteOrZero(double value) { return std::isfinite(value) && value > 0 ? value : 0; }
QString yesNo(bool value) { return value ? QStringLiteral("YES") : QStringLiteral("NO"); }

// A sound seek that never lands near its target (past the end, say) still lets the gate open
// after this long, aligned to wherever the sound stands.
constexpr double kSoundSeekPatience = 1.0;
constexpr int kStarvedTicksBeforePause = 3;

} // namespace

KRDASHPlayback::KRDASHPlayback(KRPlaybackTransport* soundTransport, const QUrl& pictureURL, QObject* parent)
    : QObject(parent), m_transport(soundTransport), m_pictureURL(pictureURL)
{
    m_picture = new MediaPlayer(this);
    m_picture->setMuted(true);
    // The picture must not run ahead of its buffer: a starved picture pauses the pair instead.
    m_picture->setAutomaticallyWaitsToMinimizeStalling(true);
    m_picture->setPreferredForwardBufferDuration(pictureURL.isLocalFile() ? 0 : 2.0);
    m_picture->replaceCurrentItem(pictureURL);
    m_picture->pause();
    // A picture that cannot be read or breaks off takes the failure path a sound failure does.
    connect(m_picture, &MediaPlayer::statusChanged, this, [this] {
        if (m_picture && !m_stopped && m_picture->status() == MediaPlayer::StatusFailed)
            reportPictureFailure();
    });
    connect(m_picture, &MediaPlayer::failedToPlayToEnd, this, [this](const platform::Error&) {
        if (!m_stopped)
            reportPictureFailure();
    });
    if (m_transport) {
        m_transport->setVideoOutputSuppressed(true);
        if (auto* host = qobject_cast<platform::uikit::View*>(m_transport->videoLayerHost())) {
            m_surface = new PlayerSurface(host->bounds(), host);
            m_surface->setAutoresizingMask(platform::uikit::AutoresizingFlexibleWidth | platform::uikit::AutoresizingFlexibleHeight);
            m_surface->setUserInteractionEnabled(false);
            m_surface->setVideoGravity(m_transport->scalingMode() == 3   ? platform::media::VideoGravityResize
                                       : m_transport->scalingMode() == 2 ? platform::media::VideoGravityResizeAspectFill
                                                                         : platform::media::VideoGravityResizeAspect);
            m_surface->setPlayer(m_picture);
            m_surface->show();
        }
    }
    KRDiagnostics::recordEvent(QStringLiteral("dash-pair-created"),
                               QStringLiteral("local=%1 videoHost=%2 audioHost=%3")
                                   .arg(yesNo(pictureURL.isLocalFile()), pictureURL.host(),
                                        m_transport ? m_transport->contentURL().host() : QString()));
}

KRDASHPlayback::~KRDASHPlayback() { stopDASHPlayback(); }

QImage KRDASHPlayback::lastPictureFrame() const { return m_picture ? m_picture->core()->frameImage() : QImage(); }

double KRDASHPlayback::now() const
{
    // The main thread's one clock: a test's manual clock spaces the seeks as it does every delayed call.
    return platform::MainClock::now();
}

double KRDASHPlayback::soundTime() const { return m_transport ? finiteOrZero(m_transport->currentPlaybackTime()) : 0; }

double KRDASHPlayback::pictureTime() const { return m_picture ? finiteOrZero(m_picture->currentTime()) : 0; }

double KRDASHPlayback::drift() const { return soundTime() - pictureTime(); }

bool KRDASHPlayback::soundReady() const { return m_transport && (m_transport->loadState() & KRLoadStatePlayable); }

bool KRDASHPlayback::pictureReady() const
{
    return m_picture && m_picture->status() == MediaPlayer::StatusReadyToPlay && m_picture->framesSinceLoadOrSeek() > 0;
}

bool KRDASHPlayback::soundSettled() const
{
    return std::abs(soundTime() - m_seekTarget) <= kStartAlignment || now() - m_seekStartedAt > kSoundSeekPatience;
}

bool KRDASHPlayback::pictureStarved() const
{
    if (!m_picture || m_picture->status() != MediaPlayer::StatusReadyToPlay)
        return false;
    // The picture's end is not starvation: the sound may be a little longer.
    if (m_picture->duration() > 0 && pictureTime() >= m_picture->duration() - 0.5)
        return false;
    return m_picture->isPlaybackBufferEmpty() || m_picture->timeControlStatus() == MediaPlayer::TimeControlWaitingToPlay;
}

void KRDASHPlayback::start(double time)
{
    if (m_stopped || !m_transport)
        return;
    m_transport->setShouldAutoplay(false);
    m_transport->prepareToPlay();
    if (!m_syncSuspended)
        m_syncTimer.start(kSyncIntervalMs, [this] { syncDASHPlayback(); });
    beginDASHSeekToTime(time, true);
}

quint64 KRDASHPlayback::beginDASHSeekToTime(double time, bool resume)
{
    if (m_stopped || !m_transport)
        return m_seekGeneration;
    const quint64 generation = ++m_seekGeneration;
    const double target = finiteOrZero(time);
    m_running = false;
    m_waitingToStart = true;
    m_resumeWhenAligned = resume;
    m_seekTarget = target;
    m_seekStartedAt = now();
    m_transport->pause();
    m_picture->pause();
    m_transport->setCurrentPlaybackTime(target);
    KRDiagnostics::recordEvent(QStringLiteral("dash-seek"),
                               QStringLiteral("generation=%1 time=%2 resume=%3").arg(generation).arg(target, 0, 'f', 3).arg(yesNo(resume)));
    realignPicture(target, "seek");
    return generation;
}

void KRDASHPlayback::reportPictureFailure()
{
    if (m_pictureFailed)
        return;
    m_pictureFailed = true;
    KRDiagnostics::recordEvent(QStringLiteral("dash-picture-failed"), QStringLiteral("host=%1").arg(m_pictureURL.host()));
    Q_EMIT pictureFailed();
}

void KRDASHPlayback::realignPicture(double time, const char* reason)
{
    const quint64 generation = m_seekGeneration;
    m_pictureSeeking = true;
    m_lastRealignAt = now();
    ++m_realignCount;
    if (qstrcmp(reason, "seek") != 0)
        KRDiagnostics::recordEvent(QStringLiteral("dash-picture-realign"),
                                   QStringLiteral("reason=%1 sound=%2 picture=%3")
                                       .arg(QLatin1String(reason))
                                       .arg(soundTime(), 0, 'f', 3)
                                       .arg(pictureTime(), 0, 'f', 3));
    MediaPlayer* picture = m_picture;
    // Exact: a key-frame seek could land a second away and never come within the limits.
    m_picture->seek(time, 0, 0, this, [this, picture, generation](bool) {
        if (m_picture != picture || m_stopped || generation != m_seekGeneration)
            return;
        m_pictureSeeking = false;
        if (m_waitingToStart)
            attemptStart();
    });
}

bool KRDASHPlayback::attemptStart()
{
    if (m_stopped || !m_transport || !m_waitingToStart || m_pictureSeeking)
        return false;
    if (!soundReady() || !soundSettled() || !pictureReady())
        return false;
    const double sound = soundTime();
    const double offset = sound - pictureTime();
    if (std::abs(offset) > kStartAlignment) {
        realignPicture(sound, "start-gate");
        return false;
    }
    m_waitingToStart = false;
    m_rebuffering = false;
    KRDiagnostics::recordEvent(QStringLiteral("dash-start-gate"),
                               QStringLiteral("generation=%1 time=%2 drift=%3 resume=%4")
                                   .arg(m_seekGeneration)
                                   .arg(sound, 0, 'f', 3)
                                   .arg(offset, 0, 'f', 3)
                                   .arg(yesNo(m_resumeWhenAligned)));
    if (!m_resumeWhenAligned)
        return false;
    playBoth();
    QPointer<KRDASHPlayback> self(this);
    Q_EMIT started();
    return self != nullptr;
}

void KRDASHPlayback::playBoth()
{
    m_running = true;
    m_transport->play();
    // The sound alone while suspended: the picture follows once the sync resumes.
    if (m_syncSuspended)
        return;
    const float rate = m_transport->currentPlaybackRate();
    m_picture->setRate(rate > 0 ? rate : 1.0);
}

void KRDASHPlayback::pause()
{
    if (m_stopped)
        return;
    m_running = false;
    m_waitingToStart = false;
    m_resumeWhenAligned = false;
    m_rebuffering = false;
    if (m_transport)
        m_transport->pause();
    m_picture->pause();
}

void KRDASHPlayback::play()
{
    if (m_stopped || !m_transport)
        return;
    if (m_running) {
        // The pair still runs but its sound was stopped behind its back: the sound goes on
        // where it stands, and the picture, kept on it meanwhile, follows it as every tick does.
        if (m_transport->playbackState() != KRPlaybackStatePlaying) {
            m_transport->play();
            if (!m_syncSuspended)
                followTransport();
        }
        return;
    }
    if (m_waitingToStart) {
        m_resumeWhenAligned = true;
        attemptStart();
        return;
    }
    beginDASHSeekToTime(soundTime(), true);
}

void KRDASHPlayback::setResumeWhenAligned(bool resume)
{
    if (!m_stopped)
        m_resumeWhenAligned = resume;
}

void KRDASHPlayback::invalidatePendingSeekResume(const QString& reason)
{
    if (m_stopped)
        return;
    const bool inFlight = isSeekInFlight();
    ++m_seekGeneration;
    m_waitingToStart = false;
    m_resumeWhenAligned = false;
    KRDiagnostics::recordEvent(QStringLiteral("dash-seek-resume-invalidated"), QStringLiteral("reason=%1 inFlight=%2 generation=%3 target=%4")
                                                                                  .arg(reason, yesNo(inFlight))
                                                                                  .arg(m_seekGeneration)
                                                                                  .arg(m_seekTarget, 0, 'f', 3));
}

void KRDASHPlayback::pauseForBuffering(const QString& reason)
{
    if (m_stopped || !m_running)
        return;
    m_running = false;
    m_rebuffering = true;
    m_waitingToStart = true;
    m_resumeWhenAligned = true;
    // The gate waits for the sound to stand where it paused.
    m_seekTarget = soundTime();
    m_seekStartedAt = now();
    if (m_transport)
        m_transport->pause();
    m_picture->pause();
    KRDiagnostics::recordEvent(QStringLiteral("dash-buffering-pause"),
                               QStringLiteral("reason=%1 time=%2").arg(reason.isEmpty() ? QStringLiteral("unknown") : reason).arg(m_seekTarget, 0, 'f', 3));
    Q_EMIT bufferingPaused(reason);
}

void KRDASHPlayback::followTransport()
{
    const bool soundPlaying = m_transport->playbackState() == KRPlaybackStatePlaying && m_transport->currentPlaybackRate() > 0;
    if (soundPlaying) {
        const double rate = m_transport->currentPlaybackRate();
        if (std::abs(m_picture->rate() - rate) > 0.001 && !m_pictureSeeking)
            m_picture->setRate(rate);
    } else if (m_picture->rate() != 0) {
        m_picture->pause();
    }
}

void KRDASHPlayback::syncDASHPlayback()
{
    if (m_stopped || !m_transport || m_syncSuspended)
        return;
    if (m_waitingToStart) {
        attemptStart();
        return;
    }
    if (!m_running) {
        // Paused by the user: keep the still picture on the sound's position.
        if (!m_pictureSeeking && std::abs(drift()) > kPausedDriftLimit && now() - m_lastRealignAt > kRealignSpacing)
            realignPicture(soundTime(), "paused-drift");
        return;
    }
    // The transport stalls only while it is meant to play; a starved picture waits on its own.
    if (m_transport->loadState() & KRLoadStateStalled) {
        pauseForBuffering(QStringLiteral("audio-stalled"));
        return;
    }
    // A picture refills for a moment after every seek; only one starved on consecutive ticks
    // holds the sound.
    m_starvedTicks = pictureStarved() && !m_pictureSeeking ? m_starvedTicks + 1 : 0;
    if (m_starvedTicks >= kStarvedTicksBeforePause) {
        m_starvedTicks = 0;
        pauseForBuffering(QStringLiteral("video-buffering"));
        return;
    }
    followTransport();
    const bool playing = m_transport->playbackState() == KRPlaybackStatePlaying;
    const double limit = playing ? kPlayingDriftLimit : kPausedDriftLimit;
    if (!m_pictureSeeking && std::abs(drift()) > limit && now() - m_lastRealignAt > kRealignSpacing)
        realignPicture(soundTime(), playing ? "playing-drift" : "paused-drift");
}

void KRDASHPlayback::layoutSurface()
{
    if (!m_surface || !m_transport)
        return;
    if (auto* host = qobject_cast<platform::uikit::View*>(m_transport->videoLayerHost()))
        m_surface->setFrame(host->bounds());
}

void KRDASHPlayback::suspendSync()
{
    if (m_stopped || m_syncSuspended)
        return;
    m_syncSuspended = true;
    m_syncTimer.stop();
    m_picture->pause();
    if (m_surface)
        m_surface->setPlayer(nullptr);
    KRDiagnostics::recordEvent(QStringLiteral("dash-sync-suspended"), QStringLiteral("time=%1").arg(soundTime(), 0, 'f', 3));
}

void KRDASHPlayback::resumeSync()
{
    if (m_stopped || !m_syncSuspended)
        return;
    m_syncSuspended = false;
    if (m_surface)
        m_surface->setPlayer(m_picture);
    m_syncTimer.start(kSyncIntervalMs, [this] { syncDASHPlayback(); });
    KRDiagnostics::recordEvent(QStringLiteral("dash-sync-resumed"), QStringLiteral("time=%1").arg(soundTime(), 0, 'f', 3));
    // The sound went on alone: the picture catches up before it is shown moving again.
    if (m_running && !m_pictureSeeking)
        realignPicture(soundTime(), "resume-sync");
}

void KRDASHPlayback::stopDASHPlayback()
{
    if (m_stopped)
        return;
    m_stopped = true;
    m_running = false;
    m_waitingToStart = false;
    m_rebuffering = false;
    m_syncTimer.stop();
    ++m_seekGeneration;
    m_picture->pause();
    if (m_surface) {
        m_surface->setPlayer(nullptr);
        m_surface->hide();
        m_surface->setParent(nullptr);
        KRPlaybackTransportReleaseLater(m_surface);
    }
    // The player may be telling us something right now; it goes once the call returns.
    disconnect(m_picture, nullptr, this, nullptr);
    m_picture->setParent(nullptr);
    KRPlaybackTransportReleaseLater(m_picture);
    m_picture = nullptr;
    if (m_transport)
        m_transport->setVideoOutputSuppressed(false);
    KRDiagnostics::recordEvent(QStringLiteral("dash-pair-stopped"), QStringLiteral("generation=%1").arg(m_seekGeneration));
}
