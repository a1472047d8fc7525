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
// a list repaints the same background in every row, and every screen opened anew stretches the
// same button skins to the same sizes, so the results are kept per picture, caps and size,
// whichever copy of the picture draws them. Sizes past this many pixels are drawn directly
// rather than held in memory.
constexpr qint64 kLargestKeptStretch = 1 << 21;
// Rows of a list differ in height (a comment of three lines, one of five) and a screen has a
// few skins, so the renderings drawn most lately are kept together, within the memory three of
// the largest would take.
constexpr qint64 kKeptStretchPixels = 3 * kLargestKeptStretch;
constexpr size_t kKeptStretchSizes = 64;
// The tallest copy the painter makes on the calling thread.
constexpr int kBlitBand = 64;

bool isWhole(qreal value) { return std::abs(value - std::round(value)) < 1e-6; }
} // namespace

namespace {
struct KeptStretch {
    qint64 picture = 0;
    qreal pictureScale = 1;
    int leftCap = 0;
    int topCap = 0;
    QSize pixels;
    QPointF offset;
    QSizeF extent;
    qreal deviceScale = 1;
    bool smooth = false;
    QImage image;
};
struct KeptStretches {
    std::mutex mutex;
    std::vector<KeptStretch> entries; // the most recently drawn last
};
KeptStretches& keptStretches()
{
    static KeptStretches* kept = new KeptStretches; // never destroyed: views may paint during exit
    return *kept;
}
} // namespace

Image::Image(QImage image, int leftCapWidth, int topCapHeight)
    : m_image(std::move(image))
    , m_leftCap(leftCapWidth)
    , m_topCap(topCapHeight)
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
    // The kept rendering is only used unrotated, where its pixels are exactly the ones a direct
    // draw would make: on whole device pixels, or (unscaled, unfiltered and not antialiased, so
    // every pixel is either covered by one piece or left alone) at the same fraction of a pixel
    // it was rendered at. Shrinking an uncapped picture (as covers are) is cheap and not kept; a
    // capped one is drawn as nine pieces at any size.
    const QTransform device = painter.deviceTransform();
    const qreal deviceScale = device.m11();
    if (device.type() <= QTransform::TxScale && deviceScale > 0 && device.m22() == deviceScale
        && painter.compositionMode() == QPainter::CompositionMode_SourceOver) {
        const QPointF origin = device.map(target.topLeft());
        const QSizeF pixels = target.size() * deviceScale;
        const bool whole = isWhole(origin.x()) && isWhole(origin.y()) && isWhole(pixels.width()) && isWhole(pixels.height());
        const bool capped = m_leftCap > 0 || m_topCap > 0;
        // Filtering and antialiasing weigh pixels by where they fall, and overlapping pieces
        // blend into each other: those are drawn directly off whole pixels.
        const bool plain = deviceScale == 1 && !painter.testRenderHint(QPainter::Antialiasing)
                           && !painter.testRenderHint(QPainter::SmoothPixmapTransform)
                           && target.width() >= size().width() - 1 && target.height() >= size().height() - 1;
        if (whole || (capped && plain)) {
            const QPoint corner(int(std::floor(origin.x() + 1e-6)), int(std::floor(origin.y() + 1e-6)));
            const QPointF offset = whole ? QPointF() : origin - QPointF(corner);
            const QSize box = whole ? QSize(qRound(pixels.width()), qRound(pixels.height()))
                                    : QSize(int(std::ceil(offset.x() + pixels.width() - 1e-6)),
                                            int(std::ceil(offset.y() + pixels.height() - 1e-6)));
            const qint64 area = qint64(box.width()) * box.height();
            if ((capped || area > qint64(m_image.width()) * m_image.height()) && area <= kLargestKeptStretch) {
                const QImage kept = stretchedTo({box, offset, pixels, deviceScale, painter.testRenderHint(QPainter::SmoothPixmapTransform)});
                const QPointF at = whole ? target.topLeft() : target.topLeft() - offset;
                if (deviceScale != 1 || kept.height() <= kBlitBand) {
                    painter.drawImage(at, kept);
                    return;
                }
                // A row's background is copied in bands: the painter hands a taller copy to its
                // thread pool, and waking the pool costs more than copying a row, the more so on
                // a busy machine. Each pixel is copied as a whole copy would copy it.
                for (int y = 0; y < kept.height(); y += kBlitBand)
                    painter.drawImage(at + QPointF(0, y), kept, QRectF(0, y, kept.width(), std::min(kBlitBand, kept.height() - y)));
                return;
            }
        }
    }
    drawScaled(painter, target);
}

QImage Image::stretchedTo(const Stretch& stretch) const
{
    const auto& [pixels, offset, extent, deviceScale, smooth] = stretch;
    const qint64 picture = m_image.cacheKey();
    const qreal pictureScale = scale();
    const auto matches = [&](const KeptStretch& entry) {
        return entry.picture == picture && entry.pictureScale == pictureScale && entry.leftCap == m_leftCap
               && entry.topCap == m_topCap && entry.pixels == stretch.pixels && entry.offset == stretch.offset
               && entry.extent == stretch.extent && entry.deviceScale == stretch.deviceScale && entry.smooth == stretch.smooth;
    };
    KeptStretches& kept = keptStretches();
    {
        std::lock_guard lock(kept.mutex);
        auto& entries = kept.entries;
        const auto found = std::find_if(entries.begin(), entries.end(), matches);
        if (found != entries.end()) {
            // The last in the list is the last drawn: the first goes when room is needed.
            std::rotate(found, found + 1, entries.end());
            return entries.back().image;
        }
    }
    // Rendered outside the lock, so a long rendering holds up no other thread's drawing; when
    // two render the same, the first kept stays.
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    image.setDevicePixelRatio(deviceScale);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
        drawScaled(painter, QRectF(offset / deviceScale, extent / deviceScale));
    }
    const auto area = [](const QSize& size) { return qint64(size.width()) * size.height(); };
    std::lock_guard lock(kept.mutex);
    auto& entries = kept.entries;
    if (std::any_of(entries.begin(), entries.end(), matches))
        return image;
    qint64 held = area(pixels);
    for (const KeptStretch& entry : entries)
        held += area(entry.pixels);
    while (!entries.empty() && (entries.size() >= kKeptStretchSizes || held > kKeptStretchPixels)) {
        held -= area(entries.front().pixels);
        entries.erase(entries.begin());
    }
    entries.push_back({picture, pictureScale, m_leftCap, m_topCap, pixels, offset, extent, deviceScale, smooth, image});
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
