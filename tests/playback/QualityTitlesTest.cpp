#include "playback/KRQualityTitles.h"

#include <gtest/gtest.h>

namespace {

struct TitleCase {
    int quality;
    const char* title;
};

TEST(QualityTitlesTest, FixedTableAutomaticAndOtherCodes)
{
    const TitleCase cases[] = {{-1, "自动"}, {0, "自动"}, {6, "240P"}, {16, "360P"}, {32, "480P"}, {64, "720P"},
                               {74, "720P60"}, {80, "1080P"}, {112, "1080P+"}, {116, "1080P60"}, {120, "4K"},
                               {125, "125P"}, {1, "1P"}, {15, "15P"}, {127, "127P"}};
    for (const TitleCase& c : cases) {
        SCOPED_TRACE(c.quality);
        EXPECT_EQ(KRCompactQualityTitleForValue(c.quality), QString::fromUtf8(c.title));
        EXPECT_EQ(KRQualityTitleForValue(c.quality), QString::fromUtf8(c.title));
    }
}

TEST(QualityTitlesTest, ServerTitlesWinInTheFullTitleOnly)
{
    const QList<int> qualities{120, 80, 74, 64, 125};
    const QStringList titles{QStringLiteral("超清 4K"), QStringLiteral("高清 1080P"), QStringLiteral("高清 720P60"),
                             QStringLiteral("高清 720P"), QStringLiteral("杜比视界")};
    EXPECT_EQ(KRQualityTitleForValue(74, qualities, titles), QStringLiteral("高清 720P60"));
    EXPECT_EQ(KRQualityTitleForValue(125, qualities, titles), QStringLiteral("杜比视界"));
    EXPECT_EQ(KRCompactQualityTitleForValue(125), QStringLiteral("125P"));
    EXPECT_EQ(KRCompactQualityTitleForValue(74), QStringLiteral("720P60"));
    // Not listed by the server: the table.
    EXPECT_EQ(KRQualityTitleForValue(16, qualities, titles), QStringLiteral("360P"));
    // Automatic never takes a server title.
    EXPECT_EQ(KRQualityTitleForValue(0, {0}, {QStringLiteral("服务器自动")}), QStringLiteral("自动"));
}

TEST(QualityTitlesTest, ATitleNamesTheCodeOfTheTableWordItHolds)
{
    const TitleCase cases[] = {{64, "720P"},      {64, "高清 720P"}, {74, "高清 720P60"}, {112, "高清 1080P+"}, {120, "超清 4K"},
                               {6, "240P"},       {0, "自动"},       {0, ""},             {0, "杜比视界"},   {0, "125P"},
                               {0, "720P高清"}, {80, "1080P 高码率 720P"}};
    for (const TitleCase& c : cases) {
        SCOPED_TRACE(c.title);
        EXPECT_EQ(KRQualityValueForTitle(QString::fromUtf8(c.title)), c.quality);
    }
}

TEST(QualityTitlesTest, MissingOrEmptyServerTitlesFallBackToTheTable)
{
    // Fewer titles than codes: the codes past the titles read from the table.
    EXPECT_EQ(KRQualityTitleForValue(64, {80, 64}, {QStringLiteral("高清 1080P")}), QStringLiteral("720P"));
    EXPECT_EQ(KRQualityTitleForValue(80, {80, 64}, {QStringLiteral("高清 1080P")}), QStringLiteral("高清 1080P"));
    EXPECT_EQ(KRQualityTitleForValue(80, {80}, {QString()}), QStringLiteral("1080P"));
    EXPECT_EQ(KRQualityTitleForValue(90, {80}, {QStringLiteral("x")}), QStringLiteral("90P"));
}

} // namespace
