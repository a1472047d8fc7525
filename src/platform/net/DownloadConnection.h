#pragma once

#include "platform/foundation/Error.h"
#include "platform/net/HTTPExchange.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

namespace platform {

// The answer whose body a download connection delivers, or a redirect it is about to follow.
struct DownloadResponse {
    int status = 0;
    HTTPHeaders headers;
    QString url;
    // The announced Content-Length; -1 when none was given.
    qint64 expectedContentLength = -1;
    // The Content-Type without parameters, lower-cased; empty when none was given.
    QString mimeType;
};

// One streaming GET on libcurl whose events reach the owner on the main thread, in order:
// before each redirect hop willSendRequest (the owner may re-apply its headers to the next
// request), then didReceiveResponse, didReceiveData any number of times, and last exactly
// one of didFail or didFinishLoading. The transfer runs on a worker; when the main thread
// falls behind by maximumBufferedBytes the worker stops reading, so memory stays bounded
// however slow the owner is. Only http and https are followed, on every hop; TLS is always
// verified and the network seams apply as in performHTTPExchange. The request's time-out
// counts idle time (no connection made or no byte received), never the whole transfer, and
// time the owner spends catching up does not count. Cookies are never sent or stored, no
// compression is asked for, and the method is always GET. Create, cancel and destroy it on
// the main thread.
class DownloadConnection {
public:
    struct Delegate {
        std::function<void(HTTPRequest& next, const DownloadResponse& redirect)> willSendRequest;
        std::function<void(const DownloadResponse& response)> didReceiveResponse;
        std::function<void(const QByteArray& data)> didReceiveData;
        std::function<void(const Error& error)> didFail;
        std::function<void()> didFinishLoading;
    };

    static constexpr qint64 maximumBufferedBytes = 4 * 1024 * 1024;

    // Starts at once.
    DownloadConnection(HTTPRequest request, Delegate delegate);
    // Cancels.
    ~DownloadConnection();
    DownloadConnection(const DownloadConnection&) = delete;
    DownloadConnection& operator=(const DownloadConnection&) = delete;

    // Stops the transfer; no delegate call happens after this returns, even one already
    // queued. Safe from inside a delegate call.
    void cancel();
    bool isCancelled() const;
    // Cancels every transfer still running, whoever owns it: at exit, or when a test ends.
    // Their workers end soon after (OperationQueue::waitUntilAllWorkIsFinished waits for them).
    static void cancelAll();

    // What the worker holds for the owner, and whether it is stopped until the owner catches up.
    qint64 bufferedBytesForTesting() const;
    bool isWaitingForRoomForTesting() const;

    struct State;

private:
    std::shared_ptr<State> m_state;
};

} // namespace platform
