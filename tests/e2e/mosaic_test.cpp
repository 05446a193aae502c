// The real binary over real TIFF tiles: exact bitmap bytes, outcome lines, exit status and what
// happens to the tiles.
#include <sys/stat.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "mosaic_expect.h"
#include "run_binary.h"
#include "temp_dir.h"
#include "tiff/tiff_reader.h"
#include "tiff_fixture.h"
#include "tree_check.h"

namespace tessaro {
namespace {

namespace fs = std::filesystem;
using namespace testing;

const std::string kSuccess = "拼接成功!\n";
const std::string kSaveFailed = "拼接失败! 保存拼接的BMP文件失败!\n";
const std::string kReadFailed = "拼接失败! 读取tif文件时,内存申请失败!\n";

std::string Progress(const std::string& dir, int index = 1, int total = 1) {
    return " ++ " + std::to_string(index) + "/" + std::to_string(total) + " ++   path: " + dir + "\n";
}

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
    fs::create_directories(dir);
    TiffOptions lzw;
    lzw.compression = COMPRESSION_LZW;
    lzw.predictor = PREDICTOR_HORIZONTAL;
    auto left = Tile(dir + "/a.tif", MarkedTile(157, 151, 200, 30, 30));
    auto right = Tile(dir + "/b.tif", MarkedTile(101, 151, 30, 30, 200), lzw);

    auto run = RunTessaro({dir});
    EXPECT_EQ(run.out, Progress(dir) + kSuccess);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(SameFileBytes(ReadBytes(dir + "/pair.bmp"), ExpectedBmpFile({left, right})));
    EXPECT_EQ(ListNames(dir), (std::vector<std::string>{"a.tif", "b.tif", "pair.bmp"}));
}

TEST(Mosaic, FourTilesOfMixedKinds) {
    TempDir tmp;
    const std::string dir = tmp / "quad";
    fs::create_directories(dir);
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
    auto topLeft = Tile(dir + "/1.tif", MarkedTile(33, 21, 250, 250, 250), grey);
    auto bottomLeft = Tile(dir + "/2.tif", MarkedTile(33, 10, 20, 160, 20), palette);
    auto topRight = Tile(dir + "/3.tif", PatternTile(18, 21, 7), wide);
    auto bottomRight = Tile(dir + "/4.tif", PatternTile(18, 10, 9), tiledPlanar);

    auto run = RunTessaro({dir, "1"});
    EXPECT_EQ(run.out, Progress(dir) + kSuccess);
    EXPECT_TRUE(SameFileBytes(ReadBytes(dir + "/quad.bmp"), ExpectedBmpFile({topLeft, bottomLeft, topRight, bottomRight})));
    // Saved, so the tiles are gone and only the mosaic is left.
    EXPECT_EQ(ListNames(dir), (std::vector<std::string>{"quad.bmp"}));
    struct stat st;
    ASSERT_EQ(stat((dir + "/quad.bmp").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666u & ~0022u);  // the test runs with umask 022
}

TEST(Mosaic, SixTilesWithJpegAndTheTreeAroundThem) {
    TempDir tmp;
    const std::string dir = tmp / "six";
    fs::create_directories(dir);
    TiffOptions jpeg;
    jpeg.compression = COMPRESSION_JPEG;
    jpeg.rowsPerStrip = 16;
    TiffOptions ycbcr = jpeg;
    ycbcr.photometric = PHOTOMETRIC_YCBCR;
    std::vector<DecodedTile> tiles;
    const int heights[] = {17, 40, 9};
    for (int i = 0; i < 6; ++i) {
        auto image = MarkedTile(i < 3 ? 45 : 22, heights[i % 3], static_cast<uint8_t>(40 * i), 90, 200);
        const std::string path = dir + "/" + std::to_string(i + 1) + ".tif";
        tiles.push_back(i % 2 ? LossyTile(path, image, i == 3 ? ycbcr : jpeg) : Tile(path, image));
    }
    auto run = RunTessaro({tmp.path()});
    EXPECT_EQ(run.out, Progress(dir) + kSuccess);
    EXPECT_TRUE(SameFileBytes(ReadBytes(dir + "/six.bmp"), ExpectedBmpFile(tiles)));

    // A second run finds the same tiles (mosaics are not tiles) and replaces the mosaic.
    WriteBytes(dir + "/six.bmp", "stale");
    EXPECT_EQ(RunTessaro({tmp.path()}).out, Progress(dir) + kSuccess);
    EXPECT_TRUE(SameFileBytes(ReadBytes(dir + "/six.bmp"), ExpectedBmpFile(tiles)));
}

TEST(Mosaic, RelativeRootsSaveInsideTheTilesDirectory) {
    TempDir tmp;
    fs::create_directories(tmp / "tiles");
    auto a = Tile(tmp / "tiles/a.tif", MarkedTile(5, 3, 1, 2, 3));
    auto b = Tile(tmp / "tiles/b.tif", MarkedTile(6, 3, 4, 5, 6));
    RunOptions inTiles;
    inTiles.workingDir = tmp / "tiles";
    EXPECT_EQ(RunTessaro({"."}, inTiles).out, Progress(".") + kSuccess);
    EXPECT_TRUE(SameFileBytes(ReadBytes(tmp / "tiles/tiles.bmp"), ExpectedBmpFile({a, b})));
    fs::remove(tmp / "tiles/tiles.bmp");
    RunOptions above;
    above.workingDir = tmp.path();
    EXPECT_EQ(RunTessaro({"tiles/"}, above).out, Progress("tiles/") + kSuccess);
    EXPECT_EQ(ListNames(tmp / "tiles"), (std::vector<std::string>{"a.tif", "b.tif", "tiles.bmp"}));
}

TEST(MosaicFailures, EachGroupEndsWithItsOneMessage) {
    TempDir tmp;
    const std::string r = tmp.path();
    for (const char* dir : {"heights", "ok", "unreadable", "widths"}) fs::create_directories(tmp / dir);
    Tile(r + "/heights/a.tif", MarkedTile(4, 4, 1, 1, 1));
    Tile(r + "/heights/b.tif", MarkedTile(4, 5, 1, 1, 1));
    Tile(r + "/ok/a.tif", MarkedTile(4, 4, 1, 1, 1));
    Tile(r + "/ok/b.tif", MarkedTile(4, 4, 1, 1, 1));
    Tile(r + "/unreadable/a.tif", MarkedTile(4, 4, 1, 1, 1));
    WriteBytes(r + "/unreadable/b.tif", "II*\0garbage");
    WriteBytes(r + "/unreadable/c.tif", "");
    Tile(r + "/unreadable/d.tif", MarkedTile(4, 5, 1, 1, 1));  // a later check never runs
    Tile(r + "/widths/1.tif", MarkedTile(4, 4, 1, 1, 1));
    Tile(r + "/widths/2.tif", MarkedTile(5, 3, 1, 1, 1));  // left widths and heights differ
    Tile(r + "/widths/3.tif", MarkedTile(4, 5, 1, 1, 1));
    Tile(r + "/widths/4.tif", MarkedTile(4, 4, 1, 1, 1));

    auto run = RunTessaro({r, "1"});
    EXPECT_EQ(run.out, Progress(r + "/heights", 1, 4) + "拼接失败! 上面,下面tif图片的高度不一样!\n" +
                           Progress(r + "/ok", 2, 4) + kSuccess +
                           Progress(r + "/unreadable", 3, 4) + "拼接失败! 无法读取tif文件: " + r +
                           "/unreadable/b.tif\n" + Progress(r + "/widths", 4, 4) +
                           "拼接失败! 左上,左下tif图片的宽度不一样!\n");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(ListNames(r + "/heights"), (std::vector<std::string>{"a.tif", "b.tif"}));
    EXPECT_EQ(ListNames(r + "/ok"), (std::vector<std::string>{"ok.bmp"}));
    EXPECT_EQ(ListNames(r + "/widths").size(), 4u);
}

TEST(MosaicFailures, HugeHeadersAreRefusedBeforeAnyPixelIsAllocated) {
    TempDir tmp;
    const std::string dir = tmp / "huge";
    fs::create_directories(dir);
    WriteHeaderOnlyTiff(dir + "/a.tif", 50000, 50000);
    WriteHeaderOnlyTiff(dir + "/b.tif", 50000, 50000);
    RunOptions limited;
    limited.memoryLimitBytes = 256ll << 20;
    auto run = RunTessaro({dir, "1"}, limited);
    EXPECT_EQ(run.out, Progress(dir) + "拼接失败! 拼接后的图片过大!\n");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(ListNames(dir), (std::vector<std::string>{"a.tif", "b.tif"}));
}

TEST(MosaicFailures, ATileThatCannotBeDecodedKeepsEverything) {
    // Left and right tiles of a row are decoded side by side: a failure on either side fails
    // the group, whichever finishes first.
    for (const std::string broken : {"a.tif", "b.tif", "d.tif"}) {
        SCOPED_TRACE(broken);
        TempDir tmp;
        const std::string dir = tmp / "broken";
        fs::create_directories(dir);
        TiffOptions lzw;
        lzw.compression = COMPRESSION_LZW;
        lzw.rowsPerStrip = 8;
        for (const char* name : {"a.tif", "b.tif", "c.tif", "d.tif"})
            Tile(dir + "/" + name, PatternTile(64, 64, static_cast<uint8_t>(name[0])), lzw);
        // Garble one tile's compressed pixels: its header still measures fine.
        std::string bytes = ReadBytes(dir + "/" + broken);
        bytes.replace(8, bytes.size() / 3, bytes.size() / 3, '\xFF');
        WriteBytes(dir + "/" + broken, bytes);
        WriteBytes(dir + "/broken.bmp", "earlier mosaic");
        auto run = RunTessaro({dir, "1"});
        EXPECT_EQ(run.out, Progress(dir) + kReadFailed);
        EXPECT_EQ(ReadBytes(dir + "/broken.bmp"), "earlier mosaic");
        EXPECT_EQ(ListNames(dir), (std::vector<std::string>{"a.tif", "b.tif", "broken.bmp", "c.tif", "d.tif"}));
    }
}

TEST(MosaicFailures, SaveFailuresKeepTilesAndTheEarlierMosaic) {
    TempDir tmp;
    const std::string dir = tmp / "full";
    fs::create_directories(dir);
    Tile(dir + "/a.tif", PatternTile(300, 200, 1));
    Tile(dir + "/b.tif", PatternTile(300, 200, 2));
    WriteBytes(dir + "/full.bmp", "earlier mosaic");
    RunOptions smallFiles;
    smallFiles.fileSizeLimitBytes = 100000;  // the mosaic needs 360054 bytes
    auto run = RunTessaro({dir, "1"}, smallFiles);
    EXPECT_EQ(run.out, Progress(dir) + kSaveFailed);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(ReadBytes(dir + "/full.bmp"), "earlier mosaic");
    EXPECT_EQ(ListNames(dir), (std::vector<std::string>{"a.tif", "b.tif", "full.bmp"}));

    // A directory where the mosaic would go.
    fs::remove(dir + "/full.bmp");
    fs::create_directories(dir + "/full.bmp/inside");
    run = RunTessaro({dir, "1"});
    EXPECT_EQ(run.out, Progress(dir) + kSaveFailed);
    EXPECT_TRUE(fs::is_directory(dir + "/full.bmp/inside"));
    EXPECT_EQ(ListNames(dir), (std::vector<std::string>{"a.tif", "b.tif", "full.bmp"}));
}

}  // namespace
}  // namespace tessaro
