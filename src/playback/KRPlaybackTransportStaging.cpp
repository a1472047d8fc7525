#include "playback/KRPlaybackTransport.h"

#include "playback/KRPlaybackTransportStaged.h"
#include "platform/foundation/MainClock.h"
#include "platform/media/MediaPlayer.h"
#include "platform/media/PlayerSurface.h"
#include "platform/uikit/View.h"
#include "store/KRDiagnostics.h"

#include <cmath>

using platform::media::MediaPlayer;
using platform::media::PlayerSurface;

namespace {

// A staged player is seeked back into line at most this often, in seconds.
constexpr double kStagedRealignSpacing = 0.55;

quint64 nextStagingGeneration()
{
    static quint64 generation = 0;
    return ++generation;
}

double stagedTime(const MediaPlayer* player)
{
    const double time = player->currentTime();
    return std::isfinite(time) && time > 0 ? time : 0;
}

} // namespace

MediaPlayer* KRPlaybackTransport::stagedPlayerForTesting() const
{
    return m_staged ? m_staged->player : nullptr;
}

void KRPlaybackTransport::stageContentURL(const QUrl& url, double time, float rate, double minimumBufferTime,
                                          std::function<void(bool, const KROptionalError&)> completion)
{
    if (url.isEmpty() || !supportsStagedContentSwap()) {
        if (completion)
            completion(false, KRError(KRPlaybackTransportErrorDomain, -20, QStringLiteral("当前系统不支持双播放器预热")));
        return;
    }
    cancelStagedContent();
    const bool file = url.isLocalFile();
    auto staged = std::make_unique<Staged>();
    staged->generation = nextStagingGeneration();
    staged->player = new MediaPlayer(this);
    staged->player->setMuted(true);
    staged->player->setAutomaticallyWaitsToMinimizeStalling(false);
    staged->minimumBuffer = file ? 0 : std::max(std::isfinite(minimumBufferTime) ? minimumBufferTime : 0, 0.25);
    staged->player->setPreferredForwardBufferDuration(file ? 0 : std::max(staged->minimumBuffer, 2.0));
    staged->player->replaceCurrentItem(url);
    staged->surface = new PlayerSurface(m_surfaceView ? QRectF(QPointF(), m_surfaceView->frame().size()) : QRectF(), m_surfaceView);
    staged->surface->setAutoresizingMask(platform::uikit::AutoresizingFlexibleWidth | platform::uikit::AutoresizingFlexibleHeight);
    if (m_surface)
        staged->surface->setVideoGravity(m_surface->videoGravity());
    // Invisible until the commit: it draws a tiny picture, enough to tell a frame was decoded.
    staged->surface->setAlpha(0);
    staged->surface->setPlayer(staged->player);
    staged->surface->show();
    staged->url = url;
    staged->completion = std::move(completion);
    staged->startedAt.start();
    staged->rate = rate > 0 ? rate : 1.0;
    staged->seeking = true;
    const double start = std::isfinite(time) ? std::max(time, 0.0) : 0;
    const double tolerance = file ? 0.02 : 0.25;
    MediaPlayer* player = staged->player;
    const quint64 generation = staged->generation;
    m_staged = std::move(staged);
    player->seek(start, tolerance, tolerance, this, [this, generation](bool finished) {
        if (!m_staged || m_staged->generation != generation)
            return;
        m_staged->seeking = false;
        if (!finished) {
            finishStagedContent(KRError(KRPlaybackTransportErrorDomain, -21, QStringLiteral("预热定位失败")));
            return;
        }
        if (m_expectedToPlay)
            m_staged->player->setRate(m_staged->rate);
        else
            m_staged->player->pause();
    });
    KRDiagnostics::recordEvent(QStringLiteral("quality-prewarm-begin"),
                               QStringLiteral("time=%1 minimumBuffer=%2 host=%3")
                                   .arg(start, 0, 'f', 3)
                                   .arg(m_staged->minimumBuffer, 0, 'f', 3)
                                   .arg(url.host()));
}

bool KRPlaybackTransport::stagedVideoHasDecodedFrame() const
{
    if (!m_staged || m_staged->player->status() != MediaPlayer::StatusReadyToPlay)
        return false;
    if (m_staged->player->presentationSize().width() <= 0)
        return true;
    return m_staged->player->framesSinceLoadOrSeek() > 0;
}

void KRPlaybackTransport::alignStaged(double time)
{
    m_staged->lastAlignmentAt = platform::MainClock::now();
    m_staged->seeking = true;
    const quint64 generation = m_staged->generation;
    m_staged->player->seek(std::max(time, 0.0), 0.25, 0.25, this, [this, generation](bool finished) {
        if (!m_staged || m_staged->generation != generation)
            return;
        m_staged->seeking = false;
        // A failed alignment reports nothing; the next tick tries again.
        if (!finished)
            return;
        if (m_expectedToPlay)
            m_staged->player->setRate(m_staged->rate);
        else
            m_staged->player->pause();
    });
}

void KRPlaybackTransport::pollStagedContent()
{
    if (!m_staged)
        return;
    MediaPlayer* staged = m_staged->player;
    if (m_staged->ready) {
        // Until the commit the staged player keeps to the main one's pause and play, so the
        // swap lands where the picture is; seeks of the main player are the owner's to follow.
        if (m_staged->seeking)
            return;
        if (!m_expectedToPlay && staged->rate() != 0)
            staged->pause();
        else if (m_expectedToPlay && staged->rate() == 0 && staged->status() == MediaPlayer::StatusReadyToPlay)
            staged->setRate(m_staged->rate);
        return;
    }
    if (staged->status() == MediaPlayer::StatusFailed) {
        finishStagedContent(staged->error());
        return;
    }
    if (staged->status() != MediaPlayer::StatusReadyToPlay || m_staged->seeking)
        return;
    const double main = currentPlaybackTime();
    const double time = stagedTime(staged);
    const double drift = main - time;
    if (!m_expectedToPlay && staged->rate() != 0)
        staged->pause();
    const double limit = m_expectedToPlay ? 0.75 : 0.25;
    if (std::abs(drift) > limit && (m_staged->lastAlignmentAt < 0 || platform::MainClock::now() - m_staged->lastAlignmentAt > kStagedRealignSpacing)) {
        alignStaged(main);
        return;
    }
    const double buffered = KRPlaybackTransportBufferedAhead(staged->loadedTimeRanges(), time);
    const bool bufferOK = m_staged->url.isLocalFile() || buffered >= m_staged->minimumBuffer;
    if (std::abs(drift) > limit || !bufferOK || !stagedVideoHasDecodedFrame())
        return;
    m_staged->ready = true;
    KRDiagnostics::recordEvent(QStringLiteral("quality-prewarm-first-frame"),
                               QStringLiteral("elapsed=%1 buffer=%2 drift=%3 host=%4")
                                   .arg(double(m_staged->startedAt.nsecsElapsed()) / 1e9, 0, 'f', 3)
                                   .arg(buffered, 0, 'f', 3)
                                   .arg(drift, 0, 'f', 3)
                                   .arg(m_staged->url.host()));
    auto completion = std::move(m_staged->completion);
    m_staged->completion = nullptr;
    if (completion)
        completion(true, std::nullopt);
}

void KRPlaybackTransport::finishStagedContent(const KROptionalError& error)
{
    if (!m_staged)
        return;
    auto completion = std::move(m_staged->completion);
    m_staged->completion = nullptr;
    cancelStagedContent();
    if (completion)
        completion(false, error ? *error : KRError(KRPlaybackTransportErrorDomain, -22, QString()));
}

void KRPlaybackTransport::cancelStagedContent()
{
    if (!m_staged)
        return;
    std::unique_ptr<Staged> staged = std::move(m_staged);
    staged->completion = nullptr;
    staged->player->pause();
    if (staged->surface) {
        staged->surface->setPlayer(nullptr);
        KRPlaybackTransportReleaseLater(staged->surface);
        staged->surface->hide();
    }
    staged->player->setParent(nullptr);
    KRPlaybackTransportReleaseLater(staged->player);
}

bool KRPlaybackTransport::commitStagedContentAtTime(double)
{
    if (!supportsStagedContentSwap() || !m_staged || !m_staged->ready)
        return false;
    std::unique_ptr<Staged> staged = std::move(m_staged);
    MediaPlayer* oldPlayer = m_player;
    QPointer<PlayerSurface> oldSurface = m_surface;
    disconnect(oldPlayer, nullptr, this, nullptr);

    m_player = staged->player;
    m_surface = staged->surface;
    m_contentURL = staged->url;
    connectPlayer(m_player);
    m_player->setMuted(false);
    m_player->setAutomaticallyWaitsToMinimizeStalling(true);
    m_player->setPreferredForwardBufferDuration(isFileURL() ? 0 : 8.0);
    if (m_expectedToPlay)
        m_player->setRate(m_desiredPlaybackRate > 0 ? m_desiredPlaybackRate : 1.0);
    else
        m_player->pause();
    // The new picture is drawn at full size before the old surface goes, so no frame is empty.
    if (m_surface) {
        m_surface->setAlpha(1);
        m_surface->setHidden(m_videoOutputSuppressed);
        if (m_surfaceView)
            m_surfaceView->bringSubviewToFront(m_surface);
        m_surface->refreshRenderSize();
        m_player->core()->renderFrame(m_player->core()->renderSize(), true);
        m_surface->update();
    }

    oldPlayer->pause();
    if (oldSurface) {
        oldSurface->setPlayer(nullptr);
        oldSurface->hide();
        KRPlaybackTransportReleaseLater(oldSurface);
    }
    oldPlayer->setParent(nullptr);
    KRPlaybackTransportReleaseLater(oldPlayer);

    m_finishPosted = false;
    m_lastReadyForDisplay = true;
    m_lastLoadState = 0;
    KRDiagnostics::recordEvent(QStringLiteral("quality-commit"),
                               QStringLiteral("elapsed=%1 time=%2 host=%3")
                                   .arg(std::max(double(staged->startedAt.nsecsElapsed()) / 1e9, 0.0), 0, 'f', 3)
                                   .arg(currentPlaybackTime(), 0, 'f', 3)
                                   .arg(host()));
    if (!postLoadStateIfChanged())
        return true;
    postPlaybackStateIfChanged();
    return true;
}
