#include "platform/uikit/TextFrame.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QTextBoundaryFinder>
#include <QTextCharFormat>
#include <QTextLayout>
#include <QTextOption>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

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

namespace {

// The stand-in's advance as the layout shapes it and as the font's metrics give it, in the
// last font asked about.
struct StandIn {
    qreal shaped = -1;
    qreal metrics = 0;
};

const StandIn& standInAdvances(const QFont& font)
{
    thread_local QFont measured;
    thread_local StandIn kept;
    if (kept.shaped < 0 || !(font == measured)) {
        QTextLayout layout(QString(QChar(kBoxStandIn)), font);
        layout.beginLayout();
        QTextLine line = layout.createLine();
        line.setLineWidth(qreal(0x01000000));
        layout.endLayout();
        measured = font;
        kept = StandIn{line.cursorToX(1), QFontMetricsF(font).horizontalAdvance(QChar(kBoxStandIn))};
    }
    return kept;
}

// The letter spacing a box's stand-in gets, as the font keeps it (in its own fixed point).
// The boxes of a string, and of the strings after it, ask with one spacing: the last answer
// is kept.
qreal keptLetterSpacing(qreal spacing)
{
    thread_local qreal asked = std::numeric_limits<qreal>::quiet_NaN();
    thread_local qreal kept = 0;
    if (!(spacing == asked)) {
        QFont font;
        font.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
        kept = font.letterSpacing();
        asked = spacing;
    }
    return kept;
}

bool isRightToLeftOrEmbedding(QChar::Direction d)
{
    switch (d) {
    case QChar::DirR:
    case QChar::DirAL:
    case QChar::DirAN:
    case QChar::DirRLE:
    case QChar::DirRLO:
    case QChar::DirLRE:
    case QChar::DirLRO:
    case QChar::DirPDF:
    case QChar::DirRLI:
    case QChar::DirLRI:
    case QChar::DirFSI:
    case QChar::DirPDI:
        return true;
    default:
        return false;
    }
}

// Whether `text` holds a character that is right-to-left or opens or closes an embedding.
bool hasRightToLeftOrEmbedding(QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        // Nothing below Hebrew, nor among the East Asian scripts from the CJK radicals to
        // Hangul, is either: most characters of a message are answered without a look-up.
        if (u < 0x0590 || (u >= 0x2E80 && u < 0xD800))
            continue;
        char32_t c = u;
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        if (isRightToLeftOrEmbedding(QChar::direction(c)))
            return true;
    }
    return false;
}

// Whether the box at `location` of `text` is a cluster of its own where the frame lays it out
// as its stand-in. Only its neighbours can join it to theirs (a mark or a joiner after it, a
// prepended character before it), so the few characters around it tell, read without an
// allocation.
bool standsAlone(QStringView text, qsizetype location)
{
    // Latin-1, the CJK ideographs, fullwidth ASCII and other boxes join nothing, and they
    // are most neighbours a box has.
    const auto joinsNothing = [](QChar c) {
        const char16_t u = c.unicode();
        return u < 0x0300 || (u >= 0x3400 && u < 0xA000) || (u >= 0xFF01 && u <= 0xFF5E) || u == 0xFFFC;
    };
    if ((location == 0 || joinsNothing(text[location - 1]))
        && (location + 1 >= text.size() || joinsNothing(text[location + 1])))
        return true;
    const qsizetype from = std::max<qsizetype>(0, location - 2);
    const qsizetype to = std::min<qsizetype>(text.size(), location + 3);
    QChar window[5];
    std::copy(text.begin() + from, text.begin() + to, window);
    window[location - from] = QChar(kBoxStandIn);
    unsigned char buffer[64];
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, window, to - from, buffer, sizeof buffer);
    graphemes.setPosition(location - from);
    if (!graphemes.isAtBoundary())
        return false;
    graphemes.setPosition(location - from + 1);
    return graphemes.isAtBoundary();
}

// Whether every character of `text` takes its script from its neighbours.
bool onlyNeighbourScripts(QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        const QChar::Script script = QChar::script(c);
        if (script != QChar::Script_Common && script != QChar::Script_Inherited)
            return false;
    }
    return true;
}

// The count a frame makes, found without the boxes' formats: each stretch of text between
// boxes is laid out plainly, on what is left of its line, and each box takes its width where
// it fits. A format splits the text into items shaped apart from each other and resolves the
// box's font for each of them, which makes the frame's count several times dearer than
// plain text. So the stretches are laid out as the frame's items are: a stretch after a box
// that begins with neutral characters starts with the box's stand-in, whose script they take,
// and is given the stand-in's shaped width back on its first line; another one starts on what
// is left of the line, or on the next line where its first cluster does not fit.
// Where plain layout could differ from the frame's (coloured ranges, right-to-left or
// embedded text, a box joined to a neighbour in one character, white space the next box
// would hang after, a first stretch of only neutral characters whose script would come from
// the box), nullopt: the frame counts.
std::optional<int> plainLineCount(const AttributedString& string, qreal width)
{
    const QString source = string.text();
    QList<std::pair<int, qreal>> boxes;   // location, advance
    const QFont font = string.font();
    const StandIn& advances = standInAdvances(font);
    const qreal standIn = advances.shaped;
    const qreal metricsStandIn = advances.metrics;
    for (const AttributedString::Span& span : string.spans()) {
        if (span.attributes.color)
            return std::nullopt;
        if (!span.attributes.delegate)
            continue;
        const qreal advance = standIn + keptLetterSpacing(span.attributes.delegate->width - metricsStandIn);
        for (int i = span.location; i < span.location + span.length; ++i)
            boxes << std::pair{i, advance};
    }
    if (hasRightToLeftOrEmbedding(source))
        return std::nullopt;
    QString shaped = source;
    shaped.replace(QLatin1Char('\n'), QChar::LineSeparator);
    int from = 0;
    for (const auto& [location, advance] : std::as_const(boxes)) {
        const QStringView before = QStringView(shaped).mid(from, location - from);
        if (!standsAlone(shaped, location))
            return std::nullopt;
        if (!before.isEmpty() && before.back().isSpace())
            return std::nullopt;
        if (from == 0 && !before.isEmpty() && onlyNeighbourScripts(before))
            return std::nullopt;
        from = location + 1;
    }

    QTextLayout layout;
    layout.setFont(font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAnywhere);
    layout.setTextOption(option);
    int lines = 1;
    qreal x = 0;   // the current line's width so far
    // Lays the stretch [from, to) out after what the current line holds; with `context`, behind
    // a stand-in that the first line's room is widened by. Without it, a first line that holds
    // one cluster only is not told apart from one where that cluster did not fit for its
    // overhang, which a frame breaks before: false, and nothing counted.
    const auto layOutStretch = [&](int from, int to, bool context) {
        const qreal lead = context ? standIn : 0;
        // The layout reads the stretch in place: `shaped` outlives it, unchanged.
        layout.setText(context ? QChar(kBoxStandIn) + shaped.mid(from, to - from)
                               : QString::fromRawData(shaped.constData() + from, to - from));
        int added = 0;
        qreal at = x;
        bool first = true;
        bool told = true;
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            if (!first) {
                line.setLineWidth(width);
                ++added;
                at = line.naturalTextWidth();
                continue;
            }
            first = false;
            const qreal room = width - x + lead;
            line.setLineWidth(std::max<qreal>(0, room));
            if (!context && x > 0) {
                if (line.naturalTextWidth() > room) {
                    // Its first cluster does not fit what is left: the frame starts a line there.
                    line.setLineWidth(width);
                    ++added;
                    at = 0;
                } else if (line.textLength() <= layout.nextCursorPosition(0)) {
                    told = false;
                    break;
                }
            }
            at += line.naturalTextWidth() - lead;
        }
        layout.endLayout();
        if (!told)
            return false;
        lines += added;
        x = at;
        return true;
    };
    bool afterBox = false;
    int cursor = 0;
    for (int b = 0; b <= int(boxes.size()); ++b) {
        const int end = b < int(boxes.size()) ? boxes[b].first : int(shaped.size());
        if (end > cursor) {
            // Neutral characters first take their script from the box before them.
            const bool context = afterBox && onlyNeighbourScripts(QStringView(shaped).mid(cursor, shaped.at(cursor).isHighSurrogate() ? 2 : 1));
            if (!layOutStretch(cursor, end, context))
                layOutStretch(cursor, end, true);
        }
        if (b == int(boxes.size()))
            break;
        const qreal advance = boxes[b].second;
        if (x > 0 && x + advance > width) {
            ++lines;
            x = advance;
        } else {
            x += advance;
        }
        afterBox = true;
        cursor = end + 1;
    }
    return lines;
}

} // namespace

int TextFrame::lineCount(const AttributedString& string, qreal width)
{
    if (string.length() == 0 || width <= 0)
        return 0;
    if (const std::optional<int> plain = plainLineCount(string, width))
        return *plain;
    return TextFrame(string, QRectF(0, 0, width, 0)).lineCountAtWidth();
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
