// The picture of the video page as a user handles it through the window, on real libmpv with
// the generated clips: the clock moves on in small steps as a user's time passes, so the
// controls hide themselves 3 s after the last touch as they do in the app. A double tap on the
// hidden controls, a paused drag of the slider under the paused marker, and the full screen's
// danmaku composer closed once playback has ended.
#include "VideoPageTesting.h"

#include "look/KRTheme.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationBar.h"
#include "platform/uikit/Slider.h"
#include "platform/uikit/TextField.h"
#include "platform/uikit/Toolbar.h"
#include "playback/KRPlaybackSession.h"
#include "playback/KRPlaybackTransport.h"
#include "playback/KRPlayerControlsView.h"
#include "support/AccountFixtures.h"
#include "support/InteractionFixtures.h"
#include "video/KRVideoDanmakuComposer.h"
#include "video/KRVideoFullscreen.h"

#include <QTest>

using namespace platform::uikit;
using namespace videotest;

namespace {

class VideoPagePictureTest : public VideoPageInFrontTest {
protected:
    void TearDown() override
    {
        KRTheme::sharedTheme()->setStyle(m_style);
        VideoPageInFrontTest::TearDown();
    }
    // A user's time: the clock in small steps, the event loop running between them.
    static void passTime(double seconds)
    {
        for (double gone = 0; gone < seconds; gone += 0.02) {
            platform::MainClock::advanceForTesting(0.02);
            QCoreApplication::processEvents();
        }
    }
    // A click through the window that leaves the animations and the controls' hide to the clock.
    void click(View* view) { clickThroughWindow(view, false); }
    // The controls shown by a tap on the picture, as a user brings them back.
    void showControls(KRPlayerControlsView* controls)
    {
        if (controls->areControlsVisible())
            return;
        QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, controls->mapTo(window.get(), QPoint(40, controls->height() / 2)));
        ASSERT_TRUE(advanceUntil([&] { return controls->areControlsVisible(); }));
    }
    static ImageView* marker(KRPlayerControlsView* controls) { return controls->findChild<ImageView*>(QStringLiteral("pausedOverlay")); }
    static Label* hint(KRPlayerControlsView* controls) { return controls->findChild<Label*>(QStringLiteral("seekHintLabel")); }
    // Shown to the user: on screen and not faded out.
    static bool seen(View* view) { return view && view->isVisible() && view->alpha() > 0.99; }
    Button* titled(View* container, const QString& title) const
    {
        for (Button* button : container->findChildren<Button*>()) {
            if (button->isVisible() && button->currentTitle() == title)
                return button;
        }
        return nullptr;
    }
    View* rail() const { return window->findChild<View*>(QStringLiteral("fullscreenRail")); }
    View* composerBar() const { return window->findChild<View*>(QStringLiteral("fullscreenComposerBar")); }
    // The input method hints the editor that takes the window's typing gives the keyboard.
    Qt::InputMethodHints typingHints() const
    {
        QWidget* focus = window->focusWidget();
        return focus ? Qt::InputMethodHints(focus->inputMethodQuery(Qt::ImHints).toInt()) : Qt::InputMethodHints();
    }

    const int m_style = KRTheme::sharedTheme()->style();
    testsupport::InteractionFixtures interactions{fake};
};

} // namespace

// ---- the controls over the picture ----

// Hidden by their own 3 s, the controls are brought back by a double tap on the picture that
// pauses: they stay, with the paused marker, past the moment a single tap would have counted.
TEST_F(VideoPagePictureTest, ADoubleTapOnHiddenControlsPausesAndShowsThemWithTheMarker)
{
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page) && pauseWatchIdle() && stallWatchIdle(page));
    KRPlayerControlsView* controls = page->playerControls();
    KR_ADVANCE_UNTIL(!controls->areControlsVisible());
    passTime(0.3);

    QTest::mouseDClick(window->windowHandle(), Qt::LeftButton, {}, controls->mapTo(window.get(), QPoint(60, controls->height() / 2)));
    KR_ADVANCE_UNTIL(page->moviePlayer()->playbackState() == KRPlaybackStatePaused);
    passTime(1.0);
    EXPECT_FALSE(page->playbackSession()->isExpectedToPlay());
    EXPECT_TRUE(controls->areControlsVisible());
    EXPECT_TRUE(seen(controls->findChild<Button*>(QStringLiteral("playPauseButton"))));
    EXPECT_TRUE(seen(marker(controls)));

    // A second double tap plays again; the controls hide 3 s later, the marker gone.
    QTest::mouseDClick(window->windowHandle(), Qt::LeftButton, {}, controls->mapTo(window.get(), QPoint(60, controls->height() / 2)));
    KR_ADVANCE_UNTIL(playing(page));
    EXPECT_FALSE(marker(controls)->isVisible());
    KR_ADVANCE_UNTIL(!controls->areControlsVisible());
}

// Paused, the slider dragged: the time bubble lies where the paused marker does, and reads
// whole while the drag lasts; the marker is back once the slider is let go.
TEST_F(VideoPagePictureTest, APausedDragShowsItsTimeClearOfThePausedMarker)
{
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page) && pauseWatchIdle() && stallWatchIdle(page));
    clickPlayPause(page);
    ASSERT_FALSE(HasFatalFailure());
    KR_ADVANCE_UNTIL(page->moviePlayer()->playbackState() == KRPlaybackStatePaused);
    KRPlayerControlsView* controls = page->playerControls();
    ASSERT_TRUE(seen(marker(controls)));

    auto* slider = controls->findChild<Slider*>(QStringLiteral("progressSlider"));
    ASSERT_TRUE(slider && slider->isVisible());
    QPoint at = slider->mapTo(window.get(), QPoint(int(7 + slider->value() * (slider->width() - 14)), slider->height() / 2));
    QTest::mousePress(window->windowHandle(), Qt::LeftButton, {}, at);
    for (int i = 0; i < 40; ++i) {
        at += QPoint(2, 0);
        QTest::mouseMove(window->windowHandle(), at);
        passTime(0.02);
    }
    ASSERT_TRUE(hint(controls)->isVisible());
    EXPECT_TRUE(hint(controls)->text().endsWith(QStringLiteral(" / 0:12"))) << hint(controls)->text().toStdString();
    // Nothing drawn over or under the bubble's text.
    const QRect bubble = QRect(hint(controls)->mapTo(window.get(), QPoint(0, 0)), hint(controls)->size());
    EXPECT_FALSE(marker(controls)->isVisible() && bubble.intersects(QRect(marker(controls)->mapTo(window.get(), QPoint(0, 0)), marker(controls)->size())));

    QTest::mouseRelease(window->windowHandle(), Qt::LeftButton, {}, at);
    passTime(0.2);
    EXPECT_FALSE(hint(controls)->isVisible());
    EXPECT_NE(page->moviePlayer()->playbackState(), KRPlaybackStatePlaying);
    EXPECT_TRUE(seen(marker(controls)));
}

// ---- the full screen's danmaku composer ----

// A portrait video in its portrait full screen, played to its end: the rail stands beside the
// controls, "发弹幕" opens the composer in its place, and each way of closing it (取消, a
// line sent) brings the rail back beside the controls, which have stayed. The full screen's
// field takes a danmaku as typed, and its keyboard bar is the black theme's.
TEST_F(VideoPagePictureTest, AfterTheEndTheRailComesBackWhenTheFullScreenComposerCloses)
{
    testsupport::AccountFixtures::logInWebOnly();
    KRTheme::sharedTheme()->setStyle(1);
    KRPreferences::sharedPreferences().setPortraitVideoFullscreenEnabled(true);
    play.setPortraitCID(testsupport::ServiceFixtures::kDetailCID);
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page) && page->currentVideoIsPortrait());
    KRPlayerControlsView* controls = page->playerControls();
    showControls(controls);
    ASSERT_FALSE(HasFatalFailure());
    click(controls->findChild<Button*>(QStringLiteral("fullscreenButton")));
    KR_ADVANCE_UNTIL(page->fullscreen()->isShown() && rail());
    // On to the end, as a user lets it play.
    page->playerControlsSeekToTime(controls, page->moviePlayer()->duration() - 1);
    KR_ADVANCE_UNTIL(page->isPlaybackEndedAwaitingReplay());
    passTime(0.5);
    showControls(controls);
    ASSERT_FALSE(HasFatalFailure());
    KR_ADVANCE_UNTIL(rail()->isVisible());

    // 取消 on the keyboard's bar.
    click(rail()->findChild<Button*>(QStringLiteral("fullscreenAddDanmakuButton")));
    passTime(0.5);
    auto* field = window->findChild<TextField*>(QStringLiteral("fullscreenInputField"));
    ASSERT_TRUE(field && field->isFirstResponder());
    EXPECT_TRUE(composerBar()->isVisible());
    EXPECT_FALSE(rail()->isVisible());
    EXPECT_TRUE(typingHints().testFlag(Qt::ImhNoAutoUppercase));
    EXPECT_TRUE(typingHints().testFlag(Qt::ImhNoPredictiveText));
    auto* accessory = window->findChild<Toolbar*>(QStringLiteral("fullscreenInputAccessory"));
    ASSERT_TRUE(accessory && accessory->isVisible());
    EXPECT_EQ(accessory->barStyle(), BarStyleBlack);
    click(titled(accessory, QStringLiteral("取消")));
    passTime(1.0);
    EXPECT_FALSE(composerBar()->isVisible());
    EXPECT_TRUE(controls->areControlsVisible());
    EXPECT_TRUE(seen(rail()));

    // A line sent with Return.
    click(rail()->findChild<Button*>(QStringLiteral("fullscreenAddDanmakuButton")));
    passTime(0.5);
    ASSERT_TRUE(field->isFirstResponder());
    for (const QChar ch : QStringLiteral("好看"))
        QTest::sendKeyEvent(QTest::Click, window->windowHandle(), Qt::Key_unknown, QString(ch), Qt::NoModifier);
    QTest::sendKeyEvent(QTest::Click, window->windowHandle(), Qt::Key_Return, QStringLiteral("\r"), Qt::NoModifier);
    KR_ADVANCE_UNTIL(interactions.postedDanmaku() == QList<QString>{QStringLiteral("好看")} && !page->danmakuComposer()->isSending());
    passTime(1.0);
    EXPECT_FALSE(composerBar()->isVisible());
    EXPECT_TRUE(controls->areControlsVisible());
    EXPECT_TRUE(seen(rail()));
}
