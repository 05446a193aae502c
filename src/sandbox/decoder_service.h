// What the decoding child does for its parent, on every system: the records the two exchange,
// the child's answer to each request, the misbehaviour the tests can ask of it, and the parent's
// relay of the child's fill progress to its own fill meter. The systems differ in how the child
// is started and confined, and how the records and the progress travel (decoder_child.cpp,
// fork_server_posix.cpp and decoder_service_posix.h on Linux; decoder_child_win.cpp and
// decoder_worker_win.cpp on Windows).
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "sandbox/confine.h"
#include "decode/canvas_fill.h"
#include "mosaic/tile_layout.h"
#include "os/unique_fd.h"
#include "decode/fill_meter.h"
#include "sandbox/test_modes.h"

namespace tessaro {

enum class DecoderOp : uint32_t { measure, fill };

struct DecoderRequest {
    DecoderOp op = DecoderOp::measure;
    uint32_t index = 0;           // measure: which tile, in group order
    uint32_t reportProgress = 0;  // fill: send progress replies before the answer (Linux)
    TileLayout layout;            // fill: the mosaic's geometry
};

enum class DecoderReplyKind : uint32_t {
    answer,    // the answer to a request, one for each
    measured,  // a tile's size, sent unasked in group order (Linux)
    progress,  // how far a fill has got (Linux)
    started    // from the fork server, ahead of the child: the child's process id, or none (Linux)
};

struct DecoderReply {
    DecoderReplyKind kind = DecoderReplyKind::answer;
    uint32_t ok = 0;  // measure: the tile measured; fill: the fill ran (outcome says how)
    TileSize size;
    FillOutcome outcome = FillOutcome::filled;
    uint32_t index = 0;        // measured: which tile
    int32_t pid = -1;          // started
    uint64_t mosaicBytes = 0;  // fill, progress: the mosaic's pixel bytes once the fill has
    uint64_t written = 0;      // begun, and how many of them are written
};

// In the child: the answer to one request. A fill writes through `canvasFd` (a duplicate of the
// parent's mosaic file, closed here) and reports its progress to `meter` (if any); for the test
// mode "slow" it pauses a quarter of a second after each band it writes.
DecoderReply AnswerRequest(const DecoderRequest& request, const std::vector<UniqueFd>& tiles,
                           UniqueFd canvasFd, FillMeter* meter, std::string_view mode);

// In the parent: passes on to `meter` (if any) how far the child's fill has got, as the child
// reports it: `written` of `mosaicBytes` pixel bytes (0 before it has begun). `begun` and
// `reported` keep what was passed on before, and start false and 0.
void RelayFill(uint64_t mosaicBytes, uint64_t written, FillMeter* meter, bool* begun,
               uint64_t* reported);

}  // namespace tessaro
