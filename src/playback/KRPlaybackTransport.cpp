#include "playback/KRPlaybackTransport.h"

#include "playback/KRPlaybackTransportStaged.h"
#include "platform/device/DeviceProfile.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/media/MediaImageGenerator.h"
#include "platform/media/MediaNotifications.h"
#include "platform/media/MediaPlayer.h"
#include "platform/media/PlayerSurface.h"
#include "platform/uikit/View.h"
#include "store/KRDiagnostics.h"

#include <cmath>

using platform::media::MediaPlayer;
using platform::media::PlayerSurface;

namespace {

constexpr int FlexibleSize = platform::uikit::AutoresizingFlexibleWidth | platform::uikit::AutoresizingFlexibleHeight;

double finiteOrZero(double value)
{
    return std::isfinite(value) && value > 0 ? value : 0;
}

} // namespace

double KRPlaybackTransportBufferedAhead(const QList<platform::media::TimeRange>& ranges, double time)
{
    if (!std::isfinite(time) || time < 0)
        return 0;
    double end = time;
    for (bool changed = true; changed;) {
        changed = false;
        for (const platform::media::TimeRange& range : ranges) {
            const double start = finiteOrZero(range.start);
            const double duration = finiteOrZero(range.duration);
            if (duration > 0 && start <= end + 0.08 && start + duration > end) {
                end = start + duration;
                changed = true;
            }
        }
    }
    return std::max(end - time, 0.0);
}

void KRPlaybackTransportReleaseLater(QObject* object)
{
    platform::dispatchMain([object = QPointer<QObject>(object)] { delete object.data(); });
}

bool KRPlaybackTransport::usesAVPlayerBackendForCurrentSystem()
{
    return true;
}

bool KRPlaybackTransport::supportsStagedContentSwapForCurrentSystem()
{
    return usesAVPlayerBackendForCurrentSystem() && platform::DeviceProfile::systemMajorVersion() >= 13;
}

bool KRPlaybackTransport::supportsStagedContentSwap() const
{
    return supportsStagedContentSwapForCurrentSystem();
}

KRPlaybackTransport::KRPlaybackTransport(const QUrl& contentURL, QObject* parent) : QObject(parent), m_contentURL(contentURL)
{
    m_view = new platform::uikit::View();
    m_view->setBackgroundColor(QColor(Qt::black));
    m_backgroundView = new platform::uikit::View(QRectF(), m_view);
    m_backgroundView->setAutoresizingMask(FlexibleSize);
    m_backgroundView->setBackgroundColor(QColor(Qt::black));
    m_surfaceView = new platform::uikit::View(QRectF(), m_view);
    m_surfaceView->setAutoresizingMask(FlexibleSize);
    m_surfaceView->setBackgroundColor(QColor(Qt::black));
    m_surfaceView->setUserInteractionEnabled(false);

    m_player = new MediaPlayer(this);
    connectPlayer(m_player);
    m_surface = new PlayerSurface(QRectF(), m_surfaceView);
    m_surface->setAutoresizingMask(FlexibleSize);
    m_surface->setPlayer(m_player);
    setUpItem();
    startStateTimerIfNeeded();
    KRDiagnostics::recordEvent(QStringLiteral("playback-transport-created"),
                               QStringLiteral("backend=avplayer system=%1 local=%2 host=%3")
                                   .arg(platform::DeviceProfile::systemVersion(),
                                        contentURL.isLocalFile() ? QStringLiteral("YES") : QStringLiteral("NO"), host()));
}

KRPlaybackTransport::~KRPlaybackTransport()
{
    m_delayed.cancelAll();
    m_stateTimer.stop();
    cancelStagedContent();
    // The players may be in the middle of telling us something (an owner can destroy the
    // transport from inside a notification): they go when the event loop next runs.
    disconnect(m_player, nullptr, this, nullptr);
    m_player->pause();
    m_player->setParent(nullptr);
    KRPlaybackTransportReleaseLater(m_player);
    if (m_surface) {
        m_surface->setPlayer(nullptr);
        // Made after the owner's view tree went, it has no parent to go with.
        if (!m_surface->parent())
            KRPlaybackTransportReleaseLater(m_surface);
    }
    delete m_view.data();
}

QWidget* KRPlaybackTransport::view() const { return m_view; }
QWidget* KRPlaybackTransport::backgroundView() const { return m_backgroundView; }
QWidget* KRPlaybackTransport::videoLayerHost() const { return m_surfaceView; }

QImage KRPlaybackTransport::lastPictureFrame() const { return m_player ? m_player->core()->frameImage() : QImage(); }

QString KRPlaybackTransport::host() const
{
    return m_contentURL.host();
}

void KRPlaybackTransport::connectPlayer(MediaPlayer* player)
{
    connect(player, &MediaPlayer::didPlayToEnd, this, [this] {
        m_expectedToPlay = false;
        if (!postPlaybackStateIfChanged())
            return;
        postFinish(0, std::nullopt);
    });
    connect(player, &MediaPlayer::failedToPlayToEnd, this, [this](const platform::Error& error) {
        m_expectedToPlay = false;
        if (!postPlaybackStateIfChanged())
            return;
        postFinish(1, error);
    });
    connect(player, &MediaPlayer::playbackStalled, this, [this] {
        KRDiagnostics::recordEvent(QStringLiteral("player-stalled"),
                                   QStringLiteral("time=%1 buffer=%2 host=%3")
                                       .arg(currentPlaybackTime(), 0, 'f', 3)
                                       .arg(KRPlaybackTransportBufferedAhead(m_player->loadedTimeRanges(), currentPlaybackTime()), 0, 'f', 3)
                                       .arg(host()));
        postLoadStateIfChanged();
    });
    connect(player, &MediaPlayer::newAccessLogEntry, this, [this] {
        const auto entry = m_player->lastAccessLogEvent();
        if (!entry)
            return;
        KRDiagnostics::recordEvent(QStringLiteral("player-access-log"),
                                   QStringLiteral("observed=%1 indicated=%2 transfer=%3 stalls=%4 host=%5")
                                       .arg(entry->observedBitrate, 0, 'f', 0)
                                       .arg(entry->indicatedBitrate, 0, 'f', 0)
                                       .arg(entry->transferDuration, 0, 'f', 3)
                                       .arg(entry->numberOfStalls)
                                       .arg(host()));
    });
}

void KRPlaybackTransport::setUpItem()
{
    m_player->replaceCurrentItem(m_contentURL);
    m_player->setAutomaticallyWaitsToMinimizeStalling(true);
    m_player->setPreferredForwardBufferDuration(m_contentURL.isEmpty() || isFileURL() ? 0 : 8.0);
    m_finishPosted = false;
    m_lastPlaybackState = 0;
    m_lastLoadState = 0;
    m_lastReadyForDisplay = false;
    if (m_initialPlaybackTime > 0 && !m_contentURL.isEmpty())
        m_player->seek(m_initialPlaybackTime, 1e9, 1e9);
}

void KRPlaybackTransport::setContentURL(const QUrl& url)
{
    if (url == m_contentURL)
        return;
    cancelStagedContent();
    m_contentURL = url;
    setUpItem();
}

void KRPlaybackTransport::startStateTimerIfNeeded()
{
    if (m_stateTimer.isActive())
        return;
    const int interval = m_videoOutputSuppressed ? 1000 : platform::DeviceProfile::systemMajorVersion() < 7 ? 200 : 100;
    m_stateTimer.start(interval, [this] { poll(); });
}

void KRPlaybackTransport::restartStateTimer()
{
    m_stateTimer.stop();
    startStateTimerIfNeeded();
}

bool KRPlaybackTransport::post(const QString& name, const QVariantMap& userInfo)
{
    QPointer<KRPlaybackTransport> alive(this);
    platform::NotificationCenter::defaultCenter().post(name, this, userInfo);
    return !alive.isNull();
}

bool KRPlaybackTransport::postLoadStateIfChanged()
{
    const unsigned state = computedLoadState();
    if (state == m_lastLoadState)
        return true;
    m_lastLoadState = state;
    return post(platform::media::MoviePlayerLoadStateDidChangeNotification);
}

bool KRPlaybackTransport::postPlaybackStateIfChanged()
{
    const int state = computedPlaybackState();
    if (state == m_lastPlaybackState)
        return true;
    m_lastPlaybackState = state;
    return post(platform::media::MoviePlayerPlaybackStateDidChangeNotification);
}

bool KRPlaybackTransport::postFinish(int reason, const KROptionalError& error)
{
    if (m_finishPosted)
        return true;
    m_finishPosted = true;
    QVariantMap info{{platform::media::MoviePlayerPlaybackDidFinishReasonUserInfoKey, reason}};
    if (error)
        info.insert(platform::media::MoviePlayerPlaybackDidFinishErrorUserInfoKey, QVariant::fromValue(*error));
    return post(platform::media::MoviePlayerPlaybackDidFinishNotification, info);
}

void KRPlaybackTransport::poll()
{
    ++m_pollCount;
    QPointer<KRPlaybackTransport> alive(this);
    if (!m_videoOutputSuppressed) {
        pollStagedContent();
        if (!alive)
            return;
    }
    if (m_player->status() == MediaPlayer::StatusFailed) {
        m_expectedToPlay = false;
        postFinish(1, m_player->error());
        return;
    }
    if (!postLoadStateIfChanged() || !postPlaybackStateIfChanged())
        return;
    if (m_videoOutputSuppressed)
        return;
    const bool ready = computedReadyForDisplay();
    if (ready != m_lastReadyForDisplay) {
        m_lastReadyForDisplay = ready;
        post(platform::media::MoviePlayerReadyForDisplayDidChangeNotification);
    }
}

bool KRPlaybackTransport::computedReadyForDisplay() const
{
    if (m_player->status() != MediaPlayer::StatusReadyToPlay)
        return false;
    if (naturalSize().width() <= 0)
        return true;
    return m_surface ? m_surface->isReadyForDisplay() : m_player->framesSinceLoadOrSeek() > 0;
}

int KRPlaybackTransport::computedPlaybackState() const
{
    if (m_player->rate() != 0)
        return 1;
    if (m_expectedToPlay || currentPlaybackTime() > 0.01)
        return 2;
    return 0;
}

unsigned KRPlaybackTransport::computedLoadState() const
{
    if (!m_player->hasItem() || m_player->status() != MediaPlayer::StatusReadyToPlay)
        return 0;
    const double ahead = KRPlaybackTransportBufferedAhead(m_player->loadedTimeRanges(), currentPlaybackTime());
    unsigned state = isFileURL() || m_player->isPlaybackLikelyToKeepUp() || ahead > 1.0 ? 3 : 1;
    if (m_expectedToPlay && m_player->rate() == 0 && !isFileURL()
        && (m_player->isPlaybackBufferEmpty()
            || (ahead < 0.25 && m_player->timeControlStatus() == MediaPlayer::TimeControlWaitingToPlay)))
        state |= 4;
    return state;
}

int KRPlaybackTransport::playbackState() const { return computedPlaybackState(); }
unsigned KRPlaybackTransport::loadState() const { return computedLoadState(); }

void KRPlaybackTransport::setScalingMode(int mode)
{
    m_scalingMode = mode;
    const int gravity = mode == 3 ? platform::media::VideoGravityResize
        : mode == 2 ? platform::media::VideoGravityResizeAspectFill
                    : platform::media::VideoGravityResizeAspect;
    if (m_surface)
        m_surface->setVideoGravity(gravity);
    if (m_staged && m_staged->surface)
        m_staged->surface->setVideoGravity(gravity);
}

void KRPlaybackTransport::setInitialPlaybackTime(double time)
{
    m_initialPlaybackTime = std::isfinite(time) ? std::max(time, 0.0) : 0;
}

double KRPlaybackTransport::currentPlaybackTime() const
{
    return finiteOrZero(m_player->currentTime());
}

void KRPlaybackTransport::setCurrentPlaybackTime(double time)
{
    if (!(time > 0))
        time = 0;
    m_player->seek(time, 0.05, 0.05);
}

float KRPlaybackTransport::currentPlaybackRate() const
{
    return float(m_player->rate());
}

void KRPlaybackTransport::setCurrentPlaybackRate(float rate)
{
    if (!(rate > 0))
        rate = 1.0f;
    m_desiredPlaybackRate = rate;
    if (m_expectedToPlay || m_player->rate() != 0)
        m_player->setRate(rate);
}

void KRPlaybackTransport::applyDesiredRate()
{
    if (std::abs(m_desiredPlaybackRate - 1.0f) > 0.01f)
        m_player->setRate(m_desiredPlaybackRate);
}

double KRPlaybackTransport::duration() const
{
    return m_player->hasItem() ? finiteOrZero(m_player->duration()) : 0;
}

double KRPlaybackTransport::playableDuration() const
{
    const double now = currentPlaybackTime();
    return now + KRPlaybackTransportBufferedAhead(m_player->loadedTimeRanges(), now);
}

QSizeF KRPlaybackTransport::naturalSize() const
{
    return m_player->hasItem() ? m_player->presentationSize() : QSizeF(0, 0);
}

QImage KRPlaybackTransport::thumbnailImageAtTime(double time, int timeOption) const
{
    if (!m_player->hasItem() || std::isnan(time))
        return {};
    platform::media::MediaImageGenerator generator(m_player->currentItemURL());
    generator.setZeroTolerance(timeOption == KRMovieTimeOptionExact);
    // On the movie player's time scale of 600 ticks a second.
    return generator.copyImageAtTime(std::round(std::max(time, 0.0) * 600) / 600);
}

void KRPlaybackTransport::prepareToPlay()
{
    startStateTimerIfNeeded();
    m_preparedToPlay = true;
    if (m_initialPlaybackTime > 0)
        setCurrentPlaybackTime(m_initialPlaybackTime);
    if (m_shouldAutoplay)
        play();
}

void KRPlaybackTransport::play()
{
    startStateTimerIfNeeded();
    m_finishPosted = false;
    m_expectedToPlay = true;
    m_player->play();
    applyDesiredRate();
    if (m_staged && m_staged->ready && !m_staged->seeking)
        m_staged->player->setRate(m_staged->rate);
    postPlaybackStateIfChanged();
}

void KRPlaybackTransport::pause()
{
    m_probeRemaining = 0;
    m_probeLastTime = 0;
    m_delayed.cancel(QStringLiteral("probe"));
    m_expectedToPlay = false;
    m_player->pause();
    // A staged player follows the main one's pause until it is committed.
    if (m_staged)
        m_staged->player->pause();
    postPlaybackStateIfChanged();
}

void KRPlaybackTransport::stop()
{
    m_probeRemaining = 0;
    m_probeLastTime = 0;
    m_delayed.cancel(QStringLiteral("probe"));
    m_stateTimer.stop();
    m_expectedToPlay = false;
    m_player->pause();
    m_player->seek(0, 1e9, 1e9);
    postPlaybackStateIfChanged();
}

void KRPlaybackTransport::setVideoOutputSuppressed(bool suppressed)
{
    const bool changed = suppressed != m_videoOutputSuppressed;
    m_videoOutputSuppressed = suppressed;
    if (m_surface) {
        m_surface->setHidden(suppressed);
        m_surface->refreshRenderSize();
    }
    if (changed)
        restartStateTimer();
    if (!suppressed) {
        m_probeRemaining = 0;
        m_probeLastTime = 0;
        m_delayed.cancel(QStringLiteral("probe"));
    }
}

void KRPlaybackTransport::reassertPlaybackWhileVideoOutputSuppressed()
{
    if (!m_videoOutputSuppressed)
        return;
    m_delayed.cancel(QStringLiteral("probe"));
    m_probeRemaining = 3;
    m_probeLastTime = currentPlaybackTime();
    m_expectedToPlay = true;
    m_player->play();
    applyDesiredRate();
    m_delayed.schedule(QStringLiteral("probe"), 250, [this] { runSuppressedPlaybackProbe(); });
}

void KRPlaybackTransport::runSuppressedPlaybackProbe()
{
    if (!m_videoOutputSuppressed || !m_expectedToPlay || m_probeRemaining < 1) {
        m_probeRemaining = 0;
        return;
    }
    const double time = currentPlaybackTime();
    const bool advancing = m_player->rate() != 0 && time > m_probeLastTime + 0.03;
    if (!advancing && m_player->hasItem() && m_player->status() != MediaPlayer::StatusFailed) {
        m_player->play();
        applyDesiredRate();
        KRDiagnostics::recordEvent(QStringLiteral("background-audio-clock-reasserted"),
                                   QStringLiteral("remaining=%1 item=%2 time=%3 host=%4")
                                       .arg(m_probeRemaining)
                                       .arg(int(m_player->status()))
                                       .arg(time, 0, 'f', 3)
                                       .arg(host()));
    }
    m_probeLastTime = time;
    const int before = m_probeRemaining--;
    if (before >= 2)
        m_delayed.schedule(QStringLiteral("probe"), m_probeRemaining == 2 ? 750 : 2000, [this] { runSuppressedPlaybackProbe(); });
}
