#pragma once

#include "model/KRError.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <mutex>

// Posted on the main thread after every clear, object the manager.
extern const QString KRTransientCacheDidChangeNotification;
extern const QString KRTransientCacheErrorDomain;

// The "Korvane" folder under Caches: response cache, image disk cache, network danmaku cache.
QString KRTransientCacheOwnedRoot();
// Every entry directly inside it (empty when it cannot be listed).
QStringList KRTransientCacheRemovablePaths();

// Measures and clears the browsing cache. Measuring and clearing are synchronous, for a
// worker; one never overlaps the other.
class KRTransientCacheManager : public QObject {
    Q_OBJECT
public:
    using Completion = std::function<void(bool success, const KROptionalError& error)>;

    static KRTransientCacheManager* sharedManager();

    qint64 cachedByteCount();
    // Removes every entry it can; a failure is reported for the first entry that stayed.
    bool clearCachedData(KROptionalError* error = nullptr);
    // The clear on a global queue, then on the main thread the notification and the completion
    // (when given, while its owner lives).
    void clearCachedDataWithCompletion(QObject* owner, Completion completion);

    // Tests (which run as root, where nothing resists removal): the removal of an entry of
    // this name fails with this POSIX code. An empty name ends it.
    void setRemovalFailureForTesting(const QString& entryName, int code);

private:
    KRTransientCacheManager() = default;

    std::mutex m_mutex;
    QString m_failingEntry;
    int m_failingCode = 0;
};
