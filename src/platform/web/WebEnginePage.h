#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QUrl>
#include <QVariant>

#include <functional>
#include <optional>

class QWidget;

namespace platform::web {

// One page of the web engine module, as the web view drives it. Plain Qt values only cross
// here, so the module needs nothing of ours linked into it.
class WebEnginePage {
public:
    // What the page tells its view; called on the main thread.
    class Client {
    public:
        // Before every navigation of every frame; false cancels it.
        virtual bool acceptNavigation(const QUrl& url, bool isMainFrame) = 0;
        virtual void loadStarted() = 0;
        virtual void loadSucceeded() = 0;
        virtual void loadStopped() = 0;
        // `urlErrorCode` is one of URLError's codes.
        virtual void loadFailed(int urlErrorCode) = 0;

    protected:
        ~Client() = default;
    };

    // A cookie as the engine's store takes it: `domain` empty for a host-only cookie, else
    // with its leading dot; `originHost` is the host it is set for.
    struct Cookie {
        QByteArray name;
        QByteArray value;
        QString domain;
        QString path;
        std::optional<QDateTime> expires;
        bool secure = false;
        bool httpOnly = false;
        QString originHost;
    };

    // The page's view, a child of the widget the page was made for.
    virtual QWidget* view() const = 0;
    virtual void setCookies(const QList<Cookie>& cookies) = 0;
    virtual void loadHTML(const QString& html, const QUrl& baseURL) = 0;
    virtual void stop() = 0;
    // An empty completion asks for no result. A page closed first drops the completion uncalled.
    virtual void runJavaScript(const QString& script, std::function<void(const QVariant&)> completion) = 0;
    // Ends the page: its client is never called again. `deferred` (asked from inside one of
    // the page's own calls) lets the page go once the event loop is back instead of now.
    virtual void close(bool deferred) = 0;

protected:
    virtual ~WebEnginePage() = default;
};

} // namespace platform::web
