#pragma once

#include <QFont>
#include <QList>
#include <QPointF>
#include <QSizeF>
#include <QString>
#include <QStringList>

#include <memory>

class QColor;
class QPainter;
class QRectF;
class QTextLayout;

namespace platform::uikit {

template <typename Entry>
class RecentlyUsed;

// The lines a label of `lines` lines (0: any number) shows in `rect`: only those whose glyphs
// fit its height whole (the first always), the last one elided when text is left over.
// With `characterWrap` a line may break between any two characters, else at word boundaries.
QStringList wrappedLabelLines(const QString& text, const QFont& font, const QRectF& rect, int lines,
                              bool characterWrap = false);

// The text of a label laid out for drawing. Shaping is the costly part of drawing a label, and
// the same text is painted many times (every scroll step, both the shadow and the text), so
// the elided, shaped lines are kept until the text, font, size, alignment, line count or the
// painter's direction change; the most recent layouts made on the main thread are shared by
// every label drawing the same text the same way. The lines are placed exactly as QPainter::drawText places them
// in a rectangle, so what is drawn stays the same to the pixel.
class LabelTextLayout {
public:
    LabelTextLayout();
    ~LabelTextLayout();
    LabelTextLayout(const LabelTextLayout&) = delete;
    LabelTextLayout& operator=(const LabelTextLayout&) = delete;

    // numberOfLines 1 elides at the end; any other value shows the wrapped lines that fit.
    void draw(QPainter& painter, const QRectF& rect, const QString& text, const QFont& font, const QColor& color,
              const QColor& shadowColor, const QSizeF& shadowOffset, int alignment, int lines);
    // Wrapped lines break between any two characters rather than between words.
    void setCharacterWrap(bool on);

private:
    void prepare(const QPainter& painter, const QSizeF& size, const QString& text, const QFont& font,
                 Qt::Alignment alignment, int lines);
    void layOut();
    // Labels on the main thread share what they lay out: a screen opened anew shows the texts
    // it showed before, and rows of a list repeat theirs.
    bool adoptShared();
    void share() const;
    void drawOnce(QPainter& painter, const QRectF& rect) const;

    // What the layout was made from: also what a shared layout is found by.
    struct Source {
        QString text;
        QSizeF size{-1, -1};
        Qt::Alignment alignment;
        int lines = -1;
        bool characterWrap = false;
        Qt::LayoutDirection direction = Qt::LayoutDirectionAuto;
        QFont font;
        QFont painterFont;
        bool operator==(const Source&) const = default;
    };
    // What is drawn: the shown text (elided), its lines with each one's offset within the rect,
    // and the area the lines cover (text outside the rect is clipped to it).
    struct Drawn {
        QString shown;
        std::shared_ptr<QTextLayout> layout;
        QList<QPointF> offsets;
        QPointF boundsOrigin;
        QSizeF boundsSize;
        int flags = 0;
        // Texts drawText treats specially (several length variants, right-to-left text or
        // painter, decorated fonts) are left to it.
        bool direct = false;
    };
    struct Shared;
    static RecentlyUsed<Shared>& sharedLayouts();

    bool m_prepared = false;
    Source m_from;
    Drawn m_drawn;
};

} // namespace platform::uikit
