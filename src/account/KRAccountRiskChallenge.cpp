#include "account/KRAccountRiskChallenge.h"

#include "platform/net/HTTPExchange.h"
#include "model/KRJSON.h"
#include "model/KRTolerantValue.h"

#include <algorithm>

namespace {

const QStringList kRiskNames{QStringLiteral("ga_data"), QStringLiteral("gaia_options"), QStringLiteral("gaia_risk_params"),
                             QStringLiteral("risk_params")};
const QStringList kVoucherNames{QStringLiteral("v_voucher"), QStringLiteral("voucher"), QStringLiteral("gaia_voucher")};
constexpr int kSearchDepthLimit = 7;

// Parsed value, or nothing when it is missing, empty text or an empty collection.
QVariant usable(const QVariant& raw)
{
    const QVariant value = KRAccountJSONObjectFromMaybeString(raw);
    if (KRIsMissing(value))
        return {};
    if (KRIsString(value) && value.toString().isEmpty())
        return {};
    if (KRIsDictionary(value) && value.toMap().isEmpty())
        return {};
    if (KRIsArray(value) && value.toList().isEmpty())
        return {};
    return value;
}

QString nonEmptyText(const QVariant& value)
{
    return KRIsString(value) && !value.toString().isEmpty() ? value.toString() : QString();
}

} // namespace

QVariant KRAccountJSONObjectFromMaybeString(const QVariant& value)
{
    if (!KRIsString(value))
        return value;
    const QString text = value.toString();
    const QString trimmed = text.trimmed();
    if (trimmed.size() < 2)
        return value;
    const bool object = trimmed.startsWith(QLatin1Char('{')) && trimmed.endsWith(QLatin1Char('}'));
    const bool array = trimmed.startsWith(QLatin1Char('[')) && trimmed.endsWith(QLatin1Char(']'));
    if (!object && !array)
        return value;
    const QVariant parsed = KRJSONParse(trimmed.toUtf8());
    return parsed.isValid() ? parsed : value;
}

QVariant KRAccountFindNamedValue(const QVariant& value, const QStringList& names, int depth)
{
    if (depth >= kSearchDepthLimit)
        return {};
    const QVariant v = KRAccountJSONObjectFromMaybeString(value);
    if (KRIsDictionary(v)) {
        const QVariantMap map = v.toMap();
        for (const QString& name : names) {
            const QVariant found = usable(map.value(name));
            if (found.isValid())
                return found;
        }
        for (const QVariant& child : map) {
            const QVariant found = KRAccountFindNamedValue(child, names, depth + 1);
            if (found.isValid())
                return found;
        }
        return {};
    }
    if (KRIsArray(v)) {
        for (const QVariant& child : v.toList()) {
            const QVariant found = KRAccountFindNamedValue(child, names, depth + 1);
            if (found.isValid())
                return found;
        }
    }
    return {};
}

QVariant KRAccountDirectNamedValue(const QVariant& value, const QStringList& names)
{
    const QVariant v = KRAccountJSONObjectFromMaybeString(value);
    if (!KRIsDictionary(v))
        return {};
    const QVariantMap map = v.toMap();
    for (const QString& name : names) {
        const QVariant found = usable(map.value(name));
        if (found.isValid())
            return found;
    }
    return {};
}

QString KRAccountHeaderValue(const platform::HTTPResponse* response)
{
    if (!response)
        return {};
    for (const auto& field : response->headers.all()) {
        if (field.first.compare(QLatin1String("x-zant-gaia-vvoucher"), Qt::CaseInsensitive) == 0)
            return field.second;
    }
    return {};
}

std::optional<QVariantMap> KRAccountExtractGaiaOptions(const QVariant& reply, const platform::HTTPResponse* response)
{
    const QVariant risk = KRAccountJSONObjectFromMaybeString(KRAccountFindNamedValue(reply, kRiskNames, 0));
    QString voucher = nonEmptyText(KRAccountDirectNamedValue(risk, kVoucherNames));
    if (voucher.isEmpty())
        voucher = nonEmptyText(KRAccountDirectNamedValue(reply, kVoucherNames));
    if (voucher.isEmpty() && KRIsDictionary(reply))
        voucher = nonEmptyText(KRAccountDirectNamedValue(reply.toMap().value(QStringLiteral("data")), kVoucherNames));
    if (voucher.isEmpty())
        voucher = KRAccountHeaderValue(response);

    QVariantMap options = KRIsDictionary(risk) ? risk.toMap() : QVariantMap();
    if (!voucher.isEmpty())
        options.insert(QStringLiteral("v_voucher"), voucher);
    const QVariant searched = risk.isValid() ? risk : reply;
    for (const char* name : {"decision_type", "decision_ctx", "grisk_id", "risk_level", "scene", "ip", "mid"}) {
        const QString key = QString::fromLatin1(name);
        if (options.contains(key))
            continue;
        const QVariant found = KRAccountJSONObjectFromMaybeString(KRAccountFindNamedValue(searched, {key}, 0));
        if (!KRIsMissing(found))
            options.insert(key, found);
    }
    if (options.isEmpty())
        return std::nullopt;
    return options;
}

QVariantMap KRAccountGaiaChallengeMetadata(const QVariant& reply, const platform::HTTPResponse* response)
{
    const QVariant risk = KRAccountFindNamedValue(reply, kRiskNames, 0);
    const QVariant bodyValue = KRAccountFindNamedValue(reply, kVoucherNames, 0);
    const QString bodyVoucher = KRIsString(bodyValue) ? bodyValue.toString() : QString();
    const QString headerVoucher = KRAccountHeaderValue(response);
    const std::optional<QVariantMap> options = KRAccountExtractGaiaOptions(reply, response);

    QString source = QStringLiteral("none");
    if (KRIsDictionary(risk) && !risk.toMap().isEmpty())
        source = QStringLiteral("response.gaia_options");
    else if (!bodyVoucher.isEmpty())
        source = QStringLiteral("response.v_voucher");
    else if (!headerVoucher.isEmpty())
        source = QStringLiteral("header.x-zant-gaia-vvoucher");

    QVariantMap summary{{QStringLiteral("source"), source},
                        {QStringLiteral("present"), bool(options && !options->isEmpty())},
                        {QStringLiteral("body_voucher_length"), bodyVoucher.size()},
                        {QStringLiteral("header_voucher_length"), headerVoucher.size()}};
    if (options) {
        QVariant decision = KRAccountFindNamedValue(*options, {QStringLiteral("decision_type")}, 0);
        if (KRIsNumber(decision))
            decision = KRString(decision);
        const QString text = KRIsString(decision) ? decision.toString() : QString();
        static const QString allowed = QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_.-");
        const bool valid = !text.isEmpty() && text.size() <= 48
            && std::all_of(text.begin(), text.end(), [](QChar c) { return allowed.contains(c); });
        if (valid)
            summary.insert(QStringLiteral("decision_type"), text);
    }
    return summary;
}
