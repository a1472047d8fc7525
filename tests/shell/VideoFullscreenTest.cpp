// The video page's own full screen under the application's root, as the shell rotates it:
// the full-screen button and the device's turns through the kit, the rotation hooks by name,
// real libmpv playing the generated clips, and the main clock advanced by the test.
#include "../video/VideoPageTesting.h"

#include "HeldTurn.h"
#include "PortraitCommitCountingRoot.h"
#include "support/AccountFixtures.h"
#include "support/ConsoleCapture.h"
#include "support/InteractionFixtures.h"

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/uikit/ActionSheet.h"
#include "platform/uikit/AlertView.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Device.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationBar.h"
#include "platform/uikit/TabBarController.h"
#include "platform/uikit/TextField.h"
#include "model/KRDanmaku.h"
#include "playback/KRDASHPlayback.h"
#include "playback/KRDanmakuRenderer.h"
#include "playback/KRPlaybackSession.h"
#include "video/KRVideoAccountActions.h"
#include "video/KRVideoDanmakuComposer.h"
#include "playback/KRPlaybackTransport.h"
#include "playback/KRPlayerControlsView.h"
#include "shared/KRPlayerFullscreen.h"
#include "shell/KRRootViewController.h"
#include "video/KRVideoOfflineCaching.h"
#include "video/KRVideoOfflinePagePicker.h"
#include "store/KRDiagnostics.h"
#include "store/KRPreferences.h"

#include <QTest>

#include <cmath>

using namespace platform::uikit;
using namespace videotest;

namespace {

class VideoFullscreenTest : public VideoPageTest {
protected:
    void SetUp() override
    {
        VideoPageTest::SetUp();
        playOncePreferences();
        KRPreferences& preferences = KRPreferences::sharedPreferences();
        preferences.setDetailAutoFullscreenEnabled(false);
        preferences.setPortraitVideoFullscreenEnabled(false);
        preferences.setDanmakuMaximumActive(12);
        preferences.setDanmakuDisplayAreaPercent(50);
        preferences.setDanmakuOpacityPercent(60);
        preferences.setDanmakuFontLevel(100);
        Application::shared().becomeActiveForTesting();
    }
    void TearDown() override
    {
        Application::shared().rotateForTesting(InterfaceOrientationPortrait);
        AnimationClock::finishAll();
        VideoPageTest::TearDown();
    }

    // The page two screens deep in the root's first tab, as the app shows it.
    KRVideoDetailViewController* pushInRoot(std::shared_ptr<KRVideo> video = detailVideo())
    {
        root = new PortraitCommitCountingRoot();
        window->setRootViewController(root);
        window->makeKeyAndVisible();
        AnimationClock::finishAll();
        nav = qobject_cast<NavigationController*>(root->viewControllers().value(0));
        return push(std::move(video));
    }
    KRVideoDetailViewController* pushAndPlay(std::shared_ptr<KRVideo> video = detailVideo()) { return tapPlay(pushInRoot(std::move(video))); }
    // Animations run out and the delayed steps of this turn run.
    static void settle()
    {
        for (int i = 0; i < 4; ++i) {
            AnimationClock::finishAll();
            platform::MainClock::advanceForTesting(0.05);
        }
    }
    Button* fullscreenButton(KRVideoDetailViewController* page)
    {
        page->playerControls()->setControlsVisible(true, false);
        return page->playerControls()->findChild<Button*>(QStringLiteral("fullscreenButton"));
    }
    View* backdrop() const { return window->findChild<View*>(QStringLiteral("customFullscreenBackdrop")); }
    Button* sheetButton(const QString& title) const
    {
        for (Button* button : window->findChildren<Button*>()) {
            if (button->isVisible() && button->title(ControlStateNormal) == title)
                return button;
        }
        return nullptr;
    }
    static QString log() { return diagnosticsLog(); }

    // Pushes the page in the root and plays until the danmaku of the part are in.
    KRVideoDetailViewController* playWithDanmaku()
    {
        KRVideoDetailViewController* page = pushAndPlay();
        [&] { KR_ADVANCE_UNTIL(playing(page) && page->danmakuRenderer()->danmakus().size() == testsupport::PlaybackFixtures::kDanmakuLines); }();
        return page;
    }
    // The rail's button `i` in the order from the top.
    static Button* railButton(View* rail, int i)
    {
        static const char* names[] = {"fullscreenWatchLaterButton", "fullscreenAddDanmakuButton", "fullscreenDanmakuButton",
                                      "fullscreenDanmakuSettingsButton", "fullscreenCacheButton"};
        return rail->findChild<Button*>(QString::fromLatin1(names[i]));
    }
    // A landscape entry through the full-screen button, on whatever device the window is.
    View* enterLandscapeByTheButton(KRVideoDetailViewController* page)
    {
        clickThroughWindow(fullscreenButton(page));
        settle();
        return window->findChild<View*>(QStringLiteral("fullscreenRail"));
    }

    // Plays, enters the landscape full screen by its button and taps "发弹幕" on the rail.
    KRVideoDetailViewController* writeInTheFullScreen()
    {
        KRVideoDetailViewController* page = pushAndPlay();
        [&] { KR_ADVANCE_UNTIL(playing(page)); }();
        View* rail = enterLandscapeByTheButton(page);
        [&] { ASSERT_NE(rail, nullptr); }();
        if (rail)
            clickThroughWindow(railButton(rail, 1));
        return page;
    }
    // The controls shown again bring the rail back at the next synchronisation pass; its
    // "发弹幕" is tapped once it shows.
    void writeAgainFromTheRail(KRVideoDetailViewController* page)
    {
        page->playerControls()->setControlsVisible(true, false);
        platform::MainClock::advanceForTesting(0.6);
        settle();
        auto* rail = window->findChild<View*>(QStringLiteral("fullscreenRail"));
        ASSERT_NE(rail, nullptr);
        ASSERT_TRUE(rail->isVisible());
        clickThroughWindow(railButton(rail, 1));
    }
    TextField* fullscreenField() const { return window->findChild<TextField*>(QStringLiteral("fullscreenInputField")); }
    // Keys typed at the window, as a keyboard types into whatever the window has focused.
    void typeAtWindow(const QString& text)
    {
        for (const QChar ch : text)
            QTest::sendKeyEvent(QTest::Click, window->windowHandle(), Qt::Key_unknown, QString(ch), Qt::NoModifier);
    }

    // Plays, enters the landscape full screen by its button and taps "稍后观看" on the rail.
    KRVideoDetailViewController* tapWatchLaterInFullscreen()
    {
        KRVideoDetailViewController* page = pushAndPlay();
        [&] { KR_ADVANCE_UNTIL(playing(page)); }();
        View* rail = enterLandscapeByTheButton(page);
        [&] { ASSERT_NE(rail, nullptr); }();
        if (!rail)
            return page;
        page->playerControls()->setControlsVisible(true, false);
        clickThroughWindow(railButton(rail, 0));
        return page;
    }

    // A rate the player drifted to, which a pass of the full screen's synchronisation puts back.
    static void driftRate(KRVideoDetailViewController* page) { page->moviePlayer()->setCurrentPlaybackRate(1.5f); }
    static bool rateInStep(KRVideoDetailViewController* page) { return std::abs(page->moviePlayer()->currentPlaybackRate() - 1.0f) < 0.02f; }
    // Moves the clock a hundredth at a time until the rate is put back: the moment it was seen,
    // or -1 when it was not within `limit` seconds.
    static double momentRateIsPutBack(KRVideoDetailViewController* page, double limit)
    {
        for (double moved = 0; moved < limit; moved += 0.01) {
            platform::MainClock::advanceForTesting(0.01);
            if (rateInStep(page))
                return platform::MainClock::now();
        }
        return -1;
    }
    // In the landscape full screen on the window's device: the synchronisation's passes come
    // `pass` seconds apart (the first tick from then), and a pass held back while the application is not active comes on
    // the first tick of a timer of `tick` seconds once it is active again.
    void expectSynchronisationPace(double tick, double pass)
    {
        KRVideoDetailViewController* page = pushAndPlay();
        KR_ADVANCE_UNTIL(playing(page) && pauseWatchIdle());
        ASSERT_NE(enterLandscapeByTheButton(page), nullptr);
        ASSERT_TRUE(page->fullscreen()->isFullscreenSyncTimerRunning());
        driftRate(page);
        double last = momentRateIsPutBack(page, pass + tick + 0.05);
        ASSERT_GE(last, 0) << "no pass put the rate back";
        for (int i = 0; i < 3; ++i) {
            driftRate(page);
            const double next = momentRateIsPutBack(page, 2 * pass);
            ASSERT_GE(next, 0) << "pass " << i;
            // A pass is due once `pass` seconds have gone: on that tick, or on the next when the
            // clock's sum of ticks falls a hair short.
            EXPECT_GE(next - last, pass - 0.005) << "pass " << i;
            EXPECT_LE(next - last, pass + tick + 0.015) << "pass " << i;
            last = next;
        }
        // Held back for 1.05 s: the next tick falls at 1.1 s on a timer of 0.1 s, at 1.2 s on one of 0.2 s.
        driftRate(page);
        Application::shared().resignActiveForTesting();
        for (int i = 0; i < 105; ++i)
            platform::MainClock::advanceForTesting(0.01);
        ASSERT_FALSE(rateInStep(page));
        Application::shared().becomeActiveForTesting();
        const double resumed = momentRateIsPutBack(page, 0.5);
        ASSERT_GE(resumed, 0);
        EXPECT_NEAR(resumed - last, 1.0 + tick, 0.015);
        EXPECT_TRUE(page->fullscreen()->isShown());
    }

    PortraitCommitCountingRoot* root = nullptr;
    testsupport::ConsoleCapture console;
};

} // namespace

TEST_F(VideoFullscreenTest, TheButtonTurnsToALandscapeFullScreenWithTheRailAndBackToTheEmbeddedFrame)
{
    KRVideoDetailViewController* page = playWithDanmaku();
    const QRectF embedded = backdrop()->frame();
    EXPECT_EQ(embedded, QRectF(0, 64, 375, 210));
    EXPECT_TRUE(page->kr_allowsPlaybackRotation());
    EXPECT_EQ(Application::shared().statusBarOrientation(), int(InterfaceOrientationPortrait));

    clickThroughWindow(fullscreenButton(page));
    settle();
    KRPlayerFullscreen* fullscreen = page->fullscreen()->player();
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvanePlayerRotation] prepared device=3 embedded={{0, 0}, {375, 210}}")));
    // A landscape entry is finished by the rotation: it logs its preparation, not an entry.
    EXPECT_FALSE(console.contains(QStringLiteral("[KorvanePlayerSurface] enter landscape=")));
    EXPECT_EQ(Application::shared().statusBarOrientation(), int(InterfaceOrientationLandscapeLeft));
    EXPECT_EQ(platform::uikit::Device::current().orientation(), 4);
    EXPECT_EQ(root->view()->bounds(), QRectF(0, 0, 667, 375));
    // The danmaku over the whole picture, every line of the part still there.
    EXPECT_TRUE(console.contains(QStringLiteral("renderer=YES enabled=YES loaded=%1").arg(testsupport::PlaybackFixtures::kDanmakuLines)))
        << console.text().toStdString();
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneFullscreenDanmaku] attached host=")));
    EXPECT_EQ(page->danmakuRenderer()->geometry(), QRect(0, 0, 667, 375));
    EXPECT_TRUE(fullscreen->isFullscreen());
    EXPECT_TRUE(fullscreen->isLandscape());
    EXPECT_FALSE(fullscreen->isTransitioning());
    EXPECT_EQ(fullscreen->phase(), 3);
    EXPECT_TRUE(Application::shared().isStatusBarHidden());
    EXPECT_EQ(backdrop()->frame(), QRectF(0, 0, 667, 375));
    EXPECT_EQ(page->playerControls()->frame(), QRectF(0, 0, 667, 375));
    EXPECT_EQ(fullscreenButton(page)->accessibilityLabel(), QStringLiteral("缩小"));

    // The rail: five buttons, each an icon (7951) over its title (7952), separators 7960 to 7963.
    auto* rail = window->findChild<View*>(QStringLiteral("fullscreenRail"));
    ASSERT_NE(rail, nullptr);
    EXPECT_TRUE(rail->isVisible());
    EXPECT_EQ(rail->frame(), QRectF(603, 73, 54, 210));
    EXPECT_TRUE(console.contains(QStringLiteral(
        "[KorvaneFullscreenGeometry] orientation=landscape compact35=NO host={{0, 0}, {667, 375}} rail={{603, 73}, {54, 210}} row=42.0")));
    const QStringList titles{QStringLiteral("稍后观看"), QStringLiteral("发弹幕"), QStringLiteral("弹幕"), QStringLiteral("调弹幕"),
                             QStringLiteral("缓存")};
    const char* names[] = {"fullscreenWatchLaterButton", "fullscreenAddDanmakuButton", "fullscreenDanmakuButton",
                           "fullscreenDanmakuSettingsButton", "fullscreenCacheButton"};
    for (int i = 0; i < 5; ++i) {
        auto* button = rail->findChild<Button*>(QString::fromLatin1(names[i]));
        ASSERT_NE(button, nullptr) << names[i];
        EXPECT_EQ(button->frame(), QRectF(0, 42 * i, 54, 42));
        auto* icon = qobject_cast<ImageView*>(button->viewWithTag(7951));
        ASSERT_NE(icon, nullptr);
        EXPECT_FALSE(icon->image().isNull()) << names[i];
        // The watch-later icon sits half a point lower and one to the right; the settings icon
        // is inset by 2 on each side.
        const QRectF iconFrame = i == 0 ? QRectF(14, 3.5, 28, 28) : i == 3 ? QRectF(15, 5, 24, 24) : QRectF(13, 3, 28, 28);
        EXPECT_EQ(icon->frame(), iconFrame) << names[i];
        auto* label = qobject_cast<Label*>(button->viewWithTag(7952));
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->text(), titles.at(i));
        EXPECT_EQ(label->frame(), QRectF(1, 24, 52, 16)) << names[i];
        View* separator = rail->viewWithTag(7960 + i);
        EXPECT_EQ(separator != nullptr, i < 4);
        if (separator) {
            EXPECT_EQ(separator->frame(), QRectF(4, 42 * (i + 1) - 1, 46, 1));
        }
    }
    // The page's own layouts and appearance leave the full screen alone.
    page->view()->setNeedsLayout();
    page->view()->layoutIfNeeded();
    EXPECT_EQ(backdrop()->frame(), QRectF(0, 0, 667, 375));
    // Playback went on through the turn.
    const double before = page->moviePlayer()->currentPlaybackTime();
    KR_ADVANCE_UNTIL(page->moviePlayer()->currentPlaybackTime() > before + 0.5);

    // The same button leaves: portrait first, then the picture goes back where it was.
    clickThroughWindow(fullscreenButton(page));
    settle();
    EXPECT_EQ(Application::shared().statusBarOrientation(), int(InterfaceOrientationPortrait));
    EXPECT_FALSE(fullscreen->isFullscreen());
    EXPECT_EQ(fullscreen->phase(), 0);
    EXPECT_FALSE(Application::shared().isStatusBarHidden());
    EXPECT_EQ(backdrop()->frame(), embedded);
    EXPECT_EQ(page->playerControls()->frame(), QRectF(0, 0, 375, 210));
    EXPECT_EQ(fullscreenButton(page)->accessibilityLabel(), QStringLiteral("横屏全屏"));
    EXPECT_EQ(window->findChild<View*>(QStringLiteral("fullscreenRail")), nullptr);
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvanePlayerSurface] exit embedded={{0, 0}, {375, 210}}")));
    EXPECT_TRUE(playing(page));
    // The page as it was, and the root told once to take its portrait geometry back.
    EXPECT_EQ(root->view()->bounds(), QRectF(0, 0, 375, 667));
    EXPECT_EQ(page->view()->frame().size(), QSizeF(375, 603));
    EXPECT_EQ(part(page, "playerContainer")->frame(), QRectF(0, 0, 375, 210));
    EXPECT_EQ(root->portraitCommits, 1);
    // From system 15 the root also reconciles its navigation, once, on the turn after.
    EXPECT_EQ(root->navigationReconciliations, 1);
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneModernNavigationRotationRepair]")));
}

TEST_F(VideoFullscreenTest, TurningTheDeviceEntersAndLeavesAndLyingFlatChangesNothing)
{
    KRVideoDetailViewController* page = pushInRoot();
    // Before playback the page keeps the interface upright.
    EXPECT_FALSE(page->kr_allowsPlaybackRotation());
    EXPECT_FALSE(Application::shared().rotateForTesting(InterfaceOrientationLandscapeRight));
    AnimationClock::finishAll();
    EXPECT_EQ(Application::shared().statusBarOrientation(), int(InterfaceOrientationPortrait));
    Device::current().setOrientation(1);

    auto* play = part<Button>(page, "playButton");
    KR_WAIT_UNTIL(play->isEnabled());
    clickThroughWindow(play);
    KR_ADVANCE_UNTIL(playing(page));
    const QRectF embedded = backdrop()->frame();
    ASSERT_TRUE(Application::shared().rotateForTesting(InterfaceOrientationLandscapeRight));
    settle();
    KRPlayerFullscreen* fullscreen = page->fullscreen()->player();
    EXPECT_TRUE(fullscreen->isFullscreen());
    EXPECT_TRUE(fullscreen->isEnteredByRotation());
    EXPECT_EQ(fullscreen->phase(), 3);
    EXPECT_EQ(backdrop()->frame(), QRectF(0, 0, 667, 375));
    ASSERT_NE(window->findChild<View*>(QStringLiteral("fullscreenRail")), nullptr);

    // Flat on a table or upside down: nothing turns and nothing is left.
    const unsigned generation = fullscreen->generation();
    for (int flat : {5, 6, 2}) {
        Device::current().setOrientation(flat);
        settle();
    }
    EXPECT_TRUE(fullscreen->isFullscreen());
    EXPECT_EQ(fullscreen->phase(), 3);
    EXPECT_EQ(fullscreen->generation(), generation);
    EXPECT_EQ(Application::shared().statusBarOrientation(), int(InterfaceOrientationLandscapeRight));

    // Upright again: the full screen ends after the rotation, exactly at the embedded frame.
    Device::current().setOrientation(1);
    settle();
    EXPECT_TRUE(log().contains(QStringLiteral("[fullscreen-gravity-return] enteredByRotation=YES device=1")));
    EXPECT_EQ(Application::shared().statusBarOrientation(), int(InterfaceOrientationPortrait));
    EXPECT_FALSE(fullscreen->isFullscreen());
    EXPECT_EQ(backdrop()->frame(), embedded);
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvanePlayerSurface] exit embedded={{0, 0}, {375, 210}}")));
    EXPECT_EQ(root->portraitCommits, 1);
    EXPECT_GT(fullscreen->generation(), generation);

    // A stop in full screen puts the interface back upright with the player gone.
    ASSERT_TRUE(Application::shared().rotateForTesting(InterfaceOrientationLandscapeRight));
    settle();
    ASSERT_TRUE(fullscreen->isFullscreen());
    page->stopPlaybackForNavigation();
    settle();
    EXPECT_FALSE(fullscreen->isFullscreen());
    EXPECT_EQ(Application::shared().statusBarOrientation(), int(InterfaceOrientationPortrait));
    EXPECT_FALSE(Application::shared().isStatusBarHidden());
    EXPECT_EQ(backdrop(), nullptr);
}
// However long the interface takes to turn (frames held stand for a turn that does not end),
// the page watches no pause meanwhile: a player that stops in the turn is neither observed nor
// played again. Once the turn has settled the watch starts, and retries after its own delay.
TEST_F(VideoFullscreenTest, APauseInATurnIsWatchedAndRetriedOnlyOnceTheTurnHasSettled)
{
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page) && pauseWatchIdle() && stallWatchIdle(page) && bufferedAhead(page));
    const qsizetype mark = log().size();
    const auto since = [&] { return log().mid(mark); };
    KRPlayerFullscreen* fullscreen = page->fullscreen()->player();
    ASSERT_TRUE(heldturn::turnToLandscapeAndHoldItsMiddle());
    ASSERT_EQ(fullscreen->phase(), 2);

    page->moviePlayer()->playerForTesting()->pause();
    KR_ADVANCE_UNTIL(page->moviePlayer()->playbackState() == 2);
    const double paused = platform::MainClock::now();
    KR_ADVANCE_UNTIL(platform::MainClock::now() - paused >= 2.0);
    EXPECT_EQ(fullscreen->phase(), 2);
    EXPECT_FALSE(since().contains(QStringLiteral("[unexpected-pause-observed]")));
    EXPECT_FALSE(since().contains(QStringLiteral("[unexpected-pause-retry]")));
    EXPECT_EQ(page->moviePlayer()->playbackState(), 2);
    EXPECT_TRUE(page->isPlaybackExpectedToPlay());

    heldturn::letTheTurnEnd();
    ASSERT_EQ(fullscreen->phase(), 3);
    const double settled = platform::MainClock::now();
    KR_ADVANCE_UNTIL(since().contains(QStringLiteral("[unexpected-pause-retry] attempt=1")));
    EXPECT_GE(platform::MainClock::now() - settled, KRPlaybackSession::kFirstRetryDelay);
    const qsizetype observed = since().indexOf(QStringLiteral("[unexpected-pause-observed]"));
    ASSERT_GE(observed, 0);
    EXPECT_LT(observed, since().indexOf(QStringLiteral("[unexpected-pause-retry] attempt=1")));
    KR_ADVANCE_UNTIL(since().contains(QStringLiteral("[unexpected-pause-recovered]")));
    KR_ADVANCE_UNTIL(playing(page));
}

// A quality switch under way while the interface turns still shows as under way: whatever told
// the controls otherwise meanwhile, the turn's ticks tell them again.
TEST_F(VideoFullscreenTest, ASwitchUnderWayKeepsShowingWhileTheInterfaceTurns)
{
    play.setQualityFault(80, testsupport::PlaybackFixtures::QualityFault::Held);
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page) && !page->qualityValues().isEmpty());
    page->switchToQualityAtIndex(int(page->qualityValues().indexOf(80)));
    KR_ADVANCE_UNTIL(play.heldReplyCount() >= 1);
    const QString switching = QStringLiteral("正在切换，当前清晰度继续播放");
    Button* quality = page->playerControls()->qualityButton();
    ASSERT_EQ(quality->accessibilityValue(), switching);

    KRPlayerFullscreen* fullscreen = page->fullscreen()->player();
    ASSERT_TRUE(heldturn::turnToLandscapeAndHoldItsMiddle());
    ASSERT_EQ(fullscreen->phase(), 2);
    page->playerControls()->setQualitySwitching(false, QString());
    ASSERT_TRUE(quality->accessibilityValue().isEmpty());
    KR_ADVANCE_UNTIL(quality->accessibilityValue() == switching);
    EXPECT_EQ(fullscreen->phase(), 2);
    EXPECT_TRUE(page->playbackSession()->isSwitchingQuality());

    heldturn::letTheTurnEnd();
    EXPECT_EQ(fullscreen->phase(), 3);
    play.releaseHeldReplies();
    KR_ADVANCE_UNTIL(!page->playbackSession()->isSwitchingQuality());
}


TEST_F(VideoFullscreenTest, APortraitVideoGrowsToAPortraitFullScreenAndNeverTurns)
{
    KRPreferences::sharedPreferences().setPortraitVideoFullscreenEnabled(true);
    play.setPortraitCID(testsupport::ServiceFixtures::kDetailCID);
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page) && page->currentVideoIsPortrait());
    EXPECT_TRUE(page->shouldUsePortraitFullscreenForCurrentVideo());
    EXPECT_FALSE(page->kr_allowsPlaybackRotation());
    const QRectF embedded = backdrop()->frame();

    // The request at once, the commit when the 0.28 s growth ends.
    clickThroughWindow(fullscreenButton(page), false);
    KRPlayerFullscreen* fullscreen = page->fullscreen()->player();
    EXPECT_TRUE(log().contains(QStringLiteral("[portrait-fullscreen-request] media=360x640 portrait=YES transitioning=NO")));
    EXPECT_TRUE(fullscreen->isTransitioning());
    platform::MainClock::advanceForTesting(0.27);
    EXPECT_FALSE(log().contains(QStringLiteral("[portrait-fullscreen-commit]")));
    EXPECT_TRUE(fullscreen->isTransitioning());
    platform::MainClock::advanceForTesting(0.01);
    EXPECT_TRUE(log().contains(QStringLiteral("[portrait-fullscreen-commit]")));
    EXPECT_FALSE(fullscreen->isTransitioning());
    settle();
    EXPECT_TRUE(fullscreen->isFullscreen());
    EXPECT_FALSE(fullscreen->isLandscape());
    EXPECT_EQ(Application::shared().statusBarOrientation(), int(InterfaceOrientationPortrait));
    EXPECT_EQ(backdrop()->frame(), QRectF(0, 0, 375, 667));
    EXPECT_TRUE(log().contains(QStringLiteral("[portrait-fullscreen-commit] media=360x640 portrait=YES transitioning=NO")));
    // The portrait entry logs itself with the device's orientation and the window it fills.
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvanePlayerSurface] enter landscape=NO device=1 bounds={{0, 0}, {375, 667}}")));
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneFullscreenGeometry] orientation=portrait compact35=NO host={{0, 0}, {375, 667}}")));
    EXPECT_TRUE(console.contains(QStringLiteral("row=49.0")));
    auto* rail = window->findChild<View*>(QStringLiteral("fullscreenRail"));
    ASSERT_NE(rail, nullptr);
    EXPECT_EQ(rail->frame(), QRectF(321, 211, 54, 245));
    auto* bar = window->findChild<View*>(QStringLiteral("fullscreenComposerBar"));
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->frame(), QRectF(0, 0, 375, 44));
    // The device turned to landscape hands nothing over: the picture stays upright.
    EXPECT_FALSE(Application::shared().rotateForTesting(InterfaceOrientationLandscapeRight));
    settle();
    EXPECT_EQ(Application::shared().statusBarOrientation(), int(InterfaceOrientationPortrait));
    EXPECT_TRUE(fullscreen->isFullscreen());
    Device::current().setOrientation(1);

    // The button leaves with a 0.26 s animation; pressing it again meanwhile changes nothing.
    Button* button = fullscreenButton(page);
    QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, button->mapTo(window.get(), button->rect().center()));
    AnimationClock::advance(0.1);
    EXPECT_TRUE(fullscreen->isTransitioning());
    page->playerControlsDidRequestFullscreen(page->playerControls());
    AnimationClock::advance(0.1);
    EXPECT_TRUE(fullscreen->isFullscreen());
    settle();
    EXPECT_FALSE(fullscreen->isFullscreen());
    EXPECT_EQ(backdrop()->frame(), embedded);
    EXPECT_EQ(console.text().count(QStringLiteral("[KorvanePlayerSurface] exit embedded=")), 1);
}

TEST_F(VideoFullscreenTest, AutomaticFullScreenComesOnceThePictureIsKnown)
{
    KRPreferences::sharedPreferences().setDetailAutoFullscreenEnabled(true);
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(page->fullscreen()->player()->phase() == 3 || (playing(page) && page->moviePlayer()->currentPlaybackTime() > 2));
    settle();
    EXPECT_TRUE(page->fullscreen()->isShown());
    EXPECT_FALSE(page->fullscreen()->isDetailPending());
    EXPECT_EQ(Application::shared().statusBarOrientation(), int(InterfaceOrientationLandscapeLeft));
    EXPECT_TRUE(log().contains(QStringLiteral("[detail-auto-fullscreen] mediaPortrait=NO portraitMode=NO identity=")));
    EXPECT_EQ(log().count(QStringLiteral("[detail-auto-fullscreen]")), 1);
    const QString text = log();
    const qsizetype automatic = text.indexOf(
        QStringLiteral("[detail-auto-fullscreen] mediaPortrait=NO portraitMode=NO identity=bv:%1\n").arg(testsupport::ServiceFixtures::detailBVID()));
    EXPECT_GE(automatic, 0) << text.toStdString();
    // The landscape entry follows it.
    const qsizetype entry = text.indexOf(QStringLiteral("[portrait-fullscreen-request] media="));
    EXPECT_GT(entry, automatic) << text.toStdString();
    EXPECT_TRUE(text.mid(entry).section(QLatin1Char('\n'), 0, 0).contains(QStringLiteral(" portrait=NO ")));
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvanePlayerRotation] prepared device=3 embedded={{0, 0}, {375, 210}}")));
}

TEST_F(VideoFullscreenTest, RailActionsComposerSettingSheetsAndTheGateLeaveThroughTheExit)
{
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page));
    clickThroughWindow(fullscreenButton(page));
    settle();
    auto* rail = window->findChild<View*>(QStringLiteral("fullscreenRail"));
    ASSERT_NE(rail, nullptr);

    // "发弹幕": the composer over the picture, above the keyboard, the rail out of the way.
    clickThroughWindow(rail->findChild<Button*>(QStringLiteral("fullscreenAddDanmakuButton")));
    auto* bar = window->findChild<View*>(QStringLiteral("fullscreenComposerBar"));
    auto* field = window->findChild<TextField*>(QStringLiteral("fullscreenInputField"));
    ASSERT_NE(bar, nullptr);
    ASSERT_NE(field, nullptr);
    EXPECT_TRUE(bar->isVisible());
    EXPECT_TRUE(field->isFirstResponder());
    EXPECT_FALSE(rail->isVisible());
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneFullscreenComposer] keyboard=")));
    // The desktop's keyboard is a hardware one, its bar along the window's bottom edge: the
    // composer sits right on it.
    EXPECT_EQ(bar->frame(), QRectF(0, 375 - 44 - 44, 667, 44));
    EXPECT_EQ(field->frame(), QRectF(8, 6, 651, 31));
    auto* accessory = window->findChild<View*>(QStringLiteral("fullscreenInputAccessory"));
    ASSERT_NE(accessory, nullptr);
    ASSERT_TRUE(accessory->isVisible());
    const qreal accessoryTop = accessory->mapTo(window.get(), QPoint(0, 0)).y();
    EXPECT_EQ(bar->frame().bottom(), accessoryTop);
    // A 162-point keyboard on screen: the bar goes just above it.
    platform::NotificationCenter::defaultCenter().post(KeyboardWillShowNotification, nullptr,
                                                       {{KeyboardFrameEndKey, QRectF(0, 213, 667, 162)}, {KeyboardAnimationDurationKey, 0.25}});
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneFullscreenComposer] keyboard={{0, 213}, {667, 162}} local={{0, 213}, {667, 162}} "
                                                "composerY=169.0 host={{0, 0}, {667, 375}}")));
    // It moves there from above the keyboard's bar over the keyboard's own 0.25 s, not at once.
    EXPECT_EQ(bar->frame(), QRectF(0, accessoryTop - 44, 667, 44));
    AnimationClock::advance(0.1);
    EXPECT_GT(bar->frame().y(), 169);
    EXPECT_LT(bar->frame().y(), accessoryTop - 44);
    AnimationClock::advance(0.2);
    EXPECT_EQ(bar->frame(), QRectF(0, 169, 667, 44));
    // The picture waits while the line is written, and the draft is the page's.
    EXPECT_TRUE(page->danmakuComposer()->isPausedForComposer());
    // Typed at the window, as a keyboard types into what the window has focused.
    for (const QChar ch : QStringLiteral("好看"))
        QTest::sendKeyEvent(QTest::Click, window->windowHandle(), Qt::Key_unknown, QString(ch), Qt::NoModifier);
    settle();
    EXPECT_EQ(field->text(), QStringLiteral("好看"));
    EXPECT_EQ(page->danmakuComposer()->draft(), QStringLiteral("好看"));
    // Sending signed out keeps the draft and asks for a login.
    QTest::sendKeyEvent(QTest::Click, window->windowHandle(), Qt::Key_Return, QStringLiteral("\r"), Qt::NoModifier);
    settle();
    ASSERT_NE(window->visibleAlert(), nullptr);
    EXPECT_EQ(window->visibleAlert()->tag(), 7101);
    EXPECT_EQ(page->danmakuComposer()->draft(), QStringLiteral("好看"));
    clickThroughWindow(sheetButton(QStringLiteral("继续播放")));
    settle();
    EXPECT_FALSE(bar->isVisible());
    EXPECT_FALSE(page->danmakuComposer()->isPausedForComposer());
    // The controls shown again bring the rail with them at the next synchronisation pass.
    page->playerControls()->setControlsVisible(true, false);
    platform::MainClock::advanceForTesting(0.6);
    settle();
    EXPECT_TRUE(rail->isVisible());
    // Written again and cancelled on the keyboard's bar: the picture goes on.
    clickThroughWindow(rail->findChild<Button*>(QStringLiteral("fullscreenAddDanmakuButton")));
    EXPECT_TRUE(bar->isVisible());
    EXPECT_TRUE(page->danmakuComposer()->isPausedForComposer());
    EXPECT_NE(page->moviePlayer()->playbackState(), 1);
    clickThroughWindow(sheetButton(QStringLiteral("取消")));
    settle();
    EXPECT_FALSE(bar->isVisible());
    EXPECT_FALSE(field->isFirstResponder());
    EXPECT_FALSE(page->danmakuComposer()->isPausedForComposer());
    KR_ADVANCE_UNTIL(playing(page));
    page->playerControls()->setControlsVisible(true, false);
    platform::MainClock::advanceForTesting(0.6);
    settle();
    EXPECT_TRUE(rail->isVisible());

    // "弹幕" turns the danmaku off; the rail's switch follows, and "发弹幕" is disabled.
    auto* danmaku = rail->findChild<Button*>(QStringLiteral("fullscreenDanmakuButton"));
    EXPECT_TRUE(danmaku->isSelected());
    clickThroughWindow(danmaku);
    EXPECT_FALSE(danmaku->isSelected());
    EXPECT_FALSE(rail->findChild<Button*>(QStringLiteral("fullscreenAddDanmakuButton"))->isEnabled());
    clickThroughWindow(danmaku);
    EXPECT_TRUE(danmaku->isSelected());

    // "调弹幕": the settings sheet over the full screen, then the chosen setting's own sheet.
    clickThroughWindow(rail->findChild<Button*>(QStringLiteral("fullscreenDanmakuSettingsButton")));
    ActionSheet* settings = page->fullscreen()->visibleSheet();
    ASSERT_NE(settings, nullptr);
    EXPECT_EQ(settings->tag(), 7310);
    EXPECT_EQ(settings->title(), QStringLiteral("弹幕设置"));
    // Shown over the full-screen picture, in the root's view.
    EXPECT_TRUE(sheetButton(QStringLiteral("弹幕条数"))->isVisible());
    clickThroughWindow(sheetButton(QStringLiteral("弹幕条数")));
    settle();
    ActionSheet* count = page->fullscreen()->visibleSheet();
    ASSERT_NE(count, nullptr);
    EXPECT_EQ(count->tag(), 7312);
    EXPECT_EQ(count->buttonTitleAtIndex(1), QStringLiteral("12 条 ✓"));
    EXPECT_EQ(count->buttonTitleAtIndex(5), QStringLiteral("烤机 · 无限制"));
    clickThroughWindow(sheetButton(QStringLiteral("24 条")));
    settle();
    EXPECT_EQ(KRPreferences::sharedPreferences().danmakuMaximumActive(), 24);
    EXPECT_EQ(part<Label>(page, "danmakuStatusLabel")->text(), QStringLiteral("弹幕显示已更新"));
    EXPECT_TRUE(page->fullscreen()->isShown());

    // "缓存": the part picker over the full-screen picture.
    clickThroughWindow(rail->findChild<Button*>(QStringLiteral("fullscreenCacheButton")));
    settle();
    View* picker = page->offlineCaching()->pagePicker();
    ASSERT_NE(picker, nullptr);
    EXPECT_TRUE(picker->isVisible());
    ASSERT_EQ(picker->superview(), backdrop()->superview());
    const QList<View*> layers = backdrop()->superview()->subviews();
    EXPECT_GT(layers.indexOf(picker), layers.indexOf(backdrop()));
    page->dismissOfflinePagePicker();
    settle();

    // "稍后观看" signed out asks for a login; the gate answered in full screen: the full screen
    // ends first, then the profile tab shows.
    page->playerControls()->setControlsVisible(true, false);
    platform::MainClock::advanceForTesting(0.6);
    settle();
    clickThroughWindow(rail->findChild<Button*>(QStringLiteral("fullscreenWatchLaterButton")));
    settle();
    AlertView* gate = window->visibleAlert();
    ASSERT_NE(gate, nullptr);
    EXPECT_EQ(gate->tag(), 7200);
    EXPECT_EQ(gate->title(), QStringLiteral("登录后稍后观看"));
    EXPECT_EQ(gate->message(), QStringLiteral("稍后观看会同步到账号；当前未登录，不会伪造添加成功。"));
    clickThroughWindow(sheetButton(QStringLiteral("前往“我的”")));
    settle();
    EXPECT_FALSE(page->fullscreen()->isShown());
    EXPECT_EQ(Application::shared().statusBarOrientation(), int(InterfaceOrientationPortrait));
    EXPECT_EQ(root->selectedIndex(), 3);
    EXPECT_EQ(nav->viewControllers().size(), 1);
}

// A request for the portrait full screen while the last one's growth has not come to its end:
// asked again twice, 0.14 s apart, then given up with a word to the user. Frames held stand
// for a growth that does not end; the delayed retries run on the main clock regardless.
TEST_F(VideoFullscreenTest, APortraitRequestDuringATransitionIsRetriedTwiceThenGivenUp)
{
    KRPreferences::sharedPreferences().setPortraitVideoFullscreenEnabled(true);
    play.setPortraitCID(testsupport::ServiceFixtures::kDetailCID);
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page) && page->currentVideoIsPortrait());
    clickThroughWindow(fullscreenButton(page), false);
    KRPlayerFullscreen* fullscreen = page->fullscreen()->player();
    ASSERT_TRUE(fullscreen->isTransitioning());
    AnimationClock::setFramesHeldForTesting(true);

    auto deferred = [] { return log().count(QStringLiteral("[portrait-fullscreen-deferred]")); };
    page->requestLandscapeForCustomFullscreen();
    EXPECT_EQ(deferred(), 1);
    EXPECT_TRUE(log().contains(QStringLiteral("[portrait-fullscreen-deferred] retry=0 phase=0 host={{0, 0}, {375, 667}}")));
    // Each retry 0.14 s after the last, not before.
    for (int retry = 1; retry <= 2; ++retry) {
        EXPECT_FALSE(log().contains(QStringLiteral("[portrait-fullscreen-abort]")));
        platform::MainClock::advanceForTesting(0.139);
        EXPECT_EQ(deferred(), retry);
        platform::MainClock::advanceForTesting(0.001);
        EXPECT_EQ(deferred(), retry + 1);
        EXPECT_TRUE(log().contains(QStringLiteral("[portrait-fullscreen-deferred] retry=%1 phase=0 ").arg(retry)));
    }
    EXPECT_TRUE(log().contains(QStringLiteral("[portrait-fullscreen-abort] reason=transition-busy retries=2")));
    auto* status = part<Label>(page, "danmakuStatusLabel");
    EXPECT_EQ(status->text(), QStringLiteral("全屏布局尚未就绪，请再试一次"));
    EXPECT_TRUE(status->isVisible());
    // Given up for good: nothing more is asked, and the one request made stays the only one.
    platform::MainClock::advanceForTesting(1.0);
    EXPECT_EQ(deferred(), 3);
    EXPECT_EQ(log().count(QStringLiteral("[portrait-fullscreen-request]")), 1);

    // Frames come again: the growth that was under way ends as it began.
    AnimationClock::setFramesHeldForTesting(false);
    settle();
    EXPECT_TRUE(fullscreen->isFullscreen());
    EXPECT_FALSE(fullscreen->isTransitioning());
    EXPECT_EQ(backdrop()->frame(), QRectF(0, 0, 375, 667));
    EXPECT_EQ(log().count(QStringLiteral("[portrait-fullscreen-commit]")), 1);
    // The next request, with nothing under way, is taken (here: the button leaves).
    clickThroughWindow(fullscreenButton(page));
    settle();
    EXPECT_FALSE(fullscreen->isFullscreen());
}

// "调弹幕": the settings over the full-screen picture, each setting's own sheet with the value
// in use marked, and a new display area reaching the renderer at once.
TEST_F(VideoFullscreenTest, TheDanmakuSettingSheetsMarkTheValueInUseAndReachTheRenderer)
{
    KRPreferences::sharedPreferences().setDanmakuDisplayAreaPercent(25);
    KRVideoDetailViewController* page = playWithDanmaku();
    View* rail = enterLandscapeByTheButton(page);
    ASSERT_NE(rail, nullptr);
    View* host = backdrop()->superview();
    ASSERT_NE(host, nullptr);

    // The rail's button opens the settings, over the surface in its superview.
    auto openSetting = [&](const QString& row) -> ActionSheet* {
        clickThroughWindow(railButton(rail, 3));
        ActionSheet* settings = page->fullscreen()->visibleSheet();
        if (!settings || !sheetButton(row))
            return nullptr;
        EXPECT_EQ(settings->tag(), 7310);
        EXPECT_EQ(settings->title(), QStringLiteral("弹幕设置"));
        EXPECT_EQ(settings->presentationView()->superview(), host);
        clickThroughWindow(sheetButton(row));
        settle();
        return page->fullscreen()->visibleSheet();
    };
    auto titles = [](ActionSheet* sheet) {
        QStringList rows;
        for (int i = 0; i < sheet->numberOfButtons(); ++i)
            rows << sheet->buttonTitleAtIndex(i);
        return rows;
    };
    auto cancel = [&] {
        clickThroughWindow(sheetButton(QStringLiteral("取消")));
        settle();
    };

    clickThroughWindow(railButton(rail, 3));
    ActionSheet* settings = page->fullscreen()->visibleSheet();
    ASSERT_NE(settings, nullptr);
    EXPECT_EQ(titles(settings), (QStringList{QStringLiteral("显示区域"), QStringLiteral("弹幕条数"), QStringLiteral("不透明度"),
                                             QStringLiteral("字体大小"), QStringLiteral("取消")}));
    EXPECT_EQ(settings->cancelButtonIndex(), 4);
    EXPECT_EQ(settings->presentationView()->superview(), host);
    const QList<View*> layers = host->subviews();
    EXPECT_GT(layers.indexOf(settings->presentationView()), layers.indexOf(backdrop()));
    cancel();
    EXPECT_EQ(page->fullscreen()->visibleSheet(), nullptr);

    ActionSheet* area = openSetting(QStringLiteral("显示区域"));
    ASSERT_NE(area, nullptr);
    EXPECT_EQ(area->tag(), 7311);
    EXPECT_EQ(area->title(), QStringLiteral("显示区域"));
    EXPECT_EQ(titles(area), (QStringList{QStringLiteral("10%"), QStringLiteral("25% ✓"), QStringLiteral("50%"), QStringLiteral("75%"),
                                         QStringLiteral("100%"), QStringLiteral("取消")}));
    EXPECT_EQ(area->presentationView()->superview(), host);
    EXPECT_EQ(page->danmakuRenderer()->usableContentRect().height(), 93);
    clickThroughWindow(sheetButton(QStringLiteral("50%")));
    settle();
    EXPECT_EQ(KRPreferences::sharedPreferences().danmakuDisplayAreaPercent(), 50);
    EXPECT_EQ(part<Label>(page, "danmakuStatusLabel")->text(), QStringLiteral("弹幕显示已更新"));
    EXPECT_EQ(page->danmakuRenderer()->usableContentRect().height(), 187);

    ActionSheet* count = openSetting(QStringLiteral("弹幕条数"));
    ASSERT_NE(count, nullptr);
    EXPECT_EQ(count->tag(), 7312);
    EXPECT_EQ(titles(count), (QStringList{QStringLiteral("8 条"), QStringLiteral("12 条 ✓"), QStringLiteral("18 条"), QStringLiteral("24 条"),
                                          QStringLiteral("32 条"), QStringLiteral("烤机 · 无限制"), QStringLiteral("取消")}));
    cancel();
    EXPECT_EQ(KRPreferences::sharedPreferences().danmakuMaximumActive(), 12);

    ActionSheet* opacity = openSetting(QStringLiteral("不透明度"));
    ASSERT_NE(opacity, nullptr);
    EXPECT_EQ(opacity->tag(), 7313);
    EXPECT_EQ(titles(opacity), (QStringList{QStringLiteral("20%"), QStringLiteral("40%"), QStringLiteral("60%（推荐） ✓"), QStringLiteral("80%"),
                                            QStringLiteral("100%"), QStringLiteral("取消")}));
    cancel();

    ActionSheet* font = openSetting(QStringLiteral("字体大小"));
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(font->tag(), 7314);
    EXPECT_EQ(titles(font), (QStringList{QStringLiteral("50%"), QStringLiteral("100%（推荐） ✓"), QStringLiteral("150%"), QStringLiteral("200%"),
                                         QStringLiteral("取消")}));
    clickThroughWindow(sheetButton(QStringLiteral("150%")));
    settle();
    EXPECT_EQ(KRPreferences::sharedPreferences().danmakuFontLevel(), 150);
    EXPECT_TRUE(page->fullscreen()->isShown());
}

// A four-inch phone: the compact rail (rows of 38, 12 points above the middle) through the
// page's own entry.
TEST_F(VideoFullscreenTest, AFourInchPhoneGetsTheCompactRail)
{
    useDevice(QStringLiteral("iPhone5,1"));
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page));
    View* rail = enterLandscapeByTheButton(page);
    ASSERT_NE(rail, nullptr);
    EXPECT_EQ(backdrop()->frame(), QRectF(0, 0, 568, 320));
    EXPECT_EQ(rail->frame(), QRectF(504, 53, 54, 190));
    EXPECT_TRUE(console.contains(QStringLiteral(
        "[KorvaneFullscreenGeometry] orientation=landscape compact35=YES host={{0, 0}, {568, 320}} rail={{504, 53}, {54, 190}} row=38.0")));
    for (int i = 0; i < 5; ++i) {
        Button* button = railButton(rail, i);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->frame(), QRectF(0, 38 * i, 54, 38));
        const QRectF icon = i == 0 ? QRectF(14, 1.5, 28, 28) : i == 3 ? QRectF(15, 3, 24, 24) : QRectF(13, 1, 28, 28);
        EXPECT_EQ(button->viewWithTag(7951)->frame(), icon) << i;
        EXPECT_EQ(button->viewWithTag(7952)->frame(), QRectF(1, 20, 52, 16)) << i;
    }
}

// A tablet on an older system: landscape rows of 42 around the middle of 1024 by 768.
TEST_F(VideoFullscreenTest, ATabletGetsTheRailAtTheMiddleOfItsRightEdge)
{
    useDevice(QStringLiteral("iPad2,1"), QStringLiteral("10.3"));
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page));
    View* rail = enterLandscapeByTheButton(page);
    ASSERT_NE(rail, nullptr);
    EXPECT_TRUE(page->fullscreen()->isShown());
    EXPECT_EQ(backdrop()->frame(), QRectF(0, 0, 1024, 768));
    EXPECT_EQ(rail->frame(), QRectF(960, 270, 54, 210));
    EXPECT_TRUE(console.contains(QStringLiteral(
        "[KorvaneFullscreenGeometry] orientation=landscape compact35=NO host={{0, 0}, {1024, 768}} rail={{960, 270}, {54, 210}} row=42.0")));
    EXPECT_EQ(railButton(rail, 4)->viewWithTag(7951)->frame(), QRectF(13, 3, 28, 28));
    clickThroughWindow(fullscreenButton(page));
    settle();
    EXPECT_FALSE(page->fullscreen()->isShown());
    EXPECT_EQ(Application::shared().statusBarOrientation(), int(InterfaceOrientationPortrait));
    EXPECT_EQ(root->portraitCommits, 1);
    // Before system 15 the root is not asked to reconcile its navigation.
    EXPECT_EQ(root->navigationReconciliations, 0);
}

// A 320-point phone on the older rotation path: the compact rail (rows of 38, 12 points above
// the middle), and the navigation bar tested and left as it is after the return.
TEST_F(VideoFullscreenTest, CompactLandscapeOnTheOlderRotationPath)
{
    useDevice(QStringLiteral("iPhone4,1"), QStringLiteral("6.1"));
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page));
    const QRectF embedded = backdrop()->frame();
    clickThroughWindow(fullscreenButton(page));
    settle();
    KRPlayerFullscreen* fullscreen = page->fullscreen()->player();
    EXPECT_TRUE(fullscreen->isFullscreen());
    EXPECT_EQ(fullscreen->phase(), 3);
    EXPECT_EQ(backdrop()->frame(), QRectF(0, 0, 480, 320));
    auto* rail = window->findChild<View*>(QStringLiteral("fullscreenRail"));
    ASSERT_NE(rail, nullptr);
    EXPECT_EQ(rail->frame(), QRectF(416, 53, 54, 190));
    EXPECT_TRUE(console.contains(QStringLiteral(
        "[KorvaneFullscreenGeometry] orientation=landscape compact35=YES host={{0, 0}, {480, 320}} rail={{416, 53}, {54, 190}} row=38.0")));
    auto* icon = rail->findChild<Button*>(QStringLiteral("fullscreenCacheButton"))->viewWithTag(7951);
    EXPECT_EQ(icon->frame(), QRectF(13, 1, 28, 28));

    clickThroughWindow(fullscreenButton(page));
    settle();
    EXPECT_FALSE(fullscreen->isFullscreen());
    EXPECT_EQ(Application::shared().statusBarOrientation(), int(InterfaceOrientationPortrait));
    EXPECT_EQ(backdrop()->frame(), embedded);
    // The bar came back where it belongs: nothing to repair.
    EXPECT_EQ(nav->navigationBar()->frame(), QRectF(0, 20, 320, 44));
    EXPECT_FALSE(console.contains(QStringLiteral("[KorvaneFullscreenNavigationRepair]")));
    // A bar left displaced is put back, on this older system only.
    nav->navigationBar()->setFrame(QRectF(0, 26, 320, 44));
    page->repairNavigationChromeIfMalformed();
    EXPECT_EQ(nav->navigationBar()->frame(), QRectF(0, 20, 320, 44));
    EXPECT_TRUE(console.contains(QStringLiteral(
        "[KorvaneFullscreenNavigationRepair] force=NO orientation=1 before={{0, 26}, {320, 44}} after={{0, 20}, {320, 44}}")));
    // With the status bar left hidden and the bar of the wrong size: the status bar comes back,
    // and the bar, hidden and shown again, sits under it at the status bar's height.
    Application::shared().setStatusBarHidden(true, false);
    nav->navigationBar()->setFrame(QRectF(0, 0, 320, 30));
    page->repairNavigationChromeIfMalformed();
    EXPECT_FALSE(Application::shared().isStatusBarHidden());
    EXPECT_FALSE(nav->isNavigationBarHidden());
    EXPECT_EQ(nav->navigationBar()->frame(), QRectF(0, 20, 320, 44));
    EXPECT_TRUE(console.contains(QStringLiteral(
        "[KorvaneFullscreenNavigationRepair] force=NO orientation=1 before={{0, 0}, {320, 30}} after={{0, 20}, {320, 44}}")));
}

// From system 7 the repair only asks the bar and the page to lay out again: it moves nothing
// itself and logs no repair.
TEST_F(VideoFullscreenTest, FromSystem7TheNavigationRepairOnlyAsksForALayout)
{
    useDevice(QStringLiteral("iPhone6,1"), QStringLiteral("7.1"));
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page));
    ASSERT_NE(enterLandscapeByTheButton(page), nullptr);
    clickThroughWindow(fullscreenButton(page));
    settle();
    ASSERT_FALSE(page->fullscreen()->isShown());
    const QRectF placed = nav->navigationBar()->frame();
    EXPECT_EQ(placed, QRectF(0, 20, 320, 44));
    nav->navigationBar()->setFrame(QRectF(0, 26, 320, 40));
    page->repairNavigationChromeIfMalformed();
    EXPECT_EQ(nav->navigationBar()->frame(), QRectF(0, 26, 320, 40));
    EXPECT_FALSE(console.contains(QStringLiteral("[KorvaneFullscreenNavigationRepair]")));
}

// A player failing in full screen leaves it: the failure shows on the page, upright, even
// though nothing plays any more to ask for the rotation back.
TEST_F(VideoFullscreenTest, AFailureInFullScreenComesBackUpright)
{
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page));
    clickThroughWindow(fullscreenButton(page));
    settle();
    ASSERT_TRUE(page->fullscreen()->isShown());
    ASSERT_EQ(Application::shared().statusBarOrientation(), int(InterfaceOrientationLandscapeLeft));
    page->playbackSession()->stop();
    EXPECT_EQ(page->moviePlayer(), nullptr);
    // Nothing plays, yet the interface may still come back.
    EXPECT_TRUE(page->kr_allowsPlaybackRotation());
    QMetaObject::invokeMethod(page->playbackSession(), "failed", Q_ARG(QString, QStringLiteral("gone")), Q_ARG(bool, true));
    settle();
    EXPECT_FALSE(page->fullscreen()->isShown());
    EXPECT_EQ(Application::shared().statusBarOrientation(), int(InterfaceOrientationPortrait));
    EXPECT_FALSE(Application::shared().isStatusBarHidden());
    EXPECT_FALSE(page->kr_allowsPlaybackRotation());
    EXPECT_EQ(part<Label>(page, "loadingStatusLabel")->text(), QStringLiteral("播放中断，点播放重试"));
    // Gone by the failure, the full screen is over as after its own exit: the root takes its
    // portrait geometry back.
    EXPECT_EQ(root->portraitCommits, 1);
}

// The profile asked for from the full screen opens once it has gone, even when a stop ends it
// before its own exit has completed.
TEST_F(VideoFullscreenTest, AStopDuringTheExitStillOpensTheProfileAskedFor)
{
    // Signed out, "稍后观看" asks to sign in; going to "我的" leaves the full screen first.
    KRVideoDetailViewController* page = tapWatchLaterInFullscreen();
    ASSERT_FALSE(HasFatalFailure());
    AlertView* gate = window->visibleAlert();
    ASSERT_NE(gate, nullptr);
    EXPECT_EQ(gate->tag(), 7200);
    ASSERT_EQ(root->selectedIndex(), 0);
    clickThroughWindow(sheetButton(QStringLiteral("前往“我的”")), false);
    ASSERT_TRUE(page->fullscreen()->player()->isWaitingForPortrait());
    EXPECT_EQ(root->selectedIndex(), 0);
    // The player stops before the interface has turned.
    page->stopPlaybackForNavigation();
    settle();
    EXPECT_FALSE(page->fullscreen()->isShown());
    EXPECT_EQ(root->portraitCommits, 1);
    EXPECT_EQ(root->selectedIndex(), 3);
}

// The next part continues into the full screen the last one was shown in.
TEST_F(VideoFullscreenTest, TheNextPartComesBackIntoTheFullScreen)
{
    KRPreferences::sharedPreferences().setAutoContinueEnabled(true);
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page));
    clickThroughWindow(fullscreenButton(page));
    settle();
    ASSERT_TRUE(page->fullscreen()->isShown());
    page->playerControlsSeekToTime(page->playerControls(), 11.0);
    KR_ADVANCE_UNTIL(page->selectedPageIndex() == 1);
    KR_ADVANCE_UNTIL(playing(page) && page->fullscreen()->player()->phase() == 3);
    settle();
    EXPECT_TRUE(page->fullscreen()->isShown());
    EXPECT_EQ(Application::shared().statusBarOrientation(), int(InterfaceOrientationLandscapeLeft));
    EXPECT_TRUE(log().contains(QStringLiteral("[playback-continuation-fullscreen-restored] identity=%1 mediaPortrait=NO")
                                   .arg(page->video()->feedIdentity())));
    EXPECT_FALSE(page->fullscreen()->isContinuationPending());
}

// Entered once the video has ended, the full screen shows its rail beside the controls, and a
// replay keeps it there.
TEST_F(VideoFullscreenTest, EnteredAtTheEndTheRailShowsBesideTheControls)
{
    KRPreferences::sharedPreferences().setAutoContinueEnabled(false);
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page));
    page->playerControlsSeekToTime(page->playerControls(), 11.5);
    KR_ADVANCE_UNTIL(page->isPlaybackEndedAwaitingReplay());
    clickThroughWindow(fullscreenButton(page));
    settle();
    ASSERT_TRUE(page->fullscreen()->isShown());
    auto* rail = window->findChild<View*>(QStringLiteral("fullscreenRail"));
    ASSERT_NE(rail, nullptr);
    EXPECT_TRUE(page->playerControls()->areControlsVisible());
    EXPECT_TRUE(rail->isVisible());
    // Hiding the controls takes the rail with them; showing them brings it back.
    page->playerControls()->setControlsVisible(false, false);
    EXPECT_FALSE(rail->isVisible());
    page->playerControls()->setControlsVisible(true, false);
    EXPECT_TRUE(rail->isVisible());
}

// The synchronisation timer's pass puts back what was moved or covered since the last layout,
// and leaves alone what is already where it belongs.
TEST_F(VideoFullscreenTest, TheSynchronisationPassPutsBackWhatMovedSinceTheLastLayout)
{
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page));
    clickThroughWindow(fullscreenButton(page));
    settle();
    ASSERT_TRUE(page->fullscreen()->isShown());
    auto* rail = window->findChild<View*>(QStringLiteral("fullscreenRail"));
    ASSERT_NE(rail, nullptr);
    ASSERT_TRUE(rail->isVisible());
    // The rail on the surface's container, the controls over the picture inside it.
    View* host = rail->superview();
    ASSERT_EQ(host, part(page, "playerContainer"));
    KRPlayerControlsView* controls = page->playerControls();
    auto* picture = qobject_cast<View*>(page->moviePlayer()->view());
    ASSERT_EQ(controls->superview(), picture);
    const QRectF railFrame = rail->frame();
    ASSERT_EQ(railFrame, QRectF(603, 73, 54, 210));
    auto* cache = rail->findChild<Button*>(QStringLiteral("fullscreenCacheButton"));
    ASSERT_NE(cache, nullptr);
    const QRectF cacheFrame = cache->frame();

    // The rail and the controls moved, the rail covered by the picture and hidden, the controls
    // under the danmaku: the next pass lays out again and brings the controls, then the rail, to
    // the front.
    rail->setFrame(QRectF(0, 0, 54, 245));
    controls->setFrame(QRectF(0, 0, 375, 210));
    host->bringSubviewToFront(picture);
    page->danmakuRenderer()->raise();
    rail->setHidden(true);
    page->fullscreen()->syncFullscreenControls(false);
    EXPECT_EQ(rail->frame(), railFrame);
    EXPECT_EQ(cache->frame(), cacheFrame);
    EXPECT_EQ(controls->frame(), QRectF(0, 0, 667, 375));
    EXPECT_TRUE(rail->isVisible());
    EXPECT_EQ(host->subviews().last(), rail);
    EXPECT_EQ(picture->findChildren<QWidget*>(Qt::FindDirectChildrenOnly).last(), controls);

    // Nothing moved: the pass changes nothing.
    page->fullscreen()->syncFullscreenControls(false);
    EXPECT_EQ(rail->frame(), railFrame);
    EXPECT_EQ(host->children().last(), rail);

    // The controls hidden: the rail goes with them; back, it comes back.
    controls->setControlsVisible(false, false);
    page->fullscreen()->syncFullscreenControls(false);
    EXPECT_FALSE(rail->isVisible());
    controls->setControlsVisible(true, false);
    page->fullscreen()->syncFullscreenControls(false);
    EXPECT_TRUE(rail->isVisible());
    EXPECT_EQ(host->children().last(), rail);
}

// ---- a player replaced while the full screen shows ----

namespace {

class FullscreenReplacementTest : public VideoFullscreenTest {
protected:
    // Plays at `quality` until the danmaku are in, then enters the landscape full screen by its
    // button.
    KRVideoDetailViewController* playInLandscapeFullscreen(int quality)
    {
        KRPreferences::sharedPreferences().setPreferredQuality(quality);
        KRVideoDetailViewController* page = playWithDanmaku();
        [&] { KR_ADVANCE_UNTIL(page->moviePlayer()->currentPlaybackTime() > 1.0 && !page->qualityValues().isEmpty()); }();
        enterLandscapeByTheButton(page);
        EXPECT_TRUE(page->fullscreen()->isShown());
        EXPECT_EQ(page->fullscreen()->player()->phase(), 3);
        return page;
    }
    static int indexOfQuality(KRVideoDetailViewController* page, int quality) { return int(page->qualityValues().indexOf(quality)); }
    // The clock moves on while the event loop runs, for as long as a player may take to give up
    // on an address that went.
    static bool advanceLongUntil(const std::function<bool()>& condition)
    {
        return testsupport::waitUntil(
            [&] {
                if (condition())
                    return true;
                platform::MainClock::advanceForTesting(0.02);
                return false;
            },
            std::chrono::seconds(45));
    }
    // Once things have settled, what the full screen shows over whichever player now plays: the rail on the surface's
    // container, the composer beside it, the controls over the whole picture in their
    // full-screen form (their button reads "缩小"), and the danmaku drawing over the picture.
    void expectTheFullscreenKept(KRVideoDetailViewController* page)
    {
        settle();
        KRPlayerFullscreen* fullscreen = page->fullscreen()->player();
        EXPECT_TRUE(fullscreen->isFullscreen());
        EXPECT_EQ(fullscreen->phase(), 3);
        auto* rail = window->findChild<View*>(QStringLiteral("fullscreenRail"));
        ASSERT_NE(rail, nullptr);
        EXPECT_EQ(rail->superview(), part(page, "playerContainer"));
        ASSERT_NE(window->findChild<View*>(QStringLiteral("fullscreenComposerBar")), nullptr);
        EXPECT_EQ(window->findChild<View*>(QStringLiteral("fullscreenComposerBar"))->superview(), rail->superview());
        auto* picture = qobject_cast<View*>(page->moviePlayer()->view());
        ASSERT_NE(picture, nullptr);
        EXPECT_EQ(page->playerControls()->superview(), picture);
        EXPECT_EQ(page->playerControls()->frame(), QRectF(0, 0, 667, 375));
        Button* button = fullscreenButton(page);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->accessibilityLabel(), QStringLiteral("缩小"));
        // With the controls shown, the rail shows beside them, in front of the picture.
        page->fullscreen()->syncFullscreenControls(false);
        EXPECT_TRUE(rail->isVisible());
        EXPECT_EQ(rail->superview()->subviews().last(), rail);
        KRDanmakuRenderer* renderer = page->danmakuRenderer();
        EXPECT_EQ(renderer->parentWidget(), picture);
        EXPECT_EQ(renderer->geometry(), QRect(0, 0, 667, 375));
        EXPECT_TRUE(renderer->isVisible());
        EXPECT_EQ(renderer->danmakus().size(), testsupport::PlaybackFixtures::kDanmakuLines);
        KR_ADVANCE_UNTIL(renderer->activeCount() > 0);
        // The button still leaves the full screen.
        clickThroughWindow(fullscreenButton(page));
        settle();
        EXPECT_FALSE(fullscreen->isFullscreen());
        EXPECT_EQ(Application::shared().statusBarOrientation(), int(InterfaceOrientationPortrait));
        EXPECT_EQ(page->playerControls()->frame(), QRectF(0, 0, 375, 210));
        EXPECT_EQ(renderer->parentWidget(), qobject_cast<View*>(page->moviePlayer()->view()));
    }
};

} // namespace

TEST_F(FullscreenReplacementTest, ASwitchFrom360PToTheDASH1080PKeepsTheRailTheControlsAndTheDanmaku)
{
    KRVideoDetailViewController* page = playInLandscapeFullscreen(16);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_EQ(page->dashPlayback(), nullptr);
    page->switchToQualityAtIndex(indexOfQuality(page, 80));
    KR_ADVANCE_UNTIL(page->dashPlayback() && page->dashPlayback()->isRunning() && !page->playbackSession()->isSwitchingQuality()
                     && playing(page));
    EXPECT_EQ(page->activePlaybackQuality(), 80);
    expectTheFullscreenKept(page);
}

TEST_F(FullscreenReplacementTest, AFailoverToTheBackupAddressKeepsTheRailTheControlsAndTheDanmaku)
{
    // The 360p file answers in pieces, so its player keeps asking for the rest as it plays.
    play.setMediaFault(16, testsupport::PlaybackFixtures::MediaFault::Cut, 64 * 1024);
    KRVideoDetailViewController* page = playInLandscapeFullscreen(16);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_EQ(page->moviePlayer()->contentURL(), play.progressiveURL(16));
    // The first address goes: the player gives up on it and the session fails over.
    play.setFault(testsupport::PlaybackFixtures::Fault::PrimaryMediaMissing);
    ASSERT_TRUE(advanceLongUntil([&] {
        return log().contains(QStringLiteral("[playback-candidate-failover]")) && page->moviePlayer()
            && page->moviePlayer()->contentURL() == play.progressiveBackupURL(16) && playing(page);
    }));
    expectTheFullscreenKept(page);
}

TEST_F(FullscreenReplacementTest, ARollbackToThePreviousStreamKeepsTheRailTheControlsAndTheDanmaku)
{
    // The 720p file answers in pieces; 360P waits paused while it buffers, as in the page's own
    // rollback, and the clock is held from the commit on so the new stream breaks first.
    play.setMediaFault(64, testsupport::PlaybackFixtures::MediaFault::Cut, 256 * 1024);
    KRVideoDetailViewController* page = playInLandscapeFullscreen(16);
    ASSERT_FALSE(HasFatalFailure());
    page->playerControlsDidTogglePlayback(page->playerControls());
    KR_ADVANCE_UNTIL(page->moviePlayer()->playbackState() == 2);
    page->switchToQualityAtIndex(indexOfQuality(page, 64));
    KR_ADVANCE_UNTIL(log().contains(QStringLiteral("[quality-commit]")));
    page->playerControlsDidTogglePlayback(page->playerControls());
    play.setMediaFault(64, testsupport::PlaybackFixtures::MediaFault::Missing);
    ASSERT_TRUE(testsupport::waitUntil([&] { return log().contains(QStringLiteral("[quality-switch-failed]")); }, std::chrono::seconds(45)));
    ASSERT_TRUE(advanceLongUntil([&] { return log().contains(QStringLiteral("[quality-switch-rollback-ready]")) && playing(page); }));
    EXPECT_EQ(page->moviePlayer()->contentURL(), play.progressiveURL(16));
    expectTheFullscreenKept(page);
}

// The hold on the full-screen picture: a press on a control keeps it out, any other press is
// the picture's, the rail's and the composer's own backgrounds included.
TEST_F(VideoFullscreenTest, TheHoldInFullScreenRefusesPressesOnControlsOnly)
{
    KRVideoDetailViewController* page = playWithDanmaku();
    View* rail = enterLandscapeByTheButton(page);
    ASSERT_NE(rail, nullptr);
    auto* picture = qobject_cast<View*>(page->moviePlayer()->view());
    ASSERT_NE(picture, nullptr);
    KRVideoFullscreen* fullscreen = page->fullscreen();
    auto* label = qobject_cast<Label*>(railButton(rail, 1)->viewWithTag(7952));
    ASSERT_NE(label, nullptr);
    EXPECT_FALSE(fullscreen->holdAllowsTouch(railButton(rail, 1), picture));
    EXPECT_FALSE(fullscreen->holdAllowsTouch(label, picture));
    EXPECT_TRUE(fullscreen->holdAllowsTouch(rail, picture));
    auto* bar = window->findChild<View*>(QStringLiteral("fullscreenComposerBar"));
    ASSERT_NE(bar, nullptr);
    EXPECT_TRUE(fullscreen->holdAllowsTouch(bar, picture));
    EXPECT_FALSE(fullscreen->holdAllowsTouch(window->findChild<TextField*>(QStringLiteral("fullscreenInputField")), picture));
    EXPECT_TRUE(fullscreen->holdAllowsTouch(nullptr, picture));

    // Through the window: held on a place of the picture no control takes, it plays at 2.0x;
    // held on the controls' full-screen button, nothing.
    page->playerControls()->setControlsVisible(true, false);
    QPoint spot;
    QWidget* target = nullptr;
    for (int y = picture->height() / 3; y < picture->height() && !target; y += 8) {
        for (int x = picture->width() / 3; x < picture->width() * 2 / 3 && !target; x += 8) {
            QWidget* hit = picture->childAt(QPoint(x, y));
            hit = hit ? hit : picture;
            if (fullscreen->holdAllowsTouch(hit, picture)) {
                target = hit;
                spot = hit->mapFrom(picture, QPoint(x, y));
            }
        }
    }
    ASSERT_NE(target, nullptr);
    QTest::mousePress(target, Qt::LeftButton, {}, spot);
    platform::MainClock::advanceForTesting(0.4);
    EXPECT_TRUE(log().contains(QStringLiteral("[playback-rate-applied] rate=2.00 hold=YES")));
    QTest::mouseRelease(target, Qt::LeftButton, {}, spot);
    const qsizetype holds = log().count(QStringLiteral("hold=YES"));
    Button* button = fullscreenButton(page);
    QTest::mousePress(button, Qt::LeftButton, {}, button->rect().center());
    platform::MainClock::advanceForTesting(0.4);
    EXPECT_EQ(log().count(QStringLiteral("hold=YES")), holds);
    // Let go away from the button: it does nothing either.
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(-40, -40));
    EXPECT_TRUE(page->fullscreen()->isShown());
}

// The danmaku are laid again 0.04 s after the full screen has settled in landscape, and again
// 0.04 s after it has gone, rather than dropped: lines already shown come back across the new
// width. Playback is paused so that nothing new comes meanwhile.
TEST_F(VideoFullscreenTest, TheDanmakuAreLaidAgainAfterTheTurnAndAfterLeaving)
{
    KRVideoDetailViewController* page = playWithDanmaku();
    KR_ADVANCE_UNTIL(page->moviePlayer()->currentPlaybackTime() > 4.0);
    page->playerControlsDidTogglePlayback(page->playerControls());
    KR_ADVANCE_UNTIL(page->moviePlayer()->playbackState() == 2);
    KRDanmakuRenderer* renderer = page->danmakuRenderer();
    const double at = page->moviePlayer()->currentPlaybackTime();
    renderer->resetForPlaybackTime(at);
    ASSERT_EQ(renderer->activeCount(), 0);

    clickThroughWindow(fullscreenButton(page), false);
    KR_ADVANCE_UNTIL(console.contains(QStringLiteral("[KorvaneFullscreenDanmaku] attached host=")));
    EXPECT_EQ(page->fullscreen()->player()->phase(), 3);
    EXPECT_EQ(renderer->activeCount(), 0);
    platform::MainClock::advanceForTesting(0.02);
    EXPECT_EQ(renderer->activeCount(), 0);
    platform::MainClock::advanceForTesting(0.04);
    EXPECT_GT(renderer->activeCount(), 0);
    EXPECT_EQ(renderer->geometry(), QRect(0, 0, 667, 375));

    renderer->resetForPlaybackTime(at);
    ASSERT_EQ(renderer->activeCount(), 0);
    clickThroughWindow(fullscreenButton(page), false);
    KR_ADVANCE_UNTIL(console.contains(QStringLiteral("[KorvanePlayerSurface] exit embedded=")));
    EXPECT_FALSE(page->fullscreen()->isShown());
    EXPECT_EQ(renderer->geometry(), QRect(0, 0, 375, 210));
    EXPECT_EQ(renderer->activeCount(), 0);
    platform::MainClock::advanceForTesting(0.02);
    EXPECT_EQ(renderer->activeCount(), 0);
    platform::MainClock::advanceForTesting(0.04);
    EXPECT_GT(renderer->activeCount(), 0);
}

// The window minimised stops the full screen's synchronisation with the controls' tick; shown
// again, both run again.
TEST_F(VideoFullscreenTest, TheBackgroundStopsTheSynchronisationAndTheReturnStartsIt)
{
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page));
    Application::shared().becomeActiveForTesting();
    clickThroughWindow(fullscreenButton(page));
    settle();
    ASSERT_TRUE(page->fullscreen()->isShown());
    ASSERT_TRUE(page->fullscreen()->isFullscreenSyncTimerRunning());
    window->setWindowState(Qt::WindowMinimized);
    ASSERT_EQ(Application::shared().applicationState(), int(ApplicationStateBackground));
    EXPECT_FALSE(page->fullscreen()->isFullscreenSyncTimerRunning());
    for (int i = 0; i < 10; ++i)
        platform::MainClock::advanceForTesting(0.1);
    EXPECT_FALSE(page->fullscreen()->isFullscreenSyncTimerRunning());
    window->setWindowState(Qt::WindowNoState);
    KR_ADVANCE_UNTIL(Application::shared().applicationState() == int(ApplicationStateActive)
                     && page->fullscreen()->isFullscreenSyncTimerRunning());
    EXPECT_TRUE(page->fullscreen()->isShown());
}

// Signed in, "稍后观看" on the rail adds the video to the account's list and says so.
TEST_F(VideoFullscreenTest, SignedInWatchLaterFromTheRailAddsTheVideo)
{
    testsupport::InteractionFixtures interactions(fake);
    testsupport::AccountFixtures::logInWebOnly();
    KRVideoDetailViewController* page = tapWatchLaterInFullscreen();
    ASSERT_FALSE(HasFatalFailure());
    KR_ADVANCE_UNTIL(interactions.watchLater().contains(testsupport::ServiceFixtures::kDetailAID)
                     && !page->accountActions()->isInteractionLoading());
    EXPECT_EQ(part<Label>(page, "danmakuStatusLabel")->text(), QStringLiteral("已加入稍后观看"));
    EXPECT_EQ(window->visibleAlert(), nullptr);
    EXPECT_TRUE(page->fullscreen()->isShown());
}

// A line sent from the full screen on a page whose own danmaku bar was never opened: it goes
// out, shows at once, and the composer closes empty, as a send from the page's bar does. The
// next line goes out alone, and the page's bar, made only now, opens empty too.
TEST_F(VideoFullscreenTest, SignedInALineSentFromTheFullScreenClosesItsComposerAndLeavesNoDraft)
{
    testsupport::InteractionFixtures interactions(fake);
    testsupport::AccountFixtures::logInWebOnly();
    KRVideoDetailViewController* page = writeInTheFullScreen();
    ASSERT_FALSE(HasFatalFailure());
    auto* bar = window->findChild<View*>(QStringLiteral("fullscreenComposerBar"));
    TextField* field = fullscreenField();
    ASSERT_NE(bar, nullptr);
    ASSERT_NE(field, nullptr);
    ASSERT_TRUE(field->isFirstResponder());
    ASSERT_EQ(part<TextField>(page, "danmakuInputField"), nullptr) << "the page's own bar is not opened";
    typeAtWindow(QStringLiteral("前方高能"));
    ASSERT_EQ(page->danmakuComposer()->draft(), QStringLiteral("前方高能"));
    Button* send = nullptr;
    for (Button* button : window->findChild<View*>(QStringLiteral("fullscreenInputAccessory"))->findChildren<Button*>()) {
        if (button->isVisible() && button->currentTitle() == QStringLiteral("发送"))
            send = button;
    }
    clickThroughWindow(send);
    KR_WAIT_UNTIL(interactions.postedDanmaku().size() == 1 && !page->danmakuComposer()->isSending());
    EXPECT_EQ(interactions.postedDanmaku(), QList<QString>{QStringLiteral("前方高能")});
    settle();
    EXPECT_FALSE(bar->isVisible());
    EXPECT_FALSE(field->isFirstResponder());
    EXPECT_TRUE(field->text().isEmpty());
    EXPECT_TRUE(page->danmakuComposer()->draft().isEmpty());
    EXPECT_FALSE(page->danmakuComposer()->isPausedForComposer());
    EXPECT_TRUE(shows(page, "danmakuStatusLabel"));
    EXPECT_EQ(labelText(page, "danmakuStatusLabel"), QStringLiteral("弹幕已发送"));
    QStringList lines;
    for (const auto& danmaku : page->danmakuRenderer()->danmakus())
        lines << danmaku->text();
    EXPECT_TRUE(lines.contains(QStringLiteral("前方高能")));
    EXPECT_EQ(part<TextField>(page, "danmakuInputField"), nullptr) << "still made only when the page's bar opens";
    EXPECT_TRUE(page->fullscreen()->isShown());

    // The next line, sent by the return key, goes out alone.
    writeAgainFromTheRail(page);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(field->isFirstResponder());
    EXPECT_TRUE(field->text().isEmpty());
    typeAtWindow(QStringLiteral("再来"));
    QTest::sendKeyEvent(QTest::Click, window->windowHandle(), Qt::Key_Return, QStringLiteral("\r"), Qt::NoModifier);
    KR_WAIT_UNTIL(interactions.postedDanmaku().size() == 2 && !page->danmakuComposer()->isSending());
    EXPECT_EQ(interactions.postedDanmaku().last(), QStringLiteral("再来"));
    settle();
    EXPECT_FALSE(bar->isVisible());
    EXPECT_TRUE(page->danmakuComposer()->draft().isEmpty());

    // Back upright, the page's own bar opens with nothing in it.
    clickThroughWindow(fullscreenButton(page));
    settle();
    ASSERT_FALSE(page->fullscreen()->isShown());
    clickThroughWindow(part<Button>(page, "danmakuComposeButton"));
    auto* embedded = part<TextField>(page, "danmakuInputField");
    ASSERT_NE(embedded, nullptr);
    EXPECT_TRUE(embedded->isFirstResponder());
    EXPECT_TRUE(embedded->text().isEmpty());
}

// The full screen's field cleared with its clear button: the shared draft is empty, and the
// composer opens empty again after "取消".
TEST_F(VideoFullscreenTest, AFullScreenLineClearedWithItsButtonStaysClearedAfterCancelling)
{
    KRVideoDetailViewController* page = writeInTheFullScreen();
    ASSERT_FALSE(HasFatalFailure());
    TextField* field = fullscreenField();
    ASSERT_NE(field, nullptr);
    ASSERT_TRUE(field->isFirstResponder());
    typeAtWindow(QStringLiteral("好看"));
    ASSERT_EQ(page->danmakuComposer()->draft(), QStringLiteral("好看"));
    clickThroughWindow(field->clearButton());
    EXPECT_TRUE(field->text().isEmpty());
    EXPECT_TRUE(page->danmakuComposer()->draft().isEmpty());
    clickThroughWindow(sheetButton(QStringLiteral("取消")));
    settle();
    EXPECT_FALSE(field->isFirstResponder());
    writeAgainFromTheRail(page);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(field->isFirstResponder());
    EXPECT_TRUE(field->text().isEmpty());
}

// The rail's rows stop at the first button that is missing: those above it are laid out, those
// below are left where they were.
TEST_F(VideoFullscreenTest, TheRailsLayoutStopsAtItsFirstMissingButton)
{
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page));
    View* rail = enterLandscapeByTheButton(page);
    ASSERT_NE(rail, nullptr);
    delete railButton(rail, 2);
    const QRectF away(1, 1, 5, 5);
    for (int i : {0, 1, 3, 4})
        railButton(rail, i)->setFrame(away);
    rail->viewWithTag(7962)->setFrame(away);
    page->fullscreen()->layoutFullscreenControls();
    EXPECT_EQ(railButton(rail, 0)->frame(), QRectF(0, 0, 54, 42));
    EXPECT_EQ(railButton(rail, 1)->frame(), QRectF(0, 42, 54, 42));
    EXPECT_EQ(railButton(rail, 3)->frame(), away);
    EXPECT_EQ(railButton(rail, 4)->frame(), away);
    EXPECT_EQ(rail->viewWithTag(7962)->frame(), away);
    EXPECT_EQ(rail->frame(), QRectF(603, 73, 54, 210));
    // The danmaku-settings button is made visible all the same.
    EXPECT_FALSE(railButton(rail, 3)->isHidden());
}

// The synchronisation of the landscape full screen ticks every 0.1 s and passes over the view
// tree at most every 0.5 s; an A4-class phone ticks every 0.2 s and passes every second.
TEST_F(VideoFullscreenTest, TheSynchronisationKeepsALaterPhonesPace)
{
    expectSynchronisationPace(0.1, 0.5);
}

TEST_F(VideoFullscreenTest, TheSynchronisationKeepsTheSlowerPaceOfAnA4ClassPhone)
{
    useDevice(QStringLiteral("iPhone3,1"), QStringLiteral("7.1"));
    expectSynchronisationPace(0.2, 1.0);
}

// The page's chrome faded out for a turn comes back for good when the full screen is reset
// half-way through the fade: by a failure on the turn into landscape, and by the player torn
// down on the turn back upright.
TEST_F(VideoFullscreenTest, AResetDuringTheTurnsFadeLeavesTheControlsAndTheLoadingShown)
{
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page));
    KRPlayerFullscreen* fullscreen = page->fullscreen()->player();
    View* controls = page->playerControls();
    View* loading = part(page, "loadingOverlay");
    ASSERT_EQ(controls->alpha(), 1.0);
    ASSERT_EQ(loading->alpha(), 1.0);
    const auto expectShownForGood = [&](const char* when) {
        EXPECT_FALSE(fullscreen->isChromeSuppressed()) << when;
        EXPECT_EQ(controls->alpha(), 1.0) << when;
        EXPECT_EQ(loading->alpha(), 1.0) << when;
        settle();
        EXPECT_EQ(controls->alpha(), 1.0) << when;
        EXPECT_EQ(loading->alpha(), 1.0) << when;
        EXPECT_FALSE(page->fullscreen()->isShown()) << when;
        EXPECT_EQ(Application::shared().statusBarOrientation(), int(InterfaceOrientationPortrait)) << when;
    };

    // Turned into landscape by the button, the chrome fades out over 0.07 s; the player stops
    // and fails half-way.
    clickThroughWindow(fullscreenButton(page), false);
    ASSERT_TRUE(fullscreen->isChromeSuppressed());
    platform::MainClock::advanceForTesting(0.03);
    ASSERT_GT(controls->alpha(), 0.0);
    ASSERT_LT(controls->alpha(), 1.0);
    page->playbackSession()->stop();
    QMetaObject::invokeMethod(page->playbackSession(), "failed", Q_ARG(QString, QStringLiteral("gone")), Q_ARG(bool, true));
    expectShownForGood("failed on the turn into landscape");

    // Played again from the failure, in landscape, and the device turned upright: the player
    // is torn down half-way through that fade.
    clickThroughWindow(part<Button>(page, "playButton"));
    KR_ADVANCE_UNTIL(playing(page) && loading->isHidden());
    ASSERT_NE(enterLandscapeByTheButton(page), nullptr);
    ASSERT_EQ(fullscreen->phase(), 3);
    ASSERT_EQ(controls->alpha(), 1.0);
    Application::shared().rotateForTesting(InterfaceOrientationPortrait);
    ASSERT_TRUE(fullscreen->isChromeSuppressed());
    platform::MainClock::advanceForTesting(0.03);
    ASSERT_GT(controls->alpha(), 0.0);
    ASSERT_LT(controls->alpha(), 1.0);
    page->tearDownMoviePlayer();
    expectShownForGood("torn down on the turn upright");
}

// ---- what lies over the picture as a user meets it ----

namespace {

class FullscreenChromeTest : public VideoFullscreenTest {
protected:
    void SetUp() override
    {
        VideoFullscreenTest::SetUp();
        platform::UserDefaults::standard().setObject(QStringLiteral("KRDanmakuEnabled"), true);
    }
    // The clock and the players' polls move on for `seconds`.
    static void runFor(double seconds)
    {
        for (double moved = 0; moved < seconds - 1e-9; moved += 0.02) {
            platform::MainClock::advanceForTesting(0.02);
            QCoreApplication::processEvents();
        }
    }
    // Ctrl+Left on the window: the device turns as a hand would turn it.
    void turnByTheKeys() { QTest::keyClick(window->windowHandle(), Qt::Key_Left, Qt::ControlModifier); }
    View* rail() const { return window->findChild<View*>(QStringLiteral("fullscreenRail")); }
    bool railShows() const { return rail() && rail()->isVisible() && rail()->alpha() > 0.99; }
    // The widget a press at the middle of `view` lands on lies inside `view`.
    bool inFront(View* view) const
    {
        const QPoint point = view->mapTo(window.get(), view->rect().center());
        for (const QWidget* hit = window->childAt(point); hit; hit = hit->parentWidget()) {
            if (hit == view)
                return true;
        }
        return false;
    }
    // A tap on the picture, away from every button, brings the controls back.
    void showControlsByATap(KRVideoDetailViewController* page)
    {
        KRPlayerControlsView* controls = page->playerControls();
        const QPoint point = controls->mapTo(window.get(), QPoint(controls->width() / 3, controls->height() / 2));
        QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, point);
        KR_ADVANCE_UNTIL(controls->areControlsVisible());
    }
};

} // namespace

// Turned by the keys, the full screen shows the controls and the rail for their full three
// seconds: a hide still pending from a tap just before the turn does not take them with what
// was left of its time.
TEST_F(FullscreenChromeTest, TurnedByTheKeysTheControlsAndTheRailStayTheirThreeSeconds)
{
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page) && pauseWatchIdle());
    KRPlayerControlsView* controls = page->playerControls();
    // The clip lasts 12 s: the turn starts it again from its beginning (a seek of the page's,
    // which leaves the controls as they are).
    KR_ADVANCE_UNTIL(!controls->areControlsVisible());
    // Shown by a tap two seconds before the turn: their hide is due a second after it.
    showControlsByATap(page);
    ASSERT_FALSE(HasFatalFailure());
    runFor(2.0);
    ASSERT_TRUE(controls->areControlsVisible());
    page->playerControlsSeekToTime(controls, 0);
    turnByTheKeys();
    double turnedAt = platform::MainClock::now();
    runFor(1.5);
    ASSERT_TRUE(page->fullscreen()->isShown());
    EXPECT_EQ(page->fullscreen()->player()->phase(), 3);
    EXPECT_TRUE(controls->areControlsVisible());
    EXPECT_TRUE(railShows());
    // They go together three seconds after the full screen has shown them (its turn takes a
    // moment of its own).
    KR_ADVANCE_UNTIL(!controls->areControlsVisible());
    EXPECT_GE(platform::MainClock::now() - turnedAt, 3.0);
    EXPECT_LE(platform::MainClock::now() - turnedAt, 3.6);
    EXPECT_FALSE(railShows());
    // A tap brings both back.
    showControlsByATap(page);
    EXPECT_TRUE(railShows());
    EXPECT_TRUE(playing(page));
}

// Another player takes the picture's place (a switch to the DASH pair) while the full-screen
// composer is open: the composer, and the rail behind it, are in front of the new picture, and
// the line goes on being written there; closed, the rail shows in front of it.
TEST_F(FullscreenChromeTest, APlayerReplacedUnderAnOpenComposerLeavesItAndTheRailInFront)
{
    KRPreferences::sharedPreferences().setPreferredQuality(16);
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page) && pauseWatchIdle());
    KR_ADVANCE_UNTIL(!page->qualityValues().isEmpty());
    KRPlayerControlsView* controls = page->playerControls();
    page->playerControlsSeekToTime(controls, 0);
    if (!controls->areControlsVisible())
        showControlsByATap(page);
    clickThroughWindow(controls->findChild<Button*>(QStringLiteral("fullscreenButton")));
    settle();
    ASSERT_TRUE(page->fullscreen()->isShown());
    if (!controls->areControlsVisible())
        showControlsByATap(page);
    ASSERT_TRUE(railShows());
    clickThroughWindow(rail()->findChild<Button*>(QStringLiteral("fullscreenAddDanmakuButton")));
    auto* bar = window->findChild<View*>(QStringLiteral("fullscreenComposerBar"));
    auto* field = window->findChild<TextField*>(QStringLiteral("fullscreenInputField"));
    ASSERT_NE(bar, nullptr);
    ASSERT_NE(field, nullptr);
    ASSERT_TRUE(field->isFirstResponder());
    // Played on while the line is written, by a double tap on the picture (the keyboard's bar
    // and the composer cover the controls' own button).
    const QPoint middle = controls->mapTo(window.get(), controls->rect().center());
    for (int i = 0; i < 2; ++i)
        QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, middle);
    KR_ADVANCE_UNTIL(playing(page));
    ASSERT_TRUE(field->isFirstResponder());
    View* container = part(page, "playerContainer");
    View* oldPicture = qobject_cast<View*>(page->moviePlayer()->view());

    // Where each lies at the moment the new player has been put in place.
    int replaced = 0;
    bool railAbove = false, barAbove = false;
    auto look = [&] {
        auto* picture = page->moviePlayer() ? qobject_cast<View*>(page->moviePlayer()->view()) : nullptr;
        if (!picture || picture == oldPicture)
            return;
        ++replaced;
        const QList<View*> order = container->subviews();
        railAbove = order.indexOf(rail()) > order.indexOf(picture);
        barAbove = order.indexOf(bar) > order.indexOf(picture);
    };
    QObject::connect(page->playbackSession(), &KRPlaybackSession::mediaReplaced, page, look);
    QObject::connect(page->playbackSession(), &KRPlaybackSession::mediaInstalled, page, look);
    page->switchToQualityAtIndex(int(page->qualityValues().indexOf(80)));
    KR_ADVANCE_UNTIL(replaced > 0 && !page->playbackSession()->isSwitchingQuality());
    EXPECT_NE(page->dashPlayback(), nullptr);
    EXPECT_TRUE(railAbove);
    EXPECT_TRUE(barAbove);
    runFor(0.5);
    ASSERT_TRUE(page->fullscreen()->isShown());
    EXPECT_TRUE(bar->isVisible());
    EXPECT_TRUE(inFront(bar));
    EXPECT_TRUE(field->isFirstResponder());

    // Closed: the rail comes back in front of the new picture with the controls.
    for (Button* button : window->findChild<View*>(QStringLiteral("fullscreenInputAccessory"))->findChildren<Button*>()) {
        if (button->isVisible() && button->currentTitle() == QStringLiteral("取消"))
            clickThroughWindow(button);
    }
    EXPECT_FALSE(bar->isVisible());
    if (!controls->areControlsVisible())
        showControlsByATap(page);
    runFor(0.6);
    EXPECT_TRUE(railShows());
    EXPECT_TRUE(inFront(rail()));
    EXPECT_TRUE(playing(page));
}
