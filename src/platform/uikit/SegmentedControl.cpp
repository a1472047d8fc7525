#include "platform/uikit/SegmentedControl.h"

#include "platform/uikit/Label.h"

#include <QMouseEvent>
#include <QPainter>

namespace platform::uikit {

SegmentedControl::SegmentedControl(const QStringList& items, View* superview)
    : Control(QRectF(0, 0, std::max<qreal>(60, 70 * items.size()), 29), superview), m_items(items)
{
}

void SegmentedControl::setTitleForSegmentAtIndex(const QString& title, int index)
{
    if (index >= 0 && index < m_items.size()) {
        m_items[index] = title;
        update();
    }
}

void SegmentedControl::insertSegmentWithTitle(const QString& title, int index)
{
    m_items.insert(std::clamp(index, 0, int(m_items.size())), title);
    update();
}

void SegmentedControl::removeAllSegments()
{
    m_items.clear();
    m_selected = -1;
    update();
}

void SegmentedControl::setSelectedSegmentIndex(int index)
{
    m_selected = index >= 0 && index < m_items.size() ? index : -1;
    update();
}

QColor SegmentedControl::titleColor(int state) const
{
    if (m_titleColors.contains(state))
        return m_titleColors.value(state);
    if (state & ControlStateSelected)
        return m_titleColors.value(ControlStateSelected, Qt::white);
    return m_titleColors.value(ControlStateNormal, m_tint);
}

void SegmentedControl::tapSegmentForTesting(int index)
{
    if (!isEnabled() || index < 0 || index >= m_items.size() || index == m_selected)
        return;
    m_selected = index;
    update();
    sendActionsForControlEvents(ControlEventValueChanged);
}

void SegmentedControl::mouseReleaseEvent(QMouseEvent* e)
{
    Control::mouseReleaseEvent(e);
    if (m_items.isEmpty() || !rect().contains(e->position().toPoint()))
        return;
    tapSegmentForTesting(int(e->position().x() * m_items.size() / std::max(1, width())));
}

void SegmentedControl::drawRect(QPainter& p)
{
    if (m_items.isEmpty())
        return;
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal w = r.width() / m_items.size();
    for (int i = 0; i < m_items.size(); ++i) {
        const QRectF seg(r.left() + i * w, r.top(), w, r.height());
        const bool selected = i == m_selected;
        if (selected)
            p.fillRect(seg, m_tint);
        int state = selected ? ControlStateSelected : ControlStateNormal;
        if (!isEnabled())
            state = ControlStateDisabled;
        drawLabelText(p, seg, m_items[i], Label::systemFont(13), titleColor(state), QColor(), QSizeF(),
                      TextAlignmentCenter, 1);
        if (i > 0) {
            p.setPen(QPen(m_tint, 1));
            p.drawLine(QPointF(seg.left(), seg.top()), QPointF(seg.left(), seg.bottom()));
        }
    }
    p.setPen(QPen(m_tint, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(r, 4, 4);
}

} // namespace platform::uikit
