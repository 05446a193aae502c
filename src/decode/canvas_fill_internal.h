// The knob of canvas filling, for its tests. The program calls FillCanvas(), which uses the
// default.
#pragma once

#include <cstdint>
#include <vector>

#include "decode/canvas_fill.h"

namespace tessaro::canvas_detail {

struct FillTuning {
    // Pairs whose left tile decodes to at most this many bytes are decoded on one thread, the left
    // tile whole and then the right one band by band beside it: for tiles this small, a thread
    // costs a decoding child more than it saves. Larger pairs decode side by side.
    uint64_t smallTileBytes = uint64_t{1} << 20;
    // Mosaics of at least this many pixel bytes have their rows assembled in a staging buffer
    // and written from there; smaller ones are written from where the bands lie.
    uint64_t stagedMosaicBytes = uint64_t{4} << 20;
};

FillOutcome FillCanvasTuned(const std::vector<UniqueFd>& tiles, const TileLayout& layout,
                            BmpFile& canvas, const FillTuning& tuning, FillMeter* meter = nullptr);

}  // namespace tessaro::canvas_detail
