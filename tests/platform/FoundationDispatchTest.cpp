#include "support/TestSupport.h"

#include "platform/foundation/DelayedCall.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/foundation/RepeatingTimer.h"

#include <QObject>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <vector>

using namespace platform;

namespace {

// A gate worker operations block on until the test opens it.
struct Gate {
    std::promise<void> opener;
    std::shared_future<void> opened = opener.get_future().share();
    void wait() const { opened.wait(); }
    void release() { opener.set_value(); }
};

// Runs the event loop for `ms` milliseconds: lets deadlines of calls that must not run pass.
void letTimePass(int ms)
{
    bool passed = false;
    dispatchAfter(ms, nullptr, [&] { passed = true; });
    ASSERT_TRUE(testsupport::waitUntil([&] { return passed; }));
}

} // namespace

TEST(Dispatch, MainIsLaterSyncWaitsAndAfterDropsCallsOfDeadContexts)
{
    bool ran = false, inlineRun = false;
    dispatchMain([&] { ran = true; });
    EXPECT_FALSE(ran) << "dispatchMain never runs inline, even on the main thread";
    dispatchMainSync([&] { inlineRun = true; });
    EXPECT_TRUE(inlineRun);

    std::atomic_bool workerSawMain{true}, syncRanOnMain{false}, synced{false}, unownedOnMain{false};
    dispatchGlobal([&] {
        workerSawMain = isMainThread();
        dispatchMainSync([&] { syncRanOnMain = isMainThread(); });
        synced = true;
        dispatchAfter(1, nullptr, [&] { unownedOnMain = isMainThread(); });
    });
    auto context = std::make_unique<QObject>(), doomed = std::make_unique<QObject>();
    bool ownedRan = false, orphanRan = false;
    dispatchAfter(10, context.get(), [&] { ownedRan = true; });
    dispatchAfter(5, doomed.get(), [&] { orphanRan = true; });
    doomed.reset();
    KR_WAIT_UNTIL(ran && synced && ownedRan && unownedOnMain);
    EXPECT_FALSE(workerSawMain.load());
    EXPECT_TRUE(syncRanOnMain.load());
    EXPECT_FALSE(orphanRan);
}

TEST(OperationQueue, StartsInOrderAndNeverExceedsItsWidth)
{
    OperationQueue queue(2);
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

TEST(OperationQueue, SerialOrderCancellingAndWaitingFromInside)
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
    queue.cancelAllOperations();  // drops 1 to 3, not the running one
    queue.addOperation([&] {
        queue.waitUntilAllOperationsAreFinished();  // must not wait for itself
        order.push_back(9);
    });
    EXPECT_EQ(queue.operationCount(), 2);
    gate.release();
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(order, (std::vector<int>{0, 9}));
}

TEST(OperationQueue, DestructionWaitsForRunningAndRunOnceRuns)
{
    std::atomic_bool started{false}, finished{false};
    Gate gate;
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

TEST(DelayedCalls, RearmingReplacesCancelStopsAndACallMayRearmItself)
{
    DelayedCalls calls;
    int first = 0, second = 0, cancelled = 0, runs = 0;
    calls.schedule("save", 30, [&] { ++first; });
    calls.schedule("save", 5, [&] { ++second; });
    calls.schedule("other", 1, [&] { ++cancelled; });
    calls.cancel("other");
    EXPECT_TRUE(calls.isScheduled("save"));
    EXPECT_FALSE(calls.isScheduled("other"));
    std::function<void()> tick = [&] {
        EXPECT_FALSE(calls.isScheduled("tick")) << "a running call is no longer scheduled";
        if (++runs < 3)
            calls.schedule("tick", 1, tick);
    };
    calls.schedule("tick", 1, tick);
    KR_WAIT_UNTIL(second == 1 && runs == 3);
    letTimePass(60);  // past the replaced call's original deadline
    EXPECT_EQ(first, 0);
    EXPECT_EQ(cancelled, 0);
}

TEST(DelayedCalls, DestructionCancelsEvenFromInsideACall)
{
    bool ran = false, selfDestroyed = false;
    {
        DelayedCalls owner;
        owner.schedule("x", 1, [&] { ran = true; });
    }
    auto owner = std::make_unique<DelayedCalls>();
    owner->schedule("end", 1, [&] {
        owner.reset();
        selfDestroyed = true;
    });
    KR_WAIT_UNTIL(selfDestroyed);
    letTimePass(10);
    EXPECT_FALSE(ran);
}

TEST(RepeatingTimer, RepeatsUntilStoppedOrDestroyedFromItsOwnCallback)
{
    RepeatingTimer timer;
    int ticks = 0;
    timer.start(1, [&] {
        if (++ticks == 3)
            timer.stop();
    });
    EXPECT_TRUE(timer.isActive());
    KR_WAIT_UNTIL(!timer.isActive());
    EXPECT_EQ(ticks, 3);

    auto owned = std::make_unique<RepeatingTimer>();
    int ownedTicks = 0;
    owned->start(1, [&] {
        ++ownedTicks;
        owned.reset();
    });
    KR_WAIT_UNTIL(!owned);
    letTimePass(10);
    EXPECT_EQ(ownedTicks, 1);
}
