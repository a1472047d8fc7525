// The request pipeline: one synchronous exchange per request on the shared worker queue,
// the header families, the response-cache fall-back, and the hand-back to the main thread.

#include "service/KRAPIClient.h"

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/foundation/OwnedWork.h"
#include "platform/foundation/ReplyOwner.h"
#include "platform/net/HTTPExchange.h"
#include "model/KRConsole.h"
#include "model/KRJSON.h"
#include "model/KRServiceHosts.h"
#include "model/KRTolerantValue.h"
#include "model/KRVideo.h"
#include "model/KRVideoNormalizer.h"
#include "service/KRAPIErrors.h"
#include "service/KRAPIResponseCache.h"
#include "service/KRAsyncRequest.h"
#include "service/KRCompatibilityAIDMap.h"
#include "service/KRRequestPipeline.h"
#include "store/KRPreferences.h"
#include "store/KRSessionStore.h"

#include <QUrl>

namespace {

void logRequest(const KRRequestAddress& address)
{
    KRConsole::log(QStringLiteral("[Korvane] request scheme=%1 host=%2 path=%3")
                       .arg(address.url().scheme(), address.host(), address.url().path()));
}

QString errorText(const KROptionalError& error)
{
    return error ? error->description() : QStringLiteral("(null)");
}

QString payloadClass(const QVariant& payload)
{
    if (!payload.isValid())
        return QStringLiteral("(null)");
    return QString::fromLatin1(payload.typeName());
}

// Parses a reply; the reader's error when it is not JSON.
QVariant parseReply(const QByteArray& body, KROptionalError* error)
{
    QString why;
    QVariant payload = KRJSONParse(body, &why);
    if (!payload.isValid())
        *error = KRJSONReaderError(why.isEmpty() ? QStringLiteral("empty data") : why);
    return payload;
}

// What one request came to on the worker.
struct Outcome {
    int status = 0;
    QByteArray body;
    QVariant payload;
    KROptionalError error;
    bool fromCache = false;
};

// After a failure: the cached reply of the address stands in, when there is one.
void fallBackToCache(Outcome& outcome, const QString& cachePath, const QString& line)
{
    std::optional<QByteArray> cached = KRReadCachedReply(cachePath);
    if (!cached)
        return;
    outcome.body = std::move(*cached);
    outcome.error.reset();
    outcome.fromCache = true;
    KRConsole::log(line.arg(cachePath));
}

// The cache write and the console line a request ends with. Only a reply without any error
// is kept (`mayKeep` permitting): a service error is never cached, and a reply from the
// cache is never written back.
void finishOutcome(const Outcome& outcome, const QString& cachePath, bool mayKeep, const QString& format)
{
    if (mayKeep && !outcome.fromCache && !outcome.body.isEmpty() && !cachePath.isEmpty() && !outcome.error)
        KRWriteCachedReply(cachePath, outcome.body);
    // One pass over the format: the numbers cannot hold a marker, so this is the same line
    // as filling them in one at a time.
    KRConsole::log(format.arg(QString::number(outcome.status), QString::number(outcome.body.size()),
                              KRConsole::boolean(outcome.fromCache), errorText(outcome.error), payloadClass(outcome.payload)));
}

} // namespace

// ---- Shared state ----

KRAPIClient* KRAPIClient::sharedClient()
{
    static KRAPIClient* client = new KRAPIClient();
    return client;
}

std::recursive_mutex& KRAPIClient::classLock()
{
    static std::recursive_mutex lock;
    return lock;
}

platform::OperationQueue* KRAPIWorkerQueue()
{
    static platform::OperationQueue* queue = nullptr;
    std::lock_guard<std::recursive_mutex> lock(KRAPIClient::classLock());
    if (!queue) {
        // Fewer simultaneous exchanges on old devices bound the memory they hold.
        const int width = KRPreferences::sharedPreferences().isA4OrEarlierDevice() ? 2 : 4;
        queue = new platform::OperationQueue(width, QStringLiteral("KRAPIWorkerQueue"));
    }
    return queue;
}

void KRAPIClient::setRequestTimeoutForTesting(double seconds)
{
    KRRequestPipeline::setTimeoutForTesting({KRRequestKind::WebJSON, KRRequestKind::AppJSON, KRRequestKind::Video,
                                             KRRequestKind::RecommendationFeed, KRRequestKind::RiskControlCookies},
                                            seconds);
}

void KRShutDownAPIWorkerQueue()
{
    platform::OperationQueue* queue = KRAPIWorkerQueue();
    queue->cancelAllOperations();
    queue->waitUntilAllOperationsAreFinished();
}

QUrl KRAPIClient::URLWithString(const QString& string) const
{
    if (string.isEmpty())
        return {};
    QUrl url(string, QUrl::StrictMode);
    // An address without a scheme is refused here: it would parse as a relative path that
    // names no server, and go out only to fail as a transport error, where the caller is
    // owed "请求地址无效".
    if (!url.isValid() || url.scheme().isEmpty())
        return {};
    return url;
}

// ---- The JSON request ----

std::pair<QVariant, KROptionalError> KRAPIClient::exchangeJSON(const KRRequestAddress& address, bool includeSession)
{
    const KRRequestKind kind = KRRequestPipeline::jsonKindForAddress(address);
    const QString cachePath = KRRequestPipeline::cachePath(kind, address);
    const platform::HTTPResponse response = KRRequestPipeline::perform(kind, address, includeSession);

    Outcome outcome;
    outcome.status = response.error ? 0 : response.status;
    bool fresh = false;
    if (response.error) {
        outcome.error = *response.error;
    } else if (response.status >= 200 && response.status <= 299) {
        if (response.body.isEmpty()) {
            outcome.error = KRAPIEmptyReplyError();
        } else {
            outcome.body = response.body;
            fresh = true;
        }
    } else {
        // The refused reply's body is never read, but it is what the exchange brought.
        outcome.body = response.body;
        outcome.error = KRHTTPStatusError(response.status);
    }

    if (outcome.error)
        fallBackToCache(outcome, cachePath, QStringLiteral("[Korvane] JSON cache fallback %1"));

    if (!outcome.error && !outcome.body.isEmpty()) {
        bool parsed = false;
        KROptionalError parseError;
        QVariant payload = parseReply(outcome.body, &parseError);
        if (!parseError) {
            outcome.payload = std::move(payload);
            parsed = true;
        } else {
            outcome.error = KRAPIMalformedReplyError().setUnderlying(*parseError);
            // A body from the cache gets no second fall-back.
            if (fresh) {
                if (std::optional<QByteArray> cached = KRReadCachedReply(cachePath)) {
                    KROptionalError cacheParseError;
                    QVariant cachedPayload = parseReply(*cached, &cacheParseError);
                    if (!cacheParseError) {
                        outcome.payload = std::move(cachedPayload);
                        outcome.body = std::move(*cached);
                        outcome.error.reset();
                        outcome.fromCache = true;
                        parsed = true;
                        KRConsole::log(QStringLiteral("[Korvane] JSON parse cache fallback %1").arg(cachePath));
                    }
                }
            }
        }
        if (parsed)
            outcome.error = KRAPIErrorFromPayload(outcome.payload);
    }

    finishOutcome(outcome, cachePath, true,
                  QStringLiteral("[Korvane] JSON response status=%1 bytes=%2 cache=%3 error=%4 payload=%5"));
    return std::make_pair(std::move(outcome.payload), std::move(outcome.error));
}

std::pair<QVariant, KROptionalError> KRAPIClient::exchangeJSONURL(const QString& url, bool includeSession)
{
    QUrl parsed = sharedClient()->URLWithString(url);
    if (!parsed.isValid())
        return {QVariant(), KRAPIError(-1, QStringLiteral("请求地址无效"))};
    KRRequestAddress address(url, std::move(parsed));
    logRequest(address);
    return exchangeJSON(address, includeSession);
}

void KRAPIClient::performJSONURL(const QString& url, QObject* owner, KRJSONCompletion completion)
{
    performJSONURL(url, true, owner, std::move(completion));
}

// The JSON request's start, shared by its forms: the address parsed once and logged, then
// `onWorker` turns the exchange's payload and error (given by reference: what it takes it may
// move out) into what `deliver` takes on the main thread. A missing or unparsable URL gives
// `invalid` its -1 answer, later.
template <typename OnWorker, typename Deliver, typename Invalid>
void KRAPIClient::startJSONRequest(const QString& url, bool includeSession, QObject* owner, OnWorker onWorker, Deliver deliver,
                                   Invalid invalid)
{
    QUrl parsed = URLWithString(url);
    if (!parsed.isValid()) {
        platform::OwnedWork(owner).answerLater(std::move(invalid), KROptionalError(KRAPIError(-1, QStringLiteral("请求地址无效"))));
        return;
    }
    // Parsed once: the console line, the kind, the cache decision and the session guard all
    // read the same parts. Only the console line is the main thread's; the rest, the cache
    // folder's file-system calls included, is the worker's.
    KRRequestAddress address(url, std::move(parsed));
    logRequest(address);
    // What `onWorker` leaves of the payload (a whole reply tree, once its videos are read) is
    // kept with the work and let go with it on the worker, after the answer has been handed to
    // the main thread: a reply's thousand small values need not be freed before it is answered.
    auto work = [address = std::move(address), includeSession, onWorker = std::move(onWorker),
                 spent = QVariant()](const KRAsyncRequest&) mutable {
        std::pair<QVariant, KROptionalError> reply = exchangeJSON(address, includeSession);
        auto result = onWorker(reply);
        spent = std::move(reply.first);
        return result;
    };
    KRAsyncRequest(owner).onQueue(KRAPIWorkerQueue()).run(std::move(work), std::move(deliver));
}

void KRAPIClient::performJSONURL(const QString& url, bool includeSession, QObject* owner, KRJSONCompletion completion)
{
    auto shared = std::make_shared<KRJSONCompletion>(std::move(completion));
    startJSONRequest(
        url, includeSession, owner, [](std::pair<QVariant, KROptionalError>& reply) { return std::move(reply); },
        [shared](std::pair<QVariant, KROptionalError> reply) {
            if (*shared)
                (*shared)(reply.first, reply.second);
        },
        [shared](const KROptionalError& error) {
            if (*shared)
                (*shared)(QVariant(), error);
        });
}

void KRAPIClient::performJSONVideosURL(const QString& url, QObject* owner, KRVideoListCompletion completion)
{
    auto shared = std::make_shared<KRVideoListCompletion>(std::move(completion));
    startJSONRequest(
        url, true, owner,
        // Normalising is pure work on the reply, done while it is still in this core's cache;
        // the reply's tree is let go on the worker too, once the videos are on their way.
        [](std::pair<QVariant, KROptionalError>& reply) {
            KRVideoList videos = reply.second ? KRVideoList() : KRVideoNormalizer::videosFromPayload(reply.first);
            return std::make_pair(std::move(videos), std::move(reply.second));
        },
        [shared](std::pair<KRVideoList, KROptionalError> reply) {
            if (*shared)
                (*shared)(reply.first, reply.second);
        },
        [shared](const KROptionalError& error) {
            if (*shared)
                (*shared)(KRVideoList(), error);
        });
}

// ---- The video request ----

void KRAPIClient::performURL(const QString& url, QObject* owner, KRVideoListCompletion listCompletion,
                             KRVideoCompletion videoCompletion)
{
    QUrl parsed = URLWithString(url);
    // An address that does not parse is answered as the JSON request answers it: there is
    // nothing to send, and going on would tell the caller of a reply that cannot be read
    // rather than of an address that is wrong.
    if (!parsed.isValid()) {
        // Both completions still hear about it, exactly once, and later.
        platform::OwnedWork(owner).answerLater([listCompletion = std::move(listCompletion), videoCompletion = std::move(videoCompletion)] {
            const KRError error = KRAPIError(-1, QStringLiteral("请求地址无效"));
            if (listCompletion)
                listCompletion({}, error);
            if (videoCompletion)
                videoCompletion(nullptr, error);
        });
        return;
    }
    KRRequestAddress address(url, std::move(parsed));
    logRequest(address);
    const bool wantsList = bool(listCompletion);
    const bool wantsVideo = bool(videoCompletion);
    struct Normalized {
        KRVideoList videos;
        std::shared_ptr<KRVideo> video;
        KROptionalError error;
    };
    auto work = [address = std::move(address), wantsList, wantsVideo](const KRAsyncRequest&) {
        const QString cachePath = KRRequestPipeline::cachePath(KRRequestKind::Video, address);
        const platform::HTTPResponse response = KRRequestPipeline::perform(KRRequestKind::Video, address);

        Outcome outcome;
        outcome.status = response.error ? 0 : response.status;
        if (response.error) {
            outcome.error = *response.error;
            fallBackToCache(outcome, cachePath, QStringLiteral("[Korvane] cache fallback %1"));
        } else {
            outcome.body = response.body;
        }

        if (!outcome.error) {
            KROptionalError parseError;
            QVariant payload = parseReply(outcome.body, &parseError);
            if (parseError) {
                outcome.error = parseError;
            } else {
                outcome.payload = std::move(payload);
                outcome.error = KRAPIErrorFromPayload(outcome.payload);
            }
        }

        // The status is not judged here, but an error page never replaces a good copy.
        finishOutcome(outcome, cachePath, outcome.status >= 200 && outcome.status <= 299,
                      QStringLiteral("[Korvane] response status=%1 bytes=%2 cache=%3 error=%4 payload=%5"));

        // Normalising is pure work on the reply; it is done here so the main thread only
        // hands the result over.
        KRVideoList videos;
        std::shared_ptr<KRVideo> video;
        if (!outcome.error) {
            if (wantsList)
                videos = KRVideoNormalizer::videosFromPayload(outcome.payload);
            if (wantsVideo) {
                if (const std::optional<QVariantMap> dictionary = KRVideoNormalizer::dictionaryFromPayload(outcome.payload))
                    video = KRVideoNormalizer::videoFromDictionary(*dictionary);
            }
        }

        return Normalized{std::move(videos), std::move(video), std::move(outcome.error)};
    };
    KRAsyncRequest(owner).onQueue(KRAPIWorkerQueue()).run(
        std::move(work), [listCompletion = std::move(listCompletion), videoCompletion = std::move(videoCompletion)](Normalized reply) {
            if (listCompletion) {
                KRApplyResolvedAIDs(reply.videos);
                KRConsole::log(QStringLiteral("[Korvane] normalized list count=%1").arg(reply.videos.size()));
                listCompletion(reply.videos, reply.error);
            }
            if (videoCompletion) {
                if (reply.video)
                    KRApplyResolvedAIDs({reply.video});
                videoCompletion(reply.video, reply.error);
            }
        });
}

// ---- Risk-control cookies ----

void KRAPIClient::prepareRiskControlCookiesWithCompletion(QObject* owner,
                                                          std::function<void(bool ready, KROptionalError error)> completion)
{
    if (KRSessionStore::sharedStore().hasRiskControlCookies()) {
        if (completion)
            completion(true, std::nullopt);
        return;
    }
    struct Fetched {
        platform::HTTPResponse response;
        QString buvid3;
        QString buvid4;
        KROptionalError jsonError;
    };
    // The cookies are the session's whoever asked: the fetch has no owner, they are merged
    // even when the one who asked is gone, and only the answer is dropped then.
    auto work = [](const KRAsyncRequest&) {
        const QString url = QStringLiteral("https://") + KRServiceHosts::apiHost() + QStringLiteral("/x/frontend/finger/spi");
        platform::HTTPResponse response = KRRequestPipeline::perform(KRRequestKind::RiskControlCookies, url);

        QString buvid3;
        QString buvid4;
        KROptionalError jsonError;
        if (response.ok() && !response.body.isEmpty()) {
            QString why;
            const QVariant body = KRJSONParse(response.body, &why);
            if (!body.isValid()) {
                jsonError = KRJSONReaderError(why);
            } else {
                const QVariant data = body.toMap().value(QStringLiteral("data"));
                if (KRIsDictionary(data)) {
                    const QVariant b3 = data.toMap().value(QStringLiteral("b_3"));
                    const QVariant b4 = data.toMap().value(QStringLiteral("b_4"));
                    if (KRIsString(b3))
                        buvid3 = b3.toString();
                    if (KRIsString(b4))
                        buvid4 = b4.toString();
                }
            }
        }
        return Fetched{std::move(response), buvid3, buvid4, jsonError};
    };
    KRAsyncRequest().run(std::move(work), [deliver = platform::ownedBy(owner, std::move(completion))](const Fetched& fetched) {
        KRSessionStore::sharedStore().finishRiskCookieFetch(fetched.response, fetched.buvid3, fetched.buvid4, fetched.jsonError, deliver);
    });
}
