// Starting and stopping playback: the automatic decision, the resume check, the choice of
// source (offline DASH copy, local file, DASH at 1080P and above, the play-address chain
// below), failover along the candidates, the transport's notifications, the persistent
// surface, history and quality.

#include "video/KRVideoDetailViewController.h"

#include "account/KRAccountClient.h"
#include "model/KRTolerantValue.h"
#include "model/KRVideo.h"
#include "platform/foundation/MainClock.h"
#include "platform/media/MediaNotifications.h"
#include "platform/uikit/AlertView.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Geometry.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/LongPressGestureRecognizer.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/View.h"
#include "platform/uikit/Window.h"
#include "playback/KRDASHPlayback.h"
#include "playback/KRDanmakuRenderer.h"
#include "playback/KROfflineCacheManager.h"
#include "playback/KRPlaybackAudioSession.h"
#include "playback/KRPlaybackTransport.h"
#include "playback/KRPlayerControlsView.h"
#include "service/KRAPIClient.h"
#include "store/KRDiagnostics.h"
#include "store/KRLocalHistoryStore.h"
#include "store/KRNetworkReachability.h"
#include "store/KRPreferences.h"
#include "store/KRSessionStore.h"
#include "video/KRDASHStreams.h"
#include "video/KRQualityTitles.h"
#include "video/KRVideoDetailSupport.h"

#include <QDateTime>
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

// Our own choice: a record counts when at least 5 s were watched and, with a
// known length, more than 5 s remain.
constexpr double kResumeMinimumTime = 5.0;
constexpr double kResumeEndMargin = 5.0;
// Our own choice: the third stall within 60 s of the window's first.
constexpr int kStallsBeforeFallback = 3;
constexpr double kStallWindow = 60.0;
constexpr int kStallCheckMs = 1000;
constexpr int kHistoryIntervalMs = 15000;

// The addresses of a resolved part, best first. Usable streams count even when an error came
// with them.
QStringList playableCandidates(const std::shared_ptr<KRVideo>& resolved)
{
    if (!resolved)
        return {};
    QStringList candidates = resolved->playURLCandidates();
    if (candidates.isEmpty() && !resolved->playURL().isEmpty())
        candidates = {resolved->playURL()};
    return candidates;
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
    if (m_entry.automaticPlaybackDecisionMade || m_engine.hasStartedPlayback || !m_part.video || m_part.video->isUnavailable())
        return;
    m_entry.automaticPlaybackDecisionMade = true;
    KRPreferences& preferences = KRPreferences::sharedPreferences();
    if (!preferences.detailAutoPlayEnabled())
        return;
    const bool local = !KROfflineCacheManager::sharedManager()->cachedDASHPlaybackInfoForVideo(*m_part.video).isEmpty()
                       || KRDetailPlaybackURLIsLocalFile(m_part.video->playURL());
    const int network = local ? int(KRNetworkTypeWiFi) : int(KRNetworkReachability::currentNetworkType());
    const bool cellular = preferences.cellularAutoPlayEnabled();
    const bool allowed = local || network == KRNetworkTypeWiFi || (network == KRNetworkTypeCellular && cellular);
    record("detail-autoplay-decision", QStringLiteral("allowed=%1 local=%2 network=%3 cellularPermission=%4 identity=%5")
                                           .arg(QLatin1String(yesNo(allowed)), QLatin1String(yesNo(local)),
                                                KRNetworkReachability::titleForNetworkType(network),
                                                QLatin1String(yesNo(cellular)), m_part.video->feedIdentity()));
    if (allowed)
        m_entry.playWhenPresented = true;
}

void KRVideoDetailViewController::startPendingPlaybackIfReady()
{
    if (!m_entry.playWhenPresented || m_engine.hasStartedPlayback || !isViewLoaded() || !view()->window()
        || !m_area->playButton()->isEnabled() || !m_part.video || m_part.video->isUnavailable())
        return;
    m_entry.playWhenPresented = false;
    m_delayed.schedule(QStringLiteral("requestPlaybackAfterResumeCheck"), 0, [this] { requestPlaybackAfterResumeCheck(); });
}

void KRVideoDetailViewController::playButtonTapped()
{
    if (m_engine.endedAwaitingReplay) {
        restartPlaybackFromBeginning();
    } else if (m_engine.failedAwaitingRetry) {
        retryPlaybackAfterTerminalFailure();
    } else if (m_engine.moviePlayer) {
        // A player given up after unexpected pauses: the tap means play.
        if (!m_engine.expectedToPlay)
            playerControlsDidTogglePlayback(m_area->controls());
    } else {
        requestPlaybackAfterResumeCheck();
    }
}

// ---- resume ----

void KRVideoDetailViewController::resetPlaybackResumeState()
{
    ++m_engine.resumeRequestGeneration;
    m_engine.resumeDecisionResolved = false;
    m_engine.pendingInitialPlaybackTime = 0;
}

void KRVideoDetailViewController::requestPlaybackAfterResumeCheck()
{
    if (!m_part.video || m_part.video->isUnavailable())
        return;
    if (m_engine.resumeDecisionResolved) {
        beginPlayback();
        return;
    }
    const quint64 generation = ++m_engine.resumeRequestGeneration;
    m_engine.hasStartedPlayback = true;
    m_area->showPlayButton(false);
    showLoadingStatus(QStringLiteral("正在读取播放进度…"), true);
    if (const std::optional<QVariantMap> local = KRLocalHistoryStore::sharedStore().resumeRecordForVideo(m_part.video)) {
        // A completed part is kept at 0 and starts over.
        const double time = KRDouble(local->value(QStringLiteral("history_progress")));
        const double duration = KRDouble(local->value(QStringLiteral("history_duration")));
        if (time >= kResumeMinimumTime && (duration <= 0 || time < duration - kResumeEndMargin)) {
            offerResumeAt(time, generation);
            return;
        }
        m_engine.resumeDecisionResolved = true;
        beginPlayback();
        return;
    }
    if (!KRSessionStore::sharedStore().isLoggedIn()) {
        m_engine.resumeDecisionResolved = true;
        beginPlayback();
        return;
    }
    const qint64 cid = m_part.video->cid();
    KRAccountClient::sharedClient()->loadPlaybackResumeForAID(
        accountAID(), cid, this, [this, generation, cid](const QVariant& result, const KROptionalError&) {
            if (!m_loadedView)
                return;
            if (generation != m_engine.resumeRequestGeneration)
                return;
            const QVariantMap data = result.toMap();
            const double time = KRDouble(data.value(QStringLiteral("last_play_time")));
            const double duration = m_part.video
                                        ? KRDouble(m_part.video->pages().value(m_part.selectedPageIndex).value(QStringLiteral("duration")))
                                        : 0;
            if (KRLongLong(data.value(QStringLiteral("last_play_cid"))) == cid && time >= kResumeMinimumTime
                && (duration <= 0 || time < duration - kResumeEndMargin)) {
                offerResumeAt(time, generation);
                return;
            }
            m_engine.resumeDecisionResolved = true;
            beginPlayback();
        });
}

void KRVideoDetailViewController::offerResumeAt(double seconds, quint64 generation)
{
    auto* alert = new AlertView(QStringLiteral("继续观看"), QStringLiteral("上次看到 %1，要从那里继续吗？").arg(clockText(seconds)),
                                QStringLiteral("从头播放"), {QStringLiteral("继续播放")}, this,
                                [this, seconds, generation](int index) {
                                    if (generation != m_engine.resumeRequestGeneration)
                                        return;
                                    m_engine.resumeDecisionResolved = true;
                                    m_engine.pendingInitialPlaybackTime = index == 1 ? seconds : 0;
                                    beginPlayback();
                                });
    alert->setObjectName(QStringLiteral("resumeOffer"));
    alert->show();
}

// ---- the source ----

void KRVideoDetailViewController::beginPlayback()
{
    if (!m_part.video)
        return;
    KRPreferences& preferences = KRPreferences::sharedPreferences();
    int quality = m_quality.selectedQuality > 0 ? m_quality.selectedQuality : preferences.preferredQuality();
    if (quality <= 0)
        quality = preferences.playbackQualityFallbackValuesForCurrentDevice().value(0, 64);
    beginPlaybackAtQuality(quality, ++m_engine.requestGeneration);
}

void KRVideoDetailViewController::beginPlaybackAtQuality(int quality, quint64 generation)
{
    m_engine.hasStartedPlayback = true;
    m_area->showPlayButton(false);
    m_engine.endedAwaitingReplay = false;
    m_engine.failedAwaitingRetry = false;
    m_engine.candidates.clear();
    m_engine.candidateIndex = 0;
    m_engine.freshResolveAttempted = false;
    showLoadingStatus(QStringLiteral("正在解析播放地址…"), true);

    const KROfflineDASHPlayInfo offline = KROfflineCacheManager::sharedManager()->cachedDASHPlaybackInfoForVideo(*m_part.video);
    if (!offline.isEmpty()) {
        startDASHWithPlayInfo(offline, KRLongLong(offline.value(QStringLiteral("quality"))));
        return;
    }
    if (KRDetailPlaybackURLIsLocalFile(m_part.video->playURL())) {
        m_engine.candidates = {m_part.video->playURL()};
        startMovieWithURLString(m_part.video->playURL());
        return;
    }
    auto resolveProgressive = [this, quality, generation] {
        KRAPIClient::sharedClient()->loadPlayURLForVideo(
            m_part.video, quality, this, [this, quality, generation](const std::shared_ptr<KRVideo>& resolved, const KROptionalError& error) {
                if (!m_loadedView)
                    return;
                if (generation != m_engine.requestGeneration)
                    return;
                const QStringList candidates = playableCandidates(resolved);
                if (candidates.isEmpty()) {
                    finishPlaybackConstructionFailureWithReason(error ? error->description() : QStringLiteral("no-stream"));
                    return;
                }
                if (resolved->playbackQuality() > 0)
                    m_engine.actualQuality = resolved->playbackQuality();
                else
                    m_engine.actualQuality = quality;
                startProgressiveCandidates(candidates);
                loadQualityOptionsIfNeeded();
            });
    };
    if (quality >= 80) {
        loadDASHPlaybackInfoForVideo(quality, [this, quality, generation, resolveProgressive](const std::optional<QVariantMap>& info,
                                                                                              const KROptionalError&) {
            if (!m_loadedView)
                return;
            if (generation != m_engine.requestGeneration)
                return;
            if (info) {
                applyQualityOptions(*info);
                const std::optional<QVariantMap> picture = KRDASHH264VideoStream(*info, quality);
                const std::optional<QVariantMap> sound = KRDASHBestAACStream(*info);
                if (picture && sound && !KRDASHStreamURLString(*picture).isEmpty() && !KRDASHStreamURLString(*sound).isEmpty()) {
                    startDASHWithPlayInfo(*info, quality);
                    return;
                }
            }
            resolveProgressive();
        });
        return;
    }
    resolveProgressive();
}

void KRVideoDetailViewController::loadDASHPlaybackInfoForVideo(
    int quality, std::function<void(const std::optional<QVariantMap>&, const KROptionalError&)> completion)
{
    const KRVideo& video = *m_part.video;
    KRAccountClient* client = KRAccountClient::sharedClient();
    if (video.episodeID() < 1)
        client->loadDASHPlaybackInfoForAID(accountAID(), video.canonicalBVID(), video.cid(), quality, this, std::move(completion));
    else
        client->loadPGCDASHPlaybackInfoForEpisodeID(video.episodeID(), accountAID(), video.canonicalBVID(), video.cid(), quality, this,
                                                    std::move(completion));
}

void KRVideoDetailViewController::startDASHWithPlayInfo(const QVariantMap& info, int quality)
{
    const std::optional<QVariantMap> picture = KRDASHH264VideoStream(info, quality);
    const std::optional<QVariantMap> sound = KRDASHBestAACStream(info);
    if (!picture || !sound) {
        finishPlaybackConstructionFailureWithReason(QStringLiteral("dash-streams-missing"));
        return;
    }
    m_engine.actualQuality = KRLongLong(picture->value(QStringLiteral("id")));
    startDASHPlayback(KRDASHStreamURLString(*sound), KRDASHStreamURLString(*picture));
}

void KRVideoDetailViewController::startProgressiveCandidates(const QStringList& candidates)
{
    m_engine.candidates = candidates;
    m_engine.candidateIndex = 0;
    startMovieWithURLString(candidates.first());
}

// ---- the transport ----

void KRVideoDetailViewController::startMovieWithURLString(const QString& address)
{
    if (!installPersistentPlayerSurfaceIfNeeded())
        return;
    installPlayer(new KRPlaybackTransport(QUrl(address)));
    KRPlaybackTransport* player = m_engine.moviePlayer;
    if (m_engine.pendingInitialPlaybackTime > 0.05)
        player->setInitialPlaybackTime(m_engine.pendingInitialPlaybackTime);
    KRPlaybackAudioSession::sharedSession()->activateForPlaybackWithReason(QStringLiteral("progressive-start"));
    player->setUseApplicationAudioSession(true);
    // The start position is taken when the item is prepared.
    player->prepareToPlay();
    player->play();
    applyPlaybackRateToAllClocks(m_speed.playbackRate, false);
    if (auto* playerView = qobject_cast<View*>(player->view())) {
        // The recogniser only watches: presses reach the controls' own taps as before.
        auto* recognizer = new LongPressGestureRecognizer(playerView, [this] {
            if (m_engine.speedPressRecognizer)
                speedPressChanged(m_engine.speedPressRecognizer->state());
        });
        recognizer->setMinimumPressDuration(0.35);
        m_engine.speedPressRecognizer = recognizer;
    }
}

void KRVideoDetailViewController::startDASHPlayback(const QString& soundURL, const QString& pictureURL)
{
    if (!installPersistentPlayerSurfaceIfNeeded())
        return;
    installPlayer(new KRPlaybackTransport(QUrl(soundURL)));
    m_engine.dashPlaybackActive = true;
    m_engine.dashPictureURL = pictureURL;
    m_engine.dash = new KRDASHPlayback(m_engine.moviePlayer, QUrl(pictureURL), this);
    connect(m_engine.dash, &KRDASHPlayback::started, this, [this] {
        hideLoadingStatus();
        applyPlaybackRateToAllClocks(m_speed.playbackRate, false);
    });
    KRPlaybackAudioSession::sharedSession()->activateForPlaybackWithReason(QStringLiteral("dash-start"));
    m_engine.moviePlayer->setUseApplicationAudioSession(true);
    layoutApplicationVideoSurface();
    m_engine.dash->start(std::max(0.0, m_engine.pendingInitialPlaybackTime));
}

void KRVideoDetailViewController::installPlayer(KRPlaybackTransport* player)
{
    tearDownMoviePlayer();
    m_engine.moviePlayer = player;
    player->setParent(this);
    m_area->bindTransport(player, m_engine.pendingInitialPlaybackTime, this);
    m_area->controls()->setVideoTitle(m_part.video ? m_part.video->title() : QString());
    m_area->controls()->setQualityTitle(compactQualityTitleForValue(m_engine.actualQuality));
    m_engine.controlsTitledCID = m_part.video ? m_part.video->cid() : 0;
    m_engine.controlsTitledQuality = m_engine.actualQuality;
    m_area->controls()->setPlaying(true);

    auto& centre = platform::NotificationCenter::defaultCenter();
    m_engine.playerObservers.push_back(centre.addObserver(platform::media::MoviePlayerLoadStateDidChangeNotification, player,
                                                          [this](const platform::Notification&) { movieLoadStateChanged(); }));
    m_engine.playerObservers.push_back(centre.addObserver(platform::media::MoviePlayerPlaybackDidFinishNotification, player,
                                                          [this](const platform::Notification& note) { moviePlaybackFinished(note.userInfo); }));
    m_engine.playerObservers.push_back(centre.addObserver(platform::media::MoviePlayerPlaybackStateDidChangeNotification, player,
                                                          [this](const platform::Notification&) { moviePlaybackStateChanged(); }));
    m_engine.hasStartedPlayback = true;
    m_engine.expectedToPlay = true;
    m_engine.installedPlayable = false;
    m_area->showPlayButton(false);
    showLoadingStatus(QStringLiteral("正在缓冲…"), true);
    startPlayerControlsTimer();
    startDanmakuTimer();
    startHistoryTrackingIfNeeded();
}

void KRVideoDetailViewController::movieLoadStateChanged()
{
    KRPlaybackTransport* player = m_engine.moviePlayer;
    if (!player)
        return;
    const unsigned state = player->loadState();
    const bool stalled = state & 4;
    if ((state & 1) && !stalled) {
        m_engine.installedPlayable = true;
        refreshMediaOrientationFromSize(player->naturalSize());
        if (!m_engine.dash || m_engine.dash->isRunning())
            hideLoadingStatus();
        if (m_engine.dash && m_engine.dash->isWaitingToStart())
            m_engine.dash->attemptStart();
    }
    if (stalled && m_engine.expectedToPlay && !m_engine.stallActive) {
        m_engine.stallActive = true;
        const double now = platform::MainClock::now();
        if (m_engine.stallCount == 0 || now - m_engine.stallWindowStart > kStallWindow) {
            m_engine.stallWindowStart = now;
            m_engine.stallCount = 0;
        }
        ++m_engine.stallCount;
        record("playback-stall", QStringLiteral("count=%1 time=%2").arg(m_engine.stallCount).arg(player->currentPlaybackTime(), 0, 'f', 3));
        showLoadingStatus(QStringLiteral("网络较慢，正在缓冲…"), true);
        if (m_engine.dash)
            m_engine.dash->pauseForBuffering(QStringLiteral("sound-stalled"));
        m_delayed.schedule(QStringLiteral("checkPlaybackStallRecovery"), kStallCheckMs, [this] { checkPlaybackStallRecovery(); });
        if (m_engine.stallCount >= kStallsBeforeFallback && m_engine.actualQuality > 16 && !m_engine.stallFallbackRequested) {
            m_engine.stallFallbackRequested = true;
            fallbackTo360PAfterRepeatedStalls();
        }
    }
}

void KRVideoDetailViewController::checkPlaybackStallRecovery()
{
    KRPlaybackTransport* player = m_engine.moviePlayer;
    if (!player || !m_engine.stallActive)
        return;
    const unsigned state = player->loadState();
    if ((state & 1) && !(state & 4)) {
        m_engine.stallActive = false;
        hideLoadingStatus();
        if (m_engine.expectedToPlay) {
            if (m_engine.dash)
                m_engine.dash->play();
            else
                player->play();
        }
        return;
    }
    m_delayed.schedule(QStringLiteral("checkPlaybackStallRecovery"), kStallCheckMs, [this] { checkPlaybackStallRecovery(); });
}

void KRVideoDetailViewController::resetPlaybackStallRecovery()
{
    m_delayed.cancel(QStringLiteral("checkPlaybackStallRecovery"));
    m_engine.stallActive = false;
    m_engine.stallCount = 0;
    m_engine.stallWindowStart = 0;
    m_engine.stallFallbackRequested = false;
}

void KRVideoDetailViewController::fallbackTo360PAfterRepeatedStalls()
{
    record("playback-stall-fallback", QStringLiteral("from=%1 to=16 count=%2").arg(m_engine.actualQuality).arg(m_engine.stallCount));
    showDanmakuStatus(QStringLiteral("网络较慢，已切换到 360P"));
    m_delayed.schedule(QStringLiteral("fallbackTo360PAfterRepeatedStalls"), 0, [this] { switchToQuality(16); });
}

void KRVideoDetailViewController::moviePlaybackStateChanged()
{
    if (!m_engine.moviePlayer)
        return;
    if (m_engine.moviePlayer->playbackState() == 1 && (!m_engine.dash || m_engine.dash->isRunning()))
        hideLoadingStatus();
}

void KRVideoDetailViewController::moviePlaybackFinished(const QVariantMap& userInfo)
{
    const int reason = userInfo.value(platform::media::MoviePlayerPlaybackDidFinishReasonUserInfoKey).toInt();
    if (reason == 1) {
        failOverToNextCandidate(QStringLiteral("media-error"));
        return;
    }
    if (reason != 0)
        return;
    if (handleNaturalPlaybackContinuation())
        return;
    finishHistoryTrackingCompleted(true);
    m_engine.endedAwaitingReplay = true;
    m_engine.expectedToPlay = false;
    stopPlayerControlsTimer();
    stopDanmakuTimer();
    if (m_area->controls())
        m_area->controls()->setPlaying(false);
    m_area->showPlayButton(true);
}

void KRVideoDetailViewController::failOverToNextCandidate(const QString& reason)
{
    const double resumeTime = m_engine.moviePlayer ? std::max(0.0, m_engine.moviePlayer->currentPlaybackTime()) : 0;
    const bool installed = m_engine.installedPlayable;
    if (m_engine.candidateIndex + 1 < m_engine.candidates.size()) {
        ++m_engine.candidateIndex;
        record("playback-candidate-failover", QStringLiteral("index=%1 count=%2 reason=%3")
                                                  .arg(m_engine.candidateIndex).arg(m_engine.candidates.size()).arg(reason));
        if (resumeTime > 0.05)
            m_engine.pendingInitialPlaybackTime = resumeTime;
        startMovieWithURLString(m_engine.candidates.at(m_engine.candidateIndex));
        return;
    }
    if (!m_engine.freshResolveAttempted && m_part.video && !KRDetailPlaybackURLIsLocalFile(m_part.video->playURL())) {
        m_engine.freshResolveAttempted = true;
        const quint64 generation = m_engine.requestGeneration;
        const int quality = m_engine.actualQuality > 0 && m_engine.actualQuality < 80 ? m_engine.actualQuality : 64;
        record("playback-fresh-resolve", QStringLiteral("quality=%1 reason=%2").arg(quality).arg(reason));
        KRAPIClient::sharedClient()->loadPlayURLForVideo(
            m_part.video, quality, this, [this, generation, installed, resumeTime](const std::shared_ptr<KRVideo>& resolved, const KROptionalError&) {
                if (!m_loadedView)
                    return;
                if (generation != m_engine.requestGeneration)
                    return;
                const QStringList candidates = playableCandidates(resolved);
                if (candidates.isEmpty()) {
                    if (installed)
                        finishInstalledPlaybackAfterResolveFailure(QStringLiteral("fresh-resolve-failed"));
                    else
                        finishPlaybackConstructionFailureWithReason(QStringLiteral("fresh-resolve-failed"));
                    return;
                }
                if (resumeTime > 0.05)
                    m_engine.pendingInitialPlaybackTime = resumeTime;
                m_engine.candidates = candidates;
                m_engine.candidateIndex = 0;
                startMovieWithURLString(candidates.first());
            });
        return;
    }
    if (installed)
        finishInstalledPlaybackAfterResolveFailure(reason);
    else
        finishPlaybackConstructionFailureWithReason(reason);
}

void KRVideoDetailViewController::finishPlaybackConstructionFailureWithReason(const QString& reason)
{
    record("playback-construction-terminal-failure", QStringLiteral("reason=%1").arg(reason.isEmpty() ? QStringLiteral("unknown") : reason));
    tearDownMoviePlayer();
    m_engine.endedAwaitingReplay = false;
    m_engine.failedAwaitingRetry = false;
    m_engine.resumeDecisionResolved = false;
    m_engine.hasStartedPlayback = false;
    KRPlaybackAudioSession::sharedSession()->markPlaybackInactive();
    uninstallPersistentPlayerSurface();
    showLoadingStatus(QStringLiteral("播放失败，点播放重试"), false);
    m_area->showPlayButton(true);
}

void KRVideoDetailViewController::finishInstalledPlaybackAfterResolveFailure(const QString& reason)
{
    record("progressive-refresh-terminal-failure", QStringLiteral("reason=%1").arg(reason.isEmpty() ? QStringLiteral("unknown") : reason));
    const double time = m_engine.moviePlayer ? std::max(0.0, m_engine.moviePlayer->currentPlaybackTime()) : 0;
    tearDownMoviePlayer();
    m_engine.pendingInitialPlaybackTime = time;
    m_engine.failedAwaitingRetry = true;
    KRPlaybackAudioSession::sharedSession()->markPlaybackInactive();
    showLoadingStatus(QStringLiteral("播放中断，点播放重试"), false);
    m_area->showPlayButton(true);
}

// ---- stop and teardown ----

void KRVideoDetailViewController::stopPlaybackForNavigation()
{
    ++m_engine.requestGeneration;
    resetPlaybackResumeState();
    tearDownMoviePlayer();
    m_entry.detailFullscreenPending = false;
    m_entry.continuationFullscreenPending = false;
    KRPlaybackAudioSession::sharedSession()->markPlaybackInactive();
    uninstallPersistentPlayerSurface();
    m_engine.hasStartedPlayback = false;
    if (m_area->playerContainer()) {
        hideLoadingStatus();
        m_area->showPlayButton(true);
    }
    qInfo().noquote() << QStringLiteral("[KorvanePlaybackLifecycle] stopped reason=navigation");
}

void KRVideoDetailViewController::tearDownMoviePlayer()
{
    if (KRDASHPlayback* dash = m_engine.dash) {
        m_engine.dash = nullptr;
        dash->stop();
        // It may be the one calling: it goes once the call has returned.
        KRPlaybackTransportReleaseLater(dash);
    }
    m_engine.dashPlaybackActive = false;
    m_delayed.cancel(QStringLiteral("checkPlaybackStallRecovery"));
    m_engine.expectedToPlay = false;
    resetUnexpectedPauseRecovery();
    m_engine.endedAwaitingReplay = false;
    m_engine.failedAwaitingRetry = false;
    m_engine.stallActive = false;
    stopPlayerControlsTimer();
    m_area->unbindTransport();
    delete m_engine.speedPressRecognizer.data();
    KRPlaybackTransport* player = m_engine.moviePlayer;
    if (!player) {
        stopHistoryHeartbeatTimer();
        return;
    }
    finishHistoryTrackingCompleted(false);
    m_engine.playerObservers.clear();
    m_engine.moviePlayer = nullptr;
    player->stop();
    if (auto* playerView = qobject_cast<View*>(player->view()))
        playerView->removeFromSuperview();
    // The transport may be inside one of its own notifications: it goes once that returns.
    KRPlaybackTransportReleaseLater(player);
}

// ---- parts ----

std::shared_ptr<KRVideo> KRVideoDetailViewController::offlineVideoForPageIndex(int index) const
{
    if (!m_part.video)
        return nullptr;
    const QList<KRVideoPartInfo> pages = m_part.video->pages();
    if (index < 0 || (index >= pages.size() && !(pages.isEmpty() && index == 0)))
        return nullptr;
    auto part = std::make_shared<KRVideo>(*m_part.video);
    if (!pages.isEmpty()) {
        const KRVideoPartInfo page = pages.at(index);
        part->setCid(KRLongLong(page.value(QStringLiteral("cid"))));
        if (!KRDetailPlaybackURLIsLocalFile(m_part.video->playURL()) || index != m_part.selectedPageIndex) {
            part->setPlayURL(QString());
            part->setPlayURLCandidates({});
        }
    }
    return part;
}

void KRVideoDetailViewController::activatePageAtIndex(int index, bool autoplay)
{
    std::shared_ptr<KRVideo> part = offlineVideoForPageIndex(index);
    if (!part)
        return;
    tearDownMoviePlayer();
    m_part.video = part;
    m_part.selectedPageIndex = index;
    resetPlaybackResumeState();
    resetPlaybackStallRecovery();
    m_engine.mediaNaturalSize = QSizeF();
    m_area->dropDanmakus();
    updateInfo();
    resetDanmakuForCurrentCID();
    if (autoplay) {
        // The next part starts at its beginning.
        m_engine.resumeDecisionResolved = true;
        beginPlayback();
    } else {
        uninstallPersistentPlayerSurface();
        m_engine.hasStartedPlayback = false;
        m_area->showPlayButton(true);
    }
}

// ---- quality ----

void KRVideoDetailViewController::applyQualityOptions(const QVariantMap& info)
{
    QList<int> values;
    QStringList titles;
    const QVariantList accepted = info.value(QStringLiteral("accept_quality")).toList();
    const QVariantList descriptions = info.value(QStringLiteral("accept_description")).toList();
    for (int i = 0; i < accepted.size(); ++i) {
        const int value = int(KRLongLong(accepted.at(i)));
        if (value <= 0 || values.contains(value))
            continue;
        values.append(value);
        titles.append(KRString(descriptions.value(i)));
    }
    if (values.isEmpty())
        return;
    m_quality.values = values;
    m_quality.titles = titles;
    if (m_quality.sheetPending) {
        m_quality.sheetPending = false;
        showQualityActionSheetFromView(m_quality.sourceView);
    }
}

void KRVideoDetailViewController::loadQualityOptionsIfNeeded()
{
    if (!m_quality.values.isEmpty() || m_quality.optionsRequested || !m_part.video)
        return;
    m_quality.optionsRequested = true;
    loadDASHPlaybackInfoForVideo(m_engine.actualQuality > 0 ? m_engine.actualQuality : 64,
                                 [this](const std::optional<QVariantMap>& info, const KROptionalError&) {
                                     if (!m_loadedView)
                                         return;
                                     m_quality.optionsRequested = false;
                                     if (info)
                                         applyQualityOptions(*info);
                                 });
}

QString KRVideoDetailViewController::qualityTitleForValue(int quality) const
{
    return KRQualityTitleForValue(quality, m_quality.values, m_quality.titles);
}

QString KRVideoDetailViewController::compactQualityTitleForValue(int quality) const
{
    return KRCompactQualityTitleForValue(quality);
}

int KRVideoDetailViewController::activePlaybackQuality() const { return m_engine.actualQuality; }

void KRVideoDetailViewController::switchToQuality(int quality)
{
    // Until the switch keeps the old stream playing while the new one loads, a choice
    // restarts the part at that quality from where it was.
    const double time = m_engine.moviePlayer ? std::max(0.0, m_engine.moviePlayer->currentPlaybackTime()) : 0;
    m_quality.selectedQuality = quality;
    m_engine.pendingInitialPlaybackTime = time;
    m_engine.resumeDecisionResolved = true;
    const bool stallFallback = m_engine.stallFallbackRequested;
    tearDownMoviePlayer();
    m_engine.stallFallbackRequested = stallFallback;
    beginPlaybackAtQuality(quality, ++m_engine.requestGeneration);
}

// ---- history ----

void KRVideoDetailViewController::startHistoryTrackingIfNeeded()
{
    if (m_engine.historyTracking || !m_part.video)
        return;
    m_engine.historyTracking = true;
    m_engine.historyStartTS = QDateTime::currentSecsSinceEpoch();
    reportHistory(1);
    m_engine.historyTimer.start(kHistoryIntervalMs, [this] { reportHistory(0); });
}

void KRVideoDetailViewController::reportHistory(int playType)
{
    if (!m_part.video)
        return;
    const double time = m_engine.moviePlayer ? std::max(0.0, m_engine.moviePlayer->currentPlaybackTime()) : 0;
    const double duration = m_engine.moviePlayer ? std::max(0.0, m_engine.moviePlayer->duration()) : 0;
    const bool completed = playType == 4 && m_engine.historyCompleted;
    const bool offline = KRDetailPlaybackURLIsLocalFile(m_part.video->playURL())
                         || !KROfflineCacheManager::sharedManager()->cachedDASHPlaybackInfoForVideo(*m_part.video).isEmpty();
    KRLocalHistoryStore::sharedStore().recordVideo(m_part.video, completed ? duration : time, duration, completed, offline);
    const qint32 played = completed ? -1 : qint32(time);
    const qint32 real = qint32(QDateTime::currentSecsSinceEpoch() - m_engine.historyStartTS);
    KRAccountClient::sharedClient()->reportPlaybackHeartbeatForAID(
        accountAID(), m_part.video->cid(), m_engine.historyStartTS, playType, played, real, qint32(duration), qint32(time),
        m_engine.actualQuality, this, [](bool, const QString&, const QVariant&) {});
}

void KRVideoDetailViewController::finishHistoryTrackingCompleted(bool completed)
{
    if (m_engine.historyTracking) {
        m_engine.historyCompleted = completed;
        reportHistory(4);
        m_engine.historyCompleted = false;
        m_engine.historyTracking = false;
    }
    stopHistoryHeartbeatTimer();
}

void KRVideoDetailViewController::stopHistoryHeartbeatTimer()
{
    m_engine.historyTimer.stop();
}
