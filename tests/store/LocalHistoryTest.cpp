#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/PropertyList.h"
#include "service/KRVideo.h"
#include "store/KRLocalHistoryStore.h"
#include "support/TestSupport.h"

#include <QFile>

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

namespace {

const bool registered = [] {
    testsupport::onEachTestStart([] { KRLocalHistoryStore::sharedStore().resetForTesting(); });
    return true;
}();

KRLocalHistoryStore& store() { return KRLocalHistoryStore::sharedStore(); }

std::shared_ptr<KRVideo> makeVideo(qint64 aid, qint64 cid)
{
    auto video = std::make_shared<KRVideo>();
    video->setAid(aid);
    video->setCid(cid);
    video->setTitle(QStringLiteral("第%1个视频").arg(aid));
    return video;
}

// The file as the next launch reads it.
QVariantMap recordsOnDisk()
{
    const auto data = platform::readFile(store().storePath());
    return data ? platform::PropertyList::parse(*data).toMap() : QVariantMap();
}

} // namespace

TEST(LocalHistory, RecordHoldsTheVideoInTheServiceShapeAndReadsBack)
{
    auto video = makeVideo(170001, 5001);
    video->setResolvedAid(170001);
    video->setBvid(QStringLiteral("BV17x411w7KC"));
    video->setCoverURL(QStringLiteral("https://img.example.test/cover.jpg"));
    video->setOwnerName(QStringLiteral("上传者"));
    video->setOwnerMID(42);
    video->setTname(QStringLiteral("动画"));
    video->setTid(24);
    video->setWidth(1920);
    video->setPlaybackQuality(64);
    video->setStatisticsKnown(true);
    video->setPlayCount(12345);
    video->setDanmakuCount(67);
    video->setPages({KRVideoPartInfo{{QStringLiteral("cid"), qint64(5001)}, {QStringLiteral("page"), 1}}});
    store().recordVideo(video, 93.5, 600, false, false);

    const QString identity = KRLocalHistoryIdentity(*video);
    EXPECT_EQ(identity, video->feedIdentity() + QStringLiteral("|cid:5001"));
    const QVariantMap record = recordsOnDisk().value(identity).toMap();
    ASSERT_FALSE(record.isEmpty());
    EXPECT_EQ(record.value(QStringLiteral("aid")).toLongLong(), 170001);
    EXPECT_EQ(record.value(QStringLiteral("owner")).toMap().value(QStringLiteral("mid")).toLongLong(), 42);
    EXPECT_EQ(record.value(QStringLiteral("dimension")).toMap().value(QStringLiteral("height")).toLongLong(), 0);
    EXPECT_EQ(record.value(QStringLiteral("stat")).toMap().value(QStringLiteral("view")).toLongLong(), 12345);
    EXPECT_EQ(record.value(QStringLiteral("history_progress")).toDouble(), 93.5);
    EXPECT_EQ(record.value(QStringLiteral("duration_text")).toString(), QStringLiteral("10:00"));
    EXPECT_FALSE(record.contains(QStringLiteral("play_url")));
    EXPECT_FALSE(record.contains(QStringLiteral("season_id")));
    EXPECT_EQ(record.value(QStringLiteral("offline")).typeId(), QMetaType::Bool);

    const auto resume = store().resumeRecordForVideo(video);
    ASSERT_TRUE(resume.has_value());
    EXPECT_EQ(resume->value(QStringLiteral("history_progress")).toDouble(), 93.5);
    EXPECT_FALSE(store().resumeRecordForVideo(makeVideo(170001, 5002)).has_value());
    EXPECT_FALSE(store().resumeRecordForVideo(nullptr).has_value());

    // A new launch reads the same history back as videos.
    store().resetForTesting();
    const auto videos = store().historyVideos();
    ASSERT_EQ(videos.size(), 1);
    const auto& back = videos.first();
    EXPECT_TRUE(back->isLocalHistory());
    EXPECT_EQ(back->aid(), 170001);
    EXPECT_EQ(back->resolvedAid(), 170001);
    EXPECT_EQ(back->cid(), 5001);
    EXPECT_EQ(back->title(), video->title());
    EXPECT_EQ(back->ownerName(), QStringLiteral("上传者"));
    EXPECT_TRUE(back->statisticsKnown());
    EXPECT_EQ(back->playCount(), 12345);
    EXPECT_DOUBLE_EQ(back->historyProgress(), 93.5);
    EXPECT_DOUBLE_EQ(back->historyDuration(), 600);
    EXPECT_GT(back->historyViewAt(), 1.6e9);
}

TEST(LocalHistory, IdentitiesPartsAndOfflineRecordings)
{
    auto first = makeVideo(9, 1);
    auto second = makeVideo(9, 2);
    store().recordVideo(first, 10, 100, false, false);
    store().recordVideo(second, 20, 100, false, false);
    EXPECT_EQ(store().recordCount(), 2);

    // Same part played from the offline store: one record, following the last recording.
    first->setPlayURL(QStringLiteral("file:///var/offline/9-1.mp4"));
    store().recordVideo(first, 30, 100, false, true);
    EXPECT_EQ(store().recordCount(), 2);
    auto record = store().resumeRecordForVideo(first);
    ASSERT_TRUE(record);
    EXPECT_TRUE(record->value(QStringLiteral("offline")).toBool());
    EXPECT_EQ(record->value(QStringLiteral("play_url")).toString(), QStringLiteral("file:///var/offline/9-1.mp4"));
    first->setPlayURL(QStringLiteral("https://cdn.example.test/9-1.mp4"));
    store().recordVideo(first, 30, 100, false, true);
    EXPECT_FALSE(store().resumeRecordForVideo(first)->contains(QStringLiteral("play_url")));

    // Nothing identifies it: "title:视频" with its cid.
    auto anonymous = std::make_shared<KRVideo>();
    anonymous->setCid(7);
    EXPECT_EQ(KRLocalHistoryIdentity(*anonymous), QStringLiteral("title:视频|cid:7"));
    auto addressOnly = std::make_shared<KRVideo>();
    addressOnly->setPlayURL(QStringLiteral("file:///x.mp4"));
    EXPECT_EQ(KRLocalHistoryIdentity(*addressOnly), QStringLiteral("url:file:///x.mp4|cid:0"));
    store().recordVideo(nullptr, 1, 1, false, false);
    EXPECT_EQ(store().recordCount(), 2);
}

TEST(LocalHistory, TimesAreCleanedAndDurationTextsMade)
{
    auto video = makeVideo(1, 1);
    store().recordVideo(video, 3000, 3725.9, false, false);
    EXPECT_EQ(store().resumeRecordForVideo(video)->value(QStringLiteral("duration_text")).toString(), QStringLiteral("1:02:05"));
    store().recordVideo(video, 12, 59, true, false);
    auto record = *store().resumeRecordForVideo(video);
    EXPECT_EQ(record.value(QStringLiteral("duration_text")).toString(), QStringLiteral("0:59"));
    EXPECT_EQ(record.value(QStringLiteral("history_progress")).toDouble(), 0) << "a finished part resumes from the start";
    EXPECT_TRUE(record.value(QStringLiteral("completed")).toBool());

    store().recordVideo(video, std::nan(""), -5, false, false);
    record = *store().resumeRecordForVideo(video);
    EXPECT_EQ(record.value(QStringLiteral("history_progress")).toDouble(), 0);
    EXPECT_EQ(record.value(QStringLiteral("history_duration")).toDouble(), 0);
    EXPECT_FALSE(record.contains(QStringLiteral("duration_text")));
    store().recordVideo(video, std::numeric_limits<double>::infinity(), 30, false, false);
    EXPECT_EQ(store().resumeRecordForVideo(video)->value(QStringLiteral("history_progress")).toDouble(), 0);

    // A duration text of the video itself wins.
    video->setDurationText(QStringLiteral("03:25"));
    store().recordVideo(video, 1, 205, false, false);
    EXPECT_EQ(store().resumeRecordForVideo(video)->value(QStringLiteral("duration_text")).toString(), QStringLiteral("03:25"));
}

TEST(LocalHistory, KeepsTheFiveHundredMostRecentlyWatchedParts)
{
    QVariantMap records;
    for (int i = 0; i < 500; ++i) {
        records.insert(QStringLiteral("aid:%1|cid:1").arg(i + 1),
                       QVariantMap{{QStringLiteral("aid"), qint64(i + 1)}, {QStringLiteral("cid"), qint64(1)},
                                   {QStringLiteral("view_at"), 1000.0 + i}});
    }
    ASSERT_TRUE(platform::writeFileAtomically(store().storePath(), platform::PropertyList::toBinary(records)));
    store().resetForTesting();
    ASSERT_EQ(store().recordCount(), 500);

    // Watching one of them again refreshes it and removes nothing.
    auto again = std::make_shared<KRVideo>();
    again->setAid(1);
    again->setCid(1);
    ASSERT_EQ(KRLocalHistoryIdentity(*again), QStringLiteral("aid:1|cid:1"));
    store().recordVideo(again, 5, 50, false, false);
    EXPECT_EQ(recordsOnDisk().size(), 500);

    // The 501st part pushes out the one watched longest ago (aid 2, now that 1 is fresh).
    store().recordVideo(makeVideo(9999, 1), 5, 50, false, false);
    const QVariantMap onDisk = recordsOnDisk();
    EXPECT_EQ(onDisk.size(), 500);
    EXPECT_FALSE(onDisk.contains(QStringLiteral("aid:2|cid:1")));
    EXPECT_TRUE(onDisk.contains(QStringLiteral("aid:1|cid:1")));
    EXPECT_TRUE(onDisk.contains(QStringLiteral("aid:3|cid:1")));

    const auto videos = store().historyVideos();
    ASSERT_EQ(videos.size(), 500);
    EXPECT_EQ(videos[0]->aid(), 9999);
    EXPECT_EQ(videos[1]->aid(), 1);
    EXPECT_EQ(videos[2]->aid(), 500);
    EXPECT_EQ(videos.last()->aid(), 3);
}

TEST(LocalHistory, ValuesAPropertyListCannotHoldAreLeftOutSoSavesKeepWorking)
{
    auto video = makeVideo(77, 700);
    video->setPages({KRVideoPartInfo{{QStringLiteral("cid"), qint64(700)},
                                     {QStringLiteral("page"), 1},
                                     {QStringLiteral("part"), QVariant::fromValue(nullptr)},
                                     {QStringLiteral("extra"), QVariantList{QVariant::fromValue(nullptr), 3}}}});
    video->setSummary(QStringLiteral("nul\u0000inside"));
    store().recordVideo(video, 5, 50, false, false);

    QVariantMap record = recordsOnDisk().value(KRLocalHistoryIdentity(*video)).toMap();
    ASSERT_FALSE(record.isEmpty()) << "the record reached the file";
    const QVariantMap part = record.value(QStringLiteral("pages")).toList().value(0).toMap();
    EXPECT_EQ(part.value(QStringLiteral("cid")).toLongLong(), 700);
    EXPECT_FALSE(part.contains(QStringLiteral("part")));
    EXPECT_EQ(part.value(QStringLiteral("extra")).toList(), QVariantList{qint64(3)});
    EXPECT_EQ(record.value(QStringLiteral("desc")).toString(), QStringLiteral("nulinside"));

    // Later saves still reach the file.
    store().recordVideo(makeVideo(78, 800), 5, 50, false, false);
    EXPECT_EQ(recordsOnDisk().size(), 2);
}

TEST(LocalHistory, AFileThatIsNotADictionaryStartsEmptyAndIsReplaced)
{
    ASSERT_TRUE(platform::writeFileAtomically(store().storePath(), QByteArray("definitely not a property list")));
    store().resetForTesting();
    EXPECT_EQ(store().recordCount(), 0);
    EXPECT_TRUE(store().historyVideos().isEmpty());
    store().recordVideo(makeVideo(5, 5), 1, 10, false, false);
    EXPECT_EQ(recordsOnDisk().size(), 1);

    ASSERT_TRUE(platform::writeFileAtomically(store().storePath(),
                                              platform::PropertyList::toBinary(QVariantList{QStringLiteral("a")})));
    store().resetForTesting();
    EXPECT_EQ(store().recordCount(), 0);
}
