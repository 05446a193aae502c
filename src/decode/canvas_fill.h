// Canvas filling: decodes the tiles of a group and writes their rows straight into their place
// in the mosaic's bitmap file, whose pixel block is the canvas. Each row of the layout is done
// as a pair, the left tile decoded here and the right one beside it on a second thread, so at
// most one band of each, and 1 MiB of assembled mosaic rows, are in memory at a time, whatever
// the mosaic's size; a small mosaic's rows are written from the two bands where they lie
// instead. Small pairs (up to 1 MiB of left tile) go on one thread: the left tile whole into
// memory, then the right one band by band beside it.
#pragma once

#include "bmp/bmp_file.h"
#include "decode/fill_meter.h"
#include "mosaic/tile_layout.h"

namespace tessaro {

enum class FillOutcome {
    filled,
    readFailed,  // a tile could not be decoded
    writeFailed  // writing into the file failed; nothing printed (the caller reports the save)
};

// `tiles` are the group's tiles, open for reading, in group order. The bytes written are reported
// to `meter`, if there is one.
FillOutcome FillCanvas(const std::vector<UniqueFd>& tiles, const TileLayout& layout, BmpFile& canvas,
                       FillMeter* meter = nullptr);

}  // namespace tessaro
