#include "sandbox/test_modes.h"

#include <gtest/gtest.h>

namespace tessaro {
namespace {

TEST(DecoderTestModes, LimitsFollowTheTestMode) {
    const DecoderLimits limits{uint64_t{1} << 30, 90};
    EXPECT_EQ(LimitsForTestMode(limits, "").cpuSeconds, 90u);
    EXPECT_EQ(LimitsForTestMode(limits, "crash").cpuSeconds, 90u);
    EXPECT_EQ(LimitsForTestMode(limits, "spin").cpuSeconds, 1u);
    EXPECT_EQ(LimitsForTestMode(limits, "spin").addressSpaceBytes, limits.addressSpaceBytes);
}

}  // namespace
}  // namespace tessaro
