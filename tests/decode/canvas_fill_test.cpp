#include "decode/canvas_fill.h"

#include <gtest/gtest.h>

#include <variant>

#include "decode/canvas_fill_internal.h"
#include "os/file_io.h"
#include "mosaic_expect.h"
#include "bmp_by_path.h"
#include "temp_dir.h"
#include "tiff_fixture.h"
#include "tree_check.h"

namespace tessaro {
namespace {

using canvas_detail::FillTuning;
using testing::DecodedTile;
using testing::PatternTile;
using testing::TempDir;
using testing::TiffOptions;

// Fills a mosaic of the given tiles (group order) the way `tuning` says, and saves it.
FillOutcome FillAndSave(const std::vector<std::string>& paths, const std::string& target,
                        const FillTuning& tuning) {
    std::vector<UniqueFd> tiles;
    std::vector<TileSize> sizes;
    for (const std::string& path : paths) {
        tiles.push_back(OpenToRead(path));
        const std::optional<TileSize> size = TIFFWH(tiles.back().get());
        if (!size) {
            ADD_FAILURE() << "cannot measure " << path;
            return FillOutcome::writeFailed;
        }
        sizes.push_back(*size);
    }
    const auto layout = CheckTileSizes(sizes);
    const TileLayout* fits = std::get_if<TileLayout>(&layout);
    if (fits == nullptr) {
        ADD_FAILURE() << "the tiles do not fit together";
        return FillOutcome::writeFailed;
    }
    std::optional<BmpFile> canvas = CreateBmp24(target, fits->canvasWidth, fits->canvasHeight);
    if (!canvas) return FillOutcome::writeFailed;
    const FillOutcome outcome = canvas_detail::FillCanvasTuned(tiles, *fits, *canvas, tuning);
    if (outcome == FillOutcome::filled && !SaveBmp24(*canvas, false)) return FillOutcome::writeFailed;
    return outcome;
}

// Pairs side by side on two threads, or small ones on one, rows staged or not: the same mosaic,
// whether the bands of a pair cover the same rows or not, and the same failure for a tile that
// cannot be decoded.
TEST(CanvasFill, PairsOnOneThreadOrTwoGiveTheSameMosaic) {
    TempDir tmp;
    struct Tile {
        int32_t width, height;
        TiffOptions options;
    };
    TiffOptions upsideDown;
    upsideDown.orientation = ORIENTATION_BOTLEFT;
    upsideDown.rowsPerStrip = 3;
    TiffOptions tiled;
    tiled.tiled = true;
    const Tile layout[6] = {
        {7, 5, {.rowsPerStrip = 2}},  {7, 3, tiled}, {7, 4, upsideDown},        // left column
        {9, 5, {.rowsPerStrip = 3}},  {9, 3, {.rowsPerStrip = 1}}, {9, 4, {}},  // right column
    };
    std::vector<std::string> paths;
    std::vector<DecodedTile> decoded;
    for (int i = 0; i < 6; ++i) {
        paths.push_back(tmp / (std::to_string(i + 1) + ".tif"));
        decoded.push_back(testing::WriteTile(
            paths.back(), PatternTile(layout[i].width, layout[i].height, static_cast<uint8_t>(i)),
            layout[i].options));
    }
    const std::string expected = testing::ExpectedBmpFile(decoded);
    // Rows written where the bands lie, or through a staging buffer (any mosaic from 0 bytes on).
    const FillTuning defaults;
    for (const FillTuning tuning : {FillTuning{0, defaults.stagedMosaicBytes}, defaults, FillTuning{0, 0},
                                    FillTuning{defaults.smallTileBytes, 0}}) {
        SCOPED_TRACE(::testing::Message() << tuning.smallTileBytes << ", " << tuning.stagedMosaicBytes);
        const std::string target = tmp / "out.bmp";
        ASSERT_EQ(FillAndSave(paths, target, tuning), FillOutcome::filled);
        EXPECT_TRUE(testing::SameFileBytes(testing::ReadBytes(target), expected));
    }

    // The right tile of the middle row, LZW with its data damaged: a read failure either way.
    TiffOptions lzw;
    lzw.compression = COMPRESSION_LZW;
    testing::WriteTile(paths[4], PatternTile(9, 3, 4), lzw);
    std::string bytes = testing::ReadBytes(paths[4]);
    for (std::size_t i = 8; i < 40; ++i) bytes[i] = static_cast<char>(0xff);  // its strips
    testing::WriteBytes(paths[4], bytes);
    for (const uint64_t small : {uint64_t{0}, FillTuning{}.smallTileBytes}) {
        SCOPED_TRACE(small);
        EXPECT_EQ(FillAndSave(paths, tmp / "damaged.bmp", {small}), FillOutcome::readFailed);
    }
}

}  // namespace
}  // namespace tessaro
