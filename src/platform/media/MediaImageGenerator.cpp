#include "platform/media/MediaImageGenerator.h"

#include "platform/media/MpvLibrary.h"

#include <QByteArray>
#include <QElapsedTimer>

#include <mpv/client.h>

#include <cmath>
#include <cstring>
#include <utility>

namespace platform::media {
namespace {

qint64 nodeInteger(const mpv_node* node)
{
    return node && node->format == MPV_FORMAT_INT64 ? node->u.int64 : 0;
}

// The engine's picture of what it shows now, as 32-bit pixels with an unused fourth byte.
QImage screenshot(const MpvLibrary& mpv, mpv_handle* handle)
{
    const char* args[] = {"screenshot-raw", "video", nullptr};
    mpv_node result{};
    if (mpv.command_ret(handle, args, &result) < 0)
        return {};
    QImage image;
    const qint64 width = nodeInteger(MpvLibrary::mapValue(result, "w"));
    const qint64 height = nodeInteger(MpvLibrary::mapValue(result, "h"));
    const qint64 stride = nodeInteger(MpvLibrary::mapValue(result, "stride"));
    const mpv_node* format = MpvLibrary::mapValue(result, "format");
    const mpv_node* data = MpvLibrary::mapValue(result, "data");
    const bool bgr0 = format && format->format == MPV_FORMAT_STRING && qstrcmp(format->u.string, "bgr0") == 0;
    if (bgr0 && width > 0 && height > 0 && width <= 16384 && height <= 16384 && stride >= width * 4 && data
        && data->format == MPV_FORMAT_BYTE_ARRAY && data->u.ba && qint64(data->u.ba->size) >= stride * height) {
        // Blue, green, red and a spare byte: Qt's RGB32 on a little-endian machine, as the
        // players' surfaces draw.
        image = QImage(int(width), int(height), QImage::Format_RGB32);
        const auto* source = static_cast<const uchar*>(data->u.ba->data);
        for (int y = 0; y < int(height); ++y)
            std::memcpy(image.scanLine(y), source + y * stride, size_t(width) * 4);
    }
    mpv.free_node_contents(&result);
    return image;
}

} // namespace

QImage MediaImageGenerator::copyImageAtTime(double seconds) const
{
    const MpvLibrary* mpv = MpvLibrary::shared();
    if (!mpv || m_url.isEmpty() || !std::isfinite(seconds) || seconds < 0)
        return {};
    mpv_handle* handle = mpv->create();
    if (!handle)
        return {};
    mpv->setBaseOptions(handle);
    const QByteArray start = QByteArray::number(seconds, 'f', 6);
    const std::pair<const char*, QByteArray> options[] = {
        {"idle", "yes"},
        {"vo", "null"},
        {"ao", "null"},
        {"aid", "no"},
        {"sid", "no"},
        {"pause", "yes"},
        {"start", start},
        {"hr-seek", m_zeroTolerance ? "yes" : "no"},
        {"vd-lavc-threads", "1"},
    };
    for (const auto& [name, value] : options)
        mpv->set_option_string(handle, name, value.constData());
    QImage image;
    if (mpv->initialize(handle) >= 0) {
        const QByteArray path = m_url.isLocalFile() ? m_url.toLocalFile().toUtf8() : m_url.toString(QUrl::FullyEncoded).toUtf8();
        const char* load[] = {"loadfile", path.constData(), nullptr};
        mpv_node ignored{};
        bool waiting = mpv->command_ret(handle, load, &ignored) >= 0;
        if (waiting)
            mpv->free_node_contents(&ignored);
        bool loaded = false;
        QElapsedTimer clock;
        clock.start();
        while (waiting) {
            const double left = m_timeout - clock.elapsed() / 1000.0;
            if (left <= 0)
                break;
            const mpv_event* event = mpv->wait_event(handle, left);
            switch (event->event_id) {
            case MPV_EVENT_FILE_LOADED: {
                loaded = true;
                // A time past the end has no picture; the engine would show the last one.
                double duration = 0;
                if (mpv->get_property(handle, "duration", MPV_FORMAT_DOUBLE, &duration) < 0 || seconds > duration)
                    waiting = false;
                break;
            }
            case MPV_EVENT_PLAYBACK_RESTART:
                if (loaded) {
                    image = screenshot(*mpv, handle);
                    waiting = false;
                }
                break;
            case MPV_EVENT_END_FILE:
            case MPV_EVENT_SHUTDOWN:
                waiting = false;
                break;
            default:
                break;
            }
        }
    }
    mpv->terminate_destroy(handle);
    return image;
}

} // namespace platform::media
