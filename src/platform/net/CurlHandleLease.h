#pragma once

#include <QString>
#include <QStringList>

#include <curl/curl.h>

namespace platform {

// A libcurl handle lent for one exchange from the process's idle handles, so connections and
// TLS sessions are kept between exchanges whichever worker thread makes the next one: worker
// threads come and go, and a thread new to the work would otherwise open its connections
// afresh, each with a full TLS handshake. A handle is only ever used by one lease at a time.
// The download connection uses only its library set-up.
class CurlHandleLease {
public:
    // `seams` names the test seams in force: kept connections and TLS sessions were made
    // under the old ones, so a change starts from clean handles. `host` is where the exchange
    // goes first: a handle that has been there already is preferred.
    CurlHandleLease(const QString& seams, const QString& host);
    ~CurlHandleLease();
    CurlHandleLease(const CurlHandleLease&) = delete;
    CurlHandleLease& operator=(const CurlHandleLease&) = delete;

    // Sets libcurl up for the process; called before any other use of it, on any thread.
    static void initializeLibrary();

    // Null when libcurl could not make a handle.
    CURL* get() const { return m_handle; }

    // The handle also went to `host` (a redirect); it is remembered there.
    void noteHost(const QString& host);

private:
    CURL* m_handle = nullptr;
    QString m_seams;
    QStringList m_hosts;
};

} // namespace platform
