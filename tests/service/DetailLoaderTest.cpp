#include "service/ReadLoaderTesting.h"

#include "support/ConsoleCapture.h"

using namespace readloaders;
using VideoRef = std::shared_ptr<KRVideo>;

namespace {

const QString kView = QStringLiteral("/x/web-interface/view");
const QString kPageList = QStringLiteral("/x/player/pagelist");

class DetailLoaderTest : public ReadLoaderTest {
protected:
    OutcomeRef<VideoRef> detail(const VideoRef& video)
    {
        return runOnce<VideoRef>([&](auto done) { client()->loadDetailForVideo(video, done); });
    }
    OutcomeRef<VideoRef> statistics(const VideoRef& video)
    {
        return runOnce<VideoRef>([&](auto done) { client()->loadStatisticsForVideo(video, done); });
    }
    // A video as a history row keeps it: its real id, a saved part, its own texts.
    static VideoRef savedVideo(qint64 aid, qint64 cid)
    {
        auto video = videoWith(0, ServiceFixtures::bvidForAID(aid), cid);
        video->setTitle(QStringLiteral("看过的视频"));
        video->setOwnerName(QStringLiteral("某UP"));
        video->setPlayCount(77);
        video->setStatisticsKnown(true);
        return video;
    }
};

// ---- The view endpoint ----

TEST_F(DetailLoaderTest, DetailKeepsTheCallersAidAndRecordsTheRealOne)
{
    auto given = videoWith(1300000123, ServiceFixtures::detailBVID());
    auto outcome = detail(given);
    ASSERT_FALSE(outcome->error);
    const VideoRef& video = outcome->value;
    ASSERT_TRUE(video);
    EXPECT_NE(video.get(), given.get());
    EXPECT_EQ(video->aid(), 1300000123);
    EXPECT_EQ(video->resolvedAid(), ServiceFixtures::kDetailAID);
    EXPECT_EQ(video->cid(), ServiceFixtures::kDetailCID);
    EXPECT_EQ(video->pages().size(), 3);
    EXPECT_EQ(video->title(), QStringLiteral("在家做的猫爬架"));
    EXPECT_EQ(video->ownerMID(), ServiceFixtures::kUploaderMID);
    EXPECT_EQ(requestsTo(kView).first().query, QStringLiteral("bvid=") + ServiceFixtures::detailBVID());
    EXPECT_EQ(given->cid(), 0); // the caller's video is left alone
}

TEST_F(DetailLoaderTest, DetailOfAnAidAloneAsksByAid)
{
    auto outcome = detail(videoWith(ServiceFixtures::kDetailAID));
    ASSERT_FALSE(outcome->error);
    EXPECT_EQ(requestsTo(kView).first().query, QStringLiteral("aid=%1").arg(ServiceFixtures::kDetailAID));
    EXPECT_EQ(outcome->value->resolvedAid(), ServiceFixtures::kDetailAID);
    EXPECT_EQ(outcome->value->bvid(), ServiceFixtures::detailBVID());
}

TEST_F(DetailLoaderTest, DetailWithoutAnyIdFailsInsideTheCall)
{
    for (const VideoRef& video : {VideoRef(), videoWith(0, QStringLiteral("not-a-bv"), 5)}) {
        auto outcome = makeOutcome<VideoRef>();
        client()->loadDetailForVideo(video, recorder(outcome));
        EXPECT_EQ(outcome->calls, 1);
        ASSERT_TRUE(outcome->error);
        EXPECT_EQ(outcome->error->code(), -2);
        EXPECT_EQ(outcome->error->message(), QStringLiteral("缺少视频标识，无法加载详情"));
    }
    EXPECT_TRUE(fake.requests().isEmpty());
}

// ---- Unavailable archives: the page list ----

TEST_F(DetailLoaderTest, HiddenArchiveWithItsSavedPartStillListedResolvesThroughThePageList)
{
    const qint64 savedCID = ServiceFixtures::unavailableCID(ServiceFixtures::kHiddenAID) + 1;
    auto given = savedVideo(ServiceFixtures::kHiddenAID, savedCID);
    auto outcome = detail(given);
    ASSERT_FALSE(outcome->error);
    const VideoRef& video = outcome->value;
    ASSERT_TRUE(video);
    EXPECT_EQ(video->cid(), savedCID);
    EXPECT_EQ(video->bvid(), ServiceFixtures::bvidForAID(ServiceFixtures::kHiddenAID));
    EXPECT_EQ(video->aid(), 0); // the saved record knew the archive by its BV alone
    ASSERT_EQ(video->pages().size(), 2);
    EXPECT_EQ(video->pageCount(), 2);
    EXPECT_EQ(video->pages().at(1).value(QStringLiteral("part")).toString(), QStringLiteral("下"));
    EXPECT_EQ(video->title(), QStringLiteral("看过的视频"));
    EXPECT_EQ(video->playCount(), 77);
    EXPECT_EQ(video->durationText(), QStringLiteral("11:00"));
    EXPECT_EQ(video->width(), 1920);
    EXPECT_EQ(requestsTo(kPageList).size(), 1);
    EXPECT_TRUE(runtimeLog().contains(QStringLiteral("fallback=pagelist")));
    EXPECT_TRUE(runtimeLog().contains(QStringLiteral("primaryCode=62002 fallbackCode=0")));
}

TEST_F(DetailLoaderTest, HiddenArchiveWhoseSavedPartIsGoneReportsTheServicesError)
{
    auto outcome = detail(savedVideo(ServiceFixtures::kHiddenAID, 12345));
    ASSERT_TRUE(outcome->error);
    EXPECT_EQ(outcome->error->code(), 62002);
    EXPECT_EQ(outcome->error->message(), QStringLiteral("稿件不可见"));
    EXPECT_FALSE(outcome->value);
    EXPECT_TRUE(runtimeLog().contains(QStringLiteral("primaryCode=62002 fallbackCode=-404")));
    // Never the old API for an archive the service reports gone.
    EXPECT_TRUE(requestsTo(QStringLiteral("/view")).isEmpty());
}

TEST_F(DetailLoaderTest, ArchiveUnderReviewWithoutSavedPartTakesTheFirstPart)
{
    auto outcome = detail(savedVideo(ServiceFixtures::kReviewAID, 0));
    ASSERT_FALSE(outcome->error);
    EXPECT_EQ(outcome->value->cid(), ServiceFixtures::unavailableCID(ServiceFixtures::kReviewAID));
    EXPECT_EQ(outcome->value->durationText(), QStringLiteral("10:00"));

    auto deleted = detail(savedVideo(ServiceFixtures::kDeletedAID, 0));
    ASSERT_TRUE(deleted->error);
    EXPECT_EQ(deleted->error->code(), -404);
    EXPECT_EQ(deleted->error->message(), QStringLiteral("啥都木有"));
}

TEST_F(DetailLoaderTest, PageListFallbackChecksItsOwnArguments)
{
    auto outcome = makeOutcome<VideoRef>();
    client()->loadArchivePageFallbackForVideo(videoWith(0), recorder(outcome));
    EXPECT_EQ(outcome->calls, 1);
    ASSERT_TRUE(outcome->error);
    EXPECT_EQ(outcome->error->code(), -2);
    EXPECT_EQ(outcome->error->message(), QStringLiteral("缺少视频标识，无法验证历史分集"));

    // Several pages with the saved cid: the last one counts.
    fake.routeJSON(KRServiceHosts::apiHost(), kPageList,
                   R"({"code":0,"data":[{"cid":5,"page":1,"duration":61},{"cid":0,"page":2},"x",{"cid":5,"page":3,"duration":3600}]})");
    auto repeated = makeOutcome<VideoRef>();
    client()->loadArchivePageFallbackForVideo(videoWith(42, QString(), 5), recorder(repeated));
    KR_SETTLE_ONCE(repeated);
    ASSERT_FALSE(repeated->error);
    EXPECT_EQ(repeated->value->pages().size(), 2);
    EXPECT_EQ(repeated->value->durationText(), QStringLiteral("1:00:00"));
    EXPECT_EQ(requestsTo(kPageList).last().query, QStringLiteral("aid=42"));
}

// ---- Other failures: the old API ----

TEST_F(DetailLoaderTest, ServerFailureFallsBackToTheOldAPIOverPlainHTTP)
{
    fake.routeReply(KRServiceHosts::apiHost(), kView, ServiceFixtures::serverFailure(500));
    testsupport::ConsoleCapture console;
    auto given = videoWith(ServiceFixtures::kDetailAID, ServiceFixtures::detailBVID());
    given->setTname(QStringLiteral("手工"));
    auto outcome = detail(given);
    ASSERT_FALSE(outcome->error);
    const VideoRef& video = outcome->value;
    ASSERT_TRUE(video);
    EXPECT_EQ(video->title(), QStringLiteral("在家做的猫爬架"));
    EXPECT_EQ(video->cid(), ServiceFixtures::kDetailCID);
    EXPECT_EQ(video->aid(), ServiceFixtures::kDetailAID);
    EXPECT_EQ(video->bvid(), ServiceFixtures::detailBVID());
    EXPECT_EQ(video->tname(), QStringLiteral("单机游戏"));
    EXPECT_EQ(video->playCount(), 1000 + ServiceFixtures::kDetailAID % 97 * 1237);

    const QList<FakeRequest> legacy = requestsTo(QStringLiteral("/view"));
    ASSERT_EQ(legacy.size(), 1);
    EXPECT_EQ(legacy.first().host, KRServiceHosts::oldAPIHost());
    EXPECT_FALSE(legacy.first().tls);
    EXPECT_EQ(legacy.first().query, QStringLiteral("aid=%1").arg(ServiceFixtures::kDetailAID));
    EXPECT_TRUE(legacy.first().header(QStringLiteral("Referer")).isNull());
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneDetail] modern detail failed; fallback=legacy bvid=")));
    EXPECT_TRUE(runtimeLog().contains(QStringLiteral("success=YES fallback=legacy")));
}

TEST_F(DetailLoaderTest, BothRoadsFailingReportTheOldAPIsError)
{
    fake.routeReply(KRServiceHosts::apiHost(), kView, ServiceFixtures::stalled());
    KRAPIClient::setRequestTimeoutForTesting(0.5);
    auto outcome = detail(videoWith(ServiceFixtures::kDeletedAID));
    ASSERT_TRUE(outcome->error);
    EXPECT_EQ(outcome->error->domain(), KRAPIErrorDomain);
    EXPECT_EQ(outcome->error->code(), -404);
    EXPECT_FALSE(outcome->value);
}

TEST_F(DetailLoaderTest, AReplyNamingNoVideoIsNeverASuccess)
{
    // Code 0 with an empty "data" on both roads: a malformed answer, not a blank video.
    fake.routeJSON(KRServiceHosts::apiHost(), kView, R"({"code":0,"message":"0","data":{}})");
    fake.routeJSON(KRServiceHosts::oldAPIHost(), QStringLiteral("/view"), R"({})");
    auto outcome = detail(videoWith(ServiceFixtures::kDetailAID));
    ASSERT_TRUE(outcome->error);
    EXPECT_EQ(outcome->error->code(), -4);
    EXPECT_FALSE(outcome->value);
    EXPECT_EQ(requestsTo(QStringLiteral("/view")).size(), 1);

    auto stats = statistics(videoWith(ServiceFixtures::kDetailAID));
    ASSERT_TRUE(stats->error);
    EXPECT_EQ(stats->error->code(), -4);
    EXPECT_FALSE(stats->value);
}

// ---- PGC archives ----

TEST_F(DetailLoaderTest, ArchiveOfAnEpisodeContinuesThroughTheSeason)
{
    auto outcome = detail(videoWith(ServiceFixtures::kPGCArchiveAID + 2));
    ASSERT_FALSE(outcome->error);
    const VideoRef& video = outcome->value;
    ASSERT_TRUE(video);
    EXPECT_TRUE(video->isPGC());
    EXPECT_EQ(video->episodeID(), ServiceFixtures::kFirstEpisodeID + 2);
    EXPECT_EQ(video->seasonID(), ServiceFixtures::kSeasonID);
    EXPECT_EQ(video->cid(), ServiceFixtures::kFirstEpisodeCID + 2);
    EXPECT_EQ(video->aid(), ServiceFixtures::kPGCArchiveAID + 2);
    EXPECT_EQ(video->title(), QStringLiteral("星河旅人 · 第一颗星"));
    EXPECT_EQ(video->pageCount(), 14);
    // The app season route, signed (the fake refuses anything else).
    const QList<FakeRequest> seasons = requestsTo(QStringLiteral("/pgc/view/v2/app/season"));
    ASSERT_EQ(seasons.size(), 1);
    EXPECT_EQ(seasons.first().queryValue(QStringLiteral("ep_id")), QString::number(ServiceFixtures::kFirstEpisodeID + 2));
    EXPECT_TRUE(requestsTo(QStringLiteral("/pgc/view/web/season")).isEmpty());
    EXPECT_TRUE(runtimeLog().contains(QStringLiteral("[detail-resolve-pgc-chain]")));
}

// ---- Statistics ----

TEST_F(DetailLoaderTest, StatisticsRefreshCountsOfAHistoryRow)
{
    auto outcome = statistics(videoWith(0, ServiceFixtures::detailBVID()));
    ASSERT_FALSE(outcome->error);
    EXPECT_TRUE(outcome->value->statisticsKnown());
    EXPECT_EQ(outcome->value->playCount(), 1000 + ServiceFixtures::kDetailAID % 97 * 1237);

    // A hidden archive keeps its saved part through the page list.
    const qint64 savedCID = ServiceFixtures::unavailableCID(ServiceFixtures::kHiddenAID);
    testsupport::ConsoleCapture console;
    auto hidden = statistics(savedVideo(ServiceFixtures::kHiddenAID, savedCID));
    ASSERT_FALSE(hidden->error);
    EXPECT_EQ(hidden->value->cid(), savedCID);
    EXPECT_TRUE(console.contains(QStringLiteral("fallback=pagelist cid=%1 error=(null)").arg(savedCID)));

    auto gone = statistics(savedVideo(ServiceFixtures::kHiddenAID, 999));
    ASSERT_TRUE(gone->error);
    EXPECT_EQ(gone->error->code(), 62002);
}

TEST_F(DetailLoaderTest, StatisticsWithoutIdsFailOnTheNextTurn)
{
    auto outcome = makeOutcome<VideoRef>();
    client()->loadStatisticsForVideo(videoWith(0), recorder(outcome));
    EXPECT_EQ(outcome->calls, 0);
    KR_SETTLE_ONCE(outcome);
    ASSERT_TRUE(outcome->error);
    EXPECT_EQ(outcome->error->code(), -2);
    EXPECT_EQ(outcome->error->message(), QStringLiteral("缺少视频标识，无法补全数据"));
}

// ---- Tags and related videos ----

TEST_F(DetailLoaderTest, TagsAreListedOnceInReplyOrder)
{
    fake.routeJSON(KRServiceHosts::apiHost(), QStringLiteral("/x/tag/archive/tags"),
                   R"({"code":0,"data":[{"tag_name":"猫"},{"tag_name":""},{"tag_name":7},{"tag_name":"木工"},"x",{"tag_name":"猫"}]})");
    auto outcome = makeOutcome<QStringList>();
    client()->loadTagsForVideo(videoWith(0, ServiceFixtures::detailBVID()), recorder(outcome));
    KR_SETTLE_ONCE(outcome);
    EXPECT_FALSE(outcome->error);
    EXPECT_EQ(outcome->value, (QStringList{QStringLiteral("猫"), QStringLiteral("木工")}));

    auto missing = makeOutcome<QStringList>();
    client()->loadTagsForVideo(videoWith(ServiceFixtures::kDetailAID), recorder(missing));
    EXPECT_EQ(missing->calls, 1);
    ASSERT_TRUE(missing->error);
    EXPECT_EQ(missing->error->code(), -2);
    EXPECT_EQ(missing->error->message(), QStringLiteral("缺少 BV 号，无法读取 Tag"));

    fake.routeReply(KRServiceHosts::apiHost(), QStringLiteral("/x/tag/archive/tags"), ServiceFixtures::serviceError(-400, QStringLiteral("请求错误")));
    auto failed = makeOutcome<QStringList>();
    client()->loadTagsForVideo(videoWith(0, ServiceFixtures::detailBVID()), recorder(failed));
    KR_SETTLE_ONCE(failed);
    ASSERT_TRUE(failed->error);
    EXPECT_TRUE(failed->value.isEmpty());
}

TEST_F(DetailLoaderTest, RelatedVideosAreRegisteredBeforeTheyArrive)
{
    auto seed = videoWith(0, ServiceFixtures::detailBVID());
    auto outcome = makeOutcome<KRVideoList>();
    client()->loadRelatedVideosForVideo(seed, recorder(outcome));
    KR_SETTLE_ONCE(outcome);
    EXPECT_FALSE(outcome->error);
    ASSERT_EQ(outcome->value.size(), 10);
    for (const auto& video : outcome->value)
        EXPECT_EQ(video->resolvedAid(), video->aid());

    auto missing = makeOutcome<KRVideoList>();
    client()->loadRelatedVideosForVideo(videoWith(5), recorder(missing));
    EXPECT_EQ(missing->calls, 1);
    ASSERT_TRUE(missing->error);
    EXPECT_EQ(missing->error->code(), -3);
    EXPECT_EQ(missing->error->message(), QStringLiteral("缺少 BV 号，无法读取相关推荐"));
}

} // namespace
