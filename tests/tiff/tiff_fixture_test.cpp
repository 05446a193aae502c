// The fixture's own promises, which the reader tests and the end-to-end tests build on.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "temp_dir.h"
#include "tiff_fixture.h"

namespace tessaro::testing {
namespace {

RgbImage Transformed(const RgbImage& image, bool mirror, bool flip) {
    RgbImage out = image;
    for (int32_t y = 0; y < image.height; ++y)
        for (int32_t x = 0; x < image.width; ++x) {
            const int32_t sx = mirror ? image.width - 1 - x : x;
            const int32_t sy = flip ? image.height - 1 - y : y;
            for (int c = 0; c < 3; ++c)
                out.rgb[3 * (std::size_t{static_cast<std::size_t>(y)} * image.width + x) + c] =
                    image.rgb[3 * (std::size_t{static_cast<std::size_t>(sy)} * image.width + sx) + c];
        }
    return out;
}

TEST(TiffFixture, MarkedTileChangesUnderEveryMirrorAndFlip) {
    for (auto [w, h] : {std::pair{8, 8}, {16, 9}, {9, 16}, {157, 151}, {640, 480}}) {
        SCOPED_TRACE(::testing::Message() << w << "x" << h);
        const RgbImage tile = MarkedTile(w, h, 30, 60, 90);
        EXPECT_NE(Transformed(tile, true, false).rgb, tile.rgb);
        EXPECT_NE(Transformed(tile, false, true).rgb, tile.rgb);
        EXPECT_NE(Transformed(tile, true, true).rgb, tile.rgb);
        EXPECT_NE(MarkedTile(w, h, 30, 60, 91).rgb, tile.rgb);  // backgrounds tell tiles apart

        std::set<std::tuple<uint8_t, uint8_t, uint8_t>> colours;
        for (std::size_t i = 0; i < tile.rgb.size(); i += 3)
            colours.insert({tile.rgb[i], tile.rgb[i + 1], tile.rgb[i + 2]});
        EXPECT_EQ(colours.size(), 3u);
        EXPECT_EQ(tile.rgb[0], 30);  // top-left is background
        EXPECT_EQ(tile.rgb[1], 60);
        EXPECT_EQ(tile.rgb[2], 90);
    }
}

TEST(TiffFixture, MarkedTileTakesAnySize) {
    for (auto [w, h] : {std::pair{1, 1}, {1, 9}, {9, 1}, {2, 3}}) {
        const RgbImage tile = MarkedTile(w, h, 1, 2, 3);
        EXPECT_EQ(tile.width, w);
        EXPECT_EQ(tile.height, h);
        EXPECT_EQ(tile.rgb.size(), std::size_t{3} * w * h);
    }
}

TEST(TiffFixture, PatternTileNeighboursDiffer) {
    const RgbImage tile = PatternTile(157, 151);
    const std::size_t row = 3 * 157;
    for (int32_t y = 1; y < tile.height; ++y)
        EXPECT_NE(std::vector<uint8_t>(tile.rgb.begin() + (y - 1) * row, tile.rgb.begin() + y * row),
                  std::vector<uint8_t>(tile.rgb.begin() + y * row, tile.rgb.begin() + (y + 1) * row))
            << y;
    for (int32_t x = 1; x < tile.width; ++x) {
        bool differs = false;
        for (int32_t y = 0; y < tile.height && !differs; ++y)
            for (int c = 0; c < 3; ++c)
                differs |= tile.rgb[y * row + 3 * (x - 1) + c] != tile.rgb[y * row + 3 * x + c];
        EXPECT_TRUE(differs) << x;
    }
}

TEST(TiffFixture, ExpectedPixelsRunBottomUpInBlueGreenRed) {
    // 2 x 2: top row red, green; bottom row blue, white.
    const RgbImage image{2, 2, {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255}};
    EXPECT_EQ(ExpectedBgrBottomUp(image),
              (std::vector<uint8_t>{255, 0, 0, 255, 255, 255, 0, 0, 255, 0, 255, 0}));
    // Grey levels: red 77, green 149, blue 29, white 255; at 2 bits 77 -> 1 -> 85, 149 -> 2 ->
    // 170, 29 -> 0, 255 -> 3 -> 255.
    const std::vector<uint8_t> grey8 = ExpectedGreyBgrBottomUp(image);
    EXPECT_EQ(grey8, (std::vector<uint8_t>{29, 29, 29, 255, 255, 255, 77, 77, 77, 149, 149, 149}));
    EXPECT_EQ(ExpectedGreyBgrBottomUp(image, 2),
              (std::vector<uint8_t>{0, 0, 0, 255, 255, 255, 85, 85, 85, 170, 170, 170}));
}

TEST(TiffFixture, WriteTiffHonoursTheLayoutOptions) {
    TempDir dir;
    TiffOptions options;
    options.tiled = true;
    options.tileWidth = 32;
    options.tileLength = 48;
    options.bigEndian = true;
    options.bigTiff = true;
    options.orientation = ORIENTATION_RIGHTBOT;
    options.compression = COMPRESSION_ADOBE_DEFLATE;
    options.planarSeparate = true;
    WriteTiff(dir / "t.tif", PatternTile(50, 70), options);
    TIFF* tif = OpenTiff(dir / "t.tif", "r");
    ASSERT_NE(tif, nullptr);
    uint32_t tileWidth = 0, tileLength = 0;
    uint16_t orientation = 0, compression = 0, planar = 0;
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileLength);
    TIFFGetField(tif, TIFFTAG_ORIENTATION, &orientation);
    TIFFGetField(tif, TIFFTAG_COMPRESSION, &compression);
    TIFFGetField(tif, TIFFTAG_PLANARCONFIG, &planar);
    EXPECT_TRUE(TIFFIsTiled(tif));
    EXPECT_TRUE(TIFFIsBigEndian(tif));
    EXPECT_TRUE(TIFFIsBigTIFF(tif));
    EXPECT_EQ(tileWidth, 32u);
    EXPECT_EQ(tileLength, 48u);
    EXPECT_EQ(orientation, ORIENTATION_RIGHTBOT);
    EXPECT_EQ(compression, COMPRESSION_ADOBE_DEFLATE);
    EXPECT_EQ(planar, PLANARCONFIG_SEPARATE);
    TIFFClose(tif);
}

}  // namespace
}  // namespace tessaro::testing
