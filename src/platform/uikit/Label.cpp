#include "platform/uikit/Label.h"

#include <QFontInfo>
#include <QFontMetricsF>
#include <QPainter>
#include <QTextLayout>
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

namespace {

// The lines a wrapping label shows, as the platform's label lays them out: at most `lines`
// (0: any number) and only as many as fit the height whole (the first always); the last one
// shown ends in an ellipsis when text is left over. Drawing every wrapped line centred in a
// short label would clip them all into unreadable strips.
QStringList wrappedLines(const QString& text, const QFont& font, const QRectF& rect, int lines)
{
    const QFontMetricsF fm(font);
    // A line fits when its glyphs (one em high) do: the font's line spacing adds room above and
    // below them that may fall outside the label.
    const qreal em = font.pixelSize() > 0 ? font.pixelSize() : QFontInfo(font).pixelSize();
    int limit = std::max(1, int(std::floor((rect.height() + 1 - em) / fm.lineSpacing())) + 1);
    if (lines > 0)
        limit = std::min(limit, lines);
    QString flowing = text;
    flowing.replace(QLatin1Char('\n'), QChar::LineSeparator);
    QTextLayout layout(flowing, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QStringList shown;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(rect.width());
        QString piece = flowing.mid(line.textStart(), line.textLength());
        if (int(shown.size()) == limit - 1) {
            const bool more = line.textStart() + line.textLength() < flowing.size();
            if (more) {
                // The rest of the paragraph is cut where the width ends; a later paragraph only
                // leaves its ellipsis.
                QString rest = flowing.mid(line.textStart());
                const bool laterParagraph = rest.indexOf(QChar::LineSeparator) >= 0;
                rest = rest.section(QChar::LineSeparator, 0, 0);
                piece = fm.horizontalAdvance(rest) > rect.width() || !laterParagraph
                    ? fm.elidedText(rest, Qt::ElideRight, rect.width())
                    : fm.elidedText(rest + QChar(0x2026), Qt::ElideRight, rect.width());
            }
            shown << piece.remove(QChar::LineSeparator);
            break;
        }
        shown << piece.remove(QChar::LineSeparator);
    }
    layout.endLayout();
    return shown;
}

} // namespace

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
    const bool shadow = shadowColor.isValid() && shadowColor.alpha() > 0 && !shadowOffset.isNull();
    if (lines != 1) {
        const QStringList shown = wrappedLines(text, font, rect, lines);
        const qreal spacing = QFontMetricsF(font).lineSpacing();
        const qreal top = rect.top() + (rect.height() - spacing * shown.size()) / 2;
        for (int i = 0; i < shown.size(); ++i) {
            const QRectF lineRect(rect.left(), top + spacing * i, rect.width(), spacing);
            if (shadow) {
                p.setPen(shadowColor);
                p.drawText(lineRect.translated(shadowOffset.width(), shadowOffset.height()), int(a), shown[i]);
            }
            p.setPen(color);
            p.drawText(lineRect, int(a), shown[i]);
        }
        return;
    }
    const QString shown = QFontMetricsF(font).elidedText(text, Qt::ElideRight, rect.width());
    if (shadow) {
        p.setPen(shadowColor);
        p.drawText(rect.translated(shadowOffset.width(), shadowOffset.height()), int(a), shown);
    }
    p.setPen(color);
    p.drawText(rect, int(a), shown);
}

void Label::drawRect(QPainter& p)
{
    drawLabelText(p, QRectF(rect()), m_text, displayFont(), m_textColor, m_shadowColor, m_shadowOffset, m_alignment, m_lines);
}

} // namespace platform::uikit
