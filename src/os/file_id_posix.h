// File status as the POSIX calls report it, for the Linux-only sources.
#pragma once

#include <sys/stat.h>

#include "os/file_id.h"

namespace tessaro {

FileId FileIdOf(const struct stat& st);

EntryStatus EntryStatusOf(const struct stat& st);

// Whether a run may follow a symbolic link: only when that gives it no reach the link's owner
// lacks, that is when the link belongs to the user running tessaro, or to the owner of what it
// points to (the rule the kernel applies to links in sticky directories). `link` is the link's
// own status (lstat), `target` that of the file it names.
bool MayFollowLink(const struct stat& link, const struct stat& target);

// True for the kernel's proc and sysfs file systems, which are never walked: their trees reach
// every process's root directory and every device.
bool IsKernelFileSystem(int fd);

}  // namespace tessaro
