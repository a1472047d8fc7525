#include "platform/foundation/RepeatingTimer.h"

#include <algorithm>

namespace platform {

RepeatingTimer::RepeatingTimer() = default;

RepeatingTimer::~RepeatingTimer() { MainClock::cancel(m_call); }

void RepeatingTimer::start(int intervalMs, std::function<void()> fn)
{
    MainClock::cancel(m_call);
    m_interval = std::max(0, intervalMs);
    m_callback = std::make_shared<std::function<void()>>(std::move(fn));
    arm();
}

void RepeatingTimer::arm()
{
    // A zero interval means "every turn of the loop"; a manual clock has no turns, and one
    // millisecond keeps an advance from spinning on the same moment for ever.
    const int interval = m_interval == 0 && MainClock::isManual() ? 1 : m_interval;
    m_call = MainClock::callAfter(interval, [this] {
        // The next tick is armed first, so the callback sees the timer active and may stop it.
        arm();
        auto callback = m_callback; // held: the callback may restart or destroy this timer
        if (callback && *callback)
            (*callback)();
    });
}

void RepeatingTimer::stop()
{
    MainClock::cancel(m_call);
    m_call = 0;
    m_callback.reset();
}

bool RepeatingTimer::isActive() const { return MainClock::isPending(m_call); }

int RepeatingTimer::interval() const { return m_interval; }

} // namespace platform
