#include "video/KRVideoDetailTabs.h"

#include "look/KRTheme.h"
#include "platform/device/DeviceProfile.h"
#include "platform/uikit/Image.h"
#include "platform/uikit/ScrollView.h"
#include "platform/uikit/SegmentedControl.h"
#include "platform/uikit/View.h"
#include "video/KRVideoDetailSupport.h"

#include <QImage>
#include <QPainter>

#include <algorithm>
#include <array>
#include <cmath>

using namespace platform::uikit;

namespace {

// The row's other entries (the danmaku switch and "发弹幕") take this much beside the segment.
constexpr qreal kRowEntriesWidth = 42 + 78 + 4;
constexpr qreal kMinimumSegmentWidth = 120;
constexpr qreal kRowHeight = 32;

QColor grey(qreal white, qreal alpha = 1) { return QColor::fromRgbF(white, white, white, alpha); }

// Two one-point columns between the segments: a dark groove and its light edge.
Image segmentDividerImage(int style)
{
    static std::array<Image, 3> dividers;
    const int index = std::clamp(style, 0, 2);
    Image& divider = dividers[size_t(index)];
    if (!divider.isNull())
        return divider;
    QColor first, second;
    switch (index) {
    case 0: first = grey(0.43, 0.76); second = grey(1.0, 0.72); break;
    case 1: first = grey(0.0, 0.82); second = grey(1.0, 0.16); break;
    default: first = QColor::fromRgbF(0.90, 0.52, 0.66, 0.72); second = grey(1.0, 0.72); break;
    }
    const qreal scale = std::max<qreal>(1, platform::DeviceProfile::screenScale());
    QImage bitmap(QSize(int(2 * scale), int(32 * scale)), QImage::Format_ARGB32_Premultiplied);
    bitmap.setDevicePixelRatio(scale);
    bitmap.fill(Qt::transparent);
    QPainter painter(&bitmap);
    painter.fillRect(QRectF(0, 1, 1, 30), first);
    painter.fillRect(QRectF(1, 1, 1, 30), second);
    painter.end();
    divider = Image(bitmap);
    return divider;
}

} // namespace

KRVideoDetailTabs::KRVideoDetailTabs(Actions actions, QObject* parent) : QObject(parent), m_actions(std::move(actions)) {}

KRVideoDetailTabs::~KRVideoDetailTabs()
{
    if (m_pager)
        m_pager->setDelegate(nullptr);
}

View* KRVideoDetailTabs::tabBar() const { return m_tabBar; }
ScrollView* KRVideoDetailTabs::infoScrollView() const { return m_infoScrollView; }
View* KRVideoDetailTabs::commentsView() const { return m_commentsView; }
bool KRVideoDetailTabs::isBuilt() const { return m_pager != nullptr; }

View* KRVideoDetailTabs::makeTabBar(qreal width)
{
    m_tabBar = new View(QRectF(8, 183, width - 16, kRowHeight));
    m_tabBar->setObjectName(QStringLiteral("detailTabBar"));
    return m_tabBar;
}

void KRVideoDetailTabs::build(View* root, qreal width, qreal height)
{
    if (!m_tabBar)
        makeTabBar(width);
    root->addSubview(m_tabBar);
    m_tabBar->setAutoresizingMask(AutoresizingFlexibleWidth);
    m_tabBar->setBackgroundColor(QBrush(Qt::NoBrush));
    m_selectedPage = 0;
    m_segment = new SegmentedControl({QStringLiteral("简介"), QStringLiteral("评论")}, m_tabBar);
    m_segment->setObjectName(QStringLiteral("detailSegment"));
    m_segment->setSelectedSegmentIndex(0);
    m_segment->addTarget(ControlEventValueChanged, [this] { setSelectedPage(m_segment->selectedSegmentIndex() == 1 ? 1 : 0, true); });
    m_tabBar->sendSubviewToBack(m_segment);

    m_pager = new ScrollView(QRectF(0, 259, width, std::max<qreal>(0, height - 259)), root);
    m_pager->setObjectName(QStringLiteral("pager"));
    m_pager->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    m_pager->setPagingEnabled(true);
    m_pager->setShowsVerticalScrollIndicator(false);
    m_pager->setBounces(false);
    m_pager->setDelegate(this);
    m_infoScrollView = new ScrollView(m_pager->bounds(), m_pager);
    m_infoScrollView->setObjectName(QStringLiteral("infoScrollView"));
    m_infoScrollView->setAutoresizingMask(AutoresizingFlexibleHeight);
    m_infoScrollView->setAlwaysBounceVertical(true);
    const QRectF bounds = m_pager->bounds();
    m_commentsView = new View(QRectF(bounds.width(), 0, bounds.width(), bounds.height()), m_pager);
    m_commentsView->setObjectName(QStringLiteral("commentsView"));
    m_commentsView->setAutoresizingMask(AutoresizingFlexibleHeight);
}

void KRVideoDetailTabs::layout(qreal width, qreal height, qreal playerHeight)
{
    if (!isBuilt())
        return;
    m_tabBar->setFrame(QRectF(8, playerHeight + 3, width - 16, kRowHeight));
    const qreal segmentWidth = std::max<qreal>(m_tabBar->bounds().width() - kRowEntriesWidth, kMinimumSegmentWidth);
    m_segment->setFrame(QRectF(0, 0, segmentWidth, kRowHeight));
    const qreal pagerHeight = std::max<qreal>(height - (playerHeight + 37), 0);
    m_pager->setFrame(QRectF(0, playerHeight + 37, width, pagerHeight));
    m_pager->setContentSize(QSizeF(2 * width, pagerHeight));
    m_infoScrollView->setFrame(QRectF(0, 0, width, pagerHeight));
    m_commentsView->setFrame(QRectF(width, 0, width, pagerHeight));
    m_pager->setContentOffset(QPointF(width * m_selectedPage, 0));
}

qreal KRVideoDetailTabs::segmentWidth() const { return m_segment ? m_segment->frame().width() : 0; }

void KRVideoDetailTabs::applyTheme()
{
    if (!isBuilt())
        return;
    KRTheme* theme = KRTheme::sharedTheme();
    const QBrush background = theme->backgroundColor();
    for (View* view : {static_cast<View*>(m_pager), static_cast<View*>(m_infoScrollView), m_commentsView.data()})
        view->setBackgroundColor(background);
    m_tabBar->setBackgroundColor(QBrush(Qt::NoBrush));

    SegmentedControl* segment = m_segment;
    segment->setTintColor(theme->navigationColor());
    segment->setBackgroundImage(KRSkeuomorphicActionImage(theme, false), ControlStateNormal);
    segment->setBackgroundImage(KRSkeuomorphicActionImage(theme, true), ControlStateSelected);
    segment->setBackgroundImage(KRSkeuomorphicActionImage(theme, true), ControlStateHighlighted);
    const Image divider = segmentDividerImage(theme->style());
    segment->setDividerImage(divider, ControlStateNormal, ControlStateNormal);
    segment->setDividerImage(divider, ControlStateSelected, ControlStateNormal);
    segment->setDividerImage(divider, ControlStateNormal, ControlStateSelected);
    KRApplySegmentTitleColors(segment, theme);
}

void KRVideoDetailTabs::setSelectedPage(int page, bool animated)
{
    m_selectedPage = page == 1 ? 1 : 0;
    if (!isBuilt())
        return;
    m_segment->setSelectedSegmentIndex(m_selectedPage);
    showPage(m_selectedPage);
    m_pager->setContentOffset(QPointF(m_pager->bounds().width() * m_selectedPage, 0), animated);
}

void KRVideoDetailTabs::scrollViewDidEndDecelerating(ScrollView* scrollView)
{
    if (scrollView != m_pager)
        return;
    const qreal width = std::max<qreal>(1, scrollView->bounds().width());
    const int page = int(std::floor((scrollView->contentOffset().x() + width / 2) / width)) >= 1 ? 1 : 0;
    if (page == m_selectedPage)
        return;
    m_selectedPage = page;
    showPage(page);
}

void KRVideoDetailTabs::scrollViewDidEndDragging(ScrollView* scrollView, bool willDecelerate)
{
    if (scrollView == m_pager && !willDecelerate)
        scrollViewDidEndDecelerating(scrollView);
}

void KRVideoDetailTabs::showPage(int page)
{
    m_segment->setSelectedSegmentIndex(page);
    KRApplySegmentTitleColors(m_segment, KRTheme::sharedTheme());
    if (m_actions.pageShown)
        m_actions.pageShown(page);
}
