#include "support/GaiaFixtures.h"

#include "account/KRGaiaDiagnostics.h"
#include "model/KRServiceHosts.h"
#include "platform/foundation/AtomicFile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

namespace testsupport::GaiaFixtures {

namespace {

const QString kFolder = QStringLiteral("/bfs/static/jinkela/risk-captcha-sdk/");

QByteArray jsString(const QString& text)
{
    const QByteArray wrapped = QJsonDocument(QJsonArray{QJsonValue(text)}).toJson(QJsonDocument::Compact);
    return wrapped.mid(1, wrapped.size() - 2);
}

} // namespace

QString configurationPath() { return QStringLiteral("/x/web-frontend/risk/config"); }

QString loaderPath() { return QStringLiteral("/bfs/seed/jinkela/risk-captcha-sdk/CaptchaLoader.js"); }

QString trustedScriptAddress(const QString& file)
{
    return QStringLiteral("https://") + KRServiceHosts::staticCDNHost() + kFolder + file;
}

void serveConfiguration(FakeService& service, Configuration configuration)
{
    const QString host = KRServiceHosts::staticCDNHost();
    QVariantMap body;
    switch (configuration) {
    case Configuration::Trusted:
        body = {{QStringLiteral("logic"), trustedScriptAddress(QStringLiteral("logic.js"))},
                {QStringLiteral("source"), trustedScriptAddress(QStringLiteral("img.js"))}};
        break;
    case Configuration::ProtocolRelative:
        body = {{QStringLiteral("logic"), QStringLiteral("//") + host + kFolder + QStringLiteral("logic.js")}};
        break;
    case Configuration::PlainHTTP:
        body = {{QStringLiteral("logic"), QStringLiteral("http://") + host + kFolder + QStringLiteral("logic.js")}};
        break;
    case Configuration::OutsideFolder:
        body = {{QStringLiteral("logic"), QStringLiteral("https://") + host + QStringLiteral("/bfs/static/other/logic.js")}};
        break;
    case Configuration::UntrustedSource:
        body = {{QStringLiteral("logic"), trustedScriptAddress(QStringLiteral("logic.js"))},
                {QStringLiteral("source"), QStringLiteral("https://evil.test") + kFolder + QStringLiteral("img.js")}};
        break;
    case Configuration::NotJSON:
        service.routeReply(KRServiceHosts::apiHost(), configurationPath(),
                           FakeReply::html("<html><body>busy</body></html>"));
        return;
    case Configuration::Stalled:
        service.routeReply(KRServiceHosts::apiHost(), configurationPath(), FakeReply{.stall = true});
        return;
    }
    service.routeReply(KRServiceHosts::apiHost(), configurationPath(), FakeReply::json(QVariant(body)));
}

void serveLoader(FakeService& service, Loader loader, const QString& token)
{
    QByteArray script;
    switch (loader) {
    case Loader::ResolvesToken:
        script = "window.CaptchaLoader={load:function(){return function(options){options.onInit();"
                 "return new Promise(function(resolve){setTimeout(function(){resolve(" + jsString(token) + ");},0);});};}};";
        break;
    case Loader::Rejects:
        script = "window.CaptchaLoader={load:function(){return {run:function(options){options.onInit();"
                 "return Promise.reject(new Error('refused by the test'));}};}};";
        break;
    case Loader::Missing:
        script = "window.CaptchaLoader={};";
        break;
    }
    service.routeReply(KRServiceHosts::staticCDNHost(), loaderPath(),
                       FakeReply::text(script, QStringLiteral("application/javascript")));
}

QJsonObject verifierLog()
{
    return QJsonDocument::fromJson(platform::readFile(KRGaiaDiagnostics::filePath()).value_or(QByteArray())).object();
}

QStringList loggedStages()
{
    QStringList stages;
    for (const QJsonValue& event : verifierLog().value(QStringLiteral("events")).toArray())
        stages.append(event.toObject().value(QStringLiteral("stage")).toString());
    return stages;
}

} // namespace testsupport::GaiaFixtures
