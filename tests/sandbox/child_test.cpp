#include "sandbox/child.h"

#include <gtest/gtest.h>

#include <variant>

#include "bmp/bmp_file.h"
#include "mosaic/tile_layout.h"
#include "os/file_io.h"
#include "sandbox/client_internal.h"
#include "bmp_by_path.h"
#include "temp_dir.h"
#include "tiff_fixture.h"
#include "counting_meter.h"

namespace tessaro {
namespace {

using testing::CountingMeter;

TEST(DecoderChildSide, MeasuresAndFillsThroughTheDescriptorsItIsGiven) {
    testing::TempDir tmp;
    testing::WriteTiff(tmp / "1.tif", testing::PatternTile(7, 5, 1));
    testing::WriteTiff(tmp / "2.tif", testing::PatternTile(9, 5, 2));
    std::vector<UniqueFd> tiles;
    tiles.push_back(OpenToRead(tmp / "1.tif"));
    tiles.push_back(OpenToRead(tmp / "2.tif"));
    CountingMeter meter;

    DecoderReply reply = AnswerRequest(MeasureRequest(1), tiles, UniqueFd(), &meter, "");
    EXPECT_EQ(reply.ok, 1u);
    EXPECT_EQ(MeasuredSize(reply), (TileSize{9, 5}));
    EXPECT_EQ(AnswerRequest(MeasureRequest(2), tiles, UniqueFd(), &meter, "").ok, 0u);  // none

    const auto layout = CheckTileSizes({{7, 5}, {9, 5}});
    ASSERT_TRUE(std::holds_alternative<TileLayout>(layout));
    const DecoderRequest fill = FillRequest(std::get<TileLayout>(layout), false, 0);
    EXPECT_EQ(AnswerRequest(fill, tiles, UniqueFd(), &meter, "").ok, 0u);  // no canvas
    std::optional<BmpFile> canvas = CreateBmp24(tmp / "out.bmp", 16, 5);
    ASSERT_TRUE(canvas);
    reply = AnswerRequest(fill, tiles, DuplicateFd(canvas->fd.get()), &meter, "");
    EXPECT_EQ(reply.ok, 1u);
    EXPECT_EQ(FillResult(reply), FillOutcome::filled);
    EXPECT_EQ(meter.begins, 1);
    EXPECT_EQ(meter.total, 16u * 5 * 3);
    EXPECT_EQ(meter.written, meter.total);
}

}  // namespace
}  // namespace tessaro
