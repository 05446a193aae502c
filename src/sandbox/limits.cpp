#include "sandbox/limits.h"

namespace tessaro {

DecoderLimits LimitsForPixels(uint64_t pixels) {
    return {(uint64_t{1} << 30) + 8 * pixels, 60 + pixels / 4000000};
}

}  // namespace tessaro
