#include "model/KRTolerantValue.h"

#include "platform/foundation/NumberText.h"

#include <QLocale>

#include <cmath>
#include <limits>

namespace {

constexpr qint64 kLongLongMax = std::numeric_limits<qint64>::max();

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

QString textOfDouble(double d)
{
    if (std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 9.2e18)
        return QString::number(qint64(d));
    return QString::number(d, 'g', QLocale::FloatingPointShortest);
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
    return platform::NumberText::integerValue(text);
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
        return platform::NumberText::truncatedInteger(value.toDouble());
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

double KRDouble(const QVariant& value)
{
    const int type = value.typeId();
    if (type == QMetaType::QString)
        return platform::NumberText::doubleValue(value.toString());
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

bool KRBoolean(const QVariant& value)
{
    const int type = value.typeId();
    if (type == QMetaType::QString)
        return platform::NumberText::boolValue(value.toString());
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
