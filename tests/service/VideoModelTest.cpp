#include "service/KRVideo.h"

#include <gtest/gtest.h>

namespace {

std::shared_ptr<KRVideo> videoWith(qint64 aid, qint64 resolvedAid, const QString& bvid)
{
    auto video = std::make_shared<KRVideo>();
    video->setAid(aid);
    video->setResolvedAid(resolvedAid);
    video->setBvid(bvid);
    return video;
}

} // namespace

TEST(VideoModel, NewVideoHasEveryFieldEmpty)
{
    const KRVideo video;
    EXPECT_EQ(video.aid(), 0);
    EXPECT_TRUE(video.bvid().isNull());
    EXPECT_TRUE(video.title().isNull());
    EXPECT_TRUE(video.pages().isEmpty());
    EXPECT_TRUE(video.playURLCandidates().isEmpty());
    EXPECT_FALSE(video.isUnavailable());
    EXPECT_FALSE(video.isPGC());
    EXPECT_FALSE(video.isLocalHistory());
    EXPECT_FALSE(video.statisticsKnown());
    EXPECT_EQ(video.publishTimestamp(), 0.0);
    EXPECT_TRUE(video.canonicalBVID().isNull());
    EXPECT_TRUE(video.feedIdentity().isNull());
}

TEST(VideoModel, CanonicalBVIDIsComputedFromTheResolvedAid)
{
    EXPECT_EQ(videoWith(0, 170001, {})->canonicalBVID(), "BV17x411w7KC");
    // The archive id may be synthetic: it never produces a BV.
    auto unresolved = videoWith(170001, 0, {});
    EXPECT_TRUE(unresolved->canonicalBVID().isNull());
    EXPECT_EQ(unresolved->feedIdentity(), "aid:170001");
    EXPECT_EQ(unresolved->displayIdentifier(), "BV待解析");
    // The limits of the encodable range.
    EXPECT_TRUE(KRIsValidBVID(videoWith(0, 1, {})->canonicalBVID()));
    EXPECT_TRUE(KRIsValidBVID(videoWith(0, 2251799813685247LL, {})->canonicalBVID()));
    EXPECT_TRUE(videoWith(0, 2251799813685248LL, {})->canonicalBVID().isNull());
    EXPECT_TRUE(videoWith(0, -5, {})->canonicalBVID().isNull());
    EXPECT_NE(videoWith(0, 1, {})->canonicalBVID(), videoWith(0, 2, {})->canonicalBVID());
}

TEST(VideoModel, CanonicalBVIDPrefersAValidOrEmbeddedBVID)
{
    EXPECT_EQ(videoWith(0, 170001, "BV1xx411c7mD")->canonicalBVID(), "BV1xx411c7mD");
    const QString share = QStringLiteral("https://www.zantorel.test/video/BV1GJ411x7h7?p=2&share_source=copy");
    EXPECT_EQ(videoWith(0, 0, share)->canonicalBVID(), "BV1GJ411x7h7");
    EXPECT_EQ(videoWith(0, 0, share)->feedIdentity(), "bv:BV1GJ411x7h7");
    // An embedded text whose windows are all invalid falls back to the resolved aid.
    EXPECT_EQ(videoWith(0, 170001, "see BV0xx411c7mD and BV1xx4l1c7mD")->canonicalBVID(), "BV17x411w7KC");
    // The first valid window wins; at the very end of the text it is still found.
    EXPECT_EQ(videoWith(0, 0, "xBV1xx411c7mDBV1GJ411x7h7")->canonicalBVID(), "BV1xx411c7mD");
    EXPECT_EQ(videoWith(0, 0, "id=BV1GJ411x7h7")->canonicalBVID(), "BV1GJ411x7h7");
    // Exactly 12 characters but invalid: no window search, the resolved aid decides.
    EXPECT_TRUE(videoWith(0, 0, "BV1xx411c7m!")->canonicalBVID().isNull());
}

TEST(VideoModel, ValidBVIDIsExactlyTwelveAlphabetCharacters)
{
    EXPECT_TRUE(KRIsValidBVID("BV17x411w7KC"));
    EXPECT_FALSE(KRIsValidBVID(QString()));
    EXPECT_FALSE(KRIsValidBVID(""));
    EXPECT_FALSE(KRIsValidBVID("BV17x411w7K"));
    EXPECT_FALSE(KRIsValidBVID("BV17x411w7KCC"));
    EXPECT_FALSE(KRIsValidBVID("bv17x411w7KC"));
    EXPECT_FALSE(KRIsValidBVID("BV27x411w7KC"));
    for (const char* bad : {"BV17x411w7K0", "BV17x411w7KI", "BV17x411w7KO", "BV17x411w7Kl", "BV17x411w7K-"})
        EXPECT_FALSE(KRIsValidBVID(bad)) << bad;
    EXPECT_FALSE(KRIsValidBVID(QString::fromUtf8("BV17x411w7K猫")));
    EXPECT_FALSE(KRIsValidBVID(QString::fromUtf8("BV17x411w7Ｋ")));
}

TEST(VideoModel, FeedIdentityTakesTheFirstRuleThatApplies)
{
    auto video = std::make_shared<KRVideo>();
    video->setTitle("标题");
    EXPECT_EQ(video->feedIdentity(), "title:标题|");
    video->setOwnerName("UP");
    EXPECT_EQ(video->feedIdentity(), "title:标题|UP");
    video->setSeasonID(33);
    EXPECT_EQ(video->feedIdentity(), "pgc-season:33");
    video->setAid(9007199254740993LL);
    EXPECT_EQ(video->feedIdentity(), "aid:9007199254740993");
    video->setResolvedAid(2251799813685248LL); // known but beyond the BV range
    EXPECT_EQ(video->feedIdentity(), "aid:2251799813685248");
    video->setResolvedAid(170001);
    EXPECT_EQ(video->feedIdentity(), "bv:BV17x411w7KC");
    video->setTitle("");
    video->setSeasonID(0);
    video->setAid(0);
    video->setResolvedAid(0);
    EXPECT_TRUE(video->feedIdentity().isNull());
}

TEST(VideoModel, CompactCounts)
{
    EXPECT_EQ(KRCompactCount(-5), "0");
    EXPECT_EQ(KRCompactCount(0), "0");
    EXPECT_EQ(KRCompactCount(9999), "9999");
    EXPECT_EQ(KRCompactCount(10000), "1.0万");
    EXPECT_EQ(KRCompactCount(12345), "1.2万");
    EXPECT_EQ(KRCompactCount(999999), "100.0万");
    EXPECT_EQ(KRCompactCount(1000000), "100万");
    EXPECT_EQ(KRCompactCount(1234567), "123万");
    EXPECT_EQ(KRCompactCount(99999999), "10000万");
    EXPECT_EQ(KRCompactCount(100000000), "1.0亿");
    EXPECT_EQ(KRCompactCount(123456789), "1.2亿");
    EXPECT_EQ(KRCompactCount(12345678901LL), "123亿");
    EXPECT_EQ(KRCompactCount(std::numeric_limits<qint64>::max()), "92233720369亿");
    EXPECT_EQ(KRCompactCount(std::numeric_limits<qint64>::min()), "0");
}

TEST(VideoModel, DisplayTextsFallBackWhenEmpty)
{
    KRVideo video;
    EXPECT_EQ(video.displayPartition(), "未分类");
    EXPECT_EQ(video.displayPlayCount(), "—");
    EXPECT_EQ(video.displayDanmakuCount(), "—");
    EXPECT_EQ(video.displayDuration(), "--:--");
    EXPECT_EQ(video.displayUnavailableReason(), "视频已失效");
    video.setTname("");
    video.setDurationText("");
    EXPECT_EQ(video.displayPartition(), "未分类");
    EXPECT_EQ(video.displayDuration(), "--:--");
    video.setStatisticsKnown(true);
    EXPECT_EQ(video.displayPlayCount(), "0");
    video.setPlayCount(123456);
    video.setDanmakuCount(42);
    video.setTname("音乐");
    video.setDurationText("03:25");
    video.setUnavailableReason("稿件审核中");
    EXPECT_EQ(video.displayPlayCount(), "12.3万");
    EXPECT_EQ(video.displayDanmakuCount(), "42");
    EXPECT_EQ(video.displayPartition(), "音乐");
    EXPECT_EQ(video.displayDuration(), "03:25");
    EXPECT_EQ(video.displayUnavailableReason(), "稿件审核中");
}

TEST(VideoModel, ShouldUsePGC)
{
    EXPECT_FALSE(KRVideoShouldUsePGC(std::shared_ptr<KRVideo>()));
    auto video = std::make_shared<KRVideo>();
    EXPECT_FALSE(KRVideoShouldUsePGC(video));
    video->setSeasonID(-1);
    EXPECT_FALSE(KRVideoShouldUsePGC(video));
    video->setSeasonID(1);
    EXPECT_TRUE(KRVideoShouldUsePGC(video));
    video->setSeasonID(0);
    video->setEpisodeID(5);
    EXPECT_TRUE(KRVideoShouldUsePGC(video));
    video->setEpisodeID(0);
    video->setPgc(true);
    EXPECT_TRUE(KRVideoShouldUsePGC(video.get()));
}

TEST(VideoModel, CopiesAreIndependent)
{
    KRVideo original;
    original.setTitle("a");
    original.setPages({KRVideoPartInfo{{"cid", qint64(1)}, {"page", 1}}});
    KRVideo copy = original;
    copy.setTitle("b");
    copy.setPages({});
    EXPECT_EQ(original.title(), "a");
    EXPECT_EQ(original.pages().size(), 1);
}
