#include "browse/BrowseScreenTesting.h"

#include "shared/KRPullRefreshView.h"
#include "browse/KRVideoCell.h"
#include "browse/KRVideoGridCell.h"
#include "platform/uikit/ActivityIndicatorView.h"
#include "platform/uikit/AlertView.h"
#include "platform/uikit/BarButtonItem.h"
#include "platform/uikit/NavigationItem.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "social/KRMessageViewController.h"
#include "store/KRPreferences.h"
#include "support/AnswerGate.h"
#include "support/ConsoleCapture.h"
#include "video/KRVideoDetailViewController.h"

#include <QTest>
#include <QWindow>

using namespace browsetest;

namespace {

using VideoListTest = BrowseScreenTest;

TEST_F(VideoListTest, AShortFirstPageFillsTheScreenWithTwoMorePagesAFifthOfASecondApart)
{
    auto script = scriptHome([](int n) { return FeedAnswer{consecutive(910000 + n * 10, 2)}; });
    KRVideoListViewController* list = showHome();
    EXPECT_EQ(list->title(), QStringLiteral("首页"));
    EXPECT_TRUE(list->spinner()->isAnimating());
    waitForPage(list, 1);
    EXPECT_TRUE(list->isAutoFillPending());
    platform::MainClock::advanceForTesting(0.199);
    EXPECT_FALSE(list->isLoading()) << "the next page waits a fifth of a second";
    platform::MainClock::advanceForTesting(0.001);
    EXPECT_TRUE(list->isLoading());
    waitForPage(list, 3);

    EXPECT_EQ(script->count(), 3);
    EXPECT_EQ(script->arrivals.at(1) - script->arrivals.at(0), 200);
    EXPECT_EQ(script->arrivals.at(2) - script->arrivals.at(1), 200);
    EXPECT_FALSE(list->isAutoFillPending()) << "never a third automatic page before the next reset";
    EXPECT_EQ(list->tableView()->numberOfRowsInSection(0), 6);
    EXPECT_FALSE(list->spinner()->isAnimating());
    EXPECT_EQ(footerTitle(list), QStringLiteral("上拉加载更多"));

    // A reset load allows two more.
    list->reloadVideos();
    waitForPage(list, 3);
    EXPECT_EQ(script->count(), 6);
    EXPECT_EQ(list->videos().size(), 6);
    EXPECT_EQ(list->videos().first()->aid(), 910030);
}

TEST_F(VideoListTest, PullingDownReloadsTheFirstPageUnderTheRefreshHeader)
{
    auto script = scriptHome([](int n) { return FeedAnswer{consecutive(920000 + n * 100, 20)}; });
    KRVideoListViewController* list = showHome();
    waitForPage(list, 1);
    ASSERT_EQ(list->videos().size(), 20);
    EXPECT_FALSE(list->isAutoFillPending());

    TableView* table = list->tableView();
    table->beginDragForTesting();
    table->dragToOffsetForTesting(QPointF(0, -64));
    EXPECT_EQ(list->pullRefreshView()->state(), KRPullRefreshStateArmed);
    table->endDragForTesting(QPointF());
    EXPECT_EQ(list->pullRefreshView()->statusLabel()->text(), QStringLiteral("正在更新…"));
    AnimationClock::finishAll();
    EXPECT_EQ(table->contentInset().top, 64);
    EXPECT_TRUE(list->isLoading());
    EXPECT_FALSE(list->spinner()->isAnimating()) << "the header shows the reload, not the top spinner";

    waitForPage(list, 1);
    AnimationClock::finishAll();
    EXPECT_EQ(script->count(), 2);
    EXPECT_EQ(table->contentInset().top, 0);
    EXPECT_EQ(list->pullRefreshView()->state(), KRPullRefreshStateIdle);
    ASSERT_EQ(list->videos().size(), 20);
    EXPECT_EQ(list->videos().first()->aid(), 920100) << "a reset load replaces the list";
}

TEST_F(VideoListTest, AFailedLaterPageKeepsTheRowsAndItsFooterRetries)
{
    bool failing = true;
    std::mutex lock;
    auto script = scriptHome([&](int n) {
        std::lock_guard guard(lock);
        return n == 0 ? FeedAnswer{consecutive(930000, 20)} : FeedAnswer{consecutive(930100, 20), failing};
    });
    KRVideoListViewController* list = showHome();
    waitForPage(list, 1);

    scrollToEnd(list);
    EXPECT_TRUE(list->isLoading());
    EXPECT_EQ(footerTitle(list), QStringLiteral("正在加载更多…"));
    KR_WAIT_UNTIL(window->visibleAlert() != nullptr);
    AlertView* alert = window->visibleAlert();
    EXPECT_EQ(alert->title(), QStringLiteral("加载失败"));
    EXPECT_EQ(alert->message(), QStringLiteral("服务器返回 HTTP 500，请稍后重试"));
    EXPECT_EQ(alert->buttonTitles(), QStringList{QStringLiteral("知道了")});
    EXPECT_EQ(requestsTo(kPopular).size(), 1) << "the feed fell back to the popular list, which failed too";
    EXPECT_FALSE(list->isLoading());
    EXPECT_EQ(list->page(), 1);
    EXPECT_EQ(list->tableView()->numberOfRowsInSection(0), 20);
    EXPECT_EQ(footerTitle(list), QStringLiteral("加载失败，点击重试"));
    alert->tapButtonForTesting(0);

    {
        std::lock_guard guard(lock);
        failing = false;
    }
    list->loadMoreView()->button()->tapForTesting();
    waitForPage(list, 2);
    EXPECT_EQ(list->videos().size(), 40);
    EXPECT_EQ(footerTitle(list), QStringLiteral("上拉加载更多"));
}

TEST_F(VideoListTest, AFailedFirstPageKeepsPageZeroAndTheFooterAsksForPageOneAgain)
{
    bool failing = true;
    std::mutex lock;
    auto script = scriptHome([&](int) {
        std::lock_guard guard(lock);
        return FeedAnswer{consecutive(935000, 20), failing};
    });
    KRVideoListViewController* list = showHome();
    KR_WAIT_UNTIL(window->visibleAlert() != nullptr);
    window->visibleAlert()->tapButtonForTesting(0);
    EXPECT_EQ(list->page(), 0);
    EXPECT_TRUE(list->hasMorePages());
    EXPECT_EQ(footerTitle(list), QStringLiteral("上拉加载更多"));
    // The empty-state row stands in for the list.
    auto* row = qobject_cast<KRVideoCell*>(list->tableView()->cellForRowAtIndexPath({0, 0}));
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->titleLabel()->text(), QStringLiteral("暂无视频，下拉更新"));

    {
        std::lock_guard guard(lock);
        failing = false;
    }
    list->loadMoreView()->button()->tapForTesting();
    waitForPage(list, 1);
    EXPECT_EQ(list->videos().size(), 20);
}

TEST_F(VideoListTest, APageOfRepeatsEndsPagingButAResetWithThemKeepsGoing)
{
    auto script = scriptHome([](int) { return FeedAnswer{consecutive(940000, 20)}; });
    KRVideoListViewController* list = showHome();
    waitForPage(list, 1);

    scrollToEnd(list);
    waitForPage(list, 2);
    EXPECT_EQ(list->videos().size(), 20);
    EXPECT_FALSE(list->hasMorePages());
    EXPECT_EQ(footerTitle(list), QStringLiteral("已经到底了"));
    EXPECT_FALSE(list->loadMoreView()->button()->isEnabled());
    scrollToEnd(list);
    list->loadNextPage();
    EXPECT_FALSE(list->isLoading());
    EXPECT_EQ(script->count(), 2);

    list->reloadVideos();
    waitForPage(list, 1);
    EXPECT_EQ(script->count(), 3);
    EXPECT_TRUE(list->hasMorePages());
    EXPECT_EQ(footerTitle(list), QStringLiteral("上拉加载更多"));
}

TEST_F(VideoListTest, APullToRefreshAnsweredWithTheSameVideosShowsThemAgain)
{
    // The reload's answer waits until the list has been seen loading: the turn of the event
    // loop that delivers the release could otherwise bring it already.
    auto reloadAnswer = std::make_shared<AnswerGate>();
    auto script = scriptHome([reloadAnswer](int n) {
        if (n == 1)
            reloadAnswer->wait();
        return FeedAnswer{consecutive(945000, 20)};
    });
    KRVideoListViewController* list = showHome();
    waitForPage(list, 1);
    TableView* table = list->tableView();
    ASSERT_EQ(table->numberOfRowsInSection(0), 20);

    // A finger pulls the list down through the window and lets go.
    QWindow* handle = window->windowHandle();
    ASSERT_NE(handle, nullptr);
    const QPoint from = table->mapTo(window.get(), QPoint(180, 40));
    QTest::mousePress(handle, Qt::LeftButton, {}, from);
    for (int step = 1; step <= 12; ++step)
        QTest::mouseMove(handle, from + QPoint(0, step * 25));
    EXPECT_EQ(list->pullRefreshView()->state(), KRPullRefreshStateArmed);
    QTest::mouseRelease(handle, Qt::LeftButton, {}, from + QPoint(0, 300));
    AnimationClock::finishAll();
    EXPECT_TRUE(list->isLoading());
    reloadAnswer->release();
    KR_WAIT_UNTIL(script->count() == 2 && !list->isLoading());
    AnimationClock::finishAll();

    // The same twenty come back, and the rows show them, not an empty list.
    ASSERT_EQ(list->videos().size(), 20);
    EXPECT_EQ(list->videos().first()->aid(), 945000);
    ASSERT_EQ(table->numberOfRowsInSection(0), 20);
    table->layoutIfNeeded();
    const QList<IndexPath> shown = table->indexPathsForVisibleRows();
    ASSERT_FALSE(shown.isEmpty());
    for (const IndexPath& path : shown) {
        auto* cell = qobject_cast<KRVideoCell*>(table->cellForRowAtIndexPath(path));
        ASSERT_NE(cell, nullptr) << path.row;
        EXPECT_EQ(cell->titleLabel()->text(), list->videos().at(path.row)->title()) << path.row;
    }
    EXPECT_EQ(footerTitle(list), QStringLiteral("上拉加载更多"));
}

TEST_F(VideoListTest, TheTwoColumnPreferenceRelaysTheLoadedVideosWithoutARequest)
{
    EXPECT_EQ(KRDoubleColumnRowHeightForWidth(320), 143);
    EXPECT_EQ(KRDoubleColumnRowHeightForWidth(375), 155);
    EXPECT_EQ(KRDoubleColumnRowHeightForWidth(768), 265);

    auto script = scriptHome([](int) { return FeedAnswer{consecutive(950000, 19)}; });
    KRVideoListViewController* list = showHome();
    waitForPage(list, 1);
    TableView* table = list->tableView();
    EXPECT_EQ(table->rectForRowAtIndexPath({0, 1}).height(), 86);

    KRPreferences::sharedPreferences().setVideoListLayout(1);
    table->layoutIfNeeded();
    EXPECT_TRUE(list->usesDoubleColumnLayout());
    EXPECT_EQ(table->numberOfRowsInSection(0), 10);
    EXPECT_EQ(table->rectForRowAtIndexPath({0, 1}), QRectF(0, 155, 375, 155));
    auto* first = qobject_cast<KRVideoGridCell*>(table->cellForRowAtIndexPath({0, 0}));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->videoAt(0)->aid(), 950000);
    EXPECT_EQ(first->videoAt(1)->aid(), 950001);
    EXPECT_EQ(script->count(), 1);

    // The odd last video has the row to itself; its card opens the video page. (Scrolling
    // there asks for the next page.)
    table->scrollToRowAtIndexPath({0, 9}, false);
    table->layoutIfNeeded();
    auto* last = qobject_cast<KRVideoGridCell*>(table->cellForRowAtIndexPath({0, 9}));
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->videoAt(0)->aid(), 950018);
    EXPECT_EQ(last->videoAt(1), nullptr);
    last->cardButton(0)->tapForTesting();
    AnimationClock::finishAll();
    auto* page = qobject_cast<KRVideoDetailViewController*>(nav->topViewController());
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->video()->aid(), 950018);
    EXPECT_EQ(page->title(), QStringLiteral("视频"));
    EXPECT_TRUE(page->hidesBottomBarWhenPushed());
}

TEST_F(VideoListTest, RowsSharingACoverMakeOneImageRequest)
{
    QVariantList items;
    for (qint64 aid : {960001, 960002}) {
        QVariantMap item = feedItem(aid);
        item.insert(QStringLiteral("pic"), testsupport::ImageFixtures::coverAddress(QStringLiteral("shared-cover")));
        items.append(item);
    }
    fake.routeReply(KRServiceHosts::apiHost(), kFeed,
                    FakeReply::json(ServiceFixtures::envelope(QVariantMap{{QStringLiteral("item"), items}})));
    KRVideoListViewController* list = showHome();
    waitForPage(list, 1);
    TableView* table = list->tableView();
    auto coverShown = [&](int row) {
        auto* cell = qobject_cast<KRVideoCell*>(table->cellForRowAtIndexPath({0, row}));
        return cell && !cell->coverView()->image().isNull()
            && cell->coverView()->image().image() != KRVideoPlaceholderImage().image();
    };
    KR_WAIT_UNTIL(coverShown(0) && coverShown(1));
    int coverRequests = 0;
    for (const FakeRequest& request : fake.requests())
        coverRequests += request.path.contains(QStringLiteral("shared-cover")) ? 1 : 0;
    EXPECT_EQ(coverRequests, 1);
}

TEST_F(VideoListTest, ARowOpensItsVideoUnlessTheVideoIsGone)
{
    testsupport::ConsoleCapture console;
    auto script = scriptHome([](int) { return FeedAnswer{consecutive(970000, 20)}; });
    KRVideoListViewController* list = showHome();
    waitForPage(list, 1);
    const VideoRef first = list->videos().first();
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneFeed] page=1 reset=YES appended=20 total=20 first=%1 play=%2 danmaku=%3 ")
                                     .arg(first->displayIdentifier())
                                     .arg(first->playCount())
                                     .arg(first->danmakuCount())));

    list->tableView()->tapRowForTesting({0, 1});
    AnimationClock::finishAll();
    auto* page = qobject_cast<KRVideoDetailViewController*>(nav->topViewController());
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->video(), list->videos().at(1));
    nav->popViewControllerAnimated(false);

    list->videos().at(2)->setUnavailable(true);
    list->tableView()->tapRowForTesting({0, 2});
    list->openVideo(nullptr);
    AnimationClock::finishAll();
    EXPECT_EQ(nav->topViewController(), list);
}

TEST_F(VideoListTest, TheHomeMessageButtonFollowsTheLabAndAsksForALogin)
{
    auto script = scriptHome([](int) { return FeedAnswer{consecutive(980000, 20)}; });
    KRPreferences& preferences = KRPreferences::sharedPreferences();
    preferences.setExperimentalFeaturesEnabled(true);
    preferences.setMessageCenterEnabled(false);
    KRVideoListViewController* list = showHome();
    waitForPage(list, 1);
    EXPECT_EQ(list->navigationItem()->rightBarButtonItem(), nullptr) << "the lab alone is not enough";

    preferences.setMessageCenterEnabled(true);
    BarButtonItem* item = list->navigationItem()->rightBarButtonItem();
    ASSERT_NE(item, nullptr);
    auto* button = qobject_cast<Button*>(item->customView());
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->frame().size(), QSizeF(38, 32));
    EXPECT_FALSE(button->image(ControlStateNormal).isNull());
    EXPECT_EQ(button->accessibilityLabel(), QStringLiteral("消息"));
    EXPECT_EQ(button->accessibilityHint(), QStringLiteral("查看回复与 @ 消息"));

    button->tapForTesting();
    AlertView* alert = window->visibleAlert();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->title(), QStringLiteral("需要登录"));
    EXPECT_EQ(alert->message(), QStringLiteral("登录后才能查看回复与 @ 消息。"));
    alert->tapButtonForTesting(0);

    logIn();
    button->tapForTesting();
    AnimationClock::finishAll();
    EXPECT_NE(qobject_cast<KRMessageViewController*>(nav->topViewController()), nullptr);
    nav->popViewControllerAnimated(false);

    preferences.setExperimentalFeaturesEnabled(false);
    EXPECT_EQ(list->navigationItem()->rightBarButtonItem(), nullptr);
    preferences.setExperimentalFeaturesEnabled(true);
    EXPECT_EQ(list->navigationItem()->rightBarButtonItem(), item) << "one button, shown again, however often the lab changes";
    EXPECT_EQ(script->count(), 1) << "preference changes fetch nothing";
}

TEST_F(VideoListTest, TheHomeListTakesTheFirstPageAskedForBeforeItExisted)
{
    auto script = scriptHome([](int n) { return FeedAnswer{consecutive(970000 + n * 100, 20)}; });
    KRAPIClient::sharedClient()->prefetchRecommendedHomePage();
    KRVideoListViewController* list = showHome();
    EXPECT_TRUE(list->isLoading());
    EXPECT_TRUE(list->spinner()->isAnimating());
    // A reset asked while the page is on its way is refused as with any page in flight.
    list->reloadVideos();
    waitForPage(list, 1);
    EXPECT_EQ(script->count(), 1) << "the list asked for nothing of its own";
    ASSERT_EQ(list->videos().size(), 20);
    EXPECT_EQ(list->videos().first()->aid(), 970000);
    EXPECT_EQ(list->tableView()->numberOfRowsInSection(0), 20);
    EXPECT_FALSE(list->spinner()->isAnimating());

    // Handed over once: nothing more arrives, and the next reset is a request of its own.
    testsupport::waitUntil([] { return KRAPIWorkerQueue()->operationCount() == 0; });
    QCoreApplication::processEvents();
    EXPECT_EQ(list->videos().size(), 20);
    list->reloadVideos();
    waitForPage(list, 1);
    EXPECT_EQ(script->count(), 2);
    EXPECT_EQ(list->videos().first()->aid(), 970100);
}

TEST_F(VideoListTest, TheHomeListTakesAFirstPageThatArrivedBeforeIt)
{
    auto script = scriptHome([](int n) { return FeedAnswer{consecutive(975000 + n * 100, 20)}; });
    KRAPIClient::sharedClient()->prefetchRecommendedHomePage();
    KR_WAIT_UNTIL(script->count() == 1);
    testsupport::waitUntil([] { return KRAPIWorkerQueue()->operationCount() == 0; });
    QCoreApplication::processEvents();

    KRVideoListViewController* list = showHome();
    EXPECT_TRUE(list->isLoading()) << "handed over on a later turn, as any answer";
    waitForPage(list, 1);
    EXPECT_EQ(script->count(), 1);
    EXPECT_EQ(list->videos().first()->aid(), 975000);
}

TEST_F(VideoListTest, AFailedFirstPageAskedBeforeTheListAlertsThroughTheList)
{
    auto script = scriptHome([](int) { return FeedAnswer{{}, true}; });
    KRAPIClient::sharedClient()->prefetchRecommendedHomePage();
    KRVideoListViewController* list = showHome();
    KR_WAIT_UNTIL(window->visibleAlert() != nullptr);
    EXPECT_EQ(window->visibleAlert()->title(), QStringLiteral("加载失败"));
    window->visibleAlert()->tapButtonForTesting(0);
    EXPECT_EQ(list->page(), 0);
    EXPECT_FALSE(list->isLoading());
    EXPECT_EQ(script->count(), 1);
    EXPECT_EQ(requestsTo(kPopular).size(), 1) << "the popular list stood in, and failed too";
}

} // namespace
