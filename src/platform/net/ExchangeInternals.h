#pragma once

#include <QString>
#include <QStringList>

#include <curl/curl.h>
#include <openssl/x509.h>

#include <memory>

// What the synchronous exchange and the download connection share about trust, the test
// fence and error codes. Internal to src/platform/net.
namespace platform {

using StorePtr = std::shared_ptr<X509_STORE>;

struct Trust {
    QString identity; // changes whenever the trusted set changes
    StorePtr store;   // null: libcurl's default authorities
};

// The system's authorities plus the extra file's, shared by every connection while the
// file stays the same.
Trust trustFor(const QString& extraCAFile);
// CURLOPT_SSL_CTX_FUNCTION that installs a Trust's store (passed as CURLOPT_SSL_CTX_DATA).
CURLcode onSSLContext(CURL*, void* context, void* user);

// The connect-to fence: while entries are set, only their host:port pairs and loopback.
bool isLoopbackHost(const QString& host);
bool connectToCovers(const QStringList& entries, const QString& host, int port);

// The URLError code of a libcurl failure (osErrno from CURLINFO_OS_ERRNO).
int urlErrorCodeForCurl(CURLcode code, long osErrno);

} // namespace platform
