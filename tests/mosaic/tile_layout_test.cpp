#include "mosaic/tile_layout.h"

#include <gtest/gtest.h>

#include "app/messages.h"

namespace tessaro {
namespace {

using Sizes = std::vector<TileSize>;

std::string Failure(const Sizes& sizes) {
    auto verdict = CheckTileSizes(sizes);
    const LayoutFailure* failure = std::get_if<LayoutFailure>(&verdict);
    return failure ? LayoutFailureText(*failure, sizes.size()) : "";
}

TileLayout Layout(const Sizes& sizes) {
    auto verdict = CheckTileSizes(sizes);
    EXPECT_TRUE(std::holds_alternative<TileLayout>(verdict)) << Failure(sizes);
    return std::holds_alternative<TileLayout>(verdict) ? std::get<TileLayout>(verdict) : TileLayout{};
}

struct Band {
    int32_t column, width, firstRow, endRow;
    bool operator==(const Band&) const = default;
};
Band BandOf(const TileLayout& layout, int tile) {
    TilePlacement p = PlaceTile(layout, tile);
    return {p.column, p.width, p.firstRow, p.endRow};
}

TEST(TileLayout, TwoTilesSideBySideMayDifferInWidth) {
    TileLayout layout = Layout({{100, 50}, {30, 50}});
    EXPECT_EQ(layout, (TileLayout{2, 130, 50, 100, 0, 0}));
    EXPECT_EQ(BandOf(layout, 0), (Band{0, 100, 0, 50}));
    EXPECT_EQ(BandOf(layout, 1), (Band{100, 30, 0, 50}));
    EXPECT_EQ(Failure({{100, 50}, {100, 51}}), "拼接失败! 上面,下面tif图片的高度不一样!\n");
}

TEST(TileLayout, FourTilesFillTheLeftColumnFirst) {
    TileLayout layout = Layout({{3, 7}, {3, 2}, {5, 7}, {5, 2}});
    EXPECT_EQ(layout, (TileLayout{4, 8, 9, 3, 0, 2}));
    EXPECT_EQ(BandOf(layout, 0), (Band{0, 3, 2, 9}));  // top left
    EXPECT_EQ(BandOf(layout, 1), (Band{0, 3, 0, 2}));  // bottom left
    EXPECT_EQ(BandOf(layout, 2), (Band{3, 5, 2, 9}));  // top right
    EXPECT_EQ(BandOf(layout, 3), (Band{3, 5, 0, 2}));  // bottom right
}

TEST(TileLayout, SixTilesInThreeBands) {
    // Left tiles 40 wide, right 60, rows 10, 20, 30 from the top.
    TileLayout layout = Layout({{40, 10}, {40, 20}, {40, 30}, {60, 10}, {60, 20}, {60, 30}});
    EXPECT_EQ(layout, (TileLayout{6, 100, 60, 40, 30, 50}));
    EXPECT_EQ(BandOf(layout, 0), (Band{0, 40, 50, 60}));
    EXPECT_EQ(BandOf(layout, 1), (Band{0, 40, 30, 50}));
    EXPECT_EQ(BandOf(layout, 2), (Band{0, 40, 0, 30}));
    EXPECT_EQ(BandOf(layout, 5), (Band{40, 60, 0, 30}));
}

TEST(TileLayout, OnlyTheFirstFailingCheckIsReported) {
    // Both the left widths and the top heights differ: the widths come first.
    EXPECT_EQ(Failure({{3, 7}, {4, 2}, {5, 8}, {5, 2}}), "拼接失败! 左上,左下tif图片的宽度不一样!\n");
    EXPECT_EQ(Failure({{3, 7}, {3, 2}, {5, 7}, {6, 2}}), "拼接失败! 右上,右下tif图片的宽度不一样!\n");
    EXPECT_EQ(Failure({{3, 7}, {3, 2}, {5, 8}, {5, 2}}), "拼接失败! 左上,右上tif图片的高度不一样!\n");
    EXPECT_EQ(Failure({{3, 7}, {3, 2}, {5, 7}, {5, 3}}), "拼接失败! 左下,右下tif图片的高度不一样!\n");
    const Sizes six{{4, 1}, {4, 2}, {4, 3}, {6, 1}, {6, 2}, {6, 3}};
    const char* messages[] = {"左上,左中tif图片的宽度", "左中,左下tif图片的宽度",
                              "右上,右中tif图片的宽度", "右中,右下tif图片的宽度",
                              "左上,右上tif图片的高度", "左中,右中tif图片的高度",
                              "左下,右下tif图片的高度"};
    const std::pair<int, bool> breaks[] = {{0, true}, {2, true},  {3, true}, {5, true},
                                           {3, false}, {4, false}, {5, false}};
    for (int i = 0; i < 7; ++i) {
        Sizes broken = six;
        (breaks[i].second ? broken[breaks[i].first].width : broken[breaks[i].first].height) += 1;
        EXPECT_EQ(Failure(broken), std::string("拼接失败! ") + messages[i] + "不一样!\n") << i;
    }
}

TEST(TileLayout, WrongCountsAndMosaicsTooLargeForABitmap) {
    EXPECT_EQ(Failure({{1, 1}, {1, 1}, {1, 1}}), "拼接失败! 拼接的Tif数为3!\n");
    const std::string tooLarge = "拼接失败! 拼接后的图片过大!\n";
    EXPECT_EQ(Failure({{50000, 50000}, {50000, 50000}}), tooLarge);
    EXPECT_EQ(Failure({{INT32_MAX, 1}, {1, 1}}), tooLarge);
    EXPECT_EQ(Failure(Sizes(4, {1, INT32_MAX})), tooLarge);
    // The largest file still allowed: 54 + stride x height <= 2^31 - 1 (stride 24 here).
    EXPECT_EQ(Layout({{4, 89478483}, {4, 89478483}}).canvasHeight, 89478483);
    EXPECT_EQ(Failure({{4, 89478484}, {4, 89478484}}), tooLarge);
}

}  // namespace
}  // namespace tessaro
