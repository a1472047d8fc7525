#include "playback/KRDASHStreams.h"

#include "look/KRShellHelpers.h"
#include "model/KRServiceHosts.h"
#include "model/KRTolerantValue.h"
#include "store/KRDiagnostics.h"

#include <QUrl>
#include <QVariantList>

#include <cmath>
#include <limits>

namespace {

QVariantList streamsOf(const QVariant& playInfo, const QString& kind)
{
    if (!KRIsDictionary(playInfo))
        return {};
    const QVariant dash = playInfo.toMap().value(QStringLiteral("dash"));
    if (!KRIsDictionary(dash))
        return {};
    const QVariant streams = dash.toMap().value(kind);
    if (!KRIsArray(streams))
        return {};
    return streams.toList();
}

bool isH264(const QVariantMap& stream)
{
    if (KRLongLong(stream.value(QStringLiteral("codecid"))) == 7)
        return true;
    const QVariant codecs = stream.value(QStringLiteral("codecs"));
    return KRIsString(codecs) && codecs.toString().startsWith(QLatin1String("avc"));
}

bool isAACOrUnlabelled(const QVariantMap& stream)
{
    const QVariant codecs = stream.value(QStringLiteral("codecs"));
    if (!KRIsString(codecs))
        return true;
    const QString text = codecs.toString();
    return text.isEmpty() || text.startsWith(QLatin1String("mp4a"));
}

qint64 idOf(const std::optional<QVariantMap>& stream)
{
    return stream ? KRLongLong(stream->value(QStringLiteral("id"))) : -1;
}

QVariant asVariant(const std::optional<QVariantMap>& stream) { return stream ? QVariant(*stream) : QVariant(); }

QString nonEmptyText(const QVariant& value)
{
    return KRIsString(value) && !value.toString().isEmpty() ? value.toString() : QString();
}

QString firstOf(const QVariant& list)
{
    if (!KRIsArray(list))
        return {};
    const QVariantList items = list.toList();
    if (items.isEmpty() || !KRIsString(items.first()))
        return {};
    return items.first().toString();
}

} // namespace

std::optional<QVariantMap> KRDASHH264VideoStream(const QVariant& playInfo, int quality)
{
    std::optional<QVariantMap> exact;
    std::optional<QVariantMap> bestBelow;
    std::optional<QVariantMap> highest;
    for (const QVariant& entry : streamsOf(playInfo, QStringLiteral("video"))) {
        if (!KRIsDictionary(entry))
            continue;
        const QVariantMap stream = entry.toMap();
        if (!isH264(stream))
            continue;
        const qint64 id = KRLongLong(stream.value(QStringLiteral("id")));
        if (id == quality && KRDASHPreferLegacyStream(stream, asVariant(exact)))
            exact = stream;
        if (id <= quality
            && (id > idOf(bestBelow) || (id == idOf(bestBelow) && KRDASHPreferLegacyStream(stream, asVariant(bestBelow)))))
            bestBelow = stream;
        if (id > idOf(highest) || (id == idOf(highest) && KRDASHPreferLegacyStream(stream, asVariant(highest))))
            highest = stream;
    }
    const std::optional<QVariantMap> chosen = exact ? exact : (bestBelow ? bestBelow : highest);
    if (chosen) {
        const QVariant codecs = chosen->value(QStringLiteral("codecs"));
        KRDiagnostics::recordEvent(
            QStringLiteral("dash-video-representation"),
            QStringLiteral("requested=%1 selected=%2 codec=%3 size=%4x%5 fps=%6 bandwidth=%7 penalty=%8")
                .arg(quality)
                .arg(idOf(chosen))
                .arg(KRIsString(codecs) ? codecs.toString() : QString())
                .arg(KRLongLong(chosen->value(QStringLiteral("width"))))
                .arg(KRLongLong(chosen->value(QStringLiteral("height"))))
                .arg(KRDASHFrameRateValue(chosen->value(QStringLiteral("frame_rate"))), 0, 'f', 2)
                .arg(KRLongLong(chosen->value(QStringLiteral("bandwidth"))))
                .arg(KRDASHLegacyPenalty(*chosen)));
    }
    return chosen;
}

std::optional<QVariantMap> KRDASHBestAACStream(const QVariant& playInfo)
{
    std::optional<QVariantMap> best;
    qint64 bestBandwidth = 0;
    for (const QVariant& entry : streamsOf(playInfo, QStringLiteral("audio"))) {
        if (!KRIsDictionary(entry))
            continue;
        const QVariantMap stream = entry.toMap();
        if (!isAACOrUnlabelled(stream))
            continue;
        const qint64 bandwidth = KRLongLong(stream.value(QStringLiteral("bandwidth")));
        if (!best || bandwidth > bestBandwidth) {
            best = stream;
            bestBandwidth = bandwidth;
        }
    }
    return best;
}

QString KRDASHStreamURLString(const QVariant& stream)
{
    if (!KRIsDictionary(stream))
        return {};
    const QVariantMap map = stream.toMap();
    QString address = nonEmptyText(map.value(QStringLiteral("base_url")));
    if (address.isEmpty())
        address = nonEmptyText(map.value(QStringLiteral("baseUrl")));
    if (address.isEmpty()) {
        // An empty "backup_url" names no address: "backupUrl" is still read, or a reply that
        // sends both spellings with only the second filled would leave a playable stream
        // without one.
        const QVariant backups = map.value(QStringLiteral("backup_url"));
        address = KRIsArray(backups) && !backups.toList().isEmpty() ? firstOf(backups)
                                                                    : firstOf(map.value(QStringLiteral("backupUrl")));
    }
    // An empty text names no stream either: callers test for "no address" alone.
    if (address.isEmpty())
        return {};
    return KRLegacyPlayableCDNURLString(address);
}

QStringList KROfflineProgressiveCandidateURLStrings(const QVariant& durlEntry)
{
    if (!KRIsDictionary(durlEntry))
        return {};
    const QVariantMap entry = durlEntry.toMap();
    QStringList collected;
    if (const QString url = nonEmptyText(entry.value(QStringLiteral("url"))); !url.isEmpty())
        collected.append(url);
    const QVariant backups = entry.value(QStringLiteral("backup_url"));
    if (KRIsArray(backups)) {
        for (const QVariant& backup : backups.toList()) {
            if (const QString url = nonEmptyText(backup); !url.isEmpty())
                collected.append(url);
        }
    }
    QStringList result;
    for (const QString& candidate : collected) {
        const QString playable = KRLegacyPlayableCDNURLString(candidate);
        const QUrl url(playable, QUrl::StrictMode);
        const QString scheme = url.scheme().toLower();
        // An address without a host ("https:///v.mp4") names no server: it could only fail,
        // taking a failover turn from the addresses that can answer.
        if (!url.isValid() || url.host().isEmpty() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
            continue;
        if (!result.contains(playable))
            result.append(playable);
    }
    return result;
}

double KRDASHFrameRateValue(const QVariant& frameRate)
{
    double value = 0;
    if (KRIsString(frameRate)) {
        const QString text = frameRate.toString().trimmed();
        const qsizetype slash = text.indexOf(QLatin1Char('/'));
        if (slash >= 0) {
            const double numerator = KRDouble(text.left(slash));
            const double denominator = KRDouble(text.mid(slash + 1));
            value = denominator > 0 ? numerator / denominator : 0;
        } else {
            value = KRDouble(text);
        }
    } else if (KRIsNumber(frameRate)) {
        value = KRDouble(frameRate);
    }
    return std::isfinite(value) && value > 0 ? value : 0;
}

int KRDASHLegacyPenalty(const QVariant& stream)
{
    if (!KRIsDictionary(stream))
        return 0;
    const QVariantMap map = stream.toMap();
    int penalty = 0;
    if (KRLongLong(map.value(QStringLiteral("width"))) > 1920 || KRLongLong(map.value(QStringLiteral("height"))) > 1080)
        penalty += 100;
    if (KRDASHFrameRateValue(map.value(QStringLiteral("frame_rate"))) > 31)
        penalty += 20;
    const QVariant codecs = map.value(QStringLiteral("codecs"));
    if (KRIsString(codecs)) {
        const QString text = codecs.toString();
        if (text.startsWith(QLatin1String("avc1.")) && text.size() >= 11) {
            bool ok = false;
            const int level = text.mid(9, 2).toInt(&ok, 16);
            if (ok && level >= 0x2A)
                penalty += 10;
        }
    }
    return penalty;
}

bool KRDASHPreferLegacyStream(const QVariant& candidate, const QVariant& keptOrInvalid)
{
    if (!KRIsDictionary(keptOrInvalid))
        return true;
    const int candidatePenalty = KRDASHLegacyPenalty(candidate);
    const int keptPenalty = KRDASHLegacyPenalty(keptOrInvalid);
    if (candidatePenalty != keptPenalty)
        return candidatePenalty < keptPenalty;
    const qint64 bandwidth = KRIsDictionary(candidate) ? KRLongLong(candidate.toMap().value(QStringLiteral("bandwidth"))) : 0;
    qint64 keptBandwidth = KRLongLong(keptOrInvalid.toMap().value(QStringLiteral("bandwidth")));
    if (keptBandwidth < 1)
        keptBandwidth = std::numeric_limits<qint64>::max();
    return bandwidth > 0 && bandwidth < keptBandwidth;
}

QString KRLegacyPlayableCDNURLString(const QString& address)
{
    if (address.isEmpty())
        return address;
    const int version = KRRootSystemMajorVersion();
    if (version < 1 || version > 8)
        return address;
    const QUrl url(address);
    if (url.scheme().toLower() != QLatin1String("https"))
        return address;
    const QString host = url.host().toLower();
    if (host.isEmpty())
        return address;
    for (const QString& suffix : KRServiceHosts::videoCDNHostSuffixes()) {
        if (host.endsWith(suffix))
            return QStringLiteral("http://") + address.mid(8);
    }
    return address;
}
