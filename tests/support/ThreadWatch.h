#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>

namespace testsupport {

// Tells whether a call blocks its thread without timing it. A test makes the call on one
// thread while what the call must wait for is held back, and from another thread waits until
// that thread has either come back from the call or fallen asleep inside it (on a lock, a
// condition variable, a future); only then does it let the held-back work go. A call that
// waits as it should is seen asleep and then sees the work finished; one that does not wait
// comes back while the work is still held, however loaded the machine is.
class ThreadWatch {
public:
    // Watches the calling thread.
    ThreadWatch();

    // Whether the thread sleeps in the kernel now; false while it runs or is ready to run, and
    // once it has ended.
    bool asleep() const;

    // Called on another thread: waits until `returned` holds or the thread is asleep. False when
    // neither happened within `timeout` (the calling test fails).
    bool waitUntilAsleepOr(const std::function<bool()>& returned,
                           std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;

private:
    pid_t m_thread;
};

// Makes `call` on this thread while what it must wait for is held back; `release` lets that go
// from another thread once this thread is asleep inside the call or back from it. Returns when
// both are done; false (the calling test fails) when the call neither slept nor came back in
// time, `release` having run all the same.
bool callWhileHeld(const std::function<void()>& call, const std::function<void()>& release);

} // namespace testsupport
