#include "support/MediaFixtures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <httplib.h>

#include <algorithm>
#include <mutex>

namespace testsupport::MediaFixtures {

QString primaryHost() { return QStringLiteral("media-a.cdn.test"); }
QString secondaryHost() { return QStringLiteral("media-b.cdn.test"); }
QStringList hosts() { return {primaryHost(), secondaryHost()}; }

QByteArray generatedBytes(qint64 size, quint32 seed)
{
    QByteArray bytes(qsizetype(size), Qt::Uninitialized);
    quint32 state = seed * 2654435761u + 0x9e3779b9u;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        bytes[i] = char(state & 0xff);
    }
    return bytes;
}

QString writeGeneratedFile(const QString& path, qint64 size, quint32 seed, bool sparse)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return {};
    if (sparse) {
        file.resize(size);
    } else {
        file.write(generatedBytes(size, seed));
    }
    file.close();
    return path;
}

namespace {

struct Range {
    qint64 first = 0;
    qint64 last = -1; // inclusive
    bool partial = false;
    bool satisfiable = true;
};

Range parseRange(const QString& header, qint64 size)
{
    Range range{0, size - 1, false, true};
    if (!header.startsWith(QLatin1String("bytes=")) || header.contains(QLatin1Char(',')))
        return range;
    const QString byteRange = header.mid(6).trimmed();
    const qsizetype dash = byteRange.indexOf(QLatin1Char('-'));
    if (dash < 0)
        return range;
    bool firstOK = false;
    bool lastOK = false;
    const qint64 first = byteRange.left(dash).toLongLong(&firstOK);
    const qint64 last = byteRange.mid(dash + 1).toLongLong(&lastOK);
    if (!firstOK) {
        if (!lastOK)
            return range;
        range.first = std::max<qint64>(0, size - last); // suffix range
    } else {
        range.first = first;
        if (lastOK)
            range.last = std::min(last, size - 1);
    }
    range.partial = true;
    range.satisfiable = range.first < size && range.first <= range.last;
    return range;
}

} // namespace

void serveFile(FakeService& service, const QString& host, const QString& path, const QString& filePath,
               const Serving& serving)
{
    service.routeStream(host, path, fileHandler(filePath, serving));
}

FakeService::StreamHandler fileHandler(const QString& filePath, const Serving& serving)
{
    return [filePath, serving](const FakeRequest& request, httplib::Response& response, const FakeService::Pause& pause) {
        auto file = std::make_shared<QFile>(filePath);
        if (!file->open(QIODevice::ReadOnly)) {
            response.status = 404;
            return;
        }
        const QFileInfo info(filePath);
        const qint64 size = info.size();
        const Range range = parseRange(request.header(QStringLiteral("Range")), size);
        response.set_header("ETag", QStringLiteral("\"%1-%2\"").arg(size).arg(info.lastModified().toMSecsSinceEpoch()).toStdString());
        response.set_header("Accept-Ranges", "bytes");
        if (!range.satisfiable) {
            response.status = 416;
            response.set_header("Content-Range", QStringLiteral("bytes */%1").arg(size).toStdString());
            return;
        }
        response.status = range.partial ? 206 : 200;
        if (range.partial)
            response.set_header("Content-Range",
                                QStringLiteral("bytes %1-%2/%3").arg(range.first).arg(range.last).arg(size).toStdString());
        const qint64 length = range.last - range.first + 1;
        auto mutex = std::make_shared<std::mutex>();
        // Hands out the next piece of the body; false once the serving rules end it.
        auto write = [file, mutex, serving, pause, start = range.first, length](size_t offset, httplib::DataSink& sink) {
            const qint64 at = qint64(offset);
            if (serving.cutAfter >= 0 && at >= serving.cutAfter)
                return false;
            if (serving.stallAfter >= 0 && at >= serving.stallAfter) {
                pause(-1);
                return false;
            }
            if (at >= length) {
                sink.done();
                return true;
            }
            if (serving.gate && !serving.gate->waitFor(at, [&pause] { return pause(0); }))
                return false;
            qint64 piece = std::min<qint64>(length - at, 64 * 1024);
            if (serving.gate)
                piece = std::min(piece, serving.gate->openedTo() - at);
            if (serving.throttleChunkBytes > 0)
                piece = std::min<qint64>(piece, serving.throttleChunkBytes);
            for (qint64 limit : {serving.cutAfter, serving.stallAfter}) {
                if (limit >= 0)
                    piece = std::min(piece, limit - at);
            }
            QByteArray bytes;
            {
                std::lock_guard lock(*mutex);
                file->seek(start + at);
                bytes = file->read(piece);
            }
            if (bytes.isEmpty() || !sink.write(bytes.constData(), size_t(bytes.size())))
                return false;
            serving.sentBytes->fetch_add(bytes.size());
            if (serving.throttleMs > 0 && !pause(serving.throttleMs))
                return false;
            return true;
        };
        const std::string type = serving.contentType.toStdString();
        if (serving.chunked) {
            response.set_chunked_content_provider(type, [write](size_t offset, httplib::DataSink& sink) {
                return write(offset, sink);
            });
        } else {
            response.set_content_provider(size_t(length), type, [write, length](size_t offset, size_t, httplib::DataSink& sink) {
                // The server ends a sized body by its length; done() is only for chunked ones.
                if (qint64(offset) >= length)
                    return true;
                return write(offset, sink);
            });
        }
    };
}

QString testMediaPath(const QString& name)
{
    return QDir(QStringLiteral(KORVANE_TEST_MEDIA_DIR)).filePath(name);
}

QUrl testMediaFileURL(const QString& name)
{
    return QUrl::fromLocalFile(testMediaPath(name));
}

QString mediaHost() { return QStringLiteral("localhost"); }

QUrl serveTestMedia(FakeService& service, const QString& name, const Serving& serving)
{
    const QString path = QStringLiteral("/media/") + name;
    serveFile(service, mediaHost(), path, testMediaPath(name), serving);
    return QUrl(QStringLiteral("https://%1:%2%3").arg(mediaHost()).arg(service.httpsPort()).arg(path));
}

QUrl missingTestMediaURL(const FakeService& service)
{
    return QUrl(QStringLiteral("https://%1:%2/media/missing.mp4").arg(mediaHost()).arg(service.httpsPort()));
}

} // namespace testsupport::MediaFixtures
