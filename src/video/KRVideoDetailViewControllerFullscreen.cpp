// The page's full screen as the rest of the page sees it: the rotation hooks, the entry and
// exit operations and the navigation bar's repair, each handed to the full-screen part
// (KRVideoFullscreen) with what it needs to know of the page.

#include "video/KRVideoDetailViewController.h"

#include "model/KRVideo.h"
#include "platform/device/DeviceProfile.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Geometry.h"
#include "platform/uikit/NavigationBar.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/TabBarController.h"
#include "platform/uikit/View.h"
#include "platform/uikit/Window.h"
#include "playback/KRPlaybackLifecycle.h"
#include "playback/KRPlaybackSession.h"
#include "playback/KRPlaybackTransport.h"
#include "shared/KRPlayerFullscreen.h"

#include <QDebug>

#include <cmath>

using namespace platform::uikit;

namespace {

constexpr int kNavigationRepairLastVersion = 6;

bool off(qreal a, qreal b, qreal tolerance) { return std::abs(a - b) > tolerance; }

} // namespace

std::unique_ptr<KRVideoFullscreen> KRVideoDetailViewController::makeFullscreen()
{
    KRVideoFullscreen::Page page;
    page.playing = [this] { return m_area->transport() && m_part.hasStartedPlayback(); };
    page.portraitVideo = [this] { return shouldUsePortraitFullscreenForCurrentVideo(); };
    page.idle = [this] { return isPlaybackEndedAwaitingReplay() || isPlaybackFailedAwaitingRetry(); };
    page.foreground = [this] {
        const KRPlaybackLifecycle* life = m_session ? m_session->lifecycle() : nullptr;
        return Application::shared().applicationState() == ApplicationStateActive
            && !(life && (life->isInBackground() || life->isInterrupted() || life->isInTransition()));
    };
    page.expectedToPlay = [this] { return isPlaybackExpectedToPlay() || (m_session && m_session->isSwitchingQuality()); };
    page.orientationKnown = [this] { return hasKnownMediaOrientation(); };
    page.videoPortrait = [this] { return currentVideoIsPortrait(); };
    page.identity = [this] { return m_part.video() ? m_part.video()->feedIdentity() : QString(); };
    page.mediaSize = [this] { return m_area->transport() ? m_area->transport()->naturalSize() : QSizeF(); };
    page.rate = [this] { return playbackRate(); };
    page.holdActive = [this] { return m_session && m_session->isHolding(); };
    page.layoutPage = [this] {
        if (isViewLoaded())
            KRPlayerFullscreen::layoutScreenNow(view());
    };
    page.repairNavigation = [this] { repairNavigationChromeIfMalformed(); };
    page.commitPortraitRootGeometry = [this] { m_fullscreen->player()->commitPortraitRootGeometryAfterCustomExit(tabBarController()); };
    page.navigateToProfile = [this] { navigateToProfile(); };
    page.showStatus = [this](const QString& text) { showDanmakuStatus(text); };
    page.toggleDanmaku = [this] { danmakuButtonTapped(); };
    page.watchLater = [this] { fullscreenWatchLaterTapped(); };
    page.cache = [this] { fullscreenCacheTapped(); };
    page.sendDanmaku = [this] { sendDanmakuTapped(); };
    page.layoutPickers = [this] {
        if (m_offline) {
            layoutOfflinePagePicker();
            layoutOfflineQualityPicker();
        }
    };
    return std::make_unique<KRVideoFullscreen>(m_area.get(), this, this, std::move(page));
}

// ---- the shell's rotation hooks ----

bool KRVideoDetailViewController::kr_allowsPlaybackRotation() { return m_fullscreen->player()->kr_allowsPlaybackRotation(); }

void KRVideoDetailViewController::kr_enterFullscreenForLandscapeIfNeeded() { m_fullscreen->player()->kr_enterFullscreenForLandscapeIfNeeded(); }

void KRVideoDetailViewController::kr_restoreFullscreenAfterLandscapeIfNeeded()
{
    m_fullscreen->player()->kr_restoreFullscreenAfterLandscapeIfNeeded();
}

void KRVideoDetailViewController::kr_raisePlaybackSurfaceAfterRotationPreparation() { m_fullscreen->player()->kr_raisePlaybackSurfaceAfterRotationPreparation(); }

void KRVideoDetailViewController::kr_layoutPlaybackDuringRotation() { m_fullscreen->player()->kr_layoutPlaybackDuringRotation(); }

void KRVideoDetailViewController::kr_completePlaybackRotationLayout() { m_fullscreen->player()->kr_completePlaybackRotationLayout(); }

void KRVideoDetailViewController::kr_preparePlaybackTransitionToSizeValue(QSizeF size)
{
    m_fullscreen->player()->kr_preparePlaybackTransitionToSizeValue(size);
}

// ---- entering and leaving ----

void KRVideoDetailViewController::requestLandscapeForCustomFullscreen() { m_fullscreen->requestLandscapeForCustomFullscreen(); }

void KRVideoDetailViewController::enterDetailFullscreenIfPending() { m_fullscreen->enterDetailFullscreenIfPending(); }

void KRVideoDetailViewController::exitCustomPlayerFullscreenAnimated(bool animated) { m_fullscreen->player()->exitCustomPlayerFullscreenAnimated(animated); }

void KRVideoDetailViewController::fullscreenDoneTapped() { m_fullscreen->fullscreenDoneTapped(); }

void KRVideoDetailViewController::fullscreenAddDanmakuTapped() { m_fullscreen->fullscreenAddDanmakuTapped(); }

void KRVideoDetailViewController::showFullscreenDanmakuSettingMode(int mode) { m_fullscreen->showFullscreenDanmakuSettingMode(mode); }

// ---- the navigation bar after a full screen ----

void KRVideoDetailViewController::repairNavigationChromeIfMalformed()
{
    NavigationController* navigation = navigationController();
    if (platform::DeviceProfile::systemMajorVersion() > kNavigationRepairLastVersion) {
        // The bar lays itself out for the orientation: asking is enough.
        if (navigation)
            navigation->navigationBar()->setNeedsLayout();
        if (isViewLoaded())
            view()->setNeedsLayout();
        return;
    }
    if (m_fullscreen->isShown() || !navigation || navigation->topViewController() != this || navigation->isNavigationBarHidden())
        return;
    auto& app = Application::shared();
    NavigationBar* bar = navigation->navigationBar();
    const int orientation = app.statusBarOrientation();
    // The bar sits under the status bar, which the repair shows: its height is the frame's
    // smaller side, whichever way the frame is turned (20 while it has none).
    const QRectF statusFrame = app.statusBarFrame();
    qreal status = std::min(statusFrame.width(), statusFrame.height());
    if (status < 1)
        status = 20;
    const qreal width = navigation->view()->bounds().width();
    const qreal height = InterfaceOrientationIsLandscape(orientation) ? 32 : 44;
    const QRectF before = bar->frame();
    // The kit draws no transforms: only the bar's rectangle can be displaced here.
    const bool sizeOff = off(before.width(), width, 1.5) || off(before.height(), height, 1.5);
    const bool malformed = sizeOff || off(before.x(), 0, 1.5) || off(before.y(), status, 1.5) || off(bar->bounds().x(), 0, 0.5)
        || off(bar->bounds().y(), 0, 0.5);
    if (!malformed) {
        bar->setNeedsLayout();
        return;
    }
    app.setStatusBarHidden(false, false);
    if (sizeOff) {
        // A bar of the wrong size is laid out afresh by hiding and showing it.
        navigation->setNavigationBarHidden(true, false);
        navigation->setNavigationBarHidden(false, false);
    }
    bar->setFrame(QRectF(0, status, width, height));
    navigation->view()->setNeedsLayout();
    navigation->view()->layoutIfNeeded();
    bar->setFrame(QRectF(0, status, width, height));
    bar->layoutIfNeeded();
    applyTheme();
    view()->setNeedsLayout();
    view()->layoutIfNeeded();
    qInfo().noquote() << QStringLiteral("[KorvaneFullscreenNavigationRepair] force=NO orientation=%1 before=%2 after=%3 content=%4")
                             .arg(orientation)
                             .arg(StringFromRect(before), StringFromRect(bar->frame()), StringFromRect(view()->frame()));
}
