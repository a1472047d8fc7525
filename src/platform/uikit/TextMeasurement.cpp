#include "platform/uikit/TextMeasurement.h"

#include "platform/uikit/Label.h"

#include <QFontMetricsF>
#include <QTextLayout>
#include <QTextOption>

#include <algorithm>
#include <cmath>

namespace platform::uikit {

namespace {

// A font's line spacing. Measuring asks with one or two fonts over and over, and metrics look
// their font engine up each time they are made: the last font's is kept.
qreal lineSpacing(const QFont& font)
{
    thread_local QFont measured;
    thread_local qreal kept = -1;
    if (kept < 0 || !(font == measured)) {
        kept = QFontMetricsF(font).lineSpacing();
        measured = font;
    }
    return kept;
}

} // namespace

QSizeF sizeWithFont(const QString& text, const QFont& font, const QSizeF& constraint, int lineBreakMode)
{
    if (text.isEmpty())
        return {0, 0};
    const qreal spacing = lineSpacing(font);
    // A sliver of tolerance: a height of exactly n lines must hold n lines after rounding.
    const int fitting = int(std::floor((constraint.height() + 0.001) / spacing));
    if (fitting < 1)
        return {0, 0};
    if (lineBreakMode == LineBreakByTruncatingTail) {
        const QString firstLine = text.section(QLatin1Char('\n'), 0, 0);
        return {std::min(QFontMetricsF(font).horizontalAdvance(firstLine), constraint.width()), spacing};
    }
    QString flowing = text;
    if (flowing.contains(QLatin1Char('\n')))
        flowing.replace(QLatin1Char('\n'), QChar::LineSeparator);
    QTextLayout layout(flowing, font);
    QTextOption option;
    option.setWrapMode(lineBreakMode == LineBreakByCharWrapping ? QTextOption::WrapAnywhere
                                                                : QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.setCacheEnabled(false);
    int lines = 0;
    qreal width = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid() && lines < fitting; line = layout.createLine()) {
        line.setLineWidth(constraint.width());
        width = std::max(width, line.naturalTextWidth());
        ++lines;
    }
    layout.endLayout();
    return {std::min(width, constraint.width()), lines * spacing};
}

} // namespace platform::uikit
