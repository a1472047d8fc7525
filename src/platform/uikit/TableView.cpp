#include "platform/uikit/TableView.h"

#include "platform/uikit/Label.h"
#include "platform/uikit/TableViewCell.h"
#include "platform/uikit/TableViewDataSource.h"
#include "platform/uikit/TableViewDelegate.h"

#include <QPointer>

#include <algorithm>

namespace platform::uikit {

TableView::TableView(const QRectF& frame, int style, View* superview) : ScrollView(frame, superview), m_style(style)
{
    setBackgroundColor(style == TableViewStyleGrouped ? QColor(239, 239, 244) : QColor(Qt::white));
    setAlwaysBounceVertical(true);
}

TableView::~TableView()
{
    // Cells and section views are children and go with the table.
    setDelegate(nullptr);
}

void TableView::setTableDelegate(TableViewDelegate* delegate)
{
    m_tableDelegate = delegate;
    setDelegate(delegate);
}

void TableView::setSeparatorStyle(int style)
{
    m_separatorStyle = style;
    for (auto& [ip, cell] : m_visible)
        cell->setSeparatorColor(style ? m_separatorColor : QColor());
}

void TableView::setSeparatorColor(const QColor& color)
{
    m_separatorColor = color;
    setSeparatorStyle(m_separatorStyle);
}

void TableView::setTableHeaderView(View* view)
{
    if (m_tableHeaderView == view)
        return;
    delete m_tableHeaderView;
    m_tableHeaderView = view;
    if (view)
        addSubview(view);
    if (m_loaded)
        reloadData();
}

void TableView::setTableFooterView(View* view)
{
    if (m_tableFooterView == view)
        return;
    delete m_tableFooterView;
    m_tableFooterView = view;
    if (view)
        addSubview(view);
    if (m_loaded)
        reloadData();
}

int TableView::numberOfRowsInSection(int section) const
{
    return section >= 0 && section < int(m_sections.size()) ? int(m_sections[section].rowTops.size()) - 1 : 0;
}

void TableView::enqueue(TableViewCell* cell)
{
    if (cell->reuseIdentifier().isEmpty()) {
        delete cell;
        return;
    }
    cell->hide();
    m_pool[cell->reuseIdentifier()].append(cell);
}

TableViewCell* TableView::dequeueReusableCellWithIdentifier(const QString& identifier)
{
    auto it = m_pool.find(identifier);
    if (it == m_pool.end() || it->isEmpty())
        return nullptr;
    TableViewCell* cell = it->takeLast();
    cell->prepareForReuse();
    return cell;
}

void TableView::reloadData()
{
    m_loaded = true;
    for (auto& [ip, cell] : m_visible)
        enqueue(cell);
    m_visible.clear();
    for (auto& [s, v] : m_headers)
        delete v;
    m_headers.clear();
    for (auto& [s, v] : m_footers)
        delete v;
    m_footers.clear();
    m_selected = IndexPath::invalid();

    const int sectionCount = m_dataSource ? std::max(0, m_dataSource->numberOfSectionsInTableView(this)) : 0;
    // Sections keep their row vectors between reloads: a reload of a long list allocates nothing.
    m_sections.resize(size_t(sectionCount));
    qreal y = m_tableHeaderView ? m_tableHeaderView->frame().height() : 0;
    const bool grouped = m_style == TableViewStyleGrouped;
    for (int s = 0; s < sectionCount; ++s) {
        Section& sec = m_sections[s];
        sec = Section{y, 0, std::move(sec.rowTops), 0};
        qreal hh = m_tableDelegate ? m_tableDelegate->heightForHeaderInSection(this, s) : -1;
        if (hh < 0)
            hh = !m_dataSource->titleForHeaderInSection(this, s).isEmpty() ? (grouped ? 38 : 22) : (grouped ? (s == 0 ? 20 : 10) : 0);
        sec.headerHeight = hh;
        y += hh;
        const int rows = std::max(0, m_dataSource->numberOfRowsInSection(this, s));
        sec.rowTops.resize(size_t(rows) + 1);
        if (m_tableDelegate) {
            for (int r = 0; r < rows; ++r) {
                sec.rowTops[r] = y;
                const qreal h = m_tableDelegate->heightForRowAtIndexPath(this, {s, r});
                y += h < 0 ? m_rowHeight : h;
            }
        } else {
            for (int r = 0; r < rows; ++r) {
                sec.rowTops[r] = y;
                y += m_rowHeight;
            }
        }
        sec.rowTops[rows] = y;
        qreal fh = m_tableDelegate ? m_tableDelegate->heightForFooterInSection(this, s) : -1;
        if (fh < 0)
            fh = !m_dataSource->titleForFooterInSection(this, s).isEmpty() ? 30 : (grouped ? 10 : 0);
        sec.footerHeight = fh;
        y += fh;
    }
    if (m_tableFooterView)
        y += m_tableFooterView->frame().height();
    setContentSize(QSizeF(frame().width(), y));
    placeTableViews();
    setNeedsLayout();
}

void TableView::placeTableViews()
{
    if (m_tableHeaderView)
        m_tableHeaderView->setFrame(QRectF(0, 0, frame().width(), m_tableHeaderView->frame().height()));
    if (m_tableFooterView) {
        const qreal h = m_tableFooterView->frame().height();
        m_tableFooterView->setFrame(QRectF(0, contentSize().height() - h, frame().width(), h));
    }
}

QRectF TableView::rectForRowAtIndexPath(const IndexPath& ip) const
{
    if (ip.section < 0 || ip.section >= int(m_sections.size()) || ip.row < 0 || ip.row >= numberOfRowsInSection(ip.section))
        return {};
    const Section& s = m_sections[ip.section];
    return QRectF(0, s.rowTops[ip.row], frame().width(), s.rowTops[ip.row + 1] - s.rowTops[ip.row]);
}

QRectF TableView::rectForHeaderInSection(int section) const
{
    if (section < 0 || section >= int(m_sections.size()))
        return {};
    return QRectF(0, m_sections[section].top, frame().width(), m_sections[section].headerHeight);
}

QRectF TableView::rectForFooterInSection(int section) const
{
    if (section < 0 || section >= int(m_sections.size()))
        return {};
    const Section& s = m_sections[section];
    return QRectF(0, s.rowTops.back(), frame().width(), s.footerHeight);
}

IndexPath TableView::indexPathForRowAtPoint(const QPointF& p) const
{
    for (int s = 0; s < int(m_sections.size()); ++s) {
        const Section& sec = m_sections[s];
        if (p.y() < sec.rowTops.front() || p.y() >= sec.rowTops.back())
            continue;
        auto it = std::upper_bound(sec.rowTops.begin(), sec.rowTops.end(), p.y());
        return {s, int(it - sec.rowTops.begin()) - 1};
    }
    return IndexPath::invalid();
}

TableViewCell* TableView::visibleCell(const IndexPath& ip) const
{
    auto it = m_visible.find(ip);
    return it == m_visible.end() ? nullptr : it->second;
}

TableViewCell* TableView::cellForRowAtIndexPath(const IndexPath& ip) const
{
    if (TableViewCell* cell = visibleCell(ip))
        return cell;
    const QRectF r = rectForRowAtIndexPath(ip);
    const qreal top = contentOffset().y();
    if (!m_loaded || !m_dataSource || r.isEmpty() || r.bottom() <= top || r.top() >= top + frame().height())
        return nullptr;
    // Within the bounds but shown by no enclosing scroll view: the caller still gets the row's cell.
    auto* self = const_cast<TableView*>(this);
    QPointer<TableView> alive(self);
    if (!self->showCell(ip, r) || !alive)
        return nullptr;
    return visibleCell(ip);
}

QList<TableViewCell*> TableView::visibleCells() const
{
    QList<TableViewCell*> out;
    for (const auto& [ip, cell] : m_visible)
        out.append(cell);
    return out;
}

QList<IndexPath> TableView::indexPathsForVisibleRows() const
{
    QList<IndexPath> out;
    for (const auto& [ip, cell] : m_visible)
        out.append(ip);
    return out;
}

View* TableView::headerViewForSection(int section) const
{
    auto it = m_headers.find(section);
    return it == m_headers.end() ? nullptr : it->second;
}

View* TableView::makeSectionView(int section, bool header)
{
    View* v = m_tableDelegate ? (header ? m_tableDelegate->viewForHeaderInSection(this, section)
                                        : m_tableDelegate->viewForFooterInSection(this, section))
                              : nullptr;
    if (!v && m_dataSource) {
        const QString title = header ? m_dataSource->titleForHeaderInSection(this, section)
                                     : m_dataSource->titleForFooterInSection(this, section);
        if (title.isEmpty())
            return nullptr;
        auto* label = new Label();
        label->setText(title);
        label->setFont(Label::systemFont(m_style == TableViewStyleGrouped ? 13 : 15, m_style != TableViewStyleGrouped));
        label->setTextColor(QColor(109, 109, 114));
        if (m_style == TableViewStylePlain && header)
            label->setBackgroundColor(QColor(247, 247, 247));
        v = label;
    }
    return v;
}

void TableView::layoutSubviews()
{
    placeTableViews();
    layoutVisible();
    placeBackgroundView();
}

void TableView::contentOffsetDidChange()
{
    layoutVisible();
    placeBackgroundView();
}

void TableView::enclosingScrollViewDidChange() { layoutVisible(); }

void TableView::setFrame(const QRectF& frame)
{
    const bool moved = frame.topLeft() != this->frame().topLeft() && frame.size() == this->frame().size();
    ScrollView::setFrame(frame);
    // Moved inside an enclosing scroll view, other rows may show through it.
    if (moved && m_loaded)
        layoutVisible();
}

QRectF TableView::shownRect()
{
    QRectF shown(contentOffset(), frame().size());
    // From the rows' coordinates to each ancestor's own; every enclosing scroll view cuts the
    // part shown to what it shows, and tells this table when that changes.
    QPointF delta = -contentOffset();
    for (QWidget* w = this; QWidget* parent = w->parentWidget(); w = parent) {
        delta += w->pos();
        if (auto* scroll = qobject_cast<ScrollView*>(parent)) {
            shown &= QRectF(parent->rect()).translated(-delta);
            scroll->addClippedDescendant(this);
        }
        if (parent->isWindow())
            break;
    }
    return shown;
}

void TableView::setBackgroundView(View* view)
{
    if (m_backgroundView == view)
        return;
    if (m_backgroundView)
        m_backgroundView->removeFromSuperview();
    m_backgroundView = view;
    if (view) {
        insertSubviewAtIndex(view, 0);
        placeBackgroundView();
    }
}

void TableView::placeBackgroundView()
{
    if (!m_backgroundView)
        return;
    m_backgroundView->setFrame(QRectF(contentOffset(), frame().size()));
    sendSubviewToBack(m_backgroundView);
}

void TableView::insertRowsAtIndexPaths(const QList<IndexPath>& indexPaths, int animation)
{
    reloadData();
    if (animation != TableViewRowAnimationFade)
        return;
    // The new rows' cells exist now, so they start their fade from nothing.
    layoutVisible();
    for (const IndexPath& ip : indexPaths) {
        if (TableViewCell* cell = visibleCell(ip)) {
            cell->setAlpha(0);
            cell->animateAlpha(1, 0.3);
        }
    }
}

void TableView::reloadRowsAtIndexPaths(const QList<IndexPath>& indexPaths, int animation)
{
    insertRowsAtIndexPaths(indexPaths, animation);
}

void TableView::scrollToRowAtIndexPath(const IndexPath& ip, int position, bool animated)
{
    const QRectF r = rectForRowAtIndexPath(ip);
    if (r.isEmpty())
        return;
    if (position != TableViewScrollPositionTop) {
        scrollRectToVisible(r, animated);
        return;
    }
    const qreal y = std::clamp(r.top() - contentInset().top, minimumContentOffset().y(), maximumContentOffset().y());
    setContentOffset(QPointF(contentOffset().x(), y), animated);
}

void TableView::layoutVisible()
{
    if (!m_loaded)
        return;
    const QRectF shown = shownRect();
    const qreal top = shown.top(), bottom = shown.isEmpty() ? top : shown.bottom(), width = frame().width();
    // Rows that scrolled away go back to the pool first, so their cells can serve new rows.
    for (auto it = m_visible.begin(); it != m_visible.end();) {
        const QRectF r = rectForRowAtIndexPath(it->first);
        if (r.isEmpty() || r.bottom() <= top || r.top() >= bottom) {
            enqueue(it->second);
            it = m_visible.erase(it);
        } else {
            ++it;
        }
    }
    auto pruneSectionViews = [&](std::map<int, View*>& views, bool header) {
        for (auto it = views.begin(); it != views.end();) {
            const QRectF r = header ? rectForHeaderInSection(it->first) : rectForFooterInSection(it->first);
            if (r.isEmpty() || r.bottom() <= top || r.top() >= bottom) {
                delete it->second;
                it = views.erase(it);
            } else {
                ++it;
            }
        }
    };
    pruneSectionViews(m_headers, true);
    pruneSectionViews(m_footers, false);

    QPointer<TableView> self(this);
    for (int s = 0; s < int(m_sections.size()) && self; ++s) {
        const Section& sec = m_sections[s];
        if (sec.bottom() <= top)
            continue;
        if (sec.top >= bottom)
            break;
        auto placeSectionView = [&](std::map<int, View*>& views, bool header, const QRectF& r) {
            if (r.height() <= 0 || r.bottom() <= top || r.top() >= bottom)
                return;
            View*& v = views[s];
            if (!v)
                v = makeSectionView(s, header);
            if (!v) {
                views.erase(s);
                return;
            }
            addSubview(v);
            if (auto* label = qobject_cast<Label*>(v); label && m_style == TableViewStyleGrouped)
                v->setFrame(QRectF(15, r.top(), width - 30, r.height()));
            else
                v->setFrame(r);
        };
        placeSectionView(m_headers, true, rectForHeaderInSection(s));
        const int rows = int(sec.rowTops.size()) - 1;
        auto first = std::upper_bound(sec.rowTops.begin(), sec.rowTops.end() - 1, top);
        int r = std::max(0, int(first - sec.rowTops.begin()) - 1);
        for (; r < rows && sec.rowTops[r] < bottom; ++r) {
            const IndexPath ip{s, r};
            const QRectF rr(0, sec.rowTops[r], width, sec.rowTops[r + 1] - sec.rowTops[r]);
            if (rr.height() <= 0 || rr.bottom() <= top)
                continue;
            auto found = m_visible.find(ip);
            if (found != m_visible.end()) {
                found->second->setFrame(rr);
                continue;
            }
            if (!showCell(ip, rr))
                return;
        }
        placeSectionView(m_footers, false, rectForFooterInSection(s));
    }
}

bool TableView::showCell(const IndexPath& ip, const QRectF& rr)
{
    QPointer<TableView> self(this);
    TableViewCell* cell = m_dataSource->cellForRowAtIndexPath(this, ip);
    if (!self)
        return false;
    if (!cell)
        cell = new TableViewCell();
    m_visible[ip] = cell;
    // A cell handed back by the data source leaves the pool for good.
    if (!cell->reuseIdentifier().isEmpty())
        m_pool[cell->reuseIdentifier()].removeAll(cell);
    cell->setSeparatorColor(m_separatorStyle ? m_separatorColor : QColor());
    cell->setSelected(ip == m_selected);
    addSubview(cell);
    cell->show();  // a pooled cell was hidden when it left the screen
    cell->setFrame(rr);
    cell->layoutIfNeeded();
    if (m_tableDelegate)
        m_tableDelegate->willDisplayCell(this, cell, ip);
    return self;
}

void TableView::selectRowAtIndexPath(const IndexPath& ip, bool)
{
    if (auto* old = visibleCell(m_selected))
        old->setSelected(false);
    m_selected = ip;
    if (auto* cell = visibleCell(ip))
        cell->setSelected(true);
}

void TableView::deselectRowAtIndexPath(const IndexPath& ip, bool)
{
    if (auto* cell = visibleCell(ip))
        cell->setSelected(false);
    if (ip == m_selected)
        m_selected = IndexPath::invalid();
}

void TableView::scrollToRowAtIndexPath(const IndexPath& ip, bool animated)
{
    const QRectF r = rectForRowAtIndexPath(ip);
    if (!r.isEmpty())
        scrollRectToVisible(r, animated);
}

void TableView::tapRowForTesting(const IndexPath& ip)
{
    if (rectForRowAtIndexPath(ip).isEmpty())
        return;
    selectRowAtIndexPath(ip, false);
    if (m_tableDelegate)
        m_tableDelegate->didSelectRowAtIndexPath(this, ip);
}

void TableView::handleTap(const QPointF& p)
{
    const IndexPath ip = indexPathForRowAtPoint(p);
    if (ip.isValid())
        tapRowForTesting(ip);
}

} // namespace platform::uikit
