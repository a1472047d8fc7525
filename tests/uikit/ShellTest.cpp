#include "KitTestSupport.h"

#include "platform/foundation/NotificationCenter.h"
#include "platform/uikit/AlertView.h"
#include "platform/uikit/ApplicationDelegate.h"
#include "platform/uikit/BarButtonItem.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationBar.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/NavigationItem.h"
#include "platform/uikit/Screen.h"
#include "platform/uikit/TabBar.h"
#include "platform/uikit/TabBarController.h"
#include "platform/uikit/TransitionCoordinator.h"
#include "platform/uikit/View.h"
#include "platform/uikit/Window.h"

#include <QPointer>
#include <QTest>
#include <QWindow>

#include <cmath>
#include <memory>

using namespace platform::uikit;

namespace {
struct Screen1 : ViewController {
    QStringList events;
    int mask = InterfaceOrientationMaskAllButUpsideDown;
    bool overrideTransition = false;
    QSizeF windowSizeAtWillAnimate;
    explicit Screen1(const QString& title = {}) { setTitle(title); }
    int supportedInterfaceOrientations() override { return mask; }
    bool shouldAutorotateToInterfaceOrientation(int) override { return true; }
    void viewDidLoad() override { events << QStringLiteral("load"); }
    void viewWillAppear(bool) override { events << QStringLiteral("willAppear"); }
    void viewDidAppear(bool) override { events << QStringLiteral("didAppear"); }
    void viewWillDisappear(bool) override { events << QStringLiteral("willDisappear"); }
    void viewDidDisappear(bool) override { events << QStringLiteral("didDisappear"); }
    void willRotateToInterfaceOrientation(int o, double d) override
    {
        events << QStringLiteral("willRotate");
        ViewController::willRotateToInterfaceOrientation(o, d);
    }
    void willAnimateRotationToInterfaceOrientation(int o, double d) override
    {
        events << QStringLiteral("willAnimate");
        windowSizeAtWillAnimate = view()->window() ? view()->window()->frame().size() : QSizeF();
        ViewController::willAnimateRotationToInterfaceOrientation(o, d);
    }
    void didRotateFromInterfaceOrientation(int o) override
    {
        events << QStringLiteral("didRotate");
        ViewController::didRotateFromInterfaceOrientation(o);
    }
    void viewWillTransitionToSize(const QSizeF& s, TransitionCoordinator* c) override
    {
        events << QStringLiteral("transition %1").arg(StringFromSize(s));
        if (!overrideTransition)
            ViewController::viewWillTransitionToSize(s, c);
    }
};
} // namespace

class KitShell : public KitTest {};

TEST_F(KitShell, WindowTakesTheProfilesScreenAndTheRootViewLoadsWhenSet)
{
    const struct {
        const char* machine;
        const char* version;
        QSizeF size;
        EdgeInsets safe;
    } cases[] = {
        {"iPhone10,1", "16.7", {375, 667}, {20, 0, 0, 0}},
        {"iPhone3,1", "6.1", {320, 480}, {0, 0, 0, 0}},
        {"iPad8,1", "16.7", {768, 1024}, {20, 0, 0, 0}},
        {"iPhone10,3", "16.7", {375, 812}, {44, 0, 34, 0}},
    };
    for (const auto& c : cases) {
        useDevice(QString::fromLatin1(c.machine), QString::fromLatin1(c.version));
        Window w;
        EXPECT_EQ(w.frame().size(), c.size) << c.machine;
        EXPECT_EQ(w.safeAreaInsets(), c.safe) << c.machine;
        auto* root = new Screen1();
        w.setRootViewController(root);
        EXPECT_TRUE(root->isViewLoaded());
        EXPECT_EQ(root->view()->frame(), QRectF(QPointF(), c.size));
        EXPECT_EQ(w.statusBarView()->frame().height(), c.safe.top > 20 ? 44 : 20);
    }
}

TEST_F(KitShell, TheWindowCannotBeResizedByHandAndSwapsItsSidesOnRotation)
{
    Window w;
    auto* root = new Screen1();
    w.setRootViewController(root);
    w.makeKeyAndVisible();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    EXPECT_EQ(w.size(), QSize(375, 667));
    // The window manager is told the size is fixed.
    EXPECT_EQ(w.minimumSize(), QSize(375, 667));
    EXPECT_EQ(w.maximumSize(), QSize(375, 667));

    // A resize asked of the widget, or of its native window as a window manager would.
    w.resize(800, 900);
    EXPECT_EQ(w.size(), QSize(375, 667));
    w.windowHandle()->resize(QSize(200, 300));
    KR_WAIT_UNTIL(w.windowHandle()->size() == QSize(375, 667) && w.size() == QSize(375, 667));
    EXPECT_EQ(w.frame().size(), QSizeF(375, 667));
    EXPECT_EQ(root->view()->frame(), QRectF(0, 0, 375, 667));

    // Rotation swaps the sides, and the rotated size is just as fixed.
    ASSERT_TRUE(Application::shared().rotateForTesting(InterfaceOrientationLandscapeLeft));
    AnimationClock::finishAll();
    EXPECT_EQ(w.size(), QSize(667, 375));
    EXPECT_EQ(w.maximumSize(), QSize(667, 375));
    w.resize(375, 667);
    w.windowHandle()->resize(QSize(1000, 1000));
    KR_WAIT_UNTIL(w.windowHandle()->size() == QSize(667, 375) && w.size() == QSize(667, 375));
    EXPECT_EQ(root->view()->frame(), QRectF(0, 0, 667, 375));
    ASSERT_TRUE(Application::shared().rotateForTesting(InterfaceOrientationPortrait));
    AnimationClock::finishAll();
    EXPECT_EQ(w.size(), QSize(375, 667));

    // Only the window is held to its frame: a view made on its own and added later still
    // takes every frame it is given.
    auto* loose = new View(QRectF(0, 0, 100, 50));
    root->view()->addSubview(loose);
    loose->setFrame(QRectF(0, 0, 200, 80));
    EXPECT_EQ(loose->size(), QSize(200, 80));

    // A pad's window is its screen too.
    useDevice(QStringLiteral("iPad8,1"), QStringLiteral("16.7"));
    Window pad;
    pad.setRootViewController(new Screen1());
    pad.makeKeyAndVisible();
    EXPECT_EQ(pad.size(), QSize(768, 1024));
    pad.resize(375, 667);
    EXPECT_EQ(pad.size(), QSize(768, 1024));
}

TEST_F(KitShell, NavigationOverTabsHasThePlatformsGeometry)
{
    Window w;
    auto* tabs = new TabBarController();
    auto* first = new Screen1(QStringLiteral("首页"));
    auto* nav = new NavigationController(first);
    auto* other = new NavigationController(new Screen1(QStringLiteral("发现")));
    tabs->setViewControllers({nav, other});
    w.setRootViewController(tabs);
    w.makeKeyAndVisible();
    EXPECT_EQ(tabs->tabBar()->frame(), QRectF(0, 618, 375, 49));
    EXPECT_EQ(nav->view()->frame(), QRectF(0, 0, 375, 618));
    EXPECT_EQ(nav->navigationBar()->frame(), QRectF(0, 20, 375, 44));
    EXPECT_EQ(first->view()->frame(), QRectF(0, 64, 375, 554));
    EXPECT_EQ(first->events, (QStringList{"load", "willAppear", "didAppear"}));

    auto* second = new Screen1(QStringLiteral("详情"));
    first->navigationItem()->setBackBarButtonItem(new BarButtonItem(QStringLiteral("返回"), BarButtonItemStyleBordered));
    nav->pushViewController(second, true);
    EXPECT_TRUE(nav->isTransitioning());
    AnimationClock::advance(0.2);
    EXPECT_GT(second->view()->frame().left(), 0);  // still sliding in
    AnimationClock::advance(0.3);
    EXPECT_FALSE(nav->isTransitioning());
    EXPECT_EQ(second->view()->frame(), QRectF(0, 64, 375, 554));
    ASSERT_NE(nav->navigationBar()->backButton(), nullptr);
    EXPECT_EQ(nav->navigationBar()->backButton()->title(ControlStateNormal), QStringLiteral("返回"));
    EXPECT_TRUE(nav->navigationBar()->backButton()->isDescendantOfView(nav->navigationBar()));
    EXPECT_EQ(nav->navigationBar()->titleLabel()->text(), QStringLiteral("详情"));
    EXPECT_TRUE(first->events.endsWith(QStringLiteral("didDisappear")));
    EXPECT_EQ(second->navigationController(), nav);
    EXPECT_EQ(second->tabBarController(), tabs);

    // A screen hiding the bottom bar gets the whole height.
    auto* third = new Screen1(QStringLiteral("播放"));
    third->setHidesBottomBarWhenPushed(true);
    nav->pushViewController(third, false);
    EXPECT_TRUE(tabs->tabBar()->isHidden());
    EXPECT_EQ(nav->view()->frame(), QRectF(0, 0, 375, 667));
    EXPECT_EQ(third->view()->frame(), QRectF(0, 64, 375, 603));

    // The back button pops, and the popped screen goes.
    QPointer<Screen1> gone(third);
    nav->navigationBar()->backButton()->tapForTesting();
    AnimationClock::advance(1);
    EXPECT_EQ(nav->topViewController(), second);
    EXPECT_FALSE(tabs->tabBar()->isHidden());
    flushDeferredDeletes();
    EXPECT_TRUE(gone.isNull());

    // With the status bar hidden the bar moves to the top.
    Application::shared().setStatusBarHidden(true);
    w.layoutIfNeeded();
    nav->view()->layoutIfNeeded();
    EXPECT_EQ(nav->navigationBar()->frame().top(), 0);
    EXPECT_EQ(second->view()->frame(), QRectF(0, 44, 375, 574));
}

TEST_F(KitShell, EdgeDragPopsPastHalfTheWidthFromSystemSeven)
{
    Window w;
    auto* nav = new NavigationController(new Screen1(QStringLiteral("a")));
    w.setRootViewController(nav);
    w.makeKeyAndVisible();
    auto* b = new Screen1(QStringLiteral("b"));
    nav->pushViewController(b, false);
    ASSERT_NE(nav->interactivePopGestureRecognizer(), nullptr);
    nav->dragFromLeftEdgeForTesting(150);  // less than half of 375
    AnimationClock::finishAll();
    EXPECT_EQ(nav->topViewController(), b);
    EXPECT_EQ(b->view()->frame().left(), 0);
    nav->dragFromLeftEdgeForTesting(200);
    AnimationClock::finishAll();
    EXPECT_EQ(nav->viewControllers().size(), 1);

    useDevice(QStringLiteral("iPhone3,1"), QStringLiteral("6.1"));
    NavigationController old(new Screen1());
    EXPECT_EQ(old.interactivePopGestureRecognizer(), nullptr);
}

namespace {
// A stack of two tabs' worth: a list that shows the tab bar under a page that hides it, in a
// window whose events the tests send as a finger would.
struct SwipeStack {
    Window window;
    TabBarController* tabs = new TabBarController();
    Screen1* list = new Screen1(QStringLiteral("首页"));
    NavigationController* nav = new NavigationController(list);
    Screen1* page = new Screen1(QStringLiteral("视频详情"));
    SwipeStack()
    {
        tabs->setViewControllers({nav, new Screen1(QStringLiteral("发现"))});
        window.setRootViewController(tabs);
        window.makeKeyAndVisible();
        page->setHidesBottomBarWhenPushed(true);
        nav->pushViewController(page, true);
        AnimationClock::finishAll();
    }
    QWindow* handle() { return window.windowHandle(); }
    NavigationBar* bar() { return nav->navigationBar(); }
    const NavigationBar* incoming() { return bar()->incomingBarForTesting(); }
    // Presses at the left edge of the page and moves the finger right by each distance.
    void dragFromEdge(const QList<int>& distances)
    {
        const QPoint start(4, 300);
        QTest::mousePress(handle(), Qt::LeftButton, {}, start);
        for (int d : distances)
            QTest::mouseMove(handle(), start + QPoint(d, 0));
    }
    void lift(int distance) { QTest::mouseRelease(handle(), Qt::LeftButton, {}, QPoint(4 + distance, 300)); }
};
} // namespace

TEST_F(KitShell, AnEdgeSwipeBringsTheTabBarBackWithTheUncoveredScreenAndCrossFadesTheBar)
{
    SwipeStack stack;
    ASSERT_NE(stack.handle(), nullptr);
    ASSERT_TRUE(stack.tabs->tabBar()->isHidden());
    ASSERT_EQ(stack.bar()->titleLabel()->text(), QStringLiteral("视频详情"));
    ASSERT_NE(stack.bar()->backButton(), nullptr);

    stack.dragFromEdge({10, 40, 100});
    // The page follows the finger; the list comes in from a third of the width, laid out
    // above the tab bar, which is there beside it and cut where the page still covers it.
    EXPECT_EQ(stack.page->view()->frame(), QRectF(100, 64, 375, 603));
    EXPECT_EQ(stack.list->view()->frame(), QRectF(-125 + 100.0 / 3, 64, 375, 554));
    TabBar* tabBar = stack.tabs->tabBar();
    EXPECT_FALSE(tabBar->isHidden());
    EXPECT_EQ(tabBar->frame(), QRectF(-125 + 100.0 / 3, 618, 375, 49));
    EXPECT_EQ(tabBar->mask().boundingRect(), QRect(0, 0, int(std::ceil(125 - 100.0 / 3 + 100)), 49));
    // The bar's items fade into the list's by the drag's progress.
    ASSERT_NE(stack.incoming(), nullptr);
    EXPECT_EQ(stack.incoming()->titleLabel()->text(), QStringLiteral("首页"));
    EXPECT_EQ(stack.incoming()->backButton(), nullptr);
    EXPECT_NEAR(stack.bar()->titleLabel()->alpha(), 1 - 100.0 / 375, 1e-9);
    EXPECT_NEAR(stack.bar()->backButton()->alpha(), 1 - 100.0 / 375, 1e-9);
    EXPECT_NEAR(stack.bar()->backButton()->titleLabel()->alpha(), 1 - 100.0 / 375, 1e-9);
    EXPECT_NEAR(stack.incoming()->titleLabel()->alpha(), 100.0 / 375, 1e-9);

    QTest::mouseMove(stack.handle(), QPoint(4 + 250, 300));
    EXPECT_NEAR(stack.incoming()->titleLabel()->alpha(), 250.0 / 375, 1e-9);
    stack.lift(250);
    // Let go past half the width: the pop goes on from where the finger left the page.
    EXPECT_TRUE(stack.nav->isTransitioning());
    EXPECT_EQ(stack.page->view()->frame().left(), 250);
    EXPECT_NEAR(stack.incoming()->titleLabel()->alpha(), 250.0 / 375, 1e-9);
    AnimationClock::advance(0.02);
    const qreal pageLeft = stack.page->view()->frame().left();
    EXPECT_GT(pageLeft, 250);
    EXPECT_LT(pageLeft, 375);
    EXPECT_GT(stack.incoming()->titleLabel()->alpha(), 250.0 / 375);
    EXPECT_EQ(tabBar->frame().left(), -125 + pageLeft / 3);
    EXPECT_FALSE(tabBar->isHidden());
    const QRectF incomingTitle = stack.incoming()->titleLabel()->frame();

    AnimationClock::advance(1);
    EXPECT_FALSE(stack.nav->isTransitioning());
    EXPECT_EQ(stack.nav->topViewController(), stack.list);
    // Everything ends where the drag was taking it: no jump of the bar, the tab bar or the list.
    EXPECT_EQ(tabBar->frame(), QRectF(0, 618, 375, 49));
    EXPECT_FALSE(tabBar->isHidden());
    EXPECT_TRUE(tabBar->mask().isEmpty());
    EXPECT_EQ(stack.list->view()->frame(), QRectF(0, 64, 375, 554));
    EXPECT_EQ(stack.bar()->incomingBarForTesting(), nullptr);
    EXPECT_EQ(stack.bar()->titleLabel()->text(), QStringLiteral("首页"));
    EXPECT_EQ(stack.bar()->titleLabel()->frame(), incomingTitle);
    EXPECT_EQ(stack.bar()->titleLabel()->alpha(), 1);
    EXPECT_EQ(stack.bar()->backButton(), nullptr);
}

TEST_F(KitShell, AnEdgeSwipeLetGoEarlySlidesBackAndHidesTheTabBarAgain)
{
    SwipeStack stack;
    stack.dragFromEdge({10, 60, 120});
    EXPECT_FALSE(stack.tabs->tabBar()->isHidden());
    stack.lift(120);
    EXPECT_TRUE(stack.nav->isTransitioning());
    AnimationClock::advance(0.03);
    const qreal pageLeft = stack.page->view()->frame().left();
    EXPECT_GT(pageLeft, 0);
    EXPECT_LT(pageLeft, 120);
    EXPECT_NEAR(stack.bar()->titleLabel()->alpha(), 1 - pageLeft / 375, 1e-9);

    AnimationClock::advance(1);
    EXPECT_FALSE(stack.nav->isTransitioning());
    EXPECT_EQ(stack.nav->topViewController(), stack.page);
    EXPECT_EQ(stack.page->view()->frame(), QRectF(0, 64, 375, 603));
    EXPECT_TRUE(stack.list->view()->isHidden());
    EXPECT_TRUE(stack.tabs->tabBar()->isHidden());
    EXPECT_TRUE(stack.tabs->tabBar()->mask().isEmpty());
    EXPECT_EQ(stack.bar()->incomingBarForTesting(), nullptr);
    EXPECT_EQ(stack.bar()->titleLabel()->text(), QStringLiteral("视频详情"));
    EXPECT_EQ(stack.bar()->titleLabel()->alpha(), 1);
    ASSERT_NE(stack.bar()->backButton(), nullptr);
    EXPECT_EQ(stack.bar()->backButton()->alpha(), 1);
    EXPECT_EQ(stack.bar()->backButton()->titleLabel()->alpha(), 1);

    // The page still takes presses, and its back button still pops.
    QTest::mouseClick(stack.bar()->backButton(), Qt::LeftButton, {}, QPoint(10, 10));
    AnimationClock::advance(1);
    EXPECT_EQ(stack.nav->topViewController(), stack.list);
    EXPECT_FALSE(stack.tabs->tabBar()->isHidden());
}

TEST_F(KitShell, AWindowClosedWhileASwipeSlidesOnEndsCleanly)
{
    for (const int lift : {120, 250}) {
        auto stack = std::make_unique<SwipeStack>();
        QPointer<NavigationBar> bar(stack->bar());
        stack->dragFromEdge({10, 60, lift});
        stack->lift(lift);
        AnimationClock::advance(0.02);
        ASSERT_TRUE(stack->nav->isTransitioning()) << lift;
        stack.reset();
        EXPECT_TRUE(bar.isNull()) << lift;
        EXPECT_EQ(AnimationClock::runningCount(), 0) << lift;
    }
}

TEST_F(KitShell, PressesWaitForAPushToFinish)
{
    Window w;
    auto* first = new Screen1(QStringLiteral("a"));
    auto* nav = new NavigationController(first);
    w.setRootViewController(nav);
    w.makeKeyAndVisible();
    // A row-like button on the first screen that pushes a new screen on every tap.
    auto* row = new Button(ButtonTypeCustom, QRectF(0, 100, 375, 80), first->view());
    row->addTarget(ControlEventTouchUpInside, [nav] { nav->pushViewController(new Screen1(QStringLiteral("b")), true); });

    QTest::mouseClick(row, Qt::LeftButton, {}, QPoint(100, 40));
    ASSERT_TRUE(nav->isTransitioning());
    QTest::mouseClick(row, Qt::LeftButton, {}, QPoint(100, 40));
    QTest::mouseDClick(row, Qt::LeftButton, {}, QPoint(100, 40));
    QTest::mouseClick(nav->viewControllers().last()->view(), Qt::LeftButton, {}, QPoint(100, 140));
    AnimationClock::finishAll();
    EXPECT_EQ(nav->viewControllers().size(), 2);

    // Once the slide is over the screens take presses again.
    auto* second = nav->topViewController();
    int taps = 0;
    auto* button = new Button(ButtonTypeCustom, QRectF(0, 100, 375, 80), second->view());
    button->addTarget(ControlEventTouchUpInside, [&] { ++taps; });
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(100, 40));
    EXPECT_EQ(taps, 1);
}

TEST_F(KitShell, RotationBelowEightRunsTheOlderHooksWithTheWindowSwappedInsideTheAnimation)
{
    useDevice(QStringLiteral("iPhone6,1"), QStringLiteral("7.1"));
    Window w;
    auto* root = new Screen1();
    w.setRootViewController(root);
    w.makeKeyAndVisible();
    root->events.clear();
    ASSERT_TRUE(Application::shared().rotateForTesting(InterfaceOrientationLandscapeRight));
    EXPECT_EQ(root->events, QStringList{"willRotate"});
    AnimationClock::finishAll();
    EXPECT_EQ(root->events, (QStringList{"willRotate", "willAnimate", "didRotate"}));
    EXPECT_EQ(root->windowSizeAtWillAnimate, QSizeF(568, 320));
    EXPECT_EQ(Application::shared().statusBarOrientation(), int(InterfaceOrientationLandscapeRight));
    EXPECT_EQ(root->view()->frame(), QRectF(0, 0, 568, 320));
}

TEST_F(KitShell, RotationFromEightIsASizeTransitionWhoseBaseForwardsToTheOlderHooks)
{
    Window w;
    auto* root = new Screen1();
    root->overrideTransition = true;
    w.setRootViewController(root);
    w.makeKeyAndVisible();
    root->events.clear();
    ASSERT_TRUE(Application::shared().rotateForTesting(InterfaceOrientationLandscapeLeft));
    AnimationClock::finishAll();
    EXPECT_EQ(root->events, QStringList{"transition {667, 375}"});
    EXPECT_EQ(w.frame().size(), QSizeF(667, 375));

    root->overrideTransition = false;  // calls the base: gets both
    root->events.clear();
    ASSERT_TRUE(Application::shared().rotateForTesting(InterfaceOrientationPortrait));
    AnimationClock::finishAll();
    EXPECT_EQ(root->events, (QStringList{"transition {375, 667}", "willRotate", "willAnimate", "didRotate"}));
    EXPECT_EQ(root->windowSizeAtWillAnimate, QSizeF(375, 667));

    root->mask = InterfaceOrientationMaskPortrait;
    root->events.clear();
    EXPECT_FALSE(Application::shared().rotateForTesting(InterfaceOrientationLandscapeRight));
    AnimationClock::finishAll();
    EXPECT_TRUE(root->events.isEmpty());
    EXPECT_EQ(w.frame().size(), QSizeF(375, 667));
    EXPECT_EQ(Application::shared().statusBarOrientation(), int(InterfaceOrientationPortrait));
}

TEST_F(KitShell, TheDelegatesMaskLimitsRotation)
{
    struct Delegate : ApplicationDelegate {
        int supportedInterfaceOrientationsForWindow(Window*) override { return InterfaceOrientationMaskPortrait; }
    } delegate;
    Application::shared().setDelegate(&delegate);
    Window w;
    w.setRootViewController(new Screen1());
    w.makeKeyAndVisible();
    EXPECT_FALSE(Application::shared().rotateForTesting(InterfaceOrientationLandscapeLeft));
    Application::shared().setDelegate(nullptr);
}

TEST_F(KitShell, AlertsShowOneAfterTheOtherInsideTheWindow)
{
    Window w;
    w.setRootViewController(new Screen1());
    w.makeKeyAndVisible();
    QList<std::pair<int, int>> answers;
    QPointer<AlertView> a = new AlertView(QStringLiteral("提示"), QStringLiteral("第一"), QStringLiteral("取消"),
                                          {QStringLiteral("好")}, &w, [&](int i) { answers.append({1, i}); });
    QPointer<AlertView> b = new AlertView(QStringLiteral("提示"), QStringLiteral("第二"), {}, {QStringLiteral("好")}, &w,
                                          [&](int i) { answers.append({2, i}); });
    a->show();
    b->show();
    EXPECT_EQ(w.visibleAlert(), a.data());
    EXPECT_TRUE(a->isVisible());
    EXPECT_FALSE(b->isVisible());
    EXPECT_TRUE(a->presentationView()->isDescendantOfView(&w));
    a->tapButtonForTesting(1);
    EXPECT_EQ(w.visibleAlert(), b.data());
    EXPECT_TRUE(b->isVisible());
    // The button in the alert's own view dismisses it too.
    auto* button = qobject_cast<Button*>(b->presentationView()->viewWithTag(1));
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->title(ControlStateNormal), QStringLiteral("好"));
    button->tapForTesting();
    EXPECT_EQ(answers, (QList<std::pair<int, int>>{{1, 1}, {2, 0}}));
    EXPECT_EQ(w.visibleAlert(), nullptr);
    flushDeferredDeletes();
    EXPECT_TRUE(a.isNull() && b.isNull());
}

TEST_F(KitShell, ModalsAreFullScreenOnPhonesAndFormSheetsOnPads)
{
    for (const char* machine : {"iPhone10,1", "iPad6,11"}) {
        useDevice(QString::fromLatin1(machine), QStringLiteral("12.5"));
        Window w;
        auto* root = new Screen1();
        w.setRootViewController(root);
        w.makeKeyAndVisible();
        auto* sheet = new Screen1();
        sheet->setModalPresentationStyle(ModalPresentationFormSheet);
        bool presented = false;
        root->presentViewController(sheet, true, root, [&] { presented = true; });
        EXPECT_FALSE(presented);
        AnimationClock::finishAll();
        EXPECT_TRUE(presented);
        EXPECT_EQ(root->presentedViewController(), sheet);
        if (QString::fromLatin1(machine).startsWith(QStringLiteral("iPad")))
            EXPECT_EQ(sheet->view()->frameInWindow(), QRectF(114, 202, 540, 620));
        else
            EXPECT_EQ(sheet->view()->frameInWindow(), QRectF(0, 0, 375, 667));
        EXPECT_TRUE(sheet->isAppeared());
        QPointer<Screen1> gone(sheet);
        sheet->dismissViewControllerAnimated(false);
        EXPECT_EQ(root->presentedViewController(), nullptr);
        flushDeferredDeletes();
    EXPECT_TRUE(gone.isNull());
    }
}

// A navigation controller presented full screen lays its bar below the status bar from the
// first frame of its slide to the end, however often it is laid out on the way; on a pad's
// form sheet, away from the top edge, the bar is at the sheet's top.
TEST_F(KitShell, APresentedNavigationBarStartsBelowTheStatusBar)
{
    for (const char* machine : {"iPhone10,1", "iPhone10,3", "iPad6,11"}) {
        useDevice(QString::fromLatin1(machine), QStringLiteral("12.5"));
        const bool pad = QString::fromLatin1(machine).startsWith(QStringLiteral("iPad"));
        Window w;
        auto* root = new Screen1();
        w.setRootViewController(root);
        w.makeKeyAndVisible();
        const qreal statusBar = Application::shared().statusBarHeightInWindow(&w);
        const qreal barTop = pad ? 0 : statusBar;
        auto* nav = new NavigationController(new Screen1(QStringLiteral("通知")));
        if (pad)
            nav->setModalPresentationStyle(ModalPresentationFormSheet);
        root->presentViewController(nav, true);
        // Laid out while it slides, as the event loop does between frames.
        for (int i = 0; i < 3; ++i) {
            AnimationClock::advance(0.1);
            nav->view()->layoutIfNeeded();
            EXPECT_EQ(nav->navigationBar()->frame().top(), barTop) << machine;
            EXPECT_GT(nav->view()->mapTo(&w, QPoint(0, 0)).y(), pad ? 202 : 0) << machine;
        }
        AnimationClock::finishAll();
        nav->view()->layoutIfNeeded();
        EXPECT_EQ(nav->view()->mapTo(&w, QPoint(0, 0)).y(), pad ? 202 : 0) << machine;
        EXPECT_EQ(nav->navigationBar()->frame(), QRectF(0, barTop, nav->view()->frame().width(), 44)) << machine;
        EXPECT_EQ(nav->topViewController()->view()->frame().top(), barTop + 44) << machine;
        EXPECT_GE(nav->navigationBar()->mapTo(&w, QPoint(0, 0)).y(), pad ? 202 : statusBar) << machine;
        // It slides away the same way and goes.
        nav->dismissViewControllerAnimated(true);
        AnimationClock::advance(0.1);
        nav->view()->layoutIfNeeded();
        EXPECT_EQ(nav->navigationBar()->frame().top(), barTop) << machine;
        AnimationClock::finishAll();
        EXPECT_EQ(root->presentedViewController(), nullptr);
        flushDeferredDeletes();
    }
}

TEST_F(KitShell, AnAlertOrAPresentationWhoseOwnerWentAnswersNobody)
{
    Window w;
    auto* root = new Screen1();
    w.setRootViewController(root);
    w.makeKeyAndVisible();

    // The screen that asked is gone by the time the button is tapped.
    int dismissals = 0;
    auto asker = std::make_unique<QObject>();
    QPointer<AlertView> alert = new AlertView(QStringLiteral("提示"), QStringLiteral("第一"), QStringLiteral("取消"), {},
                                              asker.get(), [&](int) { ++dismissals; });
    alert->show();
    asker.reset();
    alert->tapButtonForTesting(0);
    EXPECT_EQ(dismissals, 0);
    EXPECT_EQ(w.visibleAlert(), nullptr);
    flushDeferredDeletes();
    EXPECT_TRUE(alert.isNull());

    // A presentation still sliding in when its owner goes finishes without calling back.
    int presentations = 0;
    auto owner = std::make_unique<QObject>();
    auto* sheet = new Screen1();
    root->presentViewController(sheet, true, owner.get(), [&] { ++presentations; });
    owner.reset();
    AnimationClock::finishAll();
    EXPECT_EQ(presentations, 0);
    EXPECT_EQ(root->presentedViewController(), sheet);
    EXPECT_TRUE(sheet->isAppeared());
    sheet->dismissViewControllerAnimated(false);
    flushDeferredDeletes();
}

namespace {
// Records the delegate's calls and the application's notifications in the order they come.
struct RecordingDelegate : ApplicationDelegate {
    QStringList calls;
    QStringList posted;
    std::vector<platform::ObserverToken> tokens;
    RecordingDelegate()
    {
        for (const QString& name : {ApplicationDidBecomeActiveNotification, ApplicationWillResignActiveNotification,
                                    ApplicationDidEnterBackgroundNotification, ApplicationWillEnterForegroundNotification,
                                    ApplicationDidReceiveMemoryWarningNotification})
            tokens.push_back(platform::NotificationCenter::defaultCenter().addObserver(
                name, &Application::shared(), [this](const platform::Notification& n) { posted << n.name; }));
        Application::shared().setDelegate(this);
    }
    ~RecordingDelegate() override { Application::shared().setDelegate(nullptr); }
    void didBecomeActive() override { calls << "active"; }
    void willResignActive() override { calls << "resign"; }
    void didEnterBackground() override { calls << "background"; }
    void willEnterForeground() override { calls << "foreground"; }
    void didReceiveMemoryWarning() override { calls << "memory"; }
};
} // namespace

TEST_F(KitShell, ApplicationStatesPostThePlatformsNotifications)
{
    RecordingDelegate delegate;
    auto& app = Application::shared();
    QStringList& posted = delegate.posted;
    app.becomeActiveForTesting();
    EXPECT_EQ(app.applicationState(), int(ApplicationStateActive));
    app.enterBackgroundForTesting();
    EXPECT_EQ(app.applicationState(), int(ApplicationStateBackground));
    app.becomeActiveForTesting();
    app.memoryWarningForTesting();
    EXPECT_EQ(delegate.calls, (QStringList{"active", "resign", "background", "foreground", "active", "memory"}));
    EXPECT_EQ(posted.size(), 6);
    EXPECT_EQ(posted.first(), ApplicationDidBecomeActiveNotification);
    app.setDelegate(nullptr);
}

namespace {
// Leaving for the background and coming back, as the application's notifications tell it.
const QStringList away{ApplicationWillResignActiveNotification, ApplicationDidEnterBackgroundNotification};
const QStringList back{ApplicationWillEnterForegroundNotification, ApplicationDidBecomeActiveNotification};

// A key window shown while launching, its application's delegate recording.
struct KeyWindowScene {
    RecordingDelegate delegate;
    Window window;
    KeyWindowScene()
    {
        window.setRootViewController(new Screen1());
        window.makeKeyAndVisible();
    }
    // Launched: active, nothing recorded yet.
    void finishLaunch()
    {
        Application::shared().becomeActiveForTesting();
        delegate.posted.clear();
        delegate.calls.clear();
    }
};
} // namespace

// The desktop's stand-in for the home button: the key window minimised or hidden by a window
// manager sends the application to the background, and shown again brings it back, with the
// delegate's calls and the notifications in the platform's order.
TEST_F(KitShell, TheKeyWindowMinimisedOrHiddenSendsTheApplicationToTheBackgroundAndBack)
{
    // Shown while launching, the window leaves the launch to make the application active.
    KeyWindowScene scene;
    RecordingDelegate& delegate = scene.delegate;
    Window& w = scene.window;
    auto& app = Application::shared();
    QStringList& posted = delegate.posted;
    EXPECT_EQ(app.applicationState(), int(ApplicationStateInactive));
    EXPECT_TRUE(posted.isEmpty());
    scene.finishLaunch();

    // Minimised (Qt tells the window as the window system unmapping it, a hide it still
    // counts as visible), and restored.
    w.setWindowState(Qt::WindowMinimized);
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(app.applicationState(), int(ApplicationStateBackground));
    EXPECT_EQ(posted, away);
    EXPECT_EQ(delegate.calls, (QStringList{"resign", "background"}));
    w.setWindowState(Qt::WindowMinimized);
    EXPECT_EQ(posted, away);
    w.setWindowState(Qt::WindowNoState);
    EXPECT_EQ(app.applicationState(), int(ApplicationStateActive));
    EXPECT_EQ(posted, away + back);
    EXPECT_EQ(delegate.calls, (QStringList{"resign", "background", "foreground", "active"}));

    // Hidden, and shown.
    posted.clear();
    w.hide();
    EXPECT_EQ(app.applicationState(), int(ApplicationStateBackground));
    EXPECT_EQ(posted, away);
    w.show();
    EXPECT_EQ(app.applicationState(), int(ApplicationStateActive));
    EXPECT_EQ(posted, away + back);

    // Another window than the key one changes nothing.
    posted.clear();
    Window other;
    other.show();
    other.setWindowState(Qt::WindowMinimized);
    other.hide();
    EXPECT_TRUE(posted.isEmpty());
    EXPECT_EQ(app.applicationState(), int(ApplicationStateActive));

    // The test hooks still make the same changes, and a window shown again after them finds
    // the application already back.
    app.enterBackgroundForTesting();
    app.becomeActiveForTesting();
    EXPECT_EQ(posted, away + back);
    w.setWindowState(Qt::WindowNoState);
    EXPECT_EQ(posted, away + back);
}

// Unmapped without a minimise or a hide (another desktop, an unmap), the window system only
// stops exposing the key window; that is the background too, and exposed again it is back.
TEST_F(KitShell, TheKeyWindowNoLongerExposedSendsTheApplicationToTheBackgroundAndBack)
{
    KeyWindowScene scene;
    QCoreApplication::processEvents();  // the window's first expose
    scene.finishLaunch();
    const QStringList& calls = scene.delegate.calls;
    QStringList& posted = scene.delegate.posted;
    Window& w = scene.window;
    auto& app = Application::shared();

    sendExposeAsTheWindowSystem(&w, false);
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(w.windowState(), Qt::WindowNoState);
    EXPECT_EQ(app.applicationState(), int(ApplicationStateBackground));
    EXPECT_EQ(posted, away);
    EXPECT_EQ(calls, (QStringList{"resign", "background"}));
    sendExposeAsTheWindowSystem(&w, false);
    EXPECT_EQ(posted, away);
    sendExposeAsTheWindowSystem(&w, true);
    EXPECT_EQ(app.applicationState(), int(ApplicationStateActive));
    EXPECT_EQ(posted, away + back);
    EXPECT_EQ(calls, (QStringList{"resign", "background", "foreground", "active"}));

    // An expose of a window that shows (a redraw, a rotation's resize) leaves a state the
    // test hooks set as it is.
    posted.clear();
    app.enterBackgroundForTesting();
    sendExposeAsTheWindowSystem(&w, true);
    EXPECT_EQ(app.applicationState(), int(ApplicationStateBackground));
    app.becomeActiveForTesting();

    // Hidden by the window system without a minimise: the same; shown again while still
    // unexposed, it waits for the window to be exposed.
    posted.clear();
    sendVisibilityAsTheWindowSystem(&w, false);
    EXPECT_EQ(posted, away);
    sendExposeAsTheWindowSystem(&w, false);
    sendVisibilityAsTheWindowSystem(&w, true);
    EXPECT_EQ(app.applicationState(), int(ApplicationStateBackground));
    sendExposeAsTheWindowSystem(&w, true);
    EXPECT_EQ(app.applicationState(), int(ApplicationStateActive));
    EXPECT_EQ(posted, away + back);

    // The program's own hide and show: its late expose events change nothing after the show.
    posted.clear();
    w.hide();
    w.show();
    EXPECT_EQ(posted, away + back);
    QCoreApplication::processEvents();
    EXPECT_EQ(posted, away + back);
    EXPECT_EQ(app.applicationState(), int(ApplicationStateActive));

    // Another window than the key one changes nothing.
    posted.clear();
    Window other;
    other.show();
    QCoreApplication::processEvents();
    sendExposeAsTheWindowSystem(&other, false);
    EXPECT_TRUE(posted.isEmpty());
}

TEST_F(KitShell, VersionGatedFeatures)
{
    useDevice(QStringLiteral("iPhone3,1"), QStringLiteral("6.1"));
    EXPECT_FALSE(TabBar::supportsBarTintColor());
    EXPECT_FALSE(Screen::hasNativeBounds());
    EXPECT_FALSE(Screen::hasWindowScenes());
    useDevice(QStringLiteral("iPhone6,1"), QStringLiteral("8.4"));
    EXPECT_TRUE(TabBar::supportsBarTintColor());
    EXPECT_EQ(Screen::nativeBounds(), QRectF(0, 0, 640, 1136));
    EXPECT_FALSE(Screen::hasWindowScenes());
    useDevice(QStringLiteral("iPhone10,1"), QStringLiteral("13.0"));
    EXPECT_TRUE(Screen::hasWindowScenes());
    Window w;
    EXPECT_EQ(w.windowSceneBounds(), QRectF(0, 0, 375, 667));
}
