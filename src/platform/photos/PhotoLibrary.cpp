#include "platform/photos/PhotoLibrary.h"

#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/foundation/OwnedWork.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QStandardPaths>
#include <QUrl>

#include <algorithm>
#include <atomic>
#include <mutex>

namespace platform::photos {
namespace {

std::atomic<bool> g_failNextRead{false};
std::atomic<bool> g_failNextSave{false};
// Saves running side by side would pick the same free name; one at a time they cannot.
std::mutex g_saveLock;

constexpr int kJPEGQuality = 92;

Error libraryError(PhotoLibrary::ErrorCode code, const QString& message)
{
    return Error(PhotoLibrary::ErrorDomain, code, message);
}

bool isImageSuffix(const QString& suffix)
{
    static const QList<QByteArray> formats = QImageReader::supportedImageFormats();
    return !suffix.isEmpty() && formats.contains(suffix.toLower().toLatin1());
}

QImage readImage(const QString& path, const std::function<QSize(const QSize&)>& scaledSize)
{
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (size.isValid() && scaledSize)
        reader.setScaledSize(scaledSize(reader.transformation() & QImageIOHandler::TransformationRotate90 ? size.transposed() : size));
    return reader.read();
}

} // namespace

PhotoLibrary::PhotoLibrary() : m_queue(std::make_unique<OperationQueue>(2, QStringLiteral("PhotoLibrary"))) {}

PhotoLibrary::~PhotoLibrary() = default;

QString PhotoLibrary::albumPath()
{
    const QString seam = qEnvironmentVariable("KORVANE_PHOTO_LIBRARY");
    if (!seam.isEmpty())
        return seam;
    return QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
}

void PhotoLibrary::failNextReadForTesting() { g_failNextRead = true; }
void PhotoLibrary::failNextSaveForTesting() { g_failNextSave = true; }

void PhotoLibrary::loadAssets(QObject* owner, AssetsCompletion completion)
{
    const QString folder = albumPath();
    const bool fail = g_failNextRead.exchange(false);
    using Assets = std::pair<QList<PhotoAsset>, std::optional<Error>>;
    OwnedWork(owner).onQueue(m_queue.get()).run([folder, fail](const OwnedWork&) -> Assets {
        QList<PhotoAsset> assets;
        std::optional<Error> error;
        const QFileInfo info(folder);
        if (folder.isEmpty() || !info.exists() || !info.isDir()) {
            error = libraryError(ErrorFolderMissing, QStringLiteral("相册文件夹不存在"));
        } else if (fail || !info.isReadable() || !info.isExecutable()) {
            error = libraryError(ErrorFolderUnreadable, QStringLiteral("没有读取相册文件夹的权限"));
        } else {
            const QFileInfoList entries = QDir(folder).entryInfoList(QDir::Files | QDir::Readable);
            for (const QFileInfo& entry : entries) {
                if (isImageSuffix(entry.suffix()))
                    assets.append(PhotoAsset{QUrl::fromLocalFile(entry.absoluteFilePath()).toString(), entry.absoluteFilePath(),
                                             entry.lastModified().toUTC()});
            }
            std::sort(assets.begin(), assets.end(), [](const PhotoAsset& a, const PhotoAsset& b) {
                if (a.modified != b.modified)
                    return a.modified > b.modified;
                return QFileInfo(a.filePath).fileName() < QFileInfo(b.filePath).fileName();
            });
        }
        return {std::move(assets), std::move(error)};
    }, [completion = std::move(completion)](const Assets& answer) { if (completion) completion(answer.first, answer.second); });
}

void PhotoLibrary::loadThumbnail(const PhotoAsset& asset, int pixels, QObject* owner, ImageCompletion completion)
{
    const QString path = asset.filePath;
    OwnedWork(owner).onQueue(m_queue.get()).run([path, pixels](const OwnedWork& work) {
        QImage image;
        if (!work.abandoned() && pixels > 0) {
            // Decoded straight at about the size wanted, then cut to the square.
            image = readImage(path, [pixels](const QSize& size) { return size.scaled(pixels, pixels, Qt::KeepAspectRatioByExpanding); });
            if (!image.isNull()) {
                const QImage filled = image.size() == QSize(pixels, pixels) ? image
                    : image.scaled(pixels, pixels, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
                image = filled.copy((filled.width() - pixels) / 2, (filled.height() - pixels) / 2, pixels, pixels);
            }
        }
        return image;
    }, [completion = std::move(completion)](const QImage& image) { if (completion) completion(image); });
}

void PhotoLibrary::loadFullScreenImage(const QString& url, const QSize& pixels, QObject* owner, ImageCompletion completion)
{
    const QUrl address(url);
    const QString path = address.isLocalFile() ? address.toLocalFile() : QString();
    OwnedWork(owner).onQueue(m_queue.get()).run([path, pixels](const OwnedWork&) {
        QImage image;
        if (!path.isEmpty()) {
            image = readImage(path, [pixels](const QSize& size) {
                return size.width() > pixels.width() || size.height() > pixels.height()
                    ? size.scaled(pixels, Qt::KeepAspectRatio).expandedTo(QSize(1, 1))
                    : size;
            });
        }
        return image;
    }, [completion = std::move(completion)](const QImage& image) { if (completion) completion(image); });
}

void PhotoLibrary::saveImage(const QImage& image, QObject* owner, SaveCompletion completion)
{
    const QString folder = albumPath();
    const bool fail = g_failNextSave.exchange(false);
    // Saved whoever waits for the answer: the user asked for it.
    using Saved = std::pair<QString, std::optional<Error>>;
    OwnedWork(owner).onQueue(m_queue.get()).run([folder, fail, image](const OwnedWork&) -> Saved {
        QString url;
        std::optional<Error> error;
        QByteArray bytes;
        if (image.isNull()) {
            error = libraryError(ErrorNoImage, QStringLiteral("没有可保存的图片"));
        } else {
            QBuffer buffer(&bytes);
            buffer.open(QIODevice::WriteOnly);
            QImageWriter writer(&buffer, "jpeg");
            writer.setQuality(kJPEGQuality);
            // JPEG has no alpha: what is transparent lands on white, as the platform's album does.
            QImage opaque(image.size(), QImage::Format_RGB32);
            opaque.setDevicePixelRatio(1);
            opaque.fill(Qt::white);
            {
                QImage source = image;
                source.setDevicePixelRatio(1);
                QPainter(&opaque).drawImage(0, 0, source);
            }
            if (!writer.write(opaque))
                error = libraryError(ErrorWriteFailed, QStringLiteral("无法写入相册"));
        }
        if (!error) {
            std::lock_guard guard(g_saveLock);
            QDir().mkpath(folder);
            const QString stem = QStringLiteral("Korvane_") + QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd_HHmmss_zzz"));
            QString path = QDir(folder).filePath(stem + QStringLiteral(".jpg"));
            for (int n = 2; QFileInfo::exists(path); ++n)
                path = QDir(folder).filePath(stem + QStringLiteral("_%1.jpg").arg(n));
            QString why;
            if (fail || !writeFileAtomically(path, bytes, &why))
                error = libraryError(ErrorWriteFailed, QStringLiteral("无法写入相册"));
            else
                url = QUrl::fromLocalFile(path).toString();
        }
        return {std::move(url), std::move(error)};
    }, [completion = std::move(completion)](const Saved& answer) { if (completion) completion(answer.first, answer.second); });
}

} // namespace platform::photos
