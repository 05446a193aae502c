// A fill meter that counts what it is told, for the tests of whoever reports a fill's progress.
#pragma once

#include <cstdint>

#include "decode/fill_meter.h"

namespace tessaro::testing {

struct CountingMeter final : FillMeter {
    void Begin(uint64_t mosaicBytes) override {
        total += mosaicBytes;
        ++begins;
    }
    void Add(uint64_t bytes) override { written += bytes; }
    uint64_t total = 0;
    uint64_t written = 0;
    int begins = 0;
};

}  // namespace tessaro::testing
