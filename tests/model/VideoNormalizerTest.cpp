#include "model/KRAPIReplyHelpers.h"
#include "model/KRJSON.h"
#include "model/KRVideo.h"
#include "model/KRVideoNormalizer.h"

#include <gtest/gtest.h>

#include <limits>

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

// The fields of a video by short names, so that rule tests can be tables.
QVariantMap fieldsOf(const KRVideo& v)
{
    return {{"aid", v.aid()}, {"bvid", v.bvid()}, {"cid", v.cid()}, {"tid", v.tid()}, {"copyright", v.copyright()},
            {"tname", v.tname()}, {"title", v.title()}, {"cover", v.coverURL()}, {"owner", v.ownerName()},
            {"mid", v.ownerMID()}, {"face", v.ownerAvatarURL()}, {"pubdate", v.publishTimestamp()},
            {"duration", v.durationText()}, {"play", v.playCount()}, {"danmaku", v.danmakuCount()},
            {"reply", v.replyCount()}, {"statsKnown", v.statisticsKnown()}, {"pageCount", v.pageCount()},
            {"summary", v.summary()}, {"width", v.width()}, {"height", v.height()}, {"quality", v.playbackQuality()},
            {"state", v.archiveState()}, {"attr", v.resourceAttribute()}, {"unavailable", v.isUnavailable()},
            {"reason", v.unavailableReason()}, {"pgc", v.isPGC()}, {"ep", v.episodeID()}, {"season", v.seasonID()},
            {"viewAt", v.historyViewAt()}, {"progress", v.historyProgress()}, {"historyDuration", v.historyDuration()}};
}

// Compares the named fields: texts as texts, everything else by numeric value (counts are
// 64-bit, flags booleans); an invalid expected value means a null text.
void expectFields(const KRVideo& video, const QVariantMap& expected, const char* what)
{
    const QVariantMap actual = fieldsOf(video);
    for (const auto& [key, value] : expected.asKeyValueRange()) {
        ASSERT_TRUE(actual.contains(key)) << key.toStdString();
        const QVariant got = actual.value(key);
        const bool same = !value.isValid() ? got.toString().isNull()
            : value.typeId() == QMetaType::QString ? got.toString() == value.toString() : got.toDouble() == value.toDouble();
        EXPECT_TRUE(same) << key.toStdString() << " of " << what << ": " << got.toString().toStdString();
    }
}

// A web view reply as the detail endpoint sends it.
const char* kViewReply = R"({"code": 0, "message": "0", "ttl": 1, "data": {
    "bvid": "BV1GJ411x7h7", "aid": 80433022, "videos": 3, "tid": 17, "tname": "单机游戏", "copyright": 1,
    "pic": "//i0.zantorel-img.test/bfs/archive/abc.jpg", "title": "【合集】三段式测试", "pubdate": 1578296400,
    "ctime": 1578296401, "desc": "简介\n第二行", "state": 0, "duration": 3725, "attribute": 16512, "cid": 137649199,
    "owner": {"mid": 546195, "name": "测试UP主", "face": "https://i1.zantorel-img.test/face.jpg"},
    "stat": {"aid": 80433022, "view": 1234567, "danmaku": 8910, "reply": 1112, "favorite": 3, "coin": 4, "like": 6},
    "dimension": {"width": 1920, "height": 1080, "rotate": 0},
    "pages": [{"cid": 137649199, "page": 1, "part": "第一段", "duration": 1200, "dimension": {"width": 1920, "height": 1080}},
              {"cid": 137649200, "page": 2, "part": "第二段", "duration": 1300, "dimension": {"width": 1080, "height": 1920, "rotate": 1}},
              {"cid": 137649201, "page": 3, "from": "vupload", "part": "第三段", "duration": 1225}]}})";

} // namespace

TEST(VideoNormalizer, ReadsAWebViewReply)
{
    const auto videos = KRVideoNormalizer::videosFromPayload(parse(kViewReply));
    ASSERT_EQ(videos.size(), 1);
    const KRVideo& v = *videos.first();
    expectFields(v, {
        {"aid", 80433022}, {"bvid", "BV1GJ411x7h7"}, {"cid", 137649199}, {"tid", 17}, {"copyright", 1},
        {"tname", "单机游戏"}, {"title", "【合集】三段式测试"}, {"cover", "https://i0.zantorel-img.test/bfs/archive/abc.jpg"},
        {"owner", "测试UP主"}, {"mid", 546195}, {"face", "https://i1.zantorel-img.test/face.jpg"},
        {"pubdate", 1578296400}, {"duration", "1:02:05"}, {"play", 1234567}, {"danmaku", 8910}, {"reply", 1112},
        {"statsKnown", true}, {"pageCount", 3}, {"summary", "简介\n第二行"}, {"width", 1920}, {"height", 1080},
        {"state", 0}, {"attr", 16512}, {"unavailable", false}, {"pgc", false}}, "the view reply");
    EXPECT_EQ(v.resolvedAid(), 0) << "never set by the normaliser";
    EXPECT_TRUE(v.playURL().isNull());
    ASSERT_EQ(v.pages().size(), 3);
    EXPECT_EQ(v.pages().at(1), (KRVideoPartInfo{{"cid", 137649200}, {"page", 2}, {"part", "第二段"},
                                                {"duration", "21:40"}, {"width", 1080}, {"height", 1920}, {"rotate", 1}}));
    EXPECT_EQ(v.pages().at(2), (KRVideoPartInfo{{"cid", 137649201}, {"page", 3}, {"part", "第三段"}, {"duration", "20:25"}}));
}

TEST(VideoNormalizer, TitleMarkupAndEntities)
{
    const struct { const char* in; const char* out; } rows[] = {
        {"关于<em class=\"keyword\">猫</em>的视频", "关于猫的视频"},
        // "&amp;" is decoded first, so an escaped "&amp;lt;" ends as "<"; without "<" nothing is decoded.
        {"<b>x</b> &amp;lt;", "x <"}, {"a &amp; b", "a &amp; b"},
        {"1 > 0 <i>ok</i> &quot;q&quot; &#39;s&#39;&nbsp;!", "1 > 0 ok \"q\" 's' !"},
        {"tail <unterminated", "tail "}, {"<>", ""}, {"", ""},
    };
    for (const auto& row : rows)
        EXPECT_EQ(KRPlainTextFromHTMLFragment(QString::fromUtf8(row.in)), QString::fromUtf8(row.out)) << row.in;
    EXPECT_TRUE(KRPlainTextFromHTMLFragment(QString()).isNull());
}

TEST(VideoNormalizer, FieldRules)
{
    const QVariant null; // a null text
    const struct { const char* json; QVariantMap expected; } rows[] = {
        // The detail wins; what it lacks (or gives as 0) comes from the item; the item's -4 is
        // not consulted when the detail has a state; detail-only fields never fall back.
        {R"({"aid": 1, "bvid": "BV1xx411c7mD", "cid": 555, "cover": "//outer/c.jpg", "title": "外层", "tid": 3,
             "copyright": 2, "tname": "外层分区", "state": -4, "quality": 80, "desc": "外层简介", "duration": 90, "pubdate": 5,
             "detail": {"aid": 2, "bvid": "BV1GJ411x7h7", "title": "内层", "tid": 0, "tid_v2": 0, "copyright": 0,
                        "stat": {"view": 10}, "state": 0, "quality": 0}})",
         {{"aid", 2}, {"bvid", "BV1GJ411x7h7"}, {"title", "内层"}, {"play", 10}, {"cid", 555}, {"cover", "https://outer/c.jpg"},
          {"tid", 3}, {"copyright", 2}, {"tname", "外层分区"}, {"quality", 80}, {"state", 0}, {"unavailable", false},
          {"summary", null}, {"duration", null}, {"pubdate", 0}}},
        {R"({"title": "外层标题", "detail": {"title": "<em></em>"}})", {{"title", "外层标题"}}},
        // A search result: numbers as text, the author beside the item, scheme-relative cover.
        {R"({"type": "video", "author": "搜索作者", "mid": 77, "typeid": "17", "bvid": "", "play": "--",
             "video_review": 321, "pic": "//i2.img.test/s.jpg", "duration": "0:7"})",
         {{"owner", "搜索作者"}, {"mid", 77}, {"tid", 17}, {"bvid", null}, {"play", 0}, {"statsKnown", true},
          {"danmaku", 321}, {"cover", "https://i2.img.test/s.jpg"}, {"duration", "0:7"}, {"pgc", false}}},
        {R"({"cover": "", "pic": "http://i0.img.test/b.jpg"})", {{"cover", "http://i0.img.test/b.jpg"}}},
        {R"({"cover": null, "thumbnail": "/relative.jpg"})", {{"cover", "/relative.jpg"}}},
        // Owners: plain text, "up" objects, the author keys beside an owner without them.
        {R"({"owner": "文本作者", "mid": 9, "face": "f.jpg"})", {{"owner", "文本作者"}, {"mid", 9}, {"face", "f.jpg"}}},
        {R"({"owner": 123})", {{"owner", "123"}}},
        {R"({"up": {"uid": "42", "uname": "UP", "avatar": "a.jpg"}, "author": "不用"})",
         {{"owner", "UP"}, {"mid", 42}, {"face", "a.jpg"}}},
        {R"({"owner": {"mid": 0}, "author_name": "作者", "author_mid": 7, "author_face": "x.jpg"})",
         {{"owner", "作者"}, {"mid", 7}, {"face", "x.jpg"}}},
        // Statistics: a zero placeholder in "stat" is read again beside it, which also makes
        // the counts known; a first statistics value that is no object leaves them to the item.
        {R"({"stat": {"view": 0}, "play": 120})", {{"play", 120}, {"statsKnown", true}}},
        {R"({"stat": {"like": 3}, "video_review": "12", "comment": 4})", {{"danmaku", 12}, {"reply", 4}, {"statsKnown", true}}},
        {R"({"stat": {"like": 3}})", {{"statsKnown", false}}},
        {R"({"cnt_info": {"play": 77, "danmaku": 5}})", {{"play", 77}, {"danmaku", 5}}},
        {R"({"stat": 5, "stats": {"view": 999}, "view": 3})", {{"play", 3}}},
        {R"({"view": 0})", {{"statsKnown", true}}},
        // Part counts and the cid: the first part, else the first old-API page, else the object.
        {R"({"cid": 5, "videos": "4"})", {{"pageCount", 4}}},
        {R"({"pages": 6})", {{"pageCount", 6}}},
        {R"({"cid": 5})", {{"pageCount", 1}}},
        {R"({"aid": 5})", {{"pageCount", 0}, {"statsKnown", false}}},
        {R"({"pages": [{"page_id": 77}], "cid": 1})", {{"cid", 77}}},
        {R"({"pages": [{"page": 1}], "first_cid": 88})", {{"cid", 88}}},
        {R"({"detail": {"pages": []}, "list": {"0": {"cid": 99}}})", {{"cid", 99}}},
        {R"({"detail": {"title": "x"}, "cid": "123abc"})", {{"cid", 123}}},
        // PGC: by redirect, business or history; a season id alone is not kept.
        {R"({"redirect_url": "https://www.zantorel.test/bangumi/play/ep5678?from=search"})",
         {{"pgc", true}, {"ep", 5678}, {"season", 0}}},
        {R"({"aid": 3, "season_id": 44})", {{"pgc", false}, {"season", 0}}},
        {R"({"goto": "PGC", "season_id": 44})", {{"pgc", true}, {"season", 44}, {"ep", 0}}},
        {R"({"type": "Bangumi", "ep_id": "0"})", {{"pgc", true}}},
        {R"({"history": {"epid": 321, "progress": "95.5", "duration": 300}, "view_at": 1700000000,
             "redirectUrl": "https://m.zantorel.test/bangumi/play/ss99"})",
         {{"pgc", true}, {"ep", 321}, {"season", 99}, {"viewAt", 1700000000}, {"progress", 95.5}, {"historyDuration", 300}}},
        // History values above 0 only; local records use their own keys, not a bare "progress".
        {R"({"history": {"progress": -1, "video_duration": "abc"}})", {{"progress", 0}, {"historyDuration", 0}}},
        {R"({"history_progress": 12.5, "history_duration": "600", "history_view_at": 1700000002, "progress": 99})",
         {{"progress", 12.5}, {"historyDuration", 600}, {"viewAt", 1700000002}}},
    };
    for (const auto& row : rows)
        expectFields(*videoFrom(row.json), row.expected, row.json);
}

TEST(VideoNormalizer, UnavailabilityByStateFlagTitleAndReason)
{
    const struct { const char* json; bool unavailable; const char* reason; } rows[] = {
        {R"({"title": "正常标题", "state": -4})", true, "视频已失效"},
        {R"({"title": "x", "state": -2, "state_desc": "UP主已删除"})", true, "UP主已删除"},
        {R"({"title": "x", "status": true})", true, "视频已失效"}, // a JSON boolean state, not the number 1
        {R"({"title": "x", "status": 1})", false, nullptr},
        {R"({"title": "x", "is_invalid": "true"})", true, "视频已失效"},
        {R"({"title": "x", "invalid": "no"})", false, nullptr},
        {R"({"title": "  已失效视频\n", "state": 0})", true, "视频已失效"},
        // Only the whole title counts: one that starts with a dead title, or differs by a character, is a video.
        {R"({"title": "已失效视频合集", "state": 0})", false, nullptr},
        {R"({"title": "已失效视屏", "state": 0})", false, nullptr},
        {R"({"title": "x", "state": 0, "state_desc": " 审核中 "})", true, " 审核中 "},
        // A reason of blanks only would show an empty label: the default text stands in.
        {R"({"title": "x", "state": -1, "badge": "   "})", true, "视频已失效"},
        // Unavailability words only count; an available video keeps no reason.
        {R"({"title": "x", "state": 0, "badge": "独家"})", false, nullptr},
    };
    for (const auto& row : rows) {
        const auto video = videoFrom(row.json);
        EXPECT_EQ(video->isUnavailable(), row.unavailable) << row.json;
        EXPECT_EQ(video->unavailableReason(), QString::fromUtf8(row.reason)) << row.json;
        EXPECT_EQ(video->unavailableReason().isNull(), row.reason == nullptr) << row.json;
    }
}

TEST(VideoNormalizer, PartsWithoutPageNumbersAndOldAPILists)
{
    auto numbered = videoFrom(R"({"pages": [{"cid": 11, "part": "A"}, {"cid": 12, "page": 0, "title": "B"}, "skip", {"cid": 13, "length": "05:00"}]})");
    ASSERT_EQ(numbered->pages().size(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(numbered->pages().at(i).value("page").toInt(), i + 1);
    EXPECT_EQ(numbered->pages().at(2).value("duration").toString(), "05:00");
    EXPECT_EQ(numbered->pageCount(), 3);

    QByteArray legacy = R"({"aid": 9, "list": {)";
    for (int i = 0; i <= 10; ++i)
        legacy += QByteArray(i ? "," : "") + "\"" + QByteArray::number(i) + "\": {\"cid\": " + QByteArray::number(1000 + i) + ", \"part\": \"P" + QByteArray::number(i) + "\"}";
    auto old = videoFrom((legacy + "}}").constData());
    QStringList order;
    for (const KRVideoPartInfo& part : old->pages())
        order << part.value("part").toString();
    // Keys in plain character-code order: "10" before "2".
    EXPECT_EQ(order, QStringList({"P0", "P1", "P10", "P2", "P3", "P4", "P5", "P6", "P7", "P8", "P9"}));
    EXPECT_EQ(old->pages().at(2).value("page").toInt(), 3);
    EXPECT_EQ(old->cid(), 1000);
    EXPECT_EQ(old->pageCount(), 11);
    EXPECT_EQ(KRFirstLegacyPage(parse(R"({"list": {"2": {"cid": 2}, "0": 5, "10": {"cid": 3}}})").toMap())->value("cid").toInt(), 3);
}

TEST(VideoNormalizer, RedirectIdentifiers)
{
    // The normaliser's reader needs a PGC page and ignores case; the loaders' reader does neither.
    const struct { const char* address; const char* marker; qint64 normaliser, loader; } rows[] = {
        {"https://h.test/bangumi/play/ep1234?x=1", "ep", 1234, 1234},
        {"https://h.test/bangumi/play/ep1234?x=1", "ss", 0, 0},
        {"https://h.test/BANGUMI/Play/EP77", "ep", 77, 0},
        {"https://h.test/video/ep1234", "ep", 0, 1234},
        {"", "ep", 0, 0},
        {"https://h.test/bangumi/play/ep1", "", 0, 0},
        {"https://h.test/bangumi/play/ss1/ep2/ep33", "ep", 33, 33},
        // The last marker decides even when no digits follow it.
        {"https://h.test/bangumi/play/ep12/episode", "ep", 0, 0},
        {"https://h.test/bangumi/play/ep-5", "ep", 0, 0},
        {"https://h.test/bangumi/play/ep99999999999999999999999", "ep", std::numeric_limits<qint64>::max(),
         std::numeric_limits<qint64>::max()},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(KRPGCIdentifierFromRedirectURL(row.address, row.marker), row.normaliser) << row.address;
        EXPECT_EQ(KRPGCIDFromRedirectURL(row.address, row.marker), row.loader) << row.address;
    }
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
    EXPECT_TRUE(videoFrom(R"({"playurl": []})")->playURL().isNull());

    QStringList list{"https://cdn1.test/x"};
    KRAppendPlayURLs(parse(R"({"url": "//cdn1.test/x", "durl": {"play_url": "y"}})"), list);
    EXPECT_EQ(list, QStringList({"https://cdn1.test/x", "y"}));
}

TEST(VideoNormalizer, DurationTexts)
{
    const struct { QVariant value; const char* expected; } rows[] = {
        {59, "00:59"}, {3599, "59:59"}, {3600, "1:00:00"}, {360000, "100:00:00"}, {"125", "02:05"},
        {"3:25", "3:25"}, {61.9, "01:01"},
        // Below one second, or not a count, the value's own text (null when it has none).
        {0, "0"}, {"abc", "abc"}, {-5, "-5"}, {QVariant(), nullptr}, {QVariant::fromValue(nullptr), nullptr},
        {QVariantList{60}, nullptr}, {QVariantMap{{"seconds", 60}}, nullptr}, {0.5, "0.5"},
        // Booleans are counts like any number.
        {true, "00:01"}, {false, "0"},
    };
    for (const auto& row : rows) {
        const QString actual = KRDuration(row.value);
        EXPECT_EQ(actual, QString::fromUtf8(row.expected)) << row.value.toString().toStdString();
        EXPECT_EQ(actual.isNull(), row.expected == nullptr);
    }
    EXPECT_EQ(KRAPIDurationText(59999), "00:59");
    EXPECT_EQ(KRAPIDurationText(1000), "00:01");
    EXPECT_EQ(KRAPIDurationText(3600000), "1:00:00");
    EXPECT_TRUE(KRAPIDurationText(999).isNull());
}

TEST(VideoNormalizer, DurationSecondsReadWhatTheTextsWrite)
{
    // The parts' durations are kept as text: "05:12" is five minutes and twelve seconds.
    for (const qint64 seconds : {1, 59, 312, 3599, 3600, 3725, 360000})
        EXPECT_EQ(KRDurationSeconds(KRDuration(seconds)), double(seconds)) << seconds;
    const struct { QVariant value; double expected; } rows[] = {
        {"05:12", 312}, {"1:02:05", 3725}, {312, 312}, {"312", 312}, {12.5, 12.5},
        {"1:2:3:4", 0}, {"ab:12", 0}, {"-1:10", 0}, {"", 0}, {-5, 0}, {QVariant(), 0}, {QVariantList{60}, 0},
    };
    for (const auto& row : rows)
        EXPECT_EQ(KRDurationSeconds(row.value), row.expected) << row.value.toString().toStdString();
}

TEST(VideoNormalizer, PayloadNavigation)
{
    EXPECT_FALSE(KRVideoNormalizer::dictionaryFromPayload(parse("[1]")).has_value());
    EXPECT_EQ(KRVideoNormalizer::dictionaryFromPayload(parse(R"({"data": {"a": 1}, "result": {"b": 2}})"))->value("a").toInt(), 1);
    EXPECT_EQ(KRVideoNormalizer::dictionaryFromPayload(parse(R"({"data": [], "result": {"b": 2}})"))->value("b").toInt(), 2);
    EXPECT_EQ(KRVideoNormalizer::dictionaryFromPayload(parse(R"({"data": null, "c": 3})"))->value("c").toInt(), 3);

    const struct { QVariant payload; qsizetype size; } arrays[] = {
        {parse(R"([1, 2])"), 2},
        // Depth-first: the nested "data"."item" is found before the outer "list".
        {parse(R"({"list": [1], "data": {"item": [1, 2, 3]}})"), 3},
        // An object under an earlier key that holds no array does not end the search.
        {parse(R"({"data": {"page": {}}, "archives": [1, 2]})"), 2},
        {parse(R"({"data": {"list": {"vlist": [1]}}})"), 1},
        {parse(R"({"data": {"x": []}})"), -1},
        {QVariant(QString("x")), -1},
    };
    for (const auto& row : arrays) {
        const auto found = KRVideoNormalizer::arrayFromPayload(row.payload);
        EXPECT_EQ(found ? found->size() : -1, row.size) << row.size;
    }

    // A single object counts as a video when it has "aid" or "bvid", even null.
    EXPECT_EQ(KRVideoNormalizer::videosFromPayload(parse(R"({"data": {"aid": null, "title": "t"}})")).size(), 1);
    EXPECT_TRUE(KRVideoNormalizer::videosFromPayload(parse(R"({"data": {"title": "t"}})")).isEmpty());
    EXPECT_TRUE(KRVideoNormalizer::videosFromPayload(QVariant(5)).isEmpty());
    EXPECT_EQ(KRVideoNormalizer::videosFromPayload(parse(R"({"data": {"result": [{"aid": 1}, "not a video", null]}})")).size(), 1);
    EXPECT_FALSE(KRVideoNormalizer::videoFromDictionary(QVariant(QString("x"))));
    EXPECT_TRUE(KRVideoNormalizer::videoFromDictionary(QVariantMap()));
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
        EXPECT_LE(KRVideoNormalizer::videosFromPayload(QVariant(d)).size(), 1);
    }
}

TEST(VideoNormalizer, AmendmentsReadBeforeTheObjectsOwnMembers)
{
    const QVariantMap item = parse(R"({"aid": 0, "title": "原标题", "cid": 7, "detail": {"bvid": "BV1detail"},
                                       "business": "archive", "duration": 65})")
                                 .toMap();
    const QVariantMap amendments{{"aid", 42}, {"title", "改过的标题"}, {"pgc", true}, {"business", "pgc"}, {"ep_id", 9}};
    const auto amended = KRVideoNormalizer::videoFromDictionary(item, amendments);
    ASSERT_TRUE(amended);
    // The same answers as the object with the amendments inserted into it.
    QVariantMap inserted = item;
    for (auto it = amendments.constBegin(); it != amendments.constEnd(); ++it)
        inserted.insert(it.key(), it.value());
    const auto expected = KRVideoNormalizer::videoFromDictionary(inserted);
    EXPECT_EQ(fieldsOf(*amended), fieldsOf(*expected));
    EXPECT_EQ(amended->aid(), 42) << "an amendment wins over the object's own member";
    EXPECT_EQ(amended->cid(), 7) << "a member without an amendment is the object's";
    EXPECT_EQ(amended->bvid(), "BV1detail") << "the detail object is read as before";
    EXPECT_EQ(item.value("aid").toLongLong(), 0) << "the object is not changed";
    // No amendments: the object alone.
    EXPECT_EQ(fieldsOf(*KRVideoNormalizer::videoFromDictionary(item, QVariantMap())),
              fieldsOf(*KRVideoNormalizer::videoFromDictionary(item)));
}
