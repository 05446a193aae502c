#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "mosaic/group_splice.h"
#include "temp_dir.h"

namespace tessaro {
namespace {

TEST(MosaicPath, InsideTheDirectoryNamedAfterIt) {
    EXPECT_EQ(MosaicPath("/data/tifFiles/a"), "/data/tifFiles/a/a.bmp");
    EXPECT_EQ(MosaicPath("tiles"), "tiles/tiles.bmp");
    EXPECT_EQ(MosaicPath("t/"), "t//t.bmp");
    EXPECT_EQ(MosaicPath("a\\b"), "a\\b/a\\b.bmp");
}

TEST(MosaicPath, DotsAreNamedByTheRealDirectory) {
    testing::TempDir tmp;
    std::filesystem::create_directories(tmp / "named/sub");
    const std::string here = std::filesystem::current_path();
    ASSERT_EQ(chdir((tmp / "named/sub").c_str()), 0);
    EXPECT_EQ(MosaicPath("."), "./sub.bmp");
    EXPECT_EQ(MosaicPath(".."), "../named.bmp");
    EXPECT_EQ(MosaicPath("./"), ".//sub.bmp");
    ASSERT_EQ(chdir(here.c_str()), 0);
    EXPECT_EQ(MosaicPath("/"), std::nullopt);  // the root has no name
}

}  // namespace
}  // namespace tessaro
