#include "support/FakeService.h"
#include "support/MakerFixtures.h"
#include "support/TestSupport.h"

#include "model/KRServiceHosts.h"
#include "platform/net/CookieStorage.h"
#include "service/KRUpdateChecker.h"

#include <gtest/gtest.h>

#include <memory>

using namespace testsupport;

namespace {

class UpdateCheckerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        service = std::make_unique<FakeService>(QStringList{MakerFixtures::host(), QStringLiteral("elsewhere.test")});
        checker()->resetForTesting();
    }
    void TearDown() override
    {
        // No reply of this test may reach the next one.
        waitUntil([] { return !checker()->isChecking(); });
        checker()->resetForTesting();
        platform::CookieStorage::shared().deleteAll();
        service.reset();
    }
    static KRUpdateChecker* checker() { return KRUpdateChecker::sharedChecker(); }

    // Runs one check to its end and answers the number of checks finished meanwhile.
    int runCheck()
    {
        int finished = 0;
        auto connection = QObject::connect(checker(), &KRUpdateChecker::checkFinished, [&] { ++finished; });
        checker()->checkForUpdates();
        EXPECT_TRUE(waitUntil([&] { return finished > 0; }));
        QObject::disconnect(connection);
        return finished;
    }

    std::unique_ptr<FakeService> service;
};

TEST_F(UpdateCheckerTest, OneCookielessGetAtATimeAndOnlyA200IsAManifest)
{
    MakerFixtures::routeManifest(*service, FakeReply{.body = R"({"payload":"e30=","signature":"c2ln"})", .delayMs = 200});
    // A cookie the jar would send to the maker's host, were cookies sent there.
    platform::CookieStorage::shared().setCookiesFromResponse(
        {QStringLiteral("track=1; Domain=") + MakerFixtures::host() + QStringLiteral("; Path=/")},
        QStringLiteral("https://") + MakerFixtures::host() + QStringLiteral("/"));

    int finished = 0;
    auto connection = QObject::connect(checker(), &KRUpdateChecker::checkFinished, [&] { ++finished; });
    checker()->checkForUpdates();
    checker()->checkForUpdates();
    EXPECT_TRUE(checker()->isChecking());
    checker()->checkForUpdates();
    KR_WAIT_UNTIL(finished == 1);
    QObject::disconnect(connection);

    ASSERT_EQ(MakerFixtures::manifestRequestCount(*service), 1);
    const FakeRequest request = service->requestsTo(MakerFixtures::manifestPath()).first();
    EXPECT_TRUE(request.tls);
    EXPECT_TRUE(request.header(QStringLiteral("Cookie")).isEmpty());
    EXPECT_FALSE(request.header(QStringLiteral("User-Agent")).isEmpty());
    ASSERT_TRUE(checker()->lastManifestBody().has_value());
    EXPECT_EQ(*checker()->lastManifestBody(), QByteArray(R"({"payload":"e30=","signature":"c2ln"})"));
    EXPECT_FALSE(checker()->lastError());

    // A later answer without a manifest reports its status and keeps nothing new.
    checker()->resetForTesting();
    MakerFixtures::routeManifest(*service, FakeReply::withStatus(404, "not here"));
    EXPECT_EQ(runCheck(), 1);
    ASSERT_TRUE(checker()->lastError());
    EXPECT_EQ(checker()->lastError()->code(), 404);
    EXPECT_FALSE(checker()->lastManifestBody());
    EXPECT_EQ(MakerFixtures::manifestRequestCount(*service), 2);
}

TEST_F(UpdateCheckerTest, RedirectsAreNotFollowedAndLargeBodiesRefused)
{
    service->routeJSON(QStringLiteral("elsewhere.test"), QStringLiteral("/latest.json"), R"({"payload":"x"})");
    MakerFixtures::routeManifest(*service, FakeReply::redirect(QStringLiteral("https://elsewhere.test/latest.json")));
    runCheck();
    ASSERT_TRUE(checker()->lastError());
    EXPECT_EQ(checker()->lastError()->code(), 302);
    EXPECT_FALSE(checker()->lastManifestBody());
    EXPECT_TRUE(service->requestsTo(QStringLiteral("/latest.json")).isEmpty());

    // 64 KiB is the most a manifest may be; one byte more is refused.
    MakerFixtures::routeManifest(*service, FakeReply{.body = QByteArray(65536, 'a')});
    runCheck();
    ASSERT_TRUE(checker()->lastManifestBody().has_value());
    EXPECT_EQ(checker()->lastManifestBody()->size(), 65536);
    checker()->resetForTesting();
    MakerFixtures::routeManifest(*service, FakeReply{.body = QByteArray(65537, 'a')});
    runCheck();
    ASSERT_TRUE(checker()->lastError());
    EXPECT_EQ(checker()->lastError()->code(), -1103);
    EXPECT_FALSE(checker()->lastManifestBody());
}

} // namespace
