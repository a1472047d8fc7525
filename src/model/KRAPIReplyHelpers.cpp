#include "model/KRAPIReplyHelpers.h"

#include "model/KRTolerantValue.h"
#include "model/KRVideoNormalizer.h"

QVariantMap KRPGCRootDictionary(const QVariant& reply)
{
    if (!KRIsDictionary(reply))
        return QVariantMap();
    QVariantMap root = reply.toMap();
    const QVariant data = root.value(QStringLiteral("data"));
    if (KRIsDictionary(data))
        root = data.toMap();
    const QVariant result = root.value(QStringLiteral("result"));
    if (KRIsDictionary(result))
        root = result.toMap();
    return root;
}

QString KRAPIString(const QVariant& value)
{
    return KRString(value);
}

QString KRAPIDurationText(qint64 milliseconds)
{
    if (milliseconds < 1000)
        return QString();
    // Whole seconds of at least 1 format exactly as the normaliser's durations do.
    return KRDuration(QVariant(milliseconds / 1000));
}

qint64 KRPGCIDAfterLastMarker(const QString& address, const QString& marker, Qt::CaseSensitivity caseSensitivity)
{
    if (address.isEmpty() || marker.isEmpty())
        return 0;
    const QString needle = QLatin1Char('/') + marker;
    const qsizetype found = address.lastIndexOf(needle, -1, caseSensitivity);
    if (found < 0)
        return 0;
    const qsizetype start = found + needle.size();
    qsizetype end = start;
    while (end < address.size() && address.at(end).unicode() >= u'0' && address.at(end).unicode() <= u'9')
        ++end;
    if (end == start)
        return 0;
    return KRLongLongFromText(QStringView(address).mid(start, end - start));
}

qint64 KRPGCIDFromRedirectURL(const QString& address, const QString& marker)
{
    return KRPGCIDAfterLastMarker(address, marker, Qt::CaseSensitive);
}

QString KRPGCSeasonTypeName(qint64 seasonType)
{
    switch (seasonType) {
    case 1: return QStringLiteral("番剧");
    case 2: return QStringLiteral("电影");
    case 3: return QStringLiteral("纪录片");
    case 4: return QStringLiteral("国创");
    case 5: return QStringLiteral("电视剧");
    case 7: return QStringLiteral("综艺");
    default: return QStringLiteral("影视");
    }
}
