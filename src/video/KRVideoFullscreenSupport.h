#pragma once

#include "platform/uikit/Geometry.h"

#include <QRectF>
#include <QSizeF>

// Asks the kit to turn the interface to where the device points now that the playback
// screens' answers to the orientation masks may have changed.
void KRRequestModernPlaybackRotation();

// Where the full-screen rail of five buttons sits in its host: on the right edge, a little
// above the middle in landscape (rows of 42 points, 38 on the 320-point-high compact
// phones) and centred in portrait (rows of 49). `landscape` and `compact` say which case
// applied. A host size that is not finite gives the empty geometry.
struct KRFullscreenRailGeometry {
    QRectF rail;
    qreal rowHeight = 0;
    bool landscape = false;
    bool compact = false;
};
KRFullscreenRailGeometry KRFullscreenRailGeometryForHost(const QSizeF& hostSize, const platform::uikit::EdgeInsets& insets);

// The rail's buttons from the top: watch later, add danmaku, danmaku, danmaku settings,
// cache. Frames inside the rail (buttons) and inside a button (icon and label); index 4 has
// no separator under it, and an index outside the rail gives the empty rectangle.
inline constexpr int KRFullscreenRailButtonCount = 5;
inline constexpr int KRFullscreenRailWatchLaterIndex = 0;
inline constexpr int KRFullscreenRailDanmakuSettingsIndex = 3;
QRectF KRFullscreenRailButtonFrame(const KRFullscreenRailGeometry& geometry, int index);
QRectF KRFullscreenRailIconFrame(const KRFullscreenRailGeometry& geometry, int index);
QRectF KRFullscreenRailLabelFrame(const KRFullscreenRailGeometry& geometry, int index);
QRectF KRFullscreenRailSeparatorFrame(const KRFullscreenRailGeometry& geometry, int index);
