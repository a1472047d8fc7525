#include "playback/KRPlaybackTransport.h"

#include "PlaybackTesting.h"
#include "platform/device/DeviceProfile.h"
#include "platform/media/MediaNotifications.h"
#include "platform/media/MediaPlayer.h"
#include "platform/uikit/View.h"
#include "support/PictureDifference.h"

#include <QCoreApplication>
#include <QWidget>

#include <cmath>

using namespace playbacktest;
namespace media = platform::media;

namespace {

using PlaybackTransportTest = PlaybackMediaTest;

TEST(PlaybackTransportBufferTest, BufferedAheadBridgesSmallGapsInAnyOrder)
{
    using R = QList<media::TimeRange>;
    struct Case {
        const char* name;
        R ranges;
        double time;
        double expected;
    };
    const double nan = std::nan("");
    const Case cases[] = {
        {"bridged gap", R{{0, 5}, {5.05, 3.95}}, 2, 7.0},
        {"bridged gap, reversed", R{{5.05, 3.95}, {0, 5}}, 2, 7.0},
        {"gap too wide", R{{0, 5}, {5.1, 3.9}}, 2, 3.0},
        {"negative time", R{{0, 5}}, -1, 0},
        {"not a number", R{{0, 5}}, nan, 0},
        {"nothing loaded", R{}, 3, 0},
        {"time outside", R{{4, 2}}, 1, 0},
        {"bad values count as 0", R{{nan, 2}, {-3, nan}}, 0, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NEAR(KRPlaybackTransportBufferedAhead(c.ranges, c.time), c.expected, 1e-9);
    }
}

TEST_F(PlaybackTransportTest, LocalClipPostsItsStatesOnceReady)
{
    const QUrl url = fixtures::testMediaFileURL(QStringLiteral("clip-360p.mp4"));
    KRPlaybackTransport transport(url);
    EXPECT_TRUE(KRPlaybackTransport::usesAVPlayerBackendForCurrentSystem());
    EXPECT_FALSE(transport.isFullscreen());
    transport.setFullscreen(true);
    EXPECT_FALSE(transport.isFullscreen());
    EXPECT_EQ(transport.pollIntervalForTesting(), 100);
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral("[playback-transport-created] backend=avplayer system=16.7 local=YES host=")));
    EXPECT_EQ(transport.videoLayerHost()->parentWidget(), transport.view());

    NotificationLog log(&transport, kAllNames);
    std::vector<unsigned> loadStates;
    log.onPost = [&](const platform::Notification& n) {
        if (n.name == media::MoviePlayerLoadStateDidChangeNotification)
            loadStates.push_back(transport.loadState());
    };
    qobject_cast<platform::uikit::View*>(transport.view())->setFrame(QRectF(0, 0, 320, 180));
    transport.prepareToPlay();
    EXPECT_EQ(transport.playbackState(), 1);
    KR_WAIT_UNTIL(log.count(media::MoviePlayerReadyForDisplayDidChangeNotification) == 1 && !loadStates.empty());
    EXPECT_EQ(loadStates.front(), 3u);
    EXPECT_EQ(log.count(media::MoviePlayerPlaybackStateDidChangeNotification), 1);
    EXPECT_NEAR(transport.duration(), 12.0, 0.1);
    EXPECT_EQ(transport.naturalSize(), QSizeF(640, 360));
    EXPECT_GT(transport.playableDuration(), transport.currentPlaybackTime());

    // Paused before the clock has moved, the state would read stopped (nothing played yet).
    KR_WAIT_UNTIL(transport.currentPlaybackTime() > 0.05);
    transport.pause();
    EXPECT_EQ(transport.playbackState(), 2);
    EXPECT_EQ(transport.currentPlaybackRate(), 0.0f);
    // A rate set while paused waits for play.
    transport.setCurrentPlaybackRate(-3);
    EXPECT_EQ(transport.currentPlaybackRate(), 0.0f);
    transport.setCurrentPlaybackRate(2);
    EXPECT_EQ(transport.currentPlaybackRate(), 0.0f);
    transport.play();
    EXPECT_EQ(transport.currentPlaybackRate(), 2.0f);
    transport.setCurrentPlaybackTime(-4);
    KR_WAIT_UNTIL(transport.currentPlaybackTime() < 1.0);
}

TEST_F(PlaybackTransportTest, SoundAloneIsReadyWithoutAPicture)
{
    KRPlaybackTransport transport(fixtures::testMediaFileURL(QStringLiteral("audio.m4s")));
    NotificationLog log(&transport, kAllNames);
    transport.prepareToPlay();
    KR_WAIT_UNTIL(log.count(media::MoviePlayerReadyForDisplayDidChangeNotification) == 1);
    EXPECT_EQ(transport.naturalSize(), QSizeF(0, 0));
}

TEST_F(PlaybackTransportTest, FinishesOncePerEndAndAgainAfterReplay)
{
    KRPlaybackTransport transport(fixtures::testMediaFileURL(QStringLiteral("clip-360p.mp4")));
    NotificationLog log(&transport, kAllNames);
    transport.setInitialPlaybackTime(11.0);
    transport.setCurrentPlaybackRate(4);
    transport.prepareToPlay();
    KR_WAIT_UNTIL(log.count(media::MoviePlayerPlaybackDidFinishNotification) == 1);
    EXPECT_EQ(log.lastInfo(media::MoviePlayerPlaybackDidFinishNotification)
                  .value(media::MoviePlayerPlaybackDidFinishReasonUserInfoKey).toInt(), 0);
    EXPECT_FALSE(log.lastInfo(media::MoviePlayerPlaybackDidFinishNotification).contains(QStringLiteral("error")));
    // Polling goes on; nothing more is posted for the same end.
    const quint64 polls = transport.pollCountForTesting();
    KR_WAIT_UNTIL(transport.pollCountForTesting() >= polls + 3);
    EXPECT_EQ(log.count(media::MoviePlayerPlaybackDidFinishNotification), 1);
    EXPECT_EQ(transport.playbackState(), 2);

    transport.setCurrentPlaybackTime(11.5);
    transport.play();
    KR_WAIT_UNTIL(log.count(media::MoviePlayerPlaybackDidFinishNotification) == 2);
}

TEST_F(PlaybackTransportTest, UnplayableItemsFinishOnceWithAnError)
{
    testsupport::FakeService service({});
    const QUrl urls[] = {fixtures::testMediaFileURL(QStringLiteral("garbage.mp4")), fixtures::missingTestMediaURL(service)};
    for (const QUrl& url : urls) {
        SCOPED_TRACE(url.toString().toStdString());
        KRPlaybackTransport transport(url);
        NotificationLog log(&transport, kAllNames);
        transport.prepareToPlay();
        KR_WAIT_UNTIL(log.count(media::MoviePlayerPlaybackDidFinishNotification) == 1);
        const QVariantMap info = log.lastInfo(media::MoviePlayerPlaybackDidFinishNotification);
        EXPECT_EQ(info.value(media::MoviePlayerPlaybackDidFinishReasonUserInfoKey).toInt(), 1);
        ASSERT_TRUE(info.contains(QStringLiteral("error")));
        EXPECT_FALSE(info.value(QStringLiteral("error")).value<platform::Error>().message().isEmpty());
        const quint64 polls = transport.pollCountForTesting();
        KR_WAIT_UNTIL(transport.pollCountForTesting() >= polls + 3);
        EXPECT_EQ(log.count(media::MoviePlayerPlaybackDidFinishNotification), 1);
        EXPECT_EQ(transport.loadState(), 0u);
    }
}

TEST_F(PlaybackTransportTest, ThrottledStreamStallsOnlyWhilePlaybackIsExpected)
{
    testsupport::FakeService service({});
    testsupport::MediaFixtures::Serving serving;
    serving.throttleChunkBytes = 16 * 1024;
    serving.throttleMs = 200; // 80 KB/s for a clip of 155 KB/s
    const QUrl url = fixtures::serveTestMedia(service, QStringLiteral("clip-360p.mp4"), serving);
    KRPlaybackTransport transport(url);
    NotificationLog log(&transport, kAllNames);
    bool sawStalledBit = false;
    bool stalledAfterPause = false;
    bool paused = false;
    log.onPost = [&](const platform::Notification& n) {
        if (n.name != media::MoviePlayerLoadStateDidChangeNotification)
            return;
        sawStalledBit |= (transport.loadState() & 4) != 0;
        stalledAfterPause |= paused && (transport.loadState() & 4) != 0;
    };
    transport.prepareToPlay();
    KR_WAIT_UNTIL(sawStalledBit && diagnosticsLog().contains(QStringLiteral("[player-stalled] ")));
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral("host=localhost")));
    paused = true;
    transport.pause();
    EXPECT_EQ(transport.loadState() & 4, 0u);
    const quint64 polls = transport.pollCountForTesting();
    KR_WAIT_UNTIL(transport.pollCountForTesting() >= polls + 3);
    EXPECT_FALSE(stalledAfterPause);

    // Reasserting a player that cannot move restarts it at most three times.
    transport.setVideoOutputSuppressed(true);
    EXPECT_EQ(transport.pollIntervalForTesting(), 1000);
    service.stop();
    transport.reassertPlaybackWhileVideoOutputSuppressed();
    KR_WAIT_UNTIL(countOf(diagnosticsLog(), QStringLiteral("[background-audio-clock-reasserted] remaining=1")) == 1);
    EXPECT_LE(countOf(diagnosticsLog(), QStringLiteral("[background-audio-clock-reasserted]")), 3);
}

TEST_F(PlaybackTransportTest, SurvivesItsOwnerDestroyingItInsideANotification)
{
    const QString names[] = {media::MoviePlayerPlaybackStateDidChangeNotification,
                             media::MoviePlayerLoadStateDidChangeNotification,
                             media::MoviePlayerReadyForDisplayDidChangeNotification,
                             media::MoviePlayerPlaybackDidFinishNotification};
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        auto* transport = new KRPlaybackTransport(fixtures::testMediaFileURL(QStringLiteral("audio.m4s")));
        QPointer<KRPlaybackTransport> alive(transport);
        platform::ObserverToken token = platform::NotificationCenter::defaultCenter().addObserver(
            name, transport, [&](const platform::Notification&) { delete alive.data(); });
        transport->setInitialPlaybackTime(11.8);
        transport->prepareToPlay();
        KR_WAIT_UNTIL(alive.isNull());
        // The players it left behind go quietly.
        QCoreApplication::processEvents();
    }
}

TEST_F(PlaybackTransportTest, OutlivesTheViewTreeItWasPutIn)
{
    KRPlaybackTransport transport(fixtures::testMediaFileURL(QStringLiteral("clip-360p.mp4")));
    {
        platform::uikit::View owner(QRectF(0, 0, 320, 180));
        owner.addSubview(qobject_cast<platform::uikit::View*>(transport.view()));
        transport.prepareToPlay();
        KR_WAIT_UNTIL(transport.loadState() == 3u);
    }
    EXPECT_EQ(transport.view(), nullptr);
    // It goes on playing, polling and staging without a picture.
    transport.setScalingMode(2);
    transport.setVideoOutputSuppressed(true);
    transport.setVideoOutputSuppressed(false);
    bool ready = false;
    transport.stageContentURL(fixtures::testMediaFileURL(QStringLiteral("audio.m4s")), 1, 1, 0,
                              [&](bool r, const KROptionalError&) { ready = r; });
    KR_WAIT_UNTIL(ready);
    EXPECT_TRUE(transport.commitStagedContentAtTime(1));
    const quint64 polls = transport.pollCountForTesting();
    KR_WAIT_UNTIL(transport.pollCountForTesting() >= polls + 2);
}

TEST_F(PlaybackTransportTest, NewAddressResetsThePostedStates)
{
    KRPlaybackTransport transport(fixtures::testMediaFileURL(QStringLiteral("audio.m4s")));
    NotificationLog log(&transport, kAllNames);
    transport.prepareToPlay();
    KR_WAIT_UNTIL(log.count(media::MoviePlayerLoadStateDidChangeNotification) == 1);
    transport.setContentURL(transport.contentURL()); // the same address does nothing
    transport.setContentURL(fixtures::testMediaFileURL(QStringLiteral("clip-360p.mp4")));
    KR_WAIT_UNTIL(log.count(media::MoviePlayerLoadStateDidChangeNotification) == 2);
    EXPECT_EQ(transport.loadState(), 3u);
}

} // namespace

using testsupport::meanPictureDifference;

TEST_F(PlaybackTransportTest, ThumbnailsAreThePicturesOfTheItemAtTheTimesAsked)
{
    // The clip plays meanwhile: a thumbnail is decoded apart from it and leaves it playing.
    KRPlaybackTransport transport(fixtures::testMediaFileURL(QStringLiteral("clip-360p.mp4")));
    transport.prepareToPlay();
    KR_WAIT_UNTIL(transport.currentPlaybackTime() > 0.1);

    // Exactly at 3.52 s: the clip's 89th frame, as the decoder gives it, at the clip's size. The
    // colour conversions differ a little (about 2.3 on average); the frames beside it differ by
    // 7 and more.
    const QImage reference(fixtures::testMediaPath(QStringLiteral("frame-360p-3.52.png")));
    ASSERT_EQ(reference.size(), QSize(640, 360));
    const QImage exact = transport.thumbnailImageAtTime(3.52, KRMovieTimeOptionExact);
    ASSERT_EQ(exact.size(), QSize(640, 360));
    EXPECT_LT(meanPictureDifference(exact, reference), 4.0);
    EXPECT_GT(meanPictureDifference(transport.thumbnailImageAtTime(3.48, KRMovieTimeOptionExact), reference), 6.0);
    // The key frame at or before 3.52 s is the one of 3 s (a key frame each second): another
    // picture, the same one an exact thumbnail at 3 s gives.
    const QImage atThree = transport.thumbnailImageAtTime(3.0, KRMovieTimeOptionExact);
    EXPECT_GT(meanPictureDifference(atThree, reference), 6.0);
    const QImage keyFrame = transport.thumbnailImageAtTime(3.52, KRMovieTimeOptionNearestKeyFrame);
    ASSERT_EQ(keyFrame.size(), QSize(640, 360));
    EXPECT_LT(meanPictureDifference(keyFrame, atThree), 1.0);
    EXPECT_GT(meanPictureDifference(keyFrame, reference), 6.0);
    // A time before the start is the start.
    EXPECT_LT(meanPictureDifference(transport.thumbnailImageAtTime(-5, KRMovieTimeOptionExact), transport.thumbnailImageAtTime(0, KRMovieTimeOptionExact)), 1.0);
    EXPECT_EQ(transport.thumbnailImageAtTime(0, KRMovieTimeOptionExact).size(), QSize(640, 360));
    // No picture past the end, or at a time that is not one.
    EXPECT_TRUE(transport.thumbnailImageAtTime(12.5, KRMovieTimeOptionExact).isNull());
    EXPECT_TRUE(transport.thumbnailImageAtTime(30, KRMovieTimeOptionNearestKeyFrame).isNull());
    EXPECT_TRUE(transport.thumbnailImageAtTime(std::nan(""), KRMovieTimeOptionExact).isNull());
    EXPECT_TRUE(transport.thumbnailImageAtTime(INFINITY, KRMovieTimeOptionExact).isNull());
    EXPECT_EQ(transport.playbackState(), 1);
    EXPECT_EQ(transport.contentURL(), fixtures::testMediaFileURL(QStringLiteral("clip-360p.mp4")));

    // The item it has now, upright as its file shows it.
    transport.setContentURL(fixtures::testMediaFileURL(QStringLiteral("clip-portrait.mp4")));
    EXPECT_EQ(transport.thumbnailImageAtTime(2.0, KRMovieTimeOptionExact).size(), QSize(360, 640));
}

TEST_F(PlaybackTransportTest, ThumbnailsOverTheNetworkAndNoneWithoutAPicture)
{
    testsupport::FakeService service({});
    KRPlaybackTransport served(fixtures::serveTestMedia(service, QStringLiteral("clip-360p.mp4")));
    const QImage reference(fixtures::testMediaPath(QStringLiteral("frame-360p-3.52.png")));
    EXPECT_LT(meanPictureDifference(served.thumbnailImageAtTime(3.52, KRMovieTimeOptionExact), reference), 4.0);

    // Without an item, with sound alone, with bytes that are no media, at an address that answers 404.
    const QUrl nothing[] = {QUrl(), fixtures::testMediaFileURL(QStringLiteral("audio.m4s")),
                            fixtures::testMediaFileURL(QStringLiteral("garbage.mp4")), fixtures::missingTestMediaURL(service)};
    for (const QUrl& url : nothing) {
        SCOPED_TRACE(url.toString().toStdString());
        KRPlaybackTransport transport(url);
        EXPECT_TRUE(transport.thumbnailImageAtTime(1.0, KRMovieTimeOptionExact).isNull());
        EXPECT_TRUE(transport.thumbnailImageAtTime(1.0, KRMovieTimeOptionNearestKeyFrame).isNull());
    }
}
