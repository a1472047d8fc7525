#include "service/ServiceClientTesting.h"

using namespace servicetest;

namespace {

const QString kPlainSearch = QStringLiteral("/x/web-interface/search/type");
const QString kSignedSearch = QStringLiteral("/x/web-interface/wbi/search/type");

class SearchLoaderTest : public ServiceClientTest {
protected:
    OutcomeRef<KRVideoList> search(const QString& keyword, qint64 page, const QString& order = QString())
    {
        return run<KRVideoList>([&](auto done) { client()->search(keyword, page, order, liveOwner(), done); });
    }
};

TEST_F(SearchLoaderTest, PlainSearchSendsTheTrimmedKeywordAndOnlyKnownOrders)
{
    const auto outcome = search(QStringLiteral("  猫 咪\n"), 2);
    ASSERT_FALSE(outcome->error);
    ASSERT_EQ(outcome->value.size(), 10);
    EXPECT_EQ(outcome->value.first()->title(), QStringLiteral("猫 咪 入门教程")) << "markup removed";
    EXPECT_GT(outcome->value.first()->resolvedAid(), 0);
    EXPECT_EQ(requestsTo(kPlainSearch).first().query, QStringLiteral("search_type=video&keyword=%E7%8C%AB%20%E5%92%AA&page=2&page_size=10"));

    for (const QString& order : {QStringLiteral("click"), QStringLiteral("pubdate"), QStringLiteral("dm"), QStringLiteral("totalrank"),
                                 QStringLiteral("Click")}) {
        search(QStringLiteral("猫"), 0, order);
        const bool known = order != QLatin1String("totalrank") && order != QLatin1String("Click");
        EXPECT_EQ(requestsTo(kPlainSearch).last().queryValue(QStringLiteral("order")), known ? order : QString());
        EXPECT_EQ(requestsTo(kPlainSearch).last().queryValue(QStringLiteral("page")), QStringLiteral("1"));
    }
    EXPECT_TRUE(requestsTo(kSignedSearch).isEmpty());

    // A keyword of white space alone: answered inside the call, without a request.
    fake.clearRequests();
    const auto blank = begin<KRVideoList>([&](auto done) { client()->search(QStringLiteral(" \t\n\u3000"), 1, liveOwner(), done); });
    EXPECT_EQ(blank->calls, 1);
    EXPECT_FALSE(blank->error);
    EXPECT_TRUE(fake.requests().isEmpty());
}

TEST_F(SearchLoaderTest, RefusedSearchRetriesOnceThroughTheSignedSearch)
{
    serve(kPlainSearch, ServiceFixtures::riskControlRefusal());
    ConsoleCapture console;
    const auto outcome = search(QStringLiteral("木工 (入门)*!'"), 3, QStringLiteral("pubdate"));
    ASSERT_FALSE(outcome->error);
    EXPECT_EQ(outcome->value.size(), 10);
    ASSERT_EQ(requestsTo(kSignedSearch).size(), 1);
    // The fake service answered only because the signature checked out.
    EXPECT_EQ(queryWithout(requestsTo(kSignedSearch).first()),
              QStringLiteral("keyword=%E6%9C%A8%E5%B7%A5%20%E5%85%A5%E9%97%A8&order=pubdate&page=3&page_size=10&search_type=video"));
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneSearch] source=web order=pubdate page=3 count=0 error=")));
    EXPECT_TRUE(console.contains(QStringLiteral("[KorvaneSearch] source=wbi order=pubdate page=3 count=10 error=(null)")));

    // A refused retry is not retried again.
    serve(kSignedSearch, ServiceFixtures::riskControlRefusal());
    expectError(search(QStringLiteral("猫"), 1)->error, 412);
    EXPECT_EQ(requestsTo(kSignedSearch).size(), 2);
}

TEST_F(SearchLoaderTest, RefusalWithoutASigningKeyReportsTheKeyError)
{
    serve(kPlainSearch, ServiceFixtures::riskControlRefusal());
    serve(QStringLiteral("/x/web-interface/nav"), ServiceFixtures::serverFailure(503));
    expectError(search(QStringLiteral("猫"), 1)->error, 503);
    serveJSON(QStringLiteral("/x/web-interface/nav"), R"({"code":0,"data":{"isLogin":false}})");
    expectError(search(QStringLiteral("猫"), 1)->error, -6);
    EXPECT_TRUE(requestsTo(kSignedSearch).isEmpty());
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
        serve(kPlainSearch, item.reply);
        // A keyword of its own each time, so no earlier result stands in from the cache.
        const auto outcome = search(QStringLiteral("冷门词") + QString::fromLatin1(item.name), 1);
        expectError(outcome->error, item.code);
        EXPECT_TRUE(outcome->value.isEmpty());
    }
    EXPECT_TRUE(requestsTo(kSignedSearch).isEmpty());

    // An earlier result of the same search does stand in.
    serve(kPlainSearch, FakeReply::json(QByteArray(R"({"code":0,"data":{"result":[{"aid":5,"title":"猫"}]}})")));
    search(QStringLiteral("猫"), 1);
    serve(kPlainSearch, ServiceFixtures::serverFailure(500));
    const auto offline = search(QStringLiteral("猫"), 1);
    EXPECT_FALSE(offline->error);
    EXPECT_EQ(aidsOf(offline->value), QList<qint64>{5});
}

} // namespace
