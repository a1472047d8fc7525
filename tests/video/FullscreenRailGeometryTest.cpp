#include "../uikit/KitTestSupport.h"

#include "platform/uikit/Device.h"
#include "platform/uikit/View.h"
#include "platform/uikit/ViewController.h"
#include "platform/uikit/Window.h"
#include "video/KRVideoFullscreenSupport.h"

#include <limits>
#include <string>

using platform::uikit::EdgeInsets;
using platform::uikit::StringFromRect;

namespace {
struct RailCase {
    const char* name;
    QSizeF host;
    EdgeInsets insets;
    const char* rail;
    qreal row;
    bool landscape;
    bool compact;
};

// The hosts a full-screen player has: a 375-point phone turned, the 320-point-high compact
// phone, a pad turned, a phone held upright, and a tall phone with its safe insets.
const RailCase kRailCases[] = {
    {"iPhone10,1 landscape", {667, 375}, {}, "{{603, 73}, {54, 210}}", 42, true, false},
    {"iPhone5,1 landscape", {568, 320}, {}, "{{504, 53}, {54, 190}}", 38, true, true},
    {"iPad2,1 landscape", {1024, 768}, {}, "{{960, 270}, {54, 210}}", 42, true, false},
    {"iPhone10,1 portrait", {375, 667}, {}, "{{321, 211}, {54, 245}}", 49, false, false},
    {"tall phone landscape with insets", {812, 375}, {0, 44, 21, 44}, "{{704, 63}, {54, 210}}", 42, true, false},
    {"tall phone portrait with insets", {375, 812}, {44, 0, 34, 0}, "{{321, 288}, {54, 245}}", 49, false, false},
    {"a host too low for the rail keeps it 2 below the top", {400, 150}, {10, 0, 0, 0}, "{{336, 12}, {54, 190}}", 38, true, true},
    {"a square host is portrait", {300, 300}, {}, "{{246, 27}, {54, 245}}", 49, false, false},
};
} // namespace

class FullscreenRail : public ::testing::TestWithParam<RailCase> {};

TEST_P(FullscreenRail, SitsOnTheRightAtTheLoggedFrame)
{
    const RailCase& c = GetParam();
    const KRFullscreenRailGeometry g = KRFullscreenRailGeometryForHost(c.host, c.insets);
    EXPECT_EQ(StringFromRect(g.rail), QString::fromUtf8(c.rail)) << c.name;
    EXPECT_EQ(g.rowHeight, c.row) << c.name;
    EXPECT_EQ(g.landscape, c.landscape) << c.name;
    EXPECT_EQ(g.compact, c.compact) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Hosts, FullscreenRail, ::testing::ValuesIn(kRailCases),
                         [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(FullscreenRailButtons, LandscapeIconsLabelsAndSeparators)
{
    const KRFullscreenRailGeometry g = KRFullscreenRailGeometryForHost({667, 375}, {});
    const struct {
        int index;
        QRectF button, icon, label, separator;
    } rows[] = {
        {0, {0, 0, 54, 42}, {14, 3.5, 28, 28}, {1, 24, 52, 16}, {4, 41, 46, 1}},
        {1, {0, 42, 54, 42}, {13, 3, 28, 28}, {1, 24, 52, 16}, {4, 83, 46, 1}},
        {2, {0, 84, 54, 42}, {13, 3, 28, 28}, {1, 24, 52, 16}, {4, 125, 46, 1}},
        {3, {0, 126, 54, 42}, {15, 5, 24, 24}, {1, 24, 52, 16}, {4, 167, 46, 1}},
        {4, {0, 168, 54, 42}, {13, 3, 28, 28}, {1, 24, 52, 16}, {}},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(KRFullscreenRailButtonFrame(g, r.index), r.button) << r.index;
        EXPECT_EQ(KRFullscreenRailIconFrame(g, r.index), r.icon) << r.index;
        EXPECT_EQ(KRFullscreenRailLabelFrame(g, r.index), r.label) << r.index;
        EXPECT_EQ(KRFullscreenRailSeparatorFrame(g, r.index), r.separator) << r.index;
    }
}

TEST(FullscreenRailButtons, CompactIconsSitHigherAndPortraitRowsAreTaller)
{
    const KRFullscreenRailGeometry compact = KRFullscreenRailGeometryForHost({568, 320}, {});
    EXPECT_EQ(KRFullscreenRailIconFrame(compact, 1), QRectF(13, 1, 28, 28));
    EXPECT_EQ(KRFullscreenRailIconFrame(compact, 0), QRectF(14, 1.5, 28, 28));
    EXPECT_EQ(KRFullscreenRailLabelFrame(compact, 2), QRectF(1, 20, 52, 16));
    EXPECT_EQ(KRFullscreenRailSeparatorFrame(compact, 3), QRectF(4, 151, 46, 1));

    const KRFullscreenRailGeometry portrait = KRFullscreenRailGeometryForHost({375, 667}, {});
    EXPECT_EQ(KRFullscreenRailButtonFrame(portrait, 4), QRectF(0, 196, 54, 49));
    EXPECT_EQ(KRFullscreenRailLabelFrame(portrait, 4), QRectF(1, 31, 52, 16));
    EXPECT_EQ(KRFullscreenRailIconFrame(portrait, 2), QRectF(13, 3, 28, 28));
}

TEST(FullscreenRailButtons, IndicesOutsideTheRailAndNonFiniteHostsGiveNothing)
{
    const KRFullscreenRailGeometry g = KRFullscreenRailGeometryForHost({667, 375}, {});
    for (int i : {-1, 5, 99}) {
        EXPECT_TRUE(KRFullscreenRailButtonFrame(g, i).isNull()) << i;
        EXPECT_TRUE(KRFullscreenRailIconFrame(g, i).isNull()) << i;
        EXPECT_TRUE(KRFullscreenRailLabelFrame(g, i).isNull()) << i;
        EXPECT_TRUE(KRFullscreenRailSeparatorFrame(g, i).isNull()) << i;
    }
    const qreal nan = std::numeric_limits<qreal>::quiet_NaN();
    const KRFullscreenRailGeometry bad = KRFullscreenRailGeometryForHost({nan, 375}, {});
    EXPECT_TRUE(bad.rail.isNull());
    EXPECT_EQ(bad.rowHeight, 0);
    const KRFullscreenRailGeometry badInsets = KRFullscreenRailGeometryForHost({667, 375}, {0, 0, 0, nan});
    EXPECT_TRUE(badInsets.rail.isNull());
}

namespace {
// A playing screen: it lets the interface turn once the test says playback runs.
struct PlaybackScreen : platform::uikit::ViewController {
    bool playing = false;
    bool shouldAutorotate() override { return playing; }
    int supportedInterfaceOrientations() override
    {
        return playing ? platform::uikit::InterfaceOrientationMaskAllButUpsideDown : platform::uikit::InterfaceOrientationMaskPortrait;
    }
};
} // namespace

class PlaybackRotationRequest : public KitTest {};

TEST_F(PlaybackRotationRequest, TurnsTheInterfaceToTheDeviceOnceTheScreenAllowsIt)
{
    using platform::uikit::Application;
    platform::uikit::Window window;
    auto* screen = new PlaybackScreen();
    window.setRootViewController(screen);
    window.makeKeyAndVisible();

    platform::uikit::Device::current().setOrientation(3);  // held sideways before playback
    platform::uikit::AnimationClock::finishAll();
    EXPECT_EQ(Application::shared().statusBarOrientation(), 1);
    KRRequestModernPlaybackRotation();
    platform::uikit::AnimationClock::finishAll();
    EXPECT_EQ(window.frame().size(), QSizeF(375, 667));

    screen->playing = true;
    KRRequestModernPlaybackRotation();
    platform::uikit::AnimationClock::finishAll();
    EXPECT_EQ(Application::shared().statusBarOrientation(), 3);
    EXPECT_EQ(window.frame().size(), QSizeF(667, 375));

    platform::uikit::Device::current().setOrientation(5);  // laid flat: stays as it is
    KRRequestModernPlaybackRotation();
    platform::uikit::AnimationClock::finishAll();
    EXPECT_EQ(Application::shared().statusBarOrientation(), 3);
}
