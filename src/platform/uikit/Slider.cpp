#include "platform/uikit/Slider.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPointer>

#include <algorithm>
#include <cmath>

namespace platform::uikit {

Slider::Slider(const QRectF& frame, View* superview) : Control(frame, superview)
{
    setOpaque(false);
}

void Slider::setValue(float value)
{
    if (!std::isfinite(value))
        value = m_minimum;
    value = std::clamp(value, m_minimum, m_maximum);
    if (value == m_value)
        return;
    m_value = value;
    update();
}

void Slider::setRange(float minimum, float maximum)
{
    m_minimum = minimum;
    m_maximum = std::max(minimum, maximum);
    setValue(m_value);
}

Image Slider::thumbImage(int state) const
{
    if (m_thumbs.contains(state))
        return m_thumbs.value(state);
    return m_thumbs.value(ControlStateNormal);
}

void Slider::setThumbImage(const Image& image, int state)
{
    m_thumbs[state] = image;
    update();
}

QSizeF Slider::thumbSize() const
{
    const Image thumb = thumbImage(state());
    return thumb.isNull() ? QSizeF(14, 14) : thumb.size();
}

float Slider::valueAt(qreal x) const
{
    const qreal half = thumbSize().width() / 2;
    const qreal track = std::max<qreal>(1, frame().width() - 2 * half);
    const qreal fraction = std::clamp<qreal>((x - half) / track, 0, 1);
    return float(m_minimum + fraction * (m_maximum - m_minimum));
}

void Slider::dragForTesting(const QList<float>& values, bool cancel)
{
    if (!isEnabled() || !isUserInteractionEnabled())
        return;
    QPointer<Slider> self(this);
    setHighlighted(true);
    sendActionsForControlEvents(ControlEventTouchDown);
    for (float value : values) {
        if (!self)
            return;
        setValue(value);
        sendActionsForControlEvents(ControlEventValueChanged);
    }
    if (!self)
        return;
    setHighlighted(false);
    sendActionsForControlEvents(cancel ? ControlEventTouchCancel : ControlEventTouchUpInside);
}

void Slider::drawRect(QPainter& painter)
{
    const QSizeF thumb = thumbSize();
    const qreal half = thumb.width() / 2;
    const qreal track = std::max<qreal>(0, frame().width() - 2 * half);
    const qreal span = m_maximum - m_minimum;
    const qreal fraction = span > 0 ? (m_value - m_minimum) / span : 0;
    const qreal mid = frame().height() / 2;
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, 90));
    painter.drawRoundedRect(QRectF(half, mid - 1.5, track, 3), 1.5, 1.5);
    painter.setBrush(QColor(251, 114, 153));
    painter.drawRoundedRect(QRectF(half, mid - 1.5, track * fraction, 3), 1.5, 1.5);
    const QRectF thumbRect(half + track * fraction - half, mid - thumb.height() / 2, thumb.width(), thumb.height());
    const Image image = thumbImage(state());
    if (!image.isNull()) {
        image.draw(painter, thumbRect);
    } else {
        painter.setBrush(Qt::white);
        painter.drawEllipse(thumbRect);
    }
}

void Slider::mousePressEvent(QMouseEvent* event)
{
    if (!isEnabled() || event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    m_dragging = true;
    QPointer<Slider> self(this);
    setHighlighted(true);
    sendActionsForControlEvents(ControlEventTouchDown);
    if (!self)
        return;
    setValue(valueAt(event->position().x()));
    sendActionsForControlEvents(ControlEventValueChanged);
}

void Slider::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_dragging)
        return;
    setValue(valueAt(event->position().x()));
    sendActionsForControlEvents(ControlEventValueChanged);
}

void Slider::mouseReleaseEvent(QMouseEvent* event)
{
    if (!m_dragging)
        return;
    m_dragging = false;
    setHighlighted(false);
    const bool inside = rect().adjusted(-70, -70, 70, 70).contains(event->position().toPoint());
    sendActionsForControlEvents(inside ? ControlEventTouchUpInside : ControlEventTouchUpOutside);
}

} // namespace platform::uikit
