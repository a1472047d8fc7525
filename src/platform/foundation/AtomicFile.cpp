#include "platform/foundation/AtomicFile.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

mode_t modeFromPermissions(QFile::Permissions p)
{
    mode_t mode = 0;
    if (p & (QFile::ReadOwner | QFile::ReadUser)) mode |= S_IRUSR;
    if (p & (QFile::WriteOwner | QFile::WriteUser)) mode |= S_IWUSR;
    if (p & (QFile::ExeOwner | QFile::ExeUser)) mode |= S_IXUSR;
    if (p & QFile::ReadGroup) mode |= S_IRGRP;
    if (p & QFile::WriteGroup) mode |= S_IWGRP;
    if (p & QFile::ExeGroup) mode |= S_IXGRP;
    if (p & QFile::ReadOther) mode |= S_IROTH;
    if (p & QFile::WriteOther) mode |= S_IWOTH;
    if (p & QFile::ExeOther) mode |= S_IXOTH;
    return mode;
}

bool fail(QString* errorText, const QString& what, int err)
{
    if (errorText)
        *errorText = what + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(err));
    return false;
}

bool writeAll(int fd, const QByteArray& data)
{
    const char* p = data.constData();
    qint64 left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

} // namespace

bool writeFileAtomically(const QString& path, const QByteArray& data, QString* errorText,
                         QFile::Permissions permissions)
{
    const QFileInfo info(path);
    if (path.isEmpty() || info.fileName().isEmpty())
        return fail(errorText, QStringLiteral("invalid path"), EINVAL);
    const QString folder = info.absolutePath();
    if (!QDir().mkpath(folder))
        return fail(errorText, QStringLiteral("cannot create folder"), errno ? errno : EACCES);

    QByteArray temp = QFile::encodeName(folder + QStringLiteral("/.") + info.fileName() + QStringLiteral(".XXXXXX"));
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return fail(errorText, QStringLiteral("cannot create temporary file"), errno);

    auto abandon = [&](const QString& what) {
        const int err = errno;
        ::close(fd);
        ::unlink(temp.constData());
        return fail(errorText, what, err);
    };
    if (!writeAll(fd, data))
        return abandon(QStringLiteral("cannot write"));
    if (::fchmod(fd, modeFromPermissions(permissions)) != 0)
        return abandon(QStringLiteral("cannot set permissions"));
    if (::fsync(fd) != 0)
        return abandon(QStringLiteral("cannot sync"));
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(temp.constData());
        return fail(errorText, QStringLiteral("cannot close"), err);
    }
    const QByteArray target = QFile::encodeName(info.absoluteFilePath());
    if (::rename(temp.constData(), target.constData()) != 0) {
        const int err = errno;
        ::unlink(temp.constData());
        return fail(errorText, QStringLiteral("cannot replace"), err);
    }
    // Make the rename itself durable; the data is in place either way, so a failure here is
    // not reported as a failed write.
    const int dirFd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

std::optional<QByteArray> readFile(const QString& path, qint64 maxBytes, QString* errorText)
{
    QFile file(path);
    const QFileInfo info(path);
    if (!info.exists()) {
        fail(errorText, QStringLiteral("no such file"), ENOENT);
        return std::nullopt;
    }
    if (!info.isFile()) {
        fail(errorText, QStringLiteral("not a regular file"), EISDIR);
        return std::nullopt;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        if (errorText)
            *errorText = QStringLiteral("cannot open: ") + file.errorString();
        return std::nullopt;
    }
    if (maxBytes >= 0 && file.size() > maxBytes) {
        fail(errorText, QStringLiteral("file too large"), EFBIG);
        return std::nullopt;
    }
    QByteArray data;
    if (maxBytes < 0) {
        data = file.readAll();
    } else {
        // Sized by the file, not by the limit: a read of the limit would allocate all of it.
        // One byte more, and then the rest up to one byte past the limit, since the file may
        // have grown since its size was read.
        data = file.read(std::min(file.size(), maxBytes) + 1);
        while (data.size() <= maxBytes && file.error() == QFileDevice::NoError) {
            const QByteArray more = file.read(std::min<qint64>(maxBytes + 1 - data.size(), 1 << 20));
            if (more.isEmpty())
                break;
            data += more;
        }
    }
    if (file.error() != QFileDevice::NoError) {
        if (errorText)
            *errorText = QStringLiteral("cannot read: ") + file.errorString();
        return std::nullopt;
    }
    if (maxBytes >= 0 && data.size() > maxBytes) {
        fail(errorText, QStringLiteral("file too large"), EFBIG);
        return std::nullopt;
    }
    return data;
}

} // namespace platform
