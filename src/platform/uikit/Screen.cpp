#include "platform/uikit/Screen.h"

#include "platform/device/DeviceProfile.h"

#include <algorithm>
#include <cmath>

namespace platform::uikit {

QRectF Screen::bounds() { return QRectF(QPointF(), DeviceProfile::screenSize()); }
qreal Screen::scale() { return DeviceProfile::screenScale(); }
bool Screen::hasNativeBounds() { return DeviceProfile::systemMajorVersion() >= 8; }

QRectF Screen::nativeBounds()
{
    if (!hasNativeBounds())
        return {};
    const QSizeF s = DeviceProfile::screenSize() * DeviceProfile::screenScale();
    return QRectF(QPointF(), s);
}

bool Screen::hasWindowScenes() { return DeviceProfile::systemMajorVersion() >= 13; }

bool Screen::isTallFullScreen()
{
    const QSizeF s = DeviceProfile::screenSize();
    return !DeviceProfile::isPad() && std::max(s.width(), s.height()) / std::max<qreal>(1, std::min(s.width(), s.height())) > 2.0;
}

namespace {
qreal& brightnessValue()
{
    static qreal value = 0.5;
    return value;
}
} // namespace

qreal Screen::brightness() { return brightnessValue(); }
void Screen::setBrightness(qreal value) { brightnessValue() = std::clamp<qreal>(std::isfinite(value) ? value : 0.5, 0, 1); }

} // namespace platform::uikit
