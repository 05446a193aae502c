#include "tiff/tiff_reader.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdint>

#include "tiff/tiff_direct.h"
#include "tiff/tiff_file.h"
#include "tiff/tiff_reader_internal.h"
#include "tiff/tiff_rgba_rows.h"

namespace tessaro {
namespace tiff_detail {
namespace {

// Whether the RGBA interface converts a band that starts inside a row of tiles exactly as it
// converts those rows when it reads the row of tiles whole. Not for grey of 16 bits or with an
// alpha sample: libtiff 4.5's put routines for those step over the unused part of a clipped
// tile's rows by a miscounted amount, so its rows depend on where the band started.
bool SplitsTileRowsExactly(const TIFFRGBAImage& img) {
    const bool grey = img.photometric == PHOTOMETRIC_MINISBLACK ||
                      img.photometric == PHOTOMETRIC_MINISWHITE;
    return !(grey && (img.bitspersample == 16 || img.samplesperpixel > 1));
}

// The RGBA interface band by band, for what the row route (tiff_rgba_rows.h) does not take:
// tiles and subsampled YCbCr. Each band is a run of whole strips (or rows of tiles): the interface
// is asked for exactly those stored rows (row_offset counts stored rows from the file's first
// row), so it reads and converts every strip exactly as it would for the whole picture. A row of
// tiles whose raster would pass tuning.maxTileRowBytes goes in thinner bands instead, each of
// which has the interface decode the row's tiles again and convert the band's rows of them.
// With a bottom-left origin the band's raster rows come out bottom-up: for an upside-down
// orientation the band's last stored row is its lowest raster row, otherwise its first.
ReadOutcome ReadThroughRgba(const TiffFile& file, TileSize size, TIFFRGBAImage& img,
                            const BandSink& sink, const BandTuning& tuning) {
    TIFF* tif = file.get();
    const uint32_t width = static_cast<uint32_t>(size.width);
    const uint32_t height = static_cast<uint32_t>(size.height);

    uint32_t unitRows = 0;
    if (TIFFIsTiled(tif))
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &unitRows);
    else
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &unitRows);
    if (unitRows == 0) return ReadOutcome::failed;
    unitRows = std::min(unitRows, height);

    const uint64_t unitBytes = uint64_t{unitRows} * width * 4;
    const uint64_t units = std::max<uint64_t>(1, tuning.bandBytes / unitBytes);
    uint32_t bandRows = static_cast<uint32_t>(std::min<uint64_t>(height, units * unitRows));
    if (TIFFIsTiled(tif) && unitBytes > tuning.maxTileRowBytes && ConvertsRowByRow(tif, img) &&
        SplitsTileRowsExactly(img))
        bandRows = static_cast<uint32_t>(
            std::clamp<uint64_t>(tuning.maxTileRowBytes / (uint64_t{width} * 4), 1, unitRows));

    PixelBuffer raster = PixelBuffer::Allocate(std::size_t{bandRows} * width * 4);
    if (!raster) return ReadOutcome::failed;
    uint32_t* words = reinterpret_cast<uint32_t*>(raster.data());

    const bool upsideDown = FlipsVertically(img.orientation);
    img.req_orientation = ORIENTATION_BOTLEFT;
    img.col_offset = 0;
    for (uint32_t first = 0; first < height; first += bandRows) {
        const uint32_t count = std::min(bandRows, height - first);
        img.row_offset = static_cast<int>(first);
        if (!TIFFRGBAImageGet(&img, words, width, count) || file.errorSeen())
            return ReadOutcome::failed;
        const auto firstRow = static_cast<int32_t>(upsideDown ? height - first - count : first);
        if (!HandRasterRows(raster.data(), count, width, firstRow, sink))
            return ReadOutcome::sinkStopped;
    }
    return ReadOutcome::ok;
}

ReadOutcome ReadOpenFile(TiffFile& file, TileSize expected, const BandSink& sink,
                         const BandTuning& tuning, BandPath* taken) {
    TileSize size;
    if (!Measure(file, &size) || size != expected || !file.PrepareToDecode())
        return ReadOutcome::failed;
    RgbaImage rgba;
    if (!rgba.Begin(file.get()) || file.errorSeen()) return ReadOutcome::failed;

    DirectLayout layout;
    if (tuning.allowDirect && DirectLayoutFor(file.get(), size, rgba.img(), &layout))
        return ReadDirect(file, size, layout, sink, tuning, taken);
    if (taken) *taken = BandPath::rgba;
    if (TakesRowRoute(file.get(), rgba.img()))
        return ReadRgbaRows(file, size, rgba.img(), sink, tuning);
    return ReadThroughRgba(file, size, rgba.img(), sink, tuning);
}

std::optional<TileSize> MeasureOpenFile(const TiffFile& file) {
    TileSize size;
    if (!Measure(file, &size)) return std::nullopt;
    // TIFFRGBAImageOK passes some files that Begin then refuses (16-bit CMYK, for one); only a
    // file Begin accepts can be decoded later.
    RgbaImage rgba;
    if (!rgba.Begin(file.get()) || file.errorSeen()) return std::nullopt;
    return size;
}

}  // namespace

ReadOutcome ReadTileBandsTuned(int fd, TileSize expected, const BandSink& sink,
                               const BandTuning& tuning, BandPath* taken) {
    if (taken) *taken = BandPath::none;
    TiffFile file;
    if (!file.Open(fd, "tile")) return ReadOutcome::failed;
    return ReadOpenFile(file, expected, sink, tuning, taken);
}

}  // namespace tiff_detail

std::optional<TileSize> TIFFWH(int fd) {
    tiff_detail::TiffFile file;
    if (!file.Open(fd, "tile")) return std::nullopt;
    return tiff_detail::MeasureOpenFile(file);
}

namespace {

// Bands of about an eighth of the tile, from 64 KiB up to the default: a small tile's bands then
// take a few pages of memory, a large one's stay few.
tiff_detail::BandTuning TuningFor(TileSize size) {
    tiff_detail::BandTuning tuning;
    const uint64_t bytes = 3 * static_cast<uint64_t>(std::max(size.width, 0)) *
                           static_cast<uint64_t>(std::max(size.height, 0));
    tuning.bandBytes = static_cast<std::size_t>(
        std::clamp<uint64_t>(bytes / 8, std::size_t{64} << 10, tuning.bandBytes));
    return tuning;
}

}  // namespace

ReadOutcome ReadTileBands(int fd, TileSize expected, const BandSink& sink) {
    return tiff_detail::ReadTileBandsTuned(fd, expected, sink, TuningFor(expected));
}

std::string LibtiffVersion() {
    const std::string text = TIFFGetVersion();
    return text.substr(0, text.find('\n'));
}

}  // namespace tessaro
