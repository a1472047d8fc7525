#include "platform/media/MediaSeams.h"

#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Directories.h"
#include "platform/net/NetworkSeams.h"
#include "platform/net/TrustStore.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <mutex>

namespace platform::media::MediaSeams {
namespace {

std::mutex& seamMutex()
{
    static std::mutex mutex;
    return mutex;
}

QString& audioOutputValue()
{
    static QString value = qEnvironmentVariable("KORVANE_AUDIO_OUTPUT");
    return value;
}

QString& audioOutputFileValue()
{
    static QString value;
    return value;
}

} // namespace

QString audioOutput()
{
    std::lock_guard lock(seamMutex());
    return audioOutputValue();
}

void setAudioOutput(const QString& output)
{
    std::lock_guard lock(seamMutex());
    audioOutputValue() = output;
}

QString audioOutputFileForTesting()
{
    std::lock_guard lock(seamMutex());
    return audioOutputFileValue();
}

void setAudioOutputFileForTesting(const QString& path)
{
    std::lock_guard lock(seamMutex());
    audioOutputFileValue() = path;
}

QString trustedAuthoritiesFile()
{
    const QByteArray system = platform::TrustStore::systemAuthoritiesPEM();
    QByteArray extra;
    const QString extraFile = platform::NetworkSeams::extraCAFile();
    if (!extraFile.isEmpty()) {
        QFile file(extraFile);
        if (file.open(QIODevice::ReadOnly))
            extra = file.readAll();
    }
    const QByteArray bundle = system + (system.endsWith('\n') || system.isEmpty() ? "" : "\n") + extra;
    if (bundle.trimmed().isEmpty())
        return QString();
    // Named by content, so a bundle once written is reused and a changed one never is.
    const QString name = QStringLiteral("korvane-media-ca-%1.pem")
                             .arg(QString::fromLatin1(QCryptographicHash::hash(bundle, QCryptographicHash::Sha256).toHex().left(16)));
    const QString path = QDir(platform::Directories::temporary()).filePath(name);
    std::lock_guard lock(seamMutex());
    if (QFileInfo(path).size() != bundle.size()) {
        QDir().mkpath(platform::Directories::temporary());
        if (!platform::writeFileAtomically(path, bundle))
            return QString();
    }
    return path;
}

} // namespace platform::media::MediaSeams
