#pragma once

#include <QDateTime>
#include <QString>

namespace platform::photos {

// One picture of the album: its file, and its identity, the file's file:// URL.
struct PhotoAsset {
    QString url;
    QString filePath;
    QDateTime modified;
};

} // namespace platform::photos
