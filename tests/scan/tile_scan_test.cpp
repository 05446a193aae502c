#include "scan/tile_scan.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "temp_dir.h"

namespace tessaro {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

void Touch(const std::string& path) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path).put('x');
}

TileList Scan(const std::string& root) {
    TileList list;
    FindTifFiles(root, ".tif", list);
    std::sort(list.begin(), list.end());
    return list;
}

TEST(TileScan, CollectsRegularTifFilesInAnyCaseAndNothingElse) {
    TempDir tmp;
    for (const char* name : {"A.TIF", "b.Tif", "c.tif", ".hidden.tif", "d.tiff", "e.tif.bak", "tif",
                             "sub/x.tif", "dir.tif/inner.tif"})
        Touch(tmp / name);
    fs::create_directories(tmp / "empty.tif");
    ASSERT_EQ(mkfifo((tmp / "fifo.tif").c_str(), 0600), 0);
    fs::create_symlink(tmp / "missing", tmp / "broken.tif");
    fs::create_symlink(tmp / "c.tif", tmp / "link.tif");

    const std::string r = tmp.path();
    EXPECT_EQ(Scan(r), (TileList{r + "/.hidden.tif", r + "/A.TIF", r + "/b.Tif", r + "/c.tif",
                                 r + "/dir.tif/inner.tif", r + "/link.tif", r + "/sub/x.tif"}));
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
    EXPECT_EQ(Scan(tmp / "t/"), (TileList{tmp / "t//a.tif", tmp / "t//s/b.tif"}));
}

TEST(TileScan, RootsThatAreNotDirectoriesCollectNothing) {
    TempDir tmp;
    Touch(tmp / "a.tif");
    EXPECT_TRUE(Scan("").empty());
    EXPECT_TRUE(Scan(tmp / "missing").empty());
    EXPECT_TRUE(Scan(tmp / "a.tif").empty());
}

TEST(TileScan, FollowsDirectoryLinksButEntersEachDirectoryOnce) {
    TempDir tmp;
    Touch(tmp / "real/a.tif");
    fs::create_symlink(tmp / "real", tmp / "alias");        // sorts before "real": wins
    fs::create_symlink(tmp.path(), tmp / "real/loop");      // back to the root
    fs::create_symlink(tmp / "real", tmp / "real/self");    // into itself
    EXPECT_EQ(Scan(tmp.path()), (TileList{tmp / "alias/a.tif"}));
}

TEST(TileScan, DeepTreesNeedNoStack) {
    TempDir tmp;
    std::string path = tmp.path();
    std::string relative;
    for (int depth = 0; depth < 1000; ++depth) relative += "d/";
    fs::create_directories(path + "/" + relative);
    Touch(path + "/" + relative + "deep.tif");
    EXPECT_EQ(Scan(path), (TileList{path + "/" + relative + "deep.tif"}));
}

}  // namespace
}  // namespace tessaro
