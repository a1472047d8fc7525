// The controls timer, keeping to the user's intent to play when the player pauses by itself,
// the controls' callbacks, replay and retry, and what follows the natural end of a part.

#include "video/KRVideoDetailViewController.h"

#include "model/KRVideo.h"
#include "platform/foundation/MainClock.h"
#include "platform/media/MediaPlayer.h"
#include "platform/uikit/Button.h"
#include "playback/KRDASHPlayback.h"
#include "playback/KRDanmakuRenderer.h"
#include "playback/KRPlaybackAudioSession.h"
#include "playback/KRPlaybackTransport.h"
#include "playback/KRPlayerControlsView.h"
#include "store/KRDiagnostics.h"
#include "store/KRPreferences.h"

#include <cmath>

namespace {

const char* yesNo(bool value) { return value ? "YES" : "NO"; }

constexpr double kFirstRetryDelay = 0.45;
constexpr double kRetrySpacing = 0.9;
constexpr int kMaximumRetries = 5;
constexpr double kGiveUpAfter = 6.0;

QString seconds(double value) { return QString::number(std::max(0.0, value), 'f', 3); }

} // namespace

void KRVideoDetailViewController::startPlayerControlsTimer()
{
    stopPlayerControlsTimer();
    if (!m_engine.moviePlayer || m_engine.endedAwaitingReplay || m_engine.failedAwaitingRetry)
        return;
    const int interval = KRPreferences::sharedPreferences().isA4OrEarlierDevice() ? 250 : 200;
    m_engine.controlsTimer.start(interval, [this] { playerControlsTimerFired(true); });
    playerControlsTimerFired(false);
}

void KRVideoDetailViewController::stopPlayerControlsTimer()
{
    m_engine.controlsTimer.stop();
}

void KRVideoDetailViewController::playerControlsTimerFired(bool fromTimer)
{
    if (m_engine.endedAwaitingReplay || m_engine.failedAwaitingRetry)
        return;
    KRPlaybackTransport* player = m_engine.moviePlayer;
    KRPlayerControlsView* controls = m_area->controls();
    if (!player || !controls)
        return;
    const bool intent = maintainPlaybackIntent();
    if (!m_engine.moviePlayer)
        return;
    const double now = platform::MainClock::now();
    if (fromTimer && !controls->areControlsVisible() && m_engine.lastControlsVisualUpdate >= 0
        && now - m_engine.lastControlsVisualUpdate < 1.0)
        return;
    m_engine.lastControlsVisualUpdate = now;
    const double duration = player->duration();
    const double current = std::max(0.0, player->currentPlaybackTime());
    controls->updateCurrentTime(current, duration);
    controls->setPlaying(player->playbackState() == 1 || intent);
    // Titles change with the part and the quality only: set when they do.
    const qint64 cid = m_part.video ? m_part.video->cid() : 0;
    if (cid != m_engine.controlsTitledCID || m_engine.actualQuality != m_engine.controlsTitledQuality) {
        m_engine.controlsTitledCID = cid;
        m_engine.controlsTitledQuality = m_engine.actualQuality;
        controls->setVideoTitle(m_part.video ? m_part.video->title() : QString());
        controls->setQualityTitle(compactQualityTitleForValue(m_engine.actualQuality));
    }
    if (!m_engine.dashPlaybackActive && m_engine.mediaNaturalSize.isEmpty())
        refreshMediaOrientationFromSize(player->naturalSize());
}

void KRVideoDetailViewController::resetUnexpectedPauseRecovery()
{
    m_engine.unexpectedPauseBeganAt = 0;
    m_engine.unexpectedPauseLastRecoveryAt = 0;
    m_engine.unexpectedPauseRecoveryCount = 0;
}

bool KRVideoDetailViewController::maintainPlaybackIntent()
{
    KRPlaybackTransport* player = m_engine.moviePlayer;
    if (!player || !m_engine.expectedToPlay || m_engine.endedAwaitingReplay || m_engine.failedAwaitingRetry) {
        resetUnexpectedPauseRecovery();
        return false;
    }
    KRDASHPlayback* dash = m_engine.dash;
    if (dash && (!dash->isRunning() || dash->isRebuffering()))
        return true;
    const int state = player->playbackState();
    const unsigned load = player->loadState();
    const double time = player->currentPlaybackTime();
    const bool dashActive = dash != nullptr;
    if (state == 1) {
        if (m_engine.unexpectedPauseBeganAt > 0)
            KRDiagnostics::recordEvent(QStringLiteral("unexpected-pause-recovered"),
                                       QStringLiteral("elapsed=%1 attempts=%2 time=%3")
                                           .arg(seconds(platform::MainClock::now() - m_engine.unexpectedPauseBeganAt))
                                           .arg(m_engine.unexpectedPauseRecoveryCount)
                                           .arg(seconds(time)));
        resetUnexpectedPauseRecovery();
        return true;
    }
    if ((load & 4) || !(load & 3))
        return true;
    const double now = platform::MainClock::now();
    if (m_engine.unexpectedPauseBeganAt <= 0) {
        m_engine.unexpectedPauseBeganAt = now;
        KRDiagnostics::recordEvent(QStringLiteral("unexpected-pause-observed"),
                                   QStringLiteral("state=%1 load=%2 time=%3 dash=%4")
                                       .arg(state).arg(load).arg(seconds(time)).arg(QLatin1String(yesNo(dashActive))));
        return true;
    }
    if (now - m_engine.unexpectedPauseBeganAt >= kFirstRetryDelay && now - m_engine.unexpectedPauseLastRecoveryAt >= kRetrySpacing
        && m_engine.unexpectedPauseRecoveryCount < kMaximumRetries) {
        m_engine.unexpectedPauseLastRecoveryAt = now;
        ++m_engine.unexpectedPauseRecoveryCount;
        KRPlaybackAudioSession::sharedSession()->activateForPlaybackWithReason(QStringLiteral("unexpected-pause-recovery"));
        player->setUseApplicationAudioSession(true);
        player->play();
        const float rate = m_speed.speedHoldActive ? 2.0f : m_speed.playbackRate > 0 ? m_speed.playbackRate : 1.0f;
        player->setCurrentPlaybackRate(rate);
        if (dash && dash->isRunning())
            dash->picturePlayer()->setRate(rate);
        KRDiagnostics::recordEvent(QStringLiteral("unexpected-pause-retry"),
                                   QStringLiteral("attempt=%1 state=%2 time=%3 dash=%4")
                                       .arg(m_engine.unexpectedPauseRecoveryCount).arg(state).arg(seconds(time))
                                       .arg(QLatin1String(yesNo(dashActive))));
    }
    if (now - m_engine.unexpectedPauseBeganAt >= kGiveUpAfter && m_engine.unexpectedPauseRecoveryCount >= kMaximumRetries) {
        m_engine.expectedToPlay = false;
        if (dash)
            dash->pause();
        KRDiagnostics::recordEvent(QStringLiteral("unexpected-pause-give-up"),
                                   QStringLiteral("state=%1 load=%2 time=%3").arg(state).arg(load).arg(seconds(time)));
        showDanmakuStatus(QStringLiteral("播放已暂停，点播放继续"));
        resetUnexpectedPauseRecovery();
        return false;
    }
    return true;
}

void KRVideoDetailViewController::playerControlsDidTogglePlayback(KRPlayerControlsView*)
{
    KRPlaybackTransport* player = m_engine.moviePlayer;
    if (!player)
        return;
    if (m_engine.endedAwaitingReplay) {
        restartPlaybackFromBeginning();
        return;
    }
    if (m_engine.failedAwaitingRetry) {
        retryPlaybackAfterTerminalFailure();
        return;
    }
    resetUnexpectedPauseRecovery();
    if (m_engine.expectedToPlay) {
        m_engine.expectedToPlay = false;
        if (m_engine.dash)
            m_engine.dash->pause();
        else
            player->pause();
        reportHistory(2);
    } else {
        m_engine.expectedToPlay = true;
        KRPlaybackAudioSession::sharedSession()->activateForPlaybackWithReason(
            m_engine.dash ? QStringLiteral("dash-controls-play") : QStringLiteral("progressive-controls-play"));
        player->setUseApplicationAudioSession(true);
        if (m_engine.dash)
            m_engine.dash->play();
        else
            player->play();
        reportHistory(3);
    }
    playerControlsTimerFired(false);
}

void KRVideoDetailViewController::playerControlsSeekToTime(KRPlayerControlsView*, double time)
{
    KRPlaybackTransport* player = m_engine.moviePlayer;
    if (!player)
        return;
    const double target = std::max(0.0, time);
    if (m_engine.dash)
        m_engine.dash->seekToTime(target, m_engine.expectedToPlay || player->playbackState() == 1);
    else
        player->setCurrentPlaybackTime(target);
    m_area->danmakuRenderer()->resetForPlaybackTime(target);
}

void KRVideoDetailViewController::playerControlsDidRequestQuality(KRPlayerControlsView* view)
{
    showQualityActionSheetFromView(view->qualityButton());
}

void KRVideoDetailViewController::playerControlsDidRequestSpeed(KRPlayerControlsView* view)
{
    speedButtonTapped(view);
}

void KRVideoDetailViewController::playerControlsDidRequestMore(KRPlayerControlsView* view)
{
    showPlayerMoreActionSheetFromView(view->moreButton());
}

void KRVideoDetailViewController::retryPlaybackAfterTerminalFailure()
{
    if (!m_engine.failedAwaitingRetry)
        return;
    const double time = m_engine.pendingInitialPlaybackTime > 0.05 ? m_engine.pendingInitialPlaybackTime
                        : m_engine.moviePlayer                     ? std::max(0.0, m_engine.moviePlayer->currentPlaybackTime())
                                                                   : 0;
    KRDiagnostics::recordEvent(QStringLiteral("playback-terminal-retry"),
                               QStringLiteral("time=%1 fullscreen=NO identity=%2")
                                   .arg(seconds(time), m_part.video ? m_part.video->feedIdentity() : QString()));
    tearDownMoviePlayer();
    m_engine.hasStartedPlayback = false;
    m_engine.failedAwaitingRetry = false;
    m_engine.pendingInitialPlaybackTime = time;
    m_engine.resumeDecisionResolved = true;
    beginPlayback();
}

void KRVideoDetailViewController::restartPlaybackFromBeginning()
{
    m_engine.endedAwaitingReplay = false;
    m_engine.failedAwaitingRetry = false;
    KRPlaybackTransport* player = m_engine.moviePlayer;
    if (!player) {
        requestPlaybackAfterResumeCheck();
        return;
    }
    m_area->showPlayButton(false);
    m_area->danmakuRenderer()->resetForPlaybackTime(0);
    startDanmakuTimer();
    m_engine.expectedToPlay = true;
    startPlayerControlsTimer();
    startHistoryTrackingIfNeeded();
    if (m_engine.dash) {
        m_engine.dash->seekToTime(0, true);
        KRDiagnostics::recordEvent(QStringLiteral("playback-replay"), QStringLiteral("restart DASH dual tracks from zero"));
    } else {
        player->setCurrentPlaybackTime(0);
        player->play();
        KRDiagnostics::recordEvent(QStringLiteral("playback-replay"), QStringLiteral("restart from zero with danmaku timeline"));
    }
    if (m_area->controls()) {
        m_area->controls()->setPlaying(true);
        m_area->controls()->updateCurrentTime(0, player->duration());
    }
    playerControlsTimerFired(false);
}

bool KRVideoDetailViewController::handleNaturalPlaybackContinuation()
{
    KRPreferences& preferences = KRPreferences::sharedPreferences();
    const int loop = preferences.playbackLoopMode();
    if (loop == 1) {
        finishHistoryTrackingCompleted(true);
        restartPlaybackFromBeginning();
        startHistoryTrackingIfNeeded();
        showDanmakuStatus(QStringLiteral("单集循环"));
        return true;
    }
    if (loop == 0 && !preferences.autoContinueEnabled())
        return false;
    const int count = m_part.video ? std::max(1, int(m_part.video->pages().size())) : 1;
    const int next = m_part.selectedPageIndex + 1;
    if (next < count) {
        finishHistoryTrackingCompleted(true);
        KRDiagnostics::recordEvent(QStringLiteral("playback-auto-next-part"),
                                   QStringLiteral("from=%1 to=%2 count=%3").arg(m_part.selectedPageIndex).arg(next).arg(count));
        activatePageAtIndex(next, true);
        showDanmakuStatus(QStringLiteral("自动播放 P%1").arg(next + 1));
        return true;
    }
    KRDiagnostics::recordEvent(QStringLiteral("playback-collection-continuation-deferred"),
                               QStringLiteral("identity=%1 finalPart=%2 pageCount=%3 loop=%4")
                                   .arg(m_part.video ? m_part.video->feedIdentity() : QString())
                                   .arg(m_part.selectedPageIndex).arg(count).arg(loop));
    if (loop != 2)
        return false;
    finishHistoryTrackingCompleted(true);
    if (count == 1) {
        restartPlaybackFromBeginning();
        startHistoryTrackingIfNeeded();
    } else {
        activatePageAtIndex(0, true);
    }
    showDanmakuStatus(QStringLiteral("列表循环"));
    return true;
}
