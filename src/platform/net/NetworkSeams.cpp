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

template <typename T>
T get(T Seams::*field)
{
    std::lock_guard lock(seams().mutex);
    return seams().*field;
}

template <typename T>
void put(T Seams::*field, const T& value)
{
    std::lock_guard lock(seams().mutex);
    seams().*field = value;
}

} // namespace

void setConnectTo(const QStringList& entries) { put(&Seams::connectTo, entries); }
QStringList connectTo() { return get(&Seams::connectTo); }
void setExtraCAFile(const QString& path) { put(&Seams::extraCAFile, path); }
QString extraCAFile() { return get(&Seams::extraCAFile); }

} // namespace platform::NetworkSeams
