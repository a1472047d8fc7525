#pragma once

#include <QColor>
#include <QFont>
#include <QList>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <optional>

namespace platform::uikit {

// The space a run delegate claims for one character: an inline box of its own ascent,
// descent and width in place of the character's glyph.
struct TextRunDelegate {
    qreal ascent = 0;
    qreal descent = 0;
    qreal width = 0;
};

// A text with attributes for TextFrame to lay out: one font, a colour per range, a fixed line
// height, inline boxes (run delegates) on single characters and custom attributes per range.
// Lines break between any two characters.
class AttributedString {
public:
    struct Attributes {
        std::optional<QColor> color;
        std::optional<TextRunDelegate> delegate;
        QVariantMap custom;
    };
    struct Span {
        int location = 0;
        int length = 0;
        Attributes attributes;
    };

    AttributedString() = default;
    explicit AttributedString(const QString& text) : m_text(text) {}

    QString text() const { return m_text; }
    int length() const { return int(m_text.size()); }

    QFont font() const { return m_font; }
    void setFont(const QFont& font) { m_font = font; }
    QColor color() const { return m_color; }
    void setColor(const QColor& color) { m_color = color; }
    // Every line exactly this high (0: the font's line spacing).
    qreal lineHeight() const { return m_lineHeight; }
    void setLineHeight(qreal height) { m_lineHeight = height; }

    // Ranges outside the text are clipped to it; an empty range sets nothing.
    void setColor(int location, int length, const QColor& color);
    void setRunDelegate(int location, const TextRunDelegate& delegate);
    void setAttribute(int location, int length, const QString& name, const QVariant& value);

    // The spans that differ from the whole text's attributes, in order, never overlapping.
    const QList<Span>& spans() const { return m_spans; }
    // The attributes at one index.
    Attributes attributesAt(int index) const;

private:
    template <typename Apply>
    void apply(int location, int length, Apply apply);

    QString m_text;
    QFont m_font;
    QColor m_color = Qt::black;
    qreal m_lineHeight = 0;
    QList<Span> m_spans;
};

} // namespace platform::uikit
