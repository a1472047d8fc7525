#include "service/ServiceClientTesting.h"

using namespace servicetest;
using PageResult = KRAPIClient::KRVideoPageResult;

namespace {

const QString kCursorRoute = QStringLiteral("/x/v2/space/archive/cursor");
const QString kSpaceSearch = QStringLiteral("/x/space/wbi/arc/search");
constexpr qint64 kMID = ServiceFixtures::kUploaderMID;

// The uploader's archives, newest (index 0) first.
qint64 uploaderAID(int index) { return ServiceFixtures::kUploaderFirstAID + ServiceFixtures::kUploaderVideoCount - index; }

class UploaderLoaderTest : public ServiceClientTest {
protected:
    OutcomeRef<PageResult> appPage(qint64 page, qint64 mid = kMID)
    {
        return run<PageResult>([&](auto done) { client()->loadUploaderAppPageForMID(mid, ServiceFixtures::uploaderName(), page, liveOwner(), done); });
    }
    // A page the app route answers inside the call, without a request: -16.
    void expectNoCursor(qint64 page, qint64 mid = kMID)
    {
        const auto outcome = begin<PageResult>([&](auto done) { client()->loadUploaderAppPageForMID(mid, QString(), page, liveOwner(), done); });
        EXPECT_EQ(outcome->calls, 1);
        expectError(outcome->error, -16, QStringLiteral("投稿游标尚未建立"));
    }
    OutcomeRef<PageResult> uploaderPage(qint64 page, qint64 mid = kMID, const QString& name = ServiceFixtures::uploaderName())
    {
        return run<PageResult>([&](auto done) { client()->loadUploaderPageForMID(mid, name, page, liveOwner(), done); });
    }
};

TEST_F(UploaderLoaderTest, AppPagesAreSignedAndContinueFromTheRememberedCursor)
{
    const auto first = appPage(1);
    ASSERT_FALSE(first->error);
    const PageResult& result = first->value;
    ASSERT_EQ(result.videos.size(), 20);
    EXPECT_EQ(QList<qint64>({result.page, result.pageSize, result.total.value_or(-1)}), QList<qint64>({1, 20, 45}));
    EXPECT_TRUE(result.hasMore);
    EXPECT_EQ(result.videos.first()->aid(), uploaderAID(0));
    EXPECT_EQ(result.videos.first()->resolvedAid(), uploaderAID(0));
    // The cursor reply names the author but not its id: both come from the request.
    EXPECT_EQ(result.videos.first()->ownerMID(), kMID);
    EXPECT_EQ(result.videos.first()->ownerName(), ServiceFixtures::uploaderName());
    const QStringList appFields{"appkey", "build", "device", "mobi_app", "platform", "sign", "ts"};
    EXPECT_EQ(queryWithout(requestsTo(kCursorRoute).first(), appFields), QStringLiteral("order=pubdate&ps=20&vmid=%1").arg(kMID));
    EXPECT_TRUE(runtimeLog().contains(QStringLiteral("[uploader-page] source=app mid=%1 page=1 count=20 code=0").arg(kMID)));

    expectNoCursor(2, kMID + 1); // another uploader's page 2 has no cursor of its own
    EXPECT_EQ(appPage(2)->value.videos.first()->aid(), uploaderAID(20));
    const auto third = appPage(3);
    EXPECT_EQ(third->value.videos.size(), 5);
    EXPECT_FALSE(third->value.hasMore);
    ASSERT_EQ(requestsTo(kCursorRoute).size(), 3);
    EXPECT_EQ(queryWithout(requestsTo(kCursorRoute).at(2), appFields), QStringLiteral("aid=%1&order=pubdate&ps=20&vmid=%2").arg(uploaderAID(39)).arg(kMID));
    EXPECT_EQ(requestsTo(kCursorRoute).at(1).queryValue(QStringLiteral("aid")), QString::number(uploaderAID(19)));
    expectNoCursor(4); // the last page has no successor
}

TEST_F(UploaderLoaderTest, CursorsAreKeptOnlyAfterSuccess)
{
    appPage(1);
    // A failed page 2 leaves no cursor for page 3.
    fake.routeReply(KRServiceHosts::appHost(), kCursorRoute, ServiceFixtures::serverFailure(500));
    const auto failed = appPage(2);
    expectError(failed->error, 500);
    EXPECT_TRUE(failed->value.videos.isEmpty());
    expectNoCursor(3);
    EXPECT_TRUE(runtimeLog().contains(QStringLiteral("[uploader-page-failed] source=app mid=%1 page=2 count=0 code=500").arg(kMID)));

    // Nor does a service error whose data claims more.
    fake.routeJSON(KRServiceHosts::appHost(), kCursorRoute,
                   R"({"code":-412,"message":"请求被拦截","data":{"has_next":true,"item":[{"param":"600010","goto":"av"}]}})");
    expectError(appPage(1, kMID + 2)->error, -412);
    expectNoCursor(2, kMID + 2);
}

TEST_F(UploaderLoaderTest, PageTwoBeforePageOneIsServedByTheSignedSpaceSearch)
{
    const auto outcome = uploaderPage(2);
    ASSERT_FALSE(outcome->error);
    EXPECT_TRUE(requestsTo(kCursorRoute).isEmpty());
    EXPECT_EQ(queryWithout(requestsTo(kSpaceSearch).first()),
              QStringLiteral("mid=%1&order=pubdate&order_avoided=true&pn=2&ps=20&web_location=1550101").arg(kMID));
    const PageResult& result = outcome->value;
    EXPECT_EQ(QList<qint64>({result.page, result.pageSize, result.total.value_or(-1)}), QList<qint64>({2, 20, 45}));
    EXPECT_EQ(result.videos.first()->aid(), uploaderAID(20));
    EXPECT_TRUE(result.hasMore); // 2 × 20 < 45
    EXPECT_TRUE(runtimeLog().contains(QStringLiteral("[uploader-api-fallback] mid=%1 page=2 appCode=-16").arg(kMID)));
    EXPECT_FALSE(uploaderPage(3)->value.hasMore); // 3 × 20 ≥ 45

    // A failed app page falls back too, and the fallback's answer is passed on as it is.
    fake.routeReply(KRServiceHosts::appHost(), kCursorRoute, ServiceFixtures::htmlBody());
    EXPECT_EQ(uploaderPage(1)->value.videos.size(), 20);
    serve(kSpaceSearch, ServiceFixtures::serviceError(-352, QStringLiteral("风控校验失败")));
    const auto failed = uploaderPage(1);
    expectError(failed->error, -352);
    EXPECT_TRUE(failed->value.videos.isEmpty());
}

TEST_F(UploaderLoaderTest, SpaceSearchWithoutTotalJudgesByThePageSize)
{
    // No count, a page number below 1 and the page size as text.
    serveJSON(kSpaceSearch, R"({"code":0,"data":{"list":{"vlist":[{"aid":990001,"title":"甲"},{"aid":990002,"title":"乙"},
              {"aid":990003,"title":"丙"}]},"page":{"pn":0,"ps":"3"}}})");
    const auto outcome = run<PageResult>([&](auto done) { client()->loadUploaderWBIPageForMID(55, QStringLiteral("某人"), 4, liveOwner(), done); });
    ASSERT_FALSE(outcome->error);
    EXPECT_EQ(outcome->value.page, 4);
    EXPECT_EQ(outcome->value.pageSize, 3);
    EXPECT_FALSE(outcome->value.total);
    EXPECT_TRUE(outcome->value.hasMore);
    EXPECT_EQ(outcome->value.videos.first()->ownerMID(), 55);
    EXPECT_EQ(outcome->value.videos.first()->ownerName(), QStringLiteral("某人"));
}

TEST_F(UploaderLoaderTest, UploaderWithoutIdIsSearchedByName)
{
    const auto outcome = uploaderPage(1, 0, QStringLiteral("木工小林"));
    ASSERT_FALSE(outcome->error);
    EXPECT_EQ(outcome->value.pageSize, 10);
    EXPECT_TRUE(outcome->value.hasMore);
    EXPECT_EQ(outcome->value.videos.size(), 10);
    EXPECT_EQ(requestsTo(QStringLiteral("/x/web-interface/search/type")).size(), 1);
    EXPECT_TRUE(requestsTo(kCursorRoute).isEmpty());

    const auto nameless = uploaderPage(1, -1, QString());
    EXPECT_FALSE(nameless->error);
    EXPECT_FALSE(nameless->value.hasMore);
    EXPECT_TRUE(nameless->value.videos.isEmpty());
}

} // namespace
