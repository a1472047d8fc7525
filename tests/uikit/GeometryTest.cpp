#include "platform/uikit/Geometry.h"

#include <gtest/gtest.h>

using namespace platform::uikit;

TEST(KitGeometry, ConsoleFormsUseShortestExactNumbers)
{
    const struct {
        QString actual, expected;
    } cases[] = {
        {StringFromRect(QRectF(0, 0, 375, 667)), QStringLiteral("{{0, 0}, {375, 667}}")},
        {StringFromRect(QRectF(0.5, -1.5, 10, 20.25)), QStringLiteral("{{0.5, -1.5}, {10, 20.25}}")},
        {StringFromEdgeInsets({20, 0, 0, 0}), QStringLiteral("{20, 0, 0, 0}")},
        {StringFromSize(QSizeF(667, 375)), QStringLiteral("{667, 375}")},
        {StringFromPoint(QPointF(-0.0, 0.1)), QStringLiteral("{0, 0.1}")},
        {StringFromEdgeInsets({44, 0, 34, 0}), QStringLiteral("{44, 0, 34, 0}")},
        {StringFromNumber(1.0 / 3), QStringLiteral("0.3333333333333333")},
        {StringFromNumber(1e21), QStringLiteral("1e+21")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.actual, c.expected);
}

TEST(KitGeometry, InsetRectAndOrientationMasks)
{
    EXPECT_EQ(EdgeInsetsInsetRect(QRectF(0, 0, 100, 50), {10, 5, 10, 5}), QRectF(5, 10, 90, 30));
    EXPECT_EQ(InterfaceOrientationMaskFor(InterfaceOrientationPortrait), InterfaceOrientationMaskPortrait);
    EXPECT_EQ(InterfaceOrientationMaskFor(InterfaceOrientationLandscapeRight), InterfaceOrientationMaskLandscapeRight);
    EXPECT_EQ(InterfaceOrientationMaskFor(InterfaceOrientationLandscapeLeft), InterfaceOrientationMaskLandscapeLeft);
    EXPECT_TRUE(InterfaceOrientationIsLandscape(3));
    EXPECT_FALSE(InterfaceOrientationIsLandscape(2));
}
