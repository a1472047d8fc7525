// The captcha screen with the real web view, against the fake service: its native behaviour,
// and the page end to end with loaders that resolve, reject or are missing.

#include "../uikit/KitTestSupport.h"

#include "account/KRGaiaDiagnostics.h"
#include "login/KRGaiaVerificationViewController.h"
#include "model/KRServiceHosts.h"
#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/DelayedCall.h"
#include "platform/foundation/MainClock.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/net/CookieStorage.h"
#include "platform/uikit/ActivityIndicatorView.h"
#include "platform/uikit/BarButtonItem.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/NavigationItem.h"
#include "platform/uikit/Window.h"
#include "service/KRRequestPipeline.h"
#include "support/ConsoleCapture.h"
#include "support/GaiaFixtures.h"
#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>

#include <cmath>

using namespace platform::uikit;
using namespace testsupport;
using Configuration = GaiaFixtures::Configuration;
using Loader = GaiaFixtures::Loader;
using GaiaFixtures::loggedStages;
using GaiaFixtures::verifierLog;

namespace {

const QString kDesktopChrome = QStringLiteral(
    "Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/140.0.0.0 Safari/537.36");

// The screen on a navigation stack, against the fake service.
class GaiaScreenTest : public KitTest {
protected:
    void SetUp() override
    {
        KitTest::SetUp();
        platform::CookieStorage::shared().deleteAll();
        KRRequestPipeline::setTimeoutForTesting({KRRequestKind::RiskConfiguration}, 0);
        KRGaiaVerificationViewController::setLoadTimeoutsForTesting(0, 0);
        // Unless a test serves one, the loader never arrives, so the page stays quiet.
        fake.routeReply(KRServiceHosts::staticCDNHost(), GaiaFixtures::loaderPath(), FakeReply{.stall = true});
        nav = new NavigationController(new ViewController());
        window->setRootViewController(nav);
        window->makeKeyAndVisible();
    }
    void TearDown() override
    {
        window.reset();
        KRRequestPipeline::waitForOneOffs();
        QCoreApplication::processEvents();
        flushDeferredDeletes();
        KRGaiaVerificationViewController::setLoadTimeoutsForTesting(0, 0);
        KRRequestPipeline::setTimeoutForTesting({KRRequestKind::RiskConfiguration}, 0);
        platform::Bundle::setRootForTesting({});
        KitTest::TearDown();
    }
    KRGaiaVerificationViewController* push(const QVariantMap& options = {{QStringLiteral("v_voucher"), QStringLiteral("voucher-1")}})
    {
        auto* screen = new KRGaiaVerificationViewController(options, [this](const QString& token, const KROptionalError& error) {
            calls.append({token, error});
        });
        nav->pushViewController(screen, true);
        AnimationClock::finishAll();
        screen->view()->layoutIfNeeded();
        return screen;
    }
    // The page is handed to the web view once the configuration was read.
    static bool pageLoading(KRGaiaVerificationViewController* screen)
    {
        return screen->statusLabel()->text() == QStringLiteral("正在载入安全验证…")
               || loggedStages().contains(QStringLiteral("document-loaded"));
    }
    void expectOneError(qint64 code, const QString& message)
    {
        ASSERT_EQ(calls.size(), 1);
        EXPECT_TRUE(calls.first().first.isNull());
        ASSERT_TRUE(calls.first().second);
        EXPECT_EQ(calls.first().second->domain(), KRGaiaVerificationError);
        EXPECT_EQ(calls.first().second->code(), code);
        EXPECT_EQ(calls.first().second->message(), message);
    }
    static bool navigate(KRGaiaVerificationViewController* screen, const QString& url)
    {
        return screen->shouldStartLoad(screen->webView(), QUrl(url), false);
    }

    FakeService fake{KRServiceHosts::allServiceHosts()};
    std::unique_ptr<Window> window = std::make_unique<Window>();
    NavigationController* nav = nullptr;
    QList<QPair<QString, KROptionalError>> calls;
};

TEST_F(GaiaScreenTest, BuildsThePageFromTheServicesConfigurationWithoutBlocking)
{
    GaiaFixtures::serveConfiguration(fake, Configuration::Trusted);
    platform::CookieStorage::shared().setCookiesFromResponse(
        {QStringLiteral("buvid3=jar-cookie; Domain=.") + KRServiceHosts::mainDomain() + QStringLiteral("; Path=/")},
        QStringLiteral("https://") + KRServiceHosts::webHost() + QStringLiteral("/"));
    KRGaiaVerificationViewController* screen = push();
    EXPECT_EQ(screen->title(), QStringLiteral("安全验证"));
    EXPECT_EQ(screen->navigationItem()->leftBarButtonItem()->title(), QStringLiteral("取消"));
    EXPECT_EQ(screen->navigationItem()->rightBarButtonItem()->title(), QStringLiteral("重试"));
    EXPECT_FALSE(screen->navigationItem()->rightBarButtonItem()->isEnabled());
    EXPECT_EQ(screen->webView()->frame(), screen->view()->bounds());
    EXPECT_EQ(screen->statusLabel()->frame(), QRectF(0, 0, 375, 48));
    EXPECT_EQ(screen->spinner()->center(), QPointF(187.5, 24));
    // The configuration is asked off the main thread: the screen is drawn before it answers.
    EXPECT_FALSE(pageLoading(screen));
    KR_WAIT_UNTIL(pageLoading(screen));
    EXPECT_TRUE(screen->spinner()->isAnimating());
    EXPECT_TRUE(calls.isEmpty());

    const QList<FakeRequest> asked = fake.requestsTo(GaiaFixtures::configurationPath());
    ASSERT_EQ(asked.size(), 1);
    EXPECT_EQ(asked.first().host, KRServiceHosts::apiHost());
    EXPECT_TRUE(asked.first().header(QStringLiteral("Cookie")).contains(QStringLiteral("buvid3=jar-cookie")));
    EXPECT_EQ(loggedStages().mid(0, 3), (QStringList{QStringLiteral("view-ready"), QStringLiteral("document-build"),
                                                     QStringLiteral("risk-shape")}));
    EXPECT_EQ(verifierLog().value(QStringLiteral("events")).toArray()[2].toObject().value(QStringLiteral("detail")).toString(),
              QStringLiteral("topVoucher=1;decisions=0;grisk=0;decisionCtx=missing;ctxVoucher=0"));
}

TEST_F(GaiaScreenTest, AnUntrustedConfigurationEndsWithErrorTwoDespiteTheBundle)
{
    for (const Configuration configuration : {Configuration::PlainHTTP, Configuration::OutsideFolder, Configuration::UntrustedSource}) {
        calls.clear();
        GaiaFixtures::serveConfiguration(fake, configuration);
        QPointer<KRGaiaVerificationViewController> screen = push();
        KR_WAIT_UNTIL(!calls.isEmpty());
        expectOneError(2, QStringLiteral("安全验证组件不完整"));
        AnimationClock::finishAll();
        EXPECT_EQ(nav->topViewController(), nav->viewControllers().first());
        flushDeferredDeletes();
        EXPECT_FALSE(screen);
    }
}

TEST_F(GaiaScreenTest, AnUnusableAnswerFallsBackToTheBundledConfiguration)
{
    KRRequestPipeline::setTimeoutForTesting({KRRequestKind::RiskConfiguration}, 0.3);
    for (const Configuration configuration : {Configuration::NotJSON, Configuration::Stalled}) {
        GaiaFixtures::serveConfiguration(fake, configuration);
        KRGaiaVerificationViewController* screen = push();
        KR_WAIT_UNTIL(pageLoading(screen));
        EXPECT_TRUE(calls.isEmpty());
        nav->popViewControllerAnimated(false);
        ASSERT_EQ(calls.size(), 1);
        calls.clear();
    }
    // A failed request's body is no configuration, even when it reads as one; nor is a cut one.
    const QVariantMap untrusted{{QStringLiteral("logic"), QStringLiteral("http://evil.test/x.js")}};
    FakeReply cut = FakeReply::json(QVariant(untrusted));
    cut.cutBodyAt = 5;
    for (const FakeReply& reply : {FakeReply::json(QVariant(untrusted), 503), cut}) {
        fake.routeReply(KRServiceHosts::apiHost(), GaiaFixtures::configurationPath(), reply);
        KRGaiaVerificationViewController* screen = push();
        KR_WAIT_UNTIL(pageLoading(screen) || !calls.isEmpty());
        EXPECT_TRUE(calls.isEmpty());
        nav->popViewControllerAnimated(false);
        ASSERT_EQ(calls.size(), 1);
        calls.clear();
    }
    // No trusted configuration anywhere, and a risk object that cannot be written.
    platform::Bundle::setRootForTesting(testHome() + QStringLiteral("/empty-bundle"));
    GaiaFixtures::serveConfiguration(fake, Configuration::NotJSON);
    push();
    KR_WAIT_UNTIL(!calls.isEmpty());
    expectOneError(2, QStringLiteral("安全验证组件不完整"));
    calls.clear();
    platform::Bundle::setRootForTesting({});
    push({{QStringLiteral("x"), std::nan("")}});
    KR_WAIT_UNTIL(!calls.isEmpty());
    ASSERT_EQ(calls.size(), 1);
    EXPECT_EQ(calls.first().second->code(), 2);
    EXPECT_NE(calls.first().second->message(), QStringLiteral("安全验证组件不完整"));
}

TEST_F(GaiaScreenTest, CancelOrPopGivesErrorOneOnceAndAnAnswerAfterwardsIsDropped)
{
    GaiaFixtures::serveConfiguration(fake, Configuration::Stalled);
    KRRequestPipeline::setTimeoutForTesting({KRRequestKind::RiskConfiguration}, 0.3);
    KRGaiaVerificationViewController* screen = push();
    screen->navigationItem()->leftBarButtonItem()->trigger();
    expectOneError(1, QStringLiteral("已取消安全验证"));
    screen->cancelTapped();
    AnimationClock::finishAll();
    EXPECT_EQ(calls.size(), 1);
    // The stalled configuration gives up later and its answer reaches the main thread;
    // nothing more happens.
    KR_WAIT_UNTIL(fake.requestsTo(GaiaFixtures::configurationPath()).size() == 1);
    KRRequestPipeline::waitForOneOffs();
    QCoreApplication::processEvents();
    EXPECT_EQ(calls.size(), 1);

    calls.clear();
    GaiaFixtures::serveConfiguration(fake, Configuration::Trusted);
    screen = push();
    KR_WAIT_UNTIL(pageLoading(screen));
    nav->popViewControllerAnimated(true);
    AnimationClock::finishAll();
    expectOneError(1, QStringLiteral("已取消安全验证"));
}

TEST_F(GaiaScreenTest, AConfigurationAnswerForAnOlderBuildIsDropped)
{
    // The first build's answer is slow and would end the screen with error 2.
    FakeReply slowUntrusted = FakeReply::json(QVariant(QVariantMap{
        {QStringLiteral("logic"), QStringLiteral("http://") + KRServiceHosts::staticCDNHost() + QStringLiteral("/x.js")}}));
    slowUntrusted.delayMs = 400;
    fake.routeReply(KRServiceHosts::apiHost(), GaiaFixtures::configurationPath(), slowUntrusted);
    KRGaiaVerificationViewController::setLoadTimeoutsForTesting(20, 40);
    KRGaiaVerificationViewController* screen = push();
    KR_WAIT_UNTIL(screen->isLoadTimeoutScheduled());
    platform::MainClock::advanceForTesting(0.04);
    KR_WAIT_UNTIL(screen->isRetryAvailable());
    KRGaiaVerificationViewController::setLoadTimeoutsForTesting(60000, 60000);
    GaiaFixtures::serveConfiguration(fake, Configuration::Trusted);
    screen->reloadTapped();
    KR_WAIT_UNTIL(pageLoading(screen));
    KR_WAIT_UNTIL(fake.requestsTo(GaiaFixtures::configurationPath()).size() == 2);
    KRRequestPipeline::waitForOneOffs();
    QCoreApplication::processEvents();
    EXPECT_TRUE(calls.isEmpty());
    EXPECT_TRUE(pageLoading(screen));
}

TEST_F(GaiaScreenTest, PrivateSchemeAddresses)
{
    GaiaFixtures::serveConfiguration(fake, Configuration::Trusted);
    KRGaiaVerificationViewController* screen = push();
    KR_WAIT_UNTIL(pageLoading(screen));
    EXPECT_TRUE(navigate(screen, QStringLiteral("https://") + KRServiceHosts::staticCDNHost() + QStringLiteral("/a.js")));
    EXPECT_FALSE(navigate(screen, QStringLiteral("korvane-gaia://other?token=x")));

    // Hostile queries are logged in their safe form and change nothing else.
    const QString hostile[] = {
        QStringLiteral("korvane-gaia://event?stage=%E0%A4&detail=%00%ff"),
        QStringLiteral("korvane-gaia://event?&&=&stage&detail=a=b&stage=%3Cb%3E!"),
        QStringLiteral("korvane-gaia://event?stage=") + QString(5000, QLatin1Char('x')) + QStringLiteral("&detail=")
            + QString(100000, QLatin1Char('%')),
    };
    for (const QString& address : hostile)
        EXPECT_FALSE(navigate(screen, address));
    EXPECT_EQ(loggedStages().mid(loggedStages().size() - 3),
              (QStringList{QStringLiteral("unknown"), QStringLiteral("b"), QString(48, QLatin1Char('x'))}));
    EXPECT_EQ(verifierLog().value(QStringLiteral("events")).toArray().last().toObject().value(QStringLiteral("detail")).toString(),
              QString(240, QLatin1Char('%')));
    EXPECT_FALSE(screen->isCaptchaInitialized());
    EXPECT_TRUE(calls.isEmpty());

    // An event in any letter case; the last stage wins, values are decoded.
    EXPECT_FALSE(navigate(screen, QStringLiteral("KORVANE-GAIA://EVENT?stage=nothing&stage=captcha-init&detail=a%20b&seq=1")));
    EXPECT_TRUE(screen->isCaptchaInitialized());
    EXPECT_TRUE(screen->isRetryAvailable());
    EXPECT_TRUE(screen->statusLabel()->isHidden());
    EXPECT_EQ(loggedStages().last(), QStringLiteral("captcha-init"));
    EXPECT_EQ(verifierLog().value(QStringLiteral("events")).toArray().last().toObject().value(QStringLiteral("detail")).toString(),
              QStringLiteral("a b"));

    // Success without a token leaves the screen open.
    EXPECT_FALSE(navigate(screen, QStringLiteral("korvane-gaia://success")));
    EXPECT_FALSE(navigate(screen, QStringLiteral("korvane-gaia://success?token=")));
    EXPECT_TRUE(calls.isEmpty());
    EXPECT_EQ(screen->statusLabel()->text(), QStringLiteral("验证未返回有效凭据，请重试"));
    EXPECT_FALSE(screen->spinner()->isAnimating());
    EXPECT_TRUE(screen->isRetryAvailable());

    // The token is decoded (a plus stays a plus) and delivered once; the screen pops itself.
    EXPECT_FALSE(navigate(screen, QStringLiteral("korvane-gaia://Success?token=a%2Bb/c%3D+d&token=second")));
    EXPECT_FALSE(navigate(screen, QStringLiteral("korvane-gaia://success?token=again")));
    ASSERT_EQ(calls.size(), 1);
    EXPECT_EQ(calls.first().first, QStringLiteral("a+b/c=+d"));
    EXPECT_FALSE(calls.first().second);
    AnimationClock::finishAll();
    EXPECT_EQ(nav->viewControllers().size(), 1);
}

TEST_F(GaiaScreenTest, StageReactions)
{
    GaiaFixtures::serveConfiguration(fake, Configuration::Trusted);
    KRGaiaVerificationViewController* screen = push();
    KR_WAIT_UNTIL(pageLoading(screen));
    const QString slow = QStringLiteral("验证组件连接较慢，正在继续等待…");
    const QString unfinished = QStringLiteral("安全验证未完成，请点右上角重试");
    const struct {
        QString stage;
        QString status; // empty: hidden
        bool spinning;
        bool retry;
    } steps[] = {
        {QStringLiteral("loader-script-loaded"), QStringLiteral("正在打开安全验证…"), true, false},
        {QStringLiteral("init-timeout"), unfinished, false, true},
        {QStringLiteral("unlisted"), unfinished, false, true},
        {QStringLiteral("init-waiting"), QStringLiteral("验证图片仍在加载，请稍候…"), true, false},
        {QStringLiteral("run-rejected"), slow, true, false},
        {QStringLiteral("loader-ready"), QStringLiteral("正在打开安全验证…"), true, false},
        {QStringLiteral("window-error"), slow, true, false},
        {QStringLiteral("captcha-init"), QString(), false, true},
        // Once the captcha shows, a page error or a late loader failure must not cover it.
        {QStringLiteral("window-error"), QString(), false, true},
        {QStringLiteral("loader-script-error"), QString(), false, true},
        {QStringLiteral("resolved-empty"), unfinished, false, true},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.stage.toStdString());
        navigate(screen, QStringLiteral("korvane-gaia://event?stage=") + step.stage);
        EXPECT_EQ(screen->statusLabel()->isHidden(), step.status.isEmpty());
        if (!step.status.isEmpty()) {
            EXPECT_EQ(screen->statusLabel()->text(), step.status);
        }
        EXPECT_EQ(screen->spinner()->isAnimating(), step.spinning);
        EXPECT_EQ(screen->isRetryAvailable(), step.retry);
        EXPECT_EQ(screen->navigationItem()->rightBarButtonItem()->isEnabled(), step.retry);
    }
    // Load failures: a cancelled load is not one; after initialisation only the log hears of it.
    screen->didFailLoad(screen->webView(), platform::Error(QStringLiteral("NSURLErrorDomain"), -999, QString()));
    EXPECT_NE(loggedStages().last(), QStringLiteral("webview-load-error"));
    screen->didFailLoad(screen->webView(), platform::Error(QStringLiteral("NSURLErrorDomain"), -1001, QString()));
    EXPECT_EQ(loggedStages().last(), QStringLiteral("webview-load-error"));
    EXPECT_EQ(screen->statusLabel()->text(), unfinished);
}

TEST_F(GaiaScreenTest, NativeTimeoutsOnlyBeforeTheCaptchaShows)
{
    GaiaFixtures::serveConfiguration(fake, Configuration::Trusted);
    KRGaiaVerificationViewController::setLoadTimeoutsForTesting(60, 60000);
    KRGaiaVerificationViewController* screen = push();
    KR_WAIT_UNTIL(screen->isLoadTimeoutScheduled());
    platform::MainClock::advanceForTesting(0.059);
    EXPECT_FALSE(loggedStages().contains(QStringLiteral("native-init-waiting")));
    platform::MainClock::advanceForTesting(0.001);
    KR_WAIT_UNTIL(loggedStages().contains(QStringLiteral("native-init-waiting")));
    EXPECT_EQ(screen->statusLabel()->text(), QStringLiteral("验证图片仍在加载，请稍候…"));
    EXPECT_TRUE(screen->spinner()->isAnimating());
    EXPECT_FALSE(screen->isRetryAvailable());
    nav->popViewControllerAnimated(false);

    KRGaiaVerificationViewController::setLoadTimeoutsForTesting(60000, 60);
    screen = push();
    KR_WAIT_UNTIL(screen->isLoadTimeoutScheduled());
    platform::MainClock::advanceForTesting(0.06);
    KR_WAIT_UNTIL(loggedStages().contains(QStringLiteral("native-init-timeout")));
    EXPECT_EQ(screen->statusLabel()->text(), QStringLiteral("验证图片加载超时，请点右上角重试"));
    EXPECT_FALSE(screen->spinner()->isAnimating());
    EXPECT_TRUE(screen->isRetryAvailable());

    // Retry: a new log whose first event is the retry, and a new loading window.
    KRGaiaVerificationViewController::setLoadTimeoutsForTesting(60000, 60000);
    screen->navigationItem()->rightBarButtonItem()->trigger();
    EXPECT_EQ(loggedStages().first(), QStringLiteral("manual-retry"));
    EXPECT_FALSE(screen->isRetryAvailable());
    EXPECT_TRUE(screen->isLoadTimeoutScheduled());
    const qsizetype before = loggedStages().size();
    screen->reloadTapped(); // disabled: nothing happens
    EXPECT_EQ(loggedStages().size(), before);
    KR_WAIT_UNTIL(pageLoading(screen));

    navigate(screen, QStringLiteral("korvane-gaia://event?stage=captcha-init"));
    EXPECT_FALSE(screen->isLoadTimeoutScheduled());
    EXPECT_TRUE(screen->statusLabel()->isHidden());
    EXPECT_TRUE(screen->isRetryAvailable());
}

TEST_F(GaiaScreenTest, TheUserAgentIsOverriddenWhileOpenAndPutBack)
{
    GaiaFixtures::serveConfiguration(fake, Configuration::Trusted);
    platform::UserDefaults& defaults = platform::UserDefaults::standard();
    const QString desktop = kDesktopChrome;
    defaults.remove(QStringLiteral("UserAgent"));
    push();
    EXPECT_EQ(defaults.string(QStringLiteral("UserAgent")), desktop);
    nav->popViewControllerAnimated(false);
    flushDeferredDeletes();
    EXPECT_FALSE(defaults.contains(QStringLiteral("UserAgent")));

    defaults.setObject(QStringLiteral("UserAgent"), QStringLiteral("Mine/1.0"));
    push();
    EXPECT_EQ(defaults.string(QStringLiteral("UserAgent")), desktop);
    nav->popViewControllerAnimated(false);
    flushDeferredDeletes();
    EXPECT_EQ(defaults.string(QStringLiteral("UserAgent")), QStringLiteral("Mine/1.0"));
}


// The page end to end: the loader is fetched as desktop Chrome with the session's cookies, the
// runner's token comes back decoded exactly once, whatever the risk options hold.
TEST_F(GaiaScreenTest, PageDeliversTheLoadersTokenOnce)
{
    GaiaFixtures::serveConfiguration(fake, Configuration::Trusted);
    GaiaFixtures::serveLoader(fake, Loader::ResolvesToken, QStringLiteral("a+b/c="));
    const ConsoleCapture console;
    platform::CookieStorage::shared().setCookiesFromResponse(
        {QStringLiteral("SESSDATA=s3ssion; Domain=.") + KRServiceHosts::mainDomain() + QStringLiteral("; Path=/; Secure")},
        QStringLiteral("https://") + KRServiceHosts::webHost() + QStringLiteral("/"));
    push({{QStringLiteral("v_voucher"), QStringLiteral("</script><!--<script>")},
          {QStringLiteral("decision_ctx"), QVariantMap{{QStringLiteral("v_voucher"), QStringLiteral("x")}}}});
    KR_WAIT_UNTIL(!calls.isEmpty());
    ASSERT_EQ(calls.size(), 1);
    EXPECT_EQ(calls.first().first, QStringLiteral("a+b/c="));
    EXPECT_FALSE(calls.first().second);
    AnimationClock::finishAll();
    EXPECT_EQ(nav->viewControllers().size(), 1);

    const QStringList stages = loggedStages();
    EXPECT_EQ(stages.mid(0, 3), (QStringList{QStringLiteral("view-ready"), QStringLiteral("document-build"),
                                             QStringLiteral("risk-shape")}));
    qsizetype at = 0;
    for (const QString& stage : {QStringLiteral("loader-script-loaded"), QStringLiteral("loader-ready"),
                                 QStringLiteral("captcha-init"), QStringLiteral("captcha-resolved")}) {
        const qsizetype found = stages.indexOf(stage, at);
        EXPECT_GE(found, at) << stage.toStdString() << " in " << stages.join(QLatin1Char(' ')).toStdString();
        at = found + 1;
    }
    EXPECT_TRUE(stages.contains(QStringLiteral("document-loaded")));
    // Neither the verifier log nor the console sees the token.
    EXPECT_FALSE(QJsonDocument(verifierLog()).toJson().contains("a+b"));
    EXPECT_FALSE(console.contains(QStringLiteral("a+b/c=")));

    const QList<FakeRequest> loads = fake.requestsTo(GaiaFixtures::loaderPath());
    ASSERT_EQ(loads.size(), 1);
    EXPECT_EQ(loads.first().host, KRServiceHosts::staticCDNHost());
    EXPECT_EQ(loads.first().header(QStringLiteral("User-Agent")), kDesktopChrome);
    EXPECT_TRUE(loads.first().header(QStringLiteral("Cookie")).contains(QStringLiteral("SESSDATA=s3ssion")));
}

TEST_F(GaiaScreenTest, PageReportsARejectedOrMissingRunner)
{
    GaiaFixtures::serveConfiguration(fake, Configuration::Trusted);
    GaiaFixtures::serveLoader(fake, Loader::Rejects);
    KRGaiaVerificationViewController* screen = push();
    KR_WAIT_UNTIL(loggedStages().contains(QStringLiteral("run-rejected")));
    EXPECT_TRUE(screen->isCaptchaInitialized());
    EXPECT_EQ(screen->statusLabel()->text(), QStringLiteral("安全验证未完成，请点右上角重试"));
    EXPECT_TRUE(screen->isRetryAvailable());
    EXPECT_TRUE(calls.isEmpty());

    // Without a runner the page falls back to the bundled scripts, which say what is missing.
    GaiaFixtures::serveLoader(fake, Loader::Missing);
    screen->reloadTapped();
    KR_WAIT_UNTIL(loggedStages().contains(QStringLiteral("run-rejected")));
    const QStringList stages = loggedStages();
    EXPECT_EQ(stages.first(), QStringLiteral("manual-retry"));
    for (const QString& stage : {QStringLiteral("loader-runner-invalid"), QStringLiteral("config-fallback"),
                                 QStringLiteral("logic-inline-executed"), QStringLiteral("source-inline-executed"),
                                 QStringLiteral("fallback-runner-ready")})
        EXPECT_TRUE(stages.contains(stage)) << stage.toStdString() << " in " << stages.join(QLatin1Char(' ')).toStdString();
    EXPECT_FALSE(screen->isCaptchaInitialized());
    EXPECT_EQ(screen->statusLabel()->text(), QStringLiteral("验证组件连接较慢，正在继续等待…"));
    EXPECT_TRUE(calls.isEmpty());
}

} // namespace
