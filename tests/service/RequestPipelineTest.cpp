#include "service/KRRequestPipeline.h"

#include "platform/net/CookieStorage.h"
#include "model/KRServiceHosts.h"
#include "store/KRSessionStore.h"
#include "support/FakeService.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

const QString kForeignHost = QStringLiteral("files.elsewhere.test");

struct Row {
    KRRequestKind kind;
    const char* name;
    bool carriesSession; // to an https address of the service, logged in
    bool sessionHeader;  // the session's own header, not only the shared storage's cookies
};

TEST(RequestPipeline, SessionCookiesGoOnlyToTheServicesOwnHttpsAddressesOnEveryKind)
{
    QStringList hosts = KRServiceHosts::allServiceHosts();
    hosts.append(kForeignHost);
    hosts.append(QStringLiteral("not") + KRServiceHosts::mainDomain());
    testsupport::FakeService fake(hosts);
    fake.routeJSON(QStringLiteral("*"), QStringLiteral("*"), QByteArray("{}"));

    platform::CookieStorage::shared().deleteAll();
    KRSessionStore& session = KRSessionStore::sharedStore();
    session.resetForTesting();
    platform::HTTPResponse login;
    login.status = 200;
    login.finalURL = QStringLiteral("https://") + KRServiceHosts::webHost() + QStringLiteral("/");
    const QString domain = QStringLiteral("; Domain=.") + KRServiceHosts::mainDomain() + QStringLiteral("; Path=/");
    login.headers.add(QStringLiteral("Set-Cookie"), QStringLiteral("SESSDATA=s3ssion") + domain + QStringLiteral("; Secure"));
    login.headers.add(QStringLiteral("Set-Cookie"), QStringLiteral("DedeUserID=4242") + domain);
    session.captureCookiesFromHTTPResponse(&login);
    ASSERT_TRUE(session.isLoggedIn());

    const QList<Row> rows{
        {KRRequestKind::WebJSON, "web JSON", true, true},
        {KRRequestKind::AppJSON, "app JSON", false, false},
        {KRRequestKind::Video, "video", true, false},
        {KRRequestKind::RecommendationFeed, "recommendation feed", true, true},
        {KRRequestKind::Danmaku, "danmaku", true, false},
        {KRRequestKind::RiskControlCookies, "risk-control cookies", true, true},
        {KRRequestKind::Image, "image", true, false},
        {KRRequestKind::RiskConfiguration, "risk configuration", true, false},
        {KRRequestKind::MediaDownload, "media download", false, false},
    };
    const QString path = QStringLiteral("/x/anything?a=1");
    const QList<QPair<QString, bool>> addresses{
        {QStringLiteral("https://") + KRServiceHosts::apiHost() + path, true},
        {QStringLiteral("https://") + KRServiceHosts::oldAPIHost() + path, true},
        {QStringLiteral("https://") + kForeignHost + path, false},
        // A foreign host whose name merely ends like the service's.
        {QStringLiteral("https://not") + KRServiceHosts::mainDomain() + path, false},
        {QStringLiteral("http://") + KRServiceHosts::apiHost() + path, false},
    };
    for (const Row& row : rows) {
        for (const auto& [url, serviceOwn] : addresses) {
            SCOPED_TRACE(std::string(row.name) + " " + url.toStdString());
            fake.clearRequests();
            platform::HTTPResponse response;
            std::thread worker([&, url = url] { response = KRRequestPipeline::perform(row.kind, url); });
            worker.join();
            ASSERT_EQ(fake.requests().size(), 1) << (response.error ? response.error->description().toStdString() : "");
            const QString cookie = fake.requests().first().header(QStringLiteral("Cookie"));
            // The shared storage holds the main domain's cookies only; the session's header goes
            // to either domain.
            const bool mainDomain = url.contains(QLatin1Char('.') + KRServiceHosts::mainDomain());
            if (serviceOwn && row.carriesSession && (row.sessionHeader || mainDomain)) {
                EXPECT_TRUE(cookie.contains(QStringLiteral("DedeUserID=4242"))) << cookie.toStdString();
            } else {
                EXPECT_TRUE(cookie.isNull()) << cookie.toStdString();
            }
        }
        // A request asked without the session carries none even where it could.
        fake.clearRequests();
        std::thread worker([&] { KRRequestPipeline::perform(row.kind, QStringLiteral("https://") + KRServiceHosts::apiHost() + path, false); });
        worker.join();
        ASSERT_EQ(fake.requests().size(), 1);
        EXPECT_TRUE(fake.requests().first().header(QStringLiteral("Cookie")).isNull()) << row.name;
    }
    session.clearSession();
}

} // namespace
