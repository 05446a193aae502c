#include "scan/tile_scan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <optional>
#include <set>
#include <utility>

#include "scan/path_text.h"
#include "os/file_id.h"
#include "os/unique_fd.h"

namespace tessaro {

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

enum class EntryKind { directory, regularFile, other };

struct Entry {
    std::string name;
    EntryKind kind;
    DirId id;  // for a directory: the one the entry (or the link it is) names
};

DirId DirIdOf(const struct stat& st) {
    return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

// What an entry is, following a link only where MayFollowLink allows; anything but a directory
// or regular file is "other".
EntryKind KindOf(int dirFd, const char* name, DirId* id) {
    struct stat st;
    if (fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return EntryKind::other;
    if (S_ISLNK(st.st_mode)) {
        struct stat link = st;
        if (fstatat(dirFd, name, &st, 0) != 0 || !MayFollowLink(link, st)) return EntryKind::other;
    }
    *id = DirIdOf(st);
    if (S_ISDIR(st.st_mode)) return EntryKind::directory;
    if (S_ISREG(st.st_mode)) return EntryKind::regularFile;
    return EntryKind::other;
}

// Opens a directory for listing; also reports its identity so it is entered only once.
DirHandle OpenDirectory(const std::string& path, DirId& id) {
    UniqueFd fd(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) return nullptr;
    struct stat st;
    if (fstat(fd.get(), &st) != 0) return nullptr;
    if (IsKernelFileSystem(fd.get())) {
        errno = 0;  // not an error: there is simply nothing to walk
        return nullptr;
    }
    id = DirIdOf(st);
    DirHandle dir(fdopendir(fd.get()));
    if (dir) fd.release();  // the DIR owns the descriptor now
    return dir;
}

// The entries of one directory that matter to the walk, sorted by name as bytes. The entry
// type from readdir saves a stat for plain files; directories are looked at to learn their
// identity, links and file systems that report no type to learn what they are. readError
// receives the errno of a listing cut short, 0 when it was read to the end.
std::vector<Entry> ListDirectory(DIR* dir, const std::string& suffix, int& readError) {
    std::vector<Entry> entries;
    const int dirFd = dirfd(dir);
    for (;;) {
        errno = 0;
        const dirent* item = readdir(dir);
        if (item == nullptr) break;
        std::string name = item->d_name;
        if (name == "." || name == "..") continue;
        EntryKind kind = EntryKind::other;
        DirId id;
        switch (item->d_type) {
            case DT_REG: kind = EntryKind::regularFile; break;
            case DT_DIR:
            case DT_LNK:
            case DT_UNKNOWN: kind = KindOf(dirFd, item->d_name, &id); break;
            default: break;
        }
        if (kind == EntryKind::regularFile && !EndsWithNoCase(name, suffix)) continue;
        if (kind == EntryKind::other) continue;
        entries.push_back({std::move(name), kind, id});
    }
    readError = errno;
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return entries;
}

// A directory still to walk, and the identity its entry had when its parent was listed.
struct Pending {
    std::string path;
    std::optional<DirId> expected;  // none for the root
};

}  // namespace

std::size_t FindTifFiles(const std::string& dir, const std::string& suffix, TileList& list,
                         ScannedDirs* dirs, int* rootError) {
    if (rootError) *rootError = dir.empty() ? ENOENT : 0;
    if (dir.empty()) return list.size();
    std::set<DirId> entered;
    // Directories still to walk; the top is walked next. A directory's subdirectories are
    // pushed in reverse order, so they come off the stack in byte order, each one's whole
    // subtree before its next sibling, as a recursive walk would.
    std::vector<Pending> pending{{dir, std::nullopt}};
    while (!pending.empty()) {
        Pending next = std::move(pending.back());
        pending.pop_back();
        DirId id;
        DirHandle handle = OpenDirectory(next.path, id);
        const bool isRoot = entered.empty();
        if (!handle && isRoot && rootError) *rootError = errno;
        // A directory swapped for another since its parent was listed is not walked.
        if (!handle || (next.expected && *next.expected != id) || !entered.insert(id).second)
            continue;
        int readError = 0;
        std::vector<Entry> entries = ListDirectory(handle.get(), suffix, readError);
        handle.reset();
        if (readError != 0 && isRoot && rootError) *rootError = readError;
        const std::size_t before = list.size();
        for (const Entry& entry : entries)
            if (entry.kind == EntryKind::regularFile) list.push_back(JoinPath(next.path, entry.name));
        if (dirs && list.size() > before) (*dirs)[next.path] = id;
        for (auto it = entries.rbegin(); it != entries.rend(); ++it)
            if (it->kind == EntryKind::directory)
                pending.push_back({JoinPath(next.path, it->name), it->id});
    }
    return list.size();
}

}  // namespace tessaro
