#include "store/KRDiagnostics.h"

#include "platform/device/DeviceProfile.h"
#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/CrashCapture.h"
#include "platform/foundation/Directories.h"
#include "platform/foundation/PropertyList.h"
#include "model/KRBuildConfig.h"
#include "store/KRSessionStore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTimeZone>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <cstdio>
#include <mutex>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

constexpr qint64 kRotationThreshold = 512 * 1024;
constexpr qint64 kCurrentLogTail = 256 * 1024;
constexpr qint64 kPreviousLogTail = 64 * 1024;
constexpr qint64 kProbeTail = 64 * 1024;
constexpr qint64 kCrashReportTail = 256 * 1024;

const char* const kLogName = "KorvaneRuntime.log";
const char* const kPreviousLogName = "KorvaneRuntime.previous.log";
const char* const kProbeNames[] = {"KorvaneGaiaVerifierDiagnostic.json", "KorvaneGaiaDiagnostic.json",
                                   "KorvaneQualityProbe.json", "KorvaneDecoderProbe.json", "KorvaneAVSyncProbe.json"};
// What a fatal signal leaves in the log.
const std::pair<int, const char*> kFatalSignalLines[] = {
    {SIGILL, "[fatal-signal] SIGILL\n"}, {SIGABRT, "[fatal-signal] SIGABRT\n"}, {SIGFPE, "[fatal-signal] SIGFPE\n"},
    {SIGBUS, "[fatal-signal] SIGBUS\n"}, {SIGSEGV, "[fatal-signal] SIGSEGV\n"}};

// The class lock: every append and the whole of starting capture, and with them every use
// of the capture's file. Recursive because starting capture can be reached from inside an
// append's caller chain (the uncaught-exception handler records an event on whatever
// thread threw).
std::recursive_mutex& classLock()
{
    static std::recursive_mutex lock;
    return lock;
}

// Guarded by classLock().
bool gStarted = false;
// The runtime log's path, fixed when capture starts.
QByteArray gLogPath;
// Read without the lock.
std::atomic<bool> gStartedFlag{false};

void writeAll(int fd, const char* data, size_t length)
{
    while (length > 0) {
        const ssize_t written = ::write(fd, data, length);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        data += written;
        length -= size_t(written);
    }
}

// Values of a property list the way the platform describes them.
QString plistDescription(const QVariant& value, int depth)
{
    const QString indent(depth * 4, u' ');
    const QString inner((depth + 1) * 4, u' ');
    if (value.typeId() == QMetaType::QVariantMap) {
        const QVariantMap map = value.toMap();
        QString text = QStringLiteral("{\n");
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            text += inner + it.key() + QStringLiteral(" = ") + plistDescription(it.value(), depth + 1) + QStringLiteral(";\n");
        return text + indent + u'}';
    }
    if (value.typeId() == QMetaType::QVariantList) {
        const QVariantList list = value.toList();
        QString text = QStringLiteral("(");
        for (qsizetype i = 0; i < list.size(); ++i)
            text += (i == 0 ? QStringLiteral("\n") : QStringLiteral(",\n")) + inner + plistDescription(list[i], depth + 1);
        return text + u'\n' + indent + u')';
    }
    if (value.typeId() == QMetaType::QByteArray)
        return u'<' + QString::fromLatin1(value.toByteArray().toHex()) + u'>';
    if (value.typeId() == QMetaType::Bool)
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    if (value.typeId() == QMetaType::QDateTime)
        return value.toDateTime().toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss +0000"));
    const QString text = value.toString();
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_.$/:-]+$"));
    return plain.match(text).hasMatch() ? text : u'"' + QString(text).replace(u'"', QStringLiteral("\\\"")) + u'"';
}

// Newest file of this application in the device's crash-report folders (seen from the
// sandbox root); a later candidate wins only when strictly newer.
QFileInfo newestCrashReport()
{
    QFileInfo newest;
    const QString root = platform::Directories::home();
    for (const char* folder : {"/var/mobile/Library/Logs/CrashReporter", "/Library/Logs/CrashReporter"}) {
        const QFileInfoList entries = QDir(root + QLatin1String(folder)).entryInfoList(QDir::Files | QDir::Hidden);
        for (const QFileInfo& entry : entries) {
            if (!entry.fileName().contains(QLatin1String("Korvane"), Qt::CaseInsensitive))
                continue;
            if (!newest.exists() || entry.lastModified() > newest.lastModified())
                newest = entry;
        }
    }
    return newest;
}

} // namespace

QString KRDiagnosticsCacheDirectory()
{
    const QString caches = platform::Directories::caches();
    return caches.isEmpty() ? platform::Directories::temporary() : caches;
}

// MARK: - Capture

void KRDiagnostics::startCapture()
{
    {
        std::lock_guard<std::recursive_mutex> lock(classLock());
        if (gStarted)
            return;
        gStarted = true;
        gStartedFlag.store(true);

        const QString directory = KRDiagnosticsCacheDirectory();
        const QString logPath = directory + u'/' + QLatin1String(kLogName);
        const QString previousPath = directory + u'/' + QLatin1String(kPreviousLogName);
        const QFileInfo current(logPath);
        if (current.exists() && current.size() > kRotationThreshold) {
            QFile::remove(previousPath);
            QFile::rename(logPath, previousPath);
        }
        gLogPath = QFile::encodeName(logPath);
        platform::CrashCapture::openFile(logPath);
        for (const auto& [signalNumber, line] : kFatalSignalLines)
            platform::CrashCapture::setSignalLine(signalNumber, QByteArray(line));
        platform::CrashCapture::install([](const QString& name, const QString& reason, const QString& stack) {
            KRDiagnostics::recordEvent(QStringLiteral("uncaught-exception"),
                                       QStringLiteral("name=%1 reason=%2 stack=%3").arg(name, reason, stack));
        });
    }
    recordEvent(QStringLiteral("session-start"), KRDiagnosticsDeviceSummary());
}

void KRDiagnostics::recordEvent(const QString& event, const QString& detail)
{
    if (!gStartedFlag.load())
        startCapture();

    const double now = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
    char stamp[32];
    const int stampLength = std::snprintf(stamp, sizeof stamp, "%.3f [", now);
    QByteArray line;
    const QByteArray name = (event.isNull() ? QStringLiteral("unknown") : event).toUtf8();
    const QByteArray text = KRDiagnosticsSanitizedText(detail).toUtf8();
    line.reserve(stampLength + name.size() + text.size() + 3);
    line.append(stamp, stampLength).append(name).append("] ", 2).append(text).append('\n');

    // Each event opens the log anew: a log removed or replaced during the run is found (or
    // made) again at its path. The crash handlers' descriptor, opened at start, is theirs alone.
    std::lock_guard<std::recursive_mutex> lock(classLock());
    // Created when missing, never emptied; appending is the seek to the end and the write in
    // one step, so a fatal signal's line written meanwhile is not overwritten.
    const int fd = ::open(gLogPath.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    writeAll(fd, line.constData(), size_t(line.size()));
    ::close(fd);
}

void KRDiagnostics::resetForTesting()
{
    std::lock_guard<std::recursive_mutex> lock(classLock());
    platform::CrashCapture::closeFile();
    gStarted = false;
    gStartedFlag.store(false);
}

// MARK: - Redaction

QString KRDiagnosticsSanitizedText(const QString& text)
{
    if (text.isEmpty())
        return QStringLiteral("");
    // Only texts that name a credential can hold one; most details name none.
    static const char* const keywords[] = {"sessdata", "zant_jct", "dedeuserid", "access_key", "cookie", "csrf", "token"};
    bool mentionsCredential = false;
    for (const char* keyword : keywords) {
        if (text.contains(QLatin1String(keyword), Qt::CaseInsensitive)) {
            mentionsCredential = true;
            break;
        }
    }
    if (!mentionsCredential)
        return text;

    // A value that is exactly YES or NO is a presence flag ("hasSESSDATA=YES"), not a
    // credential. The second pattern catches values the first cannot start on (a quoted
    // value after "="); it skips values the first already redacted, which it would
    // otherwise run on through the rest of a JSON text.
    thread_local const QRegularExpression first(QStringLiteral(
        R"((?i)(SESSDATA|zant_jct|DedeUserID|DedeUserID__ckMd5|access_key|refresh_token|cookie|csrf|token))"
        R"((\s*[=:]\s*|"\s*:\s*")(?!(?-i:YES|NO)(?:[&\s,}"]|$))[^&\s,}"]+)"));
    thread_local const QRegularExpression second(QStringLiteral(
        R"((?i)(SESSDATA|zant_jct|access_key|refresh_token)=(?!<redacted>)(?!(?-i:YES|NO)(?:[&\s]|$))([^&\s]+))"));
    QString result = text;
    result.replace(first, QStringLiteral("\\1=<redacted>"));
    result.replace(second, QStringLiteral("\\1=<redacted>"));
    return result;
}

// MARK: - Device summary

QString KRDiagnosticsDeviceSummary()
{
    const QString machine = platform::DeviceProfile::machine();
    QString model = QStringLiteral("iPhone");
    if (machine.startsWith(QLatin1String("iPad")))
        model = QStringLiteral("iPad");
    else if (machine.startsWith(QLatin1String("iPod")))
        model = QStringLiteral("iPod touch");
    const QSizeF screen = platform::DeviceProfile::screenSize();
    const qreal scale = platform::DeviceProfile::screenScale();
    quint64 freeBytes = 0;
    struct statvfs disk {};
    if (::statvfs(QFile::encodeName(platform::Directories::home()).constData(), &disk) == 0)
        freeBytes = quint64(disk.f_bavail) * quint64(disk.f_frsize);
    const KRSessionStore& session = KRSessionStore::sharedStore();

    QString summary;
    summary += QStringLiteral("app=%1 version=%2 build=%3 bundle=%4\n")
                   .arg(QStringLiteral("岚帆影院"), QLatin1String(KRBuildConfig::Version),
                        QLatin1String(KRBuildConfig::Version), QStringLiteral("com.tarnwick.korvane5"));
    summary += QStringLiteral("system=%1 %2 model=%3 machine=%4\n")
                   .arg(QStringLiteral("iOS"), platform::DeviceProfile::systemVersion(), model, machine);
    summary += QString::asprintf("screen=%.0fx%.0f scale=%.1f deviceFamily=%s\n", screen.width(), screen.height(),
                                 scale > 0 ? scale : 1.0, platform::DeviceProfile::isPad() ? "iPad" : "iPhone");
    summary += QStringLiteral("freeDisk=%1MB loggedIn=%2 locale=%3 timezone=%4\n")
                   .arg(QString::number(freeBytes >> 20), session.isLoggedIn() ? QStringLiteral("YES") : QStringLiteral("NO"),
                        QLocale::system().name(), QString::fromUtf8(QTimeZone::systemTimeZoneId()));
    summary += session.credentialDiagnosticSummary() + u'\n';
    return summary;
}

// MARK: - Export

QString KRDiagnosticsTailOfFile(const QString& path, qint64 byteCount)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("");
    const qint64 size = file.size();
    if (size <= 0)
        return QStringLiteral("");
    const qint64 start = (byteCount >= 0 && size > byteCount) ? size - byteCount : 0;
    if (start > 0 && !file.seek(start))
        return QStringLiteral("<binary or unreadable data>");
    const QByteArray tail = file.read(size - start);
    if (tail.isEmpty())
        return QStringLiteral("");

    // A cut inside a multi-byte character leaves up to three continuation bytes first.
    QByteArrayView text(tail);
    if (start > 0) {
        int skipped = 0;
        while (skipped < 3 && !text.isEmpty() && (quint8(text.front()) & 0xC0) == 0x80) {
            text = text.sliced(1);
            ++skipped;
        }
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = decoder.decode(text);
    if (!decoder.hasError())
        return decoded;
    const QVariant list = platform::PropertyList::parse(tail);
    if (list.isValid())
        return plistDescription(list, 0);
    return QStringLiteral("<binary or unreadable data>");
}

QString KRDiagnostics::createExportFile()
{
    recordEvent(QStringLiteral("diagnostics-export"), QStringLiteral("requested-from-profile-triple-tap"));
    const QString directory = KRDiagnosticsCacheDirectory();

    QString text = QStringLiteral("岚帆影院诊断日志\n================\n");
    text += QString::asprintf("exportedAt=%.3f\n", double(QDateTime::currentMSecsSinceEpoch()) / 1000.0);
    text += KRDiagnosticsDeviceSummary() + u'\n';
    text += QStringLiteral("\n-- Runtime (current, tail) --\n");
    text += KRDiagnosticsTailOfFile(directory + u'/' + QLatin1String(kLogName), kCurrentLogTail);
    const QString previous = KRDiagnosticsTailOfFile(directory + u'/' + QLatin1String(kPreviousLogName), kPreviousLogTail);
    if (!previous.isEmpty())
        text += QStringLiteral("\n\n-- Runtime (previous, tail) --\n") + previous;
    for (const char* probe : kProbeNames) {
        const QString tail = KRDiagnosticsTailOfFile(directory + u'/' + QLatin1String(probe), kProbeTail);
        if (!tail.isEmpty())
            text += QStringLiteral("\n\n-- %1 --\n%2").arg(QLatin1String(probe), tail);
    }
    const QFileInfo crashReport = newestCrashReport();
    if (crashReport.exists()) {
        text += QStringLiteral("\n\n-- Newest crash report: %1 --\n%2")
                    .arg(crashReport.fileName(), KRDiagnosticsTailOfFile(crashReport.filePath(), kCrashReportTail));
    } else {
        text += QStringLiteral("\n\n-- Crash report --\nNo readable Korvane crash report was found.\n");
    }
    text = KRDiagnosticsSanitizedText(text);

    const QString name = QStringLiteral("Korvane-Diagnostics-%1.txt")
                             .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
    const QString path = platform::Directories::temporary() + u'/' + name;
    if (!platform::writeFileAtomically(path, text.toUtf8()))
        return {};
    return path;
}
