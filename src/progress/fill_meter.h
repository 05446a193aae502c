// The meter a mosaic fill reports its progress to, for whoever shows it. The caller installs one
// for a stretch of work on its thread with FillMeterScope; the fill looks it up once and, when
// there is none, costs a pointer test per band. A meter only counts bytes; reading clocks and
// drawing are its owner's business.
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

// The meter installed on the calling thread, or null.
FillMeter* CurrentFillMeter();

// Installs a meter on the calling thread for its lifetime (null installs none), then restores
// the one before.
class FillMeterScope {
public:
    explicit FillMeterScope(FillMeter* meter);
    ~FillMeterScope();
    FillMeterScope(const FillMeterScope&) = delete;
    FillMeterScope& operator=(const FillMeterScope&) = delete;

private:
    FillMeter* previous_;
};

}  // namespace tessaro
