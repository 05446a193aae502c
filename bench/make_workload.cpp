// Writes the benchmark's workloads: directories of TIFF tiles for tessaro to join.
//
//   tessaro_bench_make_workload [--full] [--only NAME[,NAME...]] [--list] DIR
//
// Each workload NAME goes to DIR/NAME: one or more group directories of 2, 4 or 6 tiles
// (tile_1.tif, tile_2.tif, ... in the order tessaro reads them: left column top to bottom, then
// the right column), so the tiles put back together show one continuous picture. Next to the
// groups, DIR/NAME/workload.txt describes the workload in one line of key=value fields; it is
// written last, so a workload whose file is there and matches the requested size is complete and
// is not written again.
//
// Workloads (quick size / --full size):
//   raw4     4 tiles, uncompressed RGB            1024^2 / 4096^2 (full: 192 MiB mosaic)
//   lzw4     4 tiles, LZW + horizontal predictor  1024^2 / 4096^2
//   jpeg4    4 tiles, JPEG quality 90, stored as YCbCr with 2x2 chroma subsampling (the form
//            cameras and scanners write)          1024^2 / 4096^2
//   jpegrgb4 4 tiles, JPEG quality 90, RGB components, no subsampling (only with --only)
//   raw6     6 tiles, uncompressed RGB            1500x1000 / 6000x4000 (full: 412 MiB mosaic)
//   small    4 tiles of 256^2 uncompressed in each of 50 / 400 directories
//
// Content: horizontal and vertical colour ramps, a diagonal wave, a coarse checker and a few bits
// of per-pixel noise, so LZW and JPEG compress about as well as they do on photographs rather
// than collapsing a flat picture. Strips hold about 64 KiB of decoded rows (a multiple of 16 rows
// for subsampled JPEG), as common writers choose.
#include <sys/stat.h>
#include <tiffio.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

enum class Codec { raw, lzw, jpegYcbcr, jpegRgb };

struct Workload {
    std::string name;
    Codec codec;
    int tiles;       // per group
    int tileWidth;
    int tileHeight;
    int groups;
};

const char* CodecName(Codec c) {
    switch (c) {
        case Codec::raw: return "none";
        case Codec::lzw: return "lzw+predictor";
        case Codec::jpegYcbcr: return "jpeg-ycbcr420-q90";
        case Codec::jpegRgb: return "jpeg-rgb-q90";
    }
    return "?";
}

std::vector<Workload> AllWorkloads(bool full) {
    const int big = full ? 4096 : 1024;
    return {
        {"raw4", Codec::raw, 4, big, big, 1},
        {"lzw4", Codec::lzw, 4, big, big, 1},
        {"jpeg4", Codec::jpegYcbcr, 4, big, big, 1},
        {"jpegrgb4", Codec::jpegRgb, 4, big, big, 1},
        {"raw6", Codec::raw, 6, full ? 6000 : 1500, full ? 4000 : 1000, 1},
        {"small", Codec::raw, 4, 256, 256, full ? 400 : 50},
    };
}

bool DefaultWorkload(const std::string& name) { return name != "jpegrgb4"; }

// Mosaic geometry: two tiles wide, tiles / 2 high.
uint64_t MosaicWidth(const Workload& w) { return 2ull * w.tileWidth; }
uint64_t MosaicHeight(const Workload& w) { return uint64_t(w.tiles / 2) * w.tileHeight; }
uint64_t MosaicBytes(const Workload& w) {
    const uint64_t stride = (3 * MosaicWidth(w) + 3) / 4 * 4;
    return 54 + stride * MosaicHeight(w);
}

std::string Describe(const Workload& w, const std::string& size) {
    std::ostringstream s;
    s << "name=" << w.name << " size=" << size << " codec=" << CodecName(w.codec)
      << " groups=" << w.groups << " tiles=" << w.tiles << " tile_w=" << w.tileWidth
      << " tile_h=" << w.tileHeight << " mosaic_w=" << MosaicWidth(w)
      << " mosaic_h=" << MosaicHeight(w) << " mosaic_bytes=" << MosaicBytes(w);
    return s.str();
}

// A cheap integer hash for the noise (no two neighbours alike, same every run).
inline uint32_t Hash(uint32_t x, uint32_t y, uint32_t seed) {
    uint32_t h = x * 0x9E3779B1u ^ (y + seed) * 0x85EBCA77u;
    h ^= h >> 15;
    h *= 0xC2B2AE3Du;
    h ^= h >> 13;
    return h;
}

struct Picture {
    uint32_t width, height, seed;
    std::vector<uint8_t> wave;  // one period of a sine, 0..96

    Picture(uint32_t w, uint32_t h, uint32_t s) : width(w), height(h), seed(s), wave(1024) {
        for (int i = 0; i < 1024; ++i)
            wave[i] = static_cast<uint8_t>(48 + 47 * std::sin(i * 2 * M_PI / 1024));
    }

    // One row of the whole picture from column x0, count pixels, RGB.
    void Row(uint32_t y, uint32_t x0, uint32_t count, uint8_t* out) const {
        const uint32_t g0 = static_cast<uint32_t>(uint64_t{y} * 200 / height);
        for (uint32_t i = 0; i < count; ++i) {
            const uint32_t x = x0 + i;
            const uint32_t h = Hash(x, y, seed);
            const int checker = (((x >> 6) ^ (y >> 6)) & 1) ? 18 : 0;
            const int r = static_cast<int>(uint64_t{x} * 200 / width) + checker + (h & 15);
            const int g = static_cast<int>(g0) + wave[(x * 3 + y * 5) & 1023] / 3 + ((h >> 4) & 15);
            const int b = wave[(x + 2 * y) & 1023] + wave[(3 * x - y) & 1023] + checker +
                          ((h >> 8) & 15);
            out[3 * i] = static_cast<uint8_t>(std::min(r, 255));
            out[3 * i + 1] = static_cast<uint8_t>(std::min(g, 255));
            out[3 * i + 2] = static_cast<uint8_t>(std::min(b, 255));
        }
    }
};

void QuietHandler(const char*, const char*, va_list) {}

bool WriteTile(const std::string& path, const Workload& w, const Picture& pic, uint32_t x0,
               uint32_t y0) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (!tif) return false;
    const uint32_t width = w.tileWidth, height = w.tileHeight;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    const uint64_t rowBytes = uint64_t{width} * 3;
    uint32_t rowsPerStrip = static_cast<uint32_t>(std::max<uint64_t>(1, 65536 / rowBytes));
    switch (w.codec) {
        case Codec::raw:
            TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
            break;
        case Codec::lzw:
            TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
            TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
            break;
        case Codec::jpegYcbcr:
            TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_JPEG);
            TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
            TIFFSetField(tif, TIFFTAG_YCBCRSUBSAMPLING, 2, 2);
            TIFFSetField(tif, TIFFTAG_JPEGQUALITY, 90);
            TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);  // libjpeg converts
            rowsPerStrip = (rowsPerStrip + 15) / 16 * 16;
            break;
        case Codec::jpegRgb:
            TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_JPEG);
            TIFFSetField(tif, TIFFTAG_JPEGQUALITY, 90);
            rowsPerStrip = (rowsPerStrip + 7) / 8 * 8;
            break;
    }
    rowsPerStrip = std::min(rowsPerStrip, height);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);

    std::vector<uint8_t> strip(rowsPerStrip * rowBytes);
    bool ok = true;
    for (uint32_t first = 0, index = 0; first < height && ok; first += rowsPerStrip, ++index) {
        const uint32_t rows = std::min(rowsPerStrip, height - first);
        for (uint32_t r = 0; r < rows; ++r) pic.Row(y0 + first + r, x0, width, &strip[r * rowBytes]);
        ok = TIFFWriteEncodedStrip(tif, index, strip.data(), static_cast<tmsize_t>(rows * rowBytes)) >= 0;
    }
    TIFFClose(tif);
    return ok;
}

bool MakeDir(const std::string& path) {
    return mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
}

// Creates path and any missing parents.
bool MakeDirs(const std::string& path) {
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1))
        if (!MakeDir(path.substr(0, slash))) return false;
    return MakeDir(path);
}

bool Complete(const std::string& dir, const std::string& description) {
    std::ifstream in(dir + "/workload.txt");
    std::string line;
    return std::getline(in, line) && line == description;
}

bool WriteWorkload(const std::string& root, const Workload& w, const std::string& size) {
    const std::string dir = root + "/" + w.name;
    const std::string description = Describe(w, size);
    if (Complete(dir, description)) {
        std::printf("%s: present\n", w.name.c_str());
        return true;
    }
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);  // a partial or other-sized earlier copy
    if (!MakeDir(dir)) return false;
    std::printf("%s: writing %d group(s) of %d tiles %dx%d (%s)\n", w.name.c_str(), w.groups,
                w.tiles, w.tileWidth, w.tileHeight, CodecName(w.codec));
    std::fflush(stdout);
    const int rows = w.tiles / 2;
    for (int g = 0; g < w.groups; ++g) {
        char groupName[32];
        if (w.groups == 1)
            std::snprintf(groupName, sizeof groupName, "%s", w.name.c_str());
        else
            std::snprintf(groupName, sizeof groupName, "g%04d", g);
        const std::string groupDir = dir + "/" + groupName;
        if (!MakeDir(groupDir)) return false;
        const Picture pic(static_cast<uint32_t>(MosaicWidth(w)), static_cast<uint32_t>(MosaicHeight(w)),
                          static_cast<uint32_t>(g) * 7919u);
        for (int t = 0; t < w.tiles; ++t) {
            const uint32_t x0 = (t / rows) * w.tileWidth;  // left column first
            const uint32_t y0 = (t % rows) * w.tileHeight;  // top to bottom
            const std::string path = groupDir + "/tile_" + std::to_string(t + 1) + ".tif";
            if (!WriteTile(path, w, pic, x0, y0)) {
                std::fprintf(stderr, "cannot write %s\n", path.c_str());
                return false;
            }
        }
    }
    std::ofstream out(dir + "/workload.txt");
    out << description << "\n";
    return static_cast<bool>(out.flush());
}

int Usage() {
    std::fprintf(stderr,
                 "usage: tessaro_bench_make_workload [--full] [--only NAME[,NAME...]] [--list] DIR\n"
                 "workloads: raw4 lzw4 jpeg4 raw6 small (default set), jpegrgb4 (on request)\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    bool full = false, list = false;
    std::string only, root;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--full") full = true;
        else if (arg == "--quick") full = false;
        else if (arg == "--list") list = true;
        else if (arg == "--only" && i + 1 < argc) only = "," + std::string(argv[++i]) + ",";
        else if (!arg.empty() && arg[0] == '-') return Usage();
        else root = arg;
    }
    const std::string size = full ? "full" : "quick";
    std::vector<Workload> chosen;
    for (const Workload& w : AllWorkloads(full)) {
        const bool wanted = only.empty() ? DefaultWorkload(w.name)
                                         : only.find("," + w.name + ",") != std::string::npos;
        if (wanted) chosen.push_back(w);
    }
    if (list) {
        for (const Workload& w : chosen) std::printf("%s\n", Describe(w, size).c_str());
        return 0;
    }
    if (root.empty() || chosen.empty()) return Usage();
    TIFFSetWarningHandler(QuietHandler);
    if (!MakeDirs(root)) {
        std::fprintf(stderr, "cannot create %s\n", root.c_str());
        return 1;
    }
    for (const Workload& w : chosen)
        if (!WriteWorkload(root, w, size)) return 1;
    return 0;
}
