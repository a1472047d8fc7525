#pragma once

#include <mpv/client.h>
#include <mpv/render.h>

namespace platform::media {

// The player library's functions, opened at the first player rather than when the
// application starts: the library and the many it brings cost tens of MiB and most of the
// dynamic loading before main(), which browsing never needs.
struct MpvLibrary {
    decltype(&mpv_create) create = nullptr;
    decltype(&mpv_initialize) initialize = nullptr;
    decltype(&mpv_terminate_destroy) terminate_destroy = nullptr;
    decltype(&mpv_set_option_string) set_option_string = nullptr;
    decltype(&mpv_observe_property) observe_property = nullptr;
    decltype(&mpv_set_wakeup_callback) set_wakeup_callback = nullptr;
    decltype(&mpv_wait_event) wait_event = nullptr;
    decltype(&mpv_error_string) error_string = nullptr;
    decltype(&mpv_command_async) command_async = nullptr;
    decltype(&mpv_set_property_async) set_property_async = nullptr;
    decltype(&mpv_get_property_async) get_property_async = nullptr;
    decltype(&mpv_get_property) get_property = nullptr;
    decltype(&mpv_render_context_create) render_context_create = nullptr;
    decltype(&mpv_render_context_free) render_context_free = nullptr;
    decltype(&mpv_render_context_render) render_context_render = nullptr;
    decltype(&mpv_render_context_set_update_callback) render_context_set_update_callback = nullptr;
    decltype(&mpv_render_context_update) render_context_update = nullptr;
    decltype(&mpv_command_ret) command_ret = nullptr;
    decltype(&mpv_free_node_contents) free_node_contents = nullptr;

    // The options every core of ours starts with, before it is initialised: none of the user's
    // configuration, scripts, terminal or key bindings, nothing looked up beside the file, no
    // hardware decoding, TLS verified against our authorities.
    void setBaseOptions(mpv_handle* handle) const;
    // The value under `key` in a node map; null when there is none or the node is no map.
    static const mpv_node* mapValue(const mpv_node& map, const char* key);

    // Opened once, on first call, from any thread; null when the library or one of its
    // functions is missing (every player then fails to start, as without an engine).
    static const MpvLibrary* shared();
};

} // namespace platform::media
