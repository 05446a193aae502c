#include "app/messages.h"
#include "app/status_line.h"

#include <gtest/gtest.h>

namespace tessaro {
namespace {

TEST(ProgressText, SumsTheGroupsInFlightAndEstimatesFromTheTilesLeft) {
    RunProgress progress{3, 10, 1'000'000'000, 400'000'000,
                         {{100'000'000, 600, 150}, {100'000'000, 400, 350}}};
    // 400 MB finished, 25 MB and 87.5 MB read of the groups in flight; 500 of 1000 bytes written.
    EXPECT_EQ(TileBytesRead(progress), 512'500'000u);
    EXPECT_EQ(ProgressText(progress, 10), "组 3/10  50%  51.2 MB/s  剩余 0:10");
    progress.inFlight.clear();
    EXPECT_EQ(ProgressText(progress, 10000), "组 3/10  0%  0.0 MB/s  剩余 4:10:00");
    EXPECT_EQ(ProgressText(RunProgress{1, 1, 5, 0, {{5, 0, 0}}}, 0), "组 1/1  0%  0.0 MB/s  剩余 --:--");
}

TEST(SummaryText, CountsAndTime) {
    EXPECT_EQ(SummaryText({4, 1, 8}, 2.34), "完成: 成功 4 组, 失败 1 组, 删除 8 个tif文件, 用时 2.3 秒\n");
}

}  // namespace
}  // namespace tessaro
