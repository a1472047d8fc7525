#include "../uikit/KitTestSupport.h"

#include "look/KRShellHelpers.h"
#include "platform/uikit/View.h"
#include "platform/uikit/Window.h"

using namespace platform::uikit;

class AppShellHelpers : public KitTest {};

TEST_F(AppShellHelpers, SystemMajorVersionReadsTheFirstComponent)
{
    const struct {
        const char* version;
        int major;
    } cases[] = {{"16.7", 16}, {"5.1.1", 5}, {"7", 7}, {"", 0}, {"x.1", 0}, {"12abc.3", 12}};
    for (const auto& c : cases) {
        useDevice(QStringLiteral("iPhone10,1"), QString::fromLatin1(c.version));
        EXPECT_EQ(KRRootSystemMajorVersion(), c.major) << c.version;
    }
}

TEST_F(AppShellHelpers, RectInsetNeverGoesNegative)
{
    EXPECT_EQ(KRRectInsetBySafeArea(QRectF(0, 0, 10, 10), {8, 8, 8, 8}), QRectF(8, 8, 0, 0));
    EXPECT_EQ(KRRectInsetBySafeArea(QRectF(10, 20, 375, 667), {20, 0, 34, 0}), QRectF(10, 40, 375, 613));
}

TEST_F(AppShellHelpers, FullScreenSafeAreaFollowsTheWindowsInsets)
{
    Window w;
    auto* v = new View(QRectF(0, 200, 100, 100), &w);  // clear of every inset: its own are zero
    w.setSafeAreaInsetsForTesting({44, 0, 34, 0});
    EXPECT_EQ(KRSafeAreaInsetsForView(v), (EdgeInsets{44, 0, 34, 0}));
    EXPECT_TRUE(KRViewUsesFullScreenSafeArea(v));
    w.setSafeAreaInsetsForTesting({20, 0, 0, 0});
    EXPECT_FALSE(KRViewUsesFullScreenSafeArea(v));
    w.makeKeyAndVisible();
    EXPECT_FALSE(KRApplicationUsesFullScreenSafeArea());  // iPhone10,1 has a home button
    w.setSafeAreaInsetsForTesting({44, 0, 34, 0});
    EXPECT_TRUE(KRApplicationUsesFullScreenSafeArea());

    useDevice(QStringLiteral("iPhone10,1"), QStringLiteral("10.3"));
    EXPECT_EQ(KRSafeAreaInsetsForView(v), EdgeInsets{});
    EXPECT_FALSE(KRViewUsesFullScreenSafeArea(v));
    EXPECT_FALSE(KRApplicationUsesFullScreenSafeArea());
}

TEST_F(AppShellHelpers, TheCatalogueDecidesWhenNoWindowShowsFullScreenInsets)
{
    useDevice(QStringLiteral("iPad8,1"), QStringLiteral("16.7"));
    EXPECT_TRUE(KRApplicationUsesFullScreenSafeArea());
    useDevice(QStringLiteral("iPhone10,1"), QStringLiteral("16.7"));
    EXPECT_FALSE(KRApplicationUsesFullScreenSafeArea());
    useDevice(QString(), QStringLiteral("16.7"));
    EXPECT_FALSE(KRApplicationUsesFullScreenSafeArea());
}
