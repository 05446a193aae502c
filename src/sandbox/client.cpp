#include "sandbox/client_internal.h"

#include <algorithm>

namespace tessaro {

DecoderRequest MeasureRequest(std::size_t index) {
    DecoderRequest request{};
    request.op = DecoderOp::measure;
    request.index = static_cast<uint32_t>(index);
    return request;
}

DecoderRequest FillRequest(const TileLayout& layout, bool reportProgress, uint64_t canvas) {
    DecoderRequest request{};
    request.op = DecoderOp::fill;
    request.reportProgress = reportProgress;
    request.layout = {layout.tileCount, layout.canvasWidth,  layout.canvasHeight,
                      layout.leftWidth, layout.bottomHeight, layout.topRow};
    request.canvas = canvas;
    return request;
}

std::optional<TileSize> MeasuredSize(const DecoderReply& reply) {
    if (!reply.ok) return std::nullopt;
    return TileSize{reply.size.width, reply.size.height};
}

FillOutcome FillResult(const DecoderReply& reply) {
    if (!reply.ok) return FillOutcome::readFailed;
    switch (reply.outcome) {
        case WireFill::filled: return FillOutcome::filled;
        case WireFill::readFailed: return FillOutcome::readFailed;
        case WireFill::writeFailed: return FillOutcome::writeFailed;
    }
    return FillOutcome::readFailed;
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
