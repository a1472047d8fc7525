// The account client's cost over the bare parts it is made of, measured in one run:
//  - an authenticated app POST (token check, app signature, the pipeline's account row, the
//    reply checks, the hop back to the main thread) against the bare exchange posting the same
//    prepared body to the same address plus KRJSONParse of the reply, both on warm loopback
//    connections; aim ≤ 1.5×. Beside it, for reading that ratio, the floor the request's
//    threading sets: the same bare exchange and parse run on a pipeline worker and delivered on
//    the main thread (one wake-up each way), over the bare exchange; no aim of its own;
//  - KRAccountNormalizedVideoPage of a 20-item history reply against videosFromPayload of the
//    same items; aim ≤ 1.3×.
// The "ratio" counters are account time / bare time (medians over the rounds); both are printed
// at the end beside their aims, met or not.
#include "BenchSupport.h"
#include "account/KRAccountClient.h"
#include "platform/net/HTTPExchange.h"
#include "model/KRJSON.h"
#include "model/KRServiceHosts.h"
#include "model/KRVideoNormalizer.h"
#include "service/KRAsyncRequest.h"
#include "support/AccountFixtures.h"
#include "support/FakeService.h"
#include "support/ServiceFixtures.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QVariantList>
#include <QVariantMap>

#include <memory>
#include <vector>

namespace {

const QString kPath = QStringLiteral("/x/v2/view/like");

testsupport::FakeService& service()
{
    static std::unique_ptr<testsupport::FakeService> instance = [] {
        auto made = std::make_unique<testsupport::FakeService>(KRServiceHosts::allServiceHosts());
        made->routeReply(KRServiceHosts::appHost(), kPath,
                         testsupport::FakeReply::json(QVariantMap{{QStringLiteral("code"), 0},
                                                                  {QStringLiteral("message"), QStringLiteral("0")},
                                                                  {QStringLiteral("data"), QVariantMap{{QStringLiteral("toast"), QStringLiteral("点赞收到！")}}}}));
        testsupport::AccountFixtures::logInAppAndWeb();
        return made;
    }();
    return *instance;
}

QString likeURL() { return QStringLiteral("https://") + KRServiceHosts::appHost() + kPath; }

QVariantMap business() { return {{QStringLiteral("aid"), 170001}, {QStringLiteral("like"), 0}}; }

// The body the client sends, prepared once for the bare side.
const QByteArray& preparedBody()
{
    static const QByteArray body = [] {
        QVariantMap parameters = business();
        parameters.insert(QStringLiteral("access_key"), QStringLiteral("acc-1"));
        return KRAccountFormBody(KRAccountSignedAppParameters(parameters, true));
    }();
    return body;
}

bool bareOnce()
{
    platform::HTTPRequest request;
    request.url = likeURL();
    request.method = QStringLiteral("POST");
    request.body = preparedBody();
    request.headers.set(QStringLiteral("Content-Type"), QStringLiteral("application/x-www-form-urlencoded; charset=UTF-8"));
    request.timeoutSeconds = 20;
    request.handleCookies = false;
    const platform::HTTPResponse response = platform::performHTTPExchange(request);
    return response.ok() && response.status == 200 && KRJSONParse(response.body).toMap().value(QStringLiteral("code")).toInt() == 0;
}

bool clientOnce()
{
    bool done = false;
    bool ok = false;
    KRAccountClient::sharedClient()->performAuthenticatedAppURLString(
        likeURL(), QStringLiteral("POST"), business(), true, true, nullptr,
        [&](const QVariant& json, const platform::HTTPResponse*, const KROptionalError& error) {
            ok = !error && json.toMap().contains(QStringLiteral("data"));
            done = true;
        });
    while (!done)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    return ok;
}

// The bare exchange with the client's two thread hops and nothing else of the client's.
bool bareThroughWorkerOnce()
{
    bool done = false;
    bool ok = false;
    KRAsyncRequest().run([](const KRAsyncRequest&) { return bareOnce(); },
                         [&](bool succeeded) {
                             ok = succeeded;
                             done = true;
                         });
    while (!done)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    return ok;
}

// A history reply of 20 archive items in the history list's shape, and the same items as the
// list videosFromPayload reads.
struct HistoryReplies {
    QVariant history;
    QVariantMap plain;
};

const HistoryReplies& replies()
{
    static const HistoryReplies made = [] {
        QVariantList items;
        for (int i = 0; i < 20; ++i) {
            QVariantMap item = testsupport::ServiceFixtures::archiveItem(170001 + i);
            const QVariant aid = item.take(QStringLiteral("aid"));
            item.insert(QStringLiteral("history"), QVariantMap{{QStringLiteral("business"), QStringLiteral("archive")},
                                                               {QStringLiteral("oid"), aid},
                                                               {QStringLiteral("cid"), 5000 + i}});
            items.append(item);
        }
        const QVariantMap history{{QStringLiteral("code"), 0},
                                  {QStringLiteral("data"), QVariantMap{{QStringLiteral("list"), items},
                                                                       {QStringLiteral("cursor"), QVariantMap{{QStringLiteral("max"), 88}}}}}};
        return HistoryReplies{history, QVariantMap{{QStringLiteral("list"), items}}};
    }();
    return made;
}

void BM_BareAppPostAndParse(benchmark::State& state)
{
    service();
    benchsupport::runOrFail(state, bareOnce);
}

void BM_AccountAuthenticatedAppPost(benchmark::State& state)
{
    service();
    benchsupport::runOrFail(state, clientOnce);
}

void BM_BareExchangeThroughWorker(benchmark::State& state)
{
    service();
    benchsupport::runOrFail(state, bareThroughWorkerOnce);
}

double g_requestRatio = 0;
double g_hopRatio = 0;
double g_pageRatio = 0;

constexpr double kRequestAim = 1.5;
constexpr double kPageAim = 1.3;

void BM_AccountVersusBare(benchmark::State& state)
{
    service();
    bool warm = true;
    benchsupport::secondsOf(clientOnce, 20, &warm);
    benchsupport::secondsOf(bareOnce, 20, &warm);
    benchsupport::secondsOf(bareThroughWorkerOnce, 20, &warm);
    std::vector<double> request, hops, page;
    for (auto _ : state) {
        bool ok = warm;
        const double bare = benchsupport::secondsOf(bareOnce, 50, &ok);
        const double client = benchsupport::secondsOf(clientOnce, 50, &ok);
        const double hopped = benchsupport::secondsOf(bareThroughWorkerOnce, 50, &ok);
        if (!ok) {
            state.SkipWithError("request failed");
            return;
        }
        request.push_back(client / bare);
        hops.push_back(hopped / bare);
        const double plain = benchsupport::microsecondsPerCall(
            [] { benchmark::DoNotOptimize(KRVideoNormalizer::videosFromPayload(replies().plain)); }, 300);
        const double normalised = benchsupport::microsecondsPerCall(
            [] { benchmark::DoNotOptimize(KRAccountNormalizedVideoPage(replies().history, QStringLiteral("list"))); }, 300);
        page.push_back(normalised / plain);
    }
    state.counters["request_ratio"] = g_requestRatio = benchsupport::median(request);
    state.counters["hop_ratio"] = g_hopRatio = benchsupport::median(hops);
    state.counters["page_ratio"] = g_pageRatio = benchsupport::median(page);
}

} // namespace

BENCHMARK(BM_BareAppPostAndParse)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_AccountAuthenticatedAppPost)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_BareExchangeThroughWorker)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_AccountVersusBare)->Unit(benchmark::kMillisecond)->Iterations(15);

int main(int argc, char** argv)
{
    return benchsupport::runBenchmarks(argc, argv, benchsupport::MainSetup().quietConsole().report([] {
        if (g_requestRatio > 0)
            std::printf("authenticated app POST / bare exchange and parse: %.2fx (aim: within %.2gx: %s)\n", g_requestRatio,
                        kRequestAim, g_requestRatio <= kRequestAim ? "met" : "missed");
        if (g_hopRatio > 0)
            std::printf("  of which the worker hop and the main-thread delivery (bare exchange on a worker / bare): %.2fx\n",
                        g_hopRatio);
        if (g_pageRatio > 0)
            std::printf("history page normaliser / videosFromPayload: %.2fx (aim: within %.2gx: %s)\n", g_pageRatio, kPageAim,
                        g_pageRatio <= kPageAim ? "met" : "missed");
    }));
}
