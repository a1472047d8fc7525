// The controls as the playback session drives them, the controls' callbacks, speed and the
// 2.0x hold, replay and retry, and what follows the natural end of a part.

#include "video/KRVideoDetailViewController.h"

#include "model/KRVideo.h"
#include "platform/foundation/MainClock.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Button.h"
#include "playback/KRBackgroundContinuation.h"
#include "playback/KRDASHPlayback.h"
#include "playback/KRDanmakuRenderer.h"
#include "playback/KRPlaybackLifecycle.h"
#include "playback/KRPlaybackSession.h"
#include "playback/KRPlaybackTransport.h"
#include "playback/KRPlayerControlsView.h"
#include "store/KRDiagnostics.h"
#include "store/KRPreferences.h"
#include "video/KRVideoDetailSupport.h"

#include <cmath>

namespace {

QString seconds(double value) { return QString::number(std::max(0.0, value), 'f', 3); }

} // namespace

// ---- what the session tells ----

bool KRVideoDetailViewController::isPlaybackExpectedToPlay() const { return m_session && m_session->isExpectedToPlay(); }

bool KRVideoDetailViewController::isPlaybackEndedAwaitingReplay() const
{
    return m_session && m_session->state() == KRPlaybackSession::State::Ended;
}

bool KRVideoDetailViewController::isPlaybackFailedAwaitingRetry() const
{
    return m_session && m_session->state() == KRPlaybackSession::State::Interrupted;
}

int KRVideoDetailViewController::playbackStallCount() const { return m_session ? m_session->stallCount() : 0; }

KRPlaybackTransport* KRVideoDetailViewController::moviePlayer() const { return m_area ? m_area->transport() : nullptr; }

KRDASHPlayback* KRVideoDetailViewController::dashPlayback() const { return m_area ? m_area->dash() : nullptr; }

float KRVideoDetailViewController::playbackRate() const { return m_session ? m_session->rate() : 1.0f; }

void KRVideoDetailViewController::controlsTickForTesting() { refreshControlsNow(); }

void KRVideoDetailViewController::refreshControlsNow()
{
    if (!m_session || !m_session->media())
        return;
    m_area->refreshOnNextProgress();
    m_session->playerControlsTimerFired();
}

void KRVideoDetailViewController::playbackProgressed(double time, double duration, bool playing, bool throttled)
{
    const bool ended = m_session && m_session->state() == KRPlaybackSession::State::Ended;
    // The composer's pause is a pause to the user, though playback means to go on after it.
    if (m_area->danmakuComposer()->isPausedForComposer())
        playing = false;
    if (!m_area->showProgress(time, duration, playing, throttled, ended))
        return;
    updateControlsTitles();
    if (!m_area->dash() && !m_part.hasMediaNaturalSize() && m_area->transport())
        m_part.refreshMediaOrientationFromSize(m_area->transport()->naturalSize());
    enterDetailFullscreenIfPending();
}

void KRVideoDetailViewController::updateControlsTitles()
{
    m_area->showTitles(m_part.video() ? m_part.video()->cid() : 0, activePlaybackQuality(),
                       m_part.video() ? m_part.video()->title() : QString());
}

// ---- the controls' callbacks ----

void KRVideoDetailViewController::playerControlsDidTogglePlayback(KRPlayerControlsView*)
{
    if (!m_session || !m_session->media())
        return;
    if (m_session->state() == KRPlaybackSession::State::Ended) {
        restartPlaybackFromBeginning();
        return;
    }
    // While the danmaku composer keeps playback paused the controls show a pause: a tap plays.
    if (m_area->danmakuComposer()->playTappedWhilePaused())
        m_session->play();
    else
        m_session->togglePlayback();
    if (KRPlayerControlsView* controls = m_area->controls())
        controls->setPlaying(m_session->isExpectedToPlay());
    // Played on from a time sought after the end: the end's play button and still lines go.
    if (m_session->isExpectedToPlay()) {
        m_area->showPlayButton(false);
        startDanmakuTimer();
    }
    refreshControlsNow();
}

void KRVideoDetailViewController::playerControlsSeekToTime(KRPlayerControlsView*, double time)
{
    if (!m_session || !m_session->media())
        return;
    const double target = std::max(0.0, time);
    m_session->seek(target);
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

// ---- speed and the hold ----

void KRVideoDetailViewController::speedPressChanged(int state)
{
    if (!m_session || !m_session->media())
        return;
    if (state == 1) {
        m_session->beginHold();
        showDanmakuStatus(QStringLiteral("按住 2.0x"));
    } else if (state >= 3 && state <= 5) {
        m_session->endHold();
        showDanmakuStatus(QStringLiteral("恢复 %1").arg(KRRestoredRateText(m_session->rate())));
    }
}

// ---- retry and replay ----

void KRVideoDetailViewController::retryPlaybackAfterTerminalFailure()
{
    if (!isPlaybackFailedAwaitingRetry())
        return;
    const double time = m_resume.startTime() > 0.05 ? m_resume.startTime() : m_session->interruptedAt();
    // The failure left the full screen; the value it came in is the one kept for this.
    const bool fullscreen = m_retryIntoFullscreen || m_fullscreen->isShown() || m_fullscreen->isDetailPending()
                            || m_fullscreen->isContinuationPending();
    m_retryIntoFullscreen = false;
    KRDiagnostics::recordEvent(QStringLiteral("playback-terminal-retry"),
                               QStringLiteral("time=%1 fullscreen=%2 identity=%3")
                                   .arg(seconds(time), fullscreen ? QStringLiteral("YES") : QStringLiteral("NO"),
                                        m_part.video() ? m_part.video()->feedIdentity() : QString()));
    tearDownMoviePlayer();
    setDetailFullscreenPending(fullscreen);
    setContinuationFullscreenPending(fullscreen);
    m_part.setStartedPlayback(false);
    m_resume.resolveAt(time);
    beginPlayback();
}

void KRVideoDetailViewController::restartPlaybackFromBeginning()
{
    if (!m_session || !m_session->media()) {
        requestPlaybackAfterResumeCheck();
        return;
    }
    m_area->showPlayButton(false);
    m_area->danmakuRenderer()->resetForPlaybackTime(0);
    // In the background nothing is drawn: the lines wait for the foreground, as the tick does.
    if (!isInBackgroundForPlayback())
        startDanmakuTimer();
    m_session->restartPlaybackFromBeginning();
    if (KRPlayerControlsView* controls = m_area->controls())
        controls->setPlaying(true);
}

bool KRVideoDetailViewController::isInBackgroundForPlayback()
{
    return session()->lifecycle()->isInBackground() || platform::uikit::Application::shared().applicationState() == 2;
}

void KRVideoDetailViewController::activatePageAtIndexContinuing(int index)
{
    // A part started by the continuation in the background may finish resolving there.
    KRBackgroundContinuation* continuation = session()->backgroundContinuation();
    continuation->setArmed(isInBackgroundForPlayback());
    activatePageAtIndex(index, true);
    continuation->setArmed(false);
}

bool KRVideoDetailViewController::handleNaturalPlaybackContinuation()
{
    KRPreferences& preferences = KRPreferences::sharedPreferences();
    const int loop = preferences.playbackLoopMode();
    // The session has reported the part's end (play type 4) already; a replay starts anew.
    if (loop == 1) {
        restartPlaybackFromBeginning();
        showDanmakuStatus(QStringLiteral("单集循环"));
        return true;
    }
    if (loop == 0 && !preferences.autoContinueEnabled())
        return false;
    const int count = m_part.video() ? std::max(1, int(m_part.video()->pages().size())) : 1;
    const int next = m_part.selectedPageIndex() + 1;
    if (next < count) {
        // The next part comes back into the full screen this one was shown in.
        if (m_fullscreen->isShown()) {
            setDetailFullscreenPending(true);
            setContinuationFullscreenPending(true);
        }
        KRDiagnostics::recordEvent(QStringLiteral("playback-auto-next-part"),
                                   QStringLiteral("from=%1 to=%2 count=%3").arg(m_part.selectedPageIndex()).arg(next).arg(count));
        activatePageAtIndexContinuing(next);
        showDanmakuStatus(QStringLiteral("自动播放 P%1").arg(next + 1));
        return true;
    }
    KRDiagnostics::recordEvent(QStringLiteral("playback-collection-continuation-deferred"),
                               QStringLiteral("identity=%1 finalPart=%2 pageCount=%3 loop=%4")
                                   .arg(m_part.video() ? m_part.video()->feedIdentity() : QString())
                                   .arg(m_part.selectedPageIndex()).arg(count).arg(loop));
    if (loop != 2)
        return false;
    if (count == 1) {
        restartPlaybackFromBeginning();
    } else {
        activatePageAtIndexContinuing(0);
    }
    showDanmakuStatus(QStringLiteral("列表循环"));
    return true;
}
