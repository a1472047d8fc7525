// The request pipeline: one synchronous exchange per request on the shared worker queue,
// the header families, the response-cache fall-back, and the hand-back to the main thread.

#include "service/KRAPIClient.h"

#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/net/HTTPExchange.h"
#include "model/KRConsole.h"
#include "model/KRJSON.h"
#include "model/KRServiceHosts.h"
#include "model/KRVideo.h"
#include "model/KRVideoNormalizer.h"
#include "store/KRPreferences.h"
#include "store/KRSessionStore.h"

#include <atomic>

namespace {

constexpr double KRAPIRequestTimeout = 20.0;
// Replies of this API are a few hundred KiB at most; a body past this is refused rather
// than held in memory.
constexpr qint64 KRAPIMaximumBodyBytes = 32 * 1024 * 1024;
// Cache files are the same replies.
constexpr qint64 KRAPIMaximumCacheFileBytes = KRAPIMaximumBodyBytes;

std::atomic<double> testingTimeout{0};

const QString& appUserAgent()
{
    static const QString agent = QStringLiteral("zant-universal/82200200 CFNetwork/811.5.4 Darwin/16.7.0");
    return agent;
}

// The parts of an address the header rules and console lines look at.
struct AddressParts {
    QString scheme;
    QString host; // lower case
    QString path;
};

AddressParts addressParts(const QString& url)
{
    const QUrl parsed(url);
    return {parsed.scheme(), parsed.host().toLower(), parsed.path()};
}

void logRequest(const AddressParts& parts)
{
    KRConsole::log(QStringLiteral("[Korvane] request scheme=%1 host=%2 path=%3").arg(parts.scheme, parts.host, parts.path));
}

// The explicit session cookie header goes only to the service's own hosts over TLS: a
// mistyped or foreign address must never receive the login, nor may it cross the network
// in clear text.
bool mayCarrySessionCookieHeader(const AddressParts& parts)
{
    if (parts.scheme.compare(QLatin1String("https"), Qt::CaseInsensitive) != 0)
        return false;
    for (const QString& domain : {KRServiceHosts::mainDomain(), KRServiceHosts::oldDomain()}) {
        if (parts.host == domain || parts.host.endsWith(QLatin1Char('.') + domain))
            return true;
    }
    return false;
}

std::optional<QByteArray> readCacheFile(const QString& path)
{
    if (path.isEmpty())
        return std::nullopt;
    std::optional<QByteArray> data = platform::readFile(path, KRAPIMaximumCacheFileBytes);
    if (!data || data->isEmpty())
        return std::nullopt;
    return data;
}

void writeCacheFile(const QString& path, const QByteArray& body)
{
    QString why;
    if (!platform::writeFileAtomically(path, body, &why))
        KRConsole::log(QStringLiteral("[Korvane] cache write failed error=%1").arg(why));
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
    std::optional<QByteArray> cached = readCacheFile(cachePath);
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
        writeCacheFile(cachePath, outcome.body);
    KRConsole::log(format.arg(outcome.status)
                       .arg(outcome.body.size())
                       .arg(KRConsole::boolean(outcome.fromCache), errorText(outcome.error), payloadClass(outcome.payload)));
}

} // namespace

KRError KRHTTPStatusError(int status)
{
    return KRAPIError(status < 1 ? -2 : status, QStringLiteral("服务器返回 HTTP %1，请稍后重试").arg(status));
}

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

double KRAPIClient::requestTimeout()
{
    const double shortened = testingTimeout.load();
    return shortened > 0 ? shortened : KRAPIRequestTimeout;
}

void KRAPIClient::setRequestTimeoutForTesting(double seconds)
{
    testingTimeout.store(seconds > 0 ? seconds : 0);
}

QString KRAPIClient::webRefererURL()
{
    return QStringLiteral("https://") + KRServiceHosts::webHost() + QLatin1Char('/');
}

QString KRAPIClient::webUserAgent()
{
    static const QString agent =
        QStringLiteral("Mozilla/5.0 (iPhone; CPU iPhone OS 5_1_1 like Mac OS X) AppleWebKit/534.46 Korvane/0.1");
    return agent;
}

QUrl KRAPIClient::URLWithString(const QString& string) const
{
    if (string.isEmpty())
        return {};
    QUrl url(string, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty())
        return {};
    return url;
}

// ---- Headers ----

void KRAPIClient::prepareJSONRequest(platform::HTTPRequest& request, bool includeSession)
{
    const AddressParts parts = addressParts(request.url);
    request.method = QStringLiteral("GET");
    request.timeoutSeconds = requestTimeout();
    request.maxBodyBytes = KRAPIMaximumBodyBytes;
    const bool appFamily = parts.host == KRServiceHosts::appHost()
        || (parts.host == KRServiceHosts::apiHost() && parts.path.startsWith(QLatin1String("/pgc/player/api/")));
    if (appFamily) {
        request.headers.set(QStringLiteral("User-Agent"), appUserAgent());
        request.handleCookies = false;
        return;
    }
    request.headers.set(QStringLiteral("User-Agent"), webUserAgent());
    request.headers.set(QStringLiteral("Referer"), webRefererURL());
    request.handleCookies = false;
    if (includeSession) {
        const KRSessionStore& session = KRSessionStore::sharedStore();
        if (session.isLoggedIn()) {
            request.handleCookies = true;
            const QString cookie = session.cookieHeader();
            if (!cookie.isEmpty() && mayCarrySessionCookieHeader(parts))
                request.headers.set(QStringLiteral("Cookie"), cookie);
        }
    }
}

void KRAPIClient::prepareVideoRequest(platform::HTTPRequest& request)
{
    const AddressParts parts = addressParts(request.url);
    request.method = QStringLiteral("GET");
    request.timeoutSeconds = requestTimeout();
    request.maxBodyBytes = KRAPIMaximumBodyBytes;
    request.handleCookies = true;
    request.headers.set(QStringLiteral("User-Agent"), webUserAgent());
    // Addresses of the old domain go without Referer.
    if (parts.host.isEmpty() || parts.host.contains(KRServiceHosts::mainDomain()))
        request.headers.set(QStringLiteral("Referer"), webRefererURL());
}

// ---- The JSON request ----

void KRAPIClient::performJSONURL(const QString& url, KRJSONCompletion completion)
{
    performJSONURL(url, true, std::move(completion));
}

void KRAPIClient::performJSONURL(const QString& url, bool includeSession, KRJSONCompletion completion)
{
    if (!URLWithString(url).isValid()) {
        platform::dispatchMain([completion = std::move(completion)] {
            if (completion)
                completion(QVariant(), KRAPIError(-1, QStringLiteral("请求地址无效")));
        });
        return;
    }
    logRequest(addressParts(url));
    const QString cachePath = KRShouldCacheURL(url) ? KRCachePathForURL(url) : QString();
    KRAPIWorkerQueue()->addOperation([url, includeSession, cachePath, completion = std::move(completion)]() mutable {
        platform::HTTPRequest request;
        request.url = url;
        prepareJSONRequest(request, includeSession);
        const platform::HTTPResponse response = platform::performHTTPExchange(request);

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
                    if (std::optional<QByteArray> cached = readCacheFile(cachePath)) {
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

        platform::dispatchMain([completion = std::move(completion), payload = std::move(outcome.payload),
                                error = std::move(outcome.error)] {
            if (completion)
                completion(payload, error);
        });
    });
}

// ---- The video request ----

void KRAPIClient::performURL(const QString& url, KRVideoListCompletion listCompletion, KRVideoCompletion videoCompletion)
{
    if (!URLWithString(url).isValid()) {
        // Both completions still hear about it, exactly once, and later.
        platform::dispatchMain([listCompletion = std::move(listCompletion), videoCompletion = std::move(videoCompletion)] {
            const KRError error = KRAPIError(-1, QStringLiteral("请求地址无效"));
            if (listCompletion)
                listCompletion({}, error);
            if (videoCompletion)
                videoCompletion(nullptr, error);
        });
        return;
    }
    logRequest(addressParts(url));
    const QString cachePath = KRShouldCacheURL(url) ? KRCachePathForURL(url) : QString();
    const bool wantsList = bool(listCompletion);
    const bool wantsVideo = bool(videoCompletion);
    KRAPIWorkerQueue()->addOperation([url, cachePath, wantsList, wantsVideo, listCompletion = std::move(listCompletion),
                                      videoCompletion = std::move(videoCompletion)]() mutable {
        platform::HTTPRequest request;
        request.url = url;
        prepareVideoRequest(request);
        const platform::HTTPResponse response = platform::performHTTPExchange(request);

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

        platform::dispatchMain([listCompletion = std::move(listCompletion), videoCompletion = std::move(videoCompletion),
                                videos = std::move(videos), video = std::move(video), error = std::move(outcome.error)] {
            if (listCompletion) {
                KRApplyResolvedAIDs(videos);
                KRConsole::log(QStringLiteral("[Korvane] normalized list count=%1").arg(videos.size()));
                listCompletion(videos, error);
            }
            if (videoCompletion) {
                if (video)
                    KRApplyResolvedAIDs({video});
                videoCompletion(video, error);
            }
        });
    });
}
