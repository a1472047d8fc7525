#include "platform/foundation/CrashCapture.h"

#include <QFile>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <exception>
#include <execinfo.h>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

const int kFatalSignals[] = {SIGABRT, SIGSEGV, SIGBUS, SIGILL, SIGFPE};
constexpr size_t kLineCapacity = 128;
constexpr size_t kAlternateStackBytes = 64 * 1024;

// Read by the signal handler, which takes no lock and allocates nothing: the descriptor and
// one fixed buffer per signal, filled before the handlers can need them.
std::atomic<int> gDescriptor{-1};
static_assert(std::atomic<int>::is_always_lock_free);
struct SignalLine {
    int signalNumber;
    char text[kLineCapacity];
    std::atomic<size_t> length;
};
SignalLine gSignalLines[std::size(kFatalSignals)] = {
    {SIGABRT, {}, {0}}, {SIGSEGV, {}, {0}}, {SIGBUS, {}, {0}}, {SIGILL, {}, {0}}, {SIGFPE, {}, {0}}};

std::mutex& stateLock()
{
    static std::mutex lock;
    return lock;
}

// Guarded by stateLock().
bool gInstalled = false;
bool gLeaveHandlers = false;
CrashCapture::ExceptionHandler gExceptionHandler;
std::terminate_handler gPreviousTerminate = nullptr;
// The path gDescriptor was opened for; only its owner's calls touch it.
QByteArray gPath;

int openForAppending(const QByteArray& path)
{
    return ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
}

QString demangledName(const char* mangled)
{
    if (!mangled)
        return QStringLiteral("(null)");
    int status = 0;
    char* readable = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
    QString name = QString::fromUtf8(status == 0 && readable ? readable : mangled);
    std::free(readable);
    return name;
}

void onTerminate()
{
    static std::atomic<bool> entered{false};
    std::terminate_handler previous = nullptr;
    CrashCapture::ExceptionHandler handler;
    {
        std::lock_guard<std::mutex> lock(stateLock());
        previous = gPreviousTerminate;
        handler = gExceptionHandler;
    }
    if (!entered.exchange(true) && handler) {
        QString name = QStringLiteral("(null)");
        QString reason = QStringLiteral("(null)");
        if (const std::exception_ptr exception = std::current_exception()) {
            const std::type_info* type = abi::__cxa_current_exception_type();
            name = demangledName(type ? type->name() : nullptr);
            try {
                std::rethrow_exception(exception);
            } catch (const std::exception& error) {
                reason = QString::fromUtf8(error.what());
            } catch (...) {
            }
        }
        handler(name, reason, CrashCapture::callStackDescription());
    }
    if (previous)
        previous();
    std::abort();
}

extern "C" void onFatalSignal(int signalNumber)
{
    // Async-signal-safe only: prepared bytes, one raw write, sigaction, raise.
    const int fd = gDescriptor.load(std::memory_order_relaxed);
    if (fd >= 0) {
        for (const SignalLine& line : gSignalLines) {
            if (line.signalNumber == signalNumber) {
                const ssize_t ignored = ::write(fd, line.text, line.length.load(std::memory_order_acquire));
                (void)ignored;
            }
        }
    }
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    ::sigaction(signalNumber, &fallback, nullptr);
    // Pending until the handler returns (the signal is blocked while it runs), then the
    // default action ends the process by this same signal.
    ::raise(signalNumber);
}

void installSignalHandlers()
{
    // Lets the handler run after a stack overflow on the thread that installed them.
    stack_t current {};
    if (::sigaltstack(nullptr, &current) == 0 && (current.ss_flags & SS_DISABLE)) {
        static char* alternateStack = new char[kAlternateStackBytes];
        stack_t stack {};
        stack.ss_sp = alternateStack;
        stack.ss_size = kAlternateStackBytes;
        ::sigaltstack(&stack, nullptr);
    }
    for (int signalNumber : kFatalSignals) {
        struct sigaction action {};
        action.sa_handler = onFatalSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_ONSTACK;
        ::sigaction(signalNumber, &action, nullptr);
    }
}

} // namespace

void CrashCapture::install(ExceptionHandler onUncaughtException)
{
    std::lock_guard<std::mutex> lock(stateLock());
    gExceptionHandler = std::move(onUncaughtException);
    if (gInstalled)
        return;
    gInstalled = true;
    if (gLeaveHandlers)
        return;
    const std::terminate_handler installed = std::get_terminate();
    if (installed != onTerminate) {
        gPreviousTerminate = installed;
        std::set_terminate(onTerminate);
    }
    installSignalHandlers();
}

void CrashCapture::leaveProcessHandlers()
{
    std::lock_guard<std::mutex> lock(stateLock());
    gLeaveHandlers = true;
}

void CrashCapture::setSignalLine(int signalNumber, const QByteArray& line)
{
    for (SignalLine& slot : gSignalLines) {
        if (slot.signalNumber != signalNumber)
            continue;
        const size_t length = std::min(size_t(line.size()), kLineCapacity - 1);
        // A signal arriving meanwhile writes nothing rather than half a line.
        slot.length.store(0, std::memory_order_release);
        std::memcpy(slot.text, line.constData(), length);
        slot.length.store(length, std::memory_order_release);
    }
}

bool CrashCapture::openFile(const QString& path)
{
    gPath = QFile::encodeName(path);
    const int fd = openForAppending(gPath);
    const int old = gDescriptor.exchange(fd);
    if (old >= 0)
        ::close(old);
    return fd >= 0;
}

int CrashCapture::fileDescriptor()
{
    const int fd = gDescriptor.load();
    if (gPath.isEmpty())
        return fd;
    if (fd >= 0) {
        struct stat held {};
        struct stat atPath {};
        if (::fstat(fd, &held) == 0 && ::stat(gPath.constData(), &atPath) == 0 && held.st_dev == atPath.st_dev
            && held.st_ino == atPath.st_ino)
            return fd;
    }
    const int reopened = openForAppending(gPath);
    if (reopened < 0)
        return fd;  // keep what we had (or -1)
    gDescriptor.store(reopened);
    if (fd >= 0)
        ::close(fd);
    return reopened;
}

void CrashCapture::closeFile()
{
    gPath.clear();
    const int fd = gDescriptor.exchange(-1);
    if (fd >= 0)
        ::close(fd);
}

QString CrashCapture::callStackDescription()
{
    void* frames[64];
    const int count = ::backtrace(frames, 64);
    char** symbols = ::backtrace_symbols(frames, count);
    QString text = QStringLiteral("(");
    for (int i = 0; i < count; ++i) {
        text += i == 0 ? QStringLiteral("\n    \"") : QStringLiteral(",\n    \"");
        text += symbols ? QString::fromLocal8Bit(symbols[i]) : QStringLiteral("0x%1").arg(quintptr(frames[i]), 0, 16);
        text += u'"';
    }
    text += QStringLiteral("\n)");
    std::free(symbols);
    return text;
}

} // namespace platform
