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
#include <utility>

class KRRequestAddress;
class KRVideo;
class QObject;
namespace platform {
class OperationQueue;
}

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
//
// Every asynchronous operation takes the object its reply is for (`owner`, just before the
// completion, as the context object of Qt's connect). Once the owner is destroyed nothing
// is delivered: the completion is released on the main thread without being called, and the
// rest of a chain of requests is not started. A null owner stands for a caller that lives
// as long as the process; its replies are always delivered.
class KRAPIClient {
public:
    static KRAPIClient* sharedClient();

    // Domain KRAPIErrorDomain and code -404, 62002 or 62004; false without an error.
    static bool errorRepresentsUnavailableArchive(const KROptionalError& error);

    // The URL made from the text; invalid when it cannot be parsed.
    QUrl URLWithString(const QString& string) const;

    // The JSON request, session included.
    void performJSONURL(const QString& url, QObject* owner, KRJSONCompletion completion);
    // The JSON request. A missing or unparsable URL answers -1 later on the main thread.
    void performJSONURL(const QString& url, bool includeSession, QObject* owner, KRJSONCompletion completion);
    // The JSON request, session included, its reply normalised into videos (none after an
    // error) and let go on the worker once the videos are handed back, so that a list
    // loader's completion only hands them on.
    void performJSONVideosURL(const QString& url, QObject* owner, KRVideoListCompletion completion);

    // The video request: the reply normalised into videos. Either completion may be empty;
    // when both are given the list completion runs first.
    void performURL(const QString& url, QObject* owner, KRVideoListCompletion listCompletion,
                    KRVideoCompletion videoCompletion);

    // The web-signature mixin key; answers inside the call while the cached key is fresh.
    void loadWBIMixinKeyForceRefresh(bool force, QObject* owner, KRMixinKeyCompletion completion);
    // The parameters with "wts" and "w_rid" added; inside the call while the key is fresh.
    void signWBIParameters(const QVariantMap& parameters, QObject* owner, KRSignedParametersCompletion completion);

    void registerCompatibilityMappingsForVideos(const KRVideoList& videos);

    // Ensures the risk-control cookies "buvid3" and "b_nut": the fingerprint endpoint's answer
    // goes to the session store, which merges it. Inside the call when both are already there.
    void prepareRiskControlCookiesWithCompletion(QObject* owner, std::function<void(bool ready, KROptionalError error)> completion);

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
    void loadHomePage(qint64 page, QObject* owner, KRVideoListCompletion completion);
    // The recommendation feed; the popular list of the same page when it fails or is empty.
    void loadRecommendedHomePage(qint64 page, QObject* owner, KRVideoListCompletion completion);
    // Asks for the first page of the recommendation feed now, before the home list exists; the
    // list's first ask, when it is for page 1, takes its answer (waiting for it when it has not
    // come yet) instead of asking again. Any other first ask drops it. Once while it is pending.
    void prefetchRecommendedHomePage();
    // The recommendation feed alone; every call asks for a fresh batch.
    void loadCurrentRecommendedHomePage(qint64 page, QObject* owner, KRVideoListCompletion completion);
    // A UGC region's ranking in pages of 20; its new list when the ranking fails.
    void loadSection(qint64 rid, qint64 page, QObject* owner, KRVideoListCompletion completion);
    // A PGC catalogue by season type.
    void loadPGCSection(qint64 seasonType, qint64 page, QObject* owner, KRVideoListCompletion completion);
    // Several regions merged round-robin without repeats; rids are numbers (others ignored).
    void loadAggregateSections(const QVariantList& rids, qint64 page, QObject* owner, KRVideoListCompletion completion);
    // Video search; order "click", "pubdate" or "dm" (anything else: the comprehensive order).
    void search(const QString& keyword, qint64 page, QObject* owner, KRVideoListCompletion completion);
    void search(const QString& keyword, qint64 page, const QString& order, QObject* owner, KRVideoListCompletion completion);
    // An uploader's videos: the app cursor route, the signed web route when that fails; a mid
    // of 0 or less searches for the name.
    void loadUploaderPageForMID(qint64 mid, const QString& name, qint64 page, QObject* owner, KRVideoPageCompletion completion);
    void loadUploaderVideosForMID(qint64 mid, const QString& name, qint64 page, QObject* owner, KRVideoListCompletion completion);
    void loadUploaderAppPageForMID(qint64 mid, const QString& name, qint64 page, QObject* owner, KRVideoPageCompletion completion);
    void loadUploaderWBIPageForMID(qint64 mid, const QString& name, qint64 page, QObject* owner, KRVideoPageCompletion completion);

    // Detail, season, tags and related videos. The given video is never changed, except that
    // the PGC identity bootstrap records the episode or season id it found on it.
    void loadDetailForVideo(const std::shared_ptr<KRVideo>& video, QObject* owner, KRVideoCompletion completion);
    void loadStatisticsForVideo(const std::shared_ptr<KRVideo>& video, QObject* owner, KRVideoCompletion completion);
    void loadTagsForVideo(const std::shared_ptr<KRVideo>& video, QObject* owner, KRTagsCompletion completion);
    void loadRelatedVideosForVideo(const std::shared_ptr<KRVideo>& video, QObject* owner, KRVideoListCompletion completion);
    void loadPGCDetailForVideo(const std::shared_ptr<KRVideo>& video, QObject* owner, KRVideoCompletion completion);
    void loadResolvedPGCDetailForVideo(const std::shared_ptr<KRVideo>& video, bool useAppEndpoint,
                                       QObject* owner, KRVideoCompletion completion);
    void loadLegacyDetailForVideo(const std::shared_ptr<KRVideo>& video, QObject* owner, KRVideoCompletion completion);
    void loadArchivePageFallbackForVideo(const std::shared_ptr<KRVideo>& video, QObject* owner, KRVideoCompletion completion);

    // Comments: top-level comments of a video (type 1) or of any object, replies under one
    // comment, and one comment with its preview replies.
    void loadCommentsForVideo(const std::shared_ptr<KRVideo>& video, qint32 page, QObject* owner, KRCommentPageCompletion completion);
    void loadCommentsForOID(qint64 oid, qint32 type, qint32 page, QObject* owner, KRCommentPageCompletion completion);
    void loadRepliesForComment(const std::shared_ptr<class KRComment>& comment, qint32 page,
                               QObject* owner, KRCommentPageCompletion completion);
    void loadCommentDetailForOID(qint64 oid, qint32 type, qint64 root, QObject* owner, KRCommentCompletion completion);

    // Tests: forgets the recommendation counter, the uploader and comment cursors and the home
    // page's prefetch, as a new process starts.
    static void resetReadLoaderStateForTesting();

    // The readers of replies the loaders above hand on, each on the parsed reply.
    // The key the navigation reply carries (stored when good) and the error a missing one is.
    static std::pair<QString, KROptionalError> mixinKeyFromNavigationReply(const QVariant& payload,
                                                                         const KROptionalError& requestError);
    // The tag names of a tag-list reply, each once, in the reply's order.
    static QStringList tagNamesFromReply(const QVariant& payload);
    // The recommendation reply's video items, as list objects the normaliser reads: adverts,
    // live rooms and other cards are left out, and the feed's "id" stands in for a missing
    // "aid". `rawCount` is the number of items the reply held.
    static QVariantList recommendationVideoItems(const QVariant& payload, qsizetype* rawCount);

private:
    static void forgetCommentPageCursors();
    // The pending prefetch given to this ask (answered later, through the owner); false when
    // there is none to take.
    bool takePrefetchedHomePage(qint64 page, QObject* owner, KRVideoListCompletion completion);
    template <typename OnWorker, typename Deliver, typename Invalid>
    void startJSONRequest(const QString& url, bool includeSession, QObject* owner, OnWorker onWorker, Deliver deliver,
                          Invalid invalid);
    // Worker side: one JSON exchange and its reading, the same as performJSONURL's work; the
    // text form logs the request line as performJSONURL does.
    static std::pair<QVariant, KROptionalError> exchangeJSON(const KRRequestAddress& address, bool includeSession);
    static std::pair<QVariant, KROptionalError> exchangeJSONURL(const QString& url, bool includeSession);
    // The mixin key while it is fresh, else a null string.
    static QString freshCachedMixinKey();
    static QString navigationURL();
    static std::pair<QVariantMap, KROptionalError> signedParameters(const QVariantMap& parameters, const QString& key,
                                                                   const KROptionalError& keyError);
    // Worker side: signWBIParameters as one step, the key fetched in it when not fresh.
    static std::pair<QVariantMap, KROptionalError> signWBIParametersOnWorker(const QVariantMap& parameters);
    // -6: no mixin key came out of the navigation reply; -7: signing gave nothing.
    static KRError missingMixinKeyError();
    static KRError unsignedParametersError();
    void loadWBICommentsForOID(qint64 oid, qint32 type, qint32 page, const QString& mixinKey,
                               QObject* owner, KRCommentPageCompletion completion);
    void loadLegacyCommentsForOID(qint64 oid, qint32 type, qint32 page, QObject* owner, KRCommentPageCompletion completion);
    void continueSearchWithSignature(const QString& keyword, qint64 page, const QString& order,
                                     const KRError& plainError, QObject* owner, KRVideoListCompletion completion);
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
    // Every step of the chain is the owner's: once it has gone, no further step is asked.
    void loadPlayURLForVideo(const std::shared_ptr<KRVideo>& video, QObject* owner, KRVideoCompletion completion);
    void loadPlayURLForVideo(const std::shared_ptr<KRVideo>& video, qint32 quality, QObject* owner, KRVideoCompletion completion);

private:
    // The chain's steps. Each hands its answer on as it is or moves to the next step from
    // inside a reply, always with the caller's owner.
    // The qualities from `index` on, one after another; `lastError` is the previous tier's.
    void loadProgressivePlayURLForVideo(const std::shared_ptr<KRVideo>& video, const QList<int>& qualities, int index,
                                        const KROptionalError& lastError, QObject* owner, KRVideoCompletion completion);
    // After the last tier: the old play host, or the tiers' error.
    void finishProgressivePlayURLForVideo(const std::shared_ptr<KRVideo>& video, const KROptionalError& currentError,
                                          QObject* owner, KRVideoCompletion completion);
    // The current route, once more without the session when a signed-in ask fails.
    void loadCurrentPlayURLForVideo(const std::shared_ptr<KRVideo>& video, qint32 quality, QObject* owner,
                                    KRVideoCompletion completion);
    // The app series route, the account route or the web route, by the video and the session.
    void loadCurrentPlayURLForVideo(const std::shared_ptr<KRVideo>& video, qint32 quality, bool includeSession,
                                    QObject* owner, KRVideoCompletion completion);
    // A series episode through the account client's app route; the web route when it fails.
    void loadAppPGCPlayURLForVideo(const std::shared_ptr<KRVideo>& video, qint32 quality, QObject* owner,
                                   KRVideoCompletion completion);
    // The web play-address endpoints with their retries.
    void loadCurrentWebPlayURLForVideo(const std::shared_ptr<KRVideo>& video, qint32 requested, bool includeSession,
                                       QObject* owner, KRVideoCompletion completion);
    // The old play host's address.
    void loadLegacyPlayURLForVideo(const std::shared_ptr<KRVideo>& video, QObject* owner, KRVideoCompletion completion);

    KRAPIClient() = default;
    friend platform::OperationQueue* KRAPIWorkerQueue();

    // The class lock: held only for the few statements that touch the client's shared
    // statics (the queue, loader cursors), never across a request.
    static std::recursive_mutex& classLock();
};

// The one worker queue of the client (2 wide on A4-class devices, else 4).
platform::OperationQueue* KRAPIWorkerQueue();

// Shutdown, main thread, once, at exit: queued requests are dropped (their completions
// released unrun) and the running ones end early; returns when the worker queue is idle.
void KRShutDownAPIWorkerQueue();
