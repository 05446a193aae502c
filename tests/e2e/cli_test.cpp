// The real binary: usage, help, the batch's progress lines over real trees, errors about the
// root, and the status line on a terminal. Most trees only hold groups that fail on their tile
// count, which no tile has to be read for.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <tuple>

#include <gtest/gtest.h>

#include "run_binary.h"
#include "temp_dir.h"
#include "tiff_fixture.h"
#include "tree_check.h"

namespace tessaro {
namespace {

namespace fs = std::filesystem;
using testing::RunOptions;
using testing::RunResult;
using testing::Terminal;
using testing::RunTessaro;
using testing::TempDir;
using testing::kHelp;
using testing::kUsage;

void Touch(const std::string& path) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << "not a tiff";
}

std::string Count(int n) { return "拼接失败! 拼接的Tif数为" + std::to_string(n) + "!\n"; }

TEST(Cli, UsageAndHelpAreExactAndSucceed) {
    auto none = RunTessaro({});
    EXPECT_EQ(none.out, kUsage);
    EXPECT_EQ(none.exitCode, 0);
    for (auto args : {std::vector<std::string>{"/?"}, {"/?", "1", "more"}}) {
        auto help = RunTessaro(args);
        EXPECT_EQ(help.out, kHelp);
        EXPECT_EQ(help.exitCode, 0);
        EXPECT_EQ(help.err, "");
    }
}

std::string RootError(const std::string& root, int error) {
    return "tessaro: " + root + ": " + std::strerror(error) + "\n";
}

TEST(Cli, LookalikesOfHelpAreDirectories) {
    // (Or, starting with "-", options it does not know.)
    for (const char* arg : {"/?x", "-?", "/H"}) {
        auto run = RunTessaro({arg});
        EXPECT_EQ(run.out, "") << arg;
        EXPECT_EQ(run.err, arg[0] == '-' ? "tessaro: invalid option '-?'\nTry 'tessaro --help' for more information.\n"
                                         : RootError(arg, ENOENT));
        EXPECT_EQ(run.exitCode, 2) << arg;
    }
}

TEST(Cli, ProgressThenOneOutcomePerDirectoryAndFailureExitStatus) {
    TempDir tmp;
    // R's tiles sort around a subdirectory: still one group of R.
    Touch(tmp / "R/a.tif");
    Touch(tmp / "R/b/x.TIF");
    Touch(tmp / "R/c.Tif");
    Touch(tmp / "R/d.tif");
    Touch(tmp / "R/b/y.tiff");
    for (int i = 0; i < 7; ++i) Touch(tmp / ("seven/" + std::to_string(i) + ".tif"));
    fs::create_directories(tmp / "R/dir.tif");
    ASSERT_EQ(mkfifo((tmp / "R/b/fifo.tif").c_str(), 0600), 0);
    fs::create_symlink(tmp.path(), tmp / "R/b/loop");
    const std::string r = tmp.path();

    auto run = RunTessaro({r, "1"});
    EXPECT_EQ(run.out, " ++ 1/3 ++   path: " + r + "/R\n" + Count(3) +
                           " ++ 2/3 ++   path: " + r + "/R/b\n" + Count(1) +
                           " ++ 3/3 ++   path: " + r + "/seven\n" + Count(7));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(fs::exists(tmp / "R/a.tif"));  // nothing deleted after a failure
}

TEST(Cli, UnreadableDirectoriesAreSkippedSilently) {
    TempDir tmp;
    ASSERT_EQ(chmod(tmp.path().c_str(), 0755), 0);
    for (const char* tile : {"open/1.tif", "open/2.tif", "open/3.tif", "closed/1.tif", "closed/2.tif"})
        Touch(tmp / tile);
    fs::permissions(tmp / "open", fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(tmp / "closed", fs::perms::none);
    RunOptions options;
    if (geteuid() == 0) options.uid = options.gid = 65534;  // root reads every directory
    auto run = RunTessaro({tmp.path()}, options);
    EXPECT_EQ(run.out, " ++ 1/1 ++   path: " + tmp / "open" + "\n" + Count(3));
    EXPECT_EQ(run.err, "");
    fs::permissions(tmp / "closed", fs::perms::owner_all);
}

TEST(Cli, ARootWithoutTilesPrintsNothingAndSucceeds) {
    TempDir tmp;
    Touch(tmp / "file.txt");
    auto run = RunTessaro({tmp.path()});
    EXPECT_EQ(run.out + run.err, "");
    EXPECT_EQ(run.exitCode, 0);
}

TEST(Cli, ARootThatCannotBeWalkedIsOneErrorLineAndStatus2) {
    TempDir tmp;
    ASSERT_EQ(chmod(tmp.path().c_str(), 0755), 0);
    Touch(tmp / "file.tif");
    Touch(tmp / "closed/1.tif");
    fs::permissions(tmp / "closed", fs::perms::none);
    RunOptions asNobody;
    if (geteuid() == 0) asNobody.uid = asNobody.gid = 65534;  // root opens every directory
    const std::tuple<std::string, int, RunOptions> cases[] = {
        {tmp / "missing", ENOENT, {}}, {tmp / "file.tif", ENOTDIR, {}}, {"", ENOENT, {}},
        {tmp / "closed", EACCES, asNobody}};
    for (const auto& [root, error, options] : cases) {
        auto run = RunTessaro({root, "1"}, options);
        EXPECT_EQ(run.out, "") << root;
        EXPECT_EQ(run.err, RootError(root, error));
        EXPECT_EQ(run.exitCode, 2) << root;
    }
    fs::permissions(tmp / "closed", fs::perms::owner_all);
    // The reason in the user's language, where the system has a translation.
    if (fs::exists("/usr/share/locale/zh_CN/LC_MESSAGES/libc.mo") &&
        std::system("locale -a | grep -qix zh_CN.utf8") == 0) {
        RunOptions chinese;
        chinese.env = {"LANG=zh_CN.UTF-8"};
        EXPECT_EQ(RunTessaro({tmp / "missing"}, chinese).err, "tessaro: " + tmp / "missing" + ": 没有那个文件或目录\n");
    }
}

TEST(Cli, PathsPrintAsRawBytesAndTextFollowsTheLocale) {
    TempDir tmp;
    const std::string dir = tmp / "图片";  // UTF-8 bytes in the file system
    Touch(dir + "/only.tif");
    auto utf8 = RunTessaro({tmp.path()});
    EXPECT_EQ(utf8.out, " ++ 1/1 ++   path: " + dir + "\n" + Count(1));

    // In a GBK locale the program's text is converted, the path is not.
    RunOptions gbk;
    gbk.env = {"LC_ALL=zh_CN.GBK"};
    auto converted = RunTessaro({tmp.path()}, gbk);
    if (converted.out == utf8.out) GTEST_SKIP() << "no zh_CN.GBK locale on this machine";
    EXPECT_EQ(converted.out, " ++ 1/1 ++   path: " + dir +
                                 "\n\xC6\xB4\xBD\xD3\xCA\xA7\xB0\xDC! \xC6\xB4\xBD\xD3\xB5\xC4Tif"
                                 "\xCA\xFD\xCE\xAA" "1!\n");
}

// What a terminal shows of stream: everything but the status line, which must be erased again
// before anything else is printed. status receives each status text drawn.
std::string ShownLines(const std::string& stream, std::vector<std::string>& status) {
    static const std::regex draw("\r([^\r\n]*)\x1b\\[K");
    std::string shown;
    bool statusOn = false;
    std::size_t at = 0;
    for (std::sregex_iterator it(stream.begin(), stream.end(), draw), end; it != end; ++it) {
        const std::string between = stream.substr(at, it->position() - at);
        EXPECT_TRUE(between.empty() || !statusOn) << "printed over the status: " << between;
        shown += between;
        statusOn = it->length(1) > 0;
        if (statusOn) status.push_back((*it)[1]);
        at = it->position() + it->length();
    }
    EXPECT_TRUE(at == stream.size() || !statusOn);
    return shown + stream.substr(at);
}

TEST(Cli, StatusLineOnATerminalOnlyAndErasedBeforeEveryOutcome) {
    TempDir tmp;
    fs::create_directories(tmp / "slow");
    for (int i = 1; i <= 4; ++i)
        testing::WriteTiff(tmp / ("slow/" + std::to_string(i) + ".tif"), testing::PatternTile(64, 64, i));
    Touch(tmp / "three/1.tif");
    const auto plain = RunTessaro({tmp.path()});
    EXPECT_EQ(plain.err, "");
    RunOptions options;
    options.terminal = Terminal::forStderr;
    EXPECT_EQ(RunTessaro({tmp.path()}, options).out, plain.out);

    // Standard output on the terminal too; the decoder pauses after each band it writes, so the
    // line is redrawn once the first row of tiles is in.
    options.terminal = Terminal::forBoth;
    options.env.push_back("TESSARO_TEST_DECODER=slow");
    const RunResult run = RunTessaro({tmp.path()}, options);
    EXPECT_EQ(run.exitCode, 1);
    std::vector<std::string> status;
    const std::string shown = ShownLines(run.err, status);
    EXPECT_TRUE(std::regex_match(shown.substr(std::min(shown.size(), plain.out.size())),
                                 std::regex("完成: 成功 1 组, 失败 1 组, 删除 0 个tif文件, 用时 [0-9.]+ 秒\n")))
        << shown;
    EXPECT_EQ(shown.substr(0, plain.out.size()), plain.out);
    const std::regex midway("组 [12]/2  ([5-9][0-9]|100)%  [0-9.]+ MB/s  剩余 [0-9:]+");
    EXPECT_TRUE(std::any_of(status.begin(), status.end(),
                            [&](const std::string& text) { return std::regex_match(text, midway); }))
        << ::testing::PrintToString(status);
}

TEST(Cli, NamesReachATerminalWithTheirControlsEscaped) {
    // A failing group whose tile is named to fake a success line and hide what follows, in a
    // directory named to set the window title.
    TempDir tmp;
    const std::string dir = tmp / "t\x1b]0;title\a";
    const std::string tile = "2\r\x1b[2K拼接成功!\x1b[8m\x7f\xc2\x9b.tif";
    fs::create_directories(dir);
    testing::WriteTiff(dir + "/a.tif", testing::PatternTile(8, 8, 1));
    testing::WriteBytes(dir + "/" + tile, "not a tiff");
    const auto lines = [](const std::string& dir, const std::string& tile) {
        return " ++ 1/1 ++   path: " + dir + "\n拼接失败! 无法读取tif文件: " + dir + "/" + tile + "\n";
    };
    EXPECT_EQ(RunTessaro({tmp.path()}).out, lines(dir, tile));  // a pipe gets the names' bytes

    RunOptions options;
    options.terminal = Terminal::forBoth;
    const RunResult run = RunTessaro({tmp.path()}, options);
    std::vector<std::string> status;
    const std::string shown = ShownLines(run.err, status);
    const std::string expected = lines(tmp / "t\\033]0;title\\a",
                                       "2\\r\\033[2K拼接成功!\\033[8m\\177\\302\\233.tif");
    EXPECT_EQ(shown.substr(0, expected.size()), expected);
    for (char control : {'\x1b', '\a', '\x7f'}) EXPECT_EQ(shown.find(control), std::string::npos);
}

TEST(Cli, VersionAndAJobLimitLikeAnyGnuTool) {
    const auto version = RunTessaro({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out.rfind(std::string("tessaro ") + TESSARO_VERSION + "\nLIBTIFF, Version ", 0), 0u)
        << version.out;
    // One group at a time prints what groups side by side print.
    TempDir tmp;
    for (const char* dir : {"a", "b", "c"}) {
        fs::create_directories(tmp / dir);
        testing::WriteTiff(tmp / (std::string(dir) + "/1.tif"), testing::PatternTile(8, 8, 1));
        testing::WriteTiff(tmp / (std::string(dir) + "/2.tif"), testing::PatternTile(8, 8, 2));
    }
    const auto sideBySide = RunTessaro({tmp.path()});
    EXPECT_EQ(RunTessaro({"-j", "1", tmp.path()}).out, sideBySide.out);
    EXPECT_EQ(RunTessaro({"--jobs=x", tmp.path()}).exitCode, 2);
}

TEST(Cli, AManifestOfTheGroupsAndAJoinOfExactlyTheDirectoriesListed) {
    TempDir tmp;
    for (const char* dir : {"a", "b/c", "b"}) {
        fs::create_directories(tmp / dir);
        testing::WriteTiff(tmp / (std::string(dir) + "/1.tif"), testing::PatternTile(8, 8, 1));
        testing::WriteTiff(tmp / (std::string(dir) + "/2.tif"), testing::PatternTile(8, 8, 2));
    }
    const std::string a = tmp / "a", b = tmp / "b", c = tmp / "b/c";
    EXPECT_EQ(RunTessaro({"--list", tmp.path()}).out, a + "\n" + b + "\n" + c + "\n");
    EXPECT_EQ(RunTessaro({"--list", "-0", tmp.path()}).out, a + '\0' + b + '\0' + c + '\0');
    EXPECT_EQ(testing::ListNames(a), (std::vector<std::string>{"1.tif", "2.tif"}));  // listed, not joined
    // Each directory on its own (b without b/c below it), in the manifest's order; a directory
    // without tiles has none to join.
    testing::WriteBytes(tmp / "list", c + "\n\n" + b + "\n" + tmp / "none" + "\n");
    const auto run = RunTessaro({"--from", tmp / "list", "1"});
    EXPECT_EQ(run.out, " ++ 1/3 ++   path: " + c + "\n拼接成功!\n ++ 2/3 ++   path: " + b +
                           "\n拼接成功!\n ++ 3/3 ++   path: " + tmp / "none" + "\n拼接失败! 拼接的Tif数为0!\n");
    EXPECT_EQ(testing::ListNames(b), (std::vector<std::string>{"b.bmp", "c"}));
    EXPECT_EQ(testing::ListNames(a), (std::vector<std::string>{"1.tif", "2.tif"}));
}

// A dry run says what a run would do and changes nothing; a report gives each group's outcome as
// a JSON line, a name that is not UTF-8 written so that its bytes can be had back.
TEST(Cli, ADryRunChangesNothingAndAReportAccountsForEveryGroup) {
    TempDir tmp;
    const std::string odd = "d\xff";  // not UTF-8
    for (const std::string& dir : {std::string("a"), odd}) {
        fs::create_directories(tmp / dir);
        testing::WriteTiff(tmp / (dir + "/1.tif"), testing::PatternTile(8, 8, 1));
        testing::WriteTiff(tmp / (dir + "/2.tif"), testing::PatternTile(8, 8, 2));
    }
    Touch(tmp / "b/1.tif");
    Touch(tmp / "c/1.tif");
    Touch(tmp / "c/2.tif");
    const std::string a = tmp / "a", b = tmp / "b", c = tmp / "c", d = tmp / odd;
    const auto before = testing::ListNames(a);
    const auto dry = RunTessaro({"-n", "--report", tmp / "dry.json", tmp.path(), "1"});
    EXPECT_EQ(dry.exitCode, 1);
    EXPECT_EQ(dry.out, " ++ 1/4 ++   path: " + a + "\n试运行: 可以拼接, 将保存为 " + a + "/a.bmp, 并删除2个tif文件\n" +
                           " ++ 2/4 ++   path: " + b + "\n" + Count(1) + " ++ 3/4 ++   path: " + c +
                           "\n拼接失败! 无法读取tif文件: " + c + "/1.tif\n ++ 4/4 ++   path: " + d +
                           "\n试运行: 可以拼接, 将保存为 " + d + "/" + odd + ".bmp, 并删除2个tif文件\n");
    EXPECT_EQ(testing::ListNames(a), before);
    const std::string dryReport = testing::ReadBytes(tmp / "dry.json");
    EXPECT_EQ(std::count(dryReport.begin(), dryReport.end(), '\n'), 4);
    EXPECT_EQ(dryReport.rfind("{\"dir\":\"" + a + "\",\"outcome\":\"checked\",\"tiles\":2,\"mosaic\":\"", 0), 0u);
    const std::string jsonD = tmp / "d\\udcff";
    const auto run = RunTessaro({"--report=" + tmp / "run.json", tmp.path(), "1"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(testing::ReadBytes(tmp / "run.json"),
              "{\"dir\":\"" + a + "\",\"outcome\":\"saved\",\"tiles\":2,\"mosaic\":\"" + a +
                  "/a.bmp\",\"deleted\":2}\n"
                  "{\"dir\":\"" + b + "\",\"outcome\":\"count\",\"tiles\":1,\"mosaic\":null,\"deleted\":0}\n"
                  "{\"dir\":\"" + c + "\",\"outcome\":\"unreadable\",\"tiles\":2,\"mosaic\":null,\"deleted\":0}\n"
                  "{\"dir\":\"" + jsonD + "\",\"outcome\":\"saved\",\"tiles\":2,\"mosaic\":\"" + jsonD +
                  "/d\\udcff.bmp\",\"deleted\":2}\n");
    const auto unwritable = RunTessaro({"--report", tmp / "no/such/dir", tmp.path()});
    EXPECT_EQ(unwritable.exitCode, 2);
    EXPECT_EQ(unwritable.out, "");
}

}  // namespace
}  // namespace tessaro
