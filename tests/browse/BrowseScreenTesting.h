#pragma once

// The browsing screens' rig: the fake service with every read route and the image CDN, a
// window with one tab whose navigation stack the test fills, and a scripted home feed.

#include "../uikit/KitTestSupport.h"
#include "shell/KRScreenRoutes.h"
#include "service/ServiceClientTesting.h"

#include "images/KRImageLoader.h"
#include "shared/KRLoadMoreView.h"
#include "browse/KRVideoListViewController.h"
#include "platform/foundation/MainClock.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/TabBarController.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/Window.h"
#include "support/ImageFixtures.h"

#include <cmath>
#include <mutex>

namespace browsetest {

using namespace platform::uikit;
using namespace servicetest;


inline const QString kFeed = QStringLiteral("/x/web-interface/wbi/index/top/feed/rcmd");
inline const QString kPopular = QStringLiteral("/x/web-interface/popular");

// What the home feed answers to its n-th request (0 first): archive ids, or a failure.
struct FeedAnswer {
    QList<qint64> aids;
    bool fails = false;
};

// The home feed as a script: every request is numbered and timed on the main clock (manual in
// these tests, so times are exact).
struct FeedScript {
    std::mutex lock;
    std::function<FeedAnswer(int)> answer;
    QList<qint64> arrivals; // ms since the script started
    double start = 0;
    int count()
    {
        std::lock_guard guard(lock);
        return int(arrivals.size());
    }
};

inline QList<qint64> consecutive(qint64 first, int count)
{
    QList<qint64> aids;
    for (int i = 0; i < count; ++i)
        aids.append(first + i);
    return aids;
}

// One video of the recommendation feed.
inline QVariantMap feedItem(qint64 aid)
{
    QVariantMap item = ServiceFixtures::archiveItem(aid);
    item.insert(QStringLiteral("goto"), QStringLiteral("av"));
    item.insert(QStringLiteral("id"), aid);
    return item;
}

class BrowseScreenTest : public ServiceClientTest {
protected:
    void SetUp() override
    {
        ServiceClientTest::SetUp();
        // Screens open one another through the router, as the running application's do.
        KRRouter::install(KRScreenRoutes());
        KitTest::resetKit();
        testsupport::ImageFixtures::serveImages(fake);
        KRImageLoader::sharedLoader()->clearMemoryCache();
        tabs->setViewControllers({nav});
        window->setRootViewController(tabs);
    }
    void TearDown() override
    {
        window.reset();
        flushDeferredDeletes();
        // Covers still downloading would write into the next test's home.
        testsupport::waitUntil([] { return KRImageLoader::sharedLoader()->downloadCountForTesting() == 0; });
        KitTest::settleKit();
        ServiceClientTest::TearDown();
    }

    // Both roads of the home feed follow the script; the popular list fails with it.
    std::shared_ptr<FeedScript> scriptHome(std::function<FeedAnswer(int)> answer)
    {
        auto script = std::make_shared<FeedScript>();
        script->answer = std::move(answer);
        script->start = platform::MainClock::now();
        fake.route(KRServiceHosts::apiHost(), kFeed, [script](const FakeRequest&) {
            FeedAnswer answer;
            {
                std::lock_guard guard(script->lock);
                answer = script->answer(int(script->arrivals.size()));
                script->arrivals.append(std::llround((platform::MainClock::now() - script->start) * 1000));
            }
            if (answer.fails)
                return ServiceFixtures::serverFailure();
            QVariantList items;
            for (qint64 aid : answer.aids)
                items.append(feedItem(aid));
            return FakeReply::json(ServiceFixtures::envelope(QVariantMap{{QStringLiteral("item"), items}}));
        });
        fake.routeReply(KRServiceHosts::apiHost(), kPopular, ServiceFixtures::serverFailure());
        return script;
    }

    template <typename Screen>
    Screen* show(Screen* screen)
    {
        nav->setViewControllers({screen});
        window->makeKeyAndVisible();
        AnimationClock::finishAll();
        screen->view()->layoutIfNeeded();
        return screen;
    }
    KRVideoListViewController* showHome()
    {
        return show(new KRVideoListViewController(KRVideoListModeHome, 0, QStringLiteral("首页")));
    }
    // Waits for the page, moving the clock over each fill-up step armed on the way.
    static void waitForPage(KRVideoListViewController* list, qint64 page)
    {
        for (;;) {
            KR_WAIT_UNTIL(!list->isLoading() && (list->page() == page || list->isAutoFillPending()));
            if (list->page() == page)
                return;
            platform::MainClock::advanceForTesting(0.2);
        }
    }
    static QString footerTitle(KRVideoListViewController* list) { return list->loadMoreView()->button()->currentTitle(); }
    static void scrollToEnd(KRVideoListViewController* list)
    {
        TableView* table = list->tableView();
        table->setContentOffset(QPointF(0, table->contentSize().height() - table->bounds().height()));
    }

    std::unique_ptr<Window> window = std::make_unique<Window>();
    TabBarController* tabs = new TabBarController();
    NavigationController* nav = new NavigationController(new ViewController());
};

} // namespace browsetest
