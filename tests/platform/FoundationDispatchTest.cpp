// Main-thread dispatch, operation queues, owned work, delayed calls and timers. Calls for the
// main thread share one queued event per batch and operations share pooled worker threads:
// neither may cost order, progress or a call. Owned work answers once, on the main thread,
// only while its owner lives, and releases what a dropped answer held there too.
#include "support/TestSupport.h"
#include "support/ThreadWatch.h"

#include "platform/foundation/DelayedCall.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/foundation/OwnedWork.h"
#include "platform/foundation/RepeatingTimer.h"

#include <QObject>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <numeric>
#include <set>
#include <thread>
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

// Records the thread that destroys the last copy of what a delivery holds.
struct ReleaseProbe {
    std::shared_ptr<std::atomic_int> releasedOnMain = std::make_shared<std::atomic_int>(0);
    std::shared_ptr<std::atomic_int> releasedElsewhere = std::make_shared<std::atomic_int>(0);

    struct Token {
        Token(std::shared_ptr<std::atomic_int> main, std::shared_ptr<std::atomic_int> other)
            : onMain(std::move(main))
            , elsewhere(std::move(other))
        {
        }
        Token(const Token&) = delete;
        Token& operator=(const Token&) = delete;
        ~Token() { (isMainThread() ? *onMain : *elsewhere) += 1; }
        std::shared_ptr<std::atomic_int> onMain;
        std::shared_ptr<std::atomic_int> elsewhere;
    };
    std::shared_ptr<Token> token() const { return std::make_shared<Token>(releasedOnMain, releasedElsewhere); }
};

} // namespace

TEST(Dispatch, MainIsLaterSyncWaitsAndAfterDropsCallsOfDeadContexts)
{
    bool ran = false, inlineRun = false;
    dispatchMain([&] { ran = true; });
    EXPECT_FALSE(ran) << "dispatchMain never runs inline, even on the main thread";
    dispatchMainSync([&] { inlineRun = true; });
    EXPECT_TRUE(inlineRun);

    std::atomic_bool workerSawMain{true}, syncRanOnMain{false}, synced{false}, unownedOnMain{false};
    std::atomic_bool earlierCallRan{false}, syncCameAfterIt{false};
    dispatchGlobal([&] {
        workerSawMain = isMainThread();
        dispatchMain([&] { earlierCallRan = true; });
        dispatchMainSync([&] {
            syncRanOnMain = isMainThread();
            syncCameAfterIt = earlierCallRan.load();
        });
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
    EXPECT_TRUE(syncCameAfterIt.load()) << "a waited call keeps its place after the worker's earlier calls";
    EXPECT_FALSE(orphanRan);
}

TEST(Dispatch, AWaitedCallLetsItsWorkerGoOnlyOnceItHasRun)
{
    // The call holds the main thread until the worker is seen waiting for it (or back, when it
    // was let go too early), so the worker cannot come back before the call is over by chance.
    std::atomic_bool callOver{false}, workerBack{false}, overWhenBack{false};
    std::atomic_bool workerSeen{false};
    std::thread worker([&] {
        const testsupport::ThreadWatch self;
        dispatchMainSync([&] {
            workerSeen = self.waitUntilAsleepOr([&] { return workerBack.load(); });
            callOver = true;
        });
        overWhenBack = callOver.load();
        workerBack = true;
    });
    const bool back = testsupport::waitUntil([&] { return workerBack.load(); });
    worker.join();
    ASSERT_TRUE(back);
    EXPECT_TRUE(workerSeen.load());
    EXPECT_TRUE(overWhenBack.load()) << "the worker went on before its call had run";
}

TEST(Dispatch, MainCallsKeepTheirOrderPerThreadAndNoneIsLost)
{
    constexpr int kThreads = 4, kCalls = 2000;
    std::vector<std::vector<int>> seen(kThreads + 1); // the last: the main thread's own calls
    auto send = [&](int t) {
        for (int i = 0; i < kCalls; ++i)
            dispatchMain([&, t, i] { seen[t].push_back(i); });
    };
    std::atomic_bool go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            while (!go) {}
            send(t);
        });
    go = true;
    send(kThreads);
    for (std::thread& thread : threads)
        thread.join();
    KR_WAIT_UNTIL(std::all_of(seen.begin(), seen.end(), [](const auto& calls) { return calls.size() == kCalls; }));
    std::vector<int> inOrder(kCalls);
    std::iota(inOrder.begin(), inOrder.end(), 0);
    for (const std::vector<int>& calls : seen)
        EXPECT_EQ(calls, inOrder);
}

TEST(Dispatch, CallsFromInsideACallWaitTheirTurnAndLetEventsThrough)
{
    // A call dispatched from a main call runs after it, not inside the same batch.
    bool innerRan = false, innerRanInline = false;
    dispatchMain([&] {
        dispatchMain([&] { innerRan = true; });
        innerRanInline = innerRan;
    });
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
    dispatchMain(again);
    QTimer::singleShot(20, [&] { timerFired = true; });
    KR_WAIT_UNTIL(chainEnded && innerRan);
    EXPECT_FALSE(innerRanInline);
    EXPECT_GT(rounds, 1);

    // A call waiting in a nested loop for the call behind it: that one still runs, and the
    // calls start in the order they were made (the third may run inside the first's loop too).
    std::vector<int> order;
    bool secondRan = false, firstDone = false;
    dispatchMain([&] {
        order.push_back(1);
        EXPECT_TRUE(testsupport::waitUntil([&] { return secondRan; }, std::chrono::seconds(5)));
        firstDone = true;
    });
    dispatchMain([&] {
        order.push_back(2);
        secondRan = true;
    });
    dispatchMain([&] { order.push_back(3); });
    KR_WAIT_UNTIL(firstDone && order.size() == 3);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST(OperationQueue, StartsInOrderAndNeverExceedsItsWidth)
{
    OperationQueue queue(2);
    Gate gate;
    std::mutex mutex;
    std::vector<int> started;
    std::atomic_int running{0};
    int peak = 0;
    for (int i = 0; i < 6; ++i) {
        queue.addOperation([&, i] {
            {
                std::lock_guard lock(mutex);
                started.push_back(i);
                peak = std::max(peak, ++running);
            }
            gate.wait();
            --running;
        });
    }
    KR_WAIT_UNTIL(running.load() == 2);
    EXPECT_EQ(queue.operationCount(), 6);
    gate.release();
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(peak, 2);
    EXPECT_EQ(queue.operationCount(), 0);
    ASSERT_EQ(started.size(), 6u);
    // With width 2 the first two may race each other, but nothing later starts before them.
    EXPECT_EQ(std::min(started[0], started[1]), 0);
    EXPECT_EQ(std::max(started[0], started[1]), 1);
}

TEST(OperationQueue, LaterOperationsStartInTheOrderTheyWereAdded)
{
    // Each operation holds its slot until the test lets it go, so the queue alone decides
    // which waiting operation takes a freed slot.
    for (const int width : {1, 3}) {
        constexpr int count = 8;
        std::vector<Gate> gates(count);
        std::vector<bool> released(count, false);
        auto release = [&](int i) {
            if (!released[size_t(i)]) {
                released[size_t(i)] = true;
                gates[size_t(i)].release();
            }
        };
        std::mutex mutex;
        std::vector<int> started;
        auto startedCount = [&] {
            std::lock_guard lock(mutex);
            return started.size();
        };
        auto queue = std::make_unique<OperationQueue>(width);
        // A failed assertion leaves early: the queue is still destroyed with every gate open.
        const std::shared_ptr<void> openAll(nullptr, [&](void*) {
            for (int i = 0; i < count; ++i)
                release(i);
            queue.reset();
        });
        for (int i = 0; i < count; ++i) {
            queue->addOperation([&, i] {
                {
                    std::lock_guard lock(mutex);
                    started.push_back(i);
                }
                gates[size_t(i)].wait();
            });
        }
        KR_WAIT_UNTIL(startedCount() == size_t(width));
        for (int next = width; next < count; ++next) {
            release(next - width);
            KR_WAIT_UNTIL(startedCount() == size_t(next + 1));
            std::lock_guard lock(mutex);
            ASSERT_EQ(started.back(), next) << "width " << width;
        }
        for (int i = 0; i < count; ++i)
            release(i);
        queue->waitUntilAllOperationsAreFinished();
        std::sort(started.begin(), started.begin() + width);
        std::vector<int> expected(count);
        std::iota(expected.begin(), expected.end(), 0);
        EXPECT_EQ(started, expected) << "width " << width;
    }
}

TEST(OperationQueue, SerialOrderCancellingWaitingFromInsideAndDestruction)
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

    // Destroying a queue waits for the operation it runs.
    Gate last;
    std::atomic_bool started{false}, finished{false};
    auto doomed = std::make_unique<OperationQueue>();
    doomed->addOperation([&] {
        started = true;
        last.wait();
        finished = true;
    });
    KR_WAIT_UNTIL(started.load());
    dispatchGlobal([&] { last.release(); });
    doomed.reset();
    EXPECT_TRUE(finished.load());
}

TEST(OperationQueue, PooledThreadsAreReusedAndWorkBeyondThePoolLimitWaitsAndRuns)
{
    // Sequential operations must not each get a thread of their own, nor run on the main thread.
    {
        OperationQueue queue(2);
        std::mutex mutex;
        std::set<std::thread::id> threads;
        for (int i = 0; i < 200; ++i) {
            queue.addOperation([&] {
                std::lock_guard lock(mutex);
                threads.insert(std::this_thread::get_id());
            });
            queue.waitUntilAllOperationsAreFinished();
        }
        EXPECT_LE(threads.size(), 16u);
        EXPECT_EQ(threads.count(std::this_thread::get_id()), 0u);
    }
    // More blocked one-off operations than the pool has threads: the rest wait for a free
    // thread instead of being lost, and a queue behind them still gets its turn.
    constexpr int kBlocked = 300;
    struct Shared {
        Gate gate;
        std::atomic_int started{0}, finished{0};
        std::atomic_bool queued{false};
    };
    auto shared = std::make_shared<Shared>(); // outlives the test should it fail
    for (int i = 0; i < kBlocked; ++i) {
        OperationQueue::runOnce([shared] {
            ++shared->started;
            shared->gate.wait();
            ++shared->finished;
        });
    }
    const bool manyStarted = testsupport::waitUntil([&] { return shared->started.load() >= 200; });
    auto queue = std::make_shared<OperationQueue>();
    queue->addOperation([shared] { shared->queued = true; });
    shared->gate.release();
    EXPECT_TRUE(manyStarted);
    KR_WAIT_UNTIL(shared->finished.load() == kBlocked && shared->queued.load());
}

TEST(OperationQueue, WorkHandedToIdleThreadsFromSeveralThreadsRunsOnceEachAndAtOnce)
{
    // Each producer waits for its operation before adding the next, so the pool's threads
    // go idle between operations and every one is handed over to a sleeping thread. A lost
    // wake-up would leave an operation waiting out the pool's idle time (half a minute).
    constexpr int kProducers = 4;
    constexpr int kEach = 300;
    auto ran = std::make_shared<std::atomic_int>(0); // outlives the test should it fail
    std::atomic_int late{0};
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&] {
            for (int i = 0; i < kEach; ++i) {
                auto done = std::make_shared<std::promise<void>>();
                std::future<void> finished = done->get_future();
                OperationQueue::runOnce([ran, done] {
                    ++*ran;
                    done->set_value(); // a second run would throw here
                });
                if (finished.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
                    ++late;
                    return;
                }
            }
        });
    }
    for (std::thread& producer : producers)
        producer.join();
    ASSERT_EQ(late.load(), 0);
    EXPECT_EQ(ran->load(), kProducers * kEach);
}

TEST(OperationQueue, WaitingForAllWorkWaitsForTheLastOperationToo)
{
    OperationQueue::waitUntilAllWorkIsFinished(); // nothing of an earlier test's is counted
    // One operation is all the pool has; a queue's operation and a one-off alike.
    for (const bool queued : {false, true}) {
        SCOPED_TRACE(queued ? "a queue's operation" : "a one-off");
        struct Shared {
            Gate gate;
            std::atomic_bool started{false}, finished{false};
        };
        auto shared = std::make_shared<Shared>(); // outlives the test should it fail
        OperationQueue queue;
        const auto operation = [shared] {
            shared->started = true;
            shared->gate.wait();
            shared->finished = true;
        };
        if (queued)
            queue.addOperation(operation);
        else
            OperationQueue::runOnce(operation);
        KR_WAIT_UNTIL(shared->started.load());
        bool finishedFirst = false;
        EXPECT_TRUE(testsupport::callWhileHeld(
            [&] {
                OperationQueue::waitUntilAllWorkIsFinished();
                finishedFirst = shared->finished.load();
            },
            [&] { shared->gate.release(); }));
        EXPECT_TRUE(finishedFirst) << "the wait came back while the operation ran";
        queue.waitUntilAllOperationsAreFinished();
    }
}

// Worker threads that touched a thread-local of this kind, and those whose thread-local went
// with the end of their thread.
std::atomic_int threadProbesMade{0};
std::atomic_int threadProbesReleased{0};

struct ThreadProbe {
    ThreadProbe() { ++threadProbesMade; }
    ~ThreadProbe() { ++threadProbesReleased; }
};

TEST(OperationQueue, EndingTheWorkersWaitsForAllWorkAndEndsEveryThreadWithItsThreadLocals)
{
    // Several threads at once: each operation holds its thread until all have started.
    constexpr int kThreads = 4;
    struct Shared {
        Gate gate;
        std::atomic_int started{0}, finished{0};
    };
    auto shared = std::make_shared<Shared>(); // outlives the test should it fail
    OperationQueue queue(2);
    const auto operation = [shared] {
        thread_local ThreadProbe probe;
        ++shared->started;
        shared->gate.wait();
        ++shared->finished;
    };
    for (int i = 0; i < kThreads - 2; ++i)
        OperationQueue::runOnce(operation);
    queue.addOperation(operation);
    queue.addOperation(operation);
    KR_WAIT_UNTIL(shared->started.load() == kThreads);
    const int releasedBefore = threadProbesReleased.load();

    shared->gate.release();
    OperationQueue::waitUntilAllWorkIsFinished();
    EXPECT_EQ(shared->finished.load(), kThreads);
    EXPECT_EQ(queue.operationCount(), 0);
    EXPECT_EQ(threadProbesReleased.load(), releasedBefore) << "waiting ends no thread";

    // Every worker is idle now, waiting for work until its idle time (half a minute) is out:
    // ending them wakes them at once, so the application's quit is not held that long.
    const auto ending = std::chrono::steady_clock::now();
    OperationQueue::endWorkerThreads();
    EXPECT_LT(std::chrono::steady_clock::now() - ending, std::chrono::seconds(10)) << "idle workers were left to their idle time";
    EXPECT_GE(threadProbesMade.load(), kThreads);
    EXPECT_EQ(threadProbesReleased.load(), threadProbesMade.load());

    // Work added afterwards still runs, on a thread of its own, and a queue goes on as before.
    std::atomic_int ran{0};
    OperationQueue::runOnce([&] { ++ran; });
    queue.addOperation([&] { ++ran; });
    KR_WAIT_UNTIL(ran.load() == 2);
    OperationQueue::waitUntilAllWorkIsFinished();
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

TEST(OwnedWork, WorkRunsOffTheMainThreadAndItsAnswerComesOnceOnTheMainThread)
{
    QObject owner;
    std::atomic_bool workOnMain{true};
    int deliveries = 0;
    bool deliveredOnMain = false;
    int answer = 0;
    const bool started = OwnedWork(&owner).run(
        [&](const OwnedWork& work) {
            workOnMain = isMainThread();
            EXPECT_FALSE(work.abandoned());
            return 42;
        },
        [&](int result) {
            ++deliveries;
            deliveredOnMain = isMainThread();
            answer = result;
        });
    EXPECT_TRUE(started);
    KR_WAIT_UNTIL(deliveries == 1);
    EXPECT_FALSE(workOnMain);
    EXPECT_TRUE(deliveredOnMain);
    EXPECT_EQ(answer, 42);

    // Nothing more arrives: a second delivery would come within the same turns of the loop.
    bool later = false;
    dispatchMain([&] { later = true; });
    KR_WAIT_UNTIL(later);
    EXPECT_EQ(deliveries, 1);

    // On a queue, the queue runs it.
    OperationQueue queue(1, QStringLiteral("owned-work"));
    Gate gate;
    queue.addOperation([&] { gate.wait(); });
    bool queued = false;
    OwnedWork(&owner).onQueue(&queue).run([](const OwnedWork&) { return true; }, [&](bool value) { queued = value; });
    EXPECT_EQ(queue.operationCount(), 2) << "the work waits its turn on the queue it was given";
    gate.release();
    KR_WAIT_UNTIL(queued);
}

TEST(OwnedWork, AGoneOwnerHearsNothingAndWhatTheAnswerHeldIsReleasedOnTheMainThread)
{
    ReleaseProbe probe;
    Gate gate;
    std::atomic_bool workRan{false};
    bool delivered = false;
    auto owner = std::make_unique<QObject>();
    OwnedWork(owner.get()).run(
        [&](const OwnedWork&) {
            gate.wait();
            workRan = true;
            return 1;
        },
        [&, held = probe.token()](int) { delivered = true; });
    owner.reset();
    gate.release();
    KR_WAIT_UNTIL(*probe.releasedOnMain == 1);
    EXPECT_TRUE(workRan) << "run does the work whoever waits for it";
    EXPECT_FALSE(delivered);
    EXPECT_EQ(*probe.releasedElsewhere, 0);

    // runUnlessAbandoned skips the work of an owner gone before it starts.
    OperationQueue queue(1, QStringLiteral("owned-work"));
    Gate blocker;
    queue.addOperation([&] { blocker.wait(); });
    std::atomic_bool skippedWorkRan{false};
    owner = std::make_unique<QObject>();
    OwnedWork(owner.get()).onQueue(&queue).runUnlessAbandoned(
        [&](const OwnedWork&) {
            skippedWorkRan = true;
            return 2;
        },
        [&, held = probe.token()](int) { delivered = true; });
    owner.reset();
    blocker.release();
    KR_WAIT_UNTIL(*probe.releasedOnMain == 2);
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_FALSE(skippedWorkRan);
    EXPECT_FALSE(delivered);
    EXPECT_EQ(*probe.releasedElsewhere, 0);
}

TEST(OwnedWork, ACancelledWorkOrOneThatCannotStartDeliversNothing)
{
    std::atomic_bool cancelled{false};
    Gate gate;
    bool delivered = false;
    ReleaseProbe probe;
    OwnedWork().cancelledBy([&] { return cancelled.load(); }).run(
        [&](const OwnedWork& work) {
            gate.wait();
            return work.abandoned();
        },
        [&, held = probe.token()](bool) { delivered = true; });
    cancelled = true;
    gate.release();
    KR_WAIT_UNTIL(*probe.releasedOnMain == 1);
    EXPECT_FALSE(delivered);

    // A start that refuses the work: neither runs, and the answer is released in the call.
    bool workRan = false;
    const bool started = OwnedWork().startedBy([](std::function<void()>) { return false; }).run(
        [&](const OwnedWork&) {
            workRan = true;
            return 0;
        },
        [&, held = probe.token()](int) { delivered = true; });
    EXPECT_FALSE(started);
    EXPECT_EQ(*probe.releasedOnMain, 2);
    EXPECT_FALSE(workRan);
    EXPECT_FALSE(delivered);
}

TEST(OwnedWork, AnAnswerKnownAtOnceComesLaterOnceAndOnlyWhileTheOwnerLives)
{
    QObject owner;
    int calls = 0;
    QString text;
    int number = 0;
    OwnedWork(&owner).answerLater(
        [&](const QString& first, int second) {
            ++calls;
            text = first;
            number = second;
        },
        QStringLiteral("later"), 7);
    EXPECT_EQ(calls, 0) << "never inside the call that asked";
    KR_WAIT_UNTIL(calls == 1);
    EXPECT_EQ(text, QStringLiteral("later"));
    EXPECT_EQ(number, 7);

    auto gone = std::make_unique<QObject>();
    bool heard = false;
    OwnedWork(gone.get()).answerLater([&] { heard = true; });
    gone.reset();
    bool after = false;
    dispatchMain([&] { after = true; });
    KR_WAIT_UNTIL(after);
    EXPECT_FALSE(heard);

    // No owner: always answered.
    bool unowned = false;
    OwnedWork().answerLater([&] { unowned = true; });
    KR_WAIT_UNTIL(unowned);
}
