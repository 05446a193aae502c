// The real binary under what only Linux sets: the umask that gives the saved mosaic its mode.
// (Memory and file-size limits: hostile_input_test.cpp and save_fault_test.cpp.)
#include <sys/stat.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "run_binary.h"
#include "temp_dir.h"
#include "tiff_fixture.h"
#include "tree_check.h"

namespace tessaro {
namespace {

namespace fs = std::filesystem;
using namespace testing;

TEST(Mosaic, SavedWithTheUmaskedMode) {
    TempDir tmp;
    const std::string dir = tmp / "pair";
    fs::create_directories(dir);
    WriteTile(dir + "/a.tif", PatternTile(5, 3, 1));
    WriteTile(dir + "/b.tif", PatternTile(6, 3, 2));
    EXPECT_EQ(RunTessaro({dir}).out, ProgressLine(dir) + kSuccessLine);
    struct stat st;
    ASSERT_EQ(stat((dir + "/pair.bmp").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666u & ~0022u);  // the test runs with umask 022
}

}  // namespace
}  // namespace tessaro
