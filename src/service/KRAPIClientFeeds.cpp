// The list loaders: home feed (recommendations with the popular list behind them), sections,
// PGC catalogues, search and uploader pages.

#include "service/KRAPIClient.h"

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/foundation/OwnedWork.h"
#include "platform/foundation/ReplyOwner.h"
#include "service/KRAsyncRequest.h"
#include "platform/net/HTTPExchange.h"
#include "model/KRAPIReplyHelpers.h"
#include "model/KRConsole.h"
#include "model/KRJSON.h"
#include "model/KRServiceHosts.h"
#include "model/KRTolerantValue.h"
#include "model/KRVideo.h"
#include "model/KRVideoNormalizer.h"
#include "service/KRAPIErrors.h"
#include "service/KRAPIQuery.h"
#include "service/KRAPISigning.h"
#include "service/KRCompatibilityAIDMap.h"
#include "service/KRRequestPipeline.h"
#include "store/KRDiagnostics.h"
#include "store/KRSessionStore.h"

#include <QHash>
#include <QSet>
#include <QStringList>

#include <algorithm>
#include <limits>

namespace {

// The recommendation counter and the uploader cursors; read and written under the class lock.
qint64 KRHomeRecommendationRequestIndex = 0;
QHash<QString, qint64> KRUploaderPageCursors;

constexpr qint64 KRListPageSize = 20;
constexpr qint64 KRSearchPageSize = 10;

qint64 atLeastOnePage(qint64 page) { return std::max<qint64>(1, page); }

QString uploaderCursorKey(qint64 mid, qint64 page) { return QStringLiteral("%1:%2").arg(mid).arg(page); }

// The fill of an uploader's videos: the id and name of the page they were asked for.
void fillOwner(const KRVideoList& videos, qint64 mid, const QString& name)
{
    for (const std::shared_ptr<KRVideo>& video : videos) {
        if (video->ownerMID() < 1)
            video->setOwnerMID(mid);
        if (video->ownerName().isEmpty())
            video->setOwnerName(name);
    }
}

QVariantMap dataObject(const QVariant& payload)
{
    const QVariant data = payload.toMap().value(QStringLiteral("data"));
    return KRIsDictionary(data) ? data.toMap() : QVariantMap();
}

// pn × ps < total without overflow on hostile numbers.
bool pagesBeforeTotal(qint64 pn, qint64 ps, qint64 total)
{
    if (pn > std::numeric_limits<qint64>::max() / ps)
        return false;
    return pn * ps < total;
}

// Videos registered with the archive-id map.
KRVideoList registered(const KRVideoList& videos)
{
    KRRegisterCompatibilityMappings(videos);
    return videos;
}

// The videos of a list reply (none after an error), registered with the archive-id map.
KRVideoList registeredVideos(const QVariant& payload, const KROptionalError& error)
{
    return registered(error ? KRVideoList() : KRVideoNormalizer::videosFromPayload(payload));
}

// A list loader's last step: its console line, then the answer.
void finishList(const KRVideoListCompletion& completion, const KRVideoList& videos, const KROptionalError& error,
                const QString& line)
{
    KRConsole::log(line);
    if (completion)
        completion(videos, error);
}

QString searchOrderName(const QString& order) { return order.isEmpty() ? QStringLiteral("comprehensive") : order; }


// Main thread only. Running: asked of the service, nobody has taken it yet; Taken: the
// taker's completion waits for it; Arrived: the answer waits for its taker.
struct HomePagePrefetch {
    enum State { Idle, Running, Taken, Arrived };
    State state = Idle;
    // The run whose answer the slot expects; a dropped run's answer is ignored.
    quint64 run = 0;
    KRVideoList videos;
    KROptionalError error;
    KRVideoListCompletion taker;
};

HomePagePrefetch& homePagePrefetch()
{
    static HomePagePrefetch prefetch;
    return prefetch;
}

void forgetHomePagePrefetch()
{
    HomePagePrefetch& prefetch = homePagePrefetch();
    prefetch.state = HomePagePrefetch::Idle;
    ++prefetch.run;
    prefetch.videos.clear();
    prefetch.error.reset();
    prefetch.taker = {};
}

} // namespace

// ---- Shared helpers of the loaders ----

QString KRAPIClient::loaderAPIURL(const QString& pathAndQuery)
{
    // The host is a build constant: its text is made once, not at every page asked for.
    static const QString root = QStringLiteral("https://") + KRServiceHosts::apiHost();
    return root + pathAndQuery;
}

QString KRAPIClient::loaderArgument(const QString& text)
{
    return KRConsole::object(text);
}

QString KRAPIClient::loaderArgument(const KROptionalError& error)
{
    return error ? error->description() : QStringLiteral("(null)");
}

QVariantList KRAPIClient::recommendationVideoItems(const QVariant& payload, qsizetype* rawCount)
{
    const QVariant items = dataObject(payload).value(QStringLiteral("item"));
    const QVariantList raw = KRIsArray(items) ? items.toList() : QVariantList();
    *rawCount = raw.size();
    QVariantList kept;
    for (const QVariant& value : raw) {
        if (!KRIsDictionary(value))
            continue;
        QVariantMap item = value.toMap();
        const QVariant kind = item.value(QStringLiteral("goto"));
        if (!KRIsString(kind) || kind.toString() != QLatin1String("av"))
            continue;
        if (KRString(item.value(QStringLiteral("bvid"))).isEmpty())
            continue;
        const QVariant identifier = item.value(QStringLiteral("id"));
        if (KRIntegerValue(identifier).value_or(0) < 1)
            continue;
        if (KRIsMissing(item.value(QStringLiteral("aid"))))
            item.insert(QStringLiteral("aid"), identifier);
        kept.append(item);
    }
    return kept;
}

void KRAPIClient::resetReadLoaderStateForTesting()
{
    std::lock_guard<std::recursive_mutex> lock(classLock());
    KRHomeRecommendationRequestIndex = 0;
    KRUploaderPageCursors.clear();
    forgetCommentPageCursors();
    forgetHomePagePrefetch();
}

// ---- Popular list and recommendations ----

void KRAPIClient::loadHomePage(qint64 page, QObject* owner, KRVideoListCompletion completion)
{
    page = atLeastOnePage(page);
    const QString url = loaderAPIURL(QStringLiteral("/x/web-interface/popular?pn=%1&ps=20").arg(page));
    performJSONVideosURL(url, owner, [owner, page, completion = std::move(completion)](const KRVideoList& normalized,
                                                                                         const KROptionalError& error) {
        const KRVideoList videos = registered(normalized);
        finishList(completion, videos, error,
                   loaderText(QStringLiteral("[KorvanePopular] page=%1 count=%2 error=%3"), page, videos.size(), error));
    });
}

void KRAPIClient::loadRecommendedHomePage(qint64 page, QObject* owner, KRVideoListCompletion completion)
{
    page = atLeastOnePage(page);
    auto fallBack = [this, owner, page, completion = std::move(completion)](const KRVideoList& videos, const KROptionalError& error) {
        if (!error && !videos.isEmpty()) {
            if (completion)
                completion(videos, error);
            return;
        }
        KRConsole::log(loaderText(QStringLiteral("[KorvaneRecommendation] current feed failed page=%1 error=%2; fallback=legacy-pool"),
                                  page, error));
        loadHomePage(page, owner, completion);
    };
    if (takePrefetchedHomePage(page, owner, fallBack))
        return;
    loadCurrentRecommendedHomePage(page, owner, std::move(fallBack));
}

void KRAPIClient::loadCurrentRecommendedHomePage(qint64 page, QObject* owner, KRVideoListCompletion completion)
{
    page = atLeastOnePage(page);
    qint64 fresh = 1;
    {
        // Every request, a reload of page 1 included, asks the service for a new batch.
        std::lock_guard<std::recursive_mutex> lock(classLock());
        qint64 next = KRHomeRecommendationRequestIndex + 1;
        if (page >= 2)
            next = std::max(page, next);
        KRHomeRecommendationRequestIndex = next;
        fresh = std::max<qint64>(1, next);
    }
    const QVariantMap parameters{{QStringLiteral("fresh_type"), 3},     {QStringLiteral("version"), 1},
                                 {QStringLiteral("ps"), 20},            {QStringLiteral("fresh_idx"), fresh},
                                 {QStringLiteral("fresh_idx_1h"), fresh}, {QStringLiteral("homepage_ver"), 1},
                                 {QStringLiteral("web_location"), 1430650}};
    // The key fetch, the signing and the list are one step on the worker: a hop to the main
    // thread between them would wait behind whatever the main thread is doing (at start,
    // building and painting the first screen). The feed is never served from the response
    // cache, and its requests are a kind of their own.
    struct Batch {
        bool signedRequest = false;
        int status = 0;
        QVariantMap list;
        qsizetype rawCount = 0;
        bool accountKnown = false;
        KROptionalError error;
    };
    auto work = [parameters, page, fresh](const KRAsyncRequest& request) {
        const auto [signedParameters, signError] = signWBIParametersOnWorker(parameters);
        if (signedParameters.isEmpty() || signError)
            return Batch{false, 0, {}, 0, false, signError.value_or(unsignedParametersError())};
        if (request.abandoned())
            return Batch{};
        const QString url = loaderAPIURL(QStringLiteral("/x/web-interface/wbi/index/top/feed/rcmd?")
                                         + KRQueryStringFromParameters(signedParameters));
        KRConsole::log(loaderText(QStringLiteral("[KorvaneRecommendation] request page=%1 fresh=%2 loggedIn=%3 endpoint=web-wbi-rcmd"),
                                  page, fresh, KRSessionStore::sharedStore().isLoggedIn()));
        const platform::HTTPResponse response = KRRequestPipeline::perform(KRRequestKind::RecommendationFeed, url);

        const int status = response.error ? 0 : response.status;
        KROptionalError error = response.error;
        QVariant payload;
        if (!error && !response.body.isEmpty()) {
            QString why;
            payload = KRJSONParse(response.body, &why);
            error = payload.isValid() ? KRAPIErrorFromPayload(payload) : KRJSONReaderError(why);
        }
        // A refusal or an empty answer is a failure, not an empty batch; a refusal whose
        // body names a service error keeps that error.
        if (!response.error && !(payload.isValid() && error)) {
            if (status < 200 || status > 299)
                error = KRHTTPStatusError(status);
            else if (response.body.isEmpty())
                error = KRAPIEmptyReplyError();
        }

        qsizetype rawCount = 0;
        const QVariantMap list{{QStringLiteral("list"), KRAPIClient::recommendationVideoItems(payload, &rawCount)}};
        const bool accountKnown = KRLongLong(dataObject(payload).value(QStringLiteral("mid"))) > 0;

        return Batch{true, status, list, rawCount, accountKnown, error};
    };
    KRAsyncRequest(owner).onQueue(KRAPIWorkerQueue()).run(std::move(work), [completion = std::move(completion)](const Batch& batch) {
        if (!batch.signedRequest)
            return fail(completion, batch.error.value_or(unsignedParametersError()));
        const KRVideoList videos = registeredVideos(batch.list, batch.error);
        finishList(completion, videos, batch.error,
                   loaderText(QStringLiteral("[KorvaneRecommendation] response status=%1 raw=%2 videos=%3 accountMid=%4 error=%5"),
                              batch.status, batch.rawCount, videos.size(), batch.accountKnown, batch.error));
    });
}

// ---- The home list's first page, asked for before the list exists ----

void KRAPIClient::prefetchRecommendedHomePage()
{
    platform::assertMainThread("KRAPIClient::prefetchRecommendedHomePage");
    HomePagePrefetch& prefetch = homePagePrefetch();
    if (prefetch.state != HomePagePrefetch::Idle)
        return;
    prefetch.state = HomePagePrefetch::Running;
    const quint64 run = ++prefetch.run;
    // Nobody owns the request itself: its answer is kept for whoever takes it, and given
    // to that taker only while the taker lives.
    loadCurrentRecommendedHomePage(1, nullptr, [run](const KRVideoList& videos, const KROptionalError& error) {
        HomePagePrefetch& prefetch = homePagePrefetch();
        if (prefetch.run != run)
            return;
        if (prefetch.state == HomePagePrefetch::Taken) {
            const KRVideoListCompletion taker = std::move(prefetch.taker);
            forgetHomePagePrefetch();
            taker(videos, error);
            return;
        }
        prefetch.state = HomePagePrefetch::Arrived;
        prefetch.videos = videos;
        prefetch.error = error;
    });
}

bool KRAPIClient::takePrefetchedHomePage(qint64 page, QObject* owner, KRVideoListCompletion completion)
{
    HomePagePrefetch& prefetch = homePagePrefetch();
    if (prefetch.state == HomePagePrefetch::Idle || prefetch.state == HomePagePrefetch::Taken)
        return false;
    // Only the first ask may take it, and only when it is for the first page; any other ask
    // means the list has moved on, and a first page arriving after it would be out of order.
    if (page != 1) {
        forgetHomePagePrefetch();
        return false;
    }
    if (prefetch.state == HomePagePrefetch::Arrived) {
        // Later, as an asked request answers, never inside the ask.
        platform::OwnedWork(owner).answerLater(std::move(completion), prefetch.videos, prefetch.error);
        forgetHomePagePrefetch();
        return true;
    }
    auto deliver = platform::ownedBy(owner, std::move(completion));
    prefetch.state = HomePagePrefetch::Taken;
    prefetch.taker = std::move(deliver);
    return true;
}

// ---- Sections ----

void KRAPIClient::loadSection(qint64 rid, qint64 page, QObject* owner, KRVideoListCompletion completion)
{
    page = atLeastOnePage(page);
    rid = std::max<qint64>(0, rid);
    const QString url = loaderAPIURL(QStringLiteral("/x/web-interface/ranking/v2?rid=%1&type=all").arg(rid));
    performJSONVideosURL(url, owner, [this, owner, rid, page, completion = std::move(completion)](const KRVideoList& all,
                                                                                    const KROptionalError& rankingError) {
        if (!rankingError) {
            // The ranking is one list; a page beyond its end is empty, not a failure.
            KRVideoList slice;
            if ((page - 1) < all.size() / KRListPageSize + 1) {
                const qsizetype start = qsizetype(page - 1) * KRListPageSize;
                if (start < all.size())
                    slice = all.mid(start, KRListPageSize);
            }
            KRRegisterCompatibilityMappings(slice);
            return finishList(completion, slice, std::nullopt,
                              loaderText(QStringLiteral("[KorvaneSection] source=ranking tid=%1 page=%2 raw=%3 count=%4 error=nil"),
                                         rid, page, all.size(), slice.size()));
        }
        const QString fallbackURL =
            loaderAPIURL(QStringLiteral("/x/web-interface/newlist?rid=%1&type=0&pn=%2&ps=20").arg(rid).arg(page));
        performJSONVideosURL(fallbackURL, owner, [owner, rid, page, rankingError, completion](const KRVideoList& normalized,
                                                                          const KROptionalError& fallbackError) {
            const KRVideoList videos = registered(normalized);
            finishList(completion, videos, fallbackError,
                       loaderText(QStringLiteral("[KorvaneSection] source=newlist-fallback tid=%1 page=%2 count=%3 ranking=%4 fallback=%5"),
                                  rid, page, videos.size(), rankingError, fallbackError));
        });
    });
}

void KRAPIClient::loadPGCSection(qint64 seasonType, qint64 page, QObject* owner, KRVideoListCompletion completion)
{
    page = atLeastOnePage(page);
    const qint64 requestedType = std::max<qint64>(1, seasonType);
    const QString url = loaderAPIURL(
        QStringLiteral("/pgc/season/index/result?season_type=%1&type=1&order=2&sort=0&page=%2&pagesize=20").arg(requestedType).arg(page));
    performJSONURL(url, owner, [owner, seasonType, requestedType, page, completion = std::move(completion)](const QVariant& payload,
                                                                                              const KROptionalError& error) {
        KRVideoList videos;
        if (!error) {
            const QVariantMap root = KRPGCRootDictionary(payload);
            QVariant items = root.value(QStringLiteral("list"));
            if (!KRIsArray(items))
                items = root.value(QStringLiteral("items"));
            const QVariantList list = KRIsArray(items) ? items.toList() : QVariantList();
            for (const QVariant& value : list) {
                if (!KRIsDictionary(value))
                    continue;
                const QVariantMap item = value.toMap();
                auto video = std::make_shared<KRVideo>();
                video->setPgc(true);
                video->setSeasonType(KRTruncatedInt32(seasonType));
                qint64 seasonID = KRIntegerValue(item.value(QStringLiteral("season_id"))).value_or(0);
                if (seasonID <= 0)
                    seasonID = KRIntegerValue(item.value(QStringLiteral("seasonId"))).value_or(0);
                video->setSeasonID(seasonID);
                video->setTitle(KRAPIString(item.value(QStringLiteral("title"))));
                video->setCoverURL(KRAPIString(item.value(QStringLiteral("cover"))));
                const QString badge = KRAPIString(item.value(QStringLiteral("badge")));
                QString episodeText = KRAPIString(item.value(QStringLiteral("index_show")));
                if (episodeText.isEmpty())
                    episodeText = badge;
                QString orderText = KRAPIString(item.value(QStringLiteral("order")));
                if (orderText.isEmpty())
                    orderText = episodeText;
                const QString subtitle = KRAPIString(item.value(QStringLiteral("subtitle")));
                video->setPgcEpisodeText(episodeText);
                video->setPgcOrderText(orderText);
                video->setPgcBadge(badge);
                video->setPgcSubtitle(subtitle);
                QString summary = subtitle;
                if (summary.isEmpty())
                    summary = episodeText;
                if (summary.isEmpty())
                    summary = badge;
                video->setSummary(summary);
                video->setTname(KRPGCSeasonTypeName(seasonType));
                QString ownerName;
                const QVariant areas = item.value(QStringLiteral("areas"));
                if (KRIsArray(areas) && !areas.toList().isEmpty() && KRIsDictionary(areas.toList().first()))
                    ownerName = KRAPIString(areas.toList().first().toMap().value(QStringLiteral("name")));
                video->setOwnerName(ownerName.isEmpty() ? QStringLiteral("岚帆视频") : ownerName);
                const QVariant stat = item.value(QStringLiteral("stat"));
                if (KRIsDictionary(stat)) {
                    const QVariantMap counts = stat.toMap();
                    auto count = [&counts](const char* first, const char* second) {
                        const qint64 value = KRIntegerValue(counts.value(QLatin1String(first))).value_or(0);
                        return value > 0 ? value : KRIntegerValue(counts.value(QLatin1String(second))).value_or(0);
                    };
                    video->setPlayCount(count("view", "views"));
                    video->setDanmakuCount(count("danmakus", "danmaku"));
                    video->setReplyCount(KRIntegerValue(counts.value(QStringLiteral("reply"))).value_or(0));
                    video->setStatisticsKnown(true);
                }
                if (seasonID <= 0) {
                    video->setUnavailable(true);
                    video->setUnavailableReason(QStringLiteral("番剧信息暂不可用"));
                }
                videos.append(video);
            }
        }
        finishList(completion, videos, error,
                   loaderText(QStringLiteral("[KorvaneSection] source=pgc-index order=2 seasonType=%1 page=%2 count=%3 error=%4"),
                              requestedType, page, videos.size(), error));
    });
}

void KRAPIClient::loadAggregateSections(const QVariantList& rids, qint64 page, QObject* owner, KRVideoListCompletion completion)
{
    page = atLeastOnePage(page);
    QList<qint64> sources;
    for (const QVariant& value : rids) {
        const qint64 rid = KRIntegerValue(value).value_or(0);
        if (rid >= 1)
            sources.append(rid);
    }
    if (sources.isEmpty())
        return fail(completion, KRAPIError(-31, QStringLiteral("该分区暂未配置内容来源")));

    // One slot per source; the last source to answer merges. All answers arrive on the main
    // thread, one at a time.
    struct Aggregate {
        QList<KRVideoList> slots;
        KROptionalError firstError;
        qsizetype pending = 0;
        KRVideoListCompletion completion;
    };
    auto aggregate = std::make_shared<Aggregate>();
    aggregate->slots.resize(sources.size());
    aggregate->pending = sources.size();
    aggregate->completion = std::move(completion);

    for (qsizetype index = 0; index < sources.size(); ++index) {
        loadSection(sources.at(index), page, owner, [owner, aggregate, index, page](const KRVideoList& videos, const KROptionalError& error) {
            aggregate->slots[index] = videos;
            if (error && !aggregate->firstError)
                aggregate->firstError = error;
            if (--aggregate->pending > 0)
                return;

            KRVideoList merged;
            QSet<QString> seen;
            for (qsizetype round = 0;; ++round) {
                bool anyElement = false;
                for (const KRVideoList& slot : std::as_const(aggregate->slots)) {
                    if (round >= slot.size())
                        continue;
                    anyElement = true;
                    const std::shared_ptr<KRVideo>& video = slot.at(round);
                    const QString identity = video->feedIdentity();
                    if (!identity.isNull() && seen.contains(identity))
                        continue;
                    merged.append(video);
                    if (!identity.isNull())
                        seen.insert(identity);
                }
                if (!anyElement)
                    break;
            }
            KRRegisterCompatibilityMappings(merged);
            // Some source that delivered is enough; a failure counts only when nothing came.
            const KROptionalError mergedError = merged.isEmpty() ? aggregate->firstError : std::nullopt;
            const QString line = loaderText(QStringLiteral("[KorvaneSection] source=aggregate page=%1 sources=%2 count=%3 error=%4"),
                                            page, aggregate->slots.size(), merged.size(), mergedError);
            const KRVideoListCompletion done = std::move(aggregate->completion);
            aggregate->slots.clear();
            finishList(done, merged, mergedError, line);
        });
    }
}

// ---- Search ----

void KRAPIClient::search(const QString& keyword, qint64 page, QObject* owner, KRVideoListCompletion completion)
{
    search(keyword, page, QString(), owner, std::move(completion));
}

void KRAPIClient::search(const QString& keyword, qint64 page, const QString& order, QObject* owner, KRVideoListCompletion completion)
{
    const QString trimmed = keyword.trimmed();
    if (trimmed.isEmpty()) {
        if (completion)
            completion({}, std::nullopt);
        return;
    }
    page = atLeastOnePage(page);
    static const QStringList knownOrders{QStringLiteral("click"), QStringLiteral("pubdate"), QStringLiteral("dm")};
    const QString keptOrder = knownOrders.contains(order) ? order : QString();
    const QString url = loaderAPIURL(QStringLiteral("/x/web-interface/search/type?search_type=video&keyword=")
                                     + KRPercentEscapedQueryValue(trimmed) + QStringLiteral("&page=") + QString::number(page)
                                     + QStringLiteral("&page_size=10")
                                     + (keptOrder.isEmpty() ? QString() : QStringLiteral("&order=") + keptOrder));
    performJSONVideosURL(url, owner, [this, owner, trimmed, page, keptOrder, completion = std::move(completion)](const KRVideoList& normalized,
                                                                                             const KROptionalError& error) mutable {
        const KRVideoList videos = registered(normalized);
        const QString line = loaderText(QStringLiteral("[KorvaneSearch] source=web order=%1 page=%2 count=%3 error=%4"),
                                        searchOrderName(keptOrder), page, videos.size(), error);
        // The service refuses plain searches it takes for automated ones; the signed search
        // usually passes.
        if (error && error->domain() == KRAPIErrorDomain && error->code() == 412) {
            KRConsole::log(line);
            return continueSearchWithSignature(trimmed, page, keptOrder, *error, owner, std::move(completion));
        }
        finishList(completion, videos, error, line);
    });
}

void KRAPIClient::continueSearchWithSignature(const QString& keyword, qint64 page, const QString& order,
                                              const KRError& plainError, QObject* owner, KRVideoListCompletion completion)
{
    QVariantMap parameters{{QStringLiteral("search_type"), QStringLiteral("video")},
                           {QStringLiteral("keyword"), keyword},
                           {QStringLiteral("page"), QString::number(page)},
                           {QStringLiteral("page_size"), QString::number(KRSearchPageSize)}};
    if (!order.isEmpty())
        parameters.insert(QStringLiteral("order"), order);
    loadWBIMixinKeyForceRefresh(false, owner, [this, owner, parameters, page, order, plainError, completion = std::move(completion)](
                                           const QString& key, const KROptionalError& keyError) mutable {
        const QString url = key.size() == 32
            ? KRWBISignedURLString(loaderAPIURL(QStringLiteral("/x/web-interface/wbi/search/type")), parameters, key)
            : QString();
        if (url.isEmpty())
            return fail(completion, keyError.value_or(plainError));
        performJSONVideosURL(url, owner, [owner, page, order, completion = std::move(completion)](const KRVideoList& normalized,
                                                                                                    const KROptionalError& error) {
            const KRVideoList videos = registered(normalized);
            finishList(completion, videos, error,
                       loaderText(QStringLiteral("[KorvaneSearch] source=wbi order=%1 page=%2 count=%3 error=%4"),
                                  searchOrderName(order), page, videos.size(), error));
        });
    });
}

// ---- Uploader pages ----

void KRAPIClient::loadUploaderPageForMID(qint64 mid, const QString& name, qint64 page, QObject* owner, KRVideoPageCompletion completion)
{
    page = atLeastOnePage(page);
    if (mid <= 0) {
        search(name, page, owner, [owner, page, completion = std::move(completion)](const KRVideoList& videos, const KROptionalError& error) {
            KRVideoPageResult result;
            result.videos = videos;
            result.page = page;
            result.pageSize = KRSearchPageSize;
            result.hasMore = !videos.isEmpty();
            if (completion)
                completion(result, error);
        });
        return;
    }
    loadUploaderAppPageForMID(mid, name, page, owner, [this, owner, mid, name, page, completion = std::move(completion)](
                                                   const KRVideoPageResult& result, const KROptionalError& error) mutable {
        if (!error) {
            if (completion)
                completion(result, std::nullopt);
            return;
        }
        KRDiagnostics::recordEvent(QStringLiteral("uploader-api-fallback"),
                                   loaderText(QStringLiteral("mid=%1 page=%2 appCode=%3"), mid, page, error->code()));
        loadUploaderWBIPageForMID(mid, name, page, owner, std::move(completion));
    });
}

void KRAPIClient::loadUploaderVideosForMID(qint64 mid, const QString& name, qint64 page, QObject* owner, KRVideoListCompletion completion)
{
    loadUploaderPageForMID(mid, name, page, owner, [owner, completion = std::move(completion)](const KRVideoPageResult& result,
                                                                               const KROptionalError& error) {
        if (completion)
            completion(result.videos, error);
    });
}

void KRAPIClient::loadUploaderAppPageForMID(qint64 mid, const QString& name, qint64 page, QObject* owner, KRVideoPageCompletion completion)
{
    page = atLeastOnePage(page);
    qint64 cursor = 0;
    if (page >= 2) {
        {
            std::lock_guard<std::recursive_mutex> lock(classLock());
            cursor = KRUploaderPageCursors.value(uploaderCursorKey(mid, page), 0);
        }
        if (cursor < 1)
            return fail(completion, KRAPIError(-16, QStringLiteral("投稿游标尚未建立")));
    }
    QVariantMap parameters{{QStringLiteral("vmid"), QString::number(mid)},
                           {QStringLiteral("ps"), QString::number(KRListPageSize)},
                           {QStringLiteral("order"), QStringLiteral("pubdate")}};
    if (cursor >= 1)
        parameters.insert(QStringLiteral("aid"), QString::number(cursor));
    const QString url = KRAppSignedURLString(
        QStringLiteral("https://") + KRServiceHosts::appHost() + QStringLiteral("/x/v2/space/archive/cursor"), parameters);
    performJSONURL(url, owner, [owner, mid, name, page, completion = std::move(completion)](const QVariant& payload, const KROptionalError& error) {
        const QVariantMap data = dataObject(payload);
        const QVariant itemValue = data.value(QStringLiteral("item"));
        const QVariantList items = KRIsArray(itemValue) ? itemValue.toList() : QVariantList();
        KRVideoList videos = error ? KRVideoList() : KRVideoNormalizer::videosFromPayload(payload);
        fillOwner(videos, mid, name);

        KRVideoPageResult result;
        result.total = KRIntegerValue(data.value(QStringLiteral("count")));
        const std::optional<bool> hasNext = KRBooleanValue(data.value(QStringLiteral("has_next")));
        result.hasMore = hasNext ? *hasNext : items.size() >= KRListPageSize;

        qint64 next = 0;
        if (!items.isEmpty() && KRIsDictionary(items.last())) {
            const QVariantMap last = items.last().toMap();
            std::optional<qint64> value = KRIntegerValue(last.value(QStringLiteral("param")));
            if (!value)
                value = KRIntegerValue(last.value(QStringLiteral("aid")));
            next = value.value_or(0);
        }
        if (!error && result.hasMore && next >= 1 && mid >= 1 && page >= 1) {
            std::lock_guard<std::recursive_mutex> lock(classLock());
            KRUploaderPageCursors.insert(uploaderCursorKey(mid, page + 1), next);
        }

        KRRegisterCompatibilityMappings(videos);
        result.videos = videos;
        result.page = page;
        result.pageSize = KRListPageSize;
        KRConsole::log(loaderText(
            QStringLiteral("[KorvaneUploader] mid=%1 page=%2 source=app-space-cursor count=%3 total=%4 next=%5 more=%6 error=%7"),
            mid, page, videos.size(), result.total.value_or(-1), next, result.hasMore, error));
        KRDiagnostics::recordEvent(error ? QStringLiteral("uploader-page-failed") : QStringLiteral("uploader-page"),
                                   loaderText(QStringLiteral("source=app mid=%1 page=%2 count=%3 code=%4"), mid, page,
                                              videos.size(), error ? error->code() : 0));
        if (completion)
            completion(result, error);
    });
}

void KRAPIClient::loadUploaderWBIPageForMID(qint64 mid, const QString& name, qint64 page, QObject* owner, KRVideoPageCompletion completion)
{
    page = atLeastOnePage(page);
    loadWBIMixinKeyForceRefresh(false, owner, [this, owner, mid, name, page, completion = std::move(completion)](
                                           const QString& key, const KROptionalError& keyError) mutable {
        if (key.size() != 32)
            return fail(completion, keyError.value_or(missingMixinKeyError()));
        const QVariantMap parameters{{QStringLiteral("mid"), QString::number(mid)},
                                     {QStringLiteral("pn"), QString::number(page)},
                                     {QStringLiteral("ps"), QString::number(KRListPageSize)},
                                     {QStringLiteral("order"), QStringLiteral("pubdate")},
                                     {QStringLiteral("order_avoided"), QStringLiteral("true")},
                                     {QStringLiteral("web_location"), QStringLiteral("1550101")}};
        const QString url = KRWBISignedURLString(loaderAPIURL(QStringLiteral("/x/space/wbi/arc/search")), parameters, key);
        performJSONURL(url, owner, [owner, mid, name, page, completion = std::move(completion)](const QVariant& payload,
                                                                                 const KROptionalError& error) {
            KRVideoList videos = error ? KRVideoList() : KRVideoNormalizer::videosFromPayload(payload);
            fillOwner(videos, mid, name);
            KRRegisterCompatibilityMappings(videos);

            const QVariant pageValue = dataObject(payload).value(QStringLiteral("page"));
            const QVariantMap pageObject = KRIsDictionary(pageValue) ? pageValue.toMap() : QVariantMap();
            qint64 pn = KRLongLong(pageObject.value(QStringLiteral("pn")));
            if (pn < 1)
                pn = page;
            qint64 ps = KRLongLong(pageObject.value(QStringLiteral("ps")));
            if (ps < 1)
                ps = KRListPageSize;

            KRVideoPageResult result;
            result.videos = videos;
            result.page = pn;
            result.pageSize = ps;
            result.total = KRIntegerValue(pageObject.value(QStringLiteral("count")));
            result.hasMore = result.total ? pagesBeforeTotal(pn, ps, *result.total) : videos.size() >= ps;
            KRConsole::log(loaderText(
                QStringLiteral("[KorvaneUploader] mid=%1 page=%2 source=wbi-space count=%3 total=%4 ps=%5 more=%6 error=%7"), mid,
                page, videos.size(), result.total.value_or(-1), ps, result.hasMore, error));
            KRDiagnostics::recordEvent(error ? QStringLiteral("uploader-page-failed") : QStringLiteral("uploader-page"),
                                       loaderText(QStringLiteral("source=wbi mid=%1 page=%2 count=%3 code=%4"), mid, page,
                                                  videos.size(), error ? error->code() : 0));
            if (completion)
                completion(result, error);
        });
    });
}
