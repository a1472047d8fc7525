#pragma once

#include "model/KRError.h"

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
    // Pages count from 1; a page below 1 is page 1. Argument errors are answered inside the
    // call (the statistics loader's on the next turn of the main thread); everything else later.

    // One page of an uploader's videos.
    struct KRVideoPageResult {
        KRVideoList videos;        // empty on failure
        qint64 page = 0;           // the page the reply stands for
        qint64 pageSize = 0;       // 20 (app route), the reply's (web route), 10 (search by name)
        bool hasMore = false;      // a further page exists
        std::optional<qint64> total; // only when the service gave one
    };
    using KRVideoPageCompletion = std::function<void(const KRVideoPageResult& result, const KROptionalError& error)>;
    using KRTagsCompletion = std::function<void(const QStringList& tags, const KROptionalError& error)>;
    using KRCommentPageCompletion =
        std::function<void(const std::shared_ptr<class KRCommentPage>& page, const KROptionalError& error)>;
    using KRCommentCompletion =
        std::function<void(const std::shared_ptr<class KRComment>& comment, const KROptionalError& error)>;

    // Feeds and sections.
    // The popular list.
    void loadHomePage(qint64 page, KRVideoListCompletion completion);
    // The recommendation feed; the popular list of the same page when it fails or is empty.
    void loadRecommendedHomePage(qint64 page, KRVideoListCompletion completion);
    // The recommendation feed alone; every call asks for a fresh batch.
    void loadCurrentRecommendedHomePage(qint64 page, KRVideoListCompletion completion);
    // A UGC region's ranking in pages of 20; its new list when the ranking fails.
    void loadSection(qint64 rid, qint64 page, KRVideoListCompletion completion);
    // A PGC catalogue by season type.
    void loadPGCSection(qint64 seasonType, qint64 page, KRVideoListCompletion completion);
    // Several regions merged round-robin without repeats; rids are numbers (others ignored).
    void loadAggregateSections(const QVariantList& rids, qint64 page, KRVideoListCompletion completion);
    // Video search; order "click", "pubdate" or "dm" (anything else: the comprehensive order).
    void search(const QString& keyword, qint64 page, KRVideoListCompletion completion);
    void search(const QString& keyword, qint64 page, const QString& order, KRVideoListCompletion completion);
    // An uploader's videos: the app cursor route, the signed web route when that fails; a mid
    // of 0 or less searches for the name.
    void loadUploaderPageForMID(qint64 mid, const QString& name, qint64 page, KRVideoPageCompletion completion);
    void loadUploaderVideosForMID(qint64 mid, const QString& name, qint64 page, KRVideoListCompletion completion);
    void loadUploaderAppPageForMID(qint64 mid, const QString& name, qint64 page, KRVideoPageCompletion completion);
    void loadUploaderWBIPageForMID(qint64 mid, const QString& name, qint64 page, KRVideoPageCompletion completion);

    // Detail, season, tags and related videos. The given video is never changed, except that
    // the PGC identity bootstrap records the episode or season id it found on it.
    void loadDetailForVideo(const std::shared_ptr<KRVideo>& video, KRVideoCompletion completion);
    void loadStatisticsForVideo(const std::shared_ptr<KRVideo>& video, KRVideoCompletion completion);
    void loadTagsForVideo(const std::shared_ptr<KRVideo>& video, KRTagsCompletion completion);
    void loadRelatedVideosForVideo(const std::shared_ptr<KRVideo>& video, KRVideoListCompletion completion);
    void loadPGCDetailForVideo(const std::shared_ptr<KRVideo>& video, KRVideoCompletion completion);
    void loadResolvedPGCDetailForVideo(const std::shared_ptr<KRVideo>& video, bool useAppEndpoint,
                                       KRVideoCompletion completion);
    void loadLegacyDetailForVideo(const std::shared_ptr<KRVideo>& video, KRVideoCompletion completion);
    void loadArchivePageFallbackForVideo(const std::shared_ptr<KRVideo>& video, KRVideoCompletion completion);

    // Comments: top-level comments of a video (type 1) or of any object, replies under one
    // comment, and one comment with its preview replies.
    void loadCommentsForVideo(const std::shared_ptr<KRVideo>& video, qint32 page, KRCommentPageCompletion completion);
    void loadCommentsForOID(qint64 oid, qint32 type, qint32 page, KRCommentPageCompletion completion);
    void loadRepliesForComment(const std::shared_ptr<class KRComment>& comment, qint32 page,
                               KRCommentPageCompletion completion);
    void loadCommentDetailForOID(qint64 oid, qint32 type, qint64 root, KRCommentCompletion completion);

    // Tests: forgets the recommendation counter and the uploader and comment cursors, as a
    // new process starts.
    static void resetReadLoaderStateForTesting();

private:
    static void forgetCommentPageCursors();
    // -6: no mixin key came out of the navigation reply; -7: signing gave nothing.
    static KRError missingMixinKeyError();
    static KRError unsignedParametersError();
    void loadWBICommentsForOID(qint64 oid, qint32 type, qint32 page, const QString& mixinKey,
                               KRCommentPageCompletion completion);
    void loadLegacyCommentsForOID(qint64 oid, qint32 type, qint32 page, KRCommentPageCompletion completion);
    void continueSearchWithSignature(const QString& keyword, qint64 page, const QString& order,
                                     const KRError& plainError, KRVideoListCompletion completion);
    // "https://" + API host + path and query.
    static QString loaderAPIURL(const QString& pathAndQuery);
    // The text of one value of a console line or event detail: a null text "(null)", a flag
    // YES/NO, an error its description.
    static QString loaderArgument(const QString& text);
    static QString loaderArgument(const KROptionalError& error);
    template <typename T>
    static QString loaderArgument(const T& value)
    {
        if constexpr (std::is_same_v<T, bool>)
            return value ? QStringLiteral("YES") : QStringLiteral("NO");
        else if constexpr (std::is_integral_v<T> || std::is_floating_point_v<T>)
            return QString::number(value);
        else
            return loaderArgument(QString(value));
    }
    // A loader's answer to an argument error: an empty result and the error.
    template <typename Completion>
    static void fail(const Completion& completion, const KRError& error)
    {
        if (completion)
            completion({}, error);
    }
    // The format filled in one pass, so a value holding "%1" is never taken for a marker.
    template <typename... Args>
    static QString loaderText(const QString& format, const Args&... args)
    {
        return format.arg(loaderArgument(args)...);
    }

public:
    // ---- end of read loaders ----

    // Testing seams. The clock gives Unix seconds (fractional); an empty function restores
    // the system clock. A time-out of 0 or less restores the product's 20 s.
    static void setClockForTesting(std::function<double()> clock);
    static void setRequestTimeoutForTesting(double seconds);
    // Forgets the cached mixin key.
    static void resetWBIMixinKeyForTesting();

    // The current Unix time in seconds from the client's clock.
    static double currentTime();

    // ---- Play-address chain (KRAPIClientPlayURL.cpp) ----
    // A video carrying a single-file address in playURL. The first form starts playback
    // (series hydration, old-system road, quality tiers, old play host); the second switches
    // to one quality on the current route. Argument errors (-35, -101) answer inside the call.
    void loadPlayURLForVideo(const std::shared_ptr<KRVideo>& video, KRVideoCompletion completion);
    void loadPlayURLForVideo(const std::shared_ptr<KRVideo>& video, qint32 quality, KRVideoCompletion completion);

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
// -3 "服务器没有返回数据，请稍后重试": a successful status with an empty body.
KRError KRAPIEmptyReplyError();
// -4 "服务器返回的数据格式异常，请稍后重试": a reply that could not be read, or that named nothing.
KRError KRAPIMalformedReplyError();
// A refused HTTP status: the status as code (-2 below 1) and "服务器返回 HTTP %ld，请稍后重试".
KRError KRHTTPStatusError(int status);
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
