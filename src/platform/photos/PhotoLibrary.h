#pragma once

#include "platform/foundation/Error.h"
#include "platform/photos/PhotoAsset.h"

#include <QImage>
#include <QList>
#include <QObject>
#include <QSize>

#include <functional>
#include <memory>
#include <optional>

namespace platform {
class OperationQueue;
}

namespace platform::photos {

// The saved-photos album: the image files of one folder (KORVANE_PHOTO_LIBRARY, read at each
// load, else the user's Pictures folder). Folders are read, pictures decoded and saves written
// on the library's own workers; each operation completes once on the main thread, and never
// once its owner has gone. Destroying the library drops what has not started and waits for
// what runs (single decodes and writes).
class PhotoLibrary {
public:
    using AssetsCompletion = std::function<void(const QList<PhotoAsset>& assets, const std::optional<Error>& error)>;
    using ImageCompletion = std::function<void(const QImage& image)>;
    using SaveCompletion = std::function<void(const QString& url, const std::optional<Error>& error)>;

    PhotoLibrary();
    ~PhotoLibrary();
    PhotoLibrary(const PhotoLibrary&) = delete;
    PhotoLibrary& operator=(const PhotoLibrary&) = delete;

    static inline const QString ErrorDomain = QStringLiteral("PhotoLibrary");
    enum ErrorCode { ErrorFolderMissing = 1, ErrorFolderUnreadable = 2, ErrorWriteFailed = 3, ErrorNoImage = 4 };

    // The album folder as it would be read now.
    static QString albumPath();

    // The album's pictures, newest first by modification time, then by name. A missing or
    // unreadable folder is an error whose message says so.
    void loadAssets(QObject* owner, AssetsCompletion completion);
    // The picture cut to a square of `pixels` (aspect fill); null when it cannot be read.
    void loadThumbnail(const PhotoAsset& asset, int pixels, QObject* owner, ImageCompletion completion);
    // The picture fitted within `pixels` (never enlarged), by its file:// URL; null when it
    // cannot be read.
    void loadFullScreenImage(const QString& url, const QSize& pixels, QObject* owner, ImageCompletion completion);
    // Writes the picture as a new JPEG into the album (created when missing), atomically;
    // completes with the new file's URL.
    void saveImage(const QImage& image, QObject* owner, SaveCompletion completion);

    // Tests run as root, whom no permission stops: the next folder read, or the next save,
    // fails as an unreadable folder or a refused write would.
    static void failNextReadForTesting();
    static void failNextSaveForTesting();

private:
    std::unique_ptr<OperationQueue> m_queue;
};

} // namespace platform::photos
