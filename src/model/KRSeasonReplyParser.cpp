// Reads the season reply of the PGC detail endpoints (app and web share its shape): the
// episodes of the season wherever the reply keeps them, the one that stands for the given
// video, and the page list of every playable episode.

#include "model/KRSeasonReplyParser.h"

#include "model/KRAPIReplyHelpers.h"
#include "model/KRTolerantValue.h"
#include "model/KRVideo.h"

#include <QPair>
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

} // namespace

KRSeasonReplyParser::Episode KRSeasonReplyParser::episodeFromPayload(const QVariant& payload, const KRVideo& given,
                                                                     qint64 givenSeasonID)
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
        if (hinted || firstPlayable < 0)
            return {};
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
    return {video, episodeZero};
}
