#pragma once

#include "platform/foundation/BinaryPropertyListWriter.h"
#include "platform/foundation/OperationQueue.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QVariantMap>

#include <memory>
#include <mutex>
#include <optional>

class KRVideo;

// The watch history kept on the device: one record per watched part (where playback
// stopped, the part's length, when, finished or not, offline or not), in the service's own
// JSON shape so the normaliser reads records back as videos. At most 500 records, the most
// recently watched, in "LocalHistory.plist" (a binary property list) under Application
// Support/Korvane, written whole and atomically after every change. The writing happens on a
// serial worker: changes made while a save runs are gathered into one more save of the
// latest state, and pending saves reach the disk before the application object or the
// process goes. Thread-safe (one lock for each whole operation).
class KRLocalHistoryStore {
public:
    static constexpr int maximumRecordCount = 500;

    static KRLocalHistoryStore& sharedStore();
    ~KRLocalHistoryStore();  // flushes pending saves

    KRLocalHistoryStore(const KRLocalHistoryStore&) = delete;
    KRLocalHistoryStore& operator=(const KRLocalHistoryStore&) = delete;

    // Writes or replaces the record of the video's part and saves. Negative, infinite or
    // undefined times count as 0; a completed part keeps no position.
    void recordVideo(const std::shared_ptr<KRVideo>& video, double progress, double duration, bool completed,
                     bool offline);
    // A copy of the part's record; none for no video or no record.
    std::optional<QVariantMap> resumeRecordForVideo(const std::shared_ptr<KRVideo>& video) const;
    // Every record as a video (local history flag and history times set), newest first.
    QList<std::shared_ptr<KRVideo>> historyVideos() const;
    // The record fields the video itself gives, without the five history keys. Only
    // property-list values: nulls and other values a property list cannot hold are left out.
    QVariantMap metadataForVideo(const KRVideo& video, bool offline) const;

    QString storePath() const;
    int recordCount() const;

    // Blocks until every change made so far is on disk (or its write has failed). Not from
    // the store's own save worker.
    void flushPendingSaves();
    // At exit: the shared store's pending saves, without creating the store when nothing used it.
    static void flushSharedStoreIfUsed();

    // Flushes pending saves, then re-reads the file under the current home. For tests.
    void resetForTesting();

private:
    KRLocalHistoryStore();
    void loadLocked();
    void trimAndScheduleSave();  // called with the lock held
    void saveLatest();           // on the save worker

    mutable std::mutex m_lock;
    QVariantMap m_records;  // identity → record
    QString m_storePath;
    bool m_saveQueued = false;  // a save not yet started will write the latest records
    // Used by the save worker alone, one save at a time: a save of a full history builds about
    // a megabyte of tables and output, and memory kept from the last save costs no fresh pages.
    platform::PropertyList::BinaryPropertyListWriter m_saveWriter;
    platform::OperationQueue m_saveQueue;  // declared last: gone first, so no save outlives the records
};

// "<feed identity, or url:<address>, or title:<title>>|cid:<cid>"; each part has its own.
QString KRLocalHistoryIdentity(const KRVideo& video);
