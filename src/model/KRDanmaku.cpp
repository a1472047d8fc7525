#include "model/KRDanmaku.h"

#include "model/KRDanmakuXMLParser.h"
#include "model/KRTolerantValue.h"

#include <QTextBoundaryFinder>

#include <charconv>
#include <cmath>
#include <limits>

namespace {

constexpr int kRequiredFields = 4;
constexpr int kKnownFields = 8;
constexpr double kDefaultFontSize = 25;
constexpr double kMinimumFontSize = 12;
constexpr double kMaximumFontSize = 64;
constexpr quint32 kColorMask = 0xFFFFFF;

// Line breaks as the platform counts them; each becomes one space.
bool isLineBreak(char16_t c)
{
    return (c >= 0x000A && c <= 0x000D) || c == 0x0085 || c == 0x2028 || c == 0x2029;
}

bool isTrimmed(char16_t c)
{
    return KRDanmaku::isTrimmedCharacter(c);
}


// The end of the character that contains the unit at `position`: `position` itself when a
// character starts there, else the next grapheme boundary. When the text was cut short
// (`continues`) and that character may run on past its end, the character is left out
// instead, so the result never splits one either way.
qsizetype characterEnd(const QString& text, qsizetype position, bool continues)
{
    // Grapheme rules look back (regional-indicator pairs, emoji sequences), so the finder
    // always starts at the text's beginning; a short window ahead is enough in practice.
    constexpr qsizetype kLookAhead = 64;
    const qsizetype length = text.size();
    qsizetype window = std::min(length, position + kLookAhead);
    for (;;) {
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text.constData(), window);
        finder.setPosition(position);
        if (finder.isAtBoundary())
            return position;
        const qsizetype next = finder.toNextBoundary();
        if (next > 0 && next < window)
            return next;
        if (window < length) {
            window = length;  // The character reaches the window's end: look at all of it.
            continue;
        }
        if (!continues && next == length)
            return length;
        finder.setPosition(position);
        const qsizetype previous = finder.toPreviousBoundary();
        return previous > 0 ? previous : 0;
    }
}

QString displayText(QStringView raw, bool continues)
{
    if (raw.isNull())
        return {};
    qsizetype begin = 0;
    qsizetype end = raw.size();
    while (begin < end && isTrimmed(raw[begin].unicode()))
        ++begin;
    if (!continues) {
        while (end > begin && isTrimmed(raw[end - 1].unicode()))
            --end;
    }
    if (begin == end)
        return {};
    QString text = raw.sliced(begin, end - begin).toString();
    for (QChar& c : text) {
        if (isLineBreak(c.unicode()))
            c = QLatin1Char(' ');
    }
    if (text.size() > KRDanmaku::maximumTextLength) {
        const qsizetype cut = characterEnd(text, KRDanmaku::maximumTextLength, continues);
        text.truncate(cut);
        if (text.isEmpty())
            return {};
    }
    return text;
}

// The platform's integer value of text: the decimal prefix, saturating at the 32-bit limits.
qint32 int32FromText(QStringView text)
{
    const qint64 value = KRLongLongFromText(text);
    return qint32(std::clamp<qint64>(value, std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max()));
}

// The platform's double value of text (a decimal prefix after white space). The fields of a
// danmaku are nearly always plain decimals, read here without allocating; anything else
// takes the general reading.
double doubleFromText(QStringView text)
{
    constexpr qsizetype kPlainLength = 32;
    if (!text.isEmpty() && text.size() <= kPlainLength) {
        char buffer[kPlainLength];
        bool plain = true;
        bool point = false;
        for (qsizetype i = 0; i < text.size() && plain; ++i) {
            const char16_t c = text[i].unicode();
            if (c == u'.' && !point && i > 0 && i + 1 < text.size())
                point = true;
            else if (c < u'0' || c > u'9')
                plain = false;
            buffer[i] = char(c);
        }
        double value = 0;
        if (plain && std::from_chars(buffer, buffer + text.size(), value).ec == std::errc())
            return value;
    }
    return KRDouble(QVariant(text.toString()));
}

} // namespace

// Every separator (Zs, Zl, Zp), tab, the line breaks and NEL.
bool KRDanmaku::isTrimmedCharacter(char16_t c)
{
    if (c == 0x0020 || (c >= 0x0009 && c <= 0x000D))
        return true;
    if (c < 0x0085)
        return false;
    if (c == 0x0085)
        return true;
    const QChar::Category category = QChar(c).category();
    return category == QChar::Separator_Space || category == QChar::Separator_Line ||
           category == QChar::Separator_Paragraph;
}

std::shared_ptr<KRDanmaku> KRDanmaku::danmakuWithParameterString(QStringView parameterString, QStringView text)
{
    return danmakuWithParameterString(parameterString, text, false);
}

std::shared_ptr<KRDanmaku> KRDanmaku::danmakuWithParameterString(QStringView parameterString, QStringView text,
                                                                 bool textContinues)
{
    if (parameterString.isNull())
        return nullptr;
    QStringView fields[kKnownFields];
    int count = 0;
    for (QStringView field : parameterString.tokenize(u',')) {
        if (count < kKnownFields)
            fields[count] = field;
        ++count;
    }
    if (count < kRequiredFields)
        return nullptr;

    const double time = doubleFromText(fields[0]);
    if (!std::isfinite(time) || time < 0 || time > maximumTime)
        return nullptr;
    QString body = displayText(text, textContinues);
    if (body.isEmpty())
        return nullptr;

    auto danmaku = std::make_shared<KRDanmaku>();
    danmaku->m_time = time;
    const qint32 mode = int32FromText(fields[1]);
    danmaku->m_mode = (mode >= 1 && mode <= 9) ? mode : 1;
    const double fontSize = doubleFromText(fields[2]);
    danmaku->m_fontSize = (!std::isfinite(fontSize) || fontSize <= 0)
                              ? kDefaultFontSize
                              : std::clamp(fontSize, kMinimumFontSize, kMaximumFontSize);
    danmaku->m_colorRGB = quint32(KRLongLongFromText(fields[3])) & kColorMask;
    if (count > 4)
        danmaku->m_sentAt = doubleFromText(fields[4]);
    if (count > 5)
        danmaku->m_pool = int32FromText(fields[5]);
    if (count > 6)
        danmaku->m_senderHash = fields[6].toString();
    if (count > 7)
        danmaku->m_danmakuID = KRLongLongFromText(fields[7]);
    danmaku->m_text = std::move(body);
    return danmaku;
}

KRDanmakuList KRDanmaku::danmakusFromXMLData(const QByteArray& data, KROptionalError* error)
{
    return KRDanmakuXMLParser::parse(data, error);
}
