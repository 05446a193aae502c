#include "decode/decode_service.h"

#include "bmp/bmp_file.h"

namespace tessaro {

std::optional<TileSize> MeasureTile(int fd) { return TIFFWH(fd); }

FillOutcome FillMosaic(const std::vector<UniqueFd>& tiles, const TileLayout& layout,
                       UniqueFd canvasFd, FillMeter* meter) {
    BmpFile canvas;
    canvas.fd = std::move(canvasFd);
    canvas.width = layout.canvasWidth;
    canvas.height = layout.canvasHeight;
    return FillCanvas(tiles, layout, canvas, meter);
}

}  // namespace tessaro
