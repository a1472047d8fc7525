#include "service/ServiceClientTesting.h"

#include "platform/foundation/OperationQueue.h"
#include "service/KRAsyncRequest.h"

#include <condition_variable>
#include <mutex>

using namespace servicetest;

namespace {

// Holds a one-wide queue's worker until opened, so that what is queued behind it has surely
// not begun.
class Gate {
public:
    void open()
    {
        std::lock_guard lock(m_mutex);
        m_open = true;
        m_opened.notify_all();
    }
    void wait()
    {
        std::unique_lock lock(m_mutex);
        m_opened.wait(lock, [this] { return m_open; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_opened;
    bool m_open = false;
};

struct Counts {
    std::atomic_int work{0};
    int deliveries = 0;
    int delivered = 0;
    bool onMain = true;
};

class AsyncRequestTest : public ServiceClientTest {};

TEST_F(AsyncRequestTest, TheWorkRunsOnAWorkerAndItsResultReachesTheOwnerOnceOnTheMainThread)
{
    platform::OperationQueue queue(1, QStringLiteral("test"));
    QObject owner;
    Counts counts;
    std::atomic_bool workOnMain{true};
    const bool started = KRAsyncRequest(&owner).onQueue(&queue).run(
        [&](const KRAsyncRequest& request) {
            ++counts.work;
            workOnMain = platform::isMainThread();
            return request.abandoned() ? -1 : 42;
        },
        [&](int value) {
            ++counts.deliveries;
            counts.delivered = value;
            counts.onMain = platform::isMainThread();
        });
    EXPECT_TRUE(started);
    EXPECT_EQ(counts.deliveries, 0) << "never inside the call";
    KR_WAIT_UNTIL(counts.deliveries > 0);
    queue.waitUntilAllOperationsAreFinished();
    QCoreApplication::processEvents();
    EXPECT_EQ(counts.work, 1);
    EXPECT_FALSE(workOnMain);
    EXPECT_EQ(counts.deliveries, 1);
    EXPECT_EQ(counts.delivered, 42);
    EXPECT_TRUE(counts.onMain);
}

TEST_F(AsyncRequestTest, AWorkerSkipsTheWorkOfAnOwnerGoneOrAHandleCancelledBeforeItBegan)
{
    for (const bool cancel : {false, true}) {
        SCOPED_TRACE(cancel ? "cancelled" : "owner destroyed");
        platform::OperationQueue queue(1, QStringLiteral("test"));
        Gate gate;
        queue.addOperation([&gate] { gate.wait(); });
        auto owner = std::make_unique<QObject>();
        const KRRequestHandle handle = KRRequestHandle::make();
        auto release = std::make_shared<Release>();
        Counts counts;
        KRAsyncRequest(owner.get()).onQueue(&queue).withHandle(handle).run(
            [&](const KRAsyncRequest&) { return ++counts.work; },
            [&counts, token = releaseToken(release)](int) { ++counts.deliveries; });
        if (cancel)
            handle.cancel();
        else
            owner.reset();
        gate.open();
        KR_WAIT_UNTIL(release->done);
        queue.waitUntilAllOperationsAreFinished();
        QCoreApplication::processEvents();
        EXPECT_EQ(counts.work, 0);
        EXPECT_EQ(counts.deliveries, 0);
        EXPECT_TRUE(release->onMain) << "the delivery is released on the main thread";
    }
}

TEST_F(AsyncRequestTest, AResultForAnOwnerThatWentWhileTheWorkRanIsDropped)
{
    platform::OperationQueue queue(1, QStringLiteral("test"));
    Gate gate;
    auto owner = std::make_unique<QObject>();
    auto release = std::make_shared<Release>();
    Counts counts;
    KRAsyncRequest(owner.get()).onQueue(&queue).run(
        [&](const KRAsyncRequest&) {
            ++counts.work;
            gate.wait();
            return 1;
        },
        [&counts, token = releaseToken(release)](int) { ++counts.deliveries; });
    KR_WAIT_UNTIL(counts.work == 1);
    owner.reset();
    gate.open();
    KR_WAIT_UNTIL(release->done);
    QCoreApplication::processEvents();
    EXPECT_EQ(counts.deliveries, 0);
    EXPECT_TRUE(release->onMain);

    // Without an owner, the caller lives as long as the process: always delivered, here on a
    // one-off worker of the pipeline.
    bool delivered = false;
    EXPECT_TRUE(KRAsyncRequest().run([](const KRAsyncRequest&) { return 7; }, [&](int value) { delivered = value == 7; }));
    KR_WAIT_UNTIL(delivered);
}

TEST_F(AsyncRequestTest, TheWebAPIWorkerSkipsTheExchangeOfAGoneOwner)
{
    serve(QStringLiteral("/x/web-interface/popular"), FakeReply{.body = R"({"code":0,"data":{"list":[]}})"});
    // Every worker of the client's queue is held, so the request waits behind them.
    platform::OperationQueue* workers = KRAPIWorkerQueue();
    Gate gate;
    std::atomic_int held{0};
    for (int i = 0; i < workers->maxConcurrentOperationCount(); ++i) {
        workers->addOperation([&] {
            ++held;
            gate.wait();
        });
    }
    KR_WAIT_UNTIL(held == workers->maxConcurrentOperationCount());
    auto owner = std::make_unique<QObject>();
    auto release = std::make_shared<Release>();
    int calls = 0;
    client()->performJSONURL(apiURL(QStringLiteral("/x/web-interface/popular?pn=1&ps=20")), owner.get(),
                             [&calls, token = releaseToken(release)](const QVariant&, const KROptionalError&) { ++calls; });
    owner.reset();
    gate.open();
    KR_WAIT_UNTIL(release->done);
    testsupport::waitUntil([&] { return workers->operationCount() == 0; });
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(requestsTo(QStringLiteral("/x/web-interface/popular")).isEmpty()) << "no exchange was made";
}

} // namespace
