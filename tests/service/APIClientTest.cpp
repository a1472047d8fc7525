#include "service/ServiceClientTesting.h"

#include "model/KRJSON.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

using namespace servicetest;

namespace {

const QString kAppAgent = QStringLiteral("zant-universal/82200200 CFNetwork/811.5.4 Darwin/16.7.0");
const QString kView = QStringLiteral("/x/web-interface/view");

// The video request to its end: what each completion got, and the order they ran in.
struct VideoReply {
    QStringList order;
    Outcome<KRVideoList> list;
    Outcome<VideoRef> video;
};

VideoReply runVideoRequest(const QString& url)
{
    auto reply = std::make_shared<VideoReply>();
    KRAPIClient::sharedClient()->performURL(
        url, liveOwner(), [reply](const KRVideoList& videos, const KROptionalError& error) { reply->order << "list"; reply->list = {1, true, videos, error}; },
        [reply](const VideoRef& video, const KROptionalError& error) { reply->order << "video"; reply->video = {1, true, video, error}; });
    EXPECT_TRUE(testsupport::waitUntil([&] { return reply->order.size() >= 2; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(reply->order, (QStringList{"list", "video"}));
    return *reply;
}

using APIClientTest = ServiceClientTest;

TEST_F(APIClientTest, HeaderFamiliesFollowHostPathAndSession)
{
    runJSON(apiURL(QStringLiteral("/x/web-interface/popular?pn=1&ps=20")));
    EXPECT_FALSE(fake.requests().last().headers.contains(QStringLiteral("Cookie"))) << "logged out";
    logIn();
    const QString cookie = KRSessionStore::sharedStore().cookieHeader();
    ASSERT_TRUE(cookie.contains(QStringLiteral("SESSDATA=")));

    struct Case {
        const char* name;
        QString url;
        bool videoRequest;
        bool includeSession;
        QString agent;
        std::optional<QString> cookie; // none: not looked at; null text: must be absent
        bool referer;
    };
    const QString appHost = QStringLiteral("https://") + KRServiceHosts::appHost();
    const QList<Case> cases{
        {"web, logged in", apiURL(QStringLiteral("/x/web-interface/popular?pn=2&ps=20")), false, true, kWebAgent, cookie, true},
        {"web, session left out", apiURL(QStringLiteral("/x/web-interface/popular?pn=3&ps=20")), false, false, kWebAgent, QString(), true},
        {"app host", appHost + QStringLiteral("/x/v2/space/archive/cursor?vmid=1"), false, true, kAppAgent, QString(), false},
        {"app path on the API host", apiURL(QStringLiteral("/pgc/player/api/playurl?ep_id=1")), false, true, kAppAgent, QString(), false},
        {"video request", apiURL(QStringLiteral("/x/web-interface/view?aid=170001")), true, true, kWebAgent, std::nullopt, true},
        // The old domain goes without Referer, and the login never goes there.
        {"video request, old host", QStringLiteral("http://") + KRServiceHosts::oldAPIHost() + QStringLiteral("/view?aid=170001"), true,
         true, kWebAgent, QString(), false},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        if (item.videoRequest)
            runVideoRequest(item.url);
        else
            runJSON(item.url, item.includeSession);
        const FakeRequest request = fake.requests().last();
        EXPECT_EQ(request.tls, item.url.startsWith(QLatin1String("https:")));
        EXPECT_EQ(request.header(QStringLiteral("User-Agent")), item.agent);
        if (item.cookie) {
            EXPECT_EQ(request.header(QStringLiteral("Cookie")), *item.cookie);
        }
        EXPECT_EQ(request.header(QStringLiteral("Referer")), item.referer ? webRoot() : QString());
    }
}

TEST_F(APIClientTest, FailuresMapToTheErrorTable)
{
    KRAPIClient::setRequestTimeoutForTesting(0.5);
    struct Case {
        const char* name;
        FakeReply reply;
        qint64 code; // 0: success
        QString message;
        QString domain = KRAPIErrorDomain;
    };
    const QList<Case> cases{
        {"empty 200", FakeReply::withStatus(200), -3, QStringLiteral("服务器没有返回数据，请稍后重试")},
        {"html", FakeReply::html("<html><body>维护中</body></html>"), -4, QStringLiteral("服务器返回的数据格式异常，请稍后重试")},
        {"code as text, no message", FakeReply::json(QByteArray(R"({"code":"-352","message":""})")), -352,
         QStringLiteral("服务器返回错误")},
        {"service error", FakeReply::json(QByteArray(R"({"code":-400,"message":"请求错误","data":null})")), -400,
         QStringLiteral("请求错误")},
        {"refused", FakeReply::withStatus(412, "blocked"), 412, QStringLiteral("服务器返回 HTTP 412，请稍后重试")},
        {"stalled", FakeReply{.stall = true}, -1001, QString(), QStringLiteral("NSURLErrorDomain")},
        {"no code", FakeReply::json(QByteArray(R"({"data":[1,2]})")), 0, QString()},
        {"code that is no number", FakeReply::json(QByteArray(R"({"code":"abc","message":"x"})")), 0, QString()},
        {"64-bit id", FakeReply::json(QByteArray(R"({"code":0,"data":{"id":9007199254740993}})")), 0, QString()},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        serve(QStringLiteral("/case"), item.reply);
        ConsoleCapture console;
        const auto reply = runJSON(apiURL(QStringLiteral("/case")));
        if (item.code == 412) { // the refused reply's body is counted though it is not read
            EXPECT_TRUE(console.contains(QStringLiteral("JSON response status=412 bytes=7 cache=NO error="))) << console.text().toStdString();
        }
        if (item.code == 0) {
            EXPECT_FALSE(reply->error);
            continue;
        }
        expectError(reply->error, item.code, item.message, item.domain);
        // A service error comes with its whole reply; a body that is no JSON with none, but
        // with the reader's own error underneath.
        EXPECT_EQ(reply->value.isValid(), item.code == -352 || item.code == -400);
        if (item.code == -4) {
            EXPECT_NE(reply->error->underlying(), nullptr);
        }
    }
    const QVariant id = runJSON(apiURL(QStringLiteral("/case")))->value.toMap().value(QStringLiteral("data")).toMap().value(QStringLiteral("id"));
    EXPECT_EQ(id.toLongLong(), 9007199254740993LL);
}

TEST_F(APIClientTest, MissingAddressAnswersMinusOneLaterWithoutARequest)
{
    for (const QString& url : {QString(), QStringLiteral("https://exa mple/%zz")}) {
        auto json = begin<QVariant>([&](auto done) { client()->performJSONURL(url, liveOwner(), done); });
        EXPECT_EQ(json->calls, 0) << "never inside the call";
        settle(json);
        expectError(json->error, -1, QStringLiteral("请求地址无效"));

        auto list = begin<KRVideoList>([&](auto done) { client()->performJSONVideosURL(url, liveOwner(), done); });
        EXPECT_EQ(list->calls, 0) << "never inside the call";
        settle(list);
        expectError(list->error, -1, QStringLiteral("请求地址无效"));
        EXPECT_TRUE(list->value.isEmpty());

        const VideoReply video = runVideoRequest(url);
        expectError(video.list.error, -1);
        expectError(video.video.error, -1);
        EXPECT_TRUE(video.list.value.isEmpty());
        EXPECT_FALSE(video.video.value);
    }
    EXPECT_TRUE(fake.requests().isEmpty());
}

TEST_F(APIClientTest, CachedViewReplyStandsInByteForByteWhenTheServerFails)
{
    const QString url = apiURL(QStringLiteral("/x/web-interface/view?aid=170001"));
    // Spacing and escapes of the original are kept: the file holds the body as received.
    const QByteArray body = "{ \"code\" : 0, \"data\": {\"aid\": 170001, \"title\": \"\\u6728\\u5de5\"}, \"ttl\":1 }";
    serveJSON(kView, body);
    const auto first = runJSON(url);
    ASSERT_FALSE(first->error);
    const QString path = KRCachePathForURL(url);
    EXPECT_EQ(fileContents(path), body);
    // Writing the copy back would give the same bytes, but a new file: its time tells.
    const QDateTime written(QDate(2001, 2, 3), QTime(4, 5, 6), Qt::UTC);
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(written, QFileDevice::FileModificationTime));
    }

    struct Case {
        const char* name;
        FakeReply reply;
        QString line;
    };
    const QList<Case> cases{
        {"server failure", FakeReply::withStatus(500, "<html>500</html>"), QStringLiteral("[Korvane] JSON cache fallback ")},
        {"no JSON", FakeReply::html("<html>busy</html>"), QStringLiteral("[Korvane] JSON parse cache fallback ")},
        {"empty 2xx", FakeReply::withStatus(204), QStringLiteral("[Korvane] JSON cache fallback ")},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        serve(kView, item.reply);
        ConsoleCapture console;
        const auto fallback = runJSON(url);
        EXPECT_FALSE(fallback->error);
        EXPECT_EQ(KRJSONData(fallback->value), KRJSONData(first->value));
        EXPECT_TRUE(console.contains(item.line + path));
        EXPECT_TRUE(console.contains(QStringLiteral("cache=YES")));
    }
    EXPECT_EQ(fileContents(path), body);
    EXPECT_EQ(QFileInfo(path).fileTime(QFileDevice::FileModificationTime).toUTC(), written)
        << "a reply from the cache is not written back";
}

TEST_F(APIClientTest, ServiceErrorsAreNeverCachedNorReplaceAGoodCopy)
{
    const QString hiddenURL = apiURL(QStringLiteral("/x/web-interface/view?aid=880001"));
    const auto hidden = runJSON(hiddenURL);
    expectError(hidden->error, 62002, QStringLiteral("稿件不可见"));
    EXPECT_TRUE(KRAPIClient::errorRepresentsUnavailableArchive(hidden->error));
    EXPECT_FALSE(QFile::exists(KRCachePathForURL(hiddenURL)));

    const QString url = apiURL(QStringLiteral("/x/web-interface/view?aid=170001"));
    const QByteArray good = R"({"code":0,"data":{"aid":170001}})";
    serveJSON(kView, good);
    runJSON(url);
    serveJSON(kView, R"({"code":-404,"message":"啥都木有"})");
    EXPECT_TRUE(runJSON(url)->error);
    EXPECT_EQ(fileContents(KRCachePathForURL(url)), good);

    // Addresses outside the cache leave no files at all.
    const QString directory = QFileInfo(KRCachePathForURL(url)).absolutePath();
    const int files = int(QDir(directory).entryList(QDir::Files).size());
    runJSON(apiURL(QStringLiteral("/x/web-interface/popular?pn=1&ps=20")));
    EXPECT_EQ(QDir(directory).entryList(QDir::Files).size(), files);
}

TEST_F(APIClientTest, VideoRequestNormalisesKeepsTheReadersErrorAndCachesOnlyGoodReplies)
{
    serveJSON(QStringLiteral("/x/web-interface/ranking/v2"),
              R"({"code":0,"data":{"list":[{"aid":11,"bvid":"BV1xx411c7mD","title":"一"},{"aid":12,"title":"二"}]}})");
    const VideoReply list = runVideoRequest(apiURL(QStringLiteral("/x/web-interface/ranking/v2?rid=1&type=all")));
    EXPECT_FALSE(list.list.error);
    EXPECT_EQ(aidsOf(list.list.value), (QList<qint64>{11, 12}));
    EXPECT_EQ(list.list.value[1]->title(), QStringLiteral("二"));

    const QString url = apiURL(QStringLiteral("/x/web-interface/view?aid=5"));
    serve(kView, FakeReply::withStatus(500, "oops"));
    const VideoReply broken = runVideoRequest(url);
    ASSERT_TRUE(broken.list.error);
    EXPECT_NE(broken.list.error->domain(), KRAPIErrorDomain) << "the reader's own error";
    EXPECT_TRUE(broken.list.value.isEmpty());
    EXPECT_FALSE(broken.video.value);

    // A 500 that happens to carry JSON is still no copy to fall back on later.
    serve(kView, FakeReply::json(QByteArray(R"({"code":0,"data":{"aid":5,"title":"错误页"}})"), 500));
    runVideoRequest(url);
    EXPECT_FALSE(QFile::exists(KRCachePathForURL(url)));

    // A good reply is kept and stands in when the connection fails.
    serveJSON(kView, R"({"code":0,"data":{"aid":5,"title":"好"}})");
    runVideoRequest(url);
    serve(kView, FakeReply{.closeWithoutReply = true});
    ConsoleCapture console;
    const VideoReply cached = runVideoRequest(url);
    EXPECT_FALSE(cached.video.error);
    ASSERT_TRUE(cached.video.value);
    EXPECT_EQ(cached.video.value->title(), QStringLiteral("好"));
    EXPECT_TRUE(console.contains(QStringLiteral("[Korvane] cache fallback ")));
}

TEST_F(APIClientTest, NothingReachesAnOwnerDestroyedBeforeItsReply)
{
    // Every reply comes late, so each owner is gone by then; the section's ranking fails, so
    // a delivered reply would go on to its new-list fall-back.
    serve(QStringLiteral("/x/web-interface/popular"), FakeReply{.body = R"({"code":0,"data":{"list":[]}})", .delayMs = 150});
    serve(kView, FakeReply{.body = R"({"code":0,"data":{"aid":5}})", .delayMs = 150});
    serve(QStringLiteral("/x/web-interface/ranking/v2"), FakeReply{.status = 500, .delayMs = 150});

    struct Case {
        const char* name;
        std::function<void(QObject* owner, std::shared_ptr<void> token, int* calls)> start;
    };
    const QList<Case> cases{
        {"JSON request",
         [](QObject* owner, std::shared_ptr<void> token, int* calls) {
             client()->performJSONURL(apiURL(QStringLiteral("/x/web-interface/popular?pn=1&ps=20")), owner,
                                      [token, calls](const QVariant&, const KROptionalError&) { ++*calls; });
         }},
        {"JSON request normalised on the worker",
         [](QObject* owner, std::shared_ptr<void> token, int* calls) {
             client()->performJSONVideosURL(apiURL(QStringLiteral("/x/web-interface/popular?pn=1&ps=20")), owner,
                                            [token, calls](const KRVideoList&, const KROptionalError&) { ++*calls; });
         }},
        {"video request",
         [](QObject* owner, std::shared_ptr<void> token, int* calls) {
             client()->performURL(apiURL(QStringLiteral("/x/web-interface/view?aid=5")), owner,
                                  [token, calls](const KRVideoList&, const KROptionalError&) { ++*calls; },
                                  [token, calls](const VideoRef&, const KROptionalError&) { ++*calls; });
         }},
        {"section with its fall-back",
         [](QObject* owner, std::shared_ptr<void> token, int* calls) {
             client()->loadSection(3, 1, owner, [token, calls](const KRVideoList&, const KROptionalError&) { ++*calls; });
         }},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        auto owner = std::make_unique<QObject>();
        auto release = std::make_shared<Release>();
        int calls = 0;
        item.start(owner.get(), releaseToken(release), &calls);
        owner.reset();
        KR_WAIT_UNTIL(release->done);
        testsupport::waitUntil([] { return KRAPIWorkerQueue()->operationCount() == 0; });
        QCoreApplication::processEvents();
        EXPECT_EQ(calls, 0);
        EXPECT_TRUE(release->onMain) << "the completion is released on the main thread";
    }
    EXPECT_TRUE(requestsTo(QStringLiteral("/x/web-interface/newlist")).isEmpty()) << "the chain stops with its owner";

    // A living owner hears its reply.
    QObject screen;
    const auto reply = run<QVariant>([&](auto done) { client()->performJSONURL(apiURL(QStringLiteral("/x/web-interface/popular?pn=1&ps=20")), &screen, done); });
    EXPECT_FALSE(reply->error);
    EXPECT_EQ(KRAPIWorkerQueue()->maxConcurrentOperationCount(), 4);
}

} // namespace
