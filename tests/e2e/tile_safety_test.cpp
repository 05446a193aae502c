// Tile safety against other users and unlucky timing, end to end. The binary is held at exact
// steps of a group (TESSARO_TEST_PAUSE) while the test swaps directories for links, renames files
// into place, or sends signals. Tiles within a group are all of one size, so any leftovers could
// make a group of their own and a wrong rejoin would show. The measure everywhere: no tile lost,
// no complete mosaic replaced by a smaller one, nothing outside the tree touched.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "fuse_mount.h"
#include "run_binary.h"
#include "temp_dir.h"
#include "tiff_fixture.h"
#include "tree_check.h"

namespace tessaro {
namespace {

namespace fs = std::filesystem;
using namespace testing;
using Names = std::vector<std::string>;

struct EqualGroup {
    std::string dir;
    std::string bmp;
    std::string expected;  // the complete mosaic
};

EqualGroup MakeEqualGroup(const std::string& dir, int count, uint8_t seed = 0) {
    fs::create_directories(dir);
    std::vector<DecodedTile> tiles;
    for (int t = 1; t <= count; ++t)
        tiles.push_back(WriteTile(dir + "/" + std::to_string(t) + ".tif",
                                  PatternTile(24, 16, static_cast<uint8_t>(seed + t))));
    const std::string name = fs::path(dir).filename();
    return {dir, dir + "/" + name + ".bmp", ExpectedBmpFile(tiles)};
}

// The directory holds its complete mosaic and nothing else.
void ExpectOnlyMosaic(const EqualGroup& group) {
    EXPECT_EQ(ListNames(group.dir), Names{fs::path(group.bmp).filename()}) << group.dir;
    if (fs::exists(group.bmp)) {
        EXPECT_TRUE(SameFileBytes(ReadBytes(group.bmp), group.expected));
    }
}

// A snapshot of every name and byte below dir.
std::map<std::string, std::string> Snapshot(const std::string& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        files[entry.path()] = entry.is_regular_file() ? ReadBytes(entry.path()) : "<dir>";
    return files;
}

RunOptions PauseAt(const std::string& step, std::function<int(int)> onPause) {
    RunOptions options;
    options.cpus = 1;  // one group at a time, so the stops come in group order
    options.pauseAt = step;
    options.onPause = std::move(onPause);
    return options;
}

TEST(TileSafety, LeftoversOfADeletionCutShortNeverReplaceTheCompleteMosaic) {
    struct Cut {
        const char* step;
        int stop;  // which stop at that step
        int signal;
    };
    // Killed between the steps of a deletion, or interrupted (which finishes the deletion first).
    const Cut cuts[] = {{"journaled", 1, SIGKILL}, {"moved", 1, SIGKILL}, {"moved", 3, SIGKILL},
                        {"deleted", 2, SIGKILL},   {"moved", 2, SIGTERM}, {"deleted", 1, SIGINT},
                        {"saved", 1, SIGHUP}};
    TempDir tmp;
    for (const Cut& cut : cuts) {
        SCOPED_TRACE(::testing::Message() << cut.step << " #" << cut.stop << " signal " << cut.signal);
        const EqualGroup group = MakeEqualGroup(tmp / "six", 6);
        const RunResult first = RunTessaro(
            {group.dir, "1"}, PauseAt(cut.step, [&](int n) { return n == cut.stop ? cut.signal : SIGCONT; }));
        EXPECT_EQ(first.signal, cut.signal);
        EXPECT_TRUE(SameFileBytes(ReadBytes(group.bmp), group.expected));
        // An interrupt waits for the deletion in progress to finish.
        if (cut.signal != SIGKILL) ExpectOnlyMosaic(group);
        // Three runs at once over what is left: one finishes the deletion, none rejoins.
        RunResult reruns[3];
        std::vector<std::thread> threads;
        for (RunResult& rerun : reruns) threads.emplace_back([&] { rerun = RunTessaro({group.dir, "1"}); });
        for (std::thread& thread : threads) thread.join();
        for (const RunResult& rerun : reruns) EXPECT_EQ(rerun.signal, 0);
        ExpectOnlyMosaic(group);
        fs::remove_all(group.dir);
    }
}

TEST(TileSafety, TilesArrivingBesideLeftoversNeverReplaceTheOnlyCopy) {
    // Killed after two of four tiles were deleted; a scanner then writes two more: the four make
    // a group, and the complete mosaic, the only copy of the two deleted tiles, is kept.
    TempDir tmp;
    const EqualGroup group = MakeEqualGroup(tmp / "quad", 4);
    const RunResult first =
        RunTessaro({group.dir, "1"}, PauseAt("deleted", [](int n) { return n == 2 ? SIGKILL : SIGCONT; }));
    EXPECT_EQ(first.signal, SIGKILL);
    std::vector<DecodedTile> tiles;
    for (int t = 3; t <= 6; ++t) {
        const RgbImage image = PatternTile(24, 16, static_cast<uint8_t>(t));
        tiles.push_back({24, 16, ExpectedBgrBottomUp(image)});
        if (t > 4) WriteTiff(group.dir + "/" + std::to_string(t) + ".tif", image);
    }
    const RunResult rerun = RunTessaro({group.dir, "1"});
    EXPECT_EQ(rerun.out, ProgressLine(group.dir) + kSuccessLine);
    EXPECT_EQ(ListNames(group.dir), (Names{"quad.bmp", "quad.bmp.~1~"}));
    EXPECT_TRUE(SameFileBytes(ReadBytes(group.bmp + ".~1~"), group.expected));
    EXPECT_TRUE(SameFileBytes(ReadBytes(group.bmp), ExpectedBmpFile(tiles)));
}

// A process of user `uid` that holds, until it is destroyed, every lock on directory `dir` it can
// take: flock on the directory itself, and a write lock on its lock file when it may open it.
class LockHolder {
public:
    LockHolder(const std::string& dir, int uid) {
        int ready[2];
        if (pipe(ready) != 0 || pipe(release_) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            close(release_[1]);  // so that the holder's end closing reads as the end of the pipe
            if (uid != 0 && (setgid(uid) != 0 || setuid(uid) != 0)) _exit(1);
            const int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
            flock(dirFd, LOCK_EX);
            const int lockFd = openat(dirFd, ".tessaro-lock", O_RDWR | O_CREAT, 0600);
            struct flock lock {};
            lock.l_type = F_WRLCK;
            if (lockFd >= 0) fcntl(lockFd, F_OFD_SETLK, &lock);
            char byte = 1;
            if (write(ready[1], &byte, 1) != 1 || read(release_[0], &byte, 1) < 0) _exit(1);
            _exit(0);
        }
        close(release_[0]);
        close(ready[1]);
        char byte;
        static_cast<void>(read(ready[0], &byte, 1));
        close(ready[0]);
    }
    ~LockHolder() {
        close(release_[1]);
        if (pid_ > 0) waitpid(pid_, nullptr, 0);
    }

private:
    int release_[2] = {-1, -1};
    pid_t pid_ = -1;
};

TEST(TileSafety, OnlyAWriterOfTheDirectoryCanMakeARunWaitAndNeverWithoutBound) {
    TempDir tmp;
    const EqualGroup held = MakeEqualGroup(tmp / "held", 2);
    const EqualGroup next = MakeEqualGroup(tmp / "next", 2, 10);
    // A user who may only read the directory locks all they can: the run does not wait.
    if (CanSwitchUser()) {
        ASSERT_EQ(chmod(tmp.path().c_str(), 0755), 0);
        const LockHolder reader(held.dir, kNobody);
        const RunResult run = RunTessaro({tmp.path()});
        EXPECT_EQ(run.out, ProgressLine(held.dir, 1, 2) + kSuccessLine + ProgressLine(next.dir, 2, 2) +
                               kSuccessLine);
        EXPECT_FALSE(run.timedOut);
    }
    // Another run (here, a process of the same user) holds it: the group waits no longer than
    // the bound, gets the save message with everything left as it was, and the run goes on.
    fs::remove(held.bmp);
    fs::remove(next.bmp);
    const LockHolder peer(held.dir, 0);
    RunOptions options;
    options.env.push_back("TESSARO_TEST_LOCK_WAIT=300");
    const RunResult run = RunTessaro({tmp.path(), "1"}, options);
    EXPECT_EQ(run.out, ProgressLine(held.dir, 1, 2) + kSaveFailedLine + ProgressLine(next.dir, 2, 2) +
                           kSuccessLine);
    EXPECT_EQ(ListNames(held.dir), (Names{".tessaro-lock", "1.tif", "2.tif"}));
    ExpectOnlyMosaic(next);
}

TEST(TileSafety, TilesAreDeletedOnAFuseMountRunAfterRun) {
    // FUSE (like NFS and SMB) refuses to rename without replacing: tiles still go, and only they.
    TempDir tmp;
    const std::string mountPoint = tmp / "fuse";
    const BindMount fuse(tmp / "disk", mountPoint, {});
    if (!fuse.mounted()) GTEST_SKIP() << "no FUSE mount with bindfs here";
    for (int round = 0; round < 2; ++round) {
        const EqualGroup group = MakeEqualGroup(mountPoint + "/pair", 2, static_cast<uint8_t>(round));
        EXPECT_EQ(RunTessaro({group.dir, "1"}).out, ProgressLine(group.dir) + kSuccessLine);
        ExpectOnlyMosaic(group);
    }
}

TEST(TileSafety, ARunTrustsItsOwnJournalWhereTheFileSystemSquashesRoot) {
    // Through this mount every file is nobody's, as a root run's files are on an NFS export that
    // squashes root: the journal of a run cut short must still be its own to the next run.
    TempDir tmp;
    const std::string mountPoint = tmp / "export";
    const BindMount squashed(tmp / "disk", mountPoint, {"--force-user=nobody", "--force-group=nogroup"});
    if (!squashed.mounted()) GTEST_SKIP() << "no FUSE mount with bindfs here";
    const EqualGroup group = MakeEqualGroup(mountPoint + "/quad", 4);
    const RunResult first =
        RunTessaro({group.dir, "1"}, PauseAt("deleted", [](int n) { return n == 2 ? SIGKILL : SIGCONT; }));
    EXPECT_EQ(first.signal, SIGKILL);
    EXPECT_EQ(RunTessaro({group.dir, "1"}).out, ProgressLine(group.dir) + kSuccessLine);
    ExpectOnlyMosaic(group);
}

TEST(TileSafety, TheOwnersRunFinishesWhatARootRunCutShortBegan) {
    if (!CanSwitchUser()) GTEST_SKIP() << "needs root to act as another user";
    // Root's run over a user's directory is cut short; the user's own run trusts root's journal
    // (no other user can make a file of root's) and finishes the deletion.
    TempDir tmp;
    ASSERT_EQ(chmod(tmp.path().c_str(), 0755), 0);
    const EqualGroup group = MakeEqualGroup(tmp / "mine", 4);
    for (const std::string& path : {group.dir, group.dir + "/1.tif", group.dir + "/2.tif",
                                    group.dir + "/3.tif", group.dir + "/4.tif"})
        ASSERT_EQ(lchown(path.c_str(), kNobody, kNobody), 0);
    const RunResult root =
        RunTessaro({group.dir, "1"}, PauseAt("deleted", [](int n) { return n == 2 ? SIGKILL : SIGCONT; }));
    EXPECT_EQ(root.signal, SIGKILL);
    RunOptions owner;
    owner.uid = kNobody;
    owner.gid = kNobody;
    EXPECT_EQ(RunTessaro({group.dir, "1"}, owner).out, ProgressLine(group.dir) + kSuccessLine);
    ExpectOnlyMosaic(group);
}

TEST(TileSafety, SwappingDirectoriesForLinksAtAnyStepTouchesNothingOutside) {
    for (const char* step : {"pinned", "measured", "saved", "journaled", "moved", "deleted"}) {
        SCOPED_TRACE(step);
        TempDir tmp;
        const EqualGroup a = MakeEqualGroup(tmp / "tree/a", 2);
        MakeEqualGroup(tmp / "tree/b", 2, 10);
        MakeEqualGroup(tmp / "outside", 2, 20);  // tiles under the same names
        const auto outside = Snapshot(tmp / "outside");
        // Held in group a, both directories become links to `outside`: a after it was pinned,
        // b before.
        const RunResult run = RunTessaro({tmp / "tree", "1"}, PauseAt(step, [&](int n) {
            for (const std::string dir : {"a", "b"})
                if (n == 1) {
                    fs::rename(tmp / ("tree/" + dir), tmp / ("tree/" + dir + ".real"));
                    fs::create_directory_symlink(tmp / "outside", tmp / ("tree/" + dir));
                }
            return SIGCONT;
        }));
        EXPECT_EQ(run.out, ProgressLine(tmp / "tree/a", 1, 2) + kSuccessLine +
                               ProgressLine(tmp / "tree/b", 2, 2) + UnreadableLine(tmp / "tree/b/1.tif"));
        EXPECT_EQ(Snapshot(tmp / "outside"), outside);
        ExpectOnlyMosaic({tmp / "tree/a.real", tmp / "tree/a.real/a.bmp", a.expected});
        EXPECT_EQ(ListNames(tmp / "tree/b.real"), (Names{"1.tif", "2.tif"}));
    }
}

TEST(TileSafety, AFileRenamedIntoATilesPlaceAfterDecodingIsKept) {
    TempDir tmp;
    WriteBytes(tmp / "scan", "a tile scanned later");
    // After the save, before any deletion; and in the moment between a tile's check and its move.
    for (const char* step : {"saved", "moved"}) {
        SCOPED_TRACE(step);
        const EqualGroup group = MakeEqualGroup(tmp / "g", 2);
        const std::string held = group.dir + (std::string(step) == "saved" ? "/1.tif" : "/.tessaro-deleting-0");
        const RunResult run = RunTessaro({group.dir, "1"}, PauseAt(step, [&](int n) {
            if (n == 1) {
                fs::copy_file(tmp / "scan", tmp / "new");
                fs::rename(tmp / "new", held);
            }
            return SIGCONT;
        }));
        EXPECT_EQ(run.out, ProgressLine(group.dir) + kSuccessLine);
        EXPECT_EQ(ReadBytes(group.dir + "/1.tif"), "a tile scanned later");
        EXPECT_EQ(ListNames(group.dir), (Names{".tessaro-journal", "1.tif", "g.bmp"}));
        EXPECT_TRUE(SameFileBytes(ReadBytes(group.bmp), group.expected));
        fs::remove_all(group.dir);
    }
}

TEST(TileSafety, ACopyOfATileWithItsSizeAndTimesIsKept) {
    // What cp -p makes of a tile (the same bytes, size and times, another file), swapped in under
    // the tile's private name once it was moved there: it is not the tile decoded, and stays.
    TempDir tmp;
    const EqualGroup group = MakeEqualGroup(tmp / "g", 2);
    const std::string tile = group.dir + "/1.tif";
    const std::string copy = tmp / "copy";
    fs::copy_file(tile, copy);
    struct stat st {};
    ASSERT_EQ(stat(tile.c_str(), &st), 0);
    const timespec times[2] = {st.st_atim, st.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, copy.c_str(), times, 0), 0);
    const RunResult run = RunTessaro({group.dir, "1"}, PauseAt("moved", [&](int n) {
        if (n == 1) fs::rename(copy, group.dir + "/.tessaro-deleting-0");
        return SIGCONT;
    }));
    EXPECT_EQ(run.out, ProgressLine(group.dir) + kSuccessLine);
    EXPECT_EQ(ListNames(group.dir), (Names{".tessaro-journal", "1.tif", "g.bmp"}));
}

// One journal record: the file's identity as the journal writes it, then its name.
std::string JournalRecord(const std::string& path, const std::string& name) {
    struct stat st {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0);
    std::string record;
    for (long long number : {(long long)st.st_dev, (long long)st.st_ino, (long long)st.st_size,
                             (long long)st.st_mtim.tv_sec, (long long)st.st_mtim.tv_nsec,
                             (long long)st.st_ctim.tv_sec, (long long)st.st_ctim.tv_nsec})
        record += std::to_string(number) + " ";
    return record + name + '\0';
}

TEST(TileSafety, AJournalAndMosaicPlantedByAnotherUserAreIgnored) {
    if (!CanSwitchUser()) GTEST_SKIP() << "needs root to act as another user";
    TempDir tmp;
    const EqualGroup group = MakeEqualGroup(tmp / "shared", 2);
    // Another user plants an empty mosaic and a well-formed journal that lists it and the tiles.
    WriteBytes(group.bmp, "");
    WriteBytes(group.dir + "/.tessaro-journal",
               std::string("tessaro-journal 2") + '\0' + JournalRecord(group.bmp, "mosaic") +
                   JournalRecord(group.dir + "/1.tif", "1.tif") + JournalRecord(group.dir + "/2.tif", "2.tif"));
    for (const char* name : {"/.tessaro-journal", "/shared.bmp"})
        ASSERT_EQ(chown((group.dir + name).c_str(), kNobody, kNobody), 0);
    const RunResult run = RunTessaro({group.dir, "1"});
    EXPECT_EQ(run.out, ProgressLine(group.dir) + kSuccessLine);
    ExpectOnlyMosaic(group);  // joined as new, and only then deleted
}

TEST(TileSafety, LinksAreFollowedOnlyWhenTheirOwnerCouldReachTheTarget) {
    if (!CanSwitchUser()) GTEST_SKIP() << "needs root to own links as another user";
    TempDir tmp;
    MakeEqualGroup(tmp / "private", 2);
    fs::permissions(tmp / "private/1.tif", fs::perms::owner_read | fs::perms::owner_write);
    const EqualGroup mine = MakeEqualGroup(tmp / "mine", 2, 30);
    const auto before = Snapshot(tmp / "private");
    fs::create_directories(tmp / "tree/g");
    WriteTile(tmp / "tree/g/1.tif", PatternTile(24, 16));
    const auto nobodysLink = [&](const std::string& target, const std::string& link) {
        fs::create_symlink(target, link);
        ASSERT_EQ(lchown(link.c_str(), kNobody, kNobody), 0);
    };
    nobodysLink(tmp / "private/1.tif", tmp / "tree/g/2.tif");  // a tile of root's
    nobodysLink(tmp / "private", tmp / "tree/h");               // a directory of root's
    fs::create_directory_symlink(tmp / "mine", tmp / "tree/mine");  // root's own link
    fs::create_directory_symlink("/proc", tmp / "tree/proc");
    const RunResult run = RunTessaro({tmp / "tree", "1"});
    EXPECT_EQ(run.out, ProgressLine(tmp / "tree/g", 1, 2) + CountLine(1) +
                           ProgressLine(tmp / "tree/mine", 2, 2) + kSuccessLine);
    EXPECT_EQ(Snapshot(tmp / "private"), before);
    ExpectOnlyMosaic(mine);
    // Nor is proc walked when it is the root itself.
    const RunResult proc = RunTessaro({"/proc"});
    EXPECT_EQ(proc.out, "");
    EXPECT_LT(proc.seconds, 5);
}

TEST(TileSafety, LongDirectoryNamesGetTheirJournalAndFinishedLog) {
    TempDir tmp;
    const EqualGroup group = MakeEqualGroup(tmp / std::string(240, 'd'), 2);
    const EqualGroup second = MakeEqualGroup(tmp / std::string(240, 'e'), 2);
    // Killed while the second group is held: the first group's lines are already out.
    const RunResult run = RunTessaro({tmp.path(), "1"}, PauseAt("pinned", [](int n) {
        return n == 2 ? SIGKILL : SIGCONT;
    }));
    EXPECT_EQ(run.out, ProgressLine(group.dir, 1, 2) + kSuccessLine);
    ExpectOnlyMosaic(group);
}

}  // namespace
}  // namespace tessaro
