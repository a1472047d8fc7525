#include "platform/net/CurlHandleLease.h"

#include <atomic>
#include <cstdlib>
#include <mutex>

namespace platform {
namespace {

// Set at exit: threads that end after the TLS library has been torn down must not touch
// their handles any more (the process is going away; nothing is lost by leaving them).
std::atomic_bool g_exiting{false};

struct ThreadHandle {
    CURL* handle = nullptr;
    bool busy = false;
    QString seams;
    ~ThreadHandle()
    {
        if (handle && !g_exiting.load())
            curl_easy_cleanup(handle);
    }
};

thread_local ThreadHandle t_handle;

} // namespace

void CurlHandleLease::initializeLibrary()
{
    static std::once_flag initialized;
    std::call_once(initialized, [] {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        // Registered after the TLS library's own exit handler, so it runs before it.
        std::atexit([] { g_exiting.store(true); });
    });
}

CurlHandleLease::CurlHandleLease(const QString& seams)
{
    if (!t_handle.busy) {
        if (t_handle.handle && t_handle.seams != seams) {
            curl_easy_cleanup(t_handle.handle);
            t_handle.handle = nullptr;
        }
        if (!t_handle.handle)
            t_handle.handle = curl_easy_init();
        t_handle.seams = seams;
        m_handle = t_handle.handle;
        t_handle.busy = true;
        m_shared = true;
    } else {
        m_handle = curl_easy_init();
    }
}

CurlHandleLease::~CurlHandleLease()
{
    if (m_shared)
        t_handle.busy = false;
    else if (m_handle)
        curl_easy_cleanup(m_handle);
}

} // namespace platform
