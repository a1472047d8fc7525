#include "platform/media/MediaPlayer.h"

#include "platform/media/AudioSession.h"
#include "platform/media/MediaNotifications.h"
#include "platform/foundation/ReplyOwner.h"

#include <QPointer>

#include <cmath>

namespace platform::media {

MediaPlayer::MediaPlayer(QObject* parent) : QObject(parent), m_core(new MpvCore(this))
{
    connect(m_core, &MpvCore::stateChanged, this, &MediaPlayer::stateChanged);
    connect(m_core, &MpvCore::frameRendered, this, &MediaPlayer::frameRendered);
    connect(m_core, &MpvCore::fileLoaded, this, [this] {
        // The engine's figures of the transfer stand in for an access log entry of the item.
        QPointer<MediaPlayer> alive(this);
        if (!m_url.isLocalFile()) {
            const MpvState& state = m_core->state();
            m_accessLog = AccessLogEvent{state.rawInputRate * 8, state.videoBitrate + state.audioBitrate, -1, m_stalls};
            Q_EMIT newAccessLogEntry();
        }
        if (alive)
            Q_EMIT statusChanged();
    });
    connect(m_core, &MpvCore::endOfFile, this, &MediaPlayer::onEndOfFile);
    connect(m_core, &MpvCore::loadFailed, this, &MediaPlayer::onLoadFailed);
    connect(m_core, &MpvCore::cacheStallBegan, this, [this] {
        if (!m_wantsPlay || !m_automaticWaiting)
            return;
        ++m_stalls;
        Q_EMIT playbackStalled();
    });
    // Every player hears of a lost device; the session tells its observers, as the phone's does.
    connect(m_core, &MpvCore::audioOutputLost, this, [] { AudioSession::sharedInstance().outputDeviceBecameUnavailable(); });
    m_systemVolume = platform::NotificationCenter::defaultCenter().addObserver(
        AudioSessionOutputVolumeDidChangeNotification, nullptr, [this](const platform::Notification&) { applyVolume(); });
    if (AudioSession::sharedInstance().outputVolume() < 1.0)
        applyVolume();
}

MediaPlayer::~MediaPlayer() = default;

void MediaPlayer::replaceCurrentItem(const QUrl& url)
{
    m_url = url;
    m_error.reset();
    m_ended = false;
    m_accessLog.reset();
    m_stalls = 0;
    std::map<QString, QString> options;
    if (m_forwardBuffer > 0 && !url.isLocalFile())
        options[QStringLiteral("cache-secs")] = QString::number(m_forwardBuffer, 'f', 3);
    m_core->load(url.isEmpty() ? QString() : (url.isLocalFile() ? url.toLocalFile() : url.toString(QUrl::FullyEncoded)),
                 options);
    applyRate();
    Q_EMIT statusChanged();
}

void MediaPlayer::play()
{
    m_wantsPlay = true;
    m_ended = false;
    applyRate();
}

void MediaPlayer::pause()
{
    m_wantsPlay = false;
    applyRate();
}

double MediaPlayer::rate() const
{
    if (!m_wantsPlay || m_ended)
        return 0;
    const MpvState& state = m_core->state();
    if (state.pausedForCache || state.eofReached)
        return 0;
    return m_rate;
}

void MediaPlayer::setRate(double rate)
{
    if (!(rate > 0) || !std::isfinite(rate)) {
        pause();
        return;
    }
    m_rate = rate;
    m_wantsPlay = true;
    m_ended = false;
    applyRate();
}

void MediaPlayer::applyRate()
{
    // Asked every time, never skipped as already so: the core's copy follows the engine's
    // change events, which trail the requests, and a late event of an earlier request can make
    // the copy agree with this one while the engine is about to do the opposite.
    m_core->setDouble("speed", m_rate);
    m_core->setFlag("pause", !m_wantsPlay);
}

void MediaPlayer::seek(double seconds, double toleranceBefore, double toleranceAfter)
{
    seek(seconds, toleranceBefore, toleranceAfter, nullptr, {});
}

void MediaPlayer::seek(double seconds, double toleranceBefore, double toleranceAfter, QObject* owner, std::function<void(bool)> done)
{
    if (!std::isfinite(seconds))
        seconds = 0;
    m_ended = false;
    // A key frame may lie a whole group of pictures away: only a caller that takes any
    // position gets one. Any other must land within its tolerance, as a paused player's
    // alignment with another player relies on, so it seeks exactly.
    const bool exact = !(toleranceBefore >= kAnyPositionTolerance && toleranceAfter >= kAnyPositionTolerance);
    m_core->seek(std::max(seconds, 0.0), exact, done ? platform::ownedBy(owner, std::move(done)) : std::function<void(bool)>());
}

double MediaPlayer::currentTime() const
{
    const double time = m_core->state().timePos;
    return std::isfinite(time) && time > 0 ? time : 0;
}

double MediaPlayer::duration() const
{
    return m_core->state().fileLoaded ? m_core->state().duration : 0;
}

MediaPlayer::ItemStatus MediaPlayer::status() const
{
    if (m_error)
        return StatusFailed;
    return m_core->state().fileLoaded && hasItem() ? StatusReadyToPlay : StatusUnknown;
}

QList<TimeRange> MediaPlayer::loadedTimeRanges() const
{
    if (status() != StatusReadyToPlay)
        return {};
    const MpvState& state = m_core->state();
    // A local file is there from start to end, whatever the engine keeps in memory.
    if (m_url.isLocalFile() && state.duration > 0)
        return {TimeRange{0, state.duration}};
    return state.seekableRanges;
}

bool MediaPlayer::isPlaybackLikelyToKeepUp() const
{
    const MpvState& state = m_core->state();
    if (status() != StatusReadyToPlay || state.pausedForCache)
        return false;
    return state.cacheAtEnd || state.cacheDuration >= 2.0;
}

bool MediaPlayer::isPlaybackBufferEmpty() const
{
    const MpvState& state = m_core->state();
    if (status() != StatusReadyToPlay)
        return hasItem() && status() != StatusFailed;
    return state.cacheUnderrun || (state.pausedForCache && state.cacheDuration < 0.1);
}

MediaPlayer::TimeControlStatus MediaPlayer::timeControlStatus() const
{
    if (!m_wantsPlay || m_ended || status() == StatusFailed)
        return TimeControlPaused;
    const MpvState& state = m_core->state();
    if (state.pausedForCache || (hasItem() && !state.fileLoaded))
        return TimeControlWaitingToPlay;
    return TimeControlPlaying;
}

QSizeF MediaPlayer::presentationSize() const
{
    if (status() != StatusReadyToPlay)
        return QSizeF(0, 0);
    const MpvState& state = m_core->state();
    return QSizeF(double(std::max<qint64>(state.width, 0)), double(std::max<qint64>(state.height, 0)));
}

void MediaPlayer::setMuted(bool muted)
{
    m_muted = muted;
    m_core->setFlag("mute", muted);
}

void MediaPlayer::setVolume(double volume)
{
    m_volume = std::clamp(std::isfinite(volume) ? volume : 1.0, 0.0, 1.0);
    applyVolume();
}

void MediaPlayer::applyVolume()
{
    m_core->setDouble("volume", m_volume * AudioSession::sharedInstance().outputVolume() * 100);
}

void MediaPlayer::setAutomaticallyWaitsToMinimizeStalling(bool wait)
{
    m_automaticWaiting = wait;
    m_core->setFlag("cache-pause", wait);
}

void MediaPlayer::setPreferredForwardBufferDuration(double seconds)
{
    m_forwardBuffer = std::isfinite(seconds) ? std::max(seconds, 0.0) : 0;
    if (m_forwardBuffer > 0)
        m_core->setDouble("cache-secs", m_forwardBuffer);
}

void MediaPlayer::onEndOfFile()
{
    if (!m_wantsPlay && m_ended)
        return;
    m_ended = true;
    m_wantsPlay = false;
    applyRate();
    const MpvState& state = m_core->state();
    // A stream whose connection dropped reads as an early end; short of its length it failed.
    if (!m_url.isLocalFile() && state.duration > 0 && currentTime() < state.duration - 1.0) {
        onLoadFailed(platform::Error(QStringLiteral("MediaEngine"), -1,
                                     QStringLiteral("the stream ended before its end")));
        return;
    }
    QPointer<MediaPlayer> alive(this);
    Q_EMIT stateChanged();
    if (alive)
        Q_EMIT didPlayToEnd();
}

void MediaPlayer::onLoadFailed(const platform::Error& error)
{
    m_error = error;
    m_wantsPlay = false;
    QPointer<MediaPlayer> alive(this);
    const platform::Error reported = error; // `error` may live in the core a receiver destroys
    Q_EMIT statusChanged();
    if (alive)
        Q_EMIT failedToPlayToEnd(reported);
}

} // namespace platform::media
