#include "decode/canvas_fill.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <span>

#include "decode/band_handoff.h"
#include "decode/canvas_fill_internal.h"
#include "decode/fill_meter.h"
#include "os/thread.h"
#include "tiff/pixel_buffer.h"

namespace tessaro {

namespace {

// Whole mosaic rows of a large mosaic (see FillTuning::stagedMosaicBytes) are assembled in a
// staging buffer of this size and written from there: the kernel copies a gathered write's many
// pieces markedly slower than one block (for 4096-pixel tiles, about 3.5 times as long), which
// costs more than the copy. A small mosaic's rows are written from where the bands lie, which
// spares its decoding child the staging buffer's fresh pages.
constexpr std::size_t kStagingBytes = std::size_t{1} << 20;

class CanvasWriter {
public:
    CanvasWriter(const TileLayout& layout, BmpFile& canvas, uint64_t stagedMosaicBytes, FillMeter* meter)
        : canvas_(canvas),
          stride_(BmpStride(layout.canvasWidth)),
          pixelBytes_(3 * static_cast<std::size_t>(layout.canvasWidth)),
          stagingRows_(std::clamp<std::size_t>(kStagingBytes / stride_, 1, layout.canvasHeight)),
          meter_(meter) {
        if (BmpImageSize(layout.canvasWidth, layout.canvasHeight) >= stagedMosaicBytes) {
            staging_ = PixelBuffer::Allocate(std::max<std::size_t>(kStagingBytes, stride_));
            // Rows are copied in whole; only each row's padding must be set, and it stays 0.
            if (staging_ && stride_ > pixelBytes_)
                for (std::size_t row = 0; row < stagingRows_; ++row)
                    std::memset(staging_.data() + row * stride_ + pixelBytes_, 0, stride_ - pixelBytes_);
        }
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

    // The same rows of a left and a right tile: whole mosaic rows, many rows a write.
    bool WriteBandPair(const TilePlacement& left, const TileBand& leftBand, const TileBand& rightBand) {
        return staging_ ? WriteStaged(left, leftBand, rightBand) : WriteGathered(left, leftBand, rightBand);
    }

private:
    // Each row copied from its two halves into the staging buffer, which is written in one piece.
    bool WriteStaged(const TilePlacement& left, const TileBand& leftBand, const TileBand& rightBand) {
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

    // Each row written from its two halves (and its padding) where they lie, in one gathered write.
    bool WriteGathered(const TilePlacement& left, const TileBand& leftBand, const TileBand& rightBand) {
        static constexpr uint8_t kPadding[3] = {};
        const std::size_t leftBytes = 3 * static_cast<std::size_t>(left.width);
        const std::size_t rightBytes = pixelBytes_ - leftBytes;
        const std::size_t padding = static_cast<std::size_t>(stride_) - pixelBytes_;
        const int32_t rowsAWrite = static_cast<int32_t>(kMaxBmpPieces / 3);
        std::array<BmpPiece, kMaxBmpPieces> pieces;
        for (int32_t first = 0; first < leftBand.rowCount; first += rowsAWrite) {
            const int32_t rows = std::min(rowsAWrite, leftBand.rowCount - first);
            std::size_t count = 0;
            for (int32_t i = first; i < first + rows; ++i) {
                pieces[count++] = {leftBand.data + static_cast<std::size_t>(i) * leftBytes, leftBytes};
                pieces[count++] = {rightBand.data + static_cast<std::size_t>(i) * rightBytes, rightBytes};
                if (padding > 0) pieces[count++] = {kPadding, padding};
            }
            if (!WriteBmpPixels(canvas_, RowOffset(left, leftBand.firstRow + first),
                                std::span<const BmpPiece>(pieces.data(), count)))
                return false;
            if (meter_) meter_->Add(pixelBytes_ * static_cast<uint64_t>(rows));
        }
        return true;
    }

    uint64_t RowOffset(const TilePlacement& place, int32_t tileRow) const {
        return (static_cast<uint64_t>(place.firstRow) + static_cast<uint64_t>(tileRow)) * stride_;
    }

    BmpFile& canvas_;
    const uint64_t stride_;
    const std::size_t pixelBytes_;
    const std::size_t stagingRows_;
    PixelBuffer staging_;  // empty for a small mosaic
    FillMeter* const meter_;
};

struct TileJob {
    int fd;
    TileSize size;
    BandHandoff* handoff;
};

void DecodeTile(void* arg) {
    TileJob& job = *static_cast<TileJob*>(arg);
    BandHandoff& handoff = *job.handoff;
    handoff.Finish(ReadTileBands(job.fd, job.size, [&](const TileBand& band) { return handoff.Offer(band); }));
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

// A small left tile decoded whole into memory, then the right tile beside it band by band, each
// band written as whole mosaic rows with the left tile's rows beside it.
PairOutcome FillSmallPair(CanvasWriter& writer, int leftTile, const TilePlacement& left,
                          int rightTile, const TilePlacement& right) {
    const std::size_t leftRowBytes = 3 * static_cast<std::size_t>(left.width);
    PixelBuffer whole = PixelBuffer::Allocate(leftRowBytes * static_cast<std::size_t>(left.size().height));
    if (!whole) return {true, false};
    const ReadOutcome leftRead = ReadTileBands(leftTile, left.size(), [&](const TileBand& band) {
        std::memcpy(whole.data() + static_cast<std::size_t>(band.firstRow) * leftRowBytes, band.data,
                    static_cast<std::size_t>(band.rowCount) * leftRowBytes);
        return true;
    });
    if (leftRead != ReadOutcome::ok) return {true, false};
    const ReadOutcome rightRead = ReadTileBands(rightTile, right.size(), [&](const TileBand& band) {
        const TileBand leftBand{band.firstRow, band.rowCount,
                                whole.data() + static_cast<std::size_t>(band.firstRow) * leftRowBytes};
        return writer.WriteBandPair(left, leftBand, band);
    });
    switch (rightRead) {
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
    WorkThread decoder;
    if (!decoder.Start(DecodeTile, &job)) {
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
            written = writer.WriteBandPair(left, leftBand, *rightBand);
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
    decoder.Join();
    if (handoff.outcome() == ReadOutcome::failed) outcome.readFailed = true;
    return outcome;
}

}  // namespace

namespace canvas_detail {

FillOutcome FillCanvasTuned(const std::vector<UniqueFd>& tiles, const TileLayout& layout,
                            BmpFile& canvas, const FillTuning& tuning, FillMeter* meter) {
    CanvasWriter writer(layout, canvas, tuning.stagedMosaicBytes, meter);
    const int32_t rows = layout.tileCount / 2;
    for (int32_t tile = 0; tile < rows; ++tile) {
        const TilePlacement left = PlaceTile(layout, tile);
        const TilePlacement right = PlaceTile(layout, tile + rows);
        const bool small = 3 * static_cast<uint64_t>(left.width) *
                               static_cast<uint64_t>(left.size().height) <= tuning.smallTileBytes;
        const PairOutcome outcome =
            (small ? FillSmallPair : FillTilePair)(writer, tiles[tile].get(), left, tiles[tile + rows].get(), right);
        if (outcome.readFailed) return FillOutcome::readFailed;
        if (outcome.writeFailed) return FillOutcome::writeFailed;
    }
    return FillOutcome::filled;
}

}  // namespace canvas_detail

FillOutcome FillCanvas(const std::vector<UniqueFd>& tiles, const TileLayout& layout, BmpFile& canvas,
                       FillMeter* meter) {
    return canvas_detail::FillCanvasTuned(tiles, layout, canvas, canvas_detail::FillTuning{}, meter);
}

}  // namespace tessaro
