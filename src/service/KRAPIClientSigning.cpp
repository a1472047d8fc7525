// The client's side of the web signature: its clock and the mixin key it keeps.

#include "service/KRAPIClient.h"

#include "model/KRServiceHosts.h"
#include "service/KRAPIErrors.h"
#include "service/KRAPISigning.h"

#include <QDateTime>

#include <tuple>

#include <mutex>

namespace {

constexpr int KRWBIMixinKeyLength = 32;
constexpr double KRWBIMixinKeyLifetime = 600.0;

// The last good mixin key and when it was stored. Written from the navigation reply, on the
// main thread or on the worker of a request that signs as it goes.
struct MixinKeyCache {
    std::mutex mutex;
    QString key;
    double storedAt = 0;
};

MixinKeyCache& mixinKeyCache()
{
    static MixinKeyCache cache;
    return cache;
}

struct Clock {
    std::mutex mutex;
    std::function<double()> now;
};

Clock& signingClock()
{
    static Clock instance;
    return instance;
}

} // namespace

// ---- Clock ----

double KRAPIClient::currentTime()
{
    std::function<double()> now;
    {
        std::lock_guard<std::mutex> lock(signingClock().mutex);
        now = signingClock().now;
    }
    if (now)
        return now();
    return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
}

void KRAPIClient::setClockForTesting(std::function<double()> now)
{
    std::lock_guard<std::mutex> lock(signingClock().mutex);
    signingClock().now = std::move(now);
}

bool KRAPIClient::errorRepresentsUnavailableArchive(const KROptionalError& error)
{
    return KRAPIErrorMeansArchiveUnavailable(error);
}

// ---- Mixin key ----

KRError KRAPIClient::missingMixinKeyError()
{
    return KRAPIError(-6, QStringLiteral("无法取得评论签名参数"));
}

KRError KRAPIClient::unsignedParametersError()
{
    return KRAPIError(-7, QStringLiteral("无法生成 WBI 签名参数"));
}

void KRAPIClient::resetWBIMixinKeyForTesting()
{
    std::lock_guard<std::mutex> lock(mixinKeyCache().mutex);
    mixinKeyCache().key.clear();
    mixinKeyCache().storedAt = 0;
}

QString KRAPIClient::freshCachedMixinKey()
{
    const double now = currentTime();
    QString cached;
    double storedAt = 0;
    {
        std::lock_guard<std::mutex> lock(mixinKeyCache().mutex);
        cached = mixinKeyCache().key;
        storedAt = mixinKeyCache().storedAt;
    }
    // A clock set back before the key was stored makes it stale at once.
    if (cached.size() == KRWBIMixinKeyLength && now - storedAt >= 0 && now - storedAt < KRWBIMixinKeyLifetime)
        return cached;
    return {};
}

QString KRAPIClient::navigationURL()
{
    return QStringLiteral("https://") + KRServiceHosts::apiHost() + QStringLiteral("/x/web-interface/nav");
}

std::pair<QString, KROptionalError> KRAPIClient::mixinKeyFromNavigationReply(const QVariant& payload, const KROptionalError& requestError)
{
    KROptionalError error = requestError;
    QString key;
    const QVariantMap data = payload.toMap().value(QStringLiteral("data")).toMap();
    const QVariant images = data.value(QStringLiteral("wbi_img"));
    if (images.typeId() == QMetaType::QVariantMap) {
        const QVariantMap map = images.toMap();
        key = KRWBIMixinKeyFromFileKeys(KRWBIFileKey(map.value(QStringLiteral("img_url"))),
                                        KRWBIFileKey(map.value(QStringLiteral("sub_url"))));
    }
    if (key.size() == KRWBIMixinKeyLength) {
        // A reply that carries the images counts even when its "code" is an error.
        std::lock_guard<std::mutex> lock(mixinKeyCache().mutex);
        mixinKeyCache().key = key;
        mixinKeyCache().storedAt = currentTime();
        error.reset();
    } else {
        key.clear();
        if (!error)
            error = missingMixinKeyError();
    }
    return {key, error};
}

std::pair<QVariantMap, KROptionalError> KRAPIClient::signedParameters(const QVariantMap& parameters, const QString& key,
                                                                      const KROptionalError& keyError)
{
    QVariantMap signedParameters;
    if (key.size() == KRWBIMixinKeyLength)
        signedParameters = KRWBISignedParameters(parameters, key);
    KROptionalError error = keyError;
    if (signedParameters.isEmpty() && !error)
        error = unsignedParametersError();
    return {signedParameters, error};
}

std::pair<QVariantMap, KROptionalError> KRAPIClient::signWBIParametersOnWorker(const QVariantMap& parameters)
{
    QString key = freshCachedMixinKey();
    KROptionalError keyError;
    if (key.isEmpty()) {
        const auto [payload, requestError] = exchangeJSONURL(navigationURL(), true);
        std::tie(key, keyError) = mixinKeyFromNavigationReply(payload, requestError);
    }
    return signedParameters(parameters, key, keyError);
}

void KRAPIClient::loadWBIMixinKeyForceRefresh(bool force, QObject* owner, KRMixinKeyCompletion completion)
{
    if (!force) {
        const QString cached = freshCachedMixinKey();
        if (!cached.isEmpty()) {
            if (completion)
                completion(cached, std::nullopt);
            return;
        }
    }
    performJSONURL(navigationURL(), true, owner, [completion = std::move(completion)](const QVariant& payload, const KROptionalError& requestError) {
        const auto [key, error] = mixinKeyFromNavigationReply(payload, requestError);
        if (completion)
            completion(key, error);
    });
}

void KRAPIClient::signWBIParameters(const QVariantMap& parameters, QObject* owner, KRSignedParametersCompletion completion)
{
    loadWBIMixinKeyForceRefresh(false, owner, [parameters, completion = std::move(completion)](const QString& key,
                                                                                 const KROptionalError& keyError) {
        const auto [signedParameters, error] = KRAPIClient::signedParameters(parameters, key, keyError);
        if (completion)
            completion(signedParameters, error);
    });
}
