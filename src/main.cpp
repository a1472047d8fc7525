#include "shell/KRAppDelegate.h"
#include "platform/uikit/Application.h"
#include "platform/web/WebView.h"
#include "service/KRServiceShutdown.h"

#include <QApplication>

#include <memory>

int main(int argc, char** argv)
{
    // The captcha page reports through its own scheme, which the engine learns before it starts;
    // its drawing is chosen before then too, so that no start pays for a GL context.
    platform::web::WebView::registerPrivateSchemes({QStringLiteral("korvane-gaia")});
    platform::web::WebView::renderWithoutOpenGL();
    // Made here rather than by ApplicationMain so that it outlives the services' shutdown.
    QApplication app(argc, argv);
    const int result = platform::uikit::ApplicationMain(argc, argv, [] { return std::make_unique<KRAppDelegate>(); });
    // The services stop while the application object still exists.
    KRShutDownServices();
    return result;
}
