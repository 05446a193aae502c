#include "mosaic/tile_removal.h"

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "temp_dir.h"

namespace tessaro {
namespace {

namespace fs = std::filesystem;

TEST(TileRemoval, AJournalOutlivesTilesThatCouldNotBeDeleted) {
    testing::TempDir tmp;
    const std::string mosaic = tmp / "d.bmp";
    std::ofstream(mosaic) << "saved";
    for (const char* name : {"1.tif", "2.tif", "4.tif"}) std::ofstream(tmp / name) << name;
    fs::create_directories(tmp / "3.tif/inside");  // unlink() refuses a directory
    const TileGroup group{tmp / "1.tif", tmp / "2.tif", tmp / "3.tif", tmp / "4.tif"};

    DeleteTiles(group, mosaic);
    EXPECT_FALSE(fs::exists(tmp / "1.tif"));
    EXPECT_FALSE(fs::exists(tmp / "4.tif"));
    EXPECT_EQ(RemovalJournalPath(mosaic), tmp / ".d.bmp.tessaro-journal");
    ASSERT_TRUE(fs::exists(RemovalJournalPath(mosaic)));

    // What is left is known to be saved; anything else is not.
    EXPECT_TRUE(IsSavedGroup({tmp / "3.tif"}, mosaic));
    std::ofstream(tmp / "1.tif") << "a new tile under an old name";
    EXPECT_FALSE(IsSavedGroup({tmp / "1.tif", tmp / "3.tif"}, mosaic));
    fs::remove(mosaic);
    EXPECT_FALSE(IsSavedGroup({tmp / "3.tif"}, mosaic));
}

TEST(TileRemoval, NoJournalIsLeftOnceEveryTileIsGone) {
    testing::TempDir tmp;
    const std::string mosaic = tmp / "d.bmp";
    std::ofstream(mosaic) << "saved";
    std::ofstream(tmp / "a.tif") << "a";
    std::ofstream(tmp / "b.tif") << "b";
    EXPECT_FALSE(IsSavedGroup({tmp / "a.tif", tmp / "b.tif"}, mosaic));
    DeleteTiles({tmp / "a.tif", tmp / "b.tif"}, mosaic);
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path()), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace tessaro
