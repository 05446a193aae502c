// The TIFF reader: the only code that talks to libtiff.
//
// Every call reads through a duplicate of the caller's descriptor and closes it before returning,
// so a reader never outlives one size query or one pixel read. The reader prints nothing:
// libtiff's own errors and warnings go to per-handle handlers, and each call reports success or
// failure to its caller, who prints the one line the user sees.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "tiff/pixel_buffer.h"

namespace tessaro {

// A tile's stored width and height in pixels (libtiff never rotates, so this is also the size
// of its decoded picture). Both are in 1 .. 2^31 - 1.
struct TileSize {
    int32_t width = 0;
    int32_t height = 0;
    friend bool operator==(const TileSize&, const TileSize&) = default;
};

// Measures a tile without decoding any pixel. Empty when the file cannot be opened as a regular
// file, is not a TIFF libtiff can read, has a width or height of 0 or above 2^31 - 1, uses a codec
// this libtiff lacks, or is a kind libtiff's RGBA interface refuses (so a tile that measures fine
// is one the pixel read can decode). The descriptor stays the caller's (the reader reads through
// a duplicate of it, so the file measured is exactly the file the caller holds).
std::optional<TileSize> TIFFWH(int fd);

// One band of decoded rows handed to a sink: rowCount rows of 3 x width bytes each (blue, green,
// red per pixel), packed. Rows are numbered from the tile's bottom row (0) upwards; data's first
// row is tile row firstRow, the next one firstRow + 1, and so on.
struct TileBand {
    int32_t firstRow = 0;
    int32_t rowCount = 0;
    const uint8_t* data = nullptr;
};

// Receives the bands of one tile; returns false to stop the read (its own failure, e.g. a write
// that failed, which the sink has recorded itself).
using BandSink = std::function<bool(const TileBand&)>;

enum class ReadOutcome {
    ok,          // every row of the tile was delivered exactly once
    failed,      // libtiff could not decode the tile, or it no longer has the expected size
    sinkStopped  // the sink returned false
};

// Decodes the tile band by band (one strip, or one row of tiles, at a time, in whatever order is
// cheapest) and hands each band to the sink. Fails when the file's size is no longer `expected`
// (it changed since it was measured) or when libtiff reports any error while decoding.
ReadOutcome ReadTileBands(int fd, TileSize expected, const BandSink& sink);

// The libtiff in use, as it names itself ("LIBTIFF, Version 4.5.0").
std::string LibtiffVersion();

}  // namespace tessaro
