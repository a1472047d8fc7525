#include "platform/net/ConnectToFence.h"

namespace platform {

bool ConnectToFence::allows(const QString& host, int port) const
{
    return m_entries.isEmpty() || isLoopbackHost(host) || covers(host, port);
}

bool ConnectToFence::isLoopbackHost(const QString& host)
{
    return host == QLatin1String("localhost") || host == QLatin1String("::1")
        || (host.startsWith(QLatin1String("127.")) && host.count(QLatin1Char('.')) == 3);
}

bool ConnectToFence::covers(const QString& host, int port) const
{
    for (const QString& entry : m_entries) {
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
            return true;
    }
    return false;
}

} // namespace platform
