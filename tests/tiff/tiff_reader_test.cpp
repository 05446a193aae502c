// The TIFF reader's behaviour as its callers rely on it: true pixels, sizes, refusal of hostile
// or damaged files, and band delivery. Its memory bounds, FIFOs and descriptors are tested in
// tiff_reader_posix_test.cpp.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "band_assembly.h"
#include "temp_dir.h"
#include "tiff/tiff_reader.h"
#include "tiff/tiff_reader_internal.h"
#include "tiff_by_path.h"
#include "tiff_fixture.h"
#include "tree_check.h"

namespace tessaro::testing {
namespace {

using tiff_detail::BandPath;
using tiff_detail::BandTuning;

std::vector<uint8_t> Bytes(const TilePixels& pixels) {
    return {pixels.bytes.data(),
            pixels.bytes.data() + std::size_t{3} * pixels.size.width * pixels.size.height};
}

// ---------------------------------------------------------------------------------------------
// Hand-made TIFF files, shared with the end-to-end tests.
using Entry = testing::HandTiffEntry;
const auto& ClassicTiff = testing::HandMadeTiff;
const auto& GreyStrips = testing::GreyStripEntries;

// ---------------------------------------------------------------------------------------------
// The reference rendering shows what the file holds, checked against the source pictures.

TEST(TiffReaderTruth, PlainRgbDecodesToTheSourcePictureInEveryOrientation) {
    TempDir dir;
    const RgbImage picture = PatternTile(157, 151, 3);
    for (uint16_t orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE(orientation);
        TiffOptions options;
        options.orientation = orientation;
        WriteTiff(dir / "rgb.tif", picture, options);
        const auto pixels = ReadData(dir / "rgb.tif");
        ASSERT_TRUE(pixels.has_value());
        EXPECT_EQ(pixels->size, (TileSize{157, 151}));
        EXPECT_EQ(pixels->bytes.size(), std::size_t{3} * 157 * 151);
        EXPECT_TRUE(Bytes(*pixels) == ExpectedBgrBottomUp(picture));
        EXPECT_TRUE(AssembleBands(dir / "rgb.tif", {157, 151}).bytes ==
                    ExpectedBgrBottomUp(picture));
    }
}

TEST(TiffReaderTruth, LosslessVariantsDecodeToTheSourcePicture) {
    TempDir dir;
    const RgbImage busy = PatternTile(61, 37, 9);
    const RgbImage marked = MarkedTile(61, 37, 200, 30, 90);
    struct Case {
        const char* name;
        TiffOptions options;
        const RgbImage* picture;
    };
    std::vector<Case> cases;
    auto add = [&](const char* name, auto change, const RgbImage& picture) {
        TiffOptions o;
        change(o);
        cases.push_back({name, o, &picture});
    };
    add("16-bit", [](TiffOptions& o) { o.bitsPerSample = 16; }, busy);
    add("CMYK", [](TiffOptions& o) { o.photometric = PHOTOMETRIC_SEPARATED; }, busy);
    add("palette", [](TiffOptions& o) { o.photometric = PHOTOMETRIC_PALETTE; }, marked);
    add("2-bit palette", [](TiffOptions& o) {
        o.photometric = PHOTOMETRIC_PALETTE;
        o.bitsPerSample = 2;
    }, marked);
    // Tiles of 16 x 16 RGB are 768 bytes: libtiff 4.5 needs help to read such uncompressed
    // tiles without memory mapping.
    add("uncompressed 16x16 tiles", [](TiffOptions& o) { o.tiled = true; }, busy);
    add("LZW with predictor, separate planes", [](TiffOptions& o) {
        o.compression = COMPRESSION_LZW;
        o.predictor = PREDICTOR_HORIZONTAL;
        o.planarSeparate = true;
    }, busy);
    add("big-endian BigTIFF", [](TiffOptions& o) {
        o.bigEndian = true;
        o.bigTiff = true;
        o.bitsPerSample = 16;
    }, busy);
    add("opaque straight alpha", [](TiffOptions& o) { o.alpha = ExtraAlpha::unassociated; }, busy);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteTiff(dir / "tile.tif", *c.picture, c.options);
        const auto pixels = ReadData(dir / "tile.tif");
        ASSERT_TRUE(pixels.has_value());
        EXPECT_TRUE(Bytes(*pixels) == ExpectedBgrBottomUp(*c.picture));
    }
}

TEST(TiffReaderTruth, GreyDecodesToItsLevelsAtEveryDepth) {
    TempDir dir;
    const RgbImage picture = PatternTile(45, 23, 1);
    for (uint16_t photometric : {PHOTOMETRIC_MINISBLACK, PHOTOMETRIC_MINISWHITE})
        for (uint16_t bits : {1, 2, 4, 8, 16}) {
            SCOPED_TRACE(::testing::Message() << "photometric " << photometric << ", bits " << bits);
            TiffOptions options;
            options.photometric = photometric;
            options.bitsPerSample = bits;
            WriteTiff(dir / "grey.tif", picture, options);
            const auto pixels = ReadData(dir / "grey.tif");
            ASSERT_TRUE(pixels.has_value());
            EXPECT_TRUE(Bytes(*pixels) == ExpectedGreyBgrBottomUp(picture, bits));
        }
}

// ---------------------------------------------------------------------------------------------
// The size query.

TEST(TiffSizeQuery, ReportsWidthAndHeight) {
    TempDir dir;
    WriteTiff(dir / "tile.tif", MarkedTile(157, 151, 1, 2, 3));
    EXPECT_EQ(TIFFWH(dir / "tile.tif"), (TileSize{157, 151}));
}

TEST(TiffSizeQuery, EntryLibtiffSkipsWhileOpeningDoesNotFailTheTile) {
    // libtiff reports the undefined entry as an error, skips it and renders the picture.
    TempDir dir;
    const RgbImage picture = PatternTile(40, 30);
    for (bool bigEndian : {false, true}) {
        SCOPED_TRACE(bigEndian);
        TiffOptions options;
        options.bigEndian = bigEndian;
        WriteTiffWithUndefinedEntry(dir / "tile.tif", picture, options);
        EXPECT_EQ(TIFFWH(dir / "tile.tif"), (TileSize{40, 30}));
        const std::optional<TilePixels> reference = ReadData(dir / "tile.tif");
        ASSERT_TRUE(reference.has_value());
        EXPECT_EQ(Bytes(*reference), ExpectedBgrBottomUp(picture));
        BandTuning rgbaOnly;
        rgbaOnly.allowDirect = false;
        for (const BandTuning& tuning : {BandTuning{}, rgbaOnly})
            EXPECT_EQ(AssembleBands(dir / "tile.tif", {40, 30}, tuning).bytes,
                      ExpectedBgrBottomUp(picture));
    }
}

TEST(TiffSizeQuery, UsesTheFirstImageOfAMultiImageFile) {
    TempDir dir;
    const std::string path = dir / "two.tif";
    WriteTiff(path, MarkedTile(20, 10, 1, 2, 3));
    {
        // Append a second, larger image.
        TIFF* tif = OpenTiff(path, "a");
        ASSERT_NE(tif, nullptr);
        std::vector<uint8_t> row(30, 128);
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 30u);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 40u);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 40u);
        for (uint32_t y = 0; y < 40; ++y) ASSERT_EQ(TIFFWriteScanline(tif, row.data(), y, 0), 1);
        ASSERT_TRUE(TIFFWriteDirectory(tif));
        TIFFClose(tif);
    }
    EXPECT_EQ(TIFFWH(path), (TileSize{20, 10}));
    const auto pixels = ReadData(path);
    ASSERT_TRUE(pixels.has_value());
    EXPECT_TRUE(Bytes(*pixels) == ExpectedBgrBottomUp(MarkedTile(20, 10, 1, 2, 3)));
}

TEST(TiffSizeQuery, RefusesAStoredTileFarLargerThanThePicture) {
    // One Deflate tile of 8208 x 8208 grey (64.3 MiB decoded): refused on a 16 x 16 picture,
    // measured on an 8200 x 8200 one. No pixel is decoded either way.
    TempDir dir;
    for (uint32_t side : {16u, 8200u}) {
        SCOPED_TRACE(side);
        std::vector<Entry> entries = {
            {256, 4, {side}}, {257, 4, {side}}, {258, 3, {8}},    {259, 3, {8}},  {262, 3, {1}},
            {277, 3, {1}},    {322, 4, {8208}}, {323, 4, {8208}}, {324, 4, {0}}, {325, 4, {16}}};
        entries[8].values = {testing::HandMadeDataOffset(entries)};
        WriteBytes(dir / "tile.tif", ClassicTiff(entries, std::string(16, 'x')));
        EXPECT_EQ(TIFFWH(dir / "tile.tif").has_value(), side == 8200u);
    }
}

TEST(TiffSizeQuery, RefusesWhatThePixelReadCouldNotDecode) {
    TempDir dir;
    const RgbImage picture = MarkedTile(16, 16, 9, 9, 9);
    // 16-bit CMYK passes libtiff's first check (TIFFRGBAImageOK) but not the second.
    TiffOptions cmyk16;
    cmyk16.photometric = PHOTOMETRIC_SEPARATED;
    cmyk16.bitsPerSample = 16;
    WriteTiff(dir / "cmyk16.tif", picture, cmyk16);
    EXPECT_FALSE(TIFFWH(dir / "cmyk16.tif").has_value());
    EXPECT_FALSE(ReadData(dir / "cmyk16.tif").has_value());

    // A compression no codec is registered for.
    std::vector<Entry> unknownCodec = GreyStrips(4, 4, 4, 16);
    unknownCodec[3].values = {12345};
    WriteBytes(dir / "codec.tif", ClassicTiff(unknownCodec, std::string(16, 'x')));
    EXPECT_FALSE(TIFFWH(dir / "codec.tif").has_value());

    // 32-bit integer samples.
    std::vector<Entry> deep = GreyStrips(4, 4, 4, 64);
    deep[2].values = {32};
    WriteBytes(dir / "deep.tif", ClassicTiff(deep, std::string(64, 'x')));
    EXPECT_FALSE(TIFFWH(dir / "deep.tif").has_value());

    // Widths of 0 and of 2^31.
    for (uint32_t width : {0u, 0x80000000u}) {
        std::vector<Entry> odd = GreyStrips(4, 4, 4, 16);
        odd[0].values = {width};
        WriteBytes(dir / "width.tif", ClassicTiff(odd, std::string(16, 'x')));
        EXPECT_FALSE(TIFFWH(dir / "width.tif").has_value()) << width;
    }
}

// ---------------------------------------------------------------------------------------------
// Files that are not TIFFs, or not files: every entry point fails and none blocks.

void ExpectAllFail(const std::string& path) {
    EXPECT_FALSE(TIFFWH(path).has_value());
    EXPECT_FALSE(ReadData(path).has_value());
    int calls = 0;
    EXPECT_EQ(ReadTileBands(path, {16, 16},
                            [&](const TileBand&) {
                                ++calls;
                                return true;
                            }),
              ReadOutcome::failed);
    EXPECT_EQ(calls, 0);
}

TEST(TiffHostileFiles, NonTiffsFail) {
    TempDir dir;
    WriteTiff(dir / "good.tif", PatternTile(16, 16));
    const std::string good = ReadBytes(dir / "good.tif");
    const std::pair<const char*, std::string> files[] = {
        {"empty", ""},
        {"one byte", "I"},
        {"header only", std::string("II*\0", 4)},
        {"directory offset past the end", std::string("II*\0\xff\xff\x00\x00", 8)},
        {"text", "this is not a TIFF file, just some text\n"},
        {"big-endian magic, little-endian rest", std::string("MM\0*", 4) + good.substr(4)},
        {"cut in half", good.substr(0, good.size() / 2)},
        {"last byte missing", good.substr(0, good.size() - 1)},
    };
    for (const auto& [name, bytes] : files) {
        SCOPED_TRACE(name);
        WriteBytes(dir / "x.tif", bytes);
        ExpectAllFail(dir / "x.tif");
    }
    ExpectAllFail(dir / "missing.tif");
}

TEST(TiffHostileFiles, DirectoryNamedLikeATileFails) {
    TempDir dir;
    ASSERT_TRUE(std::filesystem::create_directory(FsPath(dir / "x.tif")));
    ExpectAllFail(dir / "x.tif");
}

// ---------------------------------------------------------------------------------------------
// Damaged pixel data: the reference and every band route fail alike.

void ExpectDecodeFails(const std::string& path, TileSize size) {
    EXPECT_FALSE(ReadData(path).has_value());
    BandTuning rgbaOnly;
    rgbaOnly.allowDirect = false;
    BandTuning scanlines;
    scanlines.maxStripBytes = 0;
    for (const BandTuning& tuning : {BandTuning{}, rgbaOnly, scanlines})
        EXPECT_EQ(AssembleBands(path, size, tuning).outcome, ReadOutcome::failed);
}

// Overwrites part of strip (or tile) `index` of a file written by WriteTiff.
void DamageStrip(const std::string& path, uint32_t index, double from, double to, char fill) {
    TIFF* tif = OpenTiff(path, "r");
    ASSERT_NE(tif, nullptr);
    const uint64_t offset = TIFFGetStrileOffset(tif, index);
    const uint64_t count = TIFFGetStrileByteCount(tif, index);
    TIFFClose(tif);
    std::string bytes = ReadBytes(path);
    const auto begin = static_cast<std::size_t>(offset + count * from);
    const auto end = static_cast<std::size_t>(offset + count * to);
    ASSERT_LE(end, bytes.size());
    std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(begin),
              bytes.begin() + static_cast<std::ptrdiff_t>(end), fill);
    WriteBytes(path, bytes);
}

TEST(TiffReaderCorruption, CorruptJpegStripFails) {
    // libjpeg only warns about corrupt data and fills in made-up pixels; libtiff reports
    // success. The reader must not.
    TempDir dir;
    TiffOptions options;
    options.photometric = PHOTOMETRIC_YCBCR;
    options.compression = COMPRESSION_JPEG;
    options.rowsPerStrip = 16;
    for (char fill : {'\0', '\x5a'}) {
        SCOPED_TRACE(static_cast<int>(fill));
        WriteTiff(dir / "jpeg.tif", PatternTile(157, 151), options);
        ASSERT_TRUE(ReadData(dir / "jpeg.tif").has_value());
        DamageStrip(dir / "jpeg.tif", 3, 0.5, 0.9, fill);
        EXPECT_TRUE(TIFFWH(dir / "jpeg.tif").has_value());  // the header is intact
        ExpectDecodeFails(dir / "jpeg.tif", {157, 151});
    }
}

TEST(TiffReaderCorruption, CorruptCompressedStripsFail) {
    TempDir dir;
    for (uint16_t compression : {COMPRESSION_ADOBE_DEFLATE, COMPRESSION_LZW}) {
        for (bool tiled : {false, true}) {
            SCOPED_TRACE(::testing::Message() << "compression " << compression << (tiled ? ", tiles" : ", strips"));
            TiffOptions options;
            options.compression = compression;
            options.tiled = tiled;
            options.rowsPerStrip = 16;
            WriteTiff(dir / "z.tif", PatternTile(157, 151), options);
            // The strip ends early: its second half is cut off.
            std::string bytes = ReadBytes(dir / "z.tif");
            DamageStrip(dir / "z.tif", 2, 0.2, 1.0, '\xff');
            ExpectDecodeFails(dir / "z.tif", {157, 151});
        }
    }
}

TEST(TiffReaderCorruption, TruncatedPixelDataFails) {
    // The directory comes first and the pixel data stops in the middle of strip 3 of 8.
    TempDir dir;
    for (uint32_t rowsPerStrip : {8u, 64u}) {  // many strips; one strip (chopped by libtiff)
        SCOPED_TRACE(rowsPerStrip);
        const std::vector<Entry> entries = GreyStrips(64, 64, rowsPerStrip, 64 * rowsPerStrip);
        WriteBytes(dir / "cut.tif", ClassicTiff(entries, std::string(64 * 28, '\x40')));
        EXPECT_EQ(TIFFWH(dir / "cut.tif"), (TileSize{64, 64}));
        ExpectDecodeFails(dir / "cut.tif", {64, 64});
    }
}

// ---------------------------------------------------------------------------------------------
// Band delivery.

TEST(TiffReaderBands, FileOfAnotherSizeFailsWithoutCallingTheSink) {
    TempDir dir;
    WriteTiff(dir / "tile.tif", PatternTile(40, 30));
    int calls = 0;
    auto sink = [&](const TileBand&) {
        ++calls;
        return true;
    };
    for (TileSize other : {TileSize{41, 30}, TileSize{40, 29}, TileSize{30, 40}})
        EXPECT_EQ(ReadTileBands(dir / "tile.tif", other, sink), ReadOutcome::failed);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(ReadTileBands(dir / "tile.tif", {40, 30}, sink), ReadOutcome::ok);
}

TEST(TiffReaderBands, SinkThatRefusesStopsTheRead) {
    TempDir dir;
    TiffOptions options;
    options.rowsPerStrip = 2;
    options.compression = COMPRESSION_LZW;
    WriteTiff(dir / "tile.tif", PatternTile(40, 30), options);
    BandTuning rgbaOnly;
    rgbaOnly.allowDirect = false;
    BandTuning smallest;
    smallest.bandBytes = 1;
    for (const BandTuning& tuning : {smallest, rgbaOnly}) {
        int calls = 0;
        EXPECT_EQ(tiff_detail::ReadTileBandsTuned(dir / "tile.tif", {40, 30},
                                                  [&](const TileBand&) {
                                                      ++calls;
                                                      return false;
                                                  },
                                                  tuning),
                  ReadOutcome::sinkStopped);
        EXPECT_EQ(calls, 1);
    }
}

TEST(TiffReaderBands, BandsKeepToTheirBudgetWhateverThePictureSize) {
    // With a 256 KiB band budget and 1 MiB strips read whole, no band may exceed the budget
    // except by being one row of tiles, and that only up to 512 KiB.
    TempDir dir;
    constexpr int32_t kWidth = 1000, kHeight = 800;
    constexpr std::size_t kBudget = 256 << 10;
    constexpr std::size_t kTileRowBudget = 512 << 10;
    BandTuning tuning;
    tuning.bandBytes = kBudget;
    tuning.maxStripBytes = 1 << 20;
    tuning.maxTileRowBytes = kTileRowBudget;
    struct Case {
        const char* name;
        TiffOptions options;
        BandPath path;
        int32_t maxRows;
    };
    TiffOptions strips;
    strips.rowsPerStrip = 8;
    TiffOptions tiles;
    tiles.tiled = true;
    tiles.tileWidth = tiles.tileLength = 128;  // a row of tiles is 384 KB of BGR
    TiffOptions tallTiles = tiles;  // a row of tiles is 768 KB of BGR, 1 MB of raster
    tallTiles.tileLength = 256;
    TiffOptions tallPaletteTiles = tallTiles;
    tallPaletteTiles.photometric = PHOTOMETRIC_PALETTE;
    TiffOptions palette = strips;
    palette.photometric = PHOTOMETRIC_PALETTE;
    TiffOptions oneLzwStrip;
    oneLzwStrip.compression = COMPRESSION_LZW;
    oneLzwStrip.rowsPerStrip = kHeight;
    TiffOptions oneRawStrip = oneLzwStrip;  // libtiff chops it into small strips itself
    oneRawStrip.compression = COMPRESSION_NONE;
    const int32_t budgetRows = static_cast<int32_t>(kBudget / (3 * kWidth));
    const int32_t rgbaBudgetRows = static_cast<int32_t>(kBudget / (4 * kWidth));
    const Case cases[] = {
        {"strips", strips, BandPath::directStrips, budgetRows},
        {"tiles", tiles, BandPath::directTiles, 128},
        {"tall tiles", tallTiles, BandPath::directTiles, int32_t{kTileRowBudget / (3 * kWidth)}},
        {"tall palette tiles", tallPaletteTiles, BandPath::rgba,
         int32_t{kTileRowBudget / (4 * kWidth)}},
        {"palette", palette, BandPath::rgba, rgbaBudgetRows},
        {"one LZW strip", oneLzwStrip, BandPath::directScanlines, budgetRows},
        {"one raw strip", oneRawStrip, BandPath::directStrips, budgetRows},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteTiff(dir / "big.tif",
                  c.path == BandPath::rgba ? MarkedTile(kWidth, kHeight, 5, 6, 7)
                                           : PatternTile(kWidth, kHeight),
                  c.options);
        const Assembled bands = AssembleBands(dir / "big.tif", {kWidth, kHeight}, tuning);
        ASSERT_EQ(bands.outcome, ReadOutcome::ok);
        EXPECT_EQ(bands.path, c.path);
        EXPECT_LE(bands.maxBandRows, c.maxRows);
    }
}

}  // namespace
}  // namespace tessaro::testing
