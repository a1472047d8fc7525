// The video page's playback policy as a user meets it: the quality remembered after switches
// picked one over another, a stop that drops the full screen a continuation meant to come back
// to, the danmaku feed's pace by device, and a start made after the window went to the
// background while the page had not played yet.
#include "VideoPageTesting.h"

#include "model/KRServiceHosts.h"
#include "platform/uikit/ActionSheet.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Button.h"
#include "playback/KRDASHPlayback.h"
#include "playback/KRDanmakuRenderer.h"
#include "playback/KRPlaybackLifecycle.h"
#include "playback/KRPlaybackSession.h"
#include "playback/KRPlaybackTransport.h"
#include "playback/KRPlayerControlsView.h"
#include "support/AccountFixtures.h"
#include "support/AnswerGate.h"
#include "support/DanmakuFeedProbe.h"
#include "support/ServiceFixtures.h"
#include "video/KRVideoFullscreen.h"

#include <atomic>

using namespace platform::uikit;
using namespace videotest;
using testsupport::PlaybackFixtures;

namespace {

class VideoPageSessionRowsTest : public VideoPageInFrontTest {
protected:
    static QString log() { return diagnosticsLog(); }
    // 720P plays; 1080P is picked and its answer held back; 360P is picked before it comes.
    KRVideoDetailViewController* pickTwoQualitiesOneOverTheOther()
    {
        KRPreferences::sharedPreferences().setPreferredQuality(64);
        KRPreferences::sharedPreferences().setAutoContinueEnabled(true);
        play.setQualityFault(PlaybackFixtures::kDASHQuality, PlaybackFixtures::QualityFault::Held);
        KRVideoDetailViewController* page = pushAndPlay();
        [&] { KR_ADVANCE_UNTIL(playing(page) && !page->qualityValues().isEmpty()); }();
        pickQualityFromTheMenu(page, QStringLiteral("1080P"));
        [&] { KR_ADVANCE_UNTIL(play.heldReplyCount() >= 1 && page->playbackSession()->isSwitchingQuality()); }();
        pickQualityFromTheMenu(page, QStringLiteral("360P"));
        return page;
    }
    // The part is played to its end; the next one starts by itself and plays at `quality`.
    void expectTheNextPartAt(KRVideoDetailViewController* page, int quality)
    {
        // The first pick's quality would play now if it were remembered: nothing holds it back.
        play.setQualityFault(PlaybackFixtures::kDASHQuality, PlaybackFixtures::QualityFault::None);
        play.releaseHeldReplies();
        page->playerControlsSeekToTime(page->playerControls(), 11.0);
        KR_ADVANCE_UNTIL(page->selectedPageIndex() == 1 && playing(page));
        EXPECT_EQ(page->activePlaybackQuality(), quality);
        EXPECT_EQ(page->dashPlayback(), nullptr);
        EXPECT_EQ(page->moviePlayer()->contentURL(), play.progressiveURL(quality));
    }
};

} // namespace

// ---- the quality remembered ----

TEST_F(VideoPageSessionRowsTest, ASecondPickDuringASwitchIsTheQualityTheNextPartStartsAt)
{
    KRVideoDetailViewController* page = pickTwoQualitiesOneOverTheOther();
    ASSERT_FALSE(HasFatalFailure());
    KR_ADVANCE_UNTIL(page->activePlaybackQuality() == 16 && !page->playbackSession()->isSwitchingQuality());
    expectTheNextPartAt(page, 16);
}

TEST_F(VideoPageSessionRowsTest, ASecondPickThatFailsLeavesTheQualityThatPlaysForTheNextPart)
{
    play.setQualityFault(16, PlaybackFixtures::QualityFault::ServerError);
    KRVideoDetailViewController* page = pickTwoQualitiesOneOverTheOther();
    ASSERT_FALSE(HasFatalFailure());
    KR_ADVANCE_UNTIL(!page->playbackSession()->isSwitchingQuality() && log().contains(QStringLiteral("[quality-switch-failed]")));
    EXPECT_EQ(page->activePlaybackQuality(), 64);
    expectTheNextPartAt(page, 64);
}

// ---- the stop ----

// The part ends in the full screen and the next one is on its way when the user leaves; back
// on the page, play starts upright, as the preference says, not in the full screen left.
TEST_F(VideoPageSessionRowsTest, AStopDropsTheFullScreenAContinuationMeantToComeBackTo)
{
    KRPreferences::sharedPreferences().setAutoContinueEnabled(true);
    KRPreferences::sharedPreferences().setDetailAutoFullscreenEnabled(false);
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page));
    enterFullscreenByItsButton(page);
    ASSERT_FALSE(HasFatalFailure());
    play.setQualityFault(16, PlaybackFixtures::QualityFault::Held);
    page->playerControlsSeekToTime(page->playerControls(), 11.0);
    KR_ADVANCE_UNTIL(page->selectedPageIndex() == 1 && play.heldReplyCount() >= 1);

    nav->pushViewController(new ViewController(), false);
    AnimationClock::finishAll();
    ASSERT_EQ(page->moviePlayer(), nullptr);
    nav->popViewControllerAnimated(false);
    AnimationClock::finishAll();
    ASSERT_EQ(nav->topViewController(), page);
    play.setQualityFault(16, PlaybackFixtures::QualityFault::None);
    play.releaseHeldReplies();

    const qsizetype mark = log().size();
    tapPlay(page);
    KR_ADVANCE_UNTIL(playing(page) && page->moviePlayer()->currentPlaybackTime() > 0.5);
    for (int i = 0; i < 20; ++i)
        platform::MainClock::advanceForTesting(0.05);
    EXPECT_FALSE(page->fullscreen()->isShown());
    EXPECT_FALSE(log().mid(mark).contains(QStringLiteral("[detail-auto-fullscreen]")));
}

// ---- the danmaku's feed ----

namespace {

class VideoPageDanmakuFeedTest : public VideoPageSessionRowsTest {
protected:
    double feedSpacingWhilePlaying()
    {
        KRVideoDetailViewController* page = pushAndPlay();
        [&] { KR_ADVANCE_UNTIL(playing(page) && page->danmakuRenderer()); }();
        return testsupport::danmakuFeedSpacing(page->danmakuRenderer(), [&] { return page->moviePlayer()->currentPlaybackTime(); });
    }
};

} // namespace

// Every tenth of a second, and every eighth on an A4-class device.
TEST_F(VideoPageDanmakuFeedTest, TheDanmakuIsFedAtTheDevicesPace)
{
    EXPECT_NEAR(feedSpacingWhilePlaying(), 0.1, 0.003);
    useDevice(QStringLiteral("iPhone3,1"));
    EXPECT_NEAR(feedSpacingWhilePlaying(), 0.125, 0.003);
}

// ---- the background before the first start ----

// With automatic playback on, the window goes to the background while the page still reads
// where the user left the video: the start that follows is held there, silent, and plays when
// the application is back.
// A page opened while the application is already in the background has seen no event of it.
TEST_F(VideoPageSessionRowsTest, APageOpenedInTheBackgroundStartsOnlyInTheForeground)
{
    testsupport::AccountFixtures::logInWebOnly();
    std::shared_ptr<KRVideo> video = cacheDetailDASHCopy();
    KRPreferences::sharedPreferences().setDetailAutoPlayEnabled(true);
    // The window is up before the application leaves: showing it would bring it back.
    nav = new platform::uikit::NavigationController(new platform::uikit::ViewController());
    window->setRootViewController(nav);
    window->makeKeyAndVisible();
    Application::shared().enterBackgroundForTesting();

    KRVideoDetailViewController* page = push(video);
    ASSERT_EQ(Application::shared().applicationState(), platform::uikit::ApplicationStateBackground);
    KR_ADVANCE_UNTIL(page->dashPlayback() != nullptr);
    for (int i = 0; i < 30; ++i)
        platform::MainClock::advanceForTesting(0.05);
    EXPECT_TRUE(page->playbackSession()->lifecycle()->isInBackground());
    EXPECT_NE(page->moviePlayer()->playbackState(), KRPlaybackStatePlaying) << "it plays with sound in the background";
    EXPECT_FALSE(page->dashPlayback()->isRunning());

    Application::shared().enterForegroundForTesting();
    Application::shared().becomeActiveForTesting();
    KR_ADVANCE_UNTIL(page->dashPlayback() && page->dashPlayback()->isRunning() && playing(page));
}

TEST_F(VideoPageSessionRowsTest, AnAutomaticStartAfterTheWindowWentToTheBackgroundWaitsForTheForeground)
{
    testsupport::AccountFixtures::logInWebOnly();
    std::shared_ptr<KRVideo> video = cacheDetailDASHCopy();
    auto gate = std::make_shared<AnswerGate>();
    auto asked = std::make_shared<std::atomic<int>>(0);
    const auto held = [gate, asked](const testsupport::FakeRequest&) {
        ++*asked;
        gate->wait();
        return testsupport::FakeReply::json(testsupport::ServiceFixtures::envelope(QVariantMap{}));
    };
    fake.route(KRServiceHosts::apiHost(), QStringLiteral("/x/player/wbi/v2"), held);
    fake.route(KRServiceHosts::apiHost(), QStringLiteral("/x/player/v2"), held);
    KRPreferences::sharedPreferences().setDetailAutoPlayEnabled(true);

    KRVideoDetailViewController* page = push(video);
    KR_ADVANCE_UNTIL(*asked >= 1);
    ASSERT_EQ(page->moviePlayer(), nullptr);
    Application::shared().enterBackgroundForTesting();
    gate->release();
    KR_ADVANCE_UNTIL(page->dashPlayback() != nullptr);
    for (int i = 0; i < 30; ++i)
        platform::MainClock::advanceForTesting(0.05);
    EXPECT_FALSE(page->playbackSession()->playsNow());
    EXPECT_NE(page->moviePlayer()->playbackState(), KRPlaybackStatePlaying) << "it plays with sound in the background";
    EXPECT_FALSE(page->dashPlayback()->isRunning());
    EXPECT_TRUE(page->playbackSession()->lifecycle()->isInBackground());

    Application::shared().enterForegroundForTesting();
    Application::shared().becomeActiveForTesting();
    KR_ADVANCE_UNTIL(page->dashPlayback() && page->dashPlayback()->isRunning() && playing(page));
}
