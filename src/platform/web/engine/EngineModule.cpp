// The web engine module's entry point: the one symbol korvane_web_engine exports.

#include "platform/web/WebEngine.h"
#include "platform/web/engine/ConnectToProxy.h"
#include "platform/web/engine/EnginePage.h"

#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QWebEngineUrlScheme>

namespace platform::web {

namespace {

class EngineModule final : public WebEngine {
public:
    EngineModule(WebEngine::Host* host, const QStringList& privateSchemes)
        : m_host(host)
        , m_privateSchemes(privateSchemes)
    {
        // Pages are drawn by the engine's software compositor: the window system is asked for
        // no OpenGL (under X without a GPU, the software GL driver would cost tens of MiB).
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        for (const QString& name : privateSchemes) {
            QWebEngineUrlScheme scheme(name.toLatin1());
            scheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
            // A secure page may point its frames at it; the page's content policy does not apply.
            scheme.setFlags(QWebEngineUrlScheme::SecureScheme | QWebEngineUrlScheme::ContentSecurityPolicyIgnored
                            | QWebEngineUrlScheme::CorsEnabled);
            QWebEngineUrlScheme::registerScheme(scheme);
        }
    }

    WebEnginePage* makePage(WebEnginePage::Client* client, const QString& userAgent, QWidget* parent) override
    {
        return new EnginePage(m_host, m_privateSchemes, client, userAgent, parent);
    }

    void installConnectToProxyIfNeeded() override { ConnectToProxy::installIfNeeded(m_host); }

private:
    WebEngine::Host* m_host;
    const QStringList m_privateSchemes;
};

} // namespace

} // namespace platform::web

extern "C" Q_DECL_EXPORT platform::web::WebEngine* korvane_web_engine_open(platform::web::WebEngine::Host* host,
                                                                            const QStringList& privateSchemes)
{
    static platform::web::EngineModule engine(host, privateSchemes);
    return &engine;
}
