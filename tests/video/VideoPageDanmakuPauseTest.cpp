// The danmaku composer's pause as a user meets it through the window, on real libmpv: what the
// controls show while it lasts, a play tapped meanwhile, and a page stopped while it is open.
#include "VideoPageTesting.h"

#include "platform/foundation/UserDefaults.h"
#include "platform/uikit/AlertView.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/TextField.h"
#include "playback/KRPlaybackSession.h"
#include "playback/KRPlaybackTransport.h"
#include "playback/KRPlayerControlsView.h"
#include "support/ConsoleCapture.h"
#include "video/KRVideoDanmakuComposer.h"

#include <QTest>

using namespace platform::uikit;
using namespace videotest;

namespace {

class VideoPageDanmakuPauseTest : public VideoPageTest {
protected:
    void SetUp() override
    {
        VideoPageTest::SetUp();
        playOncePreferences();
        platform::UserDefaults::standard().setObject(QStringLiteral("KRDanmakuEnabled"), true);
    }
    void TearDown() override
    {
        for (int i = 0; i < 10 && window && window->visibleAlert(); ++i) {
            AlertView* open = window->visibleAlert();
            open->dismissWithClickedButtonIndex(std::max(0, open->cancelButtonIndex()));
        }
        VideoPageTest::TearDown();
    }

    // A button of the composer's keyboard bar or of an alert, by its title, through the window.
    void clickTitled(View* container, const QString& title)
    {
        ASSERT_NE(container, nullptr);
        for (Button* button : container->findChildren<Button*>()) {
            if (button->isVisible() && button->currentTitle() == title)
                return clickThroughWindow(button);
        }
        FAIL() << "no button " << title.toStdString();
    }
    // What the controls show: the paused marker over the picture while they show a pause.
    static bool controlsShowPaused(KRVideoDetailViewController* page)
    {
        KRPlayerControlsView* controls = page->playerControls();
        const View* marker = controls ? controls->findChild<View*>(QStringLiteral("pausedOverlay")) : nullptr;
        return marker && !marker->isHidden();
    }
    static bool playerPlays(KRVideoDetailViewController* page)
    {
        return page->moviePlayer() && page->moviePlayer()->playbackState() == KRPlaybackStatePlaying;
    }
    static bool playerPaused(KRVideoDetailViewController* page)
    {
        return page->moviePlayer() && page->moviePlayer()->playbackState() == KRPlaybackStatePaused;
    }
    // The page playing, past its start, with every watch the session keeps idle.
    KRVideoDetailViewController* playing()
    {
        KRVideoDetailViewController* page = pushAndPlay();
        [&] { KR_ADVANCE_UNTIL(VideoPageTest::playing(page) && pauseWatchIdle() && stallWatchIdle(page)); }();
        return page;
    }
    // "发弹幕" tapped: the composer opens with its field editing.
    void openComposer(KRVideoDetailViewController* page)
    {
        clickThroughWindow(part<Button>(page, "danmakuComposeButton"));
        auto* field = part<TextField>(page, "danmakuInputField");
        ASSERT_NE(field, nullptr);
        ASSERT_TRUE(field->isFirstResponder());
    }
    // A few ticks of the controls and the players' polls.
    static void runFor(double seconds)
    {
        for (double moved = 0; moved < seconds; moved += 0.1) {
            platform::MainClock::advanceForTesting(0.1);
            QCoreApplication::processEvents();
        }
    }

    testsupport::ConsoleCapture console;
};

} // namespace

// The composer pauses what plays, and the controls say so; a play tapped meanwhile plays at
// once and ends the composer's pause, so closing the composer leaves playback playing.
TEST_F(VideoPageDanmakuPauseTest, TheControlsShowTheComposersPauseAndAPlayTappedMeanwhilePlays)
{
    KRVideoDetailViewController* page = playing();
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_FALSE(controlsShowPaused(page));
    openComposer(page);
    ASSERT_FALSE(HasFatalFailure());
    KR_ADVANCE_UNTIL(playerPaused(page));
    runFor(0.5);
    EXPECT_TRUE(controlsShowPaused(page));
    EXPECT_TRUE(page->playerControls()->areControlsVisible());

    // One tap on play: it plays, and the composer stays open for the line being written.
    clickPlayPause(page);
    KR_ADVANCE_UNTIL(playerPlays(page) && page->moviePlayer()->currentPlaybackTime() > 0);
    const double resumedAt = page->moviePlayer()->currentPlaybackTime();
    KR_ADVANCE_UNTIL(page->moviePlayer()->currentPlaybackTime() > resumedAt + 0.3);
    EXPECT_FALSE(controlsShowPaused(page));
    EXPECT_FALSE(page->danmakuComposer()->isPausedForComposer());
    EXPECT_FALSE(part(page, "danmakuComposerBar")->isHidden());
    EXPECT_TRUE(part<TextField>(page, "danmakuInputField")->isFirstResponder());

    // Closing the composer changes nothing: it plays on.
    clickTitled(part(page, "danmakuInputAccessory"), QStringLiteral("取消"));
    EXPECT_TRUE(part(page, "danmakuComposerBar")->isHidden());
    runFor(1.0);
    EXPECT_TRUE(playerPlays(page));
    EXPECT_TRUE(page->isPlaybackExpectedToPlay());
    EXPECT_FALSE(controlsShowPaused(page));
}

// Played and paused again by the user while the composer is open: the pause is the user's now,
// and closing the composer keeps it.
TEST_F(VideoPageDanmakuPauseTest, APauseTappedAfterThatPlayOutlastsTheComposer)
{
    KRVideoDetailViewController* page = playing();
    ASSERT_FALSE(HasFatalFailure());
    openComposer(page);
    ASSERT_FALSE(HasFatalFailure());
    KR_ADVANCE_UNTIL(playerPaused(page) && controlsShowPaused(page));
    clickPlayPause(page);
    KR_ADVANCE_UNTIL(playerPlays(page) && !controlsShowPaused(page));
    clickPlayPause(page);
    KR_ADVANCE_UNTIL(playerPaused(page) && controlsShowPaused(page));
    clickTitled(part(page, "danmakuInputAccessory"), QStringLiteral("取消"));
    runFor(1.0);
    EXPECT_TRUE(playerPaused(page));
    EXPECT_FALSE(page->isPlaybackExpectedToPlay());
    EXPECT_TRUE(controlsShowPaused(page));
}

// Another screen pushed over the page while the composer is open stops playback: the composer
// closes as "取消" closes it, the draft kept, and the next play on return is heard.
TEST_F(VideoPageDanmakuPauseTest, AStopWhileTheComposerIsOpenClosesItAndTheNextPlayIsHeard)
{
    KRVideoDetailViewController* page = playing();
    ASSERT_FALSE(HasFatalFailure());
    openComposer(page);
    ASSERT_FALSE(HasFatalFailure());
    auto* field = part<TextField>(page, "danmakuInputField");
    QTest::sendKeyEvent(QTest::Click, QApplication::focusWidget(), Qt::Key_unknown, QStringLiteral("好"), Qt::NoModifier);
    KR_ADVANCE_UNTIL(playerPaused(page));

    nav->pushViewController(new ViewController(), false);
    AnimationClock::finishAll();
    ASSERT_TRUE(console.contains(QStringLiteral("[KorvanePlaybackLifecycle] stopped reason=navigation")));
    EXPECT_FALSE(field->isFirstResponder());
    EXPECT_FALSE(page->danmakuComposer()->isPausedForComposer());
    EXPECT_EQ(page->playbackSession()->holds(), 0u);

    nav->popViewControllerAnimated(false);
    AnimationClock::finishAll();
    EXPECT_TRUE(part(page, "danmakuComposerBar")->isHidden());
    EXPECT_FALSE(field->isFirstResponder());
    // The line begun is still there when the composer opens again.
    EXPECT_EQ(page->danmakuComposer()->draft(), QStringLiteral("好"));

    // Play again: the part resumes (the offer answered) and is heard.
    tapPlay(page);
    if (window->visibleAlert())
        clickTitled(window->visibleAlert()->presentationView(), QStringLiteral("继续播放"));
    KR_ADVANCE_UNTIL(VideoPageTest::playing(page));
    runFor(1.0);
    EXPECT_TRUE(playerPlays(page));
    EXPECT_EQ(page->playbackSession()->holds(), 0u);
}
