#include "support/ConsoleCapture.h"

#include <QFile>
#include <QTemporaryFile>

#include <cstdio>
#include <unistd.h>

namespace testsupport {

struct ConsoleCapture::Impl {
    QTemporaryFile file;
    int savedDescriptor = -1;
};

ConsoleCapture::ConsoleCapture() : d(std::make_unique<Impl>())
{
    if (!d->file.open())
        return;
    std::fflush(stderr);
    d->savedDescriptor = ::dup(STDERR_FILENO);
    ::dup2(d->file.handle(), STDERR_FILENO);
}

ConsoleCapture::~ConsoleCapture()
{
    if (d->savedDescriptor < 0)
        return;
    std::fflush(stderr);
    ::dup2(d->savedDescriptor, STDERR_FILENO);
    ::close(d->savedDescriptor);
    // Show what was caught, so a failing test's log still tells the story.
    const QByteArray caught = text().toUtf8();
    std::fwrite(caught.constData(), 1, size_t(caught.size()), stderr);
}

QString ConsoleCapture::text() const
{
    std::fflush(stderr);
    QFile reader(d->file.fileName());
    if (!reader.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(reader.readAll());
}

} // namespace testsupport
