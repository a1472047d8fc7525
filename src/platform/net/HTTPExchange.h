#pragma once

#include "platform/foundation/Error.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <atomic>
#include <optional>

namespace platform {

// Header fields in the order they were given; names compare case-insensitively and keep
// the spelling they were first given with.
class HTTPHeaders {
public:
    HTTPHeaders() = default;
    HTTPHeaders(std::initializer_list<QPair<QString, QString>> fields);

    // Replaces every field of that name (in the place of the first one) with one field.
    void set(const QString& name, const QString& value);
    void add(const QString& name, const QString& value);
    // The field's value; several fields of one name are joined with ", " as the platform
    // does (read Set-Cookie through values()). Null when absent.
    QString value(const QString& name) const;
    QStringList values(const QString& name) const;
    bool contains(const QString& name) const;
    void remove(const QString& name);
    QList<QPair<QString, QString>> all() const { return m_fields; }

    bool isEmpty() const { return m_fields.isEmpty(); }
    qsizetype size() const { return m_fields.size(); }
    void clear() { m_fields.clear(); }

private:
    QList<QPair<QString, QString>> m_fields;
};

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

// The transport error domain and codes the rest of the system tests for.
namespace URLError {
QString domain(); // "NSURLErrorDomain"
enum Code : int {
    Unknown = -1,
    Cancelled = -999,
    BadURL = -1000,
    TimedOut = -1001,
    UnsupportedURL = -1002,
    CannotFindHost = -1003,
    CannotConnectToHost = -1004,
    NetworkConnectionLost = -1005,
    HTTPTooManyRedirects = -1007,
    NotConnectedToInternet = -1009,
    BadServerResponse = -1011,
    DataLengthExceedsMaximum = -1103,
    SecureConnectionFailed = -1200,
    ServerCertificateUntrusted = -1202,
};
// The fixed user-facing text of a code; never mentions the address.
QString message(int code);
Error make(int code);
} // namespace URLError

// One synchronous exchange on the calling (worker) thread; never call it on the main
// thread. `cancelled`, when given, is polled during the exchange; once it is true the
// exchange ends with error -999. Only http and https; TLS is always verified.
HTTPResponse performHTTPExchange(const HTTPRequest& request, const std::atomic_bool* cancelled = nullptr);

} // namespace platform
