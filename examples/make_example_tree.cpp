// Writes the example tree: one small landscape picture cut into the tiles of a 2-, a 4- and a
// 6-tile directory, stored in a few TIFF flavours, plus a directory whose three tiles cannot be
// joined. Run tessaro on the tree and each good directory gets the whole picture back as a BMP.
//
//   make_example_tree DIR
#include <sys/stat.h>
#include <tiffio.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 241;   // odd on purpose: the columns are 121 and 120 wide
constexpr int kHeight = 181;  // rows of 61, 60 and 60

struct Rgb {
    uint8_t r, g, b;
};

// A sky, a sun in the upper left, rolling hills and a red house on the right: easy to recognise,
// and any swapped or flipped tile shows at once.
Rgb Landscape(int x, int y) {
    const double hill = 120 + 14 * std::sin(x / 23.0) + 8 * std::sin(x / 9.0);
    const double sunX = x - 60.0, sunY = y - 45.0;
    if (sunX * sunX + sunY * sunY < 22 * 22) return {255, 214, 40};
    if (x >= 160 && x < 210 && y >= 92 && y < 130) {
        if (x >= 178 && x < 192 && y >= 110) return {90, 50, 20};      // door
        return {200, 40, 40};                                          // walls
    }
    if (x >= 155 && x < 215 && y >= 70 && y < 92 && std::abs(x - 185) < (y - 70) * 1.4)
        return {110, 60, 40};                                          // roof
    if (y > hill) return {static_cast<uint8_t>(40 + (y - 120) / 2), 150, 60};
    return {static_cast<uint8_t>(90 + y / 2), static_cast<uint8_t>(160 + y / 3), 250};
}

bool WriteTile(const std::string& path, int x0, int y0, int w, int h, uint16_t compression,
               bool tiled) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (!tif) return false;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
    std::vector<uint8_t> pixels(static_cast<size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            Rgb c = Landscape(x0 + x, y0 + y);
            uint8_t* p = &pixels[(static_cast<size_t>(y) * w + x) * 3];
            p[0] = c.r, p[1] = c.g, p[2] = c.b;
        }
    bool ok = true;
    if (tiled) {
        const int tw = 32, th = 32;
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, tw);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, th);
        std::vector<uint8_t> tile(static_cast<size_t>(tw) * th * 3);
        for (int ty = 0; ty < h; ty += th)
            for (int tx = 0; tx < w; tx += tw) {
                std::fill(tile.begin(), tile.end(), 0);
                for (int y = ty; y < std::min(h, ty + th); ++y)
                    for (int x = tx; x < std::min(w, tx + tw); ++x)
                        for (int c = 0; c < 3; ++c)
                            tile[((y - ty) * tw + (x - tx)) * 3 + c] =
                                pixels[(static_cast<size_t>(y) * w + x) * 3 + c];
                ok = ok && TIFFWriteTile(tif, tile.data(), tx, ty, 0, 0) >= 0;
            }
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 16);
        for (int y = 0; y < h && ok; ++y)
            ok = TIFFWriteScanline(tif, &pixels[static_cast<size_t>(y) * w * 3], y, 0) >= 0;
    }
    TIFFClose(tif);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    const std::string root = argv[1];
    const int leftW = 121, rightW = kWidth - leftW;
    bool ok = true;
    for (const char* dir : {"", "/landscape-2", "/landscape-4", "/landscape-6", "/three-tiles"})
        mkdir((root + dir).c_str(), 0777);
    // Two tiles side by side, uncompressed strips.
    ok = ok && WriteTile(root + "/landscape-2/1.tif", 0, 0, leftW, kHeight, COMPRESSION_NONE, false);
    ok = ok && WriteTile(root + "/landscape-2/2.tif", leftW, 0, rightW, kHeight, COMPRESSION_NONE, false);
    // Four tiles, LZW: left column top to bottom, then the right column.
    const int topH = 91, bottomH = kHeight - topH;
    ok = ok && WriteTile(root + "/landscape-4/a.tif", 0, 0, leftW, topH, COMPRESSION_LZW, false);
    ok = ok && WriteTile(root + "/landscape-4/b.tif", 0, topH, leftW, bottomH, COMPRESSION_LZW, false);
    ok = ok && WriteTile(root + "/landscape-4/c.tif", leftW, 0, rightW, topH, COMPRESSION_LZW, false);
    ok = ok && WriteTile(root + "/landscape-4/d.tif", leftW, topH, rightW, bottomH, COMPRESSION_LZW, false);
    // Six tiles, tiled TIFFs with Deflate.
    const int rowH[3] = {61, 60, 60};
    int names = 1;
    for (int column = 0; column < 2; ++column)
        for (int row = 0, y = 0; row < 3; y += rowH[row], ++row)
            ok = ok && WriteTile(root + "/landscape-6/" + std::to_string(names++) + ".tif",
                                 column ? leftW : 0, y, column ? rightW : leftW, rowH[row],
                                 COMPRESSION_ADOBE_DEFLATE, true);
    // Three tiles cannot make a mosaic two tiles wide.
    for (int i = 1; i <= 3; ++i)
        ok = ok && WriteTile(root + "/three-tiles/" + std::to_string(i) + ".tif", 0, 0, 40, 30,
                             COMPRESSION_NONE, false);
    if (!ok) std::fprintf(stderr, "make_example_tree: could not write the tiles in %s\n", argv[1]);
    return ok ? 0 : 1;
}
