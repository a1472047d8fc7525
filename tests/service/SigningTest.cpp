#include "support/FakeService.h"
#include "support/ServiceSignatures.h"
#include "support/TestSupport.h"

#include "service/KRAPIClient.h"
#include "service/KRServiceHosts.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QUrlQuery>

#include <gtest/gtest.h>

using testsupport::FakeReply;
using testsupport::FakeRequest;
using testsupport::FakeService;

namespace {

constexpr double kPinnedNow = 1700000000.75;

QString md5(const QString& text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex());
}

QString apiURL(const QString& path) { return QStringLiteral("https://") + KRServiceHosts::apiHost() + path; }

QStringList queryKeys(const QString& url)
{
    QStringList keys;
    for (const auto& item : QUrlQuery(QUrl(url).query()).queryItems())
        keys.append(item.first);
    return keys;
}

struct KeyReply {
    int calls = 0;
    bool answeredInsideCall = false;
    QString key;
    KROptionalError error;
};

std::shared_ptr<KeyReply> loadKey(bool force = false)
{
    auto reply = std::make_shared<KeyReply>();
    KRAPIClient::sharedClient()->loadWBIMixinKeyForceRefresh(force, [reply](const QString& key, const KROptionalError& error) {
        ++reply->calls;
        reply->key = key;
        reply->error = error;
    });
    reply->answeredInsideCall = reply->calls == 1;
    EXPECT_TRUE(testsupport::waitUntil([&] { return reply->calls > 0; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(reply->calls, 1);
    return reply;
}

struct SignReply {
    int calls = 0;
    bool answeredInsideCall = false;
    QVariantMap parameters;
    KROptionalError error;
};

std::shared_ptr<SignReply> sign(const QVariantMap& parameters)
{
    auto reply = std::make_shared<SignReply>();
    KRAPIClient::sharedClient()->signWBIParameters(parameters, [reply](const QVariantMap& signedParameters,
                                                                       const KROptionalError& error) {
        ++reply->calls;
        reply->parameters = signedParameters;
        reply->error = error;
    });
    reply->answeredInsideCall = reply->calls == 1;
    EXPECT_TRUE(testsupport::waitUntil([&] { return reply->calls > 0; }));
    return reply;
}

class SigningTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        KRAPIClient::resetWBIMixinKeyForTesting();
        setNow(kPinnedNow);
    }
    void TearDown() override { KRAPIClient::setClockForTesting({}); }

    void setNow(double seconds)
    {
        now = seconds;
        KRAPIClient::setClockForTesting([this] { return now; });
    }
    int navigationRequests() const { return int(fake.requestsTo(QStringLiteral("/x/web-interface/nav")).size()); }

    double now = 0;
    FakeService fake{KRServiceHosts::allServiceHosts()};
};

// ---- Query encoding ----

TEST(QueryEncodingTest, EscapesEverythingButUnreservedCharacters)
{
    EXPECT_EQ(KRPercentEscapedQueryValue(QString()), QStringLiteral(""));
    EXPECT_EQ(KRPercentEscapedQueryValue(QStringLiteral("Az09-._~")), QStringLiteral("Az09-._~"));
    EXPECT_EQ(KRPercentEscapedQueryValue(QStringLiteral(":/?#[]@!$&'()*+,;=%")),
              QStringLiteral("%3A%2F%3F%23%5B%5D%40%21%24%26%27%28%29%2A%2B%2C%3B%3D%25"));
    EXPECT_EQ(KRPercentEscapedQueryValue(QStringLiteral("木 工")), QStringLiteral("%E6%9C%A8%20%E5%B7%A5"));
}

TEST(QueryEncodingTest, SortsKeysByCharacterCodeAndWritesNumbersInDecimal)
{
    EXPECT_EQ(KRQueryStringFromParameters({}), QStringLiteral(""));
    const QVariantMap parameters{{QStringLiteral("b"), 1},
                                 {QStringLiteral("B"), 9007199254740993LL},
                                 {QStringLiteral("a"), QStringLiteral("x y")},
                                 {QStringLiteral("c"), 2.5},
                                 {QStringLiteral("d"), true}};
    EXPECT_EQ(KRQueryStringFromParameters(parameters), QStringLiteral("B=9007199254740993&a=x%20y&b=1&c=2.5&d=1"));
}

// ---- Web signature ----

TEST_F(SigningTest, WebSignatureFiltersValuesAddsTimeAndDigest)
{
    EXPECT_TRUE(KRWBISignedParameters({{QStringLiteral("a"), 1}}, QString()).isEmpty());

    const QString key = testsupport::fixtureWBIMixinKey();
    const QVariantMap signedParameters = KRWBISignedParameters({{QStringLiteral("keyword"), QStringLiteral("a(b)*c!'d 木")},
                                                                {QStringLiteral("page"), 2},
                                                                {QStringLiteral("gone"), QVariant::fromValue(nullptr)},
                                                                {QStringLiteral("wts"), QStringLiteral("1")}},
                                                               key);
    const QString expectedQuery = QStringLiteral("keyword=abcd%20%E6%9C%A8&page=2&wts=1700000000");
    EXPECT_EQ(signedParameters.value(QStringLiteral("keyword")).toString(), QStringLiteral("abcd 木"));
    EXPECT_EQ(signedParameters.value(QStringLiteral("page")).toString(), QStringLiteral("2"));
    EXPECT_FALSE(signedParameters.contains(QStringLiteral("gone")));
    EXPECT_EQ(signedParameters.value(QStringLiteral("wts")).toString(), QStringLiteral("1700000000"));
    EXPECT_EQ(signedParameters.value(QStringLiteral("w_rid")).toString(), md5(expectedQuery + key));
    EXPECT_EQ(signedParameters.size(), 4);

    // A value without a text form is sent empty, and the time is still added.
    const QVariantMap odd = KRWBISignedParameters({{QStringLiteral("list"), QVariantList{1, 2}}}, key);
    EXPECT_EQ(odd.value(QStringLiteral("list")).toString(), QStringLiteral(""));
    EXPECT_EQ(odd.value(QStringLiteral("wts")).toString(), QStringLiteral("1700000000"));
    EXPECT_EQ(odd.value(QStringLiteral("w_rid")).toString(), md5(QStringLiteral("list=&wts=1700000000") + key));
}

TEST_F(SigningTest, WebSignedAddressPutsRidBeforeTime)
{
    EXPECT_TRUE(KRWBISignedURLString(QString(), {}, testsupport::fixtureWBIMixinKey()).isNull());
    EXPECT_TRUE(KRWBISignedURLString(apiURL(QStringLiteral("/x")), {}, QString()).isNull());
    const QString url = KRWBISignedURLString(apiURL(QStringLiteral("/x/v2/reply/wbi/main")),
                                             {{QStringLiteral("oid"), 170001}, {QStringLiteral("type"), 1}},
                                             testsupport::fixtureWBIMixinKey());
    EXPECT_TRUE(url.startsWith(apiURL(QStringLiteral("/x/v2/reply/wbi/main?"))));
    EXPECT_EQ(queryKeys(url), (QStringList{"oid", "type", "w_rid", "wts"}));
}

TEST_F(SigningTest, MixinKeyComesFromNavigationImagesAndIsReusedFor600Seconds)
{
    testsupport::routeNavigationFixture(fake);
    EXPECT_EQ(KRWBIFileKey(QStringLiteral("https://i0.img.test/bfs/wbi/") + testsupport::fixtureWBIImageKey() + ".png"),
              testsupport::fixtureWBIImageKey());

    const auto first = loadKey();
    EXPECT_FALSE(first->answeredInsideCall);
    EXPECT_FALSE(first->error) << "the key counts even though the reply's code says logged out";
    EXPECT_EQ(first->key, testsupport::fixtureWBIMixinKey());
    EXPECT_EQ(navigationRequests(), 1);

    setNow(kPinnedNow + 599.9);
    const auto signedReply = sign({{QStringLiteral("mid"), 7001}});
    EXPECT_TRUE(signedReply->answeredInsideCall);
    EXPECT_FALSE(signedReply->error);
    EXPECT_EQ(signedReply->parameters.value(QStringLiteral("wts")).toString(), QStringLiteral("1700000600"));
    EXPECT_EQ(navigationRequests(), 1) << "no second navigation request within 600 s";

    setNow(kPinnedNow + 600);
    EXPECT_FALSE(loadKey()->answeredInsideCall);
    EXPECT_EQ(navigationRequests(), 2);

    // A clock set back before the key was stored makes it stale.
    setNow(kPinnedNow);
    EXPECT_FALSE(loadKey()->answeredInsideCall);
    EXPECT_EQ(navigationRequests(), 3);

    EXPECT_FALSE(loadKey(/*force*/ true)->answeredInsideCall);
    EXPECT_EQ(navigationRequests(), 4);
}

TEST_F(SigningTest, MissingKeyGivesItsErrors)
{
    fake.routeJSON(QStringLiteral("*"), QStringLiteral("/x/web-interface/nav"), R"({"code":0,"data":{"isLogin":false}})");
    const auto noImages = loadKey();
    EXPECT_TRUE(noImages->key.isNull());
    ASSERT_TRUE(noImages->error);
    EXPECT_TRUE(noImages->error->is(KRAPIErrorDomain, -6));
    EXPECT_EQ(noImages->error->message(), QStringLiteral("无法取得评论签名参数"));

    // Names too short to make 64 characters.
    fake.route(QStringLiteral("*"), QStringLiteral("/x/web-interface/nav"), [](const FakeRequest&) {
        return FakeReply::json(testsupport::navigationReplyWithImages(QStringLiteral("abc"), QStringLiteral("def")));
    });
    const auto shortSign = sign({{QStringLiteral("a"), 1}});
    EXPECT_TRUE(shortSign->parameters.isEmpty());
    ASSERT_TRUE(shortSign->error);
    EXPECT_TRUE(shortSign->error->is(KRAPIErrorDomain, -6));

    fake.routeReply(QStringLiteral("*"), QStringLiteral("/x/web-interface/nav"), FakeReply::withStatus(502));
    const auto failed = sign({{QStringLiteral("a"), 1}});
    EXPECT_TRUE(failed->parameters.isEmpty());
    ASSERT_TRUE(failed->error);
    EXPECT_TRUE(failed->error->is(KRAPIErrorDomain, 502)) << "the request's own error passes through";
}

TEST_F(SigningTest, ServiceAcceptsTheWebSignatureAndRefusesAForgedOne)
{
    testsupport::routeNavigationFixture(fake);
    // An address outside the response cache, so a refusal is not covered by an earlier answer.
    const QByteArray results = R"({"code":0,"data":{"replies":[]}})";
    testsupport::routeWBISigned(fake, KRServiceHosts::apiHost(), QStringLiteral("/x/v2/reply/wbi/main"),
                                testsupport::fixtureWBIMixinKey(), FakeReply::json(results));

    const auto key = loadKey();
    ASSERT_FALSE(key->error);
    const QVariantMap parameters{{QStringLiteral("oid"), 170001},
                                 {QStringLiteral("keyword"), QStringLiteral("木工 (入门)!")},
                                 {QStringLiteral("next"), 2},
                                 {QStringLiteral("ps"), QStringLiteral("20")}};
    const QString base = apiURL(QStringLiteral("/x/v2/reply/wbi/main"));

    struct Outcome {
        bool done = false;
        KROptionalError error;
    };
    auto run = [&](const QString& url) {
        auto outcome = std::make_shared<Outcome>();
        KRAPIClient::sharedClient()->performJSONURL(url, [outcome](const QVariant&, const KROptionalError& error) {
            outcome->error = error;
            outcome->done = true;
        });
        EXPECT_TRUE(testsupport::waitUntil([&] { return outcome->done; }));
        return *outcome;
    };
    EXPECT_FALSE(run(KRWBISignedURLString(base, parameters, key->key)).error);
    const Outcome forged = run(KRWBISignedURLString(base, parameters, QString(32, QLatin1Char('0'))));
    ASSERT_TRUE(forged.error);
    EXPECT_EQ(forged.error->code(), 403);
    EXPECT_EQ(fake.requestsTo(QStringLiteral("/x/v2/reply/wbi/main"))[0].queryValue(QStringLiteral("keyword")),
              QStringLiteral("木工 入门"));
}

// ---- App signature ----

TEST_F(SigningTest, AppSignatureListsItsFieldsInOrderAndTheServiceAcceptsIt)
{
    EXPECT_TRUE(KRAppSignedURLString(QString(), {}).isNull());

    const QString base = QStringLiteral("https://") + KRServiceHosts::appHost() + QStringLiteral("/x/v2/space/archive/cursor");
    const QString url = KRAppSignedURLString(base, {{QStringLiteral("vmid"), 1}, {QStringLiteral("ts"), 5}});
    EXPECT_EQ(queryKeys(url), (QStringList{"appkey", "build", "device", "mobi_app", "platform", "sign", "ts", "vmid"}));
    const QUrlQuery query(QUrl(url).query());
    EXPECT_EQ(query.queryItemValue(QStringLiteral("ts")), QStringLiteral("1700000000"));
    EXPECT_EQ(query.queryItemValue(QStringLiteral("build")), QStringLiteral("82200200"));
    const QString signedText = QStringLiteral("appkey=%1&build=82200200&device=phone&mobi_app=iphone&platform=ios&ts=1700000000&vmid=1")
                                   .arg(KRPercentEscapedQueryValue(KRServiceHosts::appKey()));
    EXPECT_EQ(query.queryItemValue(QStringLiteral("sign")), md5(signedText + KRServiceHosts::appSecret()));

    testsupport::routeAppSigned(fake, KRServiceHosts::appHost(), QStringLiteral("/x/v2/space/archive/cursor"),
                                KRServiceHosts::appSecret(), FakeReply::json(QByteArray(R"({"code":0,"data":{"item":[]}})")));
    bool done = false;
    KROptionalError error;
    KRAPIClient::sharedClient()->performJSONURL(url, [&](const QVariant&, const KROptionalError& e) {
        error = e;
        done = true;
    });
    KR_WAIT_UNTIL(done);
    EXPECT_FALSE(error) << (error ? error->description().toStdString() : std::string());

    QString why;
    FakeRequest tampered = fake.requests().last();
    tampered.query.replace(QStringLiteral("vmid=1"), QStringLiteral("vmid=2"));
    EXPECT_FALSE(testsupport::verifyAppSignature(tampered, KRServiceHosts::appSecret(), &why));
}

// ---- Reply errors ----

TEST(ReplyErrorTest, ReadsCodeAndMessage)
{
    EXPECT_FALSE(KRAPIErrorFromPayload(QVariant()));
    EXPECT_FALSE(KRAPIErrorFromPayload(QVariantList{1}));
    EXPECT_FALSE(KRAPIErrorFromPayload(QVariantMap{{QStringLiteral("code"), 0}}));
    EXPECT_FALSE(KRAPIErrorFromPayload(QVariantMap{{QStringLiteral("message"), QStringLiteral("x")}}));
    EXPECT_FALSE(KRAPIErrorFromPayload(QVariantMap{{QStringLiteral("code"), QStringLiteral("abc")}}));
    EXPECT_FALSE(KRAPIErrorFromPayload(QVariantMap{{QStringLiteral("code"), QVariantMap{}}}));

    const KROptionalError text = KRAPIErrorFromPayload(QVariantMap{{QStringLiteral("code"), QStringLiteral("-352")}});
    ASSERT_TRUE(text);
    EXPECT_TRUE(text->is(KRAPIErrorDomain, -352));
    EXPECT_EQ(text->message(), QStringLiteral("服务器返回错误"));

    const KROptionalError number = KRAPIErrorFromPayload(
        QVariantMap{{QStringLiteral("code"), 62004}, {QStringLiteral("message"), QStringLiteral("稿件审核中")}});
    ASSERT_TRUE(number);
    EXPECT_EQ(number->message(), QStringLiteral("稿件审核中"));
    EXPECT_TRUE(KRAPIErrorMeansArchiveUnavailable(number));

    EXPECT_TRUE(KRAPIErrorMeansArchiveUnavailable(KRAPIError(-404, QStringLiteral("x"))));
    EXPECT_TRUE(KRAPIClient::errorRepresentsUnavailableArchive(KRAPIError(62002, QStringLiteral("x"))));
    EXPECT_FALSE(KRAPIClient::errorRepresentsUnavailableArchive(KRAPIError(-352, QStringLiteral("x"))));
    EXPECT_FALSE(KRAPIClient::errorRepresentsUnavailableArchive(KRError(QStringLiteral("Other"), 62002, QStringLiteral("x"))));
    EXPECT_FALSE(KRAPIClient::errorRepresentsUnavailableArchive(std::nullopt));
}

} // namespace
