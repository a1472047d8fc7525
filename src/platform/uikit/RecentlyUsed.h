#pragma once

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

namespace platform::uikit {

// A few entries kept in the order they were last used: one found moves to the back, and the
// front one goes when room is needed. Not locked: each list is used by one thread.
template <typename Entry>
class RecentlyUsed {
public:
    explicit RecentlyUsed(std::size_t capacity) : m_capacity(capacity) {}

    // The entry `matches` accepts, now the last used; null when none does.
    template <typename Match>
    const Entry* find(Match&& matches)
    {
        const auto found = std::find_if(m_entries.begin(), m_entries.end(), std::forward<Match>(matches));
        if (found == m_entries.end())
            return nullptr;
        std::rotate(found, found + 1, m_entries.end());
        return &m_entries.back();
    }

    void keep(Entry entry)
    {
        if (m_entries.size() >= m_capacity)
            m_entries.erase(m_entries.begin());
        m_entries.push_back(std::move(entry));
    }

private:
    std::size_t m_capacity;
    std::vector<Entry> m_entries; // the last used last
};

} // namespace platform::uikit
