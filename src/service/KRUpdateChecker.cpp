#include "service/KRUpdateChecker.h"

#include "model/KRServiceHosts.h"
#include "service/KRAsyncRequest.h"
#include "service/KRRequestPipeline.h"
#include "store/KRDiagnostics.h"

namespace {
const QString kErrorDomain = QStringLiteral("KRUpdateCheckErrorDomain");
} // namespace

KRUpdateChecker* KRUpdateChecker::sharedChecker()
{
    static KRUpdateChecker* checker = new KRUpdateChecker; // lives as long as the process
    return checker;
}

QString KRUpdateChecker::manifestAddress()
{
    return QStringLiteral("https://") + KRServiceHosts::makerHost() + QStringLiteral("/tarnwick-api/releases/ios/latest.json");
}

void KRUpdateChecker::checkForUpdates()
{
    if (m_checking)
        return;
    m_checking = true;
    // The shared checker lives as long as the process: the request has no owner.
    const bool started = KRAsyncRequest().run(
        [](const KRAsyncRequest&) {
            return KRRequestPipeline::perform(KRRequestKind::ReleaseManifest, KRRequestAddress(manifestAddress()));
        },
        [](const platform::HTTPResponse& response) { sharedChecker()->finish(response.status, response.body, response.error); });
    // A closed pipeline (the process is ending) releases the operation unrun.
    if (!started)
        finish(0, {}, KRError(kErrorDomain, -999, QStringLiteral("The request pipeline is closed")));
}

void KRUpdateChecker::finish(int status, const QByteArray& body, const KROptionalError& error)
{
    if (!m_checking)
        return;
    m_checking = false;
    if (error) {
        m_lastError = error;
    } else if (status != 200) {
        // A redirect or any other answer is not the manifest, whatever its body holds.
        m_lastError = KRError(kErrorDomain, status, QStringLiteral("The release manifest answered HTTP %1").arg(status));
    } else {
        m_lastError.reset();
        m_lastBody = body;
    }
    KRDiagnostics::recordEvent(QStringLiteral("update-check"),
                               QStringLiteral("status=%1 bytes=%2 errorCode=%3")
                                   .arg(status)
                                   .arg(m_lastError ? 0 : body.size())
                                   .arg(m_lastError ? m_lastError->code() : 0));
    Q_EMIT checkFinished();
}

void KRUpdateChecker::resetForTesting()
{
    m_checking = false;
    m_lastBody.reset();
    m_lastError.reset();
}
