#include "video/KRVideoOfflinePagePicker.h"

#include "look/KRTheme.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/TableViewCell.h"

#include <algorithm>

using namespace platform::uikit;

namespace {
const QString kPartCellID = QStringLiteral("KROfflinePartCell");
} // namespace

KRVideoOfflinePagePicker::KRVideoOfflinePagePicker(View* host, QList<Part> parts, std::function<void(const QList<int>&)> confirmed,
                                                   std::function<void()> cancelled)
    : KRVideoOfflinePickerOverlay(host, QStringLiteral("offlinePagePicker"), cancelled)
    , m_parts(std::move(parts))
{
    titleLabel()->setText(QStringLiteral("选择要缓存的分 P"));
    m_table = new TableView(QRectF(), TableViewStylePlain, panel());
    m_table->setObjectName(QStringLiteral("offlinePageTable"));
    m_table->setRowHeight(kRowHeight);
    m_table->setDataSource(this);
    m_table->setTableDelegate(this);
    addFooterButton(QStringLiteral("取消"), QStringLiteral("offlinePageCancelButton"), std::move(cancelled));
    addFooterButton(QStringLiteral("全选"), QStringLiteral("offlinePageSelectAllButton"), [this] { selectAllUncached(); });
    m_next = addFooterButton(QStringLiteral("下一步"), QStringLiteral("offlinePageNextButton"),
                             [this, confirmed = std::move(confirmed)] {
                                 if (!m_selected.isEmpty())
                                     confirmed(selectedPageIndexes());
                             });
    selectionDidChange();
    layoutInHost();
}

QList<int> KRVideoOfflinePagePicker::selectedPageIndexes() const
{
    QList<int> indexes(m_selected.begin(), m_selected.end());
    std::sort(indexes.begin(), indexes.end());
    return indexes;
}

void KRVideoOfflinePagePicker::togglePage(int index)
{
    if (index < 0 || index >= m_parts.size())
        return;
    if (!m_selected.remove(index))
        m_selected.insert(index);
    if (TableViewCell* cell = m_table->cellForRowAtIndexPath(IndexPath{0, index}))
        configureCell(cell, index);
    selectionDidChange();
}

void KRVideoOfflinePagePicker::selectAllUncached()
{
    for (int i = 0; i < m_parts.size(); ++i) {
        if (!m_parts.at(i).cached)
            m_selected.insert(i);
    }
    m_table->reloadData();
    selectionDidChange();
}

void KRVideoOfflinePagePicker::selectionDidChange()
{
    m_next->setEnabled(!m_selected.isEmpty());
    m_next->setTitle(m_selected.isEmpty() ? QStringLiteral("下一步") : QStringLiteral("下一步（%1）").arg(m_selected.size()),
                     ControlStateNormal);
}

void KRVideoOfflinePagePicker::layoutInHost()
{
    m_table->setFrame(layoutForContentHeight(kRowHeight * m_parts.size()));
}

void KRVideoOfflinePagePicker::applyTheme()
{
    KRVideoOfflinePickerOverlay::applyTheme();
    if (!m_table)
        return;
    const KRTheme* theme = KRTheme::sharedTheme();
    m_table->setBackgroundColor(theme->surfaceColor());
    m_table->setSeparatorColor(theme->separatorColor());
    m_table->reloadData();
}

TableViewCell* KRVideoOfflinePagePicker::cellForRowAtIndexPath(TableView* table, const IndexPath& indexPath)
{
    TableViewCell* cell = table->dequeueReusableCellWithIdentifier(kPartCellID);
    if (!cell)
        cell = new TableViewCell(TableViewCellStyleSubtitle, kPartCellID);
    configureCell(cell, indexPath.row);
    return cell;
}

void KRVideoOfflinePagePicker::configureCell(TableViewCell* cell, int row) const
{
    const KRTheme* theme = KRTheme::sharedTheme();
    const Part part = m_parts.value(row);
    const bool ticked = m_selected.contains(row);
    cell->setBackgroundColor(theme->surfaceColor());
    cell->textLabel()->setFont(Label::systemFont(15, true));
    cell->textLabel()->setText(part.title);
    cell->textLabel()->setTextColor(part.cached ? theme->secondaryTextColor() : theme->primaryTextColor());
    cell->detailTextLabel()->setText(part.cached ? QStringLiteral("已缓存") : part.duration);
    cell->detailTextLabel()->setTextColor(theme->secondaryTextColor());
    cell->setCheckmarkColor(theme->accentColor());
    cell->setAccessoryType(ticked ? TableViewCellAccessoryCheckmark : TableViewCellAccessoryNone);
    cell->setAccessibilityValue(ticked ? QStringLiteral("已选") : QStringLiteral("未选"));
}

void KRVideoOfflinePagePicker::didSelectRowAtIndexPath(TableView* table, const IndexPath& indexPath)
{
    table->deselectRowAtIndexPath(indexPath, false);
    togglePage(indexPath.row);
}
