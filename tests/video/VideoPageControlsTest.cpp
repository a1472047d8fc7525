// The controls as the video page keeps them in step with playback, on real libmpv with the
// generated clips: the retry after a failure in the full screen, a loop replay in the
// background, the tick during a rotation and during a switch, the sources the play button
// gives a switch's intent, and the background task a navigation or the page's end lets go.
#include "VideoPageTesting.h"

#include "platform/device/BackgroundTask.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/Slider.h"
#include "playback/KRDASHPlayback.h"
#include "playback/KRDanmakuRenderer.h"
#include "playback/KRPlaybackLifecycle.h"
#include "playback/KRPlaybackSession.h"
#include "playback/KRPlaybackTransport.h"
#include "playback/KRPlayerControlsView.h"
#include "shared/KRPlayerFullscreen.h"
#include "video/KRVideoFullscreen.h"

#include <QRegularExpression>
#include <QTest>

using namespace platform::uikit;
using namespace videotest;
using testsupport::PlaybackFixtures;

namespace {

class VideoPageControlsTest : public VideoPageInFrontTest {
protected:
    static QString log() { return diagnosticsLog(); }
    static QString timeText(KRVideoDetailViewController* page)
    {
        return page->playerControls()->findChild<Label*>(QStringLiteral("currentTimeLabel"))->text();
    }
    static float progress(KRVideoDetailViewController* page)
    {
        return page->playerControls()->findChild<Slider*>(QStringLiteral("progressSlider"))->value();
    }
    static Button* playPauseButton(KRVideoDetailViewController* page)
    {
        return page->playerControls()->findChild<Button*>(QStringLiteral("playPauseButton"));
    }
    static void toBackground()
    {
        Application::shared().resignActiveForTesting();
        Application::shared().enterBackgroundForTesting();
    }
    static void toForeground()
    {
        Application::shared().enterForegroundForTesting();
        Application::shared().becomeActiveForTesting();
    }
    // The player plays on for `seconds` more, and the main clock goes on at least as long.
    static bool playOnFor(KRVideoDetailViewController* page, double seconds)
    {
        const double from = page->moviePlayer()->currentPlaybackTime();
        const double clock = platform::MainClock::now();
        return advanceUntil([&] {
            return page->moviePlayer()->currentPlaybackTime() >= from + seconds && platform::MainClock::now() - clock >= seconds;
        });
    }
    // Neither the time nor the slider moves while the player plays on.
    void expectControlsLeftAsTheyAre(KRVideoDetailViewController* page, const char* when)
    {
        const float shown = progress(page);
        const QString text = timeText(page);
        ASSERT_TRUE(playOnFor(page, 1.3)) << when;
        EXPECT_EQ(progress(page), shown) << when;
        EXPECT_EQ(timeText(page), text) << when;
    }
};

} // namespace

// ---- the retry after a terminal failure ----

TEST_F(VideoPageControlsTest, AFailureMetInTheFullScreenRetriesIntoTheFullScreen)
{
    // The file comes in pieces, so the player keeps asking for more as it plays.
    play.setMediaFault(16, PlaybackFixtures::MediaFault::Cut, 32 * 1024);
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page));
    enterFullscreenByItsButton(page);
    ASSERT_FALSE(HasFatalFailure());
    // Every address of the part goes, the fresh one too: the failure is for good.
    play.setMediaFault(16, PlaybackFixtures::MediaFault::Missing);
    KR_ADVANCE_UNTIL(page->isPlaybackFailedAwaitingRetry());
    EXPECT_TRUE(log().contains(QStringLiteral("[progressive-refresh-terminal-failure]")));
    // Shown upright, where the play button retries.
    EXPECT_FALSE(page->fullscreen()->isShown());
    play.setMediaFault(16, PlaybackFixtures::MediaFault::None);
    clickThroughWindow(part<Button>(page, "playButton"));
    EXPECT_TRUE(log().contains(QRegularExpression(QStringLiteral("\\[playback-terminal-retry\\] time=[0-9.]+ fullscreen=YES identity="))));
    KR_ADVANCE_UNTIL(playing(page) && page->fullscreen()->isShown());
}

TEST_F(VideoPageControlsTest, AFailureMetUprightRetriesUpright)
{
    play.setMediaFault(16, PlaybackFixtures::MediaFault::Cut, 32 * 1024);
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page));
    play.setMediaFault(16, PlaybackFixtures::MediaFault::Missing);
    KR_ADVANCE_UNTIL(page->isPlaybackFailedAwaitingRetry());
    play.setMediaFault(16, PlaybackFixtures::MediaFault::None);
    clickThroughWindow(part<Button>(page, "playButton"));
    EXPECT_TRUE(log().contains(QRegularExpression(QStringLiteral("\\[playback-terminal-retry\\] time=[0-9.]+ fullscreen=NO identity="))));
    KR_ADVANCE_UNTIL(playing(page));
    ASSERT_TRUE(playOnFor(page, 0.5));
    EXPECT_FALSE(page->fullscreen()->isShown());
}

// ---- a loop replay in the background ----

TEST_F(VideoPageControlsTest, ALoopReplayInTheBackgroundLeavesTheDanmakuAndTheTickStoppedUntilTheForeground)
{
    KRPreferences::sharedPreferences().setPlaybackLoopMode(1);
    KRPreferences::sharedPreferences().setBackgroundAudioEnabled(true);
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page) && !page->danmakuRenderer()->danmakus().isEmpty());
    toBackground();
    ASSERT_TRUE(page->playbackSession()->lifecycle()->isListeningInBackground());
    const qsizetype mark = log().size();
    page->playerControlsSeekToTime(page->playerControls(), 11.0);
    KR_ADVANCE_UNTIL(log().mid(mark).contains(QStringLiteral("[playback-replay]")));
    // The sound plays on from 0 past the part's first lines, with nothing drawn or told.
    KR_ADVANCE_UNTIL(playing(page) && page->moviePlayer()->currentPlaybackTime() < 5.0);
    const QString shown = timeText(page);
    ASSERT_TRUE(playOnFor(page, 2.2));
    EXPECT_EQ(timeText(page), shown);
    EXPECT_EQ(page->danmakuRenderer()->activeCount(), 0);
    EXPECT_FALSE(page->danmakuRenderer()->isDisplayLinkRunning());
    // Back in front, both run again.
    toForeground();
    KR_ADVANCE_UNTIL(timeText(page) != shown);
}

// ---- the tick during a rotation and during a switch ----

TEST_F(VideoPageControlsTest, TheControlsAreLeftAsTheyAreWhileTheDeviceTurnsEitherWay)
{
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page) && page->moviePlayer()->currentPlaybackTime() > 0.5);
    KRPlayerFullscreen* fullscreen = page->fullscreen()->player();
    // The shell's rotation hooks, as it sends them for a turn to landscape and back.
    page->kr_enterFullscreenForLandscapeIfNeeded();
    ASSERT_EQ(fullscreen->phase(), 1);
    expectControlsLeftAsTheyAre(page, "landscape requested");
    page->kr_layoutPlaybackDuringRotation();
    ASSERT_EQ(fullscreen->phase(), 2);
    expectControlsLeftAsTheyAre(page, "landscape laid out");
    page->kr_restoreFullscreenAfterLandscapeIfNeeded();
    ASSERT_EQ(fullscreen->phase(), 4);
    expectControlsLeftAsTheyAre(page, "portrait requested");
    page->kr_layoutPlaybackDuringRotation();
    ASSERT_EQ(fullscreen->phase(), 5);
    expectControlsLeftAsTheyAre(page, "portrait laid out");
    page->kr_completePlaybackRotationLayout();
    ASSERT_EQ(fullscreen->phase(), 0);
    const float shown = progress(page);
    KR_ADVANCE_UNTIL(progress(page) != shown);
}

TEST_F(VideoPageControlsTest, HiddenControlsFollowASwitchOnEveryTick)
{
    KRPreferences::sharedPreferences().setPreferredQuality(64);
    play.setQualityFault(80, PlaybackFixtures::QualityFault::Held);
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page) && !page->qualityValues().isEmpty() && !page->playerControls()->areControlsVisible());
    page->switchToQualityAtIndex(int(page->qualityValues().indexOf(80)));
    KR_ADVANCE_UNTIL(play.heldReplyCount() >= 1);
    ASSERT_TRUE(page->playbackSession()->isSwitchingQuality());
    ASSERT_FALSE(page->playerControls()->areControlsVisible());
    for (int i = 0; i < 8; ++i) {
        // The player moves on by more than a tick's worth, then one tick comes.
        const double from = page->moviePlayer()->currentPlaybackTime();
        KR_WAIT_UNTIL(page->moviePlayer()->currentPlaybackTime() > from + 0.3);
        platform::MainClock::advanceForTesting(0.2);
        const double duration = page->moviePlayer()->duration();
        ASSERT_GT(duration, 0);
        EXPECT_NEAR(progress(page) * duration, page->moviePlayer()->currentPlaybackTime(), 0.2) << "tick " << i;
    }
    play.releaseHeldReplies();
}

// ---- a drag while paused ----

// 1080P plays on the pair, the user pauses and drags the progress slider to a little past a
// whole second: the sound, the picture and the time shown all stand at the time let go at.
TEST_F(VideoPageControlsTest, APausedDragOnThePairLandsBothHalvesAndTheTimeShownWhereItWasLetGo)
{
    KRPreferences::sharedPreferences().setPreferredQuality(80);
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page) && page->dashPlayback() && page->dashPlayback()->isRunning()
                     && page->moviePlayer()->currentPlaybackTime() > 1.0 && pauseWatchIdle() && stallWatchIdle(page));
    clickPlayPause(page);
    ASSERT_FALSE(HasFatalFailure());
    KR_ADVANCE_UNTIL(page->moviePlayer()->playbackState() == KRPlaybackStatePaused);
    KRDASHPlayback* pair = page->dashPlayback();
    const double duration = page->moviePlayer()->duration();
    ASSERT_GT(duration, 10);

    // Pressed about where the slider's thumb stands, dragged right until the hint reads a time just past 0:07.
    auto* slider = page->playerControls()->findChild<Slider*>(QStringLiteral("progressSlider"));
    ASSERT_TRUE(slider && slider->isVisible());
    const double thumb = 7 + slider->value() * (slider->width() - 14);
    QPoint at = slider->mapTo(window.get(), QPoint(int(thumb), slider->height() / 2));
    QTest::mousePress(window->windowHandle(), Qt::LeftButton, {}, at);
    while (!(slider->value() * duration > 7.03 && slider->value() * duration < 7.15) && at.x() < window->width()) {
        at += QPoint(1, 0);
        QTest::mouseMove(window->windowHandle(), at);
        platform::MainClock::advanceForTesting(0.016);
    }
    const qsizetype mark = log().size();
    QTest::mouseRelease(window->windowHandle(), Qt::LeftButton, {}, at);
    const QRegularExpressionMatch sought =
        QRegularExpression(QStringLiteral("\\[dash-seek\\] generation=\\d+ time=([0-9.]+) resume=NO")).match(log().mid(mark));
    ASSERT_TRUE(sought.hasMatch()) << log().mid(mark).toStdString();
    const double time = sought.captured(1).toDouble();
    ASSERT_GT(time, 7.0);
    ASSERT_LT(time, 7.2);

    // Landed, and the sound's engine has told the time it reads; the controls' tick comes.
    platform::media::MpvCore* sound = page->moviePlayer()->playerForTesting()->core();
    KR_ADVANCE_UNTIL(!pair->isWaitingToStart() && !pair->isSeekInFlight()
                     && sound->engineTimeToldForTesting() == sound->doubleFromEngineForTesting("time-pos"));
    for (int i = 0; i < 10; ++i)
        platform::MainClock::advanceForTesting(0.05);
    EXPECT_EQ(page->dashPlayback(), pair);
    EXPECT_FALSE(pair->isRunning());
    EXPECT_NEAR(page->moviePlayer()->currentPlaybackTime(), time, 0.05);
    EXPECT_NEAR(pair->pictureTime(), time, 0.05);
    EXPECT_EQ(timeText(page), KRPlayerTimeText(time));
    EXPECT_EQ(timeText(page), QStringLiteral("0:07"));
}

// ---- the sources of the play button's intent ----

TEST_F(VideoPageControlsTest, ThePlayButtonTellsASwitchWhetherItPausedAFileOrAPair)
{
    struct Case {
        int playing;
        int target;
        const char* source;
    };
    for (const Case& c : {Case{64, 80, "progressive-toggle"}, Case{80, 64, "dash-toggle"}}) {
        SCOPED_TRACE(c.source);
        KRPreferences::sharedPreferences().setPreferredQuality(c.playing);
        play.setQualityFault(c.target, PlaybackFixtures::QualityFault::Held);
        KRVideoDetailViewController* page = pushAndPlay();
        KR_ADVANCE_UNTIL(playing(page) && !page->qualityValues().isEmpty());
        page->switchToQualityAtIndex(int(page->qualityValues().indexOf(c.target)));
        KR_ADVANCE_UNTIL(play.heldReplyCount() >= 1);
        const qsizetype mark = log().size();
        QTest::mouseClick(playPauseButton(page), Qt::LeftButton);
        QTest::mouseClick(playPauseButton(page), Qt::LeftButton);
        const QString told = log().mid(mark);
        for (const char* playing : {"NO", "YES"})
            EXPECT_TRUE(told.contains(QRegularExpression(QStringLiteral("\\[quality-switch-playback-intent\\] generation=\\d+ phase=1 playing=%1 .* source=%2\\n")
                                                             .arg(QLatin1String(playing), QLatin1String(c.source)))))
                << told.toStdString();
        play.setQualityFault(c.target, PlaybackFixtures::QualityFault::None);
        play.releaseHeldReplies();
        nav->popViewControllerAnimated(false);
        AnimationClock::finishAll();
        flushDeferredDeletes();
    }
}

// ---- the background task a start in the background holds ----

namespace {

class VideoPageBackgroundTaskTest : public VideoPageControlsTest {
protected:
    // Listening in the background, the part ends and the next one resolves there, its answer
    // held back: the task of that request is held. Answers its generation.
    QString holdATaskForTheNextPart(KRVideoDetailViewController* page)
    {
        KRPreferences::sharedPreferences().setBackgroundAudioEnabled(true);
        KRPreferences::sharedPreferences().setAutoContinueEnabled(true);
        [&] { KR_ADVANCE_UNTIL(playing(page)); }();
        toBackground();
        play.setQualityFault(16, PlaybackFixtures::QualityFault::Held);
        page->playerControlsSeekToTime(page->playerControls(), 11.0);
        [&] { KR_ADVANCE_UNTIL(page->selectedPageIndex() == 1 && play.heldReplyCount() >= 1); }();
        const QRegularExpressionMatch begun =
            QRegularExpression(QStringLiteral("\\[background-continuation-task-begin\\] generation=(\\d+) ")).match(log());
        EXPECT_TRUE(begun.hasMatch());
        EXPECT_EQ(platform::BackgroundTask::openTaskCount(), 1);
        return begun.captured(1);
    }
};

} // namespace

TEST_F(VideoPageBackgroundTaskTest, LeavingThePageEndsItForTheNavigation)
{
    KRVideoDetailViewController* page = pushAndPlay();
    const QString generation = holdATaskForTheNextPart(page);
    ASSERT_FALSE(HasFatalFailure());
    nav->popViewControllerAnimated(false);
    AnimationClock::finishAll();
    EXPECT_TRUE(log().contains(QStringLiteral("[background-continuation-task-end] generation=%1 reason=navigation").arg(generation)));
    EXPECT_FALSE(log().contains(QStringLiteral("reason=stop")));
    EXPECT_EQ(platform::BackgroundTask::openTaskCount(), 0);
    play.releaseHeldReplies();
}

TEST_F(VideoPageBackgroundTaskTest, ThePagesEndEndsItForTheDealloc)
{
    KRVideoDetailViewController* page = pushAndPlay();
    const QString generation = holdATaskForTheNextPart(page);
    ASSERT_FALSE(HasFatalFailure());
    // The window and its stack go with the page in them, without a navigation.
    window.reset();
    flushDeferredDeletes();
    EXPECT_TRUE(log().contains(QStringLiteral("[background-continuation-task-end] generation=%1 reason=dealloc").arg(generation)));
    EXPECT_FALSE(log().contains(QStringLiteral("reason=stop")));
    EXPECT_EQ(platform::BackgroundTask::openTaskCount(), 0);
    play.releaseHeldReplies();
}
