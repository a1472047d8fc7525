#include "account/KRAccountRequestKinds.h"

#include "model/KRServiceHosts.h"

#include <atomic>

namespace {

const QString kTVAgent = QStringLiteral("Mozilla/5.0 (Linux; Android 13; TV) zant-tv/1.6.6");
const QString kAppAgent = QStringLiteral("zant-universal/82200200 CFNetwork/811.5.4 Darwin/16.7.0");
const QString kWebAgent = QStringLiteral(
    "Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/140.0.0.0 Safari/537.36");

std::atomic<double> testingTimeout{0};

} // namespace

namespace KRAccountRequestKinds {

const KRAccountRequestKind& tv()
{
    static const KRAccountRequestKind kind{QStringLiteral("tv"), kTVAgent, false, false, false, true, false, false, 20.0};
    return kind;
}

const KRAccountRequestKind& app()
{
    static const KRAccountRequestKind kind{QStringLiteral("app"), kAppAgent, false, false, false, true, false, false, 20.0};
    return kind;
}

const KRAccountRequestKind& web()
{
    static const KRAccountRequestKind kind{QStringLiteral("web"), kWebAgent, true, true, true, true, true, false, 20.0};
    return kind;
}

const KRAccountRequestKind& upload()
{
    static const KRAccountRequestKind kind{QStringLiteral("upload"), kWebAgent, true, true, false, false, true, true, 30.0};
    return kind;
}

const KRAccountRequestKind& forAddress(const QString& host, const QString& path)
{
    const QString apiHost = KRServiceHosts::apiHost();
    const QString passportHost = KRServiceHosts::passportHost();
    if ((host == apiHost && path.startsWith(QLatin1String("/x/tv/")))
        || (host == passportHost && path.startsWith(QLatin1String("/x/passport-tv-login/"))))
        return tv();
    if (host == KRServiceHosts::appHost() || (host == passportHost && path == QLatin1String("/api/v2/oauth2/refresh_token"))
        || (host == apiHost && (path.startsWith(QLatin1String("/pgc/player/api/")) || path == QLatin1String("/x/v2/history/report"))))
        return app();
    return web();
}

QString webRootURL() { return QStringLiteral("https://") + KRServiceHosts::webHost() + QLatin1Char('/'); }
QString webOrigin() { return QStringLiteral("https://") + KRServiceHosts::webHost(); }

void setTimeoutForTesting(double seconds) { testingTimeout.store(seconds > 0 ? seconds : 0); }

double effectiveTimeout(const KRAccountRequestKind& kind)
{
    const double shortened = testingTimeout.load();
    return shortened > 0 ? shortened : kind.timeoutSeconds;
}

} // namespace KRAccountRequestKinds

bool KRAccountMayCarrySessionCookieHeader(const QUrl& url)
{
    if (url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) != 0)
        return false;
    const QString host = url.host().toLower();
    for (const QString& domain : {KRServiceHosts::mainDomain(), KRServiceHosts::oldDomain()}) {
        if (host == domain || host.endsWith(QLatin1Char('.') + domain))
            return true;
    }
    return false;
}
