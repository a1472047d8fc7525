#include "service/ServiceClientTesting.h"

#include "model/KRComment.h"
#include "model/KRCommentPage.h"

using namespace servicetest;
using PageRef = std::shared_ptr<KRCommentPage>;
using CommentRef = std::shared_ptr<KRComment>;

namespace {

const QString kSignedComments = QStringLiteral("/x/v2/reply/wbi/main");
const QString kPagedComments = QStringLiteral("/x/v2/reply");
const qint64 kOID = ServiceFixtures::kDetailAID;
const qint64 kFirst = ServiceFixtures::kFirstCommentRPID;

class CommentLoaderTest : public ServiceClientTest {
protected:
    OutcomeRef<PageRef> comments(qint64 oid, qint32 type, qint32 page)
    {
        return run<PageRef>([&](auto done) { client()->loadCommentsForOID(oid, type, page, liveOwner(), done); });
    }
    QString sentCursor() const { return requestsTo(kSignedComments).last().queryValue(QStringLiteral("next")); }

    // A cursor reply of one comment whose next cursor is `next`.
    void routeCursorPage(qint64 next)
    {
        serveJSON(kSignedComments, QStringLiteral(R"({"code":0,"data":{"cursor":{"next":%1,"all_count":500},
                  "replies":[{"rpid":100,"content":{"message":"评论"}}]}})").arg(next).toUtf8());
    }
};

TEST_F(CommentLoaderTest, FirstPageComesSignedWithThePinnedCommentOnTop)
{
    auto video = videoWith(1300000001); // a synthetic aid: comments hang on the real one
    video->setResolvedAid(kOID);
    const auto outcome = run<PageRef>([&](auto done) { client()->loadCommentsForVideo(video, 0, liveOwner(), done); });
    ASSERT_FALSE(outcome->error);
    const PageRef& page = outcome->value;
    // The pinned comment is also the first regular one: shown once, on top, marked.
    ASSERT_EQ(page->comments().size(), 20);
    EXPECT_TRUE(page->comments().first()->isPinned());
    EXPECT_EQ(page->comments().first()->rpid(), kFirst);
    EXPECT_FALSE(page->comments().at(1)->isPinned());
    EXPECT_EQ(page->comments().at(1)->rpid(), kFirst + 1);
    EXPECT_EQ(page->comments().first()->type(), 1);
    EXPECT_EQ(page->comments().first()->previewReplies().size(), 3);
    EXPECT_EQ(page->nextCursor(), 2);
    EXPECT_TRUE(page->hasMore());
    EXPECT_EQ(page->totalCount(), ServiceFixtures::kCommentCount * (1 + ServiceFixtures::kRepliesPerComment));

    EXPECT_EQ(queryWithout(requestsTo(kSignedComments).first()),
              QStringLiteral("mode=3&next=0&oid=%1&plat=1&ps=20&type=1&web_location=1315875").arg(kOID));
    EXPECT_TRUE(requestsTo(kPagedComments).isEmpty());
}

TEST_F(CommentLoaderTest, LaterPagesUseTheCursorOfThePageBeforeWhenThereIsOne)
{
    routeCursorPage(77);
    comments(kOID, 1, 1);
    routeCursorPage(93);
    const auto second = comments(kOID, 1, 2);
    EXPECT_EQ(sentCursor(), QStringLiteral("77"));
    EXPECT_EQ(second->value->nextCursor(), 93);
    EXPECT_EQ(second->value->page(), 92);
    comments(kOID, 0, 3); // type 0 is type 1
    EXPECT_EQ(sentCursor(), QStringLiteral("93"));

    // Another area of the same object, never read in this run: the page number stands in.
    comments(kOID, 12, 3);
    EXPECT_EQ(sentCursor(), QStringLiteral("3"));
    EXPECT_EQ(requestsTo(kSignedComments).last().queryValue(QStringLiteral("type")), QStringLiteral("12"));

    // A failed page leaves no cursor behind: page 3 after a failed page 2 sends its number.
    KRAPIClient::resetReadLoaderStateForTesting();
    routeCursorPage(77);
    comments(kOID, 1, 1);
    serve(kSignedComments, ServiceFixtures::serviceError(-352, QStringLiteral("风控校验失败")));
    comments(kOID, 1, 2); // the legacy endpoint answers it
    routeCursorPage(120);
    comments(kOID, 1, 3);
    EXPECT_EQ(sentCursor(), QStringLiteral("3"));
}

TEST_F(CommentLoaderTest, NumberedPagesStandInForTheSignedEndpoint)
{
    serve(kSignedComments, ServiceFixtures::serverFailure(500));
    ConsoleCapture console;
    const auto third = comments(kOID, 1, 3);
    ASSERT_FALSE(third->error);
    EXPECT_EQ(requestsTo(kPagedComments).first().query, QStringLiteral("type=1&oid=%1&pn=3&ps=12&sort=2").arg(kOID));
    // The page-number form: 45 comments, 12 a page; page 3 has more, page 4 is the last.
    EXPECT_EQ(third->value->comments().size(), 12);
    EXPECT_TRUE(third->value->hasMore());
    EXPECT_FALSE(third->value->comments().first()->isPinned());
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneCommentsLegacyFallback] oid=%1 page=3 count=12 total=45 error=(null)").arg(kOID)));
    EXPECT_FALSE(comments(kOID, 1, 4)->value->hasMore());
    EXPECT_TRUE(comments(kOID, 1, 1)->value->comments().first()->isPinned());

    // Both failing: the numbered pages' error.
    serve(kPagedComments, ServiceFixtures::serviceError(12002, QStringLiteral("评论区已关闭")));
    const auto closed = comments(kOID, 1, 1);
    expectError(closed->error, 12002, QStringLiteral("评论区已关闭"));
    EXPECT_FALSE(closed->value);

    // Without a signing key, straight to the numbered pages.
    fake.clearRequests();
    KRAPIClient::resetWBIMixinKeyForTesting();
    serve(QStringLiteral("/x/web-interface/nav"), ServiceFixtures::htmlBody());
    comments(kOID, 1, 1);
    EXPECT_TRUE(requestsTo(kSignedComments).isEmpty());
    EXPECT_EQ(requestsTo(kPagedComments).size(), 1);
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneCommentsWBI] key unavailable, falling back error=")));
}

TEST_F(CommentLoaderTest, ArgumentErrorsAnswerInsideTheCall)
{
    bool inside = false;
    auto expectAtOnce = [&](const auto& outcome, qint64 code, const QString& message) {
        EXPECT_TRUE(inside);
        expectError(outcome->error, code, message);
    };
    expectAtOnce(run<PageRef>([&](auto done) { client()->loadCommentsForVideo(videoWith(0, ServiceFixtures::detailBVID()), 1, liveOwner(), done); },
                              &inside),
                 -4, QStringLiteral("缺少真实 AID，无法读取评论"));
    expectAtOnce(run<PageRef>([&](auto done) { client()->loadCommentsForOID(0, 1, 1, liveOwner(), done); }, &inside), -4, QStringLiteral("缺少评论标识"));
    expectAtOnce(run<PageRef>([&](auto done) { client()->loadRepliesForComment(std::make_shared<KRComment>(), 1, liveOwner(), done); }, &inside), -5,
                 QStringLiteral("评论标识不完整"));
    expectAtOnce(run<CommentRef>([&](auto done) { client()->loadCommentDetailForOID(kOID, 1, 0, liveOwner(), done); }, &inside), -5,
                 QStringLiteral("评论定位信息不完整"));
    EXPECT_TRUE(fake.requests().isEmpty());
}

TEST_F(CommentLoaderTest, RepliesArePagedUnderTheirRootWithoutPinned)
{
    auto root = std::make_shared<KRComment>();
    root->setRpid(kFirst + 4);
    root->setOid(kOID);
    ConsoleCapture console;
    const auto second = run<PageRef>([&](auto done) { client()->loadRepliesForComment(root, 2, liveOwner(), done); });
    ASSERT_FALSE(second->error);
    EXPECT_EQ(second->value->comments().size(), ServiceFixtures::kRepliesPerComment - 20);
    EXPECT_FALSE(second->value->hasMore());
    EXPECT_EQ(second->value->comments().first()->root(), root->rpid());
    EXPECT_EQ(second->value->comments().first()->type(), 1);
    EXPECT_EQ(requestsTo(QStringLiteral("/x/v2/reply/reply")).first().query,
              QStringLiteral("type=1&oid=%1&root=%2&pn=2&ps=20").arg(kOID).arg(root->rpid()));
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneReplies] root=%1 page=2 count=5 total=25 error=(null)").arg(root->rpid())));
    EXPECT_TRUE(run<PageRef>([&](auto done) { client()->loadRepliesForComment(root, -1, liveOwner(), done); })->value->hasMore());

    root->setRpid(42); // gone
    const auto gone = run<PageRef>([&](auto done) { client()->loadRepliesForComment(root, 1, liveOwner(), done); });
    expectError(gone->error, 12022);
    EXPECT_FALSE(gone->value);
}

TEST_F(CommentLoaderTest, CommentDetailReturnsTheRootWithItsReplies)
{
    const auto outcome = run<CommentRef>([&](auto done) { client()->loadCommentDetailForOID(kOID, 0, kFirst + 10, liveOwner(), done); });
    ASSERT_FALSE(outcome->error);
    EXPECT_EQ(outcome->value->rpid(), kFirst + 10);
    EXPECT_EQ(outcome->value->previewReplies().size(), 3);
    EXPECT_EQ(outcome->value->previewReplies().first()->type(), 1);
    EXPECT_EQ(requestsTo(QStringLiteral("/x/v2/reply/detail")).first().query, QStringLiteral("type=1&oid=%1&root=%2").arg(kOID).arg(kFirst + 10));

    // A success that holds no usable root: the comment is gone or hidden.
    serveJSON(QStringLiteral("/x/v2/reply/detail"), R"({"code":0,"data":{"root":null}})");
    const auto hidden = run<CommentRef>([&](auto done) { client()->loadCommentDetailForOID(kOID, 1, kFirst + 10, liveOwner(), done); });
    expectError(hidden->error, -8, QStringLiteral("对应评论已删除或不可见"));
    EXPECT_FALSE(hidden->value);
}

} // namespace
