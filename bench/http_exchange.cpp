// A loopback GET through the platform's HTTP exchange, against the same GET made by the
// curl command-line tool. The ratio counter is exchange time / tool time in this run.
#include "BenchSupport.h"
#include "platform/net/HTTPExchange.h"
#include "platform/net/NetworkSeams.h"
#include "support/FakeService.h"

#include <benchmark/benchmark.h>

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sys/wait.h>

namespace {

const QString kHost = QStringLiteral("bench.korvane-bench.test");

testsupport::FakeService& service()
{
    static std::unique_ptr<testsupport::FakeService> instance = [] {
        auto made = std::make_unique<testsupport::FakeService>(QStringList{kHost});
        QByteArray payload = R"({"code":0,"message":"0","data":[)";
        for (int i = 0; i < 40; ++i)
            payload += QByteArray(i ? "," : "") + R"({"aid":)" + QByteArray::number(100000 + i)
                + R"(,"title":"loopback benchmark item","duration":321})";
        payload += "]}";
        made->routeJSON(kHost, "/x/bench", payload);
        return made;
    }();
    return *instance;
}

QString url() { return "https://" + kHost + "/x/bench?page=1"; }

bool exchangeOnce()
{
    platform::HTTPRequest request;
    request.url = url();
    request.handleCookies = false;
    const platform::HTTPResponse response = platform::performHTTPExchange(request);
    return response.ok() && response.status == 200 && !response.body.isEmpty();
}

// A fresh connection and a full TLS handshake, as the command-line tool (a new process each
// time) makes. Kept handles serve every thread and are only let go when the network seams
// change, so the seams change for this one exchange (by a route, new each time, to a host
// never asked for).
bool exchangeOnFreshConnection()
{
    static int round = 0;
    const QStringList entries = platform::NetworkSeams::connectTo();
    platform::NetworkSeams::setConnectTo(
        entries + QStringList{QStringLiteral("unasked-%1.korvane-bench.test:443:127.0.0.1:1").arg(++round)});
    const bool ok = exchangeOnce();
    platform::NetworkSeams::setConnectTo(entries);
    return ok;
}

bool curlToolOnce()
{
    const QByteArray command = QStringLiteral("curl -sS -f -o /dev/null --proto =https --connect-to %1:443:127.0.0.1:%2 "
                                              "--cacert '%3' '%4'")
                                   .arg(kHost)
                                   .arg(service().httpsPort())
                                   .arg(service().caFile(), url())
                                   .toLocal8Bit();
    const int status = std::system(command.constData());
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void BM_Exchange_ReusedConnection(benchmark::State& state)
{
    service();
    benchsupport::runOrFail(state, exchangeOnce);
}

void BM_Exchange_FreshConnection(benchmark::State& state)
{
    service();
    benchsupport::runOrFail(state, exchangeOnFreshConnection);
}

void BM_CurlTool(benchmark::State& state)
{
    service();
    benchsupport::runOrFail(state, curlToolOnce);
}

// Both in one run, so the ratio compares like with like on this machine.
void BM_ExchangeVersusCurlTool(benchmark::State& state)
{
    service();
    double exchange = 0, fresh = 0, tool = 0;
    int runs = 0;
    for (auto _ : state) {
        bool ok = true;
        exchange += benchsupport::secondsOf(exchangeOnce, 20, &ok);
        fresh += benchsupport::secondsOf(exchangeOnFreshConnection, 5, &ok);
        tool += benchsupport::secondsOf(curlToolOnce, 5, &ok);
        ++runs;
        if (!ok) {
            state.SkipWithError("request failed");
            return;
        }
    }
    state.counters["exchange_ms"] = exchange / runs * 1000;
    state.counters["exchange_fresh_ms"] = fresh / runs * 1000;
    state.counters["curl_tool_ms"] = tool / runs * 1000;
    state.counters["ratio"] = exchange / tool;
    state.counters["ratio_fresh"] = fresh / tool;
}

} // namespace

BENCHMARK(BM_Exchange_ReusedConnection)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Exchange_FreshConnection)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CurlTool)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExchangeVersusCurlTool)->Unit(benchmark::kMillisecond)->Iterations(3);

BENCHMARK_MAIN();
