#include "support/FakeService.h"

#include "platform/net/NetworkSeams.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QUrlQuery>

#include <httplib.h>

#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <utility>

namespace testsupport {
namespace {

// ---------------------------------------------------------------------------------------
// Certificates: one authority per process (so several services can run at once), one leaf
// per service naming its hosts.

template <typename T, void (*release)(T*)>
struct Releaser {
    void operator()(T* object) const { release(object); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Releaser<EVP_PKEY, EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, Releaser<X509, X509_free>>;

void require(bool condition, const char* what)
{
    if (!condition)
        throw std::runtime_error(std::string("FakeService: ") + what);
}

KeyPtr makeKey()
{
    KeyPtr key(EVP_EC_gen("P-256"));
    require(bool(key), "EC key generation failed");
    return key;
}

CertPtr makeCertificate(EVP_PKEY* key, const char* commonName, X509* issuer, EVP_PKEY* issuerKey,
                        const std::vector<std::pair<int, std::string>>& extensions)
{
    CertPtr cert(X509_new());
    require(bool(cert), "X509_new failed");
    X509_set_version(cert.get(), 2);
    uint64_t serial = 0;
    RAND_bytes(reinterpret_cast<unsigned char*>(&serial), sizeof serial);
    ASN1_INTEGER_set_uint64(X509_get_serialNumber(cert.get()), serial >> 1);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 30L * 24 * 3600);
    X509_set_pubkey(cert.get(), key);
    X509_NAME* name = X509_get_subject_name(cert.get());
    for (const auto& [field, value] : {std::pair{"O", "Korvane Tests"}, std::pair{"CN", commonName}})
        X509_NAME_add_entry_by_txt(name, field, MBSTRING_ASC, reinterpret_cast<const unsigned char*>(value), -1, -1, 0);
    X509_set_issuer_name(cert.get(), issuer ? X509_get_subject_name(issuer) : name);
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer ? issuer : cert.get(), cert.get(), nullptr, nullptr, 0);
    for (const auto& [nid, value] : extensions) {
        X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
        require(extension != nullptr, "bad certificate extension");
        X509_add_ext(cert.get(), extension, -1);
        X509_EXTENSION_free(extension);
    }
    require(X509_sign(cert.get(), issuerKey, EVP_sha256()) > 0, "certificate signing failed");
    return cert;
}

struct Authority {
    KeyPtr key;
    CertPtr cert;
    QByteArray pem;
};

const Authority& authority()
{
    static const Authority instance = [] {
        Authority made;
        made.key = makeKey();
        made.cert = makeCertificate(made.key.get(), "Korvane Test Authority", nullptr, made.key.get(),
                                    {{NID_basic_constraints, "critical,CA:TRUE"},
                                     {NID_key_usage, "critical,keyCertSign,cRLSign"},
                                     {NID_subject_key_identifier, "hash"}});
        BIO* bio = BIO_new(BIO_s_mem());
        PEM_write_bio_X509(bio, made.cert.get());
        char* data = nullptr;
        const long length = BIO_get_mem_data(bio, &data);
        made.pem = QByteArray(data, int(length));
        BIO_free(bio);
        return made;
    }();
    return instance;
}

// ---------------------------------------------------------------------------------------
// Sockets of the server side: the handlers need them to notice a departed client, to close
// without answering, and to drop idle keep-alive connections when the service stops.

// Both listeners are on 127.0.0.1: every socket of theirs is IPv4.
int portOf(const sockaddr_storage& address)
{
    return address.ss_family == AF_INET ? ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port) : -1;
}

// Connected sockets of this process whose local port is one of `localPorts` (and, when
// given, whose peer port is `remotePort`).
std::vector<int> serverSockets(const std::set<int>& localPorts, int remotePort = -1)
{
    std::vector<int> found;
    DIR* directory = opendir("/proc/self/fd");
    if (!directory)
        return found;
    const int directoryFd = dirfd(directory);
    while (dirent* entry = readdir(directory)) {
        char* end = nullptr;
        const long fd = strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || fd == directoryFd)
            continue;
        sockaddr_storage local{};
        sockaddr_storage peer{};
        socklen_t localLength = sizeof local;
        socklen_t peerLength = sizeof peer;
        if (getsockname(int(fd), reinterpret_cast<sockaddr*>(&local), &localLength) != 0
            || !localPorts.count(portOf(local)))
            continue;
        if (getpeername(int(fd), reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0)
            continue; // the listening socket
        if (remotePort >= 0 && portOf(peer) != remotePort)
            continue;
        found.push_back(int(fd));
    }
    closedir(directory);
    return found;
}

int connectionSocket(const httplib::Request& request)
{
    if (request.ssl)
        return SSL_get_fd(request.ssl);
    const std::vector<int> sockets = serverSockets({request.local_port}, request.remote_port);
    return sockets.empty() ? -1 : sockets.front();
}

bool clientHasLeft(int fd)
{
    if (fd < 0)
        return false;
    pollfd watched{fd, POLLRDHUP, 0};
    return poll(&watched, 1, 0) > 0 && (watched.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL));
}

// One thread per connection: a pool could be starved by clients that keep connections
// open (every worker thread of the product keeps one), which would stall the tests.
class ThreadPerConnection : public httplib::TaskQueue {
public:
    void enqueue(std::function<void()> fn) override
    {
        std::lock_guard lock(m_mutex);
        reapLocked();
        auto finished = std::make_shared<std::atomic_bool>(false);
        m_threads.push_back({std::thread([fn = std::move(fn), finished] {
                                 fn();
                                 finished->store(true);
                             }),
                             finished});
    }
    void shutdown() override
    {
        std::vector<Worker> threads;
        {
            std::lock_guard lock(m_mutex);
            threads.swap(m_threads);
        }
        for (Worker& worker : threads)
            worker.thread.join();
    }

private:
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic_bool> finished;
    };
    void reapLocked()
    {
        std::erase_if(m_threads, [](Worker& worker) {
            if (!worker.finished->load())
                return false;
            worker.thread.join();
            return true;
        });
    }
    std::mutex m_mutex;
    std::vector<Worker> m_threads;
};

// Host names and 127.0.0.1 only: no bracketed IPv6 literals reach the fake service.
QString hostWithoutPort(const std::string& hostHeader)
{
    const QString host = QString::fromStdString(hostHeader).trimmed().toLower();
    return host.section(QLatin1Char(':'), 0, 0);
}

std::atomic_int g_caFileCounter{0};

} // namespace

// ---------------------------------------------------------------------------------------
// FakeRequest / FakeReply

QString FakeRequest::queryValue(const QString& name) const
{
    for (const auto& item : queryItems) {
        if (item.first == name)
            return item.second;
    }
    return {};
}

FakeReply FakeReply::json(const QVariant& value, int status)
{
    return json(QJsonDocument::fromVariant(value).toJson(QJsonDocument::Compact), status);
}

FakeReply FakeReply::json(const QByteArray& body, int status) { return FakeReply{.status = status, .body = body}; }

FakeReply FakeReply::html(const QByteArray& body, int status)
{
    return FakeReply{.status = status, .body = body, .contentType = QStringLiteral("text/html; charset=utf-8")};
}

FakeReply FakeReply::text(const QByteArray& body, const QString& contentType)
{
    FakeReply reply;
    reply.body = body;
    reply.contentType = contentType;
    return reply;
}

FakeReply FakeReply::withStatus(int status, const QByteArray& body)
{
    FakeReply reply = text(body);
    reply.status = status;
    return reply;
}

FakeReply FakeReply::redirect(const QString& location, int status)
{
    FakeReply reply = withStatus(status);
    reply.headers.append({QStringLiteral("Location"), location});
    return reply;
}

// ---------------------------------------------------------------------------------------
// FakeService

struct FakeService::Impl {
    QStringList hosts;
    QString caFile;
    std::unique_ptr<QTemporaryDir> caFolder;
    QStringList connectEntries;
    QString previousCAFile;
    bool seamsSet = false;

    std::unique_ptr<httplib::SSLServer> https;
    std::unique_ptr<httplib::Server> http;
    std::thread httpsThread;
    std::thread httpThread;
    int httpsPort = 0;
    int httpPort = 0;

    mutable std::mutex mutex;
    std::condition_variable stopSignal;
    bool stopping = false;
    bool stopped = false;
    QList<FakeRequest> requests;
    QMap<QPair<QString, QString>, Handler> routes;
    QMap<QPair<QString, QString>, StreamHandler> streamRoutes;

    void configure(httplib::Server& server, bool tls)
    {
        server.new_task_queue = [] { return new ThreadPerConnection; };
        // Headers and body go out in separate writes; Nagle would hold the body back for
        // the client's delayed acknowledgement.
        server.set_tcp_nodelay(true);
        server.set_keep_alive_max_count(100000);
        const httplib::Server::Handler handler = [this, tls](const httplib::Request& request,
                                                              httplib::Response& response) {
            handle(request, response, tls);
        };
        server.Get(".*", handler);
        server.Post(".*", handler);
        server.Put(".*", handler);
    }

    static int startListening(httplib::Server& server, std::thread& thread)
    {
        const int port = server.bind_to_any_port("127.0.0.1");
        require(port > 0, "cannot bind a loopback port");
        thread = std::thread([&server] { server.listen_after_bind(); });
        // stop() only works once the loop runs.
        while (!server.is_running())
            std::this_thread::yield();
        return port;
    }

    template <typename H>
    H lookup(const QMap<QPair<QString, QString>, H>& table, const QString& host, const QString& path) const
    {
        std::lock_guard lock(mutex);
        for (const auto& key : {qMakePair(host, path), qMakePair(host, QStringLiteral("*")),
                                qMakePair(QStringLiteral("*"), path), qMakePair(QStringLiteral("*"), QStringLiteral("*"))}) {
            const auto found = table.constFind(key);
            if (found != table.constEnd())
                return found.value();
        }
        return nullptr;
    }
    Handler handlerFor(const QString& host, const QString& path) const { return lookup(routes, host, path); }

    // Waits `milliseconds` (-1: without end) unless the service stops or the client leaves
    // first; true when the full time passed.
    bool pause(int fd, int milliseconds)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        std::unique_lock lock(mutex);
        while (!stopping) {
            if (clientHasLeft(fd))
                return false;
            const auto now = std::chrono::steady_clock::now();
            if (milliseconds >= 0 && now >= deadline)
                return true;
            auto slice = std::chrono::milliseconds(20);
            if (milliseconds >= 0)
                slice = std::min(slice, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now)
                                            + std::chrono::milliseconds(1));
            stopSignal.wait_for(lock, slice);
        }
        return false;
    }

    void handle(const httplib::Request& rawRequest, httplib::Response& response, bool tls)
    {
        // The route alone decides the answer, even when the client asked for a range.
        const_cast<httplib::Request&>(rawRequest).ranges.clear();

        FakeRequest request;
        request.method = QString::fromStdString(rawRequest.method);
        request.host = hostWithoutPort(rawRequest.get_header_value("Host"));
        const std::string& target = rawRequest.target;
        const size_t question = target.find('?');
        request.path = QString::fromStdString(target.substr(0, question));
        if (question != std::string::npos) {
            request.query = QString::fromStdString(target.substr(question + 1));
            request.queryItems = QUrlQuery(request.query).queryItems(QUrl::FullyDecoded);
        }
        for (const auto& [name, value] : rawRequest.headers) {
            if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT")
                continue;
            request.headers.add(QString::fromStdString(name), QString::fromStdString(value));
        }
        request.body = QByteArray::fromStdString(rawRequest.body);
        for (const auto& [name, part] : rawRequest.files)
            request.formParts.append({QString::fromStdString(part.name), QString::fromStdString(part.filename),
                                      QString::fromStdString(part.content_type), QByteArray::fromStdString(part.content)});
        request.tls = tls;
        request.clientPort = rawRequest.remote_port;
        {
            std::lock_guard lock(mutex);
            requests.append(request);
        }

        const int fd = connectionSocket(rawRequest);
        if (const StreamHandler stream = lookup(streamRoutes, request.host, request.path)) {
            stream(request, response, [this, fd](int milliseconds) { return pause(fd, milliseconds); });
            return;
        }
        const Handler handler = handlerFor(request.host, request.path);
        const FakeReply reply = handler ? handler(request) : FakeReply::withStatus(404, "Not Found");

        if (reply.delayMs > 0 && !pause(fd, reply.delayMs)) {
            ::shutdown(fd, SHUT_RDWR);
            return;
        }
        if (reply.closeWithoutReply) {
            if (fd >= 0)
                ::shutdown(fd, SHUT_RDWR);
            return;
        }

        response.status = reply.status;
        // The reply's own Content-Type wins; the provider below sets the one header.
        std::string contentType = reply.contentType.toStdString();
        for (const auto& [name, value] : reply.headers) {
            if (name.compare(QLatin1String("Content-Type"), Qt::CaseInsensitive) == 0)
                contentType = value.toStdString();
            else if (name.compare(QLatin1String("Content-Length"), Qt::CaseInsensitive) != 0)
                response.set_header(name.toStdString(), value.toStdString());
        }

        const auto body = std::make_shared<QByteArray>(reply.body);
        const bool cut = reply.cutBodyAt >= 0 && reply.cutBodyAt < body->size();
        // A stall sends the headers (and the bytes before any cut), then nothing more.
        const qsizetype sent = cut ? reply.cutBodyAt : (reply.stall ? 0 : body->size());
        if (!reply.stall && !cut && body->isEmpty()) {
            if (!contentType.empty())
                response.set_header("Content-Type", contentType);
            return;
        }
        // A provider with a length keeps the body exactly as given (no automatic compression).
        const size_t declared = size_t(std::max<qsizetype>(body->size(), 1));
        const bool stall = reply.stall;
        response.set_content_provider(
            declared, contentType.empty() ? std::string("text/plain") : contentType,
            [this, body, sent, stall, fd](size_t offset, size_t length, httplib::DataSink& sink) {
                if (qsizetype(offset) < sent) {
                    const size_t chunk = std::min<size_t>({length, size_t(sent - qsizetype(offset)), 65536});
                    return sink.write(body->constData() + offset, chunk);
                }
                if (stall)
                    pause(fd, -1);
                return false; // ends the connection short of the declared length
            });
    }

    void dropConnections()
    {
        std::set<int> ports;
        if (httpsPort > 0)
            ports.insert(httpsPort);
        if (httpPort > 0)
            ports.insert(httpPort);
        for (int fd : serverSockets(ports))
            ::shutdown(fd, SHUT_RDWR);
    }
};

FakeService::FakeService(QStringList hosts)
    : d(std::make_unique<Impl>())
{
    for (QString& host : hosts)
        host = host.trimmed().toLower();
    d->hosts = hosts;

    try {
        start();
    } catch (...) {
        stop();
        throw;
    }
}

void FakeService::start()
{
    const Authority& ca = authority();
    KeyPtr key = makeKey();
    std::string names = "DNS:localhost,IP:127.0.0.1";
    for (const QString& host : d->hosts)
        names += ",DNS:" + host.toStdString();
    const CertPtr leaf = makeCertificate(key.get(), "Korvane Fake Service", ca.cert.get(), ca.key.get(),
                                         {{NID_basic_constraints, "critical,CA:FALSE"},
                                          {NID_key_usage, "critical,digitalSignature,keyEncipherment"},
                                          {NID_ext_key_usage, "serverAuth"},
                                          {NID_subject_alt_name, names},
                                          {NID_subject_key_identifier, "hash"},
                                          {NID_authority_key_identifier, "keyid:always"}});

    // The authority goes where libcurl can read it: the test's home, else a folder of its own.
    const QString home = qEnvironmentVariable("KORVANE_HOME");
    QString folder = home;
    if (folder.isEmpty() || !QDir(folder).exists()) {
        d->caFolder = std::make_unique<QTemporaryDir>();
        folder = d->caFolder->path();
    }
    d->caFile = QDir(folder).filePath(QStringLiteral("fake-service-ca-%1-%2.pem")
                                          .arg(QCoreApplication::applicationPid())
                                          .arg(g_caFileCounter.fetch_add(1)));
    QFile file(d->caFile);
    require(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(ca.pem) == ca.pem.size(),
            "cannot write the CA file");
    file.close();

    d->https = std::make_unique<httplib::SSLServer>(leaf.get(), key.get());
    require(d->https->is_valid(), "TLS server setup failed");
    d->http = std::make_unique<httplib::Server>();
    d->configure(*d->https, true);
    d->configure(*d->http, false);
    d->httpsPort = Impl::startListening(*d->https, d->httpsThread);
    d->httpPort = Impl::startListening(*d->http, d->httpThread);

    for (const QString& host : d->hosts) {
        d->connectEntries << QStringLiteral("%1:443:127.0.0.1:%2").arg(host).arg(d->httpsPort)
                          << QStringLiteral("%1:80:127.0.0.1:%2").arg(host).arg(d->httpPort);
    }
    // Ahead of any earlier entries, so the newest service wins for a host both name.
    platform::NetworkSeams::setConnectTo(d->connectEntries + platform::NetworkSeams::connectTo());
    d->previousCAFile = platform::NetworkSeams::extraCAFile();
    platform::NetworkSeams::setExtraCAFile(d->caFile);
    d->seamsSet = true;
}

FakeService::~FakeService() { stop(); }

void FakeService::stop()
{
    {
        std::lock_guard lock(d->mutex);
        if (d->stopped)
            return;
        d->stopped = true;
        d->stopping = true;
    }
    d->stopSignal.notify_all();
    if (d->https)
        d->https->stop();
    if (d->http)
        d->http->stop();
    // Idle keep-alive connections would otherwise hold the server threads for seconds.
    d->dropConnections();
    if (d->httpsThread.joinable())
        d->httpsThread.join();
    if (d->httpThread.joinable())
        d->httpThread.join();

    if (d->seamsSet) {
        QStringList entries = platform::NetworkSeams::connectTo();
        for (const QString& entry : d->connectEntries)
            entries.removeOne(entry);
        platform::NetworkSeams::setConnectTo(entries);
        if (platform::NetworkSeams::extraCAFile() == d->caFile)
            platform::NetworkSeams::setExtraCAFile(d->previousCAFile);
    }
    if (!d->caFile.isEmpty())
        QFile::remove(d->caFile);
}

void FakeService::route(const QString& host, const QString& path, Handler handler)
{
    std::lock_guard lock(d->mutex);
    d->routes.insert(qMakePair(host.toLower(), path), std::move(handler));
}

void FakeService::routeReply(const QString& host, const QString& path, const FakeReply& reply)
{
    route(host, path, [reply](const FakeRequest&) { return reply; });
}

void FakeService::routeJSON(const QString& host, const QString& path, const QByteArray& body)
{
    routeReply(host, path, FakeReply::json(body));
}

void FakeService::routeStream(const QString& host, const QString& path, StreamHandler handler)
{
    std::lock_guard lock(d->mutex);
    d->streamRoutes.insert(qMakePair(host.toLower(), path), std::move(handler));
}

QList<FakeRequest> FakeService::requests() const
{
    std::lock_guard lock(d->mutex);
    return d->requests;
}

QList<FakeRequest> FakeService::requestsTo(const QString& path) const
{
    std::lock_guard lock(d->mutex);
    QList<FakeRequest> matching;
    for (const FakeRequest& request : d->requests) {
        if (request.path == path)
            matching.append(request);
    }
    return matching;
}

void FakeService::clearRequests()
{
    std::lock_guard lock(d->mutex);
    d->requests.clear();
}

QList<FakeRequest> FakeService::takeRequests()
{
    std::lock_guard lock(d->mutex);
    return std::exchange(d->requests, {});
}

QStringList FakeService::connectTo() const { return d->connectEntries; }

int FakeService::httpsPort() const { return d->httpsPort; }
int FakeService::httpPort() const { return d->httpPort; }
QString FakeService::caFile() const { return d->caFile; }

} // namespace testsupport
