#include "support/TestSupport.h"

#include "platform/foundation/DelayedCall.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/foundation/RepeatingTimer.h"

#include <QObject>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

using namespace platform;

namespace {

// A gate worker operations block on until the test opens it.
struct Gate {
    std::mutex mutex;
    std::condition_variable cv;
    bool open = false;
    void wait()
    {
        std::unique_lock lock(mutex);
        cv.wait(lock, [&] { return open; });
    }
    void release()
    {
        std::lock_guard lock(mutex);
        open = true;
        cv.notify_all();
    }
};

} // namespace

TEST(Dispatch, MainIsAlwaysLaterAndSyncRunsOnMain)
{
    bool ran = false;
    dispatchMain([&] { ran = true; });
    EXPECT_FALSE(ran) << "dispatchMain must not run inline on the main thread";
    KR_WAIT_UNTIL(ran);

    bool inlineRun = false;
    dispatchMainSync([&] { inlineRun = true; });
    EXPECT_TRUE(inlineRun);

    std::atomic_bool workerSawMain{true}, syncRanOnMain{false}, done{false};
    dispatchGlobal([&] {
        workerSawMain = isMainThread();
        dispatchMainSync([&] { syncRanOnMain = isMainThread(); });
        done = true;
    });
    KR_WAIT_UNTIL(done.load());
    EXPECT_FALSE(workerSawMain.load());
    EXPECT_TRUE(syncRanOnMain.load());
    EXPECT_TRUE(isMainThread());
}

TEST(Dispatch, AfterIsDroppedWhenItsContextDied)
{
    auto context = std::make_unique<QObject>();
    bool ownedRan = false, orphanRan = false, unownedRan = false;
    dispatchAfter(10, context.get(), [&] { ownedRan = true; });
    auto doomed = std::make_unique<QObject>();
    dispatchAfter(5, doomed.get(), [&] { orphanRan = true; });
    doomed.reset();
    std::atomic_bool fromWorker{false};
    dispatchGlobal([&] { dispatchAfter(1, nullptr, [&] { unownedRan = true; fromWorker = isMainThread(); }); });
    KR_WAIT_UNTIL(ownedRan && unownedRan);
    EXPECT_FALSE(orphanRan);
    EXPECT_TRUE(fromWorker.load()) << "a call armed from a worker still runs on the main thread";
}

TEST(OperationQueue, StartsInOrderAndNeverExceedsItsWidth)
{
    OperationQueue queue(2, QStringLiteral("test"));
    EXPECT_EQ(queue.maxConcurrentOperationCount(), 2);
    Gate gate;
    std::mutex mutex;
    std::vector<int> started;
    std::atomic_int running{0}, peak{0};
    for (int i = 0; i < 6; ++i) {
        queue.addOperation([&, i] {
            {
                std::lock_guard lock(mutex);
                started.push_back(i);
            }
            const int now = ++running;
            int seen = peak.load();
            while (now > seen && !peak.compare_exchange_weak(seen, now)) {}
            gate.wait();
            --running;
        });
    }
    KR_WAIT_UNTIL(running.load() == 2);
    EXPECT_EQ(queue.operationCount(), 6);
    gate.release();
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(peak.load(), 2);
    EXPECT_EQ(queue.operationCount(), 0);
    ASSERT_EQ(started.size(), 6u);
    // With width 2 the first two may race each other, but nothing later starts before them.
    EXPECT_EQ(std::min(started[0], started[1]), 0);
    EXPECT_EQ(std::max(started[0], started[1]), 1);
}

TEST(OperationQueue, SerialQueueKeepsStrictOrderAndCancelDropsQueued)
{
    OperationQueue queue;
    Gate gate;
    std::vector<int> order;  // written by one operation at a time
    std::atomic_bool firstStarted{false};
    queue.addOperation([&] {
        firstStarted = true;
        gate.wait();
        order.push_back(0);
    });
    for (int i = 1; i <= 3; ++i)
        queue.addOperation([&, i] { order.push_back(i); });
    KR_WAIT_UNTIL(firstStarted.load());
    queue.cancelAllOperations();
    queue.addOperation([&] { order.push_back(9); });
    EXPECT_EQ(queue.operationCount(), 2);
    gate.release();
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(order, (std::vector<int>{0, 9}));
}

TEST(OperationQueue, DestructionWaitsForRunningAndRunOnceRuns)
{
    std::atomic_bool finished{false};
    Gate gate;
    std::atomic_bool started{false};
    {
        OperationQueue queue;
        queue.addOperation([&] {
            started = true;
            gate.wait();
            finished = true;
        });
        KR_WAIT_UNTIL(started.load());
        dispatchGlobal([&] { gate.release(); });
    }
    EXPECT_TRUE(finished.load());

    std::atomic_int count{0};
    for (int i = 0; i < 20; ++i)
        OperationQueue::runOnce([&] { ++count; });
    KR_WAIT_UNTIL(count.load() == 20);
}

TEST(OperationQueue, WaitingFromInsideItsOwnOperationDoesNotDeadlock)
{
    OperationQueue queue;
    std::atomic_bool done{false};
    queue.addOperation([&] {
        queue.waitUntilAllOperationsAreFinished();
        done = true;
    });
    KR_WAIT_UNTIL(done.load());
    queue.waitUntilAllOperationsAreFinished();
}

TEST(DelayedCalls, RearmingReplacesAndCancelStops)
{
    DelayedCalls calls;
    int first = 0, second = 0, cancelled = 0;
    calls.schedule(QStringLiteral("save"), 30, [&] { ++first; });
    calls.schedule(QStringLiteral("save"), 5, [&] { ++second; });
    calls.schedule(QStringLiteral("other"), 1, [&] { ++cancelled; });
    EXPECT_TRUE(calls.isScheduled(QStringLiteral("save")));
    calls.cancel(QStringLiteral("other"));
    EXPECT_FALSE(calls.isScheduled(QStringLiteral("other")));
    KR_WAIT_UNTIL(second == 1);
    EXPECT_FALSE(calls.isScheduled(QStringLiteral("save")));
    // Let the replaced call's original deadline pass.
    bool later = false;
    dispatchAfter(60, nullptr, [&] { later = true; });
    KR_WAIT_UNTIL(later);
    EXPECT_EQ(first, 0);
    EXPECT_EQ(cancelled, 0);
}

TEST(DelayedCalls, CallMayRearmItselfAndDestructionCancels)
{
    DelayedCalls calls;
    int runs = 0;
    std::function<void()> tick = [&] {
        EXPECT_FALSE(calls.isScheduled(QStringLiteral("tick")));
        if (++runs < 3)
            calls.schedule(QStringLiteral("tick"), 1, tick);
    };
    calls.schedule(QStringLiteral("tick"), 1, tick);
    KR_WAIT_UNTIL(runs == 3);

    bool ran = false;
    {
        auto owner = std::make_unique<DelayedCalls>();
        owner->schedule(QStringLiteral("x"), 1, [&] { ran = true; });
    }
    bool later = false;
    dispatchAfter(20, nullptr, [&] { later = true; });
    KR_WAIT_UNTIL(later);
    EXPECT_FALSE(ran);

    // A call that destroys its owner.
    auto owner = std::make_unique<DelayedCalls>();
    bool selfDestroyed = false;
    owner->schedule(QStringLiteral("end"), 1, [&] {
        owner.reset();
        selfDestroyed = true;
    });
    KR_WAIT_UNTIL(selfDestroyed);
}

TEST(RepeatingTimer, RepeatsUntilStoppedFromItsOwnCallback)
{
    RepeatingTimer timer;
    int ticks = 0;
    timer.start(1, [&] {
        if (++ticks == 3)
            timer.stop();
    });
    EXPECT_TRUE(timer.isActive());
    EXPECT_EQ(timer.interval(), 1);
    KR_WAIT_UNTIL(!timer.isActive());
    EXPECT_EQ(ticks, 3);

    auto owned = std::make_unique<RepeatingTimer>();
    int ownedTicks = 0;
    owned->start(1, [&] {
        ++ownedTicks;
        owned.reset();  // destroying from inside the callback is allowed
    });
    KR_WAIT_UNTIL(!owned);
    EXPECT_EQ(ownedTicks, 1);
}
