#include "mosaic/canvas_fill.h"

#include "app/console.h"

namespace tessaro {

FillOutcome FillCanvas(const TileGroup& group, const TileLayout& layout, BmpFile& canvas) {
    const uint64_t stride = BmpStride(layout.canvasWidth);
    for (int32_t tile = 0; tile < layout.tileCount; ++tile) {
        const TilePlacement place = PlaceTile(layout, tile);
        const std::size_t rowBytes = 3 * static_cast<std::size_t>(place.width);
        const uint64_t columnOffset = 3 * static_cast<uint64_t>(place.column);
        auto writeBand = [&](const TileBand& band) {
            for (int32_t i = 0; i < band.rowCount; ++i) {
                const uint64_t canvasRow = static_cast<uint64_t>(place.firstRow) + band.firstRow + i;
                if (!WriteBmpPixels(canvas, canvasRow * stride + columnOffset,
                                    band.data + i * rowBytes, rowBytes))
                    return false;
            }
            return true;
        };
        switch (ReadTileBands(group[tile], place.size(), writeBand)) {
            case ReadOutcome::ok: break;
            case ReadOutcome::sinkStopped: return FillOutcome::writeFailed;
            case ReadOutcome::failed:
                PrintText("拼接失败! 读取tif文件时,内存申请失败!\n");
                return FillOutcome::readFailed;
        }
    }
    return FillOutcome::filled;
}

}  // namespace tessaro
