#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Directories.h"
#include "platform/foundation/PropertyList.h"
#include "store/KRDiagnostics.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <csignal>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

namespace {

const bool registered = [] {
    testsupport::onEachTestStart([] { KRDiagnostics::resetForTesting(); });
    return true;
}();

QString logPath() { return KRDiagnosticsCacheDirectory() + QStringLiteral("/KorvaneRuntime.log"); }
QString previousLogPath() { return KRDiagnosticsCacheDirectory() + QStringLiteral("/KorvaneRuntime.previous.log"); }

QString readText(const QString& path)
{
    const auto data = platform::readFile(path);
    return data ? QString::fromUtf8(*data) : QString();
}

QStringList logLines()
{
    // The session-start detail spans several lines; keep whole entries by their time stamp.
    static const QRegularExpression entryStart(QStringLiteral(R"(^\d+\.\d{3} \[|^\[fatal-signal\])"));
    QStringList entries;
    for (const QString& line : readText(logPath()).split(u'\n', Qt::SkipEmptyParts)) {
        if (entryStart.match(line).hasMatch() || entries.isEmpty())
            entries.append(line);
        else
            entries.last() += u'\n' + line;
    }
    return entries;
}

// Runs `body` in a forked child and returns its wait status. The child never returns.
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
    if (!testsupport::waitUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, std::chrono::seconds(30))) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        ADD_FAILURE() << "the child process did not end";
    }
    return status;
}

} // namespace

TEST(Diagnostics, FirstEventStartsTheSessionWithTheDeviceSummary)
{
    KRDiagnostics::recordEvent(QStringLiteral("uploader-page"), QStringLiteral("mid=42 page=1"));
    KRDiagnostics::recordEvent(QString(), QString());
    const QStringList entries = logLines();
    ASSERT_EQ(entries.size(), 3);
    EXPECT_TRUE(entries[0].contains(QRegularExpression(QStringLiteral(R"(^\d{10}\.\d{3} \[session-start\] app=)"))))
        << entries[0].toStdString();
    EXPECT_TRUE(entries[0].contains(QStringLiteral("machine=")));
    EXPECT_TRUE(entries[0].contains(QStringLiteral("loggedIn=NO")));
    EXPECT_TRUE(entries[1].endsWith(QStringLiteral(" [uploader-page] mid=42 page=1")));
    const double stamp = entries[1].section(u' ', 0, 0).toDouble();
    EXPECT_NEAR(stamp, QDateTime::currentMSecsSinceEpoch() / 1000.0, 5.0);
    EXPECT_TRUE(entries[2].endsWith(QStringLiteral(" [unknown] "))) << entries[2].toStdString();

    // Capture starts once per process: a second start writes nothing.
    KRDiagnostics::startCapture();
    EXPECT_EQ(logLines().size(), 3);
}

TEST(Diagnostics, RotatesOnlyAboveHalfAMebibyteAtStart)
{
    QDir().mkpath(KRDiagnosticsCacheDirectory());
    ASSERT_TRUE(platform::writeFileAtomically(logPath(), QByteArray(524288, 'a')));
    KRDiagnostics::startCapture();
    EXPECT_FALSE(QFile::exists(previousLogPath()));
    EXPECT_GT(QFile(logPath()).size(), 524288);

    KRDiagnostics::resetForTesting();
    ASSERT_TRUE(platform::writeFileAtomically(logPath(), QByteArray(524289, 'b')));
    ASSERT_TRUE(platform::writeFileAtomically(previousLogPath(), QByteArray("older")));
    KRDiagnostics::startCapture();
    EXPECT_EQ(QFile(previousLogPath()).size(), 524289);
    const QStringList entries = logLines();
    ASSERT_FALSE(entries.isEmpty());
    EXPECT_TRUE(entries[0].contains(QStringLiteral("[session-start]")));
}

TEST(Diagnostics, RedactsCredentialValuesButNotPresenceFlags)
{
    const auto redact = [](const char* text) { return KRDiagnosticsSanitizedText(QString::fromUtf8(text)).toStdString(); };
    EXPECT_EQ(redact("SESSDATA=abc%2C123; x=1"), "SESSDATA=<redacted> x=1");
    EXPECT_EQ(redact(R"({"access_key":"v","mid":1})"), R"({"access_key=<redacted>","mid":1})");
    EXPECT_EQ(redact("csrf: 0123abcd"), "csrf=<redacted>");
    EXPECT_EQ(redact(R"({"token" : "t0k", "ok":true})"), R"({"token=<redacted>", "ok":true})");
    EXPECT_EQ(redact("a=1&refresh_token=r3fr3sh&b=2"), "a=1&refresh_token=<redacted>&b=2");
    EXPECT_EQ(redact("uses a token word only"), "uses a token word only");
    EXPECT_EQ(redact("cookie=DedeUserID=42 SESSDATA=s"), "cookie=<redacted> SESSDATA=<redacted>");
    // A quoted value after "=" is caught by the second rule.
    EXPECT_EQ(redact(R"(SESSDATA="quoted" next=1)"), "SESSDATA=<redacted> next=1");
    // Presence flags stay readable; a value merely starting with YES does not.
    EXPECT_EQ(redact("hasSESSDATA=YES hasBuvid=NO appToken=YES appRefresh=NO"),
              "hasSESSDATA=YES hasBuvid=NO appToken=YES appRefresh=NO");
    EXPECT_EQ(redact("SESSDATA=YESabc"), "SESSDATA=<redacted>");
    EXPECT_EQ(redact(""), "");
    EXPECT_FALSE(KRDiagnosticsSanitizedText(QString()).isNull());

    KRDiagnostics::recordEvent(QStringLiteral("like-request"), QStringLiteral("aid=1 access_key=secret"));
    EXPECT_FALSE(readText(logPath()).contains(QStringLiteral("secret")));
    EXPECT_TRUE(readText(logPath()).contains(QStringLiteral("[like-request] aid=1 access_key=<redacted>")));
}

TEST(Diagnostics, TailOfFileSkipsAPartialCharacterAndReadsOnlyTheTail)
{
    const QString path = KRDiagnosticsCacheDirectory() + QStringLiteral("/tail.txt");
    // Every character here is three bytes; cuts of 6 and 4 bytes land inside one.
    ASSERT_TRUE(platform::writeFileAtomically(path, QStringLiteral("头日志尾ab").toUtf8()));
    EXPECT_EQ(KRDiagnosticsTailOfFile(path, 6), QStringLiteral("尾ab"));
    EXPECT_EQ(KRDiagnosticsTailOfFile(path, 5), QStringLiteral("尾ab"));
    EXPECT_EQ(KRDiagnosticsTailOfFile(path, 4), QStringLiteral("ab"));
    EXPECT_EQ(KRDiagnosticsTailOfFile(path, 1000), QStringLiteral("头日志尾ab"));
    EXPECT_EQ(KRDiagnosticsTailOfFile(path + QStringLiteral(".missing"), 10), QString(""));

    const QVariantMap probe{{QStringLiteral("stage"), QStringLiteral("ready")}, {QStringLiteral("count"), 3}};
    ASSERT_TRUE(platform::writeFileAtomically(path, platform::PropertyList::toBinary(probe)));
    const QString described = KRDiagnosticsTailOfFile(path, 65536);
    EXPECT_TRUE(described.contains(QStringLiteral("stage = ready;"))) << described.toStdString();
    EXPECT_TRUE(described.contains(QStringLiteral("count = 3;")));

    ASSERT_TRUE(platform::writeFileAtomically(path, QByteArray("\xff\xfe\x00garbage", 10)));
    EXPECT_EQ(KRDiagnosticsTailOfFile(path, 100), QStringLiteral("<binary or unreadable data>"));
}

TEST(Diagnostics, ExportGathersSectionsRedactedIntoTmp)
{
    KRDiagnostics::recordEvent(QStringLiteral("play-url-official-result"), QStringLiteral("SESSDATA=leak1 code=0"));
    const QString cache = KRDiagnosticsCacheDirectory();
    ASSERT_TRUE(platform::writeFileAtomically(previousLogPath(), QByteArray("previous launch line\n")));
    ASSERT_TRUE(platform::writeFileAtomically(cache + QStringLiteral("/KorvaneQualityProbe.json"),
                                              QByteArray(R"({"refresh_token":"leak2","qn":80})")));

    const QString path = KRDiagnostics::createExportFile();
    ASSERT_FALSE(path.isEmpty());
    EXPECT_TRUE(path.startsWith(platform::Directories::temporary() + QStringLiteral("/Korvane-Diagnostics-")));
    EXPECT_TRUE(path.endsWith(QStringLiteral(".txt")));
    const QString text = readText(path);
    EXPECT_TRUE(text.startsWith(QStringLiteral("岚帆影院诊断日志\n================\nexportedAt=")));
    EXPECT_TRUE(text.contains(QStringLiteral("\n-- Runtime (current, tail) --\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("[diagnostics-export] requested-from-profile-triple-tap")));
    EXPECT_TRUE(text.contains(QStringLiteral("\n\n-- Runtime (previous, tail) --\nprevious launch line")));
    EXPECT_TRUE(text.contains(QStringLiteral("\n\n-- KorvaneQualityProbe.json --\n{\"refresh_token=<redacted>\",\"qn\":80}")));
    EXPECT_FALSE(text.contains(QStringLiteral("-- KorvaneDecoderProbe.json --")));
    EXPECT_FALSE(text.contains(QStringLiteral("leak")));
    EXPECT_TRUE(text.endsWith(QStringLiteral("\n\n-- Crash report --\nNo readable Korvane crash report was found.\n")));
}

TEST(Diagnostics, ExportPicksTheNewestCrashReportAndReportsAFailedWrite)
{
    const QString reports = platform::Directories::home() + QStringLiteral("/Library/Logs/CrashReporter");
    QDir().mkpath(reports);
    ASSERT_TRUE(platform::writeFileAtomically(reports + QStringLiteral("/korvane-older.crash"), QByteArray("old crash")));
    ASSERT_TRUE(platform::writeFileAtomically(reports + QStringLiteral("/Korvane-newer.crash"), QByteArray("new crash")));
    ASSERT_TRUE(platform::writeFileAtomically(reports + QStringLiteral("/Other-app.crash"), QByteArray("not ours")));
    QFile older(reports + QStringLiteral("/korvane-older.crash"));
    ASSERT_TRUE(older.open(QIODevice::ReadWrite));
    older.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime);
    older.close();

    const QString path = KRDiagnostics::createExportFile();
    ASSERT_FALSE(path.isEmpty());
    EXPECT_TRUE(readText(path).endsWith(QStringLiteral("\n\n-- Newest crash report: Korvane-newer.crash --\nnew crash")));
    ASSERT_TRUE(QFile::remove(path));

    // Block the export's file name for the next seconds with folders: the write fails, and
    // the caller learns it instead of receiving a path to nothing.
    const QDateTime now = QDateTime::currentDateTime();
    for (int second = 0; second < 5; ++second) {
        const QString name = QStringLiteral("/Korvane-Diagnostics-%1.txt").arg(now.addSecs(second).toString(QStringLiteral("yyyyMMdd-HHmmss")));
        ASSERT_TRUE(QDir().mkpath(platform::Directories::temporary() + name + QStringLiteral("/blocker")));
    }
    EXPECT_TRUE(KRDiagnostics::createExportFile().isNull());
}

TEST(Diagnostics, ConcurrentEventsStayWholeLines)
{
    KRDiagnostics::startCapture();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i)
                KRDiagnostics::recordEvent(QStringLiteral("thread-event"), QStringLiteral("thread=%1 index=%2").arg(t).arg(i));
        });
    }
    for (auto& thread : threads)
        thread.join();
    static const QRegularExpression line(QStringLiteral(R"(^\d+\.\d{3} \[thread-event\] thread=\d index=\d+$)"));
    int events = 0;
    for (const QString& entry : logLines()) {
        if (entry.contains(QStringLiteral("[thread-event]"))) {
            EXPECT_TRUE(line.match(entry).hasMatch()) << entry.toStdString();
            ++events;
        }
    }
    EXPECT_EQ(events, 800);
}

TEST(Diagnostics, ALogDeletedDuringTheRunIsCreatedAgain)
{
    KRDiagnostics::recordEvent(QStringLiteral("first"), QStringLiteral("a=1"));
    ASSERT_TRUE(QFile::remove(logPath()));
    KRDiagnostics::recordEvent(QStringLiteral("second"), QStringLiteral("b=2"));
    const QStringList entries = logLines();
    ASSERT_EQ(entries.size(), 1);
    EXPECT_TRUE(entries[0].endsWith(QStringLiteral("[second] b=2")));
}

TEST(Diagnostics, FatalSignalLeavesALineAndTheProcessDiesByIt)
{
    const int status = runInChild([] {
        KRDiagnostics::startCapture();
        KRDiagnostics::recordEvent(QStringLiteral("before-crash"), QStringLiteral("step=1"));
        ::raise(SIGSEGV);
    });
    ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
    EXPECT_EQ(WTERMSIG(status), SIGSEGV);
    const QString log = readText(logPath());
    EXPECT_TRUE(log.endsWith(QStringLiteral("[before-crash] step=1\n[fatal-signal] SIGSEGV\n"))) << log.toStdString();
}

TEST(Diagnostics, UncaughtExceptionIsRecordedBeforeTheAbort)
{
    const int status = runInChild([] {
        KRDiagnostics::startCapture();
        std::thread([] { throw std::runtime_error("queue drained twice"); }).join();
    });
    ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
    EXPECT_EQ(WTERMSIG(status), SIGABRT);
    const QStringList entries = logLines();
    ASSERT_GE(entries.size(), 3);
    EXPECT_TRUE(entries[entries.size() - 2].contains(
        QStringLiteral("[uncaught-exception] name=std::runtime_error reason=queue drained twice stack=(")))
        << entries[entries.size() - 2].toStdString();
    EXPECT_EQ(entries.last(), QStringLiteral("[fatal-signal] SIGABRT"));
}
