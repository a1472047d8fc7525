#pragma once

#include "platform/uikit/View.h"

#include <QPointer>

#include <functional>
#include <map>
#include <vector>

namespace platform::uikit {

class ScrollView;

// Control states with the platform's values; combinations are or-ed.
enum ControlState {
    ControlStateNormal = 0,
    ControlStateHighlighted = 1,
    ControlStateDisabled = 2,
    ControlStateSelected = 4,
};

enum ControlEvent {
    ControlEventTouchDown = 1,
    ControlEventTouchUpInside = 64,
    ControlEventTouchUpOutside = 128,
    ControlEventTouchCancel = 256,
    ControlEventValueChanged = 4096,
    ControlEventEditingDidBegin = 65536,
    ControlEventEditingChanged = 131072,
    ControlEventEditingDidEnd = 262144,
    ControlEventEditingDidEndOnExit = 524288,
};

// A view that sends actions: each control event has its own list of callbacks, called in
// the order they were added. A press highlights it; a release inside sends touch-up-inside.
// Inside a scroll view the touch is the scroll view's as soon as it becomes a drag: the
// content scrolls, the control loses its highlight and sends touch-cancel, and letting go
// sends nothing.
class Control : public View {
    Q_OBJECT
public:
    explicit Control(const QRectF& frame = QRectF(), View* superview = nullptr);

    void addTarget(int events, std::function<void()> action);
    void removeAllTargets() { m_actions.clear(); }
    void sendActionsForControlEvents(int events);
    bool hasActionsForControlEvent(int event) const;

    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled);
    bool isHighlighted() const { return m_highlighted; }
    void setHighlighted(bool highlighted);
    bool isSelected() const { return m_selected; }
    void setSelected(bool selected);
    int state() const;

    // A tap as a finger makes it: down, highlighted, up inside.
    void tapForTesting();

protected:
    virtual void stateDidChange() { update(); }
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    // Whether the touch under way is still the control's (pressed, and not taken by a scroll
    // view as a drag).
    bool isTrackingTouch() const { return m_tracking; }

private:
    std::vector<std::pair<int, std::function<void()>>> m_actions;
    bool m_enabled = true;
    bool m_highlighted = false;
    bool m_selected = false;
    bool m_tracking = false;
    // The scroll view the control lies in, following the touch until it takes it or it ends.
    QPointer<ScrollView> m_scrollFollowing;
};

} // namespace platform::uikit
