// The archive-id compatibility mapping: when an outside component provides an id map, each
// real archive id gets a stable synthetic id in 1200000000…1899999999 recorded there.
// Without one, a video's resolved aid is simply its aid.

#include "service/KRAPIClient.h"

#include "platform/foundation/Dispatch.h"
#include "service/KRCompatibilityAIDMap.h"
#include "model/KRTolerantValue.h"
#include "model/KRVideo.h"

namespace {

constexpr qint64 KRSyntheticAIDFirst = 1200000000;
constexpr qint64 KRSyntheticAIDLast = 1899999999;
constexpr qint64 KRSyntheticAIDSpan = KRSyntheticAIDLast - KRSyntheticAIDFirst + 1;

std::shared_ptr<KRCompatibilityAIDMap>& installedMap()
{
    static std::shared_ptr<KRCompatibilityAIDMap> map;
    return map;
}

quint32 fnv1a(const QByteArray& bytes)
{
    quint32 hash = 2166136261u;
    for (const char byte : bytes) {
        hash ^= quint32(quint8(byte));
        hash *= 16777619u;
    }
    return hash;
}

std::optional<qint64> integerEntry(const KRCompatibilityAIDMap& map, const QString& key)
{
    return KRIntegerValue(map.value(key));
}

qint64 existingSyntheticAID(const KRCompatibilityAIDMap& map, qint64 real)
{
    for (const QString& key : map.keys()) {
        if (integerEntry(map, key) == real)
            return KRLongLongFromText(key);
    }
    return 0;
}

qint64 newSyntheticAID(KRCompatibilityAIDMap& map, const KRVideo& video, qint64 real)
{
    QString seed = video.canonicalBVID();
    if (seed.isEmpty())
        seed = QString::number(real);
    qint64 synthetic = qint64(fnv1a(seed.toUtf8()) % quint32(KRSyntheticAIDSpan)) + KRSyntheticAIDFirst;
    // Probe past slots that another real id holds. Bounded by the range: a full map leaves
    // the last probed slot to be overwritten rather than spinning forever.
    for (qint64 probes = 0; probes < KRSyntheticAIDSpan; ++probes) {
        const std::optional<qint64> holder = integerEntry(map, QString::number(synthetic));
        if (!holder || *holder == real)
            break;
        synthetic = synthetic == KRSyntheticAIDLast ? KRSyntheticAIDFirst : synthetic + 1;
    }
    map.setValue(QString::number(synthetic), QString::number(real));
    return synthetic;
}

} // namespace

std::shared_ptr<KRCompatibilityAIDMap> KRCompatibilityAIDMap::installed()
{
    return installedMap();
}

void KRCompatibilityAIDMap::install(std::shared_ptr<KRCompatibilityAIDMap> map)
{
    platform::assertMainThread("KRCompatibilityAIDMap::install");
    installedMap() = std::move(map);
}

void KRRegisterCompatibilityMappings(const KRVideoList& videos)
{
    platform::assertMainThread("KRRegisterCompatibilityMappings");
    const std::shared_ptr<KRCompatibilityAIDMap> map = KRCompatibilityAIDMap::installed();
    if (!map) {
        for (const std::shared_ptr<KRVideo>& video : videos) {
            if (video && video->resolvedAid() == 0)
                video->setResolvedAid(video->aid());
        }
        return;
    }
    if (!map->isWritable())
        return;
    for (const std::shared_ptr<KRVideo>& video : videos) {
        if (!video)
            continue;
        const qint64 real = video->resolvedAid() > 0 ? video->resolvedAid() : video->aid();
        if (real < 1)
            continue;
        qint64 synthetic = existingSyntheticAID(*map, real);
        if (synthetic < 1)
            synthetic = newSyntheticAID(*map, *video, real);
        video->setResolvedAid(real);
        video->setAid(synthetic);
    }
}

void KRAPIClient::registerCompatibilityMappingsForVideos(const KRVideoList& videos)
{
    KRRegisterCompatibilityMappings(videos);
}

void KRApplyResolvedAIDs(const KRVideoList& videos)
{
    const std::shared_ptr<KRCompatibilityAIDMap> map = KRCompatibilityAIDMap::installed();
    if (!map || map->keys().isEmpty())
        return;
    for (const std::shared_ptr<KRVideo>& video : videos) {
        if (!video)
            continue;
        const std::optional<qint64> value = integerEntry(*map, QString::number(video->aid()));
        if (value && *value >= 1 && *value != video->aid())
            video->setResolvedAid(*value);
    }
}
