#include "model/KRJSON.h"
#include "model/KRPlayInfo.h"

#include <gtest/gtest.h>

namespace {

std::optional<KRPlayInfo> parse(const char* json) { return KRPlayInfo::fromPlayInformation(KRJSONParse(QByteArray(json))); }

TEST(PlayInfoTest, DASHInformationReadsIntoStreamsQualitiesAndItsRoute)
{
    const auto info = parse(R"({"quality":"80","_kr_auth_family":"app-tv",
        "accept_quality":[80,64,"32",-1,80,"x"],"accept_description":["1080P","720P"],
        "dash":{"video":[{"id":80,"codecid":7,"codecs":"avc1.640032","bandwidth":2000,"base_url":"https://a.test/v"},
                          "not a stream",
                          {"id":64,"baseUrl":"https://a.test/w"},
                          {"id":32,"backup_url":["","https://b.test/x","https://b.test/x"]}],
                "audio":[{"id":30280,"codecs":"mp4a.40.2","bandwidth":"192000","base_url":"https://a.test/a"}]}})");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->route, QStringLiteral("app-tv"));
    EXPECT_EQ(info->quality, 80);
    EXPECT_EQ(info->acceptedQualities, (QList<int>{80, 64, 32}));
    EXPECT_EQ(info->acceptedTitles, (QStringList{QStringLiteral("1080P"), QStringLiteral("720P"), QString()}));
    ASSERT_EQ(info->pictures.size(), 3);
    EXPECT_EQ(info->pictures[0].codecID, 7);
    EXPECT_EQ(info->pictures[0].address, QStringLiteral("https://a.test/v"));
    EXPECT_EQ(info->pictures[1].address, QStringLiteral("https://a.test/w"));
    EXPECT_EQ(info->pictures[2].address, QStringLiteral("https://b.test/x"));
    EXPECT_EQ(info->pictures[2].backupAddresses, QStringList{QStringLiteral("https://b.test/x")});
    ASSERT_EQ(info->sounds.size(), 1);
    EXPECT_EQ(info->sounds[0].bandwidth, 192000);
    EXPECT_TRUE(info->hasDASH());
    EXPECT_TRUE(info->progressiveAddresses.isEmpty());
}

TEST(PlayInfoTest, ProgressiveInformationKeepsTheFirstEntrysAddressesOnce)
{
    const auto info = parse(R"({"quality":64,"durl":[{"url":"https://a.test/v.mp4","backup_url":["https://b.test/v.mp4","https://a.test/v.mp4",3]},
                                                  {"url":"https://c.test/2.mp4"}]})");
    ASSERT_TRUE(info);
    EXPECT_TRUE(info->route.isEmpty());
    EXPECT_FALSE(info->hasDASH());
    EXPECT_EQ(info->progressiveAddresses, (QStringList{QStringLiteral("https://a.test/v.mp4"), QStringLiteral("https://b.test/v.mp4")}));
}

TEST(PlayInfoTest, OtherShapesAreNoInformationOrNoStreams)
{
    EXPECT_FALSE(parse("[1,2]"));
    EXPECT_FALSE(parse("\"text\""));
    const auto odd = parse(R"({"quality":-5,"dash":{"video":{"id":1},"audio":[[],null]},"durl":[null]})");
    ASSERT_TRUE(odd);
    EXPECT_EQ(odd->quality, 0);
    EXPECT_TRUE(odd->pictures.isEmpty());
    EXPECT_TRUE(odd->sounds.isEmpty());
    EXPECT_TRUE(odd->progressiveAddresses.isEmpty());
    const auto offline = KRPlayInfo::fromOfflineRecord({{QStringLiteral("quality"), 80}});
    ASSERT_TRUE(offline);
    EXPECT_EQ(offline->route, QStringLiteral("offline"));
}

} // namespace
