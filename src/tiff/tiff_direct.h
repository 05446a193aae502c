// The direct band reader: decodes strips or tiles with libtiff's plain decoders and converts
// them straight into BGR rows, skipping the RGBA interface's 4-byte-per-pixel raster.
//
// It only takes files where this gives exactly the bytes the RGBA interface gives: 8-bit,
// one sample plane, either RGB (three samples, no extra samples; JPEG-compressed YCbCr counts,
// since libjpeg converts it to RGB exactly as it does for the RGBA interface) or grey with one
// sample. For those, the RGBA interface copies RGB bytes unchanged, maps min-is-black grey v
// to (v, v, v) and min-is-white grey v to 255 - v; it mirrors rows for orientations 2, 3, 6, 7
// and turns the picture upside down for 1, 2, 5, 6. The direct path does the same.
#pragma once

#include <tiffio.h>

#include <cstdint>

#include "tiff/tiff_file.h"
#include "tiff/tiff_reader.h"
#include "tiff/tiff_reader_internal.h"

namespace tessaro::tiff_detail {

struct DirectLayout {
    int samples = 3;          // 3: RGB, 1: grey
    bool minIsWhite = false;  // grey stored inverted
    bool mirror = false;      // stored rows run right to left
    bool upsideDown = false;  // the first stored row is the top row
    bool tiled = false;
    uint32_t unitRows = 0;    // rows per strip (clipped to the height) or tile length
    uint32_t tileWidth = 0;
};

// Fills `layout` and returns true when the open file qualifies for the direct path. `img` is
// the file's begun RGBA image (Begin has already set JPEG colour conversion where it applies).
bool DirectLayoutFor(TIFF* tif, TileSize size, const TIFFRGBAImage& img, DirectLayout* layout);

ReadOutcome ReadDirect(const TiffFile& file, TileSize size, const DirectLayout& layout,
                       const BandSink& sink, const BandTuning& tuning, BandPath* taken);

}  // namespace tessaro::tiff_detail
