#include "app/batch_driver.h"

#include <filesystem>
#include <fstream>
#include <mutex>

#include <gtest/gtest.h>

#ifdef _WIN32
#include "os/wide_text_win.h"
#endif
#include "scan/path_order.h"
#include "scan/path_text.h"
#include "temp_dir.h"
#include "tile_list.h"

namespace tessaro {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

TEST(ComparePaths, GroupsByDirectoryBeforeNames) {
    TileList list{"R/c.tif", "R/b/x.tif", "R/a.tif", "R/B.tif", "R-x/a.tif", "R/10.tif", "R/2.tif"};
    std::sort(list.begin(), list.end(), ComparePaths);
    EXPECT_EQ(list, (TileList{"R/10.tif", "R/2.tif", "R/B.tif", "R/a.tif", "R/c.tif", "R-x/a.tif",
                              "R/b/x.tif"}));
    EXPECT_EQ(CountDirGroups(list), 3);
    EXPECT_EQ(CountDirGroups({}), 0);
}

#ifndef _WIN32  // Windows orders by the ANSI code page: path_order_test.cpp
TEST(ComparePaths, OrdersBytesAsUnsigned) {
    EXPECT_TRUE(ComparePaths("d/z.tif", "d/\xE5.tif"));
    EXPECT_FALSE(ComparePaths("d/\xE5.tif", "d/z.tif"));
}
#endif

using TileGroup = std::vector<std::string>;

struct Recorded {
    TileGroup group;
    bool deleteSources;
};

class SpliceTreeTest : public ::testing::Test {
protected:
    void Touch(const std::string& relative) {
        fs::create_directories(fs::path(tmp / relative).parent_path());
        std::ofstream(tmp / relative).put('x');
    }
    // Runs the batch with a recording splicer that fails the group in directory `failing`.
    // Groups may be spliced side by side: the calls are sorted into group order afterwards.
    bool Run(bool deleteSources, const std::string& failing = "") {
        ::testing::internal::CaptureStdout();
        std::mutex mutex;
        RunOptions options;
        options.deleteSources = deleteSources;
        BatchOutcome outcome = SpliceTree(tmp.path(), options,
                                          [&](const ScannedGroup& scanned, const GroupTask& task, FillMeter*) {
            const bool del = task.deleteSources;
            const std::lock_guard<std::mutex> lock(mutex);
            TileGroup g;
            for (std::size_t i = 0; i < scanned.names.size(); ++i) g.push_back(scanned.TilePath(i));
            calls.push_back({g, del});
            const std::string dir = PathSeparator() + failing + PathSeparator();
            const bool saved = failing.empty() || g.front().find(dir) == std::string::npos;
            return GroupOutcome{saved ? GroupResult::saved : GroupResult::readFailed};
        });
        out = ::testing::internal::GetCapturedStdout();
        std::sort(calls.begin(), calls.end(), [](const Recorded& a, const Recorded& b) {
            return ComparePaths(a.group.front(), b.group.front());
        });
        return outcome == BatchOutcome::allSaved;
    }
    TempDir tmp;
    std::vector<Recorded> calls;
    std::string out;
};

TEST_F(SpliceTreeTest, OneGroupPerDirectoryInByteOrder) {
    Touch("R/c.tif");
    Touch("R/b/x.tif");
    Touch("R/a.tif");
    Touch("R/b/y.TIF");
    EXPECT_TRUE(Run(true));
    const std::string r = JoinPath(tmp.path(), "R");
    const std::string b = JoinPath(r, "b");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].group, (TileGroup{JoinPath(r, "a.tif"), JoinPath(r, "c.tif")}));
    EXPECT_EQ(calls[1].group, (TileGroup{JoinPath(b, "x.tif"), JoinPath(b, "y.TIF")}));
    EXPECT_TRUE(calls[0].deleteSources);
    // Each group's progress line, then its outcome line, which the driver prints (on Windows in
    // the ANSI code page, as to any stream that is not a console).
    std::string saved = "拼接成功!\n";
#ifdef _WIN32
    saved = AnsiFromUtf8(saved);
#endif
    EXPECT_EQ(out, " ++ 1/2 ++   path: " + r + "\n" + saved + " ++ 2/2 ++   path: " + b + "\n" + saved);
}

TEST_F(SpliceTreeTest, AnyFailedGroupFailsTheRun) {
    Touch("a/1.tif");
    Touch("b/1.tif");
    Touch("c/1.tif");
    EXPECT_FALSE(Run(false, "b"));
    EXPECT_EQ(calls.size(), 3u);  // the batch goes on after a failure
    EXPECT_FALSE(calls[2].deleteSources);
}

TEST_F(SpliceTreeTest, NoTilesNoOutput) {
    Touch("a/readme.txt");
    EXPECT_TRUE(Run(false));
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(out, "");
}

}  // namespace
}  // namespace tessaro
