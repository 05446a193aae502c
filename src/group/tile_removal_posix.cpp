// Deleting tiles on Linux: a tile is moved to a private name, checked there, and only then
// unlinked; anything else is put back. The journal is written as an unnamed file and linked in.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "group/tile_journal.h"
#include "group/tile_removal_internal.h"
#include "os/pinned_dir.h"
#include "os/pinned_dir_posix.h"
#include "os/unique_fd.h"

namespace tessaro::removal_internal {

namespace {

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

}  // namespace

bool RemoveExactly(int dirFd, std::size_t index, const TileRecord& tile, bool decodedNow) {
    const std::optional<EntryStatus> before = StatEntry(dirFd, tile.name);
    if (!before) return errno == ENOENT;
    if (!Matches(before->id, tile.atName, decodedNow)) return false;
    // Moving it first leaves no moment in which a file renamed into place could be unlinked:
    // whatever is under the private name is checked before it goes.
    const std::string privateName = DeletingName(index);
    if (!RenameEntry(dirFd, tile.name, privateName, false)) return errno == ENOENT;
    PauseForTest("moved");
    const std::optional<EntryStatus> moved = StatEntry(dirFd, privateName);
    if (moved && SameContents(moved->id, tile.atName) && RemoveEntry(dirFd, privateName)) {
        PauseForTest("deleted");
        return true;
    }
    PutBack(dirFd, privateName, tile.name, index);
    return false;
}

// Writes the journal whole into an unnamed file, flushed, then gives it the journal's name in one
// step: directly when there is none yet, else by renaming it over the old one.
bool WriteJournalFile(int dirFd, const std::string& bytes) {
    UniqueFd fd(openat(dirFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600));
    bool createdNew = false;
    if (!fd) {
        fd = UniqueFd(openat(dirFd, kNewJournalName,
                             O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        createdNew = static_cast<bool>(fd);
    }
    bool ok = fd && WriteAll(fd.get(), bytes) && fsync(fd.get()) == 0;
    if (ok && !createdNew) {
        if (LinkUnnamedFile(fd.get(), dirFd, kJournalName)) return fd.close() && fsync(dirFd) == 0;
        ok = createdNew = LinkUnnamedFile(fd.get(), dirFd, kNewJournalName);
    }
    ok = ok && fd.close() && RenameEntry(dirFd, kNewJournalName, kJournalName, true);
    if (!ok && createdNew) RemoveEntry(dirFd, kNewJournalName);
    return ok && fsync(dirFd) == 0;
}

std::optional<std::string> ReadTrustedFile(int dirFd, const std::string& name) {
    UniqueFd fd(openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st;
    if (!fd || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() ||
        st.st_nlink != 1 || st.st_size > static_cast<off_t>(kMaxJournalBytes))
        return std::nullopt;
    std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = read(fd.get(), bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::nullopt;
        got += static_cast<std::size_t>(n);
    }
    return bytes;
}

}  // namespace tessaro::removal_internal
