#pragma once

#include <QString>
#include <QVariantMap>

// Query encoding of the service's addresses.

// Everything but ASCII letters, digits and "-._~" escaped, upper-case hexadecimal.
QString KRPercentEscapedQueryValue(const QString& text);
// Sorted keys; "escaped key=escaped value" joined with "&"; non-text values by description.
QString KRQueryStringFromParameters(const QVariantMap& parameters);
// The text a parameter value is sent as: text unchanged, numbers in decimal, booleans as
// 1 or 0; empty for a value without a text form.
QString KRQueryValueText(const QVariant& value);
