#include "platform/uikit/TapGestureRecognizer.h"

#include "platform/foundation/DelayedCall.h"
#include "platform/foundation/MainClock.h"
#include "platform/uikit/ScrollView.h"
#include "platform/uikit/View.h"

#include <QEvent>
#include <QLineF>
#include <QMouseEvent>

namespace platform::uikit {
namespace {

constexpr int TapIntervalMs = 350;
constexpr qreal TapSlop = 10;

View* touchedView(View* view, const QPointF& point)
{
    QWidget* child = view->childAt(point.toPoint());
    while (child && !qobject_cast<View*>(child))
        child = child->parentWidget();
    auto* touched = qobject_cast<View*>(child);
    return touched ? touched : view;
}

// The recognisers that have seen the press of the touch under way and not yet its end (one
// mouse: one touch at a time).
QList<QPointer<TapGestureRecognizer>>& recognisersInTouch()
{
    static QList<QPointer<TapGestureRecognizer>> recognisers;
    return recognisers;
}

} // namespace

TapGestureRecognizer::TapGestureRecognizer(View* view, std::function<void()> action)
    : QObject(view), m_view(view), m_action(std::move(action)), m_delayed(std::make_unique<platform::DelayedCalls>())
{
    view->installEventFilter(this);
}

TapGestureRecognizer::~TapGestureRecognizer() = default;

View* TapGestureRecognizer::view() const { return m_view; }

bool TapGestureRecognizer::receives(const QPointF& point) const
{
    if (!m_enabled || !m_view || !m_view->isUserInteractionEnabled())
        return false;
    return !m_shouldReceive || m_shouldReceive(touchedView(m_view, point));
}

void TapGestureRecognizer::recognise(const QPointF& point)
{
    m_location = point;
    if (m_action)
        m_action();
}

void TapGestureRecognizer::fail()
{
    m_movedAway = true;
    m_taps = 0;
    m_delayed->cancel(QStringLiteral("recognise"));
}

void TapGestureRecognizer::failTouchInProgress()
{
    const QList<QPointer<TapGestureRecognizer>> recognisers = std::exchange(recognisersInTouch(), {});
    for (const QPointer<TapGestureRecognizer>& recogniser : recognisers)
        if (recogniser)
            recogniser->fail();
}

void TapGestureRecognizer::cancelScrollViewTouches()
{
    for (QWidget* w = m_view; w; w = w->parentWidget())
        if (auto* scrollView = qobject_cast<ScrollView*>(w))
            scrollView->cancelTouch();
}

void TapGestureRecognizer::tapForTesting(const QPointF& point, int count)
{
    if (count != m_tapsRequired || !receives(point))
        return;
    // The other recogniser succeeds on these taps, so this one never does.
    if (m_mustFail && m_mustFail->isEnabled() && m_mustFail->numberOfTapsRequired() <= count && m_mustFail->receives(point))
        return;
    recognise(point);
}

bool TapGestureRecognizer::eventFilter(QObject* watched, QEvent* event)
{
    // The view is our parent; compared as a plain object, as it may be half destroyed here.
    if (watched != parent())
        return false;
    // A double click is a double tap's second touch, which must cancel a single tap waiting.
    if (View::beginsTouch(event)) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        m_pressAt = mouse->position();
        m_movedAway = false;
        if (m_lastTapAt < 0 || (platform::MainClock::now() - m_lastTapAt) * 1000.0 > TapIntervalMs)
            m_taps = 0;
        m_delayed->cancel(QStringLiteral("recognise"));
        QList<QPointer<TapGestureRecognizer>>& inTouch = recognisersInTouch();
        inTouch.removeAll(nullptr);
        if (!inTouch.contains(this))
            inTouch.append(this);
    } else if (event->type() == QEvent::MouseMove) {
        // A touch that wandered off is a drag (an enclosing scroll view's, say), even if it
        // comes back to where it began.
        if (QLineF(static_cast<QMouseEvent*>(event)->position(), m_pressAt).length() > TapSlop)
            m_movedAway = true;
    } else if (event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const QPointF at = mouse->position();
        recognisersInTouch().removeAll(this);
        if (m_movedAway || QLineF(at, m_pressAt).length() > TapSlop || !receives(at)) {
            m_taps = 0;
            return false;
        }
        ++m_taps;
        m_lastTapAt = platform::MainClock::now();
        const bool waits = m_mustFail && m_mustFail->isEnabled() && m_mustFail->numberOfTapsRequired() > m_tapsRequired;
        if (m_taps != m_tapsRequired)
            return false;
        if (waits) {
            // Recognised only when no further tap starts in time (a press cancels this); the
            // count runs on, so the taps of the other recogniser do not count here again.
            m_delayed->schedule(QStringLiteral("recognise"), TapIntervalMs, [this, at] { recognise(at); });
        } else {
            m_taps = 0;
            QPointer<TapGestureRecognizer> self(this);
            cancelScrollViewTouches();
            if (self)
                recognise(at);
        }
    }
    return false;
}

} // namespace platform::uikit
