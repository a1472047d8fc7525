#include "shared/KRClassicSettingsCell.h"

#include "look/KRTheme.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"

#include <QPainter>

#include <algorithm>

using namespace platform::uikit;

KRClassicSettingsCell::KRClassicSettingsCell(int style, const QString& reuseIdentifier)
    : TableViewCell(style, reuseIdentifier)
{
    setBackgroundColor(QColor(Qt::transparent));
    setOpaque(false);
    textLabel()->setFont(Label::systemFont(style == TableViewCellStyleSubtitle ? 16 : 17, true));
    textLabel()->setBackgroundColor(QColor(Qt::transparent));
    if (Label* detail = detailTextLabel()) {
        detail->setFont(Label::systemFont(style == TableViewCellStyleSubtitle ? 13 : 15));
        detail->setBackgroundColor(QColor(Qt::transparent));
    }
}

QRectF KRClassicSettingsCell::groupRectForSize(const QSizeF& size)
{
    return QRectF(kGroupInset, 0, std::max<qreal>(0, size.width() - 2 * kGroupInset), size.height());
}

void KRClassicSettingsCell::applyThemeBackgrounds(bool firstInGroup, bool lastInGroup, qreal rowHeight)
{
    const KRTheme* theme = KRTheme::sharedTheme();
    // A view someone else set in between is replaced; ours are kept while they are the cell's.
    if (!m_groupBackground || backgroundView() != m_groupBackground) {
        m_groupBackground = new ImageView(QRectF(0, 0, 320, rowHeight));
        setBackgroundView(m_groupBackground);
    }
    m_groupBackground->setImage(theme->groupedCellBackgroundImageWithTopCorners(firstInGroup, lastInGroup, rowHeight));
    if (!m_groupSelectedBackground || selectedBackgroundView() != m_groupSelectedBackground) {
        m_groupSelectedBackground = new View(QRectF(0, 0, 320, rowHeight));
        setSelectedBackgroundView(m_groupSelectedBackground);
    }
    m_groupSelectedBackground->setBackgroundColor(theme->selectionColor());
    // Laid out again for the group, as a new view would be.
    setNeedsLayout();
}

void KRClassicSettingsCell::layoutSubviews()
{
    TableViewCell::layoutSubviews();
    const QRectF group = groupRectForSize(frame().size());
    if (backgroundView())
        backgroundView()->setFrame(group);
    if (selectedBackgroundView())
        selectedBackgroundView()->setFrame(group);
    // The labels were placed for the whole width; the group is narrower by both insets.
    contentView()->setFrame(group);
    const qreal narrower = frame().width() - group.width();
    for (Label* label : contentView()->findChildren<Label*>(Qt::FindDirectChildrenOnly)) {
        QRectF r = label->frame();
        r.setWidth(std::max<qreal>(0, r.width() - narrower));
        label->setFrame(r);
    }
    if (View* accessory = accessoryView())
        accessory->setFrame(accessory->frame().translated(-kGroupInset, 0));
}

void KRClassicSettingsCell::drawRect(QPainter& painter)
{
    const bool lit = (isSelected() || isHighlighted()) && selectionStyle() != TableViewCellSelectionStyleNone;
    if (lit && !selectedBackgroundView())
        painter.fillRect(groupRectForSize(size()),
                         selectionStyle() == TableViewCellSelectionStyleGray ? QColor(217, 217, 217) : QColor(0, 122, 255));
}
