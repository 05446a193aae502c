// Writes the reader fuzzer's seed corpus: small valid TIFFs of many kinds, each checked to
// measure and decode with the reader.
//   tessaro_fuzz_seeds OUT_DIR
// Most files come from the test suite's fixture writer (photometrics, bit depths, strips and
// tiles, planar layouts, codecs, byte orders, BigTIFF, orientations, alpha); a few kinds it does
// not write (CIE L*a*b*, two-page files, extra codecs) are written here with libtiff directly.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tiff/tiff_reader.h"
#include "tiff_by_path.h"
#include "tiff_fixture.h"

namespace tessaro::testing {
namespace {

std::string g_out;

struct Seed {
    std::string name;
    int32_t width;
    int32_t height;
    TiffOptions options;
    bool pattern = true;  // PatternTile, else MarkedTile
};

std::vector<Seed> FixtureSeeds() {
    std::vector<Seed> seeds;
    auto add = [&](std::string name, int32_t w, int32_t h, TiffOptions o, bool pattern = true) {
        seeds.push_back({std::move(name), w, h, o, pattern});
    };
    TiffOptions o;

    // RGB 8-bit across the codecs.
    add("rgb8_none", 13, 7, o);
    o.compression = COMPRESSION_LZW;
    add("rgb8_lzw", 17, 9, o);
    o.predictor = PREDICTOR_HORIZONTAL;
    add("rgb8_lzw_pred", 19, 11, o);
    o.compression = COMPRESSION_ADOBE_DEFLATE;
    add("rgb8_deflate_pred", 21, 13, o);
    o.predictor = PREDICTOR_NONE;
    add("rgb8_deflate", 23, 8, o);
    o.compression = COMPRESSION_PACKBITS;
    add("rgb8_packbits", 25, 10, o, false);
    o = {};
    o.compression = COMPRESSION_JPEG;
    o.rowsPerStrip = 8;
    add("rgb8_jpeg", 24, 16, o);
    o.photometric = PHOTOMETRIC_YCBCR;
    o.rowsPerStrip = 16;
    add("ycbcr_jpeg", 32, 32, o);
    o.tiled = true;
    add("ycbcr_jpeg_tiles", 40, 33, o);
    o.photometric = PHOTOMETRIC_MINISBLACK;
    o.tiled = false;
    o.rowsPerStrip = 8;
    add("grey8_jpeg", 20, 17, o);

    // Grey of every depth, both photometrics; palettes.
    for (uint16_t bits : {1, 2, 4, 8, 16}) {
        o = {};
        o.photometric = PHOTOMETRIC_MINISBLACK;
        o.bitsPerSample = bits;
        add("black" + std::to_string(bits), 15 + bits, 9, o);
        o.photometric = PHOTOMETRIC_MINISWHITE;
        o.compression = bits == 8 ? COMPRESSION_LZW : COMPRESSION_PACKBITS;
        add("white" + std::to_string(bits), 14, 7 + bits, o);
        if (bits <= 8) {
            o.photometric = PHOTOMETRIC_PALETTE;
            o.compression = COMPRESSION_NONE;
            add("palette" + std::to_string(bits), 18, 12, o, false);
        }
    }

    // 16-bit, CMYK, YCbCr without JPEG.
    o = {};
    o.bitsPerSample = 16;
    add("rgb16_none", 13, 9, o);
    o.compression = COMPRESSION_LZW;
    o.predictor = PREDICTOR_HORIZONTAL;
    add("rgb16_lzw_pred", 15, 11, o);
    o = {};
    o.photometric = PHOTOMETRIC_SEPARATED;
    add("cmyk8", 16, 10, o);
    o.compression = COMPRESSION_ADOBE_DEFLATE;
    o.tiled = true;
    add("cmyk8_deflate_tiles", 35, 20, o);
    o = {};
    o.photometric = PHOTOMETRIC_YCBCR;
    o.ycbcrSubsampling = 1;
    add("ycbcr11", 14, 8, o);
    o.ycbcrSubsampling = 2;
    add("ycbcr22", 16, 12, o);

    // Tiles, planar, byte orders, BigTIFF.
    o = {};
    o.tiled = true;
    add("rgb8_tiles", 40, 33, o);
    o.compression = COMPRESSION_LZW;
    o.tileWidth = 32;
    add("rgb8_lzw_tiles32x16", 37, 19, o);
    o = {};
    o.planarSeparate = true;
    add("rgb8_planar", 17, 13, o);
    o.compression = COMPRESSION_PACKBITS;
    o.tiled = true;
    add("rgb8_planar_tiles", 20, 18, o);
    o = {};
    o.bigEndian = true;
    add("rgb8_be", 13, 7, o);
    o.bitsPerSample = 16;
    o.compression = COMPRESSION_ADOBE_DEFLATE;
    add("rgb16_be_deflate", 15, 7, o);
    o = {};
    o.bigTiff = true;
    add("rgb8_bigtiff", 19, 9, o);
    o.bigEndian = true;
    o.tiled = true;
    o.compression = COMPRESSION_LZW;
    add("rgb8_bigtiff_be_tiles", 33, 17, o);
    o = {};
    o.photometric = PHOTOMETRIC_MINISBLACK;
    o.tiled = true;
    add("grey8_tiles", 30, 30, o);

    // Orientations, strips and tiles.
    for (uint16_t orientation = 1; orientation <= 8; ++orientation) {
        o = {};
        o.orientation = orientation;
        add("orient" + std::to_string(orientation), 13, 9, o, false);
        o.tiled = true;
        o.photometric = PHOTOMETRIC_MINISWHITE;
        add("orient" + std::to_string(orientation) + "_grey_tiles", 18, 17, o, false);
    }

    // Alpha.
    o = {};
    o.alpha = ExtraAlpha::associated;
    add("rgba8_assoc", 13, 8, o);
    o.alpha = ExtraAlpha::unassociated;
    o.varyingAlpha = true;
    add("rgba8_unassoc_varying", 14, 9, o);
    o.bitsPerSample = 16;
    add("rgba16_unassoc_varying", 12, 7, o);
    o = {};
    o.photometric = PHOTOMETRIC_MINISBLACK;
    o.alpha = ExtraAlpha::unassociated;
    add("greya8", 15, 10, o);
    o.planarSeparate = true;
    add("greya8_planar", 16, 11, o);

    // Codecs beyond the ones the direct path takes, where this libtiff has them.
    for (uint16_t codec : {uint16_t{COMPRESSION_ZSTD}, uint16_t{COMPRESSION_LZMA},
                           uint16_t{COMPRESSION_DEFLATE}}) {
        if (!TIFFIsCODECConfigured(codec)) continue;
        o = {};
        o.compression = codec;
        add("rgb8_codec" + std::to_string(codec), 17, 10, o);
    }
    return seeds;
}

// Checks that the reader measures and decodes the seed; a seed the reader refuses teaches the
// fuzzer little.
void ExpectReadable(const std::string& path) {
    const std::optional<TileSize> size = TIFFWH(path);
    ASSERT_TRUE(size) << path << " does not measure";
    EXPECT_TRUE(ReadData(path)) << path << " does not decode";
}

std::string Path(const std::string& name) { return g_out + "/" + name + ".tif"; }

TEST(Seeds, FixtureKinds) {
    for (const Seed& seed : FixtureSeeds()) {
        SCOPED_TRACE(seed.name);
        const RgbImage image = seed.pattern
                                   ? PatternTile(seed.width, seed.height, 7)
                                   : MarkedTile(seed.width, seed.height, 200, 40, 30);
        ASSERT_NO_FATAL_FAILURE(WriteTiff(Path(seed.name), image, seed.options));
        ASSERT_NO_FATAL_FAILURE(ExpectReadable(Path(seed.name)));
    }
}

// A CIE L*a*b* picture and a two-page file, written by hand.
TEST(Seeds, HandWrittenKinds) {
    {
        const std::string path = Path("cielab8");
        TIFF* t = TIFFOpen(path.c_str(), "w");
        ASSERT_TRUE(t);
        const uint32_t w = 14, h = 9;
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_CIELAB);
        TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 3);
        std::vector<uint8_t> row(3 * w);
        for (uint32_t y = 0; y < h; ++y) {
            for (uint32_t x = 0; x < w; ++x) {
                row[3 * x] = static_cast<uint8_t>(20 + 20 * y);
                row[3 * x + 1] = static_cast<uint8_t>(static_cast<int8_t>(x * 9 - 60));
                row[3 * x + 2] = static_cast<uint8_t>(static_cast<int8_t>(40 - x * 5));
            }
            ASSERT_NE(TIFFWriteScanline(t, row.data(), y, 0), -1);
        }
        TIFFClose(t);
        ExpectReadable(path);
    }
    {
        const std::string path = Path("two_pages");
        TIFF* t = TIFFOpen(path.c_str(), "w");
        ASSERT_TRUE(t);
        for (uint32_t page = 0; page < 2; ++page) {
            const uint32_t w = 13 + page * 4, h = 7 + page * 3;
            TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
            TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
            TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
            TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
            TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
            TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 4);
            TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
            std::vector<uint8_t> row(w);
            for (uint32_t y = 0; y < h; ++y) {
                for (uint32_t x = 0; x < w; ++x) row[x] = static_cast<uint8_t>(x * 17 + y * 5);
                ASSERT_NE(TIFFWriteScanline(t, row.data(), y, 0), -1);
            }
            ASSERT_TRUE(TIFFWriteDirectory(t));
        }
        TIFFClose(t);
        ExpectReadable(path);
    }
}

}  // namespace
}  // namespace tessaro::testing

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT_DIR\n", argv[0]);
        return 2;
    }
    tessaro::testing::g_out = argv[1];
    std::filesystem::create_directories(tessaro::testing::g_out);
    return RUN_ALL_TESTS();
}
