#pragma once

// Shared rig of the read-loader tests: the fake service with every read route, a clean
// client and session per test, and recorders that check each completion runs exactly once
// on the main thread.

#include "support/FakeService.h"
#include "support/ServiceFixtures.h"
#include "support/TestSupport.h"

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/net/CookieStorage.h"
#include "platform/net/HTTPExchange.h"
#include "service/KRAPIClient.h"
#include "service/KRServiceHosts.h"
#include "service/KRVideo.h"
#include "store/KRDiagnostics.h"
#include "store/KRSessionStore.h"

#include <QCoreApplication>
#include <QFile>

#include <gtest/gtest.h>

#include <memory>

namespace readloaders {

using testsupport::FakeReply;
using testsupport::FakeRequest;
using testsupport::FakeService;
using testsupport::ServiceFixtures;

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

template <typename Value>
OutcomeRef<Value> makeOutcome()
{
    return std::make_shared<Outcome<Value>>();
}

// The completion that records into `outcome`.
template <typename Value>
std::function<void(const Value&, const KROptionalError&)> recorder(const OutcomeRef<Value>& outcome)
{
    return [outcome](const Value& value, const KROptionalError& error) {
        ++outcome->calls;
        outcome->onMain = outcome->onMain && platform::isMainThread();
        outcome->value = value;
        outcome->error = error;
    };
}

// Waits for the first call, then until nothing is left in flight, so that a second call
// would have arrived; the caller checks calls == 1.
template <typename Value>
bool settle(const OutcomeRef<Value>& outcome)
{
    const bool answered = testsupport::waitUntil([&] { return outcome->calls > 0; }, std::chrono::seconds(20));
    testsupport::waitUntil([] { return KRAPIWorkerQueue()->operationCount() == 0; });
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    return answered;
}

// Starts a loader with a recorder and waits for its one answer.
template <typename Value, typename Start>
OutcomeRef<Value> runOnce(Start start)
{
    auto outcome = makeOutcome<Value>();
    start(recorder(outcome));
    EXPECT_TRUE(settle(outcome));
    EXPECT_EQ(outcome->calls, 1);
    EXPECT_TRUE(outcome->onMain);
    return outcome;
}

#define KR_SETTLE_ONCE(outcome)                 \
    do {                                        \
        ASSERT_TRUE(::readloaders::settle(outcome)); \
        EXPECT_EQ((outcome)->calls, 1);         \
        EXPECT_TRUE((outcome)->onMain);         \
    } while (false)

inline QString apiURL(const QString& pathAndQuery)
{
    return QStringLiteral("https://") + KRServiceHosts::apiHost() + pathAndQuery;
}

inline std::shared_ptr<KRVideo> videoWith(qint64 aid, const QString& bvid = QString(), qint64 cid = 0)
{
    auto video = std::make_shared<KRVideo>();
    video->setAid(aid);
    video->setBvid(bvid);
    video->setCid(cid);
    return video;
}

inline QStringList aidsOf(const KRVideoList& videos)
{
    QStringList aids;
    for (const auto& video : videos)
        aids.append(QString::number(video->aid()));
    return aids;
}

// The runtime log of this test's home, for the loaders' events.
inline QString runtimeLog()
{
    QFile file(KRDiagnosticsCacheDirectory() + QStringLiteral("/KorvaneRuntime.log"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

class ReadLoaderTest : public ::testing::Test {
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
        KRAPIClient::setRequestTimeoutForTesting(0);
        KRSessionStore::sharedStore().clearSession();
    }

    static KRAPIClient* client() { return KRAPIClient::sharedClient(); }

    QList<FakeRequest> requestsTo(const QString& path) const { return fake.requestsTo(path); }

    void logIn()
    {
        platform::HTTPResponse response;
        response.status = 200;
        response.finalURL = QStringLiteral("https://") + KRServiceHosts::webHost() + QStringLiteral("/");
        const QString domain = QStringLiteral("; Domain=.") + KRServiceHosts::mainDomain() + QStringLiteral("; Path=/");
        response.headers.add(QStringLiteral("Set-Cookie"), QStringLiteral("SESSDATA=s3ssion-v4lue") + domain + QStringLiteral("; Secure"));
        response.headers.add(QStringLiteral("Set-Cookie"), QStringLiteral("DedeUserID=4242") + domain);
        response.headers.add(QStringLiteral("Set-Cookie"), QStringLiteral("zant_jct=c5rf") + domain);
        KRSessionStore::sharedStore().captureCookiesFromHTTPResponse(&response);
        ASSERT_TRUE(KRSessionStore::sharedStore().isLoggedIn());
    }

    FakeService fake{KRServiceHosts::allServiceHosts()};
};

} // namespace readloaders
