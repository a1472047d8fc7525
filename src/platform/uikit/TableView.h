#pragma once

#include "platform/uikit/IndexPath.h"
#include "platform/uikit/ScrollView.h"

#include <QHash>
#include <QList>
#include <QPointer>

#include <map>
#include <vector>

namespace platform::uikit {

class TableViewCell;
class TableViewDataSource;
class TableViewDelegate;

enum TableViewStyle { TableViewStylePlain = 0, TableViewStyleGrouped = 1 };
enum TableViewRowAnimation { TableViewRowAnimationNone = 0, TableViewRowAnimationFade = 1 };
enum TableViewScrollPosition { TableViewScrollPositionNone = 0, TableViewScrollPositionTop = 1 };
enum TableViewCellSeparatorStyle { TableViewCellSeparatorStyleNone = 0, TableViewCellSeparatorStyleSingleLine = 1 };

// Sections of rows with per-row heights, section header and footer views, and a table header
// and footer. Geometry is known right after reloadData; cells exist only for visible rows and
// go back to a pool by reuse identifier as they scroll away. Inside other scroll views (a table
// sized to its rows in a scrolling page, a list on a page of a pager) the visible rows are
// those the enclosing scroll views show.
class TableView : public ScrollView {
    Q_OBJECT
public:
    explicit TableView(const QRectF& frame = QRectF(), int style = TableViewStylePlain, View* superview = nullptr);
    ~TableView() override;

    int style() const { return m_style; }
    TableViewDataSource* dataSource() const { return m_dataSource; }
    void setDataSource(TableViewDataSource* dataSource) { m_dataSource = dataSource; }
    TableViewDelegate* tableDelegate() const { return m_tableDelegate; }
    void setTableDelegate(TableViewDelegate* delegate);

    qreal rowHeight() const { return m_rowHeight; }
    void setRowHeight(qreal height) { m_rowHeight = height; }
    int separatorStyle() const { return m_separatorStyle; }
    void setSeparatorStyle(int style);
    QColor separatorColor() const { return m_separatorColor; }
    void setSeparatorColor(const QColor& color);
    View* tableHeaderView() const { return m_tableHeaderView; }
    void setTableHeaderView(View* view);
    View* tableFooterView() const { return m_tableFooterView; }
    void setTableFooterView(View* view);
    // Drawn behind every row over the visible bounds, whatever the offset. A replaced view is
    // only taken out, not deleted, so a screen can keep one view and show it now and then; the
    // table deletes the one it holds when it goes.
    View* backgroundView() const { return m_backgroundView; }
    void setBackgroundView(View* view);

    void reloadData();
    // The data source already holds the new rows; every row is placed again, and the new rows
    // that show fade in on the kit's clock with TableViewRowAnimationFade.
    void insertRowsAtIndexPaths(const QList<IndexPath>& indexPaths, int animation);
    // The rows are asked for again (heights included).
    void reloadRowsAtIndexPaths(const QList<IndexPath>& indexPaths, int animation);
    // A pooled cell of that identifier (after its prepareForReuse), or nullptr when none waits.
    TableViewCell* dequeueReusableCellWithIdentifier(const QString& identifier);

    int numberOfSections() const { return int(m_sections.size()); }
    int numberOfRowsInSection(int section) const;
    QRectF rectForRowAtIndexPath(const IndexPath& indexPath) const;
    QRectF rectForHeaderInSection(int section) const;
    QRectF rectForFooterInSection(int section) const;
    IndexPath indexPathForRowAtPoint(const QPointF& point) const;
    // The cell of a row within the table's bounds; one shown by no enclosing scroll view yet is
    // made when asked for.
    TableViewCell* cellForRowAtIndexPath(const IndexPath& indexPath) const;
    QList<TableViewCell*> visibleCells() const;
    QList<IndexPath> indexPathsForVisibleRows() const;
    View* headerViewForSection(int section) const;
    IndexPath indexPathForSelectedRow() const { return m_selected; }
    void selectRowAtIndexPath(const IndexPath& indexPath, bool animated);
    void deselectRowAtIndexPath(const IndexPath& indexPath, bool animated);
    void scrollToRowAtIndexPath(const IndexPath& indexPath, bool animated);
    // TableViewScrollPositionTop puts the row's top at the top of the visible area (as far as
    // the content allows); None only makes it visible.
    void scrollToRowAtIndexPath(const IndexPath& indexPath, int position, bool animated);
    // Taps a row as a finger would: selects it and tells the delegate.
    void tapRowForTesting(const IndexPath& indexPath);

    void layoutSubviews() override;
    void setFrame(const QRectF& frame) override;

protected:
    void contentOffsetDidChange() override;
    void enclosingScrollViewDidChange() override;
    void handleTap(const QPointF& pointInContent) override;

private:
    struct Section {
        qreal top = 0;
        qreal headerHeight = 0;
        std::vector<qreal> rowTops;  // rows' tops, plus the end of the last row
        qreal footerHeight = 0;
        qreal bottom() const { return rowTops.back() + footerHeight; }
    };
    void layoutVisible();
    QRectF shownRect();
    TableViewCell* visibleCell(const IndexPath& indexPath) const;
    // Asks the data source for the row's cell and places it; false when the table went meanwhile.
    bool showCell(const IndexPath& indexPath, const QRectF& rect);
    void enqueue(TableViewCell* cell);
    View* makeSectionView(int section, bool header);
    void placeTableViews();
    void placeBackgroundView();

    int m_style;
    TableViewDataSource* m_dataSource = nullptr;
    TableViewDelegate* m_tableDelegate = nullptr;
    qreal m_rowHeight = 44;
    int m_separatorStyle = TableViewCellSeparatorStyleSingleLine;
    QColor m_separatorColor{200, 199, 204};
    View* m_tableHeaderView = nullptr;
    View* m_tableFooterView = nullptr;
    std::vector<Section> m_sections;
    std::map<IndexPath, TableViewCell*> m_visible;
    std::map<int, View*> m_headers;
    std::map<int, View*> m_footers;
    QHash<QString, QList<TableViewCell*>> m_pool;
    IndexPath m_selected = IndexPath::invalid();
    QPointer<View> m_backgroundView;
    bool m_loaded = false;
};

} // namespace platform::uikit
