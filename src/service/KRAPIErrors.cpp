#include "service/KRAPIErrors.h"

#include "model/KRTolerantValue.h"

#include <QVariantMap>

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

KRError KRHTTPStatusError(int status)
{
    return KRAPIError(status < 1 ? -2 : status, QStringLiteral("服务器返回 HTTP %1，请稍后重试").arg(status));
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
