#include "playback/KRPlaybackLifecycle.h"

#include "playback/KRBackgroundContinuation.h"
#include "playback/KRPlaybackAudioSession.h"
#include "playback/KRPlaybackLifecycleHost.h"
#include "playback/KRPlaybackMedia.h"
#include "store/KRDiagnostics.h"

#include <algorithm>

namespace {

using Host = KRPlaybackLifecycleHost;

QString yesNo(bool value) { return value ? QStringLiteral("YES") : QStringLiteral("NO"); }
void record(const char* event, const QString& detail) { KRDiagnostics::recordEvent(QString::fromLatin1(event), detail); }
void markInactive() { KRPlaybackAudioSession::sharedSession()->markPlaybackInactive(); }
constexpr int kActive = 0;
constexpr int kBackground = 2;

} // namespace

KRPlaybackLifecycle::KRPlaybackLifecycle(KRPlaybackLifecycleHost& session, KRBackgroundContinuation& continuation)
    : m_session(session), m_continuation(continuation)
{
}

bool KRPlaybackLifecycle::wantsPlayback() const
{
    return m_listening || m_resumeAfterForeground || m_resumeAfterInterruption || m_session.isExpectedToPlay();
}

void KRPlaybackLifecycle::pausePictureClocksForBackground()
{
    // The picture stops in the background; the sound is left to the gate.
    if (KRPlaybackMedia* media = m_session.media())
        media->setPictureSuspended(m_background);
}

void KRPlaybackLifecycle::mediaInstalled()
{
    KRPlaybackMedia* media = m_session.media();
    if (!m_background || !media)
        return;
    // A desktop process is never suspended, so an answer can arrive here: with listening on
    // it plays its sound under a frozen picture; otherwise the background's hold keeps it
    // paused and becoming active plays it.
    pausePictureClocksForBackground();
    if (m_backgroundAudio && !m_interruption) {
        m_listening = m_session.isExpectedToPlay();
    } else if (m_session.isExpectedToPlay()) {
        m_resumeAfterForeground = true;
    }
}

void KRPlaybackLifecycle::deferReplayUntilInterruptionEnds()
{
    if (!m_interruption)
        return;
    m_resumeAfterInterruption = true;
    m_transition = true;
}

bool KRPlaybackLifecycle::togglePlaybackIntentDuringInterruption()
{
    KRPlaybackLifecycleHost& s = m_session;
    if (!m_interruption || !s.media())
        return false;
    const bool resume = !m_resumeAfterInterruption;
    m_resumeAfterInterruption = resume;
    // Asked in the background, the end listens or waits for the foreground as the user chose.
    const bool background = resume && m_background;
    m_listening = background && m_backgroundAudio;
    m_resumeAfterForeground = background && !m_backgroundAudio;
    s.synchronizeQualitySwitchIntent(resume, QStringLiteral("controls-during-interruption"));
    s.resetUnexpectedPauseRecovery();
    s.settlePlayback(Host::HoldNone, Host::HoldNone, resume);
    record("playback-intent-during-interruption", QStringLiteral("resume=%1 dash=%2").arg(yesNo(resume), yesNo(s.playsPair())));
    return true;
}

void KRPlaybackLifecycle::playbackClaimLost()
{
    m_resumeAfterInterruption = m_resumeAfterForeground = m_listening = false;
}

void KRPlaybackLifecycle::applicationDidEnterBackgroundForPlayback(bool backgroundAudio)
{
    KRPlaybackLifecycleHost& s = m_session;
    s.stopTick();
    s.resetPlaybackStallRecovery();
    s.abandonQualitySwitch("background");
    m_background = true;
    m_backgroundAudio = backgroundAudio;
    KRPlaybackMedia* media = s.media();
    const int recovery = s.installedRecoveryGeneration();
    if (!media && recovery >= 1 && recovery == s.requestGeneration()) {
        // A part that had played is being resolved again: it is not listened to in the
        // background; the new player is installed held until the foreground.
        const bool expected = s.isExpectedToPlay();
        m_transition = true;
        m_listening = false;
        m_resumeAfterForeground = !backgroundAudio && expected;
        s.resetUnexpectedPauseRecovery();
        s.invalidatePendingDASHSeekResumeForReason(QStringLiteral("application-did-enter-background-during-recovery"));
        s.setHold(Host::HoldBackground, true);
        if (!m_interruption)
            markInactive();
        if (backgroundAudio)
            m_continuation.beginBackgroundContinuationTaskForGeneration(recovery);
        record("playback-did-enter-background-during-recovery", QStringLiteral("generation=%1 expected=%2 task=%3")
                                                                    .arg(recovery)
                                                                    .arg(yesNo(expected), yesNo(m_continuation.isHeld())));
        return;
    }
    if (!media) {
        const bool pending = s.isResolvingStart();
        const bool listen = pending && backgroundAudio && !m_interruption;
        m_transition = pending;
        m_listening = listen;
        m_resumeAfterForeground = pending && !backgroundAudio;
        s.resetUnexpectedPauseRecovery();
        // Whatever answers later is held paused unless the user listens in the background.
        s.setHold(Host::HoldBackground, !backgroundAudio);
        // A play address still being resolved may finish in the background.
        if (pending && backgroundAudio)
            m_continuation.beginBackgroundContinuationTaskForGeneration(s.requestGeneration());
        if (!listen && !m_interruption)
            markInactive();
        record("playback-did-enter-background-without-player", QStringLiteral("pending=%1 listen=%2 generation=%3")
                                                                   .arg(yesNo(pending), yesNo(listen))
                                                                   .arg(s.requestGeneration()));
        return;
    }
    const bool playing = s.isExpectedToPlay() || media->playbackState() == 1;
    const bool listen = backgroundAudio && playing && !m_interruption;
    m_transition = true;
    s.resetUnexpectedPauseRecovery();
    m_listening = listen;
    m_resumeAfterForeground = !backgroundAudio && playing;
    // A pair's seek still landing resumes nothing by itself once in the background: what plays
    // there is the gate's to say. Listening, the sound goes on from where the user sought.
    const double sought = listen && s.playsPair() ? media->pendingSeekTime() : -1;
    s.invalidatePendingDASHSeekResumeForReason(QStringLiteral("application-did-enter-background"));
    pausePictureClocksForBackground();
    if (listen) {
        KRPlaybackAudioSession::sharedSession()->activateForPlaybackWithReason(QStringLiteral("application-did-enter-background"));
        if (sought >= 0)
            media->seek(sought, false);
        // The chosen speed, or the hold's, goes on in the background.
        s.settlePlayback(Host::HoldNone, Host::HoldBackground, true);
        media->reassertSound();
    } else {
        s.settlePlayback(backgroundAudio ? Host::HoldNone : Host::HoldBackground, Host::HoldNone, s.isExpectedToPlay());
        if (!m_interruption)
            markInactive();
    }
    record("playback-did-enter-background", QStringLiteral("listen=%1 playing=%2 time=%3 dash=%4")
                                                .arg(yesNo(listen), yesNo(playing))
                                                .arg(std::max(0.0, media->currentTime()), 0, 'f', 3)
                                                .arg(yesNo(s.playsPair())));
}

void KRPlaybackLifecycle::applicationWillEnterForegroundForPlayback()
{
    m_continuation.endBackgroundContinuationTaskForGeneration(0, QStringLiteral("application-will-enter-foreground"));
    if (m_session.media() && m_background && !m_interruption && wantsPlayback())
        KRPlaybackAudioSession::sharedSession()->activateForPlaybackWithReason(QStringLiteral("application-will-enter-foreground"));
}

void KRPlaybackLifecycle::applicationDidBecomeActiveForPlayback(int applicationState, bool backgroundAudio)
{
    if (m_session.media()) {
        if ((m_background || m_resumeAfterForeground || m_resumeAfterInterruption || m_transition) && !m_interruption)
            restorePlaybackAfterLifecycleTransitionWithReason(QStringLiteral("application-did-become-active"), applicationState, backgroundAudio);
        return;
    }
    if (applicationState != kActive)
        return;
    const bool wasPending = m_background || m_listening || m_resumeAfterForeground;
    m_background = m_listening = m_resumeAfterForeground = false;
    m_session.setHold(Host::HoldBackground, false);
    if (!m_interruption)
        m_transition = false;
    if (wasPending)
        record("playback-became-active-without-player", QStringLiteral("generation=%1 interruption=%2")
                                                            .arg(m_session.requestGeneration())
                                                            .arg(yesNo(m_interruption)));
}

void KRPlaybackLifecycle::restorePlaybackAfterLifecycleTransitionWithReason(const QString& reason, int applicationState, bool backgroundAudio)
{
    KRPlaybackLifecycleHost& s = m_session;
    KRPlaybackMedia* media = s.media();
    if (!media)
        return;
    const unsigned lifted = m_interruption ? Host::HoldNone : unsigned(Host::HoldInterruption);
    const bool ended = s.isEnded();
    const bool failed = s.isTerminallyFailed();
    if (ended || failed) {
        // A part at its end or failed for good is never started by the life cycle.
        m_background = applicationState == kBackground;
        m_listening = m_resumeAfterForeground = m_resumeAfterInterruption = m_transition = false;
        s.settlePlayback(m_background && !backgroundAudio ? Host::HoldBackground : Host::HoldNone,
                         lifted | (m_background && !backgroundAudio ? Host::HoldNone : Host::HoldBackground), false);
        // Nothing moves on screen for it: the controls' tick stops, and the timers that follow
        // it with it.
        s.stopTick();
        if (!m_interruption)
            markInactive();
        record("playback-terminal-lifecycle-restore-blocked", QStringLiteral("reason=%1 ended=%2 failed=%3 state=%4")
                                                                  .arg(reason, yesNo(ended), yesNo(failed))
                                                                  .arg(applicationState));
        return;
    }
    const bool resume = wantsPlayback();
    if (resume && (applicationState == kActive || (applicationState == kBackground && backgroundAudio)))
        KRPlaybackAudioSession::sharedSession()->activateForPlaybackWithReason(reason);
    const double time = std::max(0.0, media->currentTime());
    if (applicationState == kActive) {
        m_background = m_listening = false;
        // Only the picture that was stopped comes back: a pair's sound transport stays suppressed.
        media->setPictureSuspended(false);
        m_resumeAfterForeground = m_resumeAfterInterruption = m_transition = false;
        s.resetUnexpectedPauseRecovery();
        s.settlePlayback(Host::HoldNone, lifted | Host::HoldBackground, resume);
        s.restartTick();
        record("playback-lifecycle-restored", QStringLiteral("reason=%1 resume=%2 time=%3 dash=%4 state=%5")
                                                  .arg(reason.isEmpty() ? QStringLiteral("unknown") : reason, yesNo(resume))
                                                  .arg(time, 0, 'f', 3)
                                                  .arg(yesNo(s.playsPair()))
                                                  .arg(applicationState));
        return;
    }
    m_background = m_background || applicationState == kBackground;
    const bool listen = applicationState == kBackground && backgroundAudio && resume;
    m_listening = listen;
    if (!listen && resume)
        m_resumeAfterForeground = true;
    m_resumeAfterInterruption = false;
    pausePictureClocksForBackground();
    // Not listening, the intent waits under the background's hold for the foreground.
    s.settlePlayback(listen ? Host::HoldNone : Host::HoldBackground, lifted | (listen ? Host::HoldBackground : Host::HoldNone), resume);
    if (listen)
        media->reassertSound();
    m_transition = false;
    s.resetUnexpectedPauseRecovery();
    record("playback-background-audio-restored", QStringLiteral("reason=%1 resume=%2 allowed=%3 appState=%4 foregroundPending=%5 time=%6")
                                                     .arg(reason, yesNo(resume), yesNo(backgroundAudio))
                                                     .arg(applicationState)
                                                     .arg(yesNo(m_resumeAfterForeground))
                                                     .arg(time, 0, 'f', 3));
}

void KRPlaybackLifecycle::audioSessionInterruptionForPlayback(bool began, std::optional<unsigned> options, int applicationState,
                                                              bool backgroundAudio)
{
    if (began)
        interruptionBegan();
    else
        interruptionEnded(options, applicationState, backgroundAudio);
}

void KRPlaybackLifecycle::interruptionBegan()
{
    KRPlaybackLifecycleHost& s = m_session;
    KRPlaybackMedia* media = s.media();
    s.abandonQualitySwitch("audio-interruption");
    m_interruption = true;
    m_transition = true;
    s.resetUnexpectedPauseRecovery();
    if (!media) {
        m_resumeAfterInterruption = s.isResolvingStart();
        // An answer arriving meanwhile is installed held.
        s.setHold(Host::HoldInterruption, true);
        record("audio-session-interruption-began-without-player", QStringLiteral("resume=%1 generation=%2")
                                                                      .arg(yesNo(m_resumeAfterInterruption))
                                                                      .arg(s.requestGeneration()));
        return;
    }
    m_resumeAfterInterruption = s.isExpectedToPlay() || media->playbackState() == 1;
    s.invalidatePendingDASHSeekResumeForReason(QStringLiteral("audio-interruption-began"));
    s.resetPlaybackStallRecovery();
    pausePictureClocksForBackground();
    s.setHold(Host::HoldInterruption, true);
    record("audio-session-interruption-began", QStringLiteral("resume=%1").arg(yesNo(m_resumeAfterInterruption)));
}

void KRPlaybackLifecycle::leaveBackgroundAfterInterruption(int applicationState)
{
    if (applicationState != kActive || !m_background)
        return;
    m_background = m_listening = m_resumeAfterForeground = false;
    if (KRPlaybackMedia* media = m_session.media())
        media->setPictureSuspended(false);
    m_session.settlePlayback(Host::HoldNone, Host::HoldBackground, m_session.isExpectedToPlay());
}

void KRPlaybackLifecycle::interruptionEnded(std::optional<unsigned> options, int applicationState, bool backgroundAudio)
{
    KRPlaybackLifecycleHost& s = m_session;
    m_interruption = false;
    if (!s.media()) {
        s.setHold(Host::HoldInterruption, false);
        const bool shouldResume = !options || (*options & 1u);
        const bool pending = m_resumeAfterInterruption || s.isResolvingStart();
        if (!shouldResume && pending) {
            m_resumeAfterInterruption = m_resumeAfterForeground = m_listening = m_transition = false;
            s.settlePlayback(Host::HoldNone, Host::HoldNone, false);
            s.dropPendingStart(QStringLiteral("播放已暂停，点播放继续"), QStringLiteral("audio-interruption-no-resume-without-player"));
            record("audio-session-interruption-no-resume-without-player", QStringLiteral("generation=%1").arg(s.requestGeneration()));
            return;
        }
        record("audio-session-interruption-ended-without-player", QStringLiteral("resume=%1 generation=%2")
                                                                      .arg(yesNo(shouldResume && pending))
                                                                      .arg(s.requestGeneration()));
        m_resumeAfterInterruption = m_transition = false;
        return;
    }
    if (options) {
        const bool shouldResume = *options & 1u;
        if (m_resumeAfterInterruption && shouldResume) {
            restorePlaybackAfterLifecycleTransitionWithReason(QStringLiteral("audio-interruption-ended"), applicationState, backgroundAudio);
            return;
        }
        if (!shouldResume) {
            m_resumeAfterInterruption = m_resumeAfterForeground = m_listening = false;
            s.settlePlayback(Host::HoldNone, Host::HoldInterruption, false);
            s.resetUnexpectedPauseRecovery();
            record("audio-session-interruption-no-resume", QStringLiteral("systemShouldResume=NO"));
        }
    } else if (m_resumeAfterInterruption) {
        restorePlaybackAfterLifecycleTransitionWithReason(QStringLiteral("audio-interruption-ended"), applicationState, backgroundAudio);
        return;
    }
    s.setHold(Host::HoldInterruption, false);
    leaveBackgroundAfterInterruption(applicationState);
    m_transition = false;
    if (!s.isExpectedToPlay() && !m_resumeAfterForeground && !m_resumeAfterInterruption && !m_listening)
        markInactive();
}

void KRPlaybackLifecycle::audioSessionRouteChangedForPlayback(int reason)
{
    KRPlaybackLifecycleHost& s = m_session;
    KRPlaybackMedia* media = s.media();
    if (!media) {
        if (reason != kRouteOldDeviceUnavailable || !s.isResolvingStart())
            return;
        s.abandonQualitySwitch("route-old-device-unavailable");
        m_listening = m_resumeAfterForeground = m_resumeAfterInterruption = m_transition = false;
        s.settlePlayback(Host::HoldNone, Host::HoldNone, false);
        s.dropPendingStart(QStringLiteral("耳机已拔出，点播放继续"), QStringLiteral("route-old-device-unavailable-without-player"));
        record("audio-session-route-old-device-without-player", QStringLiteral("generation=%1").arg(s.requestGeneration()));
        return;
    }
    record("audio-session-route-changed", QStringLiteral("reason=%1 expected=%2 state=%3")
                                              .arg(reason)
                                              .arg(yesNo(s.isExpectedToPlay()))
                                              .arg(media->playbackState()));
    if (reason != kRouteOldDeviceUnavailable)
        return;
    // The sound would come out of the speaker now: nothing plays until the user asks.
    m_listening = m_resumeAfterForeground = m_resumeAfterInterruption = m_transition = false;
    s.synchronizeQualitySwitchIntent(false, QStringLiteral("route-old-device-unavailable"));
    s.invalidatePendingDASHSeekResumeForReason(QStringLiteral("route-old-device-unavailable"));
    s.resetUnexpectedPauseRecovery();
    s.settlePlayback(Host::HoldRouteLost, Host::HoldNone, false);
    markInactive();
}
