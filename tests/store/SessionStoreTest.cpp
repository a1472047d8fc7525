#include "store/KRSessionStore.h"

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/net/CookieStorage.h"
#include "platform/net/HTTPExchange.h"
#include "platform/security/Keychain.h"
#include "service/KRServiceHosts.h"
#include "store/KRSessionCookie.h"
#include "support/ConsoleCapture.h"
#include "support/FakeService.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <QFile>
#include <QStringList>

#include <gtest/gtest.h>

#include <atomic>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

const QString kService = QStringLiteral("com.tarnwick.korvane5.session");
const QString kAccount = QStringLiteral("zantorel-web");
const QString kSpiPath = QStringLiteral("/x/frontend/finger/spi");

const bool kResetEachTest = [] {
    testsupport::onEachTestStart([] {
        platform::CookieStorage::shared().deleteAll();
        KRSessionStore::sharedStore().resetForTesting();
    });
    return true;
}();

KRSessionStore& store() { return KRSessionStore::sharedStore(); }

// Counts the store's change notifications while it lives.
class ChangeCounter {
public:
    ChangeCounter()
        : m_token(platform::NotificationCenter::defaultCenter().addObserver(
            KRSessionDidChangeNotification, &store(), [this](const platform::Notification& note) {
                EXPECT_EQ(note.object, &store());
                ++count;
            }))
    {
    }
    int count = 0;

private:
    platform::ObserverToken m_token;
};

QVariantMap cookieEntry(const QString& name, const QVariant& value, const QVariantMap& extra = {})
{
    QVariantMap entry = extra;
    entry.insert(QStringLiteral("name"), name);
    entry.insert(QStringLiteral("value"), value);
    return entry;
}

// A QR-login answer: tokens under "token_info", cookies under "cookie_info".
QVariantMap loginPayload(const QString& accessToken = QStringLiteral("acc-token-1"),
                         const QString& refreshToken = QStringLiteral("ref-token-1"),
                         const QVariantMap& tokenExtras = {{QStringLiteral("expires_in"), 3600}},
                         QVariantList cookies = {})
{
    if (cookies.isEmpty())
        cookies = {cookieEntry(QStringLiteral("SESSDATA"), QStringLiteral("s")),
                   cookieEntry(QStringLiteral("DedeUserID"), QStringLiteral("42"))};
    QVariantMap tokens = tokenExtras;
    tokens.insert(QStringLiteral("access_token"), accessToken);
    if (!refreshToken.isNull())
        tokens.insert(QStringLiteral("refresh_token"), refreshToken);
    return {{QStringLiteral("token_info"), tokens},
            {QStringLiteral("cookie_info"),
             QVariantMap{{QStringLiteral("cookies"), cookies},
                         {QStringLiteral("domains"), QVariantList{QLatin1Char('.') + KRServiceHosts::mainDomain()}}}}};
}

QVariant storedItem()
{
    QByteArray data;
    if (platform::Keychain::copy(kService, kAccount, &data) != platform::Keychain::errSecSuccess)
        return {};
    return platform::PropertyList::parse(data);
}

QVariantMap storedCookie(const QString& name)
{
    for (const QVariant& entry : storedItem().toMap().value(QStringLiteral("cookies")).toList()) {
        if (entry.toMap().value(QStringLiteral("Name")) == name)
            return entry.toMap();
    }
    return {};
}

void writeItem(const QVariant& value)
{
    ASSERT_EQ(platform::Keychain::add(kService, kAccount, platform::PropertyList::toBinary(value)),
              platform::Keychain::errSecSuccess);
}

QVariantMap cookieProperties(const QString& name, const QString& value, const QString& domain = {},
                             std::optional<QDateTime> expires = std::nullopt)
{
    platform::Cookie cookie;
    cookie.name = name;
    cookie.value = value;
    cookie.domain = domain.isNull() ? QLatin1Char('.') + KRServiceHosts::mainDomain() : domain;
    cookie.expires = expires;
    return KRSessionCookieProperties(cookie);
}

// A new process: an empty cookie jar, the store read back from the keychain.
void restart()
{
    platform::CookieStorage::shared().deleteAll();
    store().resetForTesting();
}

QStringList headerNames(const QString& header)
{
    QStringList names;
    for (const QString& pair : header.split(QStringLiteral("; "), Qt::SkipEmptyParts))
        names.append(pair.section(QLatin1Char('='), 0, 0));
    return names;
}

QString headerValue(const QString& header, const QString& name)
{
    for (const QString& pair : header.split(QStringLiteral("; "), Qt::SkipEmptyParts)) {
        if (pair.section(QLatin1Char('='), 0, 0) == name)
            return pair.section(QLatin1Char('='), 1);
    }
    return {};
}

platform::HTTPResponse responseSetting(const QStringList& setCookies)
{
    platform::HTTPResponse response;
    response.status = 200;
    response.finalURL = QStringLiteral("https://") + KRServiceHosts::apiHost() + QStringLiteral("/x/anything");
    for (const QString& line : setCookies)
        response.headers.add(QStringLiteral("Set-Cookie"), line);
    return response;
}

} // namespace

// ---- capture, persistence and restore ---------------------------------------------------------

TEST(SessionStore, CaptureLogsInPersistsAndSurvivesARestart)
{
    ChangeCounter changes;
    testsupport::ConsoleCapture console;
    ASSERT_TRUE(store().captureAppAuthenticationFromPayload(loginPayload()));

    EXPECT_EQ(changes.count, 1);
    EXPECT_TRUE(store().isLoggedIn());
    EXPECT_EQ(store().userID(), 42);
    EXPECT_EQ(store().cookieHeader(), QStringLiteral("DedeUserID=42; SESSDATA=s"));
    EXPECT_EQ(store().accessToken(), QStringLiteral("acc-token-1"));
    EXPECT_EQ(store().refreshToken(), QStringLiteral("ref-token-1"));
    EXPECT_EQ(store().authSchemaVersion(), 2);
    EXPECT_EQ(store().credentialGeneration(), 1);
    EXPECT_EQ(store().authenticationFamily(), QStringLiteral("app+web"));
    EXPECT_EQ(store().lastKeychainStatus(), 0);

    const QString log = console.text();
    EXPECT_TRUE(log.contains(QStringLiteral(
        "[KorvaneSession] captured app authorization cookieCount=2 authFamily=app+web authSchema=2 "
        "credentialGeneration=1 webSession=YES appToken=YES appRefresh=YES appTokenUsable=YES "
        "appTokenNeedsRefresh=NO hasSESSDATA=YES hasBuvid=NO hasGaia=NO")))
        << log.toStdString();
    EXPECT_FALSE(log.contains(QStringLiteral("acc-token-1")));
    EXPECT_FALSE(log.contains(QStringLiteral("ref-token-1")));

    // Only the owner may read the stored credentials.
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(platform::Keychain::itemPath(kService, kAccount)).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    const double expiry = store().accessTokenExpiresAt();
    restart();
    EXPECT_TRUE(store().isLoggedIn());
    EXPECT_EQ(store().cookieHeader(), QStringLiteral("DedeUserID=42; SESSDATA=s"));
    EXPECT_EQ(store().accessToken(), QStringLiteral("acc-token-1"));
    EXPECT_EQ(store().refreshToken(), QStringLiteral("ref-token-1"));
    EXPECT_DOUBLE_EQ(store().accessTokenExpiresAt(), expiry);
    EXPECT_EQ(store().credentialGeneration(), 1);
    EXPECT_EQ(store().authSchemaVersion(), 2);
    EXPECT_TRUE(console.text().contains(QStringLiteral("[KorvaneSession] restored cookieCount=2 authFamily=app+web")));
    // Restoring announces nothing.
    EXPECT_EQ(changes.count, 1);
}

TEST(SessionStore, RefreshTokenIsKeptAcrossRefreshes)
{
    ASSERT_TRUE(store().captureAppAuthenticationFromPayload(loginPayload()));
    ASSERT_EQ(store().refreshToken(), QStringLiteral("ref-token-1"));

    // Each refresh answer carries its new pair under "token_info"; the next refresh needs it.
    ASSERT_TRUE(store().replaceAppAuthenticationFromRefreshPayload(
        loginPayload(QStringLiteral("acc-2"), QStringLiteral("ref-2")), 1));
    EXPECT_EQ(store().refreshToken(), QStringLiteral("ref-2"));
    EXPECT_EQ(store().credentialGeneration(), 2);
    ASSERT_TRUE(store().replaceAppAuthenticationFromRefreshPayload(
        loginPayload(QStringLiteral("acc-3"), QStringLiteral("ref-3")), 2));
    EXPECT_EQ(store().accessToken(), QStringLiteral("acc-3"));
    EXPECT_EQ(store().refreshToken(), QStringLiteral("ref-3"));

    // A result that belongs to credentials replaced meanwhile is dropped.
    EXPECT_FALSE(store().replaceAppAuthenticationFromRefreshPayload(
        loginPayload(QStringLiteral("acc-old"), QStringLiteral("ref-old")), 2));
    EXPECT_EQ(store().accessToken(), QStringLiteral("acc-3"));
    // A refresh answer without a refresh token is refused.
    EXPECT_FALSE(store().replaceAppAuthenticationFromRefreshPayload(loginPayload(QStringLiteral("acc-4"), QString()), 3));
    EXPECT_EQ(store().accessToken(), QStringLiteral("acc-3"));
}

TEST(SessionStore, CaptureReadsTokensFromThePayloadItselfWithoutTokenInfo)
{
    QVariantMap payload = loginPayload();
    payload.remove(QStringLiteral("token_info"));
    payload.insert(QStringLiteral("access_token"), QStringLiteral("top-acc"));
    payload.insert(QStringLiteral("refresh_token"), QStringLiteral("top-ref"));
    ASSERT_TRUE(store().captureAppAuthenticationFromPayload(payload));
    EXPECT_EQ(store().accessToken(), QStringLiteral("top-acc"));
    EXPECT_EQ(store().refreshToken(), QStringLiteral("top-ref"));
    EXPECT_EQ(store().accessTokenExpiresAt(), 0.0);
    EXPECT_TRUE(store().appAccessTokenUsable());
}

TEST(SessionStore, InvalidCapturePayloadsChangeNothing)
{
    ASSERT_TRUE(store().captureAppAuthenticationFromPayload(loginPayload()));
    const QString header = store().cookieHeader();
    ChangeCounter changes;

    const QVariantList noSession{cookieEntry(QStringLiteral("DedeUserID"), QStringLiteral("7"))};
    const QVariantList zeroMember{cookieEntry(QStringLiteral("SESSDATA"), QStringLiteral("t")),
                                  cookieEntry(QStringLiteral("DedeUserID"), QStringLiteral("0"))};
    const QVariantList numericValues{cookieEntry(QStringLiteral("SESSDATA"), 5),
                                     cookieEntry(QStringLiteral("DedeUserID"), 7)};
    EXPECT_FALSE(store().captureAppAuthenticationFromPayload(QVariant(QStringLiteral("text"))));
    EXPECT_FALSE(store().captureAppAuthenticationFromPayload(QVariantMap()));
    EXPECT_FALSE(store().captureAppAuthenticationFromPayload(loginPayload(QString())));
    EXPECT_FALSE(store().captureAppAuthenticationFromPayload(loginPayload(QStringLiteral("a"), {}, {}, noSession)));
    EXPECT_FALSE(store().captureAppAuthenticationFromPayload(loginPayload(QStringLiteral("a"), {}, {}, zeroMember)));
    EXPECT_FALSE(store().captureAppAuthenticationFromPayload(loginPayload(QStringLiteral("a"), {}, {}, numericValues)));

    EXPECT_EQ(changes.count, 0);
    EXPECT_EQ(store().cookieHeader(), header);
    EXPECT_EQ(store().accessToken(), QStringLiteral("acc-token-1"));
    EXPECT_EQ(store().credentialGeneration(), 1);
}

TEST(SessionStore, CaptureReplacesEveryEarlierServiceCookie)
{
    writeItem(QVariantList{cookieProperties(QStringLiteral("buvid3"), QStringLiteral("old")),
                           cookieProperties(QStringLiteral("SESSDATA"), QStringLiteral("old"))});
    restart();
    store().installEphemeralGaiaToken(QStringLiteral("gaia"));
    ASSERT_TRUE(store().cookieHeader().contains(QStringLiteral("buvid3=old")));

    ASSERT_TRUE(store().captureAppAuthenticationFromPayload(loginPayload()));
    EXPECT_EQ(store().cookieHeader(), QStringLiteral("DedeUserID=42; SESSDATA=s"));
    EXPECT_FALSE(platform::CookieStorage::shared().cookieHeaderForURL(
        QStringLiteral("https://") + KRServiceHosts::apiHost() + QStringLiteral("/")).contains(QStringLiteral("old")));
}

TEST(SessionStore, CookieExpiriesFromTheLoginPayload)
{
    const double now = 1700000000;
    store().setClockForTesting([&] { return now; });
    const QVariantList cookies{
        cookieEntry(QStringLiteral("SESSDATA"), QStringLiteral("s"), {{QStringLiteral("expires"), 999999999}}),
        cookieEntry(QStringLiteral("DedeUserID"), QStringLiteral("42"), {{QStringLiteral("expires"), QStringLiteral("1900000000")}}),
        cookieEntry(QStringLiteral("zant_jct"), QStringLiteral("csrf"),
                    {{QStringLiteral("expires"), 0}, {QStringLiteral("expires_in"), 60}, {QStringLiteral("secure"), true}}),
        cookieEntry(QStringLiteral("sid"), QStringLiteral("x"), {{QStringLiteral("expires"), -5}})};
    ASSERT_TRUE(store().captureAppAuthenticationFromPayload(loginPayload(QStringLiteral("a"), QStringLiteral("r"), {}, cookies)));
    EXPECT_EQ(store().csrfToken(), QStringLiteral("csrf"));

    // Up to 999999999 counts as seconds from now; above it is a Unix time.
    EXPECT_EQ(storedCookie(QStringLiteral("SESSDATA")).value(QStringLiteral("Expires")).toDateTime(),
              QDateTime::fromSecsSinceEpoch(qint64(now) + 999999999, Qt::UTC));
    EXPECT_EQ(storedCookie(QStringLiteral("DedeUserID")).value(QStringLiteral("Expires")).toDateTime(),
              QDateTime::fromSecsSinceEpoch(1900000000, Qt::UTC));
    const QVariantMap csrf = storedCookie(QStringLiteral("zant_jct"));
    EXPECT_EQ(csrf.value(QStringLiteral("Expires")).toDateTime(), QDateTime::fromSecsSinceEpoch(qint64(now) + 60, Qt::UTC));
    EXPECT_EQ(csrf.value(QStringLiteral("Secure")).toString(), QStringLiteral("TRUE"));
    EXPECT_FALSE(storedCookie(QStringLiteral("sid")).contains(QStringLiteral("Expires")));
    EXPECT_EQ(storedCookie(QStringLiteral("sid")).value(QStringLiteral("Domain")).toString(),
              QLatin1Char('.') + KRServiceHosts::mainDomain());

    // 1000000000 is a time long past: that cookie does not come back after a restart.
    const QVariantList pastCookie{cookieEntry(QStringLiteral("SESSDATA"), QStringLiteral("s")),
                                  cookieEntry(QStringLiteral("DedeUserID"), QStringLiteral("42")),
                                  cookieEntry(QStringLiteral("old"), QStringLiteral("x"), {{QStringLiteral("expires"), 1000000000}})};
    ASSERT_TRUE(store().captureAppAuthenticationFromPayload(loginPayload(QStringLiteral("a"), QStringLiteral("r"), {}, pastCookie)));
    restart();
    EXPECT_EQ(store().cookieHeader(), QStringLiteral("DedeUserID=42; SESSDATA=s"));
}

TEST(SessionStore, FarFutureCookieStillLetsTheSessionBeSaved)
{
    const QVariantList cookies{cookieEntry(QStringLiteral("SESSDATA"), QStringLiteral("s"),
                                           {{QStringLiteral("expires"), QStringLiteral("9999999999")}}),
                               cookieEntry(QStringLiteral("DedeUserID"), QStringLiteral("42"))};
    ASSERT_TRUE(store().captureAppAuthenticationFromPayload(loginPayload(QStringLiteral("a"), QStringLiteral("r"), {}, cookies)));
    restart();
    EXPECT_TRUE(store().isLoggedIn());
    EXPECT_EQ(store().accessToken(), QStringLiteral("a"));
}

// ---- token timing -----------------------------------------------------------------------------

TEST(SessionStore, TokenUsableAndRefreshWindows)
{
    double now = 1700000000;
    store().setClockForTesting([&] { return now; });
    ASSERT_TRUE(store().captureAppAuthenticationFromPayload(
        loginPayload(QStringLiteral("a"), QStringLiteral("r"), {{QStringLiteral("expires_at"), now + 61}})));
    EXPECT_DOUBLE_EQ(store().accessTokenExpiresAt(), now + 61);
    EXPECT_TRUE(store().appAccessTokenUsable());
    EXPECT_TRUE(store().appAccessTokenNeedsRefresh());

    now += 1; // 60 s left
    EXPECT_FALSE(store().appAccessTokenUsable());
    EXPECT_TRUE(store().appAccessTokenNeedsRefresh());
    EXPECT_EQ(store().authenticationFamily(), QStringLiteral("app-expired+web"));

    now += 3600; // long expired: still due for refresh
    EXPECT_TRUE(store().appAccessTokenNeedsRefresh());

    // 301 s left: usable and not yet due.
    ASSERT_TRUE(store().captureAppAuthenticationFromPayload(
        loginPayload(QStringLiteral("a"), QStringLiteral("r"), {{QStringLiteral("expires_in"), 301}})));
    EXPECT_TRUE(store().appAccessTokenUsable());
    EXPECT_FALSE(store().appAccessTokenNeedsRefresh());

    // An expiry of exactly 1e9 is not a Unix time: "expires_in" decides; neither gives unknown.
    ASSERT_TRUE(store().captureAppAuthenticationFromPayload(loginPayload(
        QStringLiteral("a"), QStringLiteral("r"), {{QStringLiteral("expires_at"), 1e9}, {QStringLiteral("expires_in"), 100}})));
    EXPECT_DOUBLE_EQ(store().accessTokenExpiresAt(), now + 100);
    ASSERT_TRUE(store().captureAppAuthenticationFromPayload(
        loginPayload(QStringLiteral("a"), QStringLiteral("r"), {{QStringLiteral("expires_at"), 1e9}})));
    EXPECT_EQ(store().accessTokenExpiresAt(), 0.0);
    now += 1e8;
    EXPECT_TRUE(store().appAccessTokenUsable());
    EXPECT_FALSE(store().appAccessTokenNeedsRefresh());

    // Without a refresh token a token is never "due": nothing could refresh it. A capture
    // whose token is already unusable is kept but reported as not usable.
    EXPECT_FALSE(store().captureAppAuthenticationFromPayload(
        loginPayload(QStringLiteral("a"), QString(), {{QStringLiteral("expires_in"), 30}})));
    EXPECT_TRUE(store().isLoggedIn());
    EXPECT_TRUE(store().hasAppAccessToken());
    EXPECT_FALSE(store().hasAppRefreshToken());
    EXPECT_FALSE(store().appAccessTokenNeedsRefresh());
    EXPECT_FALSE(store().appAccessTokenUsable());
}

// ---- invalidation and logout ------------------------------------------------------------------

TEST(SessionStore, InvalidationDropsTokensOfTheCurrentGenerationOnly)
{
    ASSERT_TRUE(store().captureAppAuthenticationFromPayload(loginPayload()));
    ChangeCounter changes;
    testsupport::ConsoleCapture console;

    EXPECT_FALSE(store().invalidateAppAuthenticationForCredentialGeneration(0));
    EXPECT_TRUE(store().hasAppAccessToken());
    EXPECT_EQ(changes.count, 0);

    EXPECT_TRUE(store().invalidateAppAuthenticationForCredentialGeneration(1));
    EXPECT_FALSE(store().hasAppAccessToken());
    EXPECT_FALSE(store().hasAppRefreshToken());
    EXPECT_EQ(store().credentialGeneration(), 2);
    EXPECT_EQ(store().authSchemaVersion(), 2);
    EXPECT_TRUE(store().isLoggedIn());
    EXPECT_EQ(store().authenticationFamily(), QStringLiteral("web-only"));
    EXPECT_EQ(changes.count, 1);
    EXPECT_TRUE(console.text().contains(
        QStringLiteral("[KorvaneSession] invalidated app authorization authFamily=web-only authSchema=2 credentialGeneration=2")));

    restart();
    EXPECT_FALSE(store().hasAppAccessToken());
    EXPECT_EQ(store().credentialGeneration(), 2);
    EXPECT_FALSE(storedItem().toMap().contains(QStringLiteral("access_token")));
}

TEST(SessionStore, LogoutForgetsEverythingAndDropsLateRefreshes)
{
    ASSERT_TRUE(store().captureAppAuthenticationFromPayload(loginPayload()));
    store().updateAccountProfile(QVariantMap{{QStringLiteral("uname"), QStringLiteral("me")}});
    ChangeCounter changes;
    testsupport::ConsoleCapture console;

    store().clearSession();
    EXPECT_FALSE(store().isLoggedIn());
    EXPECT_EQ(store().cookieHeader(), QString());
    EXPECT_FALSE(store().hasAppAccessToken());
    EXPECT_EQ(store().authSchemaVersion(), 0);
    EXPECT_EQ(store().credentialGeneration(), 2);
    EXPECT_FALSE(store().accountProfile());
    EXPECT_EQ(store().authenticationFamily(), QStringLiteral("anonymous"));
    EXPECT_EQ(changes.count, 1);
    EXPECT_TRUE(console.text().contains(QStringLiteral("[KorvaneSession] cleared")));
    EXPECT_EQ(platform::Keychain::copy(kService, kAccount, nullptr), platform::Keychain::errSecItemNotFound);
    EXPECT_FALSE(platform::UserDefaults::standard().contains(KRAccountProfileDefaultsKey));
    EXPECT_TRUE(platform::CookieStorage::shared().cookies().isEmpty());

    // A refresh that started before the logout arrives afterwards.
    EXPECT_FALSE(store().replaceAppAuthenticationFromRefreshPayload(loginPayload(), 1));
    EXPECT_FALSE(store().isLoggedIn());

    restart();
    EXPECT_FALSE(store().isLoggedIn());
    EXPECT_EQ(store().credentialGeneration(), 0);
}

// ---- restore ----------------------------------------------------------------------------------

TEST(SessionStore, RestoresTheOlderCookieArrayLayout)
{
    writeItem(QVariantList{cookieProperties(QStringLiteral("SESSDATA"), QStringLiteral("s")),
                           cookieProperties(QStringLiteral("DedeUserID"), QStringLiteral("9"))});
    restart();
    EXPECT_TRUE(store().isLoggedIn());
    EXPECT_EQ(store().userID(), 9);
    EXPECT_FALSE(store().hasAppAccessToken());
    EXPECT_EQ(store().authSchemaVersion(), 0);
    EXPECT_EQ(store().credentialGeneration(), 0);
    EXPECT_EQ(store().authenticationFamily(), QStringLiteral("web-only"));
}

TEST(SessionStore, RestoreSkipsExpiredCaptchaAndForeignCookies)
{
    const QDateTime past = QDateTime::currentDateTimeUtc().addSecs(-10);
    const QDateTime future = QDateTime::currentDateTimeUtc().addDays(10);
    writeItem(QVariantMap{
        {QStringLiteral("cookies"),
         QVariantList{cookieProperties(QStringLiteral("b"), QStringLiteral("2"), {}, future),
                      cookieProperties(QStringLiteral("a"), QStringLiteral("1")),
                      cookieProperties(QStringLiteral("gone"), QStringLiteral("x"), {}, past),
                      cookieProperties(KRSessionGaiaCookieName, QStringLiteral("g")),
                      cookieProperties(QStringLiteral("other"), QStringLiteral("x"), QStringLiteral(".other.test")),
                      QStringLiteral("not a cookie"),
                      QVariantMap{{QStringLiteral("Name"), QStringLiteral("nodomain")}}}},
        {QStringLiteral("access_token"), QStringLiteral("tok")},
        {QStringLiteral("access_token_expires_at"), 5e9},
        {QStringLiteral("auth_schema_version"), 2},
        {QStringLiteral("credential_generation"), 7}});
    testsupport::ConsoleCapture console;
    restart();
    // Names in plain ascending order, whatever order they were stored in.
    EXPECT_EQ(store().cookieHeader(), QStringLiteral("a=1; b=2"));
    EXPECT_EQ(store().accessToken(), QStringLiteral("tok"));
    EXPECT_EQ(store().credentialGeneration(), 7);
    EXPECT_EQ(store().authenticationFamily(), QStringLiteral("app-only"));
    EXPECT_TRUE(console.text().contains(QStringLiteral("[KorvaneSession] restored cookieCount=2 authFamily=app-only")));
}

TEST(SessionStore, UnreadableItemsStartLoggedOut)
{
    for (const QByteArray& data : {QByteArray("bplist00 garbage"), QByteArray("<plist><dict><key>"),
                                   platform::PropertyList::toBinary(QStringLiteral("just text"))}) {
        platform::Keychain::remove(kService, kAccount);
        ASSERT_EQ(platform::Keychain::add(kService, kAccount, data), 0);
        restart();
        EXPECT_FALSE(store().isLoggedIn());
        EXPECT_EQ(store().cookieHeader(), QString());
        EXPECT_FALSE(store().hasAppAccessToken());
    }
    platform::Keychain::remove(kService, kAccount);
    restart();
    EXPECT_EQ(store().lastKeychainStatus(), platform::Keychain::errSecItemNotFound);
}

// ---- cookie header, captcha cookie and Set-Cookie merge ----------------------------------------

TEST(SessionStore, CaptchaCookieIsSentForTwoMinutesAndNeverStored)
{
    double now = double(QDateTime::currentSecsSinceEpoch());
    store().setClockForTesting([&] { return now; });
    ASSERT_TRUE(store().captureAppAuthenticationFromPayload(loginPayload()));
    ChangeCounter changes;

    store().installEphemeralGaiaToken(QString());
    EXPECT_EQ(store().cookieHeader(), QStringLiteral("DedeUserID=42; SESSDATA=s"));
    store().installEphemeralGaiaToken(QStringLiteral("vtok"));
    EXPECT_EQ(store().cookieHeader(), QStringLiteral("DedeUserID=42; SESSDATA=s; x-zant-gaia-vtoken=vtok"));
    EXPECT_TRUE(store().credentialDiagnosticSummary().endsWith(QStringLiteral("hasGaia=YES")));
    EXPECT_EQ(changes.count, 0);

    // A merge persists the session; the captcha cookie must not travel with it.
    const platform::HTTPResponse response = responseSetting({QStringLiteral("zant_jct=c; Path=/")});
    store().captureCookiesFromHTTPResponse(&response);
    EXPECT_TRUE(storedCookie(KRSessionGaiaCookieName).isEmpty());
    EXPECT_FALSE(storedCookie(QStringLiteral("zant_jct")).isEmpty());

    now += 121;
    EXPECT_EQ(store().cookieHeader(), QStringLiteral("DedeUserID=42; SESSDATA=s; zant_jct=c"));
    EXPECT_TRUE(store().credentialDiagnosticSummary().endsWith(QStringLiteral("hasGaia=NO")));
}

TEST(SessionStore, SetCookieMergeReplacesByNameAndDeletesExpiredOnes)
{
    ASSERT_TRUE(store().captureAppAuthenticationFromPayload(loginPayload()));
    ChangeCounter changes;
    testsupport::ConsoleCapture console;

    store().captureCookiesFromHTTPResponse(nullptr);
    EXPECT_EQ(changes.count, 0);

    const platform::HTTPResponse update = responseSetting(
        {QStringLiteral("SESSDATA=s2; Domain=") + KRServiceHosts::mainDomain() + QStringLiteral("; Path=/"),
         QStringLiteral("zant_jct=csrf; Path=/"),
         QStringLiteral("theirs=1; Domain=other.test; Path=/")});
    store().captureCookiesFromHTTPResponse(&update);
    EXPECT_EQ(store().cookieHeader(), QStringLiteral("DedeUserID=42; SESSDATA=s2; zant_jct=csrf"));
    EXPECT_EQ(store().csrfToken(), QStringLiteral("csrf"));
    EXPECT_EQ(changes.count, 1);
    EXPECT_TRUE(console.text().contains(QStringLiteral("[KorvaneSession] captured cookieCount=3 loggedIn=YES")));

    // The service ends the web session by sending the cookie already expired.
    const platform::HTTPResponse expire = responseSetting(
        {QStringLiteral("SESSDATA=; Domain=") + KRServiceHosts::mainDomain() + QStringLiteral("; Path=/; Expires=Thu, 01 Jan 1970 00:00:00 GMT")});
    store().captureCookiesFromHTTPResponse(&expire);
    EXPECT_FALSE(store().isLoggedIn());
    EXPECT_FALSE(headerNames(store().cookieHeader()).contains(QStringLiteral("SESSDATA")));
    EXPECT_EQ(changes.count, 2);
    EXPECT_TRUE(console.text().contains(QStringLiteral("[KorvaneSession] captured cookieCount=2 loggedIn=NO")));
    restart();
    EXPECT_FALSE(store().isLoggedIn());
}

TEST(SessionStore, SetCookieMergeWhileLoggedOutPostsNothing)
{
    ChangeCounter changes;
    const platform::HTTPResponse response = responseSetting({QStringLiteral("buvid3=b; Path=/")});
    store().captureCookiesFromHTTPResponse(&response);
    EXPECT_EQ(store().cookieHeader(), QStringLiteral("buvid3=b"));
    EXPECT_EQ(changes.count, 0);

    // A merge that logs in is announced.
    const platform::HTTPResponse login =
        responseSetting({QStringLiteral("SESSDATA=s; Path=/"), QStringLiteral("DedeUserID=5; Path=/")});
    store().captureCookiesFromHTTPResponse(&login);
    EXPECT_TRUE(store().isLoggedIn());
    EXPECT_EQ(changes.count, 1);
}

// ---- account profile ---------------------------------------------------------------------------

TEST(SessionStore, AccountProfileKeepsOnlyPlainFieldsInTheDefaults)
{
    ChangeCounter changes;
    store().updateAccountProfile(QVariant(QVariantList{1, 2}));
    EXPECT_EQ(changes.count, 0);
    EXPECT_FALSE(store().accountProfile());

    const QVariantMap profile{{QStringLiteral("mid"), qint64(42)},
                              {QStringLiteral("uname"), QStringLiteral("名字")},
                              {QStringLiteral("face"), QVariant::fromValue(nullptr)},
                              {QStringLiteral("money"), 1.5},
                              {QStringLiteral("vipStatus"), true},
                              {QStringLiteral("vipType"), QVariantList{1}},
                              {QStringLiteral("isLogin"), true},
                              {QStringLiteral("level_info"),
                               QVariantMap{{QStringLiteral("current_level"), 5},
                                           {QStringLiteral("next_exp"), QStringLiteral("--")},
                                           {QStringLiteral("other"), 1}}}};
    store().updateAccountProfile(profile);
    EXPECT_EQ(changes.count, 1);
    EXPECT_EQ(store().accountProfile(), profile);

    const QVariantMap stored = platform::UserDefaults::standard().dictionary(KRAccountProfileDefaultsKey);
    EXPECT_EQ(stored.keys(), (QStringList{QStringLiteral("level_info"), QStringLiteral("mid"), QStringLiteral("money"),
                                          QStringLiteral("uname"), QStringLiteral("vipStatus")}));
    EXPECT_EQ(stored.value(QStringLiteral("level_info")).toMap().keys(),
              (QStringList{QStringLiteral("current_level"), QStringLiteral("next_exp")}));

    restart();
    ASSERT_TRUE(store().accountProfile());
    EXPECT_EQ(store().accountProfile()->value(QStringLiteral("uname")).toString(), QStringLiteral("名字"));
    EXPECT_FALSE(store().accountProfile()->contains(QStringLiteral("isLogin")));

    // An empty level dictionary is still written.
    store().updateAccountProfile(QVariantMap{{QStringLiteral("level_info"), QVariantMap{{QStringLiteral("x"), 1}}}});
    EXPECT_EQ(platform::UserDefaults::standard().dictionary(KRAccountProfileDefaultsKey),
              (QVariantMap{{QStringLiteral("level_info"), QVariantMap()}}));
}

TEST(SessionStore, SavedRefreshTokenPersistsWithoutAnnouncement)
{
    ASSERT_TRUE(store().captureAppAuthenticationFromPayload(loginPayload()));
    ChangeCounter changes;
    store().saveRefreshToken(QStringLiteral("ref-new"));
    EXPECT_EQ(store().refreshToken(), QStringLiteral("ref-new"));
    EXPECT_EQ(changes.count, 0);
    restart();
    EXPECT_EQ(store().refreshToken(), QStringLiteral("ref-new"));
}

// ---- risk-control cookies ----------------------------------------------------------------------

class SessionRiskCookies : public ::testing::Test {
protected:
    testsupport::FakeService fake{KRServiceHosts::allServiceHosts()};

    struct Outcome {
        bool done = false;
        bool ready = false;
        KROptionalError error;
    };
    Outcome prepare()
    {
        auto outcome = std::make_shared<Outcome>();
        store().prepareRiskControlCookiesWithCompletion([outcome](bool ready, KROptionalError error) {
            EXPECT_FALSE(outcome->done) << "completion called twice";
            outcome->done = true;
            outcome->ready = ready;
            outcome->error = error;
        });
        if (!testsupport::waitUntil([&] { return outcome->done; }))
            ADD_FAILURE() << "no completion";
        return *outcome;
    }
};

TEST_F(SessionRiskCookies, FetchStoresBuvidAndNutThenSendsNothingMore)
{
    ASSERT_TRUE(store().captureAppAuthenticationFromPayload(loginPayload()));
    fake.route(KRServiceHosts::apiHost(), kSpiPath, [](const testsupport::FakeRequest&) {
        return testsupport::FakeReply::json(QByteArray(R"({"code":0,"data":{"b_3":"B3-value","b_4":"B4-value"}})"))
            .header(QStringLiteral("Set-Cookie"), QStringLiteral("extra=e; Path=/"));
    });
    ChangeCounter changes;
    testsupport::ConsoleCapture console;
    const qint64 before = QDateTime::currentSecsSinceEpoch();

    const Outcome outcome = prepare();
    EXPECT_TRUE(outcome.ready);
    EXPECT_FALSE(outcome.error);

    const QList<testsupport::FakeRequest> sent = fake.requestsTo(kSpiPath);
    ASSERT_EQ(sent.size(), 1);
    EXPECT_TRUE(sent[0].tls);
    EXPECT_EQ(sent[0].host, KRServiceHosts::apiHost());
    EXPECT_EQ(sent[0].header(QStringLiteral("User-Agent")),
              QStringLiteral("Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/537.36 (KHTML, like Gecko) "
                             "Chrome/140.0.0.0 Safari/537.36"));
    EXPECT_EQ(sent[0].header(QStringLiteral("Accept")), QStringLiteral("application/json, text/plain, */*"));
    EXPECT_EQ(sent[0].header(QStringLiteral("Cookie")), QStringLiteral("DedeUserID=42; SESSDATA=s"));

    const QString header = store().cookieHeader();
    EXPECT_EQ(headerValue(header, QStringLiteral("buvid3")), QStringLiteral("B3-value"));
    EXPECT_EQ(headerValue(header, QStringLiteral("buvid4")), QStringLiteral("B4-value"));
    EXPECT_EQ(headerValue(header, QStringLiteral("extra")), QStringLiteral("e"));
    const qint64 nut = headerValue(header, QStringLiteral("b_nut")).toLongLong();
    EXPECT_GE(nut, before);
    EXPECT_LE(nut, QDateTime::currentSecsSinceEpoch());
    EXPECT_TRUE(store().isLoggedIn());
    EXPECT_EQ(changes.count, 1); // through the merge only
    EXPECT_TRUE(console.text().contains(QStringLiteral("[KorvaneSession] riskCookies ready=YES status=200")));

    // Persisted: a new process has them without asking again.
    restart();
    bool called = false;
    store().prepareRiskControlCookiesWithCompletion([&](bool ready, KROptionalError error) {
        called = true;
        EXPECT_TRUE(ready);
        EXPECT_FALSE(error);
    });
    EXPECT_TRUE(called); // answered inside the call
    EXPECT_EQ(fake.requestsTo(kSpiPath).size(), 1);
}

TEST_F(SessionRiskCookies, AnswerWithoutBuvidKeepsAnExistingNut)
{
    writeItem(QVariantList{cookieProperties(QStringLiteral("b_nut"), QStringLiteral("12345"))});
    restart();
    fake.routeJSON(KRServiceHosts::apiHost(), kSpiPath, QByteArray(R"({"code":0,"data":{"b_3":7}})"));
    testsupport::ConsoleCapture console;

    const Outcome outcome = prepare();
    EXPECT_FALSE(outcome.ready);
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->domain(), KRSessionStoreError);
    EXPECT_EQ(outcome.error->code(), -3);
    EXPECT_EQ(outcome.error->message(), QStringLiteral("官方指纹接口未返回 buvid3"));
    EXPECT_EQ(store().cookieHeader(), QStringLiteral("b_nut=12345"));
    ASSERT_EQ(fake.requestsTo(kSpiPath).size(), 1);
    EXPECT_EQ(fake.requestsTo(kSpiPath)[0].header(QStringLiteral("Cookie")), QStringLiteral("b_nut=12345"));
    EXPECT_TRUE(console.text().contains(QStringLiteral("[KorvaneSession] riskCookies ready=NO status=200")));
}

TEST_F(SessionRiskCookies, BrokenAnswersReachTheCompletion)
{
    fake.routeReply(KRServiceHosts::apiHost(), kSpiPath, testsupport::FakeReply::json(QByteArray("{\"data\":")));
    Outcome outcome = prepare();
    EXPECT_FALSE(outcome.ready);
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->domain(), QStringLiteral("NSCocoaErrorDomain"));

    testsupport::FakeReply dropped;
    dropped.closeWithoutReply = true;
    fake.routeReply(KRServiceHosts::apiHost(), kSpiPath, dropped);
    testsupport::ConsoleCapture console;
    outcome = prepare();
    EXPECT_FALSE(outcome.ready);
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->domain(), platform::URLError::domain());
    EXPECT_TRUE(console.text().contains(QStringLiteral("[KorvaneSession] riskCookies ready=NO status=0")));
}

// ---- readers on worker threads -----------------------------------------------------------------

TEST(SessionStore, WorkerReadersSeeWholeStatesWhileTheMainThreadChangesThem)
{
    std::atomic_bool stop{false};
    std::atomic_int inconsistent{0};
    std::atomic_int reads{0};
    const QString full = QStringLiteral("DedeUserID=42; SESSDATA=s");
    std::vector<std::thread> readers;
    for (int i = 0; i < 4; ++i) {
        readers.emplace_back([&] {
            while (!stop) {
                const QString header = store().cookieHeader();
                if (!header.isEmpty() && header != full)
                    ++inconsistent;
                store().isLoggedIn();
                store().credentialDiagnosticSummary();
                ++reads;
            }
        });
    }
    for (int round = 0; round < 200; ++round) {
        store().captureAppAuthenticationFromPayload(loginPayload());
        store().clearSession();
    }
    testsupport::waitUntil([&] { return reads > 1000; });
    stop = true;
    for (std::thread& reader : readers)
        reader.join();
    EXPECT_EQ(inconsistent, 0);
    EXPECT_GT(reads, 0);
}
