// Signing out from the profile reaches a video page open in another tab: its account state goes
// and its login gates come back.
#include "../uikit/KitTestSupport.h"
#include "account/AccountClientTesting.h"

#include "library/KRProfileViewController.h"
#include "model/KRVideo.h"
#include "nav/KRRouter.h"
#include "platform/foundation/MainClock.h"
#include "platform/media/MediaSeams.h"
#include "platform/uikit/AlertView.h"
#include "platform/uikit/AnimationClock.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/TabBarController.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/Window.h"
#include "shell/KRAppRoutes.h"
#include "store/KRLocalHistoryStore.h"
#include "store/KRPreferences.h"
#include "store/KRSessionStore.h"
#include "support/AccountFixtures.h"
#include "support/InteractionFixtures.h"
#include "support/ServiceFixtures.h"
#include "support/ServiceSignatures.h"
#include "support/TestSupport.h"
#include "video/KRInteractionButton.h"
#include "video/KRVideoDetailViewController.h"

#include <QTest>

using namespace platform::uikit;
using testsupport::AccountFixtures;
using testsupport::InteractionFixtures;
using testsupport::ServiceFixtures;

namespace {

class ProfileLogoutGatesTest : public accounttest::AccountClientTest {
protected:
    void SetUp() override
    {
        AccountClientTest::SetUp();
        KitTest::resetKit();
        platform::media::MediaSeams::setAudioOutput(QStringLiteral("null"));
        KRInstallAppRoutes();
        testsupport::routeNavigationFixture(fake);
        AccountFixtures::routeRiskCookies(fake);
        KRLocalHistoryStore::sharedStore().resetForTesting();
        KRPreferences::sharedPreferences().setDetailAutoPlayEnabled(false);
    }
    void TearDown() override
    {
        window.reset();
        flushDeferredDeletes();
        KitTest::settleKit();
        AccountClientTest::TearDown();
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

    std::unique_ptr<Window> window = std::make_unique<Window>();
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
    KR_WAIT_UNTIL(page->accountActions()->interactions().stateLoaded);
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
