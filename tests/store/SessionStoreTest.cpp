#include "store/KRSessionStore.h"

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/net/CookieStorage.h"
#include "platform/net/HTTPExchange.h"
#include "platform/security/Keychain.h"
#include "model/KRServiceHosts.h"
#include "service/KRAPIClient.h"
#include "store/KRSessionCookie.h"
#include "support/ConsoleCapture.h"
#include "support/FakeService.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <atomic>
#include <sys/stat.h>
#include <thread>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

const QString kService = u"com.tarnwick.korvane5.session"_s;
const QString kAccount = u"zantorel-web"_s;
const QString kSpiPath = u"/x/frontend/finger/spi"_s;
const QString kLoggedInHeader = u"DedeUserID=42; SESSDATA=s"_s;

KRSessionStore& store() { return KRSessionStore::sharedStore(); }
bool capture(const QVariant& payload) { return store().captureAppAuthenticationFromPayload(payload); }

// A new process: an empty cookie jar, the store read back from the keychain. Each test starts so.
void restart()
{
    platform::CookieStorage::shared().deleteAll();
    store().resetForTesting();
}
const bool kResetEachTest = testsupport::onEachTestStart(restart);

// Counts the store's change notifications while it lives.
class ChangeCounter {
public:
    int count = 0;

private:
    platform::ObserverToken m_token = platform::NotificationCenter::defaultCenter().addObserver(
        KRSessionDidChangeNotification, &store(), [this](const platform::Notification&) { ++count; });
};

QVariantMap cookieEntry(const QString& name, const QVariant& value, QVariantMap extra = {})
{
    extra.insert(u"name"_s, name);
    extra.insert(u"value"_s, value);
    return extra;
}

// A QR-login or refresh answer: tokens under "token_info", cookies under "cookie_info".
QVariantMap loginPayload(const QString& access = u"acc-1"_s, const QString& refresh = u"ref-1"_s,
                         QVariantMap tokens = {{u"expires_in"_s, 3600}}, QVariantList cookies = {})
{
    if (cookies.isEmpty())
        cookies = {cookieEntry(u"SESSDATA"_s, u"s"_s), cookieEntry(u"DedeUserID"_s, u"42"_s)};
    tokens.insert(u"access_token"_s, access);
    if (!refresh.isNull())
        tokens.insert(u"refresh_token"_s, refresh);
    return {{u"token_info"_s, tokens},
            {u"cookie_info"_s,
             QVariantMap{{u"cookies"_s, cookies}, {u"domains"_s, QVariantList{KRServiceHosts::mainDomain()}}}}};
}

// A cookie of the keychain item, as the next process reads it.
QVariantMap storedCookie(const QString& name)
{
    QByteArray data;
    platform::Keychain::copy(kService, kAccount, &data);
    for (const QVariant& entry : platform::PropertyList::parse(data).toMap().value(u"cookies"_s).toList()) {
        if (entry.toMap().value(u"Name"_s) == name)
            return entry.toMap();
    }
    return {};
}

// Puts `item` (raw bytes, or a value written as a binary property list) into the keychain
// item and starts a new process on it.
void restartWithItem(const QVariant& item)
{
    const QByteArray data = item.typeId() == QMetaType::QByteArray ? item.toByteArray() : platform::PropertyList::toBinary(item);
    platform::Keychain::remove(kService, kAccount);
    ASSERT_EQ(platform::Keychain::add(kService, kAccount, data), platform::Keychain::errSecSuccess);
    restart();
}

QVariantMap cookieProperties(const QString& name, const QString& value, const QString& domain = {},
                             std::optional<QDateTime> expires = std::nullopt)
{
    platform::Cookie cookie;
    cookie.name = name;
    cookie.value = value;
    cookie.domain = domain.isNull() ? u'.' + KRServiceHosts::mainDomain() : domain;
    cookie.expires = expires;
    return KRSessionCookieProperties(cookie);
}

QDateTime utc(qint64 seconds) { return QDateTime::fromSecsSinceEpoch(seconds, QTimeZone::utc()); }

platform::HTTPResponse responseSetting(const QStringList& setCookies)
{
    platform::HTTPResponse response;
    response.status = 200;
    response.finalURL = u"https://"_s + KRServiceHosts::apiHost() + u"/x/anything"_s;
    for (const QString& line : setCookies)
        response.headers.add(u"Set-Cookie"_s, line);
    return response;
}

} // namespace

// ---- capture, refresh, persistence ------------------------------------------------------------

TEST(SessionStore, CaptureLogsInPersistsAndSurvivesARestart)
{
    ChangeCounter changes;
    testsupport::ConsoleCapture console;
    ASSERT_TRUE(capture(loginPayload()));

    EXPECT_EQ(changes.count, 1);
    EXPECT_EQ(store().cookieHeader(), kLoggedInHeader);
    EXPECT_TRUE(console.contains(
        u"[KorvaneSession] captured app authorization cookieCount=2 authFamily=app+web authSchema=2 "
        "credentialGeneration=1 webSession=YES appToken=YES appRefresh=YES appTokenUsable=YES "
        "appTokenNeedsRefresh=NO hasSESSDATA=YES hasBuvid=NO hasGaia=NO"_s))
        << console.text().toStdString();
    EXPECT_FALSE(console.contains(u"acc-1"_s) || console.contains(u"ref-1"_s));

    // Only the owner may read the stored credentials.
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(platform::Keychain::itemPath(kService, kAccount)).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    const double expiry = store().accessTokenExpiresAt();
    restart();
    EXPECT_EQ(store().cookieHeader(), kLoggedInHeader);
    EXPECT_EQ(store().accessToken(), u"acc-1"_s);
    EXPECT_EQ(store().refreshToken(), u"ref-1"_s);
    EXPECT_DOUBLE_EQ(store().accessTokenExpiresAt(), expiry);
    EXPECT_EQ(store().credentialGeneration(), 1);
    EXPECT_EQ(store().authSchemaVersion(), 2);
    EXPECT_TRUE(console.contains(u"[KorvaneSession] restored cookieCount=2 authFamily=app+web"_s));
    EXPECT_EQ(changes.count, 1) << "restoring announces nothing";
}

TEST(SessionStore, EachRefreshKeepsItsRefreshTokenAndStaleResultsAreDropped)
{
    ASSERT_TRUE(capture(loginPayload()));
    // Each refresh answer carries its new pair under "token_info"; the next refresh needs it.
    for (int generation = 1; generation <= 2; ++generation) {
        const QString n = QString::number(generation + 1);
        ASSERT_TRUE(store().replaceAppAuthenticationFromRefreshPayload(loginPayload("acc-" + n, "ref-" + n), generation));
        EXPECT_EQ(store().refreshToken(), "ref-" + n);
        EXPECT_EQ(store().credentialGeneration(), generation + 1);
    }
    // Credentials replaced meanwhile, or an answer without a refresh token: refused.
    EXPECT_FALSE(store().replaceAppAuthenticationFromRefreshPayload(loginPayload(u"acc-old"_s, u"ref-old"_s), 2));
    EXPECT_FALSE(store().replaceAppAuthenticationFromRefreshPayload(loginPayload(u"acc-4"_s, QString()), 3));
    EXPECT_EQ(store().accessToken(), u"acc-3"_s);

    // Without "token_info" the tokens are read from the payload itself.
    QVariantMap flat = loginPayload();
    flat.remove(u"token_info"_s);
    flat.insert(u"access_token"_s, u"top-acc"_s);
    flat.insert(u"refresh_token"_s, u"top-ref"_s);
    ASSERT_TRUE(capture(flat));
    EXPECT_EQ(store().refreshToken(), u"top-ref"_s);
    EXPECT_EQ(store().accessTokenExpiresAt(), 0.0);
}

TEST(SessionStore, CaptureReplacesEveryServiceCookieButABadPayloadChangesNothing)
{
    restartWithItem(QVariantList{cookieProperties(u"buvid3"_s, u"old"_s), cookieProperties(u"SESSDATA"_s, u"old"_s)});
    store().installEphemeralGaiaToken(u"gaia"_s);
    const QString before = u"SESSDATA=old; buvid3=old; x-zant-gaia-vtoken=gaia"_s;
    ASSERT_EQ(store().cookieHeader(), before);
    ChangeCounter changes;

    // Not a dictionary, no access token, no session cookie, member 0, values that are not text.
    const QVariantList badCookies[] = {{cookieEntry(u"DedeUserID"_s, u"7"_s)},
                                       {cookieEntry(u"SESSDATA"_s, u"t"_s), cookieEntry(u"DedeUserID"_s, u"0"_s)},
                                       {cookieEntry(u"SESSDATA"_s, 5), cookieEntry(u"DedeUserID"_s, 7)}};
    EXPECT_FALSE(capture(u"text"_s) || capture(QVariantMap()) || capture(loginPayload(QString())));
    for (const QVariantList& cookies : badCookies)
        EXPECT_FALSE(capture(loginPayload(u"a"_s, {}, {}, cookies)));
    EXPECT_EQ(changes.count, 0);
    EXPECT_EQ(store().cookieHeader(), before);
    EXPECT_EQ(store().credentialGeneration(), 0);

    // The session's cookies become exactly the answer's: earlier risk and captcha cookies go.
    ASSERT_TRUE(capture(loginPayload()));
    EXPECT_EQ(store().cookieHeader(), kLoggedInHeader);
    const QString shared = platform::CookieStorage::shared().cookieHeaderForURL(u"https://"_s + KRServiceHosts::apiHost() + u"/"_s);
    EXPECT_FALSE(shared.contains(u"=old"_s) || shared.contains(u"=gaia"_s)) << shared.toStdString();
}

TEST(SessionStore, LoginCookieExpiries)
{
    const double now = 1700000000;
    store().setClockForTesting([&] { return now; });
    const QVariantList cookies{
        cookieEntry(u"SESSDATA"_s, u"s"_s, {{u"expires"_s, 999999999}}),         // seconds from now
        cookieEntry(u"DedeUserID"_s, u"42"_s, {{u"expires"_s, u"1900000000"_s}}),  // a Unix time
        cookieEntry(u"zant_jct"_s, u"csrf"_s, {{u"expires"_s, 0}, {u"expires_in"_s, 60}, {u"secure"_s, true}}),
        cookieEntry(u"sid"_s, u"x"_s, {{u"expires"_s, -5}}),                      // no expiry
        cookieEntry(u"far"_s, u"f"_s, {{u"expires"_s, u"9999999999"_s}}),        // beyond what a date can store
        cookieEntry(u"old"_s, u"o"_s, {{u"expires"_s, 1000000000}})};             // long past
    ASSERT_TRUE(capture(loginPayload(u"a"_s, u"r"_s, {}, cookies)));
    EXPECT_EQ(store().csrfToken(), u"csrf"_s);
    EXPECT_EQ(storedCookie(u"SESSDATA"_s).value(u"Expires"_s).toDateTime(), utc(qint64(now) + 999999999));
    EXPECT_EQ(storedCookie(u"DedeUserID"_s).value(u"Expires"_s).toDateTime(), utc(1900000000));
    EXPECT_EQ(storedCookie(u"zant_jct"_s).value(u"Expires"_s).toDateTime(), utc(qint64(now) + 60));
    EXPECT_EQ(storedCookie(u"zant_jct"_s).value(u"Secure"_s).toString(), u"TRUE"_s);
    EXPECT_FALSE(storedCookie(u"sid"_s).contains(u"Expires"_s));
    // The answer's domain entry is used with a leading dot.
    EXPECT_EQ(storedCookie(u"sid"_s).value(u"Domain"_s).toString(), u'.' + KRServiceHosts::mainDomain());

    // A new process on the real clock: the unexpired ones, the far-future one included.
    restart();
    EXPECT_EQ(store().cookieHeader(), u"DedeUserID=42; SESSDATA=s; far=f; sid=x"_s);
    EXPECT_EQ(store().accessToken(), u"a"_s);
}

TEST(SessionStore, TokenUsableAndRefreshWindows)
{
    const double start = 1700000000;
    double now = start;
    store().setClockForTesting([&] { return now; });
    // `later`: seconds after the capture at which the token is judged.
    struct Row { QVariantMap tokens; bool withRefreshToken; double later, expiresAt; bool usable, due; const char* family; };
    const Row rows[] = {
        {{{u"expires_at"_s, start + 61}}, true, 0, start + 61, true, true, "app+web"},
        {{{u"expires_at"_s, start + 61}}, true, 1, start + 61, false, true, "app-expired+web"},  // 60 s left
        {{{u"expires_at"_s, start + 61}}, true, 3600, start + 61, false, true, "app-expired+web"},
        {{{u"expires_in"_s, 301}}, true, 0, start + 301, true, false, "app+web"},
        // Exactly 1e9 is not a Unix time: "expires_in" decides; without it the expiry is unknown.
        {{{u"expires_at"_s, 1e9}, {u"expires_in"_s, 100}}, true, 0, start + 100, true, true, "app+web"},
        {{{u"expires_at"_s, 1e9}}, true, 1e8, 0, true, false, "app+web"},
        // Nothing could refresh a token without a refresh token: never due.
        {{{u"expires_in"_s, 30}}, false, 0, start + 30, false, false, "app-expired+web"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.expiresAt);
        now = start;  // the capture answers whether the token it took is usable
        EXPECT_EQ(capture(loginPayload(u"a"_s, row.withRefreshToken ? u"r"_s : QString(), row.tokens)), row.later > 0 || row.usable);
        now += row.later;
        EXPECT_DOUBLE_EQ(store().accessTokenExpiresAt(), row.expiresAt);
        EXPECT_EQ(store().appAccessTokenUsable(), row.usable);
        EXPECT_EQ(store().appAccessTokenNeedsRefresh(), row.due);
        EXPECT_EQ(store().authenticationFamily(), QLatin1String(row.family));
    }
}

TEST(SessionStore, InvalidationAndLogoutRaiseTheGeneration)
{
    ASSERT_TRUE(capture(loginPayload()));
    store().updateAccountProfile(QVariantMap{{u"uname"_s, u"me"_s}});
    ChangeCounter changes;
    testsupport::ConsoleCapture console;

    EXPECT_FALSE(store().invalidateAppAuthenticationForCredentialGeneration(0));
    EXPECT_EQ(changes.count, 0);
    EXPECT_TRUE(store().invalidateAppAuthenticationForCredentialGeneration(1));
    EXPECT_FALSE(store().hasAppAccessToken() || store().hasAppRefreshToken());
    EXPECT_EQ(changes.count, 1);
    EXPECT_TRUE(console.contains(
        u"[KorvaneSession] invalidated app authorization authFamily=web-only authSchema=2 credentialGeneration=2"_s));
    restart();
    EXPECT_EQ(store().credentialGeneration(), 2);
    EXPECT_TRUE(store().isLoggedIn() && !store().hasAppAccessToken());

    store().clearSession();
    EXPECT_EQ(store().cookieHeader(), QString());
    EXPECT_EQ(store().authSchemaVersion(), 0);
    EXPECT_EQ(store().credentialGeneration(), 3);
    EXPECT_FALSE(store().accountProfile());
    EXPECT_EQ(changes.count, 2);
    EXPECT_TRUE(console.contains(u"[KorvaneSession] cleared"_s));
    EXPECT_EQ(platform::Keychain::copy(kService, kAccount, nullptr), platform::Keychain::errSecItemNotFound);
    EXPECT_FALSE(platform::UserDefaults::standard().contains(KRAccountProfileDefaultsKey));
    EXPECT_TRUE(platform::CookieStorage::shared().cookies().isEmpty());

    // A refresh that started before the logout arrives afterwards.
    EXPECT_FALSE(store().replaceAppAuthenticationFromRefreshPayload(loginPayload(), 2));
    EXPECT_FALSE(store().isLoggedIn());
    // The raised generation lives in memory only.
    restart();
    EXPECT_EQ(store().credentialGeneration(), 0);
}

// ---- restore ------------------------------------------------------------------------------------

TEST(SessionStore, RestoreKeepsOnlyUnexpiredServiceCookies)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QVariantMap badExpiry = cookieProperties(u"bad"_s, u"x"_s);
    badExpiry.insert(u"Expires"_s, u"tomorrow"_s);  // unreadable: must not become "never expires"
    // Kept: b, a and c (under the old domain). Dropped: expired, captcha, foreign, look-alike, malformed.
    const QVariantList cookies{
        cookieProperties(u"b"_s, u"2"_s, {}, now.addDays(10)), cookieProperties(u"a"_s, u"1"_s),
        cookieProperties(u"c"_s, u"3"_s, u"API."_s + KRServiceHosts::oldDomain().toUpper()),
        cookieProperties(u"gone"_s, u"x"_s, {}, now.addSecs(-10)), cookieProperties(KRSessionGaiaCookieName, u"g"_s),
        cookieProperties(u"other"_s, u"x"_s, u".other.test"_s),
        cookieProperties(u"alike"_s, u"x"_s, u"evil"_s + KRServiceHosts::mainDomain()),
        badExpiry, u"not a cookie"_s, QVariantMap{{u"Name"_s, u"nodomain"_s}}};
    testsupport::ConsoleCapture console;
    restartWithItem(QVariantMap{{u"cookies"_s, cookies}, {u"access_token"_s, u"tok"_s}, {u"access_token_expires_at"_s, 5e9},
                                {u"auth_schema_version"_s, 2}, {u"credential_generation"_s, 7}});
    EXPECT_EQ(store().cookieHeader(), u"a=1; b=2; c=3"_s);  // plain ascending order of names
    EXPECT_EQ(store().credentialGeneration(), 7);
    EXPECT_TRUE(console.contains(u"[KorvaneSession] restored cookieCount=3 authFamily=app-only"_s));

    // The older layout: the cookie array alone; no tokens, schema and generation 0.
    restartWithItem(QVariantList{cookieProperties(u"SESSDATA"_s, u"s"_s), cookieProperties(u"DedeUserID"_s, u"9"_s)});
    EXPECT_EQ(store().userID(), 9);
    EXPECT_EQ(store().authenticationFamily(), u"web-only"_s);
    EXPECT_EQ(store().authSchemaVersion(), 0);
    EXPECT_EQ(store().credentialGeneration(), 0);

    for (const QByteArray& data : {QByteArray("bplist00 garbage"), QByteArray("<plist><dict><key>"),
                                   platform::PropertyList::toBinary(u"just text"_s)}) {
        restartWithItem(QVariant(data));
        EXPECT_EQ(store().cookieHeader(), QString());
        EXPECT_FALSE(store().hasAppAccessToken());
    }
    platform::Keychain::remove(kService, kAccount);
    restart();
    EXPECT_EQ(store().lastKeychainStatus(), platform::Keychain::errSecItemNotFound);
}

TEST(SessionStore, RestoreKeepsOneCookieOfEachName)
{
    // A damaged or foreign item naming a cookie twice (another domain, another path): the
    // session keeps the last, the one its Cookie header sends, and saving it changes nothing.
    restartWithItem(QVariantList{cookieProperties(u"SESSDATA"_s, u"first"_s),
                                 cookieProperties(u"SESSDATA"_s, u"second"_s, u"api."_s + KRServiceHosts::mainDomain()),
                                 cookieProperties(u"DedeUserID"_s, u"9"_s)});
    EXPECT_EQ(store().cookieHeader(), u"DedeUserID=9; SESSDATA=second"_s);
    const QList<platform::Cookie> shared = platform::CookieStorage::shared().cookies();
    EXPECT_EQ(std::count_if(shared.cbegin(), shared.cend(), [](const platform::Cookie& c) { return c.name == u"SESSDATA"_s; }), 1);

    platform::HTTPResponse nothing;
    nothing.status = 200;
    nothing.finalURL = u"https://"_s + KRServiceHosts::apiHost() + u"/"_s;
    store().captureCookiesFromHTTPResponse(&nothing);
    EXPECT_EQ(store().cookieHeader(), u"DedeUserID=9; SESSDATA=second"_s);
    restart();
    EXPECT_EQ(store().cookieHeader(), u"DedeUserID=9; SESSDATA=second"_s);
    EXPECT_EQ(store().userID(), 9);
}

// ---- cookie header, captcha cookie and Set-Cookie merge ----------------------------------------

TEST(SessionStore, SetCookieMergeReplacesByNameAndDeletesExpiredOnes)
{
    ChangeCounter changes;
    testsupport::ConsoleCapture console;
    store().captureCookiesFromHTTPResponse(nullptr);
    // While logged out before and after, a merge announces nothing.
    const platform::HTTPResponse anonymous = responseSetting({u"buvid3=b; Path=/"_s});
    store().captureCookiesFromHTTPResponse(&anonymous);
    EXPECT_EQ(changes.count, 0);

    const QString domain = u"; Domain="_s + KRServiceHosts::mainDomain() + u"; Path=/"_s;
    const platform::HTTPResponse login = responseSetting(
        {u"SESSDATA=s2"_s + domain, u"DedeUserID=5; Path=/"_s, u"theirs=1; Domain=other.test; Path=/"_s});
    store().captureCookiesFromHTTPResponse(&login);
    EXPECT_EQ(store().cookieHeader(), u"DedeUserID=5; SESSDATA=s2; buvid3=b"_s);
    EXPECT_EQ(changes.count, 1);
    EXPECT_TRUE(console.contains(u"[KorvaneSession] captured cookieCount=3 loggedIn=YES"_s));

    // The service ends the web session by sending the cookie already expired.
    const platform::HTTPResponse expire = responseSetting({u"SESSDATA=x"_s + domain + u"; Expires=Thu, 01 Jan 1970 00:00:00 GMT"_s});
    store().captureCookiesFromHTTPResponse(&expire);
    EXPECT_EQ(store().cookieHeader(), u"DedeUserID=5; buvid3=b"_s);
    EXPECT_EQ(changes.count, 2);
    EXPECT_TRUE(console.contains(u"[KorvaneSession] captured cookieCount=2 loggedIn=NO"_s));
    restart();
    EXPECT_EQ(store().cookieHeader(), u"DedeUserID=5; buvid3=b"_s);
}

TEST(SessionStore, CaptchaCookieIsSentForTwoMinutesAndNeverStored)
{
    double now = double(QDateTime::currentSecsSinceEpoch());
    store().setClockForTesting([&] { return now; });
    ASSERT_TRUE(capture(loginPayload()));
    ChangeCounter changes;
    store().installEphemeralGaiaToken(QString());
    store().installEphemeralGaiaToken(u"vtok"_s);
    EXPECT_EQ(store().cookieHeader(), kLoggedInHeader + u"; x-zant-gaia-vtoken=vtok"_s);
    EXPECT_TRUE(store().credentialDiagnosticSummary().endsWith(u"hasGaia=YES"_s));
    EXPECT_EQ(changes.count, 0);

    // A merge persists the session; the captcha cookie must not travel with it.
    const platform::HTTPResponse response = responseSetting({u"zant_jct=c; Path=/"_s});
    store().captureCookiesFromHTTPResponse(&response);
    EXPECT_TRUE(storedCookie(KRSessionGaiaCookieName).isEmpty());
    now += 121;
    EXPECT_EQ(store().cookieHeader(), kLoggedInHeader + u"; zant_jct=c"_s);
}

TEST(SessionStore, AccountProfileKeepsOnlyPlainFieldsInTheDefaults)
{
    ChangeCounter changes;
    store().updateAccountProfile(QVariant(QVariantList{1, 2}));  // not a dictionary: ignored
    const QVariantMap profile{
        {u"mid"_s, qint64(42)}, {u"uname"_s, u"名字"_s}, {u"face"_s, QVariant::fromValue(nullptr)}, {u"money"_s, 1.5},
        {u"vipType"_s, QVariantList{1}}, {u"isLogin"_s, true},
        {u"level_info"_s, QVariantMap{{u"current_level"_s, 5}, {u"next_exp"_s, u"--"_s}, {u"other"_s, 1}}}};
    store().updateAccountProfile(profile);
    EXPECT_EQ(changes.count, 1);
    EXPECT_EQ(store().accountProfile(), profile);
    const QVariantMap stored = platform::UserDefaults::standard().dictionary(KRAccountProfileDefaultsKey);
    EXPECT_EQ(stored, (QVariantMap{{u"mid"_s, 42}, {u"uname"_s, u"名字"_s}, {u"money"_s, 1.5},
                                   {u"level_info"_s, QVariantMap{{u"current_level"_s, 5}, {u"next_exp"_s, u"--"_s}}}}));
    restart();
    EXPECT_EQ(store().accountProfile(), stored);
}

// Another account's login confirmed over the last one: the last one's profile is not shown as
// the new one's, now or after a restart; a refresh of the same account keeps it.
TEST(SessionStore, AnotherAccountsLoginDropsTheLastAccountsProfile)
{
    ASSERT_TRUE(capture(loginPayload()));
    const QVariantMap first{{u"mid"_s, qint64(42)}, {u"uname"_s, u"甲"_s}};
    store().updateAccountProfile(first);

    // The same account refreshed: its profile stays.
    ASSERT_TRUE(store().replaceAppAuthenticationFromRefreshPayload(loginPayload(u"acc-2"_s, u"ref-2"_s), store().credentialGeneration()));
    EXPECT_EQ(store().accountProfile(), first);
    EXPECT_EQ(platform::UserDefaults::standard().dictionary(KRAccountProfileDefaultsKey), first);

    // Another account signs in with no sign-out between.
    ChangeCounter changes;
    ASSERT_TRUE(capture(loginPayload(u"acc-3"_s, u"ref-3"_s, {{u"expires_in"_s, 3600}},
                                     {cookieEntry(u"SESSDATA"_s, u"t"_s), cookieEntry(u"DedeUserID"_s, u"77"_s)})));
    EXPECT_EQ(store().userID(), 77);
    EXPECT_FALSE(store().accountProfile());
    EXPECT_FALSE(platform::UserDefaults::standard().contains(KRAccountProfileDefaultsKey));
    EXPECT_EQ(changes.count, 1);
    restart();
    EXPECT_EQ(store().userID(), 77);
    EXPECT_FALSE(store().accountProfile());

    // A profile that names no member belongs to the account signed in when it was read.
    store().updateAccountProfile(QVariantMap{{u"uname"_s, u"乙"_s}});
    ASSERT_TRUE(capture(loginPayload(u"acc-4"_s, u"ref-4"_s, {{u"expires_in"_s, 3600}},
                                     {cookieEntry(u"SESSDATA"_s, u"t"_s), cookieEntry(u"DedeUserID"_s, u"77"_s)})));
    EXPECT_EQ(store().accountProfile(), (QVariantMap{{u"uname"_s, u"乙"_s}}));
    ASSERT_TRUE(capture(loginPayload()));
    EXPECT_FALSE(store().accountProfile());
}

// ---- risk-control cookies ----------------------------------------------------------------------

class SessionRiskCookies : public ::testing::Test {
protected:
    testsupport::FakeService fake{KRServiceHosts::allServiceHosts()};
    QObject owner;

    struct Outcome { bool done = false, ready = false; KROptionalError error; };
    Outcome prepare()
    {
        auto outcome = std::make_shared<Outcome>();
        KRAPIClient::sharedClient()->prepareRiskControlCookiesWithCompletion(&owner, [outcome](bool ready, KROptionalError error) {
            EXPECT_FALSE(outcome->done) << "completion called twice";
            *outcome = {true, ready, error};
        });
        if (!testsupport::waitUntil([&] { return outcome->done; }))
            ADD_FAILURE() << "no completion";
        return *outcome;
    }
};

TEST_F(SessionRiskCookies, FetchStoresBuvidAndNutThenSendsNothingMore)
{
    ASSERT_TRUE(capture(loginPayload()));
    fake.route(KRServiceHosts::apiHost(), kSpiPath, [](const testsupport::FakeRequest&) {
        return testsupport::FakeReply::json(QByteArray(R"({"code":0,"data":{"b_3":"B3-value","b_4":"B4-value"}})"))
            .header(u"Set-Cookie"_s, u"extra=e; Path=/"_s);
    });
    ChangeCounter changes;
    testsupport::ConsoleCapture console;
    const qint64 before = QDateTime::currentSecsSinceEpoch();

    const Outcome outcome = prepare();
    EXPECT_TRUE(outcome.ready);
    EXPECT_FALSE(outcome.error);
    const QList<testsupport::FakeRequest> sent = fake.requestsTo(kSpiPath);
    ASSERT_EQ(sent.size(), 1);
    EXPECT_TRUE(sent[0].tls && sent[0].host == KRServiceHosts::apiHost());
    EXPECT_EQ(sent[0].header(u"User-Agent"_s),
              u"Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/537.36 (KHTML, like Gecko) "
              "Chrome/140.0.0.0 Safari/537.36"_s);
    EXPECT_EQ(sent[0].header(u"Accept"_s), u"application/json, text/plain, */*"_s);
    EXPECT_EQ(sent[0].header(u"Cookie"_s), kLoggedInHeader);

    const QRegularExpressionMatch header = QRegularExpression(
        u"^DedeUserID=42; SESSDATA=s; b_nut=(\\d+); buvid3=B3-value; buvid4=B4-value; extra=e$"_s).match(store().cookieHeader());
    ASSERT_TRUE(header.hasMatch()) << store().cookieHeader().toStdString();
    EXPECT_TRUE(header.captured(1).toLongLong() >= before && header.captured(1).toLongLong() <= QDateTime::currentSecsSinceEpoch());
    EXPECT_EQ(changes.count, 1) << "announced through the merge only";
    EXPECT_TRUE(console.contains(u"[KorvaneSession] riskCookies ready=YES status=200"_s));

    // Persisted: a new process has them and answers inside the call without asking again.
    restart();
    bool called = false;
    KRAPIClient::sharedClient()->prepareRiskControlCookiesWithCompletion(&owner, [&](bool ready, KROptionalError error) {
        called = ready && !error;
    });
    EXPECT_TRUE(called);
    EXPECT_EQ(fake.requestsTo(kSpiPath).size(), 1);
}

TEST_F(SessionRiskCookies, AnswersWithoutBuvidReachTheCompletionAndKeepAnExistingNut)
{
    restartWithItem(QVariantList{cookieProperties(u"b_nut"_s, u"12345"_s)});
    fake.routeJSON(KRServiceHosts::apiHost(), kSpiPath, QByteArray(R"({"code":0,"data":{"b_3":7}})"));
    testsupport::ConsoleCapture console;
    Outcome outcome = prepare();
    EXPECT_FALSE(outcome.ready);
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->domain(), KRSessionStoreError);
    EXPECT_EQ(outcome.error->code(), -3);
    EXPECT_EQ(outcome.error->message(), u"官方指纹接口未返回 buvid3"_s);
    EXPECT_EQ(store().cookieHeader(), u"b_nut=12345"_s);
    EXPECT_EQ(fake.requestsTo(kSpiPath).value(0).header(u"Cookie"_s), u"b_nut=12345"_s);
    EXPECT_TRUE(console.contains(u"[KorvaneSession] riskCookies ready=NO status=200"_s));

    fake.routeReply(KRServiceHosts::apiHost(), kSpiPath, testsupport::FakeReply{.closeWithoutReply = true});
    outcome = prepare();
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->domain(), platform::URLError::domain());
    EXPECT_TRUE(console.contains(u"[KorvaneSession] riskCookies ready=NO status=0"_s));
}

// ---- readers on worker threads -----------------------------------------------------------------

TEST(SessionStore, WorkerReadersSeeWholeStatesWhileTheMainThreadChangesThem)
{
    std::atomic_bool stop{false};
    std::atomic_int inconsistent{0}, reads{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 4; ++i)
        readers.emplace_back([&] {
            for (; !stop; ++reads) {
                const QString header = store().cookieHeader();
                inconsistent += !header.isEmpty() && header != kLoggedInHeader;
                store().isLoggedIn();
                store().credentialDiagnosticSummary();
            }
        });
    for (int round = 0; round < 200; ++round) {
        capture(loginPayload());
        store().clearSession();
    }
    testsupport::waitUntil([&] { return reads > 1000; });
    stop = true;
    for (std::thread& reader : readers)
        reader.join();
    EXPECT_EQ(inconsistent, 0);
}

// A login or refresh whose tokens the keychain item cannot hold (U+0000 has no property-list
// form) fails as an invalid answer does: nothing changes, so no restart brings back an
// account other than the one the store shows.
TEST(SessionStore, ALoginThatCannotBeStoredIsRefusedAndChangesNothing)
{
    ASSERT_TRUE(capture(loginPayload()));
    ChangeCounter changes;
    const QString nul = QString(QChar(0));
    const QVariantList otherCookies{cookieEntry(u"SESSDATA"_s, u"s2"_s), cookieEntry(u"DedeUserID"_s, u"77"_s)};
    EXPECT_FALSE(capture(loginPayload(u"acc"_s + nul + u"2"_s, u"ref-2"_s, {{u"expires_in"_s, 3600}}, otherCookies)));
    EXPECT_FALSE(store().replaceAppAuthenticationFromRefreshPayload(
        loginPayload(u"acc-2"_s, u"ref"_s + nul, {{u"expires_in"_s, 3600}}, otherCookies), 1));
    EXPECT_EQ(changes.count, 0);
    EXPECT_EQ(store().userID(), 42);
    EXPECT_EQ(store().accessToken(), u"acc-1"_s);
    EXPECT_EQ(store().credentialGeneration(), 1);
    EXPECT_EQ(store().cookieHeader(), kLoggedInHeader);
    restart();
    EXPECT_EQ(store().userID(), 42);
    EXPECT_EQ(store().accessToken(), u"acc-1"_s);
    EXPECT_EQ(store().refreshToken(), u"ref-1"_s);
}

// A control character in a cookie would break every signed-in request: such cookies are
// dropped wherever they come from, and the rest of the answer is kept.
TEST(SessionStore, CookiesWithControlCharactersAreDroppedAndTheRestKept)
{
    const QString apiRoot = u"https://"_s + KRServiceHosts::apiHost() + u"/"_s;
    const QVariantList cookies{cookieEntry(u"SESSDATA"_s, u"s"_s), cookieEntry(u"DedeUserID"_s, u"42"_s),
                               cookieEntry(u"zant_jct"_s, u"c\r\nX-Injected: 1"_s),
                               cookieEntry(u"bad\n"_s, u"v"_s), cookieEntry(u"nul"_s, u"a"_s + QChar(0))};
    ASSERT_TRUE(capture(loginPayload(u"acc-1"_s, u"ref-1"_s, {{u"expires_in"_s, 3600}}, cookies)));
    EXPECT_EQ(store().cookieHeader(), kLoggedInHeader);
    EXPECT_TRUE(store().csrfToken().isEmpty());

    // A Set-Cookie value with a bare CR, as libcurl hands it over, beside a good one.
    const platform::HTTPResponse merge =
        responseSetting({u"zant_jct=c\rd; Path=/"_s, u"buvid3=b; Path=/"_s, u"buvid4=d; Path=/x"_s + QChar(0)});
    store().captureCookiesFromHTTPResponse(&merge);
    EXPECT_EQ(store().cookieHeader(), kLoggedInHeader + u"; buvid3=b"_s);

    // A captcha token with CR, LF or NUL is not installed; a good one is.
    for (const QString& token : {u"t\rk"_s, u"t\nk"_s, u"t"_s + QChar(0) + u"k"_s})
        store().installEphemeralGaiaToken(token);
    EXPECT_EQ(store().cookieHeader(), kLoggedInHeader + u"; buvid3=b"_s);
    EXPECT_EQ(platform::CookieStorage::shared().cookieHeaderForURL(apiRoot), kLoggedInHeader + u"; buvid3=b"_s);
    store().installEphemeralGaiaToken(u"good"_s);
    EXPECT_TRUE(store().cookieHeader().endsWith(u"; x-zant-gaia-vtoken=good"_s));

    // One kept by an earlier version is dropped as the item is read; the others stay.
    restartWithItem(QVariantMap{{u"cookies"_s, QVariantList{cookieProperties(u"SESSDATA"_s, u"s"_s),
                                                            cookieProperties(u"DedeUserID"_s, u"42"_s),
                                                            cookieProperties(u"zant_jct"_s, u"c\r\n"_s)}},
                                {u"access_token"_s, u"acc-1"_s}});
    EXPECT_EQ(store().cookieHeader(), kLoggedInHeader);
    EXPECT_EQ(store().accessToken(), u"acc-1"_s);
}
