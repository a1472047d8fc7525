#include "platform/web/WebView.h"

#include <QCoreApplication>

// Called by the test main before the application object exists, as the app's main does.
void korvaneTestBeforeApplication()
{
    platform::web::WebView::registerPrivateSchemes({QStringLiteral("korvane-gaia")});
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

#if defined(__SANITIZE_ADDRESS__)
// The web engine's own library (not instrumented, not ours) frees some of its objects through
// a base of another size as it tears a page down; only that one check is off, only here.
extern "C" __attribute__((visibility("default"), used)) const char* __asan_default_options()
{
    return "new_delete_type_mismatch=0";
}
#endif

#if defined(__SANITIZE_ADDRESS__)
// What the web engine, and the system libraries it loads, keep until exit.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions()
{
    return "leak:libQt6WebEngineCore.so\n"
           "leak:libdbus-1.so\n"
           "leak:libfontconfig.so\n";
}
#endif
