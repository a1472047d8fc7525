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

std::optional<std::pair<QString, int>> ConnectToFence::connectTarget(const QString& host, int port) const
{
    const qsizetype index = matchingEntry(host, port);
    if (index < 0)
        return std::nullopt;
    // "host:port:connect-host:connect-port", the connect host possibly in brackets.
    const QString& entry = m_entries.at(index);
    const qsizetype portEnd = entry.indexOf(QLatin1Char(':'), entry.startsWith(QLatin1Char('[')) ? entry.indexOf(QLatin1Char(']')) + 2 : entry.indexOf(QLatin1Char(':')) + 1);
    if (portEnd < 0)
        return std::pair<QString, int>(host, port);
    QString rest = entry.mid(portEnd + 1);
    QString connectHost;
    if (rest.startsWith(QLatin1Char('['))) {
        const qsizetype close = rest.indexOf(QLatin1Char(']'));
        connectHost = rest.mid(1, close - 1);
        rest = close < 0 ? QString() : rest.mid(close + 1);
    } else {
        connectHost = rest.section(QLatin1Char(':'), 0, 0);
        rest = rest.mid(connectHost.size());
    }
    bool ok = false;
    const int connectPort = rest.startsWith(QLatin1Char(':')) ? rest.mid(1).toInt(&ok) : 0;
    return std::pair<QString, int>(connectHost.isEmpty() ? host : connectHost, ok && connectPort > 0 ? connectPort : port);
}

qsizetype ConnectToFence::matchingEntry(const QString& host, int port) const
{
    for (qsizetype index = 0; index < m_entries.size(); ++index) {
        const QString& entry = m_entries.at(index);
        QString entryHost;
        QString rest;
        if (entry.startsWith(QLatin1Char('['))) {
            const qsizetype close = entry.indexOf(QLatin1Char(']'));
            if (close < 0)
                continue;
            entryHost = entry.mid(1, close - 1);
            rest = entry.mid(close + 1);
        } else {
            const qsizetype colon = entry.indexOf(QLatin1Char(':'));
            if (colon < 0)
                continue;
            entryHost = entry.left(colon);
            rest = entry.mid(colon);
        }
        if (!rest.startsWith(QLatin1Char(':')))
            continue;
        const QString entryPort = rest.mid(1).section(QLatin1Char(':'), 0, 0);
        const bool hostMatches = entryHost.isEmpty() || entryHost.compare(host, Qt::CaseInsensitive) == 0;
        const bool portMatches = entryPort.isEmpty() || entryPort.toInt() == port;
        if (hostMatches && portMatches)
            return index;
    }
    return -1;
}

} // namespace platform
