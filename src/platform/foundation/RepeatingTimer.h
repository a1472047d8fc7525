#pragma once

#include <functional>
#include <memory>

class QTimer;

namespace platform {

// A repeating call on the main thread. The callback may stop or destroy the timer.
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
    std::unique_ptr<QTimer> m_timer;
    std::shared_ptr<std::function<void()>> m_callback;
};

} // namespace platform
