#include "platform/foundation/Directories.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <mutex>

#include <sys/stat.h>

namespace platform {
namespace {

QString ensured(const QString& path)
{
    QDir().mkpath(path);
    return path;
}

QString below(const QString& relative) { return ensured(Directories::home() + QLatin1Char('/') + relative); }

struct KeptHome {
    std::atomic<quint64> generation{0};
    std::mutex mutex;
    quint64 readAt = 0; // the generation `path` was read at; 0 before the first read
    bool relative = false;
    QByteArray relativeHome;
    QString path;
};

// Never destroyed: asked from exit handlers too.
KeptHome& keptHome()
{
    static KeptHome* kept = new KeptHome;
    return *kept;
}

QString readHomePath(const QByteArray& home)
{
    if (!home.isEmpty())
        return QDir::cleanPath(QFileInfo(QFile::decodeName(home)).absoluteFilePath());
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (data.isEmpty() || !QDir::isAbsolutePath(data))
        data = QDir::homePath() + QStringLiteral("/.local/share");
    return QDir::cleanPath(data + QStringLiteral("/korvane"));
}

} // namespace

QString Directories::homePath()
{
    KeptHome& kept = keptHome();
    const quint64 generation = kept.generation.load(std::memory_order_acquire) + 1;
    QByteArray relativeHome;
    {
        std::lock_guard lock(kept.mutex);
        if (kept.readAt == generation && !kept.relative)
            return kept.path;
        if (kept.readAt == generation)
            relativeHome = kept.relativeHome;
    }
    if (!relativeHome.isEmpty())
        return readHomePath(relativeHome);
    const QByteArray home = qgetenv("KORVANE_HOME");
    const QString path = readHomePath(home);
    std::lock_guard lock(kept.mutex);
    kept.readAt = generation;
    kept.relative = !home.isEmpty() && !QDir::isAbsolutePath(QFile::decodeName(home));
    kept.relativeHome = kept.relative ? home : QByteArray();
    kept.path = path;
    return path;
}

quint64 Directories::homeGeneration() { return keptHome().generation.load(std::memory_order_acquire); }

void Directories::homeVariablesChanged() { keptHome().generation.fetch_add(1, std::memory_order_acq_rel); }

QString Directories::home() { return ensured(homePath()); }
QString Directories::documents() { return below(QStringLiteral("Documents")); }
QString Directories::caches() { return below(QStringLiteral("Library/Caches")); }
QString Directories::applicationSupport() { return below(QStringLiteral("Library/Application Support")); }
QString Directories::preferences() { return below(QStringLiteral("Library/Preferences")); }
QString Directories::temporary() { return below(QStringLiteral("tmp")); }

QString Directories::keychains()
{
    const QString path = below(QStringLiteral("Library/Keychains"));
    // Secrets live here: only the owner may list or enter the folder, whoever created it.
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (::stat(native.constData(), &st) == 0 && (st.st_mode & 07777) != 0700)
        ::chmod(native.constData(), 0700);
    return path;
}

} // namespace platform
