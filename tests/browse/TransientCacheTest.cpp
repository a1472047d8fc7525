#include "images/KRTransientCacheManager.h"

#include "images/KRImageLoader.h"
#include "platform/foundation/Directories.h"
#include "platform/foundation/NotificationCenter.h"
#include "support/ConsoleCapture.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>

#include <cerrno>

using namespace testsupport;

namespace {

void writeBytes(const QString& relative, qint64 size)
{
    const QString path = KRTransientCacheOwnedRoot() + QLatin1Char('/') + relative;
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(size, 'x'));
}

// The three users of the folder: the response cache, the image disk cache, the danmaku cache.
void fillCache()
{
    writeBytes(QStringLiteral("0123abcd.cache"), 100);
    writeBytes(QStringLiteral("Images/0002b5c4.jpg"), 2000);
    writeBytes(QStringLiteral("Images/nested/deeper.jpg"), 30);
    writeBytes(QStringLiteral("Danmaku/42.xml"), 400);
}

class TransientCacheTest : public ::testing::Test {
protected:
    void TearDown() override { KRTransientCacheManager::sharedManager()->setRemovalFailureForTesting(QString(), 0); }
};

TEST_F(TransientCacheTest, MeasuresEveryFileUnderTheOwnedRoot)
{
    KRTransientCacheManager* manager = KRTransientCacheManager::sharedManager();
    EXPECT_EQ(manager->cachedByteCount(), 0);
    fillCache();
    // Files of others beside the root are not ours.
    QFile outside(platform::Directories::caches() + QStringLiteral("/KorvaneRuntime.log"));
    ASSERT_TRUE(outside.open(QIODevice::WriteOnly));
    outside.write(QByteArray(5000, 'y'));
    outside.close();
    EXPECT_EQ(manager->cachedByteCount(), 2530);
    EXPECT_EQ(KRTransientCacheRemovablePaths(),
              (QStringList{KRTransientCacheOwnedRoot() + QStringLiteral("/0123abcd.cache"), KRTransientCacheOwnedRoot() + QStringLiteral("/Danmaku"),
                           KRTransientCacheOwnedRoot() + QStringLiteral("/Images")}));
}

TEST_F(TransientCacheTest, AClearEmptiesTheRootAndTellsTheSettings)
{
    fillCache();
    KRTransientCacheManager* manager = KRTransientCacheManager::sharedManager();
    int posted = 0;
    const platform::ObserverToken token = platform::NotificationCenter::defaultCenter().addObserver(
        KRTransientCacheDidChangeNotification, manager, [&](const platform::Notification&) { ++posted; });
    ConsoleCapture console;
    std::optional<bool> result;
    KROptionalError reported;
    manager->clearCachedDataWithCompletion(nullptr, [&](bool success, const KROptionalError& error) {
        EXPECT_EQ(posted, 1); // the notification comes first
        result = success;
        reported = error;
    });
    EXPECT_FALSE(result.has_value());
    KR_WAIT_UNTIL(result.has_value());
    EXPECT_TRUE(*result);
    EXPECT_FALSE(reported.has_value());
    EXPECT_TRUE(QFileInfo(KRTransientCacheOwnedRoot()).isDir());
    EXPECT_TRUE(KRTransientCacheRemovablePaths().isEmpty());
    EXPECT_EQ(manager->cachedByteCount(), 0);
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneCache] transient cache clear success=YES code=0 item=none")));
}

TEST_F(TransientCacheTest, AnEntryThatResistsRemovalLeavesTheRestCleared)
{
    fillCache();
    KRTransientCacheManager* manager = KRTransientCacheManager::sharedManager();
    manager->setRemovalFailureForTesting(QStringLiteral("Danmaku"), EBUSY);
    ConsoleCapture console;
    KROptionalError error;
    EXPECT_FALSE(manager->clearCachedData(&error));
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->domain(), KRTransientCacheErrorDomain);
    EXPECT_EQ(error->code(), EBUSY);
    EXPECT_EQ(error->message(), QStringLiteral("部分缓存正在被使用，已清除其余可删除内容。请关闭播放后重试。"));
    ASSERT_NE(error->underlying(), nullptr);
    EXPECT_EQ(error->underlying()->code(), EBUSY);
    EXPECT_EQ(KRTransientCacheRemovablePaths(), QStringList{KRTransientCacheOwnedRoot() + QStringLiteral("/Danmaku")});
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneCache] transient cache clear success=NO code=%1 item=Danmaku").arg(EBUSY)));

    // Through the queue the completion hears the same.
    std::optional<bool> result;
    KROptionalError reported;
    manager->clearCachedDataWithCompletion(nullptr, [&](bool success, const KROptionalError& failure) {
        result = success;
        reported = failure;
    });
    KR_WAIT_UNTIL(result.has_value());
    EXPECT_FALSE(*result);
    ASSERT_TRUE(reported.has_value());
    EXPECT_EQ(reported->code(), EBUSY);
}

TEST_F(TransientCacheTest, AClearEmptiesTheImageMemoryCache)
{
    // The shared loader's memory cache holds what it loaded; a clear leaves nothing there.
    KRImageLoader* loader = KRImageLoader::sharedLoader();
    QFile file(platform::Directories::documents() + QStringLiteral("/p.bmp"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    QImage(4, 4, QImage::Format_RGB32).save(&file, "BMP");
    file.close();
    bool loaded = false;
    loader->loadImageForURLString(QStringLiteral("file://") + file.fileName(), nullptr, [&](const platform::uikit::Image& image) {
        loaded = !image.isNull();
    });
    KR_WAIT_UNTIL(loaded);
    ASSERT_GE(loader->memoryCacheCountForTesting(), 1);
    EXPECT_TRUE(KRTransientCacheManager::sharedManager()->clearCachedData());
    EXPECT_EQ(loader->memoryCacheCountForTesting(), 0);
}

} // namespace
