#include "model/KRConsole.h"

#include <QByteArray>

#include <cstdio>
#include <mutex>

namespace KRConsole {

void log(const QString& line)
{
    static std::mutex mutex;
    QByteArray bytes = line.toUtf8();
    bytes.append('\n');
    std::lock_guard<std::mutex> lock(mutex);
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

QString object(const QString& value)
{
    return value.isNull() ? QStringLiteral("(null)") : value;
}

QString object(const QVariant& value)
{
    if (!value.isValid() || value.isNull())
        return QStringLiteral("(null)");
    if (value.typeId() == QMetaType::Bool)
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    return value.toString();
}

} // namespace KRConsole
