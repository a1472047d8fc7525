// Query encoding, service errors in replies, and the two request signatures (web and app).

#include "service/KRAPIClient.h"

#include "platform/security/Hash.h"
#include "model/KRServiceHosts.h"
#include "model/KRTolerantValue.h"

#include <QDateTime>

#include <cmath>
#include <mutex>

namespace {

// Only the first 32 entries are used: position i of the mixin key is character
// KRWBIMixinOrder[i] of the two file keys put together.
constexpr unsigned char KRWBIMixinOrder[64] = {
    46, 47, 18, 2,  53, 8,  23, 32, 15, 50, 10, 31, 58, 3,  45, 35, 27, 43, 5,  49, 33, 9,
    42, 19, 29, 28, 14, 39, 12, 38, 41, 13, 37, 48, 7,  16, 24, 55, 40, 61, 26, 17, 0,  1,
    60, 51, 30, 4,  22, 25, 54, 21, 56, 59, 6,  63, 57, 62, 11, 36, 20, 34, 44, 52};
constexpr int KRWBIMixinKeyLength = 32;
constexpr double KRWBIMixinKeyLifetime = 600.0;

// The last good mixin key and when it was stored. Written from the navigation reply on the
// main thread; the lock only keeps a stray call from another thread from tearing it.
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

// The text a parameter value is sent as: text unchanged, numbers in decimal, booleans as
// 1 or 0; empty for a value without a text form.
QString queryValueText(const QVariant& value)
{
    const QString text = KRString(value);
    return text.isNull() ? QStringLiteral("") : text;
}

QString stripSignatureForbiddenCharacters(QString text)
{
    text.remove(QLatin1Char('!'));
    text.remove(QLatin1Char('\''));
    text.remove(QLatin1Char('('));
    text.remove(QLatin1Char(')'));
    text.remove(QLatin1Char('*'));
    return text;
}

QString wholeSecondsNow()
{
    return QString::number(qint64(std::floor(KRAPIClient::currentTime())));
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

// ---- Service errors ----

KRError KRAPIError(qint64 code, const QString& message)
{
    return KRError(KRAPIErrorDomain, code, message);
}

KRError KRAPIEmptyReplyError()
{
    return KRAPIError(-3, QStringLiteral("服务器没有返回数据，请稍后重试"));
}

KRError KRAPIMalformedReplyError()
{
    return KRAPIError(-4, QStringLiteral("服务器返回的数据格式异常，请稍后重试"));
}

KROptionalError KRAPIErrorFromPayload(const QVariant& payload)
{
    if (payload.typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    const QVariantMap map = payload.toMap();
    const std::optional<qint64> code = KRIntegerValue(map.value(QStringLiteral("code")));
    if (!code || *code == 0)
        return std::nullopt;
    const QVariant message = map.value(QStringLiteral("message"));
    QString text;
    if (message.typeId() == QMetaType::QString)
        text = message.toString();
    if (text.isEmpty())
        text = QStringLiteral("服务器返回错误");
    return KRAPIError(*code, text);
}

bool KRAPIErrorMeansArchiveUnavailable(const KROptionalError& error)
{
    if (!error || error->domain() != KRAPIErrorDomain)
        return false;
    const qint64 code = error->code();
    return code == -404 || code == 62002 || code == 62004;
}

bool KRAPIClient::errorRepresentsUnavailableArchive(const KROptionalError& error)
{
    return KRAPIErrorMeansArchiveUnavailable(error);
}

// ---- Query encoding ----

QString KRPercentEscapedQueryValue(const QString& text)
{
    if (text.isEmpty())
        return QStringLiteral("");
    // Everything but ASCII letters, digits and "-._~" is escaped, upper-case hexadecimal.
    return QString::fromLatin1(text.toUtf8().toPercentEncoding());
}

QString KRQueryStringFromParameters(const QVariantMap& parameters)
{
    // QVariantMap keeps its keys ordered by UTF-16 code units: the plain character-code order.
    QString query;
    for (auto it = parameters.constBegin(); it != parameters.constEnd(); ++it) {
        if (!query.isEmpty())
            query += QLatin1Char('&');
        query += KRPercentEscapedQueryValue(it.key());
        query += QLatin1Char('=');
        query += KRPercentEscapedQueryValue(queryValueText(it.value()));
    }
    return query;
}

// ---- Web signature ----

QString KRWBIFileKey(const QVariant& value)
{
    if (value.typeId() != QMetaType::QString)
        return {};
    QString address = value.toString();
    if (address.isEmpty())
        return {};
    for (const QChar mark : {QLatin1Char('?'), QLatin1Char('#')}) {
        const qsizetype cut = address.indexOf(mark);
        if (cut >= 0)
            address.truncate(cut);
    }
    while (address.endsWith(QLatin1Char('/')))
        address.chop(1);
    QString name = address.mid(address.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot > 0)
        name.truncate(dot);
    if (name.isEmpty())
        return {};
    return name;
}

QString KRWBIMixinKeyFromFileKeys(const QString& imgKey, const QString& subKey)
{
    if (imgKey.isEmpty() || subKey.isEmpty())
        return {};
    const QString joined = imgKey + subKey;
    if (joined.size() < 64)
        return {};
    QString key;
    key.reserve(KRWBIMixinKeyLength);
    for (int i = 0; i < KRWBIMixinKeyLength; ++i)
        key += joined.at(KRWBIMixinOrder[i]);
    return key;
}

QVariantMap KRWBISignedParameters(const QVariantMap& parameters, const QString& mixinKey)
{
    if (mixinKey.isEmpty())
        return {};
    QVariantMap signedParameters;
    for (auto it = parameters.constBegin(); it != parameters.constEnd(); ++it) {
        if (!it.value().isValid() || it.value().isNull())
            continue;
        // A value without a text form is sent empty; there is nothing to strip from it.
        signedParameters.insert(it.key(), stripSignatureForbiddenCharacters(queryValueText(it.value())));
    }
    signedParameters.insert(QStringLiteral("wts"), wholeSecondsNow());
    const QString query = KRQueryStringFromParameters(signedParameters);
    signedParameters.insert(QStringLiteral("w_rid"), platform::Hash::md5Hex((query + mixinKey).toUtf8()));
    return signedParameters;
}

QString KRWBISignedURLString(const QString& base, const QVariantMap& parameters, const QString& mixinKey)
{
    if (base.isEmpty() || mixinKey.isEmpty())
        return {};
    return base + QLatin1Char('?') + KRQueryStringFromParameters(KRWBISignedParameters(parameters, mixinKey));
}

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

void KRAPIClient::loadWBIMixinKeyForceRefresh(bool force, KRMixinKeyCompletion completion)
{
    const double now = currentTime();
    if (!force) {
        QString cached;
        double storedAt = 0;
        {
            std::lock_guard<std::mutex> lock(mixinKeyCache().mutex);
            cached = mixinKeyCache().key;
            storedAt = mixinKeyCache().storedAt;
        }
        // A clock set back before the key was stored makes it stale at once.
        if (cached.size() == KRWBIMixinKeyLength && now - storedAt >= 0 && now - storedAt < KRWBIMixinKeyLifetime) {
            if (completion)
                completion(cached, std::nullopt);
            return;
        }
    }
    const QString url = QStringLiteral("https://") + KRServiceHosts::apiHost() + QStringLiteral("/x/web-interface/nav");
    performJSONURL(url, true, [completion = std::move(completion)](const QVariant& payload, const KROptionalError& requestError) {
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
        if (completion)
            completion(key, error);
    });
}

void KRAPIClient::signWBIParameters(const QVariantMap& parameters, KRSignedParametersCompletion completion)
{
    loadWBIMixinKeyForceRefresh(false, [parameters, completion = std::move(completion)](const QString& key,
                                                                                        const KROptionalError& keyError) {
        QVariantMap signedParameters;
        if (key.size() == KRWBIMixinKeyLength)
            signedParameters = KRWBISignedParameters(parameters, key);
        KROptionalError error = keyError;
        if (signedParameters.isEmpty() && !error)
            error = unsignedParametersError();
        if (completion)
            completion(signedParameters, error);
    });
}

// ---- App signature ----

QString KRAppSignedURLString(const QString& base, const QVariantMap& parameters)
{
    if (base.isEmpty())
        return {};
    QVariantMap signedParameters = parameters;
    signedParameters.insert(QStringLiteral("appkey"), KRServiceHosts::appKey());
    signedParameters.insert(QStringLiteral("build"), QStringLiteral("82200200"));
    signedParameters.insert(QStringLiteral("device"), QStringLiteral("phone"));
    signedParameters.insert(QStringLiteral("mobi_app"), QStringLiteral("iphone"));
    signedParameters.insert(QStringLiteral("platform"), QStringLiteral("ios"));
    signedParameters.insert(QStringLiteral("ts"), wholeSecondsNow());
    const QString sign =
        platform::Hash::md5Hex((KRQueryStringFromParameters(signedParameters) + KRServiceHosts::appSecret()).toUtf8());
    signedParameters.insert(QStringLiteral("sign"), sign);
    return base + QLatin1Char('?') + KRQueryStringFromParameters(signedParameters);
}
