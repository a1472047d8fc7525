#include "SocialTesting.h"

#include "model/KRDynamic.h"
#include "model/KRServiceHosts.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/uikit/ActionSheet.h"
#include "platform/uikit/ActivityIndicatorView.h"
#include "platform/uikit/AlertView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/Pasteboard.h"
#include "platform/uikit/SegmentedControl.h"
#include "platform/uikit/TextField.h"
#include "shared/KRDynamicComposerView.h"
#include "shared/KRPullRefreshView.h"
#include "nav/KRRouter.h"
#include "browse/KRUploaderViewController.h"
#include "social/KRDynamicNotifications.h"
#include "social/KRFollowingViewController.h"
#include "store/KRSessionStore.h"
#include "support/AnswerGate.h"
#include "support/DynamicFixtures.h"
#include "video/KRVideoDetailViewController.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QScopeGuard>

namespace socialtest {
namespace {

using namespace testsupport::DynamicFixtures;

constexpr qint64 kUserID = 4242;

// Lets anything still answering arrive, so a request that should not go out would be seen.
void drain()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

QStringList idsOf(const QList<std::shared_ptr<KRDynamic>>& dynamics)
{
    QStringList ids;
    for (const auto& dynamic : dynamics)
        ids << dynamic->dynamicID();
    return ids;
}

class FollowingFeedTest : public SocialTest {
protected:
    void SetUp() override
    {
        SocialTest::SetUp();
        installFeedRoute(fake, plan);
        installActionRoutes(fake, actions);
        // The dynamic detail is another screen's: a stand-in page records what was opened.
        KRRoutes routes = KRRouter::routes();
        routes.dynamicDetail = [this](const QString& dynamicID, const KRCommentFocus&) -> KRRoutes::Screen {
            openedDynamics << dynamicID;
            auto* page = new ViewController();
            page->setTitle(dynamicID);
            return page;
        };
        KRRouter::install(routes);
    }

    KRFollowingViewController* showFeed(const QString& type = QStringLiteral("all"))
    {
        return show(new KRFollowingViewController(type));
    }
    static void waitLoaded(KRFollowingViewController* feed) { KR_WAIT_UNTIL(!feed->isLoading()); }
    QList<FakeRequest> feedRequests() const { return fake.requestsTo(kFeedPath); }
    static KRDynamicCell* rowCell(KRFollowingViewController* feed, int row)
    {
        feed->tableView()->layoutIfNeeded();
        return static_cast<KRDynamicCell*>(feed->tableView()->cellForRowAtIndexPath(IndexPath{0, row}));
    }
    // Clicks a part of a visible row as a user would.
    static void click(View* control)
    {
        ASSERT_NE(control, nullptr);
        QTest::mouseClick(control, Qt::LeftButton, {}, control->rect().center());
    }
    AlertView* alert() const { return window->visibleAlert(); }
    void dismissAlert()
    {
        if (AlertView* shown = alert())
            shown->tapButtonForTesting(0);
        AnimationClock::finishAll();
    }
    // Opens the more sheet of a row and taps the button titled `title`.
    static void chooseMore(KRFollowingViewController* feed, int row, const QString& title)
    {
        click(rowCell(feed, row)->repostButton());
        ActionSheet* sheet = feed->moreSheet();
        ASSERT_NE(sheet, nullptr);
        int index = -1;
        for (int i = 0; i < sheet->numberOfButtons(); ++i)
            index = sheet->buttonTitleAtIndex(i) == title ? i : index;
        ASSERT_GE(index, 0) << title.toStdString();
        sheet->tapButtonForTesting(index);
        platform::MainClock::advanceForTesting(ActionSheet::kSlideDuration + 0.01);
        AnimationClock::finishAll();
    }
    // Signs in, shows a feed of one text dynamic and opens the composer of its repost.
    KRFollowingViewController* showRepostComposer(const QString& id, const QString& text)
    {
        testsupport::AccountFixtures::logInWebOnly(kUserID);
        plan->set(QStringLiteral("all"), {}, FeedPage{.items = {textItem(id, text)}});
        KRFollowingViewController* feed = showFeed();
        waitLoaded(feed);
        chooseMore(feed, 0, QStringLiteral("转发动态"));
        return feed;
    }
    static QStringList sheetTitles(ActionSheet* sheet)
    {
        QStringList titles;
        for (int i = 0; i < sheet->numberOfButtons(); ++i)
            titles << sheet->buttonTitleAtIndex(i);
        return titles;
    }

    void setUploadFails(bool fails)
    {
        std::lock_guard guard(actions->lock);
        actions->uploadFails = fails;
    }

    std::shared_ptr<FeedPlan> plan = std::make_shared<FeedPlan>();
    std::shared_ptr<ActionPlan> actions = std::make_shared<ActionPlan>();
    QStringList openedDynamics;
};

TEST_F(FollowingFeedTest, LoggedOutAsksNothingEvenAfterASwitchOrAPull)
{
    plan->set(QStringLiteral("all"), {}, FeedPage{.items = {textItem(QStringLiteral("1"), QStringLiteral("一"))}});
    KRFollowingViewController* feed = showFeed();
    EXPECT_EQ(feed->title(), QStringLiteral("关注"));
    EXPECT_EQ(feed->segment()->titleForSegmentAtIndex(0), QStringLiteral("动态"));
    EXPECT_EQ(feed->segment()->titleForSegmentAtIndex(1), QStringLiteral("视频"));
    EXPECT_EQ(feed->tableView()->backgroundView(), feed->stateLabel());
    EXPECT_EQ(feed->stateLabel()->text(), QStringLiteral("登录后可查看关注动态"));

    feed->segment()->tapSegmentForTesting(1);
    EXPECT_EQ(feed->feedType(), QStringLiteral("video"));
    EXPECT_EQ(feed->stateLabel()->text(), QStringLiteral("登录后可查看关注动态"));

    // A pull past the header's threshold ends at once: nothing would answer it.
    TableView* table = feed->tableView();
    table->beginDragForTesting();
    table->dragToOffsetForTesting(QPointF(0, -120));
    table->endDragForTesting(QPointF());
    AnimationClock::finishAll();
    EXPECT_NE(feed->pullRefreshView()->state(), KRPullRefreshStateRefreshing);
    EXPECT_EQ(table->contentInset().top, 0);
    drain();
    EXPECT_TRUE(feedRequests().isEmpty());
}

TEST_F(FollowingFeedTest, SigningOutEmptiesTheFeedAtOnceAndAnotherAccountGetsItsOwnFirstPage)
{
    testsupport::AccountFixtures::logInWebOnly(kUserID);
    plan->set(QStringLiteral("all"), {},
              FeedPage{.items = {textItem(QStringLiteral("1"), QStringLiteral("一")), textItem(QStringLiteral("2"), QStringLiteral("二"))},
                       .offset = QStringLiteral("first-next"),
                       .hasMore = true});
    KRFollowingViewController* feed = showFeed();
    waitLoaded(feed);
    TableView* table = feed->tableView();
    table->layoutIfNeeded();
    ASSERT_EQ(table->visibleCells().size(), 2);

    // A session change that keeps the account (its profile read again) keeps the feed.
    KRSessionStore::sharedStore().updateAccountProfile(QVariantMap{{QStringLiteral("uname"), QStringLiteral("甲")}});
    drain();
    EXPECT_EQ(feedRequests().size(), 1);
    EXPECT_EQ(idsOf(feed->dynamics()), (QStringList{"1", "2"}));

    // The account signs out on another tab while the feed stays open.
    KRSessionStore::sharedStore().clearSession();
    EXPECT_TRUE(feed->dynamics().isEmpty());
    table->layoutIfNeeded();
    EXPECT_TRUE(table->visibleCells().isEmpty());
    EXPECT_EQ(table->backgroundView(), feed->stateLabel());
    EXPECT_EQ(feed->stateLabel()->text(), QStringLiteral("登录后可查看关注动态"));
    drain();
    EXPECT_EQ(feedRequests().size(), 1);

    // Another account signs in: its own feed, from the first page.
    plan->set(QStringLiteral("all"), {}, FeedPage{.items = {textItem(QStringLiteral("51"), QStringLiteral("乙的关注"))}});
    testsupport::AccountFixtures::logInWebOnly(5151);
    KR_WAIT_UNTIL(feedRequests().size() == 2);
    waitLoaded(feed);
    EXPECT_TRUE(feedRequests().at(1).queryValue(QStringLiteral("offset")).isNull());
    EXPECT_TRUE(feedRequests().at(1).header(QStringLiteral("Cookie")).contains(QStringLiteral("5151")));
    EXPECT_EQ(idsOf(feed->dynamics()), QStringList{"51"});
    EXPECT_EQ(table->backgroundView(), nullptr);
    table->layoutIfNeeded();
    EXPECT_EQ(table->visibleCells().size(), 1);
}

// Another account's login confirmed over the last one, with no sign-out between: the feed is
// that account's from its first page, and nothing the last one had on its way or was writing
// stays for it.
TEST_F(FollowingFeedTest, AnotherAccountSigningInOverTheLastGetsItsOwnFeedAndNothingOfTheLast)
{
    testsupport::AccountFixtures::logInWebOnly(kUserID);
    QVariantList first;
    for (int i = 1; i <= 6; ++i)
        first << textItem(QString::number(i), QStringLiteral("甲关注的第%1条").arg(i), i == 1 ? kUserID : 0);
    plan->set(QStringLiteral("all"), {}, FeedPage{.items = first, .offset = QStringLiteral("a-next"), .hasMore = true});
    // The first account's next page comes late.
    plan->set(QStringLiteral("all"), QStringLiteral("a-next"),
              FeedPage{.items = {textItem(QStringLiteral("7"), QStringLiteral("甲关注的第7条"))}, .delayMs = 400});
    KRFollowingViewController* feed = showFeed();
    waitLoaded(feed);
    ASSERT_EQ(idsOf(feed->dynamics()), (QStringList{"1", "2", "3", "4", "5", "6"}));

    // It writes a repost of a row, and its next page is on its way.
    chooseMore(feed, 1, QStringLiteral("转发动态"));
    KRDynamicComposerView* composer = feed->composer();
    ASSERT_NE(composer->superview(), nullptr);
    QLineEdit* edit = composer->textField()->findChild<QLineEdit*>();
    ASSERT_NE(edit, nullptr);
    QTest::keyClicks(edit, QStringLiteral("draft"));
    ASSERT_TRUE(composer->textField()->text().endsWith(QStringLiteral("draft")));
    TableView* table = feed->tableView();
    table->setContentOffset(QPointF(0, table->contentSize().height() - table->bounds().height()));
    KR_WAIT_UNTIL(feedRequests().size() == 2);
    ASSERT_TRUE(feed->isLoading());

    // The second account's login is confirmed.
    plan->set(QStringLiteral("all"), {}, FeedPage{.items = {textItem(QStringLiteral("51"), QStringLiteral("乙的关注"))}});
    testsupport::AccountFixtures::logInAnotherAccount(5151);
    EXPECT_TRUE(feed->dynamics().isEmpty()) << "the last account's rows go at once";
    EXPECT_EQ(composer->superview(), nullptr);
    EXPECT_EQ(feed->pendingDynamic(), nullptr);
    EXPECT_EQ(feed->pendingAction(), 0);
    KR_WAIT_UNTIL(feedRequests().size() == 3);
    EXPECT_TRUE(feedRequests().at(2).queryValue(QStringLiteral("offset")).isNull());
    EXPECT_TRUE(feedRequests().at(2).header(QStringLiteral("Cookie")).contains(QStringLiteral("DedeUserID=5151")));
    KR_WAIT_UNTIL(!feed->dynamics().isEmpty());
    // The last account's late page is dropped when it comes.
    KR_WAIT_UNTIL(feed->staleRepliesDropped() == 1);
    waitLoaded(feed);
    EXPECT_EQ(idsOf(feed->dynamics()), QStringList{"51"});
    EXPECT_EQ(table->backgroundView(), nullptr);
    table->layoutIfNeeded();
    EXPECT_EQ(table->visibleCells().size(), 1);
    EXPECT_FALSE(feed->hasMore());
}

// A more sheet the last account opened on its own dynamic is not left for the next.
TEST_F(FollowingFeedTest, AMoreSheetOpenedByTheLastAccountGoesWhenAnotherSignsIn)
{
    testsupport::AccountFixtures::logInWebOnly(kUserID);
    plan->set(QStringLiteral("all"), {}, FeedPage{.items = {textItem(QStringLiteral("1"), QStringLiteral("我的动态"), kUserID)}});
    KRFollowingViewController* feed = showFeed();
    waitLoaded(feed);
    clickThroughWindow(rowCell(feed, 0)->repostButton());
    ASSERT_NE(feed->moreSheet(), nullptr);
    ASSERT_TRUE(feed->pendingMoreActions().contains(QStringLiteral("delete")));

    plan->set(QStringLiteral("all"), {}, FeedPage{.items = {textItem(QStringLiteral("51"), QStringLiteral("乙的关注"))}});
    testsupport::AccountFixtures::logInAnotherAccount(5151);
    platform::MainClock::advanceForTesting(ActionSheet::kSlideDuration + 0.01);
    AnimationClock::finishAll();
    flushDeferredDeletes();
    EXPECT_EQ(feed->moreSheet(), nullptr);
    EXPECT_TRUE(feed->pendingMoreActions().isEmpty());
    KR_WAIT_UNTIL(feedRequests().size() == 2);
    waitLoaded(feed);
    EXPECT_EQ(idsOf(feed->dynamics()), QStringList{"51"});
    drain();
    EXPECT_TRUE(fake.requestsTo(kRemovePath).isEmpty());
}

// The last account's repost is still on its way when another account signs in: the next one
// reposts at once, and the last one's answer, when it comes, neither speaks to it nor touches
// what it is writing.
TEST_F(FollowingFeedTest, AnotherAccountRepostsWhileTheLastOnesRepostIsOnItsWay)
{
    auto held = std::make_shared<AnswerGate>();
    auto firstAsked = std::make_shared<std::atomic<bool>>(false);
    const auto openAtTheEnd = qScopeGuard([held] { held->release(); });
    fake.route(KRServiceHosts::apiHost(), kCreatePath, [held, firstAsked](const FakeRequest& request) {
        if (!request.header(QStringLiteral("Cookie")).contains(QStringLiteral("DedeUserID=5151"))) {
            firstAsked->store(true);
            held->wait();
        }
        return testsupport::AccountFixtures::ok(QVariantMap{{QStringLiteral("dyn_id_str"), QStringLiteral("990001")}});
    });
    testsupport::AccountFixtures::logInWebOnly(kUserID);
    plan->set(QStringLiteral("all"), {}, FeedPage{.items = {textItem(QStringLiteral("61"), QStringLiteral("甲关注的"))}});
    KRFollowingViewController* feed = showFeed();
    waitLoaded(feed);
    const std::shared_ptr<KRDynamic> firstAccountsRow = feed->dynamics().at(0);

    // The first account sends its repost; the answer is held.
    chooseMore(feed, 0, QStringLiteral("转发动态"));
    KRDynamicComposerView* composer = feed->composer();
    QLineEdit* edit = composer->textField()->findChild<QLineEdit*>();
    ASSERT_NE(edit, nullptr);
    QTest::keyClicks(edit, QStringLiteral("first"));
    QTest::keyClick(edit, Qt::Key_Return);
    KR_WAIT_UNTIL(firstAsked->load());
    ASSERT_FALSE(composer->textField()->isEnabled());

    // The second account's login is confirmed, and its feed comes.
    plan->set(QStringLiteral("all"), {}, FeedPage{.items = {textItem(QStringLiteral("51"), QStringLiteral("乙关注的"))}});
    testsupport::AccountFixtures::logInAnotherAccount(5151);
    KR_WAIT_UNTIL(feedRequests().size() == 2);
    waitLoaded(feed);
    ASSERT_EQ(idsOf(feed->dynamics()), QStringList{"51"});

    // It reposts a row of its own feed at once.
    chooseMore(feed, 0, QStringLiteral("转发动态"));
    ASSERT_NE(composer->superview(), nullptr);
    EXPECT_TRUE(composer->textField()->isEnabled());
    QTest::keyClicks(edit, QStringLiteral("second"));
    QTest::keyClick(edit, Qt::Key_Return);
    KR_WAIT_UNTIL(fake.requestsTo(kCreatePath).size() == 2);
    const FakeRequest second = fake.requestsTo(kCreatePath).at(1);
    EXPECT_TRUE(second.header(QStringLiteral("Cookie")).contains(QStringLiteral("DedeUserID=5151")));
    EXPECT_TRUE(second.body.contains("51"));
    EXPECT_TRUE(second.body.contains("second"));
    KR_WAIT_UNTIL(alert() != nullptr);
    EXPECT_EQ(alert()->title(), QStringLiteral("转发成功"));
    dismissAlert();
    EXPECT_EQ(feed->dynamics().at(0)->repostCount(), 1);
    EXPECT_EQ(feed->pendingDynamic(), nullptr);

    // It begins another repost; the first account's answer comes meanwhile.
    chooseMore(feed, 0, QStringLiteral("转发动态"));
    QTest::keyClicks(edit, QStringLiteral("third"));
    const std::shared_ptr<KRDynamic> secondAccountsRow = feed->dynamics().at(0);
    held->release();
    KR_WAIT_UNTIL(firstAccountsRow->repostCount() == 1);
    drain();
    EXPECT_EQ(alert(), nullptr);
    EXPECT_NE(composer->superview(), nullptr);
    EXPECT_TRUE(composer->textField()->isEnabled());
    EXPECT_TRUE(composer->textField()->text().endsWith(QStringLiteral("third")));
    EXPECT_EQ(feed->pendingDynamic(), secondAccountsRow);
    EXPECT_EQ(secondAccountsRow->repostCount(), 1);
    EXPECT_EQ(fake.requestsTo(kCreatePath).size(), 2);
}

TEST_F(FollowingFeedTest, PagesByOffsetAndKeepsRowsUnique)
{
    testsupport::AccountFixtures::logInWebOnly(kUserID);
    QVariantList first;
    for (int i = 1; i <= 6; ++i)
        first << withStats(pictureItem(QString::number(i), QStringLiteral("第%1条").arg(i), 3), 1, 0);
    plan->set(QStringLiteral("all"), {}, FeedPage{.items = first, .offset = QStringLiteral("off-6"), .hasMore = true});
    // Two rows already shown come again; a new id comes twice in one reply.
    plan->set(QStringLiteral("all"), QStringLiteral("off-6"),
              FeedPage{.items = {first[4], first[5], textItem(QStringLiteral("7"), QStringLiteral("七")),
                                 textItem(QStringLiteral("7"), QStringLiteral("七again"))},
                       .offset = QStringLiteral(""), .hasMore = true});
    KRFollowingViewController* feed = showFeed();
    waitLoaded(feed);
    EXPECT_EQ(idsOf(feed->dynamics()), (QStringList{"1", "2", "3", "4", "5", "6"}));
    EXPECT_EQ(feed->tableView()->backgroundView(), nullptr);
    EXPECT_EQ(feedRequests().at(0).queryValue(QStringLiteral("type")), QStringLiteral("all"));
    EXPECT_TRUE(feedRequests().at(0).queryValue(QStringLiteral("offset")).isNull());

    TableView* table = feed->tableView();
    // Short of 100 points from the end nothing is asked.
    table->setContentOffset(QPointF(0, table->contentSize().height() - table->bounds().height() - 120));
    drain();
    EXPECT_EQ(feedRequests().size(), 1);
    table->setContentOffset(QPointF(0, table->contentSize().height() - table->bounds().height() - 90));
    KR_WAIT_UNTIL(feedRequests().size() == 2);
    waitLoaded(feed);
    EXPECT_EQ(feedRequests().at(1).queryValue(QStringLiteral("offset")), QStringLiteral("off-6"));
    EXPECT_EQ(idsOf(feed->dynamics()), (QStringList{"1", "2", "3", "4", "5", "6", "7", "7"}));
    // "has_more" with an empty offset ends paging.
    EXPECT_FALSE(feed->hasMore());
    table->setContentOffset(QPointF(0, table->contentSize().height() - table->bounds().height()));
    drain();
    EXPECT_EQ(feedRequests().size(), 2);
}

TEST_F(FollowingFeedTest, AFailedFirstPageSaysSoAndAFailedLaterPageChangesNothing)
{
    testsupport::AccountFixtures::logInWebOnly(kUserID);
    plan->set(QStringLiteral("all"), {}, FeedPage{.fails = true});
    KRFollowingViewController* feed = showFeed();
    waitLoaded(feed);
    EXPECT_EQ(feed->tableView()->backgroundView(), feed->stateLabel());
    EXPECT_TRUE(feed->stateLabel()->text().startsWith(QStringLiteral("关注动态加载失败\n"))) << feed->stateLabel()->text().toStdString();
    EXPECT_GT(feed->stateLabel()->text().size(), QStringLiteral("关注动态加载失败\n").size());

    QVariantList items;
    for (int i = 1; i <= 5; ++i)
        items << pictureItem(QString::number(i), QStringLiteral("第%1条").arg(i), 6);
    plan->set(QStringLiteral("all"), {}, FeedPage{.items = items, .offset = QStringLiteral("o2"), .hasMore = true});
    plan->set(QStringLiteral("all"), QStringLiteral("o2"), FeedPage{.fails = true});
    feed->reloadFeed();
    waitLoaded(feed);
    ASSERT_EQ(feed->dynamics().size(), 5);
    TableView* table = feed->tableView();
    table->setContentOffset(QPointF(0, table->contentSize().height() - table->bounds().height()));
    KR_WAIT_UNTIL(feedRequests().size() == 3);
    waitLoaded(feed);
    EXPECT_EQ(feed->dynamics().size(), 5);
    EXPECT_EQ(feed->tableView()->backgroundView(), nullptr);
    EXPECT_EQ(feed->offset(), QStringLiteral("o2"));
    EXPECT_TRUE(feed->hasMore());
    // The next scroll to the end asks again.
    table->setContentOffset(QPointF(0, table->contentSize().height() - table->bounds().height() - 1));
    KR_WAIT_UNTIL(feedRequests().size() == 4);
    EXPECT_EQ(feedRequests().at(3).queryValue(QStringLiteral("offset")), QStringLiteral("o2"));
    waitLoaded(feed);
}

TEST_F(FollowingFeedTest, AnEmptyFeedSaysSo)
{
    testsupport::AccountFixtures::logInWebOnly(kUserID);
    plan->set(QStringLiteral("all"), {}, FeedPage{.items = {}, .offset = QStringLiteral("x"), .hasMore = true});
    KRFollowingViewController* feed = showFeed();
    waitLoaded(feed);
    EXPECT_EQ(feed->stateLabel()->text(), QStringLiteral("暂时没有新的关注动态"));
    EXPECT_EQ(feed->tableView()->backgroundView(), feed->stateLabel());
    EXPECT_FALSE(feed->hasMore());
}

TEST_F(FollowingFeedTest, ASwitchDuringADelayedPageDropsIt)
{
    testsupport::AccountFixtures::logInWebOnly(kUserID);
    plan->set(QStringLiteral("all"), {},
              FeedPage{.items = {textItem(QStringLiteral("a1"), QStringLiteral("全部"))}, .offset = QStringLiteral("a-next"),
                       .hasMore = true, .delayMs = 400});
    plan->set(QStringLiteral("video"), {},
              FeedPage{.items = {videoItem(QStringLiteral("v1"), 170001, QStringLiteral("视频"))}, .offset = QStringLiteral("v-next"),
                       .hasMore = true});
    KRFollowingViewController* feed = showFeed();
    KR_WAIT_UNTIL(feedRequests().size() == 1);
    EXPECT_TRUE(feed->isLoading());
    feed->segment()->tapSegmentForTesting(1);
    // The emptied list shows at once and the new feed is asked for at once.
    EXPECT_EQ(feed->tableView()->numberOfRowsInSection(0), 0);
    KR_WAIT_UNTIL(feedRequests().size() == 2);
    EXPECT_EQ(feedRequests().at(1).queryValue(QStringLiteral("type")), QStringLiteral("video"));
    KR_WAIT_UNTIL(feed->staleRepliesDropped() == 1 && !feed->isLoading());
    EXPECT_EQ(idsOf(feed->dynamics()), QStringList{"v1"});
    EXPECT_EQ(feed->offset(), QStringLiteral("v-next"));
}

TEST_F(FollowingFeedTest, LikingOnceForADoubleTapAndNeverBelowZero)
{
    testsupport::AccountFixtures::logInWebOnly(kUserID);
    plan->set(QStringLiteral("all"), {},
              FeedPage{.items = {withStats(textItem(QStringLiteral("1"), QStringLiteral("一")), 5, 0),
                                 withStats(textItem(QStringLiteral("2"), QStringLiteral("二")), 0, 0, true)}});
    KRFollowingViewController* feed = showFeed();
    waitLoaded(feed);
    click(rowCell(feed, 0)->likeButton());
    click(rowCell(feed, 0)->likeButton());
    KR_WAIT_UNTIL(rowCell(feed, 0)->likeButton()->title(ControlStateNormal) == QStringLiteral("已赞 6"));
    drain();
    EXPECT_EQ(fake.requestsTo(kThumbPath).size(), 1);
    EXPECT_EQ(feed->dynamics().at(0)->likeCount(), 6);

    // Unliking at 0 stays at 0.
    click(rowCell(feed, 1)->likeButton());
    KR_WAIT_UNTIL(rowCell(feed, 1)->likeButton()->title(ControlStateNormal) == QStringLiteral("赞 0"));
    EXPECT_FALSE(feed->dynamics().at(1)->liked());

    // A refusal changes nothing and says why.
    actions->refuse(kThumbPath, QStringLiteral("操作太频繁"));
    click(rowCell(feed, 0)->likeButton());
    KR_WAIT_UNTIL(alert() != nullptr);
    EXPECT_EQ(alert()->title(), QStringLiteral("操作失败"));
    EXPECT_TRUE(alert()->message().startsWith(QStringLiteral("操作太频繁"))) << alert()->message().toStdString();
    EXPECT_EQ(alert()->buttonTitles(), QStringList{QStringLiteral("知道了")});
    EXPECT_TRUE(feed->dynamics().at(0)->liked());
    EXPECT_EQ(feed->dynamics().at(0)->likeCount(), 6);
}

TEST_F(FollowingFeedTest, ACountNotificationUpdatesItsRow)
{
    testsupport::AccountFixtures::logInWebOnly(kUserID);
    plan->set(QStringLiteral("all"), {},
              FeedPage{.items = {withStats(textItem(QStringLiteral("31"), QStringLiteral("一")), 0, 2),
                                 withStats(textItem(QStringLiteral("32"), QStringLiteral("二")), 0, 1)}});
    KRFollowingViewController* feed = showFeed();
    waitLoaded(feed);
    platform::NotificationCenter& center = platform::NotificationCenter::defaultCenter();
    center.post(KRDynamicCommentCountDidChangeNotification, nullptr,
                {{QStringLiteral("dynamicID"), QStringLiteral("32")}, {QStringLiteral("count"), qint64(9)}});
    EXPECT_EQ(rowCell(feed, 1)->commentButton()->title(ControlStateNormal), QStringLiteral("评论 9"));
    EXPECT_EQ(rowCell(feed, 0)->commentButton()->title(ControlStateNormal), QStringLiteral("评论 2"));
    // Without an id, or for a dynamic not listed, nothing changes.
    center.post(KRDynamicCommentCountDidChangeNotification, nullptr, {{QStringLiteral("count"), qint64(4)}});
    center.post(KRDynamicCommentCountDidChangeNotification, nullptr,
                {{QStringLiteral("dynamicID"), QStringLiteral("99")}, {QStringLiteral("count"), qint64(4)}});
    EXPECT_EQ(feed->dynamics().at(0)->commentCount(), 2);
    EXPECT_EQ(feed->dynamics().at(1)->commentCount(), 9);
    center.post(KRDynamicCommentCountDidChangeNotification, nullptr,
                {{QStringLiteral("dynamicID"), QStringLiteral("31")}, {QStringLiteral("count"), qint64(-3)}});
    EXPECT_EQ(rowCell(feed, 0)->commentButton()->title(ControlStateNormal), QStringLiteral("评论"));
}

TEST_F(FollowingFeedTest, TheMoreSheetOfAnOwnVideoAndItsActions)
{
    testsupport::AccountFixtures::logInWebOnly(kUserID);
    plan->set(QStringLiteral("all"), {},
              FeedPage{.items = {videoItem(QStringLiteral("41"), 170001, QStringLiteral("我的视频"), kUserID),
                                 textItem(QStringLiteral("42"), QStringLiteral("别人的"))}});
    KRFollowingViewController* feed = showFeed();
    waitLoaded(feed);
    click(rowCell(feed, 0)->repostButton());
    ActionSheet* sheet = feed->moreSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->title(), QStringLiteral("更多"));
    EXPECT_EQ(sheet->tag(), 9301);
    EXPECT_EQ(sheetTitles(sheet), (QStringList{"稍后观看", "转发动态", "系统分享", "复制链接", "删除动态", "取消"}));
    EXPECT_EQ(sheet->cancelButtonIndex(), 5);
    sheet->tapButtonForTesting(5);
    platform::MainClock::advanceForTesting(ActionSheet::kSlideDuration + 0.01);
    EXPECT_TRUE(feed->pendingMoreActions().isEmpty());

    click(rowCell(feed, 1)->repostButton());
    EXPECT_EQ(sheetTitles(feed->moreSheet()), (QStringList{"转发动态", "系统分享", "复制链接", "取消"}));
    feed->moreSheet()->tapButtonForTesting(3);
    platform::MainClock::advanceForTesting(ActionSheet::kSlideDuration + 0.01);

    chooseMore(feed, 0, QStringLiteral("复制链接"));
    EXPECT_EQ(Pasteboard::general().string(), QStringLiteral("https://") + KRServiceHosts::webHost() + QStringLiteral("/opus/41"));
    ASSERT_NE(alert(), nullptr);
    EXPECT_EQ(alert()->title(), QStringLiteral("已复制链接"));
    EXPECT_EQ(alert()->buttonTitles(), QStringList{QStringLiteral("好")});
    dismissAlert();

    chooseMore(feed, 0, QStringLiteral("稍后观看"));
    KR_WAIT_UNTIL(alert() != nullptr);
    EXPECT_EQ(alert()->title(), QStringLiteral("已加入稍后观看"));
    EXPECT_EQ(fake.requestsTo(kWatchLaterPath).size(), 1);
    dismissAlert();

    actions->refuse(kRemovePath, QStringLiteral("不能删除"));
    chooseMore(feed, 0, QStringLiteral("删除动态"));
    KR_WAIT_UNTIL(alert() != nullptr);
    EXPECT_EQ(alert()->title(), QStringLiteral("删除失败"));
    EXPECT_TRUE(alert()->message().startsWith(QStringLiteral("不能删除"))) << alert()->message().toStdString();
    EXPECT_EQ(feed->dynamics().size(), 2);
    dismissAlert();
    actions->accept(kRemovePath);
    chooseMore(feed, 0, QStringLiteral("删除动态"));
    KR_WAIT_UNTIL(alert() != nullptr);
    EXPECT_EQ(alert()->title(), QStringLiteral("动态已删除"));
    EXPECT_EQ(idsOf(feed->dynamics()), QStringList{"42"});
    EXPECT_EQ(feed->tableView()->numberOfRowsInSection(0), 1);
}

TEST_F(FollowingFeedTest, ShareWithoutTheActivitySheetCopiesTheLink)
{
    platform::DeviceProfile::setMachineForTesting(QStringLiteral("iPhone4,1"));
    platform::DeviceProfile::setSystemVersionForTesting(QStringLiteral("5.1"));
    testsupport::AccountFixtures::logInWebOnly(kUserID);
    plan->set(QStringLiteral("all"), {}, FeedPage{.items = {textItem(QStringLiteral("51"), QStringLiteral("分享我"))}});
    KRFollowingViewController* feed = showFeed();
    waitLoaded(feed);
    Pasteboard::general().setString({});
    chooseMore(feed, 0, QStringLiteral("系统分享"));
    EXPECT_EQ(Pasteboard::general().string(), QStringLiteral("https://") + KRServiceHosts::webHost() + QStringLiteral("/opus/51"));
    ASSERT_NE(alert(), nullptr);
    EXPECT_EQ(alert()->title(), QStringLiteral("已复制链接"));
}

TEST_F(FollowingFeedTest, ARefusedRepostCanBeSentAgain)
{
    KRFollowingViewController* feed = showRepostComposer(QStringLiteral("61"), QStringLiteral("转我"));
    KRDynamicComposerView* composer = feed->composer();
    ASSERT_NE(composer->superview(), nullptr);
    EXPECT_EQ(composer->textField()->text(), QStringLiteral("//@关注的人1:"));
    EXPECT_EQ(composer->textField()->placeholder(), QStringLiteral("转发动态"));
    EXPECT_TRUE(composer->allowsImage());
    EXPECT_EQ(feed->pendingAction(), 2);

    actions->refuse(kCreatePath, QStringLiteral("转发太频繁"));
    QLineEdit* edit = composer->textField()->findChild<QLineEdit*>();
    ASSERT_NE(edit, nullptr);
    // Chinese text comes through an input method, which QTest cannot type.
    composer->textField()->setText(QStringLiteral("好文"));
    QTest::keyClick(edit, Qt::Key_Return);
    KR_WAIT_UNTIL(alert() != nullptr);
    EXPECT_EQ(alert()->title(), QStringLiteral("转发失败"));
    EXPECT_TRUE(alert()->message().startsWith(QStringLiteral("转发太频繁"))) << alert()->message().toStdString();
    EXPECT_EQ(alert()->buttonTitles(), QStringList{QStringLiteral("知道了")});
    dismissAlert();
    EXPECT_TRUE(composer->textField()->isEnabled());
    EXPECT_EQ(composer->textField()->text(), QStringLiteral("好文"));
    ASSERT_NE(feed->pendingDynamic(), nullptr);

    actions->accept(kCreatePath);
    QTest::keyClick(edit, Qt::Key_Return);
    KR_WAIT_UNTIL(alert() != nullptr);
    EXPECT_EQ(alert()->title(), QStringLiteral("转发成功"));
    EXPECT_EQ(fake.requestsTo(kCreatePath).size(), 2);
    EXPECT_TRUE(fake.requestsTo(kCreatePath).at(1).body.contains("61"));
    EXPECT_EQ(feed->dynamics().at(0)->repostCount(), 1);
    EXPECT_EQ(feed->pendingDynamic(), nullptr);
    EXPECT_EQ(feed->pendingAction(), 0);
}

TEST_F(FollowingFeedTest, AnEmptyRepostWithoutPhotosSendsNothing)
{
    KRFollowingViewController* feed = showRepostComposer(QStringLiteral("71"), QStringLiteral("转我"));
    feed->dynamicComposerViewDidSubmitText(feed->composer(), QString());
    drain();
    EXPECT_TRUE(fake.requestsTo(kCreatePath).isEmpty());
    EXPECT_NE(feed->pendingDynamic(), nullptr);
    // Cancelling drops the pending repost.
    click(feed->composer()->cancelButton());
    EXPECT_EQ(feed->pendingDynamic(), nullptr);
    EXPECT_EQ(feed->pendingAction(), 0);
}

// An author whose id the feed could not read still opens the uploader page, which says the id
// is unknown; a known author opens the page with the id.
TEST_F(FollowingFeedTest, AnAuthorTapOpensTheUploaderPageEvenWithoutAReadableID)
{
    testsupport::AccountFixtures::logInWebOnly(kUserID);
    QVariantMap unread = textItem(QStringLiteral("85"), QStringLiteral("无名"));
    QVariantMap modules = unread.value(QStringLiteral("modules")).toMap();
    QVariantMap author = modules.value(QStringLiteral("module_author")).toMap();
    author.insert(QStringLiteral("mid"), QStringLiteral("未知"));
    author.insert(QStringLiteral("name"), QStringLiteral("无号作者"));
    modules.insert(QStringLiteral("module_author"), author);
    unread.insert(QStringLiteral("modules"), modules);
    plan->set(QStringLiteral("all"), {}, FeedPage{.items = {unread, textItem(QStringLiteral("86"), QStringLiteral("有名"), 9003)}});
    KRFollowingViewController* feed = showFeed();
    waitLoaded(feed);
    ASSERT_EQ(feed->dynamics().size(), 2);
    ASSERT_LT(feed->dynamics().at(0)->authorMID(), 1);

    clickThroughWindow(rowCell(feed, 0)->authorControl());
    auto* unknown = qobject_cast<KRUploaderViewController*>(nav->topViewController());
    ASSERT_NE(unknown, nullptr);
    EXPECT_LT(unknown->mid(), 1);
    EXPECT_EQ(unknown->uidLabel()->text(), QStringLiteral("UID 待解析"));
    EXPECT_EQ(unknown->nameLabel()->text(), QStringLiteral("无号作者"));
    nav->popToRootViewControllerAnimated(false);
    AnimationClock::finishAll();

    clickThroughWindow(rowCell(feed, 1)->authorControl());
    auto* known = qobject_cast<KRUploaderViewController*>(nav->topViewController());
    ASSERT_NE(known, nullptr);
    EXPECT_EQ(known->mid(), 9003);
    EXPECT_EQ(known->uidLabel()->text(), QStringLiteral("UID 9003"));
}

TEST_F(FollowingFeedTest, TapsOpenTheVideoTheDynamicAndTheVideoComments)
{
    testsupport::AccountFixtures::logInWebOnly(kUserID);
    const QVariantMap original = videoItem(QStringLiteral("80"), 170009, QStringLiteral("原视频"), 9002);
    plan->set(QStringLiteral("all"), {},
              FeedPage{.items = {textItem(QStringLiteral("81"), QStringLiteral("正文")),
                                 videoItem(QStringLiteral("82"), 170001, QStringLiteral("视频")),
                                 repostItem(QStringLiteral("83"), QStringLiteral("转"), original)}});
    plan->set(QStringLiteral("video"), {}, FeedPage{.items = {videoItem(QStringLiteral("82"), 170001, QStringLiteral("视频"))}});
    KRFollowingViewController* feed = showFeed();
    waitLoaded(feed);

    click(rowCell(feed, 0)->bodyControl());
    AnimationClock::finishAll();
    EXPECT_EQ(openedDynamics, QStringList{"81"});
    nav->popToRootViewControllerAnimated(false);

    click(rowCell(feed, 0)->commentButton());
    AnimationClock::finishAll();
    EXPECT_EQ(openedDynamics, (QStringList{"81", "81"}));
    nav->popToRootViewControllerAnimated(false);

    click(rowCell(feed, 1)->videoControl());
    AnimationClock::finishAll();
    auto* page = qobject_cast<KRVideoDetailViewController*>(nav->topViewController());
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->selectedDetailPage(), 0);
    nav->popToRootViewControllerAnimated(false);

    click(rowCell(feed, 2)->originalCard());
    AnimationClock::finishAll();
    ASSERT_NE(qobject_cast<KRVideoDetailViewController*>(nav->topViewController()), nullptr);
    nav->popToRootViewControllerAnimated(false);
    AnimationClock::finishAll();

    // On the video feed the comment button opens the video page at its comments.
    feed->segment()->tapSegmentForTesting(1);
    waitLoaded(feed);
    ASSERT_EQ(feed->dynamics().size(), 1);
    click(rowCell(feed, 0)->commentButton());
    AnimationClock::finishAll();
    page = qobject_cast<KRVideoDetailViewController*>(nav->topViewController());
    ASSERT_NE(page, nullptr);
    // The page opens at its comments once it has appeared.
    EXPECT_EQ(page->selectedDetailPage(), 1);
}

} // namespace
} // namespace socialtest

namespace socialtest {
namespace {

QImage photo(QRgb colour)
{
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// A picked photo named `name` that holds `image`.
KRPhotoPickerItem photoItem(const QString& name, const QImage& image)
{
    return {{KRPhotoPickerItemURLKey, QStringLiteral("file:///%1.jpg").arg(name)}, {KRPhotoPickerItemImageKey, image}};
}

TEST_F(FollowingFeedTest, ARepostWithPhotosUploadsThemFirst)
{
    KRFollowingViewController* feed = showRepostComposer(QStringLiteral("91"), QStringLiteral("配图转发"));
    KRDynamicComposerView* composer = feed->composer();
    KRPhotoPickerViewController picker({}, 9);
    const QList<KRPhotoPickerItem> items{photoItem(QStringLiteral("a"), photo(qRgb(200, 0, 0))),
                                         {{KRPhotoPickerItemURLKey, QStringLiteral("file:///b.jpg")}},
                                         photoItem(QStringLiteral("c"), photo(qRgb(0, 0, 200)))};

    // A failed upload posts nothing; the photos stay for the next attempt.
    setUploadFails(true);
    feed->photoPickerViewControllerDidFinishWithItems(&picker, items);
    EXPECT_EQ(composer->selectedImageCount(), 3u);
    composer->textField()->setText(QString());
    QLineEdit* edit = composer->textField()->findChild<QLineEdit*>();
    ASSERT_NE(edit, nullptr);
    QTest::keyClick(edit, Qt::Key_Return);
    KR_WAIT_UNTIL(alert() != nullptr);
    EXPECT_EQ(alert()->title(), QStringLiteral("图片上传失败"));
    EXPECT_EQ(alert()->buttonTitles(), QStringList{QStringLiteral("知道了")});
    EXPECT_TRUE(fake.requestsTo(kCreatePath).isEmpty());
    EXPECT_TRUE(composer->textField()->isEnabled());
    EXPECT_EQ(composer->selectedImageCount(), 3u);
    dismissAlert();

    // Sent again as it stands, the photos go with it.
    setUploadFails(false);
    QTest::keyClick(edit, Qt::Key_Return);
    KR_WAIT_UNTIL(alert() != nullptr);
    EXPECT_EQ(alert()->title(), QStringLiteral("转发成功"));
    // Two pictures carry an image; the one without is skipped.
    const QList<FakeRequest> uploads = fake.requestsTo(kUploadPath);
    ASSERT_EQ(uploads.size(), 3);   // one from the failed attempt
    for (const FakeFormPart& part : uploads.at(1).formParts) {
        if (part.name == QLatin1String("file_up")) {
            EXPECT_TRUE(part.content.startsWith("\xFF\xD8"));
        }
    }
    const QList<FakeRequest> creates = fake.requestsTo(kCreatePath);
    ASSERT_EQ(creates.size(), 1);
    const QVariantMap request = QJsonDocument::fromJson(creates.at(0).body).object().toVariantMap();
    const QVariantList pictures = request.value(QStringLiteral("dyn_req")).toMap().value(QStringLiteral("pics")).toList();
    ASSERT_EQ(pictures.size(), 2) << creates.at(0).body.toStdString();
    EXPECT_TRUE(pictures.at(0).toMap().value(QStringLiteral("img_src")).toString().contains(QStringLiteral("upload")));
    EXPECT_TRUE(creates.at(0).body.contains("91"));
}

// The service refuses a repost with photos: sent again, it carries them again.
TEST_F(FollowingFeedTest, ARefusedRepostWithPhotosIsSentAgainWithThem)
{
    KRFollowingViewController* feed = showRepostComposer(QStringLiteral("93"), QStringLiteral("配图转发"));
    KRDynamicComposerView* composer = feed->composer();
    KRPhotoPickerViewController picker({}, 9);
    feed->photoPickerViewControllerDidFinishWithItems(
        &picker, {photoItem(QStringLiteral("a"), photo(qRgb(200, 0, 0))),
                  photoItem(QStringLiteral("b"), photo(qRgb(0, 200, 0)))});
    actions->refuse(kCreatePath, QStringLiteral("转发太频繁"));
    clickThroughWindow(composer->textField());
    QTest::keyClick(window->windowHandle(), Qt::Key_Return);
    KR_WAIT_UNTIL(alert() != nullptr);
    EXPECT_EQ(alert()->title(), QStringLiteral("转发失败"));
    dismissAlert();
    EXPECT_EQ(composer->selectedImageCount(), 2u);
    ASSERT_NE(feed->pendingDynamic(), nullptr);

    actions->accept(kCreatePath);
    clickThroughWindow(composer->textField());
    QTest::keyClick(window->windowHandle(), Qt::Key_Return);
    KR_WAIT_UNTIL(alert() != nullptr);
    EXPECT_EQ(alert()->title(), QStringLiteral("转发成功"));
    const QList<FakeRequest> creates = fake.requestsTo(kCreatePath);
    ASSERT_EQ(creates.size(), 2);
    for (const FakeRequest& create : creates) {
        const QVariantMap request = QJsonDocument::fromJson(create.body).object().toVariantMap();
        EXPECT_EQ(request.value(QStringLiteral("dyn_req")).toMap().value(QStringLiteral("pics")).toList().size(), 2)
            << create.body.toStdString();
    }
    // Sent, the repost and its photos are done with.
    EXPECT_EQ(composer->selectedImageCount(), 0u);
    EXPECT_EQ(feed->pendingDynamic(), nullptr);
}

// The upload of the first account's photos answers after another account has signed in: the
// repost is not posted, as the next account, with the first one's text and photos.
TEST_F(FollowingFeedTest, APhotoRepostWhoseUploadAnswersAfterAnotherAccountSignedInIsNotPosted)
{
    auto held = std::make_shared<AnswerGate>();
    auto uploadAsked = std::make_shared<std::atomic<bool>>(false);
    const auto openAtTheEnd = qScopeGuard([held] { held->release(); });
    fake.route(KRServiceHosts::apiHost(), kUploadPath, [held, uploadAsked](const FakeRequest&) {
        uploadAsked->store(true);
        held->wait();
        return testsupport::AccountFixtures::ok(QVariantMap{
            {QStringLiteral("image_url"), testsupport::ImageFixtures::coverAddress(QStringLiteral("upload-held"))},
            {QStringLiteral("image_width"), 64},
            {QStringLiteral("image_height"), 64}});
    });
    KRFollowingViewController* feed = showRepostComposer(QStringLiteral("94"), QStringLiteral("甲关注的"));
    KRDynamicComposerView* composer = feed->composer();
    KRPhotoPickerViewController picker({}, 9);
    feed->photoPickerViewControllerDidFinishWithItems(
        &picker, {photoItem(QStringLiteral("a"), photo(qRgb(200, 0, 0)))});
    clickThroughWindow(composer->textField());
    for (const char key : {'f', 'i', 'r', 's', 't'})
        QTest::keyClick(window->windowHandle(), key);
    QTest::keyClick(window->windowHandle(), Qt::Key_Return);
    KR_WAIT_UNTIL(uploadAsked->load());

    plan->set(QStringLiteral("all"), {}, FeedPage{.items = {textItem(QStringLiteral("51"), QStringLiteral("乙关注的"))}});
    testsupport::AccountFixtures::logInAnotherAccount(5151);
    KR_WAIT_UNTIL(feedRequests().size() == 2);
    waitLoaded(feed);
    ASSERT_EQ(idsOf(feed->dynamics()), QStringList{"51"});

    // The answer comes; whatever it sets off on the workers is given time to reach the service.
    held->release();
    for (int round = 0; round < 4; ++round) {
        platform::OperationQueue::waitUntilAllWorkIsFinished();
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(fake.requestsTo(kUploadPath).size(), 1);
    EXPECT_TRUE(fake.requestsTo(kCreatePath).isEmpty());
    EXPECT_EQ(alert(), nullptr);
    EXPECT_EQ(feed->pendingDynamic(), nullptr);
}

TEST_F(FollowingFeedTest, ARepostWithAPictureThatCannotBeReadPostsNothing)
{
    KRFollowingViewController* feed = showRepostComposer(QStringLiteral("92"), QStringLiteral("配图转发"));
    KRDynamicComposerView* composer = feed->composer();
    KRPhotoPickerViewController picker({}, 9);
    // Wider than any JPEG may be: the encoder refuses it.
    QImage tooWide(70000, 2, QImage::Format_RGB32);
    tooWide.fill(qRgb(0, 120, 0));
    feed->photoPickerViewControllerDidFinishWithItems(
        &picker, {photoItem(QStringLiteral("a"), photo(qRgb(200, 0, 0))),
                  {{KRPhotoPickerItemURLKey, QStringLiteral("file:///w.jpg")}, {KRPhotoPickerItemImageKey, tooWide}}});
    QLineEdit* edit = composer->textField()->findChild<QLineEdit*>();
    ASSERT_NE(edit, nullptr);
    QTest::keyClick(edit, Qt::Key_Return);
    KR_WAIT_UNTIL(alert() != nullptr);
    EXPECT_EQ(alert()->title(), QStringLiteral("图片上传失败"));
    EXPECT_EQ(alert()->message(), QStringLiteral("图片无法读取"));
    drain();
    EXPECT_TRUE(fake.requestsTo(kUploadPath).isEmpty());
    EXPECT_TRUE(fake.requestsTo(kCreatePath).isEmpty());
    EXPECT_TRUE(composer->textField()->isEnabled());
    EXPECT_NE(feed->pendingDynamic(), nullptr);
}

} // namespace
} // namespace socialtest

namespace socialtest {
namespace {

TEST_F(FollowingFeedTest, LeavingTheScreenEndsTheRepost)
{
    KRFollowingViewController* feed = showRepostComposer(QStringLiteral("95"), QStringLiteral("转我"));
    ASSERT_NE(feed->composer()->superview(), nullptr);
    click(rowCell(feed, 0)->bodyControl());
    AnimationClock::finishAll();
    EXPECT_EQ(openedDynamics, QStringList{"95"});
    EXPECT_EQ(feed->composer()->superview(), nullptr);
    EXPECT_EQ(feed->pendingDynamic(), nullptr);
    EXPECT_EQ(feed->pendingAction(), 0);
}

} // namespace
} // namespace socialtest
