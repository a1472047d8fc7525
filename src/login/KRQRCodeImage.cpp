#include "login/KRQRCodeImage.h"

#include "platform/device/DeviceProfile.h"

#include <QPainter>

#include <qrcodegen.hpp>

#include <cmath>
#include <optional>
#include <vector>

namespace {

constexpr int kQuietZone = 4;
// Beyond this many pixels a side QImage refuses to allocate.
constexpr qreal kLargestPixelSide = 32767;

std::optional<qrcodegen::QrCode> encode(const QByteArray& utf8)
{
    using qrcodegen::QrCode;
    using qrcodegen::QrSegment;
    try {
        // The segmenter reads a C string; a text holding U+0000 would be cut short there, so
        // it goes whole as bytes instead of as a different, shorter code.
        const std::vector<QrSegment> segments = utf8.contains('\0')
            ? std::vector<QrSegment>{QrSegment::makeBytes(std::vector<std::uint8_t>(utf8.cbegin(), utf8.cend()))}
            : QrSegment::makeSegments(utf8.constData());
        return QrCode::encodeSegments(segments, QrCode::Ecc::MEDIUM, 1, 40, -1, true);
    } catch (const qrcodegen::data_too_long&) {
        return std::nullopt;
    }
}

} // namespace

QImage KRQRCodeImageFromString(const QString& text, qreal side)
{
    if (text.isEmpty())
        return {};
    const std::optional<qrcodegen::QrCode> code = encode(text.toUtf8());
    if (!code)
        return {};
    const int modules = code->getSize() + 2 * kQuietZone;
    const qreal dpr = platform::DeviceProfile::screenScale();
    const qreal fitting = std::floor(side / modules);
    // Also stops a huge side from overflowing the pixel arithmetic below.
    if (fitting * modules * dpr > kLargestPixelSide)
        return {};
    const int scale = fitting >= 1 ? int(fitting) : 1;
    const int points = scale * modules;
    QImage image(qRound(points * dpr), qRound(points * dpr), QImage::Format_RGB32);
    if (image.isNull())
        return {};
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::white);
    QPainter painter(&image);
    for (int y = 0; y < code->getSize(); ++y) {
        for (int x = 0; x < code->getSize(); ++x) {
            if (code->getModule(x, y))
                painter.fillRect(QRectF(scale * (x + kQuietZone), scale * (y + kQuietZone), scale, scale), Qt::black);
        }
    }
    painter.end();
    return image;
}
