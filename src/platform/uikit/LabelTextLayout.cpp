#include "platform/uikit/LabelTextLayout.h"

#include "platform/foundation/Dispatch.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/RecentlyUsed.h"

#include <QColor>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QPainter>
#include <QRectF>
#include <QTextLayout>
#include <QTextOption>

#include <algorithm>
#include <cmath>

namespace platform::uikit {

namespace {

Qt::Alignment horizontalAlignment(int alignment)
{
    return alignment == TextAlignmentCenter  ? Qt::AlignHCenter
           : alignment == TextAlignmentRight ? Qt::AlignRight
                                             : Qt::AlignLeft;
}

// The text as drawText reads it when no tab expansion or single-line flag is asked for.
QString drawnText(QString text)
{
    for (QChar& c : text) {
        if (c == u'\r' || c == u'\t')
            c = u' ';
        else if (c == u'\n')
            c = QChar::LineSeparator;
    }
    return text;
}

// A screen's labels and a few rows' worth; each holds a short text's shaping.
constexpr size_t kSharedLayouts = 256;

} // namespace

// The lines a wrapping label shows, as the platform's label lays them out: at most `lines`
// (0: any number) and only as many as fit the height whole (the first always); the last one
// shown ends in an ellipsis when text is left over. Drawing every wrapped line centred in a
// short label would clip them all into unreadable strips.
QStringList wrappedLabelLines(const QString& text, const QFont& font, const QRectF& rect, int lines, bool characterWrap)
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
    option.setWrapMode(characterWrap ? QTextOption::WrapAnywhere : QTextOption::WrapAtWordBoundaryOrAnywhere);
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

LabelTextLayout::LabelTextLayout() = default;
LabelTextLayout::~LabelTextLayout() = default;

void LabelTextLayout::setCharacterWrap(bool on)
{
    if (on == m_from.characterWrap)
        return;
    m_from.characterWrap = on;
    m_prepared = false;
}

void LabelTextLayout::draw(QPainter& p, const QRectF& rect, const QString& text, const QFont& font, const QColor& color,
                           const QColor& shadowColor, const QSizeF& shadowOffset, int alignment, int lines)
{
    if (text.isEmpty())
        return;
    p.setFont(font);
    prepare(p, rect.size(), text, font, horizontalAlignment(alignment), lines);
    if (shadowColor.isValid() && shadowColor.alpha() > 0 && !shadowOffset.isNull()) {
        p.setPen(shadowColor);
        drawOnce(p, rect.translated(shadowOffset.width(), shadowOffset.height()));
    }
    p.setPen(color);
    drawOnce(p, rect);
}

void LabelTextLayout::prepare(const QPainter& p, const QSizeF& size, const QString& text, const QFont& font,
                              Qt::Alignment alignment, int lines)
{
    const bool oneLine = lines == 1;
    // The rect's height is part of the key too: lines below it are not laid out.
    if (m_prepared && text == m_from.text && size == m_from.size && alignment == m_from.alignment
        && lines == m_from.lines && p.layoutDirection() == m_from.direction && font == m_from.font
        && p.font() == m_from.painterFont)
        return;
    m_prepared = true;
    m_from.text = text;
    m_from.font = font;
    m_from.painterFont = p.font();
    m_from.size = size;
    m_from.alignment = alignment;
    m_from.lines = lines;
    m_from.direction = p.layoutDirection();
    // No wrapping flag: a wrapped text is broken into the lines it shows before it is drawn.
    m_drawn.flags = int(alignment | Qt::AlignVCenter);
    m_drawn.direct = m_from.direction == Qt::RightToLeft || text.isRightToLeft() || text.contains(QChar(0x9c))
                     || m_from.painterFont.underline() || m_from.painterFont.overline()
                     || m_from.painterFont.strikeOut();
    if (adoptShared())
        return;
    struct Sharing {
        const LabelTextLayout& layout;
        ~Sharing() { layout.share(); }
    } sharing{*this};
    const auto elided = [&] { return QFontMetricsF(font).elidedText(text, Qt::ElideRight, size.width()); };
    if (!oneLine) {
        m_drawn.shown = wrappedLabelLines(text, font, QRectF(QPointF(), size), lines, m_from.characterWrap)
                            .join(QLatin1Char('\n'));
        layOut();
        return;
    }
    if (m_drawn.direct) {
        m_drawn.shown = elided();
        layOut();
        return;
    }
    // Most one-line texts fit. Laid out whole, a text well inside the width needs no eliding
    // (which would shape it once more); one near or over the width is elided as drawText's
    // callers always did, and laid out again only when that changed it.
    m_drawn.shown = text;
    layOut();
    const bool plain = font.pixelSize() > 0 && !text.back().isSpace() && !text.contains(u'\n') && !text.contains(u'\r')
                       && !text.contains(u'\t') && m_drawn.layout->lineCount() == 1;
    if (plain && m_drawn.layout->lineAt(0).naturalTextWidth() + 1 <= size.width())
        return;
    const QString shown = elided();
    if (shown != m_drawn.shown) {
        m_drawn.shown = shown;
        layOut();
    }
}

void LabelTextLayout::layOut()
{
    m_drawn.offsets.clear();
    m_drawn.layout.reset();
    if (m_drawn.direct || m_drawn.shown.isEmpty())
        return;
    m_drawn.layout = std::make_shared<QTextLayout>(drawnText(m_drawn.shown), m_from.painterFont);
    QTextOption option;
    option.setTextDirection(m_from.direction);
    option.setAlignment(Qt::AlignLeft);
    m_drawn.layout->setTextOption(option);
    m_drawn.layout->setCacheEnabled(true);

    // Lines on whole pixels, each after the font's leading, until the rect is full.
    const QSizeF size = m_from.size;
    // Wrapped texts arrive broken into their lines already, so no line is wrapped again here.
    const qreal lineWidth = qreal(0x01000000);
    const qreal leading = QFontMetricsF(m_from.painterFont).leading();
    qreal height = -leading;
    qreal width = 0;
    m_drawn.layout->beginLayout();
    for (;;) {
        QTextLine line = m_drawn.layout->createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(lineWidth);
        height = std::ceil(height + leading);
        line.setPosition(QPointF(0, height));
        height += line.ascent() + line.descent();
        width = std::max(width, line.naturalTextWidth());
        if (height >= size.height())
            break;
    }
    m_drawn.layout->endLayout();

    const qreal top = (size.height() - height) / 2;
    const auto across = [&](qreal w) {
        return m_from.alignment & Qt::AlignRight     ? size.width() - w
               : m_from.alignment & Qt::AlignHCenter ? (size.width() - w) / 2
                                                     : 0;
    };
    m_drawn.boundsOrigin = QPointF(across(width), top);
    m_drawn.boundsSize = QSizeF(width, height);
    for (int i = 0; i < m_drawn.layout->lineCount(); ++i)
        m_drawn.offsets << QPointF(across(m_drawn.layout->lineAt(i).horizontalAdvance()), top);
}

// A layout kept to be shared: what it was made from and what it draws. Laid-out text is drawn
// only by the thread that shapes it, so only the main thread's layouts are shared.
struct LabelTextLayout::Shared {
    Source from;
    Drawn drawn;
};

RecentlyUsed<LabelTextLayout::Shared>& LabelTextLayout::sharedLayouts()
{
    static auto* kept = new RecentlyUsed<Shared>(kSharedLayouts); // never destroyed: labels may paint during exit
    return *kept;
}

bool LabelTextLayout::adoptShared()
{
    if (!platform::isMainThread())
        return false;
    const Shared* found = sharedLayouts().find([&](const Shared& entry) { return entry.from == m_from; });
    if (!found)
        return false;
    m_drawn = found->drawn;
    return true;
}

void LabelTextLayout::share() const
{
    if (platform::isMainThread())
        sharedLayouts().keep({m_from, m_drawn});
}

void LabelTextLayout::drawOnce(QPainter& p, const QRectF& r) const
{
    if (m_drawn.direct) {
        p.drawText(r, m_drawn.flags, m_drawn.shown);
        return;
    }
    if (m_drawn.offsets.isEmpty())
        return;
    const QRectF bounds(QPointF(r.x(), r.y()) + m_drawn.boundsOrigin, m_drawn.boundsSize);
    const bool clip = !r.contains(bounds);
    if (clip) {
        p.save();
        p.setClipRect(r, Qt::IntersectClip);
    }
    for (int i = 0; i < m_drawn.offsets.size(); ++i)
        m_drawn.layout->lineAt(i).draw(&p, QPointF(r.x() + m_drawn.offsets[i].x(), r.y() + m_drawn.offsets[i].y()));
    if (clip)
        p.restore();
}

} // namespace platform::uikit
