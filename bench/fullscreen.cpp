// The full screen's costs beside bare baselines in the same run:
// - a landscape round trip of the full screen drawn by the application (in, the rotation's
//   layout passes, settled, then back to the embedded frame) over a player container vs. the
//   same frames and the same chrome fades done by hand on the same views;
// - one layout pass of the rail (five buttons, their icons, titles and separators) vs. the
//   same frames computed and set by hand.
// Aim: within 1.5x each; printed at the end beside the aim.

#include "BenchSupport.h"
#include "platform/device/DeviceProfile.h"
#include "platform/foundation/MainClock.h"
#include "platform/uikit/AnimationClock.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/View.h"
#include "platform/uikit/ViewController.h"
#include "platform/uikit/Window.h"
#include "shared/KRPlayerFullscreen.h"
#include "shared/KRPlayerSurface.h"
#include "service/KRServiceShutdown.h"
#include "video/KRVideoFullscreenRail.h"
#include "video/KRVideoFullscreenSupport.h"

#include <QApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

using namespace platform::uikit;

namespace {

double g_roundTripRatio = 0;
double g_railRatio = 0;
const QRectF kPortrait(0, 0, 375, 667);
const QRectF kLandscape(0, 0, 667, 375);
const QRectF kEmbedded(0, 64, 375, 210);

// A screen with a player container and three layers over its picture, in a window.
struct PlayerScreen {
    Window window{kPortrait};
    View* rootView = nullptr;
    View* container = nullptr;
    QList<View*> layers;
    PlayerScreen()
    {
        auto* root = new ViewController();
        window.setRootViewController(root);
        window.makeKeyAndVisible();
        rootView = root->view();
        container = new View(kEmbedded, rootView);
        for (int i = 0; i < 3; ++i)
            layers << new View(container->bounds(), container);
    }
    void layoutLayers()
    {
        for (View* layer : layers)
            layer->setFrame(container->bounds());
    }
};

void BM_LandscapeRoundTripVersusFramesByHand(benchmark::State& state)
{
    PlayerScreen screen;
    KRPlayerSurface surface;
    surface.install(screen.container);
    KRPlayerFullscreen::Screen hooks;
    hooks.playing = [] { return true; };
    hooks.portraitVideo = [] { return false; };
    hooks.idle = [] { return false; };
    hooks.prepareForRotation = [] {};
    hooks.layoutContent = [&](bool) { screen.layoutLayers(); };
    hooks.presentChrome = [&] { screen.layoutLayers(); };
    hooks.returnChrome = [&] { screen.layoutLayers(); };
    hooks.layoutScreen = [] {};
    hooks.chromeViews = [&] { return QList<QWidget*>{screen.layers.begin(), screen.layers.end()}; };
    hooks.holdSurface = [](bool) {};
    hooks.commitOrientation = [](int) {};
    hooks.exited = [] {};
    hooks.settledEmbedded = [] {};
    KRPlayerFullscreen fullscreen(&surface, hooks);
    // The interface's turn is the kit's: here the root view takes each size as the window would.
    const auto turn = [&](const QRectF& bounds) { screen.rootView->setFrame(bounds); };
    constexpr int kTrips = 200;
    std::vector<double> ratios;
    for (auto _ : state) {
        // By hand: the same frames and the same fades of the layers, out before the turn and
        // in after it, on the same clock.
        const auto fade = [&](qreal to, double seconds) {
            AnimationClock::animate(nullptr, seconds, [&, to](double t) {
                for (View* layer : screen.layers)
                    layer->setAlpha(to == 0 ? 1 - t : t);
            });
        };
        const double bare = benchsupport::microsecondsPerCall(
            [&] {
                View* backdrop = surface.backdrop();
                fade(0, 0.07);
                AnimationClock::finishAll();
                turn(kLandscape);
                backdrop->setFrame(kLandscape);
                screen.container->setFrame(backdrop->bounds());
                screen.layoutLayers();
                fade(1, 0.11);
                AnimationClock::finishAll();
                turn(kPortrait);
                backdrop->setFrame(kEmbedded);
                screen.container->setFrame(backdrop->bounds());
                screen.layoutLayers();
            },
            kTrips);
        const double trip = benchsupport::microsecondsPerCall(
            [&] {
                fullscreen.enter(true, false, false);
                fullscreen.enterForLandscapeIfNeeded();
                turn(kLandscape);
                fullscreen.layoutDuringRotation();
                fullscreen.completeRotationLayout();
                platform::MainClock::advanceForTesting(0);
                fullscreen.restoreAfterLandscapeIfNeeded();
                turn(kPortrait);
                fullscreen.layoutDuringRotation();
                fullscreen.completeRotationLayout();
                AnimationClock::finishAll();
            },
            kTrips);
        ratios.push_back(trip / bare);
    }
    g_roundTripRatio = benchsupport::median(ratios);
    state.counters["ratio"] = g_roundTripRatio;
}
BENCHMARK(BM_LandscapeRoundTripVersusFramesByHand)->Unit(benchmark::kMicrosecond)->Iterations(7);

void BM_RailLayoutVersusFramesByHand(benchmark::State& state)
{
    PlayerScreen screen;
    KRVideoFullscreenRail rail(KRVideoFullscreenRail::Actions{});
    rail.build(screen.rootView, false);
    // The bare side: the same views, placed from the same geometry.
    View bareRail(QRectF(), screen.rootView);
    QList<View*> buttons, icons, labels, separators;
    for (int i = 0; i < 5; ++i) {
        buttons << new View(QRectF(), &bareRail);
        icons << new View(QRectF(), buttons.last());
        labels << new View(QRectF(), buttons.last());
        if (i < 4)
            separators << new View(QRectF(), &bareRail);
    }
    const EdgeInsets insets{};
    constexpr int kPasses = 2000;
    std::vector<double> ratios;
    bool landscape = false;
    for (auto _ : state) {
        const double bare = benchsupport::microsecondsPerCall(
            [&] {
                landscape = !landscape;
                const KRFullscreenRailGeometry g = KRFullscreenRailGeometryForHost(landscape ? kLandscape.size() : kPortrait.size(), insets);
                bareRail.setFrame(g.rail);
                for (int i = 0; i < 5; ++i) {
                    buttons[i]->setFrame(KRFullscreenRailButtonFrame(g, i));
                    icons[i]->setFrame(KRFullscreenRailIconFrame(g, i));
                    labels[i]->setFrame(KRFullscreenRailLabelFrame(g, i));
                    if (i < 4)
                        separators[i]->setFrame(KRFullscreenRailSeparatorFrame(g, i));
                }
            },
            kPasses);
        const double layout = benchsupport::microsecondsPerCall(
            [&] {
                landscape = !landscape;
                rail.layout(landscape ? kLandscape.size() : kPortrait.size(), insets);
            },
            kPasses);
        ratios.push_back(layout / bare);
    }
    g_railRatio = benchsupport::median(ratios);
    state.counters["ratio"] = g_railRatio;
}
BENCHMARK(BM_RailLayoutVersusFramesByHand)->Unit(benchmark::kMicrosecond)->Iterations(7);

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home;
    qputenv("KORVANE_HOME", home.path().toUtf8());
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The diagnostics lines go to a terminal here, whose speed is not the full screen's.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type != QtInfoMsg && type != QtDebugMsg)
            std::fprintf(stderr, "%s\n", qPrintable(message));
    });
    platform::DeviceProfile::setMachineForTesting(QStringLiteral("iPhone10,1"));
    platform::MainClock::setManualForTesting(true);
    AnimationClock::setManual(true);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_roundTripRatio > 0)
        std::printf("landscape round trip / frames by hand: %.2fx (aim: within 1.5x)\n", g_roundTripRatio);
    if (g_railRatio > 0)
        std::printf("rail layout / frames by hand: %.2fx (aim: within 1.5x)\n", g_railRatio);
    KRShutDownServices();
    return 0;
}
