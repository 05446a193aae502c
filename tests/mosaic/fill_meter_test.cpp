#include "progress/fill_meter.h"

#include <gtest/gtest.h>

#include "mosaic/group_splice.h"
#include "temp_dir.h"
#include "tiff_fixture.h"

namespace tessaro {
namespace {

struct CountingMeter final : FillMeter {
    void Begin(uint64_t mosaicBytes) override { total += mosaicBytes; }
    void Add(uint64_t bytes) override { written += bytes; }
    uint64_t total = 0;
    uint64_t written = 0;
};

TEST(FillMeter, SeesEveryPixelByteOfTheMosaicOnItsThreadOnly) {
    testing::TempDir tmp;
    // Tiles of unlike strip heights are written band by band, like ones are as whole rows.
    testing::WriteTiff(tmp / "1.tif", testing::PatternTile(7, 5, 1), {.rowsPerStrip = 2});
    testing::WriteTiff(tmp / "2.tif", testing::PatternTile(9, 5, 2));
    testing::WriteTiff(tmp / "3.tif", testing::PatternTile(7, 3, 3));
    testing::WriteTiff(tmp / "4.tif", testing::PatternTile(9, 3, 4));
    CountingMeter meter;
    {
        FillMeterScope scope(&meter);
        EXPECT_EQ(CurrentFillMeter(), &meter);
        ::testing::internal::CaptureStdout();
        EXPECT_TRUE(SpliceGroup({tmp / "1.tif", tmp / "3.tif", tmp / "2.tif", tmp / "4.tif"}, false));
        ::testing::internal::GetCapturedStdout();
    }
    EXPECT_EQ(CurrentFillMeter(), nullptr);
    EXPECT_EQ(meter.total, 16u * 3 * 8);
    EXPECT_EQ(meter.written, meter.total);
}

}  // namespace
}  // namespace tessaro
