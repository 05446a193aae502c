#include "progress/fill_meter.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "mosaic/group_splice.h"
#include "temp_dir.h"
#include "tiff_fixture.h"

namespace tessaro {
namespace {

struct CountingMeter final : FillMeter {
    void Begin(uint64_t mosaicBytes) override { total += mosaicBytes; }
    void Add(uint64_t bytes) override { written += bytes; }
    uint64_t total = 0, written = 0;
};

TEST(FillMeter, SeesEveryPixelByteOnceWhetherBandsPairUpOrNot) {
    testing::TempDir tmp;
    int seed = 0;  // the top row's strips differ in height, the bottom row's match
    for (auto [name, width, height, strip] :
         {std::tuple{"1", 7, 5, 2}, {"2", 7, 3, 4}, {"3", 9, 5, 4}, {"4", 9, 3, 4}})
        testing::WriteTiff(tmp / name + ".tif", testing::PatternTile(width, height, ++seed),
                           {.rowsPerStrip = uint32_t(strip)});
    CountingMeter meter;
    const FillMeterScope scope(&meter);
    ::testing::internal::CaptureStdout();
    struct stat dir {};
    ASSERT_EQ(stat(tmp.path().c_str(), &dir), 0);
    EXPECT_TRUE(SpliceGroup({tmp / "1.tif", tmp / "2.tif", tmp / "3.tif", tmp / "4.tif"},
                            {static_cast<uint64_t>(dir.st_dev), static_cast<uint64_t>(dir.st_ino)}, false));
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(meter.total, 16u * 3 * 8);
    EXPECT_EQ(meter.written, meter.total);
}

}  // namespace
}  // namespace tessaro
