#include "platform/foundation/MainClock.h"
#include "KitTestSupport.h"

#include "platform/uikit/ImageView.h"
#include "platform/uikit/LongPressGestureRecognizer.h"
#include "platform/uikit/PageControl.h"
#include "platform/uikit/PushTransition.h"
#include "platform/uikit/ScrollView.h"
#include "platform/uikit/ScrollViewDelegate.h"
#include "platform/uikit/SwipeGestureRecognizer.h"
#include "platform/uikit/View.h"

#include <QApplication>
#include <QMouseEvent>
#include <QWheelEvent>

using namespace platform::uikit;

namespace {

using ZoomAndPagingTest = KitTest;

// Zooms one view and counts the did-zoom calls, centring the view as a picture viewer does.
struct ZoomingDelegate : ScrollViewDelegate {
    View* zoomed = nullptr;
    int didZoom = 0;
    bool centre = false;
    View* viewForZoomingInScrollView(ScrollView*) override { return zoomed; }
    void scrollViewDidZoom(ScrollView* scrollView) override
    {
        ++didZoom;
        if (!centre)
            return;
        const QRectF f = zoomed->frame();
        const QSizeF b = scrollView->frame().size();
        zoomed->setFrame(QRectF(f.width() < b.width() ? (b.width() - f.width()) / 2 : 0,
                                f.height() < b.height() ? (b.height() - f.height()) / 2 : 0, f.width(), f.height()));
    }
};

// A 300×400 scroll view zooming one view up to `maximum`.
struct Zoomable {
    explicit Zoomable(const QRectF& pictureFrame, qreal maximum)
    {
        delegate.zoomed = picture;
        scroll.setDelegate(&delegate);
        scroll.setMaximumZoomScale(maximum);
        picture->setFrame(pictureFrame);
    }
    ScrollView scroll{QRectF(0, 0, 300, 400)};
    View* picture = new View(QRectF(), &scroll);
    ZoomingDelegate delegate;
};

void mouse(QWidget* widget, QEvent::Type type, const QPointF& at, quint64 timestamp)
{
    QMouseEvent event(type, at, widget->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    event.setTimestamp(timestamp);
    QApplication::sendEvent(widget, &event);
}

TEST_F(ZoomAndPagingTest, ZoomScalesTheDelegatesViewWithinItsLimits)
{
    ScrollView scroll(QRectF(0, 0, 300, 400));
    auto* picture = new View(QRectF(0, 100, 300, 200), &scroll);
    ZoomingDelegate delegate;
    scroll.setDelegate(&delegate);
    scroll.setMaximumZoomScale(4);

    // Without a view for zooming nothing changes.
    scroll.setZoomScale(2);
    EXPECT_EQ(scroll.zoomScale(), 1);
    EXPECT_EQ(delegate.didZoom, 0);

    delegate.zoomed = picture;
    scroll.setZoomScale(2);
    EXPECT_EQ(scroll.zoomScale(), 2);
    EXPECT_EQ(picture->frame(), QRectF(0, 0, 600, 400));
    EXPECT_EQ(scroll.contentSize(), QSizeF(600, 400));
    EXPECT_EQ(delegate.didZoom, 1);
    // The middle of what was visible stays in the middle: (150, 200) of the content was the
    // picture's (150, 100), now at (300, 200).
    EXPECT_EQ(scroll.contentOffset(), QPointF(150, 0));

    scroll.setZoomScale(9);
    EXPECT_EQ(scroll.zoomScale(), 4);
    EXPECT_EQ(picture->frame().size(), QSizeF(1200, 800));
    scroll.setZoomScale(0.2);
    EXPECT_EQ(scroll.zoomScale(), 1);
    EXPECT_EQ(picture->frame().size(), QSizeF(300, 200));
}

TEST_F(ZoomAndPagingTest, ZoomToARectangleFillsTheViewWithItOnTheClock)
{
    Zoomable z(QRectF(0, 0, 300, 400), 4);
    ScrollView& scroll = z.scroll;
    View* picture = z.picture;
    scroll.setContentSize(QSizeF(300, 400));

    // A rectangle a third of the view's size around (200, 100): scale 3, its centre in the middle.
    scroll.zoomToRect(QRectF(150, 100 - 400.0 / 6, 100, 400.0 / 3), true);
    AnimationClock::advance(0.1);
    EXPECT_GT(scroll.zoomScale(), 1);
    EXPECT_LT(scroll.zoomScale(), 3);
    AnimationClock::advance(0.5);
    EXPECT_DOUBLE_EQ(scroll.zoomScale(), 3);
    EXPECT_EQ(picture->frame().size(), QSizeF(900, 1200));
    EXPECT_EQ(scroll.contentOffset(), QPointF(450, 100));

    // Past the limits and against the content's edges it stops at both.
    scroll.zoomToRect(QRectF(0, 0, 10, 10), false);
    EXPECT_EQ(scroll.zoomScale(), 4);
    EXPECT_EQ(scroll.contentOffset(), QPointF(0, 0));
}

TEST_F(ZoomAndPagingTest, APinchPastTheLimitStretchesAndSpringsBack)
{
    Zoomable z(QRectF(0, 100, 300, 200), 2);
    ScrollView& scroll = z.scroll;
    View* picture = z.picture;
    z.delegate.centre = true;

    scroll.beginPinchForTesting(QPointF(150, 200));
    scroll.pinchForTesting(1.5);
    EXPECT_TRUE(scroll.isZooming());
    EXPECT_DOUBLE_EQ(scroll.zoomScale(), 1.5);
    // Centred by the delegate: narrower than the view it is not.
    EXPECT_EQ(picture->frame(), QRectF(0, 50, 450, 300));
    scroll.pinchForTesting(4);
    const qreal stretched = scroll.zoomScale();
    EXPECT_GT(stretched, 2);
    EXPECT_LT(stretched, 4);
    scroll.endPinchForTesting();
    EXPECT_FALSE(scroll.isZooming());
    EXPECT_TRUE(scroll.isZoomBouncing());
    AnimationClock::advance(0.5);
    EXPECT_DOUBLE_EQ(scroll.zoomScale(), 2);
    EXPECT_FALSE(scroll.isZoomBouncing());

    // Without zoom bounce the fingers stop at the limit.
    scroll.setBouncesZoom(false);
    scroll.beginPinchForTesting(QPointF(150, 200));
    scroll.pinchForTesting(0.1);
    EXPECT_DOUBLE_EQ(scroll.zoomScale(), 1);
    scroll.endPinchForTesting();
    EXPECT_EQ(picture->frame(), QRectF(0, 100, 300, 200));
}

TEST_F(ZoomAndPagingTest, AWheelTurnedWithControlZoomsAboutThePointer)
{
    Zoomable z(QRectF(0, 0, 300, 400), 4);
    ScrollView& scroll = z.scroll;
    QWheelEvent in(QPointF(0, 0), QPointF(0, 0), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::ControlModifier,
                   Qt::NoScrollPhase, false);
    QApplication::sendEvent(&scroll, &in);
    EXPECT_NEAR(scroll.zoomScale(), 1.1, 1e-9);
    EXPECT_EQ(scroll.contentOffset(), QPointF(0, 0));  // the top-left corner stays under the pointer
    QWheelEvent out(QPointF(0, 0), QPointF(0, 0), QPoint(), QPoint(0, -1200), Qt::NoButton, Qt::ControlModifier,
                    Qt::NoScrollPhase, false);
    QApplication::sendEvent(&scroll, &out);
    EXPECT_EQ(scroll.zoomScale(), 1);
}

TEST_F(ZoomAndPagingTest, PageControlDrawsADotPerPageAndNoneForASinglePage)
{
    PageControl pages(QRectF(0, 0, 375, 24));
    pages.setBackgroundColor(QColor(Qt::black));
    pages.setNumberOfPages(12);
    pages.setCurrentPage(20);
    EXPECT_EQ(pages.currentPage(), 11);
    // Twelve 7-point dots 16 apart, centred: 183 wide from 96.
    EXPECT_EQ(pages.indicatorRect(0), QRectF(96, 8, 7, 7));
    EXPECT_EQ(pages.indicatorRect(11), QRectF(272, 8, 7, 7));
    pages.setCurrentPage(8);
    QImage grab = pages.grab().toImage();
    EXPECT_EQ(QColor(grab.pixel(96 + 8 * 16 + 3, 11)), QColor(Qt::white));
    EXPECT_LT(QColor(grab.pixel(96 + 3, 11)).red(), 200);
    EXPECT_GT(QColor(grab.pixel(96 + 3, 11)).red(), 40);

    pages.setNumberOfPages(1);
    EXPECT_TRUE(pages.showsIndicators());
    pages.setHidesForSinglePage(true);
    EXPECT_FALSE(pages.showsIndicators());
    grab = pages.grab().toImage();
    for (int x = 0; x < 375; ++x)
        ASSERT_EQ(QColor(grab.pixel(x, 11)), QColor(Qt::black)) << x;
}

TEST_F(ZoomAndPagingTest, PushTransitionSlidesTheViewInWithoutMovingItsFrame)
{
    View host(QRectF(0, 0, 300, 400));
    auto* slide = new View(QRectF(10, 20, 200, 100), &host);
    PushTransition::add(slide, TransitionFromRight, 0.22, QStringLiteral("page"));
    EXPECT_TRUE(PushTransition::isRunning(slide, QStringLiteral("page")));
    EXPECT_EQ(slide->geometry().topLeft(), QPoint(210, 20));
    AnimationClock::advance(0.11);
    EXPECT_GT(slide->geometry().left(), 10);
    EXPECT_LT(slide->geometry().left(), 210);
    // A layout meanwhile keeps its place under the slide.
    slide->setFrame(QRectF(0, 0, 200, 100));
    EXPECT_EQ(slide->frame(), QRectF(0, 0, 200, 100));
    // A newer one under the same key starts over, from the other side.
    PushTransition::add(slide, TransitionFromLeft, 0.22, QStringLiteral("page"));
    EXPECT_EQ(slide->geometry().topLeft(), QPoint(-200, 0));
    AnimationClock::advance(0.3);
    EXPECT_FALSE(PushTransition::isRunning(slide, QStringLiteral("page")));
    EXPECT_EQ(slide->geometry().topLeft(), QPoint(0, 0));
    EXPECT_EQ(slide->presentationOffset(), QPointF());
    // The view going ends it without a further step.
    PushTransition::add(slide, TransitionFromRight, 0.22, QStringLiteral("page"));
    delete slide;
    AnimationClock::advance(0.3);
}

TEST_F(ZoomAndPagingTest, SwipesRecogniseQuickStrokesInTheirDirectionWhenAllowed)
{
    View surface(QRectF(0, 0, 375, 600));
    int lefts = 0;
    bool allowed = true;
    auto* left = new SwipeGestureRecognizer(&surface, [&] { ++lefts; });
    left->setDirection(SwipeDirectionLeft);
    left->setShouldBegin([&] { return allowed; });

    left->swipeForTesting(QPointF(300, 300), SwipeDirectionRight);
    EXPECT_EQ(lefts, 0);
    left->swipeForTesting(QPointF(300, 300), SwipeDirectionLeft);
    EXPECT_EQ(lefts, 1);
    EXPECT_EQ(left->location(), QPointF(300, 300));
    allowed = false;
    left->swipeForTesting(QPointF(300, 300), SwipeDirectionLeft);
    EXPECT_EQ(lefts, 1);
    allowed = true;

    // A finger: quick and far enough counts; slow, short or slanted does not.
    mouse(&surface, QEvent::MouseButtonPress, QPointF(300, 300), 1000);
    mouse(&surface, QEvent::MouseMove, QPointF(250, 305), 1100);
    mouse(&surface, QEvent::MouseButtonRelease, QPointF(200, 310), 1200);
    EXPECT_EQ(lefts, 2);
    mouse(&surface, QEvent::MouseButtonPress, QPointF(300, 300), 2000);
    mouse(&surface, QEvent::MouseButtonRelease, QPointF(200, 300), 2900);
    mouse(&surface, QEvent::MouseButtonPress, QPointF(300, 300), 3000);
    mouse(&surface, QEvent::MouseButtonRelease, QPointF(270, 300), 3100);
    mouse(&surface, QEvent::MouseButtonPress, QPointF(300, 300), 4000);
    mouse(&surface, QEvent::MouseButtonRelease, QPointF(200, 220), 4100);
    EXPECT_EQ(lefts, 2);
}

TEST_F(ZoomAndPagingTest, LongPressBeginsAfterItsDurationAndEndsWhenLifted)
{
    View surface(QRectF(0, 0, 200, 200));
    QList<int> states;
    bool allowed = true;
    LongPressGestureRecognizer* press = nullptr;
    press = new LongPressGestureRecognizer(&surface, [&] { states.append(press->state()); });
    press->setShouldBegin([&] { return allowed; });
    press->beginPressForTesting(QPointF(50, 60));
    EXPECT_EQ(press->location(), QPointF(50, 60));
    press->endPressForTesting();
    EXPECT_EQ(states, (QList<int>{GestureStateBegan, GestureStateEnded}));
    allowed = false;
    press->beginPressForTesting(QPointF(50, 60));
    press->endPressForTesting();
    EXPECT_EQ(states.size(), 2);
    allowed = true;

    // A finger held past a short minimum duration, moved a little, lifted.
    states.clear();
    press->setMinimumPressDuration(0.05);
    mouse(&surface, QEvent::MouseButtonPress, QPointF(20, 20), 0);
    platform::MainClock::advanceForTesting(0.04);
    EXPECT_TRUE(states.isEmpty());
    platform::MainClock::advanceForTesting(0.02);
    ASSERT_EQ(states.size(), 1);
    mouse(&surface, QEvent::MouseMove, QPointF(30, 20), 0);
    mouse(&surface, QEvent::MouseButtonRelease, QPointF(30, 20), 0);
    EXPECT_EQ(states, (QList<int>{GestureStateBegan, GestureStateChanged, GestureStateEnded}));

    // Moved away before the duration: a drag, not a press. A second recogniser with the same
    // duration that tolerates the move tells when the duration has passed.
    states.clear();
    press->setMinimumPressDuration(0.1);
    int witnessed = 0;
    auto* witness = new LongPressGestureRecognizer(&surface, [&] { ++witnessed; });
    witness->setMinimumPressDuration(0.1);
    witness->setAllowableMovement(1000);
    mouse(&surface, QEvent::MouseButtonPress, QPointF(20, 20), 0);
    mouse(&surface, QEvent::MouseMove, QPointF(60, 20), 0);
    platform::MainClock::advanceForTesting(0.11);
    EXPECT_EQ(witnessed, 1);
    mouse(&surface, QEvent::MouseButtonRelease, QPointF(60, 20), 0);
    EXPECT_TRUE(states.isEmpty());
}

} // namespace
