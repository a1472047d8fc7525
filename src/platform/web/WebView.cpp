#include "platform/web/WebView.h"

#include "platform/foundation/UserDefaults.h"
#include "platform/net/CookieStorage.h"
#include "platform/net/NetworkSeams.h"
#include "platform/net/URLError.h"
#include "platform/web/CertificateCheck.h"
#include "platform/web/ConnectToProxy.h"
#include "platform/web/LoadErrorMapping.h"

#include <QNetworkCookie>
#include <QResizeEvent>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QWebEngineCertificateError>
#include <QWebEngineCookieStore>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineUrlSchemeHandler>
#include <QWebEngineView>

#include <utility>

namespace platform::web {

namespace {

QStringList& registeredPrivateSchemes()
{
    static QStringList schemes;
    return schemes;
}

// Navigations to a private scheme are cancelled before they start; should one still reach the
// network side, it is refused rather than left hanging.
class PrivateSchemeRefusal : public QWebEngineUrlSchemeHandler {
public:
    using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;
    void requestStarted(QWebEngineUrlRequestJob* job) override { job->fail(QWebEngineUrlRequestJob::RequestDenied); }
};

} // namespace

struct WebView::Impl {
    class Page;

    WebView* q = nullptr;
    WebViewDelegate* delegate = nullptr;
    QWebEngineProfile* profile = nullptr;
    Page* page = nullptr;
    QWebEngineView* engineView = nullptr;
    bool loading = false;
    // A main-frame navigation refused before it started ends in an abort nobody asked about.
    bool mainFrameRefused = false;
    // Delegate calls under way; a view destroyed inside one leaves its page to unwind first.
    int delegateDepth = 0;
    std::shared_ptr<bool> alive = std::make_shared<bool>(true);
    // The document given to loadHTMLString travels as a data address; the delegate is shown
    // the base address the caller gave instead.
    bool htmlLoadPending = false;
    QUrl htmlBaseURL;

    bool shouldStart(const QUrl& url, bool isMainFrame);
    // Calls the delegate, if any, keeping count of the calls under way.
    void report(const std::function<void(WebViewDelegate*)>& call);
    void loadingChanged(const QWebEngineLoadingInfo& info);
    void certificateError(QWebEngineCertificateError error);
    void copySharedCookies();
};

class WebView::Impl::Page : public QWebEnginePage {
public:
    Page(QWebEngineProfile* profile, WebView::Impl* impl) : QWebEnginePage(profile), m_impl(impl) {}
    void detach() { m_impl = nullptr; }

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType, bool isMainFrame) override
    {
        return m_impl ? m_impl->shouldStart(url, isMainFrame) : false;
    }
    // The engine's own dialogs would run an event loop inside ours; the phone's web view shows
    // none without its host's say, and the host asks for none.
    void javaScriptAlert(const QUrl&, const QString&) override {}
    bool javaScriptConfirm(const QUrl&, const QString&) override { return false; }
    bool javaScriptPrompt(const QUrl&, const QString&, const QString&, QString*) override { return false; }
    // What a page writes to its console may hold its tokens; it never reaches our logs.
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int, const QString&) override {}

private:
    WebView::Impl* m_impl;
};

void WebView::registerPrivateSchemes(const QStringList& schemes)
{
    for (const QString& name : schemes) {
        const QString lower = name.toLower();
        if (lower.isEmpty() || registeredPrivateSchemes().contains(lower))
            continue;
        QWebEngineUrlScheme scheme(lower.toLatin1());
        scheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
        // A secure page may point its frames at it; the page's content policy does not apply.
        scheme.setFlags(QWebEngineUrlScheme::SecureScheme | QWebEngineUrlScheme::ContentSecurityPolicyIgnored
                        | QWebEngineUrlScheme::CorsEnabled);
        QWebEngineUrlScheme::registerScheme(scheme);
        registeredPrivateSchemes().append(lower);
    }
}

void WebView::renderWithoutOpenGL()
{
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
}

WebView::WebView(const QRectF& frame, platform::uikit::View* superview)
    : View(frame, superview)
    , d(std::make_unique<Impl>())
{
    d->q = this;
    // The engine takes up a changed proxy as it goes; the seam may be set before any view or
    // between making one and loading it.
    ConnectToProxy::installIfNeeded();
    d->profile = new QWebEngineProfile(); // off the record: nothing of it reaches the disk
    const QString userAgent = UserDefaults::standard().string(QStringLiteral("UserAgent"));
    if (!userAgent.isEmpty())
        d->profile->setHttpUserAgent(userAgent);
    for (const QString& scheme : registeredPrivateSchemes())
        d->profile->installUrlSchemeHandler(scheme.toLatin1(), new PrivateSchemeRefusal(d->profile));

    d->page = new Impl::Page(d->profile, d.get());
    // As on the phone: no icon fetches of the page's own.
    d->page->settings()->setAttribute(QWebEngineSettings::AutoLoadIconsForPage, false);
    d->engineView = new QWebEngineView(this);
    d->engineView->setPage(d->page);
    d->engineView->setGeometry(rect());
    Impl* impl = d.get();
    connect(d->page, &QWebEnginePage::loadingChanged, this,
            [impl](const QWebEngineLoadingInfo& info) { impl->loadingChanged(info); });
    connect(d->page, &QWebEnginePage::certificateError, this,
            [impl](const QWebEngineCertificateError& error) { impl->certificateError(error); });
}

WebView::~WebView()
{
    *d->alive = false;
    d->delegate = nullptr;
    d->page->detach();
    disconnect(d->page, nullptr, this, nullptr);
    d->engineView->setPage(nullptr);
    if (d->delegateDepth == 0) {
        // The profile must outlive its page.
        delete d->page;
        delete d->profile;
        return;
    }
    // Destroyed by its delegate from inside one of the page's own calls: the page goes once
    // the event loop is back, the profile after it.
    QWebEngineProfile* profile = d->profile;
    connect(d->page, &QObject::destroyed, profile, [profile] { profile->deleteLater(); });
    d->page->deleteLater();
}

void WebView::setDelegate(WebViewDelegate* delegate) { d->delegate = delegate; }

WebViewDelegate* WebView::delegate() const { return d->delegate; }

void WebView::loadHTMLString(const QString& html, const QUrl& baseURL)
{
    // The engine takes a document as a percent-encoded data address of at most 2 MiB and
    // reports a longer one as merely aborted; it is refused here as what it is.
    constexpr qsizetype kMaxDocumentAddressBytes = 2 * 1024 * 1024 - 128;
    if (html.toUtf8().toPercentEncoding().size() > kMaxDocumentAddressBytes) {
        Impl* impl = d.get();
        QMetaObject::invokeMethod(this, [this, impl] {
            impl->report([this](WebViewDelegate* target) {
                target->didFailLoad(this, URLError::make(URLError::DataLengthExceedsMaximum));
            });
        }, Qt::QueuedConnection);
        return;
    }
    ConnectToProxy::installIfNeeded();
    d->copySharedCookies();
    d->htmlLoadPending = true;
    d->htmlBaseURL = baseURL;
    d->page->setHtml(html, baseURL);
}

void WebView::stopLoading() { d->page->triggerAction(QWebEnginePage::Stop); }

bool WebView::isLoading() const { return d->loading; }

void WebView::evaluateJavaScript(const QString& script, std::function<void(const QVariant&)> completion)
{
    if (!completion) {
        d->page->runJavaScript(script);
        return;
    }
    // A page going with its view answers what is pending with nothing; that is dropped.
    d->page->runJavaScript(script, [alive = d->alive, completion = std::move(completion)](const QVariant& result) {
        if (*alive)
            completion(result);
    });
}

void WebView::resizeEvent(QResizeEvent* event)
{
    View::resizeEvent(event);
    d->engineView->setGeometry(rect());
}

bool WebView::Impl::shouldStart(const QUrl& url, bool isMainFrame)
{
    QUrl shown = url;
    if (isMainFrame && htmlLoadPending && url.scheme() == QLatin1String("data")) {
        htmlLoadPending = false;
        shown = htmlBaseURL.isEmpty() ? QUrl(QStringLiteral("about:blank")) : htmlBaseURL;
    }
    const bool isPrivate = registeredPrivateSchemes().contains(url.scheme().toLower());
    bool allowed = true;
    if (delegate) {
        const std::shared_ptr<bool> stillAlive = alive;
        ++delegateDepth;
        allowed = delegate->shouldStartLoad(q, shown, isMainFrame);
        if (!*stillAlive)
            return false;
        --delegateDepth;
    }
    allowed = allowed && !isPrivate;
    if (!allowed && isMainFrame)
        mainFrameRefused = true;
    return allowed;
}

void WebView::Impl::report(const std::function<void(WebViewDelegate*)>& call)
{
    if (!delegate)
        return;
    const std::shared_ptr<bool> stillAlive = alive;
    ++delegateDepth;
    call(delegate);
    if (*stillAlive)
        --delegateDepth;
}

void WebView::Impl::loadingChanged(const QWebEngineLoadingInfo& info)
{
    if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus) {
        loading = true;
        return;
    }
    loading = false;
    htmlLoadPending = false;
    const bool refused = std::exchange(mainFrameRefused, false);
    if (info.status() == QWebEngineLoadingInfo::LoadSucceededStatus) {
        WebView* view = q;
        report([view](WebViewDelegate* target) { target->didFinishLoad(view); });
        return;
    }
    const Error error = info.status() == QWebEngineLoadingInfo::LoadStoppedStatus
        ? URLError::make(URLError::Cancelled)
        : LoadErrorMapping::errorFor(info.errorDomain(), info.errorCode());
    if (refused && error.code() == URLError::Cancelled)
        return;
    WebView* view = q;
    report([view, error](WebViewDelegate* target) { target->didFailLoad(view, error); });
}

void WebView::Impl::certificateError(QWebEngineCertificateError error)
{
    const QString caFile = NetworkSeams::extraCAFile();
    if (!caFile.isEmpty() && CertificateCheck::verifiesAgainst(caFile, error.certificateChain(), error.url().host()))
        error.acceptCertificate();
    else
        error.rejectCertificate();
}

void WebView::Impl::copySharedCookies()
{
    QWebEngineCookieStore* store = profile->cookieStore();
    for (const Cookie& cookie : CookieStorage::shared().cookies()) {
        QNetworkCookie copy(cookie.name.toUtf8(), cookie.value.toUtf8());
        QString host = cookie.domain;
        if (host.startsWith(QLatin1Char('.')))
            host.remove(0, 1);
        if (host.isEmpty())
            continue;
        copy.setDomain(cookie.isHostOnly() ? QString() : QLatin1Char('.') + host);
        copy.setPath(cookie.path.isEmpty() ? QStringLiteral("/") : cookie.path);
        if (cookie.expires)
            copy.setExpirationDate(*cookie.expires);
        copy.setSecure(cookie.secure);
        copy.setHttpOnly(cookie.httpOnly);
        QUrl origin;
        origin.setScheme(QStringLiteral("https"));
        origin.setHost(host);
        origin.setPath(QStringLiteral("/"));
        store->setCookie(copy, origin);
    }
}

} // namespace platform::web
