// The video page's parts used as a user uses them, with presses through the window: coming
// back from a screen that keeps playback, the reply thread, the part strip, the requested part,
// related rows (covers, pull to load) and an empty comment list.
#include "VideoPageTesting.h"

#include "look/KRShellHelpers.h"
#include "look/KRTheme.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationBar.h"
#include "platform/uikit/ScrollView.h"
#include "platform/uikit/SegmentedControl.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/TableViewCell.h"
#include "platform/uikit/ImageView.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/uikit/Application.h"
#include "playback/KRPlaybackTransport.h"
#include "playback/KRPlayerControlsView.h"
#include "shared/KRCommentCell.h"
#include "shared/KRLoadMoreView.h"
#include "support/ConsoleCapture.h"
#include "support/ImageFixtures.h"
#include "video/KRVideoRelatedCell.h"

#include <QTest>

using namespace platform::uikit;
using namespace videotest;
using testsupport::ServiceFixtures;

namespace {

class VideoPagePartsTest : public VideoPageTest {
protected:
    void SetUp() override
    {
        VideoPageTest::SetUp();
        testsupport::ImageFixtures::serveImages(fake);
        playOncePreferences();
    }
    QWindow* handle() { return window->windowHandle(); }
    void tapBack()
    {
        Button* back = nav->navigationBar()->backButton();
        ASSERT_NE(back, nullptr);
        clickThroughWindow(back);
        AnimationClock::finishAll();
    }
    // The player is on screen, playing, and answers a tap on its picture.
    void expectLivePlayer(KRVideoDetailViewController* page)
    {
        View* backdrop = window->findChild<View*>(QStringLiteral("customFullscreenBackdrop"));
        ASSERT_NE(backdrop, nullptr);
        EXPECT_TRUE(backdrop->isVisible());
        View* container = part(page, "playerContainer");
        ASSERT_NE(container, nullptr);
        EXPECT_TRUE(container->isVisible());
        EXPECT_TRUE(container->isDescendantOfView(backdrop));
        EXPECT_EQ(container->frame().size(), QSizeF(375, 210));
        KR_ADVANCE_UNTIL(playing(page));
        KRPlayerControlsView* controls = page->playerControls();
        ASSERT_NE(controls, nullptr);
        EXPECT_TRUE(controls->isVisible());
        const bool shown = controls->areControlsVisible();
        clickThroughWindow(controls);
        KR_ADVANCE_UNTIL(controls->areControlsVisible() != shown);
    }
    int threadRequests() const { return int(fake.requestsTo(QStringLiteral("/x/v2/reply/reply")).size()); }

    testsupport::ConsoleCapture console;
};

} // namespace

TEST_F(VideoPagePartsTest, TheUploaderPageGivesThePlayerBackAsItWas)
{
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page));
    KR_WAIT_UNTIL(page->video()->ownerMID() > 0);
    clickThroughWindow(part<Button>(page, "ownerButton"));
    AnimationClock::finishAll();
    ASSERT_STREQ(nav->topViewController()->metaObject()->className(), "KRUploaderViewController");
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvanePlaybackLifecycle] retained reason=child-push destination=KRUploaderViewController")));
    tapBack();
    ASSERT_EQ(nav->topViewController(), page);
    expectLivePlayer(page);
}

TEST_F(VideoPagePartsTest, OneTapOnTheReplyHintOpensOneThreadAndOneBackReturns)
{
    KRVideoDetailViewController* page = pushAndPlay();
    KR_ADVANCE_UNTIL(playing(page));
    part<SegmentedControl>(page, "detailSegment")->tapSegmentForTesting(1);
    AnimationClock::finishAll();
    KR_WAIT_UNTIL(!page->comments().isEmpty());
    auto* table = part<TableView>(page, "commentsTableView");
    table->layoutIfNeeded();
    auto* cell = qobject_cast<KRCommentCell*>(table->cellForRowAtIndexPath({0, 0}));
    ASSERT_NE(cell, nullptr);
    ASSERT_FALSE(cell->threadLabel()->isHidden());
    EXPECT_TRUE(cell->threadLabel()->text().startsWith(QStringLiteral("查看 ")));
    const qsizetype depth = nav->viewControllers().size();
    clickThroughWindow(cell->threadLabel());
    AnimationClock::finishAll();
    EXPECT_EQ(nav->viewControllers().size(), depth + 1);
    KR_WAIT_UNTIL(threadRequests() >= 1);
    platform::MainClock::advanceForTesting(0.5);
    flushDeferredDeletes();
    EXPECT_EQ(threadRequests(), 1);
    tapBack();
    ASSERT_EQ(nav->topViewController(), page);
    expectLivePlayer(page);
}

TEST_F(VideoPagePartsTest, ThePageOpenedOnALaterPartKeepsItWhenTheDetailArrives)
{
    std::shared_ptr<KRVideo> video = detailVideo();
    video->setCid(ServiceFixtures::kDetailCID + 1);
    KRVideoDetailViewController* page = push(video);
    auto* play = part<Button>(page, "playButton");
    KR_WAIT_UNTIL(play->isEnabled());
    EXPECT_EQ(page->selectedPageIndex(), 1);
    EXPECT_EQ(page->video()->cid(), ServiceFixtures::kDetailCID + 1);
    EXPECT_TRUE(part<Label>(page, "pageTitleLabel")->text().startsWith(QStringLiteral("P2/3")));
    // The danmaku are those of the second part (their load runs on a worker of its own).
    KR_WAIT_UNTIL(fake.requestsTo(QStringLiteral("/%1.xml").arg(ServiceFixtures::kDetailCID + 1)).size() >= 1);
    EXPECT_EQ(fake.requestsTo(QStringLiteral("/%1.xml").arg(ServiceFixtures::kDetailCID)).size(), 0);
}

TEST_F(VideoPagePartsTest, ThePartStripHasAButtonPerPartAndATapPlaysThatPart)
{
    KRVideoDetailViewController* page = push();
    KR_WAIT_UNTIL(part<Button>(page, "playButton")->isEnabled());
    auto* strip = part<ScrollView>(page, "pageStrip");
    ASSERT_NE(strip, nullptr);
    EXPECT_FALSE(strip->isHidden());
    auto* title = part<Label>(page, "pageTitleLabel");
    EXPECT_TRUE(title->text().startsWith(QStringLiteral("P1/3 准备材料")));
    QList<Button*> buttons;
    for (int index = 0; index < 3; ++index)
        buttons.append(part<Button>(page, QStringLiteral("pageButton%1").arg(index).toLatin1().constData()));
    for (Button* button : buttons)
        ASSERT_NE(button, nullptr);
    EXPECT_EQ(buttons.at(1)->title(ControlStateNormal), QStringLiteral("P2 切割与打磨"));
    EXPECT_GE(buttons.at(0)->frame().left(), title->frame().right());
    EXPECT_TRUE(buttons.at(0)->isSelected());
    EXPECT_FALSE(buttons.at(1)->isSelected());

    // Before playback a tap selects the part; once playing, it plays it.
    strip->setContentOffset(QPointF(std::max<qreal>(0, buttons.at(1)->frame().right() - strip->bounds().width()), 0));
    clickThroughWindow(buttons.at(1));
    EXPECT_EQ(page->selectedPageIndex(), 1);
    EXPECT_EQ(page->video()->cid(), ServiceFixtures::kDetailCID + 1);
    EXPECT_TRUE(buttons.at(1)->isSelected());
    EXPECT_FALSE(buttons.at(0)->isSelected());
    EXPECT_TRUE(title->text().startsWith(QStringLiteral("P2/3")));
    EXPECT_EQ(page->moviePlayer(), nullptr);
    clickThroughWindow(part<Button>(page, "playButton"));
    KR_ADVANCE_UNTIL(playing(page));
    strip->setContentOffset(QPointF(std::max<qreal>(0, buttons.at(2)->frame().right() - strip->bounds().width()), 0));
    clickThroughWindow(buttons.at(2));
    EXPECT_EQ(page->selectedPageIndex(), 2);
    KR_ADVANCE_UNTIL(playing(page));
    EXPECT_EQ(page->video()->cid(), ServiceFixtures::kDetailCID + 2);
}

// The strip is made when a video with parts is shown: it wears the theme in force then, and
// follows the changes after.
TEST_F(VideoPagePartsTest, ThePartStripMadeWhenThePartsArriveWearsTheThemeInForce)
{
    KRTheme* theme = KRTheme::sharedTheme();
    const int style = theme->style();
    theme->setStyle(1);
    KRVideoDetailViewController* page = push();
    KR_WAIT_UNTIL(part<Button>(page, "playButton")->isEnabled());
    auto* title = part<Label>(page, "pageTitleLabel");
    auto* second = part<Button>(page, "pageButton1");
    ASSERT_NE(title, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(title->textColor(), theme->primaryTextColor());
    EXPECT_EQ(second->titleColor(ControlStateNormal), theme->secondaryTextColor());
    EXPECT_EQ(second->titleColor(ControlStateSelected), QColor(Qt::white));
    theme->setStyle(0);
    EXPECT_EQ(title->textColor(), theme->primaryTextColor());
    EXPECT_EQ(second->titleColor(ControlStateNormal), theme->secondaryTextColor());
    theme->setStyle(style);
}

TEST_F(VideoPagePartsTest, RelatedRowsShowTheirCovers)
{
    KRVideoDetailViewController* page = push();
    KR_WAIT_UNTIL(page->relatedVideos().size() == 10);
    auto* related = part<TableView>(page, "relatedTableView");
    related->layoutIfNeeded();
    auto* cell = qobject_cast<KRVideoRelatedCell*>(related->cellForRowAtIndexPath({0, 0}));
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->representedCoverURL(), page->relatedVideos().first()->coverURL());
    KR_WAIT_UNTIL(!cell->coverView()->image().isNull());
    EXPECT_EQ(cell->coverView()->frame(), QRectF(8, 9, 112, 68));
}

TEST_F(VideoPagePartsTest, PullingPastTheEndBringsBackTheRelatedRows)
{
    useDevice(QStringLiteral("iPhone3,1"), QStringLiteral("7.1"));
    KRVideoDetailViewController* page = push();
    KR_WAIT_UNTIL(page->relatedVideos().size() == 10);
    platform::NotificationCenter::defaultCenter().post(ApplicationDidReceiveMemoryWarningNotification);
    ASSERT_EQ(page->relatedVideos().size(), 4);
    auto* info = part<ScrollView>(page, "infoScrollView");
    const qreal bottom = std::max<qreal>(0, info->contentSize().height() - info->bounds().height());
    info->setContentOffset(QPointF(0, bottom));
    // Drag up from the spinner's strip below the rows, further than the end.
    View* spinner = part(page, "detailSpinner");
    const QPoint start = spinner->mapTo(window.get(), QPoint(spinner->width() / 2 + 60, spinner->height() / 2));
    QTest::mousePress(handle(), Qt::LeftButton, {}, start);
    for (int d = 10; d <= 160; d += 10) {
        QTest::mouseMove(handle(), start - QPoint(0, d));
        platform::MainClock::advanceForTesting(0.016);
    }
    QTest::mouseRelease(handle(), Qt::LeftButton, {}, start - QPoint(0, 160));
    KR_ADVANCE_UNTIL(page->relatedVideos().size() == 10);
    EXPECT_EQ(part<TableView>(page, "relatedTableView")->numberOfRowsInSection(0), 10);
}

TEST_F(VideoPagePartsTest, AnEmptyCommentListShowsOnlyItsEmptyState)
{
    std::shared_ptr<KRVideo> video = std::make_shared<KRVideo>();
    video->setAid(ServiceFixtures::kDetailAID + 7);
    video->setBvid(ServiceFixtures::bvidForAID(ServiceFixtures::kDetailAID + 7));
    video->setCid(ServiceFixtures::firstCIDForAID(ServiceFixtures::kDetailAID + 7));
    video->setTitle(QStringLiteral("没有评论的视频"));
    KRVideoDetailViewController* page = push(video);
    part<SegmentedControl>(page, "detailSegment")->tapSegmentForTesting(1);
    AnimationClock::finishAll();
    auto* state = part<Label>(page, "commentsStateLabel");
    KR_WAIT_UNTIL(state->text() == QStringLiteral("还没有评论"));
    EXPECT_FALSE(state->isHidden());
    auto* footer = part<KRLoadMoreView>(page, "commentsLoadMoreView");
    EXPECT_TRUE(footer->isHidden() || !footer->isVisible());
}

TEST_F(VideoPagePartsTest, EveryRotationHookTheShellSendsResolvesOnThePage)
{
    KRVideoDetailViewController* page = push();
    for (const QByteArray& signature : KRPlaybackRotationHookSignatures()) {
        SCOPED_TRACE(signature.constData());
        EXPECT_GE(page->metaObject()->indexOfMethod(signature.constData()), 0);
    }
    const int allows = page->metaObject()->indexOfMethod("kr_allowsPlaybackRotation()");
    ASSERT_GE(allows, 0);
    EXPECT_EQ(page->metaObject()->method(allows).returnType(), QMetaType::Bool);
    EXPECT_FALSE(KRViewControllerAllowsPlaybackRotation(nav));
    EXPECT_TRUE(KRInvokeHook(page, "kr_layoutPlaybackDuringRotation"));
    EXPECT_TRUE(KRInvokeSizeHook(page, "kr_preparePlaybackTransitionToSizeValue", QSizeF(667, 375)));
}
