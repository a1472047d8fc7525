#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/PropertyList.h"
#include "model/KRVideo.h"
#include "store/KRLocalHistoryStore.h"
#include "support/TestSupport.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

const bool registered = testsupport::onEachTestStart([] { KRLocalHistoryStore::sharedStore().resetForTesting(); });

KRLocalHistoryStore& store() { return KRLocalHistoryStore::sharedStore(); }

std::shared_ptr<KRVideo> makeVideo(qint64 aid, qint64 cid)
{
    auto video = std::make_shared<KRVideo>();
    video->setAid(aid);
    video->setCid(cid);
    video->setTitle(u"第%1个视频"_s.arg(aid));
    return video;
}

QVariantMap recordOf(const std::shared_ptr<KRVideo>& video) { return store().resumeRecordForVideo(video).value_or(QVariantMap()); }

// The file as the next launch reads it.
QVariantMap recordsOnDisk() { return platform::PropertyList::parse(platform::readFile(store().storePath()).value_or(QByteArray())).toMap(); }

} // namespace

TEST(LocalHistory, RecordHoldsTheVideoInTheServiceShapeAndReadsBack)
{
    auto video = makeVideo(170001, 5001);
    video->setResolvedAid(170001);
    video->setOwnerName(u"上传者"_s);
    video->setOwnerMID(42);
    video->setWidth(1920);
    video->setStatisticsKnown(true);
    video->setPlayCount(12345);
    // Values a property list cannot hold are left out, so this and later saves reach the file.
    video->setPages({KRVideoPartInfo{{u"cid"_s, 5001}, {u"part"_s, QVariant::fromValue(nullptr)},
                                     {u"extra"_s, QVariantList{QVariant::fromValue(nullptr), 3}}}});
    video->setSummary(u"nul\u0000inside"_s);
    store().recordVideo(video, 93.5, 600, false, false);

    EXPECT_EQ(KRLocalHistoryIdentity(*video), video->feedIdentity() + u"|cid:5001"_s);
    const QVariantMap record = recordsOnDisk().value(KRLocalHistoryIdentity(*video)).toMap();
    EXPECT_EQ(record.value(u"owner"_s), (QVariantMap{{u"name"_s, u"上传者"_s}, {u"mid"_s, 42}}));
    EXPECT_EQ(record.value(u"dimension"_s), (QVariantMap{{u"width"_s, 1920}, {u"height"_s, 0}}));
    EXPECT_EQ(record.value(u"stat"_s).toMap().value(u"view"_s), 12345);
    EXPECT_EQ(record.value(u"pages"_s), (QVariantList{QVariantMap{{u"cid"_s, 5001}, {u"extra"_s, QVariantList{3}}}}));
    EXPECT_EQ(record.value(u"desc"_s), u"nulinside"_s);
    EXPECT_EQ(record.value(u"duration_text"_s), u"10:00"_s);
    EXPECT_EQ(record.value(u"history_progress"_s), 93.5);
    EXPECT_FALSE(record.contains(u"play_url"_s) || record.contains(u"season_id"_s));

    store().resetForTesting();  // a new launch
    const auto videos = store().historyVideos();
    ASSERT_EQ(videos.size(), 1);
    const auto& back = videos.first();
    EXPECT_TRUE(back->isLocalHistory() && back->statisticsKnown());
    EXPECT_EQ(back->resolvedAid(), 170001);
    EXPECT_EQ(back->ownerName(), u"上传者"_s);
    EXPECT_DOUBLE_EQ(back->historyProgress(), 93.5);
    EXPECT_DOUBLE_EQ(back->historyDuration(), 600);
    EXPECT_GT(back->historyViewAt(), 1.6e9);
}

TEST(LocalHistory, IdentitiesPartsAndOfflineRecordings)
{
    auto first = makeVideo(9, 1);
    store().recordVideo(first, 10, 100, false, false);
    store().recordVideo(makeVideo(9, 2), 20, 100, false, false);
    store().recordVideo(nullptr, 1, 1, false, false);
    EXPECT_EQ(store().recordCount(), 2);

    // The same part played from the offline store: one record, following the last recording.
    first->setPlayURL(u"file:///var/offline/9-1.mp4"_s);
    store().recordVideo(first, 30, 100, false, true);
    EXPECT_EQ(store().recordCount(), 2);
    EXPECT_EQ(recordOf(first).value(u"offline"_s), true);
    EXPECT_EQ(recordOf(first).value(u"play_url"_s), u"file:///var/offline/9-1.mp4"_s);
    first->setPlayURL(u"https://cdn.example.test/9-1.mp4"_s);
    store().recordVideo(first, 30, 100, false, true);
    EXPECT_FALSE(recordOf(first).contains(u"play_url"_s));

    KRVideo anonymous;
    anonymous.setCid(7);
    EXPECT_EQ(KRLocalHistoryIdentity(anonymous), u"title:视频|cid:7"_s);
    anonymous.setTitle(u""_s);  // only a missing title stands in as 视频
    EXPECT_EQ(KRLocalHistoryIdentity(anonymous), u"title:|cid:7"_s);
    anonymous.setPlayURL(u"file:///x.mp4"_s);
    EXPECT_EQ(KRLocalHistoryIdentity(anonymous), u"url:file:///x.mp4|cid:7"_s);
}

TEST(LocalHistory, TimesAreCleanedAndDurationTextsMade)
{
    const double nan = std::nan("");
    const double infinity = std::numeric_limits<double>::infinity();
    struct Row { double progress, duration; bool completed; double storedProgress, storedDuration; const char* text; };
    const Row rows[] = {
        {3000, 3725.9, false, 3000, 3725.9, "1:02:05"},
        {12, 59, true, 0, 59, "0:59"},  // a finished part resumes from the start
        {nan, -5, false, 0, 0, nullptr},
        {infinity, nan, false, 0, 0, nullptr},
        {1, 1e300, false, 1, 1e300, "277777777777:46:40"},  // no part is that long: held, never negative
    };
    auto video = makeVideo(1, 1);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.duration);
        store().recordVideo(video, row.progress, row.duration, row.completed, false);
        const QVariantMap record = recordOf(video);
        EXPECT_EQ(record.value(u"history_progress"_s).toDouble(), row.storedProgress);
        EXPECT_EQ(record.value(u"history_duration"_s).toDouble(), row.storedDuration);
        EXPECT_EQ(record.value(u"completed"_s), row.completed);
        EXPECT_EQ(record.value(u"duration_text"_s).toString(), QString::fromLatin1(row.text));
    }
    video->setDurationText(u"03:25"_s);  // the video's own text wins
    store().recordVideo(video, 1, 205, false, false);
    EXPECT_EQ(recordOf(video).value(u"duration_text"_s), u"03:25"_s);
}

TEST(LocalHistory, KeepsTheFiveHundredMostRecentlyWatchedParts)
{
    QVariantMap records;
    for (int i = 1; i <= 500; ++i)
        records.insert(u"aid:%1|cid:1"_s.arg(i), QVariantMap{{u"aid"_s, i}, {u"cid"_s, 1}, {u"view_at"_s, 1000.0 + i}});
    ASSERT_TRUE(platform::writeFileAtomically(store().storePath(), platform::PropertyList::toBinary(records)));
    store().resetForTesting();

    // Watching one of them again refreshes it and removes nothing.
    auto again = makeVideo(1, 1);
    ASSERT_EQ(KRLocalHistoryIdentity(*again), u"aid:1|cid:1"_s);
    store().recordVideo(again, 5, 50, false, false);
    EXPECT_EQ(recordsOnDisk().size(), 500);

    // The 501st part pushes out the one watched longest ago (aid 2, now that 1 is fresh).
    store().recordVideo(makeVideo(9999, 1), 5, 50, false, false);
    const QVariantMap onDisk = recordsOnDisk();
    EXPECT_EQ(onDisk.size(), 500);
    EXPECT_FALSE(onDisk.contains(u"aid:2|cid:1"_s));

    const auto videos = store().historyVideos();  // newest first
    ASSERT_EQ(videos.size(), 500);
    EXPECT_EQ((QList<qint64>{videos[0]->aid(), videos[1]->aid(), videos[2]->aid(), videos.last()->aid()}),
              (QList<qint64>{9999, 1, 500, 3}));
}

TEST(LocalHistory, AFileThatIsNotADictionaryStartsEmptyAndIsReplaced)
{
    for (const QByteArray& data : {QByteArray("not a property list"), platform::PropertyList::toBinary(QVariantList{1})}) {
        ASSERT_TRUE(platform::writeFileAtomically(store().storePath(), data));
        store().resetForTesting();
        EXPECT_TRUE(store().historyVideos().isEmpty());
        store().recordVideo(makeVideo(5, 5), 1, 10, false, false);
        EXPECT_EQ(recordsOnDisk().size(), 1);
    }
}
