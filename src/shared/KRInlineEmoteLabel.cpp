#include "shared/KRInlineEmoteLabel.h"

#include "platform/uikit/TextFrame.h"
#include "platform/uikit/TextMeasurement.h"
#include "images/KRImageLoader.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QSet>
#include <QVarLengthArray>

#include <algorithm>
#include <cmath>
#include <limits>

using platform::uikit::AttributedString;
using platform::uikit::Image;
using platform::uikit::Label;
using platform::uikit::TextFrame;

namespace {

constexpr qreal kMinimumLineHeight = 17;
// Tall enough that no message is cut when only its lines are counted.
constexpr qreal kUnboundedHeight = 32768;   // plain measurement's height when unlimited
constexpr int kHeightCacheEntries = 128;
const QChar kObjectReplacement(0xFFFC);

QString emoteURL(const QVariant& value)
{
    // Records come as maps; reading one in place spares a copy of it per token per row.
    if (value.typeId() == QMetaType::QVariantMap) {
        const auto& record = *static_cast<const QVariantMap*>(value.constData());
        const auto url = record.constFind(QStringLiteral("url"));
        return url != record.cend() && url->typeId() == QMetaType::QString ? url->toString() : QString();
    }
    const QVariant url = value.toMap().value(QStringLiteral("url"));
    return url.typeId() == QMetaType::QString ? url.toString() : QString();
}

QFont defaultFont() { return Label::systemFont(13); }

// What measuring reads of a font. Rows ask with one or two fonts over and over, and metrics
// look their font engine up each time they are made; the last font's are kept (main thread
// only, like every caller).
struct FontFigures {
    qreal lineSpacing = 0;
    qreal ascent = 0;
};

const FontFigures& figures(const QFont& font)
{
    static QFont measured;
    static std::optional<FontFigures> kept;
    if (!kept || !(font == measured)) {
        const QFontMetricsF fm(font);
        measured = font;
        kept = FontFigures{fm.lineSpacing(), fm.ascent()};
    }
    return *kept;
}

// A replaced token: where its U+FFFC stands in the text, and its picture's address.
struct EmoteBox {
    qsizetype location = 0;
    QString url;
    QString token;
};

struct ParsedMessage {
    QString text;
    QList<EmoteBox> boxes;
};

// A map's tokens with their pictures' addresses, read once per message: in the map's (compare)
// order, as the height's key lists them.
struct EmoteToken {
    const QString* token = nullptr;
    QString url;
};
using EmoteTokens = QVarLengthArray<EmoteToken, 8>;

EmoteTokens emoteTokens(const KREmoteMap& emotes)
{
    EmoteTokens tokens;
    tokens.reserve(emotes.size());
    for (auto it = emotes.cbegin(); it != emotes.cend(); ++it)
        tokens.append(EmoteToken{&it.key(), emoteURL(it.value())});
    return tokens;
}

ParsedMessage parseMessage(const QString& message, EmoteTokens tokens)
{
    if (tokens.isEmpty() || message.isEmpty())
        return {message.isNull() ? QStringLiteral("") : message, {}};
    // The longest token first, so that at any position the longest one present wins; tokens
    // of one length stay in compare order (a map holds a few: sorted in place).
    for (qsizetype i = 1; i < tokens.size(); ++i)
        for (qsizetype j = i; j > 0 && tokens[j].token->size() > tokens[j - 1].token->size(); --j)
            std::swap(tokens[j], tokens[j - 1]);
    // Where every token begins with one character (a bracket, as a rule), positions without
    // it are passed over in one search.
    std::optional<QChar> sharedFirst;
    for (const EmoteToken& token : std::as_const(tokens)) {
        if (token.token->isEmpty())
            continue;
        const QChar first = token.token->at(0);
        if (!sharedFirst) {
            sharedFirst = first;
        } else if (first != *sharedFirst) {
            sharedFirst.reset();
            break;
        }
    }
    ParsedMessage parsed;
    QString& text = parsed.text;
    const qsizetype length = message.size();
    qsizetype copied = 0;   // the message before this is in the text already
    for (qsizetype i = 0; i < length;) {
        if (sharedFirst) {
            i = message.indexOf(*sharedFirst, i);
            if (i < 0)
                break;
        }
        const EmoteToken* matched = nullptr;
        const QChar first = message.at(i);
        for (const EmoteToken& candidate : std::as_const(tokens)) {
            const QString& key = *candidate.token;
            if (key.isEmpty() || key.at(0) != first || i + key.size() > length)
                continue;
            if (QStringView(message).mid(i, key.size()) == key) {
                matched = &candidate;
                break;
            }
        }
        if (!matched) {
            ++i;
            continue;
        }
        // A token without a picture stays as it is written.
        if (!matched->url.isEmpty()) {
            if (text.isNull()) {
                text.reserve(length);
                parsed.boxes.reserve(4);
            }
            text.append(QStringView(message).mid(copied, i - copied));
            parsed.boxes << EmoteBox{text.size(), matched->url, *matched->token};
            text.append(kObjectReplacement);
            copied = i + matched->token->size();
        }
        i += matched->token->size();
    }
    if (parsed.boxes.isEmpty())
        text = message;
    else
        text.append(QStringView(message).mid(copied));
    return parsed;
}

// The height key's end: the width, the font and the line limit. Rows ask with one width, one
// or two fonts and one limit over and over, and describing a font or a number is not free;
// the last description is kept (main thread only, like every caller).
const QString& keyTail(qreal width, const QFont& font, unsigned maxLines)
{
    static qreal describedWidth = -1;
    static QFont describedFont;
    static unsigned describedLimit = 0;
    static QString description;
    if (description.isNull() || width != describedWidth || maxLines != describedLimit || !(font == describedFont)) {
        describedWidth = width;
        describedFont = font;
        describedLimit = maxLines;
        description = QString::number(width, 'f', 1) + u'|' + font.key() + u'|'
                      + QString::number(font.pixelSize() > 0 ? font.pixelSize() : font.pointSizeF(), 'f', 1) + u'|'
                      + QString::number(maxLines);
    }
    return description;
}

// The text as attributed text with a box at each of `boxes`; the pictures' addresses are
// only wanted for drawing.
AttributedString attributedText(const QString& text, const QList<EmoteBox>& boxes, const QFont& font, const QColor& color,
                                bool withAddresses)
{
    AttributedString string(text);
    if (string.length() == 0)
        return string;
    const qreal lineHeight = KRInlineEmoteLineHeight(font);
    string.setFont(font);
    string.setColor(color);
    string.setLineHeight(lineHeight);
    // Each emote is a square one line high, sitting on the baseline as the text's ascent does.
    const qreal ascent = std::min(lineHeight, std::max<qreal>(1, std::ceil(figures(font).ascent)));
    const platform::uikit::TextRunDelegate box{ascent, std::max<qreal>(0, lineHeight - ascent), lineHeight};
    for (const EmoteBox& item : boxes) {
        if (item.location < 0 || item.location >= string.length())
            continue;
        string.setRunDelegate(int(item.location), box);
        if (withAddresses)
            string.setAttribute(int(item.location), 1, KRInlineEmoteURLAttribute, item.url);
    }
    return string;
}

} // namespace

qreal KRInlineEmoteLineHeight(const QFont& font)
{
    return std::max(std::ceil(figures(font).lineSpacing), kMinimumLineHeight);
}

KRInlineEmoteContent KRInlineEmoteParse(const QString& message, const KREmoteMap& emotes)
{
    const ParsedMessage parsed = parseMessage(message, emoteTokens(emotes));
    QVariantList items;
    for (const EmoteBox& box : parsed.boxes)
        items << QVariantMap{{QStringLiteral("location"), qulonglong(box.location)},
                             {QStringLiteral("url"), box.url},
                             {QStringLiteral("token"), box.token}};
    return {{QStringLiteral("text"), parsed.text}, {QStringLiteral("items"), items}};
}

AttributedString KRInlineEmoteCreateAttributedString(const KRInlineEmoteContent& content, const std::optional<QFont>& font,
                                                     const std::optional<QColor>& color)
{
    QList<EmoteBox> boxes;
    for (const QVariant& entry : content.value(QStringLiteral("items")).toList()) {
        const QVariantMap item = entry.toMap();
        const qulonglong location = item.value(QStringLiteral("location")).toULongLong();
        if (location <= qulonglong(std::numeric_limits<qsizetype>::max()))
            boxes << EmoteBox{qsizetype(location), item.value(QStringLiteral("url")).toString(), {}};
    }
    return attributedText(content.value(QStringLiteral("text")).toString(), boxes, font.value_or(defaultFont()),
                          color.value_or(QColor(Qt::black)), true);
}

QCache<QString, qreal>& KRInlineEmoteHeightCache()
{
    // Main thread only, like every caller; a function-local static is made once regardless.
    static QCache<QString, qreal> cache(kHeightCacheEntries);
    return cache;
}

KRInlineEmoteLabel::KRInlineEmoteLabel(const QRectF& frame, platform::uikit::View* superview) : Label(frame, superview)
{
    setBackgroundColor(QBrush(Qt::NoBrush));
}

KRInlineEmoteLabel::~KRInlineEmoteLabel() { ++m_generation; }

void KRInlineEmoteLabel::setFont(const QFont& font)
{
    Label::setFont(font);
    if (!m_parsedContent.isEmpty())
        rebuildInlineAttributedText();
}

void KRInlineEmoteLabel::setTextColor(const QColor& color)
{
    Label::setTextColor(color);
    if (!m_parsedContent.isEmpty())
        rebuildInlineAttributedText();
}

void KRInlineEmoteLabel::rebuildInlineAttributedText()
{
    m_attributedText.reset();
    m_frame.reset();
    if (m_parsedContent.value(QStringLiteral("items")).toList().isEmpty())
        return;
    m_attributedText = KRInlineEmoteCreateAttributedString(m_parsedContent, font(), textColor());
    setNeedsDisplay();
}

void KRInlineEmoteLabel::configureWithMessage(const QString& message, const KREmoteMap& emotes)
{
    const quint32 generation = ++m_generation;
    m_sourceMessage = message.isNull() ? QStringLiteral("") : message;
    m_emotes = emotes;
    m_parsedContent = KRInlineEmoteParse(m_sourceMessage, m_emotes);
    m_loadedImages.clear();
    setText(m_parsedContent.value(QStringLiteral("text")).toString());
    setAccessibilityLabel(m_sourceMessage);
    rebuildInlineAttributedText();

    QSet<QString> requested;
    for (const QVariant& entry : m_parsedContent.value(QStringLiteral("items")).toList()) {
        const QString url = entry.toMap().value(QStringLiteral("url")).toString();
        if (url.isEmpty() || requested.contains(url))
            continue;
        requested.insert(url);
        KRImageLoader::sharedLoader()->loadImageForURLString(url, this, [this, url, generation](const Image& image) {
            if (image.isNull() || generation != m_generation || m_emotes.isEmpty())
                return;
            m_loadedImages.insert(url, image);
            setNeedsDisplay();
        });
    }
}

const TextFrame* KRInlineEmoteLabel::frameForSize(const QSizeF& size) const
{
    if (!m_attributedText)
        return nullptr;
    if (!m_frame || m_frame->rect().size() != size)
        m_frame = std::make_unique<TextFrame>(*m_attributedText, QRectF(QPointF(), size));
    return m_frame.get();
}

QList<QPair<QString, QRectF>> KRInlineEmoteLabel::emoteImageRectsInSize(const QSizeF& size) const
{
    QList<QPair<QString, QRectF>> placed;
    const TextFrame* frame = frameForSize(size);
    if (!frame)
        return placed;
    for (const platform::uikit::TextLine& line : frame->lines()) {
        for (const platform::uikit::TextRun& run : line.runs) {
            const QString url = run.attributes.custom.value(KRInlineEmoteURLAttribute).toString();
            if (url.isEmpty() || !m_loadedImages.contains(url))
                continue;
            QRectF box = run.typographicBounds();
            const QSizeF imageSize = m_loadedImages.value(url).size();
            if (imageSize.width() > 0 && imageSize.height() > 0) {
                // Fitted inside the box, centred on whole points.
                const qreal scale = std::min(box.width() / imageSize.width(), box.height() / imageSize.height());
                const QSizeF drawn = imageSize * scale;
                box = QRectF(box.x() + std::floor((box.width() - drawn.width()) / 2),
                             box.y() + std::floor((box.height() - drawn.height()) / 2), drawn.width(), drawn.height());
            }
            placed << qMakePair(url, box);
        }
    }
    return placed;
}

void KRInlineEmoteLabel::drawRect(QPainter& painter)
{
    if (!m_attributedText || m_parsedContent.value(QStringLiteral("items")).toList().isEmpty()) {
        Label::drawRect(painter);
        return;
    }
    const QSizeF size = frame().size();
    if (size.width() <= 0 || size.height() <= 0)
        return;
    frameForSize(size)->draw(painter);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    for (const auto& [url, rect] : emoteImageRectsInSize(size))
        m_loadedImages.value(url).draw(painter, rect);
}

qreal KRInlineEmoteLabel::heightForMessage(const QString& message, const KREmoteMap& emotes, qreal width,
                                           const std::optional<QFont>& fontOrNone, unsigned maxLines)
{
    static const QFont systemFont = defaultFont();
    const QFont& font = fontOrNone ? *fontOrNone : systemFont;
    const qreal w = std::max<qreal>(width, 1);
    const EmoteTokens tokens = emoteTokens(emotes);
    const QString& tail = keyTail(w, font, maxLines);
    // The key, written in one piece: message|signature|tail. A map's keys come sorted already,
    // in the order the signature wants.
    qsizetype size = message.size() + 2 + tail.size();
    for (const EmoteToken& token : tokens)
        size += token.token->size() + token.url.size() + 2;
    QString key(size, Qt::Uninitialized);
    QChar* out = key.data();
    const auto put = [&out](QStringView piece) { out = std::copy(piece.begin(), piece.end(), out); };
    put(message);
    *out++ = u'|';
    for (const EmoteToken& token : tokens) {
        put(*token.token);
        *out++ = u'=';
        put(token.url);
        *out++ = u';';
    }
    *out++ = u'|';
    put(tail);
    QCache<QString, qreal>& cache = KRInlineEmoteHeightCache();
    if (const qreal* cached = cache.object(key))
        return *cached;

    const qreal lineHeight = KRInlineEmoteLineHeight(font);
    // Without emotes the display text is the message itself.
    const ParsedMessage parsed = tokens.isEmpty() ? ParsedMessage() : parseMessage(message, tokens);
    const QString& displayText = tokens.isEmpty() ? message : parsed.text;
    qreal height = 0;
    if (!parsed.boxes.isEmpty()) {
        const AttributedString string = attributedText(parsed.text, parsed.boxes, font, QColor(Qt::black), false);
        // Only the count is wanted.
        int lines = TextFrame::lineCount(string, w);
        lines = std::max(lines, 1);
        if (maxLines > 0 && unsigned(lines) >= maxLines)
            lines = int(maxLines);
        height = std::max(lineHeight, lines * lineHeight);
    } else {
        const qreal cap = maxLines > 0 ? maxLines * lineHeight : kUnboundedHeight;
        const QSizeF measured = platform::uikit::sizeWithFont(displayText, font,
                                                              QSizeF(w, cap), platform::uikit::LineBreakByCharWrapping);
        height = std::max(std::ceil(figures(font).lineSpacing), std::ceil(measured.height()));
        if (maxLines > 0)
            height = std::min(height, maxLines * lineHeight);
    }
    cache.insert(key, new qreal(height), 1);
    return height;
}
