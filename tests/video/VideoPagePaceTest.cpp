// The page's pace on an A4-class phone and on a later one: how often the controls follow the
// player, counted on the main clock while real libmpv plays the generated clip.
#include "VideoPageTesting.h"

#include "platform/uikit/Application.h"
#include "playback/KRPlaybackSession.h"
#include "playback/KRPlayerControlsView.h"

#include <cmath>

using namespace platform::uikit;
using namespace videotest;

namespace {

struct Pace {
    const char* machine;
    const char* system;
    double tick; // the controls' tick
};

void PrintTo(const Pace& pace, std::ostream* out) { *out << pace.machine << " on " << pace.system; }

// An iPhone 4 (A4) and a later phone.
const Pace kOldPhone{"iPhone3,1", "7.1", 0.25};
const Pace kLaterPhone{"iPhone10,1", "16.7", 0.2};

class VideoPagePaceTest : public VideoPageTest, public ::testing::WithParamInterface<Pace> {
protected:
    void SetUp() override
    {
        VideoPageTest::SetUp();
        playOncePreferences();
        useDevice(QString::fromLatin1(GetParam().machine), QString::fromLatin1(GetParam().system));
        Application::shared().becomeActiveForTesting();
    }
    void TearDown() override
    {
        Application::shared().becomeActiveForTesting();
        VideoPageTest::TearDown();
    }

    KRVideoDetailViewController* playUntilSteady()
    {
        KRVideoDetailViewController* page = pushAndPlay();
        [&] { KR_ADVANCE_UNTIL(playing(page) && pauseWatchIdle()); }();
        return page;
    }
    // The moments of the controls' ticks while the clock moves `seconds` in small steps.
    static QList<double> tickMomentsOver(KRVideoDetailViewController* page, double seconds)
    {
        QList<double> moments;
        const QMetaObject::Connection counting = QObject::connect(page->playbackSession(), &KRPlaybackSession::progressed,
                                                                  [&] { moments.append(platform::MainClock::now()); });
        for (double moved = 0; moved < seconds - 1e-9; moved += 0.05)
            platform::MainClock::advanceForTesting(0.05);
        QObject::disconnect(counting);
        return moments;
    }
};

} // namespace

// The controls tick every 0.25 s on an A4-class phone and every 0.2 s on a later one, from the
// start and again after a pause and a play through the controls.
TEST_P(VideoPagePaceTest, TheControlsTickAtTheDevicesPace)
{
    const Pace pace = GetParam();
    KRVideoDetailViewController* page = playUntilSteady();
    ASSERT_FALSE(HasFatalFailure());
    const auto expectPace = [&](const QList<double>& moments) {
        ASSERT_GE(moments.size(), int(std::floor(2.0 / pace.tick)));
        EXPECT_LE(moments.size(), int(std::ceil(2.0 / pace.tick)));
        for (qsizetype i = 1; i < moments.size(); ++i)
            EXPECT_NEAR(moments[i] - moments[i - 1], pace.tick, 0.001) << "between ticks " << i - 1 << " and " << i;
    };
    expectPace(tickMomentsOver(page, 2.0));

    page->playerControls()->setControlsVisible(true, false);
    auto* playPause = page->playerControls()->findChild<Button*>(QStringLiteral("playPauseButton"));
    clickThroughWindow(playPause);
    ASSERT_FALSE(page->playbackSession()->isExpectedToPlay());
    KR_ADVANCE_UNTIL(page->moviePlayer()->playbackState() != KRPlaybackStatePlaying);
    page->playerControls()->setControlsVisible(true, false);
    clickThroughWindow(playPause);
    KR_ADVANCE_UNTIL(playing(page) && pauseWatchIdle());
    expectPace(tickMomentsOver(page, 2.0));
}

INSTANTIATE_TEST_SUITE_P(Devices, VideoPagePaceTest, ::testing::Values(kOldPhone, kLaterPhone),
                         [](const ::testing::TestParamInfo<Pace>& info) { return info.index == 0 ? "A4Class" : "Later"; });
