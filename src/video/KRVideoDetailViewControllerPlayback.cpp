// Starting and stopping playback as the page shows it: the automatic decision, the resume
// check, the persistent surface and the quality list. Where the part plays from and what
// happens when it fails is the playback session's (playback/KRPlaybackSession); the page
// shows what it tells.

#include "video/KRVideoDetailViewController.h"

#include "account/KRAccountClient.h"
#include "model/KRPlayInfo.h"
#include "model/KRTolerantValue.h"
#include "model/KRVideo.h"
#include "model/KRVideoNormalizer.h"
#include "platform/uikit/AlertView.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Geometry.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/LongPressGestureRecognizer.h"
#include "platform/uikit/View.h"
#include "platform/uikit/Window.h"
#include "playback/KRBackgroundContinuation.h"
#include "playback/KRDASHPlayback.h"
#include "playback/KRDanmakuRenderer.h"
#include "playback/KRPlaybackAudioSession.h"
#include "playback/KRPlaybackLifecycle.h"
#include "playback/KRPlaybackMedia.h"
#include "playback/KRPlaybackSession.h"
#include "playback/KRPlaybackTransport.h"
#include "playback/KRPlayerControlsView.h"
#include "store/KRDiagnostics.h"
#include "store/KRLocalHistoryStore.h"
#include "store/KRNetworkReachability.h"
#include "store/KRPreferences.h"
#include "store/KRSessionStore.h"
#include "playback/KRQualityTitles.h"
#include "shared/KRPlayerFullscreen.h"
#include "video/KRVideoDetailSupport.h"
#include "video/KRVideoOfflineCaching.h"

#include <QDebug>
#include <QUrl>

#include <cmath>

using namespace platform::uikit;

namespace {

const char* yesNo(bool value) { return value ? "YES" : "NO"; }

void record(const char* event, const QString& detail)
{
    KRDiagnostics::recordEvent(QString::fromLatin1(event), detail);
}

QString clockText(double seconds)
{
    const qint64 whole = qint64(std::max(0.0, seconds));
    return QStringLiteral("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

// ---- the automatic start ----

void KRVideoDetailViewController::requestAutomaticDetailPlaybackIfNeeded()
{
    if (m_part.hasStartedPlayback() || !m_part.video() || m_part.video()->isUnavailable() || !m_part.claimAutomaticPlaybackDecision())
        return;
    KRPreferences& preferences = KRPreferences::sharedPreferences();
    if (!preferences.detailAutoPlayEnabled())
        return;
    const bool local = KRPlaybackSession::playsFromDevice(*m_part.video());
    const int network = local ? int(KRNetworkTypeWiFi) : int(KRNetworkReachability::currentNetworkType());
    const bool cellular = preferences.cellularAutoPlayEnabled();
    const bool allowed = local || network == KRNetworkTypeWiFi || (network == KRNetworkTypeCellular && cellular);
    record("detail-autoplay-decision", QStringLiteral("allowed=%1 local=%2 network=%3 cellularPermission=%4 identity=%5")
                                           .arg(QLatin1String(yesNo(allowed)), QLatin1String(yesNo(local)),
                                                KRNetworkReachability::titleForNetworkType(network),
                                                QLatin1String(yesNo(cellular)), m_part.video()->feedIdentity()));
    if (allowed)
        m_part.setPlaysWhenPresented(true);
}

void KRVideoDetailViewController::startPendingPlaybackIfReady()
{
    if (!m_part.playsWhenPresented() || m_part.hasStartedPlayback() || !isViewLoaded() || !view()->window()
        || !m_area->playButton()->isEnabled() || !m_part.video() || m_part.video()->isUnavailable())
        return;
    m_part.setPlaysWhenPresented(false);
    m_delayed.schedule(QStringLiteral("requestPlaybackAfterResumeCheck"), 0, [this] { requestPlaybackAfterResumeCheck(); });
}

void KRVideoDetailViewController::playButtonTapped()
{
    KRPlaybackSession* playback = session();
    if (playback->state() == KRPlaybackSession::State::Ended) {
        restartPlaybackFromBeginning();
    } else if (playback->state() == KRPlaybackSession::State::Interrupted) {
        retryPlaybackAfterTerminalFailure();
    } else if (playback->media()) {
        // A player given up after unexpected pauses: the tap means play.
        if (!playback->isExpectedToPlay())
            playerControlsDidTogglePlayback(m_area->controls());
    } else {
        requestPlaybackAfterResumeCheck();
    }
}

// ---- resume ----

void KRVideoDetailViewController::requestPlaybackAfterResumeCheck()
{
    if (!m_part.video() || m_part.video()->isUnavailable())
        return;
    if (m_resume.isResolved()) {
        beginPlayback();
        return;
    }
    const quint64 generation = m_resume.beginCheck();
    m_part.setStartedPlayback(true);
    m_area->showPlayButton(false);
    showLoadingStatus(QStringLiteral("正在读取播放进度…"), true);
    if (const std::optional<QVariantMap> local = KRLocalHistoryStore::sharedStore().resumeRecordForVideo(m_part.video())) {
        // A completed part is kept at 0 and starts over.
        const double time = KRDouble(local->value(QStringLiteral("history_progress")));
        const double duration = KRDouble(local->value(QStringLiteral("history_duration")));
        if (KRPlaybackResume::offers(time, duration)) {
            offerResumeAt(time, generation);
            return;
        }
        m_resume.resolve();
        beginPlayback();
        return;
    }
    if (!KRSessionStore::sharedStore().isLoggedIn()) {
        m_resume.resolve();
        beginPlayback();
        return;
    }
    const qint64 cid = m_part.video()->cid();
    KRAccountClient::sharedClient()->loadPlaybackResumeForAID(
        accountAID(), cid, this, [this, generation, cid](const QVariant& result, const KROptionalError&) {
            if (!m_loadedView)
                return;
            if (!m_resume.isCurrent(generation))
                return;
            const QVariantMap data = result.toMap();
            const double time = KRDouble(data.value(QStringLiteral("last_play_time")));
            // The normaliser keeps a part's duration as "mm:ss" text.
            const double duration = m_part.selectedPartDuration();
            if (KRLongLong(data.value(QStringLiteral("last_play_cid"))) == cid && KRPlaybackResume::offers(time, duration)) {
                offerResumeAt(time, generation);
                return;
            }
            m_resume.resolve();
            beginPlayback();
        });
}

void KRVideoDetailViewController::offerResumeAt(double seconds, quint64 generation)
{
    auto* alert = new AlertView(QStringLiteral("继续观看"), QStringLiteral("上次看到 %1，要从那里继续吗？").arg(clockText(seconds)),
                                QStringLiteral("从头播放"), {QStringLiteral("继续播放")}, this,
                                [this, seconds, generation](int index) {
                                    if (!m_resume.isCurrent(generation))
                                        return;
                                    m_resume.resolveAt(index == 1 ? seconds : 0);
                                    beginPlayback();
                                });
    alert->setObjectName(QStringLiteral("resumeOffer"));
    alert->show();
}

// ---- the session ----

KRPlaybackSession* KRVideoDetailViewController::session()
{
    if (m_session)
        return m_session.get();
    m_session = std::make_unique<KRPlaybackSession>();
    m_session->setTickInterval(KRPreferences::sharedPreferences().isA4OrEarlierDevice() ? 250 : 200);
    KRPlaybackSession* playback = m_session.get();
    // A player put in place by a switch is bound as an installed one is.
    connect(playback, &KRPlaybackSession::mediaInstalled, this, &KRVideoDetailViewController::playbackMediaInstalled);
    connect(playback, &KRPlaybackSession::mediaReplaced, this, &KRVideoDetailViewController::playbackMediaInstalled);
    connect(playback, &KRPlaybackSession::mediaRemoved, this, &KRVideoDetailViewController::playbackMediaRemoved);
    connect(playback, &KRPlaybackSession::bufferingChanged, this, [this](bool buffering, const QString& text) {
        if (buffering)
            showLoadingStatus(text, true);
        else
            hideLoadingStatus();
    });
    connect(playback, &KRPlaybackSession::progressed, this,
            [this](double time, double duration, bool playing) { playbackProgressed(time, duration, playing, true); });
    // While the interface turns, the controls are left as they are and no pause is watched.
    KRPlayerFullscreen* fullscreen = m_fullscreen->player();
    playback->setRotating(fullscreen->isRotating());
    connect(fullscreen, &KRPlayerFullscreen::rotatingChanged, playback, &KRPlaybackSession::setRotating);
    connect(playback, &KRPlaybackSession::qualityChanged, this, [this] { updateControlsTitles(); });
    connect(playback, &KRPlaybackSession::controlsTickRunningChanged, this, [this](bool running) {
        if (running)
            m_fullscreen->startFullscreenSyncTimerIfNeeded();
        else
            m_fullscreen->stopFullscreenSyncTimer();
    });
    connect(playback, &KRPlaybackSession::playInfoLoaded, this, [this](const std::optional<KRPlayInfo>& info) {
        if (info)
            applyQualityOptions(*info);
        else
            loadQualityOptionsIfNeeded();
    });
    // The stall fallback is the session's own switch: it shows as every switch does.
    connectQualitySwitch(playback);
    m_area->observeRollbacks(playback);
    connect(playback, &KRPlaybackSession::unaskedPauseGivenUp, this,
            [this] { showDanmakuStatus(QStringLiteral("播放已暂停，点播放继续")); });
    connect(playback, &KRPlaybackSession::ended, this, &KRVideoDetailViewController::playbackEnded);
    connect(playback, &KRPlaybackSession::failed, this, [this](const QString&, bool installed) { playbackFailed(installed); });
    // Another video started playing: this page stops as for a screen that does not continue it.
    connect(playback, &KRPlaybackSession::stoppedByAnotherSession, this, &KRVideoDetailViewController::stopPlaybackForNavigation);
    // A page made while the application is already in the background has heard no event of
    // it: its session starts where the application is, so that a start it makes waits.
    if (platform::uikit::Application::shared().applicationState() == platform::uikit::ApplicationStateBackground)
        playback->lifecycle()->applicationDidEnterBackgroundForPlayback(
            KRPreferences::sharedPreferences().backgroundAudioEnabled());
    return playback;
}

void KRVideoDetailViewController::beginPlayback()
{
    if (!m_part.video())
        return;
    KRPreferences& preferences = KRPreferences::sharedPreferences();
    int quality = m_sheets->selectedQuality() > 0 ? m_sheets->selectedQuality() : preferences.preferredQuality();
    if (quality <= 0)
        quality = preferences.playbackQualityFallbackValuesForCurrentDevice().value(0, 64);
    if (preferences.detailAutoFullscreenEnabled() && !m_fullscreen->isShown())
        setDetailFullscreenPending(true);
    beginPlaybackAtQuality(quality);
}

void KRVideoDetailViewController::beginPlaybackAtQuality(int quality)
{
    m_part.setStartedPlayback(true);
    m_area->showPlayButton(false);
    showLoadingStatus(QStringLiteral("正在解析播放地址…"), true);
    KRPlaybackSession* playback = session();
    playback->setVideo(m_part.video(), accountAID());
    playback->startPart(quality, m_resume.startTime());
}

// ---- what the session tells ----

void KRVideoDetailViewController::playbackMediaInstalled(KRPlaybackMedia* media)
{
    // Without a surface nothing can be shown: the failure path, not an overlay left spinning.
    KRPlaybackTransport* player = media->transport();
    if (!player || !installPersistentPlayerSurfaceIfNeeded()) {
        record("playback-construction-terminal-failure", QStringLiteral("reason=surface-install-failed"));
        m_session->stop();
        playbackFailed(false);
        return;
    }
    m_area->bindTransport(player, media->dash(), m_session->startTime(), KRPlaybackSession::kHoldPressDuration, this,
                          shouldUsePortraitFullscreenForCurrentVideo());
    layoutApplicationVideoSurface();
    updateControlsTitles();
    m_part.setStartedPlayback(true);
    // A quality picked after the end puts its stream in place still awaiting the replay.
    if (isPlaybackEndedAwaitingReplay()) {
        showPlaybackEnded();
        return;
    }
    // A failover of a paused part puts its player in place paused.
    m_area->controls()->setPlaying(m_session->isExpectedToPlay());
    m_area->showPlayButton(false);
    startDanmakuTimer();
}

void KRVideoDetailViewController::playbackMediaRemoved()
{
    m_area->unbindTransport();
}

void KRVideoDetailViewController::playbackFailed(bool installed)
{
    // A failure is shown on the page, upright, where the play button retries; the retry goes
    // back into the full screen the failure came in.
    rememberFullscreenForRetry();
    m_fullscreen->surfaceRemoved();
    if (installed) {
        // An interruption: a tap retries from where it was.
        m_resume.setStartTime(m_session->interruptedAt());
        showLoadingStatus(QStringLiteral("播放中断，点播放重试"), false);
    } else {
        m_resume.reopen();
        m_part.setStartedPlayback(false);
        uninstallPersistentPlayerSurface();
        showLoadingStatus(QStringLiteral("播放失败，点播放重试"), false);
    }
    m_area->showPlayButton(true);
}

void KRVideoDetailViewController::playbackEnded()
{
    if (handleNaturalPlaybackContinuation())
        return;
    showPlaybackEnded();
}

void KRVideoDetailViewController::showPlaybackEnded()
{
    // The lines on screen finish with the part: none stays drawn over the end.
    stopDanmakuTimer();
    const double length = m_session->duration();
    const double at = std::min(m_session->endedAt(), length);
    if (KRDanmakuRenderer* renderer = m_area->danmakuRenderer())
        renderer->resetForPlaybackTime(at);
    // The time reads where the stream in place stands with its picture: the end, or the start
    // where a stream picked after the end waits for the replay. Its length may have changed.
    if (length > 0)
        m_area->showProgress(at, length, false, false, true);
    if (KRPlayerControlsView* controls = m_area->controls())
        controls->setPlaying(false);
    m_area->showPlayButton(true);
}

void KRVideoDetailViewController::rememberFullscreenForRetry()
{
    m_retryIntoFullscreen = m_fullscreen->isShown() || m_fullscreen->isDetailPending() || m_fullscreen->isContinuationPending();
}

// ---- stop and teardown ----

void KRVideoDetailViewController::endBackgroundContinuationTask(const QString& reason)
{
    if (m_session)
        m_session->backgroundContinuation()->endBackgroundContinuationTaskForGeneration(0, reason);
}

void KRVideoDetailViewController::stopPlaybackForNavigation()
{
    // A start or recovery still resolving in the background is let go for the navigation.
    endBackgroundContinuationTask(QStringLiteral("navigation"));
    // A start or a switch asked for the next turn does not outlive the stop.
    m_delayed.cancel(QStringLiteral("requestPlaybackAfterResumeCheck"));
    m_delayed.cancel(QStringLiteral("switchToQualityAtIndex"));
    m_resume.resetPlaybackResumeState();
    tearDownMoviePlayer();
    // A full screen a continuation or a failure meant to come back to goes with the stop: the
    // next play, a fresh start, keeps to the user's preference.
    setDetailFullscreenPending(false);
    setContinuationFullscreenPending(false);
    m_retryIntoFullscreen = false;
    KRPlaybackAudioSession::sharedSession()->markPlaybackInactive();
    uninstallPersistentPlayerSurface();
    m_part.setStartedPlayback(false);
    if (m_area->playerContainer()) {
        hideLoadingStatus();
        m_area->showPlayButton(true);
    }
    qInfo().noquote() << QStringLiteral("[KorvanePlaybackLifecycle] stopped reason=navigation");
}

void KRVideoDetailViewController::tearDownMoviePlayer()
{
    // The full screen goes first, while the player it shows still answers for the rotation.
    m_fullscreen->surfaceRemoved();
    // The session's stop is the teardown: the heartbeat's end, the player, its timers.
    if (m_session)
        m_session->stop();
    // Writing a danmaku ends with the player it was about: the composer closes as "取消"
    // closes it, the draft kept, and its pause goes (lifted once the player has stopped, so
    // that it plays nothing on the way).
    m_area->danmakuComposer()->cancelDanmakuComposer();
    playbackMediaRemoved();
}

// ---- parts ----

void KRVideoDetailViewController::activatePageAtIndex(int index, bool autoplay)
{
    std::shared_ptr<KRVideo> part = m_part.videoForPart(index);
    if (!part)
        return;
    tearDownMoviePlayer();
    m_part.selectPart(std::move(part), index);
    m_resume.resetPlaybackResumeState();
    m_area->dropDanmakus();
    updateInfo();
    resetDanmakuForCurrentCID();
    if (autoplay) {
        // The next part starts at its beginning.
        m_resume.resolve();
        beginPlayback();
    } else {
        uninstallPersistentPlayerSurface();
        m_part.setStartedPlayback(false);
        m_area->showPlayButton(true);
    }
}

// ---- quality ----

void KRVideoDetailViewController::applyQualityOptions(const KRPlayInfo& info)
{
    m_sheets->applyOptions(info.acceptedQualities, info.acceptedTitles);
    m_offline->qualityOptionsDidArrive();
}

void KRVideoDetailViewController::loadQualityOptionsIfNeeded()
{
    if (!m_part.video() || !m_sheets->claimOptionsRequest())
        return;
    const int quality = activePlaybackQuality();
    KRPlaybackSession::loadDASHPlaybackInfoForVideo(*m_part.video(), accountAID(), quality > 0 ? quality : 64, this,
                                                    [this](const std::optional<KRPlayInfo>& info, const KROptionalError&) {
                                                        if (!m_loadedView)
                                                            return;
                                                        m_sheets->endOptionsRequest();
                                                        if (info)
                                                            applyQualityOptions(*info);
                                                    });
}

QString KRVideoDetailViewController::qualityTitleForValue(int quality) const
{
    return m_sheets->qualityTitleForValue(quality);
}

QString KRVideoDetailViewController::compactQualityTitleForValue(int quality) const
{
    return KRCompactQualityTitleForValue(quality);
}

int KRVideoDetailViewController::activePlaybackQuality() const
{
    if (m_session)
        return m_session->activeQuality();
    return m_part.video() ? int(m_part.video()->playbackQuality()) : 0;
}
