// tessaro.exe over real tiles on Windows: Chinese names in code page 936 order and output, names
// whose code page 936 bytes hold 0x5C, the roots a user types, paths beyond MAX_PATH, deletion
// that leaves what Windows will not let go, and tiles that cannot be decoded. Output goes to
// pipes: code page 936 bytes with "\r\n" line ends.
#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>

#include "mosaic_expect.h"
#include "run_binary.h"
#include "temp_dir.h"
#include "tiff_fixture.h"
#include "tree_check.h"
#include "windows_test_win.h"

namespace tessaro {
namespace {

namespace fs = std::filesystem;
using namespace testing;
using Names = std::vector<std::string>;

void MakeDirs(const std::string& path) { fs::create_directories(FsPath(path)); }

void SetReadOnly(const std::string& path, bool on) {
    constexpr fs::perms write = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    fs::permissions(FsPath(path), write, on ? fs::perm_options::remove : fs::perm_options::add);
}

TEST(WindowsMosaic, ChineseNamesInCodePage936OrderAndOutput) {
    // In code page 936 啊 (B0 A1) comes before 一 (D2 BB) and 甲 (BC D7) before 乙 (D2 D2); their
    // UTF-8 bytes sort the other way round.
    ASSERT_LT(InCodePage("啊", 936), InCodePage("一", 936));
    ASSERT_LT(InCodePage("甲", 936), InCodePage("乙", 936));
    TempDir tmp;
    const std::string root = tmp / "图片";
    const std::string first = root + "\\啊";
    const std::string second = root + "\\一";
    MakeDirs(first);
    MakeDirs(second);
    const DecodedTile firstLeft = WriteTile(first + "\\啊.tif", PatternTile(23, 17, 1));
    const DecodedTile firstRight = WriteTile(first + "\\一.tif", MarkedTile(14, 17, 200, 30, 30));
    const DecodedTile secondLeft = WriteTile(second + "\\甲.tif", MarkedTile(9, 12, 30, 30, 200));
    const DecodedTile secondRight = WriteTile(second + "\\乙.tif", PatternTile(31, 12, 2));
    WriteBytes(second + "\\一.bmp", "an earlier mosaic");

    const RunResult run = RunTessaro({root, "1"});
    EXPECT_EQ(run.out, Redirected(ProgressLine(first, 1, 2) + kSuccessLine + ProgressLine(second, 2, 2) +
                                  kSuccessLine));
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(SameFileBytes(ReadBytes(first + "\\啊.bmp"), ExpectedBmpFile({firstLeft, firstRight})));
    EXPECT_TRUE(SameFileBytes(ReadBytes(second + "\\一.bmp"), ExpectedBmpFile({secondLeft, secondRight})));
    EXPECT_EQ(ListNames(first), Names{"啊.bmp"});
    EXPECT_EQ(ListNames(second), Names{"一.bmp"});
}

TEST(WindowsMosaic, NamesWhoseCodePage936BytesHold5CStayWhole) {
    // Each is a lead byte and then 0x5C, the byte of "\": split by bytes of code page 936, 淺
    // and 乗 would each be cut in two.
    ASSERT_EQ(InCodePage("淺", 936), "\x9C\x5C");
    ASSERT_EQ(InCodePage("乗", 936), "\x81\x5C");
    TempDir tmp;
    const std::string root = tmp / "淺";
    const std::string dir = root + "\\乗";
    MakeDirs(dir);
    const DecodedTile left = WriteTile(dir + "\\a.tif", PatternTile(12, 9, 3));
    const DecodedTile right = WriteTile(dir + "\\淺.tif", PatternTile(7, 9, 4));

    const RunResult run = RunTessaro({root});
    EXPECT_EQ(run.out, Redirected(ProgressLine(dir) + kSuccessLine));
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(SameFileBytes(ReadBytes(dir + "\\乗.bmp"), ExpectedBmpFile({left, right})));
    EXPECT_EQ(ListNames(dir), (Names{"a.tif", "乗.bmp", "淺.tif"}));
}

TEST(WindowsMosaic, RootsAsTypedWithATrailingBackslashOrRelative) {
    TempDir tmp;
    const std::string dir = tmp / "tiles";
    MakeDirs(dir);
    const std::string expected = ExpectedBmpFile({WriteTile(dir + "\\a.tif", PatternTile(10, 6, 5)),
                                                  WriteTile(dir + "\\b.tif", PatternTile(5, 6, 6))});
    struct Root {
        std::string typed;
        std::string workingDir;  // empty: the test's own
        std::string printed;     // the group's directory as printed
    };
    // A trailing backslash stays in the text: the tiles are "...tiles\\a.tif", their directory
    // "...tiles\". The mosaic is named after the directory all the same.
    const Root roots[] = {{dir + "\\", "", dir + "\\"}, {"tiles", tmp.path(), "tiles"}, {".", dir, "."}};
    for (const Root& root : roots) {
        SCOPED_TRACE(root.typed);
        fs::remove(FsPath(dir + "\\tiles.bmp"));
        RunOptions options;
        options.workingDir = root.workingDir;
        const RunResult run = RunTessaro({root.typed}, options);
        EXPECT_EQ(run.out, Redirected(ProgressLine(root.printed) + kSuccessLine));
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_TRUE(SameFileBytes(ReadBytes(dir + "\\tiles.bmp"), expected));
        EXPECT_EQ(ListNames(dir), (Names{"a.tif", "b.tif", "tiles.bmp"}));
    }
}

// Directories that Win32 path text cannot name (named like devices, or ending in a dot or a
// blank), below a "\\\\?\\" root typed with a trailing backslash: each is walked and joined as it
// is, its mosaic named after the directory as Windows names it (without the dot or blank). Below
// CON a chain deeper than the handles the walk keeps: climbing back to CON\e, CON is reopened
// by its name from the root, never by its path text.
TEST(WindowsMosaic, DirectoriesNamedLikeDevicesOrEndingInADotOrABlank) {
    TempDir tmp;
    const std::string root = "\\\\?\\" + tmp.path() + "\\";
    std::string chain = "CON";
    for (int level = 0; level < 30; ++level) chain += "\\d";
    const std::vector<std::pair<std::string, std::string>> dirs = {  // in the run's (byte) order
        {"AUX", "AUX"}, {"COM1", "COM1"}, {"CON", "CON"}, {chain, "d"}, {"CON\\e", "e"},
        {"NUL", "NUL"}, {"dot.", "dot"}, {"lpt1", "lpt1"}, {"space ", "space"}};
    std::string expectedOut;
    int number = 0;
    for (const auto& [name, shown] : dirs) {
        std::string made = root;
        for (std::size_t at = 0; at != std::string::npos;) {  // each directory on the way
            const std::size_t end = name.find('\\', at);
            made += (made == root ? "" : "\\") + name.substr(at, end - at);
            MakeDirectoryAsIs(made);
            at = end == std::string::npos ? end : end + 1;
        }
        for (const char* tile : {"a.tif", "b.tif"}) {
            WriteTile(tmp / tile, PatternTile(4, 3, 7));
            ASSERT_TRUE(MoveAsIs(tmp / tile, made + "\\" + tile)) << name;
        }
        expectedOut += ProgressLine(root + "\\" + name, ++number, int(dirs.size())) + kSuccessLine;
    }
    const RunResult run = RunTessaro({root, "1"});
    EXPECT_EQ(run.out, Redirected(expectedOut));
    EXPECT_EQ(run.exitCode, 0);
    for (const auto& [name, shown] : dirs) {
        Names names = ListNames(root + name);
        names.erase(std::remove(names.begin(), names.end(), "d"), names.end());
        names.erase(std::remove(names.begin(), names.end(), "e"), names.end());
        EXPECT_EQ(names, Names{shown + ".bmp"}) << name;
    }
}

// Paths longer than MAX_PATH (260 characters) work all the way, and tiles are named in any case.
TEST(WindowsMosaic, PathsBeyondMaxPathAndTileNamesInAnyCase) {
    TempDir tmp;
    std::string dir = tmp.path();
    for (int level = 0; dir.size() <= 300; ++level) dir += "\\directory-" + std::to_string(level);
    MakeDirs(dir);
    const DecodedTile left = WriteTile(dir + "\\A.TIF", PatternTile(6, 4, 1));
    const DecodedTile right = WriteTile(dir + "\\b.Tif", PatternTile(3, 4, 2));
    WriteBytes(dir + "\\c.tiff", "not a tile");

    const RunResult run = RunTessaro({tmp.path(), "1"});
    EXPECT_EQ(run.out, Redirected(ProgressLine(dir) + kSuccessLine));
    EXPECT_EQ(run.exitCode, 0);
    const std::string name = dir.substr(dir.rfind('\\') + 1);
    EXPECT_TRUE(SameFileBytes(ReadBytes(dir + "\\" + name + ".bmp"), ExpectedBmpFile({left, right})));
    EXPECT_EQ(ListNames(dir), (Names{"c.tiff", name + ".bmp"}));
}

// Another program holds tile 2 open without letting it be deleted, and tile 3 is read-only: both
// stay, the others go, and the group is saved. A run after that finds the two left, knows them
// for leftovers of the saved group (they would make a smaller mosaic of their own), keeps the
// complete mosaic, and with deletion on deletes them.
TEST(WindowsMosaic, DeletionLeavesHeldAndReadOnlyTilesForTheNextRun) {
    TempDir tmp;
    const std::string dir = tmp / "quad";
    MakeDirs(dir);
    std::vector<DecodedTile> tiles;
    for (int t = 1; t <= 4; ++t)
        tiles.push_back(WriteTile(dir + "\\" + std::to_string(t) + ".tif",
                                  PatternTile(16, 10, static_cast<uint8_t>(t))));
    const std::string complete = ExpectedBmpFile(tiles);
    SetReadOnly(dir + "\\3.tif", true);
    {
        const HeldFile held(dir + "\\2.tif");
        ASSERT_TRUE(held.held());
        const RunResult run = RunTessaro({dir, "1"});
        EXPECT_EQ(run.out, Redirected(ProgressLine(dir) + kSuccessLine));
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.exitCode, 0);
    }
    SetReadOnly(dir + "\\3.tif", false);
    EXPECT_EQ(ListNames(dir), (Names{".tessaro-journal", "2.tif", "3.tif", "quad.bmp"}));
    EXPECT_TRUE(SameFileBytes(ReadBytes(dir + "\\quad.bmp"), complete));

    for (const char* deleting : {"0", "1"}) {
        SCOPED_TRACE(deleting);
        const RunResult rerun = RunTessaro({dir, deleting});
        EXPECT_EQ(rerun.out, Redirected(ProgressLine(dir) + kSuccessLine));
        EXPECT_EQ(rerun.exitCode, 0);
        EXPECT_TRUE(SameFileBytes(ReadBytes(dir + "\\quad.bmp"), complete));
    }
    EXPECT_EQ(ListNames(dir), Names{"quad.bmp"});
}

TEST(WindowsMosaic, ATileThatCannotBeDecodedCostsOnlyItsGroup) {
    TempDir tmp;
    const std::string broken = tmp / "a-broken";
    const std::string good = tmp / "b-good";
    MakeDirs(broken);
    MakeDirs(good);
    TiffOptions lzw;
    lzw.compression = COMPRESSION_LZW;
    lzw.rowsPerStrip = 8;
    for (const char* tile : {"\\1.tif", "\\2.tif"}) {
        WriteTile(broken + tile, PatternTile(48, 40, 7), lzw);
        WriteTile(good + tile, PatternTile(48, 40, 8), lzw);
    }
    // Garbled pixels behind an intact header: the tile measures fine and fails to decode.
    std::string bytes = ReadBytes(broken + "\\2.tif");
    bytes.replace(8, bytes.size() / 3, bytes.size() / 3, '\xFF');
    WriteBytes(broken + "\\2.tif", bytes);
    WriteBytes(broken + "\\a-broken.bmp", "an earlier mosaic");

    const RunResult run = RunTessaro({tmp.path(), "1"});
    EXPECT_EQ(run.out, Redirected(ProgressLine(broken, 1, 2) + kReadFailedLine + ProgressLine(good, 2, 2) +
                                  kSuccessLine));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(ReadBytes(broken + "\\a-broken.bmp"), "an earlier mosaic");
    EXPECT_EQ(ListNames(broken), (Names{"1.tif", "2.tif", "a-broken.bmp"}));
    EXPECT_EQ(ListNames(good), Names{"b-good.bmp"});

    // A decoding process that crashes as it starts: every group gets the unreadable-tile line,
    // keeps its tiles, and the run goes on to the next, with no crash report in the way.
    for (const char* tile : {"\\1.tif", "\\2.tif"}) WriteTile(good + tile, PatternTile(48, 40, 8), lzw);
    RunOptions crashing;
    crashing.env.push_back("TESSARO_TEST_DECODER=crash");
    const RunResult crashed = RunTessaro({tmp.path(), "1"}, crashing);
    EXPECT_EQ(crashed.out, Redirected(ProgressLine(broken, 1, 2) + UnreadableLine(broken + "\\1.tif") +
                                      ProgressLine(good, 2, 2) + UnreadableLine(good + "\\1.tif")));
    EXPECT_EQ(crashed.err, "");
    EXPECT_EQ(crashed.exitCode, 1);
    EXPECT_FALSE(crashed.timedOut);
    EXPECT_EQ(ListNames(broken), (Names{"1.tif", "2.tif", "a-broken.bmp"}));
    EXPECT_EQ(ListNames(good), (Names{"1.tif", "2.tif", "b-good.bmp"}));
}

}  // namespace
}  // namespace tessaro
