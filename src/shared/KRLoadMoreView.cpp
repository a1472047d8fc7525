#include "shared/KRLoadMoreView.h"

#include "look/KRTheme.h"
#include "platform/uikit/ActivityIndicatorView.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Control.h"
#include "platform/uikit/Label.h"

using namespace platform::uikit;

namespace {

const QString kDefaultIdleTitle = QStringLiteral("上拉加载更多");
constexpr qreal kSpinnerCenterX = 42;

} // namespace

KRLoadMoreView::KRLoadMoreView(const QRectF& frame, View* superview)
    : View(frame, superview)
    , m_button(new Button(ButtonTypeCustom, QRectF(QPointF(), frame.size()), this))
    , m_spinner(new ActivityIndicatorView(ActivityIndicatorStyleGray, this))
    , m_idleTitle(kDefaultIdleTitle)
{
    setAutoresizingMask(AutoresizingFlexibleWidth);
    m_button->titleLabel()->setFont(Label::systemFont(12));
    m_button->setAutoresizingMask(AutoresizingFlexibleWidth | AutoresizingFlexibleHeight);
    setLoadMoreState(KRLoadMoreStateIdle);
    applyTheme();
    layoutSubviews();
}

void KRLoadMoreView::setLoadMoreState(int state)
{
    m_state = state;
    m_button->setEnabled(state == KRLoadMoreStateIdle || state == KRLoadMoreStateFailed);
    QString title;
    switch (state) {
    case KRLoadMoreStateIdle:
        title = m_idleTitle;
        break;
    case KRLoadMoreStateLoading:
        title = QStringLiteral("正在加载更多…");
        break;
    case KRLoadMoreStateNoMore:
        title = QStringLiteral("已经到底了");
        break;
    case KRLoadMoreStateFailed:
        title = QStringLiteral("加载失败，点击重试");
        break;
    default:
        return;
    }
    m_button->setTitle(title, ControlStateNormal);
    if (state == KRLoadMoreStateLoading)
        m_spinner->startAnimating();
    else
        m_spinner->stopAnimating();
}

void KRLoadMoreView::setIdleTitle(const QString& title)
{
    const QString next = title.isEmpty() ? kDefaultIdleTitle : title;
    if (next == m_idleTitle)
        return;
    m_idleTitle = next;
    if (m_state == KRLoadMoreStateIdle)
        m_button->setTitle(m_idleTitle, ControlStateNormal);
}

void KRLoadMoreView::addTarget(std::function<void()> action)
{
    m_button->addTarget(ControlEventTouchUpInside, std::move(action));
}

void KRLoadMoreView::applyTheme()
{
    const KRTheme* theme = KRTheme::sharedTheme();
    setBackgroundColor(theme->backgroundColor());
    m_button->setTitleColor(theme->secondaryTextColor(), ControlStateNormal);
    m_button->setTitleColor(theme->secondaryTextColor(), ControlStateDisabled);
    m_button->setTitleColor(theme->accentColor(), ControlStateHighlighted);
    m_spinner->setActivityIndicatorViewStyle(theme->spinnerStyle());
}

void KRLoadMoreView::layoutSubviews()
{
    const QSizeF size = frame().size();
    m_button->setFrame(QRectF(QPointF(), size));
    m_spinner->setCenter(QPointF(kSpinnerCenterX, size.height() / 2));
    bringSubviewToFront(m_spinner);
}
