#include "service/KRAPIQuery.h"

#include "model/KRTolerantValue.h"

QString KRQueryValueText(const QVariant& value)
{
    const QString text = KRString(value);
    return text.isNull() ? QStringLiteral("") : text;
}

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
        query += KRPercentEscapedQueryValue(KRQueryValueText(it.value()));
    }
    return query;
}
