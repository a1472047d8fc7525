#pragma once

#include <QByteArray>
#include <QString>

namespace platform {
namespace Hash {

// Lower-case hexadecimal digests.
QString md5Hex(const QByteArray& data);
QString sha256Hex(const QByteArray& data);

} // namespace Hash
} // namespace platform
