#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

class QUrl;

// The response cache: raw reply bodies of a few endpoints, read back only when a later
// request for the same address fails.

// Whether replies of this address are kept.
bool KRShouldCacheURL(const QString& url);
// The same for an address its caller has already parsed.
bool KRShouldCacheURL(const QUrl& parsed);
// The cache file of an address. Addresses carrying the web signature are keyed without
// their "wts" and "w_rid", so repeated signed requests share one file.
QString KRCachePathForURL(const QString& url);
// The body kept at `path`; none for a null path, a missing or empty file, or one larger
// than any reply.
std::optional<QByteArray> KRReadCachedReply(const QString& path);
// Keeps `body` at `path`, written whole or not at all; a failure is logged.
void KRWriteCachedReply(const QString& path, const QByteArray& body);
