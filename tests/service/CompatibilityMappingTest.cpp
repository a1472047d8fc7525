#include "support/TestSupport.h"

#include "service/KRAPIClient.h"
#include "service/KRCompatibilityAIDMap.h"
#include "model/KRVideo.h"

#include <gtest/gtest.h>

namespace {

// An id map as an outside component could provide it.
class TestAIDMap : public KRCompatibilityAIDMap {
public:
    bool writable = true;
    QMap<QString, QVariant> entries;

    bool isWritable() const override { return writable; }
    QStringList keys() const override { return entries.keys(); }
    QVariant value(const QString& key) const override { return entries.value(key); }
    void setValue(const QString& key, const QString& value) override { entries.insert(key, value); }
};

std::shared_ptr<KRVideo> video(qint64 aid, qint64 resolvedAid = 0)
{
    auto result = std::make_shared<KRVideo>();
    result->setAid(aid);
    result->setResolvedAid(resolvedAid);
    return result;
}

qint64 fnvSlot(const QString& seed)
{
    quint32 h = 2166136261u;
    for (const char byte : seed.toUtf8()) {
        h ^= quint8(byte);
        h *= 16777619u;
    }
    return qint64(h % 700000000u) + 1200000000;
}

// Real ids above 2^51 have no BV text, so their decimal text seeds the hash; these were
// picked for where their hashes land.
constexpr qint64 kCollidingA = 2251799813744629; // slot 1651340094
constexpr qint64 kCollidingB = 2251799813834832; // slot 1651340094 too
constexpr qint64 kNearTheTop = 2251799816755515; // slot 1899999997

class CompatibilityMappingTest : public ::testing::Test {
protected:
    void SetUp() override { map = std::make_shared<TestAIDMap>(); }
    void TearDown() override { KRCompatibilityAIDMap::install(nullptr); }
    std::shared_ptr<TestAIDMap> map;
};

TEST_F(CompatibilityMappingTest, WithoutAMapTheResolvedAidIsTheAid)
{
    const KRVideoList videos{video(5), video(6, 77), video(0), nullptr};
    KRAPIClient::sharedClient()->registerCompatibilityMappingsForVideos(videos);
    KRApplyResolvedAIDs(videos); // nothing to read from
    EXPECT_EQ(videos[0]->resolvedAid(), 5);
    EXPECT_EQ(videos[0]->aid(), 5);
    EXPECT_EQ(videos[1]->resolvedAid(), 77);
    EXPECT_EQ(videos[1]->aid(), 6);
    EXPECT_EQ(videos[2]->resolvedAid(), 0);
}

TEST_F(CompatibilityMappingTest, RegistersStableSyntheticIdsOnlyInAWritableMap)
{
    map->writable = false;
    KRCompatibilityAIDMap::install(map);
    const auto readOnly = video(170001);
    KRRegisterCompatibilityMappings({readOnly});
    EXPECT_EQ(readOnly->aid(), 170001);
    EXPECT_EQ(readOnly->resolvedAid(), 0);
    EXPECT_TRUE(map->entries.isEmpty());

    map->writable = true;
    // Without a BV text yet, the decimal real id seeds the hash; with one, the BV text does.
    const auto first = video(170001);
    ASSERT_TRUE(first->canonicalBVID().isEmpty());
    const auto named = video(170002);
    named->setBvid(video(0, 170002)->canonicalBVID());
    KRRegisterCompatibilityMappings({first, named, video(0)});
    EXPECT_EQ(first->resolvedAid(), 170001);
    EXPECT_EQ(first->aid(), fnvSlot(QStringLiteral("170001")));
    EXPECT_EQ(named->aid(), fnvSlot(named->bvid()));
    EXPECT_EQ(map->value(QString::number(first->aid())).toString(), QStringLiteral("170001"));
    ASSERT_EQ(map->entries.size(), 2) << "a video without any id is skipped";

    // The same real id again, even through a video that already carries it as resolved aid;
    // reading back, a synthetic aid resolves to the real one.
    const auto again = video(3, 170001);
    KRRegisterCompatibilityMappings({again});
    EXPECT_EQ(again->aid(), first->aid());
    EXPECT_EQ(map->entries.size(), 2);
    const auto listed = video(first->aid());
    KRApplyResolvedAIDs({listed, video(42)});
    EXPECT_EQ(listed->resolvedAid(), 170001);
}

TEST_F(CompatibilityMappingTest, TakenSlotsAreProbedPastAndTheProbeWrapsAtTheTop)
{
    KRCompatibilityAIDMap::install(map);
    ASSERT_EQ(fnvSlot(QString::number(kCollidingA)), fnvSlot(QString::number(kCollidingB)));
    // The slot after the shared one holds something that is no number: taken all the same.
    map->entries.insert(QStringLiteral("1651340095"), QStringLiteral("garbage"));
    for (qint64 slot = 1899999997; slot <= 1899999999; ++slot)
        map->setValue(QString::number(slot), QString::number(slot - 1000));
    const auto a = video(kCollidingA), b = video(kCollidingB), top = video(kNearTheTop);
    KRRegisterCompatibilityMappings({a, b, top});
    EXPECT_EQ(QList<qint64>({a->aid(), b->aid(), top->aid(), top->resolvedAid()}),
              QList<qint64>({1651340094, 1651340096, 1200000000, kNearTheTop}));
}

} // namespace
