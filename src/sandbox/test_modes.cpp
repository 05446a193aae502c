#include "sandbox/test_modes.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "os/test_hooks.h"

namespace tessaro {

namespace {

class PausingMeter final : public FillMeter {
public:
    explicit PausingMeter(FillMeter* meter) : meter_(meter) {}
    void Begin(uint64_t mosaicBytes) override {
        if (meter_) meter_->Begin(mosaicBytes);
    }
    void Add(uint64_t bytes) override {
        if (meter_) meter_->Add(bytes);
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }

private:
    FillMeter* meter_;
};

}  // namespace

std::string_view DecoderTestMode() {
    return TestSetting(TestSwitch::decoderMode);
}

DecoderLimits LimitsForTestMode(const DecoderLimits& limits, std::string_view mode) {
    DecoderLimits applied = limits;
    if (mode == "spin") applied.cpuSeconds = 1;
    return applied;
}

void MisbehaveForTest(std::string_view mode) {
    if (mode == "crash") {
        volatile int* nowhere = nullptr;
        *nowhere = 1;  // a genuine access violation, as a decoder's bug would cause
    }
    if (mode == "abort") std::abort();
    if (mode == "spin") {
        std::atomic<uint64_t> spins{0};
        for (;;) spins.fetch_add(1, std::memory_order_relaxed);
    }
    if (mode == "hog") {
        for (std::size_t size = std::size_t{1} << 30;; size *= 2) {
            char* block = new char[size];  // ends with std::bad_alloc, and so abort()
            std::memset(block, 1, size);
        }
    }
}

std::unique_ptr<FillMeter> PausingMeterForTestMode(std::string_view mode, FillMeter* meter) {
    if (mode != "slow") return nullptr;
    return std::make_unique<PausingMeter>(meter);
}

}  // namespace tessaro
