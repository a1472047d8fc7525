// The user's intent and the holds around it, against a scripted player on the manual clock:
// what a failover or a recovery keeps, what a screen's slot may stop, the stalls a hold keeps
// out, what a lost route, the background and an interruption leave for the next tap, and the
// names the audio session is told.
#include "SwitchSessionTesting.h"

#include "playback/KRPlaybackAudioSession.h"
#include "playback/KRPlaybackClaims.h"
#include "store/KRLocalHistoryStore.h"

using platform::MainClock;
using playbacktest::k360;
using playbacktest::k720;
using playbacktest::k720Backup;
using playbacktest::ScriptedMedia;

namespace {

class SessionIntentTest : public playbacktest::SwitchSessionTest {
protected:
    void SetUp() override
    {
        SwitchSessionTest::SetUp();
        KRLocalHistoryStore::sharedStore().resetForTesting();
        KRPlaybackAudioSession::sharedSession()->resetForTesting();
        QObject::connect(session.get(), &KRPlaybackSession::heartbeat, [this](int type) { heartbeats.append(type); });
        QObject::connect(session.get(), &KRPlaybackSession::bufferingChanged, [this](bool buffering, const QString& text) {
            if (buffering)
                bufferingTexts.append(text);
        });
        QObject::connect(session.get(), &KRPlaybackSession::stallFallbackRequested, [this](int quality) { fallbacks.append(quality); });
    }
    // 720P from its first address, playing at 5 s.
    ScriptedMedia* playAt720()
    {
        KRPlaybackSessionTesting::startCandidates(*session, {k720, k720Backup}, 64, 5.0);
        ScriptedMedia* playing = media();
        playing->becomePlayable();
        playing->time = 5.0;
        return playing;
    }
    // The part's copy on this device: a start installs it at once.
    void keepPartOnDevice()
    {
        auto video = std::make_shared<KRVideo>(*session->video());
        video->setPlayURL(QStringLiteral("file:///kept/part.mp4"));
        session->setVideo(video, testsupport::ServiceFixtures::kDetailAID);
    }
    static int activations(const QString& reason) { return int(log().count(QStringLiteral("[audio-session-activate] reason=") + reason + QLatin1Char(' '))); }

    QList<int> heartbeats;
    QStringList bufferingTexts;
    QList<int> fallbacks;
};

// ---- a failover and a recovery keep the intent they found ----

TEST_F(SessionIntentTest, APausedPartWhoseAddressBreaksStaysPausedUnderAnotherScreensSound)
{
    ScriptedMedia* first = playAt720();
    session->pause();
    // Another screen plays meanwhile; the paused part keeps its player.
    KRPlaybackSession other;
    other.setMediaFactory(scriptedFactory());
    KRPlaybackSessionTesting::startCandidates(other, {k360}, 16, 0);
    ScriptedMedia* otherMedia = media();
    otherMedia->becomePlayable();
    ASSERT_TRUE(KRPlaybackClaims::shared().isHeldBy(&other));

    // Its address breaks: the backup is put in place, paused.
    Q_EMIT first->finished(1);
    ScriptedMedia* backup = session->media() == first ? nullptr : static_cast<ScriptedMedia*>(session->media());
    ASSERT_NE(backup, nullptr);
    EXPECT_EQ(backup->sound, QUrl(k720Backup));
    EXPECT_DOUBLE_EQ(backup->startedAt, 5.0);
    EXPECT_FALSE(session->isExpectedToPlay());
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Paused);
    EXPECT_GE(backup->pauses, 1);
    backup->becomePlayable(KRPlaybackStatePaused);
    MainClock::advanceForTesting(2.0);
    EXPECT_EQ(backup->plays, 0);
    EXPECT_EQ(other.state(), KRPlaybackSession::State::Playing) << "the other screen's sound goes on";
    EXPECT_TRUE(KRPlaybackClaims::shared().isHeldBy(&other));

    // The backup breaks too: the fresh resolve's answer is installed paused as well.
    Q_EMIT backup->finished(1);
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Resolving);
    EXPECT_FALSE(session->isExpectedToPlay());
    answerResolve({QStringLiteral("https://fresh.test/v-720.mp4")});
    ScriptedMedia* fresh = static_cast<ScriptedMedia*>(session->media());
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(fresh->sound, QUrl(QStringLiteral("https://fresh.test/v-720.mp4")));
    EXPECT_FALSE(session->isExpectedToPlay());
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Paused);
    fresh->becomePlayable(KRPlaybackStatePaused);
    MainClock::advanceForTesting(2.0);
    EXPECT_EQ(fresh->plays, 0);
    EXPECT_EQ(other.state(), KRPlaybackSession::State::Playing);
    EXPECT_TRUE(KRPlaybackClaims::shared().isHeldBy(&other));
    EXPECT_EQ(activations(QStringLiteral("online-player-start")), 2) << "this part's first start and the other screen's";

    // A tap plays it, and takes the claim.
    session->togglePlayback();
    EXPECT_TRUE(session->playsNow());
    EXPECT_TRUE(KRPlaybackClaims::shared().isHeldBy(session.get()));
    EXPECT_EQ(other.state(), KRPlaybackSession::State::Idle);
}

TEST_F(SessionIntentTest, APlayingPartWhoseAddressBreaksPlaysOnAndHoldsTheClaim)
{
    ScriptedMedia* first = playAt720();
    Q_EMIT first->finished(1);
    auto* backup = static_cast<ScriptedMedia*>(session->media());
    ASSERT_NE(backup, first);
    backup->becomePlayable();
    EXPECT_TRUE(session->isExpectedToPlay());
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Playing);
    EXPECT_TRUE(KRPlaybackClaims::shared().isHeldBy(session.get()));
    Q_EMIT backup->finished(1);
    EXPECT_TRUE(session->isExpectedToPlay());
    answerResolve({QStringLiteral("https://fresh.test/v-720.mp4")});
    auto* fresh = static_cast<ScriptedMedia*>(session->media());
    ASSERT_NE(fresh, nullptr);
    fresh->becomePlayable();
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Playing);
    EXPECT_TRUE(KRPlaybackClaims::shared().isHeldBy(session.get()));
    EXPECT_EQ(activations(QStringLiteral("online-player-start")), 3);
}

// ---- a screen's slot that stops ----

TEST_F(SessionIntentTest, AStopFromABufferingSlotStartsNoViewingWithoutAPlayer)
{
    bool stopped = false;
    QObject::connect(session.get(), &KRPlaybackSession::bufferingChanged, session.get(), [&](bool buffering, const QString&) {
        if (buffering && !stopped) {
            stopped = true;
            session->stop();
        }
    });
    KRPlaybackSessionTesting::startCandidates(*session, {k720}, 64, 3.0);
    ASSERT_TRUE(stopped);
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Idle);
    ASSERT_NE(media(), nullptr);
    EXPECT_LT(media()->startedAt, 0) << "the player let go is not started";
    EXPECT_EQ(media()->callsAfterStop, 0);
    MainClock::advanceForTesting(31.0);
    EXPECT_TRUE(heartbeats.isEmpty());
    EXPECT_FALSE(KRLocalHistoryStore::sharedStore().resumeRecordForVideo(session->video()).has_value());
    EXPECT_FALSE(KRPlaybackAudioSession::sharedSession()->isPlaybackActive());
}

TEST_F(SessionIntentTest, AStopFromAStateSlotStartsNoViewingWithoutAPlayer)
{
    // The composer is open: the gate pauses the new player, and the screen stops on that.
    session->setHold(KRPlaybackSession::HoldComposer, true);
    QList<KRPlaybackSession::State> states;
    QObject::connect(session.get(), &KRPlaybackSession::stateChanged, session.get(), [&](KRPlaybackSession::State state) {
        states.append(state);
        if (state == KRPlaybackSession::State::Paused)
            session->stop();
    });
    int ticks = 0;
    QObject::connect(session.get(), &KRPlaybackSession::progressed, [&] { ++ticks; });
    KRPlaybackSessionTesting::startCandidates(*session, {k720}, 64, 3.0);
    ASSERT_TRUE(states.contains(KRPlaybackSession::State::Paused));
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Idle);
    MainClock::advanceForTesting(31.0);
    EXPECT_TRUE(heartbeats.isEmpty());
    EXPECT_EQ(ticks, 0);
    EXPECT_FALSE(KRLocalHistoryStore::sharedStore().resumeRecordForVideo(session->video()).has_value());
}

// ---- stalls and holds ----

TEST_F(SessionIntentTest, AHoldKeepsStallsUncountedUnshownAndWithoutFallback)
{
    KRPlaybackSessionTesting::startCandidates(*session, {k720}, 80, 0);
    ScriptedMedia* playing = media();
    playing->becomePlayable();
    session->setHold(KRPlaybackSession::HoldComposer, true);
    ASSERT_EQ(session->state(), KRPlaybackSession::State::Paused);
    bufferingTexts.clear();
    const int bufferingPauses = int(playing->bufferingPauses.size());
    // A paused player's buffer runs low and fills again, three times within a minute.
    for (int i = 0; i < 3; ++i) {
        MainClock::advanceForTesting(2.0);
        playing->stall();
        Q_EMIT playing->pictureStarved();
        MainClock::advanceForTesting(1.0);
        playing->becomePlayable(KRPlaybackStatePaused);
    }
    MainClock::advanceForTesting(1.0);
    EXPECT_EQ(session->stallCount(), 0);
    EXPECT_FALSE(bufferingTexts.contains(QStringLiteral("网络较慢，正在缓冲…")));
    EXPECT_TRUE(fallbacks.isEmpty());
    EXPECT_FALSE(session->isSwitchingQuality());
    EXPECT_EQ(playing->bufferingPauses.size(), bufferingPauses);
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Paused);
    EXPECT_FALSE(log().contains(QStringLiteral("[playback-stall]")));
    // Closed, the composer plays it, and a stall counts again.
    session->setHold(KRPlaybackSession::HoldComposer, false);
    playing->stall();
    EXPECT_EQ(session->stallCount(), 1);
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Stalled);
    EXPECT_TRUE(bufferingTexts.contains(QStringLiteral("网络较慢，正在缓冲…")));
}

TEST_F(SessionIntentTest, AHoldPressDuringAStallKeepsTheSessionStalled)
{
    ScriptedMedia* playing = playAt720();
    playing->stall();
    playing->state = KRPlaybackStatePaused;
    ASSERT_EQ(session->state(), KRPlaybackSession::State::Stalled);
    session->beginHold();
    EXPECT_FLOAT_EQ(playing->rate, KRPlaybackSession::kHoldRate);
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Stalled) << "still waiting on the network";
    session->endHold();
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Stalled);
    // Data comes: the stall recovery plays it.
    playing->becomePlayable();
    MainClock::advanceForTesting(1.0);
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Playing);
}

// ---- what the life cycle leaves for the next tap ----

TEST_F(SessionIntentTest, ANewStartAfterAPulledHeadphonePlaysItsAnswer)
{
    playAt720();
    routeChanges(KRPlaybackLifecycle::kRouteOldDeviceUnavailable);
    ASSERT_TRUE(session->isHeld(KRPlaybackSession::HoldRouteLost));
    keepPartOnDevice();
    session->startPart(64, 0);
    ScriptedMedia* kept = media();
    ASSERT_EQ(kept->sound, QUrl(QStringLiteral("file:///kept/part.mp4")));
    kept->becomePlayable();
    EXPECT_TRUE(session->playsNow());
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Playing);
    EXPECT_EQ(kept->pauses, 0);
}

TEST_F(SessionIntentTest, AfterTheBackgroundAndTheReturnAnUnaskedPauseIsRetriedAgain)
{
    ScriptedMedia* playing = playAt720();
    enterBackground(false);
    becomeActive(false);
    ASSERT_TRUE(session->playsNow());
    ASSERT_FALSE(life()->isInTransition());
    const int plays = playing->plays;
    // The player pauses by itself, its media at hand.
    playing->state = KRPlaybackStatePaused;
    MainClock::advanceForTesting(2.0);
    EXPECT_GT(playing->plays, plays);
    EXPECT_GE(session->unaskedPauseRetries(), 1);
    EXPECT_TRUE(log().contains(QStringLiteral("[unexpected-pause-retry] attempt=1")));
}

// While the screen's interface turns, the tick tells nothing and watches no pause: a player
// that stops then is neither observed nor retried. Once the turn has settled the watch starts
// afresh, and its first retry waits its whole delay from there.
TEST_F(SessionIntentTest, APauseSeenWhileTheInterfaceTurnsIsWatchedOnlyOnceTheTurnHasSettled)
{
    ScriptedMedia* playing = playAt720();
    int told = 0;
    QObject::connect(session.get(), &KRPlaybackSession::progressed, [&told] { ++told; });
    MainClock::advanceForTesting(0.5);
    ASSERT_GT(told, 0);
    const int plays = playing->plays;
    const qsizetype mark = log().size();
    const auto since = [&] { return log().mid(mark); };

    session->setRotating(true);
    told = 0;
    playing->state = KRPlaybackStatePaused;
    MainClock::advanceForTesting(2.0);
    EXPECT_EQ(told, 0);
    EXPECT_EQ(playing->plays, plays);
    EXPECT_EQ(session->unaskedPauseRetries(), 0);
    EXPECT_FALSE(since().contains(QStringLiteral("[unexpected-pause-observed]")));
    EXPECT_TRUE(session->isExpectedToPlay());

    session->setRotating(false);
    const double settled = MainClock::now();
    for (int i = 0; i < 40 && playing->plays == plays; ++i)
        MainClock::advanceForTesting(0.05);
    ASSERT_GT(playing->plays, plays);
    EXPECT_GE(MainClock::now() - settled, KRPlaybackSession::kFirstRetryDelay);
    EXPECT_GT(told, 0);
    const qsizetype observed = since().indexOf(QStringLiteral("[unexpected-pause-observed]"));
    ASSERT_GE(observed, 0);
    EXPECT_GT(since().indexOf(QStringLiteral("[unexpected-pause-retry] attempt=1")), observed);
}

// A quality switch has what plays in hand until it ends. The stream that plays on while the
// new one is made ready stops by itself: nothing retries it or gives it up, so no "paused, tap
// play" is told that the switch's end would overturn. The switch times out, puts the stream
// back with the intent it kept, and only then is a pause watched again, afresh.
TEST_F(SessionIntentTest, APauseDuringAQualitySwitchIsLeftToTheSwitchAndWatchedAgainOnceItIsOver)
{
    int givenUp = 0;
    QObject::connect(session.get(), &KRPlaybackSession::unaskedPauseGivenUp, [&givenUp] { ++givenUp; });
    ScriptedMedia* playing = playAt360();
    MainClock::advanceForTesting(0.5);
    openSwitchTo720();
    answerResolve();
    ASSERT_EQ(session->qualitySwitch()->phase(), KRQualitySwitchTransaction::kPhaseLoading);
    ASSERT_EQ(playing->stagedURL, QUrl(k720));
    const int plays = playing->plays;
    const qsizetype mark = log().size();
    const auto since = [&] { return log().mid(mark); };

    playing->state = KRPlaybackStatePaused;
    MainClock::advanceForTesting(KRPlaybackSession::kGiveUpAfter + 2.0);
    EXPECT_TRUE(session->isSwitchingQuality());
    EXPECT_EQ(playing->plays, plays);
    EXPECT_EQ(session->unaskedPauseRetries(), 0);
    EXPECT_EQ(givenUp, 0);
    EXPECT_TRUE(session->isExpectedToPlay());
    EXPECT_FALSE(since().contains(QStringLiteral("[unexpected-pause-observed]")));

    // The new stream never becomes ready: the watchdog ends the switch, which puts the stream
    // that kept its place back as it meant it, playing.
    for (int i = 0; i < 800 && session->isSwitchingQuality(); ++i)
        MainClock::advanceForTesting(0.05);
    ASSERT_FALSE(session->isSwitchingQuality());
    EXPECT_TRUE(statuses.contains(QStringLiteral("720P 切换超时 · 已恢复 360P"))) << statuses.join(QLatin1Char('|')).toStdString();
    EXPECT_GT(playing->plays, plays);
    EXPECT_TRUE(session->isExpectedToPlay());
    EXPECT_EQ(givenUp, 0);
    EXPECT_FALSE(since().contains(QStringLiteral("[unexpected-pause-observed]")));

    // Still stopped, it is watched from here, and retried after the whole delay.
    const double over = MainClock::now();
    const int restored = playing->plays;
    for (int i = 0; i < 40 && playing->plays == restored; ++i)
        MainClock::advanceForTesting(0.05);
    ASSERT_GT(playing->plays, restored);
    EXPECT_GE(MainClock::now() - over, KRPlaybackSession::kFirstRetryDelay);
    const qsizetype observed = since().indexOf(QStringLiteral("[unexpected-pause-observed]"));
    ASSERT_GE(observed, 0);
    EXPECT_GT(since().indexOf(QStringLiteral("[unexpected-pause-retry] attempt=1")), observed);
    EXPECT_GT(observed, since().indexOf(QStringLiteral("[quality-switch-rollback-ready]")));
}

// A tap during an audio interruption turns over only what its end will do.
TEST_F(SessionIntentTest, ATapDuringAnInterruptionOnlyTurnsOverWhatItsEndDoes)
{
    ScriptedMedia* playing = playAt720();
    interruptionBegins();
    ASSERT_TRUE(life()->resumesAfterInterruption());
    const int plays = playing->plays;
    // Paused during the call: its end leaves it paused.
    session->togglePlayback();
    EXPECT_FALSE(session->isExpectedToPlay());
    EXPECT_FALSE(life()->resumesAfterInterruption());
    EXPECT_TRUE(log().contains(QStringLiteral("[playback-intent-during-interruption] resume=NO dash=NO")));
    interruptionEnds(1u);
    MainClock::advanceForTesting(1.0);
    EXPECT_EQ(playing->plays, plays);
    EXPECT_FALSE(session->playsNow());
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Paused);
    playing->state = KRPlaybackStatePaused;

    // Played during the next call: nothing plays until its end, which plays.
    interruptionBegins();
    EXPECT_FALSE(life()->resumesAfterInterruption());
    session->togglePlayback();
    EXPECT_TRUE(session->isExpectedToPlay());
    EXPECT_TRUE(life()->resumesAfterInterruption());
    EXPECT_TRUE(log().contains(QStringLiteral("[playback-intent-during-interruption] resume=YES dash=NO")));
    EXPECT_EQ(playing->plays, plays) << "the call goes on";
    EXPECT_FALSE(session->playsNow());
    interruptionEnds(1u);
    EXPECT_GT(playing->plays, plays);
    EXPECT_TRUE(session->playsNow());
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Playing);
}

TEST_F(SessionIntentTest, ATapDuringAnInterruptionInTheBackgroundListensOrWaitsAsTheUserChose)
{
    ScriptedMedia* playing = playAt720();
    session->pause();
    playing->state = KRPlaybackStatePaused;
    enterBackground(true);
    interruptionBegins();
    session->togglePlayback();
    EXPECT_TRUE(life()->isListeningInBackground());
    EXPECT_FALSE(life()->resumesAfterForeground());
    session->togglePlayback();
    EXPECT_FALSE(life()->isListeningInBackground());
    EXPECT_FALSE(life()->resumesAfterForeground());
    EXPECT_FALSE(session->isExpectedToPlay());
    // Without listening, a play waits for the foreground.
    enterBackground(false);
    session->togglePlayback();
    EXPECT_FALSE(life()->isListeningInBackground());
    EXPECT_TRUE(life()->resumesAfterForeground());
    EXPECT_FALSE(session->playsNow());
}

// The screen cannot show the player made ready off screen and stops: the switch's hold goes
// with it, and the next start plays.
TEST_F(SessionIntentTest, AStopDuringAPrewarmedPlayersInstallLeavesNoHoldForTheNextStart)
{
    KRPlaybackSessionTesting::startCandidates(*session, {k720}, 64, 4.0);
    media()->becomePlayable();
    int replacements = 0;
    QObject::connect(session.get(), &KRPlaybackSession::mediaReplaced, session.get(), [&] {
        ++replacements;
        session->stop();
    });
    session->switchToQuality(80, QStringLiteral("1080P"));
    ASSERT_TRUE(testsupport::waitUntil([&] {
        QCoreApplication::processEvents();
        return medias.size() == 2;
    }));
    media()->becomePlayable(KRPlaybackStatePaused);
    MainClock::advanceForTesting(0.1);
    MainClock::advanceForTesting(0.1);
    ASSERT_EQ(replacements, 1);
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Idle);
    EXPECT_FALSE(session->isSwitchingQuality());
    EXPECT_EQ(session->holds(), 0u);
    KRPlaybackSessionTesting::startCandidates(*session, {k360}, 16, 0);
    ScriptedMedia* next = media();
    next->becomePlayable();
    EXPECT_TRUE(session->playsNow());
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Playing);
    EXPECT_EQ(next->pauses, 0);
}

// The screen lets the stream going back in go at once: no start reaches that player.
TEST_F(SessionIntentTest, AStopFromInsideAReplacementStartsNothingOnThePlayerLetGo)
{
    ScriptedMedia* playing = commitSwitchTo720();
    QPointer<ScriptedMedia> replaced;
    QObject::connect(session.get(), &KRPlaybackSession::mediaReplaced, session.get(), [&](KRPlaybackMedia* media) {
        replaced = static_cast<ScriptedMedia*>(media);
        session->stop();
    });
    Q_EMIT playing->finished(1);
    ASSERT_TRUE(replaced);
    EXPECT_TRUE(replaced->stopped);
    EXPECT_EQ(replaced->callsAfterStop, 0);
    EXPECT_LT(replaced->startedAt, 0);
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Idle);
    EXPECT_FALSE(KRPlaybackAudioSession::sharedSession()->isPlaybackActive());
}

// ---- the names the audio session is told ----

TEST_F(SessionIntentTest, TheOfflinePlayerNamesItselfToTheAudioSession)
{
    session->setOfflinePlayer(true);
    ScriptedMedia* playing = playAt720();
    EXPECT_EQ(activations(QStringLiteral("offline-player-start")), 1);
    EXPECT_EQ(activations(QStringLiteral("online-player-start")), 0);
    playing->state = KRPlaybackStatePaused;
    MainClock::advanceForTesting(1.0);
    EXPECT_GE(activations(QStringLiteral("offline-unexpected-pause-recovery")), 1);
    EXPECT_EQ(activations(QStringLiteral("unexpected-pause-recovery")), 0);
}

} // namespace
