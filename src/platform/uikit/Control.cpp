#include "platform/uikit/Control.h"

#include "platform/uikit/ScrollView.h"

#include <QMouseEvent>
#include <QPointer>

#include <utility>

namespace platform::uikit {

Control::Control(const QRectF& frame, View* superview) : View(frame, superview)
{
    setBackgroundColor(QBrush(Qt::NoBrush));
    setOpaque(false);
}

void Control::addTarget(int events, std::function<void()> action)
{
    if (action)
        m_actions.emplace_back(events, std::move(action));
}

bool Control::hasActionsForControlEvent(int event) const
{
    return std::any_of(m_actions.begin(), m_actions.end(), [event](const auto& a) { return a.first & event; });
}

void Control::sendActionsForControlEvents(int events)
{
    // An action may destroy this control (a button that pops its screen): copy first, stop
    // when it has gone.
    const auto actions = m_actions;
    QPointer<Control> self(this);
    for (const auto& [mask, fn] : actions) {
        if (!self)
            return;
        if (mask & events)
            fn();
    }
}

void Control::setEnabled(bool enabled)
{
    if (m_enabled == enabled)
        return;
    m_enabled = enabled;
    stateDidChange();
}

void Control::setHighlighted(bool highlighted)
{
    if (m_highlighted == highlighted)
        return;
    m_highlighted = highlighted;
    stateDidChange();
}

void Control::setSelected(bool selected)
{
    if (m_selected == selected)
        return;
    m_selected = selected;
    stateDidChange();
}

int Control::state() const
{
    int s = ControlStateNormal;
    if (m_highlighted)
        s |= ControlStateHighlighted;
    if (!m_enabled)
        s |= ControlStateDisabled;
    if (m_selected)
        s |= ControlStateSelected;
    return s;
}

void Control::tapForTesting()
{
    if (!m_enabled || !isUserInteractionEnabled())
        return;
    QPointer<Control> self(this);
    setHighlighted(true);
    sendActionsForControlEvents(ControlEventTouchDown);
    if (!self)
        return;
    setHighlighted(false);
    sendActionsForControlEvents(ControlEventTouchUpInside);
}

void Control::mousePressEvent(QMouseEvent* e)
{
    if (!m_enabled || e->button() != Qt::LeftButton) {
        e->ignore();
        return;
    }
    m_tracking = true;
    m_scrollFollowing = ScrollView::followTouchFrom(this, e);
    setHighlighted(true);
    sendActionsForControlEvents(ControlEventTouchDown);
}

void Control::mouseMoveEvent(QMouseEvent* e)
{
    if (!m_tracking)
        return;
    if (QPointer<ScrollView> scrollView = m_scrollFollowing; scrollView && scrollView->followedTouchMoved(e)) {
        // The drag is the scroll view's from here on (it has the rest of the touch).
        m_scrollFollowing = nullptr;
        m_tracking = false;
        setHighlighted(false);
        sendActionsForControlEvents(ControlEventTouchCancel);
        return;
    }
    setHighlighted(rect().adjusted(-70, -70, 70, 70).contains(e->position().toPoint()));
}

void Control::mouseReleaseEvent(QMouseEvent* e)
{
    if (!m_tracking)
        return;
    m_tracking = false;
    if (QPointer<ScrollView> scrollView = std::exchange(m_scrollFollowing, nullptr))
        scrollView->followedTouchEnded();
    const bool inside = rect().adjusted(-70, -70, 70, 70).contains(e->position().toPoint());
    setHighlighted(false);
    sendActionsForControlEvents(inside ? ControlEventTouchUpInside : ControlEventTouchUpOutside);
}

} // namespace platform::uikit
