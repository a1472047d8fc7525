#pragma once

#include "platform/foundation/Error.h"
#include "platform/net/HTTPHeaders.h"

#include <QByteArray>
#include <QString>

#include <curl/curl.h>

#include <atomic>
#include <optional>

namespace platform {

class ConnectToFence;
class TrustStore;

// One request and its answer over a libcurl handle, redirects not followed: the transfer
// callbacks, the idle limit, the body cap and the mapping of libcurl's failures to the
// platform's codes. Shared by the HTTP exchange and the download connection.
class HTTPHop {
public:
    struct Request {
        QString method;
        QByteArray encodedURL;
        HTTPHeaders headers;
        QByteArray body;
        double timeoutSeconds = 60;
        qint64 maxBodyBytes = -1;
        const std::atomic_bool* cancelled = nullptr;
    };
    struct Result {
        int status = 0;
        HTTPHeaders headers;
        QByteArray body;
        std::optional<Error> error;
    };

    // The platform's code for a libcurl failure (osErrno from CURLINFO_OS_ERRNO).
    static int urlErrorCode(CURLcode code, long osErrno);

    static Result perform(CURL* curl, const Request& request, const ConnectToFence& fence, const TrustStore& trust);
};

} // namespace platform
