#include "KitTestSupport.h"

#include "platform/uikit/Label.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/TableViewCell.h"
#include "platform/uikit/TableViewController.h"
#include "platform/uikit/TableViewDataSource.h"
#include "platform/uikit/TableViewDelegate.h"

using namespace platform::uikit;

namespace {
struct CountingCell : TableViewCell {
    using TableViewCell::TableViewCell;
    int reuses = 0;
    void prepareForReuse() override
    {
        TableViewCell::prepareForReuse();
        ++reuses;
    }
};

struct Rows : TableViewDataSource, TableViewDelegate {
    QList<int> rowsPerSection{1000};
    qreal height = 86;
    int made = 0;
    int dequeued = 0;
    QList<IndexPath> selected;
    int numberOfSectionsInTableView(TableView*) override { return int(rowsPerSection.size()); }
    int numberOfRowsInSection(TableView*, int s) override { return rowsPerSection[s]; }
    TableViewCell* cellForRowAtIndexPath(TableView* t, const IndexPath& ip) override
    {
        auto* cell = t->dequeueReusableCellWithIdentifier(QStringLiteral("row"));
        if (cell)
            ++dequeued;
        else {
            cell = new CountingCell(TableViewCellStyleDefault, QStringLiteral("row"));
            ++made;
        }
        cell->textLabel()->setText(QStringLiteral("%1-%2").arg(ip.section).arg(ip.row));
        return cell;
    }
    QString titleForHeaderInSection(TableView*, int s) override { return s == 1 ? QStringLiteral("第二组") : QString(); }
    qreal heightForRowAtIndexPath(TableView*, const IndexPath&) override { return height; }
    void didSelectRowAtIndexPath(TableView*, const IndexPath& ip) override { selected << ip; }
};
} // namespace

class KitTableView : public KitTest {};

TEST_F(KitTableView, ThousandRowsKnowTheirHeightAtOnceAndOnlyVisibleCellsLive)
{
    const int before = TableViewCell::liveCount();
    TableView table(QRectF(0, 0, 375, 667));
    Rows rows;
    table.setDataSource(&rows);
    table.setTableDelegate(&rows);
    table.reloadData();
    EXPECT_EQ(table.contentSize().height(), 86000);
    EXPECT_EQ(rows.made, 0);  // cells come with the next layout
    table.layoutIfNeeded();
    const int visible = 8;  // ceil(667 / 86)
    EXPECT_EQ(table.visibleCells().size(), visible);
    EXPECT_EQ(TableViewCell::liveCount() - before, visible);
    EXPECT_EQ(table.rectForRowAtIndexPath({0, 999}), QRectF(0, 85914, 375, 86));
    EXPECT_EQ(table.indexPathForRowAtPoint(QPointF(5, 172)), (IndexPath{0, 2}));

    for (int y = 43; y <= 20000; y += 43)
        table.setContentOffset(QPointF(0, y));
    EXPECT_LE(rows.made, visible + 1);  // everything else came from the pool
    EXPECT_GT(rows.dequeued, 200);
    EXPECT_LE(TableViewCell::liveCount() - before, visible + 2);
    const auto ips = table.indexPathsForVisibleRows();
    ASSERT_FALSE(ips.isEmpty());
    EXPECT_EQ(ips.first(), (IndexPath{0, 20000 / 86}));
    auto* cell = table.cellForRowAtIndexPath(ips.first());
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->textLabel()->text(), QStringLiteral("0-%1").arg(20000 / 86));
    EXPECT_EQ(cell->frame(), table.rectForRowAtIndexPath(ips.first()));
    EXPECT_GT(static_cast<CountingCell*>(cell)->reuses, 0);
    for (TableViewCell* c : table.visibleCells())
        EXPECT_TRUE(c->isVisibleTo(&table)) << c->textLabel()->text().toStdString();
}

TEST_F(KitTableView, DequeueGivesNullWhenThePoolIsEmpty)
{
    TableView table(QRectF(0, 0, 320, 480));
    EXPECT_EQ(table.dequeueReusableCellWithIdentifier(QStringLiteral("row")), nullptr);
}

TEST_F(KitTableView, SectionsHeadersSelectionAndCellGeometry)
{
    TableView table(QRectF(0, 0, 320, 480), TableViewStyleGrouped);
    Rows rows;
    rows.rowsPerSection = {2, 3};
    rows.height = 44;
    table.setDataSource(&rows);
    table.setTableDelegate(&rows);
    auto* header = new View(QRectF(0, 0, 320, 100));
    table.setTableHeaderView(header);
    table.reloadData();
    // Header 100, section 0: header 20 + 2 × 44 + footer 10; section 1: title 38 + 3 × 44 + 10.
    EXPECT_EQ(table.rectForRowAtIndexPath({0, 0}).top(), 120);
    EXPECT_EQ(table.rectForRowAtIndexPath({1, 0}).top(), 120 + 88 + 10 + 38);
    EXPECT_EQ(table.contentSize().height(), 100 + 20 + 88 + 10 + 38 + 132 + 10);
    table.layoutIfNeeded();
    ASSERT_NE(table.headerViewForSection(1), nullptr);
    EXPECT_EQ(static_cast<Label*>(table.headerViewForSection(1))->text(), QStringLiteral("第二组"));
    auto* cell = table.cellForRowAtIndexPath({1, 2});
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->contentView()->frame(), QRectF(0, 0, 320, 44));
    cell->setAccessoryType(TableViewCellAccessoryDisclosureIndicator);
    cell->layoutIfNeeded();
    ASSERT_NE(cell->accessoryView(), nullptr);
    EXPECT_EQ(cell->accessoryView()->frame(), QRectF(288, 0, 32, 44));
    EXPECT_EQ(cell->contentView()->frame(), QRectF(0, 0, 320, 44));
    table.tapRowForTesting({1, 2});
    EXPECT_EQ(rows.selected, (QList<IndexPath>{{1, 2}}));
    EXPECT_TRUE(cell->isSelected());
    table.deselectRowAtIndexPath({1, 2}, true);
    EXPECT_FALSE(cell->isSelected());
    table.tapRowForTesting({5, 0});  // no such row
    EXPECT_EQ(rows.selected.size(), 1);
}

TEST_F(KitTableView, TableViewControllerFeedsItsOwnTableWhenItAppears)
{
    struct Screen : TableViewController {
        int selections = 0;
        int numberOfRowsInSection(TableView*, int) override { return 30; }
        TableViewCell* cellForRowAtIndexPath(TableView* t, const IndexPath&) override
        {
            auto* cell = t->dequeueReusableCellWithIdentifier(QStringLiteral("c"));
            return cell ? cell : new TableViewCell(TableViewCellStyleDefault, QStringLiteral("c"));
        }
        void didSelectRowAtIndexPath(TableView*, const IndexPath&) override { ++selections; }
    } screen;
    TableView* table = screen.tableView();
    EXPECT_EQ(table->contentSize().height(), 0);  // nothing asked before it appears
    screen.beginAppearanceTransition(true, false);
    screen.endAppearanceTransition();
    EXPECT_EQ(table->contentSize().height(), 30 * 44);
    table->tapRowForTesting({0, 3});
    EXPECT_EQ(screen.selections, 1);
    screen.beginAppearanceTransition(false, false);
    screen.endAppearanceTransition();
    screen.beginAppearanceTransition(true, false);
    EXPECT_FALSE(table->indexPathForSelectedRow().isValid());  // cleared on coming back
}
