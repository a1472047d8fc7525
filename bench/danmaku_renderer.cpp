// One frame of the danmaku renderer with 100 lines on screen (positions at a new time, then
// painting into a 1280×720 image), against the bare baseline of drawing the same 100 strings
// with QPainter::drawText into the same image. Aim: at most 1 ms per frame on one core.

#include "BenchSupport.h"
#include "BenchWidgets.h"

#include "playback/KRDanmakuRenderer.h"
#include "store/KRPreferences.h"

#include <QImage>
#include <QPainter>

#include <cstdio>

namespace {

constexpr int kLines = 100;
const QSize kFrame(1280, 720);

KRDanmakuList makeDanmakus()
{
    KRDanmakuList list;
    for (int i = 0; i < kLines; ++i) {
        auto danmaku = std::make_shared<KRDanmaku>();
        danmaku->setDanmakuID(1000 + i);
        danmaku->setTime(i * 0.01);
        danmaku->setMode(i % 10 == 0 ? 5 : i % 10 == 1 ? 4 : 1);
        danmaku->setFontSize(25);
        danmaku->setColorRGB(0xffffff - quint32(i) * 0x010203);
        danmaku->setText(QStringLiteral("弹幕第 %1 条 hello danmaku").arg(i));
        list.append(danmaku);
    }
    return list;
}

// A renderer over the whole frame holding every line.
struct Scene {
    Scene()
    {
        KRPreferences& preferences = KRPreferences::sharedPreferences();
        preferences.setDanmakuMaximumActive(0);
        preferences.setDanmakuDisplayAreaPercent(100);
        preferences.setDanmakuDensityPercent(100);
        renderer.resize(kFrame);
        danmakus = makeDanmakus();
        renderer.setDanmakus(danmakus);
        for (double t = 0; t <= 1.0; t += 0.01)
            renderer.updateWithPlaybackTime(t, true);
    }
    KRDanmakuRenderer renderer;
    KRDanmakuList danmakus;
    QImage image{kFrame, QImage::Format_ARGB32_Premultiplied};
    double time = 1.0;

    void frame()
    {
        // Back and forth within the feed's continuity window, so every frame moves every line.
        time = time < 1.1 ? time + 0.05 : 1.0;
        renderer.updateWithPlaybackTime(time, false);
        image.fill(Qt::transparent);
        renderer.render(&image);
    }
};

void bareFrame(const KRDanmakuList& danmakus, QImage& image, double time)
{
    image.fill(Qt::transparent);
    QPainter painter(&image);
    QFont font = painter.font();
    font.setPixelSize(15);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    int i = 0;
    for (const auto& danmaku : danmakus) {
        const double x = 1280 - time * 100 - (i % 7) * 10;
        painter.drawText(QPointF(x, 20 + (i % 30) * 22), danmaku->text());
        ++i;
    }
}

Scene& scene()
{
    static Scene shared;
    return shared;
}

void BM_DanmakuRendererFrame(benchmark::State& state)
{
    Scene& s = scene();
    if (s.renderer.activeCount() != kLines) {
        state.SkipWithError("the scene does not hold every line");
        return;
    }
    for (auto _ : state)
        s.frame();
}
BENCHMARK(BM_DanmakuRendererFrame)->Unit(benchmark::kMicrosecond);

void BM_DanmakuBaselineDrawText(benchmark::State& state)
{
    Scene& s = scene();
    double time = 1.0;
    for (auto _ : state) {
        time = time < 1.1 ? time + 0.05 : 1.0;
        bareFrame(s.danmakus, s.image, time);
    }
}
BENCHMARK(BM_DanmakuBaselineDrawText)->Unit(benchmark::kMicrosecond);

void printRatio()
{
    Scene& s = scene();
    std::vector<double> ratios;
    std::vector<double> frames;
    for (int round = 0; round < 5; ++round) {
        const double renderer = benchsupport::microsecondsPerCall([&] { s.frame(); }, 200);
        double time = 1.0;
        const double bare = benchsupport::microsecondsPerCall([&] {
            time = time < 1.1 ? time + 0.05 : 1.0;
            bareFrame(s.danmakus, s.image, time);
        }, 200);
        ratios.push_back(renderer / bare);
        frames.push_back(renderer);
    }
    std::printf("lines on screen: %d\n", s.renderer.activeCount());
    std::printf("renderer frame: %.1f us (aim: at most 1000 us)\n", benchsupport::median(frames));
    std::printf("ratio frame (renderer / bare drawText): %.2f\n", benchsupport::median(ratios));
}

} // namespace

int main(int argc, char** argv)
{
    return benchsupport::runWidgetBenchmarks(argc, argv, printRatio);
}
