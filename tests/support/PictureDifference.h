#pragma once

// Only for test areas that draw: the shared rig itself links no picture library.
#include <QImage>

#include <cstdlib>

namespace testsupport {

// How far two pictures of one size lie apart: the mean absolute difference of their red,
// green and blue values (0 to 255); 255 when the sizes differ or a picture is null.
inline double meanPictureDifference(const QImage& a, const QImage& b)
{
    const QImage first = a.convertToFormat(QImage::Format_RGB32);
    const QImage second = b.convertToFormat(QImage::Format_RGB32);
    if (first.size() != second.size() || first.isNull())
        return 255;
    qint64 sum = 0;
    for (int y = 0; y < first.height(); ++y) {
        const auto* p = reinterpret_cast<const QRgb*>(first.constScanLine(y));
        const auto* q = reinterpret_cast<const QRgb*>(second.constScanLine(y));
        for (int x = 0; x < first.width(); ++x)
            sum += std::abs(qRed(p[x]) - qRed(q[x])) + std::abs(qGreen(p[x]) - qGreen(q[x])) + std::abs(qBlue(p[x]) - qBlue(q[x]));
    }
    return double(sum) / (3.0 * first.width() * first.height());
}

} // namespace testsupport
