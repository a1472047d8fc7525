#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/CrashCapture.h"
#include "support/TestSupport.h"

#include <QFile>

#include <csignal>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

using platform::CrashCapture;

namespace {

QString capturePath() { return testsupport::testHome() + QStringLiteral("/capture.log"); }

QByteArray captured() { return platform::readFile(capturePath()).value_or(QByteArray()); }

// In the child: the file opened, a line for each signal, an exception handler that writes
// what it is told through the shared descriptor.
void prepareCapture()
{
    CrashCapture::openFile(capturePath());
    CrashCapture::setSignalLine(SIGSEGV, "segv\n");
    CrashCapture::setSignalLine(SIGABRT, "abrt\n");
    CrashCapture::setSignalLine(SIGFPE, "fpe\n");
    CrashCapture::install([](const QString& type, const QString& reason, const QString& stack) {
        const QByteArray line = (type + u'|' + reason + u'|' + stack.left(1) + u'\n').toUtf8();
        const ssize_t ignored = ::write(CrashCapture::fileDescriptor(), line.constData(), size_t(line.size()));
        (void)ignored;
    });
}

// Runs off any thread stack long before the depth check; the frame is kept so the call
// cannot become a loop.
int recurse(int depth)
{
    volatile char frame[4096];
    frame[0] = char(depth);
    if (depth > (1 << 30))
        return frame[0];
    return recurse(depth + 1) + frame[0];
}

} // namespace

TEST(CrashCapture, FatalEndsWriteThePreparedLineAndDieByTheSignal)
{
    struct Row { const char* name; std::function<void()> body; int signal; QByteArray log; };
    const Row rows[] = {
        {"raised", [] { ::raise(SIGSEGV); }, SIGSEGV, "segv\n"},
        // The handler needs the alternate stack here: the thread's own is used up.
        {"stack overflow", [] { recurse(0); }, SIGSEGV, "segv\n"},
        {"uncaught exception", [] { std::thread([] { throw std::runtime_error("queue drained twice"); }).join(); },
         SIGABRT, "std::runtime_error|queue drained twice|(\nabrt\n"},
        {"no line prepared", [] { ::raise(SIGBUS); }, SIGBUS, ""},
    };
    for (const Row& row : rows) {
        QFile::remove(capturePath());
        const int status = testsupport::runInChild([&] {
            prepareCapture();
            row.body();
        });
        ASSERT_TRUE(WIFSIGNALED(status)) << row.name << " status " << status;
        EXPECT_EQ(WTERMSIG(status), row.signal) << row.name;
        EXPECT_EQ(captured(), row.log) << row.name;
    }
}

TEST(CrashCapture, SharedDescriptorFollowsTheFileAtThePath)
{
    ASSERT_TRUE(CrashCapture::openFile(capturePath()));
    const int first = CrashCapture::fileDescriptor();
    ASSERT_GE(first, 0);
    EXPECT_EQ(CrashCapture::fileDescriptor(), first) << "kept while the path names its file";
    ASSERT_EQ(::write(first, "a", 1), 1);

    // Replaced behind its back: the next writer gets the file now at the path.
    ASSERT_TRUE(platform::writeFileAtomically(capturePath(), "new\n"));
    const int second = CrashCapture::fileDescriptor();
    ASSERT_GE(second, 0);
    ASSERT_EQ(::write(second, "b", 1), 1);
    EXPECT_EQ(captured(), "new\nb");

    CrashCapture::closeFile();
    EXPECT_EQ(CrashCapture::fileDescriptor(), -1);
    EXPECT_FALSE(CrashCapture::openFile(testsupport::testHome() + QStringLiteral("/missing/folder/capture.log")));
    EXPECT_EQ(CrashCapture::fileDescriptor(), -1);
}

// A harness with handlers of its own (a fuzzer that keeps the failing input) keeps them: the
// prepared line is not written and its own handler runs.
TEST(CrashCapture, LeftAloneTheProcessKeepsItsOwnHandlers)
{
    QFile::remove(capturePath());
    const int status = testsupport::runInChild([] {
        struct sigaction own {};
        own.sa_handler = [](int) {
            const ssize_t ignored = ::write(CrashCapture::fileDescriptor(), "own\n", 4);
            (void)ignored;
            ::_exit(7);
        };
        sigemptyset(&own.sa_mask);
        ::sigaction(SIGSEGV, &own, nullptr);
        CrashCapture::leaveProcessHandlers();
        prepareCapture();
        ::raise(SIGSEGV);
    });
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 7);
    EXPECT_EQ(captured(), "own\n");
}
