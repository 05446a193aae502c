#include "tiff_by_path.h"

#include <tiffio.h>

#include <cstdint>
#include <utility>

#include "os/file_io.h"
#include "tiff/tiff_file.h"

namespace tessaro {

std::optional<TileSize> TIFFWH(const std::string& path) {
    const UniqueFd fd = OpenToRead(path);  // a FIFO opens at once; the reader turns it away
    if (!fd) return std::nullopt;
    return TIFFWH(fd.get());
}

ReadOutcome ReadTileBands(const std::string& path, TileSize expected, const BandSink& sink) {
    const UniqueFd fd = OpenToRead(path);
    if (!fd) return ReadOutcome::failed;
    return ReadTileBands(fd.get(), expected, sink);
}

ReadOutcome tiff_detail::ReadTileBandsTuned(const std::string& path, TileSize expected,
                                            const BandSink& sink, const BandTuning& tuning,
                                            BandPath* taken) {
    const UniqueFd fd = OpenToRead(path);
    if (!fd) {
        if (taken) *taken = BandPath::none;
        return ReadOutcome::failed;
    }
    return ReadTileBandsTuned(fd.get(), expected, sink, tuning, taken);
}

std::optional<TilePixels> ReadData(const std::string& path) {
    const UniqueFd fd = OpenToRead(path);
    tiff_detail::TiffFile file;
    TileSize size;
    if (!fd || !file.Open(fd.get(), path) || !tiff_detail::Measure(file, &size) ||
        !file.PrepareToDecode())
        return std::nullopt;

    // 64-bit all the way: each side is below 2^31, so 4 x width x height fits in 64 bits.
    const uint64_t pixels = static_cast<uint64_t>(size.width) * static_cast<uint64_t>(size.height);
    if (pixels > SIZE_MAX / 4) return std::nullopt;
    PixelBuffer raster = PixelBuffer::Allocate(static_cast<std::size_t>(pixels * 4));
    if (!raster) return std::nullopt;

    if (!TIFFReadRGBAImageOriented(file.get(), static_cast<uint32_t>(size.width),
                                   static_cast<uint32_t>(size.height),
                                   reinterpret_cast<uint32_t*>(raster.data()),
                                   ORIENTATION_BOTLEFT, /*stop on error*/ 1) ||
        file.errorSeen())
        return std::nullopt;

    tiff_detail::RasterToBgrInPlace(raster.data(), static_cast<std::size_t>(pixels));
    raster.ShrinkTo(static_cast<std::size_t>(pixels * 3));
    return TilePixels{size, std::move(raster)};
}

}  // namespace tessaro
