#include "../uikit/KitTestSupport.h"

#include "look/KRTarnwick23Skin.h"
#include "look/KRTheme.h"
#include "platform/uikit/BarButtonItem.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/TabBarController.h"
#include "platform/uikit/Window.h"

#include <QPointer>

using namespace platform::uikit;

class AppSkin : public KitTest {};

TEST_F(AppSkin, ButtonBackgroundsAreCachedPerStyleAndState)
{
    KRTheme* theme = KRTheme::sharedTheme();  // style 2 on a fresh home
    const Image nilNormal = KRTarnwick23ButtonBackground(nullptr, false);
    EXPECT_EQ(nilNormal.size(), QSizeF(20, 32));
    EXPECT_EQ(nilNormal.leftCapWidth(), 9);
    EXPECT_EQ(nilNormal.topCapHeight(), 15);
    EXPECT_TRUE(nilNormal.isSameAs(KRTarnwick23ButtonBackground(theme, false)));
    EXPECT_TRUE(colorNear(nilNormal.image().pixelColor(10, 16), QColor(233, 120, 155), 4));
    EXPECT_FALSE(nilNormal.isSameAs(KRTarnwick23ButtonBackground(nullptr, true)));
    EXPECT_FALSE(nilNormal.isSameAs(KRTarnwick23PinkButtonBackground(false)));  // no inner highlight there
    EXPECT_TRUE(KRTarnwick23PinkButtonBackground(true).isSameAs(KRTarnwick23PinkButtonBackground(true)));
    theme->setStyle(0);
    const Image white = KRTarnwick23ButtonBackground(theme, false);
    EXPECT_FALSE(white.isSameAs(nilNormal));
    EXPECT_TRUE(colorNear(white.image().pixelColor(10, 16), QColor(229, 229, 229), 4));
    // The pale background's middle stop sits half way down.
    theme->setStyle(1);
    const Image pale = KRTarnwick23PaleButtonBackground(theme, false);
    EXPECT_TRUE(colorNear(pale.image().pixelColor(10, 16), QColor(56, 56, 56), 4));
    EXPECT_TRUE(KRTarnwick23PaleButtonBackground(nullptr, false).isSameAs(KRTarnwick23PaleButtonBackground(nullptr, false)));
    EXPECT_FALSE(KRTarnwick23PaleButtonBackground(nullptr, false).isSameAs(pale));
}

TEST_F(AppSkin, TitleColoursWithAndWithoutATheme)
{
    EXPECT_EQ(KRTarnwick23ButtonTitleColor(nullptr), QColor(Qt::white));
    EXPECT_EQ(KRTarnwick23ButtonTitleShadowOffset(nullptr), QSizeF(0, -1));
    EXPECT_EQ(KRTarnwick23ButtonTitleShadowColor(nullptr), QColor::fromRgbF(0, 0, 0, 0.45));
    EXPECT_EQ(KRTarnwick23PaleButtonTitleColor(nullptr), QColor::fromRgbF(0.16, 0.16, 0.16));
    EXPECT_EQ(KRTarnwick23PaleButtonTitleShadowOffset(nullptr), QSizeF(0, 1));
    KRTheme* theme = KRTheme::sharedTheme();
    EXPECT_EQ(KRTarnwick23PaleButtonTitleColor(theme), theme->primaryTextColor());
    theme->setStyle(0);
    EXPECT_EQ(KRTarnwick23ButtonTitleColor(theme), QColor::fromRgbF(0.16, 0.16, 0.16));
    EXPECT_EQ(KRTarnwick23ButtonTitleShadowOffset(theme), QSizeF(0, 1));
    theme->setStyle(1);
    EXPECT_EQ(KRTarnwick23PaleButtonTitleColor(theme), QColor::fromRgbF(0.94, 0.94, 0.94));
    EXPECT_EQ(KRTarnwick23PaleButtonTitleShadowColor(theme), QColor::fromRgbF(0, 0, 0, 0.68));
    EXPECT_EQ(KRTarnwick23PaleButtonTitleShadowOffset(theme), QSizeF(0, -1));
    EXPECT_EQ(KRTarnwick23LoadingBackgroundColor(), QColor(243, 243, 243));
}

TEST_F(AppSkin, LoadingViewUsesTheBundledFramesOrTheStillPicture)
{
    std::unique_ptr<ImageView> view(KRTarnwick23LoadingTVView(QRectF(0, 0, 320, 200)));
    EXPECT_EQ(view->animationImages().size(), 5);
    EXPECT_EQ(view->animationDuration(), 0.5);
    EXPECT_EQ(view->animationRepeatCount(), 0);
    EXPECT_FALSE(view->isAnimating());
    EXPECT_TRUE(view->image().isSameAs(view->animationImages().first()));
    EXPECT_EQ(view->contentMode(), int(ContentModeCenter));
    EXPECT_EQ(view->backgroundColor().color(), KRTarnwick23LoadingBackgroundColor());
    std::unique_ptr<ImageView> again(KRTarnwick23LoadingTVView(QRectF(0, 0, 320, 200)));
    EXPECT_TRUE(again->image().isSameAs(view->image())) << "bundle art is read once";

    Image::setBundleArtHiddenForTesting(true);
    std::unique_ptr<ImageView> bare(KRTarnwick23LoadingTVView(QRectF(0, 0, 320, 200)));
    EXPECT_TRUE(bare->animationImages().isEmpty());
    EXPECT_TRUE(bare->image().isNull());  // "tv69" is bundle art too
}

TEST_F(AppSkin, RefreshButtonFallsBackToTheSystemItem)
{
    int taps = 0;
    std::unique_ptr<BarButtonItem> item(KRTarnwick23RefreshButton([&] { ++taps; }));
    auto* button = qobject_cast<Button*>(item->customView());
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->frame(), QRectF(0, 0, 63, 32));
    EXPECT_FALSE(button->backgroundImage(ControlStateHighlighted).isSameAs(button->backgroundImage(ControlStateNormal)));
    button->tapForTesting();
    EXPECT_EQ(taps, 1);

    Image::setBundleArtHiddenForTesting(true);
    std::unique_ptr<BarButtonItem> system(KRTarnwick23RefreshButton([&] { ++taps; }));
    EXPECT_EQ(system->customView(), nullptr);
    EXPECT_EQ(system->systemItemKind(), int(BarButtonSystemItemRefresh));
    system->trigger();
    EXPECT_EQ(taps, 2);
}

TEST_F(AppSkin, NavigateToHomeFromAPushedScreenReachesTheFirstTab)
{
    Window w;
    auto* tabs = new TabBarController();
    auto* homeRoot = new ViewController();
    auto* homeNav = new NavigationController(homeRoot);
    auto* searchRoot = new ViewController();
    auto* searchNav = new NavigationController(searchRoot);
    tabs->setViewControllers({homeNav, searchNav});
    w.setRootViewController(tabs);
    w.makeKeyAndVisible();
    homeNav->pushViewController(new ViewController(), false);
    tabs->setSelectedIndex(1);
    QPointer<ViewController> pushed = new ViewController();
    searchNav->pushViewController(pushed, false);

    KRTarnwick23NavigateToHome(pushed);  // the screen that asks is popped (and goes) on the way
    EXPECT_EQ(tabs->selectedIndex(), 0);
    EXPECT_EQ(searchNav->viewControllers(), QList<ViewController*>{searchRoot});
    EXPECT_EQ(homeNav->viewControllers(), QList<ViewController*>{homeRoot});
    flushDeferredDeletes();
    EXPECT_TRUE(pushed.isNull());

    // Outside any tab bar controller only its own stack is popped.
    NavigationController lone(new ViewController());
    auto* top = new ViewController();
    lone.pushViewController(top, false);
    KRTarnwick23NavigateToHome(top);
    EXPECT_EQ(lone.viewControllers().size(), 1);
    KRTarnwick23NavigateToHome(nullptr);
}
