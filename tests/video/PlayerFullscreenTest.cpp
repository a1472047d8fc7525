// The full screen's phase machine on its own: a player container in a surface over a plain
// screen, the rotation hooks sent as the shell sends them and the root view given each size as
// the window would, on the manual clock.
#include "../uikit/KitTestSupport.h"

#include "platform/foundation/MainClock.h"
#include "platform/uikit/AnimationClock.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Device.h"
#include "platform/uikit/View.h"
#include "platform/uikit/ViewController.h"
#include "platform/uikit/Window.h"
#include "shared/KRPlayerFullscreen.h"
#include "shared/KRPlayerSurface.h"
#include "support/ConsoleCapture.h"

using namespace platform::uikit;

namespace {

const QRectF kPortrait(0, 0, 375, 667);
const QRectF kLandscape(0, 0, 667, 375);

class PlayerFullscreenTest : public KitTest {
protected:
    void SetUp() override
    {
        KitTest::SetUp();
        platform::MainClock::setManualForTesting(true);
        auto* root = new ViewController();
        window.setRootViewController(root);
        window.makeKeyAndVisible();
        rootView = root->view();
        rootView->setFrame(kPortrait);
        screen = new View(QRectF(0, 64, 375, 603), rootView);
        container = new View(QRectF(0, 0, 375, 210), screen);
        chrome = new View(container->bounds(), container);
        ASSERT_TRUE(surface.install(container));
        KRPlayerFullscreen::Screen hooks;
        hooks.playing = [this] { return playing; };
        hooks.portraitVideo = [] { return false; };
        hooks.idle = [] { return false; };
        hooks.prepareForRotation = [this] { ++prepared; };
        hooks.layoutContent = [this](bool fullscreen) {
            chrome->setFrame(container->bounds());
            laidOutFullscreen = fullscreen;
        };
        hooks.presentChrome = [this] { ++presented; };
        hooks.returnChrome = [this] { ++returned; };
        hooks.layoutScreen = [this] { surface.setEmbeddedFrame(embedded); };
        hooks.chromeViews = [this] { return QList<QWidget*>{chrome}; };
        hooks.holdSurface = [this](bool held) { this->held = held; };
        hooks.commitOrientation = [](int) {};
        hooks.exited = [this] { ++exits; };
        hooks.settledEmbedded = [] {};
        fullscreen = std::make_unique<KRPlayerFullscreen>(&surface, hooks);
    }
    void TearDown() override
    {
        fullscreen.reset();
        surface.uninstall();
        KitTest::TearDown();
    }
    // One landscape rotation as the shell drives it, the root view turned as the window would.
    void turnToLandscape()
    {
        fullscreen->kr_enterFullscreenForLandscapeIfNeeded();
        fullscreen->kr_raisePlaybackSurfaceAfterRotationPreparation();
        rootView->setFrame(kLandscape);
        fullscreen->kr_layoutPlaybackDuringRotation();
        fullscreen->kr_completePlaybackRotationLayout();
        platform::MainClock::advanceForTesting(0.2);
    }

    Window window;
    View* rootView = nullptr;
    View* screen = nullptr;
    View* container = nullptr;
    View* chrome = nullptr;
    KRPlayerSurface surface;
    std::unique_ptr<KRPlayerFullscreen> fullscreen;
    QRectF embedded{0, 0, 375, 210};
    bool playing = true;
    bool held = false;
    bool laidOutFullscreen = false;
    int prepared = 0, presented = 0, returned = 0, exits = 0;
    testsupport::ConsoleCapture console;
};

} // namespace

TEST_F(PlayerFullscreenTest, ALandscapeRotationGoesThroughItsPhasesAndFadesTheChrome)
{
    EXPECT_FALSE(fullscreen->isFullscreen());
    fullscreen->kr_enterFullscreenForLandscapeIfNeeded();
    EXPECT_TRUE(fullscreen->isFullscreen());
    EXPECT_TRUE(fullscreen->isEnteredByRotation());
    EXPECT_EQ(fullscreen->phase(), 1);
    EXPECT_TRUE(held);
    EXPECT_TRUE(fullscreen->isChromeSuppressed());
    // Faded out over 0.07 s on the clock.
    platform::MainClock::advanceForTesting(0.03);
    EXPECT_GT(chrome->alpha(), 0.0);
    platform::MainClock::advanceForTesting(0.05);
    EXPECT_EQ(chrome->alpha(), 0.0);
    rootView->setFrame(kLandscape);
    fullscreen->kr_layoutPlaybackDuringRotation();
    EXPECT_EQ(fullscreen->phase(), 2);
    EXPECT_EQ(surface.backdrop()->frame(), kLandscape);
    EXPECT_TRUE(laidOutFullscreen);
    fullscreen->kr_completePlaybackRotationLayout();
    EXPECT_EQ(fullscreen->phase(), 3);
    EXPECT_FALSE(fullscreen->isTransitioning());
    EXPECT_EQ(presented, 0);
    // The chrome comes back on the next turn, over 0.11 s.
    platform::MainClock::advanceForTesting(0.001);
    EXPECT_EQ(presented, 1);
    platform::MainClock::advanceForTesting(0.06);
    EXPECT_GT(chrome->alpha(), 0.0);
    EXPECT_LT(chrome->alpha(), 1.0);
    platform::MainClock::advanceForTesting(0.06);
    EXPECT_EQ(chrome->alpha(), 1.0);
}

TEST_F(PlayerFullscreenTest, AStalePortraitTargetIsComputedAgainAndARejectedOneFallsBackToAnExitInPlace)
{
    turnToLandscape();
    ASSERT_EQ(fullscreen->phase(), 3);
    // Back toward portrait: the target is computed during the rotation…
    fullscreen->kr_restoreFullscreenAfterLandscapeIfNeeded();
    const unsigned requested = fullscreen->generation();
    rootView->setFrame(kPortrait);
    fullscreen->kr_layoutPlaybackDuringRotation();
    EXPECT_EQ(fullscreen->phase(), 5);
    EXPECT_EQ(surface.backdrop()->frame(), QRectF(0, 64, 375, 210));
    // …then a newer request comes before the rotation ends: that target is stale now.
    fullscreen->kr_enterFullscreenForLandscapeIfNeeded();
    fullscreen->kr_restoreFullscreenAfterLandscapeIfNeeded();
    EXPECT_GT(fullscreen->generation(), requested);
    // The layout moved meanwhile; the exit uses the target computed again, for this request.
    embedded = QRectF(0, 20, 375, 200);
    fullscreen->kr_completePlaybackRotationLayout();
    EXPECT_FALSE(fullscreen->isFullscreen());
    EXPECT_EQ(fullscreen->phase(), 0);
    EXPECT_EQ(surface.backdrop()->frame(), QRectF(0, 84, 375, 200));
    EXPECT_EQ(exits, 1);
    EXPECT_FALSE(held);

    // An implausible target (smaller than 80 by 44) is rejected: the return ends in place.
    embedded = QRectF(0, 0, 375, 210);
    turnToLandscape();
    ASSERT_TRUE(fullscreen->isFullscreen());
    fullscreen->kr_restoreFullscreenAfterLandscapeIfNeeded();
    rootView->setFrame(kPortrait);
    embedded = QRectF(0, 0, 40, 30);
    fullscreen->kr_layoutPlaybackDuringRotation();
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvanePlayerRotation] rejected portrait target={{0, 64}, {40, 30}} host={{0, 0}, {375, 667}}")));
    EXPECT_EQ(surface.backdrop()->frame(), kPortrait);
    fullscreen->kr_completePlaybackRotationLayout();
    EXPECT_FALSE(fullscreen->isFullscreen());
    EXPECT_EQ(fullscreen->phase(), 0);
    EXPECT_EQ(exits, 2);
}

TEST_F(PlayerFullscreenTest, NothingTurnsWithoutPlaybackAndTheSurfaceGoingEndsTheFullScreen)
{
    playing = false;
    EXPECT_FALSE(fullscreen->kr_allowsPlaybackRotation());
    fullscreen->kr_enterFullscreenForLandscapeIfNeeded();
    fullscreen->enterCustomPlayerFullscreenLandscape(true, false, false);
    EXPECT_FALSE(fullscreen->isFullscreen());
    EXPECT_FALSE(fullscreen->isChromeSuppressed());

    playing = true;
    turnToLandscape();
    ASSERT_TRUE(fullscreen->isFullscreen());
    fullscreen->suppressPlayerChromeForRotation();
    platform::MainClock::advanceForTesting(0.1);
    ASSERT_EQ(chrome->alpha(), 0.0);
    fullscreen->reset();
    EXPECT_FALSE(fullscreen->isFullscreen());
    EXPECT_FALSE(held);
    EXPECT_EQ(returned, 1);
    EXPECT_EQ(chrome->alpha(), 1.0);
    EXPECT_EQ(fullscreen->phase(), 0);
}

// The surface goes (a stop, a failure) while the chrome is still fading out for a rotation: the
// fade stops there and the chrome shows again, whatever the fade's frames would have said.
TEST_F(PlayerFullscreenTest, AResetDuringTheFadeOutShowsTheChromeForGood)
{
    fullscreen->kr_enterFullscreenForLandscapeIfNeeded();
    ASSERT_TRUE(fullscreen->isChromeSuppressed());
    platform::MainClock::advanceForTesting(0.03);
    ASSERT_GT(chrome->alpha(), 0.0);
    ASSERT_LT(chrome->alpha(), 1.0);
    fullscreen->reset();
    EXPECT_FALSE(fullscreen->isChromeSuppressed());
    EXPECT_EQ(chrome->alpha(), 1.0);
    platform::MainClock::advanceForTesting(0.1);
    EXPECT_EQ(chrome->alpha(), 1.0);
    EXPECT_EQ(fullscreen->phase(), 0);
}

// Only landscape turns are the orientation acted on: set upright during the landscape full
// screen and straight back before the interface has turned, the device points where the full
// screen already is, and the way back to portrait goes on.
TEST_F(PlayerFullscreenTest, APortraitTurnIsNotTheOrientationActedOn)
{
    Device::current().setOrientation(3);
    turnToLandscape();
    ASSERT_EQ(fullscreen->phase(), 3);
    ASSERT_EQ(fullscreen->deviceOrientation(), 3);
    Device::current().setOrientation(1);
    EXPECT_EQ(fullscreen->phase(), 4);
    EXPECT_TRUE(fullscreen->isWaitingForPortrait());
    EXPECT_EQ(fullscreen->deviceOrientation(), 3);
    const unsigned generation = fullscreen->generation();
    Device::current().setOrientation(3);
    EXPECT_EQ(fullscreen->phase(), 4);
    EXPECT_TRUE(fullscreen->isWaitingForPortrait());
    EXPECT_EQ(fullscreen->generation(), generation);
    Device::current().setOrientation(1);
}

// The orientation is asked of the device's setter by name; a device without one gets the
// status bar turned instead, and the interface follows either.
TEST_F(PlayerFullscreenTest, AnOrientationRequestFallsBackToTheStatusBarWithoutTheDevicesSetter)
{
    QObject withoutSetter;
    fullscreen->requestCustomPlayerInterfaceOrientation(InterfaceOrientationLandscapeRight, &withoutSetter);
    EXPECT_EQ(Application::shared().statusBarOrientation(), int(InterfaceOrientationLandscapeRight));
    EXPECT_NE(Device::current().orientation(), int(InterfaceOrientationLandscapeRight));
    fullscreen->requestCustomPlayerInterfaceOrientation(InterfaceOrientationPortrait, &withoutSetter);
    EXPECT_EQ(Application::shared().statusBarOrientation(), int(InterfaceOrientationPortrait));
    // With the setter, the device itself is turned.
    fullscreen->requestCustomPlayerInterfaceOrientation(3);
    EXPECT_EQ(Device::current().orientation(), 3);
    Device::current().setOrientation(1);
}
