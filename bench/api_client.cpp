// One 20-item feed page through the client's popular-list loader (the JSON request: queueing,
// header family, cache decision, reply checks; the reply normalised into videos on the worker,
// registered and handed back to the main thread), against
// the same page fetched with the bare HTTP exchange and parsed with QJsonDocument alone.
// The "overhead" counters are client time / bare time − 1, both measured in this run.
// The fair comparison, printed at the end beside its aim (≤ 1.25×), is the client against
// the bare exchange and parse done on a worker, the parsed document handed to the main thread
// and read there: the floor of any client that answers on the main thread.
//
// The bare side does less than the client must: its exchange runs on the calling thread and
// nothing is normalised. So the comparison is also split into parts, each visible: the bare
// exchange and parse handed to a worker and answered on the main thread (what any client
// that keeps the threading contract pays), the client's JSON request alone, and the
// normalising alone.
#include "BenchSupport.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/net/HTTPExchange.h"
#include "service/KRAPIClient.h"
#include "model/KRJSON.h"
#include "model/KRServiceHosts.h"
#include "model/KRVideoNormalizer.h"
#include "support/FakeService.h"
#include "support/ServiceFixtures.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QVariantList>
#include <QVariantMap>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace {

double g_clientOverHandOff = 0;

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

// The bare exchange and QJsonDocument's parse of the reply; none when either fails.
std::optional<QJsonDocument> bareExchangeAndParse()
{
    platform::HTTPRequest request;
    request.url = feedURL();
    request.timeoutSeconds = 20;
    request.handleCookies = false;
    const platform::HTTPResponse response = platform::performHTTPExchange(request);
    if (!response.ok() || response.status != 200)
        return std::nullopt;
    QJsonDocument document = QJsonDocument::fromJson(response.body);
    if (!document.isObject())
        return std::nullopt;
    return document;
}

bool hasData(const std::optional<QJsonDocument>& document) { return document && document->object().contains(QStringLiteral("data")); }

bool bareOnce() { return hasData(bareExchangeAndParse()); }

platform::OperationQueue* handOffQueue()
{
    static platform::OperationQueue* queue = new platform::OperationQueue(KRAPIWorkerQueue()->maxConcurrentOperationCount());
    return queue;
}

// Events delivered, blocking as the application's loop does, until `done`.
void waitOnMain(const bool& done)
{
    while (!done)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

// The bare exchange and parse where the client's contract puts an exchange: on a worker of the
// shared pool (never on the main thread), the parsed document handed to the main thread and
// read (and let go) there, as a completion takes the client's reply. Nothing of the client is
// in it; it is the floor of any client that keeps the contract.
bool handOffOnce()
{
    bool done = false;
    bool ok = false;
    handOffQueue()->addOperation([&] {
        std::optional<QJsonDocument> document = bareExchangeAndParse();
        platform::dispatchMain([&, document = std::move(document)] {
            ok = hasData(document);
            done = true;
        });
    });
    waitOnMain(done);
    return ok;
}

// The hand-over alone, with nothing to do on the worker: the two thread wake-ups.
bool emptyHandOffOnce()
{
    bool done = false;
    handOffQueue()->addOperation([&] { platform::dispatchMain([&] { done = true; }); });
    waitOnMain(done);
    return true;
}

// One page through the client's JSON request alone, answered on the main thread: the reply
// read into the value tree and checked, nothing normalised.
bool clientRequestOnce()
{
    bool done = false;
    bool ok = false;
    KRAPIClient::sharedClient()->performJSONURL(feedURL(), nullptr, [&](const QVariant& payload, const KROptionalError& error) {
        ok = !error && payload.toMap().contains(QStringLiteral("data"));
        done = true;
    });
    waitOnMain(done);
    return ok;
}

// One page as the home list asks for it: the client's popular-list loader (the JSON request,
// its videos normalised and registered), answered on the main thread.
void loadPage(std::function<void(bool ok)> done)
{
    KRAPIClient::sharedClient()->loadHomePage(1, nullptr, [done = std::move(done)](const KRVideoList& videos, const KROptionalError& error) {
        done(!error && videos.size() == 20);
    });
}

bool clientOnce()
{
    bool done = false;
    bool ok = false;
    loadPage([&](bool loaded) {
        ok = loaded;
        done = true;
    });
    waitOnMain(done);
    return ok;
}

void BM_BareExchangeAndQJsonDocument(benchmark::State& state)
{
    service();
    if (benchsupport::runOrFail(state, bareOnce))
        state.counters["requests_per_s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_HandOffBareExchangeAndQJsonDocument(benchmark::State& state)
{
    service();
    if (benchsupport::runOrFail(state, handOffOnce))
        state.counters["requests_per_s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_ClientJSONRequestAndNormalise(benchmark::State& state)
{
    service();
    if (benchsupport::runOrFail(state, clientOnce))
        state.counters["requests_per_s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

// The bare side's threads for the concurrent rounds, as many as the client's queue is wide
// and made once: each keeps its connection open between rounds, as the client's workers do.
class BareThreads {
public:
    explicit BareThreads(int count)
    {
        for (int i = 0; i < count; ++i)
            m_threads.emplace_back([this] { serve(); });
    }

    ~BareThreads()
    {
        {
            std::lock_guard lock(m_mutex);
            m_quit = true;
        }
        m_start.notify_all();
        for (std::thread& thread : m_threads)
            thread.join();
    }

    int count() const { return int(m_threads.size()); }

    // `each` fetches on every thread at once; seconds per fetch.
    double secondsPerRequest(int each, bool* ok)
    {
        const auto start = std::chrono::steady_clock::now();
        std::unique_lock lock(m_mutex);
        m_each = each;
        m_running = count();
        m_allOK = true;
        ++m_round;
        m_start.notify_all();
        m_finished.wait(lock, [this] { return m_running == 0; });
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        *ok = m_allOK && *ok;
        return seconds / (each * count());
    }

private:
    void serve()
    {
        unsigned seen = 0;
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_start.wait(lock, [&] { return m_quit || m_round != seen; });
            if (m_quit)
                return;
            seen = m_round;
            const int each = m_each;
            lock.unlock();
            bool ok = true;
            for (int i = 0; i < each; ++i)
                ok = bareOnce() && ok;
            lock.lock();
            m_allOK = m_allOK && ok;
            if (--m_running == 0)
                m_finished.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_start, m_finished;
    std::vector<std::thread> m_threads;
    unsigned m_round = 0;
    int m_each = 0;
    int m_running = 0;
    bool m_allOK = true;
    bool m_quit = false;
};

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
        loadPage([&](bool loaded) {
            allOK = allOK && loaded;
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

// Both sides in one run, interleaved round by round, so the comparison is like with like on
// this machine: one request at a time (latency), and as many at a time as the queue is wide
// (throughput), each side on connections it has already opened. The counters are medians
// over the rounds, so a round disturbed by another process does not decide the result.
// The split, one request at a time: "handoff" is the bare exchange and parse on a worker
// answered on the main thread, "request" the client's JSON request without normalising;
// overhead_handoff = handoff / bare − 1, overhead_request = request / bare − 1, and
// overhead_request_over_handoff = request / handoff − 1 is what the client adds to the
// threading contract; empty_handoff_us is the hand-over with no work on the worker.
// The parse counters show where the client's time goes: the reply read into the value tree
// the rest of the system works on, against QJsonDocument's parse alone.
void BM_ClientVersusBare(benchmark::State& state)
{
    service();
    const int width = KRAPIWorkerQueue()->maxConcurrentOperationCount();
    BareThreads bareThreads(width);
    bool warm = true;
    // Every thread of both sides has its connection open before anything is timed.
    benchsupport::secondsOf(clientOnce, 20, &warm);
    clientConcurrentSecondsPerRequest(width * 10, &warm);
    benchsupport::secondsOf(bareOnce, 5, &warm);
    benchsupport::secondsOf(handOffOnce, 5, &warm);
    bareThreads.secondsPerRequest(5, &warm);
    std::vector<double> bare, client, bareConcurrent, clientConcurrent, overhead, overheadConcurrent;
    std::vector<double> emptyHandOff, handOff, requestOnly, overheadHandOff, overheadRequest, overheadRequestOverHandOff;
    std::vector<double> clientOverHandOff;
    for (auto _ : state) {
        bool ok = warm;
        bare.push_back(benchsupport::secondsOf(bareOnce, 50, &ok));
        emptyHandOff.push_back(benchsupport::secondsOf(emptyHandOffOnce, 50, &ok));
        handOff.push_back(benchsupport::secondsOf(handOffOnce, 50, &ok));
        requestOnly.push_back(benchsupport::secondsOf(clientRequestOnce, 50, &ok));
        client.push_back(benchsupport::secondsOf(clientOnce, 50, &ok));
        bareConcurrent.push_back(bareThreads.secondsPerRequest(100 / width, &ok));
        clientConcurrent.push_back(clientConcurrentSecondsPerRequest(100 / width * width, &ok));
        if (!ok) {
            state.SkipWithError("request failed");
            return;
        }
        overhead.push_back(client.back() / bare.back() - 1.0);
        overheadHandOff.push_back(handOff.back() / bare.back() - 1.0);
        overheadRequest.push_back(requestOnly.back() / bare.back() - 1.0);
        overheadRequestOverHandOff.push_back(requestOnly.back() / handOff.back() - 1.0);
        clientOverHandOff.push_back(client.back() / handOff.back());
        overheadConcurrent.push_back(clientConcurrent.back() / bareConcurrent.back() - 1.0);
    }
    state.counters["bare_rps"] = 1.0 / benchsupport::median(bare);
    state.counters["client_rps"] = 1.0 / benchsupport::median(client);
    state.counters["overhead"] = benchsupport::median(overhead);
    state.counters["handoff_rps"] = 1.0 / benchsupport::median(handOff);
    state.counters["empty_handoff_us"] = benchsupport::median(emptyHandOff) * 1e6;
    state.counters["request_rps"] = 1.0 / benchsupport::median(requestOnly);
    state.counters["overhead_handoff"] = benchsupport::median(overheadHandOff);
    state.counters["overhead_request"] = benchsupport::median(overheadRequest);
    state.counters["overhead_request_over_handoff"] = benchsupport::median(overheadRequestOverHandOff);
    g_clientOverHandOff = benchsupport::median(clientOverHandOff);
    state.counters["client_over_handoff"] = g_clientOverHandOff;
    state.counters["bare_rps_concurrent"] = 1.0 / benchsupport::median(bareConcurrent);
    state.counters["client_rps_concurrent"] = 1.0 / benchsupport::median(clientConcurrent);
    state.counters["overhead_concurrent"] = benchsupport::median(overheadConcurrent);

    platform::HTTPRequest request;
    request.url = feedURL();
    request.handleCookies = false;
    const QByteArray body = platform::performHTTPExchange(request).body;
    const QVariant payload = KRJSONParse(body);
    state.counters["qjsondocument_us"] =
        benchsupport::microsecondsPerCall([&] { benchmark::DoNotOptimize(QJsonDocument::fromJson(body)); }, 500);
    state.counters["value_tree_parse_us"] =
        benchsupport::microsecondsPerCall([&] { benchmark::DoNotOptimize(KRJSONParse(body)); }, 500);
    state.counters["normalise_us"] = benchsupport::microsecondsPerCall(
        [&] { benchmark::DoNotOptimize(KRVideoNormalizer::videosFromPayload(payload)); }, 500);
}

} // namespace

BENCHMARK(BM_BareExchangeAndQJsonDocument)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_HandOffBareExchangeAndQJsonDocument)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_ClientJSONRequestAndNormalise)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_ClientVersusBare)->Unit(benchmark::kMillisecond)->Iterations(15);

int main(int argc, char** argv)
{
    return benchsupport::runBenchmarks(argc, argv, benchsupport::MainSetup().quietConsole().report([] {
        if (g_clientOverHandOff > 0)
            std::printf("client (popular-list loader: request and normalise) / bare exchange and parse handed to a worker and answered on "
                        "the main thread: %.2fx (aim: within 1.25x)\n",
                        g_clientOverHandOff);
    }));
}
