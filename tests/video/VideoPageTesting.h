#pragma once

// The video page pushed onto a navigation stack in a window of the device under test, against
// the fake service's read and play routes, with the main clock in manual mode.
#include "../uikit/KitTestSupport.h"
#include "VideoTesting.h"
#include "account/AccountClientTesting.h"
#include "model/KRVideo.h"
#include "platform/device/DeviceProfile.h"
#include "platform/foundation/MainClock.h"
#include "platform/media/MediaPlayer.h"
#include "platform/media/MediaSeams.h"
#include "platform/uikit/ActionSheet.h"
#include "platform/uikit/AnimationClock.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/View.h"
#include "platform/uikit/ViewController.h"
#include "platform/uikit/Window.h"
#include "playback/KROfflineCacheManager.h"
#include "playback/KRPlaybackSession.h"
#include "playback/KRPlaybackTransport.h"
#include "playback/KRPlayerControlsView.h"
#include "shell/KRScreenRoutes.h"
#include "store/KRLocalHistoryStore.h"
#include "store/KRPreferences.h"
#include "support/PlaybackFixtures.h"
#include "support/ServiceSignatures.h"
#include "video/KRVideoDetailViewController.h"
#include "video/KRVideoFullscreen.h"

#include <QTest>

#include <memory>

namespace videotest {

class VideoPageTest : public accounttest::AccountClientTest {
protected:
    void SetUp() override
    {
        AccountClientTest::SetUp();
        KRRouter::install(KRScreenRoutes());
        KitTest::resetKit();
        platform::media::MediaSeams::setAudioOutput(QStringLiteral("null"));
        testsupport::routeNavigationFixture(fake);
        // The local history lives for the process: a page an earlier test left playing records
        // its viewing when it goes, which must not bring this test a resume offer.
        KRLocalHistoryStore::sharedStore().resetForTesting();
        // Playback starts only when asked, unless a test turns this on.
        KRPreferences::sharedPreferences().setDetailAutoPlayEnabled(false);
    }
    void TearDown() override
    {
        window.reset();
        flushDeferredDeletes();
        KitTest::settleKit();
        AccountClientTest::TearDown();
    }

    // Playback that plays one part at 720P once and stops: no next part, no loop.
    static void playOncePreferences()
    {
        KRPreferences::sharedPreferences().setPreferredQuality(64);
        KRPreferences::sharedPreferences().setAutoContinueEnabled(false);
        KRPreferences::sharedPreferences().setPlaybackLoopMode(0);
    }

    // A window of another device (before the first push).
    void useDevice(const QString& machine, const QString& version = QStringLiteral("16.7"))
    {
        platform::DeviceProfile::setMachineForTesting(machine);
        platform::DeviceProfile::setSystemVersionForTesting(version);
        window = std::make_unique<platform::uikit::Window>();
        nav = nullptr;
    }

    static std::shared_ptr<KRVideo> detailVideo()
    {
        auto video = std::make_shared<KRVideo>();
        video->setAid(testsupport::ServiceFixtures::kDetailAID);
        video->setBvid(testsupport::ServiceFixtures::detailBVID());
        video->setCid(testsupport::ServiceFixtures::kDetailCID);
        video->setTitle(QStringLiteral("列表里的标题"));
        return video;
    }

    // The detail video cached for offline playback at 1080P, from the fake service's DASH halves.
    std::shared_ptr<KRVideo> cacheDetailDASHCopy()
    {
        std::shared_ptr<KRVideo> video = detailVideo();
        bool cached = false;
        KROfflineCacheManager::sharedManager()->cacheDASHVideo(video, play.dashVideoURL(80).toString(), play.dashAudioURL().toString(),
                                                               80, QStringLiteral("1080P"), QImage(), nullptr, {},
                                                               [&](bool success, const QString&) { cached = success; });
        [&] { KR_WAIT_UNTIL(cached); }();
        return video;
    }

    KRVideoDetailViewController* push(std::shared_ptr<KRVideo> video = detailVideo())
    {
        if (!nav) {
            nav = new platform::uikit::NavigationController(new platform::uikit::ViewController());
            window->setRootViewController(nav);
            window->makeKeyAndVisible();
        }
        auto* page = new KRVideoDetailViewController(std::move(video));
        nav->pushViewController(page, false);
        platform::uikit::AnimationClock::finishAll();
        page->view()->layoutIfNeeded();
        return page;
    }

    // A press and release at the middle of the view, sent to the window where it shows as a
    // user's tap arrives; the animations it starts run out unless the test times them itself.
    void clickThroughWindow(platform::uikit::View* view, bool finishAnimations = true)
    {
        ASSERT_NE(view, nullptr);
        ASSERT_TRUE(view->isVisible());
        QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, view->mapTo(window.get(), view->rect().center()));
        if (finishAnimations)
            platform::uikit::AnimationClock::finishAll();
    }
    // The controls shown by a tap on the picture when they have hidden, as a user brings them back.
    void showControls(KRVideoDetailViewController* page)
    {
        KRPlayerControlsView* controls = page->playerControls();
        ASSERT_NE(controls, nullptr);
        if (!controls->areControlsVisible()) {
            // A single tap is told from a double one only once the second has not come.
            clickThroughWindow(controls);
            ASSERT_TRUE(advanceUntil([&] { return controls->areControlsVisible(); })) << "the controls did not show";
        }
    }
    // The controls' play/pause button, the controls shown first.
    void clickPlayPause(KRVideoDetailViewController* page)
    {
        showControls(page);
        ASSERT_FALSE(HasFatalFailure());
        clickThroughWindow(page->playerControls()->findChild<platform::uikit::Button*>(QStringLiteral("playPauseButton")));
    }
    // The quality button opens the menu and the row titled `title` is clicked, the controls
    // shown first, as a user does.
    void pickQualityFromTheMenu(KRVideoDetailViewController* page, const QString& title)
    {
        showControls(page);
        ASSERT_FALSE(HasFatalFailure());
        clickThroughWindow(page->playerControls()->qualityButton());
        platform::uikit::ActionSheet* sheet = page->visibleActionSheet();
        ASSERT_NE(sheet, nullptr);
        const int index = sheetButtonIndex(sheet, title);
        ASSERT_GE(index, 0) << title.toStdString();
        clickThroughWindow(sheet->buttonViewAtIndex(index));
    }
    // Waits for the detail and taps play as a user does.
    KRVideoDetailViewController* tapPlay(KRVideoDetailViewController* page)
    {
        auto* play = part<platform::uikit::Button>(page, "playButton");
        [&] { KR_WAIT_UNTIL(play->isEnabled()); }();
        clickThroughWindow(play);
        return page;
    }
    // Pushes the page and taps play.
    KRVideoDetailViewController* pushAndPlay(std::shared_ptr<KRVideo> video = detailVideo()) { return tapPlay(push(std::move(video))); }
    // The controls' full-screen button clicked, until the full screen shows.
    void enterFullscreenByItsButton(KRVideoDetailViewController* page)
    {
        auto* button = page->playerControls()->findChild<platform::uikit::Button*>(QStringLiteral("fullscreenButton"));
        ASSERT_NE(button, nullptr);
        QTest::mouseClick(button, Qt::LeftButton);
        ASSERT_TRUE(advanceUntil([&] { return page->fullscreen()->isShown(); }));
    }
    // The page's transport plays and has moved past its start.
    static bool playing(KRVideoDetailViewController* page)
    {
        return page->moviePlayer() && page->moviePlayer()->playbackState() == 1 && page->moviePlayer()->currentPlaybackTime() > 0.2;
    }

    // Every unasked pause the session watched has closed. A start that buffered on a busy
    // machine reads as one until the session's tick sees the transport play, so a test about
    // pauses waits for this before it makes its own and reads the log only from there.
    static bool pauseWatchIdle()
    {
        const QString log = diagnosticsLog();
        return log.count(QStringLiteral("[unexpected-pause-observed]"))
            == log.count(QStringLiteral("[unexpected-pause-recovered]")) + log.count(QStringLiteral("[unexpected-pause-give-up]"));
    }

    // The stall recovery has no check pending. A start that stalled on a busy machine stays in
    // its care until the check a second later, even when the player has gone on meanwhile, and
    // that check plays once more: a test that makes its own pause waits for it to have run.
    static bool stallWatchIdle(KRVideoDetailViewController* page)
    {
        return page->playbackSession() && page->playbackSession()->state() != KRPlaybackSession::State::Stalled;
    }

    // The stream has enough at hand that a pause made now reads as a pause. With its buffer
    // still empty (a start on a busy machine, a fraction of a second in) the transport reports
    // a paused player as stalled, and the stall recovery plays it again once data has come.
    static bool bufferedAhead(KRVideoDetailViewController* page)
    {
        const platform::media::MediaPlayer* player = page->moviePlayer() ? page->moviePlayer()->playerForTesting() : nullptr;
        return player && player->isPlaybackLikelyToKeepUp() && !player->isPlaybackBufferEmpty();
    }

    // The index of the sheet's button titled `title`; -1 when it has none.
    static int sheetButtonIndex(const platform::uikit::ActionSheet* sheet, const QString& title)
    {
        for (int i = 0; sheet && i < sheet->numberOfButtons(); ++i)
            if (sheet->buttonTitleAtIndex(i) == title)
                return i;
        return -1;
    }

    template <typename T = platform::uikit::View>
    static T* part(KRVideoDetailViewController* page, const char* name)
    {
        return page->view()->window() ? page->view()->window()->findChild<T*>(QString::fromLatin1(name))
                                      : page->view()->findChild<T*>(QString::fromLatin1(name));
    }

    // Whether the named view is on the page and not hidden: the status lines and the loading
    // overlay are only made when first shown.
    static bool shows(KRVideoDetailViewController* page, const char* name)
    {
        const platform::uikit::View* view = part(page, name);
        return view && !view->isHidden();
    }
    // The named label's text, empty while it has not been made.
    static QString labelText(KRVideoDetailViewController* page, const char* name)
    {
        const auto* label = part<platform::uikit::Label>(page, name);
        return label ? label->text() : QString();
    }

    // The clock moves on in small steps while the event loop runs, so that delayed steps and
    // the players' polls keep pace with the media, until `condition` holds.
    static bool advanceUntil(const std::function<bool()>& condition, double step = 0.02)
    {
        return testsupport::waitUntil(
            [&] {
                if (condition())
                    return true;
                platform::MainClock::advanceForTesting(step);
                return false;
            },
            std::chrono::seconds(20));
    }

    std::unique_ptr<platform::uikit::Window> window = std::make_unique<platform::uikit::Window>();
    platform::uikit::NavigationController* nav = nullptr;
    testsupport::PlaybackFixtures play{fake};
};

// The part at 360P played once (no next part, no loop), nothing heard in the background, and
// the application in front, as when the user plays: the base of the tests that follow the life
// cycle.
class VideoPageInFrontTest : public VideoPageTest {
protected:
    void SetUp() override
    {
        VideoPageTest::SetUp();
        KRPreferences::sharedPreferences().setPreferredQuality(16);
        KRPreferences::sharedPreferences().setAutoContinueEnabled(false);
        KRPreferences::sharedPreferences().setPlaybackLoopMode(0);
        KRPreferences::sharedPreferences().setBackgroundAudioEnabled(false);
        platform::uikit::Application::shared().becomeActiveForTesting();
    }
    void TearDown() override
    {
        platform::uikit::Application::shared().becomeActiveForTesting();
        VideoPageTest::TearDown();
    }
};

#define KR_ADVANCE_UNTIL(cond) ASSERT_TRUE(advanceUntil([&] { return bool(cond); })) << "timed out waiting for: " #cond

} // namespace videotest
