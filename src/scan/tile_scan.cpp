#include "scan/tile_scan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <set>
#include <utility>

#include "scan/path_text.h"
#include "scan/unique_fd.h"

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
};

// What a path names, following links; anything but a directory or regular file is "other".
EntryKind KindOf(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return EntryKind::other;
    if (S_ISDIR(st.st_mode)) return EntryKind::directory;
    if (S_ISREG(st.st_mode)) return EntryKind::regularFile;
    return EntryKind::other;
}

// Opens a directory for listing; also reports its identity so it is entered only once.
DirHandle OpenDirectory(const std::string& path, std::pair<dev_t, ino_t>& id) {
    UniqueFd fd(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK));
    if (!fd) return nullptr;
    struct stat st;
    if (fstat(fd.get(), &st) != 0) return nullptr;
    id = {st.st_dev, st.st_ino};
    DirHandle dir(fdopendir(fd.get()));
    if (dir) fd.release();  // the DIR owns the descriptor now
    return dir;
}

// The entries of one directory that matter to the walk, sorted by name as bytes. The entry
// type from readdir saves a stat for plain files and directories; links and file systems that
// report no type are resolved with stat.
// readError receives the errno of a listing cut short, 0 when it was read to the end.
std::vector<Entry> ListDirectory(DIR* dir, const std::string& path, const std::string& suffix,
                                 int& readError) {
    std::vector<Entry> entries;
    for (;;) {
        errno = 0;
        const dirent* item = readdir(dir);
        if (item == nullptr) break;
        std::string name = item->d_name;
        if (name == "." || name == "..") continue;
        EntryKind kind;
        switch (item->d_type) {
            case DT_DIR: kind = EntryKind::directory; break;
            case DT_REG: kind = EntryKind::regularFile; break;
            case DT_LNK:
            case DT_UNKNOWN: kind = KindOf(JoinPath(path, name)); break;
            default: kind = EntryKind::other; break;
        }
        if (kind == EntryKind::regularFile && !EndsWithNoCase(name, suffix)) continue;
        if (kind == EntryKind::other) continue;
        entries.push_back({std::move(name), kind});
    }
    readError = errno;
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return entries;
}

}  // namespace

std::size_t FindTifFiles(const std::string& dir, const std::string& suffix, TileList& list,
                         int* rootError) {
    if (rootError) *rootError = dir.empty() ? ENOENT : 0;
    if (dir.empty()) return list.size();
    std::set<std::pair<dev_t, ino_t>> entered;
    // Directories still to walk; the top is walked next. A directory's subdirectories are
    // pushed in reverse order, so they come off the stack in byte order, each one's whole
    // subtree before its next sibling, as a recursive walk would.
    std::vector<std::string> pending{dir};
    while (!pending.empty()) {
        std::string path = std::move(pending.back());
        pending.pop_back();
        std::pair<dev_t, ino_t> id;
        DirHandle handle = OpenDirectory(path, id);
        const bool isRoot = entered.empty();
        if (!handle && isRoot && rootError) *rootError = errno;
        if (!handle || !entered.insert(id).second) continue;
        int readError = 0;
        std::vector<Entry> entries = ListDirectory(handle.get(), path, suffix, readError);
        handle.reset();
        if (readError != 0 && isRoot && rootError) *rootError = readError;
        for (const Entry& entry : entries)
            if (entry.kind == EntryKind::regularFile) list.push_back(JoinPath(path, entry.name));
        for (auto it = entries.rbegin(); it != entries.rend(); ++it)
            if (it->kind == EntryKind::directory) pending.push_back(JoinPath(path, it->name));
    }
    return list.size();
}

}  // namespace tessaro
