// Reading replies into value trees: KRJSONParse (simdjson) against QJsonDocument with its
// conversion to QVariant, on a 20-item feed, a 1,000-item list and a reply of about 2 MB. The
// Ratio benchmarks time both readers in alternating rounds of one run (in processor time) and
// report the ratio as the median over the rounds (below 1: KRJSONParse is faster).
#include "BenchSupport.h"
#include "model/KRJSON.h"
#include "support/ServiceFixtures.h"

#include <benchmark/benchmark.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <ctime>
#include <vector>

namespace {

using testsupport::ServiceFixtures;

QByteArray listReply(int count)
{
    QVariantList items;
    for (int i = 0; i < count; ++i)
        items.append(ServiceFixtures::archiveItem(170001 + i));
    return KRJSONData(ServiceFixtures::envelope(QVariantMap{{"list", items}}));
}

// A comment thread: long text with escapes and non-ASCII, nested replies, member records,
// floating-point and 64-bit values, null and booleans, indented as some endpoints send it.
QByteArray largeReply()
{
    QVariantList replies;
    const QString message = QStringLiteral("这一期讲得很清楚！\"第二部分\"的推导我看了三遍才懂，\\n 附上笔记：https://z.test/n/%1 "
                                           "\n\t第二段：期待下一期，顺便问一下配乐叫什么？😀");
    for (int i = 0; replies.size() < 750; ++i) {
        const qint64 rpid = 190000000000LL + i * 7919;
        QVariantList nested;
        for (int j = 0; j < 2; ++j)
            nested.append(QVariantMap{{"rpid", rpid + j + 1}, {"content", QVariantMap{{"message", message.arg(j)}}},
                                      {"like", j}, {"ctime", 1700000000 + j}, {"invisible", false}});
        replies.append(QVariantMap{
            {"rpid", rpid}, {"oid", 170001}, {"type", 1}, {"mid", 3493000000000000LL + i}, {"root", 0}, {"parent", 0},
            {"count", 2}, {"rcount", 2}, {"state", 0}, {"fansgrade", 0}, {"attr", 0}, {"ctime", 1700000000 + i},
            {"like", 100 + i}, {"action", 0}, {"invisible", false}, {"dialog", QVariant::fromValue(nullptr)},
            {"member", QVariantMap{{"mid", QString::number(3493000000000000LL + i)}, {"uname", QStringLiteral("用户%1").arg(i)},
                                   {"sex", QStringLiteral("保密")}, {"sign", QStringLiteral("签名 %1").arg(i)},
                                   {"avatar", QStringLiteral("https://i0.zantorel-img.test/bfs/face/%1.jpg").arg(i)},
                                   {"level_info", QVariantMap{{"current_level", i % 7}, {"current_exp", 0}}},
                                   {"vip", QVariantMap{{"vipType", i % 3}, {"vipStatus", i % 2}, {"themeType", 0}}}}},
            {"content", QVariantMap{{"message", message.arg(i)}, {"max_line", 6}, {"jump_url", QVariantMap{}}}},
            {"replies", nested}, {"score", 0.5 + i / 1000.0}, {"up_action", QVariantMap{{"like", false}, {"reply", i % 9 == 0}}}});
    }
    const QVariantMap data{{"page", QVariantMap{{"num", 1}, {"size", 20}, {"count", 750}}}, {"replies", replies}};
    return QJsonDocument::fromJson(KRJSONData(ServiceFixtures::envelope(data))).toJson(QJsonDocument::Indented);
}

struct Input {
    const char* name;
    QByteArray bytes;
};

const std::vector<Input>& inputs()
{
    static const std::vector<Input> all{{"feed20", listReply(20)}, {"list1000", listReply(1000)}, {"reply2MB", largeReply()}};
    return all;
}

QVariant qjsonParse(const QByteArray& bytes)
{
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    return document.isObject() ? QVariant(document.object().toVariantMap()) : QVariant(document.array().toVariantList());
}

QVariant simdjsonParse(const QByteArray& bytes) { return KRJSONParse(bytes); }

using Reader = QVariant (*)(const QByteArray&);

void readInto(benchmark::State& state, Reader reader, int input)
{
    const QByteArray& bytes = inputs()[size_t(input)].bytes;
    // Both must read the same tree, or the times compare different work.
    if (!reader(bytes).isValid() || KRJSONParse(bytes) != qjsonParse(bytes)) {
        state.SkipWithError("the readers disagree on the input");
        return;
    }
    for (auto _ : state) {
        QVariant tree = reader(bytes);
        benchmark::DoNotOptimize(tree);
    }
    state.SetBytesProcessed(qint64(state.iterations()) * bytes.size());
    state.SetLabel(inputs()[size_t(input)].name);
}

void BM_KRJSONParse(benchmark::State& state) { readInto(state, simdjsonParse, int(state.range(0))); }
void BM_QJsonDocumentToVariant(benchmark::State& state) { readInto(state, qjsonParse, int(state.range(0))); }

// Processor time of this thread: other work on a shared machine preempts the rounds, and wall
// time would count that against whichever reader it fell on.
template <typename Fn>
double threadMicrosecondsPerCall(Fn fn, int calls)
{
    timespec start{}, end{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &start);
    for (int i = 0; i < calls; ++i)
        fn();
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &end);
    return ((end.tv_sec - start.tv_sec) * 1e6 + (end.tv_nsec - start.tv_nsec) / 1e3) / calls;
}

void BM_Ratio(benchmark::State& state)
{
    const Input& input = inputs()[size_t(state.range(0))];
    // Rounds of about 20 ms for each reader, whatever the input's size.
    const int calls = std::max(1, int(2000000 / std::max<qsizetype>(input.bytes.size(), 1)));
    const Reader readers[] = {simdjsonParse, qjsonParse};
    std::vector<double> versusQJson;
    int round = 0;
    for (auto _ : state) {
        // Each reader takes each place in the round in turn.
        double micros[2];
        for (int i = 0; i < 2; ++i) {
            const int which = (round + i) % 2;
            micros[which] = threadMicrosecondsPerCall([&] { benchmark::DoNotOptimize(readers[which](input.bytes)); }, calls);
        }
        ++round;
        versusQJson.push_back(micros[0] / micros[1]);
    }
    state.counters["simdjson_vs_qjson"] = benchsupport::median(versusQJson);
    state.counters["bytes"] = double(input.bytes.size());
    state.SetLabel(input.name);
}

} // namespace

BENCHMARK(BM_KRJSONParse)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_QJsonDocumentToVariant)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Ratio)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->Iterations(21);

BENCHMARK_MAIN();
