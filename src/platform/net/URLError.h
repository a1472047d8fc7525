#pragma once

#include "platform/foundation/Error.h"

#include <QString>

namespace platform {

// The transport error domain and codes the rest of the system tests for.
namespace URLError {
QString domain(); // "NSURLErrorDomain"
enum Code : int {
    Unknown = -1,
    Cancelled = -999,
    BadURL = -1000,
    TimedOut = -1001,
    UnsupportedURL = -1002,
    CannotFindHost = -1003,
    CannotConnectToHost = -1004,
    NetworkConnectionLost = -1005,
    HTTPTooManyRedirects = -1007,
    NotConnectedToInternet = -1009,
    BadServerResponse = -1011,
    DataLengthExceedsMaximum = -1103,
    SecureConnectionFailed = -1200,
    ServerCertificateUntrusted = -1202,
};
// The fixed user-facing text of a code; never mentions the address.
QString message(int code);
Error make(int code);
} // namespace URLError

} // namespace platform
