#include "platform/media/VolumeView.h"

#include "platform/media/AudioSession.h"
#include "platform/media/MediaNotifications.h"
#include "platform/uikit/Slider.h"

namespace platform::media {

VolumeView::VolumeView(const QRectF& frame, uikit::View* superview)
    : uikit::View(frame, superview), m_slider(new uikit::Slider(QRectF(), this)), m_routeButton(new uikit::View(QRectF(), this))
{
    setOpaque(false);
    m_slider->setValue(float(AudioSession::sharedInstance().outputVolume()));
    m_slider->addTarget(uikit::ControlEventValueChanged,
                        [this] { AudioSession::sharedInstance().setOutputVolume(m_slider->value()); });
    m_volumeObserver = platform::NotificationCenter::defaultCenter().addObserver(
        AudioSessionOutputVolumeDidChangeNotification, &AudioSession::sharedInstance(),
        [this](const platform::Notification&) { m_slider->setValue(float(AudioSession::sharedInstance().outputVolume())); });
    m_routeButton->setOpaque(false);
    setShowsVolumeSlider(true);
    setShowsRouteButton(true);
}

void VolumeView::setShowsVolumeSlider(bool shows)
{
    m_showsVolumeSlider = shows;
    m_slider->setHidden(!shows);
    setNeedsLayout();
}

void VolumeView::setShowsRouteButton(bool shows)
{
    m_showsRouteButton = shows;
    m_routeButton->setHidden(!shows);
    setNeedsLayout();
}

void VolumeView::layoutSubviews()
{
    const QSizeF size = bounds().size();
    const qreal route = m_showsRouteButton ? std::min<qreal>(38, size.width()) : 0;
    m_routeButton->setFrame(QRectF(size.width() - route, 0, route, size.height()));
    m_slider->setFrame(QRectF(0, 0, std::max<qreal>(0, size.width() - route), size.height()));
}

} // namespace platform::media
