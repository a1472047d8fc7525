#include "support/TestSupport.h"

#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Directories.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/UserDefaults.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>

using namespace platform;

namespace {

QString standardFile() { return testsupport::testHome() + QStringLiteral("/Library/Preferences/com.tarnwick.korvane5.plist"); }

// What the file on disk holds right now.
QVariantMap onDisk(const QString& path)
{
    const auto data = readFile(path);
    return data ? PropertyList::parse(*data).toMap() : QVariantMap();
}

} // namespace

TEST(UserDefaults, TypedReadsFollowThePlatform)
{
    UserDefaults& d = UserDefaults::standard();
    EXPECT_EQ(d.path(), standardFile());
    const double inf = std::numeric_limits<double>::infinity();
    const qint64 max = std::numeric_limits<qint64>::max();
    struct Row {
        QVariant stored;
        qint64 integer;
        double real;
        bool boolean;
        QString string;
    };
    const Row rows[] = {
        {QStringLiteral("  12abc"), 12, 12, true, QStringLiteral("  12abc")},
        {QStringLiteral("-7.9kg"), -7, -7.9, true, QStringLiteral("-7.9kg")},
        {QStringLiteral("99999999999999999999999"), max, 1e23, true, QStringLiteral("99999999999999999999999")},
        {QStringLiteral("YES"), 0, 0, true, QStringLiteral("YES")},
        {QStringLiteral("true"), 0, 0, true, QStringLiteral("true")},
        {QStringLiteral("  +007"), 7, 7, true, QStringLiteral("  +007")},
        {QStringLiteral("no"), 0, 0, false, QStringLiteral("no")},  // text without digits is 0, not the default
        {QStringLiteral("1e-999"), 1, 0, true, QStringLiteral("1e-999")},  // underflow is 0, not infinity
        {QStringLiteral("-1e999"), -1, -inf, true, QStringLiteral("-1e999")},
        {3.99, 3, 3.99, true, QStringLiteral("3.99")},
        {-1e300, std::numeric_limits<qint64>::min(), -1e300, true, QStringLiteral("-1e+300")},
        {5, 5, 5, true, QStringLiteral("5")},
        {true, 1, 1, true, QStringLiteral("1")},
    };
    for (const Row& row : rows) {
        d.setObject(QStringLiteral("k"), row.stored);
        const std::string label = row.stored.toString().toStdString();
        EXPECT_EQ(d.integer(QStringLiteral("k"), 42), row.integer) << label;
        EXPECT_EQ(d.doubleValue(QStringLiteral("k"), 42), row.real) << label;
        EXPECT_EQ(d.boolean(QStringLiteral("k")), row.boolean) << label;
        EXPECT_EQ(d.string(QStringLiteral("k")), row.string) << label;
    }
    d.setObject(QStringLiteral("k"), 5);
    EXPECT_EQ(d.object(QStringLiteral("k")).typeId(), QMetaType::LongLong) << "as it will read after a restart";

    // Absent keys and values of another kind give the caller's default.
    d.setObject(QStringLiteral("list"), QStringList{QStringLiteral("a")});
    d.setObject(QStringLiteral("map"), QVariantMap{{QStringLiteral("k"), 1}});
    for (const char* key : {"absent", "list", "map"}) {
        EXPECT_EQ(d.integer(key, 42), 42) << key;
        EXPECT_EQ(d.doubleValue(key, 1.5), 1.5) << key;
        EXPECT_TRUE(d.boolean(key, true)) << key;
        EXPECT_EQ(d.string(key, QStringLiteral("def")), QStringLiteral("def")) << key;
    }
    EXPECT_EQ(d.array(QStringLiteral("list")), QVariantList{QStringLiteral("a")});
    EXPECT_TRUE(d.array(QStringLiteral("map")).isEmpty());
    EXPECT_EQ(d.dictionary(QStringLiteral("map")).value(QStringLiteral("k")).toLongLong(), 1);
    EXPECT_TRUE(d.dictionary(QStringLiteral("list")).isEmpty());

    // Null removes; a value no property list can hold changes nothing.
    d.setObject(QStringLiteral("list"), QVariantList{QVariant::fromValue(nullptr)});
    EXPECT_EQ(d.array(QStringLiteral("list")), QVariantList{QStringLiteral("a")});
    d.setObject(QStringLiteral("map"), QVariant::fromValue(nullptr));
    d.setObject(QStringLiteral("k"), QVariant());
    d.remove(QStringLiteral("list"));
    for (const char* key : {"k", "list", "map"})
        EXPECT_FALSE(d.contains(key)) << key;
}

TEST(UserDefaults, ReachesDiskWithoutSynchronizeAndSurvivesARestart)
{
    UserDefaults::standard().setObject(QStringLiteral("KRThemeStyle"), 2);
    EXPECT_FALSE(QFileInfo::exists(standardFile())) << "the write is debounced, not immediate";
    KR_WAIT_UNTIL(onDisk(standardFile()).value(QStringLiteral("KRThemeStyle")).toLongLong() == 2);

    // Changes from many workers at once: none is lost.
    OperationQueue queue(4);
    for (int worker = 0; worker < 4; ++worker) {
        queue.addOperation([worker] {
            for (int i = 0; i < 50; ++i)
                UserDefaults::standard().setObject(QStringLiteral("k%1-%2").arg(worker).arg(i), i);
        });
    }
    queue.waitUntilAllOperationsAreFinished();
    KR_WAIT_UNTIL(onDisk(standardFile()).size() == 201);

    const QDateTime when = QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC);
    UserDefaults::standard().setObject(QStringLiteral("When"), when);
    UserDefaults::standard().setObject(QStringLiteral("Blob"), QByteArray("\x01\x02", 2));
    ASSERT_TRUE(UserDefaults::standard().synchronize());
    UserDefaults reopened(standardFile());
    EXPECT_EQ(reopened.integer(QStringLiteral("KRThemeStyle")), 2);
    EXPECT_EQ(reopened.integer(QStringLiteral("k3-49")), 49);
    EXPECT_EQ(reopened.object(QStringLiteral("When")).toDateTime(), when);
    EXPECT_EQ(reopened.object(QStringLiteral("Blob")).toByteArray(), QByteArray("\x01\x02", 2));
    EXPECT_FALSE(QFileInfo(standardFile()).permissions() & (QFile::ReadOther | QFile::ReadGroup));
}

TEST(UserDefaults, CorruptFileReadsEmptyAndIsKeptAside)
{
    const QByteArray damaged("<?xml version=\"1.0\"?><plist><dict><key>a</key>");
    ASSERT_TRUE(writeFileAtomically(standardFile(), damaged));
    {
        UserDefaults d(standardFile());
        EXPECT_FALSE(d.contains(QStringLiteral("a")));
        d.setObject(QStringLiteral("after"), 1);
        EXPECT_TRUE(d.synchronize());
    }
    EXPECT_EQ(readFile(standardFile() + QStringLiteral(".corrupt")).value_or(QByteArray()), damaged);
    EXPECT_EQ(onDisk(standardFile()).value(QStringLiteral("after")).toLongLong(), 1);

    // A valid list whose root is not a dictionary counts as damaged too.
    ASSERT_TRUE(writeFileAtomically(standardFile(), PropertyList::toBinary(QVariantList{1})));
    EXPECT_FALSE(UserDefaults(standardFile()).contains(QStringLiteral("after")));
}

TEST(UserDefaults, StandardFollowsAChangeOfHome)
{
    const QString firstHome = testsupport::testHome();
    UserDefaults::standard().setObject(QStringLiteral("Where"), QStringLiteral("first"));
    QTemporaryDir second;
    qputenv("KORVANE_HOME", second.path().toUtf8());
    EXPECT_FALSE(UserDefaults::standard().contains(QStringLiteral("Where")));
    EXPECT_TRUE(UserDefaults::standard().path().startsWith(second.path()));
    // The pending change went to the home it was made in.
    EXPECT_EQ(onDisk(standardFile()).value(QStringLiteral("Where")), QStringLiteral("first"));
    qputenv("KORVANE_HOME", firstHome.toUtf8());
    EXPECT_EQ(UserDefaults::standard().string(QStringLiteral("Where")), QStringLiteral("first"));
}

// Runs in a child process (see ExitFlushesPendingChanges): sets a value and ends the process
// before the debounce could write it.
TEST(UserDefaultsChild, DISABLED_SetThenEnd)
{
    const QString home = qEnvironmentVariable("KR_UD_CHILD_HOME");
    if (home.isEmpty())
        GTEST_SKIP();
    qputenv("KORVANE_HOME", home.toUtf8());
    UserDefaults::standard().setObject(QStringLiteral("Child"), QStringLiteral("saved"));
    if (qEnvironmentVariable("KR_UD_CHILD_MODE") == QLatin1String("exit"))
        std::exit(0);
    // Otherwise the test ends here and main returns, destroying the application.
}

TEST(UserDefaults, ExitFlushesPendingChanges)
{
    for (const char* mode : {"exit", "return"}) {
        QTemporaryDir home;
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("KR_UD_CHILD_HOME"), home.path());
        env.insert(QStringLiteral("KR_UD_CHILD_MODE"), QString::fromLatin1(mode));
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--gtest_filter=UserDefaultsChild.DISABLED_SetThenEnd"),
                     QStringLiteral("--gtest_also_run_disabled_tests")});
        ASSERT_TRUE(child.waitForFinished(60000)) << mode;
        EXPECT_EQ(child.exitStatus(), QProcess::NormalExit) << mode;
        EXPECT_EQ(child.exitCode(), 0) << mode << child.readAllStandardError().toStdString();
        const QString file = home.path() + QStringLiteral("/Library/Preferences/com.tarnwick.korvane5.plist");
        EXPECT_EQ(onDisk(file).value(QStringLiteral("Child")), QStringLiteral("saved")) << mode;
    }
}
