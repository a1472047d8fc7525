#include "platform/uikit/PanGestureRecognizer.h"

#include "platform/uikit/TapGestureRecognizer.h"
#include "platform/uikit/View.h"

#include <QEvent>
#include <QMouseEvent>

namespace platform::uikit {
namespace {
// How far a touch moves before it is a drag, as a scroll view's.
constexpr qreal kBeginDistance = 4;
} // namespace

PanGestureRecognizer::PanGestureRecognizer(View* view, std::function<void()> action)
    : QObject(view), m_view(view), m_action(std::move(action))
{
    view->installEventFilter(this);
}

View* PanGestureRecognizer::view() const { return m_view; }

bool PanGestureRecognizer::receives(const QPointF& point) const
{
    if (!m_enabled || !m_view || !m_view->isUserInteractionEnabled())
        return false;
    if (!m_shouldReceive)
        return true;
    QWidget* child = m_view->childAt(point.toPoint());
    while (child && !qobject_cast<View*>(child))
        child = child->parentWidget();
    auto* touched = qobject_cast<View*>(child);
    return m_shouldReceive(touched ? touched : m_view.data());
}

void PanGestureRecognizer::moveTo(int state, const QPointF& translation)
{
    m_state = state;
    m_translation = translation;
    QPointer<PanGestureRecognizer> self(this);
    if (m_action)
        m_action();
    if (self && (state == GestureStateEnded || state == GestureStateCancelled))
        m_state = GestureStatePossible;
}

void PanGestureRecognizer::panForTesting(const QPointF& start, const QList<QPointF>& translations, bool cancel)
{
    if (!receives(start) || translations.isEmpty())
        return;
    QPointer<PanGestureRecognizer> self(this);
    m_start = start;
    moveTo(GestureStateBegan, QPointF());
    for (const QPointF& translation : translations) {
        if (!self)
            return;
        moveTo(GestureStateChanged, translation);
    }
    if (self)
        moveTo(cancel ? GestureStateCancelled : GestureStateEnded, m_translation);
}

bool PanGestureRecognizer::eventFilter(QObject* watched, QEvent* event)
{
    // The view is our parent; compared as a plain object, as it may be half destroyed here.
    if (watched != parent())
        return false;
    if (View::beginsTouch(event)) {
        const QPointF at = static_cast<QMouseEvent*>(event)->position();
        m_tracking = receives(at);
        m_start = at;
        m_state = GestureStatePossible;
    } else if (event->type() == QEvent::MouseMove && m_tracking) {
        const QPointF translation = static_cast<QMouseEvent*>(event)->position() - m_start;
        if (m_state == GestureStatePossible) {
            // A click that trembles by a point or two stays a tap.
            if (translation.manhattanLength() < kBeginDistance)
                return false;
            // The touch is a drag now, never also a tap (the recognisers do not recognise
            // together): a tap waiting for it, even one that would have been recognised after
            // this drag ends, fails.
            TapGestureRecognizer::failTouchInProgress();
            moveTo(GestureStateBegan, QPointF());
        }
        moveTo(GestureStateChanged, translation);
    } else if (event->type() == QEvent::MouseButtonRelease && m_tracking) {
        m_tracking = false;
        if (m_state != GestureStatePossible)
            moveTo(GestureStateEnded, m_translation);
    }
    return false;
}

} // namespace platform::uikit
