#pragma once

#include "platform/uikit/PanGestureRecognizer.h"

#include <QObject>
#include <QPointF>
#include <QPointer>

#include <functional>

namespace platform::uikit {

class View;

enum SwipeGestureRecognizerDirection {
    SwipeDirectionRight = 1,
    SwipeDirectionLeft = 2,
    SwipeDirectionUp = 4,
    SwipeDirectionDown = 8,
};

// Recognises a quick stroke in one of its directions on a view: far enough, mostly along the
// direction, lifted soon enough. Discrete: the action runs once, in the ended state, and only
// when the should-begin answer (if any) allows it.
class SwipeGestureRecognizer : public QObject {
    Q_OBJECT
public:
    SwipeGestureRecognizer(View* view, std::function<void()> action);

    View* view() const;
    int direction() const { return m_direction; }
    void setDirection(int directions) { m_direction = directions; }
    int state() const { return m_state; }
    // Where the stroke began, in the view's coordinates.
    QPointF location() const { return m_start; }
    void setShouldBegin(std::function<bool()> fn) { m_shouldBegin = std::move(fn); }
    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled) { m_enabled = enabled; }

    // A stroke from `start` in `direction`, as a finger would make it.
    void swipeForTesting(const QPointF& start, int direction);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void stroke(const QPointF& start, const QPointF& end, double seconds);

    QPointer<View> m_view;
    std::function<void()> m_action;
    std::function<bool()> m_shouldBegin;
    int m_direction = SwipeDirectionRight;
    int m_state = GestureStatePossible;
    bool m_enabled = true;
    bool m_tracking = false;
    QPointF m_start;
    QPointF m_pressAt;
    quint64 m_pressTime = 0;
};

} // namespace platform::uikit
