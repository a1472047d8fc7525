// The video page's tab row and pager on their own, in a window without the page: the segment
// pressed through the window, the pager swiped, the frames for a player height, and the page
// chosen before the views exist.
#include "../uikit/KitTestSupport.h"

#include "platform/uikit/ScrollView.h"
#include "platform/uikit/SegmentedControl.h"
#include "platform/uikit/View.h"
#include "platform/uikit/Window.h"
#include "video/KRVideoDetailTabs.h"

#include <QTest>

#include <memory>

using namespace platform::uikit;

namespace {

class VideoDetailTabsTest : public KitTest {
protected:
    void SetUp() override
    {
        KitTest::SetUp();
        window = std::make_unique<Window>();
        window->makeKeyAndVisible();
        root = new View(window->bounds(), window.get());
        tabs = std::make_unique<KRVideoDetailTabs>(KRVideoDetailTabs::Actions{[this](int page) { shown << page; }});
    }
    void TearDown() override
    {
        tabs.reset();
        window.reset();
        KitTest::TearDown();
    }
    // Built on a phone-sized root under a player of 210 points, with one entry already in the row.
    void buildAndLayOut()
    {
        View* bar = tabs->makeTabBar(375);
        entry = new View(QRectF(300, 0, 42, 32), bar);
        tabs->build(root, 375, 667);
        tabs->layout(375, 667, 210);
    }
    SegmentedControl* segment() const { return root->findChild<SegmentedControl*>(QStringLiteral("detailSegment")); }
    ScrollView* pager() const { return root->findChild<ScrollView*>(QStringLiteral("pager")); }
    void pressSegment(int index)
    {
        SegmentedControl* control = segment();
        const qreal quarter = control->width() / 4.0;
        const QPoint local(int(quarter + index * 2 * quarter), control->height() / 2);
        QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, control->mapTo(window.get(), local));
        AnimationClock::finishAll();
    }

    // A slow drag of the pager to that offset, let go and left to rest on a page.
    void swipePagerTo(qreal x)
    {
        ScrollView* pages = pager();
        pages->beginDragForTesting();
        pages->dragToOffsetForTesting(QPointF(x, 0));
        pages->endDragForTesting(QPointF(0, 0));
        AnimationClock::advance(1);
        EXPECT_FALSE(pages->isDecelerating());
    }

    std::unique_ptr<Window> window;
    View* root = nullptr;
    View* entry = nullptr;
    std::unique_ptr<KRVideoDetailTabs> tabs;
    QList<int> shown;
};

} // namespace

TEST_F(VideoDetailTabsTest, TheRowAndPagerFillWhatThePlayerLeaves)
{
    buildAndLayOut();
    ASSERT_TRUE(tabs->isBuilt());
    EXPECT_EQ(tabs->tabBar()->frame(), QRectF(8, 213, 359, 32));
    // The segment leaves room for the row's entries, and goes under them.
    EXPECT_EQ(segment()->frame(), QRectF(0, 0, 359 - 124, 32));
    EXPECT_EQ(tabs->segmentWidth(), 359 - 124);
    EXPECT_EQ(tabs->tabBar()->subviews().first(), segment());
    EXPECT_EQ(tabs->tabBar()->subviews().last(), entry);
    EXPECT_EQ(pager()->frame(), QRectF(0, 247, 375, 420));
    EXPECT_EQ(pager()->contentSize(), QSizeF(750, 420));
    EXPECT_EQ(tabs->infoScrollView()->frame(), QRectF(0, 0, 375, 420));
    EXPECT_EQ(tabs->commentsView()->frame(), QRectF(375, 0, 375, 420));
    // A narrow row keeps a usable segment.
    tabs->layout(200, 400, 112);
    EXPECT_EQ(tabs->segmentWidth(), 120);
    EXPECT_EQ(pager()->frame(), QRectF(0, 149, 200, 251));
    // No room left below the player: an empty pager, never a negative one.
    tabs->layout(375, 200, 210);
    EXPECT_EQ(pager()->frame().height(), 0);
}

TEST_F(VideoDetailTabsTest, PressingASegmentShowsItsPage)
{
    buildAndLayOut();
    pressSegment(1);
    EXPECT_EQ(tabs->selectedPage(), 1);
    EXPECT_EQ(shown, QList<int>{1});
    EXPECT_EQ(pager()->contentOffset(), QPointF(375, 0));
    // Pressing the shown segment again tells nothing new.
    pressSegment(1);
    EXPECT_EQ(shown, QList<int>{1});
    pressSegment(0);
    EXPECT_EQ(tabs->selectedPage(), 0);
    EXPECT_EQ(shown, (QList<int>{1, 0}));
    EXPECT_EQ(pager()->contentOffset(), QPointF(0, 0));
}

TEST_F(VideoDetailTabsTest, SwipingThePagerMovesTheSegment)
{
    buildAndLayOut();
    ScrollView* pages = pager();
    swipePagerTo(260);
    EXPECT_EQ(pages->contentOffset(), QPointF(375, 0));
    EXPECT_EQ(tabs->selectedPage(), 1);
    EXPECT_EQ(segment()->selectedSegmentIndex(), 1);
    EXPECT_EQ(shown, QList<int>{1});
    // A short drag falls back to the page it left: nothing is shown anew.
    swipePagerTo(300);
    EXPECT_EQ(pages->contentOffset(), QPointF(375, 0));
    EXPECT_EQ(shown, QList<int>{1});
    // The page kept is laid out again where it was.
    tabs->layout(375, 667, 210);
    EXPECT_EQ(pages->contentOffset(), QPointF(375, 0));
}

TEST_F(VideoDetailTabsTest, AChoiceBeforeTheViewsTellsNothing)
{
    tabs->setSelectedPage(1, false);
    EXPECT_EQ(tabs->selectedPage(), 1);
    EXPECT_FALSE(tabs->isBuilt());
    EXPECT_TRUE(shown.isEmpty());
    // Anything but the comments is the information page.
    buildAndLayOut();
    tabs->setSelectedPage(7, false);
    EXPECT_EQ(tabs->selectedPage(), 0);
    EXPECT_EQ(segment()->selectedSegmentIndex(), 0);
    EXPECT_EQ(shown, QList<int>{0});
}
