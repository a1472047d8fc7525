#include "MediaTesting.h"

#include "platform/media/AudioSession.h"
#include "platform/net/NetworkSeams.h"
#include "platform/media/MediaImageGenerator.h"
#include "platform/media/MediaPlayer.h"
#include "platform/media/MpvCore.h"
#include "platform/media/PlayerSurface.h"
#include "platform/media/VolumeView.h"
#include "platform/uikit/Slider.h"
#include "support/FakeService.h"
#include "support/PictureDifference.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>

#include <cmath>
#include <memory>
#include <optional>

using platform::media::MediaPlayer;
using platform::media::PlayerSurface;
using namespace mediatest;

namespace {

struct Events {
    int ends = 0;
    int failures = 0;
    int stalls = 0;
    std::optional<platform::Error> error;

    void watch(MediaPlayer& player)
    {
        QObject::connect(&player, &MediaPlayer::didPlayToEnd, [this] { ++ends; });
        QObject::connect(&player, &MediaPlayer::failedToPlayToEnd, [this](const platform::Error& e) {
            ++failures;
            error = e;
        });
        QObject::connect(&player, &MediaPlayer::playbackStalled, [this] { ++stalls; });
    }
};

using MediaPlayerTest = MediaTest;

TEST_F(MediaPlayerTest, LocalClipIsReadyWithItsLengthAndPictureSize)
{
    MediaPlayer player;
    EXPECT_EQ(player.status(), MediaPlayer::StatusUnknown);
    EXPECT_EQ(player.presentationSize(), QSizeF(0, 0));
    player.replaceCurrentItem(fixtures::testMediaFileURL(QStringLiteral("clip-360p.mp4")));
    KR_WAIT_UNTIL(player.status() == MediaPlayer::StatusReadyToPlay && player.presentationSize().width() > 0);
    EXPECT_NEAR(player.duration(), 12.0, 0.1);
    EXPECT_EQ(player.presentationSize(), QSizeF(640, 360));
    EXPECT_EQ(player.rate(), 0.0);
    EXPECT_EQ(player.timeControlStatus(), MediaPlayer::TimeControlPaused);
}

TEST_F(MediaPlayerTest, SoundAloneHasNoPictureYetIsReady)
{
    MediaPlayer player;
    player.replaceCurrentItem(fixtures::testMediaFileURL(QStringLiteral("audio.m4s")));
    KR_WAIT_UNTIL(player.status() == MediaPlayer::StatusReadyToPlay && player.duration() > 0);
    EXPECT_NEAR(player.duration(), 12.0, 0.2);
    EXPECT_EQ(player.presentationSize(), QSizeF(0, 0));
    PlayerSurface surface(QRectF(0, 0, 160, 90));
    surface.setPlayer(&player);
    EXPECT_TRUE(surface.isReadyForDisplay());
}

TEST_F(MediaPlayerTest, UnreadableItemsFailOnceWithAnError)
{
    testsupport::FakeService service({});
    struct Case {
        const char* name;
        QUrl url;
    };
    const Case cases[] = {
        {"garbage", fixtures::testMediaFileURL(QStringLiteral("garbage.mp4"))},
        {"missing file", fixtures::testMediaFileURL(QStringLiteral("nothing-here.mp4"))},
        {"https 404", fixtures::missingTestMediaURL(service)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MediaPlayer player;
        Events events;
        events.watch(player);
        player.replaceCurrentItem(c.url);
        player.play();
        KR_WAIT_UNTIL(events.failures > 0);
        EXPECT_EQ(player.status(), MediaPlayer::StatusFailed);
        ASSERT_TRUE(player.error().has_value());
        EXPECT_FALSE(player.error()->message().isEmpty());
        EXPECT_EQ(player.rate(), 0.0);
        // Nothing more arrives for the same item.
        bool finished = false;
        player.seek(1, 0, 0, &player, [&](bool f) { finished = !f; });
        EXPECT_TRUE(finished);
        EXPECT_EQ(events.failures, 1);
        EXPECT_EQ(events.ends, 0);
    }
}

TEST_F(MediaPlayerTest, ServedOverVerifiedTLSWithRanges)
{
    testsupport::FakeService service({});
    // Slow enough that the end of the file is not read before the seek below.
    testsupport::MediaFixtures::Serving serving;
    serving.throttleChunkBytes = 16 * 1024;
    serving.throttleMs = 20;
    const QUrl url = fixtures::serveTestMedia(service, QStringLiteral("clip-360p.mp4"), serving);
    MediaPlayer player;
    player.replaceCurrentItem(url);
    KR_WAIT_UNTIL(player.status() == MediaPlayer::StatusReadyToPlay);
    EXPECT_NEAR(player.duration(), 12.0, 0.1);
    const auto requests = service.requestsTo(QStringLiteral("/media/clip-360p.mp4"));
    ASSERT_FALSE(requests.isEmpty());
    EXPECT_TRUE(requests.first().tls);
    EXPECT_EQ(requests.first().host, QStringLiteral("localhost"));
    ASSERT_TRUE(player.lastAccessLogEvent().has_value());

    // Far ahead of what was read, a seek asks for the rest of the file by range.
    bool seeked = false;
    player.seek(11.0, 0, 0, &player, [&](bool finished) { seeked = finished; });
    KR_WAIT_UNTIL(seeked);
    bool ranged = false;
    for (const auto& request : service.requestsTo(QStringLiteral("/media/clip-360p.mp4"))) {
        const QString range = request.header(QStringLiteral("Range"));
        ranged |= range.startsWith(QStringLiteral("bytes=")) && !range.startsWith(QStringLiteral("bytes=0-"));
    }
    EXPECT_TRUE(ranged);
}

TEST_F(MediaPlayerTest, UntrustedCertificateIsRefused)
{
    testsupport::FakeService service({});
    const QUrl url = fixtures::serveTestMedia(service, QStringLiteral("clip-360p.mp4"));
    // Without the service's authority the engine must not accept its certificate.
    platform::NetworkSeams::setExtraCAFile(QString());
    MediaPlayer player;
    Events events;
    events.watch(player);
    player.replaceCurrentItem(url);
    KR_WAIT_UNTIL(events.failures == 1);
    EXPECT_EQ(player.status(), MediaPlayer::StatusFailed);
}

TEST_F(MediaPlayerTest, SeeksCompleteOnceAndTheRateSurvivesThem)
{
    MediaPlayer player;
    player.replaceCurrentItem(fixtures::testMediaFileURL(QStringLiteral("clip-360p.mp4")));
    // Asked before the item is known: runs once it is.
    int firstCalls = 0;
    bool firstFinished = false;
    player.seek(4.0, 0, 0, &player, [&](bool finished) {
        ++firstCalls;
        firstFinished = finished;
    });
    KR_WAIT_UNTIL(firstCalls == 1);
    EXPECT_TRUE(firstFinished);
    EXPECT_NEAR(player.currentTime(), 4.0, 0.05);

    player.play();
    EXPECT_EQ(player.rate(), 1.0);
    // A seek superseded by another finishes unfinished; the later one finishes.
    std::vector<bool> results;
    player.seek(8.0, 0, 0, &player, [&](bool f) { results.push_back(f); });
    EXPECT_EQ(player.rate(), 1.0);
    player.seek(2.0, 0.5, 0.5, &player, [&](bool f) { results.push_back(f); });
    EXPECT_NEAR(player.currentTime(), 2.0, 0.01);
    KR_WAIT_UNTIL(results.size() == 2);
    EXPECT_EQ(results, (std::vector<bool>{false, true}));
    EXPECT_EQ(player.rate(), 1.0);

    // A new item while playing keeps playing.
    player.replaceCurrentItem(fixtures::testMediaFileURL(QStringLiteral("clip-720p.mp4")));
    EXPECT_EQ(player.rate(), 1.0);
    KR_WAIT_UNTIL(player.status() == MediaPlayer::StatusReadyToPlay && player.currentTime() > 0.1);
    EXPECT_EQ(player.rate(), 1.0);
    player.pause();
    EXPECT_EQ(player.rate(), 0.0);
}

TEST_F(MediaPlayerTest, QuickPlaysPausesAndRatesEndAsLastAsked)
{
    MediaPlayer player;
    player.replaceCurrentItem(fixtures::testMediaFileURL(QStringLiteral("clip-360p.mp4")));
    KR_WAIT_UNTIL(player.status() == MediaPlayer::StatusReadyToPlay);
    platform::media::MpvCore* core = player.core();
    // The engine's change events trail the requests; one arriving between two requests must
    // not make the second look already done, or the engine stays where the first left it.
    for (int round = 0; round < 20; ++round) {
        for (int i = 0; i < 10; ++i) {
            player.play();
            QCoreApplication::processEvents();
            player.pause();
            QCoreApplication::processEvents();
        }
        KR_WAIT_UNTIL(core->flagFromEngineForTesting("pause"));
        for (int i = 0; i < 10; ++i) {
            player.pause();
            QCoreApplication::processEvents();
            player.play();
            QCoreApplication::processEvents();
        }
        KR_WAIT_UNTIL(!core->flagFromEngineForTesting("pause"));
        for (int i = 0; i < 10; ++i) {
            player.setRate(2.0);
            QCoreApplication::processEvents();
            player.setRate(1.0);
            QCoreApplication::processEvents();
        }
        KR_WAIT_UNTIL(core->doubleFromEngineForTesting("speed") == 1.0);
        player.pause();
    }
}

TEST_F(MediaPlayerTest, ASeekOfAGoneOwnerCompletesNothing)
{
    // One owner goes while its seek waits for the item, the other while its seek is
    // superseded; a third seek with an owner that stays shows the events did come.
    MediaPlayer player;
    player.replaceCurrentItem(fixtures::testMediaFileURL(QStringLiteral("clip-360p.mp4")));
    int goneCalls = 0;
    auto waiting = std::make_unique<QObject>();
    player.seek(4.0, 0, 0, waiting.get(), [&](bool) { ++goneCalls; });
    waiting.reset();
    auto superseded = std::make_unique<QObject>();
    player.seek(5.0, 0, 0, superseded.get(), [&](bool) { ++goneCalls; });
    superseded.reset();
    QObject stays;
    bool finished = false;
    player.seek(6.0, 0, 0, &stays, [&](bool f) { finished = f; });
    KR_WAIT_UNTIL(finished);
    EXPECT_EQ(goneCalls, 0);

    // And one still pending when the player itself goes.
    auto last = std::make_unique<MediaPlayer>();
    last->replaceCurrentItem(fixtures::testMediaFileURL(QStringLiteral("clip-360p.mp4")));
    auto owner = std::make_unique<QObject>();
    last->seek(3.0, 0, 0, owner.get(), [&](bool) { ++goneCalls; });
    owner.reset();
    last.reset();
    EXPECT_EQ(goneCalls, 0);
}

TEST_F(MediaPlayerTest, EndsOnceAtTheEndAndAgainAfterASeekBack)
{
    MediaPlayer player;
    Events events;
    events.watch(player);
    player.replaceCurrentItem(fixtures::testMediaFileURL(QStringLiteral("clip-360p.mp4")));
    bool seeked = false;
    player.seek(11.0, 0, 0, &player, [&](bool) { seeked = true; });
    KR_WAIT_UNTIL(seeked);
    player.setRate(4.0);
    KR_WAIT_UNTIL(events.ends == 1);
    EXPECT_EQ(player.rate(), 0.0);
    EXPECT_EQ(events.failures, 0);
    // Held at the end, the engine reports nothing more: a seek there finds one end.
    seeked = false;
    player.seek(11.9, 0, 0, &player, [&](bool) { seeked = true; });
    KR_WAIT_UNTIL(seeked);
    EXPECT_EQ(events.ends, 1);

    seeked = false;
    player.seek(11.5, 0, 0, &player, [&](bool) { seeked = true; });
    KR_WAIT_UNTIL(seeked);
    player.play();
    EXPECT_EQ(player.rate(), 4.0);
    KR_WAIT_UNTIL(events.ends == 2);
}

TEST_F(MediaPlayerTest, SurfaceRendersDecodedFramesOffscreen)
{
    MediaPlayer player;
    PlayerSurface surface(QRectF(0, 0, 320, 180));
    surface.setPlayer(&player);
    player.replaceCurrentItem(fixtures::testMediaFileURL(QStringLiteral("clip-360p.mp4")));
    KR_WAIT_UNTIL(player.framesSinceLoadOrSeek() > 0);
    EXPECT_TRUE(surface.isReadyForDisplay());
    EXPECT_EQ(player.core()->frameImage().size(), QSize(320, 180));
    // The test picture is colourful, not black.
    const QImage frame = player.core()->frameImage();
    int bright = 0;
    for (int x = 0; x < frame.width(); x += 8)
        bright += qGray(frame.pixel(x, frame.height() / 2)) > 60;
    EXPECT_GT(bright, 10);
    // Every pixel is opaque, as Qt's RGB32 needs: drawn over black it keeps its colours.
    EXPECT_EQ(frame.constBits()[3], 0xff);
    QImage canvas(frame.size(), QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::black);
    {
        QPainter painter(&canvas);
        painter.setOpacity(0.999);
        painter.drawImage(QPointF(0, 0), frame);
    }
    for (const QPoint at : {QPoint(40, 90), QPoint(200, 90), QPoint(300, 150)}) {
        EXPECT_NEAR(qRed(canvas.pixel(at)), qRed(frame.pixel(at)), 2);
        EXPECT_NEAR(qGreen(canvas.pixel(at)), qGreen(frame.pixel(at)), 2);
        EXPECT_NEAR(qBlue(canvas.pixel(at)), qBlue(frame.pixel(at)), 2);
    }
    const QImage grab = surface.grab().toImage();
    EXPECT_GT(qGray(grab.pixel(40, 90)) + qGray(grab.pixel(200, 90)), 60);

    // A seek starts the count again; invisible, the surface asks for a tiny picture.
    surface.setAlpha(0);
    surface.refreshRenderSize();
    bool seeked = false;
    player.seek(6.0, 0, 0, &player, [&](bool) { seeked = true; });
    EXPECT_EQ(player.framesSinceLoadOrSeek(), 0);
    KR_WAIT_UNTIL(seeked && player.framesSinceLoadOrSeek() > 0);
    EXPECT_EQ(player.core()->frameImage().size(), QSize(16, 16));
}

// A player made ready before its surface is laid out (or while it is hidden) decodes its
// picture at a tiny size; paused, no next picture comes to be drawn larger.
TEST_F(MediaPlayerTest, APausedPictureIsDrawnAgainAtTheSizeItIsShownAt)
{
    MediaPlayer player;
    PlayerSurface surface{QRectF()};
    surface.setPlayer(&player);
    player.replaceCurrentItem(fixtures::testMediaFileURL(QStringLiteral("clip-360p.mp4")));
    bool seeked = false;
    player.seek(3.52, 0, 0, &player, [&](bool) { seeked = true; });
    KR_WAIT_UNTIL(seeked && player.framesSinceLoadOrSeek() > 0);
    EXPECT_EQ(player.core()->frameImage().size(), QSize(16, 16));
    EXPECT_EQ(player.rate(), 0);

    // Laid out at the clip's size, still paused: the picture is the clip's frame at 3.52 s as the
    // decoder gives it (the colour conversions differ by about 2.3 on average), at once.
    const QImage reference(fixtures::testMediaPath(QStringLiteral("frame-360p-3.52.png")));
    ASSERT_EQ(reference.size(), QSize(640, 360));
    surface.setFrame(QRectF(0, 0, 640, 360));
    EXPECT_EQ(player.core()->frameImage().size(), QSize(640, 360));
    EXPECT_LT(testsupport::meanPictureDifference(player.core()->frameImage(), reference), 4.0);
    EXPECT_LT(testsupport::meanPictureDifference(surface.grab().toImage(), reference), 4.0);

    // Hidden it asks for a tiny picture again; shown, the picture comes back at its size.
    surface.setHidden(true);
    surface.refreshRenderSize();
    EXPECT_EQ(player.core()->frameImage().size(), QSize(640, 360)) << "nothing is drawn for a hidden surface";
    surface.setHidden(false);
    surface.refreshRenderSize();
    EXPECT_LT(testsupport::meanPictureDifference(surface.grab().toImage(), reference), 4.0);
}

namespace {

// The 360p clip on a surface of its size, with its picture at 3.52 s as the encoder made it.
struct ClipOnSurface {
    ClipOnSurface() { surface.setPlayer(&player); }

    // Opened and landed at `seconds`, its picture drawn.
    void openLandedAt(double seconds)
    {
        ASSERT_EQ(at352.size(), QSize(640, 360));
        player.replaceCurrentItem(fixtures::testMediaFileURL(QStringLiteral("clip-360p.mp4")));
        bool landed = false;
        player.seek(seconds, 0, 0, &player, [&](bool) { landed = true; });
        KR_WAIT_UNTIL(landed && player.framesSinceLoadOrSeek() > 0);
    }

    MediaPlayer player;
    PlayerSurface surface{QRectF(0, 0, 640, 360)};
    const QImage at352{fixtures::testMediaPath(QStringLiteral("frame-360p-3.52.png"))};
};

// Keeps the main thread busy, handling no event, until the engine has taken `pictures` more
// pictures as shown without their being drawn.
void busyUntilTheEngineTookAsShown(MediaPlayer& player, int pictures)
{
    const double dropped = player.core()->doubleFromEngineForTesting("frame-drop-count");
    QElapsedTimer busy;
    busy.start();
    while (player.core()->doubleFromEngineForTesting("frame-drop-count") < dropped + pictures && busy.elapsed() < 10'000) {
    }
    ASSERT_GE(player.core()->doubleFromEngineForTesting("frame-drop-count"), dropped + pictures);
}

} // namespace

// The engine takes a picture nobody draws within a fifth of a second as shown, and keeps it as
// its current one without another update. A paused player whose main thread was busy that
// long still shows the picture its seek landed on.
TEST_F(MediaPlayerTest, APictureTheEngineTookAsShownWhileTheMainThreadWasBusyIsDrawn)
{
    ClipOnSurface clip;
    MediaPlayer& player = clip.player;
    const QImage& reference = clip.at352;
    ASSERT_NO_FATAL_FAILURE(clip.openLandedAt(3.0));
    EXPECT_GT(testsupport::meanPictureDifference(player.core()->frameImage(), reference), 6.0);

    bool seeked = false;
    player.seek(3.52, 0, 0, &player, [&](bool) { seeked = true; });
    // Drawing nothing until the engine has taken as shown both its redraw of the picture before
    // and the picture at 3.52 s.
    ASSERT_NO_FATAL_FAILURE(busyUntilTheEngineTookAsShown(player, 2));
    KR_WAIT_UNTIL(seeked && player.framesSinceLoadOrSeek() > 0);
    KR_WAIT_UNTIL(testsupport::meanPictureDifference(player.core()->frameImage(), reference) < 4.0);
    EXPECT_LT(testsupport::meanPictureDifference(clip.surface.grab().toImage(), reference), 4.0);
}

// Paused while its main thread is busy, a playing player's engine takes the pictures it hands
// over meanwhile as shown, the one it stops on and its redraws of it among them, and tells of no
// new frame afterwards. The picture shown is the one the player stands on, not one drawn before.
TEST_F(MediaPlayerTest, APlayerPausedWhileTheMainThreadWasBusyShowsThePictureItStoppedOn)
{
    ClipOnSurface clip;
    MediaPlayer& player = clip.player;
    ASSERT_NO_FATAL_FAILURE(clip.openLandedAt(1.0));
    player.play();
    KR_WAIT_UNTIL(player.framesSinceLoadOrSeek() > 5);

    ASSERT_NO_FATAL_FAILURE(busyUntilTheEngineTookAsShown(player, 2));
    player.pause();
    // Busy on until the paused engine has given up drawing: it takes the picture it stopped on
    // as shown, redraws it once or twice, and takes each redraw as shown a fifth of a second
    // later. A second with none taken is well past the last of them.
    QElapsedTimer busy;
    busy.start();
    QElapsedTimer sinceTaken;
    sinceTaken.start();
    double taken = player.core()->doubleFromEngineForTesting("frame-drop-count");
    bool paused = false;
    while (!(paused && sinceTaken.elapsed() > 1000) && busy.elapsed() < 10'000) {
        paused = paused || player.core()->flagFromEngineForTesting("pause");
        if (const double now = player.core()->doubleFromEngineForTesting("frame-drop-count"); now != taken) {
            taken = now;
            sinceTaken.restart();
        }
    }
    ASSERT_TRUE(paused);

    platform::media::MediaImageGenerator generator(fixtures::testMediaFileURL(QStringLiteral("clip-360p.mp4")));
    generator.setZeroTolerance(true);
    const QImage stoppedOn = generator.copyImageAtTime(player.core()->doubleFromEngineForTesting("time-pos"));
    ASSERT_EQ(stoppedOn.size(), QSize(640, 360));
    ASSERT_GT(testsupport::meanPictureDifference(player.core()->frameImage(), stoppedOn), 6.0) << "drawn before the busy spell";
    KR_WAIT_UNTIL(testsupport::meanPictureDifference(player.core()->frameImage(), stoppedOn) < 4.0);
    EXPECT_LT(testsupport::meanPictureDifference(clip.surface.grab().toImage(), stoppedOn), 4.0);
}

// A seek asked while the engine's restart for the seek before it still waits to be read is not
// finished by that restart: its caller would find the picture of the seek before.
TEST_F(MediaPlayerTest, ARestartLeftOverFromTheSeekBeforeDoesNotFinishTheNextOne)
{
    ClipOnSurface clip;
    MediaPlayer& player = clip.player;
    ASSERT_NO_FATAL_FAILURE(clip.openLandedAt(1.0));

    std::optional<bool> first;
    player.seek(3.52, 0, 0, &player, [&](bool finished) { first = finished; });
    // Reading nothing until the engine has restarted at 3.52 s.
    ASSERT_NO_FATAL_FAILURE(busyUntilTheEngineTookAsShown(player, 2));

    std::optional<bool> second;
    QImage atSecond;
    player.seek(7.0, 0, 0, &player, [&](bool finished) {
        second = finished;
        atSecond = player.core()->frameImage();
    });
    EXPECT_EQ(first, std::optional<bool>(false)) << "the newer seek supersedes it";
    KR_WAIT_UNTIL(second.has_value());
    EXPECT_TRUE(*second);
    EXPECT_GT(testsupport::meanPictureDifference(atSecond, clip.at352), 6.0) << "finished on the picture of the seek before";
    EXPECT_NEAR(player.core()->doubleFromEngineForTesting("time-pos"), 7.0, 0.1);
}

// Paused after playing, the engine's clock of a file with sound alone reads short of where an
// exact seek put it (by what the paused output still holds), while playing goes on from the
// landing. The time told is the landing's.
TEST_F(MediaPlayerTest, APausedExactSeekOfSoundAloneTellsTheTimeItLandedAt)
{
    MediaPlayer player;
    player.replaceCurrentItem(fixtures::testMediaFileURL(QStringLiteral("audio-720p.m4s")));
    player.play();
    KR_WAIT_UNTIL(player.currentTime() > 1.0);
    player.pause();
    for (const double target : {7.107, 3.3}) {
        SCOPED_TRACE(target);
        bool seeked = false;
        player.seek(target, 0, 0, &player, [&](bool finished) { seeked = finished; });
        KR_WAIT_UNTIL(seeked);
        // The engine has told the time it reads now.
        KR_WAIT_UNTIL(player.core()->engineTimeToldForTesting() == player.core()->doubleFromEngineForTesting("time-pos"));
        EXPECT_NEAR(player.currentTime(), target, 0.05);
    }
    // Played, it goes on from there.
    player.play();
    KR_WAIT_UNTIL(player.core()->engineTimeToldForTesting() > 3.3 + 0.1);
    EXPECT_GT(player.currentTime(), 3.3 + 0.1);
    EXPECT_LT(player.currentTime(), 3.3 + 1.0);
    player.pause();
}

TEST_F(MediaPlayerTest, SystemVolumeSliderSetsThePlayersVolume)
{
    auto& session = platform::media::AudioSession::sharedInstance();
    session.resetForTesting();
    MediaPlayer player;
    player.replaceCurrentItem(fixtures::testMediaFileURL(QStringLiteral("audio.m4s")));
    KR_WAIT_UNTIL(player.status() == MediaPlayer::StatusReadyToPlay);
    platform::media::VolumeView view(QRectF(0, 0, 200, 30));
    view.layoutIfNeeded();
    EXPECT_EQ(view.routeButton()->frame(), QRectF(162, 0, 38, 30));
    view.volumeSlider()->dragForTesting({0.25f});
    EXPECT_DOUBLE_EQ(session.outputVolume(), 0.25);
    KR_WAIT_UNTIL(std::abs(player.core()->state().volume - 25) < 0.5);
    player.setVolume(0.5);
    KR_WAIT_UNTIL(std::abs(player.core()->state().volume - 12.5) < 0.5);
    session.resetForTesting();
}

} // namespace

namespace {

TEST_F(MediaPlayerTest, AnOwnerMayDestroyThePlayerFromItsSignals)
{
    struct Case {
        const char* name;
        QString clip;
        double start;
    };
    for (const Case& c : {Case{"end", QStringLiteral("audio.m4s"), 11.7}, Case{"failure", QStringLiteral("garbage.mp4"), 0}}) {
        SCOPED_TRACE(c.name);
        auto* player = new MediaPlayer;
        QPointer<MediaPlayer> alive(player);
        QObject::connect(player, &MediaPlayer::didPlayToEnd, [&] { delete alive.data(); });
        QObject::connect(player, &MediaPlayer::failedToPlayToEnd, [&] { delete alive.data(); });
        player->replaceCurrentItem(fixtures::testMediaFileURL(c.clip));
        if (c.start > 0)
            player->seek(c.start, 0, 0);
        player->setRate(2.0);
        KR_WAIT_UNTIL(alive.isNull());
    }
    platform::media::MpvCore::waitForClosingCores();
}

} // namespace

namespace {

// A thread that has ended keeps its stack until it is joined: a worker that closed a core is
// joined by the next close, not kept until the process ends.
TEST_F(MediaPlayerTest, AClosedCoresWorkerIsJoinedOnceItHasEnded)
{
    using platform::media::MpvCore;
    MpvCore::waitForClosingCores();
    for (int i = 0; i < 3; ++i) {
        {
            MediaPlayer player;
            player.replaceCurrentItem(fixtures::testMediaFileURL(QStringLiteral("clip-360p.mp4")));
            KR_WAIT_UNTIL(player.status() == MediaPlayer::StatusReadyToPlay);
        }
        EXPECT_GE(MpvCore::closingWorkersForTesting().kept, 1);
        KR_WAIT_UNTIL(MpvCore::closingWorkersForTesting().running == 0);
    }
    EXPECT_EQ(MpvCore::closingWorkersForTesting().kept, 1);
    MpvCore::waitForClosingCores();
    EXPECT_EQ(MpvCore::closingWorkersForTesting().kept, 0);
}

} // namespace
