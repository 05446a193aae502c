#include "mosaic/canvas_fill.h"

#include <pthread.h>

#include <algorithm>
#include <cstring>

#include "mosaic/band_handoff.h"
#include "progress/fill_meter.h"
#include "tiff/pixel_buffer.h"

namespace tessaro {

namespace {

// Whole mosaic rows are assembled here before they are written, up to this many bytes at once.
constexpr std::size_t kStagingBytes = std::size_t{1024} << 10;

class CanvasWriter {
public:
    CanvasWriter(const TileLayout& layout, BmpFile& canvas)
        : canvas_(canvas),
          stride_(BmpStride(layout.canvasWidth)),
          pixelBytes_(3 * static_cast<std::size_t>(layout.canvasWidth)),
          stagingRows_(std::clamp<std::size_t>(kStagingBytes / stride_, 1, layout.canvasHeight)),
          staging_(PixelBuffer::Allocate(stagingRows_ * stride_)),
          meter_(CurrentFillMeter()) {
        // Rows are copied in whole; only each row's padding must be set, and it stays 0.
        if (staging_ && stride_ > pixelBytes_)
            for (std::size_t row = 0; row < stagingRows_; ++row)
                std::memset(staging_.data() + row * stride_ + pixelBytes_, 0, stride_ - pixelBytes_);
        if (meter_) meter_->Begin(pixelBytes_ * static_cast<uint64_t>(layout.canvasHeight));
    }

    // One tile's band: a write per row, since the other column's rows sit between them.
    bool WriteBand(const TilePlacement& place, const TileBand& band) {
        const std::size_t rowBytes = 3 * static_cast<std::size_t>(place.width);
        for (int32_t i = 0; i < band.rowCount; ++i)
            if (!WriteBmpPixels(canvas_, RowOffset(place, band.firstRow + i) + 3 * uint64_t(place.column),
                                band.data + i * rowBytes, rowBytes))
                return false;
        if (meter_) meter_->Add(rowBytes * static_cast<uint64_t>(band.rowCount));
        return true;
    }

    // The same rows of a left and a right tile: whole mosaic rows, written in large pieces.
    bool WriteBandPair(const TilePlacement& left, const TileBand& leftBand,
                       const TilePlacement& right, const TileBand& rightBand) {
        if (!staging_) return WriteBand(left, leftBand) && WriteBand(right, rightBand);
        const std::size_t leftBytes = 3 * static_cast<std::size_t>(left.width);
        const std::size_t rightBytes = pixelBytes_ - leftBytes;
        for (int32_t first = 0; first < leftBand.rowCount;) {
            const int32_t rows = static_cast<int32_t>(
                std::min<std::size_t>(stagingRows_, static_cast<std::size_t>(leftBand.rowCount - first)));
            for (int32_t i = 0; i < rows; ++i) {
                uint8_t* row = staging_.data() + static_cast<std::size_t>(i) * stride_;
                std::memcpy(row, leftBand.data + static_cast<std::size_t>(first + i) * leftBytes, leftBytes);
                std::memcpy(row + leftBytes,
                            rightBand.data + static_cast<std::size_t>(first + i) * rightBytes, rightBytes);
            }
            if (!WriteBmpPixels(canvas_, RowOffset(left, leftBand.firstRow + first), staging_.data(),
                                static_cast<std::size_t>(rows) * stride_))
                return false;
            if (meter_) meter_->Add(pixelBytes_ * static_cast<uint64_t>(rows));
            first += rows;
        }
        return true;
    }

private:
    uint64_t RowOffset(const TilePlacement& place, int32_t tileRow) const {
        return (static_cast<uint64_t>(place.firstRow) + static_cast<uint64_t>(tileRow)) * stride_;
    }

    BmpFile& canvas_;
    const uint64_t stride_;
    const std::size_t pixelBytes_;
    const std::size_t stagingRows_;
    PixelBuffer staging_;
    FillMeter* const meter_;
};

struct TileJob {
    int fd;
    TileSize size;
    BandHandoff* handoff;
};

void* DecodeTile(void* arg) {
    TileJob& job = *static_cast<TileJob*>(arg);
    BandHandoff& handoff = *job.handoff;
    handoff.Finish(ReadTileBands(job.fd, job.size, [&](const TileBand& band) { return handoff.Offer(band); }));
    return nullptr;
}

struct PairOutcome {
    bool readFailed = false;
    bool writeFailed = false;
};

// One tile on its own: decoded here, written row by row.
PairOutcome FillTile(CanvasWriter& writer, int tile, const TilePlacement& place) {
    switch (ReadTileBands(tile, place.size(), [&](const TileBand& band) { return writer.WriteBand(place, band); })) {
        case ReadOutcome::ok: return {};
        case ReadOutcome::sinkStopped: return {false, true};
        case ReadOutcome::failed: return {true, false};
    }
    return {true, false};
}

// A left tile and the right tile beside it, decoded at the same time: the right one on a thread
// of its own, handing its bands over. Where the two bands cover the same rows (tiles stored
// alike), they are written as whole mosaic rows; otherwise each band is written row by row.
PairOutcome FillTilePair(CanvasWriter& writer, int leftTile, const TilePlacement& left,
                         int rightTile, const TilePlacement& right) {
    BandHandoff handoff;
    TileJob job{rightTile, right.size(), &handoff};
    pthread_t decoder;
    if (pthread_create(&decoder, nullptr, DecodeTile, &job) != 0) {
        PairOutcome first = FillTile(writer, leftTile, left);
        return first.readFailed || first.writeFailed ? first : FillTile(writer, rightTile, right);
    }
    PairOutcome outcome;
    bool rightFinished = false;
    auto nextRightBand = [&]() -> const TileBand* {
        const TileBand* band = rightFinished ? nullptr : handoff.Wait();
        rightFinished = band == nullptr;
        if (rightFinished && handoff.outcome() == ReadOutcome::failed) outcome.readFailed = true;
        return band;
    };
    const ReadOutcome leftRead = ReadTileBands(leftTile, left.size(), [&](const TileBand& leftBand) {
        const TileBand* rightBand = nextRightBand();
        if (outcome.readFailed) return false;
        bool written;
        if (rightBand && rightBand->firstRow == leftBand.firstRow && rightBand->rowCount == leftBand.rowCount)
            written = writer.WriteBandPair(left, leftBand, right, *rightBand);
        else
            written = writer.WriteBand(left, leftBand) && (!rightBand || writer.WriteBand(right, *rightBand));
        if (rightBand) handoff.Done();
        outcome.writeFailed = !written;
        return written;
    });
    if (leftRead == ReadOutcome::failed) outcome.readFailed = true;
    // The rest of the right tile's bands, if it has more than the left one had.
    while (!outcome.readFailed && !outcome.writeFailed && leftRead == ReadOutcome::ok) {
        const TileBand* rightBand = nextRightBand();
        if (!rightBand) break;
        outcome.writeFailed = !writer.WriteBand(right, *rightBand);
        handoff.Done();
    }
    handoff.Stop();
    pthread_join(decoder, nullptr);
    if (handoff.outcome() == ReadOutcome::failed) outcome.readFailed = true;
    return outcome;
}

}  // namespace

FillOutcome FillCanvas(const std::vector<UniqueFd>& tiles, const TileLayout& layout, BmpFile& canvas) {
    CanvasWriter writer(layout, canvas);
    const int32_t rows = layout.tileCount / 2;
    for (int32_t tile = 0; tile < rows; ++tile) {
        const PairOutcome outcome = FillTilePair(writer, tiles[tile].get(), PlaceTile(layout, tile),
                                                 tiles[tile + rows].get(), PlaceTile(layout, tile + rows));
        if (outcome.readFailed) return FillOutcome::readFailed;
        if (outcome.writeFailed) return FillOutcome::writeFailed;
    }
    return FillOutcome::filled;
}

}  // namespace tessaro
