#include "playback/KRBackgroundContinuation.h"

#include "platform/uikit/Application.h"
#include "playback/KRPlaybackLifecycleHost.h"
#include "store/KRDiagnostics.h"
#include "store/KRPreferences.h"

#include <limits>

namespace {

void record(const char* event, const QString& detail) { KRDiagnostics::recordEvent(QString::fromLatin1(event), detail); }
constexpr int kBackground = 2;
const QString kTimeOut = QStringLiteral("backgroundContinuationTaskTimedOut");

} // namespace

KRBackgroundContinuation::KRBackgroundContinuation(KRPlaybackLifecycleHost& session) : m_session(session) {}

KRBackgroundContinuation::~KRBackgroundContinuation() { endBackgroundContinuationTaskForGeneration(0, QStringLiteral("dealloc")); }

bool KRBackgroundContinuation::inBackground() const
{
    return m_armed || m_session.isApplicationInBackground() || platform::uikit::Application::shared().applicationState() == kBackground;
}

void KRBackgroundContinuation::beginBackgroundContinuationTaskForGeneration(int generation)
{
    if (generation < 1 || !inBackground() || !KRPreferences::sharedPreferences().backgroundAudioEnabled())
        return;
    endBackgroundContinuationTaskForGeneration(0, QStringLiteral("replaced"));
    const platform::BackgroundTask::Identifier task = platform::BackgroundTask::begin(
        QStringLiteral("KorvaneBackgroundContinuation"), [this, generation] { abortBackgroundContinuationForGeneration(generation, QStringLiteral("system-expired")); });
    if (task == platform::BackgroundTask::invalid) {
        record("background-continuation-task-unavailable", QStringLiteral("generation=%1").arg(generation));
        abortBackgroundContinuationForGeneration(generation, QStringLiteral("task-unavailable"));
        return;
    }
    m_task = task;
    m_generation = generation;
    m_delayed.schedule(kTimeOut, kBoundMilliseconds, [this] { backgroundContinuationTaskTimedOut(); });
    // A desktop process is never suspended: the time left in the background has no bound.
    record("background-continuation-task-begin", QStringLiteral("generation=%1 remaining=%2")
                                                     .arg(generation)
                                                     .arg(std::numeric_limits<double>::infinity(), 0, 'f', 1));
}

void KRBackgroundContinuation::endBackgroundContinuationTaskForGeneration(int generation, const QString& reason)
{
    if (!isHeld())
        return;
    if (generation >= 1 && generation != m_generation)
        return;
    const int held = m_generation;
    const platform::BackgroundTask::Identifier task = m_task;
    m_task = platform::BackgroundTask::invalid;
    m_generation = 0;
    m_delayed.cancel(kTimeOut);
    platform::BackgroundTask::end(task);
    record("background-continuation-task-end",
           QStringLiteral("generation=%1 reason=%2").arg(held).arg(reason.isEmpty() ? QStringLiteral("unknown") : reason));
}

void KRBackgroundContinuation::backgroundContinuationTaskTimedOut(std::optional<int> generation)
{
    abortBackgroundContinuationForGeneration(generation ? *generation : m_generation, QStringLiteral("bounded-timeout"));
}

void KRBackgroundContinuation::abortBackgroundContinuationForGeneration(int generation, const QString& reason)
{
    if (generation >= 1 && generation == m_session.requestGeneration() && inBackground())
        m_session.abandonRequestInBackground(reason);
    endBackgroundContinuationTaskForGeneration(generation, reason);
}
