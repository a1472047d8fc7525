// The page's view tree: its parts built into the root view, the tab segment and the pager,
// and the layout for the device's player height.

#include "video/KRVideoDetailViewController.h"

#include "look/KRTheme.h"
#include "platform/device/DeviceProfile.h"
#include "platform/uikit/ScrollView.h"
#include "platform/uikit/SegmentedControl.h"
#include "platform/uikit/View.h"
#include "playback/KRDASHPlayback.h"
#include "video/KRVideoDetailSupport.h"

#include <algorithm>
#include <cmath>

using namespace platform::uikit;

void KRVideoDetailViewController::buildViewTree()
{
    const qreal width = view()->bounds().width();
    const qreal height = view()->bounds().height();
    m_tabs.detailTabBar = new View(QRectF(8, 183, width - 16, 32));
    m_tabs.detailTabBar->setObjectName(QStringLiteral("detailTabBar"));
    m_area->build(view(), m_tabs.detailTabBar, width);
    buildTabRowAndPager(width, height);
    m_comments->build(m_pager.commentsView, view(), width);
    m_info->build(m_pager.infoScrollView, width);
}

void KRVideoDetailViewController::buildTabRowAndPager(qreal width, qreal height)
{
    TabRow& t = m_tabs;
    view()->addSubview(t.detailTabBar);
    t.detailTabBar->setAutoresizingMask(AutoresizingFlexibleWidth);
    t.detailTabBar->setBackgroundColor(QBrush(Qt::NoBrush));
    t.selectedDetailPage = 0;
    t.detailSegment = new SegmentedControl({QStringLiteral("简介"), QStringLiteral("评论")}, t.detailTabBar);
    t.detailSegment->setObjectName(QStringLiteral("detailSegment"));
    t.detailSegment->setSelectedSegmentIndex(0);
    t.detailSegment->addTarget(ControlEventValueChanged, [this] { detailSegmentChanged(); });
    t.detailTabBar->sendSubviewToBack(t.detailSegment);

    Pager& p = m_pager;
    p.pager = new ScrollView(QRectF(0, 259, width, std::max<qreal>(0, height - 259)), view());
    p.pager->setObjectName(QStringLiteral("pager"));
    p.pager->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    p.pager->setPagingEnabled(true);
    p.pager->setShowsVerticalScrollIndicator(false);
    p.pager->setBounces(false);
    p.pager->setDelegate(this);
    p.infoScrollView = new ScrollView(p.pager->bounds(), p.pager);
    p.infoScrollView->setObjectName(QStringLiteral("infoScrollView"));
    p.infoScrollView->setAutoresizingMask(AutoresizingFlexibleHeight);
    p.infoScrollView->setAlwaysBounceVertical(true);
    p.commentsView = new View(QRectF(p.pager->bounds().width(), 0, p.pager->bounds().width(), p.pager->bounds().height()), p.pager);
    p.commentsView->setObjectName(QStringLiteral("commentsView"));
    p.commentsView->setAutoresizingMask(AutoresizingFlexibleHeight);
}

void KRVideoDetailViewController::viewDidLayoutSubviews()
{
    ViewController::viewDidLayoutSubviews();
    if (!m_tabs.detailTabBar)
        return;
    const QRectF bounds = view()->bounds();
    const qreal w = bounds.width(), h = bounds.height();
    const qreal playerHeight = platform::DeviceProfile::isPad() ? std::min(std::floor(w * 9 / 16), std::floor(h * 0.58))
                                                                : std::min<qreal>(std::floor(w * 9 / 16), 232);
    m_tabs.detailTabBar->setFrame(QRectF(8, playerHeight + 3, w - 16, 32));
    const qreal tabWidth = m_tabs.detailTabBar->bounds().width();
    const qreal segmentWidth = std::max<qreal>(tabWidth - 42 - 78 - 4, 120);
    m_tabs.detailSegment->setFrame(QRectF(0, 0, segmentWidth, 32));
    m_area->layout(w, playerHeight, segmentWidth);
    if (m_engine.moviePlayer) {
        m_area->layoutBoundTransport(shouldUsePortraitFullscreenForCurrentVideo());
        layoutApplicationVideoSurface();
    }

    const qreal pagerHeight = std::max<qreal>(h - (playerHeight + 37), 0);
    m_pager.pager->setFrame(QRectF(0, playerHeight + 37, w, pagerHeight));
    m_pager.pager->setContentSize(QSizeF(2 * w, pagerHeight));
    m_pager.infoScrollView->setFrame(QRectF(0, 0, w, pagerHeight));
    m_pager.commentsView->setFrame(QRectF(w, 0, w, pagerHeight));
    m_comments->layout(w, pagerHeight, h);
    m_pager.pager->setContentOffset(QPointF(w * m_tabs.selectedDetailPage, 0));
    updateInfoLayout();
}

void KRVideoDetailViewController::layoutApplicationVideoSurface()
{
    if (m_engine.dash)
        m_engine.dash->layoutSurface();
}

void KRVideoDetailViewController::updateDetailTabs() { m_area->updateDetailTabs(); }
