#include "account/KRAccountRequestKinds.h"

#include "model/KRServiceHosts.h"

namespace KRAccountRequestKinds {

KRRequestKind forAddress(const QString& host, const QString& path)
{
    // Build constants, asked for on every request.
    static const QString apiHost = KRServiceHosts::apiHost();
    static const QString passportHost = KRServiceHosts::passportHost();
    static const QString appHost = KRServiceHosts::appHost();
    if ((host == apiHost && path.startsWith(QLatin1String("/x/tv/")))
        || (host == passportHost && path.startsWith(QLatin1String("/x/passport-tv-login/"))))
        return KRRequestKind::AccountTV;
    if (host == appHost || (host == passportHost && path == QLatin1String("/api/v2/oauth2/refresh_token"))
        || (host == apiHost && (path.startsWith(QLatin1String("/pgc/player/api/")) || path == QLatin1String("/x/v2/history/report"))))
        return KRRequestKind::AccountApp;
    return KRRequestKind::AccountWeb;
}

void setTimeoutForTesting(double seconds)
{
    KRRequestPipeline::setTimeoutForTesting(
        {KRRequestKind::AccountTV, KRRequestKind::AccountApp, KRRequestKind::AccountWeb, KRRequestKind::AccountUpload}, seconds);
}

} // namespace KRAccountRequestKinds
