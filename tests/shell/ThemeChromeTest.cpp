#include "../uikit/KitTestSupport.h"

#include "look/KRTheme.h"
#include "platform/uikit/BarButtonItem.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationBar.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/NavigationItem.h"
#include "platform/uikit/TabBarController.h"
#include "platform/uikit/TabBarItem.h"
#include "platform/uikit/Window.h"
#include "store/KRPreferences.h"

using namespace platform::uikit;

class AppThemeChrome : public KitTest {};

TEST_F(AppThemeChrome, BackdropColoursAndTheContinuousStyleByVersion)
{
    const struct {
        int style;
        QColor colour;
    } backdrops[] = {{0, QColor::fromRgbF(0.71, 0.73, 0.76)}, {1, QColor::fromRgbF(0.025, 0.025, 0.025)},
                     {2, QColor::fromRgbF(0.62, 0.18, 0.34)}, {3, Qt::black}, {-1, Qt::black}};
    for (const auto& b : backdrops)
        EXPECT_EQ(KRThemeSeparatedStatusBarBackdropColor(b.style), b.colour) << b.style;

    auto& prefs = KRPreferences::sharedPreferences();
    prefs.setExperimentalFeaturesEnabled(true);
    prefs.setContinuousStatusBarStyleEnabled(true);
    EXPECT_TRUE(KRThemeUsesContinuousStatusBarStyle());
    useDevice(QStringLiteral("iPhone4,1"), QStringLiteral("6.1"));
    EXPECT_FALSE(KRThemeUsesContinuousStatusBarStyle());  // never below 7
    useDevice(QStringLiteral("iPhone10,1"), QStringLiteral("16.7"));
    prefs.setExperimentalFeaturesEnabled(false);
    EXPECT_FALSE(KRThemeUsesContinuousStatusBarStyle());  // both switches are needed
    useDevice(QStringLiteral("iPhone10,3"), QStringLiteral("16.7"));
    EXPECT_TRUE(KRThemeUsesContinuousStatusBarStyle());  // a full-screen phone always
    // …and its bars are one flat colour.
    const Image chrome = KRTheme::sharedTheme()->navigationChromeBackgroundImageForNavigationController(nullptr);
    EXPECT_EQ(chrome.size(), QSizeF(1, 1));
    EXPECT_TRUE(colorNear(chrome.image().pixelColor(0, 0), KRTheme::sharedTheme()->navigationColor(), 1));
}

TEST_F(AppThemeChrome, BarButtonAppearanceIsClassicBelowSevenAndDefaultAfter)
{
    BarButtonItem item(QStringLiteral("编辑"));
    item.setBackgroundImage(KRThemeClassicNavigationGradientImage(2, 44), ControlStateNormal);
    item.setTitlePositionAdjustment(QPointF(3, 4));
    useDevice(QStringLiteral("iPhone4,1"), QStringLiteral("6.1"));
    KRThemeApplyBarButtonItemAppearance(&item, 0, Qt::red);
    const TextAttributes white = item.titleTextAttributes(ControlStateHighlighted);
    EXPECT_EQ(white.textColor, QColor(Qt::red));
    EXPECT_EQ(white.shadowColor, QColor::fromRgbF(1, 1, 1, 0.92));
    EXPECT_EQ(white.shadowOffset, QSizeF(0, 1));
    EXPECT_TRUE(item.backgroundImage(ControlStateNormal).isNull());
    EXPECT_EQ(item.titlePositionAdjustment(), QPointF(0, 0));
    KRThemeApplyBarButtonItemAppearance(&item, 2, Qt::white);
    EXPECT_EQ(item.titleTextAttributes(ControlStateNormal).shadowOffset, QSizeF(0, -1));
    useDevice(QStringLiteral("iPhone10,1"), QStringLiteral("16.7"));
    KRThemeApplyBarButtonItemAppearance(&item, 2, Qt::white);
    EXPECT_TRUE(item.titleTextAttributes(ControlStateNormal).isEmpty());
    KRThemeApplyBarButtonItemAppearance(nullptr, 2, Qt::white);
}

TEST_F(AppThemeChrome, VisibleButtonTextIsSynchronisedDepthFirst)
{
    View root(QRectF(0, 0, 200, 44));
    auto* outer = new Button(ButtonTypeCustom, QRectF(0, 0, 60, 44), &root);
    auto* holder = new View(QRectF(60, 0, 100, 44), &root);
    auto* inner = new Button(ButtonTypeCustom, QRectF(0, 0, 60, 44), holder);
    KRThemeSynchronizeVisibleNavigationButtonText(&root, 1, Qt::white);
    for (Button* b : {outer, inner}) {
        for (int state : {0, 1, 4})
            EXPECT_EQ(b->titleColor(state), QColor(Qt::white));
        EXPECT_EQ(b->titleShadowColor(ControlStateSelected), QColor::fromRgbF(0, 0, 0, 0.46));
        EXPECT_EQ(b->titleLabel()->shadowOffset(), QSizeF(0, -1));
    }
    KRThemeSynchronizeVisibleNavigationButtonText(&root, 0, Qt::black);
    EXPECT_EQ(inner->titleLabel()->shadowOffset(), QSizeF(0, 1));
    KRThemeSynchronizeVisibleNavigationButtonText(nullptr, 0, Qt::black);
}

TEST_F(AppThemeChrome, TitleLabelsAndTitlesFromSeven)
{
    KRTheme* theme = KRTheme::sharedTheme();
    std::unique_ptr<Label> label(theme->navigationTitleLabelWithText(QStringLiteral("发现")));
    EXPECT_EQ(label->frame(), QRectF(0, 0, 170, 34));
    EXPECT_EQ(label->textColor(), QColor(Qt::white));
    EXPECT_EQ(label->shadowOffset(), QSizeF(0, -1));
    EXPECT_EQ(label->font().pixelSize(), 18);
    EXPECT_TRUE(label->font().bold());
    NavigationItem item;
    item.setTitleView(new View(QRectF(0, 0, 70, 32)));
    theme->applyNavigationTitle(QStringLiteral("首页"), &item);
    EXPECT_EQ(item.title(), QStringLiteral("首页"));
    EXPECT_EQ(item.titleView(), nullptr);  // the bar's own title shows from 7
    theme->applyNavigationTitle(QStringLiteral("x"), nullptr);
    theme->setStyle(0);
    std::unique_ptr<Label> white(theme->navigationTitleLabelWithText(QStringLiteral("发现")));
    EXPECT_EQ(white->shadowOffset(), QSizeF(0, 1));
    EXPECT_EQ(white->shadowColor(), QColor::fromRgbF(1, 1, 1, 0.95));
}

TEST_F(AppThemeChrome, FromFifteenOnlyStacksInAWindowAreRefreshed)
{
    useDevice(QStringLiteral("iPhone14,5"), QStringLiteral("16.7"));
    KRTheme* theme = KRTheme::sharedTheme();
    TabBarController tabs;  // in no window
    auto* nav = new NavigationController(new ViewController());
    tabs.setViewControllers({nav});
    tabs.view();
    theme->applyToTabBarController(&tabs);
    EXPECT_TRUE(nav->navigationBar()->backgroundImage().isNull());
    EXPECT_FALSE(theme->hasPendingRefresh(nav));
    EXPECT_EQ(nav->tabBarItem()->titleTextAttributes(ControlStateNormal).textColor, theme->secondaryTextColor());

    useDevice(QStringLiteral("iPhone10,1"), QStringLiteral("14.8"));
    theme->applyToTabBarController(&tabs);  // below 15 every stack is refreshed
    EXPECT_FALSE(nav->navigationBar()->backgroundImage().isNull());
    EXPECT_TRUE(theme->hasPendingRefresh(nav));
    EXPECT_EQ(nav->navigationBar()->barStyle(), int(BarStyleDefault));
    EXPECT_EQ(nav->navigationBar()->tintColor(), QColor(Qt::white));
    EXPECT_EQ(nav->navigationBar()->titleTextAttributes().shadowOffset, QSizeF(0, -1));
    EXPECT_FALSE(nav->navigationBar()->isTranslucent());
}

TEST_F(AppThemeChrome, LegacyLayoutCommitsOnlyBelowSeven)
{
    struct Counting : View {
        int layouts = 0;
        void layoutSubviews() override { ++layouts; }
    } v;
    KRThemeCommitLegacyNavigationLayout(&v);
    EXPECT_EQ(v.layouts, 0);
    useDevice(QStringLiteral("iPhone4,1"), QStringLiteral("5.1"));
    KRThemeCommitLegacyNavigationLayout(&v);
    EXPECT_EQ(v.layouts, 1);
    KRThemeCommitLegacyNavigationLayout(nullptr);
}
