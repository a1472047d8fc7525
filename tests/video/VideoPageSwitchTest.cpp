// Quality switches and the life cycle on the video page, playing the generated clips on real
// libmpv: a switch without a visible restart, its statuses, and the page following the
// background and audio interruptions.
#include "VideoPageTesting.h"

#include "platform/media/AudioSession.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Label.h"
#include "playback/KRPlaybackLifecycle.h"
#include "playback/KRPlaybackSession.h"
#include "playback/KRPlaybackTransport.h"
#include "playback/KRPlayerControlsView.h"
#include "playback/KRQualitySwitchTransaction.h"

#include <QRegularExpression>
#include <QTest>

using namespace platform::uikit;
using namespace videotest;
using testsupport::PlaybackFixtures;

namespace {

class VideoPageSwitchTest : public VideoPageTest {
protected:
    void SetUp() override
    {
        VideoPageTest::SetUp();
        KRPreferences::sharedPreferences().setPreferredQuality(16);
        KRPreferences::sharedPreferences().setAutoContinueEnabled(false);
        KRPreferences::sharedPreferences().setPlaybackLoopMode(0);
        KRPreferences::sharedPreferences().setBackgroundAudioEnabled(false);
        // The application in front, as when the user plays.
        Application::shared().becomeActiveForTesting();
    }
    void TearDown() override
    {
        Application::shared().becomeActiveForTesting();
        VideoPageTest::TearDown();
    }
    QString statusText(KRVideoDetailViewController* page) { return part<Label>(page, "danmakuStatusLabel")->text(); }
    static QString log() { return diagnosticsLog(); }
    static int indexOfQuality(KRVideoDetailViewController* page, int quality) { return int(page->qualityValues().indexOf(quality)); }
};

} // namespace

TEST_F(VideoPageSwitchTest, From360PTo720PWithoutARestartInTheTransactionsOrder)
{
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page) && page->moviePlayer()->currentPlaybackTime() > 1.0 && !page->qualityValues().isEmpty());
    EXPECT_EQ(page->activePlaybackQuality(), 16);
    KRPlaybackTransport* transport = page->moviePlayer();
    page->switchToQualityAtIndex(indexOfQuality(page, 64));
    // The time across the commit: the last seen on the old stream against the first on the new.
    double before = -1, after = -1;
    KR_ADVANCE_UNTIL([&] {
        KRPlaybackTransport* now = page->moviePlayer();
        if (!now)
            return false;
        if (now->contentURL() == play.progressiveURL(16))
            before = now->currentPlaybackTime();
        else if (after < 0)
            after = now->currentPlaybackTime();
        return after >= 0 && !page->playbackSession()->isSwitchingQuality() && log().contains(QStringLiteral("quality-switch-finish-suppression-end"));
    }());
    EXPECT_GE(before, 1.0);
    EXPECT_LT(std::abs(after - before), 1.0);
    EXPECT_EQ(page->moviePlayer(), transport);
    EXPECT_EQ(page->moviePlayer()->contentURL(), play.progressiveURL(64));
    EXPECT_EQ(page->playerControls()->qualityButton()->title(ControlStateNormal), QStringLiteral("720P"));
    const QString text = log();
    const QStringList order{QStringLiteral("[quality-switch-stall-isolated]"),
                            QStringLiteral("[quality-switch-phase] generation=1 cid="),
                            QStringLiteral("[quality-switch-progressive-candidates-staged]"),
                            QStringLiteral("[quality-prewarm-begin]"),
                            QStringLiteral("[quality-commit]"),
                            QStringLiteral("[quality-switch-progressive-candidates-committed] generation=1 count=2 index=0"),
                            QStringLiteral("delayed=YES")};
    qsizetype last = -1;
    for (const QString& event : order) {
        const qsizetype at = text.indexOf(event, last + 1);
        EXPECT_GT(at, last) << event.toStdString();
        last = std::max(last, at);
    }
    EXPECT_TRUE(text.contains(QRegularExpression(QStringLiteral("\\[quality-switch-phase\\] generation=1 cid=\\d+ phase=1 "))));
    EXPECT_FALSE(text.contains(QStringLiteral("[KorvanePlaybackLifecycle] stopped")));
}

TEST_F(VideoPageSwitchTest, AHeldTargetTimesOutWhileTheOldQualityPlaysOn)
{
    KRPreferences::sharedPreferences().setPreferredQuality(64);
    play.setQualityFault(80, PlaybackFixtures::QualityFault::Held);
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page) && !page->qualityValues().isEmpty());
    page->switchToQualityAtIndex(indexOfQuality(page, 80));
    KR_ADVANCE_UNTIL(play.heldReplyCount() >= 1);
    // The phase's status stays up while it lasts.
    EXPECT_EQ(statusText(page), QStringLiteral("正在获取 1080P 播放地址…"));
    platform::MainClock::advanceForTesting(3.0);
    EXPECT_FALSE(part<Label>(page, "danmakuStatusLabel")->isHidden());
    platform::MainClock::advanceForTesting(17.1);
    EXPECT_TRUE(log().contains(QRegularExpression(QStringLiteral("\\[quality-switch-watchdog\\] generation=\\d+ phase=1 "))));
    EXPECT_EQ(statusText(page), QStringLiteral("1080P 切换超时 · 继续播放 720P"));
    EXPECT_TRUE(playing(page));
    play.releaseHeldReplies();
    KR_ADVANCE_UNTIL(play.heldReplyCount() == 0);
    for (int i = 0; i < 20; ++i)
        platform::MainClock::advanceForTesting(0.05);
    EXPECT_EQ(page->activePlaybackQuality(), 64);
    EXPECT_EQ(page->dashPlayback(), nullptr);
}

TEST_F(VideoPageSwitchTest, TheBackgroundPausesAndBecomingActiveResumesFromTheSameTime)
{
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page) && page->moviePlayer()->currentPlaybackTime() > 1.0);
    Application::shared().resignActiveForTesting();
    Application::shared().enterBackgroundForTesting();
    EXPECT_TRUE(log().contains(QStringLiteral("[playback-did-enter-background] listen=NO playing=YES")));
    KR_ADVANCE_UNTIL(page->moviePlayer()->playbackState() != 1);
    const double at = page->moviePlayer()->currentPlaybackTime();
    EXPECT_TRUE(page->playbackSession()->lifecycle()->resumesAfterForeground());
    // The pause is the life cycle's: no retry fights it.
    for (int i = 0; i < 40; ++i)
        platform::MainClock::advanceForTesting(0.1);
    EXPECT_FALSE(log().contains(QStringLiteral("unexpected-pause-retry")));
    EXPECT_NEAR(page->moviePlayer()->currentPlaybackTime(), at, 0.1);
    Application::shared().enterForegroundForTesting();
    Application::shared().becomeActiveForTesting();
    EXPECT_TRUE(log().contains(QStringLiteral("[playback-lifecycle-restored] reason=application-did-become-active resume=YES")));
    KR_ADVANCE_UNTIL(playing(page) && page->moviePlayer()->currentPlaybackTime() > at + 0.3);
    EXPECT_LT(page->moviePlayer()->currentPlaybackTime(), at + 2.0);
}

TEST_F(VideoPageSwitchTest, BackgroundListeningKeepsTheSoundAtTheChosenSpeedWithThePictureStopped)
{
    KRPreferences::sharedPreferences().setBackgroundAudioEnabled(true);
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page));
    page->setPlaybackRateValue(1.5f, false);
    Application::shared().resignActiveForTesting();
    Application::shared().enterBackgroundForTesting();
    EXPECT_TRUE(page->playbackSession()->lifecycle()->isListeningInBackground());
    EXPECT_TRUE(page->moviePlayer()->videoOutputSuppressed());
    const double at = page->moviePlayer()->currentPlaybackTime();
    KR_ADVANCE_UNTIL(page->moviePlayer()->currentPlaybackTime() > at + 1.0);
    EXPECT_NEAR(page->moviePlayer()->currentPlaybackRate(), 1.5, 0.01);
    Application::shared().enterForegroundForTesting();
    Application::shared().becomeActiveForTesting();
    EXPECT_FALSE(page->moviePlayer()->videoOutputSuppressed());
    EXPECT_TRUE(playing(page));
}

TEST_F(VideoPageSwitchTest, InterruptionsAndAPulledHeadphone)
{
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page));
    auto& audio = platform::media::AudioSession::sharedInstance();
    audio.postInterruptionForTesting(true);
    KR_ADVANCE_UNTIL(page->moviePlayer()->playbackState() != 1);
    // An end without options resumes what the interruption paused.
    audio.postInterruptionEndedWithoutOptionsForTesting();
    KR_ADVANCE_UNTIL(playing(page) && page->isPlaybackExpectedToPlay());
    // Paused by the user, an interruption's end starts nothing.
    page->playerControlsDidTogglePlayback(page->playerControls());
    audio.postInterruptionForTesting(true);
    audio.postInterruptionForTesting(false, 1);
    for (int i = 0; i < 10; ++i)
        platform::MainClock::advanceForTesting(0.05);
    EXPECT_FALSE(page->isPlaybackExpectedToPlay());
    EXPECT_NE(page->moviePlayer()->playbackState(), 1);
    // Another reason only records; the old device gone pauses, with nothing shown.
    page->playerControlsDidTogglePlayback(page->playerControls());
    KR_ADVANCE_UNTIL(playing(page));
    audio.postRouteChangeForTesting(1);
    EXPECT_TRUE(log().contains(QStringLiteral("[audio-session-route-changed] reason=1 expected=YES")));
    EXPECT_TRUE(page->isPlaybackExpectedToPlay());
    audio.postRouteChangeForTesting(2);
    EXPECT_FALSE(page->isPlaybackExpectedToPlay());
    KR_ADVANCE_UNTIL(page->moviePlayer()->playbackState() != 1);
}

TEST_F(VideoPageSwitchTest, WhenNoStreamCanBeShownThePlayButtonRetriesFromTheKeptTime)
{
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page));
    // What the session tells when both the new stream and the previous one failed.
    page->playbackSession()->stop();
    Q_EMIT page->playbackSession()->qualitySwitchRollbackFailed(3.0);
    EXPECT_EQ(part<Label>(page, "loadingStatusLabel")->text(), QStringLiteral("原画质恢复失败，点播放重试"));
    auto* playButton = part<Button>(page, "playButton");
    EXPECT_FALSE(playButton->isHidden());
    EXPECT_TRUE(playButton->isEnabled());
    EXPECT_FALSE(page->hasStartedPlayback());
    QTest::mouseClick(playButton, Qt::LeftButton);
    KR_ADVANCE_UNTIL(playing(page) && page->moviePlayer()->currentPlaybackTime() > 3.0);
    EXPECT_LT(page->moviePlayer()->currentPlaybackTime(), 5.0);
}
