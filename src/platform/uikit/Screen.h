#pragma once

#include <QRectF>

namespace platform::uikit {

// The device's main screen as the device profile describes it: portrait bounds in points.
class Screen {
public:
    static QRectF bounds();
    static qreal scale();
    // Pixels, portrait; only from system 8, where the platform has them (answers false before).
    static bool hasNativeBounds();
    static QRectF nativeBounds();
    // Window scenes exist from system 13.
    static bool hasWindowScenes();
    // A tall full-screen profile (a notch and a home indicator): safe insets 44 and 34.
    static bool isTallFullScreen();
    // The backlight level 0…1 the application set (0.5 until it sets one); kept by the kit,
    // since a desktop has no backlight of the phone's kind.
    static qreal brightness();
    static void setBrightness(qreal value);
};

} // namespace platform::uikit
