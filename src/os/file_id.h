// What tells one file from another, and which links a run may follow.
#pragma once

#include <sys/stat.h>

#include <compare>
#include <cstdint>

namespace tessaro {

// A file's identity and the state of its contents: the same device and inode, and the same size
// and modification time, mean the same file with the same bytes (as far as any writer that does
// not forge times can tell). The change time also moves on chmod, chown, link and rename.
struct FileId {
    uint64_t dev = 0;
    uint64_t ino = 0;
    int64_t size = 0;
    int64_t mtimeSec = 0;
    int64_t mtimeNsec = 0;
    int64_t ctimeSec = 0;
    int64_t ctimeNsec = 0;
    friend bool operator==(const FileId&, const FileId&) = default;
};

FileId FileIdOf(const struct stat& st);

// A directory's identity, as the walk saw it.
struct DirId {
    uint64_t dev = 0;
    uint64_t ino = 0;
    friend bool operator==(const DirId&, const DirId&) = default;
    friend auto operator<=>(const DirId&, const DirId&) = default;
};

// Same device, inode, size and modification time; the change time is not compared (a rename,
// for one, moves it).
bool SameContents(const FileId& a, const FileId& b);

// Whether a run may follow a symbolic link: only when that gives it no reach the link's owner
// lacks, that is when the link belongs to the user running tessaro, or to the owner of what it
// points to (the rule the kernel applies to links in sticky directories). `link` is the link's
// own status (lstat), `target` that of the file it names.
bool MayFollowLink(const struct stat& link, const struct stat& target);

// True for the kernel's proc and sysfs file systems, which are never walked: their trees reach
// every process's root directory and every device.
bool IsKernelFileSystem(int fd);

}  // namespace tessaro
