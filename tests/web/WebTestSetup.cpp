#include "platform/web/WebView.h"

#include <QCoreApplication>

// Called by the test main before the application object exists, as the app's main does.
void korvaneTestBeforeApplication()
{
    platform::web::WebView::registerPrivateSchemes({QStringLiteral("korvane-gaia")});
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}
