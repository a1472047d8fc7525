#include "platform/uikit/TextFrame.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QTextCharFormat>
#include <QTextLayout>
#include <QTextOption>

#include <algorithm>
#include <cmath>

namespace platform::uikit {

namespace {

// Delegated characters are laid out as this glyph, spaced to the box's width: a visible glyph
// (unlike a space) stays on its line when the line is full and moves to the next one whole.
constexpr char16_t kBoxStandIn = u'M';

// A line leaves this much of its height unused before a line is said not to fit, so a rectangle
// exactly n lines high holds n lines after rounding.
constexpr qreal kFitTolerance = 0.001;

} // namespace

TextFrame::TextFrame(const AttributedString& string, const QRectF& rect) : m_rect(rect), m_color(string.color())
{
    const QString source = string.text();
    if (source.isEmpty() || rect.width() <= 0)
        return;
    const QFont font = string.font();
    const QFontMetricsF fm(font);
    const qreal lineHeight = string.lineHeight() > 0 ? string.lineHeight() : fm.lineSpacing();
    const qreal fontAscent = fm.ascent();
    const qreal fontDescent = fm.descent();

    QString shaped = source;
    shaped.replace(QLatin1Char('\n'), QChar::LineSeparator);
    QList<QTextLayout::FormatRange> formats;
    const qreal standInAdvance = fm.horizontalAdvance(QChar(kBoxStandIn));
    for (const AttributedString::Span& span : string.spans()) {
        QTextCharFormat format;
        bool used = false;
        if (span.attributes.delegate) {
            for (int i = span.location; i < span.location + span.length; ++i)
                shaped[i] = QChar(kBoxStandIn);
            format.setFontLetterSpacingType(QFont::AbsoluteSpacing);
            format.setFontLetterSpacing(span.attributes.delegate->width - standInAdvance);
            format.setForeground(Qt::transparent);
            used = true;
        } else if (span.attributes.color) {
            format.setForeground(*span.attributes.color);
            used = true;
        }
        if (used)
            formats << QTextLayout::FormatRange{span.location, span.length, format};
    }

    m_layout = std::make_unique<QTextLayout>(shaped, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAnywhere);
    m_layout->setTextOption(option);
    m_layout->setFormats(formats);
    m_layout->setCacheEnabled(true);

    const int fitting = int(std::floor((rect.height() + kFitTolerance) / lineHeight));
    const QList<AttributedString::Span>& spans = string.spans();
    m_layout->beginLayout();
    for (QTextLine line = m_layout->createLine(); line.isValid(); line = m_layout->createLine()) {
        line.setLineWidth(rect.width());
        const int index = m_totalLines++;
        if (index >= fitting) {
            // Only the count is wanted past the rectangle's bottom.
            line.setPosition(QPointF(0, index * lineHeight));
            continue;
        }
        const int start = line.textStart();
        const int end = start + line.textLength();

        // The line's runs: the plain stretches between spans and the spans' parts on it.
        QList<TextRun> runs;
        qreal ascent = fontAscent;
        const auto addRun = [&](int from, int to, const AttributedString::Attributes& attributes) {
            if (from >= to)
                return;
            TextRun run;
            run.location = from;
            run.length = to - from;
            run.attributes = attributes;
            if (attributes.delegate) {
                run.ascent = attributes.delegate->ascent;
                run.descent = attributes.delegate->descent;
                ascent = std::max(ascent, run.ascent);
            } else {
                run.ascent = fontAscent;
                run.descent = fontDescent;
            }
            runs << run;
        };
        int cursor = start;
        for (const AttributedString::Span& span : spans) {
            const int spanEnd = span.location + span.length;
            if (spanEnd <= start || span.location >= end)
                continue;
            const int from = std::max(start, span.location);
            addRun(cursor, from, {});
            // A delegate's characters are each a run of their own, as each is its own box.
            const int to = std::min(end, spanEnd);
            if (span.attributes.delegate) {
                for (int i = from; i < to; ++i)
                    addRun(i, i + 1, span.attributes);
            } else {
                addRun(from, to, span.attributes);
            }
            cursor = to;
        }
        addRun(cursor, end, {});

        const qreal baseline = std::min(lineHeight, ascent);
        const qreal top = index * lineHeight;
        line.setPosition(QPointF(0, top + baseline - line.ascent()));
        TextLine laid;
        laid.location = start;
        laid.length = end - start;
        laid.origin = QPointF(rect.x(), rect.y() + top + baseline);
        for (TextRun& run : runs) {
            const qreal x0 = line.cursorToX(run.location);
            const qreal x1 = line.cursorToX(run.location + run.length);
            run.origin = QPointF(rect.x() + std::min(x0, x1), laid.origin.y());
            run.width = std::abs(x1 - x0);
        }
        laid.runs = std::move(runs);
        m_lines << laid;
    }
    m_layout->endLayout();
}

TextFrame::~TextFrame() = default;

void TextFrame::draw(QPainter& painter) const
{
    if (!m_layout || m_lines.isEmpty())
        return;
    painter.save();
    painter.setFont(m_layout->font());
    painter.setPen(m_color);
    for (int i = 0; i < int(m_lines.size()); ++i)
        m_layout->lineAt(i).draw(&painter, m_rect.topLeft());
    painter.restore();
}

} // namespace platform::uikit
