#pragma once

#include <QStringView>

namespace platform {

// How the platform reads numbers and truth out of text (a string's integerValue,
// doubleValue and boolValue). User defaults and the tolerant JSON readers both answer
// with these, so "12abc" means the same wherever it is stored.
namespace NumberText {

// Leading white space, an optional sign, then the decimal digits that follow ("12abc" = 12,
// "abc" = 0); saturates at the 64-bit limits instead of wrapping.
qint64 integerValue(QStringView text);

// Leading white space, an optional sign, digits with an optional fraction and exponent
// ("1.5kg" = 1.5, "abc" = 0; no hexadecimal, "inf" or "nan" spellings). Overflow gives
// ±infinity, underflow ±0.
double doubleValue(QStringView text);

// After leading white space, one optional sign and any zeros, true when the next character
// is Y, y, T, t or a digit 1-9 ("YES", "true", "0001", "-1"); else false ("no", "0", "").
bool boolValue(QStringView text);

// A double as a 64-bit integer: truncated toward zero, saturating, NaN 0.
qint64 truncatedInteger(double value);

} // namespace NumberText
} // namespace platform
