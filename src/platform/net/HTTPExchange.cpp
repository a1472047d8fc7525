#include "platform/net/HTTPExchange.h"

#include "platform/net/CookieStorage.h"
#include "platform/net/ExchangeInternals.h"
#include "platform/net/NetworkSeams.h"

#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <curl/curl.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <chrono>
#include <cmath>
#include <memory>
#include <mutex>

namespace platform {

// ---------------------------------------------------------------------------------------
// HTTPHeaders

HTTPHeaders::HTTPHeaders(std::initializer_list<QPair<QString, QString>> fields)
{
    for (const auto& field : fields)
        add(field.first, field.second);
}

void HTTPHeaders::set(const QString& name, const QString& value)
{
    for (qsizetype i = 0; i < m_fields.size(); ++i) {
        if (m_fields.at(i).first.compare(name, Qt::CaseInsensitive) == 0) {
            m_fields[i].second = value;
            for (qsizetype j = m_fields.size() - 1; j > i; --j) {
                if (m_fields.at(j).first.compare(name, Qt::CaseInsensitive) == 0)
                    m_fields.removeAt(j);
            }
            return;
        }
    }
    m_fields.append({name, value});
}

void HTTPHeaders::add(const QString& name, const QString& value) { m_fields.append({name, value}); }

QString HTTPHeaders::value(const QString& name) const
{
    const QStringList found = values(name);
    if (found.isEmpty())
        return {};
    if (found.size() == 1)
        return found.first().isNull() ? QStringLiteral("") : found.first();
    return found.join(QStringLiteral(", "));
}

QStringList HTTPHeaders::values(const QString& name) const
{
    QStringList found;
    for (const auto& field : m_fields) {
        if (field.first.compare(name, Qt::CaseInsensitive) == 0)
            found.append(field.second);
    }
    return found;
}

bool HTTPHeaders::contains(const QString& name) const
{
    for (const auto& field : m_fields) {
        if (field.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

void HTTPHeaders::remove(const QString& name)
{
    m_fields.removeIf([&](const QPair<QString, QString>& field) {
        return field.first.compare(name, Qt::CaseInsensitive) == 0;
    });
}

// ---------------------------------------------------------------------------------------
// Errors

namespace URLError {

QString domain() { return QStringLiteral("NSURLErrorDomain"); }

QString message(int code)
{
    switch (code) {
    case Cancelled: return QStringLiteral("已取消");
    case BadURL: return QStringLiteral("错误的 URL");
    case TimedOut: return QStringLiteral("请求超时。");
    case UnsupportedURL: return QStringLiteral("不支持的 URL");
    case CannotFindHost: return QStringLiteral("未能找到使用指定主机名的服务器。");
    case CannotConnectToHost: return QStringLiteral("未能连接到服务器。");
    case NetworkConnectionLost: return QStringLiteral("网络连接已中断。");
    case HTTPTooManyRedirects: return QStringLiteral("重定向次数过多。");
    case NotConnectedToInternet: return QStringLiteral("似乎已断开与互联网的连接。");
    case BadServerResponse: return QStringLiteral("服务器响应错误。");
    case DataLengthExceedsMaximum: return QStringLiteral("资源超过最大大小。");
    case SecureConnectionFailed: return QStringLiteral("发生了 SSL 错误，无法建立与该服务器的安全连接。");
    case ServerCertificateUntrusted: return QStringLiteral("此服务器的证书无效。");
    default: return QStringLiteral("未知错误。");
    }
}

Error make(int code) { return Error(domain(), code, message(code)); }

} // namespace URLError

namespace {

constexpr int kMaximumRedirects = 10;

// ---------------------------------------------------------------------------------------
// Trust: the system's authorities plus the optional extra bundle of the test seam.

QByteArray systemCABundle()
{
    static const QByteArray bundle = [] {
        QStringList candidates;
        if (CURL* probe = curl_easy_init()) {
            char* path = nullptr;
            if (curl_easy_getinfo(probe, CURLINFO_CAINFO, &path) == CURLE_OK && path)
                candidates.append(QString::fromLocal8Bit(path));
            curl_easy_cleanup(probe);
        }
        candidates << QStringLiteral("/etc/ssl/certs/ca-certificates.crt")
                   << QStringLiteral("/etc/pki/tls/certs/ca-bundle.crt");
        for (const QString& candidate : candidates) {
            QFile file(candidate);
            if (file.open(QIODevice::ReadOnly))
                return file.readAll();
        }
        return QByteArray();
    }();
    return bundle;
}

std::vector<X509*> readCertificates(const QByteArray& pem)
{
    std::vector<X509*> certificates;
    BIO* bio = BIO_new_mem_buf(pem.constData(), int(pem.size()));
    if (!bio)
        return certificates;
    while (X509* certificate = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr))
        certificates.push_back(certificate);
    BIO_free(bio);
    ERR_clear_error(); // the end of the input reads as an error
    return certificates;
}

// Parsed once: the system bundle costs far more to parse than a whole loopback exchange.
const std::vector<X509*>& systemCertificates()
{
    static const std::vector<X509*> certificates = readCertificates(systemCABundle());
    return certificates;
}

} // namespace

// The system's authorities plus the extra file's, shared by every connection while the
// file stays the same.
Trust trustFor(const QString& extraCAFile)
{
    if (extraCAFile.isEmpty())
        return {};
    const QFileInfo info(extraCAFile);
    if (!info.isFile())
        return {QStringLiteral("missing:") + extraCAFile, nullptr};
    const QString identity = QStringLiteral("%1|%2|%3")
                                 .arg(extraCAFile)
                                 .arg(info.size())
                                 .arg(info.lastModified().toMSecsSinceEpoch());
    static std::mutex mutex;
    static Trust& cached = *new Trust; // outlives every connection that still holds its store
    std::lock_guard lock(mutex);
    if (cached.identity == identity)
        return cached;

    QFile file(extraCAFile);
    const std::vector<X509*> extra =
        file.open(QIODevice::ReadOnly) ? readCertificates(file.readAll()) : std::vector<X509*>();
    StorePtr store;
    if (!extra.empty()) {
        store = StorePtr(X509_STORE_new(), X509_STORE_free);
        X509_STORE_set_flags(store.get(), X509_V_FLAG_TRUSTED_FIRST | X509_V_FLAG_PARTIAL_CHAIN);
        for (X509* certificate : systemCertificates())
            X509_STORE_add_cert(store.get(), certificate);
        for (X509* certificate : extra)
            X509_STORE_add_cert(store.get(), certificate);
        ERR_clear_error();
    }
    for (X509* certificate : extra)
        X509_free(certificate);
    cached = Trust{identity, store};
    return cached;
}

CURLcode onSSLContext(CURL*, void* context, void* user)
{
    // Replaces the (empty) store libcurl made with the shared one; verification stays on.
    SSL_CTX_set1_cert_store(static_cast<SSL_CTX*>(context), static_cast<X509_STORE*>(user));
    return CURLE_OK;
}

// ---------------------------------------------------------------------------------------
// The connect-to seam also fences tests in: while it is set, only its hosts and loopback
// can be reached.

bool isLoopbackHost(const QString& host)
{
    return host == QLatin1String("localhost") || host == QLatin1String("::1")
        || (host.startsWith(QLatin1String("127.")) && host.count(QLatin1Char('.')) == 3);
}

bool connectToCovers(const QStringList& entries, const QString& host, int port)
{
    for (const QString& entry : entries) {
        QString entryHost;
        QString rest;
        if (entry.startsWith(QLatin1Char('['))) {
            const qsizetype close = entry.indexOf(QLatin1Char(']'));
            if (close < 0)
                continue;
            entryHost = entry.mid(1, close - 1);
            rest = entry.mid(close + 1);
        } else {
            const qsizetype colon = entry.indexOf(QLatin1Char(':'));
            if (colon < 0)
                continue;
            entryHost = entry.left(colon);
            rest = entry.mid(colon);
        }
        if (!rest.startsWith(QLatin1Char(':')))
            continue;
        const QString entryPort = rest.mid(1).section(QLatin1Char(':'), 0, 0);
        const bool hostMatches = entryHost.isEmpty() || entryHost.compare(host, Qt::CaseInsensitive) == 0;
        const bool portMatches = entryPort.isEmpty() || entryPort.toInt() == port;
        if (hostMatches && portMatches)
            return true;
    }
    return false;
}

namespace {

// ---------------------------------------------------------------------------------------
// One libcurl handle per thread, reused so connections and TLS sessions are kept between
// exchanges; a nested use on the same thread gets a handle of its own.

// Set at exit: threads that end after the TLS library has been torn down must not touch
// their handles any more (the process is going away; nothing is lost by leaving them).
std::atomic_bool g_exiting{false};

struct ThreadHandle {
    CURL* handle = nullptr;
    bool busy = false;
    QString seams;
    ~ThreadHandle()
    {
        if (handle && !g_exiting.load())
            curl_easy_cleanup(handle);
    }
};

thread_local ThreadHandle t_handle;

class HandleLease {
public:
    // `seams` names the test seams in force: kept connections and TLS sessions were made
    // under the old ones, so a change starts from a clean handle.
    explicit HandleLease(const QString& seams)
    {
        if (!t_handle.busy) {
            if (t_handle.handle && t_handle.seams != seams) {
                curl_easy_cleanup(t_handle.handle);
                t_handle.handle = nullptr;
            }
            if (!t_handle.handle)
                t_handle.handle = curl_easy_init();
            t_handle.seams = seams;
            m_handle = t_handle.handle;
            t_handle.busy = true;
            m_shared = true;
        } else {
            m_handle = curl_easy_init();
        }
    }
    ~HandleLease()
    {
        if (m_shared)
            t_handle.busy = false;
        else if (m_handle)
            curl_easy_cleanup(m_handle);
    }
    HandleLease(const HandleLease&) = delete;
    HandleLease& operator=(const HandleLease&) = delete;
    CURL* get() const { return m_handle; }

private:
    CURL* m_handle = nullptr;
    bool m_shared = false;
};

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

// ---------------------------------------------------------------------------------------
// One hop

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

QString headerText(const QByteArray& bytes)
{
    const QString utf8 = QString::fromUtf8(bytes);
    return utf8.contains(QChar::ReplacementCharacter) ? QString::fromLatin1(bytes) : utf8;
}

size_t onHeader(char* data, size_t size, size_t count, void* user)
{
    auto* transfer = static_cast<Transfer*>(user);
    transfer->touch();
    const size_t length = size * count;
    QByteArray line(data, qsizetype(length));
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    if (line.startsWith("HTTP/")) {
        // A new status line (after an interim 1xx answer): only the last block counts.
        transfer->headers.clear();
    } else if (!line.isEmpty() && (line.at(0) == ' ' || line.at(0) == '\t')) {
        QList<QPair<QString, QString>> fields = transfer->headers.all();
        if (!fields.isEmpty()) {
            HTTPHeaders rebuilt;
            fields.last().second += QLatin1Char(' ') + headerText(line.trimmed());
            for (const auto& field : fields)
                rebuilt.add(field.first, field.second);
            transfer->headers = rebuilt;
        }
    } else {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            transfer->headers.add(headerText(line.left(colon).trimmed()), headerText(line.mid(colon + 1).trimmed()));
    }
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
    return urlErrorCodeForCurl(code, osErrno);
}

} // namespace

int urlErrorCodeForCurl(CURLcode code, long osErrno)
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

Error transportError(int code, int curlCode = 0)
{
    Error error = URLError::make(code);
    if (curlCode != 0)
        error.setUserInfoValue(QStringLiteral("curlCode"), curlCode);
    return error;
}

bool isToken(const QString& text)
{
    if (text.isEmpty())
        return false;
    for (QChar c : text) {
        const ushort u = c.unicode();
        if (u <= 0x20 || u >= 0x7F || QStringLiteral("\"(),/:;<=>?@[\\]{}").contains(c))
            return false;
    }
    return true;
}

bool isSafeHeaderValue(const QString& value)
{
    return !value.contains(QLatin1Char('\r')) && !value.contains(QLatin1Char('\n')) && !value.contains(QChar(0));
}

struct HopRequest {
    QString method;
    QString url;
    QByteArray encodedURL;
    HTTPHeaders headers;
    QByteArray body;
};

struct HopResult {
    int status = 0;
    std::optional<Error> error;
};

// No limit given (or nonsense) means the platform's default of 60 s; very long limits are
// capped at thirty days so the arithmetic below stays in range.
double effectiveTimeout(double seconds)
{
    if (!(seconds > 0) || !std::isfinite(seconds))
        return 60.0;
    return std::clamp(seconds, 0.001, 30.0 * 24 * 3600);
}

HopResult performHop(CURL* curl, const HopRequest& hop, const HTTPRequest& request, const QStringList& connectTo,
                     const Trust& trust, Transfer& transfer)
{
    HopResult result;
    curl_easy_reset(curl);

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
    for (const QString& entry : connectTo)
        listsOK = listsOK && connectLines.append(entry.toUtf8());
    if (!listsOK) {
        result.error = transportError(URLError::Unknown);
        return result;
    }

    const double timeout = effectiveTimeout(request.timeoutSeconds);
    transfer.idleLimit = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(timeout));
    transfer.touch();
    curl_easy_setopt(curl, CURLOPT_URL, hop.encodedURL.constData());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (trust.store) {
        curl_easy_setopt(curl, CURLOPT_CAINFO, static_cast<char*>(nullptr));
        curl_easy_setopt(curl, CURLOPT_CAPATH, static_cast<char*>(nullptr));
        curl_easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, &onSSLContext);
        curl_easy_setopt(curl, CURLOPT_SSL_CTX_DATA, trust.store.get());
    }
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
    if (request.maxBodyBytes >= 0)
        curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(request.maxBodyBytes));
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
    return result;
}

bool isRedirectStatus(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Hosts of one site (the same host, its subdomains, or siblings under its parent domain)
// may see the caller's credentials after a redirect; any other host may not.
bool sameSite(const QString& original, const QString& next)
{
    if (original == next || next.endsWith(QLatin1Char('.') + original))
        return true;
    const qsizetype firstDot = original.indexOf(QLatin1Char('.'));
    if (firstDot < 0)
        return false;
    const QString parent = original.mid(firstDot + 1);
    if (!parent.contains(QLatin1Char('.')))
        return false;
    return next == parent || next.endsWith(QLatin1Char('.') + parent);
}

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
    static std::once_flag initialized;
    std::call_once(initialized, [] {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        // Registered after the TLS library's own exit handler, so it runs before it.
        std::atexit([] { g_exiting.store(true); });
    });

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
        return fail(transportError(URLError::Cancelled));

    QString method = request.method.isEmpty() ? QStringLiteral("GET") : request.method;
    if (!isToken(method))
        return fail(transportError(URLError::BadURL));
    HTTPHeaders callerHeaders = request.headers;
    for (const auto& field : callerHeaders.all()) {
        if (!isToken(field.first) || !isSafeHeaderValue(field.second))
            return fail(transportError(URLError::BadURL));
    }
    QByteArray body = (method == QLatin1String("GET") || method == QLatin1String("HEAD")) ? QByteArray()
                                                                                          : request.body;

    const QStringList connectTo = NetworkSeams::connectTo();
    const Trust trust = trustFor(NetworkSeams::extraCAFile());
    HandleLease lease(connectTo.join(QLatin1Char(',')) + QLatin1Char('|') + trust.identity);
    if (!lease.get())
        return fail(transportError(URLError::Unknown));

    QString originalHost;
    for (int hop = 0;; ++hop) {
        const ParsedURL parsed = parseURL(url);
        if (parsed.errorCode)
            return fail(transportError(*parsed.errorCode));
        const QString host = parsed.url.host(QUrl::FullyEncoded).toLower();
        if (hop == 0)
            originalHost = host;

        if (!connectTo.isEmpty() && !isLoopbackHost(host)) {
            const int port = parsed.url.port(parsed.url.scheme().toLower() == QLatin1String("https") ? 443 : 80);
            if (!connectToCovers(connectTo, host, port))
                return fail(transportError(URLError::CannotFindHost));
        }

        if (hop > 0 && !sameSite(originalHost, host)) {
            callerHeaders.remove(QStringLiteral("Cookie"));
            callerHeaders.remove(QStringLiteral("Authorization"));
        }
        HopRequest hopRequest{method, url, parsed.encoded, callerHeaders, body};
        if (request.handleCookies && !callerHeaders.contains(QStringLiteral("Cookie"))) {
            const QString cookies = CookieStorage::shared().cookieHeaderForURL(url);
            if (!cookies.isNull())
                hopRequest.headers.add(QStringLiteral("Cookie"), cookies);
        }

        Transfer transfer;
        transfer.maxBodyBytes = request.maxBodyBytes;
        transfer.cancelled = cancelled;
        const HopResult result =
            performHop(lease.get(), hopRequest, request, connectTo, trust, transfer);
        response.finalURL = url;
        if (result.error)
            return fail(*result.error);
        if (request.handleCookies)
            CookieStorage::shared().setCookiesFromResponse(transfer.headers.values(QStringLiteral("Set-Cookie")), url);
        response.status = result.status;
        response.headers = transfer.headers;
        response.body = transfer.body;

        const QString location = transfer.headers.value(QStringLiteral("Location"));
        if (!request.followRedirects || !isRedirectStatus(result.status) || location.isEmpty())
            return response;
        if (hop >= kMaximumRedirects)
            return fail(transportError(URLError::HTTPTooManyRedirects));
        if (cancelled && cancelled->load())
            return fail(transportError(URLError::Cancelled));

        const QUrl next = parsed.url.resolved(QUrl(location));
        if (!next.isValid())
            return fail(transportError(URLError::BadServerResponse));
        url = next.toString(QUrl::FullyEncoded);
        const bool becomesGet = (result.status == 303 && method != QLatin1String("HEAD"))
            || ((result.status == 301 || result.status == 302) && method == QLatin1String("POST"));
        if (becomesGet) {
            method = QStringLiteral("GET");
            body.clear();
            callerHeaders.remove(QStringLiteral("Content-Type"));
            callerHeaders.remove(QStringLiteral("Content-Length"));
        }
    }
}

} // namespace platform
