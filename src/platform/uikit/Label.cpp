#include "platform/uikit/Label.h"

#include "platform/foundation/Dispatch.h"
#include "platform/uikit/RecentlyUsed.h"
#include "platform/uikit/TextMeasurement.h"

#include <QFontMetricsF>

#include <algorithm>
#include <cmath>

namespace platform::uikit {

namespace {

// What a label's measurement depends on, and its answer.
struct Measured {
    QString text;
    QFont font;
    qreal width = 0;
    int lines = 0;
    int lineBreakMode = 0;
    QSizeF size;
};

// Measuring a wrapped text shapes it whole and asks the font for its metrics, and layouts
// measure the same texts again and again (every pass, every screen opened anew on the same
// item): the answers made on the main thread are kept for the most recent texts.
RecentlyUsed<Measured>* keptMeasurements()
{
    if (!platform::isMainThread())
        return nullptr;
    static auto* kept = new RecentlyUsed<Measured>(128); // never destroyed: labels may lay out during exit
    return kept;
}

} // namespace

Label::Label(const QRectF& frame, View* superview) : View(frame, superview)
{
    setBackgroundColor(QBrush(Qt::NoBrush));
    setOpaque(false);
    // Text takes no touches unless its owner asks: a label laid over a control (a glyph on a
    // button, a status line over the player) lets the control under it have them.
    setUserInteractionEnabled(false);
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
    m_fittedFont.reset();
    update();
}

void Label::setFont(const QFont& font) { m_font = font; m_fittedFont.reset(); update(); }
void Label::setTextColor(const QColor& color) { m_textColor = color; update(); }
void Label::setShadowColor(const QColor& color) { m_shadowColor = color; update(); }
void Label::setShadowOffset(const QSizeF& offset) { m_shadowOffset = offset; update(); }
void Label::setTextAlignment(int alignment) { m_alignment = alignment; update(); }
void Label::setNumberOfLines(int lines) { m_lines = lines; m_fittedFont.reset(); update(); }

void Label::setLineBreakMode(int mode)
{
    m_lineBreakMode = mode;
    m_textLayout.setCharacterWrap(mode == LineBreakByCharWrapping);
    update();
}
void Label::setMinimumFontSize(qreal size) { m_minimumFontSize = size; m_fittedFont.reset(); update(); }

QFont Label::displayFont() const
{
    const int size = m_font.pixelSize();
    if (m_minimumFontSize <= 0 || m_lines != 1 || m_text.isEmpty() || size <= 0)
        return m_font;
    const qreal width = frame().width();
    if (m_fittedFont && m_fittedWidth == width)
        return *m_fittedFont;
    QFont font = m_font;
    m_fittedWidth = width;
    for (int pixels = size; pixels > 1 && pixels > m_minimumFontSize; --pixels) {
        font.setPixelSize(pixels);
        if (QFontMetricsF(font).horizontalAdvance(m_text) <= width)
            return *(m_fittedFont = font);
    }
    font.setPixelSize(std::max(1, int(std::ceil(m_minimumFontSize))));
    return *(m_fittedFont = font);
}

QSizeF Label::sizeThatFits(const QSizeF& size) const
{
    if (m_text.isEmpty())
        return {0, 0};
    // One line ignores the width it is offered.
    const qreal width = m_lines == 1 ? 0 : size.width() > 0 ? size.width() : 1e6;
    RecentlyUsed<Measured>* kept = keptMeasurements();
    if (kept) {
        const Measured* found = kept->find([&](const Measured& entry) {
            return entry.width == width && entry.lines == m_lines && entry.lineBreakMode == m_lineBreakMode
                   && entry.text == m_text && entry.font == m_font;
        });
        if (found)
            return found->size;
    }
    const QSizeF measured = measure(width);
    if (kept)
        kept->keep({m_text, m_font, width, m_lines, m_lineBreakMode, measured});
    return measured;
}

QSizeF Label::measure(qreal width) const
{
    QFontMetricsF fm(m_font);
    if (m_lines == 1)
        return {std::ceil(fm.horizontalAdvance(m_text)), std::ceil(fm.height())};
    if (m_lineBreakMode == LineBreakByCharWrapping) {
        const QSizeF measured = sizeWithFont(m_text, m_font, QSizeF(width, m_lines > 1 ? fm.lineSpacing() * m_lines : 1e6),
                                             LineBreakByCharWrapping);
        return {std::ceil(measured.width()), std::ceil(measured.height())};
    }
    const QRectF r = fm.boundingRect(QRectF(0, 0, width, 1e6), Qt::TextWordWrap, m_text);
    qreal h = r.height();
    if (m_lines > 1)
        h = std::min(h, fm.lineSpacing() * m_lines);
    return {std::ceil(r.width()), std::ceil(h)};
}

void drawLabelText(QPainter& p, const QRectF& rect, const QString& text, const QFont& font, const QColor& color,
                   const QColor& shadowColor, const QSizeF& shadowOffset, int alignment, int lines)
{
    LabelTextLayout().draw(p, rect, text, font, color, shadowColor, shadowOffset, alignment, lines);
}

void Label::drawRect(QPainter& p)
{
    m_textLayout.draw(p, QRectF(rect()), m_text, displayFont(), m_textColor, m_shadowColor, m_shadowOffset, m_alignment,
                      m_lines);
}

} // namespace platform::uikit
