#include "store/KRSessionStore.h"

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/net/CookieStorage.h"
#include "platform/net/HTTPExchange.h"
#include "platform/security/Keychain.h"
#include "model/KRConsole.h"
#include "model/KRServiceHosts.h"
#include "model/KRTolerantValue.h"
#include "store/KRSessionCookie.h"

#include <QDateTime>
#include <QMap>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <limits>

std::atomic<qint32> KRSessionLastKeychainStatus{0};

struct KRSessionStore::State {
    QList<platform::Cookie> cookies;
    QString accessToken;
    QString refreshToken;
    double accessTokenExpiresAt = 0;
    qint32 authSchemaVersion = 0;
    qint32 credentialGeneration = 0;
    std::optional<QVariantMap> accountProfile;
};

namespace {

using State = KRSessionStore::State;

const QString kKeychainService = QStringLiteral("com.tarnwick.korvane5.session");
const QString kKeychainAccount = QStringLiteral("zantorel-web");
const QString kSessionCookie = QStringLiteral("SESSDATA");
const QString kMemberCookie = QStringLiteral("DedeUserID");
const QString kCSRFCookie = QStringLiteral("zant_jct");
const QString kBuvid3 = QStringLiteral("buvid3");
const QString kBuvid4 = QStringLiteral("buvid4");
const QString kBNut = QStringLiteral("b_nut");
constexpr double kAbsoluteExpiryThreshold = 1e9;
constexpr int kGaiaTokenLifetimeSeconds = 120;

// ---- reads of reply and item values -----------------------------------------------------------

QString nonEmptyText(const QVariant& value)
{
    return KRIsString(value) && !value.toString().isEmpty() ? value.toString() : QString();
}

qint32 int32Value(const QVariant& value)
{
    return qint32(std::clamp<qint64>(KRLongLong(value), std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max()));
}

// max(generation, 0) + 1, staying positive and always different from the one it follows.
qint32 nextGeneration(qint32 generation)
{
    return generation >= std::numeric_limits<qint32>::max() ? 1 : std::max(generation, 0) + 1;
}

// ---- state queries -----------------------------------------------------------------------

const platform::Cookie* cookieNamed(const State& state, const QString& name)
{
    for (const platform::Cookie& cookie : state.cookies) {
        if (cookie.name == name)
            return &cookie;
    }
    return nullptr;
}

qint64 userIDOf(const State& state)
{
    const platform::Cookie* member = cookieNamed(state, kMemberCookie);
    return member ? KRLongLongFromText(member->value) : 0;
}

bool loggedIn(const State& state)
{
    const platform::Cookie* session = cookieNamed(state, kSessionCookie);
    return session && !session->value.isEmpty() && userIDOf(state) > 0;
}

bool tokenUsable(const State& state, double now)
{
    if (state.accessToken.isEmpty())
        return false;
    return state.accessTokenExpiresAt <= 0 || state.accessTokenExpiresAt - now > 60;
}

bool tokenNeedsRefresh(const State& state, double now)
{
    if (state.accessToken.isEmpty() || state.refreshToken.isEmpty() || state.accessTokenExpiresAt <= 0)
        return false;
    return state.accessTokenExpiresAt - now <= 300;
}

QString familyOf(const State& state, double now)
{
    const bool web = loggedIn(state);
    const bool app = !state.accessToken.isEmpty();
    if (app && !tokenUsable(state, now))
        return web ? QStringLiteral("app-expired+web") : QStringLiteral("app-expired");
    if (web && app)
        return QStringLiteral("app+web");
    if (app)
        return QStringLiteral("app-only");
    if (web)
        return QStringLiteral("web-only");
    return QStringLiteral("anonymous");
}

QString summaryOf(const State& state, double now)
{
    const bool hasGaia = cookieNamed(state, KRSessionGaiaCookieName) || !KRSessionSharedGaiaCookies(KRSessionDateFromUnix(now)).isEmpty();
    const bool hasBuvid = cookieNamed(state, kBuvid3) || cookieNamed(state, kBuvid4);
    return QStringLiteral("authFamily=%1 authSchema=%2 credentialGeneration=%3 webSession=%4 appToken=%5 appRefresh=%6 "
                          "appTokenUsable=%7 appTokenNeedsRefresh=%8 hasSESSDATA=%9 hasBuvid=%10 hasGaia=%11")
        .arg(familyOf(state, now))
        .arg(state.authSchemaVersion)
        .arg(state.credentialGeneration)
        .arg(KRConsole::boolean(loggedIn(state)), KRConsole::boolean(!state.accessToken.isEmpty()),
             KRConsole::boolean(!state.refreshToken.isEmpty()), KRConsole::boolean(tokenUsable(state, now)),
             KRConsole::boolean(tokenNeedsRefresh(state, now)), KRConsole::boolean(cookieNamed(state, kSessionCookie)),
             KRConsole::boolean(hasBuvid), KRConsole::boolean(hasGaia));
}

// The profile fields worth keeping across launches: plain texts and numbers only.
QVariantMap filteredFields(const QVariantMap& source, const QStringList& keys)
{
    QVariantMap filtered;
    for (const QString& key : keys) {
        const QVariant value = source.value(key);
        if ((KRIsString(value) || KRIsNumber(value)) && platform::PropertyList::isRepresentable(value))
            filtered.insert(key, value);
    }
    return filtered;
}

QVariantMap filteredAccountProfile(const QVariantMap& profile)
{
    QVariantMap filtered = filteredFields(
        profile, {QStringLiteral("mid"), QStringLiteral("uname"), QStringLiteral("face"), QStringLiteral("money"),
                  QStringLiteral("moral"), QStringLiteral("vipStatus"), QStringLiteral("vipType")});
    const QVariant level = profile.value(QStringLiteral("level_info"));
    if (KRIsDictionary(level)) {
        filtered.insert(QStringLiteral("level_info"),
                        filteredFields(level.toMap(), {QStringLiteral("current_level"), QStringLiteral("current_min"),
                                                       QStringLiteral("current_exp"), QStringLiteral("next_exp")}));
    }
    return filtered;
}

// The member a profile was read for: the one it names, else the member signed in when it was
// read (a profile is only read while signed in, and a sign-in of another member drops it).
qint64 profileOwnerOf(const State& state)
{
    const qint64 named = state.accountProfile ? KRLongLong(state.accountProfile->value(QStringLiteral("mid"))) : 0;
    return named >= 1 ? named : userIDOf(state);
}

void removeStoredAccountProfile()
{
    platform::UserDefaults& defaults = platform::UserDefaults::standard();
    defaults.remove(KRAccountProfileDefaultsKey);
    defaults.synchronize();
}

double expiryFromTokens(const QVariantMap& tokens, double now)
{
    const double expiresAt = KRDouble(tokens.value(QStringLiteral("expires_at")));
    if (std::isfinite(expiresAt) && expiresAt > kAbsoluteExpiryThreshold)
        return expiresAt;
    const qint64 expiresIn = KRLongLong(tokens.value(QStringLiteral("expires_in")));
    return expiresIn >= 1 ? now + double(expiresIn) : 0;
}

} // namespace

// ---- the store --------------------------------------------------------------------------------

KRSessionStore& KRSessionStore::sharedStore()
{
    // Kept for the life of the process; never destroyed, so late replies always find it.
    static KRSessionStore* store = new KRSessionStore;
    return *store;
}

KRSessionStore::KRSessionStore()
    : m_state(std::make_shared<const State>())
{
    load();
}

std::shared_ptr<const KRSessionStore::State> KRSessionStore::snapshot() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_state;
}

void KRSessionStore::commit(std::shared_ptr<const State> state)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_state = std::move(state);
}

double KRSessionStore::now() const
{
    std::function<double()> clock;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        clock = m_clock;
    }
    return clock ? clock() : double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
}

void KRSessionStore::load()
{
    auto state = std::make_shared<State>();
    const QVariant profile = platform::UserDefaults::standard().object(KRAccountProfileDefaultsKey);
    if (KRIsDictionary(profile))
        state->accountProfile = profile.toMap();
    commit(std::move(state));
    restoreFromKeychain();
}

void KRSessionStore::setClockForTesting(std::function<double()> unixNow)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_clock = std::move(unixNow);
}

void KRSessionStore::resetForTesting()
{
    setClockForTesting(nullptr);
    KRSessionInstallSharedCookies(snapshot()->cookies, {});
    KRSessionLastKeychainStatus = 0;
    load();
}

// ---- reads ------------------------------------------------------------------------------------

bool KRSessionStore::isLoggedIn() const { return loggedIn(*snapshot()); }
qint64 KRSessionStore::userID() const { return userIDOf(*snapshot()); }

std::optional<qint64> KRSessionStore::signedInUserID() const
{
    const auto state = snapshot();
    return loggedIn(*state) ? std::optional<qint64>(userIDOf(*state)) : std::nullopt;
}

QString KRSessionStore::csrfToken() const
{
    const auto state = snapshot();
    const platform::Cookie* csrf = cookieNamed(*state, kCSRFCookie);
    return csrf ? csrf->value : QString();
}

QString KRSessionStore::cookieHeader() const
{
    return cookieHeaderOf(*snapshot());
}

std::optional<QString> KRSessionStore::cookieHeaderIfLoggedIn() const
{
    const auto state = snapshot();
    if (!loggedIn(*state))
        return std::nullopt;
    return cookieHeaderOf(*state);
}

QString KRSessionStore::cookieHeaderOf(const State& state) const
{
    QMap<QString, QString> byName;
    for (const platform::Cookie& cookie : state.cookies) {
        if (KRSessionCookieBelongsToZantorel(cookie))
            byName.insert(cookie.name, cookie.value);
    }
    for (const platform::Cookie& gaia : KRSessionSharedGaiaCookies(KRSessionDateFromUnix(now())))
        byName.insert(gaia.name, gaia.value);
    QStringList pairs;
    for (auto it = byName.cbegin(); it != byName.cend(); ++it) {
        if (!it.key().isEmpty())
            pairs.append(it.key() + QLatin1Char('=') + it.value());
    }
    return pairs.join(QStringLiteral("; "));
}

QString KRSessionStore::accessToken() const { return snapshot()->accessToken; }
QString KRSessionStore::refreshToken() const { return snapshot()->refreshToken; }
bool KRSessionStore::hasAppAccessToken() const { return !snapshot()->accessToken.isEmpty(); }
bool KRSessionStore::hasAppRefreshToken() const { return !snapshot()->refreshToken.isEmpty(); }
bool KRSessionStore::appAccessTokenUsable() const { return tokenUsable(*snapshot(), now()); }
bool KRSessionStore::appAccessTokenNeedsRefresh() const { return tokenNeedsRefresh(*snapshot(), now()); }
double KRSessionStore::accessTokenExpiresAt() const { return snapshot()->accessTokenExpiresAt; }
QString KRSessionStore::authenticationFamily() const { return familyOf(*snapshot(), now()); }
qint32 KRSessionStore::authSchemaVersion() const { return snapshot()->authSchemaVersion; }
qint32 KRSessionStore::credentialGeneration() const { return snapshot()->credentialGeneration; }
QString KRSessionStore::credentialDiagnosticSummary() const { return summaryOf(*snapshot(), now()); }
std::optional<QVariantMap> KRSessionStore::accountProfile() const { return snapshot()->accountProfile; }
qint32 KRSessionStore::lastKeychainStatus() const { return KRSessionLastKeychainStatus; }

// ---- keychain ---------------------------------------------------------------------------------

void KRSessionStore::restoreFromKeychain()
{
    QByteArray data;
    const int status = platform::Keychain::copy(kKeychainService, kKeychainAccount, &data);
    KRSessionLastKeychainStatus = status;
    if (status != platform::Keychain::errSecSuccess || data.isEmpty())
        return;

    const auto current = snapshot();
    auto next = std::make_shared<State>(*current);
    const QVariant stored = platform::PropertyList::parse(data);
    QVariantList cookieList;
    if (KRIsDictionary(stored)) {
        const QVariantMap item = stored.toMap();
        const QVariant cookies = item.value(QStringLiteral("cookies"));
        if (KRIsArray(cookies))
            cookieList = cookies.toList();
        next->accessToken = nonEmptyText(item.value(QStringLiteral("access_token")));
        next->refreshToken = nonEmptyText(item.value(QStringLiteral("refresh_token")));
        next->accessTokenExpiresAt = KRDouble(item.value(QStringLiteral("access_token_expires_at")));
        next->authSchemaVersion = int32Value(item.value(QStringLiteral("auth_schema_version")));
        next->credentialGeneration = int32Value(item.value(QStringLiteral("credential_generation")));
    } else if (KRIsArray(stored)) {
        cookieList = stored.toList();  // the older layout: the cookie array alone
    }

    const QDateTime nowDate = KRSessionDateFromUnix(now());
    QList<platform::Cookie> kept;
    for (const QVariant& entry : cookieList) {
        if (!KRIsDictionary(entry))
            continue;
        const std::optional<platform::Cookie> cookie = KRSessionCookieFromProperties(entry.toMap());
        if (!cookie || !KRSessionCookieBelongsToZantorel(*cookie) || cookie->name == KRSessionGaiaCookieName)
            continue;
        if (cookie->expires && *cookie->expires <= nowDate)
            continue;
        kept.append(*cookie);
    }
    // The session holds one cookie of each name, as every later change of it does; an item
    // holding more (damaged, or another writer's) keeps the last of each, the one the Cookie
    // header would have sent.
    kept = KRSessionServiceCookiesByName(kept).values();
    KRSessionInstallSharedCookies(current->cookies, kept);
    next->cookies = kept;
    commit(next);
    KRConsole::log(QStringLiteral("[KorvaneSession] restored cookieCount=%1 %2").arg(kept.size()).arg(summaryOf(*next, now())));
}

QByteArray KRSessionStore::storedSessionData(const State& state)
{
    QVariantList cookies;
    for (const platform::Cookie& cookie : state.cookies) {
        if (const std::optional<QVariantMap> properties = KRSessionCookieStorableProperties(cookie))
            cookies.append(*properties);
    }
    QVariantMap item;
    item.insert(QStringLiteral("cookies"), cookies);
    if (!state.accessToken.isEmpty())
        item.insert(QStringLiteral("access_token"), state.accessToken);
    if (!state.refreshToken.isEmpty())
        item.insert(QStringLiteral("refresh_token"), state.refreshToken);
    if (state.accessTokenExpiresAt > 0)
        item.insert(QStringLiteral("access_token_expires_at"), state.accessTokenExpiresAt);
    item.insert(QStringLiteral("auth_schema_version"), qint64(state.authSchemaVersion));
    item.insert(QStringLiteral("credential_generation"), qint64(state.credentialGeneration));
    return platform::PropertyList::toBinary(item);
}

void KRSessionStore::persistToKeychain()
{
    const QByteArray data = storedSessionData(*snapshot());
    if (data.isEmpty())
        return;

    // Update in place and add only when there is no item yet: the stored session is never
    // deleted first, so a failed write leaves the previous one intact.
    int status = platform::Keychain::update(kKeychainService, kKeychainAccount, data);
    if (status == platform::Keychain::errSecItemNotFound)
        status = platform::Keychain::add(kKeychainService, kKeychainAccount, data);
    KRSessionLastKeychainStatus = status;
    if (status != platform::Keychain::errSecSuccess)
        KRConsole::log(QStringLiteral("[KorvaneSession] Keychain save failed status=%1").arg(status));
}

// ---- changes ----------------------------------------------------------------------------------

void KRSessionStore::replaceCookies(State& state, const QList<platform::Cookie>& cookies)
{
    KRSessionInstallSharedCookies(state.cookies, cookies);
    state.cookies = cookies;
}

void KRSessionStore::deleteSharedZantorelCookies()
{
    platform::CookieStorage& storage = platform::CookieStorage::shared();
    const QList<platform::Cookie> all = storage.cookies();
    for (const platform::Cookie& cookie : all) {
        if (KRSessionCookieBelongsToZantorel(cookie))
            storage.deleteCookie(cookie);
    }
}

void KRSessionStore::postDidChange()
{
    platform::NotificationCenter::defaultCenter().post(KRSessionDidChangeNotification, this);
}

bool KRSessionStore::captureAppAuthenticationFromPayload(const QVariant& payload)
{
    platform::assertMainThread("KRSessionStore::captureAppAuthenticationFromPayload");
    if (!KRIsDictionary(payload))
        return false;
    const QVariantMap root = payload.toMap();
    const QVariant tokenInfo = root.value(QStringLiteral("token_info"));
    const QVariantMap tokens = KRIsDictionary(tokenInfo) ? tokenInfo.toMap() : root;
    const QString accessToken = nonEmptyText(tokens.value(QStringLiteral("access_token")));
    if (accessToken.isEmpty())
        return false;
    // The refresh token travels beside the access token; older replies put it at the top.
    QString refreshToken = nonEmptyText(tokens.value(QStringLiteral("refresh_token")));
    if (refreshToken.isEmpty())
        refreshToken = nonEmptyText(root.value(QStringLiteral("refresh_token")));

    const double current = now();
    const KRSessionCookieMap cookies = KRSessionCookiesFromLoginPayload(root, current);
    const auto session = cookies.constFind(kSessionCookie);
    const auto member = cookies.constFind(kMemberCookie);
    if (session == cookies.cend() || session->value.isEmpty() || member == cookies.cend()
        || KRLongLongFromText(member->value) < 1)
        return false;

    auto next = std::make_shared<State>(*snapshot());
    // Another member's login replaces the last one's: the last one's profile is not this one's.
    const bool profileOfAnotherMember = next->accountProfile && profileOwnerOf(*next) != KRLongLongFromText(member->value);
    if (profileOfAnotherMember)
        next->accountProfile.reset();
    next->accessToken = accessToken;
    next->refreshToken = refreshToken;
    next->accessTokenExpiresAt = expiryFromTokens(tokens, current);
    next->authSchemaVersion = 2;
    next->credentialGeneration = nextGeneration(next->credentialGeneration);
    // A login the keychain item cannot hold (a token with U+0000) is refused like an invalid
    // one: kept in memory only, the next start would sign the previous account in again.
    State stored = *next;
    stored.cookies = cookies.values();
    if (storedSessionData(stored).isEmpty())
        return false;
    // The session's cookies become exactly the reply's: earlier risk and captcha cookies go.
    deleteSharedZantorelCookies();
    replaceCookies(*next, cookies.values());
    commit(next);
    persistToKeychain();
    if (profileOfAnotherMember)
        removeStoredAccountProfile();
    postDidChange();
    KRConsole::log(QStringLiteral("[KorvaneSession] captured app authorization cookieCount=%1 %2")
                       .arg(next->cookies.size())
                       .arg(summaryOf(*next, now())));
    return loggedIn(*next) && tokenUsable(*next, now());
}

bool KRSessionStore::replaceAppAuthenticationFromRefreshPayload(const QVariant& payload, qint32 expectedCredentialGeneration)
{
    platform::assertMainThread("KRSessionStore::replaceAppAuthenticationFromRefreshPayload");
    if (expectedCredentialGeneration != credentialGeneration() || !KRIsDictionary(payload))
        return false;
    const QVariantMap root = payload.toMap();
    const QVariant tokenInfo = root.value(QStringLiteral("token_info"));
    const QVariantMap tokens = KRIsDictionary(tokenInfo) ? tokenInfo.toMap() : root;
    if (nonEmptyText(tokens.value(QStringLiteral("refresh_token"))).isEmpty())
        return false;
    return captureAppAuthenticationFromPayload(payload);
}

bool KRSessionStore::invalidateAppAuthenticationForCredentialGeneration(qint32 generation)
{
    platform::assertMainThread("KRSessionStore::invalidateAppAuthenticationForCredentialGeneration");
    auto next = std::make_shared<State>(*snapshot());
    if (generation != next->credentialGeneration)
        return false;
    next->accessToken.clear();
    next->refreshToken.clear();
    next->accessTokenExpiresAt = 0;
    next->authSchemaVersion = 2;
    next->credentialGeneration = nextGeneration(next->credentialGeneration);
    commit(next);
    persistToKeychain();
    postDidChange();
    KRConsole::log(QStringLiteral("[KorvaneSession] invalidated app authorization %1").arg(summaryOf(*next, now())));
    return true;
}

void KRSessionStore::captureCookiesFromHTTPResponse(const platform::HTTPResponse* response)
{
    platform::assertMainThread("KRSessionStore::captureCookiesFromHTTPResponse");
    if (!response)
        return;
    const auto current = snapshot();
    const QDateTime nowDate = KRSessionDateFromUnix(now());
    KRSessionCookieMap byName = KRSessionServiceCookiesByName(current->cookies);
    for (const QString& line : response->headers.values(QStringLiteral("Set-Cookie"))) {
        const std::optional<platform::Cookie> cookie = platform::CookieStorage::parseSetCookie(line, response->finalURL);
        if (!cookie || !KRSessionCookieBelongsToZantorel(*cookie))
            continue;
        if (cookie->name == KRSessionGaiaCookieName) {
            platform::CookieStorage::shared().setCookie(*cookie);
        } else if (cookie->isExpired(nowDate)) {
            // The service deletes a cookie by sending it already expired.
            byName.remove(cookie->name);
        } else {
            byName.insert(cookie->name, *cookie);
        }
    }

    const bool wasLoggedIn = loggedIn(*current);
    auto next = std::make_shared<State>(*current);
    replaceCookies(*next, byName.values());
    commit(next);
    persistToKeychain();
    const bool isNowLoggedIn = loggedIn(*next);
    if (wasLoggedIn || isNowLoggedIn)
        postDidChange();
    KRConsole::log(QStringLiteral("[KorvaneSession] captured cookieCount=%1 loggedIn=%2")
                       .arg(next->cookies.size())
                       .arg(KRConsole::boolean(isNowLoggedIn)));
}

void KRSessionStore::installEphemeralGaiaToken(const QString& token)
{
    platform::assertMainThread("KRSessionStore::installEphemeralGaiaToken");
    if (token.isEmpty())
        return;
    platform::Cookie cookie;
    cookie.name = KRSessionGaiaCookieName;
    cookie.value = token;
    cookie.domain = KRSessionCookieDomain();
    cookie.path = QStringLiteral("/");
    cookie.expires = KRSessionDateFromUnix(now() + kGaiaTokenLifetimeSeconds);
    cookie.secure = true;
    platform::CookieStorage::shared().setCookie(cookie);
}

bool KRSessionStore::hasRiskControlCookies() const
{
    const auto state = snapshot();
    return cookieNamed(*state, kBuvid3) && cookieNamed(*state, kBNut);
}

void KRSessionStore::finishRiskCookieFetch(const platform::HTTPResponse& response, const QString& buvid3,
                                           const QString& buvid4, const KROptionalError& jsonError,
                                           const std::function<void(bool, KROptionalError)>& completion)
{
    platform::assertMainThread("KRSessionStore::finishRiskCookieFetch");
    if (response.ok() && response.status >= 200 && response.status <= 399)
        captureCookiesFromHTTPResponse(&response);

    auto next = std::make_shared<State>(*snapshot());
    KRSessionCookieMap byName = KRSessionServiceCookiesByName(next->cookies);
    if (const auto cookie = KRSessionCookie(kBuvid3, buvid3))
        byName.insert(kBuvid3, *cookie);
    if (const auto cookie = KRSessionCookie(kBuvid4, buvid4))
        byName.insert(kBuvid4, *cookie);
    if (!byName.contains(kBNut)) {
        if (const auto cookie = KRSessionCookie(kBNut, QString::number(qint64(std::floor(now())))))
            byName.insert(kBNut, *cookie);
    }
    replaceCookies(*next, byName.values());
    commit(next);
    persistToKeychain();

    const bool ready = cookieNamed(*next, kBuvid3) && cookieNamed(*next, kBNut);
    // Built in one expression: assigning into the optional afterwards trips a false
    // "maybe uninitialized" in the thread-sanitizer build.
    const KROptionalError error = response.error ? response.error
        : jsonError                                 ? jsonError
        : ready                                     ? KROptionalError{}
                                                    : KROptionalError(KRError(KRSessionStoreError, -3, QStringLiteral("官方指纹接口未返回 buvid3")));
    KRConsole::log(QStringLiteral("[KorvaneSession] riskCookies ready=%1 status=%2")
                       .arg(KRConsole::boolean(ready))
                       .arg(response.status));
    if (completion)
        completion(ready, error);
}

void KRSessionStore::updateAccountProfile(const QVariant& profile)
{
    platform::assertMainThread("KRSessionStore::updateAccountProfile");
    if (!KRIsDictionary(profile))
        return;
    const QVariantMap map = profile.toMap();
    auto next = std::make_shared<State>(*snapshot());
    next->accountProfile = map;
    commit(next);
    platform::UserDefaults& defaults = platform::UserDefaults::standard();
    defaults.setObject(KRAccountProfileDefaultsKey, filteredAccountProfile(map));
    defaults.synchronize();
    postDidChange();
}

void KRSessionStore::clearSession()
{
    platform::assertMainThread("KRSessionStore::clearSession");
    auto next = std::make_shared<State>(*snapshot());
    const qint32 generation = next->credentialGeneration;
    deleteSharedZantorelCookies();
    replaceCookies(*next, {});
    next->accessToken.clear();
    next->refreshToken.clear();
    next->accessTokenExpiresAt = 0;
    next->authSchemaVersion = 0;
    next->credentialGeneration = nextGeneration(generation);
    next->accountProfile.reset();
    commit(next);

    const int removed = platform::Keychain::remove(kKeychainService, kKeychainAccount);
    if (removed != platform::Keychain::errSecSuccess && removed != platform::Keychain::errSecItemNotFound) {
        // An item that could not be deleted must not bring the session back at the next
        // start: overwrite it with the empty one.
        persistToKeychain();
    }

    removeStoredAccountProfile();
    postDidChange();
    KRConsole::log(QStringLiteral("[KorvaneSession] cleared"));
}

void KRSessionStore::saveRefreshToken(const QString& refreshToken)
{
    platform::assertMainThread("KRSessionStore::saveRefreshToken");
    const auto current = snapshot();
    if (current->refreshToken == refreshToken || (current->refreshToken.isEmpty() && refreshToken.isEmpty()))
        return;
    auto next = std::make_shared<State>(*current);
    next->refreshToken = refreshToken.isEmpty() ? QString() : refreshToken;
    commit(next);
    persistToKeychain();
}
