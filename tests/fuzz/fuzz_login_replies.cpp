// The replies that sign in and the replies of writes, through the account client's envelope:
// a QR login poll (any code, any data), a token refresh (any tokens, cookies of any host)
// over a signed-in session, and a write's answer (any code, message, data, risk-control
// challenge). A poll or refresh that is not taken leaves the session as it was (or, with a
// token already expired, signed in by its cookies alone); one that is taken signs in a
// member with a Cookie header free of control characters; a write's answer always has a
// message, and a refusal's never says it succeeded.
#include "FuzzApplication.h"
#include "FuzzInput.h"
#include "SessionCheck.h"

#include "account/KRAccountClient.h"
#include "model/KRJSON.h"
#include "model/KRServiceHosts.h"
#include "model/KRTolerantValue.h"
#include "platform/net/CookieStorage.h"
#include "platform/net/HTTPExchange.h"
#include "store/KRSessionStore.h"

namespace {

const int kStatuses[] = {200, 200, 200, 412, 500, 204};

KRSessionStore& store() { return KRSessionStore::sharedStore(); }

// The session as a reply leaves it: the login, the cookies it sends and its generation.
struct Session {
    fuzz::SessionLogin login;
    QString cookies;
    qint32 generation;
    bool operator==(const Session&) const = default;
};

Session session() { return {fuzz::sessionLogin(), store().cookieHeader(), store().credentialGeneration()}; }

// The signed-in session a refresh starts from, the same before every input.
void signIn()
{
    static const QVariantMap reply{
        {QStringLiteral("token_info"), QVariantMap{{QStringLiteral("access_token"), QStringLiteral("access-before")},
                                                   {QStringLiteral("refresh_token"), QStringLiteral("refresh-before")},
                                                   {QStringLiteral("expires_in"), 3600}}},
        {QStringLiteral("cookie_info"),
         QVariantMap{{QStringLiteral("cookies"),
                      QVariantList{QVariantMap{{QStringLiteral("name"), QStringLiteral("SESSDATA")}, {QStringLiteral("value"), QStringLiteral("s1")}},
                                   QVariantMap{{QStringLiteral("name"), QStringLiteral("DedeUserID")}, {QStringLiteral("value"), QStringLiteral("4242")}},
                                   QVariantMap{{QStringLiteral("name"), QStringLiteral("zant_jct")}, {QStringLiteral("value"), QStringLiteral("c1")}}}}}}};
    if (!store().captureAppAuthenticationFromPayload(reply))
        fuzz::fail("the session starts signed in");
}

void checkTakenOrUnchanged(bool taken, const Session& before)
{
    if (!taken) {
        // The store answers whether the token it took is usable: a login whose token has
        // already expired is kept for its cookies and answered false.
        const bool keptExpired = store().isLoggedIn() && store().hasAppAccessToken() && !store().appAccessTokenUsable();
        fuzz::check(session() == before || keptExpired, "a reply not taken leaves the session as it was");
        return;
    }
    fuzz::check(store().isLoggedIn() && store().userID() >= 1, "a reply taken signs in a member");
    fuzz::check(!store().accessToken().isEmpty(), "a reply taken leaves an access token");
    fuzz::check(!fuzz::holdsControlCharacter(store().cookieHeader()), "the Cookie header holds no control character");
}

void poll(const QVariant& json, const KROptionalError& error)
{
    store().clearSession();
    platform::CookieStorage::shared().deleteAll();
    const Session before = session();
    const QVariantMap result = KRAccountQRPollResult(json);
    fuzz::check(result.contains(QStringLiteral("code")), "a poll's result has its code");
    const qint64 code = result.value(QStringLiteral("code")).toLongLong();
    if (KRAccountQRPollIsWaiting(code) || error) {
        fuzz::check(session() == before, "a waiting or failed poll signs nobody in");
        return;
    }
    const QVariant data = json.toMap().value(QStringLiteral("data"));
    const bool taken = store().captureAppAuthenticationFromPayload(KRIsDictionary(data) ? data : QVariant());
    checkTakenOrUnchanged(taken, before);
}

void refresh(const QVariant& json, const KROptionalError& error)
{
    signIn();
    const Session before = session();
    if (error)
        return;
    const QVariant data = KRIsDictionary(json) ? json.toMap().value(QStringLiteral("data")) : QVariant();
    if (!KRIsDictionary(data))
        return;
    const bool taken = store().replaceAppAuthenticationFromRefreshPayload(data, before.generation);
    checkTakenOrUnchanged(taken, before);
    if (taken)
        fuzz::check(!store().refreshToken().isEmpty(), "a refresh taken leaves a refresh token");
}

void action(const QVariant& json, const platform::HTTPResponse& response, const KROptionalError& error)
{
    const KRAccountActionOutcome outcome = KRAccountActionOutcomeOfReply(json, &response, error);
    fuzz::check(!outcome.message.isEmpty(), "a write's answer has a message");
    fuzz::check(outcome.success == !error.has_value(), "a write succeeds exactly when its reply is sound");
    if (!outcome.success && outcome.data.isValid())
        fuzz::check(outcome.data.toMap().contains(QStringLiteral("server_code")), "a refusal names its code");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::application();
    fuzz::InputReader input(data, size);
    const uint8_t mode = input.byte();
    platform::HTTPResponse response;
    response.status = kStatuses[(mode >> 2) % std::size(kStatuses)];
    if (mode & 0x80)
        response.headers.add(QStringLiteral("X-Zant-Gaia-VVoucher"), QString::fromUtf8(input.chunk(24)));
    response.finalURL = QStringLiteral("https://%1/x/passport-tv-login/qrcode/poll").arg(KRServiceHosts::passportHost());
    response.body = input.rest();
    QVariant json;
    const KROptionalError error = KRAccountErrorOfReply(response, json);
    switch (mode % 3) {
    case 0: poll(json, error); break;
    case 1: refresh(json, error); break;
    default: action(json, response, error); break;
    }
    return 0;
}
