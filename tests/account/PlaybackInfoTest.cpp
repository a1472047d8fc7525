#include "account/AccountClientTesting.h"

#include "account/KRPlaybackInfo.h"
#include "model/KRJSON.h"
#include "support/ServiceSignatures.h"

using namespace accounttest;

namespace {

using InfoCalls = Calls<const std::optional<KRPlaybackInfo>&, const KROptionalError&>;

const QString kTV = QStringLiteral("/x/tv/ugc/playurl");
const QString kWeb = QStringLiteral("/x/player/playurl");
const QString kWBI = QStringLiteral("/x/player/wbi/playurl");
constexpr qint64 kAID = 170001;
constexpr qint64 kCID = 279786;
const QString kBVID = QStringLiteral("BV1xx411c7mD");

class PlaybackInfoTest : public AccountClientTest {
protected:
    // Waits for the one answer of a route.
    std::pair<std::optional<KRPlaybackInfo>, KROptionalError> await(InfoCalls& calls)
    {
        const auto [info, error] = calls.awaitOne();
        return {info, error};
    }
    static QString familyOf(const std::optional<KRPlaybackInfo>& info)
    {
        return info ? info->value(QStringLiteral("_kr_auth_family")).toString() : QString();
    }
};

TEST_F(PlaybackInfoTest, ProgressiveSixtyFourAsksTheTVRouteAndFallsBackWhenItServesLess)
{
    AccountFixtures::logInAppAndWeb(0);
    serveAPI(kTV, AccountFixtures::appSigned([](const FakeRequest& request) {
                 EXPECT_EQ(request.queryValue(QStringLiteral("access_key")), QStringLiteral("acc-1"));
                 EXPECT_EQ(request.queryValue(QStringLiteral("fnval")), QStringLiteral("0"));
                 return AccountFixtures::ok(AccountFixtures::progressiveInfo(32));
             }));
    serveAPI(kWeb, [](const FakeRequest&) { return AccountFixtures::ok(AccountFixtures::progressiveInfo(64)); });
    InfoCalls calls;
    client()->loadPlaybackInfoForAID(kAID, kBVID, kCID, 64, nullptr, calls.recorder());
    const auto [info, error] = await(calls);
    EXPECT_FALSE(error);
    EXPECT_EQ(familyOf(info), QStringLiteral("anonymous"));
    ASSERT_EQ(fake.requestsTo(kTV).size(), 1);
    const FakeRequest tv = fake.requestsTo(kTV).first();
    EXPECT_EQ(tv.header(QStringLiteral("User-Agent")), QStringLiteral("Mozilla/5.0 (Linux; Android 13; TV) zant-tv/1.6.6"));
    EXPECT_TRUE(tv.header(QStringLiteral("Cookie")).isEmpty());
    ASSERT_EQ(fake.requestsTo(kWeb).size(), 1);
    EXPECT_TRUE(fake.requestsTo(kWeb).first().header(QStringLiteral("Cookie")).isEmpty());
    EXPECT_TRUE(runtimeLog().contains(QStringLiteral("phase=fallback from=app-tv to=anonymous cid=%1 qn=64 code=0 actual=32").arg(kCID)));
}

TEST_F(PlaybackInfoTest, SixteenAnsweredExactlyStaysAnonymousEvenLoggedIn)
{
    AccountFixtures::logInWebOnly();
    serveAPI(kWeb, [](const FakeRequest&) { return AccountFixtures::ok(AccountFixtures::progressiveInfo(16)); });
    InfoCalls calls;
    client()->loadPlaybackInfoForAID(kAID, kBVID, kCID, 16, nullptr, calls.recorder());
    const auto [info, error] = await(calls);
    EXPECT_FALSE(error);
    EXPECT_EQ(familyOf(info), QStringLiteral("anonymous"));
    EXPECT_EQ(fake.requestsTo(kWeb).size(), 1);
    EXPECT_TRUE(fake.requestsTo(kTV).isEmpty());
}

TEST_F(PlaybackInfoTest, AnInexactAnonymousAnswerFallsToTheSessionOrFailsWithItsOwnError)
{
    serveAPI(kWeb, [](const FakeRequest& request) {
        return AccountFixtures::ok(AccountFixtures::progressiveInfo(request.header(QStringLiteral("Cookie")).isEmpty() ? 32 : 16));
    });
    InfoCalls loggedOut;
    client()->loadPlaybackInfoForBVID(kBVID, kCID, 16, nullptr, loggedOut.recorder());
    const auto [anonymousInfo, anonymousError] = await(loggedOut);
    expectError(anonymousError, -460, QStringLiteral("服务器未返回所选清晰度"));
    EXPECT_EQ(familyOf(anonymousInfo), QStringLiteral("anonymous"));

    AccountFixtures::logInWebOnly();
    InfoCalls loggedIn;
    client()->loadPlaybackInfoForBVID(kBVID, kCID, 16, nullptr, loggedIn.recorder());
    const auto [info, error] = await(loggedIn);
    EXPECT_FALSE(error);
    EXPECT_EQ(familyOf(info), QStringLiteral("web-fallback"));
    EXPECT_FALSE(fake.requestsTo(kWeb).last().header(QStringLiteral("Cookie")).isEmpty());
}

TEST_F(PlaybackInfoTest, DASHFallsFromTheTVRouteToTheSignedWebRouteWhichRepeatsWithoutCookieOnRiskControl)
{
    AccountFixtures::logInWebOnly();
    testsupport::routeNavigationFixture(fake);
    serveAPI(kTV, AccountFixtures::appSigned([](const FakeRequest& request) {
                 EXPECT_FALSE(request.queryItems.contains({QStringLiteral("access_key"), QStringLiteral("acc-1")}));
                 return AccountFixtures::ok(AccountFixtures::dashInfo(80, 12));
             }));
    serveAPI(kWBI, testsupport::wbiSigned(testsupport::fixtureWBIMixinKey(), [](const FakeRequest& request) {
                 if (!request.header(QStringLiteral("Cookie")).isEmpty())
                     return FakeReply::html("<html>412</html>", 412);
                 return AccountFixtures::ok(AccountFixtures::dashInfo(80));
             }));
    InfoCalls calls;
    client()->loadDASHPlaybackInfoForAID(kAID, kBVID, kCID, 0, nullptr, calls.recorder());
    const auto [info, error] = await(calls);
    EXPECT_FALSE(error);
    EXPECT_EQ(familyOf(info), QStringLiteral("web-compatible"));
    EXPECT_EQ(fake.requestsTo(kTV).size(), 1) << "quality 0 means 80, and the aid is known";
    EXPECT_EQ(fake.requestsTo(kWBI).size(), 2);
    const QString log = runtimeLog();
    EXPECT_TRUE(log.contains(QStringLiteral("authFamily=tv-public path=/x/tv/ugc/playurl")));
    EXPECT_TRUE(log.contains(QStringLiteral("phase=fallback from=app-tv to=web-wbi cid=%1 qn=80 code=0 exact=NO").arg(kCID)));
    EXPECT_TRUE(log.contains(QStringLiteral("playback-info-anonymous-retry")));
}

TEST_F(PlaybackInfoTest, SeriesDASHTriesTheAppRouteThenBothWebRoutesWithTheEpisodeReferer)
{
    AccountFixtures::logInAppAndWeb(0);
    serveAPI(QStringLiteral("/pgc/player/api/playurl"), AccountFixtures::appSigned([](const FakeRequest& request) {
                 EXPECT_EQ(request.queryValue(QStringLiteral("fnval")), QStringLiteral("4048"));
                 return AccountFixtures::ok(AccountFixtures::dashInfo(80, 7, false));
             }));
    serveAPI(QStringLiteral("/pgc/player/web/v2/playurl"), [](const FakeRequest&) { return AccountFixtures::refusal(-10403, QStringLiteral("地区限制")); });
    serveAPI(QStringLiteral("/pgc/player/web/playurl"), [](const FakeRequest& request) {
        EXPECT_EQ(request.queryValue(QStringLiteral("fnval")), QStringLiteral("16"));
        EXPECT_EQ(request.queryValue(QStringLiteral("platform")), QStringLiteral("html5"));
        return FakeReply::json(QVariantMap{{QStringLiteral("code"), 0},
                                           {QStringLiteral("result"), QVariantMap{{QStringLiteral("video_info"), AccountFixtures::dashInfo(80)}}}});
    });
    InfoCalls calls;
    client()->loadPGCDASHPlaybackInfoForEpisodeID(5001, kAID, kBVID, kCID, 80, nullptr, calls.recorder());
    const auto [info, error] = await(calls);
    EXPECT_FALSE(error);
    EXPECT_EQ(familyOf(info), QStringLiteral("web-pgc-legacy"));
    EXPECT_TRUE(info->contains(QStringLiteral("dash")));
    EXPECT_EQ(info->value(QStringLiteral("code")).toLongLong(), 0) << "top-level keys stay";
    const QString referer = QStringLiteral("https://") + KRServiceHosts::webHost() + QStringLiteral("/bangumi/play/ep5001");
    EXPECT_EQ(fake.requestsTo(QStringLiteral("/pgc/player/web/v2/playurl")).first().header(QStringLiteral("Referer")), referer);
    EXPECT_EQ(fake.requestsTo(QStringLiteral("/pgc/player/web/playurl")).first().header(QStringLiteral("Referer")), referer);
}

TEST_F(PlaybackInfoTest, SeriesWithoutAnyStreamIsUnavailableAndArgumentErrorsAnswerAtOnce)
{
    serveAPI(QStringLiteral("/pgc/player/web/v2/playurl"), [](const FakeRequest&) { return AccountFixtures::ok(QVariantMap{}); });
    serveAPI(QStringLiteral("/pgc/player/web/playurl"), [](const FakeRequest&) { return AccountFixtures::ok(QVariantMap{}); });
    InfoCalls calls;
    client()->loadWebPGCDASHPlaybackInfoForEpisodeID(5001, 0, QString(), 0, 0, nullptr, calls.recorder());
    expectError(await(calls).second, -404, QStringLiteral("番剧播放地址不可用"));

    struct Case {
        const char* name;
        std::function<void(KRPlaybackInfoCompletion)> start;
        QString message;
    };
    const QList<Case> cases{
        {"no bvid", [](auto done) { KRAccountClient::sharedClient()->loadPlaybackInfoForAID(1, QString(), 2, 64, nullptr, done); }, QStringLiteral("视频播放标识不完整")},
        {"no cid", [](auto done) { KRAccountClient::sharedClient()->loadDASHPlaybackInfoForAID(1, kBVID, 0, 64, nullptr, done); }, QStringLiteral("视频播放标识不完整")},
        {"TV without aid", [](auto done) { KRAccountClient::sharedClient()->loadTVUGCPlaybackInfoForAID(0, kBVID, 2, 64, 0, nullptr, done); }, QStringLiteral("TV 播放标识不完整")},
        {"series progressive without cid", [](auto done) { KRAccountClient::sharedClient()->loadPGCProgressivePlaybackInfoForEpisodeID(5, 1, kBVID, 0, 16, nullptr, done); },
         QStringLiteral("番剧播放标识不完整")},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        InfoCalls inside;
        item.start(inside.recorder());
        ASSERT_EQ(inside.calls.size(), 1);
        expectError(std::get<1>(inside.calls.first()), -3, item.message);
    }
}

TEST(PlaybackInfoChecksTest, ExactnessAndFlattening)
{
    const std::optional<QVariantMap> mixed = KRJSONParse(QByteArray(
        R"({"dash":{"video":[{"id":80,"codecid":12,"codecs":"hev1"},{"id":64,"codecid":7}],"audio":[{"id":1}]}})")).toMap();
    EXPECT_FALSE(KRAccountDASHDataHasExactH264AAC(mixed, 80)) << "another quality's H.264 does not count";
    EXPECT_TRUE(KRAccountDASHDataHasExactH264AAC(mixed, 64));
    EXPECT_TRUE(KRAccountDASHDataHasExactH264AAC(AccountFixtures::dashInfo(80, 0), 80) == false);
    EXPECT_FALSE(KRAccountDASHDataHasExactH264AAC(AccountFixtures::dashInfo(80, 7, false), 80)) << "no sound";
    EXPECT_TRUE(KRAccountProgressiveDataHasExactQuality(AccountFixtures::progressiveInfo(16), 16));
    EXPECT_FALSE(KRAccountProgressiveDataHasExactQuality(AccountFixtures::progressiveInfo(16, 0), 16));
    EXPECT_FALSE(KRAccountProgressiveDataHasExactQuality(AccountFixtures::progressiveInfo(16), 0));
    const std::optional<QVariantMap> nested = KRAccountNormalizedPGCPlayURL(
        KRJSONParse(QByteArray(R"({"code":0,"message":"ok","result":{"video_info":{"quality":80,"durl":[{"url":"u"}]}}})")));
    ASSERT_TRUE(nested);
    EXPECT_EQ(nested->value(QStringLiteral("quality")).toLongLong(), 80);
    EXPECT_EQ(nested->value(QStringLiteral("message")).toString(), QStringLiteral("ok"));
    EXPECT_FALSE(KRAccountNormalizedPGCPlayURL(QVariant(QVariantList{})));
    EXPECT_EQ(KRAccountPlaybackData(KRJSONParse(QByteArray(R"({"durl":[]})"))).value_or(QVariantMap()).size(), 1);
}

} // namespace
