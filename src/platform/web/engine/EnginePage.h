#pragma once

#include "platform/web/WebEngine.h"
#include "platform/web/WebEnginePage.h"

#include <QObject>
#include <QStringList>

#include <memory>

class QWebEngineCertificateError;
class QWebEngineLoadingInfo;
class QWebEngineProfile;
class QWebEngineView;

namespace platform::web {

// A page of the engine module: an off-the-record profile of its own (nothing of it reaches the
// disk), the page and its view. The profile outlives its page.
class EnginePage : public QObject, public WebEnginePage {
public:
    EnginePage(WebEngine::Host* host, const QStringList& privateSchemes, WebEnginePage::Client* client,
               const QString& userAgent, QWidget* parent);

    QWidget* view() const override;
    void setCookies(const QList<Cookie>& cookies) override;
    void loadHTML(const QString& html, const QUrl& baseURL) override;
    void stop() override;
    void runJavaScript(const QString& script, std::function<void(const QVariant&)> completion) override;
    void close(bool deferred) override;

private:
    class Page;

    ~EnginePage() override;
    void loadingChanged(const QWebEngineLoadingInfo& info);
    void certificateError(QWebEngineCertificateError error);

    WebEngine::Host* m_host;
    WebEnginePage::Client* m_client;
    QWebEngineProfile* m_profile = nullptr;
    Page* m_page = nullptr;
    QWebEngineView* m_view = nullptr;
    // Scripts' completions are dropped once the page is closed.
    std::shared_ptr<bool> m_open = std::make_shared<bool>(true);
};

} // namespace platform::web
