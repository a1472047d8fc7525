// Quality switches and the application's life cycle as the page shows them. The transaction,
// its rollback and the life-cycle flags are the playback session's (KRQualitySwitchTransaction,
// KRPlaybackLifecycle); the page forwards the user's choice and the system's events, and shows
// the statuses and the controls' switching state they tell.

#include "video/KRVideoDetailViewController.h"

#include "model/KRVideo.h"
#include "platform/media/MediaNotifications.h"
#include "platform/uikit/Application.h"
#include "playback/KRDanmakuRenderer.h"
#include "playback/KRPlaybackLifecycle.h"
#include "playback/KRPlaybackSession.h"
#include "playback/KRPlayerControlsView.h"
#include "playback/KRQualitySwitchTransaction.h"
#include "playback/KRQualityTitles.h"
#include "store/KRPreferences.h"

#include <QApplication>
#include <QPointer>
#include <QThread>

#include <functional>
#include <optional>

using namespace platform::uikit;

void KRVideoDetailViewController::switchToQualityAtIndex(int index)
{
    const QList<int> values = m_sheets->qualityValues();
    if (index < 0 || index >= values.size())
        return;
    const int quality = values.at(index);
    const int previous = m_sheets->selectedQuality();
    m_sheets->setSelectedQuality(quality);
    // Nothing plays yet: the next start goes at the chosen quality.
    if (!m_session || !m_session->media())
        return;
    // Kept until the switch is over: a switch that fails or rolls back gives the choice back,
    // so the next part and a retry do not ask for the quality that failed. A pick made while
    // another switch runs ends that one silently: what was chosen and played before the first
    // stays the reference, and only the end of the last switch decides.
    const int running = m_qualitySwitchTarget;
    if (running == 0) {
        m_qualitySelectionBeforeSwitch = previous;
        m_qualityPlayingBeforeSwitch = m_session->quality();
    }
    m_qualitySwitchTarget = 0;
    if (m_session->switchToQuality(quality, qualityTitleForValue(quality)) == 0) {
        m_qualitySwitchTarget = running;
        m_sheets->setSelectedQuality(previous);
        return;
    }
    m_qualitySwitchTarget = quality;
}

void KRVideoDetailViewController::fallbackTo360PAfterRepeatedStalls()
{
    if (m_session)
        m_session->fallbackTo360PAfterRepeatedStalls();
}

void KRVideoDetailViewController::connectQualitySwitch(KRPlaybackSession* playback)
{
    playback->setQualityTitleSource([this](int quality) { return qualityTitleForValue(quality); });
    connect(playback, &KRPlaybackSession::qualitySwitchChanged, this, [this](bool switching, const QString& title) {
        // The switch is isolated from the stall recovery: no loading over the stream that plays on.
        if (switching && isViewLoaded())
            hideLoadingStatus();
        m_area->setQualitySwitchRunning(switching);
        KRPlayerControlsView* controls = m_area->controls();
        if (!controls)
            return;
        controls->setQualitySwitching(switching, switching ? title : QString());
        if (switching)
            return;
        // The title the switch held back is the quality that plays now.
        controls->setQualityTitle(compactQualityTitle());
        // After the end the stream in place still waits for the replay, and its end shows.
        if (isPlaybackEndedAwaitingReplay())
            showPlaybackEnded();
    });
    connect(playback, &KRPlaybackSession::qualitySwitchChanged, this, [this](bool switching) {
        if (switching || m_qualitySwitchTarget == 0)
            return;
        // The last switch the user chose is over: unless its quality plays, the choice is the
        // quality that does (the choice from before when that is still what plays).
        const int playing = m_session ? m_session->quality() : 0;
        if (playing != m_qualitySwitchTarget)
            m_sheets->setSelectedQuality(playing == m_qualityPlayingBeforeSwitch || playing <= 0 ? m_qualitySelectionBeforeSwitch : playing);
        m_qualitySwitchTarget = 0;
    });
    connect(playback, &KRPlaybackSession::switchStatusShown, this, [this](const QString& text, bool persistent) {
        if (!isViewLoaded())
            return;
        if (persistent)
            m_area->setPersistentStatus(text);
        else
            showDanmakuStatus(text);
    });
    // A start or recovery left to finish in the background ran out of time.
    connect(playback, &KRPlaybackSession::backgroundRequestAbandoned, this, [this](const QString& text, bool installed) {
        playbackFailed(installed);
        showLoadingStatus(text, false);
    });
    connect(playback, &KRPlaybackSession::qualitySwitchRollbackFailed, this, &KRVideoDetailViewController::qualitySwitchRollbackFailed);
    connect(playback, &KRPlaybackSession::qualitySwitchRolledBack, this, [this](double time) {
        if (KRDanmakuRenderer* renderer = m_area->danmakuRenderer())
            renderer->resetForPlaybackTime(time);
    });
    connect(playback, &KRPlaybackSession::pendingStartDropped, this, [this](const QString& text) {
        m_part.setStartedPlayback(false);
        showLoadingStatus(text, false);
        m_area->showPlayButton(true);
    });
}

void KRVideoDetailViewController::qualitySwitchRollbackFailed(double time)
{
    // Neither stream can be shown: the tap retries from where it stood, resolving afresh.
    if (m_part.video())
        m_part.video()->setPlayURL(QString());
    m_resume.resolveAt(time);
    m_part.setStartedPlayback(false);
    stopDanmakuTimer();
    // As after a failure: the player went, so whatever full screen it had is left, upright,
    // and the retry goes back into it.
    rememberFullscreenForRetry();
    uninstallPersistentPlayerSurface();
    showLoadingStatus(QStringLiteral("原画质恢复失败，点播放重试"), false);
    m_area->setPlayButtonEnabled(true);
    m_area->showPlayButton(true);
}

void KRVideoDetailViewController::observePlaybackLifecycle()
{
    auto& centre = platform::NotificationCenter::defaultCenter();
    const auto backgroundAudio = [] { return KRPreferences::sharedPreferences().backgroundAudioEnabled(); };
    const auto applicationState = [] { return Application::shared().applicationState(); };
    // Each event reaches the session first; the page then shows what playing now means.
    const auto after = [this] {
        if (!m_session || !m_loadedView)
            return;
        const bool playing = m_session->playsNow();
        if (KRPlayerControlsView* controls = m_area->controls())
            controls->setPlaying(playing);
        if (playing && !m_session->lifecycle()->isInBackground())
            startDanmakuTimer();
        else
            stopDanmakuTimer();
    };
    // A page that has not played yet hears every event too: a start it makes later (a resume
    // point still being read, an automatic start) begins in the state the application is in.
    m_observers.push_back(centre.addObserver(ApplicationDidEnterBackgroundNotification, nullptr, [=, this](const platform::Notification&) {
        if (m_loadedView) {
            session()->lifecycle()->applicationDidEnterBackgroundForPlayback(backgroundAudio());
            after();
        }
    }));
    m_observers.push_back(centre.addObserver(ApplicationWillEnterForegroundNotification, nullptr, [this](const platform::Notification&) {
        if (m_loadedView)
            session()->lifecycle()->applicationWillEnterForegroundForPlayback();
    }));
    m_observers.push_back(centre.addObserver(ApplicationDidBecomeActiveNotification, nullptr, [=, this](const platform::Notification&) {
        if (m_loadedView) {
            session()->lifecycle()->applicationDidBecomeActiveForPlayback(applicationState(), backgroundAudio());
            after();
        }
    }));
    // The audio session may tell from another thread: the step is carried out on the main one,
    // in order, without waiting there.
    const auto onMain = [this](std::function<void()> step) {
        if (QThread::currentThread() == thread()) {
            step();
            return;
        }
        QPointer<KRVideoDetailViewController> self(this);
        QMetaObject::invokeMethod(qApp, [self, step = std::move(step)] {
            if (self)
                step();
        }, Qt::QueuedConnection);
    };
    const auto interruption = [=, this](const platform::Notification& note) {
        if (!m_loadedView)
            return;
        using namespace platform::media;
        if (note.userInfo.value(AudioSessionInterruptionTypeKey).toUInt() == 1) {
            session()->lifecycle()->audioSessionInterruptionForPlayback(true);
        } else {
            std::optional<unsigned> options;
            if (note.userInfo.contains(AudioSessionInterruptionOptionKey))
                options = note.userInfo.value(AudioSessionInterruptionOptionKey).toUInt();
            session()->lifecycle()->audioSessionInterruptionForPlayback(false, options, applicationState(), backgroundAudio());
        }
        after();
    };
    const auto routeChange = [=, this](const platform::Notification& note) {
        if (!m_loadedView)
            return;
        session()->lifecycle()->audioSessionRouteChangedForPlayback(int(note.userInfo.value(platform::media::AudioSessionRouteChangeReasonKey).toUInt()));
        after();
    };
    m_observers.push_back(centre.addObserver(platform::media::AudioSessionInterruptionNotification, nullptr,
                                             [=](const platform::Notification& note) { onMain([=] { interruption(note); }); }));
    m_observers.push_back(centre.addObserver(platform::media::AudioSessionRouteChangeNotification, nullptr,
                                             [=](const platform::Notification& note) { onMain([=] { routeChange(note); }); }));
}
