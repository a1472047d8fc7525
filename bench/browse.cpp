// The browsing screens' costs beside the bare operations they are built on, in the same run:
// - 200 covers from the disk cache through the image loader (a fresh loader each round, so the
//   memory cache is empty) vs. reading and decoding the same files in plain loops, on as many
//   threads as the loader has: two on a current phone, one on an A4-class device (where the
//   ratio is what one core sees), keeping the last of them as the loader's memory cache keeps
//   them. Aim: within 1.25x at either width.

#include "BenchSupport.h"
#include "images/KRImageLoader.h"
#include "model/KRServiceHosts.h"
#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/device/DeviceProfile.h"

#include <QBuffer>
#include <QColor>
#include <QImage>
#include <QImageReader>

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <vector>

namespace {

constexpr int kCovers = 200;

QString coverAddress(int i)
{
    return QStringLiteral("https://i0.%1/bfs/archive/bench%2.jpg").arg(KRServiceHosts::imagePrimaryDomain()).arg(i);
}

// The disk-cache files of the covers' thumbnails: JPEGs of the thumbnail's size, as the CDN
// sends them (A4-class devices ask for smaller ones).
QStringList prepareCovers(bool a4)
{
    const int width = a4 ? 256 : 336, height = a4 ? 156 : 204, quality = a4 ? 80 : 90;
    const QString suffix = QStringLiteral("@%1w_%2h_1c_%3q.jpg").arg(width).arg(height).arg(quality);
    QStringList paths;
    for (int i = 0; i < kCovers; ++i) {
        QImage picture(width, height, QImage::Format_RGB32);
        picture.fill(QColor::fromHsv(i % 360, 160, 200));
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        picture.save(&buffer, "JPEG", quality);
        const QString final = coverAddress(i) + suffix;
        const QString path = KRImageDiskCachePathForURLString(final);
        platform::writeFileAtomically(path, bytes);
        paths << path;
    }
    return paths;
}

double g_ratio[3] = {0, 0, 0}; // by the loader's width

// The covers read and decoded in plain loops, `threads` of them side by side, each taking the
// next file, the last `kept` of them kept as a memory cache of that many keeps them (their
// bitmaps' memory is the same to touch whoever keeps them); the number decoded.
int plainDecode(const QStringList& paths, int threads, int kept)
{
    std::atomic<int> next{0}, decoded{0};
    std::mutex keptMutex;
    std::vector<QImage> ring(static_cast<size_t>(kept));
    size_t ringAt = 0;
    platform::OperationQueue workers(threads, QStringLiteral("bench.plain"));
    for (int t = 0; t < threads; ++t) {
        workers.addOperation([&] {
            for (int i = next++; i < paths.size(); i = next++) {
                QBuffer buffer;
                buffer.setData(*platform::readFile(paths.at(i)));
                buffer.open(QIODevice::ReadOnly);
                QImageReader reader(&buffer);
                reader.setDecideFormatFromContent(true);
                QImage image = reader.read();
                decoded += image.isNull() ? 0 : 1;
                std::lock_guard lock(keptMutex);
                ring[ringAt++ % ring.size()] = std::move(image);
            }
        });
    }
    workers.waitUntilAllOperationsAreFinished();
    return decoded;
}

// The covers through a fresh loader, as a screen asks for them; the number that decoded, and
// how many its memory cache holds at the end.
int loadThroughLoader(int* kept = nullptr)
{
    KRImageLoader loader;
    int answered = 0, loaded = 0;
    for (int i = 0; i < kCovers; ++i) {
        loader.loadImageForURLString(coverAddress(i), nullptr, [&](const platform::uikit::Image& image) {
            ++answered;
            loaded += image.isNull() ? 0 : 1;
        });
    }
    // Blocks as the application's event loop does: the overload with a time limit spins
    // instead of waiting and would take a core from the loader's workers.
    while (answered < kCovers)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    if (kept)
        *kept = loader.memoryCacheCountForTesting();
    return loaded;
}

// `machine` decides the loader's width: 2 for a current phone, 1 for an A4-class one.
void diskCachedCovers(benchmark::State& state, const QString& machine, int threads)
{
    platform::DeviceProfile::setMachineForTesting(machine);
    const QStringList paths = prepareCovers(threads == 1);
    // As many pictures as the loader's memory cache holds at the end of a round, learnt from
    // one round that is not timed.
    int kept = 0;
    loadThroughLoader(&kept);
    if (kept < 1) {
        state.SkipWithError("the loader kept no cover");
        platform::DeviceProfile::resetForTesting();
        return;
    }
    std::vector<double> ratios;
    std::vector<double> bares;
    std::vector<double> loads;
    for (auto _ : state) {
        int decoded = 0;
        const double bare = benchsupport::microsecondsPerCall([&] { decoded = plainDecode(paths, threads, kept); }, 1);
        int loaded = 0;
        const double throughLoader = benchsupport::microsecondsPerCall([&] { loaded = loadThroughLoader(); }, 1);
        if (decoded != kCovers || loaded != kCovers) {
            state.SkipWithError("a cover did not decode");
            platform::DeviceProfile::resetForTesting();
            return;
        }
        ratios.push_back(throughLoader / bare);
        bares.push_back(bare / 1000);
        loads.push_back(throughLoader / 1000);
    }
    platform::DeviceProfile::resetForTesting();
    g_ratio[threads] = benchsupport::median(ratios);
    state.counters["ratio"] = g_ratio[threads];
    state.counters["bare_ms"] = benchsupport::median(bares);
    state.counters["loader_ms"] = benchsupport::median(loads);
    state.counters["kept"] = kept;
}

void BM_DiskCachedCoversTwoWideLoaderVersusTwoThreadDecode(benchmark::State& state)
{
    diskCachedCovers(state, QStringLiteral("iPhone10,1"), 2);
}
BENCHMARK(BM_DiskCachedCoversTwoWideLoaderVersusTwoThreadDecode)->Unit(benchmark::kMillisecond)->Iterations(9);

void BM_DiskCachedCoversA4LoaderVersusOneThreadDecode(benchmark::State& state)
{
    diskCachedCovers(state, QStringLiteral("iPhone3,1"), 1);
}
BENCHMARK(BM_DiskCachedCoversA4LoaderVersusOneThreadDecode)->Unit(benchmark::kMillisecond)->Iterations(9);

} // namespace

// Every disk-cache hit prints a line; KORVANE_BENCH_CONSOLE keeps them.
int main(int argc, char** argv)
{
    return benchsupport::runBenchmarks(argc, argv, benchsupport::MainSetup().quietConsole().report([] {
        std::printf("covers through the loader / plain decode at equal threads: two %.2fx, one %.2fx (aim: within 1.25x)\n",
                    g_ratio[2], g_ratio[1]);
    }));
}
