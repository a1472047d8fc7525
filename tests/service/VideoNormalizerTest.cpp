#include "service/KRAPIReplyHelpers.h"
#include "service/KRJSON.h"
#include "service/KRTolerantValue.h"
#include "service/KRVideo.h"
#include "service/KRVideoNormalizer.h"

#include <gtest/gtest.h>

namespace {

QVariant parse(const char* json)
{
    QString error;
    const QVariant value = KRJSONParse(QByteArray(json), &error);
    EXPECT_TRUE(value.isValid()) << error.toStdString() << "\n" << json;
    return value;
}

std::shared_ptr<KRVideo> videoFrom(const char* json)
{
    auto video = KRVideoNormalizer::videoFromDictionary(parse(json));
    EXPECT_TRUE(video);
    return video ? video : std::make_shared<KRVideo>();
}

// A web view reply as the detail endpoint sends it.
const char* kViewReply = R"({
  "code": 0, "message": "0", "ttl": 1,
  "data": {
    "bvid": "BV1GJ411x7h7", "aid": 80433022, "videos": 3, "tid": 17, "tname": "单机游戏",
    "copyright": 1, "pic": "//i0.zantorel-img.test/bfs/archive/abc.jpg",
    "title": "【合集】三段式测试", "pubdate": 1578296400, "ctime": 1578296401,
    "desc": "简介\n第二行", "state": 0, "duration": 3725, "attribute": 16512,
    "owner": {"mid": 546195, "name": "测试UP主", "face": "https://i1.zantorel-img.test/face.jpg"},
    "stat": {"aid": 80433022, "view": 1234567, "danmaku": 8910, "reply": 1112, "favorite": 3, "coin": 4, "share": 5, "like": 6},
    "dynamic": "", "cid": 137649199,
    "dimension": {"width": 1920, "height": 1080, "rotate": 0},
    "pages": [
      {"cid": 137649199, "page": 1, "from": "vupload", "part": "第一段", "duration": 1200, "dimension": {"width": 1920, "height": 1080, "rotate": 0}},
      {"cid": 137649200, "page": 2, "from": "vupload", "part": "第二段", "duration": 1300, "dimension": {"width": 1080, "height": 1920, "rotate": 1}},
      {"cid": 137649201, "page": 3, "from": "vupload", "part": "第三段", "duration": 1225}
    ]
  }
})";

} // namespace

TEST(VideoNormalizer, ReadsAWebViewReply)
{
    const auto videos = KRVideoNormalizer::videosFromPayload(parse(kViewReply));
    ASSERT_EQ(videos.size(), 1);
    const auto& v = videos.first();
    EXPECT_EQ(v->aid(), 80433022);
    EXPECT_EQ(v->resolvedAid(), 0);
    EXPECT_EQ(v->bvid(), "BV1GJ411x7h7");
    EXPECT_EQ(v->cid(), 137649199);
    EXPECT_EQ(v->tid(), 17);
    EXPECT_EQ(v->copyright(), 1);
    EXPECT_EQ(v->tname(), "单机游戏");
    EXPECT_EQ(v->title(), "【合集】三段式测试");
    EXPECT_EQ(v->coverURL(), "https://i0.zantorel-img.test/bfs/archive/abc.jpg");
    EXPECT_EQ(v->ownerName(), "测试UP主");
    EXPECT_EQ(v->ownerMID(), 546195);
    EXPECT_EQ(v->ownerAvatarURL(), "https://i1.zantorel-img.test/face.jpg");
    EXPECT_EQ(v->publishTimestamp(), 1578296400.0);
    EXPECT_EQ(v->durationText(), "1:02:05");
    EXPECT_EQ(v->playCount(), 1234567);
    EXPECT_EQ(v->danmakuCount(), 8910);
    EXPECT_EQ(v->replyCount(), 1112);
    EXPECT_TRUE(v->statisticsKnown());
    EXPECT_EQ(v->pageCount(), 3);
    EXPECT_EQ(v->summary(), "简介\n第二行");
    EXPECT_EQ(v->width(), 1920);
    EXPECT_EQ(v->height(), 1080);
    EXPECT_EQ(v->resourceAttribute(), 16512);
    EXPECT_EQ(v->archiveState(), 0);
    EXPECT_FALSE(v->isUnavailable());
    EXPECT_TRUE(v->unavailableReason().isNull());
    EXPECT_FALSE(v->isPGC());
    EXPECT_TRUE(v->playURL().isNull());
    ASSERT_EQ(v->pages().size(), 3);
    const KRVideoPartInfo second = v->pages().at(1);
    EXPECT_EQ(second.value("cid").toLongLong(), 137649200);
    EXPECT_EQ(second.value("page").toInt(), 2);
    EXPECT_EQ(second.value("part").toString(), "第二段");
    EXPECT_EQ(second.value("duration").toString(), "21:40");
    EXPECT_EQ(second.value("width").toLongLong(), 1080);
    EXPECT_EQ(second.value("rotate").toLongLong(), 1);
    EXPECT_FALSE(v->pages().at(0).contains("rotate"));
    EXPECT_FALSE(v->pages().at(2).contains("width"));
}

TEST(VideoNormalizer, ReadsASearchResultPage)
{
    const auto videos = KRVideoNormalizer::videosFromPayload(parse(R"({
      "code": 0, "data": {"page": 1, "pagesize": 20, "numResults": 1000, "result": [
        {"type": "video", "id": 170001, "author": "搜索作者", "mid": 77, "typeid": "17", "typename": "单机游戏",
         "arcurl": "http://www.zantorel.test/video/av170001", "aid": 170001, "bvid": "BV17x411w7KC",
         "title": "关于<em class=\"keyword\">猫</em>的视频", "description": "猫猫", "pic": "//i2.zantorel-img.test/s.jpg",
         "play": 98765, "video_review": 321, "review": 12, "favorites": 4, "tag": "猫", "duration": "12:34",
         "pubdate": 1600000000, "upic": "https://i2.zantorel-img.test/upic.jpg"},
        {"type": "video", "id": 2, "title": "第二条", "aid": 2, "bvid": "", "play": "--", "duration": "0:7"},
        "not a video", null
      ]}})"));
    ASSERT_EQ(videos.size(), 2);
    const auto& v = videos.first();
    EXPECT_EQ(v->title(), "关于猫的视频");
    EXPECT_EQ(v->ownerName(), "搜索作者");
    EXPECT_EQ(v->ownerMID(), 77);
    EXPECT_EQ(v->tid(), 17);
    EXPECT_EQ(v->tname(), "单机游戏");
    EXPECT_EQ(v->playCount(), 98765);
    EXPECT_EQ(v->danmakuCount(), 321);
    EXPECT_EQ(v->durationText(), "12:34");
    EXPECT_EQ(v->coverURL(), "https://i2.zantorel-img.test/s.jpg");
    EXPECT_TRUE(v->statisticsKnown());
    EXPECT_FALSE(v->isPGC()); // "type": "video" is no PGC business
    EXPECT_EQ(videos.at(1)->playCount(), 0);
    EXPECT_TRUE(videos.at(1)->statisticsKnown());
    EXPECT_TRUE(videos.at(1)->bvid().isNull());
    EXPECT_EQ(videos.at(1)->durationText(), "0:7");
    EXPECT_EQ(videos.at(1)->feedIdentity(), "aid:2");
}

TEST(VideoNormalizer, TitleMarkupAndEntities)
{
    EXPECT_EQ(KRPlainTextFromHTMLFragment("<em class=\"keyword\">猫</em>的视频"), "猫的视频");
    EXPECT_EQ(KRPlainTextFromHTMLFragment("<b>x</b> &amp;lt;"), "x <");
    EXPECT_EQ(KRPlainTextFromHTMLFragment("a &amp; b"), "a &amp; b");
    EXPECT_EQ(KRPlainTextFromHTMLFragment("1 > 0 <i>ok</i> &quot;q&quot; &#39;s&#39;&nbsp;!"), "1 > 0 ok \"q\" 's' !");
    EXPECT_EQ(KRPlainTextFromHTMLFragment("tail <unterminated"), "tail ");
    EXPECT_EQ(KRPlainTextFromHTMLFragment("<>"), "");
    EXPECT_TRUE(KRPlainTextFromHTMLFragment(QString()).isNull());
    EXPECT_EQ(KRPlainTextFromHTMLFragment(""), "");
    // A title that is nothing but markup falls back to the outer object's title.
    auto v = videoFrom(R"({"title": "外层标题", "detail": {"title": "<em></em>"}})");
    EXPECT_EQ(v->title(), "外层标题");
}

TEST(VideoNormalizer, DetailWinsOverTheItemAndTheItemFillsGaps)
{
    auto v = videoFrom(R"({
      "aid": 1, "bvid": "BV1xx411c7mD", "cid": 555, "cover": "//outer/cover.jpg", "title": "外层",
      "tid": 3, "copyright": 2, "tname": "外层分区", "state": -4, "quality": 80,
      "detail": {"aid": 2, "bvid": "BV1GJ411x7h7", "title": "内层", "tid": 0, "tid_v2": 0, "copyright": 0,
                 "stat": {"view": 10}, "state": 0, "quality": 0}
    })");
    EXPECT_EQ(v->aid(), 2);
    EXPECT_EQ(v->bvid(), "BV1GJ411x7h7");
    EXPECT_EQ(v->title(), "内层");
    EXPECT_EQ(v->cid(), 555);
    EXPECT_EQ(v->coverURL(), "https://outer/cover.jpg");
    EXPECT_EQ(v->tid(), 3);        // 0 in the detail: read from the item
    EXPECT_EQ(v->copyright(), 2);
    EXPECT_EQ(v->tname(), "外层分区");
    EXPECT_EQ(v->archiveState(), 0); // present in the detail: the item's -4 is not consulted
    EXPECT_FALSE(v->isUnavailable());
    EXPECT_EQ(v->playbackQuality(), 80);
    EXPECT_EQ(v->playCount(), 10);
    // Fields read from the detail only do not fall back.
    auto onlyOuter = videoFrom(R"({"desc": "外层简介", "duration": 90, "pubdate": 5, "detail": {"title": "t"}})");
    EXPECT_TRUE(onlyOuter->summary().isNull());
    EXPECT_TRUE(onlyOuter->durationText().isNull());
    EXPECT_EQ(onlyOuter->publishTimestamp(), 0.0);
}

TEST(VideoNormalizer, UnavailabilityByStateFlagTitleAndReason)
{
    auto byState = videoFrom(R"({"aid": 1, "title": "正常标题", "state": -4})");
    EXPECT_TRUE(byState->isUnavailable());
    EXPECT_EQ(byState->unavailableReason(), "视频已失效");
    EXPECT_EQ(byState->archiveState(), -4);

    auto byStateWithReason = videoFrom(R"({"aid": 1, "title": "x", "state": -2, "state_desc": "UP主已删除"})");
    EXPECT_TRUE(byStateWithReason->isUnavailable());
    EXPECT_EQ(byStateWithReason->unavailableReason(), "UP主已删除");

    auto byBooleanState = videoFrom(R"({"aid": 1, "title": "x", "status": true})");
    EXPECT_TRUE(byBooleanState->isUnavailable());
    auto numericOne = videoFrom(R"({"aid": 1, "title": "x", "status": 1})");
    EXPECT_FALSE(numericOne->isUnavailable());

    auto byFlag = videoFrom(R"({"aid": 1, "title": "x", "is_invalid": "true"})");
    EXPECT_TRUE(byFlag->isUnavailable());
    auto flagNo = videoFrom(R"({"aid": 1, "title": "x", "invalid": "no"})");
    EXPECT_FALSE(flagNo->isUnavailable());

    auto byTitle = videoFrom(R"({"aid": 1, "title": "  已失效视频\n", "state": 0})");
    EXPECT_TRUE(byTitle->isUnavailable());
    EXPECT_EQ(byTitle->unavailableReason(), "视频已失效");

    auto byReason = videoFrom(R"({"aid": 1, "title": "x", "state": 0, "state_desc": " 审核中 "})");
    EXPECT_TRUE(byReason->isUnavailable());
    EXPECT_EQ(byReason->unavailableReason(), " 审核中 ");

    auto blankReason = videoFrom(R"({"aid": 1, "title": "x", "state": -1, "badge": "   "})");
    EXPECT_TRUE(blankReason->isUnavailable());
    EXPECT_EQ(blankReason->displayUnavailableReason(), "视频已失效");
    EXPECT_EQ(blankReason->unavailableReason(), "视频已失效");

    auto available = videoFrom(R"({"aid": 1, "title": "x", "state": 0, "badge": "独家"})");
    EXPECT_FALSE(available->isUnavailable());
    EXPECT_TRUE(available->unavailableReason().isNull());
}

TEST(VideoNormalizer, CoverAddresses)
{
    EXPECT_EQ(videoFrom(R"({"pic": "//i0.img.test/a.jpg"})")->coverURL(), "https://i0.img.test/a.jpg");
    EXPECT_EQ(videoFrom(R"({"cover": "", "pic": "http://i0.img.test/b.jpg"})")->coverURL(), "http://i0.img.test/b.jpg");
    EXPECT_EQ(videoFrom(R"({"thumbnail": "/relative.jpg"})")->coverURL(), "/relative.jpg");
    EXPECT_TRUE(videoFrom(R"({"cover": null})")->coverURL().isNull());
}

TEST(VideoNormalizer, OwnerShapes)
{
    auto plainText = videoFrom(R"({"owner": "文本作者", "mid": 9, "face": "f.jpg"})");
    EXPECT_EQ(plainText->ownerName(), "文本作者");
    EXPECT_EQ(plainText->ownerMID(), 9);
    EXPECT_EQ(plainText->ownerAvatarURL(), "f.jpg");
    auto up = videoFrom(R"({"up": {"uid": "42", "uname": "UP", "avatar": "a.jpg"}, "author": "不用"})");
    EXPECT_EQ(up->ownerName(), "UP");
    EXPECT_EQ(up->ownerMID(), 42);
    EXPECT_EQ(up->ownerAvatarURL(), "a.jpg");
    auto fromAuthor = videoFrom(R"({"owner": {"mid": 0}, "author_name": "作者", "author_mid": 7, "author_face": "x.jpg"})");
    EXPECT_EQ(fromAuthor->ownerName(), "作者");
    EXPECT_EQ(fromAuthor->ownerMID(), 7);
    EXPECT_EQ(fromAuthor->ownerAvatarURL(), "x.jpg");
    auto numericName = videoFrom(R"({"owner": 123})");
    EXPECT_EQ(numericName->ownerName(), "123");
}

TEST(VideoNormalizer, StatisticsRule)
{
    auto outerPlay = videoFrom(R"({"stat": {"view": 0}, "play": 120})");
    EXPECT_EQ(outerPlay->playCount(), 120);
    EXPECT_TRUE(outerPlay->statisticsKnown());
    EXPECT_EQ(outerPlay->displayPlayCount(), "120");

    auto none = videoFrom(R"({"aid": 5, "title": "无统计"})");
    EXPECT_FALSE(none->statisticsKnown());
    EXPECT_EQ(none->displayPlayCount(), "—");
    EXPECT_EQ(none->displayDanmakuCount(), "—");

    auto outerOnly = videoFrom(R"({"stat": {"like": 3}, "video_review": "12", "comment": 4})");
    EXPECT_EQ(outerOnly->danmakuCount(), 12);
    EXPECT_EQ(outerOnly->replyCount(), 4);
    EXPECT_TRUE(outerOnly->statisticsKnown());

    auto cntInfo = videoFrom(R"({"cnt_info": {"play": 77, "danmaku": 5, "reply": 0}})");
    EXPECT_EQ(cntInfo->playCount(), 77);
    EXPECT_EQ(cntInfo->danmakuCount(), 5);

    // A "stat" that is not an object leaves the counts to the item itself.
    auto flat = videoFrom(R"({"stat": 5, "stats": {"view": 999}, "view": 3})");
    EXPECT_EQ(flat->playCount(), 3);

    auto zeroKnown = videoFrom(R"({"view": 0})");
    EXPECT_TRUE(zeroKnown->statisticsKnown());
    EXPECT_EQ(zeroKnown->displayPlayCount(), "0");
}

TEST(VideoNormalizer, PartsWithoutPageNumbersAndOldAPILists)
{
    auto numbered = videoFrom(R"({"pages": [{"cid": 11, "part": "A"}, {"cid": 12, "page": 0, "title": "B"}, "skip", {"cid": 13, "length": "05:00"}]})");
    ASSERT_EQ(numbered->pages().size(), 3);
    EXPECT_EQ(numbered->pages().at(0).value("page").toInt(), 1);
    EXPECT_EQ(numbered->pages().at(1).value("page").toInt(), 2);
    EXPECT_EQ(numbered->pages().at(2).value("page").toInt(), 3);
    EXPECT_EQ(numbered->pages().at(2).value("duration").toString(), "05:00");
    EXPECT_EQ(numbered->cid(), 11);
    EXPECT_EQ(numbered->pageCount(), 3);

    QByteArray legacy = R"({"aid": 9, "title": "旧接口", "list": {)";
    for (int i = 0; i <= 10; ++i)
        legacy += QByteArray(i ? "," : "") + "\"" + QByteArray::number(i) + "\": {\"page\": 0, \"cid\": " + QByteArray::number(1000 + i) + ", \"part\": \"P" + QByteArray::number(i) + "\"}";
    legacy += "}}";
    auto old = videoFrom(legacy.constData());
    ASSERT_EQ(old->pages().size(), 11);
    QStringList order;
    for (const KRVideoPartInfo& part : old->pages())
        order << part.value("part").toString();
    EXPECT_EQ(order, QStringList({"P0", "P1", "P10", "P2", "P3", "P4", "P5", "P6", "P7", "P8", "P9"}));
    EXPECT_EQ(old->pages().at(2).value("page").toInt(), 3);
    EXPECT_EQ(old->cid(), 1000); // the first legacy page in key order
    EXPECT_EQ(old->pageCount(), 11);

    auto declared = videoFrom(R"({"cid": 5, "videos": "4"})");
    EXPECT_EQ(declared->pageCount(), 4);
    auto bareCount = videoFrom(R"({"pages": 6})");
    EXPECT_EQ(bareCount->pageCount(), 6);
    auto single = videoFrom(R"({"cid": 5})");
    EXPECT_EQ(single->pageCount(), 1);
    EXPECT_TRUE(single->pages().isEmpty());
    auto none = videoFrom(R"({"aid": 5})");
    EXPECT_EQ(none->pageCount(), 0);
}

TEST(VideoNormalizer, CidSources)
{
    EXPECT_EQ(videoFrom(R"({"pages": [{"page_id": 77}], "cid": 1})")->cid(), 77);
    EXPECT_EQ(videoFrom(R"({"pages": [{"page": 1}], "first_cid": 88})")->cid(), 88);
    EXPECT_EQ(videoFrom(R"({"detail": {"pages": []}, "list": {"0": {"cid": 99}}})")->cid(), 99);
    EXPECT_EQ(videoFrom(R"({"detail": {"title": "x"}, "cid": "123abc"})")->cid(), 123);
}

TEST(VideoNormalizer, PGCByRedirectEpisodeAndBusiness)
{
    auto redirect = videoFrom(R"({"aid": 3, "bvid": "BV1GJ411x7h7", "redirect_url": "https://www.zantorel.test/bangumi/play/ep5678?from=search"})");
    EXPECT_TRUE(redirect->isPGC());
    EXPECT_EQ(redirect->episodeID(), 5678);
    EXPECT_EQ(redirect->seasonID(), 0);

    auto seasonOnly = videoFrom(R"({"aid": 3, "season_id": 44})");
    EXPECT_FALSE(seasonOnly->isPGC());
    EXPECT_EQ(seasonOnly->seasonID(), 0);

    auto business = videoFrom(R"({"goto": "PGC", "season_id": 44})");
    EXPECT_TRUE(business->isPGC());
    EXPECT_EQ(business->seasonID(), 44);
    EXPECT_EQ(business->episodeID(), 0);

    auto historyEntry = videoFrom(R"({"title": "番剧", "history": {"oid": 1, "epid": 321, "business": "pgc", "cid": 9},
        "kid": 1, "progress": 0, "badge": "番剧", "view_at": 1700000000, "redirectUrl": "https://m.zantorel.test/bangumi/play/ss99"})");
    EXPECT_TRUE(historyEntry->isPGC());
    EXPECT_EQ(historyEntry->episodeID(), 321);
    EXPECT_EQ(historyEntry->seasonID(), 99);
    EXPECT_EQ(historyEntry->historyViewAt(), 1700000000.0);
    EXPECT_FALSE(historyEntry->isUnavailable()); // badge "番剧" is no unavailability word

    auto bangumiType = videoFrom(R"({"type": "Bangumi", "ep_id": "0"})");
    EXPECT_TRUE(bangumiType->isPGC());
}

TEST(VideoNormalizer, RedirectIdentifiers)
{
    EXPECT_EQ(KRPGCIdentifierFromRedirectURL("https://h.test/bangumi/play/ep1234?x=1", "ep"), 1234);
    EXPECT_EQ(KRPGCIdentifierFromRedirectURL("https://h.test/bangumi/play/ep1234?x=1", "ss"), 0);
    EXPECT_EQ(KRPGCIdentifierFromRedirectURL("https://h.test/BANGUMI/Play/EP77", "ep"), 77);
    EXPECT_EQ(KRPGCIdentifierFromRedirectURL("https://h.test/video/ep1234", "ep"), 0);
    EXPECT_EQ(KRPGCIdentifierFromRedirectURL("", "ep"), 0);
    EXPECT_EQ(KRPGCIdentifierFromRedirectURL("https://h.test/bangumi/play/ep1", ""), 0);
    EXPECT_EQ(KRPGCIdentifierFromRedirectURL("https://h.test/bangumi/play/ss1/ep2/ep33", "ep"), 33);
    // The last marker decides even when no digits follow it.
    EXPECT_EQ(KRPGCIdentifierFromRedirectURL("https://h.test/bangumi/play/ep12/episode", "ep"), 0);
    EXPECT_EQ(KRPGCIdentifierFromRedirectURL("https://h.test/bangumi/play/ep99999999999999999999999", "ep"),
              std::numeric_limits<qint64>::max());

    EXPECT_EQ(KRPGCIDFromRedirectURL("https://h.test/bangumi/play/ep12345?from=x", "ep"), 12345);
    EXPECT_EQ(KRPGCIDFromRedirectURL("https://h.test/anything/ss7", "ss"), 7);
    EXPECT_EQ(KRPGCIDFromRedirectURL("https://h.test/bangumi/play/EP12", "ep"), 0);
    EXPECT_EQ(KRPGCIDFromRedirectURL("https://h.test/ep1/ep2", "ep"), 2);
    EXPECT_EQ(KRPGCIDFromRedirectURL("https://h.test/ep", "ep"), 0);
    EXPECT_EQ(KRPGCIDFromRedirectURL("https://h.test/ep-5", "ep"), 0);
    EXPECT_EQ(KRPGCIDFromRedirectURL(QString(), "ep"), 0);
}

TEST(VideoNormalizer, HistoryValues)
{
    auto server = videoFrom(R"({"history": {"progress": "95.5", "duration": 300}, "view_at": 1700000001})");
    EXPECT_DOUBLE_EQ(server->historyProgress(), 95.5);
    EXPECT_DOUBLE_EQ(server->historyDuration(), 300.0);
    EXPECT_EQ(server->historyViewAt(), 1700000001.0);
    auto finished = videoFrom(R"({"history": {"progress": -1, "video_duration": "abc"}})");
    EXPECT_EQ(finished->historyProgress(), 0.0);
    EXPECT_EQ(finished->historyDuration(), 0.0);
    auto local = videoFrom(R"({"history_progress": 12.5, "history_duration": "600", "history_view_at": 1700000002, "progress": 99})");
    EXPECT_DOUBLE_EQ(local->historyProgress(), 12.5);
    EXPECT_DOUBLE_EQ(local->historyDuration(), 600.0);
    EXPECT_EQ(local->historyViewAt(), 1700000002.0);
}

TEST(VideoNormalizer, PlayAddressCandidates)
{
    auto v = videoFrom(R"({"durl": [
        {"order": 1, "url": "//cdn1.test/a.mp4", "backup_url": ["https://cdn2.test/a.mp4", "https://cdn1.test/a.mp4"]},
        {"order": 2, "url": "https://cdn2.test/a.mp4", "backupUrl": [{"baseUrl": "https://cdn3.test/a.mp4"}]},
        "https://cdn4.test/a.mp4", 12, null, ""
    ]})");
    EXPECT_EQ(v->playURLCandidates(),
              QStringList({"https://cdn1.test/a.mp4", "https://cdn2.test/a.mp4", "https://cdn3.test/a.mp4", "https://cdn4.test/a.mp4"}));
    EXPECT_EQ(v->playURL(), "https://cdn1.test/a.mp4");
    auto none = videoFrom(R"({"playurl": []})");
    EXPECT_TRUE(none->playURLCandidates().isEmpty());
    EXPECT_TRUE(none->playURL().isNull());

    QStringList list{"https://cdn1.test/x"};
    KRAppendPlayURLs(parse(R"({"url": "//cdn1.test/x", "durl": {"play_url": "y"}})"), list);
    EXPECT_EQ(list, QStringList({"https://cdn1.test/x", "y"}));
}

TEST(VideoNormalizer, DurationTexts)
{
    EXPECT_EQ(KRDuration(QVariant(59)), "00:59");
    EXPECT_EQ(KRDuration(QVariant(3599)), "59:59");
    EXPECT_EQ(KRDuration(QVariant(3600)), "1:00:00");
    EXPECT_EQ(KRDuration(QVariant(360000)), "100:00:00");
    EXPECT_EQ(KRDuration(QVariant("125")), "02:05");
    EXPECT_EQ(KRDuration(QVariant("3:25")), "3:25");
    EXPECT_EQ(KRDuration(QVariant(61.9)), "01:01");
    EXPECT_EQ(KRDuration(QVariant(0)), "0");
    EXPECT_EQ(KRDuration(QVariant("abc")), "abc");
    EXPECT_EQ(KRDuration(QVariant(-5)), "-5");
    EXPECT_TRUE(KRDuration(QVariant()).isNull());
    EXPECT_TRUE(KRDuration(QVariant::fromValue(nullptr)).isNull());
    EXPECT_TRUE(KRDuration(QVariant(QVariantList{60})).isNull());

    EXPECT_EQ(KRAPIDurationText(59999), "00:59");
    EXPECT_EQ(KRAPIDurationText(3600000), "1:00:00");
    EXPECT_EQ(KRAPIDurationText(3599999), "59:59");
    EXPECT_EQ(KRAPIDurationText(1000), "00:01");
    EXPECT_TRUE(KRAPIDurationText(999).isNull());
    EXPECT_TRUE(KRAPIDurationText(-5000).isNull());
}

TEST(VideoNormalizer, PayloadNavigation)
{
    EXPECT_FALSE(KRVideoNormalizer::dictionaryFromPayload(QVariant()).has_value());
    EXPECT_FALSE(KRVideoNormalizer::dictionaryFromPayload(parse("[1]")).has_value());
    EXPECT_EQ(KRVideoNormalizer::dictionaryFromPayload(parse(R"({"data": {"a": 1}, "result": {"b": 2}})"))->value("a").toInt(), 1);
    EXPECT_EQ(KRVideoNormalizer::dictionaryFromPayload(parse(R"({"data": [], "result": {"b": 2}})"))->value("b").toInt(), 2);
    EXPECT_EQ(KRVideoNormalizer::dictionaryFromPayload(parse(R"({"data": null, "c": 3})"))->value("c").toInt(), 3);

    EXPECT_FALSE(KRVideoNormalizer::arrayFromPayload(parse(R"({"data": {"x": []}})")).has_value());
    EXPECT_EQ(KRVideoNormalizer::arrayFromPayload(parse(R"([1, 2])"))->size(), 2);
    // Depth-first: the nested "data"."list" is found before the outer "list".
    EXPECT_EQ(KRVideoNormalizer::arrayFromPayload(parse(R"({"list": [1], "data": {"item": [1, 2, 3]}})"))->size(), 3);
    // An object under an earlier key that holds no array does not end the search.
    EXPECT_EQ(KRVideoNormalizer::arrayFromPayload(parse(R"({"data": {"page": {}}, "archives": [1, 2]})"))->size(), 2);
    EXPECT_EQ(KRVideoNormalizer::arrayFromPayload(parse(R"({"data": {"list": {"vlist": [1]}}})"))->size(), 1);
    EXPECT_FALSE(KRVideoNormalizer::arrayFromPayload(QVariant(QString("x"))).has_value());

    // A ranking reply.
    const auto ranking = KRVideoNormalizer::videosFromPayload(parse(R"({"code": 0, "data": {"note": "n", "list": [
        {"aid": 1, "bvid": "BV1xx411c7mD", "title": "一", "owner": {"mid": 1, "name": "a"}, "stat": {"view": 10}},
        {"aid": 2, "bvid": "BV1GJ411x7h7", "title": "二", "owner": {"mid": 2, "name": "b"}, "stat": {"view": 20}}]}})"));
    ASSERT_EQ(ranking.size(), 2);
    EXPECT_EQ(ranking.at(1)->title(), "二");

    // A single object with a null "aid" still counts as a video object.
    EXPECT_EQ(KRVideoNormalizer::videosFromPayload(parse(R"({"data": {"aid": null, "title": "t"}})")).size(), 1);
    EXPECT_TRUE(KRVideoNormalizer::videosFromPayload(parse(R"({"data": {"title": "t"}})")).isEmpty());
    EXPECT_TRUE(KRVideoNormalizer::videosFromPayload(QVariant()).isEmpty());
    EXPECT_TRUE(KRVideoNormalizer::videosFromPayload(QVariant(5)).isEmpty());
    EXPECT_TRUE(KRVideoNormalizer::videosFromPayload(parse(R"({"code": -404, "data": {"list": []}})")).isEmpty());

    EXPECT_FALSE(KRVideoNormalizer::videoFromDictionary(QVariant(QString("x"))));
    EXPECT_FALSE(KRVideoNormalizer::videoFromDictionary(QVariant()));
    EXPECT_TRUE(KRVideoNormalizer::videoFromDictionary(QVariantMap()));
}

TEST(VideoNormalizer, LegacyPageHelper)
{
    EXPECT_FALSE(KRFirstLegacyPage(parse(R"({"list": {}})").toMap()).has_value());
    EXPECT_FALSE(KRFirstLegacyPage(parse(R"({"list": [{"cid": 1}]})").toMap()).has_value());
    EXPECT_FALSE(KRFirstLegacyPage(parse(R"({"list": {"0": 1, "1": "x"}})").toMap()).has_value());
    EXPECT_EQ(KRFirstLegacyPage(parse(R"({"list": {"2": {"cid": 2}, "0": 5, "10": {"cid": 3}}})").toMap())->value("cid").toInt(), 3);
}

TEST(VideoNormalizer, HostileValuesNeverBreakTheReader)
{
    // Every field key with a value of every wrong kind.
    const QStringList keys = {"aid", "bvid", "cid", "tid", "copyright", "tname", "title", "state", "attr", "owner", "up",
                              "pubdate", "cover", "duration", "stat", "pages", "videos", "desc", "playurl", "durl",
                              "business", "ep_id", "season_id", "history", "redirect_url", "dimension", "quality",
                              "view_at", "list", "detail", "history_progress", "is_invalid", "state_desc"};
    const QVariantList wrong = {QVariant::fromValue(nullptr), QVariant(true), QVariant(-1.5), QVariant(QString("x<y")),
                                QVariant(QVariantList{QVariant::fromValue(nullptr), 1}), QVariant(QVariantMap{{"x", 1}}),
                                QVariant(qint64(-9223372036854775807LL - 1))};
    for (const QVariant& value : wrong) {
        QVariantMap d;
        for (const QString& key : keys)
            d.insert(key, value);
        const auto video = KRVideoNormalizer::videoFromDictionary(d);
        ASSERT_TRUE(video);
        EXPECT_GE(video->historyProgress(), 0.0);
        EXPECT_GE(video->historyDuration(), 0.0);
        const auto videos = KRVideoNormalizer::videosFromPayload(QVariant(d));
        EXPECT_LE(videos.size(), 1);
    }
}
