// The application's life cycle and the audio session while something is still on its way: a
// switch resolving or readying its stream, a start whose address has not come, and the
// background task that lets such a request finish; and a restore that happens while the
// application is not active.
#include "SwitchSessionTesting.h"

#include "platform/device/BackgroundTask.h"

using platform::MainClock;
using playbacktest::k360;
using playbacktest::k720;
using playbacktest::ScriptedMedia;

namespace {

class LifecycleDuringResolveTest : public playbacktest::SwitchSessionTest {
protected:
    // A start of the part whose address is still on its way.
    void startResolving()
    {
        play.setQualityFault(64, testsupport::PlaybackFixtures::QualityFault::Held);
        session->startPart(64, 0);
        ASSERT_EQ(session->state(), KRPlaybackSession::State::Resolving);
        KR_WAIT_UNTIL(play.heldReplyCount() >= 1);
    }
    void answerStart()
    {
        play.releaseHeldReplies();
        KR_WAIT_UNTIL(session->media() != nullptr);
    }
    // The late reply of a switch that ended installs nothing and changes nothing.
    void expectLateSwitchReplyIgnored(ScriptedMedia* playing)
    {
        const qsizetype made = medias.size();
        if (pendingResolve)
            answerResolve();
        EXPECT_TRUE(playing->stagedURL.isEmpty());
        EXPECT_EQ(medias.size(), made);
        EXPECT_EQ(session->quality(), 16);
        EXPECT_EQ(session->media(), playing);
    }
};

// ---- a switch still resolving ----

TEST_F(LifecycleDuringResolveTest, AnInterruptionDuringASwitchAbandonsItAndItsEndResumesOnlyWhenAllowed)
{
    ScriptedMedia* playing = playAt360();
    openSwitchTo720();
    interruptionBegins();
    EXPECT_TRUE(log().contains(QStringLiteral("[quality-prewarm-abort] generation=1 phase=1 reason=audio-interruption")));
    EXPECT_FALSE(session->isSwitchingQuality());
    EXPECT_EQ(titles.last(), QStringLiteral("-"));
    EXPECT_FALSE(session->playsNow());
    expectLateSwitchReplyIgnored(playing);
    // An end without options resumes the stream that stayed.
    int plays = playing->plays;
    interruptionEnds(std::nullopt);
    EXPECT_GT(playing->plays, plays);
    EXPECT_TRUE(session->playsNow());

    // Again, ended with options that do not allow resuming: it stays paused.
    openSwitchTo720();
    interruptionBegins();
    EXPECT_EQ(log().count(QStringLiteral("phase=1 reason=audio-interruption")), 2);
    plays = playing->plays;
    interruptionEnds(0u);
    EXPECT_EQ(playing->plays, plays);
    EXPECT_FALSE(session->isExpectedToPlay());
    expectLateSwitchReplyIgnored(playing);
}

TEST_F(LifecycleDuringResolveTest, TheBackgroundDuringASwitchsResolveKeepsTheStreamAndTheReturnPlaysIt)
{
    ScriptedMedia* playing = playAt360();
    openSwitchTo720();
    enterBackground(false);
    EXPECT_TRUE(log().contains(QStringLiteral("[quality-prewarm-abort] generation=1 phase=1 reason=background")));
    EXPECT_FALSE(session->isSwitchingQuality());
    EXPECT_TRUE(playing->pictureSuspended);
    EXPECT_FALSE(session->playsNow());
    expectLateSwitchReplyIgnored(playing);
    const int plays = playing->plays;
    becomeActive();
    EXPECT_GT(playing->plays, plays);
    EXPECT_FALSE(playing->pictureSuspended);
    EXPECT_TRUE(session->playsNow());
    EXPECT_EQ(playing->contentURL(), QUrl(k360));
}

TEST_F(LifecycleDuringResolveTest, APulledHeadphoneDuringASwitchInstallsTheNewStreamPaused)
{
    KRPlaybackSessionTesting::startCandidates(*session, {k720}, 64, 4.0);
    ScriptedMedia* playing = media();
    playing->becomePlayable();
    session->switchToQuality(80, QStringLiteral("1080P"));
    routeChanges(KRPlaybackLifecycle::kRouteOldDeviceUnavailable);
    EXPECT_TRUE(log().contains(QStringLiteral("[quality-switch-playback-intent] generation=1 phase=1 playing=NO")));
    EXPECT_TRUE(session->isSwitchingQuality()) << "a lost route does not end the switch";
    ASSERT_TRUE(testsupport::waitUntil([&] {
        QCoreApplication::processEvents();
        return medias.size() == 2;
    }));
    ScriptedMedia* prewarm = media();
    prewarm->becomePlayable(KRPlaybackStatePaused);
    MainClock::advanceForTesting(0.1);
    MainClock::advanceForTesting(0.1);
    ASSERT_EQ(session->media(), prewarm);
    EXPECT_FALSE(session->isSwitchingQuality());
    EXPECT_EQ(prewarm->plays, 0) << "the sound must not come out of the speaker";
    EXPECT_FALSE(session->playsNow());
    EXPECT_EQ(session->quality(), 80);
    MainClock::advanceForTesting(3.0);
    EXPECT_EQ(prewarm->plays, 0);
    // The intent went off with the route, not only the sound: one tap plays.
    EXPECT_FALSE(session->isExpectedToPlay());
    session->togglePlayback();
    EXPECT_TRUE(session->playsNow());
    EXPECT_GE(prewarm->plays, 1);
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Playing);
}

// ---- a start still resolving ----

TEST_F(LifecycleDuringResolveTest, TheBackgroundAndTheReturnDuringAStartLeaveItToPlayWhenItsAnswerComes)
{
    startResolving();
    const int g = session->requestGeneration();
    enterBackground(false);
    EXPECT_TRUE(log().contains(QStringLiteral("[playback-did-enter-background-without-player] pending=YES listen=NO generation=%1").arg(g)));
    EXPECT_TRUE(life()->resumesAfterForeground());
    becomeActive();
    EXPECT_TRUE(log().contains(QStringLiteral("[playback-became-active-without-player] generation=%1 interruption=NO").arg(g)));
    EXPECT_FALSE(life()->isInBackground());
    EXPECT_EQ(session->holds(), 0u);
    answerStart();
    ScriptedMedia* installed = media();
    installed->becomePlayable();
    EXPECT_GE(installed->startedAt, 0.0) << "started, not held";
    EXPECT_EQ(installed->pauses, 0);
    EXPECT_FALSE(installed->pictureSuspended);
    EXPECT_TRUE(session->playsNow());
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Playing);
}

TEST_F(LifecycleDuringResolveTest, AnInterruptionDuringAStartThatMayResumeLetsItsAnswerPlay)
{
    startResolving();
    const int g = session->requestGeneration();
    interruptionBegins();
    EXPECT_TRUE(log().contains(QStringLiteral("[audio-session-interruption-began-without-player] resume=YES generation=%1").arg(g)));
    interruptionEnds(1u);
    EXPECT_TRUE(log().contains(QStringLiteral("[audio-session-interruption-ended-without-player] resume=YES generation=%1").arg(g)));
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Resolving);
    answerStart();
    EXPECT_EQ(media()->pauses, 0);
    EXPECT_TRUE(session->playsNow());

    // Without options the system lets it resume too; another route reason changes nothing.
    session->stop();
    startResolving();
    const int h = session->requestGeneration();
    interruptionBegins();
    interruptionEnds(std::nullopt);
    EXPECT_TRUE(log().contains(QStringLiteral("[audio-session-interruption-ended-without-player] resume=YES generation=%1").arg(h)));
    routeChanges(1);
    EXPECT_EQ(session->requestGeneration(), h);
    EXPECT_FALSE(log().contains(QStringLiteral("[audio-session-route-old-device-without-player]")));
    answerStart();
    EXPECT_TRUE(session->playsNow());
}

TEST_F(LifecycleDuringResolveTest, ADroppedStartRecordsTheGenerationThatMadeItsReplyStale)
{
    startResolving();
    const int g = session->requestGeneration();
    routeChanges(KRPlaybackLifecycle::kRouteOldDeviceUnavailable);
    EXPECT_GT(session->requestGeneration(), g);
    EXPECT_TRUE(log().contains(QStringLiteral("[audio-session-route-old-device-without-player] generation=%1").arg(session->requestGeneration())));
    play.releaseHeldReplies();

    startResolving();
    const int h = session->requestGeneration();
    interruptionBegins();
    interruptionEnds(0u);
    EXPECT_GT(session->requestGeneration(), h);
    EXPECT_TRUE(log().contains(QStringLiteral("[audio-session-interruption-no-resume-without-player] generation=%1").arg(session->requestGeneration())));
    for (int i = 0; i < 30; ++i) {
        QCoreApplication::processEvents();
        MainClock::advanceForTesting(0.05);
    }
    EXPECT_EQ(session->media(), nullptr);
}

// ---- the background task ----

TEST_F(LifecycleDuringResolveTest, ATaskBegunForANewerRequestEndsTheOneHeld)
{
    KRPreferences::sharedPreferences().setBackgroundAudioEnabled(true);
    enterBackground(true);
    startResolving();
    const int g = session->requestGeneration();
    ASSERT_TRUE(task()->isHeld());
    ASSERT_EQ(task()->heldGeneration(), g);
    beginTask(g + 1);
    EXPECT_EQ(task()->heldGeneration(), g + 1);
    EXPECT_EQ(platform::BackgroundTask::openTaskCount(), 1) << "the first task was ended";
    const qsizetype ended = at(QStringLiteral("[background-continuation-task-end] generation=%1 reason=replaced").arg(g));
    const qsizetype begun = at(QStringLiteral("[background-continuation-task-begin] generation=%1 ").arg(g + 1));
    ASSERT_GE(ended, 0);
    EXPECT_GT(begun, ended);
    // The bound runs from the newer task: the first one's 30 s abandon nothing.
    MainClock::advanceForTesting(29.0);
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Resolving);
    endTask(0, QStringLiteral("test"));
    EXPECT_EQ(platform::BackgroundTask::openTaskCount(), 0);
}

TEST_F(LifecycleDuringResolveTest, AnAbortOutsideTheBackgroundOnlyEndsTheTask)
{
    KRPreferences::sharedPreferences().setBackgroundAudioEnabled(true);
    int abandoned = 0;
    QObject::connect(session.get(), &KRPlaybackSession::backgroundRequestAbandoned, [&] { ++abandoned; });
    // A part change of the continuation takes a task in the foreground.
    task()->setArmed(true);
    startResolving();
    task()->setArmed(false);
    const int g = session->requestGeneration();
    ASSERT_TRUE(task()->isHeld());
    abortTask(g, QStringLiteral("system-expired"));
    EXPECT_FALSE(task()->isHeld());
    EXPECT_EQ(platform::BackgroundTask::openTaskCount(), 0);
    EXPECT_TRUE(log().contains(QStringLiteral("[background-continuation-task-end] generation=%1 reason=system-expired").arg(g)));
    EXPECT_EQ(abandoned, 0);
    EXPECT_EQ(session->requestGeneration(), g);
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Resolving);
    EXPECT_FALSE(log().contains(QStringLiteral("[background-continuation-request-aborted]")));
    answerStart();
    EXPECT_TRUE(session->playsNow());
}

// ---- a restore while the application is not active ----

TEST_F(LifecycleDuringResolveTest, AnInterruptionEndingInTheBackgroundListensOrWaitsForTheForeground)
{
    ScriptedMedia* playing = playAt360();
    // Listening allowed: the sound comes back, the picture stays stopped.
    enterBackground(true);
    interruptionBegins();
    ASSERT_FALSE(session->playsNow());
    int plays = playing->plays;
    const int reasserts = playing->reasserts;
    interruptionEnds(1u, 2, true);
    EXPECT_TRUE(log().contains(QStringLiteral(
        "[playback-background-audio-restored] reason=audio-interruption-ended resume=YES allowed=YES appState=2 foregroundPending=NO time=5.000")));
    EXPECT_GT(playing->plays, plays);
    EXPECT_GT(playing->reasserts, reasserts);
    EXPECT_TRUE(playing->pictureSuspended);
    EXPECT_TRUE(life()->isListeningInBackground());
    EXPECT_TRUE(session->playsNow());
    becomeActive(true);

    // Not allowed: it waits paused, and becoming active plays it.
    enterBackground(false);
    interruptionBegins();
    plays = playing->plays;
    interruptionEnds(1u, 2, false);
    EXPECT_TRUE(log().contains(QStringLiteral(
        "[playback-background-audio-restored] reason=audio-interruption-ended resume=YES allowed=NO appState=2 foregroundPending=YES time=5.000")));
    EXPECT_EQ(playing->plays, plays);
    EXPECT_FALSE(session->playsNow());
    EXPECT_TRUE(playing->pictureSuspended);
    EXPECT_TRUE(life()->resumesAfterForeground());
    becomeActive();
    EXPECT_GT(playing->plays, plays);
    EXPECT_TRUE(session->playsNow());
    EXPECT_FALSE(playing->pictureSuspended);
}

} // namespace
