#pragma once

#include <QObject>
#include <QPointF>
#include <QPointer>

#include <functional>

namespace platform::uikit {

class View;

enum GestureRecognizerState {
    GestureStatePossible = 0,
    GestureStateBegan = 1,
    GestureStateChanged = 2,
    GestureStateEnded = 3,
    GestureStateCancelled = 4,
    GestureStateFailed = 5,
};

// Recognises a drag on a view; the action runs on each state change with the translation
// from the first touch. Once it has begun, the taps of the same touch fail.
class PanGestureRecognizer : public QObject {
    Q_OBJECT
public:
    PanGestureRecognizer(View* view, std::function<void()> action);

    View* view() const;
    int state() const { return m_state; }
    QPointF translation() const { return m_translation; }
    // The touch's current location in the view's coordinates.
    QPointF location() const { return m_start + m_translation; }
    void setShouldReceiveTouch(std::function<bool(View* touched)> fn) { m_shouldReceive = std::move(fn); }
    bool isEnabled() const { return m_enabled; }
    void setEnabled(bool enabled) { m_enabled = enabled; }

    // A drag from `start` through the translations (from the start), then lifted (or cancelled).
    void panForTesting(const QPointF& start, const QList<QPointF>& translations, bool cancel = false);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool receives(const QPointF& point) const;
    void moveTo(int state, const QPointF& translation);

    QPointer<View> m_view;
    std::function<void()> m_action;
    std::function<bool(View*)> m_shouldReceive;
    bool m_enabled = true;
    int m_state = GestureStatePossible;
    QPointF m_start;
    QPointF m_translation;
    bool m_tracking = false;
};

} // namespace platform::uikit
