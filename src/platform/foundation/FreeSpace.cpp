#include "platform/foundation/FreeSpace.h"

#include <QDir>
#include <QFileInfo>

#include <sys/statvfs.h>

#include <atomic>
#include <limits>

namespace platform {

namespace {
// -1: no override.
std::atomic<qint64> g_override{-1};
} // namespace

qint64 FreeSpace::availableBytes(const QString& path)
{
    const qint64 forced = g_override.load();
    if (forced >= 0)
        return forced;
    QString probe = QFileInfo(path).absoluteFilePath();
    while (!probe.isEmpty() && !QFileInfo::exists(probe)) {
        const QString parent = QFileInfo(probe).absolutePath();
        if (parent == probe)
            break;
        probe = parent;
    }
    struct statvfs info {};
    if (probe.isEmpty() || statvfs(QFile::encodeName(probe).constData(), &info) != 0)
        return 0;
    const unsigned long long bytes = static_cast<unsigned long long>(info.f_bavail) * info.f_frsize;
    return bytes > static_cast<unsigned long long>(std::numeric_limits<qint64>::max())
        ? std::numeric_limits<qint64>::max()
        : static_cast<qint64>(bytes);
}

void FreeSpace::setOverrideForTesting(std::optional<qint64> bytes)
{
    g_override.store(bytes ? std::max<qint64>(*bytes, 0) : -1);
}

} // namespace platform
