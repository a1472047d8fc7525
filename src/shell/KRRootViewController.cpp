#include "shell/KRRootViewController.h"

#include "shell/KRAdaptiveNavigationController.h"
#include "look/KRShellHelpers.h"
#include "look/KRTheme.h"
#include "browse/KRSearchViewController.h"
#include "browse/KRSectionsViewController.h"
#include "browse/KRVideoListViewController.h"
#include "library/KRProfileViewController.h"
#include "model/KRConsole.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Geometry.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/NavigationBar.h"
#include "platform/uikit/NavigationItem.h"
#include "platform/uikit/Screen.h"
#include "platform/uikit/TabBar.h"
#include "platform/uikit/TabBarItem.h"
#include "platform/uikit/TransitionCoordinator.h"
#include "platform/uikit/View.h"
#include "platform/uikit/Window.h"
#include "store/KRPreferences.h"

#include <algorithm>
#include <cmath>

using namespace platform::uikit;

namespace {

// From this major version the first theme application waits for the first appearance.
constexpr int kModernThemeVersion = 15;
// Below this one the platform could leave the root rotated after a full screen.
constexpr int kLegacyRootRepairVersion = 7;

const QString kApplyToSelected = QStringLiteral("kr_applyThemeToSelectedNavigationController");
const QString kInitialModernTheme = QStringLiteral("kr_applyInitialModernThemeAfterAppearance");
const QString kModernRepair = QStringLiteral("kr_reconcileModernPortraitNavigationAfterRotation");

// The home logo in the first tab's bar.
const QSizeF kHomeLogoSize(70, 32);
// How far the root may sit from the portrait rectangle before it counts as displaced.
constexpr qreal kGeometryTolerance = 1.5;

struct TabSpec {
    const char16_t* title;
    const char* image;
    const char* selectedImage;
};
const TabSpec kTabs[] = {
    {u"首页", "Tarnwick23/tab_homepage", "Tarnwick23/tab_homepage_selected"},
    {u"发现", "Tarnwick23/tab_bangumi", "Tarnwick23/tab_bangumi_selected"},
    {u"探索", "Tarnwick23/tab_misc", "Tarnwick23/tab_misc_selected"},
    {u"我的", "Tarnwick23/tab_favourite", "Tarnwick23/tab_favourite_selected"},
};

bool differs(qreal a, qreal b) { return std::abs(a - b) > kGeometryTolerance; }

QString yesNo(bool value) { return KRConsole::boolean(value); }

} // namespace

TabBarItem* KRTarnwick23TabItem(const QString& title, const QString& imageName, const QString& selectedImageName, int tag)
{
    const Image image = Image::named(imageName);
    auto* item = new TabBarItem(title, image, tag);
    const Image selected = Image::named(selectedImageName);
    if (!image.isNull() && !selected.isNull())
        item->setFinishedImages(selected, image);
    return item;
}

TabBarItem* KRRootTabItem(int index)
{
    const TabSpec& tab = kTabs[std::clamp(index, 0, int(std::size(kTabs)) - 1)];
    return KRTarnwick23TabItem(QString::fromUtf16(tab.title), QString::fromLatin1(tab.image), QString::fromLatin1(tab.selectedImage), index);
}

KRRootViewController::KRRootViewController(QObject* parent)
    : TabBarController(parent)
{
}

KRRootViewController::~KRRootViewController() = default;

void KRRootViewController::viewDidLoad()
{
    auto& center = platform::NotificationCenter::defaultCenter();
    m_themeObserver = center.addObserver(KRThemeDidChangeNotification, nullptr, [this](const platform::Notification&) {
        updateHomeLogo();
        KRTheme::sharedTheme()->applyToTabBarController(this);
    });
    m_preferencesObserver = center.addObserver(KRPreferencesDidChangeNotification, nullptr, [this](const platform::Notification&) {
        KRTheme::sharedTheme()->applyToTabBarController(this);
    });

    const int version = KRRootSystemMajorVersion();
    ViewController* roots[] = {new KRVideoListViewController(0, 0, QStringLiteral("首页")), new KRSectionsViewController,
                               new KRSearchViewController, new KRProfileViewController};
    QList<ViewController*> stacks;
    for (int i = 0; i < 4; ++i) {
        auto* navigation = new KRAdaptiveNavigationController(roots[i]);
        if (version < kModernThemeVersion)
            KREnableNativeSwipeBack(navigation);
        navigation->setTabBarItem(KRRootTabItem(i));
        stacks.append(navigation);
    }
    setViewControllers(stacks);
    updateHomeLogo();

    if (version < kModernThemeVersion)
        KRTheme::sharedTheme()->applyToTabBarController(this);
    else
        KRConsole::log(QStringLiteral("[KorvaneStartupLayout] defer initial theme until first appearance"));
}

void KRRootViewController::viewDidAppear(bool)
{
    if (KRRootSystemMajorVersion() < kModernThemeVersion || m_initialModernThemeApplied)
        return;
    m_initialModernThemeApplied = true;
    // The appearance comes before the window's first paint, the call after 0 s after it: what
    // the first paint shows is themed already, and no second paint of the bars follows.
    if (view()->window()) {
        KRTheme::sharedTheme()->applyToTabBarController(this);
        m_appearanceThemeCurrent = true;
    }
    m_delayed.schedule(kInitialModernTheme, 0, [this] { applyInitialModernThemeAfterAppearance(); });
}

void KRRootViewController::applyInitialModernThemeAfterAppearance()
{
    if (!isViewLoaded() || !view()->window()) {
        // The next appearance tries again.
        m_initialModernThemeApplied = false;
        m_appearanceThemeCurrent = false;
        return;
    }
    if (!m_appearanceThemeCurrent)
        KRTheme::sharedTheme()->applyToTabBarController(this);
    m_appearanceThemeCurrent = false;
    KRConsole::log(QStringLiteral("[KorvaneStartupLayout] committed initial theme after first appearance"));
}

void KRRootViewController::didSelectViewController(ViewController*)
{
    m_delayed.schedule(kApplyToSelected, 0, [this] { applyThemeToSelectedNavigationController(); });
}

void KRRootViewController::applyThemeToSelectedNavigationController()
{
    auto* navigation = qobject_cast<NavigationController*>(selectedViewController());
    if (navigation && navigation->isViewLoaded() && navigation->view()->window())
        KRTheme::sharedTheme()->refreshNavigationController(navigation);
}

void KRRootViewController::updateHomeLogo()
{
    const QList<ViewController*> tabs = viewControllers();
    auto* home = tabs.isEmpty() ? nullptr : qobject_cast<NavigationController*>(tabs.first());
    if (!home || home->viewControllers().isEmpty())
        return;
    const Image logo = Image::named(KRTheme::sharedTheme()->style() == 0 ? QStringLiteral("Tarnwick23/zant_logo")
                                                                        : QStringLiteral("Tarnwick23/zant_logo_white"));
    if (logo.isNull())
        return;
    auto* logoView = new ImageView(QRectF(QPointF(), kHomeLogoSize));
    logoView->setBackgroundColor(QBrush(Qt::NoBrush));
    logoView->setContentMode(ContentModeScaleAspectFit);
    logoView->setImage(logo);
    home->viewControllers().first()->navigationItem()->setTitleView(logoView);
}

// ---- Rotation ----

bool KRRootViewController::shouldAutorotate() { return KRViewControllerAllowsPlaybackRotation(this); }

int KRRootViewController::supportedInterfaceOrientations()
{
    return KRViewControllerAllowsPlaybackRotation(this) ? InterfaceOrientationMaskAllButUpsideDown : InterfaceOrientationMaskPortrait;
}

bool KRRootViewController::shouldAutorotateToInterfaceOrientation(int orientation)
{
    if (orientation == InterfaceOrientationPortrait)
        return true;
    if (orientation == InterfaceOrientationPortraitUpsideDown)
        return false;
    return KRViewControllerAllowsPlaybackRotation(this);
}

void KRRootViewController::willRotateToInterfaceOrientation(int orientation, double duration)
{
    if (m_inSizeTransition) {
        TabBarController::willRotateToInterfaceOrientation(orientation, duration);
        return;
    }
    ViewController* leaf = KRVisibleLeafController(this);
    KRInvokeHook(leaf, InterfaceOrientationIsLandscape(orientation) ? KRPlaybackRotationHook::enterFullscreenForLandscape
                                                                    : KRPlaybackRotationHook::restoreFullscreenAfterLandscape);
    TabBarController::willRotateToInterfaceOrientation(orientation, duration);
    KRInvokeHook(leaf, KRPlaybackRotationHook::raiseSurfaceAfterPreparation);
}

void KRRootViewController::willAnimateRotationToInterfaceOrientation(int orientation, double duration)
{
    if (m_inSizeTransition) {
        TabBarController::willAnimateRotationToInterfaceOrientation(orientation, duration);
        return;
    }
    if (KRViewControllerAllowsPlaybackRotation(this))
        Application::shared().setStatusBarHidden(InterfaceOrientationIsLandscape(orientation), false);
    TabBarController::willAnimateRotationToInterfaceOrientation(orientation, duration);
    KRInvokeHook(KRVisibleLeafController(this), KRPlaybackRotationHook::layoutDuringRotation);
}

void KRRootViewController::didRotateFromInterfaceOrientation(int fromOrientation)
{
    TabBarController::didRotateFromInterfaceOrientation(fromOrientation);
    if (m_inSizeTransition)
        return;
    KRInvokeHook(KRVisibleLeafController(this), KRPlaybackRotationHook::completeRotationLayout);
}

void KRRootViewController::viewWillTransitionToSize(const QSizeF& size, TransitionCoordinator* coordinator)
{
    // The leaf as it is before anything moves; every step of this transition speaks to it.
    QPointer<ViewController> leaf = KRVisibleLeafController(this);
    KRInvokeSizeHook(leaf, KRPlaybackRotationHook::prepareTransitionToSize, size);
    m_inSizeTransition = coordinator != nullptr;
    TabBarController::viewWillTransitionToSize(size, coordinator);
    KRInvokeHook(leaf, KRPlaybackRotationHook::raiseSurfaceAfterPreparation);
    if (!coordinator)
        return;
    QPointer<KRRootViewController> self(this);
    coordinator->animateAlongsideTransition(
        [self, leaf, size] {
            if (self && KRViewControllerAllowsPlaybackRotation(self))
                Application::shared().setStatusBarHidden(size.width() > size.height(), false);
            KRInvokeHook(leaf, KRPlaybackRotationHook::layoutDuringRotation);
        },
        [self, leaf, size] {
            // The base's completion (the older did-rotate) has run before this one.
            if (self)
                self->m_inSizeTransition = false;
            KRInvokeHook(leaf, KRPlaybackRotationHook::completeRotationLayout);
            if (self && size.height() >= size.width() && KRRootSystemMajorVersion() >= kModernThemeVersion)
                self->m_delayed.schedule(kModernRepair, 0, [self] {
                    if (self)
                        self->kr_reconcileModernPortraitNavigationAfterRotation();
                });
        });
}

// ---- Repairs ----

void KRRootViewController::kr_commitPortraitRootGeometry()
{
    auto& app = Application::shared();
    if (KRRootSystemMajorVersion() >= kLegacyRootRepairVersion || InterfaceOrientationIsLandscape(app.statusBarOrientation()))
        return;
    View* root = view();
    Window* window = root->window() ? root->window() : app.keyWindow();
    if (!window)
        return;
    const QRectF screen = Screen::bounds();
    const QRectF portrait(0, 0, std::min(screen.width(), screen.height()), std::max(screen.width(), screen.height()));
    const QRectF bounds = root->bounds();
    const QRectF frame = root->frame();
    // The kit draws no view rotated, so only the rectangle itself can be displaced here.
    const bool repairRoot = differs(bounds.width(), portrait.width()) || differs(bounds.height(), portrait.height())
        || differs(frame.x(), portrait.x()) || differs(frame.y(), portrait.y()) || differs(frame.width(), portrait.width())
        || differs(frame.height(), portrait.height());
    if (repairRoot) {
        root->setFrame(portrait);
        window->setNeedsLayout();
        window->layoutIfNeeded();
        root->setNeedsLayout();
        root->layoutIfNeeded();
    }
    if (auto* navigation = qobject_cast<NavigationController*>(selectedViewController()); navigation && navigation->isViewLoaded()) {
        View* navigationView = navigation->view();
        NavigationBar* bar = navigation->navigationBar();
        const QRectF nb = navigationView->bounds();
        const QRectF barFrame = bar->frame();
        const bool repairNavigation = repairRoot || nb.width() < 1 || nb.height() < 1
            || differs(barFrame.width(), nb.width()) || barFrame.height() < 40 || barFrame.height() > 48
            || barFrame.y() < -1.5 || barFrame.y() > 21.5;
        if (repairNavigation) {
            navigationView->setNeedsLayout();
            navigationView->layoutIfNeeded();
        }
    }
    if (repairRoot) {
        tabBar()->setNeedsLayout();
        tabBar()->layoutIfNeeded();
        KRConsole::log(QStringLiteral("[KorvanePortraitRootRepair] root=%1 selected=%2 frame=%3 bounds=%4")
                           .arg(yesNo(false), yesNo(false), StringFromRect(root->frame()), StringFromRect(root->bounds())));
    }
}

void KRRootViewController::kr_reconcileModernPortraitNavigationAfterRotation()
{
    auto& app = Application::shared();
    if (KRRootSystemMajorVersion() < kModernThemeVersion || app.isStatusBarHidden()
        || InterfaceOrientationIsLandscape(app.statusBarOrientation()) || !isViewLoaded()
        || view()->bounds().width() > view()->bounds().height())
        return;
    auto* navigation = qobject_cast<NavigationController*>(selectedViewController());
    if (!navigation || !navigation->isViewLoaded() || !navigation->view()->window())
        return;
    View* navigationView = navigation->view();
    NavigationBar* bar = navigation->navigationBar();
    navigationView->setNeedsLayout();
    bar->setNeedsLayout();
    if (ViewController* top = navigation->topViewController(); top && top->isViewLoaded())
        top->view()->setNeedsLayout();
    navigationView->layoutIfNeeded();
    bar->layoutIfNeeded();
    KRTheme* theme = KRTheme::sharedTheme();
    theme->refreshNavigationController(navigation);
    theme->refreshStatusBarBackdropForNavigationController(navigation);
    KRConsole::log(QStringLiteral("[KorvaneModernNavigationRotationRepair] root=%1 navigation=%2 bar=%3 safeTop=%4")
                       .arg(StringFromRect(view()->bounds()), StringFromRect(navigationView->bounds()), StringFromRect(bar->frame()),
                            QString::number(navigationView->safeAreaInsets().top, 'f', 1)));
}
