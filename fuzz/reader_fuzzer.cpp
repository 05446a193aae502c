// libFuzzer target for the TIFF reader, driven the way tessaro drives it.
//
// Each input is written to an in-memory file (a memfd, opened again by its /proc/self/fd path, so
// the reader's open/fstat/read path is the real one) and then:
//   1. TIFFWH(path), the size query the tile scan makes;
//   2. if the tile measures and is at most kMaxBandPixels (the tool turns away mosaics far larger
//      than that before it reads a pixel), ReadTileBands(path, size, sink) with a sink that reads
//      every byte of every band (so ASan sees a band that is shorter than it claims) and checks
//      that the bands cover every row exactly once;
//   3. for tiles of at most kMaxReferencePixels, ReadData(path), the whole-picture reference,
//      and the band read again through the RGBA interface alone and in one-strip bands; every
//      band read that succeeds must equal the reference byte for byte when the reference succeeds.
// A broken promise aborts, which libFuzzer reports as a crash.
//
// Knobs (environment):
//   TESSARO_FUZZ_STRICT=1  also abort when a band read succeeds where the reference fails: the
//                          band reader then accepted a file whose pixels libtiff's whole-picture
//                          read calls broken. Off by default, because the two may legitimately
//                          differ on which damage they notice (the reference reads every strip
//                          of the picture in one go and so on), but useful to look for a band
//                          reader that papers over damage.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tiff/tiff_reader.h"
#include "tiff/tiff_reader_internal.h"
#include "tiff_by_path.h"

namespace {

using tessaro::ReadOutcome;
using tessaro::TileBand;
using tessaro::TileSize;

// The band read's limit: 16 M pixels (a 48 MiB band buffer at most, 64 MiB through the RGBA
// interface); the reference read and the extra band routes stop at 1 M pixels.
constexpr uint64_t kMaxBandPixels = uint64_t{16} << 20;
constexpr uint64_t kMaxReferencePixels = uint64_t{1} << 20;

int g_fd = -1;
std::string g_path;
bool g_strict = false;

[[noreturn]] void Fail(const char* what, TileSize size) {
    std::fprintf(stderr, "reader_fuzzer: %s (tile %d x %d)\n", what, size.width, size.height);
    std::abort();
}

// Collects the bands of one read, checks their row numbers and, when `keep` is set, assembles
// the picture for comparison.
class BandCheck {
public:
    BandCheck(TileSize size, bool keep)
        : size_(size), rowBytes_(std::size_t{3} * static_cast<std::size_t>(size.width)),
          seen_(static_cast<std::size_t>(size.height), false) {
        if (keep) picture_.resize(rowBytes_ * static_cast<std::size_t>(size.height));
    }

    bool operator()(const TileBand& band) {
        if (band.data == nullptr) Fail("band without data", size_);
        if (band.rowCount <= 0) Fail("band of no rows", size_);
        if (band.firstRow < 0 || band.firstRow > size_.height - band.rowCount)
            Fail("band outside the tile", size_);
        for (int32_t r = band.firstRow; r < band.firstRow + band.rowCount; ++r) {
            if (seen_[static_cast<std::size_t>(r)]) Fail("row delivered twice", size_);
            seen_[static_cast<std::size_t>(r)] = true;
        }
        ++bands_;
        const std::size_t bytes = rowBytes_ * static_cast<std::size_t>(band.rowCount);
        if (!picture_.empty()) {
            // memcpy is checked by ASan over the whole source range.
            std::memcpy(picture_.data() + rowBytes_ * static_cast<std::size_t>(band.firstRow),
                        band.data, bytes);
        } else {
            // Read every byte through instrumented code.
            unsigned sum = 0;
            for (std::size_t i = 0; i < bytes; ++i) sum += band.data[i];
            checksum_ = checksum_ + sum;
        }
        return true;
    }

    bool AllRowsSeen() const {
        for (bool s : seen_)
            if (!s) return false;
        return true;
    }
    const std::vector<uint8_t>& picture() const { return picture_; }
    unsigned bands() const { return bands_; }

private:
    TileSize size_;
    std::size_t rowBytes_;
    std::vector<bool> seen_;
    std::vector<uint8_t> picture_;
    unsigned bands_ = 0;
    volatile unsigned checksum_ = 0;
};

// One band read; returns the picture (empty when the read failed or `keep` is off).
std::vector<uint8_t> BandRead(TileSize size, bool keep, const tessaro::tiff_detail::BandTuning* tuning) {
    BandCheck check(size, keep);
    const tessaro::BandSink sink = [&check](const TileBand& band) { return check(band); };
    const ReadOutcome outcome =
        tuning ? tessaro::tiff_detail::ReadTileBandsTuned(g_path, size, sink, *tuning)
               : tessaro::ReadTileBands(g_path, size, sink);
    switch (outcome) {
        case ReadOutcome::ok:
            if (!check.AllRowsSeen()) Fail("read succeeded without delivering every row", size);
            return keep ? check.picture() : std::vector<uint8_t>{0};
        case ReadOutcome::sinkStopped:
            Fail("read reports a stop the sink never asked for", size);
        case ReadOutcome::failed:
            return {};
    }
    Fail("unknown read outcome", size);
}

void Compare(const std::vector<uint8_t>& got, const tessaro::TilePixels& reference,
             const char* route) {
    const std::size_t bytes = std::size_t{3} * static_cast<std::size_t>(reference.size.width) *
                              static_cast<std::size_t>(reference.size.height);
    if (got.size() != bytes || std::memcmp(got.data(), reference.bytes.data(), bytes) != 0) {
        std::fprintf(stderr, "reader_fuzzer: %s differs from the reference\n", route);
        Fail("band read and reference disagree", reference.size);
    }
}

bool WriteInput(const uint8_t* data, std::size_t size) {
    if (ftruncate(g_fd, 0) != 0) return false;
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = pwrite(g_fd, data + done, size - done, static_cast<off_t>(done));
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_fd = memfd_create("tessaro-reader-fuzz", MFD_CLOEXEC);
    if (g_fd < 0) {
        std::perror("memfd_create");
        std::abort();
    }
    g_path = "/proc/self/fd/" + std::to_string(g_fd);
    const char* strict = std::getenv("TESSARO_FUZZ_STRICT");
    g_strict = strict != nullptr && std::strcmp(strict, "1") == 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (!WriteInput(data, size)) {
        std::perror("reader_fuzzer: writing the input");
        std::abort();
    }
    const std::optional<TileSize> measured = tessaro::TIFFWH(g_path);
    if (!measured) return 0;
    const TileSize tile = *measured;
    if (tile.width <= 0 || tile.height <= 0) Fail("size query returned a non-positive side", tile);
    const uint64_t pixels = static_cast<uint64_t>(tile.width) * static_cast<uint64_t>(tile.height);
    if (pixels > kMaxBandPixels) return 0;

    // The size query must answer the same when asked again (the mosaic relies on it).
    const std::optional<TileSize> again = tessaro::TIFFWH(g_path);
    if (!again || *again != tile) Fail("size query is not repeatable", tile);

    const bool small = pixels <= kMaxReferencePixels;
    const std::vector<uint8_t> production = BandRead(tile, small, nullptr);

    // A read that expects another size must fail without delivering anything.
    {
        TileSize other = tile;
        other.height = tile.height == 1 ? 2 : tile.height - 1;
        bool delivered = false;
        const ReadOutcome outcome = tessaro::ReadTileBands(
            g_path, other, [&delivered](const TileBand&) { return delivered = true; });
        if (outcome != ReadOutcome::failed || delivered)
            Fail("read of the wrong size did not fail cleanly", tile);
    }
    if (!small) return 0;

    // Both routes in the smallest bands (one strip or one row of tiles each; through the RGBA
    // interface strips go a row at a time).
    tessaro::tiff_detail::BandTuning direct;
    direct.bandBytes = 1;
    direct.maxStripBytes = std::size_t{1} << 10;  // large strips go scanline by scanline
    tessaro::tiff_detail::BandTuning rgba = direct;
    rgba.allowDirect = false;
    direct.maxTileRowBytes = std::size_t{64} << 10;  // wide rows of tiles in thinner bands
    const std::vector<uint8_t> narrow = BandRead(tile, true, &direct);
    const std::vector<uint8_t> viaRgba = BandRead(tile, true, &rgba);

    const std::optional<tessaro::TilePixels> reference = tessaro::ReadData(g_path);
    if (!reference) {
        if (g_strict && (!production.empty() || !narrow.empty() || !viaRgba.empty()))
            Fail("band read succeeded where the reference failed", tile);
        return 0;
    }
    if (reference->size != tile) Fail("reference read measured another size", tile);
    if (!production.empty()) Compare(production, *reference, "ReadTileBands");
    if (!narrow.empty()) Compare(narrow, *reference, "one-strip bands");
    if (!viaRgba.empty()) Compare(viaRgba, *reference, "RGBA interface bands");
    return 0;
}
