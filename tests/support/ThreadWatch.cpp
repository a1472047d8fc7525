#include "support/ThreadWatch.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

namespace testsupport {

ThreadWatch::ThreadWatch()
    : m_thread(pid_t(::syscall(SYS_gettid)))
{
}

bool ThreadWatch::asleep() const
{
    // "tid (name) S …": the name may hold spaces and parentheses, the state follows the last one.
    const std::string path = "/proc/self/task/" + std::to_string(m_thread) + "/stat";
    const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0)
        return false;
    char text[512];
    const ssize_t length = ::read(file, text, sizeof text - 1);
    ::close(file);
    if (length <= 0)
        return false;
    text[length] = '\0';
    const char* nameEnd = std::strrchr(text, ')');
    return nameEnd && nameEnd[1] == ' ' && nameEnd[2] == 'S';
}

bool ThreadWatch::waitUntilAsleepOr(const std::function<bool()>& returned, std::chrono::milliseconds timeout) const
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!returned() && !asleep()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::yield();
    }
    return true;
}

bool callWhileHeld(const std::function<void()>& call, const std::function<void()>& release)
{
    const ThreadWatch caller;
    std::atomic_bool calling{false}, returned{false}, seen{false};
    std::thread releaser([&] {
        while (!calling.load())
            std::this_thread::yield();
        seen = caller.waitUntilAsleepOr([&] { return returned.load(); });
        release();
    });
    calling = true;
    call();
    returned = true;
    releaser.join();
    return seen.load();
}

} // namespace testsupport
