// A session's pending DASH seek around a quality switch, and a replay asked during an audio
// interruption, against scripted players on the manual clock.
#include "playback/KRPlaybackSession.h"

#include "PlaybackTesting.h"
#include "ScriptedMedia.h"
#include "SwitchSessionTesting.h"
#include "platform/foundation/MainClock.h"
#include "playback/KRPlaybackLifecycle.h"
#include "playback/KRQualitySwitchTransaction.h"
#include "support/TestSupport.h"

#include <QCoreApplication>

using platform::MainClock;
using playbacktest::ScriptedMedia;
using playbacktest::diagnosticsLog;

namespace {

class SessionPendingSeekAndReplayTest : public playbacktest::SwitchSessionTest {};

TEST_F(SessionPendingSeekAndReplayTest, ASwitchBegunDuringADASHSeekResumesAtTheSeeksTime)
{
    ScriptedMedia* pair = playPairAt12();
    ASSERT_NE(pair, nullptr);
    ASSERT_TRUE(session->playsPair());
    seekWithoutLanding(pair, 40.0);
    session->switchToQuality(64, QStringLiteral("720P"));
    QCoreApplication::processEvents();
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral("resume=40.000 pendingSeek=YES")));
    // The sound's clock reads 12 s: the seek's time is kept, not overwritten by it.
    EXPECT_DOUBLE_EQ(session->qualitySwitch()->currentQualitySwitchResumeTime(), 40.0);
    answerResolve({playbacktest::k720}, 64);
    ScriptedMedia* prewarm = media();
    ASSERT_NE(prewarm, pair);
    EXPECT_DOUBLE_EQ(prewarm->prewarmedAt, 40.0);
}

// Once the pair has landed where it was sought and plays on, the controls' tick lets the
// switch's resume time follow it again: the new stream does not go back to the time sought.
TEST_F(SessionPendingSeekAndReplayTest, ThePendingSeeksTimeHoldsOnlyUntilThePairHasReachedIt)
{
    ScriptedMedia* pair = playPairAt12();
    ASSERT_NE(pair, nullptr);
    seekWithoutLanding(pair, 40.0);
    session->switchToQuality(64, QStringLiteral("720P"));
    QCoreApplication::processEvents();
    // Still on its way: the ticks leave the time sought.
    run(0.6);
    EXPECT_DOUBLE_EQ(session->qualitySwitch()->currentQualitySwitchResumeTime(), 40.0);
    // Landed, and playing on past it while the address is resolved.
    pair->seekInFlight = false;
    pair->time = 40.2;
    run(1.0, pair);
    pair->time = 43.0;
    run(0.4, pair);
    answerResolve({playbacktest::k720}, 64);
    ScriptedMedia* prewarm = media();
    ASSERT_NE(prewarm, pair);
    EXPECT_NEAR(prewarm->prewarmedAt, 43.4, 0.05);
}

TEST_F(SessionPendingSeekAndReplayTest, WithoutAPendingSeekTheSwitchResumesAtTheSoundsTime)
{
    ScriptedMedia* pair = playPairAt12();
    ASSERT_NE(pair, nullptr);
    // A seek that has landed leaves nothing pending.
    session->seek(30.0);
    pair->time = 31.0;
    session->switchToQuality(64, QStringLiteral("720P"));
    QCoreApplication::processEvents();
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral("resume=31.000 pendingSeek=NO")));
    pair->time = 35.0;
    EXPECT_DOUBLE_EQ(session->qualitySwitch()->currentQualitySwitchResumeTime(), 35.0) << "no explicit time is held";
}

// The pair's seek plays by itself once it lands: the switch's intent reaches it only as the
// gate's answer, so a hold is never bypassed, and the user's pause and play during the switch
// reach it too.
TEST_F(SessionPendingSeekAndReplayTest, ThePendingSeeksResumeFollowsTheSwitchsIntentThroughTheGate)
{
    ScriptedMedia* pair = playPairAt12();
    ASSERT_NE(pair, nullptr);
    session->setHold(KRPlaybackSession::HoldComposer, true);
    seekWithoutLanding(pair, 40.0);
    session->switchToQuality(64, QStringLiteral("720P"));
    ASSERT_TRUE(session->isExpectedToPlay());
    ASSERT_EQ(pair->seekResumes, QList<bool>{false}) << "the composer's hold keeps it paused when the seek lands";
    const int plays = pair->plays;
    session->setHold(KRPlaybackSession::HoldComposer, false);
    EXPECT_GT(pair->plays, plays) << "lifting the hold plays it through the gate";
    session->pause();
    EXPECT_EQ(pair->seekResumes, (QList<bool>{false, false}));
    session->play();
    EXPECT_EQ(pair->seekResumes, (QList<bool>{false, false, true}));
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral("[quality-switch-playback-intent] generation=1 phase=1 playing=YES")));
}

// In the background without listening the picture and the sound are held: a switch begun then,
// during the pair's pending seek, keeps its intent but must not let the seek start the sound.
TEST_F(SessionPendingSeekAndReplayTest, ASwitchBegunInTheBackgroundDuringADASHSeekKeepsTheSoundStill)
{
    ScriptedMedia* pair = playPairAt12();
    ASSERT_NE(pair, nullptr);
    seekWithoutLanding(pair, 40.0);
    enterBackground(false);
    pair->seekResumes.clear();
    const int plays = pair->plays;
    session->switchToQuality(64, QStringLiteral("720P"));
    QCoreApplication::processEvents();
    EXPECT_FALSE(session->playsNow());
    EXPECT_FALSE(pair->seekResumes.contains(true)) << "the seek landing would start the sound";
    EXPECT_EQ(pair->plays, plays);
}

// A replay asked while a call goes on stands at zero, held, and plays when the call ends with
// leave to resume; an end without it leaves it paused at zero.
TEST_F(SessionPendingSeekAndReplayTest, AReplayDuringAnInterruptionWaitsForItsEndAtZero)
{
    struct Case {
        bool dash;
        bool background;
        std::optional<unsigned> options;
        bool plays;
    };
    const QList<Case> cases = {
        {false, false, 1u, true},
        {false, false, std::nullopt, true},
        {false, false, 0u, false},
        {true, false, 1u, true},
        {true, true, 1u, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(QStringLiteral("dash=%1 background=%2 options=%3")
                         .arg(c.dash)
                         .arg(c.background)
                         .arg(c.options ? int(*c.options) : -1)
                         .toStdString());
        session->stop();
        ScriptedMedia* playing = nullptr;
        if (c.dash) {
            playing = playPairAt12();
            ASSERT_NE(playing, nullptr);
        } else {
            playing = playAt360();
        }
        // A player rests stopped at its end: nothing of the replay comes from its state.
        playing->time = 312;
        playing->state = KRPlaybackStateStopped;
        Q_EMIT playing->finished(0);
        ASSERT_EQ(session->state(), KRPlaybackSession::State::Ended);
        if (c.background)
            enterBackground(false);
        interruptionBegins();
        QList<double> progress;
        QList<bool> progressPlaying;
        QObject probe;
        QObject::connect(session.get(), &KRPlaybackSession::progressed, &probe, [&](double time, double, bool playingNow) {
            progress.append(time);
            progressPlaying.append(playingNow);
        });
        playing->seeks.clear();
        playing->seekResumeInvalidations.clear();
        playing->seekPlays.clear();
        const int plays = playing->plays;
        const qsizetype mark = diagnosticsLog().size();

        session->restartPlaybackFromBeginning();
        const QString logged = diagnosticsLog().mid(mark);
        EXPECT_EQ(playing->seeks, QList<double>{0.0});
        EXPECT_EQ(playing->seekPlays, QList<bool>{false}) << "the seek to zero does not start it by itself";
        EXPECT_EQ(playing->time, 0.0);
        EXPECT_EQ(playing->plays, plays) << "the call goes on";
        EXPECT_FALSE(session->playsNow());
        EXPECT_NE(session->state(), KRPlaybackSession::State::Ended);
        EXPECT_TRUE(life()->resumesAfterInterruption());
        EXPECT_TRUE(logged.contains(QStringLiteral("[playback-replay-deferred-for-interruption] dash=%1 background=%2")
                                        .arg(c.dash ? QStringLiteral("YES") : QStringLiteral("NO"),
                                             c.background ? QStringLiteral("YES") : QStringLiteral("NO"))));
        EXPECT_FALSE(logged.contains(QStringLiteral("[playback-replay]")));
        EXPECT_EQ(playing->seekResumeInvalidations,
                  c.dash ? QStringList{QStringLiteral("replay-during-interruption")} : QStringList{});
        // The controls show the replay as playing, from zero.
        ASSERT_FALSE(progress.isEmpty());
        EXPECT_EQ(progress.last(), 0.0);
        EXPECT_TRUE(progressPlaying.last());
        // Nothing retries the pause the call holds.
        MainClock::advanceForTesting(3.0);
        EXPECT_EQ(playing->plays, plays);

        interruptionEnds(c.options, c.background ? 2 : 0);
        if (c.background) {
            // Back in the background without listening: the replay waits for the foreground.
            EXPECT_EQ(playing->plays, plays);
            EXPECT_TRUE(life()->resumesAfterForeground());
            becomeActive();
        }
        if (c.plays) {
            EXPECT_GT(playing->plays, plays);
            EXPECT_TRUE(session->playsNow());
            EXPECT_EQ(session->state(), KRPlaybackSession::State::Playing);
            // The controls' tick runs again with the replay.
            progress.clear();
            MainClock::advanceForTesting(0.5);
            EXPECT_FALSE(progress.isEmpty());
        } else {
            EXPECT_EQ(playing->plays, plays);
            EXPECT_FALSE(session->isExpectedToPlay());
            EXPECT_EQ(session->state(), KRPlaybackSession::State::Paused);
        }
    }
}

} // namespace
