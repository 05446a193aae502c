#include "sandbox/client.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <variant>
#include <vector>

#include "mosaic_expect.h"
#include "bmp_by_path.h"
#include "temp_dir.h"
#include "tiff_fixture.h"
#include "tree_check.h"

namespace tessaro {
namespace {

using testing::TempDir;

// The processes this thread has forked (or been given as a subreaper), still there or not reaped.
std::vector<pid_t> OwnChildren() {
    std::ifstream in("/proc/self/task/" + std::to_string(gettid()) + "/children");
    std::vector<pid_t> pids;
    for (pid_t pid; in >> pid;) pids.push_back(pid);
    return pids;
}

// Decodes the two tiles into `target` through a new decoding child; `forked` gets the processes
// this thread forked for it.
std::string Decode(const std::vector<UniqueFd>& tiles, const std::string& target, std::vector<pid_t>* forked) {
    const std::vector<pid_t> before = OwnChildren();
    std::optional<DecoderChild> child = DecoderChild::Start(tiles, kMeasuringLimits);
    if (!child) return "no child";
    for (pid_t pid : OwnChildren())
        if (std::find(before.begin(), before.end(), pid) == before.end()) forked->push_back(pid);
    std::vector<TileSize> sizes;
    for (std::size_t i = 0; i < tiles.size(); ++i) {
        const std::optional<TileSize> size = child->Measure(i);
        if (!size) return "not measured";
        sizes.push_back(*size);
    }
    const auto checked = CheckTileSizes(sizes);
    const TileLayout* layout = std::get_if<TileLayout>(&checked);
    if (layout == nullptr) return "no layout";
    std::optional<BmpFile> canvas = CreateBmp24(target, layout->canvasWidth, layout->canvasHeight);
    if (!canvas || child->Fill(*layout, *canvas, LimitsForPixels(PixelCount(*layout))) != FillOutcome::filled ||
        !SaveBmp24(*canvas, false))
        return "not filled";
    return testing::ReadBytes(target);
}

// With the fork server started, decoding children are its own, never this process's; once it is
// gone, Start forks them itself, and decodes the same.
TEST(DecoderChild, ChildrenComeFromTheForkServerAndFromTheCallerOnceItIsGone) {
    TempDir tmp;
    const testing::DecodedTile left = testing::WriteTile(tmp / "1.tif", testing::PatternTile(6, 4, 1));
    const testing::DecodedTile right = testing::WriteTile(tmp / "2.tif", testing::PatternTile(5, 4, 2));
    const std::string expected = testing::ExpectedBmpFile({left, right});
    std::vector<UniqueFd> tiles;
    for (const char* name : {"1.tif", "2.tif"}) tiles.emplace_back(open((tmp / name).c_str(), O_RDONLY | O_CLOEXEC));

    const std::vector<pid_t> before = OwnChildren();
    DecoderChild::AtProcessStart();
    std::vector<pid_t> server;
    for (pid_t pid : OwnChildren())
        if (std::find(before.begin(), before.end(), pid) == before.end()) server.push_back(pid);
    ASSERT_EQ(server.size(), 1u);

    std::vector<pid_t> forked;
    EXPECT_TRUE(testing::SameFileBytes(Decode(tiles, tmp / "served.bmp", &forked), expected));
    EXPECT_TRUE(forked.empty());

    ASSERT_EQ(kill(server.front(), SIGKILL), 0);
    int status;
    ASSERT_EQ(waitpid(server.front(), &status, 0), server.front());
    EXPECT_TRUE(testing::SameFileBytes(Decode(tiles, tmp / "forked.bmp", &forked), expected));
    EXPECT_EQ(forked.size(), 1u);
}

}  // namespace
}  // namespace tessaro
