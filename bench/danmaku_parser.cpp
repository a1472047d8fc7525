// Danmaku document parsing against the floor of a bare QXmlStreamReader scan of the same
// bytes, in the same run. Aim: the parser keeps 50 % or more of the bare scan's speed.
#include "BenchSupport.h"
#include "model/KRDanmaku.h"
#include "model/KRDanmakuXMLParser.h"

#include <QXmlStreamReader>

#include <benchmark/benchmark.h>

#include <iostream>
#include <map>
#include <string>

namespace {

// A document in the service's shape with at least `elements` danmakus and `minimumBytes`.
QByteArray makeDocument(int elements, qsizetype minimumBytes)
{
    QByteArray data = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><i><chatserver>chat.example.test</chatserver>"
                      "<chatid>274662</chatid><mission>0</mission><maxlimit>1000</maxlimit><state>0</state>"
                      "<real_name>0</real_name><source>k-v</source>\n";
    const char* const texts[] = {"前方高能", "哈哈哈哈哈哈哈哈", "这里的配乐太好听了吧，单曲循环中", "awsl",
                                 "第一次看到这个视频的时候还是上学的时候，现在都工作好几年了", "2333", "？？？",
                                 "名场面 &amp; 经典"};
    for (int i = 0; i < elements || data.size() < minimumBytes; ++i) {
        data += "<d p=\"" + QByteArray::number((i * 7919) % 1800000 / 1000.0, 'f', 5) + "," +
                QByteArray::number(i % 7 == 0 ? 5 : 1) + ",25," + QByteArray::number(i % 3 ? 16777215 : 16711680) +
                ",1700" + QByteArray::number(100000 + i) + ",0,a1b2c3d4," +
                QByteArray::number(100000000000000LL + i) + ",11\">" + texts[i % 8] + "</d>\n";
    }
    data += "</i>";
    return data;
}

const QByteArray& smallDocument()
{
    static const QByteArray data = makeDocument(1000, 0);
    return data;
}

const QByteArray& largeDocument()
{
    static const QByteArray data = makeDocument(0, 8 * 1024 * 1024);
    return data;
}

void bareScan(benchmark::State& state, const QByteArray& data)
{
    for (auto _ : state) {
        QXmlStreamReader reader(data);
        reader.setNamespaceProcessing(false);
        qint64 tokens = 0;
        while (!reader.atEnd()) {
            reader.readNext();
            ++tokens;
        }
        if (reader.hasError())
            state.SkipWithError("fixture does not parse");
        benchmark::DoNotOptimize(tokens);
    }
    state.SetBytesProcessed(state.iterations() * data.size());
}

void parse(benchmark::State& state, const QByteArray& data)
{
    for (auto _ : state) {
        KROptionalError error;
        KRDanmakuList list = KRDanmaku::danmakusFromXMLData(data, &error);
        if (error || list.size() != 1000)
            state.SkipWithError("parser failed on the fixture");
        benchmark::DoNotOptimize(list);
    }
    state.SetBytesProcessed(state.iterations() * data.size());
}

void BM_BareScan_1000Elements(benchmark::State& state) { bareScan(state, smallDocument()); }
void BM_Parser_1000Elements(benchmark::State& state) { parse(state, smallDocument()); }
void BM_BareScan_8MiB(benchmark::State& state) { bareScan(state, largeDocument()); }
void BM_Parser_8MiB(benchmark::State& state) { parse(state, largeDocument()); }

BENCHMARK(BM_BareScan_1000Elements)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Parser_1000Elements)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_BareScan_8MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Parser_8MiB)->Unit(benchmark::kMillisecond);

// Prints, after the usual table, the parser's speed as a share of the bare scan's.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred)
                m_seconds[run.benchmark_name()] = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        for (const char* size : {"1000Elements", "8MiB"}) {
            const auto bare = m_seconds.find(std::string("BM_BareScan_") + size);
            const auto parser = m_seconds.find(std::string("BM_Parser_") + size);
            if (bare == m_seconds.end() || parser == m_seconds.end())
                continue;
            const double share = bare->second / parser->second * 100;
            std::cout << "danmaku parser " << size << ": " << share << " % of the bare scan's speed (aim: 50 % or more)"
                      << (share >= 50 ? "" : "  BELOW AIM") << "\n";
        }
    }

private:
    std::map<std::string, double> m_seconds;
};

} // namespace

int main(int argc, char** argv)
{
    RatioReporter reporter;
    return benchsupport::runBenchmarks(argc, argv, benchsupport::MainSetup().reporter(&reporter));
}
