#include "platform/net/RedirectPolicy.h"

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

void RedirectPolicy::dropCredentialsLeavingSite(const QString& originalHost, const QString& nextHost,
                                                HTTPHeaders& headers)
{
    if (sameSite(originalHost, nextHost))
        return;
    headers.remove(QStringLiteral("Cookie"));
    headers.remove(QStringLiteral("Authorization"));
}

// Hosts of one site (the same host, its subdomains, or siblings under its parent domain)
// may see the caller's credentials after a redirect; any other host may not.
bool RedirectPolicy::sameSite(const QString& original, const QString& next)
{
    if (original == next || next.endsWith(QLatin1Char('.') + original))
        return true;
    const qsizetype firstDot = original.indexOf(QLatin1Char('.'));
    if (firstDot < 0)
        return false;
    const QString parent = original.mid(firstDot + 1);
    if (!parent.contains(QLatin1Char('.')))
        return false;
    return next == parent || next.endsWith(QLatin1Char('.') + parent);
}

} // namespace platform
