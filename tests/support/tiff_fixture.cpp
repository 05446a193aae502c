#include "tiff_fixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

#include "temp_dir.h"

namespace tessaro::testing {
namespace {

struct Rgb {
    uint8_t r, g, b;
    bool operator==(const Rgb&) const = default;
};

Rgb PixelAt(const RgbImage& image, int64_t row, int64_t column) {
    const uint8_t* p = image.rgb.data() + 3 * (row * image.width + column);
    return {p[0], p[1], p[2]};
}

void Paint(RgbImage& image, int64_t row, int64_t column, Rgb colour) {
    if (row < 0 || column < 0 || row >= image.height || column >= image.width) return;
    uint8_t* p = image.rgb.data() + 3 * (row * image.width + column);
    p[0] = colour.r;
    p[1] = colour.g;
    p[2] = colour.b;
}

void FillRect(RgbImage& image, int64_t top, int64_t left, int64_t rows, int64_t columns,
              Rgb colour) {
    for (int64_t y = top; y < top + rows; ++y)
        for (int64_t x = left; x < left + columns; ++x) Paint(image, y, x, colour);
}

// Collects libtiff's error messages for the failure report; warnings are ignored.
int CollectError(TIFF*, void* text, const char* module, const char* fmt, va_list args) {
    char message[1024];
    std::vsnprintf(message, sizeof message, fmt, args);
    auto& out = *static_cast<std::string*>(text);
    out += module ? std::string(module) + ": " : std::string();
    out += message;
    out += '\n';
    return 1;
}
int IgnoreWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// Appends samples of any depth to a row, most significant bits first, as TIFF packs them.
class BitRow {
public:
    explicit BitRow(std::vector<uint8_t>& out) : out_(out) {}
    void Put(uint32_t value, int bits) {
        if (bits == 16) {
            const auto v = static_cast<uint16_t>(value);
            uint8_t bytes[2];
            std::memcpy(bytes, &v, 2);  // native order: libtiff swaps for big-endian files
            out_.insert(out_.end(), bytes, bytes + 2);
            return;
        }
        for (int i = bits - 1; i >= 0; --i) {
            if (used_ == 0) out_.push_back(0);
            if ((value >> i) & 1u) out_.back() |= static_cast<uint8_t>(0x80u >> used_);
            used_ = (used_ + 1) % 8;
        }
    }

private:
    std::vector<uint8_t>& out_;
    int used_ = 0;
};

// PackBits over a whole block, ignoring rows: repeats of 3 to 128 bytes, literals up to 128.
std::vector<uint8_t> PackBitsAcrossRows(const std::vector<uint8_t>& in) {
    std::vector<uint8_t> out;
    auto repeats = [&](std::size_t at) {
        std::size_t n = 1;
        while (at + n < in.size() && n < 128 && in[at + n] == in[at]) ++n;
        return n;
    };
    for (std::size_t i = 0; i < in.size();) {
        if (const std::size_t n = repeats(i); n >= 3) {
            out.push_back(static_cast<uint8_t>(257 - n));
            out.push_back(in[i]);
            i += n;
            continue;
        }
        std::size_t n = 1;
        while (i + n < in.size() && n < 128 && repeats(i + n) < 3) ++n;
        out.push_back(static_cast<uint8_t>(n - 1));
        out.insert(out.end(), in.begin() + static_cast<std::ptrdiff_t>(i),
                   in.begin() + static_cast<std::ptrdiff_t>(i + n));
        i += n;
    }
    return out;
}

// Writes one strip or tile, encoded by libtiff or, for runsAcrossRows, by PackBitsAcrossRows.
bool WriteBlock(TIFF* t, const TiffOptions& o, uint32_t index, std::vector<uint8_t> data) {
    const bool raw = o.runsAcrossRows && o.compression == COMPRESSION_PACKBITS;
    if (raw) data = PackBitsAcrossRows(data);
    const auto size = static_cast<tmsize_t>(data.size());
    if (o.tiled)
        return (raw ? TIFFWriteRawTile(t, index, data.data(), size)
                    : TIFFWriteEncodedTile(t, index, data.data(), size)) != -1;
    return (raw ? TIFFWriteRawStrip(t, index, data.data(), size)
                : TIFFWriteEncodedStrip(t, index, data.data(), size)) != -1;
}

class Writer {
public:
    Writer(const RgbImage& image, const TiffOptions& options) : image_(image), o_(options) {}

    // `leadingEntry`: also write a SubfileType entry, which comes first in the directory.
    void Write(const std::string& path, bool leadingEntry = false);

private:
    bool Jpeg() const { return o_.compression == COMPRESSION_JPEG; }
    bool YCbCr() const { return o_.photometric == PHOTOMETRIC_YCBCR; }
    // 2 x 2 YCbCr blocks we pack ourselves (JPEG does its own).
    bool Blocks() const { return YCbCr() && !Jpeg() && o_.ycbcrSubsampling == 2; }
    int ColourSamples() const {
        switch (o_.photometric) {
            case PHOTOMETRIC_RGB:
            case PHOTOMETRIC_YCBCR:
                return 3;
            case PHOTOMETRIC_SEPARATED:
                return 4;
            default:
                return 1;
        }
    }
    int Samples() const { return ColourSamples() + (o_.alpha != ExtraAlpha::none ? 1 : 0); }

    // The displayed pixel that the stored pixel (row, column) shows, clamped into the picture
    // so that padding repeats the edge.
    Rgb Displayed(int64_t row, int64_t column, uint8_t* alpha) const;
    // All samples of the stored pixel, scaled to the bit depth.
    void StoredSamples(int64_t row, int64_t column, uint32_t* samples) const;
    // A strip or tile: stored rows [top, top + rows), columns [left, left + columns) of
    // `plane` (or all samples when contiguous).
    std::vector<uint8_t> Block(int plane, int64_t top, int64_t rows, int64_t left,
                               int64_t columns) const;
    void BuildPalette();
    uint32_t PaletteIndex(Rgb colour) const;

    const RgbImage& image_;
    const TiffOptions& o_;
    std::vector<Rgb> palette_;
};

Rgb Writer::Displayed(int64_t row, int64_t column, uint8_t* alpha) const {
    const int64_t w = image_.width;
    const int64_t h = image_.height;
    row = std::clamp<int64_t>(row, 0, h - 1);
    column = std::clamp<int64_t>(column, 0, w - 1);
    switch (o_.orientation) {
        case ORIENTATION_TOPRIGHT:
        case ORIENTATION_RIGHTTOP:
            column = w - 1 - column;
            break;
        case ORIENTATION_BOTRIGHT:
        case ORIENTATION_RIGHTBOT:
            column = w - 1 - column;
            row = h - 1 - row;
            break;
        case ORIENTATION_BOTLEFT:
        case ORIENTATION_LEFTBOT:
            row = h - 1 - row;
            break;
        default:
            break;
    }
    *alpha = o_.varyingAlpha ? static_cast<uint8_t>(255 - (row * 7 + column * 13) % 200) : 255;
    return PixelAt(image_, row, column);
}

void Writer::StoredSamples(int64_t row, int64_t column, uint32_t* samples) const {
    uint8_t alpha = 255;
    const Rgb p = Displayed(row, column, &alpha);
    const int bits = o_.bitsPerSample;
    const uint32_t range = bits == 16 ? 65535u : (1u << bits) - 1;
    // 8-bit value -> stored depth
    auto scale = [&](uint8_t v) -> uint32_t {
        return bits == 16 ? v * 257u : static_cast<uint32_t>(v) >> (8 - bits);
    };
    int n = 0;
    switch (o_.photometric) {
        case PHOTOMETRIC_MINISBLACK:
            samples[n++] = scale(GreyOf(p.r, p.g, p.b));
            break;
        case PHOTOMETRIC_MINISWHITE:
            samples[n++] = range - scale(GreyOf(p.r, p.g, p.b));
            break;
        case PHOTOMETRIC_PALETTE:
            samples[n++] = PaletteIndex(p);
            break;
        case PHOTOMETRIC_SEPARATED:
            samples[n++] = scale(static_cast<uint8_t>(255 - p.r));
            samples[n++] = scale(static_cast<uint8_t>(255 - p.g));
            samples[n++] = scale(static_cast<uint8_t>(255 - p.b));
            samples[n++] = 0;
            break;
        case PHOTOMETRIC_YCBCR:
            if (!Jpeg()) {
                const double y = 0.299 * p.r + 0.587 * p.g + 0.114 * p.b;
                auto byte = [](double v) {
                    return static_cast<uint32_t>(std::clamp(std::lround(v), 0L, 255L));
                };
                samples[n++] = byte(y);
                samples[n++] = byte((p.b - y) / 1.772 + 128);
                samples[n++] = byte((p.r - y) / 1.402 + 128);
                break;
            }
            [[fallthrough]];  // JPEG takes RGB and converts itself
        default:
            samples[n++] = scale(p.r);
            samples[n++] = scale(p.g);
            samples[n++] = scale(p.b);
            break;
    }
    if (o_.alpha != ExtraAlpha::none) samples[n++] = scale(alpha);
}

std::vector<uint8_t> Writer::Block(int plane, int64_t top, int64_t rows, int64_t left,
                                   int64_t columns) const {
    std::vector<uint8_t> out;
    uint32_t samples[8];
    if (Blocks()) {
        // Each 2 x 2 block: its four Y (row by row), then Cb and Cr averaged over the block.
        for (int64_t y = top; y < top + rows; y += 2)
            for (int64_t x = left; x < left + columns; x += 2) {
                uint32_t cb = 0, cr = 0;
                for (int dy = 0; dy < 2; ++dy)
                    for (int dx = 0; dx < 2; ++dx) {
                        StoredSamples(y + dy, x + dx, samples);
                        out.push_back(static_cast<uint8_t>(samples[0]));
                        cb += samples[1];
                        cr += samples[2];
                    }
                out.push_back(static_cast<uint8_t>((cb + 2) / 4));
                out.push_back(static_cast<uint8_t>((cr + 2) / 4));
            }
        return out;
    }
    for (int64_t y = top; y < top + rows; ++y) {
        BitRow row(out);
        for (int64_t x = left; x < left + columns; ++x) {
            StoredSamples(y, x, samples);
            if (o_.planarSeparate)
                row.Put(samples[plane], o_.bitsPerSample);
            else
                for (int s = 0; s < Samples(); ++s) row.Put(samples[s], o_.bitsPerSample);
        }
    }
    return out;
}

void Writer::BuildPalette() {
    const std::size_t entries = std::size_t{1} << o_.bitsPerSample;
    for (int64_t i = 0; i < int64_t{image_.width} * image_.height; ++i) {
        const Rgb c = PixelAt(image_, i / image_.width, i % image_.width);
        if (palette_.size() < entries && std::find(palette_.begin(), palette_.end(), c) ==
                                             palette_.end())
            palette_.push_back(c);
    }
}

uint32_t Writer::PaletteIndex(Rgb colour) const {
    uint32_t best = 0;
    int64_t bestDistance = INT64_MAX;
    for (uint32_t i = 0; i < palette_.size(); ++i) {
        const int64_t dr = palette_[i].r - colour.r, dg = palette_[i].g - colour.g,
                      db = palette_[i].b - colour.b;
        const int64_t d = dr * dr + dg * dg + db * db;
        if (d < bestDistance) best = i, bestDistance = d;
    }
    return best;
}

void Writer::Write(const std::string& path, bool leadingEntry) {
    ASSERT_GE(image_.width, 1);
    ASSERT_GE(image_.height, 1);
    ASSERT_EQ(image_.rgb.size(), std::size_t{3} * image_.width * image_.height);

    std::string errors;
    std::unique_ptr<TIFFOpenOptions, void (*)(TIFFOpenOptions*)> options(TIFFOpenOptionsAlloc(),
                                                                         &TIFFOpenOptionsFree);
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), &CollectError, &errors);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), &IgnoreWarning, nullptr);
    std::string mode = o_.bigEndian ? "wb" : "wl";
    if (o_.bigTiff) mode += '8';
    std::unique_ptr<TIFF, void (*)(TIFF*)> tif(OpenTiff(path, mode.c_str(), options.get()),
                                               &TIFFClose);
    ASSERT_TRUE(tif) << path << ": " << errors;
    TIFF* t = tif.get();

    const uint16_t samples = static_cast<uint16_t>(Samples());
    bool ok = TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(image_.width)) &&
              TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(image_.height)) &&
              TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, o_.bitsPerSample) &&
              TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, samples) &&
              TIFFSetField(t, TIFFTAG_PHOTOMETRIC, o_.photometric) &&
              TIFFSetField(t, TIFFTAG_PLANARCONFIG,
                           o_.planarSeparate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG) &&
              TIFFSetField(t, TIFFTAG_ORIENTATION, o_.orientation) &&
              TIFFSetField(t, TIFFTAG_COMPRESSION, o_.compression);
    if (leadingEntry) ok = ok && TIFFSetField(t, TIFFTAG_SUBFILETYPE, uint32_t{0});
    if (o_.alpha != ExtraAlpha::none) {
        const uint16_t kind = o_.alpha == ExtraAlpha::associated ? EXTRASAMPLE_ASSOCALPHA
                                                                 : EXTRASAMPLE_UNASSALPHA;
        ok = ok && TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &kind);
    }
    if (o_.photometric == PHOTOMETRIC_SEPARATED)
        ok = ok && TIFFSetField(t, TIFFTAG_INKSET, INKSET_CMYK);
    if (o_.photometric == PHOTOMETRIC_PALETTE) {
        BuildPalette();
        const std::size_t entries = std::size_t{1} << o_.bitsPerSample;
        std::vector<uint16_t> r(entries), g(entries), b(entries);
        for (std::size_t i = 0; i < palette_.size(); ++i) {
            r[i] = static_cast<uint16_t>(palette_[i].r * 257);
            g[i] = static_cast<uint16_t>(palette_[i].g * 257);
            b[i] = static_cast<uint16_t>(palette_[i].b * 257);
        }
        ok = ok && TIFFSetField(t, TIFFTAG_COLORMAP, r.data(), g.data(), b.data());
    }
    if (o_.predictor != PREDICTOR_NONE) ok = ok && TIFFSetField(t, TIFFTAG_PREDICTOR, o_.predictor);
    if (Jpeg()) {
        ok = ok && TIFFSetField(t, TIFFTAG_JPEGQUALITY, o_.jpegQuality);
        if (YCbCr()) ok = ok && TIFFSetField(t, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    } else if (YCbCr()) {
        float reference[6] = {0, 255, 128, 255, 128, 255};
        ok = ok &&
             TIFFSetField(t, TIFFTAG_YCBCRSUBSAMPLING, o_.ycbcrSubsampling,
                          o_.ycbcrSubsampling) &&
             TIFFSetField(t, TIFFTAG_REFERENCEBLACKWHITE, reference);
    }
    if (o_.tiled)
        ok = ok && TIFFSetField(t, TIFFTAG_TILEWIDTH, o_.tileWidth) &&
             TIFFSetField(t, TIFFTAG_TILELENGTH, o_.tileLength);
    else
        ok = ok && TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, o_.rowsPerStrip);
    ASSERT_TRUE(ok) << path << ": " << errors;

    const int planes = o_.planarSeparate ? Samples() : 1;
    for (int plane = 0; plane < planes; ++plane) {
        if (o_.tiled) {
            for (uint32_t y = 0; y < static_cast<uint32_t>(image_.height); y += o_.tileLength)
                for (uint32_t x = 0; x < static_cast<uint32_t>(image_.width); x += o_.tileWidth) {
                    const uint32_t tile = TIFFComputeTile(t, x, y, 0, static_cast<uint16_t>(plane));
                    ASSERT_TRUE(WriteBlock(t, o_, tile,
                                           Block(plane, y, o_.tileLength, x, o_.tileWidth)))
                        << path << ": " << errors;
                }
        } else {
            for (uint32_t y = 0; y < static_cast<uint32_t>(image_.height); y += o_.rowsPerStrip) {
                const uint32_t rows =
                    std::min<uint32_t>(o_.rowsPerStrip, static_cast<uint32_t>(image_.height) - y);
                const uint32_t strip = TIFFComputeStrip(t, y, static_cast<uint16_t>(plane));
                ASSERT_TRUE(WriteBlock(t, o_, strip, Block(plane, y, rows, 0, image_.width)))
                    << path << ": " << errors;
            }
        }
    }
    ASSERT_TRUE(TIFFWriteDirectory(t)) << path << ": " << errors;
    tif.reset();
    EXPECT_EQ(errors, "") << path;
}

std::vector<uint8_t> BgrBottomUp(const RgbImage& image, Rgb (*colour)(Rgb, int), int bits) {
    std::vector<uint8_t> out;
    out.reserve(image.rgb.size());
    for (int64_t row = image.height - 1; row >= 0; --row)
        for (int64_t column = 0; column < image.width; ++column) {
            const Rgb c = colour(PixelAt(image, row, column), bits);
            out.push_back(c.b);
            out.push_back(c.g);
            out.push_back(c.r);
        }
    return out;
}

}  // namespace

RgbImage MarkedTile(int32_t width, int32_t height, uint8_t r, uint8_t g, uint8_t b) {
    RgbImage image{width, height, {}};
    image.rgb.resize(std::size_t{3} * std::max(width, 0) * std::max(height, 0));
    const Rgb background{r, g, b};
    const Rgb ink{static_cast<uint8_t>(r ^ 0x80), static_cast<uint8_t>(g ^ 0x80),
                  static_cast<uint8_t>(b ^ 0x80)};
    const Rgb corner{static_cast<uint8_t>(~r), static_cast<uint8_t>(g ^ 0x40),
                     static_cast<uint8_t>(b ^ 0xc0)};
    FillRect(image, 0, 0, height, width, background);
    // An "F": a stem down the left, a long arm at the top, a shorter one in the middle.
    const int64_t stroke = std::max(1, std::min(width, height) / 10);
    const int64_t left = width / 8, top = height / 8;
    FillRect(image, top, left, height - 2 * top, stroke, ink);
    FillRect(image, top, left, stroke, width / 2, ink);
    FillRect(image, height / 2, left, stroke, width / 3, ink);
    const int64_t square = std::max(1, std::min(width, height) / 8);
    FillRect(image, height - square, width - square, square, square, corner);
    return image;
}

RgbImage PatternTile(int32_t width, int32_t height, uint8_t seed) {
    RgbImage image{width, height, {}};
    image.rgb.resize(std::size_t{3} * std::max(width, 0) * std::max(height, 0));
    for (int64_t y = 0; y < height; ++y)
        for (int64_t x = 0; x < width; ++x)
            Paint(image, y, x,
                  {static_cast<uint8_t>(x * 5 + y * 3 + seed),
                   static_cast<uint8_t>((x * 11) ^ (y * 7) ^ seed),
                   static_cast<uint8_t>(x * y + 17 * y + seed * 3)});
    return image;
}

uint8_t GreyOf(uint8_t r, uint8_t g, uint8_t b) {
    return static_cast<uint8_t>((77 * r + 150 * g + 29 * b + 128) / 256);
}

std::vector<uint8_t> ExpectedBgrBottomUp(const RgbImage& image) {
    return BgrBottomUp(image, [](Rgb c, int) { return c; }, 8);
}

std::vector<uint8_t> ExpectedGreyBgrBottomUp(const RgbImage& image, int bitsPerSample) {
    return BgrBottomUp(
        image,
        [](Rgb c, int bits) {
            uint8_t v = GreyOf(c.r, c.g, c.b);
            if (bits < 8) {
                const int range = (1 << bits) - 1;
                v = static_cast<uint8_t>((v >> (8 - bits)) * 255 / range);
            }
            return Rgb{v, v, v};
        },
        bitsPerSample);
}

void WriteTiff(const std::string& path, const RgbImage& image, const TiffOptions& options) {
    Writer(image, options).Write(path);
}

void WriteTiffWithUndefinedEntry(const std::string& path, const RgbImage& image,
                                  const TiffOptions& options) {
    ASSERT_FALSE(options.bigTiff);
    Writer(image, options).Write(path, /*leadingEntry*/ true);
    std::string bytes = ReadBytes(path);
    ASSERT_GE(bytes.size(), 8u);
    const bool big = bytes[0] == 'M';
    auto get = [&](std::size_t at, int size) {
        uint32_t v = 0;
        for (int i = 0; i < size; ++i) {
            const auto byte = static_cast<uint8_t>(bytes.at(at + (big ? i : size - 1 - i)));
            v = (v << 8) | byte;
        }
        return v;
    };
    // The first entry follows the directory's 2-byte count: tag, then type.
    const std::size_t entry = get(4, 4) + 2;
    ASSERT_EQ(get(entry, 2), uint32_t{TIFFTAG_SUBFILETYPE});
    bytes.at(entry) = bytes.at(entry + 1) = '\0';
    bytes.at(entry + (big ? 3 : 2)) = '\x55';
    bytes.at(entry + (big ? 2 : 3)) = '\0';
    WriteBytes(path, bytes);
}

TIFF* OpenTiff(const std::string& path, const char* mode, TIFFOpenOptions* options) {
#ifdef _WIN32
    return TIFFOpenWExt(FsPath(path).c_str(), mode, options);
#else
    return TIFFOpenExt(path.c_str(), mode, options);
#endif
}

void WriteBytes(const std::string& path, std::string_view bytes) {
    std::ofstream out(FsPath(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) ADD_FAILURE() << "cannot write " << path;
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(FsPath(path), std::ios::binary);
    if (!in) ADD_FAILURE() << "cannot read " << path;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace tessaro::testing
