// Inputs the reader fuzzer (fuzz/reader_fuzzer.cpp) found troublesome, kept as regression tests.
// Every file under fuzz_cases/ must measure and read the way the tool uses it without a crash,
// ending in a clean success or a clean failure; a success must deliver every row once and, for
// small tiles, agree byte for byte with the whole-picture reference on every band route.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "band_assembly.h"
#include "temp_dir.h"
#include "tiff/tiff_reader.h"
#include "tiff/tiff_reader_internal.h"
#include "tiff_by_path.h"
#include "tiff_fixture.h"

namespace tessaro::testing {
namespace {

namespace fs = std::filesystem;
using tiff_detail::BandTuning;

const fs::path kCases = fs::path(__FILE__).parent_path() / "fuzz_cases";

std::vector<std::string> CaseFiles() {
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(kCases))
        if (entry.is_regular_file()) files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

// The routes the fuzzer compares: the production one, the smallest bands through the direct
// path (scanline by scanline above 1 KiB a strip, rows of tiles above 64 KiB in thinner bands),
// and the smallest bands through the RGBA interface.
std::vector<BandTuning> Routes() {
    BandTuning production;
    BandTuning direct;
    direct.bandBytes = 1;
    direct.maxStripBytes = 1024;
    BandTuning rgba = direct;
    rgba.allowDirect = false;
    direct.maxTileRowBytes = std::size_t{64} << 10;
    return {production, direct, rgba};
}

TEST(FuzzRegression, CasesReadCleanlyAndAgreeWithTheReference) {
    const std::vector<std::string> files = CaseFiles();
    ASSERT_FALSE(files.empty()) << kCases;
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        const std::optional<TileSize> size = TIFFWH(file);
        if (!size) continue;  // a clean refusal
        ASSERT_GE(size->width, 1);
        ASSERT_GE(size->height, 1);
        const uint64_t pixels = uint64_t(size->width) * uint64_t(size->height);
        if (pixels > (uint64_t{16} << 20)) continue;  // the tool refuses such mosaics first

        // Exactly as the tool calls it.
        const ReadOutcome outcome =
            ReadTileBands(file, *size, [](const TileBand&) { return true; });
        EXPECT_NE(outcome, ReadOutcome::sinkStopped);
        if (pixels > (uint64_t{1} << 20)) continue;

        const std::optional<TilePixels> reference = ReadData(file);
        for (const BandTuning& route : Routes()) {
            const Assembled got = AssembleBands(file, *size, route);
            EXPECT_NE(got.outcome, ReadOutcome::sinkStopped);
            if (got.outcome != ReadOutcome::ok || !reference) continue;
            const std::vector<uint8_t> want(reference->bytes.data(),
                                            reference->bytes.data() + got.bytes.size());
            EXPECT_TRUE(got.bytes == want)
                << "band route (direct " << route.allowDirect << ", band bytes "
                << route.bandBytes << ") differs from the reference";
        }
    }
}

// ---------------------------------------------------------------------------------------------
// A Deflate strip whose stream inflates to more bytes than the strip holds. libtiff takes the
// extra for harmless (some writers put whole strips' worth of rows in the last strip), but with
// libdeflate it then returned "success" without having written the strip at all, so the tile's
// pixels were whatever the buffer held before. The reader must deliver the stream's first bytes.

void PutLe(std::string& s, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) s += static_cast<char>((v >> (8 * i)) & 0xff);
}

// One stored (uncompressed) Deflate block in a zlib wrapper.
std::string StoredZlibStream(const std::string& payload) {
    std::string s = "\x78\x01";
    s += '\x01';  // final block, stored
    PutLe(s, static_cast<uint32_t>(payload.size()), 2);
    PutLe(s, static_cast<uint32_t>(payload.size()) ^ 0xffff, 2);
    s += payload;
    uint32_t a = 1, b = 0;
    for (unsigned char c : payload) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    const uint32_t adler = (b << 16) | a;
    for (int shift = 24; shift >= 0; shift -= 8) s += static_cast<char>((adler >> shift) & 0xff);
    return s;
}

// A little-endian 8-bit RGB TIFF of one Deflate strip holding `stream`.
std::string OneStripDeflateRgb(uint32_t width, uint32_t height, const std::string& stream) {
    struct Entry {
        uint16_t tag, type;
        uint32_t count, value;
    };
    const uint32_t entries = 9;
    const uint32_t ifdOffset = 8;
    const uint32_t bitsOffset = ifdOffset + 2 + 12 * entries + 4;
    const uint32_t dataOffset = bitsOffset + 6;
    const Entry dir[entries] = {
        {256, 4, 1, width},          {257, 4, 1, height},
        {258, 3, 3, bitsOffset},     {259, 3, 1, 8},
        {262, 3, 1, 2},              {273, 4, 1, dataOffset},
        {277, 3, 1, 3},              {278, 4, 1, height},
        {279, 4, 1, static_cast<uint32_t>(stream.size())},
    };
    std::string file = "II*";
    file += '\0';
    PutLe(file, ifdOffset, 4);
    PutLe(file, entries, 2);
    for (const Entry& e : dir) {
        PutLe(file, e.tag, 2);
        PutLe(file, e.type, 2);
        PutLe(file, e.count, 4);
        PutLe(file, e.value, 4);  // SHORT values sit in the low bytes, little-endian
    }
    PutLe(file, 0, 4);
    for (int i = 0; i < 3; ++i) PutLe(file, 8, 2);
    return file + stream;
}

TEST(FuzzRegression, DeflateStreamLongerThanItsStripDeliversItsFirstBytes) {
    const uint32_t width = 21, height = 4;
    const std::size_t stripBytes = std::size_t{3} * width * height;
    std::string payload;
    for (std::size_t i = 0; i < stripBytes + 100; ++i)
        payload += static_cast<char>((i * 7 + 3) & 0xff);
    TempDir tmp;
    const std::string path = tmp / "long_stream.tif";
    WriteBytes(path, OneStripDeflateRgb(width, height, StoredZlibStream(payload)));

    // RGB top row first in the file; the reader gives BGR, bottom row first.
    std::vector<uint8_t> expected(stripBytes);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                expected[(std::size_t{height - 1 - y} * width + x) * 3 + c] =
                    static_cast<uint8_t>(payload[(std::size_t{y} * width + x) * 3 + (2 - c)]);

    const std::optional<TileSize> size = TIFFWH(path);
    ASSERT_TRUE(size);
    ASSERT_EQ(*size, (TileSize{21, 4}));
    for (const BandTuning& route : Routes()) {
        const Assembled got = AssembleBands(path, *size, route);
        ASSERT_EQ(got.outcome, ReadOutcome::ok);
        EXPECT_TRUE(got.bytes == expected) << "direct " << route.allowDirect;
    }
    const std::optional<TilePixels> reference = ReadData(path);
    ASSERT_TRUE(reference);
    EXPECT_TRUE(std::vector<uint8_t>(reference->bytes.data(),
                                     reference->bytes.data() + stripBytes) == expected);
}

// A JPEG strip whose stream holds 8 rows where the strip has 17. libtiff decoded the 8, warned,
// and reported success with the other 9 rows of the caller's buffer never written, so the tile
// showed whatever memory held. Every read must fail instead.
TEST(FuzzRegression, JpegStreamShorterThanItsStripFails) {
    const std::string file = (kCases / "jpeg_stream_shorter_than_strip.tif").string();
    const std::optional<TileSize> size = TIFFWH(file);
    ASSERT_TRUE(size);
    ASSERT_EQ(*size, (TileSize{20, 17}));
    bool delivered = false;
    EXPECT_EQ(ReadTileBands(file, *size,
                            [&delivered](const TileBand&) { return delivered = true; }),
              ReadOutcome::failed);
    EXPECT_FALSE(delivered);
    for (const BandTuning& route : Routes())
        EXPECT_EQ(AssembleBands(file, *size, route).outcome, ReadOutcome::failed)
            << "direct " << route.allowDirect;
    EXPECT_FALSE(ReadData(file));
}

// A 40 x 33 picture in one JPEG tile of 64015 x 32784 pixels. The direct path allocated the whole
// decoded tile, 6.3 GB, where libtiff caps its own allocations at 1 GiB. A stored tile that far
// larger than its picture is refused as soon as it is measured.
TEST(FuzzRegression, TileFarLargerThanThePictureIsRefused) {
    const std::string file = (kCases / "tile_far_larger_than_picture.tif").string();
    EXPECT_FALSE(TIFFWH(file));
    EXPECT_EQ(ReadTileBands(file, {40, 33}, [](const TileBand&) { return true; }),
              ReadOutcome::failed);
    EXPECT_FALSE(ReadData(file));
}

// Uncompressed data whose byte counts do not fit it: a 14 x 15 grey picture whose strips of
// 4 rows (56 bytes) have counts of 42, an 18 x 257 grey picture in 11 x 16 tiles (176 bytes)
// whose counts of 39064 run past the end of the file, and a 3 x 2 RGB picture in one 18-byte
// tile with a count of 1024. The RGBA interface refuses all three; the direct path had libtiff
// read each strip or tile whole from its offset, whatever the count, and took the bytes that
// follow a short count for pixels. Every read must fail.
TEST(FuzzRegression, UncompressedDataBeyondItsByteCountIsRefused) {
    for (const char* name :
         {"raw_strip_byte_count_short.tif", "raw_tile_byte_count_past_the_end.tif",
          "raw_tile_byte_count_longer_than_tile.tif"}) {
        SCOPED_TRACE(name);
        const std::string file = (kCases / name).string();
        const std::optional<TileSize> size = TIFFWH(file);
        ASSERT_TRUE(size);
        for (const BandTuning& route : Routes())
            EXPECT_EQ(AssembleBands(file, *size, route).outcome, ReadOutcome::failed)
                << "direct " << route.allowDirect;
        EXPECT_FALSE(ReadData(file));
    }
}

// A 1 x 1 RGB picture in one uncompressed strip whose StripOffsets entry holds no value; libtiff
// makes the strip's count 8190 bytes, in a file of 152. It only warns about the entry and pads
// the offsets with zeros, so the strip starts at 0, in the header. The reference and the row
// route read the strip through its count and fail (it runs past the end of the file); the
// direct path read the 3 bytes it needed straight from offset 0 and delivered the header's "II*"
// as the pixel. Every read must fail.
TEST(FuzzRegression, UncompressedStripWithoutAnOffsetIsRefused) {
    const std::string file = (kCases / "raw_strip_without_offset.tif").string();
    const std::optional<TileSize> size = TIFFWH(file);
    ASSERT_TRUE(size);
    ASSERT_EQ(*size, (TileSize{1, 1}));
    EXPECT_EQ(ReadTileBands(file, *size, [](const TileBand&) { return true; }),
              ReadOutcome::failed);
    for (const BandTuning& route : Routes())
        EXPECT_EQ(AssembleBands(file, *size, route).outcome, ReadOutcome::failed)
            << "direct " << route.allowDirect;
    EXPECT_FALSE(ReadData(file));
}

}  // namespace
}  // namespace tessaro::testing
