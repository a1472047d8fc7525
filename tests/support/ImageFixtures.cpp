#include "support/ImageFixtures.h"

#include "model/KRServiceHosts.h"

#include <QRegularExpression>
#include <QSize>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace testsupport::ImageFixtures {

QString primaryHost() { return QStringLiteral("i0.") + KRServiceHosts::imagePrimaryDomain(); }
QString alternateHost() { return QStringLiteral("i1.") + KRServiceHosts::imageAlternateDomain(); }
QStringList hosts() { return {primaryHost(), alternateHost()}; }

QString coverAddress(const QString& name)
{
    return QStringLiteral("https://") + primaryHost() + QStringLiteral("/bfs/archive/") + name + QStringLiteral(".jpg");
}

QString avatarAddress(const QString& name)
{
    return QStringLiteral("https://") + primaryHost() + QStringLiteral("/bfs/face/") + name + QStringLiteral(".jpg");
}

QString sizedPictureAddress(int width, int height, const QString& name)
{
    return QStringLiteral("https://%1/bfs/sized/%2x%3/%4.jpg").arg(primaryHost()).arg(width).arg(height).arg(name);
}

QString missingPictureAddress(const QString& name)
{
    return QStringLiteral("https://%1/fault/missing/%2.jpg").arg(primaryHost(), name);
}

QString slowPictureAddress(const QString& name)
{
    return QStringLiteral("https://%1/fault/slow/%2.jpg").arg(primaryHost(), name);
}

namespace {

struct SlowGate {
    std::mutex lock;
    std::condition_variable changed;
    bool held = false;
};

SlowGate& slowGate()
{
    static SlowGate gate;
    return gate;
}

} // namespace

void holdSlowPictures()
{
    std::lock_guard guard(slowGate().lock);
    slowGate().held = true;
}

void releaseSlowPictures()
{
    {
        std::lock_guard guard(slowGate().lock);
        slowGate().held = false;
    }
    slowGate().changed.notify_all();
}

namespace {

void appendLE(QByteArray& out, quint32 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.append(char((value >> (8 * i)) & 0xff));
}

void appendBE(QByteArray& out, quint32 value)
{
    for (int i = 3; i >= 0; --i)
        out.append(char((value >> (8 * i)) & 0xff));
}

quint32 crc32(const QByteArray& data)
{
    quint32 crc = 0xffffffffu;
    for (const char byte : data) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

quint32 seedOf(const QString& text)
{
    quint32 h = 2166136261u;
    for (const char byte : text.toUtf8())
        h = (h ^ quint8(byte)) * 16777619u;
    return h;
}

} // namespace

QByteArray bitmap(int width, int height, quint32 seed)
{
    const int rowBytes = (width * 3 + 3) & ~3;
    const quint32 pixelBytes = quint32(rowBytes) * quint32(height);
    QByteArray out;
    out.reserve(54 + int(pixelBytes));
    out.append("BM");
    appendLE(out, 54 + pixelBytes, 4);
    appendLE(out, 0, 4);
    appendLE(out, 54, 4);
    appendLE(out, 40, 4);
    appendLE(out, quint32(width), 4);
    appendLE(out, quint32(height), 4);
    appendLE(out, 1, 2);
    appendLE(out, 24, 2);
    appendLE(out, 0, 4);
    appendLE(out, pixelBytes, 4);
    appendLE(out, 2835, 4);
    appendLE(out, 2835, 4);
    appendLE(out, 0, 4);
    appendLE(out, 0, 4);
    // Two colours from the seed blended from top to bottom, crossed by lighter diagonal bands:
    // pictures of different paths tell apart at a glance on a screen.
    const int top[3] = {int(seed & 0xff), int((seed >> 8) & 0xff), int((seed >> 16) & 0xff)};
    const int bottom[3] = {int((seed >> 24) & 0xff), 255 - top[0], (top[1] + 128) & 0xff};
    const int band = 12 + int(seed % 29);
    QByteArray row(rowBytes, '\0');
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool light = ((x + y) / band) % 3 == 0;
            for (int c = 0; c < 3; ++c) {
                const int blended = height > 1 ? (top[c] * (height - 1 - y) + bottom[c] * y) / (height - 1) : top[c];
                row[x * 3 + c] = char(light ? blended + (255 - blended) / 4 : blended);
            }
        }
        out.append(row);
    }
    return out;
}

QSize sizeForPath(const QString& path)
{
    static const QRegularExpression exact(QStringLiteral("/sized/(\\d+)x(\\d+)/"));
    if (const QRegularExpressionMatch match = exact.match(path); match.hasMatch())
        return QSize(match.captured(1).toInt(), match.captured(2).toInt());
    static const QRegularExpression sized(QStringLiteral("@(\\d+)w(?:_(\\d+)h)?"));
    const QRegularExpressionMatch match = sized.match(path);
    if (match.hasMatch()) {
        const int width = match.captured(1).toInt();
        const int height = match.captured(2).isEmpty() ? width * 9 / 16 : match.captured(2).toInt();
        return QSize(width, height);
    }
    return path.contains(QLatin1String("/face/")) ? QSize(128, 128) : QSize(640, 400);
}

QByteArray pngHeaderAnnouncing(int width, int height)
{
    QByteArray out("\x89PNG\r\n\x1a\n", 8);
    QByteArray chunk("IHDR");
    appendBE(chunk, quint32(width));
    appendBE(chunk, quint32(height));
    chunk.append(char(8)); // bit depth
    chunk.append(char(6)); // RGBA
    chunk.append(3, '\0');
    appendBE(out, 13);
    out.append(chunk);
    appendBE(out, crc32(chunk));
    QByteArray data("IDAT");
    data.append(QByteArray(16, '\x01'));
    appendBE(out, 16);
    out.append(data);
    appendBE(out, crc32(data));
    return out;
}

void serveImages(FakeService& service)
{
    const FakeService::Handler handler = [](const FakeRequest& request) {
        if (request.path.startsWith(QLatin1String("/fault/html-200/")))
            return FakeReply::html("<html><body>Service temporarily unavailable</body></html>");
        if (request.path.startsWith(QLatin1String("/fault/missing/")))
            return FakeReply::html("<html><body>404 Not Found</body></html>", 404);
        if (request.path.startsWith(QLatin1String("/fault/slow/"))) {
            std::unique_lock guard(slowGate().lock);
            slowGate().changed.wait_for(guard, std::chrono::seconds(20), [] { return !slowGate().held; });
        }
        const QSize size = sizeForPath(request.path);
        FakeReply reply{.body = bitmap(size.width(), size.height(), seedOf(request.path)), .contentType = QStringLiteral("image/bmp")};
        if (request.path.startsWith(QLatin1String("/fault/image-404/")))
            reply.status = 404;
        return reply;
    };
    for (const QString& host : hosts())
        service.route(host, QStringLiteral("*"), handler);
}

} // namespace testsupport::ImageFixtures
