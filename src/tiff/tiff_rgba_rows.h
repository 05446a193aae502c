// The RGBA interface's own conversion over strips decoded a few rows at a time, so that a strip
// costs a few rows (and its compressed bytes) however large it decodes, and bands hold whatever
// rows fit the budget rather than whole strips.
#pragma once

#include <tiffio.h>

#include "tiff/tiff_file.h"
#include "tiff/tiff_reader.h"
#include "tiff/tiff_reader_internal.h"

namespace tessaro::tiff_detail {

// Whether the begun image's put routine converts one row at a time (subsampled YCbCr converts
// blocks of rows).
bool ConvertsRowByRow(TIFF* tif, const TIFFRGBAImage& img);

// Whether the picture goes through ReadRgbaRows: strips converted a row at a time.
bool TakesRowRoute(TIFF* tif, const TIFFRGBAImage& img);

ReadOutcome ReadRgbaRows(const TiffFile& file, TileSize size, TIFFRGBAImage& img,
                         const BandSink& sink, const BandTuning& tuning);

}  // namespace tessaro::tiff_detail
