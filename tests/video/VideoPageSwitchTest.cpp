// Quality switches and the life cycle on the video page, playing the generated clips on real
// libmpv: a switch without a visible restart, its statuses, and the page following the
// background and audio interruptions.
#include "VideoPageTesting.h"

#include "platform/device/BackgroundTask.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/media/AudioSession.h"
#include "platform/media/MediaImageGenerator.h"
#include "platform/media/MediaNotifications.h"
#include "platform/media/PlayerSurface.h"
#include "platform/uikit/ActionSheet.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/Slider.h"
#include "platform/uikit/TabBarController.h"
#include "platform/uikit/TextField.h"
#include "playback/KRDASHPlayback.h"
#include "playback/KRPlaybackClaims.h"
#include "playback/KRPlaybackLifecycle.h"
#include "playback/KRPlaybackSession.h"
#include "playback/KRPlaybackTransport.h"
#include "playback/KRPlayerControlsView.h"
#include "playback/KRQualitySwitchTransaction.h"
#include "support/PictureDifference.h"
#include "video/KRVideoFullscreen.h"

#include <QPointer>
#include <QRegularExpression>
#include <QTest>

using namespace platform::uikit;
using namespace videotest;
using testsupport::PlaybackFixtures;

namespace {

class VideoPageSwitchTest : public VideoPageInFrontTest {
protected:
    void TearDown() override
    {
        // A failure shows the playback lines of the diagnostics log it ran with.
        if (HasFailure()) {
            for (const QString& line : log().split(QLatin1Char('\n')))
                if (line.contains(QStringLiteral("quality")) || line.contains(QStringLiteral("playback")) || line.contains(QStringLiteral("player")) || line.contains(QStringLiteral("stag")))
                    std::fprintf(stderr, "LOG %s\n", qPrintable(line.left(300)));
        }
        VideoPageInFrontTest::TearDown();
    }
    QString statusText(KRVideoDetailViewController* page) { return labelText(page, "danmakuStatusLabel"); }
    static QString log() { return diagnosticsLog(); }
    static int indexOfQuality(KRVideoDetailViewController* page, int quality) { return int(page->qualityValues().indexOf(quality)); }
    // 720P plays; a switch to 1080P waits for its address, which the service holds back.
    KRVideoDetailViewController* pushAndHoldASwitchTo1080P()
    {
        KRPreferences::sharedPreferences().setPreferredQuality(64);
        play.setQualityFault(80, PlaybackFixtures::QualityFault::Held);
        KRVideoDetailViewController* page = pushAndPlay();
        [&] { KR_ADVANCE_UNTIL(playing(page) && !page->qualityValues().isEmpty()); }();
        page->switchToQualityAtIndex(indexOfQuality(page, 80));
        [&] { KR_ADVANCE_UNTIL(play.heldReplyCount() >= 1); }();
        return page;
    }
    // One page stands paused on its tab while a page on another tab plays. A call comes, and ▶
    // is tapped on the paused page meanwhile: that page is now the one to play.
    struct CallOverTwoTabs {
        KRVideoDetailViewController* page = nullptr;
        KRVideoDetailViewController* other = nullptr;
        double pausedAt = 0;
    };
    void tapPlayDuringACallWhileAnotherTabPlays(CallOverTwoTabs& call)
    {
        nav = new NavigationController(new ViewController());
        auto* otherNav = new NavigationController(new ViewController());
        auto* tabs = new TabBarController();
        tabs->setViewControllers({nav, otherNav});
        window->setRootViewController(tabs);
        window->makeKeyAndVisible();
        // A video page hides the tab bar: the tab is brought to the front as the app's routes do.
        const auto selectTab = [&](int index) {
            tabs->setSelectedIndex(index);
            AnimationClock::finishAll();
        };

        KRVideoDetailViewController* page = pushAndPlay();
        call.page = page;
        KR_ADVANCE_UNTIL(playing(page) && pauseWatchIdle() && stallWatchIdle(page));
        clickPlayPause(page);
        ASSERT_FALSE(HasFatalFailure());
        KR_ADVANCE_UNTIL(!page->isPlaybackExpectedToPlay() && page->moviePlayer()->playbackState() == KRPlaybackStatePaused);
        call.pausedAt = page->moviePlayer()->currentPlaybackTime();

        // Another page plays on the other tab; the paused one keeps its player.
        selectTab(1);
        ASSERT_EQ(tabs->selectedIndex(), 1);
        auto* other = new KRVideoDetailViewController(detailVideo());
        call.other = other;
        otherNav->pushViewController(other, false);
        AnimationClock::finishAll();
        other->view()->layoutIfNeeded();
        auto* otherPlay = other->view()->findChild<Button*>(QStringLiteral("playButton"));
        ASSERT_NE(otherPlay, nullptr);
        KR_WAIT_UNTIL(otherPlay->isEnabled());
        clickThroughWindow(otherPlay);
        KR_ADVANCE_UNTIL(playing(other));
        ASSERT_TRUE(KRPlaybackClaims::shared().isHeldBy(other->playbackSession()));
        ASSERT_NE(page->moviePlayer(), nullptr);

        // Back on the first tab, the other page plays on behind it.
        selectTab(0);
        ASSERT_EQ(tabs->selectedIndex(), 0);
        EXPECT_TRUE(other->isPlaybackExpectedToPlay());
        EXPECT_FALSE(page->isPlaybackExpectedToPlay());

        // The call: the other page was playing, so its end would play it again; this one's not.
        platform::media::AudioSession::sharedInstance().postInterruptionForTesting(true);
        KR_ADVANCE_UNTIL(other->moviePlayer()->playbackState() != KRPlaybackStatePlaying);
        EXPECT_TRUE(other->playbackSession()->lifecycle()->resumesAfterInterruption());
        EXPECT_FALSE(page->playbackSession()->lifecycle()->resumesAfterInterruption());

        // ▶ on this page during the call: it takes the playback as its intent turns on.
        clickPlayPause(page);
        ASSERT_FALSE(HasFatalFailure());
        EXPECT_TRUE(page->isPlaybackExpectedToPlay());
        EXPECT_TRUE(page->playbackSession()->lifecycle()->resumesAfterInterruption());
        EXPECT_TRUE(KRPlaybackClaims::shared().isHeldBy(page->playbackSession()));
        EXPECT_FALSE(other->isPlaybackExpectedToPlay());
        EXPECT_EQ(other->moviePlayer(), nullptr) << "the other page lets its player go";
        // Nothing plays while the call goes on.
        for (int i = 0; i < 10; ++i)
            platform::MainClock::advanceForTesting(0.05);
        EXPECT_NE(page->moviePlayer()->playbackState(), KRPlaybackStatePlaying);
    }
};

} // namespace

TEST_F(VideoPageSwitchTest, From360PTo720PWithoutARestartInTheTransactionsOrder)
{
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page) && page->moviePlayer()->currentPlaybackTime() > 1.0 && !page->qualityValues().isEmpty());
    EXPECT_EQ(page->activePlaybackQuality(), 16);
    EXPECT_EQ(page->currentQualityTitle(), page->qualityTitleForValue(16));
    EXPECT_EQ(page->compactQualityTitle(), QStringLiteral("360P"));
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
                            QStringLiteral("[quality-switch-finish-suppression-end] replacement=1 delayed=YES")};
    qsizetype last = -1;
    for (const QString& event : order) {
        const qsizetype at = text.indexOf(event, last + 1);
        EXPECT_GT(at, last) << event.toStdString();
        last = std::max(last, at);
    }
    EXPECT_TRUE(text.contains(QRegularExpression(QStringLiteral("\\[quality-switch-phase\\] generation=1 cid=\\d+ phase=1 "))));
    EXPECT_FALSE(text.contains(QStringLiteral("[KorvanePlaybackLifecycle] stopped")));
}

// ---- a switch while paused ----

namespace {

// A switch asked while playback stands paused, by the danmaku composer or by the user.
class VideoPagePausedSwitchTest : public VideoPageSwitchTest {
protected:
    void SetUp() override
    {
        VideoPageSwitchTest::SetUp();
        platform::UserDefaults::standard().setObject(QStringLiteral("KRDanmakuEnabled"), true);
    }
    static bool transportPaused(KRVideoDetailViewController* page)
    {
        return page->moviePlayer() && page->moviePlayer()->playbackState() == KRPlaybackStatePaused;
    }
    // The page pushed plays on past 1.4 s, then `pause` pauses it, between two key frames (the
    // clips have one a second).
    void playThenPause(KRVideoDetailViewController*& page, const std::function<void(KRVideoDetailViewController*)>& pause)
    {
        page = pushAndPlay();
        KR_ADVANCE_UNTIL(playing(page) && page->moviePlayer()->currentPlaybackTime() > 1.4 && !page->qualityValues().isEmpty()
                         && pauseWatchIdle() && stallWatchIdle(page));
        pause(page);
        ASSERT_FALSE(HasFatalFailure());
        KR_ADVANCE_UNTIL(transportPaused(page));
    }
    // 360P plays and `pause` pauses it, 720P is picked from the menu: the new stream is put in
    // place where the picture stands, still paused, within the switch's own budget; `resume`
    // ends the pause and 720P plays on from there.
    void switchWhilePaused(const std::function<void(KRVideoDetailViewController*)>& pause,
                           const std::function<void(KRVideoDetailViewController*)>& resume)
    {
        KRVideoDetailViewController* page = nullptr;
        playThenPause(page, pause);
        ASSERT_FALSE(HasFatalFailure());
        const double at = page->moviePlayer()->currentPlaybackTime();
        const qsizetype mark = log().size();
        // The new stream comes as over a network (a few times faster than it plays), not at once.
        play.setMediaRate(3'000'000);
        pickQualityFromTheMenu(page, QStringLiteral("720P"));
        ASSERT_FALSE(HasFatalFailure());
        KR_ADVANCE_UNTIL(!page->playbackSession()->isSwitchingQuality());
        EXPECT_FALSE(log().mid(mark).contains(QStringLiteral("[quality-switch-watchdog]")));
        EXPECT_EQ(page->activePlaybackQuality(), 64);
        EXPECT_EQ(page->moviePlayer()->contentURL(), play.progressiveURL(64));
        EXPECT_EQ(page->playerControls()->qualityButton()->title(ControlStateNormal), QStringLiteral("720P"));
        // Whatever the new stream tells as it settles comes now; the pause stands through it.
        for (int i = 0; i < 20; ++i)
            platform::MainClock::advanceForTesting(0.05);
        EXPECT_TRUE(transportPaused(page));
        EXPECT_LT(std::abs(page->moviePlayer()->currentPlaybackTime() - at), 1.0);
        resume(page);
        ASSERT_FALSE(HasFatalFailure());
        KR_ADVANCE_UNTIL(playing(page) && page->moviePlayer()->currentPlaybackTime() > at + 0.5);
        EXPECT_EQ(page->moviePlayer()->contentURL(), play.progressiveURL(64));
        EXPECT_TRUE(page->isPlaybackExpectedToPlay());
    }
};

} // namespace

TEST_F(VideoPagePausedSwitchTest, ASwitchWhileTheDanmakuComposerHoldsPlaybackLandsPausedAndPlaysWhenItCloses)
{
    switchWhilePaused(
        [&](KRVideoDetailViewController* page) {
            clickThroughWindow(part<Button>(page, "danmakuComposeButton"));
            ASSERT_TRUE(part<TextField>(page, "danmakuInputField")->isFirstResponder());
        },
        [&](KRVideoDetailViewController* page) {
            View* bar = part(page, "danmakuInputAccessory");
            ASSERT_NE(bar, nullptr);
            for (Button* button : bar->findChildren<Button*>())
                if (button->isVisible() && button->currentTitle() == QStringLiteral("取消"))
                    return clickThroughWindow(button);
            FAIL() << "no 取消 on the composer";
        });
}

TEST_F(VideoPagePausedSwitchTest, ASwitchWhileTheUserPausedLandsPausedAndPlaysOnTheNextPlay)
{
    switchWhilePaused([&](KRVideoDetailViewController* page) { clickPlayPause(page); },
                      [&](KRVideoDetailViewController* page) { clickPlayPause(page); });
}

namespace {

// Paused, a quality played on a pair picked: the pair is made ready off screen and put in
// place still paused. What its surface shows is the picture stream's frame at the time the
// switch resumes at, as the decoder gives it, not a picture drawn while it was off screen.
class VideoPagePausedSwitchToAPairTest : public VideoPagePausedSwitchTest {
protected:
    void expectThePairsStillIsItsFrameAtTheResumeTime(const QString& title, int quality);
};

void VideoPagePausedSwitchToAPairTest::expectThePairsStillIsItsFrameAtTheResumeTime(const QString& title, int quality)
{
    KRVideoDetailViewController* page = nullptr;
    playThenPause(page, [&](KRVideoDetailViewController* shown) { clickPlayPause(shown); });
    ASSERT_FALSE(HasFatalFailure());
    const qsizetype mark = log().size();
    pickQualityFromTheMenu(page, title);
    ASSERT_FALSE(HasFatalFailure());
    KR_ADVANCE_UNTIL(page->activePlaybackQuality() == quality && !page->playbackSession()->isSwitchingQuality() && page->dashPlayback()
                     && page->dashPlayback()->isPictureReady() && !page->dashPlayback()->isSeekInFlight());
    // Whatever the pair tells as it settles comes now; the pause stands through it.
    for (int i = 0; i < 20; ++i)
        platform::MainClock::advanceForTesting(0.05);
    const QRegularExpressionMatch installed =
        QRegularExpression(QStringLiteral("\\[quality-prewarm-installed\\] generation=\\d+ time=([0-9.]+) dash=YES")).match(log().mid(mark));
    ASSERT_TRUE(installed.hasMatch());
    const double resume = installed.captured(1).toDouble();
    KRDASHPlayback* pair = page->dashPlayback();
    EXPECT_FALSE(pair->isRunning());
    EXPECT_NEAR(pair->pictureTime(), resume, 0.05);
    platform::media::PlayerSurface* surface = pair->surface();
    ASSERT_NE(surface, nullptr);
    ASSERT_TRUE(surface->isVisible());
    ASSERT_GE(surface->frame().width(), 100);
    EXPECT_EQ(pair->lastPictureFrame().size(), surface->frame().size().toSize());

    // The picture stream's frames decoded apart, each fitted where the surface shows the pair's.
    platform::media::MediaImageGenerator generator(pair->pictureURL());
    generator.setZeroTolerance(true);
    const QRect fitted = platform::uikit::rectForContentMode(ContentModeScaleAspectFit, pair->picturePlayer()->presentationSize(),
                                                             QRectF(QPointF(0, 0), surface->frame().size()))
                             .toAlignedRect();
    const auto frameAt = [&](double time) {
        const QImage decoded = generator.copyImageAtTime(time);
        EXPECT_FALSE(decoded.isNull()) << time;
        return decoded.scaled(fitted.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    };
    const QImage expected = frameAt(resume);
    // Two scalers draw the same frame about 2.5 apart on average. The picture the pair's decoder
    // gives last may reach the surface a moment after the pair says it has landed, on a loaded
    // machine; what it shows from then on is that frame.
    const auto shown = [&] { return surface->grab().toImage().copy(fitted); };
    double difference = 255;
    EXPECT_TRUE(advanceUntil([&] {
        difference = testsupport::meanPictureDifference(shown(), expected);
        return difference < 4.0;
    })) << "the still differs by " << difference;
    EXPECT_FALSE(pair->isRunning());
    // The frames three before and three after, where the picture has moved, differ by 7 and more.
    const QImage still = shown();
    const double before = testsupport::meanPictureDifference(still, frameAt(std::max(0.0, resume - 0.12)));
    const double after = testsupport::meanPictureDifference(still, frameAt(resume + 0.12));
    EXPECT_LT(testsupport::meanPictureDifference(still, expected), std::min(before, after) / 2)
        << "the frames beside it differ by " << before << " and " << after;
}

} // namespace

// From 720P, a file, to the pair of 1080P.
TEST_F(VideoPagePausedSwitchToAPairTest, FromAFileTheStillIsTheNewPicturesFrameAtTheResumeTime)
{
    KRPreferences::sharedPreferences().setPreferredQuality(64);
    expectThePairsStillIsItsFrameAtTheResumeTime(QStringLiteral("1080P"), 80);
}

// The demo's 4K video: from the pair of 1080P to the pair of 4K.
TEST_F(VideoPagePausedSwitchToAPairTest, FromAnotherPairTheStillIsTheNewPicturesFrameAtTheResumeTime)
{
    play.setDemo(true);
    play.setFourKCID(testsupport::ServiceFixtures::kDetailCID);
    KRPreferences::sharedPreferences().setPreferredQuality(80);
    expectThePairsStillIsItsFrameAtTheResumeTime(QStringLiteral("4K"), 120);
}

TEST_F(VideoPageSwitchTest, AHeldTargetTimesOutWhileTheOldQualityPlaysOn)
{
    KRVideoDetailViewController* page = pushAndHoldASwitchTo1080P();
    ASSERT_FALSE(HasFatalFailure());
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

// A loading shown over the stream that plays on while a switch runs (a buffering told by the
// stream going away) is taken off by the next tick of the controls.
TEST_F(VideoPageSwitchTest, TheControlsTickTakesTheLoadingOffWhileASwitchRuns)
{
    KRVideoDetailViewController* page = pushAndHoldASwitchTo1080P();
    ASSERT_FALSE(HasFatalFailure());
    Q_EMIT page->playbackSession()->bufferingChanged(true, QStringLiteral("网络缓冲中…"));
    auto* overlay = part<View>(page, "loadingOverlay");
    auto* tv = part<ImageView>(page, "loadingTVView");
    ASSERT_NE(overlay, nullptr);
    ASSERT_NE(tv, nullptr);
    ASSERT_FALSE(overlay->isHidden());
    ASSERT_TRUE(tv->isAnimating());
    page->controlsTickForTesting();
    EXPECT_TRUE(overlay->isHidden());
    EXPECT_FALSE(tv->isAnimating());
    EXPECT_EQ(statusText(page), QStringLiteral("正在获取 1080P 播放地址…"));
    EXPECT_TRUE(playing(page));
}

TEST_F(VideoPageSwitchTest, TheBackgroundPausesAndBecomingActiveResumesFromTheSameTime)
{
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page) && page->moviePlayer()->currentPlaybackTime() > 1.0 && pauseWatchIdle());
    const qsizetype mark = log().size();
    Application::shared().resignActiveForTesting();
    Application::shared().enterBackgroundForTesting();
    EXPECT_TRUE(log().contains(QStringLiteral("[playback-did-enter-background] listen=NO playing=YES")));
    KR_ADVANCE_UNTIL(page->moviePlayer()->playbackState() != 1);
    const double at = page->moviePlayer()->currentPlaybackTime();
    EXPECT_TRUE(page->playbackSession()->lifecycle()->resumesAfterForeground());
    // The pause is the life cycle's: no retry fights it.
    for (int i = 0; i < 40; ++i)
        platform::MainClock::advanceForTesting(0.1);
    EXPECT_FALSE(log().mid(mark).contains(QStringLiteral("unexpected-pause-retry")));
    EXPECT_NEAR(page->moviePlayer()->currentPlaybackTime(), at, 0.1);
    Application::shared().enterForegroundForTesting();
    Application::shared().becomeActiveForTesting();
    EXPECT_TRUE(log().contains(QStringLiteral("[playback-lifecycle-restored] reason=application-did-become-active resume=YES")));
    // It goes on from the time it stopped at.
    const QRegularExpressionMatch restored =
        QRegularExpression(QStringLiteral("\\[playback-lifecycle-restored\\] reason=application-did-become-active resume=YES time=([0-9.]+) ")).match(log());
    ASSERT_TRUE(restored.hasMatch());
    EXPECT_NEAR(restored.captured(1).toDouble(), at, 0.3);
    KR_ADVANCE_UNTIL(playing(page) && page->moviePlayer()->currentPlaybackTime() > at + 0.3);
    EXPECT_LT(page->moviePlayer()->currentPlaybackTime(), at + 2.0);
}

TEST_F(VideoPageSwitchTest, BackgroundListeningKeepsTheSoundAtTheChosenSpeedWithThePictureStopped)
{
    KRPreferences::sharedPreferences().setBackgroundAudioEnabled(true);
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page));
    page->setPlaybackRateValue(1.5f, false);
    // Lines on screen, moving with the picture.
    KR_ADVANCE_UNTIL(page->danmakuRenderer()->isDisplayLinkRunning());
    Application::shared().resignActiveForTesting();
    Application::shared().enterBackgroundForTesting();
    EXPECT_TRUE(log().contains(QStringLiteral("[playback-did-enter-background] listen=YES playing=YES")));
    EXPECT_TRUE(page->playbackSession()->lifecycle()->isListeningInBackground());
    EXPECT_TRUE(page->moviePlayer()->videoOutputSuppressed());
    // The danmaku clock stops with the picture.
    EXPECT_FALSE(page->danmakuRenderer()->isDisplayLinkRunning());
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

// A rollback that fails in the app-drawn full screen leaves it as a failure does, and the play
// button it shows can be pressed whatever state it was in before.
TEST_F(VideoPageSwitchTest, AFailedRollbackInFullScreenLeavesItWithThePlayButtonEnabled)
{
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page));
    enterFullscreenByItsButton(page);
    ASSERT_FALSE(HasFatalFailure());
    auto* playButton = part<Button>(page, "playButton");
    // Dimmed, as a page that once found the video unavailable leaves it.
    playButton->setEnabled(false);
    playButton->setAlpha(0.68);
    page->playbackSession()->stop();
    Q_EMIT page->playbackSession()->qualitySwitchRollbackFailed(3.0);
    EXPECT_FALSE(page->fullscreen()->isShown());
    EXPECT_EQ(part<Label>(page, "loadingStatusLabel")->text(), QStringLiteral("原画质恢复失败，点播放重试"));
    EXPECT_FALSE(playButton->isHidden());
    EXPECT_TRUE(playButton->isEnabled());
    EXPECT_EQ(playButton->alpha(), 1.0);
    QTest::mouseClick(playButton, Qt::LeftButton);
    KR_ADVANCE_UNTIL(playing(page) && page->moviePlayer()->currentPlaybackTime() > 3.0);
}

// Listening in the background, the end of a part continues to the next: its start resolves in
// the background under a task of its own, which its installed player ends.
TEST_F(VideoPageSwitchTest, TheContinuationInTheBackgroundHoldsATaskUntilTheNextPartPlays)
{
    KRPreferences::sharedPreferences().setBackgroundAudioEnabled(true);
    KRPreferences::sharedPreferences().setAutoContinueEnabled(true);
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page));
    Application::shared().resignActiveForTesting();
    Application::shared().enterBackgroundForTesting();
    ASSERT_TRUE(page->playbackSession()->lifecycle()->isListeningInBackground());
    EXPECT_EQ(platform::BackgroundTask::openTaskCount(), 0);
    page->playerControlsSeekToTime(page->playerControls(), 11.0);
    KR_ADVANCE_UNTIL(page->selectedPageIndex() == 1);
    const qsizetype next = log().indexOf(QStringLiteral("[playback-auto-next-part] from=0 to=1"));
    const QRegularExpressionMatch begun =
        QRegularExpression(QStringLiteral("\\[background-continuation-task-begin\\] generation=(\\d+) ")).match(log(), next);
    ASSERT_TRUE(begun.hasMatch());
    KR_ADVANCE_UNTIL(page->moviePlayer() && page->moviePlayer()->currentPlaybackTime() > 0.2);
    EXPECT_TRUE(log().contains(QStringLiteral("[background-continuation-task-end] generation=%1 reason=player-installed").arg(begun.captured(1))));
    EXPECT_EQ(platform::BackgroundTask::openTaskCount(), 0);
}

// ---- a new stream that breaks, and the way back ----

namespace {

class VideoPageRollbackTest : public VideoPageSwitchTest {
protected:
    // 360P plays past its first second; then a switch to 720P runs up to its commit. The 720p
    // file answers in pieces, so its player keeps asking for the rest as it plays. 360P is
    // paused while the new stream buffers, so its end cannot come first however slowly that
    // goes, and played on from the commit. The check that finishes a switch runs on the main
    // clock, which the caller holds from here on, so whatever breaks next breaks before the
    // switch is over.
    KRVideoDetailViewController* switchTo720PUpToTheCommit()
    {
        play.setMediaFault(64, PlaybackFixtures::MediaFault::Cut, 256 * 1024);
        KRVideoDetailViewController* page = pushAndPlay();
        [&] { KR_ADVANCE_UNTIL(playing(page) && page->moviePlayer()->currentPlaybackTime() > 1.0 && !page->qualityValues().isEmpty()); }();
        page->playerControlsDidTogglePlayback(page->playerControls());
        [&] { KR_ADVANCE_UNTIL(page->moviePlayer()->playbackState() == 2); }();
        page->switchToQualityAtIndex(indexOfQuality(page, 64));
        [&] { KR_ADVANCE_UNTIL(log().contains(QStringLiteral("[quality-commit]"))); }();
        page->playerControlsDidTogglePlayback(page->playerControls());
        return page;
    }
    // With the clock held: the new stream's player runs dry, asks again a few times (a little
    // longer apart each time) and fails; the switch rolls back.
    bool waitForTheRollback(KRVideoDetailViewController* page)
    {
        return testsupport::waitUntil([&] { return statusText(page) == QStringLiteral("切换失败，正在恢复 360P…"); }, std::chrono::seconds(45));
    }
    // Both files go: the new one breaks, and the previous one cannot come back. Answers the page
    // once the rollback has begun, or null.
    KRVideoDetailViewController* rollBackWithBothFilesGone()
    {
        KRVideoDetailViewController* page = switchTo720PUpToTheCommit();
        if (HasFatalFailure())
            return nullptr;
        play.setMediaFault(64, PlaybackFixtures::MediaFault::Missing);
        play.setMediaFault(16, PlaybackFixtures::MediaFault::Missing);
        return waitForTheRollback(page) ? page : nullptr;
    }
};

} // namespace

TEST_F(VideoPageRollbackTest, ANewStreamBreakingBeforeTheSwitchIsOverRollsBackTo360PAndPlaysOn)
{
    KRVideoDetailViewController* page = switchTo720PUpToTheCommit();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(page->playbackSession()->isSwitchingQuality());
    EXPECT_EQ(page->moviePlayer()->contentURL(), play.progressiveURL(64));
    // The new file is gone from the commit on: its player runs dry and fails.
    play.setMediaFault(64, PlaybackFixtures::MediaFault::Missing);
    // The player asks again a few times, a little longer each time, before it gives up.
    ASSERT_TRUE(waitForTheRollback(page));
    EXPECT_FALSE(log().contains(QStringLiteral("[quality-switch-rollback-ready]")));
    EXPECT_EQ(page->playerControls()->qualityButton()->title(ControlStateNormal), QStringLiteral("360P"));
    KR_ADVANCE_UNTIL(log().contains(QStringLiteral("[quality-switch-rollback-ready]")));
    EXPECT_TRUE(log().contains(QRegularExpression(QStringLiteral(
        "\\[quality-switch-rollback-ready\\] generation=1 cid=\\d+ dash=NO elapsed=[0-9.]+ time=[0-9.]+ expectedPlay=YES title=360P reason=新清晰度切换失败"))));
    EXPECT_EQ(statusText(page), QStringLiteral("新清晰度切换失败 · 已恢复 360P"));
    EXPECT_FALSE(page->playbackSession()->isSwitchingQuality());
    // 360P plays on from where the new stream stood, and the error of the replaced one ended nothing.
    const double at = page->moviePlayer()->currentPlaybackTime();
    EXPECT_GT(at, 1.0);
    KR_ADVANCE_UNTIL(playing(page) && page->moviePlayer()->currentPlaybackTime() > at + 0.5);
    EXPECT_EQ(page->moviePlayer()->contentURL(), play.progressiveURL(16));
    EXPECT_EQ(page->activePlaybackQuality(), 16);
    EXPECT_EQ(page->playerControls()->qualityButton()->title(ControlStateNormal), QStringLiteral("360P"));
    EXPECT_TRUE(part<Button>(page, "playButton")->isHidden());
    EXPECT_FALSE(log().contains(QStringLiteral("[playback-fresh-resolve]")));
    EXPECT_FALSE(log().contains(QStringLiteral("[quality-switch-rollback-failed]")));
}

TEST_F(VideoPageRollbackTest, WithTheOldSourceGoneTooThePlayButtonIsInFrontAndRetriesFromTheKeptTime)
{
    KRVideoDetailViewController* page = rollBackWithBothFilesGone();
    ASSERT_NE(page, nullptr);
    KR_ADVANCE_UNTIL(log().contains(QStringLiteral("[quality-switch-rollback-failed]")));
    EXPECT_TRUE(log().contains(QRegularExpression(
        QStringLiteral("\\[quality-switch-rollback-failed\\] generation=1 cid=\\d+ dash=NO elapsed=[0-9.]+ reason=原画质恢复失败"))));
    EXPECT_FALSE(log().contains(QStringLiteral("[quality-switch-rollback-ready]")));
    EXPECT_EQ(part<Label>(page, "loadingStatusLabel")->text(), QStringLiteral("原画质恢复失败，点播放重试"));
    auto* playButton = part<Button>(page, "playButton");
    EXPECT_FALSE(playButton->isHidden());
    EXPECT_TRUE(playButton->isEnabled());
    EXPECT_EQ(playButton->superview()->subviews().last(), playButton);
    EXPECT_EQ(page->moviePlayer(), nullptr);
    EXPECT_FALSE(page->playbackSession()->isSwitchingQuality());
    const double kept = page->playbackSession()->interruptedAt();
    EXPECT_GT(kept, 1.0);
    // Nothing more happens by itself.
    for (int i = 0; i < 20; ++i)
        platform::MainClock::advanceForTesting(0.1);
    EXPECT_EQ(page->moviePlayer(), nullptr);

    // The files are back: the tap plays from the time kept.
    play.setMediaFault(64, PlaybackFixtures::MediaFault::None);
    play.setMediaFault(16, PlaybackFixtures::MediaFault::None);
    QTest::mouseClick(playButton, Qt::LeftButton);
    KR_ADVANCE_UNTIL(playing(page) && page->moviePlayer()->currentPlaybackTime() > kept + 0.2);
    EXPECT_LT(page->moviePlayer()->currentPlaybackTime(), kept + 2.0);
}

// The previous stream goes back in under the last frame of the one that failed, laid over the
// picture and under the lines and the controls; once the previous stream plays, the frame
// fades out after a moment, quickly at first.
TEST_F(VideoPageRollbackTest, TheFailedStreamsLastFrameCoversTheRollbackAndFadesOutWhenItIsOver)
{
    KRVideoDetailViewController* page = switchTo720PUpToTheCommit();
    ASSERT_FALSE(HasFatalFailure());
    // An 8×8 reduction of a picture, and whether it is all but black.
    const auto reduced = [](const QImage& image) {
        return image.convertToFormat(QImage::Format_RGB32).scaled(8, 8, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    };
    const auto dark = [](const QImage& image) {
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (qGray(image.pixel(x, y)) > 24)
                    return false;
        return true;
    };
    // The new file is gone: its player runs dry on its last frame, asks again and fails. What
    // the picture showed of the new stream, as long as it showed anything, is kept.
    play.setMediaFault(64, PlaybackFixtures::MediaFault::Missing);
    QImage seen;
    ASSERT_TRUE(testsupport::waitUntil(
        [&] {
            if (statusText(page) == QStringLiteral("切换失败，正在恢复 360P…"))
                return true;
            KRPlaybackTransport* transport = page->moviePlayer();
            if (transport && transport->contentURL() == play.progressiveURL(64)) {
                const QImage shown = reduced(transport->videoLayerHost()->grab().toImage());
                if (!dark(shown))
                    seen = shown;
            }
            return false;
        },
        std::chrono::seconds(45)));
    ASSERT_FALSE(seen.isNull());
    QPointer<ImageView> snapshot = part<ImageView>(page, "qualitySwitchSnapshot");
    ASSERT_NE(snapshot, nullptr);
    // Over the picture of the stream put back, under the danmaku and the controls.
    KRPlaybackTransport* back = page->moviePlayer();
    EXPECT_EQ(back->contentURL(), play.progressiveURL(16));
    ASSERT_EQ(snapshot->parentWidget(), back->view());
    const QObjectList stack = back->view()->children();
    EXPECT_GT(stack.indexOf(snapshot.data()), stack.indexOf(back->videoLayerHost()));
    EXPECT_LT(stack.indexOf(snapshot.data()), stack.indexOf(page->danmakuRenderer()));
    EXPECT_LT(stack.indexOf(snapshot.data()), stack.indexOf(page->playerControls()));
    EXPECT_TRUE(snapshot->isVisible());
    EXPECT_EQ(snapshot->frame(), QRectF(back->view()->rect()));
    EXPECT_DOUBLE_EQ(snapshot->alpha(), 1.0);
    // It shows the failed stream's last frame as the picture showed it, though that player's
    // surface went black when it failed.
    const QImage covered = reduced(snapshot->grab().toImage());
    int worst = 0;
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            const QColor p = covered.pixelColor(x, y), q = seen.pixelColor(x, y);
            worst = std::max({worst, std::abs(p.red() - q.red()), std::abs(p.green() - q.green()), std::abs(p.blue() - q.blue())});
        }
    }
    EXPECT_FALSE(dark(covered));
    EXPECT_LE(worst, 24);

    // The previous stream is back: the frame fades 0.04 s later, over 0.12 s, eased out.
    AnimationClock::setFramesHeldForTesting(true);
    KR_ADVANCE_UNTIL(log().contains(QStringLiteral("[quality-switch-rollback-ready]")));
    AnimationClock::setFramesHeldForTesting(false);
    ASSERT_NE(snapshot, nullptr);
    EXPECT_DOUBLE_EQ(snapshot->alpha(), 1.0);
    AnimationClock::advance(0.03);
    EXPECT_DOUBLE_EQ(snapshot->alpha(), 1.0) << "not before 0.04 s";
    AnimationClock::advance(0.07);
    ASSERT_NE(snapshot, nullptr);
    // Half-way through the fade more than half of it has gone.
    EXPECT_GT(snapshot->alpha(), 0.1);
    EXPECT_LT(snapshot->alpha(), 0.45);
    AnimationClock::advance(0.07);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(snapshot.isNull());
    EXPECT_EQ(part<ImageView>(page, "qualitySwitchSnapshot"), nullptr);
}

// When the previous stream cannot come back either, the frame goes at once with the player.
TEST_F(VideoPageRollbackTest, AFailedRollbackTakesTheFailedStreamsFrameAwayAtOnce)
{
    KRVideoDetailViewController* page = rollBackWithBothFilesGone();
    ASSERT_NE(page, nullptr);
    QPointer<ImageView> snapshot = part<ImageView>(page, "qualitySwitchSnapshot");
    ASSERT_NE(snapshot, nullptr);
    AnimationClock::setFramesHeldForTesting(true);
    KR_ADVANCE_UNTIL(log().contains(QStringLiteral("[quality-switch-rollback-failed]")));
    AnimationClock::setFramesHeldForTesting(false);
    // No fade: gone in the same step, before any frame of animation.
    EXPECT_EQ(part<ImageView>(page, "qualitySwitchSnapshot"), nullptr);
    EXPECT_TRUE(snapshot.isNull() || (!snapshot->isVisible() && snapshot->parentWidget() == nullptr));
    EXPECT_EQ(part<Label>(page, "loadingStatusLabel")->text(), QStringLiteral("原画质恢复失败，点播放重试"));
}

// Leaving the page while the previous stream is put back takes the frame away with the player.
TEST_F(VideoPageRollbackTest, LeavingThePageDuringARollbackTakesTheFailedStreamsFrameWithIt)
{
    KRVideoDetailViewController* page = switchTo720PUpToTheCommit();
    ASSERT_FALSE(HasFatalFailure());
    play.setMediaFault(64, PlaybackFixtures::MediaFault::Missing);
    ASSERT_TRUE(waitForTheRollback(page));
    QPointer<ImageView> snapshot = part<ImageView>(page, "qualitySwitchSnapshot");
    ASSERT_NE(snapshot, nullptr);
    nav->popViewControllerAnimated(false);
    AnimationClock::finishAll();
    EXPECT_EQ(window->findChild<ImageView*>(QStringLiteral("qualitySwitchSnapshot")), nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(snapshot.isNull());
}

// A stop told of the rollback as it begins ends it there: nothing is put back, the frame taken
// for it does not stay over the page, and nothing of the rollback runs on.
TEST_F(VideoPageRollbackTest, AStopAsTheRollbackBeginsLeavesNeitherTheFrameNorAPlayer)
{
    KRVideoDetailViewController* page = switchTo720PUpToTheCommit();
    ASSERT_FALSE(HasFatalFailure());
    KRPlaybackSession* session = page->playbackSession();
    ASSERT_NE(session, nullptr);
    bool stopped = false;
    QObject probe;
    // Connected after the page: the frame is already taken when the stop comes.
    QObject::connect(session, &KRPlaybackSession::qualitySwitchRollingBack, &probe, [&] {
        stopped = true;
        session->stop();
    });
    play.setMediaFault(64, PlaybackFixtures::MediaFault::Missing);
    ASSERT_TRUE(testsupport::waitUntil([&] { return stopped; }, std::chrono::seconds(45)));
    AnimationClock::finishAll();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(window->findChild<ImageView*>(QStringLiteral("qualitySwitchSnapshot")), nullptr);
    EXPECT_EQ(page->moviePlayer(), nullptr);
    EXPECT_EQ(session->state(), KRPlaybackSession::State::Idle);
    EXPECT_FALSE(session->qualitySwitch()->isOpen());
    platform::MainClock::advanceForTesting(5.0);
    QCoreApplication::processEvents();
    EXPECT_EQ(page->moviePlayer(), nullptr);
    EXPECT_FALSE(log().contains(QStringLiteral("[quality-switch-rollback-ready]")));
}

// ---- finishes told while a player is replaced ----

TEST_F(VideoPageSwitchTest, ASwitchOverThePartsLastSecondDeliversTheEndAndContinuesToTheNextPart)
{
    KRPreferences::sharedPreferences().setAutoContinueEnabled(true);
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page) && !page->qualityValues().isEmpty());
    // Paused a second before the end, so the new stream is ready however long it takes to buffer;
    // then played on, the end comes while it takes over.
    page->playerControlsSeekToTime(page->playerControls(), 10.8);
    KR_ADVANCE_UNTIL(playing(page) && page->moviePlayer()->currentPlaybackTime() >= 10.8);
    page->playerControlsDidTogglePlayback(page->playerControls());
    KR_ADVANCE_UNTIL(page->moviePlayer()->playbackState() == 2);
    ASSERT_LT(page->moviePlayer()->currentPlaybackTime(), 11.6);
    page->switchToQualityAtIndex(indexOfQuality(page, 64));
    KR_ADVANCE_UNTIL(log().contains(QStringLiteral("[quality-commit]")));
    page->playerControlsDidTogglePlayback(page->playerControls());
    // The clock held: the new player reaches the part's end before the switch is over.
    KR_WAIT_UNTIL(log().contains(QRegularExpression(QStringLiteral("\\[quality-switch-finish-deferred\\] replacement=\\d+ reason=0 "))));
    EXPECT_EQ(page->selectedPageIndex(), 0);
    KR_ADVANCE_UNTIL(log().contains(QStringLiteral("[quality-switch-deferred-finish-checked]")));
    EXPECT_TRUE(log().contains(QRegularExpression(
        QStringLiteral("\\[quality-switch-deferred-finish-checked\\] replacement=\\d+ reason=0 healthy=(YES|NO) replay=YES load=\\d+ playback=2 "))));
    // Then the continuation: the next part plays.
    KR_ADVANCE_UNTIL(page->selectedPageIndex() == 1 && playing(page));
    const QString text = log();
    const qsizetype checked = text.indexOf(QStringLiteral("[quality-switch-deferred-finish-checked]"));
    EXPECT_GT(text.indexOf(QStringLiteral("[playback-auto-next-part] from=0 to=1"), checked), checked);
    EXPECT_FALSE(text.contains(QStringLiteral("[quality-switch-rollback")));
    EXPECT_FALSE(text.contains(QStringLiteral("[quality-switch-watchdog]")));
}

TEST_F(VideoPageSwitchTest, AnEndToldWhileTheNewStreamPlaysIsDropped)
{
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page) && page->moviePlayer()->currentPlaybackTime() > 1.0 && !page->qualityValues().isEmpty());
    page->switchToQualityAtIndex(indexOfQuality(page, 64));
    KR_ADVANCE_UNTIL(log().contains(QStringLiteral("[quality-commit]")));
    KR_WAIT_UNTIL(page->moviePlayer()->playbackState() == 1);
    // A stray end of the transport while the new stream takes over and plays.
    platform::NotificationCenter::defaultCenter().post(platform::media::MoviePlayerPlaybackDidFinishNotification, page->moviePlayer(),
                                                       {{platform::media::MoviePlayerPlaybackDidFinishReasonUserInfoKey, 0}});
    EXPECT_TRUE(log().contains(QRegularExpression(QStringLiteral("\\[quality-switch-finish-deferred\\] replacement=\\d+ reason=0 "))));
    KR_ADVANCE_UNTIL(log().contains(QStringLiteral("[quality-switch-deferred-finish-checked]")));
    EXPECT_TRUE(log().contains(QRegularExpression(
        QStringLiteral("\\[quality-switch-deferred-finish-checked\\] replacement=\\d+ reason=0 healthy=YES replay=NO load=\\d+ playback=1 "))));
    const double at = page->moviePlayer()->currentPlaybackTime();
    KR_ADVANCE_UNTIL(playing(page) && page->moviePlayer()->currentPlaybackTime() > at + 0.5);
    EXPECT_EQ(page->activePlaybackQuality(), 64);
    EXPECT_EQ(page->playbackSession()->state(), KRPlaybackSession::State::Playing);
    EXPECT_TRUE(part<Button>(page, "playButton")->isHidden());
}

// ---- the life cycle, as the log and the page tell it ----

TEST_F(VideoPageSwitchTest, InterruptionsTellWhetherTheyResumeAndFollowTheSystemsOption)
{
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page));
    auto& audio = platform::media::AudioSession::sharedInstance();
    audio.postInterruptionForTesting(true);
    EXPECT_TRUE(log().contains(QStringLiteral("[audio-session-interruption-began] resume=YES")));
    KR_ADVANCE_UNTIL(page->moviePlayer()->playbackState() != 1);
    // Option 1: the system says to resume.
    audio.postInterruptionForTesting(false, 1);
    EXPECT_TRUE(log().contains(QStringLiteral("[playback-lifecycle-restored] reason=audio-interruption-ended resume=YES")));
    KR_ADVANCE_UNTIL(playing(page) && page->isPlaybackExpectedToPlay() && pauseWatchIdle());
    const qsizetype mark = log().size();
    // Option 0: it says not to; the page stays paused and shows it.
    audio.postInterruptionForTesting(true);
    audio.postInterruptionForTesting(false, 0);
    EXPECT_TRUE(log().contains(QStringLiteral("[audio-session-interruption-no-resume] systemShouldResume=NO")));
    EXPECT_FALSE(page->isPlaybackExpectedToPlay());
    KR_ADVANCE_UNTIL(page->moviePlayer()->playbackState() != 1);
    for (int i = 0; i < 20; ++i)
        platform::MainClock::advanceForTesting(0.1);
    EXPECT_NE(page->moviePlayer()->playbackState(), 1);
    EXPECT_FALSE(part(page, "pausedOverlay")->isHidden());
    EXPECT_FALSE(log().mid(mark).contains(QStringLiteral("unexpected-pause-retry")));
}

// The page tapped is now the one to play, and when the call ends only it plays.
TEST_F(VideoPageSwitchTest, APlayTappedDuringAnInterruptionTakesThePlaybackFromAnotherTab)
{
    CallOverTwoTabs call;
    tapPlayDuringACallWhileAnotherTabPlays(call);
    ASSERT_FALSE(HasFatalFailure());
    KRVideoDetailViewController* page = call.page;
    KRVideoDetailViewController* other = call.other;
    const double at = call.pausedAt;
    auto& audio = platform::media::AudioSession::sharedInstance();

    // The call ends and the system says to resume: this page plays, the other stays silent.
    audio.postInterruptionForTesting(false, 1);
    KR_ADVANCE_UNTIL(playing(page) && page->moviePlayer()->currentPlaybackTime() > at + 0.5);
    EXPECT_TRUE(KRPlaybackClaims::shared().isHeldBy(page->playbackSession()));
    EXPECT_FALSE(other->isPlaybackExpectedToPlay());
    EXPECT_FALSE(other->moviePlayer() && other->moviePlayer()->playbackState() == KRPlaybackStatePlaying);
}

// The call ends with the system saying not to resume: the tapped page stays paused, and the page
// that let its playback go, which will not resume, has nothing to say about the call.
TEST_F(VideoPageSwitchTest, APageThatLostThePlaybackDuringAnInterruptionSaysNothingWhenItEndsWithoutResuming)
{
    CallOverTwoTabs call;
    tapPlayDuringACallWhileAnotherTabPlays(call);
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_FALSE(call.other->playbackSession()->lifecycle()->resumesAfterInterruption());

    const qsizetype mark = log().size();
    platform::media::AudioSession::sharedInstance().postInterruptionForTesting(false, 0);
    KR_ADVANCE_UNTIL(!call.page->playbackSession()->lifecycle()->isInterrupted() && !call.other->playbackSession()->lifecycle()->isInterrupted());
    for (int i = 0; i < 10; ++i)
        platform::MainClock::advanceForTesting(0.05);
    EXPECT_TRUE(log().mid(mark).contains(QStringLiteral("[audio-session-interruption-no-resume] systemShouldResume=NO")));
    EXPECT_FALSE(call.page->isPlaybackExpectedToPlay());
    EXPECT_NE(call.page->moviePlayer()->playbackState(), KRPlaybackStatePlaying);
    EXPECT_FALSE(log().mid(mark).contains(QStringLiteral("audio-session-interruption-no-resume-without-player"))) << log().mid(mark).toStdString();
    EXPECT_NE(labelText(call.other, "loadingStatusLabel"), QStringLiteral("播放已暂停，点播放继续"));
    EXPECT_FALSE(call.other->isPlaybackExpectedToPlay());
    EXPECT_EQ(call.other->moviePlayer(), nullptr);
}

TEST_F(VideoPageSwitchTest, APulledHeadphonePausesSilentlyAndDropsAStartStillResolving)
{
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page));
    auto& audio = platform::media::AudioSession::sharedInstance();
    audio.postRouteChangeForTesting(2);
    EXPECT_TRUE(log().contains(QStringLiteral("[audio-session-route-changed] reason=2 expected=YES state=1")));
    KR_ADVANCE_UNTIL(page->moviePlayer()->playbackState() != 1);
    EXPECT_FALSE(page->isPlaybackExpectedToPlay());
    // No text: neither a status over the picture nor the loading overlay.
    EXPECT_FALSE(shows(page, "danmakuStatusLabel"));
    EXPECT_FALSE(shows(page, "loadingOverlay"));
    EXPECT_FALSE(part(page, "pausedOverlay")->isHidden());

    // A start still waiting for its address is dropped, and the page says why.
    window.reset();
    flushDeferredDeletes();
    window = std::make_unique<Window>();
    nav = nullptr;
    play.setQualityFault(16, PlaybackFixtures::QualityFault::Held);
    KRVideoDetailViewController* second = pushAndPlay();
    KR_ADVANCE_UNTIL(play.heldReplyCount() >= 1);
    audio.postRouteChangeForTesting(2);
    EXPECT_EQ(part<Label>(second, "loadingStatusLabel")->text(), QStringLiteral("耳机已拔出，点播放继续"));
    auto* playButton = part<Button>(second, "playButton");
    EXPECT_FALSE(playButton->isHidden());
    EXPECT_EQ(playButton->superview()->subviews().last(), playButton);
    // The reply let go installs nothing.
    play.releaseHeldReplies();
    KR_ADVANCE_UNTIL(play.heldReplyCount() == 0);
    for (int i = 0; i < 20; ++i)
        platform::MainClock::advanceForTesting(0.05);
    EXPECT_EQ(second->moviePlayer(), nullptr);
}

TEST_F(VideoPageSwitchTest, GoingToTheBackgroundDuringAPrewarmAbandonsItAndKeepsTheStreamThatPlays)
{
    KRPreferences::sharedPreferences().setPreferredQuality(64);
    // The 1080P picture never gets its bytes: the prewarm cannot finish by itself.
    std::shared_ptr<testsupport::BodyGate> gate = play.gateMedia(80);
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page) && !page->qualityValues().isEmpty());
    KRPlaybackTransport* transport = page->moviePlayer();
    page->switchToQualityAtIndex(indexOfQuality(page, 80));
    KR_ADVANCE_UNTIL(log().contains(QStringLiteral("[quality-prewarm-begin]")));
    EXPECT_TRUE(log().contains(QRegularExpression(QStringLiteral("\\[quality-prewarm-begin\\] time=[0-9.]+ dash=YES"))));
    Application::shared().resignActiveForTesting();
    Application::shared().enterBackgroundForTesting();
    EXPECT_TRUE(log().contains(QRegularExpression(QStringLiteral("\\[quality-prewarm-abort\\] generation=1 phase=2 reason=background"))));
    EXPECT_FALSE(page->playbackSession()->isSwitchingQuality());
    EXPECT_EQ(page->moviePlayer(), transport);
    EXPECT_EQ(page->dashPlayback(), nullptr);
    EXPECT_EQ(page->activePlaybackQuality(), 64);
    EXPECT_EQ(page->playerControls()->qualityButton()->title(ControlStateNormal), QStringLiteral("720P"));
    Application::shared().enterForegroundForTesting();
    Application::shared().becomeActiveForTesting();
    const double at = page->moviePlayer()->currentPlaybackTime();
    KR_ADVANCE_UNTIL(playing(page) && page->moviePlayer()->currentPlaybackTime() > at + 0.3);
    EXPECT_EQ(page->moviePlayer()->contentURL(), play.progressiveURL(64));
    gate->openTo(std::numeric_limits<qint64>::max());
}

TEST_F(VideoPageSwitchTest, ThePartsEndBeforeTheNewStreamIsReadyEndsTheSwitchWithIt)
{
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page) && !page->qualityValues().isEmpty());
    page->playerControlsSeekToTime(page->playerControls(), 11.4);
    KR_ADVANCE_UNTIL(playing(page) && page->moviePlayer()->currentPlaybackTime() >= 11.4);
    // Less than a second is left: the new stream cannot have a second buffered ahead.
    page->switchToQualityAtIndex(indexOfQuality(page, 64));
    KR_ADVANCE_UNTIL(page->playbackSession()->state() == KRPlaybackSession::State::Ended);
    EXPECT_FALSE(page->playbackSession()->isSwitchingQuality());
    EXPECT_TRUE(log().contains(QRegularExpression(QStringLiteral("\\[quality-prewarm-abort\\] generation=1 phase=\\d reason=playback-ended"))));
    EXPECT_EQ(page->moviePlayer()->stagedPlayerForTesting(), nullptr);
    EXPECT_FALSE(part<Button>(page, "playButton")->isHidden());
    EXPECT_FALSE(shows(page, "danmakuStatusLabel"));
    // Nothing of the switch comes back later: no budget runs out, nothing is put back.
    for (int i = 0; i < 80; ++i)
        platform::MainClock::advanceForTesting(0.5);
    EXPECT_FALSE(log().contains(QStringLiteral("[quality-switch-watchdog]")));
    EXPECT_FALSE(log().contains(QStringLiteral("[quality-switch-failed]")));
    EXPECT_EQ(page->playbackSession()->state(), KRPlaybackSession::State::Ended);
    EXPECT_EQ(page->activePlaybackQuality(), 16);
}

TEST_F(VideoPageSwitchTest, TheDemosFourKVideoOffersFourKInItsMenuAndPlaysItsPicture)
{
    play.setDemo(true);
    play.setFourKCID(testsupport::ServiceFixtures::kDetailCID);
    KRPreferences::sharedPreferences().setPreferredQuality(80);
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page) && !page->qualityValues().isEmpty());
    EXPECT_EQ(page->qualityValues(), (QList<int>{120, 80, 64, 16}));
    // The menu the quality button opens.
    page->showQualityActionSheetFromView(page->playerControls()->qualityButton());
    AnimationClock::finishAll();
    ActionSheet* sheet = page->visibleActionSheet();
    ASSERT_NE(sheet, nullptr);
    ASSERT_GE(sheet->numberOfButtons(), 1);
    EXPECT_EQ(sheet->buttonTitleAtIndex(0), QStringLiteral("4K"));
    QTest::mouseClick(sheet->buttonViewAtIndex(0), Qt::LeftButton, {}, sheet->buttonViewAtIndex(0)->rect().center());
    AnimationClock::finishAll();
    KR_ADVANCE_UNTIL(page->activePlaybackQuality() == 120 && !page->playbackSession()->isSwitchingQuality() && playing(page));
    ASSERT_NE(page->dashPlayback(), nullptr);
    EXPECT_TRUE(page->dashPlayback()->pictureURL().path().endsWith(QStringLiteral("/video-2160p.m4s")))
        << page->dashPlayback()->pictureURL().toString().toStdString();
    EXPECT_EQ(page->playerControls()->qualityButton()->title(ControlStateNormal), QStringLiteral("4K"));
}

// ---- a switch after the end ----

namespace {

class VideoPageSwitchAfterTheEndTest : public VideoPageSwitchTest {
protected:
    // Played to the end, then another quality picked and its stream in place.
    void endThenSwitch(KRVideoDetailViewController* page, int quality, const QString& title)
    {
        page->playerControlsSeekToTime(page->playerControls(), 11.0);
        KR_ADVANCE_UNTIL(page->isPlaybackEndedAwaitingReplay());
        pickQualityFromTheMenu(page, title);
        ASSERT_FALSE(HasFatalFailure());
        KR_ADVANCE_UNTIL(page->activePlaybackQuality() == quality && !page->playbackSession()->isSwitchingQuality());
        // Whatever the new stream tells as it settles at the end comes now.
        for (int i = 0; i < 20; ++i)
            platform::MainClock::advanceForTesting(0.05);
    }
    // The stream of `quality` is in place: a progressive file, or from 1080P on the DASH pair.
    void expectStreamOf(KRVideoDetailViewController* page, int quality)
    {
        EXPECT_EQ(page->activePlaybackQuality(), quality);
        if (quality >= 80) {
            ASSERT_NE(page->dashPlayback(), nullptr);
            EXPECT_EQ(page->dashPlayback()->pictureURL(), play.dashVideoURL(quality));
        } else {
            EXPECT_EQ(page->dashPlayback(), nullptr);
            EXPECT_EQ(page->moviePlayer()->contentURL(), play.progressiveURL(quality));
        }
    }
    // Still ended awaiting replay: the play icons, and the stream now in place standing at 0
    // for the replay, its still and the time shown there together.
    void expectEndedOn(KRVideoDetailViewController* page, int quality)
    {
        EXPECT_TRUE(page->isPlaybackEndedAwaitingReplay());
        expectStreamOf(page, quality);
        EXPECT_FALSE(part<Button>(page, "playButton")->isHidden());
        EXPECT_FALSE(part(page, "pausedOverlay")->isHidden());
        const double stands = page->dashPlayback() ? page->dashPlayback()->pictureTime() : page->moviePlayer()->currentPlaybackTime();
        EXPECT_LT(stands, 0.5) << "the new stream waits at the start";
        auto* current = page->playerControls()->findChild<Label*>(QStringLiteral("currentTimeLabel"));
        auto* duration = page->playerControls()->findChild<Label*>(QStringLiteral("durationLabel"));
        auto* slider = page->playerControls()->findChild<Slider*>(QStringLiteral("progressSlider"));
        ASSERT_TRUE(current && duration && slider);
        EXPECT_EQ(current->text(), QStringLiteral("0:00"));
        EXPECT_EQ(duration->text(), QStringLiteral("0:12"));
        EXPECT_LT(slider->value(), 0.05f);
        // The pair made ready off screen shows its still drawn at the size it is shown at.
        if (KRDASHPlayback* pair = page->dashPlayback()) {
            ASSERT_NE(pair->surface(), nullptr);
            EXPECT_EQ(pair->lastPictureFrame().size(), pair->surface()->frame().size().toSize());
        }
    }
    // Replayed from 0 on the stream in place.
    void expectReplayFromZeroOn(KRVideoDetailViewController* page, int quality, qsizetype mark)
    {
        KR_ADVANCE_UNTIL(playing(page) && page->moviePlayer()->currentPlaybackTime() < 5.0);
        EXPECT_TRUE(log().mid(mark).contains(quality >= 80 ? QStringLiteral("[playback-replay] restart DASH dual tracks from zero")
                                                            : QStringLiteral("[playback-replay] restart from zero with danmaku timeline")));
        expectStreamOf(page, quality);
        EXPECT_FALSE(page->isPlaybackEndedAwaitingReplay());
        EXPECT_TRUE(part<Button>(page, "playButton")->isHidden());
        EXPECT_TRUE(part(page, "pausedOverlay")->isHidden());
    }
    // Ended, `first` picked, the big ▶; ended again, `second` picked, the controls' own ▶.
    void replayWithBothButtonsAfterSwitches(int first, const QString& firstTitle, int second, const QString& secondTitle)
    {
        KRVideoDetailViewController* page = pushAndPlay();
        KR_ADVANCE_UNTIL(playing(page) && !page->qualityValues().isEmpty());
        Button* const buttons[] = {part<Button>(page, "playButton"),
                                   page->playerControls()->findChild<Button*>(QStringLiteral("playPauseButton"))};
        const std::pair<int, QString> choices[] = {{first, firstTitle}, {second, secondTitle}};
        for (int i = 0; i < 2; ++i) {
            endThenSwitch(page, choices[i].first, choices[i].second);
            ASSERT_FALSE(HasFatalFailure());
            expectEndedOn(page, choices[i].first);
            const qsizetype mark = log().size();
            clickThroughWindow(buttons[i]);
            expectReplayFromZeroOn(page, choices[i].first, mark);
            ASSERT_FALSE(HasFatalFailure());
        }
    }
};

} // namespace

TEST_F(VideoPageSwitchAfterTheEndTest, BothPlayButtonsReplayFromZeroOnTheNewStream)
{
    replayWithBothButtonsAfterSwitches(64, QStringLiteral("720P"), 16, QStringLiteral("360P"));
}

// From 720P to the pair of 1080P, and from the pair back to 720P.
TEST_F(VideoPageSwitchAfterTheEndTest, FromAndToTheDASHPairBothPlayButtonsReplayFromZero)
{
    KRPreferences::sharedPreferences().setPreferredQuality(64);
    replayWithBothButtonsAfterSwitches(80, QStringLiteral("1080P"), 64, QStringLiteral("720P"));
}

// The big ▶ tapped while the stream picked after the end is still being made ready: the part
// replays on the stream it has, and the new one takes over playing.
TEST_F(VideoPageSwitchAfterTheEndTest, AReplayWhileTheNewStreamIsMadeReadyPlaysOnIntoIt)
{
    std::shared_ptr<testsupport::BodyGate> gate = play.gateMedia(64);
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page) && !page->qualityValues().isEmpty());
    page->playerControlsSeekToTime(page->playerControls(), 11.0);
    KR_ADVANCE_UNTIL(page->isPlaybackEndedAwaitingReplay());
    pickQualityFromTheMenu(page, QStringLiteral("720P"));
    ASSERT_FALSE(HasFatalFailure());
    KR_ADVANCE_UNTIL(log().contains(QStringLiteral("[quality-prewarm-begin]")));
    clickThroughWindow(part<Button>(page, "playButton"));
    KR_ADVANCE_UNTIL(playing(page) && page->moviePlayer()->currentPlaybackTime() < 5.0);
    EXPECT_EQ(page->moviePlayer()->contentURL(), play.progressiveURL(16));
    gate->openTo(std::numeric_limits<qint64>::max());
    KR_ADVANCE_UNTIL(page->activePlaybackQuality() == 64 && !page->playbackSession()->isSwitchingQuality());
    EXPECT_EQ(page->moviePlayer()->contentURL(), play.progressiveURL(64));
    EXPECT_TRUE(page->isPlaybackExpectedToPlay());
    const double at = page->moviePlayer()->currentPlaybackTime();
    KR_ADVANCE_UNTIL(playing(page) && page->moviePlayer()->currentPlaybackTime() > at + 0.5);
}
