#pragma once

#include <functional>

class QObject;

namespace platform {

// Queues `fn` on the main thread's event loop; it always runs later, even when called from
// the main thread.
void dispatchMain(std::function<void()> fn);

// Runs `fn` on the main thread and waits for it; inline when already there. Never call it
// from a worker the main thread is waiting for.
void dispatchMainSync(std::function<void()> fn);

bool isMainThread();

// Debug builds: ends the process with a message naming `where` when called off the main
// thread. For the mutators of state that workers only read; release builds check nothing.
void assertMainThread(const char* where);

// Runs `fn` on a background worker thread.
void dispatchGlobal(std::function<void()> fn);

// Runs `fn` on the main thread after `milliseconds` of the MainClock; dropped when `context` has been
// destroyed by then. A null context means the call has no owner and always runs.
void dispatchAfter(int milliseconds, QObject* context, std::function<void()> fn);

} // namespace platform
