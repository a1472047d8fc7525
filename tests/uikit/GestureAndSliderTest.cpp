#include "KitTestSupport.h"

#include "platform/uikit/Button.h"
#include "platform/uikit/DisplayLink.h"
#include "platform/uikit/LongPressGestureRecognizer.h"
#include "platform/uikit/PanGestureRecognizer.h"
#include "platform/uikit/Screen.h"
#include "platform/uikit/Slider.h"
#include "platform/uikit/TapGestureRecognizer.h"
#include "platform/uikit/View.h"
#include "platform/uikit/ViewController.h"
#include "platform/uikit/Window.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTest>

using namespace platform::uikit;

namespace {

void mouse(QWidget* widget, QEvent::Type type, const QPointF& at)
{
    QMouseEvent event(type, at, widget->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

using GestureAndSliderTest = KitTest;

// A window showing one surface, for touches that arrive at the window as a user's do.
struct SurfaceOnScreen {
    SurfaceOnScreen()
    {
        window.setRootViewController(root);
        window.makeKeyAndVisible();
    }
    Window window;
    ViewController* root = new ViewController();
    View* surface = new View(QRectF(0, 0, 200, 100), root->view());
};

TEST_F(GestureAndSliderTest, SliderDragsSendTheirEventsInOrder)
{
    Slider slider(QRectF(0, 0, 114, 22));
    std::vector<int> events;
    for (int event : {int(ControlEventTouchDown), int(ControlEventValueChanged), int(ControlEventTouchUpInside),
                      int(ControlEventTouchCancel)})
        slider.addTarget(event, [&events, event] { events.push_back(event); });
    slider.setValue(7);
    EXPECT_EQ(slider.value(), 1.0f);
    slider.setValue(std::nanf(""));
    EXPECT_EQ(slider.value(), 0.0f);

    // A finger from the left end to the middle: the thumb's half width is kept at each end.
    mouse(&slider, QEvent::MouseButtonPress, QPointF(7, 11));
    mouse(&slider, QEvent::MouseMove, QPointF(57, 11));
    mouse(&slider, QEvent::MouseButtonRelease, QPointF(57, 11));
    EXPECT_EQ(events, (std::vector<int>{ControlEventTouchDown, ControlEventValueChanged, ControlEventValueChanged,
                                        ControlEventTouchUpInside}));
    EXPECT_NEAR(slider.value(), 0.5, 1e-6);

    events.clear();
    slider.dragForTesting({0.25f}, true);
    EXPECT_EQ(events, (std::vector<int>{ControlEventTouchDown, ControlEventValueChanged, ControlEventTouchCancel}));
}

TEST_F(GestureAndSliderTest, TapsRecogniseOnTheSurfaceAndWaitForADoubleTap)
{
    View surface(QRectF(0, 0, 200, 100));
    auto* button = new Button(ButtonTypeCustom, QRectF(150, 0, 50, 50), &surface);
    int singles = 0;
    int doubles = 0;
    auto* single = new TapGestureRecognizer(&surface, [&] { ++singles; });
    auto* twice = new TapGestureRecognizer(&surface, [&] { ++doubles; });
    twice->setNumberOfTapsRequired(2);
    single->requireGestureRecognizerToFail(twice);
    single->setShouldReceiveTouch([&](View* touched) { return touched != button; });

    // A real tap: recognised once no second tap can follow.
    mouse(&surface, QEvent::MouseButtonPress, QPointF(20, 20));
    mouse(&surface, QEvent::MouseButtonRelease, QPointF(20, 20));
    EXPECT_EQ(singles, 0);
    platform::MainClock::advanceForTesting(0.349);
    EXPECT_EQ(singles, 0) << "a second tap may still come within 0.35 s";
    platform::MainClock::advanceForTesting(0.001);
    EXPECT_EQ(singles, 1);
    EXPECT_EQ(single->location(), QPointF(20, 20));

    // Two quick taps are a double tap and no single one.
    for (int i = 0; i < 2; ++i) {
        mouse(&surface, QEvent::MouseButtonPress, QPointF(30, 30));
        mouse(&surface, QEvent::MouseButtonRelease, QPointF(30, 30));
    }
    EXPECT_EQ(doubles, 1);
    single->tapForTesting(QPointF(30, 30), 2);
    EXPECT_EQ(singles, 1);

    // Not on the button, and a press that moved is no tap.
    single->tapForTesting(QPointF(160, 10));
    EXPECT_EQ(singles, 1);
    mouse(&surface, QEvent::MouseButtonPress, QPointF(10, 10));
    mouse(&surface, QEvent::MouseButtonRelease, QPointF(40, 10));
    single->setEnabled(false);
    single->tapForTesting(QPointF(10, 10));
    EXPECT_EQ(singles, 1);
}

// Two quick clicks at a window arrive as a press, a release, a double click and a release: the
// double click is the second touch, so the double tap is recognised and the single tap waiting
// for it is never.
TEST_F(GestureAndSliderTest, ADoubleClickAtTheWindowIsADoubleTapAndNoSingleOne)
{
    SurfaceOnScreen screen;
    Window& window = screen.window;
    View* surface = screen.surface;
    int singles = 0;
    int doubles = 0;
    auto* single = new TapGestureRecognizer(surface, [&] { ++singles; });
    auto* twice = new TapGestureRecognizer(surface, [&] { ++doubles; });
    twice->setNumberOfTapsRequired(2);
    single->requireGestureRecognizerToFail(twice);

    const QPoint at = surface->mapTo(&window, QPoint(40, 50));
    QTest::mouseDClick(window.windowHandle(), Qt::LeftButton, {}, at);
    EXPECT_EQ(doubles, 1);
    platform::MainClock::advanceForTesting(1.0);
    EXPECT_EQ(singles, 0);
    EXPECT_EQ(doubles, 1);

    // A lone click later is a single tap again.
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, at, 600);
    platform::MainClock::advanceForTesting(0.35);
    EXPECT_EQ(singles, 1);
    EXPECT_EQ(doubles, 1);
}

// The window system makes a press soon after a click a double click: for a drag or a hold that
// begins then, it is the touch's first press all the same.
TEST_F(GestureAndSliderTest, ADragOrAHoldBegunRightAfterAClickIsRecognised)
{
    SurfaceOnScreen screen;
    Window& window = screen.window;
    View* surface = screen.surface;
    QList<int> pans;
    PanGestureRecognizer* pan = nullptr;
    pan = new PanGestureRecognizer(surface, [&] { pans.append(pan->state()); });
    const QPoint at = surface->mapTo(&window, QPoint(40, 50));

    // As the window system sends them, 20 ms apart (the test helpers space their clicks so
    // that none makes a double click).
    int timestamp = QTest::lastMouseTimestamp + 1000;
    const auto send = [&](QEvent::Type type, QPoint point, Qt::MouseButtons held, Qt::MouseButton button) {
        timestamp += 20;
        qt_handleMouseEvent(window.windowHandle(), point, window.windowHandle()->mapToGlobal(QPointF(point)), held,
                            button, type, {}, timestamp);
    };
    const auto click = [&] {
        send(QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
        send(QEvent::MouseButtonRelease, at, Qt::NoButton, Qt::LeftButton);
    };
    click();
    send(QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseMove, at + QPoint(30, 0), Qt::LeftButton, Qt::NoButton);
    send(QEvent::MouseButtonRelease, at + QPoint(30, 0), Qt::NoButton, Qt::LeftButton);
    ASSERT_FALSE(pans.isEmpty());
    EXPECT_EQ(pans.first(), int(GestureStateBegan));
    EXPECT_EQ(pans.last(), int(GestureStateEnded));
    delete pan;

    QList<int> holds;
    LongPressGestureRecognizer* hold = nullptr;
    hold = new LongPressGestureRecognizer(surface, [&] { holds.append(hold->state()); });
    timestamp += 1000;
    click();
    send(QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
    platform::MainClock::advanceForTesting(hold->minimumPressDuration() + 0.1);
    send(QEvent::MouseButtonRelease, at, Qt::NoButton, Qt::LeftButton);
    QTest::lastMouseTimestamp = timestamp + 1000;
    ASSERT_FALSE(holds.isEmpty());
    EXPECT_EQ(holds.first(), int(GestureStateBegan));
}

TEST_F(GestureAndSliderTest, PansReportEachStateWithTheirTranslation)
{
    View surface(QRectF(0, 0, 200, 100));
    std::vector<std::pair<int, QPointF>> seen;
    PanGestureRecognizer* pan = nullptr;
    pan = new PanGestureRecognizer(&surface, [&] { seen.emplace_back(pan->state(), pan->translation()); });
    mouse(&surface, QEvent::MouseButtonPress, QPointF(10, 10));
    mouse(&surface, QEvent::MouseMove, QPointF(30, 15));
    mouse(&surface, QEvent::MouseButtonRelease, QPointF(30, 15));
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0].first, GestureStateBegan);
    EXPECT_EQ(seen[1], std::make_pair(int(GestureStateChanged), QPointF(20, 5)));
    EXPECT_EQ(seen[2].first, GestureStateEnded);
    EXPECT_EQ(pan->state(), GestureStatePossible);

    seen.clear();
    pan->setShouldReceiveTouch([](View*) { return false; });
    pan->panForTesting(QPointF(10, 10), {{5, 5}});
    EXPECT_TRUE(seen.empty());
}

// A surface with a single tap that waits for a double one and a pan, as a player's: a short
// drag is the pan's alone; its taps fail, now and after the double tap's wait.
TEST_F(GestureAndSliderTest, ARecognisedPanMakesTheTapsOfItsTouchFail)
{
    Window window;
    window.setRootViewController(new ViewController());
    window.makeKeyAndVisible();
    auto* surface = new View(QRectF(0, 100, 320, 180), window.rootViewController()->view());
    int singles = 0;
    int doubles = 0;
    std::vector<int> panStates;
    auto* single = new TapGestureRecognizer(surface, [&] { ++singles; });
    auto* twice = new TapGestureRecognizer(surface, [&] { ++doubles; });
    twice->setNumberOfTapsRequired(2);
    single->requireGestureRecognizerToFail(twice);
    PanGestureRecognizer* pan = nullptr;
    pan = new PanGestureRecognizer(surface, [&] { panStates.push_back(pan->state()); });

    const QPoint at = surface->mapTo(&window, QPoint(100, 90));
    for (int distance : {8, 9, 10}) {
        SCOPED_TRACE(distance);
        panStates.clear();
        QTest::mousePress(window.windowHandle(), Qt::LeftButton, {}, at);
        QTest::mouseMove(window.windowHandle(), at + QPoint(distance / 2, 0));
        QTest::mouseMove(window.windowHandle(), at + QPoint(distance, 0));
        QTest::mouseRelease(window.windowHandle(), Qt::LeftButton, {}, at + QPoint(distance, 0));
        EXPECT_EQ(panStates.front(), GestureStateBegan);
        EXPECT_EQ(panStates.back(), GestureStateEnded);
        platform::MainClock::advanceForTesting(0.4);
        EXPECT_EQ(singles, 0);
        EXPECT_EQ(doubles, 0);
    }
    // A tap, then a second press that drags: no double tap, and the first tap does not count either.
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, at);
    QTest::mousePress(window.windowHandle(), Qt::LeftButton, {}, at);
    QTest::mouseMove(window.windowHandle(), at + QPoint(0, 9));
    QTest::mouseRelease(window.windowHandle(), Qt::LeftButton, {}, at + QPoint(0, 9));
    platform::MainClock::advanceForTesting(0.4);
    EXPECT_EQ(doubles, 0);
    // A click without a drag is a tap once the double tap's wait is over.
    platform::MainClock::advanceForTesting(1);
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, at);
    platform::MainClock::advanceForTesting(0.4);
    EXPECT_EQ(singles, 1);
    EXPECT_EQ(doubles, 0);
}

TEST_F(GestureAndSliderTest, DisplayLinkTicksOnTheKitsClockEveryFrameOrEverySecond)
{
    QObject owner;
    int ticks = 0;
    DisplayLink link(&owner, [&] { ++ticks; });
    link.start();
    AnimationClock::advance(10.0 / 60);
    EXPECT_EQ(ticks, 10);
    link.setFrameInterval(2);
    link.stop();
    link.start();
    ticks = 0;
    AnimationClock::advance(10.0 / 60);
    EXPECT_EQ(ticks, 5);
    EXPECT_DOUBLE_EQ(link.timestamp(), AnimationClock::now());
    link.stop();
    EXPECT_FALSE(link.isRunning());
    AnimationClock::advance(1.0);
    EXPECT_EQ(ticks, 5);
}

TEST_F(GestureAndSliderTest, AlphaAnimatesOnTheClockAndTheLatestWins)
{
    View view(QRectF(0, 0, 10, 10));
    view.animateAlpha(0, 0.2);
    AnimationClock::advance(0.1);
    EXPECT_NEAR(view.alpha(), 0.5, 0.1);
    view.animateAlpha(1, 0.2);
    AnimationClock::finishAll();
    EXPECT_EQ(view.alpha(), 1);
    view.animateAlpha(0.3, 0);
    EXPECT_EQ(view.alpha(), 0.3);
}

TEST_F(GestureAndSliderTest, BrightnessIsKeptWithinRange)
{
    Screen::setBrightness(1.7);
    EXPECT_EQ(Screen::brightness(), 1.0);
    Screen::setBrightness(-1);
    EXPECT_EQ(Screen::brightness(), 0.0);
    Screen::setBrightness(0.5);
}

} // namespace
