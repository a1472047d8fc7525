// What a test, and the process, leave behind when they end: no request a test started runs on
// into the next test, and no worker thread outlives main holding its thread-locals.
#include "support/ChildTestRun.h"
#include "support/FakeService.h"
#include "support/TestSupport.h"
#include "support/ThreadWatch.h"

#include "account/KRAccountClient.h"
#include "model/KRServiceHosts.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/net/DownloadConnection.h"
#include "service/KRAPIClient.h"
#include "service/KRRequestPipeline.h"
#include "service/KRServiceShutdown.h"

#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <memory>

using namespace testsupport;

namespace {

// Counts the worker threads that made their probe and the ones whose probe went with the
// thread's end.
std::atomic_int probesMade{0};
std::atomic_int probesReleased{0};
std::atomic_int probesRun{0};

struct ThreadProbe {
    ThreadProbe() { ++probesMade; }
    ~ThreadProbe() { ++probesReleased; }
};

void touchThreadProbe()
{
    thread_local ThreadProbe probe;
    ++probesRun;
}

// After main has returned: what became of the probes.
void reportThreadProbes()
{
    std::fprintf(stderr, "[thread-probes] made=%d released=%d\n", probesMade.load(), probesReleased.load());
}

// The service the child's first test leaves its requests held on, and what it saw of them.
std::unique_ptr<FakeService> heldService;
std::atomic_int requestsHeld{0};
std::atomic_int clientsGone{0};
std::unique_ptr<platform::DownloadConnection> heldDownload;

QString serviceAddress(const QString& path) { return QStringLiteral("https://") + KRServiceHosts::apiHost() + path; }

// Run first by the test below in a child process: a JSON request of the web-API client, an
// account request and a download are still waiting for their answers when the test ends, and
// workers of each kind have thread-locals.
TEST(ServiceShutdownChild, DISABLED_EndsWhileRequestsWait)
{
    if (qEnvironmentVariableIsEmpty("KR_CHILD_HOME"))
        GTEST_SKIP();
    std::atexit(reportThreadProbes);
    heldService = std::make_unique<FakeService>(KRServiceHosts::allServiceHosts());
    heldService->routeStream(QStringLiteral("*"), QStringLiteral("*"),
                             [](const FakeRequest&, httplib::Response&, const FakeService::Pause& pause) {
                                 ++requestsHeld;
                                 pause(-1);
                                 ++clientsGone;
                             });

    static QObject owner;
    KRAPIClient::sharedClient()->performJSONURL(serviceAddress(QStringLiteral("/x/held/json")), &owner,
                                                [](const QVariant&, const KROptionalError&) {});
    KRAccountClient::sharedClient()->performURLString(serviceAddress(QStringLiteral("/x/held/account")), QStringLiteral("GET"),
                                                      {}, false, &owner, [](const QVariant&, const platform::HTTPResponse*, const KROptionalError&) {});
    platform::DownloadConnection::Delegate ignored;
    ignored.willSendRequest = [](platform::HTTPRequest&, const platform::DownloadResponse&) {};
    ignored.didReceiveResponse = [](const platform::DownloadResponse&) {};
    ignored.didReceiveData = [](const QByteArray&) {};
    ignored.didFail = [](const platform::Error&) {};
    ignored.didFinishLoading = [] {};
    heldDownload = std::make_unique<platform::DownloadConnection>(
        KRRequestPipeline::request(KRRequestKind::MediaDownload, serviceAddress(QStringLiteral("/x/held/download"))), ignored);
    KR_WAIT_UNTIL(requestsHeld.load() == 3);

    KRAPIWorkerQueue()->addOperation(touchThreadProbe);
    ASSERT_TRUE(KRRequestPipeline::runOneOff(touchThreadProbe));
    platform::OperationQueue::runOnce(touchThreadProbe);
    KR_WAIT_UNTIL(probesRun.load() == 3);
}

// Run second, in the same child: nothing of the first test is running any more.
TEST(ServiceShutdownChild, DISABLED_FindsNothingOfTheLastTestRunning)
{
    if (qEnvironmentVariableIsEmpty("KR_CHILD_HOME"))
        GTEST_SKIP();
    ASSERT_NE(heldService, nullptr);
    EXPECT_EQ(KRAPIWorkerQueue()->operationCount(), 0);
    // Each held request's connection was dropped by its client.
    EXPECT_TRUE(waitUntil([] { return clientsGone.load() == 3; })) << clientsGone.load();
    heldDownload.reset();
    heldService.reset();
}

TEST(ServiceShutdown, EndingATestsWorkWaitsForWhatRunsOnThePool)
{
    // A one-off of the request pipeline's (an account request, a danmaku load) and another
    // worker's work (a picture load, a preference write), both still running as the test's
    // work is ended: neither may run on into the next test.
    struct Held {
        std::promise<void> opener;
        std::shared_future<void> open = opener.get_future().share();
        std::atomic_int started{0}, finished{0};
    };
    auto held = std::make_shared<Held>(); // outlives the test should it fail
    const auto work = [held] {
        ++held->started;
        held->open.wait();
        ++held->finished;
    };
    ASSERT_TRUE(KRRequestPipeline::runOneOff(work));
    platform::OperationQueue::runOnce(work);
    KR_WAIT_UNTIL(held->started.load() == 2);
    int finishedFirst = 0;
    EXPECT_TRUE(callWhileHeld(
        [&] {
            KREndServiceWorkForTesting();
            finishedFirst = held->finished.load();
        },
        [&] { held->opener.set_value(); }));
    EXPECT_EQ(finishedFirst, 2) << "work on the pool ran on after the test's work was ended";
}

TEST(ServiceShutdown, NoRequestOutlivesItsTestAndNoWorkerThreadOutlivesMain)
{
    QTemporaryDir home;
    const ChildTestResult child = runChildTest(
        QStringLiteral("ServiceShutdownChild.DISABLED_EndsWhileRequestsWait:ServiceShutdownChild.DISABLED_FindsNothingOfTheLastTestRunning"),
        home.path(), QStringLiteral("return"));
    ASSERT_TRUE(child.finished);
    const std::string output = child.standardError.toStdString();
    EXPECT_EQ(child.exitCode, 0) << output;
    EXPECT_FALSE(child.standardError.contains(QStringLiteral("LeakSanitizer"))) << output;
    const QRegularExpressionMatch probes =
        QRegularExpression(QStringLiteral(R"(\[thread-probes\] made=(\d+) released=(\d+))")).match(child.standardError);
    ASSERT_TRUE(probes.hasMatch()) << output;
    EXPECT_GT(probes.captured(1).toInt(), 0) << output;
    // Every worker thread ended, its thread-locals with it, before the process did.
    EXPECT_EQ(probes.captured(2).toInt(), probes.captured(1).toInt()) << output;
}

} // namespace
