// The browsing screens' costs beside the bare operations they are built on, in the same run:
// - 200 covers from the disk cache through the image loader (a fresh loader each round, so the
//   memory cache is empty) vs. reading and decoding the same files in a plain loop.

#include "BenchSupport.h"
#include "shared/KRImageLoader.h"
#include "model/KRServiceHosts.h"
#include "platform/foundation/AtomicFile.h"

#include <QBuffer>
#include <QColor>
#include <QImage>
#include <QImageReader>

#include <benchmark/benchmark.h>

namespace {

constexpr int kCovers = 200;

QString coverAddress(int i)
{
    return QStringLiteral("https://i0.%1/bfs/archive/bench%2.jpg").arg(KRServiceHosts::imagePrimaryDomain()).arg(i);
}

// The disk-cache files of the covers' thumbnails: JPEGs of the thumbnail's size, as the CDN
// sends them.
QStringList prepareCovers()
{
    QStringList paths;
    for (int i = 0; i < kCovers; ++i) {
        QImage picture(336, 204, QImage::Format_RGB32);
        picture.fill(QColor::fromHsv(i % 360, 160, 200));
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        picture.save(&buffer, "JPEG", 90);
        const QString final = coverAddress(i) + QStringLiteral("@336w_204h_1c_90q.jpg");
        const QString path = KRImageDiskCachePathForURLString(final);
        platform::writeFileAtomically(path, bytes);
        paths << path;
    }
    return paths;
}

void BM_DiskCachedCoversThroughLoaderVersusPlainDecode(benchmark::State& state)
{
    const QStringList paths = prepareCovers();
    std::vector<double> ratios;
    std::vector<double> bares;
    std::vector<double> loads;
    for (auto _ : state) {
        int decoded = 0;
        const double bare = benchsupport::microsecondsPerCall(
            [&] {
                for (const QString& path : paths) {
                    QBuffer buffer;
                    buffer.setData(*platform::readFile(path));
                    buffer.open(QIODevice::ReadOnly);
                    QImageReader reader(&buffer);
                    reader.setDecideFormatFromContent(true);
                    decoded += reader.read().isNull() ? 0 : 1;
                }
            },
            1);
        int loaded = 0;
        const double throughLoader = benchsupport::microsecondsPerCall(
            [&] {
                KRImageLoader loader;
                int answered = 0;
                for (int i = 0; i < kCovers; ++i) {
                    loader.loadImageForURLString(coverAddress(i), nullptr, [&](const platform::uikit::Image& image) {
                        ++answered;
                        loaded += image.isNull() ? 0 : 1;
                    });
                }
                // Blocks as the application's event loop does: the overload with a time limit
                // spins instead of waiting and would take a core from the loader's workers.
                while (answered < kCovers)
                    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
            },
            1);
        if (decoded != kCovers || loaded != kCovers) {
            state.SkipWithError("a cover did not decode");
            return;
        }
        ratios.push_back(throughLoader / bare);
        bares.push_back(bare / 1000);
        loads.push_back(throughLoader / 1000);
    }
    state.counters["ratio"] = benchsupport::median(ratios);
    state.counters["bare_ms"] = benchsupport::median(bares);
    state.counters["loader_ms"] = benchsupport::median(loads);
}
BENCHMARK(BM_DiskCachedCoversThroughLoaderVersusPlainDecode)->Unit(benchmark::kMillisecond)->Iterations(9);

} // namespace

// Every disk-cache hit prints a line; KORVANE_BENCH_CONSOLE keeps them.
int main(int argc, char** argv) { return benchsupport::runServiceBenchmarks(argc, argv); }
