#include "platform/foundation/Bundle.h"

#include "platform/foundation/AtomicFile.h"

#include <QFileInfo>

#include <mutex>

namespace platform {

namespace {

std::mutex& rootLock()
{
    static std::mutex lock;
    return lock;
}

QString& testingRoot()
{
    static QString root;
    return root;
}

// Names come from the program's own code, yet a separator or a parent step would still let
// one reach outside the bundle, so such names find nothing.
bool isPlainComponent(const QString& part) { return !part.contains(QLatin1Char('/')) && part != QLatin1String("..") && part != QLatin1String("."); }

} // namespace

QString Bundle::root()
{
    std::lock_guard lock(rootLock());
    return testingRoot().isEmpty() ? QStringLiteral(":") : testingRoot();
}

void Bundle::setRootForTesting(const QString& root)
{
    std::lock_guard lock(rootLock());
    testingRoot() = root;
}

QString Bundle::pathForResource(const QString& name, const QString& type, const QString& directory)
{
    if (name.isEmpty() || !isPlainComponent(name) || !isPlainComponent(type))
        return QString();
    QString path = root();
    for (const QString& part : directory.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String("..") || part == QLatin1String("."))
            return QString();
        path += QLatin1Char('/') + part;
    }
    path += QLatin1Char('/') + name;
    if (!type.isEmpty())
        path += QLatin1Char('.') + type;
    const QFileInfo info(path);
    return info.exists() && info.isFile() ? path : QString();
}

std::optional<QByteArray> Bundle::contentsOfResource(const QString& name, const QString& type, const QString& directory,
                                                     qint64 maxBytes)
{
    const QString path = pathForResource(name, type, directory);
    if (path.isNull())
        return std::nullopt;
    return readFile(path, maxBytes);
}

} // namespace platform
