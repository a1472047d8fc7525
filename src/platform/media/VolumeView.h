#pragma once

#include "platform/foundation/NotificationCenter.h"
#include "platform/uikit/View.h"

namespace platform::uikit {
class Slider;
}

namespace platform::media {

// The system volume view: a route button (empty here: the desktop has no other routes to
// pick, so it only keeps its 38-point place) and a volume slider that sets the system volume,
// which every player follows. The slider follows the system volume whoever changes it.
class VolumeView : public uikit::View {
    Q_OBJECT
public:
    explicit VolumeView(const QRectF& frame = QRectF(), uikit::View* superview = nullptr);

    bool showsVolumeSlider() const { return m_showsVolumeSlider; }
    void setShowsVolumeSlider(bool shows);
    bool showsRouteButton() const { return m_showsRouteButton; }
    void setShowsRouteButton(bool shows);
    uikit::Slider* volumeSlider() const { return m_slider; }
    // The route button's place: 38 points wide, nothing in it.
    uikit::View* routeButton() const { return m_routeButton; }

    void layoutSubviews() override;

private:
    uikit::Slider* m_slider;
    uikit::View* m_routeButton;
    bool m_showsVolumeSlider = true;
    bool m_showsRouteButton = true;
    platform::ObserverToken m_volumeObserver;
};

} // namespace platform::media
