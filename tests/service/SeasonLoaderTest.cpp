#include "service/ReadLoaderTesting.h"

#include "support/ConsoleCapture.h"

using namespace readloaders;
using VideoRef = std::shared_ptr<KRVideo>;

namespace {

const QString kAppSeason = QStringLiteral("/pgc/view/v2/app/season");
const QString kWebSeason = QStringLiteral("/pgc/view/web/season");

// Four episodes, each matching the probe video by one identity only.
QVariantMap episode(qint64 id, qint64 aid, const QString& bvid, qint64 cid, const QString& longTitle)
{
    return {{QStringLiteral("id"), id},
            {QStringLiteral("aid"), aid},
            {QStringLiteral("bvid"), bvid},
            {QStringLiteral("cid"), cid},
            {QStringLiteral("long_title"), longTitle},
            {QStringLiteral("title"), QString::number(id)},
            {QStringLiteral("duration"), 59999}};
}

const qint64 kByAID = 810001;
const qint64 kByCID = 820001;
const QString kBVID = ServiceFixtures::bvidForAID(830001);
const qint64 kEpisode = 61004;

QVariantMap probeSeason()
{
    const QVariantList episodes{episode(61001, kByAID, QStringLiteral("BV1aaaaaaaaa"), 71001, QStringLiteral("甲")),
                                episode(61002, 812345, QStringLiteral("BV1bbbbbbbbb"), kByCID, QStringLiteral("乙")),
                                episode(61003, 813333, kBVID.toLower(), 71003, QStringLiteral("丙")),
                                episode(kEpisode, 814444, QStringLiteral("BV1ddddddddd"), 71004, QStringLiteral("丁"))};
    return {{QStringLiteral("code"), 0},
            {QStringLiteral("result"), QVariantMap{{QStringLiteral("season_id"), 6000},
                                                   {QStringLiteral("title"), QStringLiteral("试映")},
                                                   {QStringLiteral("type"), 2},
                                                   {QStringLiteral("episodes"), episodes}}}};
}

class SeasonLoaderTest : public ReadLoaderTest {
protected:
    void SetUp() override
    {
        ReadLoaderTest::SetUp();
        probe = std::make_shared<KRVideo>();
        probe->setPgc(true);
        probe->setSeasonID(6000);
        probe->setAid(kByAID);
        probe->setResolvedAid(kByAID);
        probe->setCid(kByCID);
        probe->setBvid(kBVID);
        probe->setEpisodeID(kEpisode);
    }

    void routeSeasons(const QVariantMap& reply)
    {
        fake.routeReply(KRServiceHosts::apiHost(), kAppSeason, FakeReply::json(reply));
        fake.routeReply(KRServiceHosts::apiHost(), kWebSeason, FakeReply::json(reply));
    }

    OutcomeRef<VideoRef> season(const VideoRef& video)
    {
        return runOnce<VideoRef>([&](auto done) { client()->loadResolvedPGCDetailForVideo(video, true, done); });
    }
    OutcomeRef<VideoRef> pgcDetail(const VideoRef& video)
    {
        return runOnce<VideoRef>([&](auto done) { client()->loadPGCDetailForVideo(video, done); });
    }

    VideoRef probe;
};

TEST_F(SeasonLoaderTest, SelectionPrefersEpisodeThenBVThenCIDThenAID)
{
    routeSeasons(probeSeason());
    auto byEpisode = season(probe);
    ASSERT_FALSE(byEpisode->error);
    EXPECT_EQ(byEpisode->value->episodeID(), kEpisode);

    probe->setEpisodeID(0);
    auto byBV = season(probe); // the reply's BV is in lower case: compared ignoring case
    ASSERT_FALSE(byBV->error);
    EXPECT_EQ(byBV->value->episodeID(), 61003);

    probe->setBvid(QString());
    probe->setResolvedAid(0); // no BV can be computed either
    probe->setAid(kByAID);
    auto byCID = season(probe);
    ASSERT_FALSE(byCID->error);
    EXPECT_EQ(byCID->value->episodeID(), 61002);

    probe->setCid(0);
    auto byAID = season(probe);
    ASSERT_FALSE(byAID->error);
    EXPECT_EQ(byAID->value->episodeID(), 61001);
    EXPECT_EQ(byAID->value->cid(), 71001);
    EXPECT_EQ(byAID->value->aid(), kByAID);
    EXPECT_EQ(byAID->value->resolvedAid(), kByAID);

    // The request names the episode when there is one, else the season.
    EXPECT_EQ(requestsTo(kAppSeason).first().queryValue(QStringLiteral("ep_id")), QString::number(kEpisode));
    EXPECT_EQ(requestsTo(kAppSeason).last().queryValue(QStringLiteral("season_id")), QStringLiteral("6000"));
    EXPECT_TRUE(requestsTo(kAppSeason).last().queryValue(QStringLiteral("ep_id")).isNull());
}

TEST_F(SeasonLoaderTest, AVideoThatNamesNoEpisodeOfTheSeasonGetsMinus32)
{
    routeSeasons(probeSeason());
    auto stranger = std::make_shared<KRVideo>();
    stranger->setSeasonID(6000);
    stranger->setCid(99);
    auto outcome = season(stranger);
    ASSERT_TRUE(outcome->error);
    EXPECT_EQ(outcome->error->code(), -32);
    EXPECT_EQ(outcome->error->message(), QStringLiteral("该番剧暂无可播放的剧集"));
    EXPECT_FALSE(outcome->value);
    // The app road found nothing, so the web road was asked once, and no further.
    EXPECT_EQ(requestsTo(kAppSeason).size(), 1);
    EXPECT_EQ(requestsTo(kWebSeason).size(), 1);
    EXPECT_EQ(requestsTo(kWebSeason).first().query, QStringLiteral("season_id=6000"));
}

TEST_F(SeasonLoaderTest, ASeasonAloneGetsItsFirstPlayableEpisode)
{
    auto catalogueCard = std::make_shared<KRVideo>();
    catalogueCard->setPgc(true);
    catalogueCard->setSeasonID(ServiceFixtures::kSeasonID);
    catalogueCard->setSeasonType(1);
    catalogueCard->setPgcBadge(QStringLiteral("会员专享"));
    catalogueCard->setPgcOrderText(QStringLiteral("100万次播放"));
    auto outcome = pgcDetail(catalogueCard);
    ASSERT_FALSE(outcome->error);
    const VideoRef& video = outcome->value;
    EXPECT_EQ(video->episodeID(), ServiceFixtures::kFirstEpisodeID);
    EXPECT_EQ(video->cid(), ServiceFixtures::kFirstEpisodeCID);
    EXPECT_EQ(video->seasonID(), ServiceFixtures::kSeasonID);
    EXPECT_EQ(video->title(), QStringLiteral("星河旅人 · 出发"));
    EXPECT_EQ(video->pgcEpisodeText(), QStringLiteral("第1话 出发"));
    EXPECT_EQ(video->pgcOrderText(), QStringLiteral("100万次播放"));
    EXPECT_EQ(video->pgcBadge(), QStringLiteral("会员专享"));
    EXPECT_EQ(video->pgcSubtitle(), QStringLiteral("已完结, 全12话"));
    EXPECT_EQ(video->tname(), QStringLiteral("番剧"));
    EXPECT_EQ(video->ownerName(), QStringLiteral("岚帆番剧出差"));
    EXPECT_EQ(video->ownerMID(), 928123);
    EXPECT_EQ(video->durationText(), QStringLiteral("23:40"));
    EXPECT_EQ(video->playCount(), 900000); // the episode's own count before the season's
    EXPECT_EQ(video->replyCount(), 800);
    EXPECT_TRUE(video->statisticsKnown());
    EXPECT_EQ(video->width(), 1920);
    ASSERT_EQ(video->pages().size(), 14);
    const QVariantMap trailer = video->pages().at(12);
    EXPECT_EQ(trailer.value(QStringLiteral("page")).toInt(), 13);
    EXPECT_EQ(trailer.value(QStringLiteral("ep_id")).toLongLong(), ServiceFixtures::kTrailerEpisodeID);
    EXPECT_EQ(trailer.value(QStringLiteral("season_id")).toLongLong(), ServiceFixtures::kSeasonID);
    EXPECT_EQ(trailer.value(QStringLiteral("part")).toString(), QStringLiteral("PV1"));
    EXPECT_EQ(trailer.value(QStringLiteral("duration")).toString(), QStringLiteral("01:35"));
    EXPECT_FALSE(trailer.contains(QStringLiteral("rotate")));
    EXPECT_TRUE(runtimeLog().contains(QStringLiteral("[pgc-statistics] season=4001 episode=5001 play=900000")));
}

TEST_F(SeasonLoaderTest, EpisodesAreCollectedOnceFromEverySection)
{
    const QVariantMap withoutIDs{{QStringLiteral("cid"), 900}, {QStringLiteral("aid"), 5}};
    const QVariantMap nothing{{QStringLiteral("title"), QStringLiteral("无标识")}};
    const QVariantMap first = episode(1, 11, QString(), 101, QStringLiteral("一"));
    const QVariantMap second = episode(2, 12, QString(), 102, QStringLiteral("二"));
    QVariantMap third = episode(0, 13, QString(), 103, QStringLiteral("三"));
    third.insert(QStringLiteral("ep_id"), 3);
    const QVariantMap reply{
        {QStringLiteral("code"), 0},
        {QStringLiteral("data"),
         QVariantMap{{QStringLiteral("season_id"), 7},
                     {QStringLiteral("episodes"), QVariantList{first}},
                     {QStringLiteral("modules"),
                      QVariantList{QVariantMap{{QStringLiteral("data"),
                                                QVariantMap{{QStringLiteral("episodes"), QVariantList{first, second}},
                                                            {QStringLiteral("section"),
                                                             QVariantMap{{QStringLiteral("episodes"), QVariantList{withoutIDs, nothing}}}}}}},
                                   QStringLiteral("not a module")}},
                     {QStringLiteral("section"),
                      QVariantList{QVariantMap{{QStringLiteral("episodes"), QVariantList{second}},
                                               {QStringLiteral("sections"),
                                                QVariantMap{{QStringLiteral("episodes"), QVariantList{third, withoutIDs}}}}}}}}}};
    routeSeasons(reply);
    auto card = std::make_shared<KRVideo>();
    card->setSeasonID(7);
    auto outcome = season(card);
    ASSERT_FALSE(outcome->error);
    QList<qint64> cids;
    for (const QVariantMap& page : outcome->value->pages())
        cids.append(page.value(QStringLiteral("cid")).toLongLong());
    EXPECT_EQ(cids, (QList<qint64>{101, 102, 900, 103}));
    EXPECT_EQ(outcome->value->pages().at(2).value(QStringLiteral("ep_id")).toLongLong(), 0);
    EXPECT_EQ(outcome->value->title(), QStringLiteral("一"));
    EXPECT_EQ(outcome->value->tname(), QStringLiteral("影视"));
}

TEST_F(SeasonLoaderTest, ASeasonWithoutPlayableEpisodesIsAnError)
{
    // No cid anywhere: nothing could be played, hint or no hint.
    routeSeasons(QVariantMap{{QStringLiteral("code"), 0},
                             {QStringLiteral("result"),
                              QVariantMap{{QStringLiteral("season_id"), 8},
                                          {QStringLiteral("episodes"), QVariantList{QVariantMap{{QStringLiteral("id"), 1}}}}}}});
    auto card = std::make_shared<KRVideo>();
    card->setSeasonID(8);
    auto outcome = season(card);
    ASSERT_TRUE(outcome->error);
    EXPECT_EQ(outcome->error->code(), -32);
    EXPECT_FALSE(outcome->value);
}

TEST_F(SeasonLoaderTest, FailedAppRoadIsRetriedOnceOnTheWeb)
{
    fake.routeReply(KRServiceHosts::apiHost(), kAppSeason, ServiceFixtures::serverFailure(500));
    testsupport::ConsoleCapture console;
    auto card = std::make_shared<KRVideo>();
    card->setEpisodeID(ServiceFixtures::kFirstEpisodeID + 4);
    auto outcome = season(card);
    ASSERT_FALSE(outcome->error);
    EXPECT_EQ(outcome->value->episodeID(), ServiceFixtures::kFirstEpisodeID + 4);
    EXPECT_EQ(outcome->value->title(), QStringLiteral("星河旅人 · 旧港"));
    EXPECT_EQ(outcome->value->playCount(), 12500000); // the web episodes carry no counts: the season's
    EXPECT_EQ(requestsTo(kWebSeason).first().query, QStringLiteral("ep_id=%1").arg(ServiceFixtures::kFirstEpisodeID + 4));
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvanePGC] detail source=web-fallback season=4001 episode=5005")));
    EXPECT_TRUE(runtimeLog().contains(QStringLiteral("[pgc-detail-web-fallback] season=0 ep=5005 appCode=500")));

    // Both roads failing: the web road's error.
    fake.routeReply(KRServiceHosts::apiHost(), kWebSeason, ServiceFixtures::serviceError(-404, QStringLiteral("啥都木有")));
    auto failed = season(card);
    ASSERT_TRUE(failed->error);
    EXPECT_EQ(failed->error->code(), -404);
    EXPECT_EQ(requestsTo(kWebSeason).size(), 2);
}

TEST_F(SeasonLoaderTest, PGCDetailChecksItsIdentity)
{
    auto none = makeOutcome<VideoRef>();
    client()->loadPGCDetailForVideo(nullptr, recorder(none));
    EXPECT_EQ(none->calls, 1);
    ASSERT_TRUE(none->error);
    EXPECT_EQ(none->error->code(), -3);
    EXPECT_EQ(none->error->message(), QStringLiteral("番剧视频标识不完整"));

    auto bare = makeOutcome<VideoRef>();
    client()->loadPGCDetailForVideo(std::make_shared<KRVideo>(), recorder(bare));
    EXPECT_EQ(bare->calls, 1);
    ASSERT_TRUE(bare->error);
    EXPECT_EQ(bare->error->code(), -33);
    EXPECT_EQ(bare->error->message(), QStringLiteral("番剧剧集标识缺失"));

    // An ordinary archive names no episode in its view reply.
    auto plain = pgcDetail(videoWith(ServiceFixtures::kDetailAID));
    ASSERT_TRUE(plain->error);
    EXPECT_EQ(plain->error->code(), -33);
    EXPECT_EQ(plain->error->message(), QStringLiteral("未能识别对应的番剧剧集"));
}

TEST_F(SeasonLoaderTest, IdentityBootstrapRecordsTheEpisodeOnTheGivenVideo)
{
    const QString redirect = QStringLiteral("https://%1/bangumi/play/ep5004?from=search").arg(KRServiceHosts::webHost());
    fake.routeReply(KRServiceHosts::apiHost(), QStringLiteral("/x/web-interface/view"),
                    FakeReply::json(ServiceFixtures::envelope(
                        QVariantMap{{QStringLiteral("aid"), 890004}, {QStringLiteral("redirectUrl"), redirect}})));
    auto given = videoWith(ServiceFixtures::kPGCArchiveAID + 3);
    auto outcome = pgcDetail(given);
    ASSERT_FALSE(outcome->error);
    EXPECT_EQ(outcome->value->episodeID(), 5004);
    EXPECT_EQ(outcome->value->cid(), ServiceFixtures::kFirstEpisodeCID + 3);
    EXPECT_TRUE(given->isPGC());
    EXPECT_EQ(given->episodeID(), 5004);
    EXPECT_TRUE(runtimeLog().contains(QStringLiteral("[pgc-identity-bootstrap] bvid=(null) aid=890004 ep=5004 season=0 code=0")));
}

} // namespace
