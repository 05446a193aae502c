// tessaro.exe with its output going to pipes, as a script or a log file gets it: code page 936
// bytes with "\r\n" line ends. Usage, help, and a root that cannot be walked.
#include <gtest/gtest.h>

#include <filesystem>

#include "run_binary.h"
#include "temp_dir.h"
#include "tiff_fixture.h"
#include "tree_check.h"
#include "windows_test_win.h"

namespace tessaro {
namespace {

using namespace testing;

// Every process the tests start reads narrow text in the test's own code page.
TEST(WindowsCli, TestsRunInCodePage936) {
    ASSERT_EQ(AnsiCodePage(), 936u)
        << "run the Windows tests in a Chinese locale (under Wine: LANG=zh_CN.UTF-8, with that "
           "locale available to the C library)";
}

TEST(WindowsCli, UsageAndHelpInCodePage936WithCrLf) {
    const RunResult usage = RunTessaro({});
    EXPECT_EQ(usage.out, Redirected(kUsage));
    EXPECT_EQ(usage.err, "");
    EXPECT_EQ(usage.exitCode, 0);
    for (const auto& args : {std::vector<std::string>{"/?"}, {"/?", "1", "more"}}) {
        const RunResult help = RunTessaro(args);
        EXPECT_EQ(help.out, Redirected(kHelp));
        EXPECT_EQ(help.err, "");
        EXPECT_EQ(help.exitCode, 0);
    }
}

TEST(WindowsCli, LookalikesOfHelpAndAnEmptyRootAreRootsThatCannotBeWalked) {
    for (const char* root : {"/?x", "-?", ""}) {
        SCOPED_TRACE(root);
        const RunResult run = RunTessaro({root, "1"});
        EXPECT_EQ(run.out, "");
        // (Starting with "-", an option it does not know.)
        const std::string start = Redirected(root[0] == '-' ? "tessaro: invalid option '-?'\n"
                                                            : "tessaro: " + std::string(root) + ": ");
        EXPECT_EQ(run.err.substr(0, start.size()), start);
        EXPECT_TRUE(run.err.size() > start.size() && run.err.ends_with("\r\n")) << run.err;
        EXPECT_EQ(run.exitCode, 2);
    }
}

// A dry run and a report on Windows: paths in the report are UTF-8 JSON (a backslash escaped),
// whatever the code page of the output.
TEST(WindowsCli, ADryRunChangesNothingAndTheReportIsUtf8Json) {
    TempDir tmp;
    const std::string dir = tmp / "图";
    std::filesystem::create_directories(FsPath(dir));
    WriteTile(dir + "\\a.tif", PatternTile(4, 3, 1));
    WriteTile(dir + "\\b.tif", PatternTile(4, 3, 2));
    const RunResult run = RunTessaro({"-n", "--report", tmp / "r.json", tmp.path(), "1"});
    EXPECT_EQ(run.out, Redirected(ProgressLine(dir) + "试运行: 可以拼接, 将保存为 " + dir + "\\图.bmp, 并删除2个tif文件\n"));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(ListNames(dir), (std::vector<std::string>{"a.tif", "b.tif"}));
    std::string json;
    for (char c : dir) json += c == '\\' ? std::string("\\\\") : std::string(1, c);
    EXPECT_EQ(ReadBytes(tmp / "r.json"), "{\"dir\":\"" + json + "\",\"outcome\":\"checked\",\"tiles\":2,\"mosaic\":\"" +
                                            json + "\\\\图.bmp\",\"deleted\":0}\n");
}

}  // namespace
}  // namespace tessaro
