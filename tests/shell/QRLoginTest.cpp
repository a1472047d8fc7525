#include "../uikit/KitTestSupport.h"
#include "account/AccountClientTesting.h"

#include "account/KRQRLoginFlow.h"
#include "login/KRQRCodeImage.h"
#include "login/KRQRLoginViewController.h"
#include "look/KRTheme.h"
#include "platform/foundation/MainClock.h"
#include "platform/uikit/ActivityIndicatorView.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/NavigationItem.h"
#include "platform/uikit/TabBar.h"
#include "platform/uikit/TabBarController.h"
#include "platform/uikit/TabBarItem.h"
#include "platform/uikit/Window.h"

#include <qrcodegen.hpp>

#include <QPointer>

#include <memory>

using namespace platform::uikit;
using namespace accounttest;

namespace {

using Passport = AccountFixtures::Passport;

// Whether every module of `code` is drawn in its colour at its place, with the quiet zone white.
::testing::AssertionResult drawsModules(const QImage& image, const qrcodegen::QrCode& code, int scale)
{
    const qreal dpr = image.devicePixelRatio();
    const int modules = code.getSize() + 8;
    for (int y = 0; y < modules; ++y) {
        for (int x = 0; x < modules; ++x) {
            const bool inside = x >= 4 && y >= 4 && x < modules - 4 && y < modules - 4;
            const bool dark = inside && code.getModule(x - 4, y - 4);
            // The centre pixel of the module.
            const QPoint pixel(int((x + 0.5) * scale * dpr), int((y + 0.5) * scale * dpr));
            if (image.pixelColor(pixel) != (dark ? QColor(Qt::black) : QColor(Qt::white)))
                return ::testing::AssertionFailure() << "module (" << x - 4 << ", " << y - 4 << ") wrong";
        }
    }
    return ::testing::AssertionSuccess();
}

class QRCodeImageTest : public KitTest {};

TEST_F(QRCodeImageTest, ScaleSideAndPixelsFollowTheModules)
{
    const QImage image = KRQRCodeImageFromString(QStringLiteral("korvane-login-0123456789"), 236);
    ASSERT_FALSE(image.isNull());
    EXPECT_FALSE(image.hasAlphaChannel());
    EXPECT_EQ(image.devicePixelRatio(), 2);
    EXPECT_EQ(image.size(), QSize(462, 462));
    EXPECT_EQ(image.deviceIndependentSize(), QSizeF(231, 231));
    EXPECT_EQ(image.pixelColor(63, 63), QColor(Qt::black)); // module (0, 0)
    EXPECT_EQ(image.pixelColor(77, 77), QColor(Qt::white)); // module (1, 1)
    for (int i = 0; i < 462; ++i) {
        for (const int m : {0, 55, 406, 461}) {
            ASSERT_EQ(image.pixelColor(i, m), QColor(Qt::white)) << i << "," << m;
            ASSERT_EQ(image.pixelColor(m, i), QColor(Qt::white)) << m << "," << i;
        }
    }
    const auto code = qrcodegen::QrCode::encodeText("korvane-login-0123456789", qrcodegen::QrCode::Ecc::MEDIUM);
    EXPECT_EQ(code.getSize(), 25);
    EXPECT_TRUE(drawsModules(image, code, 7));
    // The kit shows it at its size in points.
    EXPECT_EQ(Image(image).size(), QSizeF(231, 231));
    EXPECT_EQ(Image(image).scale(), 2);
}

TEST_F(QRCodeImageTest, SidesAndLimits)
{
    const struct {
        QString text;
        qreal side;
        qreal points; // 0: no image
    } cases[] = {
        {QStringLiteral("a"), 236, 232},                       // 21 modules + 8 at scale 8
        {QStringLiteral("a"), 20, 29},                         // never below scale 1
        {QStringLiteral("a"), -5, 29},
        {QString(QStringLiteral("a")).repeated(2331), 236, 185}, // version 40: 177 modules
        {QString(QStringLiteral("a")).repeated(2332), 236, 0},
        {QString(), 236, 0},
        {QStringLiteral(""), 236, 0},
        {QStringLiteral("a"), 1e12, 0}, // no image that large
    };
    for (const auto& c : cases) {
        const QImage image = KRQRCodeImageFromString(c.text, c.side);
        EXPECT_EQ(image.isNull(), c.points == 0) << c.text.size() << " at " << c.side;
        if (!image.isNull()) {
            EXPECT_EQ(image.deviceIndependentSize(), QSizeF(c.points, c.points)) << c.text.size() << " at " << c.side;
        }
    }
}

TEST_F(QRCodeImageTest, DrawsAtTheScreenScaleAndEncodesEveryByte)
{
    useDevice(QStringLiteral("iPhone10,2"), QStringLiteral("16.7")); // a 3× screen
    const QImage image = KRQRCodeImageFromString(QStringLiteral("登录"), 100);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.devicePixelRatio(), 3);
    const auto code = qrcodegen::QrCode::encodeText(QStringLiteral("登录").toUtf8().constData(), qrcodegen::QrCode::Ecc::MEDIUM);
    EXPECT_EQ(image.size(), QSize(3 * 3 * (code.getSize() + 8), 3 * 3 * (code.getSize() + 8)));
    EXPECT_TRUE(drawsModules(image, code, 3));

    // A text holding U+0000 is encoded whole, not cut at it.
    const QString withNul = QStringLiteral("a") + QChar(0) + QStringLiteral("b");
    const QImage whole = KRQRCodeImageFromString(withNul, 100);
    ASSERT_FALSE(whole.isNull());
    EXPECT_TRUE(drawsModules(whole, qrcodegen::QrCode::encodeBinary({'a', 0, 'b'}, qrcodegen::QrCode::Ecc::MEDIUM), 3));
    EXPECT_NE(whole, KRQRCodeImageFromString(QStringLiteral("a"), 100));
}

// The screen pushed on a tab's navigation stack, against the fake passport.
class QRLoginScreenTest : public AccountClientTest {
protected:
    void SetUp() override
    {
        AccountClientTest::SetUp();
        KitTest::resetKit();
        serveAPI(QStringLiteral("/x/web-interface/nav"), [](const FakeRequest&) {
            return AccountFixtures::ok(QVariantMap{{QStringLiteral("isLogin"), true}, {QStringLiteral("mid"), 4242}});
        });
        nav = new NavigationController(new ViewController());
        nav->setTabBarItem(new TabBarItem(QStringLiteral("我的"), Image(), 0));
        tabs->setViewControllers({nav});
        window->setRootViewController(tabs);
        window->makeKeyAndVisible();
    }
    void TearDown() override
    {
        window.reset();
        flushDeferredDeletes();
        KitTest::settleKit();
        AccountClientTest::TearDown();
    }
    KRQRLoginViewController* push()
    {
        auto* screen = new KRQRLoginViewController();
        nav->pushViewController(screen, true);
        AnimationClock::finishAll();
        screen->view()->layoutIfNeeded();
        return screen;
    }

    // Lets the poll in flight be answered, then moves the clock by one poll interval.
    static void nextPoll(KRQRLoginViewController* screen)
    {
        KR_WAIT_UNTIL(!screen->flow()->isPollInFlight());
        platform::MainClock::advanceForTesting(2.0);
    }

    Passport passport{fake};
    std::unique_ptr<Window> window = std::make_unique<Window>();
    TabBarController* tabs = new TabBarController();
    NavigationController* nav = nullptr;
};

TEST_F(QRLoginScreenTest, LayoutTitleAndTheDrawnCode)
{
    KRQRLoginViewController* screen = push();
    EXPECT_TRUE(tabs->tabBar()->isHidden());
    EXPECT_EQ(screen->view()->frame(), QRectF(0, 64, 375, 603));
    EXPECT_EQ(screen->title(), QStringLiteral("扫码登录"));
    auto* title = qobject_cast<Label*>(screen->navigationItem()->titleView());
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->text(), QStringLiteral("扫码登录"));
    EXPECT_EQ(title->textColor(), KRTheme::sharedTheme()->navigationTextColor());
    const struct {
        View* view;
        QRectF frame;
    } frames[] = {
        {screen->cardView(), QRectF(37, 10, 300, 365)},
        {screen->instructionLabel(), QRectF(10, 10, 280, 42)},
        {screen->qrImageView(), QRectF(32, 56, 236, 236)},
        {screen->statusLabel(), QRectF(12, 300, 276, 36)},
        {screen->refreshButton(), QRectF(95, 324, 110, 32)},
    };
    for (const auto& f : frames)
        EXPECT_EQ(f.view->frame(), f.frame) << StringFromRect(f.view->frame()).toStdString();
    EXPECT_EQ(screen->spinner()->center(), screen->qrImageView()->center());
    for (View* onCard : {static_cast<View*>(screen->instructionLabel()), static_cast<View*>(screen->qrImageView()),
                         static_cast<View*>(screen->statusLabel()), static_cast<View*>(screen->refreshButton()),
                         static_cast<View*>(screen->spinner())})
        EXPECT_EQ(onCard->superview(), screen->cardView());
    EXPECT_EQ(screen->instructionLabel()->text(), QStringLiteral("请用另一台已登录岚帆视频的设备\n扫描下方二维码并确认"));
    EXPECT_TRUE(screen->shouldAutorotateToInterfaceOrientation(InterfaceOrientationPortrait));
    EXPECT_FALSE(screen->shouldAutorotateToInterfaceOrientation(InterfaceOrientationLandscapeLeft));
    EXPECT_EQ(screen->supportedInterfaceOrientations(), InterfaceOrientationMaskPortrait);

    // The code of the passport's address, drawn for the QR view's width, at its size in points.
    KR_WAIT_UNTIL(passport.polls() == 1);
    EXPECT_EQ(screen->statusLabel()->text(), QStringLiteral("等待扫码…"));
    const Image shown = screen->qrImageView()->image();
    ASSERT_FALSE(shown.isNull());
    const QImage expected = KRQRCodeImageFromString(QStringLiteral("https://%1/qr?code=1").arg(KRServiceHosts::passportHost()), 236);
    EXPECT_EQ(shown.image(), expected);
    EXPECT_EQ(shown.size(), expected.deviceIndependentSize());
    EXPECT_FALSE(screen->spinner()->isAnimating());
    EXPECT_TRUE(screen->refreshButton()->isHidden());
    EXPECT_TRUE(screen->flow()->isPollTimerRunning());
}

TEST_F(QRLoginScreenTest, ExpiryShowsTheRefreshButtonWhichFetchesOneCodeAtATime)
{
    KRQRLoginViewController* screen = push();
    KR_WAIT_UNTIL(passport.polls() == 1);
    passport.setStage(Passport::Stage::Expired);
    nextPoll(screen);
    KR_WAIT_UNTIL(screen->statusLabel()->text() == QStringLiteral("二维码已过期，请刷新"));
    EXPECT_FALSE(screen->refreshButton()->isHidden());
    EXPECT_FALSE(screen->flow()->isPollTimerRunning());

    passport.setStage(Passport::Stage::NotScanned);
    const int polls = passport.polls();
    screen->refreshButton()->tapForTesting();
    EXPECT_TRUE(screen->refreshButton()->isHidden());
    EXPECT_TRUE(screen->qrImageView()->image().isNull());
    EXPECT_EQ(screen->statusLabel()->text(), QStringLiteral("正在获取登录二维码…"));
    EXPECT_TRUE(screen->spinner()->isAnimating());
    // A tap while the code is fetched sends nothing more.
    screen->refreshButton()->sendActionsForControlEvents(ControlEventTouchUpInside);
    KR_WAIT_UNTIL(passport.polls() == polls + 1);
    drain();
    EXPECT_EQ(passport.codesIssued(), 2);
    EXPECT_FALSE(screen->qrImageView()->image().isNull());
}

TEST_F(QRLoginScreenTest, AConfirmedLoginPopsTheScreen)
{
    QPointer<KRQRLoginViewController> screen = push();
    KR_WAIT_UNTIL(passport.polls() == 1);
    passport.setStage(Passport::Stage::Confirmed);
    nextPoll(screen);
    KR_WAIT_UNTIL(screen->statusLabel()->text() == QStringLiteral("登录成功"));
    platform::MainClock::advanceForTesting(0.549);
    EXPECT_NE(screen->flow()->state(), KRQRLoginFlow::State::Done) << "the screen stays 0.55 s to say so";
    platform::MainClock::advanceForTesting(0.001);
    EXPECT_EQ(screen->flow()->state(), KRQRLoginFlow::State::Done);
    EXPECT_EQ(screen->statusLabel()->text(), QStringLiteral("登录成功"));
    EXPECT_FALSE(screen->spinner()->isAnimating());
    AnimationClock::finishAll();
    EXPECT_EQ(nav->viewControllers().size(), 1);
    EXPECT_FALSE(tabs->tabBar()->isHidden());
    EXPECT_TRUE(KRSessionStore::sharedStore().isLoggedIn());
    flushDeferredDeletes();
    EXPECT_TRUE(screen.isNull());
}

TEST_F(QRLoginScreenTest, CoveredItStopsPollingAndAFinishedLoginDoesNotPopAnother)
{
    // Already authorised: the screen finishes without a code, but another screen is on top by then.
    AccountFixtures::logInAppAndWeb();
    QPointer<KRQRLoginViewController> screen = push();
    EXPECT_EQ(screen->statusLabel()->text(), QStringLiteral("当前账号已完成原生授权"));
    auto* covering = new ViewController();
    nav->pushViewController(covering, false);
    platform::MainClock::advanceForTesting(0.3);
    EXPECT_EQ(screen->flow()->state(), KRQRLoginFlow::State::Done);
    AnimationClock::finishAll();
    EXPECT_EQ(nav->topViewController(), covering);
    EXPECT_EQ(nav->viewControllers().size(), 3);
    EXPECT_EQ(passport.codesIssued(), 0);
}

TEST_F(QRLoginScreenTest, ItPollsOnlyWhileItShows)
{
    KRQRLoginViewController* screen = push();
    KR_WAIT_UNTIL(passport.polls() == 1 && !screen->flow()->isPollInFlight());
    ASSERT_TRUE(screen->flow()->isPollTimerRunning());
    nav->pushViewController(new ViewController(), false);
    EXPECT_FALSE(screen->flow()->isPollTimerRunning());
    // Back on top it polls its code at once, then on the timer.
    nav->popViewControllerAnimated(false);
    EXPECT_TRUE(screen->flow()->isPollTimerRunning());
    // Answered too: a poll still outstanding when the next code comes would hold back that
    // code's first poll, as no poll is sent while another is outstanding.
    KR_WAIT_UNTIL(passport.polls() == 2 && !screen->flow()->isPollInFlight());

    // A code arriving while the screen is covered is shown but not polled until it shows again.
    screen->refreshButton()->sendActionsForControlEvents(ControlEventTouchUpInside);
    nav->pushViewController(new ViewController(), false);
    KR_WAIT_UNTIL(passport.codesIssued() == 2 && !screen->qrImageView()->image().isNull());
    drain();
    EXPECT_FALSE(screen->flow()->isPollTimerRunning());
    EXPECT_EQ(passport.polls(), 2);
    nav->popViewControllerAnimated(false);
    KR_WAIT_UNTIL(passport.polls() == 3);
    EXPECT_TRUE(screen->flow()->isPollTimerRunning());
}

TEST_F(QRLoginScreenTest, TheThemeFollowsAStyleChange)
{
    KRQRLoginViewController* screen = push();
    KRTheme* theme = KRTheme::sharedTheme();
    for (const int style : {0, 1, 2}) {
        theme->setStyle(style);
        EXPECT_EQ(screen->cardView()->backgroundColor(), QBrush(theme->surfaceColor())) << style;
        EXPECT_EQ(screen->cardView()->borderColor(), theme->separatorColor()) << style;
        EXPECT_EQ(screen->instructionLabel()->textColor(), theme->primaryTextColor()) << style;
        EXPECT_EQ(screen->statusLabel()->textColor(), theme->secondaryTextColor()) << style;
        EXPECT_EQ(screen->refreshButton()->titleColor(ControlStateNormal), theme->accentColor()) << style;
        EXPECT_EQ(screen->spinner()->activityIndicatorViewStyle(), theme->spinnerStyle()) << style;
        screen->view()->layoutIfNeeded();
        EXPECT_EQ(screen->spinner()->center(), screen->qrImageView()->center()) << style;
    }
}

} // namespace
