#include "video/KRInteractionButton.h"

#include "platform/uikit/ImageView.h"
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
    platform::uikit::ImageView* icon = imageView();
    icon->setContentMode(platform::uikit::ContentModeScaleAspectFit);
    icon->setFrame(QRectF(std::floor((w - side) / 2), triple ? 10 : 4, std::max<qreal>(side, 1), triple ? 22 : 28));
    titleLabel()->setTextAlignment(platform::uikit::TextAlignmentCenter);
    titleLabel()->setFrame(QRectF(2, std::max<qreal>(h - 19, 31), std::max<qreal>(w - 4, 1), 15));
}
