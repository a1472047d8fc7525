#include "shared/KRPullRefreshView.h"

#include "look/KRTheme.h"
#include "platform/uikit/ActivityIndicatorView.h"
#include "platform/uikit/AnimationClock.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/ScrollView.h"

#include <QPointer>

using namespace platform::uikit;

namespace {

constexpr double kBeginSeconds = 0.2;
constexpr double kEndSeconds = 0.25;
constexpr qreal kLabelInset = 44;
constexpr qreal kSpinnerCenterX = 32;

struct StateLook {
    const char16_t* text;
    bool spinning;
};
constexpr StateLook kLooks[] = {
    {u"下拉更新", false},
    {u"松开更新", false},
    {u"正在更新…", true},
};

} // namespace

KRPullRefreshView::KRPullRefreshView(const QRectF& frame, View* superview)
    : View(frame, superview)
    , m_statusLabel(new Label(QRectF(), this))
    , m_spinner(new ActivityIndicatorView(ActivityIndicatorStyleGray, this))
{
    setAutoresizingMask(AutoresizingFlexibleWidth);
    m_statusLabel->setBackgroundColor(QBrush(Qt::NoBrush));
    m_statusLabel->setTextAlignment(TextAlignmentCenter);
    m_statusLabel->setFont(Label::systemFont(12, true));
    setState(KRPullRefreshStateIdle);
    applyTheme();
    layoutSubviews();
}

void KRPullRefreshView::setState(int state)
{
    m_state = state;
    const StateLook& look = kLooks[state];
    m_statusLabel->setText(QString::fromUtf16(look.text));
    if (look.spinning)
        m_spinner->startAnimating();
    else
        m_spinner->stopAnimating();
}

void KRPullRefreshView::updateForScrollView(ScrollView* scrollView)
{
    if (!scrollView || m_state == KRPullRefreshStateRefreshing)
        return;
    const bool armed = scrollView->isDragging() && scrollView->contentOffset().y() <= -kPullDistance;
    const int next = armed ? KRPullRefreshStateArmed : KRPullRefreshStateIdle;
    if (next != m_state)
        setState(next);
}

void KRPullRefreshView::beginRefreshingInScrollView(ScrollView* scrollView)
{
    if (!scrollView || m_state == KRPullRefreshStateRefreshing)
        return;
    setState(KRPullRefreshStateRefreshing);
    const EdgeInsets from = scrollView->contentInset();
    m_topInsetBeforeRefresh = from.top;
    const QPointF fromOffset = scrollView->contentOffset();
    if (fromOffset.y() <= -kPullDistance) {
        // Released past the pull distance: the content already shows the header, and the
        // scroll view settles on the new edge once the drag has ended.
        EdgeInsets inset = scrollView->contentInset();
        inset.top = kPullDistance;
        scrollView->setContentInset(inset);
        return;
    }
    QPointer<ScrollView> target = scrollView;
    m_beginAnimation = AnimationClock::animate(scrollView, kBeginSeconds, [target, from, fromOffset](double t) {
        if (!target)
            return;
        // Other edges are read afresh: the list may change them while this runs.
        const auto mix = [t](qreal a, qreal b) { return t >= 1 ? b : a + (b - a) * t; };
        EdgeInsets inset = target->contentInset();
        inset.top = mix(from.top, kPullDistance);
        target->setContentInset(inset);
        target->setContentOffset(QPointF(mix(fromOffset.x(), 0), mix(fromOffset.y(), -kPullDistance)));
    });
}

void KRPullRefreshView::endRefreshingInScrollView(ScrollView* scrollView)
{
    if (m_state != KRPullRefreshStateRefreshing)
        return;
    setState(KRPullRefreshStateIdle);
    AnimationClock::cancel(m_beginAnimation);
    m_beginAnimation = 0;
    const qreal top = m_topInsetBeforeRefresh.value_or(0);
    m_topInsetBeforeRefresh.reset();
    if (!scrollView)
        return;
    EdgeInsets inset = scrollView->contentInset();
    inset.top = top;
    scrollView->setContentInset(inset, kEndSeconds);
}

void KRPullRefreshView::applyTheme()
{
    const KRTheme* theme = KRTheme::sharedTheme();
    setBackgroundColor(theme->backgroundColor());
    m_statusLabel->setTextColor(theme->secondaryTextColor());
    m_spinner->setActivityIndicatorViewStyle(theme->spinnerStyle());
}

void KRPullRefreshView::layoutSubviews()
{
    const QSizeF size = frame().size();
    m_statusLabel->setFrame(QRectF(kLabelInset, 0, std::max<qreal>(size.width() - 2 * kLabelInset, 0), size.height()));
    m_spinner->setCenter(QPointF(kSpinnerCenterX, size.height() / 2));
}
