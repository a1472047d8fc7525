#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>
#include <QVariant>
#include <QVariantMap>

#include <optional>

// Tolerant reading of the service's JSON. The service writes the same field as a number in
// one reply and as text in the next, sends null where a value is unknown, and renames keys
// between endpoints; every model reads its fields through these helpers so that one reply
// shape can never crash or silently zero a field another shape fills.
//
// Conventions shared by every helper here:
// - "missing" means an invalid QVariant (absent key) or a JSON null (a QVariant holding
//   std::nullptr_t, as the JSON parser produces). Both read as nil / 0 / false.
// - A "number" is any arithmetic QVariant (integers of every width, floating values and
//   booleans, which the service's JSON mixes freely). Text is a QString.
// - Numbers read from text follow the classic C-library style prefix rule: leading white
//   space skipped, an optional sign, then as many decimal digits as follow ("123abc" is 123,
//   "abc" is 0), saturating at the 64-bit limits instead of wrapping.

// True for an absent value and for JSON null: a field the reply did not really give.
bool KRIsMissing(const QVariant& value);
// True for a JSON object (QVariantMap).
bool KRIsDictionary(const QVariant& value);
// True for a JSON array (QVariantList).
bool KRIsArray(const QVariant& value);
// True for text.
bool KRIsString(const QVariant& value);
// True for any arithmetic value, booleans included.
bool KRIsNumber(const QVariant& value);
// True only for a JSON boolean (true/false), not for a number that happens to be 0 or 1:
// some replies use a boolean "state" with a meaning of its own.
bool KRIsBooleanValue(const QVariant& value);

// The value of the first key in `keys` whose value is present and not null; an invalid
// QVariant when none is. Keys are tried in order because the service renames fields between
// endpoints and the first name is the most specific one.
QVariant KRFirstValue(const QVariantMap& dictionary, const QStringList& keys);
// Like KRFirstValue, but returns a pointer into `dictionary` (nullptr when none) so hot paths
// avoid copying the value. Valid only as long as `dictionary` is alive and unchanged.
const QVariant* KRFirstValuePointer(const QVariantMap& dictionary, const QStringList& keys);

// Text form of a value: text stays itself, a number gives its decimal text (a whole floating
// value without fraction, 12.0 → "12"; otherwise the shortest text that reads back the same,
// 1.5 → "1.5"; a boolean "1" or "0"), anything else nil. An empty result is nil too, so
// callers test one condition for "no usable text".
QString KRString(const QVariant& value);
// The first key whose KRString is non-nil. Unlike KRString(KRFirstValue(...)), an empty text
// under an earlier key does not hide a usable one under a later key.
QString KRFirstString(const QVariantMap& dictionary, const QStringList& keys);

// Signed 64-bit reading: 0 for missing; integers as they are (unsigned beyond the signed range
// saturate); floating values truncated toward zero and saturating, NaN 0; booleans 1/0; text
// by the prefix rule above; anything else (objects, arrays) 0.
qint64 KRLongLong(const QVariant& value);
// The decimal prefix rule on text alone (white space, sign, digits; saturating).
qint64 KRLongLongFromText(QStringView text);
// "The integer value when the value offers one": numbers and text offer one (text by the
// prefix rule, so "abc" offers 0); missing values, objects and arrays offer none.
std::optional<qint64> KRIntegerValue(const QVariant& value);

// A 64-bit reading stored into one of the model's 32-bit fields keeps the low 32 bits, as an
// assignment to a 32-bit integer does on the platform (two's complement wrap, no saturation).
qint32 KRTruncatedInt32(qint64 value);
// KRTruncatedInt32 of KRLongLong: the reading of every field the model keeps as 32 bits.
qint32 KRInt32(const QVariant& value);

// Double reading: 0 for missing; numbers as doubles (booleans 1/0); text by a decimal
// floating prefix (white space, sign, digits, optional fraction and exponent; "1.5kg" is 1.5,
// overflow gives ±infinity, no hexadecimal or "inf" spellings); anything else 0.
double KRDouble(const QVariant& value);

// Boolean reading: false for missing and for values that offer no boolean (objects, arrays).
// Numbers: non-zero. Text: after leading white space, one optional sign and any zeros, true
// when the next character is Y, y, T, t or a digit 1–9 ("YES", "true", "0001" and "-1" are
// true; "no", "0", "+0" and "false" are false).
bool KRBoolean(const QVariant& value);
// "The boolean value when the value offers one": numbers and text offer one; missing values,
// objects and arrays offer none.
std::optional<bool> KRBooleanValue(const QVariant& value);
