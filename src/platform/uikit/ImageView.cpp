#include "platform/uikit/ImageView.h"

#include <QPainter>
#include <QPainterPath>

namespace platform::uikit {

ImageView::ImageView(const QRectF& frame, View* superview) : View(frame, superview)
{
    setOpaque(false);
    setUserInteractionEnabled(false);
}

ImageView::ImageView(const Image& image, View* superview) : ImageView(QRectF(QPointF(), image.size()), superview)
{
    m_image = image;
    contentOpacityDidChange();
}

ImageView::~ImageView() { AnimationClock::cancel(m_animation); }

void ImageView::setImage(const Image& image)
{
    m_image = image;
    contentOpacityDidChange();
    update();
}

namespace {

// Whether every pixel of the picture is opaque. Rows set the same few backgrounds over and
// over, so the last answer is kept; large pictures with an alpha channel are not scanned.
bool isOpaqueImage(const Image& image)
{
    const QImage& pixels = image.image();
    if (pixels.isNull())
        return false;
    if (!pixels.hasAlphaChannel())
        return true;
    static qint64 lastKey = 0;
    static bool lastAnswer = false;
    if (pixels.cacheKey() == lastKey)
        return lastAnswer;
    bool opaque = qint64(pixels.width()) * pixels.height() <= 96 * 96;
    for (int y = 0; opaque && y < pixels.height(); ++y)
        for (int x = 0; opaque && x < pixels.width(); ++x)
            opaque = qAlpha(pixels.pixel(x, y)) == 255;
    lastKey = pixels.cacheKey();
    lastAnswer = opaque;
    return opaque;
}

} // namespace

// A picture stretched over the whole view with nothing translucent in it hides what lies
// beneath, as an opaque background does (a row's background picture then spares the row's
// fill under it).
bool ImageView::drawsWholeRectOpaquely() const
{
    return contentMode() == ContentModeScaleToFill && m_highlightedImage.isNull() && m_animationImages.isEmpty()
           && isOpaqueImage(m_image);
}

void ImageView::setAnimationImages(const QList<Image>& images)
{
    const bool was = isAnimating();
    stopAnimating();
    m_animationImages = images;
    contentOpacityDidChange();
    if (was)
        startAnimating();
}

void ImageView::startAnimating()
{
    if (isAnimating() || m_animationImages.isEmpty())
        return;
    const int count = int(m_animationImages.size());
    const double duration = m_duration > 0 ? m_duration : count / 30.0;
    m_frameIndex = 0;
    update();
    m_animation = AnimationClock::run(this, [this, count, duration](double elapsed) {
        const double cycles = elapsed / duration;
        if (m_repeatCount > 0 && cycles >= m_repeatCount) {
            m_animation = 0;
            m_frameIndex = -1;
            update();
            return false;
        }
        const int index = std::min(count - 1, int((cycles - std::floor(cycles)) * count));
        if (index != m_frameIndex) {
            m_frameIndex = index;
            update();
        }
        return true;
    });
}

void ImageView::stopAnimating()
{
    const auto id = m_animation;
    m_animation = 0;
    AnimationClock::cancel(id);
    m_frameIndex = -1;
    update();
}

QRectF rectForContentMode(int mode, const QSizeF& is, const QRectF& b)
{
    if (is.isEmpty())
        return {};
    switch (mode) {
    case ContentModeScaleAspectFit:
    case ContentModeScaleAspectFill: {
        const qreal sx = b.width() / is.width(), sy = b.height() / is.height();
        const qreal s = mode == ContentModeScaleAspectFit ? std::min(sx, sy) : std::max(sx, sy);
        const QSizeF size = is * s;
        return QRectF(b.center() - QPointF(size.width() / 2, size.height() / 2), size);
    }
    case ContentModeCenter:
        return QRectF(QPointF(std::round(b.center().x() - is.width() / 2), std::round(b.center().y() - is.height() / 2)), is);
    default:
        return b;
    }
}

void ImageView::drawRect(QPainter& p)
{
    Image img = m_highlighted && !m_highlightedImage.isNull() ? m_highlightedImage : m_image;
    if (m_frameIndex >= 0 && m_frameIndex < m_animationImages.size())
        img = m_animationImages[m_frameIndex];
    if (img.isNull())
        return;
    const QRectF target = rectForContentMode(contentMode(), img.size(), QRectF(rect()));
    // A picture inside the view's rect needs no clip; saving the painter's state for it costs
    // more than a small picture's copy.
    const bool clips = cornerRadius() <= 0 && !QRectF(rect()).contains(target);
    if (clips)
        p.save();
    const bool smooth = p.testRenderHint(QPainter::SmoothPixmapTransform);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    // A rounded view shows its picture inside the rounded corners, as a layer that masks to
    // its bounds does.
    if (cornerRadius() > 0) {
        const qreal scale = p.device() ? p.device()->devicePixelRatioF() : 1;
        const QSizeF size = QRectF(rect()).size();
        Rounded& r = m_rounded;
        if (r.imageKey != img.image().cacheKey() || r.size != size || r.radius != cornerRadius() || r.mode != contentMode()
            || r.scale != scale) {
            r = Rounded{img.image().cacheKey(), size, cornerRadius(), contentMode(), scale, QImage()};
            r.rendered = QImage((size * scale).toSize(), QImage::Format_ARGB32_Premultiplied);
            r.rendered.setDevicePixelRatio(scale);
            r.rendered.fill(Qt::transparent);
            QPainter q(&r.rendered);
            q.setRenderHint(QPainter::Antialiasing);
            q.setRenderHint(QPainter::SmoothPixmapTransform);
            QPainterPath rounded;
            rounded.addRoundedRect(QRectF(QPointF(), size), cornerRadius(), cornerRadius());
            q.setClipPath(rounded);
            img.draw(q, target);
        }
        if (!r.rendered.isNull())
            p.drawImage(QRectF(QPointF(), size), r.rendered);
    } else {
        if (clips)
            p.setClipRect(rect());
        img.draw(p, target);
    }
    p.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
    if (clips)
        p.restore();
}

} // namespace platform::uikit
