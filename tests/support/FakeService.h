#pragma once

#include "platform/net/HTTPExchange.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <memory>

namespace httplib {
struct Response;
}

namespace testsupport {

// One part of a multipart/form-data body, which the server reads into parts instead of a body.
struct FakeFormPart {
    QString name;
    QString filename;
    QString contentType;
    QByteArray content;
};

// One request as the fake service received it.
struct FakeRequest {
    QString method;
    QString host;  // from the Host header, lower-cased, without port
    QString path;  // as sent (still percent-encoded), without the query
    QString query; // raw, without "?"
    QList<QPair<QString, QString>> queryItems; // decoded, in order
    platform::HTTPHeaders headers;
    QByteArray body;
    QList<FakeFormPart> formParts; // multipart/form-data requests only (their body stays empty)
    bool tls = false;
    int clientPort = 0; // the client's end of the connection: requests on one kept connection share it

    QString header(const QString& name) const { return headers.value(name); }
    // The first decoded value of a query item; null when absent.
    QString queryValue(const QString& name) const;
};

// What a route answers, including the faults a test may want; plain fields, so that a fault
// reads as one expression: FakeReply{.body = "{}", .stall = true}.
struct FakeReply {
    int status = 200;
    QList<QPair<QString, QString>> headers = {};
    QByteArray body = {};
    QString contentType = QStringLiteral("application/json");
    int delayMs = 0;            // wait before answering
    bool stall = false;         // send the headers, then hang until the client gives up or the server stops
    int cutBodyAt = -1;         // close the connection after this many body bytes
    bool closeWithoutReply = false; // close the connection without a byte of answer

    static FakeReply json(const QVariant& value, int status = 200); // compact JSON of a map or a list
    static FakeReply json(const QByteArray& body, int status = 200);
    static FakeReply html(const QByteArray& body, int status = 200);
    static FakeReply text(const QByteArray& body, const QString& contentType = QStringLiteral("text/plain"));
    // An empty answer with this status.
    static FakeReply withStatus(int status, const QByteArray& body = {});
    // 302 (or the given 3xx) with a Location header.
    static FakeReply redirect(const QString& location, int status = 302);

    FakeReply& header(const QString& name, const QString& value)
    {
        headers.append({name, value});
        return *this;
    }
};

// An in-process HTTPS (and plain HTTP) server on 127.0.0.1 with a certificate for every
// host given, signed by a test certificate authority. While it runs, the HTTP layer sends
// those hosts' ports 443 and 80 to it (NetworkSeams) and trusts the authority. Handlers
// run on the server's threads; everything here is thread-safe. Unknown routes answer 404.
class FakeService {
public:
    using Handler = std::function<FakeReply(const FakeRequest&)>;

    explicit FakeService(QStringList hosts);
    ~FakeService();
    FakeService(const FakeService&) = delete;
    FakeService& operator=(const FakeService&) = delete;

    // Later routes for the same host and path replace earlier ones. Host "*" matches any
    // host, path "*" any path; an exact host and path win over wildcards.
    void route(const QString& host, const QString& path, Handler handler);
    void routeReply(const QString& host, const QString& path, const FakeReply& reply);
    void routeJSON(const QString& host, const QString& path, const QByteArray& body);

    // For answers a FakeReply cannot describe (bodies streamed from disk, ranges, chunked or
    // throttled bodies): the handler fills the server's response itself. `pause(ms)` waits
    // unless the service stops or the client leaves, and tells whether the full time passed;
    // it stays usable inside the response's content providers. Looked up like route(), and
    // ahead of it.
    using Pause = std::function<bool(int milliseconds)>;
    using StreamHandler = std::function<void(const FakeRequest&, httplib::Response&, const Pause& pause)>;
    void routeStream(const QString& host, const QString& path, StreamHandler handler);

    QList<FakeRequest> requests() const;
    QList<FakeRequest> requestsTo(const QString& path) const;
    void clearRequests();
    // The requests so far, forgotten at once: a long-running service keeps no growing list.
    QList<FakeRequest> takeRequests();

    // The connect-to entries (libcurl's "host:port:127.0.0.1:port") that send every host's
    // ports 443 and 80 here, as another process would be given them.
    QStringList connectTo() const;

    int httpsPort() const;
    int httpPort() const;
    QString caFile() const;

    // Stops both listeners promptly (stalled and idle connections are dropped) and gives
    // the HTTP layer its previous seams back. The destructor does this too.
    void stop();

private:
    void start();

    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace testsupport
