#include "support/ServiceFixtures.h"

#include "service/KRServiceHosts.h"
#include "support/ServiceSignatures.h"

#include <QStringList>

#include <algorithm>
#include <cstring>

namespace testsupport {
namespace {

using Map = QVariantMap;
using List = QVariantList;

QString S(const char* text) { return QString::fromUtf8(text); }

QVariant null() { return QVariant::fromValue(nullptr); }

qint64 queryInteger(const FakeRequest& request, const char* name, qint64 fallback)
{
    const QString value = request.queryValue(QString::fromLatin1(name));
    bool ok = false;
    const qint64 number = value.toLongLong(&ok);
    return ok ? number : fallback;
}

QString imageURL(const QString& folder, qint64 seed, const char* extension = ".jpg")
{
    return QStringLiteral("https://i0.%1/bfs/%2/%3%4")
        .arg(KRServiceHosts::imagePrimaryDomain(), folder)
        .arg(QString::number(quint64(seed) * 2654435761ULL % 0xFFFFFFFFULL, 16).rightJustified(8, QLatin1Char('0')))
        .arg(QString::fromLatin1(extension));
}

const QStringList& videoTitles()
{
    static const QStringList titles{S("在家做的猫爬架"), S("十分钟学会手冲咖啡"), S("城市夜骑 Vlog"),
                                    S("老式收音机修复全过程"), S("一个人的川西自驾"), S("用旧木板做一张书桌"),
                                    S("钢琴即兴：雨夜"), S("周末露营装备清单"), S("三分钟看懂复利"),
                                    S("外婆的红烧肉")};
    return titles;
}

const QStringList& episodeTitles()
{
    static const QStringList titles{S("出发"), S("沉默的灯塔"), S("第一颗星"), S("失重"), S("旧港"), S("归航信号"),
                                    S("风暴之眼"), S("雾中来信"), S("双星"), S("断桥"), S("长夜"), S("回声")};
    return titles;
}

QString uploaderNameFor(qint64 mid)
{
    return mid == ServiceFixtures::kUploaderMID ? ServiceFixtures::uploaderName() : S("UP主%1").arg(mid);
}

qint64 ownerMIDFor(qint64 aid)
{
    if (aid == ServiceFixtures::kDetailAID
        || (aid > ServiceFixtures::kUploaderFirstAID
            && aid <= ServiceFixtures::kUploaderFirstAID + ServiceFixtures::kUploaderVideoCount))
        return ServiceFixtures::kUploaderMID;
    return 3000 + aid % 500;
}

qint64 cidForAID(qint64 aid)
{
    return aid == ServiceFixtures::kDetailAID ? ServiceFixtures::kDetailCID : 10000000 + aid;
}

QString titleForAID(qint64 aid)
{
    if (aid == ServiceFixtures::kDetailAID)
        return videoTitles().first();
    return S("%1 #%2").arg(videoTitles().at(int(aid % videoTitles().size()))).arg(aid);
}

Map statObject(qint64 aid)
{
    return {{"aid", aid},
            {"view", 1000 + aid % 97 * 1237},
            {"danmaku", 10 + aid % 53},
            {"reply", 5 + aid % 31},
            {"favorite", aid % 211},
            {"coin", aid % 71},
            {"share", aid % 13},
            {"now_rank", 0},
            {"his_rank", 0},
            {"like", 20 + aid % 173},
            {"dislike", 0}};
}

Map pageObject(qint64 cid, int page, const QString& part, qint64 seconds)
{
    return {{"cid", cid},
            {"page", page},
            {"from", "vupload"},
            {"part", part},
            {"duration", seconds},
            {"vid", ""},
            {"weblink", ""},
            {"dimension", Map{{"width", 1920}, {"height", 1080}, {"rotate", 0}}}};
}

List pagesForAID(qint64 aid)
{
    if (aid == ServiceFixtures::kDetailAID)
        return {pageObject(ServiceFixtures::kDetailCID, 1, S("准备材料"), 312),
                pageObject(ServiceFixtures::kDetailCID + 1, 2, S("切割与打磨"), 845),
                pageObject(ServiceFixtures::kDetailCID + 2, 3, S("组装"), 1290)};
    if (aid == ServiceFixtures::kHiddenAID || aid == ServiceFixtures::kReviewAID)
        return {pageObject(ServiceFixtures::unavailableCID(aid), 1, S("上"), 600),
                pageObject(ServiceFixtures::unavailableCID(aid) + 1, 2, S("下"), 660)};
    return {pageObject(cidForAID(aid), 1, titleForAID(aid), 60 + aid % 3000)};
}

// ---- Signed routes ----

FakeReply refusedSignature(const QString& why)
{
    FakeReply reply = FakeReply::json(Map{{"code", -403}, {"message", S("访问权限不足 ") + why}});
    reply.status = 403;
    return reply;
}

FakeService::Handler wbiSigned(FakeService::Handler handler)
{
    return [handler](const FakeRequest& request) {
        QString why;
        if (!verifyWBISignature(request, fixtureWBIMixinKey(), &why))
            return refusedSignature(why);
        return handler(request);
    };
}

FakeService::Handler appSigned(FakeService::Handler handler)
{
    return [handler](const FakeRequest& request) {
        QString why;
        if (!verifyAppSignature(request, KRServiceHosts::appSecret(), &why))
            return refusedSignature(why);
        return handler(request);
    };
}

FakeReply ok(const QVariant& data) { return FakeReply::json(ServiceFixtures::envelope(data)); }

FakeReply badRequest() { return ServiceFixtures::serviceError(-400, S("请求错误")); }

FakeReply nothingHere() { return ServiceFixtures::serviceError(-404, S("啥都木有")); }

// The archive a view or page-list request names by "bvid" or "aid"; 0 when neither parses.
qint64 requestedAID(const FakeRequest& request)
{
    const QString bvid = request.queryValue(QStringLiteral("bvid"));
    if (!bvid.isNull())
        return ServiceFixtures::aidForBVID(bvid);
    return queryInteger(request, "aid", 0);
}

bool loggedIn(const FakeRequest& request)
{
    return request.header(QStringLiteral("Cookie")).contains(QLatin1String("SESSDATA="));
}

// ---- Feeds and sections ----

FakeReply popular(const FakeRequest& request)
{
    const qint64 page = std::max<qint64>(1, queryInteger(request, "pn", 1));
    const qint64 size = std::clamp<qint64>(queryInteger(request, "ps", 20), 1, 50);
    List list;
    for (qint64 i = 0; i < size; ++i)
        list.append(ServiceFixtures::archiveItem(200000 + (page - 1) * size + i));
    return ok(Map{{"list", list}, {"no_more", page >= 10}});
}

FakeReply recommendation(const FakeRequest& request)
{
    const qint64 fresh = std::max<qint64>(1, queryInteger(request, "fresh_idx", 1));
    return ok(Map{{"item", ServiceFixtures::recommendationItems(fresh)},
                  {"business_card", null()},
                  {"floor_info", null()},
                  {"user_feature", null()},
                  {"preload_expose_pct", 0.5},
                  {"preload_floor_expose_pct", 0.5},
                  {"mid", loggedIn(request) ? 12345 : 0}});
}

FakeReply ranking(const FakeRequest& request)
{
    const qint64 rid = std::max<qint64>(0, queryInteger(request, "rid", 0));
    List list;
    for (int i = 0; i < ServiceFixtures::kRankingSize; ++i) {
        Map item = ServiceFixtures::archiveItem(400000 + rid * 1000 + i);
        item.insert("score", 0);
        item.insert("others", List{});
        list.append(item);
    }
    return ok(Map{{"note", S("根据稿件内容质量、近期的数据综合展示，动态更新")}, {"list", list}});
}

FakeReply newList(const FakeRequest& request)
{
    const qint64 rid = std::max<qint64>(0, queryInteger(request, "rid", 0));
    const qint64 page = std::max<qint64>(1, queryInteger(request, "pn", 1));
    const qint64 size = std::clamp<qint64>(queryInteger(request, "ps", 20), 1, 50);
    List archives;
    for (qint64 i = 0; i < size; ++i)
        archives.append(ServiceFixtures::archiveItem(500000 + rid * 1000 + (page - 1) * size + i));
    return ok(Map{{"archives", archives}, {"page", Map{{"count", 1000}, {"num", page}, {"size", size}}}});
}

FakeReply pgcIndex(const FakeRequest& request)
{
    const qint64 seasonType = std::max<qint64>(1, queryInteger(request, "season_type", 1));
    const qint64 page = std::max<qint64>(1, queryInteger(request, "page", 1));
    const qint64 size = std::clamp<qint64>(queryInteger(request, "pagesize", 20), 1, 50);
    List list;
    for (qint64 i = 0; i < size; ++i) {
        const qint64 seasonID = 30000 + seasonType * 1000 + (page - 1) * size + i;
        Map item{{"badge", i % 3 == 0 ? S("会员专享") : QStringLiteral("")},
                 {"badge_type", i % 3 == 0 ? 0 : 1},
                 {"cover", imageURL(QStringLiteral("bangumi/image"), seasonID, ".png")},
                 {"first_ep", Map{{"cover", imageURL(QStringLiteral("archive"), seasonID)}, {"title", "1"}}},
                 {"index_show", S("全%1话").arg(12 + i % 13)},
                 {"is_finish", 1},
                 {"link", QStringLiteral("https://%1/bangumi/play/ss%2").arg(KRServiceHosts::webHost()).arg(seasonID)},
                 {"media_id", 28220000 + seasonID},
                 {"order", S("%1万次播放").arg(100 + i * 7)},
                 {"order_type", "view"},
                 {"score", "9.6"},
                 {"season_id", seasonID},
                 {"season_status", 13},
                 {"season_type", seasonType},
                 {"subTitle", ""},
                 {"title", S("番剧 %1").arg(seasonID)},
                 {"title_icon", ""}};
        if (i % 4 == 1)
            item.insert("areas", List{Map{{"id", 2}, {"name", S("日本")}}});
        list.append(item);
    }
    return FakeReply::json(Map{{"code", 0},
                               {"message", "success"},
                               {"data", Map{{"has_next", page < 20 ? 1 : 0},
                                            {"list", list},
                                            {"num", page},
                                            {"size", size},
                                            {"total", 385}}}});
}

// ---- Search ----

FakeReply searchReply(const FakeRequest& request)
{
    const QString keyword = request.queryValue(QStringLiteral("keyword")).trimmed();
    const qint64 page = std::max<qint64>(1, queryInteger(request, "page", 1));
    const qint64 size = std::clamp<qint64>(queryInteger(request, "page_size", 20), 1, 50);
    const int total = keyword.isEmpty() ? 0 : ServiceFixtures::kSearchResultCount;
    qint64 seed = 0;
    for (const QChar c : keyword)
        seed = (seed * 31 + c.unicode()) % 1000;
    List result;
    for (qint64 n = (page - 1) * size; n < std::min<qint64>(page * size, total); ++n) {
        const qint64 aid = 700000 + seed * 100 + n;
        const qint64 mid = ownerMIDFor(aid);
        result.append(Map{{"type", "video"},
                          {"id", aid},
                          {"aid", aid},
                          {"bvid", ServiceFixtures::bvidForAID(aid)},
                          {"author", uploaderNameFor(mid)},
                          {"mid", mid},
                          {"typeid", "17"},
                          {"typename", S("单机游戏")},
                          {"arcurl", QStringLiteral("http://%1/video/av%2").arg(KRServiceHosts::webHost()).arg(aid)},
                          {"title", S("<em class=\"keyword\">%1</em>的视频 %2").arg(keyword).arg(n + 1)},
                          {"description", S("关于%1的一切").arg(keyword)},
                          {"pic", QStringLiteral("//i0.%1/bfs/archive/%2.jpg").arg(KRServiceHosts::imagePrimaryDomain()).arg(aid)},
                          {"play", 5000 + n * 37},
                          {"video_review", 40 + n},
                          {"favorites", 12},
                          {"tag", S("%1,日常").arg(keyword)},
                          {"review", 7 + n % 5},
                          {"pubdate", 1690000000 + n * 3600},
                          {"senddate", 1690000000 + n * 3600},
                          {"duration", QStringLiteral("%1:%2").arg(3 + n % 20).arg(n % 60, 2, 10, QLatin1Char('0'))},
                          {"is_pay", 0},
                          {"rank_score", 1000 - n}});
    }
    return ok(Map{{"seid", "8512735216450337551"},
                  {"page", page},
                  {"pagesize", size},
                  {"numResults", total},
                  {"numPages", (total + size - 1) / size},
                  {"suggest_keyword", ""},
                  {"rqt_type", "search"},
                  {"result", result}});
}

// ---- Uploader ----

qint64 uploaderAID(int index) // 0 = newest
{
    return ServiceFixtures::kUploaderFirstAID + ServiceFixtures::kUploaderVideoCount - index;
}

FakeReply uploaderCursorPage(const FakeRequest& request)
{
    const qint64 mid = queryInteger(request, "vmid", 0);
    const qint64 size = std::clamp<qint64>(queryInteger(request, "ps", 20), 1, 50);
    const qint64 cursor = queryInteger(request, "aid", 0);
    if (mid < 1)
        return badRequest();
    List items;
    bool hasNext = false;
    if (mid == ServiceFixtures::kUploaderMID) {
        for (int index = 0; index < ServiceFixtures::kUploaderVideoCount; ++index) {
            const qint64 aid = uploaderAID(index);
            if (cursor > 0 && aid >= cursor)
                continue;
            if (items.size() == size) {
                hasNext = true;
                break;
            }
            items.append(Map{{"title", titleForAID(aid)},
                             {"subtitle", ""},
                             {"tname", S("手工")},
                             {"cover", imageURL(QStringLiteral("archive"), aid)},
                             {"uri", QStringLiteral("zantorel://video/%1").arg(aid)},
                             {"param", QString::number(aid)},
                             {"goto", "av"},
                             {"length", ""},
                             {"duration", 60 + aid % 3000},
                             {"is_popular", false},
                             {"is_steins", false},
                             {"is_ugcpay", false},
                             {"is_cooperation", false},
                             {"is_pgc", false},
                             {"is_live_playback", false},
                             {"play", 800 + aid % 997},
                             {"danmaku", aid % 41},
                             {"ctime", 1700000000 - index * 86400},
                             {"ugc_pay", 0},
                             {"author", ServiceFixtures::uploaderName()},
                             {"state", false},
                             {"bvid", ServiceFixtures::bvidForAID(aid)},
                             {"videos", 1},
                             {"three_point", List{}},
                             {"first_cid", cidForAID(aid)},
                             {"cursor_attr", Map{{"is_last_watched_arc", false}, {"rank", index + 1}}}});
        }
    }
    return ok(Map{{"episodic_button", Map{{"text", S("播放全部")}, {"uri", ""}}},
                  {"order", List{Map{{"title", S("最新发布")}, {"value", "pubdate"}}, Map{{"title", S("最多播放")}, {"value", "click"}}}},
                  {"count", mid == ServiceFixtures::kUploaderMID ? ServiceFixtures::kUploaderVideoCount : 0},
                  {"has_next", hasNext},
                  {"has_prev", cursor > 0},
                  {"item", items}});
}

FakeReply uploaderSearchPage(const FakeRequest& request)
{
    const qint64 mid = queryInteger(request, "mid", 0);
    const qint64 page = std::max<qint64>(1, queryInteger(request, "pn", 1));
    const qint64 size = std::clamp<qint64>(queryInteger(request, "ps", 30), 1, 50);
    if (mid < 1)
        return badRequest();
    const int count = mid == ServiceFixtures::kUploaderMID ? ServiceFixtures::kUploaderVideoCount : 0;
    List vlist;
    for (qint64 index = (page - 1) * size; index < std::min<qint64>(page * size, count); ++index) {
        const qint64 aid = uploaderAID(int(index));
        vlist.append(Map{{"comment", 3 + aid % 17},
                         {"typeid", 161},
                         {"play", 800 + aid % 997},
                         {"pic", imageURL(QStringLiteral("archive"), aid)},
                         {"subtitle", ""},
                         {"description", S("第%1期").arg(aid)},
                         {"copyright", "1"},
                         {"title", titleForAID(aid)},
                         {"review", 0},
                         {"author", ServiceFixtures::uploaderName()},
                         {"mid", mid},
                         {"created", 1700000000 - index * 86400},
                         {"length", QStringLiteral("%1:%2").arg(1 + aid % 50, 2, 10, QLatin1Char('0')).arg(aid % 60, 2, 10, QLatin1Char('0'))},
                         {"video_review", aid % 41},
                         {"aid", aid},
                         {"bvid", ServiceFixtures::bvidForAID(aid)},
                         {"hide_click", false},
                         {"is_pay", 0},
                         {"is_union_video", 0},
                         {"is_steins_gate", 0},
                         {"is_live_playback", 0}});
    }
    return ok(Map{{"list", Map{{"tlist", Map{{"161", Map{{"count", count}, {"name", S("手工")}, {"tid", 161}}}}}, {"vlist", vlist}}},
                  {"page", Map{{"pn", page}, {"ps", size}, {"count", count}}},
                  {"episodic_button", Map{{"text", S("播放全部")}, {"uri", ""}}}});
}

// ---- Detail ----

FakeReply view(const FakeRequest& request)
{
    const qint64 aid = requestedAID(request);
    if (aid < 1)
        return badRequest();
    if (aid == ServiceFixtures::kHiddenAID)
        return ServiceFixtures::serviceError(62002, S("稿件不可见"));
    if (aid == ServiceFixtures::kReviewAID)
        return ServiceFixtures::serviceError(62004, S("稿件审核中"));
    if (aid == ServiceFixtures::kDeletedAID)
        return nothingHere();
    return ok(ServiceFixtures::viewData(aid));
}

FakeReply oldView(const FakeRequest& request)
{
    const qint64 aid = queryInteger(request, "aid", 0);
    if (aid < 1 || aid == ServiceFixtures::kDeletedAID)
        return FakeReply::json(Map{{"code", -404}, {"error", "no such video"}});
    const qint64 mid = ownerMIDFor(aid);
    Map list;
    int index = 0;
    for (const QVariant& page : pagesForAID(aid)) {
        const Map object = page.toMap();
        list.insert(QString::number(index++), Map{{"page", object.value("page")},
                                                  {"cid", object.value("cid")},
                                                  {"part", object.value("part")},
                                                  {"type", "vupload"},
                                                  {"vid", ""}});
    }
    return FakeReply::json(Map{{"tid", 17},
                               {"typename", S("单机游戏")},
                               {"arctype", "Copy"},
                               {"play", QString::number(1000 + aid % 97 * 1237)},
                               {"review", QString::number(5 + aid % 31)},
                               {"video_review", QString::number(10 + aid % 53)},
                               {"favorites", QString::number(aid % 211)},
                               {"title", titleForAID(aid)},
                               {"description", S("旧接口的简介")},
                               {"tag", S("日常")},
                               {"pic", QStringLiteral("http://i0.%1/bfs/archive/%2.jpg").arg(KRServiceHosts::imagePrimaryDomain()).arg(aid)},
                               {"author", uploaderNameFor(mid)},
                               {"mid", QString::number(mid)},
                               {"face", imageURL(QStringLiteral("face"), mid)},
                               {"pages", pagesForAID(aid).size()},
                               {"created_at", "2023-11-14 22:13"},
                               {"created", 1700000000 - aid % 100000},
                               {"cid", list.value("0").toMap().value("cid")},
                               {"list", list}});
}

FakeReply pageList(const FakeRequest& request)
{
    const qint64 aid = requestedAID(request);
    if (aid < 1)
        return badRequest();
    if (aid == ServiceFixtures::kDeletedAID)
        return nothingHere();
    return ok(pagesForAID(aid));
}

// ---- Seasons ----

bool seasonKnows(const FakeRequest& request)
{
    const qint64 episode = queryInteger(request, "ep_id", 0);
    if (episode > 0)
        return (episode >= ServiceFixtures::kFirstEpisodeID && episode < ServiceFixtures::kFirstEpisodeID + 12)
            || episode == ServiceFixtures::kTrailerEpisodeID || episode == ServiceFixtures::kTrailerEpisodeID + 1;
    return queryInteger(request, "season_id", 0) == ServiceFixtures::kSeasonID;
}

Map trailerObject(int index)
{
    const qint64 id = ServiceFixtures::kTrailerEpisodeID + index;
    const qint64 aid = ServiceFixtures::kPGCArchiveAID + 1000 + index;
    return {{"aid", aid},
            {"badge", ""},
            {"bvid", ServiceFixtures::bvidForAID(aid)},
            {"cid", ServiceFixtures::kFirstEpisodeCID + 100000 + index},
            {"cover", imageURL(QStringLiteral("archive"), aid)},
            {"dimension", Map{{"height", 1080}, {"rotate", 0}, {"width", 1920}}},
            {"duration", 95000},
            {"ep_id", id},
            {"id", id},
            {"long_title", ""},
            {"pub_time", 1695000000},
            {"share_copy", S("《%1》PV%2").arg(ServiceFixtures::seasonTitle()).arg(index + 1)},
            {"show_title", S("PV%1").arg(index + 1)},
            {"status", 2},
            {"title", S("PV%1").arg(index + 1)}};
}

Map seasonStat()
{
    return {{"coins", 18230}, {"danmakus", 88120}, {"favorite", 120034}, {"likes", 300211},
            {"reply", 9120}, {"share", 2311}, {"views", 12500000}};
}

Map seasonUploader()
{
    return {{"mid", 928123}, {"uname", S("岚帆番剧出差")}, {"avatar", imageURL(QStringLiteral("face"), 928123)}, {"follower", 5023344}};
}

FakeReply appSeason(const FakeRequest& request)
{
    if (!seasonKnows(request))
        return nothingHere();
    List episodes;
    for (int i = 0; i < 12; ++i) {
        Map episode = ServiceFixtures::episodeObject(i);
        episode.insert("stat", Map{{"views", 900000 - i * 20000}, {"danmakus", 6000 - i * 100}, {"reply", 800 - i * 10}});
        episodes.append(episode);
    }
    const List modules{Map{{"id", 1}, {"style", "positive"}, {"title", S("正片")}, {"data", Map{{"id", 1}, {"episodes", episodes}}}},
                       Map{{"id", 2}, {"style", "section"}, {"title", S("PV&其他")},
                           {"data", Map{{"id", 61001}, {"episodes", List{trailerObject(0), trailerObject(1)}}}}}};
    return FakeReply::json(Map{{"code", 0},
                               {"message", "success"},
                               {"data", Map{{"season_id", ServiceFixtures::kSeasonID},
                                            {"title", ServiceFixtures::seasonTitle()},
                                            {"cover", imageURL(QStringLiteral("bangumi/image"), ServiceFixtures::kSeasonID, ".png")},
                                            {"evaluate", S("一艘旧货船在星海中寻找失落的航线。")},
                                            {"type", 1},
                                            {"subtitle", S("已完结, 全12话")},
                                            {"up_info", seasonUploader()},
                                            {"stat", seasonStat()},
                                            {"modules", modules}}}});
}

FakeReply webSeason(const FakeRequest& request)
{
    if (!seasonKnows(request))
        return nothingHere();
    List episodes;
    for (int i = 0; i < 12; ++i)
        episodes.append(ServiceFixtures::episodeObject(i));
    return FakeReply::json(
        Map{{"code", 0},
            {"message", "success"},
            {"result", Map{{"season_id", ServiceFixtures::kSeasonID},
                           {"season_title", ServiceFixtures::seasonTitle()},
                           {"title", ServiceFixtures::seasonTitle()},
                           {"media_id", 28220001},
                           {"cover", imageURL(QStringLiteral("bangumi/image"), ServiceFixtures::kSeasonID, ".png")},
                           {"evaluate", S("一艘旧货船在星海中寻找失落的航线。")},
                           {"type", 1},
                           {"total", 12},
                           {"up_info", seasonUploader()},
                           {"stat", seasonStat()},
                           {"rating", Map{{"count", 52011}, {"score", 9.7}}},
                           {"new_ep", Map{{"id", ServiceFixtures::kFirstEpisodeID + 11}, {"desc", S("已完结, 全12话")}}},
                           {"episodes", episodes},
                           {"section", List{Map{{"id", 61001}, {"title", S("PV&其他")}, {"type", 1},
                                                {"episodes", List{trailerObject(0), trailerObject(1)}}}}}}}});
}

// ---- Tags and related ----

FakeReply tags(const FakeRequest& request)
{
    if (ServiceFixtures::aidForBVID(request.queryValue(QStringLiteral("bvid"))) < 1)
        return badRequest();
    const QStringList names{S("手工"), S("木工"), S("猫"), S("DIY"), S("生活记录")};
    List list;
    for (int i = 0; i < names.size(); ++i)
        list.append(Map{{"tag_id", 1000 + i},
                        {"tag_name", names.at(i)},
                        {"cover", ""},
                        {"likes", 0},
                        {"hates", 0},
                        {"liked", 0},
                        {"hated", 0},
                        {"attribute", 0},
                        {"is_activity", 0},
                        {"color", ""},
                        {"alpha", 0},
                        {"is_season", false},
                        {"subscribed_count", 1200 + i},
                        {"archive_count", "-"},
                        {"featured_count", 0},
                        {"jump_url", ""}});
    return ok(list);
}

FakeReply related(const FakeRequest& request)
{
    const qint64 aid = ServiceFixtures::aidForBVID(request.queryValue(QStringLiteral("bvid")));
    if (aid < 1)
        return badRequest();
    List list;
    for (int i = 0; i < 10; ++i)
        list.append(ServiceFixtures::archiveItem(800000 + aid % 1000 * 10 + i));
    return ok(list);
}

// ---- Comments ----

bool isTopLevelComment(qint64 rpid)
{
    return rpid >= ServiceFixtures::kFirstCommentRPID && rpid < ServiceFixtures::kFirstCommentRPID + ServiceFixtures::kCommentCount;
}

List topLevelComments(qint64 oid, qint64 from, qint64 to)
{
    List list;
    for (qint64 i = from; i < std::min<qint64>(to, ServiceFixtures::kCommentCount); ++i)
        list.append(ServiceFixtures::commentObject(ServiceFixtures::kFirstCommentRPID + i, oid, 0));
    return list;
}

Map commentUpper() { return {{"mid", ServiceFixtures::kUploaderMID}, {"top", null()}, {"vote", null()}}; }

FakeReply cursorComments(const FakeRequest& request)
{
    const qint64 oid = queryInteger(request, "oid", 0);
    const qint64 next = std::max<qint64>(0, queryInteger(request, "next", 0));
    const qint64 size = std::clamp<qint64>(queryInteger(request, "ps", 20), 1, 30);
    if (oid < 1)
        return badRequest();
    const bool known = oid == ServiceFixtures::kDetailAID;
    const qint64 page = next < 2 ? 1 : next;
    const List replies = known ? topLevelComments(oid, (page - 1) * size, page * size) : List{};
    const bool end = !known || page * size >= ServiceFixtures::kCommentCount;
    const int allCount = known ? ServiceFixtures::kCommentCount * (1 + ServiceFixtures::kRepliesPerComment) : 0;
    Map data{{"cursor", Map{{"is_begin", page == 1},
                            {"prev", page},
                            {"next", page + 1},
                            {"is_end", end},
                            {"all_count", allCount},
                            {"mode", 3},
                            {"mode_text", S("热门评论")},
                            {"name", S("热门评论")},
                            {"session_id", "1723456789"}}},
             {"replies", replies},
             {"upper", commentUpper()},
             {"control", Map{{"input_disable", false}, {"root_input_text", S("发一条友善的评论")}}}};
    if (page == 1 && known)
        data.insert("top_replies", List{ServiceFixtures::commentObject(ServiceFixtures::kFirstCommentRPID, oid, 0)});
    else
        data.insert("top_replies", null());
    return ok(data);
}

FakeReply pagedComments(const FakeRequest& request)
{
    const qint64 oid = queryInteger(request, "oid", 0);
    const qint64 page = std::max<qint64>(1, queryInteger(request, "pn", 1));
    const qint64 size = std::clamp<qint64>(queryInteger(request, "ps", 20), 1, 49);
    if (oid < 1)
        return badRequest();
    const bool known = oid == ServiceFixtures::kDetailAID;
    Map data{{"page", Map{{"num", page}, {"size", size}, {"count", known ? ServiceFixtures::kCommentCount : 0},
                          {"acount", known ? ServiceFixtures::kCommentCount * (1 + ServiceFixtures::kRepliesPerComment) : 0}}},
             {"replies", known ? topLevelComments(oid, (page - 1) * size, page * size) : List{}},
             {"upper", commentUpper()}};
    if (page == 1 && known)
        data.insert("top_replies", List{ServiceFixtures::commentObject(ServiceFixtures::kFirstCommentRPID, oid, 0)});
    return ok(data);
}

FakeReply commentReplies(const FakeRequest& request)
{
    const qint64 oid = queryInteger(request, "oid", 0);
    const qint64 root = queryInteger(request, "root", 0);
    const qint64 page = std::max<qint64>(1, queryInteger(request, "pn", 1));
    const qint64 size = std::clamp<qint64>(queryInteger(request, "ps", 20), 1, 49);
    if (oid < 1 || root < 1)
        return badRequest();
    if (oid != ServiceFixtures::kDetailAID || !isTopLevelComment(root))
        return ServiceFixtures::serviceError(12022, S("已经被删除了"));
    List replies;
    for (qint64 j = (page - 1) * size; j < std::min<qint64>(page * size, ServiceFixtures::kRepliesPerComment); ++j)
        replies.append(ServiceFixtures::commentObject(root * 100 + j + 1, oid, root));
    return ok(Map{{"page", Map{{"count", ServiceFixtures::kRepliesPerComment}, {"num", page}, {"size", size}}},
                  {"config", Map{{"showtopic", 1}, {"show_up_flag", true}, {"read_only", false}}},
                  {"replies", replies},
                  {"root", ServiceFixtures::commentObject(root, oid, 0)},
                  {"upper", commentUpper()}});
}

FakeReply commentDetail(const FakeRequest& request)
{
    const qint64 oid = queryInteger(request, "oid", 0);
    const qint64 root = queryInteger(request, "root", 0);
    if (oid < 1 || root < 1)
        return badRequest();
    if (oid != ServiceFixtures::kDetailAID || !isTopLevelComment(root))
        return ServiceFixtures::serviceError(12022, S("已经被删除了"));
    return ok(Map{{"root", ServiceFixtures::commentObject(root, oid, 0)}, {"upper", commentUpper()}});
}

} // namespace

// ---- Catalogue ----

QString ServiceFixtures::detailBVID() { return bvidForAID(kDetailAID); }
qint64 ServiceFixtures::unavailableCID(qint64 aid) { return 20000000 + aid; }
QString ServiceFixtures::seasonTitle() { return S("星河旅人"); }
QString ServiceFixtures::uploaderName() { return S("木工小林"); }

namespace {
const char kBase58[] = "FcwAPNKTMug3GV5Lj7EJnHpWsx4tb8haYeviqBz6rkCy12mUSDQX9RdoZf";
constexpr qint64 kBVMask = 2275242641476827LL;
}

QString ServiceFixtures::bvidForAID(qint64 aid)
{
    QByteArray text("BV1000000000");
    quint64 t = quint64(aid) ^ quint64(kBVMask);
    for (int position = 11; position >= 3; --position) {
        text[position] = kBase58[t % 58];
        t /= 58;
    }
    std::swap(text[3], text[9]);
    std::swap(text[4], text[7]);
    return QString::fromLatin1(text);
}

qint64 ServiceFixtures::aidForBVID(const QString& bvid)
{
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
    return qint64(t ^ quint64(kBVMask));
}

QVariantMap ServiceFixtures::envelope(const QVariant& data)
{
    return {{"code", 0}, {"message", "0"}, {"ttl", 1}, {"data", data}};
}

QVariantMap ServiceFixtures::archiveItem(qint64 aid)
{
    const qint64 mid = ownerMIDFor(aid);
    return {{"aid", aid},
            {"videos", 1},
            {"tid", 17},
            {"tname", S("单机游戏")},
            {"copyright", 1},
            {"pic", QStringLiteral("http://i0.%1/bfs/archive/%2.jpg").arg(KRServiceHosts::imagePrimaryDomain()).arg(aid)},
            {"title", titleForAID(aid)},
            {"pubdate", 1700000000 - aid % 100000},
            {"ctime", 1700000000 - aid % 100000},
            {"desc", S("简介 %1").arg(aid)},
            {"state", 0},
            {"duration", 60 + aid % 3000},
            {"rights", Map{{"bp", 0}, {"elec", 0}, {"download", 0}, {"movie", 0}, {"pay", 0}, {"hd5", 1}, {"no_reprint", 1}}},
            {"owner", Map{{"mid", mid}, {"name", uploaderNameFor(mid)}, {"face", imageURL(QStringLiteral("face"), mid)}}},
            {"stat", statObject(aid)},
            {"dynamic", ""},
            {"cid", cidForAID(aid)},
            {"dimension", Map{{"width", 1920}, {"height", 1080}, {"rotate", 0}}},
            {"bvid", bvidForAID(aid)},
            {"rcmd_reason", Map{{"content", ""}, {"corner_mark", 0}}}};
}

QVariantMap ServiceFixtures::viewData(qint64 aid)
{
    Map data = archiveItem(aid);
    const List pages = pagesForAID(aid);
    data.insert("videos", pages.size());
    data.insert("pages", pages);
    data.insert("cid", pages.first().toMap().value("cid"));
    data.insert("desc_v2", List{Map{{"raw_text", data.value("desc")}, {"type", 1}, {"biz_id", 0}}});
    data.insert("is_season_display", false);
    data.insert("subtitle", Map{{"allow_submit", false}, {"list", List{}}});
    if (aid >= kPGCArchiveAID && aid < kPGCArchiveAID + 12) {
        const qint64 episode = kFirstEpisodeID + (aid - kPGCArchiveAID);
        data.insert("title", S("%1：第%2话").arg(seasonTitle()).arg(aid - kPGCArchiveAID + 1));
        data.insert("redirect_url", QStringLiteral("https://%1/bangumi/play/ep%2").arg(KRServiceHosts::webHost()).arg(episode));
        data.insert("season_type", 1);
        data.insert("tname", S("番剧"));
    }
    return data;
}

QVariantList ServiceFixtures::nonVideoFeedItems()
{
    const Map common{{"cid", 0},
                     {"duration", 0},
                     {"pubdate", 0},
                     {"owner", null()},
                     {"stat", null()},
                     {"av_feature", null()},
                     {"is_followed", 0},
                     {"rcmd_reason", null()},
                     {"show_info", 0},
                     {"track_id", "all_13.shylf-ai-recsys-120.1723456789"},
                     {"ogv_info", null()},
                     {"is_stock", 0},
                     {"enable_vt", 0},
                     {"vt_display", ""},
                     {"dislike_switch", 0},
                     {"dislike_switch_pc", 0}};
    Map advert = common;
    advert.insert({{"id", 0}, {"bvid", ""}, {"goto", "ad"}, {"uri", ""}, {"pic", ""}, {"title", ""}, {"room_info", null()},
                   {"business_info", Map{{"id", 5614}, {"src_id", 4694}, {"is_ad", true}, {"title", S("限时优惠")}}}});
    Map live = common;
    live.insert({{"id", 22334455},
                 {"bvid", ""},
                 {"goto", "live"},
                 {"uri", QStringLiteral("https://live.%1/22334455").arg(KRServiceHosts::mainDomain())},
                 {"pic", imageURL(QStringLiteral("live"), 22334455)},
                 {"title", S("深夜电台 陪你聊天")},
                 {"owner", Map{{"mid", 55667788}, {"name", S("夜猫主播")}, {"face", imageURL(QStringLiteral("face"), 55667788)}}},
                 {"room_info", Map{{"live_status", 1}, {"area", Map{{"area_name", S("聊天电台")}}}}},
                 {"business_info", null()}});
    Map column = common;
    column.insert({{"id", kSeasonID},
                   {"bvid", ""},
                   {"goto", "ogv"},
                   {"uri", QStringLiteral("https://%1/bangumi/play/ss%2").arg(KRServiceHosts::webHost()).arg(kSeasonID)},
                   {"pic", imageURL(QStringLiteral("bangumi/image"), kSeasonID, ".png")},
                   {"title", seasonTitle()},
                   {"room_info", null()},
                   {"business_info", null()}});
    return {advert, live, column};
}

QVariantList ServiceFixtures::recommendationItems(qint64 freshIndex)
{
    const List others = nonVideoFeedItems();
    List items;
    for (int slot = 0; slot < 20; ++slot) {
        if (slot == 3) {
            items.append(others.at(0));
            continue;
        }
        if (slot == 11) {
            items.append(others.at(1));
            continue;
        }
        const qint64 aid = 300000 + freshIndex * 100 + slot;
        const qint64 mid = ownerMIDFor(aid);
        const QString bvid = bvidForAID(aid);
        items.append(Map{{"id", aid},
                         {"bvid", bvid},
                         {"cid", cidForAID(aid)},
                         {"goto", "av"},
                         {"uri", QStringLiteral("https://%1/video/%2").arg(KRServiceHosts::webHost(), bvid)},
                         {"pic", imageURL(QStringLiteral("archive"), aid)},
                         {"pic_4_3", imageURL(QStringLiteral("archive"), aid + 1)},
                         {"title", titleForAID(aid)},
                         {"duration", 60 + aid % 3000},
                         {"pubdate", 1700000000 - slot * 3600},
                         {"owner", Map{{"mid", mid}, {"name", uploaderNameFor(mid)}, {"face", imageURL(QStringLiteral("face"), mid)}}},
                         {"stat", Map{{"view", 1000 + aid % 97 * 1237}, {"like", 20 + aid % 173}, {"danmaku", 10 + aid % 53}, {"vt", 0}}},
                         {"av_feature", null()},
                         {"is_followed", 0},
                         {"rcmd_reason", Map{{"content", ""}, {"reason_type", 0}}},
                         {"show_info", 1},
                         {"track_id", "web_pegasus_1.router-web-pegasus-1"},
                         {"pos", 0},
                         {"room_info", null()},
                         {"ogv_info", null()},
                         {"business_info", null()},
                         {"is_stock", 0},
                         {"enable_vt", 0},
                         {"vt_display", ""},
                         {"dislike_switch", 1},
                         {"dislike_switch_pc", 1}});
    }
    return items;
}

QVariantMap ServiceFixtures::commentObject(qint64 rpid, qint64 oid, qint64 root)
{
    const qint64 index = root == 0 ? rpid - kFirstCommentRPID : rpid % 100 - 1;
    const qint64 mid = 100 + index;
    QString message = root == 0 ? S("第%1条评论：做得真好").arg(index + 1) : S("回复 %1").arg(index + 1);
    Map content{{"members", List{}}, {"jump_url", Map{}}, {"max_line", 6}};
    if (index % 5 == 0) {
        message += S("[doge]");
        content.insert("emote", Map{{S("[doge]"), Map{{"id", 26},
                                                      {"package_id", 1},
                                                      {"state", 0},
                                                      {"type", 1},
                                                      {"attr", 0},
                                                      {"text", S("[doge]")},
                                                      {"url", imageURL(QStringLiteral("emote"), 26, ".png")},
                                                      {"meta", Map{{"size", 1}}},
                                                      {"mtime", 1668688325},
                                                      {"jump_title", "doge"}}}});
    }
    if (root == 0 && index % 7 == 3) {
        content.insert("pictures", List{Map{{"img_src", imageURL(QStringLiteral("new_dyn"), rpid)},
                                            {"img_width", 1080},
                                            {"img_height", 1440},
                                            {"img_size", 233.5}}});
    }
    content.insert("message", message);
    List preview;
    if (root == 0) {
        for (int j = 0; j < 3; ++j)
            preview.append(commentObject(rpid * 100 + j + 1, oid, rpid));
    }
    return {{"rpid", rpid},
            {"oid", oid},
            {"type", 1},
            {"mid", mid},
            {"root", root},
            {"parent", root},
            {"dialog", root == 0 ? 0 : rpid},
            {"count", root == 0 ? kRepliesPerComment : 0},
            {"rcount", root == 0 ? kRepliesPerComment : 0},
            {"state", 0},
            {"fansgrade", 0},
            {"attr", 0},
            {"ctime", 1700000000 - index * 60},
            {"rpid_str", QString::number(rpid)},
            {"root_str", QString::number(root)},
            {"parent_str", QString::number(root)},
            {"like", 1000 - index},
            {"action", 0},
            {"member", Map{{"mid", QString::number(mid)},
                           {"uname", S("观众%1").arg(mid)},
                           {"sex", S("保密")},
                           {"sign", ""},
                           {"avatar", imageURL(QStringLiteral("face"), mid)},
                           {"level_info", Map{{"current_level", 5}}}}},
            {"content", content},
            {"replies", root == 0 ? QVariant(preview) : null()},
            {"up_action", Map{{"like", false}, {"reply", false}}}};
}

QVariantMap ServiceFixtures::episodeObject(int index)
{
    const qint64 id = kFirstEpisodeID + index;
    const qint64 aid = kPGCArchiveAID + index;
    const QString title = episodeTitles().at(index % episodeTitles().size());
    return {{"aid", aid},
            {"badge", index >= 10 ? S("会员") : QStringLiteral("")},
            {"badge_info", Map{{"bg_color", "#FB7299"}, {"text", index >= 10 ? S("会员") : QStringLiteral("")}}},
            {"bvid", bvidForAID(aid)},
            {"cid", kFirstEpisodeCID + index},
            {"cover", imageURL(QStringLiteral("archive"), aid)},
            {"dimension", Map{{"height", 1080}, {"rotate", 0}, {"width", 1920}}},
            {"duration", 1420000 + index * 1000},
            {"ep_id", id},
            {"id", id},
            {"link", QStringLiteral("https://%1/bangumi/play/ep%2").arg(KRServiceHosts::webHost()).arg(id)},
            {"long_title", title},
            {"pub_time", 1696000000 + index * 604800},
            {"share_copy", S("《%1》第%2话 %3").arg(seasonTitle()).arg(index + 1).arg(title)},
            {"show_title", S("第%1话 %2").arg(index + 1).arg(title)},
            {"status", 2},
            {"title", QString::number(index + 1)}};
}

// ---- Faults ----

FakeReply ServiceFixtures::serviceError(qint64 code, const QString& message)
{
    return FakeReply::json(Map{{"code", code}, {"message", message}, {"ttl", 1}});
}

FakeReply ServiceFixtures::riskControlRefusal()
{
    FakeReply reply = FakeReply::html(S("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>出错啦!</title></head>"
                                        "<body><div class=\"error\"><p>由于触发风控策略，本次请求被拦截。</p>"
                                        "<p>错误码：412</p></div></body></html>")
                                          .toUtf8());
    reply.status = 412;
    return reply;
}

FakeReply ServiceFixtures::serverFailure(int status)
{
    FakeReply reply = FakeReply::html(QStringLiteral("<html><head><title>%1 Internal Server Error</title></head><body>"
                                                     "<center><h1>%1 Internal Server Error</h1></center><hr></body></html>")
                                          .arg(status)
                                          .toUtf8());
    reply.status = status;
    return reply;
}

FakeReply ServiceFixtures::emptyBody()
{
    FakeReply reply;
    reply.status = 200;
    return reply;
}

FakeReply ServiceFixtures::htmlBody()
{
    return FakeReply::html(S("<!DOCTYPE html><html><head><title>登录</title></head><body><form action=\"/login\">"
                             "<input name=\"user\"><input type=\"password\" name=\"pass\"></form></body></html>")
                               .toUtf8());
}

FakeReply ServiceFixtures::stalled()
{
    FakeReply reply;
    reply.stall = true;
    return reply;
}

FakeReply ServiceFixtures::nonVideoFeed()
{
    return FakeReply::json(envelope(Map{{"item", nonVideoFeedItems()}, {"business_card", null()}, {"floor_info", null()}, {"mid", 0}}));
}

// ---- Routes ----

void ServiceFixtures::installReadRoutes(FakeService& fake)
{
    const QString api = KRServiceHosts::apiHost();
    routeNavigationFixture(fake);
    fake.route(api, QStringLiteral("/x/web-interface/popular"), popular);
    fake.route(api, QStringLiteral("/x/web-interface/wbi/index/top/feed/rcmd"), wbiSigned(recommendation));
    fake.route(api, QStringLiteral("/x/web-interface/ranking/v2"), ranking);
    fake.route(api, QStringLiteral("/x/web-interface/newlist"), newList);
    fake.route(api, QStringLiteral("/pgc/season/index/result"), pgcIndex);
    fake.route(api, QStringLiteral("/x/web-interface/search/type"), searchReply);
    fake.route(api, QStringLiteral("/x/web-interface/wbi/search/type"), wbiSigned(searchReply));
    fake.route(KRServiceHosts::appHost(), QStringLiteral("/x/v2/space/archive/cursor"), appSigned(uploaderCursorPage));
    fake.route(api, QStringLiteral("/x/space/wbi/arc/search"), wbiSigned(uploaderSearchPage));
    fake.route(api, QStringLiteral("/x/web-interface/view"), view);
    fake.route(KRServiceHosts::oldAPIHost(), QStringLiteral("/view"), oldView);
    fake.route(api, QStringLiteral("/x/player/pagelist"), pageList);
    fake.route(api, QStringLiteral("/pgc/view/v2/app/season"), appSigned(appSeason));
    fake.route(api, QStringLiteral("/pgc/view/web/season"), webSeason);
    fake.route(api, QStringLiteral("/x/tag/archive/tags"), tags);
    fake.route(api, QStringLiteral("/x/web-interface/archive/related"), related);
    fake.route(api, QStringLiteral("/x/v2/reply/wbi/main"), wbiSigned(cursorComments));
    fake.route(api, QStringLiteral("/x/v2/reply"), pagedComments);
    fake.route(api, QStringLiteral("/x/v2/reply/reply"), commentReplies);
    fake.route(api, QStringLiteral("/x/v2/reply/detail"), commentDetail);
}

} // namespace testsupport
