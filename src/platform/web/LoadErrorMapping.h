#pragma once

#include "platform/foundation/Error.h"

#include <QWebEngineLoadingInfo>

namespace platform::web {

// The web engine's failed loads in the transport error domain the rest of the system tests
// for. Kept apart from WebView so that the engine's header stays out of the view's.
namespace LoadErrorMapping {
Error errorFor(QWebEngineLoadingInfo::ErrorDomain domain, int engineCode);
} // namespace LoadErrorMapping

} // namespace platform::web
