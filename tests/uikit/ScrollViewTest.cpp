#include "KitTestSupport.h"

#include "platform/uikit/ScrollView.h"
#include "platform/uikit/ScrollViewDelegate.h"

#include <QWheelEvent>

#include <functional>

using namespace platform::uikit;

namespace {
struct Recorder : ScrollViewDelegate {
    QStringList calls;
    QList<QPointF> offsetsWhileDragging;
    std::function<void(ScrollView*)> onEndDragging;
    void scrollViewDidScroll(ScrollView* s) override
    {
        calls << QStringLiteral("scroll");
        if (s->isDragging())
            offsetsWhileDragging << s->contentOffset();
    }
    void scrollViewWillBeginDragging(ScrollView*) override { calls << QStringLiteral("begin"); }
    void scrollViewWillEndDragging(ScrollView*, QPointF, QPointF*) override { calls << QStringLiteral("willEnd"); }
    void scrollViewDidEndDragging(ScrollView* s, bool decelerate) override
    {
        calls << (decelerate ? QStringLiteral("end+decelerate") : QStringLiteral("end"));
        if (onEndDragging)
            onEndDragging(s);
    }
    void scrollViewWillBeginDecelerating(ScrollView*) override { calls << QStringLiteral("decelerate"); }
    void scrollViewDidEndDecelerating(ScrollView*) override { calls << QStringLiteral("stopped"); }
};
} // namespace

class KitScrollView : public KitTest {};

TEST_F(KitScrollView, PullPastTheTopReportsExactOffsetsAndBouncesToTheInsetSetAtEndOfDrag)
{
    ScrollView s(QRectF(0, 0, 375, 600));
    s.setContentSize(QSizeF(375, 2000));
    Recorder r;
    s.setDelegate(&r);
    r.onEndDragging = [](ScrollView* sv) { sv->setContentInset({64, 0, 0, 0}); };
    s.beginDragForTesting();
    s.dragToOffsetForTesting(QPointF(0, -30));
    s.dragToOffsetForTesting(QPointF(0, -64));
    s.dragToOffsetForTesting(QPointF(0, -90));
    EXPECT_EQ(r.offsetsWhileDragging, (QList<QPointF>{QPointF(0, -30), QPointF(0, -64), QPointF(0, -90)}));
    s.endDragForTesting(QPointF(0, 0));
    const int endIndex = int(r.calls.indexOf(QStringLiteral("end+decelerate")));
    ASSERT_GE(endIndex, 0);
    EXPECT_EQ(r.calls.indexOf(QStringLiteral("willEnd")), endIndex - 1);
    EXPECT_EQ(r.calls.lastIndexOf(QStringLiteral("scroll"), endIndex), endIndex - 2);  // no did-scroll in between
    AnimationClock::advance(3);
    EXPECT_EQ(s.contentOffset(), QPointF(0, -64));  // the new inset edge, not 0
    EXPECT_EQ(r.calls.last(), QStringLiteral("stopped"));
    EXPECT_FALSE(s.isDecelerating());
}

TEST_F(KitScrollView, ReleaseWithVelocityDeceleratesWithinTheRangeThenRests)
{
    ScrollView s(QRectF(0, 0, 375, 600));
    s.setContentSize(QSizeF(375, 5000));
    Recorder r;
    s.setDelegate(&r);
    s.dragToOffsetForTesting(QPointF(0, 100));
    s.endDragForTesting(QPointF(0, 1500));
    EXPECT_TRUE(s.isDecelerating());
    AnimationClock::advance(0.2);
    const qreal mid = s.contentOffset().y();
    EXPECT_GT(mid, 200);
    AnimationClock::advance(10);
    EXPECT_FALSE(s.isDecelerating());
    EXPECT_GT(s.contentOffset().y(), mid);
    EXPECT_LE(s.contentOffset().y(), s.maximumContentOffset().y());
    // A fling past the end bounces back to the end.
    s.dragToOffsetForTesting(QPointF(0, 4300));
    s.endDragForTesting(QPointF(0, 4000));
    AnimationClock::advance(10);
    EXPECT_EQ(s.contentOffset(), QPointF(0, 4400));
    // Released at rest inside the range: no deceleration at all.
    r.calls.clear();
    s.dragToOffsetForTesting(QPointF(0, 1000));
    s.endDragForTesting(QPointF(0, 0));
    EXPECT_EQ(r.calls.last(), QStringLiteral("end"));
    EXPECT_FALSE(s.isDecelerating());
}

TEST_F(KitScrollView, RangeWidensWithTheInsetAndTheWheelNeverOverscrolls)
{
    ScrollView s(QRectF(0, 0, 320, 400));
    s.setContentSize(QSizeF(320, 300));  // shorter than the view
    EXPECT_EQ(s.maximumContentOffset(), QPointF(0, 0));
    s.setContentInset({64, 0, 50, 0});
    EXPECT_EQ(s.minimumContentOffset(), QPointF(0, -64));
    EXPECT_EQ(s.maximumContentOffset(), QPointF(0, -50));  // 300 + 50 - 400
    s.setContentSize(QSizeF(320, 1000));
    EXPECT_EQ(s.maximumContentOffset(), QPointF(0, 650));
    s.setContentOffset(QPointF(0, 0));
    QWheelEvent up(QPointF(10, 10), QPointF(10, 10), QPoint(0, 400), QPoint(0, 400), Qt::NoButton, Qt::NoModifier,
                   Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(&s, &up);
    EXPECT_EQ(s.contentOffset(), QPointF(0, -64));  // the inset edge, never beyond
    QWheelEvent down(QPointF(10, 10), QPointF(10, 10), QPoint(0, -4000), QPoint(0, -4000), Qt::NoButton,
                     Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(&s, &down);
    EXPECT_EQ(s.contentOffset(), QPointF(0, 650));
}

TEST_F(KitScrollView, AnimatedInsetMovesAnOffsetRestingOnTheEdge)
{
    ScrollView s(QRectF(0, 0, 320, 400));
    s.setContentSize(QSizeF(320, 1000));
    s.setContentInset({64, 0, 0, 0});
    s.setContentOffset(QPointF(0, -64));
    s.setContentInset({0, 0, 0, 0}, 0.3);
    AnimationClock::advance(0.15);
    EXPECT_GT(s.contentOffset().y(), -64);
    EXPECT_LT(s.contentOffset().y(), 0);
    AnimationClock::advance(0.3);
    EXPECT_EQ(s.contentOffset(), QPointF(0, 0));
    EXPECT_EQ(s.contentInset(), EdgeInsets{});
}
