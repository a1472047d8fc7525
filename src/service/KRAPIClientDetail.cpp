// Detail, statistics, season, tag and related loaders, with the two fall-back roads of the
// view endpoint: the page list for archives the service reports unavailable, the old API for
// everything else.

#include "service/KRAPIClient.h"

#include "platform/foundation/Dispatch.h"
#include "model/KRAPIReplyHelpers.h"
#include "model/KRConsole.h"
#include "model/KRServiceHosts.h"
#include "model/KRTolerantValue.h"
#include "model/KRVideo.h"
#include "model/KRVideoNormalizer.h"
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

// Appends the episode objects of an array, each once: keyed by episode id ("ep:"), else by
// cid ("cid:"); objects with neither are dropped.
void KRAppendPGCEpisodes(QVariantList& episodes, QSet<QString>& keys, const QVariant& value)
{
    if (!KRIsArray(value))
        return;
    for (const QVariant& element : value.toList()) {
        if (!KRIsDictionary(element))
            continue;
        const QVariantMap episode = element.toMap();
        qint64 identifier = KRLongLong(episode.value(QStringLiteral("id")));
        if (identifier < 1)
            identifier = KRLongLong(episode.value(QStringLiteral("ep_id")));
        QString key;
        if (identifier >= 1) {
            key = QStringLiteral("ep:") + QString::number(identifier);
        } else {
            const qint64 cid = KRLongLong(episode.value(QStringLiteral("cid")));
            if (cid < 1)
                continue;
            key = QStringLiteral("cid:") + QString::number(cid);
        }
        if (keys.contains(key))
            continue;
        keys.insert(key);
        episodes.append(episode);
    }
}

// Walks a section value: an object contributes its episodes and its nested "section", then
// its "sections" is walked in turn; an array is walked element by element.
void KRAppendPGCSectionEpisodes(QVariantList& episodes, QSet<QString>& keys, QVariant value)
{
    while (KRIsDictionary(value)) {
        const QVariantMap section = value.toMap();
        KRAppendPGCEpisodes(episodes, keys, section.value(QStringLiteral("episodes")));
        KRAppendPGCSectionEpisodes(episodes, keys, section.value(QStringLiteral("section")));
        value = section.value(QStringLiteral("sections"));
    }
    if (KRIsArray(value)) {
        for (const QVariant& element : value.toList())
            KRAppendPGCSectionEpisodes(episodes, keys, element);
    }
}

struct EpisodeIdentity {
    qint64 id = 0;
    qint64 cid = 0;
    qint64 aid = 0;
    QString bvid;

    explicit EpisodeIdentity(const QVariantMap& episode)
    {
        id = KRLongLong(episode.value(QStringLiteral("id")));
        if (id < 1)
            id = KRLongLong(episode.value(QStringLiteral("ep_id")));
        cid = KRLongLong(episode.value(QStringLiteral("cid")));
        aid = KRLongLong(episode.value(QStringLiteral("aid")));
        if (aid < 1)
            aid = KRLongLong(episode.value(QStringLiteral("avid")));
        bvid = KRAPIString(episode.value(QStringLiteral("bvid")));
    }

    bool playable() const { return cid > 0 && (id > 0 || aid > 0 || !bvid.isEmpty()); }

    // 0 episode id, 1 BV (ignoring case), 2 cid, 3 archive id; -1 when nothing matches.
    int matchLevel(const KRVideo& video, const QString& referenceBVID) const
    {
        if (video.episodeID() > 0 && video.episodeID() == id)
            return 0;
        if (!referenceBVID.isEmpty() && !bvid.isEmpty() && referenceBVID.compare(bvid, Qt::CaseInsensitive) == 0)
            return 1;
        if (video.cid() > 0 && video.cid() == cid)
            return 2;
        if (referenceAID(video) > 0 && referenceAID(video) == aid)
            return 3;
        return -1;
    }
};

// The first count above 0 among the keys of the statistics objects, in order.
qint64 firstKnownCount(const QList<QPair<QVariantMap, QString>>& candidates)
{
    for (const auto& candidate : candidates) {
        const qint64 value = KRLongLong(candidate.first.value(candidate.second));
        if (value > 0)
            return value;
    }
    return 0;
}

QString firstText(const QVariantMap& object, const QStringList& keys)
{
    for (const QString& key : keys) {
        const QString text = KRAPIString(object.value(key));
        if (!text.isEmpty())
            return text;
    }
    return QString();
}

// One element of the page list of a season video.
QVariantMap seasonPageEntry(const QVariantMap& episode, const EpisodeIdentity& identity, int number, qint64 seasonID)
{
    QVariantMap page{{QStringLiteral("cid"), identity.cid},
                     {QStringLiteral("page"), number},
                     {QStringLiteral("aid"), std::max<qint64>(0, identity.aid)},
                     {QStringLiteral("ep_id"), identity.id},
                     {QStringLiteral("season_id"), seasonID}};
    if (!identity.bvid.isEmpty())
        page.insert(QStringLiteral("bvid"), identity.bvid);
    const QString part = firstText(episode, {QStringLiteral("long_title"), QStringLiteral("title"), QStringLiteral("share_copy")});
    if (!part.isEmpty())
        page.insert(QStringLiteral("part"), part);
    const QString cover = KRAPIString(episode.value(QStringLiteral("cover")));
    if (!cover.isEmpty())
        page.insert(QStringLiteral("cover"), cover);
    const QString duration = KRAPIDurationText(KRLongLong(episode.value(QStringLiteral("duration"))));
    if (!duration.isEmpty())
        page.insert(QStringLiteral("duration"), duration);
    const QVariantMap dimension = objectValue(episode, QStringLiteral("dimension"));
    const qint64 width = KRLongLong(dimension.value(QStringLiteral("width")));
    const qint64 height = KRLongLong(dimension.value(QStringLiteral("height")));
    const qint64 rotate = KRLongLong(dimension.value(QStringLiteral("rotate")));
    if (width >= 1)
        page.insert(QStringLiteral("width"), width);
    if (height >= 1)
        page.insert(QStringLiteral("height"), height);
    if (rotate != 0)
        page.insert(QStringLiteral("rotate"), rotate);
    return page;
}

// The video of one episode of a season reply, chosen to match the given video. Sets *error
// (and returns nothing) when no episode can stand for it.
std::shared_ptr<KRVideo> videoFromSeasonReply(const QVariant& payload, const KRVideo& given, qint64 givenSeasonID,
                                              KROptionalError* error)
{
    const QVariantMap root = KRPGCRootDictionary(payload);
    QVariantList episodes;
    QSet<QString> keys;
    KRAppendPGCEpisodes(episodes, keys, root.value(QStringLiteral("episodes")));
    const QVariant modules = root.value(QStringLiteral("modules"));
    if (KRIsArray(modules)) {
        for (const QVariant& module : modules.toList()) {
            if (!KRIsDictionary(module))
                continue;
            const QVariant data = module.toMap().value(QStringLiteral("data"));
            if (!KRIsDictionary(data))
                continue;
            const QVariantMap moduleData = data.toMap();
            KRAppendPGCEpisodes(episodes, keys, moduleData.value(QStringLiteral("episodes")));
            KRAppendPGCSectionEpisodes(episodes, keys, moduleData.value(QStringLiteral("section")));
            KRAppendPGCSectionEpisodes(episodes, keys, moduleData.value(QStringLiteral("sections")));
        }
    }
    KRAppendPGCSectionEpisodes(episodes, keys, root.value(QStringLiteral("section")));
    KRAppendPGCSectionEpisodes(episodes, keys, root.value(QStringLiteral("sections")));

    // The episode that matches best (episode id, then BV, cid, archive id), first among equals.
    const QString referenceBVID = given.canonicalBVID();
    qsizetype chosen = -1;
    qsizetype firstPlayable = -1;
    int bestLevel = std::numeric_limits<int>::max();
    for (qsizetype index = 0; index < episodes.size(); ++index) {
        const EpisodeIdentity identity(episodes.at(index).toMap());
        if (!identity.playable())
            continue;
        if (firstPlayable < 0)
            firstPlayable = index;
        const int level = identity.matchLevel(given, referenceBVID);
        if (level >= 0 && level < bestLevel) {
            bestLevel = level;
            chosen = index;
        }
    }
    if (chosen < 0) {
        const bool hinted = given.episodeID() > 0 || given.cid() > 0 || referenceAID(given) > 0 || !referenceBVID.isEmpty();
        // A video that names an episode never gets some other one; without any hint the
        // first playable episode stands for the season. A season without any playable
        // episode has nothing to offer either way.
        if (hinted || firstPlayable < 0) {
            *error = noPlayableEpisodeError();
            return nullptr;
        }
        chosen = firstPlayable;
    }

    const QVariantMap episode = episodes.at(chosen).toMap();
    const EpisodeIdentity identity(episode);
    auto video = std::make_shared<KRVideo>();
    video->setPgc(true);
    qint64 seasonID = KRLongLong(root.value(QStringLiteral("season_id")));
    if (seasonID <= 0)
        seasonID = givenSeasonID;
    video->setSeasonID(seasonID);
    video->setEpisodeID(identity.id);
    video->setAid(identity.aid);
    video->setResolvedAid(identity.aid);
    video->setBvid(identity.bvid);
    video->setCid(identity.cid);

    const QString seasonTitle = firstText(root, {QStringLiteral("title"), QStringLiteral("season_title")});
    const QString episodeTitle = firstText(episode, {QStringLiteral("long_title"), QStringLiteral("share_copy")});
    if (!seasonTitle.isEmpty() && !episodeTitle.isEmpty() && seasonTitle != episodeTitle)
        video->setTitle(seasonTitle + QStringLiteral(" · ") + episodeTitle);
    else
        video->setTitle(seasonTitle.isEmpty() ? episodeTitle : seasonTitle);
    QString cover = KRAPIString(episode.value(QStringLiteral("cover")));
    video->setCoverURL(cover.isEmpty() ? KRAPIString(root.value(QStringLiteral("cover"))) : cover);
    QString summary = KRAPIString(root.value(QStringLiteral("evaluate")));
    video->setSummary(summary.isEmpty() ? KRAPIString(episode.value(QStringLiteral("desc"))) : summary);
    video->setSeasonType(given.seasonType() >= 1 ? given.seasonType() : KRInt32(root.value(QStringLiteral("type"))));
    QString episodeText = firstText(episode, {QStringLiteral("show_title"), QStringLiteral("title")});
    if (episodeText.isEmpty())
        episodeText = given.pgcEpisodeText();
    video->setPgcEpisodeText(episodeText);
    video->setPgcOrderText(given.pgcOrderText().isEmpty() ? episodeText : given.pgcOrderText());
    video->setPgcSubtitle(given.pgcSubtitle().isEmpty() ? KRAPIString(root.value(QStringLiteral("subtitle"))) : given.pgcSubtitle());
    video->setPgcBadge(given.pgcBadge());
    video->setTname(given.tname().isEmpty() ? KRPGCSeasonTypeName(video->seasonType()) : given.tname());
    video->setTid(given.tid());

    const QVariantMap uploader = objectValue(root, QStringLiteral("up_info"));
    const QString ownerName = firstText(uploader, {QStringLiteral("uname"), QStringLiteral("name")});
    video->setOwnerName(ownerName.isEmpty() ? QStringLiteral("岚帆视频番剧") : ownerName);
    video->setOwnerMID(KRLongLong(uploader.value(QStringLiteral("mid"))));
    video->setOwnerAvatarURL(firstText(uploader, {QStringLiteral("avatar"), QStringLiteral("face")}));
    video->setPublishTimestamp(KRDouble(episode.value(QStringLiteral("pub_time"))));
    video->setDurationText(KRAPIDurationText(KRLongLong(episode.value(QStringLiteral("duration")))));

    const bool episodeHasStat = KRIsDictionary(episode.value(QStringLiteral("stat")));
    const bool rootHasStat = KRIsDictionary(root.value(QStringLiteral("stat")));
    const QVariantMap episodeStat = objectValue(episode, QStringLiteral("stat"));
    const QVariantMap rootStat = objectValue(root, QStringLiteral("stat"));
    video->setPlayCount(firstKnownCount({{episodeStat, QStringLiteral("view")}, {episodeStat, QStringLiteral("views")},
                                         {rootStat, QStringLiteral("view")}, {rootStat, QStringLiteral("views")}}));
    video->setDanmakuCount(firstKnownCount({{episodeStat, QStringLiteral("danmakus")}, {episodeStat, QStringLiteral("danmaku")},
                                            {rootStat, QStringLiteral("danmakus")}, {rootStat, QStringLiteral("danmaku")}}));
    video->setReplyCount(firstKnownCount({{episodeStat, QStringLiteral("reply")}, {rootStat, QStringLiteral("reply")}}));
    video->setStatisticsKnown(episodeHasStat || rootHasStat);
    const QVariantMap dimension = objectValue(episode, QStringLiteral("dimension"));
    video->setWidth(KRInt32(dimension.value(QStringLiteral("width"))));
    video->setHeight(KRInt32(dimension.value(QStringLiteral("height"))));

    QList<KRVideoPartInfo> pages;
    for (const QVariant& element : std::as_const(episodes)) {
        const QVariantMap candidate = element.toMap();
        const EpisodeIdentity candidateIdentity(candidate);
        if (candidateIdentity.playable())
            pages.append(seasonPageEntry(candidate, candidateIdentity, int(pages.size()) + 1, seasonID));
    }
    video->setPages(pages);
    video->setPageCount(KRTruncatedInt32(pages.size()));

    bool episodeZero = false;
    if (episodeHasStat) {
        episodeZero = true;
        for (const char* key : {"view", "views", "danmakus", "danmaku"}) {
            if (KRLongLong(episodeStat.value(QLatin1String(key))) > 0)
                episodeZero = false;
        }
    }
    KRDiagnostics::recordEvent(
        QStringLiteral("pgc-statistics"),
        QStringLiteral("season=%1 episode=%2 play=%3 danmaku=%4 reply=%5 episodeZero=%6")
            .arg(QString::number(video->seasonID()), QString::number(video->episodeID()), QString::number(video->playCount()),
                 QString::number(video->danmakuCount()), QString::number(video->replyCount()), KRConsole::boolean(episodeZero)));
    return video;
}

} // namespace

// ---- Detail ----

void KRAPIClient::loadDetailForVideo(const std::shared_ptr<KRVideo>& video, KRVideoCompletion completion)
{
    if (KRVideoShouldUsePGC(video)) {
        loadPGCDetailForVideo(video, std::move(completion));
        return;
    }
    const QString path = video ? archivePath(QStringLiteral("/x/web-interface/view"), *video) : QString();
    if (path.isEmpty())
        return fail(completion, KRAPIError(-2, QStringLiteral("缺少视频标识，无法加载详情")));
    const QString bvid = video->canonicalBVID();
    const qint64 aid = referenceAID(*video);
    KRDiagnostics::recordEvent(QStringLiteral("detail-resolve-start"), loaderText(QStringLiteral("bvid=%1 aid=%2"), bvid, aid));
    performURL(loaderAPIURL(path), nullptr, [this, video, bvid, aid, completion = std::move(completion)](
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
            loadPGCDetailForVideo(returned, std::move(completion));
            return;
        }
        if (errorRepresentsUnavailableArchive(error)) {
            loadArchivePageFallbackForVideo(video, [bvid, aid, error, completion = std::move(completion)](
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
        loadLegacyDetailForVideo(video, [bvid, aid, error, completion = std::move(completion)](
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

void KRAPIClient::loadStatisticsForVideo(const std::shared_ptr<KRVideo>& video, KRVideoCompletion completion)
{
    if (KRVideoShouldUsePGC(video)) {
        loadPGCDetailForVideo(video, std::move(completion));
        return;
    }
    const QString path = video ? archivePath(QStringLiteral("/x/web-interface/view"), *video) : QString();
    if (path.isEmpty()) {
        platform::dispatchMain([completion = std::move(completion)] {
            if (completion)
                completion(nullptr, KRAPIError(-2, QStringLiteral("缺少视频标识，无法补全数据")));
        });
        return;
    }
    performJSONURL(loaderAPIURL(path), [this, video, completion = std::move(completion)](const QVariant& payload,
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
            loadPGCDetailForVideo(returned, std::move(completion));
            return;
        }
        if (!returned && errorRepresentsUnavailableArchive(error)) {
            loadArchivePageFallbackForVideo(video, [identity, error, completion = std::move(completion)](
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

void KRAPIClient::loadLegacyDetailForVideo(const std::shared_ptr<KRVideo>& video, KRVideoCompletion completion)
{
    if (!video)
        return fail(completion, KRAPIError(-2, QStringLiteral("缺少视频标识，无法加载详情")));
    // The old API knows archives by the caller's aid.
    const QString url = QStringLiteral("http://") + KRServiceHosts::oldAPIHost() + QStringLiteral("/view?aid=")
        + QString::number(video->aid());
    performURL(url, nullptr, [video, completion = std::move(completion)](const std::shared_ptr<KRVideo>& reply,
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

void KRAPIClient::loadArchivePageFallbackForVideo(const std::shared_ptr<KRVideo>& video, KRVideoCompletion completion)
{
    const QString path = video ? archivePath(QStringLiteral("/x/player/pagelist"), *video) : QString();
    if (path.isEmpty())
        return fail(completion, KRAPIError(-2, QStringLiteral("缺少视频标识，无法验证历史分集")));
    performJSONURL(loaderAPIURL(path), [video, completion = std::move(completion)](const QVariant& payload,
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

void KRAPIClient::loadTagsForVideo(const std::shared_ptr<KRVideo>& video, KRTagsCompletion completion)
{
    const QString path = bvidPath(video.get(), QStringLiteral("/x/tag/archive/tags"));
    if (path.isEmpty())
        return fail(completion, KRAPIError(-2, QStringLiteral("缺少 BV 号，无法读取 Tag")));
    performJSONURL(loaderAPIURL(path), [completion = std::move(completion)](const QVariant& payload, const KROptionalError& error) {
        QStringList tags;
        const QVariant data = payload.toMap().value(QStringLiteral("data"));
        if (!error && KRIsArray(data)) {
            for (const QVariant& element : data.toList()) {
                if (!KRIsDictionary(element))
                    continue;
                const QVariant name = element.toMap().value(QStringLiteral("tag_name"));
                if (KRIsString(name) && !name.toString().isEmpty() && !tags.contains(name.toString()))
                    tags.append(name.toString());
            }
        }
        if (completion)
            completion(tags, error);
    });
}

void KRAPIClient::loadRelatedVideosForVideo(const std::shared_ptr<KRVideo>& video, KRVideoListCompletion completion)
{
    const QString path = bvidPath(video.get(), QStringLiteral("/x/web-interface/archive/related"));
    if (path.isEmpty())
        return fail(completion, KRAPIError(-3, QStringLiteral("缺少 BV 号，无法读取相关推荐")));
    const QString bvid = video->canonicalBVID();
    performJSONURL(loaderAPIURL(path), [this, bvid, completion = std::move(completion)](const QVariant& payload, const KROptionalError& error) {
        const KRVideoList videos = error ? KRVideoList() : KRVideoNormalizer::videosFromPayload(payload);
        registerCompatibilityMappingsForVideos(videos);
        KRConsole::log(loaderText(QStringLiteral("[KorvaneRelated] bvid=%1 seedCount=%2"), bvid, videos.size()));
        if (completion)
            completion(videos, error);
    });
}

// ---- PGC ----

void KRAPIClient::loadPGCDetailForVideo(const std::shared_ptr<KRVideo>& video, KRVideoCompletion completion)
{
    if (!video)
        return fail(completion, KRAPIError(-3, QStringLiteral("番剧视频标识不完整")));
    if (video->episodeID() > 0 || video->seasonID() > 0) {
        loadResolvedPGCDetailForVideo(video, true, std::move(completion));
        return;
    }
    // Identity bootstrap: the view endpoint names the episode in its redirect address.
    const QString path = archivePath(QStringLiteral("/x/web-interface/view"), *video);
    if (path.isEmpty())
        return fail(completion, KRAPIError(-33, QStringLiteral("番剧剧集标识缺失")));
    performJSONURL(loaderAPIURL(path), [this, video, completion = std::move(completion)](const QVariant& payload,
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
        loadPGCDetailForVideo(video, std::move(completion));
    });
}

void KRAPIClient::loadResolvedPGCDetailForVideo(const std::shared_ptr<KRVideo>& video, bool useAppEndpoint,
                                                KRVideoCompletion completion)
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
    performJSONURL(url, [this, video, useAppEndpoint, givenSeasonID, completion = std::move(completion)](
                            const QVariant& payload, const KROptionalError& error) mutable {
        KROptionalError resultError = error;
        std::shared_ptr<KRVideo> result;
        if (!error)
            result = videoFromSeasonReply(payload, *video, givenSeasonID, &resultError);
        if (useAppEndpoint && !result) {
            KRDiagnostics::recordEvent(QStringLiteral("pgc-detail-web-fallback"),
                                       loaderText(QStringLiteral("season=%1 ep=%2 appCode=%3"), video->seasonID(),
                                                  video->episodeID(), errorCode(resultError)));
            loadResolvedPGCDetailForVideo(video, false, [appError = resultError, completion = std::move(completion)](
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
