// Linux-only steps inside a pinned directory.
#pragma once

#include <string>

namespace tessaro {

// Gives an unnamed file (O_TMPFILE) the name `name` in directory dirFd, in one step that fails if
// the name is taken. Linking by descriptor needs CAP_DAC_READ_SEARCH; the /proc link to the
// descriptor does the same for any user, and is tried when the first way fails for another
// reason than a taken name.
bool LinkUnnamedFile(int fd, int dirFd, const std::string& name);

// The same, linking by descriptor only while `byDescriptor` holds; that way failing for another
// reason than a taken name clears it, so the next name tried goes straight through /proc.
bool LinkUnnamedFile(int fd, int dirFd, const std::string& name, bool& byDescriptor);

}  // namespace tessaro
