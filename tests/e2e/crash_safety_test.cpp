// Crash safety, end to end: the binary is killed (SIGKILL) at random moments of runs with deletion
// on over a tree of groups, and what it leaves must always be safe. For every directory either all
// its tiles are there, or its complete mosaic is (and then some tiles may be gone); nothing but a
// complete mosaic ever has the mosaic's name; at most one hidden temporary file, never named like a
// tile or a mosaic, survives a kill; and a run after the kill finishes the work.
#include <linux/fs.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <map>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "run_binary.h"
#include "temp_dir.h"
#include "tiff_fixture.h"
#include "tree_check.h"

namespace tessaro {
namespace {

namespace fs = std::filesystem;
using namespace testing;

using Names = std::vector<std::string>;

const Names kTileNames = {"1.tif", "2.tif", "3.tif", "4.tif"};

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

struct CrashGroup {
    std::string name;      // also the directory's name
    std::string pristine;  // where the untouched tiles are kept
    std::string dir;       // the directory in the tree the binary runs over
    std::string expected;  // the whole mosaic file
    std::string bmp() const { return dir + "/" + name + ".bmp"; }
};

// What one directory looks like after a run.
struct DirState {
    int tiles = 0;           // how many of its four tiles are present
    bool mosaic = false;     // a file under the mosaic's name, checked to be complete
    Names temporaries;       // hidden temporary files
};

DirState Inspect(const CrashGroup& group) {
    SCOPED_TRACE(group.dir);
    DirState state;
    for (const std::string& name : ListNames(group.dir)) {
        if (std::find(kTileNames.begin(), kTileNames.end(), name) != kTileNames.end()) {
            ++state.tiles;
        } else if (name == group.name + ".bmp") {
            state.mosaic = true;
            EXPECT_TRUE(SameFileBytes(ReadBytes(group.bmp()), group.expected))
                << "the mosaic's name holds something other than the complete mosaic";
        } else if (name == ".tessaro-lock") {
            // The lock a killed run held; the next run takes it over and removes it.
        } else if (IsTemporaryName(name) && !EndsWith(name, ".tif") && !EndsWith(name, ".bmp")) {
            state.temporaries.push_back(name);
        } else {
            ADD_FAILURE() << "unexpected file " << group.dir << "/" << name;
        }
    }
    if (state.tiles < 4) {
        EXPECT_TRUE(state.mosaic) << "tiles are gone but no complete mosaic is there";
    }
    return state;
}

// Puts every missing tile back (hard links to the pristine copies, which the binary never writes).
void RestoreTiles(const CrashGroup& group) {
    for (const std::string& tile : kTileNames)
        if (!fs::exists(group.dir + "/" + tile))
            fs::create_hard_link(group.pristine + "/" + tile, group.dir + "/" + tile);
}

// Builds `count` groups of four tiles each. Both rows of a group have different heights, so that
// no two tiles left over from an interrupted deletion can ever form a group of their own.
std::vector<CrashGroup> MakeTree(const TempDir& tmp, int count, int minSide, int maxSide, std::mt19937& rng) {
    std::uniform_int_distribution<int> side(minSide, maxSide);
    std::vector<CrashGroup> groups;
    for (int g = 0; g < count; ++g) {
        CrashGroup group;
        char name[16];
        std::snprintf(name, sizeof name, "g%02d", g);
        group.name = name;
        group.pristine = tmp / ("pristine/" + group.name);
        group.dir = tmp / ("tree/" + group.name);
        fs::create_directories(group.pristine);
        fs::create_directories(group.dir);
        const int leftWidth = side(rng), rightWidth = side(rng), topHeight = side(rng);
        int bottomHeight = side(rng);
        if (bottomHeight == topHeight) bottomHeight = topHeight == minSide ? topHeight + 1 : topHeight - 1;
        const int widths[] = {leftWidth, leftWidth, rightWidth, rightWidth};
        const int heights[] = {topHeight, bottomHeight, topHeight, bottomHeight};
        TiffOptions options;
        if (g % 3 == 1) {
            options.compression = COMPRESSION_LZW;
            options.rowsPerStrip = 32;
        }
        std::vector<DecodedTile> tiles;
        for (int t = 0; t < 4; ++t)
            tiles.push_back(WriteTile(group.pristine + "/" + kTileNames[t],
                                      PatternTile(widths[t], heights[t], static_cast<uint8_t>(4 * g + t)),
                                      options));
        group.expected = ExpectedBmpFile(tiles);
        RestoreTiles(group);
        groups.push_back(std::move(group));
    }
    return groups;
}

bool HasFailureLine(const std::string& out) { return out.find("拼接失败!") != std::string::npos; }

TEST(CrashSafety, KilledAtRandomMomentsNeverLosesATileAndTheNextRunFinishes) {
    const bool light = RunsSlowed();
    const int kGroups = light ? 8 : 20, kRuns = light ? 15 : 50;
    const int kMinSide = light ? 128 : 256, kMaxSide = light ? 384 : 768;
    std::mt19937 rng(20240607);
    TempDir tmp;
    const std::vector<CrashGroup> groups = MakeTree(tmp, kGroups, kMinSide, kMaxSide, rng);
    const std::string tree = tmp / "tree";

    // One run without a kill: how long a whole run takes, and that it does the work.
    RunResult full = RunTessaro({tree, "1"});
    ASSERT_EQ(full.exitCode, 0) << full.out;
    for (const CrashGroup& group : groups) {
        const DirState state = Inspect(group);
        EXPECT_EQ(state.tiles, 0);
        EXPECT_TRUE(state.temporaries.empty());
    }
    const double fullSeconds = full.seconds;
    std::uniform_real_distribution<double> delay(0.0, 1.1 * fullSeconds);

    int kills = 0, finishedFirst = 0, groupsDoneAtKill = 0, groupsUntouchedAtKill = 0;
    int interruptedDeletions = 0, leftoverTemporaries = 0, finishedDeletions = 0;
    // On a slow or busy machine the rounds stop when the time is spent, after a minimum of them.
    const auto start = std::chrono::steady_clock::now();
    constexpr auto kBudget = std::chrono::seconds(45);
    constexpr int kMinRuns = 10;
    int rounds = 0;
    for (int round = 0; round < kRuns; ++round, ++rounds) {
        if (round >= kMinRuns && std::chrono::steady_clock::now() - start > kBudget) break;
        SCOPED_TRACE(::testing::Message() << "round " << round);
        // Every other round starts with the mosaics of the round before still in place.
        for (const CrashGroup& group : groups) {
            if (round % 2 == 0) fs::remove(group.bmp());
            RestoreTiles(group);
        }
        RunOptions killing;
        killing.killAfterMicroseconds = static_cast<long long>(delay(rng) * 1e6) + 1;
        const RunResult run = RunTessaro({tree, "1"}, killing);
        ASSERT_FALSE(run.timedOut);
        // The kill can cross the process's own exit: only a death by SIGKILL counts as a kill.
        if (run.killed && run.signal == SIGKILL) {
            ++kills;
        } else {
            ++finishedFirst;
            EXPECT_EQ(run.exitCode, 0) << run.out;
        }
        int temporariesNow = 0;
        std::map<std::string, bool> interrupted;
        for (const CrashGroup& group : groups) {
            const DirState state = Inspect(group);
            temporariesNow += static_cast<int>(state.temporaries.size());
            if (state.tiles == 0) ++groupsDoneAtKill;
            if (state.tiles == 4) ++groupsUntouchedAtKill;
            if (state.tiles > 0 && state.tiles < 4) {
                ++interruptedDeletions;
                interrupted[group.dir] = true;
            }
        }
        // One group is in flight at a time, and it has at most two hidden files: a journal and a
        // tile on its way out, or one temporary file. The next run clears them itself.
        EXPECT_LE(temporariesNow, 2);
        leftoverTemporaries += temporariesNow;

        // The next run finishes the work: every directory ends with its mosaic and no tiles,
        // including those whose deletion was cut short.
        const RunResult rerun = RunTessaro({tree, "1"});
        EXPECT_EQ(rerun.signal, 0);
        EXPECT_EQ(rerun.exitCode, 0) << rerun.out;
        EXPECT_FALSE(HasFailureLine(rerun.out)) << rerun.out;
        if (!interrupted.empty()) ++finishedDeletions;
        for (const CrashGroup& group : groups) {
            const DirState state = Inspect(group);
            EXPECT_TRUE(state.mosaic);
            EXPECT_TRUE(state.temporaries.empty());
            EXPECT_EQ(state.tiles, 0) << group.dir;
        }
    }
    std::cout << "[ observed ] full run " << fullSeconds << " s; " << rounds << " runs, " << kills
              << " killed, " << finishedFirst << " finished before the kill; at the kills "
              << groupsDoneAtKill << " groups were done and " << groupsUntouchedAtKill
              << " untouched; " << interruptedDeletions << " deletions cut short (finished by "
              << finishedDeletions << " re-runs); " << leftoverTemporaries
              << " hidden temporary file(s) left by kills\n";
    EXPECT_GT(kills, rounds / 2);
}

// A deletion cut short: the mosaic is saved, tiles 1 and 2 are deleted, tiles 3 and 4 are not (they
// could not be deleted here, being immutable; a kill between two deletions leaves the same, as
// does another user's tile in a shared directory). Tiles 3 and 4 are the right column; with rows
// of equal height they would also fit side by side as a group of two. The next run must finish
// the deletion, not trade the complete mosaic for theirs.
TEST(CrashSafety, RerunAfterADeletionCutShortKeepsTheCompleteMosaic) {
    TempDir tmp;
    const std::string dir = tmp / "quad";
    fs::create_directories(dir);
    std::vector<DecodedTile> tiles;
    for (int t = 0; t < 4; ++t)
        tiles.push_back(WriteTile(dir + "/" + kTileNames[t], PatternTile(40, 30, static_cast<uint8_t>(t + 1))));
    const std::string complete = ExpectedBmpFile(tiles);
    if (!SetInodeFlag(dir + "/3.tif", FS_IMMUTABLE_FL, true)) GTEST_SKIP() << "no immutable files here";
    SetInodeFlag(dir + "/4.tif", FS_IMMUTABLE_FL, true);
    const RunResult first = RunTessaro({dir, "1"});
    SetInodeFlag(dir + "/3.tif", FS_IMMUTABLE_FL, false);
    SetInodeFlag(dir + "/4.tif", FS_IMMUTABLE_FL, false);
    ASSERT_EQ(first.out, ProgressLine(dir) + kSuccessLine);
    ASSERT_EQ(ListNames(dir), (Names{".tessaro-journal", "3.tif", "4.tif", "quad.bmp"}));

    // Without deletion the leftovers are left alone; with it, their deletion is finished.
    for (const char* deleting : {"0", "1"}) {
        const RunResult rerun = RunTessaro({dir, deleting});
        EXPECT_EQ(rerun.out, ProgressLine(dir) + kSuccessLine);
        EXPECT_EQ(rerun.exitCode, 0);
        EXPECT_TRUE(SameFileBytes(ReadBytes(dir + "/quad.bmp"), complete)) << "the complete mosaic was replaced";
    }
    EXPECT_EQ(ListNames(dir), (Names{"quad.bmp"}));
}

// A tile put back under a listed name is a new tile, not a leftover of the saved group.
TEST(CrashSafety, TilesPutBackAreJoinedAgain) {
    TempDir tmp;
    const std::string dir = tmp / "pair";
    fs::create_directories(dir);
    const auto left = PatternTile(20, 10, 1), right = PatternTile(12, 10, 2);
    WriteTile(dir + "/1.tif", left);
    WriteTile(dir + "/2.tif", right);
    if (!SetInodeFlag(dir + "/2.tif", FS_IMMUTABLE_FL, true)) GTEST_SKIP() << "no immutable files here";
    ASSERT_EQ(RunTessaro({dir, "1"}).out, ProgressLine(dir) + kSuccessLine);
    SetInodeFlag(dir + "/2.tif", FS_IMMUTABLE_FL, false);
    const auto newLeft = WriteTile(dir + "/1.tif", PatternTile(20, 10, 3));
    const auto sameRight = WriteTile(dir + "/2.tif.new", right);
    fs::rename(dir + "/2.tif.new", dir + "/2.tif");  // same pixels, but another file
    EXPECT_EQ(RunTessaro({dir, "1"}).out, ProgressLine(dir) + kSuccessLine);
    EXPECT_TRUE(SameFileBytes(ReadBytes(dir + "/pair.bmp"), ExpectedBmpFile({newLeft, sameRight})));
    // The first mosaic held the only copy of the first 1.tif: it stays, under a backup name.
    EXPECT_EQ(ListNames(dir), (Names{"pair.bmp", "pair.bmp.~1~"}));
}

// A run killed while a group is being decoded takes its fork server and decoding child with it at
// once: the decoder, made to pause after each band, would go on writing for seconds.
TEST(CrashSafety, ARunKilledWhileDecodingLeavesNoProcessBehind) {
    TempDir tmp;
    const std::string dir = tmp / "six";
    fs::create_directories(dir);
    for (int i = 1; i <= 6; ++i) WriteTile(dir + "/" + std::to_string(i) + ".tif", PatternTile(512, 512, i));
    RunOptions options;
    options.terminal = Terminal::forStderr;  // the decoder reports (and pauses) only for a meter
    options.env.push_back("TESSARO_TEST_DECODER=slow");
    options.killAfterMicroseconds = 1500000;
    const RunResult run = RunTessaro({dir}, options);
    ASSERT_TRUE(run.killed);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(RunsWrapped() ? 20 : 2);
    bool gone = false;
    while (!gone && std::chrono::steady_clock::now() < deadline) {
        gone = kill(-run.processGroup, 0) != 0 && errno == ESRCH;
        if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(gone) << "a process of the killed run is still there";
    EXPECT_EQ(ListNames(dir).size(), 7u);  // the tiles and the lock it held, and no mosaic
}

}  // namespace
}  // namespace tessaro
