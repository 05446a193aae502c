// Confinement of the decoding child: once confined, a process can read and write the descriptors
// it holds, allocate memory and run threads, and nothing else. It cannot open a file, run a
// program, make a socket or signal another process; its memory and processor time are capped and
// it leaves no core dump.
#pragma once

#include <cstdint>

namespace tessaro {

struct DecoderLimits {
    uint64_t addressSpaceBytes = 0;  // RLIMIT_AS; 0 for none
    uint64_t cpuSeconds = 0;         // RLIMIT_CPU; 0 for none
};

// The limits for a group of `pixels` pixels in all (the sum of its tiles' areas, or an estimate
// before they are measured): 1 GiB of address space plus 8 bytes a pixel, and 60 s of processor
// time plus 1 s for every 4 million pixels. Decoding costs far less; the limits only stop a
// runaway decoder.
DecoderLimits LimitsForPixels(uint64_t pixels);

// While tiles are only measured: no size is known yet, and measuring needs little.
inline constexpr DecoderLimits kMeasuringLimits{uint64_t{1} << 30, 60};

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
