#include "service/ServiceClientTesting.h"

#include "account/KRAccountClient.h"
#include "platform/device/DeviceProfile.h"
#include "service/KRCompatibilityAIDMap.h"
#include "support/AccountFixtures.h"

#include <memory>

using namespace servicetest;
using testsupport::AccountFixtures;

namespace {

const QString kWeb = QStringLiteral("/x/player/playurl");

// An outside id map that is present and keeps nothing.
class EmptyAIDMap : public KRCompatibilityAIDMap {
public:
    bool isWritable() const override { return false; }
    QStringList keys() const override { return {}; }
    QVariant value(const QString&) const override { return {}; }
    void setValue(const QString&, const QString&) override {}
};

class PlayURLTest : public ServiceClientTest {
protected:
    void SetUp() override
    {
        ServiceClientTest::SetUp();
        KRAccountClient::sharedClient()->resetForTesting();
        KRPlaybackInfoProvider::install(KRAccountClient::sharedClient());
    }
    void TearDown() override
    {
        KRCompatibilityAIDMap::install(nullptr);
        platform::DeviceProfile::resetForTesting();
        KRPlaybackInfoProvider::install(KRAccountClient::sharedClient());
        ServiceClientTest::TearDown();
    }
    VideoRef archive() { return videoWith(ServiceFixtures::kDetailAID, ServiceFixtures::detailBVID(), ServiceFixtures::kDetailCID); }
    static FakeReply playable(int quality) { return AccountFixtures::ok(AccountFixtures::progressiveInfo(quality)); }
};

TEST_F(PlayURLTest, AnAccountRouteWithoutAddressIsRetriedOnceWithoutTheSessionAtTheSameQuality)
{
    logIn();
    serve(kWeb, FakeReply{});
    fake.route(KRServiceHosts::apiHost(), kWeb, [](const FakeRequest& request) {
        if (!request.header(QStringLiteral("Cookie")).isEmpty())
            return AccountFixtures::ok(QVariantMap{{QStringLiteral("quality"), 80}});
        return playable(80);
    });
    const auto outcome = run<VideoRef>([&](auto done) { client()->loadPlayURLForVideo(archive(), 80, liveOwner(), done); });
    ASSERT_TRUE(outcome->value);
    EXPECT_FALSE(outcome->error);
    EXPECT_FALSE(outcome->value->playURL().isEmpty());
    EXPECT_EQ(outcome->value->aid(), ServiceFixtures::kDetailAID);
    const QList<FakeRequest> requests = requestsTo(kWeb);
    ASSERT_EQ(requests.size(), 2);
    EXPECT_FALSE(requests.first().header(QStringLiteral("Cookie")).isEmpty());
    EXPECT_TRUE(requests.last().header(QStringLiteral("Cookie")).isEmpty());
    EXPECT_EQ(requests.last().queryValue(QStringLiteral("qn")), QStringLiteral("80"));
    EXPECT_TRUE(runtimeLog().contains(QStringLiteral("primaryDomain=KRAPIErrorDomain primaryCode=-34")));
}

TEST_F(PlayURLTest, AnAnswerWithoutAddressIsAFailureNotASuccess)
{
    KRPlaybackInfoProvider::install(nullptr);
    // Neither the play address nor the series fall-back names an address or an error.
    for (const QString& path : {kWeb, QStringLiteral("/pgc/player/web/playurl")})
        fake.route(KRServiceHosts::apiHost(), path, [](const FakeRequest&) { return AccountFixtures::ok(QVariantMap{{QStringLiteral("quality"), 80}}); });
    const auto outcome = run<VideoRef>([&](auto done) { client()->loadPlayURLForVideo(archive(), 80, liveOwner(), done); });
    expectError(outcome->error, -34, QStringLiteral("视频暂未返回兼容播放地址"));
}

TEST_F(PlayURLTest, NeitherFormAnswersOrGoesOnForAGoneOwner)
{
    // The play address comes late and without an address, so a chain that went on would ask
    // the series fall-back by aid next.
    KRPlaybackInfoProvider::install(nullptr);
    fake.route(KRServiceHosts::apiHost(), kWeb, [](const FakeRequest&) {
        FakeReply reply = AccountFixtures::ok(QVariantMap{{QStringLiteral("quality"), 80}});
        reply.delayMs = 150;
        return reply;
    });
    const QString fallback = QStringLiteral("/pgc/player/web/playurl");
    serve(fallback, playable(80));
    for (const bool switching : {false, true}) {
        SCOPED_TRACE(switching ? "one quality" : "starting playback");
        fake.clearRequests();
        auto owner = std::make_unique<QObject>();
        auto release = std::make_shared<Release>();
        int calls = 0;
        auto completion = [&calls, token = releaseToken(release)](const VideoRef&, const KROptionalError&) { ++calls; };
        if (switching)
            client()->loadPlayURLForVideo(archive(), 80, owner.get(), std::move(completion));
        else
            client()->loadPlayURLForVideo(archive(), owner.get(), std::move(completion));
        KR_WAIT_UNTIL(requestsTo(kWeb).size() == 1);
        owner.reset();
        KR_WAIT_UNTIL(release->done);
        testsupport::waitUntil([] { return KRAPIWorkerQueue()->operationCount() == 0; });
        QCoreApplication::processEvents();
        EXPECT_EQ(calls, 0);
        EXPECT_TRUE(release->onMain);
        EXPECT_EQ(requestsTo(kWeb).size(), 1);
        EXPECT_TRUE(requestsTo(fallback).isEmpty()) << "the chain stops with its owner";
    }
}

TEST_F(PlayURLTest, TiersStopAtOnceWhenTheArchiveIsUnavailable)
{
    KRPlaybackInfoProvider::install(nullptr);
    // The play address says the archive is gone; what the series fall-back by aid then says
    // is the tier's answer.
    struct Case {
        const char* name;
        FakeReply fallback;
        qint64 code;
        bool stops;
    };
    const QList<Case> cases{
        {"fall-back agrees", ServiceFixtures::serviceError(-404, QStringLiteral("啥都木有")), -404, true},
        {"fall-back without an error", AccountFixtures::ok(QVariantMap{{QStringLiteral("quality"), 80}}), -404, true},
        {"fall-back refuses otherwise", ServiceFixtures::serviceError(-10403, QStringLiteral("地区限制")), -10403, false},
    };
    fake.route(KRServiceHosts::apiHost(), kWeb, [](const FakeRequest&) { return ServiceFixtures::serviceError(-404, QStringLiteral("啥都木有")); });
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        fake.clearRequests();
        fake.route(KRServiceHosts::apiHost(), QStringLiteral("/pgc/player/web/playurl"), [reply = item.fallback](const FakeRequest&) { return reply; });
        const auto outcome = run<VideoRef>([&](auto done) { client()->loadPlayURLForVideo(archive(), liveOwner(), done); });
        expectError(outcome->error, item.code);
        EXPECT_EQ(requestsTo(kWeb).size() == 1, item.stops) << requestsTo(kWeb).size() << " tiers tried";
    }
}

TEST_F(PlayURLTest, AnAccountRouteRefusalIsTheAccountClientsOwnAndNeitherRetriedNorFinal)
{
    logIn();
    fake.route(KRServiceHosts::apiHost(), kWeb, [](const FakeRequest&) { return ServiceFixtures::serviceError(-404, QStringLiteral("啥都木有")); });
    const auto outcome = run<VideoRef>([&](auto done) { client()->loadPlayURLForVideo(archive(), liveOwner(), done); });
    expectError(outcome->error, -404, QString(), KRAccountErrorDomain);
    EXPECT_GT(runtimeLog().count(QStringLiteral("play-url-official-attempt")), 1) << "lower tiers are tried";
    EXPECT_FALSE(runtimeLog().contains(QStringLiteral("play-url-anonymous-retry")));
    EXPECT_TRUE(requestsTo(QStringLiteral("/pgc/player/web/playurl")).isEmpty()) << "the web road is never reached";
}

TEST_F(PlayURLTest, TheWebRoadAsksForFourKOnlyAboveOneHundredNineteenTheAccountRouteAlways)
{
    KRPlaybackInfoProvider::install(nullptr);
    fake.route(KRServiceHosts::apiHost(), kWeb, [](const FakeRequest& request) {
        return playable(request.queryValue(QStringLiteral("qn")).toInt());
    });
    for (const auto& [quality, fourk] : QList<std::pair<int, QString>>{{120, "1"}, {116, "0"}, {0, "0"}}) {
        SCOPED_TRACE(quality);
        run<VideoRef>([&](auto done) { client()->loadPlayURLForVideo(archive(), quality, liveOwner(), done); });
        EXPECT_EQ(requestsTo(kWeb).last().queryValue(QStringLiteral("fourk")), fourk);
        EXPECT_EQ(requestsTo(kWeb).last().queryValue(QStringLiteral("qn")), QString::number(quality < 1 ? 16 : quality));
    }
    logIn();
    KRPlaybackInfoProvider::install(KRAccountClient::sharedClient());
    const auto outcome = run<VideoRef>([&](auto done) { client()->loadPlayURLForVideo(archive(), 116, liveOwner(), done); });
    EXPECT_FALSE(outcome->error);
    const FakeRequest account = requestsTo(kWeb).last();
    EXPECT_FALSE(account.header(QStringLiteral("Cookie")).isEmpty());
    EXPECT_EQ(account.queryValue(QStringLiteral("fourk")), QStringLiteral("1"));
}

TEST_F(PlayURLTest, AVideoWithoutIdentityFailsInsideTheCall)
{
    bool inside = false;
    const auto outcome = run<VideoRef>([&](auto done) { client()->loadPlayURLForVideo(videoWith(5, QString(), 0), liveOwner(), done); }, &inside);
    EXPECT_TRUE(inside);
    expectError(outcome->error, -35, QStringLiteral("视频信息不完整，请刷新后重试"));
    const auto switched = run<VideoRef>([&](auto done) { client()->loadPlayURLForVideo(videoWith(5, QString(), 0), 64, liveOwner(), done); }, &inside);
    EXPECT_TRUE(inside);
    expectError(switched->error, -35);
    EXPECT_TRUE(fake.requests().isEmpty());
}

TEST_F(PlayURLTest, TheOldSystemWithTheBridgeTriesTheOldPlayHostFirstThenSixteen)
{
    platform::DeviceProfile::setSystemVersionForTesting(QStringLiteral("5.0.1"));
    KRCompatibilityAIDMap::install(std::make_shared<EmptyAIDMap>());
    KRPlaybackInfoProvider::install(nullptr);
    fake.route(KRServiceHosts::oldPlayHost(), QStringLiteral("/playurl"), [](const FakeRequest&) { return ServiceFixtures::serviceError(-500, QStringLiteral("gone")); });
    fake.route(KRServiceHosts::apiHost(), kWeb, [](const FakeRequest& request) { return playable(request.queryValue(QStringLiteral("qn")).toInt()); });
    const auto outcome = run<VideoRef>([&](auto done) { client()->loadPlayURLForVideo(archive(), liveOwner(), done); });
    EXPECT_FALSE(outcome->error);
    ASSERT_EQ(requestsTo(QStringLiteral("/playurl")).size(), 1);
    const FakeRequest old = requestsTo(QStringLiteral("/playurl")).first();
    EXPECT_FALSE(old.tls);
    EXPECT_EQ(old.queryValue(QStringLiteral("cid")), QString::number(ServiceFixtures::kDetailCID));
    ASSERT_EQ(requestsTo(kWeb).size(), 1);
    EXPECT_EQ(requestsTo(kWeb).first().queryValue(QStringLiteral("qn")), QStringLiteral("16"));
}

TEST_F(PlayURLTest, WhenTheTiersAndTheOldPlayHostAllFailTheTiersErrorIsTold)
{
    // Not the old system: with the bridge there, the old play host comes after the last tier.
    KRCompatibilityAIDMap::install(std::make_shared<EmptyAIDMap>());
    KRPlaybackInfoProvider::install(nullptr);
    for (const QString& path : {kWeb, QStringLiteral("/pgc/player/web/playurl")})
        fake.route(KRServiceHosts::apiHost(), path, [](const FakeRequest&) { return ServiceFixtures::serviceError(-10403, QStringLiteral("地区限制")); });
    fake.route(KRServiceHosts::oldPlayHost(), QStringLiteral("/playurl"), [](const FakeRequest&) { return ServiceFixtures::serviceError(-500, QStringLiteral("gone")); });
    const auto outcome = run<VideoRef>([&](auto done) { client()->loadPlayURLForVideo(archive(), liveOwner(), done); });
    expectError(outcome->error, -10403, QStringLiteral("地区限制"));
    EXPECT_FALSE(outcome->value);
    EXPECT_GT(runtimeLog().count(QStringLiteral("play-url-official-attempt")), 1) << "every tier is tried first";
    EXPECT_EQ(requestsTo(QStringLiteral("/playurl")).size(), 1);
    EXPECT_TRUE(runtimeLog().contains(QStringLiteral("currentCode=-10403 legacyDomain=KRAPIErrorDomain legacyCode=-500")));
}

} // namespace
