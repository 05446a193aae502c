// What a decoding child computes for its group, whatever carries the requests to it: a tile's
// size, and the mosaic filled from the group's tiles. Both work only through descriptors the
// child was given; neither opens a file.
#pragma once

#include <optional>
#include <vector>

#include "decode/canvas_fill.h"
#include "decode/fill_meter.h"
#include "mosaic/tile_layout.h"
#include "os/unique_fd.h"
#include "tiff/tiff_reader.h"

namespace tessaro {

// The size of the tile open on `fd` (which stays the caller's); empty when it cannot be measured.
std::optional<TileSize> MeasureTile(int fd);

// Decodes `tiles` (the group's, in group order) into the mosaic's file open for writing on
// `canvasFd` (closed here), a bitmap of the layout's canvas size, reporting the bytes written to
// `meter` (if any).
FillOutcome FillMosaic(const std::vector<UniqueFd>& tiles, const TileLayout& layout,
                       UniqueFd canvasFd, FillMeter* meter);

}  // namespace tessaro
