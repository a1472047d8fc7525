#include "service/KRRequestPipeline.h"

#include "platform/foundation/OperationQueue.h"
#include "model/KRServiceHosts.h"
#include "service/KRAPIResponseCache.h"
#include "store/KRSessionStore.h"

#include <QUrl>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace {

const QString kWebUserAgent =
    QStringLiteral("Mozilla/5.0 (iPhone; CPU iPhone OS 5_1_1 like Mac OS X) AppleWebKit/534.46 Korvane/0.1");
const QString kFeedUserAgent =
    QStringLiteral("Mozilla/5.0 (iPhone; CPU iPhone OS 5_1_1 like Mac OS X) AppleWebKit/534.46 Korvane/0.2");
const QString kAppUserAgent = QStringLiteral("zant-universal/82200200 CFNetwork/811.5.4 Darwin/16.7.0");
const QString kTVUserAgent = QStringLiteral("Mozilla/5.0 (Linux; Android 13; TV) zant-tv/1.6.6");
const QString kImageUserAgent = QStringLiteral("Mozilla/5.0 (iPhone; CPU iPhone OS 5_1_1 like Mac OS X) Korvane/0.2");
const QString kOfflineUserAgent = QStringLiteral("Mozilla/5.0 (iPhone; CPU iPhone OS 5_1_1 like Mac OS X) Korvane/3.0");
const QString kDesktopUserAgent = QStringLiteral(
    "Mozilla/5.0 (Macintosh; Intel Mac OS X 10_15_7) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/140.0.0.0 Safari/537.36");

// Replies of the web API are a few hundred KiB at most; a body past this is refused rather
// than held in memory.
constexpr qint64 kAPIBodyBytes = 32 * 1024 * 1024;
// A recommendation batch is a few dozen KiB; anything past this is not a feed.
constexpr qint64 kFeedBodyBytes = 8 * 1024 * 1024;
// The largest danmaku body read (its document may inflate to the same size again).
constexpr qint64 kDanmakuBodyBytes = 8 * 1024 * 1024;
// The fingerprint answer is a few hundred bytes; anything far larger is not worth reading.
constexpr qint64 kFingerprintBodyBytes = 1 << 20;
// Account replies (a history page, a dynamics feed) stay well below this.
constexpr qint64 kAccountBodyBytes = 8 * 1024 * 1024;
constexpr double kTimeout = 20.0;
// A full-size picture is a few MiB; a body past this is not worth holding for a phone screen.
constexpr qint64 kImageBodyBytes = 32 * 1024 * 1024;
// Pictures wait for a slow CDN longer than API replies do.
constexpr double kImageTimeout = 30.0;
// The release manifest is a small signed envelope; anything larger is not one.
constexpr qint64 kManifestBodyBytes = 65536;
constexpr double kManifestTimeout = 12.0;
// The risk configuration is two script addresses; past this it is not one.
constexpr qint64 kRiskConfigurationBodyBytes = 256 * 1024;
constexpr double kRiskConfigurationTimeout = 4.0;
// A picture upload sends a few MiB up a phone's connection.
constexpr double kUploadTimeout = 30.0;
// A media download waits out a slow CDN; the limit counts idle time, not the whole transfer.
constexpr double kMediaDownloadTimeout = 60.0;

using Policy = KRRequestKindPolicy;

// The table. Kinds are listed in the order of KRRequestKind.
const Policy kPolicies[] = {
    {"web-json", kWebUserAgent, Policy::Referer::WebRoot, false, Policy::Session::WhenLoggedIn, true, kAPIBodyBytes,
     kTimeout, {}},
    {"app-json", kAppUserAgent, Policy::Referer::None, false, Policy::Session::None, true, kAPIBodyBytes, kTimeout, {}},
    {"video", kWebUserAgent, Policy::Referer::WebRootOnMainDomain, false, Policy::Session::SharedJar, true,
     kAPIBodyBytes, kTimeout, {}},
    {"recommendation-feed", kFeedUserAgent, Policy::Referer::WebRoot, false, Policy::Session::WhenLoggedIn, false,
     kFeedBodyBytes, kTimeout, {}},
    {"danmaku", kWebUserAgent, Policy::Referer::WebRoot, false, Policy::Session::SharedJar, false, kDanmakuBodyBytes,
     kTimeout, {{"Accept-Encoding", "deflate, gzip"}}},
    {"risk-control-cookies", kDesktopUserAgent, Policy::Referer::None, false, Policy::Session::Always, false,
     kFingerprintBodyBytes, kTimeout, {{"Accept", "application/json, text/plain, */*"}}},
    {"account-tv", kTVUserAgent, Policy::Referer::None, false, Policy::Session::None, false, kAccountBodyBytes, kTimeout,
     {{"Accept", "application/json, text/plain, */*"}, {"Accept-Language", "zh-CN,zh;q=0.9"}}},
    {"account-app", kAppUserAgent, Policy::Referer::None, false, Policy::Session::None, false, kAccountBodyBytes,
     kTimeout, {{"Accept", "application/json, text/plain, */*"}, {"Accept-Language", "zh-CN,zh;q=0.9"}}},
    {"account-web", kDesktopUserAgent, Policy::Referer::CallerOrWebRoot, true, Policy::Session::Always, false,
     kAccountBodyBytes, kTimeout,
     {{"Accept", "application/json, text/plain, */*"},
      {"Accept-Language", "zh-CN,zh;q=0.9"},
      {"Sec-Fetch-Site", "same-site"},
      {"Sec-Fetch-Mode", "cors"},
      {"Sec-Fetch-Dest", "empty"}}},
    {"account-upload", kDesktopUserAgent, Policy::Referer::CallerOrWebRoot, true, Policy::Session::Always, false,
     kAccountBodyBytes, kUploadTimeout, {}},
    // No cookie header of the loader's own: the shared storage's cookies, which never go to a
    // host outside the service's domains.
    {"image", kImageUserAgent, Policy::Referer::WebRoot, false, Policy::Session::SharedJar, false, kImageBodyBytes,
     kImageTimeout, {}},
    // The maker's host is no host of the service's: no cookies of any kind, and the manifest
    // is read where it was asked for, never where a redirect would lead.
    {"release-manifest", kWebUserAgent, Policy::Referer::None, false, Policy::Session::None, false, kManifestBodyBytes,
     kManifestTimeout, {{"Accept", "application/json"}}, false},
    // Asked while the captcha screen builds its page: a short wait, after which the bundled
    // configuration stands in. The shared storage's cookies, as a plain load of the platform.
    {"risk-configuration", kWebUserAgent, Policy::Referer::None, false, Policy::Session::SharedJar, false,
     kRiskConfigurationBodyBytes, kRiskConfigurationTimeout, {{"Accept", "application/json, text/plain, */*"}}},
    // Streamed to a file by the offline cache's download connection: no cookies (the CDN's
    // addresses are signed), and the web root as Referer on every hop, whatever the host.
    {"media-download", kOfflineUserAgent, Policy::Referer::WebRoot, false, Policy::Session::None, false, -1,
     kMediaDownloadTimeout, {}},
};
constexpr size_t kKindCount = std::size(kPolicies);

std::array<std::atomic<double>, kKindCount>& testingTimeouts()
{
    static std::array<std::atomic<double>, kKindCount> timeouts{};
    return timeouts;
}

size_t indexOf(KRRequestKind kind) { return size_t(kind); }

bool hostUnder(const QString& host, const QString& domain)
{
    return host == domain || (host.size() > domain.size() && host.endsWith(domain) && host.at(host.size() - domain.size() - 1) == QLatin1Char('.'));
}

// The fixed headers of each kind, built once: the hosts are build constants, and every
// request copies its kind's list rather than spelling the same strings out again.
struct FixedHeaders {
    platform::HTTPHeaders withReferer;    // the kind's headers, the Referer included where it has one
    platform::HTTPHeaders withoutReferer; // the same without the Referer
};

const FixedHeaders& fixedHeaders(KRRequestKind kind)
{
    static const std::array<FixedHeaders, kKindCount> built = [] {
        const QString webRoot = QStringLiteral("https://") + KRServiceHosts::webHost();
        const QString referer = webRoot + QLatin1Char('/');
        std::array<FixedHeaders, kKindCount> all;
        for (size_t i = 0; i < kKindCount; ++i) {
            const KRRequestKindPolicy& row = kPolicies[i];
            for (platform::HTTPHeaders* headers : {&all[i].withReferer, &all[i].withoutReferer}) {
                headers->set(QStringLiteral("User-Agent"), row.userAgent);
                if (headers == &all[i].withReferer && row.referer != KRRequestKindPolicy::Referer::None)
                    headers->set(QStringLiteral("Referer"), referer);
                if (row.origin)
                    headers->set(QStringLiteral("Origin"), webRoot);
                for (const auto& header : row.extraHeaders) {
                    if (header[0])
                        headers->set(QString::fromLatin1(header[0]), QString::fromLatin1(header[1]));
                }
            }
        }
        return all;
    }();
    return built[indexOf(kind)];
}

// Exchanges in flight and one-off operations running, for shutdown.
struct Traffic {
    std::mutex mutex;
    std::condition_variable idle;
    std::vector<std::shared_ptr<std::atomic_bool>> inFlight;
    int oneOffs = 0;
    bool closed = false;
};

Traffic& traffic()
{
    static Traffic* instance = new Traffic; // used until the very end of the process
    return *instance;
}

} // namespace

KRRequestAddress::KRRequestAddress(const QString& text)
    : KRRequestAddress(text, QUrl(text))
{
}

KRRequestAddress::KRRequestAddress(const QString& text, QUrl parsed)
    : m_text(text)
    , m_url(std::move(parsed))
    , m_host(m_url.host().toLower())
{
}

const KRRequestKindPolicy& KRRequestPipeline::policy(KRRequestKind kind)
{
    static_assert(std::size(kPolicies) == size_t(KRRequestKind::MediaDownload) + 1, "one row per kind");
    return kPolicies[indexOf(kind)];
}

KRRequestKind KRRequestPipeline::jsonKindForAddress(const KRRequestAddress& address)
{
    static const QString appHost = KRServiceHosts::appHost();
    static const QString apiHost = KRServiceHosts::apiHost();
    const QString& host = address.host();
    if (host == appHost || (host == apiHost && address.url().path().startsWith(QLatin1String("/pgc/player/api/"))))
        return KRRequestKind::AppJSON;
    return KRRequestKind::WebJSON;
}

bool KRRequestPipeline::mayCarrySessionCookies(const KRRequestAddress& address)
{
    static const QString mainDomain = KRServiceHosts::mainDomain();
    static const QString oldDomain = KRServiceHosts::oldDomain();
    if (address.url().scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) != 0)
        return false;
    return hostUnder(address.host(), mainDomain) || hostUnder(address.host(), oldDomain);
}

platform::HTTPRequest KRRequestPipeline::request(KRRequestKind kind, const KRRequestAddress& address, bool includeSession)
{
    static const QString mainDomain = KRServiceHosts::mainDomain();
    const Policy& row = policy(kind);
    platform::HTTPRequest request;
    request.method = QStringLiteral("GET");
    request.url = address.text();
    const double shortened = testingTimeouts()[indexOf(kind)].load();
    request.timeoutSeconds = shortened > 0 ? shortened : row.timeoutSeconds;
    request.maxBodyBytes = row.maxBodyBytes;
    request.followRedirects = row.followsRedirects;
    const bool referer = row.referer == Policy::Referer::WebRoot || row.referer == Policy::Referer::CallerOrWebRoot
        || (row.referer == Policy::Referer::WebRootOnMainDomain
            && (address.host().isEmpty() || address.host().contains(mainDomain)));
    request.headers = referer ? fixedHeaders(kind).withReferer : fixedHeaders(kind).withoutReferer;

    Policy::Session session = includeSession ? row.session : Policy::Session::None;
    if (session != Policy::Session::None && !mayCarrySessionCookies(address))
        session = Policy::Session::None;
    std::optional<QString> cookie;
    if (session == Policy::Session::WhenLoggedIn) {
        cookie = KRSessionStore::sharedStore().cookieHeaderIfLoggedIn();
        if (!cookie)
            session = Policy::Session::None;
    } else if (session == Policy::Session::Always) {
        cookie = KRSessionStore::sharedStore().cookieHeader();
    }
    request.handleCookies = session != Policy::Session::None;
    if (cookie && !cookie->isEmpty())
        request.headers.set(QStringLiteral("Cookie"), *cookie);
    return request;
}

platform::HTTPRequest KRRequestPipeline::request(KRRequestKind kind, const KRRequestAddress& address, const KRRequestContent& content,
                                                 bool includeSession)
{
    platform::HTTPRequest built = request(kind, address, includeSession);
    if (!content.method.isEmpty())
        built.method = content.method;
    built.body = content.body;
    if (!content.contentType.isEmpty())
        built.headers.set(QStringLiteral("Content-Type"), content.contentType);
    if (policy(kind).referer == Policy::Referer::CallerOrWebRoot && !content.referer.isEmpty())
        built.headers.set(QStringLiteral("Referer"), content.referer);
    for (const auto& [name, value] : content.headers)
        built.headers.set(name, value);
    return built;
}

platform::HTTPResponse KRRequestPipeline::perform(KRRequestKind kind, const KRRequestAddress& address, bool includeSession,
                                                  std::shared_ptr<std::atomic_bool> cancelled)
{
    return perform(kind, address, KRRequestContent{}, includeSession, std::move(cancelled));
}

platform::HTTPResponse KRRequestPipeline::perform(KRRequestKind kind, const KRRequestAddress& address, const KRRequestContent& content,
                                                  bool includeSession, std::shared_ptr<std::atomic_bool> cancelled)
{
    if (!cancelled)
        cancelled = std::make_shared<std::atomic_bool>(false);
    Traffic& state = traffic();
    {
        std::lock_guard lock(state.mutex);
        if (state.closed)
            cancelled->store(true);
        state.inFlight.push_back(cancelled);
    }
    platform::HTTPResponse response = platform::performHTTPExchange(request(kind, address, content, includeSession), cancelled.get());
    {
        std::lock_guard lock(state.mutex);
        const auto found = std::find(state.inFlight.begin(), state.inFlight.end(), cancelled);
        if (found != state.inFlight.end()) {
            *found = std::move(state.inFlight.back());
            state.inFlight.pop_back();
        }
    }
    return response;
}

QString KRRequestPipeline::cachePath(KRRequestKind kind, const KRRequestAddress& address)
{
    if (!policy(kind).responseCache || !KRShouldCacheURL(address.url()))
        return QString();
    return KRCachePathForURL(address.text());
}

bool KRRequestPipeline::runOneOff(std::function<void()> operation)
{
    Traffic& state = traffic();
    {
        std::lock_guard lock(state.mutex);
        if (state.closed)
            return false; // released here, on the main thread that closed the pipeline
        ++state.oneOffs;
    }
    platform::OperationQueue::runOnce([operation = std::move(operation)]() mutable {
        operation();
        operation = nullptr;
        Traffic& state = traffic();
        std::lock_guard lock(state.mutex);
        if (--state.oneOffs == 0)
            state.idle.notify_all();
    });
    return true;
}

void KRRequestPipeline::close()
{
    Traffic& state = traffic();
    std::lock_guard lock(state.mutex);
    state.closed = true;
    for (const std::shared_ptr<std::atomic_bool>& flag : state.inFlight)
        flag->store(true);
}

void KRRequestPipeline::waitForOneOffs()
{
    Traffic& state = traffic();
    std::unique_lock lock(state.mutex);
    state.idle.wait(lock, [&] { return state.oneOffs == 0; });
}

void KRRequestPipeline::reopenForTesting()
{
    Traffic& state = traffic();
    std::lock_guard lock(state.mutex);
    state.closed = false;
}

void KRRequestPipeline::setTimeoutForTesting(std::initializer_list<KRRequestKind> kinds, double seconds)
{
    for (const KRRequestKind kind : kinds)
        testingTimeouts()[indexOf(kind)].store(seconds > 0 ? seconds : 0);
}
