#pragma once

#include "platform/uikit/AttributedString.h"

#include <QList>
#include <QPointF>
#include <QRectF>

#include <memory>

class QPainter;
class QTextLayout;

namespace platform::uikit {

// One stretch of a line with the same attributes. `origin` is the baseline point where the
// run starts, in the frame's rectangle (top-down: y grows downwards).
struct TextRun {
    int location = 0;
    int length = 0;
    QPointF origin;
    qreal width = 0;
    qreal ascent = 0;
    qreal descent = 0;
    AttributedString::Attributes attributes;
    // The box the run takes: from ascent above the baseline to descent below it.
    QRectF typographicBounds() const { return {origin.x(), origin.y() - ascent, width, ascent + descent}; }
};

struct TextLine {
    int location = 0;
    int length = 0;
    // The baseline's left end.
    QPointF origin;
    QList<TextRun> runs;
};

// An attributed string laid out in a rectangle, as the platform's text frames are: lines
// broken between characters, each the string's line height, only the lines that fit the
// rectangle's height whole. Delegated characters take their box's width; the baseline of a
// line sits far enough down for the tallest ascent on it (never past the line's bottom).
// Measuring and drawing read the same frame.
class TextFrame {
public:
    TextFrame(const AttributedString& string, const QRectF& rect);
    ~TextFrame();
    TextFrame(const TextFrame&) = delete;
    TextFrame& operator=(const TextFrame&) = delete;

    QRectF rect() const { return m_rect; }
    const QList<TextLine>& lines() const { return m_lines; }
    // How many lines the string needs at the rectangle's width, whatever its height.
    int lineCountAtWidth() const { return m_totalLines; }
    // The same count for a frame `width` wide, without laying anything out for drawing.
    static int lineCount(const AttributedString& string, qreal width);
    // Draws the glyphs in their colours; delegated characters draw nothing.
    void draw(QPainter& painter) const;

private:
    QRectF m_rect;
    QColor m_color;
    std::unique_ptr<QTextLayout> m_layout;
    QList<TextLine> m_lines;
    int m_totalLines = 0;
};

} // namespace platform::uikit
