#pragma once

#include "service/KRServiceShutdown.h"

#include <QCoreApplication>

#include <cstdlib>
#include <functional>

namespace fuzz {

// The application object targets that reach the main thread's machinery need: made on the
// first input (the thread of the fuzzing loop is the main thread) and kept for the process;
// the services stop at exit, as the app stops them before its application object goes.
inline QCoreApplication& application()
{
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = [] {
        auto* made = new QCoreApplication(argc, argv);
        // Workers still running (a danmaku prefetch) are stopped before static destruction.
        std::atexit([] { KRShutDownServices(); });
        return made;
    }();
    return *app;
}

// Runs the main thread's events until `done` holds; false when it still does not after
// `maximumRounds` rounds of them (each ends at an event or after 50 ms).
inline bool runUntil(const std::function<bool()>& done, int maximumRounds = 1000000)
{
    for (int round = 0; !done(); ++round) {
        if (round >= maximumRounds)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::AllEvents, 50);
    }
    return true;
}

} // namespace fuzz
