// The session's policy against a scripted player on the manual clock, without a window: stall
// windows, retry spacing and heartbeat intervals follow the clock, not the machine's speed.
#include "playback/KRPlaybackSession.h"

#include "PlaybackTesting.h"
#include "ScriptedMedia.h"
#include "account/AccountClientTesting.h"
#include "model/KRVideo.h"
#include "platform/foundation/MainClock.h"
#include "playback/KRPlaybackMedia.h"
#include "playback/KRPlaybackTransport.h"
#include "support/AccountFixtures.h"
#include "support/PlaybackFixtures.h"
#include "support/ServiceFixtures.h"

#include <QPointer>

using platform::MainClock;

namespace {

using playbacktest::ScriptedMedia;

class PlaybackSessionTest : public playbacktest::ScriptedSessionTest {
protected:
    void SetUp() override
    {
        ScriptedSessionTest::SetUp();
        QObject::connect(session.get(), &KRPlaybackSession::heartbeat, [this](int type) { heartbeats.append(type); });
        QObject::connect(session.get(), &KRPlaybackSession::stallFallbackRequested, [this](int quality) { fallbacks.append(quality); });
        QObject::connect(session.get(), &KRPlaybackSession::unaskedPauseGivenUp, [this] { ++givenUp; });
    }
    // Starts a 1080P progressive part and lets it play.
    void startPlaying(int quality = 80)
    {
        KRPlaybackSessionTesting::startCandidates(*session, {QStringLiteral("https://a.test/v.mp4"), QStringLiteral("https://b.test/v.mp4")}, quality, 0);
        ASSERT_TRUE(media());
        media()->becomePlayable();
    }
    void stallAndRecover(double after)
    {
        MainClock::advanceForTesting(after);
        media()->stall();
        media()->becomePlayable();
        // The recovery check runs each second.
        MainClock::advanceForTesting(1.0);
    }

    // Plays 1080P until its third stall within a minute, which asks the fallback for the next turn.
    void playUntilTheThirdStall()
    {
        startPlaying();
        for (int i = 0; i < 2; ++i)
            stallAndRecover(1);
        MainClock::advanceForTesting(1);
        media()->stall();
    }

    QList<int> heartbeats;
    QList<int> fallbacks;
    int givenUp = 0;
};

TEST_F(PlaybackSessionTest, TheThirdStallWithinAMinuteFallsBackTo360POncePerStart)
{
    startPlaying();
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Playing);
    stallAndRecover(1);
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Playing);
    stallAndRecover(20);
    EXPECT_TRUE(fallbacks.isEmpty());
    stallAndRecover(20);
    EXPECT_TRUE(playbacktest::diagnosticsLog().contains(QStringLiteral("[playback-stall-fallback] from=80 to=16 count=3")));
    EXPECT_EQ(fallbacks, QList<int>{16}) << "asked once, on the turn after the third stall";
    // The fallback is a switch of its own, isolated from the stalls of the stream it replaces.
    EXPECT_TRUE(playbacktest::diagnosticsLog().contains(QStringLiteral("[quality-switch-stall-isolated] generation=1 hadRecovery=YES")));
    EXPECT_TRUE(playbacktest::diagnosticsLog().contains(QStringLiteral("phase=1 pending=16 actual=80")));
    EXPECT_EQ(session->stallCount(), 0);
    // More stalls of the same start ask nothing more.
    stallAndRecover(1);
    stallAndRecover(1);
    EXPECT_EQ(fallbacks, QList<int>{16});
    // A new start counts anew and may fall back again.
    startPlaying(64);
    for (int i = 0; i < 3; ++i)
        stallAndRecover(2);
    EXPECT_EQ(fallbacks, (QList<int>{16, 16}));
}

TEST_F(PlaybackSessionTest, ThreeStallsSpreadOverMoreThanAMinuteDoNotFallBack)
{
    startPlaying();
    stallAndRecover(1);
    stallAndRecover(30);
    stallAndRecover(30);
    EXPECT_TRUE(fallbacks.isEmpty());
    EXPECT_EQ(session->stallCount(), 1) << "the window began again at the third";
}

TEST_F(PlaybackSessionTest, AFallbackAskedIsDroppedByAStop)
{
    playUntilTheThirdStall();
    session->stop();
    MainClock::advanceForTesting(1);
    EXPECT_TRUE(fallbacks.isEmpty());
}

// The fallback asked on the third stall answers on the next turn. A start made in that same
// turn (a part kept on the device, installed at once) has replaced the player it was asked
// for: the answer is stale, and the new player is not switched.
TEST_F(PlaybackSessionTest, AFallbackAskedIsDroppedByAStartInTheSameTurn)
{
    playUntilTheThirdStall();
    ASSERT_TRUE(playbacktest::diagnosticsLog().contains(QStringLiteral("[playback-stall-fallback] from=80 to=16 count=3")));
    const QString kept = testsupport::testHome() + QStringLiteral("/kept-part.mp4");
    auto video = std::make_shared<KRVideo>(*session->video());
    video->setPlayURL(QUrl::fromLocalFile(kept).toString());
    session->setVideo(video, testsupport::ServiceFixtures::kDetailAID);
    session->startPart(80, 0);
    ASSERT_EQ(medias.size(), 2);
    ASSERT_EQ(media()->sound, QUrl::fromLocalFile(kept));
    media()->becomePlayable();
    QCoreApplication::processEvents();
    MainClock::advanceForTesting(1);
    EXPECT_TRUE(fallbacks.isEmpty());
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Playing);
    EXPECT_FALSE(playbacktest::diagnosticsLog().contains(QStringLiteral("[quality-switch-")));
}

TEST_F(PlaybackSessionTest, AnUnaskedPauseIsRetriedSpacedOutAndGivenUpAfterSixSeconds)
{
    startPlaying();
    MainClock::advanceForTesting(1);
    // The player pauses by itself, playable.
    media()->state = KRPlaybackStatePaused;
    const int playsBefore = media()->plays;
    MainClock::advanceForTesting(0.2);
    const double pausedSeenAt = MainClock::now();
    MainClock::advanceForTesting(7.0);
    const QList<double> retries = media()->playTimes.mid(playsBefore);
    ASSERT_EQ(retries.size(), KRPlaybackSession::kMaximumRetries);
    EXPECT_GE(retries.first() - pausedSeenAt, KRPlaybackSession::kFirstRetryDelay - 1e-9);
    for (int i = 1; i < retries.size(); ++i)
        EXPECT_GE(retries[i] - retries[i - 1], KRPlaybackSession::kRetrySpacing - 1e-9);
    EXPECT_EQ(givenUp, 1);
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Paused);
    EXPECT_FALSE(session->isExpectedToPlay());
    // Given up between 6.0 and 6.2 s (one tick) after the pause was seen.
    EXPECT_GE(media()->pauses, 1);
}

TEST_F(PlaybackSessionTest, ThePauseRetryGivesUpSixSecondsAfterThePause)
{
    startPlaying();
    media()->state = KRPlaybackStatePaused;
    MainClock::advanceForTesting(0.2);
    MainClock::advanceForTesting(5.8 - 0.01);
    EXPECT_EQ(givenUp, 0) << "still trying before 6.0 s";
    MainClock::advanceForTesting(0.21);
    EXPECT_EQ(givenUp, 1);
}

TEST_F(PlaybackSessionTest, APausePlayingAgainIsNotRetried)
{
    startPlaying();
    media()->state = KRPlaybackStatePaused;
    MainClock::advanceForTesting(0.4);
    media()->state = KRPlaybackStatePlaying;
    const int plays = media()->plays;
    MainClock::advanceForTesting(3);
    EXPECT_EQ(media()->plays, plays);
    EXPECT_EQ(session->unaskedPauseRetries(), 0);
}

TEST_F(PlaybackSessionTest, HeartbeatStartsPeriodicPauseResumeEnd)
{
    startPlaying();
    EXPECT_EQ(heartbeats, QList<int>{1});
    MainClock::advanceForTesting(14.9);
    EXPECT_EQ(heartbeats, QList<int>{1});
    MainClock::advanceForTesting(0.2);
    EXPECT_EQ(heartbeats, (QList<int>{1, 0}));
    MainClock::advanceForTesting(15);
    EXPECT_EQ(heartbeats, (QList<int>{1, 0, 0}));
    session->pause();
    session->play();
    EXPECT_EQ(heartbeats, (QList<int>{1, 0, 0, 2, 3}));
    media()->time = 312;
    Q_EMIT media()->finished(0);
    EXPECT_EQ(heartbeats, (QList<int>{1, 0, 0, 2, 3, 4}));
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Ended);
    MainClock::advanceForTesting(30);
    EXPECT_EQ(heartbeats.size(), 6) << "nothing after the end";
    // Each reached the service; the client's workers may deliver them in another order, and an
    // earlier test's final report may land here too.
    EXPECT_TRUE(testsupport::waitUntil([&] {
        const QList<int> sent = play.heartbeatPlayTypes();
        return sent.count(1) >= 1 && sent.count(0) >= 2 && sent.count(2) >= 1 && sent.count(3) >= 1 && sent.count(4) >= 1;
    })) << "service saw " << play.heartbeatPlayTypes().size() << " reports";
}

TEST_F(PlaybackSessionTest, TheEndsHeartbeatOutlivesTheSession)
{
    startPlaying();
    session.reset();
    ASSERT_TRUE(testsupport::waitUntil([&] { return play.heartbeatPlayTypes().contains(4); }));
}

TEST_F(PlaybackSessionTest, AFailedAddressHandsOverThenOneFreshResolveThenTheEnd)
{
    QList<int> resolves;
    session->setResolver([&](int quality, QObject*, std::function<void(const QStringList&, int)> done) {
        resolves.append(quality);
        done(resolves.size() == 1 ? QStringList{QStringLiteral("https://c.test/v.mp4")} : QStringList{}, 32);
    });
    QList<bool> failures;
    QObject::connect(session.get(), &KRPlaybackSession::failed, [&](const QString&, bool installed) { failures.append(installed); });
    startPlaying(64);
    Q_EMIT media()->finished(1);
    EXPECT_EQ(media()->sound, QUrl(QStringLiteral("https://b.test/v.mp4")));
    Q_EMIT media()->finished(1);
    EXPECT_EQ(resolves, QList<int>{64});
    EXPECT_EQ(media()->sound, QUrl(QStringLiteral("https://c.test/v.mp4")));
    EXPECT_EQ(session->quality(), 32) << "the quality that plays";
    Q_EMIT media()->finished(1);
    EXPECT_EQ(resolves.size(), 1) << "one fresh resolve per start";
    EXPECT_EQ(failures, QList<bool>{true});
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Interrupted);
    EXPECT_EQ(session->media(), nullptr);
}

TEST_F(PlaybackSessionTest, AFailedDASHPictureTakesTheSamePathAsASound)
{
    KRPlayInfo info = *KRPlayInfo::fromPlayInformation(QVariantMap{
        {QStringLiteral("quality"), 80},
        {QStringLiteral("dash"), QVariantMap{{QStringLiteral("video"), QVariantList{QVariantMap{{QStringLiteral("id"), 80}, {QStringLiteral("codecid"), 7},
                                                                                                {QStringLiteral("base_url"), QStringLiteral("https://a.test/v.m4s")}}}},
                                             {QStringLiteral("audio"), QVariantList{QVariantMap{{QStringLiteral("id"), 30280},
                                                                                                {QStringLiteral("base_url"), QStringLiteral("https://a.test/a.m4s")}}}}}}});
    QList<int> resolves;
    session->setResolver([&](int quality, QObject*, std::function<void(const QStringList&, int)> done) {
        resolves.append(quality);
        done({QStringLiteral("https://c.test/v.mp4")}, 64);
    });
    ASSERT_TRUE(KRPlaybackSessionTesting::startDASH(*session, info, 80, 0));
    EXPECT_EQ(media()->picture, QUrl(QStringLiteral("https://a.test/v.m4s")));
    EXPECT_EQ(session->quality(), 80);
    // The picture starves: shown and counted as a stall.
    Q_EMIT media()->pictureStarved();
    EXPECT_EQ(session->stallCount(), 1);
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Stalled);
    // Then fails: the fresh resolve at 64 plays, and the session names its quality.
    Q_EMIT media()->finished(1);
    EXPECT_EQ(resolves, QList<int>{64});
    EXPECT_TRUE(media()->picture.isEmpty());
    EXPECT_EQ(session->quality(), 64);
}

TEST_F(PlaybackSessionTest, TheHoldPlaysAtDoubleSpeedAndATeardownGivesTheChosenRateBack)
{
    startPlaying();
    session->setRate(1.25f);
    EXPECT_FLOAT_EQ(media()->rate, 1.25f);
    session->beginHold();
    EXPECT_FLOAT_EQ(media()->rate, 2.0f);
    // The hold spans a teardown: the next player plays at the chosen rate, retries included.
    Q_EMIT media()->finished(1);
    EXPECT_FALSE(session->isHolding());
    EXPECT_FLOAT_EQ(media()->rate, 1.25f);
    media()->becomePlayable(KRPlaybackStatePaused);
    MainClock::advanceForTesting(1.5);
    EXPECT_FLOAT_EQ(media()->rate, 1.25f);
}

TEST_F(PlaybackSessionTest, ASessionThatStartsStopsAnotherThatPlays)
{
    startPlaying();
    KRPlaybackSession other;
    other.setMediaFactory(scriptedFactory());
    int superseded = 0;
    QObject::connect(session.get(), &KRPlaybackSession::stoppedByAnotherSession, [&] { ++superseded; });
    QPointer<ScriptedMedia> first = medias.first();
    KRPlaybackSessionTesting::startCandidates(other, {QStringLiteral("https://d.test/v.mp4")}, 64, 0);
    EXPECT_EQ(superseded, 1);
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Idle);
    EXPECT_TRUE(!first || first->stopped);
    EXPECT_EQ(other.state(), KRPlaybackSession::State::Buffering);
}

TEST_F(PlaybackSessionTest, TheNaturalEndGivesOneLastUpdateAtTheDuration)
{
    startPlaying();
    QList<double> times;
    QObject::connect(session.get(), &KRPlaybackSession::progressed, [&](double time, double, bool) { times.append(time); });
    MainClock::advanceForTesting(0.5);
    media()->time = 311.2;
    Q_EMIT media()->finished(0);
    ASSERT_FALSE(times.isEmpty());
    EXPECT_DOUBLE_EQ(times.last(), 312);
}

TEST_F(PlaybackSessionTest, ASessionToldItWasSupersededMayBeLetGoAtOnce)
{
    // The offline list lets its session go when told another started.
    startPlaying();
    QObject::connect(session.get(), &KRPlaybackSession::stoppedByAnotherSession, [this] { session.reset(); });
    KRPlaybackSession other;
    other.setMediaFactory(scriptedFactory());
    KRPlaybackSessionTesting::startCandidates(other, {QStringLiteral("https://d.test/v.mp4")}, 64, 0);
    EXPECT_EQ(session, nullptr);
    EXPECT_EQ(other.state(), KRPlaybackSession::State::Buffering);
}

TEST_F(PlaybackSessionTest, ThePartsSourceIsTheChainBelow80AndTheDASHPairFrom80)
{
    auto video = std::make_shared<KRVideo>(*session->video());
    video->setBvid(testsupport::ServiceFixtures::detailBVID());
    session->setVideo(video, testsupport::ServiceFixtures::kDetailAID);
    QList<std::optional<KRPlayInfo>> infos;
    QObject::connect(session.get(), &KRPlaybackSession::playInfoLoaded, [&](const std::optional<KRPlayInfo>& info) { infos.append(info); });
    session->startPart(64, 0);
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Resolving);
    ASSERT_TRUE(testsupport::waitUntil([&] { return media() != nullptr; }));
    EXPECT_EQ(media()->sound, play.progressiveURL(64));
    EXPECT_TRUE(media()->picture.isEmpty());
    EXPECT_EQ(session->quality(), 64);
    ASSERT_EQ(infos.size(), 1);
    EXPECT_FALSE(infos.first().has_value()) << "the chain brings no quality list";
    // The first address fails: its backup, without asking the service again.
    const int requests = play.playRequestCount();
    Q_EMIT media()->finished(1);
    EXPECT_EQ(media()->sound, play.progressiveBackupURL(64));
    EXPECT_EQ(play.playRequestCount(), requests);

    medias.clear();
    infos.clear();
    session->startPart(80, 3);
    ASSERT_TRUE(testsupport::waitUntil([&] { return media() != nullptr; }));
    EXPECT_EQ(media()->picture, play.dashVideoURL(80));
    EXPECT_EQ(media()->sound, play.dashAudioURL());
    EXPECT_DOUBLE_EQ(media()->startedAt, 3);
    EXPECT_TRUE(session->playsPair());
    EXPECT_EQ(session->quality(), 80);
    ASSERT_EQ(infos.size(), 1);
    ASSERT_TRUE(infos.first().has_value());
    EXPECT_TRUE(infos.first()->acceptedQualities.contains(80));
}

TEST_F(PlaybackSessionTest, ALocalFileFailsWithoutAskingTheService)
{
    auto video = std::make_shared<KRVideo>(*session->video());
    video->setPlayURL(QStringLiteral("file:///nowhere/part.mp4"));
    session->setVideo(video, testsupport::ServiceFixtures::kDetailAID);
    QList<bool> failures;
    QObject::connect(session.get(), &KRPlaybackSession::failed, [&](const QString&, bool installed) { failures.append(installed); });
    session->startPart(64, 0);
    ASSERT_TRUE(media());
    EXPECT_EQ(media()->sound, QUrl(QStringLiteral("file:///nowhere/part.mp4")));
    const int requests = play.playRequestCount();
    Q_EMIT media()->finished(1);
    EXPECT_EQ(failures, QList<bool>{false});
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Failed);
    EXPECT_EQ(play.playRequestCount(), requests);
}

} // namespace
