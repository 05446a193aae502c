#include "tiff/strip_rows.h"

#include <algorithm>
#include <cstring>

#include "os/file_io.h"

namespace tessaro::tiff_detail {
namespace {

// The most a damaged strip may decode to for it to be decoded whole again (twice over, below).
constexpr std::size_t kMaxWholeStripBytes = std::size_t{32} << 20;

bool DecodesRowByRow(uint16_t compression) {
    switch (compression) {
        case COMPRESSION_NONE:
        case COMPRESSION_LZW:
        case COMPRESSION_ADOBE_DEFLATE:
        case COMPRESSION_DEFLATE:
        case COMPRESSION_CCITTRLE:
        case COMPRESSION_CCITTRLEW:
        case COMPRESSION_CCITTFAX3:
        case COMPRESSION_CCITTFAX4:
        case COMPRESSION_JPEG:
        case COMPRESSION_LZMA:
        case COMPRESSION_ZSTD:
            return true;
        default:
            return false;
    }
}

}  // namespace

StripRows::StripRows(const TiffFile& file, uint32_t height, std::size_t scanline,
                     uint32_t chunkRows, uint16_t plane)
    : file_(file), tif_(file.get()), height_(height), scanline_(scanline),
      chunkRows_(std::max(chunkRows, 1u)), plane_(plane) {
    uint16_t compression = COMPRESSION_NONE;
    uint16_t bits = 8;
    TIFFGetFieldDefaulted(tif_, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(tif_, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif_, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip_);
    if (rowsPerStrip_ == 0 || scanline_ == 0) return;  // no buffer: every Next() fails
    rowsPerStrip_ = std::min(rowsPerStrip_, height_);
    swab16_ = bits == 16 && TIFFIsByteSwapped(tif_);
    fax_ = compression == COMPRESSION_CCITTRLE || compression == COMPRESSION_CCITTRLEW ||
           compression == COMPRESSION_CCITTFAX3 || compression == COMPRESSION_CCITTFAX4;
    mode_ = compression == COMPRESSION_PACKBITS ? Mode::packBits
            : DecodesRowByRow(compression)      ? Mode::scanlines
                                                : Mode::wholeStrips;
    const uint32_t bufferRows =
        mode_ == Mode::wholeStrips ? rowsPerStrip_ : std::min(chunkRows_, rowsPerStrip_);
    std::size_t bytes = 0;
    if (__builtin_mul_overflow(std::size_t{bufferRows}, scanline_, &bytes) ||
        bytes > kMaxDecodeBuffer)
        return;  // more than libtiff would decode into either
    rows_ = PixelBuffer::Allocate(bytes);
}

bool StripRows::StartStrip(uint32_t strip) {
    const uint32_t first = row_;
    stripFirst_ = first;
    stripEnd_ = first + std::min(rowsPerStrip_, height_ - first);
    stripWhole_ = false;
    const std::size_t bytes = std::size_t{stripEnd_ - first} * scanline_;
    switch (mode_) {
        case Mode::scanlines:
            return true;
        case Mode::wholeStrips:
            return TIFFReadEncodedStrip(tif_, strip, rows_.data(), static_cast<tmsize_t>(bytes)) !=
                       -1 &&
                   !file_.errorSeen();
        case Mode::packBits:
            break;
    }
    // As libtiff reads a strip before decoding it: all of its byte count, which must lie
    // within the file, with the bits of each byte reversed for fill order 2.
    const uint64_t count = TIFFGetStrileByteCount(tif_, strip);
    if (count == 0 || count > RegularFileSize(file_.fd()).value_or(0)) return false;
    raw_ = PixelBuffer::Allocate(static_cast<std::size_t>(count));
    if (!raw_ || TIFFReadRawStrip(tif_, strip, raw_.data(), static_cast<tmsize_t>(count)) !=
                     static_cast<tmsize_t>(count))
        return false;
    uint16_t fillOrder = FILLORDER_MSB2LSB;
    TIFFGetFieldDefaulted(tif_, TIFFTAG_FILLORDER, &fillOrder);
    if (fillOrder == FILLORDER_LSB2MSB) TIFFReverseBits(raw_.data(), static_cast<tmsize_t>(count));
    rawAt_ = 0;
    rawSize_ = static_cast<std::size_t>(count);
    stripLeft_ = bytes;
    run_ = Run{};
    return !file_.errorSeen();
}

// The PackBits decoder libtiff runs over a whole strip, resumable at any byte: a run is cut
// short only at the end of the strip, and running out of data before the strip is full fails.
bool StripRows::UnpackBits(uint8_t* out, std::size_t bytes) {
    const uint8_t* raw = raw_.data();
    while (bytes > 0) {
        if (run_.left == 0) {
            if (rawAt_ >= rawSize_) return false;
            const int n = static_cast<int8_t>(raw[rawAt_++]);
            if (n == -128) continue;  // no operation
            run_.literal = n >= 0;
            run_.left = std::min<std::size_t>(n >= 0 ? n + 1 : 1 - n, stripLeft_);
            if (run_.literal ? rawSize_ - rawAt_ < run_.left : rawAt_ >= rawSize_) return false;
            if (!run_.literal) run_.value = raw[rawAt_++];
        }
        const std::size_t take = std::min(run_.left, bytes);
        if (run_.literal) {
            std::memcpy(out, raw + rawAt_, take);
            rawAt_ += take;
        } else {
            std::memset(out, run_.value, take);
        }
        out += take;
        bytes -= take;
        run_.left -= take;
        stripLeft_ -= take;
    }
    return true;
}

bool StripRows::DecodeStripWhole() {
    const std::size_t bytes = std::size_t{stripEnd_ - stripFirst_} * scanline_;
    if (bytes > kMaxWholeStripBytes) return false;
    whole_ = PixelBuffer::Allocate(bytes);
    PixelBuffer check = PixelBuffer::Allocate(bytes);
    if (!whole_ || !check) return false;
    // libtiff may give up on damaged data part way through a strip and still report success (a
    // fax strip that ends early), leaving the rest of the buffer unwritten: those pixels are
    // not in the file. Decoded twice over different bytes, such a strip shows it, and fails.
    const uint32_t strip = TIFFComputeStrip(tif_, stripFirst_, plane_);
    for (PixelBuffer* buffer : {&whole_, &check}) {
        std::memset(buffer->data(), buffer == &whole_ ? 0x00 : 0xff, bytes);
        if (TIFFReadEncodedStrip(tif_, strip, buffer->data(), static_cast<tmsize_t>(bytes)) == -1 ||
            file_.errorSeen())
            return false;
    }
    stripWhole_ = std::memcmp(whole_.data(), check.data(), bytes) == 0;
    return stripWhole_;
}

uint32_t StripRows::Next(uint32_t maxRows, uint8_t** rows) {
    if (!rows_ || row_ >= height_) return 0;
    if (row_ == stripEnd_ && !StartStrip(TIFFComputeStrip(tif_, row_, plane_))) return 0;
    uint32_t count = std::min(maxRows, stripEnd_ - row_);
    if (mode_ != Mode::wholeStrips) count = std::min(count, chunkRows_);
    if (count == 0) return 0;

    uint8_t* out = rows_.data();
    switch (mode_) {
        case Mode::scanlines:
            if (!stripWhole_) {
                const unsigned warnings = file_.warnings();
                for (uint32_t k = 0; k < count; ++k)
                    if (TIFFReadScanline(tif_, out + k * scanline_, row_ + k, plane_) == -1)
                        return 0;
                if (file_.warnings() != warnings && (fax_ || !DecodeStripWhole())) return 0;
            }
            if (stripWhole_) out = whole_.data() + std::size_t{row_ - stripFirst_} * scanline_;
            break;
        case Mode::packBits:
            if (!UnpackBits(out, count * scanline_)) return 0;
            // libtiff hands 16-bit samples over in the machine's byte order.
            if (swab16_)
                TIFFSwabArrayOfShort(reinterpret_cast<uint16_t*>(out),
                                     static_cast<tmsize_t>(count * scanline_ / 2));
            break;
        case Mode::wholeStrips:
            out += std::size_t{row_ % rowsPerStrip_} * scanline_;
            break;
    }
    if (file_.errorSeen()) return 0;
    row_ += count;
    *rows = out;
    return count;
}

}  // namespace tessaro::tiff_detail
