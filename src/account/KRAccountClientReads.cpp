// Reads that need the user's identity: the account, notifications, dynamics, relations, the
// watch history, watch-later and favourites.

#include "account/KRAccountClient.h"

#include "platform/foundation/ReplyOwner.h"
#include "model/KRServiceHosts.h"
#include "model/KRTolerantValue.h"
#include "model/KRVideo.h"
#include "model/KRVideoNormalizer.h"
#include "store/KRSessionStore.h"

namespace {

const QString kDynamicFeatures = QStringLiteral(
    "itemOpusStyle,listOnlyfans,opusBigCover,onlyfansVote,decorationCard,forwardListHidden,ugcDelete,onlyfansAssetsV2,"
    "ugcSeason,onlyfansQaCard");
constexpr qint64 kPageSize = 20;

QString apiURL(const QString& path) { return QStringLiteral("https://") + KRServiceHosts::apiHost() + path; }

QVariant dataOf(const QVariant& json) { return KRIsDictionary(json) ? json.toMap().value(QStringLiteral("data")) : QVariant(); }

QVariantMap mapOrEmpty(const QVariant& value) { return KRIsDictionary(value) ? value.toMap() : QVariantMap(); }

QVariantList listOrEmpty(const QVariant& value) { return KRIsArray(value) ? value.toList() : QVariantList(); }

// The first value above 0 among the keys of the two dictionaries, in the order given.
qint64 firstPositive(const QList<std::pair<const QVariantMap*, QString>>& candidates)
{
    for (const auto& [dictionary, key] : candidates) {
        const qint64 value = KRLongLong(dictionary->value(key));
        if (value > 0)
            return value;
    }
    return 0;
}

// One item of an account list as the normaliser reads it: the item itself, amended by the
// members the history and the list's kind supply. The amendments are kept apart and read
// first, so the item is never copied to change it.
struct AmendedItem {
    const QVariantMap& item;
    QVariantMap amendments;

    // The member under the key, or a missing value; read in place, never copied.
    const QVariant& value(const QString& key) const
    {
        static const QVariant missing;
        if (!amendments.isEmpty()) {
            const auto amended = amendments.constFind(key);
            if (amended != amendments.constEnd())
                return amended.value();
        }
        const auto it = item.constFind(key);
        return it != item.constEnd() ? it.value() : missing;
    }
    void insert(const QString& key, const QVariant& value) { amendments.insert(key, value); }
};

bool has(const AmendedItem& entry, const QString& key) { return !KRIsMissing(entry.value(key)); }

// The amendments of one item.
QVariantMap amendmentsOf(const QVariantMap& item, const QString& listKey)
{
    AmendedItem entry{item, {}};
    static const QVariantMap noHistory;
    const QVariant& historyValue = entry.value(QStringLiteral("history"));
    const QVariantMap& history =
        KRIsDictionary(historyValue) ? *static_cast<const QVariantMap*>(historyValue.constData()) : noHistory;
    const QString businessKey = QStringLiteral("business");
    const QVariant historyBusiness = history.value(businessKey);
    QString business = KRIsString(historyBusiness) ? historyBusiness.toString() : QString();
    if (business.isEmpty() && KRIsString(entry.value(businessKey)))
        business = entry.value(businessKey).toString();
    business = business.toLower();
    const QString aidKey = QStringLiteral("aid");

    bool fillAIDFromHistory = false;
    bool fillAIDFromMedia = false;
    // Most items are plain archives: they need no search for the words of the other kinds.
    if (!business.isEmpty() && business != QLatin1String("archive")
        && (business.contains(QLatin1String("pgc")) || business.contains(QLatin1String("bangumi"))
            || business.contains(QLatin1String("season")))) {
        // Nothing is amended yet: the item's own members are what it holds.
        const qint64 episode = firstPositive({{&history, QStringLiteral("epid")}, {&history, QStringLiteral("ep_id")},
                                              {&item, QStringLiteral("epid")}, {&item, QStringLiteral("ep_id")}});
        const qint64 season = firstPositive({{&item, QStringLiteral("season_id")}, {&item, QStringLiteral("seasonid")},
                                             {&history, QStringLiteral("season_id")}, {&history, QStringLiteral("seasonid")}});
        entry.insert(QStringLiteral("pgc"), true);
        entry.insert(QStringLiteral("business"), QStringLiteral("pgc"));
        if (episode >= 1) {
            for (const char* key : {"epid", "ep_id", "episode_id"})
                entry.insert(QLatin1String(key), episode);
        }
        if (season >= 1)
            entry.insert(QStringLiteral("season_id"), season);
        fillAIDFromHistory = !has(entry, aidKey);
    } else if (!has(entry, aidKey)) {
        fillAIDFromHistory = business.isEmpty() || business == QLatin1String("archive");
        fillAIDFromMedia = !fillAIDFromHistory;
    }
    if (fillAIDFromHistory) {
        const qint64 oid = KRLongLong(history.value(QStringLiteral("oid")));
        if (oid >= 1)
            entry.insert(aidKey, oid);
        else
            fillAIDFromMedia = true;
    }
    if (fillAIDFromMedia && listKey == QLatin1String("medias") && KRLongLong(entry.value(QStringLiteral("type"))) == 2) {
        const qint64 mediaID = KRLongLong(entry.value(QStringLiteral("id")));
        if (mediaID >= 1)
            entry.insert(aidKey, mediaID);
    }

    const QString historyBVID = KRString(history.value(QStringLiteral("bvid")));
    if (!has(entry, QStringLiteral("bvid")) && !historyBVID.isEmpty())
        entry.insert(QStringLiteral("bvid"), historyBVID);
    if (!has(entry, QStringLiteral("cid")) && KRLongLong(history.value(QStringLiteral("cid"))) >= 1)
        entry.insert(QStringLiteral("cid"), KRLongLong(history.value(QStringLiteral("cid"))));
    if (KRIsDictionary(entry.value(QStringLiteral("upper"))) && !has(entry, QStringLiteral("owner")))
        entry.insert(QStringLiteral("owner"), entry.value(QStringLiteral("upper")));
    if (KRIsDictionary(entry.value(QStringLiteral("cnt_info"))) && !has(entry, QStringLiteral("stat")))
        entry.insert(QStringLiteral("stat"), entry.value(QStringLiteral("cnt_info")));
    return std::move(entry.amendments);
}

} // namespace

KRAccountVideoPage KRAccountNormalizedVideoPage(const QVariant& reply, const QString& listKey)
{
    QVariantMap root = mapOrEmpty(reply);
    if (KRIsDictionary(root.value(QStringLiteral("data"))))
        root = root.value(QStringLiteral("data")).toMap();
    QVariant items = root.value(listKey);
    if (!KRIsArray(items))
        items = root.value(QStringLiteral("list"));
    KRAccountVideoPage page;
    const QVariantList entries = listOrEmpty(items);
    page.videos.reserve(entries.size());
    for (const QVariant& item : entries) {
        if (!KRIsDictionary(item))
            continue;
        const QVariantMap& entry = *static_cast<const QVariantMap*>(item.constData());
        if (auto video = KRVideoNormalizer::videoFromDictionary(entry, amendmentsOf(entry, listKey)))
            page.videos.append(std::move(video));
    }
    for (const std::shared_ptr<KRVideo>& video : page.videos) {
        if ((video->isPGC() || video->episodeID() >= 1) && video->playCount() <= 0 && video->danmakuCount() <= 0)
            video->setStatisticsKnown(false);
    }
    KRAPIClient::sharedClient()->registerCompatibilityMappingsForVideos(page.videos);
    return page;
}

namespace {

// A GET read on the API host handing the reply's data (or, with `objectOnly`, only an object).
void read(KRAccountClient* client, const QString& path, const QVariantMap& parameters, bool requireLogin, bool objectOnly,
          QObject* owner, KRAccountReadCompletion completion)
{
    completion = platform::ownedBy(owner, std::move(completion));
    client->performURLString(apiURL(path), QStringLiteral("GET"), parameters, requireLogin, owner,
                             [completion, objectOnly](const QVariant& json, const platform::HTTPResponse*, const KROptionalError& error) {
                                 const QVariant data = dataOf(json);
                                 completion(objectOnly && !KRIsDictionary(data) ? QVariant() : data, error);
                             });
}

QVariantMap messageParameters(qint64 cursor)
{
    QVariantMap parameters{{QStringLiteral("platform"), QStringLiteral("web")},
                           {QStringLiteral("build"), 0},
                           {QStringLiteral("mobi_app"), QStringLiteral("web")}};
    if (cursor >= 1)
        parameters.insert(QStringLiteral("id"), cursor);
    return parameters;
}

} // namespace

void KRAccountClient::loadCurrentAccount(QObject* owner, KRAccountReadCompletion completion)
{
    completion = platform::ownedBy(owner, std::move(completion));
    read(this, QStringLiteral("/x/web-interface/nav"), {}, true, false, owner, [completion](const QVariant& data, const KROptionalError& error) {
        if (!error && KRIsDictionary(data) && KRBoolean(data.toMap().value(QStringLiteral("isLogin"))))
            KRSessionStore::sharedStore().updateAccountProfile(data);
        completion(data, error);
    });
}

void KRAccountClient::loadReplyMessagesWithCursor(qint64 cursor, QObject* owner, KRAccountReadCompletion completion)
{
    read(this, QStringLiteral("/x/msgfeed/reply"), messageParameters(cursor), true, false, owner, std::move(completion));
}

void KRAccountClient::loadAtMessagesWithCursor(qint64 cursor, QObject* owner, KRAccountReadCompletion completion)
{
    read(this, QStringLiteral("/x/msgfeed/at"), messageParameters(cursor), true, false, owner, std::move(completion));
}

void KRAccountClient::loadFollowingDynamicsOfType(const QString& type, const QString& offset, QObject* owner,
                                                  KRAccountReadCompletion completion)
{
    QVariantMap parameters{{QStringLiteral("type"), type == QLatin1String("video") ? QStringLiteral("video") : QStringLiteral("all")},
                           {QStringLiteral("timezone_offset"), QStringLiteral("-480")},
                           {QStringLiteral("features"), kDynamicFeatures}};
    if (!offset.isEmpty())
        parameters.insert(QStringLiteral("offset"), offset);
    read(this, QStringLiteral("/x/polymer/web-dynamic/v1/feed/all"), parameters, true, false, owner, std::move(completion));
}

void KRAccountClient::loadDynamicDetailID(const QString& dynamicID, QObject* owner, KRAccountReadCompletion completion)
{
    const QVariantMap parameters{{QStringLiteral("id"), dynamicID.isNull() ? QString(QLatin1String("")) : dynamicID},
                                 {QStringLiteral("features"), kDynamicFeatures}};
    read(this, QStringLiteral("/x/polymer/web-dynamic/v1/detail"), parameters, true, false, owner, std::move(completion));
}

void KRAccountClient::loadArchiveRelationForAID(qint64 aid, QObject* owner, KRAccountReadCompletion completion)
{
    read(this, QStringLiteral("/x/web-interface/archive/relation"), {{QStringLiteral("aid"), aid}}, true, false, owner,
         std::move(completion));
}

void KRAccountClient::loadRelationForMID(qint64 mid, QObject* owner, KRAccountReadCompletion completion)
{
    read(this, QStringLiteral("/x/relation"), {{QStringLiteral("fid"), mid}}, true, false, owner, std::move(completion));
}

void KRAccountClient::loadFollowerStatisticsForMID(qint64 mid, QObject* owner, KRAccountReadCompletion completion)
{
    read(this, QStringLiteral("/x/relation/stat"), {{QStringLiteral("vmid"), mid}}, false, true, owner, std::move(completion));
}

void KRAccountClient::loadReplyEmotePackages(QObject* owner, KRAccountReadCompletion completion)
{
    read(this, QStringLiteral("/x/emote/package"),
         {{QStringLiteral("business"), QStringLiteral("reply")}, {QStringLiteral("ids"), QStringLiteral("1,2")}}, false, true,
         owner, std::move(completion));
}

void KRAccountClient::loadHistoryWithMax(qint64 max, qint64 viewAt, QObject* owner, KRAccountVideoPageCompletion completion)
{
    completion = platform::ownedBy(owner, std::move(completion));
    QVariantMap parameters{{QStringLiteral("ps"), kPageSize}};
    if (max >= 1)
        parameters.insert(QStringLiteral("max"), max);
    if (viewAt >= 1)
        parameters.insert(QStringLiteral("view_at"), viewAt);
    performURLString(apiURL(QStringLiteral("/x/web-interface/history/cursor")), QStringLiteral("GET"), parameters, true, owner,
                     [completion](const QVariant& json, const platform::HTTPResponse*, const KROptionalError& error) {
                         KRAccountVideoPage page = KRAccountNormalizedVideoPage(json, QStringLiteral("list"));
                         const QVariantMap cursor = mapOrEmpty(mapOrEmpty(dataOf(json)).value(QStringLiteral("cursor")));
                         const qint64 nextMax = KRLongLong(cursor.value(QStringLiteral("max")));
                         const qint64 nextViewAt = KRLongLong(cursor.value(QStringLiteral("view_at")));
                         if (nextMax >= 1)
                             page.max = nextMax;
                         if (nextViewAt >= 1)
                             page.viewAt = nextViewAt;
                         page.hasMore = !error && !page.videos.isEmpty() && nextMax > 0;
                         completion(page, error);
                     });
}

void KRAccountClient::loadWatchLater(QObject* owner, KRAccountVideoPageCompletion completion)
{
    completion = platform::ownedBy(owner, std::move(completion));
    performURLString(apiURL(QStringLiteral("/x/v2/history/toview/web")), QStringLiteral("GET"), {}, true, owner,
                     [completion](const QVariant& json, const platform::HTTPResponse*, const KROptionalError& error) {
                         completion(KRAccountNormalizedVideoPage(json, QStringLiteral("list")), error);
                     });
}

void KRAccountClient::loadFavoriteVideosForMediaID(qint64 mediaID, qint32 page, QObject* owner, KRAccountVideoPageCompletion completion)
{
    completion = platform::ownedBy(owner, std::move(completion));
    const QVariantMap parameters{{QStringLiteral("media_id"), mediaID},
                                 {QStringLiteral("pn"), page >= 2 ? page : 1},
                                 {QStringLiteral("ps"), kPageSize},
                                 {QStringLiteral("platform"), 0}};
    performURLString(apiURL(QStringLiteral("/x/v3/fav/resource/list")), QStringLiteral("GET"), parameters, true, owner,
                     [completion](const QVariant& json, const platform::HTTPResponse*, const KROptionalError& error) {
                         KRAccountVideoPage videos = KRAccountNormalizedVideoPage(json, QStringLiteral("medias"));
                         videos.hasMore = KRBoolean(mapOrEmpty(dataOf(json)).value(QStringLiteral("has_more")));
                         completion(videos, error);
                     });
}

void KRAccountClient::loadFavoriteFolders(QObject* owner, KRAccountDictionaryCompletion completion)
{
    loadFavoriteFoldersPage(1, owner, std::move(completion));
}

void KRAccountClient::loadFavoriteFoldersPage(qint32 page, QObject* owner, KRAccountDictionaryCompletion completion)
{
    completion = platform::ownedBy(owner, std::move(completion));
    const qint32 number = std::max(page, 1);
    const QVariantMap parameters{{QStringLiteral("up_mid"), KRSessionStore::sharedStore().userID()},
                                 {QStringLiteral("type"), 2},
                                 {QStringLiteral("pn"), number},
                                 {QStringLiteral("ps"), kPageSize}};
    performURLString(apiURL(QStringLiteral("/x/v3/fav/folder/created/list")), QStringLiteral("GET"), parameters, true, owner,
                     [completion, number](const QVariant& json, const platform::HTTPResponse*, const KROptionalError& error) {
                         const QVariantMap data = mapOrEmpty(dataOf(json));
                         const QVariantList folders = listOrEmpty(data.value(QStringLiteral("list")));
                         const qint64 total = KRLongLong(data.value(QStringLiteral("count")));
                         completion({{QStringLiteral("folders"), folders},
                                     {QStringLiteral("has_more"), total > qint64(number) * kPageSize && !folders.isEmpty()},
                                     {QStringLiteral("total"), total}},
                                    error);
                     });
}

void KRAccountClient::loadFavoriteFoldersForAID(qint64 aid, QObject* owner, KRAccountDictionaryCompletion completion)
{
    completion = platform::ownedBy(owner, std::move(completion));
    const qint64 mid = KRSessionStore::sharedStore().userID();
    if (aid < 1 || mid < 1)
        return completion({}, KRAccountError(-3, aid < 1 ? QStringLiteral("视频编号尚未解析") : QStringLiteral("账号信息尚未同步")));
    const QVariantMap parameters{{QStringLiteral("type"), 2}, {QStringLiteral("rid"), aid}, {QStringLiteral("up_mid"), mid}};
    performURLString(apiURL(QStringLiteral("/x/v3/fav/folder/created/list-all")), QStringLiteral("GET"), parameters, true, owner,
                     [completion](const QVariant& json, const platform::HTTPResponse*, const KROptionalError& error) {
                         const QVariantList folders = listOrEmpty(mapOrEmpty(dataOf(json)).value(QStringLiteral("list")));
                         completion({{QStringLiteral("folders"), folders}, {QStringLiteral("total"), folders.size()}}, error);
                     });
}
