#include "support/TestSupport.h"

#ifdef KORVANE_TEST_WITH_WIDGETS
#include <QApplication>
#else
#include <QCoreApplication>
#endif

#include <gtest/gtest.h>

namespace {

// Gives every test a fresh, empty sandbox home.
class FreshHomeListener : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override { testsupport::beginFreshHome(); }
    void OnTestEnd(const ::testing::TestInfo&) override
    {
        // Let queued replies of the finished test drain before its home disappears.
        QCoreApplication::processEvents();
    }
};

} // namespace

int main(int argc, char** argv)
{
#ifdef KORVANE_TEST_WITH_WIDGETS
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
#else
    QCoreApplication app(argc, argv);
#endif
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new FreshHomeListener);
    return RUN_ALL_TESTS();
}
