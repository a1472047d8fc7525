#pragma once

#include <QString>
#include <QVariant>

// Console lines of the system ("[Korvane] …", "[KorvaneSession] …") go to standard error
// through here, one whole line per call so lines from worker threads never interleave.
namespace KRConsole {
void log(const QString& line);
// printf-style "%@" of an object: "(null)" for a null string.
QString object(const QString& value);
// "%@" of a property-list value as the platform prints it; "(null)" for an invalid value.
QString object(const QVariant& value);
// A BOOL as the platform prints it.
inline QString boolean(bool value) { return value ? QStringLiteral("YES") : QStringLiteral("NO"); }
}
