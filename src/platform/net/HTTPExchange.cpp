#include "platform/net/HTTPExchange.h"

#include "platform/net/ConnectToFence.h"
#include "platform/net/CookieStorage.h"
#include "platform/net/CurlHandleLease.h"
#include "platform/net/HTTPHop.h"
#include "platform/net/NetworkSeams.h"
#include "platform/net/RedirectPolicy.h"
#include "platform/net/TrustStore.h"

#include <QUrl>

namespace platform {
namespace {

struct ParsedURL {
    QUrl url;
    QByteArray encoded;
    std::optional<int> errorCode;
};

ParsedURL parseURL(const QString& text)
{
    ParsedURL parsed;
    parsed.url = QUrl(text);
    if (text.trimmed().isEmpty() || !parsed.url.isValid()) {
        parsed.errorCode = URLError::BadURL;
        return parsed;
    }
    const QString scheme = parsed.url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) {
        parsed.errorCode = scheme.isEmpty() ? URLError::BadURL : URLError::UnsupportedURL;
        return parsed;
    }
    if (parsed.url.host().isEmpty()) {
        parsed.errorCode = URLError::BadURL;
        return parsed;
    }
    bool plainASCII = true;
    for (QChar c : text) {
        if (c.unicode() <= 0x20 || c.unicode() >= 0x7F) {
            plainASCII = false;
            break;
        }
    }
    // Addresses already in transmittable form go out byte for byte (signatures cover them).
    parsed.encoded = plainASCII ? text.toLatin1() : parsed.url.toEncoded(QUrl::FullyEncoded);
    return parsed;
}

} // namespace

HTTPResponse performHTTPExchange(const HTTPRequest& request, const std::atomic_bool* cancelled)
{
    CurlHandleLease::initializeLibrary();

    HTTPResponse response;
    QString url = request.url;
    response.finalURL = url;
    auto fail = [&](const Error& error) {
        response.status = 0;
        response.headers.clear();
        response.body.clear();
        response.error = error;
        return response;
    };
    if (cancelled && cancelled->load())
        return fail(URLError::make(URLError::Cancelled));

    QString method = request.method.isEmpty() ? QStringLiteral("GET") : request.method;
    if (!HTTPHeaders::isToken(method))
        return fail(URLError::make(URLError::BadURL));
    HTTPHeaders callerHeaders = request.headers;
    for (const auto& field : callerHeaders.all()) {
        if (!HTTPHeaders::isSafeField(field.first, field.second))
            return fail(URLError::make(URLError::BadURL));
    }
    QByteArray body = (method == QLatin1String("GET") || method == QLatin1String("HEAD")) ? QByteArray()
                                                                                          : request.body;

    const ConnectToFence fence(NetworkSeams::connectTo());
    const TrustStore trust = TrustStore::forExtraCAFile(NetworkSeams::extraCAFile());
    CurlHandleLease lease(fence.entries().join(QLatin1Char(',')) + QLatin1Char('|') + trust.identity(),
                          QUrl(url).host(QUrl::FullyEncoded).toLower());
    if (!lease.get())
        return fail(URLError::make(URLError::Unknown));

    QUrl original;
    for (int hop = 0;; ++hop) {
        const ParsedURL parsed = parseURL(url);
        if (parsed.errorCode)
            return fail(URLError::make(*parsed.errorCode));
        const QString host = parsed.url.host(QUrl::FullyEncoded).toLower();
        if (hop == 0)
            original = parsed.url;

        const int port = parsed.url.port(parsed.url.scheme().toLower() == QLatin1String("https") ? 443 : 80);
        if (!fence.allows(host, port))
            return fail(URLError::make(URLError::CannotFindHost));

        if (hop > 0) {
            lease.noteHost(host);
            RedirectPolicy::dropCredentialsLeavingSite(original, parsed.url, callerHeaders);
        }
        HTTPHop::Request hopRequest{method, parsed.encoded, callerHeaders, body,
                                    request.timeoutSeconds, request.maxBodyBytes, cancelled};
        if (request.handleCookies && !callerHeaders.contains(QStringLiteral("Cookie"))) {
            const QString cookies = CookieStorage::shared().cookieHeaderForURL(url);
            if (!cookies.isNull())
                hopRequest.headers.add(QStringLiteral("Cookie"), cookies);
        }

        HTTPHop::Result result = HTTPHop::perform(lease.get(), hopRequest, fence, trust);
        response.finalURL = url;
        if (result.error)
            return fail(*result.error);
        if (request.handleCookies)
            CookieStorage::shared().setCookiesFromResponse(result.headers.values(QStringLiteral("Set-Cookie")), url);
        response.status = result.status;
        response.headers = std::move(result.headers);
        response.body = std::move(result.body);

        const QString location = response.headers.value(QStringLiteral("Location"));
        if (!request.followRedirects || !RedirectPolicy::isRedirect(result.status) || location.isEmpty())
            return response;
        if (hop >= RedirectPolicy::kMaximumRedirects)
            return fail(URLError::make(URLError::HTTPTooManyRedirects));
        if (cancelled && cancelled->load())
            return fail(URLError::make(URLError::Cancelled));

        const QUrl next = parsed.url.resolved(QUrl(location));
        if (!next.isValid())
            return fail(URLError::make(URLError::BadServerResponse));
        url = next.toString(QUrl::FullyEncoded);
        RedirectPolicy::rewriteForNextHop(result.status, method, body, callerHeaders);
    }
}

} // namespace platform
