#pragma once

#include "platform/device/BackgroundTask.h"
#include "platform/foundation/DelayedCall.h"

#include <QString>

#include <optional>

class KRPlaybackLifecycleHost;

// The background task that lets a playback request finish while the application is in the
// background: a play address still being resolved, or a recovery re-resolving a part that had
// played. It is held for one request generation of the session; the request that installs its
// player or fails ends it, a newer request replaces it, and after 30 s (or when the system
// withdraws the time) the request is abandoned with a status the user can tap past.
class KRBackgroundContinuation {
public:
    static constexpr int kBoundMilliseconds = 30000;

    explicit KRBackgroundContinuation(KRPlaybackLifecycleHost& session);
    ~KRBackgroundContinuation();
    KRBackgroundContinuation(const KRBackgroundContinuation&) = delete;
    KRBackgroundContinuation& operator=(const KRBackgroundContinuation&) = delete;

    // Holds a task for `generation` (≥ 1), only in the background with listening allowed.
    void beginBackgroundContinuationTaskForGeneration(int generation);
    // `generation` < 1 means the one held; another generation leaves the held task alone.
    void endBackgroundContinuationTaskForGeneration(int generation, const QString& reason);
    // The 30 s bound: aborts `generation`, or the held one.
    void backgroundContinuationTaskTimedOut(std::optional<int> generation = std::nullopt);
    // Abandons the request of `generation` when it is still the session's and the application
    // is in the background; the task of `generation` is ended in every case.
    void abortBackgroundContinuationForGeneration(int generation, const QString& reason);

    bool isHeld() const { return m_task != platform::BackgroundTask::invalid; }
    int heldGeneration() const { return m_generation; }
    // Set only around a part change made by the natural continuation in the background: that
    // start counts as a background one whatever the application told last.
    void setArmed(bool armed) { m_armed = armed; }
    bool isArmed() const { return m_armed; }

private:
    bool inBackground() const;

    KRPlaybackLifecycleHost& m_session;
    platform::BackgroundTask::Identifier m_task = platform::BackgroundTask::invalid;
    int m_generation = 0;
    bool m_armed = false;
    platform::DelayedCalls m_delayed;
};
