#pragma once

#include <QtGlobal>

#include <functional>

namespace platform {

// The one clock of the main thread's delayed work. Delayed calls, repeating timers and
// dispatchAfter are armed on it. Normally each armed call waits on a timer of the event loop;
// in manual mode (tests, screenshots) nothing is due until advanceForTesting moves the clock,
// so no test waits on wall time for a delayed step. Main thread only, except now().
class MainClock {
public:
    using CallId = quint64;

    // Monotonic seconds; in manual mode the clock's own time, which moves only when advanced.
    static double now();

    // Entering manual mode carries every pending call over with the time it has left; leaving
    // it hands them back to the event loop the same way. Steppers registered with the clock
    // follow the mode.
    static void setManualForTesting(bool manual);
    static bool isManual();

    // Moves the clock by `seconds`, running every call that falls due on the way in time order
    // (calls due at the same moment in the order they were armed). A call armed by a running
    // call that falls within the window runs in the same advance. Steppers move along with it,
    // up to each call's moment before the call runs.
    static void advanceForTesting(double seconds);

    // Arms `fn` to run once, `milliseconds` from now (negative counts as 0), never inline.
    // The building block of the platform's timers; callers keep the id to cancel. A call with
    // no delay runs on the next turn of the event loop in manual mode too: it waits for no time.
    static CallId callAfter(int milliseconds, std::function<void()> fn);
    static void cancel(CallId id);
    static bool isPending(CallId id);
    static int pendingCount();

    // A clock of a higher layer (the kit's animation clock) that follows this one: told of the
    // mode, and moved by `advance(seconds)` while the main clock is advanced in manual mode.
    // Registration lasts for the process.
    static void registerStepper(std::function<void(bool manual)> modeChanged,
                                std::function<void(double seconds)> advance);
};

} // namespace platform
