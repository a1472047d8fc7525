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
