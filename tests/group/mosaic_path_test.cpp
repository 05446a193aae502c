#include <filesystem>

#include <gtest/gtest.h>

#include "group/mosaic_path.h"
#include "temp_dir.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace tessaro {
namespace {

#ifdef _WIN32

// Changes the current directory for the rest of the scope.
class CurrentDir {
public:
    explicit CurrentDir(const std::string& utf8) : before_(std::filesystem::current_path()) {
        std::filesystem::current_path(testing::FsPath(utf8));
    }
    ~CurrentDir() { std::filesystem::current_path(before_); }
    CurrentDir(const CurrentDir&) = delete;
    CurrentDir& operator=(const CurrentDir&) = delete;

private:
    std::filesystem::path before_;
};

TEST(MosaicPath, InsideTheDirectoryNamedAfterIt) {
    EXPECT_EQ(MosaicPath("D:\\tifFiles\\a"), "D:\\tifFiles\\a\\a.bmp");
    EXPECT_EQ(MosaicPath("tiles"), "tiles\\tiles.bmp");
    // A root given with a trailing backslash is named all the same, not ".bmp".
    EXPECT_EQ(MosaicPath("D:\\t\\"), "D:\\t\\\\t.bmp");
    EXPECT_EQ(MosaicPath("D:/t"), "D:/t\\t.bmp");
    EXPECT_EQ(MosaicPath("D:\\\xE5\x9B\xBE"), "D:\\\xE5\x9B\xBE\\\xE5\x9B\xBE.bmp");
}

TEST(MosaicPath, DotsAreNamedByTheRealDirectory) {
    testing::TempDir tmp;
    std::filesystem::create_directories(testing::FsPath(tmp / "named/sub"));
    {
        const CurrentDir inside(tmp / "named/sub");
        EXPECT_EQ(MosaicPath("."), ".\\sub.bmp");
        EXPECT_EQ(MosaicPath(".."), "..\\named.bmp");
        EXPECT_EQ(MosaicPath(".\\"), ".\\\\sub.bmp");
    }
    EXPECT_EQ(MosaicPath("C:\\"), std::nullopt);  // a drive's root has no name
    EXPECT_EQ(MosaicPath("C:\\.."), std::nullopt);
}

#else

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

#endif

}  // namespace
}  // namespace tessaro
