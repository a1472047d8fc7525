#include "playback/KRPlaybackLifecycle.h"

#include "playback/KRBackgroundContinuation.h"
#include "playback/KRPlaybackAudioSession.h"
#include "playback/KRPlaybackMedia.h"
#include "playback/KRPlaybackSession.h"
#include "playback/KRQualitySwitchTransaction.h"
#include "store/KRDiagnostics.h"

#include <algorithm>

namespace {

QString yesNo(bool value) { return value ? QStringLiteral("YES") : QStringLiteral("NO"); }
void record(const char* event, const QString& detail) { KRDiagnostics::recordEvent(QString::fromLatin1(event), detail); }
constexpr int kActive = 0;
constexpr int kBackground = 2;

} // namespace

KRPlaybackLifecycle::KRPlaybackLifecycle(KRPlaybackSession& session) : m_session(session) {}

bool KRPlaybackLifecycle::wantsPlayback() const
{
    return m_listening || m_resumeAfterForeground || m_resumeAfterInterruption || m_session.m_expectedToPlay;
}

void KRPlaybackLifecycle::freezePictureClocks()
{
    // The picture stops in the background; the sound is left as it is.
    if (KRPlaybackMedia* media = m_session.m_media)
        media->setPictureSuspended(m_background);
}

void KRPlaybackLifecycle::pauseAll()
{
    if (KRPlaybackMedia* media = m_session.m_media)
        media->pause();
}

void KRPlaybackLifecycle::didEnterBackground(bool backgroundAudio)
{
    KRPlaybackSession& s = m_session;
    s.m_delayed.cancel(QStringLiteral("checkStallRecovery"));
    s.m_stallActive = false;
    s.m_switch->abandon("background");
    m_background = true;
    KRPlaybackMedia* media = s.m_media;
    if (!media) {
        const bool pending = s.m_state == KRPlaybackSession::State::Resolving;
        const bool listen = pending && backgroundAudio && !m_interruption;
        m_transition = pending;
        m_listening = listen;
        m_resumeAfterForeground = pending && !backgroundAudio;
        s.resetRetries();
        // A play address still being resolved may finish in the background.
        if (pending && backgroundAudio)
            s.m_continuation->begin(s.m_requestGeneration);
        if (!listen && !m_interruption)
            KRPlaybackAudioSession::sharedSession()->markPlaybackInactive();
        record("playback-did-enter-background-without-player", QStringLiteral("pending=%1 listen=%2 generation=%3")
                                                                   .arg(yesNo(pending), yesNo(listen))
                                                                   .arg(s.m_requestGeneration));
        return;
    }
    const bool playing = s.m_expectedToPlay || media->playbackState() == 1;
    const bool listen = backgroundAudio && playing && !m_interruption;
    m_transition = true;
    s.resetRetries();
    m_listening = listen;
    m_resumeAfterForeground = !backgroundAudio && playing;
    if (listen) {
        KRPlaybackAudioSession::sharedSession()->activateForPlaybackWithReason(QStringLiteral("application-did-enter-background"));
        freezePictureClocks();
        s.m_expectedToPlay = true;
        media->play();
        // The chosen speed, or the hold's, goes on in the background.
        media->setRate(s.effectiveRate());
        media->reassertSound();
    } else {
        freezePictureClocks();
        pauseAll();
        if (!m_interruption)
            KRPlaybackAudioSession::sharedSession()->markPlaybackInactive();
    }
    record("playback-did-enter-background", QStringLiteral("listen=%1 playing=%2 time=%3 dash=%4")
                                                .arg(yesNo(listen), yesNo(playing))
                                                .arg(std::max(0.0, media->currentTime()), 0, 'f', 3)
                                                .arg(yesNo(s.m_pair)));
}

void KRPlaybackLifecycle::willEnterForeground()
{
    m_session.m_continuation->end(0, QStringLiteral("application-will-enter-foreground"));
    if (m_session.m_media && m_background && !m_interruption && wantsPlayback())
        KRPlaybackAudioSession::sharedSession()->activateForPlaybackWithReason(QStringLiteral("application-will-enter-foreground"));
}

void KRPlaybackLifecycle::didBecomeActive(int applicationState, bool backgroundAudio)
{
    if (m_session.m_media) {
        if ((m_background || m_resumeAfterForeground || m_resumeAfterInterruption || m_transition) && !m_interruption)
            restore(QStringLiteral("application-did-become-active"), applicationState, backgroundAudio);
        return;
    }
    if (applicationState != kActive)
        return;
    const bool wasPending = m_background || m_listening || m_resumeAfterForeground;
    m_background = m_listening = m_resumeAfterForeground = false;
    if (!m_interruption)
        m_transition = false;
    if (wasPending)
        record("playback-became-active-without-player", QStringLiteral("interruption=%1").arg(yesNo(m_interruption)));
}

void KRPlaybackLifecycle::restore(const QString& reason, int applicationState, bool backgroundAudio)
{
    KRPlaybackSession& s = m_session;
    KRPlaybackMedia* media = s.m_media;
    if (!media)
        return;
    const bool ended = s.m_state == KRPlaybackSession::State::Ended;
    const bool failed = s.m_state == KRPlaybackSession::State::Failed || s.m_state == KRPlaybackSession::State::Interrupted;
    if (ended || failed) {
        // A part at its end or failed for good is never started by the life cycle.
        m_background = applicationState == kBackground;
        m_listening = m_resumeAfterForeground = m_resumeAfterInterruption = m_transition = false;
        s.m_expectedToPlay = false;
        pauseAll();
        if (!m_interruption)
            KRPlaybackAudioSession::sharedSession()->markPlaybackInactive();
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
        s.m_expectedToPlay = resume;
        if (resume) {
            if (s.m_pair) {
                media->seek(time, true);
            } else {
                media->play();
            }
            s.applyRate(true);
            s.setState(KRPlaybackSession::State::Playing);
        } else {
            pauseAll();
            s.setState(KRPlaybackSession::State::Paused);
        }
        m_resumeAfterForeground = m_resumeAfterInterruption = m_transition = false;
        s.resetRetries();
        s.m_tickTimer.start(s.m_tickMs, [&s] { s.tick(); });
        s.tick();
        record("playback-lifecycle-restored", QStringLiteral("reason=%1 resume=%2 time=%3 dash=%4 state=%5")
                                                  .arg(reason.isEmpty() ? QStringLiteral("unknown") : reason, yesNo(resume))
                                                  .arg(time, 0, 'f', 3)
                                                  .arg(yesNo(s.m_pair))
                                                  .arg(applicationState));
        return;
    }
    m_background = m_background || applicationState == kBackground;
    const bool listen = applicationState == kBackground && backgroundAudio && resume;
    m_listening = listen;
    if (!listen && resume)
        m_resumeAfterForeground = true;
    m_resumeAfterInterruption = false;
    s.m_expectedToPlay = listen;
    if (listen) {
        media->play();
        s.applyRate(true);
        freezePictureClocks();
        media->reassertSound();
    } else {
        pauseAll();
        freezePictureClocks();
    }
    m_transition = false;
    s.resetRetries();
    record("playback-background-audio-restored", QStringLiteral("reason=%1 resume=%2 allowed=%3 appState=%4 foregroundPending=%5 time=%6")
                                                     .arg(reason, yesNo(resume), yesNo(backgroundAudio))
                                                     .arg(applicationState)
                                                     .arg(yesNo(m_resumeAfterForeground))
                                                     .arg(time, 0, 'f', 3));
}

void KRPlaybackLifecycle::interruptionBegan()
{
    KRPlaybackSession& s = m_session;
    KRPlaybackMedia* media = s.m_media;
    s.m_switch->abandon("audio-interruption");
    m_interruption = true;
    m_transition = true;
    s.resetRetries();
    if (!media) {
        m_resumeAfterInterruption = s.m_state == KRPlaybackSession::State::Resolving;
        record("audio-session-interruption-began-without-player", QStringLiteral("resume=%1").arg(yesNo(m_resumeAfterInterruption)));
        return;
    }
    m_resumeAfterInterruption = s.m_expectedToPlay || media->playbackState() == 1;
    s.m_delayed.cancel(QStringLiteral("checkStallRecovery"));
    s.m_stallActive = false;
    freezePictureClocks();
    pauseAll();
    record("audio-session-interruption-began", QStringLiteral("resume=%1").arg(yesNo(m_resumeAfterInterruption)));
}

void KRPlaybackLifecycle::interruptionEnded(std::optional<unsigned> options, int applicationState, bool backgroundAudio)
{
    KRPlaybackSession& s = m_session;
    m_interruption = false;
    if (!s.m_media) {
        const bool shouldResume = !options || (*options & 1u);
        const bool pending = m_resumeAfterInterruption || s.m_state == KRPlaybackSession::State::Resolving;
        if (!shouldResume && pending) {
            m_resumeAfterInterruption = m_resumeAfterForeground = m_listening = m_transition = false;
            s.m_expectedToPlay = false;
            s.dropPendingStart(QStringLiteral("播放已暂停，点播放继续"), QStringLiteral("audio-interruption-no-resume-without-player"));
            record("audio-session-interruption-no-resume-without-player", QString());
            return;
        }
        record("audio-session-interruption-ended-without-player", QStringLiteral("resume=%1").arg(yesNo(shouldResume && pending)));
        m_resumeAfterInterruption = m_transition = false;
        return;
    }
    if (options) {
        const bool shouldResume = *options & 1u;
        if (m_resumeAfterInterruption && shouldResume) {
            restore(QStringLiteral("audio-interruption-ended"), applicationState, backgroundAudio);
            return;
        }
        if (!shouldResume) {
            m_resumeAfterInterruption = m_resumeAfterForeground = m_listening = false;
            s.m_expectedToPlay = false;
            pauseAll();
            s.setState(KRPlaybackSession::State::Paused);
            s.resetRetries();
            record("audio-session-interruption-no-resume", QStringLiteral("systemShouldResume=NO"));
        }
    } else if (m_resumeAfterInterruption) {
        restore(QStringLiteral("audio-interruption-ended"), applicationState, backgroundAudio);
        return;
    }
    m_transition = false;
    if (!s.m_expectedToPlay && !m_resumeAfterForeground && !m_resumeAfterInterruption && !m_listening)
        KRPlaybackAudioSession::sharedSession()->markPlaybackInactive();
}

void KRPlaybackLifecycle::routeChanged(int reason)
{
    KRPlaybackSession& s = m_session;
    KRPlaybackMedia* media = s.m_media;
    if (!media) {
        if (reason != kRouteOldDeviceUnavailable || s.m_state != KRPlaybackSession::State::Resolving)
            return;
        s.m_switch->abandon("route-old-device-unavailable");
        s.m_expectedToPlay = m_listening = m_resumeAfterForeground = m_resumeAfterInterruption = m_transition = false;
        s.dropPendingStart(QStringLiteral("耳机已拔出，点播放继续"), QStringLiteral("route-old-device-unavailable-without-player"));
        record("audio-session-route-old-device-without-player", QString());
        return;
    }
    record("audio-session-route-changed", QStringLiteral("reason=%1 expected=%2 state=%3")
                                              .arg(reason)
                                              .arg(yesNo(s.m_expectedToPlay))
                                              .arg(media->playbackState()));
    if (reason != kRouteOldDeviceUnavailable)
        return;
    // The sound would come out of the speaker now: nothing plays until the user asks.
    m_listening = m_resumeAfterForeground = m_resumeAfterInterruption = m_transition = false;
    s.m_switch->synchronizePlaybackIntent(false, QStringLiteral("route-old-device-unavailable"));
    s.m_expectedToPlay = false;
    s.resetRetries();
    pauseAll();
    s.setState(KRPlaybackSession::State::Paused);
    KRPlaybackAudioSession::sharedSession()->markPlaybackInactive();
}
