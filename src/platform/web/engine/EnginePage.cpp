#include "platform/web/engine/EnginePage.h"

#include "platform/web/engine/CertificateCheck.h"
#include "platform/web/engine/LoadErrorMapping.h"

#include <QNetworkCookie>
#include <QWebEngineCertificateError>
#include <QWebEngineCookieStore>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlSchemeHandler>
#include <QWebEngineView>

#include <utility>

namespace platform::web {

namespace {

// Navigations to a private scheme are cancelled before they start; should one still reach the
// network side, it is refused rather than left hanging.
class PrivateSchemeRefusal : public QWebEngineUrlSchemeHandler {
public:
    using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;
    void requestStarted(QWebEngineUrlRequestJob* job) override { job->fail(QWebEngineUrlRequestJob::RequestDenied); }
};

} // namespace

class EnginePage::Page : public QWebEnginePage {
public:
    Page(QWebEngineProfile* profile, WebEnginePage::Client* client) : QWebEnginePage(profile), m_client(client) {}
    void detach() { m_client = nullptr; }

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType, bool isMainFrame) override
    {
        return m_client ? m_client->acceptNavigation(url, isMainFrame) : false;
    }
    // The engine's own dialogs would run an event loop inside ours; the phone's web view shows
    // none without its host's say, and the host asks for none.
    void javaScriptAlert(const QUrl&, const QString&) override {}
    bool javaScriptConfirm(const QUrl&, const QString&) override { return false; }
    bool javaScriptPrompt(const QUrl&, const QString&, const QString&, QString*) override { return false; }
    // What a page writes to its console may hold its tokens; it never reaches our logs.
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int, const QString&) override {}

private:
    WebEnginePage::Client* m_client;
};

EnginePage::EnginePage(WebEngine::Host* host, const QStringList& privateSchemes, WebEnginePage::Client* client,
                       const QString& userAgent, QWidget* parent)
    : m_host(host)
    , m_client(client)
{
    m_profile = new QWebEngineProfile(); // off the record
    if (!userAgent.isEmpty())
        m_profile->setHttpUserAgent(userAgent);
    for (const QString& scheme : privateSchemes)
        m_profile->installUrlSchemeHandler(scheme.toLatin1(), new PrivateSchemeRefusal(m_profile));
    m_page = new Page(m_profile, client);
    // As on the phone: no icon fetches of the page's own.
    m_page->settings()->setAttribute(QWebEngineSettings::AutoLoadIconsForPage, false);
    m_view = new QWebEngineView(parent);
    m_view->setPage(m_page);
    connect(m_page, &QWebEnginePage::loadingChanged, this,
            [this](const QWebEngineLoadingInfo& info) { loadingChanged(info); });
    connect(m_page, &QWebEnginePage::certificateError, this,
            [this](const QWebEngineCertificateError& error) { certificateError(error); });
}

EnginePage::~EnginePage()
{
    // The profile must outlive its page.
    delete m_page;
    delete m_profile;
}

QWidget* EnginePage::view() const { return m_view; }

void EnginePage::setCookies(const QList<Cookie>& cookies)
{
    QWebEngineCookieStore* store = m_profile->cookieStore();
    for (const Cookie& cookie : cookies) {
        QNetworkCookie copy(cookie.name, cookie.value);
        copy.setDomain(cookie.domain);
        copy.setPath(cookie.path);
        if (cookie.expires)
            copy.setExpirationDate(*cookie.expires);
        copy.setSecure(cookie.secure);
        copy.setHttpOnly(cookie.httpOnly);
        QUrl origin;
        origin.setScheme(QStringLiteral("https"));
        origin.setHost(cookie.originHost);
        origin.setPath(QStringLiteral("/"));
        store->setCookie(copy, origin);
    }
}

void EnginePage::loadHTML(const QString& html, const QUrl& baseURL) { m_page->setHtml(html, baseURL); }

void EnginePage::stop() { m_page->triggerAction(QWebEnginePage::Stop); }

void EnginePage::runJavaScript(const QString& script, std::function<void(const QVariant&)> completion)
{
    if (!completion) {
        m_page->runJavaScript(script);
        return;
    }
    // A page going with its view answers what is pending with nothing; that is dropped.
    m_page->runJavaScript(script, [open = m_open, completion = std::move(completion)](const QVariant& result) {
        if (*open)
            completion(result);
    });
}

void EnginePage::close(bool deferred)
{
    *m_open = false;
    m_client = nullptr;
    m_page->detach();
    disconnect(m_page, nullptr, this, nullptr);
    // The view goes with the widget it was made for; until then it shows no page.
    if (m_view)
        m_view->setPage(nullptr);
    if (!deferred) {
        delete this;
        return;
    }
    // Closed from inside one of the page's own calls: the page goes once the event loop is
    // back, the profile after it.
    QWebEngineProfile* profile = std::exchange(m_profile, nullptr);
    connect(m_page, &QObject::destroyed, profile, [profile] { profile->deleteLater(); });
    std::exchange(m_page, nullptr)->deleteLater();
    deleteLater();
}

void EnginePage::loadingChanged(const QWebEngineLoadingInfo& info)
{
    if (!m_client)
        return;
    switch (info.status()) {
    case QWebEngineLoadingInfo::LoadStartedStatus:
        m_client->loadStarted();
        return;
    case QWebEngineLoadingInfo::LoadSucceededStatus:
        m_client->loadSucceeded();
        return;
    case QWebEngineLoadingInfo::LoadStoppedStatus:
        m_client->loadStopped();
        return;
    case QWebEngineLoadingInfo::LoadFailedStatus:
        m_client->loadFailed(LoadErrorMapping::urlErrorCode(info.errorDomain(), info.errorCode()));
        return;
    }
}

void EnginePage::certificateError(QWebEngineCertificateError error)
{
    const QString caFile = m_host->extraCAFile();
    if (!caFile.isEmpty() && CertificateCheck::verifiesAgainst(caFile, error.certificateChain(), error.url().host()))
        error.acceptCertificate();
    else
        error.rejectCertificate();
}

} // namespace platform::web
