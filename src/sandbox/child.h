// The decoding child's side on every system: its answer to each request of the run. The systems
// differ in how the child gets its tiles and is confined, and how the records travel
// (child_posix.cpp, child_win.cpp); what it computes is decode/decode_service.h.
#pragma once

#include <string_view>
#include <vector>

#include "decode/fill_meter.h"
#include "os/unique_fd.h"
#include "sandbox/protocol.h"

namespace tessaro {

// The answer to one request, for the group's `tiles` (in group order). A fill writes through
// `canvasFd` (a duplicate of the run's mosaic file, closed here) and reports its progress to
// `meter` (if any); for the test mode "slow" it pauses a quarter of a second after each band it
// writes (test_modes.h).
DecoderReply AnswerRequest(const DecoderRequest& request, const std::vector<UniqueFd>& tiles,
                           UniqueFd canvasFd, FillMeter* meter, std::string_view mode);

}  // namespace tessaro
