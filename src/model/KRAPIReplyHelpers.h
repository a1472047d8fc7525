#pragma once

#include <QString>
#include <QVariant>
#include <QVariantMap>

// Small readers shared by the PGC (season and catalogue) loaders.

// The object a PGC reply carries its content in: the reply's "data" when that is an object
// (else the reply), then that object's "result" when that is an object (else that object).
// The app routes answer under "data", the web routes under "result", the catalogue under
// "data"."result"; an empty map when the reply is not an object at all.
QVariantMap KRPGCRootDictionary(const QVariant& reply);

// Text of a season-reply field: nil for missing or null, a non-empty text as it is, a number
// as its decimal text. The same reading as KRString, under the name the loaders use.
QString KRAPIString(const QVariant& value);

// Display text of a duration in milliseconds, as PGC episodes give it: null below one
// second; "mm:ss" under an hour; "h:mm:ss" from one hour on (59999 → "00:59",
// 3600000 → "1:00:00").
QString KRAPIDurationText(qint64 milliseconds);

// The id that follows the last "/" + marker ("ep" or "ss") in a redirect address, as the
// decimal digits directly after it; 0 when either text is empty or no digits follow the last
// occurrence. The search is exact (case-sensitive).
qint64 KRPGCIDFromRedirectURL(const QString& address, const QString& marker);

// The shared core of the redirect readers: digits after the last "/" + marker under the given
// case rule; 0 when either text is empty, the marker does not occur or no digit follows.
qint64 KRPGCIDAfterLastMarker(const QString& address, const QString& marker, Qt::CaseSensitivity caseSensitivity);

// The catalogue name of a PGC season type, used as the partition name of PGC items:
// 1 "番剧", 2 "电影", 3 "纪录片", 4 "国创", 5 "电视剧", 6 "影视", 7 "综艺", any other "影视".
QString KRPGCSeasonTypeName(qint64 seasonType);
