#pragma once

#include <QPointF>

namespace platform::uikit {

class ScrollView;
class View;

// Told of scrolling in the platform's order: will-begin-dragging, did-scroll while dragging,
// will-end-dragging (may change the target), did-end-dragging, then will-begin-decelerating,
// did-scroll and did-end-decelerating when the view moves on by itself.
class ScrollViewDelegate {
public:
    virtual ~ScrollViewDelegate() = default;
    virtual void scrollViewDidScroll(ScrollView*) {}
    virtual void scrollViewWillBeginDragging(ScrollView*) {}
    virtual void scrollViewWillEndDragging(ScrollView*, QPointF /*velocity*/, QPointF* /*targetContentOffset*/) {}
    virtual void scrollViewDidEndDragging(ScrollView*, bool /*willDecelerate*/) {}
    virtual void scrollViewWillBeginDecelerating(ScrollView*) {}
    virtual void scrollViewDidEndDecelerating(ScrollView*) {}
    virtual void scrollViewDidEndScrollingAnimation(ScrollView*) {}
    // The view a zoom scales; none (the default) keeps the scroll view from zooming.
    virtual View* viewForZoomingInScrollView(ScrollView*) { return nullptr; }
    // After every change of the zoom scale, the zoomed view already resized.
    virtual void scrollViewDidZoom(ScrollView*) {}
};

} // namespace platform::uikit
