#pragma once

#include "platform/foundation/Error.h"
#include "platform/net/HTTPHeaders.h"
#include "platform/net/URLError.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <optional>

namespace platform {

struct HTTPRequest {
    QString method = QStringLiteral("GET");
    QString url;
    HTTPHeaders headers;
    QByteArray body;
    // An idle limit: the connection must be made, and bytes must keep flowing, within it.
    double timeoutSeconds = 60;
    bool followRedirects = true;
    // Send the shared cookie storage's cookies and keep the Set-Cookie answers.
    bool handleCookies = true;
    // Larger bodies end the exchange with error -1103; -1 means no limit.
    qint64 maxBodyBytes = -1;
};

struct HTTPResponse {
    int status = 0;
    HTTPHeaders headers;
    QByteArray body;
    QString finalURL;
    std::optional<Error> error;

    bool ok() const { return !error; }
};

// One synchronous exchange on the calling (worker) thread; never call it on the main
// thread. `cancelled`, when given, is polled during the exchange; once it is true the
// exchange ends with error -999. Only http and https; TLS is always verified.
HTTPResponse performHTTPExchange(const HTTPRequest& request, const std::atomic_bool* cancelled = nullptr);

} // namespace platform
