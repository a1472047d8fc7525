#include "platform/uikit/Label.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QTextOption>

#include <algorithm>
#include <cmath>

namespace platform::uikit {

Label::Label(const QRectF& frame, View* superview) : View(frame, superview)
{
    setBackgroundColor(QBrush(Qt::NoBrush));
    setOpaque(false);
}

QFont Label::systemFont(qreal size, bool bold)
{
    QFont f(QStringLiteral("Noto Sans CJK SC"));
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(std::max(1, int(size + 0.5)));
    f.setBold(bold);
    return f;
}

void Label::setText(const QString& text)
{
    if (text == m_text)
        return;
    m_text = text;
    update();
}

void Label::setFont(const QFont& font) { m_font = font; update(); }
void Label::setTextColor(const QColor& color) { m_textColor = color; update(); }
void Label::setShadowColor(const QColor& color) { m_shadowColor = color; update(); }
void Label::setShadowOffset(const QSizeF& offset) { m_shadowOffset = offset; update(); }
void Label::setTextAlignment(int alignment) { m_alignment = alignment; update(); }
void Label::setNumberOfLines(int lines) { m_lines = lines; update(); }
void Label::setMinimumFontSize(qreal size) { m_minimumFontSize = size; update(); }

QFont Label::displayFont() const
{
    const int size = m_font.pixelSize();
    if (m_minimumFontSize <= 0 || m_lines != 1 || m_text.isEmpty() || size <= 0)
        return m_font;
    const qreal width = frame().width();
    QFont font = m_font;
    for (int pixels = size; pixels > 1 && pixels > m_minimumFontSize; --pixels) {
        font.setPixelSize(pixels);
        if (QFontMetricsF(font).horizontalAdvance(m_text) <= width)
            return font;
    }
    font.setPixelSize(std::max(1, int(std::ceil(m_minimumFontSize))));
    return font;
}

QSizeF Label::sizeThatFits(const QSizeF& size) const
{
    QFontMetricsF fm(m_font);
    if (m_text.isEmpty())
        return {0, 0};
    if (m_lines == 1)
        return {std::ceil(fm.horizontalAdvance(m_text)), std::ceil(fm.height())};
    const qreal width = size.width() > 0 ? size.width() : 1e6;
    const QRectF r = fm.boundingRect(QRectF(0, 0, width, 1e6), Qt::TextWordWrap, m_text);
    qreal h = r.height();
    if (m_lines > 1)
        h = std::min(h, fm.lineSpacing() * m_lines);
    return {std::ceil(r.width()), std::ceil(h)};
}

void drawLabelText(QPainter& p, const QRectF& rect, const QString& text, const QFont& font, const QColor& color,
                   const QColor& shadowColor, const QSizeF& shadowOffset, int alignment, int lines)
{
    if (text.isEmpty())
        return;
    p.setFont(font);
    Qt::Alignment a = alignment == TextAlignmentCenter ? Qt::AlignHCenter
                      : alignment == TextAlignmentRight ? Qt::AlignRight
                                                        : Qt::AlignLeft;
    a |= Qt::AlignVCenter;
    QString shown = text;
    int flags = int(a);
    if (lines == 1) {
        shown = QFontMetricsF(font).elidedText(text, Qt::ElideRight, rect.width());
    } else {
        flags |= Qt::TextWordWrap;
    }
    if (shadowColor.isValid() && shadowColor.alpha() > 0 && !shadowOffset.isNull()) {
        p.setPen(shadowColor);
        p.drawText(rect.translated(shadowOffset.width(), shadowOffset.height()), flags, shown);
    }
    p.setPen(color);
    p.drawText(rect, flags, shown);
}

void Label::drawRect(QPainter& p)
{
    drawLabelText(p, QRectF(rect()), m_text, displayFont(), m_textColor, m_shadowColor, m_shadowOffset, m_alignment, m_lines);
}

} // namespace platform::uikit
