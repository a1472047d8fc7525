#include "platform/uikit/ScrollView.h"

#include "platform/uikit/ScrollViewDelegate.h"
#include "platform/uikit/TapGestureRecognizer.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <utility>

namespace platform::uikit {
namespace {
constexpr double kDecelerationPerMs = 0.998;  // the platform's normal rate
constexpr double kBounceRate = 11.0;          // per second, exponential approach to the edge
constexpr double kRestSpeed = 8.0;            // points per second
constexpr qreal kDragSlop = 4;
constexpr double kStillBeforeLifting = 0.1;  // seconds without a move before the lift
constexpr double kZoomSeconds = 0.3;
constexpr double kZoomBounceSeconds = 0.25;
constexpr qreal kWheelZoomStep = 1.1;  // per notch of a wheel turned with Ctrl held
} // namespace

ScrollView::ScrollView(const QRectF& frame, View* superview) : View(frame, superview)
{
    m_guard = this;
}

ScrollView::~ScrollView()
{
    AnimationClock::cancel(m_motion);
    AnimationClock::cancel(m_insetAnimation);
    AnimationClock::cancel(m_zoomAnimation);
}

QPointF ScrollView::minimumContentOffset() const { return QPointF(-m_contentInset.left, -m_contentInset.top); }

QPointF ScrollView::maximumContentOffset() const
{
    const QPointF min = minimumContentOffset();
    return QPointF(std::max(min.x(), m_contentSize.width() + m_contentInset.right - frame().width()),
                   std::max(min.y(), m_contentSize.height() + m_contentInset.bottom - frame().height()));
}

QPointF ScrollView::clamped(const QPointF& o) const
{
    const QPointF min = minimumContentOffset(), max = maximumContentOffset();
    return QPointF(std::clamp(o.x(), min.x(), max.x()), std::clamp(o.y(), min.y(), max.y()));
}

QPointF ScrollView::rubberBanded(const QPointF& o) const
{
    // Past an edge the content follows the finger ever more reluctantly.
    auto band = [](qreal v, qreal min, qreal max, qreal dim) {
        auto f = [dim](qreal x) { return (1.0 - 1.0 / (x * 0.55 / std::max<qreal>(1, dim) + 1.0)) * dim; };
        if (v < min)
            return min - f(min - v);
        if (v > max)
            return max + f(v - max);
        return v;
    };
    const QPointF min = minimumContentOffset(), max = maximumContentOffset();
    return QPointF(band(o.x(), min.x(), max.x(), frame().width()), band(o.y(), min.y(), max.y(), frame().height()));
}

bool ScrollView::canScrollVertically() const
{
    return m_alwaysBounceVertical || maximumContentOffset().y() > minimumContentOffset().y();
}

void ScrollView::applyOffset(const QPointF& offset)
{
    if (offset == contentOffset())
        return;
    setBoundsOrigin(offset);
    QPointer<QObject> self(this);
    tellClippedDescendants();
    if (!self)
        return;
    contentOffsetDidChange();
    if (self && m_delegate)
        m_delegate->scrollViewDidScroll(this);
}

void ScrollView::setFrame(const QRectF& frame)
{
    const bool changed = frame != this->frame();
    View::setFrame(frame);
    if (changed)
        tellClippedDescendants();
}

void ScrollView::addClippedDescendant(ScrollView* view)
{
    if (!m_clippedDescendants.contains(view))
        m_clippedDescendants.append(view);
}

void ScrollView::tellClippedDescendants()
{
    m_clippedDescendants.removeAll(nullptr);
    // A copy: a descendant laying itself out may register with this view again.
    const QList<QPointer<ScrollView>> descendants = m_clippedDescendants;
    for (const QPointer<ScrollView>& view : descendants)
        if (view && isAncestorOf(view))
            view->enclosingScrollViewDidChange();
}

void ScrollView::setContentOffset(const QPointF& offset)
{
    applyOffset(offset);
}

void ScrollView::setContentOffset(const QPointF& offset, bool animated)
{
    stopMotion();
    if (!animated) {
        applyOffset(offset);
        return;
    }
    const QPointF from = contentOffset();
    m_motion = AnimationClock::animate(
        this, 0.3,
        [this, from, offset](double t) {
            const double e = 1 - (1 - t) * (1 - t);
            applyOffset(from + (offset - from) * e);
        },
        [this](bool finished) {
            m_motion = 0;
            if (finished && m_delegate)
                m_delegate->scrollViewDidEndScrollingAnimation(this);
        });
}

void ScrollView::setContentSize(const QSizeF& size)
{
    m_contentSize = size;
    update();
}

void ScrollView::setContentInset(const EdgeInsets& inset, double duration)
{
    AnimationClock::cancel(m_insetAnimation);
    m_insetAnimation = 0;
    const EdgeInsets from = m_contentInset;
    // An offset resting on the old top edge stays on the edge as it moves.
    const bool followTop = !m_dragging && !m_motion && std::abs(contentOffset().y() + from.top) < 0.5;
    auto apply = [this, from, inset, followTop](double t) {
        auto mix = [t](qreal a, qreal b) { return a + (b - a) * t; };
        m_contentInset = EdgeInsets{mix(from.top, inset.top), mix(from.left, inset.left), mix(from.bottom, inset.bottom),
                                    mix(from.right, inset.right)};
        if (followTop)
            applyOffset(QPointF(contentOffset().x(), -m_contentInset.top));
    };
    if (duration <= 0) {
        apply(1.0);
        m_contentInset = inset;
        return;
    }
    m_insetAnimation = AnimationClock::animate(this, duration, apply, [this](bool) { m_insetAnimation = 0; });
}

void ScrollView::scrollRectToVisible(const QRectF& r, bool animated)
{
    QPointF o = contentOffset();
    const QSizeF s = frame().size();
    if (r.bottom() > o.y() + s.height())
        o.setY(r.bottom() - s.height());
    if (r.top() < o.y())
        o.setY(r.top());
    if (r.right() > o.x() + s.width())
        o.setX(r.right() - s.width());
    if (r.left() < o.x())
        o.setX(r.left());
    setContentOffset(clamped(o), animated);
}

void ScrollView::stopMotion()
{
    const auto id = m_motion;
    m_motion = 0;
    AnimationClock::cancel(id);
    m_decelerating = false;
}

void ScrollView::beginDragForTesting()
{
    stopMotion();
    m_dragging = true;
    if (m_delegate)
        m_delegate->scrollViewWillBeginDragging(this);
}

void ScrollView::dragToOffsetForTesting(const QPointF& offset)
{
    if (!m_dragging)
        beginDragForTesting();
    applyOffset(offset);
}

void ScrollView::endDragForTesting(const QPointF& velocity)
{
    if (!m_dragging)
        return;
    QPointer<QObject> self(this);
    QPointF v = velocity;
    if (!canScrollVertically())
        v.setY(0);
    if (m_contentSize.width() <= frame().width())
        v.setX(0);
    QPointF target = contentOffset();
    if (m_delegate)
        m_delegate->scrollViewWillEndDragging(this, v, &target);
    if (!self)
        return;
    m_dragging = false;
    if (m_pagingEnabled) {
        const QPointF page = pagedTarget(v);
        const bool moves = page != contentOffset();
        if (m_delegate)
            m_delegate->scrollViewDidEndDragging(this, moves);
        if (self && moves)
            startPaging(page);
        return;
    }
    const bool outside = clamped(contentOffset()) != contentOffset();
    const bool decelerate = outside || std::hypot(v.x(), v.y()) > kRestSpeed;
    if (m_delegate)
        m_delegate->scrollViewDidEndDragging(this, decelerate);
    if (!self || !decelerate)
        return;
    // The range is read only now: the delegate may have changed the inset.
    startMotion(v);
}

QPointF ScrollView::pagedTarget(const QPointF& velocity) const
{
    // A flick faster than this turns the page even when less than half of it was dragged.
    constexpr qreal kFlickSpeed = 300;
    const QPointF offset = contentOffset();
    const QPointF low = minimumContentOffset();
    const QPointF high = maximumContentOffset();
    auto axis = [&](qreal position, qreal speed, qreal pageSize, qreal minimum, qreal maximum) {
        if (pageSize <= 0)
            return std::clamp(position, minimum, std::max(minimum, maximum));
        const qreal pages = (position - minimum) / pageSize;
        qreal index = std::round(pages);
        if (speed > kFlickSpeed)
            index = std::floor(pages) + 1;
        else if (speed < -kFlickSpeed)
            index = std::ceil(pages) - 1;
        return std::clamp(minimum + index * pageSize, minimum, std::max(minimum, maximum));
    };
    return QPointF(axis(offset.x(), velocity.x(), frame().width(), low.x(), high.x()),
                   axis(offset.y(), velocity.y(), frame().height(), low.y(), high.y()));
}

void ScrollView::startPaging(const QPointF& target)
{
    constexpr double kPagingSeconds = 0.3;
    m_decelerating = true;
    if (m_delegate)
        m_delegate->scrollViewWillBeginDecelerating(this);
    const QPointF from = contentOffset();
    m_motion = AnimationClock::animate(
        this, kPagingSeconds,
        [this, from, target](double t) {
            const double eased = 1 - (1 - t) * (1 - t);
            applyOffset(from + (target - from) * eased);
        },
        [this](bool finished) {
            if (!finished)
                return;
            m_motion = 0;
            m_decelerating = false;
            if (m_delegate)
                m_delegate->scrollViewDidEndDecelerating(this);
        });
}

void ScrollView::startMotion(QPointF velocity)
{
    m_decelerating = true;
    if (m_delegate)
        m_delegate->scrollViewWillBeginDecelerating(this);
    auto last = std::make_shared<double>(0);
    auto v = std::make_shared<QPointF>(velocity);
    m_motion = AnimationClock::run(this, [this, last, v](double elapsed) {
        const double dt = elapsed - *last;
        *last = elapsed;
        if (dt <= 0)
            return true;
        QPointF o = contentOffset();
        const QPointF edge = clamped(o);
        bool resting = true;
        for (int axis = 0; axis < 2; ++axis) {
            qreal& pos = axis ? o.ry() : o.rx();
            qreal& vel = axis ? v->ry() : v->rx();
            const qreal e = axis ? edge.y() : edge.x();
            if (std::abs(pos - e) > 1e-9) {
                if (!m_bounces) {
                    pos = e;
                    vel = 0;
                    continue;
                }
                // Outside: the overshoot is braked hard and the content springs back.
                vel *= std::pow(0.0005, dt);
                pos += vel * dt;
                pos = e + (pos - e) * std::exp(-kBounceRate * dt);
                if (std::abs(pos - e) < 0.5 && std::abs(vel) < 30) {
                    pos = e;
                    vel = 0;
                } else {
                    resting = false;
                }
            } else {
                vel *= std::pow(kDecelerationPerMs, dt * 1000);
                if (std::abs(vel) < kRestSpeed) {
                    vel = 0;
                    continue;
                }
                pos += vel * dt;
                resting = false;
            }
        }
        applyOffset(o);
        if (!resting)
            return true;
        m_motion = 0;
        m_decelerating = false;
        if (m_delegate)
            m_delegate->scrollViewDidEndDecelerating(this);
        return false;
    });
}

ScrollView* ScrollView::enclosingScrollView() const
{
    for (QWidget* w = parentWidget(); w; w = w->parentWidget()) {
        if (auto* scrollView = qobject_cast<ScrollView*>(w))
            return scrollView;
    }
    return nullptr;
}

void ScrollView::touchBegan(const QPointF& p, double seconds)
{
    // A touch whose end never came (its window lost the mouse) leaves no hold behind.
    if (std::exchange(m_grabbing, false))
        releaseMouse();
    m_pressed = true;
    m_moved = false;
    m_pressPoint = m_lastPoint = p;
    m_pressOffset = contentOffset();
    m_lastTime = seconds;
    m_velocity = QPointF();
    if (m_motion)
        stopMotion();
    m_passedTo = m_scrollEnabled ? nullptr : enclosingScrollView();
    if (m_passedTo)
        m_passedTo->touchBegan(p, seconds);
}

void ScrollView::touchMoved(const QPointF& p, double seconds)
{
    if (!m_pressed)
        return;
    if (!m_moved && (p - m_pressPoint).manhattanLength() >= kDragSlop)
        m_moved = true;
    if (m_passedTo) {
        m_passedTo->touchMoved(p, seconds);
        return;
    }
    if (!m_scrollEnabled || !m_moved)
        return;
    if (!m_dragging) {
        // As the platform's scroll view recognising its pan, the taps of the touch fail.
        TapGestureRecognizer::failTouchInProgress();
        beginDragForTesting();
    }
    QPointF raw = m_pressOffset - (p - m_pressPoint);
    if (!canScrollVertically())
        raw.setY(contentOffset().y());
    if (m_contentSize.width() <= frame().width())
        raw.setX(contentOffset().x());
    applyOffset(m_bounces ? rubberBanded(raw) : clamped(raw));
    if (seconds > m_lastTime)
        m_velocity = -(p - m_lastPoint) / (seconds - m_lastTime);
    m_lastPoint = p;
    m_lastTime = seconds;
}

bool ScrollView::touchEnded() { return finishTouch(false); }

bool ScrollView::finishTouch(bool cancelled)
{
    if (!m_pressed)
        return true;
    m_pressed = false;
    const bool moved = m_moved;
    m_moved = false;
    if (std::exchange(m_grabbing, false))
        releaseMouse();
    QPointer<QObject> self(this);
    if (QPointer<ScrollView> outer = std::exchange(m_passedTo, nullptr))
        outer->finishTouch(cancelled);
    // A cancelled touch throws nothing on.
    if (self && m_dragging)
        endDragForTesting(cancelled ? QPointF() : m_velocity);
    return moved;
}

bool ScrollView::isDraggingTouch() const
{
    return m_pressed && m_moved && (m_passedTo ? m_passedTo->m_dragging : m_dragging);
}

void ScrollView::takeTouch()
{
    if (m_grabbing)
        return;
    // The control the touch began on keeps getting it otherwise, and may leave meanwhile (a
    // tile reused as the content moves): the rest of the touch comes here whatever lies under it.
    m_grabbing = true;
    grabMouse();
}

ScrollView* ScrollView::followTouchFrom(View* view, const QMouseEvent* press)
{
    for (QWidget* w = view ? view->parentWidget() : nullptr; w; w = w->parentWidget()) {
        if (auto* scrollView = qobject_cast<ScrollView*>(w)) {
            scrollView->touchBegan(press->globalPosition(), press->timestamp() / 1000.0);
            return scrollView;
        }
    }
    return nullptr;
}

bool ScrollView::followedTouchMoved(const QMouseEvent* move)
{
    touchMoved(move->globalPosition(), move->timestamp() / 1000.0);
    if (!isDraggingTouch())
        return false;
    takeTouch();
    return true;
}

void ScrollView::followedTouchEnded() { touchEnded(); }

void ScrollView::cancelTouch() { finishTouch(true); }

void ScrollView::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton)
        return;
    // The events' own clock, as the moves use.
    touchBegan(e->globalPosition(), e->timestamp() / 1000.0);
}

void ScrollView::mouseMoveEvent(QMouseEvent* e)
{
    touchMoved(e->globalPosition(), e->timestamp() / 1000.0);
}

void ScrollView::mouseReleaseEvent(QMouseEvent* e)
{
    if (!m_pressed)
        return;
    // A finger held still before it lifts throws nothing on: the speed of its last move is
    // long gone.
    const double seconds = e->timestamp() / 1000.0;
    for (ScrollView* view = this; view; view = view->m_passedTo)
        if (seconds - view->m_lastTime > kStillBeforeLifting)
            view->m_velocity = QPointF();
    QPointer<QObject> self(this);
    const QPointF point = e->position();
    if (!touchEnded() && self)
        tapped(point + contentOffset());
}

void ScrollView::tapped(const QPointF& p) { handleTap(p); }

void ScrollView::wheelEvent(QWheelEvent* e)
{
    if ((e->modifiers() & Qt::ControlModifier) && zoomingView() && m_maximumZoomScale > m_minimumZoomScale) {
        // The desktop's pinch: zooms about the pointer, within the limits.
        const qreal notches = (e->angleDelta().y() ? e->angleDelta().y() : e->pixelDelta().y() * 3) / 120.0;
        AnimationClock::cancel(m_zoomAnimation);
        m_zoomAnimation = 0;
        stopMotion();
        applyZoom(clampedZoom(m_zoomScale * std::pow(kWheelZoomStep, notches)), e->position());
        e->accept();
        return;
    }
    if (!m_scrollEnabled) {
        // Left to the enclosing views: Qt hands an ignored wheel on to the parent.
        e->ignore();
        return;
    }
    stopMotion();
    const QPoint delta = e->pixelDelta().isNull() ? e->angleDelta() / 120 * 40 : e->pixelDelta();
    const QPointF target = clamped(contentOffset() - QPointF(delta));
    // A wheel never pulls past the range; an offset already outside it stays where it is.
    if (target != contentOffset() && clamped(contentOffset()) == contentOffset())
        applyOffset(target);
    e->accept();
}

View* ScrollView::zoomingView() const
{
    View* view = m_delegate ? m_delegate->viewForZoomingInScrollView(const_cast<ScrollView*>(this)) : nullptr;
    return view && view->superview() == this ? view : nullptr;
}

qreal ScrollView::clampedZoom(qreal scale) const
{
    return std::clamp(scale, m_minimumZoomScale, std::max(m_minimumZoomScale, m_maximumZoomScale));
}

void ScrollView::applyZoom(qreal scale, const QPointF& anchor, const std::optional<QPointF>& offset)
{
    View* view = zoomingView();
    if (!view || !(scale > 0) || scale == m_zoomScale)
        return;
    const QRectF old = view->frame();
    const QSizeF base = old.size() / m_zoomScale;
    // The point of the unscaled view under the anchor stays under it.
    const QPointF under = (contentOffset() + anchor - old.topLeft()) / m_zoomScale;
    m_zoomScale = scale;
    const QSizeF size = base * scale;
    view->setFrame(QRectF(QPointF(0, 0), size));
    m_contentSize = size;
    const QPointF target = offset ? *offset : under * scale - anchor;
    // A pinch may pull the content past its edges; everything else rests inside them.
    applyOffset(m_pinching ? target : clamped(target));
    update();
    if (m_delegate)
        m_delegate->scrollViewDidZoom(this);
}

void ScrollView::animateZoom(qreal toScale, const std::optional<QPointF>& toOffset, const QPointF& anchor, double seconds)
{
    const qreal fromScale = m_zoomScale;
    const QPointF fromOffset = contentOffset();
    m_zoomAnimation = AnimationClock::animate(
        this, seconds,
        [this, fromScale, toScale, fromOffset, toOffset, anchor](double t) {
            const double e = 1 - (1 - t) * (1 - t);
            const qreal scale = fromScale + (toScale - fromScale) * e;
            if (toOffset)
                applyZoom(scale, anchor, fromOffset + (*toOffset - fromOffset) * e);
            else
                applyZoom(scale, anchor);
        },
        [this](bool) { m_zoomAnimation = 0; });
}

void ScrollView::setZoomScale(qreal scale, bool animated)
{
    AnimationClock::cancel(m_zoomAnimation);
    m_zoomAnimation = 0;
    stopMotion();
    if (!zoomingView())
        return;
    const qreal target = clampedZoom(scale);
    const QPointF middle(frame().width() / 2, frame().height() / 2);
    if (!animated)
        applyZoom(target, middle);
    else
        animateZoom(target, std::nullopt, middle, kZoomSeconds);
}

void ScrollView::zoomToRect(const QRectF& rect, bool animated)
{
    AnimationClock::cancel(m_zoomAnimation);
    m_zoomAnimation = 0;
    stopMotion();
    if (!zoomingView() || !(rect.width() > 0) || !(rect.height() > 0))
        return;
    const QSizeF visible = frame().size();
    const qreal scale = clampedZoom(std::min(visible.width() / rect.width(), visible.height() / rect.height()));
    const QSizeF base = zoomingView()->frame().size() / m_zoomScale;
    // The rectangle's centre in the middle, as far as the content's edges allow.
    const QPointF wanted = rect.center() * scale - QPointF(visible.width() / 2, visible.height() / 2);
    const QPointF offset(std::clamp<qreal>(wanted.x(), 0, std::max<qreal>(0, base.width() * scale - visible.width())),
                         std::clamp<qreal>(wanted.y(), 0, std::max<qreal>(0, base.height() * scale - visible.height())));
    if (!animated)
        applyZoom(scale, QPointF(), offset);
    else
        animateZoom(scale, offset, QPointF(), kZoomSeconds);
}

void ScrollView::beginPinchForTesting(const QPointF& center)
{
    AnimationClock::cancel(m_zoomAnimation);
    m_zoomAnimation = 0;
    stopMotion();
    m_pinching = true;
    m_pinchStartScale = m_zoomScale;
    m_pinchCenter = center;
}

void ScrollView::pinchForTesting(qreal factor)
{
    if (!m_pinching || !(factor > 0))
        return;
    const qreal raw = m_pinchStartScale * factor;
    qreal scale = clampedZoom(raw);
    // Past a limit the view follows the fingers ever more reluctantly.
    if (m_bouncesZoom && raw != scale)
        scale *= std::pow(raw / scale, 0.3);
    applyZoom(scale, m_pinchCenter);
}

void ScrollView::endPinchForTesting()
{
    if (!m_pinching)
        return;
    m_pinching = false;
    const qreal rest = clampedZoom(m_zoomScale);
    if (rest != m_zoomScale) {
        animateZoom(rest, std::nullopt, m_pinchCenter, kZoomBounceSeconds);
        return;
    }
    const QPointF inside = clamped(contentOffset());
    if (inside != contentOffset())
        setContentOffset(inside, true);
}

void ScrollView::drawRect(QPainter& p)
{
    if (!m_showsIndicator || !(m_dragging || m_decelerating))
        return;
    const qreal h = frame().height();
    if (m_contentSize.height() <= h)
        return;
    // The track is the view's height less the indicator insets.
    const qreal track = std::max<qreal>(1, h - m_indicatorInsets.top - m_indicatorInsets.bottom);
    const qreal barH = std::min(track, std::max<qreal>(20, track * h / m_contentSize.height()));
    const qreal y = m_indicatorInsets.top
                    + (contentOffset().y() / std::max<qreal>(1, m_contentSize.height() - h)) * (track - barH);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(0, 0, 0, 90));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(width() - 5 - m_indicatorInsets.right, std::clamp<qreal>(y, m_indicatorInsets.top, m_indicatorInsets.top + track - barH), 3, barH), 1.5, 1.5);
}

} // namespace platform::uikit
