#include "account/AccountClientTesting.h"

#include "account/KRAccountRiskChallenge.h"
#include "platform/security/Hash.h"
#include "service/KRRequestPipeline.h"
#include "model/KRJSON.h"

#include <QDateTime>
#include <QUrl>

#include <cmath>
#include <limits>

using namespace accounttest;

namespace {

using JSONCalls = Calls<const QVariant&, const platform::HTTPResponse*, const KROptionalError&>;
using ActionCalls = Calls<bool, const QString&, const QVariant&>;

const QString kTVAgent = QStringLiteral("Mozilla/5.0 (Linux; Android 13; TV) zant-tv/1.6.6");
const QString kAppAgent = QStringLiteral("zant-universal/82200200 CFNetwork/811.5.4 Darwin/16.7.0");

using PipelineTest = AccountClientTest;

// Runs one pipeline request to its answer.
KROptionalError perform(const QString& url, const QString& method, const QVariantMap& parameters = {}, bool includeSession = true)
{
    JSONCalls calls;
    KRAccountClient::sharedClient()->performURLString(url, method, parameters, false, includeSession, QString(), nullptr,
                                                      calls.recorder());
    EXPECT_TRUE(testsupport::waitUntil([&] { return !calls.calls.isEmpty(); }));
    drain();
    EXPECT_EQ(calls.calls.size(), 1);
    EXPECT_TRUE(calls.onMain);
    return calls.calls.isEmpty() ? KROptionalError() : std::get<2>(calls.calls.first());
}

TEST_F(PipelineTest, HeaderFamiliesFollowHostAndPathAndKeepTheSessionToTheService)
{
    AccountFixtures::logInWebOnly();
    fake.route(QStringLiteral("*"), QStringLiteral("*"), [](const FakeRequest&) { return AccountFixtures::ok(); });
    const QString cookie = KRSessionStore::sharedStore().cookieHeader();
    struct Case {
        const char* name;
        QString url;
        QString agent;
        bool web;
        bool cookie;
    };
    const QList<Case> cases{
        {"TV poll", passportURL(QStringLiteral("/x/passport-tv-login/qrcode/poll")), kTVAgent, false, false},
        {"TV play route", apiURL(QStringLiteral("/x/tv/ugc/playurl")), kTVAgent, false, false},
        {"refresh", passportURL(QStringLiteral("/api/v2/oauth2/refresh_token")), kAppAgent, false, false},
        {"other passport path", passportURL(QStringLiteral("/x/passport-login/web/key")), QString(), true, true},
        {"history report", apiURL(QStringLiteral("/x/v2/history/report")), kAppAgent, false, false},
        {"history report with a slash", apiURL(QStringLiteral("/x/v2/history/report/")), QString(), true, true},
        {"app host", appURL(QStringLiteral("/x/v2/view/like")), kAppAgent, false, false},
        {"series app route", apiURL(QStringLiteral("/pgc/player/api/playurl")), kAppAgent, false, false},
        {"web read", apiURL(QStringLiteral("/x/web-interface/nav")), QString(), true, true},
        {"clear-text service host", QStringLiteral("http://") + KRServiceHosts::apiHost() + QStringLiteral("/x/relation"), QString(), true, false},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        fake.clearRequests();
        perform(item.url, QStringLiteral("POST"));
        ASSERT_EQ(fake.requests().size(), 1);
        const FakeRequest request = fake.requests().first();
        if (!item.agent.isNull()) {
            EXPECT_EQ(request.header(QStringLiteral("User-Agent")), item.agent);
        } else {
            EXPECT_TRUE(request.header(QStringLiteral("User-Agent")).contains(QStringLiteral("Chrome/140.0.0.0")));
        }
        EXPECT_EQ(request.header(QStringLiteral("Cookie")), item.cookie ? cookie : QString());
        EXPECT_EQ(request.headers.contains(QStringLiteral("Referer")), item.web);
        EXPECT_EQ(request.headers.contains(QStringLiteral("Origin")), item.web);
        EXPECT_EQ(request.headers.contains(QStringLiteral("Sec-Fetch-Mode")), item.web);
        EXPECT_EQ(request.header(QStringLiteral("Accept")), QStringLiteral("application/json, text/plain, */*"));
        EXPECT_EQ(request.header(QStringLiteral("Content-Type")), QStringLiteral("application/x-www-form-urlencoded; charset=UTF-8"));
        if (item.web) {
            EXPECT_EQ(request.header(QStringLiteral("Referer")), QStringLiteral("https://") + KRServiceHosts::webHost() + QStringLiteral("/"));
            EXPECT_EQ(request.header(QStringLiteral("Origin")), QStringLiteral("https://") + KRServiceHosts::webHost());
        }
    }
}

TEST_F(PipelineTest, AForeignAddressNeverReceivesTheSession)
{
    AccountFixtures::logInWebOnly();
    const QString service = apiURL(QStringLiteral("/x"));
    const QString lookalike = QStringLiteral("https://not") + KRServiceHosts::mainDomain() + QStringLiteral("/x");
    const QString clearText = QStringLiteral("http://") + KRServiceHosts::apiHost() + QStringLiteral("/x");
    const KRRequestContent content{QStringLiteral("POST"), "a=1", QStringLiteral("text/plain"), QString(), {}};
    for (const KRRequestKind kind : {KRRequestKind::AccountWeb, KRRequestKind::AccountUpload}) {
        const platform::HTTPRequest sent = KRRequestPipeline::request(kind, service, content);
        EXPECT_FALSE(sent.headers.value(QStringLiteral("Cookie")).isEmpty());
        EXPECT_TRUE(sent.handleCookies);
        for (const QString& url : {QStringLiteral("https://evil.example/x"), lookalike, clearText}) {
            const platform::HTTPRequest refused = KRRequestPipeline::request(kind, url, content);
            EXPECT_TRUE(refused.headers.value(QStringLiteral("Cookie")).isEmpty()) << url.toStdString();
            EXPECT_FALSE(refused.handleCookies) << url.toStdString();
        }
    }
}

TEST_F(PipelineTest, TheRequestCarriesItsOwnMethodBodyRefererAndHeaders)
{
    const QString page = QStringLiteral("https://") + KRServiceHosts::webHost() + QStringLiteral("/video/av7");
    const KRRequestContent content{QStringLiteral("POST"), "a=1", QStringLiteral("text/plain"), page,
                                   {{QStringLiteral("X-Token"), QStringLiteral("t-1")}}};
    const platform::HTTPRequest web = KRRequestPipeline::request(KRRequestKind::AccountWeb, apiURL(QStringLiteral("/x")), content);
    EXPECT_EQ(web.method, QStringLiteral("POST"));
    EXPECT_EQ(web.body, QByteArray("a=1"));
    EXPECT_EQ(web.headers.value(QStringLiteral("Content-Type")), QStringLiteral("text/plain"));
    EXPECT_EQ(web.headers.value(QStringLiteral("Referer")), page);
    EXPECT_EQ(web.headers.value(QStringLiteral("X-Token")), QStringLiteral("t-1"));
    EXPECT_EQ(web.timeoutSeconds, 20.0);
    // A row without a referer takes none from the request either.
    const platform::HTTPRequest tv = KRRequestPipeline::request(KRRequestKind::AccountTV, apiURL(QStringLiteral("/x/tv/a")), content);
    EXPECT_TRUE(tv.headers.value(QStringLiteral("Referer")).isEmpty());
    EXPECT_EQ(KRRequestPipeline::request(KRRequestKind::AccountUpload, apiURL(QStringLiteral("/x")), content).timeoutSeconds, 30.0);
}

TEST_F(PipelineTest, GetParametersJoinTheQueryAndJSONBodiesAreSentAsPost)
{
    serveAPI(QStringLiteral("/x/q"), [](const FakeRequest&) { return AccountFixtures::ok(); });
    perform(apiURL(QStringLiteral("/x/q?z=1")), QStringLiteral("GET"), {{QStringLiteral("b"), QStringLiteral("x y")}, {QStringLiteral("a"), 2}});
    EXPECT_EQ(fake.requestsTo(QStringLiteral("/x/q")).last().query, QStringLiteral("z=1&a=2&b=x%20y"));
    perform(apiURL(QStringLiteral("/x/q")), QStringLiteral("POST_JSON"));
    const FakeRequest json = fake.requestsTo(QStringLiteral("/x/q")).last();
    EXPECT_EQ(json.method, QStringLiteral("POST"));
    EXPECT_EQ(json.body, QByteArray("{}"));
    EXPECT_EQ(json.header(QStringLiteral("Content-Type")), QStringLiteral("application/json; charset=UTF-8"));
}

// A JSON body carries exactly the values given; one that JSON cannot hold is refused, later
// and on the main thread as any answer, and nothing goes out.
TEST_F(PipelineTest, AJSONBodyCarriesWhatJSONHoldsAndAnythingElseIsRefusedUnsent)
{
    serveAPI(QStringLiteral("/x/q"), [](const FakeRequest&) { return AccountFixtures::ok(); });
    const QVariantMap held{{QStringLiteral("text"), QStringLiteral("评论")},
                           {QStringLiteral("id"), qint64(9007199254740993)},
                           {QStringLiteral("count"), 3u},
                           {QStringLiteral("ratio"), 1.5},
                           {QStringLiteral("flag"), true},
                           {QStringLiteral("none"), QVariant::fromValue(nullptr)},
                           {QStringLiteral("list"), QVariantList{1, QStringList{QStringLiteral("a")}, QVariantMap{}}},
                           {QStringLiteral("hash"), QVariantHash{{QStringLiteral("k"), -2}}}};
    EXPECT_FALSE(perform(apiURL(QStringLiteral("/x/q")), QStringLiteral("POST_JSON"), held));
    ASSERT_EQ(fake.requestsTo(QStringLiteral("/x/q")).size(), 1);
    EXPECT_EQ(fake.requestsTo(QStringLiteral("/x/q")).first().body,
              QByteArray(R"({"count":3,"flag":true,"hash":{"k":-2},"id":9007199254740993,"list":[1,["a"],{}],"none":null,)"
                         R"("ratio":1.5,"text":"评论"})"));

    const struct {
        const char* name;
        QVariant value;
    } refused[] = {
        {"not a number", std::nan("")},
        {"infinite", std::numeric_limits<double>::infinity()},
        {"infinite deep inside", QVariantList{QVariantMap{{QStringLiteral("x"), -std::numeric_limits<float>::infinity()}}}},
        {"absent", QVariant()},
        {"bytes", QByteArray("raw")},
        {"address", QUrl(QStringLiteral("https://a.test/"))},
        {"date", QDateTime::fromSecsSinceEpoch(0)},
    };
    for (const auto& item : refused) {
        SCOPED_TRACE(item.name);
        fake.clearRequests();
        JSONCalls calls;
        client()->performURLString(apiURL(QStringLiteral("/x/q")), QStringLiteral("POST_JSON"),
                                   {{QStringLiteral("ok"), 1}, {QStringLiteral("bad"), item.value}}, false, nullptr, calls.recorder());
        EXPECT_TRUE(calls.calls.isEmpty()) << "never answered inside the call";
        const auto [json, response, error] = calls.awaitOne();
        expectError(error, -2, QStringLiteral("请求数据无法编码"));
        EXPECT_FALSE(json.isValid());
        EXPECT_EQ(response, nullptr);
        EXPECT_TRUE(fake.requests().isEmpty());
    }
}

TEST_F(PipelineTest, TheAppSignatureSortsSignAmongTheKeysAndPassesTheServiceCheck)
{
    KRAPIClient::setClockForTesting([] { return 1700000000.75; });
    const QVariantMap signedParameters = KRAccountSignedAppParameters({{QStringLiteral("a"), 1}, {QStringLiteral("b"), QStringLiteral("x y")}}, false);
    EXPECT_EQ(signedParameters.keys(), (QStringList{"a", "appkey", "b", "sign", "ts"}));
    EXPECT_EQ(signedParameters.value(QStringLiteral("ts")).toString(), QStringLiteral("1700000000"));
    EXPECT_TRUE(KRAccountFormBody(signedParameters).startsWith("a=1&appkey=" + KRServiceHosts::appKey().toUtf8() + "&b=x%20y&sign="));
    serve(KRServiceHosts::appHost(), QStringLiteral("/x/signed"), AccountFixtures::appSigned([](const FakeRequest&) { return AccountFixtures::ok(); }));
    EXPECT_FALSE(perform(appURL(QStringLiteral("/x/signed")), QStringLiteral("POST"), signedParameters));
    EXPECT_FALSE(perform(appURL(QStringLiteral("/x/signed")), QStringLiteral("GET"), signedParameters));
    QVariantMap tampered = signedParameters;
    tampered.insert(QStringLiteral("a"), 2);
    expectError(perform(appURL(QStringLiteral("/x/signed")), QStringLiteral("POST"), tampered), -403);
}

TEST_F(PipelineTest, TheSignedAppFormIsSentByteForByteAndItsLinesKeepTheSecretsOut)
{
    setNow(1700000000.75);
    AccountFixtures::logInAppAndWeb(7200, QStringLiteral("acc-pin"), QStringLiteral("ref-pin"));
    const QVariantMap business{{QStringLiteral("aid"), 170001},
                               {QStringLiteral("like"), 0},
                               {QStringLiteral("note"), QStringLiteral("x y&z=岚")},
                               {QStringLiteral("flag"), true},
                               {QStringLiteral("ratio"), 1.5},
                               {QStringLiteral("sid"), QStringLiteral("s-1")},
                               {QStringLiteral("empty"), QString()},
                               {QStringLiteral("mid"), Q_INT64_C(-9007199254740993)},
                               {QStringLiteral("cid"), 5000u}};
    // Written out by hand: the pairs in key order, the signature among them where "sign" sorts.
    const QByteArray unsignedBody = "access_key=acc-pin&aid=170001&appkey=" + KRServiceHosts::appKey().toUtf8()
        + "&build=82200200&cid=5000&device=phone&empty=&flag=1&like=0&mid=-9007199254740993&mobi_app=iphone&note=x%20y%26z%3D%E5%B2%9A"
          "&platform=ios&ratio=1.5&sid=s-1&ts=1700000000";
    const QByteArray sign = platform::Hash::md5Hex(unsignedBody + KRServiceHosts::appSecret().toUtf8()).toLatin1();
    const QByteArray expected = QByteArray(unsignedBody).replace("&ts=", "&sign=" + sign + "&ts=");

    QVariantMap withToken = business;
    withToken.insert(QStringLiteral("access_key"), QStringLiteral("acc-pin"));
    const KRAccountSignedForm form = KRAccountSignedAppForm(withToken, true);
    EXPECT_EQ(form.body, expected);
    EXPECT_EQ(KRAccountFormBody(form.parameters), expected);
    EXPECT_EQ(form.parameters, KRAccountSignedAppParameters(withToken, true));
    // A caller's own "sign" is replaced, and the body still follows the parameters.
    QVariantMap stale = withToken;
    stale.insert(QStringLiteral("sign"), QStringLiteral("stale"));
    const KRAccountSignedForm resigned = KRAccountSignedAppForm(stale, true);
    EXPECT_EQ(resigned.body, KRAccountFormBody(resigned.parameters));
    EXPECT_FALSE(resigned.body.contains("stale"));
    for (const QVariantMap& edge : {QVariantMap{}, QVariantMap{{QStringLiteral("~"), QStringLiteral("&=")}},
                                    QVariantMap{{QStringLiteral("sign0"), 1}, {QStringLiteral("sig"), 2}}}) {
        const KRAccountSignedForm made = KRAccountSignedAppForm(edge, false);
        EXPECT_EQ(made.body, KRAccountFormBody(made.parameters)) << made.body.toStdString();
    }

    serve(KRServiceHosts::appHost(), QStringLiteral("/x/pinned"), AccountFixtures::appSigned([](const FakeRequest& request) {
              return request.method == QLatin1String("GET") ? AccountFixtures::refusal(-400, QStringLiteral("额度%1用完%7"))
                                                             : AccountFixtures::ok();
          }));
    testsupport::ConsoleCapture console;
    JSONCalls posted;
    client()->performAuthenticatedAppURLString(appURL(QStringLiteral("/x/pinned")), QStringLiteral("POST"), business, true, false,
                                               nullptr, posted.recorder());
    EXPECT_FALSE(std::get<2>(posted.awaitOne()));
    ASSERT_EQ(fake.requestsTo(QStringLiteral("/x/pinned")).size(), 1);
    EXPECT_EQ(fake.requestsTo(QStringLiteral("/x/pinned")).last().body, expected);

    JSONCalls read;
    client()->performAuthenticatedAppURLString(appURL(QStringLiteral("/x/pinned")), QStringLiteral("GET"), business, true, false,
                                               nullptr, read.recorder());
    expectError(std::get<2>(read.awaitOne()), -400, QStringLiteral("额度%1用完%7"));
    EXPECT_EQ(fake.requestsTo(QStringLiteral("/x/pinned")).last().query.toUtf8(), expected);

    const QString lines = console.text();
    const QString host = KRServiceHosts::appHost().toLower();
    EXPECT_TRUE(lines.contains(QStringLiteral("[KorvaneAccount] POST host=") + host + QStringLiteral(" path=/x/pinned\n"))) << lines.toStdString();
    EXPECT_TRUE(lines.contains(QStringLiteral("[KorvaneAccount] GET host=") + host + QStringLiteral(" path=/x/pinned\n"))) << lines.toStdString();
    EXPECT_TRUE(lines.contains(QStringLiteral("[KorvaneAccount] response path=/x/pinned status=200 bytes=")))
        << lines.toStdString();
    EXPECT_TRUE(lines.contains(QStringLiteral(" code=0 message=0 errorDomain=(null) errorCode=0\n"))) << lines.toStdString();
    // The service's message goes into the line as it came, placeholders and all.
    EXPECT_TRUE(lines.contains(QStringLiteral(" code=-400 message=额度%1用完%7 errorDomain=KRAccountErrorDomain errorCode=-400\n")))
        << lines.toStdString();
    for (const QString& secret : {QStringLiteral("acc-pin"), QString::fromLatin1(sign), KRServiceHosts::appSecret()})
        EXPECT_FALSE(lines.contains(secret)) << secret.toStdString();
}

TEST_F(PipelineTest, EscapingKeepsOnlyUnreservedCharacters)
{
    EXPECT_EQ(KRAccountPercentEscape(QStringLiteral(":/?#[]@!$&'()*+,;=% -._~")),
              QStringLiteral("%3A%2F%3F%23%5B%5D%40%21%24%26%27%28%29%2A%2B%2C%3B%3D%25%20-._~"));
    EXPECT_EQ(KRAccountPercentEscape(QStringLiteral("岚")), QStringLiteral("%E5%B2%9A"));
    EXPECT_EQ(KRAccountPercentEscape(true), QStringLiteral("1"));
    EXPECT_EQ(KRAccountPercentEscape(QVariant()), QString());
    EXPECT_TRUE(KRAccountFormBody({}).isEmpty());
}

TEST_F(PipelineTest, RepliesMapToErrorsAndTheStatusDecidesOnlyWithoutACode)
{
    struct Case {
        const char* name;
        FakeReply reply;
        std::optional<qint64> code;
        QString message;
        QString domain = KRAccountErrorDomain;
    };
    const QList<Case> cases{
        {"code 0", FakeReply::json(QByteArray(R"({"code":0,"data":{}})")), std::nullopt, {}},
        {"code as text", FakeReply::json(QByteArray(R"({"code":"-101","message":""})")), -101, QStringLiteral("请求失败")},
        {"service message", FakeReply::json(QByteArray(R"({"code":-400,"message":"参数错误"})")), -400, QStringLiteral("参数错误")},
        {"500 with code 0", FakeReply::json(QByteArray(R"({"code":0})"), 500), std::nullopt, {}},
        {"502 without a code", FakeReply::json(QByteArray("{}"), 502), 502, QStringLiteral("服务器返回 HTTP 502，请稍后重试")},
        {"503 without a body", FakeReply::withStatus(503), 503, QStringLiteral("服务器返回 HTTP 503，请稍后重试")},
        {"array", FakeReply::json(QByteArray("[1]")), -2, QStringLiteral("服务器响应无法解析")},
        {"empty", FakeReply::withStatus(200), -2, QStringLiteral("服务器响应无法解析")},
        {"html", FakeReply::html("<html>portal</html>"), 3840, QString(), QStringLiteral("NSCocoaErrorDomain")},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        serveAPI(QStringLiteral("/x/reply"), [reply = item.reply](const FakeRequest&) { return reply; });
        const KROptionalError error = perform(apiURL(QStringLiteral("/x/reply")), QStringLiteral("GET"));
        if (!item.code) {
            EXPECT_FALSE(error) << error->description().toStdString();
        } else {
            expectError(error, *item.code, item.message, item.domain);
        }
    }
    JSONCalls dropped;
    serveAPI(QStringLiteral("/x/drop"), [](const FakeRequest&) { return FakeReply{.closeWithoutReply = true}; });
    client()->performURLString(apiURL(QStringLiteral("/x/drop")), QStringLiteral("GET"), {}, false, nullptr, dropped.recorder());
    KR_WAIT_UNTIL(!dropped.calls.isEmpty());
    EXPECT_EQ(std::get<1>(dropped.calls.first()), nullptr) << "no response without an answer";
    EXPECT_TRUE(std::get<2>(dropped.calls.first()));
}

TEST_F(PipelineTest, TheLoginGateAndABadAddressAnswerInsideTheCall)
{
    JSONCalls calls;
    client()->performURLString(apiURL(QStringLiteral("/x/a")), QStringLiteral("GET"), {}, true, nullptr, calls.recorder());
    ASSERT_EQ(calls.calls.size(), 1);
    expectError(std::get<2>(calls.calls.first()), -101, QStringLiteral("账号未登录"));
    client()->performURLString(QStringLiteral("not a url"), QStringLiteral("GET"), {}, false, nullptr, calls.recorder());
    ASSERT_EQ(calls.calls.size(), 2);
    expectError(std::get<2>(calls.calls.last()), -1, QStringLiteral("请求地址无效"));
    EXPECT_TRUE(fake.requests().isEmpty());
}

TEST_F(PipelineTest, NothingIsDeliveredToADestroyedOwner)
{
    serveAPI(QStringLiteral("/x/slow"), [](const FakeRequest&) { return FakeReply{.body = "{\"code\":0}", .delayMs = 200}; });
    JSONCalls calls;
    auto owner = std::make_unique<QObject>();
    client()->performURLString(apiURL(QStringLiteral("/x/slow")), QStringLiteral("GET"), {}, false, owner.get(), calls.recorder());
    JSONCalls kept;
    QObject living;
    client()->performURLString(apiURL(QStringLiteral("/x/slow")), QStringLiteral("GET"), {}, false, &living, kept.recorder());
    owner.reset();
    KR_WAIT_UNTIL(!kept.calls.isEmpty());
    drain();
    EXPECT_TRUE(calls.calls.isEmpty());
}

TEST_F(PipelineTest, ARiskRefusalCarriesTheChallengeAndTheDumpKeepsNoVoucher)
{
    AccountFixtures::logInWebOnly();
    serveAPI(QStringLiteral("/x/act"), AccountFixtures::csrfChecked([](const FakeRequest&) {
                 return FakeReply::json(QByteArray(R"({"code":-352,"message":"","data":{"v_voucher":"voucher-123"}})"));
             }));
    ActionCalls calls;
    client()->performActionURLString(apiURL(QStringLiteral("/x/act")), {{QStringLiteral("aid"), 1}}, nullptr, calls.recorder());
    KR_WAIT_UNTIL(!calls.calls.isEmpty());
    drain();
    ASSERT_EQ(calls.calls.size(), 1);
    const auto [success, message, data] = calls.calls.first();
    EXPECT_FALSE(success);
    EXPECT_EQ(message, QStringLiteral("请求失败（错误码 -352）"));
    const QVariantMap map = data.toMap();
    EXPECT_EQ(map.value(QStringLiteral("server_code")).toLongLong(), -352);
    EXPECT_EQ(map.value(QStringLiteral("v_voucher")).toString(), QStringLiteral("voucher-123"));
    EXPECT_EQ(map.value(QStringLiteral("gaia_options")).toMap(), (QVariantMap{{QStringLiteral("v_voucher"), QStringLiteral("voucher-123")}}));
    EXPECT_EQ(map.value(QStringLiteral("gaia_challenge")).toMap().value(QStringLiteral("source")).toString(), QStringLiteral("response.v_voucher"));
    QFile dump(KRAccountDiagnosticDumpPath());
    ASSERT_TRUE(dump.open(QIODevice::ReadOnly));
    const QByteArray text = dump.readAll();
    EXPECT_EQ(KRJSONParse(text).toMap().value(QStringLiteral("format_version")).toLongLong(), 2);
    EXPECT_FALSE(text.contains("voucher-123"));
    EXPECT_TRUE(text.contains("\"body_voucher_length\": 11"));
}

TEST_F(PipelineTest, ActionsAreGatedSignedWithTheCSRFTokenAndReportHTTPFailures)
{
    ActionCalls calls;
    client()->performActionURLString(apiURL(QStringLiteral("/x/act")), {}, nullptr, calls.recorder());
    ASSERT_EQ(calls.calls.size(), 1) << "answered inside the call";
    EXPECT_EQ(std::get<1>(calls.calls.first()), QStringLiteral("账号未登录（错误码 -101）"));
    EXPECT_TRUE(fake.requests().isEmpty());

    AccountFixtures::logInWebOnly();
    serveAPI(QStringLiteral("/x/json"), AccountFixtures::csrfChecked([](const FakeRequest&) {
                 return FakeReply::json(QByteArray(R"({"code":0,"message":"0","data":{"ok":1}})"));
             }));
    client()->performJSONActionURLString(apiURL(QStringLiteral("/x/json?platform=web")), {{QStringLiteral("x"), 1}}, nullptr, calls.recorder());
    KR_WAIT_UNTIL(calls.calls.size() == 2);
    EXPECT_TRUE(std::get<0>(calls.calls.last()));
    EXPECT_EQ(std::get<1>(calls.calls.last()), QStringLiteral("操作成功"));
    EXPECT_EQ(fake.requestsTo(QStringLiteral("/x/json")).last().queryValue(QStringLiteral("platform")), QStringLiteral("web"));

    serveAPI(QStringLiteral("/x/gateway"), [](const FakeRequest&) { return FakeReply::json(QByteArray("{}"), 502); });
    client()->performActionURLString(apiURL(QStringLiteral("/x/gateway")), {}, nullptr, calls.recorder());
    KR_WAIT_UNTIL(calls.calls.size() == 3);
    EXPECT_FALSE(std::get<0>(calls.calls.last())) << "a gateway failure is no success";
    EXPECT_EQ(std::get<1>(calls.calls.last()), QStringLiteral("服务器返回 HTTP 502，请稍后重试（错误码 502）"));
}

TEST(RiskChallengeTest, TheChallengeIsFoundWhereverTheServicePutIt)
{
    platform::HTTPResponse response;
    response.headers.add(QStringLiteral("X-Zant-Gaia-VVoucher"), QStringLiteral("hv-1"));
    struct Case {
        const char* name;
        QByteArray reply;
        const platform::HTTPResponse* response;
        QString source;
        QVariantMap expectedSubset;
    };
    const QList<Case> cases{
        {"risk object as text", R"({"code":-352,"data":{"ga_data":"{\"decision_type\":\"captcha_v2\",\"grisk_id\":\"g1\"}"}})", nullptr,
         QStringLiteral("response.gaia_options"), {{QStringLiteral("grisk_id"), QStringLiteral("g1")}}},
        {"header voucher", R"({"code":-352,"data":{}})", &response, QStringLiteral("header.x-zant-gaia-vvoucher"),
         {{QStringLiteral("v_voucher"), QStringLiteral("hv-1")}}},
        {"nothing", R"({"code":-352})", nullptr, QStringLiteral("none"), {}},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        const QVariant reply = KRJSONParse(item.reply);
        const QVariantMap summary = KRAccountGaiaChallengeMetadata(reply, item.response);
        EXPECT_EQ(summary.value(QStringLiteral("source")).toString(), item.source);
        const std::optional<QVariantMap> options = KRAccountExtractGaiaOptions(reply, item.response);
        EXPECT_EQ(bool(options), !item.expectedSubset.isEmpty());
        for (auto it = item.expectedSubset.constBegin(); it != item.expectedSubset.constEnd(); ++it)
            EXPECT_EQ(options->value(it.key()), it.value());
    }
    const QVariant longDecision = KRJSONParse(QByteArray(R"({"ga_data":{"decision_type":"has space"}})"));
    EXPECT_FALSE(KRAccountGaiaChallengeMetadata(longDecision, nullptr).contains(QStringLiteral("decision_type")));
    EXPECT_EQ(KRAccountExtractGaiaOptions(longDecision, nullptr)->value(QStringLiteral("decision_type")).toString(), QStringLiteral("has space"));
    // Depth 3 lists keys without children; booleans are numbers.
    const QVariantMap shape = KRAccountRedactedShape(KRJSONParse(QByteArray(R"({"a":{"b":{"c":{"d":{"e":true}}}},"f":true})")), 0);
    const QVariantMap depth3 = shape["children"].toMap()["a"].toMap()["children"].toMap()["b"].toMap()["children"].toMap()["c"].toMap();
    EXPECT_EQ(depth3.value(QStringLiteral("keys")).toStringList(), QStringList{"d"});
    EXPECT_FALSE(depth3.contains(QStringLiteral("children")));
    EXPECT_EQ(shape["children"].toMap()["f"].toMap()["type"].toString(), QStringLiteral("number"));
}

} // namespace
