#include "playback/KRDASHPlayback.h"

#include "PlaybackTesting.h"
#include "playback/KRPlaybackTransport.h"
#include "playback/KRTransportMedia.h"
#include "platform/foundation/MainClock.h"
#include "platform/media/MediaPlayer.h"
#include "platform/media/MpvCore.h"
#include "platform/media/PlayerSurface.h"
#include "platform/uikit/View.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QRegularExpression>
#include <QScopeGuard>

#include <cmath>
#include <thread>

using namespace playbacktest;
namespace media = platform::media;

namespace {

class DASHPlaybackTest : public PlaybackMediaTest {
protected:
    // The 720p halves from local files, the sound in a transport shown at 320×180.
    void makePair(const QUrl& sound = fixtures::testMediaFileURL(QStringLiteral("audio-720p.m4s")),
                  const QUrl& picture = fixtures::testMediaFileURL(QStringLiteral("video-720p.m4s")))
    {
        transport = std::make_unique<KRPlaybackTransport>(sound);
        hostView()->setFrame(QRectF(0, 0, 320, 180));
        pair = std::make_unique<KRDASHPlayback>(transport.get(), picture);
        QObject::connect(pair.get(), &KRDASHPlayback::started, [this] { ++starts; });
        QObject::connect(pair.get(), &KRDASHPlayback::bufferingPaused, [this](const QString& reason) { bufferingReasons << reason; });
    }
    platform::uikit::View* hostView() const { return qobject_cast<platform::uikit::View*>(transport->view()); }
    double gateDrift() const
    {
        const auto matches = QRegularExpression(QStringLiteral("\\[dash-start-gate\\] generation=\\d+ time=[0-9.]+ drift=(-?[0-9.]+) resume="))
                                 .globalMatch(diagnosticsLog());
        double last = 99;
        for (auto it = matches; it.hasNext();)
            last = it.next().captured(1).toDouble();
        return last;
    }
    bool bothPlaying() const
    {
        return transport->playbackState() == 1 && pair->picturePlayer()->rate() > 0;
    }
    // Turns the event loop until the engine of `core` has no start or seek under way, then
    // hands what it told of the last one to the core: a restart still unread would land on
    // the next seek.
    static bool waitUntilTheEngineIsAtRest(media::MpvCore* core)
    {
        if (!testsupport::waitUntil([core] { return !core->flagFromEngineForTesting("seeking"); }))
            return false;
        QCoreApplication::processEvents();
        return true;
    }
    // Keeps the main thread busy, turning no event loop, as the installation of a player keeps
    // it for a moment: until the engine of `core` has restarted at `time` after it gave up
    // waiting for a picture of the seek there to be drawn (it counts those afresh from each
    // seek). Read in this order, a restart seen last is that seek's.
    static bool busyUntilTheEngineRestartedWithoutADraw(media::MpvCore* core, double time)
    {
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 10000) {
            const bool there = std::abs(core->doubleFromEngineForTesting("time-pos") - time) < 0.2;
            const bool gaveUp = core->doubleFromEngineForTesting("frame-drop-count") >= 1;
            if (there && gaveUp && !core->flagFromEngineForTesting("seeking"))
                return true;
            std::this_thread::yield();
        }
        return false;
    }

    std::unique_ptr<KRPlaybackTransport> transport;
    std::unique_ptr<KRDASHPlayback> pair;
    int starts = 0;
    QStringList bufferingReasons;
};

TEST_F(DASHPlaybackTest, SoundAndPictureStartTogetherOnceAligned)
{
    makePair();
    // The transport's own picture stays out; the muted picture player draws on its host.
    EXPECT_TRUE(transport->videoOutputSuppressed());
    ASSERT_NE(pair->surface(), nullptr);
    EXPECT_EQ(pair->surface()->parentWidget(), transport->videoLayerHost());
    EXPECT_EQ(pair->surface()->frame(), QRectF(0, 0, 320, 180));
    EXPECT_TRUE(pair->picturePlayer()->isMuted());
    EXPECT_EQ(transport->pollIntervalForTesting(), 1000);

    pair->start(2.0);
    EXPECT_TRUE(pair->isWaitingToStart());
    EXPECT_FALSE(pair->isRunning());
    EXPECT_EQ(transport->playbackState() == 1, false);
    KR_WAIT_UNTIL(starts == 1);
    EXPECT_TRUE(pair->isRunning());
    EXPECT_LE(std::abs(gateDrift()), KRDASHPlayback::kStartAlignment);
    EXPECT_NEAR(transport->currentPlaybackTime(), 2.0, 0.6);
    EXPECT_TRUE(bothPlaying());
    KR_WAIT_UNTIL(transport->currentPlaybackTime() > 3.2 && pair->picturePlayer()->framesSinceLoadOrSeek() > 3);
    EXPECT_LE(std::abs(pair->drift()), KRDASHPlayback::kPlayingDriftLimit);
    EXPECT_EQ(pair->picturePlayer()->presentationSize(), QSizeF(1280, 720));
    EXPECT_TRUE(bufferingReasons.isEmpty());
}

TEST_F(DASHPlaybackTest, SeeksCarryAGenerationAndOnlyTheLastCounts)
{
    makePair();
    pair->start(0);
    KR_WAIT_UNTIL(starts == 1);

    const quint64 before = pair->seekGeneration();
    const quint64 paused = pair->beginDASHSeekToTime(6.0, false);
    EXPECT_EQ(paused, before + 1);
    EXPECT_EQ(transport->playbackState() == 1, false);
    // Aligned and still: the gate opens without playing.
    KR_WAIT_UNTIL(!pair->isWaitingToStart());
    EXPECT_EQ(starts, 1);
    EXPECT_FALSE(pair->isRunning());
    EXPECT_NEAR(transport->currentPlaybackTime(), 6.0, 0.3);
    EXPECT_NEAR(pair->pictureTime(), 6.0, 0.3);
    EXPECT_EQ(pair->picturePlayer()->rate(), 0);

    // Two seeks in a row: the first one's completions find a newer generation and do nothing.
    pair->beginDASHSeekToTime(1.0, true);
    const quint64 last = pair->beginDASHSeekToTime(9.0, true);
    EXPECT_EQ(last, paused + 2);
    KR_WAIT_UNTIL(starts == 2);
    EXPECT_GE(transport->currentPlaybackTime(), 8.7);
    EXPECT_LE(std::abs(pair->drift()), KRDASHPlayback::kStartAlignment + 0.2);
    EXPECT_TRUE(bothPlaying());
}

// Played, paused, then sought: neither half is shown short of the time sought, and the
// picture is not pulled back to a sound that only reads short.
TEST_F(DASHPlaybackTest, APausedSeekPutsBothHalvesAtTheTimeSought)
{
    makePair();
    pair->start(0);
    KR_WAIT_UNTIL(starts == 1 && transport->currentPlaybackTime() > 1.0);
    pair->pause();
    for (const double time : {7.107, 3.05}) {
        SCOPED_TRACE(time);
        pair->beginDASHSeekToTime(time, false);
        platform::media::MpvCore* sound = transport->playerForTesting()->core();
        KR_WAIT_UNTIL(!pair->isWaitingToStart() && !pair->isSeekInFlight()
                      && sound->engineTimeToldForTesting() == sound->doubleFromEngineForTesting("time-pos"));
        pair->syncDASHPlayback();
        EXPECT_FALSE(pair->isRunning());
        EXPECT_NEAR(transport->currentPlaybackTime(), time, 0.05);
        EXPECT_NEAR(pair->pictureTime(), time, 0.05);
        EXPECT_FALSE(pair->isSeekInFlight()) << "the picture was realigned";
    }
    EXPECT_EQ(starts, 1);
}

TEST_F(DASHPlaybackTest, PictureDriftingAwayIsBroughtBack)
{
    makePair();
    pair->start(1.0);
    KR_WAIT_UNTIL(starts == 1);
    const int realigns = pair->realignCount();
    // Something moves the picture two seconds ahead of the sound.
    bool moved = false;
    pair->picturePlayer()->seek(transport->currentPlaybackTime() + 2.5, 0, 0, pair.get(), [&](bool) { moved = true; });
    KR_WAIT_UNTIL(moved);
    KR_WAIT_UNTIL(pair->realignCount() > realigns && std::abs(pair->drift()) <= KRDASHPlayback::kPlayingDriftLimit);
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral("[dash-picture-realign] reason=playing-drift")));
    EXPECT_TRUE(pair->isRunning());

    // Paused, the tighter limit holds.
    pair->pause();
    EXPECT_FALSE(pair->isRunning());
    EXPECT_EQ(transport->playbackState() == 1, false);
    moved = false;
    pair->picturePlayer()->seek(transport->currentPlaybackTime() + 0.6, 0, 0, pair.get(), [&](bool) { moved = true; });
    KR_WAIT_UNTIL(moved);
    KR_WAIT_UNTIL(std::abs(pair->drift()) <= KRDASHPlayback::kPausedDriftLimit);
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral("[dash-picture-realign] reason=paused-drift")));
    EXPECT_EQ(pair->picturePlayer()->rate(), 0);

    // Play goes through the gate again.
    pair->play();
    KR_WAIT_UNTIL(starts == 2);
    EXPECT_TRUE(bothPlaying());
}

TEST_F(DASHPlaybackTest, RealignmentsAreSpacedApart)
{
    makePair();
    pair->start(1.0);
    KR_WAIT_UNTIL(starts == 1);
    pair->pause();
    const auto displace = [&] {
        bool moved = false;
        pair->picturePlayer()->seek(transport->currentPlaybackTime() + 2.0, 0, 0, pair.get(), [&](bool) { moved = true; });
        [&] { KR_WAIT_UNTIL(moved); }();
        // The player reports its new time a little after the seek completes.
        [&] { KR_WAIT_UNTIL(std::abs(pair->drift()) > KRDASHPlayback::kPausedDriftLimit); }();
    };
    // From here the spacing follows the manual main clock alone.
    platform::MainClock::setManualForTesting(true);
    displace();
    const int realigns = pair->realignCount();
    double realignedAt = 0;
    for (int step = 0; step < 100 && pair->realignCount() == realigns; ++step) {
        platform::MainClock::advanceForTesting(0.01);
        pair->syncDASHPlayback();
        realignedAt = platform::MainClock::now();
    }
    ASSERT_EQ(pair->realignCount(), realigns + 1);
    KR_WAIT_UNTIL(std::abs(pair->drift()) <= KRDASHPlayback::kPausedDriftLimit);
    // Displaced again within 0.55 s of that seek: left alone until the time has passed.
    displace();
    platform::MainClock::advanceForTesting(realignedAt + 0.5 - platform::MainClock::now());
    pair->syncDASHPlayback();
    EXPECT_EQ(pair->realignCount(), realigns + 1);
    platform::MainClock::advanceForTesting(0.06);
    pair->syncDASHPlayback();
    EXPECT_EQ(pair->realignCount(), realigns + 2);
    platform::MainClock::setManualForTesting(false);
}

TEST_F(DASHPlaybackTest, PictureFollowsTheTransportsPauseAndRate)
{
    makePair();
    pair->start(0.5);
    KR_WAIT_UNTIL(starts == 1);
    transport->setCurrentPlaybackRate(1.5f);
    KR_WAIT_UNTIL(std::abs(pair->picturePlayer()->rate() - 1.5) < 0.001);
    // The page pauses the transport itself: the picture stops at the next tick.
    transport->pause();
    KR_WAIT_UNTIL(pair->picturePlayer()->rate() == 0);
}

// The engine stopping the sound by itself leaves the pair running, only silent: a play asked
// then starts the sound again where it stands, with no new pass through the gate, and the
// picture goes on with it in the same turn: a tick later, the sound would already be a fifth of
// a second ahead of a standing picture.
TEST_F(DASHPlaybackTest, APlayWhileRunningStartsASoundThatStoppedByItselfAgain)
{
    makePair();
    pair->start(1.0);
    KR_WAIT_UNTIL(starts == 1);
    transport->playerForTesting()->pause();
    // A picture being brought back to the sound follows it once it lands, as ever.
    KR_WAIT_UNTIL(transport->playbackState() != 1 && pair->picturePlayer()->rate() == 0 && !pair->isSeekInFlight());
    ASSERT_TRUE(pair->isRunning());
    const quint64 generation = pair->seekGeneration();

    pair->play();
    EXPECT_TRUE(bothPlaying()) << "the picture waits for the next tick";
    KR_WAIT_UNTIL(bothPlaying());
    EXPECT_TRUE(pair->isRunning());
    EXPECT_EQ(pair->seekGeneration(), generation);
    EXPECT_EQ(starts, 1);
    const double from = transport->currentPlaybackTime();
    KR_WAIT_UNTIL(transport->currentPlaybackTime() > from + 1.0 && pair->pictureTime() > from + 0.8);
    EXPECT_LE(std::abs(pair->drift()), KRDASHPlayback::kPlayingDriftLimit);
    EXPECT_TRUE(bothPlaying());

    // A play while both already play changes nothing.
    const int realigns = pair->realignCount();
    pair->play();
    EXPECT_EQ(pair->seekGeneration(), generation);
    EXPECT_EQ(pair->realignCount(), realigns);
    EXPECT_TRUE(bothPlaying());

    // The transport itself paused by someone else: its own play was taken back too.
    transport->pause();
    KR_WAIT_UNTIL(pair->picturePlayer()->rate() == 0 && !pair->isSeekInFlight());
    ASSERT_TRUE(pair->isRunning());
    pair->play();
    EXPECT_TRUE(bothPlaying()) << "the picture waits for the next tick";
    KR_WAIT_UNTIL(bothPlaying());
    EXPECT_EQ(pair->seekGeneration(), generation);
    EXPECT_EQ(starts, 1);
}

TEST_F(DASHPlaybackTest, BufferingPauseHoldsBothUntilTheyCanGoOnTogether)
{
    makePair();
    pair->start(1.0);
    KR_WAIT_UNTIL(starts == 1);
    pair->pauseForBuffering(QStringLiteral("audio-stalled"));
    EXPECT_TRUE(pair->isRebuffering());
    EXPECT_FALSE(pair->isRunning());
    EXPECT_EQ(bufferingReasons, QStringList{QStringLiteral("audio-stalled")});
    EXPECT_EQ(transport->playbackState() == 1, false);
    EXPECT_EQ(pair->picturePlayer()->rate(), 0);
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral("[dash-buffering-pause] reason=audio-stalled time=")));
    // A second call while already paused adds nothing.
    pair->pauseForBuffering(QStringLiteral("again"));
    EXPECT_EQ(bufferingReasons.size(), 1);
    // Local halves are ready at once: the gate opens again on a tick.
    KR_WAIT_UNTIL(starts == 2);
    EXPECT_FALSE(pair->isRebuffering());
    EXPECT_TRUE(bothPlaying());
}

TEST_F(DASHPlaybackTest, StoppingRemovesThePictureAndIsHarmlessTwice)
{
    makePair();
    pair->start(0);
    KR_WAIT_UNTIL(starts == 1);
    QPointer<media::PlayerSurface> surface = pair->surface();
    pair->stopDASHPlayback();
    EXPECT_FALSE(pair->isActive());
    EXPECT_FALSE(pair->isRunning());
    EXPECT_EQ(pair->picturePlayer(), nullptr);
    EXPECT_FALSE(transport->videoOutputSuppressed());
    EXPECT_FALSE(transport->videoLayerHost()->findChildren<media::PlayerSurface*>().contains(surface.data()));
    KR_WAIT_UNTIL(surface.isNull());
    pair->stopDASHPlayback();
    // Nothing it does after a stop reaches the transport.
    pair->beginDASHSeekToTime(3, true);
    pair->play();
    pair->syncDASHPlayback();
    EXPECT_EQ(starts, 1);
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral("[dash-pair-stopped] ")));
}

TEST_F(DASHPlaybackTest, TheTransportMayGoFirst)
{
    makePair();
    pair->start(0);
    KR_WAIT_UNTIL(starts == 1);
    transport.reset();
    pair->syncDASHPlayback();
    pair->beginDASHSeekToTime(2, true);
    pair->layoutSurface();
    EXPECT_EQ(pair->surface(), nullptr);
    pair->stopDASHPlayback();
    pair.reset();
}

TEST_F(DASHPlaybackTest, HalvesOverTheNetworkPlayInStep)
{
    testsupport::FakeService service({});
    const QUrl sound = fixtures::serveTestMedia(service, QStringLiteral("audio-720p.m4s"));
    const QUrl picture = fixtures::serveTestMedia(service, QStringLiteral("video-720p.m4s"));
    makePair(sound, picture);
    pair->start(3.0);
    KR_WAIT_UNTIL(starts == 1);
    EXPECT_LE(std::abs(gateDrift()), KRDASHPlayback::kStartAlignment);
    KR_WAIT_UNTIL(transport->currentPlaybackTime() > 4.0);
    EXPECT_LE(std::abs(pair->drift()), KRDASHPlayback::kPlayingDriftLimit);
}

TEST_F(DASHPlaybackTest, APictureThatCannotBeReadNeverStartsTheSound)
{
    testsupport::FakeService service({});
    const QUrl sound = fixtures::serveTestMedia(service, QStringLiteral("audio-720p.m4s"));
    makePair(sound, fixtures::missingTestMediaURL(service));
    pair->start(0);
    KR_WAIT_UNTIL(pair->picturePlayer()->status() == media::MediaPlayer::StatusFailed && (transport->loadState() & 1u));
    pair->syncDASHPlayback();
    EXPECT_EQ(starts, 0);
    EXPECT_TRUE(pair->isWaitingToStart());
    EXPECT_EQ(transport->playbackState() == 1, false);
}

} // namespace

TEST_F(DASHPlaybackTest, ReadinessAndASeekInFlightAreReadable)
{
    makePair();
    EXPECT_FALSE(pair->isSoundReady());
    EXPECT_FALSE(pair->isPictureReady());
    pair->start(1.0);
    EXPECT_TRUE(pair->isSeekInFlight());
    KR_WAIT_UNTIL(starts == 1);
    EXPECT_TRUE(pair->isSoundReady());
    EXPECT_TRUE(pair->isPictureReady());
    EXPECT_FALSE(pair->isSeekInFlight());
    pair->beginDASHSeekToTime(5.0, true);
    EXPECT_TRUE(pair->isSeekInFlight());
    KR_WAIT_UNTIL(starts == 2);
    EXPECT_FALSE(pair->isSeekInFlight());
}

// A seek that has not landed tells where it goes, and whether it plays once it lands may be
// changed meanwhile, as a switch begun during it does.
TEST_F(DASHPlaybackTest, APendingSeekTellsItsTimeAndItsResumeMayChangeBeforeItLands)
{
    KRTransportMedia media(fixtures::testMediaFileURL(QStringLiteral("audio-720p.m4s")), fixtures::testMediaFileURL(QStringLiteral("video-720p.m4s")));
    media.start(0);
    KR_WAIT_UNTIL(media.dash()->isRunning());
    EXPECT_EQ(media.pendingSeekTime(), -1);
    media.seek(6.0, true);
    EXPECT_TRUE(media.isSeekInFlight());
    EXPECT_EQ(media.pendingSeekTime(), 6.0);
    media.setPendingSeekResume(false);
    KR_WAIT_UNTIL(!media.isSeekInFlight());
    EXPECT_EQ(media.pendingSeekTime(), -1);
    EXPECT_FALSE(media.dash()->isRunning()) << "landed without playing";
    EXPECT_NEAR(media.currentTime(), 6.0, 0.3);
    EXPECT_EQ(media.dash()->picturePlayer()->rate(), 0);
    // And the other way: a seek asked paused plays once it lands.
    media.seek(3.0, false);
    media.setPendingSeekResume(true);
    KR_WAIT_UNTIL(media.dash()->isRunning() && media.currentTime() > 3.2);
    EXPECT_GT(media.dash()->picturePlayer()->rate(), 0);
    QPointer<KRPlaybackTransport> transport = media.transport();
    QPointer<KRDASHPlayback> dash = media.dash();
    media.stop();
    KR_WAIT_UNTIL(!transport && !dash);
}

TEST_F(DASHPlaybackTest, ASuspendedSyncLeavesThePictureStoppedWhileTheSoundPlays)
{
    makePair();
    pair->start(0);
    KR_WAIT_UNTIL(starts == 1 && transport->currentPlaybackTime() > 0.3);
    pair->suspendSync();
    EXPECT_TRUE(pair->isSyncSuspended());
    EXPECT_EQ(pair->picturePlayer()->rate(), 0);
    EXPECT_EQ(pair->surface()->player(), nullptr);
    const double pictureAt = pair->pictureTime();
    // The sound goes on; ticks that would have restarted the picture do nothing.
    const double soundAt = transport->currentPlaybackTime();
    KR_WAIT_UNTIL(transport->currentPlaybackTime() > soundAt + 1.0);
    pair->syncDASHPlayback();
    pair->play();
    EXPECT_EQ(pair->picturePlayer()->rate(), 0);
    EXPECT_NEAR(pair->pictureTime(), pictureAt, 0.1);

    pair->resumeSync();
    EXPECT_FALSE(pair->isSyncSuspended());
    EXPECT_EQ(pair->surface()->player(), pair->picturePlayer());
    // The picture catches up with the sound and moves again.
    KR_WAIT_UNTIL(pair->picturePlayer()->rate() > 0 && std::abs(pair->drift()) <= KRDASHPlayback::kPlayingDriftLimit &&
                  pair->pictureTime() > pictureAt + 0.8);
}

TEST_F(DASHPlaybackTest, APairInTheBackgroundKeepsItsSoundTransportSuppressed)
{
    KRTransportMedia media(fixtures::testMediaFileURL(QStringLiteral("audio-720p.m4s")), fixtures::testMediaFileURL(QStringLiteral("video-720p.m4s")));
    media.start(0);
    KR_WAIT_UNTIL(media.dash()->isRunning() && media.transport()->currentPlaybackTime() > 0.3);
    media.setPictureSuspended(true);
    EXPECT_TRUE(media.dash()->isSyncSuspended());
    EXPECT_TRUE(media.transport()->videoOutputSuppressed());
    // Back in the foreground only the pair's picture resumes: the transport carries the sound
    // alone, and its own picture would be a second one under the pair's.
    media.setPictureSuspended(false);
    EXPECT_FALSE(media.dash()->isSyncSuspended());
    EXPECT_TRUE(media.transport()->videoOutputSuppressed());
    // The players go on the next turn, not with the media.
    QPointer<KRPlaybackTransport> transport = media.transport();
    QPointer<KRDASHPlayback> dash = media.dash();
    media.stop();
    KR_WAIT_UNTIL(!transport && !dash);
}

TEST_F(DASHPlaybackTest, ARateSetInTheBackgroundLeavesTheSuspendedPictureStopped)
{
    KRTransportMedia media(fixtures::testMediaFileURL(QStringLiteral("audio-720p.m4s")), fixtures::testMediaFileURL(QStringLiteral("video-720p.m4s")));
    media.start(0);
    KR_WAIT_UNTIL(media.dash()->isRunning() && media.transport()->currentPlaybackTime() > 0.3);
    // Listening in the background: the picture is suspended, then the chosen speed is set.
    media.setPictureSuspended(true);
    media.setRate(1.5f);
    EXPECT_EQ(media.dash()->picturePlayer()->rate(), 0) << "not decoded in the background";
    EXPECT_FLOAT_EQ(media.transport()->currentPlaybackRate(), 1.5f);
    // Back in the foreground the picture takes the rate again.
    media.setPictureSuspended(false);
    media.setRate(1.5f);
    KR_WAIT_UNTIL(std::abs(media.dash()->picturePlayer()->rate() - 1.5) < 0.001);
    QPointer<KRPlaybackTransport> transport = media.transport();
    QPointer<KRDASHPlayback> dash = media.dash();
    media.stop();
    KR_WAIT_UNTIL(!transport && !dash);
}

TEST_F(DASHPlaybackTest, APrewarmedPairWaitsPausedAtItsTime)
{
    KRTransportMedia media(fixtures::testMediaFileURL(QStringLiteral("audio-720p.m4s")), fixtures::testMediaFileURL(QStringLiteral("video-720p.m4s")));
    media.prewarm(3.0);
    KR_WAIT_UNTIL(media.isSoundReady() && media.isPictureReady() && !media.isSeekInFlight());
    EXPECT_FALSE(media.isPairRunning());
    EXPECT_NE(media.transport()->playbackState(), 1);
    EXPECT_NEAR(media.currentTime(), 3.0, 0.3);
    EXPECT_NEAR(media.dash()->pictureTime(), 3.0, 0.3);
    media.play();
    KR_WAIT_UNTIL(media.isPairRunning() && media.transport()->currentPlaybackTime() > 3.3);
    QPointer<KRPlaybackTransport> transport = media.transport();
    QPointer<KRDASHPlayback> dash = media.dash();
    media.stop();
    KR_WAIT_UNTIL(!transport && !dash);
}

// A replay tapped as a pair made ready off screen takes over: the main thread is busy with
// the installation for longer than the engine waits for the picture of the replay's seek to
// be drawn, and the engine keeps that picture undrawn. The pair opens its gate on it as the
// seek lands, and both halves play from there.
TEST_F(DASHPlaybackTest, AReplaysSeekLandingWhileTheMainThreadWasBusyOpensTheGate)
{
    KRTransportMedia media(fixtures::testMediaFileURL(QStringLiteral("audio-720p.m4s")), fixtures::testMediaFileURL(QStringLiteral("video-720p.m4s")));
    media.prewarm(1.0);
    KR_WAIT_UNTIL(media.isSoundReady() && media.isPictureReady() && !media.isSeekInFlight());
    media::MpvCore* picture = media.dash()->picturePlayer()->core();
    ASSERT_TRUE(waitUntilTheEngineIsAtRest(picture));
    {
        // Only the seek's landing may open the gate: no tick runs meanwhile.
        platform::MainClock::setManualForTesting(true);
        const auto wallClock = qScopeGuard([] { platform::MainClock::setManualForTesting(false); });
        media.seek(0, true);
        ASSERT_TRUE(busyUntilTheEngineRestartedWithoutADraw(picture, 0));
        KR_WAIT_UNTIL(media.isPairRunning());
    }
    EXPECT_GT(media.dash()->picturePlayer()->framesSinceLoadOrSeek(), 0);
    KR_WAIT_UNTIL(media.transport()->currentPlaybackTime() > 0.3 && media.dash()->picturePlayer()->rate() > 0);
    EXPECT_LE(std::abs(media.dash()->drift()), KRDASHPlayback::kPlayingDriftLimit);
    QPointer<KRPlaybackTransport> transport = media.transport();
    QPointer<KRDASHPlayback> dash = media.dash();
    media.stop();
    KR_WAIT_UNTIL(!transport && !dash);
}
