#pragma once

#include <QImage>
#include <QRectF>
#include <QSizeF>
#include <QString>

class QPainter;

namespace platform::uikit {

// A bitmap that may be stretchable: with a left cap of L and a top cap of T (in points),
// column L and row T stretch and the rest keeps its size, as the platform's stretchable images
// do. Its scale is the QImage's devicePixelRatio: 1 for bundle art (1 point = 1 pixel), the
// screen's scale for images drawn at it. A default-constructed Image is null.
class Image {
public:
    Image() = default;
    explicit Image(QImage image, int leftCapWidth = 0, int topCapHeight = 0);

    // Our own bundle art: the Qt resource ":/<name>.png" or ":/<name>.svg" (SVG drawn at its
    // own size); a name may carry its ".png". Null when missing or while bundle art is hidden
    // for a test.
    static Image named(const QString& name);
    static void setBundleArtHiddenForTesting(bool hidden);

    bool isNull() const { return m_image.isNull(); }
    QImage image() const { return m_image; }
    // In points: the pixel size divided by the scale.
    QSizeF size() const { return m_image.isNull() ? QSizeF() : m_image.deviceIndependentSize(); }
    qreal scale() const { return m_image.isNull() ? 1 : m_image.devicePixelRatio(); }
    int leftCapWidth() const { return m_leftCap; }
    int topCapHeight() const { return m_topCap; }
    Image stretchable(int leftCapWidth, int topCapHeight) const { return Image(m_image, leftCapWidth, topCapHeight); }
    // Same pixels and caps.
    bool isSameAs(const Image& other) const { return m_image.cacheKey() == other.m_image.cacheKey(); }

    // Draws into `target`, nine-slice when the image has caps, else scaled.
    void draw(QPainter& painter, const QRectF& target) const;

private:
    static Image readNamed(const QString& name);
    void drawScaled(QPainter& painter, const QRectF& target) const;
    // A rendering `pixels` large holding the picture stretched over `extent` (device pixels)
    // from `offset` on, at the painter's scale and smoothing.
    struct Stretch {
        QSize pixels;
        QPointF offset;
        QSizeF extent;
        qreal deviceScale = 1;
        bool smooth = false;
    };
    QImage stretchedTo(const Stretch& stretch) const;

    QImage m_image;
    int m_leftCap = 0;
    int m_topCap = 0;
};

} // namespace platform::uikit
