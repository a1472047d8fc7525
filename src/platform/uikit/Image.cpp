#include "platform/uikit/Image.h"

#include <QFile>
#include <QPainter>
#include <QSvgRenderer>

#include <atomic>

namespace platform::uikit {
namespace {
std::atomic<bool> g_bundleArtHidden{false};
}

Image::Image(QImage image, int leftCapWidth, int topCapHeight)
    : m_image(std::move(image)), m_leftCap(leftCapWidth), m_topCap(topCapHeight)
{
}

void Image::setBundleArtHiddenForTesting(bool hidden) { g_bundleArtHidden = hidden; }

Image Image::named(const QString& name)
{
    if (g_bundleArtHidden || name.isEmpty())
        return {};
    // "more@2x.png" names the file with its extension, as the platform allows.
    QString base = QStringLiteral(":/") + name;
    if (base.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive))
        base.chop(4);
    if (QFile::exists(base + QStringLiteral(".png"))) {
        QImage img(base + QStringLiteral(".png"));
        return img.isNull() ? Image() : Image(img.convertToFormat(QImage::Format_ARGB32_Premultiplied));
    }
    if (QFile::exists(base + QStringLiteral(".svg"))) {
        QSvgRenderer svg(base + QStringLiteral(".svg"));
        if (!svg.isValid())
            return {};
        QImage img(svg.defaultSize(), QImage::Format_ARGB32_Premultiplied);
        img.fill(Qt::transparent);
        QPainter p(&img);
        svg.render(&p);
        p.end();
        return Image(img);
    }
    return {};
}

void Image::draw(QPainter& painter, const QRectF& target) const
{
    if (m_image.isNull() || target.isEmpty())
        return;
    if (m_leftCap <= 0 && m_topCap <= 0) {
        painter.drawImage(target, m_image);
        return;
    }
    // Column L and row T stretch; a cap of 0 on one axis stretches that whole axis. The slices
    // are worked out in points and taken from the pixels at the image's scale.
    const int w = qRound(size().width()), h = qRound(size().height());
    const qreal px = scale();
    const int l = std::clamp(m_leftCap, 0, w), t = std::clamp(m_topCap, 0, h);
    const int midW = m_leftCap > 0 ? std::min(1, w - l) : w;
    const int midH = m_topCap > 0 ? std::min(1, h - t) : h;
    const int r = m_leftCap > 0 ? w - l - midW : 0;
    const int b = m_topCap > 0 ? h - t - midH : 0;
    const int lc = m_leftCap > 0 ? l : 0, tc = m_topCap > 0 ? t : 0;
    const qreal xs[4] = {target.left(), target.left() + lc, target.right() - r, target.right()};
    const qreal ys[4] = {target.top(), target.top() + tc, target.bottom() - b, target.bottom()};
    const int sx[4] = {0, lc, lc + midW, w};
    const int sy[4] = {0, tc, tc + midH, h};
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 3; ++col) {
            const QRectF src(sx[col] * px, sy[row] * px, (sx[col + 1] - sx[col]) * px, (sy[row + 1] - sy[row]) * px);
            const QRectF dst(QPointF(xs[col], ys[row]), QPointF(xs[col + 1], ys[row + 1]));
            if (src.isEmpty() || dst.width() <= 0 || dst.height() <= 0)
                continue;
            painter.drawImage(dst, m_image, src);
        }
    }
}

} // namespace platform::uikit
