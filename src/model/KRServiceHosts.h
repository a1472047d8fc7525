#pragma once

#include <QString>
#include <QStringList>

// Host names of every role the service plays, derived from the build-time domains.
// Host-based rules compare against these (lower case), so a test server that answers
// for the same names exercises every rule unchanged.
namespace KRServiceHosts {
QString mainDomain();       // registrable domain of web, API, passport and comment hosts
QString oldDomain();        // domain of the old API and old play-address hosts
QString apiHost();          // "api." + main domain
QString appHost();          // "app." + main domain
QString passportHost();     // "passport." + main domain
QString commentHost();      // "comment." + main domain
QString vcHost();           // "vc." + main domain
QString webHost();          // "www." + main domain
QString dynamicsWebHost();  // "t." + main domain: dynamics links name it
QString staticCDNHost();    // "static." + main domain
QString oldAPIHost();       // "api." + old domain
QString oldPlayHost();      // "play." + old domain
QString imagePrimaryDomain();
QString imageAlternateDomain();
QString makerHost();
// The video CDNs' domains (the service's own two and a commercial one), lower case, without a
// leading dot; a media host belongs to a CDN when it ends with one of them.
QStringList videoCDNHostSuffixes();
QString appKey();
QString appSecret();
QString tvAppKey();
QString tvAppSecret();
// Every host above that a test server must answer for.
QStringList allServiceHosts();
}
