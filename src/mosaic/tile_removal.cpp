#include "mosaic/tile_removal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>

#include "scan/path_text.h"
#include "scan/unique_fd.h"

namespace tessaro {

namespace {

// One journal entry: the file's identity and its name, so a file put back later under a listed
// name is not taken for the one that was saved. Entries end with a NUL (names may hold anything
// else).
std::string JournalEntry(const std::string& tilePath) {
    struct stat st;
    if (stat(tilePath.c_str(), &st) != 0) return {};
    std::string name = GetLastPart(tilePath).substr(1);
    return std::to_string(st.st_dev) + " " + std::to_string(st.st_ino) + " " +
           std::to_string(st.st_size) + " " + std::to_string(st.st_mtim.tv_sec) + " " +
           std::to_string(st.st_mtim.tv_nsec) + " " + name + '\0';
}

std::string ReadWholeFile(const std::string& path) {
    std::string bytes;
    UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) return bytes;
    char buffer[4096];
    for (;;) {
        ssize_t got = read(fd.get(), buffer, sizeof buffer);
        if (got > 0) {
            bytes.append(buffer, static_cast<std::size_t>(got));
            if (bytes.size() > (16u << 20)) return {};  // no journal of ours is that long
        } else if (got == 0 || errno != EINTR) {
            return got == 0 ? bytes : std::string();
        }
    }
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

bool SyncDirectory(const std::string& dir) {
    UniqueFd fd(open(dir.empty() ? "/" : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return fd && fsync(fd.get()) == 0;
}

bool WriteJournal(const TileGroup& group, const std::string& journal) {
    std::string entries;
    for (const std::string& tile : group) entries += JournalEntry(tile);
    UniqueFd fd(open(journal.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!fd) return false;
    if (!WriteAll(fd.get(), entries) || fsync(fd.get()) != 0 || !fd.close()) {
        unlink(journal.c_str());
        return false;
    }
    return SyncDirectory(GetParentDir(journal));
}

}  // namespace

std::string RemovalJournalPath(const std::string& mosaicPath) {
    return GetParentDir(mosaicPath) + "/." + GetLastPart(mosaicPath).substr(1) + ".tessaro-journal";
}

bool IsSavedGroup(const TileGroup& group, const std::string& mosaicPath) {
    struct stat mosaic;
    if (stat(mosaicPath.c_str(), &mosaic) != 0 || !S_ISREG(mosaic.st_mode)) return false;
    const std::string journal = ReadWholeFile(RemovalJournalPath(mosaicPath));
    if (journal.empty()) return false;
    for (const std::string& tile : group) {
        const std::string entry = JournalEntry(tile);
        if (entry.empty()) return false;
        // Entries are NUL-terminated, so matching at an entry's start is matching a whole entry.
        const std::size_t at = journal.find(entry);
        if (at == std::string::npos || (at != 0 && journal[at - 1] != '\0')) return false;
    }
    return true;
}

void DeleteTiles(const TileGroup& group, const std::string& mosaicPath) {
    const std::string journal = RemovalJournalPath(mosaicPath);
    if (!WriteJournal(group, journal)) return;
    bool allGone = true;
    for (const std::string& tile : group)
        if (unlink(tile.c_str()) != 0 && errno != ENOENT) allGone = false;
    if (allGone) unlink(journal.c_str());
}

}  // namespace tessaro
