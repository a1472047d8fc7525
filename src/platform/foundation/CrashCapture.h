#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

namespace platform {

// The last words of a dying process. A fatal signal (SIGABRT, SIGSEGV, SIGBUS, SIGILL,
// SIGFPE) writes a line prepared in advance to a file opened in advance, on an alternate
// stack so that a stack overflow still gets its line, then the process dies by the same
// signal. An exception that nobody catches is handed to a handler with its type, its
// reason and the call stack, then the terminate handler that was there before runs.
// What the lines say and where the file lives belong to the caller.
class CrashCapture {
public:
    CrashCapture() = delete;

    // type, reason ("(null)" when unknown), call stack. Runs on the thread that threw.
    using ExceptionHandler = std::function<void(const QString& type, const QString& reason, const QString& stack)>;

    // Installs the handlers; once per process, later calls only replace the exception handler.
    static void install(ExceptionHandler onUncaughtException);
    // From now on install() sets no signal or terminate handler of its own, so that a harness
    // that has its own (a fuzzer keeping the input that failed) keeps them. Call it before
    // anything can install them; handlers already installed stay.
    static void leaveProcessHandlers();
    // The line a fatal signal writes (at most 127 bytes, written as is).
    static void setSignalLine(int signalNumber, const QByteArray& line);

    // Opens `path` for appending (created when missing) as the file signals write to,
    // closing the one opened before; false (and no file) when it cannot be opened.
    static bool openFile(const QString& path);
    // The descriptor of that file for writers that share it, opened again when the path
    // no longer names the file it holds (deleted or replaced meanwhile); -1 when none.
    // Callers serialise their calls.
    static int fileDescriptor();
    // Signals write nowhere from now on.
    static void closeFile();

    // The current thread's call stack, one quoted frame a line inside parentheses.
    static QString callStackDescription();
};

} // namespace platform
