// The TIFF reader's calls by path, for tests, the fuzzer and its seed writer: each opens the file
// for reading and goes through the reader's calls on a descriptor. And the whole-picture
// reference rendering the band reader must match.
#pragma once

#include <optional>
#include <string>

#include "tiff/pixel_buffer.h"
#include "tiff/tiff_reader.h"
#include "tiff/tiff_reader_internal.h"

namespace tessaro {

std::optional<TileSize> TIFFWH(const std::string& path);

ReadOutcome ReadTileBands(const std::string& path, TileSize expected, const BandSink& sink);

// The whole tile at once: height rows of 3 x width bytes, packed, bottom row first, blue, green,
// red; empty on failure. This is the reference rendering (libtiff's RGBA interface over the whole
// image) that the band reader must match byte for byte.
struct TilePixels {
    TileSize size;
    PixelBuffer bytes;
};
std::optional<TilePixels> ReadData(const std::string& path);

namespace tiff_detail {

ReadOutcome ReadTileBandsTuned(const std::string& path, TileSize expected, const BandSink& sink,
                               const BandTuning& tuning, BandPath* taken = nullptr);

}  // namespace tiff_detail

}  // namespace tessaro
