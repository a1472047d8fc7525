#include "platform/security/Keychain.h"

#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Directories.h"
#include "platform/security/Hash.h"

#include <QFile>
#include <QFileInfo>

#include <mutex>

namespace platform {
namespace Keychain {
namespace {

std::mutex& itemsMutex()
{
    static std::mutex m;
    return m;
}

bool validKey(const QString& service, const QString& account) { return !service.isNull() && !account.isNull(); }

QString pathIn(const QString& folder, const QString& service, const QString& account)
{
    // Unambiguous: the separator cannot occur inside UTF-8 text of either part.
    const QByteArray key = service.toUtf8() + '\xff' + account.toUtf8();
    return folder + QLatin1Char('/') + Hash::sha256Hex(key) + QStringLiteral(".item");
}

int store(const QString& path, const QByteArray& data)
{
    return writeFileAtomically(path, data, nullptr, QFile::ReadOwner | QFile::WriteOwner) ? errSecSuccess : errSecIO;
}

} // namespace

QString itemPath(const QString& service, const QString& account)
{
    return pathIn(Directories::keychains(), service, account);
}

int copy(const QString& service, const QString& account, QByteArray* data)
{
    if (!validKey(service, account))
        return errSecParam;
    std::lock_guard lock(itemsMutex());
    const QString path = itemPath(service, account);
    if (!QFileInfo::exists(path))
        return errSecItemNotFound;
    const auto content = readFile(path);
    if (!content)
        return errSecIO;
    if (data)
        *data = *content;
    return errSecSuccess;
}

int add(const QString& service, const QString& account, const QByteArray& data)
{
    if (!validKey(service, account))
        return errSecParam;
    std::lock_guard lock(itemsMutex());
    const QString path = itemPath(service, account);
    if (QFileInfo::exists(path))
        return errSecDuplicateItem;
    return store(path, data);
}

int update(const QString& service, const QString& account, const QByteArray& data)
{
    if (!validKey(service, account))
        return errSecParam;
    std::lock_guard lock(itemsMutex());
    const QString path = itemPath(service, account);
    if (!QFileInfo::exists(path))
        return errSecItemNotFound;
    return store(path, data);
}

int remove(const QString& service, const QString& account)
{
    if (!validKey(service, account))
        return errSecParam;
    std::lock_guard lock(itemsMutex());
    QFile file(itemPath(service, account));
    if (!file.exists())
        return errSecItemNotFound;
    return file.remove() ? errSecSuccess : errSecIO;
}

} // namespace Keychain
} // namespace platform
