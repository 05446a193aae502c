#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "bmp/bmp_file.h"

namespace tessaro {
namespace {

using Header = std::array<uint8_t, kBmpHeaderSize>;

TEST(BmpHeader, RowsArePaddedToFourBytes) {
    EXPECT_EQ(BmpStride(1), 4u);
    EXPECT_EQ(BmpStride(4), 12u);
    EXPECT_EQ(BmpStride(5), 16u);
    EXPECT_EQ(BmpImageSize(1, 1), 4u);
    EXPECT_EQ(BmpImageSize(5, 2), 32u);
}

TEST(BmpHeader, OnePixel) {
    const Header expected = {
        'B', 'M', 0x3A, 0, 0, 0,  // file size 58
        0, 0, 0, 0,               // reserved
        0x36, 0, 0, 0,            // pixels at 54
        0x28, 0, 0, 0,            // info header size 40
        1, 0, 0, 0,               // width
        1, 0, 0, 0,               // height (bottom-up)
        1, 0, 0x18, 0,            // planes, 24 bits
        0, 0, 0, 0,               // uncompressed
        4, 0, 0, 0,               // image size
        0, 0, 0, 0, 0, 0, 0, 0,   // pixels per metre
        0, 0, 0, 0, 0, 0, 0, 0,   // colours used, important colours
    };
    EXPECT_EQ(MakeBmpHeader(1, 1), expected);
}

TEST(BmpHeader, FiveByTwo) {
    const Header expected = {
        'B', 'M', 0x56, 0, 0, 0,  // file size 86
        0, 0, 0, 0,
        0x36, 0, 0, 0,
        0x28, 0, 0, 0,
        5, 0, 0, 0,
        2, 0, 0, 0,
        1, 0, 0x18, 0,
        0, 0, 0, 0,
        0x20, 0, 0, 0,            // image size 32: two rows of 15 bytes padded to 16
        0, 0, 0, 0, 0, 0, 0, 0,
        0, 0, 0, 0, 0, 0, 0, 0,
    };
    EXPECT_EQ(MakeBmpHeader(5, 2), expected);
}

TEST(BmpHeader, MultiByteFieldsAreLittleEndian) {
    // 1000 x 300: stride 3000, image size 900000 = 0x0DBBA0, file size 900054 = 0x0DBBD6.
    const Header expected = {
        'B', 'M', 0xD6, 0xBB, 0x0D, 0,
        0, 0, 0, 0,
        0x36, 0, 0, 0,
        0x28, 0, 0, 0,
        0xE8, 0x03, 0, 0,
        0x2C, 0x01, 0, 0,
        1, 0, 0x18, 0,
        0, 0, 0, 0,
        0xA0, 0xBB, 0x0D, 0,
        0, 0, 0, 0, 0, 0, 0, 0,
        0, 0, 0, 0, 0, 0, 0, 0,
    };
    EXPECT_EQ(MakeBmpHeader(1000, 300), expected);
}

}  // namespace
}  // namespace tessaro
