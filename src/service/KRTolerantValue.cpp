#include "service/KRTolerantValue.h"

#include <QLocale>

#include <charconv>
#include <cmath>
#include <limits>

namespace {

constexpr qint64 kLongLongMax = std::numeric_limits<qint64>::max();
constexpr qint64 kLongLongMin = std::numeric_limits<qint64>::min();

bool isNullValue(const QVariant& value)
{
    return value.typeId() == QMetaType::Nullptr;
}

bool isIntegerType(int type)
{
    switch (type) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return true;
    default:
        return false;
    }
}

bool isFloatingType(int type)
{
    return type == QMetaType::Double || type == QMetaType::Float;
}

bool isUnsignedType(int type)
{
    return type == QMetaType::UInt || type == QMetaType::ULongLong || type == QMetaType::ULong
        || type == QMetaType::UShort || type == QMetaType::UChar;
}

qint64 integerOf(const QVariant& value)
{
    if (isUnsignedType(value.typeId())) {
        const qulonglong u = value.toULongLong();
        return u > qulonglong(kLongLongMax) ? kLongLongMax : qint64(u);
    }
    return value.toLongLong();
}

qint64 truncatedDouble(double d)
{
    if (std::isnan(d))
        return 0;
    // 2^63 is exactly representable; anything at or beyond it saturates.
    if (d >= 9223372036854775808.0)
        return kLongLongMax;
    if (d <= -9223372036854775808.0)
        return kLongLongMin;
    return qint64(d); // truncates toward zero
}

QString textOfDouble(double d)
{
    if (std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 9.2e18)
        return QString::number(qint64(d));
    return QString::number(d, 'g', QLocale::FloatingPointShortest);
}

qsizetype skipSpace(QStringView text, qsizetype i)
{
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    return i;
}

bool isDigit(QChar c)
{
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}

} // namespace

bool KRIsMissing(const QVariant& value)
{
    return !value.isValid() || isNullValue(value);
}

bool KRIsDictionary(const QVariant& value)
{
    return value.typeId() == QMetaType::QVariantMap;
}

bool KRIsArray(const QVariant& value)
{
    return value.typeId() == QMetaType::QVariantList;
}

bool KRIsString(const QVariant& value)
{
    return value.typeId() == QMetaType::QString;
}

bool KRIsNumber(const QVariant& value)
{
    const int type = value.typeId();
    return type == QMetaType::Bool || isIntegerType(type) || isFloatingType(type);
}

bool KRIsBooleanValue(const QVariant& value)
{
    return value.typeId() == QMetaType::Bool;
}

const QVariant* KRFirstValuePointer(const QVariantMap& dictionary, const QStringList& keys)
{
    for (const QString& key : keys) {
        const auto it = dictionary.constFind(key);
        if (it != dictionary.constEnd() && !KRIsMissing(it.value()))
            return &it.value();
    }
    return nullptr;
}

QVariant KRFirstValue(const QVariantMap& dictionary, const QStringList& keys)
{
    const QVariant* value = KRFirstValuePointer(dictionary, keys);
    return value ? *value : QVariant();
}

QString KRString(const QVariant& value)
{
    const int type = value.typeId();
    QString text;
    if (type == QMetaType::QString)
        text = value.toString();
    else if (type == QMetaType::Bool)
        text = value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    else if (isFloatingType(type))
        text = textOfDouble(value.toDouble());
    else if (isUnsignedType(type))
        text = QString::number(value.toULongLong());
    else if (isIntegerType(type))
        text = QString::number(value.toLongLong());
    if (text.isEmpty())
        return QString();
    return text;
}

QString KRFirstString(const QVariantMap& dictionary, const QStringList& keys)
{
    for (const QString& key : keys) {
        const auto it = dictionary.constFind(key);
        if (it == dictionary.constEnd())
            continue;
        QString text = KRString(it.value());
        if (!text.isNull())
            return text;
    }
    return QString();
}

qint64 KRLongLongFromText(QStringView text)
{
    qsizetype i = skipSpace(text, 0);
    bool negative = false;
    if (i < text.size() && (text.at(i) == u'+' || text.at(i) == u'-')) {
        negative = text.at(i) == u'-';
        ++i;
    }
    // Accumulate as a negative number so that the minimum value needs no special case.
    qint64 result = 0;
    bool saturated = false;
    for (; i < text.size() && isDigit(text.at(i)); ++i) {
        const int digit = text.at(i).unicode() - u'0';
        if (saturated)
            continue;
        if (result < (kLongLongMin + digit) / 10) {
            saturated = true;
            continue;
        }
        result = result * 10 - digit;
    }
    if (saturated)
        return negative ? kLongLongMin : kLongLongMax;
    if (negative)
        return result;
    return result == kLongLongMin ? kLongLongMax : -result;
}

qint64 KRLongLong(const QVariant& value)
{
    const int type = value.typeId();
    if (type == QMetaType::QString)
        return KRLongLongFromText(value.toString());
    if (type == QMetaType::Bool)
        return value.toBool() ? 1 : 0;
    if (isIntegerType(type))
        return integerOf(value);
    if (isFloatingType(type))
        return truncatedDouble(value.toDouble());
    return 0;
}

std::optional<qint64> KRIntegerValue(const QVariant& value)
{
    if (KRIsString(value) || KRIsNumber(value))
        return KRLongLong(value);
    return std::nullopt;
}

qint32 KRTruncatedInt32(qint64 value)
{
    return qint32(quint32(quint64(value)));
}

qint32 KRInt32(const QVariant& value)
{
    return KRTruncatedInt32(KRLongLong(value));
}

namespace {

double doubleFromText(QStringView text)
{
    qsizetype i = skipSpace(text, 0);
    QByteArray buffer;
    if (i < text.size() && (text.at(i) == u'+' || text.at(i) == u'-')) {
        if (text.at(i) == u'-')
            buffer.append('-');
        ++i;
    }
    qsizetype integerDigits = 0;
    qsizetype significantIntegerDigits = 0;
    qsizetype fractionDigits = 0;
    qsizetype leadingFractionZeros = 0;
    bool seenSignificantFraction = false;
    for (; i < text.size() && isDigit(text.at(i)); ++i) {
        buffer.append(char(text.at(i).unicode()));
        ++integerDigits;
        if (significantIntegerDigits > 0 || text.at(i) != u'0')
            ++significantIntegerDigits;
    }
    if (i < text.size() && text.at(i) == u'.') {
        qsizetype j = i + 1;
        QByteArray fraction;
        for (; j < text.size() && isDigit(text.at(j)); ++j) {
            fraction.append(char(text.at(j).unicode()));
            ++fractionDigits;
            if (!seenSignificantFraction && text.at(j) == u'0')
                ++leadingFractionZeros;
            else
                seenSignificantFraction = true;
        }
        if (integerDigits > 0 || fractionDigits > 0) {
            buffer.append('.');
            buffer.append(fraction);
            i = j;
        }
    }
    if (integerDigits == 0 && fractionDigits == 0)
        return 0.0;
    qint64 exponent = 0;
    if (i < text.size() && (text.at(i) == u'e' || text.at(i) == u'E')) {
        qsizetype j = i + 1;
        bool exponentNegative = false;
        if (j < text.size() && (text.at(j) == u'+' || text.at(j) == u'-')) {
            exponentNegative = text.at(j) == u'-';
            ++j;
        }
        if (j < text.size() && isDigit(text.at(j))) {
            qsizetype start = j;
            while (j < text.size() && isDigit(text.at(j)))
                ++j;
            exponent = KRLongLongFromText(text.mid(start, j - start));
            if (exponentNegative)
                exponent = -exponent;
            buffer.append('e');
            buffer.append(exponentNegative ? "-" : "");
            buffer.append(text.mid(start, j - start).toLatin1());
        }
    }
    double result = 0.0;
    const char* first = buffer.constData();
    const char* last = first + buffer.size();
    const auto parsed = std::from_chars(first, last, result, std::chars_format::general);
    if (parsed.ec == std::errc::result_out_of_range) {
        // Decide between overflow and underflow by the decimal magnitude of the text.
        const qint64 magnitude = significantIntegerDigits > 0
            ? significantIntegerDigits + exponent
            : exponent - leadingFractionZeros;
        const bool negative = buffer.startsWith('-');
        if (magnitude > 0)
            return negative ? -HUGE_VAL : HUGE_VAL;
        return negative ? -0.0 : 0.0;
    }
    if (parsed.ec != std::errc())
        return 0.0;
    return result;
}

} // namespace

double KRDouble(const QVariant& value)
{
    const int type = value.typeId();
    if (type == QMetaType::QString)
        return doubleFromText(value.toString());
    if (type == QMetaType::Bool)
        return value.toBool() ? 1.0 : 0.0;
    if (isFloatingType(type))
        return value.toDouble();
    if (isUnsignedType(type))
        return double(value.toULongLong());
    if (isIntegerType(type))
        return double(value.toLongLong());
    return 0.0;
}

namespace {

bool booleanFromText(QStringView text)
{
    qsizetype i = skipSpace(text, 0);
    if (i < text.size() && (text.at(i) == u'+' || text.at(i) == u'-'))
        ++i;
    while (i < text.size() && text.at(i) == u'0')
        ++i;
    if (i >= text.size())
        return false;
    const char16_t c = text.at(i).unicode();
    return c == u'Y' || c == u'y' || c == u'T' || c == u't' || (c >= u'1' && c <= u'9');
}

} // namespace

bool KRBoolean(const QVariant& value)
{
    const int type = value.typeId();
    if (type == QMetaType::QString)
        return booleanFromText(value.toString());
    if (type == QMetaType::Bool)
        return value.toBool();
    if (isFloatingType(type))
        return value.toDouble() != 0.0;
    if (isIntegerType(type))
        return isUnsignedType(type) ? value.toULongLong() != 0 : value.toLongLong() != 0;
    return false;
}

std::optional<bool> KRBooleanValue(const QVariant& value)
{
    if (KRIsString(value) || KRIsNumber(value))
        return KRBoolean(value);
    return std::nullopt;
}
