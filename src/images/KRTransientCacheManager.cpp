#include "images/KRTransientCacheManager.h"

#include "images/KRImageLoader.h"
#include "model/KRConsole.h"
#include "platform/foundation/Directories.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/OwnedWork.h"
#include "platform/foundation/ReplyOwner.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <optional>

const QString KRTransientCacheDidChangeNotification = QStringLiteral("KRTransientCacheDidChangeNotification");
const QString KRTransientCacheErrorDomain = QStringLiteral("KRTransientCacheErrorDomain");

namespace {

const QString kPOSIXDomain = QStringLiteral("NSPOSIXErrorDomain");

qint64 sizeOfEntry(const QString& path)
{
    const QFileInfo info(path);
    if (info.isSymLink())
        return 0; // what a link points at is not ours to count
    if (info.isFile())
        return info.size();
    if (!info.isDir())
        return 0;
    quint64 sum = 0;
    QDirIterator walk(path, QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (walk.hasNext()) {
        walk.next();
        const QFileInfo file = walk.fileInfo();
        if (file.isFile() && !file.isSymLink())
            sum += quint64(file.size());
    }
    return qint64(sum);
}

// Removes one entry (a whole folder, a file or a link itself); the POSIX code of a failure.
std::optional<int> removeEntry(const QString& path)
{
    std::error_code failure;
    std::filesystem::remove_all(std::filesystem::path(QFile::encodeName(path).toStdString()), failure);
    if (failure)
        return failure.value();
    return std::nullopt;
}

} // namespace

QString KRTransientCacheOwnedRoot()
{
    const QString caches = platform::Directories::caches();
    if (caches.isEmpty())
        return QString();
    return caches + QStringLiteral("/Korvane");
}

QStringList KRTransientCacheRemovablePaths()
{
    const QString root = KRTransientCacheOwnedRoot();
    if (root.isEmpty())
        return {};
    const QDir dir(root);
    QStringList paths;
    for (const QString& name : dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name))
        paths.append(dir.filePath(name));
    return paths;
}

KRTransientCacheManager* KRTransientCacheManager::sharedManager()
{
    static KRTransientCacheManager* manager = [] {
        // A clear empties the loader's memory cache from a worker; the loader must not be
        // made there.
        KRImageLoader::sharedLoader();
        return new KRTransientCacheManager; // kept for the life of the process
    }();
    return manager;
}

qint64 KRTransientCacheManager::cachedByteCount()
{
    std::lock_guard lock(m_mutex);
    quint64 sum = 0;
    for (const QString& path : KRTransientCacheRemovablePaths())
        sum += quint64(sizeOfEntry(path));
    return qint64(sum);
}

bool KRTransientCacheManager::clearCachedData(KROptionalError* error)
{
    std::optional<int> failedCode;
    QString failedItem;
    {
        std::lock_guard lock(m_mutex);
        KRImageLoader::sharedLoader()->clearMemoryCache();
        for (const QString& path : KRTransientCacheRemovablePaths()) {
            const QString name = QFileInfo(path).fileName();
            std::optional<int> code = (!m_failingEntry.isEmpty() && name == m_failingEntry) ? std::optional<int>(m_failingCode)
                                                                                            : removeEntry(path);
            if (code && !failedCode) {
                failedCode = code;
                failedItem = name;
            }
        }
        const QString root = KRTransientCacheOwnedRoot();
        if (!root.isEmpty() && QFileInfo::exists(root) && !QDir().mkpath(root) && !failedCode)
            failedCode = EACCES;
    }
    if (failedCode && error) {
        KRError underlying(kPOSIXDomain, *failedCode, QString::fromLocal8Bit(std::strerror(*failedCode)));
        *error = KRError(KRTransientCacheErrorDomain, *failedCode,
                         QStringLiteral("部分缓存正在被使用，已清除其余可删除内容。请关闭播放后重试。"))
                     .setUnderlying(underlying);
    }
    KRConsole::log(QStringLiteral("[KorvaneCache] transient cache clear success=%1 code=%2 item=%3")
                       .arg(KRConsole::boolean(!failedCode))
                       .arg(failedCode.value_or(0))
                       .arg(failedItem.isEmpty() ? QStringLiteral("none") : failedItem));
    return !failedCode;
}

void KRTransientCacheManager::clearCachedDataWithCompletion(QObject* owner, Completion completion)
{
    // The change is posted whoever asked; only the completion is the owner's.
    using Cleared = std::pair<bool, KROptionalError>;
    platform::OwnedWork().run(
        [this](const platform::OwnedWork&) -> Cleared {
            KROptionalError error;
            const bool success = clearCachedData(&error);
            return {success, error};
        },
        [this, owned = platform::ownedBy(owner, std::move(completion))](const Cleared& cleared) {
            platform::NotificationCenter::defaultCenter().post(KRTransientCacheDidChangeNotification, this);
            owned(cleared.first, cleared.second);
        });
}

void KRTransientCacheManager::setRemovalFailureForTesting(const QString& entryName, int code)
{
    std::lock_guard lock(m_mutex);
    m_failingEntry = entryName;
    m_failingCode = code;
}
