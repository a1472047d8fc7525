#include "../uikit/KitTestSupport.h"
#include "support/ConsoleCapture.h"
#include "support/DemoCatalogue.h"
#include "support/FakeService.h"
#include "support/AccountFixtures.h"
#include "support/MakerFixtures.h"
#include "support/ServiceFixtures.h"

#include "account/KRAccountClient.h"
#include "account/KRQRLoginFlow.h"
#include "shell/KRAdaptiveNavigationController.h"
#include "shell/KRAppDelegate.h"
#include "shell/KRRootViewController.h"
#include "look/KRShellHelpers.h"
#include "look/KRTheme.h"
#include "browse/KRUsageNoticeViewController.h"
#include "browse/KRVideoListViewController.h"
#include "model/KRServiceHosts.h"
#include "service/KRAPIClient.h"
#include "platform/foundation/LabSeams.h"
#include "platform/foundation/MainClock.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/uikit/BarButtonItem.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Device.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/NavigationItem.h"
#include "platform/uikit/SegmentedControl.h"
#include "platform/uikit/TabBar.h"
#include "platform/uikit/TabBarController.h"
#include "platform/uikit/TabBarItem.h"
#include "platform/uikit/View.h"
#include "platform/uikit/Window.h"
#include "login/KRQRLoginViewController.h"
#include "library/KRProfileViewController.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/Label.h"
#include "service/KRUpdateChecker.h"
#include "social/KRMessageViewController.h"
#include "store/KRSessionStore.h"
#include "store/KRDiagnostics.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWindow>
#include <QFile>
#include <QPointer>
#include <QTest>

#include <optional>

using namespace platform::uikit;
using namespace testsupport;
using platform::MainClock;

namespace {

// Clicks one of the profile's rows as a user would, through its table; false when the session
// does not show the row.
bool clickProfileRow(KRProfileViewController* profile, KRProfileViewController::Row row)
{
    const std::optional<IndexPath> indexPath = profile->indexPathForRow(row);
    if (!indexPath)
        return false;
    TableView* table = profile->tableView();
    table->layoutIfNeeded();
    const QPointF point = table->rectForRowAtIndexPath(*indexPath).center() - table->contentOffset();
    QTest::mouseClick(table, Qt::LeftButton, {}, point.toPoint());
    AnimationClock::finishAll();
    return true;
}

bool showsProfileRow(KRProfileViewController* profile, KRProfileViewController::Row row)
{
    return profile->indexPathForRow(row).has_value();
}

// A playback screen as the shell sees it: it may ask for rotation and records the hooks.
class PlaybackScreen : public ViewController {
    Q_OBJECT
public:
    bool allows = true;
    QStringList hooks;
    Q_INVOKABLE bool kr_allowsPlaybackRotation() { return allows; }
    Q_INVOKABLE void kr_preparePlaybackTransitionToSizeValue(QSizeF size) { hooks << StringFromSize(size); }
    Q_INVOKABLE void kr_enterFullscreenForLandscapeIfNeeded() { hooks << QStringLiteral("enter"); }
    Q_INVOKABLE void kr_restoreFullscreenAfterLandscapeIfNeeded() { hooks << QStringLiteral("restore"); }
    Q_INVOKABLE void kr_raisePlaybackSurfaceAfterRotationPreparation() { hooks << QStringLiteral("raise"); }
    Q_INVOKABLE void kr_layoutPlaybackDuringRotation() { hooks << QStringLiteral("layout"); }
    Q_INVOKABLE void kr_completePlaybackRotationLayout() { hooks << QStringLiteral("complete"); }
};

class ShellStartupTest : public KitTest {
protected:
    void SetUp() override
    {
        KitTest::SetUp();
        KRDiagnostics::resetForTesting();
        KRSessionStore::sharedStore().resetForTesting();
        QStringList hosts = KRServiceHosts::allServiceHosts();
        hosts << MakerFixtures::host();
        service = std::make_unique<FakeService>(hosts);
        ServiceFixtures::installReadRoutes(*service);
        MakerFixtures::routeManifest(*service, FakeReply::withStatus(404));
        KRUpdateChecker::sharedChecker()->resetForTesting();
    }
    void TearDown() override
    {
        waitUntil([] { return !KRUpdateChecker::sharedChecker()->isChecking(); });
        Application::shared().setDelegate(nullptr);
        delegate.reset();
        flushDeferredDeletes();
        service.reset();
        KRSessionStore::sharedStore().resetForTesting();
        KitTest::TearDown();
    }

    KRAppDelegate& launch()
    {
        delegate = std::make_unique<KRAppDelegate>();
        Application::shared().setDelegate(delegate.get());
        Application::shared().finishLaunching();
        return *delegate;
    }
    KRRootViewController* root() const { return delegate->rootController(); }
    KRAdaptiveNavigationController* stack(int tab) const
    {
        return qobject_cast<KRAdaptiveNavigationController*>(root()->viewControllers().value(tab));
    }
    static QString runtimeLog()
    {
        QFile file(KRDiagnosticsCacheDirectory() + QStringLiteral("/KorvaneRuntime.log"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    int manifestGets() const { return MakerFixtures::manifestRequestCount(*service); }
    // Lets the update check's debounce pass, then waits until the check (if any) has run and its
    // request has ended.
    void settleUpdateCheck() const
    {
        MainClock::advanceForTesting(0.35);
        EXPECT_TRUE(waitUntil([&] { return !delegate->isForegroundUpdateCheckPending() && !KRUpdateChecker::sharedChecker()->isChecking(); }));
    }

    std::unique_ptr<FakeService> service;
    std::unique_ptr<KRAppDelegate> delegate;
};

// Whether some pixel of `rect` in the grab is within 1 of `colour` in every channel.
bool showsColour(const QImage& image, const QRectF& rect, const QColor& colour)
{
    for (int y = int(rect.top()); y < int(rect.bottom()); ++y)
        for (int x = int(rect.left()); x < int(rect.right()); ++x)
            if (colorNear(image.pixelColor(x, y), colour, 1))
                return true;
    return false;
}

TEST_F(ShellStartupTest, ModernLaunchDefersTheThemeAndRecordsTheGeometry)
{
    ConsoleCapture console;
    launch();
    KR_WAIT_UNTIL(runtimeLog().contains(QStringLiteral("phase=committed")));
    KR_WAIT_UNTIL(console.contains(QStringLiteral("committed initial theme after first appearance")));
    const QString text = console.text();
    const qsizetype deferred = text.indexOf(QStringLiteral("[KorvaneStartupLayout] defer initial theme until first appearance"));
    const qsizetype skipped = text.indexOf(QStringLiteral("[KorvaneStartupLayout] skip post-makeKey theme during first commit"));
    const qsizetype committed = text.indexOf(QStringLiteral("[KorvaneStartupLayout] committed initial theme after first appearance"));
    EXPECT_GE(deferred, 0);
    EXPECT_GT(skipped, deferred);
    EXPECT_GT(committed, skipped);

    const QString log = runtimeLog();
    const QString geometry = QStringLiteral(
        "screen={{0, 0}, {375, 667}} native={{0, 0}, {750, 1334}} window={{0, 0}, {375, 667}} "
        "scene={{0, 0}, {375, 667}} safe={20, 0, 0, 0} launch=none legacyLaunch=NO");
    const qsizetype visible = log.indexOf(QStringLiteral("[startup-geometry] phase=visible ") + geometry);
    EXPECT_GE(visible, 0) << log.toStdString();
    EXPECT_GT(log.indexOf(QStringLiteral("[startup-geometry] phase=committed ") + geometry), visible);

    // The four tabs over a 49-point bar at the bottom, the selected title in the accent.
    ASSERT_EQ(root()->viewControllers().size(), 4);
    QStringList titles;
    for (TabBarItem* item : root()->tabBar()->items())
        titles << item->title();
    EXPECT_EQ(titles, (QStringList{QStringLiteral("首页"), QStringLiteral("发现"), QStringLiteral("探索"), QStringLiteral("我的")}));
    EXPECT_EQ(root()->tabBar()->frame(), QRectF(0, 618, 375, 49));
    EXPECT_FALSE(root()->tabBar()->items().first()->finishedSelectedImage().isNull());
    const QImage bar = root()->tabBar()->grab().toImage();
    EXPECT_TRUE(showsColour(bar, root()->tabBar()->rectForItem(0), QColor(250, 115, 158)));
    EXPECT_FALSE(showsColour(bar, root()->tabBar()->rectForItem(0), QColor(128, 87, 102)));
    for (int i = 1; i < 4; ++i) {
        EXPECT_TRUE(showsColour(bar, root()->tabBar()->rectForItem(i), QColor(128, 87, 102))) << i;
        EXPECT_FALSE(showsColour(bar, root()->tabBar()->rectForItem(i), QColor(250, 115, 158))) << i;
    }

    // The home logo follows the style.
    auto logo = [&] { return qobject_cast<ImageView*>(stack(0)->viewControllers().first()->navigationItem()->titleView()); };
    ASSERT_NE(logo(), nullptr);
    EXPECT_EQ(logo()->frame().size(), QSizeF(70, 32));
    EXPECT_EQ(logo()->image().image(), Image::named(QStringLiteral("Tarnwick23/zant_logo_white")).image());
    KRTheme::sharedTheme()->setStyle(0);
    ASSERT_NE(logo(), nullptr);
    EXPECT_EQ(logo()->image().image(), Image::named(QStringLiteral("Tarnwick23/zant_logo")).image());
    EXPECT_NE(logo()->image().image(), Image::named(QStringLiteral("Tarnwick23/zant_logo_white")).image());
}

TEST_F(ShellStartupTest, ModernLaunchPaintsTheThemeFirstAndCommitsItOnTheNextTurn)
{
    ConsoleCapture console;
    launch();
    // Before any turn of the event loop, so before the window's first paint: the bar is themed.
    EXPECT_FALSE(console.contains(QStringLiteral("committed initial theme after first appearance")));
    const QImage first = root()->tabBar()->grab().toImage();
    EXPECT_TRUE(showsColour(first, root()->tabBar()->rectForItem(0), QColor(250, 115, 158)));
    EXPECT_TRUE(showsColour(first, root()->tabBar()->rectForItem(1), QColor(128, 87, 102)));
    // The commit still comes on its turn and leaves the bar as it was painted.
    KR_WAIT_UNTIL(console.contains(QStringLiteral("committed initial theme after first appearance")));
    EXPECT_EQ(root()->tabBar()->grab().toImage(), first);
}

TEST_F(ShellStartupTest, OlderSystemsThemeAtOnceWithoutTheDeferral)
{
    useDevice(QStringLiteral("iPhone10,1"), QStringLiteral("14.8"));
    ConsoleCapture console;
    launch();
    KR_WAIT_UNTIL(runtimeLog().contains(QStringLiteral("phase=committed")));
    EXPECT_FALSE(console.contains(QStringLiteral("[KorvaneStartupLayout]")));
    // Themed already: the window took the theme's surface colour.
    EXPECT_EQ(root()->view()->backgroundColor().color(), KRTheme::sharedTheme()->surfaceColor());
}

TEST_F(ShellStartupTest, NoticeGatesTheUpdateCheckAndActivationsAreDebounced)
{
    launch();
    Application::shared().becomeActiveForTesting();
    MainClock::advanceForTesting(0.449);
    EXPECT_EQ(root()->presentedViewController(), nullptr) << "the notice comes 0.45 s after the launch";
    MainClock::advanceForTesting(0.001);
    ASSERT_NE(root()->presentedViewController(), nullptr);
    auto* navigation = qobject_cast<NavigationController*>(root()->presentedViewController());
    ASSERT_NE(navigation, nullptr);
    EXPECT_EQ(qobject_cast<KRAdaptiveNavigationController*>(navigation), nullptr);
    auto* notice = qobject_cast<KRUsageNoticeViewController*>(navigation->topViewController());
    ASSERT_NE(notice, nullptr);
    EXPECT_EQ(notice->title(), QStringLiteral("使用须知"));
    ASSERT_NE(notice->acknowledgeButton(), nullptr);
    // The notice sits over the whole phone screen.
    EXPECT_EQ(navigation->view()->frame().size(), QSizeF(375, 667));
    // Its texts break between words, not truncated at the tail.
    for (const platform::uikit::Label* label : {notice->introLabel(), notice->distributionTitleLabel(), notice->disclaimerBodyLabel(),
                                                notice->updateTitleLabel(), notice->updateBodyLabel()})
        EXPECT_EQ(label->lineBreakMode(), platform::uikit::LineBreakByWordWrapping) << label->text().toStdString();

    // Active, but nothing is checked while the notice waits.
    settleUpdateCheck();
    EXPECT_EQ(manifestGets(), 0);

    // A second presentation never stacks on the first.
    delegate->presentInitialUsageNotice();
    EXPECT_EQ(root()->presentedViewController(), navigation);

    notice->acknowledgeButton()->tapForTesting();
    EXPECT_EQ(platform::UserDefaults::standard().integer(KRUsageNoticeAcceptedVersionKey), 1);
    EXPECT_TRUE(delegate->isForegroundUpdateCheckPending());
    MainClock::advanceForTesting(0.349);
    EXPECT_TRUE(delegate->isForegroundUpdateCheckPending()) << "the check runs 0.35 s after the tap";
    MainClock::advanceForTesting(0.001);
    KR_WAIT_UNTIL(manifestGets() == 1);
    settleUpdateCheck();

    // Three activations inside the debounce bring one check, 0.35 s after the last.
    for (int i = 0; i < 3; ++i) {
        if (i > 0)
            MainClock::advanceForTesting(0.2);
        Application::shared().resignActiveForTesting();
        Application::shared().becomeActiveForTesting();
    }
    MainClock::advanceForTesting(0.349);
    EXPECT_TRUE(delegate->isForegroundUpdateCheckPending());
    EXPECT_EQ(manifestGets(), 1);
    MainClock::advanceForTesting(0.001);
    KR_WAIT_UNTIL(manifestGets() == 2);
    settleUpdateCheck();
    EXPECT_EQ(manifestGets(), 2);
    // An activation that is over before the check runs brings none.
    Application::shared().resignActiveForTesting();
    Application::shared().becomeActiveForTesting();
    Application::shared().resignActiveForTesting();
    settleUpdateCheck();
    EXPECT_EQ(manifestGets(), 2);
}

TEST_F(ShellStartupTest, AcknowledgedNoticeIsNotShownAgain)
{
    platform::UserDefaults::standard().setObject(KRUsageNoticeAcceptedVersionKey, 1);
    launch();
    Application::shared().becomeActiveForTesting();
    settleUpdateCheck();
    EXPECT_EQ(manifestGets(), 1);
    // Past the notice's moment, nothing was presented.
    MainClock::advanceForTesting(0.2);
    EXPECT_EQ(root()->presentedViewController(), nullptr);
}

TEST_F(ShellStartupTest, PushesGetABackItemAndSwipeBackOnlyWithTwoScreens)
{
    platform::UserDefaults::standard().setObject(KRUsageNoticeAcceptedVersionKey, 1);
    launch();
    for (int tab = 0; tab < 4; ++tab) {
        ASSERT_NE(stack(tab), nullptr);
        EXPECT_EQ(stack(tab)->tabBarItem()->tag(), tab);
    }
    // Each stack settles its swipe-back as it appears.
    EXPECT_FALSE(stack(0)->interactivePopGestureRecognizer()->isEnabled());
    root()->tapTabForTesting(2);
    EXPECT_FALSE(stack(2)->interactivePopGestureRecognizer()->isEnabled());
    root()->tapTabForTesting(0);
    KRAdaptiveNavigationController* home = stack(0);
    ViewController* covered = home->topViewController();
    auto* first = new ViewController;
    home->pushViewController(first, false);
    ASSERT_NE(covered->navigationItem()->backBarButtonItem(), nullptr);
    EXPECT_EQ(covered->navigationItem()->backBarButtonItem()->title(), QStringLiteral("返回"));
    EXPECT_EQ(covered->navigationItem()->backBarButtonItem()->style(), BarButtonItemStyleBordered);
    EXPECT_TRUE(home->interactivePopGestureRecognizer()->isEnabled());

    // A screen's own back item stays.
    first->navigationItem()->setBackBarButtonItem(new BarButtonItem(QStringLiteral("列表")));
    home->pushViewController(new ViewController, false);
    EXPECT_EQ(first->navigationItem()->backBarButtonItem()->title(), QStringLiteral("列表"));

    home->popToRootViewControllerAnimated(false);
    EXPECT_FALSE(home->interactivePopGestureRecognizer()->isEnabled());
}

// The shell finds the playback screen under tabs and stacks, and asks it only what it answers.
TEST_F(ShellStartupTest, VisibleLeafWalksTabsAndStacks)
{
    EXPECT_EQ(KRVisibleLeafController(nullptr), nullptr);
    EXPECT_FALSE(KRViewControllerAllowsPlaybackRotation(nullptr));
    TabBarController tabs;
    auto* list = new ViewController();
    auto* nav = new NavigationController(list);
    tabs.setViewControllers({nav, new ViewController()});
    EXPECT_EQ(KRVisibleLeafController(&tabs), list);
    EXPECT_FALSE(KRViewControllerAllowsPlaybackRotation(&tabs));  // no hook
    auto* player = new PlaybackScreen();
    nav->pushViewController(player, false);
    EXPECT_EQ(KRVisibleLeafController(&tabs), player);
    EXPECT_TRUE(KRViewControllerAllowsPlaybackRotation(&tabs));
    player->allows = false;
    EXPECT_FALSE(KRViewControllerAllowsPlaybackRotation(&tabs));
    EXPECT_TRUE(KRInvokeSizeHook(player, "kr_preparePlaybackTransitionToSizeValue", QSizeF(667, 375)));
    EXPECT_TRUE(KRInvokeHook(player, "kr_layoutPlaybackDuringRotation"));
    EXPECT_FALSE(KRInvokeHook(player, "kr_unansweredHook"));
    EXPECT_FALSE(KRInvokeHook(list, "kr_layoutPlaybackDuringRotation"));
    EXPECT_EQ(player->hooks, (QStringList{"{667, 375}", "layout"}));
    tabs.setSelectedIndex(1);
    EXPECT_FALSE(KRViewControllerAllowsPlaybackRotation(&tabs));
}

TEST_F(ShellStartupTest, OrientationFollowsThePlaybackScreenAndItsHooksOnBothPaths)
{
    platform::UserDefaults::standard().setObject(KRUsageNoticeAcceptedVersionKey, 1);
    launch();
    Window* window = delegate->window();
    Window other(QRectF(0, 0, 100, 100));
    EXPECT_EQ(delegate->supportedInterfaceOrientationsForWindow(window), 2);
    EXPECT_EQ(delegate->supportedInterfaceOrientationsForWindow(&other), 2);
    EXPECT_FALSE(root()->shouldAutorotateToInterfaceOrientation(InterfaceOrientationLandscapeRight));
    EXPECT_FALSE(Application::shared().rotateForTesting(InterfaceOrientationLandscapeRight));

    auto* player = new PlaybackScreen;
    stack(0)->pushViewController(player, false);
    EXPECT_EQ(delegate->supportedInterfaceOrientationsForWindow(window), 26);
    EXPECT_EQ(delegate->supportedInterfaceOrientationsForWindow(&other), 2);
    EXPECT_EQ(root()->supportedInterfaceOrientations(), 26);
    EXPECT_TRUE(root()->shouldAutorotateToInterfaceOrientation(InterfaceOrientationLandscapeLeft));
    EXPECT_FALSE(root()->shouldAutorotateToInterfaceOrientation(InterfaceOrientationPortraitUpsideDown));

    // From system 8: the size transition.
    ConsoleCapture console;
    ASSERT_TRUE(Application::shared().rotateForTesting(InterfaceOrientationLandscapeLeft));
    AnimationClock::finishAll();
    EXPECT_EQ(player->hooks, (QStringList{QStringLiteral("{667, 375}"), QStringLiteral("raise"), QStringLiteral("layout"),
                                          QStringLiteral("complete")}));
    EXPECT_TRUE(Application::shared().isStatusBarHidden());
    EXPECT_EQ(delegate->supportedInterfaceOrientationsForWindow(&other), 16);
    player->hooks.clear();
    ASSERT_TRUE(Application::shared().rotateForTesting(InterfaceOrientationPortrait));
    AnimationClock::finishAll();
    EXPECT_EQ(player->hooks.first(), QStringLiteral("{375, 667}"));
    EXPECT_FALSE(Application::shared().isStatusBarHidden());
    // Back in portrait, the selected stack is laid out again on the next turn.
    KR_WAIT_UNTIL(console.contains(QStringLiteral("[KorvaneModernNavigationRotationRepair] root={{0, 0}, {375, 667}}")));

    // A screen that declines keeps the interface portrait.
    player->allows = false;
    EXPECT_EQ(delegate->supportedInterfaceOrientationsForWindow(window), 2);
    EXPECT_FALSE(Application::shared().rotateForTesting(InterfaceOrientationLandscapeRight));
}

// The hand turns the device; the shell follows it once the playback screen allows it.
TEST_F(ShellStartupTest, TurningTheDeviceRotatesThroughTheRootOnlyWhileThePlaybackScreenAllowsIt)
{
    platform::UserDefaults::standard().setObject(KRUsageNoticeAcceptedVersionKey, 1);
    launch();
    auto* player = new PlaybackScreen;
    player->allows = false;  // before playback
    stack(0)->pushViewController(player, false);
    Device::current().setOrientation(3);
    AnimationClock::finishAll();
    EXPECT_EQ(Application::shared().statusBarOrientation(), int(InterfaceOrientationPortrait));
    EXPECT_TRUE(player->hooks.isEmpty());

    player->allows = true;  // playback runs: the screen asks the kit to look at the device again
    ViewController::attemptRotationToDeviceOrientation();
    AnimationClock::finishAll();
    EXPECT_EQ(Application::shared().statusBarOrientation(), int(InterfaceOrientationLandscapeRight));
    EXPECT_EQ(delegate->window()->frame().size(), QSizeF(667, 375));
    EXPECT_EQ(player->hooks, (QStringList{QStringLiteral("{667, 375}"), QStringLiteral("raise"), QStringLiteral("layout"),
                                          QStringLiteral("complete")}));

    player->hooks.clear();
    for (int flat : {5, 6, 2}) {
        Device::current().setOrientation(flat);
        AnimationClock::finishAll();
    }
    EXPECT_TRUE(player->hooks.isEmpty());
    EXPECT_EQ(Application::shared().statusBarOrientation(), int(InterfaceOrientationLandscapeRight));

    Device::current().setOrientation(1);
    AnimationClock::finishAll();
    EXPECT_EQ(Application::shared().statusBarOrientation(), int(InterfaceOrientationPortrait));
    EXPECT_EQ(player->hooks.value(0), QStringLiteral("{375, 667}"));
}

TEST_F(ShellStartupTest, OlderRotationPathAndThePortraitRootRepair)
{
    useDevice(QStringLiteral("iPhone4,1"), QStringLiteral("6.1"));
    platform::UserDefaults::standard().setObject(KRUsageNoticeAcceptedVersionKey, 1);
    launch();
    auto* player = new PlaybackScreen;
    stack(0)->pushViewController(player, false);
    ASSERT_TRUE(Application::shared().rotateForTesting(InterfaceOrientationLandscapeRight));
    AnimationClock::finishAll();
    EXPECT_EQ(player->hooks, (QStringList{QStringLiteral("enter"), QStringLiteral("raise"), QStringLiteral("layout"),
                                          QStringLiteral("complete")}));
    player->hooks.clear();
    ASSERT_TRUE(Application::shared().rotateForTesting(InterfaceOrientationPortrait));
    AnimationClock::finishAll();
    EXPECT_EQ(player->hooks.first(), QStringLiteral("restore"));

    ConsoleCapture console;
    const QRectF portrait = root()->view()->frame();
    root()->view()->setFrame(portrait.translated(0, 1.5));
    root()->kr_commitPortraitRootGeometry();
    EXPECT_FALSE(console.contains(QStringLiteral("[KorvanePortraitRootRepair]")));
    EXPECT_EQ(root()->view()->frame(), portrait.translated(0, 1.5));
    root()->view()->setFrame(portrait.translated(0, 1.6));
    // Playback screens reach it by name.
    EXPECT_TRUE(KRInvokeHook(root(), "kr_commitPortraitRootGeometry"));
    EXPECT_EQ(root()->view()->frame(), portrait);
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvanePortraitRootRepair] root=NO selected=NO frame={{0, 0}, {320, 480}} bounds={{0, 0}, {320, 480}}")))
        << console.text().toStdString();
}

TEST_F(ShellStartupTest, MemoryWarningsAreRecorded)
{
    platform::UserDefaults::standard().setObject(KRUsageNoticeAcceptedVersionKey, 1);
    launch();
    Application::shared().memoryWarningForTesting();
    KR_WAIT_UNTIL(runtimeLog().contains(QStringLiteral("[memory-warning] UIApplication delivered memory warning")));
}

TEST_F(ShellStartupTest, TheHomeFeedAskedForAtLaunchIsTheHomeListsFirstPage)
{
    KRAPIClient::resetReadLoaderStateForTesting();
    KRAPIClient::resetWBIMixinKeyForTesting();
    launch();
    auto* home = qobject_cast<KRVideoListViewController*>(stack(0)->viewControllers().first());
    ASSERT_NE(home, nullptr);
    KR_WAIT_UNTIL(!home->isLoading() && home->page() == 1);
    EXPECT_EQ(home->videos().size(), 18);
    const QList<FakeRequest> feed = service->requestsTo(QStringLiteral("/x/web-interface/wbi/index/top/feed/rcmd"));
    ASSERT_EQ(feed.size(), 1) << "the list took the launch's request instead of making its own";
    EXPECT_EQ(feed.first().queryValue(QStringLiteral("fresh_idx")), QStringLiteral("1"));
    EXPECT_EQ(service->requestsTo(QStringLiteral("/x/web-interface/nav")).size(), 1);
}

TEST_F(ShellStartupTest, LoggedInLaunchWarmsTheRiskCookiesOnlyThen)
{
    AccountFixtures::routeRiskCookies(*service);
    {
        ConsoleCapture console;
        launch();
        KR_WAIT_UNTIL(runtimeLog().contains(QStringLiteral("phase=committed")));
        EXPECT_TRUE(service->requestsTo(QStringLiteral("/x/frontend/finger/spi")).isEmpty());
        EXPECT_FALSE(console.contains(QStringLiteral("launchRiskWarmup")));
    }
    Application::shared().setDelegate(nullptr);
    delegate.reset();
    flushDeferredDeletes();

    AccountFixtures::logInWebOnly();
    ConsoleCapture console;
    launch();
    KR_WAIT_UNTIL(console.contains(QStringLiteral("[KorvaneSession] launchRiskWarmup ready=YES errorCode=0")));
    EXPECT_EQ(service->requestsTo(QStringLiteral("/x/frontend/finger/spi")).size(), 1);
}

TEST_F(ShellStartupTest, PadsStartInPortraitWithTheNoticeAsASheet)
{
    useDevice(QStringLiteral("iPad8,1"), QStringLiteral("16.7"));
    Application::shared().setStatusBarOrientation(InterfaceOrientationLandscapeLeft);
    launch();
    EXPECT_EQ(Application::shared().statusBarOrientation(), InterfaceOrientationPortrait);
    MainClock::advanceForTesting(0.45);
    ASSERT_NE(root()->presentedViewController(), nullptr);
    ViewController* sheet = root()->presentedViewController();
    EXPECT_EQ(sheet->modalPresentationStyle(), ModalPresentationFormSheet);
    AnimationClock::finishAll();
    EXPECT_EQ(sheet->view()->frame().size(), QSizeF(540, 620));
}

// A pad held sideways when the application starts is told to stand upright, the device itself
// as well as the status bar; a phone's device is left as it is held.
TEST_F(ShellStartupTest, APadsDeviceIsSetUprightAtStartUp)
{
    useDevice(QStringLiteral("iPad8,1"), QStringLiteral("16.7"));
    Device::current().setOrientation(4);
    launch();
    EXPECT_EQ(Device::current().orientation(), 1);
    EXPECT_EQ(Application::shared().statusBarOrientation(), InterfaceOrientationPortrait);
}

TEST_F(ShellStartupTest, APhonesDeviceIsLeftAsItIsHeldAtStartUp)
{
    Device::current().setOrientation(4);
    launch();
    EXPECT_EQ(Device::current().orientation(), 4);
    EXPECT_EQ(Application::shared().statusBarOrientation(), InterfaceOrientationPortrait);
}

TEST_F(ShellStartupTest, TheInboxGatesSignedOutUsersAndTheProfileOffersLogin)
{
    platform::UserDefaults::standard().setObject(KRUsageNoticeAcceptedVersionKey, 1);
    AccountFixtures::Passport passport(*service);
    launch();
    auto* inbox = new KRMessageViewController(0);
    stack(0)->pushViewController(inbox, false);
    EXPECT_EQ(inbox->title(), QStringLiteral("消息"));
    // Signed out, the inbox says so and follows the theme.
    ASSERT_NE(inbox->stateLabel(), nullptr);
    EXPECT_EQ(inbox->stateLabel()->text(), QStringLiteral("登录后可查看消息"));
    EXPECT_EQ(inbox->stateLabel()->textColor(), KRTheme::sharedTheme()->secondaryTextColor());
    KRTheme::sharedTheme()->setStyle(1);
    EXPECT_EQ(inbox->stateLabel()->textColor(), KRTheme::sharedTheme()->secondaryTextColor());

    root()->tapTabForTesting(3);
    auto* profile = qobject_cast<KRProfileViewController*>(stack(3)->topViewController());
    ASSERT_NE(profile, nullptr);
    EXPECT_EQ(profile->title(), QStringLiteral("我的"));
    ASSERT_TRUE(clickProfileRow(profile, KRProfileViewController::Row::Login));
    EXPECT_NE(qobject_cast<KRQRLoginViewController*>(stack(3)->topViewController()), nullptr);
    stack(3)->popToRootViewControllerAnimated(false);
    AccountFixtures::logInWebOnly();
    EXPECT_FALSE(showsProfileRow(profile, KRProfileViewController::Row::Login));
    EXPECT_TRUE(showsProfileRow(profile, KRProfileViewController::Row::Logout));
}

// The whole application against the demo service's catalogue, in-process: a newcomer clicks
// through to the QR login, and the main clock is advanced over the screen's polls instead of
// waiting for them.
class DemoLoginTest : public ShellStartupTest {
protected:
    void SetUp() override
    {
        ShellStartupTest::SetUp();
        service.reset(); // the demo's catalogue answers instead, image hosts included
        service = std::make_unique<FakeService>(DemoCatalogue::hosts());
        DemoCatalogue::install(*service);
    }

    NavigationController* profileStack() const { return qobject_cast<NavigationController*>(root()->viewControllers().value(3)); }

    static void click(View* view, QPointF at)
    {
        QTest::mouseClick(view, Qt::LeftButton, {}, at.toPoint());
        AnimationClock::finishAll();
    }
    static void click(View* view) { click(view, view->bounds().center()); }

    // Opens the QR login from the profile tab's button; the shown screen, its code fetched.
    KRQRLoginViewController* openQRLogin()
    {
        auto* profile = qobject_cast<KRProfileViewController*>(profileStack()->topViewController());
        EXPECT_NE(profile, nullptr);
        if (!profile)
            return nullptr;
        EXPECT_TRUE(clickProfileRow(profile, KRProfileViewController::Row::Login));
        auto* screen = qobject_cast<KRQRLoginViewController*>(profileStack()->topViewController());
        EXPECT_NE(screen, nullptr);
        return screen;
    }

    // Advances the clock by one poll interval once the poll in flight has been answered.
    static ::testing::AssertionResult nextPoll(KRQRLoginViewController* screen)
    {
        if (!waitUntil([&] { return !screen->flow()->isPollInFlight(); }))
            return ::testing::AssertionFailure() << "a poll was never answered";
        MainClock::advanceForTesting(2.0);
        return ::testing::AssertionSuccess();
    }

    // Drives one code from showing to signed in, stage by stage as a phone would move it.
    void signInWith(KRQRLoginViewController* screen, const QString& code)
    {
        const QPointer<KRQRLoginViewController> guard(screen);
        KR_WAIT_UNTIL(!screen->qrImageView()->image().isNull() && screen->flow()->state() == KRQRLoginFlow::State::Polling);
        EXPECT_EQ(screen->statusLabel()->text(), QStringLiteral("等待扫码…"));
        // The screen polls its code as soon as it shows it.
        KR_WAIT_UNTIL(pollsOf(code) == 1);
        // Nothing moves without the clock: no wall time passes for the demo's phone.
        ASSERT_TRUE(nextPoll(screen));
        KR_WAIT_UNTIL(screen->statusLabel()->text() == QStringLiteral("已扫码，请在另一台设备上确认登录"));
        EXPECT_FALSE(KRSessionStore::sharedStore().isLoggedIn());
        ASSERT_TRUE(nextPoll(screen));
        KR_WAIT_UNTIL(screen->statusLabel()->text() == QStringLiteral("登录成功"));
        EXPECT_EQ(pollsOf(code), 3) << "confirmed at the third poll, four seconds after the code showed";
        EXPECT_TRUE(KRSessionStore::sharedStore().isLoggedIn());
        EXPECT_EQ(profileStack()->topViewController(), screen) << "the screen stays a moment to say so";
        MainClock::advanceForTesting(0.55);
        AnimationClock::finishAll();
        flushDeferredDeletes();
        EXPECT_TRUE(guard.isNull()) << "the finished screen leaves the stack";
        EXPECT_NE(qobject_cast<KRProfileViewController*>(profileStack()->topViewController()), nullptr);
    }

    // Reads the usage notice away, as a newcomer first does.
    void acknowledgeNotice()
    {
        MainClock::advanceForTesting(0.45);
        AnimationClock::finishAll();
        auto* noticeStack = qobject_cast<NavigationController*>(root()->presentedViewController());
        ASSERT_NE(noticeStack, nullptr);
        auto* notice = qobject_cast<KRUsageNoticeViewController*>(noticeStack->topViewController());
        ASSERT_NE(notice, nullptr);
        click(notice->acknowledgeButton());
        flushDeferredDeletes();
        ASSERT_EQ(root()->presentedViewController(), nullptr);
    }

    int pollsOf(const QString& code) const
    {
        int count = 0;
        for (const FakeRequest& request : service->requests())
            if (request.path == QLatin1String("/x/passport-tv-login/qrcode/poll") &&
                AccountFixtures::formValue(request, QStringLiteral("auth_code")) == code)
                ++count;
        return count;
    }

};

TEST_F(DemoLoginTest, ANewcomerClicksToTheQRLoginAndEndsSignedInToTheDemoAccount)
{
    launch();
    Window* window = delegate->window();
    ASSERT_NE(window, nullptr);

    // A newcomer first reads the usage notice.
    ASSERT_NO_FATAL_FAILURE(acknowledgeNotice());

    // The profile tab, then its QR login.
    click(root()->tabBar(), root()->tabBar()->rectForItem(3).center());
    ASSERT_EQ(root()->selectedIndex(), 3);
    KRQRLoginViewController* screen = openQRLogin();
    ASSERT_NE(screen, nullptr);
    signInWith(screen, QStringLiteral("code-1"));

    // Signed in as the demo account, whose profile, coins and follow state the screens read.
    EXPECT_EQ(KRSessionStore::sharedStore().userID(), AccountFixtures::kDemoAccountID);
    const std::optional<QVariantMap> profile = KRSessionStore::sharedStore().accountProfile();
    ASSERT_TRUE(profile.has_value());
    EXPECT_EQ(profile->value(QStringLiteral("uname")).toString(), QStringLiteral("演示账号"));
    EXPECT_EQ(profile->value(QStringLiteral("money")).toLongLong(), 128);
    auto* profileScreen = qobject_cast<KRProfileViewController*>(profileStack()->topViewController());
    ASSERT_NE(profileScreen, nullptr);
    EXPECT_FALSE(showsProfileRow(profileScreen, KRProfileViewController::Row::Login));

    std::optional<qint64> attribute;
    KRAccountClient::sharedClient()->loadRelationForMID(7, nullptr, [&](const QVariant& data, const KROptionalError& error) {
        EXPECT_FALSE(error.has_value());
        attribute = data.toMap().value(QStringLiteral("attribute")).toLongLong();
    });
    KR_WAIT_UNTIL(attribute.has_value());
    EXPECT_EQ(*attribute, 0);
    bool followed = false;
    KRAccountClient::sharedClient()->setFollowing(true, 7, nullptr, [&](bool success, const QString& message, const QVariant&) {
        EXPECT_TRUE(success) << message.toStdString();
        followed = true;
    });
    KR_WAIT_UNTIL(followed);
    attribute.reset();
    KRAccountClient::sharedClient()->loadRelationForMID(7, nullptr, [&](const QVariant& data, const KROptionalError&) {
        attribute = data.toMap().value(QStringLiteral("attribute")).toLongLong();
    });
    KR_WAIT_UNTIL(attribute.has_value());
    EXPECT_EQ(*attribute, 2);

    // The demo account keeps favourite folders; a private one made here is answered without
    // its id, as the service does, and then listed.
    bool created = false;
    KRAccountClient::sharedClient()->createFavoriteFolderWithTitle(QStringLiteral("新的"), true, nullptr,
                                                                   [&](bool success, const QString&, const QVariant& data) {
                                                                       EXPECT_TRUE(success);
                                                                       EXPECT_FALSE(data.toMap().contains(QStringLiteral("id")));
                                                                       created = true;
                                                                   });
    KR_WAIT_UNTIL(created);
    QVariantList folders;
    KRAccountClient::sharedClient()->loadFavoriteFoldersForAID(170001, nullptr, [&](const QVariantMap& result, const KROptionalError& error) {
        EXPECT_FALSE(error.has_value());
        folders = result.value(QStringLiteral("folders")).toList();
    });
    KR_WAIT_UNTIL(!folders.isEmpty());
    ASSERT_EQ(folders.size(), 4);
    EXPECT_EQ(folders.first().toMap().value(QStringLiteral("title")).toString(), QStringLiteral("默认收藏夹"));
    EXPECT_EQ(folders.last().toMap().value(QStringLiteral("title")).toString(), QStringLiteral("新的"));

    // Signed out again, a second code goes the same way.
    KRSessionStore::sharedStore().clearSession();
    EXPECT_TRUE(showsProfileRow(profileScreen, KRProfileViewController::Row::Login));
    screen = openQRLogin();
    ASSERT_NE(screen, nullptr);
    signInWith(screen, QStringLiteral("code-2"));
    EXPECT_EQ(KRSessionStore::sharedStore().userID(), AccountFixtures::kDemoAccountID);
}

// The run turns the lab on (scripts/run), so a signed-in newcomer opens the inbox from the home
// list's envelope button and reads the demo account's replies and mentions.
TEST_F(DemoLoginTest, WithTheRunsLabSwitchASignedInNewcomerReadsTheInbox)
{
    platform::LabSeams::setExperimentalFeaturesByDefaultForTesting(true);
    struct Restore {
        ~Restore() { platform::LabSeams::setExperimentalFeaturesByDefaultForTesting(std::nullopt); }
    } restore;
    launch();
    ASSERT_NO_FATAL_FAILURE(acknowledgeNotice());
    click(root()->tabBar(), root()->tabBar()->rectForItem(3).center());
    KRQRLoginViewController* screen = openQRLogin();
    ASSERT_NE(screen, nullptr);
    signInWith(screen, QStringLiteral("code-1"));

    click(root()->tabBar(), root()->tabBar()->rectForItem(0).center());
    ASSERT_EQ(root()->selectedIndex(), 0);
    auto* home = qobject_cast<KRVideoListViewController*>(stack(0)->viewControllers().first());
    ASSERT_NE(home, nullptr);
    BarButtonItem* envelope = home->navigationItem()->rightBarButtonItem();
    ASSERT_NE(envelope, nullptr) << "the lab's switch puts the inbox on the home list";
    ASSERT_NE(envelope->customView(), nullptr);
    click(envelope->customView());
    auto* inbox = qobject_cast<KRMessageViewController*>(stack(0)->topViewController());
    ASSERT_NE(inbox, nullptr);

    // Replies first, a page of them with more to come; then the mentions, all of them.
    KR_WAIT_UNTIL(!inbox->isLoading() && !inbox->messages().isEmpty());
    EXPECT_EQ(inbox->messages().size(), 10);
    EXPECT_TRUE(inbox->hasMore());
    EXPECT_EQ(inbox->tableView()->numberOfRowsInSection(0), 10);
    SegmentedControl* segment = inbox->segment();
    ASSERT_NE(segment, nullptr);
    ASSERT_EQ(segment->numberOfSegments(), 2);
    click(segment, QPointF(segment->bounds().width() * 0.75, segment->bounds().height() / 2));
    ASSERT_EQ(segment->selectedSegmentIndex(), 1);
    KR_WAIT_UNTIL(!inbox->isLoading() && inbox->messages().size() == 5);
    EXPECT_FALSE(inbox->hasMore());
    EXPECT_EQ(inbox->tableView()->numberOfRowsInSection(0), 5);
}

} // namespace

// Painting on screen leaves out what opaque views hide; the screen must still show exactly
// what a full rendering of the window shows, under every theme.
TEST_F(ShellStartupTest, TheScreenShowsWhatTheWindowRenders)
{
    launch();
    auto* home = qobject_cast<KRVideoListViewController*>(stack(0)->viewControllers().value(0));
    ASSERT_NE(home, nullptr);
    KR_WAIT_UNTIL(!home->videos().isEmpty());
    Window* window = delegate->window();
    KR_WAIT_UNTIL(window->windowHandle() && window->windowHandle()->isExposed());
    for (int style : {0, 1, 2}) {
        KRTheme::sharedTheme()->setStyle(style);
        AnimationClock::finishAll();
        window->layoutIfNeeded();
        window->repaint();
        const QImage screen = QGuiApplication::primaryScreen()->grabWindow(window->winId()).toImage();
        const QImage rendered = window->grab().toImage();
        ASSERT_EQ(screen.size(), rendered.size());
        EXPECT_TRUE(screen.convertToFormat(QImage::Format_RGB32) == rendered.convertToFormat(QImage::Format_RGB32))
            << "style " << style;
    }
}

#include "ShellStartupTest.moc"
