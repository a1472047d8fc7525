#include "service/ReadLoaderTesting.h"

#include "service/KRComment.h"
#include "service/KRCommentPage.h"
#include "support/ConsoleCapture.h"

using namespace readloaders;
using PageRef = std::shared_ptr<KRCommentPage>;
using CommentRef = std::shared_ptr<KRComment>;

namespace {

const QString kSignedComments = QStringLiteral("/x/v2/reply/wbi/main");
const QString kPagedComments = QStringLiteral("/x/v2/reply");
const qint64 kOID = ServiceFixtures::kDetailAID;

QVariantMap rawComment(qint64 rpid)
{
    return {{QStringLiteral("rpid"), rpid},
            {QStringLiteral("member"), QVariantMap{{QStringLiteral("uname"), QStringLiteral("路人")}}},
            {QStringLiteral("content"), QVariantMap{{QStringLiteral("message"), QStringLiteral("评论 %1").arg(rpid)}}}};
}

class CommentLoaderTest : public ReadLoaderTest {
protected:
    OutcomeRef<PageRef> comments(qint64 oid, qint32 type, qint32 page)
    {
        return runOnce<PageRef>([&](auto done) { client()->loadCommentsForOID(oid, type, page, done); });
    }

    // A cursor reply of `count` comments whose next cursor is `next`.
    void routeCursorPage(qint64 next, int count, const QVariant& isEnd = QVariant())
    {
        QVariantList replies;
        for (int i = 0; i < count; ++i)
            replies.append(rawComment(100 + i));
        QVariantMap cursor{{QStringLiteral("next"), next}, {QStringLiteral("all_count"), 500}};
        if (isEnd.isValid())
            cursor.insert(QStringLiteral("is_end"), isEnd);
        fake.routeReply(KRServiceHosts::apiHost(), kSignedComments,
                        FakeReply::json(ServiceFixtures::envelope(
                            QVariantMap{{QStringLiteral("cursor"), cursor}, {QStringLiteral("replies"), replies}})));
    }
};

TEST_F(CommentLoaderTest, FirstPageComesSignedWithThePinnedCommentOnTop)
{
    auto outcome = makeOutcome<PageRef>();
    client()->loadCommentsForVideo(videoWith(ServiceFixtures::kDetailAID), 0, recorder(outcome));
    KR_SETTLE_ONCE(outcome);
    ASSERT_FALSE(outcome->error);
    const PageRef& page = outcome->value;
    ASSERT_TRUE(page);
    // The pinned comment is also the first regular one: shown once, on top, marked.
    ASSERT_EQ(page->comments().size(), 20);
    EXPECT_TRUE(page->comments().first()->isPinned());
    EXPECT_EQ(page->comments().first()->rpid(), ServiceFixtures::kFirstCommentRPID);
    EXPECT_FALSE(page->comments().at(1)->isPinned());
    EXPECT_EQ(page->comments().at(1)->rpid(), ServiceFixtures::kFirstCommentRPID + 1);
    EXPECT_EQ(page->comments().first()->type(), 1);
    EXPECT_EQ(page->comments().first()->previewReplies().size(), 3);
    EXPECT_EQ(page->nextCursor(), 2);
    EXPECT_TRUE(page->hasMore());
    EXPECT_EQ(page->page(), 1);
    EXPECT_EQ(page->totalCount(), ServiceFixtures::kCommentCount * (1 + ServiceFixtures::kRepliesPerComment));

    const FakeRequest request = requestsTo(kSignedComments).first();
    EXPECT_EQ(request.queryValue(QStringLiteral("oid")), QString::number(kOID));
    EXPECT_EQ(request.queryValue(QStringLiteral("type")), QStringLiteral("1"));
    EXPECT_EQ(request.queryValue(QStringLiteral("mode")), QStringLiteral("3"));
    EXPECT_EQ(request.queryValue(QStringLiteral("next")), QStringLiteral("0"));
    EXPECT_EQ(request.queryValue(QStringLiteral("ps")), QStringLiteral("20"));
    EXPECT_EQ(request.queryValue(QStringLiteral("plat")), QStringLiteral("1"));
    EXPECT_EQ(request.queryValue(QStringLiteral("web_location")), QStringLiteral("1315875"));
    EXPECT_TRUE(requestsTo(kPagedComments).isEmpty());
}

TEST_F(CommentLoaderTest, LaterPagesUseTheCursorOfThePageBefore)
{
    routeCursorPage(77, 20);
    comments(kOID, 1, 1);
    routeCursorPage(93, 20);
    auto second = comments(kOID, 1, 2);
    ASSERT_FALSE(second->error);
    EXPECT_EQ(second->value->nextCursor(), 93);
    EXPECT_EQ(second->value->page(), 92);
    // Page 2 of the signed endpoint carries no pinned comments, and page 3 follows page 2.
    auto third = comments(kOID, 0, 3);
    const QList<FakeRequest> requests = requestsTo(kSignedComments);
    ASSERT_EQ(requests.size(), 3);
    EXPECT_EQ(requests.at(1).queryValue(QStringLiteral("next")), QStringLiteral("77"));
    EXPECT_EQ(requests.at(2).queryValue(QStringLiteral("next")), QStringLiteral("93"));

    // Another area of the same object, never read in this run: the page number stands in.
    comments(kOID, 12, 3);
    EXPECT_EQ(requestsTo(kSignedComments).last().queryValue(QStringLiteral("next")), QStringLiteral("3"));
    EXPECT_EQ(requestsTo(kSignedComments).last().queryValue(QStringLiteral("type")), QStringLiteral("12"));
}

TEST_F(CommentLoaderTest, FailedPageLeavesNoCursorBehind)
{
    routeCursorPage(77, 20);
    comments(kOID, 1, 1);
    fake.routeReply(KRServiceHosts::apiHost(), kSignedComments, ServiceFixtures::serviceError(-352, QStringLiteral("风控校验失败")));
    comments(kOID, 1, 2); // the legacy endpoint answers it
    routeCursorPage(120, 20);
    comments(kOID, 1, 3);
    // Page 3 was never reached through the signed endpoint, so its page number is sent.
    EXPECT_EQ(requestsTo(kSignedComments).last().queryValue(QStringLiteral("next")), QStringLiteral("3"));
}

TEST_F(CommentLoaderTest, HasMoreInTheCursorForm)
{
    struct Case {
        const char* name;
        qint64 next;
        int count;
        QVariant isEnd;
        bool hasMore;
    };
    const QList<Case> cases{
        {"not at the end", 3, 20, false, true},
        {"at the end, no next", 0, 20, true, false},
        {"no is_end, no next", 0, 4, QVariant(), true},
        {"at the end but more than shown", 5, 20, true, true}, // all_count 500 > 20 and next > 0
        {"empty page", 3, 0, false, false},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        routeCursorPage(item.next, item.count, item.isEnd);
        auto outcome = comments(kOID + 1, 1, 1);
        ASSERT_TRUE(outcome->value);
        EXPECT_EQ(outcome->value->hasMore(), item.hasMore);
        EXPECT_EQ(outcome->value->pageSize(), item.count);
    }
}

TEST_F(CommentLoaderTest, SignedFailureFallsBackToTheNumberedPages)
{
    fake.routeReply(KRServiceHosts::apiHost(), kSignedComments, ServiceFixtures::serverFailure(500));
    testsupport::ConsoleCapture console;
    auto third = comments(kOID, 1, 3);
    ASSERT_FALSE(third->error);
    EXPECT_EQ(requestsTo(kPagedComments).first().query, QStringLiteral("type=1&oid=%1&pn=3&ps=12&sort=2").arg(kOID));
    // The page-number form: 45 comments, 12 a page; page 3 has more, page 4 is the last.
    EXPECT_EQ(third->value->comments().size(), 12);
    EXPECT_TRUE(third->value->hasMore());
    EXPECT_FALSE(third->value->comments().first()->isPinned());
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneCommentsLegacyFallback] oid=%1 page=3 count=12 total=45 error=(null)").arg(kOID)));

    auto fourth = comments(kOID, 1, 4);
    EXPECT_EQ(fourth->value->comments().size(), 9);
    EXPECT_FALSE(fourth->value->hasMore());

    auto first = comments(kOID, 1, 1);
    EXPECT_TRUE(first->value->comments().first()->isPinned());
    EXPECT_EQ(first->value->comments().size(), 12);
}

TEST_F(CommentLoaderTest, MissingSigningKeyGoesStraightToTheNumberedPages)
{
    fake.routeReply(KRServiceHosts::apiHost(), QStringLiteral("/x/web-interface/nav"), ServiceFixtures::htmlBody());
    testsupport::ConsoleCapture console;
    auto outcome = comments(kOID, 1, 1);
    ASSERT_FALSE(outcome->error);
    EXPECT_TRUE(requestsTo(kSignedComments).isEmpty());
    EXPECT_EQ(requestsTo(kPagedComments).size(), 1);
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneCommentsWBI] key unavailable, falling back error=")));
}

TEST_F(CommentLoaderTest, BothEndpointsFailingReportTheNumberedPagesError)
{
    fake.routeReply(KRServiceHosts::apiHost(), kSignedComments, ServiceFixtures::serverFailure(502));
    fake.routeReply(KRServiceHosts::apiHost(), kPagedComments, ServiceFixtures::serviceError(12002, QStringLiteral("评论区已关闭")));
    auto outcome = comments(kOID, 1, 1);
    ASSERT_TRUE(outcome->error);
    EXPECT_EQ(outcome->error->code(), 12002);
    EXPECT_EQ(outcome->error->message(), QStringLiteral("评论区已关闭"));
    EXPECT_FALSE(outcome->value);
}

TEST_F(CommentLoaderTest, ArgumentErrorsAnswerInsideTheCall)
{
    auto video = makeOutcome<PageRef>();
    client()->loadCommentsForVideo(videoWith(0, ServiceFixtures::detailBVID()), 1, recorder(video));
    EXPECT_EQ(video->calls, 1);
    ASSERT_TRUE(video->error);
    EXPECT_EQ(video->error->code(), -4);
    EXPECT_EQ(video->error->message(), QStringLiteral("缺少真实 AID，无法读取评论"));

    auto object = makeOutcome<PageRef>();
    client()->loadCommentsForOID(0, 1, 1, recorder(object));
    EXPECT_EQ(object->calls, 1);
    ASSERT_TRUE(object->error);
    EXPECT_EQ(object->error->message(), QStringLiteral("缺少评论标识"));

    auto replies = makeOutcome<PageRef>();
    client()->loadRepliesForComment(std::make_shared<KRComment>(), 1, recorder(replies));
    EXPECT_EQ(replies->calls, 1);
    ASSERT_TRUE(replies->error);
    EXPECT_EQ(replies->error->code(), -5);
    EXPECT_EQ(replies->error->message(), QStringLiteral("评论标识不完整"));

    auto detail = makeOutcome<CommentRef>();
    client()->loadCommentDetailForOID(kOID, 1, 0, recorder(detail));
    EXPECT_EQ(detail->calls, 1);
    ASSERT_TRUE(detail->error);
    EXPECT_EQ(detail->error->code(), -5);
    EXPECT_EQ(detail->error->message(), QStringLiteral("评论定位信息不完整"));

    QCoreApplication::processEvents();
    EXPECT_TRUE(fake.requests().isEmpty());
}

TEST_F(CommentLoaderTest, CommentsOfAVideoHangOnItsRealArchive)
{
    auto video = videoWith(1300000001);
    video->setResolvedAid(kOID);
    auto outcome = makeOutcome<PageRef>();
    client()->loadCommentsForVideo(video, 1, recorder(outcome));
    KR_SETTLE_ONCE(outcome);
    EXPECT_EQ(requestsTo(kSignedComments).first().queryValue(QStringLiteral("oid")), QString::number(kOID));
}

TEST_F(CommentLoaderTest, RepliesArePagedUnderTheirRootWithoutPinned)
{
    auto root = std::make_shared<KRComment>();
    root->setRpid(ServiceFixtures::kFirstCommentRPID + 4);
    root->setOid(kOID);
    root->setType(0);
    testsupport::ConsoleCapture console;
    auto second = makeOutcome<PageRef>();
    client()->loadRepliesForComment(root, 2, recorder(second));
    KR_SETTLE_ONCE(second);
    ASSERT_FALSE(second->error);
    EXPECT_EQ(second->value->comments().size(), ServiceFixtures::kRepliesPerComment - 20);
    EXPECT_FALSE(second->value->hasMore());
    EXPECT_EQ(second->value->comments().first()->root(), root->rpid());
    EXPECT_EQ(second->value->comments().first()->type(), 1);
    EXPECT_EQ(requestsTo(QStringLiteral("/x/v2/reply/reply")).first().query,
              QStringLiteral("type=1&oid=%1&root=%2&pn=2&ps=20").arg(kOID).arg(root->rpid()));
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneReplies] root=%1 page=2 count=5 total=25 error=(null)").arg(root->rpid())));

    auto first = makeOutcome<PageRef>();
    client()->loadRepliesForComment(root, -1, recorder(first));
    KR_SETTLE_ONCE(first);
    EXPECT_EQ(first->value->comments().size(), 20);
    EXPECT_TRUE(first->value->hasMore());

    root->setRpid(42); // gone
    auto gone = makeOutcome<PageRef>();
    client()->loadRepliesForComment(root, 1, recorder(gone));
    KR_SETTLE_ONCE(gone);
    ASSERT_TRUE(gone->error);
    EXPECT_EQ(gone->error->code(), 12022);
    EXPECT_FALSE(gone->value);
}

TEST_F(CommentLoaderTest, CommentDetailReturnsTheRootWithItsReplies)
{
    const qint64 rootID = ServiceFixtures::kFirstCommentRPID + 10;
    auto outcome = makeOutcome<CommentRef>();
    client()->loadCommentDetailForOID(kOID, 0, rootID, recorder(outcome));
    KR_SETTLE_ONCE(outcome);
    ASSERT_FALSE(outcome->error);
    EXPECT_EQ(outcome->value->rpid(), rootID);
    EXPECT_EQ(outcome->value->previewReplies().size(), 3);
    EXPECT_EQ(outcome->value->previewReplies().first()->type(), 1);
    EXPECT_EQ(requestsTo(QStringLiteral("/x/v2/reply/detail")).first().query,
              QStringLiteral("type=1&oid=%1&root=%2").arg(kOID).arg(rootID));

    // A success that holds no usable root: the comment is gone or hidden.
    fake.routeJSON(KRServiceHosts::apiHost(), QStringLiteral("/x/v2/reply/detail"), R"({"code":0,"data":{"root":null}})");
    auto hidden = makeOutcome<CommentRef>();
    client()->loadCommentDetailForOID(kOID, 1, rootID, recorder(hidden));
    KR_SETTLE_ONCE(hidden);
    ASSERT_TRUE(hidden->error);
    EXPECT_EQ(hidden->error->code(), -8);
    EXPECT_EQ(hidden->error->message(), QStringLiteral("对应评论已删除或不可见"));
    EXPECT_FALSE(hidden->value);
}

} // namespace
