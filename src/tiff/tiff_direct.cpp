#include "tiff/tiff_direct.h"

#include <algorithm>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "tiff/pixel_buffer.h"
#include "tiff/strip_rows.h"

namespace tessaro::tiff_detail {
namespace {

void RgbToBgrScalar(const uint8_t* __restrict in, uint8_t* __restrict out, std::size_t pixels) {
    for (std::size_t i = 0; i < pixels; ++i, in += 3, out += 3) {
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
    }
}

#if defined(__x86_64__)
// Five pixels a step with one byte shuffle: 16 bytes are loaded and stored, 15 of them are
// pixels, and the 16th (the next pixel's first byte) is written again by the next step. Stops
// while a whole 16 bytes still lie within both rows.
__attribute__((target("ssse3"))) void RgbToBgrSsse3(const uint8_t* __restrict in,
                                                   uint8_t* __restrict out, std::size_t pixels) {
    const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    std::size_t i = 0;
    for (; i + 6 <= pixels; i += 5) {
        const __m128i rgb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 3 * i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * i), _mm_shuffle_epi8(rgb, order));
    }
    RgbToBgrScalar(in + 3 * i, out + 3 * i, pixels - i);
}

const bool kHasSsse3 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3") != 0;
}();
#endif

void RgbToBgr(const uint8_t* __restrict in, uint8_t* __restrict out, std::size_t pixels) {
#if defined(__x86_64__)
    if (kHasSsse3) return RgbToBgrSsse3(in, out, pixels);
#endif
    RgbToBgrScalar(in, out, pixels);
}

void RgbToBgrMirrored(const uint8_t* __restrict in, uint8_t* __restrict out,
                      std::size_t pixels) {
    out += 3 * (pixels - 1);
    for (std::size_t i = 0; i < pixels; ++i, in += 3, out -= 3) {
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
    }
}

// `flip` is 0xff for min-is-white (255 - v == v ^ 0xff for a byte), else 0.
void GreyToBgr(const uint8_t* __restrict in, uint8_t* __restrict out, std::size_t pixels,
               uint8_t flip) {
    for (std::size_t i = 0; i < pixels; ++i, out += 3) {
        const uint8_t v = in[i] ^ flip;
        out[0] = v;
        out[1] = v;
        out[2] = v;
    }
}

void GreyToBgrMirrored(const uint8_t* __restrict in, uint8_t* __restrict out,
                       std::size_t pixels, uint8_t flip) {
    out += 3 * (pixels - 1);
    for (std::size_t i = 0; i < pixels; ++i, out -= 3) {
        const uint8_t v = in[i] ^ flip;
        out[0] = v;
        out[1] = v;
        out[2] = v;
    }
}

// Converts `pixels` stored pixels that start at stored column `column` of a row into the BGR
// output row `row` (3 x width bytes), mirroring when the layout says so.
void ConvertSpan(const DirectLayout& layout, const uint8_t* in, uint32_t column,
                 std::size_t pixels, uint8_t* row, uint32_t width) {
    if (pixels == 0) return;
    if (layout.mirror) {
        uint8_t* out = row + 3 * (std::size_t{width} - column - pixels);
        if (layout.samples == 3)
            RgbToBgrMirrored(in, out, pixels);
        else
            GreyToBgrMirrored(in, out, pixels, layout.minIsWhite ? 0xff : 0);
    } else {
        uint8_t* out = row + 3 * std::size_t{column};
        if (layout.samples == 3)
            RgbToBgr(in, out, pixels);
        else
            GreyToBgr(in, out, pixels, layout.minIsWhite ? 0xff : 0);
    }
}

// One band being filled: stored rows [first, first + count) of a picture `height` rows high.
// In the band buffer rows run bottom-up, like everywhere else in the tool.
struct Band {
    uint32_t height = 0;
    uint32_t first = 0;
    uint32_t count = 0;
    bool upsideDown = false;
    std::size_t rowBytes = 0;
    uint8_t* data = nullptr;

    uint8_t* Row(uint32_t storedRow) const {
        const uint32_t k = storedRow - first;
        return data + std::size_t{upsideDown ? count - 1 - k : k} * rowBytes;
    }
    bool Deliver(const BandSink& sink) const {
        TileBand band;
        band.firstRow = static_cast<int32_t>(upsideDown ? height - first - count : first);
        band.rowCount = static_cast<int32_t>(count);
        band.data = data;
        return sink(band);
    }
};

// Rows per band: whole units (strips or tile rows) up to about `budget` bytes of BGR rows,
// at least one unit, at most the picture.
uint32_t BandRows(uint32_t unitRows, uint32_t width, uint32_t height, std::size_t budget) {
    const uint64_t unitBytes = uint64_t{unitRows} * width * 3;
    const uint64_t units = std::max<uint64_t>(1, budget / unitBytes);
    return static_cast<uint32_t>(std::min<uint64_t>(height, units * unitRows));
}

bool IsDirectCompression(uint16_t compression) {
    switch (compression) {
        case COMPRESSION_NONE:
        case COMPRESSION_LZW:
        case COMPRESSION_ADOBE_DEFLATE:
        case COMPRESSION_DEFLATE:
        case COMPRESSION_PACKBITS:
        case COMPRESSION_JPEG:
            return true;
        default:
            return false;
    }
}

// libtiff reads an uncompressed strip or tile that is asked for whole straight from the file,
// that many bytes from its offset, without looking at its byte count. The RGBA interface goes
// through the count: it fails a strip whose count is short of the strip, and a tile whose count
// is not exactly the tile's size. The band reader must refuse the same, rather than take the
// bytes after a short count (another strip, the directory, anything) for pixels. (A strip count
// that runs past the end of the file is still read as far as the strip needs, as before.)
// Nor is a strip or tile read from offset 0, where the header is: no writer puts pixels there,
// but libtiff pads a StripOffsets or TileOffsets array that is too short with zeros (and only
// warns), so a strip the file gave no offset would show the header as pixels.
// Compressed data always goes through the count.
class RawExtents {
public:
    explicit RawExtents(TIFF* tif) : tif_(tif) {
        uint16_t compression = COMPRESSION_NONE;
        TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
        raw_ = compression == COMPRESSION_NONE;
    }
    // Whether strip or tile `strile` may be read for `need` bytes; `exact`: its count must be
    // `need` exactly (tiles).
    bool Ok(uint32_t strile, uint64_t need, bool exact = false) const {
        if (!raw_) return true;
        if (TIFFGetStrileOffset(tif_, strile) == 0) return false;
        const uint64_t count = TIFFGetStrileByteCount(tif_, strile);
        return exact ? count == need : count >= need;
    }

private:
    TIFF* tif_;
    bool raw_ = false;
};

ReadOutcome ReadStrips(const TiffFile& file, TileSize size, const DirectLayout& layout,
                       const BandSink& sink, const BandTuning& tuning) {
    TIFF* tif = file.get();
    const uint32_t width = static_cast<uint32_t>(size.width);
    const uint32_t height = static_cast<uint32_t>(size.height);
    const std::size_t scanline = std::size_t{width} * layout.samples;
    const uint32_t rps = layout.unitRows;

    const uint32_t bandRows = BandRows(rps, width, height, tuning.bandBytes);
    PixelBuffer strip = PixelBuffer::Allocate(std::size_t{rps} * scanline);
    PixelBuffer bgr = PixelBuffer::Allocate(std::size_t{bandRows} * width * 3);
    if (!strip || !bgr) return ReadOutcome::failed;

    const RawExtents extents(tif);
    Band band{height, 0, 0, layout.upsideDown, std::size_t{width} * 3, bgr.data()};
    for (uint32_t first = 0; first < height; first += bandRows) {
        band.first = first;
        band.count = std::min(bandRows, height - first);
        for (uint32_t row = first; row < first + band.count; row += rps) {
            const uint32_t rows = std::min(rps, height - row);
            const tmsize_t want = static_cast<tmsize_t>(std::size_t{rows} * scanline);
            const uint32_t index = TIFFComputeStrip(tif, row, 0);
            if (!extents.Ok(index, static_cast<uint64_t>(want)) ||
                TIFFReadEncodedStrip(tif, index, strip.data(), want) == -1 || file.errorSeen())
                return ReadOutcome::failed;
            for (uint32_t k = 0; k < rows; ++k)
                ConvertSpan(layout, strip.data() + k * scanline, 0, width, band.Row(row + k),
                            width);
        }
        if (!band.Deliver(sink)) return ReadOutcome::sinkStopped;
    }
    return ReadOutcome::ok;
}

ReadOutcome ReadScanlines(const TiffFile& file, TileSize size, const DirectLayout& layout,
                          const BandSink& sink, const BandTuning& tuning) {
    const uint32_t width = static_cast<uint32_t>(size.width);
    const uint32_t height = static_cast<uint32_t>(size.height);

    const uint32_t bandRows = BandRows(1, width, height, tuning.bandBytes);
    StripRows rows(file, height, std::size_t{width} * layout.samples, 1);
    PixelBuffer bgr = PixelBuffer::Allocate(std::size_t{bandRows} * width * 3);
    if (!bgr) return ReadOutcome::failed;

    Band band{height, 0, 0, layout.upsideDown, std::size_t{width} * 3, bgr.data()};
    for (uint32_t first = 0; first < height; first += bandRows) {
        band.first = first;
        band.count = std::min(bandRows, height - first);
        for (uint32_t row = first; row < first + band.count; ++row) {
            uint8_t* line = nullptr;
            if (rows.Next(1, &line) != 1) return ReadOutcome::failed;
            ConvertSpan(layout, line, 0, width, band.Row(row), width);
        }
        if (!band.Deliver(sink)) return ReadOutcome::sinkStopped;
    }
    return ReadOutcome::ok;
}

ReadOutcome ReadTiles(const TiffFile& file, TileSize size, const DirectLayout& layout,
                      const BandSink& sink, const BandTuning& tuning) {
    TIFF* tif = file.get();
    const uint32_t width = static_cast<uint32_t>(size.width);
    const uint32_t height = static_cast<uint32_t>(size.height);
    const uint32_t tw = layout.tileWidth;
    const uint32_t th = layout.unitRows;
    const std::size_t tileRowBytes = std::size_t{tw} * layout.samples;

    // A band is whole rows of tiles (a tile taller than the picture is clipped), or part of
    // one row of tiles when a whole row would pass maxTileRowBytes: each such band decodes the
    // row's tiles again and converts its own rows of them.
    const uint32_t unitRows = std::min(th, height);
    const uint64_t rowBgr = uint64_t{width} * 3;
    uint32_t step = 0;
    if (unitRows * rowBgr > tuning.maxTileRowBytes) {
        step = static_cast<uint32_t>(
            std::clamp<uint64_t>(tuning.maxTileRowBytes / rowBgr, 1, unitRows));
    } else {
        const uint32_t bandRows = BandRows(unitRows, width, height, tuning.bandBytes);
        step = std::max(th, bandRows - bandRows % th);
    }
    PixelBuffer tile = PixelBuffer::Allocate(std::size_t{th} * tileRowBytes);
    PixelBuffer bgr = PixelBuffer::Allocate(std::size_t{std::min(step, height)} * rowBgr);
    if (!tile || !bgr) return ReadOutcome::failed;

    const RawExtents extents(tif);
    Band band{height, 0, 0, layout.upsideDown, std::size_t{width} * 3, bgr.data()};
    for (uint32_t first = 0; first < height; first += step) {
        band.first = first;
        band.count = std::min(step, height - first);
        const uint32_t end = first + band.count;
        for (uint32_t y = first - first % th; y < end; y += th) {
            const uint32_t from = std::max(first, y);
            const uint32_t to = std::min(end, y + std::min(th, height - y));
            for (uint32_t x = 0; x < width; x += tw) {
                const std::size_t columns = std::min(tw, width - x);
                // With the size given, uncompressed tiles are read straight into our buffer.
                const uint32_t index = TIFFComputeTile(tif, x, y, 0, 0);
                if (!extents.Ok(index, tile.size(), /*exact*/ true) ||
                    TIFFReadEncodedTile(tif, index, tile.data(),
                                        static_cast<tmsize_t>(tile.size())) == -1 ||
                    file.errorSeen())
                    return ReadOutcome::failed;
                for (uint32_t row = from; row < to; ++row)
                    ConvertSpan(layout, tile.data() + (row - y) * tileRowBytes, x, columns,
                                band.Row(row), width);
            }
        }
        if (!band.Deliver(sink)) return ReadOutcome::sinkStopped;
    }
    return ReadOutcome::ok;
}

}  // namespace

bool DirectLayoutFor(TIFF* tif, TileSize size, const TIFFRGBAImage& img, DirectLayout* layout) {
    if (img.bitspersample != 8 || !img.isContig || img.alpha != 0) return false;

    uint16_t compression = COMPRESSION_NONE;
    uint16_t stored = 0;  // the photometric tag as stored (Begin may have relabelled it)
    uint16_t extraCount = 0;
    uint16_t* extraKinds = nullptr;
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extraKinds);
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &stored)) return false;
    if (!IsDirectCompression(compression) || extraCount != 0) return false;

    DirectLayout out;
    if (img.photometric == PHOTOMETRIC_RGB && img.samplesperpixel == 3) {
        // JPEG-compressed YCbCr reaches here relabelled as RGB, decoded to RGB by libjpeg.
        if (stored != PHOTOMETRIC_RGB &&
            !(stored == PHOTOMETRIC_YCBCR && compression == COMPRESSION_JPEG))
            return false;
        out.samples = 3;
    } else if ((img.photometric == PHOTOMETRIC_MINISBLACK ||
                img.photometric == PHOTOMETRIC_MINISWHITE) &&
               img.samplesperpixel == 1 && stored == img.photometric) {
        out.samples = 1;
        out.minIsWhite = img.photometric == PHOTOMETRIC_MINISWHITE;
    } else {
        return false;
    }
    out.mirror = FlipsHorizontally(img.orientation);
    out.upsideDown = FlipsVertically(img.orientation);

    const uint64_t width = static_cast<uint64_t>(size.width);
    const uint64_t height = static_cast<uint64_t>(size.height);
    out.tiled = TIFFIsTiled(tif) != 0;
    if (out.tiled) {
        uint32_t tw = 0;
        uint32_t th = 0;
        if (!TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tw) ||
            !TIFFGetField(tif, TIFFTAG_TILELENGTH, &th) || tw == 0 || th == 0)
            return false;
        // The decoded tile must be exactly tw x th pixels of `samples` bytes.
        if (static_cast<uint64_t>(TIFFTileSize64(tif)) != uint64_t{tw} * th * out.samples)
            return false;
        // The direct path holds one whole decoded tile. Measure has refused tiles far larger
        // than the picture; one past the 1 GiB libtiff allows itself (tiff_file.cpp) is left to
        // the RGBA interface, which refuses it cleanly under that cap.
        if (uint64_t{tw} * th * out.samples > (uint64_t{1} << 30)) return false;
        out.tileWidth = tw;
        out.unitRows = th;
    } else {
        uint32_t rps = 0;
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rps);
        if (rps == 0) return false;
        if (static_cast<uint64_t>(TIFFScanlineSize64(tif)) != width * out.samples) return false;
        out.unitRows = static_cast<uint32_t>(std::min<uint64_t>(rps, height));
    }
    *layout = out;
    return true;
}

ReadOutcome ReadDirect(const TiffFile& file, TileSize size, const DirectLayout& layout,
                       const BandSink& sink, const BandTuning& tuning, BandPath* taken) {
    BandPath path = BandPath::directTiles;
    if (!layout.tiled) {
        const uint64_t stripBytes =
            uint64_t{layout.unitRows} * static_cast<uint64_t>(size.width) * layout.samples;
        path = stripBytes <= tuning.maxStripBytes ? BandPath::directStrips
                                                  : BandPath::directScanlines;
    }
    if (taken) *taken = path;
    switch (path) {
        case BandPath::directStrips:
            return ReadStrips(file, size, layout, sink, tuning);
        case BandPath::directScanlines:
            return ReadScanlines(file, size, layout, sink, tuning);
        default:
            return ReadTiles(file, size, layout, sink, tuning);
    }
}

}  // namespace tessaro::tiff_detail
