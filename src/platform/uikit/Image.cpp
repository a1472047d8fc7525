#include "platform/uikit/Image.h"

#include <QFile>
#include <QHash>
#include <QPainter>
#include <QSvgRenderer>

#include <QTransform>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <utility>
#include <vector>

namespace platform::uikit {
namespace {
std::atomic<bool> g_bundleArtHidden{false};

// Stretching a small image over a large area filters every pixel of the area on each paint;
// a list repaints the same background in every row, so the result is kept per size. Sizes
// past this many pixels are drawn directly rather than held in memory.
constexpr qint64 kLargestKeptStretch = 1 << 21;
// Rows of a list differ in height (a comment of three lines, one of five), so the renderings
// for the sizes drawn most lately are kept together, within the memory three of the largest
// would take.
constexpr qint64 kKeptStretchPixels = 3 * kLargestKeptStretch;
constexpr size_t kKeptStretchSizes = 32;
// The tallest copy the painter makes on the calling thread.
constexpr int kBlitBand = 64;

bool isWhole(qreal value) { return std::abs(value - std::round(value)) < 1e-6; }
} // namespace

struct Image::Stretched {
    struct Entry {
        QSize pixels;
        qreal deviceScale = 1;
        bool smooth = false;
        QImage image;
    };
    std::mutex mutex;
    std::vector<Entry> entries; // the most recently drawn last
};

Image::Image(QImage image, int leftCapWidth, int topCapHeight)
    : m_image(std::move(image))
    , m_leftCap(leftCapWidth)
    , m_topCap(topCapHeight)
    , m_stretched(m_image.isNull() ? nullptr : std::make_shared<Stretched>())
{
}

void Image::setBundleArtHiddenForTesting(bool hidden) { g_bundleArtHidden = hidden; }

Image Image::named(const QString& name)
{
    if (g_bundleArtHidden || name.isEmpty())
        return {};
    // Bundle art never changes while the program runs, so each picture is read once (tab
    // icons and logos are asked for again whenever a screen is built).
    struct Read {
        std::mutex mutex;
        QHash<QString, Image> images;
    };
    static Read* read = new Read; // never destroyed: pictures may be asked for during exit
    {
        std::lock_guard lock(read->mutex);
        const auto found = read->images.constFind(name);
        if (found != read->images.cend())
            return *found;
    }
    const Image image = readNamed(name);
    std::lock_guard lock(read->mutex);
    read->images.insert(name, image);
    return image;
}

Image Image::readNamed(const QString& name)
{
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
    // The kept rendering is only used where it lands on whole device pixels unrotated, so its
    // pixels are exactly the ones a direct draw would make; shrinking (as covers are) is
    // cheap and not kept.
    const QTransform device = painter.deviceTransform();
    const qreal deviceScale = device.m11();
    if (m_stretched && device.type() <= QTransform::TxScale && deviceScale > 0 && device.m22() == deviceScale
        && painter.compositionMode() == QPainter::CompositionMode_SourceOver) {
        const QPointF origin = device.map(target.topLeft());
        const QSizeF pixels = target.size() * deviceScale;
        const QSize whole(qRound(pixels.width()), qRound(pixels.height()));
        const qint64 area = qint64(whole.width()) * whole.height();
        if (isWhole(origin.x()) && isWhole(origin.y()) && isWhole(pixels.width()) && isWhole(pixels.height())
            && area > qint64(m_image.width()) * m_image.height() && area <= kLargestKeptStretch) {
            const QImage kept = stretchedTo(whole, deviceScale, painter.testRenderHint(QPainter::SmoothPixmapTransform));
            if (deviceScale != 1 || kept.height() <= kBlitBand) {
                painter.drawImage(target.topLeft(), kept);
                return;
            }
            // A row's background is copied in bands: the painter hands a taller copy to its
            // thread pool, and waking the pool costs more than copying a row, the more so on a
            // busy machine. Each pixel is copied as a whole copy would copy it.
            for (int y = 0; y < kept.height(); y += kBlitBand)
                painter.drawImage(target.topLeft() + QPointF(0, y), kept, QRectF(0, y, kept.width(), std::min(kBlitBand, kept.height() - y)));
            return;
        }
    }
    drawScaled(painter, target);
}

QImage Image::stretchedTo(const QSize& pixels, qreal deviceScale, bool smooth) const
{
    std::lock_guard lock(m_stretched->mutex);
    auto& entries = m_stretched->entries;
    for (auto it = entries.begin(); it != entries.end(); ++it) {
        if (it->pixels == pixels && it->deviceScale == deviceScale && it->smooth == smooth) {
            // The last in the list is the last drawn: the first goes when room is needed.
            std::rotate(it, it + 1, entries.end());
            return entries.back().image;
        }
    }
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    image.setDevicePixelRatio(deviceScale);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
        drawScaled(painter, QRectF(QPointF(0, 0), image.deviceIndependentSize()));
    }
    const auto area = [](const QSize& size) { return qint64(size.width()) * size.height(); };
    qint64 kept = area(pixels);
    for (const Stretched::Entry& entry : entries)
        kept += area(entry.pixels);
    while (!entries.empty() && (entries.size() >= kKeptStretchSizes || kept > kKeptStretchPixels)) {
        kept -= area(entries.front().pixels);
        entries.erase(entries.begin());
    }
    entries.push_back({pixels, deviceScale, smooth, image});
    return image;
}

void Image::drawScaled(QPainter& painter, const QRectF& target) const
{
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
