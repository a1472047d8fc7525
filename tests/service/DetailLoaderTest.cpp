#include "service/ServiceClientTesting.h"

using namespace servicetest;

namespace {

const QString kView = QStringLiteral("/x/web-interface/view");
const QString kPageList = QStringLiteral("/x/player/pagelist");
const qint64 kDetailPlays = 1000 + ServiceFixtures::kDetailAID % 97 * 1237;

class DetailLoaderTest : public ServiceClientTest {
protected:
    OutcomeRef<VideoRef> detail(const VideoRef& video, bool* inside = nullptr)
    {
        return run<VideoRef>([&](auto done) { client()->loadDetailForVideo(video, liveOwner(), done); }, inside);
    }
    OutcomeRef<VideoRef> statistics(const VideoRef& video)
    {
        return run<VideoRef>([&](auto done) { client()->loadStatisticsForVideo(video, liveOwner(), done); });
    }
    // A video as a history row keeps it: its BV, a saved part, its own texts.
    static VideoRef savedVideo(qint64 aid, qint64 cid)
    {
        auto video = videoWith(0, ServiceFixtures::bvidForAID(aid), cid);
        video->setTitle(QStringLiteral("看过的视频"));
        video->setPlayCount(77);
        return video;
    }
};

TEST_F(DetailLoaderTest, DetailKeepsTheCallersAidAndRecordsTheRealOne)
{
    auto given = videoWith(1300000123, ServiceFixtures::detailBVID());
    const auto outcome = detail(given);
    ASSERT_FALSE(outcome->error);
    const VideoRef& video = outcome->value;
    ASSERT_TRUE(video);
    EXPECT_EQ(QList<qint64>({video->aid(), video->resolvedAid(), video->cid(), video->pages().size()}),
              QList<qint64>({1300000123, ServiceFixtures::kDetailAID, ServiceFixtures::kDetailCID, 3}));
    EXPECT_EQ(video->title(), QStringLiteral("在家做的猫爬架"));
    EXPECT_EQ(requestsTo(kView).first().query, QStringLiteral("bvid=") + ServiceFixtures::detailBVID());
    EXPECT_EQ(given->cid(), 0) << "the caller's video is left alone";

    // By the aid alone; the BV comes from the reply.
    const auto byAID = detail(videoWith(ServiceFixtures::kDetailAID));
    EXPECT_EQ(requestsTo(kView).last().query, QStringLiteral("aid=%1").arg(ServiceFixtures::kDetailAID));
    EXPECT_EQ(byAID->value->bvid(), ServiceFixtures::detailBVID());

    for (const VideoRef& nameless : {VideoRef(), videoWith(0, QStringLiteral("not-a-bv"), 5)}) {
        bool inside = false;
        expectError(detail(nameless, &inside)->error, -2, QStringLiteral("缺少视频标识，无法加载详情"));
        EXPECT_TRUE(inside);
    }
}

TEST_F(DetailLoaderTest, UnavailableArchivesResolveThroughThePageListWhenTheSavedPartIsStillThere)
{
    const qint64 savedCID = ServiceFixtures::unavailableCID(ServiceFixtures::kHiddenAID) + 1;
    const auto hidden = detail(savedVideo(ServiceFixtures::kHiddenAID, savedCID));
    ASSERT_FALSE(hidden->error);
    const VideoRef& video = hidden->value;
    // The saved record knew the archive by its BV alone (aid 0); its own texts and counts stay.
    EXPECT_EQ(QList<qint64>({video->cid(), video->aid(), video->pages().size(), video->pageCount(), video->playCount(), video->width()}),
              QList<qint64>({savedCID, 0, 2, 2, 77, 1920}));
    EXPECT_EQ(QStringList({video->bvid(), video->title(), video->durationText()}),
              QStringList({ServiceFixtures::bvidForAID(ServiceFixtures::kHiddenAID), "看过的视频", "11:00"}));
    EXPECT_TRUE(runtimeLog().contains(QStringLiteral("fallback=pagelist")));
    EXPECT_TRUE(runtimeLog().contains(QStringLiteral("primaryCode=62002 fallbackCode=0")));

    // Without a saved part, the first one.
    EXPECT_EQ(detail(savedVideo(ServiceFixtures::kReviewAID, 0))->value->cid(), ServiceFixtures::unavailableCID(ServiceFixtures::kReviewAID));

    // A saved part that is gone: the view endpoint's error, and never the old API.
    const auto gone = detail(savedVideo(ServiceFixtures::kHiddenAID, 12345));
    expectError(gone->error, 62002, QStringLiteral("稿件不可见"));
    EXPECT_FALSE(gone->value);
    EXPECT_TRUE(runtimeLog().contains(QStringLiteral("primaryCode=62002 fallbackCode=-404")));
    expectError(detail(savedVideo(ServiceFixtures::kDeletedAID, 0))->error, -404, QStringLiteral("啥都木有"));
    EXPECT_TRUE(requestsTo(QStringLiteral("/view")).isEmpty());
}

TEST_F(DetailLoaderTest, PageListFallbackChecksItsOwnArguments)
{
    bool inside = false;
    const auto nameless = run<VideoRef>([&](auto done) { client()->loadArchivePageFallbackForVideo(videoWith(0), liveOwner(), done); }, &inside);
    EXPECT_TRUE(inside);
    expectError(nameless->error, -2, QStringLiteral("缺少视频标识，无法验证历史分集"));

    // Several pages with the saved cid: the last one counts.
    serveJSON(kPageList, R"({"code":0,"data":[{"cid":5,"page":1,"duration":61},{"cid":0,"page":2},"x",{"cid":5,"page":3,"duration":3600}]})");
    const auto repeated = run<VideoRef>([&](auto done) { client()->loadArchivePageFallbackForVideo(videoWith(42, QString(), 5), liveOwner(), done); });
    ASSERT_FALSE(repeated->error);
    EXPECT_EQ(repeated->value->pages().size(), 2);
    EXPECT_EQ(repeated->value->durationText(), QStringLiteral("1:00:00"));
    EXPECT_EQ(requestsTo(kPageList).last().query, QStringLiteral("aid=42"));
}

TEST_F(DetailLoaderTest, OtherFailuresFallBackToTheOldAPIOverPlainHTTP)
{
    serve(kView, ServiceFixtures::serverFailure(500));
    ConsoleCapture console;
    auto given = videoWith(ServiceFixtures::kDetailAID, ServiceFixtures::detailBVID());
    const auto outcome = detail(given);
    ASSERT_FALSE(outcome->error);
    const VideoRef& video = outcome->value;
    EXPECT_EQ(QList<qint64>({video->cid(), video->aid(), video->playCount()}), QList<qint64>({ServiceFixtures::kDetailCID, ServiceFixtures::kDetailAID, kDetailPlays}));
    EXPECT_EQ(QStringList({video->title(), video->bvid()}), QStringList({"在家做的猫爬架", ServiceFixtures::detailBVID()}));
    const FakeRequest legacy = requestsTo(QStringLiteral("/view")).first();
    EXPECT_EQ(legacy.host, KRServiceHosts::oldAPIHost());
    EXPECT_FALSE(legacy.tls);
    EXPECT_EQ(legacy.query, QStringLiteral("aid=%1").arg(ServiceFixtures::kDetailAID));
    EXPECT_TRUE(legacy.header(QStringLiteral("Referer")).isNull());
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneDetail] modern detail failed; fallback=legacy bvid=")));
    EXPECT_TRUE(runtimeLog().contains(QStringLiteral("success=YES fallback=legacy")));

    // Both roads failing: the old API's error.
    serve(kView, ServiceFixtures::stalled());
    KRAPIClient::setRequestTimeoutForTesting(0.5);
    const auto failed = detail(videoWith(ServiceFixtures::kDeletedAID));
    expectError(failed->error, -404);
    EXPECT_FALSE(failed->value);
}

TEST_F(DetailLoaderTest, AReplyNamingNoVideoIsNeverASuccess)
{
    // Code 0 with an empty "data" on both roads: a malformed answer, not a blank video.
    serveJSON(kView, R"({"code":0,"message":"0","data":{}})");
    fake.routeJSON(KRServiceHosts::oldAPIHost(), QStringLiteral("/view"), R"({})");
    const auto outcome = detail(videoWith(ServiceFixtures::kDetailAID));
    expectError(outcome->error, -4);
    EXPECT_FALSE(outcome->value);
    const auto stats = statistics(videoWith(ServiceFixtures::kDetailAID));
    expectError(stats->error, -4);
    EXPECT_FALSE(stats->value);
}

TEST_F(DetailLoaderTest, ArchiveOfAnEpisodeContinuesThroughTheSeason)
{
    const auto outcome = detail(videoWith(ServiceFixtures::kPGCArchiveAID + 2));
    ASSERT_FALSE(outcome->error);
    const VideoRef& video = outcome->value;
    EXPECT_TRUE(video->isPGC());
    EXPECT_EQ(QList<qint64>({video->episodeID(), video->seasonID(), video->cid(), video->aid()}),
              QList<qint64>({ServiceFixtures::kFirstEpisodeID + 2, ServiceFixtures::kSeasonID, ServiceFixtures::kFirstEpisodeCID + 2,
                             ServiceFixtures::kPGCArchiveAID + 2}));
    EXPECT_EQ(video->title(), QStringLiteral("星河旅人 · 第一颗星"));
    // The app season route, signed (the fake refuses anything else).
    EXPECT_EQ(requestsTo(QStringLiteral("/pgc/view/v2/app/season")).first().queryValue(QStringLiteral("ep_id")),
              QString::number(ServiceFixtures::kFirstEpisodeID + 2));
    EXPECT_TRUE(requestsTo(QStringLiteral("/pgc/view/web/season")).isEmpty());
    EXPECT_TRUE(runtimeLog().contains(QStringLiteral("[detail-resolve-pgc-chain]")));
}

TEST_F(DetailLoaderTest, StatisticsRefreshCountsOfAHistoryRow)
{
    const auto outcome = statistics(videoWith(0, ServiceFixtures::detailBVID()));
    ASSERT_FALSE(outcome->error);
    EXPECT_TRUE(outcome->value->statisticsKnown());
    EXPECT_EQ(outcome->value->playCount(), kDetailPlays);

    // A hidden archive keeps its saved part through the page list.
    const qint64 savedCID = ServiceFixtures::unavailableCID(ServiceFixtures::kHiddenAID);
    ConsoleCapture console;
    EXPECT_EQ(statistics(savedVideo(ServiceFixtures::kHiddenAID, savedCID))->value->cid(), savedCID);
    EXPECT_TRUE(console.contains(QStringLiteral("fallback=pagelist cid=%1 error=(null)").arg(savedCID)));
    expectError(statistics(savedVideo(ServiceFixtures::kHiddenAID, 999))->error, 62002);

    bool inside = true;
    const auto nameless = run<VideoRef>([&](auto done) { client()->loadStatisticsForVideo(videoWith(0), liveOwner(), done); }, &inside);
    EXPECT_FALSE(inside) << "on the next turn, not inside the call";
    expectError(nameless->error, -2, QStringLiteral("缺少视频标识，无法补全数据"));
}

TEST_F(DetailLoaderTest, TagsAndRelatedVideos)
{
    serveJSON(QStringLiteral("/x/tag/archive/tags"),
              R"({"code":0,"data":[{"tag_name":"猫"},{"tag_name":""},{"tag_name":7},{"tag_name":"木工"},"x",{"tag_name":"猫"}]})");
    const auto tags = run<QStringList>([&](auto done) { client()->loadTagsForVideo(videoWith(0, ServiceFixtures::detailBVID()), liveOwner(), done); });
    EXPECT_FALSE(tags->error);
    EXPECT_EQ(tags->value, (QStringList{QStringLiteral("猫"), QStringLiteral("木工")}));
    bool inside = false;
    expectError(run<QStringList>([&](auto done) { client()->loadTagsForVideo(videoWith(ServiceFixtures::kDetailAID), liveOwner(), done); }, &inside)->error,
                -2, QStringLiteral("缺少 BV 号，无法读取 Tag"));
    EXPECT_TRUE(inside);

    const auto related =
        run<KRVideoList>([&](auto done) { client()->loadRelatedVideosForVideo(videoWith(0, ServiceFixtures::detailBVID()), liveOwner(), done); });
    EXPECT_FALSE(related->error);
    ASSERT_EQ(related->value.size(), 10);
    for (const auto& video : related->value)
        EXPECT_EQ(video->resolvedAid(), video->aid()) << "registered before they arrive";
    expectError(run<KRVideoList>([&](auto done) { client()->loadRelatedVideosForVideo(videoWith(5), liveOwner(), done); }, &inside)->error, -3,
                QStringLiteral("缺少 BV 号，无法读取相关推荐"));
    EXPECT_TRUE(inside);
}

} // namespace
