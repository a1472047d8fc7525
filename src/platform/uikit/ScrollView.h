#pragma once

#include "platform/uikit/AnimationClock.h"
#include "platform/uikit/View.h"

#include <QList>
#include <QPointer>

#include <optional>

namespace platform::uikit {

class ScrollViewDelegate;

// A scrolling view of our own: the content offset is the bounds origin and may go negative;
// the content inset widens the range; a drag past the edges rubber-bands, a release moves on
// with deceleration and bounces back to the range edge, which is computed after the delegate's
// did-end-dragging has returned (so an inset set there is the target). A wheel never
// overscrolls. Every movement runs on the kit's animation clock.
//
// Zooming scales the delegate's view for zooming by its frame (the kit draws no transforms):
// the view keeps the size it had at scale 1 times the zoom scale, sits at the content's
// origin, and the content size follows it; the delegate hears of each change (did-zoom) and
// may move the view, for instance to centre it. A pinch past the limits stretches reluctantly
// when zoom bounces and springs back to the limit as it ends.
//
// A touch that moves more than a few points is a drag, never a tap: the view's tap (a table's
// row selection) is cancelled, and so are the taps of the touch's recognisers. So is a touch
// that began on a control inside the content: once it is a drag the scroll view has the rest
// of it, wherever the control goes meanwhile, and the control sends touch-cancel and no action.
// A tap recognised in the content ends the scroll view's touch as cancelled: no row is selected
// by it too. A scroll view whose scrolling is off passes the wheel and its drags on to the
// nearest enclosing scroll view, as a list laid inside a scrolling page needs.
class ScrollView : public View {
    Q_OBJECT
public:
    explicit ScrollView(const QRectF& frame = QRectF(), View* superview = nullptr);
    ~ScrollView() override;

    QPointF contentOffset() const { return bounds().topLeft(); }
    void setContentOffset(const QPointF& offset);
    void setContentOffset(const QPointF& offset, bool animated);
    QSizeF contentSize() const { return m_contentSize; }
    void setContentSize(const QSizeF& size);
    EdgeInsets contentInset() const { return m_contentInset; }
    // With a duration, the inset moves there on the clock (an offset resting on the old top
    // edge follows it).
    void setContentInset(const EdgeInsets& inset, double duration = 0);
    void scrollRectToVisible(const QRectF& rect, bool animated);

    ScrollViewDelegate* delegate() const { return m_delegate; }
    void setDelegate(ScrollViewDelegate* delegate) { m_delegate = delegate; }
    bool isDragging() const { return m_dragging; }
    bool isDecelerating() const { return m_decelerating; }
    bool isTracking() const { return m_dragging; }
    bool bounces() const { return m_bounces; }
    void setBounces(bool on) { m_bounces = on; }
    bool alwaysBounceVertical() const { return m_alwaysBounceVertical; }
    void setAlwaysBounceVertical(bool on) { m_alwaysBounceVertical = on; }
    bool isScrollEnabled() const { return m_scrollEnabled; }
    void setScrollEnabled(bool on) { m_scrollEnabled = on; }
    // With paging, a released drag comes to rest on a whole multiple of the view's size: the
    // next page in the direction of a quick flick, else the nearest one.
    bool isPagingEnabled() const { return m_pagingEnabled; }
    void setPagingEnabled(bool on) { m_pagingEnabled = on; }
    bool scrollsToTop() const { return m_scrollsToTop; }
    void setScrollsToTop(bool on) { m_scrollsToTop = on; }
    bool showsVerticalScrollIndicator() const { return m_showsIndicator; }
    void setShowsVerticalScrollIndicator(bool on) { m_showsIndicator = on; }
    // Where the indicator runs: the bounds inset by these.
    EdgeInsets scrollIndicatorInsets() const { return m_indicatorInsets; }
    void setScrollIndicatorInsets(const EdgeInsets& insets) { m_indicatorInsets = insets; update(); }

    qreal zoomScale() const { return m_zoomScale; }
    // Clamped to the limits; without a view for zooming nothing changes. Not animated, the
    // point at the middle of the visible area stays where it is.
    void setZoomScale(qreal scale, bool animated = false);
    qreal minimumZoomScale() const { return m_minimumZoomScale; }
    void setMinimumZoomScale(qreal scale) { m_minimumZoomScale = scale; }
    qreal maximumZoomScale() const { return m_maximumZoomScale; }
    void setMaximumZoomScale(qreal scale) { m_maximumZoomScale = scale; }
    bool bouncesZoom() const { return m_bouncesZoom; }
    void setBouncesZoom(bool on) { m_bouncesZoom = on; }
    // Zooms so that `rect`, in the zoomed view's own (unscaled) coordinates, fills the visible
    // area as far as the limits allow, centred on it.
    void zoomToRect(const QRectF& rect, bool animated);
    bool isZooming() const { return m_pinching; }
    bool isZoomBouncing() const { return m_zoomAnimation != 0 && !m_pinching; }

    // The offsets the view rests between: top-left at minus the inset, bottom-right at the
    // content's end plus the inset (never above the minimum).
    QPointF minimumContentOffset() const;
    QPointF maximumContentOffset() const;

    void setFrame(const QRectF& frame) override;
    // A view inside this one that draws only what this view shows of it (a table whose own
    // scrolling is off makes cells for those rows alone) is told whenever that may have
    // changed: this view scrolled, moved or changed size.
    void addClippedDescendant(ScrollView* view);

    // A touch that began on a control inside a scroll view: the control keeps the press and
    // hands the touch to the nearest enclosing scroll view to follow (nullptr outside any). A
    // move answers true once the touch has become the scroll view's drag: the view then has
    // the rest of it, and the control lets go.
    static ScrollView* followTouchFrom(View* view, const QMouseEvent* press);
    bool followedTouchMoved(const QMouseEvent* move);
    void followedTouchEnded();
    // Ends the touch under way as cancelled (a recogniser in the content took it as its tap):
    // it selects nothing and scrolls no further.
    void cancelTouch();

    // A finger drag for tests: begin, move to exact offsets, end with a velocity in points per
    // second (the view then moves on by the clock).
    void beginDragForTesting();
    void dragToOffsetForTesting(const QPointF& offset);
    void endDragForTesting(const QPointF& velocity);
    // A two-finger pinch for tests: fingers centred on `center` (the scroll view's own
    // coordinates), spread to `scale` times their first distance, then lifted.
    void beginPinchForTesting(const QPointF& center);
    void pinchForTesting(qreal scale);
    void endPinchForTesting();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void drawRect(QPainter& painter) override;
    // Told after every change of the offset, before the delegate.
    virtual void contentOffsetDidChange() {}
    // Told, as a clipped descendant, that an enclosing scroll view scrolled, moved or changed size.
    virtual void enclosingScrollViewDidChange() {}
    void tapped(const QPointF& pointInContent);
    virtual void handleTap(const QPointF& /*pointInContent*/) {}

private:
    // One finger's touch, in global coordinates and the events' own seconds; the end answers
    // whether the touch moved past the slop (and so was no tap).
    void touchBegan(const QPointF& globalPoint, double seconds);
    void touchMoved(const QPointF& globalPoint, double seconds);
    bool touchEnded();
    bool finishTouch(bool cancelled);
    // Whether the touch under way is a drag of this view or of the one it passes its touches to.
    bool isDraggingTouch() const;
    // Takes the rest of the touch under way, now a drag, from the control it began on.
    void takeTouch();
    ScrollView* enclosingScrollView() const;
    void applyOffset(const QPointF& offset);
    void tellClippedDescendants();
    void stopMotion();
    void startMotion(QPointF velocity);
    QPointF clamped(const QPointF& offset) const;
    QPointF rubberBanded(const QPointF& offset) const;
    bool canScrollVertically() const;
    View* zoomingView() const;
    // Sets the scale keeping the content point under `anchor` (visible coordinates) in place,
    // or with an explicit offset.
    void applyZoom(qreal scale, const QPointF& anchor, const std::optional<QPointF>& offset = std::nullopt);
    void animateZoom(qreal toScale, const std::optional<QPointF>& toOffset, const QPointF& anchor, double seconds);
    qreal clampedZoom(qreal scale) const;
    QPointF pagedTarget(const QPointF& velocity) const;
    void startPaging(const QPointF& target);

    QPointer<QObject> m_guard;
    ScrollViewDelegate* m_delegate = nullptr;
    QSizeF m_contentSize{0, 0};
    EdgeInsets m_contentInset;
    EdgeInsets m_indicatorInsets;
    bool m_dragging = false;
    bool m_decelerating = false;
    bool m_bounces = true;
    bool m_alwaysBounceVertical = false;
    bool m_scrollEnabled = true;
    bool m_scrollsToTop = true;
    bool m_showsIndicator = true;
    bool m_pagingEnabled = false;
    AnimationClock::Id m_motion = 0;
    AnimationClock::Id m_insetAnimation = 0;
    AnimationClock::Id m_zoomAnimation = 0;
    qreal m_zoomScale = 1;
    qreal m_minimumZoomScale = 1;
    qreal m_maximumZoomScale = 1;
    bool m_bouncesZoom = true;
    bool m_pinching = false;
    qreal m_pinchStartScale = 1;
    QPointF m_pinchCenter;
    // Mouse tracking.
    bool m_pressed = false;
    bool m_moved = false;
    // Holding the mouse for the rest of a drag that began on a control in the content.
    bool m_grabbing = false;
    // Where a touch of a view whose scrolling is off goes on to, for as long as it lasts.
    QPointer<ScrollView> m_passedTo;
    QList<QPointer<ScrollView>> m_clippedDescendants;
    QPointF m_pressPoint;
    QPointF m_pressOffset;
    QPointF m_lastPoint;
    double m_lastTime = 0;
    QPointF m_velocity;
};

} // namespace platform::uikit
