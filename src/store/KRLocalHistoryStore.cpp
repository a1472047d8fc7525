#include "store/KRLocalHistoryStore.h"

#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Directories.h"
#include "platform/foundation/PropertyList.h"
#include "model/KRTolerantValue.h"
#include "model/KRVideo.h"
#include "model/KRVideoNormalizer.h"

#include <QCoreApplication>
#include <QDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>

namespace {

const QString kHistoryProgress = QStringLiteral("history_progress");
const QString kHistoryDuration = QStringLiteral("history_duration");
const QString kViewAt = QStringLiteral("view_at");
const QString kCompleted = QStringLiteral("completed");
const QString kOffline = QStringLiteral("offline");
const QString kDurationText = QStringLiteral("duration_text");

double finiteOrZero(double value) { return (std::isfinite(value) && value >= 0) ? value : 0; }

double nowSeconds()
{
    using namespace std::chrono;
    return double(duration_cast<microseconds>(system_clock::now().time_since_epoch()).count()) / 1e6;
}

QString withoutNul(QString text) { return text.remove(QChar(u'\0')); }

// Records reach the service's JSON shape from many builders; a part list may carry JSON
// nulls or other values a property list cannot hold, and one such value would make every
// later save of the whole file fail. Keep only what the file can store, as it stores it.
QVariant propertyListValue(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QVariantMap: {
        QVariantMap cleaned;
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            QVariant child = propertyListValue(it.value());
            if (child.isValid())
                cleaned.insert(withoutNul(it.key()), std::move(child));
        }
        return cleaned;
    }
    case QMetaType::QVariantHash: {
        QVariantMap map;
        const QVariantHash hash = value.toHash();
        for (auto it = hash.cbegin(); it != hash.cend(); ++it)
            map.insert(it.key(), it.value());
        return propertyListValue(map);
    }
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        QVariantList cleaned;
        for (const QVariant& element : value.toList()) {
            QVariant child = propertyListValue(element);
            if (child.isValid())
                cleaned.append(std::move(child));
        }
        return cleaned;
    }
    case QMetaType::QString:
        return platform::PropertyList::normalized(withoutNul(value.toString()));
    default:
        return platform::PropertyList::normalized(value);
    }
}

QString durationTextForSeconds(double duration)
{
    // A length no part can have must not overflow into a negative text.
    constexpr double kLongest = 1e15;
    const qint64 whole = qint64(std::floor(std::min(duration, kLongest)));
    const qint64 hours = whole / 3600;
    const qint64 minutes = (whole % 3600) / 60;
    const qint64 seconds = whole % 60;
    if (whole >= 3600)
        return QString::asprintf("%lld:%02lld:%02lld", hours, minutes, seconds);
    return QString::asprintf("%lld:%02lld", whole / 60, seconds);
}

} // namespace

QString KRLocalHistoryIdentity(const KRVideo& video)
{
    QString base = video.feedIdentity();
    if (base.isEmpty() && !video.playURL().isEmpty())
        base = QStringLiteral("url:") + video.playURL();
    if (base.isEmpty())
        base = QStringLiteral("title:") + (video.title().isNull() ? QStringLiteral("视频") : video.title());
    // As the file keeps it: no U+0000, U+FFFD for a surrogate without its partner.
    return platform::PropertyList::normalized(withoutNul(base) + QStringLiteral("|cid:") + QString::number(video.cid()))
        .toString();
}

namespace {
std::atomic_bool g_sharedStoreCreated{false};
}

KRLocalHistoryStore& KRLocalHistoryStore::sharedStore()
{
    static KRLocalHistoryStore store;
    g_sharedStoreCreated.store(true);
    return store;
}

void KRLocalHistoryStore::flushSharedStoreIfUsed()
{
    if (g_sharedStoreCreated.load())
        sharedStore().flushPendingSaves();
}

KRLocalHistoryStore::KRLocalHistoryStore() : m_saveQueue(1, QStringLiteral("KRLocalHistoryStore.save"))
{
    // Pending saves reach the disk while the application object goes, before static
    // destruction; the destructor is the last resort of a process that had none.
    if (QCoreApplication::instance())
        qAddPostRoutine([] { sharedStore().flushPendingSaves(); });
    std::lock_guard<std::mutex> lock(m_lock);
    loadLocked();
}

KRLocalHistoryStore::~KRLocalHistoryStore() { flushPendingSaves(); }

void KRLocalHistoryStore::flushPendingSaves() { m_saveQueue.waitUntilAllOperationsAreFinished(); }

void KRLocalHistoryStore::resetForTesting()
{
    flushPendingSaves();
    std::lock_guard<std::mutex> lock(m_lock);
    loadLocked();
}

void KRLocalHistoryStore::loadLocked()
{
    QString support = platform::Directories::applicationSupport();
    if (support.isEmpty())
        support = platform::Directories::temporary() + QStringLiteral("/KorvaneSupport");
    const QString directory = support + QStringLiteral("/Korvane");
    QDir().mkpath(directory);
    m_storePath = directory + QStringLiteral("/LocalHistory.plist");

    m_records.clear();
    const std::optional<QByteArray> data = platform::readFile(m_storePath);
    if (!data)
        return;
    const QVariant root = platform::PropertyList::parse(*data);
    if (root.typeId() != QMetaType::QVariantMap)
        return;
    const QVariantMap records = root.toMap();
    for (auto it = records.cbegin(); it != records.cend(); ++it) {
        if (it.value().typeId() != QMetaType::QVariantMap)
            continue;
        // A time that is no number (NaN, an infinity: a damaged or foreign file) would put
        // the history out of order and break the sort that trims it; it reads as 0.
        QVariantMap record = it.value().toMap();
        for (const QString& key : {kHistoryProgress, kHistoryDuration, kViewAt}) {
            const auto time = record.find(key);
            if (time != record.end() && !std::isfinite(KRDouble(*time)))
                *time = 0.0;
        }
        m_records.insert(it.key(), record);
    }
}

QString KRLocalHistoryStore::storePath() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_storePath;
}

int KRLocalHistoryStore::recordCount() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return int(m_records.size());
}

QVariantMap KRLocalHistoryStore::metadataForVideo(const KRVideo& video, bool offline) const
{
    QVariantMap record;
    auto putText = [&record](const char* key, const QString& value) {
        if (!value.isEmpty())
            record.insert(QLatin1String(key), value);
    };
    auto putPositive = [&record](const char* key, qint64 value) {
        if (value >= 1)
            record.insert(QLatin1String(key), value);
    };

    putPositive("aid", video.aid());
    putPositive("resolved_aid", video.resolvedAid());
    putText("bvid", video.bvid());
    putPositive("cid", video.cid());
    putPositive("season_id", video.seasonID());
    putPositive("ep_id", video.episodeID());
    putPositive("season_type", video.seasonType());
    if (video.episodeID() >= 1 && video.isPGC())
        record.insert(QStringLiteral("business"), QStringLiteral("pgc"));
    putText("pgc_episode_text", video.pgcEpisodeText());
    putText("pgc_subtitle", video.pgcSubtitle());
    putText("pgc_badge", video.pgcBadge());
    putText("pgc_order_text", video.pgcOrderText());
    putPositive("tid", video.tid());
    putText("tname", video.tname());
    putText("title", video.title());
    putText("pic", video.coverURL());

    QVariantMap owner;
    if (!video.ownerName().isEmpty())
        owner.insert(QStringLiteral("name"), video.ownerName());
    if (video.ownerMID() >= 1)
        owner.insert(QStringLiteral("mid"), video.ownerMID());
    if (!video.ownerAvatarURL().isEmpty())
        owner.insert(QStringLiteral("face"), video.ownerAvatarURL());
    if (!owner.isEmpty())
        record.insert(QStringLiteral("owner"), owner);

    putText("duration_text", video.durationText());
    putText("desc", video.summary());
    const QList<KRVideoPartInfo> pages = video.pages();
    if (!pages.isEmpty()) {
        QVariantList parts;
        parts.reserve(pages.size());
        for (const KRVideoPartInfo& part : pages)
            parts.append(part);
        record.insert(QStringLiteral("pages"), parts);
    }
    if (video.width() >= 1 || video.height() >= 1) {
        record.insert(QStringLiteral("dimension"),
                      QVariantMap{{QStringLiteral("width"), qint64(video.width())},
                                  {QStringLiteral("height"), qint64(video.height())}});
    }
    record.insert(QStringLiteral("quality"), qint64(video.playbackQuality()));
    record.insert(QStringLiteral("statistics_known"), video.statisticsKnown());
    if (video.statisticsKnown()) {
        record.insert(QStringLiteral("stat"), QVariantMap{{QStringLiteral("view"), video.playCount()},
                                                          {QStringLiteral("danmaku"), video.danmakuCount()},
                                                          {QStringLiteral("reply"), video.replyCount()}});
    }
    if (offline && video.playURL().startsWith(QLatin1String("file://")))
        record.insert(QStringLiteral("play_url"), video.playURL());
    return propertyListValue(record).toMap();
}

void KRLocalHistoryStore::recordVideo(const std::shared_ptr<KRVideo>& video, double progress, double duration,
                                      bool completed, bool offline)
{
    if (!video)
        return;
    duration = finiteOrZero(duration);
    progress = completed ? 0 : finiteOrZero(progress);
    const QString identity = KRLocalHistoryIdentity(*video);
    if (identity.isEmpty())
        return;

    QVariantMap record = metadataForVideo(*video, offline);
    record.insert(kHistoryProgress, progress);
    record.insert(kHistoryDuration, duration);
    record.insert(kViewAt, nowSeconds());
    record.insert(kCompleted, completed);
    record.insert(kOffline, offline);
    if (duration > 0 && !record.contains(kDurationText))
        record.insert(kDurationText, durationTextForSeconds(duration));

    // Checked in its place in the file, so that no record can make a save of the whole fail.
    const QVariant placed = platform::PropertyList::normalized(QVariantMap{{identity, record}});
    if (!placed.isValid())
        return;
    const QVariantMap entry = placed.toMap();
    std::lock_guard<std::mutex> lock(m_lock);
    m_records.insert(entry.firstKey(), entry.first());
    trimAndScheduleSave();
}

void KRLocalHistoryStore::trimAndScheduleSave()
{
    if (m_records.size() > maximumRecordCount) {
        QList<std::pair<double, QString>> byAge;
        byAge.reserve(m_records.size());
        for (auto it = m_records.cbegin(); it != m_records.cend(); ++it)
            byAge.append({KRDouble(it->toMap().value(kViewAt)), it.key()});
        std::sort(byAge.begin(), byAge.end());
        const qsizetype excess = m_records.size() - maximumRecordCount;
        for (qsizetype i = 0; i < excess; ++i)
            m_records.remove(byAge[i].second);
    }
    // A save that has not started yet will take the records as they are then.
    if (m_saveQueued)
        return;
    m_saveQueued = true;
    m_saveQueue.addOperation([this] { saveLatest(); });
}

void KRLocalHistoryStore::saveLatest()
{
    QVariantMap records;
    QString path;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_saveQueued = false;
        records = m_records;
        path = m_storePath;
    }
    // A failed write keeps the records in memory for the rest of the run, and the previous
    // file on disk.
    // Every record was normalized when it was made or read, so the whole is not again: on a
    // full history that would take as long as the encoding.
    const QByteArray& data = m_saveWriter.writeKeepingMemory(records);
    QString errorText = QStringLiteral("the records cannot be written as a property list");
    if (data.isEmpty() || !platform::writeFileAtomically(path, data, &errorText))
        qWarning("KRLocalHistoryStore: cannot save %s: %s", qPrintable(path), qPrintable(errorText));
    // While the copy still shares the store's records, letting it go leaves the store the one
    // holder, and the next change then writes in place into what this save has just read. The
    // map's share count is read without ordering, so only the lock orders that write after
    // these reads: the copy goes under it. A copy the store no longer shares (it changed the
    // records meanwhile, and so made its own) is this save's alone and goes outside.
    std::unique_lock<std::mutex> lock(m_lock);
    if (records.isSharedWith(m_records))
        records = QVariantMap();
    lock.unlock();
}

std::optional<QVariantMap> KRLocalHistoryStore::resumeRecordForVideo(const std::shared_ptr<KRVideo>& video) const
{
    if (!video)
        return std::nullopt;
    const QString identity = KRLocalHistoryIdentity(*video);
    std::lock_guard<std::mutex> lock(m_lock);
    const auto it = m_records.constFind(identity);
    if (it == m_records.cend())
        return std::nullopt;
    return it->toMap();
}

QList<std::shared_ptr<KRVideo>> KRLocalHistoryStore::historyVideos() const
{
    QList<std::shared_ptr<KRVideo>> videos;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        videos.reserve(m_records.size());
        for (auto it = m_records.cbegin(); it != m_records.cend(); ++it) {
            const QVariantMap record = it->toMap();
            std::shared_ptr<KRVideo> video = KRVideoNormalizer::videoFromDictionary(record);
            if (!video)
                continue;
            const QVariant known = record.value(QStringLiteral("statistics_known"));
            if (known.typeId() == QMetaType::Bool)
                video->setStatisticsKnown(known.toBool());
            else if (video->playCount() == 0 && video->danmakuCount() == 0 && video->replyCount() == 0)
                video->setStatisticsKnown(false);
            if ((video->isPGC() || video->episodeID() > 0) && video->playCount() <= 0 && video->danmakuCount() <= 0)
                video->setStatisticsKnown(false);
            video->setResolvedAid(KRLongLong(record.value(QStringLiteral("resolved_aid"))));
            video->setHistoryProgress(KRDouble(record.value(kHistoryProgress)));
            video->setHistoryDuration(KRDouble(record.value(kHistoryDuration)));
            video->setHistoryViewAt(KRDouble(record.value(kViewAt)));
            video->setLocalHistory(true);
            videos.append(std::move(video));
        }
    }
    std::stable_sort(videos.begin(), videos.end(),
                     [](const auto& a, const auto& b) { return a->historyViewAt() > b->historyViewAt(); });
    return videos;
}
