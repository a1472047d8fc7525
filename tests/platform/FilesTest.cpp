#include "support/TestSupport.h"

#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Directories.h"

#include <QDir>
#include <QFileInfo>
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
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return int(st.st_mode & 07777);
}

QStringList entriesOf(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
}

} // namespace

TEST(Directories, FollowTheCurrentHomeAndCreateFolders)
{
    const QString home = testsupport::testHome();
    EXPECT_EQ(Directories::home(), QDir::cleanPath(home));
    EXPECT_EQ(Directories::caches(), home + QStringLiteral("/Library/Caches"));
    EXPECT_EQ(Directories::applicationSupport(), home + QStringLiteral("/Library/Application Support"));
    EXPECT_EQ(Directories::preferences(), home + QStringLiteral("/Library/Preferences"));
    EXPECT_EQ(Directories::documents(), home + QStringLiteral("/Documents"));
    EXPECT_EQ(Directories::temporary(), home + QStringLiteral("/tmp"));
    EXPECT_TRUE(QFileInfo(Directories::caches()).isDir());
    EXPECT_EQ(modeOf(Directories::keychains()), 0700);

    ::chmod(QFile::encodeName(Directories::keychains()).constData(), 0755);
    EXPECT_EQ(modeOf(Directories::keychains()), 0700) << "a loosened keychain folder is tightened again";

    QTemporaryDir other;
    qputenv("KORVANE_HOME", other.path().toUtf8());
    EXPECT_EQ(Directories::documents(), other.path() + QStringLiteral("/Documents"));
    qputenv("KORVANE_HOME", home.toUtf8());
}

TEST(AtomicFile, WritesWithModeCreatesFoldersAndLeavesNoTemporaryFile)
{
    const QString folder = testsupport::testHome() + QStringLiteral("/a/b");
    const QString path = folder + QStringLiteral("/file.json");
    QString error;
    ASSERT_TRUE(writeFileAtomically(path, "first", &error)) << error.toStdString();
    EXPECT_EQ(modeOf(path), 0644);
    ASSERT_TRUE(writeFileAtomically(path, "second", nullptr, QFile::ReadOwner | QFile::WriteOwner));
    EXPECT_EQ(modeOf(path), 0600);
    EXPECT_EQ(readFile(path).value_or("?"), QByteArray("second"));
    EXPECT_EQ(entriesOf(folder), QStringList{QStringLiteral("file.json")});

    ASSERT_TRUE(writeFileAtomically(path, QByteArray()));
    EXPECT_EQ(readFile(path).value_or("?"), QByteArray());
}

TEST(AtomicFile, FailedWriteLeavesTheOldFileIntact)
{
    const QString folder = testsupport::testHome() + QStringLiteral("/data");
    const QString path = folder + QStringLiteral("/keep.txt");
    ASSERT_TRUE(writeFileAtomically(path, "old content"));

    // The write itself fails half-way: the file size limit stops it (works even as root).
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
    EXPECT_EQ(readFile(path).value_or("?"), QByteArray("old content"));
    EXPECT_EQ(entriesOf(folder), QStringList{QStringLiteral("keep.txt")});

    if (::geteuid() != 0) {
        // An unwritable folder: no temporary file can be made.
        ::chmod(QFile::encodeName(folder).constData(), 0500);
        EXPECT_FALSE(writeFileAtomically(path, "new"));
        ::chmod(QFile::encodeName(folder).constData(), 0700);
        EXPECT_EQ(readFile(path).value_or("?"), QByteArray("old content"));
    }
    // A parent that is a file.
    EXPECT_FALSE(writeFileAtomically(path + QStringLiteral("/child"), "x", &error));
}

TEST(AtomicFile, ReadRefusesMissingFoldersAndOversizedFiles)
{
    const QString path = testsupport::testHome() + QStringLiteral("/f.bin");
    QString error;
    EXPECT_FALSE(readFile(path, -1, &error).has_value());
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(readFile(testsupport::testHome()).has_value());
    ASSERT_TRUE(writeFileAtomically(path, "0123456789"));
    EXPECT_EQ(readFile(path, 10).value_or("?"), QByteArray("0123456789"));
    EXPECT_FALSE(readFile(path, 9).has_value());
}
