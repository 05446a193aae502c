#include "decoder/decoder_service.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>

#include "bmp/bmp_file.h"
#include "tiff/tiff_reader.h"

namespace tessaro {

namespace {

// The child's fill meter: counts into the page it shares with its parent.
class SharedMeter final : public FillMeter {
public:
    SharedMeter(DecoderChild::FillShare* share, bool slow) : share_(share), slow_(slow) {}
    void Begin(uint64_t mosaicBytes) override { share_->mosaicBytes.store(mosaicBytes); }
    void Add(uint64_t bytes) override {
        share_->written.fetch_add(bytes, std::memory_order_relaxed);
        if (slow_) std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }

private:
    DecoderChild::FillShare* share_;
    bool slow_;
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
                           UniqueFd canvasFd, DecoderChild::FillShare* share,
                           std::string_view mode) {
    DecoderReply reply{};
    if (request.op == DecoderOp::measure && request.index < tiles.size()) {
        const std::optional<TileSize> size = TIFFWH(tiles[request.index].get());
        reply.ok = size.has_value();
        if (size) reply.size = *size;
    } else if (request.op == DecoderOp::fill && canvasFd) {
        BmpFile canvas;
        canvas.fd = std::move(canvasFd);
        canvas.width = request.layout.canvasWidth;
        canvas.height = request.layout.canvasHeight;
        SharedMeter meter(share, mode == "slow");
        const FillMeterScope scope(&meter);
        reply.outcome = FillCanvas(tiles, request.layout, canvas);
        reply.ok = 1;
    }
    return reply;
}

void RelayFill(const DecoderChild::FillShare& share, FillMeter* meter, bool* begun,
               uint64_t* reported) {
    const uint64_t total = share.mosaicBytes.load();
    if (meter == nullptr || total == 0) return;
    if (!*begun) meter->Begin(total);
    *begun = true;
    const uint64_t written = std::min(share.written.load(), total);
    if (written > *reported) meter->Add(written - *reported);
    *reported = std::max(written, *reported);
}

}  // namespace tessaro
