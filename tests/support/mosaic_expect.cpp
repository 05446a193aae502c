#include "mosaic_expect.h"

#include <stdexcept>

namespace tessaro::testing {

namespace {

void PutLe(std::string& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

}  // namespace

std::string ExpectedBmpFile(const std::vector<DecodedTile>& tiles) {
    const std::size_t perColumn = tiles.size() / 2;
    if (tiles.size() != 2 && tiles.size() != 4 && tiles.size() != 6)
        throw std::invalid_argument("2, 4 or 6 tiles");
    const int64_t leftWidth = tiles[0].width;
    const int64_t width = leftWidth + tiles[perColumn].width;
    int64_t height = 0;
    for (std::size_t i = 0; i < perColumn; ++i) height += tiles[i].height;

    // Top-down rows of the picture first, then written out bottom row first.
    std::vector<std::string> rows(static_cast<std::size_t>(height), std::string(3 * width, '\0'));
    for (std::size_t t = 0; t < tiles.size(); ++t) {
        const DecodedTile& tile = tiles[t];
        const bool right = t >= perColumn;
        int64_t top = 0;
        for (std::size_t above = right ? perColumn : 0; above < t; ++above) top += tiles[above].height;
        for (int32_t y = 0; y < tile.height; ++y) {  // y counts from the tile's bottom
            const uint8_t* src = &tile.bgr[static_cast<std::size_t>(y) * 3 * tile.width];
            std::string& row = rows[static_cast<std::size_t>(top + tile.height - 1 - y)];
            row.replace(static_cast<std::size_t>(right ? 3 * leftWidth : 0), 3 * tile.width,
                        reinterpret_cast<const char*>(src), 3 * tile.width);
        }
    }
    const int64_t stride = (3 * width + 3) / 4 * 4;
    const int64_t imageSize = stride * height;
    std::string file = "BM";
    PutLe(file, imageSize + 54, 4);
    PutLe(file, 0, 4);
    PutLe(file, 54, 4);
    PutLe(file, 40, 4);
    PutLe(file, width, 4);
    PutLe(file, height, 4);
    PutLe(file, 1, 2);
    PutLe(file, 24, 2);
    PutLe(file, 0, 4);
    PutLe(file, imageSize, 4);
    file.append(16, '\0');  // resolutions and colour counts
    for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
        file += *row;
        file.append(static_cast<std::size_t>(stride - 3 * width), '\0');
    }
    return file;
}

}  // namespace tessaro::testing
