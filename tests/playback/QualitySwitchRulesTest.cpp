#include "playback/KRQualitySwitchSupport.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace {
struct WatchdogCase {
    const char* name;
    int phase;
    double elapsed;
    bool rollback;
    bool rollbackDASH;
    double rollbackElapsed;
    double interval;
};

const WatchdogCase kWatchdogCases[] = {
    {"begin", 1, 0, false, false, 0, 20.0},
    {"begin with an unset start", 1, -3, false, false, 0, 20.0},
    {"resolving with 60 s left is still capped", 1, 0.5, false, false, 0, 20.0},
    {"resolving late in the budget", 1, 50, false, false, 0, 10.0},
    {"phase change 10 s in", 2, 10, false, false, 0, 35.0},
    {"seek phase 10 s in", 3, 10, false, false, 0, 35.0},
    {"phase change 58 s in", 2, 58, false, false, 0, 2.0},
    {"phase change 59.98 s in", 2, 59.98, false, false, 0, 0.05},
    {"past the budget", 2, 75, false, false, 0, 0.05},
    {"DASH rollback begun 3 s earlier", 4, 40, true, true, 3, 32.0},
    {"progressive rollback begun 3 s earlier", 4, 40, true, false, 3, 17.0},
    {"rollback with an unset start", 4, 40, true, false, 0, 20.0},
    {"rollback past its budget", 4, 40, true, true, 50, 0.05},
    {"phase 4 without a rollback keeps the transaction budget", 4, 30, false, true, 3, 30.0},
    {"rollback flag outside phase 4 keeps the transaction budget", 2, 30, true, true, 3, 30.0},
    {"not-a-number elapsed counts as unset", 2, std::numeric_limits<double>::quiet_NaN(), false, false, 0, 35.0},
};

struct DeliveryCase {
    const char* name;
    int reason;
    bool transport;
    unsigned load;
    int state;
    double duration;
    double time;
    bool deliver;
};

// Load bits: 1 playable, 2 playthrough, 4 stalled. States: 0 stopped, 1 playing, 2 paused.
const DeliveryCase kDeliveryCases[] = {
    {"end at 9.5 of 10, paused at the end", 0, true, 3, 2, 10, 9.5, true},
    {"end at 9.5 of 10, still playing", 0, true, 3, 1, 10, 9.5, false},
    {"end at 9.5 of 10, stopped", 0, true, 3, 0, 10, 9.5, true},
    {"end exactly a second before the end", 0, true, 3, 2, 10, 9.0, true},
    {"end well before the end", 0, true, 3, 2, 10, 8.9, false},
    {"end with an unknown duration", 0, true, 3, 2, 0, 0, false},
    {"end of a clip shorter than a second", 0, true, 3, 2, 0.5, 0, true},
    {"end with a non-finite time", 0, true, 3, 2, 10, std::numeric_limits<double>::infinity(), false},
    {"end without a transport", 0, false, 0, -1, 10, 9.5, false},
    {"error while the new player plays", 1, true, 3, 1, 10, 4, false},
    {"error while paused and playable", 1, true, 1, 2, 10, 4, false},
    {"error while stalled", 1, true, 5, 1, 10, 4, true},
    {"error while stopped", 1, true, 3, 0, 10, 4, true},
    {"error while not playable", 1, true, 0, 1, 10, 4, true},
    {"error without a transport", 1, false, 0, -1, 0, 0, false},
    {"user exit is never delivered", 2, true, 0, 0, 10, 9.9, false},
};
} // namespace

class QualitySwitchWatchdog : public ::testing::TestWithParam<WatchdogCase> {};

TEST_P(QualitySwitchWatchdog, IntervalFollowsTheBudgets)
{
    const WatchdogCase& c = GetParam();
    EXPECT_NEAR(KRQualitySwitchWatchdogInterval(c.phase, c.elapsed, c.rollback, c.rollbackDASH, c.rollbackElapsed), c.interval, 1e-9)
        << c.name;
}

INSTANTIATE_TEST_SUITE_P(Rules, QualitySwitchWatchdog, ::testing::ValuesIn(kWatchdogCases),
                         [](const auto& info) { return "case" + std::to_string(info.index); });

class QualitySwitchDeferredFinish : public ::testing::TestWithParam<DeliveryCase> {};

TEST_P(QualitySwitchDeferredFinish, IsDeliveredOnlyWhenThePlayerReallyEndedOrFailed)
{
    const DeliveryCase& c = GetParam();
    EXPECT_EQ(KRQualitySwitchShouldDeliverDeferredFinish(c.reason, c.transport, c.load, c.state, c.duration, c.time), c.deliver)
        << c.name;
}

INSTANTIATE_TEST_SUITE_P(Rules, QualitySwitchDeferredFinish, ::testing::ValuesIn(kDeliveryCases),
                         [](const auto& info) { return "case" + std::to_string(info.index); });
