#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <vector>

class QTimer;

namespace platform::uikit {

// The one clock every animation of the kit runs from. Normally a frame timer on the main
// loop advances it; in manual mode (tests, screenshots) nothing moves until advance() is
// called, so no test ever waits on wall time. It follows platform::MainClock: the main
// clock's manual mode puts it in manual mode too, and advancing the main clock steps it
// (advance() alone moves animations only, not delayed calls).
class AnimationClock {
public:
    using Id = quint64;
    // `step` gets the progress 0…1 (eased by the caller if it likes); `done` gets whether the
    // animation ran to its end (false when cancelled). A duration of 0 or less completes at once.
    // An animation whose `owner` has gone is dropped without further calls.
    static Id animate(QObject* owner, double seconds, std::function<void(double)> step,
                      std::function<void(bool)> done = {});
    // Calls `tick` with the elapsed seconds each frame until it returns false.
    static Id run(QObject* owner, std::function<bool(double)> tick);
    static void cancel(Id id);
    static bool isRunning(Id id);
    static int runningCount();

    static void setManual(bool manual);
    static bool isManual();
    // Moves the clock by `seconds`, in frame-sized steps, running every animation due.
    static void advance(double seconds);
    // Advances until nothing runs any more (bounded).
    static void finishAll();
    // While held, advancing the main clock runs its delayed calls but moves no animation, as
    // when frames do not come; advance() still moves them. Tests only.
    static void setFramesHeldForTesting(bool held);
    static double now();

private:
    struct Entry {
        Id id;
        QPointer<QObject> owner;
        bool hasOwner;
        double start;
        std::function<bool(double)> tick;
        std::function<void(bool)> done;
    };
    static AnimationClock& shared();
    AnimationClock();
    void step(double dt);
    void ensureTimer();

    double m_time = 0;
    Id m_nextId = 1;
    bool m_manual = false;
    bool m_framesHeld = false;
    std::vector<std::shared_ptr<Entry>> m_entries;
    std::unique_ptr<QTimer> m_timer;
    QElapsedTimer m_wall;
    qint64 m_lastFrameMs = -1;
};

} // namespace platform::uikit
