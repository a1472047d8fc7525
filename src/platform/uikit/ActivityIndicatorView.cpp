#include "platform/uikit/ActivityIndicatorView.h"

#include <QPainter>

#include <cmath>

namespace platform::uikit {

ActivityIndicatorView::ActivityIndicatorView(int style, View* superview) : View(QRectF(), superview)
{
    setOpaque(false);
    setUserInteractionEnabled(false);
    setActivityIndicatorViewStyle(style);
    setHidden(true);
}

ActivityIndicatorView::~ActivityIndicatorView() { AnimationClock::cancel(m_animation); }

void ActivityIndicatorView::setActivityIndicatorViewStyle(int style)
{
    m_style = style;
    m_color = style == ActivityIndicatorStyleGray ? QColor(128, 128, 128) : QColor(Qt::white);
    const qreal side = style == ActivityIndicatorStyleWhiteLarge ? 37 : 20;
    setFrame(QRectF(frame().topLeft(), QSizeF(side, side)));
    update();
}

void ActivityIndicatorView::setHidesWhenStopped(bool hides)
{
    m_hidesWhenStopped = hides;
    if (!isAnimating())
        setHidden(hides);
}

void ActivityIndicatorView::startAnimating()
{
    setHidden(false);
    if (isAnimating())
        return;
    m_animation = AnimationClock::run(this, [this](double elapsed) {
        const int phase = int(elapsed * 12) % 12;
        if (phase != m_phase) {
            m_phase = phase;
            update();
        }
        return true;
    });
}

void ActivityIndicatorView::stopAnimating()
{
    const auto id = m_animation;
    m_animation = 0;
    AnimationClock::cancel(id);
    if (m_hidesWhenStopped)
        setHidden(true);
}

void ActivityIndicatorView::drawRect(QPainter& p)
{
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF c = QRectF(rect()).center();
    const qreal r = std::min(width(), height()) / 2.0;
    for (int i = 0; i < 12; ++i) {
        QColor col = m_color;
        col.setAlphaF(0.25 + 0.75 * (((i - m_phase + 12) % 12) / 11.0));
        p.setPen(QPen(col, std::max<qreal>(2, r / 5), Qt::SolidLine, Qt::RoundCap));
        const qreal a = (i * 30 - 90) * M_PI / 180;
        p.drawLine(c + QPointF(std::cos(a), std::sin(a)) * r * 0.45, c + QPointF(std::cos(a), std::sin(a)) * r * 0.9);
    }
}

} // namespace platform::uikit
