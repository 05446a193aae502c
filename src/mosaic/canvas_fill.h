// Canvas filling: decodes each tile of a group and writes its rows straight into their place in
// the mosaic's bitmap file, whose pixel block is the canvas. Only one band of one tile is in
// memory at a time, whatever the mosaic's size.
#pragma once

#include "bmp/bmp_file.h"
#include "mosaic/tile_layout.h"

namespace tessaro {

enum class FillOutcome {
    filled,
    readFailed,  // a tile could not be decoded; its message has been printed
    writeFailed  // writing into the file failed; nothing printed (the caller reports the save)
};

FillOutcome FillCanvas(const TileGroup& group, const TileLayout& layout, BmpFile& canvas);

}  // namespace tessaro
