#include "service/ReadLoaderTesting.h"

#include "support/ConsoleCapture.h"

#include <QPointer>

using namespace readloaders;

namespace {

class FeedLoaderTest : public ReadLoaderTest {
protected:
    QList<FakeRequest> feedRequests() const { return requestsTo(QStringLiteral("/x/web-interface/wbi/index/top/feed/rcmd")); }
    QList<FakeRequest> popularRequests() const { return requestsTo(QStringLiteral("/x/web-interface/popular")); }

    void routeRecommendation(const FakeReply& reply)
    {
        fake.routeReply(KRServiceHosts::apiHost(), QStringLiteral("/x/web-interface/wbi/index/top/feed/rcmd"), reply);
    }

    // A ranking of exactly these archives for one region.
    void routeRanking(qint64 rid, const QList<qint64>& aids)
    {
        fake.route(KRServiceHosts::apiHost(), QStringLiteral("/x/web-interface/ranking/v2"), [rid, aids](const FakeRequest& request) {
            if (request.queryValue(QStringLiteral("rid")).toLongLong() != rid)
                return ServiceFixtures::serverFailure();
            QVariantList list;
            for (qint64 aid : aids)
                list.append(ServiceFixtures::archiveItem(aid));
            return FakeReply::json(ServiceFixtures::envelope(QVariantMap{{QStringLiteral("list"), list}}));
        });
    }
};

// ---- Recommendations ----

TEST_F(FeedLoaderTest, EveryHomeFeedRequestAsksForAFreshSignedBatch)
{
    auto first = makeOutcome<KRVideoList>();
    client()->loadRecommendedHomePage(1, recorder(first));
    KR_SETTLE_ONCE(first);
    auto reload = makeOutcome<KRVideoList>();
    client()->loadRecommendedHomePage(1, recorder(reload));
    KR_SETTLE_ONCE(reload);

    const QList<FakeRequest> requests = feedRequests();
    ASSERT_EQ(requests.size(), 2);
    EXPECT_EQ(requests.at(0).queryValue(QStringLiteral("fresh_idx")), QStringLiteral("1"));
    EXPECT_EQ(requests.at(0).queryValue(QStringLiteral("fresh_idx_1h")), QStringLiteral("1"));
    EXPECT_EQ(requests.at(1).queryValue(QStringLiteral("fresh_idx")), QStringLiteral("2"));
    EXPECT_EQ(requests.at(0).queryValue(QStringLiteral("ps")), QStringLiteral("20"));
    EXPECT_EQ(requests.at(0).queryValue(QStringLiteral("web_location")), QStringLiteral("1430650"));
    EXPECT_FALSE(requests.at(0).queryValue(QStringLiteral("w_rid")).isEmpty());
    // The fake service refuses a bad signature; a good one never reaches the popular list.
    EXPECT_TRUE(popularRequests().isEmpty());
    EXPECT_FALSE(first->error);
    EXPECT_EQ(first->value.size(), 18);
    EXPECT_NE(aidsOf(first->value), aidsOf(reload->value));

    // A later page jumps the counter to the page; the next reload continues after it.
    auto third = makeOutcome<KRVideoList>();
    client()->loadCurrentRecommendedHomePage(1, recorder(third));
    KR_SETTLE_ONCE(third);
    auto fifth = makeOutcome<KRVideoList>();
    client()->loadCurrentRecommendedHomePage(5, recorder(fifth));
    KR_SETTLE_ONCE(fifth);
    auto after = makeOutcome<KRVideoList>();
    client()->loadCurrentRecommendedHomePage(0, recorder(after));
    KR_SETTLE_ONCE(after);
    const QList<FakeRequest> all = feedRequests();
    ASSERT_EQ(all.size(), 5);
    EXPECT_EQ(all.at(3).queryValue(QStringLiteral("fresh_idx")), QStringLiteral("5"));
    EXPECT_EQ(all.at(4).queryValue(QStringLiteral("fresh_idx")), QStringLiteral("6"));
}

TEST_F(FeedLoaderTest, FeedKeepsOnlyVideoItemsAndSendsItsOwnHeaders)
{
    auto outcome = makeOutcome<KRVideoList>();
    client()->loadCurrentRecommendedHomePage(1, recorder(outcome));
    KR_SETTLE_ONCE(outcome);
    ASSERT_FALSE(outcome->error);
    // Slots 3 (an advert) and 11 (a live room) are no videos; "id" stands in for "aid".
    ASSERT_EQ(outcome->value.size(), 18);
    EXPECT_EQ(outcome->value.at(0)->aid(), 300100);
    EXPECT_EQ(outcome->value.at(3)->aid(), 300104);
    EXPECT_EQ(outcome->value.at(0)->resolvedAid(), 300100);
    EXPECT_EQ(outcome->value.at(0)->bvid(), ServiceFixtures::bvidForAID(300100));
    EXPECT_TRUE(outcome->value.at(0)->statisticsKnown());

    const FakeRequest request = feedRequests().first();
    EXPECT_EQ(request.header(QStringLiteral("User-Agent")),
              QStringLiteral("Mozilla/5.0 (iPhone; CPU iPhone OS 5_1_1 like Mac OS X) AppleWebKit/534.46 Korvane/0.2"));
    EXPECT_EQ(request.header(QStringLiteral("Referer")), QStringLiteral("https://") + KRServiceHosts::webHost() + QStringLiteral("/"));
    EXPECT_TRUE(request.header(QStringLiteral("Cookie")).isNull());
    EXPECT_TRUE(request.tls);
}

TEST_F(FeedLoaderTest, LoggedInFeedCarriesTheSessionCookie)
{
    logIn();
    testsupport::ConsoleCapture console;
    auto outcome = makeOutcome<KRVideoList>();
    client()->loadCurrentRecommendedHomePage(1, recorder(outcome));
    KR_SETTLE_ONCE(outcome);
    EXPECT_TRUE(feedRequests().first().header(QStringLiteral("Cookie")).contains(QStringLiteral("SESSDATA=s3ssion-v4lue")));
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneRecommendation] request page=1 fresh=1 loggedIn=YES endpoint=web-wbi-rcmd")));
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneRecommendation] response status=200 raw=20 videos=18 accountMid=YES error=(null)")));
}

TEST_F(FeedLoaderTest, FeedOfOnlyNonVideoItemsFallsBackToThePopularList)
{
    routeRecommendation(ServiceFixtures::nonVideoFeed());
    testsupport::ConsoleCapture console;
    auto outcome = makeOutcome<KRVideoList>();
    client()->loadRecommendedHomePage(2, recorder(outcome));
    KR_SETTLE_ONCE(outcome);

    EXPECT_FALSE(outcome->error);
    ASSERT_EQ(outcome->value.size(), 20);
    EXPECT_EQ(outcome->value.first()->aid(), 200020); // page 2 of the popular list
    ASSERT_EQ(popularRequests().size(), 1);
    EXPECT_EQ(popularRequests().first().queryValue(QStringLiteral("pn")), QStringLiteral("2"));
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneRecommendation] current feed failed page=2 error=(null); fallback=legacy-pool")));
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvanePopular] page=2 count=20 error=(null)")));

    // Asked alone, the same batch is an empty list without error.
    auto alone = makeOutcome<KRVideoList>();
    client()->loadCurrentRecommendedHomePage(1, recorder(alone));
    KR_SETTLE_ONCE(alone);
    EXPECT_FALSE(alone->error);
    EXPECT_TRUE(alone->value.isEmpty());
}

TEST_F(FeedLoaderTest, FeedFailuresAreErrorsAndThePopularListStandsIn)
{
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
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        routeRecommendation(item.reply);
        auto alone = makeOutcome<KRVideoList>();
        client()->loadCurrentRecommendedHomePage(1, recorder(alone));
        KR_SETTLE_ONCE(alone);
        ASSERT_TRUE(alone->error);
        EXPECT_EQ(alone->error->domain(), item.domain);
        EXPECT_EQ(alone->error->code(), item.code);
        EXPECT_TRUE(alone->value.isEmpty());

        fake.clearRequests();
        auto home = makeOutcome<KRVideoList>();
        client()->loadRecommendedHomePage(1, recorder(home));
        KR_SETTLE_ONCE(home);
        EXPECT_FALSE(home->error);
        EXPECT_EQ(home->value.size(), 20);
        EXPECT_EQ(popularRequests().size(), 1);
    }
}

TEST_F(FeedLoaderTest, StalledFeedGivesUpAndFallsBack)
{
    KRAPIClient::setRequestTimeoutForTesting(1.0);
    routeRecommendation(ServiceFixtures::stalled());
    auto home = makeOutcome<KRVideoList>();
    client()->loadRecommendedHomePage(1, recorder(home));
    KR_SETTLE_ONCE(home);
    EXPECT_FALSE(home->error);
    EXPECT_EQ(home->value.size(), 20);
}

TEST_F(FeedLoaderTest, PopularListCountsPagesFromOne)
{
    auto outcome = makeOutcome<KRVideoList>();
    client()->loadHomePage(0, recorder(outcome));
    KR_SETTLE_ONCE(outcome);
    ASSERT_EQ(outcome->value.size(), 20);
    EXPECT_EQ(popularRequests().first().query, QStringLiteral("pn=1&ps=20"));
    EXPECT_EQ(outcome->value.first()->resolvedAid(), 200000);

    fake.routeReply(KRServiceHosts::apiHost(), QStringLiteral("/x/web-interface/popular"), ServiceFixtures::serverFailure(502));
    auto failed = makeOutcome<KRVideoList>();
    client()->loadHomePage(3, recorder(failed));
    KR_SETTLE_ONCE(failed);
    ASSERT_TRUE(failed->error);
    EXPECT_EQ(failed->error->code(), 502);
    EXPECT_TRUE(failed->value.isEmpty());
}

// ---- Sections ----

TEST_F(FeedLoaderTest, SectionPagesAreSlicesOfTheRanking)
{
    auto first = makeOutcome<KRVideoList>();
    client()->loadSection(36, 1, recorder(first));
    KR_SETTLE_ONCE(first);
    ASSERT_EQ(first->value.size(), 20);
    EXPECT_EQ(first->value.first()->aid(), 436000);

    auto fifth = makeOutcome<KRVideoList>();
    client()->loadSection(36, 5, recorder(fifth));
    KR_SETTLE_ONCE(fifth);
    ASSERT_EQ(fifth->value.size(), 20);
    EXPECT_EQ(fifth->value.first()->aid(), 436080);

    // Page 6 of a ranking of 100 is empty without error, and the new list is not asked.
    auto sixth = makeOutcome<KRVideoList>();
    client()->loadSection(36, 6, recorder(sixth));
    KR_SETTLE_ONCE(sixth);
    EXPECT_FALSE(sixth->error);
    EXPECT_TRUE(sixth->value.isEmpty());
    EXPECT_TRUE(requestsTo(QStringLiteral("/x/web-interface/newlist")).isEmpty());

    auto negative = makeOutcome<KRVideoList>();
    client()->loadSection(-4, 1, recorder(negative));
    KR_SETTLE_ONCE(negative);
    EXPECT_EQ(requestsTo(QStringLiteral("/x/web-interface/ranking/v2")).last().query, QStringLiteral("rid=0&type=all"));
}

TEST_F(FeedLoaderTest, FailedRankingFallsBackToTheNewList)
{
    fake.routeReply(KRServiceHosts::apiHost(), QStringLiteral("/x/web-interface/ranking/v2"), ServiceFixtures::serverFailure());
    testsupport::ConsoleCapture console;
    auto outcome = makeOutcome<KRVideoList>();
    client()->loadSection(36, 2, recorder(outcome));
    KR_SETTLE_ONCE(outcome);
    EXPECT_FALSE(outcome->error);
    ASSERT_EQ(outcome->value.size(), 20);
    EXPECT_EQ(outcome->value.first()->aid(), 536020);
    EXPECT_EQ(requestsTo(QStringLiteral("/x/web-interface/newlist")).first().query, QStringLiteral("rid=36&type=0&pn=2&ps=20"));
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneSection] source=newlist-fallback tid=36 page=2 count=20 ranking=")));

    fake.routeReply(KRServiceHosts::apiHost(), QStringLiteral("/x/web-interface/newlist"),
                    ServiceFixtures::serviceError(-404, QStringLiteral("啥都木有")));
    auto failed = makeOutcome<KRVideoList>();
    client()->loadSection(36, 1, recorder(failed));
    KR_SETTLE_ONCE(failed);
    ASSERT_TRUE(failed->error);
    EXPECT_EQ(failed->error->code(), -404);
}

TEST_F(FeedLoaderTest, PGCCatalogueItemsBecomeSeasonCards)
{
    auto outcome = makeOutcome<KRVideoList>();
    client()->loadPGCSection(1, 1, recorder(outcome));
    KR_SETTLE_ONCE(outcome);
    ASSERT_FALSE(outcome->error);
    ASSERT_EQ(outcome->value.size(), 20);
    const auto& first = outcome->value.at(0);
    EXPECT_TRUE(first->isPGC());
    EXPECT_EQ(first->seasonID(), 31000);
    EXPECT_EQ(first->seasonType(), 1);
    EXPECT_EQ(first->tname(), QStringLiteral("番剧"));
    EXPECT_EQ(first->pgcEpisodeText(), QStringLiteral("全12话"));
    EXPECT_EQ(first->pgcBadge(), QStringLiteral("会员专享"));
    EXPECT_EQ(first->pgcOrderText(), QStringLiteral("100万次播放"));
    EXPECT_EQ(first->summary(), QStringLiteral("全12话"));
    EXPECT_EQ(first->ownerName(), QStringLiteral("岚帆视频"));
    EXPECT_EQ(outcome->value.at(1)->ownerName(), QStringLiteral("日本"));
    EXPECT_FALSE(first->statisticsKnown());
    EXPECT_EQ(first->aid(), 0);
    EXPECT_EQ(requestsTo(QStringLiteral("/pgc/season/index/result")).first().query,
              QStringLiteral("season_type=1&type=1&order=2&sort=0&page=1&pagesize=20"));

    // Items without a season id stay, marked unavailable; unknown types read as 影视.
    const QVariantMap reply{
        {QStringLiteral("code"), 0},
        {QStringLiteral("data"),
         QVariantMap{{QStringLiteral("result"),
                      QVariantMap{{QStringLiteral("items"),
                                   QVariantList{QVariantMap{{QStringLiteral("seasonId"), QStringLiteral("88")},
                                                            {QStringLiteral("title"), QStringLiteral("甲")},
                                                            {QStringLiteral("badge"), QStringLiteral("独家")},
                                                            {QStringLiteral("stat"), QVariantMap{{QStringLiteral("views"), 12},
                                                                                                 {QStringLiteral("danmaku"), 3},
                                                                                                 {QStringLiteral("reply"), 4}}}},
                                                QVariantMap{{QStringLiteral("title"), QStringLiteral("乙")}},
                                                QStringLiteral("not an item")}}}}}}};
    fake.routeReply(KRServiceHosts::apiHost(), QStringLiteral("/pgc/season/index/result"), FakeReply::json(reply));
    auto odd = makeOutcome<KRVideoList>();
    client()->loadPGCSection(9, 0, recorder(odd));
    KR_SETTLE_ONCE(odd);
    ASSERT_EQ(odd->value.size(), 2);
    EXPECT_EQ(odd->value.at(0)->seasonID(), 88);
    EXPECT_EQ(odd->value.at(0)->tname(), QStringLiteral("影视"));
    EXPECT_EQ(odd->value.at(0)->pgcEpisodeText(), QStringLiteral("独家"));
    EXPECT_EQ(odd->value.at(0)->summary(), QStringLiteral("独家"));
    EXPECT_EQ(odd->value.at(0)->playCount(), 12);
    EXPECT_EQ(odd->value.at(0)->danmakuCount(), 3);
    EXPECT_EQ(odd->value.at(0)->replyCount(), 4);
    EXPECT_TRUE(odd->value.at(0)->statisticsKnown());
    EXPECT_FALSE(odd->value.at(0)->isUnavailable());
    EXPECT_TRUE(odd->value.at(1)->isUnavailable());
    EXPECT_EQ(odd->value.at(1)->unavailableReason(), QStringLiteral("番剧信息暂不可用"));
}

TEST_F(FeedLoaderTest, AggregateMergesRoundRobinWithoutRepeats)
{
    // Source 1 holds A, B, C; source 2 holds B, D.
    fake.route(KRServiceHosts::apiHost(), QStringLiteral("/x/web-interface/ranking/v2"), [](const FakeRequest& request) {
        const QList<qint64> aids = request.queryValue(QStringLiteral("rid")) == QStringLiteral("21") ? QList<qint64>{11, 12, 13}
                                                                                                       : QList<qint64>{12, 14};
        QVariantList list;
        for (qint64 aid : aids)
            list.append(ServiceFixtures::archiveItem(aid));
        FakeReply reply = FakeReply::json(ServiceFixtures::envelope(QVariantMap{{QStringLiteral("list"), list}}));
        reply.delayMs = request.queryValue(QStringLiteral("rid")) == QStringLiteral("21") ? 80 : 0; // answers out of order
        return reply;
    });
    auto outcome = makeOutcome<KRVideoList>();
    client()->loadAggregateSections({21, QStringLiteral("x"), 0, 250}, 1, recorder(outcome));
    KR_SETTLE_ONCE(outcome);
    EXPECT_FALSE(outcome->error);
    EXPECT_EQ(aidsOf(outcome->value), (QStringList{"11", "12", "14", "13"}));
    EXPECT_EQ(requestsTo(QStringLiteral("/x/web-interface/ranking/v2")).size(), 2);
}

TEST_F(FeedLoaderTest, AggregateReportsAnErrorOnlyWhenNothingCame)
{
    routeRanking(21, {11, 12});
    fake.routeReply(KRServiceHosts::apiHost(), QStringLiteral("/x/web-interface/newlist"), ServiceFixtures::serverFailure(503));
    auto partial = makeOutcome<KRVideoList>();
    client()->loadAggregateSections({250, 21}, 1, recorder(partial));
    KR_SETTLE_ONCE(partial);
    EXPECT_FALSE(partial->error);
    EXPECT_EQ(aidsOf(partial->value), (QStringList{"11", "12"}));

    auto none = makeOutcome<KRVideoList>();
    client()->loadAggregateSections({250, 251}, 1, recorder(none));
    KR_SETTLE_ONCE(none);
    ASSERT_TRUE(none->error);
    EXPECT_EQ(none->error->code(), 503);
    EXPECT_TRUE(none->value.isEmpty());
}

TEST_F(FeedLoaderTest, AggregateWithoutSourcesFailsInsideTheCall)
{
    auto outcome = makeOutcome<KRVideoList>();
    client()->loadAggregateSections({0, QStringLiteral("abc"), -3, QVariantMap()}, 1, recorder(outcome));
    EXPECT_EQ(outcome->calls, 1);
    ASSERT_TRUE(outcome->error);
    EXPECT_EQ(outcome->error->code(), -31);
    EXPECT_EQ(outcome->error->message(), QStringLiteral("该分区暂未配置内容来源"));
    QCoreApplication::processEvents();
    EXPECT_EQ(outcome->calls, 1);
    EXPECT_TRUE(fake.requests().isEmpty());
}

// ---- Delivery ----

TEST_F(FeedLoaderTest, CompletionsRunOnceOnTheMainThreadWhenTheScreenHasGone)
{
    auto screen = std::make_unique<QObject>();
    QPointer<QObject> weakScreen(screen.get());
    int reachedScreen = 0;
    QList<OutcomeRef<KRVideoList>> outcomes;
    auto guarded = [&](const OutcomeRef<KRVideoList>& outcome) {
        auto record = recorder(outcome);
        return [record, weakScreen, &reachedScreen](const KRVideoList& videos, const KROptionalError& error) {
            record(videos, error);
            if (weakScreen)
                ++reachedScreen;
        };
    };
    for (int i = 0; i < 6; ++i)
        outcomes.append(makeOutcome<KRVideoList>());
    client()->loadRecommendedHomePage(1, guarded(outcomes[0]));
    client()->loadHomePage(2, guarded(outcomes[1]));
    client()->loadSection(3, 1, guarded(outcomes[2]));
    client()->loadAggregateSections({3, 4}, 1, guarded(outcomes[3]));
    client()->search(QStringLiteral("猫"), 1, guarded(outcomes[4]));
    client()->loadUploaderVideosForMID(ServiceFixtures::kUploaderMID, ServiceFixtures::uploaderName(), 1, guarded(outcomes[5]));
    screen.reset();
    for (const auto& outcome : outcomes) {
        ASSERT_TRUE(settle(outcome));
        EXPECT_EQ(outcome->calls, 1);
        EXPECT_TRUE(outcome->onMain);
        EXPECT_FALSE(outcome->error);
        EXPECT_FALSE(outcome->value.isEmpty());
    }
    EXPECT_EQ(reachedScreen, 0);
}

} // namespace
