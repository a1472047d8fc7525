#pragma once

#include "model/KRError.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariantMap>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace platform {
struct Cookie;
struct HTTPResponse;
}

// Posted (object: the store) after every sign-in, token refresh, invalidation, cookie
// merge that matters and sign-out.
inline const QString KRSessionDidChangeNotification = QStringLiteral("KRSessionDidChangeNotification");
// Domain of the store's own errors (code -3: the fingerprint endpoint gave no buvid3).
inline const QString KRSessionStoreError = QStringLiteral("KRSessionStoreError");
// User-defaults key of the filtered account profile.
inline const QString KRAccountProfileDefaultsKey = QStringLiteral("KRAccountProfile");

// Result code of the last keychain read, update or add (0 = success).
extern std::atomic<qint32> KRSessionLastKeychainStatus;

// The user's login with the service: web cookies, the app token pair with its expiry, the
// credential generation and the last account profile. Persisted in one keychain item.
//
// Every change happens on the main thread. Reads are safe from any thread: the whole state is
// one immutable snapshot, replaced under a lock, so a reader always sees one consistent state.
class KRSessionStore {
public:
    static KRSessionStore& sharedStore();

    // Reads (any thread).
    bool isLoggedIn() const;
    qint64 userID() const;
    // The member signed in, none while signed out: one state's answer to both questions, for
    // screens that keep what one account may see and start again when another (or none) signs in.
    std::optional<qint64> signedInUserID() const;
    QString csrfToken() const;
    QString cookieHeader() const;
    // The cookie header while logged in, none otherwise: both read from one state, so a
    // change between the two questions cannot pair one state's answer with another's header.
    std::optional<QString> cookieHeaderIfLoggedIn() const;
    QString accessToken() const;
    QString refreshToken() const;
    bool hasAppAccessToken() const;
    bool hasAppRefreshToken() const;
    bool appAccessTokenUsable() const;
    bool appAccessTokenNeedsRefresh() const;
    double accessTokenExpiresAt() const;
    QString authenticationFamily() const;
    qint32 authSchemaVersion() const;
    qint32 credentialGeneration() const;
    QString credentialDiagnosticSummary() const;
    std::optional<QVariantMap> accountProfile() const;
    qint32 lastKeychainStatus() const;

    // Changes (main thread).
    bool captureAppAuthenticationFromPayload(const QVariant& payload);
    bool replaceAppAuthenticationFromRefreshPayload(const QVariant& payload, qint32 expectedCredentialGeneration);
    bool invalidateAppAuthenticationForCredentialGeneration(qint32 credentialGeneration);
    // Merges the response's Set-Cookie lines; nothing for a null response.
    void captureCookiesFromHTTPResponse(const platform::HTTPResponse* response);
    void installEphemeralGaiaToken(const QString& token);
    // Whether "buvid3" and "b_nut" are both there (any thread).
    bool hasRiskControlCookies() const;
    // The fingerprint endpoint's answer (fetched by the web-API client): its Set-Cookie lines
    // when it succeeded, then "buvid3"/"buvid4" from its body and a "b_nut" when none exists
    // yet. The completion learns whether the risk-control cookies are ready now, and why not.
    void finishRiskCookieFetch(const platform::HTTPResponse& response, const QString& buvid3, const QString& buvid4,
                               const KROptionalError& jsonError,
                               const std::function<void(bool, KROptionalError)>& completion);
    void updateAccountProfile(const QVariant& profile);
    void clearSession();
    void saveRefreshToken(const QString& refreshToken);

    // Tests: "now" in Unix seconds (null restores the system clock), and a reload of the
    // whole store from the current home, as a new process would start.
    void setClockForTesting(std::function<double()> unixNow);
    void resetForTesting();

    struct State;

private:
    KRSessionStore();
    KRSessionStore(const KRSessionStore&) = delete;
    KRSessionStore& operator=(const KRSessionStore&) = delete;

    std::shared_ptr<const State> snapshot() const;
    QString cookieHeaderOf(const State& state) const;
    void commit(std::shared_ptr<const State> state);
    double now() const;

    void load();
    void restoreFromKeychain();
    // The keychain item's data for `state`; empty when it cannot be serialised.
    static QByteArray storedSessionData(const State& state);
    void persistToKeychain();
    void replaceCookies(State& state, const QList<platform::Cookie>& cookies);
    void deleteSharedZantorelCookies();
    void postDidChange();

    mutable std::mutex m_mutex;
    std::shared_ptr<const State> m_state;
    std::function<double()> m_clock;
};
