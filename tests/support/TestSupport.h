#pragma once

#include <QString>

#include <chrono>
#include <functional>

namespace testsupport {

// Runs the Qt event loop until `condition` holds; returns false (and the caller's
// assertion fails) once `timeout` has passed. Never sleeps blindly.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Runs `body` on one of the platform's worker threads (whose stacks are smaller than the main
// thread's can be) and returns once it has finished. For work that is pure computation: the
// main thread's event loop does not run meanwhile.
void runOnWorkerThread(const std::function<void()>& body);

// The sandbox root this test runs in (a fresh temporary folder per test).
QString testHome();

// Runs `fn` whenever a test starts, before its body: lets a test file reset a process-wide
// object so tests stay independent when run in one process. Returns true, so that a file can
// register while it initialises: `const bool reset = onEachTestStart(...);`.
bool onEachTestStart(std::function<void()> fn);

// Runs `body` in a forked child that leaves no core file and ends with `_exit(0)` unless
// the body ends it otherwise; returns the child's wait status. A child still running after
// 30 s is killed and the calling test fails.
int runInChild(const std::function<void()>& body);

// Called by the test main before each test: a new temporary KORVANE_HOME, then the hooks.
void beginFreshHome();

} // namespace testsupport

#define KR_WAIT_UNTIL(cond) ASSERT_TRUE(::testsupport::waitUntil([&] { return bool(cond); })) << "timed out waiting for: " #cond
