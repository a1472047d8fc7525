#include "platform/net/NetworkSeams.h"

#include <mutex>

namespace platform::NetworkSeams {
namespace {

struct Seams {
    std::mutex mutex;
    QStringList connectTo;
    QString extraCAFile;

    Seams()
    {
        const QString entries = qEnvironmentVariable("KORVANE_CONNECT_TO");
        for (const QString& entry : entries.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            const QString trimmed = entry.trimmed();
            if (!trimmed.isEmpty())
                connectTo.append(trimmed);
        }
        extraCAFile = qEnvironmentVariable("KORVANE_CA_FILE");
    }
};

Seams& seams()
{
    static Seams instance;
    return instance;
}

} // namespace

void setConnectTo(const QStringList& entries)
{
    Seams& s = seams();
    std::lock_guard lock(s.mutex);
    s.connectTo = entries;
}

QStringList connectTo()
{
    Seams& s = seams();
    std::lock_guard lock(s.mutex);
    return s.connectTo;
}

void setExtraCAFile(const QString& path)
{
    Seams& s = seams();
    std::lock_guard lock(s.mutex);
    s.extraCAFile = path;
}

QString extraCAFile()
{
    Seams& s = seams();
    std::lock_guard lock(s.mutex);
    return s.extraCAFile;
}

} // namespace platform::NetworkSeams
