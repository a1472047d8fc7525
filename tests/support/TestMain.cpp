#include "support/SanitizerDefaults.h"
#include "support/TestSupport.h"

#ifdef KORVANE_TEST_WITH_WIDGETS
#include <QApplication>
#else
#include <QCoreApplication>
#endif

#ifdef KORVANE_TEST_SHUTS_DOWN_SERVICES
#include "service/KRServiceShutdown.h"
#else
#include "platform/foundation/OperationQueue.h"
#include "platform/net/DownloadConnection.h"
#endif

#include <gtest/gtest.h>

#ifdef KORVANE_TEST_BEFORE_APPLICATION
// Defined by an area whose platform part must be set up before the application object exists.
void korvaneTestBeforeApplication();
#endif

namespace {

// Gives every test a fresh, empty sandbox home.
class FreshHomeListener : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override { testsupport::beginFreshHome(); }
    void OnTestEnd(const ::testing::TestInfo&) override
    {
        // Nothing the finished test started runs on into the next one (or past the end of the
        // process): its requests, downloads and other work end now.
#ifdef KORVANE_TEST_SHUTS_DOWN_SERVICES
        KREndServiceWorkForTesting();
#else
        platform::DownloadConnection::cancelAll();
        platform::OperationQueue::waitUntilAllWorkIsFinished();
#endif
        // Let queued replies of the finished test drain before its home disappears.
        QCoreApplication::processEvents();
    }
};

} // namespace

int main(int argc, char** argv)
{
#ifdef KORVANE_TEST_BEFORE_APPLICATION
    korvaneTestBeforeApplication();
#endif
#ifdef KORVANE_TEST_WITH_WIDGETS
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
#else
    QCoreApplication app(argc, argv);
#endif
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new FreshHomeListener);
    const int result = RUN_ALL_TESTS();
#ifdef KORVANE_TEST_SHUTS_DOWN_SERVICES
    // As the app does: the services stop while the application object still exists.
    KRShutDownServices();
#else
    // No worker thread outlives main.
    platform::OperationQueue::endWorkerThreads();
#endif
    return result;
}
