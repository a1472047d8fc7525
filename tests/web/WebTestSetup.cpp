#include "platform/web/WebView.h"

#include <QtGlobal>

// GCC names an AddressSanitizer build one way, clang another.
#if defined(__SANITIZE_ADDRESS__)
#define KORVANE_WEB_TESTS_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KORVANE_WEB_TESTS_UNDER_ASAN 1
#endif
#endif

// Called by the test main before the application object exists, as the app's main does.
void korvaneTestBeforeApplication()
{
    // No test speaks to a session bus, yet the accessibility bridge asks for one when a window
    // first shows. With no bus named, the bus library forks a launcher from this process of
    // many threads, and the child can wait forever on a lock (the sanitizer's) that a thread
    // left behind held: the test then hangs until its time is up. An address that refuses at
    // once ends that.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/korvane-test-session-bus");
    platform::web::WebView::registerPrivateSchemes({QStringLiteral("korvane-gaia")});
    platform::web::WebView::renderWithoutOpenGL();
}

#ifdef KORVANE_WEB_TESTS_UNDER_ASAN
// What the web engine, and the system libraries it loads, keep until exit. (The sanitizer
// options of every test program are in support/SanitizerDefaults.h.)
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions()
{
    return "leak:libQt6WebEngineCore.so\n"
           "leak:libdbus-1.so\n"
           "leak:libfontconfig.so\n";
}
#endif
