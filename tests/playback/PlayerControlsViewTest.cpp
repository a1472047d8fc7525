#include "playback/KRPlayerControlsView.h"

#include "platform/device/DeviceProfile.h"
#include "platform/foundation/MainClock.h"
#include "platform/media/AudioSession.h"
#include "platform/uikit/AnimationClock.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/PanGestureRecognizer.h"
#include "platform/uikit/Screen.h"
#include "platform/uikit/Slider.h"
#include "platform/uikit/TapGestureRecognizer.h"
#include "platform/uikit/ViewController.h"
#include "platform/uikit/Window.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <QTest>

#include <cmath>

using namespace platform::uikit;

namespace {

struct RecordingDelegate : KRPlayerControlsViewDelegate {
    int toggles = 0, quality = 0, speed = 0, fullscreen = 0, danmaku = 0, more = 0;
    std::vector<double> seeks;
    std::vector<bool> visibility;
    void playerControlsDidTogglePlayback(KRPlayerControlsView*) override { ++toggles; }
    void playerControlsSeekToTime(KRPlayerControlsView*, double time) override { seeks.push_back(time); }
    void playerControlsDidRequestQuality(KRPlayerControlsView*) override { ++quality; }
    void playerControlsDidRequestSpeed(KRPlayerControlsView*) override { ++speed; }
    void playerControlsDidRequestFullscreen(KRPlayerControlsView*) override { ++fullscreen; }
    void playerControlsVisibilityDidChange(KRPlayerControlsView*, bool visible) override { visibility.push_back(visible); }
    void playerControlsDidToggleDanmaku(KRPlayerControlsView*) override { ++danmaku; }
    void playerControlsDidRequestMore(KRPlayerControlsView*) override { ++more; }
};

class PlayerControlsViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::MainClock::setManualForTesting(true);
        view = std::make_unique<KRPlayerControlsView>(QRectF(0, 0, 320, 180));
        view->setDelegate(&delegate);
        view->layoutIfNeeded();
    }
    void TearDown() override
    {
        view.reset();
        AnimationClock::finishAll();
        platform::MainClock::setManualForTesting(false);
        platform::media::AudioSession::sharedInstance().resetForTesting();
    }
    template <typename T>
    T* child(const char* name) const
    {
        return view->findChild<T*>(QString::fromLatin1(name));
    }

    RecordingDelegate delegate;
    std::unique_ptr<KRPlayerControlsView> view;
};

TEST(PlayerTimeTextTest, FormatsWholeSeconds)
{
    struct Case {
        double seconds;
        const char* text;
    };
    const Case cases[] = {
        {3725.9, "1:02:05"}, {59.99, "0:59"}, {std::nan(""), "0:00"}, {-3, "0:00"}, {INFINITY, "0:00"},
        {3599.999, "59:59"}, {3600, "1:00:00"}, {1e12, "99999:59:59"}, {359999999.5, "99999:59:59"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(KRPlayerTimeText(c.seconds), QString::fromLatin1(c.text)) << c.seconds;
}

TEST_F(PlayerControlsViewTest, AFreshViewShowsZeroAnUnknownLengthAndThePausedMarker)
{
    EXPECT_EQ(child<Label>("currentTimeLabel")->text(), QStringLiteral("0:00"));
    EXPECT_EQ(child<Label>("durationLabel")->text(), QStringLiteral("--:--"));
    EXPECT_FALSE(child<ImageView>("pausedOverlay")->isHidden());
    EXPECT_TRUE(view->areControlsVisible());
    EXPECT_FALSE(child<Button>("playPauseButton")->image(ControlStateNormal).isNull());
    EXPECT_FALSE(child<Button>("moreButton")->image(ControlStateNormal).isNull());
    EXPECT_EQ(child<Button>("danmakuToggleButton")->accessibilityValue(), QStringLiteral("开启"));
    EXPECT_EQ(child<Button>("backButton")->accessibilityLabel(), QStringLiteral("后退 10 秒"));
    view->setDanmakuEnabled(false);
    EXPECT_EQ(child<Button>("danmakuToggleButton")->accessibilityValue(), QStringLiteral("关闭"));
    view->setVideoTitle(QString());
    EXPECT_EQ(child<Label>("titleLabel")->text(), QStringLiteral("视频"));
    view->setQualityTitle(QString());
    EXPECT_EQ(view->qualityButton()->title(ControlStateNormal), QStringLiteral("自动"));
    view->setQualitySwitching(true, QStringLiteral("1080P"));
    view->setQualityTitle(QStringLiteral("1080P"));
    EXPECT_EQ(view->qualityButton()->title(ControlStateNormal), QStringLiteral("自动"));
    EXPECT_EQ(view->qualityButton()->accessibilityValue(), QStringLiteral("正在切换，当前清晰度继续播放"));
}

TEST_F(PlayerControlsViewTest, SeeksAreClampedAndReported)
{
    view->updateCurrentTime(4, 600);
    EXPECT_EQ(child<Label>("durationLabel")->text(), QStringLiteral("10:00"));
    child<Button>("backButton")->tapForTesting();
    view->seekToTime(-5);
    view->seekToTime(700);
    view->updateCurrentTime(100, 0);
    view->seekToTime(700); // unknown length: only the lower bound
    EXPECT_EQ(delegate.seeks, (std::vector<double>{0, 0, 600, 700}));
    view->updateCurrentTime(30, 600);
    child<Button>("forwardButton")->tapForTesting();
    EXPECT_EQ(delegate.seeks.back(), 40);
    EXPECT_NEAR(child<Slider>("progressSlider")->value(), 40.0 / 600, 1e-6);
}

TEST_F(PlayerControlsViewTest, SliderScrubsWithoutBeingMovedByTheClock)
{
    view->updateCurrentTime(0, 600);
    view->setPlaying(true);
    auto* slider = child<Slider>("progressSlider");
    auto* hint = child<Label>("seekHintLabel");
    slider->setHighlighted(true);
    slider->sendActionsForControlEvents(ControlEventTouchDown);
    EXPECT_TRUE(view->isScrubbing());
    slider->setValue(0.5f);
    slider->sendActionsForControlEvents(ControlEventValueChanged);
    EXPECT_EQ(hint->text(), QStringLiteral("5:00 / 10:00"));
    EXPECT_FALSE(hint->isHidden());
    view->updateCurrentTime(10, 600); // the owner's tick
    EXPECT_EQ(slider->value(), 0.5f);
    // Scrubbing keeps the controls up however long it takes.
    platform::MainClock::advanceForTesting(5.0);
    EXPECT_TRUE(view->areControlsVisible());
    slider->sendActionsForControlEvents(ControlEventTouchUpInside);
    EXPECT_EQ(delegate.seeks, (std::vector<double>{300}));
    EXPECT_TRUE(hint->isHidden());
}

TEST_F(PlayerControlsViewTest, ControlsHideThreeSecondsAfterPlaying)
{
    view->setPlaying(true);
    EXPECT_TRUE(child<ImageView>("pausedOverlay")->isHidden());
    platform::MainClock::advanceForTesting(2.9);
    EXPECT_TRUE(view->areControlsVisible());
    platform::MainClock::advanceForTesting(0.2);
    EXPECT_FALSE(view->areControlsVisible());
    AnimationClock::finishAll();
    EXPECT_EQ(child<View>("bottomShade")->alpha(), 0);
    EXPECT_EQ(delegate.visibility.back(), false);

    // A tap brings them back and the hide is armed again; pausing shows them and disarms it.
    view->tapRecognizer()->tapForTesting(QPointF(160, 90));
    EXPECT_TRUE(view->areControlsVisible());
    EXPECT_TRUE(view->isAutomaticHideScheduled());
    view->setPlaying(false);
    EXPECT_FALSE(view->isAutomaticHideScheduled());
    platform::MainClock::advanceForTesting(4);
    EXPECT_TRUE(view->areControlsVisible());
}

TEST_F(PlayerControlsViewTest, TapsOnButtonsNeverReachTheSurface)
{
    view->tapRecognizer()->tapForTesting(QPointF(160, 160)); // the play button
    EXPECT_TRUE(view->areControlsVisible());
    view->tapRecognizer()->tapForTesting(QPointF(10, 100)); // the picture
    EXPECT_FALSE(view->areControlsVisible());
    // A double tap is not two taps.
    view->setControlsVisible(true, false);
    view->tapRecognizer()->tapForTesting(QPointF(10, 100), 2);
    EXPECT_TRUE(view->areControlsVisible());

    // Double tap: playing with the controls up leaves playback alone; hidden, it toggles.
    view->setPlaying(true);
    view->doubleTapRecognizer()->tapForTesting(QPointF(10, 100), 2);
    EXPECT_EQ(delegate.toggles, 0);
    view->setControlsVisible(false, false);
    view->doubleTapRecognizer()->tapForTesting(QPointF(10, 100), 2);
    EXPECT_EQ(delegate.toggles, 1);
    EXPECT_TRUE(view->areControlsVisible());
}

TEST_F(PlayerControlsViewTest, PansSeekOrSetBrightnessAndVolume)
{
    view->updateCurrentTime(100, 600);
    view->panRecognizer()->panForTesting(QPointF(10, 100), {{7, 0}, {0, -7}}); // under 8 points: nothing
    EXPECT_TRUE(delegate.seeks.empty());
    view->panRecognizer()->panForTesting(QPointF(10, 100), {{100, 0}, {320, 0}});
    EXPECT_EQ(delegate.seeks, (std::vector<double>{280}));
    // |dy| = 1.15 |dx| exactly is a seek.
    view->panRecognizer()->panForTesting(QPointF(10, 100), {{-20, 23}});
    ASSERT_EQ(delegate.seeks.size(), 2u);
    EXPECT_NEAR(delegate.seeks.back(), 280 - 20.0 / 320 * 180, 1e-9);
    view->updateCurrentTime(0, 0);
    view->panRecognizer()->panForTesting(QPointF(10, 100), {{320, 0}});
    EXPECT_EQ(delegate.seeks.back(), 60); // unknown length: a minute per width

    Screen::setBrightness(0.5);
    view->panRecognizer()->panForTesting(QPointF(40, 100), {{0, -40}, {0, -80}});
    EXPECT_NEAR(Screen::brightness(), 0.5 + 80.0 / 180, 1e-9);
    view->panRecognizer()->panForTesting(QPointF(300, 100), {{0, 90}});
    EXPECT_NEAR(platform::media::AudioSession::sharedInstance().outputVolume(), 0.5, 1e-6);
    // A cancelled seek pan seeks nowhere.
    const size_t seeks = delegate.seeks.size();
    view->panRecognizer()->panForTesting(QPointF(10, 100), {{100, 0}}, true);
    EXPECT_EQ(delegate.seeks.size(), seeks);
    EXPECT_FALSE(view->isScrubbing());
}

TEST_F(PlayerControlsViewTest, LaysOutItsBarsForEachHeight)
{
    struct Case {
        double height;
        QRectF playPause;
        QRectF slider;
    };
    for (const Case& c : {Case{180, {141, 2, 38, 31}, {47, 34, 226, 22}}, Case{240, {137, 5, 46, 38}, {57, 46, 206, 22}}}) {
        view->setFrame(QRectF(0, 0, 320, c.height));
        view->layoutIfNeeded();
        EXPECT_EQ(child<Button>("playPauseButton")->frame(), c.playPause) << c.height;
        EXPECT_EQ(child<Slider>("progressSlider")->frame(), c.slider) << c.height;
        EXPECT_EQ(child<Button>("playPauseButton")->superview(), child<View>("bottomShade"));
    }
    view->setOfflineCompactMode(true);
    view->layoutIfNeeded();
    EXPECT_TRUE(view->qualityButton()->isHidden());
    EXPECT_EQ(view->qualityButton()->frame(), QRectF());
    EXPECT_TRUE(child<Button>("danmakuToggleButton")->isHidden());
    view->setFullscreen(true, false);
    EXPECT_EQ(child<Button>("fullscreenButton")->accessibilityLabel(), QStringLiteral("缩小"));
    view->setFullscreen(false, true);
    EXPECT_EQ(child<Button>("fullscreenButton")->accessibilityLabel(), QStringLiteral("竖屏全屏"));
}

TEST_F(PlayerControlsViewTest, ButtonsReportTheirIntents)
{
    view->setControlsVisible(false, false);
    view->qualityButton()->tapForTesting();
    EXPECT_TRUE(view->areControlsVisible());
    child<Button>("speedButton")->tapForTesting();
    child<Button>("fullscreenButton")->tapForTesting();
    view->moreButton()->tapForTesting();
    child<Button>("playPauseButton")->tapForTesting();
    child<Button>("danmakuToggleButton")->tapForTesting();
    EXPECT_EQ(std::vector<int>({delegate.quality, delegate.speed, delegate.fullscreen, delegate.more, delegate.toggles, delegate.danmaku}),
              std::vector<int>({1, 1, 1, 1, 1, 1}));
}

} // namespace

// ---- a finger on the controls of players shown in a window ----

namespace {

class PlayerControlsOnScreenTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::MainClock::setManualForTesting(true);
        platform::media::AudioSession::sharedInstance().resetForTesting();
        window = std::make_unique<Window>();
        window->setRootViewController(new ViewController());
        window->makeKeyAndVisible();
    }
    void TearDown() override
    {
        window.reset();
        AnimationClock::finishAll();
        platform::MainClock::setManualForTesting(false);
        platform::media::AudioSession::sharedInstance().resetForTesting();
    }
    // A player's controls, as a page keeps one for its life.
    KRPlayerControlsView* addControls(qreal y)
    {
        auto* controls = new KRPlayerControlsView(QRectF(0, y, 320, 180), window->rootViewController()->view());
        controls->setDelegate(&delegate);
        controls->layoutIfNeeded();
        return controls;
    }
    // A finger put on the picture at `from` (the controls' coordinates) and drawn by `by` in
    // one-point steps through the window, then lifted.
    void drag(KRPlayerControlsView* controls, const QPoint& from, const QPoint& by)
    {
        const QPoint start = controls->mapTo(window.get(), from);
        QTest::mousePress(window->windowHandle(), Qt::LeftButton, {}, start);
        const int steps = std::max(std::abs(by.x()), std::abs(by.y()));
        for (int i = 1; i <= steps; ++i)
            QTest::mouseMove(window->windowHandle(), start + by * i / steps);
        QTest::mouseRelease(window->windowHandle(), Qt::LeftButton, {}, start + by);
    }
    static double volume() { return platform::media::AudioSession::sharedInstance().outputVolume(); }

    RecordingDelegate delegate;
    std::unique_ptr<Window> window;
};

} // namespace

// A short sideways drag on the picture seeks and shows the controls; it is no tap as well, so
// the controls stay up once a double tap could no longer come.
TEST_F(PlayerControlsOnScreenTest, AShortDragOnThePictureSeeksAndIsNoTap)
{
    KRPlayerControlsView* controls = addControls(100);
    controls->setPlaying(true);
    controls->updateCurrentTime(100, 600);
    for (int distance : {8, 9, 10}) {
        SCOPED_TRACE(distance);
        controls->setControlsVisible(false, false);
        const size_t seeks = delegate.seeks.size();
        drag(controls, QPoint(60, 90), QPoint(distance, 0));
        EXPECT_EQ(delegate.seeks.size(), seeks + 1);
        EXPECT_TRUE(controls->areControlsVisible());
        platform::MainClock::advanceForTesting(0.4);
        EXPECT_TRUE(controls->areControlsVisible()) << "the drag also counted as a tap";
        platform::MainClock::advanceForTesting(1);
    }
    // A click is still a tap on the picture.
    QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, controls->mapTo(window.get(), QPoint(60, 90)));
    platform::MainClock::advanceForTesting(0.4);
    EXPECT_FALSE(controls->areControlsVisible());
}

// Two pages' players: the volume set on one and changed on the other, a drag back on the first
// moves on from the volume as it is now.
TEST_F(PlayerControlsOnScreenTest, AVolumeDragStartsFromTheVolumeAsItIsNow)
{
    KRPlayerControlsView* first = addControls(0);
    KRPlayerControlsView* second = addControls(300);
    drag(first, QPoint(280, 90), QPoint(0, 36));
    const double afterFirst = volume();
    EXPECT_NEAR(afterFirst, 1.0 - 36.0 / 180, 1e-3);
    drag(second, QPoint(280, 90), QPoint(0, 54));
    EXPECT_NEAR(volume(), afterFirst - 54.0 / 180, 1e-3);
    const double now = volume();
    drag(first, QPoint(280, 90), QPoint(0, -18));
    EXPECT_NEAR(volume(), now + 18.0 / 180, 1e-3);
    // Set elsewhere (the system's own control): the next drag starts there too.
    platform::media::AudioSession::sharedInstance().setOutputVolume(0.25);
    drag(second, QPoint(280, 90), QPoint(0, -36));
    EXPECT_NEAR(volume(), 0.25 + 36.0 / 180, 1e-3);
}
