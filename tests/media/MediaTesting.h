#pragma once

#include "platform/media/MediaSeams.h"
#include "support/MediaFixtures.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace mediatest {

namespace fixtures = testsupport::MediaFixtures;

// Players make no sound in tests and need no sound device.
class MediaTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::media::MediaSeams::setAudioOutput(QStringLiteral("null"));
        platform::media::MediaSeams::setAudioOutputFileForTesting(QString());
    }
};

} // namespace mediatest
