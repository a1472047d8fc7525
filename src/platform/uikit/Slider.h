#pragma once

#include "platform/uikit/Control.h"
#include "platform/uikit/Image.h"

namespace platform::uikit {

// A horizontal slider: a track filled up to the value and a thumb. Dragging sends touch
// down, value changed on each move and touch up inside (or outside); a tap on the track
// moves the thumb there.
class Slider : public Control {
    Q_OBJECT
public:
    explicit Slider(const QRectF& frame = QRectF(), View* superview = nullptr);

    float value() const { return m_value; }
    // Clamped to the range; no actions are sent.
    void setValue(float value);
    float minimumValue() const { return m_minimum; }
    float maximumValue() const { return m_maximum; }
    void setRange(float minimum, float maximum);
    Image thumbImage(int state) const;
    void setThumbImage(const Image& image, int state);

    // A finger's drag from the thumb to the given values: down, a change per value, up.
    void dragForTesting(const QList<float>& values, bool cancel = false);

protected:
    void drawRect(QPainter& painter) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    float valueAt(qreal x) const;
    QSizeF thumbSize() const;

    float m_value = 0;
    float m_minimum = 0;
    float m_maximum = 1;
    QMap<int, Image> m_thumbs;
    bool m_dragging = false;
};

} // namespace platform::uikit
