#include "video/KRVideoDetailSupport.h"

#include "platform/device/DeviceProfile.h"
#include "platform/uikit/Image.h"

#include <QImage>

#include <QUrl>

#include <gtest/gtest.h>

namespace {

class VideoDetailSupportTest : public ::testing::Test {
protected:
    void TearDown() override { platform::DeviceProfile::resetForTesting(); }
};

TEST_F(VideoDetailSupportTest, MajorVersionIsTheFirstComponent)
{
    struct Case {
        const char* version;
        int major;
    };
    for (const Case& c : {Case{"16.7", 16}, Case{"5.0", 5}, Case{"8", 8}, Case{"", 0}, Case{"x.1", 0}, Case{"12.4.1", 12}}) {
        SCOPED_TRACE(c.version);
        platform::DeviceProfile::setSystemVersionForTesting(QString::fromLatin1(c.version));
        EXPECT_EQ(KRVideoSystemMajorVersion(), c.major);
    }
}

TEST_F(VideoDetailSupportTest, OnlyFileTextCountsAsALocalCopy)
{
    EXPECT_TRUE(KRDetailPlaybackURLIsLocalFile(QStringLiteral("file:///home/u/a.mp4")));
    EXPECT_FALSE(KRDetailPlaybackURLIsLocalFile(QStringLiteral("FILE:///home/u/a.mp4")));
    EXPECT_FALSE(KRDetailPlaybackURLIsLocalFile(QStringLiteral("https://a.test/file://")));
    EXPECT_FALSE(KRDetailPlaybackURLIsLocalFile(QVariant(QUrl(QStringLiteral("file:///home/u/a.mp4")))));
    EXPECT_FALSE(KRDetailPlaybackURLIsLocalFile(QVariant()));
    EXPECT_FALSE(KRDetailPlaybackURLIsLocalFile(QVariant(QString())));
}

TEST_F(VideoDetailSupportTest, NoSystemNeedsAPicturePlayerOfThePagesOwn)
{
    for (const char* version : {"5.0", "5", "5.1", "8.4", "15.0", "16.7"}) {
        SCOPED_TRACE(version);
        platform::DeviceProfile::setSystemVersionForTesting(QString::fromLatin1(version));
        EXPECT_FALSE(KRNeedsAppOwnedAVLayerCompatibility());
        EXPECT_FALSE(KRIOS15NeedsAVLayerCompatibility());
    }
}

} // namespace

namespace {

// A tinted icon keeps the source's alpha in the colour; no colour and an invalid colour both
// leave the icon as drawn (an invalid colour used to fill it black).
TEST(VideoDetailTintedImageTest, AnInvalidColourIsNoColour)
{
    QImage source(4, 4, QImage::Format_ARGB32_Premultiplied);
    source.fill(Qt::transparent);
    source.setPixelColor(1, 1, QColor(10, 200, 30));
    const platform::uikit::Image icon(source);

    const platform::uikit::Image white = KRDetailTintedImage(icon, QColor(Qt::white));
    EXPECT_EQ(white.image().pixelColor(1, 1), QColor(Qt::white));
    EXPECT_EQ(white.image().pixelColor(0, 0).alpha(), 0);
    for (const std::optional<QColor>& none : {std::optional<QColor>(), std::optional<QColor>(QColor())}) {
        const platform::uikit::Image same = KRDetailTintedImage(icon, none);
        EXPECT_EQ(same.image().pixelColor(1, 1), QColor(10, 200, 30));
    }
}

// A tinted icon keeps its size in points: an icon drawn at the screen's scale keeps that scale,
// one below 1 is drawn at 1.
TEST(VideoDetailTintedImageTest, TheIconKeepsItsSizeAtItsScaleNeverBelowOne)
{
    QImage source(56, 56, QImage::Format_ARGB32_Premultiplied);
    source.fill(Qt::transparent);
    source.setPixelColor(30, 30, QColor(10, 200, 30));
    source.setDevicePixelRatio(2);
    const platform::uikit::Image retina(source);
    ASSERT_EQ(retina.size(), QSizeF(28, 28));
    const platform::uikit::Image tinted = KRDetailTintedImage(retina, QColor(Qt::red));
    EXPECT_EQ(tinted.scale(), 2);
    EXPECT_EQ(tinted.size(), QSizeF(28, 28));
    EXPECT_EQ(tinted.image().pixelColor(30, 30), QColor(Qt::red));

    source.setDevicePixelRatio(1);
    EXPECT_EQ(KRDetailTintedImage(platform::uikit::Image(source), QColor(Qt::red)).size(), QSizeF(56, 56));
    source.setDevicePixelRatio(0.5);
    const platform::uikit::Image small = KRDetailTintedImage(platform::uikit::Image(source), QColor(Qt::blue));
    EXPECT_EQ(small.scale(), 1);
    EXPECT_EQ(small.size(), QSizeF(56, 56));
}

} // namespace
