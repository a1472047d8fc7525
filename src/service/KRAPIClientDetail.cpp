// Detail, statistics, season, tag and related loaders, with the two fall-back roads of the
// view endpoint: the page list for archives the service reports unavailable, the old API for
// everything else.

#include "service/KRAPIClient.h"

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/OwnedWork.h"
#include "model/KRAPIReplyHelpers.h"
#include "model/KRConsole.h"
#include "model/KRSeasonReplyParser.h"
#include "model/KRServiceHosts.h"
#include "model/KRTolerantValue.h"
#include "model/KRVideo.h"
#include "model/KRVideoNormalizer.h"
#include "service/KRAPIErrors.h"
#include "service/KRAPIQuery.h"
#include "service/KRAPISigning.h"
#include "service/KRCompatibilityAIDMap.h"
#include "store/KRDiagnostics.h"

#include <QSet>
#include <QStringList>

#include <limits>

namespace {

qint64 referenceAID(const KRVideo& video) { return video.resolvedAid() > 0 ? video.resolvedAid() : video.aid(); }

QVariantMap objectValue(const QVariantMap& object, const QString& key)
{
    const QVariant value = object.value(key);
    return KRIsDictionary(value) ? value.toMap() : QVariantMap();
}

// The address of an endpoint keyed by the video's BV; null when the video has none.
QString bvidPath(const KRVideo* video, const QString& path)
{
    const QString bvid = video ? video->canonicalBVID() : QString();
    return bvid.isEmpty() ? QString() : path + QStringLiteral("?bvid=") + KRPercentEscapedQueryValue(bvid);
}

// "/x/web-interface/view" or "/x/player/pagelist" of the video's reference BV, else of its
// reference aid; null when it has neither.
QString archivePath(const QString& path, const KRVideo& video)
{
    const QString byBVID = bvidPath(&video, path);
    if (!byBVID.isEmpty())
        return byBVID;
    if (referenceAID(video) > 0)
        return path + QStringLiteral("?aid=") + QString::number(referenceAID(video));
    return QString();
}

// A view reply of code 0 that names no archive at all (an empty "data") is no detail.
std::shared_ptr<KRVideo> namedVideo(const std::shared_ptr<KRVideo>& video)
{
    if (!video)
        return nullptr;
    if (video->aid() > 0 || !video->canonicalBVID().isEmpty() || video->cid() > 0 || video->episodeID() > 0
        || video->seasonID() > 0)
        return video;
    return nullptr;
}

KRError noPlayableEpisodeError()
{
    return KRAPIError(-32, QStringLiteral("该番剧暂无可播放的剧集"));
}

qint64 errorCode(const KROptionalError& error) { return error ? error->code() : 0; }

} // namespace

// ---- Detail ----

void KRAPIClient::loadDetailForVideo(const std::shared_ptr<KRVideo>& video, QObject* owner, KRVideoCompletion completion)
{
    if (KRVideoShouldUsePGC(video)) {
        loadPGCDetailForVideo(video, owner, std::move(completion));
        return;
    }
    const QString path = video ? archivePath(QStringLiteral("/x/web-interface/view"), *video) : QString();
    if (path.isEmpty())
        return fail(completion, KRAPIError(-2, QStringLiteral("缺少视频标识，无法加载详情")));
    const QString bvid = video->canonicalBVID();
    const qint64 aid = referenceAID(*video);
    KRDiagnostics::recordEvent(QStringLiteral("detail-resolve-start"), loaderText(QStringLiteral("bvid=%1 aid=%2"), bvid, aid));
    performURL(loaderAPIURL(path), owner, nullptr, [this, owner, video, bvid, aid, completion = std::move(completion)](
                                                const std::shared_ptr<KRVideo>& reply, const KROptionalError& error) mutable {
        const std::shared_ptr<KRVideo> returned = error ? nullptr : namedVideo(reply);
        if (returned && !returned->isPGC() && returned->episodeID() <= 0) {
            // Keep the caller's aid (it may be a synthetic one); the reply's real id lives on
            // in resolvedAid.
            const qint64 replyAID = returned->aid();
            returned->setAid(video->aid());
            returned->setResolvedAid(replyAID > 0 ? replyAID : aid);
            if (returned->bvid().isEmpty())
                returned->setBvid(bvid);
            KRConsole::log(loaderText(
                QStringLiteral("[KorvaneDetail] modern detail bvid=%1 resolvedAid=%2 cid=%3 pages=%4 play=%5 danmaku=%6"),
                returned->bvid(), returned->resolvedAid(), returned->cid(), returned->pages().size(), returned->playCount(),
                returned->danmakuCount()));
            KRDiagnostics::recordEvent(QStringLiteral("detail-resolve-result"),
                                       loaderText(QStringLiteral("success=YES bvid=%1 aid=%2 cid=%3"), returned->bvid(),
                                                  returned->resolvedAid(), returned->cid()));
            if (completion)
                completion(returned, std::nullopt);
            return;
        }
        if (returned) {
            // An archive of a PGC episode: continue through the season routes.
            returned->setResolvedAid(returned->aid());
            KRDiagnostics::recordEvent(QStringLiteral("detail-resolve-pgc-chain"),
                                       loaderText(QStringLiteral("bvid=%1 aid=%2 ep=%3 season=%4 cid=%5"),
                                                  returned->bvid().isNull() ? QStringLiteral("") : returned->bvid(),
                                                  returned->aid(), returned->episodeID(), returned->seasonID(), returned->cid()));
            loadPGCDetailForVideo(returned, owner, std::move(completion));
            return;
        }
        if (errorRepresentsUnavailableArchive(error)) {
            loadArchivePageFallbackForVideo(video, owner, [owner, bvid, aid, error, completion = std::move(completion)](
                                                       const std::shared_ptr<KRVideo>& fallback, const KROptionalError& fallbackError) {
                KRDiagnostics::recordEvent(
                    QStringLiteral("detail-resolve-result"),
                    loaderText(QStringLiteral("success=%1 fallback=pagelist bvid=%2 aid=%3 cid=%4 primaryCode=%5 fallbackCode=%6"),
                               bool(fallback), bvid, aid, fallback ? fallback->cid() : 0, errorCode(error),
                               errorCode(fallbackError)));
                if (!completion)
                    return;
                if (fallback)
                    completion(fallback, std::nullopt);
                else
                    completion(nullptr, error);
            });
            return;
        }
        KRConsole::log(loaderText(QStringLiteral("[KorvaneDetail] modern detail failed; fallback=legacy bvid=%1 aid=%2 error=%3"), bvid,
                                  aid, error));
        loadLegacyDetailForVideo(video, owner, [owner, bvid, aid, error, completion = std::move(completion)](
                                            const std::shared_ptr<KRVideo>& legacy, const KROptionalError& legacyError) {
            KRDiagnostics::recordEvent(QStringLiteral("detail-resolve-result"),
                                       loaderText(QStringLiteral("success=%1 fallback=legacy bvid=%2 aid=%3 code=%4"), bool(legacy),
                                                  bvid, aid, errorCode(legacyError ? legacyError : error)));
            if (!completion)
                return;
            if (legacy)
                completion(legacy, std::nullopt);
            else
                completion(nullptr, legacyError ? legacyError : (error ? error : KRAPIMalformedReplyError()));
        });
    });
}

void KRAPIClient::loadStatisticsForVideo(const std::shared_ptr<KRVideo>& video, QObject* owner, KRVideoCompletion completion)
{
    if (KRVideoShouldUsePGC(video)) {
        loadPGCDetailForVideo(video, owner, std::move(completion));
        return;
    }
    const QString path = video ? archivePath(QStringLiteral("/x/web-interface/view"), *video) : QString();
    if (path.isEmpty()) {
        platform::OwnedWork(owner).answerLater(std::move(completion), std::shared_ptr<KRVideo>(),
                                               KROptionalError(KRAPIError(-2, QStringLiteral("缺少视频标识，无法补全数据"))));
        return;
    }
    performJSONURL(loaderAPIURL(path), owner, [this, owner, video, completion = std::move(completion)](const QVariant& payload,
                                                                                       const KROptionalError& error) mutable {
        const QString identity = video->feedIdentity();
        std::shared_ptr<KRVideo> returned;
        if (!error) {
            if (const std::optional<QVariantMap> object = KRVideoNormalizer::dictionaryFromPayload(payload))
                returned = namedVideo(KRVideoNormalizer::videoFromDictionary(*object));
        }
        if (returned && (returned->isPGC() || returned->episodeID() > 0)) {
            returned->setResolvedAid(returned->aid());
            KRDiagnostics::recordEvent(QStringLiteral("history-pgc-route-hydrated"),
                                       loaderText(QStringLiteral("bvid=%1 aid=%2 ep=%3 season=%4 cid=%5"), returned->bvid(),
                                                  returned->aid(), returned->episodeID(), returned->seasonID(), returned->cid()));
            loadPGCDetailForVideo(returned, owner, std::move(completion));
            return;
        }
        if (!returned && errorRepresentsUnavailableArchive(error)) {
            loadArchivePageFallbackForVideo(video, owner, [owner, identity, error, completion = std::move(completion)](
                                                       const std::shared_ptr<KRVideo>& fallback, const KROptionalError& fallbackError) {
                KRConsole::log(loaderText(QStringLiteral("[KorvaneHistoryStats] identity=%1 fallback=pagelist cid=%2 error=%3"), identity,
                                          fallback ? fallback->cid() : 0, fallbackError));
                if (!completion)
                    return;
                if (fallback)
                    completion(fallback, std::nullopt);
                else
                    completion(nullptr, error);
            });
            return;
        }
        if (returned)
            returned->setStatisticsKnown(true);
        // A reply without an error that names no video is a malformed one, not a success.
        const KROptionalError finalError = returned ? std::nullopt : (error ? error : KRAPIMalformedReplyError());
        KRConsole::log(loaderText(QStringLiteral("[KorvaneHistoryStats] identity=%1 play=%2 danmaku=%3 error=%4"), identity,
                                  returned ? returned->playCount() : 0, returned ? returned->danmakuCount() : 0, finalError));
        if (completion)
            completion(returned, finalError);
    });
}

void KRAPIClient::loadLegacyDetailForVideo(const std::shared_ptr<KRVideo>& video, QObject* owner, KRVideoCompletion completion)
{
    if (!video)
        return fail(completion, KRAPIError(-2, QStringLiteral("缺少视频标识，无法加载详情")));
    // The old API knows archives by the caller's aid.
    const QString url = QStringLiteral("http://") + KRServiceHosts::oldAPIHost() + QStringLiteral("/view?aid=")
        + QString::number(video->aid());
    performURL(url, owner, nullptr, [owner, video, completion = std::move(completion)](const std::shared_ptr<KRVideo>& reply,
                                                                         const KROptionalError& error) {
        std::shared_ptr<KRVideo> legacy = error ? nullptr : reply;
        // The old API's reply carries no ids of its own; one without any content is no detail.
        if (legacy && legacy->cid() <= 0 && legacy->aid() <= 0 && legacy->canonicalBVID().isEmpty() && legacy->title().isEmpty())
            legacy = nullptr;
        if (legacy) {
            if (legacy->aid() == 0)
                legacy->setAid(video->aid());
            if (legacy->resolvedAid() == 0)
                legacy->setResolvedAid(video->resolvedAid());
            if (legacy->tid() == 0)
                legacy->setTid(video->tid());
            if (legacy->copyright() == 0)
                legacy->setCopyright(video->copyright());
            if (legacy->bvid().isEmpty())
                legacy->setBvid(video->bvid());
            if (legacy->tname().isEmpty())
                legacy->setTname(video->tname());
        }
        if (completion)
            completion(legacy, legacy ? error : (error ? error : KRAPIMalformedReplyError()));
    });
}

void KRAPIClient::loadArchivePageFallbackForVideo(const std::shared_ptr<KRVideo>& video, QObject* owner, KRVideoCompletion completion)
{
    const QString path = video ? archivePath(QStringLiteral("/x/player/pagelist"), *video) : QString();
    if (path.isEmpty())
        return fail(completion, KRAPIError(-2, QStringLiteral("缺少视频标识，无法验证历史分集")));
    performJSONURL(loaderAPIURL(path), owner, [owner, video, completion = std::move(completion)](const QVariant& payload,
                                                                                 const KROptionalError& error) {
        const QString bvid = video->canonicalBVID();
        const qint64 aid = referenceAID(*video);
        const qint64 savedCID = video->cid();
        QList<KRVideoPartInfo> pages;
        const QVariant data = payload.toMap().value(QStringLiteral("data"));
        if (KRIsArray(data)) {
            for (const QVariant& element : data.toList()) {
                if (KRIsDictionary(element) && KRLongLong(element.toMap().value(QStringLiteral("cid"))) >= 1)
                    pages.append(element.toMap());
            }
        }
        qsizetype chosen = -1;
        if (savedCID > 0) {
            for (qsizetype index = 0; index < pages.size(); ++index) {
                if (KRLongLong(pages.at(index).value(QStringLiteral("cid"))) == savedCID)
                    chosen = index;
            }
        } else if (!pages.isEmpty()) {
            chosen = 0;
        }
        KROptionalError resultError = error;
        if (!resultError && chosen < 0)
            resultError = KRAPIError(-404, QStringLiteral("已保存的历史分集已不可用"));

        std::shared_ptr<KRVideo> result;
        if (!resultError) {
            const QVariantMap page = pages.at(chosen);
            result = std::make_shared<KRVideo>();
            result->setAid(video->aid() > 0 ? video->aid() : aid);
            result->setResolvedAid(aid);
            result->setBvid(bvid);
            result->setCid(KRLongLong(page.value(QStringLiteral("cid"))));
            result->setTid(video->tid());
            result->setCopyright(video->copyright());
            result->setTname(video->tname());
            result->setTitle(video->title());
            result->setCoverURL(video->coverURL());
            result->setOwnerName(video->ownerName());
            result->setOwnerMID(video->ownerMID());
            result->setOwnerAvatarURL(video->ownerAvatarURL());
            result->setPublishTimestamp(video->publishTimestamp());
            result->setDurationText(video->durationText());
            result->setPlayCount(video->playCount());
            result->setDanmakuCount(video->danmakuCount());
            result->setReplyCount(video->replyCount());
            result->setStatisticsKnown(video->statisticsKnown());
            result->setSummary(video->summary());
            result->setSeasonID(video->seasonID());
            result->setEpisodeID(video->episodeID());
            result->setSeasonType(video->seasonType());
            result->setPgc(video->isPGC());
            if (result->durationText().isEmpty()) {
                const qint64 seconds = KRLongLong(page.value(QStringLiteral("duration")));
                if (seconds >= 1 && seconds <= std::numeric_limits<qint64>::max() / 1000)
                    result->setDurationText(KRAPIDurationText(seconds * 1000));
            }
            result->setPages(pages);
            result->setPageCount(KRTruncatedInt32(pages.size()));
            const QVariantMap dimension = objectValue(page, QStringLiteral("dimension"));
            result->setWidth(KRInt32(dimension.value(QStringLiteral("width"))));
            result->setHeight(KRInt32(dimension.value(QStringLiteral("height"))));
        }
        KRDiagnostics::recordEvent(
            QStringLiteral("archive-pagelist-fallback"),
            loaderText(QStringLiteral("success=%1 bvid=%2 aid=%3 savedCID=%4 resolvedCID=%5 pages=%6 code=%7"), bool(result), bvid,
                       aid, savedCID, result ? result->cid() : 0, pages.size(), errorCode(resultError)));
        if (completion)
            completion(result, resultError);
    });
}

// ---- Tags and related videos ----

QStringList KRAPIClient::tagNamesFromReply(const QVariant& payload)
{
    QStringList tags;
    const QVariant data = payload.toMap().value(QStringLiteral("data"));
    if (!KRIsArray(data))
        return tags;
    for (const QVariant& element : data.toList()) {
        if (!KRIsDictionary(element))
            continue;
        const QVariant name = element.toMap().value(QStringLiteral("tag_name"));
        if (KRIsString(name) && !name.toString().isEmpty() && !tags.contains(name.toString()))
            tags.append(name.toString());
    }
    return tags;
}

void KRAPIClient::loadTagsForVideo(const std::shared_ptr<KRVideo>& video, QObject* owner, KRTagsCompletion completion)
{
    const QString path = bvidPath(video.get(), QStringLiteral("/x/tag/archive/tags"));
    if (path.isEmpty())
        return fail(completion, KRAPIError(-2, QStringLiteral("缺少 BV 号，无法读取 Tag")));
    performJSONURL(loaderAPIURL(path), owner, [completion = std::move(completion)](const QVariant& payload, const KROptionalError& error) {
        if (completion)
            completion(error ? QStringList() : tagNamesFromReply(payload), error);
    });
}

void KRAPIClient::loadRelatedVideosForVideo(const std::shared_ptr<KRVideo>& video, QObject* owner, KRVideoListCompletion completion)
{
    const QString path = bvidPath(video.get(), QStringLiteral("/x/web-interface/archive/related"));
    if (path.isEmpty())
        return fail(completion, KRAPIError(-3, QStringLiteral("缺少 BV 号，无法读取相关推荐")));
    const QString bvid = video->canonicalBVID();
    performJSONVideosURL(loaderAPIURL(path), owner, [this, owner, bvid, completion = std::move(completion)](const KRVideoList& videos,
                                                                                                          const KROptionalError& error) {
        registerCompatibilityMappingsForVideos(videos);
        KRConsole::log(loaderText(QStringLiteral("[KorvaneRelated] bvid=%1 seedCount=%2"), bvid, videos.size()));
        if (completion)
            completion(videos, error);
    });
}

// ---- PGC ----

void KRAPIClient::loadPGCDetailForVideo(const std::shared_ptr<KRVideo>& video, QObject* owner, KRVideoCompletion completion)
{
    if (!video)
        return fail(completion, KRAPIError(-3, QStringLiteral("番剧视频标识不完整")));
    if (video->episodeID() > 0 || video->seasonID() > 0) {
        loadResolvedPGCDetailForVideo(video, true, owner, std::move(completion));
        return;
    }
    // Identity bootstrap: the view endpoint names the episode in its redirect address.
    const QString path = archivePath(QStringLiteral("/x/web-interface/view"), *video);
    if (path.isEmpty())
        return fail(completion, KRAPIError(-33, QStringLiteral("番剧剧集标识缺失")));
    performJSONURL(loaderAPIURL(path), owner, [this, owner, video, completion = std::move(completion)](const QVariant& payload,
                                                                                       const KROptionalError& error) mutable {
        const QVariant data = payload.toMap().value(QStringLiteral("data"));
        const QVariantMap object = KRIsDictionary(data) ? data.toMap() : payload.toMap();
        QString redirect = KRAPIString(object.value(QStringLiteral("redirect_url")));
        if (redirect.isEmpty())
            redirect = KRAPIString(object.value(QStringLiteral("redirectUrl")));
        const qint64 episodeID = KRPGCIDFromRedirectURL(redirect, QStringLiteral("ep"));
        const qint64 seasonID = KRPGCIDFromRedirectURL(redirect, QStringLiteral("ss"));
        KRDiagnostics::recordEvent(QStringLiteral("pgc-identity-bootstrap"),
                                   loaderText(QStringLiteral("bvid=%1 aid=%2 ep=%3 season=%4 code=%5"), video->canonicalBVID(),
                                              referenceAID(*video), episodeID, seasonID, errorCode(error)));
        if (error) {
            if (completion)
                completion(nullptr, error);
            return;
        }
        if (episodeID <= 0 && seasonID <= 0) {
            if (completion)
                completion(nullptr, KRAPIError(-33, QStringLiteral("未能识别对应的番剧剧集")));
            return;
        }
        video->setPgc(true);
        if (episodeID > 0)
            video->setEpisodeID(episodeID);
        if (seasonID > 0)
            video->setSeasonID(seasonID);
        loadPGCDetailForVideo(video, owner, std::move(completion));
    });
}

void KRAPIClient::loadResolvedPGCDetailForVideo(const std::shared_ptr<KRVideo>& video, bool useAppEndpoint,
                                                QObject* owner, KRVideoCompletion completion)
{
    if (!video)
        return fail(completion, KRAPIError(-3, QStringLiteral("番剧视频标识不完整")));
    const bool byEpisode = video->episodeID() > 0;
    const QString name = byEpisode ? QStringLiteral("ep_id") : QStringLiteral("season_id");
    const QString value = QString::number(byEpisode ? video->episodeID() : video->seasonID());
    const QString url = useAppEndpoint
        ? KRAppSignedURLString(loaderAPIURL(QStringLiteral("/pgc/view/v2/app/season")), {{name, value}})
        : loaderAPIURL(QStringLiteral("/pgc/view/web/season?") + name + QLatin1Char('=') + value);
    // The caller's season id as it is now; the video may learn more before the reply comes.
    const qint64 givenSeasonID = video->seasonID();
    performJSONURL(url, owner, [this, owner, video, useAppEndpoint, givenSeasonID, completion = std::move(completion)](
                            const QVariant& payload, const KROptionalError& error) mutable {
        KROptionalError resultError = error;
        std::shared_ptr<KRVideo> result;
        if (!error) {
            const KRSeasonReplyParser::Episode episode = KRSeasonReplyParser::episodeFromPayload(payload, *video, givenSeasonID);
            result = episode.video;
            if (result) {
                KRDiagnostics::recordEvent(
                    QStringLiteral("pgc-statistics"),
                    QStringLiteral("season=%1 episode=%2 play=%3 danmaku=%4 reply=%5 episodeZero=%6")
                        .arg(QString::number(result->seasonID()), QString::number(result->episodeID()),
                             QString::number(result->playCount()), QString::number(result->danmakuCount()),
                             QString::number(result->replyCount()), KRConsole::boolean(episode.episodeStatisticsZero)));
            } else {
                resultError = noPlayableEpisodeError();
            }
        }
        if (useAppEndpoint && !result) {
            KRDiagnostics::recordEvent(QStringLiteral("pgc-detail-web-fallback"),
                                       loaderText(QStringLiteral("season=%1 ep=%2 appCode=%3"), video->seasonID(),
                                                  video->episodeID(), errorCode(resultError)));
            loadResolvedPGCDetailForVideo(video, false, owner, [owner, appError = resultError, completion = std::move(completion)](
                                                            const std::shared_ptr<KRVideo>& webVideo, const KROptionalError& webError) {
                if (!completion)
                    return;
                if (webVideo)
                    completion(webVideo, std::nullopt);
                else
                    completion(nullptr, webError ? webError : (appError ? appError : noPlayableEpisodeError()));
            });
            return;
        }
        if (!result && !resultError)
            resultError = noPlayableEpisodeError();
        KRConsole::log(loaderText(QStringLiteral("[KorvanePGC] detail source=%1 season=%2 episode=%3 bvid=%4 aid=%5 cid=%6 error=%7"),
                                  useAppEndpoint ? QStringLiteral("app") : QStringLiteral("web-fallback"),
                                  result ? result->seasonID() : video->seasonID(), result ? result->episodeID() : video->episodeID(),
                                  result ? result->bvid() : QString(), result ? result->aid() : 0, result ? result->cid() : 0,
                                  resultError));
        if (completion)
            completion(result, result ? std::nullopt : resultError);
    });
}
