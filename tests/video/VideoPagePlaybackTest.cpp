// The video page playing the generated clips on real libmpv (sound to the null output): the
// start and stop, DASH, failover, speed, pause recovery, continuation, history and resume.
#include "VideoPageTesting.h"

#include "platform/media/MediaPlayer.h"
#include "platform/media/MpvCore.h"
#include "platform/uikit/ActionSheet.h"
#include "platform/uikit/AlertView.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Control.h"
#include "platform/uikit/Label.h"
#include "playback/KRDASHPlayback.h"
#include "playback/KRDanmakuRenderer.h"
#include "playback/KRPlaybackClaims.h"
#include "playback/KRPlaybackSession.h"
#include "playback/KRPlaybackTransport.h"
#include "playback/KRPlayerControlsView.h"
#include "store/KRLocalHistoryStore.h"
#include "platform/device/Reachability.h"
#include "platform/foundation/AtomicFile.h"
#include "playback/KROfflineCacheManager.h"

#include <QDir>
#include <QImage>
#include "support/ConsoleCapture.h"

#include <QTest>

#include <limits>

using namespace platform::uikit;
using namespace videotest;
using testsupport::PlaybackFixtures;

namespace {

class VideoPagePlaybackTest : public VideoPageTest {
protected:
    void SetUp() override
    {
        VideoPageTest::SetUp();
        playOncePreferences();
    }
    QString statusText(KRVideoDetailViewController* page) { return labelText(page, "danmakuStatusLabel"); }
    static QString log() { return diagnosticsLog(); }

    testsupport::ConsoleCapture console;
};

} // namespace

TEST_F(VideoPagePlaybackTest, ProgressiveStartsInTheSurfaceAndAPopStopsIt)
{
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page));
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvanePlayerSurface] persistent-install frame={{0, 64}, {375, 210}}")));
    EXPECT_EQ(page->activePlaybackQuality(), 64);
    EXPECT_EQ(page->moviePlayer()->contentURL(), play.progressiveURL(64));
    EXPECT_NE(window->findChild<View*>(QStringLiteral("customFullscreenBackdrop")), nullptr);
    EXPECT_TRUE(part<Button>(page, "playButton")->isHidden());
    // The full-screen button shows from the start, before anything lays the page out again.
    auto* fullscreenButton = page->playerControls()->findChild<Button*>(QStringLiteral("fullscreenButton"));
    ASSERT_NE(fullscreenButton, nullptr);
    EXPECT_FALSE(fullscreenButton->image(ControlStateNormal).isNull());
    EXPECT_EQ(fullscreenButton->accessibilityLabel(), QStringLiteral("横屏全屏"));
    // The danmaku renderer takes the document of the part.
    KR_ADVANCE_UNTIL(play.danmakuRequestCount() >= 1 && page->danmakuRenderer()->isVisible());

    QPointer<KRVideoDetailViewController> guard(page);
    nav->popViewControllerAnimated(false);
    AnimationClock::finishAll();
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvanePlaybackLifecycle] stopped reason=navigation")));
    EXPECT_EQ(window->findChild<View*>(QStringLiteral("customFullscreenBackdrop")), nullptr);
    if (guard) {
        EXPECT_EQ(guard->moviePlayer(), nullptr);
        guard->tearDownMoviePlayer();
        guard->tearDownMoviePlayer();
    }
    flushDeferredDeletes();
}

TEST_F(VideoPagePlaybackTest, DASHPlaysSoundAndPictureInStep)
{
    KRPreferences::sharedPreferences().setPreferredQuality(80);
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(page->dashPlayback() && page->dashPlayback()->isRunning() && playing(page));
    EXPECT_EQ(page->activePlaybackQuality(), 80);
    EXPECT_EQ(page->dashPlayback()->pictureURL(), play.dashVideoURL(80));
    EXPECT_EQ(page->moviePlayer()->contentURL(), play.dashAudioURL());
    EXPECT_TRUE(page->dashPlayback()->picturePlayer()->isMuted());
    KR_ADVANCE_UNTIL(page->moviePlayer()->currentPlaybackTime() > 1.5 && page->dashPlayback()->picturePlayer()->framesSinceLoadOrSeek() > 3);
    EXPECT_LE(std::abs(page->dashPlayback()->drift()), KRDASHPlayback::kPlayingDriftLimit);
    // The quality list came with the DASH information.
    EXPECT_EQ(page->qualityValues(), (QList<int>{120, 80, 64, 32, 16}));
    EXPECT_EQ(page->qualityTitleForValue(80), QStringLiteral("1080P"));
    // A rate reaches the picture player too.
    page->setPlaybackRateValue(1.25f, true);
    EXPECT_TRUE(log().contains(QStringLiteral("[playback-rate-applied] rate=1.25 hold=NO expected=YES state=1 iosPicture=NO dashPicture=YES")));
    KR_ADVANCE_UNTIL(std::abs(page->dashPlayback()->picturePlayer()->rate() - 1.25) < 0.01);
}

// A DASH pair whose picture is slow to come waits at its gate with its sound ready and paused:
// that pause is the pair's own, so no retry pushes it and no give-up stops it. Once the
// picture comes the pair starts, as meant.
TEST_F(VideoPagePlaybackTest, ADASHPairWaitingForItsPictureIsNeitherRetriedNorGivenUp)
{
    KRPreferences::sharedPreferences().setPreferredQuality(80);
    std::shared_ptr<testsupport::BodyGate> gate = play.gateMedia(80);
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(page->dashPlayback() && page->moviePlayer()
                     && (page->moviePlayer()->loadState() & (KRLoadStatePlayable | KRLoadStatePlaythroughOK)));
    ASSERT_FALSE(page->dashPlayback()->isRunning());
    ASSERT_NE(page->moviePlayer()->playbackState(), KRPlaybackStatePlaying);
    const qsizetype mark = log().size();
    const double from = platform::MainClock::now();
    KR_ADVANCE_UNTIL(platform::MainClock::now() - from > KRPlaybackSession::kGiveUpAfter + 1.0);
    EXPECT_FALSE(log().mid(mark).contains(QStringLiteral("[unexpected-pause-observed]")));
    EXPECT_FALSE(log().mid(mark).contains(QStringLiteral("[unexpected-pause-give-up]")));
    EXPECT_TRUE(page->isPlaybackExpectedToPlay());
    EXPECT_FALSE(page->dashPlayback()->isRunning());
    gate->openTo(std::numeric_limits<qint64>::max());
    KR_ADVANCE_UNTIL(page->dashPlayback() && page->dashPlayback()->isRunning() && playing(page));
    EXPECT_EQ(page->activePlaybackQuality(), 80);
}

TEST_F(VideoPagePlaybackTest, AMissingFirstAddressHandsOverToTheBackup)
{
    play.setFault(PlaybackFixtures::Fault::PrimaryMediaMissing);
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page));
    EXPECT_EQ(page->moviePlayer()->contentURL(), play.progressiveBackupURL(64));
    EXPECT_TRUE(log().contains(QStringLiteral("playback-candidate-failover")));
}

// An address that expires while the part is paused: the failure reported fails over to the
// backup, which stays paused until the user plays; one that expires while it plays plays on.
TEST_F(VideoPagePlaybackTest, AnAddressThatExpiresKeepsThePartPausedOrPlayingAsItWas)
{
    // The engine of the player shown says its read of the address failed.
    const auto readFails = [](KRVideoDetailViewController* page) {
        Q_EMIT page->moviePlayer()->playerForTesting()->core()->loadFailed(
            platform::Error(QStringLiteral("MediaEngine"), -1, QStringLiteral("HTTP error 404 Not Found")));
    };
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page));
    page->playerControls()->setControlsVisible(true, false);
    auto* playPause = page->playerControls()->findChild<Button*>(QStringLiteral("playPauseButton"));
    clickThroughWindow(playPause);
    ASSERT_FALSE(page->isPlaybackExpectedToPlay());
    KR_ADVANCE_UNTIL(page->playbackSession()->state() == KRPlaybackSession::State::Paused);

    // The first address expires, and the engine says its read failed (a paused player here may
    // hold such a failure, or take it for the end, so the test tells it): the session fails
    // over to the backup.
    QList<bool> playingAtInstall;
    const QMetaObject::Connection installs = QObject::connect(page->playbackSession(), &KRPlaybackSession::mediaInstalled, page,
                                                             [&] { playingAtInstall.append(page->playerControls()->isPlaying()); });
    const qsizetype mark = log().size();
    play.setFault(PlaybackFixtures::Fault::PrimaryMediaMissing);
    readFails(page);
    KR_ADVANCE_UNTIL(log().contains(QStringLiteral("[playback-candidate-failover]")) && page->moviePlayer()
                     && page->moviePlayer()->contentURL() == play.progressiveBackupURL(64));
    KR_ADVANCE_UNTIL(page->playbackSession()->state() == KRPlaybackSession::State::Paused);
    for (int i = 0; i < 40; ++i) {
        platform::MainClock::advanceForTesting(0.05);
        QCoreApplication::processEvents();
    }
    EXPECT_NE(page->moviePlayer()->playbackState(), KRPlaybackStatePlaying);
    EXPECT_FALSE(page->isPlaybackExpectedToPlay());
    EXPECT_FALSE(page->playerControls()->isPlaying());
    EXPECT_FALSE(log().mid(mark).contains(QStringLiteral("[unexpected-pause-retry]")));
    QObject::disconnect(installs);
    EXPECT_EQ(playingAtInstall, QList<bool>{false}) << "the controls show it paused from its installation";

    // Played, the backup expires too: the fresh resolve plays on.
    page->playerControls()->setControlsVisible(true, false);
    clickThroughWindow(playPause);
    KR_ADVANCE_UNTIL(playing(page));
    EXPECT_TRUE(KRPlaybackClaims::shared().isHeldBy(page->playbackSession()));
    play.setFault(PlaybackFixtures::Fault::None);
    readFails(page);
    KR_ADVANCE_UNTIL(log().contains(QStringLiteral("[playback-fresh-resolve]")));
    KR_ADVANCE_UNTIL(playing(page) && page->playbackSession()->state() == KRPlaybackSession::State::Playing);
    EXPECT_TRUE(page->isPlaybackExpectedToPlay());
    EXPECT_TRUE(page->playerControls()->isPlaying());
    EXPECT_TRUE(KRPlaybackClaims::shared().isHeldBy(page->playbackSession()));
    EXPECT_TRUE(log().contains(QStringLiteral("[audio-session-activate] reason=online-player-start ")));
}

TEST_F(VideoPagePlaybackTest, WhenEveryAddressFailsOneFreshResolveThenThePlayButton)
{
    play.setFault(PlaybackFixtures::Fault::AllMediaMissing);
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(log().contains(QStringLiteral("playback-construction-terminal-failure")));
    EXPECT_EQ(log().count(QStringLiteral("playback-fresh-resolve")), 1);
    EXPECT_EQ(page->moviePlayer(), nullptr);
    EXPECT_FALSE(part<Button>(page, "playButton")->isHidden());
    EXPECT_FALSE(page->hasStartedPlayback());
}

TEST_F(VideoPagePlaybackTest, SpeedSheetAndHold)
{
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page));
    page->speedButtonTapped(nullptr);
    ActionSheet* sheet = page->visibleActionSheet();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->tag(), 7301);
    EXPECT_EQ(sheet->buttonTitleAtIndex(3), QStringLiteral("1.25x"));
    EXPECT_EQ(sheet->cancelButtonIndex(), 6);
    sheet->tapButtonForTesting(3);
    EXPECT_EQ(statusText(page), QStringLiteral("播放速度 1.25x"));
    KR_ADVANCE_UNTIL(std::abs(page->moviePlayer()->playerForTesting()->rate() - 1.25) < 0.01);
    EXPECT_TRUE(log().contains(QStringLiteral("[playback-rate-applied] rate=1.25 hold=NO expected=YES state=1 iosPicture=NO dashPicture=NO")));

    page->setPlaybackRateValue(1.5f, false);
    page->speedPressChanged(1);
    EXPECT_EQ(statusText(page), QStringLiteral("按住 2.0x"));
    KR_ADVANCE_UNTIL(std::abs(page->moviePlayer()->playerForTesting()->rate() - 2.0) < 0.01);
    page->speedPressChanged(3);
    EXPECT_EQ(statusText(page), QStringLiteral("恢复 1.5x"));
    EXPECT_FLOAT_EQ(page->playbackRate(), 1.5f);
    page->setPlaybackRateValue(1.25f, false);
    page->speedPressChanged(1);
    page->speedPressChanged(4);
    EXPECT_EQ(statusText(page), QStringLiteral("恢复 1.25x"));
    page->setPlaybackRateValue(0.0f, false);
    page->speedPressChanged(1);
    page->speedPressChanged(5);
    EXPECT_EQ(statusText(page), QStringLiteral("恢复 1x"));
}

// The widget the window system hands a press to at a place of the picture where no control
// takes it, and that place in the widget's coordinates. The left edge is the navigation's
// back drag, so the search starts at the middle.
static std::pair<QWidget*, QPoint> pictureSpot(KRVideoDetailViewController* page)
{
    QWidget* picture = page->moviePlayer()->view();
    for (int y = picture->height() / 4; y < picture->height(); y += 8) {
        for (int x = picture->width() / 2; x < picture->width(); x += 8) {
            QWidget* hit = picture->childAt(QPoint(x, y));
            if (!hit)
                hit = picture;
            bool onControl = false;
            for (QWidget* w = hit; w && w != picture; w = w->parentWidget())
                onControl = onControl || qobject_cast<Control*>(w) || w->testAttribute(Qt::WA_TransparentForMouseEvents);
            if (!onControl)
                return {hit, hit->mapFrom(picture, QPoint(x, y))};
        }
    }
    return {nullptr, {}};
}

TEST_F(VideoPagePlaybackTest, HoldingThePicturePlaysAtDoubleSpeedUntilReleased)
{
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page));
    page->setPlaybackRateValue(1.5f, false);
    const auto [target, spot] = pictureSpot(page);
    ASSERT_NE(target, nullptr);

    QTest::mousePress(target, Qt::LeftButton, {}, spot);
    platform::MainClock::advanceForTesting(0.3);
    EXPECT_NE(statusText(page), QStringLiteral("按住 2.0x"));
    EXPECT_FALSE(log().contains(QStringLiteral("hold=YES")));
    platform::MainClock::advanceForTesting(0.06);
    EXPECT_EQ(statusText(page), QStringLiteral("按住 2.0x"));
    EXPECT_TRUE(log().contains(QStringLiteral("[playback-rate-applied] rate=2.00 hold=YES")));
    KR_ADVANCE_UNTIL(std::abs(page->moviePlayer()->playerForTesting()->rate() - 2.0) < 0.01);
    QTest::mouseRelease(target, Qt::LeftButton, {}, spot);
    EXPECT_EQ(statusText(page), QStringLiteral("恢复 1.5x"));
    EXPECT_FLOAT_EQ(page->playbackRate(), 1.5f);
    KR_ADVANCE_UNTIL(std::abs(page->moviePlayer()->playerForTesting()->rate() - 1.5) < 0.01);

    // A short press is no hold.
    page->setPlaybackRateValue(0.0f, false);
    const qsizetype holds = log().count(QStringLiteral("hold=YES"));
    QTest::mousePress(target, Qt::LeftButton, {}, spot);
    platform::MainClock::advanceForTesting(0.2);
    QTest::mouseRelease(target, Qt::LeftButton, {}, spot);
    platform::MainClock::advanceForTesting(0.3);
    EXPECT_EQ(log().count(QStringLiteral("hold=YES")), holds);

    // A stored rate of 0 comes back as 1x.
    QTest::mousePress(target, Qt::LeftButton, {}, spot);
    platform::MainClock::advanceForTesting(0.35);
    EXPECT_EQ(statusText(page), QStringLiteral("按住 2.0x"));
    QTest::mouseRelease(target, Qt::LeftButton, {}, spot);
    EXPECT_EQ(statusText(page), QStringLiteral("恢复 1x"));
}

TEST_F(VideoPagePlaybackTest, AnUnexpectedPauseIsRetriedAfterAPause)
{
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page) && pauseWatchIdle());
    const qsizetype mark = log().size();
    const auto since = [&] { return log().mid(mark); };
    // The player stops by itself; the page still means to play.
    page->moviePlayer()->playerForTesting()->pause();
    KR_ADVANCE_UNTIL(since().contains(QStringLiteral("unexpected-pause-observed")));
    const double observed = platform::MainClock::now();
    KR_ADVANCE_UNTIL(since().contains(QStringLiteral("[unexpected-pause-retry] attempt=1")));
    EXPECT_GE(platform::MainClock::now() - observed, 0.45 - 0.2);
    KR_ADVANCE_UNTIL(since().contains(QStringLiteral("unexpected-pause-recovered")));
    EXPECT_TRUE(page->isPlaybackExpectedToPlay());

    // A pause the user asks for is no surprise.
    page->playerControlsDidTogglePlayback(page->playerControls());
    EXPECT_FALSE(page->isPlaybackExpectedToPlay());
    platform::MainClock::advanceForTesting(2.0);
    EXPECT_EQ(since().count(QStringLiteral("unexpected-pause-observed")), 1);
}

// The sound of a running DASH pair paused from outside the pair is retried as a single
// stream is: the retry starts the sound again and the picture goes on with it, in step. The
// transport's own pause is taken: it forgets that it was meant to play, so no rate set by the
// retry can bring it back, only a play.
TEST_F(VideoPagePlaybackTest, AnUnexpectedPauseOfADASHPairsSoundIsRecovered)
{
    KRPreferences::sharedPreferences().setPreferredQuality(80);
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(page->dashPlayback() && page->dashPlayback()->isRunning() && playing(page) && pauseWatchIdle()
                     && stallWatchIdle(page));
    KRDASHPlayback* pair = page->dashPlayback();
    const qsizetype mark = log().size();
    const auto since = [&] { return log().mid(mark); };
    page->moviePlayer()->pause();
    KR_ADVANCE_UNTIL(since().contains(QStringLiteral("unexpected-pause-observed")));
    EXPECT_TRUE(since().contains(QStringLiteral("dash=YES")));
    KR_ADVANCE_UNTIL(since().contains(QStringLiteral("[unexpected-pause-recovered]"))
                     || since().contains(QStringLiteral("[unexpected-pause-give-up]")));
    EXPECT_TRUE(since().contains(QStringLiteral("[unexpected-pause-retry] attempt=1"))) << since().toStdString();
    EXPECT_TRUE(since().contains(QStringLiteral("[unexpected-pause-recovered]"))) << since().toStdString();
    EXPECT_FALSE(since().contains(QStringLiteral("[unexpected-pause-give-up]")));
    EXPECT_NE(statusText(page), QStringLiteral("播放已暂停，点播放继续"));
    EXPECT_TRUE(page->isPlaybackExpectedToPlay());
    ASSERT_EQ(page->dashPlayback(), pair);

    const double from = page->moviePlayer()->currentPlaybackTime();
    KR_ADVANCE_UNTIL(pair->isRunning() && playing(page) && pair->picturePlayer()->rate() > 0
                     && page->moviePlayer()->currentPlaybackTime() > from + 1.0 && pair->pictureTime() > from + 0.8);
    EXPECT_LE(std::abs(pair->drift()), KRDASHPlayback::kPlayingDriftLimit);
}

// A player that stops and goes on by itself before the first retry ends that watch: the
// next stop is observed afresh and waits its own delay, not the one the first stop started.
TEST_F(VideoPagePlaybackTest, APauseThatEndsByItselfEndsItsWatchBeforeTheNext)
{
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page) && pauseWatchIdle());
    const qsizetype mark = log().size();
    const auto since = [&] { return log().mid(mark); };
    page->moviePlayer()->playerForTesting()->pause();
    KR_ADVANCE_UNTIL(since().contains(QStringLiteral("unexpected-pause-observed")));
    page->moviePlayer()->playerForTesting()->play();
    KR_ADVANCE_UNTIL(since().contains(QStringLiteral("[unexpected-pause-recovered]")));
    EXPECT_TRUE(since().contains(QStringLiteral("attempts=0"))) << since().toStdString();
    EXPECT_FALSE(since().contains(QStringLiteral("unexpected-pause-retry")));

    // Long after the first stop, a second one.
    platform::MainClock::advanceForTesting(2.0);
    page->moviePlayer()->playerForTesting()->pause();
    KR_ADVANCE_UNTIL(since().count(QStringLiteral("unexpected-pause-observed")) == 2);
    const double observed = platform::MainClock::now();
    KR_ADVANCE_UNTIL(since().contains(QStringLiteral("[unexpected-pause-retry] attempt=1")));
    EXPECT_GE(platform::MainClock::now() - observed, 0.45 - 0.2);
    KR_ADVANCE_UNTIL(since().count(QStringLiteral("[unexpected-pause-recovered]")) == 2);
}

TEST_F(VideoPagePlaybackTest, TheEndOfAPartContinuesToTheNext)
{
    KRPreferences::sharedPreferences().setAutoContinueEnabled(true);
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page));
    page->playerControlsSeekToTime(page->playerControls(), 11.0);
    KR_ADVANCE_UNTIL(page->selectedPageIndex() == 1);
    EXPECT_TRUE(log().contains(QStringLiteral("[playback-auto-next-part] from=0 to=1 count=3")));
    EXPECT_EQ(statusText(page), QStringLiteral("自动播放 P2"));
    KR_ADVANCE_UNTIL(playing(page));

    page->activatePageAtIndex(2, true);
    KR_ADVANCE_UNTIL(playing(page));
    page->playerControlsSeekToTime(page->playerControls(), 11.0);
    KR_ADVANCE_UNTIL(page->isPlaybackEndedAwaitingReplay());
    EXPECT_TRUE(log().contains(QStringLiteral("[playback-collection-continuation-deferred] identity=%1 finalPart=2 pageCount=3 loop=0")
                                   .arg(page->video()->feedIdentity())));
    EXPECT_FALSE(part<Button>(page, "playButton")->isHidden());
    // Play again starts from the beginning.
    QTest::mouseClick(part<Button>(page, "playButton"), Qt::LeftButton);
    KR_ADVANCE_UNTIL(playing(page));
    EXPECT_LT(page->moviePlayer()->currentPlaybackTime(), 5.0);
}

TEST_F(VideoPagePlaybackTest, AfterTheEndASeekThenPlayGoesOnFromTheTimeSought)
{
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page));
    page->playerControlsSeekToTime(page->playerControls(), 11.0);
    KR_ADVANCE_UNTIL(page->isPlaybackEndedAwaitingReplay());
    // The user drags back to 0:04, then taps play.
    page->playerControlsSeekToTime(page->playerControls(), 4.0);
    const qsizetype mark = log().size();
    QTest::mouseClick(part<Button>(page, "playButton"), Qt::LeftButton);
    KR_ADVANCE_UNTIL(playing(page));
    EXPECT_GE(page->moviePlayer()->currentPlaybackTime(), 3.5);
    EXPECT_FALSE(log().mid(mark).contains(QStringLiteral("[playback-replay]")));
    EXPECT_TRUE(part<Button>(page, "playButton")->isHidden());
}

TEST_F(VideoPagePlaybackTest, SingleLoopReplaysThePart)
{
    KRPreferences::sharedPreferences().setPlaybackLoopMode(1);
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page));
    page->playerControlsSeekToTime(page->playerControls(), 11.0);
    KR_ADVANCE_UNTIL(statusText(page) == QStringLiteral("单集循环"));
    EXPECT_EQ(page->selectedPageIndex(), 0);
    KR_ADVANCE_UNTIL(playing(page) && page->moviePlayer()->currentPlaybackTime() < 5.0);
}

TEST_F(VideoPagePlaybackTest, ListLoopOfOnePartReplaysIt)
{
    KRPreferences::sharedPreferences().setPlaybackLoopMode(2);
    auto video = std::make_shared<KRVideo>();
    const qint64 aid = 200003;
    video->setAid(aid);
    video->setBvid(testsupport::ServiceFixtures::bvidForAID(aid));
    video->setCid(testsupport::ServiceFixtures::firstCIDForAID(aid));
    video->setTitle(QStringLiteral("一集的视频"));
    KRVideoDetailViewController* page = push(video);
    auto* playButton = part<Button>(page, "playButton");
    KR_WAIT_UNTIL(playButton->isEnabled() && page->video()->pages().size() == 1);
    QTest::mouseClick(playButton, Qt::LeftButton);
    KR_ADVANCE_UNTIL(playing(page));
    page->playerControlsSeekToTime(page->playerControls(), 11.0);
    KR_ADVANCE_UNTIL(statusText(page) == QStringLiteral("列表循环"));
    EXPECT_TRUE(log().contains(QStringLiteral("[playback-collection-continuation-deferred] identity=%1 finalPart=0 pageCount=1 loop=2")
                                   .arg(page->video()->feedIdentity())));
    EXPECT_EQ(page->selectedPageIndex(), 0);
    EXPECT_FALSE(page->isPlaybackEndedAwaitingReplay());
    KR_ADVANCE_UNTIL(playing(page) && page->moviePlayer()->currentPlaybackTime() < 5.0);
}

TEST_F(VideoPagePlaybackTest, TheThirdStallWithinAMinuteFallsBackTo360P)
{
    // Each piece is a little under two seconds of the 720p clip; the player runs dry at the
    // end of each until the next is let go.
    constexpr qint64 piece = 1000 * 1024;
    std::shared_ptr<testsupport::BodyGate> gate = play.gateMedia(64);
    gate->openTo(piece);
    const auto stalls = [] { return int(log().count(QStringLiteral("[playback-stall] count="))); };
    // The clock keeps pace with the wall, at least, so the stalls fall well within the window.
    const auto advanceSlowlyUntil = [](const std::function<bool()>& condition) { return advanceUntil(condition, 0.002); };
    KRVideoDetailViewController* page = pushAndPlay();
    ASSERT_TRUE(advanceSlowlyUntil([&] { return stalls() == 1; }));
    EXPECT_TRUE(log().contains(QStringLiteral("[playback-stall] count=1")));
    EXPECT_FALSE(part(page, "loadingOverlay")->isHidden());

    gate->openTo(2 * piece);
    ASSERT_TRUE(advanceSlowlyUntil([&] { return part(page, "loadingOverlay")->isHidden(); }));
    // The check a second after the stall sees it over while the new piece plays.
    platform::MainClock::advanceForTesting(1.0);
    ASSERT_TRUE(advanceSlowlyUntil([&] { return stalls() == 2; }));
    EXPECT_TRUE(log().contains(QStringLiteral("[playback-stall] count=2")));
    EXPECT_FALSE(log().contains(QStringLiteral("playback-stall-fallback")));
    EXPECT_EQ(page->activePlaybackQuality(), 64);

    gate->openTo(3 * piece);
    ASSERT_TRUE(advanceSlowlyUntil([&] { return part(page, "loadingOverlay")->isHidden(); }));
    platform::MainClock::advanceForTesting(1.0);
    ASSERT_TRUE(advanceSlowlyUntil([&] { return stalls() == 3; }));
    EXPECT_TRUE(log().contains(QStringLiteral("[playback-stall-fallback] from=64 to=16 count=3")));
    // One switch to 360P, marked automatic, beside the stream that goes on: no restart.
    KRPlaybackTransport* before = page->moviePlayer();
    EXPECT_FALSE(statusText(page).contains(QStringLiteral("已切换到 360P"))) << "nothing is told before anything switched";
    gate->openTo(std::numeric_limits<qint64>::max());
    KR_ADVANCE_UNTIL(page->activePlaybackQuality() == 16 && playing(page) && !page->playbackSession()->isSwitchingQuality());
    EXPECT_EQ(page->moviePlayer(), before);
    EXPECT_EQ(page->moviePlayer()->contentURL(), play.progressiveURL(16));
    EXPECT_EQ(log().count(QStringLiteral("playback-stall-fallback")), 1);
    EXPECT_EQ(log().count(QStringLiteral("[quality-switch-stall-isolated]")), 1);
    EXPECT_TRUE(log().contains(QStringLiteral("[quality-switch-phase] generation=1")));
    EXPECT_FALSE(log().contains(QStringLiteral("[KorvanePlaybackLifecycle] stopped")));
}

TEST_F(VideoPagePlaybackTest, HistoryHeartbeatsAndTheLocalRecord)
{
    testsupport::AccountFixtures::logInWebOnly();
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page));
    KR_ADVANCE_UNTIL(play.heartbeatPlayTypes().contains(1));
    platform::MainClock::advanceForTesting(15.0);
    KR_ADVANCE_UNTIL(play.heartbeatPlayTypes().contains(0));
    page->playerControlsDidTogglePlayback(page->playerControls());
    KR_ADVANCE_UNTIL(play.heartbeatPlayTypes().contains(2));
    page->playerControlsDidTogglePlayback(page->playerControls());
    KR_ADVANCE_UNTIL(play.heartbeatPlayTypes().contains(3));
    nav->popViewControllerAnimated(false);
    AnimationClock::finishAll();
    KR_ADVANCE_UNTIL(play.heartbeatPlayTypes().contains(4));
    EXPECT_EQ(play.heartbeatPlayTypes().first(), 1);
    EXPECT_TRUE(KRLocalHistoryStore::sharedStore().resumeRecordForVideo(detailVideo()).has_value());
}

TEST_F(VideoPagePlaybackTest, ALocalRecordBringsTheResumeOffer)
{
    std::shared_ptr<KRVideo> video = detailVideo();
    KRLocalHistoryStore::sharedStore().recordVideo(video, 42, 120, false, false);
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(window->visibleAlert() != nullptr);
    EXPECT_EQ(window->visibleAlert()->title(), QStringLiteral("继续观看"));
    EXPECT_TRUE(window->visibleAlert()->message().contains(QStringLiteral("0:42")));
    EXPECT_EQ(page->moviePlayer(), nullptr);
    window->visibleAlert()->tapButtonForTesting(0);
    KR_ADVANCE_UNTIL(playing(page));
    EXPECT_LT(page->moviePlayer()->currentPlaybackTime(), 5.0);
}

TEST_F(VideoPagePlaybackTest, NoOfferNearTheEndOrAfterCompletion)
{
    std::shared_ptr<KRVideo> video = detailVideo();
    KRLocalHistoryStore::sharedStore().recordVideo(video, 117, 120, false, false);
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(page->moviePlayer() != nullptr);
    EXPECT_EQ(window->visibleAlert(), nullptr);
    nav->popViewControllerAnimated(false);
    AnimationClock::finishAll();
    flushDeferredDeletes();

    KRLocalHistoryStore::sharedStore().recordVideo(video, 60, 120, true, false);
    page = pushAndPlay();
    KR_ADVANCE_UNTIL(page->moviePlayer() != nullptr);
    EXPECT_EQ(window->visibleAlert(), nullptr);
}

TEST_F(VideoPagePlaybackTest, TheServicesResumeRecordIsReadAgainstThePartsDuration)
{
    // Part 1 lasts 5:12, kept by the normaliser as "05:12".
    testsupport::AccountFixtures::logInWebOnly();
    play.setResumeRecord(testsupport::ServiceFixtures::kDetailCID, 42);
    pushAndPlay();
    KR_ADVANCE_UNTIL(window->visibleAlert() != nullptr);
    EXPECT_EQ(window->visibleAlert()->title(), QStringLiteral("继续观看"));
    EXPECT_TRUE(window->visibleAlert()->message().contains(QStringLiteral("0:42")));
}

TEST_F(VideoPagePlaybackTest, TheServicesResumeRecordInThePartsLastSecondsIsNotOffered)
{
    testsupport::AccountFixtures::logInWebOnly();
    play.setResumeRecord(testsupport::ServiceFixtures::kDetailCID, 309);
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(page->moviePlayer() != nullptr);
    EXPECT_EQ(window->visibleAlert(), nullptr);
}

TEST_F(VideoPagePlaybackTest, ControlsLieOverThePicture)
{
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page));
    KRPlayerControlsView* controls = page->playerControls();
    ASSERT_NE(controls, nullptr);
    EXPECT_TRUE(controls->isVisible());
    EXPECT_EQ(controls->frame(), QRectF(0, 0, 375, 210));
    EXPECT_EQ(controls->superview(), qobject_cast<View*>(page->moviePlayer()->view()));
    EXPECT_EQ(controls->superview()->subviews().last(), controls);
}

namespace {

// A machine's network as the reachability reads it: interfaces and a default route.
void fakeNetwork(const QString& interface, bool wireless)
{
    const QString root = testsupport::testHome() + QStringLiteral("/fakenet");
    QByteArray table = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
    if (!interface.isEmpty()) {
        const QString dir = root + QStringLiteral("/sys/class/net/") + interface;
        platform::writeFileAtomically(dir + QStringLiteral("/operstate"), "up\n");
        platform::writeFileAtomically(dir + QStringLiteral("/type"), "1\n");
        if (wireless)
            QDir().mkpath(dir + QStringLiteral("/wireless"));
        table += QStringLiteral("%1\t00000000\t0101A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n").arg(interface).toUtf8();
    }
    platform::writeFileAtomically(root + QStringLiteral("/proc/net/route"), table);
    platform::Reachability::shared().setRootForTesting(root);
}

class VideoPageAutoplayTest : public VideoPagePlaybackTest {
protected:
    void TearDown() override
    {
        platform::Reachability::shared().setRootForTesting({});
        VideoPagePlaybackTest::TearDown();
    }
};

} // namespace

TEST_F(VideoPageAutoplayTest, WiFiStartsByItself)
{
    fakeNetwork(QStringLiteral("wlan0"), true);
    KRPreferences::sharedPreferences().setDetailAutoPlayEnabled(true);
    KRPreferences::sharedPreferences().setCellularAutoPlayEnabled(false);
    KRVideoDetailViewController* page = push();
    KR_ADVANCE_UNTIL(playing(page));
    EXPECT_TRUE(log().contains(QStringLiteral("[detail-autoplay-decision] allowed=YES local=NO network=Wi-Fi cellularPermission=NO identity=bv:%1")
                                   .arg(testsupport::ServiceFixtures::detailBVID())));
}

TEST_F(VideoPageAutoplayTest, CellularWithoutPermissionWaitsForATap)
{
    fakeNetwork(QStringLiteral("wwan0"), false);
    KRPreferences::sharedPreferences().setDetailAutoPlayEnabled(true);
    KRPreferences::sharedPreferences().setCellularAutoPlayEnabled(false);
    KRVideoDetailViewController* page = push();
    KR_WAIT_UNTIL(part<Button>(page, "playButton")->isEnabled());
    platform::MainClock::advanceForTesting(1.0);
    EXPECT_TRUE(log().contains(QStringLiteral("[detail-autoplay-decision] allowed=NO local=NO network=流量网络 cellularPermission=NO")));
    EXPECT_FALSE(page->hasStartedPlayback());
    EXPECT_FALSE(part<Button>(page, "playButton")->isHidden());
}

TEST_F(VideoPageAutoplayTest, OffRecordsNoDecision)
{
    fakeNetwork(QStringLiteral("wlan0"), true);
    KRVideoDetailViewController* page = push();
    KR_WAIT_UNTIL(part<Button>(page, "playButton")->isEnabled());
    platform::MainClock::advanceForTesting(1.0);
    EXPECT_FALSE(log().contains(QStringLiteral("detail-autoplay-decision")));
    EXPECT_FALSE(page->hasStartedPlayback());
}

TEST_F(VideoPageAutoplayTest, AnOfflineDASHCopyPlaysWithoutANetwork)
{
    // The copy is made through the offline cache from the fake service's DASH halves.
    std::shared_ptr<KRVideo> video = cacheDetailDASHCopy();
    fakeNetwork(QString(), false);
    KRPreferences::sharedPreferences().setDetailAutoPlayEnabled(true);
    KRVideoDetailViewController* page = push(video);
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneOffline] detail cache-hit identity=bv:%1 cid=%2 path=file://")
                                     .arg(testsupport::ServiceFixtures::detailBVID())
                                     .arg(testsupport::ServiceFixtures::kDetailCID)));
    KR_ADVANCE_UNTIL(page->dashPlayback() && page->dashPlayback()->isRunning() && playing(page));
    EXPECT_TRUE(page->dashPlayback()->pictureURL().isLocalFile());
    EXPECT_TRUE(log().contains(QStringLiteral("[detail-autoplay-decision] allowed=YES local=YES network=Wi-Fi")));
}

TEST_F(VideoPagePlaybackTest, TheUploaderPageKeepsPlaybackAndOtherScreensStopIt)
{
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page));
    auto* owner = part<Button>(page, "ownerButton");
    KR_WAIT_UNTIL(page->video()->ownerMID() > 0);
    owner->sendActionsForControlEvents(ControlEventTouchUpInside);
    AnimationClock::finishAll();
    ASSERT_NE(nav->topViewController(), page);
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvanePlaybackLifecycle] retained reason=child-push destination=KRUploaderViewController")));
    EXPECT_NE(page->moviePlayer(), nullptr);
    EXPECT_TRUE(page->isPlaybackExpectedToPlay());
    nav->popViewControllerAnimated(false);
    AnimationClock::finishAll();
    EXPECT_TRUE(playing(page));

    nav->pushViewController(new ViewController(), false);
    AnimationClock::finishAll();
    EXPECT_EQ(page->moviePlayer(), nullptr);
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvanePlaybackLifecycle] stopped reason=navigation")));
}

TEST_F(VideoPagePlaybackTest, APlayerThatRefusesIsGivenUpAfterSixSeconds)
{
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page) && pauseWatchIdle() && stallWatchIdle(page) && bufferedAhead(page));
    const qsizetype mark = log().size();
    const auto since = [&] { return log().mid(mark); };
    platform::media::MediaPlayer* player = page->moviePlayer()->playerForTesting();
    player->pause();
    KR_ADVANCE_UNTIL(since().contains(QStringLiteral("unexpected-pause-observed")));
    const double observed = platform::MainClock::now();
    // Every retry is answered by another pause.
    KR_ADVANCE_UNTIL([&] {
        if (player->rate() > 0)
            player->pause();
        return since().contains(QStringLiteral("unexpected-pause-give-up"));
    }());
    EXPECT_GE(platform::MainClock::now() - observed, 6.0);
    EXPECT_EQ(since().count(QStringLiteral("[unexpected-pause-retry]")), 5) << since().toStdString();
    EXPECT_EQ(since().count(QStringLiteral("[unexpected-pause-observed]")), 1);
    EXPECT_EQ(statusText(page), QStringLiteral("播放已暂停，点播放继续"));
    EXPECT_FALSE(page->isPlaybackExpectedToPlay());
    // The play button's tap means play again.
    page->playButtonTapped();
    EXPECT_TRUE(page->isPlaybackExpectedToPlay());
}

TEST_F(VideoPagePlaybackTest, TheQualitySheetWaitsForItsListAndAChoiceSwitchesThere)
{
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page));
    page->playerControlsSeekToTime(page->playerControls(), 4.0);
    KR_ADVANCE_UNTIL(page->moviePlayer()->currentPlaybackTime() >= 4.0);
    page->showQualityActionSheetFromView(page->playerControls()->qualityButton());
    KR_ADVANCE_UNTIL(page->visibleActionSheet() != nullptr);
    ActionSheet* sheet = page->visibleActionSheet();
    ASSERT_EQ(sheet->numberOfButtons(), 6);
    EXPECT_EQ(sheet->buttonTitleAtIndex(0), QStringLiteral("4K"));
    EXPECT_EQ(sheet->buttonTitleAtIndex(2), QStringLiteral("720P ✓"));
    EXPECT_EQ(sheet->buttonTitleAtIndex(4), QStringLiteral("360P"));
    // A target the service refuses: the quality playing goes on.
    play.setQualityFault(80, PlaybackFixtures::QualityFault::ServerError);
    KRPlaybackTransport* transport = page->moviePlayer();
    sheet->tapButtonForTesting(1);
    KR_ADVANCE_UNTIL(statusText(page) == QStringLiteral("1080P 切换失败 · 继续播放 720P"));
    EXPECT_EQ(page->moviePlayer(), transport);
    EXPECT_TRUE(playing(page));
    EXPECT_EQ(page->activePlaybackQuality(), 64);

    page->showQualityActionSheetFromView(page->playerControls()->qualityButton());
    KR_ADVANCE_UNTIL(page->visibleActionSheet() != nullptr);
    page->visibleActionSheet()->tapButtonForTesting(4);
    KR_ADVANCE_UNTIL(page->activePlaybackQuality() == 16 && playing(page) && !page->playbackSession()->isSwitchingQuality());
    // The same player goes on at the new quality from where it was.
    EXPECT_EQ(page->moviePlayer(), transport);
    EXPECT_EQ(page->moviePlayer()->contentURL(), play.progressiveURL(16));
    EXPECT_GE(page->moviePlayer()->currentPlaybackTime(), 3.5);
}

TEST_F(VideoPagePlaybackTest, AFailedSwitchGivesTheChoiceBackSoTheNextPartPlaysAtTheQualityThatPlayed)
{
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page));
    page->showQualityActionSheetFromView(page->playerControls()->qualityButton());
    KR_ADVANCE_UNTIL(page->visibleActionSheet() != nullptr);
    play.setQualityFault(80, PlaybackFixtures::QualityFault::ServerError);
    page->visibleActionSheet()->tapButtonForTesting(1);
    KR_ADVANCE_UNTIL(statusText(page) == QStringLiteral("1080P 切换失败 · 继续播放 720P"));
    // The service would answer 1080P now: the next part still starts at the quality that played.
    play.setQualityFault(80, PlaybackFixtures::QualityFault::None);
    page->activatePageAtIndex(1, true);
    KR_ADVANCE_UNTIL(page->selectedPageIndex() == 1 && playing(page));
    EXPECT_EQ(page->activePlaybackQuality(), 64);
    EXPECT_EQ(play.mediaRequestCount(80), 0);
}

TEST_F(VideoPagePlaybackTest, ContinuingFromTheOfferStartsAtTheRecord)
{
    KRLocalHistoryStore::sharedStore().recordVideo(detailVideo(), 8, 120, false, false);
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(window->visibleAlert() != nullptr);
    EXPECT_TRUE(window->visibleAlert()->message().contains(QStringLiteral("0:08")));
    window->visibleAlert()->tapButtonForTesting(1);
    KR_ADVANCE_UNTIL(playing(page));
    EXPECT_GE(page->moviePlayer()->currentPlaybackTime(), 7.5);
}

TEST_F(VideoPagePlaybackTest, ASpeedChosenWhilePausedStartsNothing)
{
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page));
    page->playerControlsDidTogglePlayback(page->playerControls());
    KR_ADVANCE_UNTIL(page->moviePlayer()->playbackState() != 1);
    page->setPlaybackRateValue(1.25f, true);
    EXPECT_EQ(statusText(page), QStringLiteral("播放速度 1.25x"));
    platform::MainClock::advanceForTesting(0.5);
    EXPECT_NE(page->moviePlayer()->playbackState(), 1);
    EXPECT_TRUE(log().contains(QStringLiteral("[playback-rate-applied] rate=1.25 hold=NO expected=NO")));
    // Playing again goes at the chosen rate.
    page->playerControlsDidTogglePlayback(page->playerControls());
    KR_ADVANCE_UNTIL(std::abs(page->moviePlayer()->playerForTesting()->rate() - 1.25) < 0.01);
}

TEST_F(VideoPagePlaybackTest, DanmakuOfThePartAreFedToTheRenderer)
{
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page) && play.danmakuRequestCount() >= 1);
    KRDanmakuRenderer* renderer = page->danmakuRenderer();
    ASSERT_NE(renderer, nullptr);
    EXPECT_TRUE(renderer->isVisible());
    EXPECT_EQ(renderer->parentWidget(), page->moviePlayer()->view());
    KR_ADVANCE_UNTIL(renderer->isDisplayLinkRunning());
    // Switching danmaku off reaches the renderer.
    page->danmakuButtonTapped();
    EXPECT_FALSE(renderer->isDanmakuEnabled());
}

TEST_F(VideoPagePlaybackTest, ThePlayerMoreSheetLeadsToTheLoopSheet)
{
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page));
    page->playerControlsDidRequestMore(page->playerControls());
    ActionSheet* more = page->visibleActionSheet();
    ASSERT_NE(more, nullptr);
    EXPECT_EQ(more->tag(), 7315);
    EXPECT_EQ(more->buttonTitleAtIndex(1), QStringLiteral("自动连播：关"));
    EXPECT_EQ(more->buttonTitleAtIndex(2), QStringLiteral("循环播放：不循环"));
    more->tapButtonForTesting(1);
    EXPECT_TRUE(KRPreferences::sharedPreferences().autoContinueEnabled());
    page->playerControlsDidRequestMore(page->playerControls());
    more = page->visibleActionSheet();
    ASSERT_NE(more, nullptr);
    more->tapButtonForTesting(2);
    // The loop sheet follows once the More sheet has gone.
    KR_ADVANCE_UNTIL(page->visibleActionSheet() && page->visibleActionSheet()->tag() == 7316);
    ActionSheet* loop = page->visibleActionSheet();
    int marked = 0;
    for (int i = 0; i < loop->numberOfButtons(); ++i)
        marked += loop->buttonTitleAtIndex(i).endsWith(QStringLiteral(" ✓")) ? 1 : 0;
    EXPECT_EQ(marked, 1);
    EXPECT_EQ(loop->buttonTitleAtIndex(0), QStringLiteral("不循环 ✓"));
    loop->tapButtonForTesting(2);
    EXPECT_EQ(KRPreferences::sharedPreferences().playbackLoopMode(), 2);
}

TEST_F(VideoPagePlaybackTest, AVideoOpenedOverAPlayingOneStopsIt)
{
    KRVideoDetailViewController* first = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(first));
    // The uploader page keeps the first video playing under it.
    KR_WAIT_UNTIL(first->video()->ownerMID() > 0);
    part<Button>(first, "ownerButton")->sendActionsForControlEvents(ControlEventTouchUpInside);
    AnimationClock::finishAll();
    ASSERT_TRUE(first->isPlaybackExpectedToPlay());

    // Another video opened from there and played: one picture and one sound at a time.
    KRVideoDetailViewController* second = push();
    auto* secondPlay = second->view()->findChild<Button*>(QStringLiteral("playButton"));
    ASSERT_NE(secondPlay, nullptr);
    KR_WAIT_UNTIL(secondPlay->isEnabled());
    QTest::mouseClick(secondPlay, Qt::LeftButton);
    KR_ADVANCE_UNTIL(playing(second));
    EXPECT_EQ(first->moviePlayer(), nullptr);
    EXPECT_FALSE(first->isPlaybackExpectedToPlay());
    EXPECT_TRUE(log().contains(QStringLiteral("[playback-session-superseded]")));
}

TEST_F(VideoPagePlaybackTest, AtTheEndTheTimeReadsTheDurationAndNoDanmakuStaysDrawn)
{
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page) && !page->danmakuRenderer()->danmakus().isEmpty());
    // The last lines of the part come at 9.2 s and 10.1 s, and scroll for longer than is left.
    page->playerControlsSeekToTime(page->playerControls(), 9.0);
    KR_ADVANCE_UNTIL(page->isPlaybackEndedAwaitingReplay());
    auto* current = page->playerControls()->findChild<Label*>(QStringLiteral("currentTimeLabel"));
    auto* duration = page->playerControls()->findChild<Label*>(QStringLiteral("durationLabel"));
    ASSERT_TRUE(current && duration);
    EXPECT_EQ(current->text(), QStringLiteral("0:12"));
    EXPECT_EQ(duration->text(), QStringLiteral("0:12"));
    EXPECT_EQ(page->danmakuRenderer()->activeCount(), 0);
    EXPECT_FALSE(part<Button>(page, "playButton")->isHidden());
}

TEST_F(VideoPagePlaybackTest, AFailingDASHPictureFailsOverAndTheControlsNameTheQualityThatPlays)
{
    KRPreferences::sharedPreferences().setPreferredQuality(80);
    play.setMediaFault(80, PlaybackFixtures::MediaFault::Missing);
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(log().contains(QStringLiteral("[dash-picture-failed]")));
    // Not left on "正在缓冲…": the fresh resolve plays the chain at 720P.
    KR_ADVANCE_UNTIL(!page->dashPlayback() && playing(page));
    EXPECT_EQ(log().count(QStringLiteral("[playback-fresh-resolve] quality=64")), 1);
    EXPECT_EQ(page->moviePlayer()->contentURL(), play.progressiveURL(64));
    EXPECT_EQ(page->activePlaybackQuality(), 64);
    EXPECT_EQ(page->playerControls()->qualityButton()->currentTitle(), page->compactQualityTitleForValue(64));
    EXPECT_NE(page->compactQualityTitleForValue(64), page->compactQualityTitleForValue(80));
}

TEST_F(VideoPagePlaybackTest, HoldingTheDASHPicturePlaysBothHalvesAtDoubleSpeed)
{
    KRPreferences::sharedPreferences().setPreferredQuality(80);
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(page->dashPlayback() && page->dashPlayback()->isRunning() && playing(page));
    const auto [target, spot] = pictureSpot(page);
    ASSERT_NE(target, nullptr);
    QTest::mousePress(target, Qt::LeftButton, {}, spot);
    platform::MainClock::advanceForTesting(0.36);
    EXPECT_EQ(statusText(page), QStringLiteral("按住 2.0x"));
    EXPECT_TRUE(log().contains(QStringLiteral("[playback-rate-applied] rate=2.00 hold=YES expected=YES")));
    KR_ADVANCE_UNTIL(std::abs(page->dashPlayback()->picturePlayer()->rate() - 2.0) < 0.01
                     && std::abs(page->moviePlayer()->playerForTesting()->rate() - 2.0) < 0.01);
    QTest::mouseRelease(target, Qt::LeftButton, {}, spot);
    EXPECT_EQ(statusText(page), QStringLiteral("恢复 1x"));
    KR_ADVANCE_UNTIL(std::abs(page->dashPlayback()->picturePlayer()->rate() - 1.0) < 0.01);
}

TEST_F(VideoPagePlaybackTest, TheFinalHeartbeatGoesOutWhenThePageIsDeletedRightAfter)
{
    testsupport::AccountFixtures::logInWebOnly();
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page) && play.heartbeatPlayTypes().contains(1));
    QPointer<KRVideoDetailViewController> guard(page);
    nav->popViewControllerAnimated(false);
    AnimationClock::finishAll();
    delete guard.data();
    flushDeferredDeletes();
    KR_ADVANCE_UNTIL(play.heartbeatPlayTypes().contains(4));
}

TEST_F(VideoPagePlaybackTest, AQualitySwitchAskedForTheNextTurnDoesNotOutliveAStop)
{
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page));
    page->showQualityActionSheetFromView(page->playerControls()->qualityButton());
    KR_ADVANCE_UNTIL(page->visibleActionSheet() != nullptr);
    // 360P, asked for the next turn; before it comes a screen that stops playback is pushed.
    page->visibleActionSheet()->tapButtonForTesting(4);
    nav->pushViewController(new ViewController(), false);
    AnimationClock::finishAll();
    ASSERT_EQ(page->moviePlayer(), nullptr);
    for (int turn = 0; turn < 5; ++turn) {
        platform::MainClock::advanceForTesting(0.1);
        QCoreApplication::processEvents();
    }
    EXPECT_FALSE(page->hasStartedPlayback());
    EXPECT_EQ(page->moviePlayer(), nullptr);
    EXPECT_EQ(play.mediaRequestCount(16), 0);
}

TEST_F(VideoPagePlaybackTest, TheLoadingOverlayMadeAtTheFirstStartCoversThePlayerAsLaidOut)
{
    KRVideoDetailViewController* page = push();
    auto* play = part<Button>(page, "playButton");
    KR_WAIT_UNTIL(play->isEnabled());
    // Nothing has been loading yet: neither the overlay nor the status line is on the page.
    EXPECT_EQ(part(page, "loadingOverlay"), nullptr);
    EXPECT_EQ(part(page, "danmakuStatusLabel"), nullptr);
    auto* container = part<View>(page, "playerContainer");
    const QRectF bounds = container->bounds();
    ASSERT_GT(bounds.height(), 180);
    QTest::mouseClick(play, Qt::LeftButton);
    auto* overlay = part<View>(page, "loadingOverlay");
    ASSERT_NE(overlay, nullptr);
    EXPECT_FALSE(overlay->isHidden());
    EXPECT_EQ(overlay->superview(), container);
    EXPECT_EQ(overlay->frame(), bounds);
    // The line sits at the bottom and the picture in the middle, as in the shorter container
    // they were drawn for.
    EXPECT_EQ(part<Label>(page, "loadingStatusLabel")->frame(), QRectF(8, bounds.height() - 24, bounds.width() - 16, 18));
    const QRectF tv = part<View>(page, "loadingTVView")->frame();
    EXPECT_EQ(tv.size(), QSizeF(90, 90));
    EXPECT_DOUBLE_EQ(tv.center().x(), bounds.center().x());
    EXPECT_GT(tv.top(), 38);
    EXPECT_LT(tv.bottom(), bounds.height() - 24);
    KR_ADVANCE_UNTIL(playing(page));
    EXPECT_TRUE(overlay->isHidden());
}

TEST_F(VideoPagePlaybackTest, APlayerWithNowhereToBeShownFailsTheStartInsteadOfSpinning)
{
    KRVideoDetailViewController* page = push();
    auto* play = part<Button>(page, "playButton");
    KR_WAIT_UNTIL(play->isEnabled());
    auto* container = part<View>(page, "playerContainer");
    QPointer<View> superview = container->superview();
    ASSERT_NE(superview, nullptr);
    QTest::mouseClick(play, Qt::LeftButton);
    // The start shows what it is loading at once.
    auto* status = part<Label>(page, "loadingStatusLabel");
    ASSERT_NE(status, nullptr);
    // The player area leaves the page's tree while the address resolves: the surface has
    // nowhere to go when the player arrives.
    container->removeFromSuperview();
    KR_ADVANCE_UNTIL(status->text() == QStringLiteral("播放失败，点播放重试"));
    EXPECT_TRUE(log().contains(QStringLiteral("reason=surface-install-failed")));
    EXPECT_EQ(page->moviePlayer(), nullptr);
    EXPECT_FALSE(play->isHidden());
    EXPECT_EQ(window->findChild<View*>(QStringLiteral("customFullscreenBackdrop")), nullptr);
    EXPECT_FALSE(page->hasStartedPlayback());
    superview->addSubview(container);
    flushDeferredDeletes();
}
