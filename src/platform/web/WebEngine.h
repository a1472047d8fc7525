#pragma once

#include "platform/web/WebEnginePage.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <utility>

class QWidget;

namespace platform::web {

// The web engine as the application sees it. The engine lives in a module of its own
// (korvane_web_engine), opened at the first web view by WebEngineLibrary, so that starting
// and browsing map none of it. The module links nothing of ours: what it needs of the
// process's shared state (the network seams) it asks its host, so there is one copy of each.
class WebEngine {
public:
    // What the engine asks of the application; called on the main thread.
    class Host {
    public:
        // Whether the connect-to seam holds entries (only then does the engine go through a proxy).
        virtual bool hasConnectToEntries() const = 0;
        // Where a connection to `host`:`port` goes: the server the seam names or the host
        // itself; none when the seam's fence refuses it.
        virtual std::optional<std::pair<QString, int>> connectTarget(const QString& host, int port) const = 0;
        // The extra authorities' bundle of the network seam, empty when none.
        virtual QString extraCAFile() const = 0;

    protected:
        ~Host() = default;
    };

    // A page in an off-the-record profile of its own, with `userAgent` (the engine's own when
    // empty), its view a child of `parent`. Navigations to a private scheme are refused.
    virtual WebEnginePage* makePage(WebEnginePage::Client* client, const QString& userAgent, QWidget* parent) = 0;
    // Puts the proxy that carries the connect-to seam in place when the seam holds entries.
    virtual void installConnectToProxyIfNeeded() = 0;

protected:
    ~WebEngine() = default;
};

// The module's one entry point, found by the name below. Called once, on the main thread,
// before any web class of the engine exists: registers `privateSchemes` (lower case) and has
// pages drawn in software. The engine answered lives as long as the process.
using WebEngineOpenFunction = WebEngine* (*)(WebEngine::Host* host, const QStringList& privateSchemes);
inline constexpr char kWebEngineOpenSymbol[] = "korvane_web_engine_open";

} // namespace platform::web
