#include "platform/media/MpvLibrary.h"

#include "platform/media/EngineMemory.h"
#include "platform/media/MediaSeams.h"

#include <QByteArray>
#include <QLibrary>
#include <QString>
#include <QtGlobal>

#include <utility>

namespace platform::media {
namespace {

template <typename Function>
bool resolve(QLibrary& library, const char* name, Function* function)
{
    *function = reinterpret_cast<Function>(library.resolve(name));
    return *function != nullptr;
}

} // namespace

const MpvLibrary* MpvLibrary::shared()
{
    static const MpvLibrary* opened = []() -> const MpvLibrary* {
        // The major version the headers were written for; kept loaded for the process's life.
        static QLibrary library(QStringLiteral("mpv"), int(MPV_CLIENT_API_VERSION >> 16));
        if (!library.load())
            return nullptr;
        static MpvLibrary api;
        const bool complete = resolve(library, "mpv_create", &api.create)
            && resolve(library, "mpv_initialize", &api.initialize)
            && resolve(library, "mpv_terminate_destroy", &api.terminate_destroy)
            && resolve(library, "mpv_set_option_string", &api.set_option_string)
            && resolve(library, "mpv_observe_property", &api.observe_property)
            && resolve(library, "mpv_set_wakeup_callback", &api.set_wakeup_callback)
            && resolve(library, "mpv_wait_event", &api.wait_event)
            && resolve(library, "mpv_error_string", &api.error_string)
            && resolve(library, "mpv_command_async", &api.command_async)
            && resolve(library, "mpv_set_property_async", &api.set_property_async)
            && resolve(library, "mpv_get_property_async", &api.get_property_async)
            && resolve(library, "mpv_get_property", &api.get_property)
            && resolve(library, "mpv_render_context_create", &api.render_context_create)
            && resolve(library, "mpv_render_context_free", &api.render_context_free)
            && resolve(library, "mpv_render_context_render", &api.render_context_render)
            && resolve(library, "mpv_render_context_set_update_callback", &api.render_context_set_update_callback)
            && resolve(library, "mpv_render_context_update", &api.render_context_update)
            && resolve(library, "mpv_command_ret", &api.command_ret)
            && resolve(library, "mpv_free_node_contents", &api.free_node_contents);
        if (!complete)
            return nullptr;
        EngineMemory::limitRetainedMemory();
        return &api;
    }();
    return opened;
}

void MpvLibrary::setBaseOptions(mpv_handle* handle) const
{
    const std::pair<const char*, QByteArray> options[] = {
        {"config", "no"},
        {"terminal", "no"},
        {"msg-level", "all=no"},
        {"hwdec", "no"},
        {"load-scripts", "no"},
        {"ytdl", "no"},
        {"sub-auto", "no"},
        {"audio-file-auto", "no"},
        {"input-default-bindings", "no"},
        {"tls-verify", "yes"},
        {"tls-ca-file", MediaSeams::trustedAuthoritiesFile().toLocal8Bit()},
    };
    for (const auto& [name, value] : options) {
        if (!value.isEmpty())
            set_option_string(handle, name, value.constData());
    }
}

const mpv_node* MpvLibrary::mapValue(const mpv_node& map, const char* key)
{
    if (map.format != MPV_FORMAT_NODE_MAP || !map.u.list)
        return nullptr;
    for (int i = 0; i < map.u.list->num; ++i) {
        if (qstrcmp(map.u.list->keys[i], key) == 0)
            return &map.u.list->values[i];
    }
    return nullptr;
}

} // namespace platform::media
