#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "os/dir_listing.h"
#include "os/file_id_posix.h"
#include "os/long_path_posix.h"
#include "os/unique_fd.h"

namespace tessaro {

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};
using DirHandle = std::unique_ptr<DIR, DirCloser>;

}  // namespace

struct DirStreamState {
    DirHandle dir;
};

void DirStreamDeleter::operator()(DirStreamState* dir) const {
    std::default_delete<DirStreamState>()(dir);
}

namespace {

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

// An open directory descriptor as a DIR, which then owns it.
DirHandle DirOf(UniqueFd fd) {
    DirHandle dir(fdopendir(fd.get()));
    if (dir) fd.release();
    return dir;
}

}  // namespace

namespace {

DirStream StreamOf(UniqueFd fd, DirId& id, int& error) {
    struct stat st;
    DirHandle dir;
    if (fd && fstat(fd.get(), &st) == 0) {
        if (IsKernelFileSystem(fd.get())) {
            error = 0;  // not an error: there is simply nothing to walk
            return nullptr;
        }
        id = DirIdOf(st);
        dir = DirOf(std::move(fd));
    }
    if (!dir) {
        error = errno;
        return nullptr;
    }
    return DirStream(std::make_unique<DirStreamState>(DirStreamState{std::move(dir)}).release());
}

}  // namespace

DirStream OpenDirStream(const std::string& path, DirId& id, int& error) {
    return StreamOf(OpenDirectoryPath(AT_FDCWD, path), id, error);
}

DirStream OpenDirStreamAt(const DirStreamState& from, std::string_view relPath, DirId& id, int& error) {
    return StreamOf(OpenDirectoryPath(dirfd(from.dir.get()), relPath), id, error);
}

// The entry type from readdir saves a stat for plain files; directories are looked at to learn
// their identity, links and file systems that report no type to learn what they are.
int ReadDirStream(DirStreamState& stream, const EntryTaker& take) {
    DIR* const dir = stream.dir.get();
    const int dirFd = dirfd(dir);
    for (;;) {
        errno = 0;
        const dirent* item = readdir(dir);
        if (item == nullptr) break;
        std::string name = item->d_name;
        if (IsDotOrDotDot(name)) continue;
        EntryKind kind = EntryKind::other;
        DirId id;
        switch (item->d_type) {
            case DT_REG: kind = EntryKind::regularFile; break;
            case DT_DIR:
            case DT_LNK:
            case DT_UNKNOWN: kind = KindOf(dirFd, item->d_name, &id); break;
            default: break;
        }
        take(std::move(name), kind, id);
    }
    return errno;
}

}  // namespace tessaro
