#pragma once

#include "platform/uikit/View.h"

namespace platform::uikit {

// A bar filled to `progress` (0…1), 2 points high by default, as the platform draws it.
class ProgressView : public View {
    Q_OBJECT
public:
    explicit ProgressView(const QRectF& frame = QRectF(), View* superview = nullptr);

    float progress() const { return m_progress; }
    void setProgress(float progress);
    QColor progressTintColor() const { return m_progressTint; }
    void setProgressTintColor(const QColor& color) { m_progressTint = color; update(); }
    QColor trackTintColor() const { return m_trackTint; }
    void setTrackTintColor(const QColor& color) { m_trackTint = color; update(); }

protected:
    void drawRect(QPainter& painter) override;

private:
    float m_progress = 0;
    QColor m_progressTint{0, 122, 255};
    QColor m_trackTint{182, 182, 182};
};

} // namespace platform::uikit
