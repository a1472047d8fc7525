#include "KitTestSupport.h"

#include "platform/uikit/Button.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/ScrollView.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/TableViewCell.h"
#include "platform/uikit/TableViewDataSource.h"
#include "platform/uikit/TableViewDelegate.h"
#include "platform/uikit/TapGestureRecognizer.h"
#include "platform/uikit/ViewController.h"
#include "platform/uikit/Window.h"

#include <QTest>
#include <QtTest/qtestspontaneevent.h>
#include <QWheelEvent>
#include <QWindow>

using namespace platform::uikit;

namespace {

struct Rows : TableViewDataSource, TableViewDelegate {
    int count = 6;
    QList<IndexPath> selected;
    int numberOfRowsInSection(TableView*, int) override { return count; }
    TableViewCell* cellForRowAtIndexPath(TableView* t, const IndexPath& ip) override
    {
        auto* cell = t->dequeueReusableCellWithIdentifier(QStringLiteral("row"));
        if (!cell)
            cell = new TableViewCell(TableViewCellStyleDefault, QStringLiteral("row"));
        cell->setObjectName(QStringLiteral("row%1").arg(ip.row));
        return cell;
    }
    qreal heightForRowAtIndexPath(TableView*, const IndexPath&) override { return 60; }
    void didSelectRowAtIndexPath(TableView*, const IndexPath& ip) override { selected << ip; }
};

// A page as the video page's information tab is built: a scrolling page 1000 points tall whose
// middle holds a list of six rows with its own scrolling off, all in a real window.
struct Page {
    Window window;
    ViewController* root = new ViewController();
    ScrollView* page = nullptr;
    TableView* related = nullptr;
    Rows rows;

    Page()
    {
        window.setRootViewController(root);
        window.makeKeyAndVisible();
        page = new ScrollView(root->view()->bounds(), root->view());
        page->setContentSize(QSizeF(root->view()->bounds().width(), 1000));
        related = new TableView(QRectF(0, 200, page->frame().width(), 360), TableViewStylePlain, page);
        related->setScrollEnabled(false);
        related->setDataSource(&rows);
        related->setTableDelegate(&rows);
        related->reloadData();
        related->layoutIfNeeded();
    }
    QWindow* handle() { return window.windowHandle(); }
    // The middle of a row of the list, in the window's coordinates.
    QPoint rowPoint(int row)
    {
        const QRectF rect = related->rectForRowAtIndexPath(IndexPath{0, row}).translated(-related->contentOffset());
        return related->mapTo(&window, rect.center().toPoint());
    }
    // A wheel turned over `at` (window coordinates), delivered as the system's own: to the view
    // under the pointer, and on to its parents for as long as they leave it (Qt passes only
    // spontaneous wheel events on).
    void wheel(const QPoint& at, int pixelsUp)
    {
        QWidget* under = window.childAt(at);
        ASSERT_NE(under, nullptr);
        const QPointF local = under->mapFrom(&window, QPointF(at));
        QWheelEvent event(local, window.mapToGlobal(QPointF(at)), QPoint(0, pixelsUp), QPoint(0, pixelsUp), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QSpontaneKeyEvent::setSpontaneous(&event);
        // As QTest delivers its own spontaneous events: sendEvent would clear the mark.
        QCoreApplication::instance()->notify(under, &event);
    }
};

} // namespace

class KitNestedScrolling : public KitTest {};

TEST_F(KitNestedScrolling, TheWheelOverAListWhoseScrollingIsOffMovesTheEnclosingPage)
{
    Page page;
    ASSERT_NE(page.handle(), nullptr);
    ASSERT_TRUE(page.related->isAncestorOf(page.window.childAt(page.rowPoint(1))));
    page.wheel(page.rowPoint(1), -90);
    EXPECT_EQ(page.page->contentOffset(), QPointF(0, 90));
    EXPECT_EQ(page.related->contentOffset(), QPointF(0, 0));

    // A list that scrolls by itself keeps its wheel.
    page.related->setContentOffset(QPointF(0, 0));
    page.related->setScrollEnabled(true);
    page.related->setFrame(QRectF(0, 200, page.page->frame().width(), 200));
    page.related->layoutIfNeeded();
    page.wheel(page.rowPoint(1), -40);
    EXPECT_EQ(page.related->contentOffset(), QPointF(0, 40));
    EXPECT_EQ(page.page->contentOffset(), QPointF(0, 90));
}

TEST_F(KitNestedScrolling, ADragThatStartsOnARowMovesTheEnclosingPageAndSelectsNothing)
{
    Page page;
    const QPoint start = page.rowPoint(2);
    QTest::mousePress(page.handle(), Qt::LeftButton, {}, start);
    QTest::mouseMove(page.handle(), start + QPoint(0, -2));
    EXPECT_EQ(page.page->contentOffset(), QPointF(0, 0));  // still within the slop
    QTest::mouseMove(page.handle(), start + QPoint(0, -30));
    EXPECT_TRUE(page.page->isDragging());
    QTest::mouseMove(page.handle(), start + QPoint(0, -120));
    EXPECT_EQ(page.page->contentOffset(), QPointF(0, 120));
    EXPECT_EQ(page.related->contentOffset(), QPointF(0, 0));
    QTest::mouseRelease(page.handle(), Qt::LeftButton, {}, start + QPoint(0, -120));
    EXPECT_FALSE(page.page->isDragging());
    AnimationClock::finishAll();
    EXPECT_TRUE(page.rows.selected.isEmpty());
    EXPECT_FALSE(page.related->indexPathForSelectedRow().isValid());

    // A drag that comes back to where it began is still no tap.
    const QPoint again = page.rowPoint(3);
    QTest::mousePress(page.handle(), Qt::LeftButton, {}, again);
    QTest::mouseMove(page.handle(), again + QPoint(0, 40));
    QTest::mouseMove(page.handle(), again);
    QTest::mouseRelease(page.handle(), Qt::LeftButton, {}, again);
    AnimationClock::finishAll();
    EXPECT_TRUE(page.rows.selected.isEmpty());
    page.page->setContentOffset(QPointF(0, 0));

    // A tap, even one that trembles by less than the slop, still selects its row.
    const QPoint tap = page.rowPoint(1);
    QTest::mousePress(page.handle(), Qt::LeftButton, {}, tap);
    QTest::mouseMove(page.handle(), tap + QPoint(1, 1));
    QTest::mouseRelease(page.handle(), Qt::LeftButton, {}, tap + QPoint(1, 1));
    EXPECT_EQ(page.rows.selected, QList<IndexPath>({IndexPath{0, 1}}));
}

TEST_F(KitNestedScrolling, InEveryTableADragFromARowSelectsNothing)
{
    // A table that scrolls, one too short to scroll, and one whose scrolling is off with no
    // scroll view around it.
    for (int variant = 0; variant < 3; ++variant) {
        SCOPED_TRACE(variant);
        Window window;
        auto* root = new ViewController();
        window.setRootViewController(root);
        window.makeKeyAndVisible();
        Rows rows;
        rows.count = variant == 0 ? 40 : 4;
        auto* table = new TableView(root->view()->bounds(), TableViewStylePlain, root->view());
        table->setScrollEnabled(variant != 2);
        table->setDataSource(&rows);
        table->setTableDelegate(&rows);
        table->reloadData();
        table->layoutIfNeeded();
        const QPoint start = table->mapTo(&window, table->rectForRowAtIndexPath(IndexPath{0, 2}).center().toPoint());
        QTest::mousePress(window.windowHandle(), Qt::LeftButton, {}, start);
        QTest::mouseMove(window.windowHandle(), start + QPoint(0, -10));
        QTest::mouseMove(window.windowHandle(), start + QPoint(0, -50));
        if (variant == 0) {
            EXPECT_EQ(table->contentOffset(), QPointF(0, 50));
        } else if (variant == 2) {
            EXPECT_EQ(table->contentOffset(), QPointF(0, 0));
        }
        QTest::mouseRelease(window.windowHandle(), Qt::LeftButton, {}, start + QPoint(0, -50));
        AnimationClock::finishAll();
        EXPECT_TRUE(rows.selected.isEmpty());
    }
}

TEST_F(KitNestedScrolling, ATapRecogniserInAScrollingPageIgnoresATouchThatWanderedOff)
{
    Page page;
    int taps = 0;
    auto* banner = new View(QRectF(0, 40, page.page->frame().width(), 100), page.page);
    new TapGestureRecognizer(banner, [&] { ++taps; });
    const QPoint start = banner->mapTo(&page.window, QPoint(100, 50));
    QTest::mousePress(page.handle(), Qt::LeftButton, {}, start);
    QTest::mouseMove(page.handle(), start + QPoint(0, 60));
    EXPECT_TRUE(page.page->isDragging());
    QTest::mouseMove(page.handle(), start + QPoint(0, 2));
    QTest::mouseRelease(page.handle(), Qt::LeftButton, {}, start + QPoint(0, 2));
    AnimationClock::finishAll();
    EXPECT_EQ(taps, 0);

    page.page->setContentOffset(QPointF(0, 0));
    const QPoint tap = banner->mapTo(&page.window, QPoint(100, 50));
    QTest::mouseClick(page.handle(), Qt::LeftButton, {}, tap);
    EXPECT_EQ(taps, 1);
}

// A page of buttons, as a picker's grid of tiles: a drag begun on a button moves the page and
// cancels the button's tap, however far the button goes meanwhile; a click still taps it.
TEST_F(KitNestedScrolling, ADragBegunOnAButtonScrollsThePageAndCancelsTheButtonsTap)
{
    Page page;
    auto* button = new Button(ButtonTypeCustom, QRectF(20, 20, 88, 88), page.page);
    QList<int> events;
    for (int event : {int(ControlEventTouchDown), int(ControlEventTouchUpInside), int(ControlEventTouchUpOutside),
                      int(ControlEventTouchCancel)})
        button->addTarget(event, [&events, event] { events << event; });
    const QPoint start = button->mapTo(&page.window, QPoint(44, 44));
    QTest::mousePress(page.handle(), Qt::LeftButton, {}, start);
    EXPECT_TRUE(button->isHighlighted());
    QTest::mouseMove(page.handle(), start + QPoint(0, -2));
    EXPECT_EQ(page.page->contentOffset(), QPointF(0, 0));  // still within the slop
    EXPECT_TRUE(button->isHighlighted());
    QTest::mouseMove(page.handle(), start + QPoint(0, -30));
    EXPECT_TRUE(page.page->isDragging());
    EXPECT_FALSE(button->isHighlighted());
    // The button leaves the page as a reused tile would: the drag goes on.
    button->removeFromSuperview();
    QTest::mouseMove(page.handle(), start + QPoint(0, -150));
    EXPECT_EQ(page.page->contentOffset(), QPointF(0, 150));
    // Let go within reach of where the button was: nothing is tapped.
    QTest::mouseRelease(page.handle(), Qt::LeftButton, {}, start + QPoint(0, -150), 300);
    EXPECT_FALSE(page.page->isDragging());
    AnimationClock::finishAll();
    EXPECT_EQ(events, (QList<int>{ControlEventTouchDown, ControlEventTouchCancel}));

    page.page->addSubview(button);
    page.page->setContentOffset(QPointF(0, 0));
    events.clear();
    // A click, and a press that trembles by less than the slop, tap the button and move nothing.
    QTest::mouseClick(page.handle(), Qt::LeftButton, {}, start);
    QTest::mousePress(page.handle(), Qt::LeftButton, {}, start);
    QTest::mouseMove(page.handle(), start + QPoint(1, 1));
    QTest::mouseRelease(page.handle(), Qt::LeftButton, {}, start + QPoint(1, 1));
    EXPECT_EQ(events, (QList<int>{ControlEventTouchDown, ControlEventTouchUpInside, ControlEventTouchDown,
                                  ControlEventTouchUpInside}));
    EXPECT_EQ(page.page->contentOffset(), QPointF(0, 0));
    EXPECT_FALSE(page.page->isDragging());

    // In a list whose own scrolling is off, the drag moves the page around it.
    auto* inRow = new Button(ButtonTypeCustom, QRectF(10, 5, 50, 50), page.related->cellForRowAtIndexPath(IndexPath{0, 1}));
    int inRowTaps = 0;
    inRow->addTarget(ControlEventTouchUpInside, [&] { ++inRowTaps; });
    const QPoint onRow = inRow->mapTo(&page.window, QPoint(25, 25));
    QTest::mousePress(page.handle(), Qt::LeftButton, {}, onRow);
    QTest::mouseMove(page.handle(), onRow + QPoint(0, -40));
    QTest::mouseMove(page.handle(), onRow + QPoint(0, -90));
    EXPECT_EQ(page.page->contentOffset(), QPointF(0, 90));
    QTest::mouseRelease(page.handle(), Qt::LeftButton, {}, onRow + QPoint(0, -90), 300);
    AnimationClock::finishAll();
    EXPECT_EQ(inRowTaps, 0);
    EXPECT_TRUE(page.rows.selected.isEmpty());
    page.page->setContentOffset(QPointF(0, 0));
    QTest::mouseClick(page.handle(), Qt::LeftButton, {}, inRow->mapTo(&page.window, QPoint(25, 25)));
    EXPECT_EQ(inRowTaps, 1);
    EXPECT_TRUE(page.rows.selected.isEmpty()) << "the button's tap is no row's";
}

// A picture with a tap of its own in a row, as a comment's: a drag begun on it scrolls the list
// and taps nothing; a click taps the picture and selects no row.
TEST_F(KitNestedScrolling, APictureWithATapInARowScrollsTheListWhenDraggedAndTakesItsTapAlone)
{
    Window window;
    auto* root = new ViewController();
    window.setRootViewController(root);
    window.makeKeyAndVisible();
    Rows rows;
    rows.count = 40;
    auto* table = new TableView(root->view()->bounds(), TableViewStylePlain, root->view());
    table->setDataSource(&rows);
    table->setTableDelegate(&rows);
    table->reloadData();
    table->layoutIfNeeded();
    auto* picture = new ImageView(QRectF(10, 5, 50, 50), table->cellForRowAtIndexPath(IndexPath{0, 2})->contentView());
    picture->setUserInteractionEnabled(true);
    int taps = 0;
    new TapGestureRecognizer(picture, [&] { ++taps; });
    const QPoint start = picture->mapTo(&window, QPoint(25, 25));
    QTest::mousePress(window.windowHandle(), Qt::LeftButton, {}, start);
    QTest::mouseMove(window.windowHandle(), start + QPoint(0, -6));
    QTest::mouseMove(window.windowHandle(), start + QPoint(0, -60));
    EXPECT_EQ(table->contentOffset(), QPointF(0, 60));
    // Back over the picture, held still and lifted there: nothing moves on.
    QTest::mouseMove(window.windowHandle(), start + QPoint(0, -1));
    QTest::mouseRelease(window.windowHandle(), Qt::LeftButton, {}, start + QPoint(0, -1), 300);
    AnimationClock::finishAll();
    EXPECT_EQ(table->contentOffset(), QPointF(0, 1));
    EXPECT_EQ(taps, 0);
    EXPECT_TRUE(rows.selected.isEmpty());

    table->setContentOffset(QPointF(0, 0));
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, picture->mapTo(&window, QPoint(25, 25)));
    EXPECT_EQ(taps, 1);
    EXPECT_TRUE(rows.selected.isEmpty()) << "the picture's tap is no row's";
    // Beside the picture its row is tapped as before.
    View* row = picture->superview();
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, {}, row->mapTo(&window, QPoint(120, 25)));
    EXPECT_EQ(rows.selected.size(), 1);
    EXPECT_EQ(taps, 1);
}

TEST_F(KitNestedScrolling, AListInsideAScrollingPageMakesCellsForTheRowsThePageShows)
{
    Page page;
    const qreal height = page.page->frame().height();
    page.rows.count = 30;
    page.page->setContentSize(QSizeF(page.page->frame().width(), 2600));
    // The list starts 120 points above the page's bottom edge: two of its rows show.
    page.related->setFrame(QRectF(0, height - 120, page.page->frame().width(), 30 * 60));
    page.related->reloadData();
    page.related->layoutIfNeeded();
    EXPECT_EQ(page.related->indexPathsForVisibleRows(), QList<IndexPath>({IndexPath{0, 0}, IndexPath{0, 1}}));

    // The wheel turned over the page brings the next rows in, each where the user looks.
    page.wheel(QPoint(20, 20), -300);
    ASSERT_EQ(page.page->contentOffset(), QPointF(0, 300));
    EXPECT_EQ(page.related->indexPathsForVisibleRows().size(), 7);
    QWidget* under = page.window.childAt(page.rowPoint(6));
    ASSERT_NE(under, nullptr);
    auto* cell = page.related->cellForRowAtIndexPath(IndexPath{0, 6});
    ASSERT_NE(cell, nullptr);
    EXPECT_TRUE(cell == under || cell->isAncestorOf(under));
    EXPECT_EQ(cell->objectName(), QStringLiteral("row6"));
    // Rows scrolled out of the page go back to the pool.
    page.page->setContentOffset(QPointF(0, height - 120 + 3 * 60));
    EXPECT_FALSE(page.related->indexPathsForVisibleRows().contains(IndexPath{0, 0}));
    EXPECT_TRUE(page.related->indexPathsForVisibleRows().contains(IndexPath{0, 7}));

    // Asked for, a row within the list that the page does not show still has its cell.
    auto* far = page.related->cellForRowAtIndexPath(IndexPath{0, 29});
    ASSERT_NE(far, nullptr);
    EXPECT_EQ(far->objectName(), QStringLiteral("row29"));
    EXPECT_EQ(far->frame(), page.related->rectForRowAtIndexPath(IndexPath{0, 29}));
    // Moved down inside the page to where it shows from its top, the list shows its first row again.
    page.related->setFrame(QRectF(0, page.page->contentOffset().y(), page.page->frame().width(), 30 * 60));
    EXPECT_TRUE(page.related->indexPathsForVisibleRows().contains(IndexPath{0, 0}));
}

TEST_F(KitNestedScrolling, AListOnAPagerPageOffScreenMakesNoCellsUntilThePagerShowsIt)
{
    Page page;
    const QRectF bounds = page.root->view()->bounds();
    auto* pager = new ScrollView(bounds, page.root->view());
    pager->setPagingEnabled(true);
    pager->setContentSize(QSizeF(2 * bounds.width(), bounds.height()));
    auto* second = new View(QRectF(bounds.width(), 0, bounds.width(), bounds.height()), pager);
    auto* list = new TableView(second->bounds(), TableViewStylePlain, second);
    Rows rows;
    list->setDataSource(&rows);
    list->reloadData();
    list->layoutIfNeeded();
    EXPECT_TRUE(list->visibleCells().isEmpty());

    // Part of the way across, the rows are there for the part that shows.
    pager->beginDragForTesting();
    pager->dragToOffsetForTesting(QPointF(std::round(bounds.width() * 0.6), 0));
    EXPECT_EQ(list->visibleCells().size(), 6);
    pager->endDragForTesting(QPointF(0, 0));
    AnimationClock::finishAll();
    ASSERT_EQ(pager->contentOffset(), QPointF(bounds.width(), 0));
    EXPECT_EQ(list->visibleCells().size(), 6);
    auto* cell = list->cellForRowAtIndexPath(IndexPath{0, 2});
    ASSERT_NE(cell, nullptr);
    EXPECT_TRUE(cell->isVisible());
    // Back on the first page the list's cells go back to the pool.
    pager->setContentOffset(QPointF(0, 0));
    EXPECT_TRUE(list->visibleCells().isEmpty());
}
