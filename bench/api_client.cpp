// One 20-item feed page through the client's JSON request (queueing, header family, cache
// decision, reply checks, hop back to the main thread) and normalised into videos, against
// the same page fetched with the bare HTTP exchange and parsed with QJsonDocument alone.
// The "overhead" counters are client time / bare time − 1, both measured in this run.
#include "platform/foundation/OperationQueue.h"
#include "platform/net/HTTPExchange.h"
#include "service/KRAPIClient.h"
#include "service/KRJSON.h"
#include "service/KRServiceHosts.h"
#include "service/KRVideoNormalizer.h"
#include "support/FakeService.h"
#include "support/ServiceFixtures.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QVariantList>
#include <QVariantMap>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

namespace {

testsupport::FakeService& service()
{
    static std::unique_ptr<testsupport::FakeService> instance = [] {
        auto made = std::make_unique<testsupport::FakeService>(KRServiceHosts::allServiceHosts());
        QVariantList items;
        for (int i = 0; i < 20; ++i)
            items.append(testsupport::ServiceFixtures::archiveItem(170001 + i));
        const QVariantMap reply{{QStringLiteral("code"), 0},
                                {QStringLiteral("message"), QStringLiteral("0")},
                                {QStringLiteral("ttl"), 1},
                                {QStringLiteral("data"), QVariantMap{{QStringLiteral("list"), items},
                                                                     {QStringLiteral("no_more"), false}}}};
        made->routeReply(KRServiceHosts::apiHost(), QStringLiteral("/x/web-interface/popular"),
                         testsupport::FakeReply::json(reply));
        return made;
    }();
    return *instance;
}

QString feedURL() { return QStringLiteral("https://") + KRServiceHosts::apiHost() + QStringLiteral("/x/web-interface/popular?pn=1&ps=20"); }

bool bareOnce()
{
    platform::HTTPRequest request;
    request.url = feedURL();
    request.timeoutSeconds = 20;
    request.handleCookies = false;
    const platform::HTTPResponse response = platform::performHTTPExchange(request);
    if (!response.ok() || response.status != 200)
        return false;
    const QJsonDocument document = QJsonDocument::fromJson(response.body);
    return document.isObject() && document.object().contains(QStringLiteral("data"));
}

bool clientOnce()
{
    bool done = false;
    bool ok = false;
    KRAPIClient::sharedClient()->performJSONURL(feedURL(), [&](const QVariant& payload, const KROptionalError& error) {
        const QList<std::shared_ptr<KRVideo>> videos = KRVideoNormalizer::videosFromPayload(payload);
        ok = !error && videos.size() == 20;
        done = true;
    });
    while (!done)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    return ok;
}

template <bool (*Fn)()>
void runOrFail(benchmark::State& state)
{
    service();
    for (auto _ : state) {
        if (!Fn()) {
            state.SkipWithError("request failed");
            break;
        }
    }
    state.counters["requests_per_s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_BareExchangeAndQJsonDocument(benchmark::State& state) { runOrFail<bareOnce>(state); }
void BM_ClientJSONRequestAndNormalise(benchmark::State& state) { runOrFail<clientOnce>(state); }

double secondsOf(bool (*fn)(), int rounds, bool* ok)
{
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i)
        *ok = fn() && *ok;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / rounds;
}

// `rounds` bare fetches spread over as many threads as the client's queue is wide.
double bareConcurrentSecondsPerRequest(int rounds, bool* ok)
{
    const int width = KRAPIWorkerQueue()->maxConcurrentOperationCount();
    std::atomic<bool> allOK{true};
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (int t = 0; t < width; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < rounds / width; ++i) {
                if (!bareOnce())
                    allOK = false;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    *ok = allOK && *ok;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / (rounds / width * width);
}

// `rounds` client requests with as many in flight as the queue is wide, as a screen that
// asks for several things at once keeps it.
double clientConcurrentSecondsPerRequest(int rounds, bool* ok)
{
    const int width = KRAPIWorkerQueue()->maxConcurrentOperationCount();
    int started = 0;
    int finished = 0;
    bool allOK = true;
    std::function<void()> startOne = [&] {
        ++started;
        KRAPIClient::sharedClient()->performJSONURL(feedURL(), [&](const QVariant& payload, const KROptionalError& error) {
            allOK = allOK && !error && KRVideoNormalizer::videosFromPayload(payload).size() == 20;
            ++finished;
            if (started < rounds)
                startOne();
        });
    };
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < width; ++i)
        startOne();
    while (finished < rounds)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    *ok = allOK && *ok;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / rounds;
}

template <typename Fn>
double microsecondsPerCall(Fn fn, int rounds)
{
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i)
        fn();
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count() / rounds;
}

// Both in one run, interleaved, so the comparison is like with like on this machine: one
// request at a time (latency), and as many at a time as the queue is wide (throughput).
// The parse counters show where the client's time goes: the reply read into the value
// tree the rest of the system works on, against QJsonDocument's parse alone.
void BM_ClientVersusBare(benchmark::State& state)
{
    service();
    bool warm = true;
    secondsOf(clientOnce, 20, &warm); // every worker thread has its connection open
    secondsOf(bareOnce, 5, &warm);
    double bare = 0, client = 0, bareConcurrent = 0, clientConcurrent = 0;
    for (auto _ : state) {
        bool ok = warm;
        bare += secondsOf(bareOnce, 100, &ok);
        client += secondsOf(clientOnce, 100, &ok);
        bareConcurrent += bareConcurrentSecondsPerRequest(200, &ok);
        clientConcurrent += clientConcurrentSecondsPerRequest(200, &ok);
        if (!ok) {
            state.SkipWithError("request failed");
            return;
        }
    }
    const double runs = double(state.iterations());
    state.counters["bare_rps"] = runs / bare;
    state.counters["client_rps"] = runs / client;
    state.counters["overhead"] = client / bare - 1.0;
    state.counters["bare_rps_concurrent"] = runs / bareConcurrent;
    state.counters["client_rps_concurrent"] = runs / clientConcurrent;
    state.counters["overhead_concurrent"] = clientConcurrent / bareConcurrent - 1.0;

    platform::HTTPRequest request;
    request.url = feedURL();
    request.handleCookies = false;
    const QByteArray body = platform::performHTTPExchange(request).body;
    const QVariant payload = KRJSONParse(body);
    state.counters["qjsondocument_us"] = microsecondsPerCall([&] { benchmark::DoNotOptimize(QJsonDocument::fromJson(body)); }, 200);
    state.counters["value_tree_parse_us"] = microsecondsPerCall([&] { benchmark::DoNotOptimize(KRJSONParse(body)); }, 200);
    state.counters["normalise_us"] = microsecondsPerCall([&] { benchmark::DoNotOptimize(KRVideoNormalizer::videosFromPayload(payload)); }, 200);
}

} // namespace

BENCHMARK(BM_BareExchangeAndQJsonDocument)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_ClientJSONRequestAndNormalise)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_ClientVersusBare)->Unit(benchmark::kMillisecond)->Iterations(3);

int main(int argc, char** argv)
{
    // A sandbox of its own, and the client's console lines kept off the report.
    QTemporaryDir home;
    qputenv("KORVANE_HOME", home.path().toUtf8());
    if (!qEnvironmentVariableIsSet("KORVANE_BENCH_CONSOLE"))
        std::freopen("/dev/null", "w", stderr);
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
