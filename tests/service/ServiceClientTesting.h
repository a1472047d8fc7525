#pragma once

// The rig of the web-API client tests: the fake service with every read route, a clean
// client and session per test, and recorders that check each completion runs exactly once
// on the main thread.

#include "support/ConsoleCapture.h"
#include "support/FakeService.h"
#include "support/ServiceFixtures.h"
#include "support/TestSupport.h"

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/net/CookieStorage.h"
#include "platform/net/HTTPExchange.h"
#include "service/KRAPIClient.h"
#include "service/KRAPIErrors.h"
#include "service/KRAPIResponseCache.h"
#include "model/KRServiceHosts.h"
#include "model/KRVideo.h"
#include "store/KRDiagnostics.h"
#include "store/KRSessionStore.h"

#include <QCoreApplication>
#include <QFile>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

namespace servicetest {

using testsupport::ConsoleCapture;
using testsupport::FakeReply;
using testsupport::FakeRequest;
using testsupport::FakeService;
using testsupport::ServiceFixtures;
using VideoRef = std::shared_ptr<KRVideo>;

// The owner the tests' requests are for: a real object that lives as long as the test process.
inline QObject* liveOwner()
{
    static QObject* owner = new QObject;
    return owner;
}

// When, and on which thread, a completion was released.
struct Release {
    std::atomic_bool done{false};
    std::atomic_bool onMain{false};
};

// A token for a completion to capture: `release` learns when the last copy of the completion
// is destroyed, and whether that happened on the main thread.
inline std::shared_ptr<void> releaseToken(const std::shared_ptr<Release>& release)
{
    return std::shared_ptr<void>(nullptr, [release](void*) {
        release->onMain = platform::isMainThread();
        release->done = true;
    });
}

// What one completion delivered, how often, and whether always on the main thread.
template <typename Value>
struct Outcome {
    int calls = 0;
    bool onMain = true;
    Value value{};
    KROptionalError error;
};

template <typename Value>
using OutcomeRef = std::shared_ptr<Outcome<Value>>;

// Starts an operation: `start` receives the completion that records into the outcome.
template <typename Value, typename Start>
OutcomeRef<Value> begin(Start start)
{
    auto outcome = std::make_shared<Outcome<Value>>();
    start([outcome](const Value& value, const KROptionalError& error) {
        ++outcome->calls;
        outcome->onMain = outcome->onMain && platform::isMainThread();
        outcome->value = value;
        outcome->error = error;
    });
    return outcome;
}

// Waits for the answer, then until nothing is left in flight, so that a second call would
// have arrived; checks there was exactly one, on the main thread.
template <typename Value>
void settle(const OutcomeRef<Value>& outcome)
{
    EXPECT_TRUE(testsupport::waitUntil([&] { return outcome->calls > 0; }, std::chrono::seconds(20)));
    testsupport::waitUntil([] { return KRAPIWorkerQueue()->operationCount() == 0; });
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(outcome->calls, 1);
    EXPECT_TRUE(outcome->onMain);
}

// Starts and settles an operation; `answeredInside` tells whether it answered within the call.
template <typename Value, typename Start>
OutcomeRef<Value> run(Start start, bool* answeredInside = nullptr)
{
    OutcomeRef<Value> outcome = begin<Value>(start);
    if (answeredInside)
        *answeredInside = outcome->calls > 0;
    settle(outcome);
    return outcome;
}

// The JSON request to its end.
inline OutcomeRef<QVariant> runJSON(const QString& url, bool includeSession = true)
{
    return run<QVariant>([&](auto done) { KRAPIClient::sharedClient()->performJSONURL(url, includeSession, liveOwner(), done); });
}

inline void expectError(const KROptionalError& error, qint64 code, const QString& message = QString(),
                        const QString& domain = KRAPIErrorDomain)
{
    ASSERT_TRUE(error) << "expected code " << code;
    EXPECT_EQ(error->domain(), domain);
    EXPECT_EQ(error->code(), code);
    if (!message.isNull()) {
        EXPECT_EQ(error->message(), message);
    }
}

inline QString apiURL(const QString& pathAndQuery) { return QStringLiteral("https://") + KRServiceHosts::apiHost() + pathAndQuery; }
inline QString webRoot() { return QStringLiteral("https://") + KRServiceHosts::webHost() + QStringLiteral("/"); }
inline const QString kWebAgent =
    QStringLiteral("Mozilla/5.0 (iPhone; CPU iPhone OS 5_1_1 like Mac OS X) AppleWebKit/534.46 Korvane/0.1");

// The query as it was sent, without the named items (by default the web signature's).
inline QString queryWithout(const FakeRequest& request, const QStringList& names = {QStringLiteral("w_rid"), QStringLiteral("wts")})
{
    QStringList kept;
    for (const QString& pair : request.query.split(QLatin1Char('&'))) {
        if (!names.contains(pair.section(QLatin1Char('='), 0, 0)))
            kept.append(pair);
    }
    return kept.join(QLatin1Char('&'));
}

inline VideoRef videoWith(qint64 aid, const QString& bvid = QString(), qint64 cid = 0)
{
    auto video = std::make_shared<KRVideo>();
    video->setAid(aid);
    video->setBvid(bvid);
    video->setCid(cid);
    return video;
}

inline QList<qint64> aidsOf(const KRVideoList& videos)
{
    QList<qint64> aids;
    for (const auto& video : videos)
        aids.append(video->aid());
    return aids;
}

inline QByteArray fileContents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The runtime log of this test's home, for the loaders' events.
inline QString runtimeLog()
{
    return QString::fromUtf8(fileContents(KRDiagnosticsCacheDirectory() + QStringLiteral("/KorvaneRuntime.log")));
}

class ServiceClientTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        KRSessionStore::sharedStore().resetForTesting();
        KRSessionStore::sharedStore().clearSession();
        platform::CookieStorage::shared().deleteAll();
        KRAPIClient::resetWBIMixinKeyForTesting();
        KRAPIClient::setClockForTesting({});
        KRAPIClient::setRequestTimeoutForTesting(0);
        KRAPIClient::resetReadLoaderStateForTesting();
        KRDiagnostics::resetForTesting();
        ServiceFixtures::installReadRoutes(fake);
    }
    void TearDown() override
    {
        // Nothing of this test may answer into the next one.
        testsupport::waitUntil([] { return KRAPIWorkerQueue()->operationCount() == 0; }, std::chrono::seconds(30));
        QCoreApplication::processEvents();
        KRAPIClient::setClockForTesting({});
        KRAPIClient::setRequestTimeoutForTesting(0);
        KRSessionStore::sharedStore().clearSession();
    }

    static KRAPIClient* client() { return KRAPIClient::sharedClient(); }
    QList<FakeRequest> requestsTo(const QString& path) const { return fake.requestsTo(path); }
    // Replaces the answer of an API-host path.
    void serve(const QString& path, const FakeReply& reply) { fake.routeReply(KRServiceHosts::apiHost(), path, reply); }
    void serveJSON(const QString& path, const QByteArray& body) { fake.routeJSON(KRServiceHosts::apiHost(), path, body); }

    void logIn()
    {
        platform::HTTPResponse response;
        response.status = 200;
        response.finalURL = webRoot();
        const QString domain = QStringLiteral("; Domain=.") + KRServiceHosts::mainDomain() + QStringLiteral("; Path=/");
        response.headers.add(QStringLiteral("Set-Cookie"), QStringLiteral("SESSDATA=s3ssion-v4lue") + domain + QStringLiteral("; Secure"));
        response.headers.add(QStringLiteral("Set-Cookie"), QStringLiteral("DedeUserID=4242") + domain);
        response.headers.add(QStringLiteral("Set-Cookie"), QStringLiteral("zant_jct=c5rf") + domain);
        KRSessionStore::sharedStore().captureCookiesFromHTTPResponse(&response);
        ASSERT_TRUE(KRSessionStore::sharedStore().isLoggedIn());
    }

    FakeService fake{KRServiceHosts::allServiceHosts()};
};

} // namespace servicetest
