#include "platform/uikit/SwipeGestureRecognizer.h"

#include "platform/uikit/View.h"

#include <QEvent>
#include <QMouseEvent>

#include <cmath>

namespace platform::uikit {
namespace {
constexpr qreal kMinimumDistance = 50;
constexpr double kMaximumSeconds = 0.5;
} // namespace

SwipeGestureRecognizer::SwipeGestureRecognizer(View* view, std::function<void()> action)
    : QObject(view), m_view(view), m_action(std::move(action))
{
    view->installEventFilter(this);
}

View* SwipeGestureRecognizer::view() const { return m_view; }

void SwipeGestureRecognizer::stroke(const QPointF& start, const QPointF& end, double seconds)
{
    if (!m_enabled || !m_view || !m_view->isUserInteractionEnabled() || seconds > kMaximumSeconds)
        return;
    const QPointF d = end - start;
    const qreal ax = std::abs(d.x()), ay = std::abs(d.y());
    int made = 0;
    if (ax >= kMinimumDistance && ay <= ax / 2)
        made = d.x() > 0 ? SwipeDirectionRight : SwipeDirectionLeft;
    else if (ay >= kMinimumDistance && ax <= ay / 2)
        made = d.y() > 0 ? SwipeDirectionDown : SwipeDirectionUp;
    if (!(made & m_direction))
        return;
    m_start = start;
    if (m_shouldBegin && !m_shouldBegin()) {
        m_state = GestureStatePossible;
        return;
    }
    m_state = GestureStateEnded;
    QPointer<SwipeGestureRecognizer> self(this);
    if (m_action)
        m_action();
    if (self)
        m_state = GestureStatePossible;
}

void SwipeGestureRecognizer::swipeForTesting(const QPointF& start, int direction)
{
    QPointF d;
    if (direction & SwipeDirectionRight)
        d = QPointF(120, 0);
    else if (direction & SwipeDirectionLeft)
        d = QPointF(-120, 0);
    else if (direction & SwipeDirectionUp)
        d = QPointF(0, -120);
    else if (direction & SwipeDirectionDown)
        d = QPointF(0, 120);
    stroke(start, start + d, 0.1);
}

bool SwipeGestureRecognizer::eventFilter(QObject* watched, QEvent* event)
{
    // The view is our parent; compared as a plain object, as it may be half destroyed here.
    if (watched != parent())
        return false;
    if (View::beginsTouch(event)) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        m_tracking = mouse->button() == Qt::LeftButton;
        m_pressAt = mouse->position();
        m_pressTime = mouse->timestamp();
    } else if (event->type() == QEvent::MouseButtonRelease && m_tracking) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        m_tracking = false;
        // The events' own clock, as the scroll view's drags use.
        stroke(m_pressAt, mouse->position(), double(mouse->timestamp() - m_pressTime) / 1000.0);
    }
    return false;
}

} // namespace platform::uikit
