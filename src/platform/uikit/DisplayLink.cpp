#include "platform/uikit/DisplayLink.h"

namespace platform::uikit {

DisplayLink::DisplayLink(QObject* owner, std::function<void()> tick) : m_owner(owner), m_tick(std::move(tick)) {}

DisplayLink::~DisplayLink()
{
    stop();
}

void DisplayLink::start()
{
    if (isRunning())
        return;
    m_frames = 0;
    const AnimationClock::Id id = AnimationClock::run(m_owner, [this](double) {
        if (++m_frames % quint64(m_interval) != 0)
            return true;
        m_timestamp = AnimationClock::now();
        const AnimationClock::Id running = m_id;
        m_tick();
        // The tick may have stopped this link (or started a new run).
        return m_id == running && m_id != 0;
    });
    m_id = id;
}

void DisplayLink::stop()
{
    if (m_id)
        AnimationClock::cancel(m_id);
    m_id = 0;
}

bool DisplayLink::isRunning() const
{
    return m_id != 0 && AnimationClock::isRunning(m_id);
}

} // namespace platform::uikit
