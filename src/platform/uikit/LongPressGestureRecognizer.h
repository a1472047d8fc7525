#pragma once

#include "platform/uikit/PanGestureRecognizer.h"

#include <QObject>
#include <QPointF>
#include <QPointer>

#include <functional>
#include <memory>

namespace platform {
class DelayedCalls;
}

namespace platform::uikit {

class View;

// Recognises a finger held still on a view for the minimum duration. Continuous: the action
// runs at began (once the duration has passed, if the should-begin answer allows), at each
// move while held, and at ended when lifted. A move past the allowed distance before it began
// fails it.
class LongPressGestureRecognizer : public QObject {
    Q_OBJECT
public:
    LongPressGestureRecognizer(View* view, std::function<void()> action);
    ~LongPressGestureRecognizer() override;

    View* view() const;
    double minimumPressDuration() const { return m_minimumDuration; }
    void setMinimumPressDuration(double seconds) { m_minimumDuration = seconds; }
    qreal allowableMovement() const { return m_allowableMovement; }
    void setAllowableMovement(qreal points) { m_allowableMovement = points; }
    int state() const { return m_state; }
    // The finger's place, in the view's coordinates.
    QPointF location() const { return m_location; }
    void setShouldBegin(std::function<bool()> fn) { m_shouldBegin = std::move(fn); }
    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled) { m_enabled = enabled; }

    // A finger put down at `point` and held past the minimum duration (began), then lifted
    // (ended). Shorter holds are taps and end nothing here.
    void beginPressForTesting(const QPointF& point);
    void endPressForTesting();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void begin();
    void moveTo(int state);

    QPointer<View> m_view;
    std::function<void()> m_action;
    std::function<bool()> m_shouldBegin;
    double m_minimumDuration = 0.5;
    qreal m_allowableMovement = 10;
    int m_state = GestureStatePossible;
    bool m_enabled = true;
    bool m_held = false;
    QPointF m_pressAt;
    QPointF m_location;
    std::unique_ptr<platform::DelayedCalls> m_delayed;
};

} // namespace platform::uikit
