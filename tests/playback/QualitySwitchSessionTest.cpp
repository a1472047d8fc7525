// A quality switch of a playing session against a scripted player on the manual clock: the
// transaction's order, its watchdog, the fall back to the stream that kept playing, the
// rollback to the previous stream, and the finishes kept back while a player is replaced.
#include "playback/KRPlaybackSession.h"

#include "PlaybackTesting.h"
#include "ScriptedMedia.h"
#include "SwitchSessionTesting.h"
#include "account/AccountClientTesting.h"
#include "model/KRPlayInfo.h"
#include "model/KRTolerantValue.h"
#include "model/KRVideo.h"
#include "platform/device/BackgroundTask.h"
#include "platform/foundation/MainClock.h"
#include "playback/KRBackgroundContinuation.h"
#include "playback/KRPlaybackLifecycle.h"
#include "playback/KRQualitySwitchTransaction.h"
#include "store/KRLocalHistoryStore.h"
#include "store/KRPreferences.h"
#include "support/AccountFixtures.h"
#include "support/PlaybackFixtures.h"
#include "support/ServiceFixtures.h"
#include "support/TestSupport.h"

#include <QPointer>
#include <QRegularExpression>

using platform::MainClock;
using playbacktest::ScriptedMedia;
using playbacktest::diagnosticsLog;

namespace {

using playbacktest::k360;
using playbacktest::k720;
using playbacktest::k720Backup;

// A DASH pair of 720P and its sound, as the service lists it.
std::optional<KRPlayInfo> dashInfo()
{
    const auto stream = [](qint64 id, const QString& codecs, const QString& url) {
        return QVariantMap{{QStringLiteral("id"), id}, {QStringLiteral("codecid"), 7}, {QStringLiteral("codecs"), codecs},
                           {QStringLiteral("bandwidth"), 1000}, {QStringLiteral("base_url"), url}};
    };
    const QVariant information = QVariantMap{
        {QStringLiteral("dash"), QVariantMap{{QStringLiteral("video"), QVariantList{stream(64, QStringLiteral("avc1.64001F"), QStringLiteral("https://cdn.test/v-720.m4s"))}},
                                             {QStringLiteral("audio"), QVariantList{stream(30280, QStringLiteral("mp4a.40.2"), QStringLiteral("https://cdn.test/a.m4s"))}}}}};
    return KRPlayInfo::fromPlayInformation(information);
}

class QualitySwitchSessionTest : public playbacktest::SwitchSessionTest {
protected:
    // Opens a switch to 720P and answers its resolve.
    void switchTo720(const QStringList& answer = {k720, k720Backup})
    {
        generation = session->switchToQuality(64, QStringLiteral("720P"));
        QCoreApplication::processEvents();
        answerResolve(answer);
    }
    // Each event was logged, each after the one before.
    void expectInOrder(const QStringList& events) const
    {
        for (qsizetype i = 0; i < events.size(); ++i) {
            EXPECT_GE(at(events[i]), 0) << events[i].toStdString();
            if (i > 0) {
                EXPECT_GT(at(events[i]), at(events[i - 1])) << events[i].toStdString();
            }
        }
    }

    int generation = 0;
};

TEST_F(QualitySwitchSessionTest, AProgressiveSwitchStagesCommitsAndFinishesSilentlyInOrder)
{
    ScriptedMedia* playing = playAt360();
    switchTo720();
    EXPECT_EQ(asked, QList<int>{64});
    EXPECT_EQ(statuses.value(0), QStringLiteral("~正在获取 720P 播放地址…"));
    EXPECT_EQ(titles.value(0), QStringLiteral("720P"));
    // The new stream is readied beside the playing one, at its time.
    EXPECT_EQ(playing->stagedURL, QUrl(k720));
    EXPECT_DOUBLE_EQ(playing->stagedAt, 5.0);
    EXPECT_EQ(medias.size(), 1);
    playing->time = 5.4;
    playing->finishStaging(true);
    EXPECT_EQ(playing->commits, 1);
    EXPECT_EQ(session->quality(), 64);
    EXPECT_TRUE(session->isSwitchingQuality());
    // The committed player reports itself; the check waits 0.3 s for a reset it may show.
    playing->becomePlayable();
    MainClock::advanceForTesting(0.12);
    EXPECT_TRUE(session->isSwitchingQuality());
    MainClock::advanceForTesting(0.25);
    EXPECT_FALSE(session->isSwitchingQuality());
    EXPECT_EQ(titles.last(), QStringLiteral("-"));
    EXPECT_EQ(statuses.last(), QStringLiteral("~")) << "the phase's status is taken away";
    EXPECT_EQ(session->candidates(), (QStringList{k720, k720Backup}));
    MainClock::advanceForTesting(0.3);
    const QString log = diagnosticsLog();
    const QList<qsizetype> order{at(QStringLiteral("[quality-switch-stall-isolated]")), at(QStringLiteral("[quality-switch-phase] generation=1 cid=")),
                                 at(QStringLiteral("[quality-switch-progressive-candidates-staged] generation=1 count=2 primaryHost=cdn.test")),
                                 at(QStringLiteral("[quality-switch-finish-suppression-begin]")),
                                 at(QStringLiteral("[quality-switch-progressive-candidates-committed] generation=1 count=2 index=0 host=cdn.test")),
                                 at(QStringLiteral("[quality-switch-finish-suppression-end] replacement=1 delayed=YES"))};
    for (qsizetype i = 0; i < order.size(); ++i) {
        EXPECT_GE(order[i], 0) << i;
        if (i > 0) {
            EXPECT_GT(order[i], order[i - 1]) << i;
        }
    }
    EXPECT_TRUE(log.contains(QRegularExpression(QStringLiteral("\\[quality-switch-phase\\] generation=1 cid=\\d+ phase=1 pending=64 actual=16"))));
    EXPECT_FALSE(playing->stopped);
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Playing);
}

TEST_F(QualitySwitchSessionTest, AResolveErrorOrAStagingErrorGoesOnAtTheOldQuality)
{
    ScriptedMedia* playing = playAt360();
    switchTo720({});
    EXPECT_FALSE(session->isSwitchingQuality());
    EXPECT_EQ(statuses.last(), QStringLiteral("720P 切换失败 · 继续播放 360P"));
    EXPECT_EQ(session->quality(), 16);

    // A staging error: the stream that played never stopped.
    switchTo720();
    playing->finishStaging(false);
    EXPECT_FALSE(session->isSwitchingQuality());
    EXPECT_EQ(statuses.last(), QStringLiteral("720P 切换失败 · 继续播放 360P"));
    EXPECT_EQ(playing->commits, 0);
    EXPECT_FALSE(playing->stopped);
    EXPECT_EQ(playing->contentURL(), QUrl(k360));
    EXPECT_EQ(medias.size(), 1);
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Playing);
}

TEST_F(QualitySwitchSessionTest, TheWatchdogEndsAResolveThatNeverAnswersAndIgnoresTheLateReply)
{
    playAt360();
    generation = session->switchToQuality(64, QStringLiteral("720P"));
    MainClock::advanceForTesting(19.9);
    EXPECT_TRUE(session->isSwitchingQuality());
    MainClock::advanceForTesting(0.2);
    EXPECT_TRUE(diagnosticsLog().contains(QRegularExpression(QStringLiteral("\\[quality-switch-watchdog\\] generation=1 phase=1 pending=64 elapsed=20\\.\\d+ seamless=NO"))));
    EXPECT_FALSE(session->isSwitchingQuality());
    EXPECT_EQ(statuses.last(), QStringLiteral("720P 切换超时 · 继续播放 360P"));
    ASSERT_TRUE(pendingResolve);
    pendingResolve({k720}, 64);
    EXPECT_TRUE(media()->stagedURL.isEmpty());
    EXPECT_EQ(session->quality(), 16);
}

TEST_F(QualitySwitchSessionTest, AWatchdogOfAnEndedOrReplacedTransactionDoesNothing)
{
    playAt360();
    const int first = session->switchToQuality(64, QStringLiteral("720P"));
    // Replaced by a second switch: the first's budget is gone with it.
    MainClock::advanceForTesting(10);
    const int second = session->switchToQuality(32, QStringLiteral("480P"));
    EXPECT_NE(first, second);
    MainClock::advanceForTesting(10.5);
    EXPECT_TRUE(session->isSwitchingQuality());
    EXPECT_FALSE(diagnosticsLog().contains(QStringLiteral("[quality-switch-watchdog]")));
    // Ended before its budget: nothing fires later.
    ASSERT_TRUE(pendingResolve);
    pendingResolve({}, 32);
    const QString before = diagnosticsLog();
    const QStringList shown = statuses;
    MainClock::advanceForTesting(70);
    EXPECT_FALSE(diagnosticsLog().contains(QStringLiteral("[quality-switch-watchdog]")));
    EXPECT_EQ(diagnosticsLog(), before);
    EXPECT_EQ(statuses, shown);
}

TEST_F(QualitySwitchSessionTest, ANewStreamBreakingAfterTheCommitRollsBackToThePreviousOne)
{
    ScriptedMedia* playing = playAt360();
    QList<double> rolledBack;
    QObject::connect(session.get(), &KRPlaybackSession::qualitySwitchRolledBack, [&](double time) { rolledBack.append(time); });
    switchTo720();
    playing->time = 6.0;
    playing->finishStaging(true);
    // The new stream breaks while it takes over: its finish is kept, and the switch rolls back.
    Q_EMIT playing->finished(1);
    EXPECT_TRUE(statuses.contains(QStringLiteral("~切换失败，正在恢复 360P…")));
    EXPECT_EQ(titles.last(), QStringLiteral("360P"));
    ASSERT_EQ(medias.size(), 2);
    ScriptedMedia* restored = media();
    EXPECT_EQ(restored->contentURL(), QUrl(k360));
    EXPECT_NEAR(restored->startedAt, 6.0, 0.01);
    EXPECT_TRUE(playing->stopped);
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Buffering);
    // Ready a little past the kept time: the completion seeks it back there all the same.
    restored->time = 6.8;
    restored->becomePlayable();
    MainClock::advanceForTesting(0.4);
    EXPECT_FALSE(session->isSwitchingQuality());
    EXPECT_EQ(restored->seeks, QList<double>{6.0});
    // What is drawn over the picture starts again where the stream was put back.
    EXPECT_EQ(rolledBack, QList<double>{6.0});
    EXPECT_TRUE(diagnosticsLog().contains(QRegularExpression(QStringLiteral("\\[quality-switch-rollback-ready\\] generation=1 cid=\\d+ dash=NO elapsed=[0-9.]+ time=6\\.000 expectedPlay=YES title=360P reason=新清晰度切换失败"))));
    EXPECT_EQ(statuses.last(), QStringLiteral("新清晰度切换失败 · 已恢复 360P"));
    EXPECT_EQ(session->quality(), 16);
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Playing);
    // The error of the replaced player ended nothing.
    EXPECT_EQ(ends, 0);
    EXPECT_TRUE(rollbackFailures.isEmpty());
}

TEST_F(QualitySwitchSessionTest, WhenThePreviousStreamIsGoneTooTheTapRetriesFromTheKeptTime)
{
    ScriptedMedia* playing = playAt360();
    switchTo720();
    playing->time = 7.0;
    playing->finishStaging(true);
    Q_EMIT playing->finished(1);
    ASSERT_EQ(medias.size(), 2);
    Q_EMIT media()->finished(1);
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral("[quality-switch-rollback-failed] generation=1")));
    EXPECT_FALSE(session->isSwitchingQuality());
    ASSERT_EQ(rollbackFailures.size(), 1);
    EXPECT_NEAR(rollbackFailures.first(), 7.0, 0.01);
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Interrupted);
    EXPECT_EQ(session->media(), nullptr);
    EXPECT_NEAR(session->interruptedAt(), 7.0, 0.01);
}

TEST_F(QualitySwitchSessionTest, AnEndKeptDuringTheReplacementIsDeliveredOnlyAtTheRealEnd)
{
    // In the last second: the end comes while the new player takes over.
    ScriptedMedia* playing = playAt360();
    playing->time = 311.4;
    switchTo720();
    playing->finishStaging(true);
    playing->becomePlayable(KRPlaybackStatePaused);
    playing->time = 312;
    Q_EMIT playing->finished(0);
    EXPECT_EQ(ends, 0);
    MainClock::advanceForTesting(0.8);
    EXPECT_TRUE(diagnosticsLog().contains(QRegularExpression(
        QStringLiteral("\\[quality-switch-deferred-finish-checked\\] replacement=1 reason=0 healthy=YES replay=YES load=3 playback=2 time=312\\.000"))));
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Ended);

    // An end while the new player still plays is dropped.
    KRPlaybackSessionTesting::startCandidates(*session, {k360}, 16, 100);
    playing = media();
    playing->becomePlayable();
    switchTo720();
    playing->finishStaging(true);
    Q_EMIT playing->finished(0);
    MainClock::advanceForTesting(0.8);
    EXPECT_TRUE(diagnosticsLog().contains(QRegularExpression(QStringLiteral("\\[quality-switch-deferred-finish-checked\\] replacement=\\d+ reason=0 healthy=YES replay=NO load=3 playback=1"))));
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Playing);
}

TEST_F(QualitySwitchSessionTest, ThePartsEndWhileTheNewStreamIsStagedEndsTheSwitch)
{
    ScriptedMedia* playing = playAt360();
    switchTo720();
    ASSERT_FALSE(playing->stagedURL.isEmpty());
    playing->time = 312;
    Q_EMIT playing->finished(0);
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Ended);
    EXPECT_FALSE(session->isSwitchingQuality());
    EXPECT_TRUE(playing->stagedURL.isEmpty());
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral("[quality-prewarm-abort] generation=1 phase=2 reason=playback-ended")));
    EXPECT_EQ(titles.last(), QStringLiteral("-"));
    // Its budget runs out with nothing open: no failure, nothing put back.
    const qsizetype made = medias.size();
    MainClock::advanceForTesting(70);
    EXPECT_FALSE(diagnosticsLog().contains(QStringLiteral("[quality-switch-watchdog]")));
    EXPECT_EQ(medias.size(), made);
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Ended);
    EXPECT_EQ(session->quality(), 16);
}

TEST_F(QualitySwitchSessionTest, TheThirdStallSwitchesTo360POnceWithoutARestart)
{
    KRPlaybackSessionTesting::startCandidates(*session, {k720}, 64, 0);
    ScriptedMedia* playing = media();
    playing->becomePlayable();
    for (int i = 0; i < 3; ++i) {
        MainClock::advanceForTesting(5);
        playing->stall();
        playing->becomePlayable();
        MainClock::advanceForTesting(1.0);
    }
    EXPECT_EQ(diagnosticsLog().count(QStringLiteral("[playback-stall-fallback]")), 1);
    ASSERT_TRUE(session->qualitySwitch()->isOpen());
    EXPECT_TRUE(session->qualitySwitch()->isAutomaticFallback());
    EXPECT_EQ(session->qualitySwitch()->pendingQuality(), 16);
    EXPECT_EQ(asked, QList<int>{16});
    pendingResolve({k360}, 16);
    playing->finishStaging(true);
    playing->becomePlayable();
    // More stalls of the stream it replaced ask nothing more.
    playing->stall();
    playing->becomePlayable();
    MainClock::advanceForTesting(1.0);
    EXPECT_EQ(session->quality(), 16);
    EXPECT_EQ(medias.size(), 1) << "the player was never torn down";
    EXPECT_EQ(diagnosticsLog().count(QStringLiteral("[playback-stall-fallback]")), 1);
    EXPECT_EQ(asked, QList<int>{16});
}

TEST_F(QualitySwitchSessionTest, TheUsersSeekAndPauseDuringASwitchAreWhatTheNewStreamTakes)
{
    ScriptedMedia* playing = playAt360();
    generation = session->switchToQuality(64, QStringLiteral("720P"));
    session->seek(40);
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral("[quality-switch-seek-intent] generation=1 phase=1 time=40.000 seamless=NO source=controls-seek")));
    session->pause();
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral("[quality-switch-playback-intent] generation=1 phase=1 playing=NO seamless=NO")));
    // The player has not reached the seek yet: the recorded time stands.
    playing->time = 12;
    QCoreApplication::processEvents();
    pendingResolve({k720}, 64);
    EXPECT_DOUBLE_EQ(playing->stagedAt, 40.0);
}

TEST_F(QualitySwitchSessionTest, ADASHTargetIsPrewarmedOffScreenSeekedToTheSoundAndInstalled)
{
    KRPlaybackSessionTesting::startCandidates(*session, {k720}, 64, 4.0);
    ScriptedMedia* playing = media();
    playing->becomePlayable();
    QList<KRPlaybackMedia*> installed;
    QObject::connect(session.get(), &KRPlaybackSession::mediaReplaced, [&](KRPlaybackMedia* m) { installed.append(m); });
    session->switchToQuality(80, QStringLiteral("1080P"));
    ASSERT_TRUE(testsupport::waitUntil([&] {
        QCoreApplication::processEvents();
        return medias.size() == 2;
    }));
    ScriptedMedia* prewarm = media();
    EXPECT_EQ(prewarm->picture, play.dashVideoURL(80));
    EXPECT_EQ(prewarm->sound, play.dashAudioURL());
    EXPECT_DOUBLE_EQ(prewarm->prewarmedAt, 4.0);
    EXPECT_TRUE(installed.isEmpty()) << "made ready off screen";
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral("[quality-prewarm-begin]")));
    // Ready: it is seeked to where the sound has got to meanwhile, then installed.
    playing->time = 6.5;
    prewarm->seekInFlight = true;
    prewarm->becomePlayable(KRPlaybackStatePaused);
    MainClock::advanceForTesting(0.1);
    EXPECT_TRUE(installed.isEmpty());
    prewarm->seekInFlight = false;
    MainClock::advanceForTesting(0.1);
    EXPECT_EQ(prewarm->seeks, QList<double>{6.5});
    EXPECT_EQ(session->qualitySwitch()->phase(), KRQualitySwitchTransaction::kPhaseSeeking);
    MainClock::advanceForTesting(0.1);
    ASSERT_EQ(installed, QList<KRPlaybackMedia*>{prewarm});
    EXPECT_TRUE(playing->stopped);
    EXPECT_EQ(session->media(), prewarm);
    EXPECT_TRUE(session->playsPair());
    EXPECT_EQ(session->quality(), 80);
    EXPECT_GE(prewarm->plays, 1);
    EXPECT_FALSE(session->isSwitchingQuality());
}

TEST_F(QualitySwitchSessionTest, MemoryPressureLetsAPrewarmGoAndKeepsTheQuality)
{
    KRPlaybackSessionTesting::startCandidates(*session, {k720}, 64, 4.0);
    ScriptedMedia* playing = media();
    playing->becomePlayable();
    // Nothing readied yet: a memory warning leaves the switch alone.
    session->switchToQuality(80, QStringLiteral("1080P"));
    session->qualitySwitch()->relieveMemoryPressure();
    EXPECT_TRUE(session->isSwitchingQuality());
    ASSERT_TRUE(testsupport::waitUntil([&] {
        QCoreApplication::processEvents();
        return medias.size() == 2;
    }));
    QPointer<ScriptedMedia> prewarm = media();
    session->qualitySwitch()->relieveMemoryPressure();
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral("[quality-prewarm-abort] generation=1 reason=memory-warning")));
    EXPECT_FALSE(session->isSwitchingQuality());
    EXPECT_EQ(statuses.last(), QStringLiteral("内存压力较高，已保持原清晰度 · 继续播放 720P"));
    EXPECT_TRUE(!prewarm || prewarm->stopped);
    EXPECT_EQ(session->media(), playing);
    EXPECT_EQ(session->quality(), 64);
}

TEST_F(QualitySwitchSessionTest, AHeldDASHAnswerTimesOutAndTheReleasedReplyIsIgnored)
{
    play.setQualityFault(80, testsupport::PlaybackFixtures::QualityFault::Held);
    KRPlaybackSessionTesting::startCandidates(*session, {k720}, 64, 4.0);
    media()->becomePlayable();
    session->switchToQuality(80, QStringLiteral("1080P"));
    QCoreApplication::processEvents();
    ASSERT_TRUE(testsupport::waitUntil([&] { return play.heldReplyCount() == 1; }));
    MainClock::advanceForTesting(20.1);
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral("[quality-switch-watchdog] generation=1 phase=1 pending=80")));
    EXPECT_EQ(statuses.last(), QStringLiteral("1080P 切换超时 · 继续播放 720P"));
    play.releaseHeldReplies();
    ASSERT_TRUE(testsupport::waitUntil([&] { return play.heldReplyCount() == 0; }));
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents();
        MainClock::advanceForTesting(0.1);
    }
    EXPECT_EQ(medias.size(), 1);
    EXPECT_EQ(session->quality(), 64);
}

TEST_F(QualitySwitchSessionTest, AServerErrorOfTheTargetGoesOnUninterrupted)
{
    play.setQualityFault(80, testsupport::PlaybackFixtures::QualityFault::ServerError);
    session->setResolver({});
    KRPlaybackSessionTesting::startCandidates(*session, {k720}, 64, 4.0);
    ScriptedMedia* playing = media();
    playing->becomePlayable();
    session->switchToQuality(80, QStringLiteral("1080P"));
    ASSERT_TRUE(testsupport::waitUntil([&] {
        QCoreApplication::processEvents();
        return !session->isSwitchingQuality();
    }));
    EXPECT_EQ(statuses.last(), QStringLiteral("1080P 切换失败 · 继续播放 720P"));
    EXPECT_EQ(medias.size(), 1);
    EXPECT_FALSE(playing->stopped);
    EXPECT_EQ(playing->pauses, 0);
}

// A failed switch leaves a pair that was short of data: it tries its gate again, and waits for
// its data with the switch's reason only while it is still short of it.
TEST_F(QualitySwitchSessionTest, AFailedSwitchRestartsAStarvedPairAndPausesItOnlyWhileItStaysStarved)
{
    const std::optional<KRPlayInfo> info = dashInfo();
    ASSERT_TRUE(info.has_value());
    struct Case {
        const char* name;
        bool refilling, stalled, opensGate;
        QStringList pausesAfter;
        QString status;
    };
    const QString starved = QStringLiteral("480P 切换失败 · 720P 网络缓冲中");
    const QList<Case> cases{
        {"refilling, still short", true, false, false, {QStringLiteral("quality-switch-resolve-failed")}, starved},
        {"refilling, data came meanwhile", true, false, true, {}, starved},
        {"sound stalled", false, true, false, {QStringLiteral("quality-switch-resolve-failed")}, starved},
        {"healthy", false, false, false, {}, QStringLiteral("480P 切换失败 · 继续播放 720P")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(KRPlaybackSessionTesting::startDASH(*session, *info, 64, 4.0));
        ScriptedMedia* pair = media();
        ASSERT_TRUE(session->playsPair());
        pair->becomePlayable();
        pair->refilling = c.refilling;
        pair->opensGateOnAttempt = c.opensGate;
        pair->bufferingPauses.clear();
        const int attemptsBefore = pair->startAttempts;
        session->switchToQuality(32, QStringLiteral("480P"));
        QCoreApplication::processEvents();
        ASSERT_TRUE(pendingResolve);
        if (c.stalled)
            pair->load = KRLoadStateStalled;
        auto done = std::move(pendingResolve);
        pendingResolve = nullptr;
        done({}, 32);
        EXPECT_FALSE(session->isSwitchingQuality());
        EXPECT_EQ(statuses.last(), c.status);
        EXPECT_EQ(pair->startAttempts - attemptsBefore, c.status == starved ? 1 : 0);
        EXPECT_EQ(pair->bufferingPauses, c.pausesAfter);
        EXPECT_FALSE(pair->stopped);
        session->stop();
    }
}

// Whatever showed over the player meanwhile, each tick tells the switch's presentation again,
// and only while the switch runs.
TEST_F(QualitySwitchSessionTest, EachTickTellsTheSwitchsPresentationWhileItRuns)
{
    playAt360();
    session->playerControlsTimerFired();
    EXPECT_TRUE(titles.isEmpty());
    session->switchToQuality(64, QStringLiteral("720P"));
    QCoreApplication::processEvents();
    ASSERT_TRUE(pendingResolve);
    const qsizetype before = titles.size();
    session->playerControlsTimerFired();
    session->playerControlsTimerFired();
    EXPECT_EQ(titles.size(), before + 2);
    EXPECT_EQ(titles.last(), QStringLiteral("720P"));
}

// While the screen's interface turns a tick still tells the switch's presentation, and only
// that: the resume time the user sought is not followed to where the player went meanwhile.
TEST_F(QualitySwitchSessionTest, WhileTheInterfaceTurnsATickTellsOnlyTheSwitchsPresentation)
{
    ScriptedMedia* playing = playAt360();
    openSwitchTo720();
    ASSERT_TRUE(pendingResolve);
    session->seek(40.0);
    ASSERT_EQ(playing->time, 40.0);
    session->setRotating(true);
    const qsizetype before = titles.size();
    // The player lands on the time sought and goes on, beyond the seek's tolerance.
    run(2.0, playing);
    EXPECT_GE(titles.size(), before + 9);
    EXPECT_EQ(titles.last(), QStringLiteral("720P"));
    answerResolve();
    EXPECT_EQ(playing->stagedAt, 40.0);
}

// An answer that comes for the switch of another part (the video moved on under it) is stale,
// even though its transaction is still the open one.
TEST_F(QualitySwitchSessionTest, AnAnswerForAnotherPartIsIgnored)
{
    ScriptedMedia* playing = playAt360();
    session->switchToQuality(64, QStringLiteral("720P"));
    QCoreApplication::processEvents();
    ASSERT_TRUE(pendingResolve);
    ASSERT_TRUE(session->isSwitchingQuality());
    session->video()->setCid(session->video()->cid() + 1);
    auto done = std::move(pendingResolve);
    pendingResolve = nullptr;
    done({k720}, 64);
    EXPECT_TRUE(playing->stagedURL.isEmpty());
    EXPECT_EQ(medias.size(), 1);
    EXPECT_EQ(session->quality(), 16);
}

// What the life cycle pauses, a DASH seek still pending does not resume: the background
// without listening, an interruption and a pulled headphone each make it stale.
TEST_F(QualitySwitchSessionTest, TheLifeCyclesPausesMakeAPendingDASHSeekStale)
{
    const std::optional<KRPlayInfo> info = dashInfo();
    ASSERT_TRUE(info.has_value());
    ASSERT_TRUE(KRPlaybackSessionTesting::startDASH(*session, *info, 64, 4.0));
    ScriptedMedia* pair = media();
    pair->becomePlayable();
    // Listening goes on, through the gate: a seek's landing resumes nothing behind its back.
    session->lifecycle()->applicationDidEnterBackgroundForPlayback(true);
    EXPECT_EQ(pair->seekResumeInvalidations, QStringList{QStringLiteral("application-did-enter-background")});
    EXPECT_TRUE(session->playsNow());
    session->lifecycle()->applicationDidBecomeActiveForPlayback(0, true);
    session->lifecycle()->applicationDidEnterBackgroundForPlayback(false);
    EXPECT_EQ(pair->seekResumeInvalidations.size(), 2);
    EXPECT_EQ(pair->seekResumeInvalidations.value(1), QStringLiteral("application-did-enter-background"));
    session->lifecycle()->applicationDidBecomeActiveForPlayback(0, false);
    session->lifecycle()->audioSessionInterruptionForPlayback(true);
    EXPECT_EQ(pair->seekResumeInvalidations.value(2), QStringLiteral("audio-interruption-began"));
    session->lifecycle()->audioSessionInterruptionForPlayback(false, 1u, 0, false);
    session->lifecycle()->audioSessionRouteChangedForPlayback(1);
    EXPECT_EQ(pair->seekResumeInvalidations.size(), 3);
    session->lifecycle()->audioSessionRouteChangedForPlayback(2);
    EXPECT_EQ(pair->seekResumeInvalidations.value(3), QStringLiteral("route-old-device-unavailable"));
    EXPECT_EQ(pair->seekResumeInvalidations.size(), 4);
}

// ---- the life cycle ----

TEST_F(QualitySwitchSessionTest, TheBackgroundPausesOrListensAndBecomingActiveRestores)
{
    ScriptedMedia* playing = playAt360();
    KRPlaybackLifecycle* life = session->lifecycle();
    life->applicationDidEnterBackgroundForPlayback(false);
    EXPECT_TRUE(life->isInBackground());
    EXPECT_TRUE(life->resumesAfterForeground());
    EXPECT_TRUE(playing->pictureSuspended);
    EXPECT_GE(playing->pauses, 1);
    // The life cycle's pause is not an unasked one: no retry while it lasts.
    const int plays = playing->plays;
    playing->state = KRPlaybackStatePaused;
    MainClock::advanceForTesting(3.0);
    EXPECT_EQ(playing->plays, plays);
    life->applicationWillEnterForegroundForPlayback();
    life->applicationDidBecomeActiveForPlayback(0, false);
    EXPECT_FALSE(life->isInBackground());
    EXPECT_FALSE(playing->pictureSuspended);
    EXPECT_GT(playing->plays, plays);
    EXPECT_TRUE(session->isExpectedToPlay());
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral("[playback-lifecycle-restored] reason=application-did-become-active resume=YES time=5.000 dash=NO state=0")));

    // Listening: the sound goes on at the hold's speed, the picture stopped.
    playing->state = KRPlaybackStatePlaying;
    session->beginHold();
    life->applicationDidEnterBackgroundForPlayback(true);
    EXPECT_TRUE(life->isListeningInBackground());
    EXPECT_TRUE(playing->pictureSuspended);
    EXPECT_FLOAT_EQ(playing->rate, 2.0f);
    EXPECT_EQ(playing->reasserts, 1);
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral("[playback-did-enter-background] listen=YES playing=YES")));
}

TEST_F(QualitySwitchSessionTest, TheBackgroundAbandonsASwitchAndKeepsTheStreamThatPlays)
{
    ScriptedMedia* playing = playAt360();
    switchTo720();
    ASSERT_FALSE(playing->stagedURL.isEmpty());
    session->lifecycle()->applicationDidEnterBackgroundForPlayback(true);
    EXPECT_FALSE(session->isSwitchingQuality());
    EXPECT_TRUE(playing->stagedURL.isEmpty());
    EXPECT_EQ(playing->stageCancels, 1);
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral("[quality-prewarm-abort] generation=1 phase=2 reason=background")));
    EXPECT_EQ(session->quality(), 16);
    EXPECT_EQ(titles.last(), QStringLiteral("-"));
}

TEST_F(QualitySwitchSessionTest, InterruptionsResumeOnlyWhatTheyPaused)
{
    ScriptedMedia* playing = playAt360();
    KRPlaybackLifecycle* life = session->lifecycle();
    // Paused by the user: the end of an interruption starts nothing.
    session->pause();
    playing->state = KRPlaybackStatePaused;
    life->audioSessionInterruptionForPlayback(true);
    EXPECT_FALSE(life->resumesAfterInterruption());
    const int plays = playing->plays;
    life->audioSessionInterruptionForPlayback(false, 1u, 0, false);
    EXPECT_EQ(playing->plays, plays);
    EXPECT_FALSE(session->isExpectedToPlay());

    // Playing: an end without options resumes; one that says not to leaves it paused.
    session->play();
    life->audioSessionInterruptionForPlayback(true);
    EXPECT_TRUE(life->isInterrupted());
    EXPECT_TRUE(life->resumesAfterInterruption());
    // The restore of becoming active waits for the interruption's end.
    life->applicationDidBecomeActiveForPlayback(0, false);
    EXPECT_FALSE(diagnosticsLog().contains(QStringLiteral("[playback-lifecycle-restored]")));
    life->audioSessionInterruptionForPlayback(false, std::nullopt, 0, false);
    EXPECT_TRUE(session->isExpectedToPlay());
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral("[playback-lifecycle-restored] reason=audio-interruption-ended resume=YES")));
    life->audioSessionInterruptionForPlayback(true);
    life->audioSessionInterruptionForPlayback(false, 0u, 0, false);
    EXPECT_FALSE(session->isExpectedToPlay());
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral("[audio-session-interruption-no-resume] systemShouldResume=NO")));
}

TEST_F(QualitySwitchSessionTest, ThePulledHeadphonePausesAndOtherRoutesOnlyRecord)
{
    ScriptedMedia* playing = playAt360();
    session->lifecycle()->audioSessionRouteChangedForPlayback(1);
    EXPECT_TRUE(session->isExpectedToPlay());
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral("[audio-session-route-changed] reason=1 expected=YES state=1")));
    const int pauses = playing->pauses;
    session->lifecycle()->audioSessionRouteChangedForPlayback(2);
    EXPECT_FALSE(session->isExpectedToPlay());
    EXPECT_EQ(playing->pauses, pauses + 1);
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Paused);
}

TEST_F(QualitySwitchSessionTest, APendingStartIsDroppedByAPulledHeadphoneOrAnInterruptionThatMayNotResume)
{
    QStringList dropped;
    QObject::connect(session.get(), &KRPlaybackSession::pendingStartDropped, [&](const QString& text) { dropped.append(text); });
    session->startPart(64, 0);
    ASSERT_EQ(session->state(), KRPlaybackSession::State::Resolving);
    session->lifecycle()->audioSessionRouteChangedForPlayback(2);
    EXPECT_EQ(dropped, QStringList{QStringLiteral("耳机已拔出，点播放继续")});
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Idle);

    session->startPart(64, 0);
    session->lifecycle()->audioSessionInterruptionForPlayback(true);
    session->lifecycle()->audioSessionInterruptionForPlayback(false, 0u, 0, false);
    EXPECT_EQ(dropped.last(), QStringLiteral("播放已暂停，点播放继续"));
    // The dropped reply installs nothing when it comes.
    for (int i = 0; i < 30; ++i) {
        QCoreApplication::processEvents();
        MainClock::advanceForTesting(0.05);
    }
    EXPECT_EQ(session->media(), nullptr);
}

TEST_F(QualitySwitchSessionTest, APartAtItsEndIsNeverStartedByTheLifeCycle)
{
    ScriptedMedia* playing = playAt360ToItsEnd();
    ASSERT_EQ(session->state(), KRPlaybackSession::State::Ended);
    const int plays = playing->plays;
    session->lifecycle()->applicationDidEnterBackgroundForPlayback(false);
    session->lifecycle()->applicationDidBecomeActiveForPlayback(0, false);
    EXPECT_EQ(playing->plays, plays);
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral("[playback-terminal-lifecycle-restore-blocked] reason=application-did-become-active ended=YES")));
}

} // namespace

// ---- the background continuation ----

namespace {

class BackgroundContinuationTest : public QualitySwitchSessionTest {
protected:
    void SetUp() override
    {
        QualitySwitchSessionTest::SetUp();
        KRPreferences::sharedPreferences().setBackgroundAudioEnabled(true);
        QObject::connect(session.get(), &KRPlaybackSession::backgroundRequestAbandoned,
                         [this](const QString& text, bool installed) { abandoned.append(text + (installed ? "/installed" : "")); });
    }
    void TearDown() override
    {
        KRPreferences::sharedPreferences().setBackgroundAudioEnabled(false);
        QualitySwitchSessionTest::TearDown();
    }
    KRBackgroundContinuation* task() const { return session->backgroundContinuation(); }
    void settle()
    {
        for (int i = 0; i < 40 && !session->media(); ++i) {
            QCoreApplication::processEvents();
            MainClock::advanceForTesting(0.05);
        }
    }
    QStringList abandoned;
};

TEST_F(BackgroundContinuationTest, AStartResolvingInTheBackgroundHoldsATaskUntilItsPlayerIsInstalled)
{
    // Nothing pending: the background alone holds no task.
    session->lifecycle()->applicationDidEnterBackgroundForPlayback(true);
    EXPECT_FALSE(task()->isHeld());
    play.setQualityFault(64, testsupport::PlaybackFixtures::QualityFault::Held);
    session->startPart(64, 0);
    ASSERT_TRUE(task()->isHeld());
    const int g = session->requestGeneration();
    EXPECT_EQ(task()->heldGeneration(), g);
    EXPECT_EQ(platform::BackgroundTask::openTaskCount(), 1);
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral("[background-continuation-task-begin] generation=%1 remaining=").arg(g)));
    // An end for another request leaves the held task alone.
    task()->endBackgroundContinuationTaskForGeneration(g + 7, QStringLiteral("stale"));
    EXPECT_TRUE(task()->isHeld());
    KR_WAIT_UNTIL(play.heldReplyCount() >= 1);
    play.releaseHeldReplies();
    KR_WAIT_UNTIL(session->media() != nullptr);
    EXPECT_FALSE(task()->isHeld());
    EXPECT_EQ(platform::BackgroundTask::openTaskCount(), 0);
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral("[background-continuation-task-end] generation=%1 reason=player-installed").arg(g)));
    // The bound passes with nothing held: nothing is abandoned.
    MainClock::advanceForTesting(31.0);
    EXPECT_TRUE(abandoned.isEmpty());
}

TEST_F(BackgroundContinuationTest, AStartThatOutlastsTheBoundOrTheSystemsTimeIsAbandonedAndItsReplyIgnored)
{
    play.setQualityFault(64, testsupport::PlaybackFixtures::QualityFault::Held);
    // Started in the foreground, still resolving when the application leaves it.
    session->startPart(64, 0);
    EXPECT_FALSE(task()->isHeld());
    session->lifecycle()->applicationDidEnterBackgroundForPlayback(true);
    ASSERT_TRUE(task()->isHeld());
    const int g = session->requestGeneration();
    KR_WAIT_UNTIL(play.heldReplyCount() >= 1);
    MainClock::advanceForTesting(29.9);
    EXPECT_TRUE(abandoned.isEmpty());
    MainClock::advanceForTesting(0.2);
    EXPECT_EQ(abandoned, QStringList{QStringLiteral("后台解析超时，点播放重试")});
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Failed);
    EXPECT_EQ(session->requestGeneration(), g + 1);
    const qsizetype aborted = at(QStringLiteral("[background-continuation-request-aborted] generation=%1 next=%2 reason=bounded-timeout").arg(g).arg(g + 1));
    const qsizetype ended = at(QStringLiteral("[background-continuation-task-end] generation=%1 reason=bounded-timeout").arg(g));
    ASSERT_GE(aborted, 0);
    EXPECT_GT(ended, aborted);
    EXPECT_EQ(platform::BackgroundTask::openTaskCount(), 0);
    // The reply let go now installs nothing.
    play.releaseHeldReplies();
    settle();
    EXPECT_EQ(session->media(), nullptr);

    // The system takes the time back before the bound.
    session->startPart(64, 0);
    ASSERT_TRUE(task()->isHeld());
    platform::BackgroundTask::expireAllForTesting();
    EXPECT_EQ(abandoned.size(), 2);
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral("[background-continuation-request-aborted] generation=%1 next=%2 reason=system-expired")
                                              .arg(g + 2)
                                              .arg(g + 3)));
    EXPECT_FALSE(task()->isHeld());
}

TEST_F(BackgroundContinuationTest, TheForegroundEndsTheTaskAndNoTaskIsTakenWithoutListening)
{
    play.setQualityFault(64, testsupport::PlaybackFixtures::QualityFault::Held);
    session->lifecycle()->applicationDidEnterBackgroundForPlayback(true);
    session->startPart(64, 0);
    ASSERT_TRUE(task()->isHeld());
    const int g = session->requestGeneration();
    session->lifecycle()->applicationWillEnterForegroundForPlayback();
    EXPECT_FALSE(task()->isHeld());
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral("[background-continuation-task-end] generation=%1 reason=application-will-enter-foreground").arg(g)));
    session->lifecycle()->applicationDidBecomeActiveForPlayback(0, true);
    // The bound was cancelled with the task: the start goes on resolving.
    MainClock::advanceForTesting(31.0);
    EXPECT_TRUE(abandoned.isEmpty());
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Resolving);
    session->stop();

    // Listening in the background is off: a start there takes no task.
    KRPreferences::sharedPreferences().setBackgroundAudioEnabled(false);
    session->lifecycle()->applicationDidEnterBackgroundForPlayback(false);
    session->startPart(64, 0);
    EXPECT_FALSE(task()->isHeld());
    EXPECT_EQ(platform::BackgroundTask::openTaskCount(), 0);
    session->stop();

    // A part change by the continuation counts as a background start whatever was told last.
    KRPreferences::sharedPreferences().setBackgroundAudioEnabled(true);
    session->lifecycle()->applicationDidEnterBackgroundForPlayback(true);
    session->lifecycle()->applicationDidBecomeActiveForPlayback(0, true);
    ASSERT_FALSE(session->lifecycle()->isInBackground());
    task()->setArmed(true);
    session->startPart(64, 0);
    task()->setArmed(false);
    EXPECT_TRUE(task()->isHeld());
    // A stop ends it at once.
    session->stop();
    EXPECT_FALSE(task()->isHeld());
    EXPECT_EQ(platform::BackgroundTask::openTaskCount(), 0);
}

TEST_F(BackgroundContinuationTest, ARecoveryOfAPartThatHadPlayedTimesOutWithItsOwnStatusAndKeepsTheTime)
{
    ScriptedMedia* playing = playAt360();
    session->lifecycle()->applicationDidEnterBackgroundForPlayback(true);
    // The only address breaks: the part resolves afresh, in the background.
    Q_EMIT playing->finished(1);
    ASSERT_TRUE(pendingResolve);
    const int g = session->requestGeneration();
    EXPECT_EQ(session->installedRecoveryGeneration(), g);
    ASSERT_TRUE(task()->isHeld());
    EXPECT_EQ(task()->heldGeneration(), g);
    MainClock::advanceForTesting(30.0);
    EXPECT_EQ(abandoned, QStringList{QStringLiteral("后台恢复超时，点播放重试/installed")});
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Interrupted);
    EXPECT_EQ(session->installedRecoveryGeneration(), 0);
    EXPECT_NEAR(session->interruptedAt(), 5.0, 0.01);
    EXPECT_TRUE(diagnosticsLog().contains(
        QStringLiteral("[background-installed-recovery-aborted] generation=%1 next=%2 reason=bounded-timeout").arg(g).arg(g + 1)));
    // The resolve answering late installs nothing.
    const qsizetype made = medias.size();
    auto late = std::move(pendingResolve);
    late({k720}, 64);
    EXPECT_EQ(medias.size(), made);
    EXPECT_EQ(session->media(), nullptr);
}

TEST_F(BackgroundContinuationTest, TheBackgroundDuringARecoveryHoldsTheRecoveredPlayerUntilTheForeground)
{
    ScriptedMedia* playing = playAt360();
    // The only address breaks: the part resolves afresh, still in the foreground.
    Q_EMIT playing->finished(1);
    ASSERT_TRUE(pendingResolve);
    const int g = session->requestGeneration();
    ASSERT_EQ(session->installedRecoveryGeneration(), g);
    session->lifecycle()->applicationDidEnterBackgroundForPlayback(true);
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral("[playback-did-enter-background-during-recovery] generation=%1 expected=YES task=YES").arg(g)));
    EXPECT_FALSE(session->lifecycle()->isListeningInBackground());
    ASSERT_TRUE(task()->isHeld());
    // The answer installs the recovered player held: no sound in the background.
    auto done = std::move(pendingResolve);
    done({k720}, 64);
    ScriptedMedia* recovered = media();
    ASSERT_NE(recovered, playing);
    EXPECT_GE(recovered->pauses, 1);
    EXPECT_FALSE(session->playsNow());
    EXPECT_TRUE(recovered->pictureSuspended);
    const int plays = recovered->plays;
    session->lifecycle()->applicationWillEnterForegroundForPlayback();
    session->lifecycle()->applicationDidBecomeActiveForPlayback(0, true);
    EXPECT_GT(recovered->plays, plays);
    EXPECT_TRUE(session->playsNow());
}

TEST_F(BackgroundContinuationTest, ATaskReplacedByAnotherIsEndedAndAnAbortInTheForegroundAbandonsNothing)
{
    play.setQualityFault(64, testsupport::PlaybackFixtures::QualityFault::Held);
    session->lifecycle()->applicationDidEnterBackgroundForPlayback(true);
    session->startPart(64, 0);
    const int first = session->requestGeneration();
    ASSERT_EQ(task()->heldGeneration(), first);
    // A new start in the background takes its own task: the first one ends, one stays open.
    session->startPart(64, 0);
    const int second = session->requestGeneration();
    EXPECT_EQ(task()->heldGeneration(), second);
    EXPECT_EQ(platform::BackgroundTask::openTaskCount(), 1);
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral("[background-continuation-task-end] generation=%1 reason=replaced").arg(first)));
    // Back in the foreground, an abort of the held request ends its task and nothing else.
    session->lifecycle()->applicationDidBecomeActiveForPlayback(0, true);
    task()->abortBackgroundContinuationForGeneration(second, QStringLiteral("system-expired"));
    EXPECT_FALSE(task()->isHeld());
    EXPECT_TRUE(abandoned.isEmpty());
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Resolving);
    EXPECT_EQ(session->requestGeneration(), second);
}

TEST_F(QualitySwitchSessionTest, AKeptErrorIsNotReplacedByALaterEndAndFailsOverWhenTheNewPlayerIsStalled)
{
    ScriptedMedia* playing = playAt360();
    switchTo720();
    playing->time = 7.0;
    playing->finishStaging(true);
    playing->becomePlayable();
    MainClock::advanceForTesting(0.37);
    ASSERT_FALSE(session->isSwitchingQuality());
    // Within the suppression's last quarter second: an error, then an end.
    Q_EMIT playing->finished(1);
    Q_EMIT playing->finished(0);
    EXPECT_EQ(ends, 0);
    // The new player is stalled when the suppression ends: the kept error is real.
    playing->load = KRLoadStateStalled;
    MainClock::advanceForTesting(0.3);
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral("[quality-switch-deferred-finish-checked] replacement=1 reason=1 healthy=NO replay=YES")));
    EXPECT_EQ(ends, 0);
    ASSERT_NE(media(), playing);
    EXPECT_EQ(media()->sound, QUrl(k720Backup)) << "the new quality's backup";
    EXPECT_EQ(session->quality(), 64);
}

TEST_F(QualitySwitchSessionTest, APrewarmedPlayerIsInstalledInOrder)
{
    KRPlaybackSessionTesting::startCandidates(*session, {k720}, 64, 4.0);
    ScriptedMedia* playing = media();
    playing->becomePlayable();
    session->switchToQuality(80, QStringLiteral("1080P"));
    ASSERT_TRUE(testsupport::waitUntil([&] {
        QCoreApplication::processEvents();
        return medias.size() == 2;
    }));
    ScriptedMedia* prewarm = media();
    prewarm->becomePlayable(KRPlaybackStatePaused);
    for (int i = 0; i < 5 && session->isSwitchingQuality(); ++i)
        MainClock::advanceForTesting(0.1);
    ASSERT_EQ(session->media(), prewarm);
    MainClock::advanceForTesting(0.3);
    expectInOrder({QStringLiteral("[quality-prewarm-begin]"), QStringLiteral("[quality-switch-finish-suppression-begin]"),
                   QStringLiteral("[quality-prewarm-installed] generation=1"), QStringLiteral("[quality-switch-finish-suppression-end]")});
    // The old player went and the new one was told to play.
    EXPECT_TRUE(playing->stopped);
    EXPECT_GE(prewarm->plays, 1);
    EXPECT_EQ(session->quality(), 80);
}

TEST_F(QualitySwitchSessionTest, AFailoverPastZeroStartsTheNextAddressAtTheKeptTime)
{
    KRPlaybackSessionTesting::startCandidates(*session, {k720, k720Backup}, 64, 0);
    ScriptedMedia* first = media();
    first->becomePlayable();
    first->time = 42.5;
    Q_EMIT first->finished(1);
    ASSERT_NE(media(), first);
    EXPECT_EQ(media()->sound, QUrl(k720Backup));
    EXPECT_NEAR(media()->startedAt, 42.5, 0.01);
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral("[playback-candidate-failover] index=1 count=2 reason=media-error")));
}

TEST_F(QualitySwitchSessionTest, APartStoppedHalfWayIsKeptAsNotCompletedAtItsTime)
{
    session->setHeartbeatEnabled(true);
    QList<int> heartbeats;
    QObject::connect(session.get(), &KRPlaybackSession::heartbeat, [&](int type) { heartbeats.append(type); });
    ScriptedMedia* playing = playAt360();
    playing->time = 150;
    session->stop();
    ASSERT_FALSE(heartbeats.isEmpty());
    EXPECT_EQ(heartbeats.first(), 1);
    EXPECT_EQ(heartbeats.last(), 4);
    const std::optional<QVariantMap> record = KRLocalHistoryStore::sharedStore().resumeRecordForVideo(session->video());
    ASSERT_TRUE(record.has_value());
    EXPECT_NEAR(KRDouble(record->value(QStringLiteral("history_progress"))), 150.0, 0.01);
    EXPECT_NEAR(KRDouble(record->value(QStringLiteral("history_duration"))), 312.0, 0.01);
    // Not completed: a completed part would be kept at 0 and start over.
    KR_WAIT_UNTIL(play.heartbeatPlayTypes().contains(4));
    // The start and the end travel as requests of their own, so the end may arrive first.
    QVariantMap end;
    for (const QVariantMap& beat : play.heartbeats()) {
        if (beat.value(QStringLiteral("play_type")).toInt() == 4)
            end = beat;
    }
    EXPECT_EQ(end.value(QStringLiteral("played_time")).toString(), QStringLiteral("150"));
}

TEST_F(QualitySwitchSessionTest, APulledHeadphoneWhileASwitchResolvesKeepsItsStreamPausedAndTheSwitchAtRest)
{
    ScriptedMedia* playing = playAt360();
    session->switchToQuality(64, QStringLiteral("720P"));
    QCoreApplication::processEvents();
    ASSERT_TRUE(pendingResolve);
    session->lifecycle()->audioSessionRouteChangedForPlayback(2);
    EXPECT_FALSE(session->isExpectedToPlay());
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Paused);
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral("[quality-switch-playback-intent] generation=1 phase=1 playing=NO")));
    // The switch goes on and lands paused: the new stream does not play behind the user's back.
    auto done = std::move(pendingResolve);
    done({k720}, 64);
    playing->finishStaging(true);
    playing->becomePlayable(KRPlaybackStatePaused);
    const int plays = playing->plays;
    MainClock::advanceForTesting(0.5);
    EXPECT_FALSE(session->isSwitchingQuality());
    EXPECT_EQ(playing->plays, plays);
    EXPECT_FALSE(session->playsNow());
    // The user's play lifts the lost route's hold.
    session->play();
    EXPECT_TRUE(session->playsNow());
    EXPECT_GT(playing->plays, plays);
}

// The session's one gate and its events: an answer that arrives while a hold stands, one claim
// per start, a replacement told as one event, and what a switch leaves behind when something
// else ends it.
class PlaybackGateTest : public QualitySwitchSessionTest {
protected:
    void TearDown() override
    {
        KRPreferences::sharedPreferences().setBackgroundAudioEnabled(false);
        QualitySwitchSessionTest::TearDown();
    }
    // A start of the part whose address is still on its way.
    void startResolving()
    {
        play.setQualityFault(64, testsupport::PlaybackFixtures::QualityFault::Held);
        session->startPart(64, 0);
        ASSERT_EQ(session->state(), KRPlaybackSession::State::Resolving);
        KR_WAIT_UNTIL(play.heldReplyCount() >= 1);
    }
    void answer()
    {
        play.releaseHeldReplies();
        KR_WAIT_UNTIL(session->media() != nullptr);
    }
    // A switch to 720P whose new stream has taken over in the staged player.
    ScriptedMedia* commitSwitchTo720()
    {
        ScriptedMedia* playing = playAt360();
        switchTo720();
        playing->time = 7.0;
        playing->finishStaging(true);
        return playing;
    }
};

// ---- an answer while a hold stands ----

TEST_F(PlaybackGateTest, AnAnswerInTheBackgroundWithoutListeningIsInstalledPausedAndPlaysOnceActive)
{
    startResolving();
    session->lifecycle()->applicationDidEnterBackgroundForPlayback(false);
    answer();
    ScriptedMedia* installed = media();
    EXPECT_GE(installed->pauses, 1) << "held by the background";
    EXPECT_FALSE(session->playsNow());
    EXPECT_TRUE(session->isExpectedToPlay());
    EXPECT_TRUE(installed->pictureSuspended);
    EXPECT_TRUE(session->lifecycle()->resumesAfterForeground());
    installed->becomePlayable();
    EXPECT_NE(session->state(), KRPlaybackSession::State::Playing);
    const int plays = installed->plays;
    session->lifecycle()->applicationWillEnterForegroundForPlayback();
    session->lifecycle()->applicationDidBecomeActiveForPlayback(0, false);
    EXPECT_GT(installed->plays, plays);
    EXPECT_FALSE(installed->pictureSuspended);
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Playing);
}

TEST_F(PlaybackGateTest, AnAnswerInTheBackgroundWhileListeningPlaysItsSoundUnderAFrozenPicture)
{
    KRPreferences::sharedPreferences().setBackgroundAudioEnabled(true);
    startResolving();
    session->lifecycle()->applicationDidEnterBackgroundForPlayback(true);
    answer();
    ScriptedMedia* installed = media();
    EXPECT_EQ(installed->pauses, 0);
    EXPECT_TRUE(installed->pictureSuspended);
    EXPECT_TRUE(session->playsNow());
    EXPECT_TRUE(session->lifecycle()->isListeningInBackground());
}

TEST_F(PlaybackGateTest, AnAnswerDuringAnInterruptionWaitsForItsEnd)
{
    startResolving();
    session->lifecycle()->audioSessionInterruptionForPlayback(true);
    answer();
    ScriptedMedia* installed = media();
    EXPECT_GE(installed->pauses, 1);
    EXPECT_FALSE(session->playsNow());
    installed->becomePlayable();
    // Nothing retries the pause the interruption holds.
    const int plays = installed->plays;
    MainClock::advanceForTesting(3.0);
    EXPECT_EQ(installed->plays, plays);
    session->lifecycle()->audioSessionInterruptionForPlayback(false, 1u, 0, false);
    EXPECT_GT(installed->plays, plays);
    EXPECT_TRUE(session->playsNow());
}

TEST_F(PlaybackGateTest, AScreenThatStopsTheStartOnItsQualitiesLeavesNothingInstalled)
{
    // The screen's answer to the qualities stops the start: the pair is not installed after it.
    int told = 0;
    QObject::connect(session.get(), &KRPlaybackSession::playInfoLoaded, session.get(), [&] {
        ++told;
        session->stop();
    });
    session->startPart(80, 0);
    KR_WAIT_UNTIL(told == 1);
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents();
        MainClock::advanceForTesting(0.05);
    }
    EXPECT_EQ(session->media(), nullptr);
    EXPECT_TRUE(medias.isEmpty());
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Idle);
}

// ---- one claim per start ----

TEST_F(PlaybackGateTest, AStartTakesTheClaimFromASessionStillResolvingWhoseAnswerThenInstallsNothing)
{
    startResolving();
    int superseded = 0;
    QObject::connect(session.get(), &KRPlaybackSession::stoppedByAnotherSession, [&] { ++superseded; });
    // An offline copy starts on another screen.
    KRPlaybackSession offline;
    offline.setMediaFactory(scriptedFactory());
    KRPlaybackSessionTesting::startCandidates(offline, {QStringLiteral("file:///copy.mp4")}, 64, 0);
    QPointer<ScriptedMedia> copy = medias.last().data();
    EXPECT_EQ(superseded, 1);
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Idle);
    // The page's late answer neither installs nor stops the copy.
    play.releaseHeldReplies();
    for (int i = 0; i < 40; ++i) {
        QCoreApplication::processEvents();
        MainClock::advanceForTesting(0.05);
    }
    EXPECT_EQ(session->media(), nullptr);
    ASSERT_TRUE(copy);
    EXPECT_FALSE(copy->stopped);
    EXPECT_EQ(offline.media(), copy.data());
}

TEST_F(PlaybackGateTest, APausedSessionKeepsItsPlayerWhenAnotherStartsAndTakesTheClaimBackByPlaying)
{
    ScriptedMedia* first = playAt360();
    session->pause();
    KRPlaybackSession other;
    other.setMediaFactory(scriptedFactory());
    KRPlaybackSessionTesting::startCandidates(other, {k720}, 64, 0);
    QPointer<ScriptedMedia> second = medias.last().data();
    EXPECT_FALSE(first->stopped);
    EXPECT_EQ(session->media(), first);
    session->play();
    EXPECT_EQ(other.state(), KRPlaybackSession::State::Idle);
    EXPECT_TRUE(!second || second->stopped);
}

// ---- a replacement, and what ends a switch ----

TEST_F(PlaybackGateTest, AStopFromInsideARollbacksInstallationEndsTheSwitchAndTheViewing)
{
    session->setHeartbeatEnabled(true);
    QList<int> heartbeats;
    QObject::connect(session.get(), &KRPlaybackSession::heartbeat, [&](int type) { heartbeats.append(type); });
    ScriptedMedia* playing = commitSwitchTo720();
    playing->time = 42.0;
    int replacements = 0;
    // The screen finds it cannot show the stream going back in.
    QObject::connect(session.get(), &KRPlaybackSession::mediaReplaced, session.get(), [&] {
        ++replacements;
        session->stop();
    });
    Q_EMIT playing->finished(1);
    EXPECT_EQ(replacements, 1);
    EXPECT_FALSE(session->isSwitchingQuality());
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Idle);
    ASSERT_FALSE(heartbeats.isEmpty());
    EXPECT_EQ(heartbeats.last(), 4) << "the viewing ended with the player";
    const qsizetype reports = heartbeats.size();
    MainClock::advanceForTesting(31.0);
    EXPECT_EQ(heartbeats.size(), reports) << "no heartbeat reads a player that is gone";
    EXPECT_TRUE(rollbackFailures.isEmpty());
    const std::optional<QVariantMap> record = KRLocalHistoryStore::sharedStore().resumeRecordForVideo(session->video());
    ASSERT_TRUE(record.has_value());
    EXPECT_NEAR(KRDouble(record->value(QStringLiteral("history_progress"))), 42.0, 0.01);
}

TEST_F(PlaybackGateTest, ASwitchAbandonedAfterItsCommitLeavesTheNewQualitysCandidates)
{
    ScriptedMedia* playing = commitSwitchTo720();
    EXPECT_EQ(session->quality(), 64);
    // The background ends the switch before its ready check.
    session->lifecycle()->applicationDidEnterBackgroundForPlayback(true);
    session->lifecycle()->applicationDidBecomeActiveForPlayback(0, true);
    ASSERT_FALSE(session->isSwitchingQuality());
    EXPECT_EQ(session->candidates(), (QStringList{k720, k720Backup}));
    // The next failover goes to the new quality's backup, under the title that is shown.
    Q_EMIT playing->finished(1);
    ASSERT_NE(media(), playing);
    EXPECT_EQ(media()->sound, QUrl(k720Backup));
    EXPECT_EQ(session->quality(), 64);
}

TEST_F(PlaybackGateTest, TheFinishSuppressionEndsWithThePlayerItWasFor)
{
    ScriptedMedia* playing = commitSwitchTo720();
    playing->becomePlayable();
    MainClock::advanceForTesting(0.4);
    ASSERT_FALSE(session->isSwitchingQuality());
    // Torn down within the suppression's last quarter second, then a new start.
    session->stop();
    KRPlaybackSessionTesting::startCandidates(*session, {k720}, 64, 0);
    const qsizetype mark = diagnosticsLog().size();
    Q_EMIT media()->finished(1);
    EXPECT_FALSE(diagnosticsLog().mid(mark).contains(QStringLiteral("quality-switch-finish-deferred")));
    EXPECT_TRUE(diagnosticsLog().mid(mark).contains(QStringLiteral("[playback-fresh-resolve]")));
}

// ---- the faults of the behaviour ----

TEST_F(PlaybackGateTest, ASwitchTimingOutBeforeItsCommitRollsBackToTheStreamThatKeptPlayingWithoutTouchingIt)
{
    ScriptedMedia* playing = playAt360();
    switchTo720({k720});
    ASSERT_FALSE(playing->stagedURL.isEmpty());
    // The staged 720P never becomes ready; 360P plays on, its clock running.
    for (int i = 0; i < 400 && !diagnosticsLog().contains(QStringLiteral("[quality-switch-watchdog]")); ++i) {
        playing->time += 0.1;
        MainClock::advanceForTesting(0.1);
    }
    const QString log = diagnosticsLog();
    ASSERT_TRUE(log.contains(QStringLiteral("[quality-switch-watchdog] generation=1 phase=2")));
    EXPECT_TRUE(log.contains(QStringLiteral("seamless=YES")));
    const qsizetype failed = log.indexOf(QStringLiteral("[quality-switch-failed]"));
    ASSERT_GE(failed, 0);
    const QString failure = log.mid(failed, log.indexOf(QLatin1Char('\n'), failed) - failed);
    EXPECT_TRUE(failure.contains(QStringLiteral("restore=YES"))) << failure.toStdString();
    EXPECT_TRUE(failure.contains(QStringLiteral("reason=720P 切换超时"))) << failure.toStdString();
    EXPECT_TRUE(statuses.contains(QStringLiteral("~切换失败，正在恢复 360P…")));
    const double before = playing->time;
    for (int i = 0; i < 10; ++i) {
        playing->time += 0.1;
        MainClock::advanceForTesting(0.1);
    }
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral("[quality-switch-rollback-ready] generation=1")));
    EXPECT_EQ(statuses.last(), QStringLiteral("720P 切换超时 · 已恢复 360P"));
    EXPECT_FALSE(session->isSwitchingQuality());
    // 360P never stopped, nothing was made in its place, and its time never went back.
    EXPECT_FALSE(playing->stopped);
    EXPECT_EQ(medias.size(), 1);
    EXPECT_TRUE(playing->seeks.isEmpty());
    EXPECT_GT(playing->time, before);
    EXPECT_EQ(session->quality(), 16);
    // The rollback's watchdog has nothing left to abort.
    MainClock::advanceForTesting(25.0);
    EXPECT_TRUE(rollbackFailures.isEmpty());
    EXPECT_EQ(session->media(), playing);
}

TEST_F(PlaybackGateTest, ASeekAfterTheEndPlaysOnFromTheTimeSought)
{
    ScriptedMedia* playing = playAt360ToItsEnd();
    ASSERT_EQ(session->state(), KRPlaybackSession::State::Ended);
    session->seek(4.0);
    EXPECT_NE(session->state(), KRPlaybackSession::State::Ended);
    const int plays = playing->plays;
    const qsizetype mark = diagnosticsLog().size();
    session->togglePlayback();
    EXPECT_EQ(playing->seeks, QList<double>{4.0}) << "no restart from zero";
    EXPECT_GT(playing->plays, plays);
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Playing);
    EXPECT_FALSE(diagnosticsLog().mid(mark).contains(QStringLiteral("[playback-replay]")));
}

TEST_F(PlaybackGateTest, AnInterruptionEndingWhileActiveCarriesOutTheDeferredReturnWithoutPlaying)
{
    ScriptedMedia* playing = playAt360();
    KRPlaybackLifecycle* life = session->lifecycle();
    life->applicationDidEnterBackgroundForPlayback(false);
    life->audioSessionInterruptionForPlayback(true);
    // The user comes back while the call lasts: becoming active waits for its end.
    life->applicationWillEnterForegroundForPlayback();
    life->applicationDidBecomeActiveForPlayback(0, false);
    ASSERT_TRUE(life->isInBackground());
    const int plays = playing->plays;
    life->audioSessionInterruptionForPlayback(false, 0u, 0, false);
    EXPECT_FALSE(life->isInBackground());
    EXPECT_FALSE(playing->pictureSuspended);
    EXPECT_EQ(playing->plays, plays);
    EXPECT_FALSE(session->isExpectedToPlay());
    EXPECT_EQ(session->holds(), 0u);
}

} // namespace
