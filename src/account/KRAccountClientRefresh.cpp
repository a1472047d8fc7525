// The app token: a single-flight refresh with waiters and a back-off tied to the credential
// generation, the authenticated app request, and the playback GET with its anonymous retry.

#include "account/KRAccountClient.h"

#include "platform/foundation/Dispatch.h"
#include "platform/net/HTTPExchange.h"
#include "model/KRConsole.h"
#include "model/KRServiceHosts.h"
#include "model/KRTolerantValue.h"
#include "store/KRDiagnostics.h"
#include "store/KRSessionStore.h"

#include <QUrl>

namespace {

constexpr double kRefreshBackOffSeconds = 30.0;

QString yesNo(bool value) { return KRConsole::boolean(value); }

KRError needsNewLogin() { return KRAccountError(-101, QStringLiteral("原生授权需要重新扫码")); }

} // namespace

bool KRAccountAppAuthenticationErrorCanRefresh(const KROptionalError& error)
{
    return error && error->domain() == KRAccountErrorDomain && (error->code() == -663 || error->code() == -101);
}

void KRAccountClient::ensureUsableAppAuthentication(QObject* owner, KRAccountUsableCompletion completion)
{
    ensureUsableAppAuthenticationForceRefresh(false, owner, std::move(completion));
}

void KRAccountClient::ensureUsableAppAuthenticationForceRefresh(bool force, QObject* owner, KRAccountUsableCompletion completion)
{
    completion = platform::ownedBy(owner, std::move(completion));
    if (!platform::isMainThread()) {
        platform::dispatchMain([this, force, completion = std::move(completion)] {
            ensureUsableAppAuthenticationForceRefresh(force, nullptr, completion);
        });
        return;
    }
    auto answer = [&completion](bool usable, const KROptionalError& error) {
        if (completion)
            completion(usable, error);
    };
    KRSessionStore& store = KRSessionStore::sharedStore();
    const bool usable = store.appAccessTokenUsable();
    if (!force && usable && !store.appAccessTokenNeedsRefresh())
        return answer(true, std::nullopt);
    if (!store.hasAppAccessToken() || !store.hasAppRefreshToken()) {
        if (force && store.hasAppAccessToken()) {
            store.invalidateAppAuthenticationForCredentialGeneration(store.credentialGeneration());
            return answer(false, KRAccountError(-101, QStringLiteral("原生授权缺少续期凭据，请重新扫码")));
        }
        return usable ? answer(true, std::nullopt) : answer(false, needsNewLogin());
    }
    const double now = KRAPIClient::currentTime();
    if (!m_refreshInFlight && m_refreshLastError && m_refreshLastFailureGeneration == store.credentialGeneration()
        && now - m_refreshLastFailureAt < kRefreshBackOffSeconds)
        return answer(usable, m_refreshLastError);
    m_refreshWaiters.append(completion ? completion : KRAccountUsableCompletion([](bool, const KROptionalError&) {}));
    if (m_refreshInFlight) {
        KRDiagnostics::recordEvent(QStringLiteral("app-token-refresh"),
                                   QStringLiteral("phase=join credentialGeneration=%1 waiters=%2")
                                       .arg(m_refreshGeneration)
                                       .arg(m_refreshWaiters.size()));
        return;
    }
    m_refreshInFlight = true;
    m_refreshGeneration = store.credentialGeneration();
    const double expiresAt = store.accessTokenExpiresAt();
    const double remaining = expiresAt > 0 ? expiresAt - now : -1;
    const QVariantMap parameters = KRAccountSignedAppParameters(
        {{QStringLiteral("access_key"), store.accessToken()}, {QStringLiteral("refresh_token"), store.refreshToken()}}, false);
    KRDiagnostics::recordEvent(QStringLiteral("app-token-refresh"),
                               QStringLiteral("phase=start credentialGeneration=%1 force=%2 remaining=%3 waiters=%4")
                                   .arg(m_refreshGeneration)
                                   .arg(yesNo(force))
                                   .arg(QString::number(remaining, 'f', 0))
                                   .arg(m_refreshWaiters.size()));
    // The refresh is the client's own, whoever started it: each waiter has its own owner, and
    // the new credentials are kept even when every waiter has gone.
    performURLString(QStringLiteral("https://") + KRServiceHosts::passportHost() + QStringLiteral("/api/v2/oauth2/refresh_token"),
                     QStringLiteral("POST"), parameters, false, false, QString(), nullptr,
                     [this](const QVariant& json, const platform::HTTPResponse* response, const KROptionalError& error) {
                         finishRefresh(json, response, error);
                     });
}

void KRAccountClient::finishRefresh(const QVariant& json, const platform::HTTPResponse* response, const KROptionalError& error)
{
    KRSessionStore& store = KRSessionStore::sharedStore();
    const qint32 started = m_refreshGeneration;
    const qint32 current = store.credentialGeneration();
    const QVariant data = KRIsDictionary(json) ? json.toMap().value(QStringLiteral("data")) : QVariant();
    const bool superseded = current != started;
    bool committed = false;
    KROptionalError outcome;
    if (superseded || error) {
        outcome = error;
    } else if (KRIsDictionary(data)) {
        committed = store.replaceAppAuthenticationFromRefreshPayload(data, started);
        if (!committed)
            outcome = KRAccountError(-2, QStringLiteral("刷新响应缺少完整凭据"));
    } else {
        outcome = KRAccountError(-2, QStringLiteral("刷新响应无法解析"));
    }
    if (KRAccountAppAuthenticationErrorCanRefresh(error) && current == started)
        store.invalidateAppAuthenticationForCredentialGeneration(started);
    const bool usable = store.appAccessTokenUsable();
    const KROptionalError finalError = superseded && usable ? std::nullopt : outcome;
    KRDiagnostics::recordEvent(QStringLiteral("app-token-refresh"),
                               QStringLiteral("phase=result committed=%1 superseded=%2 usable=%3 status=%4 code=%5 credentialGeneration=%6")
                                   .arg(yesNo(committed), yesNo(superseded), yesNo(usable))
                                   .arg(response ? response->status : 0)
                                   .arg(finalError ? finalError->code() : 0)
                                   .arg(store.credentialGeneration()));
    m_refreshInFlight = false;
    if (finalError && current == started) {
        m_refreshLastFailureAt = KRAPIClient::currentTime();
        m_refreshLastFailureGeneration = store.credentialGeneration();
        m_refreshLastError = finalError;
    } else {
        m_refreshLastFailureAt = 0;
        m_refreshLastFailureGeneration = 0;
        m_refreshLastError.reset();
    }
    const QList<KRAccountUsableCompletion> waiters = std::exchange(m_refreshWaiters, {});
    for (const KRAccountUsableCompletion& waiter : waiters)
        waiter(usable, finalError);
}

void KRAccountClient::performAuthenticatedAppURLString(const QString& url, const QString& method,
                                                       const QVariantMap& businessParameters, bool includeClientContext,
                                                       bool retryAuthFailure, QObject* owner, KRAccountJSONCompletion completion)
{
    completion = platform::ownedBy(owner, std::move(completion));
    ensureUsableAppAuthentication(owner, [=, this](bool usable, const KROptionalError& ensureError) {
        if (!usable) {
            if (completion)
                completion(QVariant(), nullptr, ensureError ? *ensureError : needsNewLogin());
            return;
        }
        QVariantMap parameters = businessParameters;
        parameters.insert(QStringLiteral("access_key"), KRSessionStore::sharedStore().accessToken());
        const KRAccountSignedForm form = KRAccountSignedAppForm(parameters, includeClientContext);
        performURLString(url, method, form.parameters, &form.body, false, false, QString(), owner,
                         [=, this](const QVariant& json, const platform::HTTPResponse* response, const KROptionalError& error) {
                             const bool rejected = error && error->domain() == KRAccountErrorDomain
                                 && (error->code() == -101 || error->code() == -663);
                             if (!rejected || !retryAuthFailure) {
                                 if (completion)
                                     completion(json, response, error);
                                 return;
                             }
                             KRSessionStore& store = KRSessionStore::sharedStore();
                             KRDiagnostics::recordEvent(QStringLiteral("app-token-refresh"),
                                                        QStringLiteral("phase=server-reject path=%1 code=%2 credentialGeneration=%3")
                                                            .arg(QUrl(url).path())
                                                            .arg(error->code())
                                                            .arg(store.credentialGeneration()));
                             // The first reply's response is kept for a failed refresh's answer.
                             std::shared_ptr<platform::HTTPResponse> kept;
                             if (response)
                                 kept = std::make_shared<platform::HTTPResponse>(*response);
                             ensureUsableAppAuthenticationForceRefresh(
                                 true, owner, [=, this](bool refreshed, const KROptionalError& refreshError) {
                                     if (refreshed && !refreshError) {
                                         performAuthenticatedAppURLString(url, method, businessParameters, includeClientContext,
                                                                          false, owner, completion);
                                         return;
                                     }
                                     if (completion)
                                         completion(json, kept.get(), refreshError ? refreshError : error);
                                 });
                         });
    });
}

void KRAccountClient::performPlaybackURLString(const QString& url, const QVariantMap& parameters, const QString& referer,
                                               qint64 cid, qint32 quality, QObject* owner, KRAccountJSONCompletion completion)
{
    completion = platform::ownedBy(owner, std::move(completion));
    KRSessionStore& store = KRSessionStore::sharedStore();
    const bool sessionUsed = store.isLoggedIn() && !store.cookieHeader().isEmpty();
    const QString path = QUrl(url).path();
    performURLString(
        url, QStringLiteral("GET"), parameters, false, true, referer, owner,
        [=, this](const QVariant& json, const platform::HTTPResponse* response, const KROptionalError& error) {
            const int status = response ? response->status : 0;
            const bool riskControl = status == 412
                || (error && error->domain() == KRAccountErrorDomain
                    && (error->code() == -412 || error->code() == -352 || error->code() == -351 || error->code() == 412));
            if (!sessionUsed || !riskControl) {
                if (completion)
                    completion(json, response, error);
                return;
            }
            KRDiagnostics::recordEvent(QStringLiteral("playback-info-anonymous-retry"),
                                       QStringLiteral("phase=start path=%1 cid=%2 qn=%3 status=%4 primaryCode=%5")
                                           .arg(path)
                                           .arg(cid)
                                           .arg(quality)
                                           .arg(status)
                                           .arg(error ? error->code() : 0));
            performURLString(url, QStringLiteral("GET"), parameters, false, false, referer, owner,
                             [=](const QVariant& retryJSON, const platform::HTTPResponse* retryResponse,
                                 const KROptionalError& retryError) {
                                 KRDiagnostics::recordEvent(QStringLiteral("playback-info-anonymous-retry"),
                                                            QStringLiteral("phase=result success=%1 path=%2 cid=%3 qn=%4 code=%5")
                                                                .arg(yesNo(!retryError), path)
                                                                .arg(cid)
                                                                .arg(quality)
                                                                .arg(retryError ? retryError->code() : 0));
                                 if (completion)
                                     completion(retryJSON, retryResponse, retryError);
                             });
        });
}
