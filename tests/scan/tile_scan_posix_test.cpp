// The walk meets links and FIFOs: links are followed, each directory is entered once, and what is
// not a regular file (or a link to one) is skipped.
#include "scan/tile_scan.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "temp_dir.h"
#include "tile_list.h"

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

TEST(TileScan, SkipsFifosAndBrokenLinksAndFollowsLinksToFiles) {
    TempDir tmp;
    Touch(tmp / "c.tif");
    ASSERT_EQ(mkfifo((tmp / "fifo.tif").c_str(), 0600), 0);
    fs::create_symlink(tmp / "missing", tmp / "broken.tif");
    fs::create_symlink(tmp / "c.tif", tmp / "link.tif");
    EXPECT_EQ(Scan(tmp.path()), (TileList{tmp / "c.tif", tmp / "link.tif"}));
}

TEST(TileScan, FollowsDirectoryLinksButEntersEachDirectoryOnce) {
    TempDir tmp;
    Touch(tmp / "real/a.tif");
    fs::create_symlink(tmp / "real", tmp / "alias");        // sorts before "real": wins
    fs::create_symlink(tmp.path(), tmp / "real/loop");      // back to the root
    fs::create_symlink(tmp / "real", tmp / "real/self");    // into itself
    EXPECT_EQ(Scan(tmp.path()), (TileList{tmp / "alias/a.tif"}));
}

// Deeper than the descriptors the walk keeps: climbing back, each level is opened again, through
// ".." or, above a link (where ".." leads elsewhere), by its path; a sibling at every level is
// still found, under the path the walk took.
TEST(TileScan, ClimbsBackThroughLevelsWhoseDescriptorsWereLetGo) {
    TempDir tmp;
    constexpr int kDepth = 80, kLinkAt = 40;
    TileList expected;
    std::string walked = tmp.path();  // the path the walk takes
    std::string real = walked;        // where that is on disk
    for (int depth = 0; depth < kDepth; ++depth) {
        Touch(real + "/e/t.tif");
        expected.push_back(walked + "/e/t.tif");
        walked += "/d";
        real = depth + 1 == kLinkAt ? tmp / "real" : real + "/d";
        fs::create_directories(real);
        if (depth + 1 == kLinkAt) fs::create_symlink(tmp / "real", fs::path(walked));
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Scan(tmp.path()), expected);
}

}  // namespace
}  // namespace tessaro
