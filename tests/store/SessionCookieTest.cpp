#include "platform/net/CookieStorage.h"
#include "service/KRServiceHosts.h"
#include "store/KRSessionCookie.h"

#include <QDateTime>

#include <gtest/gtest.h>

namespace {

platform::Cookie cookieWithDomain(const QString& domain)
{
    platform::Cookie cookie;
    cookie.name = QStringLiteral("n");
    cookie.value = QStringLiteral("v");
    cookie.domain = domain;
    return cookie;
}

} // namespace

TEST(SessionCookie, BelongsOnlyUnderTheServiceDomains)
{
    const QString main = KRServiceHosts::mainDomain();
    const QString old = KRServiceHosts::oldDomain();
    EXPECT_TRUE(KRSessionCookieBelongsToZantorel(cookieWithDomain(main)));
    EXPECT_TRUE(KRSessionCookieBelongsToZantorel(cookieWithDomain(QLatin1Char('.') + main)));
    EXPECT_TRUE(KRSessionCookieBelongsToZantorel(cookieWithDomain(QStringLiteral("API.") + main.toUpper())));
    EXPECT_TRUE(KRSessionCookieBelongsToZantorel(cookieWithDomain(QStringLiteral(".play.") + old)));
    EXPECT_TRUE(KRSessionCookieBelongsToZantorel(cookieWithDomain(old)));

    // A look-alike that merely ends with the same letters is someone else's.
    EXPECT_FALSE(KRSessionCookieBelongsToZantorel(cookieWithDomain(QStringLiteral("evil") + main)));
    EXPECT_FALSE(KRSessionCookieBelongsToZantorel(cookieWithDomain(main + QStringLiteral(".evil.test"))));
    EXPECT_FALSE(KRSessionCookieBelongsToZantorel(cookieWithDomain(QString())));
}

TEST(SessionCookie, MadeCookiesAreSessionCookiesOfTheMainDomain)
{
    const auto cookie = KRSessionCookie(QStringLiteral("buvid3"), QStringLiteral("x"));
    ASSERT_TRUE(cookie);
    EXPECT_EQ(cookie->domain, QLatin1Char('.') + KRServiceHosts::mainDomain());
    EXPECT_EQ(cookie->path, QStringLiteral("/"));
    EXPECT_FALSE(cookie->expires);
    EXPECT_FALSE(KRSessionCookie(QString(), QStringLiteral("x")));
    EXPECT_FALSE(KRSessionCookie(QStringLiteral("buvid3"), QString()));
}

TEST(SessionCookie, PropertiesRoundTrip)
{
    platform::Cookie cookie = cookieWithDomain(QStringLiteral("api.") + KRServiceHosts::mainDomain());
    cookie.path = QStringLiteral("/x");
    cookie.expires = QDateTime::fromSecsSinceEpoch(2000000000, Qt::UTC);
    cookie.secure = true;
    cookie.httpOnly = true;

    const QVariantMap properties = KRSessionCookieProperties(cookie);
    EXPECT_EQ(properties.value(QStringLiteral("Secure")).toString(), QStringLiteral("TRUE"));
    EXPECT_EQ(properties.value(QStringLiteral("Expires")).toDateTime(), *cookie.expires);

    const auto back = KRSessionCookieFromProperties(properties);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->name, cookie.name);
    EXPECT_EQ(back->value, cookie.value);
    EXPECT_EQ(back->domain, cookie.domain);
    EXPECT_EQ(back->path, cookie.path);
    EXPECT_EQ(back->expires, cookie.expires);
    EXPECT_TRUE(back->secure);
    EXPECT_TRUE(back->httpOnly);
    EXPECT_TRUE(back->isHostOnly());

    const QVariantMap plain = KRSessionCookieProperties(*KRSessionCookie(QStringLiteral("a"), QStringLiteral("b")));
    EXPECT_FALSE(plain.contains(QStringLiteral("Expires")));
    EXPECT_FALSE(plain.contains(QStringLiteral("Secure")));
}

TEST(SessionCookie, PropertiesThatDoNotMakeACookie)
{
    const QVariantMap good{{QStringLiteral("Name"), QStringLiteral("a")},
                           {QStringLiteral("Value"), QStringLiteral("")},
                           {QStringLiteral("Domain"), QStringLiteral(".d.test")}};
    EXPECT_TRUE(KRSessionCookieFromProperties(good)); // an empty value is still a cookie

    for (const QString& key : {QStringLiteral("Name"), QStringLiteral("Value"), QStringLiteral("Domain")}) {
        QVariantMap missing = good;
        missing.remove(key);
        EXPECT_FALSE(KRSessionCookieFromProperties(missing)) << key.toStdString();
        QVariantMap wrongType = good;
        wrongType.insert(key, 7);
        EXPECT_FALSE(KRSessionCookieFromProperties(wrongType)) << key.toStdString();
    }
    // An unreadable expiry must not turn into "never expires".
    QVariantMap badExpiry = good;
    badExpiry.insert(QStringLiteral("Expires"), QStringLiteral("tomorrow"));
    EXPECT_FALSE(KRSessionCookieFromProperties(badExpiry));
}
