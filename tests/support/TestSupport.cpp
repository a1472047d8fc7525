#include "support/TestSupport.h"

#include "platform/foundation/Directories.h"
#include "platform/foundation/Dispatch.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace testsupport {
namespace {

std::unique_ptr<QTemporaryDir>& currentHome()
{
    static std::unique_ptr<QTemporaryDir> home;
    return home;
}

std::vector<std::function<void()>>& startHooks()
{
    static std::vector<std::function<void()>> hooks;
    return hooks;
}

} // namespace

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    QDeadlineTimer deadline(timeout);
    // A short ticking timer wakes the loop so conditions set by worker threads without
    // posting an event are still seen, without spinning the CPU the workers need.
    QTimer tick;
    tick.start(2);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void runOnWorkerThread(const std::function<void()>& body)
{
    std::promise<void> finished;
    platform::dispatchGlobal([&] {
        body();
        finished.set_value();
    });
    finished.get_future().wait();
}

QString testHome() { return currentHome() ? currentHome()->path() : QString(); }

bool onEachTestStart(std::function<void()> fn)
{
    startHooks().push_back(std::move(fn));
    return true;
}

void beginFreshHome()
{
    currentHome() = std::make_unique<QTemporaryDir>();
    qputenv("KORVANE_HOME", currentHome()->path().toUtf8());
    platform::Directories::homeVariablesChanged();
    for (auto& hook : startHooks())
        hook();
}

int runInChild(const std::function<void()>& body)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        struct rlimit noCore {0, 0};
        ::setrlimit(RLIMIT_CORE, &noCore);
        body();
        ::_exit(0);
    }
    int status = 0;
    if (!waitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, std::chrono::seconds(30))) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        ADD_FAILURE() << "the child process did not end";
    }
    return status;
}

} // namespace testsupport
