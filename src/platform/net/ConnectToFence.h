#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <utility>

namespace platform {

// The connect-to seam also fences tests in: while it holds any entry, only its host:port
// pairs and loopback can be reached. Shared by the HTTP exchange and the download connection.
class ConnectToFence {
public:
    // Entries in libcurl's connect-to form "host:port:connect-host:connect-port"; an empty
    // host or port in an entry stands for any.
    explicit ConnectToFence(const QStringList& entries) : m_entries(entries) {}

    const QStringList& entries() const { return m_entries; }
    // Whether an exchange may go to `host` (lower case, as in the address) on `port`.
    bool allows(const QString& host, int port) const;
    // Where an entry sends `host`:`port` ("connect-host", port); none when no entry covers it.
    // An entry's empty connect host or port keeps the original one.
    std::optional<std::pair<QString, int>> connectTarget(const QString& host, int port) const;

    static bool isLoopbackHost(const QString& host);

private:
    bool covers(const QString& host, int port) const { return matchingEntry(host, port) >= 0; }
    // The index of the first entry covering `host`:`port`, else -1.
    qsizetype matchingEntry(const QString& host, int port) const;

    QStringList m_entries;
};

} // namespace platform
