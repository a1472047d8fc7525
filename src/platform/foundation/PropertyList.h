#pragma once

#include "platform/foundation/Error.h"

#include <QByteArray>
#include <QVariant>

namespace platform {

// Property lists (XML and binary) and their QVariant form:
// dict ↔ QVariantMap, array ↔ QVariantList, string ↔ QString, integer ↔ qint64 (values above
// INT64_MAX as quint64), real ↔ double, bool ↔ bool, data ↔ QByteArray, date ↔ QDateTime (UTC).
namespace PropertyList {

// Empty QByteArray when the value is not representable.
QByteArray toXML(const QVariant& value);
QByteArray toBinary(const QVariant& value);
// toBinary() of a value that is already as normalized() gives it (built from normalized parts
// or read by parse()), without normalizing it again; empty when a part is of a type
// normalized() never gives.
QByteArray toBinaryOfNormalized(const QVariant& normalizedValue);

// XML or binary, detected from the content. Invalid QVariant and an error of the domain
// "PropertyList" for corrupt or truncated input, and for values the writers could not give
// back as read (strings holding U+0000, dates outside the years 1 to 9999): whatever parses
// is representable and writes back unchanged (XML dates to the whole second).
QVariant parse(const QByteArray& data, Error* error = nullptr);

// As parse(), except that a value the writers could not give back is left out of the array or
// dictionary holding it (with its key), counted in *dropped, so that one odd value does not
// cost every other; corrupt input, nesting too deep and an unreadable root are still refused.
QVariant parseDroppingUnreadable(const QByteArray& data, int* dropped = nullptr, Error* error = nullptr);

// Maps with string keys (also QVariantHash), lists (also QStringList), QString, bool, any
// integer type, float/double, QByteArray and valid QDateTime in the years 1 to 9999 (UTC).
// Not null, not strings containing U+0000.
bool isRepresentable(const QVariant& value);

// The value as parse() would give it back (integer types → qint64/quint64, float → double,
// QVariantHash → QVariantMap, QStringList → QVariantList, dates → UTC, a surrogate without
// its partner in a string or key → U+FFFD); invalid QVariant when not representable.
QVariant normalized(const QVariant& value);

inline const QString& errorDomain()
{
    static const QString domain = QStringLiteral("PropertyList");
    return domain;
}

} // namespace PropertyList
} // namespace platform
