#include "../uikit/KitTestSupport.h"
#include "shell/KRScreenRoutes.h"
#include "support/AnswerGate.h"
#include "account/AccountClientTesting.h"

#include "shared/KRLoadMoreView.h"
#include "shared/KRPullRefreshView.h"
#include "browse/KRUploaderViewController.h"
#include "browse/KRVideoCell.h"
#include "model/KRVideo.h"
#include "platform/uikit/AlertView.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/Window.h"
#include "service/KRRequestPipeline.h"
#include "support/ServiceSignatures.h"
#include "video/KRVideoDetailViewController.h"

#include <QImage>
#include <QTest>

using namespace platform::uikit;
using namespace accounttest;
using testsupport::ServiceFixtures;

namespace {

const QString kRelation = QStringLiteral("/x/relation");
const QString kFollowerStat = QStringLiteral("/x/relation/stat");
const QString kModify = QStringLiteral("/x/relation/modify");
const QString kAppCursor = QStringLiteral("/x/v2/space/archive/cursor");
const QString kWebSearch = QStringLiteral("/x/space/wbi/arc/search");

class UploaderPageTest : public AccountClientTest {
protected:
    void SetUp() override
    {
        AccountClientTest::SetUp();
        // Screens open one another through the router, as the running application's do.
        KRRouter::install(KRScreenRoutes());
        KitTest::resetKit();
        testsupport::routeNavigationFixture(fake);
        AccountFixtures::routeRiskCookies(fake);
        serveAPI(kFollowerStat, [](const FakeRequest&) { return AccountFixtures::ok(QVariantMap{{QStringLiteral("follower"), 12345}}); });
        serveAPI(kRelation, [this](const FakeRequest&) {
            return AccountFixtures::ok(QVariantMap{{QStringLiteral("relation"), QVariantMap{{QStringLiteral("attribute"), attribute.load()}}}});
        });
        serveAPI(kModify, AccountFixtures::csrfChecked([](const FakeRequest&) { return AccountFixtures::ok(); }));
        nav = new NavigationController(new ViewController());
        window->setRootViewController(nav);
        window->makeKeyAndVisible();
    }
    void TearDown() override
    {
        window.reset();
        flushDeferredDeletes();
        KitTest::settleKit();
        AccountClientTest::TearDown();
    }
    KRUploaderViewController* push(qint64 mid = ServiceFixtures::kUploaderMID, const QString& name = ServiceFixtures::uploaderName())
    {
        auto* screen = new KRUploaderViewController(mid, name, QString());
        nav->pushViewController(screen, false);
        AnimationClock::finishAll();
        screen->view()->layoutIfNeeded();
        return screen;
    }
    AlertView* alert() const { return window->visibleAlert(); }
    int requestsTo(const QString& path) const { return int(fake.requestsTo(path).size()); }
    void failPages()
    {
        fake.route(KRServiceHosts::appHost(), kAppCursor, [](const FakeRequest&) { return ServiceFixtures::serverFailure(); });
        serveAPI(kWebSearch, [](const FakeRequest&) { return ServiceFixtures::serverFailure(); });
    }

    std::atomic<qint64> attribute{2};
    std::unique_ptr<Window> window = std::make_unique<Window>();
    NavigationController* nav = nullptr;
};

} // namespace

TEST_F(UploaderPageTest, CompactCounts)
{
    EXPECT_EQ(KRUploaderCompactCount(0), QStringLiteral("0"));
    EXPECT_EQ(KRUploaderCompactCount(9999), QStringLiteral("9999"));
    EXPECT_EQ(KRUploaderCompactCount(10000), QStringLiteral("1.0万"));
    EXPECT_EQ(KRUploaderCompactCount(12345), QStringLiteral("1.2万"));
    EXPECT_EQ(KRUploaderCompactCount(12500), QStringLiteral("1.2万"));
    EXPECT_EQ(KRUploaderCompactCount(100000000), QStringLiteral("1.0亿"));
    EXPECT_EQ(KRUploaderCompactCount(123456789), QStringLiteral("1.2亿"));
}

TEST_F(UploaderPageTest, HeaderPagesAndTheVideoPage)
{
    KRUploaderViewController* screen = push();
    EXPECT_EQ(screen->title(), QStringLiteral("UP 投稿"));
    EXPECT_TRUE(screen->hidesBottomBarWhenPushed());
    EXPECT_EQ(screen->nameLabel()->text(), ServiceFixtures::uploaderName());
    EXPECT_EQ(screen->uidLabel()->text(), QStringLiteral("UID %1").arg(ServiceFixtures::kUploaderMID));
    EXPECT_EQ(screen->stateLabel()->text(), QStringLiteral("投稿与粉丝 读取中"));
    EXPECT_EQ(screen->followButton()->frame(), QRectF(291, 13, 72, 34));
    EXPECT_EQ(screen->tableView()->contentInset().bottom, 8);

    KR_WAIT_UNTIL(screen->videos().size() == 20 && screen->stateLabel()->text().contains(QStringLiteral("粉丝")));
    EXPECT_EQ(screen->stateLabel()->text(), QStringLiteral("投稿 45  ·  粉丝 1.2万"));
    EXPECT_EQ(screen->loadMoreView()->state(), KRLoadMoreStateIdle);
    // Logged out, the relation is never asked for.
    EXPECT_EQ(requestsTo(kRelation), 0);

    screen->loadMoreView()->button()->tapForTesting();
    KR_WAIT_UNTIL(screen->videos().size() == 40);
    screen->loadMoreTapped();
    KR_WAIT_UNTIL(!screen->isLoading() && screen->videos().size() == 45);
    EXPECT_EQ(screen->loadMoreView()->state(), KRLoadMoreStateNoMore);
    EXPECT_EQ(screen->videos().first()->aid(), ServiceFixtures::kUploaderFirstAID + ServiceFixtures::kUploaderVideoCount);

    screen->tableView()->layoutIfNeeded();
    auto* cell = qobject_cast<KRVideoCell*>(screen->tableView()->cellForRowAtIndexPath(IndexPath{0, 0}));
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->titleLabel()->text(), screen->videos().first()->title());
    screen->tableView()->tapRowForTesting(IndexPath{0, 0});
    AnimationClock::finishAll();
    auto* page = qobject_cast<KRVideoDetailViewController*>(nav->topViewController());
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->video(), screen->videos().first());
}

TEST_F(UploaderPageTest, UnknownUploaderAsksForNoStatisticsOrRelation)
{
    AccountFixtures::logInWebOnly();
    KRUploaderViewController* screen = push(0, QString());
    EXPECT_EQ(screen->nameLabel()->text(), QStringLiteral("未知 UP 主"));
    EXPECT_EQ(screen->uidLabel()->text(), QStringLiteral("UID 待解析"));
    KR_WAIT_UNTIL(!screen->isLoading());
    drain();
    EXPECT_EQ(requestsTo(kFollowerStat), 0);
    EXPECT_EQ(requestsTo(kRelation), 0);
    EXPECT_EQ(screen->stateLabel()->text(), QStringLiteral("暂无可用统计"));
    screen->followButton()->tapForTesting();
    EXPECT_EQ(requestsTo(kModify), 0);
}

TEST_F(UploaderPageTest, AFailedFirstPageIsRetriedFromTheFooter)
{
    // The follower count fails only after the pages have: its answer must not turn the
    // header back to "loading".
    auto followerGate = std::make_shared<AnswerGate>();
    serveAPI(kFollowerStat, [followerGate](const FakeRequest&) {
        followerGate->wait();
        return ServiceFixtures::serverFailure();
    });
    failPages();
    KRUploaderViewController* screen = push();
    KR_WAIT_UNTIL(screen->loadMoreView()->state() == KRLoadMoreStateFailed);
    followerGate->release();
    KRRequestPipeline::waitForOneOffs();
    drain();
    EXPECT_EQ(screen->stateLabel()->text(), QStringLiteral("投稿读取失败，可下拉重试"));
    EXPECT_FALSE(screen->hasMore());
    EXPECT_TRUE(screen->loadMoreView()->button()->isEnabled());

    ServiceFixtures::installReadRoutes(fake);
    fake.clearRequests();
    screen->loadMoreView()->button()->tapForTesting();
    KR_WAIT_UNTIL(screen->videos().size() == 20);
    // The retry asked for page 1 again, not a page after it.
    ASSERT_FALSE(fake.requestsTo(kAppCursor).isEmpty());
    EXPECT_TRUE(fake.requestsTo(kAppCursor).first().queryValue(QStringLiteral("aid")).isNull() ||
                fake.requestsTo(kAppCursor).first().queryValue(QStringLiteral("aid")) == QStringLiteral("0"));
    EXPECT_EQ(screen->page(), 1);
    EXPECT_EQ(screen->loadMoreView()->state(), KRLoadMoreStateIdle);
    EXPECT_EQ(screen->stateLabel()->text(), QStringLiteral("投稿 45"));

    // A later page that fails keeps what shows, and the footer retries that page.
    failPages();
    screen->loadMoreTapped();
    KR_WAIT_UNTIL(screen->loadMoreView()->state() == KRLoadMoreStateFailed);
    EXPECT_EQ(screen->videos().size(), 20);
    EXPECT_EQ(screen->stateLabel()->text(), QStringLiteral("投稿 45"));
    ServiceFixtures::installReadRoutes(fake);
    screen->loadMoreView()->button()->tapForTesting();
    KR_WAIT_UNTIL(screen->videos().size() == 40);
}

TEST_F(UploaderPageTest, FollowGateFollowStateAndUnfollow)
{
    KRUploaderViewController* screen = push();
    EXPECT_EQ(screen->followButton()->currentTitle(), QStringLiteral("＋关注"));
    screen->followButton()->tapForTesting();
    ASSERT_NE(alert(), nullptr);
    EXPECT_EQ(alert()->title(), QStringLiteral("登录后关注"));
    EXPECT_EQ(alert()->buttonTitles(), QStringList{QStringLiteral("知道了")});
    alert()->tapButtonForTesting(0);
    EXPECT_EQ(requestsTo(kModify), 0);

    // Logging in loads the relation; 2 means following.
    AccountFixtures::logInWebOnly();
    KR_WAIT_UNTIL(screen->followButton()->currentTitle() == QStringLiteral("已关注"));
    EXPECT_EQ(fake.requestsTo(kRelation).last().queryValue(QStringLiteral("fid")), QString::number(ServiceFixtures::kUploaderMID));

    screen->followButton()->tapForTesting();
    KR_WAIT_UNTIL(alert() != nullptr);
    EXPECT_EQ(alert()->title(), QStringLiteral("操作成功"));
    EXPECT_EQ(alert()->buttonTitles(), QStringList{QStringLiteral("好")});
    EXPECT_EQ(AccountFixtures::formValue(fake.requestsTo(kModify).last(), QStringLiteral("act")), QStringLiteral("2"));
    EXPECT_EQ(screen->followButton()->currentTitle(), QStringLiteral("＋关注"));
    alert()->tapButtonForTesting(0);

    // A refused change leaves the state and says so.
    serveAPI(kModify, [](const FakeRequest&) { return AccountFixtures::refusal(22014, QStringLiteral("已经关注用户，无法重复关注")); });
    screen->followButton()->tapForTesting();
    KR_WAIT_UNTIL(alert() != nullptr);
    EXPECT_EQ(alert()->title(), QStringLiteral("操作失败"));
    EXPECT_EQ(screen->followButton()->currentTitle(), QStringLiteral("＋关注"));
    alert()->tapButtonForTesting(0);

    // Mutual following (6) also reads as following; logging out turns it back at once.
    attribute = 6;
    nav->pushViewController(new ViewController(), false);
    nav->popViewControllerAnimated(false);
    AnimationClock::finishAll();
    KR_WAIT_UNTIL(screen->isFollowing());
    KRSessionStore::sharedStore().clearSession();
    EXPECT_EQ(screen->followButton()->currentTitle(), QStringLiteral("＋关注"));

    // Another account logging in over this one does not inherit its follow state.
    AccountFixtures::logInWebOnly();
    KR_WAIT_UNTIL(screen->isFollowing());
    attribute = 0;
    AccountFixtures::logInWebOnly(777);
    EXPECT_FALSE(screen->isFollowing());
    KR_WAIT_UNTIL(!screen->isFollowLoading());
    EXPECT_EQ(screen->followButton()->currentTitle(), QStringLiteral("＋关注"));
}

TEST_F(UploaderPageTest, RepliesForAnAccountNoLongerLoggedInAreDropped)
{
    auto gate = std::make_shared<AnswerGate>();
    serveAPI(kRelation, [gate](const FakeRequest& request) {
        // Only the first account's relation waits.
        if (request.header(QStringLiteral("Cookie")).contains(QStringLiteral("DedeUserID=4242")))
            gate->wait();
        return AccountFixtures::ok(QVariantMap{{QStringLiteral("attribute"), request.header(QStringLiteral("Cookie")).contains(
                                                                                  QStringLiteral("DedeUserID=4242")) ? 2 : 0}});
    });
    AccountFixtures::logInWebOnly();
    KRUploaderViewController* screen = push();
    KR_WAIT_UNTIL(requestsTo(kRelation) == 1);

    // Logged out, then another account logs in, while the first account's answer is on its way.
    KRSessionStore::sharedStore().clearSession();
    AccountFixtures::logInWebOnly(777);
    gate->release();
    KR_WAIT_UNTIL(requestsTo(kRelation) == 2 && !screen->isFollowLoading());
    EXPECT_FALSE(screen->isFollowing());
    EXPECT_EQ(screen->followButton()->currentTitle(), QStringLiteral("＋关注"));

    // A follow change that completes after logout does not show the old account as following.
    auto modifyGate = std::make_shared<AnswerGate>();
    serveAPI(kModify, AccountFixtures::csrfChecked([modifyGate](const FakeRequest&) {
        modifyGate->wait();
        return AccountFixtures::ok();
    }));
    KR_WAIT_UNTIL(!screen->isFollowLoading());
    screen->followButton()->tapForTesting();
    KR_WAIT_UNTIL(requestsTo(kModify) == 1);
    KRSessionStore::sharedStore().clearSession();
    modifyGate->release();
    KR_WAIT_UNTIL(!screen->isFollowLoading());
    drain();
    EXPECT_EQ(alert(), nullptr);
    EXPECT_FALSE(screen->isFollowing());
    EXPECT_EQ(screen->followButton()->currentTitle(), QStringLiteral("＋关注"));
}

TEST_F(UploaderPageTest, PullRefreshResetsTheLineAndKeepsTheBottomInset)
{
    KRUploaderViewController* screen = push();
    KR_WAIT_UNTIL(screen->videos().size() == 20 && screen->stateLabel()->text() == QStringLiteral("投稿 45  ·  粉丝 1.2万"));
    auto gate = std::make_shared<AnswerGate>();
    serveAPI(kFollowerStat, [gate](const FakeRequest&) {
        gate->wait();
        return AccountFixtures::ok(QVariantMap{{QStringLiteral("follower"), 100000000}});
    });
    TableView* table = screen->tableView();
    table->beginDragForTesting();
    table->dragToOffsetForTesting(QPointF(0, -70));
    EXPECT_EQ(screen->pullRefreshView()->state(), KRPullRefreshStateArmed);
    table->endDragForTesting(QPointF());
    EXPECT_EQ(screen->stateLabel()->text(), QStringLiteral("投稿与粉丝 读取中"));
    EXPECT_EQ(screen->pullRefreshView()->state(), KRPullRefreshStateRefreshing);
    EXPECT_EQ(table->contentInset(), (EdgeInsets{64, 0, 8, 0}));
    KR_WAIT_UNTIL(!screen->isLoading());
    AnimationClock::finishAll();
    EXPECT_EQ(table->contentInset(), (EdgeInsets{0, 0, 8, 0}));
    EXPECT_EQ(screen->stateLabel()->text(), QStringLiteral("投稿 45"));
    gate->release();
    KR_WAIT_UNTIL(screen->stateLabel()->text() == QStringLiteral("投稿 45  ·  粉丝 1.0亿"));
    EXPECT_EQ(screen->videos().size(), 20);
}

// Dragged at the end of the list, the scroll indicator stops where the rows do: above the
// 8-point bottom inset, not at the list's bottom edge.
TEST_F(UploaderPageTest, TheScrollIndicatorEndsAboveTheBottomInset)
{
    KRUploaderViewController* screen = push();
    KR_WAIT_UNTIL(screen->videos().size() == 20 && !screen->isLoading());
    TableView* table = screen->tableView();
    table->layoutIfNeeded();
    QWindow* handle = window->windowHandle();
    ASSERT_NE(handle, nullptr);
    // Up with the pointer until the list rests past its end.
    const QPoint from = table->mapTo(window.get(), QPoint(160, int(table->height()) - 20));
    QTest::mousePress(handle, Qt::LeftButton, {}, from);
    int step = 0;
    for (; step < 200 && table->contentOffset().y() < table->contentSize().height() + 8 - table->height() + 20; ++step)
        QTest::mouseMove(handle, from - QPoint(0, (step + 1) * 30));
    ASSERT_LT(step, 200);

    // The indicator: darker at 4 points from the right edge than at 9, on the same line.
    const QImage shot = table->grab().toImage();
    const int w = shot.width(), h = shot.height();
    int lowest = -1;
    for (int y = 0; y < h; ++y)
        if (qGray(shot.pixel(w - 4, y)) + 20 < qGray(shot.pixel(w - 9, y)))
            lowest = y;
    QTest::mouseRelease(handle, Qt::LeftButton, {}, from - QPoint(0, step * 30));
    AnimationClock::finishAll();
    ASSERT_GE(lowest, 0) << "no indicator drawn";
    EXPECT_NEAR(lowest, h - 1 - 8, 1);
}

TEST_F(UploaderPageTest, APageThatAddsNothingWithoutATotalEndsPaging)
{
    // The same three archives on every page, no count, and always "more".
    fake.route(KRServiceHosts::appHost(), kAppCursor, AccountFixtures::appSigned([](const FakeRequest&) {
        QVariantList items;
        for (qint64 aid = 610001; aid <= 610003; ++aid)
            items << QVariantMap{{QStringLiteral("title"), QStringLiteral("第%1期").arg(aid)}, {QStringLiteral("param"), QString::number(aid)},
                                 {QStringLiteral("goto"), QStringLiteral("av")}, {QStringLiteral("bvid"), ServiceFixtures::bvidForAID(aid)},
                                 {QStringLiteral("author"), ServiceFixtures::uploaderName()}};
        return AccountFixtures::ok(QVariantMap{{QStringLiteral("has_next"), true}, {QStringLiteral("item"), items}});
    }));
    KRUploaderViewController* screen = push();
    KR_WAIT_UNTIL(screen->videos().size() == 3 && !screen->isLoading());
    EXPECT_TRUE(screen->hasMore());
    // Without a total only the followers are known.
    KR_WAIT_UNTIL(screen->stateLabel()->text() == QStringLiteral("粉丝 1.2万"));
    screen->loadMoreTapped();
    KR_WAIT_UNTIL(!screen->isLoading() && screen->loadMoreView()->state() != KRLoadMoreStateLoading);
    EXPECT_EQ(screen->videos().size(), 3);
    EXPECT_FALSE(screen->hasMore());
    EXPECT_EQ(screen->loadMoreView()->state(), KRLoadMoreStateNoMore);

    // A pull that fails on the ended list: the footer's retry repeats that reload, keeping the rows.
    failPages();
    screen->tableView()->beginDragForTesting();
    screen->tableView()->dragToOffsetForTesting(QPointF(0, -70));
    screen->tableView()->endDragForTesting(QPointF());
    KR_WAIT_UNTIL(!screen->isLoading() && screen->loadMoreView()->state() == KRLoadMoreStateFailed);
    EXPECT_EQ(screen->videos().size(), 3);
    fake.route(KRServiceHosts::appHost(), kAppCursor, AccountFixtures::appSigned([](const FakeRequest&) {
        const QVariantMap item{{QStringLiteral("title"), QStringLiteral("新一期")}, {QStringLiteral("param"), QStringLiteral("620001")},
                               {QStringLiteral("goto"), QStringLiteral("av")}, {QStringLiteral("bvid"), ServiceFixtures::bvidForAID(620001)},
                               {QStringLiteral("author"), ServiceFixtures::uploaderName()}};
        return AccountFixtures::ok(QVariantMap{{QStringLiteral("has_next"), false}, {QStringLiteral("item"), QVariantList{item}}});
    }));
    fake.clearRequests();
    screen->loadMoreView()->button()->tapForTesting();
    KR_WAIT_UNTIL(!screen->isLoading() && screen->loadMoreView()->state() != KRLoadMoreStateLoading && requestsTo(kAppCursor) == 1);
    ASSERT_EQ(screen->videos().size(), 1) << "the retried reload replaces the rows";
    EXPECT_EQ(screen->videos().first()->aid(), 620001);
    EXPECT_EQ(screen->page(), 1);
}
