#pragma once

#include "platform/net/HTTPExchange.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <atomic>
#include <functional>
#include <memory>
#include <utility>

// The kinds of request the system sends. Each is one row of the pipeline's table; a new
// family of requests is a new kind and a new row.
enum class KRRequestKind {
    WebJSON,            // the JSON request, web family
    AppJSON,            // the JSON request, app family (app host, player API paths)
    Video,              // the video request
    RecommendationFeed, // the recommendation feed
    Danmaku,            // danmaku documents
    RiskControlCookies, // the fingerprint endpoint that hands out the risk-control cookies
    AccountTV,          // identity-bound requests, TV family (the QR login, the TV play route)
    AccountApp,         // identity-bound requests, app family (token refresh, app actions)
    AccountWeb,         // identity-bound requests, web family (reads, actions, web play routes)
    AccountUpload,      // the comment-picture upload
    Image,              // pictures of the image CDN (covers, avatars, emotes) and any picture address
    ReleaseManifest,    // the signed release manifest on the maker's host
    RiskConfiguration,  // the captcha page's risk configuration (script addresses)
    MediaDownload,      // the offline cache's streamed media and cover downloads
};

// How requests of one kind are made.
struct KRRequestKindPolicy {
    enum class Referer {
        None,
        WebRoot,             // the web host's root
        WebRootOnMainDomain, // the web host's root, to addresses under the main domain only
        CallerOrWebRoot,     // the request's own referer when it names one, else the web host's root
    };
    enum class Session {
        None,         // no cookies at all
        SharedJar,    // the shared cookie storage's cookies, nothing more
        WhenLoggedIn, // while logged in: the session's cookie header and the shared storage
        Always,       // the session's cookie header (whatever it holds) and the shared storage
    };

    const char* name;
    const QString& userAgent;
    Referer referer;
    bool origin;             // Origin: the web host
    Session session;
    bool responseCache;      // replies of cacheable addresses are kept and stand in on failure
    qint64 maxBodyBytes;     // -1: no limit (a streamed download writes as it reads)
    double timeoutSeconds;   // idle time-out, unless a test shortened it
    // Further fixed headers ("Accept", "Accept-Encoding"), name and value; empty names end it.
    const char* extraHeaders[5][2];
    // Whether a 3xx answer is followed; where not, it is the answer.
    bool followsRedirects = true;
};

// What one request carries beyond its kind's row: a method other than GET, a body, its
// content type, the page it is made for (kinds whose referer is the caller's) and headers of
// this request alone (a captcha token).
struct KRRequestContent {
    QString method;      // empty: GET
    QByteArray body;
    QString contentType; // empty: no Content-Type
    QString referer;     // empty: the row's
    QList<std::pair<QString, QString>> headers;
};

// An address as the pipeline reads it: the text, which goes out as given, and its parts,
// parsed once per request rather than by every rule that looks at it.
class KRRequestAddress {
public:
    KRRequestAddress(const QString& text); // NOLINT: every address starts as the caller's text
    // An address its caller has already parsed from `text` (as QUrl does, strictly or not).
    KRRequestAddress(const QString& text, QUrl parsed);

    const QString& text() const { return m_text; }
    const QUrl& url() const { return m_url; }
    // The host, lower-cased.
    const QString& host() const { return m_host; }

private:
    QString m_text;
    QUrl m_url;
    QString m_host;
};

// Every exchange of the system goes through here: the request of a kind is built from its
// row, the session's cookies go only where they may, and the exchange runs on the calling
// worker thread.
class KRRequestPipeline {
public:
    static const KRRequestKindPolicy& policy(KRRequestKind kind);

    // The JSON request's kind for an address: the app family for the app host and the API
    // host's player paths, the web family otherwise.
    static KRRequestKind jsonKindForAddress(const KRRequestAddress& address);

    // The session's cookies (the explicit header and the shared storage's) go only to https
    // addresses of the service's own domains: a mistyped or foreign address must never
    // receive the login, nor may it cross the network in clear text.
    static bool mayCarrySessionCookies(const KRRequestAddress& address);

    // The request of this kind for the address. `includeSession` false sends no session
    // cookies whatever the kind. Any thread: reads the session store's snapshot.
    static platform::HTTPRequest request(KRRequestKind kind, const KRRequestAddress& address, bool includeSession = true);

    // One exchange of that request on the calling worker thread (never the main thread). It
    // ends early with error -999 once `cancelled` turns true or the services shut down.
    static platform::HTTPResponse perform(KRRequestKind kind, const KRRequestAddress& address, bool includeSession = true,
                                          std::shared_ptr<std::atomic_bool> cancelled = {});

    // The same with a method, body and headers of the request's own (see KRRequestContent).
    static platform::HTTPRequest request(KRRequestKind kind, const KRRequestAddress& address, const KRRequestContent& content,
                                         bool includeSession = true);
    static platform::HTTPResponse perform(KRRequestKind kind, const KRRequestAddress& address, const KRRequestContent& content,
                                          bool includeSession = true, std::shared_ptr<std::atomic_bool> cancelled = {});

    // The response-cache file of the address for this kind; null when either is not cached.
    static QString cachePath(KRRequestKind kind, const KRRequestAddress& address);

    // A worker of its own for one operation (the danmaku loads, the risk-cookie fetch). Once
    // the pipeline is closed the operation is released unrun, and the answer is false.
    static bool runOneOff(std::function<void()> operation);

    // Shutdown, main thread, at exit. close() cancels every exchange in flight and makes later
    // ones fail at once (-999) and refuses new one-off operations; waitForOneOffs() returns
    // once the running ones have ended.
    static void close();
    static void waitForOneOffs();
    // Tests: open again after close(), once what it cancelled has ended.
    static void reopenForTesting();

    // Tests: the time-out of these kinds (0 or less restores the rows').
    static void setTimeoutForTesting(std::initializer_list<KRRequestKind> kinds, double seconds);
};
