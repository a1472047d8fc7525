// The store half of the offline cache: directory, index, queries, deletion and commit.

#include "playback/KROfflineCacheManager.h"

#include "model/KRConsole.h"
#include "model/KRTolerantValue.h"
#include "model/KRVideoNormalizer.h"
#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Directories.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/PropertyList.h"
#include "platform/net/DownloadConnection.h"
#include "playback/KROfflineBatch.h"
#include "playback/KRQualityTitles.h"
#include "service/KRDanmakuClient.h"

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <optional>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kIndexName = QStringLiteral("index.plist");

KROfflineCacheManager*& sharedInstance()
{
    static KROfflineCacheManager* instance = nullptr;
    return instance;
}

QString recordText(const KROfflineRecord& record, const QString& key)
{
    const QVariant value = record.value(key);
    return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

bool isDASHRecord(const KROfflineRecord& record) { return recordText(record, QStringLiteral("media_kind")) == QLatin1String("dash"); }

KRError offlineError(qint64 code, const QString& message) { return KRError(KROfflineCacheErrorDomain, code, message); }

// The index as stored: its array, or empty (and *isArray false) when it is missing,
// unreadable, malformed or not an array.
QVariantList storedIndex(const QString& path, bool* isArray = nullptr)
{
    const std::optional<QByteArray> data = platform::readFile(path);
    const QVariant parsed = data ? platform::PropertyList::parse(*data) : QVariant();
    const bool array = parsed.typeId() == QMetaType::QVariantList;
    if (isArray)
        *isArray = array;
    return array ? parsed.toList() : QVariantList();
}

} // namespace

// One listing of the directory answers for all its records, where a lookup of each record's
// files would cost a call into the system per file. An entry that is a link (or of a type
// the listing does not tell) is looked up as before, so a dangling link counts as missing.
// The listing is made at the first question: an empty index asks none (every video page
// opened looks for its offline copy).
struct KROfflineCacheManager::DirectoryNames {
    // `directory` ends in "/".
    explicit DirectoryNames(const QString& directory) : directory(directory) {}

    bool contains(const QString& name) const
    {
        list();
        if (!listed || lookedUp.contains(name))
            return QFileInfo::exists(directory + name);
        return found.contains(name);
    }

    // The directory's file URL, ending in "/".
    const QString& directoryURL() const
    {
        if (m_directoryURL.isNull())
            m_directoryURL = QUrl::fromLocalFile(directory).toString();
        return m_directoryURL;
    }

    QString directory;

private:
    void list() const
    {
        if (m_read)
            return;
        m_read = true;
        DIR* listing = ::opendir(QFile::encodeName(directory).constData());
        if (!listing) {
            // A missing directory holds nothing; one that cannot be listed is asked name by name.
            listed = errno == ENOENT || errno == ENOTDIR;
            return;
        }
        listed = true;
        while (const dirent* entry = ::readdir(listing)) {
            const QString name = QFile::decodeName(entry->d_name);
            if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN)
                lookedUp.insert(name);
            else
                found.insert(name);
        }
        ::closedir(listing);
    }

    mutable bool m_read = false;
    mutable bool listed = false;
    mutable QSet<QString> found;
    mutable QSet<QString> lookedUp;
    mutable QString m_directoryURL;
};

bool KROfflineCacheManager::recordFilesPresent(const KROfflineRecord& record, const QString& directory, const DirectoryNames* names)
{
    auto present = [&](const QString& key) {
        const QString name = recordText(record, key);
        return KROfflineIsPlainFileName(name) && (names ? names->contains(name) : QFileInfo::exists(directory + name));
    };
    if (isDASHRecord(record))
        return present(QStringLiteral("dash_video_file_name")) && present(QStringLiteral("dash_audio_file_name"));
    return present(QStringLiteral("file_name"));
}

namespace {

// Property lists cannot hold U+0000 in text.
QString plistText(const QString& text)
{
    QString cleaned = text;
    cleaned.remove(QChar(0));
    return cleaned;
}

} // namespace

// ---------------------------------------------------------------------------------------
// Free functions

QString KROfflineVideoKey(const KRVideo* video)
{
    if (!video || video->cid() < 1)
        return {};
    QString identity = video->feedIdentity();
    if (identity.isEmpty())
        identity = QStringLiteral("aid:%1").arg(video->resolvedAid() > 0 ? video->resolvedAid() : video->aid());
    // As the index keeps it (no U+0000, a lone surrogate as U+FFFD; a title can hold either),
    // so that a finished download is found by the key it was stored under.
    const QString key = QStringLiteral("%1|cid:%2").arg(identity).arg(video->cid());
    return platform::PropertyList::normalized(plistText(key)).toString();
}

QString KROfflineBaseName(const QString& key, qint64 startedAtUnixSeconds)
{
    quint32 hash = 0x811c9dc5u;
    for (const char byte : key.toUtf8()) {
        hash ^= quint8(byte);
        hash *= 16777619u;
    }
    return QStringLiteral("%1-%2").arg(hash, 8, 16, QLatin1Char('0')).arg(startedAtUnixSeconds);
}

QStringList KROfflineProgressiveCandidates(const QStringList& sources)
{
    QStringList candidates;
    for (const QString& source : sources) {
        if (source.isEmpty() || candidates.contains(source))
            continue;
        const QUrl url(source);
        const QString scheme = url.scheme().toLower();
        if (url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")))
            candidates.append(source);
    }
    return candidates;
}

float KROfflineDownloadProgress(bool dash, int transferIndex, qint64 received, qint64 expected)
{
    const double part = expected >= 1 ? std::clamp(double(received) / double(expected), 0.0, 1.0) : 0.0;
    if (!dash)
        return float(part);
    return float(transferIndex == 0 ? 0.85 * part : 0.85 + 0.15 * part);
}

bool KROfflineIsPlainFileName(const QString& name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") || name.contains(QLatin1Char('/'))
        || name.contains(QChar(0)))
        return false;
    // The store's own entries: a record naming one would erase the index (and with it every
    // other download at the next start) or could never be deleted.
    return name != kIndexName && name != QLatin1String("Danmaku") && !name.endsWith(QLatin1String(".part"))
        && !name.startsWith(QLatin1Char('.') + kIndexName + QLatin1Char('.'));
}

// ---------------------------------------------------------------------------------------
// Life

KROfflineCacheManager* KROfflineCacheManager::sharedManager()
{
    KROfflineCacheManager*& instance = sharedInstance();
    if (!instance)
        instance = new KROfflineCacheManager;
    return instance;
}

void KROfflineCacheManager::resetForTesting()
{
    KROfflineCacheManager*& instance = sharedInstance();
    delete instance;
    instance = nullptr;
}

KROfflineCacheManager::KROfflineCacheManager()
{
    const QDir directory(cacheDirectory());
    for (const QString& name : directory.entryList(QDir::Files | QDir::System | QDir::Hidden)) {
        if (name.endsWith(QLatin1String(".part")))
            QFile::remove(directory.filePath(name));
    }
    bool readAnArray = false;
    const QVariantList kept = mutableRecordsCleaningMissingFiles(true, &readAnArray);
    // Files moved into place by a download that never committed have no record (a DASH
    // picture track is moved in before its sound track starts). An absent index names none
    // either: there is none until the first download commits, and that download, cut off by
    // the end of the process, would otherwise keep its picture for good. An index that is
    // there but cannot be read tells nothing apart, so nothing is touched.
    const QFileInfo index(directory.filePath(kIndexName));
    if (readAnArray || (!index.exists() && !index.isSymLink()))
        purgeUnreferencedFiles(kept);
}

KROfflineCacheManager::~KROfflineCacheManager()
{
    // The batch goes first, so the cancelled download's completion starts no further part.
    m_batch.reset();
    cancelCurrentDownload();
}

QString KROfflineCacheManager::directoryPathForReading() const
{
    QString documents = platform::Directories::documents();
    if (documents.isEmpty())
        documents = platform::Directories::temporary();
    return documents + QStringLiteral("/KorvaneOffline/");
}

QString KROfflineCacheManager::cacheDirectory() const
{
    QString path = directoryPathForReading();
    path.chop(1);
    QDir().mkpath(path);
    return path;
}

QString KROfflineCacheManager::indexPath() const { return cacheDirectory() + QLatin1Char('/') + kIndexName; }

QString KROfflineCacheManager::fileURL(const QString& name) const
{
    return QUrl::fromLocalFile(directoryPathForReading() + name).toString();
}

// ---------------------------------------------------------------------------------------
// Index

QVariantList KROfflineCacheManager::mutableRecordsCleaningMissingFiles(bool writeBack, bool* readAnArray, const QString& readFrom,
                                                                       const DirectoryNames* names)
{
    // Reading creates nothing: a missing directory is an empty index.
    const QString directory = readFrom.isEmpty() ? directoryPathForReading() : readFrom;
    QVariantList kept;
    bool dropped = false;
    const QVariantList stored = storedIndex(directory + kIndexName, readAnArray);
    std::optional<DirectoryNames> listing;
    if (!names && !stored.isEmpty())
        names = &listing.emplace(directory);
    for (const QVariant& entry : stored) {
        if (entry.typeId() == QMetaType::QVariantMap && recordFilesPresent(entry.toMap(), directory, names))
            kept.append(entry);
        else
            dropped = true;
    }
    if (dropped && writeBack)
        writeRecords(kept);
    return kept;
}

bool KROfflineCacheManager::writeRecords(const QVariantList& records, QString* errorText)
{
    const QByteArray xml = platform::PropertyList::toXML(records);
    QString reason;
    bool written = false;
    if (xml.isEmpty())
        reason = QStringLiteral("离线索引包含无法保存的值");
    else
        written = platform::writeFileAtomically(indexPath(), xml, &reason);
    if (!written) {
        KRConsole::log(QStringLiteral("[KorvaneOffline] failed to write index path=%1").arg(indexPath()));
        if (errorText)
            *errorText = reason;
    }
    return written;
}

void KROfflineCacheManager::purgeUnreferencedFiles(const QVariantList& keptRecords)
{
    static const QRegularExpression ours(
        QStringLiteral("^[0-9a-f]{8}-[0-9]+(\\.mp4|\\.video\\.m4v|\\.audio\\.m4a|\\.jpg)$"));
    QSet<QString> referenced;
    for (const QVariant& entry : keptRecords) {
        const KROfflineRecord record = entry.toMap();
        for (const char* key : {"file_name", "cover_file_name", "dash_video_file_name", "dash_audio_file_name"})
            referenced.insert(recordText(record, QLatin1String(key)));
    }
    const QDir directory(cacheDirectory());
    for (const QString& name : directory.entryList(QDir::Files | QDir::System | QDir::Hidden)) {
        if (ours.match(name).hasMatch() && !referenced.contains(name)) {
            KRConsole::log(QStringLiteral("[KorvaneOffline] purge unreferenced file=%1").arg(name));
            QFile::remove(directory.filePath(name));
        }
    }
}

// ---------------------------------------------------------------------------------------
// Queries

namespace {

// The fields of a record that make its video.
enum RecordField {
    FieldAid,
    FieldResolvedAid,
    FieldBvid,
    FieldCid,
    FieldTid,
    FieldCopyright,
    FieldTitle,
    FieldOwnerName,
    FieldOwnerMID,
    FieldOwnerAvatarURL,
    FieldPublishTimestamp,
    FieldDurationText,
    FieldPlayCount,
    FieldDanmakuCount,
    FieldStatisticsKnown,
    FieldPageCount,
    FieldPages,
    FieldSummary,
    FieldWidth,
    FieldHeight,
    FieldMediaKind,
    FieldFileName,
    FieldQualityValue,
    FieldCoverFileName,
    FieldCoverURL,
    FieldQualityTitle,
    FieldDownloadState,
    RecordFieldCount
};

// The record's fields in one pass over it: a list of many records would otherwise look each
// of some thirty keys up in each record.
std::array<QVariant, RecordFieldCount> recordFields(const KROfflineRecord& record)
{
    static const QHash<QString, int> indexes{{QStringLiteral("aid"), FieldAid},
                                             {QStringLiteral("resolved_aid"), FieldResolvedAid},
                                             {QStringLiteral("bvid"), FieldBvid},
                                             {QStringLiteral("cid"), FieldCid},
                                             {QStringLiteral("tid"), FieldTid},
                                             {QStringLiteral("copyright"), FieldCopyright},
                                             {QStringLiteral("title"), FieldTitle},
                                             {QStringLiteral("owner_name"), FieldOwnerName},
                                             {QStringLiteral("owner_mid"), FieldOwnerMID},
                                             {QStringLiteral("owner_avatar_url"), FieldOwnerAvatarURL},
                                             {QStringLiteral("publish_timestamp"), FieldPublishTimestamp},
                                             {QStringLiteral("duration_text"), FieldDurationText},
                                             {QStringLiteral("play_count"), FieldPlayCount},
                                             {QStringLiteral("danmaku_count"), FieldDanmakuCount},
                                             {QStringLiteral("statistics_known"), FieldStatisticsKnown},
                                             {QStringLiteral("page_count"), FieldPageCount},
                                             {QStringLiteral("pages"), FieldPages},
                                             {QStringLiteral("summary"), FieldSummary},
                                             {QStringLiteral("width"), FieldWidth},
                                             {QStringLiteral("height"), FieldHeight},
                                             {QStringLiteral("media_kind"), FieldMediaKind},
                                             {QStringLiteral("file_name"), FieldFileName},
                                             {QStringLiteral("quality_value"), FieldQualityValue},
                                             {QStringLiteral("cover_file_name"), FieldCoverFileName},
                                             {QStringLiteral("cover_url"), FieldCoverURL},
                                             {QStringLiteral("quality_title"), FieldQualityTitle},
                                             {QStringLiteral("download_state"), FieldDownloadState}};
    std::array<QVariant, RecordFieldCount> fields;
    for (auto it = record.cbegin(); it != record.cend(); ++it) {
        const auto found = indexes.constFind(it.key());
        if (found != indexes.cend())
            fields[size_t(*found)] = it.value();
    }
    return fields;
}

// The length of the video's own part: a part cached on its own is that long, whatever the
// whole video's text says.
QString partDurationText(const KRVideo& video)
{
    for (const KRVideoPartInfo& page : video.pages()) {
        if (KRLongLong(page.value(QStringLiteral("cid"))) != video.cid())
            continue;
        const QVariant duration = page.value(QStringLiteral("duration"));
        if (KRDurationSeconds(duration) >= 1)
            return KRDuration(duration);
        break;
    }
    return video.durationText();
}

// A field's text, as recordText reads it.
QString fieldText(const QVariant& value) { return value.typeId() == QMetaType::QString ? value.toString() : QString(); }

// A file name whose file URL is the directory's URL followed by the name as it is.
bool isURLPlainName(const QString& name)
{
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        if (!((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '.' || u == '-' || u == '_'))
            return false;
    }
    return !name.isEmpty();
}

} // namespace

std::shared_ptr<KRVideo> KROfflineCacheManager::videoFromRecord(const KROfflineRecord& record, bool requireMovie, bool filesChecked,
                                                                const QString& readFrom, const DirectoryNames* names) const
{
    const QString directory = readFrom.isEmpty() ? directoryPathForReading() : readFrom;
    const auto localURL = [&](const QString& name) {
        if (names && names->directory == directory && isURLPlainName(name))
            return names->directoryURL() + name;
        return QUrl::fromLocalFile(directory + name).toString();
    };
    const bool present = filesChecked || recordFilesPresent(record, directory, names);
    if (requireMovie && !present)
        return nullptr;
    const std::array<QVariant, RecordFieldCount> f = recordFields(record);
    auto video = std::make_shared<KRVideo>();
    video->setAid(KRLongLong(f[FieldAid]));
    video->setResolvedAid(KRLongLong(f[FieldResolvedAid]));
    video->setBvid(fieldText(f[FieldBvid]));
    video->setCid(KRLongLong(f[FieldCid]));
    video->setTid(KRInt32(f[FieldTid]));
    video->setCopyright(KRInt32(f[FieldCopyright]));
    video->setTitle(fieldText(f[FieldTitle]));
    video->setOwnerName(fieldText(f[FieldOwnerName]));
    video->setOwnerMID(KRLongLong(f[FieldOwnerMID]));
    video->setOwnerAvatarURL(fieldText(f[FieldOwnerAvatarURL]));
    video->setPublishTimestamp(KRDouble(f[FieldPublishTimestamp]));
    video->setDurationText(fieldText(f[FieldDurationText]));
    video->setPlayCount(KRLongLong(f[FieldPlayCount]));
    video->setDanmakuCount(KRLongLong(f[FieldDanmakuCount]));
    video->setStatisticsKnown(KRBoolean(f[FieldStatisticsKnown]));
    video->setPageCount(KRInt32(f[FieldPageCount]));
    if (f[FieldPages].typeId() == QMetaType::QVariantList) {
        QList<KRVideoPartInfo> parts;
        for (const QVariant& page : f[FieldPages].toList())
            parts.append(page.toMap());
        video->setPages(parts);
    }
    video->setSummary(fieldText(f[FieldSummary]));
    video->setWidth(KRInt32(f[FieldWidth]));
    video->setHeight(KRInt32(f[FieldHeight]));
    if (fieldText(f[FieldMediaKind]) != QLatin1String("dash") && present)
        video->setPlayURL(localURL(fieldText(f[FieldFileName])));
    const QString quality = fieldText(f[FieldQualityTitle]);
    // Only DASH records store the code; every record names its quality, older ones included.
    const qint32 qualityValue = KRInt32(f[FieldQualityValue]);
    video->setPlaybackQuality(qualityValue >= 1 ? qualityValue : KRQualityValueForTitle(quality));
    const QString coverName = fieldText(f[FieldCoverFileName]);
    if (KROfflineIsPlainFileName(coverName) && (names ? names->contains(coverName) : QFileInfo::exists(directory + coverName)))
        video->setCoverURL(localURL(coverName));
    else
        video->setCoverURL(fieldText(f[FieldCoverURL]));
    const QString status =
        fieldText(f[FieldDownloadState]) == QLatin1String("downloading") ? QStringLiteral("缓存中") : QStringLiteral("离线");
    video->setTname(quality.isEmpty() ? status : quality + QStringLiteral(" · ") + status);
    return video;
}

KRVideoList KROfflineCacheManager::cachedVideos()
{
    KRVideoList videos;
    const QString directory = directoryPathForReading();
    const DirectoryNames names(directory);
    for (const QVariant& entry : mutableRecordsCleaningMissingFiles(true, nullptr, directory, &names)) {
        if (std::shared_ptr<KRVideo> video = videoFromRecord(entry.toMap(), true, true, directory, &names))
            videos.append(video);
    }
    return videos;
}

KRVideoList KROfflineCacheManager::offlineVideos()
{
    KRVideoList videos;
    const QString directory = directoryPathForReading();
    const DirectoryNames names(directory);
    if (isDownloading() && !m_pendingRecord.isEmpty())
        videos.append(videoFromRecord(m_pendingRecord, false, false, directory, &names));
    for (const QVariant& entry : mutableRecordsCleaningMissingFiles(true, nullptr, directory, &names)) {
        const KROfflineRecord record = entry.toMap();
        if (isDownloading() && recordText(record, QStringLiteral("key")) == m_pendingKey)
            continue;
        if (std::shared_ptr<KRVideo> video = videoFromRecord(record, true, true, directory, &names))
            videos.append(video);
    }
    return videos;
}

std::shared_ptr<KRVideo> KROfflineCacheManager::cachedVideoMatchingVideo(const KRVideo& video)
{
    const QString identity = video.feedIdentity();
    const QString bvid = video.canonicalBVID();
    const qint64 aid = video.resolvedAid() > 0 ? video.resolvedAid() : video.aid();
    const qint64 cid = video.cid();
    const KRVideoList cached = cachedVideos();
    if (cid >= 1) {
        for (const std::shared_ptr<KRVideo>& candidate : cached) {
            if (candidate->cid() == cid)
                return candidate;
        }
        return nullptr;
    }
    std::shared_ptr<KRVideo> match;
    int matches = 0;
    for (const std::shared_ptr<KRVideo>& candidate : cached) {
        const qint64 candidateAid = candidate->resolvedAid() > 0 ? candidate->resolvedAid() : candidate->aid();
        if ((aid > 0 && candidateAid == aid) || (!identity.isEmpty() && candidate->feedIdentity() == identity)
            || (!bvid.isEmpty() && candidate->canonicalBVID() == bvid)) {
            match = candidate;
            ++matches;
        }
    }
    return matches == 1 ? match : nullptr;
}

KROfflineRecord KROfflineCacheManager::recordForKey(const QString& key)
{
    if (key.isEmpty())
        return {};
    if (key == m_pendingKey && !m_pendingRecord.isEmpty())
        return m_pendingRecord;
    for (const QVariant& entry : mutableRecordsCleaningMissingFiles(false)) {
        const KROfflineRecord record = entry.toMap();
        if (recordText(record, QStringLiteral("key")) == key)
            return record;
    }
    return {};
}

KROfflineDASHPlayInfo KROfflineCacheManager::cachedDASHPlaybackInfoForVideo(const KRVideo& video)
{
    const std::shared_ptr<KRVideo> cached = cachedVideoMatchingVideo(video);
    const KROfflineRecord record = recordForKey(KROfflineVideoKey(cached ? cached.get() : &video));
    if (record.isEmpty() || !isDASHRecord(record) || !recordFilesPresent(record, cacheDirectory() + QLatin1Char('/')))
        return {};
    qint64 quality = KRLongLong(record.value(QStringLiteral("quality_value")));
    if (quality < 1)
        quality = 80;
    const QString videoURL = fileURL(recordText(record, QStringLiteral("dash_video_file_name")));
    const QString audioURL = fileURL(recordText(record, QStringLiteral("dash_audio_file_name")));
    const QVariantMap picture{{QStringLiteral("id"), quality},
                              {QStringLiteral("codecid"), 7},
                              {QStringLiteral("codecs"), QStringLiteral("avc1.640028")},
                              {QStringLiteral("base_url"), videoURL},
                              {QStringLiteral("baseUrl"), videoURL}};
    const QVariantMap sound{{QStringLiteral("id"), 30280},
                            {QStringLiteral("codecs"), QStringLiteral("mp4a.40.2")},
                            {QStringLiteral("base_url"), audioURL},
                            {QStringLiteral("baseUrl"), audioURL}};
    return {{QStringLiteral("quality"), quality},
            {QStringLiteral("dash"),
             QVariantMap{{QStringLiteral("video"), QVariantList{picture}}, {QStringLiteral("audio"), QVariantList{sound}}}}};
}

bool KROfflineCacheManager::isVideoCached(const KRVideo& video)
{
    const QString key = KROfflineVideoKey(&video);
    if (key.isEmpty())
        return false;
    for (const QVariant& entry : mutableRecordsCleaningMissingFiles(true)) {
        if (recordText(entry.toMap(), QStringLiteral("key")) == key)
            return true;
    }
    return false;
}

bool KROfflineCacheManager::isDownloading() const { return bool(m_connection); }

bool KROfflineCacheManager::isDownloadingVideo(const KRVideo& video) const
{
    const QString key = KROfflineVideoKey(&video);
    return isDownloading() && !key.isEmpty() && key == m_pendingKey;
}

QString KROfflineCacheManager::danmakuStateForVideo(const KRVideo& video)
{
    if (video.cid() >= 1 && KRDanmakuClient::sharedClient()->hasCachedDanmakusForCID(video.cid()))
        return QStringLiteral("cached");
    const QString state = recordText(recordForKey(KROfflineVideoKey(&video)), QStringLiteral("danmaku_state"));
    return state.isNull() ? QStringLiteral("pending") : state;
}

qint64 KROfflineCacheManager::cachedByteCount() const
{
    const QString index = indexPath();
    qint64 total = 0;
    // QDirIterator without FollowSymlinks does not descend into linked folders; lstat keeps
    // a link to a file from counting the file it points at.
    QDirIterator files(cacheDirectory(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next();
        struct stat info {};
        if (path == index || ::lstat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode))
            continue;
        total += qint64(info.st_size);
    }
    return total;
}

// ---------------------------------------------------------------------------------------
// Changes

void KROfflineCacheManager::postChangeNotification()
{
    platform::NotificationCenter::defaultCenter().post(KROfflineCacheDidChangeNotification, this);
}

void KROfflineCacheManager::prefetchDanmakuForCID(qint64 cid, const QString& key)
{
    if (cid < 1 || key.isEmpty())
        return;
    KRDanmakuClient::sharedClient()->cacheDanmakusForCID(
        cid, this, [this, key](const KRDanmakuList& danmakus, const KROptionalError& error) {
            updateDanmakuState(error ? QStringLiteral("failed") : QStringLiteral("cached"), danmakus.size(), key);
        });
}

void KROfflineCacheManager::updateDanmakuState(const QString& state, qint64 count, const QString& key)
{
    if (key.isEmpty())
        return;
    if (key == m_pendingKey && !m_pendingRecord.isEmpty()) {
        m_pendingRecord.insert(QStringLiteral("danmaku_state"), state);
        m_pendingRecord.insert(QStringLiteral("cached_danmaku_count"), count);
        postChangeNotification();
        return;
    }
    QVariantList records = mutableRecordsCleaningMissingFiles(true);
    for (QVariant& entry : records) {
        KROfflineRecord record = entry.toMap();
        if (recordText(record, QStringLiteral("key")) != key)
            continue;
        record.insert(QStringLiteral("danmaku_state"), state);
        record.insert(QStringLiteral("cached_danmaku_count"), count);
        entry = record;
        writeRecords(records);
        postChangeNotification();
        return;
    }
}

KROfflineRecord KROfflineCacheManager::pendingRecordForVideo(const KRVideo& video, const QString& key,
                                                             const QString& baseName, const QString& qualityTitle,
                                                             const QImage& cover)
{
    KROfflineRecord record;
    auto putText = [&](const char* name, const QString& value) {
        if (!value.isEmpty())
            record.insert(QLatin1String(name), plistText(value));
    };
    record.insert(QStringLiteral("key"), plistText(key));
    m_coverData.clear();
    if (!cover.isNull()) {
        QBuffer buffer(&m_coverData);
        buffer.open(QIODevice::WriteOnly);
        cover.save(&buffer, "JPEG", 82);
    }
    if (!m_coverData.isEmpty())
        record.insert(QStringLiteral("cover_file_name"), baseName + QStringLiteral(".jpg"));
    record.insert(QStringLiteral("quality_title"), qualityTitle.isEmpty() ? QStringLiteral("自动") : plistText(qualityTitle));
    record.insert(QStringLiteral("aid"), video.aid());
    record.insert(QStringLiteral("resolved_aid"), video.resolvedAid());
    putText("bvid", video.canonicalBVID());
    record.insert(QStringLiteral("cid"), video.cid());
    record.insert(QStringLiteral("tid"), qint64(video.tid()));
    record.insert(QStringLiteral("copyright"), qint64(video.copyright()));
    putText("tname", video.tname());
    putText("title", video.title());
    putText("cover_url", video.coverURL());
    putText("owner_name", video.ownerName());
    putText("owner_avatar_url", video.ownerAvatarURL());
    putText("duration_text", partDurationText(video));
    putText("summary", video.summary());
    record.insert(QStringLiteral("owner_mid"), video.ownerMID());
    record.insert(QStringLiteral("play_count"), video.playCount());
    record.insert(QStringLiteral("danmaku_count"), video.danmakuCount());
    record.insert(QStringLiteral("publish_timestamp"), video.publishTimestamp());
    record.insert(QStringLiteral("statistics_known"), video.statisticsKnown());
    record.insert(QStringLiteral("page_count"), qint64(video.pageCount()));
    record.insert(QStringLiteral("width"), qint64(video.width()));
    record.insert(QStringLiteral("height"), qint64(video.height()));
    // Parts keep what the service sent; values a property list cannot hold (nulls) stay out.
    QVariantList pages;
    for (const KRVideoPartInfo& page : video.pages()) {
        QVariantMap kept;
        for (auto it = page.constBegin(); it != page.constEnd(); ++it) {
            if (platform::PropertyList::isRepresentable(it.value()))
                kept.insert(it.key(), it.value());
        }
        pages.append(kept);
    }
    record.insert(QStringLiteral("pages"), pages);
    record.insert(QStringLiteral("created_at"), now().toUTC());
    record.insert(QStringLiteral("download_state"), QStringLiteral("downloading"));
    record.insert(QStringLiteral("danmaku_state"), QStringLiteral("syncing"));
    return record;
}

bool KROfflineCacheManager::commitPendingRecordWithByteCount(qint64 byteCount, QString* errorText)
{
    m_pendingRecord.insert(QStringLiteral("byte_count"), byteCount);
    m_pendingRecord.insert(QStringLiteral("download_state"), QStringLiteral("complete"));
    const QString coverName = recordText(m_pendingRecord, QStringLiteral("cover_file_name"));
    if (KROfflineIsPlainFileName(coverName) && !m_coverData.isEmpty())
        platform::writeFileAtomically(cacheDirectory() + QLatin1Char('/') + coverName, m_coverData);
    QVariantList records = mutableRecordsCleaningMissingFiles(false);
    for (qsizetype i = records.size() - 1; i >= 0; --i) {
        if (recordText(records.at(i).toMap(), QStringLiteral("key")) == m_pendingKey)
            records.removeAt(i);
    }
    records.prepend(m_pendingRecord);
    if (!writeRecords(records, errorText))
        return false;
    if (m_progressBlock)
        m_progressBlock(1.0f);
    return true;
}

void KROfflineCacheManager::removePendingDASHFiles()
{
    for (const DASHTransfer& transfer : m_pendingDASHTransfers) {
        if (!transfer.temporaryPath.isEmpty())
            QFile::remove(transfer.temporaryPath);
        if (!transfer.finalPath.isEmpty())
            QFile::remove(transfer.finalPath);
    }
}

// ---------------------------------------------------------------------------------------
// Deletion

bool KROfflineCacheManager::removeCachedVideo(const KRVideo& video, KROptionalError* error)
{
    const QString key = KROfflineVideoKey(&video);
    // The stored index, not a cleaning read: a record whose media is already gone must still
    // be found so that it can be deleted.
    KROfflineRecord found;
    if (!key.isEmpty()) {
        for (const QVariant& entry : storedIndex(indexPath())) {
            if (entry.typeId() == QMetaType::QVariantMap && recordText(entry.toMap(), QStringLiteral("key")) == key) {
                found = entry.toMap();
                break;
            }
        }
    }
    if (found.isEmpty()) {
        if (error)
            *error = offlineError(-20, QStringLiteral("未找到这条离线缓存"));
        return false;
    }
    const QString directory = cacheDirectory() + QLatin1Char('/');
    for (const char* name : {"file_name", "dash_video_file_name", "dash_audio_file_name"}) {
        const QString file = recordText(found, QLatin1String(name));
        if (!KROfflineIsPlainFileName(file))
            continue; // never a path out of the store
        if (::unlink(QFile::encodeName(directory + file).constData()) != 0 && errno != ENOENT) {
            const int code = errno;
            if (error)
                *error = KRError(QStringLiteral("NSPOSIXErrorDomain"), code, QString::fromLocal8Bit(std::strerror(code)));
            return false;
        }
    }
    const QString cover = recordText(found, QStringLiteral("cover_file_name"));
    if (KROfflineIsPlainFileName(cover))
        QFile::remove(directory + cover);
    KRDanmakuClient::sharedClient()->removeCachedDanmakusForCID(KRLongLong(found.value(QStringLiteral("cid"))));

    QVariantList records = mutableRecordsCleaningMissingFiles(false);
    records.removeIf([&](const QVariant& entry) { return recordText(entry.toMap(), QStringLiteral("key")) == key; });
    writeRecords(records);
    postChangeNotification();
    KRConsole::log(QStringLiteral("[KorvaneOffline] delete key=%1").arg(key));
    return true;
}

bool KROfflineCacheManager::removeAllCachedVideos(KROptionalError* error)
{
    if (isDownloading()) {
        if (error)
            *error = offlineError(-30, QStringLiteral("正在缓存视频，请先完成或取消当前任务"));
        return false;
    }
    const QVariantList raw = storedIndex(indexPath());
    for (const QVariant& entry : raw) {
        const qint64 cid = entry.typeId() == QMetaType::QVariantMap ? KRLongLong(entry.toMap().value(QStringLiteral("cid"))) : 0;
        if (cid >= 1)
            KRDanmakuClient::sharedClient()->removeCachedDanmakusForCID(cid);
    }
    QDir directory(cacheDirectory());
    if (directory.exists() && !directory.removeRecursively()) {
        if (error)
            *error = offlineError(-31, QStringLiteral("无法删除离线缓存目录"));
        return false;
    }
    writeRecords({});
    postChangeNotification();
    KRConsole::log(QStringLiteral("[KorvaneOffline] delete-all records=%1").arg(raw.size()));
    return true;
}
