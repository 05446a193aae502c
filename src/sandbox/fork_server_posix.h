// The fork server: a small process the run starts first thing, before it has threads, a tree
// walked or anything decoded, which forks every group's decoding child on request. A fork copies
// the page tables of the process that forks and write-protects its pages until they are written
// again, and the new process then pays a fault for every page it touches: forked from the run,
// with its threads and its heap, a child cost far more than a small group's decoding. The
// server prepares itself at the first request (a run with nothing to decode costs only the
// server's fork) and from the second on keeps children ready ahead of requests, each a fresh
// process that has read nothing yet and is confined before any descriptor reaches it; a request
// hands one of them (or a child forked for it) a group's tiles and the socket the run made for
// it, and the server tells the run over that socket which child it got.
//
// The server holds nothing of the run but its socket to it, and is not confined itself: it never
// reads a tile (it only warms up on a tiny picture of its own, see child_posix.h). It
// ends when the run's socket closes, and its children die with it. It reaps a child only once
// the run has let go of it, so the child's process id stays the run's to signal and to set limits
// on; the run is made the subreaper of whatever the server leaves behind, so that the same holds
// should the server die first.
//
// The run's side is fork_server_client_posix.cpp; the server process is fork_server_posix.cpp.
// What they send each other is in protocol.h (ForkRequest, ForkAssignment).
#pragma once

#include <sys/types.h>

#include <vector>

#include "sandbox/limits.h"
#include "os/unique_fd.h"

namespace tessaro::decoder_detail {

// ---- the run's side -----------------------------------------------------------------------------

// Starts the server, once; call it while the process has only one thread. False when it could
// not be started.
bool StartForkServer();

// Asks for a confined child for a group's tiles (group order; empty ones stay closed in the
// child), limited to `limits`, which will talk to the run over `socket` (one end of a socket pair
// the caller made; the caller keeps the other end, where the server's DecoderReplyKind::started
// reply comes first). False when there is no server (never started, or gone); the
// caller then forks the child itself.
bool ForkThroughServer(const std::vector<UniqueFd>& tiles, const DecoderLimits& limits, int socket);

// The run is done with a child it got from the server (it has ended it or will not talk to it
// again): the server may reap it.
void ReleaseServedChild(pid_t pid);

// ---- the server ---------------------------------------------------------------------------------

// The server process, forked by StartForkServer: serves the run's requests on `control` (its end
// of the socket to the run) until the run hangs up, then ends its children and itself.
[[noreturn]] void RunForkServer(int control);

}  // namespace tessaro::decoder_detail
