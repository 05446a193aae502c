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
// Output files are created and truncated, written with plain write(), and closed; nothing is
// flushed to disk, as for the mosaic itself.
#include <dirent.h>
#include <fcntl.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
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
    // Fills up to the limit from `buffer` (kChunk bytes).
    void Fill(const uint8_t* buffer) {
        while (fd_ >= 0 && ok_ && written_ < limit_) Write(buffer, kChunk);
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

int Usage() {
    std::fprintf(stderr, "usage: tessaro_bench_floor write|stream|decode|decodeonly BYTES GROUP_DIR...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) return Usage();
    const std::string mode = argv[1];
    const uint64_t bytes = std::strtoull(argv[2], nullptr, 10);
    if (mode != "write" && mode != "stream" && mode != "decode" && mode != "decodeonly")
        return Usage();
    std::vector<uint8_t> buffer(kChunk, 0x5a), strip;
    for (int i = 3; i < argc; ++i) {
        const std::string dir = argv[i];
        Output out(dir + "/floor-out.bmp", bytes, mode != "decodeonly");
        bool ok = out.ok();
        if (mode == "stream" || mode == "decode") {
            for (const std::string& tile : Tiles(dir)) {
                ok = ok && (mode == "stream" ? StreamFile(tile, buffer, out)
                                             : DecodeFile(tile, strip, out));
            }
        } else if (mode == "decodeonly") {
            for (const std::string& tile : Tiles(dir)) ok = ok && DecodeFile(tile, strip, out);
        }
        if (mode == "stream") std::fill(buffer.begin(), buffer.end(), 0x5a);
        out.Fill(buffer.data());
        if (!ok || !out.ok()) {
            std::fprintf(stderr, "floor %s failed in %s\n", mode.c_str(), dir.c_str());
            return 1;
        }
    }
    return 0;
}
