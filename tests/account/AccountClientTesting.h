#pragma once

// The rig of the account client tests: the fake service with the read routes, a logged-out
// store and a fresh client per test, and recorders that check every completion runs once on
// the main thread.

#include "support/AccountFixtures.h"
#include "support/ConsoleCapture.h"
#include "support/FakeService.h"
#include "support/ServiceFixtures.h"
#include "support/TestSupport.h"

#include "account/KRAccountClient.h"
#include "platform/foundation/Dispatch.h"
#include "platform/net/CookieStorage.h"
#include "platform/net/HTTPExchange.h"
#include "model/KRServiceHosts.h"
#include "service/KRAPIClient.h"
#include "store/KRDiagnostics.h"
#include "store/KRSessionStore.h"

#include <QCoreApplication>
#include <QFile>

#include <gtest/gtest.h>

namespace accounttest {

using testsupport::AccountFixtures;
using testsupport::FakeReply;
using testsupport::FakeRequest;
using testsupport::FakeService;

// Lets anything still answering arrive, so a second call of a completion would be seen.
inline void drain()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

// Every call a completion got, in order, and whether all ran on the main thread.
template <typename... Values>
struct Calls {
    QList<std::tuple<std::decay_t<Values>...>> calls;
    bool onMain = true;
    std::function<void(Values...)> recorder()
    {
        return [this](Values... values) {
            onMain = onMain && platform::isMainThread();
            calls.append(std::make_tuple(std::decay_t<Values>(values)...));
        };
    }
    // Waits for the one call, checks no second follows, and returns it (defaults when none came).
    std::tuple<std::decay_t<Values>...> awaitOne()
    {
        EXPECT_TRUE(testsupport::waitUntil([&] { return !calls.isEmpty(); }));
        drain();
        EXPECT_EQ(calls.size(), 1);
        EXPECT_TRUE(onMain);
        return calls.isEmpty() ? std::tuple<std::decay_t<Values>...>{} : calls.first();
    }
};

inline QString apiURL(const QString& path) { return QStringLiteral("https://") + KRServiceHosts::apiHost() + path; }
inline QString appURL(const QString& path) { return QStringLiteral("https://") + KRServiceHosts::appHost() + path; }
inline QString passportURL(const QString& path) { return QStringLiteral("https://") + KRServiceHosts::passportHost() + path; }

inline QString runtimeLog()
{
    QFile file(KRDiagnosticsCacheDirectory() + QStringLiteral("/KorvaneRuntime.log"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

inline void expectError(const KROptionalError& error, qint64 code, const QString& message = QString(),
                        const QString& domain = KRAccountErrorDomain)
{
    ASSERT_TRUE(error) << "expected code " << code;
    EXPECT_EQ(error->domain(), domain);
    EXPECT_EQ(error->code(), code);
    if (!message.isNull()) {
        EXPECT_EQ(error->message(), message);
    }
}

class AccountClientTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        KRSessionStore::sharedStore().resetForTesting();
        KRSessionStore::sharedStore().clearSession();
        KRSessionStore::sharedStore().setClockForTesting({});
        platform::CookieStorage::shared().deleteAll();
        KRAPIClient::resetWBIMixinKeyForTesting();
        KRAPIClient::setClockForTesting({});
        KRAccountRequestKinds::setTimeoutForTesting(0);
        KRDiagnostics::resetForTesting();
        client()->resetForTesting();
        testsupport::ServiceFixtures::installReadRoutes(fake);
    }
    void TearDown() override
    {
        drain();
        KRAPIClient::setClockForTesting({});
        KRSessionStore::sharedStore().setClockForTesting({});
        KRAccountRequestKinds::setTimeoutForTesting(0);
        KRSessionStore::sharedStore().clearSession();
    }

    static KRAccountClient* client() { return KRAccountClient::sharedClient(); }
    // Both clocks at one Unix time.
    void setNow(double now)
    {
        m_now = now;
        KRAPIClient::setClockForTesting([this] { return m_now; });
        KRSessionStore::sharedStore().setClockForTesting([this] { return m_now; });
    }
    void serve(const QString& host, const QString& path, FakeService::Handler handler) { fake.route(host, path, std::move(handler)); }
    void serveAPI(const QString& path, FakeService::Handler handler) { serve(KRServiceHosts::apiHost(), path, std::move(handler)); }

    FakeService fake{KRServiceHosts::allServiceHosts()};
    double m_now = 0;
};

} // namespace accounttest
