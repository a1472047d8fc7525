#include "model/KRDynamic.h"
#include "model/KRJSON.h"
#include "model/KRVideo.h"

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

// A feed page of posts with the given module_dynamic (and extra post keys), ids 1, 2, ….
KRDynamicList feed(const QList<std::pair<QByteArray, QByteArray>>& posts)
{
    QByteArray items;
    for (qsizetype i = 0; i < posts.size(); ++i)
        items += QByteArray(i ? "," : "") + R"({"id_str": ")" + QByteArray::number(i + 1) +
                 R"(", "basic": {"comment_id_str": "5", "comment_type": 17}, "modules": {"module_dynamic": )" +
                 posts[i].first + "}" + posts[i].second + "}";
    return parse(R"({"has_more": true, "items": [)" + items + "]}");
}

// A realistic page: a video post, a picture post with emotes, a repost of a video and an
// opus text post.
const QByteArray kFeedPage = R"({"has_more": true, "offset": "912345678901234567", "items": [
  {"id_str": "912345678901234001", "type": "POST_VIDEO", "basic": {"comment_id_str": "170001", "comment_type": 1},
   "modules": {
     "module_author": {"name": "投稿人", "face": "https://img.example.test/face/1.jpg", "mid": 3546789012345678, "pub_time": "2小时前"},
     "module_dynamic": {"desc": null, "major": {"type": "MAJOR_ARCHIVE", "archive": {"aid": "170001", "bvid": "BV17x411w7KC",
       "title": "一段视频", "cover": "https://img.example.test/cover/1.jpg", "duration_text": "03:25",
       "stat": {"play": "12345", "danmaku": 678, "reply": "9.9"}}}},
     "module_stat": {"like": {"count": 5, "status": true}, "comment": {"count": 12}, "forward": {"count": 0}}}},
  {"id_str": "912345678901234002", "type": "POST_DRAW", "basic": {"comment_id_str": "300400500", "comment_type": 11},
   "modules": {
     "module_author": {"name": "画师", "mid": 42},
     "module_dynamic": {
       "desc": {"text": "", "rich_text_nodes": [
         {"type": "TEXT", "text": "今天画了这个", "orig_text": "今天画了这个"},
         {"type": "EMOJI", "text": "[开心]", "orig_text": "[开心]", "emoji": {"text": "[开心]", "icon_url": "https://img.example.test/emote/happy.png"}},
         {"type": "EMOJI", "orig_text": "[哭]", "emoji": {"text": "[哭]", "url": "https://img.example.test/emote/cry.png"}},
         {"orig_text": "[没图]", "emoji": {"icon_url": ""}}]},
       "major": {"draw": {"items": [{"src": "https://img.example.test/draw/1.jpg"}, {"url": "https://img.example.test/draw/2.jpg"},
         {"img_src": "https://img.example.test/draw/3.jpg"}, {"src": ""}, "https://img.example.test/not-an-object.jpg",
         {"src": "https://img.example.test/draw/1.jpg"}]}}},
     "module_stat": {"like": 7, "comment": "8", "forward": {"count_str": "12", "num": 3}}}},
  {"id_str": "912345678901234003", "type": "POST_FORWARD",
   "modules": {"module_author": {"name": "转发者"}, "module_dynamic": {"desc": {"text": "", "rich_text_nodes": []}, "major": null},
     "module_stat": {"like": {"count": -5}}},
   "orig": {"id_str": "912345678901233999",
     "modules": {"module_author": {"name": "原作者"},
       "module_dynamic": {"desc": {"text": "原动态的话"}, "major": {"archive": {"aid": 88, "bvid": "BV1xx411c7mD",
         "title": "原视频", "cover": "https://img.example.test/cover/o.jpg", "duration_text": "10:00", "stat": {"play": 1}}}}}}},
  {"id_str": "912345678901234004", "type": "POST_OPUS", "basic": {"comment_id_str": "777", "comment_type": 0},
   "modules": {
     "module_author": {"name": "写手", "mid": "8"},
     "module_dynamic": {"desc": {"text": "短", "rich_text_nodes": [{"orig_text": "[赞]", "emoji": {"icon_url": "https://img.example.test/emote/like-desc.png"}}]},
       "major": {"opus": {"title": "长文标题",
         "summary": {"text": "摘要", "rich_text_nodes": [{"text": "摘要"}, {"orig_text": "[赞]", "emoji": {"text": "[赞]", "icon_url": "https://img.example.test/emote/like-opus.png"}}],
                     "paragraphs": [{"text": {"nodes": [{"word": {"words": "第一段"}}, {"rich": {"text": "链接文字"}}]}},
                                    {"text": {"nodes": [{"word": {"words": ""}}]}},
                                    {"text": {"nodes": [{"word": {"words": "第二段"}}]}}]},
         "pics": [{"url": "https://img.example.test/opus/1.jpg"}]}}}}},
  {"type": "POST_WITHOUT_ID", "modules": {"module_dynamic": {"desc": {"text": "dropped"}}}},
  "not a post"
]})";

} // namespace

TEST(DynamicModelTest, ReadsAFeedPage)
{
    const KRDynamicList list = parse(kFeedPage);
    ASSERT_EQ(list.size(), 4) << "a post without an id is dropped";

    const auto& post = list[0];
    EXPECT_EQ(QStringList({post->dynamicType(), post->authorName(), post->publishText(), post->text()}),
              QStringList({"POST_VIDEO", "投稿人", "2小时前", "分享了视频"}));
    EXPECT_EQ(QList<qint64>({post->authorMID(), post->likeCount(), post->commentCount(), post->commentOID()}),
              QList<qint64>({3546789012345678LL, 5, 12, 170001}));
    EXPECT_TRUE(post->liked());
    const auto video = post->video();
    ASSERT_TRUE(video);
    EXPECT_EQ(QStringList({video->bvid(), video->title(), video->durationText(), video->ownerName(), video->ownerAvatarURL()}),
              QStringList({"BV17x411w7KC", "一段视频", "03:25", "投稿人", "https://img.example.test/face/1.jpg"}));
    // Counts are the integer value of each value's text: "9.9" reads 9.
    EXPECT_EQ(QList<qint64>({video->resolvedAid(), video->ownerMID(), video->playCount(), video->danmakuCount(), video->replyCount()}),
              QList<qint64>({170001, 3546789012345678LL, 12345, 678, 9}));
    EXPECT_TRUE(video->statisticsKnown());

    const auto& draw = list[1];
    EXPECT_EQ(draw->text(), "今天画了这个[开心][哭][没图]");
    // Pictures in order, repeats kept, non-objects and empty addresses skipped.
    EXPECT_EQ(draw->pictureURLs(), (QStringList{"https://img.example.test/draw/1.jpg", "https://img.example.test/draw/2.jpg",
                                                "https://img.example.test/draw/3.jpg", "https://img.example.test/draw/1.jpg"}));
    EXPECT_EQ(draw->emotes(), (KREmoteMap{{"[开心]", QVariantMap{{"text", "[开心]"}, {"url", "https://img.example.test/emote/happy.png"}}},
                                          {"[哭]", QVariantMap{{"text", "[哭]"}, {"url", "https://img.example.test/emote/cry.png"}}}}));
    EXPECT_EQ(QList<int>({draw->likeCount(), draw->commentCount(), draw->repostCount()}), QList<int>({7, 8, 12}));
    EXPECT_FALSE(draw->liked());
    EXPECT_EQ(draw->commentType(), 11);

    const auto& repost = list[2];
    EXPECT_EQ(QStringList({repost->text(), repost->originalDynamicID(), repost->originalAuthorName(), repost->originalText(),
                           repost->originalTitle(), repost->originalCoverURL()}),
              QStringList({"转发：原动态的话", "912345678901233999", "原作者", "原动态的话", "原视频", "https://img.example.test/cover/o.jpg"}));
    EXPECT_EQ(repost->likeCount(), 0) << "counts are at least 0";
    EXPECT_EQ(repost->commentType(), 1) << "absent type";
    EXPECT_FALSE(repost->video());
    ASSERT_TRUE(repost->originalVideo());
    EXPECT_EQ(repost->originalVideo()->resolvedAid(), 88);
    EXPECT_EQ(repost->originalVideo()->ownerName(), "原作者");
    EXPECT_FALSE(repost->originalVideo()->statisticsKnown()) << "no counts for the reposted video";

    const auto& opus = list[3];
    EXPECT_EQ(opus->text(), "长文标题\n第一段链接文字\n第二段");
    EXPECT_EQ(opus->pictureURLs(), QStringList{"https://img.example.test/opus/1.jpg"});
    // The opus summary's emote replaces the description's of the same token.
    EXPECT_EQ(opus->emotes().value("[赞]").toMap().value("url"), "https://img.example.test/emote/like-opus.png");
    EXPECT_EQ(opus->commentType(), 1);
    EXPECT_EQ(opus->authorMID(), 8);
}

TEST(DynamicModelTest, ChoosesThePostListAndReadsCounts)
{
    EXPECT_TRUE(parse(R"({"items": [], "item": {"id_str": "1"}})").isEmpty()) << "an empty items list wins";
    EXPECT_EQ(parse(R"({"items": {"id_str": "1"}, "item": {"id_str": "6"}})").size(), 1);
    EXPECT_TRUE(KRDynamic::dynamicsFromPayload(json("[1, 2]")).isEmpty());
    const KRDynamicList numbered = parse(R"({"items": [{"id_str": 123}, {"id_str": ""}]})");
    ASSERT_EQ(numbered.size(), 1) << "an empty id is dropped";
    EXPECT_EQ(numbered[0]->dynamicID(), "123");

    const struct { const char* stat; qint64 count; } rows[] = {
        {"7", 7}, {R"("15")", 15}, {R"({"count": 5, "status": true})", 5},
        {R"({"count": "3", "num_str": "40", "total": 12, "reply": {"x": 1}})", 40},
        {R"({"count": -9})", 0}, {R"({"status": true})", 0}, {"[5]", 0}, {"null", 0},
    };
    for (const auto& row : rows)
        EXPECT_EQ(KRCountInStat(json(QByteArray(R"({"v": )") + row.stat + "}").toMap().value("v")), row.count) << row.stat;
}

TEST(DynamicModelTest, FallsBackToDescriptiveTexts)
{
    const KRDynamicList list = feed({
        {R"({"desc": null, "major": {"archive": {"aid": 1}}})", ""},
        {R"({"desc": null, "major": {"draw": {"items": [{"src": "https://img.example.test/d.jpg"}]}}})", ""},
        {R"({"desc": null})", ""},
        {R"({"major": {"article": {"title": "", "desc": "文章简介"}, "common": {"title": "通用卡片"}}})", ""},
        {R"({"major": {"article": {"title": ""}, "common": {"desc": "通用描述"}, "live_rcmd": {"title": "直播"}}})", ""},
        {R"({"major": {"live_rcmd": {"title": "直播间"}}})", ""},
        {R"({"desc": {"text": "自己的话"}})", R"(, "orig": {"id_str": "70", "modules": {"module_dynamic": {"desc": {"text": "被转发"}}}})"},
        {"{}", R"(, "orig": {"id_str": "80", "modules": {"module_dynamic": {"major": {"opus": {"pics": [{"url": "https://img.example.test/o1.jpg"}, {"url": "https://img.example.test/o2.jpg"}]}}}}})"},
        {"{}", R"(, "orig": {"id_str": "90", "modules": {"module_dynamic": "not an object"}})"},
    });
    ASSERT_EQ(list.size(), 9);
    const QStringList texts = {"分享了视频", "发布了图片动态", "发布了新动态", "文章简介", "通用描述", "直播间",
                               "自己的话" /* own text is never replaced by the repost's */, "发布了新动态", "发布了新动态"};
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(list[i]->text(), texts[i]) << i;
    EXPECT_EQ(list[6]->originalText(), "被转发");
    EXPECT_EQ(list[7]->originalCoverURL(), "https://img.example.test/o1.jpg");
    EXPECT_FALSE(list[7]->originalVideo());
    EXPECT_TRUE(list[8]->originalDynamicID().isNull()) << "a reposted post without a dynamic module is ignored";
    EXPECT_EQ(list[0]->commentType(), 17);
}

TEST(DynamicModelTest, PicksTheBestOpusText)
{
    QByteArray deep = R"("深处很长很长很长的文字")";
    for (int i = 0; i < 12; ++i)
        deep = "[" + deep + "]";
    const struct { QByteArray module; const char* text; } rows[] = {
        // The title once when the summary repeats it; else title, line break, summary.
        {R"({"major": {"opus": {"title": "同一句话", "summary": {"text": "同一句话"}}}})", "同一句话"},
        {R"({"major": {"opus": {"title": "标题", "summary": {"text": "不同的摘要"}}}})", "标题\n不同的摘要"},
        {R"({"major": {"opus": {"title": "只有标题"}}})", "只有标题"},
        // The description stays when it is at least as long as the opus text.
        {R"({"desc": {"text": "描述四字"}, "major": {"opus": {"summary": {"text": "摘要四字"}}}})", "描述四字"},
        {R"({"desc": {"text": "短"}, "major": {"opus": {"summary": {"text": "更长的摘要"}}}})", "更长的摘要"},
        // Rich nodes longer than the summary text win; then the first longest collected text.
        {R"({"major": {"opus": {"summary": {"text": "短摘要", "rich_text_nodes": [{"text": "富文本"}, {"text": "更长一些"}]}}}})", "富文本更长一些"},
        {R"({"major": {"opus": {"summary": {"text": "ab"}, "content": {"nodes": [{"words": "深处的一段更长的文字"}, {"words": "同样长度的另一段文字"}]}}}})", "深处的一段更长的文字"},
        // An address is never chosen, however long; a text containing one later can be.
        {R"({"major": {"opus": {"summary": {"text": "摘要"}, "content": ["https://img.example.test/a/very/long/address/that/wins/on/length"]}}})", "摘要"},
        {R"({"major": {"opus": {"summary": {"text": "摘要"}, "content": ["see https://img.example.test/x"]}}})", "see https://img.example.test/x"},
        // Texts nested beyond ten levels are not collected.
        {R"({"major": {"opus": {"summary": {"text": "摘要"}, "content": )" + deep + "}}}", "摘要"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(KRDynamicTextFromModule(json(row.module)), QString::fromUtf8(row.text)) << row.module.toStdString();
}
