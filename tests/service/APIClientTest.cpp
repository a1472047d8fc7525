#include "support/ConsoleCapture.h"
#include "support/FakeService.h"
#include "support/TestSupport.h"

#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/net/CookieStorage.h"
#include "platform/net/HTTPExchange.h"
#include "service/KRAPIClient.h"
#include "service/KRJSON.h"
#include "service/KRServiceHosts.h"
#include "service/KRVideo.h"
#include "store/KRSessionStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>

#include <gtest/gtest.h>

#include <atomic>

using testsupport::ConsoleCapture;
using testsupport::FakeReply;
using testsupport::FakeRequest;
using testsupport::FakeService;

namespace {

const QString kWebAgent =
    QStringLiteral("Mozilla/5.0 (iPhone; CPU iPhone OS 5_1_1 like Mac OS X) AppleWebKit/534.46 Korvane/0.1");
const QString kAppAgent = QStringLiteral("zant-universal/82200200 CFNetwork/811.5.4 Darwin/16.7.0");

QString apiURL(const QString& pathAndQuery) { return QStringLiteral("https://") + KRServiceHosts::apiHost() + pathAndQuery; }
QString webRoot() { return QStringLiteral("https://") + KRServiceHosts::webHost() + QStringLiteral("/"); }

struct JSONReply {
    int calls = 0;
    bool onMain = true;
    QVariant payload;
    KROptionalError error;
};

std::shared_ptr<JSONReply> performJSON(const QString& url, bool includeSession = true)
{
    auto reply = std::make_shared<JSONReply>();
    KRAPIClient::sharedClient()->performJSONURL(url, includeSession, [reply](const QVariant& payload, const KROptionalError& error) {
        ++reply->calls;
        reply->onMain = reply->onMain && platform::isMainThread();
        reply->payload = payload;
        reply->error = error;
    });
    return reply;
}

// Runs the request to its end and checks it answered once, on the main thread.
JSONReply runJSON(const QString& url, bool includeSession = true)
{
    auto reply = performJSON(url, includeSession);
    EXPECT_TRUE(testsupport::waitUntil([&] { return reply->calls > 0; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(reply->calls, 1);
    EXPECT_TRUE(reply->onMain);
    return *reply;
}

struct VideoReply {
    QList<QString> order;
    KRVideoList videos;
    std::shared_ptr<KRVideo> video;
    KROptionalError listError;
    KROptionalError videoError;
};

VideoReply runVideoRequest(const QString& url)
{
    auto reply = std::make_shared<VideoReply>();
    KRAPIClient::sharedClient()->performURL(
        url,
        [reply](const KRVideoList& videos, const KROptionalError& error) {
            reply->order.append(QStringLiteral("list"));
            reply->videos = videos;
            reply->listError = error;
        },
        [reply](const std::shared_ptr<KRVideo>& video, const KROptionalError& error) {
            reply->order.append(QStringLiteral("video"));
            reply->video = video;
            reply->videoError = error;
        });
    EXPECT_TRUE(testsupport::waitUntil([&] { return reply->order.size() >= 2; }));
    QCoreApplication::processEvents();
    return *reply;
}

void logIn()
{
    platform::HTTPResponse response;
    response.status = 200;
    response.finalURL = webRoot();
    const QString domain = QStringLiteral("; Domain=.") + KRServiceHosts::mainDomain() + QStringLiteral("; Path=/");
    response.headers.add(QStringLiteral("Set-Cookie"), QStringLiteral("SESSDATA=s3ssion-v4lue") + domain + QStringLiteral("; Secure; HttpOnly"));
    response.headers.add(QStringLiteral("Set-Cookie"), QStringLiteral("DedeUserID=4242") + domain);
    response.headers.add(QStringLiteral("Set-Cookie"), QStringLiteral("zant_jct=c5rf") + domain);
    KRSessionStore::sharedStore().captureCookiesFromHTTPResponse(&response);
    ASSERT_TRUE(KRSessionStore::sharedStore().isLoggedIn());
}

QByteArray fileContents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class APIClientTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        KRSessionStore::sharedStore().resetForTesting();
        KRSessionStore::sharedStore().clearSession();
        platform::CookieStorage::shared().deleteAll();
        KRAPIClient::resetWBIMixinKeyForTesting();
        KRAPIClient::setClockForTesting({});
        KRAPIClient::setRequestTimeoutForTesting(0);
    }
    void TearDown() override
    {
        KRAPIClient::setRequestTimeoutForTesting(0);
        KRSessionStore::sharedStore().clearSession();
    }

    FakeService fake{KRServiceHosts::allServiceHosts()};
};

// ---- Header families ----

TEST_F(APIClientTest, WebFamilyCarriesBrowserAgentRefererAndTheSessionCookieOnlyWhenAsked)
{
    fake.routeJSON(KRServiceHosts::apiHost(), QStringLiteral("/x/web-interface/popular"), R"({"code":0,"data":{"list":[]}})");

    runJSON(apiURL(QStringLiteral("/x/web-interface/popular?pn=1&ps=20")));
    logIn();
    const QString cookieHeader = KRSessionStore::sharedStore().cookieHeader();
    ASSERT_TRUE(cookieHeader.contains(QStringLiteral("SESSDATA=")));
    runJSON(apiURL(QStringLiteral("/x/web-interface/popular?pn=2&ps=20")));
    runJSON(apiURL(QStringLiteral("/x/web-interface/popular?pn=3&ps=20")), /*includeSession*/ false);

    const QList<FakeRequest> requests = fake.requestsTo(QStringLiteral("/x/web-interface/popular"));
    ASSERT_EQ(requests.size(), 3);
    for (const FakeRequest& request : requests) {
        EXPECT_TRUE(request.tls);
        EXPECT_EQ(request.header(QStringLiteral("User-Agent")), kWebAgent);
        EXPECT_EQ(request.header(QStringLiteral("Referer")), webRoot());
    }
    EXPECT_TRUE(requests[0].header(QStringLiteral("Cookie")).isNull()) << "logged out";
    EXPECT_EQ(requests[1].header(QStringLiteral("Cookie")), cookieHeader);
    EXPECT_TRUE(requests[2].header(QStringLiteral("Cookie")).isNull()) << "session left out on request";
}

TEST_F(APIClientTest, AppFamilyGoesWithAppAgentAndNeitherCookieNorReferer)
{
    logIn();
    fake.routeJSON(KRServiceHosts::appHost(), QStringLiteral("/x/v2/space/archive/cursor"), R"({"code":0,"data":{}})");
    fake.routeJSON(KRServiceHosts::apiHost(), QStringLiteral("/pgc/player/api/playurl"), R"({"code":0,"data":{}})");

    runJSON(QStringLiteral("https://") + KRServiceHosts::appHost() + QStringLiteral("/x/v2/space/archive/cursor?vmid=1"));
    runJSON(apiURL(QStringLiteral("/pgc/player/api/playurl?ep_id=1")));

    const QList<FakeRequest> requests = fake.requests();
    ASSERT_EQ(requests.size(), 2);
    for (const FakeRequest& request : requests) {
        EXPECT_EQ(request.header(QStringLiteral("User-Agent")), kAppAgent) << request.path.toStdString();
        EXPECT_FALSE(request.headers.contains(QStringLiteral("Cookie"))) << request.path.toStdString();
        EXPECT_FALSE(request.headers.contains(QStringLiteral("Referer"))) << request.path.toStdString();
    }
}

TEST_F(APIClientTest, VideoRequestSendsRefererOnlyToTheServiceDomain)
{
    logIn();
    const QByteArray view = R"({"code":0,"data":{"aid":170001,"bvid":"BV17x411w7KC","title":"木工","cid":279786}})";
    fake.routeJSON(KRServiceHosts::oldAPIHost(), QStringLiteral("/view"), view);
    fake.routeJSON(KRServiceHosts::apiHost(), QStringLiteral("/x/web-interface/view"), view);

    const VideoReply old = runVideoRequest(QStringLiteral("http://") + KRServiceHosts::oldAPIHost() + QStringLiteral("/view?aid=170001"));
    EXPECT_FALSE(old.videoError);
    const VideoReply modern = runVideoRequest(apiURL(QStringLiteral("/x/web-interface/view?aid=170001")));
    ASSERT_TRUE(modern.video);
    EXPECT_EQ(modern.video->aid(), 170001);

    const QList<FakeRequest> oldRequests = fake.requestsTo(QStringLiteral("/view"));
    ASSERT_EQ(oldRequests.size(), 1);
    EXPECT_FALSE(oldRequests[0].tls);
    EXPECT_FALSE(oldRequests[0].headers.contains(QStringLiteral("Referer")));
    EXPECT_FALSE(oldRequests[0].headers.contains(QStringLiteral("Cookie"))) << "the login never goes to the old domain";
    EXPECT_EQ(oldRequests[0].header(QStringLiteral("User-Agent")), kWebAgent);

    const QList<FakeRequest> modernRequests = fake.requestsTo(QStringLiteral("/x/web-interface/view"));
    ASSERT_EQ(modernRequests.size(), 1);
    EXPECT_EQ(modernRequests[0].header(QStringLiteral("Referer")), webRoot());
    EXPECT_EQ(modernRequests[0].header(QStringLiteral("User-Agent")), kWebAgent);
}

// ---- Errors ----

TEST_F(APIClientTest, FailuresMapToTheErrorTable)
{
    fake.routeReply(KRServiceHosts::apiHost(), QStringLiteral("/empty"), FakeReply::withStatus(200));
    fake.routeReply(KRServiceHosts::apiHost(), QStringLiteral("/html"), FakeReply::html("<html><body>维护中</body></html>"));
    fake.routeJSON(KRServiceHosts::apiHost(), QStringLiteral("/risk"), R"({"code":"-352","message":""})");
    fake.routeJSON(KRServiceHosts::apiHost(), QStringLiteral("/denied"), R"({"code":-400,"message":"请求错误","data":null})");
    fake.routeReply(KRServiceHosts::apiHost(), QStringLiteral("/refused"), FakeReply::withStatus(412, "blocked"));
    fake.routeJSON(KRServiceHosts::apiHost(), QStringLiteral("/ok"), R"({"code":0,"data":{"id":9007199254740993}})");
    fake.routeJSON(KRServiceHosts::apiHost(), QStringLiteral("/nocode"), R"({"data":[1,2]})");

    const JSONReply empty = runJSON(apiURL(QStringLiteral("/empty")));
    ASSERT_TRUE(empty.error);
    EXPECT_TRUE(empty.error->is(KRAPIErrorDomain, -3));
    EXPECT_EQ(empty.error->message(), QStringLiteral("服务器没有返回数据，请稍后重试"));
    EXPECT_FALSE(empty.payload.isValid());

    const JSONReply html = runJSON(apiURL(QStringLiteral("/html")));
    ASSERT_TRUE(html.error);
    EXPECT_TRUE(html.error->is(KRAPIErrorDomain, -4));
    EXPECT_EQ(html.error->message(), QStringLiteral("服务器返回的数据格式异常，请稍后重试"));
    EXPECT_NE(html.error->underlying(), nullptr) << "the reader's own error rides along";
    EXPECT_FALSE(html.payload.isValid());

    const JSONReply risk = runJSON(apiURL(QStringLiteral("/risk")));
    ASSERT_TRUE(risk.error);
    EXPECT_TRUE(risk.error->is(KRAPIErrorDomain, -352));
    EXPECT_EQ(risk.error->message(), QStringLiteral("服务器返回错误"));
    EXPECT_EQ(risk.payload.toMap().value(QStringLiteral("code")).toString(), QStringLiteral("-352")) << "payload kept with the error";

    const JSONReply denied = runJSON(apiURL(QStringLiteral("/denied")));
    ASSERT_TRUE(denied.error);
    EXPECT_TRUE(denied.error->is(KRAPIErrorDomain, -400));
    EXPECT_EQ(denied.error->message(), QStringLiteral("请求错误"));

    const JSONReply refused = runJSON(apiURL(QStringLiteral("/refused")));
    ASSERT_TRUE(refused.error);
    EXPECT_TRUE(refused.error->is(KRAPIErrorDomain, 412));
    EXPECT_EQ(refused.error->message(), QStringLiteral("服务器返回 HTTP 412，请稍后重试"));

    const JSONReply ok = runJSON(apiURL(QStringLiteral("/ok")));
    EXPECT_FALSE(ok.error);
    EXPECT_EQ(ok.payload.toMap().value(QStringLiteral("data")).toMap().value(QStringLiteral("id")).toLongLong(),
              9007199254740993LL);

    const JSONReply noCode = runJSON(apiURL(QStringLiteral("/nocode")));
    EXPECT_FALSE(noCode.error);
}

TEST_F(APIClientTest, MissingAddressAnswersMinusOneLaterWithoutARequest)
{
    for (const QString& url : {QString(), QStringLiteral("https://exa mple/%zz")}) {
        auto json = performJSON(url);
        EXPECT_EQ(json->calls, 0) << "never inside the call";
        KR_WAIT_UNTIL(json->calls == 1);
        ASSERT_TRUE(json->error);
        EXPECT_TRUE(json->error->is(KRAPIErrorDomain, -1));
        EXPECT_EQ(json->error->message(), QStringLiteral("请求地址无效"));

        const VideoReply video = runVideoRequest(url);
        EXPECT_EQ(video.order, (QList<QString>{QStringLiteral("list"), QStringLiteral("video")}));
        ASSERT_TRUE(video.listError);
        EXPECT_TRUE(video.listError->is(KRAPIErrorDomain, -1));
        ASSERT_TRUE(video.videoError);
        EXPECT_TRUE(video.videoError->is(KRAPIErrorDomain, -1));
        EXPECT_TRUE(video.videos.isEmpty());
        EXPECT_FALSE(video.video);
    }
    EXPECT_TRUE(fake.requests().isEmpty());
}

TEST_F(APIClientTest, TransportErrorsPassThroughUnchanged)
{
    KRAPIClient::setRequestTimeoutForTesting(0.5);
    FakeReply stall;
    stall.stall = true;
    fake.routeReply(KRServiceHosts::apiHost(), QStringLiteral("/stall"), stall);
    FakeReply hangUp;
    hangUp.closeWithoutReply = true;
    fake.routeReply(KRServiceHosts::apiHost(), QStringLiteral("/hangup"), hangUp);

    const JSONReply stalled = runJSON(apiURL(QStringLiteral("/stall")));
    ASSERT_TRUE(stalled.error);
    EXPECT_TRUE(stalled.error->is(QStringLiteral("NSURLErrorDomain"), -1001));

    const JSONReply hungUp = runJSON(apiURL(QStringLiteral("/hangup")));
    ASSERT_TRUE(hungUp.error);
    EXPECT_EQ(hungUp.error->domain(), QStringLiteral("NSURLErrorDomain"));
}

// ---- Response cache ----

TEST_F(APIClientTest, CachedViewReplyStandsInByteForByteWhenTheServerFails)
{
    const QString url = apiURL(QStringLiteral("/x/web-interface/view?aid=170001"));
    // Spacing and escapes of the original are kept: the file holds the body as received.
    const QByteArray body = "{ \"code\" : 0, \"data\": {\"aid\": 170001, \"title\": \"\\u6728\\u5de5\"}, \"ttl\":1 }";
    fake.routeJSON(KRServiceHosts::apiHost(), QStringLiteral("/x/web-interface/view"), body);
    const JSONReply first = runJSON(url);
    ASSERT_FALSE(first.error);
    const QString path = KRCachePathForURL(url);
    EXPECT_EQ(fileContents(path), body);

    fake.routeReply(KRServiceHosts::apiHost(), QStringLiteral("/x/web-interface/view"),
                    FakeReply::withStatus(500, "<html>500</html>"));
    {
        ConsoleCapture console;
        const JSONReply fallback = runJSON(url);
        EXPECT_FALSE(fallback.error);
        EXPECT_EQ(KRJSONData(fallback.payload), KRJSONData(first.payload));
        EXPECT_TRUE(console.contains(QStringLiteral("[Korvane] JSON cache fallback ") + path));
        EXPECT_TRUE(console.contains(QStringLiteral("cache=YES")));
    }
    EXPECT_EQ(fileContents(path), body) << "a reply from the cache is not written back";

    // A fresh body that is no JSON is replaced by the cached reply too.
    fake.routeReply(KRServiceHosts::apiHost(), QStringLiteral("/x/web-interface/view"), FakeReply::html("<html>busy</html>"));
    {
        ConsoleCapture console;
        const JSONReply fallback = runJSON(url);
        EXPECT_FALSE(fallback.error);
        EXPECT_EQ(KRJSONData(fallback.payload), KRJSONData(first.payload));
        EXPECT_TRUE(console.contains(QStringLiteral("[Korvane] JSON parse cache fallback ") + path));
    }

    // An empty 2xx as well.
    fake.routeReply(KRServiceHosts::apiHost(), QStringLiteral("/x/web-interface/view"), FakeReply::withStatus(204));
    EXPECT_FALSE(runJSON(url).error);
}

TEST_F(APIClientTest, ServiceErrorsAreNeverCachedNorReplaceAGoodCopy)
{
    const QString hiddenURL = apiURL(QStringLiteral("/x/web-interface/view?aid=880001"));
    fake.routeJSON(KRServiceHosts::apiHost(), QStringLiteral("/x/web-interface/view"),
                   R"({"code":62002,"message":"稿件不可见","ttl":1})");
    const JSONReply hidden = runJSON(hiddenURL);
    ASSERT_TRUE(hidden.error);
    EXPECT_TRUE(hidden.error->is(KRAPIErrorDomain, 62002));
    EXPECT_TRUE(KRAPIClient::errorRepresentsUnavailableArchive(hidden.error));
    EXPECT_TRUE(hidden.payload.toMap().contains(QStringLiteral("message")));
    EXPECT_FALSE(QFile::exists(KRCachePathForURL(hiddenURL)));

    fake.routeReply(KRServiceHosts::apiHost(), QStringLiteral("/x/web-interface/view"), FakeReply::withStatus(500));
    const JSONReply failed = runJSON(hiddenURL);
    ASSERT_TRUE(failed.error);
    EXPECT_TRUE(failed.error->is(KRAPIErrorDomain, 500));

    // A good copy survives a later service error for the same address.
    const QString url = apiURL(QStringLiteral("/x/web-interface/view?aid=170001"));
    const QByteArray good = R"({"code":0,"data":{"aid":170001}})";
    fake.routeJSON(KRServiceHosts::apiHost(), QStringLiteral("/x/web-interface/view"), good);
    runJSON(url);
    fake.routeJSON(KRServiceHosts::apiHost(), QStringLiteral("/x/web-interface/view"), R"({"code":-404,"message":"啥都木有"})");
    EXPECT_TRUE(runJSON(url).error);
    EXPECT_EQ(fileContents(KRCachePathForURL(url)), good);
}

TEST_F(APIClientTest, UncachedAddressesLeaveNoFiles)
{
    fake.routeJSON(KRServiceHosts::apiHost(), QStringLiteral("/x/web-interface/popular"), R"({"code":0,"data":{"list":[]}})");
    runJSON(apiURL(QStringLiteral("/x/web-interface/popular?pn=1&ps=20")));
    const QString directory = QFileInfo(KRCachePathForURL(QString())).absolutePath();
    EXPECT_TRUE(QDir(directory).entryList(QDir::Files).isEmpty());
}

// ---- The video request ----

TEST_F(APIClientTest, VideoRequestNormalisesListThenVideo)
{
    fake.routeJSON(KRServiceHosts::apiHost(), QStringLiteral("/x/web-interface/ranking/v2"),
                   R"({"code":0,"data":{"list":[{"aid":11,"bvid":"BV1xx411c7mD","title":"一"},{"aid":12,"title":"二"}]}})");
    const VideoReply reply = runVideoRequest(apiURL(QStringLiteral("/x/web-interface/ranking/v2?rid=1&type=all")));
    EXPECT_EQ(reply.order, (QList<QString>{QStringLiteral("list"), QStringLiteral("video")}));
    EXPECT_FALSE(reply.listError);
    ASSERT_EQ(reply.videos.size(), 2);
    EXPECT_EQ(reply.videos[0]->aid(), 11);
    EXPECT_EQ(reply.videos[1]->title(), QStringLiteral("二"));
}

TEST_F(APIClientTest, VideoRequestKeepsTheReadersErrorAndNeverCachesAnErrorPage)
{
    const QString url = apiURL(QStringLiteral("/x/web-interface/view?aid=5"));
    fake.routeReply(KRServiceHosts::apiHost(), QStringLiteral("/x/web-interface/view"), FakeReply::withStatus(500, "oops"));
    const VideoReply broken = runVideoRequest(url);
    ASSERT_TRUE(broken.listError);
    EXPECT_NE(broken.listError->domain(), KRAPIErrorDomain) << "the reader's own error";
    EXPECT_TRUE(broken.videos.isEmpty());
    EXPECT_FALSE(broken.video);

    // A 500 that happens to carry JSON is still no copy to fall back on later.
    FakeReply errorPage = FakeReply::json(QByteArray(R"({"code":0,"data":{"aid":5,"title":"错误页"}})"));
    errorPage.status = 500;
    fake.routeReply(KRServiceHosts::apiHost(), QStringLiteral("/x/web-interface/view"), errorPage);
    runVideoRequest(url);
    EXPECT_FALSE(QFile::exists(KRCachePathForURL(url)));

    // A good reply is kept and stands in when the connection fails.
    fake.routeJSON(KRServiceHosts::apiHost(), QStringLiteral("/x/web-interface/view"),
                   R"({"code":0,"data":{"aid":5,"title":"好"}})");
    runVideoRequest(url);
    FakeReply hangUp;
    hangUp.closeWithoutReply = true;
    fake.routeReply(KRServiceHosts::apiHost(), QStringLiteral("/x/web-interface/view"), hangUp);
    ConsoleCapture console;
    const VideoReply cached = runVideoRequest(url);
    EXPECT_FALSE(cached.videoError);
    ASSERT_TRUE(cached.video);
    EXPECT_EQ(cached.video->title(), QStringLiteral("好"));
    EXPECT_TRUE(console.contains(QStringLiteral("[Korvane] cache fallback ")));
}

// ---- Delivery ----

TEST_F(APIClientTest, EveryCompletionRunsOnceOnTheMainThreadEvenAfterTheCallerIsGone)
{
    std::atomic<int> inFlight{0};
    std::atomic<int> mostInFlight{0};
    fake.route(KRServiceHosts::apiHost(), QStringLiteral("/slow"), [&](const FakeRequest&) {
        const int now = ++inFlight;
        int seen = mostInFlight.load();
        while (now > seen && !mostInFlight.compare_exchange_weak(seen, now)) {
        }
        FakeReply reply = FakeReply::json(QByteArray(R"({"code":0})"));
        reply.delayMs = 60;
        --inFlight;
        return reply;
    });

    constexpr int kRequests = 10;
    auto screen = std::make_unique<QObject>();
    QPointer<QObject> weakScreen(screen.get());
    std::vector<int> calls(kRequests, 0);
    int reachedScreen = 0;
    bool allOnMain = true;
    for (int i = 0; i < kRequests; ++i) {
        KRAPIClient::sharedClient()->performJSONURL(apiURL(QStringLiteral("/slow?i=%1").arg(i)),
                                                    [&, i, weakScreen](const QVariant&, const KROptionalError&) {
                                                        ++calls[i];
                                                        allOnMain = allOnMain && platform::isMainThread();
                                                        if (weakScreen)
                                                            ++reachedScreen;
                                                    });
    }
    screen.reset(); // the screen that asked goes away before any answer
    KR_WAIT_UNTIL(std::all_of(calls.begin(), calls.end(), [](int n) { return n > 0; }));
    QCoreApplication::processEvents();
    for (int n : calls)
        EXPECT_EQ(n, 1);
    EXPECT_TRUE(allOnMain);
    EXPECT_EQ(reachedScreen, 0);
    EXPECT_LE(mostInFlight.load(), KRAPIWorkerQueue()->maxConcurrentOperationCount());
}

TEST_F(APIClientTest, WorkerQueueIsFourWideOnCurrentDevices)
{
    EXPECT_EQ(KRAPIWorkerQueue(), KRAPIWorkerQueue());
    EXPECT_EQ(KRAPIWorkerQueue()->maxConcurrentOperationCount(), 4);
}

} // namespace
