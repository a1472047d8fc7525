#pragma once

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

// Recognises n quick taps on a view (presses that reach the view itself, so not those a
// control took). With another recogniser to wait for, a tap counts only once that one has
// failed: a single tap waits out a possible double tap. Recognisers do not recognise a touch
// together: once another has recognised it as a drag (a pan, a scroll view's drag) its taps
// fail, a single tap still waiting included. A tap recognised ends the touch for the scroll
// views it lies in, as the platform's recogniser cancels the touches of the views under it.
class TapGestureRecognizer : public QObject {
    Q_OBJECT
public:
    TapGestureRecognizer(View* view, std::function<void()> action);
    ~TapGestureRecognizer() override;

    View* view() const;
    int numberOfTapsRequired() const { return m_tapsRequired; }
    void setNumberOfTapsRequired(int taps) { m_tapsRequired = std::max(1, taps); }
    void requireGestureRecognizerToFail(TapGestureRecognizer* other) { m_mustFail = other; }
    // Asked with the view under the first touch; false keeps the recogniser out of it.
    void setShouldReceiveTouch(std::function<bool(View* touched)> fn) { m_shouldReceive = std::move(fn); }
    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled) { m_enabled = enabled; }
    // Where the last recognised tap was, in the view's coordinates.
    QPointF location() const { return m_location; }

    // `count` taps in quick succession at `point` (view coordinates), decided at once.
    void tapForTesting(const QPointF& point, int count = 1);

    // The touch under way was recognised as something else: every tap it would make fails.
    static void failTouchInProgress();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool receives(const QPointF& point) const;
    void recognise(const QPointF& point);
    void fail();
    // The scroll views the view lies in (itself included) let the touch go.
    void cancelScrollViewTouches();

    QPointer<View> m_view;
    std::function<void()> m_action;
    std::function<bool(View*)> m_shouldReceive;
    QPointer<TapGestureRecognizer> m_mustFail;
    int m_tapsRequired = 1;
    bool m_enabled = true;
    QPointF m_location;
    // The sequence of taps being counted.
    int m_taps = 0;
    QPointF m_pressAt;
    bool m_movedAway = false;
    double m_lastTapAt = -1; // on the main clock, so a test's taps keep its time
    std::unique_ptr<platform::DelayedCalls> m_delayed;
};

} // namespace platform::uikit
