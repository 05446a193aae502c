// The run's side of the decoding child on every system: the requests as the run words them, the
// answers as it reads them (whatever a child sends, it reads nothing but a size or an outcome
// into them), and the relay of a fill's progress. The systems differ only in how the records
// travel (client_posix.cpp, client_win.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "decode/canvas_fill.h"
#include "decode/fill_meter.h"
#include "mosaic/tile_layout.h"
#include "sandbox/protocol.h"

namespace tessaro {

// Measure tile `index`.
DecoderRequest MeasureRequest(std::size_t index);

// Fill the mosaic of `layout`, with progress replies when `reportProgress` (Linux), into the
// canvas handle `canvas` in the worker (Windows; 0 on Linux, where the descriptor travels beside
// the request).
DecoderRequest FillRequest(const TileLayout& layout, bool reportProgress, uint64_t canvas);

// The size in a measure's answer, or in a size sent unasked; empty when the tile was not
// measured.
std::optional<TileSize> MeasuredSize(const DecoderReply& reply);

// How a fill ended, by its answer: a fill that did not run, or an outcome the run does not know,
// is a read failure.
FillOutcome FillResult(const DecoderReply& reply);

// Passes on to `meter` (if any) how far the child's fill has got, as the child reports it:
// `written` of `mosaicBytes` pixel bytes (0 before it has begun). `begun` and `reported` keep
// what was passed on before, and start false and 0.
void RelayFill(uint64_t mosaicBytes, uint64_t written, FillMeter* meter, bool* begun,
               uint64_t* reported);

}  // namespace tessaro
