#include "account/AccountClientTesting.h"

#include "account/KRQRLoginFlow.h"
#include "service/KRRequestPipeline.h"

#include <memory>

using namespace accounttest;

namespace {

using Passport = AccountFixtures::Passport;
using DictionaryCalls = Calls<const QVariantMap&, const KROptionalError&>;

const QString kPollPath = QStringLiteral("/x/passport-tv-login/qrcode/poll");
const QString kCodePath = QStringLiteral("/x/passport-tv-login/qrcode/auth_code");

class LoginTest : public AccountClientTest {
protected:
    void SetUp() override
    {
        AccountClientTest::SetUp();
        serveAPI(QStringLiteral("/x/web-interface/nav"), [](const FakeRequest&) {
            return AccountFixtures::ok(QVariantMap{{QStringLiteral("isLogin"), true}, {QStringLiteral("mid"), 4242},
                                                   {QStringLiteral("uname"), QStringLiteral("viewer")}});
        });
    }

    std::pair<QVariantMap, KROptionalError> poll(const QString& key)
    {
        DictionaryCalls calls;
        client()->pollLoginQRCodeKey(key, nullptr, calls.recorder());
        const auto [result, error] = calls.awaitOne();
        return {result, error};
    }

    // Everything the flow told the screen, in order.
    struct Screen {
        QStringList statuses;
        QStringList instructions;
        QStringList shownCodes;
        bool refreshVisible = false;
        bool spinning = false;
        bool codeDrawable = true;
        int finished = 0;
        KRQRLoginFlow::Delegate delegate()
        {
            KRQRLoginFlow::Delegate d;
            d.setStatus = [this](const QString& text) { statuses << text; };
            d.setInstruction = [this](const QString& text) { instructions << text; };
            d.setSpinning = [this](bool on) { spinning = on; };
            d.setRefreshVisible = [this](bool visible) { refreshVisible = visible; };
            d.showCode = [this](const QString& url) {
                shownCodes << url;
                return codeDrawable;
            };
            d.finish = [this] { ++finished; };
            return d;
        }
    };

    Passport passport{fake};
};

TEST_F(LoginTest, WaitingCodesCarryNoErrorAndAConfirmationLogsIn)
{
    struct Case {
        Passport::Stage stage;
        qint64 code;
    };
    for (const Case& item : {Case{Passport::Stage::NotScanned, 86039}, Case{Passport::Stage::Scanned, 86090},
                             Case{Passport::Stage::Waiting, 86101}, Case{Passport::Stage::Expired, 86038}}) {
        passport.setStage(item.stage);
        const auto [result, error] = poll(QStringLiteral("code-0"));
        EXPECT_FALSE(error) << item.code;
        EXPECT_EQ(result.value(QStringLiteral("code")).toLongLong(), item.code);
        EXPECT_FALSE(result.value(QStringLiteral("message")).toString().isEmpty());
    }
    EXPECT_FALSE(KRSessionStore::sharedStore().isLoggedIn());
    passport.setStage(Passport::Stage::Confirmed);
    const auto [result, error] = poll(QStringLiteral("code-0"));
    EXPECT_FALSE(error);
    EXPECT_EQ(result.value(QStringLiteral("code")).toLongLong(), 0);
    EXPECT_TRUE(KRSessionStore::sharedStore().isLoggedIn());
    EXPECT_EQ(KRSessionStore::sharedStore().accessToken(), QStringLiteral("acc-qr"));
}

TEST_F(LoginTest, APollIsSentAsTheTVWithoutTheSessionEvenLoggedIn)
{
    AccountFixtures::logInWebOnly();
    poll(QStringLiteral("code-0"));
    const FakeRequest sent = fake.requestsTo(kPollPath).last();
    EXPECT_EQ(sent.header(QStringLiteral("User-Agent")), QStringLiteral("Mozilla/5.0 (Linux; Android 13; TV) zant-tv/1.6.6"));
    for (const char* header : {"Cookie", "Referer", "Origin", "Sec-Fetch-Site", "Sec-Fetch-Mode", "Sec-Fetch-Dest"})
        EXPECT_FALSE(sent.headers.contains(QLatin1String(header))) << header;
    EXPECT_TRUE(AccountFixtures::verifyAppSignedForm(sent));
    EXPECT_EQ(AccountFixtures::formValue(sent, QStringLiteral("local_id")), QStringLiteral("0"));
}

TEST_F(LoginTest, FailuresOfThePollAreNotHiddenBehindTheCaptureMessage)
{
    // A dropped connection keeps its transport error.
    passport.setDroppingPolls(true);
    const auto [dropped, droppedError] = poll(QStringLiteral("code-0"));
    ASSERT_TRUE(droppedError);
    EXPECT_NE(droppedError->domain(), KRAccountErrorDomain);
    EXPECT_EQ(dropped.value(QStringLiteral("code")).toLongLong(), 0);
    EXPECT_FALSE(KRSessionStore::sharedStore().isLoggedIn());

    // An HTTP failure without a code is that failure.
    fake.route(KRServiceHosts::passportHost(), kPollPath, [](const FakeRequest&) { return FakeReply::json(QByteArray("{}"), 502); });
    expectError(poll(QStringLiteral("code-0")).second, 502, QStringLiteral("服务器返回 HTTP 502，请稍后重试"));

    // A sound confirmation the store cannot take is the capture failure.
    fake.route(KRServiceHosts::passportHost(), kPollPath, [](const FakeRequest&) {
        return AccountFixtures::ok(QVariantMap{{QStringLiteral("token_info"), QVariantMap{}}});
    });
    expectError(poll(QStringLiteral("code-0")).second, -101, QStringLiteral("原生授权或登录 Cookie 没有写入，请刷新二维码重试"));
}

TEST_F(LoginTest, TheCodeCarriesItsKeyAndAFailedFetchItsError)
{
    DictionaryCalls calls;
    client()->generateLoginQRCode(nullptr, calls.recorder());
    KR_WAIT_UNTIL(calls.calls.size() == 1);
    EXPECT_FALSE(std::get<1>(calls.calls.first()));
    EXPECT_EQ(std::get<0>(calls.calls.first()).value(QStringLiteral("qrcode_key")).toString(), QStringLiteral("code-1"));
    EXPECT_TRUE(AccountFixtures::verifyAppSignedForm(fake.requestsTo(kCodePath).first()));
    passport.refuseCodes(-400);
    client()->generateLoginQRCode(nullptr, calls.recorder());
    KR_WAIT_UNTIL(calls.calls.size() == 2);
    expectError(std::get<1>(calls.calls.last()), -400, QStringLiteral("取码失败"));
    EXPECT_FALSE(std::get<0>(calls.calls.last()).contains(QStringLiteral("qrcode_key")));
}

TEST_F(LoginTest, TheFlowWalksFromCodeToLoginAndFinishes)
{
    Screen screen;
    KRQRLoginFlow flow(screen.delegate());
    flow.start();
    KR_WAIT_UNTIL(passport.polls() == 1); // the first poll goes at once
    KR_WAIT_UNTIL(screen.statuses.size() == 3); // and is answered "not scanned"
    EXPECT_EQ(flow.state(), KRQRLoginFlow::State::Polling);
    EXPECT_EQ(screen.shownCodes.size(), 1);
    flow.pollTimerFired();
    flow.pollTimerFired(); // one poll in flight at most
    KR_WAIT_UNTIL(screen.statuses.size() == 4);
    drain();
    EXPECT_EQ(passport.polls(), 2);
    passport.setStage(Passport::Stage::Scanned);
    flow.pollTimerFired();
    KR_WAIT_UNTIL(screen.statuses.last() == QStringLiteral("已扫码，请在另一台设备上确认登录"));
    EXPECT_EQ(flow.state(), KRQRLoginFlow::State::Scanned);
    passport.setStage(Passport::Stage::Confirmed);
    flow.pollTimerFired();
    KR_WAIT_UNTIL(screen.finished == 1);
    EXPECT_EQ(flow.state(), KRQRLoginFlow::State::Done);
    screen.statuses.removeDuplicates();
    EXPECT_EQ(screen.statuses, (QStringList{QStringLiteral("正在获取登录二维码…"), QStringLiteral("等待扫码…"),
                                            QStringLiteral("已扫码，请在另一台设备上确认登录"), QStringLiteral("登录成功，正在同步账号…"),
                                            QStringLiteral("登录成功")}));
    EXPECT_FALSE(screen.spinning);
    EXPECT_EQ(KRSessionStore::sharedStore().userID(), 4242);
    const int polls = passport.polls();
    flow.pollTimerFired();
    drain();
    EXPECT_EQ(passport.polls(), polls);
}

TEST_F(LoginTest, AnExpiredCodeStopsPollingAndADroppedPollDoesNot)
{
    Screen screen;
    KRQRLoginFlow flow(screen.delegate());
    passport.setDroppingPolls(true);
    flow.start();
    KR_WAIT_UNTIL(screen.statuses.size() == 3);
    passport.setDroppingPolls(false);
    EXPECT_TRUE(screen.statuses.last().startsWith(QStringLiteral("登录检查失败："))) << screen.statuses.last().toStdString();
    EXPECT_GT(screen.statuses.last().size(), QStringLiteral("登录检查失败：").size());
    flow.pollTimerFired();
    KR_WAIT_UNTIL(screen.statuses.size() == 4);
    EXPECT_EQ(screen.statuses.last(), QStringLiteral("等待扫码…"));
    passport.setStage(Passport::Stage::Expired);
    flow.pollTimerFired();
    KR_WAIT_UNTIL(screen.statuses.last() == QStringLiteral("二维码已过期，请刷新"));
    EXPECT_TRUE(screen.refreshVisible);
    EXPECT_EQ(flow.state(), KRQRLoginFlow::State::Expired);
    // The refresh button makes a new code and polls it.
    passport.setStage(Passport::Stage::NotScanned);
    const int polls = passport.polls();
    flow.generateQRCode();
    flow.generateQRCode(); // ignored while the first fetch runs
    KR_WAIT_UNTIL(passport.polls() == polls + 1);
    drain();
    EXPECT_EQ(passport.codesIssued(), 2);
    EXPECT_FALSE(screen.refreshVisible);
}

TEST_F(LoginTest, TheStartDependsOnTheSessionAndFailuresOfferTheRefresh)
{
    {
        // Web cookies only: the instruction asks for the app grant, a code is made at once.
        AccountFixtures::logInWebOnly();
        Screen screen;
        KRQRLoginFlow flow(screen.delegate());
        flow.start();
        ASSERT_EQ(screen.instructions.size(), 1);
        EXPECT_TRUE(screen.instructions.first().startsWith(QStringLiteral("网页会话已登录")));
        KR_WAIT_UNTIL(passport.polls() == 1);
    }
    {
        // A usable grant needs no code.
        AccountFixtures::logInAppAndWeb();
        Screen screen;
        KRQRLoginFlow flow(screen.delegate());
        flow.start();
        EXPECT_EQ(screen.statuses, QStringList{QStringLiteral("当前账号已完成原生授权")});
        KR_WAIT_UNTIL(screen.finished == 1);
        EXPECT_EQ(passport.codesIssued(), 1);
    }
    KRSessionStore::sharedStore().clearSession();
    {
        // A code the screen cannot draw, then a refused fetch.
        Screen screen;
        screen.codeDrawable = false;
        KRQRLoginFlow flow(screen.delegate());
        flow.start();
        KR_WAIT_UNTIL(screen.refreshVisible);
        EXPECT_EQ(screen.statuses.last(), QStringLiteral("二维码获取失败\n本地二维码生成失败"));
        EXPECT_EQ(flow.state(), KRQRLoginFlow::State::Failed);
        passport.refuseCodes(-400);
        flow.generateQRCode();
        KR_WAIT_UNTIL(screen.refreshVisible && screen.statuses.last() != QStringLiteral("正在获取登录二维码…"));
        EXPECT_EQ(screen.statuses.last(), QStringLiteral("二维码获取失败\n取码失败"));
    }
}

TEST_F(LoginTest, DestroyingTheFlowDropsItsAnswers)
{
    Screen screen;
    auto flow = std::make_unique<KRQRLoginFlow>(screen.delegate());
    flow->start();
    const int told = screen.statuses.size();
    flow.reset(); // the code fetch is still out, or not yet begun and skipped
    KRRequestPipeline::waitForOneOffs();
    EXPECT_LE(fake.requestsTo(kCodePath).size(), 1);
    drain();
    drain();
    EXPECT_EQ(screen.statuses.size(), told);
    EXPECT_EQ(passport.polls(), 0);
}

} // namespace
