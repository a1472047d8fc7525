#include "model/KRServiceHosts.h"
#include "social/KRMessageJump.h"

#include <gtest/gtest.h>

#include <QVariantList>

namespace {

QVariantMap map(std::initializer_list<std::pair<QString, QVariant>> entries)
{
    QVariantMap result;
    for (const auto& [key, value] : entries)
        result.insert(key, value);
    return result;
}

// A value nested `levels` dictionaries below the top, under "item" (a part every finder visits).
QVariant nestedBelow(int levels, const QVariantMap& leaf)
{
    QVariant value = leaf;
    for (int i = 0; i < levels; ++i)
        value = map({{QStringLiteral("item"), value}});
    return value;
}

} // namespace

TEST(MessageFinders, IdentityByIdElseByTheFallbackFields)
{
    EXPECT_EQ(KRMessageIdentity(map({{"id", 77}})), QStringLiteral("id:77"));
    EXPECT_EQ(KRMessageIdentity(map({{"id", QStringLiteral("abc")}})), QStringLiteral("id:abc"));
    const QVariantMap withoutID = map({{"item", map({{"source_id", 5}, {"root_id", QStringLiteral("6")}, {"subject_id", 7}})},
                                       {"user", map({{"mid", 8}})},
                                       {"reply_time", 0},
                                       {"timestamp", 9}});
    EXPECT_EQ(KRMessageIdentity(withoutID), QStringLiteral("fallback:5:6:7:8:9"));
    EXPECT_EQ(KRMessageIdentity(map({{"id", QString()}, {"reply_time", 3}})), QStringLiteral("fallback:0:0:0:0:3"));
}

TEST(MessageFinders, LongLongForKeysTriesKeysThenNestedPartsAndStopsBelowEightLevels)
{
    const QStringList keys{QStringLiteral("root_id")};
    EXPECT_EQ(KRMessageFindLongLongForKeys(map({{"root_id", QStringLiteral("12x")}}), keys, 0), 12);
    EXPECT_EQ(KRMessageFindLongLongForKeys(map({{"a", QVariantList{1, map({{"root_id", 4}})}}}), keys, 0), 4);
    // Objects answer no integer value, and values of 0 or below are no hit.
    EXPECT_EQ(KRMessageFindLongLongForKeys(map({{"root_id", map({{"root_id", 0}})}}), keys, 0), 0);
    EXPECT_EQ(KRMessageFindLongLongForKeys(nestedBelow(8, map({{"root_id", 3}})), keys, 0), 3);
    EXPECT_EQ(KRMessageFindLongLongForKeys(nestedBelow(9, map({{"root_id", 3}})), keys, 0), 0);
    EXPECT_EQ(KRMessageFindLongLongForKeys(QVariant(), keys, 0), 0);
}

TEST(MessageFinders, ArchiveMarkersAndTheVideoIdsTheyMark)
{
    EXPECT_TRUE(KRMessageDictionaryHasArchiveMarker(map({{"business_id", QStringLiteral("1")}})));
    EXPECT_FALSE(KRMessageDictionaryHasArchiveMarker(map({{"business_id", 2}})));
    EXPECT_TRUE(KRMessageDictionaryHasArchiveMarker(map({{"type", QStringLiteral("Video")}})));
    EXPECT_TRUE(KRMessageDictionaryHasArchiveMarker(map({{"uri", QStringLiteral("https://x.test/BV1abc")}})));
    EXPECT_TRUE(KRMessageDictionaryHasArchiveMarker(map({{"jump_url", QStringLiteral("a/AV170001")}})));
    EXPECT_FALSE(KRMessageDictionaryHasArchiveMarker(map({{"type", QStringLiteral("reply")}, {"business", 1}})));

    EXPECT_TRUE(KRMessageContainsArchiveBusiness(map({{"reply", QVariantList{map({{"business", QStringLiteral("archive")}})}}})));
    // Only the named parts are looked into.
    EXPECT_FALSE(KRMessageContainsArchiveBusiness(map({{"other", map({{"business", QStringLiteral("archive")}})}})));

    // A marked part hands its mark to the parts below it.
    const QVariantMap marked = map({{"item", map({{"business_id", 1}, {"detail", map({{"oid", 55}})}})}});
    EXPECT_EQ(KRMessageArchiveAIDInObject(marked, false, 0), 55);
    EXPECT_EQ(KRMessageArchiveAIDInObject(map({{"item", map({{"oid", 55}})}}), false, 0), 0);
    EXPECT_EQ(KRMessageArchiveAIDInObject(nestedBelow(8, map({{"business_id", 1}, {"aid", 9}})), false, 0), 9);
    EXPECT_EQ(KRMessageArchiveAIDInObject(nestedBelow(9, map({{"business_id", 1}, {"aid", 9}})), false, 0), 0);
}

TEST(MessageFinders, DynamicIdsBVIdsAndVideoIdsInTextAndTrees)
{
    EXPECT_EQ(KRMessageFindDynamicID(QStringLiteral("see https://%1/88?x").arg(KRServiceHosts::dynamicsWebHost())),
              QStringLiteral("88"));
    EXPECT_EQ(KRMessageFindDynamicID(QStringLiteral("https://m.test/opus/123")), QStringLiteral("123"));
    EXPECT_EQ(KRMessageFindDynamicID(QStringLiteral("/opus/x dynamic_id=45")), QStringLiteral("45"));
    EXPECT_TRUE(KRMessageFindDynamicID(QStringLiteral("/OPUS/123")).isNull());
    EXPECT_EQ(KRMessageFindDynamicID(map({{"dynamic_id", 0}, {"z", QVariantList{QStringLiteral("/opus/7")}}})), QStringLiteral("7"));
    EXPECT_EQ(KRMessageFindDynamicID(map({{"dynamic_id", QStringLiteral("31")}})), QStringLiteral("31"));

    EXPECT_EQ(KRMessageFindBVID(QStringLiteral("x BV1xy411c7mD tail")), QStringLiteral("BV1xy411c7mD"));
    // Fewer than twelve characters from "BV1" on: no BV id.
    EXPECT_TRUE(KRMessageFindBVID(QStringLiteral("BV1short")).isNull());
    EXPECT_EQ(KRMessageFindBVID(map({{"a", 1}, {"b", QStringLiteral("BV1234567890")}})), QStringLiteral("BV1234567890"));

    EXPECT_EQ(KRMessageFindAID(QStringLiteral("https://www.test/video/av170001/")), 170001);
    // "av" inside a word without digits yields nothing, and the next marker is tried.
    EXPECT_EQ(KRMessageFindAID(QStringLiteral("have a look: aid=42")), 42);
    EXPECT_EQ(KRMessageFindAID(QStringLiteral("AV99")), 99);
    EXPECT_EQ(KRMessageFindAID(QStringLiteral("average")), 0);
    EXPECT_EQ(KRMessageFindAID(map({{"aid", 0}, {"av_id", QStringLiteral("8")}})), 8);
    EXPECT_EQ(KRMessageFindAID(QVariantList{map({{"x", QStringLiteral("av3")}})}), 3);
}

TEST(MessageJump, AReplyOpensTheVideoAtItsRootWithTheReplyAsTarget)
{
    const QVariantMap record = map({{"id", 1},
                                    {"item", map({{"business_id", 1}, {"subject_id", 170001}, {"root_id", 500},
                                                  {"source_id", 501}, {"title", QStringLiteral("视频标题")}})}});
    const KRMessageJump jump = KRMessageResolveJump(record);
    EXPECT_EQ(jump.route, KRMessageJump::Route::Archive);
    EXPECT_EQ(jump.aid, 170001);
    EXPECT_EQ(jump.root, 500);
    EXPECT_EQ(jump.target, 501);
    EXPECT_EQ(jump.title, QStringLiteral("视频标题"));
}

TEST(MessageJump, RootAndTargetFallBacks)
{
    // A source id but no root-like key anywhere: the comments open without focus.
    KRMessageJump jump = KRMessageResolveJump(
        map({{"item", map({{"business_id", 1}, {"subject_id", 9}, {"source_id", 77}})}}));
    EXPECT_EQ(jump.root, 0);
    EXPECT_EQ(jump.target, 77);

    // No target-like key: the target is the root. The deep search finds "parent" below.
    jump = KRMessageResolveJump(map({{"item", map({{"uri", QStringLiteral("x/BV1234567890")}})},
                                     {"extra", QVariantList{map({{"parent", 31}})}}}));
    EXPECT_EQ(jump.root, 31);
    EXPECT_EQ(jump.target, 31);
    EXPECT_EQ(jump.route, KRMessageJump::Route::BVID);
    EXPECT_EQ(jump.bvid, QStringLiteral("BV1234567890"));

    // The item is tried before the record, key by key.
    jump = KRMessageResolveJump(map({{"rpid", 2}, {"item", map({{"parent_id", 3}})}}));
    EXPECT_EQ(jump.root, 3);

    // A root nested more than eight levels below the top is not found.
    QVariantMap deep = nestedBelow(9, map({{"root_id", 44}})).toMap();
    deep.insert(QStringLiteral("content"), QStringLiteral("av5"));
    jump = KRMessageResolveJump(deep);
    EXPECT_EQ(jump.root, 0);
}

TEST(MessageJump, ADynamicLinkOpensTheDynamicUnlessTheRecordIsAVideo)
{
    const QVariantMap linkOnly = map({{"content", QStringLiteral("看 https://m.test/opus/123 这里 BV1234567890")}});
    KRMessageJump jump = KRMessageResolveJump(linkOnly);
    EXPECT_EQ(jump.route, KRMessageJump::Route::Dynamic);
    EXPECT_EQ(jump.dynamicID, QStringLiteral("123"));

    QVariantMap markedVideo = linkOnly;
    markedVideo.insert(QStringLiteral("item"), map({{"business_id", 1}, {"subject_id", 880}}));
    jump = KRMessageResolveJump(markedVideo);
    EXPECT_EQ(jump.route, KRMessageJump::Route::Archive);
    EXPECT_EQ(jump.aid, 880);

    // Marked as a video but without a video id: the BV id comes before the dynamic.
    QVariantMap markedWithoutID = linkOnly;
    markedWithoutID.insert(QStringLiteral("item"), map({{"type", QStringLiteral("video")}}));
    jump = KRMessageResolveJump(markedWithoutID);
    EXPECT_EQ(jump.route, KRMessageJump::Route::BVID);
}

TEST(MessageJump, ANumericIdAnywhereElseNowhere)
{
    KRMessageJump jump = KRMessageResolveJump(map({{"content", QStringLiteral("https://www.test/video/av42")}}));
    EXPECT_EQ(jump.route, KRMessageJump::Route::AID);
    EXPECT_EQ(jump.aid, 42);
    EXPECT_TRUE(jump.title.isNull());

    jump = KRMessageResolveJump(map({{"content", QStringLiteral("nothing here")}, {"item", QStringLiteral("not a dictionary")}}));
    EXPECT_EQ(jump.route, KRMessageJump::Route::None);
}
