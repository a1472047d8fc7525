// The danmaku of a busy part over the video page as a user meets it: entering and leaving the
// full screen by its button, and the window going to the background and coming back, with
// real libmpv playing and the main clock advanced by the test. The lines of one lane never
// run into each other on any of these roads.
#include "../playback/DanmakuLanes.h"
#include "../video/VideoPageTesting.h"

#include "model/KRServiceHosts.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Button.h"
#include "playback/KRDanmakuRenderer.h"
#include "playback/KRPlayerControlsView.h"
#include "shared/KRPlayerFullscreen.h"
#include "shell/KRRootViewController.h"
#include "store/KRPreferences.h"
#include "support/ServiceFixtures.h"
#include "video/KRVideoFullscreen.h"

#include <QRegularExpression>

using namespace platform::uikit;
using namespace videotest;

namespace {

// Lines close behind each other all through the clip: every lane is taken again as soon as it
// is free.
constexpr int kBusyLines = 160;

class VideoDanmakuLanesTest : public VideoPageTest {
protected:
    void SetUp() override
    {
        VideoPageTest::SetUp();
        playOncePreferences();
        KRPreferences& preferences = KRPreferences::sharedPreferences();
        preferences.setDetailAutoFullscreenEnabled(false);
        preferences.setBackgroundAudioEnabled(false);
        // The count a user starts with, every line of the part let through.
        preferences.setDanmakuMaximumActive(12);
        preferences.setDanmakuDensityPercent(100);
        fake.route(KRServiceHosts::commentHost(), QStringLiteral("*"), [](const testsupport::FakeRequest& request) {
            const QRegularExpressionMatch match = QRegularExpression(QStringLiteral("^/(\\d+)\\.xml$")).match(request.path);
            if (!match.hasMatch())
                return testsupport::FakeReply::withStatus(404);
            return testsupport::FakeReply::text(testsupport::PlaybackFixtures::danmakuXML(match.captured(1).toLongLong(), kBusyLines),
                                                QStringLiteral("text/xml"));
        });
        Application::shared().becomeActiveForTesting();
    }
    void TearDown() override
    {
        KRPreferences::sharedPreferences().setBackgroundAudioEnabled(false);
        Application::shared().rotateForTesting(InterfaceOrientationPortrait);
        AnimationClock::finishAll();
        VideoPageTest::TearDown();
    }

    // The page in the application's root, playing with the busy part's danmaku in.
    KRVideoDetailViewController* playInRoot()
    {
        root = new KRRootViewController();
        window->setRootViewController(root);
        window->makeKeyAndVisible();
        AnimationClock::finishAll();
        nav = qobject_cast<NavigationController*>(root->viewControllers().value(0));
        KRVideoDetailViewController* page = tapPlay(push());
        [&] { KR_ADVANCE_UNTIL(playing(page) && page->danmakuRenderer()->danmakus().size() == kBusyLines); }();
        return page;
    }
    Button* fullscreenButton(KRVideoDetailViewController* page)
    {
        page->playerControls()->setControlsVisible(true, false);
        return page->playerControls()->findChild<Button*>(QStringLiteral("fullscreenButton"));
    }

    // Every lane's lines as drawn now; overlaps are kept with the playback time they came at.
    void lookAtTheLanes(KRVideoDetailViewController* page)
    {
        const KRDanmakuRenderer* renderer = page->danmakuRenderer();
        linesLookedAt += renderer->isVisible() ? renderer->activeCount() : 0;
        const QStringList found = danmakutest::overlappingLinesOfALane(*renderer);
        if (!found.isEmpty() && overlaps.size() < 8)
            overlaps << QStringLiteral("%1 s: %2").arg(page->moviePlayer()->currentPlaybackTime(), 0, 'f', 2).arg(found.join(QStringLiteral(", ")));
    }
    // Moves the clock a frame at a time, the lanes looked at in every frame, until `condition`.
    bool advanceLookingAtTheLanes(KRVideoDetailViewController* page, const std::function<bool()>& condition)
    {
        lookAtTheLanes(page);
        return advanceUntil(
            [&] {
                lookAtTheLanes(page);
                return condition();
            },
            1.0 / 60);
    }
    // Plays on for `seconds` of the part, looking at the lanes in every frame.
    void playOnLookingAtTheLanes(KRVideoDetailViewController* page, double seconds)
    {
        const double from = page->moviePlayer()->currentPlaybackTime();
        ASSERT_TRUE(advanceLookingAtTheLanes(page, [&] { return page->moviePlayer()->currentPlaybackTime() > from + seconds; }));
    }

    KRRootViewController* root = nullptr;
    QStringList overlaps;
    qint64 linesLookedAt = 0;
};

} // namespace

TEST_F(VideoDanmakuLanesTest, EnteringAndLeavingTheFullScreenKeepsTheLinesOfALaneApart)
{
    KRVideoDetailViewController* page = playInRoot();
    playOnLookingAtTheLanes(page, 1.5);
    const QRect embedded = page->danmakuRenderer()->geometry();

    clickThroughWindow(fullscreenButton(page));
    ASSERT_TRUE(advanceLookingAtTheLanes(page, [&] { return page->fullscreen()->player()->isFullscreen() && !page->fullscreen()->player()->isTransitioning(); }));
    EXPECT_EQ(page->danmakuRenderer()->geometry(), QRect(0, 0, 667, 375));
    playOnLookingAtTheLanes(page, 2.5);

    clickThroughWindow(fullscreenButton(page));
    ASSERT_TRUE(advanceLookingAtTheLanes(page, [&] { return !page->fullscreen()->player()->isFullscreen() && !page->fullscreen()->player()->isTransitioning(); }));
    EXPECT_EQ(page->danmakuRenderer()->geometry(), embedded);
    playOnLookingAtTheLanes(page, 2.0);

    EXPECT_TRUE(overlaps.isEmpty()) << overlaps.join(QStringLiteral("\n")).toStdString();
    // Busy lanes were looked at all along.
    EXPECT_GT(linesLookedAt, 1000);
}

TEST_F(VideoDanmakuLanesTest, ComingBackFromTheBackgroundInTheFullScreenKeepsTheLinesOfALaneApart)
{
    KRVideoDetailViewController* page = playInRoot();
    clickThroughWindow(fullscreenButton(page));
    ASSERT_TRUE(advanceLookingAtTheLanes(page, [&] { return page->fullscreen()->player()->isFullscreen() && !page->fullscreen()->player()->isTransitioning(); }));
    playOnLookingAtTheLanes(page, 1.5);

    // Listening off: the part pauses in the background and plays on from there when back.
    window->setWindowState(Qt::WindowMinimized);
    ASSERT_EQ(Application::shared().applicationState(), int(ApplicationStateBackground));
    ASSERT_TRUE(advanceLookingAtTheLanes(page, [&] { return page->moviePlayer()->playbackState() != KRPlaybackStatePlaying; }));
    for (int i = 0; i < 30; ++i)
        platform::MainClock::advanceForTesting(0.1);
    window->setWindowState(Qt::WindowNoState);
    ASSERT_EQ(Application::shared().applicationState(), int(ApplicationStateActive));
    ASSERT_TRUE(advanceLookingAtTheLanes(page, [&] { return playing(page); }));
    playOnLookingAtTheLanes(page, 1.0);
    // A window manager may give the window back at another size; it takes its own back.
    const QSize size = window->size();
    window->resize(size + QSize(160, 40));
    ASSERT_TRUE(advanceLookingAtTheLanes(page, [&] { return window->size() == size; }));
    EXPECT_EQ(page->danmakuRenderer()->geometry(), QRect(0, 0, 667, 375));
    playOnLookingAtTheLanes(page, 2.0);

    // Listening on: the sound goes on while the window is down, the lines catch up when back.
    KRPreferences::sharedPreferences().setBackgroundAudioEnabled(true);
    window->setWindowState(Qt::WindowMinimized);
    const double away = page->moviePlayer()->currentPlaybackTime();
    ASSERT_TRUE(advanceLookingAtTheLanes(page, [&] { return page->moviePlayer()->currentPlaybackTime() > away + 1.0; }));
    window->setWindowState(Qt::WindowNoState);
    playOnLookingAtTheLanes(page, 2.0);
    EXPECT_TRUE(page->fullscreen()->player()->isFullscreen());

    EXPECT_TRUE(overlaps.isEmpty()) << overlaps.join(QStringLiteral("\n")).toStdString();
    EXPECT_GT(linesLookedAt, 1000);
}
