#pragma once

#include "platform/uikit/AnimationClock.h"
#include "platform/uikit/Geometry.h"
#include "platform/uikit/View.h"

#include <optional>

namespace platform::uikit {
class ActivityIndicatorView;
class Label;
class ScrollView;
}

enum KRPullRefreshState {
    KRPullRefreshStateIdle = 0,
    KRPullRefreshStateArmed = 1,
    KRPullRefreshStateRefreshing = 2,
};

// The pull-to-refresh header, placed by its owner 64 points above the table's content. The
// owner forwards scrolls to updateForScrollView, asks shouldBeginRefreshAfterDragging when a drag
// ends, begins refreshing and ends it when the reload's reply arrives.
class KRPullRefreshView : public platform::uikit::View {
    Q_OBJECT
public:
    // How far a drag must pull, and the top inset kept while refreshing.
    static constexpr qreal kPullDistance = 64;

    explicit KRPullRefreshView(const QRectF& frame = QRectF(), platform::uikit::View* superview = nullptr);

    int state() const { return m_state; }
    void updateForScrollView(platform::uikit::ScrollView* scrollView);
    bool shouldBeginRefreshAfterDragging() const { return m_state == KRPullRefreshStateArmed; }
    // Only the top inset changes; the list's other insets stay, and ending gives the top edge
    // back the value it had before.
    void beginRefreshingInScrollView(platform::uikit::ScrollView* scrollView);
    void endRefreshingInScrollView(platform::uikit::ScrollView* scrollView);
    void applyTheme();

    platform::uikit::Label* statusLabel() const { return m_statusLabel; }
    platform::uikit::ActivityIndicatorView* spinner() const { return m_spinner; }

    void layoutSubviews() override;

private:
    void setState(int state);

    platform::uikit::Label* m_statusLabel;
    platform::uikit::ActivityIndicatorView* m_spinner;
    int m_state = KRPullRefreshStateIdle;
    std::optional<qreal> m_topInsetBeforeRefresh;
    platform::uikit::AnimationClock::Id m_beginAnimation = 0;
};
