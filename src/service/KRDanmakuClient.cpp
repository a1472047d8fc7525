#include "service/KRDanmakuClient.h"

#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Directories.h"
#include "platform/foundation/Dispatch.h"
#include "service/KRAsyncRequest.h"
#include "platform/net/HTTPExchange.h"
#include "model/KRConsole.h"
#include "model/KRDanmakuXMLParser.h"
#include "model/KRServiceHosts.h"
#include "service/KRRequestPipeline.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <zlib.h>

namespace {

constexpr qsizetype KRInflateStep = 16384;

KRError clientError(qint64 code, const QString& message)
{
    return KRError(KRDanmakuClientErrorDomain, code, message);
}

QString errorText(const KROptionalError& error)
{
    return error ? error->description() : QStringLiteral("(null)");
}

QString cacheFileIn(const QString& root, const QString& folder, qint64 cid)
{
    const QString directory = root + QLatin1Char('/') + folder;
    QDir().mkpath(directory);
    return directory + QStringLiteral("/%1.xml").arg(cid);
}

std::optional<QByteArray> readDocument(const QString& path)
{
    std::optional<QByteArray> data = platform::readFile(path, KRDanmakuClient::maximumDocumentBytes);
    if (!data || data->isEmpty())
        return std::nullopt;
    return data;
}

// One inflate attempt with the given window bits. The output grows in steps and is never
// allowed past `limit`: a body that would inflate further gives nothing, not a cut document.
std::optional<QByteArray> inflateOnce(const QByteArray& body, int windowBits, qint64 limit)
{
    if (body.isEmpty())
        return std::nullopt;
    z_stream stream{};
    if (inflateInit2(&stream, windowBits) != Z_OK)
        return std::nullopt;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.constData()));
    stream.avail_in = uInt(body.size());

    QByteArray out;
    // Room for three times the body at first, but never more than the limit allows.
    const qint64 initial = std::min<qint64>(std::max<qint64>(qint64(body.size()) * 3, KRInflateStep), limit + 1);
    out.resize(qsizetype(initial));
    qint64 produced = 0;
    std::optional<QByteArray> result;
    for (;;) {
        if (produced == out.size()) {
            const qint64 grown = std::min<qint64>(qint64(out.size()) + KRInflateStep, limit + 1);
            if (grown <= produced)
                break;
            out.resize(qsizetype(grown));
        }
        stream.next_out = reinterpret_cast<Bytef*>(out.data() + produced);
        stream.avail_out = uInt(out.size() - produced);
        const int status = inflate(&stream, Z_NO_FLUSH);
        produced = qint64(stream.total_out);
        if (produced > limit)
            break;
        if (status == Z_STREAM_END) {
            out.truncate(qsizetype(produced));
            result = std::move(out);
            break;
        }
        // There is always output room here, so anything but progress (a cut stream, bad
        // data, a dictionary wanted) ends the attempt without a document.
        if (status != Z_OK)
            break;
    }
    inflateEnd(&stream);
    return result;
}

// What one source gave.
struct SourceOutcome {
    bool succeeded = false;
    KRDanmakuList danmakus;
    KROptionalError error;
};

SourceOutcome fetchSource(const QString& url, qint64 cid, const KRRequestHandle& handle)
{
    const platform::HTTPResponse response = KRRequestPipeline::perform(KRRequestKind::Danmaku, url, true, handle.cancellationFlag());

    SourceOutcome outcome;
    QByteArray document;
    bool haveDocument = false;
    if (response.error) {
        outcome.error = *response.error;
    } else if (response.status >= 200 && response.status <= 299) {
        // An error page is no document, whatever its body: it must neither be parsed nor
        // replace a good copy, so that source simply fails like a body that is no XML.
        if (KRDataLooksLikeXML(response.body)) {
            document = response.body;
            haveDocument = true;
        } else if (std::optional<QByteArray> inflated =
                       KRInflateDanmakuBody(response.body, KRDanmakuClient::maximumDocumentBytes)) {
            document = std::move(*inflated);
            haveDocument = true;
        }
    }

    if (haveDocument) {
        KROptionalError parseError;
        outcome.danmakus = KRDanmakuXMLParser::parse(document, &parseError);
        outcome.error = parseError;
        outcome.succeeded = !parseError;
    }
    KRConsole::log(QStringLiteral("[KorvaneDanmaku] request host=%1 status=%2 bytes=%3 decoded=%4 count=%5 error=%6")
                       .arg(QUrl(url).host())
                       .arg(response.error ? 0 : response.status)
                       .arg(response.body.size())
                       .arg(document.size())
                       .arg(outcome.danmakus.size())
                       .arg(errorText(outcome.error)));
    if (outcome.succeeded && !document.isEmpty()) {
        QString why;
        if (!platform::writeFileAtomically(KRDanmakuNetworkCachePath(cid), document, &why))
            KRConsole::log(QStringLiteral("[KorvaneDanmaku] cache write failed cid=%1 error=%2").arg(cid).arg(why));
    }
    return outcome;
}

// What a load hands to its completion.
struct Loaded {
    KRDanmakuList danmakus;
    KROptionalError error;
};

// Runs `work` for `owner` on a one-off worker; the answer reaches `completion` unless the
// owner has gone or the returned handle was cancelled by then.
template <typename Work>
KRRequestHandle startLoad(QObject* owner, Work work, KRDanmakuCompletion completion)
{
    const KRRequestHandle handle = KRRequestHandle::make();
    KRAsyncRequest(owner).withHandle(handle).run(std::move(work), [completion = std::move(completion)](const Loaded& loaded) {
        if (completion)
            completion(loaded.danmakus, loaded.error);
    });
    return handle;
}

} // namespace

// ---- Files ----

QString KRDanmakuNetworkCachePath(qint64 cid)
{
    return cacheFileIn(platform::Directories::caches(), QStringLiteral("Korvane/Danmaku"), cid);
}

QString KRDanmakuOfflineCachePath(qint64 cid)
{
    return cacheFileIn(platform::Directories::documents(), QStringLiteral("KorvaneOffline/Danmaku"), cid);
}

QString KRDanmakuCachePath(qint64 cid)
{
    const QString offline = KRDanmakuOfflineCachePath(cid);
    if (!QFileInfo::exists(offline)) {
        const QString network = KRDanmakuNetworkCachePath(cid);
        // Copied whole through an atomic write, so the offline copy is never half a file.
        if (std::optional<QByteArray> data = readDocument(network))
            platform::writeFileAtomically(offline, *data);
    }
    return offline;
}

bool KRDataLooksLikeXML(const QByteArray& data)
{
    if (data.isEmpty())
        return false;
    const QByteArray head = data.left(512);
    return head.contains("<?xml") || head.contains("<i>");
}

std::optional<QByteArray> KRInflateDanmakuBody(const QByteArray& body, qint64 limit)
{
    // Header detected automatically (zlib or gzip), zlib header, then raw deflate.
    for (const int windowBits : {47, 15, -15}) {
        std::optional<QByteArray> output = inflateOnce(body, windowBits, limit);
        if (output && KRDataLooksLikeXML(*output))
            return output;
    }
    return std::nullopt;
}

// ---- Client ----

KRDanmakuClient* KRDanmakuClient::sharedClient()
{
    static KRDanmakuClient* client = new KRDanmakuClient();
    return client;
}

void KRDanmakuClient::setRequestTimeoutForTesting(double seconds)
{
    KRRequestPipeline::setTimeoutForTesting({KRRequestKind::Danmaku}, seconds);
}

KRRequestHandle KRDanmakuClient::loadDanmakusForCID(qint64 cid, QObject* owner, KRDanmakuCompletion completion)
{
    if (cid <= 0) {
        if (completion)
            completion({}, clientError(1, QStringLiteral("缺少 CID，无法读取弹幕")));
        return {};
    }
    auto work = [cid](const KRAsyncRequest& request) {
        const QStringList sources = {
            QStringLiteral("https://%1/%2.xml").arg(KRServiceHosts::commentHost()).arg(cid),
            QStringLiteral("https://%1/x/v1/dm/list.so?oid=%2").arg(KRServiceHosts::apiHost()).arg(cid),
        };
        KROptionalError remembered;
        for (const QString& source : sources) {
            // Nobody waits any more: the answer is dropped whatever it would be.
            if (request.abandoned())
                return Loaded{};
            SourceOutcome outcome = fetchSource(source, cid, request.handle());
            if (outcome.succeeded) {
                KRConsole::log(QStringLiteral("[KorvaneDanmaku] cid=%1 ready count=%2 cache=NO error=(null)")
                                   .arg(cid)
                                   .arg(outcome.danmakus.size()));
                return Loaded{std::move(outcome.danmakus), std::nullopt};
            }
            // The last source's error is the one reported.
            remembered = outcome.error;
        }
        if (request.abandoned())
            return Loaded{};
        for (const QString& path : {KRDanmakuNetworkCachePath(cid), KRDanmakuOfflineCachePath(cid)}) {
            const std::optional<QByteArray> document = readDocument(path);
            if (!document)
                continue;
            KROptionalError parseError;
            KRDanmakuList danmakus = KRDanmakuXMLParser::parse(*document, &parseError);
            if (parseError)
                continue;
            KRConsole::log(QStringLiteral("[KorvaneDanmaku] cid=%1 ready count=%2 cache=YES error=(null)")
                               .arg(cid)
                               .arg(danmakus.size()));
            return Loaded{std::move(danmakus), std::nullopt};
        }
        if (!remembered)
            remembered = clientError(2, QStringLiteral("弹幕 XML 无法解析"));
        KRConsole::log(QStringLiteral("[KorvaneDanmaku] cid=%1 ready count=0 cache=NO error=%2").arg(cid).arg(errorText(remembered)));
        return Loaded{{}, remembered};
    };
    return startLoad(owner, std::move(work), std::move(completion));
}

KRRequestHandle KRDanmakuClient::loadCachedDanmakusForCID(qint64 cid, QObject* owner, KRDanmakuCompletion completion)
{
    if (cid <= 0) {
        if (completion)
            completion({}, clientError(1, QStringLiteral("缺少 CID，无法读取离线弹幕")));
        return {};
    }
    auto work = [cid](const KRAsyncRequest&) {
        const std::optional<QByteArray> document = readDocument(KRDanmakuCachePath(cid));
        KRDanmakuList danmakus;
        KROptionalError error;
        if (document)
            danmakus = KRDanmakuXMLParser::parse(*document, &error);
        else
            error = clientError(3, QStringLiteral("这条离线视频还没有缓存弹幕"));
        KRConsole::log(QStringLiteral("[KorvaneDanmaku] offline cid=%1 bytes=%2 count=%3 error=%4")
                           .arg(cid)
                           .arg(document ? document->size() : 0)
                           .arg(danmakus.size())
                           .arg(errorText(error)));
        return Loaded{std::move(danmakus), std::move(error)};
    };
    return startLoad(owner, std::move(work), std::move(completion));
}

bool KRDanmakuClient::hasCachedDanmakusForCID(qint64 cid)
{
    if (cid < 1)
        return false;
    return QFileInfo(KRDanmakuCachePath(cid)).size() > 0;
}

KRRequestHandle KRDanmakuClient::cacheDanmakusForCID(qint64 cid, QObject* owner, KRDanmakuCompletion completion)
{
    if (hasCachedDanmakusForCID(cid))
        return loadCachedDanmakusForCID(cid, owner, std::move(completion));
    return loadDanmakusForCID(cid, owner, [cid, completion = std::move(completion)](const KRDanmakuList& danmakus,
                                                                                    const KROptionalError& loadError) {
        KROptionalError error = loadError;
        if (!error && QFileInfo(KRDanmakuCachePath(cid)).size() <= 0)
            error = clientError(4, QStringLiteral("弹幕已读取，但无法写入离线目录"));
        if (completion)
            completion(danmakus, error);
    });
}

void KRDanmakuClient::removeCachedDanmakusForCID(qint64 cid)
{
    if (cid < 1)
        return;
    QFile::remove(KRDanmakuOfflineCachePath(cid));
}
