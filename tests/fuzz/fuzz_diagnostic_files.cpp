// The diagnostics' own files read back: the tail of a log (any bytes, cut anywhere, a
// property list when the bytes are no text) and the captcha verifier's log when it is
// damaged or foreign. A tail of text is the end of that text; the verifier's log is, after
// one more stage, a log of at most 40 events ending with that stage.
#include "FuzzInput.h"

#include "account/KRGaiaDiagnostics.h"
#include "store/KRDiagnostics.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>

namespace {

void plant(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(data) != data.size())
        fuzz::fail("the file is planted");
}

void checkTail(fuzz::InputReader& input)
{
    const qint64 byteCount = qint64(input.byte()) - 8;
    const QByteArray content = input.rest();
    static const QString path = KRDiagnosticsCacheDirectory() + QStringLiteral("/KorvaneFuzzTail.log");
    plant(path, content);
    const QString tail = KRDiagnosticsTailOfFile(path, byteCount);
    if (content.isEmpty()) {
        fuzz::check(tail.isEmpty(), "an empty file has an empty tail");
        return;
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString whole = decoder.decode(content);
    if (!decoder.hasError()) {
        fuzz::check(whole.endsWith(tail), "the tail of a text is the end of that text");
        if (byteCount < 0 || byteCount >= content.size())
            fuzz::check(tail == whole, "a text within the count is whole");
        else
            fuzz::check(tail.toUtf8().size() <= byteCount, "a tail keeps within its count");
    }
}

void checkVerifierLog(fuzz::InputReader& input)
{
    const QString stage = QString::fromUtf8(input.chunk(24));
    const QString detail = QString::fromUtf8(input.chunk(64));
    plant(KRGaiaDiagnostics::filePath(), input.rest());
    KRGaiaDiagnostics::recordVerifierStage(stage, detail);
    QFile file(KRGaiaDiagnostics::filePath());
    if (!file.open(QIODevice::ReadOnly))
        fuzz::fail("the verifier's log is written");
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    fuzz::check(document.isObject(), "the verifier's log is an object");
    const QJsonArray events = document.object().value(QStringLiteral("events")).toArray();
    fuzz::check(!events.isEmpty() && events.size() <= 40, "the verifier's log keeps at most 40 events");
    const QJsonObject last = events.last().toObject();
    fuzz::check(last.value(QStringLiteral("stage")).toString() == KRGaiaDiagnostics::sanitizedStage(stage)
                    && last.value(QStringLiteral("detail")).toString() == KRGaiaDiagnostics::sanitizedDetail(detail),
                "the verifier's log ends with the stage recorded");
    for (const QJsonValue& event : events) {
        const QString kept = event.toObject().value(QStringLiteral("stage")).toString();
        fuzz::check(event.isObject() && KRGaiaDiagnostics::sanitizedStage(kept) == kept,
                    "every stage kept is in its safe form");
        const QString keptDetail = event.toObject().value(QStringLiteral("detail")).toString();
        fuzz::check(KRGaiaDiagnostics::sanitizedDetail(keptDetail) == keptDetail, "every detail kept is redacted");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::InputReader input(data, size);
    if (input.byte() & 1)
        checkVerifierLog(input);
    else
        checkTail(input);
    return 0;
}
