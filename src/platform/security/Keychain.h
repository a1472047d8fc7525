#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

// Generic-password items keyed by (service, account), each one file under
// Directories::keychains() (folder 0700, files 0600, written atomically). Answers with the
// platform's status codes. Thread-safe.
namespace Keychain {

constexpr int errSecSuccess = 0;
constexpr int errSecItemNotFound = -25300;
constexpr int errSecDuplicateItem = -25299;
constexpr int errSecIO = -36;
constexpr int errSecParam = -50;

// A null service or account is errSecParam. `data` may be nullptr (existence check).
int copy(const QString& service, const QString& account, QByteArray* data);
int add(const QString& service, const QString& account, const QByteArray& data);
int update(const QString& service, const QString& account, const QByteArray& data);
int remove(const QString& service, const QString& account);

// Where the item lives (for tests and diagnostics); the file may not exist.
QString itemPath(const QString& service, const QString& account);

} // namespace Keychain
} // namespace platform
