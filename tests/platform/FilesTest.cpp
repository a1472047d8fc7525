#include "support/TestSupport.h"

#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Directories.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace platform;

namespace {

int modeOf(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

QStringList entriesOf(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
}

} // namespace

TEST(Directories, FollowTheCurrentHomeAndCreateFolders)
{
    const QString home = testsupport::testHome();
    EXPECT_EQ(Directories::caches(), home + "/Library/Caches");
    EXPECT_EQ(Directories::applicationSupport(), home + "/Library/Application Support");
    EXPECT_EQ(Directories::preferences(), home + "/Library/Preferences");
    EXPECT_EQ(Directories::documents(), home + "/Documents");
    EXPECT_EQ(Directories::temporary(), home + "/tmp");
    EXPECT_TRUE(QDir(home + "/Library/Caches").exists());
    ::chmod(QFile::encodeName(Directories::keychains()).constData(), 0755);
    EXPECT_EQ(modeOf(Directories::keychains()), 0700) << "a loosened keychain folder is tightened again";

    QTemporaryDir other;
    qputenv("KORVANE_HOME", other.path().toUtf8());
    Directories::homeVariablesChanged();
    EXPECT_EQ(Directories::documents(), other.path() + "/Documents");
    // A relative home follows the working directory.
    const QString workingDirectory = QDir::currentPath();
    qputenv("KORVANE_HOME", "relative-home");
    Directories::homeVariablesChanged();
    ASSERT_TRUE(QDir::setCurrent(other.path()));
    EXPECT_EQ(Directories::homePath(), other.path() + "/relative-home");
    ASSERT_TRUE(QDir::setCurrent(home));
    EXPECT_EQ(Directories::homePath(), home + "/relative-home");
    QDir::setCurrent(workingDirectory);
    qputenv("KORVANE_HOME", home.toUtf8());
    Directories::homeVariablesChanged();
    EXPECT_EQ(Directories::homePath(), home);
}

TEST(AtomicFile, ReplacesWholeWithItsModeAndLeavesNoTemporaryFile)
{
    const QString folder = testsupport::testHome() + "/a/b";
    const QString path = folder + "/file.json";
    ASSERT_TRUE(writeFileAtomically(path, "first"));
    EXPECT_EQ(modeOf(path), 0644);
    ASSERT_TRUE(writeFileAtomically(path, "second", nullptr, QFile::ReadOwner | QFile::WriteOwner));
    EXPECT_EQ(modeOf(path), 0600);
    EXPECT_EQ(readFile(path).value_or("?"), "second");
    EXPECT_EQ(entriesOf(folder), QStringList{"file.json"});

    EXPECT_FALSE(readFile(path, 5).has_value()) << "larger than the limit";
    EXPECT_EQ(readFile(path, 6).value_or("?"), "second") << "exactly the limit";
    // Files whose size reads 0 while they hold more are read whole, and still bounded.
    EXPECT_TRUE(readFile("/proc/self/status", 1 << 20).value_or(QByteArray()).contains("Name:"));
    EXPECT_FALSE(readFile("/proc/self/status", 10).has_value());
    EXPECT_FALSE(readFile(folder + "/missing").has_value());
    EXPECT_FALSE(readFile(folder).has_value()) << "a folder";
}

TEST(AtomicFile, FailedWriteLeavesTheOldFileIntact)
{
    const QString folder = testsupport::testHome() + "/data";
    const QString path = folder + "/keep.txt";
    ASSERT_TRUE(writeFileAtomically(path, "old content"));

    // The write fails half-way: the file size limit stops it (works even as root).
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit saved {};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    struct rlimit tight = saved;
    tight.rlim_cur = 16;
    ::setrlimit(RLIMIT_FSIZE, &tight);
    QString error;
    const bool ok = writeFileAtomically(path, QByteArray(4096, 'x'), &error);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_FALSE(ok);
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(readFile(path).value_or("?"), "old content");
    EXPECT_EQ(entriesOf(folder), QStringList{"keep.txt"});
    EXPECT_FALSE(writeFileAtomically(path + "/child", "x")) << "a parent that is a file";
}
