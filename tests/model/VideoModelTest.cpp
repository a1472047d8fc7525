#include "model/KRVideo.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

KRVideo videoWith(qint64 aid, qint64 resolvedAid, const QString& bvid)
{
    KRVideo video;
    video.setAid(aid);
    video.setResolvedAid(resolvedAid);
    video.setBvid(bvid);
    return video;
}

} // namespace

TEST(VideoModel, CanonicalBVID)
{
    const struct { qint64 aid, resolvedAid; const char* bvid; const char* expected; } rows[] = {
        {0, 170001, nullptr, "BV17x411w7KC"},
        // The archive id may be synthetic: it never produces a BV.
        {170001, 0, nullptr, nullptr},
        {0, 2251799813685248LL, nullptr, nullptr}, // beyond 2^51 - 1
        {0, -5, nullptr, nullptr},
        {0, 170001, "BV1xx411c7mD", "BV1xx411c7mD"},
        // A BV inside a longer text (a share address); the first valid window wins, even at the end.
        {0, 0, "https://www.zantorel.test/video/BV1GJ411x7h7?p=2&share_source=copy", "BV1GJ411x7h7"},
        {0, 0, "xBV1xx411c7mDBV1GJ411x7h7", "BV1xx411c7mD"},
        {0, 0, "id=BV1GJ411x7h7", "BV1GJ411x7h7"},
        // No valid window: the resolved aid decides.
        {0, 170001, "see BV0xx411c7mD and BV1xx4l1c7mD", "BV17x411w7KC"},
        {0, 0, "BV1xx411c7m!", nullptr},
    };
    for (const auto& row : rows) {
        const QString actual = videoWith(row.aid, row.resolvedAid, QString::fromUtf8(row.bvid)).canonicalBVID();
        if (row.expected)
            EXPECT_EQ(actual, row.expected) << row.bvid;
        else
            EXPECT_TRUE(actual.isNull()) << actual.toStdString();
    }
    EXPECT_EQ(videoWith(170001, 0, {}).feedIdentity(), "aid:170001");
    EXPECT_TRUE(KRIsValidBVID(videoWith(0, 2251799813685247LL, {}).canonicalBVID()));
    EXPECT_NE(videoWith(0, 1, {}).canonicalBVID(), videoWith(0, 2, {}).canonicalBVID());
}

TEST(VideoModel, ValidBVIDIsExactlyTwelveAlphabetCharacters)
{
    EXPECT_TRUE(KRIsValidBVID("BV17x411w7KC"));
    for (const char* bad : {"", "BV17x411w7K", "BV17x411w7KCC", "bv17x411w7KC", "BV27x411w7KC", "BV17x411w7K0",
                            "BV17x411w7KI", "BV17x411w7KO", "BV17x411w7Kl", "BV17x411w7K-", "BV17x411w7K猫",
                            "BV17x411w7Ｋ"})
        EXPECT_FALSE(KRIsValidBVID(QString::fromUtf8(bad))) << bad;
    EXPECT_FALSE(KRIsValidBVID(QString()));
}

TEST(VideoModel, FeedIdentityTakesTheFirstRuleThatApplies)
{
    KRVideo video;
    EXPECT_TRUE(video.feedIdentity().isNull());
    video.setTitle("标题");
    EXPECT_EQ(video.feedIdentity(), "title:标题|");
    video.setOwnerName("UP");
    EXPECT_EQ(video.feedIdentity(), "title:标题|UP");
    video.setSeasonID(33);
    EXPECT_EQ(video.feedIdentity(), "pgc-season:33");
    video.setAid(9007199254740993LL);
    EXPECT_EQ(video.feedIdentity(), "aid:9007199254740993");
    video.setResolvedAid(2251799813685248LL); // known but beyond the BV range
    EXPECT_EQ(video.feedIdentity(), "aid:2251799813685248");
    video.setResolvedAid(170001);
    EXPECT_EQ(video.feedIdentity(), "bv:BV17x411w7KC");
}

TEST(VideoModel, CompactCounts)
{
    const struct { qint64 count; const char* expected; } rows[] = {
        {-5, "0"}, {std::numeric_limits<qint64>::min(), "0"}, {9999, "9999"}, {10000, "1.0万"},
        {12345, "1.2万"}, {999999, "100.0万"}, {1000000, "100万"}, {1234567, "123万"}, {99999999, "10000万"},
        {100000000, "1.0亿"}, {123456789, "1.2亿"}, {12500, "1.2万"}, {1005000, "100万"}, {12250000000, "122亿"}, {std::numeric_limits<qint64>::max(), "92233720369亿"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(KRCompactCount(row.count), QString::fromUtf8(row.expected)) << row.count;
}

TEST(VideoModel, DisplayTextsFallBackWhenEmpty)
{
    KRVideo video;
    video.setTname("");
    const QStringList empty{video.displayPartition(), video.displayPlayCount(), video.displayDanmakuCount(),
                            video.displayDuration(), video.displayUnavailableReason(), video.displayIdentifier()};
    EXPECT_EQ(empty, QStringList({"未分类", "—", "—", "--:--", "视频已失效", "BV待解析"}));
    // Known statistics show even a zero; unknown ones never pretend to be 0.
    video.setStatisticsKnown(true);
    video.setDanmakuCount(123456);
    video.setTname("音乐");
    video.setDurationText("03:25");
    video.setUnavailableReason("稿件审核中");
    video.setResolvedAid(170001);
    const QStringList filled{video.displayPartition(), video.displayPlayCount(), video.displayDanmakuCount(),
                             video.displayDuration(), video.displayUnavailableReason(), video.displayIdentifier()};
    EXPECT_EQ(filled, QStringList({"音乐", "0", "12.3万", "03:25", "稿件审核中", "BV17x411w7KC"}));
}
