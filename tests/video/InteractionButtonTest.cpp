#include "video/KRInteractionButton.h"

#include "platform/uikit/Geometry.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"

#include <QImage>

#include <gtest/gtest.h>

using namespace platform::uikit;

namespace {

Image icon(QSize size)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::red);
    return Image(image);
}

// The box the button fits its icon into.
QRectF iconBox(const KRInteractionButton& button)
{
    return EdgeInsetsInsetRect(QRectF(QPointF(), button.bounds().size()), button.imageEdgeInsets());
}

// Where the button paints its (red) icon.
QRect paintedIcon(KRInteractionButton& button)
{
    QImage image(button.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    button.render(&image);
    QRect found;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.alpha() > 128 && pixel.red() > 200 && pixel.green() < 60)
                found |= QRect(x, y, 1, 1);
        }
    return found;
}

TEST(InteractionButtonTest, TheTripleButtonHasAWideLowIconTheOthersASquareOne)
{
    struct Case {
        int tag;
        QRectF box;
        QRect painted;
    };
    // A square picture fits the wide box by its height, centred.
    for (const Case& c : {Case{7600, QRectF(7, 10, 46, 22), QRect(19, 10, 22, 22)}, Case{7601, QRectF(16, 4, 28, 28), QRect(16, 4, 28, 28)},
                          Case{7604, QRectF(16, 4, 28, 28), QRect(16, 4, 28, 28)}, Case{0, QRectF(16, 4, 28, 28), QRect(16, 4, 28, 28)}}) {
        SCOPED_TRACE(c.tag);
        KRInteractionButton button(ButtonTypeCustom, QRectF(0, 0, 60, 50));
        button.setTag(c.tag);
        button.setImage(icon(QSize(64, 64)), ControlStateNormal);
        button.setTitle(QStringLiteral("点赞"), ControlStateNormal);
        button.layoutIfNeeded();
        EXPECT_EQ(iconBox(button), c.box);
        EXPECT_EQ(button.imageContentMode(), ContentModeScaleAspectFit);
        EXPECT_EQ(paintedIcon(button), c.painted);
        // The button paints the icon itself: no picture view is made for it.
        EXPECT_EQ(button.existingImageView(), nullptr);
        EXPECT_EQ(button.titleLabel()->frame(), QRectF(2, 31, 56, 15));
        EXPECT_EQ(button.titleLabel()->textAlignment(), TextAlignmentCenter);
    }
}

TEST(InteractionButtonTest, NarrowAndTallButtons)
{
    KRInteractionButton narrow(ButtonTypeCustom, QRectF(0, 0, 30, 50));
    narrow.setTag(7600);
    narrow.layoutIfNeeded();
    // side = min(30 - 10, 46) = 20, centred.
    EXPECT_EQ(iconBox(narrow), QRectF(5, 10, 20, 22));

    KRInteractionButton tiny(ButtonTypeCustom, QRectF(0, 0, 4, 20));
    tiny.layoutIfNeeded();
    // side = min(4 - 10, 28) = -6: placed by it, at least 1 wide.
    EXPECT_EQ(iconBox(tiny), QRectF(5, 4, 1, 28));
    EXPECT_EQ(tiny.titleLabel()->frame(), QRectF(2, 31, 1, 15));

    KRInteractionButton tall(ButtonTypeCustom, QRectF(0, 0, 75, 70));
    tall.setImage(icon(QSize(28, 28)), ControlStateNormal);
    tall.layoutIfNeeded();
    EXPECT_EQ(iconBox(tall), QRectF(23, 4, 28, 28));
    EXPECT_EQ(paintedIcon(tall), QRect(23, 4, 28, 28));
    EXPECT_EQ(tall.titleLabel()->frame(), QRectF(2, 51, 71, 15));
}

} // namespace
