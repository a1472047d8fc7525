#include "platform/net/ConnectToFence.h"
#include "platform/net/CookieStorage.h"
#include "platform/net/HTTPExchange.h"
#include "platform/net/NetworkSeams.h"
#include "platform/net/TrustStore.h"
#include "support/FakeService.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <thread>
#include <tuple>

using namespace platform;
using testsupport::FakeReply;
using testsupport::FakeRequest;
using testsupport::FakeService;

namespace {

const QString kHost = QStringLiteral("api.net-tests.test");
const QString kSibling = QStringLiteral("www.net-tests.test");
const QString kStranger = QStringLiteral("elsewhere.test");
// Two sites under a public suffix of two labels.
const QString kSuffixSite = QStringLiteral("korvane-net.co.uk");
const QString kSuffixNeighbour = QStringLiteral("neighbour-net.co.uk");

HTTPResponse get(const QString& url, bool cookies = true)
{
    HTTPRequest request;
    request.url = url;
    request.handleCookies = cookies;
    return performHTTPExchange(request);
}

// A transport error with the platform's domain, code and fixed Chinese text, which must not
// reveal where the request went (addresses carry tokens).
void expectTransportError(const HTTPResponse& response, int code, const QString& url)
{
    ASSERT_TRUE(response.error.has_value()) << "expected " << code << ", got status " << response.status;
    EXPECT_EQ(response.error->domain(), QStringLiteral("NSURLErrorDomain"));
    EXPECT_EQ(response.error->code(), code) << url.toStdString();
    EXPECT_EQ(response.error->message(), URLError::message(code));
    EXPECT_NE(response.error->message(), URLError::message(URLError::Unknown));
    QString text = response.error->description();
    for (auto it = response.error->userInfo().cbegin(); it != response.error->userInfo().cend(); ++it)
        text += QLatin1Char(' ') + it.value().toString();
    const QUrl parsed(url);
    for (const QString& secret : {url, parsed.host(), parsed.path(), QStringLiteral("http")}) {
        EXPECT_TRUE(secret.size() < 2 || !text.contains(secret, Qt::CaseInsensitive)) << text.toStdString();
    }
    EXPECT_EQ(response.status, 0);
    EXPECT_TRUE(response.body.isEmpty());
}

class HTTPExchangeTest : public ::testing::Test {
protected:
    void SetUp() override { CookieStorage::shared().deleteAll(); }
    void TearDown() override { CookieStorage::shared().deleteAll(); }

    FakeService service{{kHost, kSibling, kStranger, kSuffixSite, kSuffixNeighbour}};
};

} // namespace

TEST_F(HTTPExchangeTest, SendsTheRequestAndReadsTheAnswerAsDelivered)
{
    const QByteArray deflated = QByteArray::fromHex("cb48cdc9c9070016");
    service.routeReply(kHost, "/x/info", FakeReply::text(deflated, "text/xml")
                                             .header("Content-Encoding", "deflate")
                                             .header("x-multi", "a")
                                             .header("X-Multi", "b"));
    service.routeReply(kHost, "/blocked", FakeReply::withStatus(412, "blocked"));
    HTTPRequest request;
    request.url = "https://" + kHost + "/x/info?b=2&a=%E4%B8%AD%20x";
    request.headers.set("User-Agent", "Tester/1.0");
    request.headers.set("referer", "https://" + kSibling + "/");
    const HTTPResponse response = performHTTPExchange(request);

    ASSERT_TRUE(response.ok()) << response.error->description().toStdString();
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.body, deflated) << "nothing undoes a compression the caller did not ask about";
    EXPECT_EQ(response.finalURL, request.url);
    EXPECT_EQ(response.headers.value("CONTENT-ENCODING"), "deflate");
    EXPECT_EQ(response.headers.values("X-MULTI"), QStringList({"a", "b"}));
    EXPECT_EQ(response.headers.value("x-multi"), "a, b");
    EXPECT_TRUE(response.headers.value("X-Absent").isNull());

    const FakeRequest seen = service.requestsTo("/x/info").value(0);
    EXPECT_EQ(seen.method, "GET");
    EXPECT_EQ(seen.host, kHost);
    EXPECT_TRUE(seen.tls);
    EXPECT_EQ(seen.query, "b=2&a=%E4%B8%AD%20x") << "an encoded address goes out byte for byte";
    EXPECT_EQ(seen.queryValue("a"), QString::fromUtf8("中 x"));
    EXPECT_EQ(seen.header("user-agent"), "Tester/1.0");
    EXPECT_EQ(seen.header("Referer"), "https://" + kSibling + "/");
    EXPECT_FALSE(seen.headers.contains("Accept-Encoding"));
    EXPECT_FALSE(seen.headers.contains("Cookie"));

    // HTTP failures are answers, not transport errors.
    const HTTPResponse blocked = get("https://" + kHost + "/blocked");
    EXPECT_TRUE(blocked.ok());
    EXPECT_EQ(blocked.status, 412);
    EXPECT_EQ(blocked.body, "blocked");
    EXPECT_EQ(get("https://" + kHost + "/no-route").status, 404);
}

TEST_F(HTTPExchangeTest, SendsBodiesWithTheirMethodOverBothListeners)
{
    service.route("*", "/echo", [](const FakeRequest& request) {
        return FakeReply::text(request.method.toUtf8() + (request.tls ? " tls " : " plain ") + request.body);
    });
    HTTPRequest request{"POST", "https://" + kHost + "/echo", {}, QByteArray(5000, 'x')};
    EXPECT_EQ(performHTTPExchange(request).body, "POST tls " + request.body);
    request = HTTPRequest{"PUT", "http://" + kHost + "/echo", {}, "k=v"};
    EXPECT_EQ(performHTTPExchange(request).body, "PUT plain k=v");
    request.method = "HEAD";
    const HTTPResponse head = performHTTPExchange(request);
    EXPECT_EQ(head.status, 200);
    EXPECT_TRUE(head.body.isEmpty());
}

TEST_F(HTTPExchangeTest, CookiesTravelOnlyWithCookieHandlingAndNeverTwice)
{
    Cookie session;
    session.name = "SESS";
    session.value = "abc";
    session.domain = ".net-tests.test";
    CookieStorage::shared().setCookie(session);
    service.routeReply(kHost, "/login", FakeReply::json(QByteArray("{}"))
                                            .header("Set-Cookie", "fresh=1; Path=/; Domain=net-tests.test")
                                            .header("Set-Cookie", "other=2")
                                            .header("Set-Cookie", "everyone=3; Path=/; Domain=test"));
    const QString url = "https://" + kHost + "/login";

    const HTTPResponse off = get(url, /*cookies*/ false);
    EXPECT_FALSE(service.requestsTo("/login").last().headers.contains("Cookie"));
    EXPECT_EQ(CookieStorage::shared().cookies().size(), 1) << "the answer's cookies were not kept";
    EXPECT_EQ(off.headers.values("set-cookie").size(), 3);

    ASSERT_TRUE(get(url, /*cookies*/ true).ok());
    EXPECT_EQ(service.requestsTo("/login").last().headers.values("Cookie"), QStringList({"SESS=abc"}));
    EXPECT_EQ(CookieStorage::shared().cookieHeaderForURL(url), "SESS=abc; fresh=1; other=2");
    EXPECT_EQ(CookieStorage::shared().cookieHeaderForURL("https://" + kSibling + "/"), "SESS=abc; fresh=1");
    EXPECT_TRUE(CookieStorage::shared().cookieHeaderForURL("https://" + kStranger + "/").isNull())
        << "no cookie for the public suffix itself";

    HTTPRequest own;
    own.url = url;
    own.headers.set("cookie", "mine=2");
    ASSERT_TRUE(performHTTPExchange(own).ok());
    EXPECT_EQ(service.requestsTo("/login").last().headers.values("Cookie"), QStringList({"mine=2"}));
}

TEST_F(HTTPExchangeTest, RedirectsKeepEachHopsCookiesAndTheCallersCredentialsStayOnTheirSite)
{
    service.routeReply(kHost, "/start", FakeReply::redirect("/middle").header("Set-Cookie", "hop=1; Path=/"));
    service.routeReply(kHost, "/middle", FakeReply::redirect("https://" + kSibling + "/end?x=1", 301));
    service.routeReply(kHost, "/see-other", FakeReply::redirect("https://" + kStranger + "/end", 303));
    service.routeReply(kHost, "/temporary", FakeReply::redirect("https://" + kSibling + "/end", 307));
    service.routeReply(kHost, "/downgrade", FakeReply::redirect("http://" + kHost + "/end", 307));
    service.routeReply(kSuffixSite, "/next-door", FakeReply::redirect("https://" + kSuffixNeighbour + "/end", 307));
    service.routeReply(kSuffixSite, "/own-subdomain", FakeReply::redirect("https://" + kSuffixSite + "/end", 307));
    service.routeReply(kHost, "/loop", FakeReply::redirect("/loop"));
    service.route("*", "/end", [](const FakeRequest& request) {
        return FakeReply::text(QStringList({request.method, request.body, request.header("Cookie"),
                                            request.header("Authorization"), request.header("X-Kept")})
                                   .join(':').toUtf8());
    });

    HTTPRequest request;
    request.url = "https://" + kHost + "/start";
    request.followRedirects = false;
    HTTPResponse response = performHTTPExchange(request);
    EXPECT_EQ(response.status, 302);
    EXPECT_EQ(response.headers.value("location"), "/middle");
    EXPECT_EQ(response.finalURL, request.url);
    EXPECT_TRUE(service.requestsTo("/middle").isEmpty());
    EXPECT_EQ(CookieStorage::shared().cookieHeaderForURL(request.url), "hop=1");

    CookieStorage::shared().deleteAll();
    response = get(request.url);
    EXPECT_EQ(response.finalURL, "https://" + kSibling + "/end?x=1");
    EXPECT_EQ(service.requestsTo("/middle").last().header("Cookie"), "hop=1") << "stored from the first hop";
    EXPECT_EQ(response.body, "GET::::") << "the hop's cookie was host-only";

    // 303 turns a POST into a GET; 307 keeps it. Credentials go to a sibling host of the same
    // site, never to another site.
    request = HTTPRequest{"POST", "https://" + kHost + "/see-other", {}, "a=1"};
    request.headers.set("Cookie", "SESS=secret");
    request.headers.set("Authorization", "Bearer secret");
    request.headers.set("X-Kept", "yes");
    EXPECT_EQ(performHTTPExchange(request).body, "GET::::yes");
    request.url = "https://" + kHost + "/temporary";
    EXPECT_EQ(performHTTPExchange(request).body, "POST:a=1:SESS=secret:Bearer secret:yes");
    // Two sites that share only a public suffix are not one site; nor are credentials sent
    // in clear text once the exchange began over TLS.
    const std::pair<QString, QString> hops[] = {
        {"https://" + kSuffixSite + "/own-subdomain", "POST:a=1:SESS=secret:Bearer secret:yes"},
        {"https://" + kSuffixSite + "/next-door", "POST:a=1:::yes"},
        {"https://" + kHost + "/downgrade", "POST:a=1:::yes"},
    };
    CookieStorage::shared().deleteAll();
    for (const auto& [url, seen] : hops) {
        request.url = url;
        EXPECT_EQ(QString::fromUtf8(performHTTPExchange(request).body), seen) << url.toStdString();
    }

    const QString loop = "https://" + kHost + "/loop";
    expectTransportError(get(loop), URLError::HTTPTooManyRedirects, loop);
    EXPECT_EQ(service.requestsTo("/loop").size(), 11);
}

TEST_F(HTTPExchangeTest, EachTransportFailureHasItsCode)
{
    service.routeReply(kHost, "/stall", FakeReply{.body = R"({"code":0,"data":"long"})", .stall = true, .cutBodyAt = 5});
    service.routeReply(kHost, "/late", FakeReply{.body = "{}", .delayMs = 4000});
    service.routeReply("*", "/cut", FakeReply{.body = R"({"code":0,"data":[1,2,3]})", .cutBodyAt = 4});
    service.routeReply("*", "/silent", FakeReply{.closeWithoutReply = true});
    service.routeReply(kHost, "/big", FakeReply::text(QByteArray(100, 'b')));
    const QString https = "https://" + kHost, http = "http://" + kHost;
    FakeService gone({"gone.test"});
    const int closedPort = gone.httpsPort();
    gone.stop();
    // A certificate that does not name the host; a TLS handshake with the plain listener.
    const QStringList seams = NetworkSeams::connectTo();
    NetworkSeams::setConnectTo(seams + QStringList{QStringLiteral("unnamed.test:443:127.0.0.1:%1").arg(service.httpsPort()),
                                                   QStringLiteral("plain.test:443:127.0.0.1:%1").arg(service.httpPort())});

    struct Case {
        QString url;
        int code;
        qint64 maxBodyBytes = -1;
    };
    const Case cases[] = {
        {https + "/stall?token=secret", URLError::TimedOut},  // falls silent after a few bytes
        {https + "/late", URLError::TimedOut},                // says nothing within the limit
        {QStringLiteral("https://127.0.0.1:%1/x").arg(closedPort), URLError::CannotConnectToHost},
        {QStringLiteral("https://nohost.invalid/path?token=secret"), URLError::CannotFindHost},  // outside the seam
        {https + ":8443/x", URLError::CannotFindHost},  // a listed host on a port that is not listed
        {https + "/cut", URLError::NetworkConnectionLost},
        {http + "/cut", URLError::NetworkConnectionLost},
        {https + "/silent", URLError::NetworkConnectionLost},
        {http + "/silent", URLError::NetworkConnectionLost},
        {"ftp://" + kHost + "/file", URLError::UnsupportedURL},
        {QStringLiteral("file:///etc/passwd"), URLError::UnsupportedURL},
        {QString(), URLError::BadURL},
        {QStringLiteral("not an address"), URLError::BadURL},
        {QStringLiteral("https:///nohost"), URLError::BadURL},
        {https + "/big", URLError::DataLengthExceedsMaximum, 99},
        {QStringLiteral("https://unnamed.test/x"), URLError::ServerCertificateUntrusted},
        {QStringLiteral("https://plain.test/x"), URLError::SecureConnectionFailed},
    };
    for (const Case& c : cases) {
        HTTPRequest request;
        request.url = c.url;
        request.timeoutSeconds = 1;
        request.maxBodyBytes = c.maxBodyBytes;
        QElapsedTimer clock;
        clock.start();
        expectTransportError(performHTTPExchange(request), c.code, c.url);
        EXPECT_LT(clock.elapsed(), 8000) << "the time-out is an idle limit kept on time: " << c.url.toStdString();
    }
    NetworkSeams::setConnectTo(seams);
    HTTPRequest request;
    request.url = https + "/big";
    request.maxBodyBytes = 100;
    EXPECT_EQ(performHTTPExchange(request).body.size(), 100);

    // A header that would smuggle in another header goes nowhere.
    request.headers.set("X-Evil", "a\r\nX-Injected: 1");
    service.clearRequests();
    expectTransportError(performHTTPExchange(request), URLError::BadURL, request.url);
    EXPECT_TRUE(service.requests().isEmpty());
}

TEST_F(HTTPExchangeTest, TheSystemsOwnAuthoritiesDoNotKnowTheTestAuthority)
{
    service.routeJSON("*", "/x", "{}");
    const QString url = "https://" + kHost + "/x";
    ASSERT_TRUE(get(url).ok());
    NetworkSeams::setExtraCAFile(QString());
    expectTransportError(get(url), URLError::ServerCertificateUntrusted, url);
    NetworkSeams::setExtraCAFile(service.caFile());
    EXPECT_TRUE(get(url).ok());
}

TEST_F(HTTPExchangeTest, AnAuthorityFileRewrittenInPlaceIsReadAgain)
{
    service.routeJSON("*", "/x", "{}");
    const QString url = "https://" + kHost + "/x";
    QFile ours(service.caFile());
    ASSERT_TRUE(ours.open(QIODevice::ReadOnly));
    const QByteArray ourAuthority = ours.readAll();
    // The system's authorities, none of which signed this service's certificate.
    const QByteArray otherAuthority = TrustStore::systemAuthoritiesPEM();
    ASSERT_NE(ourAuthority, otherAuthority);
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("authority.pem"));
    // Each version gets a modification time of its own, as a later write would.
    const QDateTime start = QDateTime::currentDateTimeUtc().addSecs(-100);
    int version = 0;
    auto write = [&](const QByteArray& pem) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(pem), pem.size());
        ASSERT_TRUE(file.setFileTime(start.addSecs(++version), QFileDevice::FileModificationTime));
    };
    const QString previous = NetworkSeams::extraCAFile();
    NetworkSeams::setExtraCAFile(path);
    write(otherAuthority);
    expectTransportError(get(url), URLError::ServerCertificateUntrusted, url);
    write(ourAuthority);
    EXPECT_TRUE(get(url).ok());
    EXPECT_TRUE(get(url).ok());
    write(otherAuthority);
    expectTransportError(get(url), URLError::ServerCertificateUntrusted, url);
    ASSERT_TRUE(QFile::remove(path));
    expectTransportError(get(url), URLError::ServerCertificateUntrusted, url);
    write(ourAuthority);
    EXPECT_TRUE(get(url).ok());
    NetworkSeams::setExtraCAFile(previous);
    EXPECT_TRUE(get(url).ok());
}

TEST_F(HTTPExchangeTest, CancellationEndsAStalledExchange)
{
    service.routeReply(kHost, "/stall", FakeReply{.body = "{}", .stall = true});
    HTTPRequest request;
    request.url = "https://" + kHost + "/stall";

    std::atomic_bool cancelled{false}, finished{false};
    HTTPResponse response;
    std::thread worker([&] {
        response = performHTTPExchange(request, &cancelled);
        finished = true;
    });
    KR_WAIT_UNTIL(service.requestsTo("/stall").size() == 1);
    cancelled = true;
    const bool ended = testsupport::waitUntil([&] { return finished.load(); }, std::chrono::seconds(5));
    worker.join();
    ASSERT_TRUE(ended);
    expectTransportError(response, URLError::Cancelled, request.url);

    // Already cancelled: nothing goes out.
    expectTransportError(performHTTPExchange(request, &cancelled), URLError::Cancelled, request.url);
    EXPECT_EQ(service.requestsTo("/stall").size(), 1);
}

TEST_F(HTTPExchangeTest, AThreadNewToTheWorkFindsTheConnectionOthersLeftButNeverOneInUse)
{
    service.routeJSON(kHost, "/x/ping", "{}");
    service.routeReply(kHost, "/stall", FakeReply{.body = "{}", .stall = true});
    const QString ping = "https://" + kHost + "/x/ping";
    auto onThreadOfItsOwn = [&] {
        HTTPResponse response;
        std::thread([&] { response = get(ping); }).join();
        return response;
    };
    ASSERT_EQ(onThreadOfItsOwn().status, 200);
    ASSERT_EQ(onThreadOfItsOwn().status, 200);
    QList<FakeRequest> pings = service.requestsTo("/x/ping");
    ASSERT_EQ(pings.size(), 2);
    EXPECT_NE(pings[0].clientPort, 0);
    EXPECT_EQ(pings[1].clientPort, pings[0].clientPort) << "the second thread opened a connection of its own";

    // A connection busy with a stalled exchange is not lent to another one.
    std::atomic_bool cancelled{false};
    HTTPRequest stalled;
    stalled.url = "https://" + kHost + "/stall";
    std::thread holder([&] { performHTTPExchange(stalled, &cancelled); });
    KR_WAIT_UNTIL(service.requestsTo("/stall").size() == 1);
    const HTTPResponse beside = get(ping);
    cancelled = true;
    holder.join();
    EXPECT_EQ(beside.status, 200);
    pings = service.requestsTo("/x/ping");
    ASSERT_EQ(pings.size(), 3);
    EXPECT_NE(pings[2].clientPort, service.requestsTo("/stall").value(0).clientPort);

    // Many threads at once each get a handle of their own.
    std::atomic_int answered{0};
    std::vector<std::thread> workers;
    for (int i = 0; i < 6; ++i)
        workers.emplace_back([&] {
            for (int j = 0; j < 5; ++j)
                answered += get(ping).status == 200 ? 1 : 0;
        });
    for (std::thread& worker : workers)
        worker.join();
    EXPECT_EQ(answered.load(), 30);
}

TEST(ConnectToFence, OnlyListedPairsAndLoopbackAddressesPassWhileEntriesAreSet)
{
    const ConnectToFence open({});
    EXPECT_TRUE(open.allows("anywhere.test", 443));
    const ConnectToFence fence({"api.zantorel.test:443:127.0.0.1:4000", ":80:127.0.0.1:4001", "[::1]:8443:127.0.0.1:4002"});
    const std::tuple<const char*, int, bool> cases[] = {
        {"api.zantorel.test", 443, true},   {"API.zantorel.test", 443, true}, {"api.zantorel.test", 8443, false},
        {"www.zantorel.test", 80, true},    {"www.zantorel.test", 443, false}, {"::1", 1, true},
        {"127.0.0.1", 9, true},             {"127.255.0.255", 9, true},        {"localhost", 9, true},
        {"127.evil.example.test", 443, false},  {"127.0.0.1.example.test", 443, false},
        {"127.0.0.256", 443, false},        {"127.0.0", 443, false},           {"127.0.0.+1", 443, false},
    };
    for (const auto& [host, port, allowed] : cases)
        EXPECT_EQ(fence.allows(host, port), allowed) << host << ":" << port;

    // Where a covered pair goes; an empty connect part keeps the original.
    using Target = std::optional<std::pair<QString, int>>;
    EXPECT_EQ(fence.connectTarget("API.zantorel.test", 443), Target({"127.0.0.1", 4000}));
    EXPECT_EQ(fence.connectTarget("any.zantorel.test", 80), Target({"127.0.0.1", 4001}));
    EXPECT_EQ(fence.connectTarget("::1", 8443), Target({"127.0.0.1", 4002}));
    EXPECT_EQ(fence.connectTarget("api.zantorel.test", 8443), std::nullopt);
    EXPECT_EQ(ConnectToFence({"a.test:443::"}).connectTarget("a.test", 443), Target({"a.test", 443}));
    EXPECT_EQ(ConnectToFence({"a.test:443:[::1]:9"}).connectTarget("a.test", 443), Target({"::1", 9}));
}
