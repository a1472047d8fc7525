// Costs of the stores the playback path touches on the main thread, each beside the bare
// file operation it is built on, measured in the same run:
// - recording one history entry with 500 records present vs. an atomic write of the same
//   bytes the store writes;
// - appending one runtime-log event vs. a plain write() of a line of the same length.

#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/PropertyList.h"
#include "model/KRVideo.h"
#include "store/KRDiagnostics.h"
#include "store/KRLocalHistoryStore.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

namespace {

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
}

void BM_HistoryRecordWith500Records(benchmark::State& state)
{
    fillHistory();
    auto& store = KRLocalHistoryStore::sharedStore();
    auto video = typicalVideo(250);
    double progress = 0;
    for (auto _ : state)
        store.recordVideo(video, progress += 15, 754, false, false);
    state.counters["records"] = store.recordCount();
}
BENCHMARK(BM_HistoryRecordWith500Records)->Unit(benchmark::kMicrosecond);

void BM_HistoryBaselineAtomicWrite(benchmark::State& state)
{
    fillHistory();
    const QString source = KRLocalHistoryStore::sharedStore().storePath();
    const QByteArray bytes = platform::readFile(source).value_or(QByteArray());
    const QString target = source + QStringLiteral(".baseline");
    for (auto _ : state)
        platform::writeFileAtomically(target, bytes);
    state.counters["bytes"] = double(bytes.size());
}
BENCHMARK(BM_HistoryBaselineAtomicWrite)->Unit(benchmark::kMicrosecond);

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
    QTemporaryDir home;
    qputenv("KORVANE_HOME", home.path().toUtf8());
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
