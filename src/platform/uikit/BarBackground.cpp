#include "platform/uikit/BarBackground.h"

#include "platform/device/DeviceProfile.h"

#include <QLinearGradient>
#include <QPainter>

namespace platform::uikit {

void drawBarBackground(QPainter& painter, const QRectF& rect, int barStyle, const QColor& barTint, const QColor& tint,
                       BarContentEdge edge)
{
    const auto line = [&](qreal thickness) {
        return edge == BarContentEdge::Bottom ? QRectF(rect.left(), rect.bottom() - thickness, rect.width(), thickness)
                                              : QRectF(rect.left(), rect.top(), rect.width(), thickness);
    };
    if (DeviceProfile::systemMajorVersion() >= 7) {
        painter.fillRect(rect, barTint.isValid() ? barTint : (barStyle ? QColor(22, 22, 22) : QColor(247, 247, 247)));
        painter.fillRect(line(0.5), QColor(0, 0, 0, 80));
        return;
    }
    const QColor base = tint.isValid() ? tint : (barStyle ? QColor(30, 30, 30) : QColor(109, 132, 162));
    QLinearGradient g(0, rect.top(), 0, rect.bottom());
    g.setColorAt(0, base.lighter(125));
    g.setColorAt(1, base.darker(110));
    painter.fillRect(rect, g);
    painter.fillRect(line(1), base.darker(160));
}

} // namespace platform::uikit
