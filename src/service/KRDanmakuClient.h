#pragma once

#include "model/KRDanmaku.h"
#include "model/KRError.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

inline const QString KRDanmakuClientErrorDomain = QStringLiteral("KRDanmakuClientErrorDomain");

using KRDanmakuCompletion = std::function<void(const KRDanmakuList& danmakus, const KROptionalError& error)>;

// Fetches the danmaku document of one video part (cid), keeps a network cache and an
// offline copy of it, and reads the copies back. Callbacks run exactly once with a list
// (empty on failure): argument errors inside the call, everything else on the main thread.
class KRDanmakuClient {
public:
    static KRDanmakuClient* sharedClient();

    void loadDanmakusForCID(qint64 cid, KRDanmakuCompletion completion);
    void loadCachedDanmakusForCID(qint64 cid, KRDanmakuCompletion completion);
    bool hasCachedDanmakusForCID(qint64 cid);
    void cacheDanmakusForCID(qint64 cid, KRDanmakuCompletion completion);
    void removeCachedDanmakusForCID(qint64 cid);

    // Largest document accepted after inflating (8 MiB).
    static constexpr qint64 maximumDocumentBytes = 8 * 1024 * 1024;
    // The product's 20 s unless a test shortened it (0 or less restores it).
    static void setRequestTimeoutForTesting(double seconds);

private:
    KRDanmakuClient() = default;
};

// Cache files of a cid: the network cache, the offline copy, and the offline copy's path
// after copying the network cache there when only that exists.
QString KRDanmakuNetworkCachePath(qint64 cid);
QString KRDanmakuOfflineCachePath(qint64 cid);
QString KRDanmakuCachePath(qint64 cid);
// Whether the first 512 bytes hold "<?xml" or "<i>".
bool KRDataLooksLikeXML(const QByteArray& data);
// Inflates a deflated, zlib-wrapped or gzip-wrapped body (window bits 47, 15, -15 in turn)
// into a document that looks like XML; none when no attempt gives one within `limit` bytes.
std::optional<QByteArray> KRInflateDanmakuBody(const QByteArray& body, qint64 limit);
