// The 54 header bytes of a bitmap, laid out one byte at a time so the result is the same on any
// host, whatever its byte order or struct packing.
#include <cstddef>

#include "bmp/bmp_file.h"

namespace tessaro {
namespace {

class HeaderWriter {
public:
    explicit HeaderWriter(std::array<uint8_t, kBmpHeaderSize>& bytes) : bytes_(bytes) {}
    void Bytes(char a, char b) {
        bytes_[pos_++] = static_cast<uint8_t>(a);
        bytes_[pos_++] = static_cast<uint8_t>(b);
    }
    void U16(uint16_t value) {
        for (int i = 0; i < 2; ++i) bytes_[pos_++] = static_cast<uint8_t>(value >> (8 * i));
    }
    void U32(uint32_t value) {
        for (int i = 0; i < 4; ++i) bytes_[pos_++] = static_cast<uint8_t>(value >> (8 * i));
    }
    // Signed fields are stored as their two's complement bit pattern.
    void I32(int32_t value) { U32(static_cast<uint32_t>(value)); }

private:
    std::array<uint8_t, kBmpHeaderSize>& bytes_;
    std::size_t pos_ = 0;
};

constexpr uint32_t kInfoHeaderSize = 40;

}  // namespace

std::array<uint8_t, kBmpHeaderSize> MakeBmpHeader(int32_t width, int32_t height) {
    const auto imageSize = static_cast<uint32_t>(BmpImageSize(width, height));
    std::array<uint8_t, kBmpHeaderSize> bytes{};
    HeaderWriter out(bytes);
    // File header.
    out.Bytes('B', 'M');
    out.U32(imageSize + kBmpHeaderSize);  // file size
    out.U16(0);                           // reserved
    out.U16(0);                           // reserved
    out.U32(kBmpHeaderSize);              // offset of the pixel block
    // Info header.
    out.U32(kInfoHeaderSize);
    out.I32(width);
    out.I32(height);  // positive: rows stored bottom-up
    out.U16(1);       // planes
    out.U16(24);      // bits per pixel
    out.U32(0);       // no compression
    out.U32(imageSize);
    out.I32(0);  // horizontal pixels per metre: unspecified
    out.I32(0);  // vertical pixels per metre: unspecified
    out.U32(0);  // colours used: none (no palette)
    out.U32(0);  // important colours: all
    return bytes;
}

}  // namespace tessaro
