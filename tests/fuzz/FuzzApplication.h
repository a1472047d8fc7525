#pragma once

#include <QCoreApplication>

#include <functional>

namespace fuzz {

// The application object targets that reach the main thread's machinery need: made on the
// first input (the thread of the fuzzing loop is the main thread) and kept for the process.
inline QCoreApplication& application()
{
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    return *app;
}

// Runs the main thread's events until `done` holds; false when they ran out first (nothing
// left that could make it hold).
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
