#include "platform/web/engine/LoadErrorMapping.h"

#include "platform/net/URLError.h"

namespace platform::web {

namespace {

// The engine's network error numbers that the mapping tells apart.
enum EngineError : int {
    Aborted = -3,
    TimedOut = -7,
    BlockedByClient = -20,
    ConnectionClosed = -100,
    ConnectionReset = -101,
    ConnectionRefused = -102,
    ConnectionAborted = -103,
    ConnectionFailed = -104,
    NameNotResolved = -105,
    InternetDisconnected = -106,
    SSLProtocolError = -107,
    AddressUnreachable = -109,
    TunnelConnectionFailed = -111,
    SSLVersionOrCipherMismatch = -113,
    ConnectionTimedOut = -118,
    NameResolutionFailed = -137,
    CertificateErrorsFirst = -299,
    CertificateErrorsLast = -200,
    InvalidURL = -300,
    DisallowedURLScheme = -301,
    UnknownURLScheme = -302,
    TooManyRedirects = -310,
    EmptyResponse = -324,
};

} // namespace

int LoadErrorMapping::urlErrorCode(QWebEngineLoadingInfo::ErrorDomain domain, int code)
{
    if (domain == QWebEngineLoadingInfo::CertificateErrorDomain
        || (code >= CertificateErrorsFirst && code <= CertificateErrorsLast))
        return URLError::ServerCertificateUntrusted;
    if (domain == QWebEngineLoadingInfo::HttpStatusCodeDomain)
        return URLError::BadServerResponse;
    switch (code) {
    case Aborted:
        return URLError::Cancelled;
    case TimedOut:
    case ConnectionTimedOut:
        return URLError::TimedOut;
    // The connect-to fence refuses a host outside it at the tunnel or blocks its request, as
    // the HTTP exchange reports a host it may not reach.
    case BlockedByClient:
    case TunnelConnectionFailed:
    case NameNotResolved:
    case NameResolutionFailed:
        return URLError::CannotFindHost;
    case ConnectionRefused:
    case ConnectionFailed:
    case AddressUnreachable:
        return URLError::CannotConnectToHost;
    case ConnectionClosed:
    case ConnectionReset:
    case ConnectionAborted:
        return URLError::NetworkConnectionLost;
    case InternetDisconnected:
        return URLError::NotConnectedToInternet;
    case SSLProtocolError:
    case SSLVersionOrCipherMismatch:
        return URLError::SecureConnectionFailed;
    case InvalidURL:
        return URLError::BadURL;
    case DisallowedURLScheme:
    case UnknownURLScheme:
        return URLError::UnsupportedURL;
    case TooManyRedirects:
        return URLError::HTTPTooManyRedirects;
    case EmptyResponse:
        return URLError::BadServerResponse;
    default:
        return URLError::Unknown;
    }
}

} // namespace platform::web
