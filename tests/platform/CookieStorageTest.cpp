#include "platform/net/CookieStorage.h"
#include "platform/net/PublicSuffixList.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace platform;

namespace {

QStringList names(const QList<Cookie>& cookies)
{
    QStringList result;
    for (const Cookie& cookie : cookies)
        result.append(cookie.name);
    return result;
}

} // namespace

TEST(CookieStorage, ParsesSetCookieAgainstTheAnsweringAddress)
{
    struct Case {
        const char* header;
        const char* url;
        const char* value;   // nullptr: refused
        const char* domain;  // a leading "." marks a domain cookie
        const char* path;
    };
    const Case cases[] = {
        {" S = a%2Cb ; Path=/x; Secure; HttpOnly; Domain=.Site.test", "https://api.site.test/x/y", "a%2Cb", ".site.test", "/x"},
        {"a=1", "https://Api.Site.test/dir/page?q=/x", "1", "api.site.test", "/dir"},  // default path
        {"a=1", "https://a.test", "1", "a.test", "/"},
        {"a=1; Path=relative", "https://a.test/d/e/f", "1", "a.test", "/d/e"},
        {"a=1; Domain=a.test", "https://a.test/", "1", ".a.test", "/"},  // naming the host widens it
        {"a=1; Domain=127.0.0.1", "http://127.0.0.1/", "1", "127.0.0.1", "/"},  // an address has no subdomains
        {"q=\"quoted\"", "https://a.test/", "\"quoted\"", "a.test", "/"},
        {"empty=", "https://a.test/", "", "a.test", "/"},
        {"novalue", "https://a.test/", nullptr, nullptr, nullptr},
        {"=orphan", "https://a.test/", nullptr, nullptr, nullptr},
        {"a=1", "not an address", nullptr, nullptr, nullptr},
        {"a=1", "ftp://a.test/", nullptr, nullptr, nullptr},
        // A server may widen a cookie to a parent of itself, never to another site.
        {"a=1; Domain=other.test", "https://api.site.test/", nullptr, nullptr, nullptr},
        {"a=1; Domain=deeper.api.site.test", "https://api.site.test/", nullptr, nullptr, nullptr},
        {"a=1; Domain=te.site.test", "https://api.site.test/", nullptr, nullptr, nullptr},
        {"a=1; Domain=0.0.1", "http://127.0.0.1/", nullptr, nullptr, nullptr},
        {"a=1; Domain=1", "http://127.0.0.1/", nullptr, nullptr, nullptr},
        {"a=1; Domain=::1", "http://[::1]/", "1", "::1", "/"},
        // The service's own parent domain, under a top-level domain the list does not know.
        {"a=1; Domain=zantorel.test", "https://api.zantorel.test/", "1", ".zantorel.test", "/"},
        {"a=1; Domain=.ZANTOREL.test", "https://www.zantorel.test/", "1", ".zantorel.test", "/"},
        {"a=1; Domain=korvane.co.uk", "https://a.b.korvane.co.uk/", "1", ".korvane.co.uk", "/"},
        // Never a public suffix, whose subdomains are everyone's sites; naming a suffix that
        // is the host itself keeps the cookie on that host.
        {"a=1; Domain=test", "https://api.zantorel.test/", nullptr, nullptr, nullptr},
        {"a=1; Domain=.com", "https://www.korvane-one.com/", nullptr, nullptr, nullptr},
        {"a=1; Domain=com", "https://korvane-one.com/", nullptr, nullptr, nullptr},
        {"a=1; Domain=co.uk", "https://www.korvane.co.uk/", nullptr, nullptr, nullptr},
        {"a=1; Domain=co.uk", "https://co.uk/", "1", "co.uk", "/"},
        {"a=1; Domain=localhost", "http://localhost:8080/", "1", "localhost", "/"},
    };
    for (const Case& c : cases) {
        const std::optional<Cookie> cookie = CookieStorage::parseSetCookie(c.header, c.url);
        ASSERT_EQ(cookie.has_value(), c.value != nullptr) << c.header;
        if (!cookie)
            continue;
        EXPECT_EQ(cookie->value, c.value) << c.header;
        EXPECT_EQ(cookie->domain, c.domain) << c.header;
        EXPECT_EQ(cookie->isHostOnly(), !QString(c.domain).startsWith('.')) << c.header;
        EXPECT_EQ(cookie->path, c.path) << c.header;
    }
    const Cookie first = *CookieStorage::parseSetCookie(cases[0].header, cases[0].url);
    EXPECT_EQ(first.name, "S");
    EXPECT_TRUE(first.secure && first.httpOnly);
    EXPECT_FALSE(first.expires.has_value());
}

TEST(CookieStorage, SendsByDomainPathAndSecurityLongestPathFirst)
{
    CookieStorage storage;
    storage.setCookiesFromResponse({"wide=1; Domain=site.test", "narrow=2", "bad=1; Domain=evil.test"},
                                   "https://api.site.test/");
    storage.setCookiesFromResponse({"root=1; Path=/", "dir=2; Path=/dir", "slash=3; Path=/dir/", "deep=4; Path=/dir/sub",
                                    "safe=5; Secure"},
                                   "https://a.test/");
    Cookie exact;  // set in code without a leading ".": that exact host only
    exact.name = "exact";
    exact.value = "3";
    exact.domain = "site.test";
    storage.setCookie(exact);

    const std::pair<const char*, const char*> cases[] = {
        {"https://api.site.test/", "wide=1; narrow=2"},
        {"https://API.site.test/", "wide=1; narrow=2"},
        {"https://site.test/", "wide=1; exact=3"},
        {"https://x.y.site.test/", "wide=1"},
        {"https://notsite.test/", nullptr},
        {"https://site.test.evil/", nullptr},
        {"ftp://api.site.test/", nullptr},
        {"garbage", nullptr},
        {"https://a.test/dir/sub/page", "deep=4; slash=3; dir=2; root=1; safe=5"},
        {"https://a.test/dir", "dir=2; root=1; safe=5"},
        {"https://a.test/dir/", "slash=3; dir=2; root=1; safe=5"},
        {"https://a.test/dirx", "root=1; safe=5"},
        {"https://a.test/dir/subway", "slash=3; dir=2; root=1; safe=5"},
        {"http://a.test/", "root=1"},
    };
    for (const auto& [url, header] : cases)
        EXPECT_EQ(storage.cookieHeaderForURL(url), header ? QString(header) : QString()) << url;
    EXPECT_FALSE(names(storage.cookies()).contains("bad"));

    // The same name, domain and path replace a cookie in its place of the sending order.
    const int count = storage.cookies().size();
    storage.setCookiesFromResponse({"wide=2; Domain=SITE.test", "wide=x; Path=/other; Domain=site.test"},
                                   "https://api.site.test/");
    EXPECT_EQ(storage.cookieHeaderForURL("https://api.site.test/"), "wide=2; narrow=2");
    EXPECT_EQ(storage.cookies().size(), count + 1);
    Cookie wide;
    wide.name = "wide";
    wide.domain = ".site.test";
    storage.deleteCookie(wide);
    EXPECT_EQ(storage.cookieHeaderForURL("https://api.site.test/other"), "wide=x; narrow=2") << "another path stays";
    storage.deleteAll();
    EXPECT_TRUE(storage.cookies().isEmpty());
}

TEST(CookieStorage, ADomainCookieReachesItsSiblingsButNoOtherSiteUnderTheSuffix)
{
    CookieStorage storage;
    storage.setCookiesFromResponse({"site=1; Domain=zantorel.test", "suffix=1; Domain=test"}, "https://api.zantorel.test/");
    storage.setCookiesFromResponse({"everyone=1; Domain=com", "own=1; Domain=korvane-one.com"}, "https://www.korvane-one.com/");
    storage.setCookiesFromResponse({"local=1; Domain=localhost"}, "http://localhost/");

    const std::pair<const char*, const char*> cases[] = {
        {"https://www.zantorel.test/", "site=1"},
        {"https://zantorel.test/", "site=1"},
        {"https://zantorel-old.test/", nullptr},
        {"https://api.korvane-one.com/", "own=1"},
        {"https://korvane-two.com/", nullptr},
        {"http://localhost/", "local=1"},
        {"http://sub.localhost/", nullptr},
    };
    for (const auto& [url, header] : cases)
        EXPECT_EQ(storage.cookieHeaderForURL(url), header ? QString(header) : QString()) << url;
    EXPECT_EQ(names(storage.cookies()), QStringList({"site", "own", "local"}));
}

TEST(PublicSuffixList, SitesEndWhereTheListSays)
{
    struct Case {
        const char* host;
        const char* site;  // nullptr: no registrable domain
        bool suffix;
    };
    const Case cases[] = {
        {"api.zantorel.test", "zantorel.test", false},
        {"zantorel.test", "zantorel.test", false},
        {"test", nullptr, true},
        {"a.b.korvane.co.uk", "korvane.co.uk", false},
        {"co.uk", nullptr, true},
        {"com", nullptr, true},
        {"localhost", nullptr, true},
        {"127.0.0.1", nullptr, false},
        {"::1", nullptr, false},
        {"example.xn--fiqs8s", "example.xn--fiqs8s", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PublicSuffixList::registrableDomain(c.host), c.site ? QString(c.site) : QString()) << c.host;
        EXPECT_EQ(PublicSuffixList::isPublicSuffix(c.host), c.suffix) << c.host;
    }

    const std::tuple<const char*, const char*, bool> pairs[] = {
        {"api.zantorel.test", "www.zantorel.test", true},
        {"x.y.zantorel.test", "zantorel.test", true},
        {"api.zantorel.test", "zantorel-old.test", false},
        {"korvane.co.uk", "other.co.uk", false},
        {"a.korvane.co.uk", "b.korvane.co.uk", true},
        {"localhost", "localhost", true},
        {"a.localhost", "b.localhost", false},
        {"127.0.0.1", "127.0.0.1", true},
        {"127.0.0.1", "127.0.0.2", false},
        {"10.0.0.1", "11.0.0.1", false},
    };
    for (const auto& [host, other, same] : pairs) {
        EXPECT_EQ(PublicSuffixList::sameSite(host, other), same) << host << " " << other;
        EXPECT_EQ(PublicSuffixList::sameSite(other, host), same) << other << " " << host;
    }
}

TEST(CookieStorage, ExpiryWithMaxAgeBeforeExpires)
{
    CookieStorage storage;
    const QString url = "https://a.test/";
    storage.setCookiesFromResponse({"session=1", "future=1; Expires=Wed, 01 Jan 2200 00:00:00 GMT",
                                    "aged=1; Max-Age=3600; Expires=Thu, 01 Jan 1970 00:00:01 GMT",
                                    "killed=1; Max-Age=0; Expires=Wed, 01 Jan 2200 00:00:00 GMT",
                                    "odd=1; Max-Age=12abc"},
                                   url);
    const QList<Cookie> cookies = storage.cookies();
    ASSERT_EQ(names(cookies), QStringList({"session", "future", "aged", "odd"}));
    EXPECT_FALSE(cookies[0].expires.has_value());
    EXPECT_EQ(*cookies[1].expires, QDateTime(QDate(2200, 1, 1), QTime(0, 0), Qt::UTC));
    const qint64 remaining = QDateTime::currentDateTimeUtc().secsTo(*cookies[2].expires);
    EXPECT_TRUE(remaining > 3590 && remaining <= 3600) << remaining;
    EXPECT_FALSE(cookies[3].expires.has_value()) << "an unparsable Max-Age is ignored";

    // An expired answer deletes the stored cookie; a negative Max-Age counts as expired.
    storage.setCookiesFromResponse({"future=gone; Expires=Sun, 06 Nov 1994 08:49:37 GMT", "aged=x; Max-Age=-5"}, url);
    EXPECT_EQ(names(storage.cookies()), QStringList({"session", "odd"}));
}

TEST(CookieStorage, ParsesTheDateFormsServersSend)
{
    const QDateTime expected(QDate(1994, 11, 6), QTime(8, 49, 37), Qt::UTC);
    for (const char* good : {"Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT", "Sun Nov  6 08:49:37 1994",
                             "06 nov 1994 8:49:37"})
        EXPECT_EQ(CookieStorage::parseCookieDate(good), expected) << good;
    EXPECT_EQ(CookieStorage::parseCookieDate("Mon, 01 Jan 69 00:00:00 GMT").date().year(), 2069);
    EXPECT_EQ(CookieStorage::parseCookieDate("Mon, 01 Jan 70 00:00:00 GMT").date().year(), 1970);
    for (const char* bad : {"", "garbage", "Fri, 30 Feb 2024 10:00:00 GMT", "Sun, 06 Nov 1994 25:49:37 GMT",
                            "Sun, 06 Nov 1600 08:49:37 GMT", "Sun, 32 Nov 1994 08:49:37 GMT", "06 1994 08:49:37"})
        EXPECT_FALSE(CookieStorage::parseCookieDate(bad).isValid()) << bad;
}

// A control character in a name or value would end every Cookie header the cookie is sent in:
// refused by the parser and by the jar, whoever hands it over; the other cookies stay.
TEST(CookieStorage, RefusesControlCharactersInNamesAndValues)
{
    const QString url = QStringLiteral("https://api.site.test/");
    for (const QString& header : {QStringLiteral("a=1\r2"), QStringLiteral("a=1\n"), QStringLiteral("a\r=1"),
                                  QStringLiteral("a=1") + QChar(0), QStringLiteral("a=x\x7fy; Path=/"), QStringLiteral("a=x\ty"),
                                  QStringLiteral("a\x01=1")}) {
        EXPECT_FALSE(CookieStorage::parseSetCookie(header, url).has_value()) << header.toStdString();
    }
    // Nor anywhere in the line (a path holding U+0000 could not be kept with the session);
    // white space around the pair and the attributes, tabs included, is trimmed.
    EXPECT_FALSE(CookieStorage::parseSetCookie(QStringLiteral("a=1; Path=/x") + QChar(0) + QStringLiteral("y"), url));
    EXPECT_FALSE(CookieStorage::parseSetCookie(QStringLiteral("a=1; Domain=site.test\r"), url));
    EXPECT_FALSE(CookieStorage::parseSetCookie(QStringLiteral("a=1; Max-Age=5\x01"), url));
    EXPECT_FALSE(CookieStorage::parseSetCookie(QStringLiteral("a=1; Path=/x\ty"), url));
    EXPECT_EQ(CookieStorage::parseSetCookie(QStringLiteral("a=1"), QStringLiteral("https://api.site.test/a%0Db/c"))->path, "/a%0Db");
    EXPECT_EQ(CookieStorage::parseSetCookie(QStringLiteral("a=1 \t;\tPath=/"), url)->value, "1");
    EXPECT_TRUE(CookieStorage::isValidNameOrValue(QString::fromUtf8("名前 and ~!@#$%")));
    EXPECT_FALSE(CookieStorage::isValidNameOrValue(QStringLiteral("a\rb")));

    CookieStorage jar;
    jar.setCookiesFromResponse({QStringLiteral("good=1; Path=/"), QStringLiteral("bad=1\r; Path=/"),
                                QStringLiteral("other=2")},
                               url);
    Cookie direct;
    direct.name = QStringLiteral("token");
    direct.value = QStringLiteral("t") + QChar(0) + u'k';
    direct.domain = QStringLiteral(".site.test");
    jar.setCookie(direct);
    direct.name = QStringLiteral("line\n");
    direct.value = QStringLiteral("v");
    jar.setCookie(direct);
    direct.name = QStringLiteral("path");
    direct.path = QStringLiteral("/\r");
    jar.setCookie(direct);
    EXPECT_EQ(names(jar.cookies()), QStringList({"good", "other"}));
    EXPECT_EQ(jar.cookieHeaderForURL(url), "good=1; other=2");
}
