#include "platform/net/ConnectToFence.h"

namespace platform {

bool ConnectToFence::allows(const QString& host, int port) const
{
    return m_entries.isEmpty() || isLoopbackHost(host) || covers(host, port);
}

bool ConnectToFence::isLoopbackHost(const QString& host)
{
    if (host == QLatin1String("localhost") || host == QLatin1String("::1"))
        return true;
    // Only an address literal: a name such as "127.a.b.c" would still be looked up.
    const QStringList parts = host.split(QLatin1Char('.'));
    if (parts.size() != 4 || parts.first() != QLatin1String("127"))
        return false;
    for (const QString& part : parts) {
        if (part.isEmpty() || part.size() > 3 || part.toInt() > 255)
            return false;
        for (QChar c : part) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return false;
        }
    }
    return true;
}

namespace {

struct EntryParts {
    QString host;
    QString port;
    QString connectHost;
    QString connectPort;
};

// Splits "a:b" at the first colon, `a` possibly a bracketed address; none when malformed.
std::optional<std::pair<QString, QString>> splitHost(const QString& text)
{
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0 || close + 1 >= text.size() || text.at(close + 1) != QLatin1Char(':'))
            return std::nullopt;
        return std::pair(text.mid(1, close - 1), text.mid(close + 2));
    }
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    if (colon < 0)
        return std::nullopt;
    return std::pair(text.left(colon), text.mid(colon + 1));
}

// "host:port:connect-host:connect-port"; the connect part may be missing or partial.
std::optional<EntryParts> parseEntry(const QString& entry)
{
    const auto first = splitHost(entry);
    if (!first)
        return std::nullopt;
    EntryParts parts;
    parts.host = first->first;
    const QString& rest = first->second;
    const qsizetype colon = rest.indexOf(QLatin1Char(':'));
    parts.port = colon < 0 ? rest : rest.left(colon);
    if (colon >= 0) {
        const QString connect = rest.mid(colon + 1);
        if (const auto second = splitHost(connect)) {
            parts.connectHost = second->first;
            parts.connectPort = second->second;
        } else {
            parts.connectHost = connect;
        }
    }
    return parts;
}

} // namespace

std::optional<std::pair<QString, int>> ConnectToFence::connectTarget(const QString& host, int port) const
{
    const qsizetype index = matchingEntry(host, port);
    if (index < 0)
        return std::nullopt;
    const EntryParts parts = *parseEntry(m_entries.at(index));
    bool ok = false;
    const int connectPort = parts.connectPort.toInt(&ok);
    return std::pair(parts.connectHost.isEmpty() ? host : parts.connectHost, ok && connectPort > 0 ? connectPort : port);
}

qsizetype ConnectToFence::matchingEntry(const QString& host, int port) const
{
    for (qsizetype index = 0; index < m_entries.size(); ++index) {
        const auto parts = parseEntry(m_entries.at(index));
        if (!parts)
            continue;
        const bool hostMatches = parts->host.isEmpty() || parts->host.compare(host, Qt::CaseInsensitive) == 0;
        const bool portMatches = parts->port.isEmpty() || parts->port.toInt() == port;
        if (hostMatches && portMatches)
            return index;
    }
    return -1;
}

} // namespace platform
