#include "platform/web/WebView.h"

#include <QtGlobal>

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
