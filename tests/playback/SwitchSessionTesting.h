#pragma once

#include "PlaybackTesting.h"
#include "ScriptedMedia.h"
#include "platform/foundation/MainClock.h"
#include "playback/KRBackgroundContinuation.h"
#include "playback/KRPlaybackLifecycle.h"
#include "playback/KRQualitySwitchTransaction.h"
#include "store/KRPreferences.h"
#include "support/ServiceFixtures.h"
#include "support/TestSupport.h"

#include <QRegularExpression>

#include <optional>

namespace playbacktest {

inline const QString k360 = QStringLiteral("https://cdn.test/v-360.mp4");
inline const QString k720 = QStringLiteral("https://cdn.test/v-720.mp4");
inline const QString k720Backup = QStringLiteral("https://backup.test/v-720.mp4");

// A scripted session of a progressive part at 360P whose switches resolve when the test
// answers, with what it shows collected: the statuses ("~" marks a persistent one), the
// switching titles ("-" when it ends), the rollbacks that failed and the ends.
class SwitchSessionTest : public ScriptedSessionTest {
protected:
    void SetUp() override
    {
        ScriptedSessionTest::SetUp();
        auto video = std::make_shared<KRVideo>(*session->video());
        video->setBvid(testsupport::ServiceFixtures::detailBVID());
        video->setPlayURL(k360);
        session->setVideo(video, testsupport::ServiceFixtures::kDetailAID);
        session->setHeartbeatEnabled(false);
        session->setResolver([this](int quality, QObject*, std::function<void(const QStringList&, int)> done) {
            asked.append(quality);
            pendingResolve = std::move(done);
        });
        QObject::connect(session.get(), &KRPlaybackSession::switchStatusShown, [this](const QString& text, bool persistent) {
            statuses.append((persistent ? QStringLiteral("~") : QString()) + text);
        });
        QObject::connect(session.get(), &KRPlaybackSession::qualitySwitchChanged,
                         [this](bool switching, const QString& title) { titles.append(switching ? title : QStringLiteral("-")); });
        QObject::connect(session.get(), &KRPlaybackSession::qualitySwitchRollbackFailed, [this](double time) { rollbackFailures.append(time); });
        QObject::connect(session.get(), &KRPlaybackSession::ended, [this] { ++ends; });
    }
    void TearDown() override
    {
        KRPreferences::sharedPreferences().setBackgroundAudioEnabled(false);
        ScriptedSessionTest::TearDown();
    }

    // 360P playing at 5 s.
    ScriptedMedia* playAt360()
    {
        KRPlaybackSessionTesting::startCandidates(*session, {k360}, 16, 5.0);
        ScriptedMedia* playing = media();
        playing->becomePlayable();
        return playing;
    }
    // The 1080P pair of the part, playing at 12 s.
    ScriptedMedia* playPairAt12()
    {
        session->startPart(80, 4.0);
        if (!testsupport::waitUntil([&] { return session->media() != nullptr; }))
            return nullptr;
        ScriptedMedia* pair = media();
        pair->becomePlayable();
        pair->time = 12.0;
        return pair;
    }
    // The user sought to `target`; the pair has not landed there, and its sound still reads
    // where it left.
    void seekWithoutLanding(ScriptedMedia* pair, double target)
    {
        const double before = pair->time;
        session->seek(target);
        pair->time = before;
        pair->seekInFlight = true;
        pair->seekTarget = target;
    }
    // 360P played to its natural end at 312 s.
    ScriptedMedia* playAt360ToItsEnd()
    {
        ScriptedMedia* playing = playAt360();
        playing->time = 312;
        Q_EMIT playing->finished(0);
        return playing;
    }
    // Opens a switch to 720P; the resolve waits for `answerResolve`.
    void openSwitchTo720()
    {
        session->switchToQuality(64, QStringLiteral("720P"));
        QCoreApplication::processEvents();
    }
    void answerResolve(const QStringList& answer = {k720, k720Backup}, int quality = 64)
    {
        ASSERT_TRUE(pendingResolve);
        auto done = std::move(pendingResolve);
        pendingResolve = nullptr;
        done(answer, quality);
    }
    // 720P staged beside 360P and committed at 6 s: the new stream takes over in the same player.
    ScriptedMedia* commitSwitchTo720()
    {
        ScriptedMedia* playing = playAt360();
        openSwitchTo720();
        answerResolve();
        playing->time = 6.0;
        playing->finishStaging(true);
        return playing;
    }
    // Runs the manual clock in steps, the player's time running with it.
    void run(double seconds, ScriptedMedia* playing = nullptr, double step = 0.05)
    {
        for (double done = 0; done < seconds - 1e-9; done += step) {
            if (playing)
                playing->time += step;
            platform::MainClock::advanceForTesting(step);
        }
    }
    static QString log() { return diagnosticsLog(); }
    static bool logged(const QString& pattern) { return log().contains(QRegularExpression(pattern)); }
    static qsizetype at(const QString& text) { return log().indexOf(text); }
    // The log's line that starts with `event`, or empty.
    static QString line(const QString& event)
    {
        const QString text = log();
        const qsizetype from = text.indexOf(event);
        if (from < 0)
            return {};
        const qsizetype to = text.indexOf(QLatin1Char('\n'), from);
        return text.mid(from, to < 0 ? -1 : to - from);
    }

    // The life cycle's events, as the application and the audio session post them.
    KRPlaybackLifecycle* life() const { return session->lifecycle(); }
    void enterBackground(bool listening) { life()->applicationDidEnterBackgroundForPlayback(listening); }
    void becomeActive(bool listening = false)
    {
        life()->applicationWillEnterForegroundForPlayback();
        life()->applicationDidBecomeActiveForPlayback(0, listening);
    }
    void interruptionBegins() { life()->audioSessionInterruptionForPlayback(true); }
    void interruptionEnds(std::optional<unsigned> options, int applicationState = 0, bool listening = false)
    {
        life()->audioSessionInterruptionForPlayback(false, options, applicationState, listening);
    }
    void routeChanges(int reason) { life()->audioSessionRouteChangedForPlayback(reason); }
    // The background task.
    KRBackgroundContinuation* task() const { return session->backgroundContinuation(); }
    void beginTask(int generation) { task()->beginBackgroundContinuationTaskForGeneration(generation); }
    void endTask(int generation, const QString& reason) { task()->endBackgroundContinuationTaskForGeneration(generation, reason); }
    void abortTask(int generation, const QString& reason) { task()->abortBackgroundContinuationForGeneration(generation, reason); }
    // A failure the switch is told of from outside.
    void failSwitch(const QString& reason, bool restore) { session->qualitySwitch()->failQualitySwitchWithReason(reason, restore); }

    QList<int> asked;
    std::function<void(const QStringList&, int)> pendingResolve;
    QStringList statuses, titles;
    QList<double> rollbackFailures;
    int ends = 0;
};

} // namespace playbacktest
