#include "service/KRAPIReplyHelpers.h"
#include "service/KRJSON.h"
#include "service/KRSectionRegistry.h"

#include <gtest/gtest.h>

#include <QSet>

TEST(SectionRegistry, TableHoldsTheThirtySixSectionsInOrder)
{
    const QVariantList sections = KRSectionRegistry::allSections();
    ASSERT_EQ(sections.size(), 36);
    QStringList names;
    for (const QVariant& entry : sections)
        names << entry.toMap().value(KRSectionNameKey).toString();
    EXPECT_EQ(names.mid(0, 7), QStringList({"番剧", "国创", "纪录片", "电影", "电视剧", "综艺", "影视"}));
    EXPECT_EQ(names.at(16), "人工智能");
    EXPECT_EQ(names.at(33), "vlog");
    EXPECT_EQ(names.last(), "生活经验");
    EXPECT_EQ(QSet<QString>(names.begin(), names.end()).size(), 36);

    int routeCounts[3] = {0, 0, 0};
    for (const QVariant& entry : sections) {
        const QVariantMap map = entry.toMap();
        const int route = map.value(KRSectionRouteKey).toInt();
        ASSERT_GE(route, 0);
        ASSERT_LE(route, 2);
        ++routeCounts[route];
        // Each entry carries exactly the key of its own route.
        EXPECT_EQ(map.contains(KRSectionRIDKey), route == KRSectionRouteRegion) << map.value(KRSectionNameKey).toString().toStdString();
        EXPECT_EQ(map.contains(KRSectionSeasonTypeKey), route == KRSectionRouteSeasonIndex);
        EXPECT_EQ(map.contains(KRSectionSourceRIDsKey), route == KRSectionRouteAggregate);
    }
    EXPECT_EQ(routeCounts[KRSectionRouteSeasonIndex], 6);
    EXPECT_EQ(routeCounts[KRSectionRouteAggregate], 7);
    EXPECT_EQ(routeCounts[KRSectionRouteRegion], 23);

    const QVariantMap pgc = sections.at(3).toMap();
    EXPECT_EQ(pgc.value(KRSectionSeasonTypeKey).toInt(), 2);
    const QVariantMap music = sections.at(8).toMap();
    EXPECT_EQ(music.value(KRSectionNameKey).toString(), "音乐");
    EXPECT_EQ(music.value(KRSectionRIDKey).toInt(), 3);
    const QVariantList ai = sections.at(16).toMap().value(KRSectionSourceRIDsKey).toList();
    EXPECT_EQ(ai, QVariantList({259, 265, 231, 36}));
    EXPECT_EQ(sections.at(32).toMap().value(KRSectionSourceRIDsKey), sections.at(35).toMap().value(KRSectionSourceRIDsKey));
    // The table is the same object on every call.
    EXPECT_EQ(KRSectionRegistry::allSections(), sections);
}

TEST(SectionRegistry, EntryMakers)
{
    const QVariantMap pgc = KRPGCSection("番剧", 1);
    EXPECT_EQ(pgc.value(KRSectionRouteKey).toInt(), int(KRSectionRouteSeasonIndex));
    EXPECT_EQ(pgc.value("season_type").toInt(), 1);
    const QVariantMap ugc = KRUGCSection("游戏", 4);
    EXPECT_EQ(ugc.value("route").toInt(), 0);
    EXPECT_EQ(ugc.value("rid").toInt(), 4);
    EXPECT_EQ(ugc.value("name").toString(), "游戏");
}

TEST(APIReplyHelpers, PGCRootDictionaryFollowsDataThenResult)
{
    EXPECT_EQ(KRPGCRootDictionary(KRJSONParse(R"({"code": 0, "result": {"season_id": 1}})")).value("season_id").toInt(), 1);
    EXPECT_EQ(KRPGCRootDictionary(KRJSONParse(R"({"code": 0, "data": {"season_id": 2}})")).value("season_id").toInt(), 2);
    EXPECT_EQ(KRPGCRootDictionary(KRJSONParse(R"({"code": 0, "data": {"has_next": 1, "result": {"list": [1]}}})")).value("list").toList().size(), 1);
    EXPECT_EQ(KRPGCRootDictionary(KRJSONParse(R"({"code": 0, "data": [1], "list": [2, 3]})")).value("list").toList().size(), 2);
    EXPECT_EQ(KRPGCRootDictionary(KRJSONParse(R"({"data": {"result": "x", "k": 4}})")).value("k").toInt(), 4);
    EXPECT_TRUE(KRPGCRootDictionary(KRJSONParse("[1]")).isEmpty());
    EXPECT_TRUE(KRPGCRootDictionary(QVariant()).isEmpty());
}

TEST(APIReplyHelpers, APIStringAndSeasonTypeNames)
{
    EXPECT_EQ(KRAPIString(QVariant(QString("第1话"))), "第1话");
    EXPECT_EQ(KRAPIString(QVariant(qint64(12))), "12");
    EXPECT_TRUE(KRAPIString(QVariant(QString(""))).isNull());
    EXPECT_TRUE(KRAPIString(QVariant::fromValue(nullptr)).isNull());
    EXPECT_TRUE(KRAPIString(QVariant(QVariantMap())).isNull());
    EXPECT_EQ(KRPGCSeasonTypeName(1), "番剧");
    EXPECT_EQ(KRPGCSeasonTypeName(4), "国创");
    EXPECT_EQ(KRPGCSeasonTypeName(6), "影视");
    EXPECT_EQ(KRPGCSeasonTypeName(7), "综艺");
    EXPECT_EQ(KRPGCSeasonTypeName(0), "影视");
    EXPECT_EQ(KRPGCSeasonTypeName(99), "影视");
}
