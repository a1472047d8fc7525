#include "support/BodyGate.h"

#include <algorithm>
#include <chrono>

namespace testsupport {

void BodyGate::openTo(qint64 bytes)
{
    {
        std::lock_guard lock(m_mutex);
        m_openTo = std::max(m_openTo, bytes);
    }
    m_opened.notify_all();
}

qint64 BodyGate::openedTo() const
{
    std::lock_guard lock(m_mutex);
    return m_openTo;
}

bool BodyGate::waitFor(qint64 offset, const std::function<bool()>& clientStillThere)
{
    for (;;) {
        {
            std::unique_lock lock(m_mutex);
            // Woken at once by openTo; the time limit only bounds how late a departed
            // client is noticed.
            if (m_opened.wait_for(lock, std::chrono::milliseconds(20), [&] { return offset < m_openTo; }))
                return true;
        }
        if (!clientStillThere())
            return false;
    }
}

} // namespace testsupport
