// The sound device under the players: the engine's file output ("pcm") stands in for a device,
// which opens when its folder exists, cannot open when the folder is missing, and goes away
// when the folder is taken while the engine writes to it.
#include "MediaTesting.h"

#include "platform/foundation/NotificationCenter.h"
#include "platform/media/AudioSession.h"
#include "platform/media/MediaNotifications.h"
#include "platform/media/MediaPlayer.h"
#include "platform/media/MpvCore.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

using platform::media::MediaPlayer;
using namespace mediatest;
namespace MediaSeams = platform::media::MediaSeams;

namespace {

class AudioOutputTest : public MediaTest {
protected:
    void SetUp() override
    {
        MediaTest::SetUp();
        ASSERT_TRUE(home.isValid());
        device = home.filePath(QStringLiteral("device"));
        MediaSeams::setAudioOutput(QStringLiteral("pcm"));
        MediaSeams::setAudioOutputFileForTesting(device + QStringLiteral("/sound.wav"));
        routeChanges = platform::NotificationCenter::defaultCenter().addObserver(
            platform::media::AudioSessionRouteChangeNotification, nullptr, [this](const platform::Notification& note) {
                reasons.append(note.userInfo.value(platform::media::AudioSessionRouteChangeReasonKey).toUInt());
            });
    }
    void TearDown() override
    {
        MediaSeams::setAudioOutputFileForTesting(QString());
        MediaSeams::setAudioOutput(QStringLiteral("null"));
    }

    void plugDevice() { ASSERT_TRUE(QDir().mkpath(device)); }
    void unplugDevice() { ASSERT_TRUE(QDir(device).removeRecursively()); }
    static QString output(const MediaPlayer& player) { return player.core()->state().audioOutput; }

    // Plays until the clock has moved past `seconds`.
    static void playPast(MediaPlayer& player, double seconds)
    {
        player.play();
        KR_WAIT_UNTIL(player.currentTime() > seconds);
    }

    QTemporaryDir home;
    QString device;
    platform::ObserverToken routeChanges;
    QList<unsigned> reasons;
};

} // namespace

TEST_F(AudioOutputTest, WithNoOutputThatOpensSoundAloneAndAPictureWithSoundPlayOn)
{
    // Nothing at the device's place: the output cannot open.
    for (const QString& name : {QStringLiteral("audio.m4s"), QStringLiteral("clip-360p.mp4")}) {
        SCOPED_TRACE(name.toStdString());
        MediaPlayer player;
        int failures = 0;
        QObject::connect(&player, &MediaPlayer::failedToPlayToEnd, [&] { ++failures; });
        player.replaceCurrentItem(fixtures::testMediaFileURL(name));
        KR_WAIT_UNTIL(player.status() == MediaPlayer::StatusReadyToPlay);
        playPast(player, 1.0);
        EXPECT_EQ(player.status(), MediaPlayer::StatusReadyToPlay);
        EXPECT_EQ(failures, 0);
        EXPECT_GT(player.rate(), 0.0);
        EXPECT_EQ(output(player), QStringLiteral("null"));
    }
    // Falling back is no loss of a device that was in use.
    EXPECT_TRUE(reasons.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(device));
}

TEST_F(AudioOutputTest, APlayerMadeAfterTheDeviceAppearsUsesIt)
{
    MediaPlayer before;
    before.replaceCurrentItem(fixtures::testMediaFileURL(QStringLiteral("audio.m4s")));
    playPast(before, 0.3);
    EXPECT_EQ(output(before), QStringLiteral("null"));

    plugDevice();
    MediaPlayer after;
    after.replaceCurrentItem(fixtures::testMediaFileURL(QStringLiteral("audio.m4s")));
    playPast(after, 0.3);
    EXPECT_EQ(output(after), QStringLiteral("pcm"));
    KR_WAIT_UNTIL(QFileInfo(device + QStringLiteral("/sound.wav")).size() > 0);
    EXPECT_TRUE(reasons.isEmpty());
}

TEST_F(AudioOutputTest, TheDeviceInUseGoingAwayPostsOneRouteChangeAndPlaybackGoesOn)
{
    plugDevice();
    MediaPlayer player;
    player.replaceCurrentItem(fixtures::testMediaFileURL(QStringLiteral("clip-360p.mp4")));
    playPast(player, 0.3);
    KR_WAIT_UNTIL(output(player) == QStringLiteral("pcm"));

    // Opened again while the device is there: the same output, nothing to tell.
    player.core()->reopenAudioOutputForTesting();
    const double reopenedAt = player.currentTime();
    KR_WAIT_UNTIL(player.currentTime() > reopenedAt + 0.5 && output(player) == QStringLiteral("pcm"));
    EXPECT_TRUE(reasons.isEmpty());

    unplugDevice();
    player.core()->reopenAudioOutputForTesting();
    KR_WAIT_UNTIL(!reasons.isEmpty());
    EXPECT_EQ(reasons, QList<unsigned>{platform::media::AudioSession::RouteChangeReasonOldDeviceUnavailable});
    EXPECT_EQ(output(player), QStringLiteral("null"));
    // The picture and the clock go on without the device.
    const double lostAt = player.currentTime();
    KR_WAIT_UNTIL(player.currentTime() > lostAt + 0.5);
    EXPECT_EQ(player.status(), MediaPlayer::StatusReadyToPlay);
    EXPECT_EQ(reasons.size(), 1);
}
