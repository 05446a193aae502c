// The decoding child's service on Linux: what a freshly forked process does with a group's tiles
// once it is confined (see confine.h), over its socket to the run. Used by DecoderChild::Start and
// by the fork server's children alike. The child starts by measuring its tiles in group order,
// sending each size as it has it (DecoderReplyKind::measured), up to the first tile it cannot
// measure; then it answers requests one at a time, each with one answer, preceded by progress
// replies while a fill asked for them.
#pragma once

#include <vector>

#include "os/unique_fd.h"

namespace tessaro {

// Sets the allocator up for decoding children: call it in the process they are forked from (or
// in a child before it allocates). Every page a new process touches for the first time costs it
// a fault: threads share one heap, and freed buffers stay there for the next tile rather than go
// back to the system.
void TuneAllocatorForDecoding();

// Decodes a pair of tiny tiles of its own into a throwaway canvas, as a child decodes a group, so
// that the symbols on that path are bound and the allocator's structures are set up once, in the
// process that forks the children, rather than in every one of them.
void WarmUpDecoding();

// In a freshly forked child: the signals the run catches or ignores get their default actions,
// and none is blocked, so the child ends as any process would.
void ResetSignalsInChild();

// Measures the tiles and serves the run's requests on `channel` until the run hangs up, then
// ends the process. `tiles` are the group's tiles in group order (empty where one did not open).
// The caller has confined the process.
[[noreturn]] void ServeGroup(int channel, std::vector<UniqueFd> tiles);

}  // namespace tessaro
