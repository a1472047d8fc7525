#include "support/TestSupport.h"
#include "platform/foundation/Error.h"

#include <gtest/gtest.h>

TEST(ErrorValue, DescriptionCarriesDomainCodeAndMessage)
{
    platform::Error e(QStringLiteral("D"), -3, QStringLiteral("消息"));
    EXPECT_EQ(e.description(), QStringLiteral("D(-3): 消息"));
    EXPECT_FALSE(testsupport::testHome().isEmpty());
}
