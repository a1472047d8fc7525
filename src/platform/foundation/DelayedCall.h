#pragma once

#include "platform/foundation/MainClock.h"

#include <QString>

#include <functional>
#include <map>

namespace platform {

// Named one-shot calls on the main thread, owned by one object and armed on the MainClock.
// Scheduling a name that is already pending replaces it (re-arming); destroying the owner
// cancels everything. A call is no longer "scheduled" while it runs, so it may schedule its
// own name again.
class DelayedCalls {
public:
    DelayedCalls();
    ~DelayedCalls();
    DelayedCalls(const DelayedCalls&) = delete;
    DelayedCalls& operator=(const DelayedCalls&) = delete;

    void schedule(const QString& name, int milliseconds, std::function<void()> fn);
    void cancel(const QString& name);
    void cancelAll();
    bool isScheduled(const QString& name) const;

private:
    std::map<QString, MainClock::CallId> m_calls;
};

} // namespace platform
