// Two runs of the binary at once over the same tree (without deletion): each prints exactly what a
// run on its own prints, and the tree ends with every mosaic complete and no temporary file.
#include <chrono>
#include <filesystem>
#include <iostream>
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

struct SharedGroup {
    std::string dir;
    std::string bmp;
    std::string expected;  // the mosaic file; empty for a group that cannot be joined
    std::vector<std::string> tiles;
    std::string pristine;  // untouched copies of the tiles, when runs delete them
};

TEST(ConcurrentRuns, TwoRunsOverTheSameTreeEndWithCompleteMosaics) {
    const bool light = RunsSlowed();
    const int kGroups = light ? 6 : 12, kRounds = light ? 4 : 12, kMaxSide = light ? 200 : 500;
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> side(60, kMaxSide);
    TempDir tmp;
    const std::string tree = tmp / "tree";
    std::vector<SharedGroup> groups;
    std::string expectedOut;
    const int total = kGroups + 1;
    for (int g = 0; g < kGroups; ++g) {
        const int count = 2 * (g % 3 + 1);  // 2, 4 and 6 tiles
        char name[16];
        std::snprintf(name, sizeof name, "g%02d", g);
        const std::string dir = tree + kSeparator + name;
        SharedGroup group{dir, dir + kSeparator + name + ".bmp", "", {}, ""};
        fs::create_directories(group.dir);
        const int perColumn = count / 2;
        const int widths[] = {side(rng), side(rng)};
        std::vector<int> heights;
        for (int row = 0; row < perColumn; ++row) heights.push_back(side(rng));
        std::vector<DecodedTile> tiles;
        for (int t = 0; t < count; ++t) {
            const std::string tile = std::to_string(t + 1) + ".tif";
            tiles.push_back(WriteTile(group.dir + kSeparator + tile,
                                      PatternTile(widths[t / perColumn], heights[t % perColumn],
                                                  static_cast<uint8_t>(g * 8 + t))));
            group.tiles.push_back(tile);
        }
        group.expected = ExpectedBmpFile(tiles);
        expectedOut += ProgressLine(group.dir, g + 1, total) + kSuccessLine;
        groups.push_back(std::move(group));
    }
    // One directory that cannot be joined: both runs must report it once each, like a lone run.
    const std::string odd = tmp / "tree/odd";
    fs::create_directories(odd);
    for (const char* tile : {"1.tif", "2.tif", "3.tif"})
        WriteTile(odd + kSeparator + tile, PatternTile(9, 9));
    expectedOut += ProgressLine(odd, total, total) + CountLine(3);

    const RunResult alone = RunTessaro({tree});
    ASSERT_EQ(alone.out, Printed(expectedOut));
    ASSERT_EQ(alone.exitCode, 1);

    std::uniform_int_distribution<int> stagger(0, static_cast<int>(alone.seconds * 1e6 / 2));
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE(::testing::Message() << "round " << round);
        if (round % 2 == 0)
            for (const SharedGroup& group : groups) fs::remove(group.bmp);
        const auto head = std::chrono::microseconds(round == 0 ? 0 : stagger(rng));
        RunResult first, second;
        std::thread a([&] { first = RunTessaro({tree}); });
        std::thread b([&] {
            std::this_thread::sleep_for(head);
            second = RunTessaro({tree});
        });
        a.join();
        b.join();
        for (const RunResult* run : {&first, &second}) {
            EXPECT_EQ(run->out, Printed(expectedOut));
            EXPECT_EQ(run->err, "");
            EXPECT_EQ(run->exitCode, 1);
            EXPECT_EQ(run->signal, 0);
        }
        for (const SharedGroup& group : groups) {
            SCOPED_TRACE(group.dir);
            std::vector<std::string> names = group.tiles;
            names.push_back(fs::path(group.bmp).filename().string());
            std::sort(names.begin(), names.end());
            EXPECT_EQ(ListNames(group.dir), names);
            EXPECT_TRUE(SameFileBytes(ReadBytes(group.bmp), group.expected));
        }
        EXPECT_EQ(ListNames(odd), (std::vector<std::string>{"1.tif", "2.tif", "3.tif"}));
    }
    std::cout << "[ observed ] a run alone took " << alone.seconds << " s; " << kRounds
              << " rounds of two runs at once\n";
}

TEST(ConcurrentRuns, TwoDeletingRunsAtOnceKeepEveryPicture) {
    // With deletion on, one run may delete tiles the other is about to read; that run then fails
    // the group (which the first one saved) or sees fewer tiles. Whatever each prints, every
    // directory must end with its complete mosaic. Widths and heights within a group all differ,
    // so no tiles left over by the other run can make a group of their own.
    const bool light = RunsSlowed();
    const int kGroups = light ? 6 : 12, kRounds = light ? 4 : 10;
    std::mt19937 rng(11);
    TempDir tmp;
    const std::string tree = tmp / "tree";
    std::vector<SharedGroup> groups;
    for (int g = 0; g < kGroups; ++g) {
        const int count = 2 * (g % 3 + 1);
        const int perColumn = count / 2;
        char name[16];
        std::snprintf(name, sizeof name, "g%02d", g);
        const std::string dir = tree + kSeparator + name;
        SharedGroup group{dir, dir + kSeparator + name + ".bmp", "", {},
                          tmp / ("pristine/" + std::string(name))};
        fs::create_directories(group.pristine);
        std::vector<DecodedTile> tiles;
        for (int t = 0; t < count; ++t) {
            const int width = 100 + 17 * (t / perColumn) + g;
            const int height = 80 + 13 * (t % perColumn) + g;
            const std::string tile = std::to_string(t + 1) + ".tif";
            tiles.push_back(WriteTile(group.pristine + kSeparator + tile,
                                      PatternTile(width, height, static_cast<uint8_t>(g + t))));
            group.tiles.push_back(tile);
        }
        group.expected = ExpectedBmpFile(tiles);
        groups.push_back(std::move(group));
    }
    std::uniform_int_distribution<int> stagger(0, 20000);
    int failureLines = 0;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE(::testing::Message() << "round " << round);
        for (const SharedGroup& group : groups) {
            fs::create_directories(group.dir);
            fs::remove(group.bmp);
            for (const std::string& tile : group.tiles)
                fs::create_hard_link(group.pristine + kSeparator + tile, group.dir + kSeparator + tile);
        }
        const auto head = std::chrono::microseconds(stagger(rng));
        RunResult first, second;
        std::thread a([&] { first = RunTessaro({tree, "1"}); });
        std::thread b([&] {
            std::this_thread::sleep_for(head);
            second = RunTessaro({tree, "1"});
        });
        a.join();
        b.join();
        for (const RunResult* run : {&first, &second}) {
            EXPECT_EQ(run->signal, 0);
            EXPECT_FALSE(run->timedOut);
            EXPECT_EQ(run->err, "");
            const std::string failed = Printed("拼接失败!");
            for (std::size_t at = run->out.find(failed); at != std::string::npos;
                 at = run->out.find(failed, at + 1))
                ++failureLines;
        }
        for (const SharedGroup& group : groups) {
            SCOPED_TRACE(group.dir);
            const std::string bmpName = fs::path(group.bmp).filename().string();
            EXPECT_EQ(ListNames(group.dir), std::vector<std::string>{bmpName});
            EXPECT_TRUE(SameFileBytes(ReadBytes(group.bmp), group.expected));
        }
    }
    std::cout << "[ observed ] " << kRounds << " rounds of two deleting runs: " << failureLines
              << " failure line(s) from the run that lost the race\n";
}

}  // namespace
}  // namespace tessaro
