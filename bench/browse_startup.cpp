// A cold start of the application's shell beside the bare requests it is built on, in one run:
// the window, the root with its four tabs, and the home list's first feed page loaded from the
// fake service on loopback, laid out and painted, vs. the same two requests (the navigation
// key and the feed) as plain exchanges on one worker, each body read with QJsonDocument.
// The ratio is printed at the end (aim: within 1.5× of the baseline).

#include "BenchSupport.h"
#include "BenchWidgets.h"

#include "shell/KRRootViewController.h"
#include "browse/KRVideoListViewController.h"
#include "model/KRServiceHosts.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/net/HTTPExchange.h"
#include "platform/uikit/AnimationClock.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/Window.h"
#include "service/KRAPIClient.h"
#include "service/KRServiceShutdown.h"
#include "support/FakeService.h"
#include "support/ServiceFixtures.h"

#include <QImage>
#include <QJsonDocument>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <vector>

using namespace platform::uikit;

namespace {

double g_ratio = 0;

KRVideoListViewController* homeList(KRRootViewController* root)
{
    auto* home = qobject_cast<NavigationController*>(root->viewControllers().value(0));
    return home ? qobject_cast<KRVideoListViewController*>(home->viewControllers().value(0)) : nullptr;
}

// One cold start to the first painted page; the addresses it asked the service for land in
// `addresses`. The window is left in `shown`, so taking it down is not timed with the start.
// False when the page did not come.
bool coldStart(testsupport::FakeService& service, QStringList* addresses, std::unique_ptr<Window>* shown)
{
    KRAPIClient::resetWBIMixinKeyForTesting();
    KRAPIClient::resetReadLoaderStateForTesting();
    service.clearRequests();
    *shown = std::make_unique<Window>();
    Window& window = **shown;
    auto* root = new KRRootViewController;
    window.setRootViewController(root);
    window.makeKeyAndVisible();
    KRVideoListViewController* list = homeList(root);
    // Blocks in the event loop until the next event (processEvents with a time limit polls
    // instead, and the spinning main thread would take a core from the start it measures);
    // the timer only ends the wait when the page never comes.
    bool expired = false;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, [&] { expired = true; });
    deadline.start(10000);
    while (list && list->videos().isEmpty() && !expired)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    if (!list || list->videos().isEmpty())
        return false;
    AnimationClock::finishAll();
    window.layoutIfNeeded();
    const QImage painted = window.grab().toImage();
    benchmark::DoNotOptimize(painted.constBits());
    addresses->clear();
    for (const testsupport::FakeRequest& request : service.requests())
        if (request.path.endsWith(QLatin1String("/nav")) || request.path.endsWith(QLatin1String("/rcmd")))
            *addresses << QStringLiteral("https://") + request.host + request.path
                    + (request.query.isEmpty() ? QString() : QLatin1Char('?') + request.query);
    return addresses->size() == 2;
}

// The same requests as plain exchanges, one after the other on a worker of the same shared
// pool the client's queues use, so both sides find the connections the warm-up round left.
bool bareRequests(platform::OperationQueue& worker, const QStringList& addresses)
{
    bool ok = true;
    worker.addOperation([&] {
        for (const QString& address : addresses) {
            platform::HTTPRequest request;
            request.url = address;
            const platform::HTTPResponse response = platform::performHTTPExchange(request);
            const QJsonDocument document = QJsonDocument::fromJson(response.body);
            ok = ok && response.ok() && response.status == 200 && document.isObject();
        }
    });
    worker.waitUntilAllOperationsAreFinished();
    return ok;
}

void BM_ColdStartToFirstPaintedPageVersusBareRequests(benchmark::State& state)
{
    testsupport::FakeService service(KRServiceHosts::allServiceHosts());
    testsupport::ServiceFixtures::installReadRoutes(service);
    platform::OperationQueue worker(1, QStringLiteral("bench.bare"));
    AnimationClock::setManual(true);
    QStringList addresses;
    std::unique_ptr<Window> shown;
    // One start beforehand, so connections and the process's one-time set-up are not measured
    // in the first round alone.
    if (!coldStart(service, &addresses, &shown) || !bareRequests(worker, addresses)) {
        state.SkipWithError("the first page did not come");
        return;
    }
    std::vector<double> ratios;
    for (auto _ : state) {
        bool ok = true;
        shown.reset();
        const double start =
            benchsupport::microsecondsPerCall([&] { ok = coldStart(service, &addresses, &shown) && ok; }, 1);
        const double bare = benchsupport::microsecondsPerCall([&] { ok = bareRequests(worker, addresses) && ok; }, 1);
        if (!ok) {
            state.SkipWithError("a start or a request failed");
            return;
        }
        ratios.push_back(start / bare);
    }
    shown.reset();
    g_ratio = benchsupport::median(ratios);
    state.counters["ratio"] = g_ratio;
}
BENCHMARK(BM_ColdStartToFirstPaintedPageVersusBareRequests)->Unit(benchmark::kMillisecond)->Iterations(9);

} // namespace

int main(int argc, char** argv)
{
    // The list and the clients print a line per request; KORVANE_BENCH_CONSOLE keeps them.
    if (!qEnvironmentVariableIsSet("KORVANE_BENCH_CONSOLE"))
        std::freopen("/dev/null", "w", stderr);
    return benchsupport::runWidgetBenchmarks(argc, argv, [] {
        KRShutDownServices();
        std::printf("cold start to the first painted page / bare requests: %.2fx (aim: within 1.5x)\n", g_ratio);
    });
}
