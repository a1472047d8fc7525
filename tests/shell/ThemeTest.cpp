#include "../uikit/KitTestSupport.h"

#include "look/KRShellHelpers.h"
#include "look/KRTheme.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/uikit/BarButtonItem.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationBar.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/NavigationItem.h"
#include "platform/uikit/SegmentedControl.h"
#include "platform/uikit/TabBar.h"
#include "platform/uikit/TabBarController.h"
#include "platform/uikit/TabBarItem.h"
#include "platform/uikit/Window.h"
#include "store/KRPreferences.h"

#include <QPointer>

using namespace platform::uikit;

namespace {
struct ChangeCounter {
    int posts = 0;
    platform::ObserverToken token = platform::NotificationCenter::defaultCenter().addObserver(
        KRThemeDidChangeNotification, nullptr, [this](const platform::Notification& n) {
            EXPECT_EQ(n.object, KRTheme::sharedTheme());
            ++posts;
        });
};

// A window with a tab bar controller over two navigation stacks, as the shell builds it.
struct Shell {
    Window window;
    TabBarController* tabs = new TabBarController();
    ViewController* home = new ViewController();
    NavigationController* nav = new NavigationController(home);
    Shell()
    {
        home->setTitle(QStringLiteral("首页"));
        tabs->setViewControllers({nav, new NavigationController(new ViewController())});
        window.setRootViewController(tabs);
        window.makeKeyAndVisible();
    }
    View* backdrop() { return nav->view()->viewWithTag(KRThemeStatusBarBackdropTag); }
};

QColor pixel(const Image& img, int x, int y) { return img.image().pixelColor(x, y); }
} // namespace

class AppTheme : public KitTest {};

TEST_F(AppTheme, StyleIsStoredOnlyWhenValidAndNew)
{
    KRTheme* theme = KRTheme::sharedTheme();
    auto& defaults = platform::UserDefaults::standard();
    EXPECT_EQ(theme->style(), 2);
    EXPECT_EQ(theme->displayName(), QStringLiteral("粉色"));
    ChangeCounter counter;
    for (int refused : {7, -1, 2, 3, INT_MIN}) {
        theme->setStyle(refused);
        EXPECT_FALSE(defaults.contains(QStringLiteral("KRThemeStyle"))) << refused;
    }
    EXPECT_EQ(counter.posts, 0);
    theme->setStyle(1);
    EXPECT_EQ(counter.posts, 1);
    EXPECT_EQ(defaults.integer(QStringLiteral("KRThemeStyle")), 1);
    EXPECT_EQ(theme->displayName(), QStringLiteral("黑色"));
    theme->setStyle(1);
    EXPECT_EQ(counter.posts, 1);
    theme->setStyle(0);
    EXPECT_EQ(theme->displayName(), QStringLiteral("白色"));
    for (qint64 stored : {5, -3, 2}) {
        defaults.setObject(QStringLiteral("KRThemeStyle"), stored);
        EXPECT_EQ(theme->style(), 2) << stored;
    }
}

TEST_F(AppTheme, ColourRolesPerStyle)
{
    KRTheme* theme = KRTheme::sharedTheme();
    EXPECT_TRUE(colorNear(theme->navigationColor(), QColor(250, 115, 158), 1));
    EXPECT_EQ(theme->navigationTextColor(), QColor(Qt::white));
    EXPECT_EQ(theme->spinnerStyle(), 2);
    theme->setStyle(1);
    EXPECT_TRUE(colorNear(theme->surfaceColor(), QColor(33, 33, 38), 1));
    EXPECT_EQ(theme->spinnerStyle(), 1);
    EXPECT_TRUE(colorNear(theme->selectionColor(), QColor(77, 46, 59), 1));
    theme->setStyle(0);
    EXPECT_EQ(theme->navigationTextColor(), theme->primaryTextColor());
    EXPECT_TRUE(colorNear(theme->accentColor(), QColor(250, 115, 158), 1));
}

TEST_F(AppTheme, BackgroundTileAndGeneratedImages)
{
    KRTheme* theme = KRTheme::sharedTheme();
    const QBrush brush = theme->backgroundColor();
    ASSERT_EQ(brush.style(), Qt::TexturePattern);
    const QImage tile = brush.textureImage();
    ASSERT_EQ(tile.size(), QSize(8, 8));
    EXPECT_TRUE(colorNear(tile.pixelColor(0, 0), QColor(255, 241, 246), 2));
    EXPECT_TRUE(colorNear(tile.pixelColor(4, 7), QColor(249, 228, 236), 2));
    EXPECT_TRUE(colorNear(tile.pixelColor(2, 2), QColor(255, 250, 252), 2));

    const Image small = theme->groupedCellBackgroundImageWithTopCorners(true, false, 12.7);
    EXPECT_EQ(small.size(), QSizeF(40, 20));
    EXPECT_EQ(small.leftCapWidth(), 19);
    EXPECT_EQ(small.topCapHeight(), 19);
    const Image tall = theme->groupedCellBackgroundImageWithTopCorners(false, false, 44.9);
    EXPECT_EQ(tall.size(), QSizeF(40, 44));
    EXPECT_EQ(tall.topCapHeight(), 43);
    // Without corners the corner pixel is the stroke; with them it stays clear.
    EXPECT_GT(pixel(tall, 0, 0).alpha(), 100);
    EXPECT_LT(pixel(theme->groupedCellBackgroundImageWithTopCorners(true, true, 44), 0, 0).alpha(), 20);

    const Image g44 = KRThemeClassicNavigationGradientImage(2, 44);
    const Image g445 = KRThemeClassicNavigationGradientImage(2, 44.5);
    const Image g64 = KRThemeClassicNavigationGradientImage(2, 64);
    EXPECT_TRUE(g44.isSameAs(g445));
    EXPECT_FALSE(g44.isSameAs(g64));
    EXPECT_EQ(g64.size(), QSizeF(20, 64));
    EXPECT_EQ(g44.size(), QSizeF(20, 44));
    EXPECT_EQ(g64.leftCapWidth(), 10);
    EXPECT_EQ(g64.topCapHeight(), 32);
    EXPECT_TRUE(KRThemeClassicNavigationGradientImage(9, 44).isSameAs(g44));  // clamped to pink
    EXPECT_TRUE(theme->navigationBackgroundImage().isSameAs(g44));
    EXPECT_TRUE(theme->surfaceBackgroundImage().isSameAs(theme->surfaceBackgroundImage()));
    EXPECT_EQ(theme->searchFieldBackgroundImage().size(), QSizeF(24, 34));
    const Image plain = KRThemeGradientImage(Qt::white, Qt::black, std::nullopt, QSizeF(1, 1), 0);
    EXPECT_EQ(plain.leftCapWidth(), 1);
    EXPECT_EQ(plain.topCapHeight(), 1);
}

TEST_F(AppTheme, StatusBarBackdropAndBarOnSixteen)
{
    Shell shell;
    KRTheme* theme = KRTheme::sharedTheme();
    theme->applyToTabBarController(shell.tabs);
    View* backdrop = shell.backdrop();
    ASSERT_NE(backdrop, nullptr);
    EXPECT_EQ(backdrop->frame(), QRectF(0, 0, 375, 20));
    EXPECT_TRUE(colorNear(backdrop->backgroundColor().color(), QColor(158, 46, 87), 1));
    EXPECT_FALSE(backdrop->isHidden());
    EXPECT_EQ(backdrop->autoresizingMask(), 2);
    EXPECT_TRUE(shell.nav->navigationBar()->backgroundImage().isSameAs(KRThemeClassicNavigationGradientImage(2, 44)));
    EXPECT_EQ(Application::shared().statusBarStyle(), 1);
    EXPECT_TRUE(colorNear(shell.tabs->tabBar()->barTintColor(), Qt::white, 0));
    EXPECT_EQ(shell.nav->tabBarItem()->titleTextAttributes(ControlStateSelected).textColor, theme->accentColor());

    // A pushed screen shows the back item the screen below carries.
    shell.home->navigationItem()->setBackBarButtonItem(new BarButtonItem(QStringLiteral("返回"), BarButtonItemStyleBordered));
    shell.nav->pushViewController(new ViewController(), false);
    theme->refreshNavigationController(shell.nav);
    ASSERT_NE(shell.nav->navigationBar()->backButton(), nullptr);
    EXPECT_EQ(shell.nav->navigationBar()->backButton()->title(ControlStateNormal), QStringLiteral("返回"));
    EXPECT_EQ(shell.nav->navigationBar()->backButton()->titleColor(ControlStateNormal), QColor(Qt::white));

    auto& prefs = KRPreferences::sharedPreferences();
    prefs.setExperimentalFeaturesEnabled(true);
    prefs.setContinuousStatusBarStyleEnabled(true);
    theme->refreshNavigationController(shell.nav);
    EXPECT_EQ(shell.backdrop(), nullptr);
    EXPECT_TRUE(shell.nav->navigationBar()->backgroundImage().isSameAs(KRThemeClassicNavigationGradientImage(2, 64)));

    prefs.setContinuousStatusBarStyleEnabled(false);
    Application::shared().setStatusBarHidden(true);  // the frame reports nothing: 20 high
    theme->refreshNavigationController(shell.nav);
    ASSERT_NE(shell.backdrop(), nullptr);
    EXPECT_EQ(shell.backdrop()->frame().height(), 20);
    EXPECT_TRUE(shell.backdrop()->isHidden());  // hidden, not removed
    Application::shared().setStatusBarHidden(false);
    Application::shared().setStatusBarOrientation(InterfaceOrientationLandscapeLeft);
    theme->refreshStatusBarBackdropForNavigationController(shell.nav);
    ASSERT_NE(shell.backdrop(), nullptr);
    EXPECT_TRUE(shell.backdrop()->isHidden());
    Application::shared().setStatusBarOrientation(InterfaceOrientationPortrait);
    theme->refreshStatusBarBackdropForNavigationController(shell.nav);
    EXPECT_FALSE(shell.backdrop()->isHidden());
}

TEST_F(AppTheme, AFormSheetOnAPadGetsNoBackdropOverItsBar)
{
    useDevice(QStringLiteral("iPad8,1"), QStringLiteral("14.8"));
    Shell shell;
    KRTheme* theme = KRTheme::sharedTheme();
    auto* sheet = new NavigationController(new ViewController());
    sheet->setModalPresentationStyle(ModalPresentationFormSheet);
    shell.tabs->presentViewController(sheet, false);
    AnimationClock::finishAll();
    ASSERT_GT(sheet->view()->convertPointToView(QPointF(), &shell.window).y(), 20);
    theme->refreshNavigationController(sheet);
    QCoreApplication::processEvents();
    EXPECT_EQ(sheet->view()->viewWithTag(KRThemeStatusBarBackdropTag), nullptr);
    // The stack under the status bar keeps its own.
    theme->refreshNavigationController(shell.nav);
    ASSERT_NE(shell.backdrop(), nullptr);
    EXPECT_FALSE(shell.backdrop()->isHidden());
}

TEST_F(AppTheme, SecondRefreshPassRunsOnceAndIsDroppedWhenTheControllerHasGone)
{
    KRTheme* theme = KRTheme::sharedTheme();
    {
        Shell shell;
        theme->refreshNavigationController(shell.nav);
        theme->refreshNavigationController(shell.nav);
        EXPECT_TRUE(theme->hasPendingRefresh(shell.nav));
        shell.nav->navigationBar()->setBackgroundImage(Image());
        KR_WAIT_UNTIL(!theme->hasPendingRefresh(shell.nav));
        EXPECT_FALSE(shell.nav->navigationBar()->backgroundImage().isNull());  // the second pass ran
    }
    Shell* doomed = new Shell();
    QPointer<NavigationController> nav = doomed->nav;
    theme->refreshNavigationController(nav);
    delete doomed;
    EXPECT_TRUE(nav.isNull());
    // The pending pass finds nothing to work on and does nothing (no crash, no resurrection).
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

TEST_F(AppTheme, OlderSystemsDrawTheClassicLook)
{
    useDevice(QStringLiteral("iPhone4,1"), QStringLiteral("5.1"));
    KRTheme* theme = KRTheme::sharedTheme();
    theme->setStyle(1);
    Shell shell;
    theme->applyToTabBarController(shell.tabs);
    EXPECT_EQ(Application::shared().statusBarStyle(), 2);
    EXPECT_EQ(shell.backdrop(), nullptr);  // no backdrop below 7
    EXPECT_EQ(shell.nav->view()->backgroundColor(), theme->backgroundColor());
    EXPECT_FALSE(shell.tabs->tabBar()->barTintColor().isValid());  // no bar tint before 7
    shell.nav->pushViewController(new ViewController(), false);
    theme->refreshNavigationController(shell.nav);
    // The covered screen gets a "返回" back item dressed for the classic bar.
    BarButtonItem* back = shell.home->navigationItem()->backBarButtonItem();
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->title(), QStringLiteral("返回"));
    EXPECT_EQ(back->style(), int(BarButtonItemStyleBordered));
    EXPECT_EQ(back->titleTextAttributes(ControlStateNormal).shadowOffset, QSizeF(0, -1));
    // Titles are labels in the title view below 7.
    NavigationItem* item = shell.home->navigationItem();
    theme->applyNavigationTitle(QStringLiteral("首页"), item);
    auto* label = qobject_cast<Label*>(item->titleView());
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->frame(), QRectF(0, 0, 170, 34));
    theme->applyNavigationTitle(QStringLiteral("推荐"), item);
    EXPECT_EQ(item->titleView(), label);  // reused
    EXPECT_EQ(label->text(), QStringLiteral("推荐"));

    useDevice(QStringLiteral("iPhone4,1"), QStringLiteral("6.1"));
    theme->setStyle(2);
    theme->applyToTabBarController(shell.tabs);
    EXPECT_EQ(Application::shared().statusBarStyle(), 1);
    EXPECT_EQ(shell.nav->view()->backgroundColor().color(), theme->navigationColor());
}

TEST_F(AppTheme, SegmentedControlsAndNonNavigationTabs)
{
    KRTheme* theme = KRTheme::sharedTheme();
    SegmentedControl seg({QStringLiteral("综合"), QStringLiteral("最新")});
    theme->applyToNavigationSegmentedControl(&seg);
    EXPECT_EQ(seg.tintColor(), theme->separatorColor());
    EXPECT_EQ(seg.titleColor(ControlStateSelected), QColor::fromRgbF(0.08, 0.08, 0.08));
    useDevice(QStringLiteral("iPhone6,1"), QStringLiteral("12.5"));
    theme->applyToNavigationSegmentedControl(&seg);
    EXPECT_EQ(seg.tintColor(), theme->navigationColor());
    theme->applyToNavigationSegmentedControl(nullptr);

    Window w;
    TabBarController tabs;
    auto* plain = new ViewController();
    tabs.setViewControllers({plain});
    theme->applyToTabBarController(&tabs);
    EXPECT_TRUE(plain->tabBarItem()->titleTextAttributes(ControlStateNormal).isEmpty());
    EXPECT_FALSE(tabs.tabBar()->backgroundImage().isNull());
}
