#pragma once

#include "platform/uikit/View.h"

#include <QString>

#include <functional>

namespace platform::uikit {
class ActivityIndicatorView;
class Button;
}

// What a list's footer shows; the owner sets it around each page request.
enum KRLoadMoreState {
    KRLoadMoreStateIdle = 0,
    KRLoadMoreStateLoading = 1,
    KRLoadMoreStateNoMore = 2,
    KRLoadMoreStateFailed = 3,
};

// The table footer under a paged list: one full-size button whose title tells the state, and a
// spinner while a page loads. The button answers only while idle or after a failure.
class KRLoadMoreView : public platform::uikit::View {
    Q_OBJECT
public:
    explicit KRLoadMoreView(const QRectF& frame = QRectF(), platform::uikit::View* superview = nullptr);

    int state() const { return m_state; }
    // Values above 3 are kept and disable the button, leaving title and spinner as they were.
    void setLoadMoreState(int state);
    QString idleTitle() const { return m_idleTitle; }
    // A null or empty title restores the default; shown at once only while idle.
    void setIdleTitle(const QString& title);
    // Called on each tap of the enabled button.
    void addTarget(std::function<void()> action);
    void applyTheme();

    platform::uikit::Button* button() const { return m_button; }
    platform::uikit::ActivityIndicatorView* spinner() const { return m_spinner; }

    void layoutSubviews() override;

private:
    platform::uikit::Button* m_button;
    platform::uikit::ActivityIndicatorView* m_spinner;
    int m_state = KRLoadMoreStateIdle;
    QString m_idleTitle;
};
