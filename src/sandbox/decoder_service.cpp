#include "sandbox/decoder_service.h"

#include <algorithm>
#include <memory>
#include <optional>

#include "decode/decode_service.h"

namespace tessaro {

DecoderReply AnswerRequest(const DecoderRequest& request, const std::vector<UniqueFd>& tiles,
                           UniqueFd canvasFd, FillMeter* meter, std::string_view mode) {
    DecoderReply reply{};
    if (request.op == DecoderOp::measure && request.index < tiles.size()) {
        const std::optional<TileSize> size = MeasureTile(tiles[request.index].get());
        reply.ok = size.has_value();
        if (size) reply.size = *size;
    } else if (request.op == DecoderOp::fill && canvasFd) {
        const std::unique_ptr<FillMeter> pausing = PausingMeterForTestMode(mode, meter);
        reply.outcome = FillMosaic(tiles, request.layout, std::move(canvasFd),
                                   pausing ? pausing.get() : meter);
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
