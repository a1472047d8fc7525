// The session store driven by replies: logins and refreshes with any tokens and cookies,
// Set-Cookie lines, captcha tokens, invalidations and logouts, in any order. After each step
// the Cookie header every signed-in request carries holds no control character, and a new
// process reads back the login the store shows.
#include "FuzzApplication.h"
#include "FuzzInput.h"
#include "SessionCheck.h"

#include "model/KRServiceHosts.h"
#include "platform/net/CookieStorage.h"
#include "platform/net/HTTPExchange.h"
#include "store/KRSessionStore.h"

#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

namespace {

KRSessionStore& store() { return KRSessionStore::sharedStore(); }

QString text(fuzz::InputReader& input, int maximum) { return QString::fromUtf8(input.chunk(maximum)); }

QVariantMap cookieEntry(const QString& name, const QString& value) { return {{"name", name}, {"value", value}}; }

// A QR-login or refresh answer with the input's tokens and cookies.
QVariantMap loginReply(fuzz::InputReader& input)
{
    const QString access = text(input, 24);
    const QString refresh = text(input, 24);
    const QString session = text(input, 16);
    const QString member = QString::number(input.byte());
    const QString extraName = text(input, 8);
    const QString extraValue = text(input, 16);
    const QVariantList cookies{cookieEntry("SESSDATA", session), cookieEntry("DedeUserID", member),
                               cookieEntry(extraName, extraValue)};
    return {{"token_info", QVariantMap{{"access_token", access}, {"refresh_token", refresh}, {"expires_in", 3600}}},
            {"cookie_info", QVariantMap{{"cookies", cookies}, {"domains", QVariantList{KRServiceHosts::mainDomain()}}}}};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::application();
    store().clearSession();
    fuzz::restartSession();
    fuzz::InputReader input(data, size);
    for (int step = 0; step < 8 && !input.atEnd(); ++step) {
        switch (input.byte() % 6) {
        case 0:
            store().captureAppAuthenticationFromPayload(loginReply(input));
            break;
        case 1:
            store().replaceAppAuthenticationFromRefreshPayload(loginReply(input), store().credentialGeneration());
            break;
        case 2: {
            platform::HTTPResponse response;
            response.status = 200;
            response.finalURL = QStringLiteral("https://%1/x/web-interface/nav").arg(KRServiceHosts::apiHost());
            for (const QByteArray& line : input.chunk(96).split('\n'))
                response.headers.add(QStringLiteral("Set-Cookie"), QString::fromUtf8(line));
            store().captureCookiesFromHTTPResponse(&response);
            break;
        }
        case 3:
            store().installEphemeralGaiaToken(text(input, 24));
            break;
        case 4:
            store().invalidateAppAuthenticationForCredentialGeneration(store().credentialGeneration());
            break;
        default:
            store().clearSession();
            break;
        }
        const QString header = store().cookieHeader();
        fuzz::check(!fuzz::holdsControlCharacter(header), "the Cookie header holds no control character");
        fuzz::check(!fuzz::holdsControlCharacter(
                        platform::CookieStorage::shared().cookieHeaderForURL(QStringLiteral("https://%1/").arg(KRServiceHosts::apiHost()))),
                    "the shared cookies hold no control character");
        const fuzz::SessionLogin shown = fuzz::sessionLogin();
        fuzz::restartSession();
        fuzz::check(fuzz::sessionLogin() == shown, "a new process signs in the account the store showed");
    }
    return 0;
}
