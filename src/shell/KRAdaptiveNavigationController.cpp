#include "shell/KRAdaptiveNavigationController.h"

#include "look/KRShellHelpers.h"
#include "look/KRTheme.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/BarButtonItem.h"
#include "platform/uikit/Geometry.h"
#include "platform/uikit/NavigationItem.h"
#include "platform/uikit/View.h"

using namespace platform::uikit;

namespace {
// From this major version the first theme application waits for the first appearance, since
// the system lays bars out again during its first commit.
constexpr int kModernThemeVersion = 15;
const QString kApplyThemeAfterFirstAppearance = QStringLiteral("kr_applyThemeAfterFirstAppearance");
} // namespace

void KREnableNativeSwipeBack(NavigationController* controller)
{
    if (!controller)
        return;
    GestureRecognizer* recognizer = controller->interactivePopGestureRecognizer();
    if (recognizer)
        recognizer->setEnabled(controller->viewControllers().size() >= 2);
}

KRAdaptiveNavigationController::KRAdaptiveNavigationController(ViewController* root, QObject* parent)
    : NavigationController(root, parent)
{
}

KRAdaptiveNavigationController::~KRAdaptiveNavigationController() = default;

void KRAdaptiveNavigationController::viewDidLoad()
{
    m_statusBarObserver = platform::NotificationCenter::defaultCenter().addObserver(
        ApplicationDidChangeStatusBarFrameNotification, nullptr,
        [this](const platform::Notification&) { statusBarFrameDidChange(); });
    if (KRRootSystemMajorVersion() < kModernThemeVersion)
        KREnableNativeSwipeBack(this);
    KRTheme::sharedTheme()->refreshStatusBarBackdropForNavigationController(this);
}

void KRAdaptiveNavigationController::refreshBackdropIfReady()
{
    if (KRRootSystemMajorVersion() >= kModernThemeVersion && !m_hasCompletedFirstAppearance)
        return;
    KRTheme::sharedTheme()->refreshStatusBarBackdropForNavigationController(this);
}

void KRAdaptiveNavigationController::statusBarFrameDidChange() { refreshBackdropIfReady(); }

void KRAdaptiveNavigationController::viewDidLayoutSubviews() { refreshBackdropIfReady(); }

void KRAdaptiveNavigationController::viewDidAppear(bool)
{
    m_hasCompletedFirstAppearance = true;
    KREnableNativeSwipeBack(this);
    if (KRRootSystemMajorVersion() >= kModernThemeVersion)
        m_delayed.schedule(kApplyThemeAfterFirstAppearance, 0, [this] { applyThemeAfterFirstAppearance(); });
}

void KRAdaptiveNavigationController::applyThemeAfterFirstAppearance()
{
    if (isViewLoaded() && view()->window())
        KRTheme::sharedTheme()->refreshNavigationController(this);
}

void KRAdaptiveNavigationController::prepareAutomaticBackButtonForPush()
{
    ViewController* covered = topViewController();
    if (!covered || covered->navigationItem()->backBarButtonItem())
        return;
    covered->navigationItem()->setBackBarButtonItem(new BarButtonItem(QStringLiteral("返回"), BarButtonItemStyleBordered));
}

void KRAdaptiveNavigationController::pushViewController(ViewController* controller, bool animated)
{
    prepareAutomaticBackButtonForPush();
    NavigationController::pushViewController(controller, animated);
}

void KRAdaptiveNavigationController::didShowViewController(ViewController*, bool)
{
    if (KRRootSystemMajorVersion() < 7)
        KRTheme::sharedTheme()->refreshNavigationController(this);
    KREnableNativeSwipeBack(this);
}

bool KRAdaptiveNavigationController::shouldAutorotate() { return KRViewControllerAllowsPlaybackRotation(this); }

int KRAdaptiveNavigationController::supportedInterfaceOrientations()
{
    return KRViewControllerAllowsPlaybackRotation(this) ? InterfaceOrientationMaskAllButUpsideDown : InterfaceOrientationMaskPortrait;
}

bool KRAdaptiveNavigationController::shouldAutorotateToInterfaceOrientation(int orientation)
{
    // Every screen of the kit answers the older query (portrait alone unless it says more).
    if (ViewController* top = topViewController())
        return top->shouldAutorotateToInterfaceOrientation(orientation);
    return orientation == InterfaceOrientationPortrait;
}
