// tessaro.exe with its output going to pipes, as a script or a log file gets it: code page 936
// bytes with "\r\n" line ends. Usage, help, and a root that cannot be walked.
#include <gtest/gtest.h>

#include "run_binary.h"
#include "windows_test_win.h"

namespace tessaro {
namespace {

using namespace testing;

const std::string kCredit = " - version " TESSARO_VERSION ": joins TIFF tiles into 24-bit BMP mosaics.\n";
const std::string kUsage = "tessaro.exe /?   获取帮助\n" + kCredit;
const std::string kHelp =
    "tessaro.exe   A   B\n"
    "参数A:目录绝对路径   参数B:是否删除原tif文件\n"
    "示例: tessaro.exe D:\\tifFiles\n"
    "      递归搜索tifFiles下的所有子目录，并一一进行拼接.\n"
    "示例: tessaro.exe D:\\tifFiles 1\n"
    "      若传入第2个参数,且为1,则在拼接成功之后,会删除原tif文件.\n"
    "tessaro" + kCredit;

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
        const std::string start = Redirected("tessaro: " + std::string(root) + ": ");
        EXPECT_EQ(run.err.substr(0, start.size()), start);
        EXPECT_TRUE(run.err.size() > start.size() + 2 && run.err.ends_with("\r\n")) << run.err;
        EXPECT_EQ(run.exitCode, 2);
    }
}

}  // namespace
}  // namespace tessaro
