// Signing out from the profile reaches a video page open in another tab: its account state goes
// and its login gates come back.
#include "../video/VideoPageTesting.h"

#include "library/KRProfileViewController.h"
#include "platform/uikit/AlertView.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/TabBarController.h"
#include "platform/uikit/TableView.h"
#include "shell/KRAppRoutes.h"
#include "support/AccountFixtures.h"
#include "support/InteractionFixtures.h"
#include "video/KRInteractionButton.h"

#include <QTest>

using namespace platform::uikit;
using testsupport::AccountFixtures;
using testsupport::InteractionFixtures;
using testsupport::ServiceFixtures;

namespace {

// The page as the application opens it, the profile in the fourth tab.
class ProfileLogoutGatesTest : public videotest::VideoPageTest {
protected:
    void SetUp() override
    {
        VideoPageTest::SetUp();
        KRInstallAppRoutes();
        AccountFixtures::routeRiskCookies(fake);
    }
    template <typename T = View>
    T* part(const char* name) const
    {
        return window->findChild<T*>(QString::fromLatin1(name));
    }
    static void click(View* view)
    {
        ASSERT_NE(view, nullptr);
        QTest::mouseClick(view, Qt::LeftButton, {}, view->rect().center());
        AnimationClock::finishAll();
    }

    InteractionFixtures interactions{fake};
};

} // namespace

TEST_F(ProfileLogoutGatesTest, AfterLogoutFromTheProfileThePagesLoginGatesReturn)
{
    AccountFixtures::logInWebOnly();
    interactions.setCoinsGiven(ServiceFixtures::kDetailAID, 1);
    auto* home = new NavigationController(new ViewController());
    auto* profile = new KRProfileViewController();
    auto* tabs = new TabBarController();
    tabs->setViewControllers({home, new NavigationController(new ViewController()), new NavigationController(new ViewController()),
                              new NavigationController(profile)});
    window->setRootViewController(tabs);
    window->makeKeyAndVisible();

    auto video = std::make_shared<KRVideo>();
    video->setAid(ServiceFixtures::kDetailAID);
    video->setBvid(ServiceFixtures::detailBVID());
    ASSERT_TRUE(KRRouter::openVideoPage(home, video));
    AnimationClock::finishAll();
    auto* page = qobject_cast<KRVideoDetailViewController*>(home->topViewController());
    ASSERT_NE(page, nullptr);
    page->view()->layoutIfNeeded();
    KR_WAIT_UNTIL(page->accountActions()->interactions().stateLoaded && part<Button>("playButton")->isEnabled());
    auto* coin = part<KRInteractionButton>("coinButton");
    EXPECT_EQ(coin->accessibilityValue(), QStringLiteral("已投 1 枚，还可投 1 枚"));

    // "我的" → "退出登录".
    tabs->setSelectedIndex(3);
    AnimationClock::finishAll();
    profile->tableView()->layoutIfNeeded();
    const std::optional<IndexPath> logout = profile->indexPathForRow(KRProfileViewController::Row::Logout);
    ASSERT_TRUE(logout.has_value());
    const QPointF row = profile->tableView()->rectForRowAtIndexPath(*logout).center() - profile->tableView()->contentOffset();
    QTest::mouseClick(profile->tableView(), Qt::LeftButton, {}, row.toPoint());
    AnimationClock::finishAll();
    ASSERT_FALSE(KRSessionStore::sharedStore().isLoggedIn());

    // Back on the page: nothing of the account is left, and a tap gates.
    tabs->setSelectedIndex(0);
    AnimationClock::finishAll();
    EXPECT_FALSE(page->accountActions()->interactions().stateLoaded);
    EXPECT_EQ(coin->accessibilityValue(), QStringLiteral("状态读取中"));
    const qsizetype likesBefore = fake.requestsTo(InteractionFixtures::kLikePath).size();
    click(part("likeButton"));
    AlertView* gate = window->visibleAlert();
    ASSERT_NE(gate, nullptr);
    EXPECT_EQ(gate->tag(), 7200);
    EXPECT_EQ(gate->message(), QStringLiteral("点赞需要登录后提交。当前未登录，不会伪造操作结果。"));
    EXPECT_EQ(fake.requestsTo(InteractionFixtures::kLikePath).size(), likesBefore);
}
