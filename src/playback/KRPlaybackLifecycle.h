#pragma once

#include <QString>

#include <optional>

class KRBackgroundContinuation;
class KRPlaybackLifecycleHost;

// A playback session through the application's life cycle: the background (listening on with
// the picture stopped, or paused to resume in the foreground), becoming active again,
// audio interruptions and the loss of the audio route. It keeps the flags that carry playback
// across those events and says so to the session's gate as holds and the intent they leave;
// it never plays or pauses the player itself. The session's unexpected-pause check stays
// quiet during a transition. A lifecycle event abandons a running quality switch: the stream
// playing stays.
class KRPlaybackLifecycle {
public:
    static constexpr int kRouteOldDeviceUnavailable = 2;

    KRPlaybackLifecycle(KRPlaybackLifecycleHost& session, KRBackgroundContinuation& continuation);

    // `backgroundAudio`: the user's background-listening preference.
    void applicationDidEnterBackgroundForPlayback(bool backgroundAudio);
    void applicationWillEnterForegroundForPlayback();
    // `applicationState`: 0 active, 1 inactive, 2 background.
    void applicationDidBecomeActiveForPlayback(int applicationState, bool backgroundAudio);
    // An interruption that begins, or ends: `options` bit 0 says playback may resume, absent
    // on some ends.
    void audioSessionInterruptionForPlayback(bool began, std::optional<unsigned> options = std::nullopt, int applicationState = 0,
                                             bool backgroundAudio = false);
    void audioSessionRouteChangedForPlayback(int reason);
    void restorePlaybackAfterLifecycleTransitionWithReason(const QString& reason, int applicationState, bool backgroundAudio);
    // The session installed a player: in the background its picture starts frozen.
    void mediaInstalled();
    // A replay asked during an audio interruption waits for its end, and plays then when the
    // end allows playback to resume.
    void deferReplayUntilInterruptionEnds();
    // The controls' play or pause during an audio interruption: it only turns over what its end
    // is to do (and the intent with it); the interruption keeps the player paused. False, and
    // nothing changes, when no interruption is active.
    bool togglePlaybackIntentDuringInterruption();
    // Another session took the claim to play: this one resumes after nothing (an interruption's
    // end, the foreground) and listens to nothing in the background.
    void playbackClaimLost();

    bool isInTransition() const { return m_transition; }
    bool isInBackground() const { return m_background; }
    bool isListeningInBackground() const { return m_listening; }
    bool isInterrupted() const { return m_interruption; }
    bool resumesAfterForeground() const { return m_resumeAfterForeground; }
    bool resumesAfterInterruption() const { return m_resumeAfterInterruption; }

private:
    void interruptionBegan();
    void interruptionEnded(std::optional<unsigned> options, int applicationState, bool backgroundAudio);
    void pausePictureClocksForBackground();
    bool wantsPlayback() const;
    // Becoming active was held back by an interruption that has ended: the background state
    // clears and the picture comes back, without playing.
    void leaveBackgroundAfterInterruption(int applicationState);

    KRPlaybackLifecycleHost& m_session;
    KRBackgroundContinuation& m_continuation;
    bool m_background = false;
    bool m_backgroundAudio = false;
    bool m_listening = false;
    bool m_resumeAfterForeground = false;
    bool m_resumeAfterInterruption = false;
    bool m_interruption = false;
    bool m_transition = false;
};
