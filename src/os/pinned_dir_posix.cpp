#include "os/pinned_dir.h"
#include "os/long_path_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "os/file_id_posix.h"
#include "os/interrupt.h"
#include "os/pinned_dir_posix.h"
#include "os/test_hooks.h"

namespace tessaro {

// The kernel takes every name as it is; the path is opened piece by piece only when it is long.
UniqueFd OpenPinnedDir(const std::string& path, std::size_t, const DirId& expected) {
    UniqueFd fd = OpenDirectoryPath(AT_FDCWD, path);
    struct stat st;
    if (!fd || fstat(fd.get(), &st) != 0) return UniqueFd();
    if (DirId{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)} != expected)
        return UniqueFd();
    return fd;
}

namespace {

std::optional<struct stat> LstatEntry(int dirFd, const std::string& name) {
    struct stat st;
    if (fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return std::nullopt;
    return st;
}

}  // namespace

std::optional<EntryStatus> StatEntry(int dirFd, const std::string& name) {
    const std::optional<struct stat> st = LstatEntry(dirFd, name);
    if (!st) return std::nullopt;
    return EntryStatusOf(*st);
}

bool RemoveEntry(int dirFd, const std::string& name) {
    return unlinkat(dirFd, name.c_str(), 0) == 0;
}

bool RenameEntry(int dirFd, const std::string& from, const std::string& to, bool replace) {
    if (replace) return renameat(dirFd, from.c_str(), dirFd, to.c_str()) == 0;
    if (renameat2(dirFd, from.c_str(), dirFd, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // The file system cannot be told not to replace (FUSE, NFS and SMB mounts refuse the flag):
    // the new name is found free first, then taken. Only a file made under that very name in
    // between would be replaced.
    struct stat st;
    if (fstatat(dirFd, to.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return false;
    }
    return errno == ENOENT && renameat(dirFd, from.c_str(), dirFd, to.c_str()) == 0;
}

bool LinkEntry(int dirFd, const std::string& from, const std::string& to) {
    return linkat(dirFd, from.c_str(), dirFd, to.c_str(), 0) == 0;
}

bool SyncDirectory(int dirFd) {
    int result;
    do {
        result = fsync(dirFd);
    } while (result != 0 && errno == EINTR);
    return result == 0;
}

std::optional<OpenedTile> OpenTileAt(int dirFd, const std::string& name) {
    constexpr int kFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    OpenedTile tile;
    tile.fd = UniqueFd(openat(dirFd, name.c_str(), kFlags | O_NOFOLLOW));
    struct stat target;
    if (tile.fd) {
        if (fstat(tile.fd.get(), &target) != 0 || !S_ISREG(target.st_mode)) return std::nullopt;
        tile.atName = FileIdOf(target);
        return tile;
    }
    if (errno != ELOOP) return std::nullopt;
    // A link: its owner, taken after the open, must be allowed to reach what was opened. Whoever
    // swaps links under the name can only swap in links of their own, so what the descriptor
    // holds is always something the link's owner may reach.
    tile.fd = UniqueFd(openat(dirFd, name.c_str(), kFlags));
    if (!tile.fd || fstat(tile.fd.get(), &target) != 0 || !S_ISREG(target.st_mode))
        return std::nullopt;
    const std::optional<struct stat> link = LstatEntry(dirFd, name);
    if (!link || !S_ISLNK(link->st_mode) || !MayFollowLink(*link, target)) return std::nullopt;
    tile.atName = FileIdOf(*link);
    return tile;
}

bool LinkUnnamedFile(int fd, int dirFd, const std::string& name, bool& byDescriptor) {
    if (byDescriptor) {
        if (linkat(fd, "", dirFd, name.c_str(), AT_EMPTY_PATH) == 0) return true;
        if (errno == EEXIST) return false;
        byDescriptor = false;
    }
    const std::string procPath = "/proc/self/fd/" + std::to_string(fd);
    return linkat(AT_FDCWD, procPath.c_str(), dirFd, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

bool LinkUnnamedFile(int fd, int dirFd, const std::string& name) {
    bool byDescriptor = true;
    return LinkUnnamedFile(fd, dirFd, name, byDescriptor);
}

void PauseForTest(const char* step) {
    static const std::string_view wanted = TestSetting(TestSwitch::pauseAt);
    if (!wanted.empty() && wanted == step) raise(SIGSTOP);
}

}  // namespace tessaro
