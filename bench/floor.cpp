// The benchmark's floors: the least work any tool that joins tiles into a mosaic file must do.
//
//   tessaro_bench_floor MODE BYTES GROUP_DIR...
//
// For each group directory, in the order given, it writes GROUP_DIR/floor-out.bmp, a file of
// exactly BYTES bytes (the size of that group's mosaic), from:
//   write    a 1 MiB buffer, over and over: the cost of putting the mosaic's bytes into a file
//   stream   the group's *.tif files (sorted by name), read in 1 MiB chunks and written on; when
//            they hold fewer than BYTES bytes the rest is filled from the buffer, when more the
//            excess is read but not written: reading the tiles plus writing the mosaic
//   decode   the group's tiles decoded strip by strip with TIFFReadEncodedStrip (JPEG with
//            YCbCr samples converted to RGB by libjpeg, its fastest form) and written on:
//            decoding the tiles plus writing the mosaic, no reordering of any byte
//   decodeonly  as decode, with nothing written (libtiff's decoding time alone)
//   forked   as stream, each group in a child process of its own, forked for it and waited for,
//            as many at once as the process may use processors: what a process per group
//            costs on this machine, whatever runs in it
//   join     a plain joiner, for comparison with tessaro: the real mosaic (header, BGR pixels,
//            bottom-up rows, same bytes as tessaro writes), made by decoding the left and the
//            right tile of each row of tiles side by side and writing whole mosaic rows, about
//            1 MiB per write. It takes only what the workloads hold (8-bit RGB in strips, rows
//            stored top down, the two tiles of a row equally high) and ignores BYTES. It swaps
//            RGB to BGR with a byte shuffle (SSSE3) where the CPU has one; with
//            TESSARO_BENCH_SCALAR=1 it uses the same plain byte loop as tessaro.
// Output files are created and truncated, written with plain write(), and closed; nothing is
// flushed to disk, as for the mosaic itself.
#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kChunk = 1 << 20;

std::vector<std::string> Tiles(const std::string& dir) {
    std::vector<std::string> tiles;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tif") == 0)
                tiles.push_back(dir + "/" + name);
        }
        closedir(d);
    }
    std::sort(tiles.begin(), tiles.end());
    return tiles;
}

// Writes to one output file, never more than `limit` bytes in all.
class Output {
public:
    Output(const std::string& path, uint64_t limit, bool enabled) : limit_(limit) {
        if (enabled) fd_ = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ok_ = !enabled || fd_ >= 0;
    }
    ~Output() {
        if (fd_ >= 0) close(fd_);
    }
    void Write(const uint8_t* data, std::size_t size) {
        if (fd_ < 0) return;
        size = static_cast<std::size_t>(std::min<uint64_t>(size, limit_ - written_));
        while (size > 0 && ok_) {
            const ssize_t n = write(fd_, data, size);
            if (n <= 0) {
                ok_ = false;
                break;
            }
            data += n, size -= static_cast<std::size_t>(n), written_ += static_cast<uint64_t>(n);
        }
    }
    // Fills up to the limit from `buffer` (`size` bytes).
    void Fill(const uint8_t* buffer, std::size_t size) {
        while (fd_ >= 0 && ok_ && written_ < limit_) Write(buffer, size);
    }
    bool ok() const { return ok_; }

private:
    int fd_ = -1;
    uint64_t limit_;
    uint64_t written_ = 0;
    bool ok_ = true;
};

bool StreamFile(const std::string& path, std::vector<uint8_t>& buffer, Output& out) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = true;
    for (;;) {
        const ssize_t n = read(fd, buffer.data(), buffer.size());
        if (n < 0) ok = false;
        if (n <= 0) break;
        out.Write(buffer.data(), static_cast<std::size_t>(n));
    }
    close(fd);
    return ok;
}

bool DecodeFile(const std::string& path, std::vector<uint8_t>& strip, Output& out) {
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif) return false;
    uint16_t compression = 0, photometric = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    if (compression == COMPRESSION_JPEG && photometric == PHOTOMETRIC_YCBCR)
        TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    const tmsize_t size = TIFFStripSize(tif);
    if (strip.size() < static_cast<std::size_t>(size)) strip.resize(static_cast<std::size_t>(size));
    bool ok = size > 0;
    const uint32_t strips = TIFFNumberOfStrips(tif);
    for (uint32_t s = 0; s < strips && ok; ++s) {
        const tmsize_t n = TIFFReadEncodedStrip(tif, s, strip.data(), size);
        if (n < 0) ok = false;
        else out.Write(strip.data(), static_cast<std::size_t>(n));
    }
    TIFFClose(tif);
    return ok;
}

// Decoded rows of one tile, a strip at a time (top-down stored rows).
class StripCursor {
public:
    ~StripCursor() {
        if (tif_) TIFFClose(tif_);
    }
    bool Open(const std::string& path) {
        tif_ = TIFFOpen(path.c_str(), "rm");
        if (!tif_) return false;
        uint16_t compression = 0, photometric = 0, spp = 0, bps = 0, planar = 0, orientation = 0;
        TIFFGetFieldDefaulted(tif_, TIFFTAG_COMPRESSION, &compression);
        TIFFGetFieldDefaulted(tif_, TIFFTAG_PHOTOMETRIC, &photometric);
        TIFFGetFieldDefaulted(tif_, TIFFTAG_SAMPLESPERPIXEL, &spp);
        TIFFGetFieldDefaulted(tif_, TIFFTAG_BITSPERSAMPLE, &bps);
        TIFFGetFieldDefaulted(tif_, TIFFTAG_PLANARCONFIG, &planar);
        TIFFGetFieldDefaulted(tif_, TIFFTAG_ORIENTATION, &orientation);
        TIFFGetField(tif_, TIFFTAG_IMAGEWIDTH, &width_);
        TIFFGetField(tif_, TIFFTAG_IMAGELENGTH, &height_);
        TIFFGetFieldDefaulted(tif_, TIFFTAG_ROWSPERSTRIP, &rps_);
        if (compression == COMPRESSION_JPEG && photometric == PHOTOMETRIC_YCBCR) {
            TIFFSetField(tif_, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
            photometric = PHOTOMETRIC_RGB;
        }
        if (photometric != PHOTOMETRIC_RGB || spp != 3 || bps != 8 ||
            planar != PLANARCONFIG_CONTIG || orientation != ORIENTATION_TOPLEFT || TIFFIsTiled(tif_))
            return false;
        rps_ = std::min(rps_, height_);
        strip_.resize(std::size_t{rps_} * width_ * 3);
        return true;
    }
    uint32_t width() const { return width_; }
    uint32_t height() const { return height_; }
    // Stored row `row` (top = 0), decoding its strip when it is not the current one.
    const uint8_t* Row(uint32_t row) {
        const uint32_t s = row / rps_;
        if (s != current_) {
            const uint32_t rows = std::min(rps_, height_ - s * rps_);
            if (TIFFReadEncodedStrip(tif_, s, strip_.data(),
                                     static_cast<tmsize_t>(std::size_t{rows} * width_ * 3)) < 0)
                return nullptr;
            current_ = s;
        }
        return strip_.data() + std::size_t{row % rps_} * width_ * 3;
    }

private:
    TIFF* tif_ = nullptr;
    uint32_t width_ = 0, height_ = 0, rps_ = 0, current_ = UINT32_MAX;
    std::vector<uint8_t> strip_;
};

void RgbToBgrScalar(const uint8_t* __restrict in, uint8_t* __restrict out, std::size_t pixels) {
    for (std::size_t i = 0; i < pixels; ++i, in += 3, out += 3) {
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
    }
}

#if defined(__x86_64__)
// Five pixels per step with one byte shuffle: 16 bytes loaded and stored, 15 of them kept (the
// 16th is rewritten by the next step), while at least 6 pixels are left so no access strays.
__attribute__((target("ssse3"))) void RgbToBgrSsse3(const uint8_t* __restrict in,
                                                    uint8_t* __restrict out, std::size_t pixels) {
    const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
    std::size_t i = 0;
    for (; i + 6 <= pixels; i += 5) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 3 * i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * i), _mm_shuffle_epi8(v, order));
    }
    RgbToBgrScalar(in + 3 * i, out + 3 * i, pixels - i);
}
#endif

// TESSARO_BENCH_SCALAR=1 keeps the plain loop, to tell the two changes apart.
const bool kShuffle = [] {
#if defined(__x86_64__)
    const char* scalar = std::getenv("TESSARO_BENCH_SCALAR");
    __builtin_cpu_init();  // this runs among the static initialisers, maybe before libgcc's
    return __builtin_cpu_supports("ssse3") && !(scalar && *scalar == '1');
#else
    return false;
#endif
}();

void RgbToBgr(const uint8_t* __restrict in, uint8_t* __restrict out, std::size_t pixels) {
#if defined(__x86_64__)
    if (kShuffle) return RgbToBgrSsse3(in, out, pixels);
#endif
    RgbToBgrScalar(in, out, pixels);
}

void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

bool PwriteAll(int fd, const uint8_t* data, std::size_t size, uint64_t offset) {
    while (size > 0) {
        const ssize_t n = pwrite(fd, data, size, static_cast<off_t>(offset));
        if (n <= 0) return false;
        data += n, size -= static_cast<std::size_t>(n), offset += static_cast<uint64_t>(n);
    }
    return true;
}

bool JoinGroup(const std::string& dir) {
    const std::vector<std::string> tiles = Tiles(dir);
    const std::size_t half = tiles.size() / 2;
    if (tiles.empty() || tiles.size() % 2) return false;
    std::vector<StripCursor> left(half), right(half);
    uint64_t height = 0;
    for (std::size_t i = 0; i < half; ++i) {
        if (!left[i].Open(tiles[i]) || !right[i].Open(tiles[half + i])) return false;
        if (left[i].height() != right[i].height() || left[i].width() != left[0].width() ||
            right[i].width() != right[0].width())
            return false;
        height += left[i].height();
    }
    const uint32_t wl = left[0].width(), wr = right[0].width();
    const uint64_t stride = (3 * uint64_t{wl + wr} + 3) / 4 * 4;
    uint8_t header[54] = {'B', 'M'};
    Put32(header + 2, static_cast<uint32_t>(54 + stride * height));
    Put32(header + 10, 54);
    Put32(header + 14, 40);
    Put32(header + 18, wl + wr);
    Put32(header + 22, static_cast<uint32_t>(height));
    header[26] = 1, header[28] = 24;
    Put32(header + 34, static_cast<uint32_t>(stride * height));
    const std::size_t slash = dir.find_last_of('/');
    const std::string out = dir + "/" + dir.substr(slash + 1) + "-join.bmp";
    const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool ok = PwriteAll(fd, header, sizeof header, 0);
    const uint32_t chunkRows = static_cast<uint32_t>(std::max<uint64_t>(1, (1 << 20) / stride));
    std::vector<uint8_t> chunk(chunkRows * stride, 0);
    uint64_t top = height;  // one past the highest mosaic row (from the bottom) of this tile row
    for (std::size_t i = 0; i < half && ok; ++i) {
        const uint32_t h = left[i].height();
        for (uint32_t r0 = 0; r0 < h && ok; r0 += chunkRows) {
            const uint32_t rows = std::min(chunkRows, h - r0);
            for (uint32_t k = 0; k < rows && ok; ++k) {
                uint8_t* dst = chunk.data() + (rows - 1 - k) * stride;  // bottom-up in the chunk
                const uint8_t* l = left[i].Row(r0 + k);
                const uint8_t* r = right[i].Row(r0 + k);
                ok = l && r;
                if (!ok) break;
                RgbToBgr(l, dst, wl);
                RgbToBgr(r, dst + 3 * std::size_t{wl}, wr);
            }
            const uint64_t lowest = top - r0 - rows;  // mosaic row of the chunk's first row
            ok = ok && PwriteAll(fd, chunk.data(), rows * stride, 54 + lowest * stride);
        }
        top -= h;
    }
    return close(fd) == 0 && ok;
}

int Usage() {
    std::fprintf(stderr, "usage: tessaro_bench_floor write|stream|forked|decode|decodeonly|join BYTES GROUP_DIR...\n");
    return 2;
}

// One group's floor output (stream, write, decode or decodeonly), through a buffer of `chunk`
// bytes.
bool FloorGroup(const std::string& mode, uint64_t bytes, const std::string& dir,
                std::size_t chunk = kChunk) {
    std::vector<uint8_t> buffer(chunk, 0x5a), strip;
    Output out(dir + "/floor-out.bmp", bytes, mode != "decodeonly");
    bool ok = out.ok();
    if (mode == "stream" || mode == "decode" || mode == "decodeonly") {
        for (const std::string& tile : Tiles(dir)) {
            ok = ok && (mode == "stream" ? StreamFile(tile, buffer, out) : DecodeFile(tile, strip, out));
        }
    }
    if (mode == "stream") std::fill(buffer.begin(), buffer.end(), 0x5a);
    out.Fill(buffer.data(), buffer.size());
    return ok && out.ok();
}

// The stream floor with each group in a forked child, up to one child per usable processor. The
// child streams through 64 KiB, so that it touches few pages of its own: the floor is the
// process, not its buffer.
bool ForkedGroups(uint64_t bytes, char** dirs, int count) {
    cpu_set_t cpus;
    const int slots = sched_getaffinity(0, sizeof cpus, &cpus) == 0 ? std::max(CPU_COUNT(&cpus), 1) : 1;
    int running = 0;
    bool ok = true;
    const auto reap = [&] {
        int status = 0;
        ok = ok && wait(&status) > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
        --running;
    };
    for (int i = 0; i < count; ++i) {
        if (running == slots) reap();
        const pid_t pid = fork();
        if (pid == 0) _exit(FloorGroup("stream", bytes, dirs[i], 64 << 10) ? 0 : 1);
        if (pid < 0) return false;
        ++running;
    }
    while (running > 0) reap();
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) return Usage();
    const std::string mode = argv[1];
    const uint64_t bytes = std::strtoull(argv[2], nullptr, 10);
    if (mode != "write" && mode != "stream" && mode != "forked" && mode != "decode" &&
        mode != "decodeonly" && mode != "join")
        return Usage();
    if (mode == "forked") {
        if (ForkedGroups(bytes, argv + 3, argc - 3)) return 0;
        std::fprintf(stderr, "floor forked failed\n");
        return 1;
    }
    for (int i = 3; i < argc; ++i) {
        if (mode == "join" ? !JoinGroup(argv[i]) : !FloorGroup(mode, bytes, argv[i])) {
            std::fprintf(stderr, "floor %s failed in %s\n", mode.c_str(), argv[i]);
            return 1;
        }
    }
    return 0;
}
