#pragma once

#include <QHash>
#include <QImage>
#include <QString>

#include <list>
#include <mutex>
#include <optional>

// Decoded pictures by final address, bounded by a count and a total cost (the bitmap's bytes),
// the least recently used going first. Thread-safe: its lock is held only for one lookup,
// insertion or removal, never across I/O.
class KRImageMemoryCache {
public:
    KRImageMemoryCache(int countLimit, qint64 totalCostLimit);

    std::optional<QImage> object(const QString& key);
    void setObject(const QString& key, const QImage& image);
    void removeAllObjects();

    int count() const;
    qint64 totalCost() const;

    // What an entry costs: bytes per row times height, 0 without a bitmap.
    static qint64 costOf(const QImage& image);

private:
    struct Entry {
        QString key;
        QImage image;
        qint64 cost;
    };
    void evictLocked();

    const int m_countLimit;
    const qint64 m_costLimit;
    mutable std::mutex m_mutex;
    std::list<Entry> m_entries; // most recently used first
    QHash<QString, std::list<Entry>::iterator> m_index;
    qint64 m_totalCost = 0;
};
