#include "mosaic/tile_layout.h"

#include <limits>

#include "app/console.h"
#include "bmp/bmp_file.h"

namespace tessaro {

namespace {

constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();

// One check: tiles a and b must have equal widths (or heights); `pair` names them in the message.
struct SizeCheck {
    int a;
    int b;
    bool width;
    const char* pair;
};

constexpr SizeCheck kTwoTileChecks[] = {{0, 1, false, "上面,下面"}};
constexpr SizeCheck kFourTileChecks[] = {
    {0, 1, true, "左上,左下"},
    {2, 3, true, "右上,右下"},
    {0, 2, false, "左上,右上"},
    {1, 3, false, "左下,右下"},
};
constexpr SizeCheck kSixTileChecks[] = {
    {0, 1, true, "左上,左中"},  {1, 2, true, "左中,左下"},   {3, 4, true, "右上,右中"},
    {4, 5, true, "右中,右下"},  {0, 3, false, "左上,右上"}, {1, 4, false, "左中,右中"},
    {2, 5, false, "左下,右下"},
};

template <std::size_t N>
std::optional<std::string> FirstFailedCheck(const SizeCheck (&checks)[N],
                                            const std::vector<TileSize>& sizes) {
    for (const SizeCheck& check : checks) {
        const TileSize& a = sizes[check.a];
        const TileSize& b = sizes[check.b];
        bool equal = check.width ? a.width == b.width : a.height == b.height;
        if (!equal)
            return std::string("拼接失败! ") + check.pair + "tif图片的" +
                   (check.width ? "宽度" : "高度") + "不一样!\n";
    }
    return std::nullopt;
}

std::string TileCountMessage(std::size_t count) {
    return "拼接失败! 拼接的Tif数为" + std::to_string(count) + "!\n";
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

std::variant<TileLayout, std::string> CheckTileSizes(const std::vector<TileSize>& sizes) {
    std::optional<std::string> failure;
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
            return TileCountMessage(sizes.size());
    }
    if (failure) return *failure;
    if (width > kInt32Max || height > kInt32Max ||
        BmpImageSize(static_cast<int32_t>(width), static_cast<int32_t>(height)) + kBmpHeaderSize >
            static_cast<uint64_t>(kInt32Max))
        return std::string("拼接失败! 拼接后的图片过大!\n");
    layout.canvasWidth = static_cast<int32_t>(width);
    layout.canvasHeight = static_cast<int32_t>(height);
    return layout;
}

std::optional<TileLayout> PlanLayout(const TileGroup& group, const TileMeasurer& measure) {
    const std::size_t count = group.size();
    if (count != 2 && count != 4 && count != 6) {
        PrintText(TileCountMessage(count));
        return std::nullopt;
    }
    std::vector<TileSize> sizes;
    sizes.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::optional<TileSize> size = measure(i);
        if (!size) {
            PrintWithPath("拼接失败! 无法读取tif文件: ", group[i], "\n");
            return std::nullopt;
        }
        sizes.push_back(*size);
    }
    auto verdict = CheckTileSizes(sizes);
    if (const std::string* failure = std::get_if<std::string>(&verdict)) {
        PrintText(*failure);
        return std::nullopt;
    }
    return std::get<TileLayout>(verdict);
}

}  // namespace tessaro
