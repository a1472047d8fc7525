#pragma once

#include "platform/foundation/Error.h"

#include <optional>

// The one error value of the system (domain, code, Chinese message, underlying error,
// user info). Optional where a completion may carry no error.
using KRError = platform::Error;
using KROptionalError = std::optional<KRError>;
