// The real binary under what only Linux imposes on it: an address-space limit, a file-size limit,
// and the umask that sets the saved mosaic's mode.
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

TEST(MosaicFailures, HugeHeadersAreRefusedBeforeAnyPixelIsAllocated) {
    TempDir tmp;
    const std::string dir = tmp / "huge";
    fs::create_directories(dir);
    WriteHeaderOnlyTiff(dir + "/a.tif", 50000, 50000);
    WriteHeaderOnlyTiff(dir + "/b.tif", 50000, 50000);
    RunOptions limited;
    limited.memoryLimitBytes = 256ll << 20;
    auto run = RunTessaro({dir, "1"}, limited);
    EXPECT_EQ(run.out, ProgressLine(dir) + kTooLargeLine);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(ListNames(dir), (std::vector<std::string>{"a.tif", "b.tif"}));
}

TEST(MosaicFailures, SaveFailuresKeepTilesAndTheEarlierMosaic) {
    TempDir tmp;
    const std::string dir = tmp / "full";
    fs::create_directories(dir);
    WriteTile(dir + "/a.tif", PatternTile(300, 200, 1));
    WriteTile(dir + "/b.tif", PatternTile(300, 200, 2));
    WriteBytes(dir + "/full.bmp", "earlier mosaic");
    RunOptions smallFiles;
    smallFiles.fileSizeLimitBytes = 100000;  // the mosaic needs 360054 bytes
    auto run = RunTessaro({dir, "1"}, smallFiles);
    EXPECT_EQ(run.out, ProgressLine(dir) + kSaveFailedLine);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(ReadBytes(dir + "/full.bmp"), "earlier mosaic");
    EXPECT_EQ(ListNames(dir), (std::vector<std::string>{"a.tif", "b.tif", "full.bmp"}));
}

}  // namespace
}  // namespace tessaro
