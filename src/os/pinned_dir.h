// Acting inside one directory of a tree that other users may write: every step after the walk
// goes through a descriptor of the very directory the walk listed, never through path text again,
// so swapping a component of the path for a link at any moment changes nothing the run does.
#pragma once

#include <optional>
#include <string>

#include "os/file_id.h"
#include "os/unique_fd.h"

namespace tessaro {

// Opens the directory at `path` for reading; empty unless it is the very directory `expected`
// names (same device and inode).
UniqueFd OpenPinnedDir(const std::string& path, const DirId& expected);

// An exclusive lock on a directory (flock on its descriptor), held until destroyed: a second run
// over the same directory waits for the first, unless an interrupt comes meanwhile (then held()
// is false). Where the file system has no such locks the run goes on unlocked.
class DirLock {
public:
    explicit DirLock(int dirFd);
    ~DirLock();
    bool held() const { return locked_ || !interrupted_; }
    DirLock(const DirLock&) = delete;
    DirLock& operator=(const DirLock&) = delete;

private:
    int fd_;
    bool locked_ = false;
    bool interrupted_ = false;
};

// A tile opened for reading, and the identity its name had when it was opened: the file itself
// for a plain file (taken from the descriptor, so it is exactly what will be decoded), the link
// for a link. Deleting the tile later removes that name only while it still holds that identity.
struct OpenedTile {
    UniqueFd fd;
    FileId atName;
};

// Opens entry `name` of the directory as a regular file, without blocking on a FIFO. A link is
// followed only when MayFollowLink allows it. Empty on any failure.
std::optional<OpenedTile> OpenTileAt(int dirFd, const std::string& name);

// The status of entry `name` of the directory itself (a link is not followed).
std::optional<struct stat> StatEntry(int dirFd, const std::string& name);

// Gives an unnamed file (O_TMPFILE) the name `name` in directory dirFd, in one step that fails if
// the name is taken. Linking by descriptor needs CAP_DAC_READ_SEARCH; the /proc link to the
// descriptor does the same for any user, and is tried when the first way fails for another
// reason than a taken name (or at once, without tryByDescriptor).
bool LinkUnnamedFile(int fd, int dirFd, const std::string& name, bool tryByDescriptor = true);

// For the tests: when the environment variable TESSARO_TEST_PAUSE names `step`, the process
// stops itself (SIGSTOP) there, so a test can act at that exact point and then continue or kill
// it. Steps, in order: "pinned", "measured", "saved", "journaled", "moved", "deleted".
void PauseForTest(const char* step);

}  // namespace tessaro
