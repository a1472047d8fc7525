#include "platform/web/WebView.h"

#include "platform/foundation/UserDefaults.h"
#include "platform/net/CookieStorage.h"
#include "platform/net/URLError.h"
#include "platform/web/WebEngineLibrary.h"

#include <QCoreApplication>
#include <QResizeEvent>
#include <QWidget>

#include <utility>

namespace platform::web {

struct WebView::Impl final : public WebEnginePage::Client {
    WebView* q = nullptr;
    WebViewDelegate* delegate = nullptr;
    // Null when the engine could not be opened.
    WebEngine* engine = nullptr;
    WebEnginePage* page = nullptr;
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

    bool acceptNavigation(const QUrl& url, bool isMainFrame) override;
    void loadStarted() override { loading = true; }
    void loadSucceeded() override;
    void loadStopped() override { loadEnded(URLError::Cancelled); }
    void loadFailed(int urlErrorCode) override { loadEnded(urlErrorCode); }

    void loadEnded(int urlErrorCode);
    // Calls the delegate, if any, keeping count of the calls under way.
    void report(const std::function<void(WebViewDelegate*)>& call);
    // Reports a failure once the event loop is back, as the engine would.
    void failLater(int urlErrorCode);
    QList<WebEnginePage::Cookie> sharedCookies() const;
};

void WebView::registerPrivateSchemes(const QStringList& schemes) { WebEngineLibrary::registerPrivateSchemes(schemes); }

void WebView::renderWithoutOpenGL()
{
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    // The engine, opened after the application object exists, takes the process's shared GL
    // context as given: the application object makes it only when asked before it exists.
    // Without a GL integration it is an empty context, made at no cost.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

WebView::WebView(const QRectF& frame, platform::uikit::View* superview)
    : View(frame, superview)
    , d(std::make_unique<Impl>())
{
    d->q = this;
    d->engine = WebEngineLibrary::shared();
    if (!d->engine)
        return;
    // The engine takes up a changed proxy as it goes; the seam may be set before any view or
    // between making one and loading it.
    d->engine->installConnectToProxyIfNeeded();
    const QString userAgent = UserDefaults::standard().string(QStringLiteral("UserAgent"));
    d->page = d->engine->makePage(d.get(), userAgent, this);
    d->page->view()->setGeometry(rect());
}

WebView::~WebView()
{
    *d->alive = false;
    d->delegate = nullptr;
    // Destroyed by its delegate from inside one of the page's own calls, the page goes once
    // the event loop is back.
    if (d->page)
        std::exchange(d->page, nullptr)->close(d->delegateDepth > 0);
}

void WebView::setDelegate(WebViewDelegate* delegate) { d->delegate = delegate; }

WebViewDelegate* WebView::delegate() const { return d->delegate; }

void WebView::loadHTMLString(const QString& html, const QUrl& baseURL)
{
    // The engine takes a document as a percent-encoded data address of at most 2 MiB and
    // reports a longer one as merely aborted; it is refused here as what it is.
    constexpr qsizetype kMaxDocumentAddressBytes = 2 * 1024 * 1024 - 128;
    if (html.toUtf8().toPercentEncoding().size() > kMaxDocumentAddressBytes) {
        d->failLater(URLError::DataLengthExceedsMaximum);
        return;
    }
    if (!d->page) {
        d->failLater(URLError::Unknown);
        return;
    }
    d->engine->installConnectToProxyIfNeeded();
    d->page->setCookies(d->sharedCookies());
    d->htmlLoadPending = true;
    d->htmlBaseURL = baseURL;
    d->page->loadHTML(html, baseURL);
}

void WebView::stopLoading()
{
    if (d->page)
        d->page->stop();
}

bool WebView::isLoading() const { return d->loading; }

void WebView::evaluateJavaScript(const QString& script, std::function<void(const QVariant&)> completion)
{
    if (d->page) {
        d->page->runJavaScript(script, std::move(completion));
        return;
    }
    if (!completion)
        return;
    // Without an engine no script runs: the completion gets no result, once, as from a page
    // that had none.
    QMetaObject::invokeMethod(this, [completion = std::move(completion)] { completion(QVariant()); },
                              Qt::QueuedConnection);
}

void WebView::resizeEvent(QResizeEvent* event)
{
    View::resizeEvent(event);
    if (d->page)
        d->page->view()->setGeometry(rect());
}

bool WebView::Impl::acceptNavigation(const QUrl& url, bool isMainFrame)
{
    QUrl shown = url;
    if (isMainFrame && htmlLoadPending && url.scheme() == QLatin1String("data")) {
        htmlLoadPending = false;
        shown = htmlBaseURL.isEmpty() ? QUrl(QStringLiteral("about:blank")) : htmlBaseURL;
    }
    const bool isPrivate = WebEngineLibrary::isPrivateScheme(url.scheme());
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

void WebView::Impl::loadSucceeded()
{
    loading = false;
    htmlLoadPending = false;
    mainFrameRefused = false;
    WebView* view = q;
    report([view](WebViewDelegate* target) { target->didFinishLoad(view); });
}

void WebView::Impl::loadEnded(int urlErrorCode)
{
    loading = false;
    htmlLoadPending = false;
    const bool refused = std::exchange(mainFrameRefused, false);
    if (refused && urlErrorCode == URLError::Cancelled)
        return;
    const Error error = URLError::make(urlErrorCode);
    WebView* view = q;
    report([view, error](WebViewDelegate* target) { target->didFailLoad(view, error); });
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

void WebView::Impl::failLater(int urlErrorCode)
{
    WebView* view = q;
    QMetaObject::invokeMethod(q, [this, view, urlErrorCode] {
        const Error error = URLError::make(urlErrorCode);
        report([view, error](WebViewDelegate* target) { target->didFailLoad(view, error); });
    }, Qt::QueuedConnection);
}

QList<WebEnginePage::Cookie> WebView::Impl::sharedCookies() const
{
    QList<WebEnginePage::Cookie> copies;
    for (const Cookie& cookie : CookieStorage::shared().cookies()) {
        QString host = cookie.domain;
        if (host.startsWith(QLatin1Char('.')))
            host.remove(0, 1);
        if (host.isEmpty())
            continue;
        WebEnginePage::Cookie copy;
        copy.name = cookie.name.toUtf8();
        copy.value = cookie.value.toUtf8();
        copy.domain = cookie.isHostOnly() ? QString() : QLatin1Char('.') + host;
        copy.path = cookie.path.isEmpty() ? QStringLiteral("/") : cookie.path;
        copy.expires = cookie.expires;
        copy.secure = cookie.secure;
        copy.httpOnly = cookie.httpOnly;
        copy.originHost = host;
        copies.append(copy);
    }
    return copies;
}

} // namespace platform::web
