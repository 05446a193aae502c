#include "tiff/tiff_rgba_rows.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "tiff/strip_rows.h"

namespace tessaro::tiff_detail {
namespace {

// Raw rows decoded per conversion: enough to keep the put routine busy.
constexpr std::size_t kChunkBytes = std::size_t{256} << 10;

bool OneColourPlane(const TIFFRGBAImage& img) {
    return img.photometric == PHOTOMETRIC_MINISWHITE || img.photometric == PHOTOMETRIC_MINISBLACK ||
           img.photometric == PHOTOMETRIC_PALETTE;
}

// The stored planes the separate put routine takes, in its order: the colour planes (one for
// grey and palette, else three), then the alpha plane when the image has one (CMYK's black
// comes as its "alpha").
std::vector<uint16_t> PlanesConverted(const TIFFRGBAImage& img) {
    if (img.isContig) return {0};
    std::vector<uint16_t> planes = {0};
    if (!OneColourPlane(img)) planes.insert(planes.end(), {1, 2});
    if (img.alpha != 0) planes.push_back(static_cast<uint16_t>(planes.size()));
    return planes;
}

// The rows of each converted plane. Planes stored separately are read through a handle each
// (the first through `file`), so that every plane's strip is decoded once, front to back.
class PlaneRows {
public:
    bool Open(const TiffFile& file, const TIFFRGBAImage& img, uint32_t height,
              std::size_t scanline, uint32_t chunkRows) {
        for (const uint16_t plane : PlanesConverted(img)) {
            const TiffFile* source = &file;
            if (plane != 0) {
                auto extra = std::make_unique<TiffFile>();
                if (!extra->Open(file.fd(), "tile") || !extra->PrepareToDecode())
                    return false;
                source = extra.get();
                extraFiles_.push_back(std::move(extra));
            }
            rows_.push_back(std::make_unique<StripRows>(*source, height, scanline, chunkRows,
                                                        plane));
        }
        return true;
    }
    // The next rows of every plane (as StripRows::Next); 0 on failure.
    uint32_t Next(uint32_t maxRows, uint8_t** planes) {
        uint32_t count = 0;
        for (std::size_t i = 0; i < rows_.size(); ++i) {
            const uint32_t got = rows_[i]->Next(maxRows, &planes[i]);
            if (got == 0 || (i > 0 && got != count)) return 0;
            count = got;
        }
        return count;
    }

private:
    std::vector<std::unique_ptr<TiffFile>> extraFiles_;
    std::vector<std::unique_ptr<StripRows>> rows_;
};

}  // namespace

// Whether the begun image's put routine converts one row at a time (subsampled YCbCr converts
// blocks of rows).
bool ConvertsRowByRow(TIFF* tif, const TIFFRGBAImage& img) {
    if (img.photometric != PHOTOMETRIC_YCBCR) return true;
    uint16_t across = 0;
    uint16_t down = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_YCBCRSUBSAMPLING, &across, &down);
    return across == 1 && down == 1;
}

bool TakesRowRoute(TIFF* tif, const TIFFRGBAImage& img) {
    return !TIFFIsTiled(tif) && img.put.any != nullptr && ConvertsRowByRow(tif, img);
}

// TIFFRGBAImageGet does the same per strip: the begun image's put routine over the strip's rows,
// written bottom-up into the raster (top-down, with a negative skew, for an upside-down
// orientation), and each raster row reversed for a mirrored one.
ReadOutcome ReadRgbaRows(const TiffFile& file, TileSize size, TIFFRGBAImage& img,
                         const BandSink& sink, const BandTuning& tuning) {
    TIFF* tif = file.get();
    const uint32_t width = static_cast<uint32_t>(size.width);
    const uint32_t height = static_cast<uint32_t>(size.height);
    const uint64_t scanline = static_cast<uint64_t>(TIFFScanlineSize64(tif));
    if (scanline == 0 || scanline > SIZE_MAX / 2) return ReadOutcome::failed;

    const uint32_t bandRows = static_cast<uint32_t>(
        std::min<uint64_t>(height, std::max<uint64_t>(1, tuning.bandBytes / (uint64_t{width} * 4))));
    const uint32_t chunkRows =
        static_cast<uint32_t>(std::min<uint64_t>(bandRows, kChunkBytes / scanline));
    PlaneRows rows;
    if (!rows.Open(file, img, height, static_cast<std::size_t>(scanline), chunkRows))
        return ReadOutcome::failed;
    PixelBuffer raster = PixelBuffer::Allocate(std::size_t{bandRows} * width * 4);
    if (!raster) return ReadOutcome::failed;
    uint32_t* words = reinterpret_cast<uint32_t*>(raster.data());

    const bool upsideDown = FlipsVertically(img.orientation);
    const bool mirror = FlipsHorizontally(img.orientation);
    const int32_t toskew = upsideDown ? -static_cast<int32_t>(width + width) : 0;
    for (uint32_t first = 0; first < height; first += bandRows) {
        const uint32_t count = std::min(bandRows, height - first);
        for (uint32_t done = 0; done < count;) {
            uint8_t* planes[4] = {};
            const uint32_t n = rows.Next(count - done, planes);
            if (n == 0) return ReadOutcome::failed;
            const uint32_t y = upsideDown ? count - 1 - done : done;  // its raster row
            uint32_t* to = words + std::size_t{y} * width;
            if (img.isContig) {
                img.put.contig(&img, to, 0, y, width, n, 0, toskew, planes[0]);
            } else {
                const int colours = OneColourPlane(img) ? 1 : 3;
                uint8_t* red = planes[0];
                uint8_t* green = colours == 1 ? red : planes[1];
                uint8_t* blue = colours == 1 ? red : planes[2];
                uint8_t* alpha = img.alpha != 0 ? planes[colours] : nullptr;
                img.put.separate(&img, to, 0, y, width, n, 0, toskew, red, green, blue, alpha);
            }
            done += n;
        }
        if (mirror)
            for (uint32_t r = 0; r < count; ++r)
                std::reverse(words + std::size_t{r} * width, words + std::size_t{r + 1} * width);
        const auto firstRow = static_cast<int32_t>(upsideDown ? height - first - count : first);
        if (!HandRasterRows(raster.data(), count, width, firstRow, sink))
            return ReadOutcome::sinkStopped;
    }
    return ReadOutcome::ok;
}

}  // namespace tessaro::tiff_detail
