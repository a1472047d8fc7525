#pragma once

#include "platform/foundation/Error.h"
#include "platform/uikit/View.h"

#include <QRectF>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>

#include <functional>
#include <memory>

namespace platform::web {

class WebView;

class WebViewDelegate {
public:
    virtual ~WebViewDelegate() = default;
    // Asked before every navigation of every frame (main frame and iframes, including
    // navigations to private schemes, which never load); false cancels it.
    virtual bool shouldStartLoad(WebView* view, const QUrl& url, bool isMainFrame)
    {
        Q_UNUSED(view);
        Q_UNUSED(url);
        Q_UNUSED(isMainFrame);
        return true;
    }
    virtual void didFinishLoad(WebView* view) { Q_UNUSED(view); }
    // An aborted or stopped load arrives as domain "NSURLErrorDomain", code -999.
    virtual void didFailLoad(WebView* view, const platform::Error& error)
    {
        Q_UNUSED(view);
        Q_UNUSED(error);
    }
};

// The platform's embedded web view: one page in an off-the-record profile of its own, with
// the user agent of the "UserAgent" default (read when the view is made) and the shared
// cookie storage's cookies copied in before each load. The engine is a module opened at the
// first view (WebEngineLibrary); without it every load fails and scripts answer nothing.
class WebView : public platform::uikit::View {
    Q_OBJECT
public:
    explicit WebView(const QRectF& frame = QRectF(), platform::uikit::View* superview = nullptr);
    ~WebView() override;

    void setDelegate(WebViewDelegate* delegate); // not owned; may be cleared with nullptr
    WebViewDelegate* delegate() const;

    void loadHTMLString(const QString& html, const QUrl& baseURL);
    void stopLoading();
    bool isLoading() const;
    // Runs script in the main frame; completion gets the result (QVariant) on the main thread,
    // once. A view destroyed first drops it uncalled.
    void evaluateJavaScript(const QString& script, std::function<void(const QVariant&)> completion = {});

    // Before the first web view (main calls it with "korvane-gaia", before the application
    // object exists): the engine learns them when it is opened.
    static void registerPrivateSchemes(const QStringList& schemes);
    // Before the QApplication exists: the window system is asked for no OpenGL, so that no
    // start pays for a GL context (under X without a GPU, the software GL driver: tens of MiB
    // and a fifth of a second); pages are drawn by the engine's software compositor. A
    // QT_XCB_GL_INTEGRATION already set by the user is kept.
    static void renderWithoutOpenGL();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace platform::web
