#include "os/file_id_posix.h"

#include <linux/magic.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace tessaro {

FileId FileIdOf(const struct stat& st) {
    return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
            static_cast<int64_t>(st.st_size), static_cast<int64_t>(st.st_mtim.tv_sec),
            static_cast<int64_t>(st.st_mtim.tv_nsec), static_cast<int64_t>(st.st_ctim.tv_sec),
            static_cast<int64_t>(st.st_ctim.tv_nsec)};
}

std::optional<FileId> FileIdOfFd(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0) return std::nullopt;
    return FileIdOf(st);
}

EntryStatus EntryStatusOf(const struct stat& st) {
    EntryType type = EntryType::other;
    if (S_ISREG(st.st_mode)) type = EntryType::regularFile;
    if (S_ISDIR(st.st_mode)) type = EntryType::directory;
    if (S_ISLNK(st.st_mode)) type = EntryType::link;
    return {type, FileIdOf(st), static_cast<uint64_t>(st.st_nlink), st.st_uid == geteuid()};
}

bool MayFollowLink(const struct stat& link, const struct stat& target) {
    return link.st_uid == geteuid() || link.st_uid == target.st_uid;
}

bool IsKernelFileSystem(int fd) {
    struct statfs fs;
    if (fstatfs(fd, &fs) != 0) return false;
    return fs.f_type == PROC_SUPER_MAGIC || fs.f_type == SYSFS_MAGIC;
}

}  // namespace tessaro
