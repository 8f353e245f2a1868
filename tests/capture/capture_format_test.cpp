#include "capture/capture_format.h"

#include <gtest/gtest.h>

namespace {

TEST(CaptureFormat, FloatFlagFollowsTagAndSubFormat) {
    EXPECT_FALSE(decideFloatFlag(1, false));
    EXPECT_FALSE(decideFloatFlag(0xFFFE, true));
    EXPECT_TRUE(decideFloatFlag(0xFFFE, false));
    EXPECT_TRUE(decideFloatFlag(3, false));
    EXPECT_TRUE(decideFloatFlag(0x55, false));
}

TEST(CaptureFormat, FormatLineNamesRateChannelsBitsAndKind) {
    EXPECT_EQ(formatLineText({48000, 2, 32, true}), "[win-helper] Format: 48000Hz, 2 channels, 32 bits, float");
    EXPECT_EQ(formatLineText({44100, 2, 16, false}), "[win-helper] Format: 44100Hz, 2 channels, 16 bits, integer");
}

}  // namespace
