#include "platform/net/CurlHandleLease.h"

#include <QStringList>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace platform {
namespace {

// Set at exit: handles returned after the TLS library has been torn down must not be touched
// any more (the process is going away; nothing is lost by leaving them).
std::atomic_bool g_exiting{false};

// More idle handles than this are not kept: each holds open connections, and the pipeline's
// queues never run this many exchanges at once.
constexpr size_t kMaximumIdleHandles = 8;
// libcurl keeps this many connections per handle by default; older hosts than that are gone.
constexpr qsizetype kRememberedHosts = 5;

struct IdleHandle {
    CURL* handle = nullptr;
    QString seams;
    QStringList hosts; // the most recent first
};

struct IdleHandles {
    std::mutex mutex;
    std::vector<IdleHandle> handles; // the most recently returned last
};

IdleHandles& idleHandles()
{
    // Never destroyed: exchanges may still be returning handles while the process exits.
    static IdleHandles* idle = new IdleHandles;
    return *idle;
}

void cleanUp(std::vector<CURL*>& handles)
{
    if (g_exiting.load())
        return;
    for (CURL* handle : handles)
        curl_easy_cleanup(handle);
}

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

CurlHandleLease::CurlHandleLease(const QString& seams, const QString& host)
    : m_seams(seams)
{
    std::vector<CURL*> stale;
    {
        IdleHandles& idle = idleHandles();
        std::lock_guard lock(idle.mutex);
        auto& handles = idle.handles;
        // Handles made under other seams will not be asked for again.
        for (auto it = handles.begin(); it != handles.end();) {
            if (it->seams != seams) {
                stale.push_back(it->handle);
                it = handles.erase(it);
            } else {
                ++it;
            }
        }
        auto chosen = std::find_if(handles.rbegin(), handles.rend(),
                                   [&](const IdleHandle& candidate) { return candidate.hosts.contains(host); });
        if (chosen == handles.rend() && !handles.empty())
            chosen = handles.rbegin();
        if (chosen != handles.rend()) {
            m_handle = chosen->handle;
            m_hosts = std::move(chosen->hosts);
            handles.erase(std::next(chosen).base());
        }
    }
    cleanUp(stale);
    if (!m_handle)
        m_handle = curl_easy_init();
    noteHost(host);
}

void CurlHandleLease::noteHost(const QString& host)
{
    if (host.isEmpty())
        return;
    m_hosts.removeAll(host);
    m_hosts.prepend(host);
    while (m_hosts.size() > kRememberedHosts)
        m_hosts.removeLast();
}

CurlHandleLease::~CurlHandleLease()
{
    if (!m_handle || g_exiting.load())
        return;
    std::vector<CURL*> surplus;
    {
        IdleHandles& idle = idleHandles();
        std::lock_guard lock(idle.mutex);
        idle.handles.push_back(IdleHandle{m_handle, m_seams, std::move(m_hosts)});
        while (idle.handles.size() > kMaximumIdleHandles) {
            surplus.push_back(idle.handles.front().handle);
            idle.handles.erase(idle.handles.begin());
        }
    }
    cleanUp(surplus);
}

} // namespace platform
