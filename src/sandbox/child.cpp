#include "sandbox/child.h"

#include <memory>
#include <optional>

#include "decode/canvas_fill.h"
#include "decode/decode_service.h"
#include "mosaic/tile_layout.h"
#include "sandbox/test_modes.h"

namespace tessaro {

namespace {

TileLayout LayoutFromWire(const WireLayout& wire) {
    TileLayout layout;
    layout.tileCount = wire.tileCount;
    layout.canvasWidth = wire.canvasWidth;
    layout.canvasHeight = wire.canvasHeight;
    layout.leftWidth = wire.leftWidth;
    layout.bottomHeight = wire.bottomHeight;
    layout.topRow = wire.topRow;
    return layout;
}

WireFill OutcomeToWire(FillOutcome outcome) {
    switch (outcome) {
        case FillOutcome::filled: return WireFill::filled;
        case FillOutcome::readFailed: return WireFill::readFailed;
        case FillOutcome::writeFailed: return WireFill::writeFailed;
    }
    return WireFill::readFailed;
}

}  // namespace

DecoderReply AnswerRequest(const DecoderRequest& request, const std::vector<UniqueFd>& tiles,
                           UniqueFd canvasFd, FillMeter* meter, std::string_view mode) {
    DecoderReply reply{};
    if (request.op == DecoderOp::measure && request.index < tiles.size()) {
        const std::optional<TileSize> size = MeasureTile(tiles[request.index].get());
        reply.ok = size.has_value();
        if (size) reply.size = {size->width, size->height};
    } else if (request.op == DecoderOp::fill && canvasFd) {
        const std::unique_ptr<FillMeter> pausing = PausingMeterForTestMode(mode, meter);
        const FillOutcome outcome = FillMosaic(tiles, LayoutFromWire(request.layout),
                                               std::move(canvasFd), pausing ? pausing.get() : meter);
        reply.outcome = OutcomeToWire(outcome);
        reply.ok = 1;
    }
    return reply;
}

}  // namespace tessaro
