#pragma once

#include "store/KRDiagnostics.h"

#include <QFile>
#include <QString>

namespace videotest {

inline QString diagnosticsLog()
{
    QFile file(KRDiagnosticsCacheDirectory() + QStringLiteral("/KorvaneRuntime.log"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace videotest
