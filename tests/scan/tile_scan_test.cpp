// The walk over real trees: which files are tiles, the path text it builds, and trees deeper than
// any path limit. Links and FIFOs are tested in tile_scan_posix_test.cpp.
#include "scan/tile_scan.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "temp_dir.h"
#include "tile_list.h"

namespace tessaro {
namespace {

namespace fs = std::filesystem;
using testing::FsPath;
using testing::TempDir;

void Touch(const std::string& path) {
    fs::create_directories(FsPath(path).parent_path());
    std::ofstream(FsPath(path)).put('x');
}

TileList Scan(const std::string& root) {
    TileList list;
    FindTifFiles(root, ".tif", list);
    std::sort(list.begin(), list.end());
    return list;
}

TEST(TileScan, CollectsTifFilesInAnyCaseAndNothingElse) {
    TempDir tmp;
    for (const char* name : {"A.TIF", "b.Tif", "c.tif", ".hidden.tif", "d.tiff", "e.tif.bak", "tif",
                             "sub/x.tif", "dir.tif/inner.tif"})
        Touch(tmp / name);
    fs::create_directories(FsPath(tmp / "empty.tif"));
    EXPECT_EQ(Scan(tmp.path()), (TileList{tmp / ".hidden.tif", tmp / "A.TIF", tmp / "b.Tif",
                                          tmp / "c.tif", tmp / "dir.tif/inner.tif", tmp / "sub/x.tif"}));
}

TEST(TileScan, AppendsAndCountsTheWholeList) {
    TempDir tmp;
    Touch(tmp / "a.tif");
    TileList list{"earlier"};
    EXPECT_EQ(FindTifFiles(tmp.path(), ".tif", list), 2u);
}

TEST(TileScan, PathTextKeepsTheRootAsGiven) {
    TempDir tmp;
    Touch(tmp / "t/a.tif");
    Touch(tmp / "t/s/b.tif");
    // The root as given, then one separator per level: root "t/" gives "t//a.tif" (on Windows,
    // root "t\" gives "t\\a.tif").
    EXPECT_EQ(Scan(tmp / "t/"), (TileList{tmp / "t//a.tif", tmp / "t//s/b.tif"}));
}

TEST(TileScan, RootsThatAreNotDirectoriesCollectNothing) {
    TempDir tmp;
    Touch(tmp / "a.tif");
    EXPECT_TRUE(Scan("").empty());
    EXPECT_TRUE(Scan(tmp / "missing").empty());
    EXPECT_TRUE(Scan(tmp / "a.tif").empty());
}

#ifdef _WIN32
// Fewer levels, still far past MAX_PATH: under Wine each step into a directory looks up every
// directory above it again.
constexpr int kDeepLevels = 150;
#else
constexpr int kDeepLevels = 1000;
#endif

TEST(TileScan, DeepTreesNeedNoStack) {
    TempDir tmp;
    std::string relative;
    for (int depth = 0; depth < kDeepLevels; ++depth) relative += "d/";
    Touch(tmp / (relative + "deep.tif"));
    EXPECT_EQ(Scan(tmp.path()), (TileList{tmp / (relative + "deep.tif")}));
}

}  // namespace
}  // namespace tessaro
