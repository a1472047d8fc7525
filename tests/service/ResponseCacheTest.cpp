#include "support/TestSupport.h"

#include "service/KRAPIResponseCache.h"
#include "model/KRServiceHosts.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

QString apiURL(const QString& path) { return QStringLiteral("https://") + KRServiceHosts::apiHost() + path; }
QString oldURL(const QString& path) { return QStringLiteral("http://") + KRServiceHosts::oldAPIHost() + path; }

QString fileName(const QString& path) { return QFileInfo(path).fileName(); }

TEST(ResponseCacheTest, KeepsOnlyViewAndSearchReplies)
{
    for (const QString& url : {apiURL(QStringLiteral("/x/web-interface/view?aid=1")), apiURL(QStringLiteral("/x/web-interface/search/type?keyword=a")),
                               apiURL(QStringLiteral("/x/web-interface/wbi/search/type?keyword=a&w_rid=1&wts=2")),
                               oldURL(QStringLiteral("/list?tid=1")), oldURL(QStringLiteral("/search?keyword=a")), oldURL(QStringLiteral("/view?aid=1"))})
        EXPECT_TRUE(KRShouldCacheURL(url)) << url.toStdString();
    for (const QString& url : {apiURL(QStringLiteral("/x/web-interface/popular?pn=1")), apiURL(QStringLiteral("/x/web-interface/view/detail?aid=1")),
                               QStringLiteral("https://") + KRServiceHosts::webHost() + QStringLiteral("/x/web-interface/view"),
                               oldURL(QStringLiteral("/playurl?aid=1")), QString(), QStringLiteral("https://") + KRServiceHosts::apiHost()})
        EXPECT_FALSE(KRShouldCacheURL(url)) << url.toStdString();
}

TEST(ResponseCacheTest, FileNameIsTheAddressHashInEightHexDigits)
{
    const QString empty = KRCachePathForURL(QString());
    EXPECT_EQ(fileName(empty), QStringLiteral("00001505.json"));
    EXPECT_EQ(QFileInfo(empty).absolutePath(), QDir(testsupport::testHome()).filePath(QStringLiteral("Library/Caches/Korvane")));
    EXPECT_TRUE(QFileInfo(QFileInfo(empty).absolutePath()).isDir()) << "the folder is made with the path";

    // h = (h * 33) ^ byte from 5381, over the UTF-8 text: "a" → 0x0002b5c4, "ab" → 0x00596e26.
    EXPECT_EQ(fileName(KRCachePathForURL(QStringLiteral("a"))), QStringLiteral("0002b5c4.json"));
    EXPECT_EQ(fileName(KRCachePathForURL(QStringLiteral("ab"))), QStringLiteral("00596e26.json"));
    // Long texts wrap in 32 bits and still print eight digits.
    EXPECT_EQ(fileName(KRCachePathForURL(apiURL(QStringLiteral("/x/web-interface/view?aid=1")))).size(), 13);
}

TEST(ResponseCacheTest, SignedAddressesShareOneFileWhateverTheirTimeAndDigest)
{
    const QString base = apiURL(QStringLiteral("/x/web-interface/wbi/search/type"));
    const QString first = KRCachePathForURL(base + QStringLiteral("?keyword=a&page=1&w_rid=0123&wts=1700000000"));
    EXPECT_EQ(first, KRCachePathForURL(base + QStringLiteral("?keyword=a&page=1&w_rid=4567&wts=1700000600")));
    EXPECT_EQ(first, KRCachePathForURL(base + QStringLiteral("?keyword=a&page=1")));
    EXPECT_NE(first, KRCachePathForURL(base + QStringLiteral("?keyword=a&page=2&w_rid=0123&wts=1700000000")));
    // Parameter order still matters, and a parameter merely named like them stays.
    EXPECT_NE(first, KRCachePathForURL(base + QStringLiteral("?page=1&keyword=a")));
    EXPECT_NE(KRCachePathForURL(base + QStringLiteral("?wtsx=1")), KRCachePathForURL(base));
    EXPECT_EQ(KRCachePathForURL(base + QStringLiteral("?wts=1&w_rid=2")), KRCachePathForURL(base));
}

} // namespace
