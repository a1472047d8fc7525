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

int store(const QString& path, const QByteArray& data)
{
    return writeFileAtomically(path, data, nullptr, QFile::ReadOwner | QFile::WriteOwner) ? errSecSuccess : errSecIO;
}

// Runs `work` on the item's path under the lock that keeps each check-then-write whole.
template <typename Work>
int withItem(const QString& service, const QString& account, Work work)
{
    if (service.isNull() || account.isNull())
        return errSecParam;
    std::lock_guard lock(itemsMutex());
    return work(itemPath(service, account));
}

} // namespace

QString itemPath(const QString& service, const QString& account)
{
    // Unambiguous: the separator cannot occur inside UTF-8 text of either part.
    const QByteArray key = service.toUtf8() + '\xff' + account.toUtf8();
    return Directories::keychains() + QLatin1Char('/') + Hash::sha256Hex(key) + QStringLiteral(".item");
}

int copy(const QString& service, const QString& account, QByteArray* data)
{
    return withItem(service, account, [&](const QString& path) {
        if (!QFileInfo::exists(path))
            return errSecItemNotFound;
        const auto content = readFile(path);
        if (!content)
            return errSecIO;
        if (data)
            *data = *content;
        return errSecSuccess;
    });
}

int add(const QString& service, const QString& account, const QByteArray& data)
{
    return withItem(service, account, [&](const QString& path) {
        return QFileInfo::exists(path) ? errSecDuplicateItem : store(path, data);
    });
}

int update(const QString& service, const QString& account, const QByteArray& data)
{
    return withItem(service, account, [&](const QString& path) {
        return QFileInfo::exists(path) ? store(path, data) : errSecItemNotFound;
    });
}

int remove(const QString& service, const QString& account)
{
    return withItem(service, account, [&](const QString& path) {
        if (!QFileInfo::exists(path))
            return errSecItemNotFound;
        return QFile::remove(path) ? errSecSuccess : errSecIO;
    });
}

} // namespace Keychain
} // namespace platform
