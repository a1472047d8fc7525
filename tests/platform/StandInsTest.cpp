#include "platform/device/BackgroundTask.h"
#include "platform/foundation/FreeSpace.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

TEST(FreeSpace, ReadsTheFileSystemAndHonoursTheOverride)
{
    FreeSpace::setOverrideForTesting(std::nullopt);
    const QString missing = testsupport::testHome() + QStringLiteral("/not/yet/made");
    EXPECT_GT(FreeSpace::availableBytes(testsupport::testHome()), 0);
    EXPECT_GT(FreeSpace::availableBytes(missing), 0); // read at the nearest existing parent
    FreeSpace::setOverrideForTesting(0);
    EXPECT_EQ(FreeSpace::availableBytes(testsupport::testHome()), 0);
    FreeSpace::setOverrideForTesting(110LL * 1024 * 1024);
    EXPECT_EQ(FreeSpace::availableBytes(missing), 110LL * 1024 * 1024);
    FreeSpace::setOverrideForTesting(std::nullopt);
    EXPECT_GT(FreeSpace::availableBytes(testsupport::testHome()), 0);
}

TEST(BackgroundTask, EndedTasksNeverExpireAndExpiryRunsEachHandlerOnce)
{
    int firstExpired = 0;
    int secondExpired = 0;
    BackgroundTask::Identifier second = BackgroundTask::invalid;
    const BackgroundTask::Identifier first = BackgroundTask::begin(QStringLiteral("a"), [&] { ++firstExpired; });
    second = BackgroundTask::begin(QStringLiteral("b"), [&] {
        ++secondExpired;
        BackgroundTask::end(second);
    });
    const BackgroundTask::Identifier ended = BackgroundTask::begin(QStringLiteral("c"), [] { FAIL() << "ended task expired"; });
    EXPECT_NE(first, BackgroundTask::invalid);
    EXPECT_NE(first, second);
    BackgroundTask::end(ended);
    BackgroundTask::end(BackgroundTask::invalid);
    EXPECT_EQ(BackgroundTask::openTaskCount(), 2);
    BackgroundTask::expireAllForTesting();
    BackgroundTask::expireAllForTesting();
    EXPECT_EQ(firstExpired, 1);
    EXPECT_EQ(secondExpired, 1);
    EXPECT_EQ(BackgroundTask::openTaskCount(), 0);
}

} // namespace
