#pragma once

#include <QString>

#include <curl/curl.h>

namespace platform {

// The calling thread's libcurl handle, reused so connections and TLS sessions are kept
// between exchanges; a nested use on the same thread gets a handle of its own. The download
// connection uses only its library set-up.
class CurlHandleLease {
public:
    // `seams` names the test seams in force: kept connections and TLS sessions were made
    // under the old ones, so a change starts from a clean handle.
    explicit CurlHandleLease(const QString& seams);
    ~CurlHandleLease();
    CurlHandleLease(const CurlHandleLease&) = delete;
    CurlHandleLease& operator=(const CurlHandleLease&) = delete;

    // Sets libcurl up for the process; called before any other use of it, on any thread.
    static void initializeLibrary();

    // Null when libcurl could not make a handle.
    CURL* get() const { return m_handle; }

private:
    CURL* m_handle = nullptr;
    bool m_shared = false;
};

} // namespace platform
