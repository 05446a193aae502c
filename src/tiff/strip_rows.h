// The decoded rows of a picture stored in strips (of one of its planes, when they are stored
// separately), handed out in stored order a few at a time, exactly as libtiff decodes each
// strip whole.
//
// Codecs that decode a strip as a stream (none, LZW, Deflate, CCITT, JPEG, LZMA, ZSTD) are read
// scanline by scanline, so a strip costs its compressed bytes and a few rows, however large it decodes.
// PackBits is decoded here from the raw strip: libtiff's scanline read cuts a run at the end of
// each row, and writers may let runs cross rows, so its scanlines can differ from the strip it
// decodes whole. Other codecs are decoded a whole strip at a time. When libtiff warns while
// decoding a strip row by row (damaged data it decodes anyway, such as a fax row of the wrong
// length), its rows may no longer match the strip decoded whole, so that strip is decoded whole
// again, if it decodes to at most 32 MiB, and its remaining rows are taken from there; a strip
// libtiff leaves partly unwritten that way fails. So does a fax strip libtiff warns about: what
// its fax decoders make of damaged rows depends on state left from what the handle decoded
// before, so not even the whole strip decodes to one picture.
#pragma once

#include <tiffio.h>

#include <cstddef>
#include <cstdint>

#include "tiff/pixel_buffer.h"
#include "tiff/tiff_file.h"

namespace tessaro::tiff_detail {

class StripRows {
public:
    // `scanline`: the bytes of one decoded row (of one plane); `chunkRows`: the most rows one
    // Next() returns; `plane`: which plane's strips, when planes are stored separately.
    StripRows(const TiffFile& file, uint32_t height, std::size_t scanline, uint32_t chunkRows,
              uint16_t plane = 0);

    // Points `rows` at the next stored rows, packed: at most `maxRows` (and chunkRows), and
    // never past the end of a strip. Returns how many, or 0 when decoding fails.
    uint32_t Next(uint32_t maxRows, uint8_t** rows);

private:
    enum class Mode { scanlines, packBits, wholeStrips };
    struct Run {
        bool literal = false;
        std::size_t left = 0;  // bytes of the run still to write
        uint8_t value = 0;     // a repeat run's byte
    };

    bool StartStrip(uint32_t strip);
    bool DecodeStripWhole();
    bool UnpackBits(uint8_t* out, std::size_t bytes);

    const TiffFile& file_;
    TIFF* tif_;
    uint32_t height_;
    std::size_t scanline_;
    uint32_t rowsPerStrip_ = 1;
    uint32_t chunkRows_;
    uint16_t plane_;
    Mode mode_ = Mode::scanlines;
    bool swab16_ = false;   // 16-bit samples in a file of the other byte order
    bool fax_ = false;      // a CCITT codec
    uint32_t row_ = 0;      // the next stored row
    uint32_t stripFirst_ = 0;  // the current strip's first row
    uint32_t stripEnd_ = 0;    // the row after the current strip
    bool stripWhole_ = false;  // scanlines: the current strip was decoded whole into whole_
    PixelBuffer whole_;
    PixelBuffer rows_;      // a chunk of rows, or a whole strip
    // PackBits: the current strip's raw bytes and where decoding stands in them.
    PixelBuffer raw_;
    std::size_t rawAt_ = 0;
    std::size_t rawSize_ = 0;
    std::size_t stripLeft_ = 0;  // decoded bytes the strip still has to give
    Run run_;
};

}  // namespace tessaro::tiff_detail
