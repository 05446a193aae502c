// Faults while saving, end to end, always with deletion on (switch "1"): whatever stops the
// mosaic from being saved, the group ends with the save message, its tiles and any earlier
// mosaic stay exactly as they were and no temporary file is left; when the mosaic is saved but a
// tile cannot be deleted, the group still succeeds and the tile stays.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "open_gate.h"
#include "run_binary.h"
#include "temp_dir.h"
#include "tiff_fixture.h"
#include "tree_check.h"

namespace tessaro {
namespace {

namespace fs = std::filesystem;
using namespace testing;

using Names = std::vector<std::string>;

void ExpectCleanEnd(const RunResult& run, int exitCode) {
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.exitCode, exitCode);
    EXPECT_EQ(run.err, "");
}

// A directory holding a pair of tiles, and optionally an earlier mosaic; returns the tiles'
// expected pixels.
struct Group {
    std::string dir;
    std::string bmp;  // dir + "/" + name + ".bmp"
    std::vector<DecodedTile> tiles;
    std::vector<std::string> tileFiles;  // the bytes of a.tif and b.tif
};

Group MakeGroup(const std::string& dir, int32_t width, int32_t height, const char* earlier = nullptr) {
    fs::create_directories(dir);
    Group group;
    group.dir = dir;
    group.bmp = dir + "/" + fs::path(dir).filename().string() + ".bmp";
    group.tiles.push_back(WriteTile(dir + "/a.tif", PatternTile(width, height, 1)));
    group.tiles.push_back(WriteTile(dir + "/b.tif", PatternTile(width + 1, height, 2)));
    group.tileFiles = {ReadBytes(dir + "/a.tif"), ReadBytes(dir + "/b.tif")};
    if (earlier) WriteBytes(group.bmp, earlier);
    return group;
}

// The tiles and the earlier mosaic are exactly as they were, and nothing else is there.
void ExpectUntouched(const Group& group, const char* earlier) {
    SCOPED_TRACE(group.dir);
    const std::string bmpName = fs::path(group.bmp).filename().string();
    EXPECT_EQ(ListNames(group.dir), earlier ? (Names{"a.tif", "b.tif", bmpName}) : (Names{"a.tif", "b.tif"}));
    if (earlier) {
        EXPECT_EQ(ReadBytes(group.bmp), earlier);
    }
    EXPECT_EQ(ReadBytes(group.dir + "/a.tif"), group.tileFiles[0]);
    EXPECT_EQ(ReadBytes(group.dir + "/b.tif"), group.tileFiles[1]);
}

void ExpectSaved(const Group& group, const Names& namesLeft) {
    SCOPED_TRACE(group.dir);
    EXPECT_EQ(ListNames(group.dir), namesLeft);
    EXPECT_TRUE(SameFileBytes(ReadBytes(group.bmp), ExpectedBmpFile(group.tiles)));
}

// Clears an inode flag when the test ends, however it ends, so the temp tree can be removed.
struct FlagGuard {
    std::string path;
    int flag;
    ~FlagGuard() { SetInodeFlag(path, flag, false); }
};

RunOptions AsNobody() {
    RunOptions options;
    options.uid = kNobody;
    options.gid = kNobody;
    options.timeoutSeconds = 60;
    return options;
}

TEST(SaveFault, WriteFailureUnderAFileSizeLimit) {
    TempDir tmp;
    const Group big = MakeGroup(tmp / "big", 300, 200, "earlier mosaic");  // 180654 bytes
    const Group small = MakeGroup(tmp / "small", 20, 10);
    RunOptions options;
    options.fileSizeLimitBytes = 100000;
    const RunResult run = RunTessaro({tmp.path(), "1"}, options);
    EXPECT_EQ(run.out, ProgressLine(big.dir, 1, 2) + kSaveFailedLine + ProgressLine(small.dir, 2, 2) +
                           kSuccessLine);
    ExpectCleanEnd(run, 1);
    ExpectUntouched(big, "earlier mosaic");
    ExpectSaved(small, {"small.bmp"});
}

TEST(SaveFault, FullDiskKeepsTilesAndTheEarlierMosaic) {
    if (!CanSwitchUser()) GTEST_SKIP() << "mounting a small file system needs root";
    TempDir tmp;
    const std::string mountPoint = tmp / "small-disk";
    fs::create_directories(mountPoint);
    if (mount("tessaro-test", mountPoint.c_str(), "tmpfs", 0, "size=512k") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    struct Unmount {
        std::string path;
        ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
    } unmount{mountPoint};
    // Two tiles of 300 x 200 take 360 KB of the 512 KB; their mosaic needs another 360 KB.
    const Group group = MakeGroup(mountPoint + "/full", 300, 200, "earlier mosaic");
    const RunResult run = RunTessaro({group.dir, "1"});
    EXPECT_EQ(run.out, ProgressLine(group.dir) + kSaveFailedLine);
    ExpectCleanEnd(run, 1);
    ExpectUntouched(group, "earlier mosaic");
}

TEST(SaveFault, RenameOverAnImmutableMosaicFails) {
    // Everything up to the final rename works; the rename itself is refused (EPERM).
    TempDir tmp;
    const Group group = MakeGroup(tmp / "locked", 30, 20, "earlier mosaic");
    if (!SetInodeFlag(group.bmp, FS_IMMUTABLE_FL, true))
        GTEST_SKIP() << "the immutable flag is not available here";
    FlagGuard guard{group.bmp, FS_IMMUTABLE_FL};
    const RunResult run = RunTessaro({group.dir, "1"});
    EXPECT_EQ(run.out, ProgressLine(group.dir) + kSaveFailedLine);
    ExpectCleanEnd(run, 1);
    ExpectUntouched(group, "earlier mosaic");
}

TEST(SaveFault, AppendOnlyDirectory) {
    // Names can be added to an append-only directory but never removed or renamed away. With no
    // mosaic there yet, the complete file takes its name in one step and the save succeeds; the
    // tiles cannot be deleted there and stay listed in the journal.
    TempDir tmp;
    const Group group = MakeGroup(tmp / "append", 30, 20);
    if (!SetInodeFlag(group.dir, FS_APPEND_FL, true))
        GTEST_SKIP() << "the append-only flag is not available here";
    {
        FlagGuard guard{group.dir, FS_APPEND_FL};
        const RunResult run = RunTessaro({group.dir, "1"});
        EXPECT_EQ(run.out, ProgressLine(group.dir) + kSuccessLine);
        ExpectCleanEnd(run, 0);
        // (A name stays in such a directory: the lock file too.)
        ExpectSaved(group, {".tessaro-journal", ".tessaro-lock", "a.tif", "append.bmp", "b.tif"});
    }
    // Over an earlier mosaic the rename would be refused: the save fails before the file gets
    // any name, and the earlier mosaic stays.
    const Group again = MakeGroup(tmp / "again", 30, 20, "earlier mosaic");
    SetInodeFlag(again.dir, FS_APPEND_FL, true);
    FlagGuard guard{again.dir, FS_APPEND_FL};
    const RunResult run = RunTessaro({again.dir, "1"});
    EXPECT_EQ(run.out, ProgressLine(again.dir) + kSaveFailedLine);
    ExpectCleanEnd(run, 1);
    EXPECT_EQ(ReadBytes(again.bmp), "earlier mosaic");
    EXPECT_EQ(ListNames(again.dir), (Names{".tessaro-lock", "a.tif", "again.bmp", "b.tif"}));
}

TEST(SaveFault, ReadOnlyDirectoryForAnotherUser) {
    if (!CanSwitchUser()) GTEST_SKIP() << "running as another user needs root";
    TempDir tmp;
    ASSERT_EQ(chmod(tmp.path().c_str(), 0755), 0);
    const Group locked = MakeGroup(tmp / "locked", 30, 20, "earlier mosaic");
    const Group open = MakeGroup(tmp / "open", 30, 20);
    ASSERT_EQ(chown(open.dir.c_str(), kNobody, kNobody), 0);
    const RunResult run = RunTessaro({tmp.path(), "1"}, AsNobody());
    EXPECT_EQ(run.out, ProgressLine(locked.dir, 1, 2) + kSaveFailedLine + ProgressLine(open.dir, 2, 2) +
                           kSuccessLine);
    ExpectCleanEnd(run, 1);
    ExpectUntouched(locked, "earlier mosaic");
    ExpectSaved(open, {"open.bmp"});
}

TEST(SaveFault, StickyDirectoryKeepsAnotherUsersMosaicAndTiles) {
    // A shared directory like /tmp (mode 1777): the user may create files there, but not replace
    // or delete files that belong to someone else.
    if (!CanSwitchUser()) GTEST_SKIP() << "running as another user needs root";
    TempDir tmp;
    ASSERT_EQ(chmod(tmp.path().c_str(), 0755), 0);
    const Group earlier = MakeGroup(tmp / "earlier", 30, 20, "root's mosaic");
    const Group fresh = MakeGroup(tmp / "fresh", 30, 20);
    for (const Group* group : {&earlier, &fresh}) ASSERT_EQ(chmod(group->dir.c_str(), 01777), 0);
    const RunResult run = RunTessaro({tmp.path(), "1"}, AsNobody());
    // The rename over root's mosaic is refused. With no mosaic in the way the new one is saved,
    // and the tiles, root's, cannot be deleted: the group still succeeds and keeps them.
    EXPECT_EQ(run.out, ProgressLine(earlier.dir, 1, 2) + kSaveFailedLine +
                           ProgressLine(fresh.dir, 2, 2) + kSuccessLine);
    ExpectCleanEnd(run, 1);
    ExpectUntouched(earlier, "root's mosaic");
    // The tiles that could not be deleted stay listed in the journal, so a later run knows them.
    ExpectSaved(fresh, {".tessaro-journal", "a.tif", "b.tif", "fresh.bmp"});
    struct stat st {};
    ASSERT_EQ(stat(fresh.bmp.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, static_cast<uid_t>(kNobody));
}

TEST(SaveFault, ImmutableTileIsKeptAndTheGroupSucceeds) {
    TempDir tmp;
    const std::string dir = tmp / "pinned";
    fs::create_directories(dir);
    // In group order: a top left, b bottom left, c top right, d bottom right.
    const std::vector<DecodedTile> tiles = {
        WriteTile(dir + "/a.tif", PatternTile(30, 20, 1)), WriteTile(dir + "/b.tif", PatternTile(30, 17, 2)),
        WriteTile(dir + "/c.tif", PatternTile(31, 20, 3)), WriteTile(dir + "/d.tif", PatternTile(31, 17, 4))};
    const std::string pinned = ReadBytes(dir + "/b.tif");
    if (!SetInodeFlag(dir + "/b.tif", FS_IMMUTABLE_FL, true))
        GTEST_SKIP() << "the immutable flag is not available here";
    FlagGuard guard{dir + "/b.tif", FS_IMMUTABLE_FL};
    const RunResult run = RunTessaro({dir, "1"});
    EXPECT_EQ(run.out, ProgressLine(dir) + kSuccessLine);
    ExpectCleanEnd(run, 0);
    // The tile that cannot be deleted is skipped, and kept in the journal; the ones after it are
    // still deleted.
    EXPECT_EQ(ListNames(dir), (Names{".tessaro-journal", "b.tif", "pinned.bmp"}));
    EXPECT_EQ(ReadBytes(dir + "/b.tif"), pinned);
    EXPECT_TRUE(SameFileBytes(ReadBytes(dir + "/pinned.bmp"), ExpectedBmpFile(tiles)));
}

TEST(SaveFault, TileRemovedByAnotherProgramBeforeItsDeletion) {
    // Another program deletes a tile by name while the binary opens it: the open still reaches
    // the file, which is measured and decoded through that one descriptor, the mosaic is whole,
    // and the later deletion finds nothing to do.
    TempDir tmp;
    const Group group = MakeGroup(tmp / "raced", 30, 20);
    OpenGate gate(group.dir + "/a.tif");
    if (!gate.armed()) GTEST_SKIP() << "fanotify permission events are not available here";
    std::atomic<bool> done{false};
    RunResult run;
    std::thread runner([&] {
        run = RunTessaro({group.dir, "1"});
        done = true;
    });
    gate.Serve(
        [&](int open) {
            if (open == 1) {
                EXPECT_EQ(unlink((group.dir + "/a.tif").c_str()), 0);
            }
        },
        done);
    runner.join();
    EXPECT_EQ(gate.opens(), 1);
    EXPECT_EQ(run.out, ProgressLine(group.dir) + kSuccessLine);
    ExpectCleanEnd(run, 0);
    ExpectSaved(group, {"raced.bmp"});
}

}  // namespace
}  // namespace tessaro
