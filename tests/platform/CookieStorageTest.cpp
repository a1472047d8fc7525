#include "platform/net/CookieStorage.h"

#include <gtest/gtest.h>

#include <thread>

using namespace platform;

namespace {

QStringList names(const QList<Cookie>& cookies)
{
    QStringList result;
    for (const Cookie& cookie : cookies)
        result.append(cookie.name);
    return result;
}

Cookie parsed(const QString& header, const QString& url)
{
    const std::optional<Cookie> cookie = CookieStorage::parseSetCookie(header, url);
    EXPECT_TRUE(cookie.has_value()) << header.toStdString();
    return cookie.value_or(Cookie());
}

} // namespace

TEST(CookieStorage, ParsesNameValueAndAttributes)
{
    const Cookie cookie = parsed(" SESSDATA = a%2Cb ; Path=/x; Secure; HttpOnly; SameSite=Lax; Domain=.Site.test",
                                 "https://api.site.test/x/y");
    EXPECT_EQ(cookie.name, "SESSDATA");
    EXPECT_EQ(cookie.value, "a%2Cb");
    EXPECT_EQ(cookie.path, "/x");
    EXPECT_EQ(cookie.domain, ".site.test");
    EXPECT_FALSE(cookie.isHostOnly());
    EXPECT_TRUE(cookie.secure);
    EXPECT_TRUE(cookie.httpOnly);
    EXPECT_FALSE(cookie.expires.has_value());

    EXPECT_EQ(parsed("empty=", "https://a.test/").value, "");
    EXPECT_EQ(parsed("q=\"quoted\"", "https://a.test/").value, "\"quoted\"");
    EXPECT_FALSE(CookieStorage::parseSetCookie("novalue", "https://a.test/"));
    EXPECT_FALSE(CookieStorage::parseSetCookie("=orphan", "https://a.test/"));
    EXPECT_FALSE(CookieStorage::parseSetCookie("a=1", "not an address"));
    EXPECT_FALSE(CookieStorage::parseSetCookie("a=1", "ftp://a.test/"));
}

TEST(CookieStorage, DefaultPathAndHostOnly)
{
    Cookie cookie = parsed("a=1", "https://Api.Site.test/dir/page?q=/x");
    EXPECT_EQ(cookie.path, "/dir");
    EXPECT_EQ(cookie.domain, "api.site.test");
    EXPECT_TRUE(cookie.hostOnly);
    EXPECT_EQ(parsed("a=1", "https://a.test/page").path, "/");
    EXPECT_EQ(parsed("a=1", "https://a.test").path, "/");
    EXPECT_EQ(parsed("a=1; Path=relative", "https://a.test/d/e/f").path, "/d/e");
    // The Domain naming the host itself widens the cookie to its subdomains.
    EXPECT_EQ(parsed("a=1; Domain=a.test", "https://a.test/").domain, ".a.test");
    // An address has no subdomains.
    cookie = parsed("a=1; Domain=127.0.0.1", "http://127.0.0.1/");
    EXPECT_TRUE(cookie.isHostOnly());
    EXPECT_EQ(cookie.domain, "127.0.0.1");
}

TEST(CookieStorage, RejectsDomainsThatDoNotCoverTheHost)
{
    EXPECT_FALSE(CookieStorage::parseSetCookie("a=1; Domain=other.test", "https://api.site.test/"));
    EXPECT_FALSE(CookieStorage::parseSetCookie("a=1; Domain=deeper.api.site.test", "https://api.site.test/"));
    EXPECT_FALSE(CookieStorage::parseSetCookie("a=1; Domain=te.site.test", "https://api.site.test/"));
    EXPECT_FALSE(CookieStorage::parseSetCookie("a=1; Domain=0.0.1", "http://127.0.0.1/"));
    CookieStorage storage;
    storage.setCookiesFromResponse({"good=1; Domain=site.test", "bad=1; Domain=evil.test"}, "https://api.site.test/");
    EXPECT_EQ(names(storage.cookies()), QStringList({"good"}));
}

TEST(CookieStorage, MatchesDomainsAndHosts)
{
    CookieStorage storage;
    storage.setCookiesFromResponse({"wide=1; Domain=site.test", "narrow=2"}, "https://api.site.test/");
    EXPECT_EQ(storage.cookieHeaderForURL("https://api.site.test/"), "wide=1; narrow=2");
    EXPECT_EQ(storage.cookieHeaderForURL("https://API.site.test/"), "wide=1; narrow=2");
    EXPECT_EQ(storage.cookieHeaderForURL("https://site.test/"), "wide=1");
    EXPECT_EQ(storage.cookieHeaderForURL("https://x.y.site.test/"), "wide=1");
    EXPECT_EQ(storage.cookieHeaderForURL("https://sub.api.site.test/"), "wide=1");
    EXPECT_TRUE(storage.cookieHeaderForURL("https://notsite.test/").isNull());
    EXPECT_TRUE(storage.cookieHeaderForURL("https://site.test.evil/").isNull());
    EXPECT_TRUE(storage.cookieHeaderForURL("ftp://api.site.test/").isNull());
    EXPECT_TRUE(storage.cookieHeaderForURL("garbage").isNull());

    // A cookie set in code without a leading "." is for that exact host.
    Cookie exact;
    exact.name = "exact";
    exact.value = "3";
    exact.domain = "site.test";
    storage.setCookie(exact);
    EXPECT_EQ(storage.cookieHeaderForURL("https://site.test/"), "wide=1; exact=3");
    EXPECT_EQ(storage.cookieHeaderForURL("https://www.site.test/"), "wide=1");
}

TEST(CookieStorage, MatchesPathsLongestFirst)
{
    CookieStorage storage;
    storage.setCookiesFromResponse({"root=1; Path=/", "dir=2; Path=/dir", "slash=3; Path=/dir/", "deep=4; Path=/dir/sub"},
                                   "https://a.test/");
    EXPECT_EQ(names(storage.cookiesForURL("https://a.test/dir/sub/page")), QStringList({"deep", "slash", "dir", "root"}));
    EXPECT_EQ(names(storage.cookiesForURL("https://a.test/dir")), QStringList({"dir", "root"}));
    EXPECT_EQ(names(storage.cookiesForURL("https://a.test/dir/")), QStringList({"slash", "dir", "root"}));
    EXPECT_EQ(names(storage.cookiesForURL("https://a.test/dirx")), QStringList({"root"}));
    EXPECT_EQ(names(storage.cookiesForURL("https://a.test")), QStringList({"root"}));
    EXPECT_EQ(names(storage.cookiesForURL("https://a.test/dir/subway")), QStringList({"slash", "dir", "root"}));
}

TEST(CookieStorage, SecureCookiesOnlyOverHTTPS)
{
    CookieStorage storage;
    storage.setCookiesFromResponse({"safe=1; Secure", "open=2"}, "https://a.test/");
    EXPECT_EQ(storage.cookieHeaderForURL("https://a.test/"), "safe=1; open=2");
    EXPECT_EQ(storage.cookieHeaderForURL("http://a.test/"), "open=2");
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
    EXPECT_EQ(names(storage.cookies()), QStringList({"session", "future", "aged", "odd"}));
    const QList<Cookie> cookies = storage.cookies();
    EXPECT_FALSE(cookies[0].expires.has_value());
    EXPECT_EQ(*cookies[1].expires, QDateTime(QDate(2200, 1, 1), QTime(0, 0), Qt::UTC));
    const qint64 remaining = QDateTime::currentDateTimeUtc().secsTo(*cookies[2].expires);
    EXPECT_GT(remaining, 3590);
    EXPECT_LE(remaining, 3600);
    EXPECT_FALSE(cookies[3].expires.has_value()); // an unparsable Max-Age is ignored

    // An expired answer deletes the stored cookie; a negative Max-Age counts as expired.
    storage.setCookiesFromResponse({"future=gone; Expires=Sun, 06 Nov 1994 08:49:37 GMT", "aged=x; Max-Age=-5"}, url);
    EXPECT_EQ(names(storage.cookies()), QStringList({"session", "odd"}));

    Cookie stale;
    stale.name = "stale";
    stale.domain = "a.test";
    stale.expires = QDateTime::currentDateTimeUtc().addSecs(-1);
    storage.setCookie(stale);
    EXPECT_FALSE(names(storage.cookies()).contains("stale"));
    EXPECT_TRUE(stale.isExpired(QDateTime::currentDateTimeUtc()));
}

TEST(CookieStorage, ParsesTheDateFormsServersSend)
{
    const QDateTime expected(QDate(1994, 11, 6), QTime(8, 49, 37), Qt::UTC);
    EXPECT_EQ(CookieStorage::parseCookieDate("Sun, 06 Nov 1994 08:49:37 GMT"), expected);
    EXPECT_EQ(CookieStorage::parseCookieDate("Sunday, 06-Nov-94 08:49:37 GMT"), expected);
    EXPECT_EQ(CookieStorage::parseCookieDate("Sun Nov  6 08:49:37 1994"), expected);
    EXPECT_EQ(CookieStorage::parseCookieDate("06 nov 1994 8:49:37"), expected);
    EXPECT_EQ(CookieStorage::parseCookieDate("Thu, 01-Jan-2037 00:00:00 GMT"),
              QDateTime(QDate(2037, 1, 1), QTime(0, 0), Qt::UTC));
    EXPECT_EQ(CookieStorage::parseCookieDate("Mon, 01 Jan 69 00:00:00 GMT").date().year(), 2069);
    EXPECT_EQ(CookieStorage::parseCookieDate("Mon, 01 Jan 70 00:00:00 GMT").date().year(), 1970);
    for (const char* bad : {"", "garbage", "Fri, 30 Feb 2024 10:00:00 GMT", "Sun, 06 Nov 1994 25:49:37 GMT",
                            "Sun, 06 Nov 1600 08:49:37 GMT", "Sun, 32 Nov 1994 08:49:37 GMT", "06 1994 08:49:37"})
        EXPECT_FALSE(CookieStorage::parseCookieDate(bad).isValid()) << bad;
}

TEST(CookieStorage, ReplacesByNameDomainAndPath)
{
    CookieStorage storage;
    const QString url = "https://a.site.test/";
    storage.setCookiesFromResponse({"k=1; Domain=site.test", "k=root; Path=/other", "m=1"}, url);
    storage.setCookiesFromResponse({"n=1"}, url);
    storage.setCookiesFromResponse({"k=2; Domain=SITE.test"}, url);
    EXPECT_EQ(storage.cookies().size(), 4);
    // The replaced cookie keeps its place in the order of sending.
    EXPECT_EQ(storage.cookieHeaderForURL(url), "k=2; m=1; n=1");

    Cookie gone;
    gone.name = "k";
    gone.domain = ".site.test";
    storage.deleteCookie(gone);
    EXPECT_EQ(storage.cookieHeaderForURL(url), "m=1; n=1");
    EXPECT_EQ(storage.cookies().size(), 3);
    storage.deleteAll();
    EXPECT_TRUE(storage.cookies().isEmpty());
}

TEST(CookieStorage, IsSafeFromManyThreads)
{
    CookieStorage storage;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 300; ++i) {
                storage.setCookiesFromResponse({QStringLiteral("c%1_%2=%3").arg(t).arg(i % 20).arg(i)},
                                               "https://a.test/");
                storage.cookieHeaderForURL("https://a.test/");
                if (i % 50 == 0)
                    storage.cookies();
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(storage.cookies().size(), 80);
}
