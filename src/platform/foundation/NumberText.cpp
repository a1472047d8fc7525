#include "platform/foundation/NumberText.h"

#include <QByteArray>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace platform::NumberText {
namespace {

constexpr qint64 kMax = std::numeric_limits<qint64>::max();
constexpr qint64 kMin = std::numeric_limits<qint64>::min();

qsizetype skipSpace(QStringView text, qsizetype i)
{
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    return i;
}

bool isDigit(QStringView text, qsizetype i)
{
    return i < text.size() && text.at(i).unicode() >= u'0' && text.at(i).unicode() <= u'9';
}

bool isSign(QStringView text, qsizetype i)
{
    return i < text.size() && (text.at(i) == u'+' || text.at(i) == u'-');
}

} // namespace

qint64 integerValue(QStringView text)
{
    qsizetype i = skipSpace(text, 0);
    const bool negative = i < text.size() && text.at(i) == u'-';
    if (isSign(text, i))
        ++i;
    // Accumulated as a negative number so that the minimum needs no special case.
    qint64 result = 0;
    bool saturated = false;
    for (; isDigit(text, i); ++i) {
        const int digit = text.at(i).unicode() - u'0';
        if (saturated || result < (kMin + digit) / 10) {
            saturated = true;
            continue;
        }
        result = result * 10 - digit;
    }
    if (saturated)
        return negative ? kMin : kMax;
    if (negative)
        return result;
    return result == kMin ? kMax : -result;
}

double doubleValue(QStringView text)
{
    qsizetype i = skipSpace(text, 0);
    QByteArray number;
    if (isSign(text, i) && text.at(i++) == u'-')
        number.append('-');
    // The decimal magnitude of the text tells overflow from underflow when the parse
    // reports the value out of range.
    qsizetype integerDigits = 0, significantIntegerDigits = 0, fractionDigits = 0, leadingFractionZeros = 0;
    for (; isDigit(text, i); ++i, ++integerDigits) {
        number.append(char(text.at(i).unicode()));
        if (significantIntegerDigits > 0 || text.at(i) != u'0')
            ++significantIntegerDigits;
    }
    if (i < text.size() && text.at(i) == u'.') {
        qsizetype j = i + 1;
        QByteArray fraction;
        for (; isDigit(text, j); ++j, ++fractionDigits) {
            fraction.append(char(text.at(j).unicode()));
            if (leadingFractionZeros == fractionDigits && text.at(j) == u'0')
                ++leadingFractionZeros;
        }
        if (integerDigits > 0 || fractionDigits > 0) {
            number.append('.').append(fraction);
            i = j;
        }
    }
    if (integerDigits == 0 && fractionDigits == 0)
        return 0.0;
    qint64 exponent = 0;
    if (i < text.size() && (text.at(i) == u'e' || text.at(i) == u'E')) {
        qsizetype j = i + 1;
        const bool exponentNegative = j < text.size() && text.at(j) == u'-';
        if (isSign(text, j))
            ++j;
        if (isDigit(text, j)) {
            const qsizetype start = j;
            while (isDigit(text, j))
                ++j;
            const QStringView digits = text.mid(start, j - start);
            // Clamped so the magnitude below cannot overflow; far beyond any double's range.
            exponent = std::min<qint64>(integerValue(digits), 1'000'000'000'000);
            exponent = exponentNegative ? -exponent : exponent;
            number.append(exponentNegative ? "e-" : "e").append(digits.toLatin1());
        }
    }
    double result = 0.0;
    const auto parsed = std::from_chars(number.constData(), number.constData() + number.size(), result,
                                        std::chars_format::general);
    if (parsed.ec == std::errc::result_out_of_range) {
        const qint64 magnitude = significantIntegerDigits > 0 ? significantIntegerDigits + exponent
                                                              : exponent - leadingFractionZeros;
        const bool negative = number.startsWith('-');
        if (magnitude > 0)
            return negative ? -HUGE_VAL : HUGE_VAL;
        return negative ? -0.0 : 0.0;
    }
    return parsed.ec == std::errc() ? result : 0.0;
}

bool boolValue(QStringView text)
{
    qsizetype i = skipSpace(text, 0);
    if (isSign(text, i))
        ++i;
    while (i < text.size() && text.at(i) == u'0')
        ++i;
    if (i >= text.size())
        return false;
    const char16_t c = text.at(i).unicode();
    return c == u'Y' || c == u'y' || c == u'T' || c == u't' || (c >= u'1' && c <= u'9');
}

qint64 truncatedInteger(double value)
{
    if (std::isnan(value))
        return 0;
    // 2^63 is exactly representable; anything at or beyond it saturates.
    if (value >= 9223372036854775808.0)
        return kMax;
    if (value <= -9223372036854775808.0)
        return kMin;
    return qint64(value);
}

} // namespace platform::NumberText
