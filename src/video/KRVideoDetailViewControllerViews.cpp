// The page's view tree: its parts built into the root view, and the layout for the device's
// player height.

#include "video/KRVideoDetailViewController.h"

#include "platform/device/DeviceProfile.h"
#include "platform/uikit/View.h"
#include "playback/KRDASHPlayback.h"
#include "playback/KRPlaybackTransport.h"

#include <algorithm>
#include <cmath>

using namespace platform::uikit;

void KRVideoDetailViewController::buildViewTree()
{
    const qreal width = view()->bounds().width();
    const qreal height = view()->bounds().height();
    m_area->build(view(), m_tabs->makeTabBar(width), width);
    m_tabs->build(view(), width, height);
    m_comments->build(m_tabs->commentsView(), view(), width);
    m_info->build(m_tabs->infoScrollView());
}

void KRVideoDetailViewController::viewDidLayoutSubviews()
{
    ViewController::viewDidLayoutSubviews();
    if (!m_tabs->isBuilt())
        return;
    const QRectF bounds = view()->bounds();
    const qreal w = bounds.width(), h = bounds.height();
    const qreal playerHeight = platform::DeviceProfile::isPad() ? std::min(std::floor(w * 9 / 16), std::floor(h * 0.58))
                                                                : std::min<qreal>(std::floor(w * 9 / 16), 232);
    m_tabs->layout(w, h, playerHeight);
    m_area->layout(w, playerHeight, m_tabs->segmentWidth());
    // A full screen shown or turning lays the player out itself.
    if (m_area->transport() && !m_area->isSurfaceHeldByFullscreen()) {
        m_area->layoutBoundTransport(shouldUsePortraitFullscreenForCurrentVideo());
        layoutApplicationVideoSurface();
    }
    m_comments->layout(w, std::max<qreal>(h - (playerHeight + 37), 0), h);
    updateInfoLayout();
    layoutOfflineQualityPicker();
    layoutOfflinePagePicker();
}

void KRVideoDetailViewController::layoutApplicationVideoSurface()
{
    if (KRDASHPlayback* dash = m_area->dash())
        dash->layoutSurface();
}

void KRVideoDetailViewController::updateDetailTabs()
{
    m_area->updateDetailTabs();
    m_fullscreen->applyLegacyFullscreenImages();
}
