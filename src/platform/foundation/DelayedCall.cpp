#include "platform/foundation/DelayedCall.h"

#include <QTimer>

namespace platform {

DelayedCalls::DelayedCalls() = default;

DelayedCalls::~DelayedCalls() = default;

void DelayedCalls::schedule(const QString& name, int milliseconds, std::function<void()> fn)
{
    auto timer = std::make_unique<QTimer>();
    timer->setSingleShot(true);
    QTimer* raw = timer.get();
    QObject::connect(raw, &QTimer::timeout, raw, [this, name, raw, fn = std::move(fn)]() mutable {
        // Take the call out before running it: it may re-arm its own name, cancel others or
        // destroy this object, none of which may touch the function being run.
        auto it = m_timers.find(name);
        if (it == m_timers.end() || it->second.get() != raw)
            return;
        std::unique_ptr<QTimer> firing = std::move(it->second);
        m_timers.erase(it);
        std::function<void()> call = std::move(fn);
        firing.release()->deleteLater();
        call();
    });
    m_timers[name] = std::move(timer);  // replaces (and so stops) an earlier call of this name
    raw->start(std::max(0, milliseconds));
}

void DelayedCalls::cancel(const QString& name) { m_timers.erase(name); }

void DelayedCalls::cancelAll() { m_timers.clear(); }

bool DelayedCalls::isScheduled(const QString& name) const { return m_timers.count(name) != 0; }

} // namespace platform
