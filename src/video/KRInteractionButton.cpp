#include "video/KRInteractionButton.h"

#include "platform/uikit/Geometry.h"
#include "platform/uikit/Label.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr int kTripleButtonTag = 7600;
}

void KRInteractionButton::layoutSubviews()
{
    Button::layoutSubviews();
    const qreal w = bounds().width();
    const qreal h = bounds().height();
    const bool triple = tag() == kTripleButtonTag;
    const qreal side = std::min(w - 10, triple ? qreal(46) : qreal(28));
    const QRectF icon(std::floor((w - side) / 2), triple ? 10 : 4, std::max<qreal>(side, 1), triple ? 22 : 28);
    // The button draws its icon itself, fitted into the icon's box: five buttons on every page
    // opened need no picture views of their own.
    if (imageContentMode() != platform::uikit::ContentModeScaleAspectFit)
        setImageContentMode(platform::uikit::ContentModeScaleAspectFit);
    const platform::uikit::EdgeInsets box{icon.top(), icon.left(), h - icon.bottom(), w - icon.right()};
    if (imageEdgeInsets() != box)
        setImageEdgeInsets(box);
    titleLabel()->setTextAlignment(platform::uikit::TextAlignmentCenter);
    titleLabel()->setFrame(QRectF(2, std::max<qreal>(h - 19, 31), std::max<qreal>(w - 4, 1), 15));
}
