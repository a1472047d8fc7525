// The video page's full screen beside bare baselines in the same run, at 667×375 on a phone in
// landscape, with real libmpv showing a frame of the generated clip (paused) and 100 danmaku
// lines on screen:
// - one full-screen layout and render: the layout the rotation runs into the settled full
//   screen (surface, picture, danmaku, controls, rail and composer, then the chrome's
//   attachment and its synchronisation pass), and the surface rendered into an image, vs. the
//   same kinds of widgets showing the same picture, lines, controls and rail, given preset
//   frames and rendered alike. Aim: within 1.25x.
// - one synchronisation pass (as the full screen runs it after a layout or when its timer lets
//   one through) vs. the bare reads it makes: the page's state and the clock, the geometry its
//   layout is made from (host size, safe area) and the frames there, the controls' and the
//   rail's visibility and the player's state and rate. Aim: within 2x.
// Both are printed at the end beside their aims, met or not.

#include "BenchDanmaku.h"
#include "BenchSupport.h"
#include "BenchWidgets.h"
#include "look/KRShellHelpers.h"
#include "platform/device/DeviceProfile.h"
#include "platform/foundation/MainClock.h"
#include "platform/media/MediaPlayer.h"
#include "platform/media/MediaSeams.h"
#include "platform/media/MpvCore.h"
#include "platform/uikit/AnimationClock.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Geometry.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/View.h"
#include "platform/uikit/ViewController.h"
#include "platform/uikit/Window.h"
#include "playback/KRDanmakuRenderer.h"
#include "playback/KRPlaybackTransport.h"
#include "playback/KRPlayerControlsView.h"
#include "service/KRServiceShutdown.h"
#include "shared/KRPlayerFullscreen.h"
#include "store/KRPreferences.h"
#include "support/MediaFixtures.h"
#include "video/KRVideoFullscreen.h"
#include "video/KRVideoFullscreenSupport.h"
#include "video/KRVideoPlayerArea.h"

#include <QApplication>
#include <QPainter>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

using namespace platform::uikit;

namespace {

// One side beside its baseline: medians over the benchmark's rounds, times in microseconds.
struct Comparison {
    double ratio = 0, bareUs = 0, measuredUs = 0;
};

struct Figures {
    Comparison layout, sync;
    int lines = 0;
};
Figures g_figures;

constexpr int kLines = 100;
const QRectF kPortrait(0, 0, 375, 667);
const QRectF kLandscape(0, 0, 667, 375);
const QString kTitle = QStringLiteral("在家做的猫爬架");

// The clock moves on in small steps while events are delivered, so that the player's polls
// and the delayed steps keep pace, until `done` holds; false after 20 s.
bool advanceUntil(const std::function<bool()>& done)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        platform::MainClock::advanceForTesting(0.02);
    }
    return true;
}

// Lines of every kind spread over the three seconds before `time`, so that all of them are on
// screen at once when the renderer reloads at `time`.
KRDanmakuList danmakuLines(double time)
{
    KRDanmakuList list;
    for (int i = 0; i < kLines; ++i)
        list.append(benchsupport::danmakuLine(i, time - 3.0 + 3.0 * i / kLines, QStringLiteral("全屏弹幕第 %1 条 好耶").arg(i)));
    return list;
}

// The picture as the player's surface draws it: the engine's frame, fitted into the bounds.
class BarePicture : public View {
public:
    BarePicture(const QImage& frame, const QSizeF& picture, View* superview) : View(QRectF(), superview), m_frame(frame), m_picture(picture)
    {
        setBackgroundColor(QColor(Qt::black));
    }

protected:
    void drawRect(QPainter& painter) override
    {
        View::drawRect(painter);
        const QRectF bounds(QPointF(0, 0), frame().size());
        const QRectF target = rectForContentMode(ContentModeScaleAspectFit, m_picture, bounds);
        const QRectF fitted = rectForContentMode(ContentModeScaleAspectFit, m_picture, QRectF(QPointF(0, 0), QSizeF(m_frame.size())));
        painter.save();
        painter.setClipRect(bounds);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(target, m_frame, fitted);
        painter.restore();
    }

private:
    QImage m_frame;
    QSizeF m_picture;
};

// The page's player area in a phone's window, playing the 360p clip on real libmpv, with its
// full screen: what the video page builds, driven as the shell's rotation hooks drive it.
struct FullscreenScene {
    Window window{kPortrait};
    View* rootView = nullptr;
    std::unique_ptr<KRVideoPlayerArea> area;
    std::unique_ptr<KRPlaybackTransport> transport;
    std::unique_ptr<KRVideoFullscreen> fullscreen;
    bool foreground = true;
    float rate = 1.0f;
    KRDanmakuList lines;
    double time = 0;

    bool start()
    {
        auto* root = new ViewController();
        window.setRootViewController(root);
        window.makeKeyAndVisible();
        rootView = root->view();
        rootView->setFrame(kPortrait);
        KRVideoPlayerArea::Actions actions;
        actions.danmakuComposer.isPlaying = [this] { return transport && transport->playbackState() == 1; };
        actions.danmakuComposer.playbackTime = [this] { return transport ? transport->currentPlaybackTime() : 0.0; };
        area = std::make_unique<KRVideoPlayerArea>(std::move(actions));
        auto* tabBar = new View(QRectF(0, 210, 375, 36), rootView);
        area->build(rootView, tabBar, 375);
        area->layout(375, 210, 200);
        if (!area->installPersistentPlayerSurfaceIfNeeded())
            return false;
        transport = std::make_unique<KRPlaybackTransport>(testsupport::MediaFixtures::testMediaFileURL(QStringLiteral("clip-360p.mp4")));
        area->bindTransport(transport.get(), nullptr, 0, 0.35, nullptr, false);
        area->showPlayButton(false);
        area->showTitles(1, 16, kTitle);
        transport->play();
        // Far enough in that the three seconds of lines before the frame all lie in the clip.
        if (!advanceUntil([&] { return transport->playbackState() == 1 && transport->currentPlaybackTime() > 3.5; }))
            return false;
        transport->pause();
        if (!advanceUntil([&] { return transport->playbackState() == 2; }))
            return false;

        KRVideoFullscreen::Page page;
        page.playing = [this] { return transport != nullptr; };
        page.portraitVideo = [] { return false; };
        page.idle = [] { return false; };
        page.foreground = [this] { return foreground; };
        page.expectedToPlay = [] { return true; };
        page.orientationKnown = [] { return true; };
        page.identity = [] { return QStringLiteral("bv:BV1bench"); };
        page.mediaSize = [this] { return transport->naturalSize(); };
        page.rate = [this] { return rate; };
        page.holdActive = [] { return false; };
        page.layoutPage = [] {};
        page.repairNavigation = [] {};
        page.commitPortraitRootGeometry = [] {};
        page.navigateToProfile = [] {};
        page.showStatus = [](const QString&) {};
        fullscreen = std::make_unique<KRVideoFullscreen>(area.get(), root, nullptr, std::move(page));

        // Into the landscape full screen as the shell's rotation hooks take it there.
        KRPlayerFullscreen* player = fullscreen->player();
        player->enterCustomPlayerFullscreenLandscape(true, false, false);
        player->kr_enterFullscreenForLandscapeIfNeeded();
        player->kr_raisePlaybackSurfaceAfterRotationPreparation();
        rootView->setFrame(kLandscape);
        player->kr_layoutPlaybackDuringRotation();
        player->kr_completePlaybackRotationLayout();
        settle();
        if (!player->isFullscreen() || player->phase() != 3 || area->surface().backdrop()->frame() != kLandscape)
            return false;

        // 100 lines on screen at the frame shown.
        KRPreferences& preferences = KRPreferences::sharedPreferences();
        preferences.setDanmakuMaximumActive(0);
        preferences.setDanmakuDisplayAreaPercent(100);
        preferences.setDanmakuDensityPercent(100);
        time = std::max(0.0, transport->currentPlaybackTime());
        lines = danmakuLines(time);
        KRDanmakuRenderer* renderer = area->danmakuRenderer();
        renderer->setDanmakus(lines);
        renderer->reloadVisibleDanmakusForPlaybackTime(time, false);
        return renderer->activeCount() > 0;
    }

    static void settle()
    {
        for (int i = 0; i < 4; ++i) {
            AnimationClock::finishAll();
            platform::MainClock::advanceForTesting(0.05);
        }
    }

    // One full-screen layout as a rotation into the settled landscape runs it: the surface and
    // everything in it, the chrome attached and one synchronisation pass.
    void layoutAndRender()
    {
        KRPlayerFullscreen* player = fullscreen->player();
        player->kr_layoutPlaybackDuringRotation();
        player->kr_completePlaybackRotationLayout();
        platform::MainClock::advanceForTesting(0);
        benchsupport::renderOffscreen(area->surface().backdrop());
    }
};

// The same kinds of widgets with the same contents, each given a frame known beforehand.
struct BareScene {
    View backdrop{QRectF()};
    std::vector<std::pair<View*, QRectF>> frames;
    KRDanmakuRenderer* renderer = nullptr;

    explicit BareScene(FullscreenScene& real)
    {
        backdrop.setBackgroundColor(QColor(Qt::black));
        const QRectF host = kLandscape;
        auto place = [&]<typename T>(T* view, const QRectF& frame) {
            frames.emplace_back(view, frame);
            return view;
        };
        place(&backdrop, host);
        auto* container = place(new View(QRectF(), &backdrop), host);
        container->setBackgroundColor(QColor(Qt::black));
        auto* cover = place(new ImageView(QRectF(), container), host);
        cover->setBackgroundColor(QColor(Qt::black));
        auto* picture = place(new View(QRectF(), container), host);
        picture->setBackgroundColor(QColor(Qt::black));
        place(new View(QRectF(), picture), host)->setBackgroundColor(QColor(Qt::black));
        auto* surface = place(new View(QRectF(), picture), host);
        surface->setBackgroundColor(QColor(Qt::black));
        platform::media::MediaPlayer* player = real.transport->playerForTesting();
        place(new BarePicture(player->core()->frameImage(), player->presentationSize(), surface), host);

        renderer = new KRDanmakuRenderer(picture);
        renderer->setDanmakus(real.lines);
        renderer->setGeometry(host.toRect());
        renderer->show();
        renderer->reloadVisibleDanmakusForPlaybackTime(real.time, false);

        auto* controls = new KRPlayerControlsView(QRectF(), picture);
        place(controls, host);
        controls->setVideoTitle(kTitle);
        controls->setQualityTitle(QStringLiteral("360P"));
        controls->setFullscreen(true, false);
        controls->setControlsVisible(true, false);

        // The rail: a rounded panel, its stretched background, five buttons of an icon and a
        // title, separators between them; the same images as the page's rail.
        const KRFullscreenRailGeometry g = KRFullscreenRailGeometryForHost(host.size(), EdgeInsets{});
        View* realRail = real.area->surface().backdrop()->findChild<View*>(QStringLiteral("fullscreenRail"));
        auto* rail = place(new View(QRectF(), container), g.rail);
        rail->setCornerRadius(8);
        auto* background = place(new ImageView(QRectF(), rail), QRectF(QPointF(), g.rail.size()));
        background->setImage(realRail->findChild<ImageView*>(QStringLiteral("fullscreenRailBackground"))->image());
        const QList<Button*> realButtons = realRail->findChildren<Button*>(QString(), Qt::FindDirectChildrenOnly);
        for (int i = 0; i < KRFullscreenRailButtonCount; ++i) {
            auto* button = place(new Button(ButtonTypeCustom, QRectF(), rail), KRFullscreenRailButtonFrame(g, i));
            auto* icon = place(new ImageView(QRectF(), button), KRFullscreenRailIconFrame(g, i));
            icon->setContentMode(ContentModeScaleAspectFit);
            icon->setImage(qobject_cast<ImageView*>(realButtons.value(i)->viewWithTag(7951))->image());
            auto* label = place(new Label(QRectF(), button), KRFullscreenRailLabelFrame(g, i));
            label->setBackgroundColor(QBrush(Qt::NoBrush));
            label->setTextColor(Qt::white);
            label->setFont(Label::systemFont(8.5, true));
            label->setTextAlignment(TextAlignmentCenter);
            label->setShadowColor(QColor::fromRgbF(0, 0, 0, 0.72));
            label->setShadowOffset(QSizeF(0, -1));
            label->setText(qobject_cast<Label*>(realButtons.value(i)->viewWithTag(7952))->text());
            if (i < 4) {
                auto* line = place(new ImageView(QRectF(), rail), KRFullscreenRailSeparatorFrame(g, i));
                line->setImage(qobject_cast<ImageView*>(realRail->viewWithTag(7960 + i))->image());
            }
        }
        // The composer bar, hidden as the page's is until "发弹幕".
        place(new View(QRectF(), container), QRectF(0, 0, host.width(), 44))->setHidden(true);
        for (auto& [view, frame] : frames)
            view->setFrame(frame);
        backdrop.resize(host.size().toSize());
        // The controls lay their own bars, buttons and labels out, as the page's have been by the
        // time a rotation settles: once, outside the timing, so the baseline draws them at their
        // sizes rather than skipping them at none.
        controls->setNeedsLayout();
        controls->layoutIfNeeded();
    }

    void layoutAndRender()
    {
        for (auto& [view, frame] : frames)
            view->setFrame(frame);
        renderer->setGeometry(kLandscape.toRect());
        benchsupport::renderOffscreen(&backdrop);
    }
};

// `calls` calls of each side per round, the bare side first; the medians, also as counters.
template <typename Bare, typename Measured>
Comparison compare(benchmark::State& state, Bare bare, Measured measured, int calls)
{
    std::vector<double> ratios, bares, measures;
    for (auto _ : state) {
        const double b = benchsupport::microsecondsPerCall(bare, calls);
        const double m = benchsupport::microsecondsPerCall(measured, calls);
        ratios.push_back(m / b);
        bares.push_back(b);
        measures.push_back(m);
    }
    const Comparison c{benchsupport::median(ratios), benchsupport::median(bares), benchsupport::median(measures)};
    state.counters["ratio"] = c.ratio;
    state.counters["bare_us"] = c.bareUs;
    state.counters["measured_us"] = c.measuredUs;
    return c;
}

FullscreenScene& scene()
{
    static FullscreenScene* shared = [] {
        auto* made = new FullscreenScene();
        if (!made->start()) {
            delete made;
            return static_cast<FullscreenScene*>(nullptr);
        }
        return made;
    }();
    return *shared;
}

bool sceneReady()
{
    static const bool ready = [] {
        platform::media::MediaSeams::setAudioOutput(QStringLiteral("null"));
        return &scene() != nullptr;
    }();
    return ready;
}

void BM_FullscreenLayoutAndRenderVersusPresetFrames(benchmark::State& state)
{
    if (!sceneReady()) {
        state.SkipWithError("the full screen did not come up");
        return;
    }
    FullscreenScene& real = scene();
    BareScene bare(real);
    g_figures.lines = real.area->danmakuRenderer()->activeCount();
    if (bare.renderer->activeCount() != g_figures.lines) {
        state.SkipWithError("the two renderers show different lines");
        return;
    }
    g_figures.layout = compare(state, [&] { bare.layoutAndRender(); }, [&] { real.layoutAndRender(); }, 40);
    state.counters["lines"] = g_figures.lines;
}
BENCHMARK(BM_FullscreenLayoutAndRenderVersusPresetFrames)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_SyncPassVersusBareReads(benchmark::State& state)
{
    if (!sceneReady()) {
        state.SkipWithError("the full screen did not come up");
        return;
    }
    FullscreenScene& real = scene();
    KRVideoFullscreen* fullscreen = real.fullscreen.get();
    KRPlayerFullscreen* player = fullscreen->player();
    KRPlaybackTransport* transport = real.transport.get();
    KRPlayerControlsView* controls = real.area->controls();
    // The rail and the composer lie on the surface's container, the controls on the picture.
    View* host = real.area->playerContainer();
    View* rail = host->findChild<View*>(QStringLiteral("fullscreenRail"), Qt::FindDirectChildrenOnly);
    View* composer = host->findChild<View*>(QStringLiteral("fullscreenComposerBar"), Qt::FindDirectChildrenOnly);
    // The pass's own questions, asked of the same objects: whether it may run and when it last
    // ran; the geometry its layout is made from (the host's size and safe area, the video's
    // shape, the composer's state) and the frames it leaves; whether the controls and the rail
    // show; whether the player's rate is the chosen one.
    const auto bareReads = [&] {
        bool go = real.foreground && player->phase() == 3 && real.transport && player->isFullscreen();
        const double now = platform::MainClock::now();
        const double spacing = KRPreferences::sharedPreferences().isA4OrEarlierDevice() ? 1.0 : 0.5;
        go = go && now + spacing > 0;
        const QSizeF size = host->bounds().size();
        const EdgeInsets insets = KRSafeAreaInsetsForView(host);
        const bool composerShown = !composer->isHidden();
        const QRectF frames = controls->frame() | rail->frame();
        const bool visible = controls->areControlsVisible() && !rail->isHidden();
        const bool drifted = transport->playbackState() == 1 && std::abs(transport->currentPlaybackRate() - real.rate) > 0.02f;
        benchmark::DoNotOptimize(go);
        benchmark::DoNotOptimize(size);
        benchmark::DoNotOptimize(insets);
        benchmark::DoNotOptimize(composerShown);
        benchmark::DoNotOptimize(frames);
        benchmark::DoNotOptimize(visible);
        benchmark::DoNotOptimize(drifted);
    };
    g_figures.sync = compare(state, bareReads, [&] { fullscreen->syncFullscreenControls(false); }, 20000);
}
BENCHMARK(BM_SyncPassVersusBareReads)->Unit(benchmark::kMicrosecond)->Iterations(5);

void report()
{
    const Figures& f = g_figures;
    if (f.layout.ratio > 0)
        std::printf("full-screen layout and render at 667x375, %d danmaku lines / same widgets at preset frames: %.2fx "
                    "(%.0f us / %.0f us; aim: within 1.25x: %s)\n",
                    f.lines, f.layout.ratio, f.layout.measuredUs, f.layout.bareUs, f.layout.ratio <= 1.25 ? "met" : "MISSED");
    if (f.sync.ratio > 0)
        std::printf("synchronisation pass / bare reads it makes: %.2fx (%.2f us / %.2f us; aim: within 2x: %s)\n", f.sync.ratio,
                    f.sync.measuredUs, f.sync.bareUs, f.sync.ratio <= 2 ? "met" : "MISSED");
    KRShutDownServices();
}

} // namespace

int main(int argc, char** argv)
{
    const auto prepare = [] {
        benchsupport::onPhoneWithManualAnimations();
        platform::MainClock::setManualForTesting(true);
    };
    return benchsupport::runBenchmarks<QApplication>(argc, argv, benchsupport::MainSetup().quietConsole().prepare(prepare).report(report).processCost());
}
