// The session's keychain item when damaged or foreign: any bytes, or an item built from the
// input (cookies of any host, names, values, paths and expiries of any type, tokens of any
// type, the older cookie-array layout). Restoring signs in no cookie of another host and no
// Cookie header with a control character, and what was restored is saved and restored again
// alike.
#include "FuzzApplication.h"
#include "FuzzInput.h"
#include "SessionCheck.h"

#include "model/KRServiceHosts.h"
#include "platform/foundation/PropertyList.h"
#include "platform/net/CookieStorage.h"
#include "platform/net/HTTPExchange.h"
#include "platform/security/Keychain.h"
#include "store/KRSessionCookie.h"
#include "store/KRSessionStore.h"

#include <QDateTime>

namespace {

const QString kService = QStringLiteral("com.tarnwick.korvane5.session");
const QString kAccount = QStringLiteral("zantorel-web");

KRSessionStore& store() { return KRSessionStore::sharedStore(); }

QString textFrom(fuzz::InputReader& input, const char* const* known, size_t count)
{
    const uint8_t pick = input.byte();
    if (pick % (count + 1) == count)
        return QString::fromUtf8(input.chunk(16));
    return QString::fromUtf8(known[pick % (count + 1)]);
}

QVariant anyValue(fuzz::InputReader& input, const QString& text)
{
    switch (input.byte() % 6) {
    case 0: return qint64(input.integer());
    case 1: return QDateTime::fromSecsSinceEpoch(qint64(input.integer() % 8000000000ULL) - 1000000000LL, Qt::UTC);
    case 2: return input.chunk(8);
    case 3: return QVariantList{text};
    case 4: return double(qint64(input.integer())) / 1000.0;
    default: return text;
    }
}

const char* const kNames[] = {"SESSDATA", "DedeUserID", "zant_jct", "DedeUserID__ckMd5", "buvid3", "x-zant-gaia-vtoken", "sid"};
const char* const kDomains[] = {".zantorel.test", "api.zantorel.test", ".example.test", "zantorel.test.evil", ".test", "."};
const char* const kValues[] = {"abc%2C123", "7", "0", "-1", "", "a b", "x\r\ny"};

QVariantMap cookieFrom(fuzz::InputReader& input)
{
    QVariantMap cookie;
    const uint8_t shape = input.byte();
    const QString name = textFrom(input, kNames, std::size(kNames));
    cookie.insert(QStringLiteral("Name"), shape & 1 ? anyValue(input, name) : QVariant(name));
    const QString value = textFrom(input, kValues, std::size(kValues));
    cookie.insert(QStringLiteral("Value"), shape & 2 ? anyValue(input, value) : QVariant(value));
    QString domain = textFrom(input, kDomains, std::size(kDomains));
    domain.replace(QStringLiteral("zantorel.test"), KRServiceHosts::mainDomain());
    cookie.insert(QStringLiteral("Domain"), shape & 4 ? anyValue(input, domain) : QVariant(domain));
    if (shape & 8)
        cookie.insert(QStringLiteral("Path"), anyValue(input, QString::fromUtf8(input.chunk(8))));
    if (shape & 16)
        cookie.insert(QStringLiteral("Expires"), anyValue(input, QStringLiteral("2030")));
    if (shape & 32)
        cookie.insert(QStringLiteral("Secure"), anyValue(input, QStringLiteral("TRUE")));
    if (shape & 64)
        cookie.insert(QString::fromUtf8(input.chunk(8)), anyValue(input, QString()));
    return cookie;
}

QByteArray itemFrom(fuzz::InputReader& input, uint8_t mode)
{
    QVariantList cookies;
    for (int count = input.byte() % 6; count > 0 && !input.atEnd(); --count)
        cookies.append(cookieFrom(input));
    if (mode & 2)
        return platform::PropertyList::toBinary(cookies);  // the older layout
    QVariantMap item{{QStringLiteral("cookies"), cookies}};
    for (const char* key : {"access_token", "refresh_token", "access_token_expires_at", "auth_schema_version",
                            "credential_generation"}) {
        if (input.byte() & 1)
            item.insert(QLatin1String(key), anyValue(input, QString::fromUtf8(input.chunk(12))));
    }
    return mode & 4 ? platform::PropertyList::toXML(item) : platform::PropertyList::toBinary(item);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::application();
    fuzz::InputReader input(data, size);
    const uint8_t mode = input.byte();
    const QByteArray item = (mode & 1) ? input.rest() : itemFrom(input, mode);
    if (platform::Keychain::update(kService, kAccount, item) == platform::Keychain::errSecItemNotFound)
        platform::Keychain::add(kService, kAccount, item);
    fuzz::restartSession();

    const QString header = store().cookieHeader();
    fuzz::check(!fuzz::holdsControlCharacter(header), "a restored Cookie header holds no control character");
    for (const platform::Cookie& cookie : platform::CookieStorage::shared().cookies())
        fuzz::check(KRSessionCookieBelongsToZantorel(cookie), "only the service's cookies are restored");
    fuzz::check(!store().isLoggedIn() || store().userID() >= 1, "a restored login names its member");

    // Saved again as it is (an empty Set-Cookie answer changes nothing), then restored.
    const fuzz::SessionLogin shown = fuzz::sessionLogin();
    platform::HTTPResponse nothing;
    nothing.status = 200;
    nothing.finalURL = QStringLiteral("https://%1/").arg(KRServiceHosts::apiHost());
    store().captureCookiesFromHTTPResponse(&nothing);
    fuzz::check(fuzz::sessionLogin() == shown && store().cookieHeader() == header, "saving the restored session changes nothing");
    fuzz::restartSession();
    fuzz::check(fuzz::sessionLogin() == shown && store().cookieHeader() == header, "a restored session is restored again alike");
    return 0;
}
