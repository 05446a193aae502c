#include "os/file_id.h"

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

bool SameContents(const FileId& a, const FileId& b) {
    return a.dev == b.dev && a.ino == b.ino && a.size == b.size && a.mtimeSec == b.mtimeSec &&
           a.mtimeNsec == b.mtimeNsec;
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
