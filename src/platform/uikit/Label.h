#pragma once

#include "platform/uikit/LabelTextLayout.h"
#include "platform/uikit/View.h"

#include <QFont>

#include <optional>

namespace platform::uikit {

enum TextAlignment { TextAlignmentLeft = 0, TextAlignmentCenter = 1, TextAlignmentRight = 2 };
// How lines break: between words (the default for wrapping labels) or between any characters.
enum LineBreakMode { LineBreakByWordWrapping = 0, LineBreakByCharWrapping = 1, LineBreakByTruncatingTail = 4 };

// Text in one font and colour, optionally with a shadow. numberOfLines 0 wraps without limit;
// 1 (the default) keeps one line and elides at the end. A label takes no touches (user
// interaction off) until it is turned on, for a label with a tap of its own.
class Label : public View {
    Q_OBJECT
public:
    explicit Label(const QRectF& frame = QRectF(), View* superview = nullptr);

    QString text() const { return m_text; }
    void setText(const QString& text);
    QFont font() const { return m_font; }
    virtual void setFont(const QFont& font);
    QColor textColor() const { return m_textColor; }
    virtual void setTextColor(const QColor& color);
    QColor shadowColor() const { return m_shadowColor; }
    void setShadowColor(const QColor& color);
    QSizeF shadowOffset() const { return m_shadowOffset; }
    void setShadowOffset(const QSizeF& offset);
    int textAlignment() const { return m_alignment; }
    void setTextAlignment(int alignment);
    int numberOfLines() const { return m_lines; }
    void setNumberOfLines(int lines);
    int lineBreakMode() const { return m_lineBreakMode; }
    void setLineBreakMode(int mode);
    // Above 0 (one-line labels only): a text wider than the label is drawn in a smaller font,
    // down to this pixel size, before it is elided. 0 (the default) keeps the font.
    qreal minimumFontSize() const { return m_minimumFontSize; }
    void setMinimumFontSize(qreal size);
    // The font the text is drawn in at the label's current width.
    QFont displayFont() const;

    QSizeF sizeThatFits(const QSizeF& size) const override;
    // The system fonts by point size (1 point = 1 pixel).
    static QFont systemFont(qreal size, bool bold = false);

protected:
    void drawRect(QPainter& painter) override;

private:
    // The size the text takes at `width`, measured anew.
    QSizeF measure(qreal width) const;

    QString m_text;
    QFont m_font = systemFont(17);
    QColor m_textColor = Qt::black;
    QColor m_shadowColor;
    QSizeF m_shadowOffset{0, -1};
    int m_alignment = TextAlignmentLeft;
    int m_lines = 1;
    int m_lineBreakMode = LineBreakByTruncatingTail;
    qreal m_minimumFontSize = 0;
    // Finding the shrunk font measures the text once per candidate size; it is kept for the
    // width it was found at until the text or the font settings change.
    mutable std::optional<QFont> m_fittedFont;
    mutable qreal m_fittedWidth = 0;
    LabelTextLayout m_textLayout;
};

// Draws `text` in `rect` as a label does (shared by labels and button titles).
void drawLabelText(QPainter& painter, const QRectF& rect, const QString& text, const QFont& font, const QColor& color,
                   const QColor& shadowColor, const QSizeF& shadowOffset, int alignment, int lines);

} // namespace platform::uikit
