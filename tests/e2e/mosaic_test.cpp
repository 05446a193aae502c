// The real binary over real TIFF tiles: exact bitmap bytes, outcome lines, exit status and what
// happens to the tiles. File modes: mosaic_posix_test.cpp; limits: hostile_input_test.cpp and
// save_fault_test.cpp.
#include <filesystem>

#include <gtest/gtest.h>

#include "mosaic_expect.h"
#include "run_binary.h"
#include "temp_dir.h"
#include "tiff/tiff_reader.h"
#include "tiff_by_path.h"
#include "tiff_fixture.h"
#include "tree_check.h"

namespace tessaro {
namespace {

namespace fs = std::filesystem;
using namespace testing;

std::string Progress(const std::string& dir, int index = 1, int total = 1) {
    return ProgressLine(dir, index, total);
}

void MakeDirs(const std::string& path) { fs::create_directories(FsPath(path)); }

// Writes a tile and returns what it must decode to.
DecodedTile Tile(const std::string& path, const RgbImage& image, const TiffOptions& options = {}) {
    WriteTiff(path, image, options);
    const bool grey = options.photometric == PHOTOMETRIC_MINISBLACK ||
                      options.photometric == PHOTOMETRIC_MINISWHITE;
    return {image.width, image.height,
            grey ? ExpectedGreyBgrBottomUp(image, options.bitsPerSample) : ExpectedBgrBottomUp(image)};
}

// A tile whose expected pixels come from libtiff's own rendering (lossy codecs).
DecodedTile LossyTile(const std::string& path, const RgbImage& image, const TiffOptions& options) {
    WriteTiff(path, image, options);
    auto pixels = ReadData(path);
    EXPECT_TRUE(pixels.has_value());
    if (!pixels) return {};
    return {image.width, image.height,
            std::vector<uint8_t>(pixels->bytes.data(), pixels->bytes.data() + pixels->bytes.size())};
}

TEST(Mosaic, TwoTilesOfOddWidthsSideBySide) {
    TempDir tmp;
    const std::string dir = tmp / "pair";
    MakeDirs(dir);
    TiffOptions lzw;
    lzw.compression = COMPRESSION_LZW;
    lzw.predictor = PREDICTOR_HORIZONTAL;
    auto left = Tile(tmp / "pair/a.tif", MarkedTile(157, 151, 200, 30, 30));
    auto right = Tile(tmp / "pair/b.tif", MarkedTile(101, 151, 30, 30, 200), lzw);

    auto run = RunTessaro({dir});
    EXPECT_EQ(run.out, Printed(Progress(dir) + kSuccessLine));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(SameFileBytes(ReadBytes(tmp / "pair/pair.bmp"), ExpectedBmpFile({left, right})));
    EXPECT_EQ(ListNames(dir), (std::vector<std::string>{"a.tif", "b.tif", "pair.bmp"}));
}

TEST(Mosaic, FourTilesOfMixedKinds) {
    TempDir tmp;
    const std::string dir = tmp / "quad";
    MakeDirs(dir);
    TiffOptions grey, palette, wide, tiledPlanar;
    grey.photometric = PHOTOMETRIC_MINISWHITE;
    grey.compression = COMPRESSION_ADOBE_DEFLATE;
    palette.photometric = PHOTOMETRIC_PALETTE;
    palette.orientation = ORIENTATION_BOTRIGHT;
    wide.bitsPerSample = 16;
    wide.bigEndian = true;
    tiledPlanar.tiled = true;
    tiledPlanar.planarSeparate = true;
    tiledPlanar.bigTiff = true;
    auto topLeft = Tile(tmp / "quad/1.tif", MarkedTile(33, 21, 250, 250, 250), grey);
    auto bottomLeft = Tile(tmp / "quad/2.tif", MarkedTile(33, 10, 20, 160, 20), palette);
    auto topRight = Tile(tmp / "quad/3.tif", PatternTile(18, 21, 7), wide);
    auto bottomRight = Tile(tmp / "quad/4.tif", PatternTile(18, 10, 9), tiledPlanar);

    auto run = RunTessaro({dir, "1"});
    EXPECT_EQ(run.out, Printed(Progress(dir) + kSuccessLine));
    EXPECT_TRUE(SameFileBytes(ReadBytes(tmp / "quad/quad.bmp"),
                              ExpectedBmpFile({topLeft, bottomLeft, topRight, bottomRight})));
    // Saved, so the tiles are gone and only the mosaic is left.
    EXPECT_EQ(ListNames(dir), (std::vector<std::string>{"quad.bmp"}));
}

TEST(Mosaic, SixTilesWithJpegAndTheTreeAroundThem) {
    TempDir tmp;
    const std::string dir = tmp / "six";
    MakeDirs(dir);
    TiffOptions jpeg;
    jpeg.compression = COMPRESSION_JPEG;
    jpeg.rowsPerStrip = 16;
    TiffOptions ycbcr = jpeg;
    ycbcr.photometric = PHOTOMETRIC_YCBCR;
    std::vector<DecodedTile> tiles;
    const int heights[] = {17, 40, 9};
    for (int i = 0; i < 6; ++i) {
        auto image = MarkedTile(i < 3 ? 45 : 22, heights[i % 3], static_cast<uint8_t>(40 * i), 90, 200);
        const std::string path = tmp / ("six/" + std::to_string(i + 1) + ".tif");
        tiles.push_back(i % 2 ? LossyTile(path, image, i == 3 ? ycbcr : jpeg) : Tile(path, image));
    }
    auto run = RunTessaro({tmp.path()});
    EXPECT_EQ(run.out, Printed(Progress(dir) + kSuccessLine));
    EXPECT_TRUE(SameFileBytes(ReadBytes(tmp / "six/six.bmp"), ExpectedBmpFile(tiles)));

    // A second run finds the same tiles (mosaics are not tiles) and replaces the mosaic.
    WriteBytes(tmp / "six/six.bmp", "stale");
    EXPECT_EQ(RunTessaro({tmp.path()}).out, Printed(Progress(dir) + kSuccessLine));
    EXPECT_TRUE(SameFileBytes(ReadBytes(tmp / "six/six.bmp"), ExpectedBmpFile(tiles)));
}

TEST(Mosaic, RelativeRootsSaveInsideTheTilesDirectory) {
    TempDir tmp;
    MakeDirs(tmp / "tiles");
    auto a = Tile(tmp / "tiles/a.tif", MarkedTile(5, 3, 1, 2, 3));
    auto b = Tile(tmp / "tiles/b.tif", MarkedTile(6, 3, 4, 5, 6));
    RunOptions inTiles;
    inTiles.workingDir = tmp / "tiles";
    EXPECT_EQ(RunTessaro({"."}, inTiles).out, Printed(Progress(".") + kSuccessLine));
    EXPECT_TRUE(SameFileBytes(ReadBytes(tmp / "tiles/tiles.bmp"), ExpectedBmpFile({a, b})));
    fs::remove(FsPath(tmp / "tiles/tiles.bmp"));
    RunOptions above;
    above.workingDir = tmp.path();
    EXPECT_EQ(RunTessaro({"tiles/"}, above).out, Printed(Progress("tiles/") + kSuccessLine));
    EXPECT_EQ(ListNames(tmp / "tiles"), (std::vector<std::string>{"a.tif", "b.tif", "tiles.bmp"}));
}

TEST(MosaicFailures, EachGroupEndsWithItsOneMessage) {
    TempDir tmp;
    for (const char* dir : {"heights", "ok", "unreadable", "widths"}) MakeDirs(tmp / dir);
    Tile(tmp / "heights/a.tif", MarkedTile(4, 4, 1, 1, 1));
    Tile(tmp / "heights/b.tif", MarkedTile(4, 5, 1, 1, 1));
    Tile(tmp / "ok/a.tif", MarkedTile(4, 4, 1, 1, 1));
    Tile(tmp / "ok/b.tif", MarkedTile(4, 4, 1, 1, 1));
    Tile(tmp / "unreadable/a.tif", MarkedTile(4, 4, 1, 1, 1));
    WriteBytes(tmp / "unreadable/b.tif", "II*\0garbage");
    WriteBytes(tmp / "unreadable/c.tif", "");
    Tile(tmp / "unreadable/d.tif", MarkedTile(4, 5, 1, 1, 1));  // a later check never runs
    Tile(tmp / "widths/1.tif", MarkedTile(4, 4, 1, 1, 1));
    Tile(tmp / "widths/2.tif", MarkedTile(5, 3, 1, 1, 1));  // left widths and heights differ
    Tile(tmp / "widths/3.tif", MarkedTile(4, 5, 1, 1, 1));
    Tile(tmp / "widths/4.tif", MarkedTile(4, 4, 1, 1, 1));

    auto run = RunTessaro({tmp.path(), "1"});
    EXPECT_EQ(run.out, Printed(Progress(tmp / "heights", 1, 4) + "拼接失败! 上面,下面tif图片的高度不一样!\n" +
                               Progress(tmp / "ok", 2, 4) + kSuccessLine + Progress(tmp / "unreadable", 3, 4) +
                               UnreadableLine(tmp / "unreadable/b.tif") + Progress(tmp / "widths", 4, 4) +
                               "拼接失败! 左上,左下tif图片的宽度不一样!\n"));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(ListNames(tmp / "heights"), (std::vector<std::string>{"a.tif", "b.tif"}));
    EXPECT_EQ(ListNames(tmp / "ok"), (std::vector<std::string>{"ok.bmp"}));
    EXPECT_EQ(ListNames(tmp / "widths").size(), 4u);
}

TEST(MosaicFailures, ATileThatCannotBeDecodedKeepsEverything) {
    // Left and right tiles of a row are decoded side by side: a failure on either side fails
    // the group, whichever finishes first.
    for (const std::string broken : {"a.tif", "b.tif", "d.tif"}) {
        SCOPED_TRACE(broken);
        TempDir tmp;
        const std::string dir = tmp / "broken";
        MakeDirs(dir);
        TiffOptions lzw;
        lzw.compression = COMPRESSION_LZW;
        lzw.rowsPerStrip = 8;
        for (const std::string name : {"a.tif", "b.tif", "c.tif", "d.tif"})
            Tile(tmp / ("broken/" + name), PatternTile(64, 64, static_cast<uint8_t>(name[0])), lzw);
        // Garble one tile's compressed pixels: its header still measures fine.
        std::string bytes = ReadBytes(tmp / ("broken/" + broken));
        bytes.replace(8, bytes.size() / 3, bytes.size() / 3, '\xFF');
        WriteBytes(tmp / ("broken/" + broken), bytes);
        WriteBytes(tmp / "broken/broken.bmp", "earlier mosaic");
        auto run = RunTessaro({dir, "1"});
        EXPECT_EQ(run.out, Printed(Progress(dir) + kReadFailedLine));
        EXPECT_EQ(ReadBytes(tmp / "broken/broken.bmp"), "earlier mosaic");
        EXPECT_EQ(ListNames(dir), (std::vector<std::string>{"a.tif", "b.tif", "broken.bmp", "c.tif", "d.tif"}));
    }
}

TEST(MosaicFailures, ADirectoryWhereTheMosaicWouldGoKeepsTheTiles) {
    TempDir tmp;
    const std::string empty = tmp / "empty";
    const std::string full = tmp / "full";
    MakeDirs(tmp / "empty/empty.bmp");
    MakeDirs(tmp / "full/full.bmp/inside");
    WriteBytes(tmp / "full/full.bmp/inside/keep.txt", "keep");
    for (const char* name : {"empty", "full"}) {
        Tile(tmp / (std::string(name) + "/a.tif"), PatternTile(30, 20, 1));
        Tile(tmp / (std::string(name) + "/b.tif"), PatternTile(30, 20, 2));
    }
    auto run = RunTessaro({tmp.path(), "1"});
    EXPECT_EQ(run.out, Printed(Progress(empty, 1, 2) + kSaveFailedLine + Progress(full, 2, 2) +
                               kSaveFailedLine));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(ListNames(empty), (std::vector<std::string>{"a.tif", "b.tif", "empty.bmp"}));
    EXPECT_EQ(ListNames(tmp / "empty/empty.bmp"), std::vector<std::string>{});
    EXPECT_EQ(ListNames(full), (std::vector<std::string>{"a.tif", "b.tif", "full.bmp"}));
    EXPECT_EQ(ReadBytes(tmp / "full/full.bmp/inside/keep.txt"), "keep");
}

}  // namespace
}  // namespace tessaro
