#include "account/KRGaiaDiagnostics.h"

#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Directories.h"
#include "store/KRDiagnostics.h"

#include <QDateTime>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>

namespace {

const QString kFileName = QStringLiteral("KorvaneGaiaVerifierDiagnostic.json");
constexpr int kFormatVersion = 1;
constexpr int kMaxEvents = 40;
constexpr int kStageLength = 48;
constexpr int kDetailLength = 240;
constexpr int kRedactionWindow = 4096;
// A log that grew beyond reason (written by something else) is started afresh.
constexpr qint64 kMaxFileBytes = 1024 * 1024;

double now() { return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0; }

QJsonObject freshRun()
{
    return QJsonObject{{QStringLiteral("format_version"), kFormatVersion},
                       {QStringLiteral("started_at"), now()},
                       {QStringLiteral("events"), QJsonArray()}};
}

void write(const QJsonObject& object)
{
    // A log that cannot be written must never disturb the verification itself.
    platform::writeFileAtomically(KRGaiaDiagnostics::filePath(), QJsonDocument(object).toJson(QJsonDocument::Indented));
}

// Long runs of token-like characters holding a digit or a sign before the next underscore:
// vouchers, tokens and cookie values, whatever name they were given.
const QRegularExpression& credentialRun()
{
    static const QRegularExpression expression(
        QStringLiteral(R"((?=[A-Za-z0-9_+\/=.-]{24,})(?=[^_]*[0-9+\/=.-])[A-Za-z0-9_+\/=.-]+)"));
    return expression;
}

} // namespace

QString KRGaiaDiagnostics::filePath()
{
    QString folder = KRDiagnosticsCacheDirectory();
    if (folder.isEmpty())
        folder = platform::Directories::temporary();
    return QDir(folder).filePath(kFileName);
}

QString KRGaiaDiagnostics::sanitizedStage(const QString& stage)
{
    QString kept;
    for (const QChar c : stage.left(kStageLength)) {
        const char16_t u = c.unicode();
        if ((u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') || u == u'_' || u == u'.'
            || u == u'-')
            kept.append(c);
    }
    return kept.isEmpty() ? QStringLiteral("unknown") : kept;
}

QString KRGaiaDiagnostics::sanitizedDetail(const QString& detail)
{
    if (detail.isEmpty())
        return QStringLiteral("");
    // Redacted before the cut, so that a credential running across it is not kept in part;
    // what lies well beyond the cut cannot reach the stored text either way.
    QString text = detail.left(kRedactionWindow);
    text.replace(credentialRun(), QStringLiteral("<redacted>"));
    return text.left(kDetailLength);
}

void KRGaiaDiagnostics::beginVerifierRun() { write(freshRun()); }

void KRGaiaDiagnostics::recordVerifierStage(const QString& stage, const QString& detail)
{
    QJsonObject read;
    if (const auto data = platform::readFile(filePath(), kMaxFileBytes)) {
        const QJsonDocument document = QJsonDocument::fromJson(*data);
        if (document.isObject())
            read = document.object();
    }
    // The file may be damaged or another writer's: only its run's start and its last events
    // are kept, each in the stored form, so what the log holds stays what it promises.
    QJsonObject log = freshRun();
    const QJsonValue startedAt = read.value(QStringLiteral("started_at"));
    if (startedAt.isDouble())
        log.insert(QStringLiteral("started_at"), startedAt.toDouble());
    const QJsonArray previous = read.value(QStringLiteral("events")).toArray();
    QJsonArray events;
    for (qsizetype i = std::max<qsizetype>(0, previous.size() - (kMaxEvents - 1)); i < previous.size(); ++i) {
        if (!previous.at(i).isObject())
            continue;
        const QJsonObject event = previous.at(i).toObject();
        events.append(QJsonObject{{QStringLiteral("at"), event.value(QStringLiteral("at")).toDouble()},
                                  {QStringLiteral("stage"), sanitizedStage(event.value(QStringLiteral("stage")).toString())},
                                  {QStringLiteral("detail"), sanitizedDetail(event.value(QStringLiteral("detail")).toString())}});
    }
    events.append(QJsonObject{{QStringLiteral("at"), now()},
                              {QStringLiteral("stage"), sanitizedStage(stage)},
                              {QStringLiteral("detail"), sanitizedDetail(detail)}});
    log.insert(QStringLiteral("events"), events);
    write(log);
}
