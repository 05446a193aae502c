// TIFF files for tests, written with libtiff, and the pixels a reader should get back from them.
#pragma once

#include <tiffio.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tessaro::testing {

// A picture as a viewer shows it: rows top first, red, green, blue per pixel, packed.
struct RgbImage {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> rgb;
};

// A tile of background colour (r, g, b) with a letter "F" in a contrasting colour and a square
// of a third colour in the bottom-right corner, so a swapped, mirrored or upside-down tile shows.
// Any size from 1 x 1 (small tiles keep whatever of the marks fits). Three colours in all.
RgbImage MarkedTile(int32_t width, int32_t height, uint8_t r, uint8_t g, uint8_t b);

// A busy picture in which neighbouring pixels, rows and columns all differ, for comparisons that
// must catch a single misplaced row or column. `seed` varies the picture.
RgbImage PatternTile(int32_t width, int32_t height, uint8_t seed = 0);

enum class ExtraAlpha {
    none,
    associated,    // premultiplied alpha
    unassociated,  // straight alpha
};

struct TiffOptions {
    // PHOTOMETRIC_RGB, _MINISBLACK, _MINISWHITE, _PALETTE, _SEPARATED (CMYK) or _YCBCR.
    uint16_t photometric = PHOTOMETRIC_RGB;
    // 1, 2, 4, 8 or 16 (what libtiff accepts for the photometric; RGB, CMYK, YCbCr: 8 or 16).
    uint16_t bitsPerSample = 8;
    uint16_t compression = COMPRESSION_NONE;
    uint16_t predictor = PREDICTOR_NONE;  // PREDICTOR_HORIZONTAL with LZW or Deflate
    int jpegQuality = 90;
    // YCbCr without JPEG: 1 or 2, used both ways (JPEG-compressed YCbCr is always 2 x 2).
    uint16_t ycbcrSubsampling = 1;
    bool tiled = false;
    uint32_t tileWidth = 16;   // multiples of 16
    uint32_t tileLength = 16;
    uint32_t rowsPerStrip = 4;  // JPEG: a multiple of 8, or of 16 for YCbCr
    bool planarSeparate = false;
    uint16_t orientation = ORIENTATION_TOPLEFT;
    bool bigEndian = false;
    bool bigTiff = false;
    ExtraAlpha alpha = ExtraAlpha::none;
    // Opaque alpha (255) leaves the colours exactly as they are; a varying alpha makes libtiff
    // premultiply unassociated alpha, so the expected pixels below no longer apply.
    bool varyingAlpha = false;
    // With PackBits: encode each strip or tile as one stream whose runs cross row ends (libtiff
    // itself starts a new run at every row).
    bool runsAcrossRows = false;
};

// Writes `image` as a TIFF so that libtiff's RGBA interface displays `image`:
// - rows and columns are stored in the order the orientation tag says (libtiff does not
//   transpose, so 5..8 are stored like 1..4: LEFTTOP like TOPLEFT, RIGHTTOP like TOPRIGHT,
//   RIGHTBOT like BOTRIGHT, LEFTBOT like BOTLEFT);
// - grey is GreyOf() of each pixel, scaled down to the bit depth by dropping low bits (stored
//   inverted for min-is-white);
// - 16-bit samples are v * 257, which libtiff scales back to v exactly;
// - a palette holds the image's distinct colours in order of first appearance; with more colours
//   than entries, the extra colours take the nearest entry;
// - CMYK is (255 - R, 255 - G, 255 - B, 0), which libtiff turns back into R, G, B exactly;
// - YCbCr is lossy (converted here, or by libjpeg for JPEG).
// Reports a test failure (and leaves a partial file) if libtiff refuses anything.
void WriteTiff(const std::string& path, const RgbImage& image, const TiffOptions& options = {});

// WriteTiff with one more directory entry, first in the directory: a tag numbered 0 of an
// undefined type (0x55), which libtiff reports as an error while opening and then skips.
// Classic TIFF only.
void WriteTiffWithUndefinedEntry(const std::string& path, const RgbImage& image,
                                 const TiffOptions& options = {});

// The grey level used for grey variants: Rec. 601 luma, (77 R + 150 G + 29 B + 128) / 256.
uint8_t GreyOf(uint8_t r, uint8_t g, uint8_t b);

// What a reader returns for a lossless RGB-like variant of `image` (8- or 16-bit RGB, palette
// with few enough colours, CMYK, opaque alpha): rows bottom first, blue, green, red, packed.
std::vector<uint8_t> ExpectedBgrBottomUp(const RgbImage& image);
// The same for a grey variant of `image` at `bitsPerSample` (1, 2, 4, 8 or 16; either
// photometric): each level q of the stored depth shows as q * 255 / (2^bits - 1), 16 bits as 8.
std::vector<uint8_t> ExpectedGreyBgrBottomUp(const RgbImage& image, int bitsPerSample = 8);

// libtiff's TIFFOpenExt for a UTF-8 path (through the wide-character open on Windows, where a
// narrow path would be read in the ANSI code page).
TIFF* OpenTiff(const std::string& path, const char* mode, TIFFOpenOptions* options = nullptr);

// Raw files for hostile-input tests.
void WriteBytes(const std::string& path, std::string_view bytes);
std::string ReadBytes(const std::string& path);

}  // namespace tessaro::testing
