#include "browse/KRThemedSearchTextField.h"

#include "platform/uikit/Label.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

using namespace platform::uikit;

KRThemedSearchTextField::KRThemedSearchTextField(const QRectF& frame, View* superview) : TextField(frame, superview) {}

void KRThemedSearchTextField::applyResolvedTextColor(const QColor& textColor, const QColor& placeholderColor)
{
    m_resolvedTextColor = textColor;
    m_placeholderTextColor = placeholderColor;
    if (m_resolvedTextColor.isValid())
        setTextColor(m_resolvedTextColor);
    update();
}

void KRThemedSearchTextField::setText(const QString& text)
{
    TextField::setText(text);
    if (m_resolvedTextColor.isValid())
        setTextColor(m_resolvedTextColor);
}

void KRThemedSearchTextField::drawPlaceholderInRect(QPainter& painter, const QRectF& rect)
{
    const QString text = placeholder();
    if (text.isEmpty())
        return;
    const QColor color = m_placeholderTextColor.isValid() ? m_placeholderTextColor : QColor::fromRgbF(1, 1, 1, 0.55);
    const QFont f = font().family().isEmpty() ? Label::systemFont(13) : font();
    const QFontMetricsF metrics(f);
    const qreal textHeight = std::min(metrics.height(), rect.height());
    const qreal offset = std::floor(std::max<qreal>(0, (rect.height() - textHeight) / 2));
    const QRectF target(rect.left(), rect.top() + offset, rect.width(), textHeight);
    painter.save();
    painter.setFont(f);
    painter.setPen(color);
    painter.drawText(target, Qt::AlignLeft | Qt::AlignTop, metrics.elidedText(text, Qt::ElideRight, rect.width()));
    painter.restore();
}
