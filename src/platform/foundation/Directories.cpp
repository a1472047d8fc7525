#include "platform/foundation/Directories.h"

#include <QDir>
#include <QFileInfo>

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
    const QString fromEnv = qEnvironmentVariable("KORVANE_HOME");
    if (!fromEnv.isEmpty())
        return QDir::cleanPath(QFileInfo(fromEnv).absoluteFilePath());
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.isEmpty() || !QDir::isAbsolutePath(dataHome))
        dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    return QDir::cleanPath(dataHome + QStringLiteral("/korvane"));
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
