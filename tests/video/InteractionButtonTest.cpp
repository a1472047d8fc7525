#include "video/KRInteractionButton.h"

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

TEST(InteractionButtonTest, TheTripleButtonHasAWideLowIconTheOthersASquareOne)
{
    struct Case {
        int tag;
        QRectF icon;
    };
    for (const Case& c : {Case{7600, QRectF(7, 10, 46, 22)}, Case{7601, QRectF(16, 4, 28, 28)}, Case{7604, QRectF(16, 4, 28, 28)},
                          Case{0, QRectF(16, 4, 28, 28)}}) {
        SCOPED_TRACE(c.tag);
        KRInteractionButton button(ButtonTypeCustom, QRectF(0, 0, 60, 50));
        button.setTag(c.tag);
        button.setImage(icon(QSize(64, 64)), ControlStateNormal);
        button.setTitle(QStringLiteral("点赞"), ControlStateNormal);
        button.layoutIfNeeded();
        ASSERT_NE(button.existingImageView(), nullptr);
        EXPECT_EQ(button.imageView()->frame(), c.icon);
        EXPECT_EQ(button.imageView()->contentMode(), ContentModeScaleAspectFit);
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
    EXPECT_EQ(narrow.imageView()->frame(), QRectF(5, 10, 20, 22));

    KRInteractionButton tiny(ButtonTypeCustom, QRectF(0, 0, 4, 20));
    tiny.layoutIfNeeded();
    // side = min(4 - 10, 28) = -6: placed by it, at least 1 wide.
    EXPECT_EQ(tiny.imageView()->frame(), QRectF(5, 4, 1, 28));
    EXPECT_EQ(tiny.titleLabel()->frame(), QRectF(2, 31, 1, 15));

    KRInteractionButton tall(ButtonTypeCustom, QRectF(0, 0, 75, 70));
    tall.layoutIfNeeded();
    EXPECT_EQ(tall.imageView()->frame(), QRectF(23, 4, 28, 28));
    EXPECT_EQ(tall.titleLabel()->frame(), QRectF(2, 51, 71, 15));
}

} // namespace
