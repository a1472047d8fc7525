#include "service/KRComment.h"
#include "service/KRCommentPage.h"
#include "service/KRJSON.h"

#include <QDateTime>

#include <gtest/gtest.h>

namespace {

QVariant json(const char* text)
{
    QString error;
    const QVariant value = KRJSONParse(QByteArray(text), &error);
    EXPECT_TRUE(value.isValid()) << error.toStdString();
    return value;
}

QList<qint64> ids(const KRCommentList& comments)
{
    QList<qint64> result;
    for (const auto& comment : comments)
        result.append(comment->rpid());
    return result;
}

// One comment object as the comment endpoints send it.
const char* const kComment = R"({
  "rpid": 261543729392, "rpid_str": "261543729392", "oid": 170001, "oid_str": "170001",
  "type": 1, "root": 0, "root_str": "0", "parent": 0, "parent_str": "0",
  "like": 5321, "rcount": 3, "count": 5, "ctime": 1700000000,
  "member": {"mid": "42", "uname": "路过的观众", "avatar": "https://img.example.test/face/a.jpg"},
  "content": {
    "message": "笑死[doge][大哭]",
    "emote": {
      "[doge]": {"text": "[doge]", "url": "https://img.example.test/emote/doge.png", "meta": {"size": 1}},
      "[大哭]": {"text": "", "gif_url": "https://img.example.test/emote/cry.gif", "meta": {"size": 2}},
      "[broken]": {"text": "[broken]"},
      "[plain]": "not an object"
    },
    "pictures": [
      {"img_src": "https://img.example.test/p/1.jpg", "img_width": 800},
      "https://img.example.test/p/2.jpg",
      {"img_url": "https://img.example.test/p/3.jpg"},
      {"url": "https://img.example.test/p/4.jpg"},
      "https://img.example.test/p/2.jpg",
      17, [1, 2], "",
      {"img_src": ""},
      "https://img.example.test/p/5.jpg", "https://img.example.test/p/6.jpg",
      "https://img.example.test/p/7.jpg", "https://img.example.test/p/8.jpg",
      "https://img.example.test/p/9.jpg", "https://img.example.test/p/10.jpg"
    ]
  },
  "replies": [
    {"rpid": 261543729400, "root": 261543729392, "parent": 261543729392, "type": 0,
     "member": {"uname": "回复者"}, "content": {"message": "同感"}, "ctime": 1700000100},
    {"rpid": 0, "content": {}},
    "junk"
  ]
})";

} // namespace

TEST(CommentModelTest, ParsesACommentObject)
{
    const auto comment = KRComment::commentFromDictionary(json(kComment));
    ASSERT_TRUE(comment);
    EXPECT_EQ(comment->rpid(), 261543729392LL);
    EXPECT_EQ(comment->oid(), 170001);
    EXPECT_EQ(comment->root(), 0);
    EXPECT_EQ(comment->type(), 1);
    EXPECT_EQ(comment->authorName(), "路过的观众");
    EXPECT_EQ(comment->avatarURL(), "https://img.example.test/face/a.jpg");
    EXPECT_EQ(comment->message(), "笑死[doge][大哭]");
    EXPECT_EQ(comment->likeCount(), 5321);
    EXPECT_EQ(comment->replyCount(), 5) << "the larger of rcount and count";
    EXPECT_EQ(comment->createdAt(), 1700000000.0);
    EXPECT_FALSE(comment->isPinned());

    // Emotes: keyed by their text (the key when the text is empty), small or large, only
    // with a picture.
    const KREmoteMap& emotes = comment->emotes();
    ASSERT_EQ(emotes.size(), 2);
    EXPECT_EQ(emotes.value("[doge]").toMap(),
              (QVariantMap{{"text", "[doge]"}, {"url", "https://img.example.test/emote/doge.png"}, {"size", 1}}));
    EXPECT_EQ(emotes.value("[大哭]").toMap().value("url"), "https://img.example.test/emote/cry.gif");
    EXPECT_EQ(emotes.value("[大哭]").toMap().value("size"), 2);

    // Pictures: in order, each once, at most nine; elements naming no picture are skipped.
    QStringList expected;
    for (int i = 1; i <= 9; ++i)
        expected << QStringLiteral("https://img.example.test/p/%1.jpg").arg(i);
    EXPECT_EQ(comment->pictureURLs(), expected);

    ASSERT_EQ(comment->previewReplies().size(), 1);
    const auto reply = comment->previewReplies().first();
    EXPECT_EQ(reply->rpid(), 261543729400LL);
    EXPECT_EQ(reply->root(), 261543729392LL);
    EXPECT_EQ(reply->type(), 1);
    EXPECT_EQ(reply->message(), "同感");
}

TEST(CommentModelTest, ReadsIdentifiersTextFirst)
{
    auto parse = [](const char* text) { return KRComment::commentFromDictionary(json(text)); };
    EXPECT_EQ(parse(R"({"rpid_str": "0", "rpid": 5})")->rpid(), 5);
    EXPECT_EQ(parse(R"({"rpid_str": "7", "rpid": 5})")->rpid(), 7);
    EXPECT_EQ(parse(R"({"rpid_str": null, "rpid": "12abc"})")->rpid(), 12);
    // Ids beyond 2^53 stay exact, as text or as numbers.
    EXPECT_EQ(parse(R"({"rpid_str": "9007199254740993"})")->rpid(), 9007199254740993LL);
    EXPECT_EQ(parse(R"({"rpid": 9007199254740995, "oid": 9007199254740997})")->oid(), 9007199254740997LL);

    EXPECT_EQ(parse(R"({"rpid": 1, "type": 0})")->type(), 1);
    EXPECT_EQ(parse(R"({"rpid": 1})")->type(), 1);
    EXPECT_EQ(parse(R"({"rpid": 1, "type": "17"})")->type(), 17);
    EXPECT_EQ(parse(R"({"rpid": 1, "type": 4294967296})")->type(), 1) << "never below 1";

    EXPECT_FALSE(parse(R"({"rpid": 0, "content": {"message": ""}})"));
    EXPECT_FALSE(parse(R"({"member": {"uname": "x"}})"));
    EXPECT_TRUE(parse(R"({"content": {"message": "no id"}})"));
    EXPECT_FALSE(KRComment::commentFromDictionary(QVariant()));
    EXPECT_FALSE(KRComment::commentFromDictionary(json("[1]")));
    // Values of the wrong kind count as absent.
    const auto odd = parse(R"({"rpid": 3, "member": "x", "content": [1], "like": {"n": 1}, "replies": {}})");
    ASSERT_TRUE(odd);
    EXPECT_TRUE(odd->authorName().isNull());
    EXPECT_TRUE(odd->message().isNull());
    EXPECT_EQ(odd->likeCount(), 0);
    EXPECT_TRUE(odd->previewReplies().isEmpty());
    EXPECT_TRUE(odd->emotes().isEmpty());
}

TEST(CommentModelTest, PinnedCommentsComeFirstAndOnce)
{
    const QVariant payload = json(R"({"code": 0, "data": {
      "page": {"num": 1, "size": 20, "count": 45},
      "top_replies": [{"rpid": 100, "content": {"message": "置顶"}}, {"rpid": 0, "content": {"message": "pinned, no id"}}],
      "replies": [
        {"rpid": 101, "content": {"message": "a"}},
        {"rpid": 100, "content": {"message": "置顶 again"}},
        {"rpid": 102, "content": {"message": "b"}},
        {"rpid": 101, "content": {"message": "a repeated"}},
        {"content": {"message": "no id"}},
        {"content": {"message": "no id"}},
        {"rpid": 0},
        7
      ]}})");

    const auto first = KRCommentPage::commentPageFromPayload(payload, true);
    ASSERT_TRUE(first);
    EXPECT_EQ(ids(first->comments()), (QList<qint64>{100, 0, 101, 102, 0, 0}));
    EXPECT_TRUE(first->comments()[0]->isPinned());
    EXPECT_EQ(first->comments()[0]->message(), "置顶");
    EXPECT_TRUE(first->comments()[1]->isPinned());
    EXPECT_FALSE(first->comments()[2]->isPinned());
    EXPECT_EQ(first->page(), 1);
    EXPECT_EQ(first->pageSize(), 20);
    EXPECT_EQ(first->totalCount(), 45);
    EXPECT_TRUE(first->hasMore()) << "45 > 8 raw";
    EXPECT_EQ(first->nextCursor(), 0);

    // Without pinned comments (a later page, or replies) the pinned one keeps its regular place.
    const auto later = KRCommentPage::replyPageFromPayload(payload);
    EXPECT_EQ(ids(later->comments()), (QList<qint64>{101, 100, 102, 0, 0}));
    EXPECT_FALSE(later->comments()[1]->isPinned());
}

TEST(CommentModelTest, ComputesMoreInThePageNumberForm)
{
    auto page = [](const char* pageObject, int raw) {
        QVariantList comments;
        for (int i = 0; i < raw; ++i)
            comments.append(QVariantMap{{"rpid", i + 1}, {"content", QVariantMap{{"message", "m"}}}});
        return KRCommentPage::pageFromData(json(pageObject).toMap(), comments, false);
    };
    EXPECT_TRUE(page(R"({"page": {"num": 1, "size": 20, "count": 45}})", 20)->hasMore());
    EXPECT_TRUE(page(R"({"page": {"num": 2, "size": 20, "count": 45}})", 20)->hasMore());
    EXPECT_FALSE(page(R"({"page": {"num": 3, "size": 20, "count": 45}})", 5)->hasMore());
    EXPECT_FALSE(page(R"({"page": {"num": 1, "size": 20, "count": 45}})", 0)->hasMore());
    // Page 0 and size 0 count as 1.
    EXPECT_TRUE(page(R"({"page": {"num": 0, "size": 0, "count": 2}})", 1)->hasMore());
    EXPECT_FALSE(page(R"({})", 3)->hasMore());
    // Huge page numbers must not wrap around into a "more".
    EXPECT_FALSE(page(R"({"page": {"num": 2147483647, "size": 2147483647, "count": 2147483647}})", 1)->hasMore());
}

TEST(CommentModelTest, TheCursorFormOverridesPageNumbers)
{
    auto page = [](const char* data, int raw) {
        QVariantList comments;
        for (int i = 0; i < raw; ++i)
            comments.append(QVariantMap{{"rpid", i + 1}, {"content", QVariantMap{{"message", "m"}}}});
        return KRCommentPage::pageFromData(json(data).toMap(), comments, false);
    };
    const auto middle = page(R"({"page": {"num": 9, "size": 12, "count": 7},
                                 "cursor": {"next": 3, "all_count": 100, "is_end": false}})", 20);
    EXPECT_EQ(middle->nextCursor(), 3);
    EXPECT_EQ(middle->page(), 2);
    EXPECT_EQ(middle->pageSize(), 20);
    EXPECT_EQ(middle->totalCount(), 100);
    EXPECT_TRUE(middle->hasMore());

    // An end flag still leaves "more" when the total says so and a cursor exists.
    EXPECT_TRUE(page(R"({"cursor": {"next": 4, "all_count": 100, "is_end": true}})", 20)->hasMore());
    EXPECT_FALSE(page(R"({"cursor": {"next": 4, "all_count": 20, "is_end": true}})", 20)->hasMore());
    EXPECT_FALSE(page(R"({"cursor": {"next": 0, "all_count": 100, "is_end": 1}})", 20)->hasMore());
    // No end flag: more whenever the page held any comment, even with cursor 0.
    const auto noFlag = page(R"({"cursor": {"next": 0}})", 1);
    EXPECT_TRUE(noFlag->hasMore());
    EXPECT_EQ(noFlag->page(), 1);
    EXPECT_EQ(noFlag->nextCursor(), 0);
    EXPECT_FALSE(page(R"({"cursor": {"next": 5}})", 0)->hasMore());
    // A zero total keeps the page form's.
    EXPECT_EQ(page(R"({"page": {"count": 33}, "cursor": {"next": 2, "all_count": 0}})", 3)->totalCount(), 33);
    EXPECT_EQ(page(R"({"cursor": {"next": "2"}})", 3)->page(), 1);

    // The payload itself when it has no "data" object; an empty page for a non-object.
    const auto bare = KRCommentPage::commentPageFromPayload(
        json(R"({"replies": [{"rpid": 1, "content": {"message": "x"}}], "cursor": {"next": 2, "is_end": false}})"),
        true);
    EXPECT_EQ(bare->comments().size(), 1);
    EXPECT_EQ(bare->nextCursor(), 2);
    const auto none = KRCommentPage::commentPageFromPayload(json("[]"), true);
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->comments().isEmpty());
    EXPECT_FALSE(none->hasMore());
}

TEST(CommentModelTest, AssignsTheAreaTypeDownTheTree)
{
    const auto page = KRCommentPage::commentPageFromPayload(
        json(R"({"data": {"replies": [{"rpid": 1, "type": 1, "content": {"message": "x"},
                 "replies": [{"rpid": 2, "content": {"message": "y"},
                              "replies": [{"rpid": 3, "content": {"message": "z"}}]}]}]}})"),
        false);
    KRAssignCommentPageType(page, 17);
    const auto top = page->comments().first();
    EXPECT_EQ(top->type(), 17);
    EXPECT_EQ(top->previewReplies().first()->type(), 17);
    EXPECT_EQ(top->previewReplies().first()->previewReplies().first()->type(), 17);
    KRAssignCommentPageType(page, 0);
    EXPECT_EQ(top->previewReplies().first()->previewReplies().first()->type(), 1);
}

TEST(CommentModelTest, BuildsThePostedComment)
{
    const double before = QDateTime::currentMSecsSinceEpoch() / 1000.0;
    const auto minimal = KRComment::postedCommentFromResponseData(json(R"({"data": {"rpid": 9}})"), "我的评论",
                                                                  QVariantMap{{"uname", "小明"}}, 170001, 55, 56);
    const double after = QDateTime::currentMSecsSinceEpoch() / 1000.0;
    ASSERT_TRUE(minimal);
    EXPECT_EQ(minimal->rpid(), 9);
    EXPECT_EQ(minimal->message(), "我的评论");
    EXPECT_EQ(minimal->oid(), 170001);
    EXPECT_EQ(minimal->root(), 55);
    EXPECT_EQ(minimal->parent(), 56);
    EXPECT_EQ(minimal->authorName(), "小明");
    EXPECT_GE(minimal->createdAt(), std::floor(before));
    EXPECT_LE(minimal->createdAt(), after + 1);
    EXPECT_EQ(minimal->type(), 1) << "parsed from the data object, whose absent type reads as 1";

    // Nothing usable in the reply: everything from the arguments, the type left at 0.
    const auto empty = KRComment::postedCommentFromResponseData(json("[]"), "hi", {}, 3, 0, 0);
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->rpid(), 0);
    EXPECT_EQ(empty->type(), 0);
    EXPECT_EQ(empty->authorName(), "我");
    EXPECT_TRUE(empty->avatarURL().isNull());
    EXPECT_EQ(empty->message(), "hi");
    EXPECT_GT(empty->createdAt(), 0);

    const auto fromName = KRComment::postedCommentFromResponseData(
        json(R"({"code": 0, "data": {"rpid_str": "77", "success_toast": "发送成功"}})"), "x",
        QVariantMap{{"uname", ""}, {"name", "备用名"}, {"avatar", "https://img.example.test/f.jpg"}}, 1, 0, 0);
    EXPECT_EQ(fromName->rpid(), 77);
    EXPECT_EQ(fromName->authorName(), "备用名");
    EXPECT_EQ(fromName->avatarURL(), "https://img.example.test/f.jpg");

    // The full reply object wins over the arguments where it has values.
    const auto full = KRComment::postedCommentFromResponseData(
        json(R"({"code": 0, "data": {"rpid": 88, "reply": {"rpid": 261543729500, "oid": 170001, "root": 0,
                 "parent": 0, "type": 1, "ctime": 1700000500, "member": {"uname": "服务端名", "avatar": "https://img.example.test/s.jpg"},
                 "content": {"message": "服务端文本[doge]", "emote": {"[doge]": {"url": "https://img.example.test/e.png"}}}}}})"),
        "本地文本", QVariantMap{{"uname", "本地名"}, {"face", "https://img.example.test/l.jpg"}}, 999, 0, 0);
    EXPECT_EQ(full->rpid(), 261543729500LL);
    EXPECT_EQ(full->oid(), 170001);
    EXPECT_EQ(full->message(), "服务端文本[doge]");
    EXPECT_EQ(full->authorName(), "服务端名");
    EXPECT_EQ(full->avatarURL(), "https://img.example.test/s.jpg");
    EXPECT_EQ(full->createdAt(), 1700000500.0);
    EXPECT_EQ(full->emotes().size(), 1);
}

TEST(CommentModelTest, DisplaysRelativeTimes)
{
    KRComment comment;
    const double now = 1700000000;
    EXPECT_EQ(comment.displayTime(now), "");
    EXPECT_FALSE(comment.displayTime(now).isNull());
    auto at = [&](double secondsAgo) {
        comment.setCreatedAt(now - secondsAgo);
        return comment.displayTime(now);
    };
    EXPECT_EQ(at(0), "刚刚");
    EXPECT_EQ(at(59), "刚刚");
    EXPECT_EQ(at(60), "1分钟前");
    EXPECT_EQ(at(3599), "59分钟前");
    EXPECT_EQ(at(3600), "1小时前");
    EXPECT_EQ(at(86399), "23小时前");
    const QString dayAgo = QDateTime::fromSecsSinceEpoch(qint64(now) - 86400).toString("yyyy-MM-dd");
    EXPECT_EQ(at(86400), dayAgo);
    const QString future = QDateTime::fromSecsSinceEpoch(qint64(now) + 30).toString("yyyy-MM-dd");
    EXPECT_EQ(at(-30), future);
    comment.setCreatedAt(9.2e18);
    comment.displayTime(now);  // absurd times must not crash

    comment.setCreatedAt(QDateTime::currentSecsSinceEpoch() - 150);
    EXPECT_EQ(comment.displayTime(), "2分钟前");
}
