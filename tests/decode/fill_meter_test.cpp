#include "decode/fill_meter.h"

#include <gtest/gtest.h>

#include "group/group_job.h"
#include "scan/tile_scan.h"
#include "temp_dir.h"
#include "tiff_fixture.h"
#include "counting_meter.h"

namespace tessaro {
namespace {

using testing::CountingMeter;

TEST(FillMeter, SeesEveryPixelByteOnceWhetherBandsPairUpOrNot) {
    testing::TempDir tmp;
    int seed = 0;  // the top row's strips differ in height, the bottom row's match
    for (auto [name, width, height, strip] :
         {std::tuple{"1", 7, 5, 2}, {"2", 7, 3, 4}, {"3", 9, 5, 4}, {"4", 9, 3, 4}})
        testing::WriteTiff(tmp / name + ".tif", testing::PatternTile(width, height, ++seed),
                           {.rowsPerStrip = uint32_t(strip)});
    // The group and its directory's identity, as the walk finds them.
    const GroupList groups = ScanTileGroups(tmp.path(), ".tif");
    ASSERT_EQ(groups.size(), 1u);
    const ScannedGroup group = GroupAt(groups, 0);
    ASSERT_EQ(group.names, (std::vector<std::string>{"1.tif", "2.tif", "3.tif", "4.tif"}));
    CountingMeter meter;
    EXPECT_TRUE(SpliceGroup(group, {}, &meter).saved());
    EXPECT_EQ(meter.total, 16u * 3 * 8);
    EXPECT_EQ(meter.written, meter.total);
}

}  // namespace
}  // namespace tessaro
