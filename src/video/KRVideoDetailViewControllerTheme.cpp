// The page's own colours from the shared theme (root, pager, tab segment); each part themes itself.

#include "video/KRVideoDetailViewController.h"

#include "look/KRTheme.h"
#include "platform/device/DeviceProfile.h"
#include "platform/uikit/Image.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/NavigationItem.h"
#include "platform/uikit/ScrollView.h"
#include "platform/uikit/SegmentedControl.h"
#include "platform/uikit/View.h"
#include "video/KRVideoDetailSupport.h"

#include <QImage>
#include <QPainter>

#include <array>

using namespace platform::uikit;

namespace {

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

void KRVideoDetailViewController::applyTheme()
{
    KRTheme* theme = KRTheme::sharedTheme();
    navigationItem()->setTitleView(theme->navigationTitleLabelWithText(QStringLiteral("视频")));
    if (!isViewLoaded() || !m_tabs.detailTabBar)
        return;
    const QBrush background = theme->backgroundColor();
    for (View* view : {view(), static_cast<View*>(m_pager.pager), static_cast<View*>(m_pager.infoScrollView), m_pager.commentsView})
        view->setBackgroundColor(background);
    m_tabs.detailTabBar->setBackgroundColor(QBrush(Qt::NoBrush));

    SegmentedControl* segment = m_tabs.detailSegment;
    segment->setTintColor(theme->navigationColor());
    segment->setBackgroundImage(KRSkeuomorphicActionImage(theme, false), ControlStateNormal);
    segment->setBackgroundImage(KRSkeuomorphicActionImage(theme, true), ControlStateSelected);
    segment->setBackgroundImage(KRSkeuomorphicActionImage(theme, true), ControlStateHighlighted);
    const Image divider = segmentDividerImage(theme->style());
    segment->setDividerImage(divider, ControlStateNormal, ControlStateNormal);
    segment->setDividerImage(divider, ControlStateSelected, ControlStateNormal);
    segment->setDividerImage(divider, ControlStateNormal, ControlStateSelected);
    KRApplySegmentTitleColors(segment, theme);

    m_area->applyTheme();
    m_comments->applyTheme();
    m_info->applyTheme();
}

void KRVideoDetailViewController::applyOfficialInteractionImages() { m_info->applyOfficialInteractionImages(); }
