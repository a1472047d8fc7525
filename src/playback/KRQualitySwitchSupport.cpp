#include "playback/KRQualitySwitchSupport.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double kTransactionBudget = 60.0;
constexpr double kResolvePhaseCap = 20.0;
constexpr double kLaterPhaseCap = 35.0;
constexpr double kDASHRollbackBudget = 35.0;
constexpr double kProgressiveRollbackBudget = 20.0;
constexpr double kShortestInterval = 0.05;
constexpr int kRollbackPhase = 4;
constexpr int kResolvePhase = 1;

constexpr unsigned kLoadPlayable = 1;
constexpr unsigned kLoadPlaythrough = 2;
constexpr unsigned kLoadStalled = 4;
constexpr int kStateStopped = 0;
constexpr int kStatePlaying = 1;
constexpr int kReasonEnded = 0;
constexpr int kReasonError = 1;
constexpr double kEndTolerance = 1.0;

// Only a positive, finite elapsed time is spent from a budget; anything else means "not started".
double spent(double elapsed) { return std::isfinite(elapsed) && elapsed > 0 ? elapsed : 0; }
} // namespace

double KRQualitySwitchWatchdogInterval(int phase, double elapsedSinceStart, bool rollbackInProgress, bool rollbackDASH,
                                       double elapsedSinceRollbackStart)
{
    if (phase == kRollbackPhase && rollbackInProgress) {
        const double budget = rollbackDASH ? kDASHRollbackBudget : kProgressiveRollbackBudget;
        return std::max(budget - spent(elapsedSinceRollbackStart), kShortestInterval);
    }
    const double remaining = std::max(kTransactionBudget - spent(elapsedSinceStart), kShortestInterval);
    return std::min(remaining, phase == kResolvePhase ? kResolvePhaseCap : kLaterPhaseCap);
}

bool KRQualitySwitchShouldDeliverDeferredFinish(int reason, bool hasTransport, unsigned loadState, int playbackState,
                                                double duration, double currentTime)
{
    if (!hasTransport)
        return false;
    if (reason == kReasonError) {
        const bool healthy = (loadState & (kLoadPlayable | kLoadPlaythrough)) && !(loadState & kLoadStalled) &&
                             playbackState != kStateStopped;
        return !healthy;
    }
    if (reason == kReasonEnded) {
        if (!std::isfinite(duration) || !std::isfinite(currentTime) || duration <= 0)
            return false;
        return currentTime >= std::max(duration - kEndTolerance, 0.0) && playbackState != kStatePlaying;
    }
    return false;
}
