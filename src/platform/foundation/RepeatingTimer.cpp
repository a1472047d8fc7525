#include "platform/foundation/RepeatingTimer.h"

#include <QTimer>

namespace platform {

RepeatingTimer::RepeatingTimer() = default;

RepeatingTimer::~RepeatingTimer() = default;

void RepeatingTimer::start(int intervalMs, std::function<void()> fn)
{
    m_callback = std::make_shared<std::function<void()>>(std::move(fn));
    if (!m_timer) {
        m_timer = std::make_unique<QTimer>();
        QObject::connect(m_timer.get(), &QTimer::timeout, m_timer.get(), [this] {
            // Hold the callback: it may stop, restart or destroy this timer while it runs.
            auto callback = m_callback;
            if (callback && *callback)
                (*callback)();
        });
    }
    m_timer->start(std::max(0, intervalMs));
}

void RepeatingTimer::stop()
{
    if (m_timer)
        m_timer->stop();
    m_callback.reset();
}

bool RepeatingTimer::isActive() const { return m_timer && m_timer->isActive(); }

int RepeatingTimer::interval() const { return m_timer ? m_timer->interval() : 0; }

} // namespace platform
