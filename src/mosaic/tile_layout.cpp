#include "mosaic/tile_layout.h"

#include <limits>
#include <optional>

#include "bmp/bmp_file.h"

namespace tessaro {

namespace {

constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();

// One check: tiles a and b must have equal widths (or heights).
struct SizeCheck {
    int32_t a;
    int32_t b;
    bool width;
};

constexpr SizeCheck kTwoTileChecks[] = {{0, 1, false}};
constexpr SizeCheck kFourTileChecks[] = {{0, 1, true}, {2, 3, true}, {0, 2, false}, {1, 3, false}};
constexpr SizeCheck kSixTileChecks[] = {
    {0, 1, true}, {1, 2, true}, {3, 4, true}, {4, 5, true}, {0, 3, false}, {1, 4, false}, {2, 5, false},
};

template <std::size_t N>
std::optional<LayoutFailure> FirstFailedCheck(const SizeCheck (&checks)[N],
                                              const std::vector<TileSize>& sizes) {
    for (const SizeCheck& check : checks) {
        const TileSize& a = sizes[check.a];
        const TileSize& b = sizes[check.b];
        bool equal = check.width ? a.width == b.width : a.height == b.height;
        if (!equal) return LayoutFailure{LayoutFailure::Kind::sizeMismatch, check.a, check.b, check.width};
    }
    return std::nullopt;
}

}  // namespace

TilePlacement PlaceTile(const TileLayout& layout, int32_t tile) {
    const int32_t rows = layout.tileCount / 2;
    const bool right = tile >= rows;
    const int32_t fromTop = tile % rows;  // 0 is the top band
    TilePlacement place;
    place.column = right ? layout.leftWidth : 0;
    place.width = right ? layout.canvasWidth - layout.leftWidth : layout.leftWidth;
    // Band boundaries from the top down: canvasHeight, topRow, bottomHeight, 0.
    const int32_t bounds[] = {layout.canvasHeight, layout.topRow, layout.bottomHeight, 0};
    if (rows == 1) {
        place.firstRow = 0;
        place.endRow = layout.canvasHeight;
    } else {
        place.endRow = bounds[fromTop];
        place.firstRow = fromTop + 1 == rows ? 0 : bounds[fromTop + 1];
    }
    return place;
}

std::variant<TileLayout, LayoutFailure> CheckTileSizes(const std::vector<TileSize>& sizes) {
    std::optional<LayoutFailure> failure;
    int64_t width = 0;
    int64_t height = 0;
    TileLayout layout;
    layout.tileCount = static_cast<int32_t>(sizes.size());
    switch (sizes.size()) {
        case 2:
            failure = FirstFailedCheck(kTwoTileChecks, sizes);
            width = int64_t{sizes[0].width} + sizes[1].width;
            height = sizes[0].height;
            layout.leftWidth = sizes[0].width;
            break;
        case 4:
            failure = FirstFailedCheck(kFourTileChecks, sizes);
            width = int64_t{sizes[0].width} + sizes[2].width;
            height = int64_t{sizes[0].height} + sizes[1].height;
            layout.leftWidth = sizes[1].width;
            layout.topRow = sizes[1].height;
            break;
        case 6:
            failure = FirstFailedCheck(kSixTileChecks, sizes);
            width = int64_t{sizes[0].width} + sizes[3].width;
            height = int64_t{sizes[0].height} + sizes[1].height + sizes[2].height;
            layout.leftWidth = sizes[2].width;
            layout.bottomHeight = sizes[2].height;
            // Only used once the size check below has passed, so it cannot overflow then.
            layout.topRow = static_cast<int32_t>(std::min<int64_t>(
                int64_t{sizes[1].height} + sizes[2].height, kInt32Max));
            break;
        default:
            return LayoutFailure{LayoutFailure::Kind::count};
    }
    if (failure) return *failure;
    if (width > kInt32Max || height > kInt32Max ||
        BmpImageSize(static_cast<int32_t>(width), static_cast<int32_t>(height)) + kBmpHeaderSize >
            static_cast<uint64_t>(kInt32Max))
        return LayoutFailure{LayoutFailure::Kind::tooLarge};
    layout.canvasWidth = static_cast<int32_t>(width);
    layout.canvasHeight = static_cast<int32_t>(height);
    return layout;
}

}  // namespace tessaro
