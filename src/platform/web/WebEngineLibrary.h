#pragma once

#include "platform/web/WebEngine.h"

#include <QString>
#include <QStringList>

namespace platform::web {

// The web engine module, opened with QLibrary at the first web view rather than when the
// application starts: the engine and the libraries it brings cost tens of MiB and a good part
// of the start's dynamic loading, which browsing never needs.
class WebEngineLibrary {
public:
    // Schemes whose navigations reach the delegate and never load. The engine takes them when
    // it is opened, so before the first web view is made.
    static void registerPrivateSchemes(const QStringList& schemes);
    static bool isPrivateScheme(const QString& scheme);

    // Opened once, at the first call, on the main thread; null when the module or its entry
    // point is missing (every load then fails, as without an engine).
    static WebEngine* shared();

    // Where the module is looked for, in order: beside the executable, in the installed
    // layout's lib/korvane beside its bin, then where the build made it.
    static QStringList moduleCandidates();
};

} // namespace platform::web
