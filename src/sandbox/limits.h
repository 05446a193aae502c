// What a decoding child may take, on every system: memory and processor time, and how long its
// parent waits for each of its replies.
#pragma once

#include <cstdint>

namespace tessaro {

struct DecoderLimits {
    uint64_t addressSpaceBytes = 0;  // address space (Linux), memory (Windows); 0 for none
    uint64_t cpuSeconds = 0;         // processor time; 0 for none
};

// The limits for a group of `pixels` pixels in all (the sum of its tiles' areas, or an estimate
// before they are measured): 1 GiB of address space plus 8 bytes a pixel, and 60 s of processor
// time plus 1 s for every 4 million pixels. Decoding costs far less; the limits only stop a
// runaway decoder.
DecoderLimits LimitsForPixels(uint64_t pixels);

// While tiles are only measured: no size is known yet, and measuring needs little.
inline constexpr DecoderLimits kMeasuringLimits{uint64_t{1} << 30, 60};

// How long the parent waits for one reply from a child under `limits`: twice its processor time
// (it shares the machine), plus slack.
inline uint64_t ReplyTimeoutSeconds(const DecoderLimits& limits) {
    return 2 * limits.cpuSeconds + 30;
}

}  // namespace tessaro
