#include "model/KRAPIReplyHelpers.h"
#include "model/KRJSON.h"
#include "model/KRSectionRegistry.h"

#include <QSet>

#include <gtest/gtest.h>

TEST(SectionRegistry, EveryEntryIsNamedOnceAndCarriesTheKeyOfItsOwnRoute)
{
    const QVariantList sections = KRSectionRegistry::allSections();
    ASSERT_FALSE(sections.isEmpty());
    EXPECT_EQ(KRSectionRegistry::allSections(), sections) << "built once, never changed";
    QSet<QString> names;
    for (const QVariant& value : sections) {
        const QVariantMap entry = value.toMap();
        const QString name = entry.value(KRSectionNameKey).toString();
        EXPECT_FALSE(name.isEmpty());
        EXPECT_FALSE(names.contains(name)) << name.toStdString() << " twice";
        names.insert(name);
        const int route = entry.value(KRSectionRouteKey).toInt();
        ASSERT_TRUE(route >= KRSectionRouteRegion && route <= KRSectionRouteAggregate) << name.toStdString();
        EXPECT_EQ(entry.contains(KRSectionRIDKey), route == KRSectionRouteRegion) << name.toStdString();
        EXPECT_EQ(entry.contains(KRSectionSeasonTypeKey), route == KRSectionRouteSeasonIndex) << name.toStdString();
        EXPECT_EQ(entry.contains(KRSectionSourceRIDsKey), route == KRSectionRouteAggregate) << name.toStdString();
        if (route == KRSectionRouteAggregate) {
            // Merging round-robin needs more than one region.
            EXPECT_GT(entry.value(KRSectionSourceRIDsKey).toList().size(), 1) << name.toStdString();
        }
    }
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
