#include "service/ServiceClientTesting.h"

#include "support/ServiceSignatures.h"

#include <chrono>
#include <thread>

using namespace servicetest;

namespace {

const QString kFeed = QStringLiteral("/x/web-interface/wbi/index/top/feed/rcmd");
const QString kPopular = QStringLiteral("/x/web-interface/popular");
const QString kNavigation = QStringLiteral("/x/web-interface/nav");
const QString kRanking = QStringLiteral("/x/web-interface/ranking/v2");

class FeedLoaderTest : public ServiceClientTest {
protected:
    OutcomeRef<KRVideoList> home(qint64 page) { return run<KRVideoList>([&](auto done) { client()->loadRecommendedHomePage(page, liveOwner(), done); }); }
    OutcomeRef<KRVideoList> feed(qint64 page)
    {
        return run<KRVideoList>([&](auto done) { client()->loadCurrentRecommendedHomePage(page, liveOwner(), done); });
    }
    OutcomeRef<KRVideoList> section(qint64 rid, qint64 page) { return run<KRVideoList>([&](auto done) { client()->loadSection(rid, page, liveOwner(), done); }); }
    OutcomeRef<KRVideoList> aggregate(const QVariantList& rids)
    {
        return run<KRVideoList>([&](auto done) { client()->loadAggregateSections(rids, 1, liveOwner(), done); });
    }
    // Rankings of exactly these archives per region (delayed by `delays`); others fail.
    void routeRankings(const QMap<QString, QList<qint64>>& aids, const QMap<QString, int>& delays = {})
    {
        fake.route(KRServiceHosts::apiHost(), kRanking, [aids, delays](const FakeRequest& request) {
            const QString rid = request.queryValue(QStringLiteral("rid"));
            if (!aids.contains(rid))
                return ServiceFixtures::serverFailure();
            QVariantList list;
            for (qint64 aid : aids.value(rid))
                list.append(ServiceFixtures::archiveItem(aid));
            FakeReply reply = FakeReply::json(ServiceFixtures::envelope(QVariantMap{{QStringLiteral("list"), list}}));
            reply.delayMs = delays.value(rid);
            return reply;
        });
    }
};

TEST_F(FeedLoaderTest, EveryFeedRequestAsksForAFreshSignedBatchWithItsOwnHeaders)
{
    const auto first = home(1);
    const auto reload = home(1);
    ASSERT_FALSE(first->error);
    // Slots 3 (an advert) and 11 (a live room) are no videos; "id" stands in for "aid".
    ASSERT_EQ(first->value.size(), 18);
    EXPECT_EQ(first->value.at(3)->aid(), 300104);
    EXPECT_EQ(first->value.at(3)->resolvedAid(), 300104);
    EXPECT_EQ(first->value.at(3)->bvid(), ServiceFixtures::bvidForAID(300104));
    EXPECT_NE(aidsOf(first->value), aidsOf(reload->value));
    EXPECT_TRUE(requestsTo(kPopular).isEmpty()) << "the fake service refuses a bad signature";

    // A later page jumps the counter to the page; the next request continues after it.
    feed(5);
    feed(0);
    QStringList fresh;
    for (const FakeRequest& request : requestsTo(kFeed))
        fresh.append(request.queryValue(QStringLiteral("fresh_idx")) + QLatin1Char('/') + request.queryValue(QStringLiteral("fresh_idx_1h")));
    EXPECT_EQ(fresh, (QStringList{"1/1", "2/2", "5/5", "6/6"}));

    const FakeRequest request = requestsTo(kFeed).first();
    EXPECT_EQ(queryWithout(request), QStringLiteral("fresh_idx=1&fresh_idx_1h=1&fresh_type=3&homepage_ver=1&ps=20&version=1&web_location=1430650"));
    EXPECT_EQ(request.header(QStringLiteral("User-Agent")),
              QStringLiteral("Mozilla/5.0 (iPhone; CPU iPhone OS 5_1_1 like Mac OS X) AppleWebKit/534.46 Korvane/0.2"));
    EXPECT_EQ(request.header(QStringLiteral("Referer")), webRoot());
    EXPECT_TRUE(request.header(QStringLiteral("Cookie")).isNull());
}

TEST_F(FeedLoaderTest, LoggedInFeedCarriesTheSessionCookie)
{
    logIn();
    ConsoleCapture console;
    feed(1);
    EXPECT_TRUE(requestsTo(kFeed).first().header(QStringLiteral("Cookie")).contains(QStringLiteral("SESSDATA=s3ssion-v4lue")));
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneRecommendation] request page=1 fresh=1 loggedIn=YES endpoint=web-wbi-rcmd")));
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneRecommendation] response status=200 raw=20 videos=18 accountMid=YES error=(null)")));
}

TEST_F(FeedLoaderTest, FeedOfOnlyNonVideoItemsFallsBackToThePopularList)
{
    serve(kFeed, ServiceFixtures::nonVideoFeed());
    ConsoleCapture console;
    const auto outcome = home(2);
    EXPECT_FALSE(outcome->error);
    ASSERT_EQ(outcome->value.size(), 20);
    EXPECT_EQ(outcome->value.first()->aid(), 200020); // page 2 of the popular list
    EXPECT_EQ(requestsTo(kPopular).first().query, QStringLiteral("pn=2&ps=20"));
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneRecommendation] current feed failed page=2 error=(null); fallback=legacy-pool")));
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvanePopular] page=2 count=20 error=(null)")));

    // Asked alone, the same batch is an empty list without error.
    const auto alone = feed(1);
    EXPECT_FALSE(alone->error);
    EXPECT_TRUE(alone->value.isEmpty());
}

TEST_F(FeedLoaderTest, FeedFailuresAreErrorsAndThePopularListStandsIn)
{
    KRAPIClient::setRequestTimeoutForTesting(1.0);
    struct Case {
        const char* name;
        FakeReply reply;
        QString domain;
        qint64 code;
    };
    const QList<Case> cases{
        {"refused", ServiceFixtures::riskControlRefusal(), KRAPIErrorDomain, 412},
        {"server failure", ServiceFixtures::serverFailure(), KRAPIErrorDomain, 500},
        // A 200 without body is no empty batch: it is a failure.
        {"empty body", ServiceFixtures::emptyBody(), KRAPIErrorDomain, -3},
        {"html", ServiceFixtures::htmlBody(), QStringLiteral("NSCocoaErrorDomain"), 3840},
        {"service error", ServiceFixtures::serviceError(-352, QStringLiteral("风控校验失败")), KRAPIErrorDomain, -352},
        {"stalled", ServiceFixtures::stalled(), QStringLiteral("NSURLErrorDomain"), -1001},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        serve(kFeed, item.reply);
        const auto alone = feed(1);
        expectError(alone->error, item.code, QString(), item.domain);
        EXPECT_TRUE(alone->value.isEmpty());

        fake.clearRequests();
        const auto fallback = home(1);
        EXPECT_FALSE(fallback->error);
        EXPECT_EQ(fallback->value.size(), 20);
        EXPECT_EQ(requestsTo(kPopular).size(), 1);
    }
}

TEST_F(FeedLoaderTest, SectionPagesAreSlicesOfTheRankingWithTheNewListBehind)
{
    EXPECT_EQ(section(36, 1)->value.first()->aid(), 436000);
    const auto fifth = section(36, 5);
    ASSERT_EQ(fifth->value.size(), 20);
    EXPECT_EQ(fifth->value.first()->aid(), 436080);
    // Page 6 of a ranking of 100 is empty without error, and the new list is not asked.
    const auto sixth = section(36, 6);
    EXPECT_FALSE(sixth->error);
    EXPECT_TRUE(sixth->value.isEmpty());
    EXPECT_TRUE(requestsTo(QStringLiteral("/x/web-interface/newlist")).isEmpty());
    section(-4, 1);
    EXPECT_EQ(requestsTo(kRanking).last().query, QStringLiteral("rid=0&type=all"));

    serve(kRanking, ServiceFixtures::serverFailure());
    ConsoleCapture console;
    const auto fallback = section(36, 2);
    EXPECT_FALSE(fallback->error);
    ASSERT_EQ(fallback->value.size(), 20);
    EXPECT_EQ(fallback->value.first()->aid(), 536020);
    EXPECT_EQ(requestsTo(QStringLiteral("/x/web-interface/newlist")).first().query, QStringLiteral("rid=36&type=0&pn=2&ps=20"));
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneSection] source=newlist-fallback tid=36 page=2 count=20 ranking=")));

    serve(QStringLiteral("/x/web-interface/newlist"), ServiceFixtures::serviceError(-404, QStringLiteral("啥都木有")));
    expectError(section(36, 1)->error, -404);
}

TEST_F(FeedLoaderTest, PGCCatalogueItemsBecomeSeasonCards)
{
    const auto outcome = run<KRVideoList>([&](auto done) { client()->loadPGCSection(1, 1, liveOwner(), done); });
    ASSERT_EQ(outcome->value.size(), 20);
    const auto& first = outcome->value.at(0);
    EXPECT_TRUE(first->isPGC());
    EXPECT_EQ(QList<qint64>({first->seasonID(), first->seasonType()}), QList<qint64>({31000, 1}));
    EXPECT_EQ(QStringList({first->tname(), first->pgcEpisodeText(), first->pgcBadge(), first->pgcOrderText(), first->summary(),
                           first->ownerName(), outcome->value.at(1)->ownerName()}),
              QStringList({"番剧", "全12话", "会员专享", "100万次播放", "全12话", "岚帆视频", "日本"}));
    EXPECT_EQ(requestsTo(QStringLiteral("/pgc/season/index/result")).first().query,
              QStringLiteral("season_type=1&type=1&order=2&sort=0&page=1&pagesize=20"));

    // "seasonId" and the second count keys are read; an item without a season id stays,
    // marked unavailable; an unknown type reads as 影视.
    serveJSON(QStringLiteral("/pgc/season/index/result"),
              R"({"code":0,"data":{"result":{"items":[{"seasonId":"88","title":"甲","badge":"独家",
                 "stat":{"views":12,"danmaku":3,"reply":4}},{"title":"乙"},"not an item"]}}})");
    const auto odd = run<KRVideoList>([&](auto done) { client()->loadPGCSection(9, 0, liveOwner(), done); });
    ASSERT_EQ(odd->value.size(), 2);
    const auto& item = odd->value.at(0);
    EXPECT_EQ(item->seasonID(), 88);
    EXPECT_EQ(item->tname(), QStringLiteral("影视"));
    EXPECT_EQ(item->summary(), QStringLiteral("独家"));
    EXPECT_EQ(QList<qint64>({item->playCount(), item->danmakuCount(), item->replyCount()}), QList<qint64>({12, 3, 4}));
    EXPECT_TRUE(item->statisticsKnown());
    EXPECT_FALSE(item->isUnavailable());
    EXPECT_EQ(odd->value.at(1)->unavailableReason(), QStringLiteral("番剧信息暂不可用"));
}

TEST_F(FeedLoaderTest, AggregateMergesRoundRobinWithoutRepeats)
{
    // Source 21 holds A, B, C and answers last; source 250 holds B, D.
    routeRankings({{QStringLiteral("21"), {11, 12, 13}}, {QStringLiteral("250"), {12, 14}}}, {{QStringLiteral("21"), 80}});
    const auto outcome = aggregate({21, QStringLiteral("x"), 0, 250});
    EXPECT_FALSE(outcome->error);
    EXPECT_EQ(aidsOf(outcome->value), (QList<qint64>{11, 12, 14, 13}));
    EXPECT_EQ(requestsTo(kRanking).size(), 2);
}

TEST_F(FeedLoaderTest, AggregateReportsAnErrorOnlyWhenNothingCame)
{
    routeRankings({{QStringLiteral("21"), {11, 12}}});
    serve(QStringLiteral("/x/web-interface/newlist"), ServiceFixtures::serverFailure(503));
    const auto partial = aggregate({250, 21});
    EXPECT_FALSE(partial->error);
    EXPECT_EQ(aidsOf(partial->value), (QList<qint64>{11, 12}));
    const auto none = aggregate({250, 251});
    expectError(none->error, 503);
    EXPECT_TRUE(none->value.isEmpty());

    const auto noSources = begin<KRVideoList>([&](auto done) {
        client()->loadAggregateSections({0, QStringLiteral("abc"), -3, QVariantMap()}, 1, liveOwner(), done);
    });
    EXPECT_EQ(noSources->calls, 1) << "inside the call";
    expectError(noSources->error, -31, QStringLiteral("该分区暂未配置内容来源"));
}

class HomePagePrefetchTest : public FeedLoaderTest {
protected:
    OutcomeRef<KRVideoList> askHome(qint64 page, QObject* owner = liveOwner())
    {
        return begin<KRVideoList>([&](auto done) { client()->loadRecommendedHomePage(page, owner, done); });
    }
    // Waits without turning the main thread: a request that needs a main-thread step before
    // it is sent never comes.
    bool arrivesWhileTheMainThreadWaits(const QString& path)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            if (!requestsTo(path).isEmpty())
                return true;
            std::this_thread::yield();
        }
        return false;
    }
    static void settleQueue()
    {
        testsupport::waitUntil([] { return KRAPIWorkerQueue()->operationCount() == 0; });
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }
    // Sorted: requests on their way together reach the service in either order.
    QStringList freshIndexes() const
    {
        QStringList fresh;
        for (const FakeRequest& request : requestsTo(kFeed))
            fresh.append(request.queryValue(QStringLiteral("fresh_idx")));
        fresh.sort();
        return fresh;
    }
};

TEST_F(HomePagePrefetchTest, KeyFetchSigningAndListAreOneWorkerStep)
{
    ConsoleCapture console;
    const auto outcome = begin<KRVideoList>([&](auto done) { client()->loadCurrentRecommendedHomePage(1, liveOwner(), done); });
    ASSERT_TRUE(arrivesWhileTheMainThreadWaits(kFeed));
    EXPECT_EQ(requestsTo(kNavigation).size(), 1);
    EXPECT_EQ(outcome->calls, 0) << "answered only once the main thread turns";
    settle(outcome);
    ASSERT_FALSE(outcome->error);
    EXPECT_EQ(outcome->value.size(), 18);

    // The console tells the same story in the same order as before.
    const QString text = console.text();
    const qsizetype navigation = text.indexOf(QStringLiteral("[Korvane] request scheme=https host=") + KRServiceHosts::apiHost()
                                              + QStringLiteral(" path=/x/web-interface/nav"));
    const qsizetype feed = text.indexOf(QStringLiteral("[KorvaneRecommendation] request page=1 fresh=1 loggedIn=NO endpoint=web-wbi-rcmd"));
    const qsizetype answer = text.indexOf(QStringLiteral("[KorvaneRecommendation] response status=200 raw=20 videos=18"));
    ASSERT_GE(navigation, 0);
    EXPECT_LT(navigation, feed);
    EXPECT_LT(feed, answer);

    // With the key fresh, the chain asks for the list alone.
    const auto again = run<KRVideoList>([&](auto done) { client()->loadCurrentRecommendedHomePage(1, liveOwner(), done); });
    EXPECT_FALSE(again->error);
    EXPECT_EQ(requestsTo(kNavigation).size(), 1);
    EXPECT_EQ(requestsTo(kFeed).size(), 2);
}

TEST_F(HomePagePrefetchTest, AKeyThatCannotBeHadEndsTheChainWithItsError)
{
    serve(kNavigation, FakeReply::json(testsupport::navigationReplyWithImages(QStringLiteral("abc"), QStringLiteral("def"))));
    const auto outcome = run<KRVideoList>([&](auto done) { client()->loadCurrentRecommendedHomePage(1, liveOwner(), done); });
    expectError(outcome->error, -6);
    EXPECT_TRUE(requestsTo(kFeed).isEmpty());
}

TEST_F(HomePagePrefetchTest, TheFirstAskTakesThePrefetchStillOnItsWay)
{
    client()->prefetchRecommendedHomePage();
    // In the same turn of the main thread: the answer cannot have come yet.
    const auto taken = askHome(1);
    settle(taken);
    ASSERT_FALSE(taken->error);
    EXPECT_EQ(taken->value.size(), 18);
    EXPECT_EQ(requestsTo(kFeed).size(), 1) << "the ask made no request of its own";
    EXPECT_EQ(requestsTo(kNavigation).size(), 1);

    // It is taken once: the next ask, a reset, is a new batch.
    const auto reset = run<KRVideoList>([&](auto done) { client()->loadRecommendedHomePage(1, liveOwner(), done); });
    EXPECT_FALSE(reset->error);
    EXPECT_NE(aidsOf(reset->value), aidsOf(taken->value));
    EXPECT_EQ(freshIndexes(), (QStringList{"1", "2"}));
}

TEST_F(HomePagePrefetchTest, AnArrivedPrefetchIsHandedOverLaterNotInsideTheAsk)
{
    client()->prefetchRecommendedHomePage();
    KR_WAIT_UNTIL(requestsTo(kFeed).size() == 1);
    settleQueue();

    bool answeredInside = true;
    const auto taken = run<KRVideoList>([&](auto done) { client()->loadRecommendedHomePage(1, liveOwner(), done); }, &answeredInside);
    EXPECT_FALSE(answeredInside);
    ASSERT_FALSE(taken->error);
    EXPECT_EQ(taken->value.size(), 18);
    EXPECT_EQ(requestsTo(kFeed).size(), 1);

    // A second prefetch while none is pending starts one; asking twice takes it once.
    client()->prefetchRecommendedHomePage();
    client()->prefetchRecommendedHomePage();
    const auto first = askHome(1);
    const auto second = askHome(1);
    settle(first);
    settle(second);
    EXPECT_EQ(freshIndexes(), (QStringList{"1", "2", "3"}));
    EXPECT_NE(aidsOf(first->value), aidsOf(second->value));
}

TEST_F(HomePagePrefetchTest, AFailedPrefetchTakesTheFallbackAndThenTheListsFailure)
{
    serve(kFeed, ServiceFixtures::serverFailure());
    ConsoleCapture console;
    client()->prefetchRecommendedHomePage();
    const auto fallback = askHome(1);
    settle(fallback);
    ASSERT_FALSE(fallback->error);
    EXPECT_EQ(fallback->value.size(), 20);
    EXPECT_EQ(requestsTo(kFeed).size(), 1);
    EXPECT_EQ(requestsTo(kPopular).size(), 1);
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneRecommendation] current feed failed page=1")));

    // Both roads failing: the asker gets the error, once.
    serve(kPopular, ServiceFixtures::serverFailure());
    client()->prefetchRecommendedHomePage();
    KR_WAIT_UNTIL(requestsTo(kFeed).size() == 2);
    settleQueue();
    const auto failed = askHome(1);
    settle(failed);
    expectError(failed->error, 500);
    EXPECT_TRUE(failed->value.isEmpty());
    EXPECT_EQ(requestsTo(kFeed).size(), 2);
}

TEST_F(HomePagePrefetchTest, AnotherFirstAskDropsThePrefetchAndItsLateAnswer)
{
    client()->prefetchRecommendedHomePage();
    const auto later = askHome(2);
    settle(later);
    EXPECT_FALSE(later->error);
    EXPECT_EQ(freshIndexes(), (QStringList{"1", "2"}));

    // The dropped first page is never handed to the next ask, which is a batch of its own.
    const auto first = run<KRVideoList>([&](auto done) { client()->loadRecommendedHomePage(1, liveOwner(), done); });
    EXPECT_FALSE(first->error);
    EXPECT_EQ(freshIndexes(), (QStringList{"1", "2", "3"}));
}

TEST_F(HomePagePrefetchTest, ATakerThatIsGoneGetsNothing)
{
    auto* owner = new QObject;
    client()->prefetchRecommendedHomePage();
    const auto taken = askHome(1, owner);
    delete owner;
    KR_WAIT_UNTIL(requestsTo(kFeed).size() == 1);
    settleQueue();
    EXPECT_EQ(taken->calls, 0);

    const auto next = run<KRVideoList>([&](auto done) { client()->loadRecommendedHomePage(1, liveOwner(), done); });
    EXPECT_FALSE(next->error);
    EXPECT_EQ(requestsTo(kFeed).size(), 2);
}

} // namespace
