// The video page on a machine whose sound device cannot be opened, and one whose device goes
// away while it plays. The engine's file output ("pcm") stands in for the device: it opens when
// its folder exists and cannot open when the folder is missing.
#include "VideoPageTesting.h"

#include "platform/media/MediaPlayer.h"
#include "platform/media/MpvCore.h"
#include "platform/uikit/Label.h"
#include "playback/KRDASHPlayback.h"
#include "playback/KROfflineCacheManager.h"
#include "playback/KRPlaybackTransport.h"

#include <QDir>

using namespace platform::uikit;
using namespace videotest;
namespace MediaSeams = platform::media::MediaSeams;

namespace {

class SoundDeviceTest : public VideoPageTest {
protected:
    void SetUp() override
    {
        VideoPageTest::SetUp();
        playOncePreferences();
        device = testsupport::testHome() + QStringLiteral("/sound-device");
        MediaSeams::setAudioOutput(QStringLiteral("pcm"));
        MediaSeams::setAudioOutputFileForTesting(device + QStringLiteral("/sound.wav"));
    }
    void TearDown() override
    {
        VideoPageTest::TearDown();
        MediaSeams::setAudioOutputFileForTesting(QString());
        MediaSeams::setAudioOutput(QStringLiteral("null"));
    }

    static QString soundOutput(KRVideoDetailViewController* page)
    {
        return page->moviePlayer()->playerForTesting()->core()->state().audioOutput;
    }
    static bool failedToStart() { return diagnosticsLog().contains(QStringLiteral("playback-construction-terminal-failure")); }

    QString device;
};

} // namespace

TEST_F(SoundDeviceTest, WithNoOutputThatOpensTheDASHPairPlaysAtItsQuality)
{
    KRPreferences::sharedPreferences().setPreferredQuality(80);
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL((page->dashPlayback() && page->dashPlayback()->isRunning() && playing(page)) || failedToStart());
    ASSERT_FALSE(failedToStart());
    EXPECT_EQ(page->activePlaybackQuality(), 80);
    EXPECT_EQ(page->moviePlayer()->contentURL(), play.dashAudioURL());
    EXPECT_EQ(soundOutput(page), QStringLiteral("null"));
    const double at = page->moviePlayer()->currentPlaybackTime();
    KR_ADVANCE_UNTIL(page->moviePlayer()->currentPlaybackTime() > at + 0.5);
}

TEST_F(SoundDeviceTest, WithNoOutputThatOpensAProgressiveFilePlays)
{
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page) || failedToStart());
    ASSERT_FALSE(failedToStart());
    EXPECT_EQ(page->moviePlayer()->contentURL(), play.progressiveURL(64));
    EXPECT_EQ(soundOutput(page), QStringLiteral("null"));
}

TEST_F(SoundDeviceTest, WithNoOutputThatOpensAnOfflineDASHCopyPlays)
{
    KRVideoDetailViewController* page = pushAndPlay(cacheDetailDASHCopy());
    KR_ADVANCE_UNTIL((page->dashPlayback() && page->dashPlayback()->isRunning() && playing(page)) || failedToStart());
    ASSERT_FALSE(failedToStart());
    EXPECT_TRUE(page->moviePlayer()->contentURL().isLocalFile());
    EXPECT_TRUE(page->dashPlayback()->pictureURL().isLocalFile());
}

TEST_F(SoundDeviceTest, TheDeviceInUseGoingAwayPausesThePageWithoutAWord)
{
    ASSERT_TRUE(QDir().mkpath(device));
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page) && soundOutput(page) == QStringLiteral("pcm"));
    ASSERT_TRUE(page->isPlaybackExpectedToPlay());

    ASSERT_TRUE(QDir(device).removeRecursively());
    page->moviePlayer()->playerForTesting()->core()->reopenAudioOutputForTesting();
    KR_ADVANCE_UNTIL(diagnosticsLog().contains(QStringLiteral("[audio-session-route-changed] reason=2 expected=YES")));
    EXPECT_FALSE(page->isPlaybackExpectedToPlay());
    KR_ADVANCE_UNTIL(page->moviePlayer()->playbackState() != 1);
    EXPECT_EQ(soundOutput(page), QStringLiteral("null"));
    EXPECT_FALSE(shows(page, "danmakuStatusLabel"));
    EXPECT_FALSE(shows(page, "loadingOverlay"));
    EXPECT_FALSE(part(page, "pausedOverlay")->isHidden());
}
