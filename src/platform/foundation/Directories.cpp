#include "platform/foundation/Directories.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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

} // namespace

QString Directories::homePath()
{
    // Asked on every read of the user defaults (hundreds of times while a screen is built),
    // so the path is kept for as long as the variables it comes from stay the same. A
    // relative home also depends on the working directory and is worked out each time.
    struct Kept {
        std::mutex mutex;
        QByteArray home, dataHome, userHome;
        QString path;
    };
    static Kept* kept = new Kept; // never destroyed: asked from exit handlers too
    const QByteArray home = qgetenv("KORVANE_HOME");
    const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
    const QByteArray userHome = qgetenv("HOME");
    const bool relative = !home.isEmpty() && !QDir::isAbsolutePath(QFile::decodeName(home));
    if (!relative) {
        std::lock_guard lock(kept->mutex);
        if (!kept->path.isEmpty() && kept->home == home && kept->dataHome == dataHome && kept->userHome == userHome)
            return kept->path;
    }
    QString path;
    if (!home.isEmpty()) {
        path = QDir::cleanPath(QFileInfo(QFile::decodeName(home)).absoluteFilePath());
    } else {
        QString data = QFile::decodeName(dataHome);
        if (data.isEmpty() || !QDir::isAbsolutePath(data))
            data = QDir::homePath() + QStringLiteral("/.local/share");
        path = QDir::cleanPath(data + QStringLiteral("/korvane"));
    }
    if (!relative) {
        std::lock_guard lock(kept->mutex);
        kept->home = home;
        kept->dataHome = dataHome;
        kept->userHome = userHome;
        kept->path = path;
    }
    return path;
}

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
