// Handing work between threads: calls for the main thread share one queued event per batch,
// and operations share pooled worker threads. Neither may cost order, progress or a call.
#include "support/TestSupport.h"

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/OperationQueue.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

using namespace platform;

TEST(DispatchHandOver, MainCallsKeepTheirOrderPerThreadAndNoneIsLost)
{
    constexpr int kThreads = 4;
    constexpr int kCalls = 2000;
    std::vector<std::vector<int>> seen(kThreads + 1);
    std::vector<std::thread> threads;
    std::atomic_int go{0};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            while (!go.load()) {}
            for (int i = 0; i < kCalls; ++i)
                dispatchMain([&, t, i] { seen[t].push_back(i); });
        });
    }
    go = 1;
    for (int i = 0; i < kCalls; ++i)
        dispatchMain([&, i] { seen[kThreads].push_back(i); });
    for (std::thread& thread : threads)
        thread.join();
    KR_WAIT_UNTIL(seen[0].size() == kCalls && seen[1].size() == kCalls && seen[2].size() == kCalls
                  && seen[3].size() == kCalls && seen[kThreads].size() == kCalls);
    for (const std::vector<int>& calls : seen) {
        for (int i = 0; i < kCalls; ++i)
            ASSERT_EQ(calls[i], i);
    }
}

TEST(DispatchHandOver, ACallThatDispatchesAgainRunsLaterAndLetsEventsThrough)
{
    // A call re-queuing itself until a timer fires must not hold the event loop meanwhile.
    bool timerFired = false, chainEnded = false;
    int rounds = 0;
    std::function<void()> again = [&] {
        ++rounds;
        if (timerFired)
            chainEnded = true;
        else
            dispatchMain(again);
    };
    bool innerRanInline = false;
    dispatchMain([&] {
        bool inner = false;
        dispatchMain([&] { inner = true; });
        innerRanInline = inner;
    });
    dispatchMain(again);
    QTimer::singleShot(20, [&] { timerFired = true; });
    KR_WAIT_UNTIL(chainEnded);
    EXPECT_FALSE(innerRanInline) << "a call dispatched from a main call ran inside it";
    EXPECT_GT(rounds, 1);
}

TEST(DispatchHandOver, ANestedEventLoopInACallStillRunsTheCallsBehindIt)
{
    // The first call waits (in a nested loop) for the second: the second must run inside it.
    std::vector<int> order;
    bool secondRan = false, firstDone = false;
    dispatchMain([&] {
        order.push_back(1);
        EXPECT_TRUE(testsupport::waitUntil([&] { return secondRan; }, std::chrono::seconds(5)));
        order.push_back(3);
        firstDone = true;
    });
    dispatchMain([&] {
        order.push_back(2);
        secondRan = true;
    });
    dispatchMain([&] { order.push_back(4); });
    KR_WAIT_UNTIL(firstDone && order.size() == 4);
    // The calls start in the order they were made (the third may run inside the first's loop too).
    std::vector<int> starts;
    std::copy_if(order.begin(), order.end(), std::back_inserter(starts), [](int step) { return step != 3; });
    EXPECT_EQ(starts, (std::vector<int>{1, 2, 4}));
}

TEST(DispatchHandOver, OperationsOneAfterAnotherReuseThreads)
{
    // Sequential operations must not each get a thread of their own.
    OperationQueue queue(2);
    std::mutex mutex;
    std::set<std::thread::id> threads;
    for (int i = 0; i < 200; ++i) {
        std::atomic_bool done{false};
        queue.addOperation([&] {
            {
                std::lock_guard lock(mutex);
                threads.insert(std::this_thread::get_id());
            }
            done = true;
        });
        while (!done.load()) {}
    }
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_LE(threads.size(), 16u);
    EXPECT_EQ(threads.count(std::this_thread::get_id()), 0u);
}

TEST(DispatchHandOver, WorkBeyondThePoolsThreadLimitWaitsAndThenRuns)
{
    // More blocked one-off operations than the pool has threads: the rest wait for a free
    // thread instead of being lost, and a queue behind them still gets its turn.
    constexpr int kBlocked = 300;
    struct Shared {
        std::mutex mutex;
        std::condition_variable cv;
        bool open = false;
        std::atomic_int started{0}, finished{0};
        std::atomic_bool queued{false};
    };
    auto shared = std::make_shared<Shared>(); // outlives the test should it fail
    for (int i = 0; i < kBlocked; ++i) {
        OperationQueue::runOnce([shared] {
            ++shared->started;
            std::unique_lock lock(shared->mutex);
            shared->cv.wait(lock, [&] { return shared->open; });
            ++shared->finished;
        });
    }
    const bool manyStarted = testsupport::waitUntil([&] { return shared->started.load() >= 200; });
    auto queue = std::make_shared<OperationQueue>();
    queue->addOperation([shared] { shared->queued = true; });
    {
        std::lock_guard lock(shared->mutex);
        shared->open = true;
    }
    shared->cv.notify_all();
    EXPECT_TRUE(manyStarted);
    KR_WAIT_UNTIL(shared->finished.load() == kBlocked && shared->queued.load());
}
