// The demo's login as a newcomer goes through it: the whole application against the demo
// service's catalogue, clicked through to the profile tab and the QR login, with the main clock
// advanced over the screen's polls instead of waiting for them.
#include "../uikit/KitTestSupport.h"
#include "support/AccountFixtures.h"
#include "support/DemoCatalogue.h"
#include "support/FakeService.h"

#include "account/KRAccountClient.h"
#include "account/KRQRLoginFlow.h"
#include "browse/KRUsageNoticeViewController.h"
#include "library/KRProfileViewController.h"
#include "login/KRQRLoginViewController.h"
#include "platform/foundation/MainClock.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/TabBar.h"
#include "platform/uikit/Window.h"
#include "shell/KRAppDelegate.h"
#include "shell/KRRootViewController.h"
#include "store/KRDiagnostics.h"
#include "store/KRSessionStore.h"

#include <QPointer>
#include <QTest>

#include <memory>
#include <optional>

using namespace platform::uikit;
using namespace testsupport;
using platform::MainClock;

namespace {

class DemoLoginTest : public KitTest {
protected:
    void SetUp() override
    {
        KitTest::SetUp();
        KRDiagnostics::resetForTesting();
        KRSessionStore::sharedStore().resetForTesting();
        service = std::make_unique<FakeService>(DemoCatalogue::hosts());
        DemoCatalogue::install(*service);
    }
    void TearDown() override
    {
        Application::shared().setDelegate(nullptr);
        delegate.reset();
        flushDeferredDeletes();
        service.reset();
        KRSessionStore::sharedStore().resetForTesting();
        KitTest::TearDown();
    }

    KRRootViewController* root() const { return delegate->rootController(); }
    NavigationController* profileStack() const { return qobject_cast<NavigationController*>(root()->viewControllers().value(3)); }

    static void click(View* view, QPointF at)
    {
        QTest::mouseClick(view, Qt::LeftButton, {}, at.toPoint());
        AnimationClock::finishAll();
    }
    static void click(View* view) { click(view, view->bounds().center()); }

    // Opens the QR login from the profile tab's button; the shown screen, its code fetched.
    KRQRLoginViewController* openQRLogin()
    {
        auto* profile = qobject_cast<KRProfileViewController*>(profileStack()->topViewController());
        EXPECT_NE(profile, nullptr);
        if (!profile)
            return nullptr;
        EXPECT_FALSE(profile->loginButton()->isHidden());
        click(profile->loginButton());
        auto* screen = qobject_cast<KRQRLoginViewController*>(profileStack()->topViewController());
        EXPECT_NE(screen, nullptr);
        return screen;
    }

    // Advances the clock by one poll interval once the poll in flight has been answered.
    static ::testing::AssertionResult nextPoll(KRQRLoginViewController* screen)
    {
        if (!waitUntil([&] { return !screen->flow()->isPollInFlight(); }))
            return ::testing::AssertionFailure() << "a poll was never answered";
        MainClock::advanceForTesting(2.0);
        return ::testing::AssertionSuccess();
    }

    // Drives one code from showing to signed in, stage by stage as a phone would move it.
    void signInWith(KRQRLoginViewController* screen, const QString& code)
    {
        const QPointer<KRQRLoginViewController> guard(screen);
        KR_WAIT_UNTIL(!screen->qrImageView()->image().isNull() && screen->flow()->state() == KRQRLoginFlow::State::Polling);
        EXPECT_EQ(screen->statusLabel()->text(), QStringLiteral("等待扫码…"));
        // The screen polls its code as soon as it shows it.
        KR_WAIT_UNTIL(pollsOf(code) == 1);
        // Nothing moves without the clock: no wall time passes for the demo's phone.
        ASSERT_TRUE(nextPoll(screen));
        KR_WAIT_UNTIL(screen->statusLabel()->text() == QStringLiteral("已扫码，请在另一台设备上确认登录"));
        EXPECT_FALSE(KRSessionStore::sharedStore().isLoggedIn());
        ASSERT_TRUE(nextPoll(screen));
        KR_WAIT_UNTIL(screen->statusLabel()->text() == QStringLiteral("登录成功"));
        EXPECT_EQ(pollsOf(code), 3) << "confirmed at the third poll, four seconds after the code showed";
        EXPECT_TRUE(KRSessionStore::sharedStore().isLoggedIn());
        EXPECT_EQ(profileStack()->topViewController(), screen) << "the screen stays a moment to say so";
        MainClock::advanceForTesting(0.55);
        AnimationClock::finishAll();
        flushDeferredDeletes();
        EXPECT_TRUE(guard.isNull()) << "the finished screen leaves the stack";
        EXPECT_NE(qobject_cast<KRProfileViewController*>(profileStack()->topViewController()), nullptr);
    }

    int pollsOf(const QString& code) const
    {
        int count = 0;
        for (const FakeRequest& request : service->requests())
            if (request.path == QLatin1String("/x/passport-tv-login/qrcode/poll") &&
                AccountFixtures::formValue(request, QStringLiteral("auth_code")) == code)
                ++count;
        return count;
    }

    std::unique_ptr<FakeService> service;
    std::unique_ptr<KRAppDelegate> delegate;
};

TEST_F(DemoLoginTest, ANewcomerClicksToTheQRLoginAndEndsSignedInToTheDemoAccount)
{
    delegate = std::make_unique<KRAppDelegate>();
    Application::shared().setDelegate(delegate.get());
    Application::shared().finishLaunching();
    Window* window = delegate->window();
    ASSERT_NE(window, nullptr);

    // A newcomer first reads the usage notice.
    MainClock::advanceForTesting(0.45);
    AnimationClock::finishAll();
    auto* noticeStack = qobject_cast<NavigationController*>(root()->presentedViewController());
    ASSERT_NE(noticeStack, nullptr);
    auto* notice = qobject_cast<KRUsageNoticeViewController*>(noticeStack->topViewController());
    ASSERT_NE(notice, nullptr);
    click(notice->acknowledgeButton());
    flushDeferredDeletes();
    ASSERT_EQ(root()->presentedViewController(), nullptr);

    // The profile tab, then its QR login.
    click(root()->tabBar(), root()->tabBar()->rectForItem(3).center());
    ASSERT_EQ(root()->selectedIndex(), 3);
    KRQRLoginViewController* screen = openQRLogin();
    ASSERT_NE(screen, nullptr);
    signInWith(screen, QStringLiteral("code-1"));

    // Signed in as the demo account, whose profile, coins and follow state the screens read.
    EXPECT_EQ(KRSessionStore::sharedStore().userID(), AccountFixtures::kDemoAccountID);
    const std::optional<QVariantMap> profile = KRSessionStore::sharedStore().accountProfile();
    ASSERT_TRUE(profile.has_value());
    EXPECT_EQ(profile->value(QStringLiteral("uname")).toString(), QStringLiteral("演示账号"));
    EXPECT_EQ(profile->value(QStringLiteral("money")).toLongLong(), 128);
    auto* profileScreen = qobject_cast<KRProfileViewController*>(profileStack()->topViewController());
    ASSERT_NE(profileScreen, nullptr);
    EXPECT_TRUE(profileScreen->loginButton()->isHidden());

    std::optional<qint64> attribute;
    KRAccountClient::sharedClient()->loadRelationForMID(7, nullptr, [&](const QVariant& data, const KROptionalError& error) {
        EXPECT_FALSE(error.has_value());
        attribute = data.toMap().value(QStringLiteral("attribute")).toLongLong();
    });
    KR_WAIT_UNTIL(attribute.has_value());
    EXPECT_EQ(*attribute, 0);
    bool followed = false;
    KRAccountClient::sharedClient()->setFollowing(true, 7, nullptr, [&](bool success, const QString& message, const QVariant&) {
        EXPECT_TRUE(success) << message.toStdString();
        followed = true;
    });
    KR_WAIT_UNTIL(followed);
    attribute.reset();
    KRAccountClient::sharedClient()->loadRelationForMID(7, nullptr, [&](const QVariant& data, const KROptionalError&) {
        attribute = data.toMap().value(QStringLiteral("attribute")).toLongLong();
    });
    KR_WAIT_UNTIL(attribute.has_value());
    EXPECT_EQ(*attribute, 2);

    // Signed out again, a second code goes the same way.
    KRSessionStore::sharedStore().clearSession();
    EXPECT_FALSE(profileScreen->loginButton()->isHidden());
    screen = openQRLogin();
    ASSERT_NE(screen, nullptr);
    signInWith(screen, QStringLiteral("code-2"));
    EXPECT_EQ(KRSessionStore::sharedStore().userID(), AccountFixtures::kDemoAccountID);
}

} // namespace
