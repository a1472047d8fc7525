#include "account/AccountClientTesting.h"

#include "account/KRPlaybackInfo.h"

#include <memory>

using namespace accounttest;

namespace {

using UsableCalls = Calls<bool, const KROptionalError&>;
using JSONCalls = Calls<const QVariant&, const platform::HTTPResponse*, const KROptionalError&>;

const QString kRefreshPath = QStringLiteral("/api/v2/oauth2/refresh_token");
constexpr double kNow = 1800000000;

class RefreshTest : public AccountClientTest {
protected:
    void SetUp() override
    {
        AccountClientTest::SetUp();
        setNow(kNow);
    }
    void serveRefresh(FakeService::Handler handler)
    {
        serve(KRServiceHosts::passportHost(), kRefreshPath, AccountFixtures::appSigned(std::move(handler)));
    }
    int refreshRequests() const { return fake.requestsTo(kRefreshPath).size(); }
};

TEST_F(RefreshTest, CallersWhileARefreshRunsShareOneRequestAndAreAnsweredInOrder)
{
    AccountFixtures::logInAppAndWeb(120); // usable, due for refresh
    const QString generation = QString::number(KRSessionStore::sharedStore().credentialGeneration());
    serveRefresh([](const FakeRequest& request) {
        EXPECT_EQ(AccountFixtures::formValue(request, QStringLiteral("refresh_token")), QStringLiteral("ref-1"));
        FakeReply reply = AccountFixtures::ok(AccountFixtures::loginData(QStringLiteral("acc-2"), QStringLiteral("ref-2")));
        reply.delayMs = 100;
        return reply;
    });
    QStringList order;
    QList<std::pair<bool, KROptionalError>> answers;
    for (int i = 1; i <= 3; ++i) {
        client()->ensureUsableAppAuthentication(nullptr, [&, i](bool usable, const KROptionalError& error) {
            order << QString::number(i);
            answers.append({usable, error});
        });
    }
    KR_WAIT_UNTIL(order.size() == 3);
    drain();
    EXPECT_EQ(order, (QStringList{"1", "2", "3"}));
    for (const auto& [usable, error] : answers) {
        EXPECT_TRUE(usable);
        EXPECT_FALSE(error);
    }
    EXPECT_EQ(refreshRequests(), 1);
    EXPECT_EQ(fake.requestsTo(kRefreshPath).first().header(QStringLiteral("User-Agent")),
              QStringLiteral("zant-universal/82200200 CFNetwork/811.5.4 Darwin/16.7.0"));
    EXPECT_FALSE(fake.requestsTo(kRefreshPath).first().headers.contains(QStringLiteral("Cookie")));
    EXPECT_EQ(KRSessionStore::sharedStore().accessToken(), QStringLiteral("acc-2"));
    const QString log = runtimeLog();
    EXPECT_TRUE(log.contains(QStringLiteral("phase=start credentialGeneration=%1 force=NO remaining=120 waiters=1").arg(generation)));
    EXPECT_TRUE(log.contains(QStringLiteral("phase=join credentialGeneration=%1 waiters=2").arg(generation)));
    EXPECT_TRUE(log.contains(QStringLiteral("phase=join credentialGeneration=%1 waiters=3").arg(generation)));
    EXPECT_TRUE(log.contains(QStringLiteral("phase=result committed=YES superseded=NO usable=YES status=200 code=0")));
}

TEST_F(RefreshTest, AFailureBacksOffForThirtySecondsOfTheSameGeneration)
{
    AccountFixtures::logInAppAndWeb(120);
    serveRefresh([](const FakeRequest&) { return FakeReply{.closeWithoutReply = true}; });
    UsableCalls calls;
    client()->ensureUsableAppAuthentication(nullptr, calls.recorder());
    KR_WAIT_UNTIL(calls.calls.size() == 1);
    EXPECT_TRUE(std::get<0>(calls.calls.last())) << "the stale token is still usable";
    EXPECT_TRUE(std::get<1>(calls.calls.last()));
    setNow(kNow + 10);
    client()->ensureUsableAppAuthenticationForceRefresh(true, nullptr, calls.recorder());
    ASSERT_EQ(calls.calls.size(), 2) << "the kept error answers inside the call, forced or not";
    EXPECT_EQ(std::get<1>(calls.calls.last())->code(), std::get<1>(calls.calls.first())->code());
    EXPECT_EQ(refreshRequests(), 1);
    setNow(kNow + 31);
    client()->ensureUsableAppAuthentication(nullptr, calls.recorder());
    KR_WAIT_UNTIL(calls.calls.size() == 3);
    EXPECT_EQ(refreshRequests(), 2);
    EXPECT_TRUE(calls.onMain);
}

TEST_F(RefreshTest, RefusalsOfTheRefreshInvalidateThatGeneration)
{
    struct Case {
        const char* name;
        FakeReply reply;
        qint64 code;
        bool tokenKept;
    };
    const QList<Case> cases{
        {"-663", AccountFixtures::refusal(-663, QStringLiteral("token expired")), -663, false},
        {"-101", AccountFixtures::refusal(-101, QStringLiteral("账号未登录")), -101, false},
        {"no data", AccountFixtures::ok(), -2, true},
        {"no cookies", AccountFixtures::ok(QVariantMap{{QStringLiteral("token_info"), QVariantMap{{QStringLiteral("access_token"), QStringLiteral("x")},
                                                                                               {QStringLiteral("refresh_token"), QStringLiteral("y")}}}}),
         -2, true},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        client()->resetForTesting();
        AccountFixtures::logInAppAndWeb(120);
        const qint32 generation = KRSessionStore::sharedStore().credentialGeneration();
        serveRefresh([reply = item.reply](const FakeRequest&) { return reply; });
        UsableCalls calls;
        client()->ensureUsableAppAuthentication(nullptr, calls.recorder());
        KR_WAIT_UNTIL(calls.calls.size() == 1);
        expectError(std::get<1>(calls.calls.first()), item.code);
        EXPECT_EQ(KRSessionStore::sharedStore().hasAppAccessToken(), item.tokenKept);
        EXPECT_EQ(KRSessionStore::sharedStore().credentialGeneration(), item.tokenKept ? generation : generation + 1);
    }
}

TEST_F(RefreshTest, AReplyArrivingAfterANewLoginIsNotCommitted)
{
    AccountFixtures::logInAppAndWeb(120);
    serveRefresh([](const FakeRequest&) {
        FakeReply reply = AccountFixtures::ok(AccountFixtures::loginData(QStringLiteral("acc-stale"), QStringLiteral("ref-stale")));
        reply.delayMs = 150;
        return reply;
    });
    UsableCalls calls;
    client()->ensureUsableAppAuthentication(nullptr, calls.recorder());
    KR_WAIT_UNTIL(refreshRequests() == 1);
    AccountFixtures::logInAppAndWeb(0, QStringLiteral("acc-new"), QStringLiteral("ref-new")); // a new QR login meanwhile
    const auto [usable, error] = calls.awaitOne();
    EXPECT_TRUE(usable);
    EXPECT_FALSE(error);
    EXPECT_EQ(KRSessionStore::sharedStore().accessToken(), QStringLiteral("acc-new"));
    EXPECT_TRUE(runtimeLog().contains(QStringLiteral("phase=result committed=NO superseded=YES usable=YES")));
    // A superseded refresh leaves no back-off behind.
    setNow(kNow + 1);
    client()->ensureUsableAppAuthenticationForceRefresh(true, nullptr, calls.recorder());
    KR_WAIT_UNTIL(calls.calls.size() == 2);
    EXPECT_EQ(refreshRequests(), 2);
}

TEST_F(RefreshTest, AnAppRequestRejectedTwiceIsSentTwiceAndTheSecondAnswerPassesThrough)
{
    AccountFixtures::logInAppAndWeb(0);
    serveRefresh([](const FakeRequest&) { return AccountFixtures::ok(AccountFixtures::loginData(QStringLiteral("acc-2"), QStringLiteral("ref-2"))); });
    int sent = 0;
    serve(KRServiceHosts::appHost(), QStringLiteral("/x/v2/view/like"), AccountFixtures::appSigned([&sent](const FakeRequest& request) {
              ++sent;
              EXPECT_EQ(AccountFixtures::formValue(request, QStringLiteral("mobi_app")), QStringLiteral("iphone"));
              return AccountFixtures::refusal(-101, sent == 1 ? QStringLiteral("first") : QStringLiteral("second"));
          }));
    JSONCalls calls;
    client()->performAuthenticatedAppURLString(appURL(QStringLiteral("/x/v2/view/like")), QStringLiteral("POST"), {{QStringLiteral("aid"), 1}}, true,
                                               true, nullptr, calls.recorder());
    KR_WAIT_UNTIL(calls.calls.size() == 1);
    drain();
    EXPECT_EQ(sent, 2);
    EXPECT_EQ(refreshRequests(), 1);
    expectError(std::get<2>(calls.calls.first()), -101, QStringLiteral("second"));
    EXPECT_EQ(fake.requestsTo(QStringLiteral("/x/v2/view/like")).last().header(QStringLiteral("Cookie")), QString());
    EXPECT_TRUE(runtimeLog().contains(QStringLiteral("phase=server-reject path=/x/v2/view/like code=-101")));
}

TEST_F(RefreshTest, ChainsStopWithTheirOwner)
{
    // A like whose owner goes while the risk-control cookies are fetched: the cookies, the
    // session's, are kept, but the like is never sent.
    AccountFixtures::logInWebOnly();
    serveAPI(QStringLiteral("/x/frontend/finger/spi"), [](const FakeRequest&) {
        FakeReply reply = AccountFixtures::ok(QVariantMap{{QStringLiteral("b_3"), QStringLiteral("B3")}, {QStringLiteral("b_4"), QStringLiteral("B4")}});
        reply.delayMs = 150;
        return reply;
    });
    serveAPI(QStringLiteral("/x/web-interface/archive/like"), [](const FakeRequest&) { return AccountFixtures::ok(); });
    {
        auto owner = std::make_unique<QObject>();
        auto released = std::make_shared<bool>(false);
        std::shared_ptr<void> token(nullptr, [released](void*) { *released = true; });
        int calls = 0;
        client()->setLike(true, 170001, QString(), owner.get(),
                          [token, &calls](bool, const QString&, const QVariant&) { ++calls; });
        token.reset();
        KR_WAIT_UNTIL(fake.requestsTo(QStringLiteral("/x/frontend/finger/spi")).size() == 1);
        owner.reset();
        KR_WAIT_UNTIL(*released);
        drain();
        EXPECT_EQ(calls, 0);
        EXPECT_TRUE(KRSessionStore::sharedStore().hasRiskControlCookies());
        EXPECT_TRUE(fake.requestsTo(QStringLiteral("/x/web-interface/archive/like")).isEmpty());
    }

    // A refresh waiter whose owner goes: the refresh, the client's own, still commits, but the
    // app request waiting for it is never sent. A playback route whose owner goes while its
    // first route is asked never falls back to the next.
    AccountFixtures::logInAppAndWeb(120);
    serveRefresh([](const FakeRequest&) {
        FakeReply reply = AccountFixtures::ok(AccountFixtures::loginData(QStringLiteral("acc-2"), QStringLiteral("ref-2")));
        reply.delayMs = 150;
        return reply;
    });
    serve(KRServiceHosts::appHost(), QStringLiteral("/x/v2/view/like"),
          AccountFixtures::appSigned([](const FakeRequest&) { return AccountFixtures::ok(); }));
    const QString tv = QStringLiteral("/x/tv/ugc/playurl");
    serveAPI(tv, [](const FakeRequest&) {
        FakeReply reply = AccountFixtures::ok(AccountFixtures::progressiveInfo(32));
        reply.delayMs = 150;
        return reply;
    });
    serveAPI(QStringLiteral("/x/player/playurl"), [](const FakeRequest&) { return AccountFixtures::ok(AccountFixtures::progressiveInfo(64)); });

    struct Case {
        const char* name;
        QString firstPath;
        std::function<void(QObject* owner, std::function<void()> answered)> start;
    };
    const QList<Case> cases{
        {"refresh waiter", kRefreshPath,
         [](QObject* owner, std::function<void()> answered) {
             client()->performAuthenticatedAppURLString(appURL(QStringLiteral("/x/v2/view/like")), QStringLiteral("POST"),
                                                        {{QStringLiteral("aid"), 1}}, true, true, owner,
                                                        [answered](const QVariant&, const platform::HTTPResponse*,
                                                                   const KROptionalError&) { answered(); });
         }},
        {"playback routes", tv,
         [](QObject* owner, std::function<void()> answered) {
             client()->loadPlaybackInfoForAID(170001, QStringLiteral("BV1xx411c7mD"), 279786, 64, owner,
                                              [answered](const std::optional<KRPlaybackInfo>&, const KROptionalError&) { answered(); });
         }},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.name);
        auto owner = std::make_unique<QObject>();
        auto released = std::make_shared<bool>(false);
        std::shared_ptr<void> token(nullptr, [released](void*) { *released = true; });
        int calls = 0;
        item.start(owner.get(), [token, &calls] { ++calls; });
        token.reset();
        KR_WAIT_UNTIL(fake.requestsTo(item.firstPath).size() == 1);
        owner.reset();
        KR_WAIT_UNTIL(*released);
        drain();
        EXPECT_EQ(calls, 0);
    }
    EXPECT_EQ(KRSessionStore::sharedStore().accessToken(), QStringLiteral("acc-2")) << "the refresh is kept";
    EXPECT_TRUE(fake.requestsTo(QStringLiteral("/x/v2/view/like")).isEmpty());
    EXPECT_TRUE(fake.requestsTo(QStringLiteral("/x/player/playurl")).isEmpty());
}

TEST_F(RefreshTest, WithoutARefreshTokenNoRequestIsMade)
{
    UsableCalls calls;
    client()->ensureUsableAppAuthentication(nullptr, calls.recorder());
    ASSERT_EQ(calls.calls.size(), 1);
    expectError(std::get<1>(calls.calls.first()), -101, QStringLiteral("原生授权需要重新扫码"));
    EXPECT_EQ(refreshRequests(), 0);
}

TEST_F(RefreshTest, APlaybackGetRepeatsWithoutTheSessionOnlyForALoggedInRiskAnswer)
{
    int sent = 0;
    serveAPI(QStringLiteral("/x/player/wbi/playurl"), [&sent](const FakeRequest&) {
        ++sent;
        return sent == 1 ? FakeReply::html("<html>412</html>", 412) : AccountFixtures::ok(AccountFixtures::dashInfo(80));
    });
    JSONCalls calls;
    client()->performPlaybackURLString(apiURL(QStringLiteral("/x/player/wbi/playurl")), {}, QString(), 1, 80, nullptr, calls.recorder());
    KR_WAIT_UNTIL(calls.calls.size() == 1);
    EXPECT_EQ(sent, 1) << "logged out: no repeat";
    expectError(std::get<2>(calls.calls.first()), 412);

    sent = 0;
    AccountFixtures::logInWebOnly();
    client()->performPlaybackURLString(apiURL(QStringLiteral("/x/player/wbi/playurl")), {}, QString(), 1, 80, nullptr, calls.recorder());
    KR_WAIT_UNTIL(calls.calls.size() == 2);
    EXPECT_EQ(sent, 2);
    EXPECT_FALSE(std::get<2>(calls.calls.last()));
    const QList<FakeRequest> requests = fake.requestsTo(QStringLiteral("/x/player/wbi/playurl"));
    EXPECT_FALSE(requests.at(requests.size() - 2).header(QStringLiteral("Cookie")).isEmpty());
    EXPECT_TRUE(requests.last().header(QStringLiteral("Cookie")).isEmpty());
}

} // namespace
