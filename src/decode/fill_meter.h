// The meter a mosaic fill reports its progress to, for whoever shows it. The fill is handed one
// (or none) by its caller; when there is none, it costs a pointer test per band. A meter only
// counts bytes; reading clocks and drawing are its owner's business.
#pragma once

#include <cstdint>

namespace tessaro {

class FillMeter {
public:
    virtual ~FillMeter() = default;
    // A mosaic of this many pixel bytes (row padding not counted) is about to be filled.
    virtual void Begin(uint64_t mosaicBytes) = 0;
    // This many more of its pixel bytes have been written.
    virtual void Add(uint64_t bytes) = 0;
};

}  // namespace tessaro
