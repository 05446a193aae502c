// Linux-only steps inside a pinned directory.
#pragma once

#include <string>

namespace tessaro {

// Gives an unnamed file (O_TMPFILE) the name `name` in directory dirFd, in one step that fails if
// the name is taken. Linking by descriptor needs CAP_DAC_READ_SEARCH; the /proc link to the
// descriptor does the same for any user, and is tried when the first way fails for another
// reason than a taken name (or at once, without tryByDescriptor).
bool LinkUnnamedFile(int fd, int dirFd, const std::string& name, bool tryByDescriptor = true);

}  // namespace tessaro
