#include "service/ReadLoaderTesting.h"

using namespace readloaders;
using PageResult = KRAPIClient::KRVideoPageResult;

namespace {

const QString kCursorRoute = QStringLiteral("/x/v2/space/archive/cursor");
const QString kSpaceSearch = QStringLiteral("/x/space/wbi/arc/search");

class UploaderLoaderTest : public ReadLoaderTest {
protected:
    OutcomeRef<PageResult> appPage(qint64 page, qint64 mid = ServiceFixtures::kUploaderMID)
    {
        return runOnce<PageResult>(
            [&](auto done) { client()->loadUploaderAppPageForMID(mid, ServiceFixtures::uploaderName(), page, done); });
    }
    OutcomeRef<PageResult> uploaderPage(qint64 page, qint64 mid = ServiceFixtures::kUploaderMID,
                                        const QString& name = ServiceFixtures::uploaderName())
    {
        return runOnce<PageResult>([&](auto done) { client()->loadUploaderPageForMID(mid, name, page, done); });
    }
    static qint64 uploaderAID(int index) // 0 = newest
    {
        return ServiceFixtures::kUploaderFirstAID + ServiceFixtures::kUploaderVideoCount - index;
    }
};

TEST_F(UploaderLoaderTest, FirstAppPageIsSignedAndFillsTheOwner)
{
    auto outcome = appPage(1);
    ASSERT_FALSE(outcome->error);
    const PageResult& result = outcome->value;
    ASSERT_EQ(result.videos.size(), 20);
    EXPECT_EQ(result.page, 1);
    EXPECT_EQ(result.pageSize, 20);
    EXPECT_TRUE(result.hasMore);
    ASSERT_TRUE(result.total);
    EXPECT_EQ(*result.total, ServiceFixtures::kUploaderVideoCount);
    EXPECT_EQ(result.videos.first()->aid(), uploaderAID(0));
    EXPECT_EQ(result.videos.first()->resolvedAid(), uploaderAID(0));
    // The cursor reply names the author but not its id: both come from the request.
    EXPECT_EQ(result.videos.first()->ownerMID(), ServiceFixtures::kUploaderMID);
    EXPECT_EQ(result.videos.first()->ownerName(), ServiceFixtures::uploaderName());

    const FakeRequest request = requestsTo(kCursorRoute).first();
    EXPECT_EQ(request.host, KRServiceHosts::appHost());
    EXPECT_EQ(request.queryValue(QStringLiteral("vmid")), QString::number(ServiceFixtures::kUploaderMID));
    EXPECT_EQ(request.queryValue(QStringLiteral("ps")), QStringLiteral("20"));
    EXPECT_EQ(request.queryValue(QStringLiteral("order")), QStringLiteral("pubdate"));
    EXPECT_TRUE(request.queryValue(QStringLiteral("aid")).isNull());
    EXPECT_TRUE(request.header(QStringLiteral("Cookie")).isNull());
    EXPECT_TRUE(request.header(QStringLiteral("Referer")).isNull());
    EXPECT_TRUE(runtimeLog().contains(
        QStringLiteral("[uploader-page] source=app mid=%1 page=1 count=20 code=0").arg(ServiceFixtures::kUploaderMID)));
}

TEST_F(UploaderLoaderTest, LaterAppPagesContinueFromTheRememberedCursor)
{
    auto first = appPage(1);
    auto second = appPage(2);
    ASSERT_FALSE(second->error);
    ASSERT_EQ(second->value.videos.size(), 20);
    EXPECT_EQ(second->value.videos.first()->aid(), uploaderAID(20));
    EXPECT_TRUE(second->value.hasMore);

    auto third = appPage(3);
    ASSERT_FALSE(third->error);
    EXPECT_EQ(third->value.videos.size(), 5);
    EXPECT_FALSE(third->value.hasMore);

    const QList<FakeRequest> requests = requestsTo(kCursorRoute);
    ASSERT_EQ(requests.size(), 3);
    EXPECT_EQ(requests.at(1).queryValue(QStringLiteral("aid")), QString::number(uploaderAID(19)));
    EXPECT_EQ(requests.at(2).queryValue(QStringLiteral("aid")), QString::number(uploaderAID(39)));

    // The last page has no successor, so no cursor was kept for page 4.
    auto fourth = makeOutcome<PageResult>();
    client()->loadUploaderAppPageForMID(ServiceFixtures::kUploaderMID, QString(), 4, recorder(fourth));
    EXPECT_EQ(fourth->calls, 1);
    ASSERT_TRUE(fourth->error);
    EXPECT_EQ(fourth->error->code(), -16);
    EXPECT_EQ(requestsTo(kCursorRoute).size(), 3);
}

TEST_F(UploaderLoaderTest, CursorsAreKeptPerUploaderAndOnlyAfterSuccess)
{
    appPage(1);
    // Another uploader's page 2 has no cursor of its own.
    auto other = makeOutcome<PageResult>();
    client()->loadUploaderAppPageForMID(ServiceFixtures::kUploaderMID + 1, QString(), 2, recorder(other));
    ASSERT_TRUE(other->error);
    EXPECT_EQ(other->error->code(), -16);

    // A failed page 2 leaves no cursor for page 3, even though page 2 was asked for.
    fake.routeReply(KRServiceHosts::appHost(), kCursorRoute, ServiceFixtures::serverFailure(500));
    auto failed = appPage(2);
    ASSERT_TRUE(failed->error);
    EXPECT_EQ(failed->error->code(), 500);
    EXPECT_TRUE(failed->value.videos.isEmpty());
    auto third = makeOutcome<PageResult>();
    client()->loadUploaderAppPageForMID(ServiceFixtures::kUploaderMID, QString(), 3, recorder(third));
    ASSERT_TRUE(third->error);
    EXPECT_EQ(third->error->code(), -16);
    EXPECT_TRUE(runtimeLog().contains(
        QStringLiteral("[uploader-page-failed] source=app mid=%1 page=2 count=0 code=500").arg(ServiceFixtures::kUploaderMID)));

    // A service error with data that claims more does not store a cursor either.
    fake.routeJSON(KRServiceHosts::appHost(), kCursorRoute,
                   R"({"code":-412,"message":"请求被拦截","data":{"has_next":true,"item":[{"param":"600010","goto":"av"}]}})");
    auto refused = appPage(1, ServiceFixtures::kUploaderMID + 2);
    ASSERT_TRUE(refused->error);
    auto afterRefusal = makeOutcome<PageResult>();
    client()->loadUploaderAppPageForMID(ServiceFixtures::kUploaderMID + 2, QString(), 2, recorder(afterRefusal));
    ASSERT_TRUE(afterRefusal->error);
    EXPECT_EQ(afterRefusal->error->code(), -16);
}

TEST_F(UploaderLoaderTest, PageTwoBeforePageOneIsServedByTheSignedSpaceSearch)
{
    auto outcome = uploaderPage(2);
    ASSERT_FALSE(outcome->error);
    EXPECT_TRUE(requestsTo(kCursorRoute).isEmpty()); // -16 inside the call, no request
    const QList<FakeRequest> requests = requestsTo(kSpaceSearch);
    ASSERT_EQ(requests.size(), 1);
    EXPECT_EQ(requests.first().queryValue(QStringLiteral("pn")), QStringLiteral("2"));
    EXPECT_EQ(requests.first().queryValue(QStringLiteral("ps")), QStringLiteral("20"));
    EXPECT_EQ(requests.first().queryValue(QStringLiteral("order_avoided")), QStringLiteral("true"));
    EXPECT_EQ(requests.first().queryValue(QStringLiteral("web_location")), QStringLiteral("1550101"));

    const PageResult& result = outcome->value;
    EXPECT_EQ(result.page, 2);
    EXPECT_EQ(result.pageSize, 20);
    ASSERT_EQ(result.videos.size(), 20);
    EXPECT_EQ(result.videos.first()->aid(), uploaderAID(20));
    EXPECT_TRUE(result.hasMore); // 2 × 20 < 45
    EXPECT_EQ(result.total.value_or(0), ServiceFixtures::kUploaderVideoCount);
    EXPECT_TRUE(runtimeLog().contains(
        QStringLiteral("[uploader-api-fallback] mid=%1 page=2 appCode=-16").arg(ServiceFixtures::kUploaderMID)));

    auto last = uploaderPage(3);
    EXPECT_FALSE(last->value.hasMore); // 3 × 20 ≥ 45
    EXPECT_EQ(last->value.videos.size(), 5);
}

TEST_F(UploaderLoaderTest, FailedAppPageFallsBackAndTheFallbackAnswersAsItIs)
{
    fake.routeReply(KRServiceHosts::appHost(), kCursorRoute, ServiceFixtures::htmlBody());
    auto outcome = uploaderPage(1);
    ASSERT_FALSE(outcome->error);
    EXPECT_EQ(outcome->value.videos.size(), 20);
    EXPECT_EQ(requestsTo(kSpaceSearch).size(), 1);

    fake.routeReply(KRServiceHosts::apiHost(), kSpaceSearch, ServiceFixtures::serviceError(-352, QStringLiteral("风控校验失败")));
    auto failed = uploaderPage(1);
    ASSERT_TRUE(failed->error);
    EXPECT_EQ(failed->error->code(), -352);
    EXPECT_TRUE(failed->value.videos.isEmpty());
}

TEST_F(UploaderLoaderTest, SpaceSearchWithoutTotalJudgesByThePageSize)
{
    QVariantList vlist;
    for (int i = 0; i < 30; ++i)
        vlist.append(QVariantMap{{QStringLiteral("aid"), 990000 + i}, {QStringLiteral("title"), QStringLiteral("片段")}});
    const QVariantMap reply = ServiceFixtures::envelope(QVariantMap{
        {QStringLiteral("list"), QVariantMap{{QStringLiteral("vlist"), vlist}}},
        {QStringLiteral("page"), QVariantMap{{QStringLiteral("pn"), 0}, {QStringLiteral("ps"), QStringLiteral("30")}}}});
    fake.routeReply(KRServiceHosts::apiHost(), kSpaceSearch, FakeReply::json(reply));
    auto outcome = makeOutcome<PageResult>();
    client()->loadUploaderWBIPageForMID(55, QStringLiteral("某人"), 4, recorder(outcome));
    KR_SETTLE_ONCE(outcome);
    ASSERT_FALSE(outcome->error);
    EXPECT_EQ(outcome->value.page, 4);
    EXPECT_EQ(outcome->value.pageSize, 30);
    EXPECT_FALSE(outcome->value.total);
    EXPECT_TRUE(outcome->value.hasMore);
    EXPECT_EQ(outcome->value.videos.first()->ownerMID(), 55);
    EXPECT_EQ(outcome->value.videos.first()->ownerName(), QStringLiteral("某人"));
}

TEST_F(UploaderLoaderTest, UploaderWithoutIdIsSearchedByName)
{
    auto outcome = uploaderPage(1, 0, QStringLiteral("木工小林"));
    ASSERT_FALSE(outcome->error);
    EXPECT_EQ(outcome->value.pageSize, 10);
    EXPECT_EQ(outcome->value.page, 1);
    EXPECT_TRUE(outcome->value.hasMore);
    EXPECT_EQ(outcome->value.videos.size(), 10);
    EXPECT_EQ(requestsTo(QStringLiteral("/x/web-interface/search/type")).size(), 1);
    EXPECT_TRUE(requestsTo(kCursorRoute).isEmpty());

    auto nameless = uploaderPage(1, -1, QString());
    EXPECT_FALSE(nameless->error);
    EXPECT_FALSE(nameless->value.hasMore);
    EXPECT_TRUE(nameless->value.videos.isEmpty());
}

TEST_F(UploaderLoaderTest, VideosOfAPageArePassedOn)
{
    auto outcome = makeOutcome<KRVideoList>();
    client()->loadUploaderVideosForMID(ServiceFixtures::kUploaderMID, ServiceFixtures::uploaderName(), 1, recorder(outcome));
    KR_SETTLE_ONCE(outcome);
    EXPECT_FALSE(outcome->error);
    EXPECT_EQ(outcome->value.size(), 20);
}

} // namespace
