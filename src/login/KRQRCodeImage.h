#pragma once

#include <QImage>
#include <QString>

// The QR code of `text` (its UTF-8 bytes, medium error correction, any version up to 40) as an
// opaque black-on-white image with a 4-module quiet zone. Each module is floor(side / (size + 8))
// points (at least 1), so the image is that times (size + 8) points square, drawn at the
// device's screen scale (its devicePixelRatio). Null when the text is empty or does not fit.
QImage KRQRCodeImageFromString(const QString& text, qreal side);
