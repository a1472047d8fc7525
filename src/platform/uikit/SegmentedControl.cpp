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

Image SegmentedControl::backgroundImage(int state) const
{
    return m_backgrounds.contains(state) ? m_backgrounds.value(state) : m_backgrounds.value(ControlStateNormal);
}

void SegmentedControl::setBackgroundImage(const Image& image, int state)
{
    m_backgrounds[state] = image;
    update();
}

Image SegmentedControl::dividerImage(int leftState, int rightState) const
{
    const QPair<int, int> key(leftState, rightState);
    return m_dividers.contains(key) ? m_dividers.value(key) : m_dividers.value(qMakePair(int(ControlStateNormal), int(ControlStateNormal)));
}

void SegmentedControl::setDividerImage(const Image& image, int leftState, int rightState)
{
    m_dividers[qMakePair(leftState, rightState)] = image;
    update();
}

TextAttributes SegmentedControl::titleTextAttributes(int state) const
{
    return m_titleAttributes.contains(state) ? m_titleAttributes.value(state) : m_titleAttributes.value(ControlStateNormal);
}

void SegmentedControl::setTitleTextAttributes(const TextAttributes& attributes, int state)
{
    m_titleAttributes[state] = attributes;
    update();
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
    // A touch a scroll view took as its drag picks no segment.
    const bool tracked = isTrackingTouch();
    Control::mouseReleaseEvent(e);
    if (!tracked || m_items.isEmpty() || !rect().contains(e->position().toPoint()))
        return;
    tapSegmentForTesting(int(e->position().x() * m_items.size() / std::max(1, width())));
}

void SegmentedControl::drawRect(QPainter& p)
{
    if (m_items.isEmpty())
        return;
    p.setRenderHint(QPainter::Antialiasing);
    bool hasBackgrounds = false;
    for (const Image& image : std::as_const(m_backgrounds))
        hasBackgrounds = hasBackgrounds || !image.isNull();
    const QRectF r = hasBackgrounds ? QRectF(rect()) : QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal w = r.width() / m_items.size();
    const auto stateOf = [this](int index) {
        if (!isEnabled())
            return int(ControlStateDisabled);
        return index == m_selected ? int(ControlStateSelected) : int(ControlStateNormal);
    };
    for (int i = 0; i < m_items.size(); ++i) {
        const QRectF seg(r.left() + i * w, r.top(), w, r.height());
        const int state = stateOf(i);
        if (hasBackgrounds) {
            const Image background = backgroundImage(state);
            if (!background.isNull())
                background.draw(p, seg);
        } else if (i == m_selected) {
            p.fillRect(seg, m_tint);
        }
        const TextAttributes attributes = titleTextAttributes(state);
        drawLabelText(p, seg, m_items[i], attributes.font.value_or(Label::systemFont(13)),
                      attributes.textColor.value_or(titleColor(state)), attributes.shadowColor.value_or(QColor()),
                      attributes.shadowOffset.value_or(QSizeF()), TextAlignmentCenter, 1);
    }
    for (int i = 1; i < m_items.size(); ++i) {
        const qreal x = r.left() + i * w;
        const Image divider = dividerImage(stateOf(i - 1), stateOf(i));
        if (!divider.isNull()) {
            const qreal dw = divider.size().width();
            divider.draw(p, QRectF(x - dw / 2, r.top(), dw, r.height()));
        } else if (!hasBackgrounds) {
            p.setPen(QPen(m_tint, 1));
            p.drawLine(QPointF(x, r.top()), QPointF(x, r.bottom()));
        }
    }
    if (!hasBackgrounds) {
        p.setPen(QPen(m_tint, 1));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(r, 4, 4);
    }
}

} // namespace platform::uikit
