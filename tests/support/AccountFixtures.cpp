#include "support/AccountFixtures.h"

#include "support/ImageFixtures.h"
#include "support/ServiceSignatures.h"

#include "platform/foundation/PropertyList.h"
#include "platform/net/HTTPExchange.h"
#include "platform/security/Keychain.h"
#include "model/KRServiceHosts.h"
#include "store/KRSessionStore.h"

#include <QHash>
#include <QSet>
#include <QUrlQuery>

#include <mutex>

namespace testsupport {

namespace {

const QString kKeychainService = QStringLiteral("com.tarnwick.korvane5.session");
const QString kKeychainAccount = QStringLiteral("zantorel-web");

QVariantMap cookie(const QString& name, const QString& value)
{
    return {{QStringLiteral("name"), name}, {QStringLiteral("value"), value}};
}

QString cookieValue(const FakeRequest& request, const QString& name)
{
    for (const QString& pair : request.header(QStringLiteral("Cookie")).split(QStringLiteral("; "))) {
        if (pair.section(QLatin1Char('='), 0, 0) == name)
            return pair.section(QLatin1Char('='), 1);
    }
    return {};
}

} // namespace

QString AccountFixtures::csrfToken() { return QStringLiteral("c5rf"); }

QVariantMap AccountFixtures::loginData(const QString& access, const QString& refresh, qint64 expiresIn, qint64 userID)
{
    QVariantMap tokens{{QStringLiteral("access_token"), access}, {QStringLiteral("refresh_token"), refresh}};
    if (expiresIn > 0)
        tokens.insert(QStringLiteral("expires_in"), expiresIn);
    const QVariantList cookies{cookie(QStringLiteral("SESSDATA"), QStringLiteral("s3ssion")), cookie(QStringLiteral("DedeUserID"), QString::number(userID)),
                               cookie(QStringLiteral("zant_jct"), csrfToken())};
    return {{QStringLiteral("token_info"), tokens},
            {QStringLiteral("cookie_info"),
             QVariantMap{{QStringLiteral("cookies"), cookies}, {QStringLiteral("domains"), QVariantList{KRServiceHosts::mainDomain()}}}}};
}

void AccountFixtures::logInWebOnly(qint64 userID)
{
    platform::HTTPResponse response;
    response.status = 200;
    response.finalURL = QStringLiteral("https://") + KRServiceHosts::webHost() + QLatin1Char('/');
    const QString domain = QStringLiteral("; Domain=.") + KRServiceHosts::mainDomain() + QStringLiteral("; Path=/");
    response.headers.add(QStringLiteral("Set-Cookie"), QStringLiteral("SESSDATA=s3ssion") + domain + QStringLiteral("; Secure"));
    response.headers.add(QStringLiteral("Set-Cookie"), QStringLiteral("DedeUserID=%1").arg(userID) + domain);
    response.headers.add(QStringLiteral("Set-Cookie"), QStringLiteral("zant_jct=") + csrfToken() + domain);
    KRSessionStore::sharedStore().captureCookiesFromHTTPResponse(&response);
}

void AccountFixtures::logInAppAndWeb(qint64 expiresIn, const QString& access, const QString& refresh)
{
    KRSessionStore::sharedStore().captureAppAuthenticationFromPayload(loginData(access, refresh, expiresIn));
}

void AccountFixtures::logInAnotherAccount(qint64 userID)
{
    const QString suffix = QString::number(userID);
    KRSessionStore::sharedStore().captureAppAuthenticationFromPayload(
        loginData(QStringLiteral("acc-") + suffix, QStringLiteral("ref-") + suffix, 3600, userID));
}

void AccountFixtures::logInAppOnly(qint64 expiresAt)
{
    QVariantMap item{{QStringLiteral("cookies"), QVariantList{}},
                     {QStringLiteral("access_token"), QStringLiteral("acc-1")},
                     {QStringLiteral("refresh_token"), QStringLiteral("ref-1")},
                     {QStringLiteral("auth_schema_version"), 2},
                     {QStringLiteral("credential_generation"), 1}};
    if (expiresAt > 0)
        item.insert(QStringLiteral("access_token_expires_at"), double(expiresAt));
    platform::Keychain::remove(kKeychainService, kKeychainAccount);
    platform::Keychain::add(kKeychainService, kKeychainAccount, platform::PropertyList::toBinary(item));
    KRSessionStore::sharedStore().resetForTesting();
}

bool AccountFixtures::verifyAppSignedQuery(const FakeRequest& request, QString* why)
{
    return verifyAppSignature(request, KRServiceHosts::appSecret(), why);
}

bool AccountFixtures::verifyAppSignedForm(const FakeRequest& request, QString* why)
{
    FakeRequest asQuery = request;
    asQuery.query = QString::fromUtf8(request.body);
    asQuery.queryItems.clear();
    for (const auto& item : QUrlQuery(asQuery.query).queryItems(QUrl::FullyDecoded))
        asQuery.queryItems.append(item);
    return verifyAppSignature(asQuery, KRServiceHosts::appSecret(), why);
}

QString AccountFixtures::formValue(const FakeRequest& request, const QString& name)
{
    QUrlQuery query(QString::fromUtf8(request.body));
    if (!query.hasQueryItem(name))
        return {};
    return query.queryItemValue(name, QUrl::FullyDecoded);
}

FakeService::Handler AccountFixtures::appSigned(FakeService::Handler handler)
{
    return [handler](const FakeRequest& request) {
        QString why;
        const bool valid = request.method == QLatin1String("POST") ? verifyAppSignedForm(request, &why) : verifyAppSignedQuery(request, &why);
        if (valid)
            return handler(request);
        return FakeReply::json(QVariantMap{{QStringLiteral("code"), -403}, {QStringLiteral("message"), QStringLiteral("bad signature: ") + why}}, 403);
    };
}

FakeService::Handler AccountFixtures::csrfChecked(FakeService::Handler handler)
{
    return [handler](const FakeRequest& request) {
        const QString sent = cookieValue(request, QStringLiteral("zant_jct"));
        const bool json = request.header(QStringLiteral("Content-Type")).startsWith(QLatin1String("application/json"));
        const QString csrf = json ? request.queryValue(QStringLiteral("csrf")) : formValue(request, QStringLiteral("csrf"));
        const QString csrfToken = json ? request.queryValue(QStringLiteral("csrf_token")) : formValue(request, QStringLiteral("csrf_token"));
        if (sent.isEmpty() || csrf != sent || csrfToken != sent)
            return refusal(-111, QStringLiteral("csrf 校验失败"));
        return handler(request);
    };
}

FakeReply AccountFixtures::ok(const QVariant& data)
{
    QVariantMap reply{{QStringLiteral("code"), 0}, {QStringLiteral("message"), QStringLiteral("0")}, {QStringLiteral("ttl"), 1}};
    if (data.isValid())
        reply.insert(QStringLiteral("data"), data);
    return FakeReply::json(reply);
}

FakeReply AccountFixtures::refusal(qint64 code, const QString& message, const QVariant& data)
{
    QVariantMap reply{{QStringLiteral("code"), code}, {QStringLiteral("message"), message}};
    if (data.isValid())
        reply.insert(QStringLiteral("data"), data);
    return FakeReply::json(reply);
}

QVariantMap AccountFixtures::progressiveInfo(int quality, int segments)
{
    QVariantList durl;
    for (int i = 0; i < segments; ++i)
        durl.append(QVariantMap{{QStringLiteral("url"), QStringLiteral("https://media.%1/seg%2-%3.mp4").arg(KRServiceHosts::mainDomain()).arg(quality).arg(i)},
                                {QStringLiteral("backup_url"), QVariantList{}}});
    return {{QStringLiteral("quality"), quality},
            {QStringLiteral("durl"), durl},
            {QStringLiteral("accept_quality"), QVariantList{80, 64, 32, 16}}};
}

QVariantMap AccountFixtures::dashInfo(int quality, int codecID, bool withAudio)
{
    const QVariantMap video{{QStringLiteral("id"), quality},
                            {QStringLiteral("codecid"), codecID},
                            {QStringLiteral("codecs"), codecID == 7 ? QStringLiteral("avc1.640028") : QStringLiteral("hev1.1.6.L120.90")},
                            {QStringLiteral("base_url"), QStringLiteral("https://media.test/v.m4s")}};
    QVariantList audio;
    if (withAudio)
        audio.append(QVariantMap{{QStringLiteral("id"), 30280}, {QStringLiteral("base_url"), QStringLiteral("https://media.test/a.m4s")}});
    return {{QStringLiteral("quality"), quality},
            {QStringLiteral("dash"), QVariantMap{{QStringLiteral("video"), QVariantList{video}}, {QStringLiteral("audio"), audio}}}};
}

void AccountFixtures::routeRiskCookies(FakeService& service, bool handOut)
{
    service.route(KRServiceHosts::apiHost(), QStringLiteral("/x/frontend/finger/spi"), [handOut](const FakeRequest&) {
        if (!handOut)
            return refusal(-500, QStringLiteral("指纹服务不可用"));
        return ok(QVariantMap{{QStringLiteral("b_3"), QStringLiteral("B3-fixture")}, {QStringLiteral("b_4"), QStringLiteral("B4-fixture")}});
    });
}

AccountFixtures::Passport::Passport(FakeService& service)
{
    const QString host = KRServiceHosts::passportHost();
    service.route(host, QStringLiteral("/x/passport-tv-login/qrcode/auth_code"), appSigned([state = m_state](const FakeRequest&) {
        if (const qint64 code = state->refuseCode.load())
            return refusal(code, QStringLiteral("取码失败"));
        const int number = ++state->codes;
        state->pollsOfCode.store(0);
        return ok(QVariantMap{{QStringLiteral("auth_code"), QStringLiteral("code-%1").arg(number)},
                              {QStringLiteral("url"), QStringLiteral("https://%1/qr?code=%2").arg(KRServiceHosts::passportHost()).arg(number)}});
    }));
    service.route(host, QStringLiteral("/x/passport-tv-login/qrcode/poll"), appSigned([state = m_state](const FakeRequest& request) {
        if (state->dropping.load())
            return FakeReply{.closeWithoutReply = true};
        ++state->polls;
        if (formValue(request, QStringLiteral("auth_code")) != QStringLiteral("code-%1").arg(state->codes.load()))
            return refusal(86038, QStringLiteral("二维码已失效"));
        Stage stage = state->stage.load();
        if (state->confirmingOnItsOwn.load()) {
            const int seen = ++state->pollsOfCode;
            stage = seen <= 1 ? Stage::NotScanned : seen == 2 ? Stage::Scanned : Stage::Confirmed;
        }
        switch (stage) {
        case Stage::NotScanned:
            return refusal(86039, QStringLiteral("二维码尚未确认"));
        case Stage::Scanned:
            return refusal(86090, QStringLiteral("二维码已扫码未确认"));
        case Stage::Confirmed:
            return ok(loginData(QStringLiteral("acc-qr"), QStringLiteral("ref-qr")));
        case Stage::Expired:
            return refusal(86038, QStringLiteral("二维码已失效"));
        case Stage::Waiting:
            break;
        }
        return refusal(86101, QStringLiteral("等待中"));
    }));
}

namespace {

struct DemoAccountState {
    std::mutex lock;
    qint64 coins = 128;
    QSet<qint64> following;
    QHash<qint64, qint64> coinsGiven; // by archive id
};

bool carriesDemoSession(const FakeRequest& request)
{
    return cookieValue(request, QStringLiteral("SESSDATA")) == QLatin1String("s3ssion") ||
           request.queryValue(QStringLiteral("access_key")) == QLatin1String("acc-qr") ||
           AccountFixtures::formValue(request, QStringLiteral("access_key")) == QLatin1String("acc-qr");
}

qint64 numberOf(const FakeRequest& request, const QString& name)
{
    const QString value = request.method == QLatin1String("POST") ? AccountFixtures::formValue(request, name) : request.queryValue(name);
    return value.toLongLong();
}

} // namespace

void AccountFixtures::installDemoAccount(FakeService& service, std::function<QVariantMap(qint64 aid)> likeAndFavoriteOf)
{
    auto state = std::make_shared<DemoAccountState>();
    const QString api = KRServiceHosts::apiHost();
    const FakeReply notLoggedIn = refusal(-101, QStringLiteral("账号未登录"));

    service.route(api, QStringLiteral("/x/web-interface/nav"), [state](const FakeRequest& request) {
        QVariantMap reply = navigationReplyWithImages(fixtureWBIImageKey(), fixtureWBISubKey(), carriesDemoSession(request) ? 0 : -101);
        if (!carriesDemoSession(request))
            return FakeReply::json(reply);
        QVariantMap data = reply.value(QStringLiteral("data")).toMap();
        std::lock_guard guard(state->lock);
        data.insert(QStringLiteral("isLogin"), true);
        data.insert(QStringLiteral("mid"), kDemoAccountID);
        data.insert(QStringLiteral("uname"), QStringLiteral("演示账号"));
        data.insert(QStringLiteral("face"), ImageFixtures::avatarAddress(QString::number(kDemoAccountID)));
        data.insert(QStringLiteral("money"), state->coins);
        data.insert(QStringLiteral("level_info"), QVariantMap{{QStringLiteral("current_level"), 4}});
        data.insert(QStringLiteral("sign"), QStringLiteral("在演示服务里四处看看。"));
        reply.insert(QStringLiteral("data"), data);
        return FakeReply::json(reply);
    });
    service.route(api, QStringLiteral("/x/relation"), [state, notLoggedIn](const FakeRequest& request) {
        if (!carriesDemoSession(request))
            return notLoggedIn;
        const qint64 mid = numberOf(request, QStringLiteral("fid"));
        std::lock_guard guard(state->lock);
        return ok(QVariantMap{{QStringLiteral("mid"), mid}, {QStringLiteral("attribute"), state->following.contains(mid) ? 2 : 0}});
    });
    service.route(api, QStringLiteral("/x/relation/modify"), csrfChecked([state, notLoggedIn](const FakeRequest& request) {
        if (!carriesDemoSession(request))
            return notLoggedIn;
        const qint64 mid = numberOf(request, QStringLiteral("fid"));
        const qint64 act = numberOf(request, QStringLiteral("act"));
        if (mid < 1 || (act != 1 && act != 2))
            return refusal(-400, QStringLiteral("请求错误"));
        std::lock_guard guard(state->lock);
        if (act == 1)
            state->following.insert(mid);
        else
            state->following.remove(mid);
        return ok();
    }));
    service.route(api, QStringLiteral("/x/web-interface/archive/relation"), [state, notLoggedIn, likeAndFavoriteOf](const FakeRequest& request) {
        if (!carriesDemoSession(request))
            return notLoggedIn;
        const qint64 aid = numberOf(request, QStringLiteral("aid"));
        const QVariantMap done = likeAndFavoriteOf ? likeAndFavoriteOf(aid) : QVariantMap();
        std::lock_guard guard(state->lock);
        return ok(QVariantMap{{QStringLiteral("attention"), false},
                              {QStringLiteral("favorite"), done.value(QStringLiteral("favorite"), false)},
                              {QStringLiteral("like"), done.value(QStringLiteral("like"), false)},
                              {QStringLiteral("coin"), state->coinsGiven.value(aid)}});
    });
    auto giveCoins = [state, notLoggedIn](const FakeRequest& request) {
        if (!carriesDemoSession(request))
            return notLoggedIn;
        const qint64 aid = numberOf(request, QStringLiteral("aid"));
        const qint64 multiply = numberOf(request, QStringLiteral("multiply"));
        std::lock_guard guard(state->lock);
        if (aid < 1 || multiply < 1 || multiply > 2)
            return refusal(-400, QStringLiteral("请求错误"));
        if (state->coinsGiven.value(aid) + multiply > 2)
            return refusal(34005, QStringLiteral("超过投币上限啦~"));
        if (state->coins < multiply)
            return refusal(-104, QStringLiteral("硬币不足"));
        state->coins -= multiply;
        state->coinsGiven[aid] += multiply;
        return ok(QVariantMap{{QStringLiteral("like"), false}});
    };
    service.route(api, QStringLiteral("/x/web-interface/coin/add"), csrfChecked(giveCoins));
    service.route(KRServiceHosts::appHost(), QStringLiteral("/x/v2/view/coin/add"), appSigned(giveCoins));
}

} // namespace testsupport
