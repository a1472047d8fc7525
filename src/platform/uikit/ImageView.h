#pragma once

#include "platform/uikit/AnimationClock.h"
#include "platform/uikit/Image.h"
#include "platform/uikit/View.h"

#include <QList>

namespace platform::uikit {

// Shows an image by its content mode, or cycles through animation images on the kit's
// clock while animating (repeat count 0 = for ever).
class ImageView : public View {
    Q_OBJECT
public:
    explicit ImageView(const QRectF& frame = QRectF(), View* superview = nullptr);
    explicit ImageView(const Image& image, View* superview = nullptr);
    ~ImageView() override;

    Image image() const { return m_image; }
    void setImage(const Image& image);
    Image highlightedImage() const { return m_highlightedImage; }
    void setHighlightedImage(const Image& image)
    {
        m_highlightedImage = image;
        contentOpacityDidChange();
        update();
    }
    bool isHighlighted() const { return m_highlighted; }
    void setHighlighted(bool on) { m_highlighted = on; update(); }

    QList<Image> animationImages() const { return m_animationImages; }
    void setAnimationImages(const QList<Image>& images);
    double animationDuration() const { return m_duration; }
    void setAnimationDuration(double seconds) { m_duration = seconds; }
    int animationRepeatCount() const { return m_repeatCount; }
    void setAnimationRepeatCount(int count) { m_repeatCount = count; }
    void startAnimating();
    void stopAnimating();
    bool isAnimating() const { return m_animation != 0; }
    // The frame shown now (the still image when not animating).
    int currentAnimationFrame() const { return m_frameIndex; }

    QSizeF sizeThatFits(const QSizeF& size) const override { return m_image.size(); }

protected:
    void drawRect(QPainter& painter) override;
    bool drawsWholeRectOpaquely() const override;

private:
    Image m_image;
    Image m_highlightedImage;
    bool m_highlighted = false;
    QList<Image> m_animationImages;
    double m_duration = 0;
    int m_repeatCount = 0;
    int m_frameIndex = -1;
    AnimationClock::Id m_animation = 0;
    // A rounded view's picture as last drawn inside its corners: clipping to a rounded path on
    // every paint costs several times the picture itself, and rows repaint on every scroll step.
    struct Rounded {
        qint64 imageKey = 0;
        QSizeF size;
        qreal radius = 0;
        int mode = -1;
        qreal scale = 0;
        QImage rendered;
    };
    Rounded m_rounded;
};

// Where an image of `imageSize` goes inside `bounds` for a content mode.
QRectF rectForContentMode(int mode, const QSizeF& imageSize, const QRectF& bounds);

} // namespace platform::uikit
