#include "model/KRSeasonReplyParser.h"

#include "model/KRJSON.h"
#include "model/KRVideo.h"

#include <gtest/gtest.h>

namespace {

// One episode object as JSON text.
QString episode(qint64 id, qint64 aid, const QString& bvid, qint64 cid, const QString& extra = QString())
{
    return QStringLiteral(R"({"id":%1,"aid":%2,"bvid":"%3","cid":%4,"long_title":"第%1集"%5})")
        .arg(id)
        .arg(aid)
        .arg(bvid)
        .arg(cid)
        .arg(extra);
}

KRSeasonReplyParser::Episode parse(const QString& season, const KRVideo& given, qint64 givenSeasonID = 0)
{
    const QVariant payload = KRJSONParse((QStringLiteral(R"({"code":0,"result":)") + season + QLatin1Char('}')).toUtf8());
    EXPECT_TRUE(payload.isValid());
    return KRSeasonReplyParser::episodeFromPayload(payload, given, givenSeasonID);
}

TEST(SeasonReplyParser, ChoosesByEpisodeThenBVThenCIDThenArchiveID)
{
    // Four episodes, each matching the probe by one identity only.
    const QString season = QStringLiteral(R"({"season_id":6000,"episodes":[%1,%2,%3,%4]})")
                               .arg(episode(61001, 810001, QStringLiteral("BV1aaaaaaaaa"), 71001),
                                    episode(61002, 812345, QStringLiteral("BV1bbbbbbbbb"), 820001),
                                    episode(61003, 813333, QStringLiteral("bv1ccccccccc"), 71003),
                                    episode(61004, 814444, QStringLiteral("BV1ddddddddd"), 71004));
    KRVideo probe;
    probe.setAid(810001);
    probe.setCid(820001);
    probe.setBvid(QStringLiteral("BV1ccccccccc"));
    probe.setEpisodeID(61004);
    QList<qint64> chosen;
    for (const auto& forget : QList<std::function<void()>>{
             [] {}, [&] { probe.setEpisodeID(0); }, [&] { probe.setBvid(QString()); }, [&] { probe.setCid(0); }}) {
        forget();
        const auto result = parse(season, probe);
        ASSERT_TRUE(result.video);
        chosen.append(result.video->episodeID());
        EXPECT_EQ(result.video->seasonID(), 6000);
        EXPECT_EQ(result.video->pages().size(), 4);
    }
    // A BV match ignores case; the last choice went by the archive id.
    EXPECT_EQ(chosen, (QList<qint64>{61004, 61003, 61002, 61001}));
}

TEST(SeasonReplyParser, EpisodesAreFoundInModulesAndNestedSectionsEachOnce)
{
    const QString season =
        QStringLiteral(R"({"episodes":[%1],"modules":[7,{"data":{"episodes":[%1,%2]}},{"data":{"section":{"episodes":[%3],)"
                       R"("section":{"episodes":[%4]},"sections":[{"episodes":[%5]}]}}}],"sections":[{"episodes":[%6,{"title":"no id"}]}]})")
            .arg(episode(1, 11, QString(), 101), episode(2, 12, QString(), 102), episode(3, 13, QString(), 103),
                 episode(4, 14, QString(), 104), episode(5, 15, QString(), 105), episode(6, 16, QString(), 106));
    KRVideo probe;
    probe.setEpisodeID(5);
    const auto result = parse(season, probe, 77);
    ASSERT_TRUE(result.video);
    EXPECT_EQ(result.video->episodeID(), 5);
    EXPECT_EQ(result.video->seasonID(), 77) << "the asked season when the reply names none";
    QList<qint64> cids;
    for (const KRVideoPartInfo& page : result.video->pages())
        cids.append(page.value(QStringLiteral("cid")).toLongLong());
    EXPECT_EQ(cids, (QList<qint64>{101, 102, 103, 104, 105, 106}));
}

TEST(SeasonReplyParser, AHintWithoutAMatchGetsNothingAndNoHintGetsTheFirstPlayable)
{
    const QString season = QStringLiteral(R"({"episodes":[{"id":9,"title":"no cid"},%1,%2]})")
                               .arg(episode(10, 20, QString(), 30, QStringLiteral(R"(,"stat":{"view":0,"danmakus":0})")),
                                    episode(11, 21, QString(), 31, QStringLiteral(R"(,"stat":{"view":5})")));
    KRVideo hinted;
    hinted.setEpisodeID(99);
    EXPECT_FALSE(parse(season, hinted).video);

    const auto first = parse(season, KRVideo());
    ASSERT_TRUE(first.video);
    EXPECT_EQ(first.video->episodeID(), 10);
    EXPECT_TRUE(first.episodeStatisticsZero);
    EXPECT_TRUE(first.video->statisticsKnown());

    KRVideo second;
    second.setCid(31);
    const auto counted = parse(season, second);
    ASSERT_TRUE(counted.video);
    EXPECT_FALSE(counted.episodeStatisticsZero);
    EXPECT_EQ(counted.video->playCount(), 5);

    EXPECT_FALSE(parse(QStringLiteral(R"({"episodes":[{"id":1}]})"), KRVideo()).video) << "nothing playable";
    EXPECT_FALSE(parse(QStringLiteral(R"([])"), KRVideo()).video);
}

} // namespace
