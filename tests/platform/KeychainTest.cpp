#include "support/TestSupport.h"

#include "platform/foundation/Directories.h"
#include "platform/security/Hash.h"
#include "platform/security/Keychain.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace platform;

namespace {

const QString kService = QStringLiteral("com.tarnwick.korvane5.session");
const QString kAccount = QStringLiteral("account-web");

int modeOf(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

} // namespace

TEST(Keychain, AnswersThePlatformStatusCodes)
{
    QByteArray data("untouched");
    EXPECT_EQ(Keychain::copy(kService, kAccount, &data), Keychain::errSecItemNotFound);
    EXPECT_EQ(data, QByteArray("untouched"));
    EXPECT_EQ(Keychain::update(kService, kAccount, "x"), -25300);
    EXPECT_EQ(Keychain::remove(kService, kAccount), -25300);

    EXPECT_EQ(Keychain::add(kService, kAccount, QByteArray("bplist00\x00secret", 15)), Keychain::errSecSuccess);
    EXPECT_EQ(Keychain::add(kService, kAccount, "again"), Keychain::errSecDuplicateItem);
    EXPECT_EQ(Keychain::errSecDuplicateItem, -25299);
    EXPECT_EQ(Keychain::copy(kService, kAccount, &data), 0);
    EXPECT_EQ(data, QByteArray("bplist00\x00secret", 15));
    EXPECT_EQ(Keychain::copy(kService, kAccount, nullptr), 0);

    // Items are told apart by both parts, also where a naive concatenation would collide.
    EXPECT_EQ(Keychain::copy(kService, kAccount + QStringLiteral("x"), nullptr), Keychain::errSecItemNotFound);
    EXPECT_EQ(Keychain::add(QStringLiteral("ab"), QStringLiteral("c"), "1"), 0);
    EXPECT_EQ(Keychain::add(QStringLiteral("a"), QStringLiteral("bc"), "2"), 0);
    EXPECT_EQ(Keychain::copy(QStringLiteral("ab"), QStringLiteral("c"), &data), 0);
    EXPECT_EQ(data, QByteArray("1"));

    EXPECT_EQ(Keychain::update(kService, kAccount, QByteArray()), 0);
    EXPECT_EQ(Keychain::copy(kService, kAccount, &data), 0);
    EXPECT_TRUE(data.isEmpty());
    EXPECT_EQ(Keychain::remove(kService, kAccount), 0);
    EXPECT_EQ(Keychain::copy(kService, kAccount, &data), Keychain::errSecItemNotFound);

    EXPECT_EQ(Keychain::add(QString(), kAccount, "x"), Keychain::errSecParam);
    EXPECT_EQ(Keychain::copy(kService, QString(), nullptr), Keychain::errSecParam);
}

TEST(Keychain, ItemsArePrivateFilesAndUnreadableOnesAreIOErrors)
{
    ASSERT_EQ(Keychain::add(kService, kAccount, "token"), 0);
    const QString path = Keychain::itemPath(kService, kAccount);
    EXPECT_TRUE(path.startsWith(Directories::keychains() + QLatin1Char('/')));
    EXPECT_FALSE(path.contains(kAccount)) << "file names do not reveal the item";
    EXPECT_EQ(modeOf(Directories::keychains()), 0700);
    EXPECT_EQ(modeOf(path), 0600);
    ASSERT_EQ(Keychain::update(kService, kAccount, "token2"), 0);
    EXPECT_EQ(modeOf(path), 0600);
    EXPECT_EQ(QDir(Directories::keychains()).entryList(QDir::Files | QDir::Hidden).size(), 1) << "no temporary left";

    // An unreadable item is an I/O failure, not "not found" (which would invite an add).
    if (::geteuid() != 0) {
        ::chmod(QFile::encodeName(path).constData(), 0);
        EXPECT_EQ(Keychain::copy(kService, kAccount, nullptr), Keychain::errSecIO);
        ::chmod(QFile::encodeName(path).constData(), 0600);
    }
    QFile::remove(path);
    ASSERT_TRUE(QDir().mkpath(path));  // a folder where the item should be
    EXPECT_EQ(Keychain::copy(kService, kAccount, nullptr), Keychain::errSecIO);
    EXPECT_EQ(Keychain::update(kService, kAccount, "x"), Keychain::errSecIO);
}

TEST(Hash, LowerCaseHexDigests)
{
    EXPECT_EQ(Hash::md5Hex(""), QStringLiteral("d41d8cd98f00b204e9800998ecf8427e"));
    EXPECT_EQ(Hash::md5Hex("abc"), QStringLiteral("900150983cd24fb0d6963f7d28e17f72"));
    EXPECT_EQ(Hash::sha256Hex("abc"),
              QStringLiteral("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
}
