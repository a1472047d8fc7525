#include "platform/uikit/AnimationClock.h"

#include "platform/foundation/MainClock.h"

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>

namespace platform::uikit {
namespace {
constexpr double kFrame = 1.0 / 60.0;
}

AnimationClock& AnimationClock::shared()
{
    static AnimationClock clock;
    return clock;
}

AnimationClock::AnimationClock()
    : m_manual(platform::MainClock::isManual())
{
    // The main clock cannot know the kit; it moves this clock through the hooks given here,
    // so one advance of the main clock steps animations and delayed calls alike, in order.
    platform::MainClock::registerStepper([](bool manual) { AnimationClock::setManual(manual); },
                                         [](double seconds) {
                                             if (!shared().m_framesHeld)
                                                 AnimationClock::advance(seconds);
                                         });
}

// Registered as the kit is loaded, so that a test putting the main clock in manual mode
// before any animation exists still finds this clock following it.
[[maybe_unused]] const bool kRegisteredWithMainClock = (AnimationClock::isManual(), true);

double AnimationClock::now() { return shared().m_time; }

void AnimationClock::setManual(bool manual)
{
    auto& c = shared();
    c.m_manual = manual;
    if (manual && c.m_timer)
        c.m_timer->stop();
    else
        c.ensureTimer();
}

bool AnimationClock::isManual() { return shared().m_manual; }

void AnimationClock::setFramesHeldForTesting(bool held) { shared().m_framesHeld = held; }

AnimationClock::Id AnimationClock::run(QObject* owner, std::function<bool(double)> tick)
{
    auto& c = shared();
    auto e = std::make_shared<Entry>(Entry{c.m_nextId++, owner, owner != nullptr, c.m_time, std::move(tick), {}});
    c.m_entries.push_back(e);
    c.ensureTimer();
    return e->id;
}

AnimationClock::Id AnimationClock::animate(QObject* owner, double seconds, std::function<void(double)> step,
                                           std::function<void(bool)> done)
{
    if (seconds <= 0) {
        if (step)
            step(1.0);
        if (done)
            done(true);
        return 0;
    }
    auto& c = shared();
    auto e = std::make_shared<Entry>();
    e->id = c.m_nextId++;
    e->owner = owner;
    e->hasOwner = owner != nullptr;
    e->start = c.m_time;
    e->done = std::move(done);
    e->tick = [step = std::move(step), seconds](double elapsed) {
        // The clock's time is a sum of steps, so an animation stepped exactly by its duration
        // may fall a rounding error short of it; that still counts as its end.
        const double t = elapsed >= seconds - 1e-6 ? 1.0 : elapsed / seconds;
        if (step)
            step(t);
        return t < 1.0;
    };
    c.m_entries.push_back(e);
    c.ensureTimer();
    return e->id;
}

void AnimationClock::cancel(Id id)
{
    auto& c = shared();
    auto it = std::find_if(c.m_entries.begin(), c.m_entries.end(), [id](const auto& e) { return e->id == id; });
    if (it == c.m_entries.end())
        return;
    auto e = *it;
    c.m_entries.erase(it);
    if (e->done && (!e->hasOwner || e->owner))
        e->done(false);
}

bool AnimationClock::isRunning(Id id)
{
    auto& c = shared();
    return id && std::any_of(c.m_entries.begin(), c.m_entries.end(), [id](const auto& e) { return e->id == id; });
}

int AnimationClock::runningCount() { return int(shared().m_entries.size()); }

void AnimationClock::step(double dt)
{
    m_time += dt;
    // Work on a copy: ticks may start or cancel animations.
    const auto entries = m_entries;
    for (const auto& e : entries) {
        if (std::find(m_entries.begin(), m_entries.end(), e) == m_entries.end())
            continue;
        if (e->hasOwner && !e->owner) {
            m_entries.erase(std::find(m_entries.begin(), m_entries.end(), e));
            continue;
        }
        const bool more = e->tick(m_time - e->start);
        if (!more) {
            auto it = std::find(m_entries.begin(), m_entries.end(), e);
            if (it != m_entries.end())
                m_entries.erase(it);
            if (e->done && (!e->hasOwner || e->owner))
                e->done(true);
        }
    }
    if (m_entries.empty() && m_timer)
        m_timer->stop();
}

void AnimationClock::advance(double seconds)
{
    auto& c = shared();
    while (seconds > 1e-9) {
        const double dt = std::min(kFrame, seconds);
        c.step(dt);
        seconds -= dt;
    }
}

void AnimationClock::finishAll()
{
    auto& c = shared();
    for (int i = 0; i < 60 * 120 && !c.m_entries.empty(); ++i)
        c.step(kFrame);
}

void AnimationClock::ensureTimer()
{
    if (m_manual || m_entries.empty())
        return;
    if (!m_timer) {
        m_timer = std::make_unique<QTimer>();
        m_timer->setTimerType(Qt::PreciseTimer);
        m_wall.start();
        QObject::connect(m_timer.get(), &QTimer::timeout, [this] {
            const qint64 nowMs = m_wall.elapsed();
            // The first frame after an idle spell counts as one frame, not the whole pause.
            const double dt = m_lastFrameMs < 0 ? kFrame : std::clamp((nowMs - m_lastFrameMs) / 1000.0, 0.001, 0.1);
            m_lastFrameMs = nowMs;
            step(dt);
        });
    }
    if (!m_timer->isActive()) {
        m_lastFrameMs = -1;
        m_timer->start(16);
    }
}

} // namespace platform::uikit
