#include "platform/net/RedirectPolicy.h"

#include "platform/net/PublicSuffixList.h"

namespace platform {

bool RedirectPolicy::isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

void RedirectPolicy::rewriteForNextHop(int status, QString& method, QByteArray& body, HTTPHeaders& headers)
{
    const bool becomesGet = (status == 303 && method != QLatin1String("HEAD"))
        || ((status == 301 || status == 302) && method == QLatin1String("POST"));
    if (!becomesGet)
        return;
    method = QStringLiteral("GET");
    body.clear();
    headers.remove(QStringLiteral("Content-Type"));
    headers.remove(QStringLiteral("Content-Length"));
}

void RedirectPolicy::dropCredentialsLeavingSite(const QUrl& original, const QUrl& next, HTTPHeaders& headers)
{
    const bool downgrade = original.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0
        && next.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) != 0;
    const QString originalHost = original.host(QUrl::FullyEncoded).toLower();
    const QString nextHost = next.host(QUrl::FullyEncoded).toLower();
    if (!downgrade && PublicSuffixList::sameSite(originalHost, nextHost))
        return;
    headers.remove(QStringLiteral("Cookie"));
    headers.remove(QStringLiteral("Authorization"));
}

} // namespace platform
