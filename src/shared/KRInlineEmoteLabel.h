#pragma once

#include "model/KREmoteMap.h"
#include "platform/uikit/AttributedString.h"
#include "platform/uikit/Image.h"
#include "platform/uikit/Label.h"

#include <QCache>
#include <QColor>
#include <QFont>
#include <QHash>
#include <QRectF>
#include <QString>
#include <QVariantMap>

#include <memory>
#include <optional>

namespace platform::uikit {
class TextFrame;
}

// A message with its emote tokens replaced: "text" (each replaced token one U+FFFC) and
// "items", in text order, each {"location" (qulonglong, the U+FFFC's UTF-16 index), "url",
// "token"}.
using KRInlineEmoteContent = QVariantMap;

// The attribute naming an emote's picture address on its U+FFFC.
inline const QString KRInlineEmoteURLAttribute = QStringLiteral("KRInlineEmoteURL");

// Replaces every token of `emotes` whose "url" is non-empty text, the longest token first at
// each position.
KRInlineEmoteContent KRInlineEmoteParse(const QString& message, const KREmoteMap& emotes);

// The content as attributed text in `font` and `color` (system 13 and black when absent): lines
// of the emote line height, broken between characters, each emote an inline square box one
// line high whose glyph is clear.
platform::uikit::AttributedString KRInlineEmoteCreateAttributedString(const KRInlineEmoteContent& content,
                                                            const std::optional<QFont>& font = std::nullopt,
                                                            const std::optional<QColor>& color = std::nullopt);

// The emote line height of a font: its line spacing rounded up, at least 17.
qreal KRInlineEmoteLineHeight(const QFont& font);

// Message heights by every input that changes them, shared by the process.
QCache<QString, qreal>& KRInlineEmoteHeightCache();   // maxCost 128, cost 1 per entry

// A label showing a message with its emotes drawn in the text flow, each a square picture one
// line high. Pictures that arrive for an earlier configuration are dropped.
class KRInlineEmoteLabel : public platform::uikit::Label {
    Q_OBJECT

public:
    explicit KRInlineEmoteLabel(const QRectF& frame = QRectF(), platform::uikit::View* superview = nullptr);
    ~KRInlineEmoteLabel() override;

    void configureWithMessage(const QString& message, const KREmoteMap& emotes);
    static qreal heightForMessage(const QString& message, const KREmoteMap& emotes, qreal width,
                                  const std::optional<QFont>& font = std::nullopt /* Label::systemFont(13) */,
                                  unsigned maxLines = 0);

    void setFont(const QFont& font) override;
    void setTextColor(const QColor& color) override;

    KRInlineEmoteContent parsedContent() const { return m_parsedContent; }
    // The pictures loaded for the current configuration, by address.
    const QHash<QString, platform::uikit::Image>& loadedImages() const { return m_loadedImages; }
    // Where each emote's picture is drawn in a rectangle of `size`, by picture address (only
    // those loaded), as drawing places them.
    QList<QPair<QString, QRectF>> emoteImageRectsInSize(const QSizeF& size) const;

protected:
    void drawRect(QPainter& painter) override;

private:
    void rebuildInlineAttributedText();
    // The laid-out text for a rectangle of `size`, kept until the text or the size changes.
    const platform::uikit::TextFrame* frameForSize(const QSizeF& size) const;

    QString m_sourceMessage;
    KREmoteMap m_emotes;
    KRInlineEmoteContent m_parsedContent;
    QHash<QString, platform::uikit::Image> m_loadedImages;
    std::optional<platform::uikit::AttributedString> m_attributedText;
    mutable std::unique_ptr<platform::uikit::TextFrame> m_frame;
    quint32 m_generation = 0;
};
