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

// How long the parent waits for one reply from a child under `limits`: twice its processor time
// (it shares the machine), plus slack.
inline uint64_t ReplyTimeoutSeconds(const DecoderLimits& limits) {
    return 2 * limits.cpuSeconds + 30;
}

// For the tests, TESSARO_TEST_DECODER: "crash", "abort", "spin" (under a processor limit of one
// second) or "hog" (memory) make the child misbehave before its first answer, to show that only
// its group pays; "slow" makes it pause a quarter of a second after each band it writes, to show
// its progress. Empty when unset.
std::string_view DecoderTestMode();

// The limits a child runs under for `mode`: `limits`, with one second of processor time for
// "spin".
DecoderLimits LimitsForTestMode(const DecoderLimits& limits, std::string_view mode);

// In the child, before its first answer: crashes, aborts, spins or exhausts its memory as `mode`
// asks; returns at once for any other mode.
void MisbehaveForTest(std::string_view mode);

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
