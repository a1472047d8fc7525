#include "../uikit/KitTestSupport.h"
#include "account/AccountClientTesting.h"
#include "model/KRConsole.h"
#include "model/KRVideo.h"
#include "platform/uikit/AlertView.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/SegmentedControl.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/Window.h"
#include "shell/KRScreenRoutes.h"
#include "social/KRMessageViewController.h"
#include "store/KRSessionStore.h"
#include "support/AccountFixtures.h"
#include "support/AnswerGate.h"
#include "support/ConsoleCapture.h"
#include "video/KRVideoDetailViewController.h"

#include <QScopeGuard>
#include <QTest>

#include <QThread>

#include <atomic>

using namespace platform::uikit;
using namespace accounttest;
using testsupport::AccountFixtures;
using testsupport::FakeReply;
using testsupport::FakeRequest;

namespace {

const QString kReplies = QStringLiteral("/x/msgfeed/reply");
const QString kMentions = QStringLiteral("/x/msgfeed/at");

QVariantMap message(qint64 id, const QString& nickname = QStringLiteral("甲"), const QVariantMap& item = {})
{
    return QVariantMap{{QStringLiteral("id"), id},
                       {QStringLiteral("user"), QVariantMap{{QStringLiteral("mid"), 10 + id}, {QStringLiteral("nickname"), nickname}}},
                       {QStringLiteral("item"), item}};
}

QVariantList messages(qint64 first, int count)
{
    QVariantList list;
    for (int i = 0; i < count; ++i)
        list.append(message(first + i));
    return list;
}

QVariantMap page(const QVariantList& items, const QVariant& cursor, const QVariant& hasMore = {})
{
    QVariantMap data{{QStringLiteral("items"), items}, {QStringLiteral("cursor"), cursor}};
    if (hasMore.isValid())
        data.insert(QStringLiteral("has_more"), hasMore);
    return data;
}

QVariantMap dictionaryCursor(qint64 next, bool ended = false)
{
    return QVariantMap{{QStringLiteral("is_end"), ended}, {QStringLiteral("id"), next}};
}

class MessageInboxTest : public AccountClientTest {
protected:
    void SetUp() override
    {
        AccountClientTest::SetUp();
        KRRouter::install(KRScreenRoutes());
        KitTest::resetKit();
        AccountFixtures::routeRiskCookies(fake);
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

    // Answers each request of `path` with the next of `pages` (the last one again when they run out).
    void servePages(const QString& path, QList<QVariant> pages)
    {
        auto served = std::make_shared<std::atomic<int>>(0);
        serveAPI(path, [pages, served](const FakeRequest&) {
            const int index = std::min<int>(served->fetch_add(1), int(pages.size()) - 1);
            return AccountFixtures::ok(pages.at(index));
        });
    }
    QList<FakeRequest> requests(const QString& path) const { return fake.requestsTo(path); }

    KRMessageViewController* show()
    {
        auto* screen = new KRMessageViewController(TableViewStylePlain);
        nav->pushViewController(screen, false);
        AnimationClock::finishAll();
        screen->view()->layoutIfNeeded();
        return screen;
    }
    // Scrolls the list to its end as a finger would leave it there.
    static void scrollToEnd(KRMessageViewController* screen)
    {
        TableView* table = screen->tableView();
        const qreal end = std::max<qreal>(0, table->contentSize().height() - table->frame().height());
        table->setContentOffset(QPointF(0, end), false);
    }
    // Clicks the row as a user would, through the table.
    static void clickRow(KRMessageViewController* screen, int row)
    {
        TableView* table = screen->tableView();
        const QRectF rect = table->rectForRowAtIndexPath(IndexPath{0, row});
        const QPointF point = rect.center() - table->contentOffset();
        QTest::mouseClick(table, Qt::LeftButton, {}, point.toPoint());
    }

    std::unique_ptr<Window> window = std::make_unique<Window>();
    NavigationController* nav = nullptr;
};

} // namespace

TEST_F(MessageInboxTest, SignedOutShowsTheGateAndAsksNothing)
{
    servePages(kReplies, {page(messages(1, 3), dictionaryCursor(9))});
    KRMessageViewController* screen = show();
    EXPECT_EQ(screen->title(), QStringLiteral("消息"));
    EXPECT_EQ(screen->segment()->titleForSegmentAtIndex(0), QStringLiteral("回复我的"));
    EXPECT_EQ(screen->segment()->titleForSegmentAtIndex(1), QStringLiteral("@我的"));
    EXPECT_EQ(screen->tableView()->backgroundView(), screen->stateLabel());
    EXPECT_EQ(screen->stateLabel()->text(), QStringLiteral("登录后可查看消息"));
    drain();
    EXPECT_TRUE(requests(kReplies).isEmpty());
}

TEST_F(MessageInboxTest, SigningOutEmptiesTheListAtOnceAndSigningInAgainReloadsIt)
{
    AccountFixtures::logInWebOnly();
    servePages(kMentions, {page(messages(1, 4), dictionaryCursor(0, true))});
    servePages(kReplies, {page(messages(30, 2), dictionaryCursor(0, true))});
    KRMessageViewController* screen = show();
    KR_WAIT_UNTIL(!screen->isLoading() && screen->messages().size() == 2);
    screen->segment()->tapSegmentForTesting(1);
    KR_WAIT_UNTIL(!screen->isLoading() && screen->messages().size() == 4);
    screen->view()->layoutIfNeeded();
    ASSERT_FALSE(screen->tableView()->visibleCells().isEmpty());

    // A session change that keeps the account (a profile refresh) keeps the list.
    KRSessionStore::sharedStore().updateAccountProfile(QVariantMap{{QStringLiteral("uname"), QStringLiteral("甲")}});
    drain();
    EXPECT_EQ(requests(kMentions).size(), 1);
    EXPECT_EQ(screen->messages().size(), 4);

    // The inbox stays on the stack while the account signs out elsewhere.
    KRSessionStore::sharedStore().clearSession();
    EXPECT_TRUE(screen->messages().isEmpty());
    screen->view()->layoutIfNeeded();
    EXPECT_TRUE(screen->tableView()->visibleCells().isEmpty());
    EXPECT_EQ(screen->tableView()->backgroundView(), screen->stateLabel());
    EXPECT_EQ(screen->stateLabel()->text(), QStringLiteral("登录后可查看消息"));
    drain();
    EXPECT_EQ(requests(kMentions).size(), 1);

    // Another account signing in gets its own feed from the first page.
    AccountFixtures::logInWebOnly(5151);
    KR_WAIT_UNTIL(!screen->isLoading() && screen->messages().size() == 4);
    ASSERT_EQ(requests(kMentions).size(), 2);
    EXPECT_TRUE(requests(kMentions).last().queryValue(QStringLiteral("id")).isNull());
    EXPECT_EQ(screen->tableView()->backgroundView(), nullptr);
}

// Another account's login confirmed over the last one, with no sign-out between: the inbox is
// that account's from its first page, asked at once while the last one's next page is still
// on its way.
TEST_F(MessageInboxTest, AnotherAccountSigningInOverTheLastGetsItsOwnMessages)
{
    AccountFixtures::logInWebOnly();
    // Each account's own replies; the first account's second page comes only when let through.
    auto secondPage = std::make_shared<AnswerGate>();
    auto secondPageAsked = std::make_shared<std::atomic<bool>>(false);
    const auto openAtTheEnd = qScopeGuard([secondPage] { secondPage->release(); });
    serveAPI(kReplies, [secondPage, secondPageAsked](const FakeRequest& request) {
        if (request.header(QStringLiteral("Cookie")).contains(QStringLiteral("DedeUserID=5151")))
            return AccountFixtures::ok(page({message(501, QStringLiteral("乙的来信"))}, dictionaryCursor(0, true)));
        if (request.queryValue(QStringLiteral("id")).isNull())
            return AccountFixtures::ok(page(messages(1, 9), dictionaryCursor(100)));
        secondPageAsked->store(true);
        secondPage->wait();
        return AccountFixtures::ok(page(messages(10, 3), dictionaryCursor(0, true)));
    });
    KRMessageViewController* screen = show();
    KR_WAIT_UNTIL(!screen->isLoading() && screen->messages().size() == 9);
    scrollToEnd(screen);
    KR_WAIT_UNTIL(secondPageAsked->load());
    ASSERT_TRUE(screen->isLoading());

    AccountFixtures::logInAnotherAccount(5151);
    EXPECT_TRUE(screen->messages().isEmpty()) << "the last account's messages go at once";
    KR_WAIT_UNTIL(requests(kReplies).size() == 3);
    EXPECT_TRUE(requests(kReplies).last().queryValue(QStringLiteral("id")).isNull());
    EXPECT_TRUE(requests(kReplies).last().header(QStringLiteral("Cookie")).contains(QStringLiteral("DedeUserID=5151")));
    KR_WAIT_UNTIL(!screen->isLoading() && screen->messages().size() == 1);
    EXPECT_EQ(screen->messages().first().toMap().value(QStringLiteral("id")).toLongLong(), 501);
    EXPECT_FALSE(screen->hasMore());
    EXPECT_EQ(screen->tableView()->backgroundView(), nullptr);
    screen->view()->layoutIfNeeded();
    EXPECT_EQ(screen->tableView()->visibleCells().size(), 1);
}

TEST_F(MessageInboxTest, PagesByCursorUntilAPageBringsNothingNew)
{
    AccountFixtures::logInWebOnly();
    QVariantList second = messages(10, 2);
    second.append(message(1));   // a repeat of the first page
    servePages(kReplies, {page(messages(1, 9), dictionaryCursor(100)), page(second, dictionaryCursor(200)),
                          page(messages(1, 3), dictionaryCursor(300))});
    KRMessageViewController* screen = show();
    KR_WAIT_UNTIL(!screen->isLoading() && screen->messages().size() == 9);
    EXPECT_EQ(screen->tableView()->backgroundView(), nullptr);
    ASSERT_EQ(requests(kReplies).size(), 1);
    EXPECT_TRUE(requests(kReplies).first().queryValue(QStringLiteral("id")).isNull());

    scrollToEnd(screen);
    KR_WAIT_UNTIL(!screen->isLoading() && screen->messages().size() == 11);
    ASSERT_EQ(requests(kReplies).size(), 2);
    EXPECT_EQ(requests(kReplies).at(1).queryValue(QStringLiteral("id")), QStringLiteral("100"));
    EXPECT_TRUE(screen->hasMore());

    // A page made only of messages already held appends nothing and ends paging, whatever the
    // server says.
    scrollToEnd(screen);
    KR_WAIT_UNTIL(!screen->isLoading() && requests(kReplies).size() == 3);
    EXPECT_EQ(screen->messages().size(), 11);
    EXPECT_FALSE(screen->hasMore());
    scrollToEnd(screen);
    drain();
    EXPECT_EQ(requests(kReplies).size(), 3);
}

TEST_F(MessageInboxTest, TheSameCursorAgainOrAnEndEndsPagingAndANumberZeroFallsBackToTheId)
{
    AccountFixtures::logInWebOnly();
    // A plain number cursor of 0 falls back to the answer's "id".
    QVariantMap first = page(messages(1, 9), 0);
    first.insert(QStringLiteral("id"), 70);
    servePages(kMentions, {first, page(messages(20, 9), 70)});
    KRMessageViewController* screen = show();
    screen->segment()->tapSegmentForTesting(1);
    KR_WAIT_UNTIL(!screen->isLoading() && screen->messages().size() == 9 && screen->segment()->selectedSegmentIndex() == 1);
    EXPECT_EQ(screen->cursor(), 70);
    EXPECT_TRUE(screen->hasMore());
    scrollToEnd(screen);
    KR_WAIT_UNTIL(!screen->isLoading() && screen->messages().size() == 18);
    EXPECT_EQ(requests(kMentions).last().queryValue(QStringLiteral("id")), QStringLiteral("70"));
    // The server answered with the cursor it was asked for.
    EXPECT_FALSE(screen->hasMore());

    servePages(kReplies, {page(messages(1, 9), dictionaryCursor(5, true), true)});
    screen->segment()->tapSegmentForTesting(0);
    KR_WAIT_UNTIL(!screen->isLoading() && screen->messages().size() == 9 && requests(kReplies).size() >= 1);
    EXPECT_FALSE(screen->hasMore());
}

TEST_F(MessageInboxTest, ADictionaryCursorWithoutAUsableIdFallsBackToCursorThenReplyTimeThenTime)
{
    AccountFixtures::logInWebOnly();
    auto cursor = [](const QVariantMap& fields) {
        QVariantMap map = fields;
        map.insert(QStringLiteral("is_end"), false);
        return QVariant(map);
    };
    const QString id = QStringLiteral("id"), next = QStringLiteral("cursor"), replyTime = QStringLiteral("reply_time"),
                  time = QStringLiteral("time");
    servePages(kReplies,
               {page(messages(1, 9), cursor({{id, 0}, {next, 55}, {replyTime, 66}, {time, 77}})),
                page(messages(20, 9), cursor({{id, QStringLiteral("none")}, {next, -3}, {replyTime, 88}, {time, 99}})),
                page(messages(40, 9), cursor({{next, QVariant::fromValue(nullptr)}, {replyTime, 0}, {time, 120}})),
                page(messages(60, 9), cursor({{id, 130}, {next, 140}, {replyTime, 150}, {time, 160}}))});
    KRMessageViewController* screen = show();
    KR_WAIT_UNTIL(!screen->isLoading() && screen->messages().size() == 9);
    EXPECT_EQ(screen->cursor(), 55);  // no usable id: the cursor, before the reply time
    const QList<std::pair<int, qint64>> steps{{18, 88}, {27, 120}, {36, 130}};
    for (const auto& step : steps) {
        const int rows = step.first;
        scrollToEnd(screen);
        KR_WAIT_UNTIL(!screen->isLoading() && screen->messages().size() == rows);
        EXPECT_EQ(screen->cursor(), step.second) << rows;
    }
    // Each page was asked for with the cursor read from the one before it.
    const QList<FakeRequest> asked = requests(kReplies);
    ASSERT_EQ(asked.size(), 4);
    EXPECT_EQ(asked.at(1).queryValue(id), QStringLiteral("55"));
    EXPECT_EQ(asked.at(2).queryValue(id), QStringLiteral("88"));
    EXPECT_EQ(asked.at(3).queryValue(id), QStringLiteral("120"));
    EXPECT_TRUE(screen->hasMore());
}

TEST_F(MessageInboxTest, FailuresAndEmptyFeedsShowTheirStateText)
{
    AccountFixtures::logInWebOnly();
    serveAPI(kReplies, [](const FakeRequest&) { return FakeReply::json(QByteArray("{\"code\":0,\"data\":[1,2]}")); });
    KRMessageViewController* screen = show();
    KR_WAIT_UNTIL(!screen->isLoading() && !screen->stateLabel()->text().isEmpty());
    EXPECT_EQ(screen->stateLabel()->text(), QStringLiteral("消息响应格式已变化，请重试"));
    EXPECT_EQ(screen->tableView()->backgroundView(), screen->stateLabel());

    servePages(kReplies, {page({}, dictionaryCursor(0, true))});
    screen->reloadMessages();
    KR_WAIT_UNTIL(!screen->isLoading() && screen->stateLabel()->text() == QStringLiteral("暂时没有新消息"));
    EXPECT_EQ(screen->tableView()->backgroundView(), screen->stateLabel());

    // A failure shows the error's message, never its domain and code.
    serveAPI(kReplies, [](const FakeRequest&) { return FakeReply::json(QByteArray("{\"code\":-500,\"message\":\"服务繁忙\"}")); });
    screen->reloadMessages();
    KR_WAIT_UNTIL(!screen->isLoading() && screen->stateLabel()->text() != QStringLiteral("暂时没有新消息"));
    EXPECT_EQ(screen->stateLabel()->text(), QStringLiteral("服务繁忙"));
    EXPECT_EQ(screen->tableView()->backgroundView(), screen->stateLabel());
    serveAPI(kReplies, [](const FakeRequest&) { return FakeReply::withStatus(404, QByteArray("not here")); });
    screen->reloadMessages();
    KR_WAIT_UNTIL(!screen->isLoading() && screen->stateLabel()->text() != QStringLiteral("服务繁忙"));
    const QString failure = screen->stateLabel()->text();
    EXPECT_EQ(failure, QStringLiteral("服务器返回 HTTP 404，请稍后重试"));
    EXPECT_FALSE(failure.contains(QStringLiteral("Domain"))) << failure.toStdString();
    EXPECT_FALSE(failure.contains(QStringLiteral("(404)"))) << failure.toStdString();

    // With rows shown a failed later page stays quiet and the next scroll asks again.
    servePages(kReplies, {page(messages(1, 9), dictionaryCursor(40))});
    screen->reloadMessages();
    KR_WAIT_UNTIL(!screen->isLoading() && screen->messages().size() == 9);
    serveAPI(kReplies, [](const FakeRequest&) { return FakeReply::json(QByteArray("{\"code\":-500,\"message\":\"x\"}")); });
    const int before = int(requests(kReplies).size());
    scrollToEnd(screen);
    KR_WAIT_UNTIL(!screen->isLoading() && requests(kReplies).size() == before + 1);
    EXPECT_EQ(screen->tableView()->backgroundView(), nullptr);
    EXPECT_EQ(screen->messages().size(), 9);
    EXPECT_TRUE(screen->hasMore());
    EXPECT_EQ(requests(kReplies).last().queryValue(QStringLiteral("id")), QStringLiteral("40"));
}

TEST_F(MessageInboxTest, ALateAnswerOfTheOtherFeedIsDropped)
{
    AccountFixtures::logInWebOnly();
    auto releaseSecondPage = std::make_shared<std::atomic<bool>>(false);
    auto secondPageAnswered = std::make_shared<std::atomic<bool>>(false);
    auto releaseMentions = std::make_shared<std::atomic<bool>>(false);
    serveAPI(kReplies, [=](const FakeRequest& request) {
        if (request.queryValue(QStringLiteral("id")).isNull())
            return AccountFixtures::ok(page(messages(1, 9), dictionaryCursor(100)));
        while (!releaseSecondPage->load())
            QThread::yieldCurrentThread();
        secondPageAnswered->store(true);
        return AccountFixtures::ok(page(messages(20, 4), dictionaryCursor(0, true)));
    });
    serveAPI(kMentions, [releaseMentions](const FakeRequest&) {
        while (!releaseMentions->load())
            QThread::yieldCurrentThread();
        return AccountFixtures::ok(page({message(50, QStringLiteral("乙"))}, dictionaryCursor(0, true)));
    });
    KRMessageViewController* screen = show();
    KR_WAIT_UNTIL(!screen->isLoading() && screen->messages().size() == 9);
    scrollToEnd(screen);
    KR_WAIT_UNTIL(requests(kReplies).size() == 2);

    // The user switches feeds while the replies' second page is on its way: the list empties at
    // once and the mentions are asked for.
    screen->segment()->tapSegmentForTesting(1);
    EXPECT_TRUE(screen->messages().isEmpty());
    EXPECT_TRUE(screen->tableView()->visibleCells().isEmpty());
    KR_WAIT_UNTIL(requests(kMentions).size() == 1);
    EXPECT_TRUE(requests(kMentions).first().queryValue(QStringLiteral("id")).isNull());

    releaseSecondPage->store(true);
    KR_WAIT_UNTIL(secondPageAnswered->load());
    // The replies' answer arrives first and is for a list the user left.
    releaseMentions->store(true);
    KR_WAIT_UNTIL(!screen->isLoading() && !screen->messages().isEmpty());
    drain();
    ASSERT_EQ(screen->messages().size(), 1);
    EXPECT_EQ(KRMessageIdentity(screen->messages().first().toMap()), QStringLiteral("id:50"));
}

TEST_F(MessageInboxTest, RowsSayWhoDidWhatAndWhatAbout)
{
    AccountFixtures::logInWebOnly();
    QVariantMap withSource = message(1, QStringLiteral("甲"), {{QStringLiteral("source_content"), QStringLiteral("说得好")},
                                                              {QStringLiteral("title"), QStringLiteral("标题")}});
    QVariantMap titleOnly = message(2, QString(), {{QStringLiteral("title"), QStringLiteral("只有标题")}});
    titleOnly[QStringLiteral("user")] = QVariantMap{{QStringLiteral("name"), QStringLiteral("乙")}};
    QVariantMap bare = message(3, QString());
    bare[QStringLiteral("user")] = QVariantMap();
    servePages(kReplies, {page({withSource, titleOnly, bare}, dictionaryCursor(0, true))});
    KRMessageViewController* screen = show();
    KR_WAIT_UNTIL(!screen->isLoading() && screen->messages().size() == 3);
    TableView* table = screen->tableView();
    table->layoutIfNeeded();
    auto* first = qobject_cast<KRMessageCell*>(table->cellForRowAtIndexPath(IndexPath{0, 0}));
    auto* second = qobject_cast<KRMessageCell*>(table->cellForRowAtIndexPath(IndexPath{0, 1}));
    auto* third = qobject_cast<KRMessageCell*>(table->cellForRowAtIndexPath(IndexPath{0, 2}));
    ASSERT_TRUE(first && second && third);
    EXPECT_EQ(first->textLabel()->text(), QStringLiteral("甲  回复了你"));
    EXPECT_EQ(first->detailTextLabel()->text(), QStringLiteral("说得好"));
    EXPECT_EQ(second->textLabel()->text(), QStringLiteral("乙  回复了你"));
    EXPECT_EQ(second->detailTextLabel()->text(), QStringLiteral("只有标题"));
    EXPECT_EQ(third->textLabel()->text(), QStringLiteral("岚帆视频用户  回复了你"));
    EXPECT_EQ(third->detailTextLabel()->text(), QStringLiteral("点击查看相关内容"));
    EXPECT_EQ(table->rectForRowAtIndexPath(IndexPath{0, 1}).height(), 82);
    EXPECT_EQ(first->messageAvatarView()->frame(), QRectF(9, 19, 44, 44));
    EXPECT_EQ(first->textLabel()->frame(), QRectF(62, 9, first->contentView()->frame().width() - 82, 25));
    EXPECT_EQ(first->detailTextLabel()->frame().topLeft(), QPointF(62, 34));
    EXPECT_FALSE(first->messageAvatarView()->image().isNull());
    EXPECT_EQ(first->messageIdentity(), QStringLiteral("1|"));
}

TEST_F(MessageInboxTest, TappingAMessageOpensTheVideoAtItsThreadOrSaysItCannot)
{
    AccountFixtures::logInWebOnly();
    const QVariantMap reply = message(1, QStringLiteral("甲"),
                                      {{QStringLiteral("business_id"), 1}, {QStringLiteral("subject_id"), 170001},
                                       {QStringLiteral("root_id"), 500}, {QStringLiteral("source_id"), 501},
                                       {QStringLiteral("title"), QStringLiteral("视频标题")}});
    const QVariantMap nowhere = message(2, QStringLiteral("乙"), {{QStringLiteral("source_content"), QStringLiteral("无处可去")}});
    servePages(kReplies, {page({reply, nowhere}, dictionaryCursor(0, true))});
    KRMessageViewController* screen = show();
    KR_WAIT_UNTIL(!screen->isLoading() && screen->messages().size() == 2);

    testsupport::ConsoleCapture console;
    clickRow(screen, 0);
    AnimationClock::finishAll();
    auto* page = qobject_cast<KRVideoDetailViewController*>(nav->topViewController());
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->video()->aid(), 170001);
    EXPECT_EQ(page->video()->title(), QStringLiteral("视频标题"));
    // The page on screen has taken the request: it shows its comments.
    EXPECT_FALSE(page->showsCommentsWhenPresented());
    EXPECT_EQ(page->selectedDetailPage(), 1);
    EXPECT_EQ(page->focusedCommentRpid(), 500);
    EXPECT_EQ(page->focusedReplyRpid(), 501);
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneMessageJump] route=archive aid=170001 root=500 target=501")));

    nav->popViewControllerAnimated(false);
    AnimationClock::finishAll();
    flushDeferredDeletes();
    clickRow(screen, 1);
    ASSERT_NE(window->visibleAlert(), nullptr);
    EXPECT_EQ(window->visibleAlert()->title(), QStringLiteral("暂时无法跳转"));
    EXPECT_EQ(window->visibleAlert()->message(), QStringLiteral("这条消息没有返回可识别的视频或动态地址。"));
    EXPECT_EQ(window->visibleAlert()->buttonTitles(), QStringList{QStringLiteral("知道了")});
    EXPECT_EQ(nav->topViewController(), screen);
}
