#pragma once

#include "platform/foundation/MainClock.h"

#include <functional>
#include <memory>

namespace platform {

// A repeating call on the main thread, armed on the MainClock. The callback may stop,
// restart or destroy the timer.
class RepeatingTimer {
public:
    RepeatingTimer();
    ~RepeatingTimer();
    RepeatingTimer(const RepeatingTimer&) = delete;
    RepeatingTimer& operator=(const RepeatingTimer&) = delete;

    // (Re)starts with a new interval and callback.
    void start(int intervalMs, std::function<void()> fn);
    void stop();
    bool isActive() const;
    int interval() const;

private:
    void arm();

    int m_interval = 0;
    MainClock::CallId m_call = 0;
    std::shared_ptr<std::function<void()>> m_callback;
};

} // namespace platform
