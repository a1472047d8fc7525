#include "service/KRAPISigning.h"

#include "platform/security/Hash.h"
#include "model/KRServiceHosts.h"
#include "service/KRAPIClient.h"
#include "service/KRAPIQuery.h"

#include <cmath>

namespace {

// Only the first 32 entries are used: position i of the mixin key is character
// KRWBIMixinOrder[i] of the two file keys put together.
constexpr unsigned char KRWBIMixinOrder[64] = {
    46, 47, 18, 2,  53, 8,  23, 32, 15, 50, 10, 31, 58, 3,  45, 35, 27, 43, 5,  49, 33, 9,
    42, 19, 29, 28, 14, 39, 12, 38, 41, 13, 37, 48, 7,  16, 24, 55, 40, 61, 26, 17, 0,  1,
    60, 51, 30, 4,  22, 25, 54, 21, 56, 59, 6,  63, 57, 62, 11, 36, 20, 34, 44, 52};
constexpr int KRWBIMixinKeyLength = 32;

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
        signedParameters.insert(it.key(), stripSignatureForbiddenCharacters(KRQueryValueText(it.value())));
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
