#pragma once

#include "platform/uikit/AnimationClock.h"

#include <QObject>

#include <functional>

namespace platform::uikit {

// A per-frame callback on the kit's one clock, every frame or every second frame. Its time
// is the clock's, so tests and screenshots step it by hand (AnimationClock manual mode).
class DisplayLink {
public:
    DisplayLink(QObject* owner, std::function<void()> tick);
    ~DisplayLink();
    DisplayLink(const DisplayLink&) = delete;
    DisplayLink& operator=(const DisplayLink&) = delete;

    int frameInterval() const { return m_interval; }
    void setFrameInterval(int interval) { m_interval = interval >= 2 ? 2 : 1; }
    void start();
    void stop();
    bool isRunning() const;
    // The clock's time at the last tick.
    double timestamp() const { return m_timestamp; }

private:
    QObject* m_owner;
    std::function<void()> m_tick;
    int m_interval = 1;
    AnimationClock::Id m_id = 0;
    quint64 m_frames = 0;
    double m_timestamp = 0;
};

} // namespace platform::uikit
