// What the controls are told the moment their tick starts, and what the life cycle does with a
// pair's pending seek and with a part at its end, against scripted players on the manual clock.
#include "playback/KRPlaybackSession.h"

#include "PlaybackTesting.h"
#include "ScriptedMedia.h"
#include "SwitchSessionTesting.h"
#include "platform/foundation/MainClock.h"
#include "playback/KRPlaybackLifecycle.h"
#include "support/TestSupport.h"

using platform::MainClock;
using playbacktest::ScriptedMedia;
using playbacktest::diagnosticsLog;

namespace {

class SessionTickAndRestoreTest : public playbacktest::SwitchSessionTest {
protected:
    void SetUp() override
    {
        SwitchSessionTest::SetUp();
        QObject::connect(session.get(), &KRPlaybackSession::progressed, [this](double time, double, bool) { told.append(time); });
        QObject::connect(session.get(), &KRPlaybackSession::controlsTickRunningChanged, [this](bool running) { ticking.append(running); });
    }

    QList<double> told;
    QList<bool> ticking;
};

// A player put in place, and one played again after the end was left by a seek: the controls
// read it at once rather than a tick (0.2 s) later.
TEST_F(SessionTickAndRestoreTest, TheControlsTickRunsOnceAtOnceWhenItStarts)
{
    KRPlaybackSessionTesting::startCandidates(*session, {playbacktest::k360}, 16, 42.0);
    ScriptedMedia* playing = media();
    ASSERT_NE(playing, nullptr);
    ASSERT_FALSE(told.isEmpty()) << "nothing was told when the player was put in place";
    EXPECT_DOUBLE_EQ(told.last(), 42.0);

    playing->becomePlayable();
    playing->time = 312;
    Q_EMIT playing->finished(0);
    ASSERT_EQ(session->state(), KRPlaybackSession::State::Ended);
    session->seek(100.0);
    told.clear();
    session->play();
    ASSERT_FALSE(told.isEmpty()) << "nothing was told when it played again";
    EXPECT_DOUBLE_EQ(told.last(), 100.0);
    // Then once a tick, as before.
    told.clear();
    MainClock::advanceForTesting(0.19);
    EXPECT_TRUE(told.isEmpty());
    MainClock::advanceForTesting(0.02);
    EXPECT_EQ(told.size(), 1);
}

// Listening in the background, a pair's seek still landing does not resume it by itself: it is
// made stale, and the sound goes on from where the user sought through the gate.
TEST_F(SessionTickAndRestoreTest, ListeningInTheBackgroundTakesAPendingSeekOverFromThePair)
{
    ScriptedMedia* pair = playPairAt12();
    ASSERT_NE(pair, nullptr);
    ASSERT_TRUE(session->playsPair());
    seekWithoutLanding(pair, 40.0);
    const int plays = pair->plays;
    pair->seeks.clear();
    enterBackground(true);
    EXPECT_TRUE(pair->seekResumeInvalidations.contains(QStringLiteral("application-did-enter-background")))
        << pair->seekResumeInvalidations.join(QLatin1Char(',')).toStdString();
    EXPECT_TRUE(life()->isListeningInBackground());
    EXPECT_EQ(pair->seeks, QList<double>{40.0});
    EXPECT_GT(pair->plays, plays);
    EXPECT_TRUE(session->playsNow());
}

// A part at its end that the life cycle restores (a call that began while it was still
// playing ends after it ended): nothing moves on screen for it, so the controls' tick and
// the timers that follow it stop, as they do for the background, until the replay.
TEST_F(SessionTickAndRestoreTest, TheRestoreOfAnEndedPartStopsTheTimersThatFollowTheControls)
{
    ScriptedMedia* playing = playAt360();
    interruptionBegins();
    playing->time = 312;
    Q_EMIT playing->finished(0);
    ASSERT_EQ(session->state(), KRPlaybackSession::State::Ended);
    ticking.clear();
    interruptionEnds(1u);
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral("[playback-terminal-lifecycle-restore-blocked] reason=audio-interruption-ended ended=YES")));
    EXPECT_EQ(ticking, QList<bool>{false});
    EXPECT_FALSE(session->playsNow());
    told.clear();
    MainClock::advanceForTesting(1.0);
    EXPECT_TRUE(told.isEmpty());
    // The replay brings them back with the tick.
    session->restartPlaybackFromBeginning();
    EXPECT_EQ(ticking, (QList<bool>{false, true}));
    EXPECT_FALSE(told.isEmpty());
}

} // namespace
