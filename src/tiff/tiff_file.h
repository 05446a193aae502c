// One open TIFF handle with its own quiet error and warning handlers.
//
// libtiff reports problems through handlers rather than only through return values (a corrupt
// JPEG strip, for one, is reported yet the read still "succeeds"), so every handle records
// whether an error was reported at any time and the reads treat that as failure. Warnings are
// swallowed, except libjpeg's: libtiff passes them on as warnings from "JPEGLib", and libjpeg
// warns only about corrupt data ("Corrupt JPEG data: ...", "Premature end of JPEG file"), which
// it then papers over with made-up pixels. Those count as errors, and so does libtiff's warning
// that a JPEG stream is smaller than its strip or tile (the rows it lacks are never written).
// Nothing is ever printed.
#pragma once

#include <tiffio.h>

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "os/unique_fd.h"
#include "tiff/pixel_buffer.h"
#include "tiff/tiff_reader.h"

namespace tessaro::tiff_detail {

// The largest single buffer libtiff may allocate for one handle, and the largest the reader
// allocates for decoded rows itself. For a well-formed tile the biggest is one decoded strip or
// tile; 1 GiB still admits a single-strip RGB image of about 350 million pixels, while a hostile
// header that claims gigabytes of tag data, strip buffer or row fails cleanly instead of taking
// the machine's memory.
inline constexpr std::size_t kMaxDecodeBuffer = std::size_t{1} << 30;

class TiffFile {
public:
    TiffFile() = default;
    TiffFile(const TiffFile&) = delete;
    TiffFile& operator=(const TiffFile&) = delete;

    // Opens the file on a descriptor the caller keeps, read-only without memory mapping: libtiff
    // reads through a duplicate of it, which is closed with the handle, at offsets of its own
    // (the caller's file offset is neither used nor moved). Fails for anything but a regular file
    // (a FIFO or a directory must never block or be handed to libtiff) and for anything libtiff
    // cannot open. Errors libtiff reported while reading the directory and recovered from (it
    // skipped the entry) are forgotten once the open succeeds. Returns false on failure; no
    // descriptor of its own is left open either way. `name` only labels the handle.
    bool Open(int fd, const std::string& name);

    // Call before decoding pixels. libtiff 4.5 refuses every uncompressed tile through the RGBA
    // interface when the file is not memory-mapped and the tile's size is not a multiple of
    // 1 KiB: it rounds its own raw buffer up to 1 KiB and then demands the buffer be exactly one
    // tile. Handing it a buffer of exactly one tile keeps such files readable, as they are when
    // mapped. Returns false when that buffer cannot be had. Also has Deflate decoded by zlib
    // rather than libdeflate (see the .cpp).
    bool PrepareToDecode();

    TIFF* get() const { return tif_.get(); }
    // The handle's own descriptor (for another handle on the same file, or its size).
    int fd() const { return fd_.get(); }
    // True once libtiff has reported an error on this handle since it was opened.
    bool errorSeen() const { return errorSeen_; }
    // How many warnings libtiff has reported on this handle (errors or not).
    unsigned warnings() const { return warnings_; }

private:
    static int OnError(TIFF*, void* self, const char*, const char*, va_list);
    static int OnWarning(TIFF*, void*, const char*, const char*, va_list);
    // libtiff's file procedures; `self` is the TiffFile.
    static tmsize_t ReadProc(thandle_t self, void* buffer, tmsize_t size);
    static tmsize_t WriteProc(thandle_t, void*, tmsize_t);
    static toff_t SeekProc(thandle_t self, toff_t offset, int whence);
    static int CloseProc(thandle_t);
    static toff_t SizeProc(thandle_t self);
    static int MapProc(thandle_t, void**, toff_t*);
    static void UnmapProc(thandle_t, void*, toff_t);

    struct Closer {
        void operator()(TIFF* tif) const { TIFFClose(tif); }
    };
    // The flag is declared first so it outlives the handle: TIFFClose may still report.
    bool errorSeen_ = false;
    unsigned warnings_ = 0;
    PixelBuffer rawTile_;  // libtiff's raw buffer for uncompressed tiles; outlives the handle
    UniqueFd fd_;          // what libtiff reads; outlives the handle
    uint64_t offset_ = 0;  // where libtiff's next read starts
    std::unique_ptr<TIFF, Closer> tif_;
};

// The checks shared by the size query and both pixel reads: a size in 1 .. 2^31 - 1, a codec
// this libtiff has, no stored tile far larger than the picture (see the .cpp), a kind the RGBA
// interface accepts, and no error reported so far.
bool Measure(const TiffFile& file, TileSize* size);

// TIFFRGBAImageEnd on scope exit, for an image whose TIFFRGBAImageBegin succeeded.
class RgbaImage {
public:
    RgbaImage() = default;
    RgbaImage(const RgbaImage&) = delete;
    RgbaImage& operator=(const RgbaImage&) = delete;
    ~RgbaImage() {
        if (begun_) TIFFRGBAImageEnd(&img_);
    }
    bool Begin(TIFF* tif) {
        char message[1024] = "";
        begun_ = TIFFRGBAImageBegin(&img_, tif, /*stop on error*/ 1, message) != 0;
        return begun_;
    }
    TIFFRGBAImage& img() { return img_; }

private:
    TIFFRGBAImage img_{};
    bool begun_ = false;
};

// Whether the RGBA interface, asked for a bottom-left origin, turns a picture stored with this
// orientation tag upside down (its first stored row is the top row) or mirrors it. Orientations
// 5..8 name transposed layouts, which libtiff does not transpose; it treats them as 1..4.
bool FlipsVertically(uint16_t orientation);
bool FlipsHorizontally(uint16_t orientation);

// Converts `pixels` packed ABGR raster words (as the RGBA interface writes them) into packed
// blue, green, red bytes, in place: each 3-byte output lands at or before the 4-byte input it
// came from, so reading front to back never overwrites an unread pixel.
void RasterToBgrInPlace(uint8_t* bytes, std::size_t pixels);

// Converts `rows` raster rows of `width` pixels in place (as above) and hands them to the sink as
// the band whose first row is tile row firstRow; false when the sink wants no more.
bool HandRasterRows(uint8_t* raster, uint32_t rows, uint32_t width, int32_t firstRow,
                    const BandSink& sink);

}  // namespace tessaro::tiff_detail
