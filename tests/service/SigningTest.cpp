#include "service/ServiceClientTesting.h"

#include "service/KRAPIQuery.h"
#include "service/KRAPISigning.h"

#include "support/ServiceSignatures.h"

#include <QCryptographicHash>
#include <QUrlQuery>

using namespace servicetest;

namespace {

constexpr double kPinnedNow = 1700000000.75;
const QString kNavigation = QStringLiteral("/x/web-interface/nav");

QString md5(const QString& text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex());
}

QStringList queryKeys(const QString& url)
{
    QStringList keys;
    for (const auto& item : QUrlQuery(QUrl(url).query()).queryItems())
        keys.append(item.first);
    return keys;
}

class SigningTest : public ServiceClientTest {
protected:
    void SetUp() override
    {
        ServiceClientTest::SetUp();
        setNow(kPinnedNow);
    }
    void setNow(double seconds)
    {
        now = seconds;
        KRAPIClient::setClockForTesting([this] { return now; });
    }
    OutcomeRef<QString> loadKey(bool force = false, bool* insideCall = nullptr)
    {
        return run<QString>([&](auto done) { client()->loadWBIMixinKeyForceRefresh(force, liveOwner(), done); }, insideCall);
    }
    OutcomeRef<QVariantMap> sign(const QVariantMap& parameters, bool* insideCall = nullptr)
    {
        return run<QVariantMap>([&](auto done) { client()->signWBIParameters(parameters, liveOwner(), done); }, insideCall);
    }
    int navigationRequests() const { return int(requestsTo(kNavigation).size()); }

    double now = 0;
};

TEST(QueryEncodingTest, EscapesAllButUnreservedAndSortsKeysByCharacterCode)
{
    EXPECT_EQ(KRPercentEscapedQueryValue(QString()), QStringLiteral(""));
    EXPECT_EQ(KRPercentEscapedQueryValue(QStringLiteral("Az09-._~")), QStringLiteral("Az09-._~"));
    EXPECT_EQ(KRPercentEscapedQueryValue(QStringLiteral(":/?#[]@!$&'()*+,;=%")),
              QStringLiteral("%3A%2F%3F%23%5B%5D%40%21%24%26%27%28%29%2A%2B%2C%3B%3D%25"));
    EXPECT_EQ(KRPercentEscapedQueryValue(QStringLiteral("木 工")), QStringLiteral("%E6%9C%A8%20%E5%B7%A5"));

    EXPECT_EQ(KRQueryStringFromParameters({}), QStringLiteral(""));
    const QVariantMap parameters{{QStringLiteral("b"), 1},
                                 {QStringLiteral("B"), 9007199254740993LL},
                                 {QStringLiteral("a"), QStringLiteral("x y")},
                                 {QStringLiteral("c"), 2.5},
                                 {QStringLiteral("d"), true}};
    EXPECT_EQ(KRQueryStringFromParameters(parameters), QStringLiteral("B=9007199254740993&a=x%20y&b=1&c=2.5&d=1"));
}

TEST_F(SigningTest, WebSignatureFiltersValuesAddsTimeAndDigest)
{
    const QString key = testsupport::fixtureWBIMixinKey();
    EXPECT_TRUE(KRWBISignedParameters({{QStringLiteral("a"), 1}}, QString()).isEmpty());
    const QVariantMap signedParameters = KRWBISignedParameters({{QStringLiteral("keyword"), QStringLiteral("a(b)*c!'d 木")},
                                                                {QStringLiteral("page"), 2},
                                                                {QStringLiteral("gone"), QVariant::fromValue(nullptr)},
                                                                {QStringLiteral("wts"), QStringLiteral("1")}},
                                                               key);
    EXPECT_EQ(signedParameters,
              (QVariantMap{{QStringLiteral("keyword"), QStringLiteral("abcd 木")},
                           {QStringLiteral("page"), QStringLiteral("2")},
                           {QStringLiteral("wts"), QStringLiteral("1700000000")},
                           {QStringLiteral("w_rid"), md5(QStringLiteral("keyword=abcd%20%E6%9C%A8&page=2&wts=1700000000") + key)}}));

    // A value without a text form is sent empty, and the time is still added.
    const QVariantMap odd = KRWBISignedParameters({{QStringLiteral("list"), QVariantList{1, 2}}}, key);
    EXPECT_EQ(odd.value(QStringLiteral("list")).toString(), QStringLiteral(""));
    EXPECT_EQ(odd.value(QStringLiteral("w_rid")).toString(), md5(QStringLiteral("list=&wts=1700000000") + key));

    EXPECT_TRUE(KRWBISignedURLString(QString(), {}, key).isNull());
    EXPECT_TRUE(KRWBISignedURLString(apiURL(QStringLiteral("/x")), {}, QString()).isNull());
    const QString url = KRWBISignedURLString(apiURL(QStringLiteral("/x/v2/reply/wbi/main")),
                                             {{QStringLiteral("oid"), 170001}, {QStringLiteral("type"), 1}}, key);
    EXPECT_TRUE(url.startsWith(apiURL(QStringLiteral("/x/v2/reply/wbi/main?"))));
    EXPECT_EQ(queryKeys(url), (QStringList{"oid", "type", "w_rid", "wts"}));
}

TEST_F(SigningTest, MixinKeyComesFromNavigationImagesAndIsReusedFor600Seconds)
{
    EXPECT_EQ(KRWBIFileKey(QStringLiteral("https://i0.img.test/bfs/wbi/") + testsupport::fixtureWBIImageKey() + ".png"),
              testsupport::fixtureWBIImageKey());
    bool insideCall = true;
    const auto first = loadKey(false, &insideCall);
    EXPECT_FALSE(insideCall);
    EXPECT_FALSE(first->error) << "the key counts even though the reply's code says logged out";
    EXPECT_EQ(first->value, testsupport::fixtureWBIMixinKey());

    setNow(kPinnedNow + 599.9);
    const auto signedReply = sign({{QStringLiteral("mid"), 7001}}, &insideCall);
    EXPECT_TRUE(insideCall);
    EXPECT_FALSE(signedReply->error);
    EXPECT_EQ(signedReply->value.value(QStringLiteral("wts")).toString(), QStringLiteral("1700000600"));
    EXPECT_EQ(navigationRequests(), 1) << "no second navigation request within 600 s";

    // At 600 s exactly, with the clock set back before the key was stored, or forced: asked again.
    for (const double at : {kPinnedNow + 600, kPinnedNow}) {
        setNow(at);
        loadKey(false, &insideCall);
        EXPECT_FALSE(insideCall);
    }
    loadKey(true, &insideCall);
    EXPECT_FALSE(insideCall);
    EXPECT_EQ(navigationRequests(), 4);
}

TEST_F(SigningTest, MissingKeyGivesItsErrors)
{
    serveJSON(kNavigation, R"({"code":0,"data":{"isLogin":false}})");
    const auto noImages = loadKey();
    EXPECT_TRUE(noImages->value.isNull());
    expectError(noImages->error, -6, QStringLiteral("无法取得评论签名参数"));

    // Names too short to make 64 characters.
    serve(kNavigation, FakeReply::json(testsupport::navigationReplyWithImages(QStringLiteral("abc"), QStringLiteral("def"))));
    const auto shortKey = sign({{QStringLiteral("a"), 1}});
    EXPECT_TRUE(shortKey->value.isEmpty());
    expectError(shortKey->error, -6);

    serve(kNavigation, FakeReply::withStatus(502));
    const auto failed = sign({{QStringLiteral("a"), 1}});
    EXPECT_TRUE(failed->value.isEmpty());
    expectError(failed->error, 502); // the request's own error passes through
}

TEST_F(SigningTest, ServiceAcceptsTheWebSignatureAndRefusesAForgedOne)
{
    // The fixture's comment route checks the signature; an address outside the response cache,
    // so a refusal is not covered by an earlier answer.
    const QString path = QStringLiteral("/x/v2/reply/wbi/main");
    const QVariantMap parameters{{QStringLiteral("oid"), 170001},
                                 {QStringLiteral("keyword"), QStringLiteral("木工 (入门)!")},
                                 {QStringLiteral("next"), 2}};
    EXPECT_FALSE(runJSON(KRWBISignedURLString(apiURL(path), parameters, loadKey()->value))->error);
    expectError(runJSON(KRWBISignedURLString(apiURL(path), parameters, QString(32, QLatin1Char('0'))))->error, 403);
    EXPECT_EQ(requestsTo(path).first().queryValue(QStringLiteral("keyword")), QStringLiteral("木工 入门"));
}

TEST_F(SigningTest, AppSignatureListsItsFieldsInOrderAndTheServiceAcceptsIt)
{
    EXPECT_TRUE(KRAppSignedURLString(QString(), {}).isNull());
    const QString base = QStringLiteral("https://") + KRServiceHosts::appHost() + QStringLiteral("/x/v2/space/archive/cursor");
    const QString url = KRAppSignedURLString(base, {{QStringLiteral("vmid"), 1}, {QStringLiteral("ts"), 5}});
    EXPECT_EQ(queryKeys(url), (QStringList{"appkey", "build", "device", "mobi_app", "platform", "sign", "ts", "vmid"}));
    const QString signedText = QStringLiteral("appkey=%1&build=82200200&device=phone&mobi_app=iphone&platform=ios&ts=1700000000&vmid=1")
                                   .arg(KRPercentEscapedQueryValue(KRServiceHosts::appKey()));
    EXPECT_EQ(QUrlQuery(QUrl(url).query()).queryItemValue(QStringLiteral("sign")), md5(signedText + KRServiceHosts::appSecret()));

    // The fixture route answers only a correct signature; a changed value breaks it.
    EXPECT_FALSE(runJSON(url)->error);
    FakeRequest tampered = fake.requests().last();
    tampered.query.replace(QStringLiteral("vmid=1"), QStringLiteral("vmid=2"));
    EXPECT_FALSE(testsupport::verifyAppSignature(tampered, KRServiceHosts::appSecret()));
}

} // namespace
