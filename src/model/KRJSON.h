#pragma once

#include "model/KRError.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

// The one JSON reader and writer of the system. Replies become plain QVariant trees
// (QVariantMap, QVariantList, QString, bool, qlonglong, double) so that the tolerant readers
// of KRTolerantValue.h work on every reply alike. Three properties matter to callers:
// - integers written without fraction or exponent and within the signed 64-bit range stay
//   exact qlonglong values (archive and content ids exceed 2^53; a double would corrupt them);
// - true/false stay booleans (a boolean "state" means something else than the number 1);
// - null stays a QVariant holding std::nullptr_t, distinct from an absent key.

// Parses a JSON document whose top level is an object or an array; strict JSON, after an
// optional UTF-8 byte-order mark. On malformed, truncated or empty input returns an invalid
// QVariant and, when `errorText` is given, a short description with the byte offset; never
// throws or crashes (nesting depth is bounded). Safe to call from any thread.
QVariant KRJSONParse(const QByteArray& data, QString* errorText = nullptr);

// Compact JSON text of a value tree as KRJSONParse produces it (null for std::nullptr_t and
// invalid values). A scalar at the top level is written as the bare scalar.
QByteArray KRJSONData(const QVariant& value);

// The reader's error for a body that is not JSON, in the shape the platform's own reader
// reports it (domain "NSCocoaErrorDomain", code 3840); `detail` goes to the debug description.
KRError KRJSONReaderError(const QString& detail);
