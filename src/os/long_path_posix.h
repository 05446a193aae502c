// Opening a directory by a path of any length: the kernel takes at most PATH_MAX bytes at a time,
// so a longer path is opened piece by piece, each piece relative to the directory the last one
// reached.
#pragma once

#include <string_view>

#include "os/unique_fd.h"

namespace tessaro {

// Opens the directory at `path` (relative to fromFd unless it is absolute; AT_FDCWD for the
// working directory), following links in it as any open does. Empty with errno on failure.
UniqueFd OpenDirectoryPath(int fromFd, std::string_view path);

}  // namespace tessaro
