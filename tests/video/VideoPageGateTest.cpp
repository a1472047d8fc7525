// The video page's login gate and result toast: "前往“我的”" leaves for the profile tab with the
// page's stack back at its root, "知道了" leaves everything as it was.
#include "VideoPageTesting.h"

#include "platform/uikit/AlertView.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/TabBarController.h"

#include <QTest>

using namespace platform::uikit;
using namespace videotest;

namespace {

class VideoPageGateTest : public VideoPageTest {
protected:
    // The page two screens deep in the first of four tabs, as the app shows it.
    KRVideoDetailViewController* pushInTabs()
    {
        nav = new NavigationController(new ViewController());
        tabs = new TabBarController();
        tabs->setViewControllers({nav, new NavigationController(new ViewController()),
                                  new NavigationController(new ViewController()),
                                  new NavigationController(new ViewController())});
        window->setRootViewController(tabs);
        window->makeKeyAndVisible();
        nav->pushViewController(new ViewController(), false);
        return push();
    }
    Button* alertButton(const QString& title) const
    {
        const auto buttons = window->findChildren<Button*>();
        for (Button* button : buttons) {
            if (button->isVisible() && button->title(ControlStateNormal) == title)
                return button;
        }
        return nullptr;
    }
    TabBarController* tabs = nullptr;
};

TEST_F(VideoPageGateTest, GoingToTheProfileSelectsItsTabAndLeavesTheStackAtItsRoot)
{
    KRVideoDetailViewController* page = pushInTabs();
    ASSERT_EQ(nav->viewControllers().size(), 3);
    page->showLoginGateWithTitle(QStringLiteral("登录后可操作"), QStringLiteral("点赞需要登录后提交。"), 7200);
    AlertView* alert = window->visibleAlert();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->tag(), 7200);
    EXPECT_EQ(alert->title(), QStringLiteral("登录后可操作"));
    EXPECT_EQ(alert->buttonTitles(), (QStringList{QStringLiteral("知道了"), QStringLiteral("前往“我的”")}));
    clickThroughWindow(alertButton(QStringLiteral("前往“我的”")));
    EXPECT_EQ(tabs->selectedIndex(), 3);
    EXPECT_EQ(nav->viewControllers().size(), 1);
}

TEST_F(VideoPageGateTest, TheCancelButtonLeavesThePageWhereItIs)
{
    KRVideoDetailViewController* page = pushInTabs();
    page->showLoginGateWithTitle(QStringLiteral("登录后可操作"), QStringLiteral("收藏需要登录后提交。"), 7200);
    clickThroughWindow(alertButton(QStringLiteral("知道了")));
    EXPECT_EQ(window->visibleAlert(), nullptr);
    EXPECT_EQ(tabs->selectedIndex(), 0);
    EXPECT_EQ(nav->topViewController(), page);
}

TEST_F(VideoPageGateTest, WithoutFourTabsOnlyTheStackIsPopped)
{
    KRVideoDetailViewController* page = push();
    page->showLoginGateWithTitle(QStringLiteral("登录后可操作"), QString(), 7200);
    clickThroughWindow(alertButton(QStringLiteral("前往“我的”")));
    EXPECT_EQ(nav->viewControllers().size(), 1);
}

TEST_F(VideoPageGateTest, TheResultToastSaysWhetherAnEmptyResultWorked)
{
    KRVideoDetailViewController* page = push();
    page->showAccountResult(QString(), true);
    auto* status = part<Label>(page, "danmakuStatusLabel");
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->text(), QStringLiteral("操作成功"));
    page->showAccountResult(QString(), false);
    EXPECT_EQ(status->text(), QStringLiteral("操作失败，请稍后重试"));
    page->showAccountResult(QStringLiteral("已点赞"), true);
    EXPECT_EQ(status->text(), QStringLiteral("已点赞"));
    EXPECT_FALSE(status->isHidden());
}

} // namespace
