// The band reader against the reference rendering, byte for byte, over a corpus of TIFF
// variants: every photometric, depth, layout, compression, byte order and orientation the
// tool may meet. Each variant is read through every route the band reader has (direct where it
// qualifies, the RGBA interface forced, one strip per band, scanline by scanline) and each must
// equal ReadData() exactly.
#include <gtest/gtest.h>

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

using tiff_detail::BandPath;
using tiff_detail::BandTuning;

struct Variant {
    std::string name;
    TiffOptions options;
    int32_t width = 157;
    int32_t height = 151;
    bool fewColours = false;  // MarkedTile (3 colours) instead of PatternTile
};

void PrintTo(const Variant& v, std::ostream* os) { *os << v.name; }

Variant Make(std::string name, TiffOptions o, int32_t width = 157, int32_t height = 151) {
    Variant v;
    v.name = std::move(name);
    v.options = o;
    v.width = width;
    v.height = height;
    v.fewColours = o.photometric == PHOTOMETRIC_PALETTE;
    return v;
}

TiffOptions Kind(uint16_t photometric, uint16_t bits) {
    TiffOptions o;
    o.photometric = photometric;
    o.bitsPerSample = bits;
    return o;
}

TiffOptions Tiled(TiffOptions o, uint32_t width = 16, uint32_t length = 16) {
    o.tiled = true;
    o.tileWidth = width;
    o.tileLength = length;
    return o;
}

TiffOptions JpegOf(TiffOptions o) {
    o.compression = COMPRESSION_JPEG;
    o.rowsPerStrip = 16;
    return o;
}

std::vector<Variant> Corpus() {
    std::vector<Variant> corpus;
    struct NamedKind {
        const char* name;
        TiffOptions options;
    };
    std::vector<NamedKind> kinds = {
        {"Grey1", Kind(PHOTOMETRIC_MINISBLACK, 1)},   {"Grey2", Kind(PHOTOMETRIC_MINISBLACK, 2)},
        {"Grey4", Kind(PHOTOMETRIC_MINISBLACK, 4)},   {"Grey8", Kind(PHOTOMETRIC_MINISBLACK, 8)},
        {"Grey16", Kind(PHOTOMETRIC_MINISBLACK, 16)}, {"White1", Kind(PHOTOMETRIC_MINISWHITE, 1)},
        {"White4", Kind(PHOTOMETRIC_MINISWHITE, 4)},  {"White8", Kind(PHOTOMETRIC_MINISWHITE, 8)},
        {"White16", Kind(PHOTOMETRIC_MINISWHITE, 16)}, {"Rgb8", Kind(PHOTOMETRIC_RGB, 8)},
        {"Rgb16", Kind(PHOTOMETRIC_RGB, 16)},         {"Palette1", Kind(PHOTOMETRIC_PALETTE, 1)},
        {"Palette2", Kind(PHOTOMETRIC_PALETTE, 2)},   {"Palette4", Kind(PHOTOMETRIC_PALETTE, 4)},
        {"Palette8", Kind(PHOTOMETRIC_PALETTE, 8)},   {"Cmyk8", Kind(PHOTOMETRIC_SEPARATED, 8)},
        {"YCbCr11", Kind(PHOTOMETRIC_YCBCR, 8)},
    };
    TiffOptions ycbcr22 = Kind(PHOTOMETRIC_YCBCR, 8);
    ycbcr22.ycbcrSubsampling = 2;
    kinds.push_back({"YCbCr22", ycbcr22});
    for (auto alpha : {ExtraAlpha::associated, ExtraAlpha::unassociated}) {
        for (uint16_t bits : {8, 16}) {
            TiffOptions o = Kind(PHOTOMETRIC_RGB, bits);
            o.alpha = alpha;
            o.varyingAlpha = true;
            kinds.push_back({alpha == ExtraAlpha::associated
                                 ? (bits == 8 ? "RgbAssocAlpha8" : "RgbAssocAlpha16")
                                 : (bits == 8 ? "RgbStraightAlpha8" : "RgbStraightAlpha16"),
                             o});
        }
    }
    TiffOptions greyAlpha = Kind(PHOTOMETRIC_MINISBLACK, 8);
    greyAlpha.alpha = ExtraAlpha::associated;
    greyAlpha.varyingAlpha = true;
    kinds.push_back({"GreyAlpha8", greyAlpha});

    // Every kind in strips (partial last strip), one-row strips, a single strip and tiles with
    // partial edge tiles.
    for (const auto& k : kinds) {
        std::string n = k.name;
        corpus.push_back(Make(n + "_Strips4", k.options));
        TiffOptions one = k.options;
        one.rowsPerStrip = k.options.ycbcrSubsampling == 2 ? 2 : 1;
        corpus.push_back(Make(n + "_StripsOfOne", one));
        TiffOptions single = k.options;
        single.rowsPerStrip = 151;
        corpus.push_back(Make(n + "_SingleStrip", single));
        corpus.push_back(Make(n + "_Tiles16", Tiled(k.options)));
    }

    // Planes stored separately.
    for (const auto& k : kinds) {
        const std::string n = k.name;
        if (k.options.photometric == PHOTOMETRIC_YCBCR || k.options.photometric == PHOTOMETRIC_PALETTE ||
            k.options.bitsPerSample < 8 ||
            (k.options.alpha == ExtraAlpha::none && k.options.photometric != PHOTOMETRIC_RGB &&
             k.options.photometric != PHOTOMETRIC_SEPARATED))
            continue;
        TiffOptions o = k.options;
        o.planarSeparate = true;
        corpus.push_back(Make(n + "_Separate_Strips4", o));
        corpus.push_back(Make(n + "_Separate_Tiles16", Tiled(o, 32, 16)));
    }

    // Compressions.
    struct NamedCompression {
        const char* name;
        uint16_t compression;
        uint16_t predictor;
    };
    const NamedCompression compressions[] = {
        {"Lzw", COMPRESSION_LZW, PREDICTOR_NONE},
        {"LzwPredictor", COMPRESSION_LZW, PREDICTOR_HORIZONTAL},
        {"Deflate", COMPRESSION_ADOBE_DEFLATE, PREDICTOR_NONE},
        {"DeflatePredictor", COMPRESSION_ADOBE_DEFLATE, PREDICTOR_HORIZONTAL},
        {"PackBits", COMPRESSION_PACKBITS, PREDICTOR_NONE},
        {"Zstd", COMPRESSION_ZSTD, PREDICTOR_NONE},
        {"LzmaPredictor", COMPRESSION_LZMA, PREDICTOR_HORIZONTAL},
    };
    for (const auto& c : compressions)
        for (const char* kindName : {"Grey8", "Rgb8", "Rgb16", "Palette4", "Grey1", "RgbStraightAlpha8"}) {
            for (const auto& k : kinds) {
                if (k.name != std::string(kindName)) continue;
                TiffOptions o = k.options;
                o.compression = c.compression;
                o.predictor = c.predictor;
                if (o.predictor != PREDICTOR_NONE && o.bitsPerSample < 8) continue;
                corpus.push_back(Make(std::string(kindName) + "_" + c.name + "_Strips4", o));
                TiffOptions single = o;
                single.rowsPerStrip = 151;
                corpus.push_back(Make(std::string(kindName) + "_" + c.name + "_SingleStrip", single));
                corpus.push_back(Make(std::string(kindName) + "_" + c.name + "_Tiles16", Tiled(o)));
                o.planarSeparate = o.photometric == PHOTOMETRIC_RGB;
                if (o.planarSeparate)
                    corpus.push_back(Make(std::string(kindName) + "_" + c.name + "_Separate", o));
            }
        }

    // PackBits whose runs cross row ends, which libtiff decodes whole strips of but not scanlines.
    for (const char* kindName : {"Grey8", "Rgb8", "Rgb16", "Palette4", "Grey1"})
        for (const auto& k : kinds) {
            if (k.name != std::string(kindName)) continue;
            TiffOptions o = k.options;
            o.compression = COMPRESSION_PACKBITS;
            o.runsAcrossRows = true;
            o.bigEndian = o.bitsPerSample == 16;
            const std::string n = std::string(kindName) + "_PackBitsAcrossRows";
            corpus.push_back(Make(n + "_Strips4", o));
            TiffOptions single = o;
            single.rowsPerStrip = 151;
            corpus.push_back(Make(n + "_SingleStrip", single));
            corpus.push_back(Make(n + "_Tiles16", Tiled(o)));
        }

    // JPEG: RGB, YCbCr (decoded to RGB by libjpeg) and grey.
    const NamedKind jpegKinds[] = {{"JpegRgb", JpegOf(Kind(PHOTOMETRIC_RGB, 8))},
                                   {"JpegYCbCr", JpegOf(Kind(PHOTOMETRIC_YCBCR, 8))},
                                   {"JpegGrey", JpegOf(Kind(PHOTOMETRIC_MINISBLACK, 8))}};
    for (const auto& k : jpegKinds) {
        const std::string n = k.name;
        corpus.push_back(Make(n + "_Strips16", k.options));
        TiffOptions single = k.options;
        single.rowsPerStrip = 151;
        corpus.push_back(Make(n + "_SingleStrip", single));
        corpus.push_back(Make(n + "_Tiles16", Tiled(k.options)));
        corpus.push_back(Make(n + "_Tiles32x48", Tiled(k.options, 32, 48)));
        for (uint16_t orientation = 1; orientation <= 8; ++orientation) {
            TiffOptions o = k.options;
            o.orientation = orientation;
            corpus.push_back(Make(n + "_Orientation" + std::to_string(orientation), o));
        }
    }

    // All eight orientations, in strips and tiles, for the kinds with distinct put routines.
    for (const char* kindName : {"Grey8", "White8", "Rgb8", "Rgb16", "Palette2", "Grey4", "YCbCr22",
                                 "RgbStraightAlpha8", "Cmyk8"})
        for (const auto& k : kinds) {
            if (k.name != std::string(kindName)) continue;
            for (uint16_t orientation = 1; orientation <= 8; ++orientation) {
                TiffOptions o = k.options;
                o.orientation = orientation;
                const std::string n = std::string(kindName) + "_Orientation" + std::to_string(orientation);
                corpus.push_back(Make(n + "_Strips4", o));
                corpus.push_back(Make(n + "_Tiles16", Tiled(o)));
                if (o.photometric == PHOTOMETRIC_RGB) {
                    o.planarSeparate = true;
                    corpus.push_back(Make(n + "_Separate", o));
                }
            }
        }

    // Byte orders and BigTIFF.
    for (const char* kindName : {"Grey16", "Rgb16", "Rgb8", "Palette8", "Grey8"})
        for (const auto& k : kinds) {
            if (k.name != std::string(kindName)) continue;
            for (int layout = 0; layout < 3; ++layout) {
                TiffOptions o = k.options;
                o.bigEndian = layout != 1;
                o.bigTiff = layout != 0;
                o.compression = COMPRESSION_LZW;
                const char* names[] = {"BigEndian", "BigTiff", "BigTiffBigEndian"};
                corpus.push_back(Make(std::string(kindName) + "_" + names[layout], o));
                corpus.push_back(Make(std::string(kindName) + "_" + names[layout] + "_Tiles",
                                      Tiled(o, 32, 32)));
            }
        }

    // Odd and tiny sizes: one pixel, one row, one column, tiles larger than the picture.
    for (auto [w, h] : {std::pair{1, 1}, {1, 7}, {7, 1}, {33, 17}, {255, 3}}) {
        const std::string size = std::to_string(w) + "x" + std::to_string(h);
        for (uint16_t orientation : {1, 3, 6}) {
            TiffOptions o = Kind(PHOTOMETRIC_RGB, 8);
            o.orientation = orientation;
            const std::string n = "Size" + size + "_Orientation" + std::to_string(orientation);
            corpus.push_back(Make(n + "_Rgb8", o, w, h));
            corpus.push_back(Make(n + "_Rgb8Tiles", Tiled(o, 32, 32), w, h));
            o.photometric = PHOTOMETRIC_MINISWHITE;
            o.bitsPerSample = 1;
            corpus.push_back(Make(n + "_White1", o, w, h));
            TiffOptions jpeg = JpegOf(Kind(PHOTOMETRIC_YCBCR, 8));
            jpeg.orientation = orientation;
            corpus.push_back(Make(n + "_JpegYCbCr", jpeg, w, h));
        }
    }
    return corpus;
}

// Whether the band reader should skip the RGBA interface for this variant.
bool QualifiesForDirect(const TiffOptions& o) {
    const bool grey = o.photometric == PHOTOMETRIC_MINISBLACK || o.photometric == PHOTOMETRIC_MINISWHITE;
    const bool rgb = o.photometric == PHOTOMETRIC_RGB ||
                     (o.photometric == PHOTOMETRIC_YCBCR && o.compression == COMPRESSION_JPEG);
    const bool codec = o.compression != COMPRESSION_ZSTD && o.compression != COMPRESSION_LZMA;
    return o.bitsPerSample == 8 && o.alpha == ExtraAlpha::none && codec &&
           (grey || (rgb && !o.planarSeparate));
}

class TiffReaderDifferential : public ::testing::TestWithParam<Variant> {
protected:
    TempDir dir_;
};

TEST_P(TiffReaderDifferential, EveryBandRouteMatchesTheReference) {
    const Variant& v = GetParam();
    const std::string file = dir_ / "tile.tif";
    const RgbImage picture =
        v.fewColours ? MarkedTile(v.width, v.height, 40, 90, 200) : PatternTile(v.width, v.height, 7);
    WriteTiff(file, picture, v.options);
    ASSERT_FALSE(::testing::Test::HasFailure());

    const std::optional<TileSize> size = TIFFWH(file);
    ASSERT_TRUE(size.has_value());
    ASSERT_EQ(*size, (TileSize{v.width, v.height}));
    const std::optional<TilePixels> reference = ReadData(file);
    ASSERT_TRUE(reference.has_value());
    ASSERT_EQ(reference->size, *size);
    const std::vector<uint8_t> expected(reference->bytes.data(),
                                        reference->bytes.data() + std::size_t{3} * v.width * v.height);

    BandTuning direct;  // the defaults ReadTileBands uses
    BandTuning rgbaOnly;
    rgbaOnly.allowDirect = false;
    BandTuning smallest;  // one strip or one row of tiles per band
    smallest.bandBytes = 1;
    BandTuning rgbaSmallest = smallest;
    rgbaSmallest.allowDirect = false;
    BandTuning scanlines = smallest;  // direct strips always read row by row
    scanlines.maxStripBytes = 0;
    BandTuning thinTileRows = smallest;  // rows of tiles split into bands of one row
    thinTileRows.maxTileRowBytes = 1;
    BandTuning rgbaThinTileRows = thinTileRows;
    rgbaThinTileRows.allowDirect = false;
    const std::pair<const char*, BandTuning> routes[] = {
        {"default", direct},          {"rgba", rgbaOnly},          {"smallest bands", smallest},
        {"rgba smallest", rgbaSmallest}, {"scanlines", scanlines}, {"thin tile rows", thinTileRows},
        {"rgba thin tile rows", rgbaThinTileRows}};
    for (const auto& [route, tuning] : routes) {
        SCOPED_TRACE(route);
        const Assembled bands = AssembleBands(file, *size, tuning);
        ASSERT_EQ(bands.outcome, ReadOutcome::ok);
        EXPECT_TRUE(bands.bytes == expected) << "band read differs from the reference";
    }

    const Assembled viaDefault = AssembleBands(file, *size);
    if (QualifiesForDirect(v.options))
        EXPECT_NE(viaDefault.path, BandPath::rgba) << "expected the direct path";
    else
        EXPECT_EQ(viaDefault.path, BandPath::rgba);
}

INSTANTIATE_TEST_SUITE_P(Corpus, TiffReaderDifferential, ::testing::ValuesIn(Corpus()),
                         [](const ::testing::TestParamInfo<Variant>& info) { return info.param.name; });

}  // namespace
}  // namespace tessaro::testing
