#include "model/KRPlayInfo.h"

#include "model/KRTolerantValue.h"

#include <limits>

namespace {

const QString kRouteKey = QStringLiteral("_kr_auth_family");

QString nonEmptyText(const QVariant& value)
{
    return KRIsString(value) && !value.toString().isEmpty() ? value.toString() : QString();
}

void appendOnce(QStringList& list, const QString& text)
{
    if (!text.isEmpty() && !list.contains(text))
        list.append(text);
}

QStringList texts(const QVariant& list)
{
    QStringList result;
    if (KRIsArray(list)) {
        for (const QVariant& item : list.toList())
            appendOnce(result, nonEmptyText(item));
    } else {
        appendOnce(result, nonEmptyText(list));
    }
    return result;
}

QList<KRPlayStream> streamsOf(const QVariant& dash, const QString& kind)
{
    QList<KRPlayStream> streams;
    if (!KRIsDictionary(dash))
        return streams;
    const QVariant listed = dash.toMap().value(kind);
    if (!KRIsArray(listed))
        return streams;
    for (const QVariant& item : listed.toList()) {
        if (!KRIsDictionary(item))
            continue;
        const QVariantMap map = item.toMap();
        KRPlayStream stream;
        stream.record = map;
        stream.id = KRLongLong(map.value(QStringLiteral("id")));
        stream.codecID = KRLongLong(map.value(QStringLiteral("codecid")));
        stream.codecs = nonEmptyText(map.value(QStringLiteral("codecs")));
        stream.bandwidth = KRLongLong(map.value(QStringLiteral("bandwidth")));
        stream.backupAddresses = texts(map.value(QStringLiteral("backup_url")));
        if (stream.backupAddresses.isEmpty())
            stream.backupAddresses = texts(map.value(QStringLiteral("backupUrl")));
        stream.address = nonEmptyText(map.value(QStringLiteral("base_url")));
        if (stream.address.isEmpty())
            stream.address = nonEmptyText(map.value(QStringLiteral("baseUrl")));
        if (stream.address.isEmpty())
            stream.address = stream.backupAddresses.value(0);
        streams.append(stream);
    }
    return streams;
}

} // namespace

std::optional<KRPlayInfo> KRPlayInfo::fromPlayInformation(const QVariant& information)
{
    if (!KRIsDictionary(information))
        return std::nullopt;
    const QVariantMap map = information.toMap();
    KRPlayInfo info;
    info.source = map;
    info.route = nonEmptyText(map.value(kRouteKey));
    const qint64 quality = KRLongLong(map.value(QStringLiteral("quality")));
    info.quality = quality > 0 && quality <= std::numeric_limits<int>::max() ? int(quality) : 0;
    const QVariant accepted = map.value(QStringLiteral("accept_quality"));
    const QVariant descriptions = map.value(QStringLiteral("accept_description"));
    if (KRIsArray(accepted)) {
        const QVariantList values = accepted.toList();
        const QVariantList titles = KRIsArray(descriptions) ? descriptions.toList() : QVariantList();
        for (qsizetype i = 0; i < values.size(); ++i) {
            const qint64 value = KRLongLong(values.at(i));
            if (value <= 0 || value > std::numeric_limits<int>::max() || info.acceptedQualities.contains(int(value)))
                continue;
            info.acceptedQualities.append(int(value));
            info.acceptedTitles.append(KRString(titles.value(i)));
        }
    }
    const QVariant dash = map.value(QStringLiteral("dash"));
    info.pictures = streamsOf(dash, QStringLiteral("video"));
    info.sounds = streamsOf(dash, QStringLiteral("audio"));
    const QVariant durl = map.value(QStringLiteral("durl"));
    if (KRIsArray(durl) && KRIsDictionary(durl.toList().value(0))) {
        const QVariantMap entry = durl.toList().value(0).toMap();
        appendOnce(info.progressiveAddresses, nonEmptyText(entry.value(QStringLiteral("url"))));
        for (const QString& backup : texts(entry.value(QStringLiteral("backup_url"))))
            appendOnce(info.progressiveAddresses, backup);
    }
    return info;
}

std::optional<KRPlayInfo> KRPlayInfo::fromOfflineRecord(const QVariantMap& record)
{
    std::optional<KRPlayInfo> info = fromPlayInformation(record);
    if (info)
        info->route = QStringLiteral("offline");
    return info;
}
