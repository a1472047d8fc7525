#include "platform/foundation/MainClock.h"

#include "platform/foundation/Dispatch.h"

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <map>
#include <memory>
#include <vector>

namespace platform {
namespace {

constexpr qint64 kNsPerMs = 1000000;
constexpr qint64 kNsPerSecond = 1000000000;

struct PendingCall {
    qint64 dueNs = 0;                 // on the manual clock in manual mode, else on the wall
    std::function<void()> fn;
    std::unique_ptr<QTimer> timer;    // the event loop's timer outside manual mode
};

struct Stepper {
    std::function<void(bool)> modeChanged;
    std::function<void(double)> advance;
};

// Time is kept in whole nanoseconds so that ten steps of 0.1 s land exactly on 1 s.
struct ClockState {
    QElapsedTimer wall;
    std::atomic<bool> manual{false};
    std::atomic<qint64> manualNs{0};
    std::atomic<qint64> offsetNs{0};  // keeps the wall reading from falling behind manual time
    MainClock::CallId nextId = 1;     // ids grow, so they also order calls due together
    std::map<MainClock::CallId, PendingCall> pending;
    std::vector<Stepper> steppers;

    ClockState() { wall.start(); }
    qint64 wallNs() const { return wall.nsecsElapsed() + offsetNs.load(); }
};

ClockState& clockState()
{
    // Never destroyed: timers of calls still pending at exit must not outlive their table.
    static ClockState* state = new ClockState;
    return *state;
}

void fire(MainClock::CallId id)
{
    ClockState& c = clockState();
    auto it = c.pending.find(id);
    if (it == c.pending.end())
        return;
    // Take the call out before running it: it may arm, cancel or destroy its owner, none of
    // which may touch the function being run.
    std::function<void()> call = std::move(it->second.fn);
    if (it->second.timer)
        it->second.timer.release()->deleteLater();
    c.pending.erase(it);
    call();
}

void armTimer(MainClock::CallId id, PendingCall& call, qint64 delayNs)
{
    auto timer = std::make_unique<QTimer>();
    timer->setSingleShot(true);
    QObject::connect(timer.get(), &QTimer::timeout, timer.get(), [id] { fire(id); });
    // Round up: a call never runs before its time.
    timer->start(int(std::min<qint64>((std::max<qint64>(0, delayNs) + kNsPerMs - 1) / kNsPerMs, INT_MAX)));
    call.timer = std::move(timer);
}

} // namespace

double MainClock::now()
{
    const ClockState& c = clockState();
    const qint64 ns = c.manual.load() ? c.manualNs.load() : c.wallNs();
    return double(ns) / double(kNsPerSecond);
}

bool MainClock::isManual() { return clockState().manual.load(); }

void MainClock::setManualForTesting(bool manual)
{
    assertMainThread("MainClock::setManualForTesting");
    ClockState& c = clockState();
    if (c.manual.load() != manual) {
        if (manual) {
            const qint64 start = c.wallNs();
            c.manualNs = start;
            for (auto& [id, call] : c.pending) {
                call.dueNs = start + std::max<qint64>(0, call.dueNs - start);
                call.timer.reset();
            }
            c.manual = true;
        } else {
            const qint64 manualNow = c.manualNs.load();
            c.offsetNs = std::max<qint64>(c.offsetNs.load(), manualNow - c.wall.nsecsElapsed());
            c.manual = false;
            const qint64 wallNow = c.wallNs();
            for (auto& [id, call] : c.pending) {
                const qint64 left = call.dueNs - manualNow;
                call.dueNs = wallNow + left;
                armTimer(id, call, left);
            }
        }
    }
    const std::vector<Stepper> steppers = c.steppers;
    for (const Stepper& stepper : steppers)
        if (stepper.modeChanged)
            stepper.modeChanged(manual);
}

namespace {

// Runs, in time order, every call due up to `target` on the manual clock, moving the clock and
// its steppers to each call's moment first.
void runManualCallsUpTo(qint64 target)
{
    ClockState& c = clockState();
    auto moveTo = [&c](qint64 ns) {
        const qint64 from = c.manualNs.load();
        if (ns <= from)
            return;
        c.manualNs = ns;
        const std::vector<Stepper> steppers = c.steppers;
        for (const Stepper& stepper : steppers)
            if (stepper.advance)
                stepper.advance(double(ns - from) / double(kNsPerSecond));
    };
    while (c.manual.load()) {
        auto next = c.pending.end();
        for (auto it = c.pending.begin(); it != c.pending.end(); ++it)
            if (it->second.dueNs <= target && (next == c.pending.end() || it->second.dueNs < next->second.dueNs))
                next = it;
        if (next == c.pending.end())
            break;
        // Moving the steppers runs animations, which may cancel this very call: it is fired by
        // its id, and skipped when gone.
        const MainClock::CallId id = next->first;
        moveTo(next->second.dueNs);
        fire(id);
    }
    moveTo(target);
}

} // namespace

void MainClock::advanceForTesting(double seconds)
{
    assertMainThread("MainClock::advanceForTesting");
    ClockState& c = clockState();
    if (!c.manual.load()) {
        qWarning("MainClock::advanceForTesting: the clock is not in manual mode; nothing moves");
        return;
    }
    if (!(seconds > 0))
        return;
    runManualCallsUpTo(c.manualNs.load() + std::llround(seconds * double(kNsPerSecond)));
}

MainClock::CallId MainClock::callAfter(int milliseconds, std::function<void()> fn)
{
    assertMainThread("MainClock::callAfter");
    ClockState& c = clockState();
    const CallId id = c.nextId++;
    PendingCall& call = c.pending[id];
    call.fn = std::move(fn);
    const qint64 delayNs = qint64(std::max(0, milliseconds)) * kNsPerMs;
    if (c.manual.load()) {
        call.dueNs = c.manualNs.load() + delayNs;
        // A call without delay waits for no time, only for the work in hand to end: it runs on
        // the next turn of the event loop even in manual mode (or at the next advance, first).
        if (delayNs == 0)
            dispatchMain([] {
                if (clockState().manual.load())
                    runManualCallsUpTo(clockState().manualNs.load());
            });
    } else {
        call.dueNs = c.wallNs() + delayNs;
        armTimer(id, call, delayNs);
    }
    return id;
}

void MainClock::cancel(CallId id)
{
    if (id == 0)
        return;
    ClockState& c = clockState();
    auto it = c.pending.find(id);
    if (it == c.pending.end())
        return;
    // The call's captures go after the table is consistent again: their destructors may arm.
    PendingCall gone = std::move(it->second);
    c.pending.erase(it);
}

bool MainClock::isPending(CallId id) { return id != 0 && clockState().pending.count(id) != 0; }

int MainClock::pendingCount() { return int(clockState().pending.size()); }

void MainClock::registerStepper(std::function<void(bool)> modeChanged, std::function<void(double)> advance)
{
    clockState().steppers.push_back(Stepper{std::move(modeChanged), std::move(advance)});
}

} // namespace platform
