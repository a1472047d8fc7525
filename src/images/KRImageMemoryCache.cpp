#include "images/KRImageMemoryCache.h"

KRImageMemoryCache::KRImageMemoryCache(int countLimit, qint64 totalCostLimit)
    : m_countLimit(countLimit)
    , m_costLimit(totalCostLimit)
{
}

std::optional<QImage> KRImageMemoryCache::object(const QString& key)
{
    std::lock_guard lock(m_mutex);
    const auto found = m_index.constFind(key);
    if (found == m_index.constEnd())
        return std::nullopt;
    m_entries.splice(m_entries.begin(), m_entries, found.value());
    return m_entries.front().image;
}

void KRImageMemoryCache::setObject(const QString& key, const QImage& image)
{
    const qint64 cost = costOf(image);
    std::lock_guard lock(m_mutex);
    const auto found = m_index.constFind(key);
    if (found != m_index.constEnd()) {
        m_totalCost -= found.value()->cost;
        m_entries.erase(found.value());
        m_index.remove(key);
    }
    if (cost > m_costLimit)
        return; // it would push out everything else and still not fit
    m_entries.push_front(Entry{key, image, cost});
    m_index.insert(key, m_entries.begin());
    m_totalCost += cost;
    evictLocked();
}

void KRImageMemoryCache::removeAllObjects()
{
    std::lock_guard lock(m_mutex);
    m_entries.clear();
    m_index.clear();
    m_totalCost = 0;
}

int KRImageMemoryCache::count() const
{
    std::lock_guard lock(m_mutex);
    return int(m_entries.size());
}

qint64 KRImageMemoryCache::totalCost() const
{
    std::lock_guard lock(m_mutex);
    return m_totalCost;
}

qint64 KRImageMemoryCache::costOf(const QImage& image)
{
    return image.isNull() ? 0 : qint64(image.bytesPerLine()) * image.height();
}

void KRImageMemoryCache::evictLocked()
{
    while (!m_entries.empty() && (int(m_entries.size()) > m_countLimit || m_totalCost > m_costLimit)) {
        const Entry& oldest = m_entries.back();
        m_totalCost -= oldest.cost;
        m_index.remove(oldest.key);
        m_entries.pop_back();
    }
}
