// Tile layouts: where each tile of a 2-, 4- or 6-tile group goes, and the checks that the tiles
// fit together. Rows are counted from the bottom of the mosaic (row 0 is the bottom row), the
// order in which a bottom-up bitmap stores them.
#pragma once

#include <cstdint>
#include <variant>
#include <vector>

#include "tiff/tiff_reader.h"

namespace tessaro {

// The mosaic's geometry. Tiles fill the left column top to bottom, then the right column.
struct TileLayout {
    int32_t tileCount = 0;     // 2, 4 or 6
    int32_t canvasWidth = 0;
    int32_t canvasHeight = 0;
    int32_t leftWidth = 0;     // the right column is canvasWidth - leftWidth wide
    int32_t bottomHeight = 0;  // height of the bottom band with three rows, else 0
    int32_t topRow = 0;        // first (lowest) row of the top band; 0 with one row
    friend bool operator==(const TileLayout&, const TileLayout&) = default;
};

// Where one tile lands: rows firstRow (included) to endRow (excluded) of the mosaic, its pixels
// starting at column `column`.
struct TilePlacement {
    int32_t column = 0;
    int32_t width = 0;
    int32_t firstRow = 0;
    int32_t endRow = 0;
    TileSize size() const { return {width, endRow - firstRow}; }
};

TilePlacement PlaceTile(const TileLayout& layout, int32_t tile);

// The mosaic's pixels: canvasWidth x canvasHeight.
inline uint64_t PixelCount(const TileLayout& layout) {
    return static_cast<uint64_t>(layout.canvasWidth) * static_cast<uint64_t>(layout.canvasHeight);
}

// Why measured tiles do not make a mosaic: not 2, 4 or 6 of them; two tiles that must agree in
// width (or height) and do not (tiles a and b, in group order); or a mosaic too large for a
// bitmap file (a side above 2^31 - 1 pixels, or a file above 2^31 - 1 bytes).
struct LayoutFailure {
    enum class Kind { count, sizeMismatch, tooLarge };
    Kind kind = Kind::count;
    int32_t a = 0;
    int32_t b = 0;
    bool width = false;
    friend bool operator==(const LayoutFailure&, const LayoutFailure&) = default;
};

// The layout for measured tile sizes (group order), or why they do not fit: the count, the first
// failing width or height check, or, once every check passes, a mosaic too large.
std::variant<TileLayout, LayoutFailure> CheckTileSizes(const std::vector<TileSize>& sizes);

}  // namespace tessaro
