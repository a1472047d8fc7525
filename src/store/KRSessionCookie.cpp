#include "store/KRSessionCookie.h"

#include "platform/net/CookieStorage.h"
#include "service/KRServiceHosts.h"

#include <QDateTime>

namespace {

bool isText(const QVariant& value) { return value.typeId() == QMetaType::QString; }

bool isTrueFlag(const QVariant& value)
{
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    return isText(value) && value.toString().compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0;
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
    if (name.isEmpty() || value.isEmpty())
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
    if (!isText(name) || !isText(value) || !isText(domain))
        return std::nullopt;
    if (name.toString().isEmpty() || domain.toString().isEmpty())
        return std::nullopt;

    platform::Cookie cookie;
    cookie.name = name.toString();
    cookie.value = value.toString();
    cookie.domain = domain.toString();
    cookie.hostOnly = !cookie.domain.startsWith(QLatin1Char('.'));
    const QVariant path = properties.value(QStringLiteral("Path"));
    cookie.path = isText(path) && !path.toString().isEmpty() ? path.toString() : QStringLiteral("/");

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
