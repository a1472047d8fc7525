#include "app/KRAppDelegate.h"
#include "platform/uikit/Application.h"
#include "service/KRServiceShutdown.h"

#include <QApplication>

#include <memory>

int main(int argc, char** argv)
{
    // Made here rather than by ApplicationMain so that it outlives the services' shutdown.
    QApplication app(argc, argv);
    const int result = platform::uikit::ApplicationMain(argc, argv, [] { return std::make_unique<KRAppDelegate>(); });
    // The services stop while the application object still exists.
    KRShutDownServices();
    return result;
}
