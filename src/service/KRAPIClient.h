#pragma once

#include "service/KRError.h"

#include <QList>
#include <QString>
#include <QUrl>
#include <QVariant>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <mutex>

class KRVideo;
namespace platform {
class OperationQueue;
struct HTTPRequest;
}

// Errors raised by the web-API client and its loaders.
inline const QString KRAPIErrorDomain = QStringLiteral("KRAPIErrorDomain");

using KRVideoList = QList<std::shared_ptr<KRVideo>>;
// payload: the parsed reply (invalid when the body could not be read or parsed); it is
// passed even with an error, so a service error carries its whole reply.
using KRJSONCompletion = std::function<void(const QVariant& payload, const KROptionalError& error)>;
using KRVideoListCompletion = std::function<void(const KRVideoList& videos, const KROptionalError& error)>;
using KRVideoCompletion = std::function<void(const std::shared_ptr<KRVideo>& video, const KROptionalError& error)>;
// key: the 32-character mixin key, or a null string.
using KRMixinKeyCompletion = std::function<void(const QString& key, const KROptionalError& error)>;
// signedParameters: empty when signing failed.
using KRSignedParametersCompletion =
    std::function<void(const QVariantMap& signedParameters, const KROptionalError& error)>;

// The client of the service's public web API and of the unauthenticated app API. Every
// operation is called on the main thread; every completion is called exactly once on the
// main thread (inside the call only where noted). All state is process-wide.
class KRAPIClient {
public:
    static KRAPIClient* sharedClient();

    // Domain KRAPIErrorDomain and code -404, 62002 or 62004; false without an error.
    static bool errorRepresentsUnavailableArchive(const KROptionalError& error);

    // The URL made from the text; invalid when it cannot be parsed.
    QUrl URLWithString(const QString& string) const;

    // The JSON request, session included.
    void performJSONURL(const QString& url, KRJSONCompletion completion);
    // The JSON request. A missing or unparsable URL answers -1 later on the main thread.
    void performJSONURL(const QString& url, bool includeSession, KRJSONCompletion completion);

    // The video request: the reply normalised into videos. Either completion may be empty;
    // when both are given the list completion runs first.
    void performURL(const QString& url, KRVideoListCompletion listCompletion, KRVideoCompletion videoCompletion);

    // The web-signature mixin key; answers inside the call while the cached key is fresh.
    void loadWBIMixinKeyForceRefresh(bool force, KRMixinKeyCompletion completion);
    // The parameters with "wts" and "w_rid" added; inside the call while the key is fresh.
    void signWBIParameters(const QVariantMap& parameters, KRSignedParametersCompletion completion);

    void registerCompatibilityMappingsForVideos(const KRVideoList& videos);

    // ---- Read loaders (KRAPIClientFeeds.cpp, KRAPIClientDetail.cpp, KRAPIClientComments.cpp) ----
    // ---- end of read loaders ----

    // Testing seams. The clock gives Unix seconds (fractional); an empty function restores
    // the system clock. A time-out of 0 or less restores the product's 20 s.
    static void setClockForTesting(std::function<double()> clock);
    static void setRequestTimeoutForTesting(double seconds);
    // Forgets the cached mixin key.
    static void resetWBIMixinKeyForTesting();

    // The current Unix time in seconds from the client's clock.
    static double currentTime();

private:
    KRAPIClient() = default;
    friend platform::OperationQueue* KRAPIWorkerQueue();

    // The class lock: held only for the few statements that touch the client's shared
    // statics (the queue, loader cursors), never across a request.
    static std::recursive_mutex& classLock();
    // The per-request time-out (20 s in the product).
    static double requestTimeout();
    // "https://" + web host + "/".
    static QString webRefererURL();
    // The browser-like User-Agent of the web family.
    static QString webUserAgent();
    // Fills method, time-out and the header family of a JSON request for this address.
    static void prepareJSONRequest(platform::HTTPRequest& request, bool includeSession);
    // Fills method, time-out and the headers of a video request for this address.
    static void prepareVideoRequest(platform::HTTPRequest& request);
};

// The one worker queue of the client (2 wide on A4-class devices, else 4).
platform::OperationQueue* KRAPIWorkerQueue();

// Response cache.
bool KRShouldCacheURL(const QString& url);
// The cache file of an address. Addresses carrying the web signature are keyed without
// their "wts" and "w_rid", so repeated signed requests share one file.
QString KRCachePathForURL(const QString& url);

// The service error a parsed reply carries (non-zero "code"), or none.
KROptionalError KRAPIErrorFromPayload(const QVariant& payload);
// An error of KRAPIErrorDomain.
KRError KRAPIError(qint64 code, const QString& message);
bool KRAPIErrorMeansArchiveUnavailable(const KROptionalError& error);

// Query encoding.
QString KRPercentEscapedQueryValue(const QString& text);
// Sorted keys; "escaped key=escaped value" joined with "&"; non-text values by description.
QString KRQueryStringFromParameters(const QVariantMap& parameters);

// Web signature.
QString KRWBIFileKey(const QVariant& value);
// The mixin key from the two image addresses of the navigation reply; null when too short.
QString KRWBIMixinKeyFromFileKeys(const QString& imgKey, const QString& subKey);
QVariantMap KRWBISignedParameters(const QVariantMap& parameters, const QString& mixinKey);
QString KRWBISignedURLString(const QString& base, const QVariantMap& parameters, const QString& mixinKey);

// App signature.
QString KRAppSignedURLString(const QString& base, const QVariantMap& parameters);

// Archive-id compatibility mapping (see KRCompatibilityAIDMap).
void KRRegisterCompatibilityMappings(const KRVideoList& videos);
void KRApplyResolvedAIDs(const KRVideoList& videos);
