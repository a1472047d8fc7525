#include "platform/foundation/DelayedCall.h"

namespace platform {

DelayedCalls::DelayedCalls() = default;

DelayedCalls::~DelayedCalls() { cancelAll(); }

void DelayedCalls::schedule(const QString& name, int milliseconds, std::function<void()> fn)
{
    cancel(name);
    m_calls[name] = MainClock::callAfter(milliseconds, [this, name, fn = std::move(fn)] {
        // Out of the table before it runs: it may re-arm its own name or destroy this object.
        m_calls.erase(name);
        fn();
    });
}

void DelayedCalls::cancel(const QString& name)
{
    auto it = m_calls.find(name);
    if (it == m_calls.end())
        return;
    const MainClock::CallId id = it->second;
    m_calls.erase(it);
    MainClock::cancel(id);
}

void DelayedCalls::cancelAll()
{
    std::map<QString, MainClock::CallId> calls;
    calls.swap(m_calls);
    for (const auto& [name, id] : calls)
        MainClock::cancel(id);
}

bool DelayedCalls::isScheduled(const QString& name) const { return m_calls.count(name) != 0; }

} // namespace platform
