#include "os/cpu_quota.h"

#include <gtest/gtest.h>

namespace tessaro {
namespace {

TEST(CpuQuota, AQuotaRoundedUpToWholeProcessorsAndNoneForMax) {
    EXPECT_EQ(CpusForQuota("200000", "100000\n"), 2);
    EXPECT_EQ(CpusForQuota("150000", "100000"), 2);
    EXPECT_EQ(CpusForQuota("50000", "100000"), 1);
    EXPECT_EQ(CpusForQuota("max", "100000"), 0);
    EXPECT_EQ(CpusForQuota("-1\n", "100000\n"), 0);
    EXPECT_EQ(CpusForQuota("", ""), 0);
}

}  // namespace
}  // namespace tessaro
