#include "support/TestSupport.h"

#include <QApplication>

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
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new FreshHomeListener);
    return RUN_ALL_TESTS();
}
