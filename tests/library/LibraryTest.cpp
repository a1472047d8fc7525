#include "../playback/OfflineTesting.h"
#include "../shell/HeldTurn.h"
#include "../shell/PortraitCommitCountingRoot.h"
#include "../uikit/KitTestSupport.h"

#include "library/KRAccountVideoListViewController.h"
#include "library/KRProfileViewController.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Device.h"
#include "platform/uikit/TabBarController.h"
#include "shared/KRPlayerFullscreen.h"
#include "shell/KRRootViewController.h"
#include "support/ConsoleCapture.h"
#include "support/DanmakuFeedProbe.h"
#include "login/KRQRLoginViewController.h"
#include "look/KRTheme.h"
#include "platform/foundation/PropertyList.h"
#include "platform/media/MediaPlayer.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/media/MediaSeams.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/TableViewCell.h"
#include "platform/uikit/Window.h"
#include "playback/KRDASHPlayback.h"
#include "playback/KRDanmakuRenderer.h"
#include "platform/device/DeviceProfile.h"
#include "playback/KRPlaybackSession.h"
#include "playback/KRPlaybackTransport.h"
#include "shell/KRAppRoutes.h"
#include "store/KRLocalHistoryStore.h"
#include "store/KRSessionStore.h"
#include "support/AccountFixtures.h"

#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QTest>

using namespace platform::uikit;
using namespace offlinetest;
using testsupport::AccountFixtures;

namespace {

using Row = KRProfileViewController::Row;

class LibraryTest : public OfflineTest {
protected:
    void SetUp() override
    {
        OfflineTest::SetUp();
        KitTest::resetKit();
        // Players make no sound in tests.
        platform::media::MediaSeams::setAudioOutput(QStringLiteral("null"));
        platform::media::MediaSeams::setAudioOutputFileForTesting(QString());
        KRInstallAppRoutes();
        KRSessionStore::sharedStore().resetForTesting();
        KRSessionStore::sharedStore().clearSession();
        KRLocalHistoryStore::sharedStore().resetForTesting();
        KRTheme::sharedTheme()->setStyle(0);
        profile = new KRProfileViewController();
        nav = new NavigationController(profile);
        window->setRootViewController(nav);
        window->makeKeyAndVisible();
        AnimationClock::finishAll();
    }
    void TearDown() override
    {
        window.reset();
        // Players a stopped session let go leave on the main queue's next turn, as in the app.
        QCoreApplication::sendPostedEvents();
        flushDeferredDeletes();
        KRSessionStore::sharedStore().clearSession();
        KitTest::settleKit();
        OfflineTest::TearDown();
    }

    // Animations run out and the delayed steps of this turn run.
    static void settle()
    {
        for (int i = 0; i < 4; ++i) {
            AnimationClock::finishAll();
            platform::MainClock::advanceForTesting(0.05);
        }
    }
    static void click(TableView* table, const IndexPath& indexPath)
    {
        table->layoutIfNeeded();
        const QPointF point = table->rectForRowAtIndexPath(indexPath).center() - table->contentOffset();
        QTest::mouseClick(table, Qt::LeftButton, {}, point.toPoint());
        AnimationClock::finishAll();
    }
    void clickRow(Row row)
    {
        const std::optional<IndexPath> at = profile->indexPathForRow(row);
        ASSERT_TRUE(at.has_value());
        click(profile->tableView(), *at);
    }
    TableViewCell* cellOf(Row row)
    {
        profile->tableView()->layoutIfNeeded();
        const std::optional<IndexPath> at = profile->indexPathForRow(row);
        return at ? profile->tableView()->cellForRowAtIndexPath(*at) : nullptr;
    }

    // A complete DASH record of the generated 720p halves with a danmaku copy of `danmaku` lines.
    void storeCompleteDASHRecord(qint64 cid, int danmaku)
    {
        const QString base = QStringLiteral("dash%1-1700000000").arg(cid);
        QDir().mkpath(offlineDir());
        ASSERT_TRUE(QFile::copy(testsupport::MediaFixtures::testMediaPath(QStringLiteral("video-720p.m4s")),
                                offlinePath(base + QStringLiteral(".video.m4v"))));
        ASSERT_TRUE(QFile::copy(testsupport::MediaFixtures::testMediaPath(QStringLiteral("audio-720p.m4s")),
                                offlinePath(base + QStringLiteral(".audio.m4a"))));
        KROfflineRecord record = dashRecord(QStringLiteral("bv:%1|cid:%2").arg(kBVID).arg(cid), base, cid, 64);
        record.insert(QStringLiteral("bvid"), kBVID);
        record.insert(QStringLiteral("title"), QStringLiteral("离线双轨"));
        records.prepend(record);
        writeIndex(records);
        writeDanmakuCopy(cid, danmaku);
    }

    // The application's root in the window, its "我的" tab showing the offline list.
    KRAccountVideoListViewController* pushListUnder(PortraitCommitCountingRoot* root)
    {
        window->setRootViewController(root);
        AnimationClock::finishAll();
        root->setSelectedIndex(3);
        auto* stack = qobject_cast<NavigationController*>(root->viewControllers().value(3));
        if (!stack)
            return nullptr;
        auto* list = new KRAccountVideoListViewController();
        stack->pushViewController(list, false);
        AnimationClock::finishAll();
        return list;
    }

    // A complete progressive record whose file is a copy of the generated `media`.
    void storeCompleteProgressiveRecord(qint64 cid, const QString& media)
    {
        const QString file = QStringLiteral("file%1-1700000000.mp4").arg(cid);
        QDir().mkpath(offlineDir());
        QFile::remove(offlinePath(file));
        ASSERT_TRUE(QFile::copy(testsupport::MediaFixtures::testMediaPath(media), offlinePath(file)));
        KROfflineRecord record = progressiveRecord(QStringLiteral("bv:%1|cid:%2").arg(kBVID).arg(cid), file, cid);
        record.insert(QStringLiteral("bvid"), kBVID);
        record.insert(QStringLiteral("title"), QStringLiteral("离线单文件"));
        records.prepend(record);
        writeIndex(records);
    }

    // The 360p clip kept as a progressive record of `cid`, played from the offline list under
    // the application's root, held upright, past its first half second; null when it does not.
    KRAccountVideoListViewController* playProgressiveUnderTheRoot(qint64 cid)
    {
        storeCompleteProgressiveRecord(cid, QStringLiteral("clip-360p.mp4"));
        KRAccountVideoListViewController* list = pushListUnder(new PortraitCommitCountingRoot());
        if (!list)
            return nullptr;
        Device::current().setOrientation(1);
        click(list->tableView(), IndexPath{0, 0});
        if (!list->transport() || !waitFollowingWallTime([&] { return list->transport()->currentPlaybackTime() > 0.5; }))
            return nullptr;
        return list;
    }

    // Waits for `condition` while the main clock follows the wall clock: the engine plays on
    // wall time, and the transport reads it at its polls and the pair keeps in step at its
    // ticks, both on the main clock.
    static bool waitFollowingWallTime(const std::function<bool()>& condition)
    {
        QElapsedTimer wall;
        wall.start();
        double followed = 0;
        return testsupport::waitUntil([&] {
            const double now = wall.elapsed() / 1000.0;
            platform::MainClock::advanceForTesting(now - followed);
            followed = now;
            return condition();
        });
    }

    // A press and release at the middle of the view, sent to the window as a user's tap.
    void clickThroughWindow(View* view)
    {
        ASSERT_NE(view, nullptr);
        ASSERT_TRUE(view->isVisible());
        QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, view->mapTo(window.get(), view->rect().center()));
        AnimationClock::finishAll();
    }

    static bool showsFailure(KRAccountVideoListViewController* list)
    {
        return !list->playbackStatusLabel()->isHidden() && list->playbackStatusLabel()->text() == QStringLiteral("播放失败，点播放重试");
    }
    static bool showsPlayIcon(KRAccountVideoListViewController* list)
    {
        return !list->controlsView()->findChild<View*>(QStringLiteral("pausedOverlay"))->isHidden();
    }

    std::unique_ptr<Window> window = std::make_unique<Window>();
    KRProfileViewController* profile = nullptr;
    NavigationController* nav = nullptr;
    QVariantList records;
};

} // namespace

TEST_F(LibraryTest, SignedOutTheProfileOffersTheQRLoginAndTheOfflineList)
{
    EXPECT_EQ(profile->title(), QStringLiteral("我的"));
    EXPECT_EQ(profile->tableView()->style(), TableViewStyleGrouped);
    EXPECT_EQ(profile->indexPathForRow(Row::Login), (IndexPath{0, 0}));
    EXPECT_EQ(profile->indexPathForRow(Row::Offline), (IndexPath{1, 0}));
    EXPECT_FALSE(profile->indexPathForRow(Row::Logout).has_value());
    EXPECT_FALSE(profile->indexPathForRow(Row::Account).has_value());
    ASSERT_NE(cellOf(Row::Login), nullptr);
    EXPECT_EQ(cellOf(Row::Login)->textLabel()->text(), QStringLiteral("扫码登录"));
    EXPECT_EQ(cellOf(Row::Offline)->textLabel()->text(), QStringLiteral("离线缓存"));

    clickRow(Row::Login);
    EXPECT_NE(qobject_cast<KRQRLoginViewController*>(nav->topViewController()), nullptr);
    nav->popToRootViewControllerAnimated(false);
    clickRow(Row::Offline);
    EXPECT_NE(qobject_cast<KRAccountVideoListViewController*>(nav->topViewController()), nullptr);
}

TEST_F(LibraryTest, SignedInTheProfileShowsTheAccountAndLogsOut)
{
    AccountFixtures::logInWebOnly();
    KRSessionStore::sharedStore().updateAccountProfile(QVariantMap{{QStringLiteral("uname"), QStringLiteral("小明")},
                                                                   {QStringLiteral("mid"), 4242}});
    EXPECT_FALSE(profile->indexPathForRow(Row::Login).has_value());
    ASSERT_NE(cellOf(Row::Account), nullptr);
    EXPECT_EQ(cellOf(Row::Account)->textLabel()->text(), QStringLiteral("小明"));
    EXPECT_EQ(cellOf(Row::Account)->detailTextLabel()->text(), QStringLiteral("UID 4242"));
    ASSERT_NE(cellOf(Row::Logout), nullptr);
    EXPECT_EQ(cellOf(Row::Logout)->textLabel()->text(), QStringLiteral("退出登录"));
    EXPECT_EQ(cellOf(Row::Offline)->textLabel()->text(), QStringLiteral("离线缓存"));

    // The theme reaches the list.
    KRTheme::sharedTheme()->setStyle(1);
    EXPECT_EQ(profile->tableView()->backgroundColor(), KRTheme::sharedTheme()->backgroundColor());
    EXPECT_EQ(cellOf(Row::Account)->textLabel()->textColor(), KRTheme::sharedTheme()->primaryTextColor());

    clickRow(Row::Logout);
    EXPECT_FALSE(KRSessionStore::sharedStore().isLoggedIn());
    EXPECT_EQ(profile->indexPathForRow(Row::Login), (IndexPath{0, 0}));
    ASSERT_NE(cellOf(Row::Login), nullptr);
    EXPECT_EQ(cellOf(Row::Login)->textLabel()->text(), QStringLiteral("扫码登录"));
}

// Another account's login confirmed over the last one: the row never pairs the last account's
// name with the new account's UID, before or after the new one's profile is read.
TEST_F(LibraryTest, AnotherAccountSigningInOverTheLastIsNotShownUnderTheLastOnesName)
{
    AccountFixtures::logInAppAndWeb();
    KRSessionStore::sharedStore().updateAccountProfile(QVariantMap{{QStringLiteral("uname"), QStringLiteral("小明")},
                                                                   {QStringLiteral("mid"), 4242}});
    ASSERT_NE(cellOf(Row::Account), nullptr);
    ASSERT_EQ(cellOf(Row::Account)->textLabel()->text(), QStringLiteral("小明"));

    AccountFixtures::logInAnotherAccount(5151);
    ASSERT_NE(cellOf(Row::Account), nullptr);
    EXPECT_EQ(cellOf(Row::Account)->textLabel()->text(), QStringLiteral("已登录"));
    EXPECT_EQ(cellOf(Row::Account)->detailTextLabel()->text(), QStringLiteral("UID 5151"));

    KRSessionStore::sharedStore().updateAccountProfile(QVariantMap{{QStringLiteral("uname"), QStringLiteral("小红")},
                                                                   {QStringLiteral("mid"), 5151}});
    EXPECT_EQ(cellOf(Row::Account)->textLabel()->text(), QStringLiteral("小红"));
    EXPECT_EQ(cellOf(Row::Account)->detailTextLabel()->text(), QStringLiteral("UID 5151"));
}

TEST_F(LibraryTest, TheOfflineListShowsARunningDownloadFirstAndFollowsTheCache)
{
    storeCompleteDASHRecord(300, 3);
    media::Serving gated;
    gated.gate = std::make_shared<testsupport::BodyGate>();
    serve(QStringLiteral("/running.mp4"), 256 * 1024, 3, gated);
    writeDanmakuCopy(100, 1);

    auto* list = new KRAccountVideoListViewController();
    nav->pushViewController(list, false);
    AnimationClock::finishAll();
    ASSERT_EQ(list->videos().size(), 1);
    EXPECT_EQ(list->videos().first()->title(), QStringLiteral("离线双轨"));

    Outcome outcome;
    manager()->cacheVideo(makeVideo(), {mediaURL(QStringLiteral("/running.mp4"))}, QStringLiteral("720P"), QImage(), &outcome.owner,
                          outcome.progressBlock(), outcome.completionBlock());
    // The start of the download changes the cache, and the list reads it again.
    ASSERT_TRUE(testsupport::waitUntil([&] { return list->videos().size() == 2; }));
    list->tableView()->layoutIfNeeded();
    TableViewCell* running = list->tableView()->cellForRowAtIndexPath(IndexPath{0, 0});
    ASSERT_NE(running, nullptr);
    EXPECT_EQ(running->textLabel()->text(), QStringLiteral("离线测试"));
    EXPECT_TRUE(running->detailTextLabel()->text().startsWith(QStringLiteral("720P · 缓存中"))) << running->detailTextLabel()->text().toStdString();
    // A running download does not play.
    click(list->tableView(), IndexPath{0, 0});
    EXPECT_EQ(list->transport(), nullptr);

    gated.gate->openTo(256 * 1024);
    ASSERT_TRUE(testsupport::waitUntil([&] { return outcome.done; }));
    EXPECT_TRUE(outcome.success) << outcome.message.toStdString();
    ASSERT_TRUE(testsupport::waitUntil([&] { return !list->videos().isEmpty() && !manager()->isDownloading(); }));
    list->tableView()->layoutIfNeeded();
    EXPECT_EQ(list->videos().size(), 2);
    EXPECT_TRUE(list->tableView()->cellForRowAtIndexPath(IndexPath{0, 0})->detailTextLabel()->text().startsWith(QStringLiteral("720P · 离线")));
}

TEST_F(LibraryTest, ACompleteDASHEntryPlaysInlineWithItsDanmakuAndStoppingRecordsAnOfflineViewing)
{
    storeCompleteDASHRecord(300, 4);
    auto* list = new KRAccountVideoListViewController();
    nav->pushViewController(list, false);
    AnimationClock::finishAll();
    EXPECT_TRUE(list->playerContainer()->isHidden());
    ASSERT_EQ(list->videos().size(), 1);

    click(list->tableView(), IndexPath{0, 0});
    ASSERT_NE(list->transport(), nullptr);
    ASSERT_NE(list->dashPlayback(), nullptr);
    EXPECT_FALSE(list->playerContainer()->isHidden());
    EXPECT_EQ(list->playerContainer()->frame(), QRectF(0, 0, 375, 210));
    EXPECT_EQ(list->tableView()->frame().top(), 210);
    ASSERT_NE(list->controlsView(), nullptr);
    EXPECT_TRUE(list->dashPlayback()->pictureURL().isLocalFile());
    // The danmaku saved with the download reach the renderer.
    ASSERT_TRUE(testsupport::waitUntil([&] { return list->danmakuRenderer() && list->danmakuRenderer()->danmakus().size() == 4; }));
    // Both halves start together and play.
    ASSERT_TRUE(waitFollowingWallTime([&] { return list->dashPlayback()->isRunning(); }));
    ASSERT_TRUE(waitFollowingWallTime([&] { return list->transport()->currentPlaybackTime() > 0.5; }))
        << list->transport()->playbackState() << " t=" << list->transport()->currentPlaybackTime() << " running="
        << list->dashPlayback()->isRunning() << " rebuffering=" << list->dashPlayback()->isRebuffering()
        << " waiting=" << list->dashPlayback()->isWaitingToStart();
    EXPECT_TRUE(list->controlsView()->isHidden() == false);
    // The audio session hears the offline player by its own name, and its sound goes on in
    // the background.
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral("[audio-session-activate] reason=offline-player-start ")));
    EXPECT_FALSE(diagnosticsLog().contains(QStringLiteral("reason=online-player-start")));
    Application::shared().enterBackgroundForTesting();
    EXPECT_TRUE(diagnosticsLog().contains(QStringLiteral("[audio-session-activate] reason=offline-did-enter-background ")));
    Application::shared().enterForegroundForTesting();
    Application::shared().becomeActiveForTesting();

    const std::shared_ptr<KRVideo> played = list->playingVideo();
    ASSERT_NE(played, nullptr);
    list->stopPlayback();
    EXPECT_TRUE(list->playerContainer()->isHidden());
    EXPECT_EQ(list->transport(), nullptr);
    const std::optional<QVariantMap> record = KRLocalHistoryStore::sharedStore().resumeRecordForVideo(played);
    ASSERT_TRUE(record.has_value());
    EXPECT_TRUE(record->value(QStringLiteral("offline")).toBool());
    EXPECT_GT(record->value(QStringLiteral("history_progress")).toDouble(), 0.4);
}

TEST_F(LibraryTest, LeavingTheListStopsThePlayerAndRecordsTheViewing)
{
    storeCompleteDASHRecord(301, 0);
    auto* list = new KRAccountVideoListViewController();
    nav->pushViewController(list, false);
    AnimationClock::finishAll();
    click(list->tableView(), IndexPath{0, 0});
    ASSERT_NE(list->transport(), nullptr);
    const std::shared_ptr<KRVideo> played = list->playingVideo();
    nav->popViewControllerAnimated(false);
    AnimationClock::finishAll();
    const std::optional<QVariantMap> record = KRLocalHistoryStore::sharedStore().resumeRecordForVideo(played);
    ASSERT_TRUE(record.has_value());
    EXPECT_TRUE(record->value(QStringLiteral("offline")).toBool());
}

// The offline player under the application's root: turning the device shows it in a landscape
// full screen of its own, and turning back puts it over the list again, the root's portrait
// geometry asked for by name.
TEST_F(LibraryTest, TheOfflinePlayerTurnsToALandscapeFullScreenAndBack)
{
    storeCompleteDASHRecord(302, 2);
    auto* root = new PortraitCommitCountingRoot();
    KRAccountVideoListViewController* list = pushListUnder(root);
    ASSERT_NE(list, nullptr);
    // Nothing plays: the list stays upright.
    EXPECT_FALSE(list->kr_allowsPlaybackRotation());
    EXPECT_FALSE(Application::shared().rotateForTesting(InterfaceOrientationLandscapeRight));
    AnimationClock::finishAll();
    Device::current().setOrientation(1);

    click(list->tableView(), IndexPath{0, 0});
    ASSERT_NE(list->transport(), nullptr);
    const QRectF embedded = list->playerContainer()->frame();
    EXPECT_TRUE(list->kr_allowsPlaybackRotation());
    ASSERT_TRUE(Application::shared().rotateForTesting(InterfaceOrientationLandscapeRight));
    settle();
    KRPlayerFullscreen* fullscreen = list->fullscreen();
    EXPECT_TRUE(fullscreen->isFullscreen());
    EXPECT_EQ(fullscreen->phase(), 3);
    auto* backdrop = window->findChild<View*>(QStringLiteral("customFullscreenBackdrop"));
    ASSERT_NE(backdrop, nullptr);
    EXPECT_EQ(backdrop->frame(), QRectF(0, 0, 667, 375));
    EXPECT_EQ(root->view()->bounds(), QRectF(0, 0, 667, 375));
    EXPECT_EQ(list->playerContainer()->superview(), backdrop);
    EXPECT_EQ(list->controlsView()->frame(), QRectF(0, 0, 667, 375));
    EXPECT_EQ(list->controlsView()->findChild<Button*>(QStringLiteral("fullscreenButton"))->accessibilityLabel(), QStringLiteral("缩小"));

    // The controls' button leaves: portrait first, then the player back over the list.
    testsupport::ConsoleCapture console;
    list->playerControlsDidRequestFullscreen(list->controlsView());
    settle();
    EXPECT_FALSE(fullscreen->isFullscreen());
    EXPECT_EQ(Application::shared().statusBarOrientation(), int(InterfaceOrientationPortrait));
    EXPECT_EQ(window->findChild<View*>(QStringLiteral("customFullscreenBackdrop")), nullptr);
    EXPECT_EQ(list->playerContainer()->superview(), list->view());
    EXPECT_EQ(list->playerContainer()->frame(), embedded);
    EXPECT_EQ(list->controlsView()->frame(), QRectF(QPointF(), embedded.size()));
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvanePlayerSurface] exit embedded=")));
    ASSERT_NE(list->transport(), nullptr);
    EXPECT_EQ(root->portraitCommits, 1);

    // Turned again and set upright by the device: out of the full screen, the root told once more.
    ASSERT_TRUE(Application::shared().rotateForTesting(InterfaceOrientationLandscapeRight));
    settle();
    ASSERT_TRUE(fullscreen->isFullscreen());
    EXPECT_EQ(root->portraitCommits, 1);
    Device::current().setOrientation(1);
    settle();
    EXPECT_FALSE(fullscreen->isFullscreen());
    EXPECT_EQ(Application::shared().statusBarOrientation(), int(InterfaceOrientationPortrait));
    EXPECT_EQ(list->playerContainer()->frame(), embedded);
    EXPECT_EQ(root->portraitCommits, 2);
    // From system 15 the root is also asked to reconcile its navigation after each exit.
    EXPECT_EQ(root->navigationReconciliations, 2);

    // Stopped while in the full screen: it ends as after its own exit, the root told as well.
    ASSERT_TRUE(Application::shared().rotateForTesting(InterfaceOrientationLandscapeRight));
    settle();
    ASSERT_TRUE(fullscreen->isFullscreen());
    list->stopPlayback();
    settle();
    EXPECT_FALSE(fullscreen->isFullscreen());
    EXPECT_EQ(Application::shared().statusBarOrientation(), int(InterfaceOrientationPortrait));
    EXPECT_EQ(window->findChild<View*>(QStringLiteral("customFullscreenBackdrop")), nullptr);
    EXPECT_EQ(root->portraitCommits, 3);
}

// However long the interface takes to turn (frames held stand for a turn that does not end),
// the offline player watches no pause meanwhile: its player stopping in the turn is neither
// observed nor played again. Once the turn has settled the watch starts, and retries after its
// own delay.
TEST_F(LibraryTest, TheOfflinePlayerRetriesAPauseInATurnOnlyOnceTheTurnHasSettled)
{
    KRAccountVideoListViewController* list = playProgressiveUnderTheRoot(313);
    ASSERT_NE(list, nullptr);
    const auto watching = [] {
        const QString log = diagnosticsLog();
        return log.count(QStringLiteral("[unexpected-pause-observed]")) != log.count(QStringLiteral("[unexpected-pause-recovered]"));
    };
    ASSERT_TRUE(waitFollowingWallTime([&] { return list->transport()->playbackState() == 1 && !watching(); }));
    const qsizetype mark = diagnosticsLog().size();
    const auto since = [&] { return diagnosticsLog().mid(mark); };
    KRPlayerFullscreen* fullscreen = list->fullscreen();
    ASSERT_TRUE(heldturn::turnToLandscapeAndHoldItsMiddle());
    ASSERT_EQ(fullscreen->phase(), 2);

    list->transport()->playerForTesting()->pause();
    ASSERT_TRUE(waitFollowingWallTime([&] { return list->transport()->playbackState() == 2; }));
    // Long past the first retries of a pause watched.
    for (int i = 0; i < 100; ++i) {
        platform::MainClock::advanceForTesting(0.02);
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(fullscreen->phase(), 2);
    EXPECT_FALSE(since().contains(QStringLiteral("[unexpected-pause-observed]")));
    EXPECT_FALSE(since().contains(QStringLiteral("[unexpected-pause-retry]")));
    EXPECT_EQ(list->transport()->playbackState(), 2);

    heldturn::letTheTurnEnd();
    ASSERT_EQ(fullscreen->phase(), 3);
    const double settled = platform::MainClock::now();
    ASSERT_TRUE(waitFollowingWallTime([&] { return since().contains(QStringLiteral("[unexpected-pause-retry] attempt=1")); }));
    EXPECT_GE(platform::MainClock::now() - settled, KRPlaybackSession::kFirstRetryDelay);
    EXPECT_TRUE(since().contains(QStringLiteral("[audio-session-activate] reason=offline-unexpected-pause-recovery ")));
    ASSERT_TRUE(waitFollowingWallTime([&] { return since().contains(QStringLiteral("[unexpected-pause-recovered]")); }));
    EXPECT_EQ(list->transport()->playbackState(), 1);
}

// The window taken down while the offline player is in its full screen (the application
// quitting): the player's container goes with the root's view first, and the list's own stop
// still ends the full screen and leaves the viewing in the history.
TEST_F(LibraryTest, TakenDownInItsFullScreenTheOfflinePlayerStillRecordsItsViewing)
{
    KRAccountVideoListViewController* list = playProgressiveUnderTheRoot(314);
    ASSERT_NE(list, nullptr);
    ASSERT_TRUE(Application::shared().rotateForTesting(InterfaceOrientationLandscapeRight));
    settle();
    ASSERT_TRUE(list->fullscreen()->isFullscreen());
    const std::shared_ptr<KRVideo> played = list->playingVideo();
    ASSERT_NE(played, nullptr);

    window.reset();
    QCoreApplication::sendPostedEvents();
    flushDeferredDeletes();
    EXPECT_TRUE(KRLocalHistoryStore::sharedStore().resumeRecordForVideo(played).has_value());
}

TEST_F(LibraryTest, TheOfflinePlayersDanmakuSwitchIsStoredAndRead)
{
    platform::UserDefaults::standard().remove(KRDanmakuEnabledDefaultsKey);
    storeCompleteDASHRecord(300, 4);
    auto* list = new KRAccountVideoListViewController();
    nav->pushViewController(list, false);
    AnimationClock::finishAll();
    click(list->tableView(), IndexPath{0, 0});
    ASSERT_NE(list->danmakuRenderer(), nullptr);
    EXPECT_TRUE(list->danmakuRenderer()->isDanmakuEnabled());
    auto* toggle = list->controlsView()->findChild<Button*>(QStringLiteral("danmakuToggleButton"));
    ASSERT_NE(toggle, nullptr);
    EXPECT_EQ(toggle->accessibilityValue(), QStringLiteral("开启"));

    // Turned off, the choice is stored, as the video page stores it.
    toggle->tapForTesting();
    EXPECT_FALSE(list->danmakuRenderer()->isDanmakuEnabled());
    EXPECT_EQ(toggle->accessibilityValue(), QStringLiteral("关闭"));
    EXPECT_FALSE(platform::UserDefaults::standard().boolean(KRDanmakuEnabledDefaultsKey, true));

    // The next player reads it.
    list->stopPlayback();
    click(list->tableView(), IndexPath{0, 0});
    ASSERT_NE(list->danmakuRenderer(), nullptr);
    EXPECT_FALSE(list->danmakuRenderer()->isDanmakuEnabled());
    toggle = list->controlsView()->findChild<Button*>(QStringLiteral("danmakuToggleButton"));
    ASSERT_NE(toggle, nullptr);
    EXPECT_EQ(toggle->accessibilityValue(), QStringLiteral("关闭"));
    toggle->tapForTesting();
    EXPECT_TRUE(platform::UserDefaults::standard().boolean(KRDanmakuEnabledDefaultsKey, false));
    list->stopPlayback();
}

// The sound device cannot be opened (the engine's file output into a folder that is missing):
// the engine plays on a null output, so the offline DASH copy's sound keeps the pair's clock.
TEST_F(LibraryTest, AnOfflineDASHCopyPlaysWithNoSoundOutputThatOpens)
{
    platform::media::MediaSeams::setAudioOutput(QStringLiteral("pcm"));
    platform::media::MediaSeams::setAudioOutputFileForTesting(testsupport::testHome() + QStringLiteral("/no-device/sound.wav"));
    storeCompleteDASHRecord(303, 0);
    auto* list = new KRAccountVideoListViewController();
    nav->pushViewController(list, false);
    AnimationClock::finishAll();
    click(list->tableView(), IndexPath{0, 0});
    ASSERT_NE(list->dashPlayback(), nullptr);
    const bool played = waitFollowingWallTime([&] {
        return showsFailure(list) || (list->transport() && list->dashPlayback()->isRunning() && list->transport()->currentPlaybackTime() > 0.5);
    });
    platform::media::MediaSeams::setAudioOutputFileForTesting(QString());
    platform::media::MediaSeams::setAudioOutput(QStringLiteral("null"));
    ASSERT_TRUE(played);
    EXPECT_FALSE(showsFailure(list));
    EXPECT_EQ(list->transport()->playerForTesting()->core()->state().audioOutput, QStringLiteral("null"));
    list->stopPlayback();
}

TEST_F(LibraryTest, AStartThatFailsSaysSoAndThePlayButtonStartsAgain)
{
    storeCompleteProgressiveRecord(310, QStringLiteral("garbage.mp4"));
    auto* list = new KRAccountVideoListViewController();
    nav->pushViewController(list, false);
    AnimationClock::finishAll();
    click(list->tableView(), IndexPath{0, 0});
    ASSERT_NE(list->controlsView(), nullptr);
    EXPECT_TRUE(list->playbackStatusLabel()->isHidden());
    ASSERT_TRUE(waitFollowingWallTime([&] { return showsFailure(list); }));
    // Said over the player, with the play icon rather than a pause over a black picture.
    EXPECT_FALSE(list->playerContainer()->isHidden());
    EXPECT_TRUE(showsPlayIcon(list));
    EXPECT_TRUE(list->controlsView()->areControlsVisible());
    EXPECT_EQ(list->transport(), nullptr);
    EXPECT_EQ(list->playbackStatusLabel()->superview(), list->playerContainer());
    EXPECT_TRUE(list->playbackStatusLabel()->frame().intersects(list->playerContainer()->bounds()));

    // The copy is good again: the play button starts it.
    const QString file = QStringLiteral("file310-1700000000.mp4");
    ASSERT_TRUE(QFile::remove(offlinePath(file)));
    ASSERT_TRUE(QFile::copy(testsupport::MediaFixtures::testMediaPath(QStringLiteral("clip-360p.mp4")), offlinePath(file)));
    clickThroughWindow(list->controlsView()->findChild<View*>(QStringLiteral("playPauseButton")));
    EXPECT_TRUE(list->playbackStatusLabel()->isHidden());
    ASSERT_TRUE(waitFollowingWallTime([&] { return list->transport() && list->transport()->currentPlaybackTime() > 0.5; }));
    EXPECT_FALSE(showsPlayIcon(list));
    list->stopPlayback();
}

TEST_F(LibraryTest, AStartThatFailsInTheFullScreenLeavesItFirst)
{
    storeCompleteProgressiveRecord(311, QStringLiteral("garbage.mp4"));
    KRAccountVideoListViewController* list = pushListUnder(new PortraitCommitCountingRoot());
    ASSERT_NE(list, nullptr);
    Device::current().setOrientation(1);

    // Turned to landscape as soon as the entry is tapped, before the engine has answered.
    click(list->tableView(), IndexPath{0, 0});
    const QRectF embedded = list->playerContainer()->frame();
    ASSERT_TRUE(Application::shared().rotateForTesting(InterfaceOrientationLandscapeRight));
    settle();
    ASSERT_TRUE(list->fullscreen()->isFullscreen());
    ASSERT_TRUE(waitFollowingWallTime([&] { return showsFailure(list); }));
    EXPECT_FALSE(list->fullscreen()->isFullscreen());
    settle();
    EXPECT_EQ(Application::shared().statusBarOrientation(), int(InterfaceOrientationPortrait));
    EXPECT_EQ(window->findChild<View*>(QStringLiteral("customFullscreenBackdrop")), nullptr);
    EXPECT_EQ(list->playerContainer()->superview(), list->view());
    EXPECT_EQ(list->playerContainer()->frame(), embedded);
    EXPECT_TRUE(list->playbackStatusLabel()->isVisible());
    EXPECT_TRUE(showsPlayIcon(list));
    Device::current().setOrientation(1);
    settle();
}

// The offline player's tick feeds its danmaku: it runs as often as the renderer is to be fed,
// every 0.125 s on an A4-class device.
TEST_F(LibraryTest, OnAnA4ClassDeviceTheOfflinePlayerFeedsItsDanmakuEveryEighthOfASecond)
{
    platform::DeviceProfile::setMachineForTesting(QStringLiteral("iPhone3,1"));
    storeCompleteProgressiveRecord(301, QStringLiteral("clip-360p.mp4"));
    auto* list = new KRAccountVideoListViewController();
    nav->pushViewController(list, false);
    AnimationClock::finishAll();
    click(list->tableView(), IndexPath{0, 0});
    ASSERT_NE(list->transport(), nullptr);
    ASSERT_TRUE(waitFollowingWallTime([&] { return list->transport()->currentPlaybackTime() > 0.5; }));
    ASSERT_NE(list->danmakuRenderer(), nullptr);
    EXPECT_NEAR(testsupport::danmakuFeedSpacing(list->danmakuRenderer(), [&] { return list->transport()->currentPlaybackTime(); }),
                0.125, 0.003);
}
