#pragma once

#include "platform/uikit/AnimationClock.h"
#include "platform/uikit/View.h"

namespace platform::uikit {

enum ActivityIndicatorStyle {
    ActivityIndicatorStyleWhiteLarge = 0,
    ActivityIndicatorStyleWhite = 1,
    ActivityIndicatorStyleGray = 2,
};

// The spinning spokes; hidden while stopped unless told otherwise.
class ActivityIndicatorView : public View {
    Q_OBJECT
public:
    explicit ActivityIndicatorView(int style = ActivityIndicatorStyleWhite, View* superview = nullptr);
    ~ActivityIndicatorView() override;

    int activityIndicatorViewStyle() const { return m_style; }
    void setActivityIndicatorViewStyle(int style);
    QColor color() const { return m_color; }
    void setColor(const QColor& color) { m_color = color; update(); }
    bool hidesWhenStopped() const { return m_hidesWhenStopped; }
    void setHidesWhenStopped(bool hides);
    void startAnimating();
    void stopAnimating();
    bool isAnimating() const { return m_animation != 0; }

protected:
    void drawRect(QPainter& painter) override;

private:
    int m_style;
    QColor m_color;
    bool m_hidesWhenStopped = true;
    int m_phase = 0;
    AnimationClock::Id m_animation = 0;
};

} // namespace platform::uikit
