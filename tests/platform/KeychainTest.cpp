#include "support/TestSupport.h"

#include "platform/foundation/Directories.h"
#include "platform/security/Hash.h"
#include "platform/security/Keychain.h"

#include <QDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace platform;

namespace {

const QString kService = "com.tarnwick.korvane5.session";
const QString kAccount = "account-web";

int modeOf(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

} // namespace

TEST(Keychain, AnswersThePlatformStatusCodes)
{
    QByteArray data("untouched");
    EXPECT_EQ(Keychain::copy(kService, kAccount, &data), -25300);
    EXPECT_EQ(data, "untouched");
    EXPECT_EQ(Keychain::update(kService, kAccount, "x"), -25300) << "an update never creates";
    EXPECT_EQ(Keychain::remove(kService, kAccount), -25300);

    const QByteArray secret("bplist00\x00secret", 15);
    EXPECT_EQ(Keychain::add(kService, kAccount, secret), 0);
    EXPECT_EQ(Keychain::add(kService, kAccount, "again"), -25299);
    EXPECT_EQ(Keychain::copy(kService, kAccount, &data), 0);
    EXPECT_EQ(data, secret);

    // Items are told apart by both parts, also where a naive concatenation would collide.
    EXPECT_EQ(Keychain::add("ab", "c", "1"), 0);
    EXPECT_EQ(Keychain::add("a", "bc", "2"), 0);
    EXPECT_EQ(Keychain::copy("ab", "c", &data), 0);
    EXPECT_EQ(data, "1");

    EXPECT_EQ(Keychain::update(kService, kAccount, QByteArray()), 0);
    EXPECT_EQ(Keychain::copy(kService, kAccount, &data), 0);
    EXPECT_TRUE(data.isEmpty());
    EXPECT_EQ(Keychain::remove(kService, kAccount), 0);
    EXPECT_EQ(Keychain::copy(kService, kAccount, nullptr), -25300);
    EXPECT_EQ(Keychain::add(QString(), kAccount, "x"), Keychain::errSecParam);
}

TEST(Keychain, ItemsArePrivateFilesAndUnreadableOnesAreIOErrors)
{
    ASSERT_EQ(Keychain::add(kService, kAccount, "token"), 0);
    ASSERT_EQ(Keychain::update(kService, kAccount, "token2"), 0);
    const QString path = Keychain::itemPath(kService, kAccount);
    EXPECT_TRUE(path.startsWith(Directories::keychains() + '/'));
    EXPECT_FALSE(path.contains(kAccount)) << "file names do not reveal the item";
    EXPECT_EQ(modeOf(Directories::keychains()), 0700);
    EXPECT_EQ(modeOf(path), 0600);
    EXPECT_EQ(QDir(Directories::keychains()).entryList(QDir::Files | QDir::Hidden).size(), 1) << "no temporary left";

    // An unreadable item is an I/O failure, not "not found" (which would invite an add).
    QFile::remove(path);
    ASSERT_TRUE(QDir().mkpath(path));
    EXPECT_EQ(Keychain::copy(kService, kAccount, nullptr), Keychain::errSecIO);
    EXPECT_EQ(Keychain::update(kService, kAccount, "x"), Keychain::errSecIO);
}

TEST(Hash, LowerCaseHexDigests)
{
    EXPECT_EQ(Hash::md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Hash::sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}
