#include "service/ServiceClientTesting.h"

using namespace servicetest;

namespace {

const QString kAppSeason = QStringLiteral("/pgc/view/v2/app/season");
const QString kWebSeason = QStringLiteral("/pgc/view/web/season");

// One episode object as JSON text.
QString episode(qint64 id, qint64 aid, const QString& bvid, qint64 cid)
{
    return QStringLiteral(R"({"id":%1,"aid":%2,"bvid":"%3","cid":%4,"long_title":"第%1集","duration":59999})").arg(id).arg(aid).arg(bvid).arg(cid);
}

class SeasonLoaderTest : public ServiceClientTest {
protected:
    // Both season routes answer {"code": 0, "result": season}.
    void routeSeasons(const QString& season)
    {
        const QByteArray reply = (QStringLiteral(R"({"code":0,"result":)") + season + QLatin1Char('}')).toUtf8();
        serveJSON(kAppSeason, reply);
        serveJSON(kWebSeason, reply);
    }
    OutcomeRef<VideoRef> season(const VideoRef& video)
    {
        return run<VideoRef>([&](auto done) { client()->loadResolvedPGCDetailForVideo(video, true, liveOwner(), done); });
    }
    OutcomeRef<VideoRef> pgcDetail(const VideoRef& video)
    {
        return run<VideoRef>([&](auto done) { client()->loadPGCDetailForVideo(video, liveOwner(), done); });
    }
};

TEST_F(SeasonLoaderTest, SelectionPrefersEpisodeThenBVThenCIDThenAID)
{
    // Four episodes, each matching the probe video by one identity only.
    const QString bvid = ServiceFixtures::bvidForAID(830001);
    routeSeasons(QStringLiteral(R"({"season_id":6000,"episodes":[%1,%2,%3,%4]})")
                     .arg(episode(61001, 810001, QStringLiteral("BV1aaaaaaaaa"), 71001),
                          episode(61002, 812345, QStringLiteral("BV1bbbbbbbbb"), 820001), episode(61003, 813333, bvid.toLower(), 71003),
                          episode(61004, 814444, QStringLiteral("BV1ddddddddd"), 71004)));
    auto probe = std::make_shared<KRVideo>();
    probe->setSeasonID(6000);
    probe->setAid(810001);
    probe->setCid(820001);
    probe->setBvid(bvid);
    probe->setEpisodeID(61004);
    QList<qint64> chosen;
    for (const auto& forget : QList<std::function<void()>>{
             [] {}, [&] { probe->setEpisodeID(0); }, [&] { probe->setBvid(QString()); }, [&] { probe->setCid(0); }}) {
        forget();
        const auto outcome = season(probe);
        ASSERT_FALSE(outcome->error);
        chosen.append(outcome->value->episodeID());
    }
    // A BV match ignores case; the last choice went by the aid.
    EXPECT_EQ(chosen, (QList<qint64>{61004, 61003, 61002, 61001}));
    EXPECT_EQ(requestsTo(kAppSeason).first().queryValue(QStringLiteral("ep_id")), QStringLiteral("61004"));
    EXPECT_EQ(requestsTo(kAppSeason).last().queryValue(QStringLiteral("season_id")), QStringLiteral("6000"));
    EXPECT_TRUE(requestsTo(kAppSeason).last().queryValue(QStringLiteral("ep_id")).isNull());

    // A video that names no episode of the season: -32, not some other episode. The app road
    // found nothing, so the web road was asked once, and no further.
    auto stranger = std::make_shared<KRVideo>();
    stranger->setSeasonID(6000);
    stranger->setCid(99);
    fake.clearRequests();
    const auto outcome = season(stranger);
    expectError(outcome->error, -32, QStringLiteral("该番剧暂无可播放的剧集"));
    EXPECT_FALSE(outcome->value);
    EXPECT_EQ(requestsTo(kAppSeason).size(), 1);
    ASSERT_EQ(requestsTo(kWebSeason).size(), 1);
    EXPECT_EQ(requestsTo(kWebSeason).first().query, QStringLiteral("season_id=6000"));
}

TEST_F(SeasonLoaderTest, ASeasonAloneGetsItsFirstPlayableEpisode)
{
    auto card = std::make_shared<KRVideo>();
    card->setPgc(true);
    card->setSeasonID(ServiceFixtures::kSeasonID);
    card->setSeasonType(1);
    card->setPgcBadge(QStringLiteral("会员专享"));
    card->setPgcOrderText(QStringLiteral("100万次播放"));
    const auto outcome = pgcDetail(card);
    ASSERT_FALSE(outcome->error);
    const VideoRef& video = outcome->value;
    EXPECT_EQ(QList<qint64>({video->episodeID(), video->cid(), video->seasonID(), video->ownerMID(), video->width()}),
              QList<qint64>({ServiceFixtures::kFirstEpisodeID, ServiceFixtures::kFirstEpisodeCID, ServiceFixtures::kSeasonID, 928123, 1920}));
    EXPECT_EQ(QStringList({video->title(), video->pgcEpisodeText(), video->pgcOrderText(), video->pgcBadge(), video->pgcSubtitle(),
                           video->tname(), video->ownerName(), video->durationText()}),
              QStringList({"星河旅人 · 出发", "第1话 出发", "100万次播放", "会员专享", "已完结, 全12话", "番剧", "岚帆番剧出差", "23:40"}));
    // The episode's own counts before the season's.
    EXPECT_EQ(QList<qint64>({video->playCount(), video->replyCount()}), QList<qint64>({900000, 800}));
    EXPECT_TRUE(video->statisticsKnown());
    // Twelve episodes and two trailers from a second module.
    ASSERT_EQ(video->pages().size(), 14);
    const QVariantMap trailer = video->pages().at(12);
    EXPECT_EQ(trailer.value(QStringLiteral("page")).toInt(), 13);
    EXPECT_EQ(trailer.value(QStringLiteral("season_id")).toLongLong(), ServiceFixtures::kSeasonID);
    EXPECT_EQ(trailer.value(QStringLiteral("part")).toString(), QStringLiteral("PV1"));
    EXPECT_EQ(trailer.value(QStringLiteral("duration")).toString(), QStringLiteral("01:35"));
    EXPECT_FALSE(trailer.contains(QStringLiteral("rotate")));
    EXPECT_TRUE(runtimeLog().contains(QStringLiteral("[pgc-statistics] season=4001 episode=5001 play=900000")));
}

TEST_F(SeasonLoaderTest, EpisodesAreCollectedOnceFromEverySection)
{
    // Episode 1 in three places, 2 in two; one without ids but with a cid (twice), one with
    // neither; 3 known by "ep_id" alone, deep in nested sections.
    const QString first = episode(1, 11, QString(), 101);
    const QString second = episode(2, 12, QString(), 102);
    const QString third = QStringLiteral(R"({"ep_id":3,"aid":13,"cid":103,"long_title":"三"})");
    const QString withoutIDs = QStringLiteral(R"({"cid":900,"aid":5})");
    routeSeasons(QStringLiteral(R"({"season_id":7,"title":"第1集","episodes":[%1],
        "modules":[{"data":{"episodes":[%1,%2],"section":{"episodes":[%4,{"title":"无标识"}]}}},"not a module"],
        "section":[{"episodes":[%2],"sections":{"episodes":[%3,%4]}}]})")
                     .arg(first, second, third, withoutIDs));
    auto card = std::make_shared<KRVideo>();
    card->setSeasonID(7);
    const auto outcome = season(card);
    ASSERT_FALSE(outcome->error);
    QList<qint64> cids;
    for (const QVariantMap& page : outcome->value->pages())
        cids.append(page.value(QStringLiteral("cid")).toLongLong());
    EXPECT_EQ(cids, (QList<qint64>{101, 102, 900, 103}));
    EXPECT_EQ(outcome->value->pages().at(2).value(QStringLiteral("ep_id")).toLongLong(), 0);
    EXPECT_EQ(outcome->value->title(), QStringLiteral("第1集")) << "a season title equal to the episode's stands alone";
    EXPECT_EQ(outcome->value->tname(), QStringLiteral("影视"));

    // No cid anywhere: nothing could be played, hint or no hint.
    routeSeasons(QStringLiteral(R"({"season_id":8,"episodes":[{"id":1}]})"));
    card->setSeasonID(8);
    expectError(season(card)->error, -32);
}

TEST_F(SeasonLoaderTest, FailedAppRoadIsRetriedOnceOnTheWeb)
{
    serve(kAppSeason, ServiceFixtures::serverFailure(500));
    ConsoleCapture console;
    auto card = std::make_shared<KRVideo>();
    card->setEpisodeID(ServiceFixtures::kFirstEpisodeID + 4);
    const auto outcome = season(card);
    ASSERT_FALSE(outcome->error);
    EXPECT_EQ(outcome->value->episodeID(), ServiceFixtures::kFirstEpisodeID + 4);
    EXPECT_EQ(outcome->value->title(), QStringLiteral("星河旅人 · 旧港"));
    EXPECT_EQ(outcome->value->playCount(), 12500000); // the web episodes carry no counts: the season's
    EXPECT_EQ(requestsTo(kWebSeason).first().query, QStringLiteral("ep_id=%1").arg(ServiceFixtures::kFirstEpisodeID + 4));
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvanePGC] detail source=web-fallback season=4001 episode=5005")));
    EXPECT_TRUE(runtimeLog().contains(QStringLiteral("[pgc-detail-web-fallback] season=0 ep=5005 appCode=500")));

    // Both roads failing: the web road's error.
    serve(kWebSeason, ServiceFixtures::serviceError(-404, QStringLiteral("啥都木有")));
    expectError(season(card)->error, -404);
    EXPECT_EQ(requestsTo(kWebSeason).size(), 2);
}

TEST_F(SeasonLoaderTest, PGCDetailFindsTheEpisodeOrSaysWhyNot)
{
    const auto none = begin<VideoRef>([&](auto done) { client()->loadPGCDetailForVideo(nullptr, liveOwner(), done); });
    EXPECT_EQ(none->calls, 1);
    expectError(none->error, -3, QStringLiteral("番剧视频标识不完整"));
    const auto bare = begin<VideoRef>([&](auto done) { client()->loadPGCDetailForVideo(std::make_shared<KRVideo>(), liveOwner(), done); });
    EXPECT_EQ(bare->calls, 1);
    expectError(bare->error, -33, QStringLiteral("番剧剧集标识缺失"));
    // An ordinary archive names no episode in its view reply.
    expectError(pgcDetail(videoWith(ServiceFixtures::kDetailAID))->error, -33, QStringLiteral("未能识别对应的番剧剧集"));

    // The redirect address names the episode, which is recorded on the given video.
    const QString redirect = QStringLiteral("https://%1/bangumi/play/ep5004?from=search").arg(KRServiceHosts::webHost());
    serve(QStringLiteral("/x/web-interface/view"),
          FakeReply::json(ServiceFixtures::envelope(QVariantMap{{QStringLiteral("aid"), 890004}, {QStringLiteral("redirectUrl"), redirect}})));
    auto given = videoWith(ServiceFixtures::kPGCArchiveAID + 3);
    const auto outcome = pgcDetail(given);
    ASSERT_FALSE(outcome->error);
    EXPECT_EQ(outcome->value->episodeID(), 5004);
    EXPECT_EQ(outcome->value->cid(), ServiceFixtures::kFirstEpisodeCID + 3);
    EXPECT_TRUE(given->isPGC());
    EXPECT_EQ(given->episodeID(), 5004);
    EXPECT_TRUE(runtimeLog().contains(QStringLiteral("[pgc-identity-bootstrap] bvid=(null) aid=890004 ep=5004 season=0 code=0")));
}

} // namespace
