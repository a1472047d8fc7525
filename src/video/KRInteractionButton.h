#pragma once

#include "platform/uikit/Button.h"

// A button of the video page's interaction bar: the icon above, a one-line title below. The
// triple button (tag 7600) has a wide, low icon; the others a square one.
class KRInteractionButton : public platform::uikit::Button {
    Q_OBJECT
public:
    using Button::Button;
    void layoutSubviews() override;
};
