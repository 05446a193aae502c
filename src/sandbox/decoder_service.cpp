#include "sandbox/decoder_service.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>

#include "decode/decode_service.h"

namespace tessaro {

namespace {

// The fill meter of the test mode "slow": passes everything on, and pauses after each band.
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
    const char* mode = std::getenv("TESSARO_TEST_DECODER");
    return mode == nullptr ? std::string_view() : mode;
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

DecoderReply AnswerRequest(const DecoderRequest& request, const std::vector<UniqueFd>& tiles,
                           UniqueFd canvasFd, FillMeter* meter, std::string_view mode) {
    DecoderReply reply{};
    if (request.op == DecoderOp::measure && request.index < tiles.size()) {
        const std::optional<TileSize> size = MeasureTile(tiles[request.index].get());
        reply.ok = size.has_value();
        if (size) reply.size = *size;
    } else if (request.op == DecoderOp::fill && canvasFd) {
        PausingMeter pausing(meter);
        reply.outcome = FillMosaic(tiles, request.layout, std::move(canvasFd),
                                   mode == "slow" ? &pausing : meter);
        reply.ok = 1;
    }
    return reply;
}

void RelayFill(uint64_t mosaicBytes, uint64_t written, FillMeter* meter, bool* begun,
               uint64_t* reported) {
    if (meter == nullptr || mosaicBytes == 0) return;
    if (!*begun) meter->Begin(mosaicBytes);
    *begun = true;
    written = std::min(written, mosaicBytes);
    if (written > *reported) meter->Add(written - *reported);
    *reported = std::max(written, *reported);
}

}  // namespace tessaro
