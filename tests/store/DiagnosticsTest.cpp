#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/CrashCapture.h"
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
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

const bool registered = testsupport::onEachTestStart([] { KRDiagnostics::resetForTesting(); });

QString logPath() { return KRDiagnosticsCacheDirectory() + u"/KorvaneRuntime.log"_s; }
QString previousLogPath() { return KRDiagnosticsCacheDirectory() + u"/KorvaneRuntime.previous.log"_s; }

QString readText(const QString& path) { return QString::fromUtf8(platform::readFile(path).value_or(QByteArray())); }

// Whole entries of the log: the session-start detail spans several lines.
QStringList logEntries()
{
    static const QRegularExpression entryStart(uR"(^\d+\.\d{3} \[|^\[fatal-signal\])"_s);
    QStringList entries;
    for (const QString& line : readText(logPath()).split(u'\n', Qt::SkipEmptyParts)) {
        if (entryStart.match(line).hasMatch() || entries.isEmpty())
            entries.append(line);
        else
            entries.last() += u'\n' + line;
    }
    return entries;
}

} // namespace

TEST(Diagnostics, FirstEventStartsTheSessionAndEveryLineReachesThePath)
{
    KRDiagnostics::recordEvent(u"uploader-page"_s, u"mid=42 page=1"_s);
    KRDiagnostics::recordEvent(QString(), QString());
    KRDiagnostics::startCapture();  // once per process: writes nothing more
    QStringList entries = logEntries();
    ASSERT_EQ(entries.size(), 3);
    EXPECT_TRUE(entries[0].contains(QRegularExpression(uR"((?s)^\d{10}\.\d{3} \[session-start\] app=.* machine=.* loggedIn=NO)"_s)))
        << entries[0].toStdString();
    EXPECT_TRUE(entries[1].endsWith(u" [uploader-page] mid=42 page=1"_s));
    EXPECT_NEAR(entries[1].section(u' ', 0, 0).toDouble(), QDateTime::currentMSecsSinceEpoch() / 1000.0, 5.0);
    EXPECT_TRUE(entries[2].endsWith(u" [unknown] "_s)) << entries[2].toStdString();

    // A log deleted or moved away during the run is created again at its path.
    ASSERT_TRUE(QFile::rename(logPath(), logPath() + u".moved"_s));
    KRDiagnostics::recordEvent(u"second"_s, u"b=2"_s);
    EXPECT_EQ(logEntries().size(), 1);
    EXPECT_TRUE(logEntries().value(0).endsWith(u"[second] b=2"_s));
    ASSERT_TRUE(QFile::remove(logPath()));
    KRDiagnostics::recordEvent(u"third"_s, u"c=3"_s);
    EXPECT_EQ(logEntries().size(), 1);
    EXPECT_TRUE(logEntries().value(0).endsWith(u"[third] c=3"_s));
}

// Each event opens the log at its path, writes and closes it: a log that cannot be opened
// there drops the line rather than writing into the file moved away, and the crash handlers'
// file, wherever it is, takes no event.
TEST(Diagnostics, EachEventOpensTheLogAtItsPathAndNotTheCrashHandlersFile)
{
    KRDiagnostics::recordEvent(u"first"_s, u"a=1"_s);
    const QString moved = logPath() + u".moved"_s;
    ASSERT_TRUE(QFile::rename(logPath(), moved));
    ASSERT_TRUE(QDir().mkdir(logPath()));
    KRDiagnostics::recordEvent(u"second"_s, u"b=2"_s);
    EXPECT_TRUE(readText(moved).contains(u"[first] a=1"_s));
    EXPECT_FALSE(readText(moved).contains(u"[second]"_s));
    ASSERT_TRUE(QDir().rmdir(logPath()));
    KRDiagnostics::recordEvent(u"third"_s, u"c=3"_s);
    ASSERT_EQ(logEntries().size(), 1);
    EXPECT_TRUE(logEntries().value(0).endsWith(u"[third] c=3"_s));

    const QString crashLines = testsupport::testHome() + u"/crash-lines.log"_s;
    ASSERT_TRUE(platform::CrashCapture::openFile(crashLines));
    KRDiagnostics::recordEvent(u"fourth"_s, u"d=4"_s);
    EXPECT_TRUE(logEntries().value(1).endsWith(u"[fourth] d=4"_s));
    EXPECT_EQ(readText(crashLines), QString());
}

TEST(Diagnostics, RotatesOnlyAboveHalfAMebibyteAtStart)
{
    QDir().mkpath(KRDiagnosticsCacheDirectory());
    ASSERT_TRUE(platform::writeFileAtomically(logPath(), QByteArray(524288, 'a')));
    KRDiagnostics::startCapture();
    EXPECT_FALSE(QFile::exists(previousLogPath()));

    KRDiagnostics::resetForTesting();
    ASSERT_TRUE(platform::writeFileAtomically(logPath(), QByteArray(524289, 'b')));
    ASSERT_TRUE(platform::writeFileAtomically(previousLogPath(), QByteArray("older")));
    KRDiagnostics::startCapture();
    EXPECT_EQ(QFile(previousLogPath()).size(), 524289);
    EXPECT_TRUE(logEntries().value(0).contains(u"[session-start]"_s));
}

TEST(Diagnostics, RedactsCredentialValuesButNotPresenceFlags)
{
    const std::pair<const char*, const char*> rows[] = {
        {"SESSDATA=abc%2C123; x=1", "SESSDATA=<redacted> x=1"},
        // The second rule must not run on through JSON the first rule already redacted.
        {R"({"access_key":"v","mid":1})", R"({"access_key=<redacted>","mid":1})"},
        {"csrf: 0123abcd", "csrf=<redacted>"},
        {R"({"token" : "t0k", "ok":true})", R"({"token=<redacted>", "ok":true})"},
        {"a=1&refresh_token=r3fr3sh&b=2", "a=1&refresh_token=<redacted>&b=2"},
        {"uses a token word only", "uses a token word only"},
        {"cookie=DedeUserID=42 SESSDATA=s", "cookie=<redacted> SESSDATA=<redacted>"},
        {R"(SESSDATA="quoted" next=1)", "SESSDATA=<redacted> next=1"},  // the second rule's case
        {"hasSESSDATA=YES hasBuvid=NO appToken=YES appRefresh=NO", "hasSESSDATA=YES hasBuvid=NO appToken=YES appRefresh=NO"},
        {"SESSDATA=YESabc", "SESSDATA=<redacted>"},
        {"", ""},
    };
    for (const auto& [text, expected] : rows)
        EXPECT_EQ(KRDiagnosticsSanitizedText(QString::fromUtf8(text)).toStdString(), expected);

    KRDiagnostics::recordEvent(u"like-request"_s, u"aid=1 access_key=secret"_s);
    EXPECT_TRUE(readText(logPath()).contains(u"[like-request] aid=1 access_key=<redacted>\n"_s));
}

TEST(Diagnostics, TailOfFileSkipsAPartialCharacter)
{
    const QString path = KRDiagnosticsCacheDirectory() + u"/tail.txt"_s;
    // Every character here is three bytes: cuts of 5 and 4 bytes land inside one.
    ASSERT_TRUE(platform::writeFileAtomically(path, u"头日志尾ab"_s.toUtf8()));
    const std::pair<int, QString> tails[] = {{6, u"尾ab"_s}, {5, u"尾ab"_s}, {4, u"ab"_s}, {1000, u"头日志尾ab"_s}};
    for (const auto& [bytes, expected] : tails)
        EXPECT_EQ(KRDiagnosticsTailOfFile(path, bytes), expected) << bytes;
    EXPECT_EQ(KRDiagnosticsTailOfFile(path + u".missing"_s, 10), u""_s);

    ASSERT_TRUE(platform::writeFileAtomically(path, platform::PropertyList::toBinary(QVariantMap{{u"stage"_s, u"ready"_s}})));
    EXPECT_TRUE(KRDiagnosticsTailOfFile(path, 65536).contains(u"stage = ready;"_s));
    ASSERT_TRUE(platform::writeFileAtomically(path, QByteArray("\xff\xfe\x00garbage", 10)));
    EXPECT_EQ(KRDiagnosticsTailOfFile(path, 100), u"<binary or unreadable data>"_s);
}

TEST(Diagnostics, ExportGathersSectionsRedactedIntoTmp)
{
    KRDiagnostics::recordEvent(u"play-url-official-result"_s, u"SESSDATA=leak1 code=0"_s);
    ASSERT_TRUE(platform::writeFileAtomically(previousLogPath(), QByteArray("previous launch line\n")));
    ASSERT_TRUE(platform::writeFileAtomically(KRDiagnosticsCacheDirectory() + u"/KorvaneQualityProbe.json"_s,
                                              QByteArray(R"({"refresh_token":"leak2","qn":80})")));
    QString path = KRDiagnostics::createExportFile();
    EXPECT_TRUE(path.startsWith(platform::Directories::temporary() + u"/Korvane-Diagnostics-"_s)) << path.toStdString();
    const QString text = readText(path);
    EXPECT_TRUE(text.startsWith(u"岚帆影院诊断日志\n================\nexportedAt="_s));
    for (const QString& part : {u"\n-- Runtime (current, tail) --\n"_s, u"[diagnostics-export] requested-from-profile-triple-tap"_s,
                                u"\n\n-- Runtime (previous, tail) --\nprevious launch line"_s,
                                u"\n\n-- KorvaneQualityProbe.json --\n{\"refresh_token=<redacted>\",\"qn\":80}"_s})
        EXPECT_TRUE(text.contains(part)) << part.toStdString();
    EXPECT_FALSE(text.contains(u"-- KorvaneDecoderProbe.json --"_s) || text.contains(u"leak"_s));
    EXPECT_TRUE(text.endsWith(u"\n\n-- Crash report --\nNo readable Korvane crash report was found.\n"_s));
    ASSERT_TRUE(QFile::remove(path));

    // The newest report of this application wins.
    const QString reports = platform::Directories::home() + u"/Library/Logs/CrashReporter/"_s;
    QDir().mkpath(reports);
    ASSERT_TRUE(platform::writeFileAtomically(reports + u"korvane-older.crash"_s, QByteArray("old crash")));
    ASSERT_TRUE(platform::writeFileAtomically(reports + u"Korvane-newer.crash"_s, QByteArray("new crash")));
    ASSERT_TRUE(platform::writeFileAtomically(reports + u"Other-app.crash"_s, QByteArray("not ours")));
    QFile older(reports + u"korvane-older.crash"_s);
    ASSERT_TRUE(older.open(QIODevice::ReadWrite));
    older.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime);
    older.close();
    path = KRDiagnostics::createExportFile();
    EXPECT_TRUE(readText(path).endsWith(u"\n\n-- Newest crash report: Korvane-newer.crash --\nnew crash"_s));
    ASSERT_TRUE(QFile::remove(path));

    // Folders block the export's name for the next seconds: a failed write gives no path.
    for (int second = 0; second < 5; ++second) {
        const QString stamp = QDateTime::currentDateTime().addSecs(second).toString(u"yyyyMMdd-HHmmss"_s);
        ASSERT_TRUE(QDir().mkpath(platform::Directories::temporary() + u"/Korvane-Diagnostics-"_s + stamp + u".txt/blocker"_s));
    }
    EXPECT_TRUE(KRDiagnostics::createExportFile().isNull());
}

TEST(Diagnostics, ConcurrentEventsStayWholeLines)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i)
                KRDiagnostics::recordEvent(u"thread-event"_s, u"thread=%1 index=%2"_s.arg(t).arg(i));
        });
    for (auto& thread : threads)
        thread.join();
    static const QRegularExpression whole(uR"(^\d+\.\d{3} \[thread-event\] thread=\d index=\d+$)"_s);
    EXPECT_EQ(logEntries().filter(whole).size(), 800);
}

TEST(Diagnostics, FatalEndsLeaveALineAndTheProcessDiesByTheSignal)
{
    struct Row { std::function<void()> body; int signal; const char* name; const char* line; };
    const Row rows[] = {
        {[] { KRDiagnostics::recordEvent(u"before-crash"_s, u"step=1"_s); ::raise(SIGSEGV); }, SIGSEGV, "SIGSEGV",
         "[before-crash] step=1\n[fatal-signal] SIGSEGV\n"},
        {[] { std::thread([] { throw std::runtime_error("queue drained twice"); }).join(); }, SIGABRT, "SIGABRT",
         "[uncaught-exception] name=std::runtime_error reason=queue drained twice stack=("},
    };
    for (const Row& row : rows) {
        QFile::remove(logPath());
        const int status = testsupport::runInChild([&] {
            KRDiagnostics::startCapture();
            row.body();
        });
        ASSERT_TRUE(WIFSIGNALED(status)) << row.name << " status " << status;
        EXPECT_EQ(WTERMSIG(status), row.signal);
        const QString log = readText(logPath());
        EXPECT_TRUE(log.contains(QString::fromUtf8(row.line)) && log.endsWith(u"\n[fatal-signal] "_s + QLatin1String(row.name) + u'\n'))
            << log.toStdString();
    }
}
