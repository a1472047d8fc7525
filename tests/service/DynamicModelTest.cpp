#include "service/KRDynamic.h"
#include "service/KRJSON.h"
#include "service/KRVideo.h"

#include <gtest/gtest.h>

namespace {

QVariant json(const QByteArray& text)
{
    QString error;
    const QVariant value = KRJSONParse(text, &error);
    EXPECT_TRUE(value.isValid()) << error.toStdString();
    return value;
}

KRDynamicList parse(const QByteArray& text)
{
    return KRDynamic::dynamicsFromPayload(json(text));
}

// A post of the followed feed with the given module_dynamic and extra post keys.
QByteArray post(const QByteArray& id, const QByteArray& moduleDynamic, const QByteArray& extra = "")
{
    return R"({"id_str": ")" + id + R"(", "type": "POST_WORD", "basic": {"comment_id_str": ")" + id +
           R"(", "comment_type": 17},
      "modules": {"module_author": {"name": "作者", "face": "https://img.example.test/face/u.jpg", "mid": 9001,
                                    "pub_time": "3小时前"},
                  "module_dynamic": )" +
           moduleDynamic + R"(, "module_stat": {"like": {"count": 1}, "comment": {"count": 2}, "forward": {"count": 3}}})" +
           extra + "}";
}

QByteArray feed(const QList<QByteArray>& posts)
{
    QByteArray items;
    for (const QByteArray& p : posts)
        items += (items.isEmpty() ? "" : ",") + p;
    return R"({"has_more": true, "offset": "912345678901234567", "items": [)" + items + "]}";
}

// A realistic page: a video post, a picture post with emotes, a repost of a video and an
// opus text post.
const QByteArray kFeedPage = R"({"has_more": true, "offset": "912345678901234567", "update_num": 3, "items": [
  {"id_str": "912345678901234001", "type": "POST_VIDEO",
   "basic": {"comment_id_str": "170001", "comment_type": 1, "rid_str": "170001"},
   "modules": {
     "module_author": {"name": "投稿人", "face": "https://img.example.test/face/1.jpg", "mid": 3546789012345678,
                       "pub_time": "2小时前", "pub_ts": 1700000000},
     "module_dynamic": {"desc": null,
       "major": {"type": "MAJOR_ARCHIVE", "archive": {"aid": "170001", "bvid": "BV17x411w7KC", "title": "一段视频",
         "cover": "https://img.example.test/cover/1.jpg", "duration_text": "03:25",
         "stat": {"play": "12345", "danmaku": 678, "reply": "9.9"}}}},
     "module_stat": {"like": {"count": 5, "status": true}, "comment": {"count": 12}, "forward": {"count": 0}}}},
  {"id_str": "912345678901234002", "type": "POST_DRAW", "basic": {"comment_id_str": "300400500", "comment_type": 11},
   "modules": {
     "module_author": {"name": "画师", "face": "https://img.example.test/face/2.jpg", "mid": 42, "pub_time": "昨天"},
     "module_dynamic": {
       "desc": {"text": "", "rich_text_nodes": [
         {"type": "TEXT", "text": "今天画了这个", "orig_text": "今天画了这个"},
         {"type": "EMOJI", "text": "[开心]", "orig_text": "[开心]", "emoji": {"text": "[开心]", "icon_url": "https://img.example.test/emote/happy.png"}},
         {"type": "EMOJI", "orig_text": "[哭]", "emoji": {"text": "[哭]", "url": "https://img.example.test/emote/cry.png"}}]},
       "major": {"type": "MAJOR_DRAW", "draw": {"id": 1, "items": [
         {"src": "https://img.example.test/draw/1.jpg", "width": 800},
         {"url": "https://img.example.test/draw/2.jpg"},
         {"img_src": "https://img.example.test/draw/3.jpg"},
         {"src": ""}, "https://img.example.test/not-an-object.jpg",
         {"src": "https://img.example.test/draw/1.jpg"}]}}},
     "module_stat": {"like": 7, "comment": "8", "forward": {"count_str": "12", "num": 3}}}},
  {"id_str": "912345678901234003", "type": "POST_FORWARD", "basic": {"comment_id_str": "912345678901234003", "comment_type": 17},
   "modules": {
     "module_author": {"name": "转发者", "mid": 7},
     "module_dynamic": {"desc": {"text": "", "rich_text_nodes": []}, "major": null},
     "module_stat": {"like": {"count": -5}}},
   "orig": {"id_str": "912345678901233999", "type": "POST_VIDEO",
     "modules": {"module_author": {"name": "原作者"},
       "module_dynamic": {"desc": {"text": "原动态的话"},
         "major": {"archive": {"aid": 88, "bvid": "BV1xx411c7mD", "title": "原视频", "cover": "https://img.example.test/cover/o.jpg",
                               "duration_text": "10:00", "stat": {"play": 1}}}}}}},
  {"id_str": "912345678901234004", "type": "POST_OPUS", "basic": {"comment_id_str": "777", "comment_type": 0},
   "modules": {
     "module_author": {"name": "写手", "mid": "8"},
     "module_dynamic": {"desc": {"text": "短"},
       "major": {"opus": {"title": "长文标题",
         "summary": {"text": "摘要", "rich_text_nodes": [{"text": "摘要"}, {"orig_text": "[赞]", "emoji": {"text": "[赞]", "icon_url": "https://img.example.test/emote/like-opus.png"}}],
                     "paragraphs": [{"text": {"nodes": [{"word": {"words": "第一段"}}, {"rich": {"text": "链接文字"}}]}},
                                    {"text": {"nodes": [{"word": {"words": ""}}]}},
                                    {"text": {"nodes": [{"word": {"words": "第二段"}}]}}]},
         "pics": [{"url": "https://img.example.test/opus/1.jpg"}]}}},
     "module_stat": {}}},
  {"type": "POST_WITHOUT_ID", "modules": {"module_dynamic": {"desc": {"text": "dropped"}}}},
  "not a post"
]})";

} // namespace

TEST(DynamicModelTest, ReadsAFeedPage)
{
    const KRDynamicList list = KRDynamic::dynamicsFromPayload(json(kFeedPage));
    ASSERT_EQ(list.size(), 4);

    const auto video = list[0];
    EXPECT_EQ(video->dynamicID(), "912345678901234001");
    EXPECT_EQ(video->dynamicType(), "POST_VIDEO");
    EXPECT_EQ(video->authorName(), "投稿人");
    EXPECT_EQ(video->authorMID(), 3546789012345678LL);
    EXPECT_EQ(video->publishText(), "2小时前");
    EXPECT_EQ(video->text(), "分享了视频");
    EXPECT_EQ(video->likeCount(), 5);
    EXPECT_TRUE(video->liked());
    EXPECT_EQ(video->commentCount(), 12);
    EXPECT_EQ(video->commentOID(), 170001);
    EXPECT_EQ(video->commentType(), 1);
    ASSERT_TRUE(video->video());
    EXPECT_EQ(video->video()->aid(), 170001);
    EXPECT_EQ(video->video()->resolvedAid(), 170001);
    EXPECT_EQ(video->video()->bvid(), "BV17x411w7KC");
    EXPECT_EQ(video->video()->title(), "一段视频");
    EXPECT_EQ(video->video()->coverURL(), "https://img.example.test/cover/1.jpg");
    EXPECT_EQ(video->video()->durationText(), "03:25");
    EXPECT_EQ(video->video()->playCount(), 12345);
    EXPECT_EQ(video->video()->danmakuCount(), 678);
    EXPECT_EQ(video->video()->replyCount(), 9);
    EXPECT_TRUE(video->video()->statisticsKnown());
    EXPECT_EQ(video->video()->ownerName(), "投稿人");
    EXPECT_EQ(video->video()->ownerMID(), 3546789012345678LL);
    EXPECT_EQ(video->video()->ownerAvatarURL(), "https://img.example.test/face/1.jpg");
    EXPECT_FALSE(video->originalVideo());

    const auto draw = list[1];
    EXPECT_EQ(draw->text(), "今天画了这个[开心][哭]");
    EXPECT_EQ(draw->pictureURLs(),
              (QStringList{"https://img.example.test/draw/1.jpg", "https://img.example.test/draw/2.jpg",
                           "https://img.example.test/draw/3.jpg", "https://img.example.test/draw/1.jpg"}));
    EXPECT_EQ(draw->emotes().size(), 2);
    EXPECT_EQ(draw->emotes().value("[开心]").toMap(),
              (QVariantMap{{"text", "[开心]"}, {"url", "https://img.example.test/emote/happy.png"}}));
    EXPECT_EQ(draw->emotes().value("[哭]").toMap().value("url"), "https://img.example.test/emote/cry.png");
    EXPECT_EQ(draw->likeCount(), 7);
    EXPECT_FALSE(draw->liked());
    EXPECT_EQ(draw->commentCount(), 8);
    EXPECT_EQ(draw->repostCount(), 12);
    EXPECT_EQ(draw->commentType(), 11);
    EXPECT_FALSE(draw->video());

    const auto repost = list[2];
    EXPECT_EQ(repost->text(), "转发：原动态的话");
    EXPECT_EQ(repost->likeCount(), 0) << "counts are at least 0";
    EXPECT_EQ(repost->originalDynamicID(), "912345678901233999");
    EXPECT_EQ(repost->originalAuthorName(), "原作者");
    EXPECT_EQ(repost->originalText(), "原动态的话");
    EXPECT_EQ(repost->originalTitle(), "原视频");
    EXPECT_EQ(repost->originalCoverURL(), "https://img.example.test/cover/o.jpg");
    ASSERT_TRUE(repost->originalVideo());
    EXPECT_EQ(repost->originalVideo()->aid(), 88);
    EXPECT_EQ(repost->originalVideo()->resolvedAid(), 88);
    EXPECT_EQ(repost->originalVideo()->durationText(), "10:00");
    EXPECT_EQ(repost->originalVideo()->ownerName(), "原作者");
    EXPECT_EQ(repost->originalVideo()->playCount(), 0) << "no counts for the reposted video";
    EXPECT_FALSE(repost->video());

    const auto opus = list[3];
    EXPECT_EQ(opus->text(), "长文标题\n第一段链接文字\n第二段");
    EXPECT_EQ(opus->pictureURLs(), QStringList{"https://img.example.test/opus/1.jpg"});
    EXPECT_EQ(opus->emotes().value("[赞]").toMap().value("url"), "https://img.example.test/emote/like-opus.png");
    EXPECT_EQ(opus->commentType(), 1);
    EXPECT_EQ(opus->authorMID(), 8);
}

TEST(DynamicModelTest, ChoosesThePostList)
{
    EXPECT_TRUE(parse(R"({"items": [], "item": {"id_str": "1"}})").isEmpty()) << "an empty items list wins";
    EXPECT_EQ(parse(R"({"item": )" + post("5", R"({"desc": {"text": "详情"}})") + "}").size(), 1);
    EXPECT_EQ(parse(R"({"items": {"id_str": "1"}, "item": )" + post("6", "{}") + "}").size(), 1);
    EXPECT_TRUE(KRDynamic::dynamicsFromPayload(json("[1, 2]")).isEmpty());
    EXPECT_TRUE(KRDynamic::dynamicsFromPayload(QVariant()).isEmpty());
    EXPECT_TRUE(parse(feed({post("", R"({"desc": {"text": "x"}})")})).isEmpty()) << "an empty id is dropped";
    EXPECT_EQ(parse(feed({R"({"id_str": 123})"}))[0]->dynamicID(), "123");
}

TEST(DynamicModelTest, ReadsCountsOfEveryShape)
{
    EXPECT_EQ(KRCountInStat(json(R"({"v": 7})").toMap().value("v")), 7);
    EXPECT_EQ(KRCountInStat(QVariant(QStringLiteral("15"))), 15);
    EXPECT_EQ(KRCountInStat(json(R"({"count": 5, "status": true})")), 5);
    EXPECT_EQ(KRCountInStat(json(R"({"count": "3", "num_str": "40", "total": 12, "reply": {"x": 1}})")), 40);
    EXPECT_EQ(KRCountInStat(json(R"({"count": -9})")), 0);
    EXPECT_EQ(KRCountInStat(json(R"({"status": true})")), 0);
    EXPECT_EQ(KRCountInStat(json("[5]")), 0);
    EXPECT_EQ(KRCountInStat(QVariant()), 0);

    const KRDynamicList liked = parse(feed({R"({"id_str": "2", "modules": {"module_stat": {"like": {"count": 5, "status": true}}}})",
                                            R"({"id_str": "3", "modules": {"module_stat": {"like": 7}}})"}));
    EXPECT_EQ(liked[0]->likeCount(), 5);
    EXPECT_TRUE(liked[0]->liked());
    EXPECT_EQ(liked[1]->likeCount(), 7);
    EXPECT_FALSE(liked[1]->liked());
}

TEST(DynamicModelTest, FallsBackToDescriptiveTexts)
{
    const KRDynamicList list = parse(feed({
        post("1", R"({"desc": null, "major": {"archive": {"aid": 1}}})"),
        post("2", R"({"desc": null, "major": {"draw": {"items": [{"src": "https://img.example.test/d.jpg"}]}}})"),
        post("3", R"({"desc": null})"),
        post("4", R"({"major": {"article": {"title": "", "desc": "文章简介"}, "common": {"title": "通用卡片"}}})"),
        post("5", R"({"major": {"article": {"title": ""}, "common": {"desc": "通用描述"}, "live_rcmd": {"title": "直播"}}})"),
        post("6", R"({"major": {"live_rcmd": {"title": "直播间"}}})"),
        post("7", R"({"desc": {"text": "自己的话"}})", R"(, "orig": {"id_str": "70", "modules": {"module_dynamic": {"desc": {"text": "被转发"}}}})"),
        post("8", "{}", R"(, "orig": {"id_str": "80", "modules": {"module_dynamic": {"major": {"opus": {"pics": [{"url": "https://img.example.test/o1.jpg"}, {"url": "https://img.example.test/o2.jpg"}]}}}}})"),
        post("9", "{}", R"(, "orig": {"id_str": "90", "modules": {"module_dynamic": "not an object"}})"),
    }));
    ASSERT_EQ(list.size(), 9);
    EXPECT_EQ(list[0]->text(), "分享了视频");
    EXPECT_EQ(list[1]->text(), "发布了图片动态");
    EXPECT_EQ(list[2]->text(), "发布了新动态");
    EXPECT_EQ(list[3]->text(), "文章简介");
    EXPECT_EQ(list[4]->text(), "通用描述");
    EXPECT_EQ(list[5]->text(), "直播间");
    EXPECT_EQ(list[6]->text(), "自己的话") << "own text is never replaced by the repost's";
    EXPECT_EQ(list[6]->originalText(), "被转发");
    EXPECT_EQ(list[7]->text(), "发布了新动态");
    EXPECT_EQ(list[7]->originalDynamicID(), "80");
    EXPECT_EQ(list[7]->originalCoverURL(), "https://img.example.test/o1.jpg");
    EXPECT_FALSE(list[7]->originalVideo());
    EXPECT_TRUE(list[8]->originalDynamicID().isNull()) << "a reposted post without a dynamic module is ignored";
}

TEST(DynamicModelTest, PicksTheBestOpusText)
{
    auto text = [](const QByteArray& module) { return KRDynamicTextFromModule(json(module)); };
    EXPECT_EQ(text(R"({"major": {"opus": {"title": "同一句话", "summary": {"text": "同一句话"}}}})"), "同一句话");
    EXPECT_EQ(text(R"({"major": {"opus": {"title": "标题", "summary": {"text": "不同的摘要"}}}})"), "标题\n不同的摘要");
    EXPECT_EQ(text(R"({"major": {"opus": {"summary": {"text": "只有摘要"}}}})"), "只有摘要");
    EXPECT_EQ(text(R"({"major": {"opus": {"title": "只有标题"}}})"), "只有标题");
    // The description stays when it is at least as long as the opus text.
    EXPECT_EQ(text(R"({"desc": {"text": "描述四字"}, "major": {"opus": {"summary": {"text": "摘要四字"}}}})"), "描述四字");
    EXPECT_EQ(text(R"({"desc": {"text": "短"}, "major": {"opus": {"summary": {"text": "更长的摘要"}}}})"), "更长的摘要");
    // Rich nodes longer than the summary text win; the first longest collected text after them.
    EXPECT_EQ(text(R"({"major": {"opus": {"summary": {"text": "短摘要", "rich_text_nodes": [{"text": "富文本"}, {"text": "更长一些"}]}}}})"),
              "富文本更长一些");
    EXPECT_EQ(text(R"({"major": {"opus": {"summary": {"text": "ab"}, "content": {"nodes": [{"words": "深处的一段更长的文字"}, {"words": "同样长度的另一段文字"}]}}}})"),
              "深处的一段更长的文字");
    // An address is never chosen as the text, however long; a text containing one later can be.
    EXPECT_EQ(text(R"({"major": {"opus": {"summary": {"text": "摘要"}, "content": ["https://img.example.test/a/very/long/address/that/wins/on/length"]}}})"),
              "摘要");
    EXPECT_EQ(text(R"({"major": {"opus": {"summary": {"text": "摘要"}, "content": ["see https://img.example.test/x"]}}})"),
              "see https://img.example.test/x");
    // Deeply nested texts beyond ten levels are not collected.
    QByteArray deep = R"("深处很长很长很长的文字")";
    for (int i = 0; i < 12; ++i)
        deep = "[" + deep + "]";
    EXPECT_EQ(text(R"({"major": {"opus": {"summary": {"text": "摘要"}, "content": )" + deep + "}}}"), "摘要");
}

TEST(DynamicModelTest, OpusSummaryEmotesWinOverDescription)
{
    const KRDynamicList list = parse(feed({post("1", R"({
        "desc": {"rich_text_nodes": [{"orig_text": "[笑]", "emoji": {"text": "[笑]", "icon_url": "https://img.example.test/desc.png"}},
                                     {"orig_text": "[只在描述]", "emoji": {"url": "https://img.example.test/only.png"}},
                                     {"orig_text": "[没图]", "emoji": {"icon_url": ""}}]},
        "major": {"opus": {"summary": {"rich_text_nodes": [{"text": "[笑]", "emoji": {"icon_url": "https://img.example.test/opus.png"}}]}}}})")}));
    ASSERT_EQ(list.size(), 1);
    const KREmoteMap& emotes = list[0]->emotes();
    EXPECT_EQ(emotes.size(), 2);
    EXPECT_EQ(emotes.value("[笑]").toMap().value("url"), "https://img.example.test/opus.png");
    EXPECT_EQ(emotes.value("[只在描述]").toMap().value("url"), "https://img.example.test/only.png");
    EXPECT_FALSE(emotes.contains("[没图]"));
    EXPECT_EQ(list[0]->commentType(), 17);
    EXPECT_EQ(list[0]->commentOID(), 1);
}
