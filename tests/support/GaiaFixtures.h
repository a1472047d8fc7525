#pragma once

#include "support/FakeService.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace testsupport {

// The captcha page's side of the fake service: the risk configuration on the API host and the
// captcha loader on the static CDN host, each in the shapes a test needs.
namespace GaiaFixtures {

enum class Configuration {
    Trusted,          // https addresses inside the captcha SDK's folder
    ProtocolRelative, // "//" + the static host + the folder
    PlainHTTP,        // "http://" logic address
    OutsideFolder,    // on the static host, outside the folder
    UntrustedSource,  // a trusted logic address beside a "source" on another host
    NotJSON,          // an HTML page
    Stalled,          // headers, then nothing
};

enum class Loader {
    ResolvesToken, // calls onInit, then resolves the token
    Rejects,       // calls onInit, then rejects
    Missing,       // no load function
};

QString configurationPath();                 // "/x/web-frontend/risk/config"
QString loaderPath();                        // the loader's path on the static CDN host
QString trustedScriptAddress(const QString& file); // "https://<static>/bfs/static/jinkela/risk-captcha-sdk/<file>"

void serveConfiguration(FakeService& service, Configuration configuration);
void serveLoader(FakeService& service, Loader loader, const QString& token = QStringLiteral("a+b/c="));

// The verifier log of the current run, and the stages it holds in order.
QJsonObject verifierLog();
QStringList loggedStages();

} // namespace GaiaFixtures
} // namespace testsupport
