// The main clock in manual mode: delayed calls, repeating timers and dispatchAfter run only
// when the clock is advanced, in time order, and a clock registered with it moves along.
#include "support/TestSupport.h"

#include "platform/foundation/DelayedCall.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/MainClock.h"
#include "platform/foundation/RepeatingTimer.h"

#include <QCoreApplication>
#include <QObject>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

using namespace platform;

namespace {

// The clock counts whole nanoseconds from its first use and reads them as seconds in a double:
// once the process has run for a few seconds, the difference of two readings is right to within
// a nanosecond, not to the last bit.
constexpr double kNanosecond = 1e-9;

class MainClockTest : public ::testing::Test {
protected:
    void SetUp() override { MainClock::setManualForTesting(true); }
    void TearDown() override { MainClock::setManualForTesting(false); }

    // Gives the event loop its turns: whatever is due only by wall time would run now.
    static void spinEvents()
    {
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }
};

// A stepper registered once for this process, recording how far the main clock moved it.
struct RecordingStepper {
    bool manual = false;
    double moved = 0;
    std::vector<double> steps;
    // Run at each move, as an animation the move steps would run.
    std::function<void()> onMove;
};

RecordingStepper& recordingStepper()
{
    static RecordingStepper* stepper = [] {
        auto* s = new RecordingStepper;
        MainClock::registerStepper([s](bool manual) { s->manual = manual; },
                                   [s](double seconds) {
                                       s->moved += seconds;
                                       s->steps.push_back(seconds);
                                       if (s->onMove)
                                           s->onMove();
                                   });
        return s;
    }();
    return *stepper;
}

} // namespace

TEST_F(MainClockTest, DelayedCallsRunOnlyWhenAdvancedAndInTimeOrder)
{
    DelayedCalls calls;
    std::vector<QString> order;
    std::vector<double> times;
    const double start = MainClock::now();
    calls.schedule("late", 1000, [&] {
        order.push_back("late");
        times.push_back(MainClock::now() - start);
    });
    calls.schedule("early", 500, [&] {
        order.push_back("early");
        times.push_back(MainClock::now() - start);
    });
    spinEvents();
    EXPECT_TRUE(order.empty()) << "nothing runs on wall time in manual mode";
    EXPECT_EQ(MainClock::now(), start);
    MainClock::advanceForTesting(1.0);
    EXPECT_EQ(order, (std::vector<QString>{"early", "late"}));
    ASSERT_EQ(times.size(), 2u);
    EXPECT_NEAR(times[0], 0.5, kNanosecond) << "a call sees the clock at its own moment";
    EXPECT_NEAR(times[1], 1.0, kNanosecond);
    EXPECT_NEAR(MainClock::now() - start, 1.0, kNanosecond);
    EXPECT_FALSE(calls.isScheduled("late"));

    // Not a moment early.
    calls.schedule("late", 1000, [&] { order.push_back("late again"); });
    calls.schedule("early", 500, [&] { order.push_back("early again"); });
    MainClock::advanceForTesting(0.499);
    EXPECT_EQ(order.size(), 2u);
    EXPECT_TRUE(calls.isScheduled("early"));
    MainClock::advanceForTesting(0.001);
    EXPECT_EQ(order.back(), "early again");
    MainClock::advanceForTesting(0.499);
    EXPECT_EQ(order.size(), 3u);
    MainClock::advanceForTesting(0.001);
    EXPECT_EQ(order.back(), "late again");
}

TEST_F(MainClockTest, ACallWithoutDelayRunsOnTheNextTurnOfTheLoopWithoutAnAdvance)
{
    DelayedCalls calls;
    std::vector<QString> order;
    calls.schedule("timed", 100, [&] { order.push_back("timed"); });
    calls.schedule("next turn", 0, [&] { order.push_back("next turn"); });
    EXPECT_TRUE(order.empty()) << "never inline";
    KR_WAIT_UNTIL(!order.empty());
    spinEvents();
    EXPECT_EQ(order, std::vector<QString>{"next turn"});
    // Armed without delay and overtaken by an advance, it still runs first.
    calls.schedule("again", 0, [&] { order.push_back("again"); });
    MainClock::advanceForTesting(0.1);
    EXPECT_EQ(order, (std::vector<QString>{"next turn", "again", "timed"}));
}

TEST_F(MainClockTest, ACallArmedByARunningCallWithinTheWindowRunsInTheSameAdvanceInOrder)
{
    DelayedCalls calls;
    std::vector<QString> order;
    calls.schedule("a", 200, [&] {
        order.push_back("a");
        calls.schedule("b", 300, [&] { order.push_back("b@0.5"); });  // due at 0.5
        calls.schedule("c", 900, [&] { order.push_back("c@1.1"); });  // beyond the window
    });
    calls.schedule("d", 600, [&] { order.push_back("d@0.6"); });
    calls.schedule("e", 500, [&] { order.push_back("e@0.5"); });  // armed before b: runs first
    MainClock::advanceForTesting(1.0);
    EXPECT_EQ(order, (std::vector<QString>{"a", "e@0.5", "b@0.5", "d@0.6"}));
    EXPECT_TRUE(calls.isScheduled("c"));
    MainClock::advanceForTesting(0.1);
    EXPECT_EQ(order.back(), "c@1.1");
}

TEST_F(MainClockTest, RearmingReplacesCancellingAndDestructionStopCalls)
{
    int first = 0, second = 0, cancelled = 0, destroyed = 0, selfDestroyed = 0;
    DelayedCalls calls;
    calls.schedule("save", 300, [&] { ++first; });
    MainClock::advanceForTesting(0.2);
    calls.schedule("save", 300, [&] { ++second; });  // now due at 0.5, the first never
    calls.schedule("other", 100, [&] { ++cancelled; });
    calls.cancel("other");
    MainClock::advanceForTesting(0.2);
    EXPECT_EQ(first, 0) << "the replaced call's moment passed without it";
    EXPECT_EQ(second, 0);
    MainClock::advanceForTesting(0.1);
    EXPECT_EQ(second, 1);
    EXPECT_EQ(cancelled, 0);

    {
        DelayedCalls owner;
        owner.schedule("x", 100, [&] { ++destroyed; });
    }
    auto owner = std::make_unique<DelayedCalls>();
    owner->schedule("end", 100, [&] {
        owner->schedule("again", 100, [&] { ++destroyed; });
        owner.reset();
        ++selfDestroyed;
    });
    MainClock::advanceForTesting(1.0);
    EXPECT_EQ(selfDestroyed, 1);
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(MainClock::pendingCount(), 0) << "destroyed owners leave nothing armed";
}

TEST_F(MainClockTest, RepeatingTimersTickOncePerIntervalAndStopFromTheirCallback)
{
    RepeatingTimer timer;
    std::vector<double> ticks;
    const double start = MainClock::now();
    timer.start(100, [&] { ticks.push_back(MainClock::now() - start); });
    EXPECT_TRUE(timer.isActive());
    EXPECT_EQ(timer.interval(), 100);
    spinEvents();
    EXPECT_TRUE(ticks.empty());
    MainClock::advanceForTesting(1.0);
    ASSERT_EQ(ticks.size(), 10u) << "ten intervals of 0.1 s fit exactly in one second";
    EXPECT_NEAR(ticks.back(), 1.0, kNanosecond);

    // Restarting takes the new interval from now.
    timer.start(250, [&] { ticks.push_back(-1); });
    MainClock::advanceForTesting(0.2);
    EXPECT_EQ(ticks.size(), 10u);
    MainClock::advanceForTesting(0.3);
    EXPECT_EQ(ticks.size(), 12u);

    int own = 0;
    RepeatingTimer stopping;
    stopping.start(100, [&] {
        EXPECT_TRUE(stopping.isActive()) << "the next tick is armed while the callback runs";
        if (++own == 3)
            stopping.stop();
    });
    auto doomed = std::make_unique<RepeatingTimer>();
    int doomedTicks = 0;
    doomed->start(50, [&] {
        ++doomedTicks;
        doomed.reset();
    });
    timer.stop();
    EXPECT_FALSE(timer.isActive());
    MainClock::advanceForTesting(1.0);
    EXPECT_EQ(own, 3);
    EXPECT_FALSE(stopping.isActive());
    EXPECT_EQ(doomedTicks, 1);
    EXPECT_EQ(ticks.size(), 12u);

    // A zero interval cannot spin an advance for ever.
    int zero = 0;
    RepeatingTimer eager;
    eager.start(0, [&] { ++zero; });
    MainClock::advanceForTesting(0.01);
    EXPECT_EQ(zero, 10);
}

TEST_F(MainClockTest, DispatchAfterWaitsForTheClockAndDropsCallsOfDeadContexts)
{
    auto context = std::make_unique<QObject>(), doomed = std::make_unique<QObject>();
    bool ownedRan = false, orphanRan = false, unownedRan = false;
    dispatchAfter(300, context.get(), [&] { ownedRan = true; });
    dispatchAfter(100, doomed.get(), [&] { orphanRan = true; });
    dispatchAfter(200, nullptr, [&] { unownedRan = true; });
    doomed.reset();
    spinEvents();
    EXPECT_FALSE(ownedRan || unownedRan);
    MainClock::advanceForTesting(0.2);
    EXPECT_TRUE(unownedRan);
    EXPECT_FALSE(ownedRan);
    MainClock::advanceForTesting(0.1);
    EXPECT_TRUE(ownedRan);
    EXPECT_FALSE(orphanRan);
}

TEST_F(MainClockTest, PendingCallsCrossModeChangesWithTheTimeTheyHaveLeft)
{
    // Leaving manual mode hands a call back to the event loop, which runs it on wall time.
    bool handedBack = false;
    DelayedCalls calls;
    calls.schedule("soon", 1, [&] { handedBack = true; });
    const double manualNow = MainClock::now();
    MainClock::setManualForTesting(false);
    EXPECT_GE(MainClock::now(), manualNow) << "the clock never runs backwards";
    KR_WAIT_UNTIL(handedBack);

    // Entering it carries a call armed on wall time over, due after the time it had left.
    bool carried = false;
    calls.schedule("later", 60000, [&] { carried = true; });
    MainClock::setManualForTesting(true);
    MainClock::advanceForTesting(50.0);
    EXPECT_FALSE(carried);
    MainClock::advanceForTesting(10.0);
    EXPECT_TRUE(carried);
}

TEST_F(MainClockTest, RegisteredSteppersFollowTheModeAndMoveUpToEachCallFirst)
{
    RecordingStepper& stepper = recordingStepper();
    MainClock::setManualForTesting(false);
    EXPECT_FALSE(stepper.manual);
    MainClock::setManualForTesting(true);
    EXPECT_TRUE(stepper.manual);

    stepper.moved = 0;
    stepper.steps.clear();
    DelayedCalls calls;
    double movedAtCall = -1;
    calls.schedule("mid", 400, [&] { movedAtCall = stepper.moved; });
    MainClock::advanceForTesting(1.0);
    EXPECT_DOUBLE_EQ(movedAtCall, 0.4);
    EXPECT_DOUBLE_EQ(stepper.moved, 1.0);
    ASSERT_EQ(stepper.steps.size(), 2u);

    // Outside manual mode an advance moves nothing.
    MainClock::setManualForTesting(false);
    const double before = stepper.moved;
    MainClock::advanceForTesting(1.0);
    EXPECT_EQ(stepper.moved, before);
}

// An animation run while the clock moves up to a call may cancel that very call: it does not
// run, and the calls after it still do.
TEST_F(MainClockTest, ACallCancelledWhileTheClockMovesUpToItDoesNotRun)
{
    RecordingStepper& stepper = recordingStepper();
    DelayedCalls calls;
    bool cancelledRan = false;
    bool laterRan = false;
    calls.schedule("cancelled", 300, [&] { cancelledRan = true; });
    calls.schedule("later", 600, [&] { laterRan = true; });
    bool cancelled = false;
    stepper.onMove = [&] {
        if (!cancelled && stepper.moved >= 0.3 - 1e-9) {
            cancelled = true;
            calls.cancel("cancelled");
        }
    };
    stepper.moved = 0;
    MainClock::advanceForTesting(1.0);
    stepper.onMove = nullptr;
    EXPECT_TRUE(cancelled);
    EXPECT_FALSE(cancelledRan);
    EXPECT_TRUE(laterRan);
}
