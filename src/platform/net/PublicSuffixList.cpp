#include "platform/net/PublicSuffixList.h"

#include <QByteArray>
#include <QRegularExpression>

#include <libpsl.h>

namespace platform {
namespace {

// Loaded once and kept for the life of the process: workers read it concurrently and
// libpsl's lookups only read.
const psl_ctx_t* list()
{
    static const psl_ctx_t* const loaded = [] {
        const psl_ctx_t* latest = psl_latest(nullptr);
        return latest ? latest : psl_builtin();
    }();
    return loaded;
}

} // namespace

bool PublicSuffixList::isPublicSuffix(const QString& host)
{
    if (isIPAddress(host))
        return false;
    const psl_ctx_t* psl = list();
    return !psl || psl_is_public_suffix(psl, host.toUtf8().constData()) != 0;
}

QString PublicSuffixList::registrableDomain(const QString& host)
{
    const psl_ctx_t* psl = list();
    if (!psl || host.isEmpty() || isIPAddress(host))
        return {};
    const QByteArray name = host.toUtf8();
    const char* domain = psl_registrable_domain(psl, name.constData());
    return domain ? QString::fromUtf8(domain) : QString();
}

bool PublicSuffixList::sameSite(const QString& host, const QString& otherHost)
{
    if (host == otherHost)
        return true;
    const QString site = registrableDomain(host);
    return !site.isNull() && site == registrableDomain(otherHost);
}

bool PublicSuffixList::isIPAddress(const QString& host)
{
    static const QRegularExpression ipv4(QStringLiteral("^\\d{1,3}(\\.\\d{1,3}){3}$"));
    return host.contains(QLatin1Char(':')) || ipv4.match(host).hasMatch();
}

} // namespace platform
