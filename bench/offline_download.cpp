// The offline cache beside the bare operations it is built on, in the same run:
// - a 64 MiB loopback download through the manager (commit included) vs. the bare download
//   connection writing the same bytes to a file; aim ≤ 1.15×. Removing what each wrote comes
//   after the clock stops on both sides: deleting a synced 64 MiB file and syncing the emptied
//   index cost the disk's time, not the download's. Process CPU time is compared too;
// - a cleaning read of a 500-record index vs. parsing the same index and stat-ing its files.

#include "BenchSupport.h"
#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/PropertyList.h"
#include "platform/net/DownloadConnection.h"
#include "playback/KROfflineCacheManager.h"
#include "support/FakeService.h"
#include "support/MediaFixtures.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <ctime>

#include <benchmark/benchmark.h>

namespace {

namespace media = testsupport::MediaFixtures;

constexpr qint64 kBodyBytes = 64LL * 1024 * 1024;


testsupport::FakeService& service()
{
    static std::unique_ptr<testsupport::FakeService> instance = [] {
        auto made = std::make_unique<testsupport::FakeService>(media::hosts());
        media::serveFile(*made, media::primaryHost(), QStringLiteral("/bench.mp4"),
                         media::writeGeneratedFile(benchsupport::homePath() + QStringLiteral("/source.mp4"), kBodyBytes));
        return made;
    }();
    return *instance;
}

QString mediaURL() { return QStringLiteral("https://%1/bench.mp4").arg(media::primaryHost()); }

template <typename Fn>
void runUntil(const Fn& done)
{
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
}

bool managerDownload()
{
    auto video = std::make_shared<KRVideo>();
    video->setBvid(QStringLiteral("BV17x411w7KC"));
    video->setCid(100);
    bool finished = false;
    bool ok = false;
    QObject owner;
    KROfflineCacheManager::sharedManager()->cacheVideo(video, mediaURL(), QStringLiteral("720P"), QImage(), &owner, nullptr,
                                                       [&](bool success, const QString&) {
                                                           finished = true;
                                                           ok = success;
                                                       });
    runUntil([&] { return finished; });
    return ok;
}

QString bareFilePath() { return benchsupport::homePath() + QStringLiteral("/bare.mp4"); }

bool bareDownload()
{
    QFile file(bareFilePath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    bool finished = false;
    bool ok = false;
    platform::HTTPRequest request;
    request.url = mediaURL();
    platform::DownloadConnection::Delegate delegate;
    delegate.didReceiveData = [&](const QByteArray& data) { file.write(data); };
    delegate.didFail = [&](const platform::Error&) { finished = true; };
    delegate.didFinishLoading = [&] {
        ok = file.flush() && file.size() == kBodyBytes;
        finished = true;
    };
    platform::DownloadConnection connection(request, delegate);
    runUntil([&] { return finished; });
    file.close();
    return ok;
}

double g_downloadRatio = 0;
double g_downloadCPURatio = 0;

// Every thread of the process, the fake service's included: it serves both sides alike.
double processCPUSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

void BM_DownloadThroughManagerVersusBareConnection(benchmark::State& state)
{
    service();
    std::vector<double> ratios;
    std::vector<double> cpuRatios;
    for (auto _ : state) {
        bool ok = true;
        const double bareCPU = processCPUSeconds();
        const double bare = benchsupport::secondsOf(&bareDownload, 1, &ok);
        const double bareCPUUsed = processCPUSeconds() - bareCPU;
        QFile::remove(bareFilePath());
        const double managedCPU = processCPUSeconds();
        const double managed = benchsupport::secondsOf(&managerDownload, 1, &ok);
        const double managedCPUUsed = processCPUSeconds() - managedCPU;
        KROfflineCacheManager::sharedManager()->removeAllCachedVideos(nullptr);
        if (!ok) {
            state.SkipWithError("download failed");
            return;
        }
        ratios.push_back(managed / bare);
        cpuRatios.push_back(managedCPUUsed / bareCPUUsed);
    }
    state.counters["ratio"] = g_downloadRatio = benchsupport::median(ratios);
    state.counters["cpu_ratio"] = g_downloadCPURatio = benchsupport::median(cpuRatios);
}
BENCHMARK(BM_DownloadThroughManagerVersusBareConnection)->Unit(benchmark::kMillisecond)->Iterations(5);

QString offlineDirectory() { return benchsupport::homePath() + QStringLiteral("/Documents/KorvaneOffline"); }

void prepareIndex()
{
    QVariantList records;
    for (int i = 0; i < 500; ++i) {
        const QString name = QStringLiteral("%1-%2.mp4").arg(0x10000000 + i, 8, 16).arg(1700000000 + i);
        QFile(offlineDirectory() + QLatin1Char('/') + name).open(QIODevice::WriteOnly);
        records.append(QVariantMap{{QStringLiteral("key"), QStringLiteral("bv:BV1xx|cid:%1").arg(i)},
                                   {QStringLiteral("file_name"), name},
                                   {QStringLiteral("cid"), qint64(i + 1)},
                                   {QStringLiteral("title"), QStringLiteral("一个很普通的视频标题，第 %1 集").arg(i)},
                                   {QStringLiteral("quality_title"), QStringLiteral("720P")},
                                   {QStringLiteral("download_state"), QStringLiteral("complete")},
                                   {QStringLiteral("byte_count"), qint64(1) << 30}});
    }
    platform::writeFileAtomically(offlineDirectory() + QStringLiteral("/index.plist"), platform::PropertyList::toXML(records));
}

void BM_CleaningReadVersusParseAndStat(benchmark::State& state)
{
    prepareIndex();
    KRVideo absent;
    absent.setBvid(QStringLiteral("BV17x411w7KC"));
    absent.setCid(999999);
    KROfflineCacheManager* manager = KROfflineCacheManager::sharedManager();
    const QString indexPath = offlineDirectory() + QStringLiteral("/index.plist");
    std::vector<double> ratios;
    for (auto _ : state) {
        const double bare = benchsupport::microsecondsPerCall(
            [&] {
                const QVariantList records = platform::PropertyList::parse(*platform::readFile(indexPath)).toList();
                int present = 0;
                for (const QVariant& record : records)
                    present += QFileInfo::exists(offlineDirectory() + QLatin1Char('/')
                                                 + record.toMap().value(QStringLiteral("file_name")).toString());
                benchmark::DoNotOptimize(present);
            },
            5);
        const double cleaning = benchsupport::microsecondsPerCall([&] { benchmark::DoNotOptimize(manager->isVideoCached(absent)); }, 5);
        ratios.push_back(cleaning / bare);
    }
    state.counters["ratio"] = benchsupport::median(ratios);
}
BENCHMARK(BM_CleaningReadVersusParseAndStat)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

int main(int argc, char** argv)
{
    return benchsupport::runBenchmarks(argc, argv, benchsupport::MainSetup().report([] {
        if (g_downloadRatio > 0)
            std::printf("download through the manager / bare connection: %.2fx (aim: within 1.15x), CPU time %.2fx\n",
                        g_downloadRatio, g_downloadCPURatio);
        KROfflineCacheManager::resetForTesting();
    }));
}
