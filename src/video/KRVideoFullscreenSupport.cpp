#include "video/KRVideoFullscreenSupport.h"

#include "platform/uikit/View.h"
#include "platform/uikit/ViewController.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr qreal kRailWidth = 54;
constexpr qreal kLandscapeRightMargin = 10;
constexpr qreal kCompactShortSide = 320.5;
constexpr qreal kCompactRow = 38;
constexpr qreal kLandscapeRow = 42;
constexpr qreal kPortraitRow = 49;
// Above centre, so the rail clears the controls' bottom bar.
constexpr qreal kCompactLift = 12;
constexpr qreal kLandscapeLift = 9;
constexpr qreal kEdgeGap = 2;
constexpr qreal kIconSide = 28;
constexpr qreal kIconX = 13;

bool inRail(int index) { return index >= 0 && index < KRFullscreenRailButtonCount; }
} // namespace

void KRRequestModernPlaybackRotation() { platform::uikit::ViewController::attemptRotationToDeviceOrientation(); }

KRFullscreenRailGeometry KRFullscreenRailGeometryForHost(const QSizeF& hostSize, const platform::uikit::EdgeInsets& insets)
{
    KRFullscreenRailGeometry g;
    const qreal w = hostSize.width(), h = hostSize.height();
    if (!std::isfinite(w) || !std::isfinite(h) || !std::isfinite(insets.top) || !std::isfinite(insets.bottom) ||
        !std::isfinite(insets.right))
        return g;
    const qreal top = insets.top;
    const qreal bottom = std::max(top, h - insets.bottom);
    g.landscape = w > h;
    g.compact = g.landscape && std::min(w, h) <= kCompactShortSide;
    g.rowHeight = g.compact ? kCompactRow : g.landscape ? kLandscapeRow : kPortraitRow;
    const qreal railHeight = g.rowHeight * KRFullscreenRailButtonCount;
    qreal y = std::floor(top + (bottom - top - railHeight) / 2) - (g.compact ? kCompactLift : g.landscape ? kLandscapeLift : 0);
    y = std::min(std::max(y, top + kEdgeGap), std::max(top + kEdgeGap, bottom - railHeight - kEdgeGap));
    const qreal x = w - kRailWidth - (g.landscape ? insets.right + kLandscapeRightMargin : 0);
    g.rail = QRectF(x, y, kRailWidth, railHeight);
    return g;
}

QRectF KRFullscreenRailButtonFrame(const KRFullscreenRailGeometry& geometry, int index)
{
    if (!inRail(index))
        return {};
    return QRectF(0, geometry.rowHeight * index, kRailWidth, geometry.rowHeight);
}

QRectF KRFullscreenRailIconFrame(const KRFullscreenRailGeometry& geometry, int index)
{
    if (!inRail(index))
        return {};
    QRectF icon(kIconX, geometry.compact ? 1 : 3, kIconSide, kIconSide);
    // The settings art fills its box and the watch-later art sits high in its own, so both are
    // nudged to look the same size and height as their neighbours.
    if (index == KRFullscreenRailDanmakuSettingsIndex)
        icon.adjust(2, 2, -2, -2);
    else if (index == KRFullscreenRailWatchLaterIndex)
        icon.translate(1, 0.5);
    return icon;
}

QRectF KRFullscreenRailLabelFrame(const KRFullscreenRailGeometry& geometry, int index)
{
    if (!inRail(index))
        return {};
    return QRectF(1, geometry.rowHeight - 18, 52, 16);
}

QRectF KRFullscreenRailSeparatorFrame(const KRFullscreenRailGeometry& geometry, int index)
{
    if (index < 0 || index >= KRFullscreenRailButtonCount - 1)
        return {};
    return QRectF(4, geometry.rowHeight * (index + 1) - 1, 46, 1);
}
