#include "KitTestSupport.h"

#include "platform/foundation/DelayedCall.h"

#include "platform/uikit/AlertView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationBar.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/NavigationItem.h"
#include "platform/uikit/View.h"
#include "platform/uikit/ScrollView.h"
#include "platform/uikit/Window.h"

#include <QKeyEvent>
#include <QPainter>
#include <QPointer>

using namespace platform::uikit;

class KitClock : public KitTest {};

TEST_F(KitClock, AnimationsRunOnlyWhenTheClockIsStepped)
{
    QList<double> steps;
    bool finished = false;
    const auto id = AnimationClock::animate(nullptr, 0.1, [&](double t) { steps << t; }, [&](bool f) { finished = f; });
    EXPECT_TRUE(AnimationClock::isRunning(id));
    EXPECT_TRUE(steps.isEmpty());
    AnimationClock::advance(0.05);
    ASSERT_FALSE(steps.isEmpty());
    EXPECT_LT(steps.last(), 1.0);
    AnimationClock::advance(0.06);
    EXPECT_EQ(steps.last(), 1.0);
    EXPECT_TRUE(finished);
    EXPECT_FALSE(AnimationClock::isRunning(id));

    // A zero duration completes inside the call; a cancel reports an unfinished end.
    int zero = 0;
    AnimationClock::animate(nullptr, 0, [&](double t) { zero += t == 1.0; }, [&](bool f) { zero += f; });
    EXPECT_EQ(zero, 2);
    bool cancelledFinished = true;
    const auto other = AnimationClock::animate(nullptr, 1, {}, [&](bool f) { cancelledFinished = f; });
    AnimationClock::cancel(other);
    EXPECT_FALSE(cancelledFinished);
}

TEST_F(KitClock, TheMainClockStepsAnimationsAndDelayedCallsTogetherInTimeOrder)
{
    EXPECT_TRUE(AnimationClock::isManual()) << "the main clock's manual mode reaches the animation clock";
    View view(QRectF(0, 0, 10, 10));
    double progress = 0;
    bool finished = false;
    AnimationClock::animate(&view, 1.0, [&](double t) { progress = t; }, [&](bool done) { finished = done; });
    platform::DelayedCalls calls;
    double progressAtCall = -1;
    bool finishedAtCall = true;
    calls.schedule(QStringLiteral("halfway"), 500, [&] {
        progressAtCall = progress;
        finishedAtCall = finished;
    });
    EXPECT_EQ(progress, 0);
    platform::MainClock::advanceForTesting(1.0);
    EXPECT_NEAR(progressAtCall, 0.5, 1e-9) << "the animation had moved up to the call's moment, no further";
    EXPECT_FALSE(finishedAtCall);
    EXPECT_TRUE(finished);
    EXPECT_EQ(progress, 1.0);

    // Stepping the animation clock alone moves no delayed call.
    bool ran = false;
    calls.schedule(QStringLiteral("later"), 100, [&] { ran = true; });
    AnimationClock::advance(0.5);
    EXPECT_FALSE(ran);
    platform::MainClock::advanceForTesting(0.1);
    EXPECT_TRUE(ran);
}

// Frames that do not come: delayed calls still fall due, animations wait where they are and
// go on from there once frames come again.
TEST_F(KitClock, HeldFramesLeaveAnimationsWhereTheyAreWhileDelayedCallsRun)
{
    View view(QRectF(0, 0, 10, 10));
    double progress = 0;
    AnimationClock::animate(&view, 0.2, [&](double t) { progress = t; });
    platform::MainClock::advanceForTesting(0.05);
    const double before = progress;
    EXPECT_GT(before, 0);
    platform::DelayedCalls calls;
    bool ran = false;
    calls.schedule(QStringLiteral("due"), 300, [&] { ran = true; });
    AnimationClock::setFramesHeldForTesting(true);
    platform::MainClock::advanceForTesting(0.4);
    EXPECT_TRUE(ran);
    EXPECT_EQ(progress, before);
    AnimationClock::setFramesHeldForTesting(false);
    platform::MainClock::advanceForTesting(0.1);
    EXPECT_GT(progress, before);
    EXPECT_LT(progress, 1.0);
    platform::MainClock::advanceForTesting(0.1);
    EXPECT_EQ(progress, 1.0);
}

TEST_F(KitClock, AnAnimationWhoseOwnerHasGoneIsDroppedSilently)
{
    auto* owner = new QObject();
    int calls = 0;
    AnimationClock::animate(owner, 1, [&](double) { ++calls; }, [&](bool) { ++calls; });
    delete owner;
    AnimationClock::advance(2);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(AnimationClock::runningCount(), 0);
}

TEST_F(KitClock, ViewControllersLoadOnceAndLayOutWithTheirViews)
{
    struct Screen : ViewController {
        int loads = 0, willLayout = 0, didLayout = 0;
        void viewDidLoad() override { ++loads; }
        void viewWillLayoutSubviews() override { ++willLayout; }
        void viewDidLayoutSubviews() override { ++didLayout; }
    } screen;
    EXPECT_FALSE(screen.isViewLoaded());
    View* v = screen.view();
    EXPECT_EQ(screen.view(), v);
    EXPECT_EQ(screen.loads, 1);
    EXPECT_EQ(v->frame(), QRectF(0, 0, 375, 667));
    v->setFrame(QRectF(0, 0, 320, 480));
    v->layoutIfNeeded();
    EXPECT_EQ(screen.willLayout, 1);
    EXPECT_EQ(screen.didLayout, 1);
    screen.setTitle(QStringLiteral("标题"));
    EXPECT_EQ(screen.navigationItem()->title(), QStringLiteral("标题"));
}

TEST_F(KitClock, NavigationStackEdits)
{
    Window w;
    auto* a = new ViewController();
    auto* nav = new NavigationController(a);
    w.setRootViewController(nav);
    w.makeKeyAndVisible();
    auto* b = new ViewController();
    auto* c = new ViewController();
    auto* d = new ViewController();
    nav->pushViewController(b, true);
    nav->pushViewController(c, true);  // finishes the running slide first
    AnimationClock::finishAll();
    EXPECT_EQ(nav->viewControllers(), (QList<ViewController*>{a, b, c}));
    EXPECT_TRUE(b->view()->isHidden());
    EXPECT_FALSE(c->view()->isHidden());
    nav->pushViewController(c, false);  // already on the stack
    EXPECT_EQ(nav->viewControllers().size(), 3);
    nav->pushViewController(d, false);
    QPointer<ViewController> gc(c), gd(d);
    const auto popped = nav->popToViewController(b, true);
    EXPECT_EQ(popped, (QList<ViewController*>{c, d}));
    AnimationClock::finishAll();
    flushDeferredDeletes();
    EXPECT_TRUE(gc.isNull() && gd.isNull());
    EXPECT_EQ(nav->topViewController(), b);
    EXPECT_FALSE(b->view()->isHidden());
    EXPECT_EQ(nav->popToRootViewControllerAnimated(false), QList<ViewController*>{b});
    EXPECT_EQ(nav->popViewControllerAnimated(false), nullptr);  // never pops the root
    auto* e = new ViewController();
    nav->setViewControllers({a, e});
    EXPECT_EQ(nav->topViewController(), e);
    EXPECT_EQ(nav->navigationBar()->items().size(), 2);
    nav->setNavigationBarHidden(true);
    EXPECT_TRUE(nav->navigationBar()->isHidden());
    EXPECT_EQ(e->view()->frame(), QRectF(0, 0, 375, 667));
}

TEST_F(KitClock, ControlArrowKeysRotateTheWindow)
{
    Window w;
    auto* root = new ViewController();
    w.setRootViewController(root);
    w.makeKeyAndVisible();
    QKeyEvent left(QEvent::KeyPress, Qt::Key_Left, Qt::ControlModifier);
    QCoreApplication::sendEvent(&w, &left);
    AnimationClock::finishAll();
    EXPECT_EQ(Application::shared().statusBarOrientation(), int(InterfaceOrientationLandscapeRight));
    EXPECT_EQ(w.frame().size(), QSizeF(667, 375));
    EXPECT_EQ(root->view()->frame(), QRectF(0, 0, 667, 375));
    QKeyEvent right(QEvent::KeyPress, Qt::Key_Right, Qt::ControlModifier);
    QCoreApplication::sendEvent(&w, &right);
    AnimationClock::finishAll();
    EXPECT_EQ(Application::shared().statusBarOrientation(), int(InterfaceOrientationPortrait));
    EXPECT_EQ(w.frame().size(), QSizeF(375, 667));
}

TEST_F(KitClock, AnAlertWithoutAWindowAnswersAsCancelled)
{
    int answer = -2;
    QPointer<AlertView> alert = new AlertView(QStringLiteral("提示"), {}, QStringLiteral("取消"), {}, nullptr,
                                              [&](int i) { answer = i; });
    alert->show();
    EXPECT_EQ(answer, 0);
    flushDeferredDeletes();
    EXPECT_TRUE(alert.isNull());
}

TEST_F(KitClock, ChineseTextAndTexturesReachThePixels)
{
    View v(QRectF(0, 0, 120, 40));
    QImage tile(8, 8, QImage::Format_ARGB32_Premultiplied);
    tile.fill(QColor(10, 200, 30));
    tile.setPixelColor(3, 3, QColor(200, 10, 30));
    v.setBackgroundColor(QBrush(tile));
    auto* label = new Label(QRectF(0, 0, 120, 40), &v);
    label->setText(QStringLiteral("粉色"));
    label->setFont(Label::systemFont(30, true));
    label->setTextColor(Qt::black);
    const QImage shot = v.grab().toImage();
    EXPECT_EQ(shot.pixelColor(115, 3), QColor(200, 10, 30));  // the pattern starts at the view's origin
    int dark = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < 70; ++x)
            dark += shot.pixelColor(x, y).value() < 60;
    EXPECT_GT(dark, 100);  // the glyphs were drawn, not boxes of nothing
}

namespace {
// A mouse event delivered as the platform delivers it: to the widget under the finger, with
// the filters and the propagation of the application.
void mouse(QWidget* target, QEvent::Type type, QPoint local)
{
    const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent e(type, QPointF(local), QPointF(target->mapToGlobal(local)), Qt::LeftButton, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &e);
}
} // namespace

TEST_F(KitClock, AFingerFromTheLeftEdgeOverAScrollViewPops)
{
    struct Scrolling : ViewController {
        ScrollView* scroll = nullptr;
        void loadView() override
        {
            scroll = new ScrollView(QRectF(0, 0, 375, 603));
            scroll->setContentSize(QSizeF(375, 3000));
            setView(scroll);
        }
    };
    Window w;
    auto* nav = new NavigationController(new ViewController());
    w.setRootViewController(nav);
    w.makeKeyAndVisible();
    auto* top = new Scrolling();
    nav->pushViewController(top, false);
    top->view()->layoutIfNeeded();
    mouse(top->scroll, QEvent::MouseButtonPress, QPoint(3, 300));
    mouse(nav->view(), QEvent::MouseMove, QPoint(120, 364));
    mouse(nav->view(), QEvent::MouseMove, QPoint(250, 364));
    mouse(nav->view(), QEvent::MouseButtonRelease, QPoint(250, 364));
    AnimationClock::finishAll();
    EXPECT_EQ(nav->viewControllers().size(), 1);
    // Away from the edge the same gesture scrolls and pops nothing.
    auto* again = new Scrolling();
    nav->pushViewController(again, false);
    again->view()->layoutIfNeeded();
    mouse(again->scroll, QEvent::MouseButtonPress, QPoint(100, 300));
    mouse(again->scroll, QEvent::MouseMove, QPoint(100, 250));
    mouse(again->scroll, QEvent::MouseMove, QPoint(100, 200));
    mouse(again->scroll, QEvent::MouseButtonRelease, QPoint(100, 200));
    AnimationClock::finishAll();
    EXPECT_EQ(nav->viewControllers().size(), 2);
    EXPECT_GT(again->scroll->contentOffset().y(), 50);
}

TEST_F(KitClock, OutsideManualModeTheMainLoopDrivesAnimations)
{
    AnimationClock::setManual(false);
    bool done = false;
    AnimationClock::animate(nullptr, 0.05, {}, [&](bool finished) { done = finished; });
    KR_WAIT_UNTIL(done);
    AnimationClock::setManual(true);
}
