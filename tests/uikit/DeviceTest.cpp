#include "KitTestSupport.h"

#include "platform/foundation/NotificationCenter.h"
#include "platform/uikit/ApplicationDelegate.h"
#include "platform/uikit/Device.h"
#include "platform/uikit/View.h"
#include "platform/uikit/ViewController.h"
#include "platform/uikit/Window.h"

#include <QKeyEvent>

using namespace platform::uikit;

namespace {
// A screen whose answer to the masks a test changes, as a playing page does.
struct TurnableScreen : ViewController {
    bool allows = false;
    QStringList events;
    bool shouldAutorotate() override { return allows; }
    int supportedInterfaceOrientations() override { return allows ? InterfaceOrientationMaskAllButUpsideDown : InterfaceOrientationMaskPortrait; }
    bool shouldAutorotateToInterfaceOrientation(int o) override { return allows ? o != InterfaceOrientationPortraitUpsideDown : o == InterfaceOrientationPortrait; }
    void willRotateToInterfaceOrientation(int o, double d) override
    {
        events << QStringLiteral("willRotate %1").arg(o);
        ViewController::willRotateToInterfaceOrientation(o, d);
    }
    void viewWillTransitionToSize(const QSizeF& s, TransitionCoordinator* c) override
    {
        events << QStringLiteral("transition %1").arg(StringFromSize(s));
        ViewController::viewWillTransitionToSize(s, c);
    }
};

struct OrientationLog {
    QList<int> seen;
    platform::ObserverToken token;
    OrientationLog()
    {
        token = platform::NotificationCenter::defaultCenter().addObserver(
            DeviceOrientationDidChangeNotification, &Device::current(),
            [this](const platform::Notification&) { seen << Device::current().orientation(); });
    }
};
} // namespace

class KitDevice : public KitTest {
protected:
    void SetUp() override
    {
        KitTest::SetUp();
        window = std::make_unique<Window>();
        screen = new TurnableScreen();
        window->setRootViewController(screen);
        window->makeKeyAndVisible();
    }
    void TearDown() override
    {
        window.reset();
        KitTest::TearDown();
    }
    static int interface() { return Application::shared().statusBarOrientation(); }

    std::unique_ptr<Window> window;
    TurnableScreen* screen = nullptr;
};

TEST_F(KitDevice, NotificationsArePostedOnlyWhileSomeoneGeneratesThem)
{
    OrientationLog log;
    Device& device = Device::current();
    EXPECT_EQ(device.orientation(), 1);
    device.setOrientation(5);
    EXPECT_TRUE(log.seen.isEmpty());
    EXPECT_EQ(device.orientation(), 5);

    device.beginGeneratingDeviceOrientationNotifications();
    device.beginGeneratingDeviceOrientationNotifications();
    device.setOrientation(6);
    device.setOrientation(6);  // no turn, no news
    device.endGeneratingDeviceOrientationNotifications();
    device.setOrientation(0);
    EXPECT_EQ(log.seen, (QList<int>{6, 0}));
    device.endGeneratingDeviceOrientationNotifications();
    device.endGeneratingDeviceOrientationNotifications();  // unmatched: ignored
    EXPECT_FALSE(device.isGeneratingDeviceOrientationNotifications());
    device.setOrientation(1);
    EXPECT_EQ(log.seen, (QList<int>{6, 0}));
}

TEST_F(KitDevice, AValueOutsideTheDevicesOrientationsChangesNothing)
{
    OrientationLog log;
    Device::current().beginGeneratingDeviceOrientationNotifications();
    screen->allows = true;
    for (int bad : {-1, 7, 42}) {
        Device::current().setOrientation(bad);
        EXPECT_EQ(Device::current().orientation(), 1) << bad;
    }
    AnimationClock::finishAll();
    EXPECT_TRUE(log.seen.isEmpty());
    EXPECT_EQ(interface(), 1);
}

TEST_F(KitDevice, TheInterfaceFollowsTheDeviceWhenTheMasksAllowThroughTheRootsRotationPath)
{
    screen->allows = true;
    screen->events.clear();
    Device::current().setOrientation(3);
    EXPECT_EQ(Application::shared().pendingOrientation(), 3);
    AnimationClock::finishAll();
    EXPECT_EQ(interface(), 3);
    EXPECT_EQ(window->frame().size(), QSizeF(667, 375));
    EXPECT_EQ(screen->events, (QStringList{"transition {667, 375}", "willRotate 3"}));

    Device::current().setOrientation(4);
    AnimationClock::finishAll();
    EXPECT_EQ(interface(), 4);
    EXPECT_EQ(window->frame().size(), QSizeF(667, 375));

    Device::current().setOrientation(1);
    AnimationClock::finishAll();
    EXPECT_EQ(interface(), 1);
    EXPECT_EQ(window->frame().size(), QSizeF(375, 667));
}

TEST_F(KitDevice, FaceUpFaceDownAndUpsideDownChangeNothing)
{
    screen->allows = true;
    Device::current().setOrientation(3);
    AnimationClock::finishAll();
    ASSERT_EQ(interface(), 3);
    screen->events.clear();
    for (int flat : {5, 6, 2, 0}) {
        Device::current().setOrientation(flat);
        AnimationClock::finishAll();
        EXPECT_EQ(interface(), 3) << flat;
        EXPECT_EQ(window->frame().size(), QSizeF(667, 375)) << flat;
    }
    EXPECT_TRUE(screen->events.isEmpty());
    EXPECT_FALSE(Application::shared().rotateForTesting(2));
    EXPECT_EQ(interface(), 3);
}

TEST_F(KitDevice, ARefusedTurnIsTakenOnceTheScreenAllowsItAndAsksAgain)
{
    Device::current().setOrientation(4);
    AnimationClock::finishAll();
    EXPECT_EQ(interface(), 1);
    EXPECT_EQ(window->frame().size(), QSizeF(375, 667));

    ViewController::attemptRotationToDeviceOrientation();  // nothing has changed in the masks
    AnimationClock::finishAll();
    EXPECT_EQ(interface(), 1);

    screen->allows = true;
    ViewController::attemptRotationToDeviceOrientation();
    AnimationClock::finishAll();
    EXPECT_EQ(interface(), 4);
    EXPECT_EQ(window->frame().size(), QSizeF(667, 375));

    ViewController::attemptRotationToDeviceOrientation();  // already there: no second rotation
    EXPECT_EQ(Application::shared().pendingOrientation(), 0);
}

TEST_F(KitDevice, AnAttemptWithoutAKeyWindowDoesNothing)
{
    window.reset();
    Device::current().setOrientation(3);
    ViewController::attemptRotationToDeviceOrientation();
    AnimationClock::finishAll();
    EXPECT_EQ(interface(), 1);
}

TEST_F(KitDevice, ListenersHearOfTheTurnBeforeTheInterfaceStartsRotating)
{
    screen->allows = true;
    Device::current().beginGeneratingDeviceOrientationNotifications();
    QList<int> pendingWhenHeard;
    platform::ObserverToken token = platform::NotificationCenter::defaultCenter().addObserver(
        DeviceOrientationDidChangeNotification, &Device::current(),
        [&](const platform::Notification&) { pendingWhenHeard << Application::shared().pendingOrientation(); });
    Device::current().setOrientation(3);
    EXPECT_EQ(pendingWhenHeard, QList<int>{0});
    EXPECT_EQ(Application::shared().pendingOrientation(), 3);
    AnimationClock::finishAll();
}

TEST_F(KitDevice, AListenerThatAsksForTheRotationItselfGetsExactlyOne)
{
    Device::current().beginGeneratingDeviceOrientationNotifications();
    platform::ObserverToken token = platform::NotificationCenter::defaultCenter().addObserver(
        DeviceOrientationDidChangeNotification, &Device::current(), [&](const platform::Notification&) {
            screen->allows = true;
            ViewController::attemptRotationToDeviceOrientation();
        });
    screen->events.clear();
    Device::current().setOrientation(3);
    AnimationClock::finishAll();
    EXPECT_EQ(interface(), 3);
    EXPECT_EQ(screen->events, (QStringList{"transition {667, 375}", "willRotate 3"}));
}

TEST_F(KitDevice, ATurnBackDuringTheRotationIsFollowedOnceItEnds)
{
    screen->allows = true;
    Device::current().setOrientation(3);
    platform::MainClock::advanceForTesting(0.1);
    Device::current().setOrientation(1);  // the window is still turning
    EXPECT_EQ(Application::shared().pendingOrientation(), 3);
    EXPECT_EQ(interface(), 3);
    AnimationClock::finishAll();
    EXPECT_EQ(interface(), 1);
    EXPECT_EQ(window->frame().size(), QSizeF(375, 667));
}

TEST_F(KitDevice, BelowEightTheDeviceTurnRunsTheOlderHooks)
{
    window.reset();
    useDevice(QStringLiteral("iPhone5,1"), QStringLiteral("6.1"));
    window = std::make_unique<Window>();
    screen = new TurnableScreen();
    window->setRootViewController(screen);
    window->makeKeyAndVisible();
    screen->allows = true;
    Device::current().setOrientation(4);
    AnimationClock::finishAll();
    EXPECT_EQ(screen->events, QStringList{"willRotate 4"});
    EXPECT_EQ(window->frame().size(), QSizeF(568, 320));
}

TEST_F(KitDevice, RotateForTestingAndTheControlArrowsTurnTheDevice)
{
    screen->allows = true;
    ASSERT_TRUE(Application::shared().rotateForTesting(3));
    EXPECT_EQ(Device::current().orientation(), 3);
    AnimationClock::finishAll();
    EXPECT_FALSE(Application::shared().rotateForTesting(5));
    EXPECT_EQ(Device::current().orientation(), 5);
    EXPECT_EQ(interface(), 3);

    QKeyEvent right(QEvent::KeyPress, Qt::Key_Right, Qt::ControlModifier);
    QCoreApplication::sendEvent(window.get(), &right);  // flat is not landscape: turns to 4
    AnimationClock::finishAll();
    EXPECT_EQ(Device::current().orientation(), 4);
    EXPECT_EQ(interface(), 4);
    QKeyEvent left(QEvent::KeyPress, Qt::Key_Left, Qt::ControlModifier);
    QCoreApplication::sendEvent(window.get(), &left);
    AnimationClock::finishAll();
    EXPECT_EQ(Device::current().orientation(), 1);
    EXPECT_EQ(interface(), 1);

    screen->allows = false;
    QCoreApplication::sendEvent(window.get(), &left);
    AnimationClock::finishAll();
    EXPECT_EQ(Device::current().orientation(), 3);  // the hand turned; the interface did not
    EXPECT_EQ(interface(), 1);
    EXPECT_FALSE(Application::shared().rotateForTesting(3));
    screen->allows = true;
    EXPECT_TRUE(Application::shared().rotateForTesting(3));  // the same turn tried again
    AnimationClock::finishAll();
    EXPECT_EQ(interface(), 3);
}

TEST_F(KitDevice, TheOrientationSetterIsFoundByName)
{
    screen->allows = true;
    ASSERT_TRUE(QMetaObject::invokeMethod(&Device::current(), "setOrientation", Q_ARG(int, 4)));
    AnimationClock::finishAll();
    EXPECT_EQ(interface(), 4);
}

TEST_F(KitDevice, ResettingTheApplicationHoldsTheDevicePortraitAgain)
{
    Device::current().beginGeneratingDeviceOrientationNotifications();
    Device::current().setOrientation(6);
    Application::shared().resetForTesting();
    EXPECT_EQ(Device::current().orientation(), 1);
    EXPECT_FALSE(Device::current().isGeneratingDeviceOrientationNotifications());
}
