#include "support/ServiceFixtures.h"

#include "model/KRServiceHosts.h"
#include "support/CatalogueText.h"
#include "support/CommentFixtures.h"
#include "support/PlaybackFixtures.h"
#include "support/ServiceSignatures.h"

#include <QStringList>

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>

namespace testsupport {
namespace {

using Map = QVariantMap;
using List = QVariantList;
using F = ServiceFixtures;

QString S(const char* text) { return QString::fromUtf8(text); }

QVariant null() { return QVariant::fromValue(nullptr); }

constexpr qint64 kTrailerEpisodeID = 5901;

qint64 queryInteger(const FakeRequest& request, const char* name, qint64 fallback)
{
    bool ok = false;
    const qint64 number = request.queryValue(QString::fromLatin1(name)).toLongLong(&ok);
    return ok ? number : fallback;
}

qint64 pageOf(const FakeRequest& request, const char* name) { return std::max<qint64>(1, queryInteger(request, name, 1)); }
qint64 sizeOf(const FakeRequest& request, const char* name, qint64 fallback)
{
    return std::clamp<qint64>(queryInteger(request, name, fallback), 1, 50);
}

QString imageURL(const QString& folder, qint64 seed)
{
    return QStringLiteral("https://i0.%1/bfs/%2/%3.jpg").arg(KRServiceHosts::imagePrimaryDomain(), folder).arg(seed);
}

// The region an archive belongs to when no list placed it; the detail video is a woodwork one.
qint64 regionOfAID(qint64 aid) { return aid == F::kDetailAID ? 161 : CatalogueText::regionFor(aid); }

// A list of a region shows titles, lengths and the region's name of its own kind; the same
// archive asked elsewhere reads as its home region.
QString titleIn(qint64 aid, qint64 rid) { return aid == F::kDetailAID ? S("在家做的猫爬架") : CatalogueText::title(aid, rid); }
QString titleForAID(qint64 aid) { return titleIn(aid, regionOfAID(aid)); }
qint64 secondsIn(qint64 aid, qint64 rid) { return CatalogueText::durationSeconds(aid, rid); }
qint64 secondsForAID(qint64 aid) { return secondsIn(aid, regionOfAID(aid)); }

// How the routes answer: the tests' catalogue (lengths and comment counts of their own, a region
// list naming its region in every row) or the demo's, where every list, the detail, the comments
// and the media answer from one record per archive (ServiceFixtures::demoRecord).
struct Mode {
    bool demo = false;
    std::shared_ptr<CommentFixtures::PostedComments> posted;
};

// The demo's parts video is one of its feed's; the tests' catalogue keeps that row single.
bool isDemoPartsVideo(qint64 aid, const Mode& mode) { return mode.demo && aid == F::kDemoPartsAID; }
qint64 partCount(qint64 aid, const Mode& mode) { return aid == F::kDetailAID || isDemoPartsVideo(aid, mode) ? 3 : 1; }
qint64 cidForAID(qint64 aid) { return aid == F::kDetailAID ? F::kDetailCID : 10000000 + aid; }
// The cid of an archive's first part; the others follow it.
qint64 firstCIDOf(qint64 aid, const Mode& mode) { return isDemoPartsVideo(aid, mode) ? F::kDemoPartsFirstCID : cidForAID(aid); }
// How long one part of the demo plays: the clip it serves.
qint64 demoPartSeconds(qint64 aid) { return aid == F::kDemoPortraitAID ? F::kDemoPortraitSeconds : F::kDemoClipSeconds; }
qint64 secondsOf(qint64 aid, const Mode& mode) { return mode.demo ? demoPartSeconds(aid) * partCount(aid, mode) : secondsForAID(aid); }
// The demo names its portrait, 4K and parts videos for what they show, so a newcomer finds them.
QString titleOf(qint64 aid, const Mode& mode)
{
    if (mode.demo && aid == F::kDemoPortraitAID)
        return S("竖屏演示 · %1").arg(titleForAID(aid));
    if (mode.demo && aid == F::kDemo4KAID)
        return S("4K 演示 · %1").arg(titleForAID(aid));
    if (isDemoPartsVideo(aid, mode))
        return S("分P演示 · %1").arg(titleForAID(aid));
    return titleForAID(aid);
}
// The picture's size as a record gives it.
QVariantMap dimensionOf(qint64 aid, const Mode& mode)
{
    const bool portrait = mode.demo && aid == F::kDemoPortraitAID;
    return QVariantMap{{"width", portrait ? 360 : 1920}, {"height", portrait ? 640 : 1080}, {"rotate", 0}};
}
// A length as text ("m:ss"); the demo writes its minutes in two digits as the app shows them, so
// a row that carries text reads as the page that counts seconds.
QString lengthText(qint64 seconds, const Mode& mode = {})
{
    return QStringLiteral("%1:%2").arg(seconds / 60, mode.demo ? 2 : 1, 10, QLatin1Char('0')).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

// The demo's top-level comments of an object, and the replies of its index-th one.
qint64 demoTopLevelCount(qint64 oid) { return oid == F::kDetailAID ? F::kCommentCount : oid % 13; }
qint64 demoReplyCount(qint64 oid, qint64 index) { return oid == F::kDetailAID ? F::kRepliesPerComment : (index * 7 + oid) % 4; }
qint64 generatedCommentTotal(qint64 oid)
{
    qint64 total = 0;
    for (qint64 index = 0; index < demoTopLevelCount(oid); ++index)
        total += 1 + demoReplyCount(oid, index);
    return total;
}
qint64 commentTotalOf(qint64 oid, const Mode& mode, qint32 type = 1)
{
    if (!mode.demo)
        return 5 + oid % 31;
    return generatedCommentTotal(oid) + (mode.posted ? mode.posted->count(type, oid) : 0);
}

QString seasonTitle() { return S("星河旅人"); }

// The danmaku an archive's parts serve together, as its lists count them.
qint64 danmakuCountOf(qint64 aid, const Mode& mode)
{
    if (!mode.demo)
        return 10 + aid % 53;
    const qint64 first = firstCIDOf(aid, mode);
    qint64 lines = 0;
    for (qint64 part = 0; part < partCount(aid, mode); ++part)
        lines += PlaybackFixtures::demoDanmakuLines(first + part);
    return lines;
}

qint64 playsFor(qint64 aid) { return 1000 + aid % 97 * 1237; }

qint64 ownerMIDFor(qint64 aid) { return aid == F::kDetailAID ? F::kUploaderMID : 3000 + aid % 500; }

QString ownerName(qint64 mid) { return mid == F::kUploaderMID ? F::uploaderName() : CatalogueText::uploaderName(mid); }

Map archiveIn(qint64 aid, qint64 rid)
{
    Map item = F::archiveItem(aid);
    item.insert("tid", rid);
    item.insert("tname", CatalogueText::sectionName(rid));
    item.insert("title", titleIn(aid, rid));
    item.insert("duration", secondsIn(aid, rid));
    return item;
}

// One archive as list endpoints give it, in the mode's catalogue.
Map archiveOf(qint64 aid, const Mode& mode)
{
    Map item = F::archiveItem(aid);
    if (mode.demo) {
        item.insert("title", titleOf(aid, mode));
        item.insert("dimension", dimensionOf(aid, mode));
        item.insert("duration", secondsOf(aid, mode));
        item.insert("videos", partCount(aid, mode));
        item.insert("cid", firstCIDOf(aid, mode));
        Map stat = item.value("stat").toMap();
        stat.insert("reply", commentTotalOf(aid, mode));
        stat.insert("danmaku", danmakuCountOf(aid, mode));
        item.insert("stat", stat);
    }
    return item;
}

Map pageObject(qint64 cid, int page, const QString& part, qint64 seconds, const QVariantMap& dimension = {})
{
    return {{"cid", cid}, {"page", page}, {"part", part}, {"duration", seconds},
            {"dimension", dimension.isEmpty() ? Map{{"width", 1920}, {"height", 1080}, {"rotate", 0}} : dimension}};
}

List pagesForAID(qint64 aid, const Mode& mode)
{
    // Each part of the demo plays the clip, so it lasts as long as the clip.
    const auto seconds = [&](qint64 own) { return mode.demo ? demoPartSeconds(aid) : own; };
    if (aid == F::kDetailAID)
        return {pageObject(F::kDetailCID, 1, S("准备材料"), seconds(312)), pageObject(F::kDetailCID + 1, 2, S("切割与打磨"), seconds(845)),
                pageObject(F::kDetailCID + 2, 3, S("组装"), seconds(1290))};
    if (isDemoPartsVideo(aid, mode)) {
        const qint64 first = firstCIDOf(aid, mode);
        const qint64 part = demoPartSeconds(aid);
        return {pageObject(first, 1, S("上篇"), part), pageObject(first + 1, 2, S("中篇"), part), pageObject(first + 2, 3, S("下篇"), part)};
    }
    if (aid == F::kHiddenAID || aid == F::kReviewAID)
        return {pageObject(F::unavailableCID(aid), 1, S("上"), 600), pageObject(F::unavailableCID(aid) + 1, 2, S("下"), 660)};
    return {pageObject(cidForAID(aid), 1, titleOf(aid, mode), seconds(secondsForAID(aid)), dimensionOf(aid, mode))};
}

FakeReply ok(const QVariant& data) { return FakeReply::json(F::envelope(data)); }
FakeReply badRequest() { return F::serviceError(-400, S("请求错误")); }
FakeReply nothingHere() { return F::serviceError(-404, S("啥都木有")); }
FakeReply commentGone() { return F::serviceError(12022, S("已经被删除了")); }

FakeService::Handler wbiSigned(FakeService::Handler handler) { return testsupport::wbiSigned(fixtureWBIMixinKey(), std::move(handler)); }
FakeService::Handler appSigned(FakeService::Handler handler)
{
    return testsupport::appSigned(KRServiceHosts::appSecret(), std::move(handler));
}

// ---- Feeds and sections ----

// Archives first, first + 1 … as a list endpoint gives them.
List archives(qint64 first, qint64 count, const Mode& mode)
{
    List list;
    for (qint64 i = 0; i < count; ++i)
        list.append(archiveOf(first + i, mode));
    return list;
}

// A region's list (rid above 0) from `first` on, `skip` rows left out. The tests' rows name that
// region whatever the archive; the demo's are the archives from `first` on whose own region it is,
// so each reads as it does everywhere else (a region no archive has lists archives as they come).
List regionArchives(qint64 first, qint64 skip, qint64 count, qint64 rid, const Mode& mode)
{
    if (!mode.demo) {
        List list;
        for (qint64 i = 0; i < count; ++i)
            list.append(rid > 0 ? archiveIn(first + skip + i, rid) : F::archiveItem(first + skip + i));
        return list;
    }
    if (!CatalogueText::isRegion(rid))
        return archives(first + skip, count, mode);
    List list;
    for (qint64 aid = first; list.size() < count; ++aid) {
        if (regionOfAID(aid) != rid)
            continue;
        if (skip > 0)
            --skip;
        else
            list.append(archiveOf(aid, mode));
    }
    return list;
}

FakeReply popular(const FakeRequest& request, const Mode& mode)
{
    const qint64 size = sizeOf(request, "ps", 20);
    return ok(Map{{"list", archives(200000 + (pageOf(request, "pn") - 1) * size, size, mode)}, {"no_more", false}});
}

Map videoFeedItem(qint64 aid, const Mode& mode)
{
    const qint64 mid = ownerMIDFor(aid);
    return {{"id", aid}, {"bvid", F::bvidForAID(aid)}, {"cid", firstCIDOf(aid, mode)}, {"goto", "av"}, {"pic", imageURL("archive", aid)},
            {"title", titleOf(aid, mode)}, {"duration", secondsOf(aid, mode)}, {"pubdate", 1700000000 - aid % 86400},
            {"owner", Map{{"mid", mid}, {"name", ownerName(mid)}, {"face", imageURL("face", mid)}}},
            {"stat", Map{{"view", playsFor(aid)}, {"like", 20 + aid % 173}, {"danmaku", danmakuCountOf(aid, mode)}}},
            {"room_info", null()}, {"business_info", null()}};
}

List nonVideoFeedItems()
{
    const Map advert{{"id", 0}, {"bvid", ""}, {"goto", "ad"}, {"business_info", Map{{"is_ad", true}, {"title", S("限时优惠")}}}};
    const Map live{{"id", 22334455}, {"bvid", ""}, {"goto", "live"}, {"title", S("深夜电台 陪你聊天")},
                   {"room_info", Map{{"live_status", 1}}}};
    const Map season{{"id", F::kSeasonID}, {"bvid", ""}, {"goto", "ogv"}, {"title", seasonTitle()}};
    return {advert, live, season};
}

FakeReply recommendation(const FakeRequest& request, const Mode& mode)
{
    const qint64 fresh = pageOf(request, "fresh_idx");
    const List others = nonVideoFeedItems();
    List items;
    for (int slot = 0; slot < 20; ++slot)
        items.append(slot == 3 ? others.at(0) : slot == 11 ? others.at(1) : QVariant(videoFeedItem(300000 + fresh * 100 + slot, mode)));
    const bool loggedIn = request.header(QStringLiteral("Cookie")).contains(QLatin1String("SESSDATA="));
    return ok(Map{{"item", items}, {"business_card", null()}, {"mid", loggedIn ? 12345 : 0}});
}

FakeReply ranking(const FakeRequest& request, const Mode& mode)
{
    const qint64 rid = std::max<qint64>(0, queryInteger(request, "rid", 0));
    return ok(Map{{"note", S("根据稿件内容质量、近期的数据综合展示，动态更新")}, {"list", regionArchives(400000 + rid * 1000, 0, 100, rid, mode)}});
}

FakeReply newList(const FakeRequest& request, const Mode& mode)
{
    const qint64 rid = std::max<qint64>(0, queryInteger(request, "rid", 0));
    const qint64 page = pageOf(request, "pn");
    const qint64 size = sizeOf(request, "ps", 20);
    return ok(Map{{"archives", regionArchives(500000 + rid * 1000, (page - 1) * size, size, rid, mode)},
                  {"page", Map{{"count", 1000}, {"num", page}, {"size", size}}}});
}

// ---- Seasons ----

// A season as both season routes, the view route and the index describe it: kSeasonID of the
// tests, or (the demo's) every season the index lists, numbered kIndexedSeasons + type × 1000 + n.
struct SeasonShape {
    qint64 seasonID = 0;
    QString title;
    qint64 episodes = 0;
    qint64 firstEpisodeID = 0;
    qint64 firstAID = 0;
    qint64 firstCID = 0;
    bool trailers = false;      // a "PV&其他" section beside the episodes
    bool demo = false;          // each episode plays the clip
};

constexpr qint64 kIndexedSeasons = 30000;
constexpr qint64 kIndexedSeasonCount = 385;
constexpr qint64 kIndexedFirstEpisode = 3000000;
constexpr qint64 kIndexedFirstAID = 60000000;
constexpr qint64 kIndexedFirstCID = 70000000;
constexpr qint64 kIndexedSlots = 100; // episode ids (and aids, cids) per season

SeasonShape mainSeason()
{
    return {F::kSeasonID, seasonTitle(), 12, F::kFirstEpisodeID, F::kPGCArchiveAID, F::kFirstEpisodeCID, true, false};
}

std::optional<SeasonShape> indexedSeason(qint64 seasonID)
{
    const qint64 key = seasonID - kIndexedSeasons;
    const qint64 type = key / 1000;
    const qint64 n = key % 1000;
    if (key < 1000 || type > 9 || n >= kIndexedSeasonCount)
        return std::nullopt;
    return SeasonShape{seasonID, CatalogueText::seasonTitle(type, seasonID), 12 + n % 13, kIndexedFirstEpisode + key * kIndexedSlots,
                       kIndexedFirstAID + key * kIndexedSlots, kIndexedFirstCID + key * kIndexedSlots, false, true};
}

// The season an episode id (or an episode's aid) belongs to, and the episode's index in it.
std::optional<std::pair<SeasonShape, qint64>> seasonOfEpisode(qint64 id, bool byAID, const Mode& mode)
{
    const SeasonShape main = mainSeason();
    const qint64 mainIndex = id - (byAID ? main.firstAID : main.firstEpisodeID);
    if (mainIndex >= 0 && mainIndex < main.episodes)
        return std::pair{main, mainIndex};
    const qint64 first = byAID ? kIndexedFirstAID : kIndexedFirstEpisode;
    if (!mode.demo || id < first)
        return std::nullopt;
    const std::optional<SeasonShape> indexed = indexedSeason(kIndexedSeasons + (id - first) / kIndexedSlots);
    const qint64 index = (id - first) % kIndexedSlots;
    if (!indexed || index >= indexed->episodes)
        return std::nullopt;
    return std::pair{*indexed, index};
}

FakeReply pgcIndex(const FakeRequest& request, const Mode& mode)
{
    const qint64 seasonType = pageOf(request, "season_type");
    const qint64 page = pageOf(request, "page");
    const qint64 size = sizeOf(request, "pagesize", 20);
    List list;
    for (qint64 i = 0; i < size; ++i) {
        const qint64 seasonID = kIndexedSeasons + seasonType * 1000 + (page - 1) * size + i;
        // The demo's seasons open, with as many episodes as the grid says.
        const std::optional<SeasonShape> shape = mode.demo ? indexedSeason(seasonID) : std::nullopt;
        Map item{{"badge", i % 3 == 0 ? S("会员专享") : QStringLiteral("")}, {"cover", imageURL("bangumi", seasonID)},
                 {"index_show", S("全%1话").arg(shape ? shape->episodes : 12 + i % 13)}, {"order", S("%1万次播放").arg(100 + i * 7)},
                 {"season_id", seasonID}, {"season_type", seasonType}, {"title", CatalogueText::seasonTitle(seasonType, seasonID)}};
        if (i % 4 == 1)
            item.insert("areas", List{Map{{"id", 2}, {"name", S("日本")}}});
        list.append(item);
    }
    return FakeReply::json(Map{{"code", 0}, {"message", "success"},
                               {"data", Map{{"has_next", 1}, {"list", list}, {"num", page}, {"size", size}, {"total", kIndexedSeasonCount}}}});
}

// ---- Search ----

// One hit of a keyword's 57: each has its own plays, danmaku count and date, so every order the
// search offers puts them differently.
Map searchHit(const QString& keyword, qint64 seed, qint64 n)
{
    const qint64 aid = 700000 + seed * 100 + n;
    const qint64 rid = regionOfAID(aid);
    const qint64 seconds = secondsIn(aid, rid);
    const qint64 scramble = (n * 37 + seed) % 57;
    return {{"type", "video"}, {"id", aid}, {"aid", aid}, {"bvid", F::bvidForAID(aid)},
            {"author", ownerName(ownerMIDFor(aid))}, {"mid", ownerMIDFor(aid)}, {"typename", CatalogueText::sectionName(rid)},
            {"title", CatalogueText::searchTitle(keyword, n)},
            {"pic", QStringLiteral("//i0.%1/bfs/archive/%2.jpg").arg(KRServiceHosts::imagePrimaryDomain()).arg(aid)},
            {"play", 5000 + scramble * 1733}, {"video_review", 40 + (n * 23 + seed) % 57 * 11}, {"review", 7 + n % 5},
            {"pubdate", 1690000000 + (n * 41 + seed) % 57 * 86400},
            {"duration", lengthText(seconds)}};
}

// The demo finds what a title holds: the parts video of its feed, then archives from 700000 on,
// whose title has the keyword (any case), at most 57, each with the title, length and counts it
// has everywhere. Its own
// order puts the titles that start nearer the keyword first, then mixes the archives by a
// relevance of the catalogue's own, so it is none of the service's three orders.
List demoSearchHits(const QString& keyword, const Mode& mode)
{
    List hits;
    if (keyword.isEmpty())
        return hits;
    const QString marked = QStringLiteral("<em class=\"keyword\">%1</em>");
    QList<std::pair<std::pair<qint64, qint64>, Map>> found;
    const auto consider = [&](qint64 aid) {
        QString title = titleOf(aid, mode);
        const qint64 at = title.indexOf(keyword, 0, Qt::CaseInsensitive);
        if (at < 0)
            return;
        title.replace(at, keyword.size(), marked.arg(title.mid(at, keyword.size())));
        const Map item = archiveOf(aid, mode);
        const Map stat = item.value("stat").toMap();
        found.append({{at, aid * 7919 % 1009}, Map{{"type", "video"}, {"id", aid}, {"aid", aid}, {"bvid", F::bvidForAID(aid)},
                        {"author", ownerName(ownerMIDFor(aid))}, {"mid", ownerMIDFor(aid)},
                        {"typename", item.value("tname")}, {"title", title},
                        {"pic", QStringLiteral("//i0.%1/bfs/archive/%2.jpg").arg(KRServiceHosts::imagePrimaryDomain()).arg(aid)},
                        {"play", stat.value("view")}, {"video_review", stat.value("danmaku")}, {"review", stat.value("reply")},
                        {"pubdate", item.value("pubdate")}, {"duration", lengthText(secondsOf(aid, mode), mode)}}});
    };
    consider(F::kDemoPartsAID);
    for (qint64 aid = 700000; aid < 700000 + 150000 && found.size() < 57; ++aid)
        consider(aid);
    std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& hit : found)
        hits.append(hit.second);
    return hits;
}

FakeReply searchReply(const FakeRequest& request, const Mode& mode)
{
    const QString keyword = request.queryValue(QStringLiteral("keyword")).trimmed();
    const QString order = request.queryValue(QStringLiteral("order"));
    const qint64 page = pageOf(request, "page");
    const qint64 size = sizeOf(request, "page_size", 20);
    qint64 seed = 0;
    for (const QChar c : keyword)
        seed = (seed * 31 + c.unicode()) % 1000;
    List hits = mode.demo ? demoSearchHits(keyword, mode) : List();
    for (qint64 n = 0; !mode.demo && !keyword.isEmpty() && n < 57; ++n)
        hits.append(searchHit(keyword, seed, n));
    const qint64 total = hits.size();
    // The comprehensive order is the catalogue's own; the others are the service's three.
    const char* key = order == QLatin1String("click") ? "play" : order == QLatin1String("pubdate") ? "pubdate"
                                                          : order == QLatin1String("dm")      ? "video_review"
                                                                                              : nullptr;
    if (key)
        std::stable_sort(hits.begin(), hits.end(), [key](const QVariant& a, const QVariant& b) {
            return a.toMap().value(key).toLongLong() > b.toMap().value(key).toLongLong();
        });
    const List result = hits.mid(std::min<qint64>((page - 1) * size, total), size);
    return ok(Map{{"page", page}, {"pagesize", size}, {"numResults", total}, {"numPages", (total + size - 1) / size}, {"result", result}});
}

// ---- Uploader ----

// An uploader's videos, newest (highest aid) first.
struct Shelf {
    int count = 0;
    qint64 firstAID = 0; // the oldest video's aid is firstAID + step
    qint64 step = 1;
    QString name;
    qint64 aid(int index) const { return firstAID + (count - index) * step; } // 0 = newest
};

// The owners the catalogue's lists name (ownerMIDFor) get shelves of their own only when every
// uploader is asked to have videos; their aids are theirs by ownerMIDFor as well.
constexpr qint64 kListOwnerFirstMID = 3000;
constexpr qint64 kListOwnerCount = 500;
constexpr qint64 kListOwnerFirstAID = 650000;

Shelf shelfFor(qint64 mid, bool everyUploader)
{
    if (mid == F::kUploaderMID)
        return {F::kUploaderVideoCount, F::kUploaderFirstAID, 1, F::uploaderName()};
    if (everyUploader && mid >= kListOwnerFirstMID && mid < kListOwnerFirstMID + kListOwnerCount)
        return {25 + int(mid % 30), kListOwnerFirstAID + (mid - kListOwnerFirstMID) - kListOwnerCount, kListOwnerCount,
                ownerName(mid)};
    return {};
}

FakeReply uploaderCursorPage(const FakeRequest& request, bool everyUploader, const Mode& mode)
{
    const qint64 mid = queryInteger(request, "vmid", 0);
    const qint64 size = sizeOf(request, "ps", 20);
    const qint64 cursor = queryInteger(request, "aid", 0);
    if (mid < 1)
        return badRequest();
    const Shelf shelf = shelfFor(mid, everyUploader);
    const int count = shelf.count;
    List items;
    bool hasNext = false;
    for (int index = 0; index < count && !hasNext; ++index) {
        const qint64 aid = shelf.aid(index);
        if (cursor > 0 && aid >= cursor)
            continue;
        if (items.size() == size) {
            hasNext = true;
            continue;
        }
        // The cursor route names the author but not the author's id.
        const Map stat = archiveOf(aid, mode).value("stat").toMap();
        items.append(Map{{"title", titleOf(aid, mode)}, {"cover", imageURL("archive", aid)}, {"param", QString::number(aid)},
                         {"goto", "av"}, {"duration", secondsOf(aid, mode)},
                         {"play", mode.demo ? stat.value("view") : QVariant(800 + aid % 997)},
                         {"danmaku", mode.demo ? stat.value("danmaku") : QVariant(aid % 41)},
                         {"ctime", 1700000000 - index * 86400}, {"author", shelf.name}, {"bvid", F::bvidForAID(aid)},
                         {"first_cid", firstCIDOf(aid, mode)}});
    }
    return ok(Map{{"count", count}, {"has_next", hasNext}, {"has_prev", cursor > 0}, {"item", items}});
}

FakeReply uploaderSearchPage(const FakeRequest& request, bool everyUploader, const Mode& mode)
{
    const qint64 mid = queryInteger(request, "mid", 0);
    const qint64 page = pageOf(request, "pn");
    const qint64 size = sizeOf(request, "ps", 30);
    if (mid < 1)
        return badRequest();
    const Shelf shelf = shelfFor(mid, everyUploader);
    const int count = shelf.count;
    List vlist;
    for (qint64 index = (page - 1) * size; index < std::min<qint64>(page * size, count); ++index) {
        const qint64 aid = shelf.aid(int(index));
        const Map stat = archiveOf(aid, mode).value("stat").toMap();
        vlist.append(Map{{"aid", aid}, {"bvid", F::bvidForAID(aid)}, {"title", titleOf(aid, mode)}, {"pic", imageURL("archive", aid)},
                         {"author", shelf.name}, {"mid", mid}, {"play", mode.demo ? stat.value("view") : QVariant(800 + aid % 997)},
                         {"comment", mode.demo ? stat.value("reply") : QVariant(3 + aid % 17)}, {"created", 1700000000 - index * 86400},
                         {"length", lengthText(secondsOf(aid, mode), mode)}});
    }
    return ok(Map{{"list", Map{{"vlist", vlist}}}, {"page", Map{{"pn", page}, {"ps", size}, {"count", count}}}});
}

void routeUploaderPages(FakeService& fake, bool everyUploader, const Mode& mode = {})
{
    fake.route(KRServiceHosts::appHost(), QStringLiteral("/x/v2/space/archive/cursor"),
               appSigned([everyUploader, mode](const FakeRequest& r) { return uploaderCursorPage(r, everyUploader, mode); }));
    fake.route(KRServiceHosts::apiHost(), QStringLiteral("/x/space/wbi/arc/search"),
               wbiSigned([everyUploader, mode](const FakeRequest& r) { return uploaderSearchPage(r, everyUploader, mode); }));
}

// ---- Detail ----

// The archive a view or page-list request names by "bvid" or "aid"; 0 when neither parses.
qint64 requestedAID(const FakeRequest& request)
{
    static const char kBase58[] = "FcwAPNKTMug3GV5Lj7EJnHpWsx4tb8haYeviqBz6rkCy12mUSDQX9RdoZf";
    const QString bvid = request.queryValue(QStringLiteral("bvid"));
    if (bvid.isNull())
        return queryInteger(request, "aid", 0);
    // The BV text back to its archive id: F::bvidForAID undone.
    if (bvid.size() != 12 || !bvid.startsWith(QLatin1String("BV1")))
        return 0;
    QByteArray text = bvid.toLatin1();
    std::swap(text[3], text[9]);
    std::swap(text[4], text[7]);
    quint64 t = 0;
    for (int position = 3; position <= 11; ++position) {
        const char* found = std::strchr(kBase58, text[position]);
        if (!found || !*found)
            return 0;
        t = t * 58 + quint64(found - kBase58);
    }
    return qint64(t ^ 2275242641476827ULL);
}

FakeReply view(const FakeRequest& request, const Mode& mode)
{
    const qint64 aid = requestedAID(request);
    if (aid < 1)
        return badRequest();
    if (aid == F::kHiddenAID)
        return F::serviceError(62002, S("稿件不可见"));
    if (aid == F::kReviewAID)
        return F::serviceError(62004, S("稿件审核中"));
    if (aid == F::kDeletedAID)
        return nothingHere();
    Map data = archiveOf(aid, mode);
    const List pages = pagesForAID(aid, mode);
    data.insert("videos", pages.size());
    data.insert("pages", pages);
    data.insert("cid", pages.first().toMap().value("cid"));
    data.insert("copyright", F::copyrightOf(aid));
    if (const auto episode = seasonOfEpisode(aid, true, mode)) {
        const auto& [season, index] = *episode;
        data.insert("title", S("%1：第%2话").arg(season.title).arg(index + 1));
        data.insert("redirect_url", QStringLiteral("https://%1/bangumi/play/ep%2").arg(KRServiceHosts::webHost()).arg(season.firstEpisodeID + index));
        data.insert("tname", S("番剧"));
    }
    return ok(data);
}

// The old API answers without an envelope, counts as text and parts keyed by index.
FakeReply oldView(const FakeRequest& request, const Mode& mode)
{
    const qint64 aid = queryInteger(request, "aid", 0);
    if (aid < 1 || aid == F::kDeletedAID)
        return FakeReply::json(Map{{"code", -404}, {"error", "no such video"}});
    Map list;
    for (const QVariant& page : pagesForAID(aid, mode)) {
        const Map object = page.toMap();
        list.insert(QString::number(list.size()), Map{{"page", object.value("page")}, {"cid", object.value("cid")}, {"part", object.value("part")}});
    }
    return FakeReply::json(Map{{"tid", regionOfAID(aid)}, {"typename", CatalogueText::sectionName(regionOfAID(aid))}, {"play", QString::number(playsFor(aid))},
                               {"review", QString::number(commentTotalOf(aid, mode))}, {"video_review", QString::number(danmakuCountOf(aid, mode))},
                               {"title", titleOf(aid, mode)}, {"description", S("旧接口的简介")}, {"pic", imageURL("archive", aid)},
                               {"author", ownerName(ownerMIDFor(aid))}, {"mid", QString::number(ownerMIDFor(aid))},
                               {"pages", list.size()}, {"created", 1700000000 - aid % 100000},
                               {"cid", list.value("0").toMap().value("cid")}, {"list", list}});
}

FakeReply pageList(const FakeRequest& request, const Mode& mode)
{
    const qint64 aid = requestedAID(request);
    if (aid < 1)
        return badRequest();
    return aid == F::kDeletedAID ? nothingHere() : ok(pagesForAID(aid, mode));
}

// ---- Season routes ----

// The season a request names by "season_id" or "ep_id"; a trailer names the main season.
std::optional<SeasonShape> seasonAsked(const FakeRequest& request, const Mode& mode)
{
    const qint64 episode = queryInteger(request, "ep_id", 0);
    if (episode > 0) {
        if (episode == kTrailerEpisodeID || episode == kTrailerEpisodeID + 1)
            return mainSeason();
        const auto found = seasonOfEpisode(episode, false, mode);
        return found ? std::optional(found->first) : std::nullopt;
    }
    const qint64 seasonID = queryInteger(request, "season_id", 0);
    if (seasonID == F::kSeasonID)
        return mainSeason();
    return mode.demo ? indexedSeason(seasonID) : std::nullopt;
}

Map episodeObject(const SeasonShape& season, int index)
{
    static const QStringList titles{S("出发"), S("沉默的灯塔"), S("第一颗星"), S("失重"), S("旧港"), S("归航信号")};
    const qint64 id = season.firstEpisodeID + index;
    const qint64 aid = season.firstAID + index;
    const QString title = titles.at(index % titles.size());
    // The demo's episodes play the clip, so they last as long as it.
    const qint64 millis = season.demo ? F::kDemoClipSeconds * 1000 : 1420000 + index * 1000;
    return {{"aid", aid}, {"badge", index >= 10 ? S("会员") : QStringLiteral("")}, {"bvid", F::bvidForAID(aid)},
            {"cid", season.firstCID + index}, {"cover", imageURL("archive", aid)},
            {"dimension", Map{{"height", 1080}, {"rotate", 0}, {"width", 1920}}}, {"duration", millis},
            {"ep_id", id}, {"id", id}, {"long_title", title}, {"pub_time", 1696000000 + index * 604800},
            {"share_copy", S("《%1》第%2话 %3").arg(season.title).arg(index + 1).arg(title)},
            {"show_title", S("第%1话 %2").arg(index + 1).arg(title)}, {"title", QString::number(index + 1)}};
}

List trailers(const SeasonShape& season)
{
    List list;
    for (int index = 0; season.trailers && index < 2; ++index) {
        const qint64 aid = F::kPGCArchiveAID + 1000 + index;
        list.append(Map{{"aid", aid}, {"bvid", F::bvidForAID(aid)}, {"cid", F::kFirstEpisodeCID + 100000 + index},
                        {"duration", 95000}, {"ep_id", kTrailerEpisodeID + index}, {"id", kTrailerEpisodeID + index},
                        {"long_title", ""}, {"show_title", S("PV%1").arg(index + 1)}, {"title", S("PV%1").arg(index + 1)}});
    }
    return list;
}

// What both season routes share; `episodeStats` gives the app route's per-episode counts.
Map seasonRoot(const SeasonShape& season, bool episodeStats)
{
    List episodes;
    for (int i = 0; i < season.episodes; ++i) {
        Map episode = episodeObject(season, i);
        // The demo's episodes count the danmaku and comments they serve.
        const qint64 aid = season.firstAID + i;
        if (episodeStats)
            episode.insert("stat", Map{{"views", 900000 - i * 20000},
                                       {"danmakus", season.demo ? PlaybackFixtures::demoDanmakuLines(season.firstCID + i) : 6000 - i * 100},
                                       {"reply", season.demo ? generatedCommentTotal(aid) : 800 - i * 10}});
        episodes.append(episode);
    }
    return {{"season_id", season.seasonID}, {"title", season.title}, {"cover", imageURL("bangumi", season.seasonID)},
            {"evaluate", S("一艘旧货船在星海中寻找失落的航线。")}, {"type", 1},
            {"subtitle", S("已完结, 全%1话").arg(season.episodes)},
            {"up_info", Map{{"mid", 928123}, {"uname", S("岚帆番剧出差")}, {"avatar", imageURL("face", 928123)}}},
            {"stat", Map{{"coins", 18230}, {"danmakus", 88120}, {"reply", 9120}, {"views", 12500000}}},
            {"episodes", episodes}};
}

// The app route answers under "data" with its episodes in modules.
FakeReply appSeason(const FakeRequest& request, const Mode& mode)
{
    const std::optional<SeasonShape> season = seasonAsked(request, mode);
    if (!season)
        return nothingHere();
    Map root = seasonRoot(*season, true);
    List modules{Map{{"style", "positive"}, {"title", S("正片")}, {"data", Map{{"episodes", root.take("episodes")}}}}};
    if (season->trailers)
        modules.append(Map{{"style", "section"}, {"title", S("PV&其他")}, {"data", Map{{"episodes", trailers(*season)}}}});
    root.insert("modules", modules);
    return FakeReply::json(Map{{"code", 0}, {"message", "success"}, {"data", root}});
}

// The web route answers under "result" with a side section.
FakeReply webSeason(const FakeRequest& request, const Mode& mode)
{
    const std::optional<SeasonShape> season = seasonAsked(request, mode);
    if (!season)
        return nothingHere();
    Map root = seasonRoot(*season, false);
    root.insert("season_title", season->title);
    if (season->trailers)
        root.insert("section", List{Map{{"title", S("PV&其他")}, {"episodes", trailers(*season)}}});
    return FakeReply::json(Map{{"code", 0}, {"message", "success"}, {"result", root}});
}

// ---- Tags and related ----

FakeReply tags(const FakeRequest& request)
{
    if (requestedAID(request) < 1)
        return badRequest();
    List list;
    for (const QString& name : {S("手工"), S("木工"), S("猫"), S("DIY")})
        list.append(Map{{"tag_id", 1000 + list.size()}, {"tag_name", name}});
    return ok(list);
}

FakeReply related(const FakeRequest& request, const Mode& mode)
{
    const qint64 aid = requestedAID(request);
    return aid < 1 ? badRequest() : ok(archives(800000 + aid % 1000 * 10, 10, mode));
}

// ---- Comments ----

// Top-level comments of an object, and replies of its index-th one: the tests' catalogue has them
// under kDetailAID alone, the demo's under every object (demoTopLevelCount).
qint64 topLevelCountOf(qint64 oid, const Mode& mode)
{
    return mode.demo ? demoTopLevelCount(oid) : oid == F::kDetailAID ? F::kCommentCount : 0;
}
qint64 replyCountOf(qint64 oid, qint64 index, const Mode& mode)
{
    return mode.demo ? demoReplyCount(oid, index) : F::kRepliesPerComment;
}
// The area a comment request names; the tests' comments answer as area 1 whatever was asked.
qint32 commentTypeOf(const FakeRequest& request, const Mode& mode)
{
    return mode.demo ? qint32(std::max<qint64>(1, queryInteger(request, "type", 1))) : 1;
}
QList<QVariantMap> postedOn(const Mode& mode, qint32 type, qint64 oid, qint64 root)
{
    return mode.posted ? mode.posted->on(type, oid, root) : QList<QVariantMap>();
}

bool isTopLevelComment(qint64 rpid, qint64 oid, const Mode& mode)
{
    return rpid >= F::kFirstCommentRPID && rpid < F::kFirstCommentRPID + topLevelCountOf(oid, mode);
}

// One comment object; `root` 0 for a top-level comment, which ships its first three replies
// (and counts the replies posted to it).
Map commentObject(qint64 rpid, qint64 oid, qint64 root, const Mode& mode, qint32 type = 1)
{
    const qint64 index = root == 0 ? rpid - F::kFirstCommentRPID : rpid % 100 - 1;
    const qint64 replies = root == 0 ? replyCountOf(oid, index, mode) + postedOn(mode, type, oid, rpid).size() : 0;
    List preview;
    for (int j = 0; root == 0 && j < std::min<qint64>(3, replyCountOf(oid, index, mode)); ++j)
        preview.append(commentObject(rpid * 100 + j + 1, oid, rpid, mode, type));
    return {{"rpid", rpid}, {"rpid_str", QString::number(rpid)}, {"oid", oid}, {"type", type}, {"root", root}, {"parent", root},
            {"count", replies}, {"rcount", replies}, {"ctime", 1700000000 - index * 60}, {"like", 1000 - index},
            {"member", Map{{"mid", QString::number(100 + index)}, {"uname", S("观众%1").arg(100 + index)}, {"avatar", imageURL("face", 100 + index)}}},
            {"content", Map{{"message", root == 0 ? S("第%1条评论：做得真好").arg(index + 1) : S("回复 %1").arg(index + 1)}}},
            {"replies", root == 0 ? QVariant(preview) : null()}};
}

// Top-level comments from..to of an object: the ones posted first (newest first), then the
// generated ones.
List topLevelComments(qint64 oid, qint32 type, qint64 from, qint64 to, const Mode& mode)
{
    List list;
    const QList<QVariantMap> posted = postedOn(mode, type, oid, 0);
    for (qint64 i = from; i < std::min<qint64>(to, posted.size()); ++i) {
        Map comment = posted.at(i);
        const qint64 replies = postedOn(mode, type, oid, comment.value("rpid").toLongLong()).size();
        comment.insert("count", replies);
        comment.insert("rcount", replies);
        list.append(comment);
    }
    const qint64 generated = topLevelCountOf(oid, mode);
    for (qint64 i = std::max<qint64>(from - posted.size(), 0); i < std::min<qint64>(to - posted.size(), generated); ++i)
        list.append(commentObject(F::kFirstCommentRPID + i, oid, 0, mode, type));
    return list;
}

// Top-level comments of an object, in the cursor form ("next" counts pages from 1) or numbered;
// page 1 of kDetailAID carries the pinned comment (also the first regular one).
FakeReply topLevelPage(const FakeRequest& request, bool cursorForm, const Mode& mode)
{
    const qint64 oid = queryInteger(request, "oid", 0);
    const qint32 type = commentTypeOf(request, mode);
    const qint64 page = cursorForm ? std::max<qint64>(1, queryInteger(request, "next", 0)) : pageOf(request, "pn");
    const qint64 size = std::clamp<qint64>(queryInteger(request, "ps", 20), 1, cursorForm ? 30 : 50);
    if (oid < 1)
        return badRequest();
    const qint64 topLevel = topLevelCountOf(oid, mode) + postedOn(mode, type, oid, 0).size();
    const bool pinned = oid == F::kDetailAID;
    Map data{{"replies", topLevelComments(oid, type, (page - 1) * size, page * size, mode)},
             {"top_replies", page == 1 && pinned ? QVariant(List{commentObject(F::kFirstCommentRPID, oid, 0, mode)}) : null()}};
    if (cursorForm)
        data.insert("cursor", Map{{"is_begin", page == 1}, {"prev", page}, {"next", page + 1}, {"is_end", page * size >= topLevel},
                                  {"all_count", mode.demo ? commentTotalOf(oid, mode, type) : topLevel * (1 + F::kRepliesPerComment)},
                                  {"mode", 3}});
    else
        data.insert("page", Map{{"num", page}, {"size", size}, {"count", topLevel}});
    return ok(data);
}

// A top-level comment with a page of its replies (those posted to it after the generated ones),
// or (detail) alone.
FakeReply commentThread(const FakeRequest& request, bool detail, const Mode& mode)
{
    const qint64 oid = queryInteger(request, "oid", 0);
    const qint64 root = queryInteger(request, "root", 0);
    const qint32 type = commentTypeOf(request, mode);
    Map rootObject;
    qint64 generated = 0;
    if (isTopLevelComment(root, oid, mode)) {
        rootObject = commentObject(root, oid, 0, mode, type);
        generated = replyCountOf(oid, root - F::kFirstCommentRPID, mode);
    } else if (mode.posted) {
        rootObject = mode.posted->find(type, oid, root);
    }
    if (rootObject.isEmpty())
        return commentGone();
    if (detail)
        return ok(Map{{"root", rootObject}});
    QList<QVariantMap> posted = postedOn(mode, type, oid, root);
    std::reverse(posted.begin(), posted.end());
    const qint64 count = generated + posted.size();
    const qint64 page = pageOf(request, "pn");
    const qint64 size = sizeOf(request, "ps", 20);
    List replies;
    for (qint64 j = (page - 1) * size; j < std::min<qint64>(page * size, count); ++j)
        replies.append(j < generated ? commentObject(root * 100 + j + 1, oid, root, mode, type) : QVariant(posted.at(j - generated)));
    return ok(Map{{"page", Map{{"count", count}, {"num", page}, {"size", size}}}, {"replies", replies}, {"root", rootObject}});
}

void installRoutes(FakeService& fake, const Mode& mode)
{
    const QString api = KRServiceHosts::apiHost();
    const auto with = [mode](FakeReply (*handler)(const FakeRequest&, const Mode&)) {
        return [mode, handler](const FakeRequest& r) { return handler(r, mode); };
    };
    routeNavigationFixture(fake);
    fake.route(api, QStringLiteral("/x/web-interface/popular"), with(popular));
    fake.route(api, QStringLiteral("/x/web-interface/wbi/index/top/feed/rcmd"), wbiSigned(with(recommendation)));
    fake.route(api, QStringLiteral("/x/web-interface/ranking/v2"), with(ranking));
    fake.route(api, QStringLiteral("/x/web-interface/newlist"), with(newList));
    fake.route(api, QStringLiteral("/pgc/season/index/result"), with(pgcIndex));
    fake.route(api, QStringLiteral("/x/web-interface/search/type"), with(searchReply));
    fake.route(api, QStringLiteral("/x/web-interface/wbi/search/type"), wbiSigned(with(searchReply)));
    routeUploaderPages(fake, false, mode);
    fake.route(api, QStringLiteral("/x/web-interface/view"), with(view));
    fake.route(KRServiceHosts::oldAPIHost(), QStringLiteral("/view"), with(oldView));
    fake.route(api, QStringLiteral("/x/player/pagelist"), with(pageList));
    fake.route(api, QStringLiteral("/pgc/view/v2/app/season"), appSigned(with(appSeason)));
    fake.route(api, QStringLiteral("/pgc/view/web/season"), with(webSeason));
    fake.route(api, QStringLiteral("/x/tag/archive/tags"), tags);
    fake.route(api, QStringLiteral("/x/web-interface/archive/related"), with(related));
    fake.route(api, QStringLiteral("/x/v2/reply/wbi/main"), wbiSigned([mode](const FakeRequest& r) { return topLevelPage(r, true, mode); }));
    fake.route(api, QStringLiteral("/x/v2/reply"), [mode](const FakeRequest& r) { return topLevelPage(r, false, mode); });
    fake.route(api, QStringLiteral("/x/v2/reply/reply"), [mode](const FakeRequest& r) { return commentThread(r, false, mode); });
    fake.route(api, QStringLiteral("/x/v2/reply/detail"), [mode](const FakeRequest& r) { return commentThread(r, true, mode); });
}

} // namespace

// ---- Catalogue ----

QString ServiceFixtures::detailBVID() { return bvidForAID(kDetailAID); }
qint64 ServiceFixtures::copyrightOf(qint64 aid) { return aid == kDetailAID || aid % 3 != 0 ? 1 : 2; }
qint64 ServiceFixtures::unavailableCID(qint64 aid) { return 20000000 + aid; }
QString ServiceFixtures::uploaderName() { return S("木工小林"); }

qint64 ServiceFixtures::firstCIDForAID(qint64 aid) { return cidForAID(aid); }

QString ServiceFixtures::bvidForAID(qint64 aid)
{
    static const char kBase58[] = "FcwAPNKTMug3GV5Lj7EJnHpWsx4tb8haYeviqBz6rkCy12mUSDQX9RdoZf";
    QByteArray text("BV1000000000");
    quint64 t = quint64(aid) ^ 2275242641476827ULL;
    for (int position = 11; position >= 3; --position) {
        text[position] = kBase58[t % 58];
        t /= 58;
    }
    std::swap(text[3], text[9]);
    std::swap(text[4], text[7]);
    return QString::fromLatin1(text);
}

QVariantMap ServiceFixtures::envelope(const QVariant& data) { return {{"code", 0}, {"message", "0"}, {"ttl", 1}, {"data", data}}; }

qint64 ServiceFixtures::demoCommentTotal(qint64 oid) { return generatedCommentTotal(oid); }

qint64 ServiceFixtures::demoCommentWithReplies(qint64 oid)
{
    for (qint64 index = 0; index < demoTopLevelCount(oid); ++index)
        if (demoReplyCount(oid, index) > 0)
            return kFirstCommentRPID + index;
    return 0;
}

ServiceFixtures::DemoRecord ServiceFixtures::demoRecord(qint64 aid)
{
    const Mode demo{true, nullptr};
    const Map item = archiveOf(aid, demo);
    const Map owner = item.value("owner").toMap();
    const qint64 seconds = item.value("duration").toLongLong();
    return {aid, bvidForAID(aid), item.value("title").toString(), seconds, lengthText(seconds, demo),
            item.value("stat").toMap().value("reply").toLongLong(), owner.value("mid").toLongLong(),
            owner.value("name").toString(), item.value("tname").toString()};
}

QVariantMap ServiceFixtures::archiveItem(qint64 aid)
{
    const qint64 mid = ownerMIDFor(aid);
    const qint64 rid = regionOfAID(aid);
    return {{"aid", aid}, {"videos", 1}, {"tid", rid}, {"tname", CatalogueText::sectionName(rid)}, {"copyright", 1},
            {"pic", QStringLiteral("http://i0.%1/bfs/archive/%2.jpg").arg(KRServiceHosts::imagePrimaryDomain()).arg(aid)},
            {"title", titleForAID(aid)}, {"pubdate", 1700000000 - aid % 100000}, {"desc", S("简介 %1").arg(aid)},
            {"duration", secondsForAID(aid)},
            {"owner", Map{{"mid", mid}, {"name", ownerName(mid)}, {"face", imageURL("face", mid)}}},
            {"stat", Map{{"aid", aid}, {"view", playsFor(aid)}, {"danmaku", danmakuCountOf(aid, {})}, {"reply", commentTotalOf(aid, {})}, {"like", 20 + aid % 173}}},
            {"cid", cidForAID(aid)}, {"dimension", Map{{"width", 1920}, {"height", 1080}, {"rotate", 0}}}, {"bvid", bvidForAID(aid)}};
}

// ---- Faults ----

FakeReply ServiceFixtures::serviceError(qint64 code, const QString& message)
{
    return FakeReply::json(Map{{"code", code}, {"message", message}, {"ttl", 1}});
}

FakeReply ServiceFixtures::riskControlRefusal()
{
    return FakeReply::html(S("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>出错啦!</title></head>"
                             "<body><p>由于触发风控策略，本次请求被拦截。</p><p>错误码：412</p></body></html>").toUtf8(),
                           412);
}

FakeReply ServiceFixtures::serverFailure(int status)
{
    return FakeReply::html(QStringLiteral("<html><head><title>%1 Internal Server Error</title></head><body>"
                                          "<center><h1>%1 Internal Server Error</h1></center></body></html>")
                               .arg(status)
                               .toUtf8(),
                           status);
}

FakeReply ServiceFixtures::emptyBody() { return FakeReply::withStatus(200); }

FakeReply ServiceFixtures::htmlBody()
{
    return FakeReply::html(S("<!DOCTYPE html><html><head><title>登录</title></head><body><form action=\"/login\">"
                             "<input name=\"user\"><input type=\"password\" name=\"pass\"></form></body></html>")
                               .toUtf8());
}

FakeReply ServiceFixtures::stalled() { return FakeReply{.stall = true}; }

FakeReply ServiceFixtures::nonVideoFeed() { return ok(Map{{"item", nonVideoFeedItems()}, {"business_card", null()}, {"mid", 0}}); }

// ---- Routes ----

void ServiceFixtures::installEveryUploaderPages(FakeService& fake) { routeUploaderPages(fake, true); }

void ServiceFixtures::installReadRoutes(FakeService& fake) { installRoutes(fake, Mode{}); }

FakeReply ServiceFixtures::detailReply(const FakeRequest& request) { return view(request, Mode{}); }

void ServiceFixtures::installDemoCatalogue(FakeService& fake, const std::shared_ptr<CommentFixtures::PostedComments>& posted)
{
    const Mode mode{true, posted};
    installRoutes(fake, mode);
    routeUploaderPages(fake, true, mode);
}

} // namespace testsupport
