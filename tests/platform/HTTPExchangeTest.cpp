#include "platform/net/CookieStorage.h"
#include "platform/net/HTTPExchange.h"
#include "platform/net/NetworkSeams.h"
#include "support/FakeService.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QFile>

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

using namespace platform;
using testsupport::FakeReply;
using testsupport::FakeRequest;
using testsupport::FakeService;

namespace {

const QString kHost = QStringLiteral("api.net-tests.test");
const QString kSibling = QStringLiteral("www.net-tests.test");
const QString kStranger = QStringLiteral("elsewhere.test");

class HTTPExchangeTest : public ::testing::Test {
protected:
    void SetUp() override { CookieStorage::shared().deleteAll(); }
    void TearDown() override { CookieStorage::shared().deleteAll(); }

    static HTTPResponse get(const QString& url, bool cookies = true)
    {
        HTTPRequest request;
        request.url = url;
        request.handleCookies = cookies;
        return performHTTPExchange(request);
    }

    // A transport error with the platform's domain, code and fixed text, which must not
    // reveal where the request went.
    static void expectTransportError(const HTTPResponse& response, int code, const QString& url)
    {
        ASSERT_TRUE(response.error.has_value()) << "expected error " << code << ", got status " << response.status;
        EXPECT_EQ(response.error->domain(), QStringLiteral("NSURLErrorDomain"));
        EXPECT_EQ(response.error->code(), code) << response.error->description().toStdString();
        EXPECT_EQ(response.error->message(), URLError::message(code));
        EXPECT_FALSE(response.error->message().isEmpty());
        QString text = response.error->description();
        for (auto it = response.error->userInfo().cbegin(); it != response.error->userInfo().cend(); ++it)
            text += QLatin1Char(' ') + it.key() + QLatin1Char('=') + it.value().toString();
        const QUrl parsed(url);
        for (const QString& secret : {url, parsed.host(), parsed.path(), QStringLiteral("http")}) {
            if (!secret.isEmpty() && secret != QLatin1String("/")) {
                EXPECT_FALSE(text.contains(secret, Qt::CaseInsensitive)) << text.toStdString();
            }
        }
        EXPECT_FALSE(response.ok());
        EXPECT_EQ(response.status, 0);
        EXPECT_TRUE(response.body.isEmpty());
    }

    FakeService service{{kHost, kSibling, kStranger}};
};

int closedLoopbackPort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

} // namespace

TEST_F(HTTPExchangeTest, SendsRequestHeadersAndReadsTheAnswer)
{
    service.route(kHost, "/x/info", [](const FakeRequest&) {
        FakeReply reply = FakeReply::json(QByteArray(R"({"code":0})"));
        reply.header("X-Reply", "one").header("x-multi", "a").header("X-Multi", "b");
        return reply;
    });
    HTTPRequest request;
    request.url = "https://" + kHost + "/x/info?b=2&a=%E4%B8%AD%20x";
    request.headers.set("User-Agent", "Tester/1.0");
    request.headers.set("referer", "https://" + kSibling + "/");
    const HTTPResponse response = performHTTPExchange(request);

    ASSERT_TRUE(response.ok()) << response.error->description().toStdString();
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.body, QByteArray(R"({"code":0})"));
    EXPECT_EQ(response.finalURL, request.url);
    EXPECT_EQ(response.headers.value("x-reply"), "one");
    EXPECT_EQ(response.headers.value("CONTENT-TYPE"), "application/json");
    EXPECT_EQ(response.headers.values("X-MULTI"), QStringList({"a", "b"}));
    EXPECT_EQ(response.headers.value("x-multi"), "a, b");
    EXPECT_TRUE(response.headers.value("X-Absent").isNull());

    const QList<FakeRequest> seen = service.requestsTo("/x/info");
    ASSERT_EQ(seen.size(), 1);
    EXPECT_EQ(seen[0].method, "GET");
    EXPECT_EQ(seen[0].host, kHost);
    EXPECT_TRUE(seen[0].tls);
    EXPECT_EQ(seen[0].query, "b=2&a=%E4%B8%AD%20x");
    EXPECT_EQ(seen[0].queryValue("a"), QString::fromUtf8("中 x"));
    EXPECT_EQ(seen[0].queryItems.first().first, "b");
    EXPECT_EQ(seen[0].header("user-agent"), "Tester/1.0");
    EXPECT_EQ(seen[0].header("Referer"), "https://" + kSibling + "/");
    // Bodies are left as delivered: nothing asks for compression on the caller's behalf.
    EXPECT_FALSE(seen[0].headers.contains("Accept-Encoding"));
    EXPECT_FALSE(seen[0].headers.contains("Cookie"));
}

TEST_F(HTTPExchangeTest, SendsBodiesWithTheirMethodOverBothListeners)
{
    service.route("*", "/echo", [](const FakeRequest& request) {
        return FakeReply::text(request.method.toUtf8() + " " + request.body);
    });
    HTTPRequest post;
    post.method = "POST";
    post.url = "https://" + kHost + "/echo";
    post.body = QByteArray(5000, 'x'); // large enough that a client might wait for "100 Continue"
    post.headers.set("Content-Type", "application/x-www-form-urlencoded");
    HTTPResponse response = performHTTPExchange(post);
    ASSERT_TRUE(response.ok());
    EXPECT_EQ(response.body, "POST " + post.body);

    HTTPRequest put = post;
    put.method = "PUT";
    put.url = "http://" + kHost + "/echo";
    put.body = "k=v";
    response = performHTTPExchange(put);
    ASSERT_TRUE(response.ok());
    EXPECT_EQ(response.body, "PUT k=v");

    HTTPRequest head;
    head.method = "HEAD";
    head.url = "https://" + kHost + "/echo";
    response = performHTTPExchange(head);
    ASSERT_TRUE(response.ok());
    EXPECT_EQ(response.status, 200);
    EXPECT_TRUE(response.body.isEmpty());

    const QList<FakeRequest> seen = service.requestsTo("/echo");
    ASSERT_EQ(seen.size(), 3);
    EXPECT_TRUE(seen[0].tls);
    EXPECT_EQ(seen[0].body.size(), 5000);
    EXPECT_FALSE(seen[1].tls);
    EXPECT_EQ(seen[1].method, "PUT");
    EXPECT_EQ(seen[2].method, "HEAD");
}

TEST_F(HTTPExchangeTest, LeavesEncodedBodiesAsDelivered)
{
    const QByteArray deflated = QByteArray::fromHex("cb48cdc9c9070016");
    service.routeReply(kHost, "/dm",
                       FakeReply::text(deflated, "text/xml").header("Content-Encoding", "deflate"));
    service.routeReply(kHost, "/text", FakeReply::text(QByteArray(2000, 'z'), "text/plain"));
    HTTPRequest request;
    request.url = "https://" + kHost + "/dm";
    request.headers.set("Accept-Encoding", "gzip, deflate");
    HTTPResponse response = performHTTPExchange(request);
    ASSERT_TRUE(response.ok());
    EXPECT_EQ(response.body, deflated);
    EXPECT_EQ(response.headers.value("content-encoding"), "deflate");
    EXPECT_EQ(service.requestsTo("/dm").last().header("accept-encoding"), "gzip, deflate");
    // Nor does the fake service compress what a route answers.
    request.url = "https://" + kHost + "/text";
    response = performHTTPExchange(request);
    ASSERT_TRUE(response.ok());
    EXPECT_EQ(response.body, QByteArray(2000, 'z'));
    EXPECT_FALSE(response.headers.contains("Content-Encoding"));
}

TEST_F(HTTPExchangeTest, ReportsHTTPStatusesWithoutAnError)
{
    service.routeReply(kHost, "/missing", FakeReply::withStatus(412, "blocked"));
    const HTTPResponse response = get("https://" + kHost + "/missing");
    ASSERT_TRUE(response.ok());
    EXPECT_EQ(response.status, 412);
    EXPECT_EQ(response.body, "blocked");
    EXPECT_EQ(get("https://" + kHost + "/no-route").status, 404);
}

TEST_F(HTTPExchangeTest, CookieHandlingSendsAndStoresOnlyWhenOn)
{
    Cookie session;
    session.name = "SESS";
    session.value = "abc";
    session.domain = ".net-tests.test";
    CookieStorage::shared().setCookie(session);
    service.routeReply(kHost, "/login",
                       FakeReply::json(QByteArray("{}")).header("Set-Cookie", "fresh=1; Path=/; Domain=net-tests.test")
                           .header("Set-Cookie", "other=2"));

    HTTPResponse response = get("https://" + kHost + "/login", /*cookies*/ false);
    ASSERT_TRUE(response.ok());
    EXPECT_FALSE(service.requestsTo("/login").last().headers.contains("Cookie"));
    EXPECT_EQ(CookieStorage::shared().cookies().size(), 1); // the answer's cookies were not kept
    EXPECT_EQ(response.headers.values("set-cookie").size(), 2);

    response = get("https://" + kHost + "/login", /*cookies*/ true);
    ASSERT_TRUE(response.ok());
    EXPECT_EQ(service.requestsTo("/login").last().headers.values("Cookie"), QStringList({"SESS=abc"}));
    EXPECT_EQ(CookieStorage::shared().cookieHeaderForURL("https://" + kHost + "/login"), "SESS=abc; fresh=1; other=2");
    EXPECT_EQ(CookieStorage::shared().cookieHeaderForURL("https://" + kSibling + "/"), "SESS=abc; fresh=1");
}

TEST_F(HTTPExchangeTest, CallerCookieHeaderIsNeverDoubled)
{
    Cookie stored;
    stored.name = "jar";
    stored.value = "1";
    stored.domain = kHost;
    CookieStorage::shared().setCookie(stored);
    service.routeJSON(kHost, "/me", "{}");

    HTTPRequest request;
    request.url = "https://" + kHost + "/me";
    request.headers.set("cookie", "mine=2");
    ASSERT_TRUE(performHTTPExchange(request).ok());
    EXPECT_EQ(service.requestsTo("/me").last().headers.values("Cookie"), QStringList({"mine=2"}));
}

TEST_F(HTTPExchangeTest, FollowsRedirectsKeepingEachHopsCookies)
{
    service.routeReply(kHost, "/start",
                       FakeReply::redirect("/middle").header("Set-Cookie", "hop=1; Path=/"));
    service.routeReply(kHost, "/middle", FakeReply::redirect("https://" + kSibling + "/end?x=1", 301));
    service.route(kSibling, "/end", [](const FakeRequest& request) {
        return FakeReply::text("cookie=" + request.header("Cookie").toUtf8());
    });

    const HTTPResponse response = get("https://" + kHost + "/start");
    ASSERT_TRUE(response.ok());
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.finalURL, "https://" + kSibling + "/end?x=1");
    // The hop's cookie was host-only, so the last host does not get it.
    EXPECT_EQ(response.body, "cookie=");
    EXPECT_EQ(service.requestsTo("/middle").last().header("Cookie"), "hop=1");
    EXPECT_EQ(service.requests().size(), 3);
    EXPECT_EQ(CookieStorage::shared().cookies().size(), 1);
}

TEST_F(HTTPExchangeTest, LeavesRedirectsAloneWhenAsked)
{
    service.routeReply(kHost, "/start", FakeReply::redirect("/next").header("Set-Cookie", "hop=1"));
    service.routeJSON(kHost, "/next", "{}");
    HTTPRequest request;
    request.url = "https://" + kHost + "/start";
    request.followRedirects = false;
    const HTTPResponse response = performHTTPExchange(request);
    ASSERT_TRUE(response.ok());
    EXPECT_EQ(response.status, 302);
    EXPECT_EQ(response.headers.value("location"), "/next");
    EXPECT_EQ(response.finalURL, request.url);
    EXPECT_TRUE(service.requestsTo("/next").isEmpty());
    EXPECT_EQ(CookieStorage::shared().cookieHeaderForURL(request.url), "hop=1");
}

TEST_F(HTTPExchangeTest, RedirectMethodRules)
{
    service.routeReply(kHost, "/see-other", FakeReply::redirect("/target", 303));
    service.routeReply(kHost, "/temporary", FakeReply::redirect("/target", 307));
    service.route(kHost, "/target", [](const FakeRequest& request) {
        return FakeReply::text(request.method.toUtf8() + ":" + request.body);
    });
    HTTPRequest request;
    request.method = "POST";
    request.body = "a=1";
    request.url = "https://" + kHost + "/see-other";
    EXPECT_EQ(performHTTPExchange(request).body, "GET:");
    request.url = "https://" + kHost + "/temporary";
    EXPECT_EQ(performHTTPExchange(request).body, "POST:a=1");
}

TEST_F(HTTPExchangeTest, CredentialsOfTheCallerStayOnTheirSite)
{
    service.routeReply(kHost, "/out", FakeReply::redirect("https://" + kStranger + "/landing"));
    service.routeReply(kHost, "/in", FakeReply::redirect("https://" + kSibling + "/landing"));
    service.routeJSON("*", "/landing", "{}");
    HTTPRequest request;
    request.url = "https://" + kHost + "/out";
    request.headers.set("Cookie", "SESS=secret");
    request.headers.set("Authorization", "Bearer secret");
    request.headers.set("X-Kept", "yes");
    ASSERT_TRUE(performHTTPExchange(request).ok());
    request.url = "https://" + kHost + "/in";
    ASSERT_TRUE(performHTTPExchange(request).ok());

    const QList<FakeRequest> landed = service.requestsTo("/landing");
    ASSERT_EQ(landed.size(), 2);
    EXPECT_EQ(landed[0].host, kStranger);
    EXPECT_FALSE(landed[0].headers.contains("Cookie"));
    EXPECT_FALSE(landed[0].headers.contains("Authorization"));
    EXPECT_EQ(landed[0].header("X-Kept"), "yes");
    EXPECT_EQ(landed[1].host, kSibling);
    EXPECT_EQ(landed[1].header("Cookie"), "SESS=secret");
}

TEST_F(HTTPExchangeTest, EndlessRedirectsEndWithAnError)
{
    service.routeReply(kHost, "/loop", FakeReply::redirect("/loop"));
    const QString url = "https://" + kHost + "/loop";
    expectTransportError(get(url), URLError::HTTPTooManyRedirects, url);
    EXPECT_EQ(service.requestsTo("/loop").size(), 11);
}

TEST_F(HTTPExchangeTest, TimeOutIsAnIdleLimit)
{
    FakeReply stalled = FakeReply::json(QByteArray(R"({"code":0,"data":"long"})"));
    stalled.stall = true;
    stalled.cutBodyAt = 5;
    service.routeReply(kHost, "/stall", stalled);
    HTTPRequest request;
    request.url = "https://" + kHost + "/stall";
    request.timeoutSeconds = 1;
    QElapsedTimer clock;
    clock.start();
    const HTTPResponse response = performHTTPExchange(request);
    expectTransportError(response, URLError::TimedOut, request.url);
    EXPECT_LT(clock.elapsed(), 8000);

    FakeReply late = FakeReply::json(QByteArray("{}"));
    late.delayMs = 4000;
    service.routeReply(kHost, "/late", late);
    request.url = "https://" + kHost + "/late";
    expectTransportError(performHTTPExchange(request), URLError::TimedOut, request.url);
}

TEST_F(HTTPExchangeTest, RefusedPortCannotConnect)
{
    const QString url = QStringLiteral("https://127.0.0.1:%1/x").arg(closedLoopbackPort());
    expectTransportError(get(url), URLError::CannotConnectToHost, url);
}

TEST_F(HTTPExchangeTest, HostsOutsideTheSeamAreNotFound)
{
    const QString url = QStringLiteral("https://nohost.invalid/path?token=secret");
    expectTransportError(get(url), URLError::CannotFindHost, url);
    // A listed host on a port that is not listed goes nowhere either.
    const QString other = "https://" + kHost + ":8443/x";
    expectTransportError(get(other), URLError::CannotFindHost, other);
}

TEST_F(HTTPExchangeTest, LostConnectionsAreReportedAsSuch)
{
    FakeReply cut = FakeReply::json(QByteArray(R"({"code":0,"data":[1,2,3]})"));
    cut.cutBodyAt = 4;
    service.routeReply("*", "/cut", cut);
    FakeReply silent;
    silent.closeWithoutReply = true;
    service.routeReply("*", "/silent", silent);
    for (const QString& scheme : {QStringLiteral("https"), QStringLiteral("http")}) {
        const QString cutURL = scheme + "://" + kHost + "/cut";
        expectTransportError(get(cutURL), URLError::NetworkConnectionLost, cutURL);
        const QString silentURL = scheme + "://" + kHost + "/silent";
        expectTransportError(get(silentURL), URLError::NetworkConnectionLost, silentURL);
    }
}

TEST_F(HTTPExchangeTest, UntrustedCertificatesFail)
{
    const QStringList seams = NetworkSeams::connectTo();
    service.routeJSON("*", "/x", "{}");
    const QString url = "https://" + kHost + "/x";
    ASSERT_TRUE(get(url).ok());

    // The certificate does not name this host.
    NetworkSeams::setConnectTo(NetworkSeams::connectTo()
                               << QStringLiteral("unnamed.test:443:127.0.0.1:%1").arg(service.httpsPort()));
    const QString unnamed = QStringLiteral("https://unnamed.test/x");
    expectTransportError(get(unnamed), URLError::ServerCertificateUntrusted, unnamed);

    // A TLS handshake with a plain HTTP listener.
    NetworkSeams::setConnectTo(NetworkSeams::connectTo()
                               << QStringLiteral("plain.test:443:127.0.0.1:%1").arg(service.httpPort()));
    const QString plain = QStringLiteral("https://plain.test/x");
    expectTransportError(get(plain), URLError::SecureConnectionFailed, plain);

    // Trusting some other authority instead does not let the server through either.
    QFile system("/etc/ssl/certs/ca-certificates.crt");
    if (system.open(QIODevice::ReadOnly)) {
        const QByteArray bundle = system.readAll();
        const QByteArray endMarker = "-----END CERTIFICATE-----";
        const QString other = testsupport::testHome() + "/other-ca.pem";
        QFile otherFile(other);
        ASSERT_TRUE(otherFile.open(QIODevice::WriteOnly));
        otherFile.write(bundle.left(bundle.indexOf(endMarker) + endMarker.size()) + "\n");
        otherFile.close();
        NetworkSeams::setExtraCAFile(other);
        expectTransportError(get(url), URLError::ServerCertificateUntrusted, url);
    }

    // Without the test authority the system's own authorities do not know the server.
    NetworkSeams::setExtraCAFile(QString());
    expectTransportError(get(url), URLError::ServerCertificateUntrusted, url);
    NetworkSeams::setExtraCAFile(service.caFile());
    EXPECT_TRUE(get(url).ok());
    NetworkSeams::setConnectTo(seams);
}

TEST_F(HTTPExchangeTest, CancellationEndsAStalledExchange)
{
    FakeReply stalled = FakeReply::json(QByteArray("{}"));
    stalled.stall = true;
    service.routeReply(kHost, "/stall", stalled);
    const QString url = "https://" + kHost + "/stall";

    std::atomic_bool cancelled{false};
    HTTPResponse response;
    std::atomic_bool finished{false};
    std::thread worker([&] {
        HTTPRequest request;
        request.url = url;
        response = performHTTPExchange(request, &cancelled);
        finished = true;
    });
    KR_WAIT_UNTIL(service.requestsTo("/stall").size() == 1);
    cancelled = true;
    const bool ended = testsupport::waitUntil([&] { return finished.load(); }, std::chrono::seconds(5));
    worker.join();
    ASSERT_TRUE(ended);
    expectTransportError(response, URLError::Cancelled, url);

    // Already cancelled: nothing goes out.
    service.clearRequests();
    HTTPRequest request;
    request.url = url;
    expectTransportError(performHTTPExchange(request, &cancelled), URLError::Cancelled, url);
    EXPECT_TRUE(service.requests().isEmpty());
}

TEST_F(HTTPExchangeTest, RejectsAddressesAndFieldsItCannotSendSafely)
{
    for (const QString& url : {QString("ftp://" + kHost + "/file"), QStringLiteral("file:///etc/passwd"),
                               QString("gopher://" + kHost + "/")})
        expectTransportError(get(url), URLError::UnsupportedURL, url);
    for (const QString& url : {QString(), QStringLiteral("not an address"), QStringLiteral("https:///nohost")})
        expectTransportError(get(url), URLError::BadURL, url);

    service.routeJSON(kHost, "/x", "{}");
    HTTPRequest request;
    request.url = "https://" + kHost + "/x";
    request.headers.set("X-Evil", "a\r\nX-Injected: 1");
    expectTransportError(performHTTPExchange(request), URLError::BadURL, request.url);
    EXPECT_TRUE(service.requests().isEmpty());
}

TEST_F(HTTPExchangeTest, BodyLimit)
{
    service.routeReply(kHost, "/big", FakeReply::text(QByteArray(100, 'b')));
    HTTPRequest request;
    request.url = "https://" + kHost + "/big";
    request.maxBodyBytes = 10;
    expectTransportError(performHTTPExchange(request), URLError::DataLengthExceedsMaximum, request.url);
    request.maxBodyBytes = 100;
    const HTTPResponse response = performHTTPExchange(request);
    ASSERT_TRUE(response.ok());
    EXPECT_EQ(response.body.size(), 100);
}

TEST_F(HTTPExchangeTest, ManyThreadsExchangeAtOnce)
{
    service.route(kHost, "/n", [](const FakeRequest& request) { return FakeReply::text(request.query.toUtf8()); });
    std::atomic_int good{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 10; ++i) {
                const QString query = QStringLiteral("t=%1&i=%2").arg(t).arg(i);
                const HTTPResponse response = get("https://" + kHost + "/n?" + query);
                if (response.ok() && response.body == query.toUtf8())
                    ++good;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(good.load(), 60);
    EXPECT_EQ(service.requestsTo("/n").size(), 60);
}

TEST(FakeServiceLifetime, StopsPromptlyWithStalledAndIdleConnections)
{
    auto service = std::make_unique<FakeService>(QStringList{kHost});
    FakeReply stalled;
    stalled.stall = true;
    service->routeReply(kHost, "/stall", stalled);
    service->routeJSON(kHost, "/ok", "{}");
    HTTPRequest ok;
    ok.url = "https://" + kHost + "/ok";
    ASSERT_TRUE(performHTTPExchange(ok).ok()); // leaves an idle keep-alive connection

    HTTPResponse stalledResponse;
    std::thread worker([&] {
        HTTPRequest request;
        request.url = "https://" + kHost + "/stall";
        request.timeoutSeconds = 30;
        stalledResponse = performHTTPExchange(request);
    });
    KR_WAIT_UNTIL(service->requestsTo("/stall").size() == 1);
    const QStringList seams = NetworkSeams::connectTo();
    EXPECT_EQ(seams.size(), 2);
    QElapsedTimer clock;
    clock.start();
    service.reset();
    EXPECT_LT(clock.elapsed(), 1500);
    worker.join();
    EXPECT_FALSE(stalledResponse.ok());
    EXPECT_TRUE(NetworkSeams::connectTo().isEmpty());
    EXPECT_TRUE(NetworkSeams::extraCAFile().isEmpty());
}

TEST(URLError, UsesThePlatformsTexts)
{
    EXPECT_EQ(URLError::domain(), "NSURLErrorDomain");
    EXPECT_EQ(URLError::message(-1001), QString::fromUtf8("请求超时。"));
    EXPECT_EQ(URLError::message(-1003), QString::fromUtf8("未能找到使用指定主机名的服务器。"));
    EXPECT_EQ(URLError::message(-1004), QString::fromUtf8("未能连接到服务器。"));
    EXPECT_EQ(URLError::message(-1005), QString::fromUtf8("网络连接已中断。"));
    EXPECT_EQ(URLError::message(-1009), QString::fromUtf8("似乎已断开与互联网的连接。"));
    EXPECT_EQ(URLError::message(-1200), QString::fromUtf8("发生了 SSL 错误，无法建立与该服务器的安全连接。"));
    EXPECT_EQ(URLError::message(-1202), QString::fromUtf8("此服务器的证书无效。"));
    EXPECT_EQ(URLError::message(-999), QString::fromUtf8("已取消"));
    EXPECT_EQ(URLError::message(-1002), QString::fromUtf8("不支持的 URL"));
    EXPECT_EQ(URLError::message(-1000), QString::fromUtf8("错误的 URL"));
    const Error error = URLError::make(-1001);
    EXPECT_TRUE(error.is("NSURLErrorDomain", -1001));
    EXPECT_EQ(error.message(), URLError::message(-1001));
}
