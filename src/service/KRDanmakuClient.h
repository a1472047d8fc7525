#pragma once

#include "model/KRDanmaku.h"
#include "model/KRError.h"
#include "service/KRRequestHandle.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

inline const QString KRDanmakuClientErrorDomain = QStringLiteral("KRDanmakuClientErrorDomain");

using KRDanmakuCompletion = std::function<void(const KRDanmakuList& danmakus, const KROptionalError& error)>;

class QObject;

// Fetches the danmaku document of one video part (cid), keeps a network cache and an
// offline copy of it, and reads the copies back. Callbacks run exactly once with a list
// (empty on failure): argument errors inside the call, everything else on the main thread.
//
// Each load takes the object its reply is for (`owner`, as the context object of Qt's
// connect): once it is destroyed, or once the returned handle is cancelled, the completion is
// never called (it is released on the main thread) and the load stops at its next step. A
// null owner stands for a caller that lives as long as the process. A load answered inside
// the call returns a default handle.
class KRDanmakuClient {
public:
    static KRDanmakuClient* sharedClient();

    KRRequestHandle loadDanmakusForCID(qint64 cid, QObject* owner, KRDanmakuCompletion completion);
    KRRequestHandle loadCachedDanmakusForCID(qint64 cid, QObject* owner, KRDanmakuCompletion completion);
    bool hasCachedDanmakusForCID(qint64 cid);
    KRRequestHandle cacheDanmakusForCID(qint64 cid, QObject* owner, KRDanmakuCompletion completion);
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
