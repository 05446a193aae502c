// Expected mosaics built straight from the tiles' pixels, independently of the program's own
// layout and bitmap code: the left column's tiles stacked top to bottom, then the right column's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tessaro::testing {

// One tile as a reader should decode it: rows bottom first, blue, green, red, packed.
struct DecodedTile {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> bgr;
};

// The whole bitmap file a group of 2, 4 or 6 tiles (in group order) must produce.
std::string ExpectedBmpFile(const std::vector<DecodedTile>& tiles);

}  // namespace tessaro::testing
