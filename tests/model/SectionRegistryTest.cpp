#include "model/KRAPIReplyHelpers.h"
#include "model/KRJSON.h"
#include "model/KRSectionRegistry.h"

#include <gtest/gtest.h>

TEST(SectionRegistry, TableHoldsTheThirtySixSectionsInOrder)
{
    const QVariantList sections = KRSectionRegistry::allSections();
    ASSERT_EQ(sections.size(), 36);
    QStringList names;
    int routeCounts[3] = {0, 0, 0};
    for (const QVariant& value : sections) {
        const QVariantMap entry = value.toMap();
        names << entry.value(KRSectionNameKey).toString();
        const int route = entry.value(KRSectionRouteKey).toInt();
        ASSERT_TRUE(route >= 0 && route <= 2);
        ++routeCounts[route];
        // Each entry carries exactly the key of its own route.
        EXPECT_EQ(entry.contains(KRSectionRIDKey), route == KRSectionRouteRegion);
        EXPECT_EQ(entry.contains(KRSectionSeasonTypeKey), route == KRSectionRouteSeasonIndex);
        EXPECT_EQ(entry.contains(KRSectionSourceRIDsKey), route == KRSectionRouteAggregate);
    }
    EXPECT_EQ(names.mid(0, 7), QStringList({"番剧", "国创", "纪录片", "电影", "电视剧", "综艺", "影视"}));
    EXPECT_EQ(names.last(), "生活经验");
    EXPECT_EQ(routeCounts[KRSectionRouteSeasonIndex], 6);
    EXPECT_EQ(routeCounts[KRSectionRouteAggregate], 7);
    EXPECT_EQ(sections.at(3).toMap().value(KRSectionSeasonTypeKey), 2);
    EXPECT_EQ(sections.at(16).toMap().value(KRSectionSourceRIDsKey), QVariantList({259, 265, 231, 36}));
}

TEST(APIReplyHelpers, PGCRootDictionaryFollowsDataThenResult)
{
    const struct { const char* reply; const char* key; int expected; } rows[] = {
        {R"({"code": 0, "result": {"season_id": 1}})", "season_id", 1},
        {R"({"code": 0, "data": {"season_id": 2}})", "season_id", 2},
        {R"({"code": 0, "data": {"result": {"n": 3}}})", "n", 3},
        {R"({"code": 0, "data": [1], "n": 4})", "n", 4},
        {R"({"data": {"result": "x", "n": 5}})", "n", 5},
    };
    for (const auto& row : rows)
        EXPECT_EQ(KRPGCRootDictionary(KRJSONParse(row.reply)).value(row.key).toInt(), row.expected) << row.reply;
    EXPECT_TRUE(KRPGCRootDictionary(KRJSONParse("[1]")).isEmpty());
}
