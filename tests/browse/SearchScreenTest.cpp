#include "../uikit/KitTestSupport.h"
#include "shell/KRScreenRoutes.h"
#include "service/ServiceClientTesting.h"
#include "support/AnswerGate.h"

#include "look/KRTarnwick23Skin.h"
#include "look/KRTheme.h"
#include "images/KRImageLoader.h"
#include "shared/KRLoadMoreView.h"
#include "shared/KRPullRefreshView.h"
#include "browse/KRSearchHistory.h"
#include "browse/KRSearchViewController.h"
#include "browse/KRThemedSearchTextField.h"
#include "browse/KRVideoCell.h"
#include "platform/foundation/MainClock.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/uikit/ActivityIndicatorView.h"
#include "platform/uikit/AlertView.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/NavigationItem.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/Window.h"
#include "video/KRVideoDetailViewController.h"

#include <QApplication>
#include <QInputMethodQueryEvent>
#include <QTest>

using namespace platform::uikit;
using namespace servicetest;
using platform::MainClock;

namespace {

const QString kSearchPath = QStringLiteral("/x/web-interface/search/type");
const QString kPopularPath = QStringLiteral("/x/web-interface/popular");

// A search reply of `count` videos numbered from `first`, whatever was asked.
FakeReply searchPage(qint64 first, int count)
{
    QVariantList result;
    for (qint64 aid = first; aid < first + count; ++aid)
        result.append(QVariantMap{{"type", "video"}, {"aid", aid}, {"bvid", ServiceFixtures::bvidForAID(aid)},
                                  {"title", QStringLiteral("视频 %1").arg(aid)}, {"author", "阿木"}, {"play", 100}, {"duration", "3:05"}});
    return FakeReply::json(ServiceFixtures::envelope(QVariantMap{{"result", result}}));
}

// The explore tab at the root of a navigation stack in a window, against the fake service.
class SearchScreenTest : public ServiceClientTest {
protected:
    void SetUp() override
    {
        ServiceClientTest::SetUp();
        // Screens open one another through the router, as the running application's do.
        KRRouter::install(KRScreenRoutes());
        KitTest::resetKit();
    }
    void TearDown() override
    {
        window.reset();
        flushDeferredDeletes();
        KitTest::settleKit();
        ServiceClientTest::TearDown();
    }
    // Shows the tab; it asks for the hot ranking as it first appears.
    void show()
    {
        screen = new KRSearchViewController();
        nav = new NavigationController(screen);
        window->setRootViewController(nav);
        window->makeKeyAndVisible();
        AnimationClock::finishAll();
        screen->view()->layoutIfNeeded();
    }
    void settle()
    {
        KR_WAIT_UNTIL(!screen->isLoading());
        QCoreApplication::processEvents();
        AnimationClock::finishAll();
    }
    void type(const QString& text)
    {
        screen->searchField()->becomeFirstResponder();
        screen->searchField()->typeForTesting(text, true);
        AnimationClock::finishAll();
    }
    Button* sortButton(int tag) const { return qobject_cast<Button*>(screen->searchSortBar()->viewWithTag(tag)); }
    KRVideoCell* row(int index) const { return qobject_cast<KRVideoCell*>(screen->tableView()->cellForRowAtIndexPath({0, index})); }
    void scrollToBottom() const
    {
        TableView* table = screen->tableView();
        table->setContentOffset(QPointF(0, std::max<qreal>(0, table->contentSize().height() - table->frame().height())));
    }
    QString footerTitle() const { return screen->loadMoreView()->button()->title(ControlStateNormal); }

    std::unique_ptr<Window> window = std::make_unique<Window>();
    NavigationController* nav = nullptr;
    KRSearchViewController* screen = nullptr;
};

TEST_F(SearchScreenTest, ChromeFollowsTheSystemAndTheEditingState)
{
    struct Case {
        const char* version;
        qreal width, editingWidth, cancelWidth, height;
    };
    for (const Case& c : {Case{"16.7", 351, 291, 54, 36}, Case{"14.8", 252, 200, 45, 34}}) {
        SCOPED_TRACE(c.version);
        platform::DeviceProfile::setSystemVersionForTesting(QString::fromLatin1(c.version));
        show();
        settle();
        auto* field = screen->searchField();
        EXPECT_EQ(screen->title(), QStringLiteral("探索"));
        EXPECT_EQ(screen->navigationItem()->titleView(), screen->searchContainer());
        EXPECT_EQ(screen->searchContainer()->frame().size(), QSizeF(c.width, 44));
        const qreal y = std::floor((44 - c.height) / 2);
        EXPECT_EQ(field->frame(), QRectF(0, y, c.width, c.height));
        EXPECT_EQ(field->placeholder(), QStringLiteral("搜索视频、BV号或UP主"));
        EXPECT_TRUE(screen->searchCancelButton()->isHidden());
        auto* magnifier = qobject_cast<ImageView*>(field->viewWithTag(KRSearchViewController::kMagnifierTag));
        ASSERT_NE(magnifier, nullptr);
        EXPECT_EQ(magnifier->image().size(), QSizeF(28, 18));
        EXPECT_EQ(screen->spinner()->center().x(), 187.5);

        field->becomeFirstResponder();
        AnimationClock::finishAll();
        EXPECT_TRUE(screen->isSearchFieldEditing());
        EXPECT_FALSE(screen->searchCancelButton()->isHidden());
        EXPECT_EQ(field->frame(), QRectF(0, y, c.editingWidth, c.height));
        EXPECT_EQ(screen->searchCancelButton()->frame(), QRectF(c.width - c.cancelWidth, y, c.cancelWidth, c.height));
        EXPECT_EQ(screen->searchCancelButton()->title(ControlStateNormal), QStringLiteral("取消"));

        // Cancel from the hot ranking: editing ends, the ranking stays without a new request.
        const int hotRequests = int(fake.requestsTo(kPopularPath).size());
        screen->searchCancelButton()->tapForTesting();
        AnimationClock::finishAll();
        EXPECT_FALSE(screen->isSearchFieldEditing());
        EXPECT_TRUE(screen->searchCancelButton()->isHidden());
        EXPECT_EQ(field->frame().width(), c.width);
        EXPECT_FALSE(screen->isLoading());
        EXPECT_EQ(fake.requestsTo(kPopularPath).size(), hotRequests);
        EXPECT_TRUE(screen->shouldAutorotateToInterfaceOrientation(InterfaceOrientationPortrait));
        EXPECT_FALSE(screen->shouldAutorotateToInterfaceOrientation(InterfaceOrientationLandscapeLeft));
        window.reset();
        flushDeferredDeletes();
        window = std::make_unique<Window>();
    }
}

TEST_F(SearchScreenTest, ReturnSearchesTheTrimmedKeywordRemembersItAndLogs)
{
    KRSearchHistory::save(QStringLiteral("猫"));
    KRSearchHistory::save(QStringLiteral("狗"));
    ConsoleCapture console;
    show();
    settle();
    EXPECT_TRUE(screen->isShowingHot());
    ASSERT_EQ(screen->videos().size(), 20);
    EXPECT_FALSE(screen->showsSearchSortBar());
    EXPECT_TRUE(screen->searchSortBar()->isHidden());
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneExplore] mode=hot keyword=(null) order=comprehensive page=1 reset=YES appended=20 total=20 first=")));

    type(QStringLiteral("  猫  "));
    EXPECT_FALSE(screen->isSearchFieldEditing());
    EXPECT_EQ(screen->searchField()->text(), QStringLiteral("猫"));
    EXPECT_EQ(KRSearchHistory::read(), (QStringList{"猫", "狗"}));
    settle();
    EXPECT_FALSE(screen->isShowingHot());
    EXPECT_EQ(screen->lastKeyword(), QStringLiteral("猫"));
    ASSERT_EQ(screen->videos().size(), 10);
    EXPECT_EQ(fake.requestsTo(kSearchPath).last().queryValue(QStringLiteral("keyword")), QStringLiteral("猫"));
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneExplore] mode=search keyword=猫 order=comprehensive page=1 reset=YES appended=10 total=10 first=") +
                                 screen->videos().first()->displayIdentifier() + QStringLiteral(" play=")));
    EXPECT_EQ(screen->loadMoreView()->state(), KRLoadMoreStateIdle);

    // The sort bar heads the results: four buttons of 87 at x 7, 98, 189, 280.
    EXPECT_TRUE(screen->showsSearchSortBar());
    EXPECT_FALSE(screen->searchSortBar()->isHidden());
    EXPECT_EQ(screen->searchSortBar()->frame(), QRectF(0, 0, 375, 40));
    // Scrolled down the results, the bar stays pinned above the rows shown.
    TableView* table = screen->tableView();
    table->setContentOffset(QPointF(0, 200));
    EXPECT_EQ(screen->searchSortBar()->frame(), QRectF(0, 200 + table->contentInset().top, 375, 40));
    EXPECT_FALSE(screen->searchSortBar()->isHidden());
    table->setContentOffset(QPointF(0, -table->contentInset().top));
    EXPECT_EQ(screen->searchSortBar()->frame().top(), 0);
    const qreal xs[] = {7, 98, 189, 280};
    const char16_t* titles[] = {u"综合", u"播放最多", u"最新", u"弹幕最多"};
    for (int i = 0; i < 4; ++i) {
        Button* b = sortButton(KRSearchViewController::kSortTagComprehensive + i);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->frame(), QRectF(xs[i], 4, 87, 32));
        EXPECT_EQ(b->title(ControlStateNormal), QString::fromUtf16(titles[i]));
        EXPECT_EQ(b->isSelected(), i == 0);
    }
    EXPECT_EQ(row(0)->titleLabel()->text(), screen->videos().first()->title());
    EXPECT_EQ(row(0)->accessoryType(), TableViewCellAccessoryNone);
    EXPECT_EQ(screen->tableView()->rectForRowAtIndexPath({0, 0}), QRectF(0, 40, 375, 86));

    // A result opens its video page.
    screen->tableView()->tapRowForTesting({0, 2});
    AnimationClock::finishAll();
    auto* page = qobject_cast<KRVideoDetailViewController*>(nav->topViewController());
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->video(), screen->videos().at(2));
}

TEST_F(SearchScreenTest, SortOrdersSendOneRequestEachAndNoneWhenNothingChanges)
{
    show();
    settle();
    // Covers of the ranking still on their way would be counted as the button's.
    KR_WAIT_UNTIL(KRImageLoader::sharedLoader()->downloadCountForTesting() == 0);
    // In the hot ranking a sort button does nothing.
    // Covers keep loading meanwhile: only the list's own requests count.
    const auto listRequests = [&] { return fake.requestsTo(kSearchPath).size() + fake.requestsTo(kPopularPath).size(); };
    const qsizetype sent = listRequests();
    screen->searchSortBar()->setHidden(false);
    sortButton(KRSearchViewController::kSortTagPubdate)->tapForTesting();
    EXPECT_FALSE(screen->isLoading());
    KR_WAIT_UNTIL(KRAPIWorkerQueue()->operationCount() == 0);
    EXPECT_EQ(listRequests(), sent);
    EXPECT_TRUE(screen->searchOrder().isNull());

    screen->beginSearchForKeyword(QStringLiteral("木工"));
    settle();
    const int searches = int(fake.requestsTo(kSearchPath).size());
    sortButton(KRSearchViewController::kSortTagComprehensive)->tapForTesting();
    EXPECT_FALSE(screen->isLoading());

    sortButton(KRSearchViewController::kSortTagPubdate)->tapForTesting();
    EXPECT_TRUE(screen->isLoading());
    EXPECT_TRUE(screen->spinner()->isAnimating());
    sortButton(KRSearchViewController::kSortTagPubdate)->tapForTesting();
    settle();
    ASSERT_EQ(fake.requestsTo(kSearchPath).size(), searches + 1);
    EXPECT_EQ(fake.requestsTo(kSearchPath).last().queryValue(QStringLiteral("order")), QStringLiteral("pubdate"));
    EXPECT_EQ(fake.requestsTo(kSearchPath).last().queryValue(QStringLiteral("page")), QStringLiteral("1"));
    EXPECT_TRUE(sortButton(KRSearchViewController::kSortTagPubdate)->isSelected());
    EXPECT_FALSE(sortButton(KRSearchViewController::kSortTagComprehensive)->isSelected());
    EXPECT_EQ(screen->videos().size(), 10);

    // Back to the default: one request without an order.
    sortButton(KRSearchViewController::kSortTagComprehensive)->tapForTesting();
    settle();
    ASSERT_EQ(fake.requestsTo(kSearchPath).size(), searches + 2);
    EXPECT_TRUE(fake.requestsTo(kSearchPath).last().queryValue(QStringLiteral("order")).isNull());
}

TEST_F(SearchScreenTest, HistoryPanelKeepsTwelveAndItsButtonsAct)
{
    // Whatever else the key holds is read as absent.
    platform::UserDefaults::standard().setObject(KRSearchHistory::kDefaultsKey, QStringLiteral("猫"));
    EXPECT_TRUE(KRSearchHistory::read().isEmpty());
    platform::UserDefaults::standard().setObject(KRSearchHistory::kDefaultsKey, QVariantList{7, "", "猫", "猫", true, "狗"});
    EXPECT_EQ(KRSearchHistory::read(), (QStringList{"猫", "狗"}));
    EXPECT_EQ(KRSearchHistory::save(QStringLiteral(" \n")), (QStringList{"猫", "狗"}));
    // A keyword the defaults cannot hold is refused, and says so; the list stays as it was.
    bool remembered = true;
    EXPECT_EQ(KRSearchHistory::save(QStringLiteral("a") + QChar(0) + QStringLiteral("b"), &remembered), (QStringList{"猫", "狗"}));
    EXPECT_FALSE(remembered);
    EXPECT_EQ(KRSearchHistory::save(QStringLiteral(" 鱼 "), &remembered), (QStringList{"鱼", "猫", "狗"}));
    EXPECT_TRUE(remembered);
    EXPECT_EQ(KRSearchHistory::save(QStringLiteral("猫"), &remembered), (QStringList{"猫", "鱼", "狗"}));
    EXPECT_TRUE(remembered);
    platform::UserDefaults::standard().setObject(KRSearchHistory::kDefaultsKey, QVariantList{"猫", "狗"});

    QStringList expected;
    for (int i = 1; i <= 13; ++i) {
        KRSearchHistory::save(QStringLiteral("词%1").arg(i));
        expected.prepend(QStringLiteral("词%1").arg(i));
    }
    EXPECT_EQ(KRSearchHistory::read(), expected.mid(0, 12));

    show();
    settle();
    EXPECT_EQ(screen->searchHistoryView()->frame().height(), 0);
    screen->searchField()->becomeFirstResponder();
    AnimationClock::finishAll();
    ASSERT_EQ(screen->searchHistoryButtons().size(), 12);
    EXPECT_FALSE(screen->searchHistoryView()->isHidden());
    EXPECT_EQ(screen->tableView()->tableHeaderView(), screen->searchHistoryView());
    EXPECT_EQ(screen->searchHistoryView()->frame(), QRectF(0, 0, 375, 36 + 38 * 12));
    EXPECT_EQ(screen->searchHistoryTitleLabel()->text(), QStringLiteral("搜索历史"));
    EXPECT_EQ(screen->searchHistoryClearButton()->frame(), QRectF(293, 1, 74, 28));
    Button* third = screen->searchHistoryButtons().at(2);
    EXPECT_EQ(third->tag(), KRSearchViewController::kHistoryKeywordTagBase + 2);
    EXPECT_EQ(third->frame(), QRectF(8, 31 + 76, 359, 34));
    EXPECT_EQ(third->title(ControlStateNormal), QStringLiteral("词11"));
    EXPECT_EQ(screen->searchHistoryDeleteButtons().at(2)->frame(), QRectF(331, 31 + 76, 36, 34));
    EXPECT_FALSE(screen->showsSearchSortBar());

    // "×" drops its entry.
    screen->searchHistoryDeleteButtons().at(0)->tapForTesting();
    flushDeferredDeletes();
    EXPECT_EQ(KRSearchHistory::read(), expected.mid(1, 11));
    ASSERT_EQ(screen->searchHistoryButtons().size(), 11);

    // A keyword searches and comes first; the panel goes with the editing.
    screen->searchHistoryButtons().at(3)->tapForTesting();
    flushDeferredDeletes();
    AnimationClock::finishAll();
    EXPECT_FALSE(screen->isSearchFieldEditing());
    EXPECT_EQ(screen->lastKeyword(), QStringLiteral("词9"));
    EXPECT_EQ(KRSearchHistory::read().first(), QStringLiteral("词9"));
    EXPECT_EQ(KRSearchHistory::read().size(), 11);
    EXPECT_TRUE(screen->searchHistoryView()->isHidden());
    EXPECT_EQ(screen->searchHistoryView()->frame().height(), 0);
    settle();
    EXPECT_EQ(fake.requestsTo(kSearchPath).last().queryValue(QStringLiteral("keyword")), QStringLiteral("词9"));

    // "一键清除" empties it.
    screen->searchField()->becomeFirstResponder();
    AnimationClock::finishAll();
    screen->searchHistoryClearButton()->tapForTesting();
    flushDeferredDeletes();
    EXPECT_TRUE(screen->searchHistoryButtons().isEmpty());
    EXPECT_FALSE(platform::UserDefaults::standard().contains(KRSearchHistory::kDefaultsKey));
    EXPECT_TRUE(screen->searchHistoryView()->isHidden());
}

// A user's press, which is where the focus would move, rather than the testing tap.
void press(Button* button)
{
    ASSERT_NE(button, nullptr);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(int(button->frame().width() / 2), int(button->frame().height() / 2)));
}

TEST_F(SearchScreenTest, PressesOnTheHistoryAndCancelActWhileTheFieldIsEditing)
{
    KRSearchHistory::save(QStringLiteral("猫"));
    KRSearchHistory::save(QStringLiteral("狗"));
    show();
    window->activateWindow();
    KR_WAIT_UNTIL(window->isActiveWindow());
    settle();

    screen->searchField()->becomeFirstResponder();
    AnimationClock::finishAll();
    ASSERT_EQ(screen->searchHistoryButtons().size(), 2);
    press(screen->searchHistoryButtons().at(1));
    settle();
    EXPECT_EQ(screen->lastKeyword(), QStringLiteral("猫"));
    EXPECT_EQ(fake.requestsTo(kSearchPath).size(), 1);
    EXPECT_EQ(KRSearchHistory::read(), (QStringList{"猫", "狗"}));

    screen->searchField()->becomeFirstResponder();
    AnimationClock::finishAll();
    press(screen->searchHistoryDeleteButtons().at(1));
    EXPECT_EQ(KRSearchHistory::read(), QStringList{"猫"});
    EXPECT_TRUE(screen->isSearchFieldEditing());

    press(screen->searchCancelButton());
    AnimationClock::finishAll();
    EXPECT_FALSE(screen->isSearchFieldEditing());
    EXPECT_TRUE(screen->searchField()->text().isEmpty());
    EXPECT_TRUE(screen->isShowingHot());
}

TEST_F(SearchScreenTest, LateHotReplyIsDroppedAfterASearch)
{
    // The hot list answers after 2 s; a search starts meanwhile.
    serve(kPopularPath, [] {
        FakeReply reply = searchPage(990000, 20);
        reply.delayMs = 2000;
        return reply;
    }());
    ConsoleCapture console;
    show();
    EXPECT_TRUE(screen->isLoading());
    KR_WAIT_UNTIL(fake.requestsTo(kPopularPath).size() == 1);
    screen->beginSearchForKeyword(QStringLiteral("猫"));
    settle();
    ASSERT_EQ(screen->videos().size(), 10);
    // Wait until the hot reply has been delivered to the main thread, then look again.
    KR_WAIT_UNTIL(KRAPIWorkerQueue()->operationCount() == 0);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(screen->videos().size(), 10);
    EXPECT_EQ(screen->lastKeyword(), QStringLiteral("猫"));
    EXPECT_FALSE(screen->isShowingHot());
    EXPECT_FALSE(console.contains(QStringLiteral("mode=hot")));
    EXPECT_EQ(window->visibleAlert(), nullptr);
}

TEST_F(SearchScreenTest, EmptyAndRepeatedPagesEndTheList)
{
    serve(kSearchPath, searchPage(0, 0));
    show();
    settle();
    screen->beginSearchForKeyword(QStringLiteral("无此视频"));
    settle();
    EXPECT_TRUE(screen->videos().isEmpty());
    ASSERT_EQ(screen->tableView()->numberOfRowsInSection(0), 1);
    EXPECT_EQ(row(0)->titleLabel()->text(), QStringLiteral("没有找到相关视频"));
    EXPECT_EQ(row(0)->ownerLabel()->text(), QStringLiteral("可尝试 BV 号、标题或 UP 主关键词"));
    EXPECT_EQ(screen->loadMoreView()->state(), KRLoadMoreStateNoMore);
    EXPECT_EQ(footerTitle(), QStringLiteral("已经到底了"));
    EXPECT_FALSE(screen->hasMorePages());

    // Every page the same ten videos: the second appends nothing and ends paging. The keyword
    // holds what a format string would take for its own.
    serve(kSearchPath, searchPage(810000, 10));
    ConsoleCapture console;
    screen->beginSearchForKeyword(QStringLiteral("%2 100%"));
    settle();
    EXPECT_TRUE(console.contains(QStringLiteral("mode=search keyword=%2 100% order=comprehensive page=1 reset=YES appended=10 total=10 first=")));
    ASSERT_EQ(screen->videos().size(), 10);
    EXPECT_TRUE(screen->hasMorePages());
    scrollToBottom();
    EXPECT_TRUE(screen->isLoading());
    EXPECT_EQ(footerTitle(), QStringLiteral("正在加载更多…"));
    settle();
    EXPECT_EQ(screen->page(), 2);
    EXPECT_EQ(screen->videos().size(), 10);
    EXPECT_FALSE(screen->hasMorePages());
    EXPECT_EQ(footerTitle(), QStringLiteral("已经到底了"));
    const int searches = int(fake.requestsTo(kSearchPath).size());
    scrollToBottom();
    screen->loadMoreView()->button()->sendActionsForControlEvents(ControlEventTouchUpInside);
    EXPECT_FALSE(screen->isLoading());
    EXPECT_EQ(fake.requestsTo(kSearchPath).size(), searches);
}

TEST_F(SearchScreenTest, FailedFirstPageOffersARetryAndNeverPagesOntoOtherRows)
{
    // The first hot page fails: the footer offers the first page again.
    serve(kPopularPath, ServiceFixtures::serverFailure(500));
    show();
    settle();
    AlertView* alert = window->visibleAlert();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->title(), QStringLiteral("热门加载失败"));
    EXPECT_EQ(alert->buttonTitles(), QStringList{QStringLiteral("知道了")});
    alert->tapButtonForTesting(0);
    flushDeferredDeletes();
    EXPECT_EQ(screen->loadMoreView()->state(), KRLoadMoreStateFailed);
    EXPECT_EQ(footerTitle(), QStringLiteral("加载失败，点击重试"));
    EXPECT_EQ(row(0)->titleLabel()->text(), QStringLiteral("热门排行暂无内容"));

    ServiceFixtures::installReadRoutes(fake);
    screen->loadMoreView()->button()->tapForTesting();
    EXPECT_TRUE(screen->isLoading());
    settle();
    EXPECT_EQ(fake.requestsTo(kPopularPath).last().queryValue(QStringLiteral("pn")), QStringLiteral("1"));
    ASSERT_EQ(screen->videos().size(), 20);
    EXPECT_EQ(screen->loadMoreView()->state(), KRLoadMoreStateIdle);

    // A search whose first page fails keeps the hot rows but never appends its pages to them.
    serve(kSearchPath, ServiceFixtures::serverFailure(500));
    screen->beginSearchForKeyword(QStringLiteral("狗"));
    settle();
    ASSERT_NE(window->visibleAlert(), nullptr);
    EXPECT_EQ(window->visibleAlert()->title(), QStringLiteral("搜索失败"));
    window->visibleAlert()->tapButtonForTesting(0);
    flushDeferredDeletes();
    EXPECT_EQ(screen->videos().size(), 20);
    EXPECT_EQ(footerTitle(), QStringLiteral("加载失败，点击重试"));
    const int searches = int(fake.requestsTo(kSearchPath).size());
    const int hot = int(fake.requestsTo(kPopularPath).size());
    scrollToBottom();
    EXPECT_FALSE(screen->isLoading());

    ServiceFixtures::installReadRoutes(fake);
    screen->loadMoreView()->button()->tapForTesting();
    settle();
    ASSERT_EQ(fake.requestsTo(kSearchPath).size(), searches + 1);
    EXPECT_EQ(fake.requestsTo(kSearchPath).last().queryValue(QStringLiteral("page")), QStringLiteral("1"));
    EXPECT_EQ(fake.requestsTo(kPopularPath).size(), hot);
    EXPECT_EQ(screen->videos().size(), 10) << "the hot rows were replaced, not extended";
    EXPECT_EQ(screen->page(), 1);

    // A later page that fails keeps the rows and retries that page.
    serve(kSearchPath, ServiceFixtures::serverFailure(502));
    scrollToBottom();
    settle();
    window->visibleAlert()->tapButtonForTesting(0);
    EXPECT_EQ(footerTitle(), QStringLiteral("加载失败，点击重试"));
    EXPECT_EQ(screen->videos().size(), 10);
    ServiceFixtures::installReadRoutes(fake);
    screen->loadMoreView()->button()->tapForTesting();
    settle();
    EXPECT_EQ(fake.requestsTo(kSearchPath).last().queryValue(QStringLiteral("page")), QStringLiteral("2"));
    EXPECT_EQ(screen->videos().size(), 20);
}

// A refresh of a list that had reached its end fails with an error that carries no message:
// the alert says what the platform says for it, and the list still ends where it ended.
TEST_F(SearchScreenTest, AFailedRefreshWithoutAMessageSaysTheOperationCouldNotBeDoneAndTheEndStays)
{
    show();
    settle();
    serve(kSearchPath, searchPage(830000, 3));
    screen->beginSearchForKeyword(QStringLiteral("尽头"));
    settle();
    // The short first page asks for the next, which repeats it: the list ends.
    ASSERT_TRUE(screen->isNextPageScheduled());
    MainClock::advanceForTesting(0.2);
    settle();
    ASSERT_EQ(screen->page(), 2);
    ASSERT_FALSE(screen->hasMorePages());
    ASSERT_EQ(footerTitle(), QStringLiteral("已经到底了"));

    // The refresh's own answer is held until the test has failed the refresh itself: answered
    // at once, it could land while the pull's events are still being delivered.
    auto gate = std::make_shared<AnswerGate>();
    fake.route(KRServiceHosts::apiHost(), kSearchPath, [gate](const FakeRequest&) {
        gate->wait();
        return searchPage(830000, 3);
    });

    // A pull, by the mouse.
    TableView* table = screen->tableView();
    const QPoint start = table->mapTo(window.get(), QPoint(int(table->frame().width() / 2), 60));
    QTest::mousePress(window->windowHandle(), Qt::LeftButton, {}, start);
    for (int down : {10, 60, 120, 180, 240})
        QTest::mouseMove(window->windowHandle(), start + QPoint(0, down));
    QTest::mouseRelease(window->windowHandle(), Qt::LeftButton, {}, start + QPoint(0, 240));
    ASSERT_EQ(screen->pullRefreshView()->state(), KRPullRefreshStateRefreshing);
    ASSERT_TRUE(screen->isLoading());
    screen->failOutstandingRequestForTesting(1, true, KRError(QStringLiteral("KRTestErrorDomain"), 7, QString()));
    AlertView* alert = window->visibleAlert();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->title(), QStringLiteral("搜索失败"));
    EXPECT_EQ(alert->message(), QStringLiteral("操作无法完成"));
    EXPECT_EQ(alert->buttonTitles(), QStringList{QStringLiteral("知道了")});
    alert->tapButtonForTesting(0);
    flushDeferredDeletes();
    EXPECT_EQ(screen->videos().size(), 3);
    EXPECT_EQ(screen->loadMoreView()->state(), KRLoadMoreStateNoMore);
    EXPECT_EQ(footerTitle(), QStringLiteral("已经到底了"));
    EXPECT_EQ(screen->pullRefreshView()->state(), KRPullRefreshStateIdle);

    // The refresh's real answer, let go now, belongs to a request the screen has given up.
    gate->release();
    KR_WAIT_UNTIL(KRAPIWorkerQueue()->operationCount() == 0);
    settle();
    EXPECT_EQ(window->visibleAlert(), nullptr);
    EXPECT_EQ(screen->videos().size(), 3);
    EXPECT_EQ(footerTitle(), QStringLiteral("已经到底了"));
}

TEST_F(SearchScreenTest, ShortPagesFillTheScreenTwiceAtMostAndAPullReloads)
{
    show();
    settle();
    fake.route(KRServiceHosts::apiHost(), kSearchPath, [](const FakeRequest& request) {
        return searchPage(820000 + request.queryValue(QStringLiteral("page")).toInt() * 100, 2);
    });
    screen->beginSearchForKeyword(QStringLiteral("短"));
    settle();
    EXPECT_TRUE(screen->isNextPageScheduled());
    MainClock::advanceForTesting(0.199);
    EXPECT_EQ(screen->page(), 1) << "the next page waits a fifth of a second";
    EXPECT_FALSE(screen->isLoading());
    MainClock::advanceForTesting(0.001);
    EXPECT_TRUE(screen->isLoading());
    settle();
    EXPECT_EQ(screen->page(), 2);
    EXPECT_TRUE(screen->isNextPageScheduled());
    MainClock::advanceForTesting(0.2);
    settle();
    EXPECT_EQ(screen->page(), 3);
    EXPECT_EQ(screen->videos().size(), 6);
    EXPECT_FALSE(screen->isNextPageScheduled());
    EXPECT_TRUE(screen->hasMorePages());
    const auto searches = fake.requestsTo(kSearchPath);
    EXPECT_EQ(searches.at(searches.size() - 2).queryValue(QStringLiteral("page")), QStringLiteral("2"));
    EXPECT_EQ(searches.last().queryValue(QStringLiteral("page")), QStringLiteral("3"));

    // A pull reloads the first page of the same search, without the top spinner.
    TableView* table = screen->tableView();
    table->beginDragForTesting();
    table->dragToOffsetForTesting(QPointF(0, -64));
    EXPECT_EQ(screen->pullRefreshView()->state(), KRPullRefreshStateArmed);
    table->endDragForTesting(QPointF());
    EXPECT_EQ(screen->pullRefreshView()->state(), KRPullRefreshStateRefreshing);
    EXPECT_TRUE(screen->isLoading());
    EXPECT_FALSE(screen->spinner()->isAnimating());
    settle();
    EXPECT_EQ(fake.requestsTo(kSearchPath).size(), searches.size() + 1);
    EXPECT_EQ(fake.requestsTo(kSearchPath).last().queryValue(QStringLiteral("page")), QStringLiteral("1"));
    EXPECT_EQ(fake.requestsTo(kSearchPath).last().queryValue(QStringLiteral("keyword")), QStringLiteral("短"));
    EXPECT_EQ(screen->pullRefreshView()->state(), KRPullRefreshStateIdle);
    EXPECT_EQ(table->contentInset().top, 0);
    EXPECT_EQ(screen->page(), 1);
    EXPECT_EQ(screen->videos().size(), 2) << "a reset replaces the rows";
}

TEST_F(SearchScreenTest, ThemeChangesRecolourTheChromeAndTheFieldKeepsItsColours)
{
    KRTheme::sharedTheme()->setStyle(2);
    show();
    settle();
    screen->beginSearchForKeyword(QStringLiteral("猫"));
    settle();
    KRTheme::sharedTheme()->setStyle(1);
    KRTheme* theme = KRTheme::sharedTheme();
    KRThemedSearchTextField* field = screen->searchField();
    EXPECT_EQ(field->resolvedTextColor(), theme->primaryTextColor());
    EXPECT_EQ(field->placeholderTextColor(), theme->secondaryTextColor());
    EXPECT_EQ(screen->searchCancelButton()->titleColor(ControlStateNormal), theme->navigationTextColor());
    EXPECT_EQ(sortButton(KRSearchViewController::kSortTagComprehensive)->titleColor(ControlStateNormal), KRTarnwick23ButtonTitleColor(theme));
    EXPECT_EQ(sortButton(KRSearchViewController::kSortTagClick)->titleColor(ControlStateNormal), KRTarnwick23PaleButtonTitleColor(theme));
    EXPECT_FALSE(screen->searchSortBar()->isHidden());

    // A new text keeps the theme's colour; the placeholder is drawn in the kept colour.
    field->setTextColor(Qt::green);
    field->setText(QStringLiteral("狗"));
    EXPECT_EQ(field->textColor(), theme->primaryTextColor());
    field->applyResolvedTextColor(Qt::black, QColor(255, 0, 0));
    field->setText(QString());
    field->setBackground(Image());
    auto redPixels = [&] {
        const QImage shot = field->grab().toImage();
        int red = 0;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x)
                red += colorNear(shot.pixelColor(x, y), QColor(255, 0, 0), 60) ? 1 : 0;
        return red;
    };
    EXPECT_GT(redPixels(), 20);
    field->setPlaceholder(QString());
    EXPECT_EQ(redPixels(), 0);
    KRTheme::sharedTheme()->setStyle(2);
}

// The field's keyboard: a search return key, nothing capitalised or corrected by itself, dark
// in the black style, the cursor in the accent colour; an input method asking the focused field
// is told as much.
TEST_F(SearchScreenTest, TheFieldsKeyboardSearchesCorrectsNothingAndFollowsTheStyle)
{
    KRTheme* theme = KRTheme::sharedTheme();
    theme->setStyle(1);
    show();
    settle();
    window->activateWindow();
    KR_WAIT_UNTIL(window->isActiveWindow());
    KRThemedSearchTextField* field = screen->searchField();
    EXPECT_EQ(field->returnKeyType(), ReturnKeySearch);
    EXPECT_EQ(field->autocapitalizationType(), TextAutocapitalizationTypeNone);
    EXPECT_EQ(field->autocorrectionType(), TextAutocorrectionTypeNo);
    EXPECT_EQ(field->keyboardAppearance(), KeyboardAppearanceDark);
    EXPECT_EQ(field->tintColor(), theme->accentColor());
    for (int style : {0, 2}) {
        theme->setStyle(style);
        EXPECT_EQ(field->keyboardAppearance(), KeyboardAppearanceDefault) << style;
        EXPECT_EQ(field->tintColor(), theme->accentColor()) << style;
    }

    QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, field->mapTo(window.get(), field->rect().center()));
    ASSERT_TRUE(field->isFirstResponder());
    QInputMethodQueryEvent asked(Qt::ImEnterKeyType | Qt::ImHints);
    QCoreApplication::sendEvent(QApplication::focusWidget(), &asked);
    EXPECT_EQ(asked.value(Qt::ImEnterKeyType).toInt(), Qt::EnterKeySearch);
    EXPECT_EQ(asked.value(Qt::ImHints).toInt() & (Qt::ImhNoAutoUppercase | Qt::ImhNoPredictiveText),
              Qt::ImhNoAutoUppercase | Qt::ImhNoPredictiveText);
    // The cursor where the typed text ends, in the accent colour.
    QTest::sendKeyEvent(QTest::Click, window->windowHandle(), Qt::Key_unknown, QStringLiteral("猫"), Qt::NoModifier);
    EXPECT_EQ(field->text(), QStringLiteral("猫"));
    EXPECT_GE(pixelsNear(field->grab().toImage(), theme->accentColor(), 30), 10);
}

TEST_F(SearchScreenTest, ErasingTheKeywordReturnsToTheHotRanking)
{
    show();
    settle();
    screen->beginSearchForKeyword(QStringLiteral("猫"));
    settle();
    const int hot = int(fake.requestsTo(kPopularPath).size());
    screen->searchField()->becomeFirstResponder();
    screen->searchField()->setText(QString());
    screen->searchField()->typeForTesting(QStringLiteral(" "));
    MainClock::advanceForTesting(0.119);
    EXPECT_FALSE(screen->isShowingHot()) << "the ranking comes back 0.12 s after the typing";
    MainClock::advanceForTesting(0.001);
    EXPECT_TRUE(screen->isShowingHot());
    settle();
    EXPECT_EQ(fake.requestsTo(kPopularPath).size(), hot + 1);
    EXPECT_EQ(screen->videos().size(), 20);
    EXPECT_TRUE(screen->lastKeyword().isNull());

    // The field's clear button and the cancel button lead back to the ranking as well.
    screen->beginSearchForKeyword(QStringLiteral("狗"));
    settle();
    screen->searchField()->becomeFirstResponder();
    screen->searchField()->tapClearButtonForTesting();
    EXPECT_TRUE(screen->searchField()->text().isEmpty());
    MainClock::advanceForTesting(0.049);
    EXPECT_FALSE(screen->isShowingHot()) << "and 0.05 s after the clear button";
    MainClock::advanceForTesting(0.001);
    EXPECT_TRUE(screen->isShowingHot());
    settle();
    EXPECT_EQ(fake.requestsTo(kPopularPath).size(), hot + 2);
    screen->beginSearchForKeyword(QStringLiteral("狗"));
    settle();
    screen->searchField()->becomeFirstResponder();
    screen->searchCancelButton()->tapForTesting();
    EXPECT_TRUE(screen->isShowingHot());
    EXPECT_FALSE(screen->isSearchFieldEditing());
    settle();
    EXPECT_EQ(fake.requestsTo(kPopularPath).size(), hot + 3);

    // A tag's screen searches for the tag as it first appears and remembers it.
    auto* tagScreen = new KRSearchViewController(QStringLiteral(" 手工 "));
    nav->pushViewController(tagScreen, false);
    AnimationClock::finishAll();
    KR_WAIT_UNTIL(!tagScreen->isLoading() && !tagScreen->videos().isEmpty());
    EXPECT_EQ(tagScreen->lastKeyword(), QStringLiteral("手工"));
    EXPECT_EQ(KRSearchHistory::read().first(), QStringLiteral("手工"));
    EXPECT_EQ(tagScreen->searchContainer()->frame().width(), 267) << "375 less 24 and 84 for the back button";
}

} // namespace
