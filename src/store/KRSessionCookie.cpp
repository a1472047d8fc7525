#include "store/KRSessionCookie.h"

#include "platform/foundation/PropertyList.h"
#include "platform/net/CookieStorage.h"
#include "model/KRServiceHosts.h"
#include "model/KRTolerantValue.h"

#include <QDateTime>

#include <algorithm>

namespace {

// Seconds; expiries up to this count are relative, larger ones are Unix times.
constexpr qint64 kRelativeExpiryLimit = 999999999;

bool isTrueFlag(const QVariant& value)
{
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    return KRIsString(value) && value.toString().compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0;
}

QString textValue(const QVariant& value)
{
    return KRIsString(value) && !value.toString().isEmpty() ? value.toString() : QString();
}

bool domainLiesUnder(const QString& domain, const QString& registrable)
{
    if (registrable.isEmpty())
        return false;
    return domain == registrable || domain.endsWith(QLatin1Char('.') + registrable);
}

} // namespace

QString KRSessionCookieDomain() { return QLatin1Char('.') + KRServiceHosts::mainDomain(); }

bool KRSessionCookieBelongsToZantorel(const platform::Cookie& cookie)
{
    const QString domain = cookie.domain.toLower();
    if (domain.isEmpty())
        return false;
    return domainLiesUnder(domain, KRServiceHosts::mainDomain()) || domainLiesUnder(domain, KRServiceHosts::oldDomain());
}

std::optional<platform::Cookie> KRSessionCookie(const QString& name, const QString& value)
{
    if (name.isEmpty() || value.isEmpty() || !platform::CookieStorage::isValidNameOrValue(name) ||
        !platform::CookieStorage::isValidNameOrValue(value))
        return std::nullopt;
    platform::Cookie cookie;
    cookie.name = name;
    cookie.value = value;
    cookie.domain = KRSessionCookieDomain();
    cookie.path = QStringLiteral("/");
    return cookie;
}

QVariantMap KRSessionCookieProperties(const platform::Cookie& cookie)
{
    QVariantMap properties;
    properties.insert(QStringLiteral("Name"), cookie.name);
    properties.insert(QStringLiteral("Value"), cookie.value);
    properties.insert(QStringLiteral("Domain"), cookie.domain);
    properties.insert(QStringLiteral("Path"), cookie.path.isEmpty() ? QStringLiteral("/") : cookie.path);
    if (cookie.expires && cookie.expires->isValid())
        properties.insert(QStringLiteral("Expires"), cookie.expires->toUTC());
    if (cookie.secure)
        properties.insert(QStringLiteral("Secure"), QStringLiteral("TRUE"));
    if (cookie.httpOnly)
        properties.insert(QStringLiteral("HttpOnly"), QStringLiteral("TRUE"));
    return properties;
}

std::optional<platform::Cookie> KRSessionCookieFromProperties(const QVariantMap& properties)
{
    const QVariant name = properties.value(QStringLiteral("Name"));
    const QVariant value = properties.value(QStringLiteral("Value"));
    const QVariant domain = properties.value(QStringLiteral("Domain"));
    if (!KRIsString(name) || !KRIsString(value) || !KRIsString(domain))
        return std::nullopt;
    if (name.toString().isEmpty() || domain.toString().isEmpty())
        return std::nullopt;
    // Such a cookie would break every signed-in request, and one kept before now is dropped
    // as the keychain item is read.
    if (!platform::CookieStorage::isValidNameOrValue(name.toString()) ||
        !platform::CookieStorage::isValidNameOrValue(value.toString()) ||
        !platform::CookieStorage::isValidNameOrValue(domain.toString()))
        return std::nullopt;

    platform::Cookie cookie;
    cookie.name = name.toString();
    cookie.value = value.toString();
    cookie.domain = domain.toString();
    cookie.hostOnly = !cookie.domain.startsWith(QLatin1Char('.'));
    const QVariant path = properties.value(QStringLiteral("Path"));
    cookie.path = KRIsString(path) && !path.toString().isEmpty() ? path.toString() : QStringLiteral("/");
    if (!platform::CookieStorage::isValidNameOrValue(cookie.path))
        return std::nullopt;

    const QVariant expires = properties.value(QStringLiteral("Expires"));
    if (expires.isValid()) {
        // An expiry that cannot be read must not turn the cookie into one that never expires.
        if (expires.typeId() != QMetaType::QDateTime || !expires.toDateTime().isValid())
            return std::nullopt;
        cookie.expires = expires.toDateTime().toUTC();
    }
    cookie.secure = isTrueFlag(properties.value(QStringLiteral("Secure")));
    cookie.httpOnly = isTrueFlag(properties.value(QStringLiteral("HttpOnly")));
    return cookie;
}

QDateTime KRSessionDateFromUnix(double seconds)
{
    constexpr double kLatest = 253402300799.0; // 9999-12-31
    return QDateTime::fromMSecsSinceEpoch(qint64(std::clamp(seconds, -kLatest, kLatest) * 1000.0), Qt::UTC);
}

QList<platform::Cookie> KRSessionSharedGaiaCookies(const QDateTime& now)
{
    QList<platform::Cookie> found;
    for (const platform::Cookie& cookie : platform::CookieStorage::shared().cookies()) {
        if (cookie.name == KRSessionGaiaCookieName && KRSessionCookieBelongsToZantorel(cookie) && !cookie.isExpired(now))
            found.append(cookie);
    }
    return found;
}

KRSessionCookieMap KRSessionServiceCookiesByName(const QList<platform::Cookie>& cookies)
{
    KRSessionCookieMap byName;
    for (const platform::Cookie& cookie : cookies) {
        if (KRSessionCookieBelongsToZantorel(cookie))
            byName.insert(cookie.name, cookie);
    }
    return byName;
}

void KRSessionInstallSharedCookies(const QList<platform::Cookie>& oldCookies, const QList<platform::Cookie>& newCookies)
{
    platform::CookieStorage& storage = platform::CookieStorage::shared();
    for (const platform::Cookie& cookie : oldCookies)
        storage.deleteCookie(cookie);
    for (const platform::Cookie& cookie : newCookies)
        storage.setCookie(cookie);
}

std::optional<QVariantMap> KRSessionCookieStorableProperties(const platform::Cookie& cookie)
{
    // An expiry past the last date a property list holds is kept at that date, so one
    // far-future cookie never stops the whole session from being saved.
    static const QDateTime kLatestStorable(QDate(2069, 1, 1), QTime(0, 0), Qt::UTC);
    platform::Cookie copy = cookie;
    if (copy.expires && copy.expires->isValid() && *copy.expires > kLatestStorable)
        copy.expires = kLatestStorable;
    QVariantMap properties = KRSessionCookieProperties(copy);
    if (!platform::PropertyList::isRepresentable(properties))
        return std::nullopt;
    return properties;
}

KRSessionCookieMap KRSessionCookiesFromLoginPayload(const QVariantMap& payload, double now)
{
    const QVariant cookieInfo = payload.value(QStringLiteral("cookie_info"));
    const QVariantMap info = KRIsDictionary(cookieInfo) ? cookieInfo.toMap() : QVariantMap();
    const QVariant cookiesValue = info.value(QStringLiteral("cookies"));
    const QVariant domainsValue = info.value(QStringLiteral("domains"));
    const QVariantList entries = KRIsArray(cookiesValue) ? cookiesValue.toList() : QVariantList();
    const QVariantList domains = KRIsArray(domainsValue) ? domainsValue.toList() : QVariantList();

    QString domain = KRSessionCookieDomain();
    for (const QVariant& entry : domains) {
        if (!KRIsString(entry))
            continue;
        if (domainLiesUnder(entry.toString().toLower(), KRServiceHosts::mainDomain())) {
            domain = entry.toString();
            if (!domain.startsWith(QLatin1Char('.')))
                domain.prepend(QLatin1Char('.'));
            break;
        }
    }

    KRSessionCookieMap byName;
    for (const QVariant& entryValue : entries) {
        if (!KRIsDictionary(entryValue))
            continue;
        const QVariantMap entry = entryValue.toMap();
        const QString name = textValue(entry.value(QStringLiteral("name")));
        const QString value = textValue(entry.value(QStringLiteral("value")));
        if (name.isEmpty() || value.isEmpty())
            continue;
        QVariantMap properties{{QStringLiteral("Name"), name},
                               {QStringLiteral("Value"), value},
                               {QStringLiteral("Domain"), domain},
                               {QStringLiteral("Path"), QStringLiteral("/")}};
        qint64 expires = KRLongLong(entry.value(QStringLiteral("expires")));
        if (expires <= 0)
            expires = KRLongLong(entry.value(QStringLiteral("expires_in")));
        if (expires >= 1) {
            const double at = expires <= kRelativeExpiryLimit ? now + double(expires) : double(expires);
            properties.insert(QStringLiteral("Expires"), KRSessionDateFromUnix(at));
        }
        if (KRBoolean(entry.value(QStringLiteral("secure"))))
            properties.insert(QStringLiteral("Secure"), QStringLiteral("TRUE"));
        const std::optional<platform::Cookie> cookie = KRSessionCookieFromProperties(properties);
        if (cookie && KRSessionCookieBelongsToZantorel(*cookie))
            byName.insert(cookie->name, *cookie);
    }
    return byName;
}
