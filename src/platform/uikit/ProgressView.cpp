#include "platform/uikit/ProgressView.h"

#include <QPainter>

namespace platform::uikit {

ProgressView::ProgressView(const QRectF& frame, View* superview)
    : View(frame.isNull() ? QRectF(0, 0, 150, 2) : frame, superview)
{
    setOpaque(false);
}

void ProgressView::setProgress(float progress)
{
    const float clamped = std::clamp(progress, 0.0f, 1.0f);
    if (clamped == m_progress)
        return;
    m_progress = clamped;
    update();
}

void ProgressView::drawRect(QPainter& p)
{
    p.fillRect(rect(), m_trackTint);
    p.fillRect(QRectF(0, 0, width() * qreal(m_progress), height()), m_progressTint);
}

} // namespace platform::uikit
