#include "platform/net/DownloadConnection.h"

#include "platform/foundation/Dispatch.h"
#include "platform/net/ConnectToFence.h"
#include "platform/net/CurlHandleLease.h"
#include "platform/net/HTTPHeaders.h"
#include "platform/net/HTTPHop.h"
#include "platform/net/NetworkSeams.h"
#include "platform/net/RedirectPolicy.h"
#include "platform/net/TrustStore.h"

#include <QUrl>

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr int kMaximumRedirects = 10;
// Consecutive chunks are handed over together up to this size, so a fast transfer costs
// one main-thread call per chunk of this size rather than one per socket read.
constexpr qsizetype kCoalescedChunkBytes = 256 * 1024;

using Clock = std::chrono::steady_clock;

struct Event {
    enum Kind { Redirect, Response, Data, Fail, Finish } kind;
    DownloadResponse response;
    HTTPRequest request;
    QByteArray data;
    Error error;
};

bool isHTTPScheme(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

} // namespace

struct DownloadConnection::State {
    Delegate delegate;
    std::atomic_bool cancelled{false};

    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Event> events;
    qint64 bufferedBytes = 0;
    bool drainScheduled = false;
    bool waitingForRoom = false;
    // The transfer's open sockets: cancel() shuts them down so the worker stops at once,
    // even in the middle of a TLS handshake, rather than at libcurl's next progress call.
    std::vector<curl_socket_t> sockets;
    std::optional<HTTPRequest> redirectAnswer;

    // Worker side.
    void push(Event event, const std::shared_ptr<State>& self);
    // Blocks the worker until the owner has caught up below the limit; false when cancelled.
    bool waitForRoom();
    std::optional<HTTPRequest> offerRedirect(HTTPRequest next, DownloadResponse redirect, const std::shared_ptr<State>& self);

    // Main-thread side.
    void drain(const std::shared_ptr<State>& self);
};

void DownloadConnection::State::push(Event event, const std::shared_ptr<State>& self)
{
    std::lock_guard lock(mutex);
    if (event.kind == Event::Data) {
        bufferedBytes += event.data.size();
        if (!events.empty() && events.back().kind == Event::Data && events.back().data.size() < kCoalescedChunkBytes) {
            events.back().data.append(event.data);
            return; // a drain is already scheduled for the chunk it joins
        }
    }
    events.push_back(std::move(event));
    if (!drainScheduled) {
        drainScheduled = true;
        dispatchMain([self] { self->drain(self); });
    }
}

bool DownloadConnection::State::waitForRoom()
{
    std::unique_lock lock(mutex);
    waitingForRoom = true;
    wake.wait(lock, [this] { return cancelled.load() || bufferedBytes < maximumBufferedBytes; });
    waitingForRoom = false;
    return !cancelled.load();
}

std::optional<HTTPRequest> DownloadConnection::State::offerRedirect(HTTPRequest next, DownloadResponse redirect,
                                                                   const std::shared_ptr<State>& self)
{
    {
        std::lock_guard lock(mutex);
        redirectAnswer.reset();
    }
    push(Event{Event::Redirect, std::move(redirect), std::move(next), {}, {}}, self);
    std::unique_lock lock(mutex);
    wake.wait(lock, [this] { return cancelled.load() || redirectAnswer.has_value(); });
    if (cancelled.load())
        return std::nullopt;
    return redirectAnswer;
}

void DownloadConnection::State::drain(const std::shared_ptr<State>& self)
{
    // Only what is queued now: a fast transfer keeps refilling, and the event loop must
    // get its turn between batches.
    size_t budget;
    {
        std::lock_guard lock(mutex);
        budget = events.size();
    }
    for (; budget > 0; --budget) {
        Event event;
        {
            std::lock_guard lock(mutex);
            if (events.empty())
                break;
            event = std::move(events.front());
            events.pop_front();
            if (event.kind == Event::Data)
                bufferedBytes -= event.data.size();
        }
        wake.notify_all();
        if (cancelled.load())
            continue;
        switch (event.kind) {
        case Event::Redirect:
            if (delegate.willSendRequest)
                delegate.willSendRequest(event.request, event.response);
            {
                std::lock_guard lock(mutex);
                redirectAnswer = event.request;
            }
            wake.notify_all();
            break;
        case Event::Response:
            if (delegate.didReceiveResponse)
                delegate.didReceiveResponse(event.response);
            break;
        case Event::Data:
            if (delegate.didReceiveData)
                delegate.didReceiveData(event.data);
            break;
        case Event::Fail:
            if (delegate.didFail)
                delegate.didFail(event.error);
            break;
        case Event::Finish:
            if (delegate.didFinishLoading)
                delegate.didFinishLoading();
            break;
        }
    }
    std::lock_guard lock(mutex);
    if (events.empty())
        drainScheduled = false;
    else
        dispatchMain([self] { self->drain(self); });
}

namespace {

curl_socket_t onOpenSocket(void* user, curlsocktype, curl_sockaddr* address)
{
    auto* state = static_cast<DownloadConnection::State*>(user);
    std::lock_guard lock(state->mutex);
    if (state->cancelled.load())
        return CURL_SOCKET_BAD;
    const curl_socket_t socket = ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    if (socket != CURL_SOCKET_BAD)
        state->sockets.push_back(socket);
    return socket;
}

int onCloseSocket(void* user, curl_socket_t socket)
{
    auto* state = static_cast<DownloadConnection::State*>(user);
    std::lock_guard lock(state->mutex);
    std::erase(state->sockets, socket);
    return ::close(socket);
}

// One hop's bookkeeping, touched by libcurl's callbacks on the worker.
struct Hop {
    DownloadConnection::State* state = nullptr;
    const std::shared_ptr<DownloadConnection::State>* self = nullptr;
    CURL* curl = nullptr;
    bool followRedirects = true;
    QString url;
    DownloadResponse response;
    bool redirecting = false;
    Clock::duration idleLimit{};
    Clock::time_point lastActivity = Clock::now();
    curl_off_t downloaded = 0;
    bool idleTimedOut = false;

    void touch() { lastActivity = Clock::now(); }
};

size_t onHeader(char* data, size_t size, size_t count, void* user)
{
    auto* hop = static_cast<Hop*>(user);
    hop->touch();
    const size_t length = size * count;
    if (!hop->response.headers.readWireLine(QByteArray(data, qsizetype(length))))
        return length;
    long status = 0;
    curl_easy_getinfo(hop->curl, CURLINFO_RESPONSE_CODE, &status);
    if (status >= 100 && status < 200)
        return length;
    hop->response.status = int(status);
    hop->response.url = hop->url;
    curl_off_t announced = -1;
    curl_easy_getinfo(hop->curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
    hop->response.expectedContentLength = announced >= 0 ? qint64(announced) : -1;
    hop->response.mimeType =
        hop->response.headers.value(QStringLiteral("Content-Type")).section(QLatin1Char(';'), 0, 0).trimmed().toLower();
    hop->redirecting = hop->followRedirects && RedirectPolicy::isRedirect(int(status))
        && !hop->response.headers.value(QStringLiteral("Location")).isEmpty();
    if (!hop->redirecting)
        hop->state->push(Event{Event::Response, hop->response, {}, {}, {}}, *hop->self);
    return length;
}

size_t onBody(char* data, size_t size, size_t count, void* user)
{
    auto* hop = static_cast<Hop*>(user);
    const size_t length = size * count;
    if (hop->state->cancelled.load())
        return 0;
    if (hop->redirecting || length == 0)
        return length; // a redirect's own body is of no interest
    hop->state->push(Event{Event::Data, {}, {}, QByteArray(data, qsizetype(length)), {}}, *hop->self);
    if (!hop->state->waitForRoom())
        return 0;
    hop->touch(); // waiting for the owner is not the peer being idle
    return length;
}

int onProgress(void* user, curl_off_t, curl_off_t downloaded, curl_off_t, curl_off_t)
{
    auto* hop = static_cast<Hop*>(user);
    if (hop->state->cancelled.load())
        return 1;
    if (downloaded != hop->downloaded) {
        hop->downloaded = downloaded;
        hop->touch();
    } else if (Clock::now() - hop->lastActivity > hop->idleLimit) {
        hop->idleTimedOut = true;
        return 1;
    }
    return 0;
}

double effectiveTimeout(double seconds)
{
    if (!(seconds > 0) || !std::isfinite(seconds))
        return 60.0;
    return std::clamp(seconds, 0.001, 30.0 * 24 * 3600);
}

struct SList {
    curl_slist* list = nullptr;
    ~SList() { curl_slist_free_all(list); }
    bool append(const QByteArray& line)
    {
        curl_slist* grown = curl_slist_append(list, line.constData());
        if (grown)
            list = grown;
        return grown != nullptr;
    }
};

// Runs the whole download on a worker; every outcome but cancellation ends in one event.
void runDownload(const std::shared_ptr<DownloadConnection::State>& self, HTTPRequest request)
{
    static std::once_flag initialized;
    std::call_once(initialized, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

    DownloadConnection::State& state = *self;
    auto fail = [&](int code, int curlCode = 0) {
        if (state.cancelled.load())
            return;
        Error error = URLError::make(code);
        if (curlCode != 0)
            error.setUserInfoValue(QStringLiteral("curlCode"), curlCode);
        state.push(Event{Event::Fail, {}, {}, {}, error}, self);
    };

    const ConnectToFence fence(NetworkSeams::connectTo());
    const TrustStore trust = TrustStore::forExtraCAFile(NetworkSeams::extraCAFile());
    std::unique_ptr<CURL, void (*)(CURL*)> curl(curl_easy_init(), curl_easy_cleanup);
    if (!curl)
        return fail(URLError::Unknown);

    for (int hopIndex = 0;; ++hopIndex) {
        if (state.cancelled.load())
            return;
        const QUrl url(request.url);
        if (request.url.trimmed().isEmpty() || !url.isValid() || url.scheme().isEmpty())
            return fail(URLError::BadURL);
        if (!isHTTPScheme(url))
            return fail(URLError::UnsupportedURL);
        const QString host = url.host(QUrl::FullyEncoded).toLower();
        if (host.isEmpty())
            return fail(URLError::BadURL);
        const int port = url.port(url.scheme().toLower() == QLatin1String("https") ? 443 : 80);
        if (!fence.allows(host, port))
            return fail(URLError::CannotFindHost);

        SList headerLines;
        SList connectLines;
        for (const auto& field : request.headers.all()) {
            if (!HTTPHeaders::isSafeField(field.first, field.second))
                return fail(URLError::BadURL);
            const QByteArray line = field.second.isEmpty() ? field.first.toUtf8() + ';'
                                                           : field.first.toUtf8() + ": " + field.second.toUtf8();
            if (!headerLines.append(line))
                return fail(URLError::Unknown);
        }
        for (const QString& entry : fence.entries()) {
            if (!connectLines.append(entry.toUtf8()))
                return fail(URLError::Unknown);
        }

        Hop hop;
        hop.state = &state;
        hop.self = &self;
        hop.curl = curl.get();
        hop.followRedirects = request.followRedirects;
        hop.url = url.toString(QUrl::FullyEncoded);
        const double timeout = effectiveTimeout(request.timeoutSeconds);
        hop.idleLimit = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(timeout));
        hop.touch();

        CURL* handle = curl.get();
        curl_easy_reset(handle);
        const QByteArray encodedURL = url.toEncoded(QUrl::FullyEncoded);
        curl_easy_setopt(handle, CURLOPT_URL, encodedURL.constData());
        curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L);
        curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 2L);
        trust.applyTo(handle);
        if (connectLines.list) {
            curl_easy_setopt(handle, CURLOPT_CONNECT_TO, connectLines.list);
            curl_easy_setopt(handle, CURLOPT_NOPROXY, "*");
        }
        curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, long(std::ceil(timeout * 1000)));
        curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, 256L * 1024L);
        curl_easy_setopt(handle, CURLOPT_OPENSOCKETFUNCTION, &onOpenSocket);
        curl_easy_setopt(handle, CURLOPT_OPENSOCKETDATA, &state);
        curl_easy_setopt(handle, CURLOPT_CLOSESOCKETFUNCTION, &onCloseSocket);
        curl_easy_setopt(handle, CURLOPT_CLOSESOCKETDATA, &state);
        curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &onProgress);
        curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &hop);
        curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, &onHeader);
        curl_easy_setopt(handle, CURLOPT_HEADERDATA, &hop);
        curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &onBody);
        curl_easy_setopt(handle, CURLOPT_WRITEDATA, &hop);
        if (headerLines.list)
            curl_easy_setopt(handle, CURLOPT_HTTPHEADER, headerLines.list);

        const CURLcode code = curl_easy_perform(handle);
        if (state.cancelled.load())
            return;
        if (code != CURLE_OK) {
            if (hop.idleTimedOut)
                return fail(URLError::TimedOut);
            long osErrno = 0;
            curl_easy_getinfo(handle, CURLINFO_OS_ERRNO, &osErrno);
            return fail(HTTPHop::urlErrorCode(code, osErrno), int(code));
        }
        if (!hop.redirecting) {
            state.push(Event{Event::Finish, {}, {}, {}, {}}, self);
            return;
        }
        if (hopIndex >= kMaximumRedirects)
            return fail(URLError::HTTPTooManyRedirects);
        const QUrl next = url.resolved(QUrl(hop.response.headers.value(QStringLiteral("Location"))));
        if (!next.isValid())
            return fail(URLError::BadServerResponse);
        // Refused before the owner hears of it: no hop leaves http and https.
        if (!isHTTPScheme(next))
            return fail(URLError::UnsupportedURL);
        HTTPRequest proposed = request;
        proposed.method = QStringLiteral("GET");
        proposed.url = next.toString(QUrl::FullyEncoded);
        std::optional<HTTPRequest> answer = state.offerRedirect(std::move(proposed), hop.response, self);
        if (!answer)
            return;
        request = std::move(*answer);
    }
}

} // namespace

namespace {

void cancelState(DownloadConnection::State& state)
{
    {
        std::lock_guard lock(state.mutex);
        state.cancelled.store(true);
        for (curl_socket_t socket : state.sockets)
            ::shutdown(socket, SHUT_RDWR);
    }
    state.wake.notify_all();
}

// Transfers still on a worker when the process exits would touch the TLS library after its
// own exit handler has torn it down. The handler registered here runs before that one (it is
// registered later): it cancels every transfer and waits for their workers to leave.
struct LiveDownloads {
    std::mutex mutex;
    std::condition_variable idle;
    std::vector<std::weak_ptr<DownloadConnection::State>> states;
    int running = 0;
};

LiveDownloads& liveDownloads()
{
    static auto* live = new LiveDownloads; // never destroyed: used while the process exits
    return *live;
}

void cancelLive(LiveDownloads& live)
{
    for (const auto& weak : live.states) {
        if (const auto state = weak.lock())
            cancelState(*state);
    }
}

void cancelAllAndWaitAtExit()
{
    LiveDownloads& live = liveDownloads();
    std::unique_lock lock(live.mutex);
    cancelLive(live);
    live.idle.wait_for(lock, std::chrono::seconds(10), [&] { return live.running == 0; });
}

void startWorker(std::shared_ptr<DownloadConnection::State> state, HTTPRequest request)
{
    static std::once_flag registered;
    std::call_once(registered, [] {
        CurlHandleLease::initializeLibrary();
        std::atexit(cancelAllAndWaitAtExit);
    });
    LiveDownloads& live = liveDownloads();
    {
        std::lock_guard lock(live.mutex);
        std::erase_if(live.states, [](const auto& weak) { return weak.expired(); });
        live.states.push_back(state);
        ++live.running;
    }
    dispatchGlobal([state = std::move(state), request = std::move(request)]() mutable {
        runDownload(state, std::move(request));
        state.reset();
        LiveDownloads& live = liveDownloads();
        std::lock_guard lock(live.mutex);
        --live.running;
        live.idle.notify_all();
    });
}

} // namespace

DownloadConnection::DownloadConnection(HTTPRequest request, Delegate delegate)
    : m_state(std::make_shared<State>())
{
    m_state->delegate = std::move(delegate);
    startWorker(m_state, std::move(request));
}

DownloadConnection::~DownloadConnection() { cancel(); }

void DownloadConnection::cancel() { cancelState(*m_state); }

void DownloadConnection::cancelAll()
{
    LiveDownloads& live = liveDownloads();
    std::lock_guard lock(live.mutex);
    cancelLive(live);
}

bool DownloadConnection::isCancelled() const { return m_state->cancelled.load(); }

qint64 DownloadConnection::bufferedBytesForTesting() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->bufferedBytes;
}

bool DownloadConnection::isWaitingForRoomForTesting() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->waitingForRoom;
}

} // namespace platform
