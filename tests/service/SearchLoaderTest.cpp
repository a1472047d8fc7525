#include "service/ReadLoaderTesting.h"

#include "support/ConsoleCapture.h"

using namespace readloaders;

namespace {

const QString kPlainSearch = QStringLiteral("/x/web-interface/search/type");
const QString kSignedSearch = QStringLiteral("/x/web-interface/wbi/search/type");

class SearchLoaderTest : public ReadLoaderTest {
protected:
    OutcomeRef<KRVideoList> runSearch(const QString& keyword, qint64 page, const QString& order = QString())
    {
        return runOnce<KRVideoList>([&](auto done) { client()->search(keyword, page, order, done); });
    }
};

TEST_F(SearchLoaderTest, PlainSearchReadsTenResultsWithoutMarkup)
{
    auto outcome = runSearch(QStringLiteral("  猫 咪\n"), 2);
    ASSERT_FALSE(outcome->error);
    ASSERT_EQ(outcome->value.size(), 10);
    EXPECT_EQ(outcome->value.first()->title(), QStringLiteral("猫 咪的视频 11"));
    EXPECT_EQ(outcome->value.first()->coverURL().left(6), QStringLiteral("https:"));
    EXPECT_GT(outcome->value.first()->resolvedAid(), 0);

    const QList<FakeRequest> requests = requestsTo(kPlainSearch);
    ASSERT_EQ(requests.size(), 1);
    // The keyword goes out trimmed and escaped, in the fixed parameter order.
    EXPECT_EQ(requests.first().query,
              QStringLiteral("search_type=video&keyword=%E7%8C%AB%20%E5%92%AA&page=2&page_size=10"));
    EXPECT_TRUE(requestsTo(kSignedSearch).isEmpty());
}

TEST_F(SearchLoaderTest, OnlyTheThreeKnownOrdersAreSent)
{
    for (const QString& order : {QStringLiteral("click"), QStringLiteral("pubdate"), QStringLiteral("dm")}) {
        runSearch(QStringLiteral("猫"), 1, order);
        EXPECT_EQ(requestsTo(kPlainSearch).last().queryValue(QStringLiteral("order")), order);
    }
    for (const QString& order : {QStringLiteral("totalrank"), QStringLiteral("Click"), QString()}) {
        runSearch(QStringLiteral("猫"), 0, order);
        EXPECT_TRUE(requestsTo(kPlainSearch).last().queryValue(QStringLiteral("order")).isNull());
        EXPECT_EQ(requestsTo(kPlainSearch).last().queryValue(QStringLiteral("page")), QStringLiteral("1"));
    }
}

TEST_F(SearchLoaderTest, BlankKeywordAnswersInsideTheCallWithoutARequest)
{
    auto outcome = makeOutcome<KRVideoList>();
    client()->search(QStringLiteral(" \t\n\u3000"), 1, recorder(outcome));
    EXPECT_EQ(outcome->calls, 1);
    EXPECT_FALSE(outcome->error);
    EXPECT_TRUE(outcome->value.isEmpty());
    QCoreApplication::processEvents();
    EXPECT_EQ(outcome->calls, 1);
    EXPECT_TRUE(fake.requests().isEmpty());
}

TEST_F(SearchLoaderTest, RefusedSearchRetriesOnceThroughTheSignedSearch)
{
    fake.routeReply(KRServiceHosts::apiHost(), kPlainSearch, ServiceFixtures::riskControlRefusal());
    testsupport::ConsoleCapture console;
    auto outcome = runSearch(QStringLiteral("木工 (入门)*!'"), 3, QStringLiteral("pubdate"));
    ASSERT_FALSE(outcome->error);
    EXPECT_EQ(outcome->value.size(), 10);

    ASSERT_EQ(requestsTo(kPlainSearch).size(), 1);
    const QList<FakeRequest> retries = requestsTo(kSignedSearch);
    ASSERT_EQ(retries.size(), 1);
    // The fake service answered only because the signature checked out.
    const FakeRequest& retry = retries.first();
    EXPECT_EQ(retry.queryValue(QStringLiteral("keyword")), QStringLiteral("木工 入门"));
    EXPECT_EQ(retry.queryValue(QStringLiteral("page")), QStringLiteral("3"));
    EXPECT_EQ(retry.queryValue(QStringLiteral("page_size")), QStringLiteral("10"));
    EXPECT_EQ(retry.queryValue(QStringLiteral("order")), QStringLiteral("pubdate"));
    EXPECT_EQ(retry.queryValue(QStringLiteral("search_type")), QStringLiteral("video"));
    EXPECT_FALSE(retry.queryValue(QStringLiteral("wts")).isEmpty());
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneSearch] source=web order=pubdate page=3 count=0 error=")));
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneSearch] source=wbi order=pubdate page=3 count=10 error=(null)")));
}

TEST_F(SearchLoaderTest, SignedRetryIsNotRepeated)
{
    fake.routeReply(KRServiceHosts::apiHost(), kPlainSearch, ServiceFixtures::riskControlRefusal());
    fake.routeReply(KRServiceHosts::apiHost(), kSignedSearch, ServiceFixtures::riskControlRefusal());
    auto outcome = runSearch(QStringLiteral("猫"), 1);
    ASSERT_TRUE(outcome->error);
    EXPECT_EQ(outcome->error->code(), 412);
    EXPECT_TRUE(outcome->value.isEmpty());
    EXPECT_EQ(requestsTo(kPlainSearch).size(), 1);
    EXPECT_EQ(requestsTo(kSignedSearch).size(), 1);
}

TEST_F(SearchLoaderTest, RefusalWithoutASigningKeyReportsTheKeyError)
{
    fake.routeReply(KRServiceHosts::apiHost(), kPlainSearch, ServiceFixtures::riskControlRefusal());
    fake.routeReply(KRServiceHosts::apiHost(), QStringLiteral("/x/web-interface/nav"), ServiceFixtures::serverFailure(503));
    auto outcome = runSearch(QStringLiteral("猫"), 1);
    ASSERT_TRUE(outcome->error);
    EXPECT_EQ(outcome->error->code(), 503);
    EXPECT_TRUE(requestsTo(kSignedSearch).isEmpty());

    // A navigation reply without image keys brings no error of its own: the refusal stands.
    fake.routeJSON(KRServiceHosts::apiHost(), QStringLiteral("/x/web-interface/nav"), R"({"code":0,"data":{"isLogin":false}})");
    auto again = runSearch(QStringLiteral("猫"), 1);
    ASSERT_TRUE(again->error);
    EXPECT_EQ(again->error->code(), -6);
}

TEST_F(SearchLoaderTest, OtherFailuresReachTheCallerUnretried)
{
    struct Case {
        const char* name;
        FakeReply reply;
        qint64 code;
    };
    const QList<Case> cases{
        {"empty", ServiceFixtures::emptyBody(), -3},
        {"html", ServiceFixtures::htmlBody(), -4},
        {"code as text", FakeReply::json(QByteArray(R"({"code":"-352","message":"风控校验失败"})")), -352},
        {"server failure", ServiceFixtures::serverFailure(500), 500},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        fake.routeReply(KRServiceHosts::apiHost(), kPlainSearch, item.reply);
        auto outcome = runSearch(QStringLiteral("冷门词") + QString::fromLatin1(item.name), 1);
        ASSERT_TRUE(outcome->error);
        EXPECT_EQ(outcome->error->domain(), KRAPIErrorDomain);
        EXPECT_EQ(outcome->error->code(), item.code);
        EXPECT_TRUE(outcome->value.isEmpty());
    }
    EXPECT_TRUE(requestsTo(kSignedSearch).isEmpty());
}

TEST_F(SearchLoaderTest, AnEarlierResultStandsInWhenTheServiceFails)
{
    auto first = runSearch(QStringLiteral("猫"), 1);
    ASSERT_FALSE(first->error);
    fake.routeReply(KRServiceHosts::apiHost(), kPlainSearch, ServiceFixtures::serverFailure(500));
    auto offline = runSearch(QStringLiteral("猫"), 1);
    EXPECT_FALSE(offline->error);
    EXPECT_EQ(aidsOf(offline->value), aidsOf(first->value));
}

} // namespace
