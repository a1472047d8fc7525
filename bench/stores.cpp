// Costs of the stores the playback path touches, each beside the bare file operation it is
// built on, measured in the same run:
// - recording one history entry with 500 records present, on the main thread (the save
//   itself runs on the store's worker);
// - the whole save of those 500 records on the worker (encoding, then the atomic write) vs.
//   an atomic write of the same bytes: the "ratio" counter is save time / bare write time
//   (aim: within 5×, printed at the end), "encode_us" the encoding alone;
// - appending one runtime-log event vs. a plain write() of a line of the same length.

#include "BenchSupport.h"

#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/PropertyList.h"
#include "model/KRVideo.h"
#include "store/KRDiagnostics.h"
#include "store/KRLocalHistoryStore.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

namespace {

double g_saveRatio = 0;

std::shared_ptr<KRVideo> typicalVideo(int index)
{
    auto video = std::make_shared<KRVideo>();
    video->setAid(100000 + index);
    video->setBvid(QStringLiteral("BV1xx411c7m%1").arg(index % 10));
    video->setCid(500000 + index);
    video->setTitle(QStringLiteral("一个很普通的视频标题，第 %1 集").arg(index));
    video->setCoverURL(QStringLiteral("https://img.example.test/bfs/archive/%1.jpg").arg(index));
    video->setOwnerName(QStringLiteral("上传者%1").arg(index));
    video->setOwnerMID(9000 + index);
    video->setOwnerAvatarURL(QStringLiteral("https://img.example.test/bfs/face/%1.jpg").arg(index));
    video->setTid(24);
    video->setTname(QStringLiteral("动画"));
    video->setSummary(QStringLiteral("简介文字，长度适中，描述这个视频的内容。"));
    video->setStatisticsKnown(true);
    video->setPlayCount(123456);
    video->setDanmakuCount(789);
    video->setReplyCount(56);
    video->setWidth(1920);
    video->setHeight(1080);
    video->setPlaybackQuality(64);
    QList<KRVideoPartInfo> pages;
    for (int part = 1; part <= 2; ++part) {
        pages.append(KRVideoPartInfo{{QStringLiteral("cid"), qint64(500000 + index + part)},
                                     {QStringLiteral("page"), part},
                                     {QStringLiteral("part"), QStringLiteral("P%1").arg(part)},
                                     {QStringLiteral("duration"), QStringLiteral("12:34")}});
    }
    video->setPages(pages);
    return video;
}

void fillHistory()
{
    auto& store = KRLocalHistoryStore::sharedStore();
    store.resetForTesting();
    for (int i = store.recordCount(); i < KRLocalHistoryStore::maximumRecordCount; ++i)
        store.recordVideo(typicalVideo(i), 120, 754, false, false);
    store.flushPendingSaves();
}

void BM_HistoryRecordWith500Records(benchmark::State& state)
{
    fillHistory();
    auto& store = KRLocalHistoryStore::sharedStore();
    auto video = typicalVideo(250);
    double progress = 0;
    for (auto _ : state)
        store.recordVideo(video, progress += 15, 754, false, false);
    store.flushPendingSaves();
    state.counters["records"] = store.recordCount();
}
BENCHMARK(BM_HistoryRecordWith500Records)->Unit(benchmark::kMicrosecond);

// One change, then waiting for its save on the worker, against an atomic write of the bytes
// that save produced; alternating, so both see the same disk and machine load.
void BM_HistorySaveVersusBareWrite(benchmark::State& state)
{
    fillHistory();
    auto& store = KRLocalHistoryStore::sharedStore();
    auto video = typicalVideo(250);
    const QString target = store.storePath() + QStringLiteral(".baseline");
    double progress = 0;
    std::vector<double> saves, bare;
    for (auto _ : state) {
        saves.push_back(benchsupport::microsecondsPerCall(
            [&] {
                store.recordVideo(video, progress += 15, 754, false, false);
                store.flushPendingSaves();
            },
            1));
        const QByteArray bytes = platform::readFile(store.storePath()).value_or(QByteArray());
        bare.push_back(benchsupport::microsecondsPerCall([&] { platform::writeFileAtomically(target, bytes); }, 1));
    }
    const double save = benchsupport::median(saves), baseline = benchsupport::median(bare);
    state.counters["save_us"] = save;
    state.counters["bare_write_us"] = baseline;
    g_saveRatio = baseline > 0 ? save / baseline : 0;
    state.counters["ratio"] = g_saveRatio;
    state.counters["records"] = store.recordCount();
    // The encoding alone, without the disk: what the save adds to the bare write.
    const QVariant records = platform::PropertyList::parse(platform::readFile(store.storePath()).value_or(QByteArray()));
    state.counters["encode_us"] = benchsupport::microsecondsPerCall(
        [&] { benchmark::DoNotOptimize(platform::PropertyList::toBinaryOfNormalized(records)); }, 20);
}
BENCHMARK(BM_HistorySaveVersusBareWrite)->Unit(benchmark::kMillisecond)->Iterations(200);

const QString kEvent = QStringLiteral("playback-stall-fallback");
const QString kDetail = QStringLiteral("aid=170001 cid=500250 qn=80 route=dash buffered=2.40 position=311.52 reason=likely-to-keep-up");

void BM_LogEvent(benchmark::State& state)
{
    KRDiagnostics::startCapture();
    for (auto _ : state)
        KRDiagnostics::recordEvent(kEvent, kDetail);
}
BENCHMARK(BM_LogEvent)->Unit(benchmark::kMicrosecond);

void BM_LogBaselinePlainAppend(benchmark::State& state)
{
    const QByteArray line = "1700000000.123 [" + kEvent.toUtf8() + "] " + kDetail.toUtf8() + "\n";
    const QByteArray path = QFile::encodeName(QString::fromUtf8(qgetenv("KORVANE_HOME")) + QStringLiteral("/baseline.log"));
    const int fd = ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    for (auto _ : state)
        benchmark::DoNotOptimize(::write(fd, line.constData(), size_t(line.size())));
    ::close(fd);
}
BENCHMARK(BM_LogBaselinePlainAppend)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    return benchsupport::runBenchmarks(argc, argv, benchsupport::MainSetup().report([] {
        if (g_saveRatio > 0)
            std::printf("saving 500 history records / bare atomic write of the same bytes: %.2fx (aim: within 5x)\n", g_saveRatio);
    }));
}
