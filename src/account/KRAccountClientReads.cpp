// Reads that need the user's identity: the account, notifications, dynamics, relations, the
// watch history, watch-later and favourites.

#include "account/KRAccountClient.h"

#include "platform/foundation/ReplyOwner.h"
#include "model/KRServiceHosts.h"
#include "model/KRTolerantValue.h"
#include "model/KRVideo.h"
#include "model/KRVideoNormalizer.h"
#include "store/KRSessionStore.h"

#include <algorithm>
#include <iterator>
#include <string>
#include <utility>

namespace {

const QString kDynamicFeatures = QStringLiteral(
    "itemOpusStyle,listOnlyfans,opusBigCover,onlyfansVote,decorationCard,forwardListHidden,ugcDelete,onlyfansAssetsV2,"
    "ugcSeason,onlyfansQaCard");
constexpr qint64 kPageSize = 20;

QString apiURL(const QString& path) { return QStringLiteral("https://") + KRServiceHosts::apiHost() + path; }

QVariant dataOf(const QVariant& json) { return KRIsDictionary(json) ? json.toMap().value(QStringLiteral("data")) : QVariant(); }

QVariantMap mapOrEmpty(const QVariant& value) { return KRIsDictionary(value) ? value.toMap() : QVariantMap(); }

QVariantList listOrEmpty(const QVariant& value) { return KRIsArray(value) ? value.toList() : QVariantList(); }

// The members of an item and of its history that the amendments read.
enum class Member { History, Business, Aid, Bvid, Cid, Upper, Owner, CntInfo, Stat, Type, Id, Oid, Epid, EpID, SeasonID, SeasonIDJoined, Count };

const QString kMemberNames[] = {
    QStringLiteral("history"), QStringLiteral("business"), QStringLiteral("aid"),   QStringLiteral("bvid"),
    QStringLiteral("cid"),     QStringLiteral("upper"),    QStringLiteral("owner"), QStringLiteral("cnt_info"),
    QStringLiteral("stat"),    QStringLiteral("type"),     QStringLiteral("id"),    QStringLiteral("oid"),
    QStringLiteral("epid"),    QStringLiteral("ep_id"),    QStringLiteral("season_id"), QStringLiteral("seasonid")};
static_assert(std::size(kMemberNames) == size_t(Member::Count));

const QString& memberName(Member member) { return kMemberNames[int(member)]; }

const QVariant kMissing;

// The member a key names, or Member::Count for a key the amendments never read. No two names
// share a length and a first letter, so a table by those two leaves one name to compare.
Member memberOf(const QString& key)
{
    constexpr qsizetype kLongest = 9;
    struct Table {
        Member at[kLongest + 1][26];
        constexpr Table() : at{}
        {
            for (auto& row : at) {
                for (Member& member : row)
                    member = Member::Count;
            }
            const std::pair<const char*, Member> names[] = {
                {"history", Member::History}, {"business", Member::Business}, {"aid", Member::Aid},
                {"bvid", Member::Bvid},       {"cid", Member::Cid},           {"upper", Member::Upper},
                {"owner", Member::Owner},     {"cnt_info", Member::CntInfo},  {"stat", Member::Stat},
                {"type", Member::Type},       {"id", Member::Id},             {"oid", Member::Oid},
                {"epid", Member::Epid},       {"ep_id", Member::EpID},        {"season_id", Member::SeasonID},
                {"seasonid", Member::SeasonIDJoined}};
            for (const auto& [name, member] : names)
                at[std::char_traits<char>::length(name)][name[0] - 'a'] = member;
        }
    };
    static constexpr Table table;
    const qsizetype length = key.size();
    if (length < 1 || length > kLongest)
        return Member::Count;
    const unsigned letter = unsigned(key.front().unicode()) - 'a';
    if (letter >= 26)
        return Member::Count;
    const Member candidate = table.at[length][letter];
    if (candidate == Member::Count)
        return candidate;
    const QString& name = memberName(candidate);
    return std::equal(key.cbegin() + 1, key.cend(), name.cbegin() + 1) ? candidate : Member::Count;
}

// The members of one object that the amendments read, found in one pass over its keys: a
// history item has a few dozen members, and searching the map for each name read cost more
// than the pass. Values are read in place, never copied.
class Members {
public:
    explicit Members(const QVariantMap& map)
    {
        for (auto it = map.constBegin(); it != map.constEnd(); ++it) {
            const Member member = memberOf(it.key());
            if (member != Member::Count)
                m_at[int(member)] = &it.value();
        }
    }
    // The member, or a missing value.
    const QVariant& operator[](Member member) const
    {
        const QVariant* found = m_at[int(member)];
        return found ? *found : kMissing;
    }
    bool has(Member member) const { return !KRIsMissing((*this)[member]); }
    void set(Member member, const QVariant* value) { m_at[int(member)] = value; }

private:
    const QVariant* m_at[int(Member::Count)] = {};
};

// The first value above 0 among the members given, in their order.
qint64 firstPositive(std::initializer_list<std::pair<const Members*, Member>> candidates)
{
    for (const auto& [members, member] : candidates) {
        const qint64 value = KRLongLong((*members)[member]);
        if (value > 0)
            return value;
    }
    return 0;
}

// One item of an account list as the normaliser reads it: the item itself, amended by the
// members the history and the list's kind supply. The amendments are kept apart and read
// first, so the item is never copied to change it.
class AmendedItem {
public:
    AmendedItem(const QVariantMap& item, QVariantMap* amendments) : m_members(item), m_amendments(amendments) {}

    // The member, amended or the item's own, or a missing value.
    const QVariant& value(Member member) const { return m_members[member]; }
    bool has(Member member) const { return m_members.has(member); }
    void insert(const QString& key, const QVariant& value) { m_amendments->insert(key, value); }
    void insert(Member member, const QVariant& value)
    {
        // A map's values stay where they are as others are inserted.
        m_members.set(member, &*m_amendments->insert(memberName(member), value));
    }

private:
    Members m_members;
    QVariantMap* m_amendments;
};

bool hasWord(const QString& text, const char* word) { return text.contains(QLatin1String(word), Qt::CaseInsensitive); }

const QString* textOf(const QVariant& value) { return KRIsString(value) ? static_cast<const QString*>(value.constData()) : nullptr; }

// The amendments of one item, into `amendments` (emptied first: one map serves a whole page).
void amendItem(const QVariantMap& item, const QString& listKey, QVariantMap* amendments)
{
    amendments->clear();
    AmendedItem entry(item, amendments);
    static const QVariantMap noHistory;
    const QVariant& historyValue = entry.value(Member::History);
    const Members history(KRIsDictionary(historyValue) ? *static_cast<const QVariantMap*>(historyValue.constData()) : noHistory);
    const QString* business = textOf(history[Member::Business]);
    if (!business || business->isEmpty())
        business = textOf(entry.value(Member::Business));
    const bool noBusiness = !business || business->isEmpty();
    // Compared without case: most items are plain archives, and their kind is never lowered.
    const bool archive = !noBusiness && business->compare(QLatin1String("archive"), Qt::CaseInsensitive) == 0;

    bool fillAIDFromHistory = false;
    bool fillAIDFromMedia = false;
    // Most items are plain archives: they need no search for the words of the other kinds.
    if (!noBusiness && !archive && (hasWord(*business, "pgc") || hasWord(*business, "bangumi") || hasWord(*business, "season"))) {
        // Nothing is amended yet: the item's own members are what it holds.
        const Members own(item);
        const qint64 episode =
            firstPositive({{&history, Member::Epid}, {&history, Member::EpID}, {&own, Member::Epid}, {&own, Member::EpID}});
        const qint64 season = firstPositive({{&own, Member::SeasonID}, {&own, Member::SeasonIDJoined},
                                             {&history, Member::SeasonID}, {&history, Member::SeasonIDJoined}});
        entry.insert(QStringLiteral("pgc"), true);
        entry.insert(Member::Business, QStringLiteral("pgc"));
        if (episode >= 1) {
            for (const char* key : {"epid", "ep_id", "episode_id"})
                entry.insert(QLatin1String(key), episode);
        }
        if (season >= 1)
            entry.insert(QStringLiteral("season_id"), season);
        fillAIDFromHistory = !entry.has(Member::Aid);
    } else if (!entry.has(Member::Aid)) {
        fillAIDFromHistory = noBusiness || archive;
        fillAIDFromMedia = !fillAIDFromHistory;
    }
    if (fillAIDFromHistory) {
        const qint64 oid = KRLongLong(history[Member::Oid]);
        if (oid >= 1)
            entry.insert(Member::Aid, oid);
        else
            fillAIDFromMedia = true;
    }
    if (fillAIDFromMedia && listKey == QLatin1String("medias") && KRLongLong(entry.value(Member::Type)) == 2) {
        const qint64 mediaID = KRLongLong(entry.value(Member::Id));
        if (mediaID >= 1)
            entry.insert(Member::Aid, mediaID);
    }

    if (!entry.has(Member::Bvid)) {
        const QString historyBVID = KRString(history[Member::Bvid]);
        if (!historyBVID.isEmpty())
            entry.insert(Member::Bvid, historyBVID);
    }
    if (!entry.has(Member::Cid)) {
        const qint64 cid = KRLongLong(history[Member::Cid]);
        if (cid >= 1)
            entry.insert(Member::Cid, cid);
    }
    if (KRIsDictionary(entry.value(Member::Upper)) && !entry.has(Member::Owner))
        entry.insert(Member::Owner, entry.value(Member::Upper));
    if (KRIsDictionary(entry.value(Member::CntInfo)) && !entry.has(Member::Stat))
        entry.insert(Member::Stat, entry.value(Member::CntInfo));
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
    QVariantMap amendments;
    for (const QVariant& item : entries) {
        if (!KRIsDictionary(item))
            continue;
        const QVariantMap& entry = *static_cast<const QVariantMap*>(item.constData());
        amendItem(entry, listKey, &amendments);
        if (auto video = KRVideoNormalizer::videoFromDictionary(entry, amendments))
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
