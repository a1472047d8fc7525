#include "platform/uikit/LongPressGestureRecognizer.h"

#include "platform/foundation/DelayedCall.h"
#include "platform/uikit/View.h"

#include <QEvent>
#include <QLineF>
#include <QMouseEvent>

#include <cmath>

namespace platform::uikit {
namespace {
const QString kBegin = QStringLiteral("begin");
} // namespace

LongPressGestureRecognizer::LongPressGestureRecognizer(View* view, std::function<void()> action)
    : QObject(view), m_view(view), m_action(std::move(action)), m_delayed(std::make_unique<platform::DelayedCalls>())
{
    view->installEventFilter(this);
}

LongPressGestureRecognizer::~LongPressGestureRecognizer() = default;

View* LongPressGestureRecognizer::view() const { return m_view; }

void LongPressGestureRecognizer::moveTo(int state)
{
    m_state = state;
    QPointer<LongPressGestureRecognizer> self(this);
    if (m_action)
        m_action();
    if (self && (state == GestureStateEnded || state == GestureStateCancelled))
        m_state = GestureStatePossible;
}

void LongPressGestureRecognizer::begin()
{
    if (!m_held || m_state != GestureStatePossible)
        return;
    if (m_shouldBegin && !m_shouldBegin()) {
        m_held = false;
        return;
    }
    moveTo(GestureStateBegan);
}

void LongPressGestureRecognizer::beginPressForTesting(const QPointF& point)
{
    if (!m_enabled || !m_view || !m_view->isUserInteractionEnabled() || m_held)
        return;
    m_held = true;
    m_pressAt = m_location = point;
    begin();
}

void LongPressGestureRecognizer::endPressForTesting()
{
    if (!m_held)
        return;
    m_held = false;
    m_delayed->cancel(kBegin);
    if (m_state == GestureStateBegan || m_state == GestureStateChanged)
        moveTo(GestureStateEnded);
}

bool LongPressGestureRecognizer::eventFilter(QObject* watched, QEvent* event)
{
    // The view is our parent; compared as a plain object, as it may be half destroyed here.
    if (watched != parent())
        return false;
    if (View::beginsTouch(event)) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton || !m_enabled || !m_view->isUserInteractionEnabled() || m_held)
            return false;
        m_held = true;
        m_state = GestureStatePossible;
        m_pressAt = m_location = mouse->position();
        m_delayed->schedule(kBegin, int(std::lround(m_minimumDuration * 1000)), [this] { begin(); });
    } else if (event->type() == QEvent::MouseMove && m_held) {
        m_location = static_cast<QMouseEvent*>(event)->position();
        if (m_state == GestureStatePossible) {
            if (QLineF(m_pressAt, m_location).length() > m_allowableMovement) {
                m_held = false;
                m_delayed->cancel(kBegin);
            }
        } else {
            moveTo(GestureStateChanged);
        }
    } else if (event->type() == QEvent::MouseButtonRelease && m_held) {
        m_location = static_cast<QMouseEvent*>(event)->position();
        endPressForTesting();
    }
    return false;
}

} // namespace platform::uikit
