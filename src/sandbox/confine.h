// Confinement of the decoding child: once confined, a process can read and write the descriptors
// it holds, allocate memory and run threads, and nothing else. It cannot open a file, run a
// program, make a socket or signal another process; its memory and processor time are capped and
// it leaves no core dump.
#pragma once

#include "sandbox/limits.h"

namespace tessaro {

// Applies the limits (as soft limits, which the parent may raise with prlimit up to the hard ones
// inherited; the filter keeps the child itself from changing them) and the system-call filter to
// the calling process (all its threads must be created after this). False when the filter cannot
// be installed; the caller must then not decode.
bool ConfineDecoder(const DecoderLimits& limits);

// Builds the system-call filter once, ahead of the children that install it (call it before
// forking; ConfineDecoder would otherwise build it in every child).
void PrepareDecoderFilter();

// Sets the soft limits of a confined child from its parent.
bool SetDecoderLimits(int pid, const DecoderLimits& limits);

}  // namespace tessaro
