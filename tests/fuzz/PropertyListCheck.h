#pragma once

#include "FuzzInput.h"

#include "platform/foundation/PropertyList.h"

#include <QDateTime>
#include <QVariantList>
#include <QVariantMap>

#include <cmath>

namespace fuzz {

// The second a date falls in, as XML writes it: floored, so that 1969-12-31T23:59:58.5 is
// 23:59:58 (QDateTime::toSecsSinceEpoch truncates towards zero).
inline qint64 wholeSeconds(const QDateTime& date)
{
    const qint64 milliseconds = date.toMSecsSinceEpoch();
    return milliseconds / 1000 - (milliseconds % 1000 < 0 ? 1 : 0);
}

// Values equal as a property list holds them: NaN equals NaN, and with `secondsOnly` dates
// compare to the second (XML dates carry no fraction).
inline bool samePropertyList(const QVariant& a, const QVariant& b, bool secondsOnly)
{
    if (a.typeId() != b.typeId())
        return false;
    switch (a.typeId()) {
    case QMetaType::QVariantMap: {
        const QVariantMap left = a.toMap();
        const QVariantMap right = b.toMap();
        if (left.size() != right.size())
            return false;
        for (auto l = left.cbegin(), r = right.cbegin(); l != left.cend(); ++l, ++r) {
            if (l.key() != r.key() || !samePropertyList(l.value(), r.value(), secondsOnly))
                return false;
        }
        return true;
    }
    case QMetaType::QVariantList: {
        const QVariantList left = a.toList();
        const QVariantList right = b.toList();
        if (left.size() != right.size())
            return false;
        for (qsizetype i = 0; i < left.size(); ++i) {
            if (!samePropertyList(left[i], right[i], secondsOnly))
                return false;
        }
        return true;
    }
    case QMetaType::Double: {
        const double left = a.toDouble();
        const double right = b.toDouble();
        return left == right || (std::isnan(left) && std::isnan(right));
    }
    case QMetaType::QDateTime:
        if (secondsOnly)
            return wholeSeconds(a.toDateTime()) == wholeSeconds(b.toDateTime());
        return a.toDateTime() == b.toDateTime();
    default:
        return a == b;
    }
}

// What a store relies on: a value it can hold is written in both forms and read back as it was.
inline void checkWritesAndReadsBack(const QVariant& value)
{
    const QVariant expected = platform::PropertyList::normalized(value);
    check(expected.isValid(), "a representable value normalises");
    const QByteArray binary = platform::PropertyList::toBinary(value);
    check(!binary.isEmpty(), "a representable value is written in binary");
    check(samePropertyList(platform::PropertyList::parse(binary), expected, false), "a binary list reads back as written");
    const QByteArray xml = platform::PropertyList::toXML(value);
    check(!xml.isEmpty(), "a representable value is written as XML");
    check(samePropertyList(platform::PropertyList::parse(xml), expected, true), "an XML list reads back as written");
}

} // namespace fuzz
