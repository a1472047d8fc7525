// The video page following the window as a window manager minimises, hides, unmaps and shows
// it: the application object turns that into the background and the foreground, and the page
// pauses or keeps the sound by the background-listening preference, on real libmpv.
#include "VideoPageTesting.h"

#include "platform/foundation/NotificationCenter.h"
#include "platform/uikit/Application.h"
#include "playback/KRDASHPlayback.h"
#include "playback/KRDanmakuRenderer.h"
#include "playback/KRPlaybackLifecycle.h"
#include "playback/KRPlaybackSession.h"
#include "playback/KRPlaybackTransport.h"
#include "platform/media/MediaPlayer.h"

#include <QRegularExpression>

#include <cmath>

using namespace platform::uikit;
using namespace videotest;

namespace {

class VideoPageWindowStateTest : public VideoPageTest {
protected:
    void SetUp() override
    {
        VideoPageTest::SetUp();
        playOncePreferences();
        KRPreferences::sharedPreferences().setPreferredQuality(16);
        KRPreferences::sharedPreferences().setBackgroundAudioEnabled(false);
        for (const QString& name : {ApplicationWillResignActiveNotification, ApplicationDidEnterBackgroundNotification,
                                    ApplicationWillEnterForegroundNotification, ApplicationDidBecomeActiveNotification})
            tokens.push_back(platform::NotificationCenter::defaultCenter().addObserver(
                name, &Application::shared(), [this](const platform::Notification& n) { posted << n.name; }));
    }
    void TearDown() override
    {
        tokens.clear();
        KRPreferences::sharedPreferences().setBackgroundAudioEnabled(false);
        VideoPageTest::TearDown();
    }
    // The page playing in a window shown in front, as when the user plays.
    KRVideoDetailViewController* playInFront()
    {
        KRVideoDetailViewController* page = push();
        Application::shared().becomeActiveForTesting();
        tapPlay(page);
        [&] { KR_ADVANCE_UNTIL(playing(page) && page->moviePlayer()->currentPlaybackTime() > 1.0 && pauseWatchIdle()); }();
        posted.clear();
        return page;
    }
    // The DASH pair playing in front: the sound on the transport, the picture on a player of its own.
    KRVideoDetailViewController* playDASHInFront()
    {
        KRPreferences::sharedPreferences().setPreferredQuality(80);
        KRVideoDetailViewController* page = push();
        Application::shared().becomeActiveForTesting();
        tapPlay(page);
        [&] {
            KR_ADVANCE_UNTIL(page->dashPlayback() && page->dashPlayback()->isRunning() && playing(page)
                             && page->moviePlayer()->currentPlaybackTime() > 2.0 && pauseWatchIdle());
        }();
        posted.clear();
        return page;
    }
    static platform::media::MediaPlayer* picture(KRVideoDetailViewController* page) { return page->dashPlayback()->picturePlayer(); }
    // Both halves play, the picture in step with the sound.
    static bool pairPlaysInStep(KRVideoDetailViewController* page)
    {
        KRDASHPlayback* pair = page->dashPlayback();
        return pair && pair->isRunning() && playing(page) && picture(page)->timeControlStatus() == platform::media::MediaPlayer::TimeControlPlaying
            && std::abs(pair->drift()) <= KRDASHPlayback::kPlayingDriftLimit;
    }
    static double restoredTime()
    {
        const QRegularExpressionMatch restored =
            QRegularExpression(QStringLiteral("\\[playback-lifecycle-restored\\] reason=application-did-become-active resume=YES time=([0-9.]+) "))
                .match(diagnosticsLog());
        return restored.hasMatch() ? restored.captured(1).toDouble() : -1;
    }

    const QStringList away{ApplicationWillResignActiveNotification, ApplicationDidEnterBackgroundNotification};
    const QStringList back{ApplicationWillEnterForegroundNotification, ApplicationDidBecomeActiveNotification};
    QStringList posted;
    std::vector<platform::ObserverToken> tokens;
};

} // namespace

TEST_F(VideoPageWindowStateTest, ListeningOffMinimisingPausesAndRestoringResumesFromTheSameTime)
{
    KRVideoDetailViewController* page = playInFront();
    window->setWindowState(Qt::WindowMinimized);
    EXPECT_EQ(posted, away);
    EXPECT_EQ(Application::shared().applicationState(), int(ApplicationStateBackground));
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral("[playback-did-enter-background] listen=NO playing=YES")));
    KR_ADVANCE_UNTIL(page->moviePlayer()->playbackState() != KRPlaybackStatePlaying);
    const double at = page->moviePlayer()->currentPlaybackTime();
    EXPECT_TRUE(page->playbackSession()->lifecycle()->resumesAfterForeground());
    // Minimised, it stays where it stopped.
    for (int i = 0; i < 20; ++i)
        platform::MainClock::advanceForTesting(0.1);
    EXPECT_NE(page->moviePlayer()->playbackState(), KRPlaybackStatePlaying);
    EXPECT_NEAR(page->moviePlayer()->currentPlaybackTime(), at, 0.1);

    window->setWindowState(Qt::WindowNoState);
    EXPECT_EQ(posted, away + back);
    EXPECT_EQ(Application::shared().applicationState(), int(ApplicationStateActive));
    EXPECT_NEAR(restoredTime(), at, 0.3);
    KR_ADVANCE_UNTIL(playing(page) && page->moviePlayer()->currentPlaybackTime() > at + 0.3);
    EXPECT_LT(page->moviePlayer()->currentPlaybackTime(), at + 2.0);
}

TEST_F(VideoPageWindowStateTest, ListeningOffHidingPausesAndShowingResumes)
{
    KRVideoDetailViewController* page = playInFront();
    window->hide();
    EXPECT_EQ(posted, away);
    KR_ADVANCE_UNTIL(page->moviePlayer()->playbackState() != KRPlaybackStatePlaying);
    const double at = page->moviePlayer()->currentPlaybackTime();
    window->show();
    EXPECT_EQ(posted, away + back);
    EXPECT_NEAR(restoredTime(), at, 0.3);
    KR_ADVANCE_UNTIL(playing(page) && page->moviePlayer()->currentPlaybackTime() > at + 0.3);
}

// Unmapped by the window system without a minimise (moved to another desktop, unmapped), the
// window is only no longer exposed: that pauses too, and exposed again it plays on.
TEST_F(VideoPageWindowStateTest, ListeningOffUnexposedPausesAndExposedAgainResumes)
{
    KRVideoDetailViewController* page = playInFront();
    sendExposeAsTheWindowSystem(window.get(), false);
    EXPECT_EQ(posted, away);
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral("[playback-did-enter-background] listen=NO playing=YES")));
    KR_ADVANCE_UNTIL(page->moviePlayer()->playbackState() != KRPlaybackStatePlaying);
    const double at = page->moviePlayer()->currentPlaybackTime();
    for (int i = 0; i < 10; ++i)
        platform::MainClock::advanceForTesting(0.1);
    EXPECT_NEAR(page->moviePlayer()->currentPlaybackTime(), at, 0.1);

    sendExposeAsTheWindowSystem(window.get(), true);
    EXPECT_EQ(posted, away + back);
    EXPECT_NEAR(restoredTime(), at, 0.3);
    KR_ADVANCE_UNTIL(playing(page) && page->moviePlayer()->currentPlaybackTime() > at + 0.3);
}

TEST_F(VideoPageWindowStateTest, ListeningOnMinimisedTheSoundGoesOnWithThePictureStopped)
{
    KRPreferences::sharedPreferences().setBackgroundAudioEnabled(true);
    KRVideoDetailViewController* page = playInFront();
    KR_ADVANCE_UNTIL(page->danmakuRenderer()->isDisplayLinkRunning());
    window->setWindowState(Qt::WindowMinimized);
    EXPECT_EQ(posted, away);
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral("[playback-did-enter-background] listen=YES playing=YES")));
    EXPECT_TRUE(page->playbackSession()->lifecycle()->isListeningInBackground());
    EXPECT_TRUE(page->moviePlayer()->videoOutputSuppressed());
    EXPECT_FALSE(page->danmakuRenderer()->isDisplayLinkRunning());
    // The sound's clock goes on while the window is down.
    const double at = page->moviePlayer()->currentPlaybackTime();
    KR_ADVANCE_UNTIL(page->moviePlayer()->currentPlaybackTime() > at + 1.0);
    EXPECT_EQ(page->moviePlayer()->playbackState(), KRPlaybackStatePlaying);

    window->setWindowState(Qt::WindowNoState);
    EXPECT_EQ(posted, away + back);
    EXPECT_FALSE(page->moviePlayer()->videoOutputSuppressed());
    EXPECT_FALSE(page->playbackSession()->lifecycle()->isListeningInBackground());
    KR_ADVANCE_UNTIL(playing(page) && page->danmakuRenderer()->isDisplayLinkRunning());
}

// Listening on, the DASH pair minimised: the sound's clock goes on while the picture's player
// stays paused; shown again, the picture is put where the sound is and both play.
TEST_F(VideoPageWindowStateTest, ListeningOnMinimisedTheDASHSoundGoesOnAndThePictureCatchesUpWhenShown)
{
    KRPreferences::sharedPreferences().setBackgroundAudioEnabled(true);
    KRVideoDetailViewController* page = playDASHInFront();
    window->setWindowState(Qt::WindowMinimized);
    EXPECT_EQ(posted, away);
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral("[playback-did-enter-background] listen=YES playing=YES")));
    EXPECT_TRUE(page->playbackSession()->lifecycle()->isListeningInBackground());
    const double at = page->moviePlayer()->currentPlaybackTime();
    KR_ADVANCE_UNTIL(page->moviePlayer()->currentPlaybackTime() > at + 1.5);
    EXPECT_EQ(page->moviePlayer()->playbackState(), KRPlaybackStatePlaying);
    EXPECT_EQ(picture(page)->timeControlStatus(), platform::media::MediaPlayer::TimeControlPaused);
    EXPECT_EQ(picture(page)->rate(), 0.0);
    const double pictureAt = picture(page)->currentTime();
    EXPECT_LT(pictureAt, at + KRDASHPlayback::kPlayingDriftLimit);
    // Still where it stopped a while later, the sound far ahead.
    for (int i = 0; i < 10; ++i)
        platform::MainClock::advanceForTesting(0.1);
    EXPECT_NEAR(picture(page)->currentTime(), pictureAt, 0.05);
    EXPECT_EQ(picture(page)->timeControlStatus(), platform::media::MediaPlayer::TimeControlPaused);

    const int realigned = page->dashPlayback()->realignCount();
    window->setWindowState(Qt::WindowNoState);
    EXPECT_EQ(posted, away + back);
    EXPECT_FALSE(page->playbackSession()->lifecycle()->isListeningInBackground());
    // Sent to where the sound is as the window shows, not left to play on from where it stopped.
    EXPECT_EQ(page->dashPlayback()->realignCount(), realigned + 1);
    const double soundBack = page->moviePlayer()->currentPlaybackTime();
    KR_ADVANCE_UNTIL(pairPlaysInStep(page) && picture(page)->currentTime() > soundBack);
    EXPECT_GT(page->moviePlayer()->currentPlaybackTime(), at + 1.5);
}

// Listening off, the DASH pair minimised: both halves pause where they were, and shown again
// both play on from that time.
TEST_F(VideoPageWindowStateTest, ListeningOffMinimisingPausesTheDASHPairAndShowingResumesItWhereItStopped)
{
    KRVideoDetailViewController* page = playDASHInFront();
    window->setWindowState(Qt::WindowMinimized);
    EXPECT_EQ(posted, away);
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral("[playback-did-enter-background] listen=NO playing=YES")));
    KR_ADVANCE_UNTIL(page->moviePlayer()->playbackState() != KRPlaybackStatePlaying
                     && picture(page)->timeControlStatus() == platform::media::MediaPlayer::TimeControlPaused);
    const double at = page->moviePlayer()->currentPlaybackTime();
    const double pictureAt = picture(page)->currentTime();
    for (int i = 0; i < 20; ++i)
        platform::MainClock::advanceForTesting(0.1);
    EXPECT_NE(page->moviePlayer()->playbackState(), KRPlaybackStatePlaying);
    EXPECT_NEAR(page->moviePlayer()->currentPlaybackTime(), at, 0.1);
    EXPECT_NEAR(picture(page)->currentTime(), pictureAt, 0.1);
    EXPECT_EQ(picture(page)->timeControlStatus(), platform::media::MediaPlayer::TimeControlPaused);

    window->setWindowState(Qt::WindowNoState);
    EXPECT_EQ(posted, away + back);
    EXPECT_NEAR(restoredTime(), at, 0.3);
    KR_ADVANCE_UNTIL(pairPlaysInStep(page));
    EXPECT_NEAR(page->moviePlayer()->currentPlaybackTime(), at, 1.0);
    KR_ADVANCE_UNTIL(pairPlaysInStep(page) && page->moviePlayer()->currentPlaybackTime() > at + 0.5);
}
