#include "images/KRImageMemoryCache.h"

#include <gtest/gtest.h>

namespace {

QImage picture(int width, int height) { return QImage(width, height, QImage::Format_ARGB32); }

TEST(ImageMemoryCache, EvictsTheLeastRecentlyUsedPastEitherLimit)
{
    // 10×10 ARGB is 400 bytes.
    KRImageMemoryCache cache(3, 1000);
    cache.setObject(QStringLiteral("a"), picture(10, 10));
    cache.setObject(QStringLiteral("b"), picture(10, 10));
    EXPECT_TRUE(cache.object(QStringLiteral("a")).has_value()); // a is now the most recent
    cache.setObject(QStringLiteral("c"), picture(10, 10));    // 1200 bytes: b goes
    EXPECT_FALSE(cache.object(QStringLiteral("b")).has_value());
    EXPECT_EQ(cache.count(), 2);
    EXPECT_EQ(cache.totalCost(), 800);

    KRImageMemoryCache counted(2, 1 << 20);
    for (const char* key : {"a", "b", "c"})
        counted.setObject(QString::fromLatin1(key), picture(1, 1));
    EXPECT_EQ(counted.count(), 2);
    EXPECT_FALSE(counted.object(QStringLiteral("a")).has_value());

    // Replacing an entry counts it once; a null picture costs nothing; one larger than the
    // whole limit does not stay.
    cache.setObject(QStringLiteral("c"), picture(5, 5));
    cache.setObject(QStringLiteral("n"), QImage());
    EXPECT_EQ(cache.totalCost(), 400 + 100);
    cache.setObject(QStringLiteral("big"), picture(100, 100));
    EXPECT_FALSE(cache.object(QStringLiteral("big")).has_value());
    EXPECT_TRUE(cache.object(QStringLiteral("a")).has_value());
    cache.removeAllObjects();
    EXPECT_EQ(cache.count(), 0);
    EXPECT_EQ(cache.totalCost(), 0);
}

} // namespace
