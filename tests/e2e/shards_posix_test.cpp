// The README's recipe for many workers over one tree: a manifest, each worker taking its shard of
// it by index, run side by side by GNU parallel.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>

#include <gtest/gtest.h>

#include "run_binary.h"
#include "temp_dir.h"
#include "tiff_fixture.h"
#include "tree_check.h"

namespace tessaro {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

TEST(Shards, FourWorkersUnderGnuParallelJoinEveryGroupExactlyOnce) {
    if (std::system("command -v parallel > /dev/null") != 0) GTEST_SKIP() << "GNU parallel is not installed";
    TempDir tmp;
    // 24 groups: joinable ones of 2, 4 and 6 tiles, and ones of 3 tiles that must stay whole.
    std::map<std::string, int> tiles;  // directory, as the manifest names it -> its tile count
    for (int i = 0; i < 24; ++i) {
        const std::string dir = "tree/" + std::to_string(i % 3) + "/g" + std::to_string(i);
        fs::create_directories(tmp / dir);
        tiles[dir] = i % 4 == 3 ? 3 : 2 * (i % 3 + 1);
        for (int t = 0; t < tiles[dir]; ++t)
            testing::WriteTiff(tmp / (dir + "/" + std::to_string(t) + ".tif"), testing::PatternTile(8, 8, t));
    }
    fs::create_directories(tmp / "bin");
    fs::create_symlink(testing::TessaroPath(), tmp / "bin/tessaro");
    const std::string recipe =
        "cd '" + tmp.path() + "' && PATH='" + tmp / "bin" + "':$PATH && "
        "tessaro --list -0 tree > all && "
        "parallel -j4 \"split -n r/{}/4 -t '\\0' all | tessaro -0 --from - --report report.{}.jsonl 1 > log.{}\" "
        "::: 1 2 3 4 2> /dev/null";
    std::system(recipe.c_str());

    std::map<std::string, int> reported;
    const std::regex line(R"re(\{"dir":"([^"]*)","outcome":"(\w+)","tiles":(\d+),.*"deleted":(\d+)\})re");
    for (int worker = 1; worker <= 4; ++worker) {
        const std::string report = testing::ReadBytes(tmp / ("report." + std::to_string(worker) + ".jsonl"));
        EXPECT_FALSE(report.empty()) << worker;  // round robin gives every worker six groups
        for (std::sregex_iterator it(report.begin(), report.end(), line), end; it != end; ++it) {
            const std::string dir = (*it)[1];
            ++reported[dir];
            ASSERT_EQ(tiles.count(dir), 1u) << dir;
            const bool joinable = tiles[dir] != 3;
            EXPECT_EQ((*it)[2], joinable ? "saved" : "count") << dir;
            EXPECT_EQ(std::stoi((*it)[4]), joinable ? tiles[dir] : 0) << dir;
            // Joined once: the tiles gone and one mosaic (no numbered backup of an earlier one);
            // else every tile still there.
            EXPECT_EQ(testing::ListNames(tmp / dir).size(), joinable ? 1u : 3u) << dir;
        }
    }
    EXPECT_EQ(reported.size(), tiles.size());
    for (const auto& [dir, count] : reported) EXPECT_EQ(count, 1) << dir;
}

}  // namespace
}  // namespace tessaro
