#pragma once

#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>

namespace platform::uikit {

struct EdgeInsets {
    qreal top = 0, left = 0, bottom = 0, right = 0;
    bool operator==(const EdgeInsets&) const = default;
    bool isZero() const { return top == 0 && left == 0 && bottom == 0 && right == 0; }
};

// Console forms as the platform prints them, numbers in their shortest exact form:
// "{{x, y}, {w, h}}", "{w, h}", "{x, y}", "{top, left, bottom, right}".
QString StringFromNumber(qreal value);
QString StringFromRect(const QRectF& rect);
QString StringFromSize(const QSizeF& size);
QString StringFromPoint(const QPointF& point);
QString StringFromEdgeInsets(const EdgeInsets& insets);

QRectF EdgeInsetsInsetRect(const QRectF& rect, const EdgeInsets& insets);

// Interface orientations and their mask bits, with the platform's values.
enum InterfaceOrientation {
    InterfaceOrientationPortrait = 1,
    InterfaceOrientationPortraitUpsideDown = 2,
    InterfaceOrientationLandscapeRight = 3,
    InterfaceOrientationLandscapeLeft = 4,
};
constexpr int InterfaceOrientationMaskPortrait = 2;
constexpr int InterfaceOrientationMaskLandscapeRight = 8;
constexpr int InterfaceOrientationMaskLandscapeLeft = 16;
constexpr int InterfaceOrientationMaskAllButUpsideDown = 26;
inline int InterfaceOrientationMaskFor(int orientation) { return 1 << orientation; }
inline bool InterfaceOrientationIsLandscape(int orientation)
{
    return orientation == InterfaceOrientationLandscapeLeft || orientation == InterfaceOrientationLandscapeRight;
}

} // namespace platform::uikit
