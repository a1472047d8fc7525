#include "model/KRComment.h"
#include "model/KRCommentPage.h"
#include "model/KRJSON.h"

#include <QDateTime>

#include <cmath>

#include <gtest/gtest.h>

namespace {

QVariant json(const char* text)
{
    QString error;
    const QVariant value = KRJSONParse(QByteArray(text), &error);
    EXPECT_TRUE(value.isValid()) << error.toStdString();
    return value;
}

std::shared_ptr<KRComment> comment(const char* text)
{
    return KRComment::commentFromDictionary(json(text));
}

QList<qint64> ids(const KRCommentList& comments)
{
    QList<qint64> result;
    for (const auto& c : comments)
        result.append(c->rpid());
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
      {"img_src": "https://img.example.test/p/1.jpg"}, "https://img.example.test/p/2.jpg",
      {"img_url": "https://img.example.test/p/3.jpg"}, {"url": "https://img.example.test/p/4.jpg"},
      "https://img.example.test/p/2.jpg", 17, [1, 2], "", {"img_src": ""},
      "https://img.example.test/p/5.jpg", "https://img.example.test/p/6.jpg", "https://img.example.test/p/7.jpg",
      "https://img.example.test/p/8.jpg", "https://img.example.test/p/9.jpg", "https://img.example.test/p/10.jpg"
    ]
  },
  "replies": [
    {"rpid": 261543729400, "root": 261543729392, "type": 0, "member": {"uname": "回复者"}, "content": {"message": "同感"}},
    {"rpid": 0, "content": {}},
    "junk"
  ]
})";

} // namespace

TEST(CommentModelTest, ParsesACommentObject)
{
    const auto c = comment(kComment);
    ASSERT_TRUE(c);
    EXPECT_EQ((QList<qint64>{c->rpid(), c->oid(), c->root(), c->likeCount(), qint64(c->createdAt())}),
              (QList<qint64>{261543729392LL, 170001, 0, 5321, 1700000000}));
    EXPECT_EQ(c->replyCount(), 5) << "the larger of rcount and count";
    EXPECT_EQ((QStringList{c->authorName(), c->avatarURL(), c->message()}),
              (QStringList{"路过的观众", "https://img.example.test/face/a.jpg", "笑死[doge][大哭]"}));

    // Emotes: keyed by their text (the key when the text is empty), small or large, only
    // with a picture.
    const KREmoteMap& emotes = c->emotes();
    ASSERT_EQ(emotes.size(), 2);
    EXPECT_EQ(emotes.value("[doge]").toMap(),
              (QVariantMap{{"text", "[doge]"}, {"url", "https://img.example.test/emote/doge.png"}, {"size", 1}}));
    EXPECT_EQ(emotes.value("[大哭]").toMap(),
              (QVariantMap{{"text", "[大哭]"}, {"url", "https://img.example.test/emote/cry.gif"}, {"size", 2}}));

    // Pictures: in order, each once, at most nine; elements naming no picture are skipped.
    QStringList expected;
    for (int i = 1; i <= 9; ++i)
        expected << QStringLiteral("https://img.example.test/p/%1.jpg").arg(i);
    EXPECT_EQ(c->pictureURLs(), expected);

    ASSERT_EQ(ids(c->previewReplies()), QList<qint64>{261543729400LL});
    EXPECT_EQ(c->previewReplies().first()->type(), 1);
    EXPECT_EQ(c->previewReplies().first()->message(), "同感");
}

TEST(CommentModelTest, IdentifiersTypesAndDroppedComments)
{
    // Text ids win unless they read as 0; ids beyond 2^53 stay exact.
    EXPECT_EQ(comment(R"({"rpid_str": "0", "rpid": 5})")->rpid(), 5);
    EXPECT_EQ(comment(R"({"rpid_str": "7", "rpid": 5})")->rpid(), 7);
    EXPECT_EQ(comment(R"({"rpid_str": "9007199254740993"})")->rpid(), 9007199254740993LL);
    EXPECT_EQ(comment(R"({"rpid": 1, "oid": 9007199254740997})")->oid(), 9007199254740997LL);
    // Area types below 2 are 1.
    EXPECT_EQ(comment(R"({"rpid": 1, "type": 0})")->type(), 1);
    EXPECT_EQ(comment(R"({"rpid": 1})")->type(), 1);
    EXPECT_EQ(comment(R"({"rpid": 1, "type": "17"})")->type(), 17);
    // Neither id nor message: no comment; a message without an id is one.
    EXPECT_FALSE(comment(R"({"rpid": 0, "content": {"message": ""}})"));
    EXPECT_FALSE(comment(R"({"member": {"uname": "x"}})"));
    EXPECT_TRUE(comment(R"({"content": {"message": "no id"}})"));
    EXPECT_FALSE(comment("[1]"));
    // Values of the wrong kind count as absent.
    const auto odd = comment(R"({"rpid": 3, "member": "x", "content": [1], "like": {"n": 1}, "replies": {}})");
    ASSERT_TRUE(odd);
    EXPECT_TRUE(odd->authorName().isNull());
    EXPECT_TRUE(odd->message().isNull());
    EXPECT_EQ(odd->likeCount(), 0);
    EXPECT_TRUE(odd->previewReplies().isEmpty());
}

TEST(CommentModelTest, PinnedCommentsComeFirstAndOnce)
{
    const QVariant payload = json(R"({"code": 0, "data": {
      "page": {"num": 1, "size": 20, "count": 45},
      "top_replies": [{"rpid": 100, "content": {"message": "置顶"}}, {"rpid": 0, "content": {"message": "pinned, no id"}}],
      "replies": [
        {"rpid": 101, "content": {"message": "a"}}, {"rpid": 100, "content": {"message": "置顶 again"}},
        {"rpid": 102, "content": {"message": "b"}}, {"rpid": 101, "content": {"message": "a repeated"}},
        {"content": {"message": "no id"}}, {"content": {"message": "no id"}}, {"rpid": 0}, 7
      ]}})");

    const auto first = KRCommentPage::commentPageFromPayload(payload, true);
    EXPECT_EQ(ids(first->comments()), (QList<qint64>{100, 0, 101, 102, 0, 0}));
    EXPECT_TRUE(first->comments()[0]->isPinned());
    EXPECT_EQ(first->comments()[0]->message(), "置顶");
    EXPECT_TRUE(first->comments()[1]->isPinned());
    EXPECT_FALSE(first->comments()[2]->isPinned());
    EXPECT_TRUE(first->hasMore()) << "45 > 8 raw";

    // Without pinned comments (a later page, or replies) the pinned one keeps its regular place.
    const auto later = KRCommentPage::replyPageFromPayload(payload);
    EXPECT_EQ(ids(later->comments()), (QList<qint64>{101, 100, 102, 0, 0}));
    EXPECT_FALSE(later->comments()[1]->isPinned());

    // The payload itself when it has no "data" object; an empty page for a non-object.
    EXPECT_EQ(KRCommentPage::commentPageFromPayload(json(R"({"replies": [{"rpid": 1}]})"), true)->comments().size(), 1);
    EXPECT_TRUE(KRCommentPage::commentPageFromPayload(json("[]"), true)->comments().isEmpty());
}

TEST(CommentModelTest, PagingStateInBothForms)
{
    const struct { const char* data; int raw; bool hasMore; int page, pageSize, total; qint64 next; } rows[] = {
        {R"({"page": {"num": 1, "size": 20, "count": 45}})", 20, true, 1, 20, 45, 0},
        {R"({"page": {"num": 2, "size": 20, "count": 45}})", 20, true, 2, 20, 45, 0},
        {R"({"page": {"num": 3, "size": 20, "count": 45}})", 5, false, 3, 20, 45, 0},
        {R"({"page": {"num": 1, "size": 20, "count": 45}})", 0, false, 1, 20, 45, 0},
        // Page 0 and size 0 count as 1; huge numbers must not wrap around into a "more".
        {R"({"page": {"num": 0, "size": 0, "count": 2}})", 1, true, 0, 0, 2, 0},
        {R"({"page": {"num": 2147483647, "size": 2147483647, "count": 2147483647}})", 1, false, 2147483647, 2147483647, 2147483647, 0},
        // The cursor form overrides the page numbers.
        {R"({"page": {"num": 9, "size": 12, "count": 7}, "cursor": {"next": 3, "all_count": 100, "is_end": false}})", 20, true, 2, 20, 100, 3},
        // An end flag still leaves "more" when the total says so and a cursor exists.
        {R"({"cursor": {"next": 4, "all_count": 100, "is_end": true}})", 20, true, 3, 20, 100, 4},
        {R"({"cursor": {"next": 4, "all_count": 20, "is_end": true}})", 20, false, 3, 20, 20, 4},
        {R"({"cursor": {"next": 0, "all_count": 100, "is_end": 1}})", 20, false, 1, 20, 100, 0},
        // No end flag: more whenever the page held any comment, even with cursor 0.
        {R"({"cursor": {"next": 0}})", 1, true, 1, 1, 0, 0},
        {R"({"cursor": {"next": 5}})", 0, false, 4, 0, 0, 5},
        // A zero total keeps the page form's.
        {R"({"page": {"count": 33}, "cursor": {"next": "2", "all_count": 0}})", 3, true, 1, 3, 33, 2},
    };
    for (const auto& row : rows) {
        QVariantList comments;
        for (int i = 0; i < row.raw; ++i)
            comments.append(QVariantMap{{"rpid", i + 1}, {"content", QVariantMap{{"message", "m"}}}});
        const auto page = KRCommentPage::pageFromData(json(row.data).toMap(), comments, false);
        EXPECT_EQ(page->hasMore(), row.hasMore) << row.data << " raw " << row.raw;
        EXPECT_EQ(page->page(), row.page) << row.data;
        EXPECT_EQ(page->pageSize(), row.pageSize) << row.data;
        EXPECT_EQ(page->totalCount(), row.total) << row.data;
        EXPECT_EQ(page->nextCursor(), row.next) << row.data;
    }
}

TEST(CommentModelTest, AssignsTheAreaTypeDownTheTree)
{
    const auto page = KRCommentPage::commentPageFromPayload(
        json(R"({"data": {"replies": [{"rpid": 1, "type": 1, "content": {"message": "x"},
                 "replies": [{"rpid": 2, "replies": [{"rpid": 3}]}]}]}})"),
        false);
    KRAssignCommentPageType(page, 17);
    const auto& middle = page->comments().first()->previewReplies().first();
    EXPECT_EQ(page->comments().first()->type(), 17);
    EXPECT_EQ(middle->previewReplies().first()->type(), 17);
    KRAssignCommentPageType(page, 0);
    EXPECT_EQ(middle->previewReplies().first()->type(), 1);
}

TEST(CommentModelTest, BuildsThePostedComment)
{
    const auto post = [](const char* reply, const QVariantMap& profile, qint64 oid, qint64 root, qint64 parent) {
        return KRComment::postedCommentFromResponseData(json(reply), "本地文本", profile, oid, root, parent);
    };
    const auto ids = [](const std::shared_ptr<KRComment>& c) { return QList<qint64>{c->rpid(), c->oid(), c->root(), c->parent()}; };
    const auto texts = [](const std::shared_ptr<KRComment>& c) { return QStringList{c->message(), c->authorName(), c->avatarURL()}; };

    const double before = std::floor(QDateTime::currentMSecsSinceEpoch() / 1000.0);
    const auto minimal = post(R"({"data": {"rpid": 9}})", {{"uname", "小明"}}, 170001, 55, 56);
    EXPECT_EQ(ids(minimal), (QList<qint64>{9, 170001, 55, 56}));
    EXPECT_EQ(texts(minimal), (QStringList{"本地文本", "小明", QString()}));
    EXPECT_GE(minimal->createdAt(), before);
    EXPECT_LE(minimal->createdAt(), QDateTime::currentMSecsSinceEpoch() / 1000.0 + 1);

    // Nothing usable in the reply: everything from the arguments, the type left at 0.
    const auto empty = post("[]", {}, 3, 0, 0);
    EXPECT_EQ(texts(empty), (QStringList{"本地文本", "我", QString()}));
    EXPECT_EQ(empty->type(), 0);

    const auto fromName = post(R"({"code": 0, "data": {"rpid_str": "77", "success_toast": "发送成功"}})",
                               {{"uname", ""}, {"name", "备用名"}, {"avatar", "https://img.example.test/f.jpg"}}, 1, 0, 0);
    EXPECT_EQ(fromName->rpid(), 77);
    EXPECT_EQ(texts(fromName), (QStringList{"本地文本", "备用名", "https://img.example.test/f.jpg"}));

    // The full reply object wins over the arguments where it has values.
    const auto full = post(R"({"data": {"rpid": 88, "reply": {"rpid": 500, "oid": 170001, "ctime": 1700000500,
                               "member": {"uname": "服务端名"}, "content": {"message": "服务端文本"}}}})",
                           {{"uname", "本地名"}, {"face", "https://img.example.test/l.jpg"}}, 999, 7, 0);
    EXPECT_EQ(ids(full), (QList<qint64>{500, 170001, 7, 0}));
    EXPECT_EQ(texts(full), (QStringList{"服务端文本", "服务端名", "https://img.example.test/l.jpg"}));
    EXPECT_EQ(full->createdAt(), 1700000500.0);
}

TEST(CommentModelTest, DisplaysRelativeTimes)
{
    const double now = 1700000000;
    const auto dateOf = [](double t) { return QDateTime::fromSecsSinceEpoch(qint64(t)).toString("yyyy-MM-dd"); };
    const struct { double secondsAgo; QString expected; } rows[] = {
        {0, "刚刚"}, {59, "刚刚"}, {60, "1分钟前"}, {3599, "59分钟前"}, {3600, "1小时前"}, {86399, "23小时前"},
        {86400, dateOf(now - 86400)}, {-30, dateOf(now + 30)}, // a time in the future shows its date
    };
    KRComment c;
    EXPECT_EQ(c.displayTime(now), "");
    for (const auto& row : rows) {
        c.setCreatedAt(now - row.secondsAgo);
        EXPECT_EQ(c.displayTime(now), row.expected) << row.secondsAgo;
    }
    c.setCreatedAt(9.2e18);
    c.displayTime(now); // absurd times must not crash
    c.setCreatedAt(QDateTime::currentSecsSinceEpoch() - 150);
    EXPECT_EQ(c.displayTime(), "2分钟前");
}

TEST(CommentModelTest, AppendsAPageLeavingOutRepeatsButNeverCommentsWithoutAnID)
{
    const auto comment = [](qint64 rpid) {
        auto c = std::make_shared<KRComment>();
        c->setRpid(rpid);
        return c;
    };
    KRCommentList listed{comment(1), comment(0)};
    KRAppendCommentsSkippingRepeats(listed, {comment(1), comment(2), nullptr, comment(2), comment(0), comment(3)});
    QList<qint64> ids;
    for (const auto& c : listed)
        ids << c->rpid();
    EXPECT_EQ(ids, (QList<qint64>{1, 0, 2, 0, 3}));
}
