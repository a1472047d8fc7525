#pragma once

#include <QString>

#include <functional>

namespace platform {

// The phone's background tasks: work that asks to go on for a while after the application
// leaves the foreground, with a handler the system calls when that time is up. A desktop
// process is never suspended, so a task only ends by end() or, in tests, by
// expireAllForTesting(). Main thread only.
class BackgroundTask {
public:
    using Identifier = qint64;
    static constexpr Identifier invalid = 0;

    BackgroundTask() = delete;

    // A new task; `expirationHandler` (may be empty) runs at most once, on the main thread,
    // should the task expire while it is still open. The handler is expected to end the task.
    static Identifier begin(const QString& name, std::function<void()> expirationHandler);
    // Ends an open task; unknown or invalid identifiers are ignored.
    static void end(Identifier identifier);

    static int openTaskCount();
    // Expires every open task: its handler runs, then the task is ended if the handler did not.
    static void expireAllForTesting();
};

} // namespace platform
