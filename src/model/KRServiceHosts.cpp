#include "model/KRServiceHosts.h"

#include "model/KRBuildConfig.h"

#include <QStringList>

namespace KRServiceHosts {
namespace {
QString under(const char* prefix, const QString& domain) { return QLatin1String(prefix) + domain; }
}

QString mainDomain() { return QString::fromUtf8(KRBuildConfig::ServiceDomain).toLower(); }
QString oldDomain() { return QString::fromUtf8(KRBuildConfig::OldServiceDomain).toLower(); }
QString apiHost() { return under("api.", mainDomain()); }
QString appHost() { return under("app.", mainDomain()); }
QString passportHost() { return under("passport.", mainDomain()); }
QString commentHost() { return under("comment.", mainDomain()); }
QString vcHost() { return under("vc.", mainDomain()); }
QString webHost() { return under("www.", mainDomain()); }
QString dynamicsWebHost() { return under("t.", mainDomain()); }
QString staticCDNHost() { return under("static.", mainDomain()); }
QString oldAPIHost() { return under("api.", oldDomain()); }
QString oldPlayHost() { return under("play.", oldDomain()); }
QString imagePrimaryDomain() { return QString::fromUtf8(KRBuildConfig::ImageDomain).toLower(); }
QString imageAlternateDomain() { return QString::fromUtf8(KRBuildConfig::ImageAltDomain).toLower(); }
QString makerHost() { return QString::fromUtf8(KRBuildConfig::MakerHost).toLower(); }
QStringList videoCDNHostSuffixes()
{
    QStringList suffixes;
    for (const QString& part : QString::fromUtf8(KRBuildConfig::VideoCDNDomains).split(QLatin1Char(';'))) {
        QString domain = part.trimmed().toLower();
        while (domain.startsWith(QLatin1Char('.')))
            domain.remove(0, 1);
        if (!domain.isEmpty())
            suffixes.append(domain);
    }
    return suffixes;
}
QString appKey() { return QString::fromUtf8(KRBuildConfig::AppKey); }
QString appSecret() { return QString::fromUtf8(KRBuildConfig::AppSecret); }
QString tvAppKey() { return QString::fromUtf8(KRBuildConfig::TVAppKey); }
QString tvAppSecret() { return QString::fromUtf8(KRBuildConfig::TVAppSecret); }

QStringList allServiceHosts()
{
    return {apiHost(), appHost(), passportHost(), commentHost(), vcHost(), webHost(), staticCDNHost(),
            oldAPIHost(), oldPlayHost(), under("i0.", imagePrimaryDomain()), under("i0.", imageAlternateDomain()),
            makerHost()};
}
}
