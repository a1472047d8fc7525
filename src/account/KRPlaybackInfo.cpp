#include "account/KRPlaybackInfo.h"

#include "model/KRTolerantValue.h"

namespace {

bool nonEmptyArray(const QVariant& value) { return KRIsArray(value) && !value.toList().isEmpty(); }

bool hasStreams(const QVariantMap& info)
{
    const QVariant dash = info.value(QStringLiteral("dash"));
    return (KRIsDictionary(dash) && nonEmptyArray(dash.toMap().value(QStringLiteral("video"))))
        || nonEmptyArray(info.value(QStringLiteral("durl")));
}

} // namespace

std::optional<QVariantMap> KRAccountPlaybackData(const QVariant& payload)
{
    if (!KRIsDictionary(payload))
        return std::nullopt;
    const QVariantMap map = payload.toMap();
    for (const char* key : {"data", "result"}) {
        const QVariant value = map.value(QString::fromLatin1(key));
        if (KRIsDictionary(value))
            return value.toMap();
    }
    if (map.contains(QStringLiteral("durl")) || map.contains(QStringLiteral("dash")))
        return map;
    return std::nullopt;
}

bool KRAccountProgressiveDataHasExactQuality(const std::optional<QVariantMap>& info, qint32 quality)
{
    if (quality < 1 || !info)
        return false;
    return KRLongLong(info->value(QStringLiteral("quality"))) == quality && nonEmptyArray(info->value(QStringLiteral("durl")));
}

bool KRAccountDASHDataHasExactH264AAC(const std::optional<QVariantMap>& info, qint32 quality)
{
    if (!info)
        return false;
    const QVariantMap dash = info->value(QStringLiteral("dash")).toMap();
    const QVariant videos = dash.value(QStringLiteral("video"));
    if (!KRIsArray(videos))
        return false;
    for (const QVariant& entry : videos.toList()) {
        if (!KRIsDictionary(entry))
            continue;
        const QVariantMap stream = entry.toMap();
        const QVariant codecs = stream.value(QStringLiteral("codecs"));
        const QString codecText = KRIsString(codecs) ? codecs.toString().toLower() : QString();
        const bool h264 = KRLongLong(stream.value(QStringLiteral("codecid"))) == 7 || codecText.startsWith(QLatin1String("avc"))
            || codecText.contains(QLatin1String("h264"));
        if (KRLongLong(stream.value(QStringLiteral("id"))) == quality && h264)
            return nonEmptyArray(dash.value(QStringLiteral("audio")));
    }
    return false;
}

bool KRAccountPGCPlayURLHasStreams(const std::optional<QVariantMap>& info) { return info && hasStreams(*info); }

std::optional<QVariantMap> KRAccountNormalizedPGCPlayURL(const QVariant& payload)
{
    if (!KRIsDictionary(payload))
        return std::nullopt;
    QVariantMap merged;
    QVariantMap level = payload.toMap();
    for (int depth = 0; depth < 8; ++depth) {
        for (auto it = level.constBegin(); it != level.constEnd(); ++it)
            merged.insert(it.key(), it.value());
        const QVariant videoInfo = level.value(QStringLiteral("video_info"));
        if (KRIsDictionary(videoInfo)) {
            const QVariantMap inner = videoInfo.toMap();
            for (auto it = inner.constBegin(); it != inner.constEnd(); ++it)
                merged.insert(it.key(), it.value());
        }
        if (hasStreams(merged))
            return merged;
        QVariant next;
        for (const char* key : {"result", "data", "video_info"}) {
            const QVariant candidate = level.value(QString::fromLatin1(key));
            if (KRIsDictionary(candidate)) {
                next = candidate;
                break;
            }
        }
        if (!next.isValid() || next.toMap() == level)
            break;
        level = next.toMap();
    }
    if (merged.isEmpty())
        return std::nullopt;
    return merged;
}
