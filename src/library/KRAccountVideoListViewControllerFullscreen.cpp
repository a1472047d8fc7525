// The offline player's full screen: the same landscape full screen the video page draws
// (shared/KRPlayerFullscreen), over the player container moved into a surface of its own for
// as long as it shows, with the controls in their full-screen form. After it the list asks its
// tab bar controller to put the portrait root back.

#include "library/KRAccountVideoListViewController.h"

#include "platform/uikit/Application.h"
#include "platform/uikit/TabBarController.h"
#include "platform/uikit/View.h"
#include "playback/KRDASHPlayback.h"
#include "playback/KRDanmakuRenderer.h"
#include "playback/KRPlaybackSession.h"
#include "playback/KRPlaybackTransport.h"
#include "shared/KRPlayerFullscreen.h"


using namespace platform::uikit;

std::unique_ptr<KRPlayerFullscreen> KRAccountVideoListViewController::makeFullscreen()
{
    KRPlayerFullscreen::Screen screen;
    screen.playing = [this] { return m_playingVideo && transport() && m_playerContainer && !m_playerContainer->isHidden(); };
    // Offline copies have no portrait full screen: every one turns to landscape.
    screen.portraitVideo = [] { return false; };
    screen.idle = [this] {
        return m_session && (m_session->state() == KRPlaybackSession::State::Ended || m_session->state() == KRPlaybackSession::State::Interrupted);
    };
    screen.prepareForRotation = [this] {
        if (m_controls)
            m_controls->prepareAirPlayForRotation();
        if (m_danmaku && transport())
            m_danmaku->updateWithPlaybackTime(std::max(0.0, transport()->currentPlaybackTime()), false);
    };
    screen.layoutContent = [this](bool fullscreen) { layoutPlayerContent(fullscreen); };
    screen.presentChrome = [this] {
        layoutPlayerContent(true);
        if (m_controls)
            m_controls->setControlsVisible(true, false);
    };
    screen.returnChrome = [this] {
        layoutPlayerContent(false);
        if (m_danmaku && transport())
            m_danmaku->resetForPlaybackTime(std::max(0.0, transport()->currentPlaybackTime()));
    };
    screen.layoutScreen = [this] {
        if (isViewLoaded())
            KRPlayerFullscreen::layoutScreenNow(view());
    };
    screen.chromeViews = [this] { return QList<QWidget*>{m_controls, m_danmaku}; };
    screen.holdSurface = [this](bool held) { m_surfaceHeld = held; };
    screen.commitOrientation = [this](int orientation) {
        if (m_controls)
            m_controls->commitAirPlayInterfaceOrientation(orientation);
    };
    screen.exited = [this] {
        // Back into the list's own layout, then the root's portrait geometry.
        m_surface.uninstall();
        if (isViewLoaded())
            KRPlayerFullscreen::layoutScreenNow(view());
        m_fullscreen->commitPortraitRootGeometryAfterCustomExit(tabBarController());
    };
    screen.settledEmbedded = [] {};
    screen.mediaSize = [this] { return transport() ? transport()->naturalSize() : QSizeF(); };
    return std::make_unique<KRPlayerFullscreen>(&m_surface, std::move(screen));
}

void KRAccountVideoListViewController::layoutPlayerContent(bool fullscreen)
{
    // Held by the full screen's surface in the root's view, the container goes with that view
    // when the window is taken down under the full screen, before the list's own stop.
    if (!m_playerContainer)
        return;
    const QRectF bounds = m_playerContainer->bounds();
    if (KRPlaybackTransport* player = transport())
        if (auto* host = qobject_cast<View*>(player->view()))
            host->setFrame(bounds);
    if (KRDASHPlayback* pair = dashPlayback())
        pair->layoutSurface();
    if (m_danmaku)
        m_danmaku->setGeometry(bounds.toRect());
    if (m_controls) {
        m_controls->setFrame(bounds);
        m_controls->setFullscreen(fullscreen, false);
    }
}

bool KRAccountVideoListViewController::installSurfaceForFullscreen()
{
    if (!m_fullscreen->kr_allowsPlaybackRotation())
        return false;
    return m_surface.install(m_playerContainer);
}

void KRAccountVideoListViewController::leaveFullscreenForStop()
{
    if (m_fullscreen && (m_fullscreen->isFullscreen() || m_fullscreen->isTransitioning()))
        m_fullscreen->reset();
    m_surface.uninstall();
}

void KRAccountVideoListViewController::playerControlsDidRequestFullscreen(KRPlayerControlsView*)
{
    if (m_fullscreen->isFullscreen()) {
        m_fullscreen->fullscreenDoneTapped();
        return;
    }
    if (!installSurfaceForFullscreen())
        return;
    m_fullscreen->enterCustomPlayerFullscreenLandscape(true, false, false);
    m_fullscreen->requestCustomPlayerInterfaceOrientation(4);
}

bool KRAccountVideoListViewController::kr_allowsPlaybackRotation() { return m_fullscreen && m_fullscreen->kr_allowsPlaybackRotation(); }

void KRAccountVideoListViewController::kr_enterFullscreenForLandscapeIfNeeded()
{
    if (installSurfaceForFullscreen())
        m_fullscreen->kr_enterFullscreenForLandscapeIfNeeded();
}

void KRAccountVideoListViewController::kr_restoreFullscreenAfterLandscapeIfNeeded() { m_fullscreen->kr_restoreFullscreenAfterLandscapeIfNeeded(); }

void KRAccountVideoListViewController::kr_raisePlaybackSurfaceAfterRotationPreparation() { m_fullscreen->kr_raisePlaybackSurfaceAfterRotationPreparation(); }

void KRAccountVideoListViewController::kr_layoutPlaybackDuringRotation() { m_fullscreen->kr_layoutPlaybackDuringRotation(); }

void KRAccountVideoListViewController::kr_completePlaybackRotationLayout() { m_fullscreen->kr_completePlaybackRotationLayout(); }

void KRAccountVideoListViewController::kr_preparePlaybackTransitionToSizeValue(QSizeF size)
{
    if (size.width() > size.height())
        installSurfaceForFullscreen();
    m_fullscreen->kr_preparePlaybackTransitionToSizeValue(size);
}
