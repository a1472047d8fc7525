#pragma once

#include "model/KRError.h"
#include "model/KRVideo.h"
#include "platform/device/BackgroundTask.h"

#include <QByteArray>
#include <QDateTime>
#include <QImage>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

class KROfflineBatch;
class QFile;

namespace platform {
class DownloadConnection;
struct DownloadResponse;
}

using KRVideoList = QList<std::shared_ptr<KRVideo>>;

// One entry of the offline index, in property-list types; see KROfflineCacheManager.
using KROfflineRecord = QVariantMap;
// The local play information of a cached DASH video, in the service's DASH shape.
using KROfflineDASHPlayInfo = QVariantMap;

inline const QString KROfflineCacheErrorDomain = QStringLiteral("KROfflineCache");
// Posted on the default centre with the manager as object whenever the store or the
// running download changed; observers read the store again.
inline const QString KROfflineCacheDidChangeNotification = QStringLiteral("KROfflineCacheDidChangeNotification");

// "<feed identity>|cid:<cid>", the identity falling back to "aid:<resolved aid or aid>", in
// the form the index stores (U+0000 left out, a lone surrogate as U+FFFD); null for no
// video, or a cid below 1.
QString KROfflineVideoKey(const KRVideo* video);
inline QString KROfflineVideoKey(const std::shared_ptr<KRVideo>& video) { return KROfflineVideoKey(video.get()); }
// "<FNV-1a of the key's UTF-8, 8 hex digits>-<seconds>": the stem of every file of a download.
QString KROfflineBaseName(const QString& key, qint64 startedAtUnixSeconds);
// The non-empty http and https addresses of `sources`, first occurrence kept, in order.
QStringList KROfflineProgressiveCandidates(const QStringList& sources);
// Fraction done: the current transfer's share, or for DASH 0.85 of it on the picture track
// (index 0) and 0.85 + 0.15 of it on the sound track.
float KROfflineDownloadProgress(bool dash, int transferIndex, qint64 received, qint64 expected);
// A stored file name is used only when it is one plain name inside the offline directory and
// none of the store's own entries (the index and its temporary copies, the danmaku folder,
// files being downloaded).
bool KROfflineIsPlainFileName(const QString& name);

// The videos downloaded for offline playback: the directory "KorvaneOffline" under Documents
// with "index.plist" (an array of committed records, newest first), each part's media files,
// its cover and, kept by the danmaku client, "Danmaku/<cid>.xml". It runs one download at a
// time, progressive (trying candidate addresses in turn) or DASH (picture, then sound), into
// a ".part" file that is synced and moved into place before the record is committed. There is
// no in-memory copy of the index: every query reads the file again. Main thread only.
class KROfflineCacheManager : public QObject {
public:
    using ProgressBlock = std::function<void(float fraction)>;
    using CompletionBlock = std::function<void(bool success, const QString& message)>;

    static KROfflineCacheManager* sharedManager();
    // Drops the manager (cancelling its download); the next use starts afresh, purge included.
    static void resetForTesting();
    // Where downloads take their start time from; an empty function restores the real clock.
    static void setClockForTesting(std::function<QDateTime()> clock);

    ~KROfflineCacheManager() override;

    QString cacheDirectory() const;
    QString indexPath() const;

    KRVideoList cachedVideos();
    KRVideoList offlineVideos();
    std::shared_ptr<KRVideo> cachedVideoMatchingVideo(const KRVideo& video);
    // Empty when none.
    KROfflineRecord recordForKey(const QString& key);
    KROfflineDASHPlayInfo cachedDASHPlaybackInfoForVideo(const KRVideo& video);
    bool isVideoCached(const KRVideo& video);
    bool isDownloading() const;
    bool isDownloadingVideo(const KRVideo& video) const;
    float currentDownloadProgress() const;
    qint64 currentDownloadReceivedBytes() const;
    qint64 currentDownloadExpectedBytes() const;
    // "cached", the record's own state ("syncing", "failed"), or "pending".
    QString danmakuStateForVideo(const KRVideo& video);
    // Bytes of every regular file under the directory except the index; links not followed.
    qint64 cachedByteCount() const;

    bool removeCachedVideo(const KRVideo& video, KROptionalError* error);
    bool removeAllCachedVideos(KROptionalError* error);

    // The download is the manager's: it goes on when its owner goes, and only the progress and
    // the completion, which are the owner's, stop being called.
    void cacheVideo(const std::shared_ptr<KRVideo>& video, const QString& sourceURLString, const QString& qualityTitle,
                    const QImage& cover, QObject* owner, ProgressBlock progress, CompletionBlock completion);
    void cacheVideo(const std::shared_ptr<KRVideo>& video, const QStringList& sources, const QString& qualityTitle,
                    const QImage& cover, QObject* owner, ProgressBlock progress, CompletionBlock completion);
    void cacheDASHVideo(const std::shared_ptr<KRVideo>& video, const QString& videoURLString,
                        const QString& audioURLString, int qualityValue, const QString& qualityTitle,
                        const QImage& cover, QObject* owner, ProgressBlock progress, CompletionBlock completion);
    void cancelCurrentDownload();

    // A batch of parts is kept here, not by the screen that began it, so that it runs to its last
    // part whoever is on screen. One at a time: `batch` is started and kept until it ends (or
    // the manager goes) when none runs, else it is let go unstarted and the answer is NO.
    bool runBatch(std::unique_ptr<KROfflineBatch> batch);
    // Null when none runs.
    KROfflineBatch* runningBatch() const { return m_batch.get(); }

private:
    KROfflineCacheManager();

    // Store
    // The names in the directory, listed once for a pass over many records.
    struct DirectoryNames;
    // `readFrom`: the directory's path for reading when the caller has it; `names`: its
    // listing, made here when not given.
    QVariantList mutableRecordsCleaningMissingFiles(bool writeBack, bool* readAnArray = nullptr, const QString& readFrom = {},
                                                    const DirectoryNames* names = nullptr);
    bool writeRecords(const QVariantList& records, QString* errorText = nullptr);
    // Whether the record's media are in `directory` (ending in "/"); `names`, when given, is
    // its listing.
    static bool recordFilesPresent(const KROfflineRecord& record, const QString& directory, const DirectoryNames* names = nullptr);
    // `filesChecked`: the record comes from a cleaning read of `directory` (the directory's
    // path for reading), so its media were just found there; `names`: that read's listing.
    std::shared_ptr<KRVideo> videoFromRecord(const KROfflineRecord& record, bool requireMovie, bool filesChecked = false,
                                             const QString& directory = {}, const DirectoryNames* names = nullptr) const;
    QString fileURL(const QString& name) const;
    // The directory's path with a trailing slash, for reading: nothing is created here (finding
    // the documents folder may create that).
    QString directoryPathForReading() const;
    void purgeUnreferencedFiles(const QVariantList& keptRecords);
    void postChangeNotification();
    void prefetchDanmakuForCID(qint64 cid, const QString& key);
    void updateDanmakuState(const QString& state, qint64 count, const QString& key);
    KROfflineRecord pendingRecordForVideo(const KRVideo& video, const QString& key, const QString& baseName,
                                          const QString& qualityTitle, const QImage& cover);
    bool commitPendingRecordWithByteCount(qint64 byteCount, QString* errorText);
    void removePendingDASHFiles();

    // Download
    bool refuseIfBusyOrCached(const KRVideo& video, const QString& key, const CompletionBlock& completion);
    void beginDownload(const QString& key, ProgressBlock progress, CompletionBlock completion);
    bool openTemporaryFile(const QString& temporaryPath);
    bool sendRequest(const QString& url);
    bool startPendingProgressiveTransferAtIndex(int index);
    bool retryPendingProgressiveTransferWithReason(const QString& reason);
    bool startPendingDASHTransferAtIndex(int index);
    void didReceiveResponse(const platform::DownloadResponse& response);
    void didReceiveData(const QByteArray& data);
    void didFailWithError(const platform::Error& error);
    void didFinishLoading();
    void finishTrack();
    void abandonCommittedFiles(const QString& writeError);
    void failDownloadWithMessage(const QString& message);
    void finishDownloadSuccess(bool success, const QString& message);
    void beginBackgroundTask();
    void endBackgroundTask();
    QDateTime now() const;

    struct DASHTransfer {
        QString role;
        QString url;
        QString fileName;
        QString temporaryPath;
        QString finalPath;
        qint64 announcedBytes = 0;
    };

    std::unique_ptr<platform::DownloadConnection> m_connection;
    std::unique_ptr<QFile> m_file;
    KROfflineRecord m_pendingRecord;
    QString m_pendingKey;
    QString m_temporaryPath;
    QString m_finalPath;
    QStringList m_pendingProgressiveURLs;
    int m_pendingProgressiveURLIndex = 0;
    QList<DASHTransfer> m_pendingDASHTransfers;
    int m_pendingDASHTransferIndex = 0;
    qint64 m_completedDASHBytes = 0;
    qint64 m_knownDASHExpectedBytes = 0;
    QByteArray m_coverData;
    qint64 m_expectedLength = 0;
    qint64 m_receivedLength = 0;
    qint64 m_lastReportedBytes = 0;
    qint64 m_writeBackStart = 0;
    int m_lastReportedPercent = -5;
    ProgressBlock m_progressBlock;
    CompletionBlock m_completionBlock;
    platform::BackgroundTask::Identifier m_backgroundTask = platform::BackgroundTask::invalid;
    std::unique_ptr<KROfflineBatch> m_batch;
};
