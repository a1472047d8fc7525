// The video page following the window as a window manager minimises, hides and shows it: the
// application object turns that into the background and the foreground, and the page pauses or
// keeps the sound by the background-listening preference, on real libmpv.
#include "VideoPageTesting.h"

#include "platform/foundation/NotificationCenter.h"
#include "platform/uikit/Application.h"
#include "playback/KRDanmakuRenderer.h"
#include "playback/KRPlaybackLifecycle.h"
#include "playback/KRPlaybackSession.h"
#include "playback/KRPlaybackTransport.h"

#include <QRegularExpression>

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
