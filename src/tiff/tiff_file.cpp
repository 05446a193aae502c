#include "tiff/tiff_file.h"

#include <cstdio>
#include <cstring>

#include "os/file_io.h"
#include "os/unique_fd.h"

namespace tessaro::tiff_detail {
namespace {

constexpr tmsize_t kMaxSingleAllocation = static_cast<tmsize_t>(kMaxDecodeBuffer);

struct OptionsFree {
    void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};

// libtiff decodes a stored tile whole, however little of it lies within the picture. A tile
// that decodes to more than kTileAllowance and to more than kTileOverPicture times the whole
// picture is no layout a writer chooses (hostile headers claim 64015 x 32784 tiles on a 40 x 33
// picture, or one 32752 x 32752 tile on 16 x 16); it is refused, so that a few hundred bytes of
// file cannot ask for gigabytes. Strips need no such rule: libtiff clips a strip's rows to the
// picture's height, so no strip decodes to more than the picture.
constexpr uint64_t kTileAllowance = uint64_t{64} << 20;
constexpr uint64_t kTileOverPicture = 4;

bool TileFarLargerThanPicture(TIFF* tif, uint32_t height) {
    if (!TIFFIsTiled(tif)) return false;
    const uint64_t tile = TIFFTileSize64(tif);
    uint64_t picture = 0;
    if (__builtin_mul_overflow(static_cast<uint64_t>(TIFFScanlineSize64(tif)), height, &picture))
        return false;
    return tile > kTileAllowance && tile / kTileOverPicture > picture;
}

}  // namespace

int TiffFile::OnError(TIFF*, void* self, const char*, const char*, va_list) {
    static_cast<TiffFile*>(self)->errorSeen_ = true;
    return 1;  // handled: libtiff prints nothing
}

int TiffFile::OnWarning(TIFF*, void* self, const char* module, const char* fmt, va_list) {
    ++static_cast<TiffFile*>(self)->warnings_;
    if (module != nullptr && std::strcmp(module, "JPEGLib") == 0)
        static_cast<TiffFile*>(self)->errorSeen_ = true;
    // A JPEG stream smaller than its strip or tile: libtiff decodes the rows it has, warns, and
    // leaves the rest of the caller's buffer unwritten while reporting success.
    constexpr char kShortJpeg[] = "Improper JPEG strip/tile size";
    if (module != nullptr && std::strcmp(module, "JPEGPreDecode") == 0 && fmt != nullptr &&
        std::strncmp(fmt, kShortJpeg, sizeof kShortJpeg - 1) == 0)
        static_cast<TiffFile*>(self)->errorSeen_ = true;
    return 1;
}

bool TiffFile::Open(int callerFd, const std::string& name) {
    tif_.reset();
    errorSeen_ = false;

    if (!RegularFileSize(callerFd)) return false;
    fd_ = DuplicateFd(callerFd);
    if (!fd_) return false;
    offset_ = 0;

    std::unique_ptr<TIFFOpenOptions, OptionsFree> options(TIFFOpenOptionsAlloc());
    if (!options) return false;
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), &TiffFile::OnError, this);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), &TiffFile::OnWarning, this);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), kMaxSingleAllocation);

    // "m": libtiff never maps the file, so a file truncated under us is a read error and not a
    // SIGBUS. It reads through our procedures, which keep their own offset and read with
    // ReadAt(): a duplicate shares the caller's file offset, which libtiff would otherwise move
    // (and which it expects at 0 when it reads the header), so another handle on the same
    // descriptor, or the caller's next size query, would read from the wrong place.
    TIFF* tif = TIFFClientOpenExt(name.c_str(), "rm", static_cast<thandle_t>(this), &ReadProc,
                                  &WriteProc, &SeekProc, &CloseProc, &SizeProc, &MapProc,
                                  &UnmapProc, options.get());
    if (tif == nullptr) return false;
    tif_.reset(tif);
    // libtiff reports some directory entries as errors and then skips them (a tag numbered 0
    // whose type is undefined, for one); the directory it opened is still whole. Whether it
    // describes a picture we can decode is for Measure to say, and errors from here on count.
    errorSeen_ = false;
    return true;
}

tmsize_t TiffFile::ReadProc(thandle_t self, void* buffer, tmsize_t size) {
    auto* file = static_cast<TiffFile*>(self);
    if (size < 0) return -1;
    tmsize_t done = 0;
    while (done < size) {
        const int64_t n = ReadAt(file->fd_.get(), static_cast<char*>(buffer) + done,
                                 static_cast<std::size_t>(size - done), file->offset_);
        if (n <= 0) break;
        done += n;
        file->offset_ += static_cast<uint64_t>(n);
    }
    return done;
}

tmsize_t TiffFile::WriteProc(thandle_t, void*, tmsize_t) { return -1; }

toff_t TiffFile::SeekProc(thandle_t self, toff_t offset, int whence) {
    auto* file = static_cast<TiffFile*>(self);
    switch (whence) {
        case SEEK_SET:
            file->offset_ = offset;
            break;
        case SEEK_CUR:
            file->offset_ += offset;
            break;
        case SEEK_END:
            file->offset_ = SizeProc(self) + offset;
            break;
        default:
            return static_cast<toff_t>(-1);
    }
    return file->offset_;
}

int TiffFile::CloseProc(thandle_t) { return 0; }  // the descriptor is closed with the TiffFile

toff_t TiffFile::SizeProc(thandle_t self) {
    return RegularFileSize(static_cast<TiffFile*>(self)->fd_.get()).value_or(0);
}

int TiffFile::MapProc(thandle_t, void**, toff_t*) { return 0; }
void TiffFile::UnmapProc(thandle_t, void*, toff_t) {}

bool TiffFile::PrepareToDecode() {
    TIFF* tif = tif_.get();
    uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    // libtiff inflates whole Deflate strips and tiles with libdeflate when it has it, and takes
    // libdeflate's "output buffer too small" for success: a stream that inflates to more than
    // the strip holds leaves the strip buffer unwritten (stale or uninitialised memory) and still
    // decodes "fine". zlib fills the buffer front to back and stops when it is full.
    if ((compression == COMPRESSION_ADOBE_DEFLATE || compression == COMPRESSION_DEFLATE) &&
        !TIFFSetField(tif, TIFFTAG_DEFLATE_SUBCODEC, DEFLATE_SUBCODEC_ZLIB))
        return false;
    if (!TIFFIsTiled(tif) || compression != COMPRESSION_NONE) return true;
    const tmsize_t tileBytes = TIFFTileSize(tif);
    if (tileBytes <= 0 || tileBytes > kMaxSingleAllocation) return false;
    rawTile_ = PixelBuffer::Allocate(static_cast<std::size_t>(tileBytes));
    return rawTile_ && TIFFReadBufferSetup(tif, rawTile_.data(), tileBytes) && !errorSeen_;
}

bool Measure(const TiffFile& file, TileSize* size) {
    TIFF* tif = file.get();
    uint32_t width = 0;
    uint32_t height = 0;
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) ||
        !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height))
        return false;
    constexpr uint32_t kMax = 0x7fffffffu;
    if (width == 0 || height == 0 || width > kMax || height > kMax) return false;

    uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    if (!TIFFIsCODECConfigured(compression)) return false;
    if (TileFarLargerThanPicture(tif, height)) return false;

    char message[1024] = "";
    if (!TIFFRGBAImageOK(tif, message)) return false;
    if (file.errorSeen()) return false;
    size->width = static_cast<int32_t>(width);
    size->height = static_cast<int32_t>(height);
    return true;
}

bool FlipsVertically(uint16_t orientation) {
    switch (orientation) {
        case ORIENTATION_TOPLEFT:
        case ORIENTATION_TOPRIGHT:
        case ORIENTATION_LEFTTOP:
        case ORIENTATION_RIGHTTOP:
            return true;
        default:
            return false;
    }
}

bool FlipsHorizontally(uint16_t orientation) {
    switch (orientation) {
        case ORIENTATION_TOPRIGHT:
        case ORIENTATION_BOTRIGHT:
        case ORIENTATION_RIGHTTOP:
        case ORIENTATION_RIGHTBOT:
            return true;
        default:
            return false;
    }
}

void RasterToBgrInPlace(uint8_t* bytes, std::size_t pixels) {
    uint8_t* out = bytes;
    const uint8_t* in = bytes;
    for (std::size_t i = 0; i < pixels; ++i, in += 4, out += 3) {
        uint32_t abgr;
        std::memcpy(&abgr, in, sizeof abgr);
        out[0] = static_cast<uint8_t>(TIFFGetB(abgr));
        out[1] = static_cast<uint8_t>(TIFFGetG(abgr));
        out[2] = static_cast<uint8_t>(TIFFGetR(abgr));
    }
}

bool HandRasterRows(uint8_t* raster, uint32_t rows, uint32_t width, int32_t firstRow,
                    const BandSink& sink) {
    RasterToBgrInPlace(raster, std::size_t{rows} * width);
    TileBand band;
    band.firstRow = firstRow;
    band.rowCount = static_cast<int32_t>(rows);
    band.data = raster;
    return sink(band);
}

}  // namespace tessaro::tiff_detail
