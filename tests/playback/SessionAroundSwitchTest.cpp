// What happens around a quality switch once its new stream has taken over: the watchdog, the
// finishes kept back for a quarter second, the rollback to the previous stream, the failures
// the switch is told of twice or cannot undo, and a failover that keeps its time.
#include "SwitchSessionTesting.h"

#include "store/KRLocalHistoryStore.h"

using platform::MainClock;
using playbacktest::k360;
using playbacktest::k720;
using playbacktest::k720Backup;
using playbacktest::ScriptedMedia;

namespace {

class SessionAroundSwitchTest : public playbacktest::SwitchSessionTest {};

TEST_F(SessionAroundSwitchTest, ANewStreamThatNeverBecomesReadyTimesOutAfterItsCommitAndRollsBackWhereItStood)
{
    ScriptedMedia* playing = commitSwitchTo720();
    ASSERT_EQ(playing->sound, QUrl(k720));
    // The committed stream resets and never comes back.
    playing->stall();
    MainClock::advanceForTesting(0.13);
    EXPECT_TRUE(logged(QStringLiteral("\\[quality-switch-progressive-ready-verify\\] replacement=1 elapsed=0\\.1\\d\\d observedReset=YES rollback=NO host=cdn\\.test")))
        << line(QStringLiteral("[quality-switch-progressive-ready-verify]")).toStdString();
    EXPECT_TRUE(session->isSwitchingQuality()) << "a stalled new stream does not finish the switch";
    // The loading phase has 35 s; the rollback resumes where the new stream stood.
    playing->time = 20.0;
    MainClock::advanceForTesting(34.0);
    EXPECT_FALSE(log().contains(QStringLiteral("[quality-switch-watchdog]")));
    MainClock::advanceForTesting(1.0);
    EXPECT_TRUE(logged(QStringLiteral("\\[quality-switch-watchdog\\] generation=1 phase=2 pending=64 elapsed=35\\.\\d+ seamless=YES")));
    const QString failure = line(QStringLiteral("[quality-switch-failed]"));
    EXPECT_TRUE(failure.contains(QStringLiteral("restore=YES"))) << failure.toStdString();
    EXPECT_TRUE(failure.contains(QStringLiteral("reason=720P 切换超时"))) << failure.toStdString();
    EXPECT_TRUE(statuses.contains(QStringLiteral("~切换失败，正在恢复 360P…")));
    ASSERT_EQ(medias.size(), 2);
    ScriptedMedia* restored = media();
    EXPECT_EQ(restored->contentURL(), QUrl(k360));
    EXPECT_NEAR(restored->startedAt, 20.0, 0.01);
    EXPECT_TRUE(playing->stopped);
    EXPECT_EQ(session->qualitySwitch()->phase(), KRQualitySwitchTransaction::kPhaseRollingBack);

    // The previous stream is ready: the check completes the rollback at its time.
    restored->becomePlayable();
    MainClock::advanceForTesting(0.4);
    EXPECT_FALSE(session->isSwitchingQuality());
    EXPECT_TRUE(logged(QStringLiteral("\\[quality-switch-rollback-ready\\] generation=1 cid=\\d+ dash=NO elapsed=[0-9.]+ time=20\\.000 expectedPlay=YES title=360P reason=720P 切换超时")));
    EXPECT_EQ(statuses.last(), QStringLiteral("720P 切换超时 · 已恢复 360P"));
    EXPECT_EQ(session->quality(), 16);
    EXPECT_EQ(session->candidates(), QStringList{k360});
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Playing);
    EXPECT_TRUE(rollbackFailures.isEmpty());

    // Within its 0.25 s, an error of the healthy restored stream is kept, then dropped.
    Q_EMIT restored->finished(1);
    EXPECT_TRUE(log().contains(QStringLiteral("[quality-switch-finish-deferred] replacement=2 reason=1 rollback=NO")));
    MainClock::advanceForTesting(0.3);
    EXPECT_TRUE(logged(QStringLiteral("\\[quality-switch-deferred-finish-checked\\] replacement=2 reason=1 healthy=YES replay=NO")));
    EXPECT_EQ(session->media(), restored);
    EXPECT_EQ(medias.size(), 2) << "nothing failed over";
    EXPECT_EQ(ends, 0);
}

TEST_F(SessionAroundSwitchTest, AnErrorKeptAfterTheSwitchIsNotReplacedByAnEndAndFailsOverAtItsTimeWhenTheNewStreamStalls)
{
    ScriptedMedia* playing = commitSwitchTo720();
    playing->becomePlayable();
    MainClock::advanceForTesting(0.37);
    ASSERT_FALSE(session->isSwitchingQuality());
    ASSERT_TRUE(log().contains(QStringLiteral("[quality-switch-progressive-ready-verify] replacement=1")));
    // The switch is over, its suppression is not: an error, then an end, are both kept.
    playing->time = 40.0;
    Q_EMIT playing->finished(1);
    Q_EMIT playing->finished(0);
    EXPECT_EQ(log().count(QStringLiteral("[quality-switch-finish-deferred] replacement=1")), 2);
    EXPECT_EQ(ends, 0);
    EXPECT_EQ(medias.size(), 1);
    playing->stall();
    MainClock::advanceForTesting(0.2);
    EXPECT_FALSE(log().contains(QStringLiteral("[quality-switch-finish-suppression-end]"))) << "the clear waits 0.25 s";
    EXPECT_EQ(medias.size(), 1);
    MainClock::advanceForTesting(0.1);
    EXPECT_TRUE(log().contains(QStringLiteral("[quality-switch-finish-suppression-end] replacement=1 delayed=YES")));
    // The error is what is decided, and the stalled player makes it count.
    EXPECT_TRUE(logged(QStringLiteral("\\[quality-switch-deferred-finish-checked\\] replacement=1 reason=1 healthy=NO replay=YES load=4 playback=1 time=40\\.000")))
        << line(QStringLiteral("[quality-switch-deferred-finish-checked]")).toStdString();
    EXPECT_TRUE(log().contains(QStringLiteral("[playback-candidate-failover] index=1 count=2 reason=media-error")));
    ASSERT_EQ(medias.size(), 2);
    EXPECT_EQ(media()->sound, QUrl(k720Backup)) << "the committed quality's backup";
    EXPECT_NEAR(media()->startedAt, 40.0, 0.01);
    EXPECT_EQ(ends, 0);
    EXPECT_NE(session->state(), KRPlaybackSession::State::Ended);
}

TEST_F(SessionAroundSwitchTest, AFailoverPastTimeZeroStartsTheNextAddressAtTheKeptTime)
{
    KRPlaybackSessionTesting::startCandidates(*session, {k720, k720Backup}, 64, 0);
    ScriptedMedia* first = media();
    first->becomePlayable();
    first->time = 83.5;
    Q_EMIT first->finished(1);
    ASSERT_EQ(medias.size(), 2);
    EXPECT_EQ(media()->sound, QUrl(k720Backup));
    EXPECT_NEAR(media()->startedAt, 83.5, 0.01);
    EXPECT_NEAR(session->startTime(), 83.5, 0.01);
    EXPECT_TRUE(first->stopped);
}

TEST_F(SessionAroundSwitchTest, AFailureDuringARollbackIsIgnoredAndARollbackWithoutItsSourceIsAborted)
{
    ScriptedMedia* playing = commitSwitchTo720();
    Q_EMIT playing->finished(1);
    ASSERT_TRUE(session->isSwitchingQuality());
    ASSERT_EQ(session->qualitySwitch()->phase(), KRQualitySwitchTransaction::kPhaseRollingBack);
    const qsizetype made = medias.size();
    const QStringList shown = statuses;
    failSwitch(QStringLiteral("again"), true);
    EXPECT_TRUE(log().contains(QStringLiteral("[quality-switch-duplicate-failure-ignored] generation=1 phase=4 reason=again")));
    EXPECT_EQ(log().count(QStringLiteral("[quality-switch-failed]")), 1);
    EXPECT_EQ(medias.size(), made);
    EXPECT_TRUE(session->isSwitchingQuality());
    EXPECT_EQ(titles.last(), QStringLiteral("360P")) << "the rollback's title is shown again";
    EXPECT_EQ(statuses.mid(shown.size()).filter(QStringLiteral("切换失败")).size(), 0);
    media()->becomePlayable();
    MainClock::advanceForTesting(0.4);
    EXPECT_TRUE(log().contains(QStringLiteral("[quality-switch-rollback-ready] generation=1")));

    // The stream being replaced had no address to go back to.
    KRPlaybackSessionTesting::startCandidates(*session, {k360}, 16, 5.0);
    playing = media();
    playing->becomePlayable();
    playing->sound = QUrl();
    openSwitchTo720();
    answerResolve();
    playing->time = 9.0;
    playing->finishStaging(true);
    Q_EMIT playing->finished(1);
    EXPECT_TRUE(logged(QStringLiteral("\\[quality-switch-rollback-failed\\] generation=\\d+ cid=\\d+ dash=NO elapsed=[0-9.]+ reason=原画质恢复信息缺失")));
    EXPECT_FALSE(session->isSwitchingQuality());
    ASSERT_EQ(rollbackFailures.size(), 1);
    EXPECT_EQ(session->media(), nullptr);
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Interrupted);
}

TEST_F(SessionAroundSwitchTest, AFailureOverAStalledStreamSaysItBuffersAndHandsItToTheStallRecovery)
{
    // The resolve fails while the stream that stays is stalled: no reason of its own.
    ScriptedMedia* playing = playAt360();
    openSwitchTo720();
    playing->stall();
    answerResolve({});
    EXPECT_FALSE(session->isSwitchingQuality());
    EXPECT_EQ(statuses.last(), QStringLiteral("720P 切换失败 · 360P 网络缓冲中"));
    EXPECT_TRUE(log().contains(QStringLiteral("[quality-switch-source-stall-restored] dash=NO load=4 rebuffering=NO host=cdn.test")));
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Stalled);
    // The stall recovery has it: playable again, it plays on.
    const int plays = playing->plays;
    playing->becomePlayable(KRPlaybackStatePaused);
    MainClock::advanceForTesting(1.1);
    EXPECT_GT(playing->plays, plays);
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Playing);

    // The resolve never answers while the stream is stalled: the timeout is the reason.
    playing->state = KRPlaybackStatePlaying;
    openSwitchTo720();
    playing->stall();
    MainClock::advanceForTesting(20.1);
    EXPECT_EQ(statuses.last(), QStringLiteral("720P 切换超时 · 360P 网络缓冲中"));
    EXPECT_EQ(log().count(QStringLiteral("[quality-switch-source-stall-restored]")), 2);
    EXPECT_FALSE(playing->stopped);
    EXPECT_EQ(session->quality(), 16);
}

TEST_F(SessionAroundSwitchTest, APrewarmedPlayerIsSeekedThenInstalledUnderTheSuppressionThenCommitted)
{
    KRPlaybackSessionTesting::startCandidates(*session, {k720}, 64, 4.0);
    ScriptedMedia* playing = media();
    playing->becomePlayable();
    qsizetype replacedAt = -1;
    bool oldStoppedAtReplacement = false;
    int qualityAtReplacement = 0;
    int playsAtReplacement = -1;
    QList<int> qualities;
    QObject::connect(session.get(), &KRPlaybackSession::qualityChanged, [&](int quality) { qualities.append(quality); });
    QObject::connect(session.get(), &KRPlaybackSession::mediaReplaced, [&](KRPlaybackMedia* installed) {
        replacedAt = log().size();
        oldStoppedAtReplacement = playing->stopped;
        qualityAtReplacement = session->quality();
        playsAtReplacement = static_cast<ScriptedMedia*>(installed)->plays;
    });
    session->switchToQuality(80, QStringLiteral("1080P"));
    ASSERT_TRUE(testsupport::waitUntil([&] {
        QCoreApplication::processEvents();
        return medias.size() == 2;
    }));
    ScriptedMedia* prewarm = media();
    playing->time = 6.5;
    prewarm->becomePlayable(KRPlaybackStatePaused);
    MainClock::advanceForTesting(0.1);
    EXPECT_EQ(prewarm->seeks, QList<double>{6.5});
    EXPECT_EQ(replacedAt, -1) << "seeked first, installed on the next check";
    MainClock::advanceForTesting(0.1);
    ASSERT_GE(replacedAt, 0);
    const qsizetype seeking = at(QStringLiteral("phase=3 pending=80"));
    const qsizetype suppressed = at(QStringLiteral("[quality-switch-finish-suppression-begin] replacement=1 phase=3"));
    const qsizetype installed = at(QStringLiteral("[quality-prewarm-installed] generation=1 time=6.500 dash=YES"));
    EXPECT_LT(at(QStringLiteral("[quality-prewarm-begin] time=4.000 dash=YES")), seeking);
    EXPECT_LT(seeking, suppressed);
    EXPECT_LT(suppressed, replacedAt) << "the old player's finishes are kept before it goes";
    EXPECT_GT(installed, replacedAt);
    EXPECT_TRUE(oldStoppedAtReplacement);
    EXPECT_EQ(qualityAtReplacement, 64) << "the quality goes in with its player, after it";
    EXPECT_EQ(playsAtReplacement, 0) << "bound before it plays";
    EXPECT_GE(prewarm->plays, 1);
    EXPECT_EQ(qualities, QList<int>{80});
    EXPECT_FALSE(session->isSwitchingQuality());
    // The suppression runs out 0.25 s after the installation.
    MainClock::advanceForTesting(0.2);
    EXPECT_FALSE(log().contains(QStringLiteral("[quality-switch-finish-suppression-end]")));
    MainClock::advanceForTesting(0.1);
    EXPECT_TRUE(log().contains(QStringLiteral("[quality-switch-finish-suppression-end] replacement=1 delayed=YES")));
}

TEST_F(SessionAroundSwitchTest, APartStoppedHalfWayIsRecordedWhereItStoppedAndNotCompleted)
{
    ScriptedMedia* playing = playAt360();
    playing->time = 100.0;
    session->stop();
    const std::optional<QVariantMap> record = KRLocalHistoryStore::sharedStore().resumeRecordForVideo(session->video());
    ASSERT_TRUE(record.has_value());
    EXPECT_NEAR(record->value(QStringLiteral("history_progress")).toDouble(), 100.0, 0.01);
    EXPECT_NEAR(record->value(QStringLiteral("history_duration")).toDouble(), 312.0, 0.01);
    EXPECT_FALSE(record->value(QStringLiteral("completed")).toBool());

    // A part played to its end is completed and keeps no position.
    playing = playAt360();
    playing->time = 312;
    Q_EMIT playing->finished(0);
    const std::optional<QVariantMap> ended = KRLocalHistoryStore::sharedStore().resumeRecordForVideo(session->video());
    ASSERT_TRUE(ended.has_value());
    EXPECT_TRUE(ended->value(QStringLiteral("completed")).toBool());
}

TEST_F(SessionAroundSwitchTest, ATimeBelowZeroCountsAsZero)
{
    KRPlaybackSessionTesting::startCandidates(*session, {k360}, 16, -4.0);
    ScriptedMedia* playing = media();
    EXPECT_DOUBLE_EQ(session->startTime(), 0.0);
    playing->becomePlayable();
    playing->time = -0.7;
    EXPECT_DOUBLE_EQ(session->currentTime(), 0.0);
    // A switch resumes at 0, and a seek before the start goes to 0.
    openSwitchTo720();
    EXPECT_TRUE(log().contains(QStringLiteral("[quality-switch-stall-isolated] generation=1 hadRecovery=NO playing=YES resume=0.000")));
    answerResolve();
    EXPECT_DOUBLE_EQ(playing->stagedAt, 0.0);
    playing->finishStaging(false);
    session->seek(-3.0);
    EXPECT_EQ(playing->seeks.value(0, -1), 0.0);
    // Where it stopped is recorded as 0.
    playing->time = -2.0;
    session->stop();
    const std::optional<QVariantMap> record = KRLocalHistoryStore::sharedStore().resumeRecordForVideo(session->video());
    ASSERT_TRUE(record.has_value());
    EXPECT_DOUBLE_EQ(record->value(QStringLiteral("history_progress")).toDouble(), 0.0);
}

TEST_F(SessionAroundSwitchTest, TheSlowerTickOfAnOldDeviceHoldsAcrossTheReturnAndAReplacement)
{
    // An A4-class device ticks every 0.25 s instead of 0.2 s.
    session->setTickInterval(250);
    QList<double> ticks;
    QObject::connect(session.get(), &KRPlaybackSession::progressed, [&] { ticks.append(MainClock::now()); });
    const auto ticksOver = [&](double seconds) {
        ticks.clear();
        run(seconds);
        return ticks.size();
    };
    ScriptedMedia* playing = playAt360();
    EXPECT_EQ(ticksOver(1.1), 4);
    // Back from the background: one tick at once, then the same pace.
    enterBackground(false);
    EXPECT_EQ(ticksOver(1.1), 0) << "no tick in the background";
    becomeActive();
    EXPECT_EQ(ticksOver(1.1), 4);
    // The stream going back in after a failed switch keeps the pace too.
    openSwitchTo720();
    answerResolve();
    playing->finishStaging(true);
    Q_EMIT playing->finished(1);
    ASSERT_EQ(medias.size(), 2);
    media()->becomePlayable();
    EXPECT_EQ(ticksOver(1.1), 4);
}

} // namespace
