#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <optional>

namespace platform {

// Replaces `path` with `data` so that a reader sees either the old or the new content,
// never a mix, even across a crash: a temporary file in the same folder, fsync, rename,
// fsync of the folder. The parent folder is created when missing. On any failure the old
// file is untouched, the temporary file is removed, false is returned and `errorText`
// (when given) says why.
bool writeFileAtomically(const QString& path, const QByteArray& data, QString* errorText = nullptr,
                         QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner
                                                          | QFile::ReadGroup | QFile::ReadOther);

// The whole content of `path`; empty optional when it is missing, unreadable, not a regular
// file, or larger than `maxBytes` (when maxBytes >= 0).
std::optional<QByteArray> readFile(const QString& path, qint64 maxBytes = -1, QString* errorText = nullptr);

} // namespace platform
