#include "platform/net/HTTPHop.h"

#include "platform/net/ConnectToFence.h"
#include "platform/net/TrustStore.h"
#include "platform/net/URLError.h"

#include <QList>
#include <QPair>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>

namespace platform {
namespace {

struct StringList {
    curl_slist* list = nullptr;
    ~StringList() { curl_slist_free_all(list); }
    bool append(const QByteArray& line)
    {
        curl_slist* grown = curl_slist_append(list, line.constData());
        if (!grown)
            return false;
        list = grown;
        return true;
    }
};

using Clock = std::chrono::steady_clock;

struct Transfer {
    HTTPHeaders headers;
    QByteArray body;
    qint64 maxBodyBytes = -1;
    bool bodyTooLarge = false;
    const std::atomic_bool* cancelled = nullptr;
    // libcurl's low-speed check averages over several seconds; the idle limit is kept here
    // so that a server falling silent after a burst still times out on time.
    Clock::duration idleLimit{};
    Clock::time_point lastActivity = Clock::now();
    curl_off_t downloaded = 0;
    curl_off_t uploaded = 0;
    bool idleTimedOut = false;

    void touch() { lastActivity = Clock::now(); }
};

size_t onHeader(char* data, size_t size, size_t count, void* user)
{
    auto* transfer = static_cast<Transfer*>(user);
    transfer->touch();
    const size_t length = size * count;
    transfer->headers.readWireLine(QByteArray(data, qsizetype(length)));
    return length;
}

size_t onBody(char* data, size_t size, size_t count, void* user)
{
    auto* transfer = static_cast<Transfer*>(user);
    transfer->touch();
    const size_t length = size * count;
    if (transfer->maxBodyBytes >= 0 && transfer->body.size() + qint64(length) > transfer->maxBodyBytes) {
        transfer->bodyTooLarge = true;
        return 0; // ends the transfer with CURLE_WRITE_ERROR
    }
    transfer->body.append(data, qsizetype(length));
    return length;
}

int onProgress(void* user, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t uploaded)
{
    auto* transfer = static_cast<Transfer*>(user);
    if (transfer->cancelled && transfer->cancelled->load())
        return 1;
    if (downloaded != transfer->downloaded || uploaded != transfer->uploaded) {
        transfer->downloaded = downloaded;
        transfer->uploaded = uploaded;
        transfer->touch();
    } else if (Clock::now() - transfer->lastActivity > transfer->idleLimit) {
        transfer->idleTimedOut = true;
        return 1;
    }
    return 0;
}

int errorCodeFor(CURLcode code, long osErrno, const Transfer& transfer)
{
    if (transfer.cancelled && transfer.cancelled->load())
        return URLError::Cancelled;
    if (transfer.bodyTooLarge)
        return URLError::DataLengthExceedsMaximum;
    if (transfer.idleTimedOut)
        return URLError::TimedOut;
    return HTTPHop::urlErrorCode(code, osErrno);
}

} // namespace

int HTTPHop::urlErrorCode(CURLcode code, long osErrno)
{
    switch (code) {
    case CURLE_UNSUPPORTED_PROTOCOL: return URLError::UnsupportedURL;
    case CURLE_URL_MALFORMAT: return URLError::BadURL;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST: return URLError::CannotFindHost;
    case CURLE_COULDNT_CONNECT:
        return osErrno == ENETUNREACH || osErrno == ENETDOWN ? URLError::NotConnectedToInternet
                                                              : URLError::CannotConnectToHost;
    case CURLE_OPERATION_TIMEDOUT: return URLError::TimedOut;
    case CURLE_ABORTED_BY_CALLBACK: return URLError::Cancelled;
    case CURLE_FILESIZE_EXCEEDED: return URLError::DataLengthExceedsMaximum;
    case CURLE_TOO_MANY_REDIRECTS: return URLError::HTTPTooManyRedirects;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS: return URLError::ServerCertificateUntrusted;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_USE_SSL_FAILED: return URLError::SecureConnectionFailed;
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_WRITE_ERROR:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_HTTP3:
    case CURLE_QUIC_CONNECT_ERROR: return URLError::NetworkConnectionLost;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_RANGE_ERROR: return URLError::BadServerResponse;
    default: return URLError::Unknown;
    }
}

namespace {

Error transportError(int code, int curlCode)
{
    Error error = URLError::make(code);
    error.setUserInfoValue(QStringLiteral("curlCode"), curlCode);
    return error;
}

// No limit given (or nonsense) means the platform's default of 60 s; very long limits are
// capped at thirty days so the arithmetic below stays in range.
double effectiveTimeout(double seconds)
{
    if (!(seconds > 0) || !std::isfinite(seconds))
        return 60.0;
    return std::clamp(seconds, 0.001, 30.0 * 24 * 3600);
}

} // namespace

HTTPHop::Result HTTPHop::perform(CURL* curl, const Request& hop, const ConnectToFence& fence, const TrustStore& trust)
{
    Result result;
    curl_easy_reset(curl);
    Transfer transfer;
    transfer.maxBodyBytes = hop.maxBodyBytes;
    transfer.cancelled = hop.cancelled;

    StringList headerLines;
    StringList connectLines;
    bool listsOK = true;
    for (const auto& field : hop.headers.all()) {
        const QByteArray line = field.second.isEmpty() ? field.first.toUtf8() + ';'
                                                       : field.first.toUtf8() + ": " + field.second.toUtf8();
        listsOK = listsOK && headerLines.append(line);
    }
    // libcurl would otherwise wait for "100 Continue" before sending larger bodies.
    if (!hop.headers.contains(QStringLiteral("Expect")))
        listsOK = listsOK && headerLines.append("Expect:");
    for (const QString& entry : fence.entries())
        listsOK = listsOK && connectLines.append(entry.toUtf8());
    if (!listsOK) {
        result.error = URLError::make(URLError::Unknown);
        return result;
    }

    const double timeout = effectiveTimeout(hop.timeoutSeconds);
    transfer.idleLimit = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(timeout));
    transfer.touch();
    curl_easy_setopt(curl, CURLOPT_URL, hop.encodedURL.constData());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    trust.applyTo(curl);
    if (connectLines.list) {
        curl_easy_setopt(curl, CURLOPT_CONNECT_TO, connectLines.list);
        curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    }
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, long(std::ceil(timeout * 1000)));
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, long(std::max(1.0, std::ceil(timeout))));
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &onProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &onHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &onBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    if (hop.maxBodyBytes >= 0)
        curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(hop.maxBodyBytes));
    if (headerLines.list)
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headerLines.list);

    const QByteArray method = hop.method.toUtf8();
    if (method == "GET") {
        curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    } else if (method == "HEAD") {
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    } else {
        if (method != "POST" || hop.body.isEmpty())
            curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.constData());
        if (method == "POST" || !hop.body.isEmpty()) {
            curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(hop.body.size()));
            curl_easy_setopt(curl, CURLOPT_POSTFIELDS, hop.body.constData());
        }
    }

    const CURLcode code = curl_easy_perform(curl);
    if (code != CURLE_OK) {
        long osErrno = 0;
        curl_easy_getinfo(curl, CURLINFO_OS_ERRNO, &osErrno);
        result.error = transportError(errorCodeFor(code, osErrno, transfer), int(code));
        return result;
    }
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    result.status = int(status);
    result.headers = std::move(transfer.headers);
    result.body = std::move(transfer.body);
    return result;
}

} // namespace platform
