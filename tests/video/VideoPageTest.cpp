// The video page without media: its view tree and layout on three devices, theme, loading of
// the detail, related videos and comments, tabs, memory warnings, status lines and speed
// texts.
#include "VideoPageTesting.h"

#include "browse/KRSearchHistory.h"
#include "browse/KRSearchViewController.h"
#include "browse/KRThemedSearchTextField.h"
#include "look/KRTheme.h"
#include "model/KRComment.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/BarButtonItem.h"
#include "support/ConsoleCapture.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationItem.h"
#include "platform/uikit/ScrollView.h"
#include "platform/uikit/SegmentedControl.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/TextField.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "shared/KRLoadMoreView.h"
#include "video/KRInteractionButton.h"
#include "video/KRVideoDetailSupport.h"

#include <QTest>

using namespace platform::uikit;
using namespace videotest;
using testsupport::ServiceFixtures;

namespace {

QRectF frameOf(KRVideoDetailViewController* page, const char* name)
{
    View* view = page->view()->window()->findChild<View*>(QString::fromLatin1(name));
    return view ? view->frame() : QRectF(-1, -1, -1, -1);
}

class VideoPageLayoutTest : public VideoPageTest {};

} // namespace

TEST_F(VideoPageLayoutTest, PhoneLayoutPlacesEveryPart)
{
    KRVideoDetailViewController* page = push();
    EXPECT_EQ(page->title(), QStringLiteral("视频"));
    EXPECT_TRUE(page->hidesBottomBarWhenPushed());
    EXPECT_EQ(page->view()->bounds().size(), QSizeF(375, 603));
    EXPECT_EQ(frameOf(page, "playerContainer"), QRectF(0, 0, 375, 210));
    EXPECT_EQ(frameOf(page, "detailTabBar"), QRectF(8, 213, 359, 32));
    EXPECT_EQ(frameOf(page, "detailSegment"), QRectF(0, 0, 235, 32));
    EXPECT_EQ(frameOf(page, "danmakuComposeButton"), QRectF(237, 0, 78, 32));
    EXPECT_EQ(frameOf(page, "danmakuButton"), QRectF(317, 0, 42, 32));
    // The danmaku bar is made when a line is first written.
    EXPECT_EQ(part(page, "danmakuComposerBar"), nullptr);
    EXPECT_EQ(frameOf(page, "pager"), QRectF(0, 247, 375, 356));
    EXPECT_EQ(part<ScrollView>(page, "pager")->contentSize(), QSizeF(750, 356));
    EXPECT_EQ(frameOf(page, "commentsView"), QRectF(375, 0, 375, 356));
    EXPECT_EQ(frameOf(page, "commentsTableView"), QRectF(0, 0, 375, 314));
    // The list ends 8 above the composer bar, and so does its scroll indicator.
    EXPECT_EQ(part<TableView>(page, "commentsTableView")->contentInset(), (EdgeInsets{0, 0, 8, 0}));
    EXPECT_EQ(part<TableView>(page, "commentsTableView")->scrollIndicatorInsets(), (EdgeInsets{0, 0, 8, 0}));
    EXPECT_EQ(frameOf(page, "commentComposerBar"), QRectF(0, 314, 375, 42));
    EXPECT_EQ(frameOf(page, "commentComposerButton"), QRectF(8, 5, 359, 32));
    // The comment bar's editing controls are made at its first edit (their frames are pinned
    // where it edits).
    for (const char* editing : {"commentSendButton", "commentEmoteButton", "commentInputField", "commentEmotePanel",
                                "commentSelectedImageBadge"})
        EXPECT_EQ(part(page, editing), nullptr) << editing;
    // The play button waits for the detail.
    auto* play = part<Button>(page, "playButton");
    EXPECT_FALSE(play->isEnabled());
    EXPECT_DOUBLE_EQ(play->alpha(), 0.68);
    EXPECT_EQ(play->accessibilityLabel(), QStringLiteral("播放"));
}

TEST_F(VideoPageLayoutTest, SmallPhoneAndPadPlayerHeights)
{
    useDevice(QStringLiteral("iPhone5,1"), QStringLiteral("10.3"));
    KRVideoDetailViewController* page = push();
    EXPECT_EQ(frameOf(page, "playerContainer").height(), 180);
    EXPECT_EQ(frameOf(page, "pager"), QRectF(0, 217, 320, page->view()->bounds().height() - 217));
    EXPECT_EQ(frameOf(page, "pager").height(), 287);

    useDevice(QStringLiteral("iPad2,1"), QStringLiteral("9.3"));
    page = push();
    EXPECT_EQ(frameOf(page, "playerContainer").height(), 432);
    EXPECT_EQ(frameOf(page, "detailSegment").width(), 628);
}

TEST_F(VideoPageLayoutTest, ThemeShadowsAndTheSkeuomorphicFace)
{
    KRTheme::sharedTheme()->setStyle(0);
    KRVideoDetailViewController* page = push();
    EXPECT_DOUBLE_EQ(part(page, "summaryCard")->shadowOpacity(), 0.16);
    EXPECT_DOUBLE_EQ(part(page, "interactionBar")->shadowOpacity(), 0.16);
    KRTheme::sharedTheme()->setStyle(1);
    EXPECT_DOUBLE_EQ(part(page, "ownerBar")->shadowOpacity(), 0.38);
    // The black style's segment titles are light with an upward shadow.
    const TextAttributes normal = part<SegmentedControl>(page, "detailSegment")->titleTextAttributes(ControlStateNormal);
    ASSERT_TRUE(normal.textColor && normal.shadowOffset);
    EXPECT_EQ(normal.shadowOffset, QSizeF(0, -1));
    EXPECT_NEAR(normal.textColor->redF(), 0.94, 0.01);
    KRTheme::sharedTheme()->setStyle(2);

    const Image face = KRSkeuomorphicActionImage(nullptr, false);
    EXPECT_EQ(face.size(), QSizeF(20, 32));
    EXPECT_EQ(face.leftCapWidth(), 9);
    EXPECT_EQ(face.topCapHeight(), 15);
    EXPECT_EQ(face.image().cacheKey(), KRSkeuomorphicActionImage(nullptr, false).image().cacheKey());
    const qreal scale = face.image().devicePixelRatio();
    const QColor middle = face.image().pixelColor(int(10 * scale), int(16 * scale));
    EXPECT_NEAR(middle.red(), 255, 3);
    EXPECT_NEAR(middle.green(), 239, 3);
    EXPECT_NEAR(middle.blue(), 247, 3);
    const QColor selected = KRSkeuomorphicActionImage(nullptr, true).image().pixelColor(int(10 * scale), int(16 * scale));
    EXPECT_NEAR(selected.red(), 239, 3);
    EXPECT_NEAR(selected.green(), 86, 3);
    EXPECT_NEAR(selected.blue(), 134, 3);
}

// Each skin button's title shadow falls the way its style says: "发弹幕" and the comment bar's
// pale cancel and send buttons upwards only in the black style, the follow button downwards only
// in the white one; the bar's buttons, made at its first edit, follow later changes too.
TEST_F(VideoPageLayoutTest, SkinButtonTitleShadowsFallAsTheStyleSays)
{
    testsupport::AccountFixtures::logInWebOnly();
    KRTheme* theme = KRTheme::sharedTheme();
    const int style = theme->style();
    theme->setStyle(1);
    KRVideoDetailViewController* page = push();
    part<SegmentedControl>(page, "detailSegment")->tapSegmentForTesting(1);
    AnimationClock::finishAll();
    page->view()->layoutIfNeeded();
    QTest::mouseClick(part<Button>(page, "commentComposerButton"), Qt::LeftButton);
    ASSERT_NE(part<Button>(page, "commentSendButton"), nullptr);
    const auto offset = [&](const char* name) { return part<Button>(page, name)->titleLabel()->shadowOffset(); };
    const QSizeF up(0, -1), down(0, 1);
    struct Expected {
        int style;
        QSizeF compose, follow, pale;
    };
    for (const Expected& e : {Expected{1, up, up, up}, Expected{0, down, down, down}, Expected{2, down, up, down}}) {
        theme->setStyle(e.style);
        EXPECT_EQ(offset("danmakuComposeButton"), e.compose) << e.style;
        EXPECT_EQ(offset("followButton"), e.follow) << e.style;
        EXPECT_EQ(offset("commentCancelButton"), e.pale) << e.style;
        EXPECT_EQ(offset("commentSendButton"), e.pale) << e.style;
    }
    theme->setStyle(style);
}

TEST_F(VideoPageLayoutTest, OldDevicesDrawNoCardShadow)
{
    useDevice(QStringLiteral("iPhone3,1"), QStringLiteral("7.1"));
    KRVideoDetailViewController* page = push();
    EXPECT_DOUBLE_EQ(part(page, "summaryCard")->shadowOpacity(), 0);
}

TEST_F(VideoPageLayoutTest, DanmakuSwitchIsStoredAndShown)
{
    KRVideoDetailViewController* page = push();
    auto* danmakuButton = part<Button>(page, "danmakuButton");
    auto* compose = part<Button>(page, "danmakuComposeButton");
    EXPECT_EQ(danmakuButton->accessibilityValue(), QStringLiteral("开启"));
    // The composer open, its field shows the switch as well.
    QTest::mouseClick(compose, Qt::LeftButton);
    ASSERT_NE(part<TextField>(page, "danmakuInputField"), nullptr);
    EXPECT_EQ(part<TextField>(page, "danmakuInputField")->placeholder(), QStringLiteral("登录后发弹幕"));
    QTest::mouseClick(danmakuButton, Qt::LeftButton);
    EXPECT_FALSE(platform::UserDefaults::standard().boolean(QStringLiteral("KRDanmakuEnabled"), true));
    EXPECT_EQ(compose->title(ControlStateNormal), QStringLiteral("已关弹幕"));
    EXPECT_FALSE(compose->isEnabled());
    EXPECT_DOUBLE_EQ(compose->alpha(), 0.62);
    EXPECT_EQ(danmakuButton->accessibilityValue(), QStringLiteral("关闭"));
    EXPECT_EQ(part<TextField>(page, "danmakuInputField")->placeholder(), QStringLiteral("已关弹幕"));
    // A new page reads the stored choice.
    nav->popViewControllerAnimated(false);
    KRVideoDetailViewController* again = push();
    EXPECT_EQ(part<Button>(again, "danmakuButton")->accessibilityValue(), QStringLiteral("关闭"));
}

TEST_F(VideoPageLayoutTest, CoinButtonWaitsForTheRelation)
{
    KRVideoDetailViewController* page = push();
    auto* coin = part<KRInteractionButton>(page, "coinButton");
    EXPECT_EQ(coin->title(ControlStateNormal), QStringLiteral("投币"));
    EXPECT_EQ(coin->accessibilityValue(), QStringLiteral("状态读取中"));
    EXPECT_EQ(coin->tag(), 7602);
}

TEST_F(VideoPageLayoutTest, DetailEnablesPlayAndFillsTheInformationPage)
{
    KRVideoDetailViewController* page = push();
    auto* play = part<Button>(page, "playButton");
    KR_WAIT_UNTIL(play->isEnabled());
    EXPECT_DOUBLE_EQ(play->alpha(), 1.0);
    EXPECT_FALSE(part<Label>(page, "titleLabel")->text().isEmpty());
    EXPECT_NE(part<Label>(page, "titleLabel")->text(), QStringLiteral("列表里的标题"));
    EXPECT_TRUE(part<Label>(page, "identifierLabel")->text().startsWith(ServiceFixtures::detailBVID()));
    // Three parts: the strip names the first.
    EXPECT_TRUE(part<Label>(page, "pageTitleLabel")->text().startsWith(QStringLiteral("P1/3")));
    // Related videos arrive with the ancillary content and fill rows.
    KR_WAIT_UNTIL(!page->relatedVideos().isEmpty());
    auto* related = part<TableView>(page, "relatedTableView");
    EXPECT_FALSE(related->isHidden());
    EXPECT_EQ(related->numberOfRowsInSection(0), page->relatedVideos().size());
    EXPECT_GT(part<ScrollView>(page, "infoScrollView")->contentSize().height(), related->frame().bottom());
}

TEST_F(VideoPageLayoutTest, CommentsTabLoadsPagesAndKeepsThemThroughAMemoryWarning)
{
    KRVideoDetailViewController* page = push();
    auto* segment = part<SegmentedControl>(page, "detailSegment");
    segment->tapSegmentForTesting(1);
    EXPECT_EQ(page->selectedDetailPage(), 1);
    AnimationClock::finishAll();
    EXPECT_EQ(part<ScrollView>(page, "pager")->contentOffset(), QPointF(375, 0));
    KR_WAIT_UNTIL(!page->comments().isEmpty());
    const qsizetype firstPage = page->comments().size();
    auto* table = part<TableView>(page, "commentsTableView");
    EXPECT_EQ(table->numberOfRowsInSection(0), firstPage);
    page->commentsLoadMoreTapped();
    KR_WAIT_UNTIL(page->comments().size() > firstPage);

    // On the comments tab a memory warning keeps them.
    platform::NotificationCenter::defaultCenter().post(ApplicationDidReceiveMemoryWarningNotification);
    EXPECT_FALSE(page->comments().isEmpty());
    // On the information tab it lets them go.
    page->setSelectedDetailPage(0, false);
    platform::NotificationCenter::defaultCenter().post(ApplicationDidReceiveMemoryWarningNotification);
    EXPECT_TRUE(page->comments().isEmpty());
    EXPECT_EQ(table->numberOfRowsInSection(0), 0);
    // Coming back loads them again.
    page->setSelectedDetailPage(1, false);
    KR_WAIT_UNTIL(!page->comments().isEmpty());
}

// A tag of the video, clicked: a search screen for it is pushed over the page, searches for it
// as it appears and keeps it first in the search history.
TEST_F(VideoPageLayoutTest, ATagOpensASearchForItThatRemembersIt)
{
    KRSearchHistory::save(QStringLiteral("狗"));
    KRVideoDetailViewController* page = push();
    auto* tags = part(page, "tagsContainer");
    KR_WAIT_UNTIL((tags = part(page, "tagsContainer")) && tags->findChildren<Label*>().size() == 4);
    Label* cat = nullptr;
    for (Label* label : tags->findChildren<Label*>())
        cat = label->text() == QStringLiteral("猫") ? label : cat;
    ASSERT_NE(cat, nullptr);
    // Scrolled up into view, as a user brings the summary's end up.
    page->view()->layoutIfNeeded();
    auto* info = part<ScrollView>(page, "infoScrollView");
    const qreal inContent = cat->mapTo(info, QPoint(0, 0)).y() + info->contentOffset().y();
    info->setContentOffset(QPointF(0, std::max<qreal>(0, inContent - 100)), false);
    clickThroughWindow(cat);
    auto* search = qobject_cast<KRSearchViewController*>(nav->topViewController());
    ASSERT_NE(search, nullptr);
    KR_WAIT_UNTIL(!search->isLoading() && !search->videos().isEmpty());
    EXPECT_EQ(search->lastKeyword(), QStringLiteral("猫"));
    EXPECT_EQ(search->searchField()->text(), QStringLiteral("猫"));
    QList<testsupport::FakeRequest> searches = fake.requestsTo(QStringLiteral("/x/web-interface/wbi/search/type"));
    searches += fake.requestsTo(QStringLiteral("/x/web-interface/search/type"));
    ASSERT_EQ(searches.size(), 1);
    EXPECT_EQ(searches.last().queryValue(QStringLiteral("keyword")), QStringLiteral("猫"));
    EXPECT_EQ(KRSearchHistory::read(), (QStringList{"猫", "狗"}));
    // The page under it plays on: a search is a continuing child.
    EXPECT_TRUE(page->isPlaybackContinuingChildController(search));
}

TEST_F(VideoPageLayoutTest, AMemoryWarningOnAnOldDeviceKeepsFourRelatedRows)
{
    useDevice(QStringLiteral("iPhone3,1"), QStringLiteral("7.1"));
    KRVideoDetailViewController* page = push();
    KR_WAIT_UNTIL(page->relatedVideos().size() == 10);
    const QString fifth = page->relatedVideos().at(4)->feedIdentity();
    auto* related = part<TableView>(page, "relatedTableView");
    auto* footer = part<KRLoadMoreView>(page, "relatedLoadMoreView");
    EXPECT_EQ(footer->state(), KRLoadMoreStateNoMore);

    platform::NotificationCenter::defaultCenter().post(ApplicationDidReceiveMemoryWarningNotification);
    EXPECT_EQ(page->relatedVideos().size(), 4);
    EXPECT_EQ(related->numberOfRowsInSection(0), 4);
    EXPECT_EQ(footer->state(), KRLoadMoreStateIdle);
    // The footer brings the dropped rows back, each once.
    QTest::mouseClick(footer->button(), Qt::LeftButton);
    KR_WAIT_UNTIL(page->relatedVideos().size() == 10);
    EXPECT_EQ(page->relatedVideos().at(4)->feedIdentity(), fifth);
    EXPECT_EQ(related->numberOfRowsInSection(0), 10);
}

TEST_F(VideoPageLayoutTest, AMemoryWarningOnANewerDeviceKeepsTheRelatedRows)
{
    KRVideoDetailViewController* page = push();
    KR_WAIT_UNTIL(page->relatedVideos().size() == 10);
    platform::NotificationCenter::defaultCenter().post(ApplicationDidReceiveMemoryWarningNotification);
    EXPECT_EQ(page->relatedVideos().size(), 10);
    EXPECT_EQ(part<TableView>(page, "relatedTableView")->numberOfRowsInSection(0), 10);
}

TEST_F(VideoPageLayoutTest, SwipingThePagerSelectsTheTab)
{
    KRVideoDetailViewController* page = push();
    auto* pager = part<ScrollView>(page, "pager");
    pager->beginDragForTesting();
    pager->dragToOffsetForTesting(QPointF(260, 0));
    pager->endDragForTesting(QPointF(0, 0));
    KR_ADVANCE_UNTIL(!pager->isDecelerating() && !pager->isDragging());
    EXPECT_EQ(pager->contentOffset(), QPointF(375, 0));
    EXPECT_EQ(page->selectedDetailPage(), 1);
    EXPECT_EQ(part<SegmentedControl>(page, "detailSegment")->selectedSegmentIndex(), 1);
}

TEST_F(VideoPageLayoutTest, CommentFocusEntriesAreKeptUntilShown)
{
    auto* page = new KRVideoDetailViewController(detailVideo());
    page->showCommentsWhenPresentedAtRootRpid(-5, 0);
    EXPECT_EQ(page->focusedCommentRpid(), 0);
    EXPECT_EQ(page->focusedReplyRpid(), 0);
    page->showCommentsWhenPresentedAtRootRpid(10, 0);
    EXPECT_EQ(page->focusedCommentRpid(), 10);
    EXPECT_EQ(page->focusedReplyRpid(), 10);
    EXPECT_TRUE(page->showsCommentsWhenPresented());
    nav = new NavigationController(new ViewController());
    window->setRootViewController(nav);
    window->makeKeyAndVisible();
    nav->pushViewController(page, false);
    AnimationClock::finishAll();
    EXPECT_FALSE(page->showsCommentsWhenPresented());
    EXPECT_EQ(page->selectedDetailPage(), 1);
}

TEST_F(VideoPageLayoutTest, StatusLineHidesAfterTwoSecondsAndANewTextRestartsIt)
{
    KRVideoDetailViewController* page = push();
    EXPECT_FALSE(shows(page, "danmakuStatusLabel"));
    page->showDanmakuStatus(QStringLiteral("第一行"));
    auto* status = part<Label>(page, "danmakuStatusLabel");
    ASSERT_NE(status, nullptr);
    EXPECT_FALSE(status->isHidden());
    platform::MainClock::advanceForTesting(1.5);
    page->showDanmakuStatus(QStringLiteral("第二行"));
    platform::MainClock::advanceForTesting(1.9);
    EXPECT_FALSE(status->isHidden());
    EXPECT_EQ(status->text(), QStringLiteral("第二行"));
    platform::MainClock::advanceForTesting(0.1);
    EXPECT_TRUE(status->isHidden());
    page->showDanmakuStatus(QStringLiteral("x"));
    page->showDanmakuStatus(QString());
    EXPECT_TRUE(status->isHidden());
}

// The glyph laid over the summary card's disclosure button is plain text: a click on it is the
// button's, and opens and closes the summary as a click on the card's title does.
TEST_F(VideoPageLayoutTest, AClickOnTheSummarysGlyphOpensAndClosesIt)
{
    KRVideoDetailViewController* page = push();
    KR_WAIT_UNTIL(part<Button>(page, "playButton")->isEnabled());
    page->view()->layoutIfNeeded();
    auto* glyph = part<Label>(page, "summaryDisclosureGlyph");
    ASSERT_NE(glyph, nullptr);
    EXPECT_EQ(glyph->text(), QStringLiteral("展开 ▼"));
    ASSERT_LT(glyph->frameInWindow().bottom(), window->frame().height()) << "the glyph shows without scrolling";
    clickThroughWindow(glyph);
    EXPECT_EQ(glyph->text(), QStringLiteral("收起 ▲"));
    clickThroughWindow(glyph);
    EXPECT_EQ(glyph->text(), QStringLiteral("展开 ▼"));
}

// The status line over the player is text only: a click on it while it shows reaches the
// player's controls beneath, which come back as for any tap on the picture.
TEST_F(VideoPageLayoutTest, TheStatusLineOverThePlayerLetsTheControlsHaveTheClick)
{
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page) && page->playerControls() && page->playerControls()->isVisible());
    KRPlayerControlsView* controls = page->playerControls();
    controls->setControlsVisible(false, false);
    page->showDanmakuStatus(QStringLiteral("弹幕已开启"));
    auto* status = part<Label>(page, "danmakuStatusLabel");
    ASSERT_TRUE(status && status->isVisible());
    clickThroughWindow(status);
    EXPECT_TRUE(advanceUntil([&] { return controls->areControlsVisible(); })) << "the click did not reach the controls";
    EXPECT_FALSE(status->isHidden());
}

TEST_F(VideoPageLayoutTest, SpeedIsStoredAndAnnouncedWithoutAPlayer)
{
    KRVideoDetailViewController* page = push();
    page->setPlaybackRateValue(1.25f, true);
    auto* status = part<Label>(page, "danmakuStatusLabel");
    ASSERT_NE(status, nullptr);
    EXPECT_FLOAT_EQ(page->playbackRate(), 1.25f);
    EXPECT_EQ(status->text(), QStringLiteral("播放速度 1.25x"));
    page->setPlaybackRateValue(1.3f, true);
    EXPECT_EQ(status->text(), QStringLiteral("播放速度 2.0x"));
    EXPECT_EQ(page->moviePlayer(), nullptr);
}

TEST(VideoPageSupport, RestoredRateNamesTheRateThatPlays)
{
    EXPECT_EQ(KRRestoredRateText(1.0f), QStringLiteral("1x"));
    EXPECT_EQ(KRRestoredRateText(1.5f), QStringLiteral("1.5x"));
    EXPECT_EQ(KRRestoredRateText(0.75f), QStringLiteral("0.75x"));
    EXPECT_EQ(KRRestoredRateText(1.25f), QStringLiteral("1.25x"));
    EXPECT_EQ(KRRestoredRateText(2.0f), QStringLiteral("2x"));
}

TEST_F(VideoPageLayoutTest, UnavailableVideoLoadsNothing)
{
    std::shared_ptr<KRVideo> video = detailVideo();
    video->setUnavailable(true);
    video->setUnavailableReason(QStringLiteral("视频已失效"));
    KRVideoDetailViewController* page = push(video);
    EXPECT_TRUE(part<Button>(page, "playButton")->isHidden());
    EXPECT_FALSE(part(page, "loadingOverlay")->isHidden());
    EXPECT_EQ(part<Label>(page, "loadingStatusLabel")->text(), QStringLiteral("视频已失效"));
    platform::MainClock::advanceForTesting(1);
    flushDeferredDeletes();
    EXPECT_EQ(fake.requestsTo(QStringLiteral("/x/web-interface/view")).size(), 0);
}

TEST_F(VideoPageLayoutTest, ACommentWithRepliesOpensItsThreadAndPlaybackIsKeptForIt)
{
    KRVideoDetailViewController* page = push();
    part<SegmentedControl>(page, "detailSegment")->tapSegmentForTesting(1);
    KR_WAIT_UNTIL(!page->comments().isEmpty());
    ASSERT_GE(page->comments().first()->replyCount(), 1);
    testsupport::ConsoleCapture console;
    part<TableView>(page, "commentsTableView")->tapRowForTesting({0, 0});
    AnimationClock::finishAll();
    ViewController* top = nav->topViewController();
    ASSERT_NE(top, page);
    EXPECT_STREQ(top->metaObject()->className(), "KRReplyThreadViewController");
    EXPECT_TRUE(page->isPlaybackContinuingChildController(top));
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvanePlaybackLifecycle] retained reason=child-push destination=KRReplyThreadViewController")));
}

TEST_F(VideoPageLayoutTest, HomeShortcutOnlyOverAnotherVideoPage)
{
    KRVideoDetailViewController* first = push();
    EXPECT_EQ(first->navigationItem()->rightBarButtonItem(), nullptr);
    KRVideoDetailViewController* second = push();
    ASSERT_NE(second->navigationItem()->rightBarButtonItem(), nullptr);
    EXPECT_EQ(second->navigationItem()->rightBarButtonItem()->title(), QStringLiteral("首页"));
}
