#pragma once

#include <QString>

#include <optional>

namespace platform {

// Free space for an unprivileged writer on the file system that holds a path.
class FreeSpace {
public:
    FreeSpace() = delete;

    // Bytes available at `path` (or its nearest existing parent); 0 when it cannot be read.
    static qint64 availableBytes(const QString& path);

    // Makes availableBytes answer `bytes` for every path (0: "unknown"); nullopt restores
    // the real reading.
    static void setOverrideForTesting(std::optional<qint64> bytes);
};

} // namespace platform
