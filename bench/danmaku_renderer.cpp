// One frame of the danmaku renderer while the feed plays (lines coming in at the rate that keeps
// about 100 on screen, each new one drawn into its line image, every line moved, then painted
// into a 1280x720 image), against the bare baseline of drawing the same number of strings with
// QPainter::drawText into the same image. Aim: at most 1 ms per frame on one core.

#include "BenchDanmaku.h"
#include "BenchSupport.h"
#include "BenchWidgets.h"

#include "playback/KRDanmakuRenderer.h"
#include "store/KRPreferences.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

constexpr int kLines = 100;
const QSize kFrame(1280, 720);
constexpr double kFrameSeconds = 1.0 / 60;
// Long enough that no timed run reaches the end; a run that would is taken back to the start.
constexpr double kFeedSeconds = 400;

// A feed of `perSecond` lines a second, in time order, a tenth of them fixed at the top and a
// tenth at the bottom, the rest scrolling.
KRDanmakuList makeDanmakus(double perSecond)
{
    KRDanmakuList list;
    const int count = int(kFeedSeconds * perSecond);
    for (int i = 0; i < count; ++i)
        list.append(benchsupport::danmakuLine(i, i / perSecond, QStringLiteral("弹幕第 %1 条 hello danmaku").arg(i)));
    return list;
}

// A renderer over the whole frame, fed as a player feeds it once per frame.
struct Scene {
    Scene()
    {
        KRPreferences& preferences = KRPreferences::sharedPreferences();
        preferences.setDanmakuMaximumActive(0);
        preferences.setDanmakuDisplayAreaPercent(100);
        preferences.setDanmakuDensityPercent(100);
        renderer.resize(kFrame);
        // The rate that keeps kLines on screen depends on the lines' speed and the tracks free:
        // found by playing a stretch, scaling the rate by how far the count is off.
        double perSecond = 20;
        for (int attempt = 0; attempt < 4; ++attempt) {
            setRate(perSecond);
            double sum = 0;
            int samples = 0;
            for (int i = 0; i < 240; ++i) {
                advance();
                sum += renderer.activeCount();
                ++samples;
            }
            const double average = sum / samples;
            if (std::abs(average - kLines) <= kLines / 20 || average <= 0)
                break;
            perSecond *= kLines / average;
        }
    }
    KRDanmakuRenderer renderer;
    KRDanmakuList danmakus;
    QImage image{kFrame, QImage::Format_ARGB32_Premultiplied};
    double time = 0;
    double rate = 0;

    // A new feed at this rate, played until the screen is full (untimed).
    void setRate(double perSecond)
    {
        rate = perSecond;
        danmakus = makeDanmakus(perSecond);
        renderer.setDanmakus(danmakus);
        restart();
    }
    void restart()
    {
        time = 0;
        renderer.resetForPlaybackTime(0);
        for (int i = 0; i < 600; ++i)
            advance();
    }
    bool nearTheEnd() const { return time > kFeedSeconds - 20; }
    void advance()
    {
        time += kFrameSeconds;
        renderer.updateWithPlaybackTime(time, true);
    }
    void frame()
    {
        advance();
        image.fill(Qt::transparent);
        renderer.render(&image);
    }
};

// As many strings as the renderer has on screen, drawn afresh every frame.
void bareFrame(const KRDanmakuList& danmakus, int lines, QImage& image, double time)
{
    image.fill(Qt::transparent);
    QPainter painter(&image);
    QFont font = painter.font();
    font.setPixelSize(15);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    const qsizetype first = qsizetype(time * 20) % std::max<qsizetype>(danmakus.size() - lines, 1);
    for (int i = 0; i < lines && first + i < danmakus.size(); ++i) {
        const double x = 1280 - std::fmod(time, 5.0) * 100 - (i % 7) * 10;
        painter.drawText(QPointF(x, 20 + (i % 30) * 22), danmakus.at(first + i)->text());
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
    if (s.renderer.activeCount() < kLines / 2) {
        state.SkipWithError("the feed does not fill the screen");
        return;
    }
    for (auto _ : state) {
        if (s.nearTheEnd()) {
            state.PauseTiming();
            s.restart();
            state.ResumeTiming();
        }
        s.frame();
    }
}
BENCHMARK(BM_DanmakuRendererFrame)->Unit(benchmark::kMicrosecond);

void BM_DanmakuBaselineDrawText(benchmark::State& state)
{
    Scene& s = scene();
    const int lines = s.renderer.activeCount();
    double time = 1.0;
    for (auto _ : state) {
        time += kFrameSeconds;
        bareFrame(s.danmakus, lines, s.image, time);
    }
}
BENCHMARK(BM_DanmakuBaselineDrawText)->Unit(benchmark::kMicrosecond);

void printRatio()
{
    Scene& s = scene();
    std::vector<double> ratios;
    std::vector<double> frames;
    int spawnedPerRound = 0;
    for (int round = 0; round < 5; ++round) {
        if (s.nearTheEnd())
            s.restart();
        const int lines = s.renderer.activeCount();
        const double before = s.time;
        const double renderer = benchsupport::microsecondsPerCall([&] { s.frame(); }, 200);
        spawnedPerRound = int((s.time - before) * s.rate);
        double time = 1.0;
        const double bare = benchsupport::microsecondsPerCall([&] {
            time += kFrameSeconds;
            bareFrame(s.danmakus, lines, s.image, time);
        }, 200);
        ratios.push_back(renderer / bare);
        frames.push_back(renderer);
    }
    std::printf("lines on screen: %d; lines coming in: %.1f a second (%d in each timed round of 200 frames)\n",
                s.renderer.activeCount(), s.rate, spawnedPerRound);
    std::printf("renderer frame: %.1f us (aim: at most 1000 us)\n", benchsupport::median(frames));
    std::printf("ratio frame (renderer / bare drawText): %.2f\n", benchsupport::median(ratios));
}

} // namespace

int main(int argc, char** argv)
{
    return benchsupport::runBenchmarks<QApplication>(argc, argv, benchsupport::MainSetup().report(printRatio));
}
