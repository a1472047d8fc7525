#include "shell/KRAppDelegate.h"

#include "shell/KRAppRoutes.h"
#include "shell/KRRootViewController.h"
#include "look/KRShellHelpers.h"
#include "look/KRTheme.h"
#include "browse/KRUsageNoticeViewController.h"
#include "model/KRConsole.h"
#include "platform/device/DeviceProfile.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Device.h"
#include "platform/uikit/Geometry.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/Screen.h"
#include "platform/uikit/Window.h"
#include "playback/KRPlaybackAudioSession.h"
#include "service/KRAPIClient.h"
#include "service/KRUpdateChecker.h"
#include "store/KRDiagnostics.h"
#include "store/KRSessionStore.h"

using namespace platform::uikit;

namespace {

// From this major version the root applies the first theme itself, after its first appearance.
constexpr int kModernThemeVersion = 15;
constexpr int kUpdateCheckDebounceMs = 350;
constexpr int kUsageNoticeDelayMs = 450;

const QString kRunForegroundUpdateCheck = QStringLiteral("runForegroundUpdateCheck");
const QString kPresentInitialUsageNotice = QStringLiteral("presentInitialUsageNotice");
const QString kRecordCommittedStartupGeometry = QStringLiteral("recordCommittedStartupGeometry");

} // namespace

void KRRecordStartupGeometry(const Window* window, const QString& phase)
{
    const QRectF screen = Screen::bounds();
    const QRectF native = Screen::hasNativeBounds() ? Screen::nativeBounds() : QRectF();
    const QRectF windowBounds = window ? window->bounds() : QRectF();
    const QRectF scene = window ? window->windowSceneBounds() : QRectF();
    const EdgeInsets safe = window ? window->safeAreaInsets() : EdgeInsets{};
    // Our bundle declares neither a launch storyboard nor launch images.
    const QString launch = QStringLiteral("none");
    const QString legacyLaunch = QStringLiteral("NO");
    KRDiagnostics::recordEvent(QStringLiteral("startup-geometry"),
                               QStringLiteral("phase=%1 screen=%2 native=%3 window=%4 scene=%5 safe=%6 launch=%7 legacyLaunch=%8")
                                   .arg(phase.isNull() ? QStringLiteral("unknown") : phase, StringFromRect(screen),
                                        StringFromRect(native), StringFromRect(windowBounds), StringFromRect(scene),
                                        StringFromEdgeInsets(safe), launch, legacyLaunch));
}

KRAppDelegate::KRAppDelegate() = default;

KRAppDelegate::~KRAppDelegate()
{
    m_delayed.cancelAll();
    m_noticeObserver = {};
}

bool KRAppDelegate::didFinishLaunching()
{
    KRDiagnostics::startCapture();
    m_noticeObserver = platform::NotificationCenter::defaultCenter().addObserver(
        KRUsageNoticeDidAcknowledgeNotification, nullptr, [this](const platform::Notification&) { scheduleForegroundUpdateCheck(); });

    auto& app = Application::shared();
    // A pad starts in portrait whatever way it is held, the device (when it can be told) and
    // the status bar alike; the shell rotates only for playback.
    if (platform::DeviceProfile::isPad()) {
        KRInvokeDeviceOrientationSetter(&Device::current(), 1);
        app.setStatusBarOrientation(InterfaceOrientationPortrait, false);
    }

    // The stored session is restored from the keychain now, before any screen asks for it.
    KRSessionStore& session = KRSessionStore::sharedStore();
    // The home list's first page is on its way while the window and the root are built; the
    // list takes its answer when it asks.
    KRAPIClient::sharedClient()->prefetchRecommendedHomePage();

    KRInstallAppRoutes();
    m_window = std::make_unique<Window>(Screen::bounds());
    auto* root = new KRRootViewController;
    m_rootController = root;
    m_window->setRootViewController(root);
    m_window->makeKeyAndVisible();

    KRRecordStartupGeometry(m_window.get(), QStringLiteral("visible"));
    m_delayed.schedule(kRecordCommittedStartupGeometry, 0, [this] { KRRecordStartupGeometry(m_window.get(), QStringLiteral("committed")); });

    const int version = KRRootSystemMajorVersion();
    if (version > 14)
        KRConsole::log(QStringLiteral("[KorvaneStartupLayout] skip post-makeKey theme during first commit"));
    else
        KRTheme::sharedTheme()->applyToTabBarController(root);

    if (KRUsageNoticeViewController::needsInitialAcknowledgement())
        m_delayed.schedule(kPresentInitialUsageNotice, kUsageNoticeDelayMs, [this] { presentInitialUsageNotice(); });

    if (session.isLoggedIn()) {
        KRAPIClient::sharedClient()->prepareRiskControlCookiesWithCompletion(this, [](bool ready, KROptionalError error) {
            KRConsole::log(QStringLiteral("[KorvaneSession] launchRiskWarmup ready=%1 errorCode=%2")
                               .arg(KRConsole::boolean(ready))
                               .arg(error ? error->code() : 0));
        });
    }
    return true;
}

void KRAppDelegate::didBecomeActive()
{
    KRPlaybackAudioSession::sharedSession()->reactivateIfNeededWithReason(QStringLiteral("application-did-become-active"));
    scheduleForegroundUpdateCheck();
}

void KRAppDelegate::scheduleForegroundUpdateCheck()
{
    m_delayed.schedule(kRunForegroundUpdateCheck, kUpdateCheckDebounceMs, [this] { runForegroundUpdateCheck(); });
}

bool KRAppDelegate::isForegroundUpdateCheckPending() const { return m_delayed.isScheduled(kRunForegroundUpdateCheck); }

void KRAppDelegate::runForegroundUpdateCheck()
{
    if (Application::shared().applicationState() != ApplicationStateActive || KRUsageNoticeViewController::needsInitialAcknowledgement())
        return;
    KRUpdateChecker::sharedChecker()->checkForUpdates();
}

void KRAppDelegate::presentInitialUsageNotice()
{
    if (!KRUsageNoticeViewController::needsInitialAcknowledgement() || !m_rootController
        || m_rootController->presentedViewController())
        return;
    auto* notice = new KRUsageNoticeViewController(true);
    auto* navigation = new NavigationController(notice);
    if (platform::DeviceProfile::isPad())
        navigation->setModalPresentationStyle(ModalPresentationFormSheet);
    m_rootController->presentViewController(navigation, true);
}

void KRAppDelegate::didReceiveMemoryWarning()
{
    KRDiagnostics::recordEvent(QStringLiteral("memory-warning"), QStringLiteral("UIApplication delivered memory warning"));
}

int KRAppDelegate::supportedInterfaceOrientationsForWindow(Window* window)
{
    const bool allows = KRViewControllerAllowsPlaybackRotation(m_rootController);
    if (window && window != m_window.get() && allows) {
        // Another window (a system player's) keeps the orientation the interface has now.
        const int orientation = Application::shared().statusBarOrientation();
        if (orientation == InterfaceOrientationLandscapeLeft)
            return InterfaceOrientationMaskLandscapeLeft;
        if (orientation == InterfaceOrientationLandscapeRight)
            return InterfaceOrientationMaskLandscapeRight;
        return InterfaceOrientationMaskPortrait;
    }
    return allows ? InterfaceOrientationMaskAllButUpsideDown : InterfaceOrientationMaskPortrait;
}
