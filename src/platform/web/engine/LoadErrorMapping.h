#pragma once

#include <QWebEngineLoadingInfo>

namespace platform::web {

// The web engine's failed loads as codes of the transport error domain the rest of the system
// tests for (URLError's).
namespace LoadErrorMapping {
int urlErrorCode(QWebEngineLoadingInfo::ErrorDomain domain, int engineCode);
} // namespace LoadErrorMapping

} // namespace platform::web
